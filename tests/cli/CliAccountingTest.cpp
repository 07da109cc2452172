// The command line's account of a run: the summary line, exit status 3 when
// answers are missing, --retries, and the failed count of --progress.
#include "CliProcess.h"
#include "support/LossyUdpRelay.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <memory>

namespace {

quint16 PortOf(const QString& AAddress) { return quint16(AAddress.section(':', -1).toUInt()); }

// The last log line on standard error, without its date and thread id.
QString LastMessage(const TCliResult& R) {
    const QStringList L = R.ErrText().split('\n', Qt::SkipEmptyParts);
    return L.isEmpty() ? QString() : L.last().section("] ", 2);
}

QStringList RelayArgs(const TLossyUdpRelay& ARelay, const QStringList& AMore = {}) {
    return QStringList{"--dns", ARelay.Address(), "--pause", "0", "--timeout", "300"} + AMore;
}

// Loses the first question for each name, answers the rest.
TLossyUdpRelay::TRule LoseFirstAsk() { return TLossyUdpRelay::FailFirstAsk(); }

class CliAccountingTest : public ::testing::Test {
protected:
    void SetUp() override { VT_REQUIRE_CLI_SERVERS(); }
    quint16 DnsPort() const { return PortOf(TCliServers::Instance().DnsAddress()); }
};

} // namespace

TEST_F(CliAccountingTest, LostLookupsGiveStatusThreeAndAreCounted) {
    TLossyUdpRelay Relay(DnsPort(), [](const QString& AName, int) {
        return AName == "clean.vt.test" ? TLossyUdpRelay::raDrop : TLossyUdpRelay::raForward;
    });
    ASSERT_TRUE(Relay.IsListening());
    const QByteArray In = "clean.vt.test\nmail.vt.test\nnosuch.vt.test\n10.0.0.0/8\n";
    const TCliResult R = RunCli(RelayArgs(Relay), In);
    ASSERT_TRUE(R.Finished);
    EXPECT_EQ(R.ExitCode, 3) << R.ErrText().toStdString();
    EXPECT_EQ(Sorted(R.OutLines()), QStringList({"10.0.0.0/8", "192.0.2.10"}));
    // The summary is the log's last line, without -v too.
    EXPECT_EQ(LastMessage(R), "Done: 4 lines, 3 domains, 1 not found, 1 lookups failed, 0 blocklist checks failed, "
                              "2 lines written, 0 duplicates, 0 skipped.")
        << R.ErrText().toStdString();
    EXPECT_EQ(Relay.Dropped(), 1);

    // Quiet keeps the log off standard error; the status still tells, and so
    // does the progress line.
    const TCliResult Q = RunCli(RelayArgs(Relay, {"-q"}), In);
    EXPECT_EQ(Q.ExitCode, 3);
    EXPECT_TRUE(Q.Err.isEmpty()) << Q.ErrText().toStdString();
    const TCliResult P = RunCli(RelayArgs(Relay, {"-q", "--progress"}), In);
    EXPECT_EQ(P.ExitCode, 3);
    const QString Last = P.ErrText().chopped(1).section('\r', -1).section('\n', -1).trimmed();
    EXPECT_TRUE(QRegularExpression("^4 lines, .*, 1 failed$").match(Last).hasMatch()) << P.ErrText().toStdString();
}

TEST_F(CliAccountingTest, RetriesRecoverLostLookupsAndTheStatusIsZero) {
    TLossyUdpRelay Relay(DnsPort(), LoseFirstAsk());
    ASSERT_TRUE(Relay.IsListening());
    const QByteArray In = "clean.vt.test\nmail.vt.test\nwww.vt.test\n";
    const TCliResult R = RunCli(RelayArgs(Relay, {"--retries", "2", "-t", "3"}), In);
    EXPECT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
    EXPECT_EQ(Sorted(R.OutLines()), QStringList({"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.1.2.4", "192.0.2.10"}));
    EXPECT_EQ(Relay.Dropped(), 3);
    EXPECT_EQ(LastMessage(R), "Done: 3 lines, 3 domains, 0 not found, 0 lookups failed, 0 blocklist checks failed, "
                              "5 lines written, 0 duplicates, 0 skipped.");

    // Without them the same losses fail the run.
    Relay.SetRule(LoseFirstAsk());
    const TCliResult Without = RunCli(RelayArgs(Relay, {"-t", "3"}), In);
    EXPECT_EQ(Without.ExitCode, 3);
    EXPECT_TRUE(Without.OutLines().isEmpty());
}

