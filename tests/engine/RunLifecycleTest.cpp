#include "FakeControls.h"

#include "engine/HTTPUtilsUnit.h"
#include "engine/uLog.h"
#include "engine/uMainThread.h"
#include "engine/uProgress.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <chrono>
#include <thread>

// How a run's end, a close and a new start meet on the main thread. The
// application control is as slow as the repaint of a busy window and acts
// (a close, a Start click, a Break) at a chosen moment of the run: inside a
// worker's forced log update, inside the last thread's EndProgress, between
// StartProgress's display update and DoStart, and between the last thread's
// unregistration and its end-of-run hand-off.

namespace {

// Timers that never refresh anything by themselves: every event processing
// in these tests comes from the engine's own calls or from the test.
const qint64 kNever = 1000000000000000LL;

class TSlowApplication : public TApplicationControl {
public:
    TSlowApplication() { SetApplication(this); }
    ~TSlowApplication() override { SetApplication(nullptr); }
    void CloseMainWindow() override {}
    void ProcessEvents() override {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        if (FHold)
            return;
        if (FAct && FWhen && FWhen()) {
            std::function<void()> Act = std::move(FAct);
            FAct = nullptr;
            ++FActed;
            Act();
        }
        QCoreApplication::processEvents();
        ServeHandOffs();
        FInLogUpdate = false;
    }

    // Act runs once, in the first ProcessEvents for which When holds.
    std::function<bool()> FWhen;
    std::function<void()> FAct;
    int FActed = 0;
    // Pending events and hand-offs wait (the user's clicks come first).
    bool FHold = false;
    // Set by the memo: this ProcessEvents is the one of a log update.
    bool FInLogUpdate = false;
};

// The log's memo; with the log's timer idle every update is a forced one,
// handed over by a worker.
class TWatchedMemo : public TFakeMemo {
public:
    explicit TWatchedMemo(TSlowApplication* AApp) : FApp(AApp) {}
    void ReplaceSelection(const QString& AText) override {
        TFakeMemo::ReplaceSelection(AText);
        FApp->FInLogUpdate = true;
    }

private:
    TSlowApplication* FApp;
};

class TLifeJob : public THTTPUtils {
public:
    using THTTPUtils::THTTPUtils;
    ~TLifeJob() override { BreakAndWait(); }

    void Work(TUtilsThread* AThread) {
        ++FInBody;
        if (CheckInitialized()) {
            for (int i = 0; FItems < 0 || i < FItems; ++i) {
                if (Terminated())
                    break;
                Log(QStringLiteral("worker %d item %d"), {AThread->ThreadNumber(), i});
                if (!WaitMSec(FPauseMSec, NowDateTime()))
                    break;
            }
        }
        --FInBody;
    }

    std::atomic<int> FItems{3};
    std::atomic<int> FPauseMSec{20};
    std::atomic<bool> FFailOpen{false};
    std::atomic<int> FInBody{0};

protected:
    void OpenRun() override {
        if (FFailOpen)
            throw Exception(QStringLiteral("cannot open input"));
    }
};

// The window's side of a run, wired as the main window wires it: a closing
// window starts nothing, and a Break with no thread left ends the run.
class Lifecycle : public ::testing::Test {
protected:
    TSlowApplication App;
    TWatchedMemo Memo{&App};
    TFakeButton Start, Break, Close;
    TProgress Progress;
    TLog Log;
    TLifeJob Job{&Progress, &Log};

    int BeforeStarts = 0, Starts = 0, Stops = 0, AfterStops = 0;
    bool InStart = false;  // between the end of BeforeStart and OnStart
    bool InEnd = false;    // between OnStop and AfterStop
    QStringList Events;    // the events of every run, in order
    QStringList Faults;    // what must never happen

    bool Closing = false;
    int Closes = 0;
    int AfterStopsAtClose = -1, LiveAtClose = -1;

