#include "DBGridEx.h"

#include "DBGridGates_p.h"

#include "Application.h"
#include "DBGridSearch.h"
#include "Dialogs.h"
#include "InplaceEdit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace {

bool IsEditState(TDataSetState state) { return state == dsEdit || state == dsInsert; }

} // namespace

// ---------------------------------------------------------------- construction

TDBGridEx::TDBGridEx(QWidget* parent) : QTableView(parent)
{
    FModel = new TDBGridModel(*this);
    FDelegate = new TDBGridDelegate(*this);
    FHeader = new TDBGridHeader(*this);
    setHorizontalHeader(FHeader);
    setModel(FModel);
    setItemDelegate(FDelegate);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::EditKeyPressed
                    | QAbstractItemView::DoubleClicked);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    QHeaderView* indicator = verticalHeader();
    indicator->setSectionResizeMode(QHeaderView::Fixed);
    indicator->setDefaultSectionSize(fontMetrics().height() + 6);
    indicator->setMinimumSectionSize(fontMetrics().height() + 2);
    indicator->setSectionsClickable(false);
    indicator->setHighlightSections(false);
    indicator->setDefaultAlignment(Qt::AlignCenter);
    indicator->setFixedWidth(fontMetrics().height());

    viewport()->installEventFilter(this);
    FHeader->viewport()->installEventFilter(this);
    indicator->viewport()->installEventFilter(this);
    if (auto* corner = findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly))
        corner->installEventFilter(this);
    connect(FHeader, &QHeaderView::sectionResized, this, [this](int index, int, int size) {
        if (FApplyingColumns || index < 0 || index >= FColumns.Count())
            return;
        TColumnWidthGate::TakeDraggedWidth(*FColumns[index], size);
        if (FFrozenView && index < FFrozenCols) {
            FFrozenView->setColumnWidth(index, size);
            UpdateFrozenGeometry();
        }
    });
    ApplyOptions();
}

TDBGridEx::~TDBGridEx()
{
    // A grid that is a window of its own closes while its columns still
    // exist: closing lays the headers out, which read them.
    hide();
    delete FFrozenView;
    FFrozenView = nullptr;
    FDataLink.SetDataSource(nullptr);
}

void TDBGridEx::SetDataSource(TDataSource* source)
{
    FDataLink.SetDataSource(source);
    ActiveChanged();
}

void TDBGridEx::SetOptions(TDBGridOptions options)
{
    FOptions = options;
    ApplyOptions();
}

void TDBGridEx::ApplyOptions()
{
    verticalHeader()->setVisible(FOptions.Contains(dgIndicator));
    FHeader->setVisible(FOptions.Contains(dgTitles) || FFixedRows > 0);
    FHeader->setSectionResizeMode(FOptions.Contains(dgColumnResize) ? QHeaderView::Interactive : QHeaderView::Fixed);
    setShowGrid(FOptions.Contains(dgColLines) || FOptions.Contains(dgRowLines));
    setSelectionBehavior(FOptions.Contains(dgRowSelect) ? QAbstractItemView::SelectRows
                                                        : QAbstractItemView::SelectItems);
    if (!FOptions.Contains(dgEditing) && FEditor)
        CancelEditor();
    updateGeometries();
    viewport()->update();
}

void TDBGridEx::SetReadOnly(bool value)
{
    FReadOnly = value;
    if (value && FEditor)
        CancelEditor();
}

void TDBGridEx::SetFixedRowCount(int count)
{
    FFixedRows = std::max(0, count);
    ApplyOptions();
    if (FFrozenView)
        FFrozenView->horizontalHeader()->updateGeometry();
    UpdateFrozenGeometry();
    FHeader->viewport()->update();
}

void TDBGridEx::SetFrozenCols(int count)
{
    FFrozenCols = std::max(0, count);
    UpdateFrozenView();
}

// ---------------------------------------------------------------- columns

int TDBGridEx::SelectedIndex() const
{
    return FColumns.Count() == 0 ? -1 : std::clamp(FSelectedIndex, 0, FColumns.Count() - 1);
}

void TDBGridEx::SetSelectedIndex(int index)
{
    if (index < 0 || index >= FColumns.Count())
        return;
    const int row = FModel->ActiveRow();
    if (row < 0) {
        // Nothing to stand on: the column is kept for when a row appears.
        FSelectedIndex = index;
        return;
    }
    setCurrentIndex(FModel->index(row, index));
}

