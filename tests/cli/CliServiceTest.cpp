// A rule set kept current as the installed service keeps it: the state read
// line by line, runs on one state taking turns, --apply after every round,
// the list deciding what stays, and a flushed rule set loaded again. The DNS
// server is a dnsmasq whose answers the tests change between runs.
#include "CliProcess.h"
#include "support/ReloadableDns.h"
#include "support/TestFiles.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

namespace {

class CliServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        VT_SKIP_WITHOUT_DNS_SERVERS();
        ASSERT_TRUE(Dir.isValid());
        QString Error;
        ASSERT_TRUE(Dns.Start(Dir.path(), "10.90.0.9 kept.vt.test\n10.91.0.1 cdn.vt.test\n10.92.0.5 other.vt.test",
                              Error))
            << Error.toStdString();
    }
    QStringList Args(const QStringList& AMore) const {
        return QStringList{"--dns", Dns.Address(), "--pause", "0", "--timeout", "1000"} + AMore;
    }
    QString Path(const QString& AName) const { return Dir.filePath(AName); }
    void Reload(const QString& AHosts) {
        QString Error;
        ASSERT_TRUE(Dns.Reload(AHosts, Error)) << Error.toStdString();
    }
    // Waits until AFile has ACount lines; false when it does not come.
    static bool WaitForLines(const QString& AFile, int ACount) {
        QDeadlineTimer Deadline(10000);
        while (ReadTestFile(AFile).count('\n') < ACount && !Deadline.hasExpired())
            QThread::msleep(20);
        return ReadTestFile(AFile).count('\n') == ACount;
    }

    QTemporaryDir Dir;
    TReloadableDns Dns;
};

} // namespace

TEST_F(CliServiceTest, DamagedStateLinesCostOnlyThemselvesAndAForeignFileIsSetAside) {
    const qint64 Now = QDateTime::currentSecsSinceEpoch();
    const QByteArray T = QByteArray::number(Now - 60);
    const struct {
        QByteArray Line;
        const char* Why;  // null: a good line, kept
    } Cases[] = {
        {"10.90.0.1\tkept.vt.test\t" + T, nullptr},
        {"10.90.0.2\tKEPT.vt.test\t" + T + "\r", nullptr},  // an editor's CR LF
        {"1.2.3.4 } ; add table ip pwned ; add element inet veltrask veltrask4 { 5.6.7.8\tkept.vt.test\t" + T,
         "not an address"},
        {"999.1.1.1\tkept.vt.test\t" + T, "not an address"},
        {"010.90.0.3\tkept.vt.test\t" + T, "not an address"},
        {"2001:DB8::1\tkept.vt.test\t" + T, "not an address"},
        {"10.90.0.4\tkept.vt.test } ; flush ruleset\t" + T, "not a domain"},
        {"10.90.0.5\tkept.vt.test\t-5", "time out of range"},
        {"10.90.0.6\tkept.vt.test\t" + QByteArray::number(Now + 365 * 86400), "time out of range"},
        {"10.90.0.7\tkept.vt.test", "not ADDRESS<TAB>DOMAIN<TAB>SECONDS"},
        {"", "not ADDRESS<TAB>DOMAIN<TAB>SECONDS"},
        {"10.90.0.8\tkept.vt.test\t" + T, "cut short (no line break)"},  // the last line, without its break
    };
    QByteArray File = "# veltrask state 1\n";
    for (const auto& C : Cases)
        File += C.Line + (&C == &Cases[std::size(Cases) - 1] ? "" : "\n");
    const QString State = Path("state"), Out = Path("out.txt");
    WriteTestFile(State, File);
    WriteTestFile(Path("list.txt"), "kept.vt.test\n");
    const QStringList Common = {"--state", State, "-f", "%ip% %domain%", "-o", Out, Path("list.txt")};
    TCliResult R = RunCli(Args(Common));
    ASSERT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
    int Bad = 0;
    for (int I = 0; I < int(std::size(Cases)); ++I) {
        if (!Cases[I].Why)
            continue;
        ++Bad;
        EXPECT_TRUE(R.ErrText().contains(QString("State line %1 skipped: %2").arg(I + 2).arg(Cases[I].Why)))
            << "line " << I + 2 << ": " << R.ErrText().toStdString();
    }
    EXPECT_EQ(R.ErrText().count(" skipped: "), Bad) << R.ErrText().toStdString();
    EXPECT_EQ(ReadTestFile(Out),
              QByteArray("10.90.0.1 kept.vt.test\n10.90.0.2 KEPT.vt.test\n10.90.0.9 kept.vt.test\n"));
    EXPECT_FALSE(ReadTestFile(State).contains("pwned"));
    EXPECT_EQ(ReadTestFile(State).count('\n'), 4);

    // No state file at all: set aside, each time under a number of its own.
    const QString Aside1 = State + ".damaged.1", Aside2 = State + ".damaged.2";
    for (const QByteArray& Foreign : {QByteArray("10.90.0.1\tkept.vt.test\t1\n"), QByteArray("junk")}) {
        WriteTestFile(State, Foreign);
        R = RunCli(Args(Common));
        ASSERT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
        EXPECT_TRUE(R.ErrText().contains("set aside as " + (Foreign == "junk" ? Aside2 : Aside1)))
            << R.ErrText().toStdString();
        EXPECT_EQ(ReadTestFile(Out), QByteArray("10.90.0.9 kept.vt.test\n"));
    }
    EXPECT_EQ(ReadTestFile(Aside1), QByteArray("10.90.0.1\tkept.vt.test\t1\n"));
    EXPECT_EQ(ReadTestFile(Aside2), QByteArray("junk"));

    // A FIFO in the state's place is refused at once, not waited on; a
    // missing folder is made.
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path("fifo")).constData(), 0600), 0);
    R = RunCli(Args({"--state", Path("fifo"), "-o", Out, Path("list.txt")}), QByteArray(), 20000);
    ASSERT_TRUE(R.Finished);
    EXPECT_EQ(R.ExitCode, 1);
    EXPECT_TRUE(R.ErrText().contains("not a regular file")) << R.ErrText().toStdString();
    R = RunCli(Args({"--state", Path("new/folder/state"), "-o", Out, Path("list.txt")}));
    EXPECT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
    EXPECT_TRUE(ReadTestFile(Path("new/folder/state")).contains("10.90.0.9\tkept.vt.test\t"));
}

