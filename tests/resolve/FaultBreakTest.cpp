// Break pressed over and over during runs of 500 workers: while the workers
// are being created, while they wait on lookups, and again while the run is
// already ending. Every run must end once, with no thread left behind.
#include "ResolveHarness.h"

#include "engine/uMainThread.h"
#include "support/FakeUdpServer.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

namespace {

constexpr int kThreads = 500;
constexpr int kRuns = 10;
constexpr int kPressesPerRun = 10;

QStringList ManyDomains(int N) {
    QStringList L;
    for (int I = 0; I < N; ++I)
        L << QString("b%1.vt.test").arg(I);
    return L;
}

} // namespace

TEST(FaultBreakTest, HundredBreaksDuringRunsOfFiveHundredWorkers) {
    // A server that never answers: every worker sits in a lookup when Break comes.
    TFakeUdpServer Silent([](const QByteArray&) { return std::optional<QByteArray>(); });
    ASSERT_TRUE(Silent.IsListening());
    TResolveRun R;
    R.SetDomains(ManyDomains(20000));
    R.SetDNS({Silent.Address()});
    R.Utils.SetThreads(kThreads);
    R.Utils.SetDNSTimeoutMSec(250);
    R.Utils.SetPauseMSec(50);

    int Presses = 0;
    int PressIndex = 0;
    for (int Run = 0; Run < kRuns; ++Run) {
        // Odd runs take their first presses while the workers are still being
        // created (from the start handler, right after the creation loop of a
        // short run, or part way through it when the break stops the loop).
        const bool Early = Run % 2 == 1;
        R.AfterThreadsStarted = [&] {
            if (Early)
                for (int I = 0; I < 3; ++I, ++Presses)
                    R.Progress.BreakClick();
        };
        const int StopsBefore = R.AfterStopCount;
        R.Start();
        if (!Early) {
            // Wait until many workers are inside their lookups.
            ASSERT_TRUE(WaitServing([&] { return Silent.QueryCount() >= PressIndex + 200; }, 20000))
                << "run " << Run << ": the workers never asked";
        }
        PressIndex = Silent.QueryCount();
        // The rest in a row, with events served between some of them.
        while (Presses < (Run + 1) * kPressesPerRun) {
            R.Progress.BreakClick();
            ++Presses;
            if (Presses % 3 == 0)
                WaitServing([] { return false; }, 1);
        }
        QElapsedTimer T;
        T.start();
        ASSERT_TRUE(R.WaitEnd(20000)) << "run " << Run << " did not end after Break (deadlock?); live threads "
                                      << R.Utils.LiveThreads() << ", active " << R.Log.ActiveThreads();
        EXPECT_EQ(R.AfterStopCount, StopsBefore + 1) << "run " << Run;
        EXPECT_EQ(R.Utils.LiveThreads(), 0) << "run " << Run;
        EXPECT_EQ(R.Log.ActiveThreads(), 0) << "run " << Run;
        // One lookup and one pause at most after the break.
        EXPECT_LT(T.elapsed(), 10000) << "run " << Run;
        PressIndex = Silent.QueryCount();
    }
    EXPECT_EQ(Presses, kRuns * kPressesPerRun);
    // A last run after all that still works from start to end.
    R.AfterThreadsStarted = nullptr;
    R.SetDomains({"10.0.0.0/8", "192.0.2.1"});
    R.Utils.SetThreads(kThreads);
    ASSERT_TRUE(R.Run(30000));
    EXPECT_EQ(R.SortedResult(), QStringList({"10.0.0.0/8", "192.0.2.1"}));
    EXPECT_EQ(R.Log.ActiveThreads(), 0);
}

TEST(FaultBreakTest, WorkersEndingBeforeTheLastIsCreatedEndTheRunOnce) {
    // Two address lines and 200 workers: the first workers take the lines and
    // end while the later ones are still being created. The run must end once,
    // after the last worker, not each time the count of running workers
    // touches zero on the way.
    TResolveRun R;
    R.SetDomains({"10.0.0.0/8", "192.0.2.1"});
    R.Utils.SetThreads(200);
    for (int Run = 1; Run <= 20; ++Run) {
        ASSERT_TRUE(R.Run(30000)) << "run " << Run;
        // A second end of the same run would arrive through the main thread's queue.
        WaitServing([] { return false; }, 20);
        ASSERT_EQ(R.AfterStopCount, Run) << "run " << Run << " ended more than once";
        ASSERT_EQ(R.Log.ActiveThreads(), 0);
        EXPECT_EQ(R.SortedResult(), QStringList({"10.0.0.0/8", "192.0.2.1"})) << "run " << Run;
    }
}
