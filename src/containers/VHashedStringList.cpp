#include "containers/VHashedStringList.h"

#include <QHash>

#include <algorithm>

// ---------------------------------------------------------------------------
// TVStringHash

TVStringHash::TVStringHash(quint32 Size) {
    // A table without buckets would divide by zero at the first key.
    if (Size == 0)
        throw EListError(QStringLiteral("Hash table size out of bounds (%1)").arg(Size));
    FBuckets.resize(Size);
}

TVStringHash::~TVStringHash() {
    Clear();
}

quint32 TVStringHash::HashOf(const QString& Key) const {
    quint32 Result = 0;
    for (const QChar C : Key)
        Result = ((Result << 2) | (Result >> 30)) ^ C.unicode();
    return Result;
}

quint32 TVStringHash::BucketOf(const QString& Key) const {
    return HashOf(Key) % static_cast<quint32>(FBuckets.size());
}

quint32 TVStringHash::CheckOf(const QString& Key) {
    return quint32(qHash(Key, 0));
}

qsizetype TVStringHash::FindNewest(const TBucket& Bucket, const QString& Key, quint32 Check) {
    for (qsizetype I = qsizetype(Bucket.size()) - 1; I >= 0; --I) {
        const TVHashItem& Item = Bucket[size_t(I)];
        if (Item.Check == Check && Item.Key == Key)
            return I;
    }
    return -1;
}

void TVStringHash::Add(const QString& Key, qint32 Value) {
    const quint32 Hash = HashOf(Key);
    TBucket& Bucket = FBuckets[Hash % static_cast<quint32>(FBuckets.size())];
    Bucket.push_back(TVHashItem{Key, Value, Hash, CheckOf(Key)});
    ++FCount;
}

void TVStringHash::Resize(quint32 NewSize) {
    if (NewSize == 0)
        throw EListError(QStringLiteral("Hash table size out of bounds (%1)").arg(NewSize));
    if (NewSize == FBuckets.size())
        return;
    std::vector<TBucket> Old(NewSize);
    Old.swap(FBuckets);
    // Oldest first into the new buckets: equal keys share a bucket before and
    // after, so their order is kept.
    for (TBucket& Bucket : Old)
        for (TVHashItem& Item : Bucket)
            FBuckets[Item.Hash % NewSize].push_back(std::move(Item));
}

void TVStringHash::Clear() {
    for (TBucket& Bucket : FBuckets)
        TBucket().swap(Bucket);
    FCount = 0;
}

bool TVStringHash::Delete(const QString& Key, qint32 Value) {
    TBucket& Bucket = FBuckets[BucketOf(Key)];
    const quint32 Check = CheckOf(Key);
    for (qsizetype I = FindNewest(Bucket, Key, Check); I >= 0; --I) {
        const TVHashItem& Item = Bucket[size_t(I)];
        if (Item.Value == Value && Item.Check == Check && Item.Key == Key) {
            Bucket.erase(Bucket.begin() + I);
            --FCount;
            return true;
        }
    }
    return false;
}

void TVStringHash::DecValues(qint32 Value) {
    for (TBucket& Bucket : FBuckets)
        for (TVHashItem& Item : Bucket)
            if (Item.Value > Value)
                --Item.Value;
}

void TVStringHash::IncValues(qint32 Value) {
    for (TBucket& Bucket : FBuckets)
        for (TVHashItem& Item : Bucket)
            if (Item.Value > Value)
                ++Item.Value;
}

qint32 TVStringHash::ValueOf(const QString& Key) const {
    const TBucket& Bucket = FBuckets[BucketOf(Key)];
    const qsizetype I = FindNewest(Bucket, Key, CheckOf(Key));
    return I >= 0 ? Bucket[size_t(I)].Value : -1;
}

// ---------------------------------------------------------------------------
// TVHashedStringList

TVHashedStringList::TVHashedStringList(quint32 BucketsSize) : FBucketsSize(BucketsSize) {
    // Checked here already: the tables are made only at the first look-up.
    if (BucketsSize == 0)
        throw EListError(QStringLiteral("Hash table size out of bounds (%1)").arg(BucketsSize));
}

TVHashedStringList::~TVHashedStringList() {
    OnChanging = nullptr;
    OnChange = nullptr;
    if (FOwnsObjects)
        FreeObjects();
}

