// The catalogue as the user sees it (texts, keys, categories, pictures), the
// module's life and what it publishes, the keys it makes live, and the
// picture of the catalogue.
#include "ActionFixture.h"
#include "DBGridSearch.h"

#include <QHeaderView>
#include <QKeySequence>
#include <QMenu>
#include <QSet>
#include <QTreeWidget>

namespace {

struct TExpected
{
    const char* Name;
    const char* Class;
    const char* Caption;
    const char* Hint;
    uint16_t ShortCut;
    bool Image;
};

struct TExpectedCategory
{
    const char* Category;
    std::vector<TExpected> Actions;
};

// The texts exactly as the users know them, misspellings and the trailing blank included.
const std::vector<TExpectedCategory> Expected = {
    {"TarvoService",
     {
         {"RecordMarkAction1", "TRecordMarkAction", "&Отметить запись", "&Отметить запись", 8306, true},
         {"RecordMarkAllAction1", "TRecordMarkAllAction", "Отметить/НЕотметить ВСЕ строки",
          "Отметить/НЕотметить ВСЕ строки ", 0, true},
         {"RecordMarkGroupAction1", "TRecordMarkGroupAction", "Отметить начало/конец группы",
          "Отметить начало/конец группы", 8307, true},
         {"FindAction1", "TFindAction", "&Поиск", "Поиск", 16498, true},
         {"SumAction1", "TSumAction", "&Сумма по графе", "Сумма по графе", 24691, true},
         {"RecordCountAction1", "TRecordCountAction", "Кол-во строк", "Кол-во строк", 16500, true},
         {"FilterAction1", "TFilterAction", "&Фильтр", "Фильтр", 16502, true},
         {"SortAction1", "TSortAction", "Сортировка", "Сортировка", 16501, true},
         {"SortCancelAction1", "TSortCancelAction", "Отмена сортировки", "Отмена сортировки", 8309, true},
         {"FilterCancelAction1", "TFilterCancelAction", "Отменить фильтр", "Отменить фильтр", 8310, true},
         {"RecordDeleteAction1", "TRecordDeleteAction", "Удаление записи", "Удаление записи", 16430, true},
         {"RecordEditAction1", "TRecordEditAction", "Корректировка записи", "Корректировка записи", 113, true},
         {"RecordPostAction1", "TRecordPostAction", "Завершить ввод/корректировку", "Завершить ввод/корректировку", 116,
          true},
         {"RecordInsertAction1", "TRecordInsertAction", "Добавление записи", "Добавление записи", 45, true},
         {"RecordDoubleFieldAction1", "TRecordDoubleFieldAction", "Дублирование поля", "Дублирование поля", 123, true},
         {"RecordDoubleRecordAction1", "TRecordDoubleRecordAction", "Дублирование полей справа",
          "Дублирование полей справа", 16507, true},
         {"RecordAttributesAction1", "TRecordAttributesAction", "Атрибуты записи", "Атрибуты записи", 115, true},
         {"GroupDeleteAction1", "TGroupDeleteAction", "Групповое удаление", "Групповое удаление", 8312, false},
         {"GroupReplaceAction1", "TGroupReplaceAction", "Групповая замена", "Групповая замена", 16505, false},
         {"GroupFillAction1", "TGroupFillAction", "Групповое заполнение", "Групповое заполнение", 16504, false},
         {"GroupAddAction1", "TGroupAddAction", "Добавить к графе значение", "Добавить к графе значение", 16491, false},
         {"GroupMulAction1", "TGroupMulAction", "Умножить графу на значение", "Умножить графу на значение", 16491,
          false},
         {"REditCopy1", "TREditCopy", "Копировать в буфер", "", 16429, false},
         {"REditPaste1", "TREditPaste", "Вставить из буфера", "", 8237, false},
     }},
    {"TarvoAppService",
     {
         {"PascalScriptAction1", "TPascalScriptAction", "Вызов пользовательских программ",
          "Вызов пользовательских программ", 24699, true},
         {"ShowNextAppFormAction1", "TShowNextAppFormAction", "Переключение между активными прикладными формами",
          "Переключение между активными прикладными формами", 16393, false},
         {"CloseAppFormAction1", "TCloseAppFormAction", "Закрытие прикладной формы", "Закрытие прикладной формы", 16499,
          false},
         {"TabGridAction1", "TTabGridAction", "Переключение между гридами",
          "Переключение между гридами в прикладной форме", 120, false},
         {"CalendarAction1", "TCalendarAction", "Календарь", "Вызов календаря", 0, true},
         {"CalcAction1", "TCalcAction", "Калькулятор", "Вызов калькулятора", 32880, true},
         {"StdPrintAction1", "TStdPrintAction", "Печать формы", "Печать формы", 117, true},
         {"StdExcelAction1", "TStdExcelAction", "Экспорт в MS Excel", "Экспорт в MS Excel", 0, true},
         {"GridCustomizeAction1", "TGridCustomizeAction", "Параметры отображения таблицы",
          "Параметры отображения таблицы", 0, true},
         {"CallRefAction1", "TCallRefAction", "Вызов справочника", "Вызов справочника", 119, false},
         {"TougleLevelsAction1", "TTougleLevelsAction", "Уровневый-плоский",
          "Переключение между уровневым и плоским видом", 114, false},
         {"AdjustInterfaceAction1", "TAdjustInterfaceAction", "Настройки интерфейса", "Настройки интерфейса", 0, false},
         {"FastReportAction1", "TFastReportAction", "FastReport", "Вызов генератора отчетов - FastReport", 0, true},
     }},
    {"TarvoSysService",
     {
         {"EditSystemParams1", "TEditSystemParams", "Параметры системы", "Параметры системы", 0, false},
         {"SendUserMsgAction1", "TSendUserMsgAction", "Послать сообщение пользователям",
          "Послать сообщение пользователям", 0, false},
         {"KillUserSessions1", "TKillUserSessions", "Отключить пользователей", "Отключить пользователей", 0, false},
         {"ChangePasswordAction1", "TChangePasswordAction", "Сменить пароль", "Сменить пароль", 0, false},
         {"UserManagmenmtAction1", "TUserManagmenmtAction", "Пользователи", "Управление пользователями", 0, false},
         {"AboutAction1", "TAboutAction", "О программе", "О программе", 0, false},
         {"DBSetupAction1", "TDBSetupAction", "Обновление", "Провести обновление базы данных", 0, false},
         {"DBManageAction1", "TDBManageAction", "Структура базы", "Просмотр / редактирование структуры базы данных", 0,
          false},
         {"EditInputFormsAction1", "TEditInputFormsAction", "Редактирование запросных форм",
          "Редактирование запросных форм", 0, false},
         {"ParamsAdjustmentAction1", "TParamsAdjustmentAction", "Редактирование параметров системы",
          "Редактирование параметров системы", 0, false},
         {"EnumsAdjustmentAction1", "TEnumsAdjustmentAction", "Редактирование перечислений",
          "Редактирование перечислений", 0, false},
         {"NumbersAdjustmentAction1", "TNumbersAdjustmentAction", "Редактирование нумераторов",
          "Редактирование нумераторов", 0, false},
         {"DBSetupAdjustmentAction1", "TDBSetupAdjustmentAction", "Настройка параметров обновления",
          "Настройка параметров обновления", 0, false},
         {"DBCheckStructAction1", "TDBCheckStructAction", "Проверка структуры",
          "Проверка структуры базы (относительно эталонной)", 0, false},
         {"DBRestoreAction1", "TDBRestoreAction", "Восстановление", "Провести восстановление базы данных из копии", 0,
          false},
     }},
    {"Edit",
     {
         {"EditCut1", "TEditCut", "Cu&t", "Cut", 16472, true},
         {"EditSelectAll1", "TEditSelectAll", "Select &All", "Select &All", 0, false},
         {"EditUndo1", "TEditUndo", "&Undo", "&Undo", 32776, true},
         {"EditDelete1", "TEditDelete", "&Delete", "&Delete", 46, true},
     }},
};

// The image indexes of the catalogue.
const QHash<QString, int> ExpectedImages = {
    {"RecordMarkAction1", 10},
    {"RecordMarkAllAction1", 7},
    {"RecordMarkGroupAction1", 6},
    {"FindAction1", 11},
    {"SumAction1", 3},
    {"RecordCountAction1", 25},
    {"FilterAction1", 12},
    {"SortAction1", 14},
    {"SortCancelAction1", 36},
    {"FilterCancelAction1", 13},
    {"RecordDeleteAction1", 4},
    {"RecordEditAction1", 1},
    {"RecordPostAction1", 17},
    {"RecordInsertAction1", 0},
    {"RecordDoubleFieldAction1", 18},
    {"RecordDoubleRecordAction1", 19},
    {"RecordAttributesAction1", 32},
    {"PascalScriptAction1", 27},
    {"CalendarAction1", 34},
    {"CalcAction1", 16},
    {"StdPrintAction1", 20},
    {"StdExcelAction1", 37},
    {"GridCustomizeAction1", 38},
    {"FastReportAction1", 39},
    {"EditCut1", 41},
    {"EditUndo1", 42},
    {"EditDelete1", 43},
};

class CatalogueTest : public TActionFixture
{};

} // namespace

