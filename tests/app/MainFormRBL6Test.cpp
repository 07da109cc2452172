// The window's list of IPv6 blocklist zones: stored under its own keys, so
// that settings files written before it keep their meaning, and handed to
// the job beside the IPv4 zones.
#include "MainFormTestWindow.h"

#include "resolve/QXUtilsUnit.h"

#include <QCheckBox>
#include <QPlainTextEdit>

using MainFormRBL6 = TMainFormTest;

TEST_F(MainFormRBL6, TheIPv6ZonesAreStoredApartAndAnOldFileLeavesThemEmpty) {
    // A file from before the list: its zones stay the IPv4 ones.
    WriteTestFile(SettingsFile(), "RBLCheck=1\r\nRBLServices1=old.zone\r\nRBLServicesN=1\r\n");
    {
        auto F = NewForm();
        EXPECT_EQ(TQXMainForm::MemoLines(F->RBLMemo), QStringList({"old.zone"}));
        EXPECT_TRUE(F->RBL6Memo->toPlainText().isEmpty());
        F->RBL6Memo->setPlainText(QStringLiteral("six.one\nsix.two"));
    }
    const QByteArray Ini = ReadTestFile(SettingsFile());
    EXPECT_TRUE(Ini.contains("RBLServices1=old.zone\r\nRBLServicesN=1\r\n"
                             "RBL6Services1=six.one\r\nRBL6Services2=six.two\r\nRBL6ServicesN=2\r\n"))
        << Ini.toStdString();
    auto F = NewForm();
    EXPECT_EQ(TQXMainForm::MemoLines(F->RBL6Memo), QStringList({"six.one", "six.two"}));
    EXPECT_EQ(TQXMainForm::MemoLines(F->RBLMemo), QStringList({"old.zone"}));
}

TEST_F(MainFormRBL6, ARunTakesEachFamilysZonesAndNeedsOnlyOneOfThem) {
    auto F = NewForm();
    // An IPv6 line in an IPv4 run: skipped without any lookup.
    F->SourceMemo->setPlainText(QStringLiteral("2001:db8::1"));
    F->RBLCheckBox->setChecked(true);
    F->RBLMemo->clear();
    F->RBL6Memo->setPlainText(QStringLiteral("six.zone"));
    ASSERT_TRUE(F->RunAndWait());
    EXPECT_TRUE(F->Boxes.isEmpty()) << F->BoxTexts().join('|').toStdString();
    EXPECT_EQ(F->Utils()->RBLServices()->Count(), 0);
    ASSERT_EQ(F->Utils()->RBL6Services()->Count(), 1);
    EXPECT_EQ(F->Utils()->RBL6Services()->Get(0), QStringLiteral("six.zone"));

    // Neither list: the run is refused as before.
    F->RBL6Memo->clear();
    ASSERT_TRUE(F->RunAndWait());
    EXPECT_EQ(F->Boxes.size(), 1);
}
