// Runs whose answers the tests control: blocklist zones answering listings,
// error codes and odd addresses through a forwarding resolver, and a relay
// that loses or refuses chosen questions. The run's counts and its summary
// line must match what was done to it exactly.
#include "ResolveHarness.h"

#include "engine/uMainThread.h"
#include "support/LocalDnsServers.h"
#include "support/LossyUdpRelay.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <memory>

namespace {

const QString kDBL = "dbl.vt-bl.test";
const QString kRBL = "rbl.vt-bl.test";
const QString kCodes = "codes.vt-bl.test";

QString Name(int I) { return QString("n%1.vt.test").arg(I); }
QString Address(int I) { return QString("10.4.0.%1").arg(I); }
constexpr int kNames = 30;

class RunAccountingTest : public ::testing::Test {
protected:
    static std::unique_ptr<TLocalDnsServers> Servers;
    static QString StartError;

    static void SetUpTestSuite() {
        if (!TLocalDnsServers::BinariesAvailable())
            return;
        using E = TLocalDnsServers::THostEntry;
        TLocalDnsServers::TOptions O;
        O.Hosts = {E{"10.1.2.3", "listed.vt.test"}, E{"10.2.0.1", "refused.vt.test"}, E{"10.2.0.2", "odd.vt.test"},
                   E{"10.1.2.4", "clean.vt.test"},  E{"10.2.0.3", "c252.vt.test"},    E{"10.2.0.4", "c255.vt.test"},
                   E{"10.2.0.5", "c253.vt.test"}};
        for (int I = 0; I < kNames; ++I)
            O.Hosts << E{Address(I), Name(I)};
        const auto V = [](const QString& AEntry, const QString& AAddress, const QString& AText = "Listed") {
            return TLocalDnsServers::ValuedEntry(AEntry, AAddress, AText);
        };
        O.Zones = {{kDBL, "dnset",
                    {"listed.vt.test", V("refused.vt.test", "127.255.255.254", "Refused"),
                     V("odd.vt.test", "10.0.0.1", "Odd")}},
                   {kRBL, "ip4set",
                    {"10.3.0.2", V("10.3.0.254", "127.255.255.254", "Refused"), V("10.3.0.10", "10.0.0.1", "Odd")}},
                   {kCodes, "dnset",
                    {V("c252.vt.test", "127.255.255.252"), V("c255.vt.test", "127.255.255.255"),
                     V("c253.vt.test", "127.255.255.253")}}};
        Servers = TLocalDnsServers::StartShared(O, 0, StartError);
    }
    static void TearDownTestSuite() { Servers.reset(); }

    void SetUp() override {
        VT_SKIP_WITHOUT_DNS_SERVERS();
        ASSERT_TRUE(Servers) << StartError.toStdString();
        R.SetDNS({Servers->DnsAddress()});
        R.Utils.SetDNSTimeoutMSec(300);
    }

    // The bare log messages matching APattern.
    QStringList Matching(const QString& APattern) { return R.LogLines().filter(QRegularExpression(APattern)); }

    // The counts are exact, and the summary, the last line of the run's log, tells them.
    // AWant: lines, domains, not found, lookups failed, blocklist checks failed,
    // lines written, duplicates, skipped.
    void ExpectSummary(const TQXRunCounters& AWant) {
        const QString Want = TQXUtils::SummaryText(AWant);
        EXPECT_EQ(TQXUtils::SummaryText(R.Utils.RunCounters()), Want);
        const QStringList L = R.LogLines();
        EXPECT_EQ(L.value(L.size() - 1), Want) << R.LogText().toStdString();
        EXPECT_EQ(L.filter(QRegularExpression("^(Done|Broken off): ")).size(), 1);
        EXPECT_EQ(R.Utils.RunHadFailures(), AWant.LookupsFailed > 0 || AWant.BLChecksFailed > 0);
    }

    TResolveRun R;
};

std::unique_ptr<TLocalDnsServers> RunAccountingTest::Servers;
QString RunAccountingTest::StartError;

} // namespace

TEST(RunSummaryTest, SummaryLineFormat) {
    TQXRunCounters C;
    C.Lines = 2000;
    C.Domains = 2000;
    C.NotFound = 180;
    C.LookupsFailed = 112;
    C.Written = 3379;
    C.Skipped = 3;
    EXPECT_EQ(TQXUtils::SummaryText(C), "Done: 2000 lines, 2000 domains, 180 not found, 112 lookups failed, "
                                        "0 blocklist checks failed, 3379 lines written, 0 duplicates, 3 skipped.");
}

