#include "MemTable.h"

#include "DataSource.h"
#include "MemIndex.h"
#include "MemRowStore.h"
#include "MemTableFile.h"

#include <QFile>
#include <QSaveFile>
#include <algorithm>
#include <cmath>

namespace {

// Index names compare without regard to case.
bool SameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// Whether a new value stores as the old one did: of the same kind and equal
// (case and the sign of a zero included), so every key made from it is too.
bool SameStoredValue(const Variant& old, const Variant& value)
{
    if (old.VarType() != value.VarType() || !(old == value))
        return false;
    const TVarType type = old.VarType();
    return (type != varDouble && type != varDate) || std::signbit(old.AsDouble()) == std::signbit(value.AsDouble());
}

} // namespace

// Follows the master data set for a detail table.
class TCustomMemTable::TMasterLink : public TDataLink
{
public:
    explicit TMasterLink(TCustomMemTable& detail) : FDetail(detail) {}

protected:
    void ActiveChanged() override { FDetail.MasterChanged(); }
    void DataSetChanged() override { FDetail.MasterChanged(); }
    void DataSetScrolled(int) override { FDetail.MasterChanged(); }
    void RecordChanged(TField* field) override
    {
        // Only a change of a master field moves the detail.
        if (!field || !DataSet())
            return;
        const auto fields = DataSet()->GetFieldList(FDetail.MasterFields());
        if (std::find(fields.begin(), fields.end(), field) != fields.end())
            FDetail.MasterChanged();
    }

private:
    TCustomMemTable& FDetail;
};

// Hears the changes other tables sharing the store make.
class TCustomMemTable::TStoreListener : public TMemRowStore::TListener
{
public:
    explicit TStoreListener(TCustomMemTable& table) : FTable(table) {}
    void RowInserted(uint64_t id) override { FTable.OtherInserted(id); }
    void RowUpdated(uint64_t id) override { FTable.OtherUpdated(id); }
    void RowRemoving(uint64_t id) override { FTable.OtherRemoving(id); }
    void RowsCleared() override { FTable.OtherCleared(); }

private:
    TCustomMemTable& FTable;
};

TCustomMemTable::TCustomMemTable(QObject* owner)
    : TDataSet(owner), FStore(std::make_shared<TMemRowStore>()), FListener(std::make_unique<TStoreListener>(*this))
{
}

