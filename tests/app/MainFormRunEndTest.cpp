#include "MainFormTestWindow.h"

#include "app/ButtonExUnit.h"
#include "app/uRunOutcome.h"
#include "engine/uMainThread.h"
#include "engine/uProgress.h"
#include "resolve/QXUtilsUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTabWidget>

// How every run that does not complete ends in the window: the status names
// the reason (and the file the user chose), the progress row keeps the run's
// figures, the log carries each error once and no box interrupts the user.
// Then the checks that refuse a run before it starts, and the advice of a
// run whose questions went unanswered.

namespace {

using MainFormRunEnd = TMainFormTest;

QString Status(const TTestMainForm& F) { return F.StatusLabel->text(); }

QString AddressLines(int N) {
    QStringList L;
    for (int I = 0; I < N; ++I)
        L << QStringLiteral("10.5.%1.%2").arg(I / 250).arg(I % 250 + 1);
    return L.join('\n');
}

} // namespace

TEST_F(MainFormRunEnd, EveryFailingEndIsNamedInTheStatusWithTheFiguresKept) {
    VT_REQUIRE_DNS_SERVERS();
    const QString Full = QStringLiteral("/dev/full"), Missing = TempPath(QStringLiteral("no/such/out.txt"));
    const struct {
        QString LogFile, OutFile;  // neither: a Break
        const char* Status;        // the status starts so, and names the file
    } Cases[] = {{Full, {}, "Failed: "}, {{}, Missing, "Failed: "}, {{}, Full, "Failed: "}, {{}, {}, "Broken off."}};
    for (const auto& C : Cases) {
        SCOPED_TRACE(Str(C.LogFile + C.OutFile));
        if ((C.LogFile == Full || C.OutFile == Full) && !QFileInfo(Full).isWritable())
            continue;
        auto F = NewForm();
        UseLocalDns(*F);
        F->PauseEdit->setText(QStringLiteral("0"));
        F->ThreadsEdit->setText(QStringLiteral("4"));
        // Enough lines to overflow the write buffer in the workers.
        F->SourceMemo->setPlainText(AddressLines(600));
        F->LogFileCheckBox->setChecked(!C.LogFile.isEmpty());
        F->LogFileEdit->setText(C.LogFile);
        F->DetailedLogCheckBox->setChecked(!C.LogFile.isEmpty());
        F->ResultPageControl->setCurrentIndex(C.OutFile.isEmpty() ? 0 : 1);
        F->ResultFileEdit->setText(C.OutFile);
        const QString Named = C.LogFile + C.OutFile;
        if (Named.isEmpty()) {
            QStringList Domains;
            for (int I = 0; I < 400; ++I)
                Domains << QStringLiteral("host%1.vt.test").arg(I);
            F->SourceMemo->setPlainText(Domains.join('\n'));
            F->StartButton->click();
            ASSERT_TRUE(WaitServing([&] { return F->Progress()->Processed() >= 5; }, 10000));
            F->BreakButton->click();
            ASSERT_TRUE(F->WaitEnd());
        } else {
            ASSERT_TRUE(F->RunAndWait());
        }
        const QString S = Status(*F);
        EXPECT_TRUE(S.startsWith(QLatin1String(C.Status))) << Str(S);
        EXPECT_TRUE(S.contains(Named)) << Str(S);
        // The temporary twin (".out.txt.XXXXXX") is no name the user chose.
        EXPECT_FALSE(S.contains(QStringLiteral("/.out.txt."))) << Str(S);
        EXPECT_EQ(F->StatusLabel->toolTip(), S);
        EXPECT_EQ(F->StatusIconLabel->isVisibleTo(F.get()), !Named.isEmpty());
        // The row still shows where the run got to.
        for (QWidget* W : std::initializer_list<QWidget*>{F->ProgressBar, F->ElapsedLabel, F->ProcessedLabel})
            EXPECT_TRUE(W->isVisibleTo(F.get())) << Str(W->objectName());
        EXPECT_FALSE(F->ElapsedLabel->text().isEmpty());
        EXPECT_TRUE(F->ProcessedLabel->text().contains(QStringLiteral(" line"))) << Str(F->ProcessedLabel->text());
        // Nothing waits for the user: no box now, nor once the end is handed back.
        QCoreApplication::processEvents();
        EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
        // The log tells an output error once, however many workers met it.
        if (!C.OutFile.isEmpty()) {
            // The summary: "Broken off:" when the error cut workers short.
            ASSERT_TRUE(WaitServing([&] { const QString Log = F->LogMemo->toPlainText();
                                          return Log.contains(QStringLiteral("Done: ")) ||
                                                 Log.contains(QStringLiteral("Broken off: ")); },
                                    5000));
            EXPECT_EQ(F->LogMemo->toPlainText().count(S.mid(8)), 1) << Str(F->LogMemo->toPlainText());
            EXPECT_FALSE(F->LogMemo->toPlainText().contains(QStringLiteral("/.out.txt.")));
        }
        F->DetailedLogCheckBox->setChecked(false);
    }
}