TEST_F(CatalogueTest, EveryActionHasItsClassTextsKeyCategoryAndPicture)
{
    QList<TAction*> seen;
    for (const TExpectedCategory& category : Expected)
        for (const TExpected& e : category.Actions) {
            SCOPED_TRACE(e.Name);
            TAction& action = Action(e.Name);
            seen << &action;
            EXPECT_EQ(action.ClassName(), QLatin1String(e.Class));
            EXPECT_EQ(action.Caption(), QString::fromUtf8(e.Caption));
            EXPECT_EQ(action.Hint(), QString::fromUtf8(e.Hint));
            EXPECT_EQ(action.ShortCut(), e.ShortCut);
            EXPECT_EQ(action.Category(), QLatin1String(category.Category));
            const int index = ExpectedImages.value(QLatin1String(e.Name), -1);
            EXPECT_EQ(action.ImageIndex(), index);
            EXPECT_EQ(index >= 0, e.Image);
            if (index >= 0) {
                EXPECT_FALSE(I()->ImageList().value(index).isNull());
                EXPECT_FALSE(action.icon().isNull());
            }
        }
    // The module holds exactly these, in this order.
    EXPECT_EQ(I()->Actions(), seen);
    EXPECT_EQ(Action("ChangePasswordAction1").HelpContext(), 1123000);
}