TColumnEx* TDBGridEx::SelectedColumn() const
{
    const int index = SelectedIndex();
    return index < 0 ? nullptr : FColumns[index];
}

TField* TDBGridEx::SelectedField() const
{
    TColumnEx* column = SelectedColumn();
    return column ? column->Field() : nullptr;
}

void TDBGridEx::ColumnsChanged() { ApplyColumns(); }

void TDBGridEx::ApplyColumns()
{
    if (FEditor)
        CancelEditor();
    FApplyingColumns = true;
    FModel->ColumnsReset();
    for (int c = 0; c < FColumns.Count(); ++c) {
        const TColumnEx* column = FColumns[c];
        setColumnWidth(c, column->Width() > 0 ? column->Width() : DefaultColumnWidth(column));
        setColumnHidden(c, !column->Visible());
    }
    FApplyingColumns = false;
    UpdateFrozenView();
    SyncCurrent();
}

int TDBGridEx::DefaultColumnWidth(const TColumnEx* column) const
{
    const QFontMetrics metrics = fontMetrics();
    const int chars = column->Field() ? std::min(column->Field()->DisplayWidth(), 40) : 10;
    const int data = chars * metrics.horizontalAdvance(QLatin1Char('0')) + 8;
    const int title = metrics.horizontalAdvance(column->Title().Caption()) + 16;
    return std::max({data, title, 24});
}

void TDBGridEx::OptimizeColumnWidth(TColumnEx* column)
{
    const int index = FColumns.IndexOf(column);
    if (index < 0)
        return;
    const QFontMetrics metrics = fontMetrics();
    int width = metrics.horizontalAdvance(column->Title().Caption()) + 16;
    // The rows on screen stand for the rest: reading all of them would cost
    // a pass over the whole data set.
    const int first = std::max(0, rowAt(0));
    const int last = std::min(FModel->rowCount() - 1, first + VisibleRowCount());
    for (int row = first; row <= last; ++row)
        width = std::max(width, metrics.horizontalAdvance(FModel->index(row, index).data().toString()) + 10);
    column->SetWidth(width);
}

void TDBGridEx::OptimizeColumnWidths()
{
    FColumns.BeginUpdate();
    for (int c = 0; c < FColumns.Count(); ++c)
        if (FColumns[c]->Visible())
            OptimizeColumnWidth(FColumns[c]);
    FColumns.EndUpdate();
}

int TDBGridEx::VisibleRowCount() const
{
    const int rowHeight = std::max(1, verticalHeader()->defaultSectionSize());
    return std::max(1, viewport()->height() / rowHeight);
}

// ---------------------------------------------------------------- the data link

void TDBGridEx::ActiveChanged()
{
    if (FEditor)
        CancelEditor();
    if (FColumns.State() == csDefault)
        FColumns.RebuildDefault();
    else {
        FColumns.BindFields();
        ApplyColumns();
    }
    FIndicatorRow = -1;
    SyncCurrent();
    LinkActiveChanged();
}

void TDBGridEx::LayoutChanged()
{
    if (FColumns.State() == csDefault)
        FColumns.RebuildDefault();
    else {
        FColumns.BindFields();
        ApplyColumns();
    }
}

void TDBGridEx::DataSetChanged()
{
    FModel->Reload();
    RepaintIndicator(-1);
    SyncCurrent();
    LinkDataChanged();
}

void TDBGridEx::DataSetScrolled() { SyncCurrent(); }

void TDBGridEx::RecordChanged(TField* field)
{
    FModel->RowChanged(FModel->ActiveRow());
    RepaintIndicator(FModel->ActiveRow());
    if (FEditor && !FEditor->Modified()) {
        TColumnEx* column = SelectedColumn();
        if (column && column->Field() && (!field || field == column->Field()))
            FEditor->SetText(column->Field()->Text());
    }
}

void TDBGridEx::EditingChanged()
{
    MoveIndicator();
    if (!FDataLink.Editing() && FEditor)
        CancelEditor();
    LinkEditingChanged();
}

void TDBGridEx::UpdateData()
{
    // Post reads the editor here; a text the field refuses fails the post.
    if (!FEditor || !FEditor->Modified())
        return;
    TColumnEx* column = SelectedColumn();
    if (!column || !column->Field())
        return;
    FEditor->WriteTo(*column->Field());
    FEditor->SetModified(false);
}

