// The client against replies no honest server sends: records of other names
// and classes, CNAME chains, datagrams without the question, truncation over
// TCP, cut records, datagrams bigger than 8 KB.
#include "support/ScriptedDnsServer.h"
#include "resolve/dns/IdDNSResolver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace {

using TS = TScriptedDnsServer;
using TRecords = QList<TS::TRecord>;

const QByteArray kGood = TS::Ip(10, 0, 0, 1);
const QByteArray kEvil = TS::Ip(6, 6, 6, 6);

TS::TRecord A(const QByteArray& AIp, const QByteArray& AOwner = {}, quint16 AClass = 1) {
    return {AOwner, 1, AIp, AClass};
}
TS::TRecord Cname(const QByteArray& ATarget, const QByteArray& AOwner = {}) {
    return {AOwner, 5, TS::Encoded(ATarget)};
}

QStringList Addresses(const TIdDNSResolver& R) {
    QStringList L;
    for (const TResultRecord* Rec : R.Answers())
        L << static_cast<const TARecord*>(Rec)->IPAddress();
    std::sort(L.begin(), L.end());
    return L;
}

struct TCase {
    const char* What;
    TS::TUdpScript Udp;
    TS::TTcpScript Tcp;
    QStringList Expected;      // the addresses taken
    QString Error;             // start of the error message; empty: none
    bool Noted = false;        // "Records for other names ignored ..."
    bool BadReply = false;
};

QList<TS::TDatagram> One(const QByteArray& ABytes) { return {{ABytes}}; }

} // namespace

TEST(DnsHostile, OnlyRepliesToTheQuestionAndRecordsOfItsNameCount) {
    TRecords ManyRecords;   // 9.6 KB: more than 8 KB, without TC
    QStringList Many;
    for (int I = 0; I < 600; ++I) {
        ManyRecords << A(TS::Ip(10, 2, I / 250, I % 250 + 1));
        Many << QString("10.2.%1.%2").arg(I / 250).arg(I % 250 + 1);
    }
    std::sort(Many.begin(), Many.end());
    const TCase Cases[] = {
        {"a record of another name", [](const QByteArray& Q) { return One(TS::ReplyOf(Q, {A(kGood), A(kEvil, "evil.example")})); },
         {}, {"10.0.0.1"}, "", true},
        {"a record of class CH", [](const QByteArray& Q) { return One(TS::ReplyOf(Q, {A(kEvil, {}, 3), A(kGood)})); },
         {}, {"10.0.0.1"}, "", true},
        {"CNAME to c1 and an A record of an unrelated name: c1 is asked",
         [](const QByteArray& Q) {
             if (TS::QueryName(Q) == "c1.vt.test")
                 return One(TS::ReplyOf(Q, {A(TS::Ip(10, 0, 0, 2))}));
             return One(TS::ReplyOf(Q, {Cname("c1.vt.test"), A(kEvil, "unrelated.vt.test")}));
         },
         {}, {"10.0.0.2"}, "", true},
        {"a whole chain in one reply, in any letter case",
         [](const QByteArray& Q) {
             return One(TS::ReplyOf(Q, {Cname("c1.vt.test"), Cname("c2.vt.test", "C1.vt.test"),
                                        A(TS::Ip(10, 0, 0, 3), "c2.vt.test")}));
         },
         {}, {"10.0.0.3"}, ""},
        {"a chain that loops",
         [](const QByteArray& Q) { return One(TS::ReplyOf(Q, {Cname("c1.vt.test"), Cname("www.vt.test", "c1.vt.test")})); },
         {}, {}, "CNAME chain of www.vt.test loops"},
        {"a chain of more than 8 names, one reply each",
         [](const QByteArray& Q) { return One(TS::ReplyOf(Q, {Cname("x" + TS::QueryName(Q))})); },
         {}, {}, "CNAME chain of www.vt.test loops or has more than 8 names"},
        {"a bare header with the right ID, then the reply",
         [](const QByteArray& Q) -> QList<TS::TDatagram> {
             return {{TS::ReplyOf(Q, {}, 0, false).left(12)}, {TS::ReplyOf(Q, {A(kGood)})}};
         },
         {}, {"10.0.0.1"}, ""},
        {"NXDOMAIN without the question, then the reply",
         [](const QByteArray& Q) -> QList<TS::TDatagram> {
             return {{TS::ReplyOf(Q, {}, 3, false)}, {TS::ReplyOf(Q, {A(kGood)})}};
         },
         {}, {"10.0.0.1"}, ""},
        {"truncated over TCP too",
         [](const QByteArray& Q) { return One(TS::ReplyOf(Q, {A(kEvil)}, 0x0200)); },
         [](const QByteArray& Q) -> std::optional<QByteArray> { return TS::ReplyOf(Q, {A(kEvil)}, 0x0200); }, {},
         "Truncated reply over TCP", false, true},
        {"NODATA whose SOA is cut short",
         [](const QByteArray& Q) { return One(TS::ReplyOf(Q, {{"vt.test", 6, TS::Encoded("ns.vt.test"), 1, TS::seAuthority}})); },
         {}, {}, "Malformed reply", false, true},
        {"a reply over 8 KB without TC",
         [ManyRecords](const QByteArray& Q) { return One(TS::ReplyOf(Q, ManyRecords)); }, {}, Many, ""},
    };
    for (const TCase& C : Cases) {
        TS Server(C.Udp, C.Tcp);
        ASSERT_TRUE(Server.IsListening());
        TIdDNSResolver R;
        R.SetQueryType({qtA});
        R.SetHost(Server.Address());
        R.SetWaitingTime(3000);
        int Notes = 0;
        R.SetNote([&](const QString& AText) {
            EXPECT_EQ(AText, "Records for other names ignored in the reply for www.vt.test") << C.What;
            ++Notes;
        });
        QString Error;
        try {
            R.QueryResult().Clear();
            R.Resolve("www.vt.test");
        } catch (const EIdException& E) {
            Error = E.Message();
        }
        EXPECT_TRUE(C.Error.isEmpty() ? Error.isEmpty() : Error.startsWith(C.Error)) << C.What << ": " << Error.toStdString();
        EXPECT_EQ(Addresses(R), C.Expected) << C.What;
        EXPECT_EQ(Notes > 0, C.Noted) << C.What;
        EXPECT_LE(Notes, 1) << C.What;
        EXPECT_EQ(R.BadReply(), C.BadReply) << C.What;
        EXPECT_FALSE(R.Aborted()) << C.What;
    }
}

