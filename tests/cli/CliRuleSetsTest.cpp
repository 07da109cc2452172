// Rule sets a firewall loads as they are and that stay current: the presets
// checked by the loaders themselves, whole output files, the state that keeps
// addresses across runs, and rounds driven by time and SIGHUP. The DNS server
// is a dnsmasq of this file's own, whose hosts file the tests rewrite and
// reload between runs, as a content-delivery network moves its addresses.
#include "CliProcess.h"
#include "support/ReloadableDns.h"
#include "support/PrivateNetwork.h"
#include "support/TestFiles.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <functional>
#include <memory>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A list as people have them: names with both families, a name twice,
// address lines, prefixes that overlap each other and the answers.
const QByteArray kMixedList = "dual.vt.test\nfour.vt.test\ndual.vt.test\n10.0.0.0/8\n10.77.0.0/16\n10.77.1.1\n"
                              "10.77.1.1\n2001:db8::/32\n2001:db8:77::/48\n2001:db8::77\nnosuch.vt.test\n";
const QString kMixedHosts = "10.77.1.1 dual.vt.test\n2001:db8::77 dual.vt.test\n10.77.2.2 four.vt.test";

class CliRuleSetsTest : public ::testing::Test {
protected:
    void SetUp() override {
        VT_SKIP_WITHOUT_DNS_SERVERS();
        ASSERT_TRUE(Dir.isValid());
        QString Error;
        ASSERT_TRUE(Dns.Start(Dir.path(), kMixedHosts, Error)) << Error.toStdString();
        WriteTestFile(Path("list.txt"), kMixedList);
    }
    QStringList Args(const QStringList& AMore) const {
        return QStringList{"--dns", Dns.Address(), "--pause", "0", "--timeout", "1000"} + AMore;
    }
    QString Path(const QString& AName) const { return Dir.filePath(AName); }
    // The files in the folder, hidden ones included: no temporary file may stay.
    QStringList Files() const { return QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

    QTemporaryDir Dir;
    TReloadableDns Dns;
};

} // namespace

// ---------------------------------------------------------------------------
// Presets, checked by their loaders

TEST_F(CliRuleSetsTest, NftPresetIsOneFileNftLoadsAgainAndAgain) {
    const TCliResult R = RunCli(Args({"--preset", "nft", "--family", "both", "-o", Path("set.nft"), Path("list.txt")}));
    ASSERT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
    const QByteArray File = ReadTestFile(Path("set.nft"));
    EXPECT_FALSE(File.contains('\r'));
    // The elements are the fewest blocks covering the addresses: no duplicate
    // and no overlap for the loader to refuse.
    EXPECT_TRUE(File.contains("add element inet veltrask veltrask4 { 10.0.0.0/8 }\n"));
    EXPECT_TRUE(File.contains("add element inet veltrask veltrask6 { 2001:db8::/32 }\n"));
    EXPECT_EQ(File.count("add element"), 2) << File.constData();
    const QString Nft = FindTool("nft");
    if (Nft.isEmpty())
        GTEST_SKIP() << "nft is not installed: the file's form is checked, not its loading";
    const TToolRun Check = RunTool(Nft, {"-c", "-f", Path("set.nft")});
    if (Check.Code != 0 && Check.Output.contains("Operation not permitted"))
        GTEST_SKIP() << "nft -c cannot run here: " << Check.Output.toStdString();
    EXPECT_EQ(Check.Code, 0) << Check.Output.toStdString();
    // The check does look at the elements: an IPv6 one in the IPv4 set is refused.
    QByteArray Wrong = File;
    Wrong.replace("veltrask4 { 10.0.0.0/8 }", "veltrask4 { 2001:db8::1 }");
    WriteTestFile(Path("wrong.nft"), Wrong);
    EXPECT_NE(RunTool(Nft, {"-c", "-f", Path("wrong.nft")}).Code, 0);
    if (!PrivateNetworkAvailable())
        GTEST_SKIP() << "no private network namespace here: loaded in check mode only";
    const TToolRun Load = InPrivateNetwork(QString("nft -f '%1'; nft -f '%1'; nft list set inet veltrask veltrask4; "
                                                   "nft list set inet veltrask veltrask6; nft list chain inet "
                                                   "veltrask output")
                                               .arg(Path("set.nft")));
    ASSERT_EQ(Load.Code, 0) << Load.Output.toStdString();
    EXPECT_TRUE(Load.Output.contains("elements = { 10.0.0.0/8 }")) << Load.Output.toStdString();
    EXPECT_TRUE(Load.Output.contains("elements = { 2001:db8::/32 }")) << Load.Output.toStdString();
    // Loaded twice, the chain holds each rule once.
    EXPECT_EQ(Load.Output.count("daddr @veltrask4 reject"), 1) << Load.Output.toStdString();
}