    void SetUp() override {
        Log.SetUpdatePeriod(kNever);
        Log.SetUpdateCount(1000000);
        Log.SetMaxLogLines(200);
        Log.SetLogMemo(&Memo);
        Progress.SetUpdatePeriod(kNever);
        Progress.SetStartButton(&Start);
        Progress.SetBreakButton(&Break);
        Progress.SetCloseButton(&Close);
        Progress.BeforeStart = [this](TProgress*, bool& Allow) {
            if (Closing) {
                Allow = false;
                return;
            }
            ++BeforeStarts;
            Events << QStringLiteral("BeforeStart");
            Log.ClearLog();
            Job.BeforeStart();
            InStart = true;
        };
        Progress.OnStart = [this](TProgress*) {
            InStart = false;
            ++Starts;
            Events << QStringLiteral("OnStart");
            Job.StartThreads([this](TUtilsThread* T) { Job.Work(T); }, QStringLiteral("Worker"));
        };
        Progress.OnTerminate = [this](TProgress* Sender) {
            if (Log.ActiveThreads() == 0)
                Sender->EndProgress();
        };
        Progress.OnStop = [this](TProgress*) {
            ++Stops;
            Events << QStringLiteral("OnStop");
            InEnd = true;
        };
        Progress.AfterStop = [this](TProgress*) {
            if (Job.FInBody > 0 || Log.ActiveThreads() > 0)
                Faults << QStringLiteral("AfterStop while %1 workers work and %2 threads are registered")
                              .arg(Job.FInBody.load())
                              .arg(Log.ActiveThreads());
            Job.AfterStop();
            ++AfterStops;
            Events << QStringLiteral("AfterStop");
            InStart = false;
            InEnd = false;
        };
    }

    void TearDown() override {
        App.FWhen = nullptr;
        App.FAct = nullptr;
        EXPECT_TRUE(Job.BreakAndWait(20000));
        EXPECT_TRUE(Faults.isEmpty()) << Faults.join(QLatin1Char('\n')).toStdString();
    }

    // What the window does when it is closed: it asks, and closes once the
    // run is over and no thread uses the job any more.
    void RequestClose() {
        Closing = true;
        Job.BreakAndNotify([this] {
            ++Closes;
            AfterStopsAtClose = AfterStops;
            LiveAtClose = Job.LiveThreads();
        });
    }

    // The main thread's event loop, going through the application control as
    // the window's repaints do.
    bool Pump(const std::function<bool()>& ADone, int ATimeoutMSec = 20000) {
        QElapsedTimer T;
        T.start();
        while (!ADone()) {
            if (T.elapsed() > ATimeoutMSec)
                return false;
            App.ProcessEvents();
        }
        return true;
    }
    bool RunOver() { return AfterStops >= BeforeStarts && Job.LiveThreads() == 0; }

