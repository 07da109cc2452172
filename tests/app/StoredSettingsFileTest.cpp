#include "app/uStoredSettings.h"
#include "support/TestFiles.h"

#include "containers/VHashedStringList.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace {

// --- command-line options ------------------------------------------------------

TSettingsOptions Parse(const QStringList& Args) {
    return ParseSettingsOptions(Args);
}

TEST(StoredSettingsOptions, FolderModes) {
    EXPECT_EQ(Parse({}).Mode, TSettingsDirMode::sdmNone);
    EXPECT_EQ(Parse({"-applabel", "Test"}).Mode, TSettingsDirMode::sdmNone);
    EXPECT_EQ(Parse({"-appsettingsdir"}).Mode, TSettingsDirMode::sdmProgram);

    const TSettingsOptions Dir = Parse({"-settingsdir", "/srv/vt"});
    EXPECT_EQ(Dir.Mode, TSettingsDirMode::sdmExplicit);
    EXPECT_EQ(Dir.SettingsDir, QString("/srv/vt"));

    const TSettingsOptions Cfg = Parse({"-config", "my.ini"});
    EXPECT_EQ(Cfg.Mode, TSettingsDirMode::sdmProgram);
    EXPECT_EQ(Cfg.Config, QString("my.ini"));
    // An empty config value leaves the mode alone.
    EXPECT_EQ(Parse({"-config", ""}).Mode, TSettingsDirMode::sdmNone);
}

TEST(StoredSettingsOptions, LastArgumentWithoutValueAndExactNames) {
    const TSettingsOptions Last = Parse({"-settingsdir"});
    EXPECT_EQ(Last.Mode, TSettingsDirMode::sdmNone);
    EXPECT_TRUE(Last.SettingsDir.isEmpty());
    EXPECT_EQ(Parse({"-config"}).Mode, TSettingsDirMode::sdmNone);
    EXPECT_EQ(Parse({"-SettingsDir", "/x"}).Mode, TSettingsDirMode::sdmNone);
    EXPECT_EQ(Parse({"-APPSETTINGSDIR"}).Mode, TSettingsDirMode::sdmNone);
    // The value is taken whatever it looks like, and skipped.
    const TSettingsOptions Swallow = Parse({"-settingsdir", "-appsettingsdir"});
    EXPECT_EQ(Swallow.Mode, TSettingsDirMode::sdmExplicit);
    EXPECT_EQ(Swallow.SettingsDir, QString("-appsettingsdir"));
}

TEST(StoredSettingsOptions, LaterOptionsOverrideEarlierOnes) {
    EXPECT_EQ(Parse({"-config", "a.ini", "-settingsdir", "/d"}).Mode, TSettingsDirMode::sdmExplicit);
    const TSettingsOptions After = Parse({"-settingsdir", "/d", "-config", "a.ini"});
    EXPECT_EQ(After.Mode, TSettingsDirMode::sdmExplicit);
    EXPECT_EQ(After.Config, QString("a.ini"));
    EXPECT_EQ(Parse({"-settingsdir", "/d", "-appsettingsdir"}).Mode, TSettingsDirMode::sdmProgram);
    EXPECT_EQ(Parse({"-appsettingsdir", "-settingsdir", "/d"}).Mode, TSettingsDirMode::sdmExplicit);
    EXPECT_EQ(Parse({"-settingsdir", "/a", "-settingsdir", "/b"}).SettingsDir, QString("/b"));
}

TEST(StoredSettingsOptions, ValuesAreCutTo260Characters) {
    const QString Long = "/" + QString(400, 'd');
    const TSettingsOptions O = Parse({"-settingsdir", Long, "-config", Long});
    EXPECT_EQ(O.SettingsDir, Long.left(260));
    EXPECT_EQ(O.Config, Long.left(260));
}

TEST(StoredSettingsOptions, ProcessWideParseIsStable) {
    const TSettingsOptions& First = SettingsOptions();
    EXPECT_NE(First.Mode, TSettingsDirMode::sdmNotParsed);
    EXPECT_EQ(&First, &SettingsOptions());
    EXPECT_EQ(GetProgramDir(), QCoreApplication::applicationDirPath());
}

// --- the settings file path ----------------------------------------------------