TEST(DnsHostile, AStrayAloneEndsAsNoReplyAndEachServerSeesOnePort) {
    // Datagrams without the question are dropped: the wait runs out as for a
    // silent server, and no answer is made of them.
    TS Strays([](const QByteArray& Q) -> QList<TS::TDatagram> {
        return {{TS::ReplyOf(Q, {}, 0, false).left(12)}, {TS::ReplyOf(Q, {}, 3, false)}};
    });
    TIdDNSResolver R;
    R.SetQueryType({qtA});
    R.SetWaitingTime(300);
    R.SetHost(Strays.Address());
    R.Resolve("www.vt.test");
    EXPECT_TRUE(R.PlainTextResult().isEmpty());
    EXPECT_TRUE(R.Answers().isEmpty());

    // Two servers in turn from one thread: each hears one source port, and
    // not the other's.
    std::thread([] {
        auto Script = [](const QByteArray& Q) { return One(TS::ReplyOf(Q, {A(kGood)})); };
        TS First(Script), Second(Script);
        TIdDNSResolver C;
        C.SetQueryType({qtA});
        C.SetWaitingTime(3000);
        for (int I = 0; I < 6; ++I) {
            C.SetHost((I % 2 ? First : Second).Address());
            C.Resolve("www.vt.test");
            EXPECT_EQ(Addresses(C), QStringList({"10.0.0.1"}));
        }
        ASSERT_EQ(First.SourcePorts().size(), 1);
        ASSERT_EQ(Second.SourcePorts().size(), 1);
        EXPECT_NE(*First.SourcePorts().begin(), *Second.SourcePorts().begin());
    }).join();
}
