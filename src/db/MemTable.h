// The in-memory table: a data set whose rows live in memory, compactly (see
// TMemRowStore). Every row has an identifier that survives sorting,
// filtering and moves; the view (current index or natural order, range,
// filter) is a vector of rows, so positions are random access. Indexes are
// kept current on every post; they can be switched off for bulk loading and
// are then rebuilt once.
#pragma once

#include "DataSet.h"
#include "MemRowStore.h"

#include <algorithm>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

class TDataSource;
class TMemIndex;

enum TMemTablePerformance { mtpfFast, mtpfBalanced, mtpfSmall };

class TCustomMemTable : public TDataSet
{
    Q_OBJECT
public:
    // Leaves a row out of an index (and so out of the view while it is current).
    using TIndexRecordFilter = std::function<bool(TCustomMemTable& table, TRecordId row)>;

    explicit TCustomMemTable(QObject* owner = nullptr);
    ~TCustomMemTable() override;

    // Removes every row (the table stays open).
    void EmptyTable();
    // Whether rows were added, changed or deleted since the last load or
    // ResetModified.
    bool DataModified() const;
    void ResetModified();
    // Rows stored, whatever the view shows.
    int StoredRowCount() const;
    // The identifier of the record the fields show: the row a filter is
    // testing while one is, else the row being painted, else the current
    // row; NoRecord without one.
    TRecordId RecordId() const { return FilterRow() != NoRecord ? FilterRow() : ShownRow(); }
    // Whether a row is still stored (identifiers are never reused).
    bool RowExists(TRecordId row) const { return InternalRowExists(row); }

    // The rows as stored, read only: where a row lies (Handle) and how a
    // column is read in place, for callers that pick rows of
    // WalkViewNumbers.
    const TMemRowStore& StoredRows() const { return *FStore; }

    // A walk for totals over the view's rows in order, read in place: the
    // cursor does not move, no event is raised and no record is filled. Of
    // the rows that `wanted` accepts (it gets the row's place in the store,
    // see StoredRows), `take(values, count)` gets the field's stored numbers
    // as TField::AsFloat reads them (null as 0; 0 for every row without a
    // field), in view order, up to a batch at a time, and answers whether to
    // go on. False, and nothing walked, for a field that is not a stored
    // number of this table.
    template <typename Wanted, typename Take>
    bool WalkViewNumbers(const TField* field, Wanted&& wanted, Take&& take) const
    {
        using TRowHandle = TMemRowStore::TRowHandle;
        const int column = field ? NumberColumn(*field) : -1;
        if (field && column < 0)
            return false;
        const TMemRowStore::TNumberReader reader = column >= 0 ? FStore->NumberReader(column)
                                                               : TMemRowStore::TNumberReader();
        const auto value = [&](TRowHandle row) {
            return column < 0 ? 0.0 : reader.Valid() ? reader(row) : StoredNumber(row, column);
        };
        // The wanted rows are picked a batch at a time and asked for while
        // the batch before is read: rows the walk does not want are never
        // read, and those it wants are on their way when it reads them.
        constexpr size_t Batch = 256;
        TRowHandle picked[2][Batch];
        double values[Batch];
        const size_t count = FView.size();
        size_t next = 0;
        const auto pick = [&](TRowHandle* out) {
            size_t n = 0;
            for (const size_t end = std::min(next + Batch, count); next < end; ++next) {
                const TRowHandle row = FView[next];
                if (!wanted(row))
                    continue;
                if (column >= 0)
                    TMemRowStore::Prefetch(row + reader.Offset());
                out[n++] = row;
            }
            return n;
        };
        int current = 0;
        size_t ready = pick(picked[current]);
        while (ready > 0 || next < count) {
            const size_t upcoming = pick(picked[1 - current]);
            for (size_t i = 0; i < ready; ++i)
                values[i] = value(picked[current][i]);
            if (ready > 0 && !take(static_cast<const double*>(values), ready))
                return true;
            current = 1 - current;
            ready = upcoming;
        }
        return true;
    }

