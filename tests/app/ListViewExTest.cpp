#include "app/ListViewExUnit.h"
#include "containers/uIntList.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>
#include <gtest/gtest.h>

inline void PrintTo(const QString& S, std::ostream* Os) {
    *Os << '"' << S.toStdString() << '"';
}

namespace {

struct TClicks {
    QMap<QString, int> N;
    QPushButton* Make(QWidget* Parent, const QString& Name) {
        auto* B = new QPushButton(Name, Parent);
        B->setObjectName(Name);
        QObject::connect(B, &QPushButton::clicked, [this, Name] { ++N[Name]; });
        return B;
    }
};

QPoint RowPoint(TListViewEx& LV, int Row, int X = 40) {
    return QPoint(X, LV.ItemRect(Row).center().y());
}

} // namespace

TEST(ListViewEx, ColumnsWithWidths) {
    TListViewEx LV;
    TIntList Widths;
    Widths.Add(80);
    Widths.Add(120);
    LV.AddColumns({QStringLiteral("Id"), QStringLiteral("Name"), QStringLiteral("Status")}, &Widths);
    ASSERT_EQ(LV.ColumnCount(), 3);
    EXPECT_EQ(LV.ColumnCaption(2), QStringLiteral("Status"));
    EXPECT_EQ(LV.header()->sectionSize(0), 80);
    EXPECT_EQ(LV.header()->sectionSize(1), 120);
    EXPECT_EQ(LV.model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Name"));
    LV.AddColumns({QStringLiteral("More")});
    EXPECT_EQ(LV.ColumnCount(), 4);
    LV.ClearColumns();
    EXPECT_EQ(LV.ColumnCount(), 0);
    EXPECT_EQ(LV.model()->columnCount(), 0);
}

TEST(ListViewEx, HeaderClicksToggleTheSortedColumn) {
    TListViewEx LV;
    LV.AddColumns({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")});
    LV.resize(400, 200);
    LV.show();
    auto ClickHeader = [&](int Column) {
        QTest::mouseClick(LV.header()->viewport(), Qt::LeftButton, {},
                          QPoint(LV.header()->sectionViewportPosition(Column) + 5, 5));
    };
    // Without a handler nothing is recorded.
    ClickHeader(1);
    EXPECT_EQ(LV.SortedByColumn(), -1);

    QList<QPair<int, bool>> Calls;
    int Invalidated = 0;
    LV.OnSortByColumn = [&](TListViewEx*, int Column, bool Desc) { Calls.append({Column, Desc}); };
    LV.OnInvalidated = [&](TListViewEx*) { ++Invalidated; };
    ClickHeader(1);
    EXPECT_EQ(LV.SortedByColumn(), 1);
    ClickHeader(1);
    EXPECT_EQ(LV.SortedByColumn(), -1);
    ClickHeader(1);
    ClickHeader(2);
    EXPECT_EQ(LV.SortedByColumn(), 2);
    EXPECT_EQ(Calls, (QList<QPair<int, bool>>{{1, false}, {1, true}, {1, false}, {2, false}}));
    EXPECT_EQ(Invalidated, 4);

    LV.SetColumnClick(false);
    ClickHeader(0);
    EXPECT_EQ(Calls.size(), 4);
}

TEST(ListViewEx, OwnerDataRowsAndInvalidate) {
    TListViewEx LV;
    LV.AddColumns({QStringLiteral("Id"), QStringLiteral("Name")});
    QLabel Count;
    LV.CountLabel = &Count;
    QList<int> Asked;
    LV.SetOnData([&](TListViewEx*, int Item, QString& Caption, QStringList& Sub) {
        Asked.append(Item);
        Caption = QString::number(Item);
        Sub = {QStringLiteral("T%1").arg(Item)};
    });
    LV.Loaded();
    ASSERT_TRUE(LV.OwnerData());
    EXPECT_EQ(LV.AddItem(QStringLiteral("no")), -1);
    int Invalidated = 0;
    LV.OnInvalidated = [&](TListViewEx*) { ++Invalidated; };

    LV.InvalidateListView(100000);
    EXPECT_EQ(LV.ItemCount(), 100000);
    EXPECT_EQ(Count.text(), QStringLiteral("100000"));
    LV.InvalidateListView(-1);
    EXPECT_EQ(LV.ItemCount(), 100000);
    EXPECT_EQ(Count.text(), QStringLiteral("-1"));
    EXPECT_EQ(Invalidated, 2);

    // Only the rows on screen are asked for, once each per paint.
    LV.resize(300, 200);
    LV.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&LV));
    Asked.clear();
    LV.viewport()->repaint();
    ASSERT_FALSE(Asked.isEmpty());
    EXPECT_LT(*std::max_element(Asked.begin(), Asked.end()), 50);
    EXPECT_EQ(Asked.count(0), 1);
    EXPECT_EQ(LV.ItemCaption(7), QStringLiteral("7"));
    EXPECT_EQ(LV.ItemSubItems(7), QStringList{QStringLiteral("T7")});

    // Shrinking keeps the selection of a row that remains.
    LV.SetItemSelected(3, true);
    LV.InvalidateListView(10);
    EXPECT_EQ(LV.ItemCount(), 10);
    EXPECT_EQ(LV.SelectedIndex(), 3);
    // The selected row going away leaves no selection past the end.
    LV.InvalidateListView(2);
    EXPECT_LT(LV.SelectedIndex(), 2);
    EXPECT_EQ(LV.ItemCaption(5), QString());
}

TEST(ListViewEx, SelectionDrivesTheButtons) {
    QWidget Host;
    TClicks C;
    TListViewEx LV(&Host);
    LV.AddColumns({QStringLiteral("Zone")});
    LV.AddItem(QStringLiteral("a"));
    LV.AddItem(QStringLiteral("b"));
    LV.EditButton = C.Make(&Host, QStringLiteral("Edit"));
    LV.DeleteButton = C.Make(&Host, QStringLiteral("Delete"));
    LV.MoveUpButton = C.Make(&Host, QStringLiteral("MoveUp"));
    int Selected = 0;
    LV.OnSelected = [&](TListViewEx*) { ++Selected; };
    LV.UpdateButtons();
    EXPECT_FALSE(LV.EditButton->isEnabled());
    EXPECT_FALSE(LV.MoveUpButton->isEnabled());

    LV.SetItemSelected(1, true);
    EXPECT_EQ(LV.SelectedItemIndex(), 1);
    EXPECT_TRUE(LV.EditButton->isEnabled());
    EXPECT_TRUE(LV.DeleteButton->isEnabled());
    EXPECT_TRUE(LV.MoveUpButton->isEnabled());
    EXPECT_GE(Selected, 2);

    // A disabled Add button (the window is busy) disables editing and checking.
    LV.AddButton = C.Make(&Host, QStringLiteral("Add"));
    LV.AddButton->setEnabled(false);
    LV.UpdateButtons();
    EXPECT_FALSE(LV.EditButton->isEnabled());
    EXPECT_FALSE(LV.MoveUpButton->isEnabled());
    // CheckAll is asked before Add for the check flag.
    LV.CheckAllButton = C.Make(&Host, QStringLiteral("CheckAll"));
    LV.UpdateButtons();
    EXPECT_FALSE(LV.EditButton->isEnabled());
    EXPECT_TRUE(LV.MoveUpButton->isEnabled());

    LV.UnSelectAll();
    EXPECT_EQ(LV.SelectedItemIndex(), -1);
    EXPECT_FALSE(LV.MoveUpButton->isEnabled());

    // A replaced selection callback takes over from the own handler.
    QList<int> Seen;
    LV.SetOnSelectItem([&](TListViewEx*, int Item, bool S) { Seen.append(S ? Item : -2); });
    LV.SetItemSelected(0, true);
    EXPECT_EQ(Seen, QList<int>{0});
    EXPECT_EQ(LV.SelectedItemIndex(), -1);
    LV.SetOnSelectItem(nullptr);
    LV.SetItemSelected(1, true);
    EXPECT_EQ(LV.SelectedItemIndex(), 1);
}

TEST(ListViewEx, VirtualListReportsRangeChangesWithAReplacedCallback) {
    QWidget Host;
    TClicks C;
    TListViewEx LV(&Host);
    LV.AddColumns({QStringLiteral("Id")});
    LV.SetOnData([](TListViewEx*, int Item, QString& Caption, QStringList&) { Caption = QString::number(Item); });
    LV.Loaded();
    LV.SetItemCount(5);
    LV.EditButton = C.Make(&Host, QStringLiteral("Edit"));
    int Seen = 0;
    LV.SetOnSelectItem([&](TListViewEx*, int, bool) { ++Seen; });
    LV.SetItemSelected(2, true);
    EXPECT_EQ(Seen, 1);
    EXPECT_TRUE(LV.EditButton->isEnabled());
    LV.UnSelectAll();
    EXPECT_FALSE(LV.EditButton->isEnabled());
}

TEST(ListViewEx, KeysAndDoubleClickPressButtons) {
    QWidget Host;
    TClicks C;
    TListViewEx LV(&Host);
    LV.AddColumns({QStringLiteral("Zone")});
    LV.AddItem(QStringLiteral("a"));
    LV.AddItem(QStringLiteral("b"));
    LV.AddItem(QStringLiteral("c"));
    LV.EditButton = C.Make(&Host, QStringLiteral("Edit"));
    LV.ViewButton = C.Make(&Host, QStringLiteral("View"));
    LV.DeleteButton = C.Make(&Host, QStringLiteral("Delete"));
    LV.AddButton = C.Make(&Host, QStringLiteral("Add"));
    Host.resize(400, 300);
    LV.resize(400, 300);
    Host.show();
    LV.SetItemSelected(0, true);

    QTest::keyClick(&LV, Qt::Key_Return);
    EXPECT_EQ(C.N.value(QStringLiteral("Edit")), 1);
    EXPECT_EQ(C.N.value(QStringLiteral("View")), 0);
    LV.EditButton->setEnabled(false);
    QTest::keyClick(&LV, Qt::Key_Enter);
    EXPECT_EQ(C.N.value(QStringLiteral("View")), 1);
    QTest::keyClick(&LV, Qt::Key_Delete);
    EXPECT_EQ(C.N.value(QStringLiteral("Delete")), 1);
    QTest::keyClick(&LV, '+');
    EXPECT_EQ(C.N.value(QStringLiteral("Add")), 1);
    LV.AddButton->setEnabled(false);
    QTest::keyClick(&LV, '+');
    EXPECT_EQ(C.N.value(QStringLiteral("Add")), 1);

    // Selecting by mouse updates the buttons; Add enabled lets Edit be enabled.
    LV.AddButton->setEnabled(true);
    QTest::mouseDClick(LV.viewport(), Qt::LeftButton, {}, RowPoint(LV, 1));
    EXPECT_EQ(C.N.value(QStringLiteral("Edit")), 2);

    LV.SetMultiSelect(true);
    QTest::keyClick(&LV, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(LV.SelectedCount(), 3);
}

TEST(ListViewEx, CheckBoxHitTest) {
    TListViewEx LV;
    LV.AddColumns({QStringLiteral("Zone"), QStringLiteral("Note")});
    LV.SetCheckboxes(true);
    LV.AddItem(QStringLiteral("first"));
    LV.AddItem(QStringLiteral("second"));
    LV.resize(400, 200);
    LV.show();
    QList<int> Checked;
    LV.OnItemChecked = [&](TListViewEx*, int Item) { Checked.append(Item); };

    // Where the style draws the check box of row 1.
    QStyleOptionViewItem Opt;
    Opt.initFrom(&LV);
    Opt.rect = LV.visualRect(LV.model()->index(1, 0));
    Opt.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    Opt.text = QStringLiteral("second");
    const QRect Box = LV.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &Opt, &LV);
    QTest::mouseClick(LV.viewport(), Qt::LeftButton, {}, Box.center());
    EXPECT_EQ(Checked, QList<int>{1});
    EXPECT_TRUE(LV.ItemChecked(1));

    // On the caption text: no check notification.
    QTest::mouseClick(LV.viewport(), Qt::LeftButton, {}, QPoint(Box.right() + 40, Box.center().y()));
    EXPECT_EQ(Checked.size(), 1);
    // Below the last row: nothing.
    QTest::mouseClick(LV.viewport(), Qt::LeftButton, {}, QPoint(Box.center().x(), 190));
    EXPECT_EQ(Checked.size(), 1);
}
