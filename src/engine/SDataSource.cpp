#include "SDataSource.h"

#include "Dialogs.h"
#include "Exceptions.h"
#include "MemTable.h"
#include "SDS.h"
#include "URecordMarker.h"

namespace {

const QString FieldSeparator = QStringLiteral(";");

} // namespace

std::function<void(TSDataSource*)> TSDataSource::RecordAttributesForm;
std::function<bool(TSDataSource*, TField*, TFieldFilters&)> TSDataSource::FilterDialog;

TSDataSource::TSDataSource(QObject* owner) : TDataSource(owner), FRecordMarker(std::make_unique<TMemRecordMarker>())
{
    FRecordMarker->SetDataSource(this);
}

TSDataSource::~TSDataSource()
{
    // The data set must not call back into a source that is gone.
    DropFilters();
}

void TSDataSource::CheckDataSet() const
{
    if (DataSet())
        return;
    MessageDlg(QStringLiteral("Не задан набор данных"), mtError, {mbOK});
    Abort();
}

TCustomMemTable& TSDataSource::RequireTable() const
{
    // A TSDS keeps its own order rules behind the table's virtual index
    // operations, so one path serves both.
    auto* table = qobject_cast<TCustomMemTable*>(DataSet());
    if (!table)
        throw Exception(QStringLiteral("Неподдерживаемый тип НД:")
                        + QString::fromLatin1(DataSet() ? DataSet()->metaObject()->className() : "nil"));
    return *table;
}

QString TSDataSource::GetIndexFieldNames() const { return RequireTable().IndexFieldNames(); }

void TSDataSource::SetIndexFieldNames(const QString& fields) { RequireTable().SetIndexFieldNames(fields); }

bool TSDataSource::IsReadOnly() const { return RequireTable().ReadOnly(); }

const TIndexDefs& TSDataSource::GetIndexDefs() const { return RequireTable().IndexDefs(); }

void TSDataSource::AddSortField(const QString& fieldName)
{
    CheckDataSet();
    for (const QString& name : fieldName.split(FieldSeparator))
        DataSet()->FieldByName(name); // the data set's own error for a stranger
    const QString current = GetIndexFieldNames();
    if ((FieldSeparator + current + FieldSeparator).contains(FieldSeparator + fieldName + FieldSeparator)) {
        Beep();
        return;
    }
    if (FSorting) {
        SetIndexFieldNames(current.isEmpty() ? fieldName : current + FieldSeparator + fieldName);
    } else {
        FSavedIndexFieldNames = current;
        SetIndexFieldNames(fieldName);
        FSorting = true;
    }
    NotifyLinks(lnLayoutChanged);
}

void TSDataSource::RemoveSortField()
{
    CheckDataSet();
    const QString current = GetIndexFieldNames();
    if (current.isEmpty())
        return;
    // A trailing ";" does not count as a separator.
    const qsizetype separator = current.size() >= 2 ? current.lastIndexOf(FieldSeparator, current.size() - 2) : -1;
    if (separator >= 0) {
        SetIndexFieldNames(current.left(separator));
    } else {
        SetIndexFieldNames(FSavedIndexFieldNames);
        FSorting = false;
    }
    NotifyLinks(lnLayoutChanged);
}

void TSDataSource::FilterByField(TField* field)
{
    CheckDataSet();
    TDataSet& dataSet = *DataSet();
    const TBookmark here = dataSet.GetBookmark();
    if (FilterDialog)
        FilterDialog(this, field, FFilters);
    SetFilterActive(!FFilters.empty());
    try {
        if (!here.isEmpty() && DataSet() == &dataSet)
            dataSet.GotoBookmark(here);
    } catch (const std::exception&) {
        // The record is filtered out now: the cursor stays where the filter put it.
    }
}

void TSDataSource::ClearFilters()
{
    if (FFilters.empty())
        return;
    CheckDataSet();
    UnwatchFilterFields();
    ::ClearFilters(FFilters);
    SetFilterActive(false);
}