TEST_F(CliRuleSetsTest, IPTablesPresetWritesOneRestoreFilePerFamily) {
    // Both families in one iptables file cannot load: refused before any lookup.
    const TCliResult Refused = RunCli(Args({"--preset", "iptables", "--family", "both", Path("list.txt")}));
    EXPECT_EQ(Refused.ExitCode, 2);
    EXPECT_TRUE(Refused.ErrText().contains("needs --output6")) << Refused.ErrText().toStdString();

    const TCliResult R = RunCli(Args({"--preset", "iptables", "--family", "both", "-o", Path("rules.v4"), "--output6",
                                      Path("rules.v6"), Path("list.txt")}));
    ASSERT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
    const QByteArray V4 = ReadTestFile(Path("rules.v4")), V6 = ReadTestFile(Path("rules.v6"));
    // Only a chain of its own, in address order, each rule once.
    EXPECT_EQ(V4, QByteArray("*filter\n:veltrask - [0:0]\n-A veltrask -d 10.0.0.0/8 -j REJECT\n"
                             "-A veltrask -d 10.77.0.0/16 -j REJECT\n-A veltrask -d 10.77.1.1 -j REJECT\n"
                             "-A veltrask -d 10.77.2.2 -j REJECT\nCOMMIT\n"));
    EXPECT_EQ(V6, QByteArray("*filter\n:veltrask - [0:0]\n-A veltrask -d 2001:db8::/32 -j REJECT\n"
                             "-A veltrask -d 2001:db8::77 -j REJECT\n-A veltrask -d 2001:db8:77::/48 -j REJECT\n"
                             "COMMIT\n"));
    const QString Restore = FindTool("iptables-restore"), Restore6 = FindTool("ip6tables-restore");
    if (Restore.isEmpty() || Restore6.isEmpty())
        GTEST_SKIP() << "iptables-restore is not installed: the files' form is checked, not their loading";
    const TToolRun C4 = RunTool(Restore, {"--test", Path("rules.v4")});
    const TToolRun C6 = RunTool(Restore6, {"--test", Path("rules.v6")});
    if (C4.Output.contains("Permission denied") || C4.Output.contains("must be run as root"))
        GTEST_SKIP() << "iptables-restore --test cannot run here: " << C4.Output.toStdString();
    EXPECT_EQ(C4.Code, 0) << C4.Output.toStdString();
    EXPECT_EQ(C6.Code, 0) << C6.Output.toStdString();
    // And the families are not interchangeable: the check does look at them.
    EXPECT_NE(RunTool(Restore, {"--test", Path("rules.v6")}).Code, 0);
}

