#include "app/uLinesEdit.h"

#include "app/uMemo.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>
#include <QTimer>
#include <algorithm>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// Room around the text, in pixels.
const int Margin = 4;
// Lines longer than this are not measured for the scroll range; their width is estimated.
const qsizetype MeasuredLineChars = 10000;
// A text this long came through lists and copies that are freed once it is in place.
const qsizetype BigTextChars = qsizetype(4) << 20;

bool IsBreak(QChar C) {
    return C == QLatin1Char('\n') || C == QLatin1Char('\r') || C == QChar::LineSeparator ||
           C == QChar::ParagraphSeparator;
}

} // namespace

TLinesEdit::TLinesEdit(QWidget* AParent) : QAbstractScrollArea(AParent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    verticalScrollBar()->setSingleStep(1);
    UpdateScrollBars();
}

// --- Text ------------------------------------------------------------------

QString TLinesEdit::Normalized(QString AText) {
    // Most text has none: the check costs a read, the copy only comes with a break to change.
    if (std::none_of(AText.cbegin(), AText.cend(),
                     [](QChar C) { return C != QLatin1Char('\n') && IsBreak(C); }))
        return AText;
    AText.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    AText.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return TMemo::NormalizeBreaks(std::move(AText));
}

void TLinesEdit::setPlainText(const QString& AText) {
    FText = Normalized(AText);
    FUndo.clear();
    FRedo.clear();
    FUndoChars = 0;
    FAnchor = FCursor = 0;
    FGoalX = -1;
    Reindex();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    Changed();
#ifdef __GLIBC__
    // The caller's line lists for a long text are a million small blocks; the
    // allocator keeps their pages once they are freed unless asked to return
    // them, and the window would stay that much bigger.
    if (FText.size() >= BigTextChars)
        QTimer::singleShot(0, [] { malloc_trim(0); });
#endif
}

void TLinesEdit::appendPlainText(const QString& AText) {
    const qsizetype End = FText.size();
    const QString Added = Normalized(FText.isEmpty() ? AText : QLatin1Char('\n') + AText);
    Replace(End, End, Added, false);
    // A cursor at the end stays at the end.
    if (FCursor == End)
        FCursor += Added.size();
    if (FAnchor == End)
        FAnchor += Added.size();
    Changed();
}

void TLinesEdit::clear() { setPlainText(QString()); }

QStringList TLinesEdit::Lines() const {
    QStringList Result;
    const int N = LineCount();
    Result.reserve(N);
    for (int I = 0; I < N; ++I)
        Result.append(Line(I));
    return Result;
}

void TLinesEdit::SetLines(const QStringList& ALines) {
    QString Text = ALines.join(QLatin1Char('\n'));
    // A last empty line needs the break after it, or it would not count.
    if (!ALines.isEmpty() && ALines.last().isEmpty())
        Text += QLatin1Char('\n');
    setPlainText(Text);
}

int TLinesEdit::LineCount() const {
    const int N = blockCount();
    return FStarts.back() == FText.size() ? N - 1 : N;
}

QString TLinesEdit::Line(int AIndex) const {
    if (AIndex < 0 || AIndex >= blockCount())
        return QString();
    return FText.mid(LineStart(AIndex), LineEnd(AIndex) - LineStart(AIndex));
}

void TLinesEdit::setPlaceholderText(const QString& AText) {
    FPlaceholder = AText;
    viewport()->update();
}

void TLinesEdit::setReadOnly(bool AValue) {
    FReadOnly = AValue;
    setAttribute(Qt::WA_InputMethodEnabled, !AValue);
    viewport()->setCursor(AValue ? Qt::ArrowCursor : Qt::IBeamCursor);
}

QString TLinesEdit::SelectedText() const { return FText.mid(SelectionStart(), SelectionEnd() - SelectionStart()); }

