#include "containers/uIntList.h"
#include "containers/uStringList.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

std::vector<qint32> Values(const TIntList& L) {
    std::vector<qint32> R;
    for (int I = 0; I < L.Count(); ++I)
        R.push_back(L[I]);
    return R;
}

QString ErrorOf(const std::function<void()>& F) {
    try {
        F();
    } catch (const EIntListError& E) {
        return E.Message();
    }
    return QStringLiteral("<no error>");
}

} // namespace

TEST(IntListTest, GrowthSteps) {
    TIntList L;
    std::vector<int> Seen;
    for (int I = 0; I < 95; ++I) {
        L.Add(I);
        if (Seen.empty() || Seen.back() != L.Capacity())
            Seen.push_back(L.Capacity());
    }
    EXPECT_EQ(Seen, std::vector<int>({4, 8, 12, 28, 44, 60, 76, 95}));
    L.Add(95);
    EXPECT_EQ(L.Capacity(), 118);
    EXPECT_EQ(L.Count(), 96);
    EXPECT_EQ(L[95], 95);

    // Deleting keeps the capacity.
    L.Delete(0);
    EXPECT_EQ(L.Capacity(), 118);
    EXPECT_EQ(L[0], 1);
}

TEST(IntListTest, CapacityAndClear) {
    TIntList L;
    L.SetCapacity(10);
    EXPECT_EQ(L.Capacity(), 10);
    L.Clear();
    EXPECT_EQ(L.Capacity(), 10);  // an empty list keeps its storage
    L.Add(1);
    L.Add(2);
    EXPECT_EQ(ErrorOf([&] { L.SetCapacity(1); }), "List capacity out of bounds (1)");
    EXPECT_EQ(L.Capacity(), 10);
    L.SetCapacity(2);
    EXPECT_EQ(L.Capacity(), 2);
    L.Clear();
    EXPECT_EQ(L.Count(), 0);
    EXPECT_EQ(L.Capacity(), 0);
    EXPECT_EQ(ErrorOf([&] { L.SetCapacity(-1); }), "List capacity out of bounds (-1)");
}

TEST(IntListTest, IndexErrorsLeaveListUnchanged) {
    TIntList L;
    L.Add(10);
    L.Add(20);
    L.Add(30);
    EXPECT_EQ(ErrorOf([&] { L.GetValue(3); }), "List index out of bounds (3)");
    EXPECT_EQ(ErrorOf([&] { L.SetValue(-1, 0); }), "List index out of bounds (-1)");
    EXPECT_EQ(ErrorOf([&] { L.Delete(3); }), "List index out of bounds (3)");
    EXPECT_EQ(ErrorOf([&] { L.Insert(4, 0); }), "List index out of bounds (4)");
    EXPECT_EQ(ErrorOf([&] { L.IncValue(7, 1); }), "List index out of bounds (7)");
    EXPECT_EQ(ErrorOf([&] { L.DecValue(-3, 1); }), "List index out of bounds (-3)");
    EXPECT_EQ(ErrorOf([&] { L.Exchange(0, 3); }), "List index out of bounds (3)");
    EXPECT_EQ(ErrorOf([&] { L.SortRange(0, 3); }), "List index out of bounds (3)");
    EXPECT_EQ(Values(L), std::vector<qint32>({10, 20, 30}));

    L.Insert(3, 40);
    L.Insert(0, 5);
    L.Insert(2, 15);
    EXPECT_EQ(Values(L), std::vector<qint32>({5, 10, 15, 20, 30, 40}));
    L.Delete(5);
    L.Delete(0);
    EXPECT_EQ(Values(L), std::vector<qint32>({10, 15, 20, 30}));
}

TEST(IntListTest, ExchangeNotifiesOnlyRealSwaps) {
    TIntList L;
    for (int V : {1, 2, 3})
        L.Add(V);
    std::vector<std::pair<int, int>> Calls;
    L.SetOnExchangeItems([&](TIntList* Sender, int A, int B) {
        EXPECT_EQ(Sender, &L);
        Calls.emplace_back(A, B);
    });
    L.Exchange(2, 0);
    EXPECT_EQ(Values(L), std::vector<qint32>({3, 2, 1}));
    L.Exchange(1, 1);
    EXPECT_THROW(L.Exchange(1, L.Count()), EIntListError);
    EXPECT_EQ(Calls, (std::vector<std::pair<int, int>>{{2, 0}}));
    // Sorting swaps values without notifying.
    L.Sort();
    EXPECT_EQ(Calls.size(), 1u);
    EXPECT_EQ(Values(L), std::vector<qint32>({1, 2, 3}));
}

