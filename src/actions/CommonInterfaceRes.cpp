#include "CommonInterfaceRes.h"

#include "ActionRoute.h"
#include "Application.h"
#include "CommonInterface.h"
#include "DBEdit.h"
#include "DBGridSearch.h"
#include "DBSGridEx.h"
#include "DataSource.h"
#include "Exceptions.h"
#include "InplaceEdit.h"
#include "ServiceActions.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include <functional>

namespace {

const char* const ServiceCategory = "TarvoService";
const char* const AppCategory = "TarvoAppService";
const char* const SysCategory = "TarvoSysService";
const char* const EditCategory = "Edit";

} // namespace

const QList<TActionEntry>& ActionCatalogue()
{
    static const QList<TActionEntry> catalogue = {
        // The record and column services.
        {"RecordMarkAction1", "TRecordMarkAction", ServiceCategory, "&Отметить запись", nullptr, 8306, 10},
        {"RecordMarkAllAction1", "TRecordMarkAllAction", ServiceCategory, "Отметить/НЕотметить ВСЕ строки",
         "Отметить/НЕотметить ВСЕ строки ", 0, 7},
        {"RecordMarkGroupAction1", "TRecordMarkGroupAction", ServiceCategory, "Отметить начало/конец группы", nullptr,
         8307, 6},
        {"FindAction1", "TFindAction", ServiceCategory, "&Поиск", "Поиск", 16498, 11},
        {"SumAction1", "TSumAction", ServiceCategory, "&Сумма по графе", "Сумма по графе", 24691, 3},
        {"RecordCountAction1", "TRecordCountAction", ServiceCategory, "Кол-во строк", nullptr, 16500, 25},
        {"FilterAction1", "TFilterAction", ServiceCategory, "&Фильтр", "Фильтр", 16502, 12},
        {"SortAction1", "TSortAction", ServiceCategory, "Сортировка", nullptr, 16501, 14},
        {"SortCancelAction1", "TSortCancelAction", ServiceCategory, "Отмена сортировки", nullptr, 8309, 36},
        {"FilterCancelAction1", "TFilterCancelAction", ServiceCategory, "Отменить фильтр", nullptr, 8310, 13},
        {"RecordDeleteAction1", "TRecordDeleteAction", ServiceCategory, "Удаление записи", nullptr, 16430, 4},
        {"RecordEditAction1", "TRecordEditAction", ServiceCategory, "Корректировка записи", nullptr, 113, 1},
        {"RecordPostAction1", "TRecordPostAction", ServiceCategory, "Завершить ввод/корректировку", nullptr, 116, 17},
        {"RecordInsertAction1", "TRecordInsertAction", ServiceCategory, "Добавление записи", nullptr, 45, 0},
        {"RecordDoubleFieldAction1", "TRecordDoubleFieldAction", ServiceCategory, "Дублирование поля", nullptr, 123,
         18},
        {"RecordDoubleRecordAction1", "TRecordDoubleRecordAction", ServiceCategory, "Дублирование полей справа",
         nullptr, 16507, 19},
        {"RecordAttributesAction1", "TRecordAttributesAction", ServiceCategory, "Атрибуты записи", nullptr, 115, 32},
        {"GroupDeleteAction1", "TGroupDeleteAction", ServiceCategory, "Групповое удаление", nullptr, 8312, -1},
        {"GroupReplaceAction1", "TGroupReplaceAction", ServiceCategory, "Групповая замена", nullptr, 16505, -1},
        {"GroupFillAction1", "TGroupFillAction", ServiceCategory, "Групповое заполнение", nullptr, 16504, -1},
        {"GroupAddAction1", "TGroupAddAction", ServiceCategory, "Добавить к графе значение", nullptr, 16491, -1},
        {"GroupMulAction1", "TGroupMulAction", ServiceCategory, "Умножить графу на значение", nullptr, 16491, -1},
        {"REditCopy1", "TREditCopy", ServiceCategory, "Копировать в буфер", "", 16429, -1},
        {"REditPaste1", "TREditPaste", ServiceCategory, "Вставить из буфера", "", 8237, -1},
        // The application's commands.
        {"PascalScriptAction1", "TPascalScriptAction", AppCategory, "Вызов пользовательских программ", nullptr, 24699,
         27},
        {"ShowNextAppFormAction1", "TShowNextAppFormAction", AppCategory,
         "Переключение между активными прикладными формами", nullptr, 16393, -1},
        {"CloseAppFormAction1", "TCloseAppFormAction", AppCategory, "Закрытие прикладной формы", nullptr, 16499, -1},
        {"TabGridAction1", "TTabGridAction", AppCategory, "Переключение между гридами",
         "Переключение между гридами в прикладной форме", 120, -1},
        {"CalendarAction1", "TCalendarAction", AppCategory, "Календарь", "Вызов календаря", 0, 34},
        {"CalcAction1", "TCalcAction", AppCategory, "Калькулятор", "Вызов калькулятора", 32880, 16},
        {"StdPrintAction1", "TStdPrintAction", AppCategory, "Печать формы", nullptr, 117, 20},
        {"StdExcelAction1", "TStdExcelAction", AppCategory, "Экспорт в MS Excel", nullptr, 0, 37},
        {"GridCustomizeAction1", "TGridCustomizeAction", AppCategory, "Параметры отображения таблицы", nullptr, 0, 38},
        {"CallRefAction1", "TCallRefAction", AppCategory, "Вызов справочника", nullptr, 119, -1},
        {"TougleLevelsAction1", "TTougleLevelsAction", AppCategory, "Уровневый-плоский",
         "Переключение между уровневым и плоским видом", 114, -1},
        {"AdjustInterfaceAction1", "TAdjustInterfaceAction", AppCategory, "Настройки интерфейса", nullptr, 0, -1},
        {"FastReportAction1", "TFastReportAction", AppCategory, "FastReport", "Вызов генератора отчетов - FastReport",
         0, 39},
        // The system's commands.
        {"EditSystemParams1", "TEditSystemParams", SysCategory, "Параметры системы", nullptr, 0, -1},
        {"SendUserMsgAction1", "TSendUserMsgAction", SysCategory, "Послать сообщение пользователям", nullptr, 0, -1},
        {"KillUserSessions1", "TKillUserSessions", SysCategory, "Отключить пользователей", nullptr, 0, -1},
        {"ChangePasswordAction1", "TChangePasswordAction", SysCategory, "Сменить пароль", nullptr, 0, -1},
        {"UserManagmenmtAction1", "TUserManagmenmtAction", SysCategory, "Пользователи", "Управление пользователями", 0,
         -1},
        {"AboutAction1", "TAboutAction", SysCategory, "О программе", nullptr, 0, -1},
        {"DBSetupAction1", "TDBSetupAction", SysCategory, "Обновление", "Провести обновление базы данных", 0, -1},
        {"DBManageAction1", "TDBManageAction", SysCategory, "Структура базы",
         "Просмотр / редактирование структуры базы данных", 0, -1},
        {"EditInputFormsAction1", "TEditInputFormsAction", SysCategory, "Редактирование запросных форм", nullptr, 0,
         -1},
        {"ParamsAdjustmentAction1", "TParamsAdjustmentAction", SysCategory, "Редактирование параметров системы",
         nullptr, 0, -1},
        {"EnumsAdjustmentAction1", "TEnumsAdjustmentAction", SysCategory, "Редактирование перечислений", nullptr, 0,
         -1},
        {"NumbersAdjustmentAction1", "TNumbersAdjustmentAction", SysCategory, "Редактирование нумераторов", nullptr, 0,
         -1},
        {"DBSetupAdjustmentAction1", "TDBSetupAdjustmentAction", SysCategory, "Настройка параметров обновления",
         nullptr, 0, -1},
        {"DBCheckStructAction1", "TDBCheckStructAction", SysCategory, "Проверка структуры",
         "Проверка структуры базы (относительно эталонной)", 0, -1},
        {"DBRestoreAction1", "TDBRestoreAction", SysCategory, "Восстановление",
         "Провести восстановление базы данных из копии", 0, -1},
        // The text edits' standard actions.
        {"EditCut1", "TEditCut", EditCategory, "Cu&t", "Cut", 16472, 41},
        {"EditSelectAll1", "TEditSelectAll", EditCategory, "Select &All", nullptr, 0, -1},
        {"EditUndo1", "TEditUndo", EditCategory, "&Undo", nullptr, 32776, 42},
        {"EditDelete1", "TEditDelete", EditCategory, "&Delete", nullptr, 46, 43},
    };
    return catalogue;
}

