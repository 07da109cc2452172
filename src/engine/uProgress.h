#pragma once

#include "containers/uException.h"
#include "engine/uControls.h"
#include "engine/uFormat.h"

#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class QTimer;
class TProgress;

enum TProgressFlag { pfPBHidden = 1, pfBBHidden = 2, pfSBHide = 4 };

// Where a run stands. Stopping is Running with Terminated set.
enum TRunState {
    rsIdle,          // no run; a start is accepted
    rsStarting,      // StartProgress is asking BeforeStart
    rsRunning,       // started and not ended yet (also while stopping)
    rsEnding,        // EndProgress is under way: OnStop ... AfterStop
    rsRestartWaiting // ended, the restart timer will start the next run
};
// A set of TProgressFlag values or-ed together.
using TProgressFlags = int;

using TProgressNotifyEvent = std::function<void(TProgress* Sender)>;
using TBeforeStartEvent = std::function<void(TProgress* Sender, bool& Allow)>;

// The run controller: run state, start and end times, progress counters and
// status, the Start/Break/Close buttons and the progress displays, refreshed
// on a 100 ms main-thread timer. Create, destroy, the setters of controls and
// every event run on the main thread; worker threads read Terminated, set the
// counters and Status, and may call EndProgress and the Terminated setter,
// which carry their effects out on the main thread and wait for them.
//
// Every step of a run happens once and in order, whatever events the main
// thread processes in between (the displays process pending events): a start
// is refused silently unless no run is active, and of all requests to end a
// run only the first ends it; later ones, and those left from an earlier run,
// do nothing.
class TProgress : public TObject {
public:
    TProgress();
    ~TProgress() override;

    TProgress(const TProgress&) = delete;
    TProgress& operator=(const TProgress&) = delete;

    void StartProgress();
    // Ends the current run, if it has not ended yet.
    void EndProgress();
    // Ends run ARun (see RunNumber), if it is still the current one and has
    // not ended yet. The form for the threads of a run: the run they belong
    // to may be over by the time the main thread gets to their request.
    void EndProgress(qint64 ARun);
    void IncProgress(qint64 AInc) { FPosition += AInc; }
    void IncProcessed(qint64 AInc) { FProcessed += AInc; }

    // Percentage of Position between Min and Max, not clamped; 0 when Max <= Min.
    qint64 GetPercent() const;
    // Hours (unpadded), minutes and seconds: 3725 -> "1:02:05".
    static QString FormatElapsed(qint64 ASeconds);

    TProgressBarControl* ProgressBar() const { return FProgressBar; }
    void SetProgressBar(TProgressBarControl* Value);
    TLabelControl* ProgressLabel() const { return FProgressLabel; }
    void SetProgressLabel(TLabelControl* Value);
    TLabelControl* ElapsedLabel() const { return FElapsedLabel; }
    void SetElapsedLabel(TLabelControl* Value);
    TLabelControl* ElapsedTitleLabel() const { return FElapsedTitleLabel; }
    void SetElapsedTitleLabel(TLabelControl* Value);
    TLabelControl* ProcessedLabel() const { return FProcessedLabel; }
    void SetProcessedLabel(TLabelControl* Value);
    TLabelControl* ProcessedTitleLabel() const { return FProcessedTitleLabel; }
    void SetProcessedTitleLabel(TLabelControl* Value);
    TLabelControl* StatusLabel() const { return FStatusLabel; }
    void SetStatusLabel(TLabelControl* Value);
    TButtonControl* BreakButton() const { return FBreakButton; }
    void SetBreakButton(TButtonControl* Value);
    TButtonControl* StartButton() const { return FStartButton; }
    void SetStartButton(TButtonControl* Value);
    TButtonControl* CloseButton() const { return FCloseButton; }
    void SetCloseButton(TButtonControl* Value);
    TProgressFlags Flags() const { return FFlags; }
    void SetFlags(TProgressFlags Value);

