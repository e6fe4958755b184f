// The action classes of the framework's service catalogue. The record and
// column services (TTarvoServiceAction and its descendants) work on a
// framework grid, a data-aware edit or the framework's data source behind
// them; the text-edit actions on the focused text edit; the application and
// system actions are named command slots that do nothing until the host
// gives them an execute handler.
#pragma once

#include "Action.h"
#include "uIterators.h"

class QWidget;

class TTarvoServiceAction : public TAction
{
    Q_OBJECT
public:
    QString ClassName() const override { return QStringLiteral("TTarvoServiceAction"); }
    explicit TTarvoServiceAction(QObject* owner = nullptr);
    // Accepts a framework grid, the framework's data source, or (unless
    // GridOnly) a data-aware edit.
    bool HandlesTarget(QObject* target) override;
    // A target that accepts the action enables it: a state a grid's rules
    // computed for another control must not carry over to an edit or a
    // data source.
    void UpdateTarget(QObject* target) override;

    bool GridOnly = false;
};

#define TARVO_SERVICE_ACTION(Name)                                                                                     \
    class Name : public TTarvoServiceAction                                                                            \
    {                                                                                                                  \
    public:                                                                                                            \
        QString ClassName() const override { return QStringLiteral(#Name); }                                           \
        explicit Name(QObject* owner = nullptr);                                                                       \
        void ExecuteTarget(QObject* target) override;                                                                  \
    };

TARVO_SERVICE_ACTION(TRecordMarkAction)
TARVO_SERVICE_ACTION(TRecordMarkAllAction)
TARVO_SERVICE_ACTION(TRecordMarkGroupAction)
TARVO_SERVICE_ACTION(TTougleLevelsAction)
TARVO_SERVICE_ACTION(TFindAction)
TARVO_SERVICE_ACTION(TFilterAction)
TARVO_SERVICE_ACTION(TFilterCancelAction)
TARVO_SERVICE_ACTION(TSortAction)
TARVO_SERVICE_ACTION(TSortCancelAction)
TARVO_SERVICE_ACTION(TRecordEditAction)
TARVO_SERVICE_ACTION(TRecordPostAction)
TARVO_SERVICE_ACTION(TRecordInsertAction)
TARVO_SERVICE_ACTION(TRecordDeleteAction)
TARVO_SERVICE_ACTION(TRecordDoubleFieldAction)
TARVO_SERVICE_ACTION(TRecordDoubleRecordAction)
TARVO_SERVICE_ACTION(TRecordAttributesAction)
TARVO_SERVICE_ACTION(TREditCopy)

// Works through the grid's key handling; run from a menu, the host's handler.
class TCallRefAction : public TTarvoServiceAction
{
    Q_OBJECT
public:
    QString ClassName() const override { return QStringLiteral("TCallRefAction"); }
    explicit TCallRefAction(QObject* owner = nullptr);
};

// A group operation of its kind on the focused grid's or edit's field.
class TIteratorAction : public TTarvoServiceAction
{
    Q_OBJECT
public:
    QString ClassName() const override { return QStringLiteral("TIteratorAction"); }
    explicit TIteratorAction(QObject* owner = nullptr);
    void ExecuteTarget(QObject* target) override;

    TGroupOperationKind OperationKind = goSum;
};

#define ITERATOR_ACTION(Name)                                                                                          \
    class Name : public TIteratorAction                                                                                \
    {                                                                                                                  \
    public:                                                                                                            \
        QString ClassName() const override { return QStringLiteral(#Name); }                                           \
        explicit Name(QObject* owner = nullptr);                                                                       \
    };

ITERATOR_ACTION(TSumAction)
ITERATOR_ACTION(TRecordCountAction)
ITERATOR_ACTION(TGroupDeleteAction)
ITERATOR_ACTION(TGroupReplaceAction)
ITERATOR_ACTION(TGroupFillAction)
ITERATOR_ACTION(TGroupAddAction)
ITERATOR_ACTION(TGroupMulAction)

// The standard text-edit actions: they accept the focused text edit.
class TEditAction : public TAction
{
    Q_OBJECT
public:
    QString ClassName() const override { return QStringLiteral("TEditAction"); }
    explicit TEditAction(QObject* owner = nullptr);
    bool HandlesTarget(QObject* target) override;
    // Enabled by the edit that accepts it (no state of another control stays).
    void UpdateTarget(QObject* target) override;
};

#define EDIT_ACTION(Name)                                                                                              \
    class Name : public TEditAction                                                                                    \
    {                                                                                                                  \
    public:                                                                                                            \
        QString ClassName() const override { return QStringLiteral(#Name); }                                           \
        explicit Name(QObject* owner = nullptr);                                                                       \
        void UpdateTarget(QObject* target) override;                                                                   \
        void ExecuteTarget(QObject* target) override;                                                                  \
    };

EDIT_ACTION(TEditCut)
EDIT_ACTION(TEditSelectAll)
EDIT_ACTION(TEditUndo)
EDIT_ACTION(TEditDelete)
// Pastes the clipboard's text into the focused grid's editor or text edit,
// only where that target may be written.
EDIT_ACTION(TREditPaste)

#define COMMAND_SLOT(Name)                                                                                             \
    class Name : public TAction                                                                                        \
    {                                                                                                                  \
    public:                                                                                                            \
        QString ClassName() const override { return QStringLiteral(#Name); }                                           \
        explicit Name(QObject* owner = nullptr);                                                                       \
    };

COMMAND_SLOT(TPascalScriptAction)
COMMAND_SLOT(TShowNextAppFormAction)
COMMAND_SLOT(TCloseAppFormAction)
COMMAND_SLOT(TTabGridAction)
COMMAND_SLOT(TStdPrintAction)
COMMAND_SLOT(TStdExcelAction)
COMMAND_SLOT(TGridCustomizeAction)
COMMAND_SLOT(TFastReportAction)
COMMAND_SLOT(TEditSystemParams)
COMMAND_SLOT(TSendUserMsgAction)
COMMAND_SLOT(TKillUserSessions)
COMMAND_SLOT(TChangePasswordAction)
COMMAND_SLOT(TUserManagmenmtAction)
COMMAND_SLOT(TAboutAction)
COMMAND_SLOT(TCalendarAction)
COMMAND_SLOT(TCalcAction)
COMMAND_SLOT(TAdjustInterfaceAction)
COMMAND_SLOT(TDBSetupAction)
COMMAND_SLOT(TDBRestoreAction)
COMMAND_SLOT(TDBCheckStructAction)
COMMAND_SLOT(TDBSetupAdjustmentAction)
COMMAND_SLOT(TDBManageAction)
COMMAND_SLOT(TEditInputFormsAction)
COMMAND_SLOT(TParamsAdjustmentAction)
COMMAND_SLOT(TEnumsAdjustmentAction)
COMMAND_SLOT(TNumbersAdjustmentAction)

// Puts text on the clipboard marked Russian (locale 1049), or reads it.
void PutRussianText(const QString& text);
QString GetRussianText();
// Whether text may be pasted into the widget: a text edit that is not
// read-only, and inside a framework grid only while its record is edited.
bool CanPasteInto(QWidget* edit);
// Replaces the selection of a text edit (QLineEdit, QTextEdit, QPlainTextEdit).
void ReplaceSelection(QWidget* edit, const QString& text);
// The selected text of a text edit; null for any other widget.
bool IsTextEdit(const QObject* object);
QString SelectedText(QWidget* edit);
