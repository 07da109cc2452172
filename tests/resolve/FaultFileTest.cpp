// Runs whose files fail under them: the output's disk fills up, the output is
// /dev/full, the input file is deleted or truncated while it is being read.
// The run must end, say what went wrong, and keep what it wrote before.
#include "ResolveHarness.h"

#include "engine/uLog.h"
#include "engine/uMainThread.h"
#include "support/FakeUdpServer.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// A small tmpfs mounted over a fresh folder for the life of the object.
class TSmallDisk {
public:
    explicit TSmallDisk(int AKiloBytes) {
        if (!FDir.isValid())
            return;
        const QByteArray Opt = "size=" + QByteArray::number(AKiloBytes) + "k";
        if (geteuid() != 0) {
            FWhy = "not running as root";
            return;
        }
        if (mount("vt-fault", FDir.path().toLocal8Bit().constData(), "tmpfs", 0, Opt.constData()) != 0) {
            FWhy = QString("mounting a tmpfs failed: %1").arg(QString::fromLocal8Bit(strerror(errno)));
            return;
        }
        FMounted = true;
    }
    ~TSmallDisk() {
        if (FMounted)
            umount2(FDir.path().toLocal8Bit().constData(), MNT_DETACH);
    }
    bool Mounted() const { return FMounted; }
    QString Why() const { return FWhy; }
    QString Path(const QString& AName) const { return FDir.filePath(AName); }

private:
    QTemporaryDir FDir;
    bool FMounted = false;
    QString FWhy;
};

// An NXDOMAIN answer to any query: quick, and never an address.
QByteArray NxAnswer(const QByteArray& Q) {
    QByteArray R = Q;
    if (R.size() >= 4) {
        R[2] = char(0x81);
        R[3] = char(0x83);
    }
    return R;
}

class FaultFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        // As the window does it: a failure while closing the run is shown, not thrown on.
        R.Progress.AfterStop = [this](TProgress*) {
            try {
                R.Utils.AfterStop();
            } catch (...) {
                CloseError = TLog::ExceptionMessage(std::current_exception());
            }
            ++R.AfterStopCount;
            R.Ended = true;
        };
        R.Utils.SetOutFormat("%ip% %domain%");
        R.Utils.SetDNSTimeoutMSec(300);
    }

    static QStringList AddressLines(int N) {
        QStringList L;
        for (int I = 0; I < N; ++I)
            L << QString("10.%1.%2.%3").arg(I / 65536).arg((I / 256) % 256).arg(I % 256);
        return L;
    }

    void WriteInput(const QString& AName, const QStringList& ALines) {
        QFile F(AName);
        ASSERT_TRUE(F.open(QIODevice::WriteOnly | QIODevice::Truncate));
        F.write((ALines.join('\n') + '\n').toUtf8());
    }

    void ExpectNoThreadLeft() {
        EXPECT_EQ(R.Utils.LiveThreads(), 0);
        EXPECT_EQ(R.Log.ActiveThreads(), 0);
        EXPECT_EQ(R.AfterStopCount, 1);
    }

    // Domains that reached their lookup, with their counts.
    QHash<QString, int> LookedUp() {
        QHash<QString, int> Looked;
        static const QRegularExpression Resolving("^Resolving domain \"([^\"]+)\"");
        for (const QString& S : R.LogLines()) {
            const QRegularExpressionMatch M = Resolving.match(S);
            if (M.hasMatch())
                ++Looked[M.captured(1)];
        }
        return Looked;
    }

    QTemporaryDir Dir;
    TResolveRun R;
    QString CloseError;
};

} // namespace

TEST_F(FaultFileTest, OutputDiskFillingUpEndsTheRunAndKeepsThePreviousFile) {
    TSmallDisk Disk(16);
    if (!Disk.Mounted())
        GTEST_SKIP() << "no small disk to fill: " << Disk.Why().toStdString();
    // The last good output: a run that cannot write all of its lines must
    // leave it as it was, not replace it with a cut one.
    const QByteArray Previous = "10.255.0.1 10.255.0.1\n";
    {
        QFile P(Disk.Path("out.txt"));
        ASSERT_TRUE(P.open(QIODevice::WriteOnly));
        P.write(Previous);
    }
    // About 6,000 lines of 18 bytes: several times what the disk holds.
    const QStringList In = AddressLines(6000);
    R.SetDomains(In);
    R.Utils.SetThreads(8);
    R.Utils.SetResultMode(outFile);
    R.Utils.SetResolvedListFile(Disk.Path("out.txt"));
    R.Utils.SetOutFileLineBreak("\n");
    ASSERT_TRUE(R.Run(30000)) << "the run hung on the full disk";
    ExpectNoThreadLeft();

    const QString Log = R.LogText() + CloseError;
    EXPECT_TRUE(Log.contains("No space left on device")) << Log.toStdString();
    EXPECT_TRUE(Log.contains("Output file " + Disk.Path("out.txt") + " left unchanged: the run did not complete."))
        << Log.toStdString();
    QFile F(Disk.Path("out.txt"));
    ASSERT_TRUE(F.open(QIODevice::ReadOnly));
    EXPECT_EQ(F.readAll(), Previous);
    // No temporary twin is left beside it.
    EXPECT_EQ(QDir(Disk.Path(".")).entryList(QDir::Files | QDir::Hidden), QStringList{"out.txt"});
}

