#include "DBSGridEx.h"

#include "Action.h"
#include "Application.h"
#include "DBGridPrinter.h"
#include "DateTime.h"
#include "Dialogs.h"
#include "Exceptions.h"
#include "Extcalc.h"
#include "InplaceEdit.h"
#include "Messages.h"
#include "SDS.h"
#include "SDataSource.h"
#include "ServiceActions.h"
#include "SysUtils.h"
#include "URecordMarker.h"
#include "uIterators.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QKeyEvent>
#include <QMenu>
#include <QPrinter>
#include <QScrollBar>
#include <QSet>

#include <cmath>
#include <limits>

namespace {

const char* const ServiceItemsProperty = "ServiceMenuItems";

// The grids alive now: a posted message names a grid by its address, and
// its receiver asks here before it touches one.
QSet<const TDBSGridEx*>& LiveGrids()
{
    static QSet<const TDBSGridEx*> grids;
    return grids;
}

bool IsEditState(TDataSetState state) { return state == dsEdit || state == dsInsert; }

// A menu item is its action: it shows the picture of the action's image
// index in the action module's image list, unless the action has its own.
void ShowActionImage(TAction& action)
{
    const QList<QIcon>* images = ActionImageList();
    const int index = action.ImageIndex();
    if (images && action.icon().isNull() && index >= 0 && index < images->size())
        action.setIcon(images->at(index));
}

// The fields the calculator reads and writes.
bool IsCalculatorType(TFieldType type)
{
    switch (type) {
    case ftString:
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftFloat:
    case ftCurrency:
    case ftBCD: return true;
    default: return false;
    }
}

bool IsIntegerType(TFieldType type) { return type == ftSmallint || type == ftInteger || type == ftWord; }

// The row address and the columns the engine keeps itself: a copy would
// send the next update to another row, or forge its state or time.
bool IsSystemField(const TField* field)
{
    static const QStringList names{QStringLiteral("IBX_INTERNAL_DBKEY"), QStringLiteral("SYS$ID"),
                                   QStringLiteral("SYS$STATE"), QStringLiteral("SYS$TIME")};
    return names.contains(field->FieldName(), Qt::CaseInsensitive);
}

// The field whose value a column's record holds: a lookup field's key field.
TField* StoredField(TField* field)
{
    if (!field || !field->Lookup())
        return field;
    return field->DataSet() ? field->DataSet()->FindField(field->KeyFields()) : nullptr;
}

// The calculator's number as the general text format writes it (15 digits).
QString GeneralText(long double value) { return QString::number(static_cast<double>(value), 'g', 15); }

} // namespace

std::function<void(TDBGridPrinter&, bool, QWidget*)> TDBSGridEx::PrintOut = [](TDBGridPrinter& printer, bool preview,
                                                                               QWidget* grid) {
    if (preview) {
        printer.Preview(grid);
        return;
    }
    QPrinter device(QPrinter::HighResolution);
    printer.Print(device);
};

// ---------------------------------------------------------------- construction

TDBSGridEx::TDBSGridEx(QWidget* parent) : TDBGridEx(parent)
{
    LiveGrids().insert(this);
    // A double click marks a record or enters a level; editing starts by key.
    setEditTriggers(editTriggers() & ~QAbstractItemView::DoubleClicked);
    setFrameShape(QFrame::NoFrame);
}

TDBSGridEx::~TDBSGridEx() { LiveGrids().remove(this); }

TDBSGridEx* TDBSGridEx::FromMessage(intptr_t lParam)
{
    auto* grid = reinterpret_cast<const TDBSGridEx*>(lParam);
    return LiveGrids().contains(grid) ? const_cast<TDBSGridEx*>(grid) : nullptr;
}

void TDBSGridEx::Loaded()
{
    if (FLoaded)
        return;
    FLoaded = true;
    if (FShowState)
        AddStateColumn();
    if (!FPopupMenu && !FServiceOptions.Contains(srvDontCreatePopupMenu))
        FPopupMenu = OwnPopupMenu();
    UpdateSortMarkers();
    UpdateLevelRows();
}

void TDBSGridEx::showEvent(QShowEvent* event)
{
    Loaded();
    TDBGridEx::showEvent(event);
}

void TDBSGridEx::AddStateColumn()
{
    static const QString state = QStringLiteral("SYS$STATE");
    if (ColumnByFieldName(state))
        return;
    TDBGridColumns& columns = Columns();
    columns.BeginUpdate();
    TColumnEx* column = columns.Add();
    column->SetFieldName(state);
    column->SetReadOnly(true);
    column->Title().SetCaption(QString());
    column->SetWidth(10);
    column->SetTooltips(false);
    column->SetEditMask(QString());
    column->SetTabStop(false);
    column->SetIndex(0);
    FStateColumn = column;
    columns.EndUpdate();
    SetFrozenCols(FrozenCols() + 1);
}

TColumnEx* TDBSGridEx::ColumnByFieldName(const QString& fieldName) const
{
    return Columns().ColumnByFieldName(fieldName);
}

TSDataSource* TDBSGridEx::SDataSource() const { return qobject_cast<TSDataSource*>(DataSource()); }

TSDS* TDBSGridEx::SDS() const { return DataLink().Active() ? qobject_cast<TSDS*>(DataSet()) : nullptr; }

bool TDBSGridEx::CanEditRecords() const { return CanUpdate(); }

bool TDBSGridEx::CanInsertRecords() const { return CanInsert() || CanAppend(); }

