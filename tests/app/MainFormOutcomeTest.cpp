#include "MainFormTestWindow.h"

#include "app/ButtonExUnit.h"
#include "app/uRunOutcome.h"
#include "engine/uLog.h"
#include "engine/uMainThread.h"
#include "engine/uProgress.h"
#include "resolve/QXUtilsUnit.h"
#include "support/FakeUdpServer.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>

// What the window says when a run ends, and that no step of starting or
// ending a run takes the window down. Runs against the local dnsmasq
// (*.vt.test) and, for a server that never answers, a silent UDP socket.

namespace {

using MainFormOutcome = TMainFormTest;

template <class TMemoWidget> QStringList Lines(const TMemoWidget* Memo) { return TQXMainForm::MemoLines(Memo); }

QString Status(const TTestMainForm& F) { return F.StatusLabel->text(); }

} // namespace

TEST(RunOutcomeText, SaysCompletedOnlyWhenEverythingWasAnswered) {
    TQXRunCounters C;
    C.Lines = 10;
    C.NotFound = 3; // an answer too
    EXPECT_EQ(RunOutcome(C, false, QString()).Status, QStringLiteral("Completed."));
    EXPECT_EQ(RunOutcome(C, false, QString()).Kind, rokCompleted);

    C.LookupsFailed = 1218;
    C.Unanswered = 1218;
    TRunOutcome R = RunOutcome(C, false, QString());
    EXPECT_EQ(R.Kind, rokIncomplete);
    EXPECT_EQ(R.Status, QStringLiteral("Completed: 1218 lookups failed (raise Retries on the DNS page)"));
    C.LookupsFailed = 1;
    C.BLChecksFailed = 2;
    C.Unanswered = 3;
    EXPECT_EQ(RunOutcome(C, false, QString()).Status,
              QStringLiteral("Completed: 1 lookup, 2 blocklist checks failed (raise Retries on the DNS page)"));
    C.LookupsFailed = 0;
    C.BLChecksFailed = 1;
    C.Unanswered = 1;
    EXPECT_EQ(RunOutcome(C, false, QString()).Status,
              QStringLiteral("Completed: 1 blocklist check failed (raise Retries on the DNS page)"));

    // Break outweighs the counts, an error outweighs Break.
    EXPECT_EQ(RunOutcome(C, true, QString()).Status, QStringLiteral("Broken off."));
    EXPECT_EQ(RunOutcome(C, true, QString()).Kind, rokBroken);
    R = RunOutcome(C, true, QStringLiteral("Cannot create file \"/x/out.txt\". No such file or directory"));
    EXPECT_EQ(R.Kind, rokFailed);
    EXPECT_EQ(R.Status, QStringLiteral("Failed: Cannot create file \"/x/out.txt\". No such file or directory"));
}

TEST_F(MainFormOutcome, AnsweredRunSaysCompletedWithTheSummaryAtHand) {
    VT_REQUIRE_DNS_SERVERS();
    auto F = NewForm();
    UseLocalDns(*F);
    F->PauseEdit->setText(QStringLiteral("0"));
    F->SourceMemo->setPlainText(QStringLiteral("www.vt.test\nnosuch.vt.test\n10.5.5.5"));
    ASSERT_TRUE(F->RunAndWait());
    EXPECT_EQ(Str(Status(*F)), "Completed.");
    EXPECT_FALSE(F->RunWarned());
    EXPECT_FALSE(F->StatusIconLabel->isVisible());
    // The tooltip holds the whole status, which the row may show elided.
    EXPECT_EQ(Str(F->StatusLabel->toolTip()), "Completed.");
    EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
}

