#include "cli/uCliRun.h"

#include "cli/uCliRules.h"

#include "engine/uFormat.h"
#include "engine/uMainThread.h"
#include "engine/uProgress.h"
#include "resolve/dns/IdDNSServer.h"
#include "engine/uThread.h"
#include "text/uEncoding.h"
#include "text/uLineReaderWriter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// ---------------------------------------------------------------------------
// TCliUtils

TCliUtils::TCliUtils(TProgress* AProgress, TLog* ALog) : TQXUtils(AProgress, ALog) {}

bool TCliUtils::InitFailed() {
    std::lock_guard<std::mutex> L(FInitCS);
    return FInitFailed;
}

QString TCliUtils::InitError() {
    std::lock_guard<std::mutex> L(FInitCS);
    return FInitError;
}

void TCliUtils::OpenRun() {
    // Called by the initialization gate with FInitCS held.
    FInitError.clear();
    try {
        TQXUtils::OpenRun();
        FOpened = true;
    } catch (...) {
        FInitError = TLog::ExceptionMessage(std::current_exception());
        throw;
    }
}

TUtilsThread* TCliUtils::CreateWorker(const TUtilsThreadMethod& AMethod, const QString& AMethodName,
                                      int AThreadNumber) {
    TUtilsThread* Thread = TQXUtils::CreateWorker(AMethod, AMethodName, AThreadNumber);
    if (FAfterWorkerCreated)
        FAfterWorkerCreated();
    return Thread;
}

void TCliUtils::TakeOutputLines(QStringList& ALines, QStringList& ALines6) {
    // A worker holding the write lock may be waiting for the main thread (a
    // full log hands its text over there), so this thread keeps serving
    // hand-offs until it has the lock.
    std::unique_lock<std::mutex> L(FWriteCS, std::defer_lock);
    while (!L.try_lock()) {
        ServeHandOffs();
        std::this_thread::yield();
    }
    const auto Take = [](TStringList* AList, QStringList& ATo) {
        for (int I = 0; I < AList->Count(); ++I)
            ATo << AList->Get(I);
        AList->Clear();
    };
    Take(ResultMode() == outListNew ? AddedList() : ResultList(), ALines);
    Take(ResultMode() == outListNew ? AddedList6() : ResultList6(), ALines6);
}

void TCliUtils::SetState(TAddressState* AState, qint64 AKeepSec) {
    FState = AState;
    FKeepSec = AKeepSec;
    UpdateHook();
}

void TCliUtils::UpdateHook() {
    // Every name of the list counts as listed, also when its lookups fail.
    if (FState)
        SetNameHook([this](const QString& AName) {
            std::lock_guard<std::mutex> L(FWriteCS);
            FState->NoteListed(AName);
        });
    else
        SetNameHook(nullptr);
    if (!FState) {
        SetAddressHook(nullptr);
        return;
    }
    // Called under the write lock. Every address is noted and given to the
    // document at the end, with the state's others.
    SetAddressHook([this](const QString& AIPText, const QString& ADomain) {
        FState->Note(AIPText, ADomain, FRunTime);
        return true;
    });
}

void TCliUtils::BeforeStart() {
    FOpened = false;
    FRunTime = QDateTime::currentSecsSinceEpoch();
    TQXUtils::BeforeStart();
}

void TCliUtils::WriteAccumulated() {
    // Only a run whose writers opened has a place for the lines.
    if (!FState || !FOpened || !RuleDocument())
        return;
    QList<TAddressState::TEntry> Entries;
    {
        std::lock_guard<std::mutex> L(FWriteCS);
        // The list decides: a name taken off it takes its addresses along,
        // once the whole list was read (a broken run saw only part of it).
        if (RunCompleted())
            FState->KeepListedOnly();
        Entries = FState->Current(FRunTime, FKeepSec);
    }
    for (const TAddressState::TEntry& E : std::as_const(Entries)) {
        const bool IPv6 = E.Address.contains(QLatin1Char(':'));
        // An address saved before is tested as a new one is (and logged
        // outside the lock).
        if ((IPv6 ? !IPv6On() : !IPv4On()) || !AddressWritable(E.Address))
            continue;
        std::lock_guard<std::mutex> L(FWriteCS);
        RuleDocument()->Add(E.Address, E.Domain);
    }
}

