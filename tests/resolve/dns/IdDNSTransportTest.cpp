#include "DnsReplyBuilder.h"
#include "support/ScriptedDnsServer.h"
#include "resolve/dns/IdDNSResolver.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using B = TDnsReplyBuilder;
using TS = TScriptedDnsServer;

QList<QByteArray> Addresses(int ACount) {
    QList<QByteArray> L;
    for (int I = 0; I < ACount; ++I)
        L << B::Ip(10, 1, I / 250, I % 250 + 1);
    return L;
}

QStringList ARecords(const TIdDNSResolver& R) {
    QStringList L;
    for (int I = 0; I < R.QueryResult().Count(); ++I)
        if (R.QueryResult().GetItem(I)->RecType() == qtA)
            L << static_cast<const TARecord*>(R.QueryResult().GetItem(I))->IPAddress();
    return L;
}

void Prepare(TIdDNSResolver& R, const QString& AHost, int AWait = 2000) {
    R.SetQueryType({qtA});
    R.SetHost(AHost);
    R.SetWaitingTime(AWait);
    R.QueryResult().Clear();
}

QString ResolveError(TIdDNSResolver& R, const QString& AName) {
    try {
        R.QueryResult().Clear();
        R.Resolve(AName);
        return {};
    } catch (const EIdException& E) {
        return E.Message();
    }
}

} // namespace

TEST(DnsTransport, EveryQueryOffersEdnsAndTheReplysOptRecordIsNoData) {
    // The server echoes an OPT record back, as EDNS servers do.
    TS Server([](const QByteArray& Q) -> QList<TS::TDatagram> {
        QByteArray R = TS::AnswerOf(Q, Addresses(2));
        R[11] = 1;
        R += QByteArray::fromHex("00 0029 04d0 00000000 0000");
        return {{R}};
    });
    ASSERT_TRUE(Server.IsListening());
    TIdDNSResolver R;
    Prepare(R, Server.Address());
    ASSERT_EQ(ResolveError(R, "www.vt.test"), "");
    // Header: one question, one additional record; the OPT record closes the query.
    EXPECT_EQ(R.InternalQuery().mid(4, 8), B::Hex("0001 0000 0000 0001"));
    EXPECT_EQ(R.InternalQuery().right(11), B::Hex("00 0029 04d0 00 00 0000 0000"));
    // Only the two answers are records; the header no longer counts the OPT.
    EXPECT_EQ(ARecords(R), QStringList({"10.1.0.1", "10.1.0.2"}));
    EXPECT_EQ(R.QueryResult().Count(), 2);
    EXPECT_EQ(R.DNSHeader().ARCount, 0);

    // A reply holding nothing but the OPT record is still a reply without
    // records, with the header a caller reads for "no such record".
    TS Empty([](const QByteArray& Q) -> QList<TS::TDatagram> {
        QByteArray R = TS::AnswerOf(Q, {});
        R[11] = 1;
        return {{R + QByteArray::fromHex("00 0029 04d0 00000000 0000")}};
    });
    Prepare(R, Empty.Address());
    EXPECT_EQ(ResolveError(R, "www.vt.test"), "Invalid Packet Size 3");
    EXPECT_EQ(R.DNSHeader().ARCount, 0);
    EXPECT_EQ(R.DNSHeader().ANCount, 0);
}

TEST(DnsTransport, AServerWithoutEdnsIsAskedAgainWithoutIt) {
    // FORMERR to any query with an additional record, as servers from before EDNS0 answer.
    TS Old([](const QByteArray& Q) -> QList<TS::TDatagram> {
        if (Q[11] != 0)
            return {{TS::AnswerOf(Q, {}, 0x0001)}};
        return {{TS::AnswerOf(Q, {B::Ip(10, 0, 0, 9)})}};
    });
    ASSERT_TRUE(Old.IsListening());
    TIdDNSResolver R;
    Prepare(R, Old.Address());
    EXPECT_EQ(ResolveError(R, "old.vt.test"), "");
    EXPECT_EQ(ARecords(R), QStringList({"10.0.0.9"}));
    EXPECT_EQ(Old.UdpQueries(), 2);
    EXPECT_EQ(R.InternalQuery().mid(4, 8), B::Hex("0001 0000 0000 0000"));
    // The next lookup offers EDNS0 again.
    EXPECT_EQ(ResolveError(R, "old.vt.test"), "");
    EXPECT_EQ(Old.UdpQueries(), 4);

    // A FORMERR that carries an OPT record knows EDNS0: the error stands.
    TS Edns([](const QByteArray& Q) -> QList<TS::TDatagram> {
        QByteArray R = TS::AnswerOf(Q, {}, 0x0001);
        R[11] = 1;
        return {{R + QByteArray::fromHex("00 0029 04d0 00000000 0000")}};
    });
    Prepare(R, Edns.Address());
    EXPECT_EQ(ResolveError(R, "bad.vt.test"), "DNS Server Reports Query Format Error");
    EXPECT_EQ(Edns.UdpQueries(), 1);
}

