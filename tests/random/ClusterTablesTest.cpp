#include "random/RandomUtilsUnit.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

namespace {

struct TShipped {
    QByteArray Bytes;
    QStringList Clusters;
    QList<int> Weights;
    int Sum = 0;
};

// Reads a shipped table through the resource system and checks the row format.
TShipped ReadShipped(const QString& Name, const QString& Letters)
{
    LoadRandomTables();  // registers the resources
    QFile F(":/" + Name);
    EXPECT_TRUE(F.open(QIODevice::ReadOnly)) << qPrintable(Name);
    TShipped T;
    T.Bytes = F.readAll();
    EXPECT_TRUE(T.Bytes.endsWith("\r\n"));
    EXPECT_EQ(T.Bytes.count("\r"), T.Bytes.count("\n")) << "bare CR or LF";
    const QRegularExpression Row("^([" + Letters + "]+):([1-9][0-9]*)$");
    QList<QByteArray> Lines = T.Bytes.split('\n');
    Lines.removeLast();
    for (const QByteArray& L : Lines) {
        EXPECT_TRUE(L.endsWith('\r'));
        const auto M = Row.match(QString::fromLatin1(L.chopped(1)));
        EXPECT_TRUE(M.hasMatch()) << L.constData();
        if (!T.Clusters.isEmpty()) {
            EXPECT_LT(T.Clusters.last(), M.captured(1)) << "unsorted or duplicate";
        }
        T.Clusters << M.captured(1);
        T.Weights << M.captured(2).toInt();
        T.Sum += T.Weights.last();
    }
    return T;
}

int CountOfLength(const TShipped& T, int N)
{
    return std::count_if(T.Clusters.begin(), T.Clusters.end(), [N](const QString& C) { return C.size() == N; });
}

// Index of the rows sorted by weight, heaviest first.
QList<int> ByWeight(const TShipped& T)
{
    QList<int> Ix;
    for (int I = 0; I < T.Weights.size(); ++I)
        Ix << I;
    std::stable_sort(Ix.begin(), Ix.end(), [&T](int A, int B) { return T.Weights[A] > T.Weights[B]; });
    return Ix;
}

QString RowAt(const TShipped& T, int I) { return T.Clusters[I] + ":" + QString::number(T.Weights[I]); }

}  // namespace

TEST(ClusterTables, ShippedVowelTable)
{
    const TShipped T = ReadShipped("VOWELS", "aeiouy");
    EXPECT_EQ(T.Bytes.size(), 347);
    ASSERT_EQ(T.Clusters.size(), 42);
    EXPECT_EQ(CountOfLength(T, 1), 6);
    EXPECT_EQ(CountOfLength(T, 2), 36);  // with the format check: every pair exactly once
    EXPECT_EQ(T.Sum, 187969);
    EXPECT_EQ(RowAt(T, 0), "a:44464");
    const QList<int> W = ByWeight(T);
    EXPECT_EQ(RowAt(T, W.first()), "e:45861");
    EXPECT_GT(T.Weights[W[0]], T.Weights[W[1]]);
    EXPECT_EQ(RowAt(T, W.last()), "yy:1");
    EXPECT_LT(T.Weights[W.last()], T.Weights[W[W.size() - 2]]);
}

TEST(ClusterTables, ShippedConsonantTable)
{
    const TShipped T = ReadShipped("NONVOWELS", "bcdfghjklmnpqrstvwxz");
    EXPECT_EQ(T.Bytes.size(), 10212);
    ASSERT_EQ(T.Clusters.size(), 1403);
    EXPECT_EQ(CountOfLength(T, 1), 20);
    EXPECT_EQ(CountOfLength(T, 2), 338);
    EXPECT_EQ(CountOfLength(T, 3), 1045);
    EXPECT_EQ(T.Sum, 229115);
    EXPECT_EQ(RowAt(T, 0), "b:9153");
    EXPECT_EQ(RowAt(T, T.Clusters.size() - 1), "zzn:1");
    EXPECT_TRUE(T.Clusters.contains("bbl"));
    EXPECT_EQ(T.Weights[T.Clusters.indexOf("bbl")], 26);
    const QList<int> W = ByWeight(T);
    EXPECT_EQ(RowAt(T, W[0]), "r:12843");
    EXPECT_EQ(RowAt(T, W[1]), "l:12282");
    EXPECT_EQ(RowAt(T, W[2]), "m:10988");
    EXPECT_EQ(RowAt(T, W[3]), "n:10860");
    EXPECT_GT(T.Weights[W[3]], T.Weights[W[4]]);
}

