// The rule documents of every preset, loaded by the firewalls' own loaders in
// a private network namespace: with other rules and sets present, twice,
// empty and large. And the bytes: the same entries in any order give the
// same document.
#include "resolve/uRuleWriter.h"
#include "support/PrivateNetwork.h"
#include "support/TestFiles.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

// ACount addresses of a family that no block can merge (every other one),
// each given twice and in a shuffled order, plus a covered one for ACount > 0.
QList<std::pair<QString, QString>> Entries(bool AIPv6, int ACount) {
    QList<std::pair<QString, QString>> R;
    for (int I = 0; I < ACount; ++I) {
        const int V = I * 2;
        const QString A = AIPv6 ? QString("2001:db8:%1:%2::1").arg(V >> 16, 0, 16).arg(V & 0xffff, 0, 16)
                                : QString("10.%1.%2.%3").arg(V >> 16).arg((V >> 8) & 255).arg(V & 255);
        R << std::pair{A, QString("h%1.example").arg(I)} << std::pair{A, QString("h%1.example").arg(I)};
    }
    std::mt19937 Gen(ACount);
    std::shuffle(R.begin(), R.end(), Gen);
    return R;
}

TRuleWriter::TDocument Render(TRulePresetKind AKind, TQXAddressFamily AFamily, int ACount, bool ASplit6) {
    TRuleWriterSettings S;
    S.Preset = AKind;
    S.Family = AFamily;
    S.Split6 = ASplit6;
    TRuleWriter W(S);
    for (bool V6 : {false, true})
        for (const auto& [A, D] : Entries(V6, ACount))
            W.Add(A, D);
    return W.Render();
}

// The elements nft lists for a set.
int NftElements(const QString& AListing) {
    const qsizetype B = AListing.indexOf("elements = {");
    if (B < 0)
        return 0;
    return int(AListing.mid(B, AListing.indexOf('}', B) - B).count(',')) + 1;
}

} // namespace

TEST(RuleWriterTest, TheSameEntriesInAnyOrderGiveTheSameSortedDocument) {
    TRuleWriterSettings S;
    S.Preset = rpHosts;
    S.Family = afBoth;
    const QStringList In = {"10.0.0.10 b.example", "2001:db8::1 a.example", "10.0.0.9 a.example",
                            "10.0.0.10 b.example", "10.66.0.0/16 10.66.0.0/16", "9.255.255.255 c.example"};
    QByteArray First;
    for (int Round = 0; Round < 4; ++Round) {
        QStringList L = In;
        std::mt19937 Gen(Round);
        std::shuffle(L.begin(), L.end(), Gen);
        TRuleWriter W(S);
        for (const QString& E : L)
            W.Add(E.section(' ', 0, 0), E.section(' ', 1));
        const QByteArray Bytes = TRuleWriter::Encode(W.Render().Lines);
        if (Round == 0)
            First = Bytes;
        EXPECT_EQ(Bytes, First);
    }
    // Numeric order, each line once; an address line names no host.
    EXPECT_EQ(First, QByteArray("9.255.255.255 c.example\n10.0.0.9 a.example\n10.0.0.10 b.example\n"
                                "2001:db8::1 a.example\n"));
}

TEST(RuleWriterTest, NftBatchesItsElementsAndKeepsBothFamiliesInOneFile) {
    const TRuleWriter::TDocument D = Render(rpNft, afBoth, 2500, true);
    EXPECT_TRUE(D.Lines6.isEmpty());
    EXPECT_EQ(D.Entries, 5000);
    EXPECT_EQ(D.Lines.filter(QRegularExpression("^add element inet veltrask veltrask4 ")).size(), 3);
    EXPECT_EQ(D.Lines.filter(QRegularExpression("^add element inet veltrask veltrask6 ")).size(), 3);
    EXPECT_EQ(D.Lines.filter(QRegularExpression("^flush ")).size(), 3);
}