bool TDBSGridEx::CanDeleteRecords() const { return CanDelete(); }

bool TDBSGridEx::Editing() const { return DataSet() && DataLink().Active() && IsEditState(DataSet()->State()); }

bool TDBSGridEx::Browsing() const { return DataSet() && DataLink().Active() && DataSet()->State() == dsBrowse; }

bool TDBSGridEx::IsLevelled() const
{
    TSDataSource* source = SDataSource();
    return source && source->IsLevelled();
}

// ---------------------------------------------------------------- painting

QString TDBSGridEx::GetCellText(const TColumnEx& column) const
{
    if (&column != FStateColumn)
        return TDBGridEx::GetCellText(column);
    TField* field = column.Field();
    if (!field || field->IsNull())
        return QString();
    return IsLeafState(field->AsInteger()) ? QString() : QStringLiteral("+");
}

void TDBSGridEx::GetCellParams(TCellParams& params)
{
    TDBGridEx::GetCellParams(params);
    TSDataSource* source = SDataSource();
    if (!source || !source->RecordMarker()->IsMarked())
        return;
    const bool focused = params.Row == Row() && params.Column == SelectedColumn();
    if (focused && params.Highlighted)
        return;
    params.Background = MarkedRowColor();
    if (params.Highlighted)
        params.Foreground = Qt::black;
}

QString TDBSGridEx::FixedCellText(int fixedRow, const TColumnEx* column) const
{
    TSDS* sds = SDS();
    if (!sds || !column || fixedRow + 1 >= sds->LevelCount())
        return TDBGridEx::FixedCellText(fixedRow, column);
    const Variant value = sds->LevelInfos().Items(fixedRow + 1).GetFieldValue(column->FieldName());
    if (column == FStateColumn)
        return value.IsEmptyOrNull() || IsLeafState(value.AsInteger()) ? QString() : QStringLiteral("+");
    return column->FormatValue(value);
}

void TDBSGridEx::UpdateLevelRows()
{
    TSDS* sds = SDS();
    const int rows = sds && sds->Options().Contains(dsoLevels) ? std::max(0, sds->LevelCount() - 1) : 0;
    if (rows != FixedRowCount())
        SetFixedRowCount(rows);
    else if (rows > 0)
        TitleHeader()->viewport()->update();
}

void TDBSGridEx::UpdateSortMarkers()
{
    TSDS* sds = SDS();
    if (!sds || FUpdatingMarkers)
        return;
    ++FUpdatingMarkers;
    QList<TField*> fields;
    try {
        sds->GetIndexFields(fields);
    } catch (const std::exception&) {
        fields.clear();
    }
    TDBGridColumns& columns = Columns();
    columns.BeginUpdate();
    for (int c = 0; c < columns.Count(); ++c) {
        TColumnEx* column = columns[c];
        const qsizetype at = column->Field() ? fields.indexOf(column->Field()) : -1;
        column->Title().SetSortMarker(at >= 0 ? smDown : smNone);
        column->Title().SetSortIndex(at >= 0 ? int(at) + 1 : 0);
    }
    columns.EndUpdate();
    --FUpdatingMarkers;
}

void TDBSGridEx::ColumnsChanged()
{
    TDBGridEx::ColumnsChanged();
    if (FStateColumn && Columns().IndexOf(FStateColumn) < 0)
        FStateColumn = nullptr;
    UpdateSortMarkers();
}

void TDBSGridEx::LinkActiveChanged()
{
    UpdateSortMarkers();
    UpdateLevelRows();
}

void TDBSGridEx::LinkDataChanged()
{
    UpdateSortMarkers();
    UpdateLevelRows();
    // A level move reloads the rows before its path is complete: look again
    // once it is done (the call is dropped when the grid is gone by then).
    QMetaObject::invokeMethod(this, &TDBSGridEx::UpdateLevelRows, Qt::QueuedConnection);
}

void TDBSGridEx::focusInEvent(QFocusEvent* event)
{
    TDBGridEx::focusInEvent(event);
    if (Application() && Application()->MainForm())
        PostMessage(qApp, WM_GRIDFOCUSED, 1, reinterpret_cast<intptr_t>(this));
}

// ---------------------------------------------------------------- keys

bool TDBSGridEx::Is(const TAction* action, TShortCut shortCut)
{
    return action && action->ShortCut() != 0 && action->ShortCut() == shortCut;
}

bool TDBSGridEx::IsGridKey(const QKeyEvent& event) const
{
    const TShortCut shortCut = ShortCutOfKeyEvent(event);
    if (shortCut == 0)
        return false;
    const TServiceActions& a = ServiceActions();
    for (const TAction* action : {a.RecordMarkAction1,
                                  a.RecordMarkGroupAction1,
                                  a.SumAction1,
                                  a.RecordCountAction1,
                                  a.FilterAction1,
                                  a.FilterCancelAction1,
                                  a.SortAction1,
                                  a.SortCancelAction1,
                                  a.RecordEditAction1,
                                  a.RecordPostAction1,
                                  a.RecordInsertAction1,
                                  a.RecordDoubleFieldAction1,
                                  a.RecordDoubleRecordAction1,
                                  a.RecordAttributesAction1,
                                  a.StdPrintAction1,
                                  a.CallRefAction1,
                                  a.TougleLevelsAction1,
                                  a.GroupDeleteAction1,
                                  a.GroupReplaceAction1,
                                  a.GroupFillAction1,
                                  a.GroupAddAction1,
                                  a.GroupMulAction1,
                                  a.FindAction1})
        if (Is(action, shortCut))
            return true;
    return false;
}