TEST_F(CliRuleSetsTest, IPSetPresetRestoresWithItsSetNames) {
    const TCliResult R = RunCli(Args({"--preset", "ipset", "--set-name", "blk", "--family", "both", "-o",
                                      Path("sets.ipset"), Path("list.txt")}));
    ASSERT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
    const QByteArray File = ReadTestFile(Path("sets.ipset"));
    // Filled beside the live sets and swapped in; covering blocks only.
    EXPECT_EQ(File, QByteArray("create blk4-new hash:net family inet maxelem 1048576 -exist\nflush blk4-new\n"
                               "add blk4-new 10.0.0.0/8\n"
                               "create blk4 hash:net family inet maxelem 1048576 -exist\nswap blk4-new blk4\n"
                               "destroy blk4-new\n"
                               "create blk6-new hash:net family inet6 maxelem 1048576 -exist\nflush blk6-new\n"
                               "add blk6-new 2001:db8::/32\n"
                               "create blk6 hash:net family inet6 maxelem 1048576 -exist\nswap blk6-new blk6\n"
                               "destroy blk6-new\n"));
    if (FindTool("ipset").isEmpty())
        GTEST_SKIP() << "ipset is not installed: the file's form is checked, not its loading";
    if (!PrivateNetworkAvailable())
        GTEST_SKIP() << "ipset has no check mode and no private network namespace is available here";
    const TToolRun Load =
        InPrivateNetwork(QString("ipset restore -f '%1'; ipset restore -f '%1'; ipset list blk4; ipset list blk6")
                             .arg(Path("sets.ipset")));
    ASSERT_EQ(Load.Code, 0) << Load.Output.toStdString();
    EXPECT_TRUE(Load.Output.contains("10.0.0.0/8")) << Load.Output.toStdString();
    EXPECT_TRUE(Load.Output.contains("2001:db8::/32")) << Load.Output.toStdString();
}

TEST_F(CliRuleSetsTest, HostsPresetHeaderAndFooterFrameTheLines) {
    const TCliResult Hosts = RunCli(Args({"--preset", "hosts", "--family", "both", Path("list.txt")}));
    ASSERT_EQ(Hosts.ExitCode, 0) << Hosts.ErrText().toStdString();
    EXPECT_TRUE(Hosts.OutLines().contains("10.77.1.1 dual.vt.test"));
    EXPECT_TRUE(Hosts.OutLines().contains("2001:db8::77 dual.vt.test"));
    EXPECT_TRUE(Hosts.OutLines().contains("10.77.2.2 four.vt.test"));

    // The user's lines go inside the preset's: after its header, before its
    // footer; a file gets LF line breaks from a preset, CR LF without one.
    const TCliResult R = RunCli(Args({"--preset", "iptables", "--header", ":OUTPUT ACCEPT [0:0]", "--footer",
                                      "# end", "-o", Path("rules.v4")}),
                                "10.1.1.1\n");
    ASSERT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
    EXPECT_EQ(ReadTestFile(Path("rules.v4")),
              QByteArray("*filter\n:veltrask - [0:0]\n:OUTPUT ACCEPT [0:0]\n-A veltrask -d 10.1.1.1 -j REJECT\n"
                         "# end\nCOMMIT\n"));
    // On standard output too, framed the same way.
    const TCliResult Out = RunCli(Args({"--preset", "iptables", "--header", "# mine"}), "10.1.1.1\n");
    ASSERT_EQ(Out.ExitCode, 0) << Out.ErrText().toStdString();
    EXPECT_EQ(Out.Out, QByteArray("*filter\n:veltrask - [0:0]\n# mine\n-A veltrask -d 10.1.1.1 -j REJECT\nCOMMIT\n"));
    const TCliResult Plain = RunCli(Args({"--header", "h1", "--header", "h2", "--footer", "f1", "-o", Path("p.txt"),
                                          "-f", "x %ip%"}),
                                    "10.1.1.1\n");
    ASSERT_EQ(Plain.ExitCode, 0) << Plain.ErrText().toStdString();
    EXPECT_EQ(ReadTestFile(Path("p.txt")), QByteArray("h1\nh2\nx 10.1.1.1\nf1\n"));
}

// ---------------------------------------------------------------------------
// Whole files