TEST_F(CatalogueTest, ConstructorsGiveTheirOwnDefaultsThatTheModuleOverrides)
{
    const TRecordMarkAction mark;
    EXPECT_EQ(mark.Hint(), QStringLiteral("Отметить запись"));
    const TRecordMarkAllAction markAll;
    EXPECT_EQ(markAll.Caption(), QStringLiteral("Отметить/Н&Еотметить ВСЕ строки"));
    const TRecordMarkGroupAction markGroup;
    EXPECT_EQ(markGroup.Caption(), QStringLiteral("Отметить начало/&конец группы"));
    const TCloseAppFormAction close;
    EXPECT_EQ(close.Caption(), QStringLiteral("Закрытие формы"));
    const TChangePasswordAction password;
    EXPECT_EQ(password.Caption(), QStringLiteral("Смена пароля"));
    EXPECT_EQ(password.HelpContext(), 1123000);
    EXPECT_TRUE(TRecordDoubleFieldAction().GridOnly);
    EXPECT_TRUE(TRecordDoubleRecordAction().GridOnly);
    EXPECT_FALSE(TRecordMarkAction().GridOnly);
    const struct
    {
        TIteratorAction* Action;
        TGroupOperationKind Kind;
    } kinds[] = {{new TSumAction(FForm.get()), goSum},
                 {new TRecordCountAction(FForm.get()), goCount},
                 {new TGroupDeleteAction(FForm.get()), goDelete},
                 {new TGroupReplaceAction(FForm.get()), goReplace},
                 {new TGroupFillAction(FForm.get()), goFill},
                 {new TGroupAddAction(FForm.get()), goAdd},
                 {new TGroupMulAction(FForm.get()), goMultiply}};
    for (const auto& k : kinds)
        EXPECT_EQ(k.Action->OperationKind, k.Kind) << k.Action->ClassName().toStdString();
}

TEST_F(CatalogueTest, ThePopupMenuOfTextEditorsListsItsItemsInOrder)
{
    QMenu* menu = ServiceActions().SysEditPopupMenu;
    ASSERT_NE(menu, nullptr);
    QStringList items;
    for (QAction* item : menu->actions())
        items << item->objectName() + QLatin1Char('=') + (item->isSeparator() ? QStringLiteral("-") : item->text());
    EXPECT_EQ(items, QStringList({"Undo1=Отменить", "N1=-", "Cut1=Вырезать", "mCopyPopupMenu=Копировать",
                                  "mPastePopupMenu=Вставить", "Delete1=Удалить", "SelectAll1=Отметить все"}));
}

TEST_F(CatalogueTest, TheModuleLivesBetweenItsStartAndEndAndPublishesMeanwhile)
{
    const TServiceActions& published = ServiceActions();
    EXPECT_EQ(published.RecordMarkAction1, &Action("RecordMarkAction1"));
    EXPECT_EQ(published.GroupMulAction1, &Action("GroupMulAction1"));
    EXPECT_EQ(published.REditPaste1, &Action("REditPaste1"));
    EXPECT_EQ(published.TougleLevelsAction1, &Action("TougleLevelsAction1"));
    ASSERT_NE(ActionImageList(), nullptr);
    EXPECT_EQ(ActionImageList(), &I()->ImageList());
    EXPECT_EQ(GridSearchShortcut(), QKeyCombination(Qt::CTRL | Qt::Key_F3));

    TI* module = I();
    CreateCommonInterface(); // once per process: a second start changes nothing
    EXPECT_EQ(I(), module);

    FreeCommonInterface();
    EXPECT_EQ(I(), nullptr);
    EXPECT_EQ(ServiceActions().RecordMarkAction1, nullptr);
    EXPECT_EQ(ServiceActions().SysEditPopupMenu, nullptr);
    EXPECT_EQ(ActionImageList(), nullptr);
    CreateCommonInterface();
    EXPECT_NE(ServiceActions().RecordMarkAction1, nullptr);
}

