#include "MainFormTestWindow.h"

#include "app/ButtonExUnit.h"
#include "resolve/QXUtilsUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

using MainFormSettings = TMainFormTest;

namespace {

template <class TMemoWidget> QStringList Lines(const TMemoWidget* Memo) { return TQXMainForm::MemoLines(Memo); }

QByteArray Utf16LE(const QString& S) {
    return QByteArray("\xFF\xFE", 2) + QByteArray(reinterpret_cast<const char*>(S.utf16()), S.size() * 2);
}

QByteArray Utf16BE(const QString& S) {
    QByteArray Data("\xFE\xFF", 2);
    for (QChar C : S) {
        Data += char(C.unicode() >> 8);
        Data += char(C.unicode() & 0xFF);
    }
    return Data;
}

} // namespace

TEST_F(MainFormSettings, AWindowWithItsDefaultsWritesBothTablesInOrder) {
    NewForm().reset();
    EXPECT_EQ(ReadTestFile(SettingsFile()), QByteArray("\xEF\xBB\xBF"
                                                    "DNSList1=8.8.8.8\r\n"
                                                    "DNSList2=8.8.4.4\r\n"
                                                    "DNSListN=2\r\n"
                                                    "DBLCheck=0\r\n"
                                                    "DBLMode=Suppress blacklisted\r\n"
                                                    "DBLServices1=dbl.spamhaus.org\r\n"
                                                    "DBLServicesN=1\r\n"
                                                    "RBLCheck=0\r\n"
                                                    "RBLMode=Suppress blacklisted\r\n"
                                                    "RBLServices1=zen.spamhaus.org\r\n"
                                                    "RBLServicesN=1\r\n"
                                                    "RBL6ServicesN=0\r\n"
                                                    "OutListNew=0\r\n"
                                                    "Preset=(none)\r\n"
                                                    "OutFormat=0\r\n"
                                                    "OutFormatText=-A OUTPUT -d %ip% -j REJECT\r\n"
                                                    "SrcType=0\r\n"
                                                    "OutType=0\r\n"
                                                    "OutFileFormat=UTF-8 without BOM\r\n"
                                                    "OutFileEndings=Unix\r\n"
                                                    "Threads=1\r\n"
                                                    "DNSRetries=0\r\n"
                                                    "PauseMSec=200\r\n"
                                                    "DNSTimeoutMSec=5000\r\n"
                                                    "MaxQPS=0\r\n"
                                                    "KeepSpecial=0\r\n"
                                                    "CheckFailDrop=0\r\n"
                                                    "AddressFamily=IPv4\r\n"
                                                    "LogFile=0\r\n"
                                                    "DetailedLog=0\r\n"));
    // The three list files are always written, empty ones too.
    for (const char* Name : {"srclist.txt", "outlist.txt", "newlist.txt"})
        EXPECT_EQ(ReadTestFile(SettingsDir() + QLatin1Char('/') + QLatin1String(Name)), QByteArray()) << Name;
}