TEST_F(CliRuleSetsTest, AReaderPollingDuringTwentyRunsNeverSeesAPartialFile) {
    QByteArray In;
    for (int I = 0; I < 3000; ++I)
        In += QString("10.%1.%2.1\n").arg(I / 200).arg(I % 200).toLatin1();
    const QString Out = Path("rules.v4");
    std::atomic<bool> Stop{false};
    std::atomic<int> Reads{0}, Partial{0};
    std::thread Reader([&] {
        while (!Stop) {
            QFile F(Out);
            if (F.open(QIODevice::ReadOnly)) {
                const QByteArray Data = F.readAll();
                ++Reads;
                if (!Data.endsWith(" -j REJECT\n") || Data.count('\n') != 3001)
                    ++Partial;
            }
        }
    });
    // Stopped and joined also when an assertion ends the test early.
    const std::unique_ptr<void, std::function<void(void*)>> Join(&Stop, [&](void*) {
        Stop = true;
        Reader.join();
    });
    for (int Run = 0; Run < 20; ++Run) {
        // Each run differs from the last (one more line), so each one replaces the file.
        WriteTestFile(Path("big.txt"), In + QString("10.250.0.%1\n").arg(Run).toLatin1());
        const TCliResult R = RunCli(Args({"-f", "-A OUTPUT -d %ip% -j REJECT", "-t", "4", "-o", Out, Path("big.txt")}));
        ASSERT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
        ASSERT_TRUE(ReadTestFile(Out).contains(QString("-d 10.250.0.%1 ").arg(Run).toLatin1()));
    }
    Stop = true;
    EXPECT_GT(Reads.load(), 20);
    EXPECT_EQ(Partial.load(), 0) << "of " << Reads.load() << " reads";
    EXPECT_EQ(Files(), QStringList({"big.txt", "dnsmasq.log", "list.txt", "rules-hosts", "rules.v4"}));
}

TEST_F(CliRuleSetsTest, AKilledRunAndAFailingOutputLeaveThePreviousFilesByteIdentical) {
    const QByteArray Previous = "*filter\n-A OUTPUT -d 192.0.2.1 -j REJECT\nCOMMIT\n";
    const QByteArray Previous6 = "*filter\n-A OUTPUT -d 2001:db8::1 -j REJECT\nCOMMIT\n";
    WriteTestFile(Path("rules.v4"), Previous);
    WriteTestFile(Path("rules.v6"), Previous6);

    // Killed outright in the middle of a run: nothing can be cleaned up, and
    // the file a loader reads is still the old one.
    QProcess P;
    P.start(VT_CLI_PATH, Args({"--preset", "iptables", "--pause", "100", "-o", Path("rules.v4"), "-"}));
    ASSERT_TRUE(P.waitForStarted(10000));
    for (int I = 0; I < 200; ++I)
        P.write("dual.vt.test\n");
    P.closeWriteChannel();
    ASSERT_FALSE(P.waitForFinished(1000));
    P.kill();
    ASSERT_TRUE(P.waitForFinished(5000));
    EXPECT_EQ(ReadTestFile(Path("rules.v4")), Previous);

    // The IPv6 file fails, at its header or at its first line: neither file
    // is replaced, and a run that had begun says so.
    if (QFileInfo::exists("/dev/full")) {
        TCliResult R = RunCli(Args({"--family", "both", "--preset", "ipset", "-o", Path("rules.v4"), "--output6",
                                    "/dev/full", Path("list.txt")}));
        EXPECT_EQ(R.ExitCode, 1);
        EXPECT_EQ(ReadTestFile(Path("rules.v4")), Previous);
        R = RunCli(Args({"--family", "both", "-f", "%ip%", "-o", Path("rules.v4"), "--output6", "/dev/full",
                         Path("list.txt")}));
        EXPECT_EQ(R.ExitCode, 1);
        EXPECT_EQ(ReadTestFile(Path("rules.v4")), Previous);
        EXPECT_TRUE(R.ErrText().contains(Path("rules.v4") + " left unchanged: the run did not complete"))
            << R.ErrText().toStdString();
    }
    // A run that cannot start (no such input) does not touch them either.
    const TCliResult Missing = RunCli(Args({"--preset", "iptables", "--family", "both", "-o", Path("rules.v4"),
                                            "--output6", Path("rules.v6"), Path("nosuch.txt")}));
    EXPECT_EQ(Missing.ExitCode, 1);
    EXPECT_EQ(ReadTestFile(Path("rules.v4")), Previous);
    EXPECT_EQ(ReadTestFile(Path("rules.v6")), Previous6);
    // Only the killed run's temporary file may be left, never a replaced target.
    for (const QString& F : Files())
        EXPECT_TRUE(F == "rules.v4" || F == "rules.v6" || F.startsWith(".rules.v4.") || !F.startsWith('.'))
            << F.toStdString();
}

