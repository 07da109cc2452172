#pragma once

#include "containers/uException.h"

#include <QList>
#include <QString>
#include <QtGlobal>
#include <functional>

class QIODevice;
class TIntList;

using TIntArray = QList<qint32>;
// Raised after Exchange has swapped two values.
using TExchangeItemsEvent = std::function<void(TIntList* Sender, int Index1, int Index2)>;

VT_DECLARE_EXCEPTION(EIntListError, EListError)

// A growable array of 32-bit integers. In sorted mode Add keeps the values
// ascending (each value at most once with NoDuplicates) and Insert is refused;
// SetValue, IncValue, DecValue and Exchange never re-sort. Every index is
// checked before anything changes.
class TIntList : public TObject {
public:
    TIntList();
    ~TIntList() override;

    TIntList(const TIntList&) = delete;
    TIntList& operator=(const TIntList&) = delete;

    int Count() const { return FCount; }
    int Capacity() const { return FCapacity; }
    // Below Count raises "List capacity out of bounds (%d)".
    void SetCapacity(int NewCapacity);

    // Sorted with values present: AddSorted(Value, NoDuplicates); else appends.
    int Add(qint32 Value);
    // Inserts at the sorted position; -1 and nothing inserted when Unique and
    // an equal value is met.
    int AddSorted(qint32 Value, bool Unique);
    void Insert(int Index, qint32 Value);
    void Delete(int Index);
    // A non-empty list also releases its storage; an empty one keeps it.
    void Clear();
    void Exchange(int Index1, int Index2);

    // Linear, from the start, in every mode.
    int IndexOf(qint32 Value) const;
    // FindSorted in sorted mode, else IndexOf.
    int Find(qint32 Value) const;
    // Binary search for the first index holding Value; only meaningful on ascending values.
    int FindSorted(qint32 Value) const;

    qint32 GetValue(int Index) const;
    void SetValue(int Index, qint32 Value);
    qint32 operator[](int Index) const { return GetValue(Index); }
    // Add or subtract N with 32-bit wrap-around.
    void IncValue(int Index, qint32 N = 1);
    void DecValue(int Index, qint32 N = 1);

    // Ascending, then duplicates removed when NoDuplicates is set.
    void Sort();
    // Sorts L..R inclusive; never removes duplicates.
    void SortRange(int L, int R);

    bool Sorted() const { return FSorted; }
    void SetSorted(bool Value);
    bool NoDuplicates() const { return FNoDuplicates; }
    void SetNoDuplicates(bool Value);

    const TExchangeItemsEvent& OnExchangeItems() const { return FOnExchangeItems; }
    void SetOnExchangeItems(const TExchangeItemsEvent& Value) { FOnExchangeItems = Value; }

    // Copies count, capacity and values; not the modes or the event.
    void Assign(const TIntList& lst);

    // Raw form: Count values, 4 bytes each, little-endian, no header.
    void SaveToStream(QIODevice& Stream) const;
    // Reads every whole value from the current position to the end; trailing
    // bytes (fewer than 4) stay unread. Loaded values are not re-sorted.
    void LoadFromStream(QIODevice& Stream);
    // Saving replaces the file through a temporary one beside it.
    void SaveToFile(const QString& FileName) const;
    void LoadFromFile(const QString& FileName);

private:
    void CheckIndex(int Index) const;
    void Grow();
    void InsertAt(int Index, qint32 Value);
    void QuickSort(int L, int R);
    void RemoveDuplicates();

    TIntArray FList;
    int FCount = 0;
    int FCapacity = 0;
    bool FSorted = false;
    bool FNoDuplicates = false;
    TExchangeItemsEvent FOnExchangeItems;
};
