#include "MainFormTestWindow.h"

#include "resolve/QXUtilsUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTabWidget>

// The "Preset:" box: it fills the templates, makes the run write the same
// document veltrask-cli writes, and is kept in the settings.

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

TEST_F(MainFormPreset, NoneGivesBackTheTemplatesAndAPresetLocksFormatAndLineEndings) {
    auto F = NewForm();
    EXPECT_EQ(Str(F->PresetComboBox->itemText(0)), "(none)");
    F->OutFormatCheckBox->setChecked(false);
    F->OutFormatEdit->setText(QStringLiteral("mine %ip%"));
    F->OutFormat6Edit->setText(QStringLiteral("mine6 %ip%"));
    Choose(*F, QStringLiteral("nft"));
    Choose(*F, QStringLiteral("iptables"));
    EXPECT_TRUE(F->OutFormatCheckBox->isChecked());
    EXPECT_EQ(Str(F->OutFormatEdit->text()), "-A veltrask -d %ip% -j REJECT");
    EXPECT_FALSE(F->OutFileFormatComboBox->isEnabled());
    EXPECT_FALSE(F->OutFileEndingsComboBox->isEnabled());
    F->PresetComboBox->setCurrentIndex(0);
    Q_EMIT F->PresetComboBox->activated(0);
    EXPECT_FALSE(F->OutFormatCheckBox->isChecked());
    EXPECT_EQ(Str(F->OutFormatEdit->text()), "mine %ip%");
    EXPECT_EQ(Str(F->OutFormat6Edit->text()), "mine6 %ip%");
    EXPECT_TRUE(F->OutFileFormatComboBox->isEnabled());
    EXPECT_TRUE(F->OutFileEndingsComboBox->isEnabled());
}

TEST_F(MainFormPreset, TheWindowWritesTheCliDocumentByteForByteInFileAndListMode) {
    VT_REQUIRE_DNS_SERVERS();
    auto F = NewForm();
    UseLocalDns(*F);
    F->PauseEdit->setText(QStringLiteral("0"));
    const QByteArray In = "2001:db8::/32\n10.1.2.3\n10.1.0.0/16\n10.9.9.9\n2001:db8:1::1\n10.9.9.9\n";
    const QString Input = TempPath(QStringLiteral("in.txt"));
    WriteTestFile(Input, In);
    F->SourceMemo->setPlainText(QString::fromLatin1(In));
    F->FamilyComboBox->setCurrentIndex(2);
    // Whatever Format and Line Endings say: the preset's file is UTF-8, LF.
    F->OutFileFormatComboBox->setCurrentIndex(1);
    F->OutFileEndingsComboBox->setCurrentIndex(0);
    for (const char* Preset : {"nft", "ipset", "hosts"}) {
        SCOPED_TRACE(Preset);
        Choose(*F, QString::fromLatin1(Preset));
        const QString File = TempPath(QStringLiteral("win.out")), Cli = TempPath(QStringLiteral("cli.out"));
        F->ResultPageControl->setCurrentIndex(1);
        F->ResultFileEdit->setText(File);
        F->ResultFile6Edit->clear();
        ASSERT_TRUE(F->RunAndWait());
        EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
        QProcess P;
        P.start(QStringLiteral(VT_CLI_PATH), {"-q", "--preset", Preset, "--family", "both", "-o", Cli, Input});
        ASSERT_TRUE(P.waitForFinished(30000));
        ASSERT_EQ(P.exitCode(), 0) << P.readAllStandardError().toStdString();
        const QByteArray Data = ReadTestFile(File);
        EXPECT_EQ(Data, ReadTestFile(Cli));
        EXPECT_FALSE(Data.startsWith("\xEF\xBB\xBF"));
        EXPECT_FALSE(Data.contains('\r'));
        // List mode: the Resolved list holds the same document.
        F->ResultPageControl->setCurrentIndex(0);
        F->ResultMemo->clear();
        ASSERT_TRUE(F->RunAndWait());
        const QString Memo = F->ResultMemo->toPlainText();
        EXPECT_EQ(Memo.isEmpty() ? QByteArray() : (Memo + QLatin1Char('\n')).toUtf8(), Data);
    }

    // iptables with both families needs the IPv6 file: asked for, no run.
    Choose(*F, QStringLiteral("iptables"));
    F->ResultPageControl->setCurrentIndex(1);
    const QByteArray Before = ReadTestFile(F->ResultFileEdit->text());
    F->Boxes.clear();
    ASSERT_TRUE(F->RunAndWait());
    EXPECT_EQ(F->Boxes.size(), 1);
    EXPECT_EQ(ReadTestFile(F->ResultFileEdit->text()), Before);
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
    // No preset: "(none)", which older versions find no item for.
    EXPECT_TRUE(ReadTestFile(SettingsFile()).contains("Preset=(none)\r\n"));
}
