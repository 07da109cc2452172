#include "ResolveHarness.h"

#include "engine/uMainThread.h"
#include "support/LocalDnsServers.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

const QString kDBL = "dbl.vt-bl.test";
const QString kRBL1 = "rbl1.vt-bl.test";
const QString kRBL2 = "rbl2.vt-bl.test";

// Real servers shared by the whole suite: dnsmasq answers A questions for
// vt.test from a hosts file (NXDOMAIN for other vt.test names) and forwards
// the blocklist zones to rbldnsd. Two dnsmasq instances for rotation tests.
class ResolveRunTest : public ::testing::Test {
protected:
    static std::unique_ptr<TLocalDnsServers> Servers;
    static QString StartError;

    static void SetUpTestSuite() {
        if (!TLocalDnsServers::BinariesAvailable())
            return;
        TLocalDnsServers::TOptions Options;
        Options.Hosts << TLocalDnsServers::THostEntry{"1.2.3.4", "dup.vt.test"}
                      << TLocalDnsServers::THostEntry{"10.0.0.1", "other.vt.test"};
        Servers = TLocalDnsServers::StartShared(Options, 1, StartError);
    }
    static void TearDownTestSuite() { Servers.reset(); }

    void SetUp() override {
        VT_SKIP_WITHOUT_DNS_SERVERS();
        ASSERT_TRUE(Servers) << StartError.toStdString();
        R.SetDNS({Servers->DnsAddress(0)});
    }

    // The bare messages of the log matching APattern, in order.
    QStringList Matching(const QString& APattern) {
        QStringList L;
        const QRegularExpression Re(APattern);
        for (const QString& S : R.LogLines())
            if (Re.match(S).hasMatch())
                L << S;
        return L;
    }

    TResolveRun R;
};

std::unique_ptr<TLocalDnsServers> ResolveRunTest::Servers;
QString ResolveRunTest::StartError;

} // namespace