TEST(StoredSettingsPaths, ConfigFileJoinsNameAndFolder) {
    TSettingsOptions None = Parse({});
    EXPECT_EQ(ResolveAppConfigFile(None, "qx.ini", "/home/u/.config/Veltrask"),
              QString("/home/u/.config/Veltrask/qx.ini"));
    EXPECT_EQ(ResolveAppConfigFile(None, "qx.ini", ""), QString("qx.ini"));

    const TSettingsOptions Bare = Parse({"-config", "other.ini"});
    EXPECT_EQ(ResolveAppConfigFile(Bare, "qx.ini", "/opt/vt"), QString("/opt/vt/other.ini"));
    EXPECT_EQ(ResolveAppConfigFile(Parse({"-config", "/etc/vt.ini"}), "qx.ini", "/opt/vt"), QString("/etc/vt.ini"));
    EXPECT_EQ(ResolveAppConfigFile(Parse({"-config", "D:\\vt.ini"}), "qx.ini", "/opt/vt"), QString("D:\\vt.ini"));

    const TSettingsOptions Dir = Parse({"-settingsdir", "/srv/vt"});
    EXPECT_EQ(ResolveAppConfigFile(Dir, "qx.ini", "/srv/vt"), QString("/srv/vt/qx.ini"));
    EXPECT_EQ(ResolveAppConfigFile(Dir, "qx.ini", ""), QString("/srv/vt/qx.ini"));
    EXPECT_EQ(ResolveAppConfigFile(Parse({"-settingsdir", ""}), "qx.ini", ""), QString("qx.ini"));
}

struct TFolders {
    QTemporaryDir Root;
    QString Program;
    QString AppData;
    TFolders() {
        Program = Root.path() + "/prog";
        AppData = Root.path() + "/config";
        QDir().mkpath(Program);
        QDir().mkpath(AppData);
    }
};

TEST(StoredSettingsPaths, FirstStartCreatesAndSeedsTheProductFolder) {
    TFolders F;
    WriteTestFile(F.Program + "/qx.ini", "Threads=7\r\n");
    WriteTestFile(F.Program + "/notes.txt", "n");
    WriteTestFile(F.Program + "/.hidden.ini", "h");
    QDir().mkpath(F.Program + "/folder.ini");
    const TSettingsOptions None = Parse({});

    const QString Dir = ResolveAppSettingsDir(None, F.Program, F.AppData, "Veltrask", " qx.ini ; ;*.txt;*.ini");
    EXPECT_EQ(Dir, F.AppData + "/Veltrask");
    EXPECT_EQ(ReadTestFile(Dir + "/qx.ini"), QByteArray("Threads=7\r\n"));
    EXPECT_TRUE(QFile::exists(Dir + "/notes.txt"));
    EXPECT_FALSE(QFile::exists(Dir + "/.hidden.ini"));
    EXPECT_FALSE(QFileInfo::exists(Dir + "/folder.ini"));
    EXPECT_EQ(ResolveAppConfigFile(None, "qx.ini", Dir), Dir + "/qx.ini");

    // Later starts use the folder as it is: nothing is copied again.
    QFile::remove(Dir + "/qx.ini");
    EXPECT_EQ(ResolveAppSettingsDir(None, F.Program, F.AppData, "Veltrask", "qx.ini"), Dir);
    EXPECT_FALSE(QFile::exists(Dir + "/qx.ini"));
}

TEST(StoredSettingsPaths, SavingNeverSeedsAndADeletedFolderComesBack) {
    TFolders F;
    WriteTestFile(F.Program + "/qx.ini", "x=1\r\n");
    const TSettingsOptions None = Parse({});
    const QString Dir = ResolveAppSettingsDir(None, F.Program, F.AppData, "Veltrask", "");
    EXPECT_EQ(Dir, F.AppData + "/Veltrask");
    EXPECT_TRUE(QFileInfo(Dir).isDir());
    EXPECT_FALSE(QFile::exists(Dir + "/qx.ini"));
    ASSERT_TRUE(QDir(Dir).removeRecursively());
    EXPECT_EQ(ResolveAppSettingsDir(None, F.Program, F.AppData, "Veltrask", ""), Dir);
    EXPECT_TRUE(QFileInfo(Dir).isDir());
}

