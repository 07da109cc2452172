#include "app/ListViewExUnit.h"
#include "app/VFormUnit.h"
#include "containers/uStringList.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

struct TBox {
    QString Title;
    QString Text;
    QMessageBox::Icon Icon;
    QMessageBox::StandardButtons Buttons;
};

// A window whose message boxes are recorded and answered instead of shown.
class TRecordingForm : public TVForm {
public:
    TRecordingForm() { setWindowTitle(QStringLiteral("Veltrask 1.3")); }
    QList<TBox> Boxes;
    QMessageBox::StandardButton Answer = QMessageBox::Yes;
    using TVForm::HandleDropFiles;

protected:
    QMessageBox::StandardButton ShowMessageBox(const QString& Title, const QString& Text, QMessageBox::Icon Icon,
                                               QMessageBox::StandardButtons Buttons) override {
        Boxes.append({Title, Text, Icon, Buttons});
        return Answer;
    }
};

void DropFiles(QWidget* Target, const QStringList& Files) {
    QMimeData Mime;
    QList<QUrl> Urls;
    for (const QString& F : Files)
        Urls.append(QUrl::fromLocalFile(F));
    Mime.setUrls(Urls);
    QDragEnterEvent Enter(QPoint(5, 5), Qt::CopyAction, &Mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Target, &Enter);
    QDropEvent Drop(QPointF(5, 5), Qt::CopyAction, &Mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Target, &Drop);
}

QString MemoText(QPlainTextEdit* Memo) {
    return Memo->toPlainText();
}

} // namespace