void TDBGridEx::SyncCurrent(int column)
{
    ++FSyncing;
    const int row = FModel->ActiveRow();
    if (row >= 0 && row < FModel->rowCount() && FColumns.Count() > 0) {
        const QModelIndex index = FModel->index(row, column >= 0 ? column : SelectedIndex());
        if (currentIndex() != index)
            selectionModel()->setCurrentIndex(
                index,
                QItemSelectionModel::ClearAndSelect
                    | (FOptions.Contains(dgRowSelect) ? QItemSelectionModel::Rows : QItemSelectionModel::NoUpdate));
        scrollTo(index);
    }
    MoveIndicator();
    --FSyncing;
}

void TDBGridEx::MoveIndicator()
{
    const int row = FModel->ActiveRow();
    if (row != FIndicatorRow && FIndicatorRow >= 0)
        RepaintIndicator(FIndicatorRow);
    RepaintIndicator(row);
    FIndicatorRow = row;
}

void TDBGridEx::RepaintIndicator(int row)
{
    QHeaderView* indicator = verticalHeader();
    if (!indicator->isVisible())
        return;
    if (row < 0) {
        indicator->viewport()->update();
        return;
    }
    if (row >= FModel->rowCount())
        return;
    const int top = indicator->sectionViewportPosition(row);
    indicator->viewport()->update(0, top, indicator->viewport()->width(), indicator->sectionSize(row));
}

void TDBGridEx::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    // A text the field refuses keeps the editor, its cell and the user's text.
    if (!FSyncing && FEditor && FEditor->Modified() && previous.isValid() && current != previous && !PostEditorText()) {
        ++FSyncing;
        selectionModel()->setCurrentIndex(previous, QItemSelectionModel::ClearAndSelect);
        --FSyncing;
        FEditor->setFocus();
        return;
    }
    QTableView::currentChanged(current, previous);
    if (FSyncing || !current.isValid())
        return;
    if (current.row() != FModel->ActiveRow() && !MoveToRow(current.row(), current.column()))
        return;
    if (current.column() != FSelectedIndex) {
        ColExit();
        FSelectedIndex = current.column();
        ColEnter();
    }
    if (FFrozenView && current.column() >= FFrozenCols) {
        // Keep the cell out from under the frozen columns.
        const int frozenWidth = FFrozenView->width();
        const QRect cell = visualRect(current);
        if (cell.left() < frozenWidth)
            horizontalScrollBar()->setValue(horizontalScrollBar()->value() + cell.left() - frozenWidth);
    }
}

bool TDBGridEx::MoveToRow(int row, int column)
{
    TDataSet* dataSet = DataSet();
    if (!dataSet || !FDataLink.Active())
        return false;
    const bool moved = Guard([&] {
        int target = row;
        if (IsEditState(dataSet->State())) {
            const bool inserting = dataSet->State() == dsInsert;
            const int inserted = dataSet->ActivePosition();
            const int before = dataSet->RecordCount();
            dataSet->CheckBrowseMode();
            // An empty new row is dropped instead of posted: the rows below it move up.
            if (inserting && dataSet->RecordCount() == before && target > inserted)
                --target;
        }
        dataSet->SetRecNo(std::clamp(target, 0, std::max(0, dataSet->RecordCount() - 1)) + 1);
    });
    SyncCurrent(moved ? column : -1);
    return moved;
}

bool TDBGridEx::Guard(const std::function<void()>& fn)
{
    try {
        fn();
        return true;
    } catch (...) {
        ShowException(std::current_exception());
        return false;
    }
}

// ---------------------------------------------------------------- permissions and records

bool TDBGridEx::CanModifyData() const
{
    TDataSet* dataSet = DataSet();
    return FDataLink.Active() && dataSet && dataSet->CanModify() && !FReadOnly && FOptions.Contains(dgEditing);
}

bool TDBGridEx::CanInsert() const { return CanModifyData() && FAllowedOperations.Contains(alopInsertEx); }

bool TDBGridEx::CanAppend() const { return CanModifyData() && FAllowedOperations.Contains(alopAppendEx); }

bool TDBGridEx::CanUpdate() const { return CanModifyData() && FAllowedOperations.Contains(alopUpdateEx); }

bool TDBGridEx::CanDelete() const { return CanModifyData() && FAllowedOperations.Contains(alopDeleteEx); }