TEST(StoredSettingsPaths, OptionFoldersAreUsedAsGiven) {
    TFolders F;
    WriteTestFile(F.Program + "/qx.ini", "x=1\r\n");
    EXPECT_EQ(ResolveAppSettingsDir(Parse({"-appsettingsdir"}), F.Program, F.AppData, "Veltrask", "qx.ini"),
              F.Program);
    EXPECT_EQ(ResolveAppSettingsDir(Parse({"-config", "a.ini"}), F.Program, F.AppData, "Veltrask", "qx.ini"),
              F.Program);
    const QString Explicit = F.Root.path() + "/not/created";
    EXPECT_EQ(ResolveAppSettingsDir(Parse({"-settingsdir", Explicit}), F.Program, F.AppData, "Veltrask", "qx.ini"),
              Explicit);
    EXPECT_FALSE(QFileInfo::exists(Explicit));
    EXPECT_FALSE(QFileInfo::exists(F.AppData + "/Veltrask"));
}

TEST(StoredSettingsPaths, FallsBackToTheProgramFolder) {
    TFolders F;
    const TSettingsOptions None = Parse({});
    EXPECT_EQ(ResolveAppSettingsDir(None, F.Program, "", "Veltrask", "qx.ini"), F.Program);
    EXPECT_EQ(ResolveAppSettingsDir(None, F.Program, F.AppData, "", "qx.ini"), F.Program);
    // The product folder's place is taken by a file.
    WriteTestFile(F.AppData + "/Veltrask", "not a folder");
    EXPECT_EQ(ResolveAppSettingsDir(None, F.Program, F.AppData, "Veltrask", "qx.ini"), F.Program);
    // The configuration folder is a file.
    const QString Blocked = F.Root.path() + "/blocked";
    WriteTestFile(Blocked, "x");
    EXPECT_EQ(ResolveAppSettingsDir(None, F.Program, Blocked, "Veltrask", "qx.ini"), F.Program);
}

TEST(StoredSettingsPaths, MissingConfigFolderIsCreatedAndLeadingSlashIsNotDoubled) {
    TFolders F;
    const TSettingsOptions None = Parse({});
    const QString Fresh = F.Root.path() + "/fresh/.config";
    EXPECT_EQ(ResolveAppSettingsDir(None, F.Program, Fresh, "Veltrask", ""), Fresh + "/Veltrask");
    EXPECT_EQ(ResolveAppSettingsDir(None, F.Program, F.AppData, "/Slashed", ""), F.AppData + "/Slashed");
}

