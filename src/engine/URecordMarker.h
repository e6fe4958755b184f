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
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

// Marked records by where their rows lie in the table's store, so that a
// walk reading rows in place (TCustomMemTable::WalkViewNumbers) tests a row
// without reading it. No two rows start closer than the store's row
// spacing, so one bit per step of that size (rounded down to a power of
// two) tells every row apart. The bits are kept by 64 KB page of memory,
// for the pages the marked rows lie in (the store's blocks can lie far
// apart).
class TMarkedRowBits
{
public:
    // The records must be stored rows.
    TMarkedRowBits(const TMemRowStore& rows, const std::unordered_set<TRecordId>& records);
    // False when the marked rows are spread so thinly that the pages would
    // cost more than they save.
    bool Usable() const { return FUsable; }

    // Tests rows one after another; a row in the page of the one before is
    // told without a search.
    class TLookup
    {
    public:
        explicit TLookup(const TMarkedRowBits& bits)
            : FBits(bits), FShift(bits.FShift), FPageShift(bits.FPageShift), FPageMask(bits.FPageMask)
        {
        }
        bool Contains(TMemRowStore::TRowHandle row)
        {
            const uintptr_t step = reinterpret_cast<uintptr_t>(row) >> FShift;
            if (step >> FPageShift != FPage) {
                FPage = step >> FPageShift;
                FWords = FBits.PageWords(FPage);
            }
            const uintptr_t bit = step & FPageMask;
            return FWords && (FWords[bit / 64] >> (bit % 64)) & 1;
        }

    private:
        const TMarkedRowBits& FBits;
        const unsigned FShift;
        const unsigned FPageShift;
        const uintptr_t FPageMask;
        uintptr_t FPage = ~uintptr_t(0);
        const uint64_t* FWords = nullptr;
    };

private:
    // The page's place in FPages, NoPage for a page without marked rows.
    static constexpr size_t NoPage = ~size_t(0);
    size_t PageIndex(uintptr_t page) const;
    // The page's bits; none for a page without marked rows.
    const uint64_t* PageWords(uintptr_t page) const;

    unsigned FShift = 0;     // address to step
    unsigned FPageShift = 0; // step to page
    uintptr_t FPageMask = 0; // step within its page
    size_t FWordsPerPage = 0;
    bool FUsable = true;
    std::vector<uintptr_t> FPages; // ascending
    std::vector<uint64_t> FWords;  // FWordsPerPage per page of FPages
};

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
    // The marked records that still exist as TMarkedRowBits; none while
    // unbound or when the bits would not pay (then use MarkedRecords). Kept
    // until the marks change or a row is removed.
    const TMarkedRowBits* MarkedRowBits() const;
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
    // The removal stamp (TMemRowStore::RemovalStamp) the marks were last
    // checked at: while it stays, no marked record has gone.
    mutable uint64_t FCheckedStamp = 0;
    mutable std::unique_ptr<TMarkedRowBits> FRowBits; // built at FCheckedStamp

    QPointer<TSDataSource> FDataSource;
    QPointer<TCustomMemTable> FDataSet;
    TBookmark FGroupStart;
    QString FSelectFieldName;
};
