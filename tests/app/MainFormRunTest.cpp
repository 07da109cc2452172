#include "MainFormTestWindow.h"

#include "app/ButtonExUnit.h"
#include "app/ListViewExUnit.h"
#include "engine/uLog.h"
#include "engine/uMainThread.h"
#include "engine/uProgress.h"
#include "resolve/QXUtilsUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>

// Runs of the window against the local dnsmasq (A records of *.vt.test) and
// rbldnsd (dbl.vt-bl.test names; rbl1.vt-bl.test 10.1.2.3 and 10.9.0.0/16;
// rbl2.vt-bl.test 192.0.2.10). Where only the outcome matters the job's
// 200 ms pause per domain is switched off through Utils() to keep them quick.

namespace {

using MainFormRun = TMainFormTest;

template <class TMemoWidget> QStringList Lines(const TMemoWidget* Memo) { return TQXMainForm::MemoLines(Memo); }

} // namespace

TEST_F(MainFormRun, ResolvesTheListIntoTheResultMemoWithCounters) {
    VT_REQUIRE_DNS_SERVERS();
    auto F = NewForm();
    UseLocalDns(*F);
    F->ThreadsEdit->setText(QStringLiteral("2"));
    F->SourceMemo->setPlainText(QStringLiteral("www.vt.test\nclean.vt.test\nnosuch.vt.test\n\n10.5.5.5\n10.6.0.0/16"));
    F->ResultMemo->setPlainText(QStringLiteral("old line"));
    F->AddedMemo->setPlainText(QStringLiteral("kept"));
    EXPECT_EQ(Str(F->SourceListLabel->text()), "List of domains (6):");

    ASSERT_TRUE(F->RunAndWait());
    EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
    // outList: the memo is replaced by this run's lines; the new-records memo is untouched.
    EXPECT_EQ(SortedStrs(Lines(F->ResultMemo)),
              (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.1.2.4", "10.5.5.5", "10.6.0.0/16"}));
    EXPECT_EQ(Str(F->ResultListLabel->text()), "Resolved list (6):");
    EXPECT_EQ(Strs(Lines(F->AddedMemo)), std::vector<std::string>{"kept"});
    EXPECT_EQ(Str(F->AddedCheckBox->text()), "New records (1):");
    // The job got exactly what the window holds.
    EXPECT_EQ(F->Utils()->SourceMode(), srcList);
    EXPECT_EQ(F->Utils()->ResultMode(), outList);
    EXPECT_EQ(F->Utils()->Threads(), 2);
    EXPECT_EQ(F->Utils()->DBLMode(), blNone);
    EXPECT_EQ(F->Utils()->RBLMode(), blNone);
    EXPECT_EQ(F->Utils()->DomainList()->Count(), 5) << "empty lines are not handed to the job";
    // Back to idle.
    EXPECT_TRUE(F->StartButton->isEnabled());
    EXPECT_FALSE(F->BreakButton->isEnabled());
    EXPECT_TRUE(F->CloseButton->isEnabled());
    EXPECT_TRUE(F->SourceMemo->isEnabled());
    // The run saved the settings at its start.
    EXPECT_TRUE(QFileInfo::exists(SettingsFile()));
    EXPECT_TRUE(ReadTestFile(SettingsFile()).contains("Threads=2\r\n"));
}

TEST_F(MainFormRun, TemplateAndBlocklistsFilterTheOutput) {
    VT_REQUIRE_DNS_SERVERS();
    auto F = NewForm();
    F->PauseEdit->setText(QStringLiteral("0"));
    UseLocalDns(*F);
    F->SourceMemo->setPlainText(
        QStringLiteral("www.vt.test\nlisted.vt.test\nclean.vt.test\nmail.vt.test\n10.9.1.1\n10.5.5.5"));
    F->OutFormatCheckBox->setChecked(true);
    F->OutFormatEdit->setText(QStringLiteral("-A OUTPUT -d %ip% -j REJECT # %domain%"));
    F->DBLCheckBox->setChecked(true);
    F->DBLMemo->setPlainText(QStringLiteral("dbl.vt-bl.test"));
    F->RBLCheckBox->setChecked(true);
    F->RBLMemo->setPlainText(QStringLiteral("rbl1.vt-bl.test"));

    ASSERT_TRUE(F->RunAndWait());
    EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
    EXPECT_EQ(F->Utils()->DBLMode(), blSuppress);
    EXPECT_EQ(F->Utils()->RBLMode(), blSuppress);
    // listed.vt.test is on the domain list, 10.9.1.1 on the address list.
    EXPECT_EQ(SortedStrs(Lines(F->ResultMemo)),
              (std::vector<std::string>{
                  "-A OUTPUT -d 10.0.0.1 -j REJECT # www.vt.test", "-A OUTPUT -d 10.0.0.2 -j REJECT # www.vt.test",
                  "-A OUTPUT -d 10.0.0.3 -j REJECT # www.vt.test", "-A OUTPUT -d 10.1.2.4 -j REJECT # clean.vt.test",
                  "-A OUTPUT -d 10.5.5.5 -j REJECT # 10.5.5.5", "-A OUTPUT -d 192.0.2.10 -j REJECT # mail.vt.test"}));

    // "Out blacklisted" keeps only what the lists name; the template is off again.
    F->OutFormatCheckBox->setChecked(false);
    F->DBLCheckBox->setChecked(false);
    F->RBLComboBox->setCurrentIndex(1);
    F->RBLMemo->setPlainText(QStringLiteral("rbl2.vt-bl.test"));
    ASSERT_TRUE(F->RunAndWait());
    EXPECT_EQ(F->Utils()->DBLMode(), blNone);
    EXPECT_EQ(F->Utils()->RBLMode(), blSave);
    EXPECT_EQ(Strs(Lines(F->ResultMemo)), std::vector<std::string>{"192.0.2.10"});
    EXPECT_EQ(Str(F->ResultListLabel->text()), "Resolved list (1):");

    // Domains are kept only when listed; addresses are not domains and pass.
    F->DBLCheckBox->setChecked(true);
    F->DBLComboBox->setCurrentIndex(1);
    F->RBLCheckBox->setChecked(false);
    ASSERT_TRUE(F->RunAndWait());
    EXPECT_EQ(F->Utils()->DBLMode(), blSave);
    EXPECT_EQ(SortedStrs(Lines(F->ResultMemo)), (std::vector<std::string>{"10.1.2.3", "10.5.5.5", "10.9.1.1"}));
}

TEST_F(MainFormRun, NewRecordsAddOnlyWhatIsNotShownYet) {
    VT_REQUIRE_DNS_SERVERS();
    auto F = NewForm();
    F->PauseEdit->setText(QStringLiteral("0"));
    UseLocalDns(*F);
    F->SourceMemo->setPlainText(QStringLiteral("www.vt.test"));
    // Two of the three lines come again (one in other letter case), one does not.
    F->ResultMemo->setPlainText(QStringLiteral("10.0.0.1\n10.0.0.2\nsomething else"));
    F->AddedMemo->setPlainText(QStringLiteral("from an earlier run"));
    F->AddedCheckBox->setChecked(true);

    ASSERT_TRUE(F->RunAndWait());
    EXPECT_EQ(F->Utils()->ResultMode(), outListNew);
    EXPECT_EQ(Strs(Lines(F->ResultMemo)),
              (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "something else", "10.0.0.3"}));
    EXPECT_EQ(Strs(Lines(F->AddedMemo)), std::vector<std::string>{"10.0.0.3"});
    EXPECT_EQ(Str(F->ResultListLabel->text()), "Resolved list (4):");
    EXPECT_EQ(Str(F->AddedCheckBox->text()), "New records (1):");

    // Nothing new the second time: the list stays, the new records are none.
    ASSERT_TRUE(F->RunAndWait());
    EXPECT_EQ(Lines(F->ResultMemo).size(), 4);
    EXPECT_TRUE(Lines(F->AddedMemo).isEmpty());
    EXPECT_EQ(Str(F->AddedCheckBox->text()), "New records (0):");
}

TEST_F(MainFormRun, FileOutputHonoursMarkAndLineEndingsAndLeavesTheMemos) {
    VT_REQUIRE_DNS_SERVERS();
    auto F = NewForm();
    F->PauseEdit->setText(QStringLiteral("0"));
    UseLocalDns(*F);
    // One thread keeps the input order.
    F->SourceMemo->setPlainText(QStringLiteral("10.5.5.5\nclean.vt.test\n10.6.0.0/16"));
    F->ResultMemo->setPlainText(QStringLiteral("result memo"));
    F->AddedMemo->setPlainText(QStringLiteral("added memo"));
    F->ResultPageControl->setCurrentIndex(1);
    const QString Out = TempPath(QStringLiteral("out.txt"));
    F->ResultFileEdit->setText(Out);

    struct TCase {
        int Format, Endings;
        QByteArray Expected;
    } Cases[] = {
        {0, 0, "10.5.5.5\r\n10.1.2.4\r\n10.6.0.0/16\r\n"},
        {1, 0, "\xEF\xBB\xBF" "10.5.5.5\r\n10.1.2.4\r\n10.6.0.0/16\r\n"},
        {0, 1, "10.5.5.5\n10.1.2.4\n10.6.0.0/16\n"},
        {1, 1, "\xEF\xBB\xBF" "10.5.5.5\n10.1.2.4\n10.6.0.0/16\n"},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Format * 10 + C.Endings);
        F->OutFileFormatComboBox->setCurrentIndex(C.Format);
        F->OutFileEndingsComboBox->setCurrentIndex(C.Endings);
        ASSERT_TRUE(F->RunAndWait());
        EXPECT_EQ(F->Utils()->ResultMode(), outFile);
        EXPECT_EQ(ReadTestFile(Out), C.Expected);
        EXPECT_EQ(Strs(Lines(F->ResultMemo)), std::vector<std::string>{"result memo"});
        EXPECT_EQ(Strs(Lines(F->AddedMemo)), std::vector<std::string>{"added memo"});
    }
    EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
}