TEST_F(CliRuleSetsTest, AnOutputWithTheSameContentIsNotReplaced) {
    const QString Out = Path("set.nft");
    ASSERT_EQ(RunCli(Args({"--preset", "nft", "-o", Out, Path("list.txt")})).ExitCode, 0);
    struct stat Before{}, After{};
    ASSERT_EQ(::stat(QFile::encodeName(Out).constData(), &Before), 0);
    ASSERT_EQ(RunCli(Args({"--preset", "nft", "-o", Out, Path("list.txt")})).ExitCode, 0);
    ASSERT_EQ(::stat(QFile::encodeName(Out).constData(), &After), 0);
    EXPECT_EQ(Before.st_ino, After.st_ino);
    ASSERT_EQ(RunCli(Args({"--preset", "nft", "--set-name", "other", "-o", Out, Path("list.txt")})).ExitCode, 0);
    ASSERT_EQ(::stat(QFile::encodeName(Out).constData(), &After), 0);
    EXPECT_NE(Before.st_ino, After.st_ino);
    EXPECT_TRUE(ReadTestFile(Out).contains("table inet other {"));
}

// ---------------------------------------------------------------------------
// Accumulation

namespace {

// Rewrites the last-seen time of every state entry of AAddress.
void AgeStateEntry(const QString& AState, const QString& AAddress, qint64 ASecondsAgo) {
    QStringList Lines = QString::fromUtf8(ReadTestFile(AState)).split('\n');
    for (QString& L : Lines)
        if (L.startsWith(AAddress + '\t'))
            L = L.section('\t', 0, 1) + '\t' + QString::number(QDateTime::currentSecsSinceEpoch() - ASecondsAgo);
    WriteTestFile(AState, Lines.join('\n').toUtf8());
}

} // namespace

TEST_F(CliRuleSetsTest, StateAccumulatesSurvivesAFailedRunAndExpiresByAge) {
    WriteTestFile(Path("cdn.txt"), "cdn.vt.test\n");
    const QString State = Path("state"), Out = Path("out.txt");
    const QStringList Common = {"--state", State, "-f", "%ip% %domain%", "-o", Out, Path("cdn.txt")};
    QString Error;
    ASSERT_TRUE(Dns.Reload("10.50.0.1 cdn.vt.test", Error)) << Error.toStdString();
    TCliResult R = RunCli(Args(Common));
    ASSERT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
    EXPECT_EQ(ReadTestFile(Out), QByteArray("10.50.0.1 cdn.vt.test\n"));

    // The network moves the name: both addresses stay.
    ASSERT_TRUE(Dns.Reload("10.50.0.2 cdn.vt.test", Error)) << Error.toStdString();
    R = RunCli(Args(Common));
    ASSERT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
    EXPECT_EQ(ReadTestFile(Out), QByteArray("10.50.0.1 cdn.vt.test\n10.50.0.2 cdn.vt.test\n"));

    // A run whose lookups all fail drops nothing.
    R = RunCli(QStringList{"--dns", QString("127.0.0.1:%1").arg(TLocalDnsServers::FreeUdpPort()), "--pause", "0",
                           "--timeout", "200"} +
               Common);
    EXPECT_EQ(R.ExitCode, 3) << R.ErrText().toStdString();
    EXPECT_EQ(ReadTestFile(Out), QByteArray("10.50.0.1 cdn.vt.test\n10.50.0.2 cdn.vt.test\n"));
    EXPECT_TRUE(ReadTestFile(State).startsWith("# veltrask state 1\n"));
    EXPECT_EQ(ReadTestFile(State).count('\n'), 3);

    // Last seen two hours ago, kept for one: gone from the output and the state.
    AgeStateEntry(State, "10.50.0.1", 7200);
    R = RunCli(Args(QStringList{"--keep", "1h"} + Common));
    ASSERT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
    EXPECT_EQ(ReadTestFile(Out), QByteArray("10.50.0.2 cdn.vt.test\n"));
    EXPECT_FALSE(ReadTestFile(State).contains("10.50.0.1"));
}