    TDateTime StartTime() const { return FStartTime; }
    TDateTime EndTime() const { return FEndTime; }
    // Whole seconds of the current or last run; 0 if never started.
    qint64 Elapsed() const;
    qint64 UpdatePeriod() const { return FUpdatePeriod; }
    void SetUpdatePeriod(qint64 Value) { FUpdatePeriod = Value; }
    qint64 Position() const { return FPosition; }
    void SetPosition(qint64 Value) { FPosition = Value; }
    qint64 Min() const { return FMin; }
    void SetMin(qint64 Value);
    qint64 Max() const { return FMax; }
    void SetMax(qint64 Value);
    QString Status() const;
    void SetStatus(const QString& Value);
    qint64 Processed() const { return FProcessed; }
    void SetProcessed(qint64 Value) { FProcessed = Value; }
    bool Terminated() const { return FTerminated; }
    void SetTerminated(bool Value);
    int RestartSeconds() const { return FRestartSeconds; }
    void SetRestartSeconds(int Value) { FRestartSeconds = Value; }
    // Counts the runs started; it changes right after Terminated is cleared
    // for a new run, so a thread that sees it change knows the stop flag it
    // reads belongs to that run.
    qint64 RunNumber() const { return FRunNumber; }
    // The restart timer is waiting to start the next run.
    bool RestartPending() const;
    TRunState RunState() const { return FRunState; }

    TBeforeStartEvent BeforeStart;
    TProgressNotifyEvent AfterStop;
    TProgressNotifyEvent OnStart;
    TProgressNotifyEvent OnStop;
    TProgressNotifyEvent OnTerminate;
    TProgressNotifyEvent OnBreakClicked;
    TProgressNotifyEvent OnDisplay;

    // What the buttons do.
    virtual void BreakClick();
    virtual void StartClick();
    virtual void CloseClick();

protected:
    virtual void TimerTick();
    virtual void RestartTimerTick();
    virtual void DoBeforeStart(bool& Allow);
    virtual void DoStart();
    virtual void DoStop();
    virtual void DoAfterStop();
    virtual void DoTerminate();
    virtual void DoBreakClicked();
    virtual void UpdateDisplay();
    virtual void UpdateControlsVisibility(bool Running);
    // The clock; tests replace it.
    virtual TDateTime CurrentTime() const;

private:
    void DoEndProgress(qint64 ARun);
    void DoSetTerminated(bool Value);

    std::unique_ptr<QTimer> FTimer;
    std::unique_ptr<QTimer> FRestartTimer;
    TProgressBarControl* FProgressBar = nullptr;
    TLabelControl* FProgressLabel = nullptr;
    TLabelControl* FElapsedLabel = nullptr;
    TLabelControl* FElapsedTitleLabel = nullptr;
    TLabelControl* FProcessedLabel = nullptr;
    TLabelControl* FProcessedTitleLabel = nullptr;
    TLabelControl* FStatusLabel = nullptr;
    TButtonControl* FBreakButton = nullptr;
    TButtonControl* FStartButton = nullptr;
    TButtonControl* FCloseButton = nullptr;
    TProgressFlags FFlags = 0;
    bool FPBHidden = false;
    bool FBBHidden = false;
    bool FSBHide = false;
    std::atomic<TDateTime> FStartTime{0};
    std::atomic<TDateTime> FEndTime{0};
    qint64 FUpdatePeriod = 500;
    TDateTime FUpTime = 0;
    std::atomic<qint64> FPosition{0};
    std::atomic<qint64> FMin{0};
    std::atomic<qint64> FMax{100};
    mutable std::mutex FStatusCS;  // workers set Status while the timer shows it
    QString FStatus;
    std::atomic<qint64> FProcessed{0};
    std::atomic<bool> FTerminated{true};
    std::atomic<int> FRestartSeconds{0};
    std::atomic<qint64> FRunNumber{0};
    std::atomic<TRunState> FRunState{rsIdle};  // changed on the main thread only
};