void TDBSGridEx::KeyDown(int& key, Qt::KeyboardModifiers shift)
{
    TDataSet* dataSet = DataSet();
    if (!dataSet || !DataLink().Active() || key == 0)
        return;
    const Qt::KeyboardModifiers mods = shift & ~Qt::KeypadModifier;
    const QKeyEvent event(QEvent::KeyPress, key, shift);
    const TShortCut shortCut = ShortCutOfKeyEvent(event);
    const TServiceActions& actions = ServiceActions();
    const bool browsing = dataSet->State() == dsBrowse;
    const bool editing = IsEditState(dataSet->State());
    const bool frozen = FServiceOptions.Contains(srvFrozenOnEdit);
    bool handled = false;

    // Past the last record the base grid would start a new one.
    if (frozen && browsing
        && ((key == Qt::Key_Down && mods != Qt::ControlModifier)
            || (key == Qt::Key_Tab && mods == Qt::NoModifier && SelectedIndex() == LastVisibleColumn()))
        && IsAtLastRecord()) {
        key = 0;
        return;
    }
    if (key == Qt::Key_Left && editing && !(mods & Qt::ControlModifier)) {
        // In the editor the caret moves first; at its start the column does.
        TInplaceEditor* editor = InplaceEditor();
        if (!editor || (editor->SelStart() == 0 && editor->SelText().isEmpty())) {
            MoveToPreviousEditableColumn();
            key = 0;
            return;
        }
    }
    if (frozen && editing
        && (key == Qt::Key_PageUp || key == Qt::Key_PageDown || key == Qt::Key_Up || key == Qt::Key_Down
            || key == Qt::Key_Insert)) {
        key = 0;
        return;
    }
    if (actions.CallRefAction1 && FServiceOptions.Contains(srvCallRef)
        && KeyToShortCut(QKeyCombination(Qt::Key(key))) == (actions.CallRefAction1->ShortCut() & 0xFF)) {
        if (!EditorMode())
            ShowEditor();
        if (TInplaceEditor* editor = InplaceEditor()) {
            if (editor->HasButton())
                editor->ClickButton();
            key = 0;
            return;
        }
    }
    if ((mods & Qt::AltModifier) && FServiceOptions.Contains(srvCalc))
        handled = CalculatorKey(key, shift);
    if (!handled && Is(actions.RecordAttributesAction1, shortCut))
        if (TSDataSource* source = SDataSource())
            source->ShowRecordAttributes();
    if (!handled)
        handled = editing ? EditKey(key, shortCut, mods) : BrowseKey(key, shortCut, mods);
    if (handled) {
        key = 0;
        return;
    }
    if (key == Qt::Key_Home && mods == Qt::NoModifier && FrozenCols() > 0 && !EditorMode()) {
        HomeOverFrozenColumns();
        key = 0;
    }
}

void TDBSGridEx::HomeOverFrozenColumns()
{
    int first = -1;
    for (int c = 0; c < Columns().Count(); ++c)
        if (Columns()[c]->Visible()) {
            first = c;
            break;
        }
    if (first < 0)
        return;
    for (int c = FrozenCols(); c < Columns().Count(); ++c)
        if (Columns()[c]->Visible()) {
            SetSelectedIndex(c);
            break;
        }
    SetSelectedIndex(first);
    horizontalScrollBar()->setValue(0);
}

bool TDBSGridEx::BrowseKey(int key, TShortCut shortCut, Qt::KeyboardModifiers mods)
{
    const TServiceActions& a = ServiceActions();
    const TServiceOptions o = FServiceOptions;
    TSDataSource* source = SDataSource();
    TField* field = SelectedField();

    // Insert by its key code alone, but Ctrl+Ins and Shift+Ins stay copy
    // and paste when those actions have them.
    if (a.RecordInsertAction1 && a.RecordInsertAction1->ShortCut() != 0
        && (shortCut & 0xFF) == (a.RecordInsertAction1->ShortCut() & 0xFF) && !Is(a.REditCopy1, shortCut)
        && !Is(a.REditPaste1, shortCut) && CanInsertRecords()) {
        InsertAfterCurrent();
        return true;
    }
    if (Is(a.RecordEditAction1, shortCut) && CanEditRecords()) {
        QApplication::processEvents();
        if (DataLink().Edit())
            ShowEditorAtCell();
        return true;
    }
    if (Is(a.RecordMarkAction1, shortCut) && o.Contains(srvMarkRecord)) {
        if (source)
            source->RecordMarker()->ToggleCurrent();
        return true;
    }
    if (Is(a.RecordMarkGroupAction1, shortCut) && o.Contains(srvMarkRecord)) {
        if (source)
            source->RecordMarker()->ToggleRange();
        return true;
    }
    if (Is(a.SumAction1, shortCut) && o.Contains(srvSum))
        return GroupOperation(goSum);
    if (Is(a.RecordCountAction1, shortCut) && o.Contains(srvCount))
        return GroupOperation(goCount);
    if (Is(a.FilterAction1, shortCut) && o.Contains(srvFilter)) {
        if (source && field)
            source->FilterByField(field);
        return true;
    }
    if (Is(a.SortAction1, shortCut) && o.Contains(srvSort)) {
        if (source && field)
            source->AddSortField(field->FieldName());
        return true;
    }
    if (Is(a.SortCancelAction1, shortCut) && o.Contains(srvSort)) {
        if (source)
            source->RemoveSortField();
        return true;
    }
    if (Is(a.FilterCancelAction1, shortCut) && o.Contains(srvFilter)) {
        if (source)
            source->ClearFilters();
        return true;
    }
    if (Is(a.StdPrintAction1, shortCut) && o.Contains(srvPrint)) {
        PrintGrid();
        return true;
    }
    if (Is(a.TougleLevelsAction1, shortCut) && o.Contains(srvHandleLevels) && !o.Contains(srvDontToggleLevels)) {
        ToggleLevels();
        return true;
    }
    const bool enter = (key == Qt::Key_Return || key == Qt::Key_Enter) && !(mods & Qt::ControlModifier);
    if (enter && o.Contains(srvHandleLevels) && IsLevelled()) {
        source->LevelDown();
        UpdateLevelRows();
        return true;
    }
    if (enter && o.Contains(srvDontAutoInsertAfterEnter) && SelectedIndex() == LastVisibleColumn())
        return true;
    if (key == Qt::Key_Escape && o.Contains(srvHandleLevels) && IsLevelled()) {
        source->LevelUp();
        UpdateLevelRows();
        return true;
    }
    if (Is(a.GroupDeleteAction1, shortCut) && o.Contains(srvGroupDelete) && CanDeleteRecords())
        return GroupOperation(goDelete);
    if (o.Contains(srvGroupReplace) && CanEditRecords()) {
        if (Is(a.GroupReplaceAction1, shortCut))
            return GroupOperation(goReplace);
        if (Is(a.GroupFillAction1, shortCut))
            return GroupOperation(goFill);
        if (Is(a.GroupAddAction1, shortCut))
            return GroupOperation(goAdd);
        if (Is(a.GroupMulAction1, shortCut))
            return GroupOperation(goMultiply);
    }
    return false;
}

