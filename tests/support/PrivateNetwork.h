#pragma once

#include <QString>
#include <QStringList>

// Firewall loaders run for real inside a private network namespace
// (`unshare -n`), where they touch nothing of the machine's own firewall.

struct TToolRun {
    int Code = -1;
    QString Output;  // standard output and error, merged
};

// A program the test may run (looked for in the sbin and bin folders), or empty.
QString FindTool(const QString& AName);
TToolRun RunTool(const QString& AProgram, const QStringList& AArgs, int ATimeoutMs = 120000);
// Root, unshare present and allowed here.
bool PrivateNetworkAvailable();
// AScript by `sh -ec` in a new network namespace.
TToolRun InPrivateNetwork(const QString& AScript);
