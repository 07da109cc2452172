// The run's manners towards its servers: a queries-per-second limit shared by
// all workers, waits before retries, and Break that cuts either wait short.
#include "ResolveHarness.h"

#include "resolve/uQueryPacer.h"
#include "support/FakeUdpServer.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

// A well-formed answer to AQuery: one A record, 10.0.0.1.
QByteArray AnswerOf(const QByteArray& AQuery) {
    int P = 12;
    while (P < AQuery.size() && quint8(AQuery[P]) != 0)
        P += 1 + quint8(AQuery[P]);
    QByteArray R = AQuery.left(P + 5);
    R[2] = char(0x81);
    R[3] = char(0x80);
    R[6] = 0, R[7] = 1;
    R[8] = R[9] = R[10] = R[11] = 0;
    return R + QByteArray::fromHex("c00c000100010000003c0004 0a000001");
}

// Counts the queries it answers, with their arrival times.
struct TCountingServer {
    explicit TCountingServer(bool AAnswer)
        : Server([this, AAnswer](const QByteArray& Q) -> std::optional<QByteArray> {
              std::lock_guard<std::mutex> Lock(CS);
              Times.push_back(TClock::now());
              if (!AAnswer)
                  return std::nullopt;
              return AnswerOf(Q);
          }) {}
    std::vector<TClock::time_point> Arrivals() {
        std::lock_guard<std::mutex> Lock(CS);
        return Times;
    }
    // The most queries that arrived within any one second.
    int BusiestSecond() {
        const auto T = Arrivals();
        int Most = 0;
        for (size_t I = 0, J = 0; I < T.size(); ++I) {
            while (T[I] - T[J] >= std::chrono::seconds(1))
                ++J;
            Most = std::max(Most, int(I - J + 1));
        }
        return Most;
    }
    std::mutex CS;
    std::vector<TClock::time_point> Times;
    TFakeUdpServer Server;
};

QStringList Names(int ACount) {
    QStringList L;
    for (int I = 0; I < ACount; ++I)
        L << QString("n%1.vt.test").arg(I);
    return L;
}

qint64 MSecBetween(TClock::time_point A, TClock::time_point B) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(B - A).count();
}

} // namespace

TEST(QueryPacer, TheLimitHoldsAcrossThreadsAndBackoffGrows) {
    TQueryPacer Pacer;
    Pacer.SetMaxQPS(300);
    std::atomic<bool> Stop{false};
    std::mutex CS;
    std::vector<TClock::time_point> Slots;
    std::vector<std::thread> Threads;
    const auto Start = TClock::now();
    for (int W = 0; W < 8; ++W)
        Threads.emplace_back([&] {
            while (TClock::now() - Start < std::chrono::milliseconds(1500))
                if (Pacer.Acquire([&] { return Stop.load(); })) {
                    std::lock_guard<std::mutex> Lock(CS);
                    Slots.push_back(TClock::now());
                }
        });
    for (std::thread& T : Threads)
        T.join();
    std::sort(Slots.begin(), Slots.end());
    // Any second: at most the limit (plus the 10% a clock allows), and the
    // whole span used, not one burst.
    int Most = 0;
    for (size_t I = 0, J = 0; I < Slots.size(); ++I) {
        while (Slots[I] - Slots[J] >= std::chrono::seconds(1))
            ++J;
        Most = std::max(Most, int(I - J + 1));
    }
    EXPECT_LE(Most, 330);
    EXPECT_GE(Most, 270);
    EXPECT_GE(int(Slots.size()), 400);

    // 100 ms doubling to 2 s, a random half of it.
    for (int Attempt = 1; Attempt <= 10; ++Attempt) {
        const int Full = std::min(2000, 100 << std::min(Attempt - 1, 5));
        for (int I = 0; I < 20; ++I) {
            const int B = TQueryPacer::BackoffMSec(Attempt);
            EXPECT_GE(B, Full / 2) << Attempt;
            EXPECT_LE(B, Full) << Attempt;
        }
    }

    // A limit wait ends on a stop request within a slice.
    Pacer.SetMaxQPS(1);
    Pacer.Reset();
    EXPECT_TRUE(Pacer.Acquire({}));
    std::thread Breaker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        Stop = true;
    });
    QElapsedTimer T;
    T.start();
    EXPECT_FALSE(Pacer.Acquire([&] { return Stop.load(); }));
    Breaker.join();
    EXPECT_LT(T.elapsed(), 300);
}

