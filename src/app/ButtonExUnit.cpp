#include "app/ButtonExUnit.h"

#include "app/ListViewExUnit.h"
#include "app/VFormUnit.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace {

// Folder part of a path, with its final separator; "" when it has none.
QString ExtractFilePath(const QString& Path) {
    const qsizetype Sep = Path.lastIndexOf(QLatin1Char('/'));
    return Sep >= 0 ? Path.left(Sep + 1) : QString();
}

QString ExtractFileName(const QString& Path) {
    return Path.mid(Path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

void SetFileDialogFileName(QFileDialog* Dialog, const QString& FileName) {
    if (!Dialog)
        return;
    if (!FileName.isEmpty()) {
        Dialog->selectFile(FileName);
        return;
    }
    // selectFile ignores an empty name, so a proposal left from an earlier use is cleared here.
    if (auto* Edit = Dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        Edit->clear();
}

QString FileDialogFileName(QFileDialog* Dialog) {
    if (!Dialog)
        return {};
    if (auto* Edit = Dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        return Edit->text();
    return {};
}

TButtonEx::TButtonEx(QWidget* AOwner) : QPushButton(AOwner) {}

TButtonEx::TButtonEx(const QString& Text, QWidget* AOwner) : QPushButton(Text, AOwner) {}

TButtonEx::~TButtonEx() {
    delete FBrowseFolderDialog;
}

void TButtonEx::keyPressEvent(QKeyEvent* Event) {
    // Outside dialogs a push button ignores Enter unless it is an auto-default one.
    const bool Enter = Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter;
    if (Enter && (Event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && !autoDefault() && !isDefault()) {
        if (!Event->isAutoRepeat())
            click();
        Event->accept();
        return;
    }
    QPushButton::keyPressEvent(Event);
}

void TButtonEx::SetBrowse(QWidget* ASourceEdit, QFileDialog* AOpenDialog, TBrowsePathEvent AOnBrowsePath) {
    SetBrowseSourceEdit(ASourceEdit);
    SetBrowseOpenDialog(AOpenDialog);
    SetBrowseType(TBrowseType::btFile);
    if (AOnBrowsePath)
        OnBrowsePath = std::move(AOnBrowsePath);
}

void TButtonEx::SetBrowseFolder(QWidget* ASourceEdit, TBrowsePathEvent AOnBrowsePath) {
    SetBrowseSourceEdit(ASourceEdit);
    SetBrowseOpenDialog(nullptr);
    SetBrowseType(TBrowseType::btFolder);
    if (AOnBrowsePath)
        OnBrowsePath = std::move(AOnBrowsePath);
}

void TButtonEx::SetBrowseList(TListViewEx* ASourceLV, QFileDialog* AOpenDialog, TBrowseListEvent AOnBrowseList) {
    SetBrowseSourceLV(ASourceLV);
    SetBrowseOpenDialog(AOpenDialog);
    SetBrowseType(TBrowseType::btList);
    if (AOnBrowseList)
        OnBrowseList = std::move(AOnBrowseList);
}

void TButtonEx::SetBrowseFolderList(TListViewEx* ASourceLV, TBrowseListEvent AOnBrowseList) {
    SetBrowseSourceLV(ASourceLV);
    SetBrowseOpenDialog(nullptr);
    SetBrowseType(TBrowseType::btFolderList);
    if (AOnBrowseList)
        OnBrowseList = std::move(AOnBrowseList);
}

void TButtonEx::SetExplore(QWidget* ASourceEdit) {
    SetExploreSourceEdit(ASourceEdit);
}

void TButtonEx::RegisterDropTarget(QWidget* Control) {
    for (QWidget* P = parentWidget(); P; P = P->parentWidget())
        if (auto* Form = qobject_cast<TVForm*>(P)) {
            Form->EnableDroppingFile(Control);
            return;
        }
}

void TButtonEx::SetBrowseSourceEdit(QWidget* Value) {
    FBrowseSourceEdit = Value;
    if (Value)
        RegisterDropTarget(Value);
}

void TButtonEx::SetBrowseSourceLV(TListViewEx* Value) {
    FBrowseSourceLV = Value;
    if (Value)
        RegisterDropTarget(Value);
}

void TButtonEx::SetBrowseOpenDialog(QFileDialog* Value) {
    FBrowseOpenDialog = Value;
    if (Value)
        SetClickHandler(&TButtonEx::Browse);
}

void TButtonEx::SetBrowseType(TBrowseType Value) {
    FBrowseType = Value;
    if (Value != TBrowseType::btFolder && Value != TBrowseType::btFolderList)
        return;
    if (!FBrowseFolderDialog) {
        FBrowseFolderDialog = new QFileDialog(this);
        FBrowseFolderDialog->setObjectName(QStringLiteral("BrowseFolderDialog"));
        FBrowseFolderDialog->setWindowTitle(QStringLiteral("Select Directory"));
        FBrowseFolderDialog->setLabelText(QFileDialog::Accept, QStringLiteral("Select"));
        FBrowseFolderDialog->setAcceptMode(QFileDialog::AcceptOpen);
        // Directory mode accepts only existing folders of the file system.
        FBrowseFolderDialog->setFileMode(QFileDialog::Directory);
        FBrowseFolderDialog->setOption(QFileDialog::ShowDirsOnly, true);
    }
    SetClickHandler(&TButtonEx::Browse);
}

void TButtonEx::SetExploreSourceEdit(QWidget* Value) {
    FExploreSourceEdit = Value;
    if (Value)
        SetClickHandler(&TButtonEx::Explore);
}

void TButtonEx::SetClickHandler(void (TButtonEx::*Handler)()) {
    // One click handler at a time, as a button has one OnClick.
    disconnect(FClickConnection);
    FClickConnection = connect(this, &QPushButton::clicked, this, [this, Handler] { (this->*Handler)(); });
}

bool TButtonEx::ExecuteDialog(QFileDialog* ADialog, QStringList& AFiles) {
    if (ADialog->exec() != QDialog::Accepted)
        return false;
    AFiles = ADialog->selectedFiles();
    return true;
}

QString TButtonEx::StartText() const {
    if (auto* Memo = qobject_cast<QPlainTextEdit*>(FBrowseSourceEdit))
        return MemoLastNonEmptyLine(Memo);
    if (auto* Edit = qobject_cast<QLineEdit*>(FBrowseSourceEdit))
        return Edit->text();
    return {};
}

QString TButtonEx::LastListCaption() const {
    // A virtual list's rows belong to its owner; it is never read here.
    if (!FBrowseSourceLV || FBrowseSourceLV->OwnerData())
        return {};
    for (int I = FBrowseSourceLV->ItemCount() - 1; I >= 0; --I) {
        const QString S = FBrowseSourceLV->ItemCaption(I);
        if (!S.isEmpty())
            return S;
    }
    return {};
}

void TButtonEx::PrepareFileDialog(const QString& Start, bool KeepFileName) {
    QFileDialog* Dialog = FBrowseOpenDialog;
    if (!Start.isEmpty() && QFileInfo(Start).isDir()) {
        Dialog->setDirectory(Start);
        SetFileDialogFileName(Dialog, QString());
        return;
    }
    const QString Folder = ExtractFilePath(Start);
    if (!Folder.isEmpty())
        Dialog->setDirectory(Folder);
    SetFileDialogFileName(Dialog, KeepFileName ? ExtractFileName(Start) : QString());
}

void TButtonEx::Browse() {
    switch (FBrowseType) {
    case TBrowseType::btFile:
    case TBrowseType::btList:
        if (FBrowseOpenDialog)
            BrowseFile();
        break;
    case TBrowseType::btFolder:
    case TBrowseType::btFolderList:
        BrowseFolder();
        break;
    }
}

void TButtonEx::BrowseFile() {
    const bool ListMode = FBrowseType == TBrowseType::btList;
    auto* Memo = ListMode ? nullptr : qobject_cast<QPlainTextEdit*>(FBrowseSourceEdit);
    auto* Edit = ListMode ? nullptr : qobject_cast<QLineEdit*>(FBrowseSourceEdit);
    TListViewEx* ListView = ListMode && FBrowseSourceLV && !FBrowseSourceLV->OwnerData() ? FBrowseSourceLV : nullptr;

    PrepareFileDialog(ListMode ? LastListCaption() : StartText(), Edit != nullptr);
    QFileDialog* Dialog = FBrowseOpenDialog;
    if (Dialog->acceptMode() == QFileDialog::AcceptOpen) {
        if (ListMode || Memo)
            Dialog->setFileMode(QFileDialog::ExistingFiles);
        else if (Dialog->fileMode() == QFileDialog::ExistingFiles)
            Dialog->setFileMode(QFileDialog::ExistingFile);
    }

    QStringList Files;
    if (!ExecuteDialog(Dialog, Files) || Files.isEmpty())
        return;
    if (ListView) {
        for (const QString& F : std::as_const(Files))
            ListView->AddItem(F);
    } else if (Memo) {
        for (const QString& F : std::as_const(Files))
            MemoAddLine(Memo, F);
    } else if (Edit) {
        Edit->setText(Files.first());
    }
    Deliver(Files);
}

void TButtonEx::BrowseFolder() {
    if (!FBrowseFolderDialog)
        return;
    const bool ListMode = FBrowseType == TBrowseType::btFolderList;
    const QString Start = ListMode ? LastListCaption() : StartText();
    if (!Start.isEmpty()) {
        FBrowseFolderDialog->setDirectory(Start);
        SetFileDialogFileName(FBrowseFolderDialog, Start);
    } else {
        SetFileDialogFileName(FBrowseFolderDialog, QString());
    }

    QStringList Files;
    if (!ExecuteDialog(FBrowseFolderDialog, Files) || Files.isEmpty())
        return;
    const QString Folder = Files.first();
    if (ListMode) {
        if (FBrowseSourceLV && !FBrowseSourceLV->OwnerData())
            FBrowseSourceLV->AddItem(Folder);
    } else if (auto* Memo = qobject_cast<QPlainTextEdit*>(FBrowseSourceEdit)) {
        MemoAddLine(Memo, Folder);
    } else if (auto* Edit = qobject_cast<QLineEdit*>(FBrowseSourceEdit)) {
        Edit->setText(Folder);
    }
    Deliver({Folder});
}

void TButtonEx::Deliver(const QStringList& Files) {
    if (OnBrowsePath)
        OnBrowsePath(this, Files.first());
    if (OnBrowseList)
        OnBrowseList(this, Files);
}

void TButtonEx::Explore() {
    auto* Edit = qobject_cast<QLineEdit*>(FExploreSourceEdit);
    if (!Edit)
        return;
    const QString Path = Edit->text();
    if (Path.isEmpty())
        return;
    const QFileInfo Info(Path);
    if (Info.exists() && !Info.isDir()) {
        ShellExplore(Path, true);
        return;
    }
    const QString Folder = ExtractFilePath(Path);
    if (!Folder.isEmpty() && QFileInfo(Folder).isDir())
        ShellExplore(QDir::cleanPath(Folder), false);
}
