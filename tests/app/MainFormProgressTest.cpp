#include "MainFormTestWindow.h"

#include "app/ButtonExUnit.h"
#include "engine/uMainThread.h"
#include "engine/uProgress.h"
#include "resolve/QXUtilsUnit.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSet>
#include <QTabWidget>

// The run's displays: found by their names, seen to move while the window
// resolves against the local dnsmasq, and left standing at the end.

namespace {

using MainFormProgress = TMainFormTest;

const char* const DisplayNames[] = {"ProgressBar",         "ProgressLabel",  "ElapsedTitleLabel", "ElapsedLabel",
                                    "ProcessedTitleLabel", "ProcessedLabel", "StatusLabel"};

QString LabelText(const TTestMainForm& F, const char* Name) {
    auto* L = F.findChild<QLabel*>(QLatin1String(Name));
    return L ? L->text() : QStringLiteral("<missing %1>").arg(QLatin1String(Name));
}

QProgressBar* Bar(const TTestMainForm& F) { return F.findChild<QProgressBar*>(QStringLiteral("ProgressBar")); }

// What the displays showed while the run was going, polled until it ended.
struct TSeen {
    QSet<int> BarValues;
    QSet<QString> Percentages, Elapsed, Processed, Status;
};

TSeen WatchRun(TTestMainForm& F, int ATimeoutMSec) {
    TSeen S;
    WaitServing(
        [&] {
            if (!F.Running())
                return true;
            S.BarValues.insert(Bar(F)->value());
            S.Percentages.insert(LabelText(F, "ProgressLabel"));
            S.Elapsed.insert(LabelText(F, "ElapsedLabel"));
            S.Processed.insert(LabelText(F, "ProcessedLabel"));
            S.Status.insert(LabelText(F, "StatusLabel"));
            return false;
        },
        ATimeoutMSec);
    return S;
}

bool AnyBetween(const QSet<int>& Values, int Low, int High) {
    for (int V : Values)
        if (V > Low && V < High)
            return true;
    return false;
}

} // namespace

TEST_F(MainFormProgress, DisplaysAppearWithTheFirstRunMoveDuringItAndStandAtItsEnd) {
    VT_REQUIRE_DNS_SERVERS();
    auto F = NewForm();
    UseLocalDns(*F);
    // One thread and the 200 ms pause: about 4 s, several refreshes of the displays.
    QStringList Domains;
    for (int i = 0; i < 20; ++i)
        Domains << (i % 2 ? QStringLiteral("clean.vt.test") : QStringLiteral("www.vt.test"));
    F->SourceMemo->setPlainText(Domains.join('\n'));
    F->show();
    for (const char* Name : DisplayNames) {
        auto* W = F->findChild<QWidget*>(QLatin1String(Name));
        ASSERT_NE(W, nullptr) << Name;
        EXPECT_TRUE(W->isHidden()) << Name << ": nothing to show before the first run";
    }

    F->StartButton->click();
    ASSERT_TRUE(F->Running());
    for (const char* Name : DisplayNames)
        EXPECT_TRUE(F->findChild<QWidget*>(QLatin1String(Name))->isVisible()) << Name;
    const TSeen Seen = WatchRun(*F, 30000);
    ASSERT_TRUE(F->WaitEnd());
    EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));

    // They moved: the bar stood between its ends, the counts and the clock changed.
    EXPECT_TRUE(AnyBetween(Seen.BarValues, 0, 100)) << Seen.BarValues.size();
    EXPECT_GE(Seen.Percentages.size(), 2);
    EXPECT_GE(Seen.Processed.size(), 2);
    EXPECT_GE(Seen.Elapsed.size(), 2);
    EXPECT_TRUE(Seen.Status.contains(QStringLiteral("Resolving...")));
    const QRegularExpression Percent(QStringLiteral("^\\d+ %$"));
    for (const QString& S : Seen.Percentages)
        EXPECT_TRUE(Percent.match(S).hasMatch()) << Str(S);
    const QRegularExpression Clock(QStringLiteral("^\\d+:\\d\\d:\\d\\d$"));
    for (const QString& S : Seen.Elapsed)
        EXPECT_TRUE(S.isEmpty() || Clock.match(S).hasMatch()) << Str(S);

    // At the end: every line taken, the bar full, the figures of the whole run.
    EXPECT_EQ(F->Progress()->Max(), 20) << "a list run counts its lines";
    EXPECT_EQ(F->Progress()->Position(), 20);
    EXPECT_EQ(Bar(*F)->value(), 100);
    EXPECT_EQ(Str(LabelText(*F, "ProgressLabel")), "100 %");
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^20 lines, \\d+/s$")).match(LabelText(*F, "ProcessedLabel")).hasMatch())
        << Str(LabelText(*F, "ProcessedLabel"));
    EXPECT_TRUE(WaitServing([&] { return LabelText(*F, "StatusLabel") == QLatin1String("Completed."); }, 3000))
        << Str(LabelText(*F, "StatusLabel"));
    for (const char* Name : DisplayNames)
        EXPECT_TRUE(F->findChild<QWidget*>(QLatin1String(Name))->isVisible()) << Name << " keeps the last run's figures";
}

