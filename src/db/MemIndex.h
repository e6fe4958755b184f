// One index of the in-memory table: the rows admitted by its filter, sorted
// by its fields (nulls first; descending and case-insensitive per index),
// ties kept in the order rows were added. Searches compare typed values in
// the rows, with keys converted once.
#pragma once

#include "IndexDefs.h"
#include "MemRowStore.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

class TMemIndex
{
public:
    using TRowHandle = TMemRowStore::TRowHandle;
    using TRowFilter = std::function<bool(uint64_t id)>;
    using TKeys = std::vector<TMemRowStore::TKey>;

    // columns holds at least one store column (the table refuses an index over no field).
    TMemIndex(const TMemRowStore& store, const QString& name, const QString& fields, TIndexOptions options,
              std::vector<int> columns, TRowFilter filter);

    const QString& Name() const { return FName; }
    const QString& Fields() const { return FFields; }
    TIndexOptions Options() const { return FOptions; }
    bool Unique() const { return FOptions & (ixUnique | ixPrimary); }
    int PartCount() const { return static_cast<int>(FColumns.size()); }
    int Column(int part) const { return FColumns[static_cast<size_t>(part)]; }
    size_t Count() const { return FEntries.size(); }
    TRowHandle Row(size_t position) const { return FEntries[position].Row; }

    // Sorts every admitted row of the store; raises on a duplicate in a
    // unique index.
    void Rebuild();
    // Takes a saved order (row numbers in the store's natural order) when it
    // is one this index would have: every row once, keys in order, ties in
    // natural order, unique where required; otherwise rebuilds.
    void Restore(const std::vector<uint32_t>& order);
    // Keeps the index current for one row; Add raises on a duplicate key
    // of a unique index (the index is left unchanged).
    void Add(TRowHandle row);
    void Remove(TRowHandle row);

    // The rows in index order as numbers, given each row's number by
    // identifier from firstId on.
    std::vector<uint32_t> RowNumbers(const std::vector<uint32_t>& numberOfId, uint64_t firstId) const;

    // Key values for the first parts (fewer than PartCount: a partial key).
    TKeys MakeKeys(const std::vector<class Variant>& values) const;
    // Row against key over the key's parts.
    int CompareKey(TRowHandle row, const TKeys& keys) const;
    int Compare(TRowHandle a, TRowHandle b) const;
    bool Admits(TRowHandle row) const;
    // The first row whose key is not less than keys (UpperBound: greater
    // than keys): a search that reads rows only where the first field's
    // sort key does not decide.
    size_t LowerBound(const TKeys& keys) const;
    size_t UpperBound(const TKeys& keys) const;

private:
    [[noreturn]] void KeyViolation() const;
    // Whether equal sort keys mean equal index keys.
    bool ExactTie(uint64_t key) const { return FExact && key > 1; }
    // Whether equal sort keys mean equal first fields, so a key of that
    // field alone needs no row read to tell.
    bool FirstFieldTie(uint64_t key, const TKeys& keys) const { return keys.size() == 1 && FFirstExact && key > 1; }
    // Sort key order, descending where the index is.
    bool KeyLess(uint64_t a, uint64_t b) const { return (FOptions & ixDescending) ? b < a : a < b; }

    const TMemRowStore& FStore;
    QString FName;
    QString FFields;
    TIndexOptions FOptions;
    std::vector<int> FColumns;
    TRowFilter FFilter;
    bool FExact = false;
    bool FFirstExact = false; // the first field's sort key is exact
    // The rows in index order with the first field's sort key
    // (TMemRowStore::SortKey) beside each, so searches and sorts mostly read
    // this array alone.
    struct TEntry
    {
        uint64_t Key;
        TRowHandle Row;
    };
    std::vector<TEntry> FEntries;
    uint64_t SortKeyOf(TRowHandle row) const;
    uint64_t KeyHash(TRowHandle row) const;
    // Sorts entries with equal keys by the full key, then by natural order;
    // usualKeys: the keys are SortKeyOf's (else any keys that order rows as
    // Compare does where they differ).
    void SortTies(std::vector<TEntry>& entries, bool usualKeys) const;
    // Rebuild by the first field's sort key, then its ties by the full key.
    void RebuildByKeys();
    // Rebuild of an index whose first field is text, keyed past the prefix
    // every text shares.
    void RebuildByTexts();
    // The order of two rows past the first field, descending where the index is.
    int CompareRest(TRowHandle a, TRowHandle b) const;
    template <typename Less>
    size_t Bound(const TKeys& keys, Less less) const;
    // Narrows a search for the end of the entries before wanted to a few
    // places around a guess from the spread of the keys.
    template <typename Before>
    void NarrowByGuess(uint64_t wanted, Before before, size_t& first, size_t& count) const;
};
