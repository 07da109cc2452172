#pragma once

#include "support/LocalDnsServers.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

#include <gtest/gtest.h>

// The outcome of one run of the built veltrask-cli.
struct TCliResult {
    bool Finished = false;    // ended on its own within the time allowed
    int ExitCode = -1;
    QByteArray Out;           // standard output, raw
    QByteArray Err;           // standard error, raw
    QString ErrText() const { return QString::fromUtf8(Err); }
    // Standard output split at LF; the text after a final LF is not a line.
    QStringList OutLines() const;
};

// Runs the binary with AArgs, feeding AInput on standard input (which is
// then closed). Kills it and returns Finished false after ATimeoutMs.
TCliResult RunCli(const QStringList& AArgs, const QByteArray& AInput = QByteArray(), int ATimeoutMs = 60000);

// AList sorted, for comparing output whose order depends on the server.
QStringList Sorted(QStringList AList);

// Real DNS servers shared by every test of one suite: dnsmasq (A records of
// vt.test from a hosts file, blocklist zones forwarded) and rbldnsd with the
// DBL zone "dbl.vt-bl.test" and the RBL zones "rbl1.vt-bl.test" and
// "rbl2.vt-bl.test" (see LocalDnsServers.h for their data).
class TCliServers {
public:
    static TCliServers& Instance();
    // True once the servers answer; otherwise Error() says why.
    bool Ready();
    QString Error() const { return FError; }
    QString DnsAddress() const;
    // "--dns <server> --pause 0 --timeout 1000": quick runs against the local server.
    QStringList BaseArgs() const;

private:
    std::unique_ptr<TLocalDnsServers> FServers;
    bool FTried = false;
    QString FError;
};

#define VT_REQUIRE_CLI_SERVERS()                                                                             \
    do {                                                                                                     \
        VT_SKIP_WITHOUT_DNS_SERVERS();                                                                       \
        ASSERT_TRUE(TCliServers::Instance().Ready()) << TCliServers::Instance().Error().toStdString();        \
    } while (0)

// A test against the shared local servers, with a folder of its own.
class TCliServersTest : public ::testing::Test {
protected:
    void SetUp() override {
        VT_REQUIRE_CLI_SERVERS();
        ASSERT_TRUE(Dir.isValid());
    }
    QStringList Args(const QStringList& AMore) const { return TCliServers::Instance().BaseArgs() + AMore; }
    QString Path(const QString& AName) const { return Dir.filePath(AName); }
    // The summary line, without its date and thread prefix.
    static QString Summary(const TCliResult& R) {
        const QStringList L = R.ErrText().split('\n', Qt::SkipEmptyParts);
        return L.isEmpty() ? QString() : L.last().section("] ", 2);
    }

    QTemporaryDir Dir;
};

// veltrask-cli running on (rounds, or a run the test holds open); its
// standard error is read as it comes. Killed when the test ends.
class TRounds {
public:
    explicit TRounds(const QStringList& AArgs);
    ~TRounds();
    bool Started() { return FProc.waitForStarted(10000); }
    // Waits until ACount rounds have ended (their summary lines).
    bool WaitForRounds(int ACount, int AMs = 10000);
    // Waits until standard error holds AText.
    bool WaitForErr(const QString& AText, int AMs = 10000);
    QString Err();
    void Signal(int ASignal);
    QProcess& Proc() { return FProc; }

private:
    QProcess FProc;
    QString FErr;
};
