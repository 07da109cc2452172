// veltrask-cli against servers as they are in the field: answers too big for
// one plain datagram, servers on IPv6, a rate limit for the whole run, and
// server entries that cannot be right.
#include "CliProcess.h"
#include "support/ScriptedDnsServer.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <memory>

namespace {

class CliDnsServersTest : public ::testing::Test {
protected:
    static std::unique_ptr<TLocalDnsServers> Servers;
    static QString StartError;

    static void SetUpTestSuite() {
        if (!TLocalDnsServers::BinariesAvailable())
            return;
        TLocalDnsServers::TOptions O;
        O.ListenIPv6 = true;
        for (int I = 0; I < 45; ++I)
            O.Hosts.append({QString("10.45.0.%1").arg(I + 1), "many45.vt.test"});
        for (int I = 0; I < 120; ++I)
            O.Hosts.append({QString("10.120.0.%1").arg(I + 1), "many120.vt.test"});
        for (int I = 0; I < 30; ++I)
            O.Hosts.append({QString("2001:db8::%1").arg(I + 1, 0, 16), "many6.vt.test"});
        Servers = TLocalDnsServers::StartShared(O, 0, StartError);
    }
    static void TearDownTestSuite() { Servers.reset(); }

    void SetUp() override {
        VT_SKIP_WITHOUT_DNS_SERVERS();
        ASSERT_TRUE(Servers) << StartError.toStdString();
    }
    static QString V4() { return Servers->DnsAddress(); }
    static QString V6() { return QString("[::1]:%1").arg(Servers->DnsPort()); }
};

std::unique_ptr<TLocalDnsServers> CliDnsServersTest::Servers;
QString CliDnsServersTest::StartError;

} // namespace

TEST_F(CliDnsServersTest, BigAnswersComeBackWholeOverEitherFamily) {
    for (const QStringList& Dns : {QStringList{"-s", V4()}, QStringList{"-s", V6()},
                                   QStringList{"-s", V6(), "-s", V4(), "-s", "[0::1]:" + QString::number(Servers->DnsPort())}}) {
        const std::string Shown = Dns.join(' ').toStdString();
        const QStringList Common{"--pause", "0", "--timeout", "2000", "-t", "3", "-v"};
        const TCliResult R = RunCli(Dns + Common, "many45.vt.test\nmany120.vt.test\n", 30000);
        ASSERT_TRUE(R.Finished) << Shown;
        EXPECT_EQ(R.ExitCode, 0) << Shown << R.ErrText().toStdString();
        const QStringList Lines = R.OutLines();
        EXPECT_EQ(Lines.size(), 45 + 120) << Shown;
        EXPECT_EQ(Lines.filter(QRegularExpression("^10\\.45\\.")).size(), 45) << Shown;
        EXPECT_EQ(Lines.filter(QRegularExpression("^10\\.120\\.")).size(), 120) << Shown;
        EXPECT_TRUE(R.ErrText().contains("Done: 2 lines, 2 domains, 0 not found, 0 lookups failed")) << Shown;
        const TCliResult R6 = RunCli(Dns + Common + QStringList{"--family", "ipv6"}, "many6.vt.test\n", 30000);
        EXPECT_EQ(R6.ExitCode, 0) << Shown << R6.ErrText().toStdString();
        EXPECT_EQ(R6.OutLines().filter(QRegularExpression("^2001:db8::")).size(), 30) << Shown;
        // The detailed log tells which lookup went over TCP: the 120 only.
        EXPECT_TRUE(R.ErrText().contains("Truncated reply for \"many120.vt.test\"")) << Shown;
        EXPECT_FALSE(R.ErrText().contains("Truncated reply for \"many45.vt.test\"")) << Shown;
    }
}

TEST_F(CliDnsServersTest, MalformedServersAndLimitsAreRefusedBeforeTheRun) {
    for (const char* Bad : {"[::1", "[::1]:", "[::1]:0", "::1]", "2001:db8:::53", "300.1.1.1", "dns example",
                            "[127.0.0.1]:53", "fe80::1%lo"}) {
        const TCliResult R = RunCli({"-s", Bad, "--pause", "0"}, "many45.vt.test\n", 20000);
        ASSERT_TRUE(R.Finished) << Bad;
        EXPECT_EQ(R.ExitCode, 2) << Bad;
        EXPECT_EQ(R.ErrText(), QString("veltrask-cli: bad DNS server: %1\n").arg(Bad)) << Bad;
        EXPECT_TRUE(R.Out.isEmpty()) << Bad;
    }
    for (const char* Bad : {"-1", "100001", "1e3", ""}) {
        const TCliResult R = RunCli({"-s", V4(), "--max-qps", Bad}, "many45.vt.test\n", 20000);
        EXPECT_EQ(R.ExitCode, 2) << Bad;
        EXPECT_EQ(R.ErrText(), "veltrask-cli: --max-qps must be 0 to 100000\n") << Bad;
    }
    // The help names the new forms and the limit.
    const TCliResult Help = RunCli({"--help"});
    EXPECT_TRUE(Help.Out.contains("--max-qps N")) << Help.Out.toStdString();
    EXPECT_TRUE(Help.Out.contains("[IPv6]:port"));
    EXPECT_TRUE(Help.Out.contains("TCP"));
}

TEST_F(CliDnsServersTest, MaxQpsSpreadsTheRunOverTime) {
    QByteArray In;
    for (int I = 0; I < 30; ++I)
        In += "many45.vt.test\n";
    QElapsedTimer T;
    T.start();
    const TCliResult R = RunCli({"-s", V4(), "--pause", "0", "-t", "8", "--max-qps", "20"}, In, 30000);
    ASSERT_TRUE(R.Finished);
    EXPECT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
    EXPECT_EQ(R.OutLines().size(), 30 * 45);
    // 30 queries at 20 a second: the last one goes out after 1.45 s.
    EXPECT_GE(T.elapsed(), 1400);
}

TEST(CliTcpFallbackTest, ATcpServerThatNeverAnswersIsACountedFailureWithinTheTimeOut) {
    // Truncated UDP replies with part of the records; TCP accepted, never answered.
    using TS = TScriptedDnsServer;
    TS Server(
        [](const QByteArray& Q) -> QList<TS::TDatagram> {
            return {{TS::AnswerOf(Q, {QByteArray::fromHex("0a000001"), QByteArray::fromHex("0a000002")}, 0x0200)}};
        },
        [](const QByteArray&) -> std::optional<QByteArray> { return std::nullopt; });
    ASSERT_TRUE(Server.IsListening());
    QElapsedTimer T;
    T.start();
    const TCliResult R = RunCli({"-s", Server.Address(), "--pause", "0", "--timeout", "700", "--retries", "1", "-v"},
                                "cut.vt.test\n", 20000);
    ASSERT_TRUE(R.Finished);
    // Two attempts of 0.7 s and a backoff of at most 0.1 s between them.
    EXPECT_LT(T.elapsed(), 3000);
    EXPECT_EQ(R.ExitCode, 3) << R.ErrText().toStdString();
    // Nothing of the truncated reply is written.
    EXPECT_TRUE(R.Out.isEmpty()) << R.Out.toStdString();
    EXPECT_TRUE(R.ErrText().contains("Done: 1 lines, 1 domains, 0 not found, 1 lookups failed"))
        << R.ErrText().toStdString();
    EXPECT_EQ(R.ErrText().count("Truncated reply for \"cut.vt.test\""), 2);
    EXPECT_EQ(Server.TcpQueries(), 2);
}
