#pragma once

#include <QString>
#include <QStringList>
#include <QTreeView>
#include <functional>

class QAbstractButton;
class QItemSelection;
class QLabel;
class TIntList;
class TListViewEx;
class TListViewModel;

// Notification taking only the sending list view.
using TLVNotifyEvent = std::function<void(TListViewEx* Sender)>;
// The check-box area of row Item was clicked.
using TItemCheckedEvent = std::function<void(TListViewEx* Sender, int Item)>;
// A column header was clicked; Desc is set for the second click on the sorted column.
using TSortByColumnEvent = std::function<void(TListViewEx* Sender, int Column, bool Desc)>;
// Owner-data rows: fill Caption and SubItems (one per further column) for row Item.
// Rows left untouched stay blank.
using TLVOwnerDataEvent =
    std::function<void(TListViewEx* Sender, int Item, QString& Caption, QStringList& SubItems)>;
// The selection moved: Item is the selected row (-1 for none), Selected whether one is selected.
using TLVSelectItemEvent = std::function<void(TListViewEx* Sender, int Item, bool Selected)>;

// A report-style list view: rows with a caption and sub-items, optional check
// boxes, and an owner-data (virtual) mode whose rows are asked for on demand.
// Besides the plain list operations it keeps a count label and a set of
// action buttons in step with the selection, turns keys and double clicks
// into clicks on those buttons, reports header clicks as sort requests and
// reports clicks on a row's check box.
class TListViewEx : public QTreeView {
    Q_OBJECT
public:
    explicit TListViewEx(QWidget* AOwner = nullptr);
    ~TListViewEx() override;

    // --- Columns
    int ColumnCount() const;
    QString ColumnCaption(int Column) const;
    // Appends one column per name; widths, when given, by the same index.
    void AddColumns(const QStringList& ColumnNames, const TIntList* ColumnWidths = nullptr);
    void ClearColumns();

    // --- Rows (the row count is the owner-data count in virtual mode)
    int ItemCount() const;
    // Owner-data only: the number of virtual rows; keeps the selection of rows that remain.
    void SetItemCount(int Value);
    int AddItem(const QString& Caption, const QStringList& SubItems = {});
    void DeleteItem(int Index);
    void ClearItems();
    QString ItemCaption(int Index) const;
    void SetItemCaption(int Index, const QString& Caption);
    QStringList ItemSubItems(int Index) const;
    void SetItemSubItems(int Index, const QStringList& SubItems);
    bool ItemChecked(int Index) const;
    void SetItemChecked(int Index, bool Checked);
    bool ItemSelected(int Index) const;
    void SetItemSelected(int Index, bool Selected);
    // First selected row, -1 when none.
    int SelectedIndex() const;
    int SelectedCount() const;
    void SelectAll();
    void UnSelectAll();
    // Nests; the view repaints once when the outermost update ends.
    void BeginUpdate();
    void EndUpdate();

    // --- Modes
    bool OwnerData() const { return FOwnerData; }
    void SetOwnerData(bool Value);
    bool Checkboxes() const { return FCheckboxes; }
    void SetCheckboxes(bool Value);
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool Value);
    bool MultiSelect() const;
    void SetMultiSelect(bool Value);
    bool ColumnClick() const;
    void SetColumnClick(bool Value);
    // True while a caption is being edited in place.
    bool IsEditing() const;

    // --- Painting
    // Bounds of row Index across the whole viewport; empty when not on screen.
    QRect ItemRect(int Index) const;
    // Repaints a viewport rectangle with its background erased.
    void InvalidateRect(const QRect& R);
    void InvalidateRow(int Index);
    void RepaintAll();
    // Row count (unless -1 or unchanged), full repaint, buttons, count label, OnInvalidated.
    void InvalidateListView(int AItemsCount);

    // After the stored properties are in place: a row-data callback makes the list virtual.
    virtual void Loaded();

    // --- Owner-data and selection callbacks. Setting one replaces the handler
    // this class installs; a null selection callback restores that handler.
    const TLVOwnerDataEvent& OnData() const { return FOnData; }
    void SetOnData(TLVOwnerDataEvent Value);
    void SetOnSelectItem(TLVSelectItemEvent Value);

    // --- Events
    TLVNotifyEvent OnSelected;
    TItemCheckedEvent OnItemChecked;
    TLVNotifyEvent OnInvalidated;
    TSortByColumnEvent OnSortByColumn;

    int SortedByColumn() const { return FSortedByColumn; }
    void SetSortedByColumn(int Value) { FSortedByColumn = Value; }
    int SelectedItemIndex() const { return FSelectedItemIndex; }

    // --- Bound controls (not owned)
    QAbstractButton* AddButton = nullptr;
    QAbstractButton* EditButton = nullptr;
    QAbstractButton* DeleteButton = nullptr;
    QAbstractButton* ViewButton = nullptr;
    QAbstractButton* ClearCheckButton = nullptr;
    QAbstractButton* DeleteAllButton = nullptr;
    QAbstractButton* CheckAllButton = nullptr;
    QAbstractButton* UnCheckAllButton = nullptr;
    QAbstractButton* CheckSelectedButton = nullptr;
    QAbstractButton* UnCheckSelectedButton = nullptr;
    QAbstractButton* MoveUpButton = nullptr;
    QAbstractButton* MoveDownButton = nullptr;
    QLabel* CountLabel = nullptr;

    virtual void UpdateButtons();

protected:
    virtual void DoItemChecked(int Item);
    virtual void DoInvalidated();
    virtual void DoSortByColumn(int Column, bool Desc);

    void keyPressEvent(QKeyEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;
    void paintEvent(QPaintEvent* Event) override;

private:
    friend class TListViewModel;
    void ItemChange(int First, int Last);
    void SelectItemHandler(TListViewEx* Sender, int Item, bool Selected);
    void SelectionChanged(const QItemSelection& Selected, const QItemSelection& Deselected);
    void ColumnClicked(int Column);
    static void ClickIfEnabled(QAbstractButton* Button);
    // Left edge of the caption area of row Item (after the check box).
    int LabelLeft(int Item) const;

    TListViewModel* FModel;
    int FSelectedItemIndex = -1;
    int FSortedByColumn = -1;
    bool FOwnerData = false;
    bool FCheckboxes = false;
    bool FReadOnly = true;
    int FUpdateCount = 0;
    TLVOwnerDataEvent FOnData;
    TLVSelectItemEvent FOnSelectItem;
    bool FOwnSelectHandler = true;
};

// Every list view the windows declare is the extended one.
class TListView : public TListViewEx {
    Q_OBJECT
public:
    using TListViewEx::TListViewEx;
};