TEST(PacingRun, MaxQPSHoldsForLookupsAndBlocklistChecksTogether) {
    TCountingServer Counting(true);
    ASSERT_TRUE(Counting.Server.IsListening());
    TResolveRun R;
    R.SetDomains(Names(150));
    R.SetDNS({Counting.Server.Address()});
    // Every domain is checked against the zone first: two queries a domain.
    R.SetDBL(blSuppress, {"dbl.vt-bl.test"});
    R.Utils.SetThreads(16);
    R.Utils.SetPauseMSec(0);
    R.Utils.SetMaxQPS(200);
    QElapsedTimer T;
    T.start();
    ASSERT_TRUE(R.Run(30000));
    // 300 queries at 200 a second.
    EXPECT_EQ(int(Counting.Arrivals().size()), 300);
    EXPECT_GE(T.elapsed(), 1300);
    EXPECT_LE(Counting.BusiestSecond(), 220);
    EXPECT_GE(Counting.BusiestSecond(), 180);
    EXPECT_EQ(R.Utils.RunCounters().LookupsFailed, 0);
}

TEST(PacingRun, RetriesWaitLongerEachTime) {
    TCountingServer Silent(false);
    ASSERT_TRUE(Silent.Server.IsListening());
    TResolveRun R;
    R.SetDomains({"gone.vt.test"});
    R.SetDNS({Silent.Server.Address()});
    R.Utils.SetThreads(1);
    R.Utils.SetPauseMSec(0);
    R.Utils.SetDNSTimeoutMSec(60);
    R.Utils.SetDNSRetries(3);
    ASSERT_TRUE(R.Run(20000));
    const auto T = Silent.Arrivals();
    ASSERT_EQ(T.size(), 4u);
    // The time-out, then a backoff of 50-100, 100-200 and 200-400 ms.
    const int MinBackoff[] = {50, 100, 200};
    for (int I = 0; I < 3; ++I) {
        EXPECT_GE(MSecBetween(T[I], T[I + 1]), 60 + MinBackoff[I] - 5) << "retry " << I + 1;
        EXPECT_LE(MSecBetween(T[I], T[I + 1]), 60 + 2 * MinBackoff[I] + 150) << "retry " << I + 1;
    }
    EXPECT_EQ(R.Utils.RunCounters().LookupsFailed, 1);
}

TEST(PacingRun, BreakEndsBackoffsAndLimitWaitsWithinHalfASecond) {
    struct TCase {
        const char* What;
        bool Answer;
        int MaxQPS, Retries, Timeout;
    } Cases[] = {{"workers in backoffs of up to 2 s", false, 0, 10, 20},
                 {"workers waiting for slots of a limit of 2 a second", true, 2, 0, 1000}};
    for (const TCase& C : Cases) {
        TCountingServer Counting(C.Answer);
        ASSERT_TRUE(Counting.Server.IsListening());
        TResolveRun R;
        R.SetDomains(Names(200));
        R.SetDNS({Counting.Server.Address()});
        R.Utils.SetThreads(32);
        R.Utils.SetPauseMSec(0);
        R.Utils.SetMaxQPS(C.MaxQPS);
        R.Utils.SetDNSRetries(C.Retries);
        R.Utils.SetDNSTimeoutMSec(C.Timeout);
        R.Start();
        // Long enough for every worker to sit in one of the waits.
        QElapsedTimer Settle;
        Settle.start();
        while (Settle.elapsed() < 1500)
            R.WaitEnd(50);
        ASSERT_FALSE(R.Ended) << C.What;
        QElapsedTimer T;
        T.start();
        R.Progress.BreakClick();
        ASSERT_TRUE(R.WaitEnd(10000)) << C.What;
        EXPECT_LT(T.elapsed(), 500) << C.What;
    }
}