TEST_F(MainFormOutcome, ASilentServerIsCountedWhileTheRunGoesOnAndNamedAtItsEnd) {
    TFakeUdpServer Silent([](const QByteArray&) { return std::optional<QByteArray>(); });
    ASSERT_TRUE(Silent.IsListening());
    auto F = NewForm();
    F->DNSMemo->setPlainText(Silent.Address());
    F->PauseEdit->setText(QStringLiteral("0"));
    F->TimeoutEdit->setText(QStringLiteral("700"));
    F->ThreadsEdit->setText(QStringLiteral("2"));
    QStringList Domains;
    for (int i = 0; i < 8; ++i)
        Domains << QStringLiteral("silent%1.vt.test").arg(i);
    F->SourceMemo->setPlainText(Domains.join('\n'));

    F->StartButton->click();
    ASSERT_TRUE(F->Running());
    // Both workers hold a line and wait for their answer: nothing is done yet.
    ASSERT_TRUE(WaitServing([&] { return Silent.QueryCount() >= 2; }, 5000));
    if (F->Utils()->RunCounters().LookupsFailed == 0) {
        EXPECT_EQ(F->Progress()->Position(), 0) << "lines taken are not lines done";
        EXPECT_EQ(F->Progress()->Processed(), 0);
    }
    // The failures show in the progress row before the run ends.
    bool SeenDuringRun = false;
    WaitServing([&] {
        SeenDuringRun = SeenDuringRun || (F->Running() && F->ProcessedLabel->text().contains(QStringLiteral(" failed")));
        return SeenDuringRun || !F->Running();
    }, 15000);
    EXPECT_TRUE(SeenDuringRun) << Str(F->ProcessedLabel->text());
    ASSERT_TRUE(F->WaitEnd());
    EXPECT_EQ(Str(Status(*F)), "Completed: 8 lookups failed (raise Retries on the DNS page)");
    EXPECT_TRUE(F->RunWarned());
    EXPECT_TRUE(F->StatusIconLabel->isVisibleTo(F.get()));
    EXPECT_FALSE(F->StatusIconLabel->pixmap().isNull());
    EXPECT_EQ(F->StatusLabel->toolTip(), Status(*F));
    EXPECT_TRUE(F->ProcessedLabel->text().startsWith(QStringLiteral("8 lines, "))) << Str(F->ProcessedLabel->text());
    EXPECT_TRUE(F->ProcessedLabel->text().endsWith(QStringLiteral(", 8 failed"))) << Str(F->ProcessedLabel->text());
    EXPECT_EQ(F->Progress()->Position(), 8);
}

TEST_F(MainFormOutcome, BreakSaysBrokenOffAsSoonAsResolveIsBack) {
    VT_REQUIRE_DNS_SERVERS();
    auto F = NewForm();
    UseLocalDns(*F);
    QStringList Domains;
    for (int i = 0; i < 400; ++i)
        Domains << QStringLiteral("host%1.vt.test").arg(i);
    F->SourceMemo->setPlainText(Domains.join('\n'));
    F->ThreadsEdit->setText(QStringLiteral("5"));
    F->StartButton->click();
    ASSERT_TRUE(F->Running());
    ASSERT_TRUE(WaitServing([&] { return F->Progress()->Processed() >= 5; }, 10000));
    F->BreakButton->click();
    EXPECT_EQ(Str(Status(*F)), "Stopping...");
    EXPECT_FALSE(F->StartButton->isEnabled());
    // Resolve comes back only with the run's last word, never beside "Stopping...".
    bool StartWhileStopping = false;
    WaitServing([&] {
        StartWhileStopping = StartWhileStopping || (F->StartButton->isEnabled() && Status(*F) == QLatin1String("Stopping..."));
        return !F->Running();
    }, 15000);
    EXPECT_FALSE(StartWhileStopping);
    ASSERT_TRUE(F->WaitEnd());
    EXPECT_TRUE(F->StartButton->isEnabled());
    EXPECT_EQ(Str(Status(*F)), "Broken off.");
    EXPECT_TRUE(F->RunWarned());
    EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
}