    // --- Indexes. Definitions stay with the table; the indexes themselves
    // are built when it opens (or at once, when it is open).
    //
    // The operations on the current index, its key searches and its ranges
    // are virtual, so that a derived table can put a rule of its own around
    // them (a leading column it fills in itself, a default index) that holds
    // for callers holding a TCustomMemTable too. The base implementations
    // never call one another through the virtual table: overriding one
    // changes that one alone.
    void AddIndex(const QString& name, const QString& fields, TIndexOptions options = 0,
                  TIndexRecordFilter filter = {});
    void DeleteIndexes();
    // The current index by name ("" for the natural order); an unknown name
    // raises EDatabaseError naming it.
    virtual QString IndexName() const { return FIndexName; }
    virtual void SetIndexName(const QString& name);
    // The current index by field list; an index over exactly these fields is
    // used, or one is made for them. An index made here lasts until another
    // field list replaces it, so that sorting by one column after another
    // does not leave an index per column for every post to maintain.
    virtual QString IndexFieldNames() const;
    virtual void SetIndexFieldNames(const QString& fields);
    // The fields of the current index as built (whatever an override of
    // IndexFieldNames shows); the key buffer is read by these.
    std::vector<TField*> IndexFields() const;
    bool EnableIndexes() const { return FEnableIndexes; }
    void SetEnableIndexes(bool value);

    // --- Key search on the current index. Fewer values than index fields
    // make a partial key. Raise EDatabaseError without a current index.
    virtual bool FindKey(const std::vector<Variant>& keyValues);
    // The first record whose key is at least the given one; at the end (Eof)
    // when there is none.
    virtual void FindNearest(const std::vector<Variant>& keyValues);
    // The key buffer's values (SetKey or EditKey, then assign fields) for
    // the same searches.
    virtual bool GotoKey();
    virtual void GotoNearest();
    // The search buffer is kept apart from the range buffers below.
    void SetKey() override;
    void EditKey() override;

    // --- Ranges on the current index: only records whose keys lie between
    // start and end (inclusive, partial keys allowed) are in view.
    virtual void SetRange(const std::vector<Variant>& startValues, const std::vector<Variant>& endValues);
    virtual void CancelRange();
    bool RangeActive() const { return FRangeActive; }
    // The same through key buffers of their own: SetRangeStart and
    // SetRangeEnd empty the start or end buffer and switch to dsSetKey to
    // assign it (EditRangeStart and EditRangeEnd keep what it held);
    // ApplyRange sets the range from each buffer's leading assigned index
    // fields.
    virtual void SetRangeStart();
    virtual void SetRangeEnd();
    virtual void EditRangeStart();
    virtual void EditRangeEnd();
    virtual void ApplyRange();

    // --- Files (format in MemTableFile.h). Saving writes every row with the
    // field and index definitions to a temporary file that replaces the old
    // one only when complete. Loading reads and checks the whole file first:
    // a damaged file raises EDatabaseError and leaves the table as it was;
    // otherwise the table is (re)opened with the file's definitions and rows.
    // The tag travels with the rows (see ReadMemTableFileTag).
    void SaveToFile(const QString& fileName, const QString& tag = QString()) const;
    virtual void LoadFromFile(const QString& fileName);

    // --- Local master-detail: only rows whose detail fields equal the
    // master's current master fields are in view (all rows while the master
    // is closed, none while it is empty). Detail fields default to the
    // master fields' names. New rows take the master's values.
    TDataSource* MasterSource() const;
    void SetMasterSource(TDataSource* source);
    const QString& MasterFields() const { return FMasterFields; }
    void SetMasterFields(const QString& fields);
    const QString& DetailFields() const { return FDetailFields; }
    void SetDetailFields(const QString& fields);

    // --- Attachment: a table attached to another shares its rows (and field
    // definitions) while keeping its own cursor, indexes, ranges and filters;
    // changes through either are seen by both. The master must be open when
    // the attached table opens; closing the master closes its attached tables.
    TCustomMemTable* AttachedTo() const { return FAttachedTo; }
    void SetAttachedTo(TCustomMemTable* master);
    void Detach() { SetAttachedTo(nullptr); }
    // How many tables may attach to this one.
    int AttachMaxCount() const { return FAttachMaxCount; }
    void SetAttachMaxCount(int count) { FAttachMaxCount = count; }
    int AttachedCount() const { return static_cast<int>(FAttached.size()); }