TEST_F(ResolveRunTest, ResolvesDomainsAndPassesAddressesThrough) {
    R.SetDomains({"  www.vt.test \t", "   ", "10.0.0.0/8", "1.2.3.300", ".", "10..1", "unknown.vt.test",
                  "1.2.3.4/33", "/8", "1.2.3.4/x", "mail.vt.test"});
    R.Utils.SetOutFormat("-A OUTPUT -d %ip% -j REJECT");
    ASSERT_TRUE(R.Run());
    // "1.2.3.300" does not fit its bytes and is asked as a name (which has no
    // address); ".", "10..1" and the bad prefixes are neither and are skipped.
    QStringList Expected;
    for (const char* Ip : {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.0/8", "192.0.2.10"})
        Expected << QString("-A OUTPUT -d %1 -j REJECT").arg(Ip);
    Expected.sort();
    EXPECT_EQ(R.SortedResult(), Expected);
    EXPECT_EQ(R.Log.ActiveThreads(), 0);
    EXPECT_EQ(R.Progress.Status(), "Completed.");
}

TEST_F(ResolveRunTest, DetailedLogTellsWhatHappenedToEveryLine) {
    R.SetDomains({"www.vt.test", "10.0.0.0/8", " unknown.vt.test", "1.2.3.4/33", "mail.vt.test"});
    R.Utils.SetDetailedLog(true);
    R.Utils.SetCustomOutFormat(false);
    ASSERT_TRUE(R.Run());
    const QStringList L = R.LogLines();
    const QString S = Servers->DnsAddress(0);
    auto Has = [&L](const QString& M) { return L.contains(M); };
    EXPECT_TRUE(Has("Resolve Domains Thread Initialized."));
    EXPECT_TRUE(Has("Resolving domain \"www.vt.test\" (dns server: " + S + ")..."));
    EXPECT_TRUE(Has("IP: 10.0.0.2 (domain: www.vt.test)"));
    EXPECT_TRUE(Has("IP: 10.0.0.0/8"));
    // The blanks around a domain are trimmed before it is looked up.
    EXPECT_TRUE(Has("Resolving domain \"unknown.vt.test\" (dns server: " + S + ")..."));
    EXPECT_EQ(Matching("^DNS Server Reports Query Name Error").size(), 1);
    EXPECT_TRUE(Has("Not an address or domain: 1.2.3.4/33"));
    EXPECT_TRUE(Has("Resolve Domains Thread Completed."));
    EXPECT_EQ(R.SortedResult(), QStringList({"10.0.0.0/8", "10.0.0.1", "10.0.0.2", "10.0.0.3", "192.0.2.10"}));
}

TEST_F(ResolveRunTest, QuietLogHoldsNoDetailedMessages) {
    R.SetDomains({"www.vt.test", "unknown.vt.test", "10.0.0.0/8"});
    R.SetRBL(blSuppress, {kRBL1});
    ASSERT_TRUE(R.Run());
    EXPECT_TRUE(R.LogLines().filter(QRegularExpression("Resolving|IP:|Name Error|Thread")).isEmpty())
        << R.LogText().toStdString();
    EXPECT_EQ(R.SortedResult(), QStringList({"10.0.0.0/8", "10.0.0.1", "10.0.0.2", "10.0.0.3"}));
}

TEST_F(ResolveRunTest, RotatesServersFromTheThreadNumber) {
    const QString S0 = Servers->DnsAddress(0), S1 = Servers->DnsAddress(1);
    R.SetDNS({S0, S1});
    R.SetDomains({"www.vt.test", "mail.vt.test", "clean.vt.test"});
    R.Utils.SetDetailedLog(true);
    ASSERT_TRUE(R.Run());
    // Worker 1 with two servers begins at index 1 and alternates.
    const QStringList L = Matching("^Resolving domain");
    ASSERT_EQ(L.size(), 3);
    EXPECT_TRUE(L[0].endsWith("(dns server: " + S1 + ")..."));
    EXPECT_TRUE(L[1].endsWith("(dns server: " + S0 + ")..."));
    EXPECT_TRUE(L[2].endsWith("(dns server: " + S1 + ")..."));
    EXPECT_EQ(R.Utils.ResultList()->Count(), 5);
}

TEST_F(ResolveRunTest, BlocklistAndAddressLookupsShareTheServerRotation) {
    const QString S0 = Servers->DnsAddress(0), S1 = Servers->DnsAddress(1);
    R.SetDNS({S0, S1});
    R.SetDomains({"mail.vt.test"});
    R.SetDBL(blSuppress, {kDBL});
    R.SetRBL(blSuppress, {kRBL1});
    R.Utils.SetDetailedLog(true);
    ASSERT_TRUE(R.Run());
    const QStringList L = Matching("Resolving domain");
    ASSERT_EQ(L.size(), 3) << R.LogText().toStdString();
    EXPECT_EQ(L[0], "DBL: Resolving domain \"mail.vt.test." + kDBL + "\" (dns server: " + S1 + ")...");
    EXPECT_EQ(L[1], "Resolving domain \"mail.vt.test\" (dns server: " + S0 + ")...");
    EXPECT_EQ(L[2], "RBL: Resolving domain \"10.2.0.192." + kRBL1 + "\" (dns server: " + S1 + ")...");
    EXPECT_EQ(R.SortedResult(), QStringList({"192.0.2.10"}));
}

TEST_F(ResolveRunTest, RblZonesTakeTurnsAndAreNotCombined) {
    // Worker 1 starts at zone index 1: 192.0.2.10 goes to rbl2 (where it is
    // listed), 10.1.2.3 to rbl1 (listed there), 192.0.2.10 again to rbl2 and
    // 10.1.2.3 to rbl1. Swapping the order makes every address meet the zone
    // that does not list it.
    R.SetRBL(blSuppress, {kRBL1, kRBL2});
    R.Utils.SetDetailedLog(true);
    R.SetDomains({"192.0.2.10", "10.1.2.3"});
    ASSERT_TRUE(R.Run());
    EXPECT_TRUE(R.SortedResult().isEmpty());
    const QStringList L = Matching("^RBL: Resolving");
    ASSERT_EQ(L.size(), 2);
    EXPECT_TRUE(L[0].startsWith("RBL: Resolving domain \"10.2.0.192." + kRBL2 + "\""));
    EXPECT_TRUE(L[1].startsWith("RBL: Resolving domain \"3.2.1.10." + kRBL1 + "\""));
    EXPECT_EQ(Matching("^RBL blacklisted IP: ").size(), 2);

    R.SetDomains({"10.1.2.3", "192.0.2.10"});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), QStringList({"10.1.2.3", "192.0.2.10"}));

    R.SetRBL(blSave, {kRBL1, kRBL2});
    R.SetDomains({"192.0.2.10", "10.1.2.3", "10.9.8.7/24", "10.1.2.4"});
    ASSERT_TRUE(R.Run());
    // 10.9.8.7/24 meets rbl2 (no), 10.1.2.4 is listed nowhere.
    EXPECT_EQ(R.SortedResult(), QStringList({"10.1.2.3", "192.0.2.10"}));
}

