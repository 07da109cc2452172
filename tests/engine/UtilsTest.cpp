#include "FakeControls.h"

#include "engine/HTTPUtilsUnit.h"
#include "engine/uLog.h"
#include "engine/uMainThread.h"
#include "engine/uProgress.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace {

class TOpenLog : public TLog {
public:
    using TLog::UpdateLog;
};

// A job whose workers log and count items until their share is done or the
// run is stopped.
class TTestJob : public THTTPUtils {
public:
    using THTTPUtils::THTTPUtils;
    using TUtils::CheckInitialized;
    using TUtils::WaitMSec;
    using TUtils::WaitSec;
    ~TTestJob() override { BreakAndWait(); }

    void Work(TUtilsThread* AThread) {
        if (!CheckInitialized())
            return;
        for (int i = 0; FItemsPerWorker < 0 || i < FItemsPerWorker; ++i) {
            if (Terminated())
                break;
            Log(QStringLiteral("worker %d item %d"), {AThread->ThreadNumber(), i});
            ++FProcessed;
            if (!WaitMSec(FPauseMSec, NowDateTime()))
                break;
        }
    }

    std::atomic<int> FItemsPerWorker{3};
    std::atomic<int> FPauseMSec{0};
    std::atomic<bool> FFailOpen{false};
    std::atomic<int> FOpenRuns{0}, FCloseRuns{0}, FProcessed{0};
    // (name, number) of every thread created, in order; main thread only.
    QList<QPair<QString, int>> FCreated;

protected:
    void OpenRun() override {
        ++FOpenRuns;
        if (FFailOpen)
            throw Exception(QStringLiteral("cannot open input"));
    }
    void CloseRun() override { ++FCloseRuns; }
    void DoThreadCreate(TUtilsThread* AThread, bool AServiceThread) override {
        FCreated << qMakePair(AThread->ThreadName(), AThread->ThreadNumber());
        THTTPUtils::DoThreadCreate(AThread, AServiceThread);
    }
};

// The window's side of a run, as the main window wires it.
class Run : public ::testing::Test {
protected:
    TFakeApplication App;
    TFakeMemo Memo;
    TFakeListView View;
    TFakeButton Start, Break, Close;
    TProgress Progress;
    TOpenLog Log;
    TTestJob Job{&Progress, &Log};
    int AfterStops = 0, Stops = 0;
    std::function<void()> FAfterJobBeforeStart;

    void SetUp() override {
        Log.SetUpdatePeriod(0);
        Log.SetMaxLogLines(100000);
        Log.SetLogMemo(&Memo);
        Log.SetThreadsView(&View);
        Progress.SetStartButton(&Start);
        Progress.SetBreakButton(&Break);
        Progress.SetCloseButton(&Close);
        Progress.BeforeStart = [this](TProgress*, bool&) {
            Log.ClearLog();
            Job.BeforeStart();
            if (FAfterJobBeforeStart)
                FAfterJobBeforeStart();
        };
        Progress.OnStart = [this](TProgress*) {
            Job.StartThreads([this](TUtilsThread* T) { Job.Work(T); }, QStringLiteral("Worker"));
        };
        Progress.OnTerminate = [this](TProgress*) {
            if (Job.LiveThreads() == 0)
                Progress.EndProgress();
        };
        Progress.OnStop = [this](TProgress*) { ++Stops; };
        Progress.AfterStop = [this](TProgress*) {
            Job.AfterStop();
            ++AfterStops;
        };
    }
    void TearDown() override { EXPECT_TRUE(Job.BreakAndWait(20000)); }

    bool RunEnded(int ATimeoutMSec = 15000) {
        return WaitFor([&] { return AfterStops > 0 && Job.LiveThreads() == 0; }, ATimeoutMSec);
    }
    QStringList MemoLines() {
        Log.UpdateLog();
        QStringList L;
        for (int i = 0; i < Memo.LineCount(); ++i)
            L << Memo.Line(i);
        return L;
    }
};

}  // namespace

