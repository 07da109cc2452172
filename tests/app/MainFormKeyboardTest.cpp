#include "MainFormTestWindow.h"

#include "app/ButtonExUnit.h"
#include "engine/uLog.h"
#include "engine/uMainThread.h"
#include "engine/uProgress.h"
#include "resolve/QXUtilsUnit.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>

// The window from the keyboard, and memo lines that are the same for the
// counter, the run and the list files, whatever way the text came in.

namespace {

using MainFormKeyboard = TMainFormTest;

template <class TMemoWidget> QStringList Lines(const TMemoWidget* Memo) { return TQXMainForm::MemoLines(Memo); }

// Shows the window and makes it the active one, as keyboard input needs.
bool ShowActive(TTestMainForm& F) {
    F.show();
    QApplication::setActiveWindow(&F);
    F.activateWindow();
    return QTest::qWaitForWindowActive(&F, 5000);
}

// A key as the user presses it: to the widget that has the focus, shortcuts first.
void Press(TTestMainForm& F, Qt::Key Key, Qt::KeyboardModifiers Modifiers = Qt::NoModifier) {
    QWidget* Target = QApplication::focusWidget();
    QTest::keyClick(Target ? Target : &F, Key, Modifiers);
}

} // namespace

// --- Lines of a memo ---------------------------------------------------------

