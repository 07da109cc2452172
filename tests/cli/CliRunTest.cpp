#include "CliProcess.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QStringList kWww = {"10.0.0.1", "10.0.0.2", "10.0.0.3"};

class CliRunTest : public TCliServersTest {};

} // namespace

TEST_F(CliRunTest, PlainRunPrintsBareAddressesOnStandardOutputOnly) {
    const TCliResult R =
        RunCli(Args({}), "www.vt.test\r\n  clean.vt.test  \n\n   \nnosuch.vt.test\n10.20.30.40\n");
    ASSERT_TRUE(R.Finished);
    EXPECT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
    EXPECT_EQ(Sorted(R.OutLines()), Sorted(kWww + QStringList{"10.1.2.4", "10.20.30.40"}));
    EXPECT_FALSE(R.Out.contains('\r'));
    EXPECT_TRUE(R.Out.endsWith('\n'));
    // Nothing of the output on standard error, nothing of the log on standard output.
    EXPECT_FALSE(R.Err.contains("10.1.2.4"));
    EXPECT_FALSE(R.Out.contains('['));
}

TEST_F(CliRunTest, FileOperandAndDashReadTheSameLines) {
    WriteTestFile(Path("in.txt"), "clean.vt.test\nmail.vt.test");
    const TCliResult FromFile = RunCli(Args({Path("in.txt")}));
    const TCliResult FromDash = RunCli(Args({"-"}), "clean.vt.test\nmail.vt.test");
    EXPECT_EQ(FromFile.ExitCode, 0) << FromFile.ErrText().toStdString();
    EXPECT_EQ(FromFile.OutLines(), QStringList({"10.1.2.4", "192.0.2.10"}));
    EXPECT_EQ(FromDash.OutLines(), FromFile.OutLines());
}

TEST_F(CliRunTest, TemplateReplacesEveryPlaceholderInAnyCase) {
    const TCliResult R = RunCli(Args({"-f", "-A OUTPUT -d %IP% -j REJECT # %Domain% %ip%"}),
                                "clean.vt.test\n10.0.0.0/8\n");
    EXPECT_EQ(R.ExitCode, 0);
    EXPECT_EQ(R.OutLines(), QStringList({"-A OUTPUT -d 10.1.2.4 -j REJECT # clean.vt.test 10.1.2.4",
                                         "-A OUTPUT -d 10.0.0.0/8 -j REJECT # 10.0.0.0/8 10.0.0.0/8"}));
}

TEST_F(CliRunTest, AddressLinesPassThroughUnresolvedAsTheAddressesChecked) {
    const TCliResult R = RunCli(Args({"-v"}), "10.0.0.0/8\n010.001.002.003\n10.1\n10..1\n10.0.0.0/33\n/8\n");
    EXPECT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
    EXPECT_EQ(R.OutLines(), QStringList({"10.0.0.0/8", "8.1.2.3", "10.0.0.1"}));
    EXPECT_FALSE(R.ErrText().contains("Resolving domain")) << R.ErrText().toStdString();
    EXPECT_TRUE(R.ErrText().contains("IP: 8.1.2.3"));
    // An empty part, a prefix over 32 and a leading "/": neither address nor name.
    for (const char* Line : {"10..1", "10.0.0.0/33", "/8"})
        EXPECT_TRUE(R.ErrText().contains(QString("Not an address or domain: %1\n").arg(Line))) << Line;
    EXPECT_TRUE(R.ErrText().contains("Done: 6 lines, 0 domains, 0 not found, 0 lookups failed, 0 blocklist checks "
                                     "failed, 3 lines written, 0 duplicates, 3 skipped.\n"))
        << R.ErrText().toStdString();
}