namespace {

void ApplyEntry(TAction& action, const TActionEntry& entry)
{
    const QString caption = QString::fromUtf8(entry.Caption);
    action.SetCaption(caption);
    action.SetHint(entry.Hint ? QString::fromUtf8(entry.Hint) : caption);
    action.SetShortCut(entry.ShortCut);
}

using TActionFactory = std::function<TAction*(QObject* owner)>;

template <typename T>
TActionFactory Make()
{
    return [](QObject* owner) { return new T(owner); };
}

TAction* CreateAction(const QString& className, QObject* owner)
{
    static const QHash<QString, TActionFactory> factories = {
        {"TRecordMarkAction", Make<TRecordMarkAction>()},
        {"TRecordMarkAllAction", Make<TRecordMarkAllAction>()},
        {"TRecordMarkGroupAction", Make<TRecordMarkGroupAction>()},
        {"TFindAction", Make<TFindAction>()},
        {"TSumAction", Make<TSumAction>()},
        {"TRecordCountAction", Make<TRecordCountAction>()},
        {"TFilterAction", Make<TFilterAction>()},
        {"TSortAction", Make<TSortAction>()},
        {"TSortCancelAction", Make<TSortCancelAction>()},
        {"TFilterCancelAction", Make<TFilterCancelAction>()},
        {"TRecordDeleteAction", Make<TRecordDeleteAction>()},
        {"TRecordEditAction", Make<TRecordEditAction>()},
        {"TRecordPostAction", Make<TRecordPostAction>()},
        {"TRecordInsertAction", Make<TRecordInsertAction>()},
        {"TRecordDoubleFieldAction", Make<TRecordDoubleFieldAction>()},
        {"TRecordDoubleRecordAction", Make<TRecordDoubleRecordAction>()},
        {"TRecordAttributesAction", Make<TRecordAttributesAction>()},
        {"TGroupDeleteAction", Make<TGroupDeleteAction>()},
        {"TGroupReplaceAction", Make<TGroupReplaceAction>()},
        {"TGroupFillAction", Make<TGroupFillAction>()},
        {"TGroupAddAction", Make<TGroupAddAction>()},
        {"TGroupMulAction", Make<TGroupMulAction>()},
        {"TREditCopy", Make<TREditCopy>()},
        {"TREditPaste", Make<TREditPaste>()},
        {"TPascalScriptAction", Make<TPascalScriptAction>()},
        {"TShowNextAppFormAction", Make<TShowNextAppFormAction>()},
        {"TCloseAppFormAction", Make<TCloseAppFormAction>()},
        {"TTabGridAction", Make<TTabGridAction>()},
        {"TCalendarAction", Make<TCalendarAction>()},
        {"TCalcAction", Make<TCalcAction>()},
        {"TStdPrintAction", Make<TStdPrintAction>()},
        {"TStdExcelAction", Make<TStdExcelAction>()},
        {"TGridCustomizeAction", Make<TGridCustomizeAction>()},
        {"TCallRefAction", Make<TCallRefAction>()},
        {"TTougleLevelsAction", Make<TTougleLevelsAction>()},
        {"TAdjustInterfaceAction", Make<TAdjustInterfaceAction>()},
        {"TFastReportAction", Make<TFastReportAction>()},
        {"TEditSystemParams", Make<TEditSystemParams>()},
        {"TSendUserMsgAction", Make<TSendUserMsgAction>()},
        {"TKillUserSessions", Make<TKillUserSessions>()},
        {"TChangePasswordAction", Make<TChangePasswordAction>()},
        {"TUserManagmenmtAction", Make<TUserManagmenmtAction>()},
        {"TAboutAction", Make<TAboutAction>()},
        {"TDBSetupAction", Make<TDBSetupAction>()},
        {"TDBManageAction", Make<TDBManageAction>()},
        {"TEditInputFormsAction", Make<TEditInputFormsAction>()},
        {"TParamsAdjustmentAction", Make<TParamsAdjustmentAction>()},
        {"TEnumsAdjustmentAction", Make<TEnumsAdjustmentAction>()},
        {"TNumbersAdjustmentAction", Make<TNumbersAdjustmentAction>()},
        {"TDBSetupAdjustmentAction", Make<TDBSetupAdjustmentAction>()},
        {"TDBCheckStructAction", Make<TDBCheckStructAction>()},
        {"TDBRestoreAction", Make<TDBRestoreAction>()},
        {"TEditCut", Make<TEditCut>()},
        {"TEditSelectAll", Make<TEditSelectAll>()},
        {"TEditUndo", Make<TEditUndo>()},
        {"TEditDelete", Make<TEditDelete>()},
    };
    return factories.value(className)(owner);
}

// The pictures, from the freedesktop icon theme Adwaita (its full-colour
// "legacy" set); a picture the theme lacks falls back to a standard icon of
// the style.
struct TImageName
{
    int Index;
    const char* ThemeName;
    QStyle::StandardPixmap Fallback;
};

constexpr TImageName ImageNames[] = {
    {0, "list-add", QStyle::SP_FileDialogNewFolder},
    {1, "accessories-text-editor", QStyle::SP_FileDialogDetailedView},
    {3, "format-justify-right", QStyle::SP_FileDialogListView},
    {4, "list-remove", QStyle::SP_TrashIcon},
    {6, "format-indent-more", QStyle::SP_ArrowRight},
    {7, "edit-select-all", QStyle::SP_DialogYesButton},
    {10, "emblem-default", QStyle::SP_DialogApplyButton},
    {11, "edit-find", QStyle::SP_FileDialogContentsView},
    {12, "system-search", QStyle::SP_FileDialogContentsView},
    {13, "process-stop", QStyle::SP_BrowserStop},
    {14, "view-sort-ascending", QStyle::SP_ArrowUp},
    {16, "accessories-calculator", QStyle::SP_ComputerIcon},
    {17, "document-save", QStyle::SP_DialogSaveButton},
    {18, "edit-copy", QStyle::SP_FileLinkIcon},
    {19, "go-last", QStyle::SP_MediaSkipForward},
    {20, "document-print", QStyle::SP_DriveFDIcon},
    {25, "format-justify-fill", QStyle::SP_FileDialogListView},
    {27, "utilities-terminal", QStyle::SP_CommandLink},
    {32, "document-properties", QStyle::SP_FileDialogInfoView},
    {34, "x-office-calendar", QStyle::SP_FileDialogDetailedView},
    {36, "view-restore", QStyle::SP_BrowserReload},
    {37, "x-office-spreadsheet", QStyle::SP_FileIcon},
    {38, "preferences-system", QStyle::SP_FileDialogDetailedView},
    {39, "x-office-document", QStyle::SP_FileIcon},
    {41, "edit-cut", QStyle::SP_DialogDiscardButton},
    {42, "edit-undo", QStyle::SP_ArrowBack},
    {43, "edit-delete", QStyle::SP_DialogCancelButton},
};

QIcon ThemeIcon(const char* name)
{
    static const char* const folders[] = {"legacy", "mimetypes", "apps", "places"};
    QIcon icon;
    for (const char* size : {"16x16", "22x22", "24x24", "32x32", "48x48"})
        for (const char* folder : folders) {
            const QString path = QStringLiteral("/usr/share/icons/Adwaita/%1/%2/%3.png")
                                     .arg(QLatin1String(size), QLatin1String(folder), QLatin1String(name));
            if (QFile::exists(path)) {
                icon.addFile(path);
                break;
            }
        }
    return icon;
}

} // namespace

