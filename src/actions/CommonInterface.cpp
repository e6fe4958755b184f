#include "CommonInterface.h"

#include "ActionRoute.h"
#include "CommonInterfaceRes.h"
#include "DBEdit.h"
#include "DBGridSearch.h"
#include "DBSGridEx.h"
#include "Dialogs.h"
#include "InplaceEdit.h"
#include "RusClipboard.h"
#include "SDS.h"
#include "SDataSource.h"
#include "URecordMarker.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace {

constexpr uint32_t RussianLocale = 1049;

// The data source of a grid, an edit or itself, when it is the framework's.
// A grid gives it only with the marking service (the mark and attribute
// services stand on it).
TSDataSource* MarkingSourceOf(QObject* target)
{
    if (auto* source = qobject_cast<TSDataSource*>(target))
        return source;
    if (auto* grid = qobject_cast<TDBSGridEx*>(target))
        return grid->ServiceOptions().Contains(srvMarkRecord) ? grid->SDataSource() : nullptr;
    if (auto* edit = qobject_cast<TDBEdit*>(target))
        return qobject_cast<TSDataSource*>(edit->DataSource());
    return nullptr;
}

TMemRecordMarker* MarkerOf(QObject* target)
{
    TSDataSource* source = MarkingSourceOf(target);
    return source ? source->RecordMarker() : nullptr;
}

TDBEdit* FocusedEdit() { return qobject_cast<TDBEdit*>(FocusedControl()); }

// What a column service works on: the focused grid's framework data source
// and selected field, or the focused edit's data source and field.
struct TColumnTarget
{
    TSDataSource* Source = nullptr;
    TField* Field = nullptr;
    TDBSGridEx* Grid = nullptr;
};

TColumnTarget FocusedColumn()
{
    if (TDBSGridEx* grid = FocusedGrid())
        return {grid->SDataSource(), grid->SDataSource() ? grid->SelectedField() : nullptr, grid};
    if (TDBEdit* edit = FocusedEdit())
        if (auto* source = qobject_cast<TSDataSource*>(edit->DataSource()))
            return {source, edit->Field(), nullptr};
    return {};
}

bool IsReadOnlySDS(const TDataSet* dataSet)
{
    const auto* sds = dynamic_cast<const TSDS*>(dataSet);
    return sds && sds->ReadOnly();
}

bool IsEditing(const TDataSet* dataSet)
{
    return dataSet && (dataSet->State() == dsEdit || dataSet->State() == dsInsert);
}

// Every kind but counting and deleting works on the values of a field.
bool NeedsField(TGroupOperationKind kind) { return kind != goCount && kind != goDelete; }

// A grid that forbids deleting or changing records gets no group write,
// whatever state the action was left in.
bool GridAllows(const TDBSGridEx& grid, TGroupOperationKind kind)
{
    switch (kind) {
    case goSum:
    case goCount: return true;
    case goDelete: return grid.ServiceOptions().Contains(srvGroupDelete) && grid.CanDeleteRecords();
    default: return grid.ServiceOptions().Contains(srvGroupReplace) && grid.CanEditRecords();
    }
}

} // namespace

// ------------------------------------------------------------------ helpers

void PutRussianText(const QString& text)
{
    TRusClipboard clipboard;
    clipboard.Open();
    clipboard.SetLocale(RussianLocale);
    clipboard.SetAsText(text);
    clipboard.SetLocale(RussianLocale);
    clipboard.Close();
}

QString GetRussianText()
{
    TRusClipboard clipboard;
    clipboard.Open();
    clipboard.SetLocale(RussianLocale);
    const QString text = clipboard.AsText();
    clipboard.SetLocale(RussianLocale);
    clipboard.Close();
    return text;
}

bool IsTextEdit(const QObject* object)
{
    return qobject_cast<const QLineEdit*>(object) || qobject_cast<const QTextEdit*>(object)
           || qobject_cast<const QPlainTextEdit*>(object);
}

QString SelectedText(QWidget* edit)
{
    if (auto* line = qobject_cast<QLineEdit*>(edit))
        return line->selectedText();
    if (auto* text = qobject_cast<QTextEdit*>(edit))
        return text->textCursor().selectedText();
    if (auto* plain = qobject_cast<QPlainTextEdit*>(edit))
        return plain->textCursor().selectedText();
    return QString();
}

