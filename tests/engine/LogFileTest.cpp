#include "FakeControls.h"
#include "support/TestFiles.h"

#include "engine/UtilsUnit.h"
#include "engine/uLog.h"
#include "engine/uProgress.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

class TOpenLog : public TLog {
public:
    using TLog::UpdateLog;
};

class LogFile : public ::testing::Test {
protected:
    TFakeApplication App;
    QTemporaryDir Dir;
    TFakeMemo Memo;
    TOpenLog Log;
    QString Path(const QString& AName) const { return Dir.filePath(AName); }
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        Log.SetLogMemo(&Memo);
    }
};

}  // namespace

TEST_F(LogFile, OneLinePerMessageWithEndingsDropped) {
    Log.OpenLogFile(Path(QStringLiteral("a.log")), false);
    Log.Log(QStringLiteral("crlf\r\n"));
    Log.Log(QStringLiteral("cr\r"));
    Log.Log(QStringLiteral("lf\n"));
    Log.Log(QStringLiteral("inner\r\nbreak"));
    Log.Log(QString());
    Log.Log(QStringLiteral("pl\u00e4in"));
    // Each message is on disk when the logging call returns.
    EXPECT_EQ(ReadTestFile(Path(QStringLiteral("a.log"))),
              QByteArray("crlf\r\ncr\r\nlf\n\r\ninner\r\nbreak\r\npl\xc3\xa4in\r\n"));
    Log.CloseLogFile();
    EXPECT_FALSE(Log.LogFileOpen());
    Log.Log(QStringLiteral("not in the file"));
    EXPECT_FALSE(ReadTestFile(Path(QStringLiteral("a.log"))).contains("not in the file"));
}

TEST_F(LogFile, ExistingFileIsReplacedUnlessAppending) {
    WriteTestFile(Path(QStringLiteral("r.log")), "old\r\n");
    WriteTestFile(Path(QStringLiteral("p.log")), "old\r\n");
    Log.OpenLogFile(Path(QStringLiteral("r.log")), false);
    Log.Log(QStringLiteral("new"));
    Log.CloseLogFile();
    EXPECT_EQ(ReadTestFile(Path(QStringLiteral("r.log"))), QByteArray("new\r\n"));
    Log.OpenLogFile(Path(QStringLiteral("p.log")), true);
    Log.Log(QStringLiteral("new"));
    Log.CloseLogFile();
    EXPECT_EQ(ReadTestFile(Path(QStringLiteral("p.log"))), QByteArray("old\r\nnew\r\n"));
}

TEST_F(LogFile, ClearLogEmptiesOnlyAFileNotOpenedForAppending) {
    Log.OpenLogFile(Path(QStringLiteral("c.log")), false);
    Log.Log(QStringLiteral("first run"));
    Log.ClearLog();
    EXPECT_EQ(ReadTestFile(Path(QStringLiteral("c.log"))), QByteArray());
    Log.Log(QStringLiteral("second run"));
    EXPECT_EQ(ReadTestFile(Path(QStringLiteral("c.log"))), QByteArray("second run\r\n"));

    WriteTestFile(Path(QStringLiteral("k.log")), "kept\r\n");
    Log.OpenLogFile(Path(QStringLiteral("k.log")), true);
    Log.Log(QStringLiteral("more"));
    Log.ClearLog();
    Log.Log(QStringLiteral("after"));
    Log.CloseLogFile();
    EXPECT_EQ(ReadTestFile(Path(QStringLiteral("k.log"))), QByteArray("kept\r\nmore\r\nafter\r\n"));
    // The first file was closed by the second opening.
    EXPECT_EQ(ReadTestFile(Path(QStringLiteral("c.log"))), QByteArray("second run\r\n"));
}

TEST_F(LogFile, DestroyClosesTheFile) {
    {
        TLog Other;
        Other.OpenLogFile(Path(QStringLiteral("d.log")), false);
        Other.LogDT(QStringLiteral("stamped"));
    }
    const QByteArray Data = ReadTestFile(Path(QStringLiteral("d.log")));
    EXPECT_TRUE(Data.startsWith("[")) << Data.constData();
    EXPECT_TRUE(Data.endsWith("] stamped\r\n")) << Data.constData();
    QFile F(Path(QStringLiteral("d.log")));
    EXPECT_TRUE(F.remove());
}

TEST_F(LogFile, OpeningErrorCarriesTheFileSystemMessage) {
    const QString Bad = Path(QStringLiteral("missing-folder/x.log"));
    try {
        Log.OpenLogFile(Bad, false);
        FAIL() << "no error";
    } catch (const Exception& E) {
        EXPECT_TRUE(E.Message().contains(QStringLiteral("No such file or directory"))) << E.what();
        EXPECT_TRUE(E.Message().contains(QStringLiteral("x.log"))) << E.what();
    }
    EXPECT_FALSE(Log.LogFileOpen());
    Log.Log(QStringLiteral("still logs"));
    Log.UpdateLog();
    EXPECT_EQ(Memo.FText, QStringLiteral("still logs\r\n"));
}

