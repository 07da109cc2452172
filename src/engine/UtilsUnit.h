#pragma once

#include "engine/uFormat.h"
#include "engine/uThread.h"
#include "random/RandomUtilsUnit.h"

#include <QString>
#include <QVariantList>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

class QTimer;
class TLog;
class TProgress;
class TUtils;
class TUtilsThread;

// A thread body: a job operation taking the thread, e.g.
// [this](TUtilsThread* AThread) { DoResolve(AThread); }.
using TUtilsThreadMethod = std::function<void(TUtilsThread* AThread)>;

// The base of every threaded job: shared locks, the once-per-run
// initialization gate, per-run hooks, the bookkeeping that ends a run when
// its last thread has gone, an interruptible wait and logging helpers.
//
// A run: TProgress::StartProgress -> BeforeStart event -> (window) BeforeStart()
// -> OnStart event -> (window) StartThreads(...) -> last thread gone ->
// TProgress::EndProgress -> AfterStop event -> (window) AfterStop().
class TUtils : public TRandomUtils {
public:
    TUtils(TProgress* AProgress, TLog* ALog);
    // Breaks the run and waits (serving the main thread's events) for threads
    // still running; see EndThreadsForDestroy. A derived job releases its own
    // resources (its CloseRun) in its destructor.
    ~TUtils() override;

    TUtils(const TUtils&) = delete;
    TUtils& operator=(const TUtils&) = delete;

    virtual void BeforeStart();
    virtual void AfterStop();
    // Starts Threads workers numbered 1..Threads through CreateWorker. While
    // it runs, threads that end do not end the run; it decides at its end.
    virtual void StartThreads(const TUtilsThreadMethod& AMethod, const QString& AMethodName);

    void Log(const QString& AMsg);
    void Log(const QString& AFormat, const QVariantList& AArgs);
    void Log2(const QString& AMsg1, const QString& AMsg2);
    void LogException(std::exception_ptr AExceptObject = std::current_exception(),
                      const void* AExceptAddr = nullptr);
    void LogOSError(int Error);
    void LogLastOSError();
    static QString FormatOSError(int Error);
    static QString FormatLastOSError();
    static QString FormatException(std::exception_ptr AExceptObject, const void* AExceptAddr = nullptr);

    // Main thread, for closing during a run without waiting: requests a
    // break (as the Break button does, and again for a run that was still
    // starting) and runs AOnStopped from the event loop once Idle. A second
    // call replaces AOnStopped. AOnStopped may destroy the job.
    void BreakAndNotify(std::function<void()> AOnStopped);
    // No run is active and every thread of this job has gone: nothing uses
    // the job any more.
    bool Idle() const;

    // Requests a break and waits until every thread of this job has gone,
    // processing events and hand-offs meanwhile. False when ATimeoutMSec
    // (negative: none) ran out first. Inside a hand-off the wait could never
    // end (the worker that made it waits below on the stack): then it only
    // requests the break and returns whether the threads are gone.
    bool BreakAndWait(int ATimeoutMSec = -1);
    // The same without requesting the break.
    bool WaitForThreads(int ATimeoutMSec = -1);
    // Thread objects of this job that still exist.
    int LiveThreads() const { return FLiveThreads; }

    TProgress* Progress() const { return FProgress; }
    TLog* GetLog() const { return FLog; }
    int Threads() const { return FThreads; }
    void SetThreads(int Value) { FThreads = Value; }
    bool Completed() const { return FCompleted; }
    // Why the current (or last) run could not be opened; empty when it was.
    QString RunError() const;
    bool DetailedLog() const { return FDetailedLog; }
    // Opens the log file when switched on with a LogFileName, closes it when
    // switched off; an opening error propagates and leaves the value unchanged.
    void SetDetailedLog(bool Value);
    QString LogFileName() const { return FLogFileName; }
    void SetLogFileName(const QString& Value) { FLogFileName = Value; }
    bool LogFileAppend() const { return FLogFileAppend; }
    void SetLogFileAppend(bool Value) { FLogFileAppend = Value; }
    bool LogDateTime() const { return FLogDateTime; }
    void SetLogDateTime(bool Value) { FLogDateTime = Value; }
    bool Terminated() const;
    void SetTerminated(bool Value);

protected:
    friend class TUtilsThread;

