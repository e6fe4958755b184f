#include "MemIndex.h"

#include "Exceptions.h"

#include <algorithm>

namespace {

// How far ahead a walk in index order asks for the memory it will read.
constexpr size_t Ahead = 16;

} // namespace

TMemIndex::TMemIndex(const TMemRowStore& store, const QString& name, const QString& fields,
                     TIndexOptions options, std::vector<int> columns, TRowFilter filter)
    : FStore(store), FName(name), FFields(fields), FOptions(options), FColumns(std::move(columns)),
      FFilter(std::move(filter)), FExact(FColumns.size() == 1 && FStore.PrefixIsExact(FColumns.front()))
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

uint64_t TMemIndex::SortKeyOf(TRowHandle row) const
{
    return FStore.SortKey(row, FColumns.front(), FOptions & ixCaseInsensitive);
}

size_t TMemIndex::LowerBound(const TKeys& keys) const
{
    if (keys.empty())
        return 0;
    const uint64_t wanted = FStore.SortKey(FColumns.front(), keys.front(), FOptions & ixCaseInsensitive);
    size_t first = 0;
    size_t count = FRows.size();
    while (count > 0) {
        const size_t half = count / 2;
        const size_t middle = first + half;
        const uint64_t have = FSortKeys[middle];
        const bool less = have != wanted ? KeyLess(have, wanted) : CompareKey(FRows[middle], keys) < 0;
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
    // The first field's sort key is taken out of every row once and the
    // entries sorted by it alone (ties in natural order), touching no row;
    // then each run of equal keys that may hide different values is sorted
    // by the full comparison, reading only its own few rows.
    struct TEntry
    {
        uint64_t Key;
        uint32_t Seq;
    };
    std::vector<TRowHandle> rows;
    std::vector<TEntry> entries;
    rows.reserve(FStore.Order().size());
    entries.reserve(FStore.Order().size());
    for (uint64_t id : FStore.Order()) {
        const TRowHandle row = FStore.Handle(id);
        if (!Admits(row))
            continue;
        entries.push_back({SortKeyOf(row), static_cast<uint32_t>(rows.size())});
        rows.push_back(row);
    }
    std::sort(entries.begin(), entries.end(), [&](const TEntry& a, const TEntry& b) {
        return a.Key != b.Key ? KeyLess(a.Key, b.Key) : a.Seq < b.Seq;
    });
    const auto byRow = [&](const TEntry& a, const TEntry& b) {
        const int c = Compare(rows[a.Seq], rows[b.Seq]);
        return c != 0 ? c < 0 : a.Seq < b.Seq;
    };
    for (auto run = entries.begin(); run != entries.end();) {
        const auto end = std::find_if(run + 1, entries.end(), [&](const TEntry& e) { return e.Key != run->Key; });
        const bool exact = ExactTie(run->Key);
        if (!exact && end - run > 1)
            std::sort(run, end, byRow);
        if (Unique() && end - run > 1) {
            const auto same = [&](const TEntry& a, const TEntry& b) { return exact || Compare(rows[a.Seq], rows[b.Seq]) == 0; };
            if (std::adjacent_find(run, end, same) != end)
                KeyViolation();
        }
        run = end;
    }
    FRows.resize(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        FRows[i] = rows[entries[i].Seq];
    rows = {};
    FSortKeys.resize(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        FSortKeys[i] = entries[i].Key;
}

std::vector<uint32_t> TMemIndex::RowNumbers(const std::vector<uint32_t>& numberOfId, uint64_t firstId) const
{
    std::vector<uint32_t> numbers(FRows.size());
    for (size_t i = 0; i < FRows.size(); ++i) {
        if (i + Ahead < FRows.size())
            __builtin_prefetch(FRows[i + Ahead]);
        numbers[i] = numberOfId[static_cast<size_t>(TMemRowStore::IdOf(FRows[i]) - firstId)];
    }
    return numbers;
}

uint64_t TMemIndex::KeyHash(TRowHandle row) const
{
    uint64_t hash = 0;
    for (int column : FColumns)
        hash = FStore.KeyHash(row, column, FOptions & ixCaseInsensitive, hash);
    return hash;
}

void TMemIndex::Restore(const std::vector<uint32_t>& order)
{
    const std::vector<uint64_t>& ids = FStore.Order();
    if (FFilter || order.size() != ids.size() || ids.empty()) {
        Rebuild();
        return;
    }
    // What the check needs of each row is taken in natural order, the order
    // rows lie in memory: its handle, its sort key and, where equal sort
    // keys may hide different values, a hash of its index key. Rows whose
    // sort keys tie are then read again only when their hashes differ.
    struct TRowInfo
    {
        TRowHandle Row;
        uint64_t Key;
        uint64_t Hash;
    };
    std::vector<TRowInfo> info(ids.size());
    for (size_t r = 0; r < ids.size(); ++r) {
        const TRowHandle row = FStore.Handle(ids[r]);
        info[r] = {row, SortKeyOf(row), FExact ? 0 : KeyHash(row)};
    }
    std::vector<bool> seen(ids.size());
    std::vector<TRowHandle> rows(order.size());
    std::vector<uint64_t> sortKeys(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        if (i + Ahead < order.size() && order[i + Ahead] < info.size())
            __builtin_prefetch(&info[order[i + Ahead]]);
        const uint32_t r = order[i];
        if (r >= ids.size() || seen[r]) {
            Rebuild();
            return;
        }
        seen[r] = true;
        const TRowInfo& row = info[r];
        rows[i] = row.Row;
        sortKeys[i] = row.Key;
        if (i == 0)
            continue;
        const uint32_t p = order[i - 1];
        const TRowInfo& previous = info[p];
        if (previous.Key != row.Key) {
            if (KeyLess(previous.Key, row.Key))
                continue;
            Rebuild();
            return;
        }
        int c = 0;
        if (!ExactTie(row.Key) && (FExact || previous.Hash != row.Hash))
            c = Compare(previous.Row, row.Row);
        // Equal keys: not in a unique index, and in natural order.
        if (c > 0 || (c == 0 && (Unique() || p > r))) {
            Rebuild();
            return;
        }
    }
    FRows = std::move(rows);
    FSortKeys = std::move(sortKeys);
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
