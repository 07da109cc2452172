#include "app/ListViewExUnit.h"
#include "app/uControlAdapters.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <gtest/gtest.h>
#include <memory>

// The engine sees a memo as CR LF text; the widget keeps LF. The log trims
// and appends through these positions, so they must agree with the text.

TEST(MainFormAdapters, MemoCountsAndPositionsInCrLfText) {
    QPlainTextEdit Memo;
    TMemoAdapter A(&Memo);
    EXPECT_EQ(A.LineCount(), 0);
    EXPECT_EQ(A.TextLength(), 0);

    A.SetText(QStringLiteral("ab\r\ncd\r\n"));
    EXPECT_EQ(A.LineCount(), 2) << "a final break adds no line";
    EXPECT_EQ(A.Line(0).toStdString(), "ab");
    EXPECT_EQ(A.Line(1).toStdString(), "cd");
    EXPECT_EQ(A.TextLength(), 8);

    // Appending at the end, as the log does.
    A.SetSelStart(A.TextLength());
    A.ReplaceSelection(QStringLiteral("ef\r\ngh\r\n"));
    EXPECT_EQ(Memo.toPlainText().toStdString(), "ab\ncd\nef\ngh\n");
    EXPECT_EQ(A.LineCount(), 4);
    EXPECT_EQ(A.TextLength(), 16);

    // A position counts two characters per break: 4 is the start of "cd".
    A.SetSelStart(4);
    A.ReplaceSelection(QStringLiteral("X"));
    EXPECT_EQ(A.Line(1).toStdString(), "Xcd");
    // Between CR and LF: the end of that line.
    A.SetSelStart(3);
    A.ReplaceSelection(QStringLiteral("Y"));
    EXPECT_EQ(A.Line(0).toStdString(), "abY");
    // Beyond the end: the end.
    A.SetSelStart(1000);
    A.ReplaceSelection(QStringLiteral("Z"));
    EXPECT_EQ(Memo.toPlainText().toStdString(), "abY\nXcd\nef\ngh\nZ");
    EXPECT_EQ(A.LineCount(), 5);

    // Lone CR or LF count as breaks too.
    A.SetText(QStringLiteral("1\r2\n3"));
    EXPECT_EQ(A.LineCount(), 3);
    EXPECT_EQ(A.TextLength(), 7);
}

TEST(MainFormAdapters, ControlsThatAreGoneAreIgnored) {
    auto Memo = std::make_unique<QPlainTextEdit>();
    auto Button = std::make_unique<QPushButton>();
    auto View = std::make_unique<TListViewEx>();
    TMemoAdapter M(Memo.get());
    TButtonAdapter B(Button.get());
    TListViewAdapter V(View.get());
    Memo.reset();
    Button.reset();
    View.reset();
    M.SetText(QStringLiteral("x"));
    M.SetSelStart(1);
    M.ReplaceSelection(QStringLiteral("y"));
    EXPECT_EQ(M.LineCount(), 0);
    B.SetEnabled(true);
    B.SetOnClick([] {});
    EXPECT_FALSE(B.Enabled());
    EXPECT_FALSE(B.Visible());
    V.SetRowCount(3);
    V.Repaint();
    EXPECT_EQ(V.RowCount(), 0);
    EXPECT_EQ(V.SelectedIndex(), -1);
}

TEST(MainFormAdapters, ButtonRunsOnlyItsCurrentHandler) {
    QPushButton Button;
    TButtonAdapter B(&Button);
    int First = 0, Second = 0;
    B.SetOnClick([&] { ++First; });
    Button.click();
    B.SetOnClick([&] { ++Second; });
    Button.click();
    Button.click();
    EXPECT_EQ(First, 1);
    EXPECT_EQ(Second, 2);
    B.SetOnClick(nullptr);
    Button.click();
    EXPECT_EQ(Second, 2);
    B.SetEnabled(false);
    EXPECT_FALSE(Button.isEnabled());
    EXPECT_FALSE(B.Enabled());
}

TEST(MainFormAdapters, ListViewRowsComeFromTheDataHandler) {
    TListViewEx View;
    View.AddColumns({QStringLiteral("Id"), QStringLiteral("Name"), QStringLiteral("Time"), QStringLiteral("Status")});
    View.SetOwnerData(true);
    TListViewAdapter A(&View);
    A.SetOnData([](TListItem& Item) {
        Item.Caption = QString::number(100 + Item.Index);
        Item.SubItems = {QStringLiteral("Thread %1").arg(Item.Index), QStringLiteral("t"), QStringLiteral("s")};
    });
    A.SetRowCount(3);
    EXPECT_EQ(A.RowCount(), 3);
    EXPECT_EQ(View.ItemCaption(2).toStdString(), "102");
    EXPECT_EQ(View.ItemSubItems(1).value(0).toStdString(), "Thread 1");
    A.SetRowCount(1);
    EXPECT_EQ(View.ItemCount(), 1);
}
