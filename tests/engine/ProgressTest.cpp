#include "FakeControls.h"

#include "engine/uMainThread.h"
#include "engine/uProgress.h"

#include <gtest/gtest.h>
#include <thread>

namespace {

// A controller on a clock the test sets (0: the real clock).
class TTestProgress : public TProgress {
public:
    using TProgress::UpdateDisplay;
    TDateTime FNow = 0;

protected:
    TDateTime CurrentTime() const override { return FNow ? FNow : TProgress::CurrentTime(); }
};

class Progress : public ::testing::Test {
protected:
    TFakeApplication App;
    TFakeButton Start, Break, Close;
    TFakeLabel Percent, Elapsed, ElapsedTitle, Processed, ProcessedTitle, Status;
    TFakeProgressBar Bar;
    TTestProgress P;
    int BeforeStarts = 0, Starts = 0, Stops = 0, AfterStops = 0, Terminates = 0, BreakClicks = 0;
    bool Allow = true;
    bool AllEventsOnMainThread = true;

    void SetUp() override {
        P.SetUpdatePeriod(100000);
        P.SetStartButton(&Start);
        P.SetBreakButton(&Break);
        P.SetCloseButton(&Close);
        P.SetProgressBar(&Bar);
        P.SetProgressLabel(&Percent);
        P.SetElapsedLabel(&Elapsed);
        P.SetElapsedTitleLabel(&ElapsedTitle);
        P.SetProcessedLabel(&Processed);
        P.SetProcessedTitleLabel(&ProcessedTitle);
        P.SetStatusLabel(&Status);
        auto Note = [this](int& ACounter) {
            return [this, &ACounter](TProgress*) {
                ++ACounter;
                AllEventsOnMainThread = AllEventsOnMainThread && IsMainThread();
            };
        };
        P.BeforeStart = [this](TProgress*, bool& AAllow) {
            ++BeforeStarts;
            AAllow = Allow;
        };
        P.OnStart = Note(Starts);
        P.OnStop = Note(Stops);
        P.AfterStop = Note(AfterStops);
        P.OnTerminate = Note(Terminates);
        P.OnBreakClicked = Note(BreakClicks);
    }
    void ExpectButtons(bool AStart, bool ABreak, bool AClose) {
        EXPECT_EQ(Start.Enabled(), AStart);
        EXPECT_EQ(Break.Enabled(), ABreak);
        EXPECT_EQ(Close.Enabled(), AClose);
    }
};

}  // namespace

TEST_F(Progress, ButtonStatesThroughARunWithBreak) {
    ExpectButtons(true, false, true);
    EXPECT_TRUE(P.Terminated());
    Start.Click();
    EXPECT_EQ(Starts, 1);
    EXPECT_FALSE(P.Terminated());
    EXPECT_NE(P.StartTime(), 0);
    EXPECT_EQ(P.EndTime(), 0);
    ExpectButtons(false, true, false);

    Break.Click();
    EXPECT_EQ(BreakClicks, 1);
    EXPECT_EQ(Terminates, 1);
    EXPECT_TRUE(P.Terminated());
    ExpectButtons(false, false, false);

    // A second Break while stopping is announced but changes nothing else.
    Break.FOnClick();
    EXPECT_EQ(BreakClicks, 2);
    EXPECT_EQ(Terminates, 1);
    ExpectButtons(false, false, false);

    P.EndProgress();
    EXPECT_EQ(Stops, 1);
    EXPECT_EQ(AfterStops, 1);
    EXPECT_NE(P.EndTime(), 0);
    ExpectButtons(true, false, true);
    EXPECT_TRUE(AllEventsOnMainThread);
}

TEST_F(Progress, RefusedStartChangesNothing) {
    P.SetFlags(pfPBHidden | pfBBHidden | pfSBHide);
    P.SetStatus(QStringLiteral("before"));
    P.SetPosition(7);
    P.SetProcessed(3);
    const int VisibilityChanges = Start.FVisibilityChanges;
    Allow = false;
    P.StartProgress();
    EXPECT_EQ(BeforeStarts, 1);
    EXPECT_EQ(Starts, 0);
    EXPECT_TRUE(P.Terminated());
    EXPECT_EQ(P.StartTime(), 0);
    EXPECT_EQ(P.Status(), QStringLiteral("before"));
    EXPECT_EQ(P.Position(), 7);
    EXPECT_EQ(P.Processed(), 3);
    EXPECT_EQ(P.RunNumber(), 0);
    ExpectButtons(true, false, true);
    EXPECT_EQ(Start.FVisibilityChanges, VisibilityChanges);
    EXPECT_FALSE(Bar.Visible());
    EXPECT_FALSE(Break.Visible());
}

TEST_F(Progress, FlagsHideDisplaysWhileIdle) {
    P.SetFlags(pfPBHidden | pfBBHidden | pfSBHide);
    for (TFakeLabel* L : {&Percent, &Elapsed, &ElapsedTitle, &Processed, &ProcessedTitle, &Status})
        EXPECT_FALSE(L->Visible());
    EXPECT_FALSE(Bar.Visible());
    EXPECT_FALSE(Break.Visible());
    EXPECT_TRUE(Start.Visible());
    P.StartProgress();
    for (TFakeLabel* L : {&Percent, &Elapsed, &ElapsedTitle, &Processed, &ProcessedTitle, &Status})
        EXPECT_TRUE(L->Visible());
    EXPECT_TRUE(Bar.Visible());
    EXPECT_TRUE(Break.Visible());
    EXPECT_FALSE(Start.Visible());
    P.EndProgress();
    EXPECT_FALSE(Bar.Visible());
    EXPECT_FALSE(Break.Visible());
    EXPECT_TRUE(Start.Visible());
}