TEST_F(MainFormRun, RunsThatCannotOpenTheirFilesStillEndAndGiveTheControlsBack) {
    VT_REQUIRE_DNS_SERVERS();
    auto F = NewForm();
    UseLocalDns(*F);
    // A domain file that does not exist: the run starts and ends at its initialization.
    F->SourcePageControl->setCurrentIndex(1);
    F->SourceFileEdit->setText(TempPath(QStringLiteral("missing.txt")));
    ASSERT_TRUE(F->RunAndWait());
    EXPECT_TRUE(F->StartButton->isEnabled());
    EXPECT_TRUE(F->SourceFileEdit->isEnabled());
    EXPECT_TRUE(F->Boxes.isEmpty()) << "the window does not check the file itself";

    // An output file in a folder that does not exist.
    const QString Src = TempPath(QStringLiteral("src.txt"));
    WriteTestFile(Src, "10.5.5.5\r\n");
    F->SourceFileEdit->setText(Src);
    F->ResultMemo->setPlainText(QStringLiteral("result memo"));
    F->ResultPageControl->setCurrentIndex(1);
    F->ResultFileEdit->setText(TempPath(QStringLiteral("no/such/folder/out.txt")));
    ASSERT_TRUE(F->RunAndWait());
    EXPECT_TRUE(F->StartButton->isEnabled());
    EXPECT_TRUE(F->ResultFileEdit->isEnabled());
    EXPECT_EQ(Strs(Lines(F->ResultMemo)), std::vector<std::string>{"result memo"});

    // Back on the list the same window runs normally again.
    F->ResultPageControl->setCurrentIndex(0);
    ASSERT_TRUE(F->RunAndWait());
    EXPECT_EQ(Strs(Lines(F->ResultMemo)), std::vector<std::string>{"10.5.5.5"});
}

