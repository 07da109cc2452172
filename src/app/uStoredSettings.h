#pragma once

#include "app/uCipher.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class QWidget;
class TVHashedStringList;

// One row of a store table: the control whose value is kept, the key it is
// kept under (for some kinds the stem of several keys) and whether the value
// is enciphered (honoured for one-line edits only). The control is not owned;
// a row without one is skipped.
struct TCtrlRec {
    QWidget* Ctrl = nullptr;
    QString SName;
    bool Encrypted = false;
};

using TCtrlRecs = QList<TCtrlRec>;

TCtrlRec MakeCtrlRec(QWidget* Ctrl, const QString& SName, bool Encrypted = false);

// Bucket count of the name=value list that holds the settings file.
constexpr unsigned SettingsHashBuckets = 256;

// The fixed passphrase of enciphered values.
QByteArray StoredSettingsPassphrase();

// Restores / stores every row of the table, first to last. Each call keys one
// cipher from the passphrase for the rows flagged Encrypted and wipes it at the end.
void LoadCtrls(TVHashedStringList& List, const QByteArray& Passphrase, const TCtrlRecs& Table);
void SaveCtrls(TVHashedStringList& List, const QByteArray& Passphrase, const TCtrlRecs& Table);

// One control. Supported kinds: QLineEdit, QCheckBox, QComboBox (non-editable:
// the selected item's text, matched without regard to case on load, which then
// emits activated(); editable: the edit text), QListWidget (indexes of the
// checked items), QPlainTextEdit (numbered line block), QTabWidget (page
// index), QDateEdit / QTimeEdit (keyYear/keyMonth/keyDay, keyHour/keyMinute/
// keySecond) and list views, QTreeWidget or TListViewEx unless virtual (rows
// keyR:C, count keyN). Other kinds are skipped.
// Cipher is used by line edits only and may be null.
void LoadCtrl(TVHashedStringList& List, const QString& SName, QWidget* Ctrl, TTwofishCipher* Cipher);
void SaveCtrl(TVHashedStringList& List, const QString& SName, QWidget* Ctrl, TTwofishCipher* Cipher);

// Numbered line block: Stem1 … StemK and StemN = K. Loading joins the lines
// with CR LF after each; an absent or invalid count gives the empty text.
QString LoadLines(TVHashedStringList& List, const QString& Stem, bool SkipEmpty = false);
void SaveLines(TVHashedStringList& List, const QString& Stem, const QString& Text, bool SkipEmpty = false);

// The largest line block LoadLines builds beyond what the list itself holds:
// a damaged count (StemN=2000000000) must not make a start-up hang.
constexpr int MaxStoredLines = 100000;

// One value: 8 random non-zero bytes in front of the data, CFB-8 with the
// register reset, Base64, prefix ":$". The overload taking RandomBytes (exactly
// 8 bytes) exists so the result can be checked against a known answer.
QByteArray EncryptValue(const QByteArray& Data, TTwofishCipher& Cipher);
QByteArray EncryptValue(const QByteArray& Data, TTwofishCipher& Cipher, const QByteArray& RandomBytes);
// A value not starting with ":" is plain and returned unchanged; ":$…" drops
// the 8 random bytes; any other ":…" returns all deciphered bytes.
QByteArray DecryptValue(const QByteArray& Value, TTwofishCipher& Cipher);

// Reading a number the way every store reader does: invalid or absent is -1.
int StoredStrToInt(const QString& S, int Default = -1);

// --- The settings folder and file -----------------------------------------

enum class TSettingsDirMode { sdmNotParsed = 0, sdmNone = -1, sdmProgram = 1, sdmExplicit = 2 };

// Result of the command-line parse: "-appsettingsdir", "-settingsdir <dir>",
// "-config <file>". Option values are cut to MaxOptionLength characters.
struct TSettingsOptions {
    TSettingsDirMode Mode = TSettingsDirMode::sdmNotParsed;
    QString SettingsDir;
    QString Config;
};

constexpr int MaxOptionLength = 260;

// Parses the arguments (without the program name).
TSettingsOptions ParseSettingsOptions(const QStringList& Args);
// The process-wide result, parsed from the command line on first use.
const TSettingsOptions& SettingsOptions();

// The folder of the program file, without a trailing separator.
QString GetProgramDir();

// The settings folder. With no folder option: the product folder inside the
// user's configuration folder, created on first need and then seeded with the
// files of CopyList (masks separated by ";") found beside the program.
QString GetAppSettingsDir(const QString& ProductDirName, const QString& CopyList);
// The settings file: the "-config" name (or DefaultFileName) joined to Dir.
QString GetAppConfigFile(const QString& DefaultFileName, const QString& Dir);

// The same two with every input given, for callers that must not depend on
// the process (tests). AppDataDir empty means the configuration folder is not
// available.
QString ResolveAppSettingsDir(const TSettingsOptions& Options, const QString& ProgramDir,
                              const QString& AppDataDir, const QString& ProductDirName, const QString& CopyList);
QString ResolveAppConfigFile(const TSettingsOptions& Options, const QString& DefaultFileName, const QString& Dir);

// --- The settings file on disk --------------------------------------------

// The biggest settings file read. A real one is a few kilobytes, one with a
// memo of a million lines about 40 MB; a window could not hold the lines of
// a file this size, so a bigger one is damaged and is refused whole rather
// than read in part (keys past a cut would come back as defaults).
constexpr qint64 MaxSettingsFileSize = qint64(1) << 30;

// Reads FileName into List (appending): UTF-8, a leading byte-order mark is
// skipped, lines end at CR LF, CR or LF. Raises EFileError when the file
// cannot be opened or read, or is bigger than MaxSettingsFileSize.
void LoadSettingsFile(TVHashedStringList& List, const QString& FileName);
// The same for the file's bytes; more than MaxSettingsFileSize raises EFileError.
void LoadSettingsData(TVHashedStringList& List, QByteArray Data);
// Writes List to FileName: UTF-8 with byte-order mark, CR LF after every
// line; a CR or LF inside a line is written as a blank. The old file is replaced only when the new one was written completely.
// Raises EFileError with the file system's message.
void SaveSettingsFile(const TVHashedStringList& List, const QString& FileName);