bool TDBGridEx::CanEditColumn(const TColumnEx* column) const
{
    if (!column || !column->CanModify() || !CanModifyData())
        return false;
    // A new record is filled in whatever the update permission says.
    return DataSet()->State() == dsInsert || CanUpdate();
}

bool TDBGridEx::InsertRecord()
{
    return HideEditor() && Guard([this] { DataSet()->Insert(); });
}

bool TDBGridEx::AppendRecord()
{
    return HideEditor() && Guard([this] { DataSet()->Append(); });
}

bool TDBGridEx::DeleteRecord()
{
    TDataSet* dataSet = DataSet();
    if (!dataSet || dataSet->IsEmpty())
        return false;
    if (FOptions.Contains(dgConfirmDelete)
        && MessageDlg(QStringLiteral("Удалить запись?"), mtConfirmation, mbOKCancel) == mrCancel)
        return false;
    if (FEditor)
        CancelEditor();
    return Guard([dataSet] { dataSet->Delete(); });
}

bool TDBGridEx::CancelRecord()
{
    if (FEditor)
        CancelEditor();
    TDataSet* dataSet = DataSet();
    return dataSet && Guard([dataSet] { dataSet->Cancel(); });
}

bool TDBGridEx::PostRecord()
{
    TDataSet* dataSet = DataSet();
    if (!dataSet || !HideEditor())
        return false;
    return !IsEditState(dataSet->State()) || Guard([dataSet] { dataSet->Post(); });
}

// ---------------------------------------------------------------- the editor

bool TDBGridEx::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event)
{
    const bool opens = trigger == QAbstractItemView::AllEditTriggers || (editTriggers() & trigger);
    if (!opens || FEditor || !index.isValid())
        return QTableView::edit(index, trigger, event);
    TColumnEx* column = FColumns[index.column()];
    if (index.row() != FModel->ActiveRow() || !CanEditColumn(column))
        return false;
    bool editing = false;
    if (!Guard([&] { editing = FDataLink.Edit(); }) || !editing)
        return false;
    return QTableView::edit(index, trigger, event);
}

bool TDBGridEx::ShowEditor()
{
    if (FEditor)
        return true;
    const QModelIndex index = currentIndex();
    if (!index.isValid() || !edit(index, QAbstractItemView::AllEditTriggers, nullptr) || !FEditor)
        return false;
    FEditor->setFocus();
    return true;
}

bool TDBGridEx::PostEditorText()
{
    return Guard([this] { UpdateData(); });
}

bool TDBGridEx::HideEditor()
{
    if (!FEditor)
        return true;
    if (!PostEditorText())
        return false;
    CancelEditor();
    return true;
}

void TDBGridEx::CancelEditor()
{
    if (!FEditor)
        return;
    TInplaceEditor* editor = FEditor;
    editor->SetModified(false);
    const bool hadFocus = editor->isAncestorOf(QApplication::focusWidget());
    closeEditor(editor, QAbstractItemDelegate::NoHint);
    FEditor = nullptr;
    if (hadFocus)
        setFocus();
}

TInplaceEditor* TDBGridEx::CreateEditor(QWidget* parent, TColumnEx* column)
{
    TField* field = column->Field();
    if (field && field->Lookup() && column->ButtonStyle() != cbsNone)
        return new TInplaceLookup(parent, *field);
    TInplaceKind kind = TInplaceKind::Text;
    switch (field ? field->DataType() : ftString) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftLargeint:
    case ftAutoInc:
    case ftFloat:
    case ftCurrency:
    case ftBCD: kind = TInplaceKind::Number; break;
    case ftDate:
    case ftDateTime: kind = TInplaceKind::Date; break;
    default: break;
    }
    TInplaceEdit::TButton button = TInplaceEdit::NoButton;
    if (column->ButtonStyle() == cbsEllipsis)
        button = TInplaceEdit::EllipsisButton;
    else if (column->ButtonStyle() == cbsAuto && kind == TInplaceKind::Date)
        button = TInplaceEdit::CalendarButton;
    auto* editor = new TInplaceEdit(parent, kind, column->EditMask(), button);
    if (kind == TInplaceKind::Number)
        editor->LineEdit()->setAlignment(column->Alignment());
    return editor;
}

TInplaceEditor* TDBGridEx::AttachEditor(QWidget* parent, TColumnEx* column)
{
    TInplaceEditor* editor = CreateEditor(parent, column);
    if (!editor)
        return nullptr;
    editor->OnButtonClick = [this] {
        if (OnEditButtonClick)
            OnEditButtonClick(this);
    };
    // Keys reach the inner widgets, not the editor: the grid sees them there.
    for (QWidget* child : editor->findChildren<QWidget*>())
        child->installEventFilter(FDelegate);
    FEditor = editor;
    return editor;
}

