// Runs that deal in IPv6: AAAA answers of a real dnsmasq, IPv6 address lines,
// IPv6 blocklist checks against rbldnsd's ip6tset and ip6trie zones, and the
// places IPv6 lines go to, for each address family.
#include "ResolveHarness.h"

#include "engine/uMainThread.h"
#include "support/FakeUdpServer.h"
#include "support/LocalDnsServers.h"
#include "support/LossyUdpRelay.h"
#include "support/TestFiles.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace {

const QString kTrie = "rbl6.vt-bl.test";    // ip6trie
const QString kTset = "rbl6t.vt-bl.test";   // ip6tset: /64 prefixes

class IPv6RunTest : public ::testing::Test {
protected:
    static std::unique_ptr<TLocalDnsServers> Servers;
    static QString StartError;

    static void SetUpTestSuite() {
        if (!TLocalDnsServers::BinariesAvailable())
            return;
        using E = TLocalDnsServers::THostEntry;
        TLocalDnsServers::TOptions O;
        O.Hosts = {E{"10.6.0.1", "dual.vt.test"},          E{"2001:db8::10", "dual.vt.test"},
                   E{"2001:DB8:0:0:0:0:0:11", "dual.vt.test"}, E{"2001:db8::20", "six.vt.test"},
                   E{"10.6.0.4", "four.vt.test"},          E{"2001:db8:bad::7", "bad6.vt.test"},
                   E{"2001:db8:1:2::9", "set6.vt.test"},  E{"2001:db8:ffff::1", "refused6.vt.test"}};
        O.Zones = {{kTrie, "ip6trie",
                    {"2001:db8:bad::/48", "2001:db8::20",
                     TLocalDnsServers::ValuedEntry("2001:db8:ffff::1", "127.255.255.254", "Refused")}},
                   {kTset, "ip6tset", {"2001:db8:1:2"}}};
        Servers = TLocalDnsServers::StartShared(O, 1, StartError);
    }
    static void TearDownTestSuite() { Servers.reset(); }

    void SetUp() override {
        VT_SKIP_WITHOUT_DNS_SERVERS();
        ASSERT_TRUE(Servers) << StartError.toStdString();
        R.SetDNS({Servers->DnsAddress()});
    }

    QStringList Matching(const QString& APattern) { return R.LogLines().filter(QRegularExpression(APattern)); }

    // The summary, the last line of the run's log, tells exactly these counts:
    // lines, domains, not found, lookups failed, blocklist checks failed,
    // lines written, duplicates, skipped.
    void ExpectSummary(const TQXRunCounters& AWant, const char* AWhat = "") {
        const QString Want = TQXUtils::SummaryText(AWant);
        EXPECT_EQ(TQXUtils::SummaryText(R.Utils.RunCounters()), Want) << AWhat;
        const QStringList L = R.LogLines();
        EXPECT_EQ(L.value(L.size() - 1), Want) << AWhat;
    }

    TResolveRun R;
};

std::unique_ptr<TLocalDnsServers> IPv6RunTest::Servers;
QString IPv6RunTest::StartError;

QStringList Sorted(QStringList L) {
    L.sort();
    return L;
}

} // namespace

