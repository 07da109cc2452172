// The stop hook of the DNS client: a lookup waiting for a silent server must
// end soon after the check says stop, and must not be disturbed otherwise.
#include "DnsReplyBuilder.h"
#include "resolve/dns/IdDNSResolver.h"
#include "support/FakeUdpServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

qint64 MSecSince(Clock::time_point AStart) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - AStart).count();
}

void Prepare(TIdDNSResolver& R, const QString& AHost, int AWaitingTime) {
    R.SetIPVersion(Id_IPv4);
    R.SetQueryType({qtA});
    R.SetHost(AHost);
    R.SetWaitingTime(AWaitingTime);
    R.QueryResult().Clear();
}

QByteArray OneAnswer() {
    TDnsReplyBuilder B(0, 0x8180);
    B.Question(TDnsReplyBuilder::Name("www.vt.test"));
    B.Answer(TDnsReplyBuilder::Pointer(12), 1, TDnsReplyBuilder::Ip(10, 0, 0, 1));
    return B.Bytes();
}

} // namespace

TEST(DnsAbortCheck, StopEndsTheWaitForASilentServer) {
    TFakeUdpServer Server;   // never answers
    TIdDNSResolver R;
    Prepare(R, Server.Address(), 20000);
    std::atomic<bool> Stop{false};
    R.SetAbortCheck([&Stop] { return Stop.load(); });

    Clock::time_point StopAt;
    std::thread Stopper([&] {
        // Only once the query is out is the lookup surely waiting.
        if (Server.WaitForQueries(1, 5000))
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        StopAt = Clock::now();
        Stop = true;
    });
    R.Resolve("www.vt.test");   // a stop is not an error
    const Clock::time_point Returned = Clock::now();
    Stopper.join();

    EXPECT_EQ(Server.QueryCount(), 1);
    EXPECT_TRUE(R.Aborted());
    EXPECT_EQ(R.QueryResult().Count(), 0);
    EXPECT_TRUE(R.PlainTextResult().isEmpty());
    // Polled every 50 ms; the bound leaves room for a loaded machine and is
    // still far below the 20 s a full wait would take.
    const qint64 Late = std::chrono::duration_cast<std::chrono::milliseconds>(Returned - StopAt).count();
    EXPECT_LT(Late, 1500) << "the lookup went on " << Late << " ms after the stop";
}

TEST(DnsAbortCheck, PolledOftenWhileWaitingAndWaitingTimeStaysTheBound) {
    TFakeUdpServer Server;
    TIdDNSResolver R;
    Prepare(R, Server.Address(), 700);
    std::atomic<int> Calls{0};
    R.SetAbortCheck([&Calls] {
        ++Calls;
        return false;
    });
    const Clock::time_point Start = Clock::now();
    R.Resolve("www.vt.test");
    const qint64 Took = MSecSince(Start);
    EXPECT_FALSE(R.Aborted());
    EXPECT_EQ(R.QueryResult().Count(), 0);
    EXPECT_GE(Took, 690);
    EXPECT_LT(Took, 5000);
    // At least once per 100 ms of the wait, plus the check before sending.
    EXPECT_GE(Calls.load(), 7) << "checked " << Calls.load() << " times in " << Took << " ms";
}

TEST(DnsAbortCheck, StoppedBeforehandSendsNothingAndLooksUpNoHost) {
    TFakeUdpServer Server;
    TIdDNSResolver R;
    Prepare(R, Server.Address(), 5000);
    R.SetAbortCheck([] { return true; });
    const Clock::time_point Start = Clock::now();
    R.Resolve("www.vt.test");
    EXPECT_LT(MSecSince(Start), 1000);
    EXPECT_TRUE(R.Aborted());
    EXPECT_FALSE(Server.WaitForQueries(1, 300));

    // A server name is not even looked up: no socket error for one that cannot be found.
    R.SetHost("nosuch.invalid");
    EXPECT_NO_THROW(R.Resolve("www.vt.test"));
    EXPECT_TRUE(R.Aborted());
}

TEST(DnsAbortCheck, ReplyAfterManyPollsIsTakenAndAbortedIsPerLookup) {
    // The answer comes after several poll slices have passed.
    TFakeUdpServer Server([](const QByteArray& Q) -> std::optional<QByteArray> {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return TFakeUdpServer::WithIdOf(Q, OneAnswer());
    });
    TIdDNSResolver R;
    Prepare(R, Server.Address(), 5000);
    bool Stop = true;
    R.SetAbortCheck([&Stop] { return Stop; });
    R.Resolve("www.vt.test");
    ASSERT_TRUE(R.Aborted());

    Stop = false;
    R.QueryResult().Clear();
    R.Resolve("www.vt.test");
    EXPECT_FALSE(R.Aborted());
    ASSERT_EQ(R.QueryResult().Count(), 1);
    EXPECT_EQ(static_cast<const TARecord*>(R.QueryResult().Items(0))->IPAddress(), "10.0.0.1");

    // Without a check the client waits in one piece, as before.
    R.SetAbortCheck({});
    R.QueryResult().Clear();
    R.Resolve("www.vt.test");
    EXPECT_FALSE(R.Aborted());
    EXPECT_EQ(R.QueryResult().Count(), 1);
}