TEST(FormChecks, ThreadsRangeWarnsWithTheRangeInTheName) {
    TRecordingForm Form;
    for (const char* Bad : {"0", "501", "1.5", "abc", "", "1 ", "--1"}) {
        Form.Boxes.clear();
        EXPECT_FALSE(Form.CheckStrToInt(QString::fromLatin1(Bad), QStringLiteral("Threads"), 1, 500)) << Bad;
        ASSERT_EQ(Form.Boxes.size(), 1) << Bad;
        EXPECT_EQ(Form.Boxes[0].Text, QStringLiteral("Please, enter Threads (>= 1, <= 500)"));
        EXPECT_EQ(Form.Boxes[0].Title, QStringLiteral("Veltrask 1.3"));
        EXPECT_EQ(Form.Boxes[0].Icon, QMessageBox::Warning);
        EXPECT_EQ(Form.Boxes[0].Buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
    Form.Boxes.clear();
    EXPECT_TRUE(Form.CheckStrToInt(QStringLiteral("1"), QStringLiteral("Threads"), 1, 500));
    EXPECT_TRUE(Form.CheckStrToInt(QStringLiteral("500"), QStringLiteral("Threads"), 1, 500));
    EXPECT_TRUE(Form.CheckStrToInt(QStringLiteral("  $1F4"), QStringLiteral("Threads"), 1, 500));
    EXPECT_TRUE(Form.Boxes.isEmpty());

    EXPECT_FALSE(Form.CheckStrToInt(QStringLiteral("-1"), QStringLiteral("Port"), 0));
    ASSERT_EQ(Form.Boxes.size(), 1);
    EXPECT_EQ(Form.Boxes[0].Text, QStringLiteral("Please, enter Port (>= 0)"));
    EXPECT_FALSE(Form.CheckStrToInt(QStringLiteral("x"), QStringLiteral("Count")));
    EXPECT_EQ(Form.Boxes.last().Text, QStringLiteral("Please, enter Count"));
}

TEST(FormChecks, IntegerParsing) {
    int V = 0;
    EXPECT_TRUE(TVForm::TryStrToInt(QStringLiteral("  -42"), V));
    EXPECT_EQ(V, -42);
    EXPECT_TRUE(TVForm::TryStrToInt(QStringLiteral("+7"), V));
    EXPECT_EQ(V, 7);
    EXPECT_TRUE(TVForm::TryStrToInt(QStringLiteral("0x1f"), V));
    EXPECT_EQ(V, 31);
    EXPECT_TRUE(TVForm::TryStrToInt(QStringLiteral("X10"), V));
    EXPECT_EQ(V, 16);
    EXPECT_TRUE(TVForm::TryStrToInt(QStringLiteral("2147483647"), V));
    EXPECT_EQ(V, 2147483647);
    EXPECT_TRUE(TVForm::TryStrToInt(QStringLiteral("-2147483648"), V));
    EXPECT_EQ(V, std::numeric_limits<int>::min());
    for (const char* Bad : {"2147483648", "-2147483649", "$", "0x", "-", " ", "12a", "$1G", "$100000000", "1e3"})
        EXPECT_FALSE(TVForm::TryStrToInt(QString::fromLatin1(Bad), V)) << Bad;
}

TEST(FormChecks, ListsFilesAndPlainConditions) {
    TRecordingForm Form;
    EXPECT_FALSE(Form.CheckListNotEmpty(QStringList{QString(), QString()}, QStringLiteral("List"), true));
    EXPECT_TRUE(Form.CheckListNotEmpty(QStringList{QString(), QString()}, QStringLiteral("List"), false));
    EXPECT_FALSE(Form.CheckListNotEmpty(QStringList{}, QStringLiteral("List"), false));
    TStringList L;
    L.Add(QString());
    L.Add(QStringLiteral("x"));
    EXPECT_TRUE(Form.CheckListNotEmpty(L, QStringLiteral("List"), true));
    ASSERT_EQ(Form.Boxes.size(), 2);
    EXPECT_EQ(Form.Boxes[0].Text, QStringLiteral("Please, enter List"));

    Form.Boxes.clear();
    QTemporaryDir Dir;
    const QString Missing = Dir.filePath(QStringLiteral("none.txt"));
    EXPECT_FALSE(Form.CheckFileExists(QString(), QStringLiteral("Domain")));
    EXPECT_FALSE(Form.CheckFileExists(Missing, QStringLiteral("Domain")));
    EXPECT_FALSE(Form.CheckFileExists(Dir.path(), QStringLiteral("Domain")));
    ASSERT_EQ(Form.Boxes.size(), 3);
    EXPECT_EQ(Form.Boxes[0].Text, QStringLiteral("Please, enter Domain"));
    EXPECT_EQ(Form.Boxes[1].Text, QStringLiteral("Domain file not found: ") + Missing);
    QFile F(Missing);
    ASSERT_TRUE(F.open(QIODevice::WriteOnly));
    F.close();
    EXPECT_TRUE(Form.CheckFileExists(Missing, QStringLiteral("Domain")));

    Form.Boxes.clear();
    EXPECT_FALSE(Form.CheckExpr(false, QString()));
    EXPECT_TRUE(Form.Boxes.isEmpty());
    EXPECT_FALSE(Form.CheckExpr(false, QStringLiteral("Bad")));
    EXPECT_FALSE(Form.CheckIf(false, QStringLiteral("DNS Servers")));
    EXPECT_FALSE(Form.CheckNotEmpty(QString(), QStringLiteral("Out Format")));
    EXPECT_TRUE(Form.CheckNotEmpty(QStringLiteral(" "), QStringLiteral("Out Format")));
    Form.WarnPleaseEnter(QStringLiteral("Log File Name"), QStringLiteral("Own title"));
    ASSERT_EQ(Form.Boxes.size(), 4);
    EXPECT_EQ(Form.Boxes[0].Text, QStringLiteral("Bad"));
    EXPECT_EQ(Form.Boxes[1].Text, QStringLiteral("Please, enter DNS Servers"));
    EXPECT_EQ(Form.Boxes[2].Text, QStringLiteral("Please, enter Out Format"));
    EXPECT_EQ(Form.Boxes[3].Title, QStringLiteral("Own title"));
}

TEST(FormChecks, ListItemExistsAndChecked) {
    TRecordingForm Form;
    TListViewEx LV;
    LV.AddColumns({QStringLiteral("Name")});
    LV.SetCheckboxes(true);
    LV.AddItem(QStringLiteral("Alpha"));
    LV.AddItem(QStringLiteral("beta"));
    EXPECT_TRUE(Form.CheckListItemNotExists(&LV, 0, QStringLiteral("Zone"), true, QStringLiteral("ALPHA")));
    EXPECT_TRUE(Form.CheckListItemNotExists(&LV, -1, QStringLiteral("Zone"), false, QStringLiteral("ALPHA")));
    EXPECT_FALSE(Form.CheckListItemNotExists(&LV, -1, QStringLiteral("Zone"), true, QStringLiteral("BETA")));
    ASSERT_EQ(Form.Boxes.size(), 1);
    EXPECT_EQ(Form.Boxes[0].Text, QStringLiteral("Zone \"BETA\" already exists."));
    // The edited row may keep its caption, but not when another row has it too.
    LV.AddItem(QStringLiteral("alpha"));
    EXPECT_FALSE(Form.CheckListItemNotExists(&LV, 0, QStringLiteral("Zone"), true, QStringLiteral("Alpha")));

    EXPECT_FALSE(Form.CheckListItemsChecked(&LV, QStringLiteral("Check one")));
    LV.SetItemChecked(1, true);
    EXPECT_TRUE(Form.CheckListItemsChecked(&LV, QStringLiteral("Check one")));
    EXPECT_EQ(Form.Boxes.last().Text, QStringLiteral("Check one"));
}

TEST(FormBoxes, TitlesFormatsAndConfirm) {
    TRecordingForm Form;
    Form.ErrorMessage(QStringLiteral("%s failed: %d%%"), QVariantList{QStringLiteral("Load"), 42});
    Form.Information(QStringLiteral("Info"), QStringLiteral("Done"));
    Form.Warning(QStringLiteral("T"), QStringLiteral("%s and %s"), QVariantList{QStringLiteral("a")});
    ASSERT_EQ(Form.Boxes.size(), 3);
    EXPECT_EQ(Form.Boxes[0].Text, QStringLiteral("Load failed: 42%"));
    EXPECT_EQ(Form.Boxes[0].Title, QStringLiteral("Veltrask 1.3"));
    EXPECT_EQ(Form.Boxes[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(Form.Boxes[1].Title, QStringLiteral("Info"));
    EXPECT_EQ(Form.Boxes[1].Icon, QMessageBox::Information);
    EXPECT_EQ(Form.Boxes[2].Text, QStringLiteral("a and %s"));

    Form.Answer = QMessageBox::No;
    EXPECT_FALSE(Form.Confirm(QStringLiteral("Sure?")));
    Form.Answer = QMessageBox::Yes;
    EXPECT_TRUE(Form.Confirm(QStringLiteral("Sure?")));
    EXPECT_EQ(Form.Boxes.last().Icon, QMessageBox::Question);
    EXPECT_EQ(Form.Boxes.last().Buttons, QMessageBox::Yes | QMessageBox::No);

    // The caption at the time of the box is its title.
    Form.setWindowTitle(QStringLiteral("Other"));
    Form.Warning(QStringLiteral("x"));
    EXPECT_EQ(Form.Boxes.last().Title, QStringLiteral("Other"));
}

TEST(FormText, AppTitleVersion) {
    const QString T = QStringLiteral("Veltrask"), V = QStringLiteral("1.3");
    EXPECT_EQ(TVForm::FormatAppTitleVersion(T, V, false, {QStringLiteral("prog")}), QStringLiteral("Veltrask 1.3"));
    EXPECT_EQ(TVForm::FormatAppTitleVersion(T, V, false, {QStringLiteral("prog"), QStringLiteral("-applabel"),
                                                          QStringLiteral("Test")}),
              QStringLiteral("Veltrask 1.3 Test"));
    EXPECT_EQ(TVForm::FormatAppTitleVersion(T, V, false, {QStringLiteral("prog"), QStringLiteral("-applabel")}),
              QStringLiteral("Veltrask 1.3"));
    EXPECT_EQ(TVForm::FormatAppTitleVersion(T, V, false,
                                            {QStringLiteral("prog"), QStringLiteral("-applabel"), QStringLiteral("A"),
                                             QStringLiteral("-applabel"), QStringLiteral("B")}),
              QStringLiteral("Veltrask 1.3 A"));
    EXPECT_EQ(TVForm::FormatAppTitleVersion(T, V, true, {QStringLiteral("prog"), QStringLiteral("-applabel"),
                                                         QStringLiteral("Test")}),
              QStringLiteral("Veltrask 1.3"));
    // The program's own path is not an argument.
    EXPECT_EQ(TVForm::FormatAppTitleVersion(T, V, false, {QStringLiteral("-applabel"), QStringLiteral("X")}),
              QStringLiteral("Veltrask 1.3"));
    EXPECT_EQ(TVForm::BuildFilePath(QString(), QStringLiteral("qx.ini")), QStringLiteral("qx.ini"));
    EXPECT_EQ(TVForm::BuildFilePath(QStringLiteral("/etc"), QStringLiteral("qx.ini")), QStringLiteral("/etc/qx.ini"));
}

TEST(FormText, EncodeDecodeValue) {
    const QString S = QStringLiteral("a\tb\\c\r\nd\\n");
    EXPECT_EQ(TVForm::EncodeValue(S), QStringLiteral("a\\tb\\\\c\\r\\nd\\\\n"));
    EXPECT_EQ(TVForm::DecodeValue(TVForm::EncodeValue(S)), S);
    EXPECT_EQ(TVForm::DecodeValue(QStringLiteral("\\x")), QStringLiteral("x"));
    EXPECT_EQ(TVForm::DecodeValue(QStringLiteral("ab\\")), QStringLiteral("ab\\"));
    EXPECT_EQ(TVForm::DecodeValue(QStringLiteral("\\\\n")), QStringLiteral("\\n"));
    EXPECT_EQ(TVForm::DecodeValue(QString()), QString());
}

TEST(FormControls, ComboSelection) {
    QComboBox Combo;
    Combo.addItems({QStringLiteral("UTF-8 without BOM"), QStringLiteral("UTF-8"), QStringLiteral("Ärger")});
    EXPECT_TRUE(TVForm::SetComboText(&Combo, QStringLiteral("utf-8")));
    EXPECT_EQ(Combo.currentIndex(), 1);
    // Only A to Z fold; other letters must match exactly.
    EXPECT_FALSE(TVForm::SetComboText(&Combo, QStringLiteral("ärger")));
    EXPECT_EQ(Combo.currentIndex(), -1);
    EXPECT_TRUE(TVForm::SetComboIndex(&Combo, 2));
    EXPECT_EQ(Combo.currentIndex(), 2);
    EXPECT_FALSE(TVForm::SetComboIndex(&Combo, Combo.count()));
    EXPECT_EQ(Combo.currentIndex(), -1);
    EXPECT_FALSE(TVForm::SetComboIndex(&Combo, -1));

    QLineEdit A, B;
    TVForm::EnableControls(false, {&A, nullptr, &B});
    EXPECT_FALSE(A.isEnabled());
    EXPECT_FALSE(B.isEnabled());
    TVForm::EnableControls(true, QList<QWidget*>{&A});
    EXPECT_TRUE(A.isEnabled());
    EXPECT_FALSE(B.isEnabled());
}

TEST(FormControls, ControlPositions) {
    TRecordingForm Form;
    auto* Label = new QLabel(QStringLiteral("Threads:"), &Form);
    auto* Edit = new QLineEdit(&Form);
    auto* Button = new QPushButton(&Form);
    Label->setGeometry(10, 40, 50, 15);
    Edit->setGeometry(100, 37, 80, 21);
    Button->setGeometry(300, 36, 30, 25);
    Form.SetControlPos(Edit, Label, Button, 4);
    EXPECT_EQ(Edit->x(), 10 + 50 + 8 + 4);
    EXPECT_EQ(Edit->y(), 37);
    EXPECT_EQ(Button->x(), Edit->x() + 80 + 8);
    EXPECT_EQ(Button->y(), 36);
    const int Dpi = Form.logicalDpiY();
    if (Dpi == 96) {
        EXPECT_EQ(Label->y(), 39);
    } else if (Dpi == 120) {
        EXPECT_EQ(Label->y(), 38);
    } else {
        EXPECT_EQ(Label->y(), 40);
    }

    Edit->setGeometry(200, 37, 100, 21);
    Form.SetControlWidth(Edit, Label, nullptr);
    EXPECT_EQ(Edit->x(), 68);
    EXPECT_EQ(Edit->x() + Edit->width(), 300);
}

TEST(FormDrops, EditKeepsTheLastNameMemoAppendsAll) {
    QTemporaryDir Dir;
    const QString A = Dir.filePath(QStringLiteral("a.txt")), B = Dir.filePath(QStringLiteral("b.txt"));
    TRecordingForm Form;
    auto* Edit = new QLineEdit(&Form);
    Edit->setObjectName(QStringLiteral("SourceFileEdit"));
    auto* Memo = new QPlainTextEdit(&Form);
    Memo->setObjectName(QStringLiteral("SourceMemo"));
    Memo->setPlainText(QStringLiteral("old\n"));
    auto* Other = new QLabel(&Form);
    Form.EnableDroppingFile(Edit);
    Form.EnableDroppingFile(Memo);
    Form.EnableDroppingFile(Other);
    QStringList Dropped;
    Form.OnFileDropped = [&](TVForm*, QWidget*, const QString& F) { Dropped.append(F); };
    QStringList MemoDropped;
    Form.OnFilesDropped = [&](TVForm*, QPlainTextEdit*, const QStringList& F) { MemoDropped += F; };

    // Not yet shown: nothing listens.
    DropFiles(Edit, {A});
    EXPECT_TRUE(Edit->text().isEmpty());

    Form.show();
    Form.hide();
    Form.show();
    auto* FoundEdit = Form.findChild<QLineEdit*>(QStringLiteral("SourceFileEdit"));
    auto* FoundMemo = Form.findChild<QPlainTextEdit*>(QStringLiteral("SourceMemo"));
    DropFiles(FoundEdit, {A, B});
    EXPECT_EQ(FoundEdit->text(), B);
    EXPECT_EQ(Dropped, (QStringList{A, B}));

    DropFiles(FoundMemo->viewport(), {A, B});
    EXPECT_EQ(MemoText(FoundMemo), QStringLiteral("old\n") + A + QLatin1Char('\n') + B);
    EXPECT_EQ(MemoDropped, (QStringList{A, B}));
    DropFiles(Other, {A});
    EXPECT_TRUE(Other->text().isEmpty());
}

TEST(FormDrops, HandledFlagAndListViewRows) {
    TRecordingForm Form;
    auto* Edit = new QLineEdit(&Form);
    auto* LV = new TListViewEx(&Form);
    LV->AddColumns({QStringLiteral("File"), QStringLiteral("Size")});
    Form.show();
    // Registered while showing: listens at once.
    Form.EnableDroppingFile(Edit);
    Form.EnableDroppingFile(LV);
    Form.EnableDroppingFile(LV);
    Form.OnDropFile = [](TVForm*, QWidget*, const QString&, bool& Handled) { Handled = true; };
    DropFiles(Edit, {QStringLiteral("/tmp/x")});
    EXPECT_TRUE(Edit->text().isEmpty());

    QList<int> Items;
    Form.OnFileItemDropped = [&](TVForm*, TListViewEx*, const QString&, int Item) { Items.append(Item); };
    DropFiles(LV->viewport(), {QStringLiteral("/tmp/x"), QStringLiteral("/tmp/y")});
    ASSERT_EQ(LV->ItemCount(), 2);
    EXPECT_EQ(LV->ItemCaption(1), QStringLiteral("/tmp/y"));
    EXPECT_EQ(Items, (QList<int>{0, 1}));

    Form.OnDropFileItem = [](TVForm*, TListViewEx*, const QString& F, bool& Handled) {
        Handled = F.endsWith(QLatin1Char('z'));
    };
    DropFiles(LV->viewport(), {QStringLiteral("/tmp/z"), QStringLiteral("/tmp/w")});
    ASSERT_EQ(LV->ItemCount(), 3);
    EXPECT_EQ(LV->ItemCaption(2), QStringLiteral("/tmp/w"));

    // Web links are not files.
    QMimeData Mime;
    Mime.setUrls({QUrl(QStringLiteral("https://example.org/a"))});
    QDropEvent Drop(QPointF(5, 5), Qt::CopyAction, &Mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(LV->viewport(), &Drop);
    EXPECT_EQ(LV->ItemCount(), 3);
}

TEST(FormInterception, NewestFirstAndRemovalRestores) {
    TRecordingForm Form;
    auto* Edit = new QLineEdit(&Form);
    QStringList Calls;
    Form.SubClass(Edit, [&](QWidget*, TWinProcHandler*, QEvent* E) {
        if (E->type() == QEvent::User)
            Calls.append(QStringLiteral("first"));
        return false;
    });
    TWinProcHandler* Second = Form.SubClass(Edit, [&](QWidget*, TWinProcHandler*, QEvent* E) {
        if (E->type() != QEvent::User)
            return false;
        Calls.append(QStringLiteral("second"));
        return Calls.size() > 2; // handled from the second round on
    });
    ASSERT_NE(Second, nullptr);
    ASSERT_NE(Second->NextHandler(), nullptr);
    EXPECT_EQ(Second->Control(), Edit);

    QEvent E(QEvent::User);
    QCoreApplication::sendEvent(Edit, &E);
    EXPECT_EQ(Calls, (QStringList{QStringLiteral("second"), QStringLiteral("first")}));
    QCoreApplication::sendEvent(Edit, &E);
    EXPECT_EQ(Calls.size(), 3);

    Form.UnSubClass(Edit);
    Calls.clear();
    QCoreApplication::sendEvent(Edit, &E);
    EXPECT_TRUE(Calls.isEmpty());
    // The control still works on its own.
    Edit->setText(QStringLiteral("ok"));
    EXPECT_EQ(Edit->text(), QStringLiteral("ok"));
}

TEST(FormListView, SaveAndLoadThroughNameValueList) {
    TListViewEx Src;
    Src.AddColumns({QStringLiteral("Zone"), QStringLiteral("Mode"), QStringLiteral("Note")});
    Src.SetCheckboxes(true);
    Src.AddItem(QStringLiteral("a\\b"), {QStringLiteral("x\ty")});
    Src.AddItem(QStringLiteral("two"), {QString(), QStringLiteral("line1\nline2")});
    Src.SetItemChecked(1, true);
    TStringList Values;
    TVForm::SaveListView(&Src, Values, QStringLiteral("Hosts"));
    EXPECT_EQ(Values.Values(QStringLiteral("Hosts[1][0]")), QStringLiteral("a\\\\b"));
    EXPECT_EQ(Values.Values(QStringLiteral("Hosts[1][1]")), QStringLiteral("x\\ty"));
    EXPECT_EQ(Values.IndexOfName(QStringLiteral("Hosts[1][2]")), -1);
    EXPECT_EQ(Values.IndexOfName(QStringLiteral("Hosts[2][1]")), -1);
    EXPECT_EQ(Values.Values(QStringLiteral("HostsChecked[1]")), QStringLiteral("0"));
    EXPECT_EQ(Values.Values(QStringLiteral("HostsChecked[2]")), QStringLiteral("1"));
    EXPECT_EQ(Values.Values(QStringLiteral("HostsN")), QStringLiteral("2"));
    EXPECT_EQ(Values.Names(Values.Count() - 1), QStringLiteral("HostsN"));

    TListViewEx Dst;
    Dst.AddColumns({QStringLiteral("Zone"), QStringLiteral("Mode"), QStringLiteral("Note")});
    Dst.SetCheckboxes(true);
    Dst.AddItem(QStringLiteral("kept"));
    Values.SetValues(QStringLiteral("HostsN"), QStringLiteral("3")); // row 3 has no caption: skipped
    TVForm::LoadListView(&Dst, Values, QStringLiteral("Hosts"));
    ASSERT_EQ(Dst.ItemCount(), 3);
    EXPECT_EQ(Dst.ItemCaption(0), QStringLiteral("kept"));
    EXPECT_EQ(Dst.ItemCaption(1), QStringLiteral("a\\b"));
    EXPECT_EQ(Dst.ItemSubItems(1), (QStringList{QStringLiteral("x\ty"), QString()}));
    EXPECT_EQ(Dst.ItemSubItems(2), (QStringList{QString(), QStringLiteral("line1\nline2")}));
    EXPECT_FALSE(Dst.ItemChecked(1));
    EXPECT_TRUE(Dst.ItemChecked(2));

    Values.SetValues(QStringLiteral("HostsN"), QStringLiteral("many"));
    TVForm::LoadListView(&Dst, Values, QStringLiteral("Hosts"));
    EXPECT_EQ(Dst.ItemCount(), 3);
}

TEST(FormListView, AddUpdateDeleteSelected) {
    TRecordingForm Form;
    TListViewEx LV;
    LV.AddColumns({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")});
    EXPECT_EQ(TVForm::AddListItem(&LV, {}), -1);
    EXPECT_EQ(TVForm::AddListItem(&LV, {QStringLiteral("one"), QStringLiteral("1")}), 0);
    EXPECT_EQ(LV.ItemSubItems(0), (QStringList{QStringLiteral("1"), QString()}));
    EXPECT_EQ(LV.SelectedIndex(), 0);
    TVForm::AddListItem(&LV, {QStringLiteral("two")});
    TVForm::AddListItem(&LV, {QStringLiteral("three")});
    EXPECT_EQ(LV.SelectedIndex(), 2);

    LV.SetItemSubItems(2, {});
    TVForm::UpdateSelected(&LV, {QStringLiteral("THREE"), QStringLiteral("3")});
    EXPECT_EQ(LV.ItemCaption(2), QStringLiteral("THREE"));
    EXPECT_EQ(LV.ItemSubItems(2), (QStringList{QStringLiteral("3"), QString()}));
    EXPECT_EQ(TVForm::FindListItem(&LV, QStringLiteral("three"), true), 2);
    EXPECT_EQ(TVForm::FindListItem(&LV, QStringLiteral("three"), false), -1);

    Form.Answer = QMessageBox::No;
    EXPECT_FALSE(Form.DeleteSelected(&LV, QString()));
    EXPECT_EQ(LV.ItemCount(), 3);
    ASSERT_EQ(Form.Boxes.size(), 1);
    EXPECT_EQ(Form.Boxes[0].Text, QStringLiteral("Delete \"THREE\".\"\r\n\r\nAre you sure?"));
    Form.Answer = QMessageBox::Yes;
    // Deleting the last row selects the one before it.
    EXPECT_TRUE(Form.DeleteSelected(&LV, QStringLiteral("Zones")));
    EXPECT_EQ(Form.Boxes.last().Title, QStringLiteral("Zones"));
    ASSERT_EQ(LV.ItemCount(), 2);
    EXPECT_EQ(LV.SelectedIndex(), 1);
    LV.SetItemSelected(0, true);
    EXPECT_TRUE(Form.DeleteSelected(&LV, QString()));
    EXPECT_EQ(LV.ItemCaption(0), QStringLiteral("two"));
    EXPECT_EQ(LV.SelectedIndex(), 0);
    LV.UnSelectAll();
    EXPECT_FALSE(Form.DeleteSelected(&LV, QString()));
}

TEST(FormListView, CheckedLists) {
    TListViewEx LV;
    LV.AddColumns({QStringLiteral("Zone")});
    LV.SetCheckboxes(true);
    TStringList All, Checked, Out;
    All.Add(QStringLiteral("a"));
    All.Add(QStringLiteral("b"));
    All.Add(QStringLiteral("c"));
    Checked.Add(QStringLiteral("C"));
    TVForm::FillCheckedListView(&LV, Checked, All);
    TVForm::GetCheckedListItems(&LV, Out);
    EXPECT_EQ(Out.ToQStringList(), QStringList{QStringLiteral("c")});
    EXPECT_EQ(TVForm::CheckedCount(&LV), 1);
    TVForm::CheckAllListItems(&LV);
    EXPECT_EQ(TVForm::CheckedCount(&LV), 3);
    LV.SetItemChecked(1, false);
    TVForm::DeleteCheckedListItems(&LV);
    TVForm::GetAllListItems(&LV, Out);
    EXPECT_EQ(Out.ToQStringList(), QStringList{QStringLiteral("b")});
    TVForm::DeleteAllListItems(&LV);
    EXPECT_EQ(LV.ItemCount(), 0);
}

TEST(FormShell, ExploreGoesThroughTheSeam) {
    QList<QPair<QString, bool>> Calls;
    TShellExploreProc Old = SetShellExploreProc([&](const QString& P, bool Select) { Calls.append({P, Select}); });
    QTemporaryDir Dir;
    const QString File = Dir.filePath(QStringLiteral("out.txt"));
    TVForm::ExploreToFile(QString());
    TVForm::ExploreToFile(File);
    EXPECT_TRUE(Calls.isEmpty());
    QFile F(File);
    ASSERT_TRUE(F.open(QIODevice::WriteOnly));
    F.close();
    TVForm::ExploreToFile(File);
    SetShellExploreProc(Old);
    ASSERT_EQ(Calls.size(), 1);
    EXPECT_EQ(Calls[0].first, File);
    EXPECT_TRUE(Calls[0].second);
}