    // Inside Act: serves hand-offs until ADone, without leaving the moment.
    static bool ServeUntil(const std::function<bool()>& ADone, int ATimeoutMSec = 10000) {
        QElapsedTimer T;
        T.start();
        while (!ADone() && T.elapsed() < ATimeoutMSec) {
            QCoreApplication::processEvents();
            ServeHandOffs();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return ADone();
    }
    // Inside Act: waits, serving nothing, until the log's registry is empty.
    // The workers here never need the main thread before their end.
    bool NoThreadRegistered(int ATimeoutMSec = 10000) {
        QElapsedTimer T;
        T.start();
        while (Log.ActiveThreads() > 0 && T.elapsed() < ATimeoutMSec)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return Log.ActiveThreads() == 0;
    }

    static std::string Seq(const QStringList& AEvents) { return AEvents.join(QLatin1Char(' ')).toStdString(); }
    QStringList OneRun() {
        return {QStringLiteral("BeforeStart"), QStringLiteral("OnStart"), QStringLiteral("OnStop"),
                QStringLiteral("AfterStop")};
    }
    // Back to a fresh window for the next case.
    void Reset() {
        App.FWhen = nullptr;
        App.FAct = nullptr;
        App.FHold = false;
        ASSERT_TRUE(Job.BreakAndWait(20000));
        App.FActed = 0;
        Closing = false;
        Closes = 0;
        AfterStopsAtClose = LiveAtClose = -1;
        BeforeStarts = Starts = Stops = AfterStops = 0;
        Events.clear();
        Job.FFailOpen = false;
    }
};

}  // namespace

TEST_F(Lifecycle, InsideAForcedLogUpdate) {
    // Twenty workers log until stopped; every 50 messages one of them hands
    // the log's update to the main thread and waits for it.
    Log.SetUpdateCount(50);
    Job.SetThreads(20);
    Job.FItems = -1;
    Job.FPauseMSec = 5;
    auto InUpdate = [this] { return App.FInLogUpdate && Starts == 1; };

    {
        SCOPED_TRACE("close");
        App.FWhen = InUpdate;
        App.FAct = [this] { RequestClose(); };
        Start.Click();
        EXPECT_TRUE(WaitFor([&] { return Closes > 0; }, 20000)) << "the close never completed";
        EXPECT_EQ(App.FActed, 1);
        EXPECT_EQ(Closes, 1);
        EXPECT_EQ(AfterStopsAtClose, 1) << "closed before the results were taken";
        EXPECT_EQ(LiveAtClose, 0) << "closed with threads still using the job";
        EXPECT_EQ(Seq(Events), Seq(OneRun()));
        // A second close, the run being over, completes as well.
        RequestClose();
        EXPECT_TRUE(WaitFor([&] { return Closes == 2; }, 5000));
    }
    ASSERT_NO_FATAL_FAILURE(Reset());
    {
        SCOPED_TRACE("Start click");
        App.FWhen = InUpdate;
        App.FAct = [this] { Progress.StartClick(); };
        Start.Click();
        ASSERT_TRUE(WaitFor([&] { return App.FActed == 1; }, 20000));
        // Refused silently: the running run goes on.
        EXPECT_EQ(BeforeStarts, 1);
        EXPECT_EQ(Starts, 1);
        EXPECT_FALSE(Progress.Terminated());
        Break.Click();
        ASSERT_TRUE(WaitFor([&] { return RunOver(); }, 20000));
        EXPECT_EQ(Seq(Events), Seq(OneRun()));
    }
    ASSERT_NO_FATAL_FAILURE(Reset());
    {
        SCOPED_TRACE("Break");
        App.FWhen = InUpdate;
        App.FAct = [this] { Break.Click(); };
        Start.Click();
        ASSERT_TRUE(WaitFor([&] { return RunOver(); }, 20000));
        WaitFor([] { return false; }, 100);
        EXPECT_EQ(App.FActed, 1);
        EXPECT_EQ(Seq(Events), Seq(OneRun()));
    }
}

TEST_F(Lifecycle, InsideTheLastThreadsEndProgress) {
    // The run ends by itself: its last thread hands EndProgress over, whose
    // display update processes events after Start was enabled again.
    Job.SetThreads(5);
    auto InEndProgress = [this] { return InEnd; };

    {
        SCOPED_TRACE("Start click and close");
        App.FWhen = InEndProgress;
        App.FAct = [this] {
            // A click that was queued while the button was enabled.
            if (Start.Enabled())
                Start.Click();
            RequestClose();
        };
        Start.Click();
        EXPECT_TRUE(WaitFor([&] { return Closes > 0; }, 20000)) << "the close never completed";
        EXPECT_EQ(App.FActed, 1);
        EXPECT_EQ(BeforeStarts, 1) << "a second run started while the first was ending";
        EXPECT_EQ(Seq(Events), Seq(OneRun()));
        EXPECT_EQ(AfterStopsAtClose, 1);
        EXPECT_EQ(LiveAtClose, 0);
    }
    ASSERT_NO_FATAL_FAILURE(Reset());
    {
        SCOPED_TRACE("Start click, then a run of its own");
        App.FWhen = InEndProgress;
        App.FAct = [this] {
            if (Start.Enabled())
                Start.Click();
        };
        Start.Click();
        ASSERT_TRUE(WaitFor([&] { return RunOver() && App.FActed == 1; }, 20000));
        WaitFor([] { return false; }, 100);
        EXPECT_EQ(Seq(Events), Seq(OneRun()));
        // Once the run has ended, the next start is accepted as usual.
        Start.Click();
        ASSERT_TRUE(WaitFor([&] { return RunOver(); }, 20000));
        EXPECT_EQ(Seq(Events), Seq(OneRun() + OneRun()));
    }
    ASSERT_NO_FATAL_FAILURE(Reset());
    {
        SCOPED_TRACE("Break");
        App.FWhen = InEndProgress;
        App.FAct = [this] { Break.Click(); };
        Start.Click();
        ASSERT_TRUE(WaitFor([&] { return RunOver(); }, 20000));
        WaitFor([] { return false; }, 100);
        EXPECT_EQ(App.FActed, 1);
        EXPECT_EQ(Seq(Events), Seq(OneRun()));
        EXPECT_TRUE(Start.Enabled());
        EXPECT_FALSE(Break.Enabled());
    }
}

TEST_F(Lifecycle, BetweenTheDisplayUpdateAndDoStart) {
    // The run's service thread ends before the workers are created, and its
    // end is served right there: the run is over before it has started.
    Job.SetThreads(5);
    auto InGap = [this] { return InStart; };
    const QStringList EndedEarly = {QStringLiteral("BeforeStart"), QStringLiteral("OnStop"),
                                    QStringLiteral("AfterStop")};

    {
        SCOPED_TRACE("Break");
        App.FWhen = InGap;
        App.FAct = [this] {
            Break.Click();
            EXPECT_TRUE(ServeUntil([this] { return AfterStops > 0; }));
        };
        Start.Click();
        ASSERT_TRUE(WaitFor([&] { return RunOver(); }, 20000));
        WaitFor([] { return false; }, 200);
        EXPECT_EQ(App.FActed, 1);
        EXPECT_EQ(Seq(Events), Seq(EndedEarly));
        EXPECT_TRUE(Start.Enabled());
    }
    ASSERT_NO_FATAL_FAILURE(Reset());
    {
        SCOPED_TRACE("the run cannot be opened");
        Job.FFailOpen = true;
        App.FWhen = InGap;
        App.FAct = [this] { EXPECT_TRUE(ServeUntil([this] { return AfterStops > 0; })); };
        Start.Click();
        ASSERT_TRUE(WaitFor([&] { return RunOver(); }, 20000));
        WaitFor([] { return false; }, 200);
        EXPECT_EQ(App.FActed, 1);
        EXPECT_EQ(Seq(Events), Seq(EndedEarly));
    }
    ASSERT_NO_FATAL_FAILURE(Reset());
    {
        SCOPED_TRACE("close");
        App.FWhen = InGap;
        App.FAct = [this] {
            RequestClose();
            EXPECT_TRUE(ServeUntil([this] { return AfterStops > 0; }));
        };
        Start.Click();
        EXPECT_TRUE(WaitFor([&] { return Closes > 0; }, 20000)) << "the close never completed";
        WaitFor([] { return false; }, 200);
        EXPECT_EQ(Closes, 1);
        EXPECT_EQ(Seq(Events), Seq(EndedEarly));
        EXPECT_EQ(LiveAtClose, 0);
    }
}

TEST_F(Lifecycle, BetweenTheLastUnregistrationAndItsHandOff) {
    // The last thread has left the registry and waits for its EndProgress to
    // be served; meanwhile the Break sees no thread and ends the run itself.
    Job.SetThreads(5);
    auto Started = [this] { return Starts > 0 && Stops == 0; };

    {
        SCOPED_TRACE("Break");
        App.FWhen = Started;
        App.FAct = [this] {
            ASSERT_TRUE(NoThreadRegistered());
            Break.Click();
        };
        Start.Click();
        ASSERT_TRUE(Pump([&] { return RunOver(); }));
        Pump([] { return false; }, 200);
        EXPECT_EQ(App.FActed, 1);
        EXPECT_EQ(Seq(Events), Seq(OneRun()));
    }
    ASSERT_NO_FATAL_FAILURE(Reset());
    {
        SCOPED_TRACE("Break, then Start before the hand-off is served");
        App.FWhen = Started;
        App.FAct = [this] {
            ASSERT_TRUE(NoThreadRegistered());
            // Both clicks are taken before the last thread's hand-off.
            App.FHold = true;
            Break.Click();
            EXPECT_EQ(AfterStops, 1);
            EXPECT_TRUE(Start.Enabled());
            Start.Click();
            App.FHold = false;
            EXPECT_EQ(BeforeStarts, 2);
        };
        Start.Click();
        // The old run's request must not end the new one.
        ASSERT_TRUE(Pump([&] { return BeforeStarts == 2 && RunOver(); }));
        Pump([] { return false; }, 200);
        EXPECT_EQ(Seq(Events), Seq(OneRun() + OneRun()));
    }
    ASSERT_NO_FATAL_FAILURE(Reset());
    {
        SCOPED_TRACE("close");
        App.FWhen = Started;
        App.FAct = [this] {
            ASSERT_TRUE(NoThreadRegistered());
            RequestClose();
        };
        Start.Click();
        EXPECT_TRUE(Pump([&] { return Closes > 0; })) << "the close never completed";
        Pump([] { return false; }, 200);
        EXPECT_EQ(Closes, 1);
        EXPECT_EQ(Seq(Events), Seq(OneRun()));
        EXPECT_EQ(LiveAtClose, 0);
    }
}