void TLinesEdit::SetSelection(qsizetype AAnchor, qsizetype ACursor) {
    FAnchor = qBound<qsizetype>(0, AAnchor, FText.size());
    MoveCursor(ACursor, true);
}

void TLinesEdit::insertPlainText(const QString& AText) { ReplaceSelection(Normalized(AText)); }

qsizetype TLinesEdit::LineEnd(int ALine) const {
    return size_t(ALine) + 1 < FStarts.size() ? FStarts[size_t(ALine) + 1] - 1 : FText.size();
}

int TLinesEdit::LineOf(qsizetype APos) const {
    return int(std::upper_bound(FStarts.begin(), FStarts.end(), APos) - FStarts.begin()) - 1;
}

void TLinesEdit::Reindex() {
    const QChar* Data = FText.constData();
    const qsizetype Size = FText.size();
    FStarts.clear();
    FStarts.reserve(size_t(std::count(Data, Data + Size, QLatin1Char('\n'))) + 1);
    FStarts.push_back(0);
    for (qsizetype I = 0; I < Size; ++I)
        if (Data[I] == QLatin1Char('\n'))
            FStarts.push_back(I + 1);
    FLongestLine = 0;
    FLongestWidth = -1;
    MeasureLongest(0, blockCount());
}

void TLinesEdit::MeasureLongest(int AFrom, int ATo) {
    qsizetype Most = LineEnd(FLongestLine) - LineStart(FLongestLine);
    for (int I = AFrom; I < ATo; ++I)
        if (const qsizetype Len = LineEnd(I) - LineStart(I); Len > Most) {
            Most = Len;
            FLongestLine = I;
            FLongestWidth = -1;
        }
}

void TLinesEdit::Replace(qsizetype AFrom, qsizetype ATo, const QString& AText, bool ATyping, bool ARecord) {
    TEdit Edit{AFrom, QString(), AText, FAnchor, FCursor, ATyping};
    if (AFrom == 0 && ATo == FText.size()) {
        // The whole list: the old text goes to the undo step as it is, without a copy.
        Edit.Removed = std::move(FText);
        FText = AText;
        Reindex();
    } else {
        const int First = LineOf(AFrom), Last = LineOf(ATo);
        Edit.Removed = FText.mid(AFrom, ATo - AFrom);
        FText.replace(AFrom, ATo - AFrom, AText);
        std::vector<qsizetype> Added;
        for (qsizetype I = 0; I < AText.size(); ++I)
            if (AText[I] == QLatin1Char('\n'))
                Added.push_back(AFrom + I + 1);
        FStarts.erase(FStarts.begin() + First + 1, FStarts.begin() + Last + 1);
        const qsizetype Delta = AText.size() - (ATo - AFrom);
        for (size_t I = size_t(First) + 1; I < FStarts.size(); ++I)
            FStarts[I] += Delta;
        FStarts.insert(FStarts.begin() + First + 1, Added.begin(), Added.end());
        // Only the lines the edit made can be longer than the longest, unless that one changed.
        const int Made = First + int(Added.size());
        if (FLongestLine >= First && FLongestLine <= Last) {
            FLongestLine = 0;
            FLongestWidth = -1;
            MeasureLongest(0, blockCount());
        } else {
            if (FLongestLine > Last)
                FLongestLine += Made - Last;
            MeasureLongest(First, Made + 1);
        }
    }
    if (ARecord) {
        FRedo.clear();
        PushUndo(std::move(Edit));
    }
}

void TLinesEdit::PushUndo(TEdit AEdit) {
    // Characters typed one after another are one step, as in other editors.
    if (AEdit.Typing && !FUndo.empty() && AEdit.Removed.isEmpty()) {
        TEdit& Last = FUndo.back();
        if (Last.Typing && Last.Removed.isEmpty() && Last.Pos + Last.Inserted.size() == AEdit.Pos) {
            Last.Inserted += AEdit.Inserted;
            FUndoChars += AEdit.Inserted.size();
            return;
        }
    }
    FUndoChars += AEdit.Removed.size() + AEdit.Inserted.size();
    FUndo.push_back(std::move(AEdit));
    while (FUndo.size() > 1 && FUndoChars > UndoCharLimit) {
        FUndoChars -= FUndo.front().Removed.size() + FUndo.front().Inserted.size();
        FUndo.erase(FUndo.begin());
    }
}