TEST_F(CliServiceTest, TwoRunsOnOneStateTakeTurnsAndLoseNothing) {
    const QString State = Path("state");
    WriteTestFile(Path("cdn.txt"), "cdn.vt.test\n");
    // Left by a killed run beside the output: old, of the output's pattern.
    const QString Leftover = Path(".b.txt.Ab12Cd"), NotOurs = Path(".b.txt.backup1");
    for (const QString& F : {Leftover, NotOurs}) {
        WriteTestFile(F, "partial");
        QFile File(F);
        ASSERT_TRUE(File.open(QIODevice::ReadWrite));
        ASSERT_TRUE(File.setFileTime(QDateTime::currentDateTime().addSecs(-600), QFileDevice::FileModificationTime));
    }

    // The first run holds its turn while its input stays open.
    TRounds First(Args({"-v", "--state", State, "-f", "%ip% %domain%", "-o", Path("a.txt"), "-"}));
    ASSERT_TRUE(First.Started());
    First.Proc().write("cdn.vt.test\n");
    ASSERT_TRUE(First.WaitForErr("IP: 10.91.0.1")) << First.Err().toStdString();
    // The network moves the name; the second run waits for its turn.
    Reload("10.91.0.2 cdn.vt.test");
    TRounds Second(Args({"--state", State, "-f", "%ip% %domain%", "-o", Path("b.txt"), Path("cdn.txt")}));
    ASSERT_TRUE(Second.Started());
    ASSERT_TRUE(Second.WaitForErr("Waiting for another run on " + State)) << Second.Err().toStdString();
    EXPECT_FALSE(QFileInfo::exists(Path("b.txt")));
    First.Proc().closeWriteChannel();
    ASSERT_TRUE(First.Proc().waitForFinished(10000));
    EXPECT_EQ(First.Proc().exitCode(), 0) << First.Err().toStdString();
    ASSERT_TRUE(Second.Proc().waitForFinished(10000));
    EXPECT_EQ(Second.Proc().exitCode(), 0) << Second.Err().toStdString();
    EXPECT_EQ(Second.Err().count("Waiting for another run"), 1);

    // The second merged with what the first left.
    EXPECT_EQ(ReadTestFile(Path("b.txt")), QByteArray("10.91.0.1 cdn.vt.test\n10.91.0.2 cdn.vt.test\n"));
    const QByteArray St = ReadTestFile(State);
    EXPECT_TRUE(St.contains("10.91.0.1\tcdn.vt.test\t") && St.contains("10.91.0.2\tcdn.vt.test\t")) << St.constData();
    EXPECT_FALSE(QFileInfo::exists(Leftover));
    EXPECT_TRUE(QFileInfo::exists(NotOurs));
}