TEST(StoredSettingsPaths, ProcessFunctionsUseTheUsersConfigFolder) {
    if (SettingsOptions().Mode != TSettingsDirMode::sdmNone)
        GTEST_SKIP() << "test run with a settings folder option";
    QTemporaryDir Home;
    const QByteArray Saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", Home.path().toLocal8Bit());
    const QString Dir = GetAppSettingsDir("Veltrask", "");
    const QString File = GetAppConfigFile("qx.ini", Dir);
    if (Saved.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", Saved);
    EXPECT_EQ(Dir, Home.path() + "/Veltrask");
    EXPECT_TRUE(QFileInfo(Dir).isDir());
    EXPECT_EQ(File, Home.path() + "/Veltrask/qx.ini");
}

// --- the file on disk ----------------------------------------------------------

// The main window's two tables with its designed defaults.
struct TWindowControls {
    QPlainTextEdit DNSMemo{"8.8.8.8\n8.8.4.4"};
    QCheckBox DBLCheckBox;
    QComboBox DBLComboBox;
    QPlainTextEdit DBLMemo{"dbl.example.org"};
    QCheckBox RBLCheckBox;
    QComboBox RBLComboBox;
    QPlainTextEdit RBLMemo{"rbl.example.org"};
    QCheckBox AddedCheckBox;
    QCheckBox OutFormatCheckBox;
    QLineEdit OutFormatEdit{"-A OUTPUT -d %ip% -j REJECT"};
    QLineEdit SourceFileEdit;
    QLineEdit ResultFileEdit;
    QTabWidget SourcePageControl;
    QTabWidget ResultPageControl;
    QComboBox OutFileFormatComboBox;
    QComboBox OutFileEndingsComboBox;
    QLineEdit ThreadsEdit{"1"};
    QLineEdit LogFileEdit;
    QCheckBox LogFileCheckBox;
    QCheckBox DetailedLogCheckBox;

    TWindowControls() {
        DBLComboBox.addItems({"Suppress blacklisted", "Out blacklisted"});
        RBLComboBox.addItems({"Suppress blacklisted", "Out blacklisted"});
        SourcePageControl.addTab(new QWidget, "Domain List");
        SourcePageControl.addTab(new QWidget, "Domain File");
        ResultPageControl.addTab(new QWidget, "Resolved List");
        ResultPageControl.addTab(new QWidget, "Resolved File");
        OutFileFormatComboBox.addItems({"UTF-8 without BOM", "UTF-8"});
        OutFileEndingsComboBox.addItems({"Windows", "Unix"});
    }
    TCtrlRecs Main() {
        return {MakeCtrlRec(&DNSMemo, "DNSList"),           MakeCtrlRec(&DBLCheckBox, "DBLCheck"),
                MakeCtrlRec(&DBLComboBox, "DBLMode"),       MakeCtrlRec(&DBLMemo, "DBLServices"),
                MakeCtrlRec(&RBLCheckBox, "RBLCheck"),      MakeCtrlRec(&RBLComboBox, "RBLMode"),
                MakeCtrlRec(&RBLMemo, "RBLServices"),       MakeCtrlRec(&AddedCheckBox, "OutListNew"),
                MakeCtrlRec(&OutFormatCheckBox, "OutFormat"), MakeCtrlRec(&OutFormatEdit, "OutFormatText"),
                MakeCtrlRec(&SourceFileEdit, "SrcFileName"), MakeCtrlRec(&ResultFileEdit, "OutFileName"),
                MakeCtrlRec(&SourcePageControl, "SrcType"), MakeCtrlRec(&ResultPageControl, "OutType"),
                MakeCtrlRec(&OutFileFormatComboBox, "OutFileFormat"),
                MakeCtrlRec(&OutFileEndingsComboBox, "OutFileEndings"), MakeCtrlRec(&ThreadsEdit, "Threads")};
    }
    TCtrlRecs Log() {
        return {MakeCtrlRec(&LogFileEdit, "LogFileName"), MakeCtrlRec(&LogFileCheckBox, "LogFile"),
                MakeCtrlRec(&DetailedLogCheckBox, "DetailedLog")};
    }
    void Save(const QString& Path) {
        TVHashedStringList L(SettingsHashBuckets);
        SaveCtrls(L, StoredSettingsPassphrase(), Main());
        SaveCtrls(L, StoredSettingsPassphrase(), Log());
        SaveSettingsFile(L, Path);
    }
    void Load(const QString& Path) {
        TVHashedStringList L(SettingsHashBuckets);
        LoadSettingsFile(L, Path);
        LoadCtrls(L, StoredSettingsPassphrase(), Main());
        LoadCtrls(L, StoredSettingsPassphrase(), Log());
    }
};

TEST(StoredSettingsFile, DefaultsGiveExactlyThisFile) {
    QTemporaryDir Dir;
    const QString Path = Dir.path() + "/qx.ini";
    TWindowControls W;
    W.Save(Path);
    const QByteArray Expected = "\xEF\xBB\xBF"
                                "DNSList1=8.8.8.8\r\n"
                                "DNSList2=8.8.4.4\r\n"
                                "DNSListN=2\r\n"
                                "DBLCheck=0\r\n"
                                "DBLMode=Suppress blacklisted\r\n"
                                "DBLServices1=dbl.example.org\r\n"
                                "DBLServicesN=1\r\n"
                                "RBLCheck=0\r\n"
                                "RBLMode=Suppress blacklisted\r\n"
                                "RBLServices1=rbl.example.org\r\n"
                                "RBLServicesN=1\r\n"
                                "OutListNew=0\r\n"
                                "OutFormat=0\r\n"
                                "OutFormatText=-A OUTPUT -d %ip% -j REJECT\r\n"
                                "SrcType=0\r\n"
                                "OutType=0\r\n"
                                "OutFileFormat=UTF-8 without BOM\r\n"
                                "OutFileEndings=Windows\r\n"
                                "Threads=1\r\n"
                                "LogFile=0\r\n"
                                "DetailedLog=0\r\n";
    EXPECT_EQ(ReadTestFile(Path), Expected);
}

TEST(StoredSettingsFile, ChangedInputsSurviveARestart) {
    QTemporaryDir Dir;
    const QString Path = Dir.path() + "/qx.ini";
    {
        TWindowControls W;
        W.DNSMemo.setPlainText("1.1.1.1\n\n9.9.9.9");
        W.DBLCheckBox.setChecked(true);
        W.RBLComboBox.setCurrentIndex(1);
        W.OutFormatEdit.clear();
        W.SourceFileEdit.setText(QString::fromUtf8("/home/u/Домены.txt"));
        W.ResultPageControl.setCurrentIndex(1);
        W.OutFileEndingsComboBox.setCurrentIndex(1);
        W.ThreadsEdit.setText("50");
        W.LogFileEdit.setText("/tmp/log.txt");
        W.DetailedLogCheckBox.setChecked(true);
        W.Save(Path);
    }
    const QByteArray Bytes = ReadTestFile(Path);
    EXPECT_FALSE(Bytes.contains("OutFormatText"));
    EXPECT_FALSE(Bytes.contains("DNSList2="));
    EXPECT_TRUE(Bytes.contains(QString::fromUtf8("SrcFileName=/home/u/Домены.txt\r\n").toUtf8()));

    TWindowControls W;
    W.Load(Path);
    EXPECT_EQ(W.DNSMemo.toPlainText(), QString("1.1.1.1\n\n9.9.9.9\n"));
    EXPECT_TRUE(W.DBLCheckBox.isChecked());
    EXPECT_EQ(W.RBLComboBox.currentIndex(), 1);
    EXPECT_EQ(W.OutFormatEdit.text(), QString("-A OUTPUT -d %ip% -j REJECT"));
    EXPECT_EQ(W.SourceFileEdit.text(), QString::fromUtf8("/home/u/Домены.txt"));
    EXPECT_EQ(W.ResultPageControl.currentIndex(), 1);
    EXPECT_EQ(W.OutFileEndingsComboBox.currentText(), QString("Unix"));
    EXPECT_EQ(W.ThreadsEdit.text(), QString("50"));
    EXPECT_EQ(W.LogFileEdit.text(), QString("/tmp/log.txt"));
    EXPECT_TRUE(W.DetailedLogCheckBox.isChecked());
    // Saving what was restored gives the same file, except that the emptied
    // template is back at its default and written again.
    const QString Again = Dir.path() + "/again.ini";
    W.Save(Again);
    QByteArray Expected = Bytes;
    Expected.replace("OutFormat=0\r\n", "OutFormat=0\r\nOutFormatText=-A OUTPUT -d %ip% -j REJECT\r\n");
    EXPECT_EQ(ReadTestFile(Again), Expected);
}

TEST(StoredSettingsFile, ReadsWithOrWithoutMarkAndAnyLineBreak) {
    QTemporaryDir Dir;
    const QString Path = Dir.path() + "/qx.ini";
    WriteTestFile(Path, "Threads=3\rDBLMode=out blacklisted\nnonsense line\r\nThreads = 5\r\nSrcType=1");
    TVHashedStringList L(SettingsHashBuckets);
    LoadSettingsFile(L, Path);
    EXPECT_EQ(L.GetValue("Threads"), QString("3"));
    EXPECT_EQ(L.GetValue("srctype"), QString("1"));
    EXPECT_EQ(L.GetValue("dblmode"), QString("out blacklisted"));
    EXPECT_EQ(L.IndexOf("nonsense line"), -1);

    WriteTestFile(Path, "\xEF\xBB\xBFThreads=4\r\nThreads=6\r\n");
    TVHashedStringList M(SettingsHashBuckets);
    LoadSettingsFile(M, Path);
    EXPECT_EQ(M.Get(0), QString("Threads=4"));
    EXPECT_EQ(M.GetValue("Threads"), QString("6"));
}

TEST(StoredSettingsFile, LineBreakInAValueCannotAddALine) {
    QTemporaryDir Dir;
    const QString Path = Dir.path() + "/qx.ini";
    TWindowControls W;
    W.SourceFileEdit.setText("a.txt\r\nThreads=500\nLogFile=1");
    W.Save(Path);
    TVHashedStringList L(SettingsHashBuckets);
    LoadSettingsFile(L, Path);
    EXPECT_EQ(L.GetValue("Threads"), QString("1"));
    EXPECT_EQ(L.GetValue("LogFile"), QString("0"));
    EXPECT_EQ(L.GetValue("SrcFileName"), QString("a.txt  Threads=500 LogFile=1"));
}

TEST(StoredSettingsFile, MissingFileAndUnwritableTargetRaise) {
    QTemporaryDir Dir;
    TVHashedStringList L(SettingsHashBuckets);
    EXPECT_THROW(LoadSettingsFile(L, Dir.path() + "/absent.ini"), EFileError);
    L.Add("a=1");
    try {
        SaveSettingsFile(L, Dir.path() + "/no/such/folder/qx.ini");
        FAIL() << "no error";
    } catch (const EFileError& E) {
        EXPECT_TRUE(E.Message().contains("qx.ini")) << E.Message().toStdString();
    }
}

TEST(StoredSettingsFile, BinaryGarbageRestoresWhatItCan) {
    QTemporaryDir Dir;
    const QString Path = Dir.path() + "/qx.ini";
    QByteArray Data;
    QRandomGenerator Gen(12345);
    for (int i = 0; i < 200000; ++i)
        Data.append(char(Gen.bounded(256)));
    Data += "\r\nThreads=12\r\nDNSListN=2000000000\r\nDNSList1=8.8.8.8\r\n";
    Data += QByteArray(5000, '\0');
    WriteTestFile(Path, Data);
    TWindowControls W;
    QElapsedTimer T;
    T.start();
    W.Load(Path);
    EXPECT_LT(T.elapsed(), 30000);
    EXPECT_EQ(W.ThreadsEdit.text(), QString("12"));
    EXPECT_TRUE(W.DNSMemo.toPlainText().startsWith("8.8.8.8\n"));
}

// What the window writes it reads back, however big. A DBL memo that made
// qx.ini larger than 16 MiB used to lose itself and every key after it.
TEST(StoredSettingsFile, HugeFileIsReadBackWhole) {
    QTemporaryDir Dir;
    const QString Path = Dir.path() + "/qx.ini";
    QStringList Zones;
    for (int i = 0; i < 17000; ++i)
        Zones << QString("zone%1.").arg(i) + QString(1000, 'z');
    TWindowControls W;
    W.DBLMemo.setPlainText(Zones.join('\n'));
    W.RBLMemo.setPlainText("rbl.after.example");
    W.ThreadsEdit.setText("77");
    W.DetailedLogCheckBox.setChecked(true);
    W.Save(Path);
    ASSERT_GT(QFileInfo(Path).size(), 17 * 1000 * 1000);

    TWindowControls Back;
    Back.Load(Path);
    EXPECT_EQ(Back.DBLMemo.toPlainText().split('\n', Qt::SkipEmptyParts), Zones);
    EXPECT_EQ(Back.RBLMemo.toPlainText(), QString("rbl.after.example\n"));
    EXPECT_EQ(Back.ThreadsEdit.text(), QString("77"));
    EXPECT_TRUE(Back.DetailedLogCheckBox.isChecked());
}

// Only a file that no window could have written is refused, whole and with a
// message, before a byte of it is read.
TEST(StoredSettingsFile, AbsurdFileIsRefusedWithAMessage) {
    QTemporaryDir Dir;
    const QString Path = Dir.path() + "/qx.ini";
    {
        QFile F(Path);
        ASSERT_TRUE(F.open(QIODevice::WriteOnly));
        F.write("Threads=8\r\n");
        ASSERT_TRUE(F.resize(MaxSettingsFileSize + 1));  // sparse: costs no disk
    }
    TVHashedStringList L(SettingsHashBuckets);
    try {
        LoadSettingsFile(L, Path);
        FAIL() << "an absurd file was read";
    } catch (const EFileError& E) {
        EXPECT_TRUE(E.Message().contains(Path)) << E.Message().toStdString();
        EXPECT_TRUE(E.Message().contains("too big")) << E.Message().toStdString();
    }
    EXPECT_EQ(L.Count(), 0);
}

// The file size limit makes the write fail after part of the data went out.
TEST(StoredSettingsFile, FailedSaveLeavesThePreviousFileIntact) {
    QTemporaryDir Dir;
    const QString Path = Dir.path() + "/qx.ini";
    WriteTestFile(Path, "\xEF\xBB\xBFThreads=5\r\n");

    TVHashedStringList L(SettingsHashBuckets);
    for (int i = 0; i < 2000; ++i)
        L.Add(QString("Key%1=%2").arg(i).arg(QString(40, 'v')));

    struct rlimit Old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &Old), 0);
    auto OldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit Small = Old;
    Small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &Small), 0);
    bool Raised = false;
    try {
        SaveSettingsFile(L, Path);
    } catch (const EFileError&) {
        Raised = true;
    }
    setrlimit(RLIMIT_FSIZE, &Old);
    std::signal(SIGXFSZ, OldHandler);

    EXPECT_TRUE(Raised);
    EXPECT_EQ(ReadTestFile(Path), QByteArray("\xEF\xBB\xBFThreads=5\r\n"));
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"qx.ini"});
    // With room again the same save succeeds.
    SaveSettingsFile(L, Path);
    EXPECT_TRUE(ReadTestFile(Path).endsWith("Key1999=" + QByteArray(40, 'v') + "\r\n"));
}

} // namespace
