#pragma once

#include <QMetaObject>
#include <QPushButton>
#include <QStringList>
#include <functional>

class QFileDialog;
class TButtonEx;
class TListViewEx;

enum class TBrowseType { btFile, btFolder, btList, btFolderList };

// The chosen path (the first one when several were chosen).
using TBrowsePathEvent = std::function<void(TButtonEx* Sender, const QString& APath)>;
// Every chosen path.
using TBrowseListEvent = std::function<void(TButtonEx* Sender, const QStringList& AList)>;

// Sets the file name a file dialog proposes; an empty name clears the proposal.
void SetFileDialogFileName(QFileDialog* Dialog, const QString& FileName);
// The file name a (widget-based) file dialog currently proposes.
QString FileDialogFileName(QFileDialog* Dialog);

// A push button that can browse for a file or folder on behalf of a bound
// edit, memo or list view, starting where that control points and writing the
// choice back; or an explore button that shows an edit's file in the desktop's
// file manager.
class TButtonEx : public QPushButton {
    Q_OBJECT
public:
    explicit TButtonEx(QWidget* AOwner = nullptr);
    TButtonEx(const QString& Text, QWidget* AOwner = nullptr);
    ~TButtonEx() override;

    void SetBrowse(QWidget* ASourceEdit, QFileDialog* AOpenDialog, TBrowsePathEvent AOnBrowsePath = nullptr);
    void SetBrowseFolder(QWidget* ASourceEdit, TBrowsePathEvent AOnBrowsePath = nullptr);
    void SetBrowseList(TListViewEx* ASourceLV, QFileDialog* AOpenDialog, TBrowseListEvent AOnBrowseList = nullptr);
    void SetBrowseFolderList(TListViewEx* ASourceLV, TBrowseListEvent AOnBrowseList = nullptr);
    void SetExplore(QWidget* ASourceEdit);

    // A QLineEdit or a QPlainTextEdit; registered with the window for dropped files.
    QWidget* BrowseSourceEdit() const { return FBrowseSourceEdit; }
    void SetBrowseSourceEdit(QWidget* Value);
    TListViewEx* BrowseSourceLV() const { return FBrowseSourceLV; }
    void SetBrowseSourceLV(TListViewEx* Value);
    QFileDialog* BrowseOpenDialog() const { return FBrowseOpenDialog; }
    void SetBrowseOpenDialog(QFileDialog* Value);
    TBrowseType BrowseType() const { return FBrowseType; }
    void SetBrowseType(TBrowseType Value);
    QFileDialog* BrowseFolderDialog() const { return FBrowseFolderDialog; }
    QWidget* ExploreSourceEdit() const { return FExploreSourceEdit; }
    void SetExploreSourceEdit(QWidget* Value);

    TBrowsePathEvent OnBrowsePath;
    TBrowseListEvent OnBrowseList;

    // The click actions, callable directly.
    void Browse();
    void Explore();

protected:
    // Enter and Return press the focused button, as Space does, in any window.
    void keyPressEvent(QKeyEvent* Event) override;
    // Shows a dialog modally; on confirmation fills AFiles and returns true.
    // Tests answer here instead of showing the dialog.
    virtual bool ExecuteDialog(QFileDialog* ADialog, QStringList& AFiles);

private:
    void SetClickHandler(void (TButtonEx::*Handler)());
    // The text browsing starts from: the bound memo's last non-empty line or the edit's text.
    QString StartText() const;
    QString LastListCaption() const;
    void PrepareFileDialog(const QString& Start, bool KeepFileName);
    void BrowseFile();
    void BrowseFolder();
    void Deliver(const QStringList& Files);
    void RegisterDropTarget(QWidget* Control);

    QWidget* FBrowseSourceEdit = nullptr;
    TListViewEx* FBrowseSourceLV = nullptr;
    QFileDialog* FBrowseOpenDialog = nullptr;
    TBrowseType FBrowseType = TBrowseType::btFile;
    QFileDialog* FBrowseFolderDialog = nullptr;
    QWidget* FExploreSourceEdit = nullptr;
    QMetaObject::Connection FClickConnection;
};

// Every button the windows declare is the extended one.
class TButton : public TButtonEx {
    Q_OBJECT
public:
    using TButtonEx::TButtonEx;
};
