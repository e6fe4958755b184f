// The framework's data source: what grids and grid actions work through on a
// data set. It adds a user sort by clicked fields (returning to the order
// the data set had before), field filters edited in the filter dialog and
// hooked into the data set's record filter, the record marker, moves between
// levels of a levelled data set, and field access checks for group
// operations. It serves any in-memory table; other data sets are refused
// where the operation needs a table.
//
// The field filters point at fields of the data set: they are dropped (and
// the record filter handed back) when the data set closes, is replaced or
// goes away, or when a filtered field is destroyed.
#pragma once

#include "DataSource.h"
#include "uFieldFilter.h"

#include <QList>
#include <QMetaObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

class TCustomMemTable;
class TIndexDefs;
class TMemRecordMarker;

// What the linked controls are told by NotifyLinks.
enum TLinksNotify { lnRecordChanged = 0, lnLayoutChanged = 1 };

// What GetFieldAccess says of a field.
enum TFieldAccess {
    faModifiable = 0, // the field may be changed
    faReadOnly = 1,   // the data set or the field is read-only
    faKey = 3,        // the field is part of the current order or of a primary index
    faForeign = 4,    // not a field of this data set, or the check failed
};

// The data source the framework's controls and actions work through.
//
// Lifetimes. A QObject owned by its owner (parent). It does not own its data
// set (a TDataSource's), which may go first: the data source then lets go of
// it, drops its filters and hands the record filter back only while the data
// set still exists. It owns its record marker (one for its whole life,
// whatever data set it shows) and its filters, both freed with it.
class TSDataSource : public TDataSource
{
    Q_OBJECT
public:
    explicit TSDataSource(QObject* owner = nullptr);
    ~TSDataSource() override;

    TMemRecordMarker* RecordMarker() const { return FRecordMarker.get(); }
    // The data set's index field names before the user sort began.
    const QString& SavedIndexFieldNames() const { return FSavedIndexFieldNames; }
    // The data set's Filtered state when its own filter handler was replaced.
    bool SavedFiltered() const { return FSavedFiltered; }
    // A user sort is active.
    bool Sorting() const { return FSorting; }
    // The active field filters; after changing them, SetFilterActive.
    TFieldFilters& Filters() { return FFilters; }

    // Without a data set: says "Не задан набор данных" and aborts silently.
    void CheckDataSet() const;
    // The order of an in-memory table; other data sets raise
    // "Неподдерживаемый тип НД:" with their class name.
    QString GetIndexFieldNames() const;
    void SetIndexFieldNames(const QString& fields);
    bool IsReadOnly() const;
    const TIndexDefs& GetIndexDefs() const;

    // Sorts by one more field (or ";" list); only beeps when the order holds it already.
    void AddSortField(const QString& fieldName);
    // Drops the last sort field; without one left, the order before the sort returns.
    void RemoveSortField();
    // Lets the user edit the filters in the filter dialog, starting at field
    // (nothing happens while no dialog is set).
    void FilterByField(TField* field);
    void ClearFilters();
    // Hooks FilterRecord into the data set's record filter (chaining the
    // handler the data set had), or hands the filter back.
    void SetFilterActive(bool active);
    // The record filter: the data set's own handler first, then the filters.
    void FilterRecord(TDataSet* dataSet, bool& accept);
    // Tells every link that the current record or the whole layout changed.
    using TDataSource::NotifyLinks;
    void NotifyLinks(TLinksNotify kind);

    // May a group operation change the field? Never raises.
    TFieldAccess GetFieldAccess(const TField* field) const;
    QString GetFieldCaption(const TField* field) const;

    bool IsLevelled() const;
    // True when the level changed.
    bool LevelUp();
    bool LevelDown();

    // Opens the record attributes form for the current record of a TSDS.
    void ShowRecordAttributes();
    // How the forms are opened; set by the forms at start
    // (InstallFrameworkForms). The filter dialog edits filters in place and
    // says whether the user applied them.
    static std::function<void(TSDataSource* dataSource)> RecordAttributesForm;
    static std::function<bool(TSDataSource* dataSource, TField* field, TFieldFilters& filters)> FilterDialog;

protected:
    void DataEvent(TDataEvent event, const void* info) override;

private:
    TCustomMemTable& RequireTable() const;
    // Forgets the filters, handing the record filter back to the data set
    // it was hooked into (when that one still exists).
    void DropFilters();
    // Drops the filters when a field they test is destroyed.
    void WatchFilterFields();
    void UnwatchFilterFields();

    std::unique_ptr<TMemRecordMarker> FRecordMarker;
    QString FSavedIndexFieldNames;
    bool FSavedFiltered = false;
    TFilterRecordEvent FSavedOnFilterRecord;
    TFieldFilters FFilters;
    bool FSorting = false;
    // The data set FilterRecord is hooked into, none while it is not.
    QPointer<TDataSet> FFilteredDataSet;
    QList<QMetaObject::Connection> FFieldWatches;
};
