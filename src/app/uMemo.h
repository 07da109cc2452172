#pragma once

#include <QPlainTextEdit>
#include <functional>

class QMimeData;

// The window's multi-line list: a line of the memo is a line of the list it
// stands for. The editor would otherwise take Shift+Enter and pasted text
// with U+2028 or U+2029 as a break inside one line: drawn as two lines,
// counted as one, and read back by QPlainTextEdit::toPlainText as two. Those
// separators become plain line breaks as the user's text comes in.
class TMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TMemo(QWidget* AParent = nullptr);

    // The text with U+2028 and U+2029 as line feeds; every other character as it is.
    static QString NormalizeBreaks(QString AText);

    // Files dropped or pasted on the memo go here (the first one, from the
    // event loop); without a handler the memo refuses them. Their URL is
    // never taken as text.
    std::function<void(const QString& FileName)> OnFileDrop;

protected:
    void keyPressEvent(QKeyEvent* Event) override;
    void inputMethodEvent(QInputMethodEvent* Event) override;
    bool canInsertFromMimeData(const QMimeData* Source) const override;
    void insertFromMimeData(const QMimeData* Source) override;

private:
    // Lines from which a paste over the whole text replaces it at once.
    static constexpr int BigTextBlocks = 10000;
    bool ReplacesWholeBigText(const QString& AText);
};

// The first local file among what is dragged or pasted; empty when none.
QString MimeLocalFile(const QMimeData* Source);

// A memo's text as stored: blocks joined by line feeds, without the
// replacements toPlainText makes (a no-break space there becomes a blank).
QString MemoText(const QPlainTextEdit* Memo);
