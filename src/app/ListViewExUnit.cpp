#include "app/ListViewExUnit.h"

#include "containers/uIntList.h"

#include <QAbstractButton>
#include <QAbstractTableModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionViewItem>

namespace {

struct TListItemData {
    QString Caption;
    QStringList SubItems;
    bool Checked = false;
};

} // namespace

// Rows and columns of one list view. Real rows are stored here; virtual rows
// are asked of the view's row-data callback, at most once per row per paint.
class TListViewModel : public QAbstractTableModel {
public:
    explicit TListViewModel(TListViewEx* AView) : QAbstractTableModel(AView), FView(AView) {}

    int rowCount(const QModelIndex& Parent = QModelIndex()) const override {
        if (Parent.isValid())
            return 0;
        return FView->FOwnerData ? FVirtualCount : int(FItems.size());
    }
    int columnCount(const QModelIndex& Parent = QModelIndex()) const override {
        return Parent.isValid() ? 0 : int(FColumns.size());
    }

    QVariant data(const QModelIndex& Index, int Role) const override {
        if (!Index.isValid() || Index.row() >= rowCount())
            return {};
        if (Role == Qt::DisplayRole || Role == Qt::EditRole) {
            const TListItemData& D = Row(Index.row());
            if (Index.column() == 0)
                return D.Caption;
            return D.SubItems.value(Index.column() - 1);
        }
        if (Role == Qt::CheckStateRole && Index.column() == 0 && FView->FCheckboxes && !FView->FOwnerData)
            return FItems[Index.row()].Checked ? Qt::Checked : Qt::Unchecked;
        return {};
    }

    bool setData(const QModelIndex& Index, const QVariant& Value, int Role) override {
        if (!Index.isValid() || FView->FOwnerData || Index.row() >= int(FItems.size()) || Index.column() != 0)
            return false;
        if (Role == Qt::EditRole)
            FItems[Index.row()].Caption = Value.toString();
        else if (Role == Qt::CheckStateRole)
            FItems[Index.row()].Checked = Value.toInt() == Qt::Checked;
        else
            return false;
        RowChanged(Index.row());
        return true;
    }

    Qt::ItemFlags flags(const QModelIndex& Index) const override {
        if (!Index.isValid())
            return Qt::NoItemFlags;
        Qt::ItemFlags F = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
        if (Index.column() == 0 && !FView->FOwnerData) {
            if (FView->FCheckboxes)
                F |= Qt::ItemIsUserCheckable;
            if (!FView->FReadOnly)
                F |= Qt::ItemIsEditable;
        }
        return F;
    }

    QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override {
        if (Orientation == Qt::Horizontal && Role == Qt::DisplayRole && Section >= 0 && Section < FColumns.size())
            return FColumns[Section];
        return QAbstractTableModel::headerData(Section, Orientation, Role);
    }

    // Virtual rows are fetched through the callback; one row is cached so the
    // columns of a row cost one call.
    const TListItemData& Row(int R) const {
        if (!FView->FOwnerData)
            return FItems[R];
        if (FCacheRow != R) {
            FCache = TListItemData();
            if (FView->FOnData)
                FView->FOnData(FView, R, FCache.Caption, FCache.SubItems);
            FCacheRow = R;
        }
        return FCache;
    }
    void DropCache() { FCacheRow = -1; }

    void RowChanged(int R) {
        DropCache();
        if (!FColumns.isEmpty())
            Q_EMIT dataChanged(index(R, 0), index(R, int(FColumns.size()) - 1));
    }

    void AddColumns(const QStringList& Names) {
        if (Names.isEmpty())
            return;
        beginInsertColumns({}, int(FColumns.size()), int(FColumns.size() + Names.size()) - 1);
        FColumns += Names;
        endInsertColumns();
    }
    void ClearColumns() {
        if (FColumns.isEmpty())
            return;
        beginRemoveColumns({}, 0, int(FColumns.size()) - 1);
        FColumns.clear();
        endRemoveColumns();
    }

    int AddItem(const TListItemData& D) {
        const int R = int(FItems.size());
        beginInsertRows({}, R, R);
        FItems.append(D);
        endInsertRows();
        return R;
    }
    void DeleteItem(int R) {
        beginRemoveRows({}, R, R);
        FItems.removeAt(R);
        endRemoveRows();
    }
    void ClearItems() {
        beginResetModel();
        FItems.clear();
        FVirtualCount = 0;
        DropCache();
        endResetModel();
    }
    void SetVirtualCount(int N) {
        DropCache();
        if (N > FVirtualCount) {
            beginInsertRows({}, FVirtualCount, N - 1);
            FVirtualCount = N;
            endInsertRows();
        } else if (N < FVirtualCount) {
            beginRemoveRows({}, N, FVirtualCount - 1);
            FVirtualCount = N;
            endRemoveRows();
        }
    }
    void Reset() {
        beginResetModel();
        DropCache();
        endResetModel();
    }

