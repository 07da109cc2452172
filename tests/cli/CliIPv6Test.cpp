// veltrask-cli with --family, --format6 and --output6 against a dnsmasq that
// answers AAAA questions and an rbldnsd with an IPv6 zone.
#include "CliProcess.h"
#include "support/TestFiles.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

class CliIPv6Test : public ::testing::Test {
protected:
    static std::unique_ptr<TLocalDnsServers> Servers;
    static QString StartError;

    static void SetUpTestSuite() {
        if (!TLocalDnsServers::BinariesAvailable())
            return;
        using E = TLocalDnsServers::THostEntry;
        TLocalDnsServers::TOptions O;
        O.Hosts = {E{"10.6.0.1", "dual.vt.test"}, E{"2001:db8::10", "dual.vt.test"},
                   E{"2001:db8::20", "six.vt.test"}, E{"10.6.0.4", "four.vt.test"},
                   E{"10.6.0.7", "bad6.vt.test"}, E{"2001:db8:bad::7", "bad6.vt.test"}};
        O.Zones = {{"rbl6.vt-bl.test", "ip6trie", {"2001:db8:bad::/48"}}};
        Servers = TLocalDnsServers::StartShared(O, 0, StartError);
    }
    static void TearDownTestSuite() { Servers.reset(); }

    void SetUp() override {
        VT_SKIP_WITHOUT_DNS_SERVERS();
        ASSERT_TRUE(Servers) << StartError.toStdString();
        ASSERT_TRUE(Dir.isValid());
    }
    QStringList Args(const QStringList& AMore) const {
        return QStringList{"--dns", Servers->DnsAddress(), "--pause", "0", "--timeout", "1000"} + AMore;
    }
    QString Path(const QString& AName) const { return Dir.filePath(AName); }

    QTemporaryDir Dir;
};

std::unique_ptr<TLocalDnsServers> CliIPv6Test::Servers;
QString CliIPv6Test::StartError;

const QByteArray kInput = "dual.vt.test\nsix.vt.test\nfour.vt.test\n2001:DB8:0::1/64\n10.6.0.0/16\n";

} // namespace

TEST_F(CliIPv6Test, EachFamilyPrintsItsOwnAddresses) {
    const struct {
        QStringList Family;
        QStringList Want;
        const char* Summary;
        int Exit;
    } Cases[] = {
        // The default: no AAAA question, the IPv6 line skipped. six.vt.test
        // has no A record and dnsmasq sends no SOA with that: an answer
        // without records, no failed lookup.
        {{}, {"10.6.0.1", "10.6.0.4", "10.6.0.0/16"},
         "Done: 5 lines, 3 domains, 0 not found, 0 lookups failed, 0 blocklist checks failed, 3 lines written, "
         "0 duplicates, 1 skipped.",
         0},
        {{"--family", "ipv6"}, {"2001:db8::10", "2001:db8::20", "2001:db8::1/64"},
         "Done: 5 lines, 3 domains, 0 not found, 0 lookups failed, 0 blocklist checks failed, 3 lines written, "
         "0 duplicates, 1 skipped.",
         0},
        {{"--family=both"},
         {"10.6.0.1", "2001:db8::10", "2001:db8::20", "10.6.0.4", "2001:db8::1/64", "10.6.0.0/16"},
         "Done: 5 lines, 3 domains, 0 not found, 0 lookups failed, 0 blocklist checks failed, 6 lines written, "
         "0 duplicates, 0 skipped.",
         0},
    };
    for (const auto& C : Cases) {
        const std::string Shown = C.Family.join(' ').toStdString();
        const TCliResult R = RunCli(Args(C.Family), kInput);
        ASSERT_TRUE(R.Finished) << Shown;
        EXPECT_EQ(R.ExitCode, C.Exit) << Shown << R.ErrText().toStdString();
        EXPECT_EQ(Sorted(R.OutLines()), Sorted(C.Want)) << Shown;
        EXPECT_TRUE(R.ErrText().endsWith(QString(C.Summary) + "\n")) << Shown << R.ErrText().toStdString();
    }
}

TEST_F(CliIPv6Test, Ip6tablesRulesFromTheIPv6TemplateAndAnIPv6Blocklist) {
    const TCliResult R = RunCli(Args({"--family", "both", "-f", "-A OUTPUT -d %ip% -j REJECT", "--format6",
                                      "-A OUTPUT -d %ip% -j DROP # %domain%", "--rbl6", "rbl6.vt-bl.test"}),
                                "dual.vt.test\nbad6.vt.test\n2001:db8:bad::/48\n2001:db8:1::/48\n");
    // No IPv4 zone: the IPv4 addresses cannot be checked, so they are not
    // written, and the two checks that could not be made count as failed.
    EXPECT_EQ(R.ExitCode, 3) << R.ErrText().toStdString();
    EXPECT_EQ(Sorted(R.OutLines()), Sorted({"-A OUTPUT -d 2001:db8::10 -j DROP # dual.vt.test",
                                            "-A OUTPUT -d 2001:db8:1::/48 -j DROP # 2001:db8:1::/48"}));
    EXPECT_EQ(R.ErrText().count("No RBL Services for IPv4 addresses: they are not written"), 1)
        << R.ErrText().toStdString();
    EXPECT_TRUE(R.ErrText().contains(" 2 blocklist checks failed, ")) << R.ErrText().toStdString();
}