TEST_F(MainFormSettings, ANewWindowRestoresEveryStoredControlAndTheLists) {
    {
        auto F = NewForm();
        F->DNSMemo->setPlainText(QStringLiteral("1.1.1.1\n\n9.9.9.9"));
        F->DBLCheckBox->setChecked(true);
        F->DBLComboBox->setCurrentIndex(1);
        F->DBLMemo->setPlainText(QStringLiteral("dbl.one\ndbl.two"));
        F->RBLCheckBox->setChecked(true);
        F->RBLComboBox->setCurrentIndex(1);
        F->RBLMemo->setPlainText(QStringLiteral("rbl.one"));
        F->AddedCheckBox->setChecked(true);
        F->OutFormatCheckBox->setChecked(true);
        F->OutFormatEdit->setText(QStringLiteral("deny %ip% # %domain%"));
        F->SourceFileEdit->setText(QStringLiteral("/data/in.txt"));
        F->ResultFileEdit->setText(QStringLiteral("/data/out.txt"));
        F->SourcePageControl->setCurrentIndex(1);
        F->ResultPageControl->setCurrentIndex(1);
        F->OutFileFormatComboBox->setCurrentIndex(1);
        // Away from the default (Unix): a stored Windows must come back.
        F->OutFileEndingsComboBox->setCurrentIndex(0);
        F->ThreadsEdit->setText(QStringLiteral("42"));
        F->SpecialCheckBox->setChecked(true);
        F->CheckFailCheckBox->setChecked(true);
        F->LogFileEdit->setText(QStringLiteral("/data/log.txt"));
        F->LogFileCheckBox->setChecked(true);
        F->SourceMemo->setPlainText(QString::fromUtf8("a.test\nb\xC3\xBC.test"));
        F->ResultMemo->setPlainText(QStringLiteral("1.2.3.4\n\n5.6.7.8"));
        F->AddedMemo->setPlainText(QStringLiteral("5.6.7.8"));
        // Not stored: these come back at their defaults.
        F->ResultDelimiterComboBox->setCurrentIndex(1);
        F->AddedDelimiterComboBox->setCurrentIndex(2);
        F->PageControl1->setCurrentIndex(2);
        F->LogPageControl->setCurrentIndex(1);
        EXPECT_TRUE(F->Boxes.isEmpty());
    }
    auto F = NewForm();
    EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
    EXPECT_EQ(Strs(Lines(F->DNSMemo)), (std::vector<std::string>{"1.1.1.1", "", "9.9.9.9"}));
    EXPECT_TRUE(F->DBLCheckBox->isChecked());
    EXPECT_EQ(F->DBLComboBox->currentIndex(), 1);
    EXPECT_EQ(Strs(Lines(F->DBLMemo)), (std::vector<std::string>{"dbl.one", "dbl.two"}));
    EXPECT_TRUE(F->RBLCheckBox->isChecked());
    EXPECT_EQ(F->RBLComboBox->currentIndex(), 1);
    EXPECT_EQ(Strs(Lines(F->RBLMemo)), std::vector<std::string>{"rbl.one"});
    EXPECT_TRUE(F->AddedCheckBox->isChecked());
    EXPECT_TRUE(F->OutFormatCheckBox->isChecked());
    EXPECT_EQ(Str(F->OutFormatEdit->text()), "deny %ip% # %domain%");
    EXPECT_EQ(Str(F->SourceFileEdit->text()), "/data/in.txt");
    EXPECT_EQ(Str(F->ResultFileEdit->text()), "/data/out.txt");
    EXPECT_EQ(F->SourcePageControl->currentIndex(), 1);
    EXPECT_EQ(F->ResultPageControl->currentIndex(), 1);
    EXPECT_EQ(F->OutFileFormatComboBox->currentIndex(), 1);
    EXPECT_EQ(F->OutFileEndingsComboBox->currentIndex(), 0);
    EXPECT_EQ(Str(F->ThreadsEdit->text()), "42");
    EXPECT_TRUE(F->SpecialCheckBox->isChecked());
    EXPECT_TRUE(F->CheckFailCheckBox->isChecked());
    EXPECT_EQ(Str(F->LogFileEdit->text()), "/data/log.txt");
    EXPECT_TRUE(F->LogFileCheckBox->isChecked());
    EXPECT_FALSE(F->DetailedLogCheckBox->isChecked());
    EXPECT_EQ(Strs(Lines(F->SourceMemo)), (std::vector<std::string>{"a.test", "b\xC3\xBC.test"}));
    EXPECT_EQ(Strs(Lines(F->ResultMemo)), (std::vector<std::string>{"1.2.3.4", "", "5.6.7.8"}));
    EXPECT_EQ(Strs(Lines(F->AddedMemo)), std::vector<std::string>{"5.6.7.8"});
    // The counters follow the restored lists.
    EXPECT_EQ(Str(F->SourceListLabel->text()), "List of domains (2):");
    EXPECT_EQ(Str(F->ResultListLabel->text()), "Resolved list (3):");
    EXPECT_EQ(Str(F->AddedCheckBox->text()), "New records (1):");
    EXPECT_EQ(F->ResultDelimiterComboBox->currentIndex(), 0);
    EXPECT_EQ(F->AddedDelimiterComboBox->currentIndex(), 0);
    EXPECT_EQ(F->PageControl1->currentIndex(), 0);
    EXPECT_EQ(F->LogPageControl->currentIndex(), 0);
    // Lists without a remembered encoding: 8-bit code page (UTF-8 here), no mark, CR LF after each line.
    EXPECT_EQ(ReadTestFile(SettingsDir() + QStringLiteral("/srclist.txt")), QByteArray("a.test\r\nb\xC3\xBC.test\r\n"));
}

