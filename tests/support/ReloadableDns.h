#pragma once

#include "support/PrivateNetwork.h"

#include <QProcess>
#include <QString>
#include <QStringList>

// dnsmasq answering vt.test names from a hosts file that Reload replaces, as a
// content-delivery network moves its addresses between two runs.
class TReloadableDns {
public:
    ~TReloadableDns();
    // Starts dnsmasq on a free loopback port with its files in ADir.
    bool Start(const QString& ADir, const QString& AHosts, QString& AError);
    // New hosts content; returns once dnsmasq answers from it.
    bool Reload(const QString& AHosts, QString& AError);
    QString Address() const { return QString("127.0.0.1:%1").arg(FPort); }

private:
    // Every content carries a probe name whose address counts the generations.
    void WriteHosts(const QString& AHosts);
    bool WaitForGeneration(QString& AError);

    QProcess FProc;
    QString FHosts;
    quint16 FPort = 0;
    int FGeneration = 0;
};
