#include "resolve/dns/IdDNSResolver.h"
#include "support/FakeUdpServer.h"
#include "support/LocalDnsServers.h"

#include <gtest/gtest.h>

namespace {

int Rcode(const QByteArray& AReply) {
    return AReply.size() >= 4 ? quint8(AReply[3]) & 0x0f : -1;
}
int AnswerCount(const QByteArray& AReply) {
    return AReply.size() >= 8 ? (quint8(AReply[6]) << 8) | quint8(AReply[7]) : -1;
}

} // namespace

// The shared fixture itself: the servers it starts must answer the way the
// resolver and resolve-job tests rely on.
TEST(LocalDnsServers, ServesHostsNxdomainAndForwardedBlocklists) {
    VT_SKIP_WITHOUT_DNS_SERVERS();
    TLocalDnsServers Servers;
    ASSERT_TRUE(Servers.Start()) << Servers.LastError().toStdString();
    const quint16 Port = Servers.DnsPort();
    ASSERT_NE(Port, 0);
    EXPECT_EQ(Servers.DnsAddress(), QString("127.0.0.1:%1").arg(Port));

    const QByteArray Www = TLocalDnsServers::QueryOnce(Port, "www.vt.test", 2000);
    EXPECT_EQ(Rcode(Www), 0);
    EXPECT_EQ(AnswerCount(Www), 3);
    EXPECT_EQ(Rcode(TLocalDnsServers::QueryOnce(Port, "unknown.vt.test", 2000)), 3);

    const QByteArray Listed = TLocalDnsServers::QueryOnce(Port, "x.evil.example.dbl.vt-bl.test", 2000);
    EXPECT_EQ(Rcode(Listed), 0);
    ASSERT_EQ(AnswerCount(Listed), 1);
    EXPECT_TRUE(Listed.endsWith(QByteArray("\x00\x04\x7f\x00\x00\x02", 6)));
    EXPECT_EQ(Rcode(TLocalDnsServers::QueryOnce(Port, "good.example.dbl.vt-bl.test", 2000)), 3);
    EXPECT_EQ(AnswerCount(TLocalDnsServers::QueryOnce(Port, "3.2.1.10.rbl1.vt-bl.test", 2000)), 1);
    EXPECT_EQ(AnswerCount(TLocalDnsServers::QueryOnce(Port, "7.7.9.10.rbl1.vt-bl.test", 2000)), 1);
    EXPECT_EQ(Rcode(TLocalDnsServers::QueryOnce(Port, "3.2.1.10.rbl2.vt-bl.test", 2000)), 3);
    EXPECT_EQ(AnswerCount(TLocalDnsServers::QueryOnce(Port, "10.2.0.192.rbl2.vt-bl.test", 2000)), 1);
}