TEST_F(CliRunTest, DBLSuppressDropsAndOutKeepsListedDomains) {
    const QByteArray In = "listed.vt.test\nclean.vt.test\n";
    const TCliResult Suppress = RunCli(Args({"--dbl", "dbl.vt-bl.test"}), In);
    const TCliResult Out = RunCli(Args({"--dbl", "dbl.vt-bl.test", "--dbl-mode", "out"}), In);
    EXPECT_EQ(Suppress.ExitCode, 0);
    EXPECT_EQ(Suppress.OutLines(), QStringList({"10.1.2.4"}));
    EXPECT_EQ(Out.ExitCode, 0);
    EXPECT_EQ(Out.OutLines(), QStringList({"10.1.2.3"}));
}

TEST_F(CliRunTest, RBLZonesTakeTurnsForOneWorker) {
    // One worker starts at zone index 1: rbl2, rbl1, rbl2, rbl1. rbl1 lists
    // 10.1.2.3 and rbl2 lists 192.0.2.10, so only the turns that meet the
    // listing zone drop an address.
    const TCliResult R = RunCli(Args({"-v", "--rbl", "rbl1.vt-bl.test", "--rbl", "rbl2.vt-bl.test"}),
                                "10.1.2.3\n10.1.2.3\n192.0.2.10\n192.0.2.10\n");
    EXPECT_EQ(R.ExitCode, 0);
    EXPECT_EQ(R.OutLines(), QStringList({"10.1.2.3", "192.0.2.10"}));
    const QString Err = R.ErrText();
    const qsizetype A = Err.indexOf("\"3.2.1.10.rbl2.vt-bl.test\"");
    const qsizetype B = Err.indexOf("\"3.2.1.10.rbl1.vt-bl.test\"");
    const qsizetype C = Err.indexOf("\"10.2.0.192.rbl2.vt-bl.test\"");
    const qsizetype D = Err.indexOf("\"10.2.0.192.rbl1.vt-bl.test\"");
    EXPECT_TRUE(A >= 0 && A < B && B < C && C < D) << Err.toStdString();
}

TEST_F(CliRunTest, RBLOutKeepsOnlyListedAddressesOfResolvedDomains) {
    const TCliResult R = RunCli(Args({"--rbl", "rbl1.vt-bl.test", "--rbl-mode", "out"}),
                                "listed.vt.test\nclean.vt.test\n10.9.8.7\n");
    EXPECT_EQ(R.ExitCode, 0);
    EXPECT_EQ(R.OutLines(), QStringList({"10.1.2.3", "10.9.8.7"}));
}

TEST_F(CliRunTest, KnownLinesArePrintedNoMoreAndNewOnesOnlyOnce) {
    WriteTestFile(Path("known.txt"), "10.0.0.1\r\n10.1.2.4\r\n");
    const TCliResult R =
        RunCli(Args({"--known", Path("known.txt")}), "www.vt.test\nclean.vt.test\nwww.vt.test\n10.0.0.3\n");
    EXPECT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
    EXPECT_EQ(Sorted(R.OutLines()), QStringList({"10.0.0.2", "10.0.0.3"}));
}

TEST_F(CliRunTest, OutputFileWithMarkAndUnixEndings) {
    const TCliResult R = RunCli(Args({"-o", Path("out.txt"), "--bom", "--line-ending", "unix", "-f", "%ip% %domain%"}),
                                "clean.vt.test\n1.2.3.4\n");
    EXPECT_EQ(R.ExitCode, 0);
    EXPECT_TRUE(R.Out.isEmpty());
    EXPECT_EQ(ReadTestFile(Path("out.txt")), QByteArray("\xEF\xBB\xBF" "10.1.2.4 clean.vt.test\n1.2.3.4 1.2.3.4\n"));
}