TEST_F(MainFormRun, ControlsAreLockedExactlyWhileRunning) {
    VT_REQUIRE_DNS_SERVERS();
    auto F = NewForm();
    UseLocalDns(*F);
    // With the 200 ms pause the run cannot be over before the checks below;
    // it cannot end anyway before this thread serves its hand-off.
    F->SourceMemo->setPlainText(QStringLiteral("www.vt.test\nclean.vt.test"));
    QWidget* const Locked[] = {
        F->SourceMemo, F->SourceLoadButton, F->SourceClearButton, F->SourceFileEdit, F->SourceBrowseButton,
        F->SourceExploreButton, F->DBLCheckBox, F->DBLComboBox, F->DBLMemo, F->RBLCheckBox, F->RBLComboBox,
        F->RBLMemo, F->DNSMemo, F->OutFormatCheckBox, F->OutFormatEdit, F->ResultMemo, F->ResultSaveButton,
        F->ResultDelimiterComboBox, F->ResultClearButton, F->AddedCheckBox, F->AddedMemo, F->AddedSaveButton,
        F->AddedDelimiterComboBox, F->AddedClearButton, F->ResultFileEdit, F->ResultBrowseButton,
        F->ResultExploreButton, F->OutFileFormatComboBox, F->OutFileEndingsComboBox, F->SourcePageControl,
        F->ResultPageControl, F->ThreadsEdit, F->RetriesEdit, F->PauseEdit, F->TimeoutEdit, F->MaxQPSEdit,
        F->CloseButton};
    QWidget* const Free[] = {F->PageControl1,        F->LogPageControl, F->LogMemo,
                             F->ThreadsListView,     F->DetailedLogCheckBox, F->LogFileCheckBox,
                             F->LogFileEdit,         F->LogFileBrowseButton};
    F->LogMemo->setPlainText(QStringLiteral("log of an earlier run"));

    F->StartButton->click();
    ASSERT_TRUE(F->Running());
    for (QWidget* W : Locked)
        EXPECT_FALSE(W->isEnabled()) << Str(W->objectName());
    for (QWidget* W : Free)
        EXPECT_TRUE(W->isEnabled()) << Str(W->objectName());
    EXPECT_FALSE(F->StartButton->isEnabled());
    EXPECT_TRUE(F->BreakButton->isEnabled());
    EXPECT_TRUE(F->LogMemo->toPlainText().isEmpty()) << "the log is cleared at the start";

    ASSERT_TRUE(F->WaitEnd());
    for (QWidget* W : Locked)
        EXPECT_TRUE(W->isEnabled()) << Str(W->objectName());
    EXPECT_TRUE(F->StartButton->isEnabled());
    EXPECT_FALSE(F->BreakButton->isEnabled());
}

