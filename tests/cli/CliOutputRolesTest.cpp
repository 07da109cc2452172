// The output roles as Unix users give them: descriptor names, FIFOs with and
// without a reader, and a file in a folder the user may not write, whose
// previous content a broken run must keep. Address lines need no DNS.
#include "CliProcess.h"
#include "support/TestFiles.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The process catches SIGINT and SIGTERM: its handlers are in place.
bool HandlersInstalled(qint64 APid) {
    QFile F(QString("/proc/%1/status").arg(APid));
    if (!F.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& L : F.readAll().split('\n'))
        if (L.startsWith("SigCgt:")) {
            const quint64 Mask = L.mid(7).trimmed().toULongLong(nullptr, 16);
            return (Mask & (1ull << (SIGINT - 1))) && (Mask & (1ull << (SIGTERM - 1)));
        }
    return false;
}

class CliOutputRolesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        // Another user (the in-place case) must reach the files.
        ::chmod(QFile::encodeName(Dir.path()).constData(), 0755);
        WriteTestFile(Path("in.txt"), "10.1.1.2\n10.1.1.1\n");
        ::chmod(QFile::encodeName(Path("in.txt")).constData(), 0644);
    }
    QString Path(const QString& AName) const { return Dir.filePath(AName); }
    // The command line, quoted for sh.
    static QString Command(const QStringList& AArgs) {
        QString C = "'" VT_CLI_PATH "'";
        for (const QString& A : AArgs)
            C += " '" + A + "'";
        return C;
    }
    static int Sh(const QString& AScript) {
        QProcess P;
        P.start("/bin/sh", {"-c", AScript});
        if (!P.waitForFinished(60000))
            return -1;
        return P.exitCode();
    }
    QTemporaryDir Dir;
};

} // namespace

TEST_F(CliOutputRolesTest, DescriptorNamesAreWrittenThrough) {
    const QByteArray Want = "x 10.1.1.2\nx 10.1.1.1\n";
    const struct {
        const char* Option;
        const char* Redirect;
        QByteArray Before, After;
    } Cases[] = {
        {"/dev/stdout", ">", "", Want},
        // Appending: opened again by name it would be truncated.
        {"/dev/stdout", ">>", "old\n", "old\n" + Want},
        {"/dev/stderr", "2>", "", Want},
        {"/dev/fd/3", "3>>", "old\n", "old\n" + Want},
        {"/proc/self/fd/3", "3>", "", Want},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(std::string(C.Option) + " " + C.Redirect);
        WriteTestFile(Path("out"), C.Before);
        const int Code = Sh(Command({"-q", "-t", "1", "-f", "x %ip%", "-o", C.Option, Path("in.txt")}) + " " + C.Redirect +
                            "'" + Path("out") + "'");
        EXPECT_EQ(Code, 0);
        EXPECT_EQ(ReadTestFile(Path("out")), C.After);
    }
}

TEST_F(CliOutputRolesTest, AFifoWithoutAReaderGivesWayToSignalsAndOneWithAReaderGetsTheLines) {
    const QByteArray Fifo = QFile::encodeName(Path("fifo"));
    ASSERT_EQ(::mkfifo(Fifo.constData(), 0600), 0);
    for (int Signal : {SIGINT, SIGTERM}) {
        QProcess P;
        P.start(VT_CLI_PATH, {"-q", "-o", Path("fifo"), Path("in.txt")});
        ASSERT_TRUE(P.waitForStarted(10000));
        QDeadlineTimer Deadline(10000);
        while (!HandlersInstalled(P.processId()) && !Deadline.hasExpired())
            QThread::msleep(5);
        // Whether it comes before or during the open, the run ends by it.
        ::kill(pid_t(P.processId()), Signal);
        ASSERT_TRUE(P.waitForFinished(10000)) << "still waiting for a reader after signal " << Signal;
        EXPECT_EQ(P.exitCode(), 128 + Signal);
    }
    // A reader comes: the lines go through the FIFO.
    EXPECT_EQ(Sh("cat '" + Path("fifo") + "' > '" + Path("got") + "' & " +
                 Command({"-q", "--preset", "hosts", "-o", Path("fifo"), Path("in.txt")}) + "; R=$?; wait; exit $R"),
              0);
    // An address line names no host: the hosts document is empty.
    EXPECT_EQ(ReadTestFile(Path("got")), QByteArray());
    EXPECT_EQ(Sh("cat '" + Path("fifo") + "' > '" + Path("got") + "' & " +
                 Command({"-q", "--preset", "iptables", "-o", Path("fifo"), Path("in.txt")}) + "; R=$?; wait; exit $R"),
              0);
    EXPECT_EQ(ReadTestFile(Path("got")), QByteArray("*filter\n:veltrask - [0:0]\n-A veltrask -d 10.1.1.1 -j REJECT\n"
                                                     "-A veltrask -d 10.1.1.2 -j REJECT\nCOMMIT\n"));
}

TEST_F(CliOutputRolesTest, AFileInAFolderTheUserMayNotWriteKeepsItsContentOnABrokenRun) {
    if (geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs root and setpriv to run as another user";
    // The folder is root's; the file is anyone's.
    ASSERT_EQ(::mkdir(QFile::encodeName(Path("ro")).constData(), 0755), 0);
    const QString Out = Path("ro/rules");
    WriteTestFile(Out, "previous\n");
    ::chmod(QFile::encodeName(Out).constData(), 0666);
    const QByteArray Fifo = QFile::encodeName(Path("hold"));
    ASSERT_EQ(::mkfifo(Fifo.constData(), 0666), 0);
    const QStringList AsNobody = {"--reuid", "65534", "--regid", "65534", "--clear-groups", VT_CLI_PATH};

    // The input FIFO holds the run open until the signal breaks it.
    QProcess P;
    P.start("/usr/bin/setpriv", AsNobody + QStringList{"-q", "--preset", "iptables", "-o", Out, Path("hold")});
    ASSERT_TRUE(P.waitForStarted(10000));
    QFile Writer(Path("hold"));
    ASSERT_TRUE(Writer.open(QIODevice::WriteOnly));  // returns once the run opened its input
    Writer.write("10.9.9.9\n");
    Writer.flush();
    ::kill(pid_t(P.processId()), SIGINT);
    ASSERT_TRUE(P.waitForFinished(10000));
    EXPECT_EQ(P.exitCode(), 130) << P.readAllStandardError().toStdString();
    EXPECT_EQ(ReadTestFile(Out), QByteArray("previous\n"));

    // A completed run puts its document in, in place.
    QProcess Done;
    Done.start("/usr/bin/setpriv", AsNobody + QStringList{"-q", "--preset", "iptables", "-o", Out, Path("in.txt")});
    ASSERT_TRUE(Done.waitForFinished(30000));
    EXPECT_EQ(Done.exitCode(), 0) << Done.readAllStandardError().toStdString();
    EXPECT_EQ(ReadTestFile(Out), QByteArray("*filter\n:veltrask - [0:0]\n-A veltrask -d 10.1.1.1 -j REJECT\n"
                                            "-A veltrask -d 10.1.1.2 -j REJECT\nCOMMIT\n"));
}
