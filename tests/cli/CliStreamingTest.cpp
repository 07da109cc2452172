// Input that arrives line by line (standard input, a FIFO named as FILE,
// /dev/stdin), input that never arrives, closed standard descriptors, UTF-16
// without a mark, overlong lines, unreadable input and the default line break.
#include "CliProcess.h"
#include "support/TestFiles.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Address lines pass through without a lookup: no server is needed, and a
// line's output shows at once when the line has been read.
const QStringList kQuiet{"-q", "-s", "127.0.0.1:1", "--pause", "0", "--timeout", "300"};

bool ReadUntil(QProcess& P, QByteArray& AOut, const QByteArray& AWanted, int AMs) {
    QDeadlineTimer Deadline(AMs);
    for (;;) {
        AOut += P.readAllStandardOutput();
        if (AOut.contains(AWanted))
            return true;
        if (Deadline.hasExpired() || P.state() == QProcess::NotRunning)
            return false;
        P.waitForReadyRead(20);
    }
}

// Feeds lines one by one, every 200 ms, through AWrite, and checks that the
// output of each has come before the next is written. AFirst goes first
// (a line that yields no output).
void FeedLineByLine(QProcess& P, const std::function<void(const QByteArray&)>& AWrite, const QByteArray& AFirst,
                    const std::function<void()>& AClose) {
    QByteArray Out;
    if (!AFirst.isEmpty())
        AWrite(AFirst);
    for (int I = 1; I <= 5; ++I) {
        const QByteArray Line = "10.29.0." + QByteArray::number(I);
        AWrite(Line + "\n");
        EXPECT_TRUE(ReadUntil(P, Out, Line + "\n", 3000))
            << "the output of " << Line.constData() << " waited for more input; got: " << Out.constData();
        QThread::msleep(200);
    }
    AClose();
    ASSERT_TRUE(P.waitForFinished(10000));
    Out += P.readAllStandardOutput();
    EXPECT_EQ(P.exitCode(), 0) << P.readAllStandardError().constData();
    EXPECT_EQ(Out, "10.29.0.1\n10.29.0.2\n10.29.0.3\n10.29.0.4\n10.29.0.5\n");
}

// A FIFO whose write end the test opens once the program has opened it for reading.
class TInputFifo {
public:
    TInputFifo() : FPath(FDir.filePath("in.fifo")) { FOk = ::mkfifo(QFile::encodeName(FPath).constData(), 0600) == 0; }
    ~TInputFifo() { Close(); }
    bool Ok() const { return FOk; }
    const QString& Path() const { return FPath; }
    bool OpenWriter(int AMs) {
        QDeadlineTimer Deadline(AMs);
        while (FFd < 0 && !Deadline.hasExpired()) {
            FFd = ::open(QFile::encodeName(FPath).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (FFd < 0)
                QThread::msleep(10);
        }
        if (FFd >= 0)
            ::fcntl(FFd, F_SETFL, 0);
        return FFd >= 0;
    }
    void Write(const QByteArray& A) { ASSERT_EQ(::write(FFd, A.constData(), size_t(A.size())), A.size()); }
    void Close() {
        if (FFd >= 0)
            ::close(FFd);
        FFd = -1;
    }

private:
    QTemporaryDir FDir;
    QString FPath;
    bool FOk = false;
    int FFd = -1;
};

// veltrask-cli through the shell, for descriptors a QProcess always opens.
TCliResult RunShell(const QString& ARedirect, const QStringList& AArgs) {
    QStringList Quoted;
    for (const QString& A : AArgs)
        Quoted << "'" + A + "'";
    return [&] {
        TCliResult R;
        QProcess P;
        P.start("sh", {"-c", QStringLiteral("exec '%1' %2 %3").arg(VT_CLI_PATH, Quoted.join(' '), ARedirect)});
        R.Finished = P.waitForFinished(20000);
        R.ExitCode = P.exitCode();
        R.Out = P.readAllStandardOutput();
        R.Err = P.readAllStandardError();
        return R;
    }();
}

QByteArray Utf16NoMark(const QByteArray& AAscii, bool ABigEndian) {
    QByteArray Out;
    for (char C : AAscii) {
        Out += ABigEndian ? QByteArray(1, '\0') + C : QByteArray(1, C) + '\0';
    }
    return Out;
}

}  // namespace