TEST_F(MainFormOutcome, RunsThatCannotOpenOrCloseTheirFilesSayFailedWithTheReason) {
    VT_REQUIRE_DNS_SERVERS();
    auto F = NewForm();
    UseLocalDns(*F);
    F->PauseEdit->setText(QStringLiteral("0"));
    // A domain file that is not there.
    F->SourcePageControl->setCurrentIndex(1);
    F->SourceFileEdit->setText(TempPath(QStringLiteral("missing.txt")));
    ASSERT_TRUE(F->RunAndWait());
    EXPECT_TRUE(Status(*F).startsWith(QStringLiteral("Failed: "))) << Str(Status(*F));
    EXPECT_TRUE(Status(*F).contains(QStringLiteral("missing.txt"))) << Str(Status(*F));
    EXPECT_TRUE(F->RunWarned());
    EXPECT_TRUE(F->StatusIconLabel->isVisibleTo(F.get()));

    // An output file that cannot be created.
    const QString Src = TempPath(QStringLiteral("src.txt"));
    WriteTestFile(Src, "10.5.5.5\r\n");
    F->SourceFileEdit->setText(Src);
    F->ResultPageControl->setCurrentIndex(1);
    F->ResultFileEdit->setText(TempPath(QStringLiteral("no/such/folder/out.txt")));
    ASSERT_TRUE(F->RunAndWait());
    EXPECT_TRUE(Status(*F).startsWith(QStringLiteral("Failed: "))) << Str(Status(*F));
    EXPECT_TRUE(Status(*F).contains(QStringLiteral("out.txt"))) << Str(Status(*F));

    // An output file that opens but cannot take the lines: closing it fails,
    // and the idle window must not go on saying "Resolving...".
    if (QFileInfo(QStringLiteral("/dev/full")).isWritable()) {
        F->ResultFileEdit->setText(QStringLiteral("/dev/full"));
        ASSERT_TRUE(F->RunAndWait());
        EXPECT_TRUE(Status(*F).startsWith(QStringLiteral("Failed: "))) << Str(Status(*F));
        EXPECT_EQ(F->Progress()->Status(), Status(*F));
        // The status is where the reason goes, for this error as for the others.
        QCoreApplication::processEvents();
        EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
    }

    // The same window then completes a run that can.
    F->Boxes.clear();
    F->ResultPageControl->setCurrentIndex(0);
    ASSERT_TRUE(F->RunAndWait());
    EXPECT_EQ(Str(Status(*F)), "Completed.");
    EXPECT_FALSE(F->StatusIconLabel->isVisibleTo(F.get()));
    EXPECT_EQ(Strs(Lines(F->ResultMemo)), std::vector<std::string>{"10.5.5.5"});
}

TEST_F(MainFormOutcome, ALogFileThatCannotBeEmptiedOrWrittenLeavesTheWindowGoingOn) {
    VT_REQUIRE_DNS_SERVERS();
    // /dev/null takes the lines and is never truncated; /dev/full takes none,
    // which the log keeps for the window instead of raising in a worker.
    for (const char* LogFile : {"/dev/null", "/dev/full"}) {
        SCOPED_TRACE(LogFile);
        if (!QFileInfo(QLatin1String(LogFile)).isWritable())
            continue;
        const bool Writable = QLatin1String(LogFile) == QLatin1String("/dev/null");
        auto F = NewForm();
        UseLocalDns(*F);
        F->PauseEdit->setText(QStringLiteral("0"));
        F->SourceMemo->setPlainText(QStringLiteral("www.vt.test"));
        // The last window's log file was restored with its settings.
        F->DetailedLogCheckBox->setChecked(false);
        F->LogFileCheckBox->setChecked(true);
        F->LogFileEdit->setText(QLatin1String(LogFile));
        F->DetailedLogCheckBox->setChecked(true);
        ASSERT_TRUE(F->DetailedLogCheckBox->isChecked()) << Str(F->BoxTexts().join('|'));
        // Before, the error escaped the start and ended the program; now this
        // process must live through every run.
        for (int Run = 0; Run < 2; ++Run) {
            F->Boxes.clear();
            F->ResultMemo->clear();
            ASSERT_TRUE(F->RunAndWait()) << Run;
            // Neither kind stops the user with a box: the status tells.
            QCoreApplication::processEvents();
            EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
            if (Writable) {
                EXPECT_EQ(Lines(F->ResultMemo).size(), 3) << Run;
                EXPECT_EQ(Str(Status(*F)), "Completed.") << Run;
            } else {
                // A log that cannot be written stops the run, and the status says why.
                EXPECT_TRUE(Status(*F).startsWith(QStringLiteral("Failed: "))) << Str(Status(*F));
                EXPECT_TRUE(Status(*F).contains(QLatin1String(LogFile))) << Str(Status(*F));
                EXPECT_EQ(Str(F->GetLog()->LogFileError()),
                          "cannot write log /dev/full: No space left on device");
            }
        }
        // Without the log file the same window runs as ever.
        F->DetailedLogCheckBox->setChecked(false);
        EXPECT_FALSE(F->Utils()->DetailedLog());
        F->Boxes.clear();
        ASSERT_TRUE(F->RunAndWait());
        EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
        EXPECT_EQ(Lines(F->ResultMemo).size(), 3);
        EXPECT_EQ(Str(Status(*F)), "Completed.");
    }
}