    QStringList FColumns;
    QList<TListItemData> FItems;
    int FVirtualCount = 0;

private:
    TListViewEx* FView;
    mutable int FCacheRow = -1;
    mutable TListItemData FCache;
};

TListViewEx::TListViewEx(QWidget* AOwner) : QTreeView(AOwner), FModel(new TListViewModel(this)) {
    setModel(FModel);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    header()->setSectionsClickable(true);
    header()->setSectionsMovable(false);

    FOnSelectItem = [this](TListViewEx* Sender, int Item, bool Selected) {
        SelectItemHandler(Sender, Item, Selected);
    };
    connect(FModel, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& TopLeft, const QModelIndex& BottomRight) {
                ItemChange(TopLeft.row(), BottomRight.row());
            });
    connect(header(), &QHeaderView::sectionClicked, this, [this](int Column) { ColumnClicked(Column); });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& Selected, const QItemSelection& Deselected) {
                SelectionChanged(Selected, Deselected);
            });
}

TListViewEx::~TListViewEx() = default;

// --- Columns

int TListViewEx::ColumnCount() const {
    return int(FModel->FColumns.size());
}

QString TListViewEx::ColumnCaption(int Column) const {
    return FModel->FColumns.value(Column);
}

void TListViewEx::AddColumns(const QStringList& ColumnNames, const TIntList* ColumnWidths) {
    const int First = ColumnCount();
    // One insertion for all names: the header is rebuilt once.
    FModel->AddColumns(ColumnNames);
    if (ColumnWidths) {
        for (int I = 0; I < ColumnNames.size() && I < ColumnWidths->Count(); ++I)
            header()->resizeSection(First + I, ColumnWidths->GetValue(I));
    }
}

void TListViewEx::ClearColumns() {
    FModel->ClearColumns();
}

// --- Rows

int TListViewEx::ItemCount() const {
    return FModel->rowCount();
}

void TListViewEx::SetItemCount(int Value) {
    if (FOwnerData && Value >= 0)
        FModel->SetVirtualCount(Value);
}

int TListViewEx::AddItem(const QString& Caption, const QStringList& SubItems) {
    if (FOwnerData)
        return -1;
    return FModel->AddItem({Caption, SubItems, false});
}

void TListViewEx::DeleteItem(int Index) {
    if (FOwnerData || Index < 0 || Index >= FModel->FItems.size())
        return;
    FModel->DeleteItem(Index);
}

void TListViewEx::ClearItems() {
    FModel->ClearItems();
}

QString TListViewEx::ItemCaption(int Index) const {
    if (Index < 0 || Index >= ItemCount())
        return {};
    return FModel->Row(Index).Caption;
}

void TListViewEx::SetItemCaption(int Index, const QString& Caption) {
    if (FOwnerData || Index < 0 || Index >= FModel->FItems.size())
        return;
    FModel->FItems[Index].Caption = Caption;
    FModel->RowChanged(Index);
}

QStringList TListViewEx::ItemSubItems(int Index) const {
    if (Index < 0 || Index >= ItemCount())
        return {};
    return FModel->Row(Index).SubItems;
}

void TListViewEx::SetItemSubItems(int Index, const QStringList& SubItems) {
    if (FOwnerData || Index < 0 || Index >= FModel->FItems.size())
        return;
    FModel->FItems[Index].SubItems = SubItems;
    FModel->RowChanged(Index);
}

bool TListViewEx::ItemChecked(int Index) const {
    if (FOwnerData || Index < 0 || Index >= FModel->FItems.size())
        return false;
    return FModel->FItems[Index].Checked;
}

void TListViewEx::SetItemChecked(int Index, bool Checked) {
    if (FOwnerData || Index < 0 || Index >= FModel->FItems.size() || FModel->FItems[Index].Checked == Checked)
        return;
    FModel->FItems[Index].Checked = Checked;
    FModel->RowChanged(Index);
}

bool TListViewEx::ItemSelected(int Index) const {
    return Index >= 0 && Index < ItemCount() && selectionModel()->isRowSelected(Index, QModelIndex());
}