bool CanPasteInto(QWidget* edit)
{
    bool readOnly = true;
    if (auto* line = qobject_cast<QLineEdit*>(edit))
        readOnly = line->isReadOnly();
    else if (auto* text = qobject_cast<QTextEdit*>(edit))
        readOnly = text->isReadOnly();
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(edit))
        readOnly = plain->isReadOnly();
    if (readOnly || !edit->isEnabled())
        return false;
    // A grid's editor is written only while its record is edited: pasted
    // into a browsing grid, the text would stand in a cell whose record no
    // edit holds.
    for (QWidget* w = edit->parentWidget(); w && !w->isWindow(); w = w->parentWidget())
        if (auto* grid = qobject_cast<TDBSGridEx*>(w))
            return grid->CanEditRecords() && IsEditing(grid->DataSet());
    return true;
}

void ReplaceSelection(QWidget* edit, const QString& text)
{
    if (auto* dbEdit = qobject_cast<TDBEdit*>(edit))
        dbEdit->SetSelText(text);
    else if (auto* line = qobject_cast<QLineEdit*>(edit))
        line->insert(text);
    else if (auto* rich = qobject_cast<QTextEdit*>(edit))
        rich->insertPlainText(text);
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(edit))
        plain->insertPlainText(text);
}

// ------------------------------------------------------- TTarvoServiceAction

TTarvoServiceAction::TTarvoServiceAction(QObject* owner) : TAction(owner) {}

bool TTarvoServiceAction::HandlesTarget(QObject* target)
{
    return qobject_cast<TDBSGridEx*>(target) || qobject_cast<TSDataSource*>(target)
           || (qobject_cast<TDBEdit*>(target) && !GridOnly);
}

void TTarvoServiceAction::UpdateTarget(QObject*) { SetEnabled(true); }

