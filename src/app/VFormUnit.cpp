#include "app/VFormUnit.h"

#include "app/ListViewExUnit.h"
#include "containers/uStringList.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QUrl>

namespace {

const char* const SPleaseEnter = "Please, enter %s";
const char* const SAlreadyExists = "%s \"%s\" already exists.";
const char* const SFileNotFound = "%s file not found: %s";
const char* const SDeleteConfirm = "Delete \"%s\".\"\r\n\r\nAre you sure?";

// Shows Path in the desktop's file manager. The FileManager1 interface is the
// one shared by the common desktops; without it (or when it fails) the folder
// is simply opened.
void DesktopExplore(const QString& Path, bool SelectItem) {
    const QString Abs = QFileInfo(Path).absoluteFilePath();
    const QString Folder = SelectItem ? QFileInfo(Abs).absolutePath() : Abs;
    auto OpenFolder = [Folder] {
        // No file manager and no opener for folders: say so rather than do nothing.
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(Folder))) {
            QWidget* Parent = QApplication::activeWindow();
            auto* Box = new QMessageBox(QMessageBox::Warning, Parent ? Parent->windowTitle() : QString(),
                                        QStringLiteral("No file manager could be started to show \"%1\".")
                                            .arg(QDir::toNativeSeparators(Folder)),
                                        QMessageBox::Ok, Parent);
            Box->setAttribute(Qt::WA_DeleteOnClose);
            Box->open();
        }
    };
    QDBusConnection Bus = QDBusConnection::sessionBus();
    if (!Bus.isConnected()) {
        OpenFolder();
        return;
    }
    QDBusMessage Msg = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"),
        SelectItem ? QStringLiteral("ShowItems") : QStringLiteral("ShowFolders"));
    Msg << QStringList{QUrl::fromLocalFile(Abs).toString()} << QString();
    // Asynchronous, so a slow or absent file manager never blocks the window.
    auto* Watcher = new QDBusPendingCallWatcher(Bus.asyncCall(Msg, 5000));
    QObject::connect(Watcher, &QDBusPendingCallWatcher::finished, Watcher,
                     [OpenFolder](QDBusPendingCallWatcher* W) {
                         if (W->isError())
                             OpenFolder();
                         W->deleteLater();
                     });
}

TShellExploreProc& ShellExploreProc() {
    static TShellExploreProc Proc = DesktopExplore;
    return Proc;
}

QChar AsciiLower(QChar C) {
    return (C >= QLatin1Char('A') && C <= QLatin1Char('Z')) ? QChar(C.unicode() + 32) : C;
}

// Equal texts when the letters A to Z are compared without case.
bool SameTextAscii(const QString& A, const QString& B) {
    if (A.size() != B.size())
        return false;
    for (qsizetype I = 0; I < A.size(); ++I)
        if (AsciiLower(A[I]) != AsciiLower(B[I]))
            return false;
    return true;
}

QStringList LocalFiles(const QMimeData* Mime) {
    QStringList Result;
    if (!Mime || !Mime->hasUrls())
        return Result;
    for (const QUrl& Url : Mime->urls())
        if (Url.isLocalFile() && !Url.toLocalFile().isEmpty())
            Result.append(QDir::toNativeSeparators(Url.toLocalFile()));
    return Result;
}

QString ItemKey(const QString& Stem, int Row, int Column) {
    return Stem + QLatin1Char('[') + QString::number(Row) + QStringLiteral("][") + QString::number(Column) +
           QLatin1Char(']');
}

QString CheckedKey(const QString& Stem, int Row) {
    return Stem + QStringLiteral("Checked[") + QString::number(Row) + QLatin1Char(']');
}

} // namespace

// ---------------------------------------------------------------------------
// Shell and memo helpers

TShellExploreProc SetShellExploreProc(TShellExploreProc Proc) {
    TShellExploreProc Old = ShellExploreProc();
    ShellExploreProc() = Proc ? std::move(Proc) : TShellExploreProc(DesktopExplore);
    return Old;
}

void ShellExplore(const QString& Path, bool SelectItem) {
    if (ShellExploreProc())
        ShellExploreProc()(Path, SelectItem);
}

void MemoAddLine(QPlainTextEdit* Memo, const QString& Line) {
    if (!Memo)
        return;
    QTextDocument* Doc = Memo->document();
    QTextCursor Cursor(Doc);
    Cursor.movePosition(QTextCursor::End);
    // A text that ends with a line break already has the empty line to fill.
    const bool LastEmpty = Doc->lastBlock().text().isEmpty();
    Cursor.beginEditBlock();
    if (!LastEmpty)
        Cursor.insertBlock();
    Cursor.insertText(Line);
    Cursor.endEditBlock();
}