TEST_F(MainFormRunEnd, ALogFileThatFailsEndsTheRun) {
    VT_REQUIRE_DNS_SERVERS();
    if (!QFileInfo(QStringLiteral("/dev/full")).isWritable())
        GTEST_SKIP() << "no /dev/full";
    auto F = NewForm();
    UseLocalDns(*F);
    // Long enough that only the failing log can end it early: 400 lines at
    // 200 ms a line on two workers.
    F->PauseEdit->setText(QStringLiteral("200"));
    F->ThreadsEdit->setText(QStringLiteral("2"));
    QStringList Domains;
    for (int I = 0; I < 400; ++I)
        Domains << QStringLiteral("host%1.vt.test").arg(I);
    F->SourceMemo->setPlainText(Domains.join('\n'));
    F->LogFileCheckBox->setChecked(true);
    F->LogFileEdit->setText(QStringLiteral("/dev/full"));
    F->DetailedLogCheckBox->setChecked(true);
    ASSERT_TRUE(F->RunAndWait(60000));
    EXPECT_LT(F->Progress()->Processed(), 400);
    EXPECT_TRUE(Status(*F).startsWith(QStringLiteral("Failed: cannot write log /dev/full"))) << Str(Status(*F));
    F->DetailedLogCheckBox->setChecked(false);
}

TEST(RunOutcomeAdvice, NamesOnlyWhatCanHelp) {
    const struct {
        qint64 Lookups, Checks, Unanswered;
        const char* Status;
    } Cases[] = {
        {1, 0, 0, "Completed: 1 lookup failed (check the DNS servers)"},
        {0, 5, 0, "Completed: 5 blocklist checks failed (check the blocklist zones or the DNS server)"},
        {2, 3, 2, "Completed: 2 lookups, 3 blocklist checks failed (raise Retries on the DNS page; check the "
                  "blocklist zones or the DNS server)"},
    };
    for (const auto& C : Cases) {
        TQXRunCounters Counters;
        Counters.LookupsFailed = C.Lookups;
        Counters.BLChecksFailed = C.Checks;
        Counters.Unanswered = C.Unanswered;
        EXPECT_EQ(Str(RunOutcome(Counters, false, QString()).Status), C.Status);
    }
    EXPECT_EQ(Str(RunOutcome({}, false, QStringLiteral(" \r\n")).Status), "Failed: unknown error");
    EXPECT_EQ(Str(RunOutcome({}, false, QStringLiteral("Cannot write.\r\nNo space")).Status),
              "Failed: Cannot write. No space");
}

TEST_F(MainFormRunEnd, RBLWithoutIPv6ZonesRefusesARunWithIPv6Addresses) {
    VT_REQUIRE_DNS_SERVERS();
    const struct {
        int Family;  // the Addresses box: IPv4, IPv6, both
        bool RBL;
        const char *Zones4, *Zones6;
        const char* Box;  // empty: the run starts
    } Cases[] = {
        {1, true, "rbl1.vt-bl.test", "", "Please, enter RBL IPv6 zones"},
        {2, true, "rbl1.vt-bl.test", "", "Please, enter RBL IPv6 zones"},
        {0, true, "rbl1.vt-bl.test", "", ""},
        {2, true, "rbl1.vt-bl.test", "rbl1.vt-bl.test", ""},
        {1, false, "", "", ""},
    };
    auto F = NewForm();
    UseLocalDns(*F);
    F->PauseEdit->setText(QStringLiteral("0"));
    F->SourceMemo->setPlainText(QStringLiteral("10.1.2.4"));
    for (const auto& C : Cases) {
        SCOPED_TRACE(testing::Message() << C.Family << C.RBL << C.Zones4 << "/" << C.Zones6);
        F->Boxes.clear();
        F->FamilyComboBox->setCurrentIndex(C.Family);
        F->RBLCheckBox->setChecked(C.RBL);
        F->RBLMemo->setPlainText(QLatin1String(C.Zones4));
        F->RBL6Memo->setPlainText(QLatin1String(C.Zones6));
        const qint64 RunBefore = F->Progress()->RunNumber();
        ASSERT_TRUE(F->RunAndWait());
        if (*C.Box) {
            EXPECT_EQ(Str(F->BoxTexts().join('|')), C.Box);
            EXPECT_EQ(F->Progress()->RunNumber(), RunBefore);
        } else {
            EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
            EXPECT_EQ(F->Progress()->RunNumber(), RunBefore + 1);
        }
    }
}
