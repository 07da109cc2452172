#include "containers/uIntList.h"

#include "containers/uStringList.h"

#include <QFile>
#include <QIODevice>
#include <QSaveFile>
#include <QtEndian>

#include <limits>
#include <utility>

namespace {

const QString SListIndexError = QStringLiteral("List index out of bounds (%1)");
const QString SListCapacityError = QStringLiteral("List capacity out of bounds (%1)");
const QString SSortedListError = QStringLiteral("Operation not allowed on sorted list");

// Halving as an unsigned value, so a large sum cannot turn negative.
inline int Mid(int Low, int High) {
    return static_cast<int>((static_cast<unsigned>(Low) + static_cast<unsigned>(High)) >> 1);
}

} // namespace

TIntList::TIntList() = default;

TIntList::~TIntList() {
    FCount = 0;
    FCapacity = 0;
}

void TIntList::CheckIndex(int Index) const {
    if (Index < 0 || Index >= FCount)
        throw EIntListError(SListIndexError.arg(Index));
}

void TIntList::SetCapacity(int NewCapacity) {
    if (NewCapacity < FCount)
        throw EIntListError(SListCapacityError.arg(NewCapacity));
    if (NewCapacity == FCapacity)
        return;
    FList.resize(NewCapacity);
    FCapacity = NewCapacity;
}

void TIntList::Grow() {
    int Delta;
    if (FCapacity > 64)
        Delta = FCapacity / 4;
    else if (FCapacity > 8)
        Delta = 16;
    else
        Delta = 4;
    SetCapacity(FCapacity + Delta);
}

void TIntList::InsertAt(int Index, qint32 Value) {
    if (FCount == FCapacity)
        Grow();
    qint32* Data = FList.data();
    for (int I = FCount; I > Index; --I)
        Data[I] = Data[I - 1];
    Data[Index] = Value;
    ++FCount;
}

int TIntList::Add(qint32 Value) {
    if (FSorted && FCount > 0)
        return AddSorted(Value, FNoDuplicates);
    InsertAt(FCount, Value);
    return FCount - 1;
}

int TIntList::AddSorted(qint32 Value, bool Unique) {
    int Low = 0;
    int High = FCount - 1;
    while (High >= Low) {
        const int M = Mid(Low, High);
        const qint32 V = FList.at(M);
        if (V < Value) {
            Low = M + 1;
        } else {
            High = M - 1;
            if (V == Value) {
                if (Unique)
                    return -1;
                Low = M;
            }
        }
    }
    InsertAt(Low, Value);
    return Low;
}

void TIntList::Insert(int Index, qint32 Value) {
    if (FSorted)
        throw EIntListError(SSortedListError);
    if (Index < 0 || Index > FCount)
        throw EIntListError(SListIndexError.arg(Index));
    InsertAt(Index, Value);
}

void TIntList::Delete(int Index) {
    CheckIndex(Index);
    qint32* Data = FList.data();
    for (int I = Index; I < FCount - 1; ++I)
        Data[I] = Data[I + 1];
    --FCount;
}

void TIntList::Clear() {
    if (FCount == 0)
        return;
    FCount = 0;
    SetCapacity(0);
}

void TIntList::Exchange(int Index1, int Index2) {
    CheckIndex(Index1);
    CheckIndex(Index2);
    if (Index1 == Index2)
        return;
    FList.swapItemsAt(Index1, Index2);
    if (FOnExchangeItems)
        FOnExchangeItems(this, Index1, Index2);
}

int TIntList::IndexOf(qint32 Value) const {
    for (int I = 0; I < FCount; ++I)
        if (FList.at(I) == Value)
            return I;
    return -1;
}

int TIntList::Find(qint32 Value) const {
    return FSorted ? FindSorted(Value) : IndexOf(Value);
}

int TIntList::FindSorted(qint32 Value) const {
    int Low = 0;
    int High = FCount - 1;
    bool Found = false;
    while (High >= Low) {
        const int M = Mid(Low, High);
        const qint32 V = FList.at(M);
        if (V < Value) {
            Low = M + 1;
        } else {
            High = M - 1;
            Found = Found || V == Value;
        }
    }
    return Found ? Low : -1;
}

qint32 TIntList::GetValue(int Index) const {
    CheckIndex(Index);
    return FList.at(Index);
}

void TIntList::SetValue(int Index, qint32 Value) {
    CheckIndex(Index);
    FList[Index] = Value;
}

void TIntList::IncValue(int Index, qint32 N) {
    CheckIndex(Index);
    FList[Index] = static_cast<qint32>(static_cast<quint32>(FList.at(Index)) + static_cast<quint32>(N));
}