TEST_F(IPv6RunTest, EachFamilyAsksItsOwnRecordsAndKeepsItsOwnLines) {
    const QStringList In = {"dual.vt.test", "six.vt.test", "four.vt.test", "2001:DB8:0::1/64", "10.6.0.0/16",
                            "nosuch.vt.test", "fe80::1%eth0", "::ffff:192.0.2.1"};
    R.SetDomains(In);
    R.Utils.SetOutFormat("%ip% %domain%");
    R.Utils.SetCustomOutFormat6("v6 %ip% %domain%");
    R.Utils.SetDetailedLog(true);

    // IPv4 only, the default: no AAAA question at all, IPv6 lines skipped.
    // six.vt.test has no A record, and dnsmasq says so without an SOA record:
    // that is an answer (no such record), not a failed lookup.
    ASSERT_EQ(R.Utils.AddressFamily(), afIPv4);
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(),
              Sorted({"10.6.0.1 dual.vt.test", "10.6.0.4 four.vt.test", "10.6.0.0/16 10.6.0.0/16"}));
    EXPECT_TRUE(Matching(" for IPv6 ").isEmpty()) << R.LogText().toStdString();
    EXPECT_EQ(Matching("^IPv6 address skipped: "),
              QStringList({"IPv6 address skipped: 2001:DB8:0::1/64", "IPv6 address skipped: ::ffff:192.0.2.1"}));
    // A zone index makes no address; it is no name either.
    EXPECT_EQ(Matching("^Not an address or domain: "), QStringList({"Not an address or domain: fe80::1%eth0"}));
    ExpectSummary(TQXRunCounters{8, 4, 1, 0, 0, 3, 0, 3}, "IPv4");

    // IPv6 only: AAAA questions alone, address lines in their canonical text
    // through the IPv6 template, IPv4 lines skipped. A name with no AAAA
    // record is answered, not failed.
    R.Utils.SetAddressFamily(afIPv6);
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), Sorted({"v6 2001:db8::10 dual.vt.test", "v6 2001:db8::11 dual.vt.test",
                                        "v6 2001:db8::20 six.vt.test", "v6 2001:db8::1/64 2001:db8::1/64",
                                        "v6 ::ffff:192.0.2.1 ::ffff:192.0.2.1"}));
    EXPECT_TRUE(Matching("^Resolving domain \"[^\"]*\" \\(dns server").isEmpty()) << R.LogText().toStdString();
    EXPECT_EQ(Matching("^Resolving domain \"[^\"]*\" for IPv6 \\(dns server: ").size(), 4);
    EXPECT_EQ(Matching("^IPv4 address skipped: "), QStringList({"IPv4 address skipped: 10.6.0.0/16"}));
    ExpectSummary(TQXRunCounters{8, 4, 1, 0, 0, 5, 0, 2}, "IPv6");

    // Both, with the one template: every line, each name asked once per type.
    R.Utils.SetAddressFamily(afBoth);
    R.Utils.SetCustomOutFormat6(QString());
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(),
              Sorted({"10.6.0.1 dual.vt.test", "2001:db8::10 dual.vt.test", "2001:db8::11 dual.vt.test",
                      "2001:db8::20 six.vt.test", "10.6.0.4 four.vt.test", "10.6.0.0/16 10.6.0.0/16",
                      "2001:db8::1/64 2001:db8::1/64", "::ffff:192.0.2.1 ::ffff:192.0.2.1"}));
    EXPECT_EQ(Matching("^Resolving domain \"[^\"]*\" \\(dns server: ").size(), 4);
    EXPECT_EQ(Matching("^Resolving domain \"[^\"]*\" for IPv6 \\(dns server: ").size(), 4);
    // The missing A record of six.vt.test is no failure; the name that does
    // not exist is counted once, as not found, since both lookups said so.
    ExpectSummary(TQXRunCounters{8, 4, 1, 0, 0, 8, 0, 1}, "both");
}

TEST_F(IPv6RunTest, ThePlainAddressIsWrittenWithoutTheTemplateAndTheAnswersRotateOverTheServers) {
    // One worker starts at server index 1; the A and the AAAA question of a
    // name go to the next server each, with one pause for both.
    R.SetDNS({Servers->DnsAddress(0), Servers->DnsAddress(1)});
    R.SetDomains({"dual.vt.test", "six.vt.test"});
    R.Utils.SetAddressFamily(afBoth);
    R.Utils.SetCustomOutFormat(false);
    R.Utils.SetCustomOutFormat6("never %ip%");
    R.Utils.SetDetailedLog(true);
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), Sorted({"10.6.0.1", "2001:db8::10", "2001:db8::11", "2001:db8::20"}));
    const QString S0 = Servers->DnsAddress(0), S1 = Servers->DnsAddress(1);
    EXPECT_EQ(Matching("^Resolving domain "),
              QStringList({"Resolving domain \"dual.vt.test\" (dns server: " + S1 + ")...",
                           "Resolving domain \"dual.vt.test\" for IPv6 (dns server: " + S0 + ")...",
                           "Resolving domain \"six.vt.test\" (dns server: " + S1 + ")...",
                           "Resolving domain \"six.vt.test\" for IPv6 (dns server: " + S0 + ")..."}));
}

