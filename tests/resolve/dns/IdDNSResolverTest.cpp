#include "DnsReplyBuilder.h"
#include "resolve/dns/IdDNSResolver.h"
#include "support/FakeUdpServer.h"
#include "support/LocalDnsServers.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <set>

namespace {

using B = TDnsReplyBuilder;

// A reply to "www.vt.test" with the given flags and answers; the ID is patched
// in from the query by the fake server.
QByteArray WwwReply(quint16 AFlags, int AAnswers) {
    B Builder(0, AFlags);
    Builder.Question(B::Name("www.vt.test"));
    for (int I = 0; I < AAnswers; ++I)
        Builder.Answer(B::Pointer(12), 1, B::Ip(10, 0, 0, I + 1));
    return Builder.Bytes();
}

TFakeUdpServer::THandler Answering(const QByteArray& AReply) {
    return [AReply](const QByteArray& Q) -> std::optional<QByteArray> { return TFakeUdpServer::WithIdOf(Q, AReply); };
}

void SetUpResolver(TIdDNSResolver& R, const QString& AHost, int AWaitingTime = 3000) {
    R.SetIPVersion(Id_IPv4);
    R.SetQueryType({qtA});
    R.SetHost(AHost);
    R.SetWaitingTime(AWaitingTime);
    R.QueryResult().Clear();
}

QString ResolveError(TIdDNSResolver& R, const QString& AName) {
    try {
        R.Resolve(AName);
        return {};
    } catch (const EIdException& E) {
        return E.Message();
    }
}

} // namespace

TEST(DnsResolver, Defaults) {
    TIdDNSResolver R;
    EXPECT_EQ(R.Port(), 53);
    EXPECT_EQ(R.WaitingTime(), 5000);
    EXPECT_TRUE(R.AllowRecursiveQueries());
    EXPECT_EQ(R.IPVersion(), Id_IPv4);
    EXPECT_TRUE(R.QueryType().IsEmpty());
    EXPECT_TRUE(R.Host().isEmpty());
}

TEST(DnsResolver, QueryBytesOnTheWire) {
    TFakeUdpServer Server(Answering(WwwReply(0x8180, 1)));
    ASSERT_TRUE(Server.IsListening());
    TIdDNSResolver R;
    SetUpResolver(R, Server.Address());
    R.Resolve("www.vt.test");
    ASSERT_EQ(Server.QueryCount(), 1);
    const QByteArray Sent = Server.Queries().first();
    EXPECT_EQ(Sent, R.InternalQuery());
    EXPECT_EQ(Sent.left(2), B::Word(R.DNSHeader().ID));
    // One question and the EDNS0 OPT record: root owner, type 41, 1232 bytes of UDP payload.
    const QByteArray Opt = B::Hex("00 0029 04d0 00000000 0000");
    EXPECT_EQ(Sent.mid(2), B::Hex("0100 0001 0000 0000 0001") + B::Name("www.vt.test") + B::Hex("0001 0001") + Opt);

    // A trailing "." changes nothing; characters outside ASCII go out as "?"; case is kept.
    // (Replies to other names are not theirs: a short wait is enough.)
    R.SetWaitingTime(100);
    R.Resolve("www.vt.test.");
    EXPECT_EQ(Server.Queries().last().mid(2), Sent.mid(2));
    R.Resolve(QString::fromUtf8("Bü.dé"));
    EXPECT_EQ(Server.Queries().last().mid(12), QByteArray("\x02" "B?" "\x02" "d?" "\x00" "\x00\x01\x00\x01", 11) + Opt);
    R.SetAllowRecursiveQueries(false);
    R.Resolve("");
    EXPECT_EQ(Server.Queries().last().mid(2), B::Hex("0000 0001 0000 0000 0001 00 0001 0001") + Opt);
}

TEST(DnsResolver, QueryIdentifiersAreFreshAndInRange) {
    TIdDNSResolver R;
    R.SetQueryType({qtA});
    std::set<quint16> Seen;
    for (int I = 0; I < 2000; ++I) {
        R.ClearInternalQuery();
        R.CreateQuery("a.b", nullptr, 1);
        ASSERT_LE(R.DNSHeader().ID, 65534);
        ASSERT_EQ(R.InternalQuery().left(2), B::Word(R.DNSHeader().ID));
        Seen.insert(R.DNSHeader().ID);
    }
    // 2000 draws from 65535 values: duplicates are few, never most of them.
    EXPECT_GT(Seen.size(), 1900u);
}

