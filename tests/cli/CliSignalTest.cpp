#include "CliProcess.h"
#include "support/FakeUdpServer.h"
#include "support/TestFiles.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <iostream>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

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

TEST_F(CliSignalTest, TerminateWithOutputFileLeavesThePreviousFileAsItWas) {
    // A broken run's lines are no rule set to load: the last good file stays,
    // byte for byte, and no temporary file is left beside it.
    QTemporaryDir Dir;
    const QString Out = Dir.filePath("out.txt");
    const QByteArray Previous = "*filter\n-A OUTPUT -d 192.0.2.1 -j REJECT\nCOMMIT\n";
    WriteTestFile(Out, Previous);
    QProcess P;
    P.start(VT_CLI_PATH, Args({"--pause", "100", "-o", Out, "--line-ending", "windows", "-f", "-A OUTPUT -d %ip% -j REJECT"}));
    ASSERT_TRUE(P.waitForStarted(10000));
    P.write(SlowInput(400));
    P.closeWriteChannel();
    ASSERT_FALSE(P.waitForFinished(1500));
    ::kill(P.processId(), SIGTERM);
    ASSERT_TRUE(P.waitForFinished(10000));
    EXPECT_EQ(P.exitCode(), 128 + SIGTERM);
    EXPECT_EQ(ReadTestFile(Out), Previous);
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"out.txt"}));
    EXPECT_TRUE(QString::fromUtf8(P.readAllStandardError()).contains(Out + " left unchanged: the run did not complete"));
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

namespace {

// Standard output on a FIFO that the test drains only when it chooses to, so
// that the program can be caught in the middle of a write.
class TUndrainedOutput {
public:
    explicit TUndrainedOutput(const QString& APath) {
        if (::mkfifo(QFile::encodeName(APath).constData(), 0600) == 0)
            FFd = ::open(QFile::encodeName(APath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
    ~TUndrainedOutput() {
        if (FFd >= 0)
            ::close(FFd);
    }
    bool IsOpen() const { return FFd >= 0; }
    int Unread() const {
        int N = 0;
        return ::ioctl(FFd, FIONREAD, &N) == 0 ? N : -1;
    }
    // Everything up to the end of the output (the writer gone).
    QByteArray ReadToEnd() const {
        ::fcntl(FFd, F_SETFL, ::fcntl(FFd, F_GETFL) & ~O_NONBLOCK);
        QByteArray All;
        char Buf[65536];
        ssize_t N;
        while ((N = ::read(FFd, Buf, sizeof Buf)) > 0)
            All.append(Buf, N);
        return All;
    }

private:
    int FFd = -1;
};

// A run whose output outgrows any pipe: the program ends up blocked writing.
class CliSecondSignalTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        ASSERT_TRUE(Out.IsOpen());
        QByteArray In;
        for (int I = 0; I < 30000; ++I)
            In += QString("10.6.%1.%2\n").arg(I / 256).arg(I % 256).toUtf8();
        WriteTestFile(Dir.filePath("in.txt"), In);
        const QString Dead = QString("127.0.0.1:%1").arg(TLocalDnsServers::FreeUdpPort());
        Cli.setStandardOutputFile(Dir.filePath("out"));
        Cli.start(VT_CLI_PATH, {"-s", Dead, "--pause", "0", "-q", "-f", "-A OUTPUT -d %ip% -j REJECT",
                                Dir.filePath("in.txt")});
        ASSERT_TRUE(Cli.waitForStarted(10000));
        // Full pipe, and a moment for the program to be stuck in its write.
        QDeadlineTimer Deadline(20000);
        while (Out.Unread() < 60000 && !Deadline.hasExpired())
            QThread::msleep(10);
        ASSERT_GE(Out.Unread(), 60000);
        QThread::msleep(200);
    }
    void Signal(int ASignal) { ::kill(Cli.processId(), ASignal); }

    QTemporaryDir Dir;
    TUndrainedOutput Out{Dir.filePath("out")};
    QProcess Cli;
};

} // namespace

TEST_F(CliSecondSignalTest, SecondInterruptEndsAfterTheLineBeingWritten) {
    Signal(SIGINT);
    // The first one only asks the run to stop, which needs the write to go on.
    ASSERT_FALSE(Cli.waitForFinished(300));
    Signal(SIGINT);
    QElapsedTimer Clock;
    Clock.start();
    const QByteArray Data = Out.ReadToEnd();
    ASSERT_TRUE(Cli.waitForFinished(5000));
    EXPECT_EQ(Cli.exitCode(), 130);
    EXPECT_LT(Clock.elapsed(), 1500);
    ASSERT_TRUE(Data.endsWith('\n'));
    const QRegularExpression Re("^-A OUTPUT -d 10\\.6\\.\\d+\\.\\d+ -j REJECT$");
    const QList<QByteArray> Lines = Data.chopped(1).split('\n');
    for (const QByteArray& L : Lines)
        ASSERT_TRUE(Re.match(QString::fromLatin1(L)).hasMatch()) << L.constData();
    // It stopped close to where it was held up, not at the end of the input.
    EXPECT_LT(Lines.size(), 30000);

}

TEST_F(CliSecondSignalTest, ThirdSignalEndsEvenWhileNobodyReads) {
    Signal(SIGTERM);
    Signal(SIGINT);
    ASSERT_FALSE(Cli.waitForFinished(100)) << "the second signal must not cut the line under way";
    Signal(SIGINT);
    ASSERT_TRUE(Cli.waitForFinished(1500));
    EXPECT_EQ(Cli.exitCode(), 130);
}

TEST_F(CliSignalTest, SignalEndsLookupsWaitingForASilentServerAtOnce) {
    TFakeUdpServer Server;   // takes every query, answers none
    ASSERT_TRUE(Server.IsListening());
    for (int Signal : {SIGINT, SIGTERM}) {
        const int Before = Server.QueryCount();
        QProcess P;
        // The default pause after each name is part of what the stop has to cut short.
        P.start(VT_CLI_PATH, {"-s", Server.Address(), "--timeout", "20000", "-t", "4", "-q"});
        ASSERT_TRUE(P.waitForStarted(10000));
        P.write("a.vt.test\nb.vt.test\nc.vt.test\nd.vt.test\ne.vt.test\n");
        P.closeWriteChannel();
        P.waitForBytesWritten(5000);
        // Every worker is now waiting out its 20 s.
        ASSERT_TRUE(Server.WaitForQueries(Before + 4, 10000));
        QThread::msleep(100);
        ASSERT_EQ(P.state(), QProcess::Running);
        QElapsedTimer Clock;
        Clock.start();
        ::kill(P.processId(), Signal);
        ASSERT_TRUE(P.waitForFinished(10000));
        const qint64 Took = Clock.elapsed();
        std::cout << "[ measured ] signal " << Signal << " ended the run in " << Took << " ms" << std::endl;
        EXPECT_EQ(P.exitCode(), 128 + Signal);
        // Meant to be under half a second; the bound leaves room for a loaded machine.
        EXPECT_LT(Took, 1500);
        // The fifth name was never asked: the stop came first.
        EXPECT_EQ(Server.QueryCount(), Before + 4);
    }
}
