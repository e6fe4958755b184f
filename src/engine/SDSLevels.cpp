// Browsing a tree one group at a time: the level path, the range that
// confines the view to the current group's children, moving down and up,
// and jumping to a record by identity.
#include "SDS.h"
#include "SDS_p.h"

#include "MemIndex.h"

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
    RTL_ASSERT(d->FLevelInfos.Count() > 0, QStringLiteral("Ошибка структуры справочника!\n\rLastLevel=0"));
    if (!Active() || !d->FParentIdField)
        return;
    // An index chosen while closed or in another mode gets the prefix first
    // (setting it comes back here).
    if (!d->BeginsWithLevelPrefix()) {
        SetIndexFieldNames(IndexFieldNames());
        return;
    }
    SetRange({}, {});
    DataEvent(deLayoutChange);
}

bool TSDS::LevelDown()
{
    if (!d->FOptions.Contains(dsoLevels) || !LevelNavigation() || !Active() || IsEmpty())
        return false;
    d->RequireIdField();
    if (IsLeaf())
        return false;
    TLevelInfo& level = d->FLevelInfos.Add();
    level.ID = d->FIdField->AsInteger();
    level.StoreRecord(this);
    ApplyLevelRange();
    if (!d->FInternalLoading && OnLevelDown)
        OnLevelDown(this);
    return true;
}

bool TSDS::LevelUp()
{
    if (!d->FOptions.Contains(dsoLevels) || !LevelNavigation() || d->FLevelInfos.Count() < 2)
        return false;
    const int32_t id = d->FLevelInfos.Last()->ID;
    d->FLevelInfos.RemoveLast();
    ApplyLevelRange();
    if (!d->FInternalLoading && OnLevelUp)
        OnLevelUp(this);
    return d->FindID(id);
}

bool TSDS::IsLeaf() const
{
    RTL_ASSERT(d->FStateField, QStringLiteral("Не вычислен индекс поля STATE"));
    return IsLeafState(d->FStateField->AsInteger());
}

bool TSDS::HasChildren()
{
    if (!d->FOptions.Contains(dsoLevels) || !Active() || IsEmpty())
        return false;
    bool result = false;
    d->RunQuietly([&] {
        if (LevelNavigation()) {
            if (LevelDown()) {
                result = !IsEmpty();
                LevelUp();
            }
            return;
        }
        const int32_t id = CurrentID();
        const TBookmark group = GetBookmark();
        d->RequireParentIdField();
        result = Locate(SDSNames::ParentId, Variant(id));
        GotoBookmark(group);
    });
    return result;
}

int32_t TSDS::CurrentID()
{
    if (!Active())
        Open();
    d->RequireIdField();
    return d->FIdField->AsInteger();
}

bool TSDSPrivate::FindID(int32_t id)
{
    RequireIdField();
    const QStringList fields = SplitFieldList(q->TCustomMemTable::IndexFieldNames());
    if (!fields.isEmpty() && fields.first().compare(SDSNames::Id, Qt::CaseInsensitive) == 0)
        return q->TCustomMemTable::FindKey({Variant(id)});
    return q->Locate(SDSNames::Id, Variant(id));
}

void TSDS::GotoID(int32_t id)
{
    if (!Active())
        Open();
    d->RequireIdField();
    if (!IsEmpty() && d->FIdField->AsInteger() == id)
        return;
    const auto notFound = [&] {
        throw Exception(objectName() + QStringLiteral(": ID ") + QString::number(id)
                        + QStringLiteral(" not founded !"));
    };
    if (!SearchFilter().isEmpty())
        SetSearchFilter(QString());
    if (!LevelNavigation()) {
        CancelRange();
        if (!d->FindID(id))
            notFound();
        return;
    }
    // The record's own level is shown, the path built down to it from the
    // rows themselves: the cost is the tree's depth and the level's size.
    d->RequireParentIdField();
    const TRecordId row = d->RowOfID(id);
    if (row == NoRecord)
        notFound();
    const auto findGroup = [this](int32_t groupId, TLevelInfo& level, int32_t& parent) {
        const TRecordId group = d->RowOfID(groupId);
        if (group == NoRecord)
            return false;
        std::vector<Variant> values(static_cast<size_t>(FieldCount()), Variant::Null());
        InternalReadRecord(group, values);
        level.DataSet = this;
        level.Values = Variant(std::move(values));
        parent = InternalGetValue(group, *d->FParentIdField).AsInteger();
        return true;
    };
    TLevelInfos path;
    if (!d->BuildLevelPath(InternalGetValue(row, *d->FParentIdField).AsInteger(), path, findGroup))
        notFound();
    d->FLevelInfos = std::move(path);
    ApplyLevelRange();
    const int position = InternalViewPosition(row); // the row is known: no values read
    if (position < 0)
        notFound();
    SetRecNo(position + 1);
}

TRecordId TSDSPrivate::RowOfID(int32_t id)
{
    RequireIdField();
    const TIndexDef* def = q->IndexDefs().FindByFields(SDSNames::Id);
    const QString name = def ? def->Name() : AddFieldListIndex(SDSNames::Id);
    return q->FindIndexedRow(name, {Variant(id)});
}

