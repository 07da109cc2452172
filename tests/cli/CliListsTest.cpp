// Hosts files and filter lists in, unique and aggregated output out.
#include "CliProcess.h"
#include "support/TestFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class CliListsTest : public TCliServersTest {};

} // namespace

TEST_F(CliListsTest, HostsFileAndFilterListGiveTheirNames) {
    WriteTestFile(Path("hosts"), "# Title: test hosts\r\n"
                                 "127.0.0.1 localhost\r\n"
                                 "::1 localhost ip6-localhost ip6-loopback\r\n"
                                 "0.0.0.0 www.vt.test\r\n"
                                 "0.0.0.0 clean.vt.test\tmail.vt.test  # two\r\n"
                                 "0.0.0.0 nosuch.vt.test\r\n"
                                 "0.0.0.0 bad%.vt.test\r\n");
    const TCliResult H = RunCli(Args({"-f", "%ip% %domain%", "-t", "2", Path("hosts")}));
    EXPECT_EQ(H.ExitCode, 0) << H.ErrText().toStdString();
    EXPECT_EQ(Sorted(H.OutLines()), QStringList({"10.0.0.1 www.vt.test", "10.0.0.2 www.vt.test", "10.0.0.3 www.vt.test",
                                                 "10.1.2.4 clean.vt.test", "192.0.2.10 mail.vt.test"}));
    EXPECT_EQ(Summary(H), "Done: 7 lines, 4 domains, 1 not found, 0 lookups failed, 0 blocklist checks failed, "
                          "5 lines written, 0 duplicates, 1 skipped.");

    const TCliResult F = RunCli(Args({"-v", "-f", "%ip% %domain%"}), "[Adblock Plus 2.0]\n"
                                                                      "! Title: test filters\n"
                                                                      "||www.vt.test^\n"
                                                                      "||mail.vt.test^$third-party\n"
                                                                      "@@||clean.vt.test^\n"
                                                                      "vt.test##.banner\n"
                                                                      "https://clean.vt.test/ad.js\n");
    EXPECT_EQ(F.ExitCode, 0) << F.ErrText().toStdString();
    EXPECT_EQ(Sorted(F.OutLines()), QStringList({"10.0.0.1 www.vt.test", "10.0.0.2 www.vt.test", "10.0.0.3 www.vt.test",
                                                 "10.1.2.4 clean.vt.test", "192.0.2.10 mail.vt.test"}));
    // The exception takes back block rules only, not the URL's host.
    EXPECT_FALSE(F.ErrText().contains("@@||clean.vt.test^")) << F.ErrText().toStdString();
    EXPECT_EQ(Summary(F), "Done: 7 lines, 3 domains, 0 not found, 0 lookups failed, 0 blocklist checks failed, "
                          "5 lines written, 0 duplicates, 2 skipped.");
}

TEST_F(CliListsTest, AggregatePrintsTheFewestBlocksSortedAtTheEnd) {
    const QByteArray In = "www.vt.test\nclean.vt.test\n0.0.0.0 listed.vt.test mail.vt.test\n"
                          "10.66.0.5/16\n10.0.0.0\nwww.vt.test\n10.66.1.1\n";
    const TCliResult R = RunCli(Args({"--aggregate", "-t", "3", "-f", "-A OUTPUT -d %IP% -j REJECT"}), In);
    EXPECT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
    EXPECT_EQ(R.OutLines(), QStringList({"-A OUTPUT -d 10.0.0.0/30 -j REJECT", "-A OUTPUT -d 10.1.2.3 -j REJECT",
                                         "-A OUTPUT -d 10.1.2.4 -j REJECT", "-A OUTPUT -d 10.66.0.0/16 -j REJECT",
                                         "-A OUTPUT -d 192.0.2.10 -j REJECT"}));
    EXPECT_TRUE(Summary(R).endsWith(" 5 lines written, 0 duplicates, 0 skipped.")) << R.ErrText().toStdString();

    // Blocks already known are not printed again, and not counted as written.
    WriteTestFile(Path("known.txt"), "10.1.2.3\n10.0.0.1\n");
    const TCliResult K = RunCli(Args({"--aggregate", "--known", Path("known.txt")}), In);
    EXPECT_EQ(K.OutLines(), QStringList({"10.0.0.0/30", "10.1.2.4", "10.66.0.0/16", "192.0.2.10"}));
    EXPECT_TRUE(Summary(K).endsWith(" 4 lines written, 1 duplicates, 0 skipped.")) << K.ErrText().toStdString();
}

