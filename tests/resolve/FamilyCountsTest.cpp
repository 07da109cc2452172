// What the counts and the blocklist answers mean with both address families:
// a reply without records of the type asked is an answer, each lookup counts
// on its own, a name is missing only when every lookup said so, 127.0.0.1
// from a zone is a refusal, and each family is checked in its own zones.
#include "ResolveHarness.h"

#include "support/LocalDnsServers.h"
#include "support/LossyUdpRelay.h"

#include <QHash>

#include <gtest/gtest.h>

#include <memory>

namespace {

const QString kZone4 = "four.vt-bl.test";
const QString kZone6 = "six.vt-bl.test";
const QString kLoop = "loop.vt-bl.test";
const QString kLoopDBL = "loopd.vt-bl.test";

class FamilyCountsTest : public ::testing::Test {
protected:
    static std::unique_ptr<TLocalDnsServers> Servers;
    static QString StartError;

    static void SetUpTestSuite() {
        if (!TLocalDnsServers::BinariesAvailable())
            return;
        using E = TLocalDnsServers::THostEntry;
        TLocalDnsServers::TOptions O;
        O.Hosts = {E{"10.7.0.1", "a.vt.test"}, E{"2001:db8:7::1", "aaaa.vt.test"}, E{"10.7.0.3", "both.vt.test"},
                   E{"2001:db8:7::3", "both.vt.test"}};
        O.Zones = {{kZone4, "ip4set", {"10.7.0.3"}},
                   {kZone6, "ip6trie", {"2001:db8:7::1"}},
                   {kLoop, "ip4set", {TLocalDnsServers::ValuedEntry("10.7.0.1", "127.0.0.1", "Refused")}},
                   {kLoopDBL, "dnset", {TLocalDnsServers::ValuedEntry("a.vt.test", "127.0.0.1", "Refused")}}};
        Servers = TLocalDnsServers::StartShared(O, 0, StartError);
    }
    static void TearDownTestSuite() { Servers.reset(); }

    void SetUp() override {
        VT_SKIP_WITHOUT_DNS_SERVERS();
        ASSERT_TRUE(Servers) << StartError.toStdString();
        R.SetDNS({Servers->DnsAddress()});
        R.Utils.SetDNSTimeoutMSec(500);
        R.SetDomains({"a.vt.test", "aaaa.vt.test", "both.vt.test", "nosuch.vt.test"});
    }

    // lines, domains, not found, lookups failed, blocklist checks failed,
    // lines written, duplicates, skipped
    void ExpectCounts(const TQXRunCounters& AWant, const std::string& AWhat) {
        EXPECT_EQ(TQXUtils::SummaryText(R.Utils.RunCounters()), TQXUtils::SummaryText(AWant)) << AWhat;
        EXPECT_EQ(R.Utils.RunHadFailures(), AWant.LookupsFailed > 0 || AWant.BLChecksFailed > 0) << AWhat;
    }

    TResolveRun R;
};

std::unique_ptr<TLocalDnsServers> FamilyCountsTest::Servers;
QString FamilyCountsTest::StartError;

} // namespace

TEST_F(FamilyCountsTest, ANameWithoutRecordsOfOneFamilyIsAnsweredInEveryFamily) {
    // dnsmasq answers a question for a type its local data lacks with no
    // record and no SOA.
    const struct {
        TQXAddressFamily Family;
        QStringList Want;
    } Cases[] = {{afIPv4, {"10.7.0.1", "10.7.0.3"}},
                 {afIPv6, {"2001:db8:7::1", "2001:db8:7::3"}},
                 {afBoth, {"10.7.0.1", "10.7.0.3", "2001:db8:7::1", "2001:db8:7::3"}}};
    for (const auto& C : Cases) {
        R.Utils.SetAddressFamily(C.Family);
        ASSERT_TRUE(R.Run());
        QStringList Want = C.Want;
        Want.sort();
        EXPECT_EQ(R.SortedResult(), Want) << int(C.Family);
        ExpectCounts(TQXRunCounters{4, 4, 1, 0, 0, Want.size(), 0, 0}, "family " + std::to_string(C.Family));
    }
}

