// The record marker: the set of records the user has marked in one data set.
// A mark belongs to a record, not to a place in the view: records are known
// by the in-memory table's record identifiers, so sorting, filtering and
// changing level keep the marks. Only in-memory tables can be marked; the
// marker binds to its data source's table on the first toggle (and binding
// drops every mark), and stays bound until that table is gone.
#pragma once

#include "MemTable.h"
#include "SDataSource.h"

#include <QPointer>
#include <QString>
#include <functional>
#include <optional>
#include <unordered_set>
#include <vector>

// The marks of one data source's table. Owned by its TSDataSource; it holds
// the data source and the table by guarded pointers and forgets its marks
// when the table goes.
class TMemRecordMarker
{
public:
    TMemRecordMarker() = default;
    TMemRecordMarker(const TMemRecordMarker&) = delete;
    TMemRecordMarker& operator=(const TMemRecordMarker&) = delete;

    TSDataSource* DataSource() const { return FDataSource; }
    // Accepts none or the framework's data source; any other raises
    // "DataSource must be TDataSource !". Does not bind.
    void SetDataSource(TDataSource* source);
    // The table the marks belong to; none until the first toggle binds it.
    TCustomMemTable* DataSet() const { return FDataSet; }

    // Whether the record the table's fields show is marked (while a filter
    // tests a row, that row).
    bool IsMarked() const;
    // Only records that still exist count: the marks of deleted ones are
    // dropped as they are found.
    bool IsEmpty() const;
    int MarkedCount() const;
    // The marked records that still exist, in no order (for walks that read
    // rows without moving the cursor).
    std::vector<TRecordId> MarkedRecords() const;
    // A range was started by ToggleRange and waits for its end.
    bool RangeStarted() const { return !FGroupStart.isEmpty(); }

    // The toggles change nothing, silently, unless the table is browsing a
    // record.
    void ToggleCurrent();
    // The first call remembers the current record; the second toggles every
    // record from there to the current one, both included, in view order.
    void ToggleRange();
    // Asks, then marks every record when none is marked, else unmarks all.
    void ToggleAll();
    void Clear();

    // The marked records' text of a field (by default SelectFieldName),
    // joined by commas in view order.
    QString GetMarkedValues(const QString& fieldName = QString());
    const QString& SelectFieldName() const { return FSelectFieldName; }
    void SetSelectFieldName(const QString& name) { FSelectFieldName = name; }

    // After the marks changed.
    std::function<void(TMemRecordMarker* sender)> OnChange;

private:
    void BindOnDemand();
    bool CanMark() const;
    void Toggle(TRecordId record);
    // Tells the data source's controls: the current record or the whole
    // layout changed.
    void NotifyLinks(TLinksNotify kind);
    void Changed();
    void ToggleStretch(TCustomMemTable& table, const TBookmark& start, const TBookmark& end);
    // Drops the marks of records the table no longer holds.
    void DropGone() const;

    // For the length of a range: OnChange held back; afterwards the start
    // is used up, whatever happened.
    class TRangeScope
    {
    public:
        explicit TRangeScope(TMemRecordMarker& marker);
        ~TRangeScope();
        TRangeScope(const TRangeScope&) = delete;
        TRangeScope& operator=(const TRangeScope&) = delete;

    private:
        TMemRecordMarker& FMarker;
        std::function<void(TMemRecordMarker*)> FSavedOnChange;
    };

    // Absent until bound; the marks of deleted records are dropped lazily.
    mutable std::optional<std::unordered_set<TRecordId>> FMarked;
    QPointer<TSDataSource> FDataSource;
    QPointer<TCustomMemTable> FDataSet;
    TBookmark FGroupStart;
    QString FSelectFieldName;
};