TEST(DnsTransport, TruncatedRepliesAreAskedAgainOverTcp) {
    struct TCase {
        const char* What;
        int UdpRecords;   // records the truncated datagram still carries
    } Cases[] = {{"TC with part of the records", 3}, {"TC with no record at all", 0}};
    for (const TCase& C : Cases) {
        TS Server([&](const QByteArray& Q) -> QList<TS::TDatagram> {
                      return {{TS::AnswerOf(Q, Addresses(45).mid(0, C.UdpRecords), 0x0200)}};
                  },
                  [](const QByteArray& Q) -> std::optional<QByteArray> { return TS::AnswerOf(Q, Addresses(45)); });
        ASSERT_TRUE(Server.IsListening());
        TIdDNSResolver R;
        Prepare(R, Server.Address());
        EXPECT_EQ(ResolveError(R, "many.vt.test"), "") << C.What;
        EXPECT_EQ(ARecords(R).size(), 45) << C.What;
        EXPECT_TRUE(R.UsedTCP()) << C.What;
        EXPECT_EQ(Server.TcpQueries(), 1) << C.What;
        EXPECT_FALSE(R.DNSHeader().TC()) << C.What;
    }
}

TEST(DnsTransport, TcpThatFailsIsAFailedLookupWithinTheTimeOut) {
    const auto Truncated = [](const QByteArray& Q) -> QList<TS::TDatagram> {
        return {{TS::AnswerOf(Q, Addresses(3), 0x0200)}};
    };
    // Accepts, reads the question and never answers: the time-out is the
    // whole lookup's, and nothing of the truncated reply is kept.
    TS Silent(Truncated, [](const QByteArray&) -> std::optional<QByteArray> { return std::nullopt; });
    ASSERT_TRUE(Silent.IsListening());
    TIdDNSResolver R;
    Prepare(R, Silent.Address(), 600);
    QElapsedTimer T;
    T.start();
    EXPECT_EQ(ResolveError(R, "many.vt.test"), "");
    EXPECT_LT(T.elapsed(), 1500);
    EXPECT_GE(T.elapsed(), 550);
    EXPECT_TRUE(R.PlainTextResult().isEmpty());
    EXPECT_EQ(R.QueryResult().Count(), 0);
    EXPECT_TRUE(R.UsedTCP());
    EXPECT_FALSE(R.Aborted());

    // Break while the TCP reply is awaited: aborted, not timed out.
    std::atomic<bool> Stop{false};
    R.SetAbortCheck([&] { return Stop.load(); });
    R.SetWaitingTime(5000);
    std::thread Breaker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        Stop = true;
    });
    T.restart();
    EXPECT_EQ(ResolveError(R, "many.vt.test"), "");
    Breaker.join();
    EXPECT_LT(T.elapsed(), 600);
    EXPECT_TRUE(R.Aborted());
    EXPECT_EQ(R.QueryResult().Count(), 0);

    // No TCP listener at all: a socket error, which the job retries.
    TS NoTcp(Truncated);
    ASSERT_TRUE(NoTcp.IsListening());
    R.SetAbortCheck({});
    Prepare(R, NoTcp.Address());
    EXPECT_TRUE(ResolveError(R, "many.vt.test").startsWith("Socket Error # 111"));
    EXPECT_EQ(R.QueryResult().Count(), 0);
}

TEST(DnsTransport, OnlyTheServersReplyToThisQuestionIsTaken) {
    // Each question gets datagrams that must all be passed over before the
    // true answer: from another port, from another address, with another
    // identifier, for another question, and the reply to the previous query.
    QByteArray Previous;
    TS Server([&](const QByteArray& Q) -> QList<TS::TDatagram> {
        const QByteArray True = TS::AnswerOf(Q, {B::Ip(10, 9, 9, 9)});
        QByteArray OtherId = TS::AnswerOf(Q, {B::Ip(6, 6, 6, 1)});
        OtherId[1] = char(OtherId[1] ^ 0x5A);
        QByteArray OtherQuestion = TS::AnswerOf(Q, {B::Ip(6, 6, 6, 2)});
        OtherQuestion[13] = char(OtherQuestion[13] ^ 0x01);   // first letter of the name
        QList<TS::TDatagram> Out{{TS::AnswerOf(Q, {B::Ip(6, 6, 6, 3)}), TS::frOtherPort},
                                 {TS::AnswerOf(Q, {B::Ip(6, 6, 6, 4)}), TS::frOtherAddress},
                                 {OtherId},
                                 {OtherQuestion}};
        if (!Previous.isEmpty())
            Out << TS::TDatagram{TS::AnswerOf(Previous, {B::Ip(6, 6, 6, 5)})};
        Previous = Q;
        return Out << TS::TDatagram{True};
    });
    ASSERT_TRUE(Server.IsListening());
    TIdDNSResolver R;
    Prepare(R, Server.Address());
    for (const char* Name : {"a.vt.test", "b.vt.test", "c.vt.test", "a.vt.test"}) {
        EXPECT_EQ(ResolveError(R, Name), "") << Name;
        EXPECT_EQ(ARecords(R), QStringList({"10.9.9.9"})) << Name;
    }
    // The question's letter case may differ (0x20 hardening on the server's side).
    TS Upper([](const QByteArray& Q) -> QList<TS::TDatagram> {
        QByteArray R = TS::AnswerOf(Q, {B::Ip(10, 0, 0, 7)});
        for (int I = 12; I < 12 + 15; ++I)   // "\x05mixed\x02vt\x04test\0"
            R[I] = QChar::toUpper(uint(uchar(R[I])));
        return {{R}};
    });
    Prepare(R, Upper.Address());
    EXPECT_EQ(ResolveError(R, "mixed.vt.test"), "");
    EXPECT_EQ(ARecords(R).size(), 1);

    // Only the false ones: nothing is taken, the lookup times out quietly.
    TS Forger([](const QByteArray& Q) -> QList<TS::TDatagram> {
        return {{TS::AnswerOf(Q, {B::Ip(6, 6, 6, 6)}), TS::frOtherPort},
                {TS::AnswerOf(Q, {B::Ip(6, 6, 6, 6)}), TS::frOtherAddress}};
    });
    Prepare(R, Forger.Address(), 300);
    EXPECT_EQ(ResolveError(R, "x.vt.test"), "");
    EXPECT_TRUE(R.PlainTextResult().isEmpty());
    EXPECT_EQ(R.QueryResult().Count(), 0);
}