bool TSDSPrivate::BuildLevelPath(int32_t parentId, TLevelInfos& path, const TGroupFinder& findGroup)
{
    path.Clear();
    QSet<int32_t> seen;
    for (int32_t p = parentId; p != 0;) {
        if (seen.contains(p))
            RaiseCycle(p);
        seen.insert(p);
        TLevelInfo level;
        level.ID = p;
        int32_t parent = 0;
        if (!findGroup(p, level, parent))
            return false;
        path.Insert(0) = std::move(level);
        p = parent;
    }
    path.Insert(0); // the root
    return true;
}

bool TSDS::ToggleLevels()
{
    if (!Options().Contains(dsoLevels))
        return false;
    if (LevelMode() == dslmShowAll) {
        const int32_t id = CurrentID();
        SetLevelMode(dslmDefault);
        OpenLevelOf(id);
    } else {
        SetLevelMode(dslmShowAll);
    }
    return true;
}

bool TSDS::OpenLevelOf(int32_t id)
{
    if (!d->FMasterDataset)
        return false;
    TSDS& master = *d->FMasterDataset;
    RTL_ASSERT(!master.Options().Contains(dsoLevels), QStringLiteral("MasterDataSet must not has levels !"));
    const auto rootOnly = [this] {
        d->FLevelInfos.Clear();
        d->FLevelInfos.Add();
        ApplyLevelRange();
    };
    if (id == 0) {
        rootOnly();
        return false;
    }
    if (!master.Active())
        master.Open();
    if (!master.d->FindID(id))
        return false;
    master.d->RequireParentIdField();
    // The master's cursor walks up through the groups.
    const auto findGroup = [&master](int32_t groupId, TLevelInfo& level, int32_t& parent) {
        if (!master.d->FindID(groupId))
            return false;
        level.StoreRecord(&master);
        parent = master.d->FParentIdField->AsInteger();
        return true;
    };
    TLevelInfos path;
    if (!d->BuildLevelPath(master.d->FParentIdField->AsInteger(), path, findGroup)) {
        // An ancestor missing from the rows: the root is shown.
        rootOnly();
        return false;
    }
    d->FLevelInfos = std::move(path);
    bool found = false;
    DisableControls();
    try {
        Open();
        ApplyLevelRange();
        found = d->FindID(id);
    } catch (...) {
        EnableControls();
        throw;
    }
    EnableControls();
    return found;
}

void TSDS::SetParentID(int32_t id)
{
    d->RequireParentIdField();
    Edit();
    try {
        d->FParentIdField->SetValue(Variant(id));
        PostWithoutEvents(); // a move, not the user's edit: no post handlers, no required check
    } catch (...) {
        Cancel();
        throw;
    }
}

QString TSDSPrivate::ChildIndexName(const QString& parentField)
{
    // The current index when it orders by the parent first: children come
    // in the order the level shows them.
    if (const TMemIndex* current = q->CurrentIndex()) {
        const QStringList fields = SplitFieldList(current->Fields());
        if (!fields.isEmpty() && fields.first().compare(parentField, Qt::CaseInsensitive) == 0)
            return current->Name();
    }
    if (const TIndexDef* def = q->IndexDefs().FindByFields(parentField))
        return def->Name();
    return AddFieldListIndex(parentField);
}

std::vector<TRecordId> TSDS::ChildRows(const QString& parentField, int32_t parentId, size_t limit)
{
    CheckActive();
    FieldByName(parentField); // an unknown name raises, naming it
    const QString index = d->ChildIndexName(parentField);
    const bool filtered = Filtered() || !SearchFilter().isEmpty();
    const size_t readLimit = filtered ? 0 : limit; // the filters decide which rows count
    std::vector<TRecordId> rows;
    if (parentId == 0)
        rows = IndexedRows(index, {Variant::Null()}, readLimit);
    if (readLimit == 0 || rows.size() < readLimit) {
        const std::vector<TRecordId> children = IndexedRows(index, {Variant(parentId)},
                                                            readLimit ? readLimit - rows.size() : 0);
        rows.insert(rows.end(), children.begin(), children.end());
    }
    if (filtered)
        std::erase_if(rows, [this](TRecordId row) { return !RecordPassesFilter(row); });
    if (limit && rows.size() > limit)
        rows.resize(limit);
    return rows;
}

bool TSDS::HasChildRows(const QString& parentField, int32_t parentId, bool withFilters)
{
    CheckActive();
    FieldByName(parentField);
    const QString index = d->ChildIndexName(parentField);
    const bool filtered = withFilters && (Filtered() || !SearchFilter().isEmpty());
    if (filtered)
        return !ChildRows(parentField, parentId).empty();
    return FindIndexedRow(index, {Variant(parentId)}) != NoRecord
           || (parentId == 0 && FindIndexedRow(index, {Variant::Null()}) != NoRecord);
}

TRecordId TSDS::RowOfID(int32_t id)
{
    CheckActive();
    return d->RowOfID(id);
}

Variant TSDS::NewRecordParentID() const
{
    if (!LevelNavigation() || d->FLevelInfos.Count() == 0)
        return Variant::Null();
    return Variant(d->FLevelInfos.Last()->ID);
}