void TDBGridEx::EditorDestroyed(QWidget* editor)
{
    if (FEditor == editor)
        FEditor = nullptr;
}

// ---------------------------------------------------------------- keys

void TDBGridEx::KeyDown(int&, Qt::KeyboardModifiers) {}

bool TDBGridEx::IsGridKey(const QKeyEvent&) const { return false; }

bool TDBGridEx::EditingWithEditorHidden() const { return FDataLink.Editing() && !FEditor; }

bool TDBGridEx::event(QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride && IsGridKey(*static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return QTableView::event(event);
}

void TDBGridEx::keyPressEvent(QKeyEvent* event)
{
    int key = event->key();
    GuardedKeyDown(key, event->modifiers());
    if (key == 0 || DefaultKeyDown(key, event->modifiers())) {
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void TDBGridEx::GuardedKeyDown(int& key, Qt::KeyboardModifiers shift)
{
    // A derived grid's key may run anything; its error ends here, shown, and
    // never unwinds through Qt's event dispatch (built without exceptions,
    // Qt would skip its own clean-up on the way). A failed key is spent.
    if (!Guard([&] { KeyDown(key, shift); }))
        key = 0;
}

bool TDBGridEx::DefaultKeyDown(int key, Qt::KeyboardModifiers shift)
{
    TDataSet* dataSet = DataSet();
    if (!dataSet || !FDataLink.Active())
        return false;
    const Qt::KeyboardModifiers mods = shift & ~Qt::KeypadModifier;
    const bool plain = mods == Qt::NoModifier;
    if (QKeyCombination(mods, Qt::Key(key)) == GridSearchShortcut()) {
        if (HideEditor())
            ShowGridSearchDialog(*this);
        return true;
    }
    switch (key) {
    case Qt::Key_Down:
        if (mods & Qt::ControlModifier)
            return false;
        // Below the last record a new one starts; an untouched new one stays alone.
        if (FModel->ActiveRow() == FModel->rowCount() - 1) {
            if (dataSet->State() == dsInsert && !dataSet->Modified())
                return true;
            if (CanAppend()) {
                if (PostRecord())
                    AppendRecord();
                return true;
            }
        }
        return false;
    case Qt::Key_Insert:
        if (plain && CanInsert()) {
            InsertRecord();
            return true;
        }
        return false;
    case Qt::Key_Delete:
        if (mods == Qt::ControlModifier && CanDelete()) {
            DeleteRecord();
            return true;
        }
        return false;
    case Qt::Key_Escape:
        if (IsEditState(dataSet->State())) {
            CancelRecord();
            return true;
        }
        return false;
    case Qt::Key_F2:
        if (plain) {
            ShowEditor();
            return true;
        }
        return false;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (plain && !FEditor && CanEditColumn(SelectedColumn())) {
            ShowEditor();
            return true;
        }
        return false;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        if (FOptions.Contains(dgTabs) && (plain || mods == Qt::ShiftModifier)) {
            MoveToNextColumn(key == Qt::Key_Tab && plain, true);
            return true;
        }
        return false;
    default: return false;
    }
}

bool TDBGridEx::EditorKeyPress(QKeyEvent* event)
{
    int key = event->key();
    GuardedKeyDown(key, event->modifiers());
    if (key == 0)
        return true;
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    switch (key) {
    case Qt::Key_Escape: CancelRecord(); return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!HideEditor())
            return true;
        if (NextTabColumn(SelectedIndex(), true) < 0) {
            // Enter in the last column finishes the record.
            PostRecord();
            return true;
        }
        MoveToNextColumn(true, false);
        if (FDataLink.Editing())
            ShowEditor();
        return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        if (!HideEditor())
            return true;
        MoveToNextColumn(key == Qt::Key_Tab && !(mods & Qt::ShiftModifier), true);
        if (FDataLink.Editing())
            ShowEditor();
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        if (mods & Qt::AltModifier)
            return false; // opens a drop-down
        if (!HideEditor())
            return true;
        if (!DefaultKeyDown(key, mods))
            QTableView::keyPressEvent(event);
        return true;
    default: return false;
    }
}

int TDBGridEx::NextTabColumn(int from, bool forward) const
{
    const int step = forward ? 1 : -1;
    for (int c = from + step; c >= 0 && c < FColumns.Count(); c += step)
        if (FColumns[c]->Visible() && FColumns[c]->TabStop())
            return c;
    return -1;
}

void TDBGridEx::MoveToNextColumn(bool forward, bool wrapToNextRecord)
{
    const int next = NextTabColumn(SelectedIndex(), forward);
    if (next >= 0) {
        SetSelectedIndex(next);
        return;
    }
    if (!wrapToNextRecord)
        return;
    const int row = FModel->ActiveRow();
    const int edge = NextTabColumn(forward ? -1 : FColumns.Count(), forward);
    if (forward && row == FModel->rowCount() - 1) {
        if (!CanAppend() || !PostRecord() || !AppendRecord())
            return;
    } else if (!MoveToRow(row + (forward ? 1 : -1)) || FModel->ActiveRow() == row) {
        return;
    }
    if (edge >= 0)
        SetSelectedIndex(edge);
}

void TDBGridEx::focusOutEvent(QFocusEvent* event)
{
    QTableView::focusOutEvent(event);
    TDataSet* dataSet = DataSet();
    QWidget* next = QApplication::focusWidget();
    const bool leavesGrid = !next || (next != this && !isAncestorOf(next));
    if (leavesGrid && FOptions.Contains(dgCancelOnExit) && dataSet && FDataLink.Active() && dataSet->State() == dsInsert
        && !dataSet->Modified() && !(FEditor && FEditor->Modified()))
        CancelRecord();
}

void TDBGridEx::ColEnter()
{
    if (OnColEnter)
        OnColEnter(this);
}

void TDBGridEx::ColExit()
{
    if (OnColExit)
        OnColExit(this);
}

void TDBGridEx::GetCellParams(TCellParams& params)
{
    if (OnGetCellParams)
        OnGetCellParams(this, params);
}

QString TDBGridEx::GetCellText(const TColumnEx& column) const
{
    TField* field = column.Field();
    return field ? field->DisplayText() : QString();
}

QString TDBGridEx::FixedCellText(int fixedRow, const TColumnEx* column) const
{
    return OnGetFixedCellText ? OnGetFixedCellText(this, fixedRow, column) : QString();
}

// ---------------------------------------------------------------- mouse

TGridCoord TDBGridEx::MouseCoord(const QPoint& gridPos) const
{
    TGridCoord coord;
    const bool indicator = FOptions.Contains(dgIndicator);
    const QPoint inViewport = viewport()->mapFrom(this, gridPos);
    if (indicator && gridPos.x() < viewport()->x()) {
        coord.X = 0;
    } else {
        int column = columnAt(inViewport.x());
        if (FFrozenView && FFrozenView->geometry().contains(gridPos))
            column = FFrozenView->columnAt(FFrozenView->viewport()->mapFrom(this, gridPos).x());
        if (column >= 0)
            coord.X = column + (indicator ? 1 : 0);
    }
    if (gridPos.y() < viewport()->y()) {
        const int y = FHeader->mapFrom(this, gridPos).y();
        const int fixed = FHeader->FixedRowAt(y);
        coord.Y = fixed < 0 ? 0 : 1 + fixed;
    } else {
        const int row = rowAt(inViewport.y());
        if (row >= 0)
            coord.Y = 1 + FFixedRows + row;
    }
    return coord;
}

bool TDBGridEx::MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, const QPoint&, bool) { return false; }

void TDBGridEx::MouseDownDone(Qt::MouseButton, Qt::KeyboardModifiers, const QPoint&, bool) {}

void TDBGridEx::CornerClicked() { OptimizeColumnWidths(); }

bool TDBGridEx::DispatchMouse(QWidget* source, QMouseEvent* event)
{
    const QPoint gridPos = source->mapTo(this, event->position().toPoint());
    const bool doubleClick = event->type() == QEvent::MouseButtonDblClick;
    bool handled = false;
    if (!Guard([&] { handled = MouseDown(event->button(), event->modifiers(), gridPos, doubleClick); }))
        return true;
    return handled;
}

void TDBGridEx::AfterMouse(QWidget* source, QMouseEvent* event)
{
    const QPoint gridPos = source->mapTo(this, event->position().toPoint());
    const bool doubleClick = event->type() == QEvent::MouseButtonDblClick;
    Guard([&] { MouseDownDone(event->button(), event->modifiers(), gridPos, doubleClick); });
}

void TDBGridEx::mousePressEvent(QMouseEvent* event)
{
    if (DispatchMouse(viewport(), event))
        return;
    QTableView::mousePressEvent(event);
    AfterMouse(viewport(), event);
}

void TDBGridEx::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (DispatchMouse(viewport(), event))
        return;
    QTableView::mouseDoubleClickEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid() && OnDblClick)
        OnDblClick(this, index);
    AfterMouse(viewport(), event);
}

