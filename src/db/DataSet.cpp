#include "DataSet.h"

#include "DataSource.h"

#include <QtEndian>
#include <algorithm>

namespace {

// Every live data set, for finding the details of a master.
QList<TDataSet*>& AllDataSets()
{
    static QList<TDataSet*> dataSets;
    return dataSets;
}

bool IsEditState(TDataSetState state) { return state == dsEdit || state == dsInsert; }

// Restores a value when the scope ends.
template <typename T>
class TRestore
{
public:
    TRestore(T& target, T value) : FTarget(target), FSaved(target) { target = value; }
    ~TRestore() { FTarget = FSaved; }
    TRestore(const TRestore&) = delete;
    TRestore& operator=(const TRestore&) = delete;

private:
    T& FTarget;
    T FSaved;
};

} // namespace

TDataSet::TDataSet(QObject* owner) : QObject(owner)
{
    FFields.FDataSet = this;
    AllDataSets().append(this);
}

TDataSet::~TDataSet()
{
    AllDataSets().removeOne(this);
    // Close without events: derived parts are already gone.
    FState = dsInactive;
    for (TDataSource* source : FDataSources)
        source->FDataSet = nullptr;
    for (TField* field : FFields.FItems)
        field->FDataSet = nullptr;
    FFields.FItems.clear();
}

void TDataSet::DatabaseError(const QString& message) const
{
    throw EDatabaseError(objectName().isEmpty() ? message : objectName() + QStringLiteral(": ") + message);
}

// ---------------------------------------------------------------- structure

std::vector<TField*> TDataSet::GetFieldList(const QString& names) const
{
    std::vector<TField*> fields;
    for (const QString& name : SplitFieldList(names))
        fields.push_back(FieldByName(name));
    return fields;
}

void TDataSet::AddField(TField* field)
{
    CheckInactive();
    FDefaultFields = false;
    FFields.FItems.push_back(field);
    field->FDataSet = this;
    NumberFields();
}

void TDataSet::NumberFields()
{
    for (size_t i = 0; i < FFields.FItems.size(); ++i)
        FFields.FItems[i]->FIndex = static_cast<int>(i);
}

void TDataSet::RemoveField(TField* field)
{
    auto& items = FFields.FItems;
    const auto it = std::find(items.begin(), items.end(), field);
    if (it == items.end())
        return;
    // The record buffers follow the field list, also while open.
    const auto index = it - items.begin();
    for (std::vector<Variant>* record : {&FRecord, &FOldRecord, &FDisplayRecord})
        if (index < static_cast<std::ptrdiff_t>(record->size()))
            record->erase(record->begin() + index);
    items.erase(it);
    field->FDataSet = nullptr;
    field->FIndex = -1;
    NumberFields();
}

std::unique_ptr<TField> TDataSet::NewFieldFromDef(const TFieldDef& def, QObject* owner)
{
    std::unique_ptr<TField> field = CreateField(def.DataType(), owner);
    field->SetFieldName(def.Name());
    if (def.DataType() == ftString || def.DataType() == ftBytes || def.DataType() == ftBCD)
        field->SetSize(def.Size());
    if (auto* bcd = qobject_cast<TBCDField*>(field.get()); bcd && def.Precision() > 0)
        bcd->SetPrecision(def.Precision());
    field->SetRequired(def.Required());
    field->SetReadOnly(def.ReadOnly());
    field->SetFieldNo(def.FieldNo());
    if (def.InternalCalcField())
        field->SetFieldKind(fkInternalCalc);
    return field;
}

void TDataSet::CreateFields()
{
    for (int i = 0; i < FFieldDefs.Count(); ++i) {
        std::unique_ptr<TField> field = NewFieldFromDef(FFieldDefs[i], this);
        FFields.FItems.push_back(field.get());
        field->FDataSet = this;
        field.release(); // owned by the data set as its child
    }
    NumberFields();
    FDefaultFields = true;
}

void TDataSet::DestroyDefaultFields()
{
    if (!FDefaultFields)
        return;
    std::vector<TField*> fields;
    fields.swap(FFields.FItems);
    for (TField* field : fields) {
        field->FDataSet = nullptr;
        delete field;
    }
    FDefaultFields = false;
}

// ---------------------------------------------------------------- open, close

