// The command line inside a pipeline: standard input taken as it arrives, in
// UTF-8 or UTF-16, "-o -", progress that suits a log file, and one error line
// per failure.
#include "CliProcess.h"
#include "support/FakeUdpServer.h"
#include "support/TestFiles.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>

namespace {

QStringList Args(const QStringList& AMore) {
    return TCliServers::Instance().BaseArgs() + QStringList{"-q"} + AMore;
}

// Reads standard output until ADone holds for what has come so far, or AMs pass.
bool ReadUntil(QProcess& P, QByteArray& AOut, const std::function<bool(const QByteArray&)>& ADone, int AMs) {
    QDeadlineTimer Deadline(AMs);
    for (;;) {
        AOut += P.readAllStandardOutput();
        if (ADone(AOut))
            return true;
        if (Deadline.hasExpired() || P.state() == QProcess::NotRunning)
            return false;
        P.waitForReadyRead(50);
    }
}

QStringList LinesOf(const QByteArray& AOut) {
    return QString::fromUtf8(AOut).split('\n', Qt::SkipEmptyParts);
}

QByteArray Utf16(const QString& AText, bool ABigEndian) {
    QByteArray Out = ABigEndian ? QByteArray("\xFE\xFF", 2) : QByteArray("\xFF\xFE", 2);
    for (QChar C : AText) {
        const char Hi = char(C.unicode() >> 8), Lo = char(C.unicode() & 0xFF);
        Out += ABigEndian ? QByteArray{&Hi, 1} + QByteArray{&Lo, 1} : QByteArray{&Lo, 1} + QByteArray{&Hi, 1};
    }
    return Out;
}

class CliPipelineTest : public ::testing::Test {
protected:
    void SetUp() override { VT_REQUIRE_CLI_SERVERS(); }
};

} // namespace

TEST_F(CliPipelineTest, StandardInputIsResolvedLineByLineWhileItStaysOpen) {
    QProcess P;
    P.start(VT_CLI_PATH, Args({"-f", "%ip% %domain%", "--progress"}));
    ASSERT_TRUE(P.waitForStarted(10000));
    QByteArray Out;

    // Each part's lines must come out before the next part is written; the
    // input stays open throughout, as with `tail -f`.
    P.write("clean.vt.test\n");
    ASSERT_TRUE(ReadUntil(P, Out, [](const QByteArray& O) { return O.contains("10.1.2.4 clean.vt.test\n"); }, 5000))
        << "the first line was not resolved while the input stayed open; got: " << Out.constData();

    // A line written in two pieces, with a pause inside it, is one line.
    P.write("mail.vt");
    QThread::msleep(150);
    P.write(".test\r\n");
    ASSERT_TRUE(ReadUntil(P, Out, [](const QByteArray& O) { return O.contains("192.0.2.10 mail.vt.test\n"); }, 5000))
        << Out.constData();

    // Several lines at once, the last one still open when the pause comes.
    P.write("www.vt.test\n10.20.30.40\nclean");
    ASSERT_TRUE(ReadUntil(P, Out, [](const QByteArray& O) { return O.contains("10.20.30.40 10.20.30.40\n"); }, 5000))
        << Out.constData();
    P.write(".vt.test\n");
    P.closeWriteChannel();
    ASSERT_TRUE(P.waitForFinished(10000));
    Out += P.readAllStandardOutput();
    EXPECT_EQ(P.exitCode(), 0) << P.readAllStandardError().constData();

    EXPECT_EQ(Sorted(LinesOf(Out)),
              Sorted({"10.1.2.4 clean.vt.test", "192.0.2.10 mail.vt.test", "10.0.0.1 www.vt.test",
                      "10.0.0.2 www.vt.test", "10.0.0.3 www.vt.test", "10.20.30.40 10.20.30.40",
                      "10.1.2.4 clean.vt.test"}));
    // What keeps the lines flowing adds no line of its own: five lines went in.
    const QString Err = QString::fromUtf8(P.readAllStandardError());
    EXPECT_TRUE(Err.startsWith("5 lines, ")) << Err.toStdString();
}

TEST_F(CliPipelineTest, BulkInputThroughThePipeLosesNothing) {
    // Far more than one read of the relay, with names of several UTF-8 bytes
    // cut anywhere by the reads; no line may be lost, split or joined.
    QByteArray In;
    QStringList Expected;
    for (int I = 0; I < 20000; ++I) {
        if (I % 1000 == 7) {
            In += "clean.vt.test\n";
            Expected << "10.1.2.4";
        } else if (I % 3 == 0) {
            In += QString("n%1-\u00e9\u20ac.vt.test\n").arg(I).toUtf8();
        } else {
            In += QString("10.7.%1.%2\n").arg(I / 256).arg(I % 256).toUtf8();
            Expected << QString("10.7.%1.%2").arg(I / 256).arg(I % 256);
        }
    }
    const TCliResult R = RunCli(TCliServers::Instance().BaseArgs() + QStringList{"-q", "-t", "8", "--timeout", "300"},
                                In, 120000);
    ASSERT_TRUE(R.Finished);
    EXPECT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
    EXPECT_EQ(Sorted(R.OutLines()), Sorted(Expected));
}