void ApplyClassDefaults(TAction& action, const QString& className)
{
    for (const TActionEntry& entry : ActionCatalogue())
        if (className == QLatin1String(entry.ClassName)) {
            ApplyEntry(action, entry);
            return;
        }
}

QList<QIcon> CreateActionImageList()
{
    int count = 0;
    for (const TImageName& name : ImageNames)
        count = std::max(count, name.Index + 1);
    QList<QIcon> images(count);
    for (const TImageName& name : ImageNames) {
        QIcon icon = ThemeIcon(name.ThemeName);
        images[name.Index] = icon.isNull() ? QApplication::style()->standardIcon(name.Fallback) : icon;
    }
    return images;
}

// Keeps the action states in step with the focused control: rebinds to the
// data source of the control that gets the focus and updates at once; the
// data set's changes (state, scrolling, values, marks) update once the
// events of the moment have run, so a walk over many rows costs one update.
class TActionStateWatch : public QObject, private TDataLink
{
public:
    explicit TActionStateWatch(TI& module) : FModule(module)
    {
        connect(qApp, &QApplication::focusChanged, this, [this] { FocusChanged(); });
    }
    ~TActionStateWatch() override { SetDataSource(nullptr); }

private:
    void FocusChanged()
    {
        TDataSource* source = nullptr;
        if (TDBSGridEx* grid = FocusedGrid())
            source = grid->DataSource();
        else if (auto* edit = qobject_cast<TDBEdit*>(FocusedControl()))
            source = edit->DataSource();
        SetDataSource(source);
        FModule.UpdateActions();
    }
    void Changed()
    {
        if (FPending)
            return;
        FPending = true;
        QTimer::singleShot(0, this, [this] {
            FPending = false;
            FModule.UpdateActions();
        });
    }
    void ActiveChanged() override { Changed(); }
    void EditingChanged() override { Changed(); }
    void DataSetChanged() override { Changed(); }
    void LayoutChanged() override { Changed(); }
    void RecordChanged(TField*) override { Changed(); }