void TLinesEdit::ReplaceSelection(const QString& AText, bool ATyping) {
    if (FReadOnly || (AText.isEmpty() && !HasSelection()))
        return;
    const qsizetype From = SelectionStart();
    Replace(From, SelectionEnd(), AText, ATyping);
    FAnchor = FCursor = From + AText.size();
    FGoalX = -1;
    Changed();
    EnsureCursorVisible();
}

void TLinesEdit::undo() {
    if (FUndo.empty())
        return;
    TEdit Edit = std::move(FUndo.back());
    FUndo.pop_back();
    FUndoChars -= Edit.Removed.size() + Edit.Inserted.size();
    Replace(Edit.Pos, Edit.Pos + Edit.Inserted.size(), Edit.Removed, false, false);
    FAnchor = qMin(Edit.AnchorBefore, FText.size());
    FCursor = qMin(Edit.CursorBefore, FText.size());
    FRedo.push_back(std::move(Edit));
    Changed();
    EnsureCursorVisible();
}

void TLinesEdit::redo() {
    if (FRedo.empty())
        return;
    TEdit Edit = std::move(FRedo.back());
    FRedo.pop_back();
    Replace(Edit.Pos, Edit.Pos + Edit.Removed.size(), Edit.Inserted, false, false);
    FAnchor = FCursor = Edit.Pos + Edit.Inserted.size();
    FUndoChars += Edit.Removed.size() + Edit.Inserted.size();
    FUndo.push_back(std::move(Edit));
    Changed();
    EnsureCursorVisible();
}

void TLinesEdit::cut() {
    if (FReadOnly || !HasSelection())
        return;
    copy();
    ReplaceSelection(QString());
}

void TLinesEdit::copy() const {
    if (HasSelection())
        QApplication::clipboard()->setText(SelectedText());
}

void TLinesEdit::paste() { InsertMime(QApplication::clipboard()->mimeData(), -1); }

void TLinesEdit::selectAll() {
    FAnchor = 0;
    MoveCursor(FText.size(), true);
}

void TLinesEdit::InsertMime(const QMimeData* Source, qsizetype APos) {
    if (!Source)
        return;
    if (const QString File = MimeLocalFile(Source); !File.isEmpty()) {
        // Read once the drop or paste is over: the handler replaces the whole list.
        if (OnFileDrop)
            QMetaObject::invokeMethod(this, [this, File] { if (OnFileDrop) OnFileDrop(File); }, Qt::QueuedConnection);
        return;
    }
    if (FReadOnly || !Source->hasText())
        return;
    if (APos >= 0)
        FAnchor = FCursor = APos;
    ReplaceSelection(Normalized(Source->text()));
}

// --- Cursor ------------------------------------------------------------------

void TLinesEdit::MoveCursor(qsizetype APos, bool AKeepAnchor, bool AKeepGoal) {
    FCursor = qBound<qsizetype>(0, APos, FText.size());
    if (!AKeepAnchor)
        FAnchor = FCursor;
    if (!AKeepGoal)
        FGoalX = -1;
    EnsureCursorVisible();
    RestartCaret();
    viewport()->update();
}

qsizetype TLinesEdit::WordStart(qsizetype APos) const {
    while (APos > 0 && !FText[APos - 1].isLetterOrNumber())
        --APos;
    while (APos > 0 && FText[APos - 1].isLetterOrNumber())
        --APos;
    return APos;
}