TEST_F(MainFormRun, BreakStopsFiftyThreadsEarly) {
    VT_REQUIRE_DNS_SERVERS();
    auto F = NewForm();
    UseLocalDns(*F);
    // 50 threads with the window's 200 ms pause would need about 4 s for 1000 domains.
    QStringList Domains;
    for (int i = 0; i < 1000; ++i)
        Domains << QStringLiteral("host%1.vt.test").arg(i) << QStringLiteral("clean.vt.test");
    F->SourceMemo->setPlainText(Domains.join('\n'));
    F->ThreadsEdit->setText(QStringLiteral("50"));

    F->StartButton->click();
    ASSERT_TRUE(F->Running());
    // Break once the workers are at it.
    ASSERT_TRUE(WaitServing([&] { return F->GetLog()->ActiveThreads() >= 50; }, 10000));
    QElapsedTimer T;
    T.start();
    F->BreakButton->click();
    EXPECT_FALSE(F->BreakButton->isEnabled());
    ASSERT_TRUE(F->WaitEnd(15000));
    EXPECT_LT(T.elapsed(), 3000) << "the workers stop at their next check";
    EXPECT_EQ(F->GetLog()->ActiveThreads(), 0);
    EXPECT_TRUE(F->Progress()->Terminated());
    EXPECT_TRUE(F->StartButton->isEnabled());
    EXPECT_TRUE(F->CloseButton->isEnabled());
    const int Got = Lines(F->ResultMemo).size();
    EXPECT_LT(Got, 1000) << "the run was broken off";
    EXPECT_TRUE(F->Boxes.isEmpty());

    // And the next run is whole.
    F->PauseEdit->setText(QStringLiteral("0"));
    F->ThreadsEdit->setText(QStringLiteral("5"));
    F->SourceMemo->setPlainText(QStringLiteral("www.vt.test"));
    ASSERT_TRUE(F->RunAndWait());
    EXPECT_EQ(Lines(F->ResultMemo).size(), 3);
}

TEST_F(MainFormRun, ClosingDuringARunBreaksItClosesOnceItHasEndedAndSavesTheSettings) {
    VT_REQUIRE_DNS_SERVERS();
    auto F = NewForm();
    UseLocalDns(*F);
    QStringList Domains;
    for (int i = 0; i < 200; ++i)
        Domains << QStringLiteral("www.vt.test");
    F->SourceMemo->setPlainText(Domains.join('\n'));
    F->ThreadsEdit->setText(QStringLiteral("20"));
    // Shown, so that closing it can be seen; the fixture keeps the test
    // program's event loops running when it goes.
    F->show();
    const QString Caption = F->windowTitle();

    F->StartButton->click();
    ASSERT_TRUE(WaitServing([&] { return F->GetLog()->ActiveThreads() >= 20; }, 10000));
    // The log controls stay usable during a run; what is changed now is saved at the end.
    F->LogFileEdit->setText(QStringLiteral("/tmp/changed-during-run.log"));
    QElapsedTimer T;
    T.start();
    // The close does not wait for the run: it is remembered, and the run is broken.
    EXPECT_FALSE(F->close());
    EXPECT_LT(T.elapsed(), 1000);
    EXPECT_TRUE(F->isVisible());
    EXPECT_TRUE(F->ClosePending());
    EXPECT_TRUE(F->Progress()->Terminated());
    EXPECT_EQ(Str(F->windowTitle()), Str(Caption + " - Stopping..."));
    // Closing again changes nothing.
    EXPECT_FALSE(F->close());
    ASSERT_TRUE(WaitServing([&] { return !F->isVisible(); }, 10000));
    EXPECT_FALSE(F->Running());
    EXPECT_EQ(F->Utils()->LiveThreads(), 0);
    EXPECT_EQ(F->GetLog()->ActiveThreads(), 0);
    EXPECT_EQ(Str(F->windowTitle()), Str(Caption));
    EXPECT_FALSE(F->ClosePending());
    const QStringList Results = Lines(F->ResultMemo);
    F.reset();
    const QByteArray Ini = ReadTestFile(SettingsFile());
    EXPECT_TRUE(Ini.contains("LogFileName=/tmp/changed-during-run.log\r\n")) << Ini.toStdString();
    EXPECT_TRUE(Ini.contains("Threads=20\r\n"));
    EXPECT_TRUE(QFileInfo::exists(SettingsDir() + QStringLiteral("/srclist.txt")));
    const QString OutList = QString::fromLatin1(ReadTestFile(SettingsDir() + QStringLiteral("/outlist.txt")));
    EXPECT_EQ(Strs(OutList.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)), Strs(Results));
}