TEST_F(CliRunTest, OutputFileDefaultsToUnixEndingsWithoutMark) {
    // Linux consumers of the file (nft -f, iptables-restore) reject a CR.
    WriteTestFile(Path("out.txt"), "old content that must go\n");
    const TCliResult R = RunCli(Args({"--output", Path("out.txt")}), "clean.vt.test\n1.2.3.4\n");
    EXPECT_EQ(R.ExitCode, 0);
    EXPECT_EQ(ReadTestFile(Path("out.txt")), QByteArray("10.1.2.4\n1.2.3.4\n"));
    const TCliResult W =
        RunCli(Args({"--output", Path("out.txt"), "--line-ending", "windows"}), "clean.vt.test\n1.2.3.4\n");
    EXPECT_EQ(W.ExitCode, 0);
    EXPECT_EQ(ReadTestFile(Path("out.txt")), QByteArray("10.1.2.4\r\n1.2.3.4\r\n"));
}

TEST_F(CliRunTest, KnownLinesWithOutputFileWriteOnlyTheNewLines) {
    WriteTestFile(Path("known.txt"), "10.1.2.4\n");
    const TCliResult R = RunCli(
        Args({"--known", Path("known.txt"), "-o", Path("new.txt"), "--bom", "--line-ending", "unix"}),
        "clean.vt.test\nmail.vt.test\n");
    EXPECT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
    EXPECT_TRUE(R.Out.isEmpty());
    EXPECT_EQ(ReadTestFile(Path("new.txt")), QByteArray("\xEF\xBB\xBF" "192.0.2.10\n"));
}

TEST_F(CliRunTest, ManyThreadsLoseAndDuplicateNothing) {
    QByteArray In;
    QStringList Expected;
    for (int I = 0; I < 300; ++I) {
        In += QByteArray::number(10) + ".5." + QByteArray::number(I / 256) + "." + QByteArray::number(I % 256) + "\n";
        Expected << QString("10.5.%1.%2").arg(I / 256).arg(I % 256);
        if (I % 30 == 0) {
            In += "clean.vt.test\n";
            Expected << "10.1.2.4";
        }
    }
    const TCliResult R = RunCli(Args({"-t", "16"}), In);
    EXPECT_EQ(R.ExitCode, 0);
    EXPECT_EQ(Sorted(R.OutLines()), Sorted(Expected));
}

TEST_F(CliRunTest, DetailedLogGoesToTheLogFileAndAppends) {
    WriteTestFile(Path("run.log"), "earlier line\n");
    const TCliResult R =
        RunCli(Args({"-v", "-q", "--log-file", Path("run.log"), "--log-append"}), "clean.vt.test\n");
    EXPECT_EQ(R.ExitCode, 0);
    EXPECT_TRUE(R.Err.isEmpty()) << R.ErrText().toStdString();
    const QByteArray Log = ReadTestFile(Path("run.log"));
    EXPECT_TRUE(Log.startsWith("earlier line\n")) << Log.constData();
    EXPECT_TRUE(Log.contains("Resolve Domains Thread Initialized.")) << Log.constData();
    EXPECT_TRUE(Log.contains("IP: 10.1.2.4 (domain: clean.vt.test)")) << Log.constData();
}

TEST_F(CliRunTest, LogLinesCarryDateAndThreadId) {
    const TCliResult R = RunCli(Args({"-v"}), "clean.vt.test\n");
    EXPECT_EQ(R.ExitCode, 0);
    const QRegularExpression Re("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] \\[\\d+\\] "
                                "Resolving domain \"clean.vt.test\"",
                                QRegularExpression::MultilineOption);
    EXPECT_TRUE(Re.match(R.ErrText()).hasMatch()) << R.ErrText().toStdString();
    EXPECT_FALSE(R.Err.contains('\r'));
}