void TCliUtils::AfterStop() {
    std::exception_ptr Error;
    try {
        WriteAccumulated();
    } catch (...) {
        Error = std::current_exception();
    }
    TQXUtils::AfterStop();
    if (Error)
        std::rethrow_exception(Error);
}

// ---------------------------------------------------------------------------
// Signals: the handler only writes the signal number into a pipe; the main
// thread reads it through a notifier and breaks the run there, as the Break
// button would.

namespace {

int GSignalPipe[2] = {-1, -1};
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
std::atomic<int> GSignalCount{0};
// Set by the handler at once: waits that cannot reach the main thread's
// event loop (opening a FIFO, a log reader that takes nothing) ask it.
std::atomic<bool> GBreakSignal{false};
// The main thread is writing output lines, where a reader that takes none
// can hold it: a second signal then ends the program from the handler.
std::atomic<bool> GInOutputWrite{false};
// Rounds: SIGHUP asks for the next round and is no request to stop.
std::atomic<bool> GRepeating{false};

void SignalHandler(int ASignal) {
    const int SavedErrno = errno;
    if (ASignal == SIGHUP && GRepeating) {
        const char B = char(ASignal);
        [[maybe_unused]] const ssize_t N = ::write(GSignalPipe[1], &B, 1);
        errno = SavedErrno;
        return;
    }
    // The first signal breaks the run, which winds down in well under a
    // second. A second one means the user will not wait even for that: the
    // main thread writes the summary and ends the program as soon as the
    // output stands on a whole line; a third ends it even then (a reader
    // that no longer takes standard output).
    const int Count = GSignalCount.fetch_add(1) + 1;
    if (Count >= 3)
        ::_exit(128 + ASignal);
    if (Count == 2 && GInOutputWrite)
        TOutputFile::ExitAfterWholeLine(128 + ASignal);
    GBreakSignal = true;
    const char B = char(ASignal);
    [[maybe_unused]] const ssize_t N = ::write(GSignalPipe[1], &B, 1);
    errno = SavedErrno;
}

const int kDrainPeriodMSec = 100;

// Both names reach one existing file (links and relative paths included).
bool SameFile(const QString& A, const QString& B) {
    const QFileInfo FA(A), FB(B);
    return FA.exists() && FB.exists() && FA.canonicalFilePath() == FB.canonicalFilePath();
}

// Both names will be one file: output files are created only when the run
// completes, so a name that does not exist yet is compared by its folder.
QString TargetPath(const QString& A) {
    const QFileInfo F(A);
    if (F.exists())
        return F.canonicalFilePath();
    const QFileInfo Dir(F.absolutePath());
    return (Dir.exists() ? Dir.canonicalFilePath() : F.absolutePath()) + QLatin1Char('/') + F.fileName();
}
bool SameTarget(const QString& A, const QString& B) {
    return TargetPath(A) == TargetPath(B);
}

} // namespace

// ---------------------------------------------------------------------------
// TCliRun

TCliRun::TCliRun(const TCliOptions& AOptions) : FOptions(AOptions) {}

TCliRun::~TCliRun() {
    // Workers may still hold the job (an early return of Execute); the job's
    // destructor breaks and waits for them, before the log and the progress go.
    FDrainTimer.reset();
    FSignalNotifier.reset();
    FUtils.reset();
    FLog.reset();
    FProgress.reset();
    for (int S : kSignals)
        std::signal(S, SIG_DFL);
}

bool TCliRun::Refuse(const QString& AMessage, int AExitCode) {
    FConsole->Error(AMessage);
    FExitCode = AExitCode;
    return false;
}