TEST_F(Run, WorkersLogStatusesUntilBreak) {
    Job.SetThreads(3);
    Job.FItemsPerWorker = -1;
    Job.FPauseMSec = 20;
    Start.Click();
    EXPECT_FALSE(Start.Enabled());
    ASSERT_TRUE(WaitFor([&] { return Job.FProcessed >= 9; }));
    // The timer brings the lines to the memo and the statuses to the list.
    ASSERT_TRUE(WaitFor([&] {
        if (View.RowCount() != 4)
            return false;
        int Statuses = 0;
        for (int i = 0; i < 4; ++i)
            if (View.Row(i).SubItems.value(2).startsWith(QStringLiteral("worker ")))
                ++Statuses;
        return Statuses == 3 && Memo.LineCount() >= 9;
    }));
    EXPECT_TRUE(Memo.Line(0).startsWith(QLatin1Char('[')));
    EXPECT_EQ(AfterStops, 0);

    Break.Click();
    ASSERT_TRUE(RunEnded());
    EXPECT_EQ(AfterStops, 1);
    EXPECT_EQ(Stops, 1);
    EXPECT_EQ(Log.ActiveThreads(), 0);
    EXPECT_EQ(Job.FOpenRuns, 1);
    EXPECT_EQ(Progress.Status(), QStringLiteral("Completed."));
    EXPECT_TRUE(Start.Enabled());
    EXPECT_TRUE(Close.Enabled());
    EXPECT_FALSE(Break.Enabled());
    // The same job runs again.
    Job.FItemsPerWorker = 1;
    Job.FPauseMSec = 0;
    const int Before = Job.FProcessed;
    Start.Click();
    ASSERT_TRUE(WaitFor([&] { return AfterStops == 2 && Job.LiveThreads() == 0; }));
    EXPECT_EQ(Job.FProcessed - Before, 3);
    EXPECT_EQ(Job.FOpenRuns, 2);
}

TEST_F(Run, NumbersWorkersAndEndsByItself) {
    Job.SetThreads(3);
    Job.SetDetailedLog(true);
    Start.Click();
    ASSERT_TRUE(RunEnded());
    EXPECT_EQ(AfterStops, 1);
    EXPECT_EQ(Job.FProcessed, 9);
    const QList<QPair<QString, int>> Expected = {{QStringLiteral("Reloading Thread"), 0},
                                                 {QStringLiteral("Worker"), 1},
                                                 {QStringLiteral("Worker"), 2},
                                                 {QStringLiteral("Worker"), 3}};
    EXPECT_EQ(Job.FCreated, Expected);
    const QStringList L = MemoLines();
    EXPECT_EQ(L.filter(QStringLiteral("] Reloading Thread Initialized.")).size(), 1);
    EXPECT_EQ(L.filter(QStringLiteral("] Reloading Thread Completed.")).size(), 1);
    EXPECT_EQ(L.filter(QStringLiteral("] worker ")).size(), 9);
}

TEST_F(Run, FailingOpenLogsOnceAndStillEnds) {
    Job.SetThreads(5);
    Job.FFailOpen = true;
    Start.Click();
    ASSERT_TRUE(RunEnded());
    EXPECT_EQ(AfterStops, 1);
    EXPECT_EQ(Job.FOpenRuns, 1);
    EXPECT_EQ(Job.FProcessed, 0);
    EXPECT_EQ(MemoLines(), QStringList{QStringLiteral("cannot open input.")});
    // The next run tries again.
    Job.FFailOpen = false;
    Start.Click();
    ASSERT_TRUE(WaitFor([&] { return AfterStops == 2 && Job.LiveThreads() == 0; }));
    EXPECT_EQ(Job.FProcessed, 15);
}

TEST_F(Run, TwoHundredThreadsEndTheRunOnce) {
    Job.SetThreads(200);
    Job.FItemsPerWorker = 1;
    Start.Click();
    ASSERT_TRUE(RunEnded(60000));
    // Let a stray second end show itself, if there were one.
    WaitFor([] { return false; }, 200);
    EXPECT_EQ(AfterStops, 1);
    EXPECT_EQ(Stops, 1);
    EXPECT_EQ(Job.FProcessed, 200);
    EXPECT_EQ(Log.ActiveThreads(), 0);
}

TEST_F(Run, NoWorkersEndsOnceAfterTheServiceThread) {
    Job.SetThreads(0);
    Start.Click();
    ASSERT_TRUE(RunEnded());
    WaitFor([] { return false; }, 200);
    EXPECT_EQ(AfterStops, 1);
    EXPECT_EQ(Log.ActiveThreads(), 0);
}

TEST_F(Run, ReloadingThreadIgnoresTheStopFlagOfThePreviousRun) {
    // The window is slow between the job's BeforeStart and the run's start;
    // meanwhile the stop flag still says "terminated" from the last run.
    FAfterJobBeforeStart = [] { WaitFor([] { return false; }, 300); };
    Job.SetThreads(1);
    Job.FItemsPerWorker = -1;
    Job.FPauseMSec = 20;
    Job.SetDetailedLog(true);
    Start.Click();
    ASSERT_TRUE(WaitFor([&] { return Job.FProcessed >= 3; }));
    EXPECT_EQ(AfterStops, 0);
    EXPECT_EQ(Log.ActiveThreads(), 2);
    EXPECT_FALSE(Job.Completed());
    Break.Click();
    ASSERT_TRUE(RunEnded());
    EXPECT_EQ(AfterStops, 1);
    const QStringList L = MemoLines();
    EXPECT_EQ(L.filter(QStringLiteral("Reloading Thread Initialized.")).size(), 1);
}

