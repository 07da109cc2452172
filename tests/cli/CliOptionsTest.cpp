#include "CliProcess.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

struct TBadCase {
    QStringList Args;
    int ExitCode;
    QString Message;  // the whole of standard error, less "veltrask-cli: " and the line break
};

} // namespace

// Every refusal comes before any DNS traffic, so no server is needed: the
// DNS server added to cases without their own is a closed port.
TEST(CliOptionsTest, BadCommandLinesAreRefusedWithOneLineNamingTheOption) {
    const QStringList Quick = {"--timeout", "50", "--pause", "0"};
    const QList<TBadCase> Cases = {
        {{"-t", "0"}, 2, "--threads must be 1 to 500"},
        {{"--threads", "501"}, 2, "--threads must be 1 to 500"},
        {{"--threads=abc"}, 2, "--threads must be 1 to 500"},
        {{"-t", ""}, 2, "--threads must be 1 to 500"},
        {{"-t"}, 2, "-t needs a value"},
        {{"--pause", "-1"}, 2, "--pause must be 0 to 60000"},
        {{"--timeout", "0"}, 2, "--timeout must be 1 to 60000"},
        {{"--timeout", "1e3"}, 2, "--timeout must be 1 to 60000"},
        {{"--dbl", "z", "--dbl-mode", "maybe"}, 2, "--dbl-mode must be suppress or out"},
        {{"--rbl-mode", "out"}, 2, "--rbl-mode needs --rbl or --rbl6"},
        {{"--line-ending", "mac", "-o", "x"}, 2, "--line-ending must be windows or unix"},
        {{"--bom"}, 2, "--bom needs --output"},
        {{"--log-file", "x.log"}, 2, "--log-file needs --detailed"},
        {{"-v", "--log-append"}, 2, "--log-append needs --log-file"},
        {{"--bogus"}, 2, "unknown option '--bogus' (see --help)"},
        {{"-vx"}, 2, "unknown option '-x' (see --help)"},
        {{"--quiet=yes"}, 2, "--quiet takes no value"},
        {{"-s", "1.2.3.4:70000"}, 2, "--dns port must be 1 to 65535 (in \"1.2.3.4:70000\")"},
        {{"--dbl", "dbl..vt-bl.test"}, 2, "Bad zone name: dbl..vt-bl.test"},
        {{"--dbl", ".dbl.vt-bl.test"}, 2, "Bad zone name: .dbl.vt-bl.test"},
        {{"--rbl", QString(70, 'r') + ".test"}, 2, "Bad zone name: " + QString(70, 'r') + ".test"},
        {{"--rbl", "rbl.test", "--rbl6", "-rbl6.test"}, 2, "Bad zone name: -rbl6.test"},
        {{"--rbl6", "rbl6_.test"}, 2, "Bad zone name: rbl6_.test"},
        {{"--on-check-failure", "maybe"}, 2, "--on-check-failure must be pass or drop"},
        {{"a.txt", "b.txt"}, 2, "only one input FILE may be given (got \"a.txt\" and \"b.txt\")"},
        // An empty value (an unset shell variable) is a wrong command line,
        // named as it was given.
        {{"-s", "", "-t", "0"}, 2, "-s needs a value that is not empty"},
        {{"--dbl", ""}, 2, "--dbl needs a value that is not empty"},
        {{"--rbl", ""}, 2, "--rbl needs a value that is not empty"},
        {{"--rbl6="}, 2, "--rbl6 needs a value that is not empty"},
        {{"-f", "", "-t", "0"}, 2, "-f needs a value that is not empty"},
        {{"-o", ""}, 2, "-o needs a value that is not empty"},
        {{"--output6", "", "--family", "both"}, 2, "--output6 needs a value that is not empty"},
        {{"--format6", ""}, 2, "--format6 needs a value that is not empty"},
        {{"--known="}, 2, "--known needs a value that is not empty"},
        {{"--state", ""}, 2, "--state needs a value that is not empty"},
        {{"-v", "--log-file", ""}, 2, "--log-file needs a value that is not empty"},
        {{""}, 1, "the input file name is empty"},
    };
    for (const TBadCase& C : Cases) {
        QStringList Args = Quick;
        if (!C.Args.contains("-s"))
            Args << "-s" << "127.0.0.1:9";
        const TCliResult R = RunCli(Args + C.Args, "clean.vt.test\n", 20000);
        const std::string Shown = C.Args.join(' ').toStdString();
        ASSERT_TRUE(R.Finished) << Shown;
        EXPECT_EQ(R.ExitCode, C.ExitCode) << Shown;
        EXPECT_EQ(R.ErrText(), "veltrask-cli: " + C.Message + "\n") << Shown;
        EXPECT_TRUE(R.Out.isEmpty()) << Shown;
    }
}

TEST(CliOptionsTest, ValuesAtTheEdgesOfTheirRangesAreAccepted) {
    // Nothing to resolve: an empty input ends the run at once.
    for (const QStringList& A : QList<QStringList>{{"-t", "500"}, {"-t1"}, {"--threads=1"}, {"--pause", "60000"},
                                                   {"--timeout", "1"}, {"-s", "LOCALHOST:65535"}, {"-vq"}}) {
        const TCliResult R = RunCli(A + QStringList{"--pause", "0", "-q"});
        EXPECT_EQ(R.ExitCode, 0) << A.join(' ').toStdString() << R.ErrText().toStdString();
    }
}

TEST(CliOptionsTest, HelpAndVersionGoToStandardOutput) {
    const TCliResult H = RunCli({"--dns", "x", "-h"});
    EXPECT_EQ(H.ExitCode, 0);
    EXPECT_TRUE(H.Out.startsWith("Usage: veltrask-cli [options] [FILE]\n"));
    EXPECT_TRUE(H.Err.isEmpty());
    const TCliResult V = RunCli({"-V"});
    EXPECT_EQ(V.ExitCode, 0);
    EXPECT_EQ(V.Out, QByteArray("veltrask-cli " VELTRASK_VERSION "\n"));
}

// The README shows the --help text; it must be the text the program prints.
TEST(CliOptionsTest, ReadmeShowsTheCurrentHelpText) {
    QFile F(QStringLiteral(VT_SOURCE_DIR "/README.md"));
    ASSERT_TRUE(F.open(QIODevice::ReadOnly));
    const QString Readme = QString::fromUtf8(F.readAll());
    const qsizetype Section = Readme.indexOf("\n## Command line");
    ASSERT_GE(Section, 0);
    const QString Fence = "```\n";
    const qsizetype Start = Readme.indexOf(Fence + "Usage: veltrask-cli", Section);
    ASSERT_GE(Start, 0) << "no help block in the Command line section";
    const qsizetype End = Readme.indexOf("\n```", Start + Fence.size());
    ASSERT_GT(End, Start);
    const QString Shown = Readme.mid(Start + Fence.size(), End + 1 - Start - Fence.size());
    const TCliResult H = RunCli({"--help"});
    EXPECT_EQ(Shown.toStdString(), H.Out.toStdString());
}
