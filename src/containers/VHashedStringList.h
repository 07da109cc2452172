#pragma once

#include "containers/uStringList.h"

#include <QtGlobal>
#include <memory>
#include <vector>

// One hash entry: a key and the index of its line.
struct TVHashItem {
    QString Key;
    qint32 Value = 0;
    // Kept with the key: its HashOf, so that a growing table need not hash
    // again, and a second, unrelated hash that tells most unequal keys apart
    // without reading their text. Keys that differ only in their last few
    // characters (Name1 ... Name999999) often share HashOf and so a bucket.
    quint32 Hash = 0;
    quint32 Check = 0;
};

// Buckets of entries, string key -> integer. Keys compare exactly; equal
// keys may be added more than once, and a look-up finds the one added last.
// The bucket count changes only through Resize.
//
// A bucket keeps its entries side by side, newest last, and is searched from
// the newest: the order of equal keys is the order of a chain with new
// entries at its head, while a long bucket is read as one block of memory
// rather than entry by entry from all over the heap.
class TVStringHash {
public:
    // Size is the bucket count; 0 raises EListError.
    explicit TVStringHash(quint32 Size);
    virtual ~TVStringHash();

    TVStringHash(const TVStringHash&) = delete;
    TVStringHash& operator=(const TVStringHash&) = delete;

    // Puts a new entry at the head of the key's bucket; never checks for an equal key.
    void Add(const QString& Key, qint32 Value);
    void Clear();
    // Removes the first entry with both this key and this value; false if there is none.
    bool Delete(const QString& Key, qint32 Value);
    // Every value above Value goes down (DecValues) or up (IncValues) by one.
    void DecValues(qint32 Value);
    void IncValues(qint32 Value);
    // The value of the first entry with an equal key in its bucket, or -1.
    qint32 ValueOf(const QString& Key) const;

    quint32 Size() const { return static_cast<quint32>(FBuckets.size()); }
    // Number of entries.
    qsizetype Count() const { return FCount; }
    // Files every entry again into NewSize buckets (0 raises EListError).
    // Entries of one key keep their order, so look-ups answer as before.
    void Resize(quint32 NewSize);

protected:
    virtual quint32 HashOf(const QString& Key) const;

private:
    using TBucket = std::vector<TVHashItem>;
    // Position in Bucket of the newest entry with this key (and Check), or -1.
    static qsizetype FindNewest(const TBucket& Bucket, const QString& Key, quint32 Check);
    quint32 BucketOf(const QString& Key) const;
    static quint32 CheckOf(const QString& Key);

    std::vector<TBucket> FBuckets;
    qsizetype FCount = 0;
};

// A string list whose IndexOf and IndexOfName go through two hash tables,
// built at the first look-up and, with AutoUpdateHash, kept current by
// appends, replacements and deletions; any other change drops them until the
// next look-up. After a rebuild a key held by several lines finds the highest
// index; after updates in place it finds the line whose entry came last.
//
// BucketsSize is where the tables start: they grow with the list, keeping
// at most two entries per bucket, so a list far bigger than planned still
// answers in near-constant time.
class TVHashedStringList : public TStringList {
public:
    explicit TVHashedStringList(quint32 BucketsSize = 256);
    ~TVHashedStringList() override;

    int IndexOf(const QString& S) override;
    int IndexOfName(const QString& Name) override;
    void UpdateValueHash();
    void UpdateNameHash();

    // The text after the name and its separator of the line named Name, or "".
    QString GetValue(const QString& Name);
    // Appends or replaces "Name<sep>Value"; an empty Value deletes the line
    // unless KeepEmptyValues is on.
    void SetValue(const QString& Name, const QString& Value);
    // The object of the line whose whole text is Name, or null.
    TObject* GetValueObject(const QString& Name);
    // Attaches AValue to the line Name (appending it when absent); null deletes the line.
    void SetValueObject(const QString& Name, TObject* AValue);

    void Clear() override;
    void Delete(int Index) override;
    void Put(int Index, const QString& S) override;
    void PutObject(int Index, TObject* AObject) override;
    void SetNameValueSeparator(QChar C) override;
    void SetCaseSensitive(bool Value) override;

    bool OwnsObjects() const { return FOwnsObjects; }
    void SetOwnsObjects(bool Value) { FOwnsObjects = Value; }
    bool AutoUpdateHash() const { return FAutoUpdateHash; }
    void SetAutoUpdateHash(bool Value) { FAutoUpdateHash = Value; }
    bool KeepEmptyValues() const { return FKeepEmptyValues; }
    void SetKeepEmptyValues(bool Value) { FKeepEmptyValues = Value; }

    quint32 BucketsSize() const { return FBucketsSize; }
    bool ValueHashValid() const { return FValueHashValid; }
    bool NameHashValid() const { return FNameHashValid; }

protected:
    void InsertItem(int Index, const QString& S, TObject* AObject) override;
    void Changed() override;

private:
    // The key a text is filed under: case-folded unless the list is
    // case-sensitive, so that a look-up finds what CompareStrings calls equal
    // and nothing else ("ss" and "ß" stay apart).
    QString HashKey(const QString& S) const;
    // A new table for the list as it is now, or the table grown when the
    // list has outgrown it.
    std::unique_ptr<TVStringHash> NewTable() const;
    void GrowIfFull(TVStringHash& Table) const;
    // The name part of a line; false for a line without the separator.
    bool NameOf(const QString& S, QString& Name) const;
    void FreeObjects();
    void InvalidateHashes();

    quint32 FBucketsSize;
    std::unique_ptr<TVStringHash> FValueHash;
    std::unique_ptr<TVStringHash> FNameHash;
    bool FValueHashValid = false;
    bool FNameHashValid = false;
    bool FOwnsObjects = false;
    bool FAutoUpdateHash = true;
    bool FKeepEmptyValues = false;
    // Counts every change and every rebuild. An update in place is applied
    // only when the base step caused exactly one change and nothing else (a
    // change handler that looked up or edited the list) touched the tables.
    quint64 FHashEpoch = 0;
};