TEST_F(FaultFileTest, OutputToDevFullIsReportedAndEndsTheRun) {
    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    R.SetDomains(AddressLines(3000));
    R.Utils.SetThreads(8);
    R.Utils.SetResultMode(outFile);
    R.Utils.SetResolvedListFile("/dev/full");
    ASSERT_TRUE(R.Run(30000)) << "the run hung writing to /dev/full";
    ExpectNoThreadLeft();
    const QString Log = R.LogText() + CloseError;
    EXPECT_TRUE(Log.contains("No space left on device")) << Log.toStdString();
    // The workers stopped at their first failed write instead of running on.
    EXPECT_LT(R.Progress.Processed(), 3000);
    // No line reached the file: none counts as written, and the summary says
    // the output failed where it would give the count.
    const TQXRunCounters C = R.Utils.RunCounters();
    EXPECT_EQ(C.Written, 0);
    EXPECT_TRUE(C.OutputFailed);
    // The workers stopped before the end of the input: the run was broken off.
    const QStringList Done = R.LogLines().filter(QRegularExpression("^Broken off: "));
    ASSERT_EQ(Done.size(), 1) << Log.toStdString();
    EXPECT_TRUE(Done[0].contains(" blocklist checks failed, output failed, ")) << Done[0].toStdString();
}

TEST_F(FaultFileTest, LinesOfAFileCountAsWrittenOnceItIsClosed) {
    R.SetDomains(AddressLines(50));
    R.Utils.SetResultMode(outFile);
    R.Utils.SetResolvedListFile(QDir(Dir.path()).filePath("out.txt"));
    ASSERT_TRUE(R.Run(30000));
    const TQXRunCounters C = R.Utils.RunCounters();
    EXPECT_EQ(C.Written, 50);
    EXPECT_FALSE(C.OutputFailed);
    EXPECT_TRUE(R.LogLines().last().contains(", 50 lines written, ")) << R.LogLines().last().toStdString();
}

// A source file changed under the run: the workers are held at their first
// lookup, the file is changed, then they go on.
class FaultInputTest : public FaultFileTest {
protected:
    void RunWithInputChange(const std::function<void(const QString&)>& AChange, const QStringList& AIn) {
        std::atomic<bool> Release{false};
        TFakeUdpServer Server([&](const QByteArray& Q) -> std::optional<QByteArray> {
            for (int I = 0; I < 500 && !Release; ++I)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            return NxAnswer(Q);
        });
        ASSERT_TRUE(Server.IsListening());
        const QString Name = Dir.filePath("in.txt");
        WriteInput(Name, AIn);
        R.Utils.SetDetailedLog(true);
        R.Utils.SetSourceMode(srcFile);
        R.Utils.SetDomainListFile(Name);
        R.SetDNS({Server.Address()});
        R.Utils.SetThreads(4);
        R.Start();
        ASSERT_TRUE(Server.WaitForQueries(1, 10000));
        AChange(Name);
        Release = true;
        ASSERT_TRUE(R.WaitEnd(30000)) << "the run did not end after the input changed";
        ExpectNoThreadLeft();
    }

    static QStringList Domains(int N) {
        QStringList L;
        for (int I = 0; I < N; ++I)
            L << QString("name%1.vt.test").arg(I);
        return L;
    }
};

TEST_F(FaultInputTest, DeletedInputIsStillReadToItsEnd) {
    // An open file outlives its name: every line is still taken, once.
    const QStringList In = Domains(600);
    RunWithInputChange([](const QString& AName) { ASSERT_TRUE(QFile::remove(AName)); }, In);
    const QHash<QString, int> Looked = LookedUp();
    for (const QString& D : In)
        EXPECT_EQ(Looked.value(D), 1) << D.toStdString();
    EXPECT_EQ(Looked.size(), In.size());
}

TEST_F(FaultInputTest, TruncatedInputEndsTheRunWithTheLinesAlreadyRead) {
    const QStringList In = Domains(3000);
    RunWithInputChange(
        [](const QString& AName) {
            QFile F(AName);
            ASSERT_TRUE(F.resize(0));
        },
        In);
    const QHash<QString, int> Looked = LookedUp();
    // What was read before the cut is taken once; nothing after it, nothing
    // made up. A line cut by the block end may come out shortened. The file
    // layer reads ahead (16 KB), so about a thousand lines were in memory.
    EXPECT_GT(Looked.size(), 0);
    EXPECT_LT(Looked.size(), In.size() / 2);
    int Shortened = 0;
    for (auto It = Looked.cbegin(); It != Looked.cend(); ++It) {
        EXPECT_EQ(It.value(), 1) << It.key().toStdString();
        if (!In.contains(It.key())) {
            ++Shortened;
            EXPECT_TRUE(std::any_of(In.begin(), In.end(), [&](const QString& L) { return L.startsWith(It.key()); }))
                << It.key().toStdString();
        }
    }
    EXPECT_LE(Shortened, 1);
    EXPECT_EQ(R.Utils.ResultList()->Count(), 0);
}

TEST_F(FaultInputTest, InputShrunkToHalfEndsWithinTheRemainingLines) {
    const QStringList In = Domains(3000);
    qint64 Half = 0;
    RunWithInputChange(
        [&Half](const QString& AName) {
            QFile F(AName);
            Half = F.size() / 2;
            ASSERT_TRUE(F.resize(Half));
        },
        In);
    const QHash<QString, int> Looked = LookedUp();
    // Every line lying wholly in the first half is taken, once; nothing beyond.
    int Whole = 0;
    qint64 Pos = 0;
    for (const QString& L : In) {
        Pos += L.size() + 1;
        if (Pos > Half)
            break;
        ++Whole;
        EXPECT_EQ(Looked.value(L), 1) << L.toStdString();
    }
    EXPECT_LE(Looked.size(), Whole + 1);
}