TEST(IntListTest, SortedAddsAndSearches) {
    TIntList U;
    U.SetSorted(true);
    U.SetNoDuplicates(true);
    EXPECT_EQ(U.Add(5), 0);
    EXPECT_EQ(U.Add(3), 0);
    EXPECT_EQ(U.Add(5), -1);
    EXPECT_EQ(U.Add(1), 0);
    EXPECT_EQ(Values(U), std::vector<qint32>({1, 3, 5}));
    EXPECT_EQ(ErrorOf([&] { U.Insert(0, 0); }), "Operation not allowed on sorted list");

    TIntList D;
    D.SetSorted(true);
    D.Add(2);
    D.Add(2);
    D.Add(2);
    EXPECT_EQ(D.Count(), 3);
    EXPECT_EQ(D.FindSorted(2), 0);
    D.Add(1);
    D.Add(3);
    D.Add(2);
    EXPECT_EQ(Values(D), std::vector<qint32>({1, 2, 2, 2, 2, 3}));
    EXPECT_EQ(D.FindSorted(2), 1);
    EXPECT_EQ(D.FindSorted(3), 5);
    EXPECT_EQ(D.FindSorted(0), -1);
    EXPECT_EQ(D.FindSorted(4), -1);
    EXPECT_EQ(D.Find(3), 5);

    // AddSorted with Unique refuses an equal value; extreme values sort too.
    EXPECT_EQ(D.AddSorted(2, true), -1);
    EXPECT_EQ(D.AddSorted(INT32_MIN, true), 0);
    const int Last = D.AddSorted(INT32_MAX, false);
    EXPECT_EQ(Last, D.Count() - 1);
    EXPECT_EQ(D[Last], INT32_MAX);

    // IndexOf stays linear, so it works on unsorted values as well.
    TIntList N;
    for (int V : {9, 4, 7, 4})
        N.Add(V);
    EXPECT_EQ(N.IndexOf(4), 1);
    EXPECT_EQ(N.Find(7), 2);
    EXPECT_EQ(N.IndexOf(8), -1);
}

TEST(IntListTest, SwitchingModes) {
    TIntList L;
    for (int V : {4, 1, 4, 3, 1})
        L.Add(V);
    L.SetNoDuplicates(true);  // not sorted yet: nothing removed
    EXPECT_EQ(L.Count(), 5);
    L.SetNoDuplicates(false);
    L.SetSorted(true);
    EXPECT_EQ(Values(L), std::vector<qint32>({1, 1, 3, 4, 4}));
    L.SetNoDuplicates(true);
    EXPECT_EQ(Values(L), std::vector<qint32>({1, 3, 4}));
    EXPECT_EQ(L.Capacity(), 8);
    L.SetNoDuplicates(false);
    L.SetSorted(false);
    EXPECT_EQ(Values(L), std::vector<qint32>({1, 3, 4}));

    // Value edits never re-sort, and wrap around at 32 bits.
    L.SetSorted(true);
    L.SetValue(0, 9);
    L.IncValue(1, INT32_MAX);
    L.DecValue(2, 5);
    EXPECT_EQ(Values(L), std::vector<qint32>({9, INT32_MIN + 2, -1}));

    // Sorting on with NoDuplicates already set removes duplicates as well.
    TIntList M;
    for (int V : {2, 2, 1})
        M.Add(V);
    M.SetNoDuplicates(true);
    M.SetSorted(true);
    EXPECT_EQ(Values(M), std::vector<qint32>({1, 2}));
}

TEST(IntListTest, QuickSortMatchesReference) {
    std::mt19937 Rng(1234);
    for (int Round = 0; Round < 200; ++Round) {
        const int N = static_cast<int>(Rng() % 60) + 1;
        const int Span = Round % 3 == 0 ? 4 : 1000;  // many equal values in some rounds
        TIntList L;
        std::vector<qint32> Ref;
        for (int I = 0; I < N; ++I) {
            const qint32 V = static_cast<qint32>(Rng() % Span) - Span / 2;
            L.Add(V);
            Ref.push_back(V);
        }
        if (Round % 2 == 0) {
            L.Sort();
            std::sort(Ref.begin(), Ref.end());
        } else {
            const int A = static_cast<int>(Rng() % N);
            const int B = static_cast<int>(Rng() % N);
            L.SortRange(A, B);
            if (A < B)
                std::sort(Ref.begin() + A, Ref.begin() + B + 1);
        }
        ASSERT_EQ(Values(L), Ref) << "round " << Round;
    }

    TIntList Dup;
    for (int V : {3, 1, 3, 3, 2, 1})
        Dup.Add(V);
    Dup.SetNoDuplicates(true);
    Dup.SortRange(0, 5);  // a range sort never drops values
    EXPECT_EQ(Values(Dup), std::vector<qint32>({1, 1, 2, 3, 3, 3}));
    Dup.Sort();
    EXPECT_EQ(Values(Dup), std::vector<qint32>({1, 2, 3}));
}