TEST_F(FamilyCountsTest, EachLookupOfBothFamiliesCountsOnItsOwn) {
    // One worker asks A, then AAAA, of every name: the relay fails the first
    // or the second question of chosen names.
    for (const int Failing : {1, 2}) {
        QHash<QString, int> Asked;   // touched by the relay's thread only
        TLossyUdpRelay Relay(Servers->DnsPort(), [&Asked, Failing](const QString& AName, int) {
            const int Ask = ++Asked[AName];
            if ((AName == "both.vt.test" || AName == "nosuch.vt.test") && Ask == Failing)
                return TLossyUdpRelay::raServFail;
            return TLossyUdpRelay::raForward;
        });
        ASSERT_TRUE(Relay.IsListening());
        R.SetDNS({Relay.Address()});
        R.Utils.SetAddressFamily(afBoth);
        ASSERT_TRUE(R.Run());
        const std::string What = Failing == 1 ? "A fails" : "AAAA fails";
        EXPECT_EQ(Relay.Refused(), 2) << What;
        // nosuch.vt.test: NXDOMAIN on one question and SERVFAIL on the other
        // is a failure, not a name known to be missing.
        QStringList Want = {"10.7.0.1", "2001:db8:7::1", Failing == 1 ? "2001:db8:7::3" : "10.7.0.3"};
        Want.sort();
        EXPECT_EQ(R.SortedResult(), Want) << What;
        ExpectCounts(TQXRunCounters{4, 4, 0, 2, 0, 3, 0, 0}, What);
    }
}

TEST_F(FamilyCountsTest, LoopbackFromAZoneIsARefusalNotAListing) {
    R.SetDomains({"a.vt.test", "10.7.0.1", "both.vt.test"});
    R.SetRBL(blSuppress, {kLoop});
    ASSERT_TRUE(R.Run());
    // A check that failed lets the item through in suppress mode.
    EXPECT_EQ(R.SortedResult(), QStringList({"10.7.0.1", "10.7.0.1", "10.7.0.3"}));
    ExpectCounts(TQXRunCounters{3, 2, 0, 0, 2, 3, 0, 0}, "RBL suppress");
    const QString Refused = "RBL zone \"" + kLoop +
                            "\" refused the query: 127.0.0.1 (not a listing; the zone refuses this resolver or query)";
    // Once per zone and run, in the quiet log too.
    EXPECT_EQ(R.LogLines().count(Refused), 1) << R.LogText().toStdString();

    R.SetRBL(blSave, {kLoop});
    ASSERT_TRUE(R.Run());
    EXPECT_TRUE(R.SortedResult().isEmpty());
    ExpectCounts(TQXRunCounters{3, 2, 0, 0, 2, 0, 0, 0}, "RBL out");

    R.SetRBL(blNone, {});
    R.SetDBL(blSuppress, {kLoopDBL});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), QStringList({"10.7.0.1", "10.7.0.1", "10.7.0.3"}));
    ExpectCounts(TQXRunCounters{3, 2, 0, 0, 1, 3, 0, 0}, "DBL suppress");
    EXPECT_EQ(R.LogLines().filter("DBL zone \"" + kLoopDBL + "\" refused the query: 127.0.0.1").size(), 1);
}

TEST_F(FamilyCountsTest, EachFamilyIsCheckedInItsOwnZones) {
    R.Utils.SetAddressFamily(afBoth);
    R.Utils.SetDetailedLog(true);
    R.SetRBL(blSuppress, {kZone4});
    R.SetRBL6(blSuppress, {kZone6});
    ASSERT_TRUE(R.Run());
    // 10.7.0.3 is listed in the IPv4 zone, 2001:db8:7::1 in the IPv6 one.
    EXPECT_EQ(R.SortedResult(), QStringList({"10.7.0.1", "2001:db8:7::3"}));
    ExpectCounts(TQXRunCounters{4, 4, 1, 0, 0, 2, 0, 0}, "suppress");
    EXPECT_TRUE(R.LogLines().filter(QRegularExpression("^RBL: Resolving domain \"[0-9.]+\\." + kZone6)).isEmpty());
    EXPECT_TRUE(
        R.LogLines().filter(QRegularExpression("^RBL: Resolving domain \"([0-9a-f]\\.){32}" + kZone4)).isEmpty());

    R.SetRBL(blSave, {kZone4});
    R.SetRBL6(blSave, {kZone6});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), QStringList({"10.7.0.3", "2001:db8:7::1"}));

    // No zone for IPv6: its addresses cannot be checked and are not written.
    R.SetRBL6(blSuppress, {});
    R.SetRBL(blSuppress, {kZone4});
    R.Utils.SetDetailedLog(false);
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), QStringList({"10.7.0.1"}));
    ExpectCounts(TQXRunCounters{4, 4, 1, 0, 2, 1, 0, 0}, "no IPv6 zone");
    EXPECT_EQ(R.LogLines().count("No RBL Services for IPv6 addresses: they are not written"), 1)
        << R.LogText().toStdString();
}