bool TDBSGridEx::GroupOperation(int kind)
{
    TField* field = SelectedField();
    // Without a column there is nothing to work on.
    if (field)
        RunGroupOperation(SDataSource(), field, static_cast<TGroupOperationKind>(kind));
    return true;
}

void TDBSGridEx::ToggleLevels()
{
    TSDS* sds = SDS();
    const int column = SelectedIndex();
    if (!sds || !sds->ToggleLevels())
        return;
    SetSelectedIndex(column);
    UpdateLevelRows();
}

bool TDBSGridEx::EditKey(int key, TShortCut shortCut, Qt::KeyboardModifiers mods)
{
    const TServiceActions& a = ServiceActions();
    if (Is(a.RecordDoubleFieldAction1, shortCut) && FServiceOptions.Contains(srvDoubleField)) {
        DuplicateField();
        return true;
    }
    if (Is(a.RecordDoubleRecordAction1, shortCut) && FServiceOptions.Contains(srvDoubleRecord)) {
        DuplicateFieldsRight();
        return true;
    }
    if (Is(a.RecordPostAction1, shortCut)) {
        PostRecord();
        return false;
    }
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && mods == Qt::NoModifier
        && SelectedIndex() == LastVisibleColumn()) {
        PostRecord();
        return true;
    }
    if (key == Qt::Key_Escape) {
        TInplaceEditor* editor = InplaceEditor();
        const bool modified = DataSet()->Modified() || (editor && editor->Modified());
        if (modified || EditingWithEditorHidden())
            return MessageDlg(QStringLiteral("Отменить корректировку записи ?"), mtConfirmation, {mbYes, mbNo})
                   != mrYes;
    }
    return false;
}

// ---------------------------------------------------------------- the calculator

bool TDBSGridEx::CalculatorKey(int key, Qt::KeyboardModifiers shift)
{
    const bool keypad = shift & Qt::KeypadModifier;
    TInplaceEditor* editor = InplaceEditor();
    const bool fromEditor = editor && editor->isAncestorOf(QApplication::focusWidget()) && !Browsing();
    QChar op;
    switch (key) {
    case Qt::Key_F1: ShowCalculator(); return true;
    case Qt::Key_Plus:
        if (!keypad)
            return false;
        op = u'+';
        break;
    case Qt::Key_Comma:
    case Qt::Key_Period:
        if (!keypad)
            return false;
        op = u'+';
        break;
    case Qt::Key_Minus: op = u'-'; break;
    case Qt::Key_Slash: op = u'/'; break;
    case Qt::Key_Asterisk:
        if (!keypad)
            return false;
        op = u'*';
        break;
    case Qt::Key_8: op = u'*'; break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (fromEditor)
            PutCalculatorResultInEditor();
        else
            TakeCalculatorResult();
        return true;
    default: return false;
    }
    SendToCalculator(op, fromEditor);
    return true;
}

void TDBSGridEx::SendToCalculator(QChar op, bool fromEditor)
{
    TField* field = SelectedField();
    if (!field || !IsCalculatorType(field->DataType())) {
        Beep();
        return;
    }
    try {
        AddToCalculator(fromEditor ? InplaceEditor()->Text() : field->AsString(), op);
    } catch (const std::exception&) {
        Beep();
    }
}

