#include "CliProcess.h"

#include <QDeadlineTimer>
#include <QProcess>

#include <algorithm>
#include <csignal>
#include <sys/types.h>

QStringList TCliResult::OutLines() const {
    QStringList L = QString::fromUtf8(Out).split(QLatin1Char('\n'));
    L.removeLast();
    return L;
}

TCliResult RunCli(const QStringList& AArgs, const QByteArray& AInput, int ATimeoutMs) {
    TCliResult R;
    QProcess P;
    P.start(QStringLiteral(VT_CLI_PATH), AArgs);
    if (!P.waitForStarted(10000))
        return R;
    if (!AInput.isEmpty())
        P.write(AInput);
    P.closeWriteChannel();
    R.Finished = P.waitForFinished(ATimeoutMs);
    if (!R.Finished) {
        P.kill();
        P.waitForFinished(5000);
    }
    R.ExitCode = P.exitStatus() == QProcess::NormalExit ? P.exitCode() : -1;
    R.Out = P.readAllStandardOutput();
    R.Err = P.readAllStandardError();
    return R;
}

QStringList Sorted(QStringList AList) {
    std::sort(AList.begin(), AList.end());
    return AList;
}

TCliServers& TCliServers::Instance() {
    static TCliServers S;
    return S;
}

bool TCliServers::Ready() {
    if (!FTried) {
        FTried = true;
        FServers = std::make_unique<TLocalDnsServers>();
        if (!FServers->Start()) {
            FError = FServers->LastError();
            FServers.reset();
        }
    }
    return FServers != nullptr;
}

QString TCliServers::DnsAddress() const {
    return FServers ? FServers->DnsAddress() : QString();
}

QStringList TCliServers::BaseArgs() const {
    return {QStringLiteral("--dns"), DnsAddress(), QStringLiteral("--pause"), QStringLiteral("0"),
            QStringLiteral("--timeout"), QStringLiteral("1000")};
}

TRounds::TRounds(const QStringList& AArgs) {
    FProc.setProcessChannelMode(QProcess::SeparateChannels);
    FProc.start(VT_CLI_PATH, AArgs);
}

TRounds::~TRounds() {
    if (FProc.state() != QProcess::NotRunning) {
        FProc.kill();
        FProc.waitForFinished(3000);
    }
}

bool TRounds::WaitForRounds(int ACount, int AMs) {
    QDeadlineTimer Deadline(AMs);
    while (Err().count("] Done: ") < ACount) {
        if (Deadline.hasExpired() || FProc.state() == QProcess::NotRunning)
            return false;
        FProc.waitForReadyRead(50);
    }
    return true;
}

bool TRounds::WaitForErr(const QString& AText, int AMs) {
    QDeadlineTimer Deadline(AMs);
    while (!Err().contains(AText)) {
        if (Deadline.hasExpired() || FProc.state() == QProcess::NotRunning)
            return false;
        FProc.waitForReadyRead(50);
    }
    return true;
}

QString TRounds::Err() {
    FErr += QString::fromUtf8(FProc.readAllStandardError());
    return FErr;
}

void TRounds::Signal(int ASignal) {
    ::kill(pid_t(FProc.processId()), ASignal);
}
