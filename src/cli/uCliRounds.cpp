#include "cli/uCliRounds.h"
#include "text/uEncoding.h"

#include "cli/uCliRun.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

sigset_t RoundSignals() {
    sigset_t Set;
    sigemptyset(&Set);
    sigaddset(&Set, SIGINT);
    sigaddset(&Set, SIGTERM);
    sigaddset(&Set, SIGHUP);
    return Set;
}

void Say(const QString& AText) {
    std::fprintf(stderr, "veltrask-cli: %s\n", qUtf8Printable(AText));
    std::fflush(stderr);
}

QString AbsoluteOutput(const TCliOptions& O, bool AIPv6) {
    const bool Has = AIPv6 ? O.HasOutput6 : O.HasOutput;
    const QString& Name = AIPv6 ? O.OutputFile6 : O.OutputFile;
    return Has && Name != QLatin1String("-") ? QFileInfo(Name).absoluteFilePath() : QString();
}

void OnChange(const TCliOptions& O) {
    if (!O.HasOnChange)
        return;
    const int Status = RunOnChangeCommand(O.OnChange, AbsoluteOutput(O, false), AbsoluteOutput(O, true));
    if (Status < 0)
        Say(QStringLiteral("cannot run the on-change command: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    else if (WIFEXITED(Status) && (WEXITSTATUS(Status) != 0 || !O.Quiet))
        Say(QStringLiteral("on-change command exited with status %1").arg(WEXITSTATUS(Status)));
    else if (WIFSIGNALED(Status))
        Say(QStringLiteral("on-change command ended by signal %1").arg(WTERMSIG(Status)));
}

// --apply after a completed round, changed or not: a rule set flushed since
// the last round (a firewall restart) is loaded again. False when it failed.
bool ApplyRound(const TCliOptions& O) {
    if (!O.HasApply)
        return true;
    const int Status = RunOnChangeCommand(O.Apply, AbsoluteOutput(O, false), AbsoluteOutput(O, true));
    if (Status < 0)
        Say(QStringLiteral("cannot run the apply command: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    else if (WIFSIGNALED(Status))
        Say(QStringLiteral("apply command ended by signal %1").arg(WTERMSIG(Status)));
    else if (WEXITSTATUS(Status) != 0)
        Say(QStringLiteral("apply command failed with status %1").arg(WEXITSTATUS(Status)));
    return Status >= 0 && WIFEXITED(Status) && WEXITSTATUS(Status) == 0;
}

// The run's outcome with what followed it: on-change when the output was
// replaced, and apply when the run completed (0, or 3: the state kept the
// addresses of the names whose lookups failed).
int AfterRound(const TCliOptions& O, int ACode, bool AChanged) {
    if (AChanged)
        OnChange(O);
    if ((ACode == 0 || ACode == 3) && !ApplyRound(O))
        return 1;
    return ACode;
}

// The file runs take turns on: the state, or the output of rounds (whose
// output a second run of the same rounds would replace under them).
QString TurnFile(const TCliOptions& O) {
    if (O.HasState && !O.StateFile.isEmpty())
        return O.StateFile;
    // A FIFO or a device is no file a run replaces: nothing to take turns on,
    // and no place for a lock file beside it.
    const QFileInfo Output(O.OutputFile);
    if (O.EverySec > 0 && O.HasOutput && O.OutputFile != QLatin1String("-") && (!Output.exists() || Output.isFile()))
        return O.OutputFile;
    return QString();
}

// An exclusive lock on FILE.lock for one round: another run on FILE waits for
// its turn and then reads what this one left. The lock file stays; removing
// it would let a third run lock a new file while the second holds the old.
class TRunTurn {
public:
    TRunTurn() = default;
    ~TRunTurn() {
        if (FFd >= 0)
            ::close(FFd);  // releases the lock
    }
    TRunTurn(const TRunTurn&) = delete;
    TRunTurn& operator=(const TRunTurn&) = delete;

    // Takes the turn on AFile, waiting while another run has it; the signals
    // of ASet are held back meanwhile, and one of SIGINT or SIGTERM ends the
    // wait. Returns 0, 1 after an error (told), or 128 plus the signal.
    int Take(const QString& AFile, const sigset_t& ASet) {
        // A missing state folder is made here, before anything is written.
        const QString Dir = QFileInfo(AFile).absolutePath();
        if (!QDir().mkpath(Dir)) {
            Say(QStringLiteral("cannot make the folder %1").arg(Dir));
            return 1;
        }
        const QString LockName = AFile + QStringLiteral(".lock");
        FFd = ::open(EncodeFileName(LockName).constData(), O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0600);
        struct stat St;
        if (FFd < 0 || ::fstat(FFd, &St) != 0 || !S_ISREG(St.st_mode)) {
            Say(QStringLiteral("cannot lock %1: %2")
                    .arg(LockName, FFd < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                                           : QStringLiteral("not a regular file")));
            return 1;
        }
        bool Told = false;
        while (::flock(FFd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                Say(QStringLiteral("cannot lock %1: %2").arg(LockName, QString::fromLocal8Bit(std::strerror(errno))));
                return 1;
            }
            if (!Told) {
                Say(QStringLiteral("Waiting for another run on %1").arg(AFile));
                Told = true;
            }
            const timespec Poll{0, 50 * 1000 * 1000};
            const int S = sigtimedwait(&ASet, nullptr, &Poll);
            if (S == SIGINT || S == SIGTERM)
                return 128 + S;
        }
        return 0;
    }

private:
    int FFd = -1;
};

// Hidden temporary files of this program's own pattern (".NAME.XXXXXX")
// beside AFile, from runs killed before they could remove them: made before
// ARoundStart, and no run holds the turn now.
void RemoveLeftovers(const QString& AFile, qint64 ARoundStart) {
    if (AFile.isEmpty() || AFile == QLatin1String("-"))
        return;
    const QFileInfo Info(AFile);
    const QFileInfo Target(Info.isSymLink() ? Info.symLinkTarget() : Info.absoluteFilePath());
    const QRegularExpression Pattern(QStringLiteral("^\\.%1\\.[A-Za-z0-9]{6}$")
                                         .arg(QRegularExpression::escape(Target.fileName())));
    const QDir Dir(Target.absolutePath());
    for (const QFileInfo& F : Dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks))
        if (Pattern.match(F.fileName()).hasMatch() && F.lastModified().toSecsSinceEpoch() < ARoundStart)
            QFile::remove(F.absoluteFilePath());
}

// One round (or the one run) with its turn taken and its leftovers removed.
// AChanged tells whether it replaced an output file.
int RunRound(const TCliOptions& O, const sigset_t& ASet, bool ARepeating, TCliRun& ARun, int& ASignal,
             bool& AHup) {
    ASignal = 0;
    AHup = false;
    TRunTurn Turn;
    const QString File = TurnFile(O);
    if (!File.isEmpty()) {
        sigset_t Old;
        pthread_sigmask(SIG_BLOCK, &ASet, &Old);
        const int Code = Turn.Take(File, ASet);
        if (!ARepeating)
            pthread_sigmask(SIG_SETMASK, &Old, nullptr);
        if (Code != 0) {
            ASignal = Code > 128 ? Code - 128 : 0;
            return Code;
        }
        const qint64 Start = QDateTime::currentSecsSinceEpoch();
        for (const QString& F : {O.HasState ? O.StateFile : QString(), O.OutputFile, O.OutputFile6})
            RemoveLeftovers(F, Start);
    }
    ARun.SetRepeating(ARepeating);
    int Code = ARun.Execute();
    if (ARepeating) {
        pthread_sigmask(SIG_BLOCK, &ASet, nullptr);
        ARun.TakePendingSignals();
        AHup = ARun.HupPending();
    }
    ASignal = ARun.Signal();
    if (ASignal != 0)
        return Code;
    // Still in its turn: the command loads the file this round wrote.
    return AfterRound(O, Code, ARun.OutputChanged());
}

// Waits up to ASeconds for a signal of ASet; returns it, or 0 when the time is up.
int WaitForSignal(const sigset_t& ASet, qint64 ASeconds) {
    timespec End;
    clock_gettime(CLOCK_MONOTONIC, &End);
    End.tv_sec += time_t(ASeconds);
    for (;;) {
        timespec Now;
        clock_gettime(CLOCK_MONOTONIC, &Now);
        qint64 LeftNs = (qint64(End.tv_sec) - Now.tv_sec) * 1000000000LL + (End.tv_nsec - Now.tv_nsec);
        if (LeftNs <= 0)
            return 0;
        const timespec Left{time_t(LeftNs / 1000000000LL), long(LeftNs % 1000000000LL)};
        const int S = sigtimedwait(&ASet, nullptr, &Left);
        if (S > 0)
            return S;
        if (errno != EINTR && errno != EAGAIN)
            return 0;
    }
}

} // namespace

int RunOnChangeCommand(const QString& ACommand, const QString& AOutput, const QString& AOutput6) {
    QList<QByteArray> Env;
    for (char** E = environ; *E; ++E)
        if (std::strncmp(*E, "VELTRASK_OUTPUT=", 16) != 0 && std::strncmp(*E, "VELTRASK_OUTPUT6=", 17) != 0)
            Env << QByteArray(*E);
    Env << "VELTRASK_OUTPUT=" + AOutput.toLocal8Bit() << "VELTRASK_OUTPUT6=" + AOutput6.toLocal8Bit();
    QList<char*> EnvP;
    for (QByteArray& E : Env)
        EnvP << E.data();
    EnvP << nullptr;
    QByteArray Cmd = ACommand.toLocal8Bit();
    char Sh[] = "/bin/sh", C[] = "-c";
    char* Argv[] = {Sh, C, Cmd.data(), nullptr};

    // The command gets the signals as any program does, not as they are held here.
    posix_spawnattr_t Attr;
    posix_spawnattr_init(&Attr);
    sigset_t Empty, Defaults = RoundSignals();
    sigemptyset(&Empty);
    posix_spawnattr_setsigmask(&Attr, &Empty);
    posix_spawnattr_setsigdefault(&Attr, &Defaults);
    posix_spawnattr_setflags(&Attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t Pid = -1;
    const int Rc = posix_spawn(&Pid, "/bin/sh", nullptr, &Attr, Argv, EnvP.data());
    posix_spawnattr_destroy(&Attr);
    if (Rc != 0) {
        errno = Rc;
        return -1;
    }
    int Status = 0;
    while (::waitpid(Pid, &Status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return Status;
}

int RunCliRounds(const TCliOptions& AOptions) {
    const sigset_t Set = RoundSignals();
    int Signal = 0;
    bool Hup = false;
    if (AOptions.EverySec <= 0) {
        TCliRun Run(AOptions);
        return RunRound(AOptions, Set, false, Run, Signal, Hup);
    }
    // Held back from here on; each run takes them while it runs, and between
    // runs they are waited for, never left to their default actions.
    pthread_sigmask(SIG_BLOCK, &Set, nullptr);
    for (;;) {
        {
            TCliRun Run(AOptions);
            const int Code = RunRound(AOptions, Set, true, Run, Signal, Hup);
            if (Signal != 0)
                return Code != 0 ? Code : 128 + Signal;
        }
        // A failed round (a server down, a list missing, a failing --apply)
        // keeps the last good output, and the next round tries again.
        if (Hup)
            continue;
        const int S = WaitForSignal(Set, AOptions.EverySec);
        if (S == SIGINT || S == SIGTERM)
            return 128 + S;
    }
}