QString MemoLastNonEmptyLine(QPlainTextEdit* Memo) {
    if (!Memo)
        return {};
    for (QTextBlock B = Memo->document()->lastBlock(); B.isValid(); B = B.previous())
        if (!B.text().isEmpty())
            return B.text();
    return {};
}

QString FormatStr(const QString& Fmt, const QVariantList& Args) {
    QString Result;
    Result.reserve(Fmt.size() + 32);
    int ArgIndex = 0;
    for (qsizetype I = 0; I < Fmt.size(); ++I) {
        const QChar C = Fmt[I];
        if (C != QLatin1Char('%') || I + 1 >= Fmt.size()) {
            Result += C;
            continue;
        }
        const QChar Spec = Fmt[I + 1];
        if (Spec == QLatin1Char('%')) {
            Result += C;
            ++I;
            continue;
        }
        if (Spec != QLatin1Char('s') && Spec != QLatin1Char('d') && Spec != QLatin1Char('u') &&
            Spec != QLatin1Char('x')) {
            Result += C;
            continue;
        }
        ++I;
        if (ArgIndex >= Args.size()) {
            Result += C;
            Result += Spec;
            continue;
        }
        const QVariant& A = Args[ArgIndex++];
        if (Spec == QLatin1Char('s'))
            Result += A.toString();
        else if (Spec == QLatin1Char('d'))
            Result += QString::number(A.toLongLong());
        else if (Spec == QLatin1Char('u'))
            Result += QString::number(A.toULongLong());
        else
            Result += QString::number(A.toULongLong(), 16).toUpper();
    }
    return Result;
}

// ---------------------------------------------------------------------------
// TWinProcHandler

TWinProcHandler::TWinProcHandler(QWidget* AControl, TCustomWndProc ACustomWndProc, TWinProcHandler* ANextHandler)
    : FControl(AControl), FCustomWndProc(std::move(ACustomWndProc)), FNextHandler(ANextHandler) {
    Install();
}

TWinProcHandler::~TWinProcHandler() {
    Uninstall();
    delete FNextHandler;
}

void TWinProcHandler::Install() {
    if (!FControl)
        return;
    FControlWndProc.append(FControl.data());
    if (auto* Area = qobject_cast<QAbstractScrollArea*>(FControl.data()))
        FControlWndProc.append(Area->viewport());
    for (const QPointer<QObject>& Target : std::as_const(FControlWndProc))
        Target->installEventFilter(this);
}

void TWinProcHandler::Uninstall() {
    for (const QPointer<QObject>& Target : std::as_const(FControlWndProc))
        if (Target)
            Target->removeEventFilter(this);
    FControlWndProc.clear();
}

bool TWinProcHandler::eventFilter(QObject* Watched, QEvent* Event) {
    FTarget = Watched;
    return WndProc(Event);
}

bool TWinProcHandler::WndProc(QEvent* Message) {
    return FCustomWndProc && FControl && FCustomWndProc(FControl, this, Message);
}

bool TWinProcHandler::InheritedWndProc(QEvent* Message) {
    if (FNextHandler) {
        FNextHandler->FTarget = FTarget;
        if (FNextHandler->WndProc(Message))
            return true;
        return FNextHandler->InheritedWndProc(Message);
    }
    QObject* Target = FTarget ? FTarget : FControl.data();
    return Target && Target->event(Message);
}

// ---------------------------------------------------------------------------
// TVForm

TVForm::TVForm(QWidget* AParent) : QMainWindow(AParent) {}

TVForm::~TVForm() {
    // Handlers go first, while the controls they filter still exist.
    qDeleteAll(fSubClassedCtrls);
    fSubClassedCtrls.clear();
    fDropFileCtrls.clear();
}

QString TVForm::BoxTitle(const QString& Title) const {
    return Title.isEmpty() ? windowTitle() : Title;
}

QMessageBox::StandardButton TVForm::ShowMessageBox(const QString& Title, const QString& Text,
                                                   QMessageBox::Icon Icon, QMessageBox::StandardButtons Buttons) {
    QMessageBox Box(Icon, Title, Text, Buttons, this);
    return static_cast<QMessageBox::StandardButton>(Box.exec());
}