QString TVHashedStringList::HashKey(const QString& S) const {
    // The same simple, per-character folding as QString::compare without
    // case: upper-casing would turn "ß" into "SS" and file it with "ss",
    // which the list's comparison keeps apart.
    if (CaseSensitive())
        return S;
    // ASCII, the usual key, folds by its capitals alone; the text is shared
    // when it has none.
    const char16_t* P = reinterpret_cast<const char16_t*>(S.constData());
    const qsizetype Len = S.size();
    qsizetype I = 0;
    while (I < Len && P[I] < 0x80 && !(P[I] >= u'A' && P[I] <= u'Z'))
        ++I;
    if (I == Len)
        return S;
    for (qsizetype J = I; J < Len; ++J)
        if (P[J] >= 0x80)
            return S.toCaseFolded();
    QString Key = S;
    char16_t* D = reinterpret_cast<char16_t*>(Key.data());
    for (; I < Len; ++I)
        if (D[I] >= u'A' && D[I] <= u'Z')
            D[I] = char16_t(D[I] + (u'a' - u'A'));
    return Key;
}

namespace {

// Entries per bucket at which a table grows, and by how much.
constexpr qsizetype MaxLoad = 2;
constexpr quint32 GrowthFactor = 4;
constexpr quint32 MaxBuckets = 1u << 30;

}  // namespace

std::unique_ptr<TVStringHash> TVHashedStringList::NewTable() const {
    quint64 Size = FBucketsSize;
    while (Size < MaxBuckets && qsizetype(Size) * MaxLoad < FItems.size())
        Size = std::min<quint64>(Size * GrowthFactor, MaxBuckets);
    return std::make_unique<TVStringHash>(quint32(Size));
}

void TVHashedStringList::GrowIfFull(TVStringHash& Table) const {
    const quint32 Size = Table.Size();
    if (Size < MaxBuckets && Table.Count() > qsizetype(Size) * MaxLoad)
        Table.Resize(std::min<quint64>(quint64(Size) * GrowthFactor, MaxBuckets));
}

bool TVHashedStringList::NameOf(const QString& S, QString& Name) const {
    const int P = S.indexOf(NameValueSeparator());
    if (P < 0)
        return false;
    Name = S.left(P);
    return true;
}

void TVHashedStringList::FreeObjects() {
    // Detached before they are freed, so nothing can reach a freed object
    // through the list, even if a destructor throws.
    std::vector<TObject*> Objects;
    for (TStringItem& Item : FItems) {
        if (Item.FObject) {
            Objects.push_back(Item.FObject);
            Item.FObject = nullptr;
        }
    }
    // One object on several lines is still freed once.
    std::sort(Objects.begin(), Objects.end());
    Objects.erase(std::unique(Objects.begin(), Objects.end()), Objects.end());
    for (TObject* O : Objects)
        delete O;
}

void TVHashedStringList::InvalidateHashes() {
    FValueHashValid = false;
    FNameHashValid = false;
    ++FHashEpoch;
}

void TVHashedStringList::UpdateValueHash() {
    if (FValueHashValid)
        return;
    FValueHash = NewTable();
    for (int I = 0; I < FItems.size(); ++I)
        FValueHash->Add(HashKey(FItems.at(I).FString), I);
    FValueHashValid = true;
    ++FHashEpoch;
}

void TVHashedStringList::UpdateNameHash() {
    if (FNameHashValid)
        return;
    FNameHash = NewTable();
    QString Name;
    for (int I = 0; I < FItems.size(); ++I)
        if (NameOf(FItems.at(I).FString, Name))
            FNameHash->Add(HashKey(Name), I);
    FNameHashValid = true;
    ++FHashEpoch;
}

int TVHashedStringList::IndexOf(const QString& S) {
    UpdateValueHash();
    return FValueHash->ValueOf(HashKey(S));
}

int TVHashedStringList::IndexOfName(const QString& Name) {
    UpdateNameHash();
    return FNameHash->ValueOf(HashKey(Name));
}

QString TVHashedStringList::GetValue(const QString& Name) {
    const int I = IndexOfName(Name);
    if (I < 0)
        return QString();
    // Cut at the line's own separator rather than at Name's length: case
    // folding may match a name of another length ("ß" and "SS").
    const QString& S = FItems.at(I).FString;
    return S.mid(S.indexOf(NameValueSeparator()) + 1);
}

void TVHashedStringList::SetValue(const QString& Name, const QString& Value) {
    const int I = IndexOfName(Name);
    if (!Value.isEmpty() || FKeepEmptyValues) {
        const QString Line = Name + NameValueSeparator() + Value;
        if (I < 0)
            Add(Line);
        else
            Put(I, Line);
    } else if (I >= 0) {
        Delete(I);
    }
}