TEST_F(MainFormRun, DestroyingTheWindowDuringARunIsSafe) {
    VT_REQUIRE_DNS_SERVERS();
    auto F = NewForm();
    UseLocalDns(*F);
    QStringList Domains;
    for (int i = 0; i < 100; ++i)
        Domains << QStringLiteral("clean.vt.test");
    F->SourceMemo->setPlainText(Domains.join('\n'));
    F->ThreadsEdit->setText(QStringLiteral("10"));
    F->StartButton->click();
    ASSERT_TRUE(WaitServing([&] { return F->GetLog()->ActiveThreads() >= 10; }, 10000));
    F.reset();
    EXPECT_TRUE(ReadTestFile(SettingsFile()).contains("Threads=10\r\n"));
}

TEST_F(MainFormRun, DetailedLogGoesToTheLogFile) {
    VT_REQUIRE_DNS_SERVERS();
    auto F = NewForm();
    F->PauseEdit->setText(QStringLiteral("0"));
    UseLocalDns(*F);
    const QString LogFile = TempPath(QStringLiteral("run.log"));
    F->LogFileCheckBox->setChecked(true);
    F->LogFileEdit->setText(LogFile);
    F->DetailedLogCheckBox->click();
    ASSERT_TRUE(F->Utils()->DetailedLog());
    F->SourceMemo->setPlainText(QStringLiteral("clean.vt.test"));
    ASSERT_TRUE(F->RunAndWait());
    // Switching it off closes the file with everything in it.
    F->DetailedLogCheckBox->click();
    ASSERT_FALSE(F->Utils()->DetailedLog());
    const QString Text = QString::fromUtf8(ReadTestFile(LogFile));
    EXPECT_TRUE(Text.contains(QStringLiteral("Resolving domain \"clean.vt.test\""))) << Str(Text);
    EXPECT_TRUE(Text.contains(QStringLiteral("IP: 10.1.2.4 (domain: clean.vt.test)"))) << Str(Text);
}

TEST_F(MainFormRun, AnOutputFileThatCannotBeCompletedIsReportedAndTheWindowComesBack) {
    VT_REQUIRE_DNS_SERVERS();
    if (!QFileInfo(QStringLiteral("/dev/full")).isWritable())
        GTEST_SKIP() << "no /dev/full";
    auto F = NewForm();
    F->PauseEdit->setText(QStringLiteral("0"));
    UseLocalDns(*F);
    F->SourceMemo->setPlainText(QStringLiteral("10.5.5.5\n10.6.6.6"));
    F->ResultPageControl->setCurrentIndex(1);
    // Opens fine; the lines cannot be flushed when the run closes its file.
    F->ResultFileEdit->setText(QStringLiteral("/dev/full"));
    ASSERT_TRUE(F->RunAndWait());
    EXPECT_TRUE(F->StartButton->isEnabled());
    EXPECT_TRUE(F->CloseButton->isEnabled());
    EXPECT_TRUE(F->ResultFileEdit->isEnabled());
    // The status names it, as it names every other run error; no box.
    EXPECT_TRUE(F->StatusLabel->text().startsWith(QStringLiteral("Failed: "))) << Str(F->StatusLabel->text());
    EXPECT_TRUE(F->StatusLabel->text().contains(QStringLiteral("/dev/full"))) << Str(F->StatusLabel->text());
    QCoreApplication::processEvents();
    EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
}