bool TDBGridEx::eventFilter(QObject* object, QEvent* event)
{
    const bool press = event->type() == QEvent::MouseButtonPress;
    if (!press && event->type() != QEvent::MouseButtonDblClick)
        return QTableView::eventFilter(object, event);
    auto* mouse = static_cast<QMouseEvent*>(event);
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget || widget == viewport())
        return QTableView::eventFilter(object, event);
    if (DispatchMouse(widget, mouse))
        return true;
    if (qobject_cast<QAbstractButton*>(widget)) {
        if (press)
            CornerClicked();
        return true;
    }
    if (widget == verticalHeader()->viewport() && press) {
        // A press on the indicator makes its row current.
        const int row = verticalHeader()->logicalIndexAt(mouse->position().toPoint());
        if (row >= 0)
            setCurrentIndex(FModel->index(row, SelectedIndex()));
        AfterMouse(widget, mouse);
        return true;
    }
    if (widget == FHeader->viewport()) {
        const bool handled = QTableView::eventFilter(object, event);
        AfterMouse(widget, mouse);
        return handled;
    }
    if (FFrozenView && widget == FFrozenView->viewport()) {
        const QModelIndex index = FFrozenView->indexAt(mouse->position().toPoint());
        if (index.isValid())
            setCurrentIndex(index);
        setFocus();
        return true;
    }
    return QTableView::eventFilter(object, event);
}

