#include "engine/UtilsUnit.h"

#include "engine/uLog.h"
#include "engine/uMainThread.h"
#include "engine/uProgress.h"

#include <QCoreApplication>
#include <QTimer>
#include <QtGlobal>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

TUtils::TUtils(TProgress* AProgress, TLog* ALog) : FProgress(AProgress), FLog(ALog) {
    // A derived job's own defaults are its constructor's business: virtual
    // calls made here reach this class only.
    TUtils::InitDefaults();
}

TUtils::~TUtils() {
    // Threads still working for this job would outlive it.
    EndThreadsForDestroy();
    FStopTimer.reset();
    try {
        TUtils::CloseRun();
    } catch (...) {
    }
}

void TUtils::InitDefaults() {
    FThreads = 0;
    FDetailedLog = false;
    FLogFileName.clear();
    FLogFileAppend = false;
    FLogDateTime = true;
    ResetRun();
}

void TUtils::ResetRun() {}
void TUtils::CloseRun() {}
void TUtils::OpenRun() {}

bool TUtils::Terminated() const {
    return FProgress->Terminated();
}

void TUtils::SetTerminated(bool Value) {
    FProgress->SetTerminated(Value);
}

// ---------------------------------------------------------------------------
// Runs

void TUtils::BeforeStart() {
    // No thread of this job exists now (the previous run ended with its last
    // thread), and the threads of the new run are created after this.
    FInitialized = false;
    FInitFailed = false;
    {
        std::lock_guard<std::mutex> L(FInitCS);
        FRunError.clear();
    }
    FCompleted = false;
    FServiceThreads = 0;
    FAbandonWaits = false;
    FAwaitedRun = FProgress->RunNumber() + 1;
    FProgress->SetStatus(QStringLiteral("Starting..."));
    FProgress->SetPosition(0);
    FProgress->SetMax(100);
    FProgress->SetProcessed(0);
}

void TUtils::AfterStop() {
    CloseRun();
    FProgress->SetStatus(QStringLiteral("Completed."));
}

void TUtils::StartThreads(const TUtilsThreadMethod& AMethod, const QString& AMethodName) {
    if (FThreads <= 0) {
        // With service threads alive the run must end through their end,
        // once: they leave on seeing Completed.
        if (FServiceThreads > 0 && FLiveThreads > 0) {
            FCompleted = true;
            DoCompleted();
        }
        else
            FProgress->EndProgress();
        return;
    }
    {
        std::lock_guard<std::mutex> L(FEndCS);
        FStarting = true;
    }
    // A fast worker may end before the next is created; the count it leaves
    // says nothing about the run until every worker exists.
    std::exception_ptr Error;
    try {
        for (int i = 1; i <= FThreads; ++i) {
            if (Terminated())
                break;
            CreateWorker(AMethod, AMethodName, i);
        }
    } catch (...) {
        Error = std::current_exception();
    }
    bool Ended;
    {
        std::lock_guard<std::mutex> L(FEndCS);
        FStarting = false;
        Ended = NoteActiveThreads(FLog->ActiveThreads());
    }
    if (Ended)
        FProgress->EndProgress();
    if (Error)
        std::rethrow_exception(Error);
}

TUtilsThread* TUtils::CreateWorker(const TUtilsThreadMethod& AMethod, const QString& AMethodName,
                                   int AThreadNumber) {
    return TUtilsThread::Run<TUtilsThread>(this, AMethod, AMethodName, AThreadNumber, false);
}

bool TUtils::NoteActiveThreads(int AActive) {
    if (AActive == FServiceThreads) {
        FCompleted = true;
        DoCompleted();
    }
    return AActive == 0;
}

bool TUtils::CheckInitialized() {
    std::lock_guard<std::mutex> L(FInitCS);
    if (FInitFailed)
        return false;
    if (!FInitialized) {
        FInitFailed = true;
        if (!InitializeRun()) {
            SetTerminated(true);
            return false;
        }
        FInitFailed = false;
        FInitialized = true;
    }
    return true;
}

QString TUtils::RunError() const {
    std::lock_guard<std::mutex> L(const_cast<std::mutex&>(FInitCS));
    return FRunError;
}

bool TUtils::InitializeRun() {
    ResetRun();
    Randomize();
    try {
        CloseRun();
    } catch (...) {
        LogException(std::current_exception());
        return false;
    }
    try {
        OpenRun();
    } catch (...) {
        LogException(std::current_exception());
        // Called under FInitCS: the window tells the user why nothing ran.
        FRunError = TLog::ExceptionMessage(std::current_exception());
        try {
            CloseRun();
        } catch (...) {
            LogException(std::current_exception());
        }
        return false;
    }
    return true;
}

