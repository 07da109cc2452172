#pragma once

#include "cli/uCliConsole.h"
#include "cli/uCliOptions.h"
#include "resolve/uAddressState.h"
#include "resolve/uOutputFile.h"
#include "engine/uLog.h"
#include "resolve/QXUtilsUnit.h"

#include <QStringList>
#include <functional>
#include <memory>

class QSocketNotifier;
class QTimer;
class TProgress;

// The log with a way to move its buffer onto the console right now, so that
// nothing logged is lost when the program ends between two timer ticks.
class TCliLog : public TLog {
public:
    void Flush() { UpdateLog(); }
};

// The resolve job as the command line needs it: whether the run could be
// initialized, and the output lines taken away while the run goes on, so a
// long run neither holds all of them nor prints them only at its end.
class TCliUtils : public TQXUtils {
public:
    TCliUtils(TProgress* AProgress, TLog* ALog);

    // The last run's initialization failed (input not readable, output not creatable).
    bool InitFailed();
    // Its reason, or empty.
    QString InitError();
    // Moves the output lines written so far out of the job: the result list,
    // or the new records when known lines were given. The IPv6 lines go to
    // ALines6 when the job keeps them apart (SeparateList6), else to ALines.
    void TakeOutputLines(QStringList& ALines, QStringList& ALines6);
    // Note every address of the run in AState instead of writing it, and
    // give the run's document, when the run stops, every address AState
    // holds seen within AKeepSec (this run's ones included). Null: off.
    void SetState(TAddressState* AState, qint64 AKeepSec);

    void BeforeStart() override;
    // Gives the document the state's addresses first, while the run's
    // writers are open, so that the summary's count of lines covers them.
    void AfterStop() override;

    // Run on the main thread after each worker is created, so that a signal
    // taken between two creations stops the next one.
    void SetAfterWorkerCreated(std::function<void()> AProc) { FAfterWorkerCreated = std::move(AProc); }

protected:
    void OpenRun() override;
    TUtilsThread* CreateWorker(const TUtilsThreadMethod& AMethod, const QString& AMethodName,
                               int AThreadNumber) override;

private:
    void WriteAccumulated();
    void UpdateHook();

    TAddressState* FState = nullptr;  // guarded by FWriteCS during a run
    qint64 FKeepSec = 0;
    qint64 FRunTime = 0;              // the run's "now" for the state
    std::atomic<bool> FOpened{false}; // the run's writers are open

    QString FInitError;  // guarded by FInitCS, like the gate that calls OpenRun
    std::function<void()> FAfterWorkerCreated;
};

// One run of the command line: the same progress controller, log and resolve
// job as the window, wired the way the window wires them, with the console in
// place of the widgets.
class TCliRun {
public:
    explicit TCliRun(const TCliOptions& AOptions);
    ~TCliRun();

    TCliRun(const TCliRun&) = delete;
    TCliRun& operator=(const TCliRun&) = delete;

    // Runs to the end; returns the exit status.
    int Execute();

    // One round of several (--every): SIGHUP then asks for the next round
    // instead of breaking this one.
    void SetRepeating(bool AValue) { FRepeating = AValue; }
    // After Execute: the signal that broke the run, 0 for none.
    int Signal() const { return FSignal; }
    // Takes signals that came after the run's last look (rounds ask before
    // they wait, so that a late Ctrl-C is not left for the next round).
    void TakePendingSignals() { SignalReceived(); }
    // A SIGHUP came during a repeating round.
    bool HupPending() const { return FHupPending; }
    // A committed output file got new content.
    bool OutputChanged() const { return FOutput.Changed() || FOutput6.Changed(); }

private:
    // The window's checks in the window's order; false with FExitCode set.
    bool CheckParams();
    bool Refuse(const QString& AMessage, int AExitCode = 1);
    bool ReadKnownLines();
    // Refuses, with "cannot open FILE: reason", a file that cannot be read.
    bool CheckReadable(const QString& AFileName);
    // The log file failed: tells it once and ends the run as an error.
    void CheckLogFile();
    // The summary now, as a second signal ends the program.
    void EndAtSecondSignal();
    bool OpenSink();
    bool InstallSignalHandlers();
    void SignalReceived();
    void RequestBreak();

    void ProgressBeforeStart(TProgress* Sender, bool& Allow);
    void ProgressStart(TProgress* Sender);
    void ProgressTerminate(TProgress* Sender);
    void ProgressAfterStop(TProgress* Sender);
    void ProgressDisplay(TProgress* Sender);

    void DrainOutput();
    // Writes ALines to AOutput; false after reporting a failed write.
    bool WriteOutput(TOutputFile& AOutput, const QStringList& ALines);
    void CloseSink();
    // The run went to its end: no signal, no error, no failed start.
    bool RunCompleted();
    bool LoadState();
    void SaveState();
    QString ProgressText() const;

    TCliOptions FOptions;
    std::unique_ptr<TCliConsole> FConsole;
    std::unique_ptr<TConsoleMemo> FMemo;
    std::unique_ptr<TProgress> FProgress;
    std::unique_ptr<TCliLog> FLog;
    std::unique_ptr<TCliUtils> FUtils;
    bool FFromStdin = false;  // the input is standard input

    // Where the output lines go; the job hands every line over, also for --output.
    TOutputFile FOutput;
    bool FToStdout = true;
    // Where the IPv6 lines go when --output6 names another place than FOutput.
    TOutputFile FOutput6;
    bool FSplit6 = false;
    std::unique_ptr<QTimer> FDrainTimer;
    std::unique_ptr<QSocketNotifier> FSignalNotifier;

    bool FStarted = false;   // BeforeStart allowed the run
    bool FStopped = false;   // AfterStop has run
    bool FRunError = false;  // the run ended by an error
    int FSignal = 0;         // the signal that broke the run
    int FExitCode = 0;       // set when the run is refused
    bool FRepeating = false;
    bool FBroken = false;    // the run was asked to break
    bool FHupPending = false;
    bool FLogFileReported = false;
    TAddressState FState;    // --state, read when the run is checked
    bool FStateLoaded = false;
};
