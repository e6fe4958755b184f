// The in-memory table: a data set whose rows live in memory, compactly: a
// fixed-size buffer per row for numbers, dates and null flags, strings and
// blobs out of line. Every row has an identifier that survives sorting,
// filtering and moves; the view (order and filter) is a vector of rows, so
// positions are random access.
#pragma once

#include "DataSet.h"

#include <memory>
#include <unordered_map>
#include <vector>

class TMemRowStore;

class TCustomMemTable : public TDataSet
{
    Q_OBJECT
public:
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

    // The current row's identifier; NoRecord without one.
    TRecordId RecordId() const { return CurrentRow(); }

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
    TRecordId InternalInsertRow(const std::vector<Variant>& values, int position) override;
    void InternalUpdateRow(TRecordId row, const std::vector<Variant>& values) override;
    void InternalDeleteRow(TRecordId row) override;
    void InternalRefreshView() override;

    TMemRowStore& Store() const { return *FStore; }

private:
    void RebuildView();
    void InvalidatePositions() const;

    std::unique_ptr<TMemRowStore> FStore;
    std::vector<TRecordId> FView;                               // rows in view order
    mutable std::unordered_map<TRecordId, int> FPositions;      // view position by row, built on demand
    mutable bool FPositionsValid = false;
};
