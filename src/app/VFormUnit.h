#pragma once

#include "containers/uException.h"

#include <QList>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QVariantList>
#include <functional>
#include <initializer_list>

class QComboBox;
class QEvent;
class QListWidget;
class QPlainTextEdit;
class TListViewEx;
class TStringList;
class TVForm;
class TWinProcHandler;

// An interception procedure: true when the message (event) is fully handled.
using TCustomWndProc = std::function<bool(QWidget* Control, TWinProcHandler* Handler, QEvent* Message)>;

using TDropFileItemEvent =
    std::function<void(TVForm* Sender, TListViewEx* ListView, const QString& FileName, bool& Handled)>;
using TDropFileEvent = std::function<void(TVForm* Sender, QWidget* Control, const QString& FileName, bool& Handled)>;
using TDropFilesEvent =
    std::function<void(TVForm* Sender, QPlainTextEdit* Memo, const QStringList& FileNames, bool& Handled)>;
using TFileItemDroppedEvent =
    std::function<void(TVForm* Sender, TListViewEx* ListView, const QString& FileName, int Item)>;
using TFileDroppedEvent = std::function<void(TVForm* Sender, QWidget* Control, const QString& FileName)>;
using TFilesDroppedEvent = std::function<void(TVForm* Sender, QPlainTextEdit* Memo, const QStringList& FileNames)>;

// One interception of one control's events. It sits in the control's chain
// of event filters (and its viewport's, for scrolling controls); Qt asks the
// newest filter first, so the newest handler is tried first and an unhandled
// event falls through to the handler installed before it and finally to the
// control itself. Destroying a handler takes it out of the chain and then
// destroys the older ones, leaving the control with its own handling.
class TWinProcHandler : public QObject, public TObject {
    Q_OBJECT
public:
    TWinProcHandler(QWidget* AControl, TCustomWndProc ACustomWndProc, TWinProcHandler* ANextHandler);
    ~TWinProcHandler() override;

    // The handler's procedure: the custom procedure first; false lets the event go on.
    bool WndProc(QEvent* Message);
    // Hands the event to the older handlers and then to the control itself;
    // a custom procedure that calls it should then report the event handled.
    bool InheritedWndProc(QEvent* Message);

    QWidget* Control() const { return FControl; }
    TWinProcHandler* NextHandler() const { return FNextHandler; }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void Install();
    void Uninstall();

    QPointer<QWidget> FControl;
    // The objects whose own event handling ends the chain: the control and,
    // for a scrolling control, its viewport.
    QList<QPointer<QObject>> FControlWndProc;
    TCustomWndProc FCustomWndProc;
    TWinProcHandler* FNextHandler;
    QObject* FTarget = nullptr;
};

// Replaceable way of showing a path in the desktop's file manager; tests swap it.
// SelectItem: show the folder of Path with Path selected; otherwise open the folder Path.
using TShellExploreProc = std::function<void(const QString& Path, bool SelectItem)>;
// Installs Proc (null restores the desktop launcher) and returns the previous one.
TShellExploreProc SetShellExploreProc(TShellExploreProc Proc);
void ShellExplore(const QString& Path, bool SelectItem);

// Memo line helpers shared by the windows and their controls.
// Appends one line; a trailing empty line (the text ends with a break) is reused.
void MemoAddLine(QPlainTextEdit* Memo, const QString& Line);
// Last line that is not empty, searching from the bottom; "" when none.
QString MemoLastNonEmptyLine(QPlainTextEdit* Memo);
// Expands %s, %d, %u, %x and %% with Args in order; a missing argument leaves its placeholder.
QString FormatStr(const QString& Fmt, const QVariantList& Args);