    TI& FModule;
    bool FPending = false;
};

namespace {

// The grids' own keys: while a data grid (or its editor) has the focus, a
// key that the framework grid's dispatch compares with a published action
// (the plain grid's editing keys among them) is claimed for the grid before
// any window shortcut can take it.
class TGridKeys : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::ShortcutOverride || !watched->isWidgetType())
            return false;
        if (!IsInsideGrid(static_cast<QWidget*>(watched)))
            return false;
        if (!IsGridKey(ShortCutOfKeyEvent(*static_cast<QKeyEvent*>(event))))
            return false;
        event->accept();
        return true;
    }

private:
    static bool IsInsideGrid(QWidget* widget)
    {
        for (QWidget* w = widget; w; w = w->isWindow() ? nullptr : w->parentWidget())
            if (qobject_cast<TDBGridEx*>(w))
                return true;
        return false;
    }
    static bool IsGridKey(TShortCut code)
    {
        if (code == 0)
            return false;
        if (code == VK::Insert || code == VK::Return || code == VK::Escape || code == (scCtrl | VK::Delete))
            return true;
        const TServiceActions& a = ServiceActions();
        for (const TAction* action : {a.RecordEditAction1,
                                      a.RecordMarkAction1,
                                      a.RecordMarkGroupAction1,
                                      a.SumAction1,
                                      a.RecordCountAction1,
                                      a.FilterAction1,
                                      a.SortAction1,
                                      a.SortCancelAction1,
                                      a.FilterCancelAction1,
                                      a.StdPrintAction1,
                                      a.TougleLevelsAction1,
                                      a.GroupDeleteAction1,
                                      a.GroupReplaceAction1,
                                      a.GroupFillAction1,
                                      a.GroupAddAction1,
                                      a.GroupMulAction1,
                                      a.RecordDoubleFieldAction1,
                                      a.RecordDoubleRecordAction1,
                                      a.RecordPostAction1,
                                      a.FindAction1})
            if (action && action->ShortCut() == code)
                return true;
        return false;
    }
};