TCustomMemTable::~TCustomMemTable()
{
    // Attached tables lose their rows with ours.
    const std::vector<TCustomMemTable*> attached = FAttached;
    for (TCustomMemTable* table : attached)
        table->SetAttachedTo(nullptr);
    if (FAttachedTo) {
        auto& list = FAttachedTo->FAttached;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
    FStore->RemoveListener(FListener.get());
}

// ---------------------------------------------------------------- opening

void TCustomMemTable::InternalInitFieldDefs()
{
    if (FAttachedTo) {
        if (!FAttachedTo->Active())
            DatabaseError(QStringLiteral("The table this one is attached to must be open"));
        FieldDefs().Assign(FAttachedTo->FieldDefs());
        return;
    }
    if (FieldDefs().Count() > 0)
        return;
    FieldDefs().BeginUpdate();
    for (TField* field : Fields())
        if (field->IsStored())
            FieldDefs().Add(field->FieldName(), field->DataType(), field->Size(), field->Required());
    FieldDefs().EndUpdate();
}

void TCustomMemTable::InternalOpen()
{
    FStoreColumn.clear();
    if (FAttachedTo) {
        // The master's rows, by the master's columns.
        FStore = FAttachedTo->FStore;
        for (TField* field : Fields()) {
            const TField* same = field->IsStored() ? FAttachedTo->FindField(field->FieldName()) : nullptr;
            FStoreColumn.push_back(same ? FAttachedTo->StoreColumn(*same) : -1);
        }
    } else {
        std::vector<TMemRowStore::TColumn> columns;
        for (TField* field : Fields()) {
            FStoreColumn.push_back(field->IsStored() ? static_cast<int>(columns.size()) : -1);
            if (field->IsStored())
                columns.push_back({field->DataType(), field->Size()});
        }
        FStore->SetColumns(columns);
        FStore->ResetModified();
    }
    FStore->AddListener(FListener.get());
    FView.clear();
    FShownId = NoRecord;
    BuildIndexes();
    FCurrentIndex = nullptr;
    if (!FIndexName.isEmpty())
        if (TIndexEntry* entry = FindIndexEntry(FIndexName))
            FCurrentIndex = entry->Index.get();
}

void TCustomMemTable::InternalClose()
{
    FCurrentIndex = nullptr;
    for (TIndexEntry& entry : FIndexes)
        entry.Index.reset();
    FStore->RemoveListener(FListener.get());
    if (FAttachedTo) {
        FStore = std::make_shared<TMemRowStore>();
    } else {
        for (TCustomMemTable* table : std::vector<TCustomMemTable*>(FAttached))
            table->Close();
        FStore->Clear();
    }
    FView.clear();
    FShownId = NoRecord;
    FRangeActive = false;
}

std::vector<Variant> TCustomMemTable::StoreValues(const std::vector<Variant>& values, std::vector<Variant> base) const
{
    // An attached table may have fewer fields, in another order, than the
    // store has columns: each value goes to its field's column.
    for (size_t i = 0; i < values.size() && i < FStoreColumn.size(); ++i)
        if (FStoreColumn[i] >= 0)
            base[static_cast<size_t>(FStoreColumn[i])] = values[i];
    return base;
}

bool TCustomMemTable::CanLoadIntoStore() const
{
    return !FEnableIndexes && !FAttachedTo && FStore->ListenerCount() == 1 && !Filtered() && SearchFilter().isEmpty();
}

// ---------------------------------------------------------------- the view

int TCustomMemTable::InternalViewCount() const { return static_cast<int>(FView.size()); }

TRecordId TCustomMemTable::InternalViewRow(int position) const
{
    const int count = static_cast<int>(FView.size());
    if (position < 0 || position >= count)
        return NoRecord;
    // A walk through the view asks for the rows it will read next, as far
    // ahead as a row takes to arrive.
    const int step = position >= FLastViewPosition ? 1 : -1;
    FLastViewPosition = position;
    const int ahead = position + step * 16;
    FStore->PrefetchRow(ahead >= 0 && ahead < count ? FView[static_cast<size_t>(ahead)] : nullptr);
    // The row is read next (InternalReadRecord): its address is kept.
    FShownRow = FView[static_cast<size_t>(position)];
    FShownId = TMemRowStore::IdOf(FShownRow);
    return FShownId;
}

TMemRowStore::TRowHandle TCustomMemTable::HandleOf(TRecordId row) const
{
    return row == FShownId && row != NoRecord ? FShownRow : FStore->Handle(row);
}

int TCustomMemTable::InternalViewPosition(TRecordId row) const
{
    // A scan of a contiguous vector: cheap next to keeping a map per row.
    if (!FStore->Exists(row))
        return -1;
    const auto it = std::find(FView.begin(), FView.end(), HandleOf(row));
    return it == FView.end() ? -1 : static_cast<int>(it - FView.begin());
}

int TCustomMemTable::NumberColumn(const TField& field) const
{
    return field.DataSet() == this && IsNumericType(field.DataType()) ? StoreColumn(field) : -1;
}

double TCustomMemTable::StoredNumber(TMemRowStore::TRowHandle row, int column) const
{
    const TValueView view = FStore->View(row, column);
    switch (view.Kind) {
    case TValueView::vkInt: return static_cast<double>(view.Int);
    case TValueView::vkFloat: return view.Float;
    case TValueView::vkNone: return FStore->Get(row, column).AsDouble(); // a number held otherwise (currency)
    default: return 0;
    }
}

bool TCustomMemTable::InternalRowExists(TRecordId row) const { return FStore->Exists(row); }

void TCustomMemTable::InternalReadRecord(TRecordId row, std::vector<Variant>& record) const
{
    // One lookup of the row for all its fields.
    const TMemRowStore::TRowHandle handle = HandleOf(row);
    for (size_t i = 0; i < FStoreColumn.size() && i < record.size(); ++i)
        if (FStoreColumn[i] >= 0)
            record[i] = FStore->Get(handle, FStoreColumn[i]);
        else if (Fields()[static_cast<int>(i)]->IsStored())
            record[i] = Variant::Null(); // a field the shared rows lack
}

TValueView TCustomMemTable::InternalViewValue(TRecordId row, const TField& field) const
{
    // Null for a field the shared rows lack, and for a row that another
    // table sharing them removed while this one was not browsing.
    const int column = StoreColumn(field);
    if (column < 0 || (row != FShownId && !FStore->Exists(row))) {
        TValueView null;
        null.Kind = TValueView::vkNull;
        return null;
    }
    return FStore->View(HandleOf(row), column);
}

Variant TCustomMemTable::InternalGetValue(TRecordId row, const TField& field) const
{
    const int column = StoreColumn(field);
    return column < 0 ? Variant::Null() : FStore->Get(row, column);
}

bool TCustomMemTable::InRange(TMemRowStore::TRowHandle row) const
{
    if (!FRangeActive || !FCurrentIndex)
        return true;
    return FCurrentIndex->CompareKey(row, FCurrentIndex->MakeKeys(FRangeStart)) >= 0
           && FCurrentIndex->CompareKey(row, FCurrentIndex->MakeKeys(FRangeEnd)) <= 0;
}

void TCustomMemTable::RebuildView()
{
    FView.clear();
    FShownId = NoRecord;
    if (!ReadMasterKeys())
        return;
    if (FCurrentIndex) {
        size_t first = 0;
        size_t last = FCurrentIndex->Count();
        if (FRangeActive) {
            first = FCurrentIndex->LowerBound(FCurrentIndex->MakeKeys(FRangeStart));
            last = std::max(first, FCurrentIndex->UpperBound(FCurrentIndex->MakeKeys(FRangeEnd)));
        }
        FView.reserve(last - first);
        const bool everyRow = FMasterFilter == TMasterFilter::None && !Filtered() && SearchFilter().isEmpty();
        for (size_t i = first; i < last; ++i) {
            const TMemRowStore::TRowHandle row = FCurrentIndex->Row(i);
            if (everyRow || (PassesMaster(row) && RecordPassesFilter(TMemRowStore::IdOf(row))))
                FView.push_back(row);
        }
    } else {
        FView.reserve(static_cast<size_t>(FStore->Count()));
        FStore->ForEachId([this](TRecordId row) {
            const TMemRowStore::TRowHandle handle = FStore->Handle(row);
            if (PassesMaster(handle) && RecordPassesFilter(row))
                FView.push_back(handle);
        });
    }
}

void TCustomMemTable::InternalRefreshView() { RebuildView(); }

int TCustomMemTable::SortedViewPosition(TMemRowStore::TRowHandle row) const
{
    const auto at = std::upper_bound(FView.begin(), FView.end(), row, [this](auto handle, auto other) {
        return FCurrentIndex->Compare(handle, other) < 0;
    });
    return static_cast<int>(at - FView.begin());
}

void TCustomMemTable::PlaceInView(TRecordId row)
{
    // With an index the row goes where its key sorts; rows outside the range
    // or left out by the index are not shown.
    const TMemRowStore::TRowHandle handle = FStore->Handle(row);
    if (!FCurrentIndex->Admits(handle) || !InRange(handle))
        return;
    FView.insert(FView.begin() + SortedViewPosition(handle), handle);
}

// ---------------------------------------------------------------- writing

TRecordId TCustomMemTable::InternalInsertRow(const std::vector<Variant>& values, int position)
{
    const std::vector<Variant> stored = StoreValues(
        values, std::vector<Variant>(static_cast<size_t>(FStore->ColumnCount()), Variant::Null()));
    // The new row goes before the row now at that view position, also in
    // the natural order.
    int natural = -1;
    if (const TRecordId before = InternalViewRow(position); before != NoRecord && !FCurrentIndex)
        natural = FStore->PositionOf(before);
    const TRecordId row = FStore->Insert(stored, natural);
    if (FEnableIndexes) {
        std::vector<TMemIndex*> added;
        try {
            for (TIndexEntry& entry : FIndexes)
                if (entry.Index) {
                    entry.Index->Add(FStore->Handle(row));
                    added.push_back(entry.Index.get());
                }
        } catch (...) {
            for (TMemIndex* index : added)
                index->Remove(FStore->Handle(row));
            FStore->Remove(row);
            throw;
        }
    }
    if (FCurrentIndex && FEnableIndexes)
        PlaceInView(row);
    else if (position < 0 || position >= InternalViewCount())
        FView.push_back(FStore->Handle(row));
    else
        FView.insert(FView.begin() + position, FStore->Handle(row));
    FStore->Notify(FListener.get(), [row](TMemRowStore::TListener& other) { other.RowInserted(row); });
    return row;
}

void TCustomMemTable::InternalUpdateRow(TRecordId row, const std::vector<Variant>& values)
{
    const TMemRowStore::TRowHandle handle = FStore->Handle(row);
    std::vector<Variant> previous;
    for (int c = 0; c < FStore->ColumnCount(); ++c)
        previous.push_back(FStore->Get(handle, c));
    const std::vector<Variant> stored = StoreValues(values, previous);
    if (!FEnableIndexes) {
        FStore->Update(row, stored);
        FStore->Notify(FListener.get(), [row](TMemRowStore::TListener& other) { other.RowUpdated(row); });
        return;
    }
    // Only the indexes whose key the new values change take the row out and
    // in again: the others (usually all of them) keep it where it is.
    std::vector<TMemIndex*> moving;
    for (const TIndexEntry& entry : FIndexes)
        if (entry.Index && !KeepsPlace(entry, previous, stored))
            moving.push_back(entry.Index.get());
    for (TMemIndex* index : moving)
        index->Remove(handle);
    const auto reindex = [&] {
        for (TMemIndex* index : moving)
            index->Add(handle);
    };
    try {
        FStore->Update(row, stored);
        reindex();
    } catch (...) {
        // A key violation: put the old values and index entries back.
        for (TMemIndex* index : moving)
            index->Remove(handle);
        FStore->Update(row, previous);
        reindex();
        throw;
    }
    if (FCurrentIndex && std::find(moving.begin(), moving.end(), FCurrentIndex) != moving.end()) {
        const int position = InternalViewPosition(row);
        if (position >= 0)
            FView.erase(FView.begin() + position);
        PlaceInView(row);
    }
    FStore->Notify(FListener.get(), [row](TMemRowStore::TListener& other) { other.RowUpdated(row); });
}

bool TCustomMemTable::KeepsPlace(const TIndexEntry& entry, const std::vector<Variant>& previous,
                                 const std::vector<Variant>& stored)
{
    if (entry.Filter)
        return false; // it may look at any field
    for (int part = 0; part < entry.Index->PartCount(); ++part) {
        const auto column = static_cast<size_t>(entry.Index->Column(part));
        if (!SameStoredValue(previous[column], stored[column]))
            return false;
    }
    return true;
}

void TCustomMemTable::RemoveFromIndexesAndView(TRecordId row)
{
    const TMemRowStore::TRowHandle handle = FStore->Handle(row);
    for (TIndexEntry& entry : FIndexes)
        if (entry.Index)
            entry.Index->Remove(handle);
    const int position = InternalViewPosition(row);
    if (position >= 0)
        FView.erase(FView.begin() + position);
    if (row == FShownId)
        FShownId = NoRecord;
}

void TCustomMemTable::InternalDeleteRow(TRecordId row)
{
    FStore->Notify(FListener.get(), [row](TMemRowStore::TListener& other) { other.RowRemoving(row); });
    RemoveFromIndexesAndView(row);
    FStore->Remove(row);
}

void TCustomMemTable::EmptyTable()
{
    CheckActive();
    if (State() == dsEdit || State() == dsInsert)
        Cancel();
    FStore->Clear();
    for (TIndexEntry& entry : FIndexes)
        if (entry.Index)
            entry.Index->Rebuild();
    FView.clear();
    FShownId = NoRecord;
    Resync();
    FStore->Notify(FListener.get(), [](TMemRowStore::TListener& other) { other.RowsCleared(); });
}

bool TCustomMemTable::DataModified() const { return FStore->Modified(); }

void TCustomMemTable::ResetModified() { FStore->ResetModified(); }

int TCustomMemTable::StoredRowCount() const { return FStore->Count(); }

// ---------------------------------------------------------------- indexes

TCustomMemTable::TIndexEntry* TCustomMemTable::FindIndexEntry(const QString& name)
{
    for (TIndexEntry& entry : FIndexes)
        if (SameName(entry.Name, name))
            return &entry;
    return nullptr;
}

void TCustomMemTable::BuildIndex(TIndexEntry& entry, const std::vector<uint32_t>* savedOrder)
{
    const TIndexDef& def = IndexDefs().IndexByName(entry.Name);
    std::vector<int> columns;
    for (TField* field : GetFieldList(def.Fields())) {
        const int column = StoreColumn(*field);
        if (column < 0)
            DatabaseError(QStringLiteral("Field '%1' cannot be used in an index").arg(field->FieldName()));
        columns.push_back(column);
    }
    if (columns.empty())
        DatabaseError(QStringLiteral("Index '%1' has no fields").arg(def.Name()));
    TMemIndex::TRowFilter filter;
    if (entry.Filter)
        filter = [this, f = entry.Filter](uint64_t id) { return f(*this, id); };
    auto index = std::make_unique<TMemIndex>(*FStore, def.Name(), def.Fields(), def.Options(), std::move(columns),
                                             std::move(filter));
    if (savedOrder && !entry.Filter)
        index->Restore(*savedOrder);
    else
        index->Rebuild();
    entry.Index = std::move(index);
}

void TCustomMemTable::BuildIndexes()
{
    // Definitions added to IndexDefs directly get an entry without a filter.
    for (int i = 0; i < IndexDefs().Count(); ++i)
        if (!FindIndexEntry(IndexDefs()[i].Name()))
            FIndexes.push_back({IndexDefs()[i].Name(), {}, nullptr});
    for (TIndexEntry& entry : FIndexes)
        BuildIndex(entry);
}

void TCustomMemTable::AddIndex(const QString& name, const QString& fields, TIndexOptions options,
                               TIndexRecordFilter filter)
{
    if (IndexDefs().Find(name))
        DatabaseError(QStringLiteral("Index '%1' already exists").arg(name));
    IndexDefs().Add(name, fields, options);
    FIndexes.push_back({name, std::move(filter), nullptr});
    if (!Active())
        return;
    try {
        BuildIndex(FIndexes.back());
    } catch (...) {
        FIndexes.pop_back();
        IndexDefs().Delete(IndexDefs().IndexOf(name));
        throw;
    }
}

void TCustomMemTable::DeleteIndexes()
{
    if (Active() && FCurrentIndex)
        SwitchIndex(QString());
    FIndexes.clear();
    IndexDefs().Clear();
    FIndexName.clear();
    FSortIndex.clear();
}

void TCustomMemTable::SwitchIndex(const QString& name)
{
    TMemIndex* index = nullptr;
    if (!name.isEmpty()) {
        IndexDefs().IndexByName(name); // an unknown name raises, naming it
        if (Active()) {
            TIndexEntry* entry = FindIndexEntry(name);
            if (!entry->Index || !FEnableIndexes)
                BuildIndex(*entry);
            index = entry->Index.get();
        }
    }
    FIndexName = name;
    if (!Active())
        return;
    CheckBrowseMode();
    FCurrentIndex = index;
    FRangeActive = false;
    RebuildView();
    Resync();
}

void TCustomMemTable::SetIndexName(const QString& name)
{
    if (name.compare(FIndexName, Qt::CaseInsensitive) == 0 && (!Active() || !name.isEmpty() == !!FCurrentIndex))
        return;
    SwitchIndex(name);
}

QString TCustomMemTable::IndexFieldNames() const
{
    if (FIndexName.isEmpty())
        return {};
    const TIndexDef* def = IndexDefs().Find(FIndexName);
    return def ? def->Fields() : QString();
}

void TCustomMemTable::SetIndexFieldNames(const QString& fields)
{
    if (SplitFieldList(fields).isEmpty()) {
        TCustomMemTable::SetIndexName(QString());
        return;
    }
    TIndexDef* def = IndexDefs().FindByFields(fields);
    const bool made = !def;
    if (made) {
        AddIndex(fields, fields);
        def = IndexDefs().Find(fields);
    }
    const QString name = def->Name();
    TCustomMemTable::SetIndexName(name);
    KeepSortIndex(made || SameName(name, FSortIndex) ? name : QString());
}

void TCustomMemTable::KeepSortIndex(const QString& name)
{
    const QString previous = std::exchange(FSortIndex, name);
    if (!previous.isEmpty() && !SameName(previous, name) && !SameName(previous, FIndexName))
        DropIndex(previous);
}

void TCustomMemTable::DropIndex(const QString& name)
{
    const int def = IndexDefs().IndexOf(name);
    if (def >= 0)
        IndexDefs().Delete(def);
    std::erase_if(FIndexes, [&](const TIndexEntry& entry) { return SameName(entry.Name, name); });
}

std::vector<TField*> TCustomMemTable::IndexFields() const
{
    const QString fields = TCustomMemTable::IndexFieldNames();
    return fields.isEmpty() ? std::vector<TField*>{} : GetFieldList(fields);
}

void TCustomMemTable::SetEnableIndexes(bool value)
{
    if (value == FEnableIndexes)
        return;
    if (value && Active()) {
        // Rebuilt once, after a bulk load; a duplicate key leaves them off.
        for (TIndexEntry& entry : FIndexes)
            BuildIndex(entry);
    }
    FEnableIndexes = value;
    if (!value || !Active())
        return;
    if (FIndexName.isEmpty())
        return;
    FCurrentIndex = FindIndexEntry(FIndexName)->Index.get();
    RebuildView();
    Resync();
}

TMemIndex& TCustomMemTable::RequireIndex() const
{
    if (!FCurrentIndex)
        DatabaseError(QStringLiteral("No index currently active"));
    return *FCurrentIndex;
}

// ---------------------------------------------------------------- key search

int TCustomMemTable::SearchView(const std::vector<Variant>& keyValues, bool& found) const
{
    const TMemIndex& index = RequireIndex();
    const TMemIndex::TKeys keys = index.MakeKeys(keyValues);
    // When the view is the whole index, its positions are the index's.
    if (FView.size() == index.Count() && !FRangeActive && FMasterFilter == TMasterFilter::None && !Filtered()
        && SearchFilter().isEmpty()) {
        const size_t at = index.LowerBound(keys);
        found = at < index.Count() && index.CompareKey(index.Row(at), keys) == 0;
        return static_cast<int>(at);
    }
    // The view is a sorted part of the index: search it directly.
    const auto at = std::lower_bound(FView.begin(), FView.end(), keys,
                                     [&](auto row, const auto& key) { return index.CompareKey(row, key) < 0; });
    found = at != FView.end() && index.CompareKey(*at, keys) == 0;
    return static_cast<int>(at - FView.begin());
}

int TCustomMemTable::IndexedLocate(const std::vector<TField*>& fields, const std::vector<Variant>& values,
                                   TLocateOptions options) const
{
    if (!FCurrentIndex || !FEnableIndexes || (options & loPartialKey) || fields.size() != values.size()
        || fields.size() > static_cast<size_t>(FCurrentIndex->PartCount())
        || bool(options & loCaseInsensitive) != bool(FCurrentIndex->Options() & ixCaseInsensitive))
        return NotIndexed;
    // Text alone: other values would be converted to the column's kind,
    // where the scan compares them as they are.
    for (size_t i = 0; i < fields.size(); ++i) {
        const int column = StoreColumn(*fields[i]);
        if (column < 0 || column != FCurrentIndex->Column(static_cast<int>(i)) || !FStore->IsText(column)
            || !(values[i].IsEmptyOrNull() || values[i].IsString()))
            return NotIndexed;
    }
    bool found = false;
    const int position = SearchView(values, found);
    return found ? position : -1;
}

int TCustomMemTable::InternalLocate(const std::vector<TField*>& fields, const std::vector<Variant>& values,
                                    TLocateOptions options)
{
    const int position = IndexedLocate(fields, values, options);
    return position != NotIndexed ? position : TDataSet::InternalLocate(fields, values, options);
}

TRecordId TCustomMemTable::FindIndexedRow(const QString& indexName, const std::vector<Variant>& keyValues)
{
    CheckActive();
    IndexDefs().IndexByName(indexName); // an unknown name raises, naming it
    TIndexEntry& entry = *FindIndexEntry(indexName);
    if (!entry.Index || !FEnableIndexes)
        BuildIndex(entry);
    const TMemIndex& index = *entry.Index;
    const TMemIndex::TKeys keys = index.MakeKeys(keyValues);
    const size_t at = index.LowerBound(keys);
    if (at >= index.Count() || index.CompareKey(index.Row(at), keys) != 0)
        return NoRecord;
    return TMemRowStore::IdOf(index.Row(at));
}

std::vector<TRecordId> TCustomMemTable::IndexedRows(const QString& indexName, const std::vector<Variant>& keyValues,
                                                    size_t limit)
{
    CheckActive();
    IndexDefs().IndexByName(indexName);
    TIndexEntry& entry = *FindIndexEntry(indexName);
    if (!entry.Index || !FEnableIndexes)
        BuildIndex(entry);
    const TMemIndex& index = *entry.Index;
    const TMemIndex::TKeys keys = index.MakeKeys(keyValues);
    std::vector<TRecordId> rows;
    for (size_t at = index.LowerBound(keys); at < index.Count() && index.CompareKey(index.Row(at), keys) == 0; ++at) {
        rows.push_back(TMemRowStore::IdOf(index.Row(at)));
        if (rows.size() == limit)
            break;
    }
    return rows;
}

bool TCustomMemTable::FindKey(const std::vector<Variant>& keyValues)
{
    CheckBrowseMode();
    bool found = false;
    const int position = SearchView(keyValues, found);
    if (found)
        SetRecNo(position + 1);
    return found;
}

void TCustomMemTable::FindNearest(const std::vector<Variant>& keyValues)
{
    CheckBrowseMode();
    bool found = false;
    const int position = SearchView(keyValues, found);
    if (position >= InternalViewCount()) {
        Last();
        return;
    }
    if (position + 1 == RecNo()) {
        Resync();
        return;
    }
    SetRecNo(position + 1);
}

void TCustomMemTable::EditKeyOf(TKeyKind kind, bool empty)
{
    CheckBrowseMode();
    FKeyBuffers[FKeyKind] = KeyBuffer();
    FKeyKind = kind;
    BeginKeyEdit(empty ? std::vector<Variant>{} : FKeyBuffers[kind]);
}

std::vector<Variant> TCustomMemTable::KeyBufferOf(TKeyKind kind) const
{
    return kind == FKeyKind ? KeyBuffer() : FKeyBuffers[kind];
}

void TCustomMemTable::SetKey() { EditKeyOf(kkSearch, true); }

void TCustomMemTable::EditKey() { EditKeyOf(kkSearch, false); }

std::vector<Variant> TCustomMemTable::KeyValuesFromBuffer(TKeyKind kind)
{
    RequireIndex();
    const std::vector<Variant> buffer = KeyBufferOf(kind);
    std::vector<Variant> values;
    // The leading assigned index fields make the key.
    for (TField* field : IndexFields()) {
        const int index = field->Index();
        if (index < 0 || static_cast<size_t>(index) >= buffer.size() || buffer[static_cast<size_t>(index)].IsEmpty())
            break;
        values.push_back(buffer[static_cast<size_t>(index)]);
    }
    if (State() == dsSetKey)
        Cancel();
    return values;
}

bool TCustomMemTable::GotoKey() { return TCustomMemTable::FindKey(KeyValuesFromBuffer(kkSearch)); }

void TCustomMemTable::GotoNearest() { TCustomMemTable::FindNearest(KeyValuesFromBuffer(kkSearch)); }

// ---------------------------------------------------------------- ranges

void TCustomMemTable::SetRange(const std::vector<Variant>& startValues, const std::vector<Variant>& endValues)
{
    RequireIndex();
    CheckBrowseMode();
    FRangeStart = startValues;
    FRangeEnd = endValues;
    FRangeActive = true;
    RebuildView();
    First();
    // Other rows are shown, not only another position: the controls read
    // them again (as a cancelled range has them do).
    DataEvent(deDataSetChange);
}

void TCustomMemTable::SetRangeStart() { EditKeyOf(kkRangeStart, true); }

void TCustomMemTable::SetRangeEnd() { EditKeyOf(kkRangeEnd, true); }

void TCustomMemTable::EditRangeStart() { EditKeyOf(kkRangeStart, false); }

void TCustomMemTable::EditRangeEnd() { EditKeyOf(kkRangeEnd, false); }

void TCustomMemTable::ApplyRange()
{
    const std::vector<Variant> start = KeyValuesFromBuffer(kkRangeStart);
    TCustomMemTable::SetRange(start, KeyValuesFromBuffer(kkRangeEnd));
}

void TCustomMemTable::CancelRange()
{
    if (!FRangeActive)
        return;
    CheckBrowseMode();
    FRangeActive = false;
    FRangeStart.clear();
    FRangeEnd.clear();
    RebuildView();
    Resync();
}

// ---------------------------------------------------------------- files

void TCustomMemTable::SaveToFile(const QString& fileName, const QString& tag) const
{
    CheckActive();
    TMemTableImage image;
    image.Tag = tag;
    std::vector<int> columnOfDef;
    for (int i = 0; i < FieldDefs().Count(); ++i) {
        const TFieldDef& def = FieldDefs()[i];
        image.FieldDefs.push_back({def.Name(), def.DataType(), def.Size(), def.Precision(), def.Attributes(),
                                   def.InternalCalcField(), def.FieldNo()});
        const TField* field = FindField(def.Name());
        columnOfDef.push_back(field ? StoreColumn(*field) : -1);
    }
    // The index made for a field-list order stays out: it lasts only as long
    // as that order (a table loading the file would keep it for good).
    const auto kept = [this](const QString& name) { return !SameName(name, FSortIndex); };
    for (int i = 0; i < IndexDefs().Count(); ++i)
        if (kept(IndexDefs()[i].Name()))
            image.IndexDefs.push_back({IndexDefs()[i].Name(), IndexDefs()[i].Fields(), IndexDefs()[i].Options()});
    // Each index's order by row number, so loading need not sort.
    std::vector<uint32_t> ordinal(static_cast<size_t>(FStore->EndId() - FStore->FirstId()));
    uint32_t number = 0;
    FStore->ForEachId([&](uint64_t id) { ordinal[static_cast<size_t>(id - FStore->FirstId())] = number++; });
    if (FEnableIndexes)
        for (const TIndexEntry& entry : FIndexes) {
            if (!entry.Index || entry.Filter || !kept(entry.Name))
                continue;
            image.IndexOrders.push_back({entry.Name, entry.Index->RowNumbers(ordinal, FStore->FirstId())});
        }

    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        DatabaseError(QStringLiteral("Cannot write table file '%1': %2").arg(fileName, file.errorString()));
    if (!WriteMemTableImage(file, image, *FStore, columnOfDef) || !file.commit())
        DatabaseError(QStringLiteral("Cannot write table file '%1': %2").arg(fileName, file.errorString()));
}

void TCustomMemTable::LoadFromFile(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        DatabaseError(QStringLiteral("Cannot open table file '%1': %2").arg(fileName, file.errorString()));
    // Read through a mapping where the system gives one: no copy of the file
    // in memory. Files are replaced whole (see SaveToFile), never cut short
    // under a reader.
    const qint64 size = file.size();
    uchar* mapped = size > 0 ? file.map(0, size) : nullptr;
    const QByteArray bytes = mapped ? QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), size)
                                    : file.readAll();
    const TMemTableImage image = DecodeMemTableImage(bytes, fileName);
    if (mapped)
        file.unmap(mapped);
    // Persistent fields must find their columns, with the same types.
    if (!DefaultFields())
        for (TField* field : Fields()) {
            if (!field->IsStored())
                continue;
            const auto def = std::find_if(image.FieldDefs.begin(), image.FieldDefs.end(), [&](const auto& d) {
                return d.Name.compare(field->FieldName(), Qt::CaseInsensitive) == 0;
            });
            if (def == image.FieldDefs.end() || def->Type != field->DataType())
                DatabaseError(
                    QStringLiteral("Table file '%1' does not match field '%2'").arg(fileName, field->FieldName()));
        }
    LoadImage(image);
}