// Base of the program's windows: message boxes titled with the caption, input
// checks that warn once, dropped files on edits, memos and list views, list
// view helpers, combo selection, simple layout and the caption with the version.
class TVForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TVForm(QWidget* AParent = nullptr);
    ~TVForm() override;

    // --- Message boxes; without a title the caption is the title.
    void ErrorMessage(const QString& Msg);
    void ErrorMessage(const QString& Fmt, const QVariantList& Args);
    void ErrorMessage(const QString& Title, const QString& Msg);
    void ErrorMessage(const QString& Title, const QString& Fmt, const QVariantList& Args);
    void Warning(const QString& Msg);
    void Warning(const QString& Fmt, const QVariantList& Args);
    void Warning(const QString& Title, const QString& Msg);
    void Warning(const QString& Title, const QString& Fmt, const QVariantList& Args);
    void Information(const QString& Msg);
    void Information(const QString& Fmt, const QVariantList& Args);
    void Information(const QString& Title, const QString& Msg);
    void Information(const QString& Title, const QString& Fmt, const QVariantList& Args);
    bool Confirm(const QString& Msg);
    bool Confirm(const QString& Fmt, const QVariantList& Args);
    bool Confirm(const QString& Title, const QString& Msg);
    bool Confirm(const QString& Title, const QString& Fmt, const QVariantList& Args);

    // --- Checks: true when acceptable, else one warning and false.
    bool CheckExpr(bool Condition, const QString& WarningText);
    bool CheckIf(bool Condition, const QString& Name);
    bool CheckNotEmpty(const QString& Value, const QString& Name);
    bool CheckStrToInt(const QString& Value, const QString& Name);
    bool CheckStrToInt(const QString& Value, const QString& Name, int MinValue);
    bool CheckStrToInt(const QString& Value, const QString& Name, int MinValue, int MaxValue);
    bool CheckFileExists(const QString& FileName, const QString& Title);
    bool CheckListNotEmpty(const TStringList& List, const QString& Name, bool NotEmptyLines);
    bool CheckListNotEmpty(const QStringList& List, const QString& Name, bool NotEmptyLines);
    bool CheckListItemNotExists(TListViewEx* ListView, int EditIndex, const QString& KindName,
                                bool CaseInsensitive, const QString& Caption);
    bool CheckListItemsChecked(TListViewEx* ListView, const QString& WarningText);
    void WarnPleaseEnter(const QString& What);
    void WarnPleaseEnter(const QString& What, const QString& Title);

    // Signed 32-bit integer: leading blanks, optional sign, decimal digits or
    // hexadecimal after "$", "x", "X", "0x" or "0X"; nothing may follow.
    static bool TryStrToInt(const QString& S, int& Value);

    // --- Files, caption, layout
    static void ExploreToFile(const QString& FileName);
    static QString BuildFilePath(const QString& Folder, const QString& FileName);
    // Title, blank, version; unless No64DebugInfo, a blank and the argument after
    // the first "-applabel" (Args as QCoreApplication::arguments(), program first).
    static QString FormatAppTitleVersion(const QString& AppTitle, const QString& AppVersion, bool No64DebugInfo);
    static QString FormatAppTitleVersion(const QString& AppTitle, const QString& AppVersion, bool No64DebugInfo,
                                         const QStringList& Args);
    static void EnableControls(bool Enabled, std::initializer_list<QWidget*> Controls);
    static void EnableControls(bool Enabled, const QList<QWidget*>& Controls);
    static void ShowControls(bool Visible, std::initializer_list<QWidget*> Controls);
    static void ShowControls(bool Visible, const QList<QWidget*>& Controls);
    static bool SetComboIndex(QComboBox* Combo, int Index);
    static bool SetComboText(QComboBox* Combo, const QString& Text);
    void SetControlPos(QWidget* Control, QWidget* Label, QWidget* Button, int Offset = 0);
    void SetControlWidth(QWidget* Control, QWidget* Label, QWidget* Button);

    // --- Dropped files and interception
    void EnableDroppingFile(QWidget* Control);
    bool IsDroppingFileEnabled(QWidget* Control) const;
    TWinProcHandler* SubClass(QWidget* Control, TCustomWndProc CustomWndProc);
    // Removes every interception of Control; it is left with its own handling.
    void UnSubClass(QWidget* Control);

    // --- name=value escaping and list views kept in a name=value list
    static QString EncodeValue(const QString& S);
    static QString DecodeValue(const QString& S);
    static void LoadListView(TListViewEx* ListView, TStringList& Values, const QString& Stem);
    static void SaveListView(TListViewEx* ListView, TStringList& Values, const QString& Stem);

    // --- List view operations
    static int AddListItem(TListViewEx* ListView, const QStringList& Texts);
    static void UpdateSelected(TListViewEx* ListView, const QStringList& Texts);
    bool DeleteSelected(TListViewEx* ListView, const QString& ConfirmTitle);
    static int FindListItem(TListViewEx* ListView, const QString& Caption, bool CaseInsensitive);
    static void FillCheckedListView(TListViewEx* ListView, TStringList& CheckedList, const TStringList& AllList);
    static void GetAllListItems(TListViewEx* ListView, TStringList& List);
    static void GetCheckedListItems(TListViewEx* ListView, TStringList& List);
    static void CheckAllListItems(TListViewEx* ListView);
    static void UnCheckAllListItems(TListViewEx* ListView);
    static void SelectAllListItems(TListViewEx* ListView);
    static void UnSelectAllListItems(TListViewEx* ListView);
    static void DeleteAllListItems(TListViewEx* ListView);
    static void DeleteCheckedListItems(TListViewEx* ListView);
    static int CheckedCount(TListViewEx* ListView);
    static int CheckedCount(QListWidget* CheckListBox);
    static void ListViewChange(TListViewEx* ListView, int Item);
    static void ListViewSelectItem(TListViewEx* ListView, int& RememberedIndex);

    // --- Events
    TDropFileItemEvent OnDropFileItem;
    TDropFileEvent OnDropFile;
    TDropFilesEvent OnDropFiles;
    TFileItemDroppedEvent OnFileItemDropped;
    TFileDroppedEvent OnFileDropped;
    TFilesDroppedEvent OnFilesDropped;

protected:
    // Every message box goes through here: modal, owned by this window.
    virtual QMessageBox::StandardButton ShowMessageBox(const QString& Title, const QString& Text,
                                                       QMessageBox::Icon Icon, QMessageBox::StandardButtons Buttons);

    virtual void DoDropFileItem(TListViewEx* ListView, const QString& FileName);
    virtual void DoDropFile(QWidget* Control, const QString& FileName);
    virtual void DoDropFiles(QPlainTextEdit* Memo, const QStringList& FileNames);
    virtual void DoFileItemDropped(TListViewEx* ListView, const QString& FileName, int Item);
    virtual void DoFileDropped(QWidget* Control, const QString& FileName);
    virtual void DoFilesDropped(QPlainTextEdit* Memo, const QStringList& FileNames);
    virtual bool HandleDropFiles(QWidget* Control, TWinProcHandler* Handler, QEvent* Message);

    void showEvent(QShowEvent* Event) override;

private:
    QString BoxTitle(const QString& Title) const;
    void InstallDropHandler(QWidget* Control);
    void AlignToEdit(QWidget* Item, QWidget* Edit) const;
    void AlignVertically(QWidget* Control, QWidget* Label, QWidget* Button, bool LabelMayBeEdit) const;

    QList<TWinProcHandler*> fSubClassedCtrls;
    QList<QPointer<QWidget>> fDropFileCtrls;
    // Registered controls already listening for drops, so a second show adds no second handler.
    QSet<QWidget*> FDropHooked;
};