TEST_F(CliPipelineTest, Utf16StandardInputWithItsMarkIsReadAsText) {
    const QString Text = "clean.vt.test\r\nmail.vt.test\r\n10.9.8.7\r\n";
    const QStringList Expected = {"10.1.2.4 clean.vt.test", "192.0.2.10 mail.vt.test", "10.9.8.7 10.9.8.7"};
    for (bool BigEndian : {false, true}) {
        SCOPED_TRACE(BigEndian ? "UTF-16 BE" : "UTF-16 LE");
        const TCliResult R = RunCli(Args({"-f", "%ip% %domain%"}), Utf16(Text, BigEndian));
        EXPECT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
        EXPECT_EQ(R.OutLines(), Expected);

        // The same, arriving a few bytes at a time: a mark or a character
        // cut between two reads still decodes whole.
        QProcess P;
        P.start(VT_CLI_PATH, Args({"-f", "%ip% %domain%"}));
        ASSERT_TRUE(P.waitForStarted(10000));
        const QByteArray Bytes = Utf16(Text, BigEndian);
        // One byte, then threes: the mark and every other character are cut in two.
        QList<QByteArray> Pieces = {Bytes.left(1)};
        for (qsizetype I = 1; I < Bytes.size(); I += 3)
            Pieces << Bytes.mid(I, 3);
        for (const QByteArray& Piece : Pieces) {
            P.write(Piece);
            P.waitForBytesWritten(1000);
            QThread::msleep(20);
        }
        P.closeWriteChannel();
        ASSERT_TRUE(P.waitForFinished(20000));
        EXPECT_EQ(LinesOf(P.readAllStandardOutput()), Expected);
    }
}

TEST_F(CliPipelineTest, StandardInputWithoutMarkStaysUtf8) {
    // A UTF-8 mark is no part of the first name, and a name of several UTF-8
    // bytes neither swallows nor splits the lines around it.
    const TCliResult R = RunCli(Args({"-f", "[%domain%]"}),
                                "\xEF\xBB\xBF" "clean.vt.test\n\xC3\xA9\xE2\x82\xAC.vt.test\nmail.vt.test\n");
    EXPECT_EQ(R.ExitCode, 0);
    EXPECT_EQ(R.OutLines(), QStringList({"[clean.vt.test]", "[mail.vt.test]"}));
}

TEST_F(CliPipelineTest, DashAsOutputIsStandardOutput) {
    const QByteArray In = "clean.vt.test\nmail.vt.test\n";
    QFile::remove("-");   // the working folder is the program's too
    const TCliResult Plain = RunCli(Args({}), In);
    const TCliResult Dash = RunCli(Args({"-o", "-"}), In);
    EXPECT_EQ(Dash.ExitCode, 0) << Dash.ErrText().toStdString();
    EXPECT_EQ(Dash.Out, QByteArray("10.1.2.4\n192.0.2.10\n"));
    EXPECT_EQ(Dash.Out, Plain.Out);
    EXPECT_FALSE(QFile::exists("-"));

    // The options that shape an output file shape standard output alike.
    const TCliResult Shaped = RunCli(Args({"-o", "-", "--bom", "--line-ending", "windows"}), In);
    EXPECT_EQ(Shaped.ExitCode, 0);
    EXPECT_EQ(Shaped.Out, QByteArray("\xEF\xBB\xBF" "10.1.2.4\r\n192.0.2.10\r\n"));

    // "-" for the known lines' check is no file either: nothing to compare with.
    QTemporaryDir Dir;
    WriteTestFile(Dir.filePath("known.txt"), "10.1.2.4\n");
    const TCliResult Known = RunCli(Args({"--known", Dir.filePath("known.txt"), "-o", "-"}), In);
    EXPECT_EQ(Known.ExitCode, 0) << Known.ErrText().toStdString();
    EXPECT_EQ(Known.Out, QByteArray("192.0.2.10\n"));
}