TEST_F(IPv6RunTest, BlocklistsListIPv6AddressesUnderTheirNibbleNames) {
    // Lines and AAAA answers alike. The trie lists 2001:db8:bad::/48 and
    // 2001:db8::20; the set lists the /64 2001:db8:1:2::/64.
    const QStringList In = {"2001:db8:bad::1", "2001:db8:1:2::5", "2001:db8:1:3::5", "six.vt.test", "bad6.vt.test",
                            "set6.vt.test",    "dual.vt.test"};
    R.SetDomains(In);
    R.Utils.SetAddressFamily(afIPv6);
    R.Utils.SetDetailedLog(true);

    R.SetRBL6(blSuppress, {kTrie});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), Sorted({"2001:db8:1:2::5", "2001:db8:1:3::5", "2001:db8:1:2::9", "2001:db8::10",
                                        "2001:db8::11"}));
    // The query name: 32 nibbles from the last one back, then the zone.
    const QString Nibbles = "1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.d.a.b.0.8.b.d.0.1.0.0.2";
    EXPECT_EQ(R.LogLines().filter("RBL: Resolving domain \"" + Nibbles + "." + kTrie + "\" (dns server: ").size(), 1)
        << R.LogText().toStdString();
    EXPECT_EQ(Matching("^RBL blacklisted IP: "),
              QStringList({"RBL blacklisted IP: 2001:db8:bad::1", "RBL blacklisted IP: 2001:db8::20 (domain: six.vt.test)",
                           "RBL blacklisted IP: 2001:db8:bad::7 (domain: bad6.vt.test)"}));
    ExpectSummary(TQXRunCounters{7, 4, 0, 0, 0, 5, 0, 0}, "trie, suppress");

    R.SetRBL6(blSave, {kTrie});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), Sorted({"2001:db8:bad::1", "2001:db8::20", "2001:db8:bad::7"}));

    R.SetRBL6(blSave, {kTset});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), Sorted({"2001:db8:1:2::5", "2001:db8:1:2::9"}));
    R.SetRBL6(blSuppress, {kTset});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), Sorted({"2001:db8:bad::1", "2001:db8:1:3::5", "2001:db8::20", "2001:db8:bad::7",
                                        "2001:db8::10", "2001:db8::11"}));
    ExpectSummary(TQXRunCounters{7, 4, 0, 0, 0, 6, 0, 0}, "set, suppress");
}

TEST_F(IPv6RunTest, AZoneErrorCodeForAnIPv6AddressIsNoListingAndIsCounted) {
    R.SetDomains({"refused6.vt.test", "2001:db8:ffff::1", "2001:db8::99"});
    R.Utils.SetAddressFamily(afIPv6);
    R.SetRBL6(blSuppress, {kTrie});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), Sorted({"2001:db8:ffff::1", "2001:db8:ffff::1", "2001:db8::99"}));
    const QString Refused = "RBL zone \"" + kTrie +
                            "\" refused the query: 127.255.255.254 (query through a public or open resolver)";
    EXPECT_EQ(R.LogLines().count(Refused), 1) << R.LogText().toStdString();
    ExpectSummary(TQXRunCounters{3, 1, 0, 0, 2, 3, 0, 0});

    R.SetRBL6(blSave, {kTrie});
    ASSERT_TRUE(R.Run());
    EXPECT_TRUE(R.SortedResult().isEmpty());
    ExpectSummary(TQXRunCounters{3, 1, 0, 0, 2, 0, 0, 0});
}

TEST_F(IPv6RunTest, NewRecordsTestCoversBothFamiliesInOneList) {
    R.Utils.SetResultMode(outListNew);
    R.Utils.SetAddressFamily(afBoth);
    // Shown before, in another letter case than the canonical text.
    R.Utils.ResultList()->Add("2001:DB8::10");
    R.Utils.ResultList()->Add("10.6.0.4");
    R.SetDomains({"dual.vt.test", "2001:db8:0::11", "four.vt.test", "10.6.0.1"});
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(ToQStringList(R.Utils.AddedList()).size(), 2);
    EXPECT_EQ(R.SortedAdded(), Sorted({"10.6.0.1", "2001:db8::11"}));
    EXPECT_EQ(R.SortedResult(), Sorted({"2001:DB8::10", "10.6.0.4", "10.6.0.1", "2001:db8::11"}));
    ExpectSummary(TQXRunCounters{4, 2, 0, 0, 0, 2, 4, 0});
}