void TDBSGridEx::TakeCalculatorResult()
{
    TField* field = SelectedField();
    TDataSet* dataSet = DataSet();
    if (!field || !IsCalculatorType(field->DataType()))
        return;
    const long double value = GetCalculatorValue();
    if (!Browsing()) {
        AssignCalculatorValue(value);
        return;
    }
    if (CalcConfirmReplace) {
        const QString caption = SelectedColumn()->Title().Caption();
        const QString question = QStringLiteral("Заменить значение поля \"%1\" на значение %2 из калькулятора")
                                     .arg(caption, QString::number(static_cast<double>(value), 'f', 2));
        if (MessageDlg(question, mtConfirmation, {mbYes, mbNo}) != mrYes)
            return;
    }
    try {
        dataSet->Edit();
        AssignCalculatorValue(value);
        dataSet->Post();
    } catch (...) {
        // The record goes back as it was, and the user hears why.
        try {
            dataSet->Cancel();
        } catch (...) {
        }
        ShowException(std::current_exception());
    }
}

void TDBSGridEx::PutCalculatorResultInEditor()
{
    TInplaceEditor* editor = InplaceEditor();
    TField* field = SelectedField();
    if (!editor || !field)
        return;
    const long double value = GetCalculatorValue();
    const TFieldType type = field->DataType();
    QString text;
    if (type == ftString || type == ftFloat || type == ftCurrency || type == ftBCD)
        text = GeneralText(value);
    else if (IsIntegerType(type))
        text = QString::number(static_cast<double>(std::nearbyint(value)), 'f', 0);
    try {
        AssignCalculatorValue(value);
    } catch (...) {
        ShowException(std::current_exception());
        return;
    }
    editor->SetText(text);
    editor->SetModified(true);
}

void TDBSGridEx::AssignCalculatorValue(long double value)
{
    TField* field = SelectedField();
    if (!field)
        return;
    const TFieldType type = field->DataType();
    if (!IsCalculatorType(type))
        return;
    if (!std::isfinite(value))
        throw Exception(QStringLiteral("Калькулятор не дал числа"));
    if (type == ftString) {
        field->SetAsString(GeneralText(value));
        return;
    }
    if (IsIntegerType(type)) {
        const long double rounded = std::nearbyint(value); // halves to even
        const long double low = type == ftSmallint ? -32768.0L : type == ftWord ? 0.0L : -2147483648.0L;
        const long double high = type == ftSmallint ? 32767.0L : type == ftWord ? 65535.0L : 2147483647.0L;
        if (rounded < low || rounded > high)
            throw Exception(QStringLiteral("Значение %1 вне допустимых пределов поля \"%2\"")
                                .arg(GeneralText(value), field->DisplayName()));
        field->SetAsInteger(static_cast<int32_t>(rounded));
        return;
    }
    field->SetAsFloat(static_cast<double>(value));
}

// ---------------------------------------------------------------- records and columns

int TDBSGridEx::LastVisibleColumn() const
{
    for (int c = Columns().Count() - 1; c >= 0; --c)
        if (Columns()[c]->Visible())
            return c;
    return 0;
}

bool TDBSGridEx::CellHoldsDefault(const TColumnEx* column) const
{
    TDataSet* dataSet = DataSet();
    if (!dataSet || dataSet->State() != dsInsert || !column)
        return false;
    TField* field = StoredField(column->Field());
    return field && !field->IsNull() && !field->DefaultExpression().isEmpty()
           && field->Text() == field->DefaultExpression();
}

bool TDBSGridEx::IsAtLastRecord() const
{
    TDataSet* dataSet = DataSet();
    if (!dataSet || !dataSet->Active())
        return true;
    return dataSet->IsEmpty() || dataSet->RecNo() >= dataSet->RecordCount();
}

void TDBSGridEx::ShowEditorAtCell()
{
    if (!ShowEditor())
        return;
    TInplaceEditor* editor = InplaceEditor();
    TField* field = SelectedField();
    if (!editor || !field)
        return;
    const TFieldType type = field->DataType();
    if (type != ftFloat && type != ftBCD)
        editor->Deselect();
    if (type == ftDate || type == ftTime || type == ftDateTime)
        editor->SetSelStart(0);
}

void TDBSGridEx::MoveToNextEditableColumn()
{
    for (int c = SelectedIndex() + 1; c < Columns().Count(); ++c) {
        const TColumnEx* column = Columns()[c];
        if (column->TabStop() && column->Visible() && !CellHoldsDefault(column)) {
            SetSelectedIndex(c);
            return;
        }
    }
}

void TDBSGridEx::MoveToPreviousEditableColumn()
{
    for (int c = SelectedIndex() - 1; c >= 0; --c) {
        const TColumnEx* column = Columns()[c];
        if (column->TabStop() && column->Visible() && !CellHoldsDefault(column)) {
            SetSelectedIndex(c);
            return;
        }
    }
}

void TDBSGridEx::ColExit()
{
    TDBGridEx::ColExit();
    FPreviousColumn = SelectedIndex();
}

void TDBSGridEx::ColEnter()
{
    TDBGridEx::ColEnter();
    if (!Editing())
        return;
    const int entered = SelectedIndex();
    TColumnEx* column = SelectedColumn();
    if (!column)
        return;
    if (!column->TabStop() || (FPreviousColumn < entered && CellHoldsDefault(column))) {
        MoveToNextEditableColumn();
        if (SelectedIndex() != entered)
            return; // the column entered now has had its turn
    }
    if (!Editing())
        return;
    column = SelectedColumn();
    if (SelectedIndex() != LastVisibleColumn() || (column->TabStop() && !CellHoldsDefault(column)))
        ShowEditorAtCell();
    else
        PostRecord(); // leaving the last editable column finishes the record
}