bool TCliRun::InstallSignalHandlers() {
    if (GSignalPipe[0] < 0) {
        if (::pipe2(GSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return false;
    }
    GSignalCount = 0;
    GBreakSignal = false;
    GRepeating = FRepeating;
    FSignalNotifier = std::make_unique<QSocketNotifier>(GSignalPipe[0], QSocketNotifier::Read);
    QObject::connect(FSignalNotifier.get(), &QSocketNotifier::activated, FSignalNotifier.get(),
                     [this] { SignalReceived(); });
    // Workers hold the signals back: the main thread takes them, between any
    // two thread creations too.
    TThread::HoldSignalsInNewThreads({SIGINT, SIGTERM, SIGHUP});
    struct sigaction Action;
    std::memset(&Action, 0, sizeof Action);
    Action.sa_handler = SignalHandler;
    sigemptyset(&Action.sa_mask);
    for (int S : kSignals)
        sigaddset(&Action.sa_mask, S);
    Action.sa_flags = SA_RESTART;
    for (int S : kSignals)
        if (sigaction(S, &Action, nullptr) != 0)
            return false;
    // Rounds hold the signals back between two runs; the handler takes them now.
    sigset_t Set;
    sigemptyset(&Set);
    for (int S : kSignals)
        sigaddset(&Set, S);
    pthread_sigmask(SIG_UNBLOCK, &Set, nullptr);
    return true;
}

void TCliRun::SignalReceived() {
    if (GSignalCount >= 2)
        EndAtSecondSignal();
    char Buffer[16];
    ssize_t N;
    while ((N = ::read(GSignalPipe[0], Buffer, sizeof Buffer)) > 0)
        for (ssize_t I = 0; I < N; ++I) {
            if (Buffer[I] == SIGHUP && FRepeating)
                FHupPending = true;
            else if (FSignal == 0)
                FSignal = Buffer[I];
        }
    if (FSignal != 0)
        RequestBreak();
}

void TCliRun::RequestBreak() {
    FBroken = true;
    if (FStarted && !FStopped && !FProgress->Terminated())
        FProgress->BreakClick();
    // Workers waiting for more input stop waiting now.
    FUtils->WakeInput();
}

void TCliRun::EndAtSecondSignal() {
    // Writing the log processes events: the notifier must not come back here.
    static bool Ending = false;
    if (Ending)
        return;
    Ending = true;
    if (FSignalNotifier)
        FSignalNotifier->setEnabled(false);
    char B = 0;
    int Signal = SIGINT;
    while (::read(GSignalPipe[0], &B, 1) > 0)
        if (B != SIGHUP || !FRepeating)
            Signal = B;
    // Lines already written stay; the summary tells how far the run got.
    FLog->Flush();
    if (FStarted && !FStopped) {
        TQXRunCounters C = FUtils->RunCounters();
        C.Broken = true;
        FLog->Log(TQXUtils::SummaryText(C));
        FLog->Flush();
    }
    if (FOptions.Progress)
        FConsole->FinishProgress();
    TOutputFile::ExitAfterWholeLine(128 + (FSignal != 0 ? FSignal : Signal));
}

void TCliRun::CheckLogFile() {
    if (FLogFileReported)
        return;
    const QString Error = FLog->LogFileError();
    if (Error.isEmpty())
        return;
    FLogFileReported = true;
    FConsole->Error(Error);
    FRunError = true;
    RequestBreak();
}

bool TCliRun::CheckReadable(const QString& AFileName) {
    // Told here, once and before any lookup, rather than by the run. A FIFO
    // is left alone: opening it would wait for its writer.
    const QByteArray Name = EncodeFileName(AFileName);
    struct stat St;
    int Error = 0;
    if (::stat(Name.constData(), &St) != 0)
        Error = errno;
    else if (S_ISDIR(St.st_mode))
        Error = EISDIR;
    else if (!S_ISFIFO(St.st_mode) && ::access(Name.constData(), R_OK) != 0)
        Error = errno;
    if (Error == 0)
        return true;
    return Refuse(QStringLiteral("cannot open %1: %2").arg(AFileName, QString::fromLocal8Bit(std::strerror(Error))));
}

bool TCliRun::ReadKnownLines() {
    TStringList* Known = FUtils->ResultList();
    Known->Clear();
    if (!CheckReadable(FOptions.KnownFile))
        return false;
    try {
        // A FIFO waits for its writer, and a pipe for its lines, only until a signal.
        TLineReader Reader(FOptions.KnownFile, 1024);
        Reader.SetAbortCheck([] { return GBreakSignal.load(); });
        while (!Reader.EndOfLines())
            Known->Add(Reader.ReadLine());
    } catch (const EStreamReadError& E) {
        return Refuse(QStringLiteral("cannot read %1: %2").arg(FOptions.KnownFile, E.Reason()));
    } catch (const EFileError& E) {
        return Refuse(QStringLiteral("cannot open %1: %2").arg(FOptions.KnownFile, E.Message()));
    }
    if (GBreakSignal) {
        // The input ended by the signal, not by its writer: not all is known.
        SignalReceived();
        FExitCode = 128 + FSignal;
        return false;
    }
    return true;
}

bool TCliRun::CheckParams() {
    TStringList L;
    // 1. Source: always a file to the job; standard input as its descriptor.
    // Either is streamed when it is no regular file: each line is worked as
    // soon as it has arrived.
    FUtils->SetSourceMode(srcFile);
    if (FOptions.HasSourceFile) {
        if (FOptions.SourceFile.isEmpty())
            return Refuse(QStringLiteral("the input file name is empty"));
        if (!CheckReadable(FOptions.SourceFile))
            return false;
        FUtils->SetDomainListFile(FOptions.SourceFile);
        FUtils->SetDomainListFd(-1);
        FFromStdin = false;
    } else {
        FUtils->SetDomainListFd(STDIN_FILENO);
        FFromStdin = true;
    }
    // 2. DNS
    L.Clear();
    L.AddStrings(FOptions.DNSServers.isEmpty() ? DefaultDNSServers() : FOptions.DNSServers);
    FUtils->AssignDNSList(&L);
    if (FUtils->DNSList()->Count() == 0)
        return Refuse(QStringLiteral("no DNS servers (--dns)"));
    // 3. DBL
    if (FOptions.DBLOn) {
        L.Clear();
        L.AddStrings(FOptions.DBLZones);
        FUtils->AssignDBLServices(&L);
        if (FUtils->DBLServices()->Count() == 0)
            return Refuse(QStringLiteral("no DBL zones (--dbl)"));
        FUtils->SetDBLMode(FOptions.DBLOut ? blSave : blSuppress);
    } else {
        FUtils->SetDBLMode(blNone);
    }
    // 4. RBL
    if (FOptions.RBLOn) {
        L.Clear();
        L.AddStrings(FOptions.RBLZones);
        FUtils->AssignRBLServices(&L);
        L.Clear();
        L.AddStrings(FOptions.RBL6Zones);
        FUtils->AssignRBL6Services(&L);
        if (FUtils->RBLServices()->Count() == 0 && FUtils->RBL6Services()->Count() == 0)
            return Refuse(QStringLiteral("no RBL zones (--rbl)"));
        FUtils->SetRBLMode(FOptions.RBLOut ? blSave : blSuppress);
    } else {
        FUtils->SetRBLMode(blNone);
    }
    FUtils->SetCheckFailDrop(FOptions.CheckFailDrop);
    FUtils->SetKeepSpecial(FOptions.AllowSpecial);
    // 5. Template
    if (FOptions.HasFormat && FOptions.Format.isEmpty())
        return Refuse(QStringLiteral("the template is empty (--format)"));
    if (FOptions.HasFormat6 && FOptions.Format6.isEmpty())
        return Refuse(QStringLiteral("the IPv6 template is empty (--format6)"));
    FUtils->SetOutFormat(FOptions.Format);
    FUtils->SetCustomOutFormat(FOptions.HasFormat);
    FUtils->SetAddressFamily(FOptions.Family);
    FUtils->SetCustomOutFormat6(FOptions.Format6);
    // 6. Output: "-o -" is standard output, as no --output is.
    if (FOptions.HasOutput && FOptions.OutputFile.isEmpty())
        return Refuse(QStringLiteral("the output file name is empty (--output)"));
    FToStdout = !FOptions.HasOutput || FOptions.OutputFile == QLatin1String("-");
    if (!FToStdout && FOptions.HasSourceFile && SameFile(FOptions.SourceFile, FOptions.OutputFile)) {
        // Replacing the output file first would destroy the input unread.
        return Refuse(QStringLiteral("the output file is the input file: %1").arg(FOptions.OutputFile));
    }
    if (FOptions.HasOutput6 && FOptions.OutputFile6.isEmpty())
        return Refuse(QStringLiteral("the IPv6 output file name is empty (--output6)"));
    const bool ToFile6 = FOptions.HasOutput6 && FOptions.OutputFile6 != QLatin1String("-");
    if (ToFile6 && FOptions.HasSourceFile && SameFile(FOptions.SourceFile, FOptions.OutputFile6))
        return Refuse(QStringLiteral("the IPv6 output file is the input file: %1").arg(FOptions.OutputFile6));
    if (FOptions.HasKnown) {
        FUtils->SetResultMode(outListNew);
        if (FOptions.KnownFile.isEmpty())
            return Refuse(QStringLiteral("the file name of known lines is empty (--known)"));
        // The output file is replaced by the new lines alone: the known ones would be lost.
        if (!FToStdout && SameFile(FOptions.KnownFile, FOptions.OutputFile))
            return Refuse(QStringLiteral("the output file is the file of known lines: %1 "
                                         "(to add the new lines to it, use >> instead of --output)")
                              .arg(FOptions.OutputFile));
        if (ToFile6 && SameFile(FOptions.KnownFile, FOptions.OutputFile6))
            return Refuse(QStringLiteral("the IPv6 output file is the file of known lines: %1 "
                                         "(to add the new lines to it, use >> instead of --output6)")
                              .arg(FOptions.OutputFile6));
        if (!ReadKnownLines())
            return false;
    } else if (FOptions.Unique) {
        // Known lines with none known: every line goes out the first time only.
        FUtils->SetResultMode(outListNew);
        FUtils->ResultList()->Clear();
    } else {
        // Also with --output: the lines are written here, so that a failing
        // file is reported once and not by every worker that meets it.
        FUtils->SetResultMode(outList);
    }
    // The state is read before anything is written, and is never replaced unread.
    if (FOptions.HasState && !LoadState())
        return false;
    // 7. Threads
    bool Ok = !FOptions.ThreadsText.isEmpty() && FOptions.ThreadsText.size() <= 3;
    for (QChar C : FOptions.ThreadsText)
        Ok = Ok && C >= QLatin1Char('0') && C <= QLatin1Char('9');
    const int Threads = Ok ? FOptions.ThreadsText.toInt() : 0;
    if (Threads < 1 || Threads > 500)
        return Refuse(QStringLiteral("--threads must be 1 to 500"), 2);
    FUtils->SetThreads(Threads);
    return true;
}

bool TCliRun::OpenSink() {
    // --output6 naming the place the other lines go to is that one place:
    // two writers on one file would overwrite each other's lines.
    const bool ToStdout6 = FOptions.OutputFile6 == QLatin1String("-");
    FSplit6 = FOptions.HasOutput6 && FOptions.Family != afIPv4 &&
              (ToStdout6 ? !FToStdout : FToStdout || !SameTarget(FOptions.OutputFile, FOptions.OutputFile6));
    FUtils->SetSeparateList6(FSplit6);
    const TCliRuleText Rules = CliRuleText(FOptions, FSplit6);
    if (Rules.Document) {
        FUtils->SetRuleDocument(Rules.Settings);
        // A broken run's document would load as a whole rule set.
        FUtils->SetRuleDocumentOnBreak(false);
    } else {
        FUtils->ClearRuleDocument();
    }
    for (TOutputFile* Output : {&FOutput, &FOutput6}) {
        Output->SetHeader(Rules.Header);
        Output->SetFooter(Rules.Footer);
    }
    // Standard output unless a file is named. Lines end with LF unless
    // Windows' CR LF is asked for: the files feed Linux tools (nft,
    // iptables-restore), which reject a CR.
    // A FIFO without a reader is waited for until Ctrl-C or SIGTERM: taken
    // by the handler, or held back (between rounds) and so pending.
    const auto Abort = [this] {
        if (GBreakSignal) {
            SignalReceived();
            if (FSignal != 0)
                return true;
        }
        sigset_t Pending;
        sigpending(&Pending);
        for (int S : {SIGINT, SIGTERM, SIGHUP})
            if (sigismember(&Pending, S) && (S != SIGHUP || !FRepeating)) {
                FSignal = S;
                return true;
            }
        return false;
    };
    const auto Open = [this, &Abort](TOutputFile& AOutput, bool AToStdout, const QString& AFileName) {
        const bool Unix = FOptions.HasLineEnding ? FOptions.UnixLineEnding : true;
        AOutput.SetLineBreak(Unix ? QByteArray("\n") : QByteArray("\r\n"));
        AOutput.SetWriteBOM(FOptions.OutputBOM);
        QString Error;
        if (AToStdout) {
            AOutput.OpenStdout();
            return AOutput.WriteHeader(Error) || Refuse(Error);
        }
        if (AOutput.OpenFile(AFileName, Error, Abort))
            return true;
        if (AOutput.Interrupted()) {
            FExitCode = 128 + FSignal;
            return false;
        }
        return Refuse(Error);
    };
    if (!Open(FOutput, FToStdout, FOptions.OutputFile))
        return false;
    return !FSplit6 || Open(FOutput6, ToStdout6, FOptions.OutputFile6);
}

void TCliRun::ProgressBeforeStart(TProgress*, bool& Allow) {
    Allow = CheckParams() && OpenSink();
    if (!Allow)
        return;
    FStarted = true;
    FLog->ClearLog();
    FUtils->BeforeStart();
}

void TCliRun::ProgressStart(TProgress* Sender) {
    // A signal taken while the run was being prepared found nothing to break yet.
    if (GBreakSignal)
        SignalReceived();
    if (FSignal != 0) {
        Sender->BreakClick();
        return;
    }
    FUtils->StartResolveThreads();
}

void TCliRun::ProgressTerminate(TProgress* Sender) {
    FUtils->WakeInput();
    if (FLog->ActiveThreads() == 0)
        Sender->EndProgress();
}

void TCliRun::ProgressAfterStop(TProgress*) {
    try {
        // Closes the job's reader and writers; the lines still held are taken below.
        FUtils->AfterStop();
    } catch (const EInputReadError&) {
        // Told below in the command line's words.
    } catch (...) {
        FConsole->Error(TLog::ExceptionMessage(std::current_exception()));
        FRunError = true;
    }
    const QString ReadError = FUtils->InputReadError();
    if (!ReadError.isEmpty()) {
        FConsole->Error(QStringLiteral("cannot read %1: %2")
                            .arg(FFromStdin ? QStringLiteral("standard input") : FOptions.SourceFile, ReadError));
        FRunError = true;
    }
    DrainOutput();
    CloseSink();
    SaveState();
    CheckLogFile();
    if (!RunCompleted())
        FUtils->SetRunBroken();
    FUtils->LogSummary();
    FStopped = true;
}

bool TCliRun::LoadState() {
    if (FOptions.StateFile.isEmpty())
        return Refuse(QStringLiteral("the state file name is empty (--state)"));
    QString Note;
    QStringList Skipped;
    const TAddressState::TLoadResult Loaded =
        FState.Load(FOptions.StateFile, QDateTime::currentSecsSinceEpoch(), Note, Skipped);
    // Each bad line costs only itself.
    for (const QString& S : Skipped)
        FConsole->Error(QStringLiteral("warning: %1").arg(S));
    switch (Loaded) {
    case TAddressState::lrFailed:
        return Refuse(Note);
    case TAddressState::lrSetAside:
        FConsole->Error(QStringLiteral("warning: %1").arg(Note));
        break;
    case TAddressState::lrLoaded:
    case TAddressState::lrMissing:
        break;
    }
    FStateLoaded = true;
    return true;
}

void TCliRun::SaveState() {
    // Also after a broken run: the addresses it did see were seen, and the
    // file is replaced whole, never emptied.
    if (!FStateLoaded)
        return;
    QString Error;
    if (!FState.Save(FOptions.StateFile, QDateTime::currentSecsSinceEpoch(), FOptions.KeepSec, Error)) {
        FConsole->Error(Error);
        FRunError = true;
    }
}

bool TCliRun::RunCompleted() {
    return FSignal == 0 && !FBroken && !FRunError && !FUtils->InitFailed();
}

void TCliRun::ProgressDisplay(TProgress*) {
    if (FOptions.Progress && FStarted && !FStopped)
        FConsole->ShowProgress(ProgressText());
}

QString TCliRun::ProgressText() const {
    const TDateTime Start = FProgress->StartTime();
    const TDateTime End = FProgress->EndTime();
    const qint64 MSec = Start == 0 ? 0 : MilliSecondsBetween(Start, End != 0 ? End : NowDateTime());
    const qint64 Processed = FProgress->Processed();
    const double Rate = MSec > 0 ? double(Processed) * 1000.0 / double(MSec) : 0.0;
    const TQXRunCounters C = FUtils->RunCounters();
    return QStringLiteral("%1 lines, %2 lines/s, %3, %4 failed")
        .arg(Processed)
        .arg(Rate, 0, 'f', 1)
        .arg(TProgress::FormatElapsed(MSec / 1000))
        .arg(C.LookupsFailed + C.BLChecksFailed);
}

void TCliRun::DrainOutput() {
    QStringList Lines, Lines6;
    FUtils->TakeOutputLines(Lines, Lines6);
    // After a failed write later lines are still taken from the job, so they
    // do not pile up; one failure is reported once, and ends the run.
    if (WriteOutput(FOutput, Lines))
        WriteOutput(FOutput6, Lines6);
}

bool TCliRun::WriteOutput(TOutputFile& AOutput, const QStringList& ALines) {
    if (ALines.isEmpty() || AOutput.Failed())
        return !AOutput.Failed();
    QString Error;
    GInOutputWrite = true;
    const bool Written = AOutput.WriteLines(ALines, Error);
    GInOutputWrite = false;
    if (Written)
        return true;
    FRunError = true;
    // The job counted these lines as written when it handed them over.
    FUtils->SetOutputFailed();
    FConsole->Error(Error);
    RequestBreak();
    return false;
}

void TCliRun::CloseSink() {
    // A file is replaced only by a run that went to its end, and then both
    // files are: a failure of one keeps the other as it was too.
    const auto Report = [this](bool AOk, const QString& AError) {
        if (!AOk) {
            FRunError = true;
            FUtils->SetOutputFailed();
            FConsole->Error(AError);
        }
    };
    const bool Commit = RunCompleted();
    for (TOutputFile* Output : {&FOutput, &FOutput6}) {
        QString Error;
        Report(Output->Finish(Error, Commit), Error);
    }
    for (TOutputFile* Output : {&FOutput, &FOutput6}) {
        QString Error;
        Report(RunCompleted() ? Output->Replace(Error) : (Output->Discard(), true), Error);
    }
    if (!RunCompleted()) {
        for (TOutputFile* Output : {&FOutput, &FOutput6})
            if (Output->IsFile() && !Output->Changed())
                FConsole->Error(QStringLiteral("%1 left unchanged: the run did not complete").arg(Output->Name()));
        // The lines went into a temporary file that is gone now.
        if (FOutput.IsFile())
            FUtils->DiscardWritten();
    }
}

int TCliRun::Execute() {
    FConsole = std::make_unique<TCliConsole>(FOptions.Quiet);
    FMemo = std::make_unique<TConsoleMemo>(FConsole.get());

    FProgress = std::make_unique<TProgress>();
    FProgress->SetUpdatePeriod(1000);
    FProgress->BeforeStart = [this](TProgress* Sender, bool& Allow) { ProgressBeforeStart(Sender, Allow); };
    FProgress->AfterStop = [this](TProgress* Sender) { ProgressAfterStop(Sender); };
    FProgress->OnStart = [this](TProgress* Sender) { ProgressStart(Sender); };
    FProgress->OnTerminate = [this](TProgress* Sender) { ProgressTerminate(Sender); };
    FProgress->OnDisplay = [this](TProgress* Sender) { ProgressDisplay(Sender); };

    // Every 100 ms tick moves the buffered log onto standard error.
    FLog = std::make_unique<TCliLog>();
    FLog->SetUpdatePeriod(0);
    FLog->SetUpdateCount(1000);
    FLog->SetMaxLogLines(INT_MAX / 2);
    FLog->SetLogMemo(FMemo.get());

    FUtils = std::make_unique<TCliUtils>(FProgress.get(), FLog.get());
    FUtils->SetPauseMSec(FOptions.PauseMSec);
    FUtils->SetDNSTimeoutMSec(FOptions.TimeoutMSec);
    FUtils->SetDNSRetries(FOptions.Retries);
    FUtils->SetMaxQPS(FOptions.MaxQPS);
    // The summary comes after the output is closed: its count of lines
    // written tells what reached the output.
    FUtils->SetDeferSummary(true);
    // Waiting workers block until input comes; a Break wakes them (RequestBreak).
    FUtils->SetInputWakes(true);
    FUtils->SetAfterWorkerCreated([this] {
        if (GBreakSignal)
            SignalReceived();
    });
    if (FOptions.HasState)
        FUtils->SetState(&FState, FOptions.KeepSec);

    // First: a log file that is a FIFO waits for its reader only until a signal.
    if (!InstallSignalHandlers()) {
        Refuse(QStringLiteral("cannot install the signal handlers: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return FExitCode;
    }

    if (FOptions.Detailed) {
        FUtils->SetLogFileName(FOptions.HasLogFile ? FOptions.LogFile : QString());
        FUtils->SetLogFileAppend(FOptions.LogAppend);
        FLog->SetLogFileAbortCheck([] { return GBreakSignal.load(); });
        try {
            FUtils->SetDetailedLog(true);
        } catch (const Exception& E) {
            if (GBreakSignal) {
                SignalReceived();
                return 128 + FSignal;
            }
            // "cannot write log FILE: reason"
            Refuse(E.Message());
            return FExitCode;
        }
    }

    FDrainTimer = std::make_unique<QTimer>();
    FDrainTimer->setInterval(kDrainPeriodMSec);
    QObject::connect(FDrainTimer.get(), &QTimer::timeout, FDrainTimer.get(), [this] {
        DrainOutput();
        CheckLogFile();
    });

    FProgress->StartProgress();
    if (!FStarted) {
        FLog->Flush();
        return FExitCode;
    }
    FDrainTimer->start();

    // Blocks until something happens (a hand-off, a signal, a timer): an
    // idle input costs nothing.
    while (!FStopped)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // The thread that ended the run is still on its way out.
    FUtils->WaitForThreads();
    FDrainTimer->stop();
    FLog->Flush();
    if (FOptions.Progress) {
        FConsole->ShowProgress(ProgressText());
        FConsole->FinishProgress();
    }

    CheckLogFile();
    if (FSignal != 0)
        return 128 + FSignal;
    // The run was refused before its first query.
    if (!FUtils->DNSServerError().isEmpty()) {
        FConsole->Error(QStringLiteral("Cannot resolve DNS server: %1").arg(FUtils->DNSServerError()));
        return 2;
    }
    if (FUtils->InitFailed()) {
        // The log may hold the reason too; an error says so in any case.
        FConsole->Error(FUtils->InitError());
        return 1;
    }
    if (FRunError)
        return 1;
    // Completed, but some answers are missing from the output.
    return FUtils->RunHadFailures() ? 3 : 0;
}