qsizetype TLinesEdit::WordEnd(qsizetype APos) const {
    while (APos < FText.size() && !FText[APos].isLetterOrNumber())
        ++APos;
    while (APos < FText.size() && FText[APos].isLetterOrNumber())
        ++APos;
    return APos;
}

bool TLinesEdit::HandleMoveKey(QKeyEvent* Event) {
    using K = QKeySequence;
    const int Line = LineOf(FCursor);
    const auto Vertical = [&](int Lines, bool Select) {
        if (FGoalX < 0)
            FGoalX = XOf(Line, FCursor) + horizontalScrollBar()->value();
        const int Target = qBound(0, Line + Lines, blockCount() - 1);
        MoveCursor(PosAtX(Target, FGoalX - horizontalScrollBar()->value()), Select, true);
        if (Lines > 1 || Lines < -1)
            verticalScrollBar()->setValue(verticalScrollBar()->value() + Lines);
    };
    // Without Shift a selection collapses to the side the arrow points to.
    const auto Step = [&](qsizetype Pos, bool Select, bool Forward) {
        if (!Select && HasSelection())
            Pos = Forward ? SelectionEnd() : SelectionStart();
        MoveCursor(Pos, Select);
    };
    const qsizetype Prev = FCursor > 1 && FText[FCursor - 1].isLowSurrogate() && FText[FCursor - 2].isHighSurrogate()
                               ? FCursor - 2
                               : FCursor - 1;
    const qsizetype Next = FCursor + 1 < FText.size() && FText[FCursor].isHighSurrogate() ? FCursor + 2 : FCursor + 1;
    const int Page = qMax(1, VisibleLines() - 1);
    for (bool Select : {false, true}) {
        if (Event->matches(Select ? K::SelectNextChar : K::MoveToNextChar))
            Step(Next, Select, true);
        else if (Event->matches(Select ? K::SelectPreviousChar : K::MoveToPreviousChar))
            Step(Prev, Select, false);
        else if (Event->matches(Select ? K::SelectNextWord : K::MoveToNextWord))
            MoveCursor(WordEnd(FCursor), Select);
        else if (Event->matches(Select ? K::SelectPreviousWord : K::MoveToPreviousWord))
            MoveCursor(WordStart(FCursor), Select);
        else if (Event->matches(Select ? K::SelectNextLine : K::MoveToNextLine))
            Vertical(1, Select);
        else if (Event->matches(Select ? K::SelectPreviousLine : K::MoveToPreviousLine))
            Vertical(-1, Select);
        else if (Event->matches(Select ? K::SelectNextPage : K::MoveToNextPage))
            Vertical(Page, Select);
        else if (Event->matches(Select ? K::SelectPreviousPage : K::MoveToPreviousPage))
            Vertical(-Page, Select);
        else if (Event->matches(Select ? K::SelectStartOfLine : K::MoveToStartOfLine) ||
                 Event->matches(Select ? K::SelectStartOfBlock : K::MoveToStartOfBlock))
            MoveCursor(LineStart(Line), Select);
        else if (Event->matches(Select ? K::SelectEndOfLine : K::MoveToEndOfLine) ||
                 Event->matches(Select ? K::SelectEndOfBlock : K::MoveToEndOfBlock))
            MoveCursor(LineEnd(Line), Select);
        else if (Event->matches(Select ? K::SelectStartOfDocument : K::MoveToStartOfDocument))
            MoveCursor(0, Select);
        else if (Event->matches(Select ? K::SelectEndOfDocument : K::MoveToEndOfDocument))
            MoveCursor(FText.size(), Select);
        else
            continue;
        return true;
    }
    return false;
}

