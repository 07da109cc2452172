#include "CliProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

namespace {

// Many quick lines with a pause after each domain, so the run is surely
// still going when the signal comes.
QByteArray SlowInput(int ACount) {
    QByteArray In;
    for (int I = 0; I < ACount; ++I)
        In += I % 2 ? "clean.vt.test\n" : "www.vt.test\n";
    return In;
}

bool WaitFor(QProcess& P, const std::function<bool()>& ADone, int AMs) {
    QDeadlineTimer Deadline(AMs);
    while (!ADone()) {
        if (Deadline.hasExpired() || P.state() == QProcess::NotRunning)
            return ADone();
        P.waitForReadyRead(50);
    }
    return true;
}

class CliSignalTest : public ::testing::Test {
protected:
    void SetUp() override { VT_REQUIRE_CLI_SERVERS(); }

    QStringList Args(const QStringList& AMore) const {
        return QStringList{"--dns", TCliServers::Instance().DnsAddress(), "--timeout", "1000", "-q"} + AMore;
    }
};

} // namespace

TEST_F(CliSignalTest, InterruptBreaksTheRunAndLeavesOnlyWholeLines) {
    QProcess P;
    P.start(VT_CLI_PATH, Args({"--pause", "100", "-t", "2"}));
    ASSERT_TRUE(P.waitForStarted(10000));
    P.write(SlowInput(400));
    P.closeWriteChannel();
    QByteArray Out;
    ASSERT_TRUE(WaitFor(P, [&] { Out += P.readAllStandardOutput(); return Out.count('\n') >= 3; }, 20000));
    ASSERT_EQ(P.state(), QProcess::Running);
    ::kill(P.processId(), SIGINT);
    ASSERT_TRUE(P.waitForFinished(10000));
    Out += P.readAllStandardOutput();
    EXPECT_EQ(P.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(P.exitCode(), 130);
    ASSERT_TRUE(Out.endsWith('\n'));
    const QSet<QString> Valid = {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.1.2.4"};
    const QStringList Lines = QString::fromUtf8(Out).split('\n', Qt::SkipEmptyParts);
    for (const QString& L : Lines)
        EXPECT_TRUE(Valid.contains(L)) << L.toStdString();
    // 200 lookups of www (3 lines) and 200 of clean would make 800 lines.
    EXPECT_LT(Lines.size(), 800);
}

TEST_F(CliSignalTest, TerminateWithOutputFileClosesTheFileOnAWholeLine) {
    QTemporaryDir Dir;
    const QString Out = Dir.filePath("out.txt");
    QProcess P;
    P.start(VT_CLI_PATH, Args({"--pause", "100", "-o", Out, "-f", "-A OUTPUT -d %ip% -j REJECT"}));
    ASSERT_TRUE(P.waitForStarted(10000));
    P.write(SlowInput(400));
    P.closeWriteChannel();
    // The output file is written through a block buffer; a few pauses are enough
    // for the run to be well under way.
    ASSERT_FALSE(P.waitForFinished(1500));
    ::kill(P.processId(), SIGTERM);
    ASSERT_TRUE(P.waitForFinished(10000));
    EXPECT_EQ(P.exitCode(), 128 + SIGTERM);
    QFile F(Out);
    ASSERT_TRUE(F.open(QIODevice::ReadOnly));
    const QByteArray Data = F.readAll();
    ASSERT_FALSE(Data.isEmpty());
    EXPECT_TRUE(Data.endsWith("\r\n"));
    for (const QByteArray& L : Data.split('\n')) {
        if (!L.isEmpty()) {
            EXPECT_TRUE(L.startsWith("-A OUTPUT -d 10.") && L.endsWith(" -j REJECT\r")) << L.constData();
        }
    }
}

TEST_F(CliSignalTest, InterruptWhileWaitingForInputEndsAtOnce) {
    // Standard input stays open and silent: a worker is waiting for the next
    // line when the signal comes.
    QProcess P;
    P.start(VT_CLI_PATH, Args({"--pause", "0"}));
    ASSERT_TRUE(P.waitForStarted(10000));
    P.write("clean.vt.test\n");
    ASSERT_FALSE(P.waitForFinished(1200));
    ::kill(P.processId(), SIGINT);
    ASSERT_TRUE(P.waitForFinished(5000)) << "the run did not end while standard input stayed open";
    EXPECT_EQ(P.exitCode(), 130);
}