void TCustomMemTable::CopyRows(const TMemRowStore& rows, const TMemTableImage& image)
{
    // The file's stored columns, matched to this table's by field name.
    std::vector<int> target;
    for (const auto& def : image.FieldDefs) {
        if (def.Type == ftUnknown)
            continue;
        const TField* field = FindField(def.Name);
        target.push_back(field ? StoreColumn(*field) : -1);
    }
    std::vector<Variant> stored(static_cast<size_t>(FStore->ColumnCount()));
    rows.ForEachId([&](uint64_t id) {
        std::fill(stored.begin(), stored.end(), Variant::Null());
        for (size_t c = 0; c < target.size(); ++c)
            if (target[c] >= 0)
                stored[static_cast<size_t>(target[c])] = rows.Get(id, static_cast<int>(c));
        FStore->Insert(stored);
    });
}

void TCustomMemTable::LoadImage(const TMemTableImage& image)
{
    if (Active())
        CheckBrowseMode();
    DisableControls();
    QStringList addedIndexes;
    try {
        Close();
        FieldDefs().BeginUpdate();
        FieldDefs().Clear();
        for (const auto& d : image.FieldDefs) {
            TFieldDef& def = FieldDefs().Add(d.Name, d.Type, d.Size);
            def.SetPrecision(d.Precision);
            def.SetAttributes(d.Attributes);
            def.SetInternalCalcField(d.InternalCalc);
            def.SetFieldNo(d.FieldNo);
        }
        FieldDefs().EndUpdate();
        for (const auto& d : image.IndexDefs)
            if (!IndexDefs().Find(d.Name)) {
                IndexDefs().Add(d.Name, d.Fields, d.Options);
                FIndexes.push_back({d.Name, {}, nullptr});
                addedIndexes << d.Name;
            }
        Open();
        if (DefaultFields()) {
            // The fields are the file's definitions: its rows are taken as
            // read. The indexes of the store they replace go with it.
            FCurrentIndex = nullptr;
            for (TIndexEntry& entry : FIndexes)
                entry.Index.reset();
            FStore->RemoveListener(FListener.get());
            FStore = image.Rows;
            FStore->AddListener(FListener.get());
        } else {
            CopyRows(*image.Rows, image);
        }
        for (TIndexEntry& entry : FIndexes) {
            const auto saved = std::find_if(image.IndexOrders.begin(), image.IndexOrders.end(), [&](const auto& o) {
                return o.Name.compare(entry.Name, Qt::CaseInsensitive) == 0;
            });
            BuildIndex(entry, saved != image.IndexOrders.end() ? &saved->Rows : nullptr);
        }
        if (!FIndexName.isEmpty())
            FCurrentIndex = FindIndexEntry(FIndexName)->Index.get();
        FStore->ResetModified();
        RebuildView();
        First();
    } catch (...) {
        // Never half loaded: a file that could not be taken whole leaves the
        // table closed.
        try {
            Close();
        } catch (...) {
        }
        // Nor does it leave its index definitions behind, which might not
        // even fit the next file.
        for (const QString& name : addedIndexes) {
            if (const int at = IndexDefs().IndexOf(name); at >= 0)
                IndexDefs().Delete(at);
            std::erase_if(FIndexes, [&](const TIndexEntry& entry) { return entry.Name == name; });
        }
        EnableControls();
        throw;
    }
    EnableControls();
}

