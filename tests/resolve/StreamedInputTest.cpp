// The job's input side: a FIFO that never gets a writer must not hold Break,
// a line beyond the reader's cut is skipped whole, UTF-16 without a mark is
// read as text and told once, and an input that cannot be read ends the run
// as an error.
#include "ResolveHarness.h"

#include "engine/uMainThread.h"
#include "support/TestFiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class StreamedInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        // Address lines only: no lookup is made, the server is never asked.
        R.SetDNS({QStringLiteral("127.0.0.1:1")});
        R.Utils.SetSourceMode(srcFile);
    }
    QString Input(const QByteArray& AData) {
        const QString Name = Dir.filePath(QStringLiteral("in%1.txt").arg(++FCount));
        WriteTestFile(Name, AData);
        R.Utils.SetDomainListFile(Name);
        return Name;
    }
    int Count(const QString& AText) { return int(R.LogLines().count(AText)); }

    QTemporaryDir Dir;
    TResolveRun R;
    int FCount = 0;
};

}  // namespace

TEST_F(StreamedInputTest, BreakEndsARunOnAFifoWithoutWriterWithinASecond) {
    const QString Fifo = Dir.filePath(QStringLiteral("in.fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(Fifo).constData(), 0600), 0);
    R.Utils.SetDomainListFile(Fifo);
    R.Utils.SetThreads(8);
    R.Start();
    // Every worker is in the run, waiting for input that never comes, and
    // none holds a lock while it waits (a worker may take one for a moment).
    ASSERT_FALSE(R.WaitEnd(600));
    int Free = 0;
    for (int I = 0; I < 20; ++I) {
        Free += R.Utils.InputLocksFree() ? 1 : 0;
        QThread::msleep(10);
    }
    EXPECT_GE(Free, 15) << "a lock is held while the input is waited for";
    QElapsedTimer T;
    T.start();
    R.Progress.BreakClick();
    const bool Ended = R.WaitEnd(5000);
    if (!Ended) {
        // A worker stuck in open() needs a writer to come back at all.
        const int Fd = ::open(QFile::encodeName(Fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (Fd >= 0)
            ::close(Fd);
    }
    ASSERT_TRUE(Ended) << "Break did not end the run";
    EXPECT_LT(T.elapsed(), 1000);
    EXPECT_EQ(R.Utils.LiveThreads(), 0);
    EXPECT_EQ(R.Utils.RunCounters().Lines, 0);
}

TEST_F(StreamedInputTest, OverlongLinesAreSkippedWholeAndCounted) {
    R.Utils.SetDetailedLog(true);
    R.Utils.SetThreads(3);
    // A comment whose part beyond the cut is an address; a 1 MB line; lines around them.
    Input("10.27.0.1\n#" + QByteArray(65534, 'y') + "10.27.0.99\n10.27.0.2\n" + QByteArray(1 << 20, 'x') +
          "\r\n10.27.0.3");
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), QStringList({"10.27.0.1", "10.27.0.2", "10.27.0.3"}));
    const TQXRunCounters C = R.Utils.RunCounters();
    EXPECT_EQ(C.Lines, 5);
    EXPECT_EQ(C.Skipped, 2);
    EXPECT_EQ(Count(QStringLiteral("Line too long: #") + QString(59, QLatin1Char('y'))), 1);
    EXPECT_EQ(Count(QStringLiteral("Line too long: ") + QString(60, QLatin1Char('x'))), 1);
}

TEST_F(StreamedInputTest, UTF16WithoutMarkIsReadAsTextAndToldOnce) {
    R.Utils.SetThreads(4);
    QByteArray Data;
    QStringList Expected;
    for (int I = 1; I <= 200; ++I) {
        const QByteArray Line = "10.27.1." + QByteArray::number(I) + "\r\n";
        for (char Ch : Line)
            Data += QByteArray(1, Ch) + '\0';
        Expected << QStringLiteral("10.27.1.%1").arg(I);
    }
    Expected.sort();
    Input(Data);
    ASSERT_TRUE(R.Run());
    EXPECT_EQ(R.SortedResult(), Expected);
    EXPECT_EQ(Count(QStringLiteral("Read as UTF-16 without a byte-order mark.")), 1);
}

TEST_F(StreamedInputTest, AnInputThatCannotBeReadEndsTheRunAsAnError) {
    R.Utils.SetThreads(4);
    R.Utils.SetDomainListFile(QStringLiteral("/proc/self/mem"));
    QString Error;
    R.Progress.AfterStop = [this, &Error](TProgress*) {
        try {
            R.Utils.AfterStop();
        } catch (const EInputReadError& E) {
            Error = E.Message();
        }
        R.Ended = true;
    };
    ASSERT_TRUE(R.Run(10000));
    EXPECT_EQ(Error, QStringLiteral("Cannot read file \"/proc/self/mem\". Input/output error"));
    EXPECT_EQ(R.Utils.InputReadError(), QStringLiteral("Input/output error"));
    // Told once in the log, before the summary.
    EXPECT_EQ(Count(QStringLiteral("Cannot read file \"/proc/self/mem\". Input/output error")), 1);
    EXPECT_EQ(R.LogLines().filter(QStringLiteral("Stream read error")).size(), 0);

    // The next run starts clean.
    Input("10.27.2.1\n");
    R.Progress.AfterStop = [this](TProgress*) {
        R.Utils.AfterStop();
        R.Ended = true;
    };
    ASSERT_TRUE(R.Run(10000));
    EXPECT_TRUE(R.Utils.InputReadError().isEmpty());
    EXPECT_EQ(R.SortedResult(), QStringList({"10.27.2.1"}));
}