void TSDataSource::SetFilterActive(bool active)
{
    TDataSet* dataSet = DataSet();
    if (!dataSet)
        return;
    if (active) {
        // What the data set had is remembered each time the filter is hooked
        // in over it, so a handler removed since is not called again.
        if (FFilteredDataSet != dataSet) {
            FSavedOnFilterRecord = dataSet->OnFilterRecord;
            FSavedFiltered = FSavedOnFilterRecord ? dataSet->Filtered() : false;
        }
        dataSet->OnFilterRecord = [this](TDataSet* filtered, bool& accept) { FilterRecord(filtered, accept); };
        FFilteredDataSet = dataSet;
        WatchFilterFields();
    } else {
        dataSet->OnFilterRecord = FSavedOnFilterRecord;
        FFilteredDataSet = nullptr;
        UnwatchFilterFields();
    }
    const bool filtered = active || FSavedFiltered;
    // Filters changed under a data set that stays filtered: its view is made again.
    if (dataSet->Filtered() == filtered && dataSet->Active())
        dataSet->Refresh();
    else
        dataSet->SetFiltered(filtered);
    NotifyLinks(lnLayoutChanged);
}

void TSDataSource::FilterRecord(TDataSet* dataSet, bool& accept)
{
    if (FSavedOnFilterRecord) {
        FSavedOnFilterRecord(dataSet, accept);
        if (!accept)
            return;
    }
    accept = FiltersAccept(FFilters, FRecordMarker.get());
}

void TSDataSource::NotifyLinks(TLinksNotify kind)
{
    if (kind == lnRecordChanged)
        NotifyLinks(deRecordChange, nullptr);
    else
        NotifyLinks(deLayoutChange, nullptr);
}

TFieldAccess TSDataSource::GetFieldAccess(const TField* field) const
{
    if (!field || !DataSet() || field->DataSet() != DataSet())
        return faForeign;
    try {
        if (IsReadOnly() || field->ReadOnly())
            return faReadOnly;
        QString keys = GetIndexFieldNames();
        const TIndexDefs& indexes = GetIndexDefs();
        for (int i = 0; i < indexes.Count(); ++i)
            if (indexes[i].Options() & ixPrimary)
                keys += FieldSeparator + indexes[i].Fields();
        // A plain substring test: ID counts as a key beside PARENT_ID.
        return keys.contains(field->FieldName()) ? faKey : faModifiable;
    } catch (...) {
        return faForeign;
    }
}

QString TSDataSource::GetFieldCaption(const TField* field) const { return field ? field->DisplayName() : QString(); }

bool TSDataSource::IsLevelled() const
{
    const auto* sds = qobject_cast<const TSDS*>(DataSet());
    return sds && sds->Options().Contains(dsoLevels);
}

bool TSDataSource::LevelUp()
{
    auto* sds = qobject_cast<TSDS*>(DataSet());
    return sds && sds->LevelUp();
}

bool TSDataSource::LevelDown()
{
    auto* sds = qobject_cast<TSDS*>(DataSet());
    return sds && sds->LevelDown();
}

void TSDataSource::ShowRecordAttributes()
{
    auto* sds = qobject_cast<TSDS*>(DataSet());
    if (!sds || (sds->Bof() && sds->Eof()))
        return;
    if (RecordAttributesForm)
        RecordAttributesForm(this);
}

void TSDataSource::DataEvent(TDataEvent event, const void* info)
{
    // The filters' fields belong to the data set that was filtered: once it
    // is closed, replaced or gone, they are dropped before anyone reads them.
    if (event == deUpdateState && (!FFilters.empty() || FFilteredDataSet)) {
        TDataSet* dataSet = DataSet();
        if (!dataSet || !dataSet->Active() || (FFilteredDataSet && FFilteredDataSet != dataSet))
            DropFilters();
    }
    TDataSource::DataEvent(event, info);
}

void TSDataSource::DropFilters()
{
    UnwatchFilterFields();
    ::ClearFilters(FFilters);
    if (TDataSet* dataSet = FFilteredDataSet) {
        FFilteredDataSet = nullptr;
        dataSet->OnFilterRecord = FSavedOnFilterRecord;
        dataSet->SetFiltered(FSavedFiltered);
    }
}

void TSDataSource::WatchFilterFields()
{
    UnwatchFilterFields();
    for (const auto& filter : FFilters)
        if (filter->Field)
            FFieldWatches << connect(filter->Field, &QObject::destroyed, this, [this] { DropFilters(); });
}

void TSDataSource::UnwatchFilterFields()
{
    for (const QMetaObject::Connection& watch : FFieldWatches)
        disconnect(watch);
    FFieldWatches.clear();
}