void TDataSet::CheckActive() const
{
    if (!Active())
        DatabaseError(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

void TDataSet::CheckInactive() const
{
    if (Active())
        DatabaseError(QStringLiteral("Cannot perform this operation on an open dataset"));
}

void TDataSet::SetActive(bool value)
{
    if (value == Active())
        return;
    if (value) {
        DoBeforeOpen();
        OpenCursor();
        SetState(dsBrowse);
        MoveTo(0);
        FBof = true;
        DoAfterOpen();
        DoAfterScroll();
    } else {
        DoBeforeClose();
        SetState(dsInactive);
        CloseCursor();
        DoAfterClose();
    }
}

void TDataSet::OpenCursor()
{
    InternalInitFieldDefs();
    if (FFields.FItems.empty())
        CreateFields();
    else
        for (TField* field : FFields.FItems)
            if (field->IsStored()) {
                const TFieldDef* def = FFieldDefs.Find(field->FieldName());
                if (!def)
                    DatabaseError(QStringLiteral("Field '%1' not found").arg(field->FieldName()));
                field->SetFieldNo(def->FieldNo());
            }
    try {
        InternalOpen();
        if (!FFilterText.isEmpty() && !FFilterExpression)
            FFilterExpression = TFilterExpression::Parse(FFilterText);
        FState = dsBrowse; // the view asks the filter, which reads fields
        InternalRefreshView();
        FState = dsInactive;
    } catch (...) {
        FState = dsInactive;
        CloseCursor();
        throw;
    }
}

void TDataSet::CloseCursor()
{
    InternalClose();
    FRecord.clear();
    FRecordPending = false;
    FOldRecord.clear();
    FDisplayRecord.clear();
    FDisplayPosition = -1;
    FCurrentRow = NoRecord;
    FCurrentPosition = -1;
    FBof = FEof = true;
    FModified = false;
    DestroyDefaultFields();
}

void TDataSet::SetState(TDataSetState state)
{
    if (FState == state)
        return;
    FState = state;
    FModified = false;
    DataEvent(deUpdateState);
}

// ---------------------------------------------------------------- records

void TDataSet::FillRecordBuffer(TRecordId row)
{
    FRecordPending = false;
    // A read writes every stored slot: only the others start null again.
    const size_t count = FFields.FItems.size();
    if (row == NoRecord || FRecord.size() != count) {
        FRecord.assign(count, Variant::Null());
    } else {
        for (size_t i = 0; i < count; ++i)
            if (!FFields.FItems[i]->IsStored())
                FRecord[i] = Variant::Null();
    }
    if (row != NoRecord)
        InternalReadRecord(row, FRecord);
    CalculateFields();
}

void TDataSet::ShowRow(TRecordId row)
{
    // Nothing to calculate: the record is read when a field needs it.
    const auto calculated = [](const TField* field) { return !field->IsStored(); };
    if (row != NoRecord && InternalReadsInPlace() && !OnCalcFields
        && std::none_of(FFields.FItems.begin(), FFields.FItems.end(), calculated)) {
        FRecordPending = true;
        return;
    }
    FillRecordBuffer(row);
}

void TDataSet::EnsureRecord() const
{
    if (!FRecordPending)
        return;
    // A row that another table sharing the rows removed meanwhile reads as empty.
    auto* self = const_cast<TDataSet*>(this);
    self->FillRecordBuffer(InternalRowExists(FCurrentRow) ? FCurrentRow : NoRecord);
}

void TDataSet::InternalReadRecord(TRecordId row, std::vector<Variant>& record) const
{
    for (size_t i = 0; i < FFields.FItems.size(); ++i)
        if (FFields.FItems[i]->IsStored())
            record[i] = InternalGetValue(row, *FFields.FItems[i]);
}

void TDataSet::CalculateFields()
{
    if (FInCalcFields)
        return;
    bool any = false;
    for (TField* field : FFields.FItems)
        any = any || !field->IsStored();
    if (!any && !OnCalcFields)
        return;
    const TRestore<bool> inCalc(FInCalcFields, true);
    const TRestore<TDataSetState> state(FState, dsCalcFields);
    for (size_t i = 0; i < FFields.FItems.size(); ++i) {
        TField* field = FFields.FItems[i];
        if (field->Calculated())
            FRecord[i] = Variant::Null();
        if (!field->Lookup())
            continue;
        FRecord[i] = Variant::Null();
        TDataSet* lookup = field->LookupDataSet();
        if (!lookup || !lookup->Active() || field->KeyFields().isEmpty())
            continue;
        const std::vector<TField*> keys = GetFieldList(field->KeyFields());
        std::vector<Variant> values;
        for (TField* key : keys)
            values.push_back(FRecord[static_cast<size_t>(FFields.IndexOf(key))]);
        const Variant keyValues = values.size() == 1 ? values.front() : Variant(values);
        FRecord[i] = lookup->Lookup(field->LookupKeyFields(), keyValues, field->LookupResultField());
    }
    DoOnCalcFields();
}

Variant TDataSet::GetFieldValue(const TField& field) const
{
    CheckActive();
    if (FFilterRow != NoRecord)
        return field.IsStored() ? InternalGetValue(FFilterRow, field) : Variant::Null();
    const Variant* value = ShownFieldValue(field);
    return value ? *value : Variant::Null();
}

const Variant* TDataSet::ShownFieldValue(const TField& field) const
{
    if (!Active() || FFilterRow != NoRecord)
        return nullptr;
    const int index = FFields.IndexOf(&field);
    if (FState != dsSetKey && FDisplayPosition < 0)
        EnsureRecord();
    const std::vector<Variant>& record = FState == dsSetKey ? FKeyRecord
                                                            : (FDisplayPosition >= 0 ? FDisplayRecord : FRecord);
    if (index < 0 || static_cast<size_t>(index) >= record.size())
        return nullptr;
    return &record[static_cast<size_t>(index)];
}

Variant TDataSet::GetOldFieldValue(const TField& field) const
{
    CheckActive();
    if (FState == dsInsert)
        return Variant::Null();
    const int index = FFields.IndexOf(&field);
    if (FState == dsEdit && index >= 0 && static_cast<size_t>(index) < FOldRecord.size())
        return FOldRecord[static_cast<size_t>(index)];
    return GetFieldValue(field);
}

void TDataSet::SetFieldValue(TField& field, const Variant& value)
{
    CheckActive();
    if (FState == dsSetKey) {
        const int index = FFields.IndexOf(&field);
        RTL_ASSERT(index >= 0, QStringLiteral("Field of another data set"));
        FKeyRecord[static_cast<size_t>(index)] = value;
        return;
    }
    const bool calculating = FState == dsCalcFields;
    if (!calculating && !IsEditState(FState))
        DatabaseError(QStringLiteral("Dataset not in edit or insert mode"));
    if (!calculating && (field.ReadOnly() || !field.IsStored()))
        DatabaseError(QStringLiteral("Field '%1' cannot be modified").arg(field.DisplayName()));
    const int index = FFields.IndexOf(&field);
    RTL_ASSERT(index >= 0, QStringLiteral("Field of another data set"));
    Variant& slot = FRecord[static_cast<size_t>(index)];
    if (calculating) {
        slot = value;
        return;
    }
    // The validate handler sees the new value and may refuse it.
    const Variant previous = slot;
    slot = value;
    try {
        if (field.OnValidate)
            field.OnValidate(&field);
    } catch (...) {
        slot = previous;
        throw;
    }
    FModified = true;
    if (field.OnChange)
        field.OnChange(&field);
    if (FAutoCalcFields)
        CalculateFields();
    DataEvent(deFieldChange, &field);
}

void TDataSet::ClearFields()
{
    if (!IsEditState(FState))
        DatabaseError(QStringLiteral("Dataset not in edit or insert mode"));
    for (size_t i = 0; i < FFields.FItems.size(); ++i)
        if (FFields.FItems[i]->IsStored())
            FRecord[i] = Variant::Null();
    FModified = true;
    CalculateFields();
    DataEvent(deRecordChange);
}

// ---------------------------------------------------------------- navigation

bool TDataSet::IsEmpty() const
{
    CheckActive();
    return FState != dsInsert && InternalViewCount() == 0;
}

int TDataSet::RecordCount() const
{
    CheckActive();
    return InternalViewCount();
}

int TDataSet::RecNo() const
{
    CheckActive();
    if (FState == dsInsert)
        return 0;
    return FCurrentPosition < 0 ? 0 : FCurrentPosition + 1;
}

int TDataSet::ActivePosition() const
{
    if (!Active())
        return -1;
    if (FState == dsInsert)
        return FInsertPosition < 0 ? InternalViewCount() : FInsertPosition;
    return FCurrentPosition;
}

void TDataSet::MoveTo(int position)
{
    const int count = InternalViewCount();
    if (count == 0) {
        FCurrentPosition = -1;
        FCurrentRow = NoRecord;
        FBof = FEof = true;
    } else {
        FCurrentPosition = std::clamp(position, 0, count - 1);
        FCurrentRow = InternalViewRow(FCurrentPosition);
        FBof = FEof = false;
    }
    ShowRow(FCurrentRow);
}

void TDataSet::ScrollTo(int position, bool bofAtStart, bool eofAtEnd)
{
    CheckBrowseMode();
    DoBeforeScroll();
    MoveTo(position);
    const int count = InternalViewCount();
    if (count > 0) {
        FBof = bofAtStart;
        FEof = eofAtEnd;
    }
    DataEvent(deDataSetScroll);
    DoAfterScroll();
}

void TDataSet::First()
{
    CheckActive();
    ScrollTo(0, true, false);
}

void TDataSet::Last()
{
    CheckActive();
    ScrollTo(InternalViewCount() - 1, false, true);
}

void TDataSet::Next()
{
    CheckActive();
    if (!FEof)
        MoveBy(1);
}

void TDataSet::Prior()
{
    CheckActive();
    if (!FBof)
        MoveBy(-1);
}

int TDataSet::MoveBy(int distance)
{
    CheckActive();
    CheckBrowseMode();
    if (distance == 0)
        return 0;
    const int count = InternalViewCount();
    const int from = FCurrentPosition;
    const int wanted = from + distance;
    const int to = count == 0 ? -1 : std::clamp(wanted, 0, count - 1);
    DoBeforeScroll();
    MoveTo(to);
    if (count > 0) {
        FBof = distance < 0 && wanted < 0;
        FEof = distance > 0 && wanted > count - 1;
    }
    DataEvent(deDataSetScroll);
    DoAfterScroll();
    return to - from;
}

void TDataSet::SetRecNo(int recNo)
{
    CheckActive();
    const int count = InternalViewCount();
    if (recNo < 1 || recNo > count || recNo - 1 == FCurrentPosition)
        return;
    ScrollTo(recNo - 1, false, false);
}

void TDataSet::Resync()
{
    CheckActive();
    // The cursor's position is the usual answer; ask the view only when it moved.
    int position = FCurrentPosition;
    if (FCurrentRow != NoRecord && InternalViewRow(position) != FCurrentRow) {
        const int found = InternalViewPosition(FCurrentRow);
        if (found >= 0)
            position = found;
    }
    const bool bof = FBof;
    const bool eof = FEof;
    MoveTo(position);
    if (InternalViewCount() > 0) {
        FBof = bof && FCurrentPosition == 0;
        FEof = eof && FCurrentPosition == InternalViewCount() - 1;
    }
    DataEvent(deDataSetChange);
}

void TDataSet::Refresh()
{
    CheckBrowseMode();
    InternalRefreshView();
    Resync();
}

int TDataSet::SetDisplayPosition(int position)
{
    const int previous = FDisplayPosition;
    if (position < 0 || position >= InternalViewCount()) {
        FDisplayPosition = -1;
        FDisplayRecord.clear();
        return previous;
    }
    // The shown record's buffer is borrowed to fill the display record.
    EnsureRecord();
    std::swap(FRecord, FDisplayRecord);
    FDisplayRow = InternalViewRow(position);
    FillRecordBuffer(FDisplayRow);
    std::swap(FRecord, FDisplayRecord);
    FDisplayPosition = position;
    return previous;
}

// ---------------------------------------------------------------- editing

void TDataSet::CheckCanModify() const
{
    if (!CanModify())
        DatabaseError(QStringLiteral("Cannot modify a read-only dataset"));
}

void TDataSet::CheckBrowseMode()
{
    CheckActive();
    DataEvent(deCheckBrowseMode);
    if (FState == dsSetKey)
        SetState(dsBrowse);
    if (IsEditState(FState)) {
        DataEvent(deUpdateRecord);
        if (FModified)
            Post();
        else
            Cancel();
    }
}

void TDataSet::CheckOperation(const std::function<void()>& op, const TDataSetErrorEvent& errorEvent)
{
    for (;;) {
        try {
            op();
            return;
        } catch (const EAbort&) {
            throw;
        } catch (const Exception& error) {
            TDataAction action = daFail;
            if (errorEvent)
                errorEvent(this, error, action);
            if (action == daFail)
                throw;
            if (action == daAbort)
                Abort();
        }
    }
}

void TDataSet::Edit()
{
    if (IsEditState(FState))
        return;
    CheckActive();
    if (InternalViewCount() == 0) {
        Insert();
        return;
    }
    CheckCanModify();
    DataEvent(deCheckBrowseMode);
    DoBeforeEdit();
    CheckOperation([this] { InternalEdit(); }, OnEditError);
    FillRecordBuffer(FCurrentRow);
    FOldRecord = FRecord;
    SetState(dsEdit);
    DataEvent(deRecordChange);
    DoAfterEdit();
}

void TDataSet::BeginInsertAppend(bool append)
{
    CheckBrowseMode();
    CheckCanModify();
    DoBeforeInsert();
    DoBeforeScroll();
    FInsertPosition = append || FCurrentPosition < 0 ? -1 : FCurrentPosition;
    FOldRecord.clear();
    FRecord.assign(FFields.FItems.size(), Variant::Null());
    FRecordPending = false;
    SetState(dsInsert);
    if (append) {
        FEof = true;
        FBof = false;
    } else {
        FBof = FEof = false;
    }
    try {
        CalculateFields();
        DoOnNewRecord();
    } catch (...) {
        SetState(dsBrowse);
        Resync();
        throw;
    }
    FModified = false;
    DataEvent(deDataSetChange);
    DoAfterInsert();
    DoAfterScroll();
}

void TDataSet::Insert()
{
    CheckActive();
    BeginInsertAppend(false);
}

void TDataSet::Append()
{
    CheckActive();
    BeginInsertAppend(true);
}

void TDataSet::CheckRequiredFields()
{
    for (size_t i = 0; i < FFields.FItems.size(); ++i) {
        TField* field = FFields.FItems[i];
        if (field->Required() && !field->ReadOnly() && field->IsStored() && FRecord[i].IsEmptyOrNull())
            DatabaseError(QStringLiteral("Field '%1' must have a value").arg(field->DisplayName()));
    }
}

void TDataSet::UpdateRecord()
{
    if (!IsEditState(FState))
        DatabaseError(QStringLiteral("Dataset not in edit or insert mode"));
    DataEvent(deUpdateRecord);
}

void TDataSet::Post()
{
    CheckActive();
    if (!IsEditState(FState))
        DatabaseError(QStringLiteral("Dataset not in edit or insert mode"));
    DataEvent(deUpdateRecord);
    DataEvent(deCheckBrowseMode);
    DoBeforePost();
    CheckOperation(
        [this] {
            CheckRequiredFields();
            if (FState == dsInsert) {
                FCurrentRow = InternalInsertRow(FRecord, FInsertPosition);
                FCurrentPosition = FInsertPosition < 0 ? InternalViewCount() - 1 : FInsertPosition;
            } else
                InternalUpdateRow(FCurrentRow, FRecord);
        },
        OnPostError);
    FOldRecord.clear();
    SetState(dsBrowse);
    Resync();
    DoAfterPost();
}

void TDataSet::SetKey() { BeginKeyEdit({}); }

void TDataSet::EditKey() { BeginKeyEdit(FKeyRecord); }

void TDataSet::BeginKeyEdit(std::vector<Variant> values)
{
    CheckBrowseMode();
    values.resize(FFields.FItems.size());
    FKeyRecord = std::move(values);
    SetState(dsSetKey);
}

void TDataSet::Cancel()
{
    CheckActive();
    if (FState == dsSetKey) {
        SetState(dsBrowse);
        return;
    }
    if (!IsEditState(FState))
        return;
    DataEvent(deCheckBrowseMode);
    DoBeforeCancel();
    FOldRecord.clear();
    SetState(dsBrowse);
    Resync();
    DoAfterCancel();
}

void TDataSet::Delete()
{
    CheckActive();
    if (FState == dsInsert || FState == dsSetKey) {
        Cancel();
        return;
    }
    if (InternalViewCount() == 0)
        DatabaseError(QStringLiteral("Cannot perform this operation on an empty dataset"));
    CheckCanModify();
    DataEvent(deCheckBrowseMode);
    DoBeforeDelete();
    DoBeforeScroll();
    const TRecordId row = FCurrentRow;
    CheckOperation([this, row] { InternalDeleteRow(row); }, OnDeleteError);
    FOldRecord.clear();
    SetState(dsBrowse);
    // The next row takes the deleted one's place.
    FCurrentRow = NoRecord;
    Resync();
    DoAfterDelete();
    DoAfterScroll();
}

// ---------------------------------------------------------------- bookmarks

TBookmark TDataSet::GetBookmark() const
{
    CheckActive();
    if (FCurrentRow == NoRecord || FState == dsInsert)
        return {};
    TBookmark bookmark(sizeof(TRecordId), '\0');
    qToLittleEndian(FCurrentRow, bookmark.data());
    return bookmark;
}

namespace {

TRecordId RowOf(const TBookmark& bookmark)
{
    if (bookmark.size() != sizeof(TRecordId))
        return NoRecord;
    return qFromLittleEndian<TRecordId>(bookmark.constData());
}

} // namespace

bool TDataSet::BookmarkValid(const TBookmark& bookmark) const
{
    const TRecordId row = RowOf(bookmark);
    return Active() && row != NoRecord && InternalRowExists(row) && InternalViewPosition(row) >= 0;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark)
{
    CheckActive();
    CheckBrowseMode();
    if (!BookmarkValid(bookmark))
        DatabaseError(QStringLiteral("Record not found"));
    ScrollTo(InternalViewPosition(RowOf(bookmark)), false, false);
}

int TDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) { return a == b ? 0 : (a < b ? -1 : 1); }

// ---------------------------------------------------------------- searching

namespace {

bool KeyMatches(const Variant& value, const Variant& key, TLocateOptions options)
{
    if (key.IsEmptyOrNull())
        return value.IsEmptyOrNull();
    if (value.IsEmptyOrNull())
        return false;
    const bool caseInsensitive = options & loCaseInsensitive;
    if (value.IsString() || key.IsString()) {
        const QString text = value.AsString();
        const QString wanted = key.AsString();
        const Qt::CaseSensitivity cs = caseInsensitive ? Qt::CaseInsensitive : Qt::CaseSensitive;
        if (options & loPartialKey)
            return text.startsWith(wanted, cs);
        return text.compare(wanted, cs) == 0;
    }
    return value.Compare(key, caseInsensitive) == 0;
}

std::vector<Variant> KeyList(const Variant& keyValues, size_t count)
{
    if (count == 1 && !keyValues.IsArray())
        return {keyValues};
    if (!keyValues.IsArray() || keyValues.AsArray().size() != count)
        throw EDatabaseError(QStringLiteral("Number of key values does not match the key fields"));
    return keyValues.AsArray();
}

} // namespace

int TDataSet::InternalLocate(const std::vector<TField*>& fields, const std::vector<Variant>& values,
                             TLocateOptions options)
{
    const int count = InternalViewCount();
    for (int position = 0; position < count; ++position) {
        const TRecordId row = InternalViewRow(position);
        bool match = true;
        for (size_t k = 0; match && k < fields.size(); ++k) {
            const Variant value = fields[k]->IsStored() ? InternalGetValue(row, *fields[k]) : Variant::Null();
            match = KeyMatches(value, values[k], options);
        }
        if (match)
            return position;
    }
    return -1;
}

bool TDataSet::LocateRecord(const QString& keyFields, const Variant& keyValues, TLocateOptions options, int& position)
{
    const std::vector<TField*> fields = GetFieldList(keyFields);
    position = InternalLocate(fields, KeyList(keyValues, fields.size()), options);
    return position >= 0;
}

bool TDataSet::Locate(const QString& keyFields, const Variant& keyValues, TLocateOptions options)
{
    CheckActive();
    CheckBrowseMode();
    int position = -1;
    if (!LocateRecord(keyFields, keyValues, options, position))
        return false;
    ScrollTo(position, false, false);
    return true;
}

Variant TDataSet::Lookup(const QString& keyFields, const Variant& keyValues, const QString& resultFields)
{
    CheckActive();
    int position = -1;
    if (!LocateRecord(keyFields, keyValues, 0, position))
        return Variant::Null();
    const std::vector<TField*> results = GetFieldList(resultFields);
    const int previous = SetDisplayPosition(position);
    std::vector<Variant> values;
    for (TField* field : results)
        values.push_back(field->Value());
    SetDisplayPosition(previous);
    return values.size() == 1 ? values.front() : Variant(values);
}

// ---------------------------------------------------------------- filtering

namespace {

// Blank text is no filter; anything else must parse (or nothing changes).
std::unique_ptr<TFilterExpression> ParseFilterText(const QString& text)
{
    return text.trimmed().isEmpty() ? nullptr : TFilterExpression::Parse(text);
}

} // namespace

void TDataSet::SetFilter(const QString& text)
{
    if (text == FFilterText)
        return;
    FFilterExpression = ParseFilterText(text);
    FFilterText = text;
    if (FFiltered)
        ApplyFilterChange();
}

void TDataSet::SetFiltered(bool value)
{
    if (value == FFiltered)
        return;
    FFiltered = value;
    ApplyFilterChange();
}

void TDataSet::SetFilterOptions(TFilterOptions options)
{
    if (options == FFilterOptions)
        return;
    FFilterOptions = options;
    if (FFiltered)
        ApplyFilterChange();
}

void TDataSet::ApplyFilterChange()
{
    if (!Active())
        return;
    CheckBrowseMode();
    InternalRefreshView();
    First();
    DataEvent(deDataSetChange);
}

void TDataSet::SetSearchFilter(const QString& text)
{
    if (text == FSearchText)
        return;
    FSearchExpression = ParseFilterText(text);
    FSearchText = text;
    ApplyFilterChange();
}

bool TDataSet::RecordPassesFilter(TRecordId row)
{
    if (!FFiltered && !FSearchExpression)
        return true;
    const TRestore<TRecordId> filterRow(FFilterRow, row);
    const TRestore<TDataSetState> state(FState, dsFilter);
    const auto fieldValue = [this](const QString& name) { return FieldByName(name)->Value(); };
    if (FSearchExpression && !FSearchExpression->Evaluate(fieldValue, FFilterOptions))
        return false;
    if (!FFiltered)
        return true;
    if (FFilterExpression && !FFilterExpression->Evaluate(fieldValue, FFilterOptions))
        return false;
    bool accept = true;
    DoFilterRecord(accept);
    return accept;
}

bool TDataSet::TestRow(TRecordId row, const std::function<bool()>& test)
{
    const TRestore<TRecordId> filterRow(FFilterRow, row);
    const TRestore<TDataSetState> state(FState, dsFilter);
    return test();
}

// ---------------------------------------------------------------- controls

void TDataSet::DisableControls()
{
    if (FDisableCount++ == 0)
        FStateChangedWhileDisabled = false;
}

void TDataSet::EnableControls()
{
    if (FDisableCount == 0 || --FDisableCount > 0)
        return;
    if (FStateChangedWhileDisabled)
        DataEvent(deUpdateState);
    DataEvent(deDataSetChange);
}

QList<TDataSet*> TDataSet::GetDetailDataSets() const
{
    QList<TDataSet*> details;
    for (TDataSet* dataSet : AllDataSets())
        if (dataSet != this && dataSet->MasterDataSetOf() == this)
            details.append(dataSet);
    return details;
}

void TDataSet::DataEvent(TDataEvent event, const void* info)
{
    if (FDisableCount > 0) {
        if (event == deUpdateState)
            FStateChangedWhileDisabled = true;
        return;
    }
    const QList<TDataSource*> sources = FDataSources;
    for (TDataSource* source : sources)
        source->DataEvent(event, info);
}

void TDataSet::AddDataSource(TDataSource* source)
{
    if (!FDataSources.contains(source))
        FDataSources.append(source);
}

void TDataSet::RemoveDataSource(TDataSource* source) { FDataSources.removeOne(source); }
