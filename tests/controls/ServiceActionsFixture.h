// The published service actions as the action module makes them: the
// catalogue's captions, shortcut codes and image indexes, and the module's
// pictures, published for the life of the fixture (the module itself, with
// its key handling and state watch, is not created).
#pragma once

#include "Action.h"
#include "CommonInterfaceRes.h"
#include "ServiceActions.h"

#include <memory>
#include <stdexcept>
#include <vector>

namespace gridtest {

class TPublishedActions
{
public:
    TPublishedActions() : FImages(CreateActionImageList())
    {
        TServiceActions& a = FActions;
        a.RecordMarkAction1 = Make("RecordMarkAction1");
        a.RecordMarkAllAction1 = Make("RecordMarkAllAction1");
        a.RecordMarkGroupAction1 = Make("RecordMarkGroupAction1");
        a.FindAction1 = Make("FindAction1");
        a.SumAction1 = Make("SumAction1");
        a.RecordCountAction1 = Make("RecordCountAction1");
        a.FilterAction1 = Make("FilterAction1");
        a.SortAction1 = Make("SortAction1");
        a.SortCancelAction1 = Make("SortCancelAction1");
        a.FilterCancelAction1 = Make("FilterCancelAction1");
        a.RecordDeleteAction1 = Make("RecordDeleteAction1");
        a.RecordEditAction1 = Make("RecordEditAction1");
        a.RecordPostAction1 = Make("RecordPostAction1");
        a.RecordInsertAction1 = Make("RecordInsertAction1");
        a.RecordDoubleFieldAction1 = Make("RecordDoubleFieldAction1");
        a.RecordDoubleRecordAction1 = Make("RecordDoubleRecordAction1");
        a.RecordAttributesAction1 = Make("RecordAttributesAction1");
        a.GroupDeleteAction1 = Make("GroupDeleteAction1");
        a.GroupReplaceAction1 = Make("GroupReplaceAction1");
        a.GroupFillAction1 = Make("GroupFillAction1");
        a.GroupAddAction1 = Make("GroupAddAction1");
        a.GroupMulAction1 = Make("GroupMulAction1");
        a.REditCopy1 = Make("REditCopy1");
        a.REditPaste1 = Make("REditPaste1");
        a.StdPrintAction1 = Make("StdPrintAction1");
        a.StdExcelAction1 = Make("StdExcelAction1");
        a.GridCustomizeAction1 = Make("GridCustomizeAction1");
        a.CallRefAction1 = Make("CallRefAction1");
        a.TougleLevelsAction1 = Make("TougleLevelsAction1");
        PublishServiceActions(FActions);
        PublishActionImages(&FImages);
    }
    ~TPublishedActions()
    {
        PublishActionImages(nullptr);
        PublishServiceActions(TServiceActions());
    }
    TPublishedActions(const TPublishedActions&) = delete;
    TPublishedActions& operator=(const TPublishedActions&) = delete;

    const TServiceActions& operator*() const { return FActions; }
    const TServiceActions* operator->() const { return &FActions; }

private:
    // A plain action with the catalogue's values of a component; its picture
    // is left to the controls that show it.
    TAction* Make(const char* name)
    {
        for (const TActionEntry& entry : ActionCatalogue())
            if (qstrcmp(entry.Name, name) == 0) {
                auto& action = FOwned.emplace_back(std::make_unique<TAction>());
                action->setObjectName(QString::fromLatin1(name));
                action->SetCaption(QString::fromUtf8(entry.Caption));
                action->SetShortCut(entry.ShortCut);
                action->SetImageIndex(entry.ImageIndex);
                return action.get();
            }
        throw std::logic_error(std::string("no catalogue entry ") + name);
    }

    QList<QIcon> FImages;
    std::vector<std::unique_ptr<TAction>> FOwned;
    TServiceActions FActions;
};

} // namespace gridtest