TEST_F(MainFormProgress, AFileRunMovesByTheBytesRead) {
    VT_REQUIRE_DNS_SERVERS();
    auto F = NewForm();
    UseLocalDns(*F);
    // Long names over several of the reader's 1 KiB blocks, so the position moves inside the file.
    QByteArray Data;
    for (int i = 0; i < 80; ++i)
        Data += QStringLiteral("n%1-progress-by-bytes-read-of-the-domain-file-not-by-lines.vt.test\r\n")
                    .arg(i, 3, 10, QLatin1Char('0'))
                    .toUtf8();
    const QString Src = TempPath(QStringLiteral("domains.txt"));
    WriteTestFile(Src, Data);
    F->SourcePageControl->setCurrentIndex(1);
    F->SourceFileEdit->setText(Src);
    F->ThreadsEdit->setText(QStringLiteral("4"));

    F->StartButton->click();
    ASSERT_TRUE(F->Running());
    const TSeen Seen = WatchRun(*F, 30000);
    ASSERT_TRUE(F->WaitEnd());
    EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));

    EXPECT_EQ(F->Progress()->Max(), Data.size()) << "a file run counts its bytes";
    EXPECT_EQ(F->Progress()->Position(), Data.size());
    EXPECT_TRUE(AnyBetween(Seen.BarValues, 0, 100)) << Seen.BarValues.size();
    EXPECT_EQ(Bar(*F)->value(), 100);
    EXPECT_EQ(Str(LabelText(*F, "ProgressLabel")), "100 %");
    EXPECT_TRUE(LabelText(*F, "ProcessedLabel").startsWith(QStringLiteral("80 lines, ")))
        << Str(LabelText(*F, "ProcessedLabel"));
}

TEST_F(MainFormProgress, DisplaysAndLookupEditsFitTheWindowWithoutOverlapping) {
    auto F = NewForm();
    // Address lines only: the run asks no server.
    F->DNSMemo->setPlainText(QStringLiteral("127.0.0.1:9"));
    F->SourceMemo->setPlainText(QStringLiteral("10.5.5.5\n10.6.0.0/16"));
    F->show();
    ASSERT_TRUE(F->RunAndWait());
    QApplication::processEvents();
    EXPECT_EQ(F->size(), QSize(1022, 610));

    QWidget* Central = F->centralWidget();
    QList<QWidget*> Items;
    for (const char* Name : DisplayNames)
        Items << F->findChild<QWidget*>(QLatin1String(Name));
    Items << F->StartButton << F->BreakButton << F->CloseButton << F->LogPageControl << F->ResultPageControl
          << F->findChild<QWidget*>(QStringLiteral("LeftPanel"));
    QList<QRect> Rects;
    for (QWidget* W : Items) {
        ASSERT_NE(W, nullptr);
        ASSERT_TRUE(W->isVisible()) << Str(W->objectName());
        const QRect R(W->mapTo(Central, QPoint(0, 0)), W->size());
        EXPECT_TRUE(Central->rect().contains(R)) << Str(W->objectName());
        EXPECT_GT(R.width(), 0) << Str(W->objectName());
        Rects << R;
    }
    // The displays overlap nothing (the buttons lie inside the left panel).
    for (int i = 0; i < 7; ++i)
        for (int j = 0; j < Rects.size(); ++j)
            if (i != j) {
                EXPECT_FALSE(Rects[i].intersects(Rects[j]))
                    << Str(Items[i]->objectName()) << " / " << Str(Items[j]->objectName());
            }
    // Level with the buttons: one bottom line.
    const QRect Start(F->StartButton->mapTo(Central, QPoint(0, 0)), F->StartButton->size());
    auto* Panel = F->findChild<QWidget*>(QStringLiteral("ProgressPanel"));
    ASSERT_NE(Panel, nullptr);
    EXPECT_EQ(Panel->mapTo(Central, QPoint(0, Panel->height())).y(), Start.bottom() + 1);
    // Every text of a display is shown whole.
    for (int i = 1; i < 7; ++i) {
        auto* L = static_cast<QLabel*>(Items[i]);
        EXPECT_GE(L->width(), L->fontMetrics().horizontalAdvance(L->text())) << Str(L->objectName());
    }

    // The lookup edits sit under the server list on the "DNS" page, each with its label.
    for (QWidget* W : {static_cast<QWidget*>(F->RetriesLabel), static_cast<QWidget*>(F->RetriesEdit),
                       static_cast<QWidget*>(F->PauseLabel), static_cast<QWidget*>(F->PauseEdit),
                       static_cast<QWidget*>(F->TimeoutLabel), static_cast<QWidget*>(F->TimeoutEdit),
                       static_cast<QWidget*>(F->MaxQPSLabel), static_cast<QWidget*>(F->MaxQPSEdit)}) {
        ASSERT_TRUE(W->isVisible()) << Str(W->objectName());
        const QRect R(W->mapTo(F->DNSTabSheet, QPoint(0, 0)), W->size());
        EXPECT_TRUE(F->DNSTabSheet->rect().contains(R)) << Str(W->objectName());
        EXPECT_GT(R.top(), F->DNSMemo->geometry().bottom()) << Str(W->objectName()) << " under the servers";
        if (auto* L = qobject_cast<QLabel*>(W)) {
            // The mnemonic's "&" is not drawn.
            EXPECT_GE(L->width(), L->fontMetrics().horizontalAdvance(QString(L->text()).remove(QLatin1Char('&'))))
                << Str(L->objectName());
        }
    }
    EXPECT_FALSE(F->RetriesEdit->geometry().intersects(F->PauseLabel->geometry()));
    EXPECT_FALSE(F->RetriesEdit->geometry().intersects(F->TimeoutEdit->geometry()));
    EXPECT_FALSE(F->TimeoutEdit->geometry().intersects(F->MaxQPSEdit->geometry()));
    EXPECT_FALSE(F->MaxQPSLabel->geometry().intersects(F->MaxQPSEdit->geometry()));
}
