#include "MemIndex.h"

#include "Exceptions.h"

#include <algorithm>

TMemIndex::TMemIndex(const TMemRowStore& store, const QString& name, const QString& fields,
                     TIndexOptions options, std::vector<int> columns, TRowFilter filter)
    : FStore(store), FName(name), FFields(fields), FOptions(options), FColumns(std::move(columns)),
      FFilter(std::move(filter))
{
}

int TMemIndex::Compare(TRowHandle a, TRowHandle b) const
{
    const bool caseInsensitive = FOptions & ixCaseInsensitive;
    for (int column : FColumns)
        if (const int c = FStore.Compare(a, b, column, caseInsensitive))
            return (FOptions & ixDescending) ? -c : c;
    return 0;
}

int TMemIndex::CompareKey(TRowHandle row, const TKeys& keys) const
{
    const bool caseInsensitive = FOptions & ixCaseInsensitive;
    const size_t parts = std::min(keys.size(), FColumns.size());
    for (size_t i = 0; i < parts; ++i)
        if (const int c = FStore.CompareKey(row, FColumns[i], keys[i], caseInsensitive))
            return (FOptions & ixDescending) ? -c : c;
    return 0;
}

TMemIndex::TKeys TMemIndex::MakeKeys(const std::vector<Variant>& values) const
{
    TKeys keys;
    const size_t parts = std::min(values.size(), FColumns.size());
    for (size_t i = 0; i < parts; ++i)
        keys.push_back(FStore.MakeKey(FColumns[i], values[i]));
    return keys;
}

bool TMemIndex::Admits(TRowHandle row) const
{
    return !FFilter || FFilter(TMemRowStore::IdOf(row));
}

void TMemIndex::KeyViolation() const
{
    throw EDatabaseError(QStringLiteral("Key violation: a record with this key already exists in index '%1'").arg(FName));
}

void TMemIndex::SortRows(std::vector<TRowHandle>& rows) const
{
    // The first field's value (or text prefix) is taken out of every row
    // once, so most comparisons touch only this contiguous array; rows with
    // equal keys keep their natural order.
    struct TEntry
    {
        uint64_t Prefix;
        TRowHandle Row;
        uint32_t Seq;
        bool Null;
    };
    const bool caseInsensitive = FOptions & ixCaseInsensitive;
    const bool descending = FOptions & ixDescending;
    const int first = FColumns.front();
    const bool exact = FColumns.size() == 1 && FStore.PrefixIsExact(first);
    std::vector<TEntry> entries;
    entries.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        bool isNull = false;
        const uint64_t prefix = FStore.SortPrefix(rows[i], first, caseInsensitive, isNull);
        entries.push_back({prefix, rows[i], static_cast<uint32_t>(i), isNull});
    }
    std::sort(entries.begin(), entries.end(), [&](const TEntry& a, const TEntry& b) {
        int c = 0;
        if (a.Null != b.Null)
            c = a.Null ? -1 : 1;
        else if (a.Prefix != b.Prefix)
            c = a.Prefix < b.Prefix ? -1 : 1;
        else if (!exact)
            c = Compare(a.Row, b.Row) * (descending ? -1 : 1);
        if (c != 0)
            return descending ? c > 0 : c < 0;
        return a.Seq < b.Seq;
    });
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i] = entries[i].Row;
}

TMemIndex::TSortKey TMemIndex::SortKeyOf(TRowHandle row) const
{
    bool isNull = false;
    const uint64_t prefix = FStore.SortPrefix(row, FColumns.front(), FOptions & ixCaseInsensitive, isNull);
    return {!isNull, prefix};
}

size_t TMemIndex::LowerBound(const TKeys& keys) const
{
    if (keys.empty())
        return 0;
    const TSortKey wanted{!keys.front().Null,
                          FStore.KeyPrefix(FColumns.front(), keys.front(), FOptions & ixCaseInsensitive)};
    const bool descending = FOptions & ixDescending;
    size_t first = 0;
    size_t count = FRows.size();
    while (count > 0) {
        const size_t half = count / 2;
        const size_t middle = first + half;
        const TSortKey& have = FSortKeys[middle];
        bool less;
        if (have != wanted)
            less = descending ? wanted < have : have < wanted;
        else
            less = CompareKey(FRows[middle], keys) < 0;
        if (less) {
            first = middle + 1;
            count -= half + 1;
        } else {
            count = half;
        }
    }
    return first;
}

void TMemIndex::Rebuild()
{
    std::vector<TRowHandle> rows;
    rows.reserve(FStore.Order().size());
    for (uint64_t id : FStore.Order()) {
        const TRowHandle row = FStore.Handle(id);
        if (Admits(row))
            rows.push_back(row);
    }
    SortRows(rows);
    if (Unique()) {
        const auto duplicate = std::adjacent_find(rows.begin(), rows.end(),
                                                  [this](TRowHandle a, TRowHandle b) { return Compare(a, b) == 0; });
        if (duplicate != rows.end())
            KeyViolation();
    }
    FRows = std::move(rows);
    FSortKeys.clear();
    FSortKeys.reserve(FRows.size());
    for (TRowHandle row : FRows)
        FSortKeys.push_back(SortKeyOf(row));
}

void TMemIndex::Restore(std::vector<TRowHandle> rows)
{
    std::vector<TSortKey> keys;
    keys.reserve(rows.size());
    const bool descending = FOptions & ixDescending;
    for (size_t i = 0; i < rows.size(); ++i) {
        keys.push_back(SortKeyOf(rows[i]));
        if (!Admits(rows[i])) {
            Rebuild();
            return;
        }
        if (i == 0)
            continue;
        // In order: by prefix, and by the full key where prefixes tie.
        const bool prefixOrdered = descending ? keys[i] <= keys[i - 1] : keys[i - 1] <= keys[i];
        const int c = keys[i] == keys[i - 1] ? Compare(rows[i - 1], rows[i]) : (prefixOrdered ? -1 : 1);
        if (c > 0 || (c == 0 && Unique())) {
            Rebuild();
            return;
        }
    }
    FRows = std::move(rows);
    FSortKeys = std::move(keys);
}

void TMemIndex::Add(TRowHandle row)
{
    if (!Admits(row))
        return;
    // After its equals: rows with the same key stay in the order they came.
    const auto at = std::upper_bound(FRows.begin(), FRows.end(), row,
                                     [this](TRowHandle a, TRowHandle b) { return Compare(a, b) < 0; });
    if (Unique() && at != FRows.begin() && Compare(*(at - 1), row) == 0)
        KeyViolation();
    FSortKeys.insert(FSortKeys.begin() + (at - FRows.begin()), SortKeyOf(row));
    FRows.insert(at, row);
}

void TMemIndex::Remove(TRowHandle row)
{
    // By address: the row's values may already have changed.
    const auto it = std::find(FRows.begin(), FRows.end(), row);
    if (it == FRows.end())
        return;
    FSortKeys.erase(FSortKeys.begin() + (it - FRows.begin()));
    FRows.erase(it);
}