// IPv6: dnsmasq answers AAAA questions from hosts entries with IPv6
// addresses, and rbldnsd serves ip6tset and ip6trie zones under the
// addresses' nibble names.
TEST(LocalDnsServers, AnswersAaaaAndServesIPv6Zones) {
    VT_SKIP_WITHOUT_DNS_SERVERS();
    TLocalDnsServers Servers;
    TLocalDnsServers::TOptions Options;
    Options.Hosts = {{"10.0.0.1", "dual.vt.test"},
                     {"2001:db8::10", "dual.vt.test"},
                     {"2001:db8:0:0:0:0:0:11", "dual.vt.test"},
                     {"2001:db8::20", "six.vt.test"}};
    Options.Zones = {{"rbl6t.vt-bl.test", "ip6tset", {"2001:db8:1:2"}},
                     {"rbl6.vt-bl.test", "ip6trie", {"2001:db8:bad::/48", "2001:db8::20"}}};
    ASSERT_TRUE(Servers.Start(Options)) << Servers.LastError().toStdString();

    TIdDNSResolver R;
    R.SetIPVersion(Id_IPv4);
    R.SetHost(Servers.DnsAddress());
    R.SetWaitingTime(3000);
    const auto Lookup = [&R](const QString& AName, TQueryRecordTypes AType) {
        R.SetQueryType({AType});
        R.QueryResult().Clear();
        try {
            R.Resolve(AName);
        } catch (const std::exception&) {
            // The client raises on a reply without records.
            return std::string("raised");
        }
        QStringList Out;
        for (int I = 0; I < R.QueryResult().Count(); ++I) {
            const TResultRecord* Rec = R.QueryResult().GetItem(I);
            if (Rec->RecType() == qtAAAA)
                Out << "AAAA " + static_cast<const TAAAARecord*>(Rec)->Address();
            else if (Rec->RecType() == qtA)
                Out << "A " + static_cast<const TARecord*>(Rec)->IPAddress();
        }
        Out.sort();
        return Out.join(", ").toStdString();
    };
    EXPECT_EQ(Lookup("dual.vt.test", qtAAAA), "AAAA 2001:db8:0:0:0:0:0:10, AAAA 2001:db8:0:0:0:0:0:11");
    EXPECT_EQ(Lookup("dual.vt.test", qtA), "A 10.0.0.1");
    EXPECT_EQ(Lookup("six.vt.test", qtAAAA), "AAAA 2001:db8:0:0:0:0:0:20");
    EXPECT_EQ(Lookup("six.vt.test", qtA), "raised");

    const quint16 Port = Servers.DnsPort();
    // 2001:db8:1:2::5 lies in the listed /64 of the ip6tset zone, 2001:db8:1:3::5 does not.
    const QByteArray InSet = TLocalDnsServers::QueryOnce(
        Port, "5.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.2.0.0.0.1.0.0.0.8.b.d.0.1.0.0.2.rbl6t.vt-bl.test", 2000);
    EXPECT_EQ(Rcode(InSet), 0);
    ASSERT_EQ(AnswerCount(InSet), 1);
    EXPECT_TRUE(InSet.endsWith(QByteArray("\x00\x04\x7f\x00\x00\x02", 6)));
    EXPECT_EQ(Rcode(TLocalDnsServers::QueryOnce(
                  Port, "5.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.3.0.0.0.1.0.0.0.8.b.d.0.1.0.0.2.rbl6t.vt-bl.test", 2000)),
              3);
    // The ip6trie zone: an address in the /48, the single address, and one beside it.
    EXPECT_EQ(AnswerCount(TLocalDnsServers::QueryOnce(
                  Port, "1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.1.0.0.0.d.a.b.0.8.b.d.0.1.0.0.2.rbl6.vt-bl.test", 2000)),
              1);
    EXPECT_EQ(AnswerCount(TLocalDnsServers::QueryOnce(
                  Port, "0.2.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.rbl6.vt-bl.test", 2000)),
              1);
    EXPECT_EQ(Rcode(TLocalDnsServers::QueryOnce(
                  Port, "1.2.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.rbl6.vt-bl.test", 2000)),
              3);
}

TEST(LocalDnsServers, SecondInstanceAndStoppedInstance) {
    VT_SKIP_WITHOUT_DNS_SERVERS();
    TLocalDnsServers Servers;
    TLocalDnsServers::TOptions Options;
    Options.Hosts = {{"198.51.100.7", "only.vt.test"}};
    Options.Zones.clear();
    ASSERT_TRUE(Servers.Start(Options)) << Servers.LastError().toStdString();
    const int Second = Servers.StartAnotherDnsmasq();
    ASSERT_EQ(Second, 1) << Servers.LastError().toStdString();
    EXPECT_NE(Servers.DnsPort(0), Servers.DnsPort(1));
    EXPECT_EQ(AnswerCount(TLocalDnsServers::QueryOnce(Servers.DnsPort(1), "only.vt.test", 2000)), 1);

    Servers.StopDnsmasq(0);
    EXPECT_TRUE(TLocalDnsServers::QueryOnce(Servers.DnsPort(0), "only.vt.test", 200).isEmpty());
    EXPECT_EQ(AnswerCount(TLocalDnsServers::QueryOnce(Servers.DnsPort(1), "only.vt.test", 2000)), 1);
}

TEST(FakeUdpServer, AnswersWithTheQueryIdAndRecordsQueries) {
    TFakeUdpServer Server([](const QByteArray& Q) -> std::optional<QByteArray> {
        return TFakeUdpServer::WithIdOf(Q, TFakeUdpServer::Hex("0000 8180 0001 0000 0000 0000"));
    });
    ASSERT_TRUE(Server.IsListening());
    const QByteArray Reply = TLocalDnsServers::QueryOnce(Server.Port(), "a.b", 2000);
    ASSERT_EQ(Reply.size(), 12);
    EXPECT_EQ(quint8(Reply[0]), 0x5a);
    EXPECT_EQ(quint8(Reply[2]), 0x81);
    EXPECT_EQ(Server.QueryCount(), 1);
    EXPECT_EQ(Server.Queries().first().mid(12, 5), QByteArray("\x01" "a" "\x01" "b" "\x00", 5));
}