TEST_F(RunAccountingTest, DblAnswersCountByTheirMeaningInBothModes) {
    R.SetDomains({"listed.vt.test", "refused.vt.test", "odd.vt.test", "clean.vt.test", "refused.vt.test",
                  "odd.vt.test"});
    R.SetDBL(blSuppress, {kDBL});
    ASSERT_TRUE(R.Run());
    // A refusal or an odd address is no listing: suppress mode lets the domain through.
    EXPECT_EQ(R.SortedResult(), QStringList({"10.1.2.4", "10.2.0.1", "10.2.0.1", "10.2.0.2", "10.2.0.2"}));
    // Once per zone and run, in the quiet log too.
    const QString Refused = "DBL zone \"" + kDBL +
                            "\" refused the query: 127.255.255.254 (query through a public or open resolver)";
    const QString Odd = "DBL zone \"" + kDBL + "\" answered with an unexpected address: 10.0.0.1";
    EXPECT_EQ(R.LogLines().count(Refused), 1) << R.LogText().toStdString();
    EXPECT_EQ(R.LogLines().count(Odd), 1) << R.LogText().toStdString();
    EXPECT_EQ(R.LogLines().size(), 3) << R.LogText().toStdString();
    ExpectSummary(TQXRunCounters{6, 5, 0, 0, 4, 5, 0, 0});

    // Out mode keeps only the true listing; the failed checks drop their domains.
    R.SetDBL(blSave, {kDBL});
    R.Utils.SetDetailedLog(true);
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), QStringList({"10.1.2.3"}));
    EXPECT_EQ(R.LogLines().count(Refused), 1);
    EXPECT_EQ(R.LogLines().count(Odd), 1);
    EXPECT_EQ(Matching("^DBL blacklisted domain: ").size(), 1);
    ExpectSummary(TQXRunCounters{6, 1, 0, 0, 4, 1, 0, 0});
}

TEST_F(RunAccountingTest, RblAnswersCountByTheirMeaningInBothModes) {
    const QStringList Lines = {"10.3.0.2", "10.3.0.254", "10.3.0.10", "10.3.0.99", "10.3.0.254", "10.3.0.10"};
    R.SetDomains(Lines);
    R.SetRBL(blSuppress, {kRBL});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), QStringList({"10.3.0.10", "10.3.0.10", "10.3.0.254", "10.3.0.254", "10.3.0.99"}));
    const QString Refused = "RBL zone \"" + kRBL +
                            "\" refused the query: 127.255.255.254 (query through a public or open resolver)";
    const QString Odd = "RBL zone \"" + kRBL + "\" answered with an unexpected address: 10.0.0.1";
    EXPECT_EQ(R.LogLines().count(Refused), 1) << R.LogText().toStdString();
    EXPECT_EQ(R.LogLines().count(Odd), 1) << R.LogText().toStdString();
    // 10.3.0.99 is not in the zone (NXDOMAIN): answered, not listed, not failed.
    ExpectSummary(TQXRunCounters{6, 0, 0, 0, 4, 5, 0, 0});

    R.SetRBL(blSave, {kRBL});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), QStringList({"10.3.0.2"}));
    EXPECT_EQ(R.LogLines().count(Refused), 1);
    EXPECT_EQ(R.LogLines().count(Odd), 1);
    ExpectSummary(TQXRunCounters{6, 0, 0, 0, 4, 1, 0, 0});

    // The addresses of resolved domains are checked the same way.
    R.SetRBL(blSuppress, {kRBL});
    R.SetDomains({"refused.vt.test"});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), QStringList({"10.2.0.1"}));
    ExpectSummary(TQXRunCounters{1, 1, 0, 0, 0, 1, 0, 0});
}

TEST_F(RunAccountingTest, ErrorCodesAreNamed) {
    const struct {
        const char* Domain;
        const char* Text;
    } Cases[] = {
        {"c252.vt.test", "refused the query: 127.255.255.252 (malformed query name)"},
        {"c255.vt.test", "refused the query: 127.255.255.255 (too many queries)"},
        {"c253.vt.test", "refused the query: 127.255.255.253"},
    };
    for (const auto& C : Cases) {
        R.SetDomains({C.Domain});
        R.SetDBL(blSuppress, {kCodes});
        ASSERT_TRUE(R.Run());
        EXPECT_EQ(R.LogLines().first(), "DBL zone \"" + kCodes + "\" " + C.Text) << C.Domain;
        EXPECT_EQ(R.Utils.RunCounters().BLChecksFailed, 1) << C.Domain;
    }
}