TEST_F(CliAccountingTest, BlocklistRefusalIsNamedAndGivesStatusThree) {
    TLocalDnsServers Servers;
    TLocalDnsServers::TOptions O;
    O.Zones = {{"dbl.vt-bl.test", "dnset",
                {TLocalDnsServers::ValuedEntry("*.vt.test", "127.255.255.254", "Refused")}}};
    ASSERT_TRUE(Servers.Start(O)) << Servers.LastError().toStdString();
    const TCliResult R = RunCli({"--dns", Servers.DnsAddress(), "--pause", "0", "--timeout", "1000", "--dbl",
                                 "dbl.vt-bl.test", "-t", "2"},
                                "clean.vt.test\nmail.vt.test\n");
    EXPECT_EQ(R.ExitCode, 3) << R.ErrText().toStdString();
    // Refused is not listed: both domains pass the suppress mode.
    EXPECT_EQ(Sorted(R.OutLines()), QStringList({"10.1.2.4", "192.0.2.10"}));
    EXPECT_EQ(R.ErrText().count("DBL zone \"dbl.vt-bl.test\" refused the query: 127.255.255.254 (query through a "
                                "public or open resolver)\n"),
              1)
        << R.ErrText().toStdString();
    EXPECT_EQ(LastMessage(R), "Done: 2 lines, 2 domains, 0 not found, 0 lookups failed, 2 blocklist checks failed, "
                              "2 lines written, 0 duplicates, 0 skipped.");
}

TEST_F(CliAccountingTest, UntrustedLinesCannotReachTheRules) {
    const TCliResult R = RunCli(TCliServers::Instance().BaseArgs() + QStringList{"-f", "-A OUTPUT -d %ip% -j REJECT"},
                                ".abc\n. -j ACCEPT\n999.1.1.1\n1.2\n010.001.002.003\n.\n");
    ASSERT_TRUE(R.Finished);
    EXPECT_EQ(R.OutLines(), QStringList({"-A OUTPUT -d 1.0.0.2 -j REJECT", "-A OUTPUT -d 8.1.2.3 -j REJECT"}));
    // 999.1.1.1 is no address; asked as a name, the local server has no answer for it.
    EXPECT_TRUE(LastMessage(R).startsWith("Done: 6 lines, 1 domains, ")) << R.ErrText().toStdString();
    EXPECT_TRUE(LastMessage(R).endsWith(" 2 lines written, 0 duplicates, 3 skipped.")) << R.ErrText().toStdString();
}

TEST_F(CliAccountingTest, RetriesOptionIsCheckedAndDocumented) {
    for (const char* Bad : {"11", "-1", "x", ""}) {
        const TCliResult R = RunCli({"--retries", Bad}, "10.0.0.1\n");
        EXPECT_EQ(R.ExitCode, 2) << Bad;
        EXPECT_TRUE(R.ErrText().contains("--retries must be 0 to 10")) << R.ErrText().toStdString();
    }
    const TCliResult H = RunCli({"--help"});
    EXPECT_EQ(H.ExitCode, 0);
    const QString Help = QString::fromUtf8(H.Out);
    EXPECT_TRUE(Help.contains("--retries N")) << Help.toStdString();
    EXPECT_TRUE(Help.contains("3 the run completed but a lookup or a blocklist check failed")) << Help.toStdString();
    for (const QString& L : Help.split('\n'))
        EXPECT_LE(L.size(), 80) << L.toStdString();
}