// ---------------------------------------------------------------- frozen columns

void TDBGridEx::UpdateFrozenView()
{
    const int frozen = std::min(FFrozenCols, FColumns.Count());
    if (frozen == 0) {
        delete FFrozenView;
        FFrozenView = nullptr;
        return;
    }
    if (!FFrozenView) {
        FFrozenView = new QTableView(this);
        FFrozenView->setHorizontalHeader(new TDBGridHeader(*this));
        FFrozenView->setModel(FModel);
        FFrozenView->setSelectionModel(selectionModel());
        FFrozenView->setItemDelegate(FDelegate);
        FFrozenView->setFocusPolicy(Qt::NoFocus);
        FFrozenView->setEditTriggers(QAbstractItemView::NoEditTriggers);
        FFrozenView->verticalHeader()->hide();
        FFrozenView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        FFrozenView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        FFrozenView->setVerticalScrollMode(verticalScrollMode());
        FFrozenView->setFrameShape(QFrame::NoFrame);
        FFrozenView->setWordWrap(false);
        FFrozenView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        FFrozenView->verticalHeader()->setDefaultSectionSize(verticalHeader()->defaultSectionSize());
        FFrozenView->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        FFrozenView->viewport()->installEventFilter(this);
        FFrozenView->horizontalHeader()->viewport()->installEventFilter(this);
        connect(verticalScrollBar(), &QAbstractSlider::valueChanged, FFrozenView->verticalScrollBar(),
                &QAbstractSlider::setValue);
        viewport()->stackUnder(FFrozenView);
        FFrozenView->show();
    }
    FFrozenView->setShowGrid(showGrid());
    FFrozenView->horizontalHeader()->setVisible(FHeader->isVisible());
    for (int c = 0; c < FColumns.Count(); ++c) {
        FFrozenView->setColumnHidden(c, c >= frozen || isColumnHidden(c));
        FFrozenView->setColumnWidth(c, columnWidth(c));
    }
    UpdateFrozenGeometry();
}

void TDBGridEx::UpdateFrozenGeometry()
{
    if (!FFrozenView)
        return;
    int width = 0;
    for (int c = 0; c < std::min(FFrozenCols, FColumns.Count()); ++c)
        if (!isColumnHidden(c))
            width += columnWidth(c);
    const int left = frameWidth() + (verticalHeader()->isVisible() ? verticalHeader()->width() : 0);
    FFrozenView->setGeometry(left, frameWidth(), width,
                             viewport()->height() + (FHeader->isVisible() ? FHeader->height() : 0));
    FFrozenView->verticalScrollBar()->setValue(verticalScrollBar()->value());
}