    // --- Switches kept for the engine above.
    bool AutoReposition() const { return FAutoReposition; }
    void SetAutoReposition(bool value) { FAutoReposition = value; }
    bool Standalone() const { return FStandalone; }
    void SetStandalone(bool value) { FStandalone = value; }
    bool RecalcOnFetch() const { return FRecalcOnFetch; }
    void SetRecalcOnFetch(bool value) { FRecalcOnFetch = value; }
    bool RecalcOnIndex() const { return FRecalcOnIndex; }
    void SetRecalcOnIndex(bool value) { FRecalcOnIndex = value; }
    TMemTablePerformance Performance() const { return FPerformance; }
    void SetPerformance(TMemTablePerformance value) { FPerformance = value; }

protected:
    // Without definitions, the persistent fields define the table.
    void InternalInitFieldDefs() override;
    void InternalOpen() override;
    void InternalClose() override;
    int InternalViewCount() const override;
    TRecordId InternalViewRow(int position) const override;
    int InternalViewPosition(TRecordId row) const override;
    bool InternalRowExists(TRecordId row) const override;
    Variant InternalGetValue(TRecordId row, const TField& field) const override;
    void InternalReadRecord(TRecordId row, std::vector<Variant>& record) const override;
    bool InternalReadsInPlace() const override { return true; }
    TValueView InternalViewValue(TRecordId row, const TField& field) const override;
    TRecordId InternalInsertRow(const std::vector<Variant>& values, int position) override;
    void InternalUpdateRow(TRecordId row, const std::vector<Variant>& values) override;
    void InternalDeleteRow(TRecordId row) override;
    void InternalRefreshView() override;
    // By a search of the current index where it can tell (see
    // IndexedLocate), else by a scan of the view.
    int InternalLocate(const std::vector<TField*>& fields, const std::vector<Variant>& values,
                       TLocateOptions options) override;

    TMemRowStore& Store() const { return *FStore; }
    // The store column of a stored number of this table; -1 for any other field.
    int NumberColumn(const TField& field) const;
    // A row's stored number as TField::AsFloat reads it (null as 0).
    double StoredNumber(TMemRowStore::TRowHandle row, int column) const;
    // The store column a field's values live in; -1 for fields not stored.
    int StoreColumn(const TField& field) const
    {
        const int index = field.Index();
        return index >= 0 && static_cast<size_t>(index) < FStoreColumn.size() ? FStoreColumn[static_cast<size_t>(index)]
                                                                              : -1;
    }
    // The store column a field's values live in; -1 for fields not stored.
    // Whether a bulk load may write rows straight into the store (values by
    // StoreColumn) and make the view once at the end: the indexes are off
    // and no other table, filter or search watches the rows.
    bool CanLoadIntoStore() const;
    TMemIndex* CurrentIndex() const { return FCurrentIndex; }
    // The row whose key in the named index equals keyValues (the first of
    // equal ones), NoRecord without one: a search in any index, the cursor,
    // the view and the current index left alone.
    TRecordId FindIndexedRow(const QString& indexName, const std::vector<Variant>& keyValues);
    // Every row whose key in the named index equals keyValues (a partial key
    // over the first parts will do), in index order; as FindIndexedRow, the
    // cursor, the view and the current index are left alone. A limit above 0
    // stops after that many rows.
    std::vector<TRecordId> IndexedRows(const QString& indexName, const std::vector<Variant>& keyValues,
                                       size_t limit = 0);
    // The index made for the current field-list order ("" for one that was
    // there before); the one made for the previous order is dropped.
    void KeepSortIndex(const QString& name);

    // The master moved or changed: by default the view follows it locally.
    virtual void MasterChanged();
    TDataSet* MasterDataSetOf() const override;
    // New rows of a detail take the master's values first.
    void DoOnNewRecord() override;

private:
    struct TIndexEntry
    {
        QString Name;
        TIndexRecordFilter Filter;
        std::unique_ptr<TMemIndex> Index; // while open
    };

