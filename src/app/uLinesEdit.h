#pragma once

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QMimeData;
class QMenu;

// An editor for lists of a million lines. The text is one string with a line
// feed after every line but the last, plus the offset of each line's start;
// only the lines in view are measured and drawn. What the user does in a
// plain-text editor is kept: typing, selecting by mouse and keys, the
// clipboard, drops, undo, Tab moving on. Line breaks that come in as CR LF,
// CR, U+2028 or U+2029 become line feeds, so a line drawn is a line counted.
class TLinesEdit : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TLinesEdit(QWidget* AParent = nullptr);

    // The whole text, lines separated by line feeds.
    QString toPlainText() const { return FText; }
    void setPlainText(const QString& AText);
    // A line feed and AText after the present text (AText alone when empty).
    void appendPlainText(const QString& AText);
    void clear();

    // Lines as a list file holds them: a final empty line is not one.
    QStringList Lines() const;
    void SetLines(const QStringList& ALines);
    int LineCount() const;
    // Lines drawn, the final empty one included ("a\n" has two).
    int blockCount() const { return int(FStarts.size()); }
    QString Line(int AIndex) const;

    QString placeholderText() const { return FPlaceholder; }
    void setPlaceholderText(const QString& AText);
    bool isReadOnly() const { return FReadOnly; }
    void setReadOnly(bool AValue);

    // The cursor and the selection, as offsets into toPlainText.
    qsizetype CursorPosition() const { return FCursor; }
    qsizetype SelectionStart() const { return qMin(FAnchor, FCursor); }
    qsizetype SelectionEnd() const { return qMax(FAnchor, FCursor); }
    bool HasSelection() const { return FAnchor != FCursor; }
    QString SelectedText() const;
    void SetSelection(qsizetype AAnchor, qsizetype ACursor);
    // Replaces the selection, as typing or pasting does (one undo step).
    void insertPlainText(const QString& AText);
    bool IsUndoAvailable() const { return !FUndo.empty(); }
    bool IsRedoAvailable() const { return !FRedo.empty(); }

    // Files dropped or pasted on the list go here (the first one, from the
    // event loop); without a handler they are refused, and their URL is
    // never taken as text.
    std::function<void(const QString& FileName)> OnFileDrop;

public Q_SLOTS:
    void undo();
    void redo();
    void cut();
    void copy() const;
    void paste();
    void selectAll();

Q_SIGNALS:
    void textChanged();

protected:
    bool event(QEvent* Event) override;
    void paintEvent(QPaintEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void inputMethodEvent(QInputMethodEvent* Event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery Query) const override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;
    void contextMenuEvent(QContextMenuEvent* Event) override;
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dragMoveEvent(QDragMoveEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;
    void focusInEvent(QFocusEvent* Event) override;
    void focusOutEvent(QFocusEvent* Event) override;
    void timerEvent(QTimerEvent* Event) override;
    void scrollContentsBy(int Dx, int Dy) override;

private:
    struct TEdit {
        qsizetype Pos;
        QString Removed;
        QString Inserted;
        qsizetype AnchorBefore, CursorBefore;
        bool Typing;
    };

    QString FText;
    // Offset of each line's first character; never empty.
    std::vector<qsizetype> FStarts{0};
    // The line with the most characters, and its width once measured.
    int FLongestLine = 0;
    int FLongestWidth = -1;
    qsizetype FAnchor = 0, FCursor = 0;
    // The x the cursor keeps while moving up and down.
    int FGoalX = -1;
    bool FReadOnly = false;
    bool FSelecting = false;
    bool FCaretShown = false;
    QString FPlaceholder;
    std::vector<TEdit> FUndo, FRedo;
    qsizetype FUndoChars = 0;
    QBasicTimer FCaretTimer;

    // Undo keeps at least the last step, and older ones while their text fits this.
    static constexpr qsizetype UndoCharLimit = qsizetype(32) << 20;

    static QString Normalized(QString AText);
    qsizetype LineStart(int ALine) const { return FStarts[size_t(ALine)]; }
    qsizetype LineEnd(int ALine) const;
    int LineOf(qsizetype APos) const;
    void Reindex();
    // Looks for a line longer than the longest among [AFrom, ATo).
    void MeasureLongest(int AFrom, int ATo);
    // Replaces [AFrom, ATo) with normalized text; records an undo step unless replaying one.
    void Replace(qsizetype AFrom, qsizetype ATo, const QString& AText, bool ATyping, bool ARecord = true);
    void ReplaceSelection(const QString& AText, bool ATyping = false);
    void PushUndo(TEdit AEdit);
    void InsertMime(const QMimeData* Source, qsizetype APos);
    bool CanDrop(const QMimeData* Source) const;
    void MoveCursor(qsizetype APos, bool AKeepAnchor, bool AKeepGoal = false);
    qsizetype WordStart(qsizetype APos) const;
    qsizetype WordEnd(qsizetype APos) const;
    bool HandleMoveKey(QKeyEvent* Event);
    bool HandleEditKey(QKeyEvent* Event);
    int LineHeight() const;
    int VisibleLines() const;
    int XOf(int ALine, qsizetype APos) const;
    qsizetype PosAt(const QPoint& APoint) const;
    qsizetype PosAtX(int ALine, int AX) const;
    void UpdateScrollBars();
    void EnsureCursorVisible();
    void Changed();
    void RestartCaret();
    QMenu* MakeContextMenu();
};