// ---------------------------------------------------------------------------
// Rounds

TEST_F(CliRuleSetsTest, RoundsReplaceTheOutputOnChangeOnlyAndEndCleanly) {
    WriteTestFile(Path("cdn.txt"), "cdn.vt.test\n");
    QString Error;
    ASSERT_TRUE(Dns.Reload("10.60.0.1 cdn.vt.test", Error)) << Error.toStdString();
    const QString State = Path("state"), Out = Path("set.nft"), Changes = Path("changes.log");
    // An hour between rounds: every round after the first comes from SIGHUP.
    TRounds Rounds(Args({"--every", "1h", "--preset", "nft", "--state", State, "-o", Out, "--on-change",
                         "echo \"$VELTRASK_OUTPUT|$VELTRASK_OUTPUT6\" >> '" + Changes + "'; exit 4",
                         Path("cdn.txt")}));
    ASSERT_TRUE(Rounds.Started());
    ASSERT_TRUE(Rounds.WaitForRounds(1)) << Rounds.Err().toStdString();
    const auto ChangeCount = [&] { return ReadTestFile(Changes).count('\n'); };
    QDeadlineTimer Deadline(5000);
    while (ChangeCount() < 1 && !Deadline.hasExpired())
        QThread::msleep(20);
    EXPECT_EQ(ReadTestFile(Changes), (Out + "|\n").toUtf8());
    EXPECT_TRUE(ReadTestFile(Out).contains("veltrask4 { 10.60.0.1 }"));

    // Same answers: the round replaces nothing and runs no command.
    Rounds.Signal(SIGHUP);
    ASSERT_TRUE(Rounds.WaitForRounds(2)) << Rounds.Err().toStdString();
    // New answers: one change, one command; the old address is kept.
    ASSERT_TRUE(Dns.Reload("10.60.0.2 cdn.vt.test", Error)) << Error.toStdString();
    Rounds.Signal(SIGHUP);
    ASSERT_TRUE(Rounds.WaitForRounds(3)) << Rounds.Err().toStdString();
    Rounds.Signal(SIGHUP);
    ASSERT_TRUE(Rounds.WaitForRounds(4)) << Rounds.Err().toStdString();
    const QByteArray Set = ReadTestFile(Out);
    EXPECT_TRUE(Set.contains("veltrask4 { 10.60.0.1, 10.60.0.2 }\n")) << Set.constData();
    EXPECT_EQ(ChangeCount(), 2);
    // The command's status is logged; its failure did not stop the rounds.
    EXPECT_EQ(Rounds.Err().count("on-change command exited with status 4"), 2) << Rounds.Err().toStdString();

    // Ctrl-C between rounds: exits at once, the state whole.
    Rounds.Signal(SIGINT);
    ASSERT_TRUE(Rounds.Proc().waitForFinished(5000));
    EXPECT_EQ(Rounds.Proc().exitCode(), 130);
    const QByteArray St = ReadTestFile(State);
    EXPECT_TRUE(St.startsWith("# veltrask state 1\n") && St.contains("10.60.0.1\tcdn.vt.test\t") &&
                St.contains("10.60.0.2\tcdn.vt.test\t"))
        << St.constData();
    EXPECT_EQ(Files().filter(QRegularExpression("^\\.")), QStringList());
}