TEST_F(ResolveRunTest, RblQueryNamesOfOddAddresses) {
    R.SetRBL(blSave, {kRBL1});
    R.Utils.SetDetailedLog(true);
    R.SetDomains({"10.0.0.0/8", "1.2.3.300", "012.9.1.2", "10.9.2"});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(Matching("^RBL: Resolving domain \"0\\.0\\.0\\.10\\." + QRegularExpression::escape(kRBL1)).size(), 1);
    // 1.2.3.300 is no address (300 does not fit a byte): never asked as 44.3.2.1.
    EXPECT_TRUE(Matching("^RBL: Resolving domain \"44\\.3\\.2\\.1\\.").isEmpty());
    // The octal 012 is 10 and "10.9.2" is 10.9.0.2: both lie in the listed
    // 10.9.0.0/16 and are written as the addresses that were checked.
    EXPECT_EQ(Matching("^RBL: Resolving domain \"2\\.1\\.9\\.10\\.").size(), 1);
    EXPECT_EQ(R.SortedResult(), QStringList({"10.9.0.2", "10.9.1.2"}));
    EXPECT_EQ(Matching("^RBL blacklisted IP: 10.9.1.2$").size(), 1);
    EXPECT_EQ(Matching("^RBL blacklisted IP: 10.9.0.2$").size(), 1);
}

TEST_F(ResolveRunTest, DblModesDropOrKeepListedDomains) {
    R.SetDomains({"www.vt.test", "listed.vt.test", "10.1.2.3"});
    R.SetDBL(blSuppress, {kDBL});
    R.Utils.SetDetailedLog(true);
    ASSERT_TRUE(R.Run());
    // The DBL applies to domains only; the address line passes unchecked.
    EXPECT_EQ(R.SortedResult(), QStringList({"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.1.2.3"}));
    EXPECT_EQ(Matching("^DBL blacklisted domain: listed.vt.test$").size(), 1);
    // A listed domain is dropped before its A lookup.
    EXPECT_TRUE(Matching("^Resolving domain \"listed").isEmpty());

    R.SetDBL(blSave, {kDBL});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), QStringList({"10.1.2.3", "10.1.2.3"}));
}

TEST_F(ResolveRunTest, BlocklistOnWithoutZonesDropsEveryCheckedItem) {
    R.SetDomains({"www.vt.test", "10.1.2.3", "mail.vt.test"});
    R.SetDBL(blSuppress, {});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), QStringList({"10.1.2.3"}));
    EXPECT_EQ(Matching("^No DBL Services$").size(), 2);

    R.SetDBL(blNone, {});
    R.SetRBL(blSave, {});
    ASSERT_TRUE(R.Run());
    EXPECT_TRUE(R.SortedResult().isEmpty());
    EXPECT_EQ(Matching("^No RBL Services$").size(), 5);   // one address line, four A records
}

TEST_F(ResolveRunTest, UnreachableServerFailsBlocklistChecksOpen) {
    R.SetDNS({QString("127.0.0.1:%1").arg(TLocalDnsServers::FreeUdpPort())});
    R.Utils.SetDNSTimeoutMSec(300);
    R.SetDomains({"10.1.2.3", "192.0.2.10", "10.0.0.0/8"});
    R.SetRBL(blSave, {kRBL1, kRBL2});
    ASSERT_TRUE(R.Run());
    EXPECT_TRUE(R.SortedResult().isEmpty());

    R.SetRBL(blSuppress, {kRBL1, kRBL2});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), QStringList({"10.0.0.0/8", "10.1.2.3", "192.0.2.10"}));
}