bool TLinesEdit::HandleEditKey(QKeyEvent* Event) {
    using K = QKeySequence;
    if (FReadOnly)
        return false;
    if (Event->matches(K::Undo))
        undo();
    else if (Event->matches(K::Redo))
        redo();
    else if (Event->matches(K::Cut))
        cut();
    else if (Event->matches(K::Paste))
        paste();
    else if (Event->matches(K::InsertParagraphSeparator) || Event->matches(K::InsertLineSeparator))
        ReplaceSelection(QStringLiteral("\n"));
    else if (Event->key() == Qt::Key_Backspace || Event->matches(K::Delete) || Event->matches(K::DeleteStartOfWord) ||
             Event->matches(K::DeleteEndOfWord)) {
        if (!HasSelection()) {
            if (Event->matches(K::DeleteStartOfWord))
                FAnchor = WordStart(FCursor);
            else if (Event->matches(K::DeleteEndOfWord))
                FAnchor = WordEnd(FCursor);
            else if (Event->key() == Qt::Key_Backspace)
                FAnchor = FCursor > 1 && FText[FCursor - 1].isLowSurrogate() && FText[FCursor - 2].isHighSurrogate()
                              ? FCursor - 2
                              : qMax<qsizetype>(0, FCursor - 1);
            else
                FAnchor = qMin(FText.size(), FCursor + (FCursor + 1 < FText.size() && FText[FCursor].isHighSurrogate() ? 2 : 1));
        }
        ReplaceSelection(QString());
    } else {
        const QString Text = Event->text();
        if (Text.isEmpty() || !(Text[0].isPrint() || IsBreak(Text[0])) ||
            (Event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
            return false;
        ReplaceSelection(Normalized(Text), true);
    }
    return true;
}

void TLinesEdit::keyPressEvent(QKeyEvent* Event) {
    if (Event->matches(QKeySequence::SelectAll))
        selectAll();
    else if (Event->matches(QKeySequence::Copy))
        copy();
    else if (!HandleMoveKey(Event) && !HandleEditKey(Event)) {
        // Left to the window: Ctrl+Tab for the pages, mnemonics, Escape.
        Event->ignore();
        return;
    }
    Event->accept();
}

bool TLinesEdit::event(QEvent* Event) {
    if (Event->type() == QEvent::ShortcutOverride) {
        // The keys an editor takes are not the window's shortcuts while it has the focus.
        auto* K = static_cast<QKeyEvent*>(Event);
        const QString Text = K->text();
        const bool Typing = !Text.isEmpty() && Text[0].isPrint() &&
                            !(K->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
        if (Typing || K->matches(QKeySequence::Copy) || K->matches(QKeySequence::Paste) ||
            K->matches(QKeySequence::Cut) || K->matches(QKeySequence::Undo) || K->matches(QKeySequence::Redo) ||
            K->matches(QKeySequence::SelectAll) || K->matches(QKeySequence::Delete) ||
            K->matches(QKeySequence::MoveToStartOfDocument) || K->matches(QKeySequence::MoveToEndOfDocument) ||
            K->matches(QKeySequence::SelectStartOfDocument) || K->matches(QKeySequence::SelectEndOfDocument)) {
            K->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(Event);
}

void TLinesEdit::inputMethodEvent(QInputMethodEvent* Event) {
    if (!FReadOnly && !Event->commitString().isEmpty())
        ReplaceSelection(Normalized(Event->commitString()), true);
    Event->accept();
}

QVariant TLinesEdit::inputMethodQuery(Qt::InputMethodQuery Query) const {
    const int L = LineOf(FCursor);
    switch (Query) {
    case Qt::ImEnabled:
        return !FReadOnly;
    case Qt::ImCursorRectangle:
        return QRect(XOf(L, FCursor), Margin + (L - verticalScrollBar()->value()) * LineHeight(), 1, LineHeight());
    case Qt::ImCursorPosition:
        return int(FCursor - LineStart(L));
    case Qt::ImAnchorPosition:
        return int(qBound(LineStart(L), FAnchor, LineEnd(L)) - LineStart(L));
    case Qt::ImSurroundingText:
        return Line(L);
    case Qt::ImCurrentSelection:
        return SelectedText();
    default:
        return QAbstractScrollArea::inputMethodQuery(Query);
    }
}

// --- Mouse and drops ---------------------------------------------------------

void TLinesEdit::mousePressEvent(QMouseEvent* Event) {
    // The middle button pastes the selection of X11 where it is pressed.
    if (Event->button() == Qt::MiddleButton && QApplication::clipboard()->supportsSelection() && !FReadOnly) {
        const qsizetype Pos = PosAt(Event->position().toPoint());
        if (const QMimeData* Source = QApplication::clipboard()->mimeData(QClipboard::Selection);
            Source && Source->hasText() && MimeLocalFile(Source).isEmpty())
            InsertMime(Source, Pos);
        return;
    }
    if (Event->button() != Qt::LeftButton) {
        Event->ignore();
        return;
    }
    MoveCursor(PosAt(Event->position().toPoint()), Event->modifiers() & Qt::ShiftModifier);
    FSelecting = true;
}

void TLinesEdit::mouseMoveEvent(QMouseEvent* Event) {
    if (FSelecting && (Event->buttons() & Qt::LeftButton))
        MoveCursor(PosAt(Event->position().toPoint()), true);
}

void TLinesEdit::mouseReleaseEvent(QMouseEvent*) {
    if (FSelecting && HasSelection() && QApplication::clipboard()->supportsSelection())
        QApplication::clipboard()->setText(SelectedText(), QClipboard::Selection);
    FSelecting = false;
}

void TLinesEdit::mouseDoubleClickEvent(QMouseEvent* Event) {
    if (Event->button() != Qt::LeftButton)
        return;
    const qsizetype Pos = PosAt(Event->position().toPoint());
    qsizetype From = Pos, To = Pos;
    while (From > 0 && FText[From - 1].isLetterOrNumber())
        --From;
    while (To < FText.size() && FText[To].isLetterOrNumber())
        ++To;
    SetSelection(From, To);
}

QMenu* TLinesEdit::MakeContextMenu() {
    auto* Menu = new QMenu(this);
    const auto Add = [&](const QString& Text, const QKeySequence& Keys, bool Enabled, std::function<void()> Slot) {
        QAction* A = Menu->addAction(Text);
        connect(A, &QAction::triggered, this, std::move(Slot));
        A->setShortcut(Keys);
        A->setEnabled(Enabled);
    };
    const QMimeData* Clip = QApplication::clipboard()->mimeData();
    Add(tr("&Undo"), QKeySequence::Undo, !FReadOnly && IsUndoAvailable(), [this] { undo(); });
    Add(tr("&Redo"), QKeySequence::Redo, !FReadOnly && IsRedoAvailable(), [this] { redo(); });
    Menu->addSeparator();
    Add(tr("Cu&t"), QKeySequence::Cut, !FReadOnly && HasSelection(), [this] { cut(); });
    Add(tr("&Copy"), QKeySequence::Copy, HasSelection(), [this] { copy(); });
    Add(tr("&Paste"), QKeySequence::Paste, !FReadOnly && Clip && Clip->hasText(), [this] { paste(); });
    Add(tr("Delete"), QKeySequence(), !FReadOnly && HasSelection(), [this] { ReplaceSelection(QString()); });
    Menu->addSeparator();
    Add(tr("Select All"), QKeySequence::SelectAll, !FText.isEmpty(), [this] { selectAll(); });
    return Menu;
}

void TLinesEdit::contextMenuEvent(QContextMenuEvent* Event) {
    QMenu* Menu = MakeContextMenu();
    Menu->setAttribute(Qt::WA_DeleteOnClose);
    Menu->popup(Event->globalPos());
}

bool TLinesEdit::CanDrop(const QMimeData* Source) const {
    if (!MimeLocalFile(Source).isEmpty())
        return static_cast<bool>(OnFileDrop);
    return !FReadOnly && Source && Source->hasText();
}

void TLinesEdit::dragEnterEvent(QDragEnterEvent* Event) { dragMoveEvent(Event); }

void TLinesEdit::dragMoveEvent(QDragMoveEvent* Event) {
    if (CanDrop(Event->mimeData()))
        Event->acceptProposedAction();
    else
        Event->ignore();
}

void TLinesEdit::dropEvent(QDropEvent* Event) {
    if (!CanDrop(Event->mimeData())) {
        Event->ignore();
        return;
    }
    Event->acceptProposedAction();
    InsertMime(Event->mimeData(), PosAt(Event->position().toPoint()));
}

// --- Layout and painting -------------------------------------------------------

int TLinesEdit::LineHeight() const { return qMax(1, fontMetrics().lineSpacing()); }

int TLinesEdit::VisibleLines() const { return qMax(1, (viewport()->height() - Margin) / LineHeight()); }

int TLinesEdit::XOf(int ALine, qsizetype APos) const {
    const qsizetype Start = LineStart(ALine);
    return Margin - horizontalScrollBar()->value() +
           fontMetrics().horizontalAdvance(FText.mid(Start, APos - Start));
}

qsizetype TLinesEdit::PosAtX(int ALine, int AX) const {
    const qsizetype Start = LineStart(ALine);
    const QString Text = FText.mid(Start, LineEnd(ALine) - Start);
    const QFontMetrics FM = fontMetrics();
    const int X = AX - Margin + horizontalScrollBar()->value();
    // Advances grow with the characters: the first column at or past X, or the one before if nearer.
    qsizetype Lo = 0, Hi = Text.size();
    while (Lo < Hi) {
        const qsizetype Mid = (Lo + Hi) / 2;
        if (FM.horizontalAdvance(Text, int(Mid)) < X)
            Lo = Mid + 1;
        else
            Hi = Mid;
    }
    if (Lo > 0 && X - FM.horizontalAdvance(Text, int(Lo - 1)) < FM.horizontalAdvance(Text, int(Lo)) - X)
        --Lo;
    if (Lo > 0 && Lo < Text.size() && Text[Lo].isLowSurrogate())
        --Lo;
    return Start + Lo;
}

qsizetype TLinesEdit::PosAt(const QPoint& APoint) const {
    const int Y = qMax(0, APoint.y() - Margin);
    const int Line = qBound(0, verticalScrollBar()->value() + Y / LineHeight(), blockCount() - 1);
    return PosAtX(Line, APoint.x());
}

void TLinesEdit::UpdateScrollBars() {
    const int Visible = VisibleLines();
    verticalScrollBar()->setPageStep(Visible);
    verticalScrollBar()->setRange(0, qMax(0, blockCount() - Visible));
    if (FLongestWidth < 0) {
        const qsizetype Chars = LineEnd(FLongestLine) - LineStart(FLongestLine);
        FLongestWidth = Chars > MeasuredLineChars ? int(qMin<qsizetype>(Chars * fontMetrics().averageCharWidth(), INT_MAX / 2))
                                                  : fontMetrics().horizontalAdvance(Line(FLongestLine));
    }
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(qMax(1, fontMetrics().averageCharWidth()));
    horizontalScrollBar()->setRange(0, qMax(0, FLongestWidth + 2 * Margin - viewport()->width()));
}

void TLinesEdit::EnsureCursorVisible() {
    const int Line = LineOf(FCursor);
    QScrollBar* V = verticalScrollBar();
    if (Line < V->value())
        V->setValue(Line);
    else if (Line >= V->value() + VisibleLines())
        V->setValue(Line - VisibleLines() + 1);
    QScrollBar* H = horizontalScrollBar();
    const int X = XOf(Line, FCursor) + H->value();
    const int W = viewport()->width();
    if (X - Margin < H->value())
        H->setValue(X - Margin);
    else if (X + Margin > H->value() + W)
        H->setValue(X + Margin - W);
}

void TLinesEdit::Changed() {
    UpdateScrollBars();
    viewport()->update();
    Q_EMIT textChanged();
}

void TLinesEdit::paintEvent(QPaintEvent*) {
    QPainter P(viewport());
    const QPalette& Pal = palette();
    const QFontMetrics FM = fontMetrics();
    const int LH = LineHeight();
    const int Left = Margin - horizontalScrollBar()->value();
    const int Height = viewport()->height();
    if (FText.isEmpty() && !FPlaceholder.isEmpty()) {
        P.setPen(Pal.color(QPalette::PlaceholderText));
        P.drawText(Margin, Margin + FM.ascent(), FPlaceholder);
    }
    const qsizetype SelFrom = SelectionStart(), SelTo = SelectionEnd();
    const int CaretLine = LineOf(FCursor);
    int Widest = FLongestWidth;
    for (int Line = verticalScrollBar()->value(), Y = Margin; Line < blockCount() && Y < Height; ++Line, Y += LH) {
        const qsizetype Start = LineStart(Line), End = LineEnd(Line);
        const QString Text = FText.mid(Start, End - Start);
        P.setPen(Pal.color(QPalette::Text));
        P.drawText(Left, Y + FM.ascent(), Text);
        if (Text.size() <= MeasuredLineChars)
            Widest = qMax(Widest, FM.horizontalAdvance(Text));
        // The selected part, and a blank's width for a selected line break.
        const qsizetype From = qMax(SelFrom, Start), To = qMin(SelTo, End);
        const bool Break = SelFrom <= End && SelTo > End;
        if (From < To || Break) {
            const int X0 = From < To ? XOf(Line, From) : XOf(Line, End);
            const int X1 = (From < To ? XOf(Line, To) : X0) + (Break ? FM.horizontalAdvance(QLatin1Char(' ')) : 0);
            const QRect R(X0, Y, X1 - X0, LH);
            P.fillRect(R, Pal.color(QPalette::Highlight));
            P.save();
            P.setClipRect(R);
            P.setPen(Pal.color(QPalette::HighlightedText));
            P.drawText(Left, Y + FM.ascent(), Text);
            P.restore();
        }
        if (Line == CaretLine && FCaretShown && hasFocus())
            P.fillRect(QRect(XOf(Line, FCursor), Y, 1, LH), Pal.color(QPalette::Text));
    }
    // A line wider than the longest by characters (wide letters) still gets scrolled to.
    if (Widest > FLongestWidth) {
        FLongestWidth = Widest;
        QMetaObject::invokeMethod(this, [this] { UpdateScrollBars(); }, Qt::QueuedConnection);
    }
}

void TLinesEdit::resizeEvent(QResizeEvent* Event) {
    QAbstractScrollArea::resizeEvent(Event);
    UpdateScrollBars();
}

void TLinesEdit::scrollContentsBy(int, int) { viewport()->update(); }

// --- Caret -------------------------------------------------------------------------

void TLinesEdit::RestartCaret() {
    FCaretShown = true;
    const int Flash = QApplication::cursorFlashTime();
    if (hasFocus() && Flash > 0)
        FCaretTimer.start(Flash / 2, this);
    else
        FCaretTimer.stop();
}

void TLinesEdit::focusInEvent(QFocusEvent* Event) {
    QAbstractScrollArea::focusInEvent(Event);
    RestartCaret();
    viewport()->update();
}

void TLinesEdit::focusOutEvent(QFocusEvent* Event) {
    QAbstractScrollArea::focusOutEvent(Event);
    FCaretTimer.stop();
    FCaretShown = false;
    viewport()->update();
}

void TLinesEdit::timerEvent(QTimerEvent* Event) {
    if (Event->timerId() != FCaretTimer.timerId()) {
        QAbstractScrollArea::timerEvent(Event);
        return;
    }
    FCaretShown = !FCaretShown;
    viewport()->update();
}
