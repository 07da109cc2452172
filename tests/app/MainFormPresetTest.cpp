#include "MainFormTestWindow.h"

#include "resolve/QXUtilsUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTabWidget>

// The "Preset:" box: it fills the templates, frames the output file with the
// preset's header and footer, and is kept in the settings.

namespace {

class MainFormPreset : public TMainFormTest {
protected:
    static void Choose(TTestMainForm& F, const QString& AName) {
        const int I = F.PresetComboBox->findText(AName);
        ASSERT_GT(I, 0) << Str(AName);
        F.PresetComboBox->setCurrentIndex(I);
        Q_EMIT F.PresetComboBox->activated(I);
    }
};

} // namespace

TEST_F(MainFormPreset, APresetFillsTheTemplatesAndFramesTheFile) {
    VT_REQUIRE_DNS_SERVERS();
    auto F = NewForm();
    UseLocalDns(*F);
    F->PauseEdit->setText(QStringLiteral("0"));
    EXPECT_EQ(F->PresetComboBox->currentIndex(), 0);
    Choose(*F, QStringLiteral("nft"));
    EXPECT_TRUE(F->OutFormatCheckBox->isChecked());
    EXPECT_EQ(Str(F->OutFormatEdit->text()), "add element inet veltrask veltrask4 { %ip% }");
    EXPECT_EQ(Str(F->OutFormat6Edit->text()), "add element inet veltrask veltrask6 { %ip% }");
    EXPECT_EQ(F->OutFileEndingsComboBox->currentIndex(), 1);

    const QString File = TempPath(QStringLiteral("set.nft"));
    F->SourceMemo->setPlainText(QStringLiteral("10.1.0.0/16\n2001:db8::/32\n"));
    F->FamilyComboBox->setCurrentIndex(2);
    F->ResultPageControl->setCurrentIndex(1);
    F->ResultFileEdit->setText(File);
    F->ResultFile6Edit->clear();
    ASSERT_TRUE(F->RunAndWait());
    EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
    const QByteArray Data = ReadTestFile(File);
    EXPECT_TRUE(Data.startsWith("#!/usr/sbin/nft -f\ntable inet veltrask {\n")) << Data.constData();
    EXPECT_TRUE(Data.endsWith("add element inet veltrask veltrask4 { 10.1.0.0/16 }\n"
                              "add element inet veltrask veltrask6 { 2001:db8::/32 }\n"))
        << Data.constData();
    const QString Nft = QStandardPaths::findExecutable(QStringLiteral("nft"), {"/usr/sbin", "/sbin"});
    if (Nft.isEmpty())
        GTEST_SKIP() << "nft is not installed: the file's form is checked, not its loading";
    QProcess P;
    P.setProcessChannelMode(QProcess::MergedChannels);
    P.start(Nft, {"-c", "-f", File});
    ASSERT_TRUE(P.waitForFinished(20000));
    EXPECT_EQ(P.exitCode(), 0) << P.readAll().toStdString();

    // iptables with both families needs the IPv6 file: asked for, no run.
    Choose(*F, QStringLiteral("iptables"));
    F->Boxes.clear();
    ASSERT_TRUE(F->RunAndWait());
    EXPECT_EQ(F->Boxes.size(), 1);
    EXPECT_EQ(ReadTestFile(File), Data);
}

TEST_F(MainFormPreset, TheSettingsKeepThePresetAndTheEditedTemplate) {
    {
        auto F = NewForm();
        Choose(*F, QStringLiteral("ipset"));
        F->OutFormatEdit->setText(QStringLiteral("add mine4 %ip% -exist"));
    }
    const QByteArray Ini = ReadTestFile(SettingsFile());
    EXPECT_TRUE(Ini.contains("Preset=ipset\r\nOutFormat=1\r\nOutFormatText=add mine4 %ip% -exist\r\n")) << Str(Ini);
    {
        auto F = NewForm();
        EXPECT_EQ(Str(F->PresetComboBox->currentText()), "ipset");
        EXPECT_EQ(Str(F->OutFormatEdit->text()), "add mine4 %ip% -exist");
        F->PresetComboBox->setCurrentIndex(0);
    }
    // No preset: no key, as in the files of older versions.
    EXPECT_FALSE(ReadTestFile(SettingsFile()).contains("Preset"));
}