TEST_F(IPv6RunTest, SeparateListsHoldTheIPv6LinesWithOneDuplicateTest) {
    R.SetDomains({"dual.vt.test", "2001:db8::10", "10.6.0.1"});
    R.Utils.SetAddressFamily(afBoth);
    R.Utils.SetSeparateList6(true);
    R.Utils.SetResultMode(outListNew);
    R.Utils.ResultList()->Add("2001:db8::11");
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedAdded(), QStringList({"10.6.0.1"}));
    EXPECT_EQ(ToQStringList(R.Utils.AddedList6()), QStringList({"2001:db8::10"}));
    EXPECT_EQ(ToQStringList(R.Utils.ResultList6()), QStringList({"2001:db8::10"}));
    ExpectSummary(TQXRunCounters{3, 1, 0, 0, 0, 2, 3, 0});
}

TEST_F(IPv6RunTest, FileModeWritesIPv6LinesToTheirOwnFileOrTheSameOne) {
    QTemporaryDir Dir;
    ASSERT_TRUE(Dir.isValid());
    const QString Four = Dir.filePath("four.txt"), Six = Dir.filePath("six.txt");
    R.SetDomains({"dual.vt.test", "2001:db8::1/48", "10.1.0.0/16"});
    R.Utils.SetAddressFamily(afBoth);
    R.Utils.SetResultMode(outFile);
    R.Utils.SetResolvedListFile(Four);
    R.Utils.SetResolvedListFile6(Six);
    R.Utils.SetOutFileBOM(true);
    R.Utils.SetOutFileLineBreak("\n");
    R.Utils.SetOutFormat("-A OUTPUT -d %ip% -j REJECT");
    R.Utils.SetCustomOutFormat6("-A OUTPUT -d %ip% -j DROP");
    ASSERT_TRUE(R.Run());
    // Both files carry the chosen mark and line break.
    const QByteArray Bom = "\xEF\xBB\xBF";
    EXPECT_EQ(ReadTestFile(Four), Bom + "-A OUTPUT -d 10.6.0.1 -j REJECT\n-A OUTPUT -d 10.1.0.0/16 -j REJECT\n");
    const QList<QByteArray> SixLines = ReadTestFile(Six).mid(3).split('\n');
    EXPECT_TRUE(ReadTestFile(Six).startsWith(Bom));
    EXPECT_EQ(Sorted({QString::fromUtf8(SixLines.value(0)), QString::fromUtf8(SixLines.value(1)),
                      QString::fromUtf8(SixLines.value(2))}),
              Sorted({"-A OUTPUT -d 2001:db8::10 -j DROP", "-A OUTPUT -d 2001:db8::11 -j DROP",
                      "-A OUTPUT -d 2001:db8::1/48 -j DROP"}));
    EXPECT_EQ(SixLines.size(), 4);
    ExpectSummary(TQXRunCounters{3, 1, 0, 0, 0, 5, 0, 0});

    // Another name of the first file is that file: nothing is overwritten.
    R.Utils.SetResolvedListFile6(Dir.path() + "/./four.txt");
    R.Utils.SetCustomOutFormat(false);
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(Sorted(QString::fromUtf8(ReadTestFile(Four).mid(3)).split('\n', Qt::SkipEmptyParts)),
              Sorted({"10.6.0.1", "2001:db8::10", "2001:db8::11", "2001:db8::1/48", "10.1.0.0/16"}));

    // IPv4 only: the IPv6 file is neither created nor replaced.
    ASSERT_TRUE(QFile::remove(Six));
    R.Utils.SetResolvedListFile6(Six);
    R.Utils.SetAddressFamily(afIPv4);
    ASSERT_TRUE(R.Run());
    EXPECT_FALSE(QFileInfo::exists(Six));
    EXPECT_EQ(ReadTestFile(Four), Bom + "10.6.0.1\n10.1.0.0/16\n");
}