TEST_F(Run, WaitsAreInterruptedByBreak) {
    Progress.BeforeStart = nullptr;
    Progress.OnStart = nullptr;
    Progress.StartProgress();
    EXPECT_TRUE(Job.WaitMSec(0, NowDateTime()));
    QElapsedTimer Short;
    Short.start();
    EXPECT_TRUE(Job.WaitMSec(60, NowDateTime()));
    EXPECT_GE(Short.elapsed(), 55);

    std::atomic<qint64> ReturnedAfterBreak{-1};
    std::atomic<bool> Result{true};
    std::atomic<qint64> BreakAt{0};
    QElapsedTimer Clock;
    Clock.start();
    std::thread T([&] {
        Result = Job.WaitSec(30, NowDateTime());
        ReturnedAfterBreak = Clock.elapsed() - BreakAt;
    });
    WaitFor([] { return false; }, 100);
    BreakAt = Clock.elapsed();
    Progress.BreakClick();
    ASSERT_TRUE(WaitFor([&] { return ReturnedAfterBreak >= 0; }, 5000));
    T.join();
    EXPECT_FALSE(Result);
    EXPECT_LE(ReturnedAfterBreak, 400);
    // A wait of 0 returns true at once even when the run is terminated.
    EXPECT_TRUE(Job.WaitMSec(0, NowDateTime()));
    EXPECT_FALSE(Job.WaitMSec(10, NowDateTime()));
    Progress.EndProgress();
}

TEST_F(Run, BreakAndWaitServesTheWorkersHandOffs) {
    Job.SetThreads(20);
    Job.FItemsPerWorker = -1;
    Job.FPauseMSec = 5;
    Log.SetUpdateCount(10);  // workers keep handing updates to the main thread
    Start.Click();
    ASSERT_TRUE(WaitFor([&] { return Job.FProcessed >= 100; }));
    ASSERT_TRUE(Job.BreakAndWait(20000));
    EXPECT_EQ(Job.LiveThreads(), 0);
    EXPECT_EQ(AfterStops, 1);
}

// ---------------------------------------------------------------------------

TEST(UtilsLogging, MessageForms) {
    TFakeApplication App;
    TFakeMemo Memo;
    TProgress Progress;
    TOpenLog Log;
    Log.SetLogMemo(&Memo);
    TTestJob Job(&Progress, &Log);
    Job.SetLogDateTime(false);
    Job.Log2(QStringLiteral("one"), QString());
    Job.Log2(QString(), QStringLiteral("two"));
    Job.Log2(QStringLiteral("three"), QStringLiteral("four"));
    Job.Log(QStringLiteral("%s=%d"), {QStringLiteral("x"), 5});
    Job.LogOSError(2);
    Log.UpdateLog();
    ASSERT_EQ(Memo.LineCount(), 6);
    EXPECT_EQ(Memo.Line(0), QStringLiteral("one"));
    EXPECT_EQ(Memo.Line(1), QStringLiteral("two"));
    EXPECT_EQ(Memo.Line(2), QStringLiteral("three four"));
    EXPECT_EQ(Memo.Line(3), QStringLiteral("x=5"));
    EXPECT_EQ(Memo.Line(4), QStringLiteral("System Error.  Code: 2."));
    EXPECT_EQ(Memo.Line(5), QStringLiteral("No such file or directory"));
    EXPECT_EQ(TUtils::FormatOSError(2), QStringLiteral("System Error.  Code: 2.\r\nNo such file or directory"));
}

TEST(UtilsLogging, FormatException) {
    auto Of = [](auto AException) {
        try {
            throw AException;
        } catch (...) {
            return TUtils::FormatException(std::current_exception());
        }
    };
    EXPECT_EQ(Of(Exception(QStringLiteral("No stop"))), QStringLiteral("No stop."));
    EXPECT_EQ(Of(Exception(QStringLiteral("Has stop."))), QStringLiteral("Has stop."));
    EXPECT_EQ(Of(Exception(QStringLiteral("Line\n"))), QStringLiteral("Line\n"));
    EXPECT_TRUE(Of(Exception(QString())).startsWith(QStringLiteral("Exception Exception in module ")));
    EXPECT_EQ(Of(Exception(QString(2000, QLatin1Char('y')))).size(), 1023);
    EXPECT_THROW(FormatText(QStringLiteral("%d %d"), {1}), EConvertError);
    EXPECT_EQ(FormatText(QStringLiteral("%5s|%-3d|%.3d|%x|%%"), {QStringLiteral("ab"), 7, 5, 255}),
              QStringLiteral("   ab|7  |005|ff|%"));
}
