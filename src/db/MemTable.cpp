#include "MemTable.h"

#include "MemRowStore.h"

TCustomMemTable::TCustomMemTable(QObject* owner) : TDataSet(owner), FStore(std::make_unique<TMemRowStore>()) {}

TCustomMemTable::~TCustomMemTable() = default;

void TCustomMemTable::InternalInitFieldDefs()
{
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
    std::vector<TMemRowStore::TColumn> columns;
    for (TField* field : Fields())
        if (field->IsStored())
            columns.push_back({field->DataType(), field->Size()});
    FStore->SetColumns(columns);
    FStore->ResetModified();
    FView.clear();
    InvalidatePositions();
}

void TCustomMemTable::InternalClose()
{
    FStore->Clear();
    FView.clear();
    InvalidatePositions();
}

int TCustomMemTable::InternalViewCount() const
{
    return static_cast<int>(FView.size());
}

TRecordId TCustomMemTable::InternalViewRow(int position) const
{
    return position >= 0 && position < InternalViewCount() ? FView[static_cast<size_t>(position)] : NoRecord;
}

int TCustomMemTable::InternalViewPosition(TRecordId row) const
{
    if (!FPositionsValid) {
        FPositions.clear();
        FPositions.reserve(FView.size());
        for (size_t i = 0; i < FView.size(); ++i)
            FPositions.emplace(FView[i], static_cast<int>(i));
        FPositionsValid = true;
    }
    const auto it = FPositions.find(row);
    return it == FPositions.end() ? -1 : it->second;
}

bool TCustomMemTable::InternalRowExists(TRecordId row) const
{
    return FStore->Exists(row);
}

namespace {

// Stored fields map to store columns in field order.
int ColumnOf(const TFields& fields, const TField& field)
{
    int column = 0;
    for (TField* f : fields) {
        if (f == &field)
            return column;
        if (f->IsStored())
            ++column;
    }
    return -1;
}

std::vector<Variant> StoredValues(const TFields& fields, const std::vector<Variant>& values)
{
    std::vector<Variant> stored;
    for (int i = 0; i < fields.Count(); ++i)
        if (fields[i]->IsStored())
            stored.push_back(values[static_cast<size_t>(i)]);
    return stored;
}

} // namespace

Variant TCustomMemTable::InternalGetValue(TRecordId row, const TField& field) const
{
    const int column = ColumnOf(Fields(), field);
    return column < 0 ? Variant::Null() : FStore->Get(row, column);
}

TRecordId TCustomMemTable::InternalInsertRow(const std::vector<Variant>& values, int position)
{
    // The new row goes before the row now at that view position, also in
    // the natural order.
    int natural = -1;
    if (const TRecordId before = InternalViewRow(position); before != NoRecord) {
        const auto& order = FStore->Order();
        natural = static_cast<int>(std::find(order.begin(), order.end(), before) - order.begin());
    }
    const TRecordId row = FStore->Insert(StoredValues(Fields(), values), natural);
    if (position < 0 || position >= InternalViewCount())
        FView.push_back(row);
    else
        FView.insert(FView.begin() + position, row);
    InvalidatePositions();
    return row;
}

void TCustomMemTable::InternalUpdateRow(TRecordId row, const std::vector<Variant>& values)
{
    FStore->Update(row, StoredValues(Fields(), values));
}

void TCustomMemTable::InternalDeleteRow(TRecordId row)
{
    FStore->Remove(row);
    const int position = InternalViewPosition(row);
    if (position >= 0)
        FView.erase(FView.begin() + position);
    InvalidatePositions();
}

void TCustomMemTable::InternalRefreshView()
{
    RebuildView();
}

void TCustomMemTable::RebuildView()
{
    FView.clear();
    FView.reserve(FStore->Order().size());
    for (TRecordId row : FStore->Order())
        if (RecordPassesFilter(row))
            FView.push_back(row);
    InvalidatePositions();
}

void TCustomMemTable::InvalidatePositions() const
{
    FPositionsValid = false;
}

void TCustomMemTable::EmptyTable()
{
    CheckActive();
    if (State() == dsEdit || State() == dsInsert)
        Cancel();
    FStore->Clear();
    FView.clear();
    InvalidatePositions();
    Resync();
}

bool TCustomMemTable::DataModified() const
{
    return FStore->Modified();
}

void TCustomMemTable::ResetModified()
{
    FStore->ResetModified();
}

int TCustomMemTable::StoredRowCount() const
{
    return FStore->Count();
}