// ---------------------------------------------------------------- master-detail

TDataSource* TCustomMemTable::MasterSource() const { return FMasterLink ? FMasterLink->DataSource() : nullptr; }

void TCustomMemTable::SetMasterSource(TDataSource* source)
{
    if (source && source->DataSet() == this)
        DatabaseError(QStringLiteral("Circular datalinks are not allowed"));
    if (!source) {
        FMasterLink.reset();
    } else {
        if (!FMasterLink)
            FMasterLink = std::make_unique<TMasterLink>(*this);
        FMasterLink->SetDataSource(source);
    }
    MasterChanged();
}

void TCustomMemTable::SetMasterFields(const QString& fields)
{
    FMasterFields = fields;
    MasterChanged();
}

void TCustomMemTable::SetDetailFields(const QString& fields)
{
    FDetailFields = fields;
    MasterChanged();
}

TDataSet* TCustomMemTable::MasterDataSetOf() const { return FMasterLink ? FMasterLink->DataSet() : nullptr; }

bool TCustomMemTable::ReadMasterKeys()
{
    FMasterFilter = TMasterFilter::None;
    TDataSet* master = MasterDataSetOf();
    if (!master || !master->Active() || SplitFieldList(FMasterFields).isEmpty())
        return true;
    const std::vector<TField*> masterFields = master->GetFieldList(FMasterFields);
    const std::vector<TField*> detailFields = GetFieldList(FDetailFields.trimmed().isEmpty() ? FMasterFields
                                                                                             : FDetailFields);
    if (detailFields.size() != masterFields.size())
        DatabaseError(QStringLiteral("Master and detail field lists differ in length"));
    if (master->IsEmpty()) {
        FMasterFilter = TMasterFilter::Nothing;
        return false;
    }
    FDetailColumns.clear();
    FMasterKeys.clear();
    for (size_t i = 0; i < detailFields.size(); ++i) {
        const int column = StoreColumn(*detailFields[i]);
        if (column < 0)
            DatabaseError(QStringLiteral("Field '%1' cannot link to a master").arg(detailFields[i]->FieldName()));
        FDetailColumns.push_back(column);
        FMasterKeys.push_back(FStore->MakeKey(column, masterFields[i]->Value()));
    }
    FMasterFilter = TMasterFilter::Keys;
    return true;
}