TEST_F(ResolveRunTest, NewRecordsModeAddsOnlyUnseenLines) {
    R.Utils.SetResultMode(outListNew);
    R.Utils.ResultList()->Add("1.2.3.4");
    R.Utils.SetDetailedLog(true);
    R.SetDomains({"dup.vt.test"});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(ToQStringList(R.Utils.ResultList()), QStringList({"1.2.3.4"}));
    EXPECT_EQ(R.Utils.AddedList()->Count(), 0);
    EXPECT_EQ(Matching("^Duplicate: 1.2.3.4$").size(), 1);

    // Case-insensitive, across preloaded lines and lines of the same run, also
    // with several workers racing for the same line.
    R.Utils.SetOutFormat("%ip% %domain%");
    R.Utils.ResultList()->Clear();
    R.Utils.ResultList()->Add("10.0.0.1 WWW.VT.TEST");
    R.SetDomains({"www.vt.test", "WWW.vt.test", "www.vt.test", "other.vt.test", "www.vt.test"});
    R.Utils.SetThreads(4);
    ASSERT_TRUE(R.Run());
    QStringList Added = R.SortedAdded();
    ASSERT_EQ(Added.size(), 3) << Added.join('|').toStdString();
    QStringList Folded;
    for (const QString& S : Added)
        Folded << S.toLower();
    Folded.sort();
    EXPECT_EQ(Folded, QStringList({"10.0.0.1 other.vt.test", "10.0.0.2 www.vt.test", "10.0.0.3 www.vt.test"}));
    EXPECT_EQ(R.Utils.ResultList()->Count(), 4);
    EXPECT_EQ(R.Utils.ResultList()->Get(0), "10.0.0.1 WWW.VT.TEST");

    // The list mode empties the list first and writes even a shown line again.
    R.Utils.SetResultMode(outList);
    R.Utils.SetOutFormat("%ip%");
    R.Utils.ResultList()->Clear();
    R.Utils.ResultList()->Add("1.2.3.4");
    R.Utils.SetThreads(1);
    R.SetDomains({"dup.vt.test", "dup.vt.test"});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(ToQStringList(R.Utils.ResultList()), QStringList({"1.2.3.4", "1.2.3.4"}));
}

TEST_F(ResolveRunTest, FileSourceAndFileResult) {
    QTemporaryDir Dir;
    const QString In = Dir.filePath("in.txt"), Out = Dir.filePath("out.txt");
    {
        QFile F(In);
        ASSERT_TRUE(F.open(QIODevice::WriteOnly));
        F.write("\xEF\xBB\xBFwww.vt.test\r\n  \r\n10.0.0.0/8\nmail.vt.test");
    }
    R.Utils.SetSourceMode(srcFile);
    R.Utils.SetDomainListFile(In);
    R.Utils.SetResultMode(outFile);
    R.Utils.SetResolvedListFile(Out);
    R.Utils.SetOutFileLineBreak("\n");
    R.Utils.SetOutFileBOM(false);
    R.Utils.SetOutFormat("%ip% # %domain%");
    ASSERT_TRUE(R.Run());
    QFile F(Out);
    ASSERT_TRUE(F.open(QIODevice::ReadOnly));
    QStringList Lines = QString::fromUtf8(F.readAll()).split('\n');
    ASSERT_EQ(Lines.takeLast(), "");   // the last line ends with its break too
    Lines.sort();
    EXPECT_EQ(Lines, QStringList({"10.0.0.0/8 # 10.0.0.0/8", "10.0.0.1 # www.vt.test", "10.0.0.2 # www.vt.test",
                                  "10.0.0.3 # www.vt.test", "192.0.2.10 # mail.vt.test"}));
}

TEST_F(ResolveRunTest, FailedOpeningEndsTheRunWithOneMessage) {
    QTemporaryDir Dir;
    R.Utils.SetThreads(8);
    R.Utils.SetSourceMode(srcFile);
    R.Utils.SetDomainListFile(Dir.filePath("missing.txt"));
    ASSERT_TRUE(R.Run(20000));
    // The reason, and the run's summary.
    ASSERT_EQ(R.LogLines().size(), 2) << R.LogText().toStdString();
    EXPECT_EQ(R.LogLines().last(), TQXUtils::SummaryText(TQXRunCounters()));
    EXPECT_EQ(R.Log.ActiveThreads(), 0);
    EXPECT_EQ(R.AfterStopCount, 1);

    R.SetDomains({"10.0.0.0/8"});
    R.Utils.SetResultMode(outFile);
    R.Utils.SetResolvedListFile(Dir.filePath("no/such/folder/out.txt"));
    R.Utils.SetDetailedLog(true);
    ASSERT_TRUE(R.Run(20000));
    EXPECT_EQ(R.LogLines().size(), 2) << R.LogText().toStdString();
    EXPECT_FALSE(QFile::exists(Dir.filePath("no/such/folder/out.txt")));
    EXPECT_EQ(R.AfterStopCount, 2);

    // The next run of the same job works again.
    R.Utils.SetResultMode(outList);
    ASSERT_TRUE(R.Run(20000));
    EXPECT_EQ(ToQStringList(R.Utils.ResultList()), QStringList({"10.0.0.0/8"}));
}