TEST(DnsResolver, EmptyQueryTypeSendsNothing) {
    TFakeUdpServer Server(Answering(WwwReply(0x8180, 1)));
    TIdDNSResolver R;
    SetUpResolver(R, Server.Address());
    R.SetQueryType(TQueryType());
    EXPECT_EQ(ResolveError(R, "www.vt.test"), "Invalid Query Count 0");
    EXPECT_TRUE(R.InternalQuery().isEmpty());
    EXPECT_FALSE(Server.WaitForQueries(1, 100));
}

TEST(DnsResolver, RepliesOverUdp) {
    TFakeUdpServer Server;
    TIdDNSResolver R;
    SetUpResolver(R, Server.Address());

    Server.SetHandler(Answering(WwwReply(0x8180, 2)));
    ASSERT_EQ(ResolveError(R, "www.vt.test"), "");
    ASSERT_EQ(R.QueryResult().Count(), 2);
    EXPECT_EQ(static_cast<TARecord*>(R.QueryResult().GetItem(1))->IPAddress(), "10.0.0.2");
    EXPECT_EQ(R.PlainTextResult().size(), WwwReply(0x8180, 2).size());

    // A wrong ID is not the reply, even with an error RCODE: it is dropped
    // and the wait goes on (here until the time-out).
    Server.SetHandler([](const QByteArray& Q) -> std::optional<QByteArray> {
        QByteArray Reply = TFakeUdpServer::WithIdOf(Q, WwwReply(0x8183, 0));
        Reply[1] = char(Reply[1] ^ 0x01);
        return Reply;
    });
    R.QueryResult().Clear();
    R.SetWaitingTime(200);
    const QString Mismatch = ResolveError(R, "www.vt.test");
    EXPECT_EQ(Mismatch, "");
    EXPECT_TRUE(R.PlainTextResult().isEmpty());
    EXPECT_EQ(quint8(Server.Queries().last()[1]), R.DNSHeader().ID & 0xff);
    EXPECT_EQ(R.QueryResult().Count(), 0);
    R.SetWaitingTime(3000);

    Server.SetHandler(Answering(WwwReply(0x8183, 0)));
    EXPECT_EQ(ResolveError(R, "www.vt.test"), "DNS Server Reports Query Name Error");
    Server.SetHandler(Answering(WwwReply(0x8185, 0)));
    EXPECT_EQ(ResolveError(R, "www.vt.test"), "DNS Server Reports Query Refused Error");

    // Without the question a datagram is no reply, however right its ID:
    // a bare header and 3 bytes are dropped as strays, as a silent server.
    Server.SetHandler(Answering(WwwReply(0x8180, 0)));
    EXPECT_EQ(ResolveError(R, "www.vt.test"), "Invalid Packet Size 3");
    R.SetWaitingTime(200);
    for (const QByteArray& Stray : {WwwReply(0x8180, 0).left(12), B::Hex("0000 81")}) {
        Server.SetHandler(Answering(Stray));
        EXPECT_EQ(ResolveError(R, "www.vt.test"), "");
        EXPECT_TRUE(R.PlainTextResult().isEmpty());
        EXPECT_EQ(R.QueryResult().Count(), 0);
    }
    R.SetWaitingTime(3000);

    // TC set: never taken as the answer. The question goes again over TCP,
    // which this server refuses: a socket error, and none of the 3 records.
    const int Before = Server.QueryCount();
    Server.SetHandler(Answering(WwwReply(0x8380, 3)));
    EXPECT_TRUE(ResolveError(R, "www.vt.test").startsWith("Socket Error # 111"));
    EXPECT_EQ(R.QueryResult().Count(), 0);
    EXPECT_TRUE(R.UsedTCP());
    EXPECT_EQ(Server.QueryCount(), Before + 1);
}

