// What veltrask-cli keeps out of a rule set: special addresses and wide
// blocks (unless --allow-special), items whose check failed (with
// --on-check-failure drop), block rules a filter list takes back.
#include "CliProcess.h"
#include "support/TestFiles.h"

#include <QDateTime>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class CliNeverBlockedTest : public TCliServersTest {};

} // namespace

TEST_F(CliNeverBlockedTest, SpecialAddressesAndWideBlocksAreKeptOnlyWhenAllowed) {
    // Address lines only: the second server (whose address is special) is never asked.
    const QByteArray In = "127.0.0.1\n0x7f.1\n0.0.0.0/0\n192.0.2.99\n10.1.2.4\n";
    const QStringList Base = Args({"-s", "192.0.2.99", "-f", "%ip%"});
    const TCliResult Plain = RunCli(Base, In);
    EXPECT_EQ(Plain.ExitCode, 0) << Plain.ErrText().toStdString();
    EXPECT_EQ(Plain.OutLines(), QStringList({"10.1.2.4"}));
    EXPECT_EQ(Plain.ErrText().count("Special address not written: 127.0.0.1\n"), 1) << Plain.ErrText().toStdString();
    EXPECT_TRUE(Plain.ErrText().contains("Special address not written: 192.0.2.99\n"));
    EXPECT_TRUE(Plain.ErrText().contains("Address block too wide: 0.0.0.0/0\n"));
    EXPECT_TRUE(Summary(Plain).endsWith(" 1 lines written, 0 duplicates, 4 skipped.")) << Plain.ErrText().toStdString();

    const TCliResult Allowed = RunCli(Base + QStringList{"--allow-special"}, In);
    EXPECT_EQ(Allowed.ExitCode, 0) << Allowed.ErrText().toStdString();
    EXPECT_EQ(Allowed.OutLines(), QStringList({"127.0.0.1", "127.0.0.1", "0.0.0.0/0", "192.0.2.99", "10.1.2.4"}));

    // An address a saved state holds goes through the same test.
    const QString State = Path("state");
    const QByteArray Now = QByteArray::number(QDateTime::currentSecsSinceEpoch());
    // The name is still listed (so its addresses stay), but no longer found.
    WriteTestFile(State, "# veltrask state 1\n127.0.0.1\tnosuch.vt.test\t" + Now + "\n10.9.9.9\tnosuch.vt.test\t" +
                             Now + "\n");
    const TCliResult Saved = RunCli(Args({"--state", State}), "10.1.2.4\nnosuch.vt.test\n");
    EXPECT_EQ(Saved.ExitCode, 0) << Saved.ErrText().toStdString();
    EXPECT_EQ(Sorted(Saved.OutLines()), QStringList({"10.1.2.4", "10.9.9.9"}));
}

// A zone rbldnsd does not serve is refused: every check of it fails.
TEST_F(CliNeverBlockedTest, AnItemWhoseCheckFailedIsDroppedOnlyWhenAsked) {
    const struct {
        QStringList Check;
        QByteArray In;
        QString Line;
    } Cases[] = {
        {{"--rbl", "gone.vt-bl.test"}, "10.1.2.4\n", "10.1.2.4"},
        {{"--dbl", "gone.vt-bl.test"}, "clean.vt.test\n", "10.1.2.4"},
        {{"--rbl", "gone.vt-bl.test", "--rbl-mode", "out"}, "10.1.2.3\n", ""},
    };
    for (const auto& C : Cases)
        for (const char* Action : {"pass", "drop"}) {
            const TCliResult R = RunCli(Args(C.Check + QStringList{"--on-check-failure", Action}), C.In);
            const std::string Shown = (C.Check.join(' ') + " " + Action).toStdString();
            EXPECT_EQ(R.ExitCode, 3) << Shown << R.ErrText().toStdString();
            const bool Written = QLatin1String(Action) == QLatin1String("pass") && !C.Line.isEmpty();
            EXPECT_EQ(R.OutLines(), Written ? QStringList{C.Line} : QStringList()) << Shown;
        }
}

// A regular file's exceptions apply to the rules before them; a stream's
// only to those after.
TEST_F(CliNeverBlockedTest, ExceptionsOfAFileApplyEverywhereOfAStreamFromWhereTheyStand) {
    const QByteArray Rules = "||mail.vt.test^\n@@||mail.vt.test^\n||clean.vt.test^\n||clean.vt.test^$badfilter\n"
                             "||www.vt.test^\n||mail.vt.test^\n";
    WriteTestFile(Path("rules.txt"), Rules);
    const TCliResult File = RunCli(Args({"-f", "%ip% %domain%", Path("rules.txt")}));
    EXPECT_EQ(File.ExitCode, 0) << File.ErrText().toStdString();
    EXPECT_EQ(Sorted(File.OutLines()), QStringList({"10.0.0.1 www.vt.test", "10.0.0.2 www.vt.test",
                                                     "10.0.0.3 www.vt.test"}));
    EXPECT_TRUE(Summary(File).endsWith(" 3 lines written, 0 duplicates, 3 skipped.")) << File.ErrText().toStdString();
    const TCliResult Stream = RunCli(Args({"-f", "%ip% %domain%"}), Rules);
    EXPECT_EQ(Stream.ExitCode, 0) << Stream.ErrText().toStdString();
    EXPECT_EQ(Sorted(Stream.OutLines()), QStringList({"10.0.0.1 www.vt.test", "10.0.0.2 www.vt.test",
                                                       "10.0.0.3 www.vt.test", "10.1.2.4 clean.vt.test",
                                                       "192.0.2.10 mail.vt.test"}));
}