void TVForm::ErrorMessage(const QString& Msg) {
    ShowMessageBox(BoxTitle({}), Msg, QMessageBox::Critical, QMessageBox::Ok);
}
void TVForm::ErrorMessage(const QString& Fmt, const QVariantList& Args) {
    ErrorMessage(FormatStr(Fmt, Args));
}
void TVForm::ErrorMessage(const QString& Title, const QString& Msg) {
    ShowMessageBox(BoxTitle(Title), Msg, QMessageBox::Critical, QMessageBox::Ok);
}
void TVForm::ErrorMessage(const QString& Title, const QString& Fmt, const QVariantList& Args) {
    ErrorMessage(Title, FormatStr(Fmt, Args));
}

void TVForm::Warning(const QString& Msg) {
    ShowMessageBox(BoxTitle({}), Msg, QMessageBox::Warning, QMessageBox::Ok);
}
void TVForm::Warning(const QString& Fmt, const QVariantList& Args) {
    Warning(FormatStr(Fmt, Args));
}
void TVForm::Warning(const QString& Title, const QString& Msg) {
    ShowMessageBox(BoxTitle(Title), Msg, QMessageBox::Warning, QMessageBox::Ok);
}
void TVForm::Warning(const QString& Title, const QString& Fmt, const QVariantList& Args) {
    Warning(Title, FormatStr(Fmt, Args));
}

void TVForm::Information(const QString& Msg) {
    ShowMessageBox(BoxTitle({}), Msg, QMessageBox::Information, QMessageBox::Ok);
}
void TVForm::Information(const QString& Fmt, const QVariantList& Args) {
    Information(FormatStr(Fmt, Args));
}
void TVForm::Information(const QString& Title, const QString& Msg) {
    ShowMessageBox(BoxTitle(Title), Msg, QMessageBox::Information, QMessageBox::Ok);
}
void TVForm::Information(const QString& Title, const QString& Fmt, const QVariantList& Args) {
    Information(Title, FormatStr(Fmt, Args));
}