void TDBSGridEx::InsertAfterCurrent()
{
    TDataSet* dataSet = DataSet();
    if (!dataSet || !DataLink().Active())
        return;
    if (IsAtLastRecord()) {
        DefaultKeyDown(Qt::Key_Down, Qt::NoModifier);
        if (dataSet->State() != dsInsert)
            return;
    } else {
        dataSet->Next();
        DefaultKeyDown(Qt::Key_Insert, Qt::NoModifier);
        if (dataSet->State() != dsInsert) {
            dataSet->Prior();
            return;
        }
    }
    SetSelectedIndex(0);
    ShowEditorAtCell();
}

bool TDBSGridEx::ValuesAbove(const std::vector<TField*>& fields, std::vector<Variant>& values) const
{
    const int row = Row();
    if (row <= 0)
        return false;
    values.assign(fields.size(), Variant::Null());
    GridModel()->WithRow(row - 1, [&] {
        for (size_t i = 0; i < fields.size(); ++i)
            if (fields[i])
                values[i] = fields[i]->Value();
    });
    return true;
}

void TDBSGridEx::DuplicateField()
{
    TColumnEx* column = SelectedColumn();
    if (!Editing() || !column || column->ReadOnly())
        return;
    TField* field = StoredField(column->Field());
    if (!field || IsSystemField(field))
        return;
    std::vector<Variant> values;
    if (!ValuesAbove({field}, values))
        return;
    CancelEditor();
    try {
        field->SetValue(values[0]);
    } catch (const std::exception&) {
        // A value the field refuses is simply not copied.
    }
    if (SelectedIndex() + 1 < Columns().Count())
        SetSelectedIndex(SelectedIndex() + 1);
}

void TDBSGridEx::DuplicateFieldsRight()
{
    const int first = SelectedIndex();
    if (!Editing() || first < 0)
        return;
    std::vector<TColumnEx*> columns;
    std::vector<TField*> fields;
    for (int c = first; c < Columns().Count(); ++c) {
        TColumnEx* column = Columns()[c];
        TField* field = column->Field();
        if (field && field->Calculated())
            field = nullptr; // a calculated field has no value of its own
        else
            field = StoredField(field);
        if (!field || IsSystemField(field) || field->ReadOnly() || column->ReadOnly())
            continue;
        columns.push_back(column);
        fields.push_back(field);
    }
    std::vector<Variant> values;
    if (fields.empty() || !ValuesAbove(fields, values))
        return;
    CancelEditor();
    for (size_t i = 0; i < fields.size(); ++i)
        if (!values[i].IsEmptyOrNull())
            fields[i]->SetValue(values[i]);
}

// ---------------------------------------------------------------- mouse

bool TDBSGridEx::MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, const QPoint& gridPos, bool doubleClick)
{
    Q_UNUSED(shift);
    Q_UNUSED(doubleClick);
    if (!DataSet() || !DataLink().Active())
        return false;
    const TGridCoord coord = MouseCoord(gridPos);
    const bool indicator = Options().Contains(dgIndicator);
    const int dataTop = 1 + FixedRowCount();
    if (coord.X == 0 && coord.Y == 0 && indicator)
        return false; // the corner: the grid fits the columns
    if (Editing()) {
        if (FServiceOptions.Contains(srvFrozenOnEdit) && coord.Y >= dataTop && coord.Y - dataTop != Row())
            return true;
        if (coord.X == 0 && coord.Y >= dataTop) {
            PostRecord();
            return true;
        }
        return false;
    }
    const int pathRows = FixedRowCount();
    if (Browsing() && button == Qt::LeftButton && FServiceOptions.Contains(srvHandleLevels) && SDataSource()
        && coord.Y >= 1 && coord.Y <= pathRows) {
        for (int i = 0; i < pathRows - coord.Y + 1; ++i)
            SDataSource()->LevelUp();
        UpdateLevelRows();
    }
    return false;
}

void TDBSGridEx::MouseDownDone(Qt::MouseButton button, Qt::KeyboardModifiers shift, const QPoint& gridPos,
                               bool doubleClick)
{
    if (!Browsing())
        return;
    const TGridCoord coord = MouseCoord(gridPos);
    const int dataTop = 1 + FixedRowCount();
    if (coord.Y < dataTop)
        return;
    const bool indicatorColumn = Options().Contains(dgIndicator) && coord.X == 0;
    if (indicatorColumn && !doubleClick) {
        TDataSet* dataSet = DataSet();
        if (CanEditRecords() && !(dataSet->IsEmpty() && !CanInsertRecords()))
            DataLink().Edit();
        return;
    }
    if (!doubleClick || button != Qt::LeftButton || coord.X < 0)
        return;
    TSDataSource* source = SDataSource();
    if (!source)
        return;
    const bool levelled = source->IsLevelled();
    const bool ctrl = shift & Qt::ControlModifier;
    bool moved = false;
    if (levelled && !ctrl) {
        moved = source->LevelDown();
        UpdateLevelRows();
    }
    if (FServiceOptions.Contains(srvMarkRecord)
        && (!levelled || ctrl || (!moved && FServiceOptions.Contains(srvHandleLevels))))
        source->RecordMarker()->ToggleCurrent();
}

// ---------------------------------------------------------------- the service menu

QMenu* TDBSGridEx::OwnPopupMenu()
{
    if (!FOwnPopupMenu)
        FOwnPopupMenu = new QMenu(this);
    return FOwnPopupMenu;
}

void TDBSGridEx::SetPopupMenu(QMenu* menu)
{
    if (FServiceOptions.Contains(srvDontCreatePopupMenu)) {
        FPopupMenu = FOwnPopupMenu;
        return;
    }
    FPopupMenu = menu ? menu : OwnPopupMenu();
}