TEST(DnsTransport, WorkersKeepTheirSocketsForAHundredLookups) {
    TS Server([](const QByteArray& Q) -> QList<TS::TDatagram> { return {{TS::AnswerOf(Q, {B::Ip(10, 0, 0, 1)})}}; });
    ASSERT_TRUE(Server.IsListening());
    const int Workers = 8, PerWorker = 1250;
    std::atomic<int> Answered{0};
    std::vector<std::thread> Threads;
    for (int W = 0; W < Workers; ++W)
        Threads.emplace_back([&, W] {
            TIdDNSResolver R;
            Prepare(R, Server.Address());
            for (int I = 0; I < PerWorker; ++I)
                if (ResolveError(R, QString("n%1-%2.vt.test").arg(W).arg(I)).isEmpty() && ARecords(R).size() == 1)
                    ++Answered;
        });
    for (std::thread& T : Threads)
        T.join();
    EXPECT_EQ(Answered, Workers * PerWorker);
    // 13 sockets a worker (1,250 lookups, a new socket every 100); a source
    // port may come round twice.
    const int Ports = Server.SourcePorts().size();
    EXPECT_LE(Ports, Workers * 13);
    EXPECT_GE(Ports, Workers * 10);

    // A time-out leaves the socket behind: the next lookup comes from a new
    // port. On a thread of its own, whose sockets are all fresh.
    TS Once([](const QByteArray& Q) -> QList<TS::TDatagram> {
        if (Q.contains("silent"))
            return {};
        return {{TS::AnswerOf(Q, {B::Ip(10, 0, 0, 1)})}};
    });
    std::thread([&] {
        TIdDNSResolver R;
        Prepare(R, Once.Address(), 200);
        EXPECT_EQ(ResolveError(R, "one.vt.test"), "");
        EXPECT_EQ(ResolveError(R, "two.vt.test"), "");
        EXPECT_EQ(Once.SourcePorts().size(), 1);
        EXPECT_EQ(ResolveError(R, "silent.vt.test"), "");
        EXPECT_EQ(ResolveError(R, "three.vt.test"), "");
        EXPECT_EQ(Once.SourcePorts().size(), 2);
    }).join();
}

TEST(DnsTransport, GateAndPauseEndAsAborted) {
    TS Server([](const QByteArray& Q) -> QList<TS::TDatagram> { return {{TS::AnswerOf(Q, {B::Ip(10, 0, 0, 1)})}}; });
    ASSERT_TRUE(Server.IsListening());
    TIdDNSResolver R;
    Prepare(R, Server.Address());
    std::atomic<bool> Stop{false};
    R.SetAbortCheck([&] { return Stop.load(); });
    int Gated = 0;
    R.SetQueryGate([&] {
        ++Gated;
        return !Stop;
    });
    EXPECT_EQ(ResolveError(R, "a.vt.test"), "");
    EXPECT_EQ(Gated, 1);
    EXPECT_EQ(ARecords(R).size(), 1);
    EXPECT_TRUE(R.Pause(60));
    EXPECT_FALSE(R.Aborted());

    // A gate that ends its wait on a stop request: nothing goes out.
    R.SetQueryGate([&] {
        Stop = true;
        return false;
    });
    EXPECT_EQ(ResolveError(R, "b.vt.test"), "");
    EXPECT_TRUE(R.Aborted());
    EXPECT_EQ(Server.UdpQueries(), 1);

    // A pause cut short reads as aborted, within a poll interval.
    Stop = false;
    std::thread Breaker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        Stop = true;
    });
    QElapsedTimer T;
    T.start();
    EXPECT_FALSE(R.Pause(5000));
    Breaker.join();
    EXPECT_LT(T.elapsed(), 400);
    EXPECT_TRUE(R.Aborted());
}
