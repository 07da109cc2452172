#include "random/RandomUtilsUnit.h"

#include <QDate>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

namespace {

class RandomUtils : public ::testing::Test {
protected:
    static void SetUpTestSuite() { LoadRandomTables(); }
    void SetUp() override { TRandomUtils::Randomize(20260101); }
};

// |Count - N * P| within six standard deviations (plus a little for rare
// events): wide enough never to fail by chance, narrow enough for real bias.
void ExpectFrequency(qint64 Count, qint64 N, double P, const QString& What)
{
    const double Sigma = std::sqrt(N * P * (1 - P));
    EXPECT_NEAR(double(Count), N * P, 6 * Sigma + 3) << qPrintable(What);
}

bool IsVowel(QChar C) { return QStringLiteral("aeiouy").contains(C); }

// Splits a lower-cased name into its maximal vowel and consonant runs.
QStringList Runs(const QString& Name)
{
    QStringList Out;
    for (QChar C : Name.toLower()) {
        if (!Out.isEmpty() && IsVowel(Out.last().back()) == IsVowel(C))
            Out.last() += C;
        else
            Out << QString(C);
    }
    return Out;
}

int Occurrences(const QString& S, const QRegularExpression& Re) { return S.count(Re); }

}  // namespace

TEST_F(RandomUtils, RandomIsUniformInRangeAndReplayableBySeed)
{
    EXPECT_EQ(TRandomUtils::Random(0), 0);
    EXPECT_EQ(TRandomUtils::Random(-5), 0);
    QList<int> Hits(7, 0);
    for (int I = 0; I < 70000; ++I) {
        const int R = TRandomUtils::Random(7);
        ASSERT_TRUE(R >= 0 && R < 7) << R;
        ++Hits[R];
    }
    for (int V = 0; V < 7; ++V)
        ExpectFrequency(Hits[V], 70000, 1.0 / 7, QString::number(V));

    TRandomUtils::Randomize(99);
    const QString A = TRandomUtils::RandomName(40) + TRandomUtils::RandomPassword(20, true, true, true);
    TRandomUtils::Randomize(99);
    EXPECT_EQ(A, TRandomUtils::RandomName(40) + TRandomUtils::RandomPassword(20, true, true, true));
    TRandomUtils::Randomize();
    EXPECT_NE(A, TRandomUtils::RandomName(40) + TRandomUtils::RandomPassword(20, true, true, true));
}

TEST_F(RandomUtils, ThreadsShareOneStreamNotCopiesOfIt)
{
    QList<QList<int>> Draws(4);
    std::vector<std::thread> Threads;
    for (auto& D : Draws)
        Threads.emplace_back([&D] {
            for (int I = 0; I < 20000; ++I)
                D << TRandomUtils::Random(2000000000);
        });
    std::thread Reseeder([] { for (int I = 0; I < 100; ++I) TRandomUtils::Randomize(); });
    for (auto& T : Threads)
        T.join();
    Reseeder.join();
    QSet<int> All;
    for (const auto& D : Draws)
        for (int V : D)
            All.insert(V);
    EXPECT_GT(All.size(), 79900);  // per-thread copies of one state would repeat whole runs
}

TEST_F(RandomUtils, StringsOfDigitsHexAndGivenCharacters)
{
    for (int Len : {0, -1, -100}) {
        EXPECT_EQ(TRandomUtils::RandomStr(Len, "ab"), "");
        EXPECT_EQ(TRandomUtils::RandomNumber(Len), "");
        EXPECT_EQ(TRandomUtils::RandomHex(Len), "");
    }
    EXPECT_EQ(TRandomUtils::RandomStr(4, ""), QString(4, QChar(0)));
    EXPECT_EQ(TRandomUtils::RandomStr(5, "x"), "xxxxx");

    const QString S = TRandomUtils::RandomStr(30000, "abc");
    ASSERT_EQ(S.size(), 30000);
    for (QChar C : QStringLiteral("abc"))
        ExpectFrequency(S.count(C), 30000, 1.0 / 3, C);

    const QString N = TRandomUtils::RandomNumber(50000);
    ASSERT_EQ(N.size(), 50000);
    EXPECT_EQ(Occurrences(N, QRegularExpression("[^0-9]")), 0);
    for (char D = '0'; D <= '9'; ++D)
        ExpectFrequency(N.count(QChar(D)), 50000, 0.1, QString(QChar(D)));

    const QString H = TRandomUtils::RandomHex(64000);
    ASSERT_EQ(H.size(), 64000);
    EXPECT_EQ(Occurrences(H, QRegularExpression("[^0-9a-f]")), 0);
    for (QChar D : QStringLiteral("0123456789abcdef"))
        ExpectFrequency(H.count(D), 64000, 1.0 / 16, D);
}

