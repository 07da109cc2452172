#pragma once

#include <QRect>
#include <QString>
#include <QStringList>
#include <functional>

// The engine reaches the screen (or the terminal) only through these small
// interfaces. The window implements them over widgets, the command line over
// the terminal and the tests with fakes. Every call is made on the main thread.

// A multi-line text control that the log appends to.
class TMemoControl {
public:
    virtual ~TMemoControl() = default;
    // Number of lines; a last empty line after the final line break is not counted.
    virtual int LineCount() const = 0;
    virtual QString Line(int AIndex) const = 0;
    virtual void SetText(const QString& AText) = 0;
    // Length of the whole text in UTF-16 units, line breaks being CR LF.
    virtual int TextLength() const = 0;
    // Moves the caret there, with an empty selection.
    virtual void SetSelStart(int APosition) = 0;
    // Replaces the current selection (empty: inserts at the caret).
    virtual void ReplaceSelection(const QString& AText) = 0;
};

// One row of a virtual list view being filled: the caption is the first
// column, the sub-items the following ones.
struct TListItem {
    int Index = -1;
    QString Caption;
    QStringList SubItems;
};

// The view asks for the data of one row.
using TListViewDataEvent = std::function<void(TListItem& Item)>;
// The view's selection changed; the item concerned and whether it is now selected.
using TListViewSelectEvent = std::function<void(const TListItem& Item, bool Selected)>;

// A report-style list view with virtual (owner-data) rows.
class TListViewControl {
public:
    virtual ~TListViewControl() = default;
    virtual int RowCount() const = 0;
    virtual void SetRowCount(int ACount) = 0;
    // Repaints the whole view.
    virtual void Repaint() = 0;
    virtual QRect ItemRect(int AIndex) const = 0;
    virtual void InvalidateRect(const QRect& ARect, bool AErase) = 0;
    // Index of the selected row, or -1.
    virtual int SelectedIndex() const = 0;
    virtual void SetOnData(TListViewDataEvent AHandler) = 0;
    virtual void SetOnSelectItem(TListViewSelectEvent AHandler) = 0;
};

using TClickEvent = std::function<void()>;

class TButtonControl {
public:
    virtual ~TButtonControl() = default;
    virtual bool Enabled() const = 0;
    virtual void SetEnabled(bool AValue) = 0;
    virtual bool Visible() const = 0;
    virtual void SetVisible(bool AValue) = 0;
    virtual void SetOnClick(TClickEvent AHandler) = 0;
};

class TLabelControl {
public:
    virtual ~TLabelControl() = default;
    virtual QString Text() const = 0;
    virtual void SetText(const QString& AText) = 0;
    virtual bool Visible() const = 0;
    virtual void SetVisible(bool AValue) = 0;
};

class TProgressBarControl {
public:
    virtual ~TProgressBarControl() = default;
    virtual void SetMin(int AValue) = 0;
    virtual void SetMax(int AValue) = 0;
    virtual void SetPosition(int AValue) = 0;
    virtual bool Visible() const = 0;
    virtual void SetVisible(bool AValue) = 0;
};

// The application as a whole.
class TApplicationControl {
public:
    virtual ~TApplicationControl() = default;
    // Closes the main window, if there is one.
    virtual void CloseMainWindow() = 0;
    // Lets pending UI events (and hand-offs from worker threads) run.
    virtual void ProcessEvents() = 0;
};

// The application control the engine uses. Until one is installed a default
// serves: it processes the Qt events of the main thread and closes nothing.
TApplicationControl* Application();
// Installs AApplication (null: the default again). Not owned.
void SetApplication(TApplicationControl* AApplication);