TEST_F(Progress, PercentageAndCounters) {
    EXPECT_EQ(Percent.Text(), QStringLiteral("0 %"));
    EXPECT_EQ(Bar.FMax, 100);
    P.SetMax(0);
    EXPECT_EQ(P.GetPercent(), 0);
    P.SetMax(100);
    P.SetPosition(150);
    P.SetStatus(QStringLiteral("busy"));
    P.IncProcessed(41);
    P.IncProcessed(1);
    P.UpdateDisplay();
    EXPECT_EQ(Percent.Text(), QStringLiteral("150 %"));
    EXPECT_EQ(Bar.FPosition, 150);
    EXPECT_EQ(Status.Text(), QStringLiteral("busy"));
    EXPECT_EQ(Processed.Text(), QStringLiteral("42"));
    P.SetMax(120);
    EXPECT_EQ(P.Position(), 120);
    P.SetMin(130);
    EXPECT_EQ(P.Position(), 130);
    P.SetMin(-100);
    P.SetMax(100);
    P.SetPosition(-50);
    EXPECT_EQ(P.GetPercent(), 25);
    P.IncProgress(-100);
    EXPECT_EQ(P.GetPercent(), -25);
}

TEST_F(Progress, ElapsedText) {
    const TDateTime T0 = 1700000000000;
    P.FNow = T0;
    P.StartProgress();
    EXPECT_EQ(Elapsed.Text(), QStringLiteral("0:00:00"));
    P.FNow = T0 + 3725 * 1000 + 999;
    P.UpdateDisplay();
    EXPECT_EQ(Elapsed.Text(), QStringLiteral("1:02:05"));
    P.FNow = T0 + 36 * 3600 * 1000LL;
    P.UpdateDisplay();
    EXPECT_EQ(Elapsed.Text(), QStringLiteral("36:00:00"));
    EXPECT_EQ(P.Elapsed(), 36 * 3600);
    P.EndProgress();
    P.FNow = T0 + 40 * 3600 * 1000LL;
    P.UpdateDisplay();
    // Ended: the label keeps its last text and Elapsed stops counting.
    EXPECT_EQ(Elapsed.Text(), QStringLiteral("36:00:00"));
    EXPECT_EQ(P.Elapsed(), 36 * 3600);
}

TEST_F(Progress, TerminatedWhileIdleOnlyReenablesStartAndClose) {
    P.StartProgress();
    P.EndProgress();
    Start.SetEnabled(false);
    Close.SetEnabled(false);
    P.SetTerminated(true);
    ExpectButtons(true, false, true);
    EXPECT_EQ(Terminates, 0);
}

TEST_F(Progress, RestartAfterEndAndBreakWhileWaiting) {
    P.SetRestartSeconds(1);
    P.StartProgress();
    P.EndProgress();
    EXPECT_EQ(AfterStops, 0);
    EXPECT_TRUE(P.RestartPending());
    EXPECT_EQ(P.EndTime(), 0);
    EXPECT_EQ(P.Status(), QStringLiteral("Waiting for restart..."));
    // The restart timer starts the next run.
    ASSERT_TRUE(WaitFor([&] { return Starts == 2; }, 5000));
    EXPECT_FALSE(P.Terminated());
    P.EndProgress();
    ASSERT_TRUE(P.RestartPending());
    // Waiting for the restart can still be broken off.
    EXPECT_TRUE(Break.Enabled());
    const int TerminatesBefore = Terminates;
    Break.Click();
    EXPECT_FALSE(P.RestartPending());
    EXPECT_EQ(P.Status(), QStringLiteral("Stopped."));
    EXPECT_EQ(P.RestartSeconds(), 0);
    EXPECT_EQ(Terminates, TerminatesBefore + 1);
    EXPECT_FALSE(Break.Enabled());
}

TEST_F(Progress, WorkerThreadEffectsRunOnTheMainThread) {
    P.StartProgress();
    std::atomic<bool> Done{false};
    std::thread T([&] {
        P.SetTerminated(true);
        P.EndProgress();
        Done = true;
    });
    ASSERT_TRUE(WaitFor([&] { return Done.load(); }));
    T.join();
    EXPECT_EQ(Terminates, 1);
    EXPECT_EQ(AfterStops, 1);
    EXPECT_TRUE(AllEventsOnMainThread);
    ExpectButtons(true, false, true);
}

TEST_F(Progress, DisplayTimerAndCloseButton) {
    int Displays = 0;
    P.OnDisplay = [&](TProgress*) { ++Displays; };
    P.SetUpdatePeriod(0);
    ASSERT_TRUE(WaitFor([&] { return Displays >= 3; }, 3000));
    Close.Click();
    EXPECT_EQ(App.FCloseCalls, 1);
}

TEST(ProgressElapsed, Format) {
    EXPECT_EQ(TProgress::FormatElapsed(0), QStringLiteral("0:00:00"));
    EXPECT_EQ(TProgress::FormatElapsed(59), QStringLiteral("0:00:59"));
    EXPECT_EQ(TProgress::FormatElapsed(3600 * 100 + 61), QStringLiteral("100:01:01"));
}