TEST_F(RandomUtils, NameLengthCaseAndStartAfterAGivenLetter)
{
    EXPECT_EQ(TRandomUtils::RandomName(0), "");
    EXPECT_EQ(TRandomUtils::RandomName(-4, 'b'), "");
    const QRegularExpression Shape("^[A-Z][a-z]*$");
    int VowelStarts[2] = {0, 0};  // free state: code 0, and an upper-case letter
    for (int I = 0; I < 20000; ++I) {
        const QString AfterB = TRandomUtils::RandomName(7, 'b');
        const QString AfterE = TRandomUtils::RandomName(7, 'e');
        ASSERT_EQ(AfterB.size(), 7);
        ASSERT_EQ(AfterE.size(), 7);
        ASSERT_TRUE(Shape.match(AfterB).hasMatch() && Shape.match(AfterE).hasMatch()) << qPrintable(AfterB + AfterE);
        ASSERT_TRUE(IsVowel(AfterB[0].toLower())) << qPrintable(AfterB);
        ASSERT_FALSE(IsVowel(AfterE[0].toLower())) << qPrintable(AfterE);
        VowelStarts[0] += IsVowel(TRandomUtils::RandomName(1)[0].toLower());
        VowelStarts[1] += IsVowel(TRandomUtils::RandomName(1, 'B')[0].toLower());
    }
    const double V = TRandomUtils::Vowels().Sum(), C = TRandomUtils::Consonants().Sum();
    ExpectFrequency(VowelStarts[0], 20000, V / (V + C), "after code 0");
    ExpectFrequency(VowelStarts[1], 20000, V / (V + C), "after upper-case B");
}

TEST_F(RandomUtils, NameClustersAlternateAndFollowTheirWeights)
{
    const TClusterTable* Tables[2] = {&TRandomUtils::Consonants(), &TRandomUtils::Vowels()};
    QHash<QString, qint64> Seen[2];
    qint64 Drawn[2] = {0, 0};
    const qint64 Draws = 200000;
    while (Drawn[0] < Draws || Drawn[1] < Draws) {
        QStringList R = Runs(TRandomUtils::RandomName(600));
        const QString Last = R.takeLast();  // may have been cut short
        const TClusterTable& LastTable = *Tables[IsVowel(Last[0])];
        bool Prefix = false;
        for (int I = 0; I < LastTable.Count() && !Prefix; ++I)
            Prefix = LastTable.Cluster(I).startsWith(Last);
        ASSERT_TRUE(Prefix) << qPrintable(Last);
        for (const QString& Run : R) {
            const int T = IsVowel(Run[0]);
            // One run is one cluster, so every run must itself be a row of its table.
            ASSERT_LE(Run.size(), T ? 2 : 3) << qPrintable(Run);
            if (Drawn[T] < Draws) {
                ++Seen[T][Run];
                ++Drawn[T];
            }
        }
    }
    for (int T = 0; T < 2; ++T) {
        const TClusterTable& Table = *Tables[T];
        qint64 Known = 0;
        for (int I = 0; I < Table.Count(); ++I) {
            Known += Seen[T].value(Table.Cluster(I));
            ExpectFrequency(Seen[T].value(Table.Cluster(I)), Draws, double(Table.Weight(I)) / Table.Sum(),
                            Table.Cluster(I));
        }
        EXPECT_EQ(Known, Draws) << "runs that are no cluster of the table";
    }
}

