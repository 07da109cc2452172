#include "app/uMemo.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextCursor>
#include <QTextDocument>

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

void TMemo::insertFromMimeData(const QMimeData* Source) {
    // A plain-text editor takes only the text of what is pasted or dropped.
    if (!Source || !Source->hasText() || !HasSeparator(Source->text())) {
        QPlainTextEdit::insertFromMimeData(Source);
        return;
    }
    QMimeData Plain;
    Plain.setText(NormalizeBreaks(Source->text()));
    QPlainTextEdit::insertFromMimeData(&Plain);
}

QString MemoText(const QPlainTextEdit* Memo) {
    // The raw text separates blocks by U+2029 and keeps every character.
    QString Text = Memo->document()->toRawText();
    Text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return Text;
}