TEST(ClusterTables, LoadedTablesMatchTheShippedRows)
{
    for (const auto& [Name, Letters, Table] :
         {std::tuple{"VOWELS", "aeiouy", &TRandomUtils::Vowels()},
          std::tuple{"NONVOWELS", "bcdfghjklmnpqrstvwxz", &TRandomUtils::Consonants()}}) {
        const TShipped T = ReadShipped(Name, Letters);
        ASSERT_EQ(Table->Count(), T.Clusters.size()) << Name;
        EXPECT_EQ(Table->Sum(), T.Sum);
        for (int I = 0; I < Table->Count(); ++I)
            ASSERT_EQ(RowAt(T, I), Table->Cluster(I) + ":" + QString::number(Table->Weight(I)));
    }
}

TEST(ClusterTables, PickWalksTheRowsInClusterOrder)
{
    TClusterTable T;
    T.LoadFromData("c:3\nb:1\r\na:2", "test");  // unsorted, mixed line ends, no final terminator
    EXPECT_EQ(T.Sum(), 6);
    QStringList Picks;
    for (int R = -1; R <= 6; ++R)
        Picks << T.Pick(R);
    EXPECT_EQ(Picks, QStringList({"a", "a", "a", "b", "c", "c", "c", ""}));

    LoadRandomTables();
    const TClusterTable& V = TRandomUtils::Vowels();
    EXPECT_EQ(V.Pick(44463), "a");
    EXPECT_EQ(V.Pick(44464), "aa");
    EXPECT_EQ(V.Pick(V.Sum() - 1), "yy");
    EXPECT_EQ(V.Pick(V.Sum()), "");
    const TClusterTable& C = TRandomUtils::Consonants();
    EXPECT_EQ(C.Pick(9152), "b");
    EXPECT_NE(C.Pick(9153), "b");
    EXPECT_EQ(C.Pick(C.Sum() - 1), "zzn");
    EXPECT_EQ(C.Pick(C.Sum()), "");
}

TEST(ClusterTables, MalformedDataIsRejectedAndLeavesTheTableAlone)
{
    TClusterTable T;
    T.LoadFromData("ab:5\r\n", "test");
    for (const char* Bad : {"", "\r\n", "ab\r\n", "ab:\r\n", ":5\r\n", "ab:0\r\n", "ab:-3\r\n", "ab: 3\r\n",
                            "ab:3x\r\n", "ab:12345678901\r\n", "a:1\r\n\r\nb:1\r\n", "a:1\r\nb:1\r\na:2\r\n",
                            "a:600000000\r\nb:600000000\r\n"}) {
        EXPECT_THROW(T.LoadFromData(Bad, "test"), EClusterTableError) << Bad;
        EXPECT_EQ(T.Count(), 1);
        EXPECT_EQ(T.Sum(), 5);
    }
    EXPECT_THROW(T.Cluster(1), EListError);
}

TEST(ClusterTables, FreeReleasesAndLoadRestores)
{
    LoadRandomTables();
    FreeRandomTables();
    EXPECT_EQ(TRandomUtils::Vowels().Count(), 0);
    EXPECT_EQ(TRandomUtils::Consonants().Sum(), 0);
    EXPECT_EQ(TRandomUtils::RandomName(8), "");  // no tables, no name, no crash
    LoadRandomTables();
    EXPECT_EQ(TRandomUtils::Vowels().Sum() + TRandomUtils::Consonants().Sum(), 187969 + 229115);
    EXPECT_EQ(TRandomUtils::RandomName(8).size(), 8);
}
