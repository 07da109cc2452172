// The command line when its files or its DNS server fail under it: the run
// must end, say why on standard error, exit with 1 when output was lost, and
// keep the output file it wrote before.
#include "CliProcess.h"
#include "support/TestFiles.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

QByteArray AddressInput(int N, QStringList* ALines = nullptr) {
    QByteArray In;
    for (int I = 0; I < N; ++I) {
        const QString L = QString("10.%1.%2.%3").arg(I / 65536).arg((I / 256) % 256).arg(I % 256);
        In += L.toLatin1() + '\n';
        if (ALines)
            *ALines << L;
    }
    return In;
}

// A port on loopback where nothing answers.
QString DeadServer() { return QString("127.0.0.1:%1").arg(TLocalDnsServers::FreeUdpPort()); }

QStringList QuickArgs(const QString& AServer) {
    return {"--dns", AServer, "--pause", "0", "--timeout", "200", "--threads", "8"};
}

} // namespace

TEST(FaultCliTest, OutputDiskFillingUpExitsWithOneAndKeepsThePreviousFile) {
    QTemporaryDir Dir;
    ASSERT_TRUE(Dir.isValid());
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small disk needs root";
    if (mount("vt-cli-fault", Dir.path().toLocal8Bit().constData(), "tmpfs", 0, "size=16k") != 0)
        GTEST_SKIP() << "mounting a tmpfs failed: " << strerror(errno);
    const QString Out = Dir.filePath("out.txt");
    const QByteArray Previous = "10.255.0.1\r\n10.255.0.2\r\n";
    {
        QFile P(Out);
        P.open(QIODevice::WriteOnly);
        P.write(Previous);
    }
    const TCliResult R = RunCli(QuickArgs(DeadServer()) + QStringList{"-o", Out, "--line-ending", "windows"}, AddressInput(6000), 30000);
    QFile F(Out);
    const QByteArray Data = F.open(QIODevice::ReadOnly) ? F.readAll() : QByteArray();
    F.close();
    const QStringList Left = QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden);
    umount2(Dir.path().toLocal8Bit().constData(), MNT_DETACH);

    ASSERT_TRUE(R.Finished) << "hung on the full disk";
    EXPECT_EQ(R.ExitCode, 1);
    EXPECT_TRUE(R.ErrText().contains("No space left on device")) << R.ErrText().toStdString();
    // The new lines did not fit: the file a loader reads is still the last whole one.
    EXPECT_EQ(Data, Previous);
    EXPECT_EQ(Left, QStringList({"out.txt"}));
    EXPECT_TRUE(R.ErrText().contains(Out + " left unchanged: the run did not complete")) << R.ErrText().toStdString();
}

TEST(FaultCliTest, OutputFileOnDevFullExitsWithOne) {
    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    const TCliResult R = RunCli(QuickArgs(DeadServer()) + QStringList{"-o", "/dev/full"}, AddressInput(3000), 30000);
    ASSERT_TRUE(R.Finished);
    EXPECT_EQ(R.ExitCode, 1);
    EXPECT_TRUE(R.ErrText().contains("No space left on device")) << R.ErrText().toStdString();
    // Nothing reached the device: the summary must not count lines as written.
    EXPECT_TRUE(R.ErrText().contains(", output failed, ")) << R.ErrText().toStdString();
    EXPECT_FALSE(R.ErrText().contains(" lines written")) << R.ErrText().toStdString();
}

TEST(FaultCliTest, ABrokenRunToAFileCountsNoLineAsWritten) {
    // The file is replaced only by a completed run, so what a broken run
    // wrote into its temporary file never reached the output.
    QTemporaryDir Dir;
    ASSERT_TRUE(Dir.isValid());
    const QString Fifo = Dir.filePath("in.fifo");
    ASSERT_EQ(mkfifo(Fifo.toLocal8Bit().constData(), 0600), 0);
    QProcess P;
    P.start(VT_CLI_PATH, QuickArgs(DeadServer()) + QStringList{"-o", Dir.filePath("out.txt"), Fifo});
    ASSERT_TRUE(P.waitForStarted(10000));
    QFile W(Fifo);
    ASSERT_TRUE(W.open(QIODevice::WriteOnly));
    W.write("10.0.0.1\n10.0.0.2\n");
    W.flush();
    // Both lines are in the temporary file before the break.
    QDeadlineTimer Deadline(10000);
    bool Written = false;
    while (!Written && !Deadline.hasExpired()) {
        for (const QFileInfo& I : QDir(Dir.path()).entryInfoList(QDir::Files | QDir::Hidden))
            if (I.fileName().startsWith(".out.txt") && ReadTestFile(I.filePath()).contains("10.0.0.2"))
                Written = true;
        P.waitForFinished(20);
    }
    ASSERT_TRUE(Written) << "the lines never reached the temporary file";
    ::kill(P.processId(), SIGINT);
    ASSERT_TRUE(P.waitForFinished(10000));
    W.close();
    const QString Err = QString::fromUtf8(P.readAllStandardError());
    EXPECT_EQ(P.exitCode(), 130);
    EXPECT_TRUE(Err.contains(", 0 lines written, ")) << Err.toStdString();
    EXPECT_FALSE(QFile::exists(Dir.filePath("out.txt")));
}

TEST(FaultCliTest, StandardOutputOnDevFullExitsWithOne) {
    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    QProcess P;
    P.setStandardOutputFile("/dev/full");
    P.start(QStringLiteral(VT_CLI_PATH), QuickArgs(DeadServer()));
    ASSERT_TRUE(P.waitForStarted(10000));
    P.write(AddressInput(3000));
    P.closeWriteChannel();
    ASSERT_TRUE(P.waitForFinished(30000)) << "hung writing to a full standard output";
    EXPECT_EQ(P.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(P.exitCode(), 1);
    EXPECT_TRUE(P.readAllStandardError().contains("No space left on device"));
}

TEST(FaultCliTest, DeadDnsServerEndsTheRunWithoutAddresses) {
    QByteArray In;
    for (int I = 0; I < 40; ++I)
        In += QString("name%1.vt.test\n").arg(I).toLatin1();
    In += "192.0.2.1\n";
    const TCliResult R = RunCli(QuickArgs(DeadServer()) + QStringList{"-v"}, In, 30000);
    ASSERT_TRUE(R.Finished);
    // Completed, but no lookup was answered.
    EXPECT_EQ(R.ExitCode, 3) << R.ErrText().toStdString();
    EXPECT_TRUE(R.ErrText().contains("Done: 41 lines, 40 domains, 0 not found, 40 lookups failed, "))
        << R.ErrText().toStdString();
    // The address line still comes out; no domain gets an address.
    EXPECT_EQ(R.OutLines(), QStringList({"192.0.2.1"}));
    // Each domain was tried, once.
    for (int I = 0; I < 40; ++I)
        EXPECT_EQ(R.ErrText().count(QString("\"name%1.vt.test\"").arg(I)), 1) << I;
}

TEST(FaultCliTest, InputFileThatCannotBeReadExitsWithOne) {
    QTemporaryDir Dir;
    ASSERT_TRUE(Dir.isValid());
    // A folder where the input file should be: opening succeeds, reading fails.
    const TCliResult R = RunCli(QuickArgs(DeadServer()) + QStringList{Dir.path()}, QByteArray(), 30000);
    ASSERT_TRUE(R.Finished);
    EXPECT_EQ(R.ExitCode, 1) << R.ErrText().toStdString();
    EXPECT_TRUE(R.Out.isEmpty());
    EXPECT_FALSE(R.ErrText().isEmpty());
}