TEST_F(CatalogueTest, TheMarkedRowColourFollowsTheScreenDepth)
{
    SetScreenColorDepth(8);
    EXPECT_EQ(MarkedRowColor(), QColor(0, 255, 0));
    SetScreenColorDepth(24);
    EXPECT_EQ(MarkedRowColor(), QColor(224, 255, 192));
}

TEST_F(CatalogueTest, ASharedKeyIsNeverLiveTwice)
{
    TAction& add = Action("GroupAddAction1");
    TAction& mul = Action("GroupMulAction1");
    // Both keep the code the grid compares keys with.
    EXPECT_EQ(add.ShortCut(), 16491);
    EXPECT_EQ(mul.ShortCut(), 16491);
    EXPECT_EQ(add.shortcut(), QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_Plus)));
    EXPECT_TRUE(mul.shortcut().isEmpty());
    // A menu still shows the multiply action's key.
    EXPECT_TRUE(mul.text().endsWith(QStringLiteral("\tCtrl+Num +")));
    EXPECT_EQ(mul.Caption(), QStringLiteral("Умножить графу на значение"));

    I()->AttachShortcuts(FForm.get());
    QSet<QKeySequence> keys;
    for (QAction* action : FForm->actions()) {
        if (action->shortcut().isEmpty())
            continue;
        EXPECT_FALSE(keys.contains(action->shortcut())) << action->objectName().toStdString();
        keys.insert(action->shortcut());
    }
    EXPECT_TRUE(keys.contains(add.shortcut()));
    // The text edits keep their own editing keys.
    EXPECT_FALSE(FForm->actions().contains(&Action("EditDelete1")));
    EXPECT_FALSE(FForm->actions().contains(&Action("REditPaste1")));
}

// The catalogue as a picture: each category, its actions' pictures,
// captions and keys. ACTIONS_SCREENSHOT names the file.
TEST_F(CatalogueTest, Screenshot)
{
    const QString file = qEnvironmentVariable("ACTIONS_SCREENSHOT");
    if (file.isEmpty())
        GTEST_SKIP() << "ACTIONS_SCREENSHOT not set";
    QTreeWidget view;
    view.setColumnCount(4);
    view.setHeaderLabels({QStringLiteral("Действие"), QStringLiteral("Клавиши"), QStringLiteral("Компонент"),
                          QStringLiteral("Подсказка")});
    view.setIconSize(QSize(16, 16));
    view.setRootIsDecorated(false);
    view.setAlternatingRowColors(true);
    view.setUniformRowHeights(true);
    // Captions without a picture stand where the others' stand.
    QPixmap blank(16, 16);
    blank.fill(Qt::transparent);
    QTreeWidgetItem* group = nullptr;
    for (TAction* action : I()->Actions()) {
        if (!group || group->text(0) != action->Category()) {
            group = new QTreeWidgetItem(&view, {action->Category()});
            QFont bold = group->font(0);
            bold.setBold(true);
            group->setFont(0, bold);
            group->setFirstColumnSpanned(true);
            group->setExpanded(true);
        }
        auto* item = new QTreeWidgetItem(group,
                                         {QString(action->Caption()).remove(QLatin1Char('&')),
                                          ShortCutToText(action->ShortCut()), action->objectName(), action->Hint()});
        item->setIcon(0, action->icon().isNull() ? QIcon(blank) : action->icon());
    }
    view.expandAll();
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    for (int column = 0; column < view.columnCount(); ++column)
        view.resizeColumnToContents(column);
    // The whole catalogue at once, without scroll bars.
    int rows = 0;
    for (QTreeWidgetItemIterator it(&view); *it; ++it)
        ++rows;
    const int rowHeight = view.visualItemRect(view.topLevelItem(0)->child(0)).height();
    int width = 2 * view.frameWidth() + 16;
    for (int column = 0; column < view.columnCount(); ++column)
        width += view.columnWidth(column);
    view.resize(width, view.header()->height() + rows * rowHeight + 2 * view.frameWidth() + 4);
    QApplication::processEvents();
    ASSERT_TRUE(view.grab().save(file));
}