TEST_F(RunAccountingTest, LostAndRefusedLookupsAreCountedExactly) {
    // Two names lost on the way, one answered SERVFAIL and one REFUSED by the
    // relay, three that do not exist; two address lines, two blank lines and
    // two lines that are no name.
    TLossyUdpRelay Relay(Servers->DnsPort(), [](const QString& AName, int) {
        if (AName == Name(3) || AName == Name(7))
            return TLossyUdpRelay::raDrop;
        if (AName == Name(11))
            return TLossyUdpRelay::raServFail;
        if (AName == Name(13))
            return TLossyUdpRelay::raRefused;
        return TLossyUdpRelay::raForward;
    });
    ASSERT_TRUE(Relay.IsListening());
    QStringList In;
    for (int I = 0; I < kNames; ++I)
        In << Name(I);
    In << "nx1.vt.test" << "nx2.vt.test" << "nx3.vt.test" << "192.0.2.1" << "10.0.0.0/8" << "  " << "\t"
       << "a..b" << "no name";
    R.SetDomains(In);
    R.SetDNS({Relay.Address()});
    R.Utils.SetThreads(4);
    ASSERT_TRUE(R.Run());
    QStringList Want = {"192.0.2.1", "10.0.0.0/8"};
    for (int I = 0; I < kNames; ++I)
        if (I != 3 && I != 7 && I != 11 && I != 13)
            Want << Address(I);
    Want.sort();
    EXPECT_EQ(DiffSorted(Want, R.SortedResult()), "");
    EXPECT_EQ(Relay.Dropped(), 2);
    EXPECT_EQ(Relay.Refused(), 2);
    ExpectSummary(
        TQXRunCounters{In.size(), kNames + 3, 3, Relay.Dropped() + Relay.Refused(), 0, Want.size(), 0, 2});
    // Nothing of it in the quiet log but the summary.
    EXPECT_EQ(R.LogLines().size(), 1) << R.LogText().toStdString();
}

TEST_F(RunAccountingTest, EveryNthQuestionLostIsOneFailedLookupEachUnlessRetried) {
    TLossyUdpRelay Relay(Servers->DnsPort(), TLossyUdpRelay::DropEveryNth(5));
    ASSERT_TRUE(Relay.IsListening());
    QStringList In, Want;
    for (int I = 0; I < 20; ++I) {
        In << Name(I);
        Want << Address(I);
    }
    Want.sort();
    R.SetDomains(In);
    R.SetDNS({Relay.Address()});
    R.Utils.SetThreads(3);
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(Relay.Dropped(), 4);
    EXPECT_EQ(R.Utils.ResultList()->Count(), 16);
    ExpectSummary(TQXRunCounters{20, 20, 0, 4, 0, 16, 0, 0});

    // One retry: the question after a lost one is never lost, so every name
    // gets its answer. With one worker the 5th, 10th, 15th and 20th question
    // are lost and asked again: 24 questions in all.
    Relay.ResetCounts();
    R.Utils.SetThreads(1);
    R.Utils.SetDNSRetries(1);
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(DiffSorted(Want, R.SortedResult()), "");
    EXPECT_EQ(Relay.Dropped(), 4);
    EXPECT_EQ(Relay.Received(), 24);
    ExpectSummary(TQXRunCounters{20, 20, 0, 0, 0, 20, 0, 0});
}