TEST_F(CliListsTest, UniquePrintsEachLineOnce) {
    const QByteArray In = "www.vt.test\n0.0.0.0 WWW.vt.test mail.vt.test\nmail.vt.test\n10.0.0.1\n";
    const TCliResult U = RunCli(Args({"--unique", "-f", "%ip%"}), In);
    EXPECT_EQ(U.ExitCode, 0) << U.ErrText().toStdString();
    EXPECT_EQ(Sorted(U.OutLines()), QStringList({"10.0.0.1", "10.0.0.2", "10.0.0.3", "192.0.2.10"}));
    EXPECT_TRUE(Summary(U).endsWith(" 4 lines written, 5 duplicates, 0 skipped.")) << U.ErrText().toStdString();
    // The template decides what a line is: with the domain in it an address
    // line is a line of its own; letter case makes no new line.
    const TCliResult D = RunCli(Args({"--unique", "-f", "%ip% %domain%"}), In);
    EXPECT_EQ(Sorted(D.OutLines()), QStringList({"10.0.0.1 10.0.0.1", "10.0.0.1 www.vt.test", "10.0.0.2 www.vt.test",
                                                 "10.0.0.3 www.vt.test", "192.0.2.10 mail.vt.test"}));
}

TEST_F(CliListsTest, AggregateRefusesATemplateWithTheDomain) {
    for (const char* Format : {"%ip% %domain%", "-A OUTPUT -d %ip% -m comment --comment %DOMAIN%"}) {
        const TCliResult R = RunCli(Args({"--aggregate", "-f", Format}), "www.vt.test\n");
        EXPECT_EQ(R.ExitCode, 2) << Format;
        EXPECT_EQ(R.ErrText(), "veltrask-cli: --aggregate cannot fill %domain%: a merged block has no single domain\n");
        EXPECT_TRUE(R.Out.isEmpty());
    }
}

TEST_F(CliListsTest, AFilterListGivesOnlyWhatItBlocksWhole) {
    const TCliResult R = RunCli(Args({"-v", "-f", "%ip% %domain%"}), "! every class of rule\n"
                                                                      "||www.vt.test^\n"
                                                                      "||mail.vt.test^$3p,important\n"
                                                                      "||clean.vt.test^$domain=site.example\n"
                                                                      "||listed.vt.test^$script\n"
                                                                      "||listed.vt.test^$csp=default-src 'none'\n"
                                                                      "||130.211.$third-party\n"
                                                                      "||www.vt.test^$popup\n"
                                                                      "||vt.\n"
                                                                      "||23.109.82.\n"
                                                                      "||192.0.2.7^\n"
                                                                      "-468x60.\n"
                                                                      "_300x250_\n"
                                                                      "-didomi.js\n"
                                                                      "0.0.0.0 # nothing here\n"
                                                                      "0.0.0.0 clean.vt.test\n");
    EXPECT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
    EXPECT_EQ(Sorted(R.OutLines()),
              Sorted({"10.0.0.1 www.vt.test", "10.0.0.2 www.vt.test", "10.0.0.3 www.vt.test", "192.0.2.10 mail.vt.test",
                      "130.211.0.0/16 130.211.0.0/16", "23.109.82.0/24 23.109.82.0/24", "192.0.2.7 192.0.2.7",
                      "10.1.2.4 clean.vt.test"}));
    for (const char* Skipped : {"||clean.vt.test^$domain=site.example", "||listed.vt.test^$script",
                                "||www.vt.test^$popup"})
        EXPECT_TRUE(R.ErrText().contains(QString("Not a domain: %1\n").arg(Skipped))) << R.ErrText().toStdString();
    EXPECT_TRUE(R.ErrText().contains("Not an address or domain: ||vt.\n"));
    EXPECT_FALSE(R.ErrText().contains("0.0.0.0 0.0.0.0")) << R.ErrText().toStdString();
    EXPECT_EQ(Summary(R), "Done: 16 lines, 3 domains, 0 not found, 0 lookups failed, 0 blocklist checks failed, "
                          "8 lines written, 0 duplicates, 8 skipped.");
}