    void RebuildView();
    // Sorts the index, or takes a saved order of its rows (row numbers in
    // natural order).
    void BuildIndex(TIndexEntry& entry, const std::vector<uint32_t>* savedOrder = nullptr);
    void BuildIndexes();
    TIndexEntry* FindIndexEntry(const QString& name);
    TMemIndex& RequireIndex() const;
    void SwitchIndex(const QString& name);
    // Drops an index that is not the current one.
    void DropIndex(const QString& name);
    // Where a row of the current index goes in the view (binary search).
    int SortedViewPosition(const std::byte* row) const;
    bool InRange(const std::byte* row) const;
    void PlaceInView(TRecordId row);
    // Whether an update from previous to stored values leaves the row where
    // it is in the entry's index: no filter, and the key's values the same.
    static bool KeepsPlace(const TIndexEntry& entry, const std::vector<Variant>& previous,
                           const std::vector<Variant>& stored);
    int SearchView(const std::vector<Variant>& keyValues, bool& found) const;
    // Locate's answer from the current index when its leading fields are the
    // text fields sought, whole values in its letter case: the first match
    // in the view, -1 for none; NotIndexed when the index cannot tell.
    static constexpr int NotIndexed = -2;
    int IndexedLocate(const std::vector<TField*>& fields, const std::vector<Variant>& values,
                      TLocateOptions options) const;
    // Key buffers: the search key and the two ends of a range. The one being
    // (or last) assigned lives in the data set's key buffer, the others here.
    enum TKeyKind { kkSearch, kkRangeStart, kkRangeEnd, kkCount };
    void EditKeyOf(TKeyKind kind, bool empty);
    std::vector<Variant> KeyBufferOf(TKeyKind kind) const;
    // The leading assigned index fields of a key buffer; leaves dsSetKey.
    std::vector<Variant> KeyValuesFromBuffer(TKeyKind kind);
    // Record values (by field index) placed into the store's columns over base.
    std::vector<Variant> StoreValues(const std::vector<Variant>& values, std::vector<Variant> base) const;
    // The master's values for the detail columns; false when the master
    // shows no row (the detail then shows none either).
    bool ReadMasterKeys();
    bool PassesMaster(const std::byte* row) const;
    void LoadImage(const struct TMemTableImage& image);
    void CopyRows(const TMemRowStore& rows, const struct TMemTableImage& image);

    class TStoreListener;
    friend class TStoreListener;
    // Keeping indexes and view current when another table changed the rows.
    void OtherInserted(TRecordId row);
    void OtherUpdated(TRecordId row);
    void OtherRemoving(TRecordId row);
    void OtherCleared();
    void RemoveFromIndexesAndView(TRecordId row);

    std::shared_ptr<TMemRowStore> FStore;
    std::unique_ptr<TStoreListener> FListener;
    TCustomMemTable* FAttachedTo = nullptr;
    std::vector<TCustomMemTable*> FAttached;
    int FAttachMaxCount = 1;
    std::vector<int> FStoreColumn;               // by field index, -1 for calculated fields
    std::vector<TMemRowStore::TRowHandle> FView; // rows in view order
    mutable int FLastViewPosition = 0;           // the way a walk goes
    // The row last given by InternalViewRow, read right after it.
    mutable TRecordId FShownId = NoRecord;
    mutable TMemRowStore::TRowHandle FShownRow = nullptr;
    TMemRowStore::TRowHandle HandleOf(TRecordId row) const;

    std::vector<TIndexEntry> FIndexes;
    QString FIndexName;
    QString FSortIndex;
    TMemIndex* FCurrentIndex = nullptr;
    bool FEnableIndexes = true;
    bool FRangeActive = false;
    std::vector<Variant> FRangeStart, FRangeEnd;
    TKeyKind FKeyKind = kkSearch;
    std::vector<Variant> FKeyBuffers[kkCount];

    class TMasterLink;
    std::unique_ptr<TMasterLink> FMasterLink;
    QString FMasterFields;
    QString FDetailFields;
    enum class TMasterFilter { None, Keys, Nothing } FMasterFilter = TMasterFilter::None;
    std::vector<int> FDetailColumns;
    std::vector<TMemRowStore::TKey> FMasterKeys;

    bool FAutoReposition = false;
    bool FStandalone = false;
    bool FRecalcOnFetch = true;
    bool FRecalcOnIndex = false;
    TMemTablePerformance FPerformance = mtpfFast;
};