void TDBGridEx::resizeEvent(QResizeEvent* event)
{
    QTableView::resizeEvent(event);
    UpdateFrozenGeometry();
}

void TDBGridEx::scrollContentsBy(int dx, int dy)
{
    QTableView::scrollContentsBy(dx, dy);
    if (FFrozenView && dy != 0)
        FFrozenView->verticalScrollBar()->setValue(verticalScrollBar()->value());
}

void TDBGridEx::updateGeometries()
{
    QTableView::updateGeometries();
    UpdateFrozenGeometry();
}

// ---------------------------------------------------------------- titles and fixed rows

TDBGridHeader::TDBGridHeader(TDBGridEx& grid) : QHeaderView(Qt::Horizontal, &grid), FGrid(grid)
{
    setSectionsClickable(false);
    setHighlightSections(false);
    setDefaultAlignment(Qt::AlignCenter);
}

int TDBGridHeader::TitleHeight() const
{
    return FGrid.Options().Contains(dgTitles) ? QHeaderView::sizeHint().height() : 0;
}

int TDBGridHeader::FixedRowHeight() const { return FGrid.verticalHeader()->defaultSectionSize(); }

int TDBGridHeader::FixedRowAt(int y) const
{
    const int below = y - TitleHeight();
    if (below < 0)
        return -1;
    const int row = below / std::max(1, FixedRowHeight());
    return row < FGrid.FixedRowCount() ? row : -1;
}

QSize TDBGridHeader::sizeHint() const
{
    QSize size = QHeaderView::sizeHint();
    size.setHeight(TitleHeight() + FGrid.FixedRowCount() * FixedRowHeight());
    return size;
}

void TDBGridHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    if (logicalIndex < 0 || logicalIndex >= FGrid.Columns().Count())
        return;
    const TColumnEx& column = *FGrid.Columns()[logicalIndex];
    const int title = TitleHeight();
    if (title > 0) {
        const QRect titleRect(rect.x(), rect.y(), rect.width(), title);
        painter->save();
        QHeaderView::paintSection(painter, titleRect, logicalIndex);
        painter->restore();
        PaintSortMarker(painter, titleRect, column);
    }
    const int height = FixedRowHeight();
    for (int row = 0; row < FGrid.FixedRowCount(); ++row) {
        const QRect cell(rect.x(), rect.y() + title + row * height, rect.width(), height);
        painter->fillRect(cell, palette().color(QPalette::AlternateBase));
        painter->setPen(palette().color(QPalette::Mid));
        painter->drawLine(cell.topRight(), cell.bottomRight());
        painter->drawLine(cell.bottomLeft(), cell.bottomRight());
        painter->setPen(palette().color(QPalette::Text));
        const QRect textRect = cell.adjusted(3, 0, -3, 0);
        const QString text = fontMetrics().elidedText(FGrid.FixedCellText(row, &column), Qt::ElideRight,
                                                      textRect.width());
        painter->drawText(textRect, int(column.Alignment() | Qt::AlignVCenter), text);
    }
}

void TDBGridHeader::PaintSortMarker(QPainter* painter, const QRect& titleRect, const TColumnEx& column) const
{
    const TSortMarker marker = column.Title().SortMarker();
    if (marker == smNone)
        return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const int size = 7;
    const int right = titleRect.right() - 5;
    const int middle = titleRect.center().y();
    QPolygon triangle;
    if (marker == smDown)
        triangle << QPoint(right - size, middle - size / 2) << QPoint(right, middle - size / 2)
                 << QPoint(right - size / 2, middle + size / 2);
    else
        triangle << QPoint(right - size, middle + size / 2) << QPoint(right, middle + size / 2)
                 << QPoint(right - size / 2, middle - size / 2);
    painter->setPen(Qt::NoPen);
    painter->setBrush(palette().color(QPalette::Text));
    painter->drawPolygon(triangle);
    if (column.Title().SortIndex() > 0) {
        QFont small = font();
        small.setPointSizeF(small.pointSizeF() * 0.75);
        painter->setFont(small);
        painter->setPen(palette().color(QPalette::Text));
        const QRect number(right - size - 14, titleRect.top(), 12, titleRect.height());
        painter->drawText(number, Qt::AlignRight | Qt::AlignVCenter, QString::number(column.Title().SortIndex()));
    }
    painter->restore();
}
