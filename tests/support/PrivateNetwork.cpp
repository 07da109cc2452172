#include "support/PrivateNetwork.h"

#include <QProcess>
#include <QStandardPaths>

#include <unistd.h>

QString FindTool(const QString& AName) {
    return QStandardPaths::findExecutable(AName, {"/usr/sbin", "/sbin", "/usr/bin", "/bin"});
}

TToolRun RunTool(const QString& AProgram, const QStringList& AArgs, int ATimeoutMs) {
    QProcess P;
    P.setProcessChannelMode(QProcess::MergedChannels);
    P.start(AProgram, AArgs);
    TToolRun R;
    if (!P.waitForStarted(5000) || !P.waitForFinished(ATimeoutMs))
        return R;
    R.Code = P.exitStatus() == QProcess::NormalExit ? P.exitCode() : -1;
    R.Output = QString::fromUtf8(P.readAll());
    return R;
}

bool PrivateNetworkAvailable() {
    static const bool Available = geteuid() == 0 && !FindTool("unshare").isEmpty() &&
                                  RunTool(FindTool("unshare"), {"-n", "true"}).Code == 0;
    return Available;
}

TToolRun InPrivateNetwork(const QString& AScript) {
    return RunTool(FindTool("unshare"), {"-n", "sh", "-ec", AScript});
}