void TListViewEx::SetItemSelected(int Index, bool Selected) {
    if (Index < 0 || Index >= ItemCount())
        return;
    const QModelIndex Idx = FModel->index(Index, 0);
    if (Selected) {
        const auto Mode = selectionMode() == QAbstractItemView::SingleSelection
                              ? QItemSelectionModel::ClearAndSelect
                              : QItemSelectionModel::Select;
        selectionModel()->setCurrentIndex(Idx, Mode | QItemSelectionModel::Rows);
    } else {
        selectionModel()->select(Idx, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    }
}

int TListViewEx::SelectedIndex() const {
    int Result = -1;
    const QModelIndexList Rows = selectionModel()->selectedRows();
    for (const QModelIndex& Idx : Rows)
        if (Result < 0 || Idx.row() < Result)
            Result = Idx.row();
    return Result;
}

int TListViewEx::SelectedCount() const {
    return int(selectionModel()->selectedRows().size());
}

void TListViewEx::SelectAll() {
    if (ItemCount() == 0 || ColumnCount() == 0)
        return;
    if (selectionMode() == QAbstractItemView::SingleSelection) {
        SetItemSelected(0, true);
        return;
    }
    const QItemSelection All(FModel->index(0, 0), FModel->index(ItemCount() - 1, ColumnCount() - 1));
    selectionModel()->select(All, QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void TListViewEx::UnSelectAll() {
    selectionModel()->clearSelection();
}

void TListViewEx::BeginUpdate() {
    if (FUpdateCount++ == 0)
        viewport()->setUpdatesEnabled(false);
}

void TListViewEx::EndUpdate() {
    if (FUpdateCount > 0 && --FUpdateCount == 0) {
        viewport()->setUpdatesEnabled(true);
        viewport()->update();
    }
}

// --- Modes

void TListViewEx::SetOwnerData(bool Value) {
    if (FOwnerData == Value)
        return;
    // Switching modes drops the rows of the other mode, as the platform list does.
    FModel->ClearItems();
    FOwnerData = Value;
    FModel->Reset();
}

void TListViewEx::SetCheckboxes(bool Value) {
    if (FCheckboxes == Value)
        return;
    FCheckboxes = Value;
    FModel->Reset();
}

void TListViewEx::SetReadOnly(bool Value) {
    FReadOnly = Value;
    setEditTriggers(Value ? QAbstractItemView::NoEditTriggers
                          : QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
}

bool TListViewEx::MultiSelect() const {
    return selectionMode() == QAbstractItemView::ExtendedSelection;
}

void TListViewEx::SetMultiSelect(bool Value) {
    setSelectionMode(Value ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
}

bool TListViewEx::ColumnClick() const {
    return header()->sectionsClickable();
}

void TListViewEx::SetColumnClick(bool Value) {
    header()->setSectionsClickable(Value);
}

bool TListViewEx::IsEditing() const {
    return state() == QAbstractItemView::EditingState;
}

// --- Painting

QRect TListViewEx::ItemRect(int Index) const {
    if (Index < 0 || Index >= ItemCount() || ColumnCount() == 0)
        return {};
    const QRect R = visualRect(FModel->index(Index, 0));
    if (R.isEmpty())
        return {};
    return QRect(0, R.top(), viewport()->width(), R.height());
}

void TListViewEx::InvalidateRect(const QRect& R) {
    if (!R.isEmpty())
        viewport()->update(R);
}

void TListViewEx::InvalidateRow(int Index) {
    FModel->DropCache();
    InvalidateRect(ItemRect(Index));
}

void TListViewEx::RepaintAll() {
    FModel->DropCache();
    viewport()->update();
}

void TListViewEx::InvalidateListView(int AItemsCount) {
    if (AItemsCount != -1 && AItemsCount != ItemCount())
        SetItemCount(AItemsCount);
    RepaintAll();
    UpdateButtons();
    if (CountLabel)
        CountLabel->setText(QString::number(AItemsCount));
    DoInvalidated();
}

void TListViewEx::Loaded() {
    if (FOnData)
        SetOwnerData(true);
}

void TListViewEx::SetOnData(TLVOwnerDataEvent Value) {
    FOnData = std::move(Value);
    RepaintAll();
}

void TListViewEx::SetOnSelectItem(TLVSelectItemEvent Value) {
    FOwnSelectHandler = !Value;
    if (Value)
        FOnSelectItem = std::move(Value);
    else
        FOnSelectItem = [this](TListViewEx* Sender, int Item, bool Selected) {
            SelectItemHandler(Sender, Item, Selected);
        };
}

// --- Handlers

void TListViewEx::ItemChange(int First, int Last) {
    for (int R = First; R <= Last; ++R)
        InvalidateRect(ItemRect(R));
}

void TListViewEx::SelectItemHandler(TListViewEx* /*Sender*/, int Item, bool /*Selected*/) {
    if (Item != FSelectedItemIndex) {
        if (FSelectedItemIndex >= 0 && FSelectedItemIndex < ItemCount())
            InvalidateRow(FSelectedItemIndex);
        FSelectedItemIndex = Item;
    }
    UpdateButtons();
}

void TListViewEx::SelectionChanged(const QItemSelection& Selected, const QItemSelection& Deselected) {
    const int Item = SelectedIndex();
    if (FOnSelectItem)
        FOnSelectItem(this, Item, Item >= 0);
    // A virtual list also reports the changed range; the own handler above has
    // already brought the buttons up to date.
    if (FOwnerData && !FOwnSelectHandler && (!Selected.isEmpty() || !Deselected.isEmpty()))
        UpdateButtons();
}

void TListViewEx::ColumnClicked(int Column) {
    DoSortByColumn(Column, Column == FSortedByColumn);
}

void TListViewEx::ClickIfEnabled(QAbstractButton* Button) {
    if (Button && Button->isEnabled())
        Button->click();
}

void TListViewEx::UpdateButtons() {
    bool CheckFlag = false;
    bool EditFlag = false;
    if (SelectedIndex() >= 0) {
        CheckFlag = true;
        for (QAbstractButton* B : {CheckAllButton, UnCheckAllButton, AddButton, DeleteAllButton})
            if (B) {
                CheckFlag = B->isEnabled();
                break;
            }
        if (AddButton)
            EditFlag = AddButton->isEnabled();
        else if (DeleteAllButton)
            EditFlag = DeleteAllButton->isEnabled();
        else
            EditFlag = true;
    }
    for (QAbstractButton* B : {EditButton, DeleteButton, ViewButton})
        if (B)
            B->setEnabled(EditFlag);
    for (QAbstractButton* B :
         {ClearCheckButton, CheckSelectedButton, UnCheckSelectedButton, MoveUpButton, MoveDownButton})
        if (B)
            B->setEnabled(CheckFlag);
    if (OnSelected)
        OnSelected(this);
}

void TListViewEx::DoItemChecked(int Item) {
    if (OnItemChecked)
        OnItemChecked(this, Item);
}

void TListViewEx::DoInvalidated() {
    if (OnInvalidated)
        OnInvalidated(this);
}

void TListViewEx::DoSortByColumn(int Column, bool Desc) {
    if (!OnSortByColumn)
        return;
    OnSortByColumn(this, Column, Desc);
    FSortedByColumn = Column == FSortedByColumn ? -1 : Column;
    RepaintAll();
    UpdateButtons();
    DoInvalidated();
}

void TListViewEx::keyPressEvent(QKeyEvent* Event) {
    if (!IsEditing()) {
        switch (Event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (EditButton && EditButton->isEnabled())
                EditButton->click();
            else
                ClickIfEnabled(ViewButton);
            Event->accept();
            return;
        case Qt::Key_Delete:
            ClickIfEnabled(DeleteButton);
            Event->accept();
            return;
        case Qt::Key_A:
            if ((Event->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier) {
                SelectAll();
                Event->accept();
                return;
            }
            break;
        default:
            break;
        }
    }
    if (Event->text() == QLatin1String("+")) {
        ClickIfEnabled(AddButton);
        Event->accept();
        return;
    }
    QTreeView::keyPressEvent(Event);
}

int TListViewEx::LabelLeft(int Item) const {
    QStyleOptionViewItem Opt;
    initViewItemOption(&Opt);
    const QModelIndex Idx = FModel->index(Item, 0);
    Opt.rect = visualRect(Idx);
    Opt.index = Idx;
    Opt.text = ItemCaption(Item);
    Opt.features |= QStyleOptionViewItem::HasDisplay;
    if (FCheckboxes && !FOwnerData) {
        Opt.features |= QStyleOptionViewItem::HasCheckIndicator;
        Opt.checkState = ItemChecked(Item) ? Qt::Checked : Qt::Unchecked;
    }
    return style()->subElementRect(QStyle::SE_ItemViewItemText, &Opt, this).left();
}

void TListViewEx::mousePressEvent(QMouseEvent* Event) {
    if (OnItemChecked) {
        const QPoint P = Event->position().toPoint();
        const QModelIndex Idx = indexAt(P);
        if (Idx.isValid()) {
            // The check box sits in the middle of the space before the caption.
            const int Left = (LabelLeft(Idx.row()) - 15) / 2;
            if (P.x() >= Left && P.x() < Left + 16) {
                DoItemChecked(Idx.row());
                InvalidateRow(Idx.row());
            }
        }
    }
    QTreeView::mousePressEvent(Event);
}

void TListViewEx::mouseDoubleClickEvent(QMouseEvent* Event) {
    QTreeView::mouseDoubleClickEvent(Event);
    ClickIfEnabled(EditButton);
}

void TListViewEx::paintEvent(QPaintEvent* Event) {
    // Virtual rows are asked for afresh on every paint.
    FModel->DropCache();
    QTreeView::paintEvent(Event);
}