TEST(DnsResolver, SilenceAndStrangersAreTimeouts) {
    TFakeUdpServer Server;   // answers nothing
    TIdDNSResolver R;
    SetUpResolver(R, Server.Address(), 150);
    EXPECT_EQ(ResolveError(R, "www.vt.test"), "");
    EXPECT_EQ(R.QueryResult().Count(), 0);
    EXPECT_TRUE(R.PlainTextResult().isEmpty());
    EXPECT_EQ(Server.QueryCount(), 1);

    // A correct reply from another port of the same host never reaches the lookup.
    Server.SetHandler(Answering(WwwReply(0x8180, 1)));
    Server.SetReplyFromOtherPort(true);
    EXPECT_EQ(ResolveError(R, "www.vt.test"), "");
    EXPECT_EQ(R.QueryResult().Count(), 0);
}

TEST(DnsResolver, ServerTexts) {
    TFakeUdpServer Server(Answering(WwwReply(0x8180, 1)));
    TIdDNSResolver R;
    for (const QString& Host : {QString("LOCALHOST:%1"), QString("localhost:%1"), QString(" 127.0.0.1:%1 ")}) {
        SetUpResolver(R, Host.arg(Server.Port()));
        EXPECT_EQ(ResolveError(R, "www.vt.test"), "") << Host.toStdString();
        EXPECT_EQ(R.QueryResult().Count(), 1) << Host.toStdString();
    }
    // Without a port in the text, Port applies.
    SetUpResolver(R, "127.0.0.1");
    R.SetPort(Server.Port());
    EXPECT_EQ(ResolveError(R, "www.vt.test"), "");
    EXPECT_EQ(R.QueryResult().Count(), 1);

    // A host name goes through the system resolver.
    char Name[256] = {};
    ASSERT_EQ(::gethostname(Name, sizeof(Name) - 1), 0);
    const QString HostName = QString::fromLocal8Bit(Name);
    SetUpResolver(R, HostName + QString(":%1").arg(Server.Port()));
    const QString HostError = ResolveError(R, "www.vt.test");
    if (HostError.isEmpty())
        EXPECT_EQ(R.QueryResult().Count(), 1);
    else   // the machine's name maps to an address the fake server does not listen on
        EXPECT_TRUE(HostError.startsWith("Socket Error # ")) << HostError.toStdString();

    for (const char* Bad : {"127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:", "127.0.0.1:5x"}) {
        SetUpResolver(R, Bad);
        EXPECT_EQ(ResolveError(R, "a.b"), QString("Invalid DNS server port in \"%1\"").arg(Bad)) << Bad;
    }
    // Not a dotted quad, so a name that does not exist.
    for (const char* Unknown : {"no-such-host.invalid", "1.2.3.256.invalid"}) {
        SetUpResolver(R, Unknown);
        const QString E = ResolveError(R, "a.b");
        EXPECT_TRUE(E.startsWith("Socket Error # ") && E.contains("\r\n")) << E.toStdString();
    }
}

TEST(DnsResolver, RefusedPortIsASocketError) {
    const quint16 Port = TLocalDnsServers::FreeUdpPort();
    TIdDNSResolver R;
    SetUpResolver(R, QString("127.0.0.1:%1").arg(Port), 2000);
    try {
        R.Resolve("www.vt.test");
        FAIL() << "no error for a closed port";
    } catch (const EIdSocketError& E) {
        EXPECT_EQ(E.LastError(), ECONNREFUSED);
        EXPECT_TRUE(E.Message().startsWith(QString("Socket Error # %1\r\n").arg(ECONNREFUSED)));
        EXPECT_FALSE(E.Message().endsWith("\r\n"));
    }
}

TEST(DnsExceptions, ClassesAndTexts) {
    EIdPackageSizeTooBig Big;
    EXPECT_EQ(Big.Message(), "Package Size Too Big.");
    EXPECT_EQ(Big.ClassName(), "EIdPackageSizeTooBig");
    EXPECT_NE(dynamic_cast<const EIdSocketHandleError*>(&Big), nullptr);
    EIdNotAllBytesSent Short;
    EXPECT_EQ(Short.Message(), "Not all bytes sent.");
    EXPECT_NE(dynamic_cast<const EIdException*>(&Short), nullptr);
    EIdSocketError Sock(11, "Resource temporarily unavailable");
    EXPECT_EQ(Sock.Message(), "Socket Error # 11\r\nResource temporarily unavailable");
    EXPECT_NE(dynamic_cast<const Exception*>(&Sock), nullptr);
}