bool TCustomMemTable::PassesMaster(const std::byte* row) const
{
    if (FMasterFilter != TMasterFilter::Keys)
        return FMasterFilter == TMasterFilter::None;
    for (size_t i = 0; i < FDetailColumns.size(); ++i)
        if (FStore->CompareKey(row, FDetailColumns[i], FMasterKeys[i], false) != 0)
            return false;
    return true;
}

void TCustomMemTable::MasterChanged()
{
    if (!Active())
        return;
    CheckBrowseMode();
    RebuildView();
    First();
}

void TCustomMemTable::DoOnNewRecord()
{
    TDataSet* master = MasterDataSetOf();
    if (master && master->Active() && !master->IsEmpty() && !SplitFieldList(FMasterFields).isEmpty()) {
        const std::vector<TField*> masterFields = master->GetFieldList(FMasterFields);
        const std::vector<TField*> detailFields = GetFieldList(FDetailFields.trimmed().isEmpty() ? FMasterFields
                                                                                                 : FDetailFields);
        for (size_t i = 0; i < detailFields.size() && i < masterFields.size(); ++i)
            detailFields[i]->SetValue(masterFields[i]->Value());
    }
    TDataSet::DoOnNewRecord();
}

// ---------------------------------------------------------------- attachment

void TCustomMemTable::SetAttachedTo(TCustomMemTable* master)
{
    if (master == this || master == FAttachedTo)
        return;
    if (master && master->FAttachedTo)
        DatabaseError(QStringLiteral("Cannot attach to a table that is itself attached"));
    if (master && master->AttachedCount() >= master->FAttachMaxCount)
        DatabaseError(QStringLiteral("Too many tables attached to '%1' (at most %2)")
                          .arg(master->objectName())
                          .arg(master->FAttachMaxCount));
    Close();
    if (FAttachedTo) {
        auto& list = FAttachedTo->FAttached;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
    FAttachedTo = master;
    if (master)
        master->FAttached.push_back(this);
}

namespace {

bool IsBrowsing(const TDataSet& ds) { return ds.State() == dsBrowse; }

} // namespace

void TCustomMemTable::OtherInserted(TRecordId row)
{
    if (!Active())
        return;
    const TMemRowStore::TRowHandle handle = FStore->Handle(row);
    if (FEnableIndexes)
        for (TIndexEntry& entry : FIndexes)
            if (entry.Index) {
                try {
                    entry.Index->Add(handle);
                } catch (const EDatabaseError&) {
                    // Unique here but not where the row was written: the
                    // row stays out of this index.
                }
            }
    if (PassesMaster(handle) && RecordPassesFilter(row)) {
        if (FCurrentIndex && FEnableIndexes)
            PlaceInView(row);
        else if (FStore->LastId() == row)
            FView.push_back(handle);
        else
            RebuildView();
    }
    if (IsBrowsing(*this))
        Resync();
}

void TCustomMemTable::OtherUpdated(TRecordId row)
{
    if (!Active())
        return;
    // Its keys may have changed: placed again as if new.
    RemoveFromIndexesAndView(row);
    OtherInserted(row);
}

void TCustomMemTable::OtherRemoving(TRecordId row)
{
    if (!Active())
        return;
    RemoveFromIndexesAndView(row);
    if (IsBrowsing(*this))
        Resync();
}

void TCustomMemTable::OtherCleared()
{
    if (!Active())
        return;
    for (TIndexEntry& entry : FIndexes)
        if (entry.Index)
            entry.Index->Rebuild();
    RebuildView();
    if (IsBrowsing(*this))
        Resync();
}