TEST_F(RandomUtils, PasswordsHoldTheRequiredClassesAndNoTriples)
{
    EXPECT_EQ(TRandomUtils::RandomPassword(0, true, true, true), "");
    EXPECT_EQ(TRandomUtils::RandomPassword(-2, true, true, true), "");
    const QRegularExpression Lower("[a-z]"), Upper("[A-Z]"), Digit("[0-9]"), Other("[^a-zA-Z0-9]");
    const QRegularExpression Triple("(.)\\1\\1");
    for (int I = 0; I < 3000; ++I) {
        const QString P3 = TRandomUtils::RandomPassword(3, true, true, true);
        ASSERT_TRUE(Occurrences(P3, Lower) == 1 && Occurrences(P3, Upper) == 1 && Occurrences(P3, Digit) == 1)
            << qPrintable(P3);
        const QString P1 = TRandomUtils::RandomPassword(1, true, true, true);
        ASSERT_TRUE(Occurrences(P1, Lower) == 1 && P1.size() == 1) << qPrintable(P1);
        const QString P2 = TRandomUtils::RandomPassword(2, true, true, true);
        ASSERT_TRUE(Occurrences(P2, Lower) == 1 && Occurrences(P2, Upper) == 1) << qPrintable(P2);
    }
    for (int Mask = 0; Mask < 8; ++Mask)
        for (int Len = 1; Len <= 12; ++Len)
            for (int I = 0; I < 300; ++I) {
                const QString P = TRandomUtils::RandomPassword(Len, Mask & 1, Mask & 2, Mask & 4);
                ASSERT_EQ(P.size(), Len);
                ASSERT_EQ(Occurrences(P, Other), 0) << qPrintable(P);
                ASSERT_TRUE(!(Mask & 1) || P.contains(Lower)) << qPrintable(P);
                ASSERT_TRUE(!(Mask & 2) || Len < 2 || P.contains(Upper)) << qPrintable(P);
                ASSERT_TRUE(!(Mask & 4) || Len < 3 || P.contains(Digit)) << qPrintable(P);
            }
    // A class that already occurred frees its reserved position: with only a
    // lower-case letter required in two characters, both are lower case with
    // probability 1/2 * 26/62 (reserved first) + 1/2 * (26/62)^2 (freed second).
    int BothLower = 0;
    for (int I = 0; I < 40000; ++I)
        BothLower += Occurrences(TRandomUtils::RandomPassword(2, true, false, false), Lower) == 2;
    ExpectFrequency(BothLower, 40000, 0.5 * 26 / 62 + 0.5 * (26.0 / 62) * (26.0 / 62), "both lower case");
    // Long unconstrained passwords meet many would-be triples, "zz" and "99" among them.
    int Pairs = 0;
    for (int I = 0; I < 100; ++I) {
        const QString P = TRandomUtils::RandomPassword(5000, false, false, false);
        ASSERT_FALSE(P.contains(Triple)) << qPrintable(P);
        Pairs += Occurrences(P, QRegularExpression("(.)\\1"));
    }
    EXPECT_GT(Pairs, 5000);  // about 1 in 62 pairs would have grown into a triple
}

TEST_F(RandomUtils, BirthDaysStayWithinTheirRange)
{
    QSet<int> Years, Months, Days;
    for (int I = 0; I < 20000; ++I) {
        const QDate D = QDate::fromString(TRandomUtils::RandomBirthDay("dd.MM.yyyy"), "dd.MM.yyyy");
        ASSERT_TRUE(D.isValid());
        ASSERT_TRUE(D >= QDate(1960, 1, 1) && D <= QDate(1989, 12, 28) && D.day() <= 28) << qPrintable(D.toString());
        Years << D.year();
        Months << D.month();
        Days << D.day();
    }
    EXPECT_EQ(Years.size(), 30);
    EXPECT_EQ(Months.size(), 12);
    EXPECT_EQ(Days.size(), 28);
}

TEST_F(RandomUtils, FileNamesKeepTheWholeExtensionAndDropTheFolder)
{
    EXPECT_EQ(TRandomUtils::RandomFileName("/var/log/README"), "README");
    EXPECT_EQ(TRandomUtils::RandomFileName("some.dir/Makefile"), "Makefile");
    EXPECT_EQ(TRandomUtils::RandomFileName(""), "");
    const QRegularExpression TarGz("^[A-Z][a-z]{5,10}\\.tar\\.gz$"), Hidden("^[A-Z][a-z]{5,10}\\.bashrc$");
    QSet<int> Lengths;
    for (int I = 0; I < 2000; ++I) {
        const QString F = TRandomUtils::RandomFileName("/home/user/backup.tar.gz");
        ASSERT_TRUE(TarGz.match(F).hasMatch()) << qPrintable(F);
        Lengths << F.indexOf('.');
        ASSERT_TRUE(Hidden.match(TRandomUtils::RandomFileName("home/.bashrc")).hasMatch());
    }
    EXPECT_EQ(Lengths, QSet<int>({6, 7, 8, 9, 10, 11}));
}