bool TUtils::WaitForRunStart(qint64 ARun) {
    while (FProgress->RunNumber() < ARun) {
        if (FAbandonWaits || FAwaitedRun != ARun)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool TUtils::WaitMSec(qint64 AMSec, TDateTime AStart) {
    if (AMSec == 0)
        return true;
    for (;;) {
        if (MilliSecondsBetween(AStart, NowDateTime()) >= AMSec)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(qMin<qint64>(AMSec, 200)));
        if (Terminated())
            break;
    }
    return !Terminated();
}

bool TUtils::WaitSec(qint64 ASec, TDateTime AStart) {
    return WaitMSec(ASec * 1000, AStart);
}

bool TUtils::BreakAndWait(int ATimeoutMSec) {
    if (FLiveThreads > 0) {
        FAbandonWaits = true;
        if (IsMainThread())
            FProgress->BreakClick();
        else
            FProgress->SetTerminated(true);
    }
    return WaitForThreads(ATimeoutMSec);
}

bool TUtils::WaitForThreads(int ATimeoutMSec) {
    if (!IsMainThread()) {
        // The main thread serves the hand-offs; this one only waits.
        const auto Start = std::chrono::steady_clock::now();
        while (FLiveThreads > 0) {
            if (ATimeoutMSec >= 0 &&
                std::chrono::steady_clock::now() - Start >= std::chrono::milliseconds(ATimeoutMSec))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return FLiveThreads == 0;
    }
    // Below a hand-off its worker waits for this very thread: never wait there.
    if (ServingHandOff())
        return FLiveThreads == 0;
    return WaitServing([this] { return FLiveThreads == 0; }, ATimeoutMSec);
}

void TUtils::EndThreadsForDestroy() {
    if (FLiveThreads == 0)
        return;
    if (IsMainThread() && ServingHandOff())
        qFatal("A job was destroyed inside a main-thread hand-off while %d of its threads were alive",
               FLiveThreads.load());
    BreakAndWait();
}

bool TUtils::Idle() const {
    return FProgress->RunState() == rsIdle && FLiveThreads == 0;
}

void TUtils::RequestBreak() {
    const TRunState State = FProgress->RunState();
    if (State == rsRestartWaiting || (State == rsRunning && !FProgress->Terminated()))
        FProgress->BreakClick();
}

void TUtils::BreakAndNotify(std::function<void()> AOnStopped) {
    FOnStopped = std::move(AOnStopped);
    RequestBreak();
    if (!FStopTimer) {
        FStopTimer = std::make_unique<QTimer>();
        FStopTimer->setInterval(10);
        QObject::connect(FStopTimer.get(), &QTimer::timeout, FStopTimer.get(), [this] { StopTimerTick(); });
    }
    FStopTimer->start();
}

void TUtils::StopTimerTick() {
    if (!Idle()) {
        // A run that was still starting when the break was asked for is
        // running now; the break applies to it too.
        RequestBreak();
        return;
    }
    FStopTimer->stop();
    std::function<void()> OnStopped = std::move(FOnStopped);
    FOnStopped = nullptr;
    // From the event loop, not from this timer: it may destroy the job.
    if (!OnStopped)
        return;
    if (QCoreApplication* App = QCoreApplication::instance())
        QMetaObject::invokeMethod(App, std::move(OnStopped), Qt::QueuedConnection);
    else
        OnStopped();
}

// ---------------------------------------------------------------------------
// Thread bookkeeping

void TUtils::DoThreadCreate(TUtilsThread* AThread, bool AServiceThread) {
    FLog->OnThreadCreate(AThread, AThread->ThreadName(), AThread->ThreadNumber());
    if (AServiceThread)
        ++FServiceThreads;
}

void TUtils::DoThreadExecute(TUtilsThread* AThread) {
    FLog->OnThreadExecute(AThread);
}

void TUtils::DoThreadDestroy(TUtilsThread* AThread) {
    // The count this very unregistration left: of threads ending together
    // exactly one sees 0 and ends the run.
    bool Ended = false;
    {
        std::lock_guard<std::mutex> L(FEndCS);
        const int Active = FLog->OnThreadDestroy(AThread);
        if (!FStarting)
            Ended = NoteActiveThreads(Active);
    }
    // For the run this thread belonged to: if that run has ended meanwhile
    // (a Break while no thread was left), the request does nothing.
    if (Ended)
        FProgress->EndProgress(AThread->RunNumber());
}

// ---------------------------------------------------------------------------
// Logging

void TUtils::Log(const QString& AMsg) {
    if (FLogDateTime)
        FLog->LogDT(AMsg);
    else
        FLog->Log(AMsg);
}

void TUtils::Log(const QString& AFormat, const QVariantList& AArgs) {
    Log(FormatText(AFormat, AArgs));
}

void TUtils::Log2(const QString& AMsg1, const QString& AMsg2) {
    if (AMsg2.isEmpty())
        Log(AMsg1);
    else if (AMsg1.isEmpty())
        Log(AMsg2);
    else
        Log(AMsg1 + QLatin1Char(' ') + AMsg2);
}

void TUtils::LogException(std::exception_ptr AExceptObject, const void* AExceptAddr) {
    FLog->LogException(AExceptObject, AExceptAddr);
}

QString TUtils::FormatOSError(int Error) {
    return FormatText(QStringLiteral("System Error.  Code: %d.\r\n%s"),
                      {Error, QString::fromStdString(std::system_category().message(Error))});
}

QString TUtils::FormatLastOSError() {
    return FormatOSError(errno);
}

void TUtils::LogOSError(int Error) {
    FLog->Log(QStringLiteral("System Error.  Code: %d.\r\n%s"),
              {Error, QString::fromStdString(std::system_category().message(Error))});
}

void TUtils::LogLastOSError() {
    LogOSError(errno);
}

QString TUtils::FormatException(std::exception_ptr AExceptObject, const void* AExceptAddr) {
    QString R = TLog::ExceptionMessage(AExceptObject);
    if (!R.isEmpty()) {
        if (!R.endsWith(QLatin1Char('.')) && !R.endsWith(QLatin1Char('\n')))
            R += QLatin1Char('.');
    } else {
        R = TLog::ExceptionDescription(AExceptObject, AExceptAddr);
    }
    R.truncate(1023);
    return R;
}

void TUtils::SetDetailedLog(bool Value) {
    if (Value) {
        if (!FLogFileName.isEmpty())
            FLog->OpenLogFile(FLogFileName, FLogFileAppend);
    } else {
        FLog->CloseLogFile();
    }
    FDetailedLog = Value;
}

// ---------------------------------------------------------------------------
// TUtilsThread

TUtilsThread::TUtilsThread(TUtils* AUtils, TUtilsThreadMethod AMethod, const QString& AThreadName,
                           int AThreadNumber, TThreadNotifyEvent AOnTerminate, bool AServiceThread)
    : FUtils(AUtils), FMethod(std::move(AMethod)), FThreadName(AThreadName), FThreadNumber(AThreadNumber) {
    Init(std::move(AOnTerminate), AServiceThread);
}

TUtilsThread::TUtilsThread(TUtils* AUtils, TUtilsThreadMethod AMethod, const QString& AThreadName,
                           int AThreadNumber, bool AServiceThread)
    : FUtils(AUtils), FMethod(std::move(AMethod)), FThreadName(AThreadName), FThreadNumber(AThreadNumber) {
    Init(nullptr, AServiceThread);
}

void TUtilsThread::Init(TThreadNotifyEvent AOnTerminate, bool AServiceThread) {
    OnTerminate = std::move(AOnTerminate);
    FServiceThread = AServiceThread;
    // A service thread is created in BeforeStart, before its run is counted;
    // workers are created once it has started.
    FRun = AServiceThread ? FUtils->FAwaitedRun.load() : FUtils->FProgress->RunNumber();
    ++FUtils->FLiveThreads;
    try {
        FUtils->DoThreadCreate(this, AServiceThread);
    } catch (...) {
        --FUtils->FLiveThreads;
        throw;
    }
}

TUtilsThread::~TUtilsThread() {
    try {
        FUtils->DoThreadDestroy(this);
    } catch (...) {
        try {
            FUtils->LogException(std::current_exception());
        } catch (...) {
        }
    }
    // The last touch of the job: once this is 0 the job may go.
    --FUtils->FLiveThreads;
}

void TUtilsThread::Execute() {
    FUtils->DoThreadExecute(this);
    if (FServiceThread && !FUtils->WaitForRunStart(FRun))
        return;
    // The per-thread component runtime the body may need exists only on Windows.
    FMethod(this);
}

void TUtilsThread::HandleFatalException(std::exception_ptr AError) {
    FUtils->LogException(AError);
}
