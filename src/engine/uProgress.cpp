#include "engine/uProgress.h"

#include "engine/uMainThread.h"

#include <QTimer>

TProgress::TProgress() : FTimer(std::make_unique<QTimer>()), FRestartTimer(std::make_unique<QTimer>()) {
    FTimer->setInterval(100);
    QObject::connect(FTimer.get(), &QTimer::timeout, FTimer.get(), [this] { TimerTick(); });
    FTimer->start();
    // Workers of a run hand their effects over to this thread.
    PrepareHandOffs();
    QObject::connect(FRestartTimer.get(), &QTimer::timeout, FRestartTimer.get(), [this] { RestartTimerTick(); });
}

TProgress::~TProgress() {
    FRestartTimer.reset();
    FTimer.reset();
}

qint64 TProgress::GetPercent() const {
    const qint64 Range = FMax - FMin;
    if (Range <= 0)
        return 0;
    return (FPosition - FMin) * 100 / Range;
}

QString TProgress::FormatElapsed(qint64 ASeconds) {
    return QStringLiteral("%1:%2:%3")
        .arg(ASeconds / 3600)
        .arg((ASeconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(ASeconds % 60, 2, 10, QLatin1Char('0'));
}

qint64 TProgress::Elapsed() const {
    const TDateTime Start = FStartTime;
    if (Start == 0)
        return 0;
    const TDateTime End = FEndTime;
    return MilliSecondsBetween(Start, End != 0 ? End : CurrentTime()) / 1000;
}

TDateTime TProgress::CurrentTime() const {
    return NowDateTime();
}

QString TProgress::Status() const {
    std::lock_guard<std::mutex> L(FStatusCS);
    return DetachedCopy(FStatus);
}

void TProgress::SetStatus(const QString& Value) {
    const QString Copy = DetachedCopy(Value);
    std::lock_guard<std::mutex> L(FStatusCS);
    FStatus = Copy;
}

void TProgress::SetMin(qint64 Value) {
    if (FPosition < Value)
        FPosition = Value;
    FMin = Value;
}

void TProgress::SetMax(qint64 Value) {
    if (FPosition > Value)
        FPosition = Value;
    FMax = Value;
}

bool TProgress::RestartPending() const {
    return FRestartTimer->isActive();
}

// ---------------------------------------------------------------------------
// Controls

void TProgress::SetProgressBar(TProgressBarControl* Value) {
    FProgressBar = Value;
    if (FProgressBar) {
        FProgressBar->SetMin(0);
        FProgressBar->SetPosition(0);
        FProgressBar->SetMax(100);
    }
    UpdateControlsVisibility(false);
}

void TProgress::SetProgressLabel(TLabelControl* Value) {
    FProgressLabel = Value;
    if (FProgressLabel)
        FProgressLabel->SetText(QString::number(GetPercent()) + QStringLiteral(" %"));
    UpdateControlsVisibility(false);
}

void TProgress::SetElapsedLabel(TLabelControl* Value) {
    FElapsedLabel = Value;
    UpdateControlsVisibility(false);
}

void TProgress::SetElapsedTitleLabel(TLabelControl* Value) {
    FElapsedTitleLabel = Value;
    UpdateControlsVisibility(false);
}

void TProgress::SetProcessedLabel(TLabelControl* Value) {
    FProcessedLabel = Value;
    UpdateControlsVisibility(false);
}

void TProgress::SetProcessedTitleLabel(TLabelControl* Value) {
    FProcessedTitleLabel = Value;
    UpdateControlsVisibility(false);
}

void TProgress::SetStatusLabel(TLabelControl* Value) {
    FStatusLabel = Value;
    if (FStatusLabel)
        FStatusLabel->SetText(Status());
    UpdateControlsVisibility(false);
}

void TProgress::SetBreakButton(TButtonControl* Value) {
    FBreakButton = Value;
    if (FBreakButton) {
        FBreakButton->SetOnClick([this] { BreakClick(); });
        FBreakButton->SetEnabled(false);
    }
    UpdateControlsVisibility(false);
}

void TProgress::SetStartButton(TButtonControl* Value) {
    FStartButton = Value;
    if (FStartButton)
        FStartButton->SetOnClick([this] { StartClick(); });
    UpdateControlsVisibility(false);
}

void TProgress::SetCloseButton(TButtonControl* Value) {
    FCloseButton = Value;
    if (FCloseButton)
        FCloseButton->SetOnClick([this] { CloseClick(); });
    UpdateControlsVisibility(false);
}

void TProgress::SetFlags(TProgressFlags Value) {
    FFlags = Value;
    FPBHidden = (Value & pfPBHidden) != 0;
    FBBHidden = (Value & pfBBHidden) != 0;
    FSBHide = (Value & pfSBHide) != 0;
    UpdateControlsVisibility(false);
}

namespace {

template <class C>
void ShowControl(C* AControl, bool AVisible) {
    if (AControl && AControl->Visible() != AVisible)
        AControl->SetVisible(AVisible);
}

}  // namespace

void TProgress::UpdateControlsVisibility(bool Running) {
    auto ShowDisplays = [this](bool AVisible) {
        ShowControl(FProgressBar, AVisible);
        ShowControl(FProgressLabel, AVisible);
        ShowControl(FElapsedLabel, AVisible);
        ShowControl(FElapsedTitleLabel, AVisible);
        ShowControl(FProcessedLabel, AVisible);
        ShowControl(FProcessedTitleLabel, AVisible);
        ShowControl(FStatusLabel, AVisible);
    };
    if (Running) {
        if (FPBHidden)
            ShowDisplays(true);
        if (FBBHidden)
            ShowControl(FBreakButton, true);
        if (FSBHide)
            ShowControl(FStartButton, false);
    } else {
        if (FSBHide)
            ShowControl(FStartButton, true);
        if (FPBHidden)
            ShowDisplays(false);
        if (FBBHidden)
            ShowControl(FBreakButton, false);
    }
}

void TProgress::UpdateDisplay() {
    const qint64 Percent = GetPercent();
    if (FProgressBar)
        FProgressBar->SetPosition(static_cast<int>(Percent));
    if (FStatusLabel)
        FStatusLabel->SetText(Status());
    if (FProgressLabel)
        FProgressLabel->SetText(QString::number(Percent) + QStringLiteral(" %"));
    if (FProcessedLabel)
        FProcessedLabel->SetText(QString::number(FProcessed.load()));
    const TDateTime Start = FStartTime;
    if (Start != 0 && FEndTime == 0 && FElapsedLabel)
        FElapsedLabel->SetText(FormatElapsed(MilliSecondsBetween(Start, CurrentTime()) / 1000));
    if (OnDisplay)
        OnDisplay(this);
    Application()->ProcessEvents();
}

void TProgress::TimerTick() {
    const TDateTime Now = CurrentTime();
    if (FUpdatePeriod != 0 && MilliSecondsBetween(FUpTime, Now) < FUpdatePeriod)
        return;
    UpdateDisplay();
    FUpTime = Now;
}

// ---------------------------------------------------------------------------
// Run state

void TProgress::StartProgress() {
    // While a run is starting, running or ending, a start (a queued click, a
    // restart) is refused silently, as the disabled button would refuse it.
    const TRunState From = FRunState;
    if (From != rsIdle && From != rsRestartWaiting)
        return;
    FRunState = rsStarting;
    // Refused: back to where it was (a restart whose timer has fired is idle).
    auto Refused = [this, From] {
        FRunState = From == rsRestartWaiting && FRestartTimer->isActive() ? rsRestartWaiting : rsIdle;
    };
    bool Allow = true;
    try {
        DoBeforeStart(Allow);
    } catch (...) {
        Refused();
        throw;
    }
    if (!Allow) {
        Refused();
        return;
    }
    UpdateControlsVisibility(true);
    FStartTime = CurrentTime();
    FEndTime = 0;
    FPosition = FMin.load();
    SetStatus(QString());
    FProcessed = 0;
    SetTerminated(false);
    // Announced only once the flag is clear: see RunNumber.
    const qint64 Run = ++FRunNumber;
    FRunState = rsRunning;
    UpdateDisplay();
    // The display let pending events run: the run may have ended already (its
    // service thread failed or saw a Break), and then it has nothing to start.
    if (FRunNumber != Run || FRunState != rsRunning)
        return;
    DoStart();
}

void TProgress::EndProgress() {
    EndProgress(FRunNumber);
}

void TProgress::EndProgress(qint64 ARun) {
    // Reached from the last worker of a run: its effects are the main thread's.
    RunInMainThread([this, ARun] { DoEndProgress(ARun); });
}

void TProgress::DoEndProgress(qint64 ARun) {
    // The first request ends the run; the state guards the steps below against
    // a second request served while they process events.
    if (ARun != FRunNumber || FRunState != rsRunning)
        return;
    FRunState = rsEnding;
    // An event handler that raises must not leave every later start refused.
    struct TLeave {
        TProgress* P;
        ~TLeave() {
            if (P->FRunState == rsEnding)
                P->FRunState = rsIdle;
        }
    } Leave{this};
    DoStop();
    if (FRestartSeconds < 1)
        FEndTime = CurrentTime();
    SetTerminated(true);
    UpdateDisplay();
    UpdateControlsVisibility(false);
    if (FRestartSeconds < 1) {
        DoAfterStop();
        FRunState = rsIdle;
    } else {
        FStartTime = CurrentTime();
        SetStatus(QStringLiteral("Waiting for restart..."));
        FRestartTimer->setInterval(FRestartSeconds * 1000);
        FRestartTimer->start();
        FRunState = rsRestartWaiting;
    }
}

void TProgress::SetTerminated(bool Value) {
    // Reached from a worker whose run cannot be initialized: buttons and
    // events belong to the main thread, and the caller waits for them.
    RunInMainThread([this, Value] { DoSetTerminated(Value); });
}

void TProgress::DoSetTerminated(bool Value) {
    if (Value != FTerminated) {
        FTerminated = Value;
        if (FBreakButton) {
            if (!Value)
                FBreakButton->SetEnabled(true);
            else if (FRestartSeconds == 0)
                FBreakButton->SetEnabled(false);
        }
        if (Value && FEndTime == 0) {
            DoTerminate();
            return;
        }
    }
    if (FStartButton) {
        if (!Value)
            FStartButton->SetEnabled(false);
        else if (FRestartSeconds == 0)
            FStartButton->SetEnabled(true);
    }
    if (FCloseButton)
        FCloseButton->SetEnabled(Value);
}

void TProgress::BreakClick() {
    FRestartSeconds = 0;
    DoBreakClicked();
    if (FRestartTimer->isActive()) {
        FRestartTimer->stop();
        FEndTime = 0;
        SetStatus(QStringLiteral("Stopped."));
        // Stopping again: the handler of OnTerminate ends it.
        if (FRunState == rsRestartWaiting)
            FRunState = rsRunning;
    } else if (FTerminated) {
        return;
    }
    FTerminated = true;
    if (FBreakButton)
        FBreakButton->SetEnabled(false);
    if (FEndTime == 0)
        DoTerminate();
}

void TProgress::RestartTimerTick() {
    FRestartTimer->stop();
    if (FRestartSeconds > 0)
        StartProgress();
    else if (FRunState == rsRestartWaiting)
        FRunState = rsIdle;
}

void TProgress::StartClick() {
    StartProgress();
}

void TProgress::CloseClick() {
    Application()->CloseMainWindow();
}

void TProgress::DoBeforeStart(bool& Allow) {
    if (BeforeStart)
        BeforeStart(this, Allow);
}

void TProgress::DoStart() {
    if (OnStart)
        OnStart(this);
}

void TProgress::DoStop() {
    if (OnStop)
        OnStop(this);
}

void TProgress::DoAfterStop() {
    if (AfterStop)
        AfterStop(this);
}

void TProgress::DoTerminate() {
    if (OnTerminate)
        OnTerminate(this);
}

void TProgress::DoBreakClicked() {
    if (OnBreakClicked)
        OnBreakClicked(this);
}
