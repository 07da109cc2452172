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