void TDBSGridEx::RemoveServiceItems(QMenu& menu)
{
    const QList<QPointer<QAction>> items = menu.property(ServiceItemsProperty).value<QList<QPointer<QAction>>>();
    for (const QPointer<QAction>& item : items) {
        if (!item)
            continue;
        menu.removeAction(item);
        if (item->data().toInt() == ServiceMenuTag) {
            // Separators and the submenu are the grid's own.
            if (QMenu* sub = item->menu())
                sub->deleteLater();
            item->deleteLater();
        }
    }
    menu.setProperty(ServiceItemsProperty, QVariant());
}

void TDBSGridEx::BuildServiceMenu(QMenu& menu)
{
    RemoveServiceItems(menu);
    QList<QPointer<QAction>> items;
    const TServiceActions& a = ServiceActions();
    const TServiceOptions o = FServiceOptions;
    auto add = [&](QMenu& target, TAction* action) {
        if (!action)
            return;
        ShowActionImage(*action);
        target.addAction(action);
        if (&target == &menu)
            items << action;
        UpdateAction(*action);
    };
    auto separator = [&] {
        QAction* item = menu.addSeparator();
        item->setData(ServiceMenuTag);
        items << item;
    };

    if (!menu.actions().isEmpty())
        separator();
    add(menu, a.REditCopy1);
    if (DataLink().Editing()) {
        separator();
        for (TAction* action : {a.RecordPostAction1, a.RecordDeleteAction1, a.RecordDoubleFieldAction1,
                                a.RecordDoubleRecordAction1, a.RecordAttributesAction1})
            add(menu, action);
    } else {
        if (CanInsertRecords())
            add(menu, a.RecordInsertAction1);
        if (CanEditRecords())
            add(menu, a.RecordEditAction1);
        if (CanDeleteRecords())
            add(menu, a.RecordDeleteAction1);
        TDataSet* dataSet = DataSet();
        if (dataSet && dataSet->FindField(QStringLiteral("SYS$ID")) && dataSet->FindField(QStringLiteral("SYS$STATE")))
            add(menu, a.RecordAttributesAction1);
        if (o.Contains(srvMarkRecord)) {
            separator();
            add(menu, a.RecordMarkAction1);
            add(menu, a.RecordMarkGroupAction1);
            add(menu, a.RecordMarkAllAction1);
        }
        separator();
        add(menu, a.FindAction1);
        add(menu, a.SumAction1);
        add(menu, a.RecordCountAction1);
        if (o.Contains(srvSort)) {
            add(menu, a.SortAction1);
            add(menu, a.SortCancelAction1);
        }
        if (o.Contains(srvFilter)) {
            add(menu, a.FilterAction1);
            add(menu, a.FilterCancelAction1);
        }
        separator();
        const bool groupDelete = o.Contains(srvGroupDelete) && CanDeleteRecords();
        const bool groupReplace = o.Contains(srvGroupReplace) && CanEditRecords();
        if (groupDelete || groupReplace) {
            auto* sub = new QMenu(QStringLiteral("Групповые корректировки"), &menu);
            if (groupDelete)
                add(*sub, a.GroupDeleteAction1);
            if (groupReplace)
                for (TAction* action :
                     {a.GroupReplaceAction1, a.GroupFillAction1, a.GroupAddAction1, a.GroupMulAction1})
                    add(*sub, action);
            QAction* item = menu.addMenu(sub);
            item->setData(ServiceMenuTag);
            items << item;
        }
        separator();
        if (o.Contains(srvPrint)) {
            add(menu, a.StdPrintAction1);
            add(menu, a.StdExcelAction1);
        }
        separator();
        TSDS* sds = SDS();
        if (!o.Contains(srvDontToggleLevels) && sds && sds->Options().Contains(dsoLevels))
            add(menu, a.TougleLevelsAction1);
        if (!o.Contains(srvDontCustomize))
            add(menu, a.GridCustomizeAction1);
    }
    menu.setProperty(ServiceItemsProperty, QVariant::fromValue(items));
}

void TDBSGridEx::ShowServiceMenu(const QPoint& gridPos)
{
    if (FServiceOptions.Contains(srvDontCreatePopupMenu))
        return;
    const TGridCoord coord = MouseCoord(gridPos);
    const int column = coord.X - (Options().Contains(dgIndicator) ? 1 : 0);
    FPopupColumn = column >= 0 && column < Columns().Count() ? Columns()[column] : nullptr;
    QMenu* menu = FPopupColumn && FPopupColumn->PopupMenu() ? FPopupColumn->PopupMenu() : FPopupMenu.data();
    if (!menu)
        return;
    BuildServiceMenu(*menu);
    menu->popup(mapToGlobal(gridPos));
}

void TDBSGridEx::contextMenuEvent(QContextMenuEvent* event)
{
    if (FServiceOptions.Contains(srvDontCreatePopupMenu) || !FPopupMenu) {
        TDBGridEx::contextMenuEvent(event);
        return;
    }
    ShowServiceMenu(viewport()->mapTo(this, event->pos()));
    event->accept();
}

// ---------------------------------------------------------------- action states