    virtual void DoThreadCreate(TUtilsThread* AThread, bool AServiceThread);
    virtual void DoThreadDestroy(TUtilsThread* AThread);
    virtual void DoThreadExecute(TUtilsThread* AThread);
    virtual void InitDefaults();
    virtual bool InitializeRun();
    virtual void ResetRun();
    virtual void CloseRun();
    virtual void OpenRun();
    // Creates and starts one worker of StartThreads; a job with its own
    // thread class overrides it (TUtilsThread::Run<TMyThread>(...)).
    virtual TUtilsThread* CreateWorker(const TUtilsThreadMethod& AMethod, const QString& AMethodName,
                                       int AThreadNumber);
    // Completed has just turned true: service threads waiting for it may go.
    virtual void DoCompleted() {}

    bool WaitMSec(qint64 AMSec, TDateTime AStart);
    bool WaitSec(qint64 ASec, TDateTime AStart);
    bool CheckInitialized();
    // A service thread created in BeforeStart waits here until the run it
    // belongs to (ARun, see TProgress::RunNumber) has started, so that it
    // never acts on the stop flag left from the run before. False when that
    // run will not start: the job is closing or a newer BeforeStart replaced it.
    bool WaitForRunStart(qint64 ARun);
    // For destructors: with threads of this job still alive, breaks the run
    // and waits for them. The wait cannot deadlock: it is made only with no
    // hand-off below it on the stack, so every worker's hand-off is served by
    // it. A job destroyed inside a hand-off with threads alive could be
    // neither kept nor freed; that is a fault of the caller and ends the program.
    void EndThreadsForDestroy();

    TProgress* FProgress;
    TLog* FLog;
    int FThreads = 0;
    std::mutex FInitCS;
    std::mutex FReadCS;
    std::mutex FWriteCS;
    bool FInitialized = false;
    bool FInitFailed = false;
    QString FRunError;  // under FInitCS
    std::atomic<bool> FCompleted{false};
    std::atomic<int> FServiceThreads{0};
    std::atomic<bool> FDetailedLog{false};
    QString FLogFileName;
    bool FLogFileAppend = false;
    std::atomic<bool> FLogDateTime{true};

private:
    // Decides, with the count a change left, whether only service threads
    // remain (Completed) and whether the run has ended; true: call EndProgress.
    bool NoteActiveThreads(int AActive);

    void StopTimerTick();
    // Breaks the run if one is active and not told to stop yet.
    void RequestBreak();

    std::mutex FEndCS;       // orders the end-of-run decision; taken before the log's registry lock
    bool FStarting = false;  // StartThreads is creating workers
    std::atomic<int> FLiveThreads{0};
    std::atomic<qint64> FAwaitedRun{0};
    std::atomic<bool> FAbandonWaits{false};
    std::unique_ptr<QTimer> FStopTimer;  // polls for Idle after BreakAndNotify
    std::function<void()> FOnStopped;
};

// A worker (or service) thread of a job: registers with the job's log while
// being constructed, runs AMethod once started, and frees itself at the end.
// Create it with Run<...>(...) (or new + Start()).
class TUtilsThread : public TThread {
public:
    TUtilsThread(TUtils* AUtils, TUtilsThreadMethod AMethod, const QString& AThreadName, int AThreadNumber,
                 TThreadNotifyEvent AOnTerminate, bool AServiceThread);
    TUtilsThread(TUtils* AUtils, TUtilsThreadMethod AMethod, const QString& AThreadName, int AThreadNumber,
                 bool AServiceThread);
    ~TUtilsThread() override;

    // Constructs a thread of class T with AArgs and starts it once fully built.
    template <class T = TUtilsThread, class... A>
    static T* Run(A&&... AArgs) { T* R = new T(std::forward<A>(AArgs)...); R->Start(); return R; }

    TUtils* Utils() const { return FUtils; }
    QString ThreadName() const { return FThreadName; }
    int ThreadNumber() const { return FThreadNumber; }
    bool ServiceThread() const { return FServiceThread; }
    // The run this thread belongs to (TProgress::RunNumber).
    qint64 RunNumber() const { return FRun; }

protected:
    void Execute() override;
    void HandleFatalException(std::exception_ptr AError) override;

private:
    void Init(TThreadNotifyEvent AOnTerminate, bool AServiceThread);

    TUtils* FUtils;
    TUtilsThreadMethod FMethod;
    QString FThreadName;
    int FThreadNumber;
    bool FServiceThread = false;
    qint64 FRun = 0;
};
