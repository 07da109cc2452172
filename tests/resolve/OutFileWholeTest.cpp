// The job's output file is written whole: framed by its header and footer
// when the run completed, left as it was when the run was broken, and
// written through (never renamed over) when it is a link, a pipe or a device.
#include "ResolveHarness.h"
#include "support/FakeUdpServer.h"
#include "support/LocalDnsServers.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class OutFileWholeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        // Address lines are written without a lookup; the server is never asked.
        R.SetDNS({QString("127.0.0.1:%1").arg(TLocalDnsServers::FreeUdpPort())});
        R.Utils.SetThreads(1);
        R.Utils.SetPauseMSec(0);
        R.Utils.SetDNSTimeoutMSec(200);
        R.Utils.SetResultMode(outFile);
        R.Utils.SetOutFileLineBreak("\n");
    }
    QString Path(const QString& AName) const { return Dir.filePath(AName); }

    QTemporaryDir Dir;
    TResolveRun R;
};

} // namespace

TEST_F(OutFileWholeTest, ACompletedRunFramesEachFileWithItsHeaderAndFooter) {
    WriteTestFile(Path("rules.v4"), "old\n");
    R.SetDomains({"10.1.1.1", "2001:db8::1", "10.2.0.0/16"});
    R.Utils.SetAddressFamily(afBoth);
    R.Utils.SetResolvedListFile(Path("rules.v4"));
    R.Utils.SetResolvedListFile6(Path("rules.v6"));
    R.Utils.SetOutFileFrame({"*filter"}, {"COMMIT"});
    R.Utils.SetOutFileFrame6({"*filter", "# six"}, {"COMMIT"});
    ASSERT_TRUE(R.Run(20000));
    EXPECT_EQ(ReadTestFile(Path("rules.v4")), QByteArray("*filter\n10.1.1.1\n10.2.0.0/16\nCOMMIT\n"));
    EXPECT_EQ(ReadTestFile(Path("rules.v6")), QByteArray("*filter\n# six\n2001:db8::1\nCOMMIT\n"));
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files), QStringList({"rules.v4", "rules.v6"}));
}

TEST_F(OutFileWholeTest, ABrokenRunLeavesThePreviousFileAndSaysSo) {
    const QByteArray Previous = "*filter\n10.9.9.9\nCOMMIT\n";
    WriteTestFile(Path("rules.v4"), Previous);
    // Each name waits for a server that never answers: Break comes mid-run,
    // after the address lines before them went out.
    TFakeUdpServer Silent;
    ASSERT_TRUE(Silent.IsListening());
    R.SetDNS({Silent.Address()});
    QStringList In = {"10.1.1.1", "10.1.1.2"};
    for (int I = 0; I < 50; ++I)
        In << QString("n%1.vt.test").arg(I);
    R.SetDomains(In);
    R.Utils.SetResolvedListFile(Path("rules.v4"));
    R.Utils.SetOutFileFrame({"*filter"}, {"COMMIT"});
    R.Start();
    ASSERT_TRUE(Silent.WaitForQueries(1, 5000));
    R.Progress.BreakClick();
    ASSERT_TRUE(R.WaitEnd(20000));
    EXPECT_EQ(ReadTestFile(Path("rules.v4")), Previous);
    EXPECT_TRUE(R.LogText().contains("Output file " + Path("rules.v4") + " left unchanged: the run did not complete."))
        << R.LogText().toStdString();
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"rules.v4"}));

    // The next run that completes replaces it.
    R.SetDomains({"10.1.1.1"});
    ASSERT_TRUE(R.Run(20000));
    EXPECT_EQ(ReadTestFile(Path("rules.v4")), QByteArray("*filter\n10.1.1.1\nCOMMIT\n"));
}

TEST_F(OutFileWholeTest, ALinkAndAPipeAreWrittenThroughNotReplaced) {
    WriteTestFile(Path("real.txt"), "old\n");
    ASSERT_TRUE(QFile::link(Path("real.txt"), Path("link.txt")));
    R.SetDomains({"10.1.1.1"});
    R.Utils.SetResolvedListFile(Path("link.txt"));
    ASSERT_TRUE(R.Run(20000));
    EXPECT_TRUE(QFileInfo(Path("link.txt")).isSymLink());
    EXPECT_EQ(ReadTestFile(Path("real.txt")), QByteArray("10.1.1.1\n"));

    // A FIFO a loader reads from stays a FIFO and gets the lines.
    const QByteArray Fifo = QFile::encodeName(Path("pipe"));
    ASSERT_EQ(::mkfifo(Fifo.constData(), 0600), 0);
    const int Reader = ::open(Fifo.constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(Reader, 0);
    R.Utils.SetResolvedListFile(Path("pipe"));
    R.Utils.SetOutFileFrame({"begin"}, {"end"});
    ASSERT_TRUE(R.Run(20000));
    char Buffer[256];
    const ssize_t N = ::read(Reader, Buffer, sizeof Buffer);
    ::close(Reader);
    EXPECT_EQ(QByteArray(Buffer, int(qMax<ssize_t>(N, 0))), QByteArray("begin\n10.1.1.1\nend\n"));
    struct stat St;
    ASSERT_EQ(::lstat(Fifo.constData(), &St), 0);
    EXPECT_TRUE(S_ISFIFO(St.st_mode));
}
