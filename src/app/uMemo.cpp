#include "app/uMemo.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>

namespace {

bool HasSeparator(const QString& S) {
    return S.contains(QChar::LineSeparator) || S.contains(QChar::ParagraphSeparator);
}

} // namespace

TMemo::TMemo(QWidget* AParent) : QPlainTextEdit(AParent) {}

QString TMemo::NormalizeBreaks(QString AText) {
    AText.replace(QChar::LineSeparator, QLatin1Char('\n'));
    AText.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return AText;
}

void TMemo::keyPressEvent(QKeyEvent* Event) {
    if (!isReadOnly()) {
        // Shift+Enter: a new line like Enter, not a break inside the line.
        if (Event->matches(QKeySequence::InsertLineSeparator)) {
            QTextCursor C = textCursor();
            C.insertBlock();
            setTextCursor(C);
            ensureCursorVisible();
            Event->accept();
            return;
        }
        if (HasSeparator(Event->text())) {
            insertPlainText(NormalizeBreaks(Event->text()));
            Event->accept();
            return;
        }
    }
    QPlainTextEdit::keyPressEvent(Event);
}

void TMemo::inputMethodEvent(QInputMethodEvent* Event) {
    if (!HasSeparator(Event->commitString())) {
        QPlainTextEdit::inputMethodEvent(Event);
        return;
    }
    QInputMethodEvent Copy(Event->preeditString(), Event->attributes());
    Copy.setCommitString(NormalizeBreaks(Event->commitString()), Event->replacementStart(),
                         Event->replacementLength());
    QPlainTextEdit::inputMethodEvent(&Copy);
    Event->setAccepted(Copy.isAccepted());
}

bool TMemo::canInsertFromMimeData(const QMimeData* Source) const {
    if (!MimeLocalFile(Source).isEmpty())
        return static_cast<bool>(OnFileDrop);
    return QPlainTextEdit::canInsertFromMimeData(Source);
}

void TMemo::insertFromMimeData(const QMimeData* Source) {
    if (const QString File = MimeLocalFile(Source); !File.isEmpty()) {
        // Read once the drop is over: the handler replaces the whole text
        // the editor is still inserting into.
        if (OnFileDrop)
            QMetaObject::invokeMethod(this, [this, File] { if (OnFileDrop) OnFileDrop(File); }, Qt::QueuedConnection);
        return;
    }
    // A plain-text editor takes only the text of what is pasted or dropped.
    if (Source && Source->hasText() && ReplacesWholeBigText(Source->text()))
        return;
    if (!Source || !Source->hasText() || !HasSeparator(Source->text())) {
        QPlainTextEdit::insertFromMimeData(Source);
        return;
    }
    QMimeData Plain;
    Plain.setText(NormalizeBreaks(Source->text()));
    QPlainTextEdit::insertFromMimeData(&Plain);
}

bool TMemo::ReplacesWholeBigText(const QString& AText) {
    // Removing a long list block by block through the cursor takes the
    // editor seconds per hundred thousand lines; a new text is built in a
    // fraction of that. The price, losing the undo history, is paid only
    // where that history would hold the whole list anyway.
    const QTextCursor C = textCursor();
    if (isReadOnly() || document()->blockCount() < BigTextBlocks || C.selectionStart() != 0 ||
        C.selectionEnd() < document()->characterCount() - 1)
        return false;
    setPlainText(NormalizeBreaks(AText));
    QTextCursor End = textCursor();
    End.movePosition(QTextCursor::End);
    setTextCursor(End);
    ensureCursorVisible();
    return true;
}

QString MimeLocalFile(const QMimeData* Source) {
    if (!Source || !Source->hasUrls())
        return QString();
    for (const QUrl& Url : Source->urls())
        if (Url.isLocalFile())
            return Url.toLocalFile();
    return QString();
}

QString MemoText(const QPlainTextEdit* Memo) {
    // The raw text separates blocks by U+2029 and keeps every character.
    QString Text = Memo->document()->toRawText();
    Text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return Text;
}