TEST(IntListTest, AssignCopiesValuesNotModes) {
    TIntList A;
    for (int V : {7, 8, 9})
        A.Add(V);
    A.SetSorted(true);
    TIntList B;
    B.Assign(A);
    EXPECT_EQ(Values(B), std::vector<qint32>({7, 8, 9}));
    EXPECT_EQ(B.Capacity(), A.Capacity());
    EXPECT_FALSE(B.Sorted());
    B.SetValue(0, 1);
    EXPECT_EQ(A[0], 7);
    B.Assign(B);
    EXPECT_EQ(B.Count(), 3);
}

TEST(IntListTest, StreamFormIsRawLittleEndian) {
    TIntList L;
    L.Add(1);
    L.Add(-2);
    L.Add(0x01020304);
    QBuffer Buf;
    Buf.open(QIODevice::ReadWrite);
    L.SaveToStream(Buf);
    EXPECT_EQ(Buf.data(), QByteArray("\x01\0\0\0\xFE\xFF\xFF\xFF\x04\x03\x02\x01", 12));

    // Reading starts at the current position; trailing bytes stay unread.
    Buf.write("\xAA\xBB", 2);
    Buf.seek(4);
    TIntList Back;
    Back.Add(99);
    Back.LoadFromStream(Buf);
    EXPECT_EQ(Values(Back), std::vector<qint32>({-2, 0x01020304}));
    EXPECT_EQ(Back.Capacity(), 2);
    EXPECT_EQ(Buf.pos(), 12);

    // A sorted list takes loaded values as they are.
    TIntList Sorted;
    Sorted.SetSorted(true);
    Buf.seek(0);
    Sorted.LoadFromStream(Buf);
    EXPECT_EQ(Values(Sorted), std::vector<qint32>({1, -2, 0x01020304}));

    TIntList Empty;
    QBuffer Out;
    Out.open(QIODevice::WriteOnly);
    Empty.SaveToStream(Out);
    EXPECT_TRUE(Out.data().isEmpty());
}

TEST(IntListTest, ShortStreamYieldsOnlyDeliveredValues) {
    // A sequential device announcing more than it delivers.
    class TShortDevice : public QIODevice {
    public:
        TShortDevice() { open(QIODevice::ReadOnly); }
        bool isSequential() const override { return true; }
        qint64 bytesAvailable() const override { return 16; }

    protected:
        qint64 readData(char* Data, qint64 MaxSize) override {
            const qint64 N = qMin<qint64>(MaxSize, 6 - FDone);
            memset(Data, 0x11, N);
            FDone += N;
            return N;
        }
        qint64 writeData(const char*, qint64) override { return -1; }

    private:
        qint64 FDone = 0;
    };
    TIntList L;
    for (int I = 0; I < 8; ++I)
        L.Add(7);
    TShortDevice Dev;
    L.LoadFromStream(Dev);
    EXPECT_EQ(Values(L), std::vector<qint32>({0x11111111}));
}

TEST(IntListTest, FileFormAndErrors) {
    QTemporaryDir Dir;
    const QString Name = Dir.filePath("widths.bin");
    TIntList L;
    for (int V : {100, 200, 300})
        L.Add(V);
    L.SaveToFile(Name);
    EXPECT_EQ(QFileInfo(Name).size(), 12);

    {
        QFile F(Name);
        ASSERT_TRUE(F.open(QIODevice::Append));
        F.write("\x01\x02", 2);
    }
    EXPECT_EQ(QFileInfo(Name).size(), 14);
    TIntList Back;
    Back.LoadFromFile(Name);
    EXPECT_EQ(Values(Back), std::vector<qint32>({100, 200, 300}));

    // Saving replaces the whole file.
    TIntList One;
    One.Add(5);
    One.SaveToFile(Name);
    Back.LoadFromFile(Name);
    EXPECT_EQ(Values(Back), std::vector<qint32>({5}));

    try {
        Back.LoadFromFile(Dir.filePath("missing.bin"));
        FAIL() << "loading a missing file succeeded";
    } catch (const EFileError& E) {
        EXPECT_TRUE(E.Message().contains("missing.bin"));
        EXPECT_TRUE(E.Message().contains("No such file", Qt::CaseInsensitive)) << E.Message().toStdString();
    }
    EXPECT_THROW(One.SaveToFile(Dir.filePath("no/such/dir/x.bin")), EFileError);
}
