#include "cli/uCliRounds.h"

#include "cli/uCliRun.h"

#include <QByteArray>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <spawn.h>
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
    if (AOptions.EverySec <= 0) {
        TCliRun Run(AOptions);
        const int Code = Run.Execute();
        if (Run.OutputChanged())
            OnChange(AOptions);
        return Code;
    }
    const sigset_t Set = RoundSignals();
    // Held back from here on; each run takes them while it runs, and between
    // runs they are waited for, never left to their default actions.
    pthread_sigmask(SIG_BLOCK, &Set, nullptr);
    for (;;) {
        int Signal = 0;
        bool Hup = false, Changed = false;
        {
            TCliRun Run(AOptions);
            Run.SetRepeating(true);
            const int Code = Run.Execute();
            pthread_sigmask(SIG_BLOCK, &Set, nullptr);
            Run.TakePendingSignals();
            Signal = Run.Signal();
            Hup = Run.HupPending();
            Changed = Run.OutputChanged();
            if (Signal != 0)
                return Code != 0 ? Code : 128 + Signal;
        }
        // A failed round (a server down, a list missing) keeps the last good
        // output and the rounds go on.
        if (Changed)
            OnChange(AOptions);
        if (Hup)
            continue;
        const int S = WaitForSignal(Set, AOptions.EverySec);
        if (S == SIGINT || S == SIGTERM)
            return 128 + S;
    }
}