// Gives the framework's text edits (the data-aware edits and the grids'
// in-place text editors) the module's popup menu in place of Qt's own. An
// edit whose form chose another context menu policy keeps it, and without
// the module the edits keep Qt's menu.
class TEditPopups : public QObject
{
public:
    explicit TEditPopups(TI& module) : FModule(module) {}

    // The framework's text edits: what the popup is attached to.
    static bool IsFrameworkEdit(const QWidget* widget)
    {
        if (qobject_cast<const TDBEdit*>(widget))
            return true;
        auto* line = qobject_cast<const QLineEdit*>(widget);
        return line && qobject_cast<const TInplaceEdit*>(line->parentWidget());
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::ContextMenu || !watched->isWidgetType())
            return false;
        auto* edit = static_cast<QWidget*>(watched);
        if (edit->contextMenuPolicy() != Qt::DefaultContextMenu || !IsFrameworkEdit(edit))
            return false;
        FModule.PopupFor(edit, static_cast<QContextMenuEvent*>(event)->globalPos());
        event->accept();
        return true;
    }

private:
    TI& FModule;
};

} // namespace

TI::TI() : FImageList(CreateActionImageList())
{
    setObjectName(QStringLiteral("I"));
    CreateActions();
    CreatePopupMenu();
    FStateWatch = std::make_unique<TActionStateWatch>(*this);
    FGridKeys = std::make_unique<TGridKeys>();
    qApp->installEventFilter(FGridKeys.get());
    FEditPopups = std::make_unique<TEditPopups>(*this);
    qApp->installEventFilter(FEditPopups.get());
}