void TIntList::DecValue(int Index, qint32 N) {
    CheckIndex(Index);
    FList[Index] = static_cast<qint32>(static_cast<quint32>(FList.at(Index)) - static_cast<quint32>(N));
}

void TIntList::QuickSort(int L, int R) {
    qint32* V = FList.data();
    int I;
    do {
        I = L;
        int J = R;
        int P = Mid(L, R);
        do {
            while (V[I] < V[P])
                ++I;
            while (V[J] > V[P])
                --J;
            if (I <= J) {
                if (I != J)
                    std::swap(V[I], V[J]);
                // The pivot is followed by index, so it moves with the swap.
                if (P == I)
                    P = J;
                else if (P == J)
                    P = I;
                ++I;
                --J;
            }
        } while (I <= J);
        if (L < J)
            QuickSort(L, J);
        L = I;
    } while (I < R);
}

void TIntList::RemoveDuplicates() {
    if (FCount < 2)
        return;
    qint32* V = FList.data();
    int Kept = 1;
    for (int I = 1; I < FCount; ++I)
        if (V[I] != V[Kept - 1])
            V[Kept++] = V[I];
    FCount = Kept;
}

void TIntList::Sort() {
    if (FCount < 2)
        return;
    QuickSort(0, FCount - 1);
    if (FNoDuplicates)
        RemoveDuplicates();
}

void TIntList::SortRange(int L, int R) {
    CheckIndex(L);
    CheckIndex(R);
    if (L < R)
        QuickSort(L, R);
}

void TIntList::SetSorted(bool Value) {
    if (Value == FSorted)
        return;
    if (Value)
        Sort();
    FSorted = Value;
}

void TIntList::SetNoDuplicates(bool Value) {
    if (Value == FNoDuplicates)
        return;
    if (Value && FSorted && FCount > 1)
        RemoveDuplicates();
    FNoDuplicates = Value;
}

void TIntList::Assign(const TIntList& lst) {
    if (&lst == this)
        return;
    FList = lst.FList;
    FCount = lst.FCount;
    FCapacity = lst.FCapacity;
}

void TIntList::SaveToStream(QIODevice& Stream) const {
    if (FCount == 0)
        return;
    QByteArray Data(qsizetype(FCount) * 4, Qt::Uninitialized);
    qToLittleEndian<qint32>(FList.constData(), FCount, Data.data());
    if (Stream.write(Data) != Data.size())
        throw EFileError(QStringLiteral("Cannot write stream. %1").arg(Stream.errorString()));
}

void TIntList::LoadFromStream(QIODevice& Stream) {
    const qint64 Bytes = Stream.isSequential() ? Stream.bytesAvailable() : Stream.size() - Stream.pos();
    const qint64 Values = qMax<qint64>(0, Bytes / 4);
    if (Values > std::numeric_limits<int>::max() / 4)
        throw EIntListError(SListCapacityError.arg(Values));
    FCount = 0;
    SetCapacity(static_cast<int>(Values));
    if (Values == 0)
        return;
    const qint64 Read = Stream.read(reinterpret_cast<char*>(FList.data()), Values * 4);
    if (Read < 0)
        throw EFileError(QStringLiteral("Cannot read stream. %1").arg(Stream.errorString()));
    // A stream that delivers less than it announced yields only the values it
    // delivered, never leftovers of the storage.
    const int Got = static_cast<int>(Read / 4);
    qFromLittleEndian<qint32>(FList.constData(), Got, FList.data());
    FCount = Got;
}

void TIntList::SaveToFile(const QString& FileName) const {
    QSaveFile F(FileName);
    if (!F.open(QIODevice::WriteOnly))
        throw EFileError(QStringLiteral("Cannot create file \"%1\". %2").arg(FileName, F.errorString()));
    try {
        SaveToStream(F);
    } catch (const EFileError&) {
        const QString Msg = F.errorString();
        F.cancelWriting();
        throw EFileError(QStringLiteral("Cannot write file \"%1\". %2").arg(FileName, Msg));
    }
    if (!F.commit())
        throw EFileError(QStringLiteral("Cannot write file \"%1\". %2").arg(FileName, F.errorString()));
}

void TIntList::LoadFromFile(const QString& FileName) {
    QFile F(FileName);
    if (!F.open(QIODevice::ReadOnly))
        throw EFileError(QStringLiteral("Cannot open file \"%1\". %2").arg(FileName, F.errorString()));
    try {
        LoadFromStream(F);
    } catch (const EFileError&) {
        throw EFileError(QStringLiteral("Cannot read file \"%1\". %2").arg(FileName, F.errorString()));
    }
}