// Every preset x family x size, loaded twice beside rules and sets of others.
TEST(RuleWriterTest, EveryPresetLoadsTwiceBesideOtherRulesEmptyAndLarge) {
    if (!PrivateNetworkAvailable())
        GTEST_SKIP() << "no private network namespace here (needs root and unshare -n)";
    for (const char* T : {"nft", "iptables-restore", "ip6tables-restore", "ipset"})
        if (FindTool(T).isEmpty())
            GTEST_SKIP() << T << " is not installed";
    QTemporaryDir Dir;
    ASSERT_TRUE(Dir.isValid());
    const QString Others =
        "nft add table inet other; nft add chain inet other c '{ type filter hook input priority 0; }'; "
        "nft add rule inet other c tcp dport 22 accept; "
        "for T in iptables ip6tables; do $T -A INPUT -p tcp --dport 22 -j ACCEPT; $T -N mine; "
        "$T -A mine -j RETURN; $T -A OUTPUT -j mine; done; ipset create other hash:ip; ";
    const struct {
        TRulePresetKind Kind;
        int Large;  // iptables walks its rules one by one: big lists go to nft or ipset
    } Presets[] = {{rpNft, 70000}, {rpIPTables, 2000}, {rpIPSet, 70000}};
    for (const auto& P : Presets)
        for (TQXAddressFamily F : {afIPv4, afIPv6, afBoth})
            for (int Count : {0, 3, P.Large}) {
                const QString Case = QString("%1 family %2 count %3").arg(RulePresetName(P.Kind)).arg(int(F)).arg(Count);
                SCOPED_TRACE(Case.toStdString());
                const bool Split = P.Kind == rpIPTables && F == afBoth;
                const TRuleWriter::TDocument D = Render(P.Kind, F, Count, Split);
                const QString File = Dir.filePath("rules"), File6 = Dir.filePath("rules6");
                WriteTestFile(File, TRuleWriter::Encode(D.Lines));
                WriteTestFile(File6, TRuleWriter::Encode(D.Lines6));
                const int N4 = F == afIPv6 ? 0 : Count, N6 = F == afIPv4 ? 0 : Count;
                QString Load, Show;
                switch (P.Kind) {
                case rpNft:
                    Load = QString("nft -f %1").arg(File);
                    Show = "nft list set inet veltrask veltrask4; echo @@; nft list set inet veltrask veltrask6; echo "
                           "@@; nft list ruleset | grep -c 'dport 22 accept'; nft list chain inet veltrask output";
                    break;
                case rpIPTables: {
                    const QString V4 = F == afIPv6 ? "ip6tables-restore" : "iptables-restore";
                    Load = QString("%1 --noflush < %2").arg(V4, File);
                    if (Split)
                        Load += QString("; ip6tables-restore --noflush < %1").arg(File6);
                    Show = "for T in iptables ip6tables; do $T -S veltrask 2>/dev/null | grep -c '^-A' || true; "
                           "echo @@; done; iptables -S | grep -c 'dport 22 -j ACCEPT\\|-A mine\\|-A OUTPUT -j mine'";
                    break;
                }
                default:
                    Load = QString("ipset restore -f %1").arg(File);
                    Show = "ipset list -t veltrask4 2>/dev/null | grep entries || echo none; echo @@; ipset list -t "
                           "veltrask6 2>/dev/null | grep entries || echo none; echo @@; ipset list -n | sort | tr "
                           "'\\n' ' '";
                    break;
                }
                const TToolRun R = InPrivateNetwork(Others + Load + "; " + Load + "; " + Show);
                ASSERT_EQ(R.Code, 0) << R.Output.toStdString();
                const QStringList Parts = R.Output.split("@@\n");
                ASSERT_EQ(Parts.size(), 3) << R.Output.toStdString();
                switch (P.Kind) {
                case rpNft:
                    EXPECT_EQ(NftElements(Parts[0]), N4);
                    EXPECT_EQ(NftElements(Parts[1]), N6);
                    EXPECT_TRUE(Parts[2].startsWith("1\n")) << Parts[2].toStdString();
                    EXPECT_EQ(Parts[2].count("daddr @veltrask4 reject"), 1);
                    EXPECT_EQ(Parts[2].count("daddr @veltrask6 reject"), 1);
                    break;
                case rpIPTables:
                    // This run's rules once, in its own chain; the others untouched.
                    EXPECT_EQ(Parts[0].trimmed().toInt(), N4) << R.Output.toStdString();
                    EXPECT_EQ(Parts[1].trimmed().toInt(), N6) << R.Output.toStdString();
                    EXPECT_EQ(Parts[2].trimmed().toInt(), 3) << R.Output.toStdString();
                    break;
                default:
                    EXPECT_EQ(Parts[0].trimmed(), F == afIPv6 ? "none" : QString("Number of entries: %1").arg(N4));
                    EXPECT_EQ(Parts[1].trimmed(), F == afIPv4 ? "none" : QString("Number of entries: %1").arg(N6));
                    // No new set left behind, the other one kept.
                    EXPECT_EQ(Parts[2].trimmed(), F == afIPv4   ? "other veltrask4"
                                                  : F == afIPv6 ? "other veltrask6"
                                                                : "other veltrask4 veltrask6");
                    break;
                }
            }
}
