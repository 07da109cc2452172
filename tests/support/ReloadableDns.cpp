#include "support/ReloadableDns.h"

#include "support/LocalDnsServers.h"
#include "support/TestFiles.h"

#include <QDeadlineTimer>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <unistd.h>

TReloadableDns::~TReloadableDns() {
    if (FProc.state() != QProcess::NotRunning) {
        FProc.terminate();
        FProc.waitForFinished(3000);
    }
}

bool TReloadableDns::Start(const QString& ADir, const QString& AHosts, QString& AError) {
    FHosts = ADir + "/rules-hosts";
    FPort = TLocalDnsServers::FreeUdpPort();
    WriteHosts(AHosts);
    FProc.start("/usr/sbin/dnsmasq",
                {"--conf-file=/dev/null", "--keep-in-foreground", "--log-facility=" + ADir + "/dnsmasq.log",
                 "--no-resolv", "--no-hosts", "--no-poll", "--addn-hosts=" + FHosts,
                 "--port=" + QString::number(FPort), "--listen-address=127.0.0.1", "--bind-interfaces",
                 "--pid-file=", "--cache-size=0", "--user=root", "--group=root", "--local=/vt.test/"});
    if (!FProc.waitForStarted(5000)) {
        AError = "cannot start dnsmasq";
        return false;
    }
    return WaitForGeneration(AError);
}

bool TReloadableDns::Reload(const QString& AHosts, QString& AError) {
    WriteHosts(AHosts);
    ::kill(pid_t(FProc.processId()), SIGHUP);
    return WaitForGeneration(AError);
}

void TReloadableDns::WriteHosts(const QString& AHosts) {
    ++FGeneration;
    WriteTestFile(FHosts, (AHosts + QString("\n127.0.9.%1 probe.vt.test\n").arg(FGeneration)).toUtf8());
}

bool TReloadableDns::WaitForGeneration(QString& AError) {
    const QByteArray Want = QByteArray("\x7f\x00\x09", 3) + char(FGeneration);
    QDeadlineTimer Deadline(5000);
    while (!Deadline.hasExpired()) {
        if (TLocalDnsServers::QueryOnce(FPort, "probe.vt.test", 200).endsWith(Want))
            return true;
        QThread::msleep(20);
    }
    AError = "dnsmasq does not answer from the new hosts file";
    return false;
}