// A failing log file never raises in the thread that logs (a worker): the
// file is given up, the first error kept for the run's owner, and the
// messages go on to the memo.
TEST_F(LogFile, WriteFailureIsKeptForTheOwnerAndTheMessagesGoOn) {
    if (!QFile::exists(QStringLiteral("/dev/full")))
        GTEST_SKIP() << "no /dev/full";
    Log.OpenLogFile(QStringLiteral("/dev/full"), true);
    EXPECT_NO_THROW(Log.Log(QStringLiteral("lost on disk")));
    std::thread T([&] { Log.Log(QStringLiteral("from a worker")); });
    T.join();
    EXPECT_EQ(Log.LogFileError(), QStringLiteral("cannot write log /dev/full: No space left on device"));
    EXPECT_FALSE(Log.LogFileOpen());
    EXPECT_NO_THROW(Log.CloseLogFile());
    Log.Log(QStringLiteral("after close"));
    Log.UpdateLog();
    EXPECT_EQ(Memo.FText, QStringLiteral("lost on disk\r\nfrom a worker\r\nafter close\r\n"));
}

// A device is written as it is: replacing or clearing it is no error.
TEST_F(LogFile, DeviceIsNeverTruncated) {
    Log.OpenLogFile(QStringLiteral("/dev/null"), false);
    EXPECT_NO_THROW(Log.ClearLog());
    Log.Log(QStringLiteral("gone"));
    EXPECT_TRUE(Log.LogFileOpen());
    EXPECT_TRUE(Log.LogFileError().isEmpty());
}

TEST_F(LogFile, DetailedLogOpensAndClosesTheFile) {
    TProgress Progress;
    TUtils Job(&Progress, &Log);
    Job.SetDetailedLog(true);
    EXPECT_TRUE(Job.DetailedLog());
    EXPECT_FALSE(Log.LogFileOpen());
    Job.SetDetailedLog(false);

    Job.SetLogFileName(Path(QStringLiteral("j.log")));
    Job.SetDetailedLog(true);
    EXPECT_TRUE(Log.LogFileOpen());
    Job.Log(QStringLiteral("detail"));
    Job.SetDetailedLog(false);
    EXPECT_FALSE(Job.DetailedLog());
    EXPECT_FALSE(Log.LogFileOpen());
    EXPECT_TRUE(ReadTestFile(Path(QStringLiteral("j.log"))).endsWith("] detail\r\n"));

    WriteTestFile(Path(QStringLiteral("j.log")), "previous\r\n");
    Job.SetLogFileAppend(true);
    Job.SetDetailedLog(true);
    Job.SetLogDateTime(false);
    Job.Log(QStringLiteral("appended"));
    Job.SetDetailedLog(false);
    EXPECT_EQ(ReadTestFile(Path(QStringLiteral("j.log"))), QByteArray("previous\r\nappended\r\n"));

    Job.SetLogFileName(Path(QStringLiteral("no-such-folder/j.log")));
    EXPECT_THROW(Job.SetDetailedLog(true), Exception);
    EXPECT_FALSE(Job.DetailedLog());
    EXPECT_FALSE(Log.LogFileOpen());
}

TEST_F(LogFile, ManyThreadsWriteWholeLinesInBufferOrder) {
    constexpr int NThreads = 50, NMsgs = 1000;
    Log.SetMaxLogLines(NThreads * NMsgs + 10);
    const QString Name = Path(QStringLiteral("many.log"));
    Log.OpenLogFile(Name, false);
    std::atomic<int> Done{0};
    std::vector<std::thread> Ts;
    for (int t = 0; t < NThreads; ++t)
        Ts.emplace_back([&, t] {
            for (int i = 0; i < NMsgs; ++i)
                Log.Log(QStringLiteral("thread %1 message %2 ").arg(t).arg(i) + QString(t % 7 * 10, QLatin1Char('x')));
            ++Done;
        });
    ASSERT_TRUE(WaitFor([&] { return Done == NThreads; }, 120000));
    for (auto& T : Ts)
        T.join();
    Log.CloseLogFile();
    Log.UpdateLog();

    const QList<QByteArray> Lines = ReadTestFile(Name).split('\n');
    ASSERT_EQ(Lines.size(), NThreads * NMsgs + 1);
    EXPECT_TRUE(Lines.last().isEmpty());
    const QStringList MemoLines = Memo.FText.split(QStringLiteral("\r\n"));
    ASSERT_EQ(MemoLines.size(), NThreads * NMsgs + 1);
    std::vector<int> Next(NThreads, 0);
    for (int k = 0; k < NThreads * NMsgs; ++k) {
        const QString L = QString::fromUtf8(Lines[k]);
        const QStringList W = L.split(QLatin1Char(' '));
        ASSERT_EQ(W.size(), 5) << L.toStdString();
        const int t = W[1].toInt(), i = W[3].toInt();
        ASSERT_EQ(L, QStringLiteral("thread %1 message %2 ").arg(t).arg(i) + QString(t % 7 * 10, QLatin1Char('x')) +
                         QLatin1Char('\r'));
        // Each thread's lines keep their order, and the file's order is the buffer's.
        ASSERT_EQ(i, Next[t]++);
        ASSERT_EQ(MemoLines[k] + QLatin1Char('\r'), L);
    }
}