TEST_F(RunAccountingTest, RetriesAskTheNextServerAndStopAtAnAnswer) {
    // The relay loses every question; the worker's rotation begins at index 1.
    TLossyUdpRelay Relay(Servers->DnsPort(), TLossyUdpRelay::DropEveryNth(1));
    ASSERT_TRUE(Relay.IsListening());
    const QString Direct = Servers->DnsAddress();
    R.SetDNS({Direct, Relay.Address()});
    R.SetDomains({Name(1), Name(2)});
    R.Utils.SetDNSRetries(3);
    R.Utils.SetDetailedLog(true);
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), QStringList({Address(1), Address(2)}));
    // Lost on the relay, answered by the next server, and not asked again.
    for (int I : {1, 2})
        EXPECT_EQ(Matching("^Resolving domain \"" + QRegularExpression::escape(Name(I)) + "\"").join('|'),
                  QString("Resolving domain \"%1\" (dns server: %2)...|Resolving domain \"%1\" (dns server: %3)...")
                      .arg(Name(I), Relay.Address(), Direct));
    EXPECT_EQ(Relay.Dropped(), 2);
    ExpectSummary(TQXRunCounters{2, 2, 0, 0, 0, 2, 0, 0});

    // A name that does not exist is an answer too: asked once.
    R.SetDNS({Direct});
    R.SetDomains({"nx1.vt.test", Name(1)});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(Matching("^Resolving domain ").size(), 2) << R.LogText().toStdString();
    ExpectSummary(TQXRunCounters{2, 2, 1, 0, 0, 1, 0, 0});

    // Every server loses: each name is asked 1 + 3 times, then counted once.
    R.SetDNS({Relay.Address()});
    R.Utils.SetDetailedLog(false);
    Relay.ResetCounts();
    R.SetDomains({Name(1), Name(2)});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(Relay.Dropped(), 8);
    ExpectSummary(TQXRunCounters{2, 2, 0, 2, 0, 0, 0, 0});
}

namespace {

// Every question fails the first time its name is asked: SERVFAIL for names
// beginning with "n1.", REFUSED for "n2.", lost for every other name.
TLossyUdpRelay::TRule FirstAskFails() {
    return TLossyUdpRelay::FailFirstAsk([](const QString& AName) {
        if (AName.startsWith("n1."))
            return TLossyUdpRelay::raServFail;
        if (AName.startsWith("n2."))
            return TLossyUdpRelay::raRefused;
        return TLossyUdpRelay::raDrop;
    });
}

} // namespace

TEST_F(RunAccountingTest, ServerFailuresRefusalsAndLossesAreRetriedBlocklistChecksToo) {
    TLossyUdpRelay Relay(Servers->DnsPort(), FirstAskFails());
    ASSERT_TRUE(Relay.IsListening());
    R.SetDNS({Relay.Address()});
    R.SetDomains({Name(1), Name(2), Name(4), "listed.vt.test", "clean.vt.test"});
    R.SetDBL(blSuppress, {kDBL});
    R.SetRBL(blSuppress, {kRBL});
    R.Utils.SetDNSRetries(1);
    R.Utils.SetThreads(2);
    ASSERT_TRUE(R.Run());
    // The listed domain is still dropped: its DBL check got its answer on the retry.
    EXPECT_EQ(R.SortedResult(), QStringList({"10.1.2.4", Address(1), Address(2), Address(4)}));
    ExpectSummary(TQXRunCounters{5, 4, 0, 0, 0, 4, 0, 0});

    // Without retries every first question fails: the DBL check of each
    // domain (so the listed one passes) and then its own A lookup.
    Relay.SetRule(FirstAskFails());
    Relay.ResetCounts();
    R.Utils.SetDNSRetries(0);
    R.Utils.SetThreads(1);
    ASSERT_TRUE(R.Run());
    EXPECT_TRUE(R.SortedResult().isEmpty()) << R.SortedResult().join(' ').toStdString();
    ExpectSummary(TQXRunCounters{5, 5, 0, 5, 5, 0, 0, 0});
    EXPECT_EQ(Relay.Dropped() + Relay.Refused(), 10);
}

TEST_F(RunAccountingTest, DuplicatesAndBreakAreAccounted) {
    R.Utils.SetResultMode(outListNew);
    R.Utils.ResultList()->Add(Address(1));
    R.SetDomains({Name(1), Name(1), Name(2)});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedAdded(), QStringList({Address(2)}));
    ExpectSummary(TQXRunCounters{3, 3, 0, 0, 0, 1, 2, 0});

    // After Break the summary still comes, with what was done until then,
    // and says the run was broken off.
    R.Utils.SetResultMode(outList);
    R.Utils.SetPauseMSec(60000);
    QStringList In;
    for (int I = 0; I < kNames; ++I)
        In << Name(I);
    R.SetDomains(In);
    R.Utils.SetThreads(2);
    R.Start();
    ASSERT_TRUE(WaitServing([this] { return R.Utils.RunCounters().Written >= 2; }, 20000));
    R.Progress.BreakClick();
    ASSERT_TRUE(R.WaitEnd(10000));
    TQXRunCounters Broken{2, 2, 0, 0, 0, 2, 0, 0};
    Broken.Broken = true;
    ExpectSummary(Broken);
    EXPECT_TRUE(R.LogLines().last().startsWith("Broken off: 2 lines"));
}