bool TDBSGridEx::UpdateAction(TAction& action)
{
    const TServiceActions& a = ServiceActions();
    const TServiceOptions o = FServiceOptions;
    const bool active = DataLink().Active();
    const bool editing = DataLink().Editing();
    const bool idle = active && !editing;
    TAction* const p = &action;
    bool enabled = false;
    if (p == a.RecordMarkAction1 || p == a.RecordMarkGroupAction1 || p == a.RecordMarkAllAction1)
        enabled = idle && o.Contains(srvMarkRecord);
    else if (p == a.FindAction1)
        enabled = idle;
    else if (p == a.GroupReplaceAction1 || p == a.GroupFillAction1 || p == a.GroupAddAction1 || p == a.GroupMulAction1)
        enabled = !editing && o.Contains(srvGroupReplace) && CanEditRecords();
    else if (p == a.SumAction1 || p == a.RecordCountAction1)
        enabled = idle && o.Contains(srvMarkRecord);
    else if (p == a.GroupDeleteAction1)
        enabled = !editing && o.Contains(srvGroupDelete) && CanDeleteRecords();
    else if (p == a.FilterAction1 || p == a.FilterCancelAction1)
        enabled = idle && o.Contains(srvFilter);
    else if (p == a.SortAction1 || p == a.SortCancelAction1)
        enabled = idle && o.Contains(srvSort);
    else if (p == a.StdPrintAction1)
        enabled = idle && o.Contains(srvPrint);
    else if (p == a.RecordEditAction1)
        enabled = idle && CanEditRecords();
    else if (p == a.RecordPostAction1)
        enabled = active && editing;
    else if (p == a.RecordInsertAction1)
        enabled = idle && CanInsertRecords();
    else if (p == a.RecordDeleteAction1)
        enabled = active && CanDeleteRecords();
    else if (p == a.RecordDoubleFieldAction1 || p == a.RecordDoubleRecordAction1)
        enabled = active && editing && CanEditRecords();
    else if (p == a.RecordAttributesAction1)
        enabled = active && !DataSet()->IsEmpty();
    else if (p == a.TougleLevelsAction1)
        enabled = active && SDS() && SDS()->Options().Contains(dsoLevels);
    else if (p == a.CallRefAction1)
        enabled = active && InplaceEditor() && InplaceEditor()->HasButton();
    else if (p == a.REditCopy1)
        enabled = active;
    else if (p == a.REditPaste1)
        enabled = active && editing && CanEditRecords();
    else
        return false;
    action.SetEnabled(enabled);
    return true;
}

// ---------------------------------------------------------------- printing

TDBGridPrinter& TDBSGridEx::SharedPrinter()
{
    static TDBGridPrinter* printer = [] {
        auto* created = new TDBGridPrinter();
        qAddPostRoutine([] { delete &SharedPrinter(); });
        return created;
    }();
    return *printer;
}

void TDBSGridEx::PrintGrid()
{
    TDBGridPrinter& printer = SharedPrinter();
    if (printer.Printing())
        return;
    printer.SetDBGrid(this);
    printer.SetSubstitution(QStringLiteral("%[Today]"), DateToStr(QDateTimeToDateTime(QDateTime::currentDateTime())));

    bool preview = true;
    if (GetPrintParams) {
        auto ask = [this](int paramNo, Variant value = Variant::Null()) {
            GetPrintParams(this, paramNo, value);
            return value;
        };
        const Variant previewAnswer = ask(0);
        if (!previewAnswer.IsEmptyOrNull())
            preview = previewAnswer.AsBoolean();
        ask(1, previewAnswer);
        printer.PageHeader().LeftText = QStringLiteral("&[ShortDate] ") + VarToStr(ask(10));
        printer.SetTitle(VarToStr(ask(100)));
        printer.PageHeader().RightText = QStringLiteral("Стр. &[Page]");
        printer.PageHeader().CenterText.clear();
        printer.PageFooter().Clear();
        printer.SetBeforeGridText(QString());
        printer.SetAfterGridText(QString());
        const QString before = VarToStr(ask(120));
        if (!before.isEmpty())
            printer.SetBeforeGridText(before);
        const QString after = VarToStr(ask(130));
        if (!after.isEmpty())
            printer.SetAfterGridText(after);
        // Colours come back with the options: a condensed print once must
        // not leave every later one without them.
        printer.SetOptions({gpoFitToPageWidth, gpoColored});
        printer.SetUseCellParams(true);
        printer.SetPrintFontName(QString());
        Variant condensed = Variant::Null();
        try {
            condensed = ask(7);
        } catch (const std::exception&) {
            condensed = Variant::Null();
        }
        if (!condensed.IsEmptyOrNull() && condensed.AsBoolean()) {
            printer.SetPrintFontName(QStringLiteral("MonoCondensed"));
            printer.SetOptions(printer.Options() - TGridPrintOptions{gpoColored});
            printer.SetUseCellParams(false);
        }
    }

    // Landscape when the columns do not fit across the page; the screen's
    // pixels are scaled to the printer's.
    QPrinter device(QPrinter::HighResolution);
    const int printerDpi = device.printerName().isEmpty() ? 600 : device.resolution();
    const int screenDpi = logicalDpiX() > 0 ? logicalDpiX() : 96;
    const double scale = double(printerDpi) / screenDpi;
    long long needed = 0;
    for (int c = 0; c < Columns().Count(); ++c)
        if (Columns()[c]->Visible() && !isColumnHidden(c))
            needed += std::lround((columnWidth(c) + 1) * scale);
    const QPageLayout layout = device.pageLayout();
    const long long available = layout.paintRectPixels(printerDpi).width() - 3;
    printer.SetOrientation(needed > available ? QPageLayout::Landscape : QPageLayout::Portrait);

    PrintOut(printer, preview, this);
}
