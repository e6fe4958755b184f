// Browsing a tree one group at a time: the level path, the range that
// confines the view to the current group's children, moving down and up,
// and jumping to a record by identity.
#include "SDS.h"

#include <QScopeGuard>
#include <QSet>

namespace {
[[noreturn]] void RaiseCycle(int32_t id)
{
    throw Exception(QStringLiteral("Ошибка структуры справочника! Группа %1 входит сама в себя").arg(id));
}
} // namespace

void TSDS::ApplyLevelRange()
{
    if (!LevelNavigation())
        return;
    RTL_ASSERT(FLevelInfos.Count() > 0, QStringLiteral("Ошибка структуры справочника!\n\rLastLevel=0"));
    if (!Active() || !FParentIdField)
        return;
    // An index chosen while closed or in another mode gets the prefix first
    // (setting it comes back here).
    if (!BeginsWithLevelPrefix()) {
        SetIndexFieldNames(IndexFieldNames());
        return;
    }
    SetRange({}, {});
    DataEvent(deLayoutChange);
}

bool TSDS::LevelDown()
{
    if (!FOptions.Contains(dsoLevels) || !LevelNavigation() || !Active() || IsEmpty())
        return false;
    RequireIdField();
    if (IsLeaf())
        return false;
    TLevelInfo& level = FLevelInfos.Add();
    level.ID = FIdField->AsInteger();
    level.StoreRecord(this);
    ApplyLevelRange();
    if (!FInternalLoading && OnLevelDown)
        OnLevelDown(this);
    return true;
}

bool TSDS::LevelUp()
{
    if (!FOptions.Contains(dsoLevels) || !LevelNavigation() || FLevelInfos.Count() < 2)
        return false;
    const int32_t id = FLevelInfos.Last()->ID;
    FLevelInfos.RemoveLast();
    ApplyLevelRange();
    if (!FInternalLoading && OnLevelUp)
        OnLevelUp(this);
    return FindID(id);
}

bool TSDS::IsLeaf() const
{
    RTL_ASSERT(FStateField, QStringLiteral("Не вычислен индекс поля STATE"));
    return IsLeafState(FStateField->AsInteger());
}

bool TSDS::HasChildren()
{
    if (!FOptions.Contains(dsoLevels) || !Active() || IsEmpty())
        return false;
    bool result = false;
    RunQuietly([&] {
        if (LevelNavigation()) {
            if (LevelDown()) {
                result = !IsEmpty();
                LevelUp();
            }
            return;
        }
        const int32_t id = CurrentID();
        const TBookmark group = GetBookmark();
        RequireParentIdField();
        result = Locate(SDSNames::ParentId, Variant(id));
        GotoBookmark(group);
    });
    return result;
}

int32_t TSDS::CurrentID()
{
    if (!Active())
        Open();
    RequireIdField();
    return FIdField->AsInteger();
}

bool TSDS::FindID(int32_t id)
{
    RequireIdField();
    const QStringList fields = SplitFieldList(TCustomMemTable::IndexFieldNames());
    if (!fields.isEmpty() && fields.first().compare(SDSNames::Id, Qt::CaseInsensitive) == 0)
        return TCustomMemTable::FindKey({Variant(id)});
    return Locate(SDSNames::Id, Variant(id));
}

void TSDS::GotoID(int32_t id)
{
    if (!Active())
        Open();
    RequireIdField();
    if (!IsEmpty() && FIdField->AsInteger() == id)
        return;
    CancelRange();
    if (!SearchFilter().isEmpty())
        SetSearchFilter(QString());
    if (!FindID(id))
        throw Exception(objectName() + QStringLiteral(": ID ") + QString::number(id) + QStringLiteral(" not founded !"));
    if (!LevelNavigation())
        return;
    // The view shows the record's own level, the path built down to it.
    RequireParentIdField();
    TLevelInfos path;
    if (!BuildLevelPath(*this, FParentIdField->AsInteger(), path))
        throw Exception(objectName() + QStringLiteral(": ID ") + QString::number(id) + QStringLiteral(" not founded !"));
    FLevelInfos = std::move(path);
    ApplyLevelRange();
    FindID(id);
}

bool TSDS::BuildLevelPath(TSDS& source, int32_t parentId, TLevelInfos& path)
{
    path.Clear();
    QSet<int32_t> seen;
    for (int32_t p = parentId; p != 0; p = source.FParentIdField->AsInteger()) {
        if (seen.contains(p))
            RaiseCycle(p);
        seen.insert(p);
        if (!source.FindID(p))
            return false;
        source.RequireParentIdField();
        TLevelInfo& level = path.Insert(0);
        level.ID = p;
        level.StoreRecord(&source);
    }
    path.Insert(0); // the root
    return true;
}

bool TSDS::OpenLevelOf(int32_t id)
{
    if (!FMasterDataset)
        return false;
    TSDS& master = *FMasterDataset;
    RTL_ASSERT(!master.Options().Contains(dsoLevels), QStringLiteral("MasterDataSet must not has levels !"));
    const auto rootOnly = [this] {
        FLevelInfos.Clear();
        FLevelInfos.Add();
        ApplyLevelRange();
    };
    if (id == 0) {
        rootOnly();
        return false;
    }
    if (!master.Active())
        master.Open();
    if (!master.FindID(id))
        return false;
    master.RequireParentIdField();
    TLevelInfos path;
    if (!BuildLevelPath(master, master.FParentIdField->AsInteger(), path)) {
        // An ancestor missing from the rows: the root is shown.
        rootOnly();
        return false;
    }
    FLevelInfos = std::move(path);
    bool found = false;
    DisableControls();
    try {
        Open();
        ApplyLevelRange();
        found = FindID(id);
    } catch (...) {
        EnableControls();
        throw;
    }
    EnableControls();
    return found;
}

void TSDS::SetParentID(int32_t id)
{
    RequireParentIdField();
    // The move is not the user's edit: their edit and post handlers stay out of it.
    TDataSetNotifyEvent held[] = {std::exchange(BeforeEdit, {}), std::exchange(AfterEdit, {}),
                                  std::exchange(BeforePost, {}), std::exchange(AfterPost, {})};
    const auto giveBack = qScopeGuard([&] {
        BeforeEdit = std::move(held[0]);
        AfterEdit = std::move(held[1]);
        BeforePost = std::move(held[2]);
        AfterPost = std::move(held[3]);
    });
    Edit();
    try {
        FParentIdField->SetValue(Variant(id));
        Post();
    } catch (...) {
        Cancel();
        throw;
    }
}

Variant TSDS::NewRecordParentID() const
{
    if (!LevelNavigation() || FLevelInfos.Count() == 0)
        return Variant::Null();
    return Variant(FLevelInfos.Last()->ID);
}