TEST_F(ResolveRunTest, NoDnsServerEndsTheWorkerAtTheFirstDomain) {
    R.SetDNS({});
    R.SetDomains({"10.0.0.0/8", "www.vt.test", "1.2.3.4", "mail.vt.test"});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), QStringList({"10.0.0.0/8"}));
    EXPECT_EQ(Matching("^No DNS Hosts\\.$").size(), 1);
}

TEST_F(ResolveRunTest, ZeroThreadsEndsTheRunAtOnce) {
    R.SetDomains({"10.0.0.0/8"});
    R.Utils.SetThreads(0);
    R.Utils.ResultList()->Add("kept");
    ASSERT_TRUE(R.Run(20000));
    // Once only, and only after the service thread of the run has gone.
    EXPECT_EQ(R.AfterStopCount, 1);
    EXPECT_EQ(R.Log.ActiveThreads(), 0);
    EXPECT_EQ(R.LogLines(), QStringList({TQXUtils::SummaryText(TQXRunCounters())})) << R.LogText().toStdString();
}

TEST_F(ResolveRunTest, BlankLinesAndAddressesCostNoPause) {
    // With a pause of a minute, a run that paused anywhere would not end in time.
    R.Utils.SetPauseMSec(60000);
    R.SetDomains({"   ", "\t", "10.0.0.0/8", " ", "1.2.3.4", "10..1"});
    ASSERT_TRUE(R.Run(20000));
    EXPECT_EQ(R.SortedResult(), QStringList({"1.2.3.4", "10.0.0.0/8"}));
    EXPECT_EQ(R.Utils.RunCounters().Skipped, 1);
}

TEST_F(ResolveRunTest, BreakStopsTheRunWithinOnePause) {
    R.Utils.SetPauseMSec(60000);
    QStringList Domains;
    for (int I = 0; I < 20; ++I)
        Domains << "www.vt.test";
    R.SetDomains(Domains);
    R.Utils.SetThreads(2);
    R.Start();
    // Both workers have looked up their first domain and are pausing.
    ASSERT_TRUE(WaitServing([this] { return R.Utils.LockedResultCount() >= 6; }, 20000));
    R.Progress.BreakClick();
    ASSERT_TRUE(R.WaitEnd(5000));
    EXPECT_EQ(R.Utils.ResultList()->Count(), 6);
    EXPECT_EQ(R.Log.ActiveThreads(), 0);
}

TEST_F(ResolveRunTest, ManyThreadsGiveTheSameLinesAsOne) {
    QStringList Domains;
    const char* Names[] = {"www.vt.test", "mail.vt.test", "clean.vt.test", "listed.vt.test", "nx.vt.test",
                           "dup.vt.test", "other.vt.test"};
    for (int I = 0; I < 300; ++I) {
        Domains << QString::fromLatin1(Names[I % 7]);
        if (I % 5 == 0)
            Domains << QString("10.%1.%2.0/24").arg(I % 256).arg(I / 256);
        if (I % 11 == 0)
            Domains << "  ";
    }
    R.SetDomains(Domains);
    R.SetDNS({Servers->DnsAddress(0), Servers->DnsAddress(1)});
    R.SetDBL(blSuppress, {kDBL});
    R.SetRBL(blSuppress, {kRBL1});
    R.Utils.SetOutFormat("%ip% %domain%");
    R.Utils.SetThreads(1);
    ASSERT_TRUE(R.Run(120000));
    const QStringList One = R.SortedResult();
    ASSERT_GT(One.size(), 300);

    R.Utils.SetThreads(64);
    ASSERT_TRUE(R.Run(120000));
    EXPECT_EQ(DiffSorted(One, R.SortedResult()), "");
    EXPECT_EQ(R.Log.ActiveThreads(), 0);
    // A quiet run logs its summary only; every lookup was answered.
    ASSERT_EQ(R.LogLines().size(), 1) << R.LogText().toStdString();
    EXPECT_TRUE(R.LogLines().first().startsWith("Done: ")) << R.LogText().toStdString();
    EXPECT_FALSE(R.Utils.RunHadFailures()) << R.LogText().toStdString();
}
