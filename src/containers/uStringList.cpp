#include "containers/uStringList.h"

#include "containers/uFileUtils.h"


#include <algorithm>

namespace {

const QString SListIndexError = QStringLiteral("List index out of bounds (%1)");
const QString SSortedListError = QStringLiteral("Operation not allowed on sorted list");
const QString SDuplicateString = QStringLiteral("String list does not allow duplicates");

} // namespace

TStringList::TStringList() = default;

TStringList::~TStringList() {
    // Nobody may hear about a list that is going away.
    OnChanging = nullptr;
    OnChange = nullptr;
}

void TStringList::CheckIndex(int Index) const {
    if (Index < 0 || Index >= FItems.size())
        throw EStringListError(SListIndexError.arg(Index));
}

void TStringList::CheckNotSorted() const {
    if (FSorted)
        throw EStringListError(SSortedListError);
}

int TStringList::Add(const QString& S) {
    return AddObject(S, nullptr);
}

int TStringList::AddObject(const QString& S, TObject* AObject) {
    int Result = FItems.size();
    if (FSorted && Find(S, Result)) {
        switch (FDuplicates) {
        case TDuplicates::dupIgnore:
            return Result;
        case TDuplicates::dupError:
            throw EStringListError(SDuplicateString);
        case TDuplicates::dupAccept:
            break;
        }
    }
    InsertItem(Result, S, AObject);
    return Result;
}

void TStringList::Insert(int Index, const QString& S) {
    InsertObject(Index, S, nullptr);
}

void TStringList::InsertObject(int Index, const QString& S, TObject* AObject) {
    CheckNotSorted();
    if (Index < 0 || Index > FItems.size())
        throw EStringListError(SListIndexError.arg(Index));
    InsertItem(Index, S, AObject);
}

void TStringList::InsertItem(int Index, const QString& S, TObject* AObject) {
    Changing();
    FItems.insert(Index, TStringItem{S, AObject});
    Changed();
}

void TStringList::Delete(int Index) {
    CheckIndex(Index);
    Changing();
    FItems.removeAt(Index);
    Changed();
}

void TStringList::Clear() {
    if (FItems.isEmpty())
        return;
    Changing();
    FItems.clear();
    Changed();
}

void TStringList::Exchange(int Index1, int Index2) {
    CheckIndex(Index1);
    CheckIndex(Index2);
    CheckNotSorted();
    if (Index1 == Index2)
        return;
    Changing();
    FItems.swapItemsAt(Index1, Index2);
    Changed();
}

void TStringList::Move(int CurIndex, int NewIndex) {
    CheckIndex(CurIndex);
    CheckIndex(NewIndex);
    CheckNotSorted();
    if (CurIndex == NewIndex)
        return;
    // Moved in storage rather than by Delete + Insert: a list that owns its
    // objects would otherwise free the object on the way.
    Changing();
    FItems.move(CurIndex, NewIndex);
    Changed();
}

QString TStringList::Get(int Index) const {
    CheckIndex(Index);
    return FItems.at(Index).FString;
}

void TStringList::Put(int Index, const QString& S) {
    CheckNotSorted();
    CheckIndex(Index);
    Changing();
    FItems[Index].FString = S;
    Changed();
}

TObject* TStringList::GetObject(int Index) const {
    CheckIndex(Index);
    return FItems.at(Index).FObject;
}

void TStringList::PutObject(int Index, TObject* AObject) {
    CheckIndex(Index);
    Changing();
    FItems[Index].FObject = AObject;
    Changed();
}

int TStringList::CompareStrings(const QString& S1, const QString& S2) const {
    return QString::compare(S1, S2, FCaseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive);
}

bool TStringList::Find(const QString& S, int& Index) const {
    // Lands on the first of several equal lines, or on the insert position.
    bool Result = false;
    int L = 0;
    int H = FItems.size() - 1;
    while (L <= H) {
        const int I = (L + H) >> 1;
        const int C = CompareStrings(FItems.at(I).FString, S);
        if (C < 0) {
            L = I + 1;
        } else {
            H = I - 1;
            if (C == 0)
                Result = true;
        }
    }
    Index = L;
    return Result;
}

int TStringList::IndexOf(const QString& S) {
    if (FSorted) {
        int Index;
        return Find(S, Index) ? Index : -1;
    }
    for (int I = 0; I < FItems.size(); ++I)
        if (CompareStrings(FItems.at(I).FString, S) == 0)
            return I;
    return -1;
}

int TStringList::IndexOfName(const QString& Name) {
    for (int I = 0; I < FItems.size(); ++I) {
        const QString& S = FItems.at(I).FString;
        const int P = S.indexOf(FNameValueSeparator);
        if (P >= 0 && CompareStrings(S.left(P), Name) == 0)
            return I;
    }
    return -1;
}

int TStringList::IndexOfObject(TObject* AObject) const {
    for (int I = 0; I < FItems.size(); ++I)
        if (FItems.at(I).FObject == AObject)
            return I;
    return -1;
}

QString TStringList::Names(int Index) const {
    CheckIndex(Index);
    const QString& S = FItems.at(Index).FString;
    const int P = S.indexOf(FNameValueSeparator);
    return P >= 0 ? S.left(P) : QString();
}