TEST_F(CliServiceTest, RoundsApplyEveryTimeRetryAFailedApplyAndFollowTheList) {
    const QString State = Path("state"), Out = Path("out.txt"), Applied = Path("applied"), Flag = Path("fail");
    WriteTestFile(Path("list.txt"), "cdn.vt.test\nother.vt.test\n");
    const QString Apply = QString("echo \"$VELTRASK_OUTPUT\" >> '%1'; test ! -e '%2' || exit 5").arg(Applied, Flag);
    TRounds Rounds(Args({"--every", "1h", "--state", State, "-f", "%ip% %domain%", "-o", Out, "--apply", Apply,
                         Path("list.txt")}));
    ASSERT_TRUE(Rounds.Started());
    ASSERT_TRUE(WaitForLines(Applied, 1)) << Rounds.Err().toStdString();
    EXPECT_EQ(ReadTestFile(Applied), (Out + "\n").toUtf8());
    // Unchanged: applied all the same.
    Rounds.Signal(SIGHUP);
    ASSERT_TRUE(WaitForLines(Applied, 2)) << Rounds.Err().toStdString();
    // A failing command is an error of its round, and tried again by the next.
    WriteTestFile(Flag, "");
    Rounds.Signal(SIGHUP);
    ASSERT_TRUE(Rounds.WaitForErr("apply command failed with status 5")) << Rounds.Err().toStdString();
    QFile::remove(Flag);
    Rounds.Signal(SIGHUP);
    ASSERT_TRUE(WaitForLines(Applied, 4)) << Rounds.Err().toStdString();
    EXPECT_EQ(Rounds.Err().count("apply command failed"), 1);

    // A name taken off the list goes at once, though --keep would keep it;
    // the name still listed keeps its earlier address.
    Reload("10.91.0.2 cdn.vt.test\n10.92.0.5 other.vt.test");
    WriteTestFile(Path("list.txt"), "cdn.vt.test\n");
    Rounds.Signal(SIGHUP);
    ASSERT_TRUE(WaitForLines(Applied, 5)) << Rounds.Err().toStdString();
    EXPECT_EQ(ReadTestFile(Out), QByteArray("10.91.0.1 cdn.vt.test\n10.91.0.2 cdn.vt.test\n"));
    EXPECT_FALSE(ReadTestFile(State).contains("other.vt.test"));
    Rounds.Signal(SIGTERM);
    ASSERT_TRUE(Rounds.Proc().waitForFinished(5000));
    EXPECT_EQ(Rounds.Proc().exitCode(), 128 + SIGTERM);

    // A run whose lookups fail keeps what the state holds for the name, and
    // applies it; the command's failure is the run's.
    TCliResult R = RunCli({"--dns", "127.0.0.1:1", "--timeout", "200", "--state", State, "-f", "%ip% %domain%", "-o",
                           Out, "--apply", "exit 7", Path("list.txt")});
    EXPECT_EQ(R.ExitCode, 1) << R.ErrText().toStdString();
    EXPECT_TRUE(R.ErrText().contains("apply command failed with status 7")) << R.ErrText().toStdString();
    EXPECT_EQ(ReadTestFile(Out), QByteArray("10.91.0.1 cdn.vt.test\n10.91.0.2 cdn.vt.test\n"));
}

TEST_F(CliServiceTest, AFlushedRuleSetIsLoadedAgainByTheNextRound) {
    if (FindTool("nft").isEmpty())
        GTEST_SKIP() << "nft is not installed";
    if (!PrivateNetworkAvailable())
        GTEST_SKIP() << "no private network namespace here";
    WriteTestFile(Path("list.txt"), "10.93.0.1\n");
    // Address lines only: the private namespace reaches no DNS server.
    const QString Run = QString("'%1' --dns 127.0.0.1 --preset nft --state '%2' -o '%3' --apply 'nft -f "
                                "\"$VELTRASK_OUTPUT\"' '%4'")
                            .arg(VT_CLI_PATH, Path("state"), Path("set.nft"), Path("list.txt"));
    const TToolRun R = InPrivateNetwork(Run + "; nft flush ruleset; echo flushed; nft list ruleset; " + Run +
                                        "; echo again; nft list set inet veltrask veltrask4");
    ASSERT_EQ(R.Code, 0) << R.Output.toStdString();
    const QString Flushed = R.Output.section("flushed", 1).section("again", 0, 0);
    EXPECT_FALSE(Flushed.contains("veltrask4")) << R.Output.toStdString();
    EXPECT_TRUE(R.Output.section("again", 1).contains("elements = { 10.93.0.1 }")) << R.Output.toStdString();
}