TEST_F(MainFormKeyboard, ShiftEnterAndPastedSeparatorsStartNewLinesEverywhere) {
    auto F = NewForm();
    ASSERT_TRUE(ShowActive(*F));
    F->SourceMemo->setFocus();
    QTest::keyClicks(F->SourceMemo, QStringLiteral("a.vt.test"));
    QTest::keyClick(F->SourceMemo, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(F->SourceMemo, QStringLiteral("b.vt.test"));
    EXPECT_EQ(F->SourceMemo->blockCount(), 2) << "Shift+Enter starts a line of its own";
    EXPECT_EQ(Str(F->SourceListLabel->text()), "List of domains (2):");

    // Pasted text: a line separator and a paragraph separator, as word processors copy them.
    QTest::keyClick(F->SourceMemo, Qt::Key_Return);
    QApplication::clipboard()->setText(QStringLiteral("c.vt.test\u2028d.vt.test\u2029e.vt.test"));
    F->SourceMemo->paste();
    const QStringList Expected = {QStringLiteral("a.vt.test"), QStringLiteral("b.vt.test"),
                                  QStringLiteral("c.vt.test"), QStringLiteral("d.vt.test"),
                                  QStringLiteral("e.vt.test")};
    EXPECT_EQ(Strs(Lines(F->SourceMemo)), Strs(Expected));
    EXPECT_EQ(F->SourceMemo->blockCount(), 5);
    EXPECT_FALSE(F->SourceMemo->toPlainText().contains(QChar::LineSeparator));
    EXPECT_EQ(Str(F->SourceListLabel->text()), "List of domains (5):") << "the counter counts what the run reads";

    // The run gets the same lines (it stops at the missing servers, after taking them).
    F->DNSMemo->clear();
    F->StartButton->click();
    ASSERT_EQ(F->Boxes.size(), 1);
    EXPECT_EQ(Str(F->Boxes[0].Text), "Please, enter DNS Servers");
    EXPECT_EQ(Strs(F->Utils()->DomainList()->ToQStringList()), Strs(Expected));

    // And so does the list file.
    F->SaveSettings();
    EXPECT_EQ(QString::fromUtf8(ReadTestFile(SettingsDir() + QStringLiteral("/srclist.txt"))),
              Expected.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

TEST_F(MainFormKeyboard, NoBreakSpacesStayInTheRunTheListFilesAndTheSettings) {
    const QString Name = QStringLiteral("caf\u00A0.vt.test");
    const QString Zone = QStringLiteral("dbl\u00A0zone.test");
    {
        auto F = NewForm();
        F->SourceMemo->setPlainText(Name);
        F->DBLMemo->setPlainText(Zone);
        F->DNSMemo->setPlainText(QStringLiteral("127.0.0.1:9\u00A0"));
        F->ThreadsEdit->setText(QStringLiteral("0")); // stops the start after the lists are taken
        F->StartButton->click();
        ASSERT_EQ(F->Boxes.size(), 1);
        EXPECT_EQ(Str(F->Boxes[0].Text), "Please, enter Threads (>= 1, <= 500)");
        EXPECT_EQ(Strs(F->Utils()->DomainList()->ToQStringList()), std::vector<std::string>{Str(Name)});
        EXPECT_EQ(Str(F->Utils()->DNSList()->Get(0)), Str(QStringLiteral("127.0.0.1:9\u00A0")));
        EXPECT_EQ(Strs(Lines(F->SourceMemo)), std::vector<std::string>{Str(Name)});
    }
    // Saved at exit: the list file and qx.ini keep the character.
    EXPECT_TRUE(QString::fromUtf8(ReadTestFile(SettingsDir() + QStringLiteral("/srclist.txt"))).contains(Name));
    const QString Ini = QString::fromUtf8(ReadTestFile(SettingsFile()));
    EXPECT_TRUE(Ini.contains(QStringLiteral("DBLServices1=") + Zone + QStringLiteral("\r\n"))) << Str(Ini);

    // And a new window has it back.
    auto G = NewForm();
    EXPECT_EQ(Strs(Lines(G->SourceMemo)), std::vector<std::string>{Str(Name)});
    EXPECT_EQ(Strs(Lines(G->DBLMemo)), std::vector<std::string>{Str(Zone)});
}

// --- Tab, mnemonics, Enter -----------------------------------------------------

TEST_F(MainFormKeyboard, TabLeavesTheListsAndCtrlTabStillTurnsThePages) {
    auto F = NewForm();
    ASSERT_TRUE(ShowActive(*F));
    const struct {
        QAbstractScrollArea* Memo;
        int Page; // of PageControl1; -1: on the source list page
    } Memos[] = {{F->SourceMemo, -1}, {F->DNSMemo, 0}, {F->DBLMemo, 1}, {F->RBLMemo, 2}};
    const auto Text = [](QAbstractScrollArea* M) {
        if (auto* L = qobject_cast<TLinesEdit*>(M))
            return L->toPlainText();
        return qobject_cast<QPlainTextEdit*>(M)->toPlainText();
    };
    for (const auto& M : Memos) {
        SCOPED_TRACE(Str(M.Memo->objectName()));
        if (M.Page >= 0)
            F->PageControl1->setCurrentIndex(M.Page);
        const QString Before = Text(M.Memo);
        M.Memo->setFocus();
        ASSERT_TRUE(WaitServing([&] { return M.Memo->hasFocus(); }, 2000));
        Press(*F, Qt::Key_Tab);
        EXPECT_FALSE(M.Memo->hasFocus()) << "Tab moves the focus on";
        EXPECT_EQ(Str(Text(M.Memo)), Str(Before)) << "no tab character is typed";
        // Shift+Tab comes back.
        Press(*F, Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_TRUE(M.Memo->hasFocus());
    }

    F->SourceMemo->setFocus();
    ASSERT_TRUE(WaitServing([&] { return F->SourceMemo->hasFocus(); }, 2000));
    ASSERT_EQ(F->SourcePageControl->currentIndex(), 0);
    Press(*F, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(F->SourcePageControl->currentIndex(), 1) << "Ctrl+Tab turns to the next page";
    EXPECT_TRUE(F->SourceMemo->toPlainText().isEmpty());
}

TEST_F(MainFormKeyboard, MnemonicsPressTheirButtons) {
    auto F = NewForm();
    ASSERT_TRUE(ShowActive(*F));
    F->SourceMemo->setFocus();

    // A mnemonic clicks its button the way a mouse does, a moment after the key.
    // "Load from file..." and both "Save to file..." open their dialogs (answered: cancelled).
    Press(*F, Qt::Key_L, Qt::AltModifier);
    EXPECT_TRUE(WaitServing([&] { return F->DialogsShown.size() == 1; }, 3000));
    Press(*F, Qt::Key_S, Qt::AltModifier);
    EXPECT_TRUE(WaitServing([&] { return F->DialogsShown.size() == 2; }, 3000));
    Press(*F, Qt::Key_V, Qt::AltModifier);
    EXPECT_TRUE(WaitServing([&] { return F->DialogsShown.size() == 3; }, 3000));
    EXPECT_EQ(Strs(F->DialogsShown),
              (std::vector<std::string>{"SourceOpenDialog", "ResultSaveDialog", "AddedSaveDialog"}));

    // Resolve validates: the empty list is named.
    Press(*F, Qt::Key_R, Qt::AltModifier);
    ASSERT_TRUE(WaitServing([&] { return !F->Boxes.isEmpty(); }, 3000));
    ASSERT_EQ(F->Boxes.size(), 1);
    EXPECT_EQ(Str(F->Boxes[0].Text), "Please, enter List of domains");

    // Close closes.
    Press(*F, Qt::Key_C, Qt::AltModifier);
    EXPECT_TRUE(WaitServing([&] { return !F->isVisible(); }, 3000));
}

TEST_F(MainFormKeyboard, BreakHasItsMnemonicDuringARun) {
    VT_REQUIRE_DNS_SERVERS();
    auto F = NewForm();
    UseLocalDns(*F);
    QStringList Domains;
    for (int i = 0; i < 50; ++i)
        Domains << QStringLiteral("clean.vt.test");
    F->SourceMemo->setPlainText(Domains.join('\n'));
    ASSERT_TRUE(ShowActive(*F));
    F->StartButton->click();
    ASSERT_TRUE(F->Running());
    ASSERT_TRUE(WaitServing([&] { return F->GetLog()->ActiveThreads() >= 1; }, 10000));
    Press(*F, Qt::Key_B, Qt::AltModifier);
    EXPECT_TRUE(WaitServing([&] { return F->Progress()->Terminated(); }, 3000));
    ASSERT_TRUE(F->WaitEnd(15000));
    EXPECT_LT(Lines(F->ResultMemo).size(), 50) << "the run was broken off";
}

TEST_F(MainFormKeyboard, EnterPressesTheFocusedButton) {
    auto F = NewForm();
    ASSERT_TRUE(ShowActive(*F));
    F->SourceMemo->setPlainText(QStringLiteral("x.vt.test"));
    F->ResultMemo->setPlainText(QStringLiteral("10.0.0.1"));
    F->SourceClearButton->setFocus();
    ASSERT_TRUE(WaitServing([&] { return F->SourceClearButton->hasFocus(); }, 2000));
    Press(*F, Qt::Key_Return);
    EXPECT_TRUE(F->SourceMemo->toPlainText().isEmpty()) << "Return";
    F->ResultClearButton->setFocus();
    ASSERT_TRUE(WaitServing([&] { return F->ResultClearButton->hasFocus(); }, 2000));
    Press(*F, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(F->ResultMemo->toPlainText().isEmpty()) << "Enter of the keypad";
    // A disabled button stays as it is; Enter in a memo is still a new line.
    F->SourceMemo->setFocus();
    ASSERT_TRUE(WaitServing([&] { return F->SourceMemo->hasFocus(); }, 2000));
    QTest::keyClicks(F->SourceMemo, QStringLiteral("a"));
    Press(*F, Qt::Key_Return);
    QTest::keyClicks(F->SourceMemo, QStringLiteral("b"));
    EXPECT_EQ(Strs(Lines(F->SourceMemo)), (std::vector<std::string>{"a", "b"}));
}