TEST(CliStreamingTest, EachLineIsWorkedBeforeTheNextArrives) {
    // A character cut by the first 1,024-byte read used to make every later
    // line wait for the next; the comment line puts "ü" across that boundary.
    const QByteArray Comment = "#" + QByteArray(1022, 'c') + "\xC3\xBC\n";
    {
        SCOPED_TRACE("standard input");
        QProcess P;
        P.start(VT_CLI_PATH, kQuiet);
        ASSERT_TRUE(P.waitForStarted(10000));
        FeedLineByLine(P, [&](const QByteArray& A) { P.write(A); }, Comment, [&] { P.closeWriteChannel(); });
    }
    {
        SCOPED_TRACE("/dev/stdin");
        QProcess P;
        P.start(VT_CLI_PATH, kQuiet + QStringList{"/dev/stdin"});
        ASSERT_TRUE(P.waitForStarted(10000));
        FeedLineByLine(P, [&](const QByteArray& A) { P.write(A); }, Comment, [&] { P.closeWriteChannel(); });
    }
    {
        SCOPED_TRACE("a FIFO as FILE");
        TInputFifo Fifo;
        ASSERT_TRUE(Fifo.Ok());
        QProcess P;
        P.start(VT_CLI_PATH, kQuiet + QStringList{Fifo.Path()});
        ASSERT_TRUE(P.waitForStarted(10000));
        ASSERT_TRUE(Fifo.OpenWriter(5000));
        FeedLineByLine(P, [&](const QByteArray& A) { Fifo.Write(A); }, Comment, [&] { Fifo.Close(); });
    }
}

TEST(CliStreamingTest, InterruptEndsARunOnAFifoWithoutWriterAtOnce) {
    TInputFifo Fifo;
    ASSERT_TRUE(Fifo.Ok());
    QProcess P;
    P.start(VT_CLI_PATH, kQuiet + QStringList{Fifo.Path()});
    ASSERT_TRUE(P.waitForStarted(10000));
    ASSERT_FALSE(P.waitForFinished(800));
    QElapsedTimer T;
    T.start();
    ::kill(P.processId(), SIGINT);
    const bool Ended = P.waitForFinished(3000);
    if (!Ended) {
        // Let a blocked open() go so that the process can be reaped.
        Fifo.OpenWriter(1000);
        Fifo.Close();
        P.kill();
        P.waitForFinished(3000);
    }
    ASSERT_TRUE(Ended) << "Ctrl-C did not end the run while the FIFO had no writer";
    EXPECT_LT(T.elapsed(), 1000);
    EXPECT_EQ(P.exitCode(), 130);
}

TEST(CliStreamingTest, ClosedStandardDescriptors) {
    QTemporaryDir Dir;
    const QString In = Dir.filePath("one.txt");
    WriteTestFile(In, "10.29.1.1\n");
    // Standard output closed: the line has nowhere to go, which is an error.
    const TCliResult Out = RunShell(">&-", QStringList{"-s", "127.0.0.1:1", In});
    ASSERT_TRUE(Out.Finished);
    EXPECT_EQ(Out.ExitCode, 1);
    EXPECT_TRUE(Out.ErrText().contains("veltrask-cli: cannot write standard output: Bad file descriptor\n"))
        << Out.ErrText().toStdString();
    // Standard input closed: no input at all, an empty run.
    const TCliResult NoIn = RunShell("<&-", QStringList{"-q", "-s", "127.0.0.1:1"});
    ASSERT_TRUE(NoIn.Finished);
    EXPECT_EQ(NoIn.ExitCode, 0) << NoIn.ErrText().toStdString();
    EXPECT_TRUE(NoIn.Out.isEmpty());
    // Standard error closed: the log is lost, the output is not disturbed by it.
    const TCliResult NoErr = RunShell("2>&-", QStringList{"-v", "-s", "127.0.0.1:1", In});
    ASSERT_TRUE(NoErr.Finished);
    EXPECT_EQ(NoErr.ExitCode, 0);
    EXPECT_EQ(NoErr.Out, "10.29.1.1\n");
}