TEST_F(IPv6RunTest, LostAaaaQuestionsAreRetriedAndCountedLikeAQuestions) {
    // Every name is lost the first time it is asked; with IPv6 only every
    // question is an AAAA question.
    TLossyUdpRelay Relay(Servers->DnsPort(), TLossyUdpRelay::FailFirstAsk());
    ASSERT_TRUE(Relay.IsListening());
    R.SetDNS({Relay.Address()});
    R.Utils.SetDNSTimeoutMSec(300);
    R.Utils.SetAddressFamily(afIPv6);
    R.SetDomains({"dual.vt.test", "six.vt.test"});
    ASSERT_TRUE(R.Run());
    EXPECT_TRUE(R.SortedResult().isEmpty());
    EXPECT_TRUE(R.Utils.RunHadFailures());
    ExpectSummary(TQXRunCounters{2, 2, 0, 2, 0, 0, 0, 0}, "no retries");

    Relay.SetRule(TLossyUdpRelay::FailFirstAsk());
    Relay.ResetCounts();
    R.Utils.SetDNSRetries(1);
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), Sorted({"2001:db8::10", "2001:db8::11", "2001:db8::20"}));
    EXPECT_EQ(Relay.Received(), 4);
    ExpectSummary(TQXRunCounters{2, 2, 0, 0, 0, 3, 0, 0}, "one retry");
}

namespace {

// A reply to AQuery: its question, the flags and the given sections.
QByteArray FakeReply(const QByteArray& AQuery, const char* AFlagsHex, int AAnswers, int AAdditional,
                     const char* ARecordsHex) {
    QByteArray R = AQuery.left(2);
    R += TFakeUdpServer::Hex(AFlagsHex);
    R += TFakeUdpServer::Hex("00 01 00");
    R += char(AAnswers);
    R += TFakeUdpServer::Hex("00 00 00");
    R += char(AAdditional);
    R += AQuery.mid(12, AQuery.size() - 12 - 11);   // the question, without the query's OPT record
    R += TFakeUdpServer::Hex(ARecordsHex);
    return R;
}

} // namespace

TEST(IPv6ReplyTest, OnlyAaaaAnswersCountAndAnEmptyAnswerIsNoFailure) {
    // www.example: an AAAA answer and an AAAA glue record beside it;
    // empty.example: no record at all; cut.example: the same, but truncated.
    TFakeUdpServer Server([](const QByteArray& Q) -> std::optional<QByteArray> {
        if (Q.contains("\x05""empty"))
            return FakeReply(Q, "81 80", 0, 0, "");
        if (Q.contains("\x03""cut"))
            return FakeReply(Q, "83 80", 0, 0, "");
        return FakeReply(Q, "81 80", 1, 1,
                         "c0 0c 00 1c 00 01 00 00 00 3c 00 10 20 01 0d b8 00 00 00 00 00 00 00 00 00 00 00 07"
                         "02 6e 73 00 00 1c 00 01 00 00 00 3c 00 10 20 01 0d b8 00 00 00 00 00 00 00 00 00 00 00 53");
    });
    ASSERT_TRUE(Server.IsListening());
    TResolveRun R;
    R.SetDNS({Server.Address()});
    R.SetDomains({"www.example", "empty.example", "cut.example"});
    R.Utils.SetAddressFamily(afIPv6);
    ASSERT_TRUE(R.Run(20000));
    EXPECT_EQ(ToQStringList(R.Utils.ResultList()), QStringList({"2001:db8::7"}));
    EXPECT_EQ(R.LogLines(), QStringList({"Done: 3 lines, 3 domains, 0 not found, 1 lookups failed, 0 blocklist "
                                         "checks failed, 1 lines written, 0 duplicates, 0 skipped."}))
        << R.LogText().toStdString();
    // Every question asked was an AAAA question (type 28), before the OPT record.
    ASSERT_EQ(Server.QueryCount(), 3);
    for (const QByteArray& Q : Server.Queries())
        EXPECT_TRUE(Q.chopped(11).endsWith(QByteArray("\x00\x1c\x00\x01", 4)));
}