TEST_F(CliRunTest, MissingInputFileEndsTheRunWithStatusOne) {
    const TCliResult R = RunCli(Args({Path("absent.txt")}));
    ASSERT_TRUE(R.Finished);
    EXPECT_EQ(R.ExitCode, 1);
    EXPECT_TRUE(R.Out.isEmpty());
    EXPECT_TRUE(R.ErrText().contains("absent.txt")) << R.ErrText().toStdString();

    // Quiet keeps the log off standard error but still says why.
    const TCliResult Q = RunCli(Args({"-q", Path("absent.txt")}));
    EXPECT_EQ(Q.ExitCode, 1);
    EXPECT_EQ(Q.ErrText().count('\n'), 1);
    EXPECT_TRUE(Q.ErrText().startsWith("veltrask-cli: ")) << Q.ErrText().toStdString();
}

TEST_F(CliRunTest, OutputFileThatCannotBeCreatedEndsWithStatusOne) {
    const TCliResult R = RunCli(Args({"-o", Path("no/such/folder/out.txt")}), "clean.vt.test\n");
    EXPECT_EQ(R.ExitCode, 1);
    EXPECT_TRUE(R.ErrText().contains("out.txt")) << R.ErrText().toStdString();
    const TCliResult K =
        RunCli(Args({"--known", Path("absent-known.txt")}), "clean.vt.test\n");
    EXPECT_EQ(K.ExitCode, 1);
    EXPECT_TRUE(K.Out.isEmpty());
    const TCliResult L = RunCli(Args({"-v", "--log-file", Path("no/such/folder/run.log")}), "clean.vt.test\n");
    EXPECT_EQ(L.ExitCode, 1);
    EXPECT_TRUE(L.ErrText().contains("run.log")) << L.ErrText().toStdString();
    EXPECT_TRUE(L.Out.isEmpty());
}

TEST_F(CliRunTest, OutputFileThatIsTheInputOrKnownFileIsRefusedAndKept) {
    WriteTestFile(Path("list.txt"), "clean.vt.test\n");
    const TCliResult R = RunCli(Args({"-o", Path("list.txt"), Dir.path() + "/./list.txt"}));
    EXPECT_EQ(R.ExitCode, 2);
    EXPECT_EQ(ReadTestFile(Path("list.txt")), QByteArray("clean.vt.test\n"));

    WriteTestFile(Path("hosts.txt"), "10.1.2.4\n");
    const TCliResult K = RunCli(Args({"--known", Path("hosts.txt"), "-o", Path("hosts.txt")}), "mail.vt.test\n");
    EXPECT_EQ(K.ExitCode, 2);
    EXPECT_TRUE(K.ErrText().contains("use >> instead of --output")) << K.ErrText().toStdString();
    EXPECT_EQ(ReadTestFile(Path("hosts.txt")), QByteArray("10.1.2.4\n"));
}

TEST_F(CliRunTest, ProgressLineCountsProcessedLines) {
    const TCliResult R = RunCli(Args({"--progress", "-q"}), "clean.vt.test\n10.0.0.9\nmail.vt.test\n");
    EXPECT_EQ(R.ExitCode, 0);
    const QString Err = R.ErrText();
    ASSERT_TRUE(Err.endsWith('\n'));
    const QString Last = Err.chopped(1).section('\r', -1).trimmed();
    EXPECT_TRUE(QRegularExpression("^3 lines, \\d+\\.\\d lines/s, 0:00:\\d\\d, 0 failed$").match(Last).hasMatch())
        << Err.toStdString();
}

TEST_F(CliRunTest, ServerNameThatCannotBeFoundRefusesTheRun) {
    // Looked up once, before the first query: no lookup goes to the other
    // server either, and the output stays empty.
    const TCliResult R = RunCli({"-s", "nosuch.invalid", "-s", TCliServers::Instance().DnsAddress(), "--pause", "0",
                                 "--timeout", "3000"},
                                "clean.vt.test\n");
    EXPECT_EQ(R.ExitCode, 2);
    EXPECT_TRUE(R.OutLines().isEmpty());
    EXPECT_TRUE(R.ErrText().contains("veltrask-cli: Cannot resolve DNS server: nosuch.invalid\n"))
        << R.ErrText().toStdString();
}