#define CONSTRUCTOR(Name, Base)                                                                                        \
    Name::Name(QObject* owner) : Base(owner) { ApplyClassDefaults(*this, QStringLiteral(#Name)); }

#define GRID_ONLY_CONSTRUCTOR(Name)                                                                                    \
    Name::Name(QObject* owner) : TTarvoServiceAction(owner)                                                            \
    {                                                                                                                  \
        GridOnly = true;                                                                                               \
        ApplyClassDefaults(*this, QStringLiteral(#Name));                                                              \
    }

GRID_ONLY_CONSTRUCTOR(TRecordDoubleFieldAction)
GRID_ONLY_CONSTRUCTOR(TRecordDoubleRecordAction)
CONSTRUCTOR(TTougleLevelsAction, TTarvoServiceAction)
CONSTRUCTOR(TFindAction, TTarvoServiceAction)
CONSTRUCTOR(TFilterAction, TTarvoServiceAction)
CONSTRUCTOR(TFilterCancelAction, TTarvoServiceAction)
CONSTRUCTOR(TSortAction, TTarvoServiceAction)
CONSTRUCTOR(TSortCancelAction, TTarvoServiceAction)
CONSTRUCTOR(TRecordEditAction, TTarvoServiceAction)
CONSTRUCTOR(TRecordPostAction, TTarvoServiceAction)
CONSTRUCTOR(TRecordInsertAction, TTarvoServiceAction)
CONSTRUCTOR(TRecordDeleteAction, TTarvoServiceAction)
CONSTRUCTOR(TRecordAttributesAction, TTarvoServiceAction)
CONSTRUCTOR(TREditCopy, TTarvoServiceAction)
CONSTRUCTOR(TCallRefAction, TTarvoServiceAction)

TRecordMarkAction::TRecordMarkAction(QObject* owner) : TTarvoServiceAction(owner)
{
    ApplyClassDefaults(*this, QStringLiteral("TRecordMarkAction"));
    SetHint(QStringLiteral("Отметить запись"));
}

TRecordMarkAllAction::TRecordMarkAllAction(QObject* owner) : TTarvoServiceAction(owner)
{
    ApplyClassDefaults(*this, QStringLiteral("TRecordMarkAllAction"));
    SetCaption(QStringLiteral("Отметить/Н&Еотметить ВСЕ строки"));
}

TRecordMarkGroupAction::TRecordMarkGroupAction(QObject* owner) : TTarvoServiceAction(owner)
{
    ApplyClassDefaults(*this, QStringLiteral("TRecordMarkGroupAction"));
    SetCaption(QStringLiteral("Отметить начало/&конец группы"));
}

void TRecordMarkAction::ExecuteTarget(QObject* target)
{
    if (TMemRecordMarker* marker = MarkerOf(target))
        marker->ToggleCurrent();
}

void TRecordMarkAllAction::ExecuteTarget(QObject* target)
{
    if (TMemRecordMarker* marker = MarkerOf(target))
        marker->ToggleAll();
}

void TRecordMarkGroupAction::ExecuteTarget(QObject* target)
{
    if (TMemRecordMarker* marker = MarkerOf(target))
        marker->ToggleRange();
}

void TTougleLevelsAction::ExecuteTarget(QObject* target)
{
    auto* source = qobject_cast<TSDataSource*>(target);
    if (auto* sds = source ? dynamic_cast<TSDS*>(source->DataSet()) : nullptr)
        sds->ToggleLevels();
}

void TRecordAttributesAction::ExecuteTarget(QObject* target)
{
    if (TSDataSource* source = MarkingSourceOf(target))
        source->ShowRecordAttributes();
}

void TRecordPostAction::ExecuteTarget(QObject* target)
{
    TDataSet* dataSet = nullptr;
    if (auto* source = qobject_cast<TDataSource*>(target))
        dataSet = source->DataSet();
    else if (TDBSGridEx* grid = FocusedGrid())
        dataSet = grid->DataSet();
    else if (TDBEdit* edit = FocusedEdit())
        dataSet = edit->DataSource() ? edit->DataSource()->DataSet() : nullptr;
    if (IsEditing(dataSet))
        dataSet->Post();
}

void TFindAction::ExecuteTarget(QObject* target)
{
    auto* grid = qobject_cast<TDBSGridEx*>(target);
    if (!grid)
        grid = FocusedGrid();
    if (grid)
        ShowGridSearchDialog(*grid);
}

void TFilterAction::ExecuteTarget(QObject*)
{
    const TColumnTarget column = FocusedColumn();
    // Without a selected field there is nothing to filter by.
    if (column.Source && column.Field)
        column.Source->FilterByField(column.Field);
}

void TFilterCancelAction::ExecuteTarget(QObject*)
{
    if (TSDataSource* source = FocusedColumn().Source)
        source->ClearFilters();
}

void TSortAction::ExecuteTarget(QObject*)
{
    const TColumnTarget column = FocusedColumn();
    if (column.Grid && !column.Grid->ServiceOptions().Contains(srvSort))
        return;
    if (column.Source && column.Field)
        column.Source->AddSortField(column.Field->FieldName());
}

void TSortCancelAction::ExecuteTarget(QObject*)
{
    const TColumnTarget column = FocusedColumn();
    if (column.Grid && !column.Grid->ServiceOptions().Contains(srvSort))
        return;
    if (column.Source)
        column.Source->RemoveSortField();
}

void TRecordEditAction::ExecuteTarget(QObject*)
{
    if (TDBSGridEx* grid = FocusedGrid()) {
        if (!grid->SDataSource())
            return;
        if (!grid->CanEditRecords())
            RaiseHint(QStringLiteral("Корректировка записи запрешена !"));
        TDataSet* dataSet = grid->DataSet();
        // On an empty data set an edit becomes an insert: only where inserting is allowed.
        if (dataSet->IsEmpty() && !grid->CanInsertRecords())
            RaiseHint(QStringLiteral("Добавление запрещено !"));
        dataSet->Edit();
        return;
    }
    TDBEdit* edit = FocusedEdit();
    auto* source = edit ? qobject_cast<TSDataSource*>(edit->DataSource()) : nullptr;
    TDataSet* dataSet = source ? source->DataSet() : nullptr;
    if (!dataSet)
        return;
    if (dataSet->Active() && dataSet->IsEmpty() && IsReadOnlySDS(dataSet))
        RaiseHint(QStringLiteral("Добавление запрещено !"));
    dataSet->Edit();
}

void TRecordInsertAction::ExecuteTarget(QObject*)
{
    if (TDBSGridEx* grid = FocusedGrid()) {
        if (!grid->DataSource())
            return;
        if (!grid->CanInsertRecords())
            RaiseHint(QStringLiteral("Добавление запрещено !"));
        grid->InsertAfterCurrent();
        return;
    }
    TDBEdit* edit = FocusedEdit();
    TDataSet* dataSet = edit && edit->DataSource() ? edit->DataSource()->DataSet() : nullptr;
    if (!dataSet)
        return;
    if (!dataSet->Active() || IsReadOnlySDS(dataSet))
        RaiseHint(QStringLiteral("Добавление запрещено !"));
    dataSet->Insert();
}

void TRecordDeleteAction::ExecuteTarget(QObject*)
{
    TDataSet* dataSet = nullptr;
    if (TDBSGridEx* grid = FocusedGrid()) {
        if (!grid->SDataSource())
            return;
        dataSet = grid->DataSet();
        if (!grid->CanDeleteRecords())
            RaiseHint(QStringLiteral("Удаление запрешено !"));
    } else if (TDBEdit* edit = FocusedEdit()) {
        if (!edit->DataSource())
            return;
        dataSet = edit->DataSource()->DataSet();
        if (dataSet && (!dataSet->Active() || IsReadOnlySDS(dataSet)))
            RaiseHint(QStringLiteral("Удаление запрешено !"));
    }
    if (!dataSet || !dataSet->Active())
        return;
    if (MessageDlg(QStringLiteral("Удалить запись?"), mtConfirmation, mbOKCancel) != mrCancel)
        dataSet->Delete();
}

void TRecordDoubleFieldAction::ExecuteTarget(QObject*)
{
    if (TDBSGridEx* grid = FocusedGrid())
        grid->DuplicateField();
}

void TRecordDoubleRecordAction::ExecuteTarget(QObject*)
{
    if (TDBSGridEx* grid = FocusedGrid())
        grid->DuplicateFieldsRight();
}

void TREditCopy::ExecuteTarget(QObject*)
{
    TDBSGridEx* grid = FocusedGrid();
    if (!grid)
        return;
    QString text;
    if (TInplaceEditor* editor = grid->InplaceEditor())
        text = editor->SelText();
    else if (TField* field = grid->SelectedField())
        text = field->DisplayText();
    // An empty text would only wipe what the user has on the clipboard.
    if (!text.isEmpty())
        PutRussianText(text);
}

// ----------------------------------------------------------- TIteratorAction

TIteratorAction::TIteratorAction(QObject* owner) : TTarvoServiceAction(owner) {}

void TIteratorAction::ExecuteTarget(QObject*)
{
    const TColumnTarget column = FocusedColumn();
    if (!column.Source)
        return;
    // A grid without columns has no selected field: nothing to sum or
    // change, while the rows can still be counted.
    if (!column.Field && NeedsField(OperationKind))
        return;
    if (column.Grid && !GridAllows(*column.Grid, OperationKind))
        return;
    RunGroupOperation(column.Source, column.Field, OperationKind);
}

#define ITERATOR_CONSTRUCTOR(Name, Kind)                                                                               \
    Name::Name(QObject* owner) : TIteratorAction(owner)                                                                \
    {                                                                                                                  \
        OperationKind = Kind;                                                                                          \
        ApplyClassDefaults(*this, QStringLiteral(#Name));                                                              \
    }

ITERATOR_CONSTRUCTOR(TSumAction, goSum)
ITERATOR_CONSTRUCTOR(TRecordCountAction, goCount)
ITERATOR_CONSTRUCTOR(TGroupDeleteAction, goDelete)
ITERATOR_CONSTRUCTOR(TGroupReplaceAction, goReplace)
ITERATOR_CONSTRUCTOR(TGroupFillAction, goFill)
ITERATOR_CONSTRUCTOR(TGroupAddAction, goAdd)
ITERATOR_CONSTRUCTOR(TGroupMulAction, goMultiply)

// ------------------------------------------------------------- edit actions

TEditAction::TEditAction(QObject* owner) : TAction(owner) {}

bool TEditAction::HandlesTarget(QObject* target) { return IsTextEdit(target) && target == QApplication::focusWidget(); }

void TEditAction::UpdateTarget(QObject*) { SetEnabled(true); }

namespace {

bool IsReadOnly(QWidget* edit) { return !CanPasteInto(edit); }

bool HasText(QWidget* edit)
{
    if (auto* line = qobject_cast<QLineEdit*>(edit))
        return !line->text().isEmpty();
    if (auto* text = qobject_cast<QTextEdit*>(edit))
        return !text->document()->isEmpty();
    if (auto* plain = qobject_cast<QPlainTextEdit*>(edit))
        return !plain->document()->isEmpty();
    return false;
}

bool CanUndo(QWidget* edit)
{
    if (auto* line = qobject_cast<QLineEdit*>(edit))
        return line->isUndoAvailable() && !line->isReadOnly();
    if (auto* text = qobject_cast<QTextEdit*>(edit))
        return text->document()->isUndoAvailable() && !text->isReadOnly();
    if (auto* plain = qobject_cast<QPlainTextEdit*>(edit))
        return plain->document()->isUndoAvailable() && !plain->isReadOnly();
    return false;
}

template <typename F>
void WithEdit(QObject* target, F&& f)
{
    if (auto* line = qobject_cast<QLineEdit*>(target))
        f(line);
    else if (auto* text = qobject_cast<QTextEdit*>(target))
        f(text);
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(target))
        f(plain);
}

void DeleteSelection(QObject* target)
{
    if (auto* line = qobject_cast<QLineEdit*>(target))
        line->del();
    else if (auto* text = qobject_cast<QTextEdit*>(target))
        text->textCursor().removeSelectedText();
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(target))
        plain->textCursor().removeSelectedText();
}

} // namespace

CONSTRUCTOR(TEditCut, TEditAction)
CONSTRUCTOR(TEditSelectAll, TEditAction)
CONSTRUCTOR(TEditUndo, TEditAction)
CONSTRUCTOR(TEditDelete, TEditAction)
CONSTRUCTOR(TREditPaste, TEditAction)

void TEditCut::UpdateTarget(QObject* target)
{
    auto* edit = qobject_cast<QWidget*>(target);
    SetEnabled(!SelectedText(edit).isEmpty() && !IsReadOnly(edit));
}

void TEditCut::ExecuteTarget(QObject* target)
{
    WithEdit(target, [](auto* edit) { edit->cut(); });
}

void TEditSelectAll::UpdateTarget(QObject* target) { SetEnabled(HasText(qobject_cast<QWidget*>(target))); }

void TEditSelectAll::ExecuteTarget(QObject* target)
{
    WithEdit(target, [](auto* edit) { edit->selectAll(); });
}

void TEditUndo::UpdateTarget(QObject* target) { SetEnabled(CanUndo(qobject_cast<QWidget*>(target))); }

void TEditUndo::ExecuteTarget(QObject* target)
{
    WithEdit(target, [](auto* edit) { edit->undo(); });
}

void TEditDelete::UpdateTarget(QObject* target)
{
    auto* edit = qobject_cast<QWidget*>(target);
    SetEnabled(!SelectedText(edit).isEmpty() && !IsReadOnly(edit));
}

void TEditDelete::ExecuteTarget(QObject* target)
{
    if (!IsReadOnly(qobject_cast<QWidget*>(target)))
        DeleteSelection(target);
}

void TREditPaste::UpdateTarget(QObject* target) { SetEnabled(CanPasteInto(qobject_cast<QWidget*>(target))); }

void TREditPaste::ExecuteTarget(QObject* target)
{
    const QString text = GetRussianText();
    if (TDBSGridEx* grid = FocusedGrid()) {
        TInplaceEditor* editor = grid->InplaceEditor();
        QWidget* editWidget = editor && editor->focusProxy() ? editor->focusProxy() : editor;
        if (editor && CanPasteInto(editWidget))
            editor->SetSelText(text);
        return;
    }
    auto* edit = qobject_cast<QWidget*>(target);
    if (edit && CanPasteInto(edit))
        ReplaceSelection(edit, text);
}

// ------------------------------------------------------------ command slots

CONSTRUCTOR(TPascalScriptAction, TAction)
CONSTRUCTOR(TShowNextAppFormAction, TAction)
CONSTRUCTOR(TTabGridAction, TAction)
CONSTRUCTOR(TStdPrintAction, TAction)
CONSTRUCTOR(TStdExcelAction, TAction)
CONSTRUCTOR(TGridCustomizeAction, TAction)
CONSTRUCTOR(TFastReportAction, TAction)
CONSTRUCTOR(TEditSystemParams, TAction)
CONSTRUCTOR(TSendUserMsgAction, TAction)
CONSTRUCTOR(TKillUserSessions, TAction)
CONSTRUCTOR(TUserManagmenmtAction, TAction)
CONSTRUCTOR(TAboutAction, TAction)
CONSTRUCTOR(TCalendarAction, TAction)
CONSTRUCTOR(TCalcAction, TAction)
CONSTRUCTOR(TAdjustInterfaceAction, TAction)
CONSTRUCTOR(TDBSetupAction, TAction)
CONSTRUCTOR(TDBRestoreAction, TAction)
CONSTRUCTOR(TDBCheckStructAction, TAction)
CONSTRUCTOR(TDBSetupAdjustmentAction, TAction)
CONSTRUCTOR(TDBManageAction, TAction)
CONSTRUCTOR(TEditInputFormsAction, TAction)
CONSTRUCTOR(TParamsAdjustmentAction, TAction)
CONSTRUCTOR(TEnumsAdjustmentAction, TAction)
CONSTRUCTOR(TNumbersAdjustmentAction, TAction)

TCloseAppFormAction::TCloseAppFormAction(QObject* owner) : TAction(owner)
{
    ApplyClassDefaults(*this, QStringLiteral("TCloseAppFormAction"));
    SetCaption(QStringLiteral("Закрытие формы"));
}

TChangePasswordAction::TChangePasswordAction(QObject* owner) : TAction(owner)
{
    ApplyClassDefaults(*this, QStringLiteral("TChangePasswordAction"));
    SetCaption(QStringLiteral("Смена пароля"));
    SetHelpContext(1123000);
}