TEST_F(CliPipelineTest, EachFailureIsOneErrorLineNamingTheFile) {
    QByteArray Many;
    for (int I = 0; I < 3000; ++I)
        Many += QString("10.8.%1.%2\n").arg(I / 256).arg(I % 256).toUtf8();
    const QStringList Fast = {"-t", "100"};

    struct TCase {
        const char* What;
        QStringList Args;
        QString Message;
    };
    QTemporaryDir Dir;
    const QString Missing = Dir.filePath("absent.txt");
    const QList<TCase> Cases = {
        {"output file on a full disk", Fast + QStringList{"-o", "/dev/full"},
         "veltrask-cli: cannot write /dev/full: No space left on device"},
        {"missing input file", {Missing}, "veltrask-cli: cannot open " + Missing + ": No such file or directory"},
        {"input that is a folder", {Dir.path()}, "veltrask-cli: cannot open " + Dir.path() + ": Is a directory"},
        {"output in a missing folder", {"-o", Dir.filePath("no/out.txt")},
         "veltrask-cli: cannot create " + Dir.filePath("no/out.txt") + ": No such file or directory"},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.What);
        for (bool Quiet : {true, false}) {
            const QStringList A = TCliServers::Instance().BaseArgs() + C.Args + (Quiet ? QStringList{"-q"} : QStringList{});
            const TCliResult R = RunCli(A, Many);
            ASSERT_TRUE(R.Finished);
            EXPECT_EQ(R.ExitCode, 1);
            // Without -q the log's own summary of the run may follow; it is no error line.
            QStringList Err = R.ErrText().split('\n', Qt::SkipEmptyParts);
            Err.removeIf([](const QString& L) { return L.contains(QRegularExpression("^\\[[^]]*\\] \\[\\d+\\] (Done|Broken off): ")); });
            EXPECT_EQ(Err, QStringList{C.Message}) << R.ErrText().toStdString();
        }
    }
}

TEST_F(CliPipelineTest, FullStandardOutputIsOneErrorLine) {
    QByteArray Many;
    for (int I = 0; I < 3000; ++I)
        Many += QString("10.8.%1.%2\n").arg(I / 256).arg(I % 256).toUtf8();
    for (const QStringList& More : {QStringList{"-q"}, QStringList{"-t", "100"}, QStringList{"-o", "-", "-t", "100"}}) {
        SCOPED_TRACE(More.join(' ').toStdString());
        QProcess P;
        P.setStandardOutputFile("/dev/full");
        P.start(VT_CLI_PATH, TCliServers::Instance().BaseArgs() + More);
        ASSERT_TRUE(P.waitForStarted(10000));
        P.write(Many);
        P.closeWriteChannel();
        ASSERT_TRUE(P.waitForFinished(30000));
        EXPECT_EQ(P.exitCode(), 1);
        const QString Err = QString::fromUtf8(P.readAllStandardError());
        const QStringList Errors = Err.split('\n', Qt::SkipEmptyParts).filter("veltrask-cli: ");
        EXPECT_EQ(Errors, QStringList{"veltrask-cli: cannot write standard output: No space left on device"})
            << Err.toStdString();
        EXPECT_FALSE(Err.contains("\"\"")) << Err.toStdString();
        EXPECT_FALSE(Err.contains("TLineWriter")) << Err.toStdString();
    }
}

TEST(CliProgressTest, ProgressOnAFileIsPlainLinesNoMoreThanEveryFiveSeconds) {
    // A silent server and a 1 s wait per name: a run of about six seconds.
    TFakeUdpServer Server;
    ASSERT_TRUE(Server.IsListening());
    QByteArray In;
    for (int I = 0; I < 6; ++I)
        In += QString("n%1.vt.test\n").arg(I).toUtf8();
    QElapsedTimer Clock;
    Clock.start();
    const TCliResult R = RunCli({"-s", Server.Address(), "--timeout", "1000", "--pause", "0", "-q", "--progress"}, In);
    const qint64 Took = Clock.elapsed();
    ASSERT_TRUE(R.Finished);
    // Every lookup timed out: the run completed with failures.
    EXPECT_EQ(R.ExitCode, 3);
    EXPECT_FALSE(R.Err.contains('\r')) << R.ErrText().toStdString();
    ASSERT_TRUE(R.Err.endsWith('\n'));
    const QStringList Lines = R.ErrText().split('\n', Qt::SkipEmptyParts);
    const QRegularExpression Re("^\\d+ lines, \\d+\\.\\d lines/s, 0:00:\\d\\d, \\d+ failed$");
    for (const QString& L : Lines)
        EXPECT_TRUE(Re.match(L).hasMatch()) << L.toStdString();
    // One on the way (after 5 s) and the last one; never one a second.
    EXPECT_GE(Lines.size(), Took >= 5500 ? 2 : 1) << R.ErrText().toStdString();
    EXPECT_LE(Lines.size(), 1 + Took / 5000) << R.ErrText().toStdString();
    ASSERT_FALSE(Lines.isEmpty());
    EXPECT_TRUE(Lines.last().startsWith("6 lines, ")) << Lines.last().toStdString();
    EXPECT_TRUE(Lines.last().endsWith(", 6 failed")) << Lines.last().toStdString();
}