TEST_F(CliRuleSetsTest, RoundsComeByTimeAndReadTheListAgain) {
    WriteTestFile(Path("cdn.txt"), "10.70.0.1\n");
    TRounds Rounds(Args({"--every", "1s", "-o", Path("out.txt"), Path("cdn.txt")}));
    ASSERT_TRUE(Rounds.Started());
    ASSERT_TRUE(Rounds.WaitForRounds(1)) << Rounds.Err().toStdString();
    WriteTestFile(Path("cdn.txt"), "10.70.0.2\n");
    ASSERT_TRUE(Rounds.WaitForRounds(3, 8000)) << Rounds.Err().toStdString();
    EXPECT_EQ(ReadTestFile(Path("out.txt")), QByteArray("10.70.0.2\n"));
    Rounds.Signal(SIGTERM);
    ASSERT_TRUE(Rounds.Proc().waitForFinished(5000));
    EXPECT_EQ(Rounds.Proc().exitCode(), 128 + SIGTERM);
}

TEST(CliRuleSetsOptionsTest, OptionsThatCannotApplyAreRefused) {
    const struct {
        QStringList Args;
        const char* Error;
    } Cases[] = {
        {{"--preset", "pf"}, "--preset must be one of: iptables, nft, ipset, hosts"},
        {{"--preset", "nft", "-f", "%ip%"}, "--preset and --format cannot be given together"},
        {{"--set-name", "x"}, "--set-name needs --preset nft, ipset or iptables"},
        {{"--preset", "nft", "--set-name", "1bad"}, "bad set name: 1bad"},
        // Loaders' own words, and a name with no room for ipset's "4-new".
        {{"--preset", "nft", "--set-name", "table"}, "bad set name: table"},
        {{"--preset", "ipset", "--set-name", "flush"}, "bad set name: flush"},
        {{"--preset", "iptables", "--set-name", "OUTPUT"}, "bad set name: OUTPUT"},
        {{"--preset", "ipset", "--set-name", QString(27, 'a')}, "bad set name: aaa"},
        {{"--preset", "nft", "--bom", "-o", "x"}, "--bom cannot be given with --preset"},
        {{"--preset", "hosts", "--line-ending", "windows", "-o", "x"}, "--line-ending windows cannot be given"},
        {{"--preset", "nft", "--family", "both", "--output6", "y"}, "--preset nft writes both families into one"},
        {{"--keep", "1h"}, "--keep needs --state"},
        {{"--state", "s", "--keep", "1w"}, "--keep must be a duration such as 30s, 10m, 1h or 7d"},
        {{"--state", "s", "--keep", "7"}, "--keep must be a duration such as 30s, 10m, 1h or 7d"},
        {{"--every", "7", "-o", "x", "in"}, "--every must be a duration"},
        {{"--apply", "true", "in"}, "--apply needs --output FILE"},
        {{"--every", "0s", "-o", "x", "in"}, "--every must be a duration"},
        {{"--every", "10m", "-o", "x"}, "--every needs an input FILE"},
        {{"--every", "10m", "in"}, "--every needs --output FILE"},
        {{"--on-change", "true"}, "--on-change needs --output FILE"},
        {{"--preset", "hosts", "--aggregate"}, "--aggregate cannot fill %domain%"},
    };
    for (const auto& C : Cases) {
        const TCliResult R = RunCli(C.Args);
        EXPECT_EQ(R.ExitCode, 2) << C.Args.join(' ').toStdString();
        EXPECT_TRUE(R.ErrText().contains(C.Error)) << R.ErrText().toStdString();
    }
}
