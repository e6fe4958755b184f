// The published service actions as the action module makes them: their
// captions and shortcut codes, published for the life of the fixture.
#pragma once

#include "Action.h"
#include "ServiceActions.h"

#include <memory>
#include <vector>

namespace gridtest {

class TPublishedActions
{
public:
    TPublishedActions()
    {
        TServiceActions& a = FActions;
        a.RecordMarkAction1 = Make("&Отметить запись", 8306);
        a.RecordMarkAllAction1 = Make("Отметить/НЕотметить ВСЕ строки", 0);
        a.RecordMarkGroupAction1 = Make("Отметить начало/конец группы", 8307);
        a.FindAction1 = Make("&Поиск", 16498);
        a.SumAction1 = Make("&Сумма по графе", 24691);
        a.RecordCountAction1 = Make("Кол-во строк", 16500);
        a.FilterAction1 = Make("&Фильтр", 16502);
        a.SortAction1 = Make("Сортировка", 16501);
        a.SortCancelAction1 = Make("Отмена сортировки", 8309);
        a.FilterCancelAction1 = Make("Отменить фильтр", 8310);
        a.RecordDeleteAction1 = Make("Удаление записи", 16430);
        a.RecordEditAction1 = Make("Корректировка записи", 113);
        a.RecordPostAction1 = Make("Завершить ввод/корректировку", 116);
        a.RecordInsertAction1 = Make("Добавление записи", 45);
        a.RecordDoubleFieldAction1 = Make("Дублирование поля", 123);
        a.RecordDoubleRecordAction1 = Make("Дублирование полей справа", 16507);
        a.RecordAttributesAction1 = Make("Атрибуты записи", 115);
        a.GroupDeleteAction1 = Make("Групповое удаление", 8312);
        a.GroupReplaceAction1 = Make("Групповая замена", 16505);
        a.GroupFillAction1 = Make("Групповое заполнение", 16504);
        a.GroupAddAction1 = Make("Добавить к графе значение", 16491);
        a.GroupMulAction1 = Make("Умножить графу на значение", 16491);
        a.REditCopy1 = Make("Копировать в буфер", 16429);
        a.REditPaste1 = Make("Вставить из буфера", 8237);
        a.StdPrintAction1 = Make("Печать формы", 117);
        a.StdExcelAction1 = Make("Экспорт в MS Excel", 0);
        a.GridCustomizeAction1 = Make("Параметры отображения таблицы", 0);
        a.CallRefAction1 = Make("Вызов справочника", 119);
        a.TougleLevelsAction1 = Make("Уровневый-плоский", 114);
        PublishServiceActions(FActions);
    }
    ~TPublishedActions() { PublishServiceActions(TServiceActions()); }
    TPublishedActions(const TPublishedActions&) = delete;
    TPublishedActions& operator=(const TPublishedActions&) = delete;

    const TServiceActions& operator*() const { return FActions; }
    const TServiceActions* operator->() const { return &FActions; }

private:
    TAction* Make(const char* caption, TShortCut shortCut)
    {
        auto& action = FOwned.emplace_back(std::make_unique<TAction>());
        action->SetCaption(QString::fromUtf8(caption));
        action->SetShortCut(shortCut);
        return action.get();
    }

    std::vector<std::unique_ptr<TAction>> FOwned;
    TServiceActions FActions;
};

} // namespace gridtest