TI::~TI()
{
    qApp->removeEventFilter(FGridKeys.get());
    qApp->removeEventFilter(FEditPopups.get());
    // The menu holds items that run the actions: it goes first.
    FSysEditPopupMenu.reset();
    FStateWatch.reset();
}

void TI::CreateActions()
{
    QSet<TShortCut> liveKeys;
    for (const TActionEntry& entry : ActionCatalogue()) {
        TAction* action = CreateAction(QString::fromLatin1(entry.ClassName), this);
        action->setObjectName(QString::fromLatin1(entry.Name));
        action->SetCategory(QString::fromLatin1(entry.Category));
        ApplyEntry(*action, entry);
        action->SetImageIndex(entry.ImageIndex);
        if (entry.ImageIndex >= 0)
            action->setIcon(FImageList.value(entry.ImageIndex));
        // Two live shortcuts on one key fire neither: the later action keeps
        // the code for the grid's key handling and the menus.
        if (entry.ShortCut != 0 && liveKeys.contains(entry.ShortCut))
            action->SetLiveShortCut(false);
        liveKeys.insert(entry.ShortCut);
        FActions.append(action);
    }
}

void TI::CreatePopupMenu()
{
    FSysEditPopupMenu = std::make_unique<QMenu>();
    FSysEditPopupMenu->setObjectName(QStringLiteral("SysEditPopupMenu"));
    auto item = [this](const char* name, const QString& caption, std::function<void()> run) {
        QAction* a = FSysEditPopupMenu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, FSysEditPopupMenu.get(), [run = std::move(run)] { HandleExceptions(run); });
        return a;
    };
    auto runs = [this](const char* actionName) {
        return [this, actionName] {
            if (TAction* action = Action(QString::fromLatin1(actionName)))
                action->Execute();
        };
    };
    item("Undo1", QStringLiteral("Отменить"), runs("EditUndo1"));
    FSysEditPopupMenu->addSeparator()->setObjectName(QStringLiteral("N1"));
    item("Cut1", QStringLiteral("Вырезать"), runs("EditCut1"));
    item("mCopyPopupMenu", QStringLiteral("Копировать"), [this] { mCopyPopupMenuClick(); });
    item("mPastePopupMenu", QStringLiteral("Вставить"), [this] { mPastePopupMenuClick(); });
    item("Delete1", QStringLiteral("Удалить"), runs("EditDelete1"));
    item("SelectAll1", QStringLiteral("Отметить все"), runs("EditSelectAll1"));
}

TAction* TI::Action(const QString& name) const
{
    for (TAction* action : FActions)
        if (action->objectName() == name)
            return action;
    return nullptr;
}

void TI::PopupFor(QWidget* edit, const QPoint& globalPos)
{
    FPopupComponent = edit;
    FSysEditPopupMenu->popup(globalPos);
}