TObject* TVHashedStringList::GetValueObject(const QString& Name) {
    const int I = IndexOf(Name);
    return I >= 0 ? FItems.at(I).FObject : nullptr;
}

void TVHashedStringList::SetValueObject(const QString& Name, TObject* AValue) {
    const int I = IndexOf(Name);
    if (AValue) {
        if (I < 0)
            AddObject(Name, AValue);
        else
            PutObject(I, AValue);
    } else if (I >= 0) {
        Delete(I);
    }
}

void TVHashedStringList::Clear() {
    if (FOwnsObjects)
        FreeObjects();
    TStringList::Clear();
}

void TVHashedStringList::InsertItem(int Index, const QString& S, TObject* AObject) {
    if (!FAutoUpdateHash || Index != FItems.size()) {
        TStringList::InsertItem(Index, S, AObject);
        return;
    }
    const bool ValueValid = FValueHashValid;
    const bool NameValid = FNameHashValid;
    const quint64 Epoch = FHashEpoch;
    TStringList::InsertItem(Index, S, AObject);
    if (FHashEpoch != Epoch + 1)
        return;
    if (ValueValid) {
        FValueHash->Add(HashKey(S), Index);
        GrowIfFull(*FValueHash);
        FValueHashValid = true;
    }
    if (NameValid) {
        QString Name;
        if (NameOf(S, Name)) {
            FNameHash->Add(HashKey(Name), Index);
            GrowIfFull(*FNameHash);
        }
        FNameHashValid = true;
    }
}

void TVHashedStringList::Put(int Index, const QString& S) {
    CheckIndex(Index);
    const QString Old = FItems.at(Index).FString;
    if (S == Old)
        return;
    if (!FAutoUpdateHash) {
        TStringList::Put(Index, S);
        return;
    }
    const bool ValueValid = FValueHashValid;
    const bool NameValid = FNameHashValid;
    const quint64 Epoch = FHashEpoch;
    TStringList::Put(Index, S);
    if (FHashEpoch != Epoch + 1)
        return;
    if (ValueValid) {
        FValueHash->Delete(HashKey(Old), Index);
        FValueHash->Add(HashKey(S), Index);
        FValueHashValid = true;
    }
    if (NameValid) {
        QString Name;
        if (NameOf(Old, Name))
            FNameHash->Delete(HashKey(Name), Index);
        if (NameOf(S, Name))
            FNameHash->Add(HashKey(Name), Index);
        FNameHashValid = true;
    }
}

void TVHashedStringList::Delete(int Index) {
    CheckIndex(Index);
    if (FOwnsObjects) {
        // Freed here rather than through PutObject: the deletion that follows
        // announces the change, and the tables stay eligible for an update in place.
        TObject* O = FItems.at(Index).FObject;
        FItems[Index].FObject = nullptr;
        delete O;
    }
    if (!FAutoUpdateHash) {
        TStringList::Delete(Index);
        return;
    }
    const QString Old = FItems.at(Index).FString;
    const bool ValueValid = FValueHashValid;
    const bool NameValid = FNameHashValid;
    const quint64 Epoch = FHashEpoch;
    TStringList::Delete(Index);
    if (FHashEpoch != Epoch + 1)
        return;
    if (ValueValid) {
        FValueHash->Delete(HashKey(Old), Index);
        FValueHash->DecValues(Index);
        FValueHashValid = true;
    }
    if (NameValid) {
        QString Name;
        if (NameOf(Old, Name))
            FNameHash->Delete(HashKey(Name), Index);
        // Every later line moves down, named or not.
        FNameHash->DecValues(Index);
        FNameHashValid = true;
    }
}

void TVHashedStringList::PutObject(int Index, TObject* AObject) {
    CheckIndex(Index);
    TObject* Old = FItems.at(Index).FObject;
    TStringList::PutObject(Index, AObject);
    // Storing the object a line already holds must not free it: the line
    // would be left pointing at freed memory.
    if (FOwnsObjects && Old != AObject)
        delete Old;
}

void TVHashedStringList::SetNameValueSeparator(QChar C) {
    if (C == NameValueSeparator())
        return;
    TStringList::SetNameValueSeparator(C);
    InvalidateHashes();
}

void TVHashedStringList::SetCaseSensitive(bool Value) {
    if (Value == CaseSensitive())
        return;
    TStringList::SetCaseSensitive(Value);
    // Keys were filed folded or unfolded; they must be filed again.
    InvalidateHashes();
}

void TVHashedStringList::Changed() {
    // Dropped before the handlers run, so a handler that looks something up
    // gets an answer for the list as it is now, not as it was.
    InvalidateHashes();
    TStringList::Changed();
}