QString TStringList::Values(const QString& Name) {
    const int I = IndexOfName(Name);
    return I >= 0 ? ValueFromIndex(I) : QString();
}

void TStringList::SetValues(const QString& Name, const QString& Value) {
    const int I = IndexOfName(Name);
    if (!Value.isEmpty()) {
        const QString Line = Name + FNameValueSeparator + Value;
        if (I < 0) {
            Add(Line);
        } else if (FSorted) {
            // A sorted list may not be written in place; the new line finds its own slot.
            BeginUpdate();
            try {
                Delete(I);
                Add(Line);
            } catch (...) {
                EndUpdate();
                throw;
            }
            EndUpdate();
        } else {
            Put(I, Line);
        }
    } else if (I >= 0) {
        Delete(I);
    }
}

QString TStringList::ValueFromIndex(int Index) const {
    CheckIndex(Index);
    const QString& S = FItems.at(Index).FString;
    const int P = S.indexOf(FNameValueSeparator);
    return P >= 0 ? S.mid(P + 1) : QString();
}

void TStringList::SetValueFromIndex(int Index, const QString& Value) {
    CheckIndex(Index);
    if (Value.isEmpty()) {
        Delete(Index);
        return;
    }
    const QString& S = FItems.at(Index).FString;
    const int P = S.indexOf(FNameValueSeparator);
    const QString Name = P >= 0 ? S.left(P) : S;
    Put(Index, Name + FNameValueSeparator + Value);
}

void TStringList::SetCaseSensitive(bool Value) {
    if (Value == FCaseSensitive)
        return;
    FCaseSensitive = Value;
    // The order depends on the comparison, so a sorted list sorts again.
    if (FSorted)
        Sort();
}

void TStringList::SetSorted(bool Value) {
    if (Value == FSorted)
        return;
    if (Value)
        Sort();
    FSorted = Value;
}

void TStringList::Sort() {
    if (FItems.size() < 2)
        return;
    Changing();
    std::stable_sort(FItems.begin(), FItems.end(), [this](const TStringItem& A, const TStringItem& B) {
        return CompareStrings(A.FString, B.FString) < 0;
    });
    Changed();
}

QString TStringList::Text() const {
    QString Result;
    qsizetype Size = 0;
    for (const TStringItem& Item : FItems)
        Size += Item.FString.size() + 2;
    Result.reserve(Size);
    for (const TStringItem& Item : FItems) {
        Result += Item.FString;
        Result += QLatin1String("\r\n");
    }
    return Result;
}

void TStringList::SetText(const QString& Value) {
    BeginUpdate();
    try {
        Clear();
        const qsizetype Len = Value.size();
        qsizetype Start = 0;
        qsizetype I = 0;
        while (I < Len) {
            const QChar C = Value.at(I);
            if (C == QLatin1Char('\r') || C == QLatin1Char('\n')) {
                Add(Value.mid(Start, I - Start));
                if (C == QLatin1Char('\r') && I + 1 < Len && Value.at(I + 1) == QLatin1Char('\n'))
                    ++I;
                Start = I + 1;
            }
            ++I;
        }
        if (Start < Len)
            Add(Value.mid(Start));
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TStringList::AddStrings(const TStringList& Strings) {
    // Copied first: Strings may be this list.
    const QList<TStringItem> Items = Strings.FItems;
    BeginUpdate();
    try {
        for (const TStringItem& Item : Items)
            AddObject(Item.FString, Item.FObject);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TStringList::AddStrings(const QStringList& Strings) {
    BeginUpdate();
    try {
        for (const QString& S : Strings)
            Add(S);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TStringList::Assign(const TStringList& Source) {
    if (&Source == this)
        return;
    BeginUpdate();
    try {
        Clear();
        SetNameValueSeparator(Source.FNameValueSeparator);
        AddStrings(Source);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

QStringList TStringList::ToQStringList() const {
    QStringList Result;
    Result.reserve(FItems.size());
    for (const TStringItem& Item : FItems)
        Result.append(Item.FString);
    return Result;
}

void TStringList::LoadFromFile(const QString& FileName, QStringConverter::Encoding DefaultEncoding) {
    SetText(DecodeTextBytes(ReadFileBytes(FileName), DefaultEncoding).Text);
}

void TStringList::SaveToFile(const QString& FileName, QStringConverter::Encoding Encoding, bool WriteBOM) const {
    WriteFileReplacing(FileName, EncodeTextBytes(Text(), Encoding, WriteBOM));
}

void TStringList::BeginUpdate() {
    if (FUpdateCount == 0)
        Changing();
    ++FUpdateCount;
}

void TStringList::EndUpdate() {
    if (FUpdateCount <= 0)
        return;
    --FUpdateCount;
    if (FUpdateCount == 0)
        Changed();
}

void TStringList::Changing() {
    if (FUpdateCount == 0 && OnChanging)
        OnChanging(this);
}

void TStringList::Changed() {
    if (FUpdateCount == 0 && OnChange)
        OnChange(this);
}