namespace {

QWidget* RequireTextEdit(QWidget* component)
{
    if (!component || !IsTextEdit(component))
        throw Exception(QStringLiteral("Invalid class typecast"));
    return component;
}

} // namespace

void TI::mCopyPopupMenuClick()
{
    const QString text = SelectedText(RequireTextEdit(FPopupComponent));
    // Copying an empty selection would only wipe the user's clipboard.
    if (!text.isEmpty())
        PutRussianText(text);
}

void TI::mPastePopupMenuClick()
{
    QWidget* edit = RequireTextEdit(FPopupComponent);
    const QString text = GetRussianText();
    if (CanPasteInto(edit))
        ReplaceSelection(edit, text);
}

void TI::UpdateActions()
{
    for (TAction* action : FActions)
        action->Update();
}

void TI::AttachShortcuts(QWidget* window)
{
    for (TAction* action : FActions) {
        if (action->ShortCut() == 0 || !action->LiveShortCut() || action->Category() == QLatin1String(EditCategory)
            || action->objectName() == QLatin1String("REditPaste1"))
            continue;
        action->setShortcutContext(Qt::WindowShortcut);
        window->addAction(action);
    }
}

// ------------------------------------------------------------------ lifetime

namespace {

std::unique_ptr<TI> Module;

TServiceActions PublishedOf(const TI& module)
{
    auto a = [&module](const char* name) { return module.Action(QString::fromLatin1(name)); };
    TServiceActions p;
    p.RecordMarkAction1 = a("RecordMarkAction1");
    p.RecordMarkAllAction1 = a("RecordMarkAllAction1");
    p.RecordMarkGroupAction1 = a("RecordMarkGroupAction1");
    p.FindAction1 = a("FindAction1");
    p.SumAction1 = a("SumAction1");
    p.RecordCountAction1 = a("RecordCountAction1");
    p.GroupDeleteAction1 = a("GroupDeleteAction1");
    p.GroupReplaceAction1 = a("GroupReplaceAction1");
    p.GroupFillAction1 = a("GroupFillAction1");
    p.GroupAddAction1 = a("GroupAddAction1");
    p.GroupMulAction1 = a("GroupMulAction1");
    p.FilterAction1 = a("FilterAction1");
    p.FilterCancelAction1 = a("FilterCancelAction1");
    p.SortAction1 = a("SortAction1");
    p.SortCancelAction1 = a("SortCancelAction1");
    p.RecordEditAction1 = a("RecordEditAction1");
    p.RecordPostAction1 = a("RecordPostAction1");
    p.RecordInsertAction1 = a("RecordInsertAction1");
    p.RecordDeleteAction1 = a("RecordDeleteAction1");
    p.RecordDoubleFieldAction1 = a("RecordDoubleFieldAction1");
    p.RecordDoubleRecordAction1 = a("RecordDoubleRecordAction1");
    p.RecordAttributesAction1 = a("RecordAttributesAction1");
    p.StdPrintAction1 = a("StdPrintAction1");
    p.StdExcelAction1 = a("StdExcelAction1");
    p.GridCustomizeAction1 = a("GridCustomizeAction1");
    p.CallRefAction1 = a("CallRefAction1");
    p.TougleLevelsAction1 = a("TougleLevelsAction1");
    p.REditCopy1 = a("REditCopy1");
    p.REditPaste1 = a("REditPaste1");
    p.SysEditPopupMenu = module.SysEditPopupMenu();
    return p;
}

} // namespace

TI* I() { return Module.get(); }

void CreateCommonInterface()
{
    if (Module)
        return;
    const QScreen* screen = QGuiApplication::primaryScreen();
    SetScreenColorDepth(screen ? screen->depth() : 32);
    GridSearchShortcut() = ShortCutToKey(16498);
    InstallActionRoute();
    Module = std::make_unique<TI>();
    PublishServiceActions(PublishedOf(*Module));
    PublishActionImages(&Module->ImageList());
}

void FreeCommonInterface()
{
    PublishServiceActions({});
    PublishActionImages(nullptr);
    Module.reset();
    TAction::SetRoute(nullptr);
}
