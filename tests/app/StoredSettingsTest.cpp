#include "app/uStoredSettings.h"

#include "app/ListViewExUnit.h"
#include "containers/VHashedStringList.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTimeEdit>
#include <QTreeWidget>
#include <QWidget>
#include <gtest/gtest.h>

#include <nettle/twofish.h>

namespace {

QStringList Lines(const TStringList& L) {
    return L.ToQStringList();
}

// --- line blocks -------------------------------------------------------------

TEST(StoredSettingsLines, EmptyMiddleLineIsNumberedButNotWritten) {
    TVHashedStringList L(SettingsHashBuckets);
    SaveLines(L, "DNSList", "a\r\n\r\nb\r\n");
    EXPECT_EQ(Lines(L), (QStringList{"DNSList1=a", "DNSList3=b", "DNSListN=3"}));
    EXPECT_EQ(LoadLines(L, "DNSList"), QString("a\r\n\r\nb\r\n"));
    EXPECT_EQ(LoadLines(L, "DNSList", true), QString("a\r\nb\r\n"));
}

TEST(StoredSettingsLines, LineBreakKindsAndFinalBreak) {
    TVHashedStringList L(SettingsHashBuckets);
    SaveLines(L, "S", "x\ry\nz");
    EXPECT_EQ(Lines(L), (QStringList{"S1=x", "S2=y", "S3=z", "SN=3"}));
    TVHashedStringList M(SettingsHashBuckets);
    SaveLines(M, "S", "x\n\n");
    EXPECT_EQ(Lines(M), (QStringList{"S1=x", "SN=2"}));
    TVHashedStringList K(SettingsHashBuckets);
    SaveLines(K, "S", "x\n\ny\n", true);
    EXPECT_EQ(Lines(K), (QStringList{"S1=x", "S2=y", "SN=2"}));
}

TEST(StoredSettingsLines, EmptyTextStoresOnlyTheZeroCount) {
    TVHashedStringList L(SettingsHashBuckets);
    SaveLines(L, "DNSList", "");
    EXPECT_EQ(Lines(L), QStringList{"DNSListN=0"});
    EXPECT_EQ(LoadLines(L, "DNSList"), QString());
}

TEST(StoredSettingsLines, ResavingIntoAFilledListRemovesLinesThatBecameEmpty) {
    TVHashedStringList L(SettingsHashBuckets);
    SaveLines(L, "S", "a\nb\n");
    SaveLines(L, "S", "a\n\n");
    EXPECT_EQ(L.IndexOfName("S2"), -1);
    EXPECT_EQ(L.GetValue("SN"), QString("2"));
}

TEST(StoredSettingsLines, AbsentOrInvalidCountsGiveTheEmptyText) {
    TVHashedStringList L(SettingsHashBuckets);
    L.Add("S1=a");
    EXPECT_EQ(LoadLines(L, "S"), QString());
    L.Add("SN=x2");
    EXPECT_EQ(LoadLines(L, "S"), QString());
    L.SetValue("SN", "-5");
    EXPECT_EQ(LoadLines(L, "S"), QString());
    // A count beyond the stored lines gives empty lines for the missing ones.
    L.SetValue("SN", "3");
    EXPECT_EQ(LoadLines(L, "S"), QString("a\r\n\r\n\r\n"));
}

TEST(StoredSettingsLines, AbsurdCountIsBoundedAndFast) {
    TVHashedStringList L(SettingsHashBuckets);
    L.Add("DNSList1=8.8.8.8");
    L.Add("DNSListN=2000000000");
    QElapsedTimer T;
    T.start();
    const QString Text = LoadLines(L, "DNSList");
    EXPECT_TRUE(Text.startsWith("8.8.8.8\r\n"));
    // The stored line and at most MaxStoredLines empty ones after it.
    EXPECT_EQ(Text.count("\r\n"), MaxStoredLines + 1);
    EXPECT_LT(T.elapsed(), 20000);
}

// --- control kinds -------------------------------------------------------------

TEST(StoredSettingsCtrls, CheckBoxAndEdit) {
    QCheckBox Check;
    QLineEdit Edit("-A OUTPUT -d %ip% -j REJECT");
    TVHashedStringList L(SettingsHashBuckets);
    Check.setChecked(true);
    SaveCtrl(L, "OutFormat", &Check, nullptr);
    SaveCtrl(L, "OutFormatText", &Edit, nullptr);
    EXPECT_EQ(Lines(L), (QStringList{"OutFormat=1", "OutFormatText=-A OUTPUT -d %ip% -j REJECT"}));

    // Only "1" checks; an absent key leaves the box alone.
    L.SetValue("OutFormat", "yes");
    LoadCtrl(L, "OutFormat", &Check, nullptr);
    EXPECT_FALSE(Check.isChecked());
    Check.setChecked(true);
    LoadCtrl(L, "Missing", &Check, nullptr);
    EXPECT_TRUE(Check.isChecked());
}

TEST(StoredSettingsCtrls, EmptiedEditIsNotWrittenAndDefaultComesBack) {
    TVHashedStringList L(SettingsHashBuckets);
    QLineEdit Edit;
    SaveCtrl(L, "OutFormatText", &Edit, nullptr);
    EXPECT_EQ(L.Count(), 0);
    QLineEdit Fresh("-A OUTPUT -d %ip% -j REJECT");
    LoadCtrl(L, "OutFormatText", &Fresh, nullptr);
    EXPECT_EQ(Fresh.text(), QString("-A OUTPUT -d %ip% -j REJECT"));
    // An edit whose value is present takes it, blanks included.
    L.Add("Threads= 5 ");
    QLineEdit Threads("1");
    LoadCtrl(L, "Threads", &Threads, nullptr);
    EXPECT_EQ(Threads.text(), QString(" 5 "));
}

TEST(StoredSettingsCtrls, DropDownListComboMatchesIgnoringCaseAndRunsItsHandler) {
    QComboBox Combo;
    Combo.addItems({"Suppress blacklisted", "Out blacklisted"});
    QSignalSpy Activated(&Combo, &QComboBox::activated);
    TVHashedStringList L(SettingsHashBuckets);
    L.Add("DBLMode=OUT BLACKLISTED");
    LoadCtrl(L, "DBLMode", &Combo, nullptr);
    EXPECT_EQ(Combo.currentIndex(), 1);
    ASSERT_EQ(Activated.count(), 1);
    EXPECT_EQ(Activated.at(0).at(0).toInt(), 1);
    // Already selected: no second run of the handler.
    LoadCtrl(L, "DBLMode", &Combo, nullptr);
    EXPECT_EQ(Activated.count(), 1);
    // A value matching no item changes nothing.
    L.SetValue("DBLMode", "Out");
    LoadCtrl(L, "DBLMode", &Combo, nullptr);
    EXPECT_EQ(Combo.currentIndex(), 1);
    EXPECT_EQ(Activated.count(), 1);

    TVHashedStringList S(SettingsHashBuckets);
    SaveCtrl(S, "DBLMode", &Combo, nullptr);
    EXPECT_EQ(Lines(S), QStringList{"DBLMode=Out blacklisted"});
    Combo.setCurrentIndex(-1);
    TVHashedStringList None(SettingsHashBuckets);
    SaveCtrl(None, "DBLMode", &Combo, nullptr);
    EXPECT_EQ(None.Count(), 0);
}

TEST(StoredSettingsCtrls, EditableComboKeepsItsEditText) {
    QComboBox Combo;
    Combo.setEditable(true);
    Combo.addItems({"one", "two"});
    Combo.setEditText("typed by hand");
    TVHashedStringList L(SettingsHashBuckets);
    SaveCtrl(L, "C", &Combo, nullptr);
    EXPECT_EQ(Lines(L), QStringList{"C=typed by hand"});
    QComboBox Other;
    Other.setEditable(true);
    Other.addItems({"one", "two"});
    LoadCtrl(L, "C", &Other, nullptr);
    EXPECT_EQ(Other.currentText(), QString("typed by hand"));
}

QListWidget* MakeCheckList(QWidget* Parent, int N) {
    auto* Box = new QListWidget(Parent);
    for (int i = 0; i < N; ++i) {
        auto* Item = new QListWidgetItem(QString("item %1").arg(i), Box);
        Item->setFlags(Item->flags() | Qt::ItemIsUserCheckable);
        Item->setCheckState(Qt::Unchecked);
    }
    return Box;
}

TEST(StoredSettingsCtrls, CheckListStoresAscendingIndexes) {
    QWidget Owner;
    QListWidget* Box = MakeCheckList(&Owner, 6);
    Box->item(5)->setCheckState(Qt::Checked);
    Box->item(0)->setCheckState(Qt::Checked);
    Box->item(2)->setCheckState(Qt::Checked);
    TVHashedStringList L(SettingsHashBuckets);
    SaveCtrl(L, "Zones", Box, nullptr);
    EXPECT_EQ(Lines(L), QStringList{"Zones=0,2,5"});

    QListWidget* Other = MakeCheckList(&Owner, 6);
    Other->item(1)->setCheckState(Qt::Checked);
    L.SetValue("Zones", " 3 ,x,-1,99,,4");
    LoadCtrl(L, "Zones", Other, nullptr);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(Other->item(i)->checkState() == Qt::Checked, i == 3 || i == 4) << i;
}

TEST(StoredSettingsCtrls, CheckListWithNothingCheckedWritesNothingAndLoadLeavesItems) {
    QWidget Owner;
    QListWidget* Box = MakeCheckList(&Owner, 3);
    TVHashedStringList L(SettingsHashBuckets);
    SaveCtrl(L, "Zones", Box, nullptr);
    EXPECT_EQ(L.Count(), 0);
    QListWidget* Other = MakeCheckList(&Owner, 3);
    Other->item(1)->setCheckState(Qt::Checked);
    LoadCtrl(L, "Zones", Other, nullptr);
    EXPECT_EQ(Other->item(1)->checkState(), Qt::Checked);
}

TEST(StoredSettingsCtrls, MemoRoundTripKeepsEmptyLines) {
    QPlainTextEdit Memo;
    Memo.setPlainText("a\n\nb");
    TVHashedStringList L(SettingsHashBuckets);
    SaveCtrl(L, "DNSList", &Memo, nullptr);
    EXPECT_EQ(Lines(L), (QStringList{"DNSList1=a", "DNSList3=b", "DNSListN=3"}));
    QPlainTextEdit Other;
    Other.setPlainText("8.8.8.8\n8.8.4.4");
    LoadCtrl(L, "DNSList", &Other, nullptr);
    // Saving again gives the same keys: nothing was lost or added.
    TVHashedStringList Again(SettingsHashBuckets);
    SaveCtrl(Again, "DNSList", &Other, nullptr);
    EXPECT_EQ(Lines(Again), Lines(L));
    // A trailing empty line survives too.
    Memo.setPlainText("a\n\n");
    TVHashedStringList T(SettingsHashBuckets);
    SaveCtrl(T, "M", &Memo, nullptr);
    LoadCtrl(T, "M", &Other, nullptr);
    TVHashedStringList T2(SettingsHashBuckets);
    SaveCtrl(T2, "M", &Other, nullptr);
    EXPECT_EQ(T2.GetValue("MN"), QString("2"));
}

TEST(StoredSettingsCtrls, MemoLoadsOnlyWhenTheCountIsPresent) {
    QPlainTextEdit Memo;
    Memo.setPlainText("8.8.8.8\n8.8.4.4");
    TVHashedStringList L(SettingsHashBuckets);
    L.Add("DNSList1=1.1.1.1");
    LoadCtrl(L, "DNSList", &Memo, nullptr);
    EXPECT_EQ(Memo.toPlainText(), QString("8.8.8.8\n8.8.4.4"));
    // An emptied memo was stored as a zero count and comes back empty.
    L.Add("DNSListN=0");
    LoadCtrl(L, "DNSList", &Memo, nullptr);
    EXPECT_EQ(Memo.toPlainText(), QString());
    // An invalid count restores an empty memo as well.
    Memo.setPlainText("x");
    L.SetValue("DNSListN", "many");
    LoadCtrl(L, "DNSList", &Memo, nullptr);
    EXPECT_EQ(Memo.toPlainText(), QString());
}

TEST(StoredSettingsCtrls, PageControlIndexWithinRangeOnly) {
    QTabWidget Pages;
    Pages.addTab(new QWidget, "Domain List");
    Pages.addTab(new QWidget, "Domain File");
    Pages.setCurrentIndex(1);
    TVHashedStringList L(SettingsHashBuckets);
    SaveCtrl(L, "SrcType", &Pages, nullptr);
    EXPECT_EQ(Lines(L), QStringList{"SrcType=1"});
    for (const char* Bad : {"2", "-1", "one", ""}) {
        L.SetValue("SrcType", Bad);
        LoadCtrl(L, "SrcType", &Pages, nullptr);
        EXPECT_EQ(Pages.currentIndex(), 1) << Bad;
    }
    L.SetValue("SrcType", "0");
    LoadCtrl(L, "SrcType", &Pages, nullptr);
    EXPECT_EQ(Pages.currentIndex(), 0);
}

TEST(StoredSettingsCtrls, DatePickerStoresThreeNumbersAndIgnoresBadDates) {
    QDateEdit Picker(QDate(2024, 2, 29));
    TVHashedStringList L(SettingsHashBuckets);
    SaveCtrl(L, "Since", &Picker, nullptr);
    EXPECT_EQ(Lines(L), (QStringList{"SinceYear=2024", "SinceMonth=2", "SinceDay=29"}));

    QDateEdit Other(QDate(2000, 1, 1));
    LoadCtrl(L, "Since", &Other, nullptr);
    EXPECT_EQ(Other.date(), QDate(2024, 2, 29));

    Other.setDate(QDate(2000, 1, 1));
    L.SetValue("SinceMonth", "13");
    LoadCtrl(L, "Since", &Other, nullptr);
    EXPECT_EQ(Other.date(), QDate(2000, 1, 1));
    // April has no 31st: kept as it was.
    L.SetValue("SinceMonth", "4");
    L.SetValue("SinceDay", "31");
    LoadCtrl(L, "Since", &Other, nullptr);
    EXPECT_EQ(Other.date(), QDate(2000, 1, 1));
    L.SetValue("SinceYear", "0");
    L.SetValue("SinceDay", "3");
    LoadCtrl(L, "Since", &Other, nullptr);
    EXPECT_EQ(Other.date(), QDate(2000, 1, 1));
}

TEST(StoredSettingsCtrls, TimePickerStoresThreeNumbersWithinRange) {
    QTimeEdit Picker(QTime(23, 59, 58, 700));
    TVHashedStringList L(SettingsHashBuckets);
    SaveCtrl(L, "At", &Picker, nullptr);
    EXPECT_EQ(Lines(L), (QStringList{"AtHour=23", "AtMinute=59", "AtSecond=58"}));
    QTimeEdit Other(QTime(1, 2, 3));
    LoadCtrl(L, "At", &Other, nullptr);
    EXPECT_EQ(Other.time(), QTime(23, 59, 58, 0));
    L.SetValue("AtHour", "24");
    Other.setTime(QTime(1, 2, 3));
    LoadCtrl(L, "At", &Other, nullptr);
    EXPECT_EQ(Other.time(), QTime(1, 2, 3));
    L.Clear();
    LoadCtrl(L, "At", &Other, nullptr);
    EXPECT_EQ(Other.time(), QTime(1, 2, 3));
}

TEST(StoredSettingsCtrls, ListViewRowsAndCount) {
    QTreeWidget Tree;
    Tree.setColumnCount(3);
    auto* A = new QTreeWidgetItem(&Tree, QStringList{"a", "a1", "a2"});
    auto* B = new QTreeWidgetItem(&Tree, QStringList{"b", "", "b2"});
    Q_UNUSED(A);
    Q_UNUSED(B);
    TVHashedStringList L(SettingsHashBuckets);
    SaveCtrl(L, "Rows", &Tree, nullptr);
    EXPECT_EQ(Lines(L), (QStringList{"Rows1:0=a", "Rows1:1=a1", "Rows1:2=a2", "Rows2:0=b", "Rows2:2=b2", "RowsN=2"}));

    // Existing rows stay; stored rows are appended.
    QTreeWidget Other;
    Other.setColumnCount(3);
    new QTreeWidgetItem(&Other, QStringList{"kept"});
    LoadCtrl(L, "Rows", &Other, nullptr);
    ASSERT_EQ(Other.topLevelItemCount(), 3);
    EXPECT_EQ(Other.topLevelItem(0)->text(0), QString("kept"));
    EXPECT_EQ(Other.topLevelItem(1)->text(2), QString("a2"));
    EXPECT_EQ(Other.topLevelItem(2)->text(1), QString());
    EXPECT_EQ(Other.topLevelItem(2)->text(2), QString("b2"));
}

TEST(StoredSettingsCtrls, ListViewSkipsEmptyCaptionsHonoursCountAndBareKey) {
    TVHashedStringList L(SettingsHashBuckets);
    L.Add("R3:0=third");
    L.Add("R1:0=first");
    L.Add("R01:0=not a row key");
    L.Add("R5:0=beyond the count");
    L.Add("RN=4");
    QTreeWidget Tree;
    LoadCtrl(L, "R", &Tree, nullptr);
    ASSERT_EQ(Tree.topLevelItemCount(), 2);
    EXPECT_EQ(Tree.topLevelItem(0)->text(0), QString("first"));
    EXPECT_EQ(Tree.topLevelItem(1)->text(0), QString("third"));

    // No count: the bare key makes one row.
    TVHashedStringList Bare(SettingsHashBuckets);
    Bare.Add("R=single");
    QTreeWidget One;
    LoadCtrl(Bare, "R", &One, nullptr);
    ASSERT_EQ(One.topLevelItemCount(), 1);
    EXPECT_EQ(One.topLevelItem(0)->text(0), QString("single"));

    // A huge count costs one pass over the list, not two billion look-ups.
    L.SetValue("RN", "2000000000");
    QTreeWidget Big;
    QElapsedTimer T;
    T.start();
    LoadCtrl(L, "R", &Big, nullptr);
    EXPECT_EQ(Big.topLevelItemCount(), 3);
    EXPECT_LT(T.elapsed(), 20000);
}

TEST(StoredSettingsCtrls, ProjectListViewRoundTripAndVirtualRowsSkipped) {
    TListViewEx View;
    View.AddColumns({"Name", "Address", "Note"});
    View.AddItem("one", {"1.2.3.4", "first"});
    View.AddItem("two", {"5.6.7.8"});
    TVHashedStringList L(SettingsHashBuckets);
    SaveCtrl(L, "Hosts", &View, nullptr);
    EXPECT_EQ(Lines(L), (QStringList{"Hosts1:0=one", "Hosts1:1=1.2.3.4", "Hosts1:2=first", "Hosts2:0=two",
                                     "Hosts2:1=5.6.7.8", "HostsN=2"}));
    TListViewEx Other;
    Other.AddColumns({"Name", "Address", "Note"});
    LoadCtrl(L, "Hosts", &Other, nullptr);
    ASSERT_EQ(Other.ItemCount(), 2);
    EXPECT_EQ(Other.ItemCaption(1), QString("two"));
    EXPECT_EQ(Other.ItemSubItems(0), (QStringList{"1.2.3.4", "first"}));
    EXPECT_EQ(Other.ItemSubItems(1).value(0), QString("5.6.7.8"));
    EXPECT_EQ(Other.ItemSubItems(1).value(1), QString());

    TListViewEx Virtual;
    Virtual.SetOwnerData(true);
    Virtual.SetItemCount(5);
    TVHashedStringList V(SettingsHashBuckets);
    SaveCtrl(V, "Threads", &Virtual, nullptr);
    EXPECT_EQ(V.Count(), 0);
    LoadCtrl(L, "Hosts", &Virtual, nullptr);
    EXPECT_EQ(Virtual.ItemCount(), 5);
}

TEST(StoredSettingsCtrls, NullAndUnknownControlsAreSkipped) {
    TVHashedStringList L(SettingsHashBuckets);
    QWidget Plain;
    QTabWidget Pages;
    Pages.addTab(new QWidget, "p");
    const TCtrlRecs Table{MakeCtrlRec(nullptr, "Nothing"), MakeCtrlRec(&Plain, "Plain"),
                          MakeCtrlRec(&Pages, "Page")};
    SaveCtrls(L, StoredSettingsPassphrase(), Table);
    EXPECT_EQ(Lines(L), QStringList{"Page=0"});
    LoadCtrls(L, StoredSettingsPassphrase(), Table);
}

// --- name look-up in the stored list -------------------------------------------

TEST(StoredSettingsNames, LastDuplicateWinsCaseIsIgnoredBlanksAreNot) {
    TVHashedStringList L(SettingsHashBuckets);
    L.Add("Threads = 5");
    L.Add("THREADS=7");
    L.Add("threads=9");
    QLineEdit Edit("1");
    LoadCtrl(L, "Threads", &Edit, nullptr);
    EXPECT_EQ(Edit.text(), QString("9"));

    TVHashedStringList Blank(SettingsHashBuckets);
    Blank.Add("Threads = 5");
    QLineEdit Other("1");
    LoadCtrl(Blank, "Threads", &Other, nullptr);
    EXPECT_EQ(Other.text(), QString("1"));
}

// --- enciphered values ---------------------------------------------------------

// The expected value built step by step from the published pieces: SHA-1 of the
// passphrase as the key, the zero block enciphered as IV, then CFB-8 written
// out here over the raw block function, then Base64.
QByteArray ExpectedEncryptValue(const QByteArray& Pass, const QByteArray& Random8, const QByteArray& Data) {
    const QByteArray Digest = QCryptographicHash::hash(Pass, QCryptographicHash::Sha1);
    std::uint8_t Key[24] = {};
    std::memcpy(Key, Digest.constData(), 20);
    twofish_ctx Ctx;
    twofish_set_key(&Ctx, 24, Key);
    std::uint8_t Reg[16] = {};
    std::uint8_t Tmp[16];
    twofish_encrypt(&Ctx, 16, Tmp, Reg);
    std::memcpy(Reg, Tmp, 16);
    const QByteArray Plain = Random8 + Data;
    QByteArray Out;
    for (char P : Plain) {
        twofish_encrypt(&Ctx, 16, Tmp, Reg);
        const std::uint8_t C = std::uint8_t(P) ^ Tmp[0];
        for (int i = 0; i < 15; ++i)
            Reg[i] = Reg[i + 1];
        Reg[15] = C;
        Out.append(char(C));
    }
    return ":$" + Out.toBase64();
}

TEST(StoredSettingsCipher, KnownAnswerFromFixedRandomBytes) {
    const QByteArray Pass = "Abc123!?xyz_7890";
    const QByteArray Random8("\x01\x02\x03\x04\xfd\xfe\xff\x80", 8);
    TTwofishCipher C;
    C.InitStr(Pass);
    const QByteArray Value = EncryptValue("secret value", C, Random8);
    EXPECT_EQ(Value, ExpectedEncryptValue(Pass, Random8, "secret value"));
    EXPECT_TRUE(Value.startsWith(":$"));
    EXPECT_EQ(DecryptValue(Value, C), QByteArray("secret value"));
    // The register starts over for each value: the same input gives the same output.
    EXPECT_EQ(EncryptValue("secret value", C, Random8), Value);
    EXPECT_THROW(EncryptValue("x", C, QByteArray(7, 'x')), ECipherError);
}

TEST(StoredSettingsCipher, PlainAndPrefixlessForms) {
    TTwofishCipher C;
    C.InitStr(StoredSettingsPassphrase());
    EXPECT_EQ(DecryptValue("plain text", C), QByteArray("plain text"));
    EXPECT_EQ(DecryptValue("", C), QByteArray());
    EXPECT_EQ(DecryptValue(":", C), QByteArray());
    EXPECT_EQ(DecryptValue(":$", C), QByteArray());
    // ":" followed by Base64 of the enciphered data without random bytes.
    C.Reset();
    const QByteArray Bare = ":" + Base64Encode(C.EncryptCFB8bit("no prefix bytes"));
    EXPECT_EQ(DecryptValue(Bare, C), QByteArray("no prefix bytes"));
    // ":$" with fewer than eight enciphered bytes leaves nothing.
    C.Reset();
    EXPECT_EQ(DecryptValue(":$" + Base64Encode(C.EncryptCFB8bit("short")), C), QByteArray());
}

TEST(StoredSettingsCipher, RandomBytesAreNonZeroAndValuesDiffer) {
    TTwofishCipher C;
    C.InitStr(StoredSettingsPassphrase());
    const QByteArray First = EncryptValue("same text", C);
    const QByteArray Second = EncryptValue("same text", C);
    EXPECT_NE(First, Second);
    for (int i = 0; i < 200; ++i) {
        const QByteArray V = EncryptValue("", C);
        C.Reset();
        const QByteArray Raw = C.DecryptCFB8bit(Base64Decode(V.mid(2)));
        ASSERT_EQ(Raw.size(), 8);
        EXPECT_FALSE(Raw.contains('\0'));
    }
}

TEST(StoredSettingsCipher, EncryptedEditRoundTripsAsciiAndUtf8) {
    for (const QString& Text : {QString("password 123"), QString::fromUtf8("Пароль – 密码 – ü")}) {
        QLineEdit Edit(Text);
        TVHashedStringList L(SettingsHashBuckets);
        SaveCtrls(L, StoredSettingsPassphrase(), TCtrlRecs{MakeCtrlRec(&Edit, "Pass", true)});
        const QString Stored = L.GetValue("Pass");
        EXPECT_TRUE(Stored.startsWith(":$"));
        EXPECT_FALSE(Stored.contains(Text));
        for (QChar Ch : Stored)
            EXPECT_LT(Ch.unicode(), 128);
        QLineEdit Back;
        LoadCtrls(L, StoredSettingsPassphrase(), TCtrlRecs{MakeCtrlRec(&Back, "Pass", true)});
        EXPECT_EQ(Back.text(), Text);
        // The flag matters for edits only; a check box row stays plain.
        QCheckBox Check;
        Check.setChecked(true);
        SaveCtrls(L, StoredSettingsPassphrase(), TCtrlRecs{MakeCtrlRec(&Check, "Flag", true)});
        EXPECT_EQ(L.GetValue("Flag"), QString("1"));
    }
    // A plain value under an enciphered row is taken as it is.
    TVHashedStringList P(SettingsHashBuckets);
    P.Add("Pass=typed by hand");
    QLineEdit Edit;
    LoadCtrls(P, StoredSettingsPassphrase(), TCtrlRecs{MakeCtrlRec(&Edit, "Pass", true)});
    EXPECT_EQ(Edit.text(), QString("typed by hand"));
}

} // namespace