TEST_F(MainFormSettings, WithoutASettingsFileTheControlsKeepTheirDefaultsAndTheListsAreShown) {
    // A folder with only the user's list: it is the user's list all the same,
    // and closing the window must not leave it empty.
    const QByteArray Src("kept.test\r\nalso.kept.test\r\n");
    WriteTestFile(SettingsDir() + QStringLiteral("/srclist.txt"), Src);
    auto F = NewForm();
    EXPECT_EQ(Strs(Lines(F->SourceMemo)), (std::vector<std::string>{"kept.test", "also.kept.test"}));
    EXPECT_EQ(Strs(Lines(F->DNSMemo)), (std::vector<std::string>{"8.8.8.8", "8.8.4.4"}));
    EXPECT_TRUE(F->Boxes.isEmpty());
    F->FormDestroy();
    EXPECT_EQ(ReadTestFile(SettingsDir() + QStringLiteral("/srclist.txt")), Src);
    EXPECT_TRUE(QFileInfo::exists(SettingsFile()));
}

TEST_F(MainFormSettings, AbsentKeysLeaveTheDefaultsAndEmptiedEditsComeBackAsDefaults) {
    // A file with a few keys only, one of them with blanks around "=".
    WriteTestFile(SettingsFile(), "Threads=7\r\nDNSListN=0\r\nOutFileEndings =Windows\r\nRBLMode=OUT BLACKLISTED\r\n");
    {
        auto F = NewForm();
        EXPECT_EQ(Str(F->ThreadsEdit->text()), "7");
        EXPECT_TRUE(F->DNSMemo->toPlainText().isEmpty()) << "a count of 0 restores an empty memo";
        EXPECT_EQ(F->OutFileEndingsComboBox->currentIndex(), 1) << "the key with a blank is no key: Unix stays";
        EXPECT_EQ(F->RBLComboBox->currentIndex(), 1) << "items match without regard to case";
        EXPECT_EQ(Str(F->OutFormatEdit->text()), "-A OUTPUT -d %ip% -j REJECT");
        EXPECT_EQ(Strs(Lines(F->DBLMemo)), std::vector<std::string>{"dbl.spamhaus.org"});
        // The list files are absent: the memos keep their empty defaults.
        EXPECT_TRUE(F->ResultMemo->toPlainText().isEmpty());
        F->OutFormatEdit->clear();
        F->ThreadsEdit->clear();
    }
    const QByteArray Ini = ReadTestFile(SettingsFile());
    EXPECT_FALSE(Ini.contains("OutFormatText")) << "an empty value is not written";
    EXPECT_FALSE(Ini.contains("Threads="));
    EXPECT_TRUE(Ini.contains("DNSListN=0\r\n"));
    EXPECT_FALSE(Ini.contains("OutFileEndings =")) << "names the tables do not produce are dropped";
    EXPECT_TRUE(QFileInfo::exists(SettingsDir() + QStringLiteral("/srclist.txt")));
    auto F = NewForm();
    EXPECT_EQ(Str(F->OutFormatEdit->text()), "-A OUTPUT -d %ip% -j REJECT");
    EXPECT_EQ(Str(F->ThreadsEdit->text()), "1");
}

TEST_F(MainFormSettings, DetailedLogIsSwitchedOnAtStartWithItsLogFile) {
    const QString LogFile = TempPath(QStringLiteral("start.log"));
    WriteTestFile(SettingsFile(), "LogFileName=" + LogFile.toUtf8() + "\r\nLogFile=1\r\nDetailedLog=1\r\n");
    {
        auto F = NewForm();
        EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
        EXPECT_TRUE(F->DetailedLogCheckBox->isChecked());
        EXPECT_TRUE(F->Utils()->DetailedLog());
        EXPECT_EQ(F->Utils()->LogFileName(), LogFile);
        EXPECT_TRUE(QFileInfo::exists(LogFile));
        EXPECT_FALSE(F->LogFileCheckBox->isEnabled());
        EXPECT_FALSE(F->LogFileEdit->isEnabled());
        EXPECT_FALSE(F->LogFileBrowseButton->isEnabled());
    }
    EXPECT_TRUE(ReadTestFile(SettingsFile()).contains("DetailedLog=1\r\n"));

    // "Log File:" on without a name: the warning at start, detailed logging stays off.
    WriteTestFile(SettingsFile(), "LogFile=1\r\nDetailedLog=1\r\n");
    auto F = NewForm();
    ASSERT_EQ(F->Boxes.size(), 1);
    EXPECT_EQ(Str(F->Boxes[0].Text), "Please, enter Log File Name");
    EXPECT_FALSE(F->DetailedLogCheckBox->isChecked());
    EXPECT_FALSE(F->Utils()->DetailedLog());
    EXPECT_TRUE(F->LogFileEdit->isEnabled());
}