TEST_F(CliIPv6Test, Output6SeparatesTheFamilies) {
    // Both to files, with the same mark and line break.
    TCliResult R = RunCli(Args({"--family", "both", "-o", Path("v4.txt"), "--output6", Path("v6.txt"), "--bom",
                                "--line-ending", "unix"}),
                          kInput);
    EXPECT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
    EXPECT_TRUE(R.Out.isEmpty());
    EXPECT_EQ(ReadTestFile(Path("v4.txt")), QByteArray("\xEF\xBB\xBF" "10.6.0.1\n10.6.0.4\n10.6.0.0/16\n"));
    EXPECT_EQ(ReadTestFile(Path("v6.txt")), QByteArray("\xEF\xBB\xBF" "2001:db8::10\n2001:db8::20\n2001:db8::1/64\n"));

    // IPv4 lines on standard output, IPv6 lines in a file with the default line break (LF).
    R = RunCli(Args({"--family", "both", "--output6", Path("only6.txt")}), kInput);
    EXPECT_EQ(R.OutLines(), QStringList({"10.6.0.1", "10.6.0.4", "10.6.0.0/16"}));
    EXPECT_EQ(ReadTestFile(Path("only6.txt")), QByteArray("2001:db8::10\n2001:db8::20\n2001:db8::1/64\n"));

    // And the other way round.
    R = RunCli(Args({"--family", "both", "-o", Path("only4.txt"), "--output6", "-"}), kInput);
    EXPECT_EQ(R.OutLines(), QStringList({"2001:db8::10", "2001:db8::20", "2001:db8::1/64"}));
    EXPECT_EQ(ReadTestFile(Path("only4.txt")), QByteArray("10.6.0.1\n10.6.0.4\n10.6.0.0/16\n"));

    // Another name of the --output file is that file: one writer, every line.
    R = RunCli(Args({"--family", "both", "-o", Path("one.txt"), "--output6", Dir.path() + "/./one.txt"}), kInput);
    EXPECT_EQ(Sorted(QString::fromUtf8(ReadTestFile(Path("one.txt"))).split("\n", Qt::SkipEmptyParts)),
              Sorted({"10.6.0.1", "10.6.0.4", "10.6.0.0/16", "2001:db8::10", "2001:db8::20", "2001:db8::1/64"}));
}

TEST_F(CliIPv6Test, IPv6OptionsThatCannotApplyAreRefused) {
    WriteTestFile(Path("in.txt"), kInput);
    WriteTestFile(Path("known.txt"), "");
    const struct {
        QStringList Args;
        int Exit;
        const char* Message;
    } Cases[] = {
        {{"--family", "ipv5"}, 2, "--family must be ipv4, ipv6 or both"},
        {{"--family", "ipv6", "--format6", "%ip%"}, 2, "--format6 needs --format"},
        {{"-f", "%ip%", "--format6", "x %ip%"}, 2, "--format6 needs --family ipv6 or both"},
        {{"--output6", "x.txt"}, 2, "--output6 needs --family ipv6 or both"},
        {{"--family", "both", "-f", "%ip%", "--format6", ""}, 2, "--format6 needs a value that is not empty"},
        {{"--family", "both", "--output6", ""}, 2, "--output6 needs a value that is not empty"},
        {{"--family", "both", "--output6", Path("in.txt"), Path("in.txt")}, 2,
         "%1 is both the input and the IPv6 output file"},
        {{"--family", "both", "--known", Path("known.txt"), "--output6", Path("known.txt")}, 2,
         "%1 is both the IPv6 output file and the file of known lines (to add the new lines to it, use >> "
         "instead of --output6)"},
    };
    for (const auto& C : Cases) {
        const std::string Shown = C.Args.join(' ').toStdString();
        const TCliResult R = RunCli(Args(C.Args), "dual.vt.test\n", 20000);
        ASSERT_TRUE(R.Finished) << Shown;
        EXPECT_EQ(R.ExitCode, C.Exit) << Shown;
        const QString Message = QString(C.Message).contains("%1") ? QString(C.Message).arg(C.Args.at(3))
                                                                  : QString(C.Message);
        EXPECT_EQ(R.ErrText(), "veltrask-cli: " + Message + "\n") << Shown;
        EXPECT_TRUE(R.Out.isEmpty()) << Shown;
    }
    // The input is still there, the known lines untouched.
    EXPECT_EQ(ReadTestFile(Path("in.txt")), kInput);
    EXPECT_EQ(ReadTestFile(Path("known.txt")), QByteArray());
}

TEST_F(CliIPv6Test, AFailingIPv6OutputIsReportedOnceAndEndsTheRun) {
    if (!QFileInfo::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    QByteArray In;
    for (int I = 0; I < 200; ++I)
        In += "2001:db8::" + QByteArray::number(I, 16) + "\n";
    const TCliResult R = RunCli(Args({"--family", "ipv6", "-t", "20", "--output6", "/dev/full"}), In);
    EXPECT_EQ(R.ExitCode, 1);
    EXPECT_EQ(R.ErrText().count("veltrask-cli: "), 1) << R.ErrText().toStdString();
    EXPECT_TRUE(R.ErrText().contains("veltrask-cli: cannot write /dev/full: No space left on device\n"))
        << R.ErrText().toStdString();
}