TEST(CliStreamingTest, UTF16WithoutMarkIsReadAsText) {
    for (bool BigEndian : {false, true}) {
        SCOPED_TRACE(BigEndian ? "UTF-16BE" : "UTF-16LE");
        const TCliResult R = RunCli({"-s", "127.0.0.1:1", "--pause", "0"},
                                    Utf16NoMark("10.29.2.1\n10.29.2.2\n", BigEndian));
        ASSERT_TRUE(R.Finished);
        EXPECT_EQ(R.ExitCode, 0);
        EXPECT_EQ(R.Out, "10.29.2.1\n10.29.2.2\n");
        EXPECT_EQ(R.ErrText().count("Read as UTF-16 without a byte-order mark."), 1) << R.ErrText().toStdString();
    }
}

TEST(CliStreamingTest, OverlongLinesAreSkippedWholeAndAnUnreadableInputFails) {
    QTemporaryDir Dir;
    const QString In = Dir.filePath("long.txt");
    // The tail of the comment, past the reader's cut, is an address.
    WriteTestFile(In, "#" + QByteArray(65534, 'y') + "10.29.3.9\n10.29.3.1\n" + QByteArray(1 << 20, 'x') +
                          "\n10.29.3.2\n");
    const TCliResult R = RunCli({"-v", "-s", "127.0.0.1:1", "--pause", "0", In});
    ASSERT_TRUE(R.Finished);
    EXPECT_EQ(R.ExitCode, 0);
    EXPECT_EQ(R.Out, "10.29.3.1\n10.29.3.2\n");
    EXPECT_TRUE(R.ErrText().contains("Line too long: #" + QString(59, 'y') + "\n")) << R.ErrText().left(2000).toStdString();
    EXPECT_TRUE(R.ErrText().contains("Done: 4 lines, ")) << R.ErrText().right(400).toStdString();
    EXPECT_TRUE(R.ErrText().contains(", 2 skipped.")) << R.ErrText().right(400).toStdString();

    for (const QString& Quiet : {QString(), QStringLiteral("-q")}) {
        QStringList Args{"-s", "127.0.0.1:1", "/proc/self/mem"};
        if (!Quiet.isEmpty())
            Args.prepend(Quiet);
        const TCliResult M = RunCli(Args);
        ASSERT_TRUE(M.Finished);
        EXPECT_EQ(M.ExitCode, 1);
        EXPECT_TRUE(M.ErrText().contains("veltrask-cli: cannot read /proc/self/mem: Input/output error\n"))
            << M.ErrText().toStdString();
    }
}

TEST(CliStreamingTest, OutputFilesEndLinesWithLFThatNftLoads) {
    QTemporaryDir Dir;
    const QString Out = Dir.filePath("rules.nft");
    const TCliResult R =
        RunCli({"-q", "-s", "127.0.0.1:1", "--pause", "0", "-o", Out, "-f",
                "add table inet vt; add set inet vt s { type ipv4_addr; }; add element inet vt s { %ip% }"},
               "10.29.4.1\n10.29.4.2\n");
    ASSERT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
    const QByteArray Data = ReadTestFile(Out);
    EXPECT_FALSE(Data.contains('\r'));
    EXPECT_EQ(Data.count('\n'), 2);
    const QString Nft = QStandardPaths::findExecutable("nft", {"/usr/sbin", "/sbin", "/usr/bin"});
    if (Nft.isEmpty())
        GTEST_SKIP() << "nft is not installed: the file's syntax was not checked by nft";
    QProcess P;
    P.start(Nft, {"-c", "-f", Out});
    ASSERT_TRUE(P.waitForFinished(10000));
    const QByteArray Err = P.readAllStandardError();
    if (P.exitCode() != 0 && (Err.contains("Operation not permitted") || Err.contains("Permission denied")))
        GTEST_SKIP() << "nft cannot run here: " << Err.constData();
    EXPECT_EQ(P.exitCode(), 0) << Err.constData();
}