TEST_F(MainFormSettings, AListFileThatCannotBeReadStillOpensTheWindow) {
    WriteTestFile(SettingsFile(), "Threads=9\r\n");
    QDir().mkpath(SettingsDir() + QStringLiteral("/outlist.txt"));
    auto F = NewForm();
    ASSERT_EQ(F->Boxes.size(), 1);
    EXPECT_EQ(F->Boxes[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(Str(F->ThreadsEdit->text()), "9") << "what came before the error is restored";
    EXPECT_TRUE(F->StartButton->isEnabled());
    EXPECT_TRUE(F->SourceMemo->isEnabled());
    QDir().rmdir(SettingsDir() + QStringLiteral("/outlist.txt"));
}

TEST_F(MainFormSettings, ListFilesKeepTheEncodingTheyWereReadIn) {
    const QString Src = QString::fromUtf8("a.test\r\nb\xC3\xBC.test\r\n");
    const QString Out = QString::fromUtf8("10.0.0.9\r\n\xE2\x82\xAC\r\n");
    WriteTestFile(SettingsFile(), "Threads=1\r\n");
    WriteTestFile(SettingsDir() + QStringLiteral("/srclist.txt"), "\xEF\xBB\xBF" + Src.toUtf8());
    WriteTestFile(SettingsDir() + QStringLiteral("/outlist.txt"), Utf16BE(Out));
    WriteTestFile(SettingsDir() + QStringLiteral("/newlist.txt"), Utf16LE(QStringLiteral("n\r\n")));
    {
        auto F = NewForm();
        EXPECT_EQ(Strs(Lines(F->SourceMemo)), (std::vector<std::string>{"a.test", "b\xC3\xBC.test"}));
        EXPECT_EQ(Strs(Lines(F->ResultMemo)), (std::vector<std::string>{"10.0.0.9", "\xE2\x82\xAC"}));
        EXPECT_EQ(Strs(Lines(F->AddedMemo)), std::vector<std::string>{"n"});
        // Edited text is written in the remembered encoding too.
        F->AddedMemo->setPlainText(QStringLiteral("n\nm"));
    }
    EXPECT_EQ(ReadTestFile(SettingsDir() + QStringLiteral("/srclist.txt")), "\xEF\xBB\xBF" + Src.toUtf8());
    EXPECT_EQ(ReadTestFile(SettingsDir() + QStringLiteral("/outlist.txt")), Utf16BE(Out));
    EXPECT_EQ(ReadTestFile(SettingsDir() + QStringLiteral("/newlist.txt")), Utf16LE(QStringLiteral("n\r\nm\r\n")));
}

TEST_F(MainFormSettings, AfterARunTheResultListsTakeTheEncodingOfWhatFilledThem) {
    VT_REQUIRE_DNS_SERVERS();
    const QString OutText = QStringLiteral("10.0.0.1\r\n");
    WriteTestFile(SettingsFile(), "Threads=1\r\nOutListNew=1\r\n");
    WriteTestFile(SettingsDir() + QStringLiteral("/outlist.txt"), Utf16LE(OutText));
    WriteTestFile(SettingsDir() + QStringLiteral("/newlist.txt"), Utf16LE(QStringLiteral("old\r\n")));
    {
        auto F = NewForm();
        F->PauseEdit->setText(QStringLiteral("0"));
        UseLocalDns(*F);
        F->SourceMemo->setPlainText(QStringLiteral("10.7.7.7"));
        ASSERT_TRUE(F->AddedCheckBox->isChecked());
        ASSERT_TRUE(F->RunAndWait());
        EXPECT_EQ(Strs(Lines(F->ResultMemo)), (std::vector<std::string>{"10.0.0.1", "10.7.7.7"}));
    }
    // New records: the result list was a copy of the memo and keeps its
    // encoding; the new-records list is the job's and has none.
    EXPECT_EQ(ReadTestFile(SettingsDir() + QStringLiteral("/outlist.txt")),
              Utf16LE(QStringLiteral("10.0.0.1\r\n10.7.7.7\r\n")));
    EXPECT_EQ(ReadTestFile(SettingsDir() + QStringLiteral("/newlist.txt")), QByteArray("10.7.7.7\r\n"));

    // A plain list run replaces the result list by the job's: no mark any more.
    WriteTestFile(SettingsDir() + QStringLiteral("/outlist.txt"), Utf16LE(OutText));
    {
        auto F = NewForm();
        F->PauseEdit->setText(QStringLiteral("0"));
        UseLocalDns(*F);
        F->AddedCheckBox->setChecked(false);
        F->SourceMemo->setPlainText(QStringLiteral("10.8.8.8"));
        ASSERT_TRUE(F->RunAndWait());
    }
    EXPECT_EQ(ReadTestFile(SettingsDir() + QStringLiteral("/outlist.txt")), QByteArray("10.8.8.8\r\n"));
}

namespace {

// A window whose creation stopped before its settings were restored.
class TUncreatedForm : public TQXMainForm {
public:
    TUncreatedForm() : TQXMainForm(TDeferCreate{}) {}
};

} // namespace

TEST_F(MainFormSettings, AWindowThatNeverRestoredItsSettingsDoesNotOverwriteThem) {
    WriteTestFile(SettingsFile(), "Threads=7\r\n");
    std::make_unique<TUncreatedForm>().reset();
    EXPECT_EQ(ReadTestFile(SettingsFile()), QByteArray("Threads=7\r\n"));
    EXPECT_FALSE(QFileInfo::exists(SettingsDir() + QStringLiteral("/srclist.txt")));
}

namespace {

// A small disk mounted over a folder for one test; needs root.
struct TSmallDisk {
    QString Folder;
    bool Mounted = false;
    QString Why;
    TSmallDisk(const QString& AFolder, int AKiloBytes) : Folder(AFolder) {
        if (geteuid() != 0) {
            Why = QStringLiteral("not running as root");
            return;
        }
        const QByteArray Opt = "size=" + QByteArray::number(AKiloBytes) + "k";
        Mounted = mount("vt-lists", QFile::encodeName(Folder).constData(), "tmpfs", 0, Opt.constData()) == 0;
        if (!Mounted)
            Why = QString::fromLocal8Bit(strerror(errno));
    }
    ~TSmallDisk() {
        if (Mounted)
            umount2(QFile::encodeName(Folder).constData(), MNT_DETACH);
    }
};

// Takes every free block of the disk that holds AFileName.
void FillDisk(const QString& AFileName) {
    QFile Fill(AFileName);
    ASSERT_TRUE(Fill.open(QIODevice::WriteOnly));
    const QByteArray Block(1024, 'x');
    while (Fill.write(Block) == Block.size() && Fill.flush()) {
    }
}

} // namespace

TEST_F(MainFormSettings, AFullDiskLeavesTheOldFilesWhole) {
    const QString Folder = TempPath(QStringLiteral("small"));
    QDir().mkpath(Folder);
    TSmallDisk Disk(Folder, 64);
    if (!Disk.Mounted)
        GTEST_SKIP() << "no small disk: " << Disk.Why.toStdString();
    const QString Saved = Folder + QStringLiteral("/saved.txt");
    const QString List = Folder + QStringLiteral("/srclist.txt");
    auto F = NewForm();
    F->ResultMemo->setPlainText(QStringLiteral("first.test"));
    F->DialogAnswers = {Saved};
    F->ResultSaveButton->click();
    TQXMainForm::WriteListFile(List, {QStringLiteral("first.test")}, std::nullopt);
    ASSERT_EQ(ReadTestFile(Saved), QByteArray("first.test\n"));
    ASSERT_EQ(ReadTestFile(List), QByteArray("first.test\r\n"));
    ASSERT_TRUE(F->Boxes.isEmpty());

    FillDisk(Folder + QStringLiteral("/filler"));
    // Small enough to sit in the write buffer: the error shows only when it is
    // flushed, and the old file must not be replaced by a short one then.
    F->ResultMemo->setPlainText(QStringLiteral("a\nb\nc"));
    F->DialogAnswers = {Saved};
    F->ResultSaveButton->click();
    EXPECT_EQ(ReadTestFile(Saved), QByteArray("first.test\n"));
    ASSERT_EQ(F->Boxes.size(), 1);
    EXPECT_EQ(F->Boxes[0].Icon, QMessageBox::Critical);
    EXPECT_THROW(TQXMainForm::WriteListFile(List, {QStringLiteral("second.test")}, std::nullopt), Exception);
    EXPECT_EQ(ReadTestFile(List), QByteArray("first.test\r\n"));
    EXPECT_EQ(QDir(Folder).entryList(QDir::Files).size(), 3) << "no temporary file is left behind";
    QFile::remove(Folder + QStringLiteral("/filler"));
}