bool TVForm::Confirm(const QString& Msg) {
    return Confirm(QString(), Msg);
}
bool TVForm::Confirm(const QString& Fmt, const QVariantList& Args) {
    return Confirm(QString(), FormatStr(Fmt, Args));
}
bool TVForm::Confirm(const QString& Title, const QString& Msg) {
    return ShowMessageBox(BoxTitle(Title), Msg, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}
bool TVForm::Confirm(const QString& Title, const QString& Fmt, const QVariantList& Args) {
    return Confirm(Title, FormatStr(Fmt, Args));
}

// --- Checks

bool TVForm::CheckExpr(bool Condition, const QString& WarningText) {
    if (!Condition && !WarningText.isEmpty())
        Warning(WarningText);
    return Condition;
}

bool TVForm::CheckIf(bool Condition, const QString& Name) {
    if (!Condition)
        WarnPleaseEnter(Name);
    return Condition;
}

bool TVForm::CheckNotEmpty(const QString& Value, const QString& Name) {
    return CheckIf(!Value.isEmpty(), Name);
}

bool TVForm::CheckStrToInt(const QString& Value, const QString& Name) {
    int N = 0;
    return CheckIf(TryStrToInt(Value, N), Name);
}

bool TVForm::CheckStrToInt(const QString& Value, const QString& Name, int MinValue) {
    int N = 0;
    const bool Ok = TryStrToInt(Value, N) && N >= MinValue;
    return CheckIf(Ok, Name + QStringLiteral(" (>= ") + QString::number(MinValue) + QLatin1Char(')'));
}

bool TVForm::CheckStrToInt(const QString& Value, const QString& Name, int MinValue, int MaxValue) {
    int N = 0;
    const bool Ok = TryStrToInt(Value, N) && N >= MinValue && N <= MaxValue;
    return CheckIf(Ok, Name + QStringLiteral(" (>= ") + QString::number(MinValue) + QStringLiteral(", <= ") +
                           QString::number(MaxValue) + QLatin1Char(')'));
}

bool TVForm::CheckFileExists(const QString& FileName, const QString& Title) {
    if (FileName.isEmpty()) {
        WarnPleaseEnter(Title);
        return false;
    }
    const QFileInfo Info(FileName);
    if (!Info.exists() || Info.isDir()) {
        Warning(FormatStr(QString::fromLatin1(SFileNotFound), {Title, FileName}));
        return false;
    }
    return true;
}

bool TVForm::CheckListNotEmpty(const TStringList& List, const QString& Name, bool NotEmptyLines) {
    return CheckListNotEmpty(List.ToQStringList(), Name, NotEmptyLines);
}

bool TVForm::CheckListNotEmpty(const QStringList& List, const QString& Name, bool NotEmptyLines) {
    bool Ok = !List.isEmpty();
    if (Ok && NotEmptyLines)
        Ok = std::any_of(List.begin(), List.end(), [](const QString& S) { return !S.isEmpty(); });
    return CheckIf(Ok, Name);
}

bool TVForm::CheckListItemNotExists(TListViewEx* ListView, int EditIndex, const QString& KindName,
                                    bool CaseInsensitive, const QString& Caption) {
    if (!ListView)
        return true;
    for (int I = 0; I < ListView->ItemCount(); ++I) {
        if (I == EditIndex)
            continue;
        const QString C = ListView->ItemCaption(I);
        if (CaseInsensitive ? SameTextAscii(C, Caption) : C == Caption) {
            Warning(FormatStr(QString::fromLatin1(SAlreadyExists), {KindName, Caption}));
            return false;
        }
    }
    return true;
}

bool TVForm::CheckListItemsChecked(TListViewEx* ListView, const QString& WarningText) {
    return CheckExpr(CheckedCount(ListView) > 0, WarningText);
}

void TVForm::WarnPleaseEnter(const QString& What) {
    Warning(FormatStr(QString::fromLatin1(SPleaseEnter), {What}));
}

void TVForm::WarnPleaseEnter(const QString& What, const QString& Title) {
    Warning(Title, FormatStr(QString::fromLatin1(SPleaseEnter), {What}));
}

bool TVForm::TryStrToInt(const QString& S, int& Value) {
    qsizetype I = 0;
    const qsizetype N = S.size();
    while (I < N && (S[I] == QLatin1Char(' ') || S[I] == QLatin1Char('\t')))
        ++I;
    bool Neg = false;
    if (I < N && (S[I] == QLatin1Char('-') || S[I] == QLatin1Char('+'))) {
        Neg = S[I] == QLatin1Char('-');
        ++I;
    }
    bool Hex = false;
    if (I < N && (S[I] == QLatin1Char('$') || S[I] == QLatin1Char('x') || S[I] == QLatin1Char('X'))) {
        Hex = true;
        ++I;
    } else if (I + 1 < N && S[I] == QLatin1Char('0') && (S[I + 1] == QLatin1Char('x') || S[I + 1] == QLatin1Char('X'))) {
        Hex = true;
        I += 2;
    }
    if (I >= N)
        return false;
    // Hexadecimal takes any 32-bit pattern; decimal must fit the signed range.
    const quint64 Limit = Hex ? 0xFFFFFFFFull : (Neg ? 2147483648ull : 2147483647ull);
    quint64 Acc = 0;
    for (; I < N; ++I) {
        const ushort C = S[I].unicode();
        int Digit;
        if (C >= '0' && C <= '9')
            Digit = C - '0';
        else if (Hex && C >= 'a' && C <= 'f')
            Digit = C - 'a' + 10;
        else if (Hex && C >= 'A' && C <= 'F')
            Digit = C - 'A' + 10;
        else
            return false;
        Acc = Acc * (Hex ? 16 : 10) + quint64(Digit);
        if (Acc > Limit)
            return false;
    }
    qint64 V = Hex ? qint64(qint32(quint32(Acc))) : qint64(Acc);
    if (Neg)
        V = -V;
    Value = qint32(quint32(quint64(V)));
    return true;
}

// --- Files, caption, layout

void TVForm::ExploreToFile(const QString& FileName) {
    // A path that is not there has nothing to show.
    if (FileName.isEmpty() || !QFileInfo::exists(FileName))
        return;
    ShellExplore(FileName, true);
}

QString TVForm::BuildFilePath(const QString& Folder, const QString& FileName) {
    if (Folder.isEmpty())
        return FileName;
    return Folder + QLatin1Char('/') + FileName;
}

QString TVForm::FormatAppTitleVersion(const QString& AppTitle, const QString& AppVersion, bool No64DebugInfo) {
    return FormatAppTitleVersion(AppTitle, AppVersion, No64DebugInfo, QCoreApplication::arguments());
}

QString TVForm::FormatAppTitleVersion(const QString& AppTitle, const QString& AppVersion, bool No64DebugInfo,
                                      const QStringList& Args) {
    QString Result = AppTitle + QLatin1Char(' ') + AppVersion;
    if (!No64DebugInfo) {
        for (qsizetype I = 1; I + 1 < Args.size(); ++I)
            if (Args[I] == QLatin1String("-applabel")) {
                Result += QLatin1Char(' ') + Args[I + 1];
                break;
            }
    }
    return Result;
}

void TVForm::EnableControls(bool Enabled, std::initializer_list<QWidget*> Controls) {
    EnableControls(Enabled, QList<QWidget*>(Controls));
}

void TVForm::EnableControls(bool Enabled, const QList<QWidget*>& Controls) {
    for (QWidget* W : Controls)
        if (W)
            W->setEnabled(Enabled);
}

void TVForm::ShowControls(bool Visible, std::initializer_list<QWidget*> Controls) {
    ShowControls(Visible, QList<QWidget*>(Controls));
}

void TVForm::ShowControls(bool Visible, const QList<QWidget*>& Controls) {
    for (QWidget* W : Controls)
        if (W)
            W->setVisible(Visible);
}

bool TVForm::SetComboIndex(QComboBox* Combo, int Index) {
    if (!Combo)
        return false;
    if (Index >= 0 && Index < Combo->count()) {
        Combo->setCurrentIndex(Index);
        return true;
    }
    Combo->setCurrentIndex(-1);
    return false;
}

bool TVForm::SetComboText(QComboBox* Combo, const QString& Text) {
    if (!Combo)
        return false;
    for (int I = 0; I < Combo->count(); ++I)
        if (SameTextAscii(Combo->itemText(I), Text)) {
            Combo->setCurrentIndex(I);
            return true;
        }
    Combo->setCurrentIndex(-1);
    return false;
}

void TVForm::AlignToEdit(QWidget* Item, QWidget* Edit) const {
    if (!Item || !Edit)
        return;
    const int Dpi = logicalDpiY();
    int Delta;
    if (qobject_cast<QCheckBox*>(Item))
        Delta = Dpi == 96 ? 1 : 2;
    else if (qobject_cast<QLabel*>(Item))
        Delta = Dpi == 96 ? 2 : 1;
    else
        return;
    Item->move(Item->x(), Edit->y() + Delta);
}

void TVForm::AlignVertically(QWidget* Control, QWidget* Label, QWidget* Button, bool LabelMayBeEdit) const {
    const int Dpi = logicalDpiY();
    if (Dpi != 96 && Dpi != 120)
        return;
    if (qobject_cast<QLineEdit*>(Control)) {
        AlignToEdit(Label, Control);
        AlignToEdit(Button, Control);
    } else if (LabelMayBeEdit && qobject_cast<QLineEdit*>(Label)) {
        AlignToEdit(Control, Label);
        AlignToEdit(Button, Label);
    }
}

void TVForm::SetControlPos(QWidget* Control, QWidget* Label, QWidget* Button, int Offset) {
    if (!Control || !Label)
        return;
    Control->move(Label->x() + Label->width() + 8 + Offset, Control->y());
    if (Label->metaObject() == Control->metaObject())
        Control->move(Control->x(), Label->y());
    if (Button)
        Button->move(Control->x() + Control->width() + 8, Button->y());
    AlignVertically(Control, Label, Button, true);
}

void TVForm::SetControlWidth(QWidget* Control, QWidget* Label, QWidget* Button) {
    if (!Control || !Label)
        return;
    const int Right = Control->x() + Control->width();
    const int Left = Label->x() + Label->width() + 8;
    Control->setGeometry(Left, Control->y(), qMax(0, Right - Left), Control->height());
    AlignVertically(Control, Label, Button, false);
}

// --- Dropped files and interception

void TVForm::EnableDroppingFile(QWidget* Control) {
    if (!Control || IsDroppingFileEnabled(Control))
        return;
    fDropFileCtrls.append(Control);
    if (isVisible())
        InstallDropHandler(Control);
}

bool TVForm::IsDroppingFileEnabled(QWidget* Control) const {
    for (const QPointer<QWidget>& W : fDropFileCtrls)
        if (W == Control)
            return true;
    return false;
}

void TVForm::InstallDropHandler(QWidget* Control) {
    if (!Control || FDropHooked.contains(Control))
        return;
    Control->setAcceptDrops(true);
    if (auto* Area = qobject_cast<QAbstractScrollArea*>(Control))
        Area->viewport()->setAcceptDrops(true);
    SubClass(Control, [this](QWidget* C, TWinProcHandler* H, QEvent* M) { return HandleDropFiles(C, H, M); });
    FDropHooked.insert(Control);
}

void TVForm::showEvent(QShowEvent* Event) {
    for (const QPointer<QWidget>& W : std::as_const(fDropFileCtrls))
        if (W)
            InstallDropHandler(W);
    QMainWindow::showEvent(Event);
}

TWinProcHandler* TVForm::SubClass(QWidget* Control, TCustomWndProc CustomWndProc) {
    if (!Control)
        return nullptr;
    for (qsizetype I = 0; I < fSubClassedCtrls.size(); ++I)
        if (fSubClassedCtrls[I]->Control() == Control) {
            auto* Handler = new TWinProcHandler(Control, std::move(CustomWndProc), fSubClassedCtrls[I]);
            fSubClassedCtrls[I] = Handler;
            return Handler;
        }
    auto* Handler = new TWinProcHandler(Control, std::move(CustomWndProc), nullptr);
    fSubClassedCtrls.append(Handler);
    return Handler;
}

void TVForm::UnSubClass(QWidget* Control) {
    for (qsizetype I = 0; I < fSubClassedCtrls.size(); ++I)
        if (fSubClassedCtrls[I]->Control() == Control) {
            delete fSubClassedCtrls.takeAt(I);
            break;
        }
    FDropHooked.remove(Control);
}

bool TVForm::HandleDropFiles(QWidget* Control, TWinProcHandler* /*Handler*/, QEvent* Message) {
    const QEvent::Type T = Message->type();
    if (T != QEvent::DragEnter && T != QEvent::DragMove && T != QEvent::Drop)
        return false;
    auto* ListView = qobject_cast<TListViewEx*>(Control);
    auto* Edit = qobject_cast<QLineEdit*>(Control);
    auto* Memo = qobject_cast<QPlainTextEdit*>(Control);
    if (!ListView && !Edit && !Memo)
        return false;
    auto* Drop = static_cast<QDropEvent*>(Message);
    const QStringList Files = LocalFiles(Drop->mimeData());
    if (Files.isEmpty())
        return false;
    // The drop is taken here: left to the control, an edit or memo would also
    // paste the file URLs as text.
    Drop->acceptProposedAction();
    if (T != QEvent::Drop)
        return true;
    if (ListView) {
        for (const QString& F : Files)
            DoDropFileItem(ListView, F);
    } else if (Edit) {
        for (const QString& F : Files)
            DoDropFile(Edit, F);
    } else {
        DoDropFiles(Memo, Files);
    }
    return true;
}

void TVForm::DoDropFileItem(TListViewEx* ListView, const QString& FileName) {
    bool Handled = false;
    if (OnDropFileItem)
        OnDropFileItem(this, ListView, FileName, Handled);
    if (Handled)
        return;
    const int Item = ListView->AddItem(FileName);
    if (Item >= 0)
        DoFileItemDropped(ListView, FileName, Item);
}

void TVForm::DoDropFile(QWidget* Control, const QString& FileName) {
    bool Handled = false;
    if (OnDropFile)
        OnDropFile(this, Control, FileName, Handled);
    if (Handled)
        return;
    if (auto* Edit = qobject_cast<QLineEdit*>(Control))
        Edit->setText(FileName);
    DoFileDropped(Control, FileName);
}

void TVForm::DoDropFiles(QPlainTextEdit* Memo, const QStringList& FileNames) {
    bool Handled = false;
    if (OnDropFiles)
        OnDropFiles(this, Memo, FileNames, Handled);
    if (Handled)
        return;
    for (const QString& F : FileNames)
        MemoAddLine(Memo, F);
    DoFilesDropped(Memo, FileNames);
}

void TVForm::DoFileItemDropped(TListViewEx* ListView, const QString& FileName, int Item) {
    if (OnFileItemDropped)
        OnFileItemDropped(this, ListView, FileName, Item);
}

void TVForm::DoFileDropped(QWidget* Control, const QString& FileName) {
    if (OnFileDropped)
        OnFileDropped(this, Control, FileName);
}

void TVForm::DoFilesDropped(QPlainTextEdit* Memo, const QStringList& FileNames) {
    if (OnFilesDropped)
        OnFilesDropped(this, Memo, FileNames);
}

// --- name=value escaping

QString TVForm::EncodeValue(const QString& S) {
    QString Result;
    Result.reserve(S.size());
    for (const QChar C : S) {
        switch (C.unicode()) {
        case '\t': Result += QStringLiteral("\\t"); break;
        case '\n': Result += QStringLiteral("\\n"); break;
        case '\r': Result += QStringLiteral("\\r"); break;
        case '\\': Result += QStringLiteral("\\\\"); break;
        default: Result += C;
        }
    }
    return Result;
}

QString TVForm::DecodeValue(const QString& S) {
    QString Result;
    Result.reserve(S.size());
    for (qsizetype I = 0; I < S.size(); ++I) {
        const QChar C = S[I];
        if (C != QLatin1Char('\\') || I + 1 >= S.size()) {
            Result += C;
            continue;
        }
        const QChar Next = S[++I];
        if (Next == QLatin1Char('n'))
            Result += QLatin1Char('\n');
        else if (Next == QLatin1Char('r'))
            Result += QLatin1Char('\r');
        else if (Next == QLatin1Char('t'))
            Result += QLatin1Char('\t');
        else
            Result += Next;
    }
    return Result;
}

void TVForm::SaveListView(TListViewEx* ListView, TStringList& Values, const QString& Stem) {
    if (!ListView)
        return;
    const int Count = ListView->ItemCount();
    const int Columns = ListView->ColumnCount();
    for (int I = 0; I < Count; ++I) {
        const int R = I + 1;
        Values.SetValues(ItemKey(Stem, R, 0), EncodeValue(ListView->ItemCaption(I)));
        const QStringList Sub = ListView->ItemSubItems(I);
        for (int C = 1; C < Columns && C <= Sub.size(); ++C)
            Values.SetValues(ItemKey(Stem, R, C), EncodeValue(Sub[C - 1]));
        if (ListView->Checkboxes())
            Values.SetValues(CheckedKey(Stem, R), ListView->ItemChecked(I) ? QStringLiteral("1") : QStringLiteral("0"));
    }
    Values.SetValues(Stem + QLatin1Char('N'), QString::number(Count));
}

void TVForm::LoadListView(TListViewEx* ListView, TStringList& Values, const QString& Stem) {
    if (!ListView)
        return;
    ListView->BeginUpdate();
    int Count = 0;
    if (!TryStrToInt(Values.Values(Stem + QLatin1Char('N')), Count))
        Count = 0;
    const int Columns = ListView->ColumnCount();
    for (int R = 1; R <= Count; ++R) {
        const QString Caption = DecodeValue(Values.Values(ItemKey(Stem, R, 0)));
        if (Caption.isEmpty())
            continue;
        QStringList Sub;
        for (int C = 1; C < Columns; ++C)
            Sub.append(DecodeValue(Values.Values(ItemKey(Stem, R, C))));
        const int Item = ListView->AddItem(Caption, Sub);
        if (Item >= 0 && ListView->Checkboxes())
            ListView->SetItemChecked(Item, Values.Values(CheckedKey(Stem, R)) == QLatin1String("1"));
    }
    ListView->EndUpdate();
}

// --- List view operations

int TVForm::AddListItem(TListViewEx* ListView, const QStringList& Texts) {
    if (!ListView || Texts.isEmpty())
        return -1;
    QStringList Sub;
    for (int C = 1; C < ListView->ColumnCount(); ++C)
        Sub.append(Texts.value(C));
    const int Item = ListView->AddItem(Texts.first(), Sub);
    if (Item >= 0)
        ListView->SetItemSelected(Item, true);
    return Item;
}

void TVForm::UpdateSelected(TListViewEx* ListView, const QStringList& Texts) {
    if (!ListView || Texts.isEmpty())
        return;
    const int Item = ListView->SelectedIndex();
    if (Item < 0)
        return;
    ListView->SetItemCaption(Item, Texts.first());
    QStringList Sub = ListView->ItemSubItems(Item);
    for (int C = 1; C < ListView->ColumnCount(); ++C) {
        if (C < Texts.size()) {
            if (Sub.size() >= C)
                Sub[C - 1] = Texts[C];
            else
                Sub.append(Texts[C]);
        } else if (Sub.size() < C) {
            Sub.append(QString());
        }
    }
    ListView->SetItemSubItems(Item, Sub);
}

bool TVForm::DeleteSelected(TListViewEx* ListView, const QString& ConfirmTitle) {
    if (!ListView)
        return false;
    const int Old = ListView->SelectedIndex();
    if (Old < 0)
        return false;
    if (!Confirm(ConfirmTitle, FormatStr(QString::fromLatin1(SDeleteConfirm), {ListView->ItemCaption(Old)})))
        return false;
    // Take the selection first: removing a row may move the selection.
    QList<int> Rows;
    for (int I = 0; I < ListView->ItemCount(); ++I)
        if (ListView->ItemSelected(I))
            Rows.append(I);
    ListView->BeginUpdate();
    for (qsizetype I = Rows.size() - 1; I >= 0; --I)
        ListView->DeleteItem(Rows[I]);
    ListView->EndUpdate();
    const int Count = ListView->ItemCount();
    if (Count > 0)
        ListView->SetItemSelected(qMin(Old, Count - 1), true);
    return true;
}

int TVForm::FindListItem(TListViewEx* ListView, const QString& Caption, bool CaseInsensitive) {
    if (!ListView)
        return -1;
    for (int I = 0; I < ListView->ItemCount(); ++I) {
        const QString C = ListView->ItemCaption(I);
        if (CaseInsensitive ? SameTextAscii(C, Caption) : C == Caption)
            return I;
    }
    return -1;
}

void TVForm::FillCheckedListView(TListViewEx* ListView, TStringList& CheckedList, const TStringList& AllList) {
    if (!ListView)
        return;
    ListView->BeginUpdate();
    ListView->ClearItems();
    for (int I = 0; I < AllList.Count(); ++I) {
        const QString S = AllList.Get(I);
        const int Item = ListView->AddItem(S);
        ListView->SetItemChecked(Item, CheckedList.IndexOf(S) >= 0);
    }
    ListView->EndUpdate();
}

void TVForm::GetAllListItems(TListViewEx* ListView, TStringList& List) {
    List.Clear();
    if (!ListView)
        return;
    for (int I = 0; I < ListView->ItemCount(); ++I)
        List.Add(ListView->ItemCaption(I));
}

void TVForm::GetCheckedListItems(TListViewEx* ListView, TStringList& List) {
    List.Clear();
    if (!ListView)
        return;
    for (int I = 0; I < ListView->ItemCount(); ++I)
        if (ListView->ItemChecked(I))
            List.Add(ListView->ItemCaption(I));
}

void TVForm::CheckAllListItems(TListViewEx* ListView) {
    if (ListView)
        for (int I = 0; I < ListView->ItemCount(); ++I)
            ListView->SetItemChecked(I, true);
}

void TVForm::UnCheckAllListItems(TListViewEx* ListView) {
    if (ListView)
        for (int I = 0; I < ListView->ItemCount(); ++I)
            ListView->SetItemChecked(I, false);
}

void TVForm::SelectAllListItems(TListViewEx* ListView) {
    if (ListView)
        ListView->SelectAll();
}

void TVForm::UnSelectAllListItems(TListViewEx* ListView) {
    if (ListView)
        ListView->UnSelectAll();
}

void TVForm::DeleteAllListItems(TListViewEx* ListView) {
    if (!ListView)
        return;
    ListView->BeginUpdate();
    for (int I = ListView->ItemCount() - 1; I >= 0; --I)
        ListView->DeleteItem(I);
    ListView->EndUpdate();
}

void TVForm::DeleteCheckedListItems(TListViewEx* ListView) {
    if (!ListView)
        return;
    ListView->BeginUpdate();
    for (int I = ListView->ItemCount() - 1; I >= 0; --I)
        if (ListView->ItemChecked(I))
            ListView->DeleteItem(I);
    ListView->EndUpdate();
}

int TVForm::CheckedCount(TListViewEx* ListView) {
    int N = 0;
    if (ListView)
        for (int I = 0; I < ListView->ItemCount(); ++I)
            if (ListView->ItemChecked(I))
                ++N;
    return N;
}

int TVForm::CheckedCount(QListWidget* CheckListBox) {
    int N = 0;
    if (CheckListBox)
        for (int I = 0; I < CheckListBox->count(); ++I)
            if (CheckListBox->item(I)->checkState() == Qt::Checked)
                ++N;
    return N;
}

void TVForm::ListViewChange(TListViewEx* ListView, int Item) {
    if (ListView)
        ListView->InvalidateRow(Item);
}

void TVForm::ListViewSelectItem(TListViewEx* ListView, int& RememberedIndex) {
    if (!ListView)
        return;
    const int Item = ListView->SelectedIndex();
    if (Item == RememberedIndex)
        return;
    if (RememberedIndex >= 0 && RememberedIndex < ListView->ItemCount())
        ListView->InvalidateRow(RememberedIndex);
    RememberedIndex = Item;
}
