#include "MemIndex.h"

#include "Exceptions.h"

#include <QStringView>

#include <algorithm>
#include <cstdint>

namespace {

// How far ahead a walk in index order asks for the memory it will read.
constexpr size_t Ahead = 16;

// How long a prefix shared by every text a build looks for; texts alike
// further are told apart by their rows.
constexpr uint32_t MaxSharedUnits = 64;

// The units from start on, zero-padded, in one value that orders as they
// do: eight of them where every unit fits a byte, else four.
uint64_t Chunk(const char16_t* units, uint32_t count, uint32_t start, bool narrow)
{
    const uint32_t width = narrow ? 8 : 4;
    const int bits = narrow ? 8 : 16;
    uint64_t chunk = 0;
    for (uint32_t i = start; i < start + width; ++i)
        chunk = (chunk << bits) | (i < count ? units[i] : 0);
    return chunk;
}

// Unit i of a chunk from its start (zero past the chunk).
char16_t UnitOfChunk(uint64_t chunk, uint32_t i, bool narrow)
{
    const uint32_t width = narrow ? 8 : 4;
    const int bits = narrow ? 8 : 16;
    if (i >= width)
        return 0;
    return static_cast<char16_t>((chunk >> (bits * static_cast<int>(width - 1 - i))) & ((uint64_t(1) << bits) - 1));
}

} // namespace

TMemIndex::TMemIndex(const TMemRowStore& store, const QString& name, const QString& fields, TIndexOptions options,
                     std::vector<int> columns, TRowFilter filter)
    : FStore(store), FName(name), FFields(fields), FOptions(options), FColumns(std::move(columns)),
      FFilter(std::move(filter)), FExact(FColumns.size() == 1 && FStore.PrefixIsExact(FColumns.front())),
      FFirstExact(FStore.PrefixIsExact(FColumns.front()))
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

bool TMemIndex::Admits(TRowHandle row) const { return !FFilter || FFilter(TMemRowStore::IdOf(row)); }

void TMemIndex::KeyViolation() const
{
    throw EDatabaseError(
        QStringLiteral("Key violation: a record with this key already exists in index '%1'").arg(FName));
}

uint64_t TMemIndex::SortKeyOf(TRowHandle row) const
{
    return FStore.SortKey(row, FColumns.front(), FOptions & ixCaseInsensitive);
}

template <typename Less>
size_t TMemIndex::Bound(const TKeys& keys, Less less) const
{
    const uint64_t wanted = FStore.SortKey(FColumns.front(), keys.front(), FOptions & ixCaseInsensitive);
    size_t first = 0;
    size_t count = FEntries.size();
    // Where exact keys (numbers, dates) are spread about evenly, as
    // identifiers are, the place is guessed from the key and the search
    // gallops out from there: a few reads near one place instead of a
    // wait for memory at every step of a search over the whole index.
    if (FFirstExact && count > 2)
        NarrowByGuess(
            wanted, [&](size_t i) { return less(FEntries[i], wanted); }, first, count);
    while (count > 0) {
        const size_t half = count / 2;
        const size_t middle = first + half;
        // Both places the next step may look at are asked for now.
        TMemRowStore::Prefetch(FEntries.data() + first + half / 2);
        TMemRowStore::Prefetch(FEntries.data() + middle + 1 + (count - half - 1) / 2);
        const TEntry& have = FEntries[middle];
        if (less(have, wanted)) {
            first = middle + 1;
            count -= half + 1;
        } else {
            count = half;
        }
    }
    return first;
}

template <typename Before>
void TMemIndex::NarrowByGuess(uint64_t wanted, Before before, size_t& first, size_t& count) const
{
    // before(i) holds for a leading run of the entries; the answer is the
    // end of that run, which lies in [first, first + count) afterwards.
    const size_t size = FEntries.size();
    const double low = static_cast<double>(FEntries.front().Key);
    const double high = static_cast<double>(FEntries.back().Key);
    const double share = high != low ? (static_cast<double>(wanted) - low) / (high - low) : 0.5;
    const size_t guess = static_cast<size_t>(std::clamp(share, 0.0, 1.0) * static_cast<double>(size - 1));
    size_t step = 1;
    if (before(guess)) {
        size_t from = guess + 1; // the run goes on at least to here
        while (from + step - 1 < size && before(from + step - 1)) {
            from += step;
            step *= 2;
        }
        first = from;
        count = std::min(from + step - 1, size) - from;
    } else {
        size_t to = guess; // the run ends at or before here
        while (to >= step && !before(to - step)) {
            to -= step;
            step *= 2;
        }
        first = to >= step ? to - step + 1 : 0;
        count = to - first;
    }
}

size_t TMemIndex::LowerBound(const TKeys& keys) const
{
    if (keys.empty())
        return 0;
    return Bound(keys, [&](const TEntry& have, uint64_t wanted) {
        if (have.Key != wanted)
            return KeyLess(have.Key, wanted);
        return !FirstFieldTie(wanted, keys) && CompareKey(have.Row, keys) < 0;
    });
}

size_t TMemIndex::UpperBound(const TKeys& keys) const
{
    if (keys.empty())
        return FEntries.size();
    return Bound(keys, [&](const TEntry& have, uint64_t wanted) {
        if (have.Key != wanted)
            return KeyLess(have.Key, wanted);
        return FirstFieldTie(wanted, keys) || CompareKey(have.Row, keys) <= 0;
    });
}

void TMemIndex::SortTies(std::vector<TEntry>& entries, bool usualKeys) const
{
    // Natural order is the order of identifiers unless the store keeps a
    // list; then each row's place is looked up.
    std::vector<uint32_t> place;
    if (FStore.OrderKept()) {
        place.resize(static_cast<size_t>(FStore.EndId() - FStore.FirstId()));
        uint32_t next = 0;
        FStore.ForEachId([&](uint64_t id) { place[static_cast<size_t>(id - FStore.FirstId())] = next++; });
    }
    const auto natural = [&](TRowHandle row) {
        const uint64_t id = TMemRowStore::IdOf(row);
        return place.empty() ? id : place[static_cast<size_t>(id - FStore.FirstId())];
    };
    for (auto run = entries.begin(); run != entries.end();) {
        const auto end = std::find_if(run + 1, entries.end(), [&](const TEntry& e) { return e.Key != run->Key; });
        if (end - run > 1) {
            const bool exact = usualKeys && ExactTie(run->Key);
            std::sort(run, end, [&](const TEntry& a, const TEntry& b) {
                if (!exact)
                    if (const int c = Compare(a.Row, b.Row))
                        return c < 0;
                return natural(a.Row) < natural(b.Row);
            });
            if (Unique()) {
                const auto same = [&](const TEntry& a, const TEntry& b) { return exact || Compare(a.Row, b.Row) == 0; };
                if (std::adjacent_find(run, end, same) != end)
                    KeyViolation();
            }
        }
        run = end;
    }
}

void TMemIndex::Rebuild()
{
    if (FStore.IsText(FColumns.front()))
        RebuildByTexts();
    else
        RebuildByKeys();
}

int TMemIndex::CompareRest(TRowHandle a, TRowHandle b) const
{
    const bool caseInsensitive = FOptions & ixCaseInsensitive;
    for (size_t i = 1; i < FColumns.size(); ++i)
        if (const int c = FStore.Compare(a, b, FColumns[i], caseInsensitive))
            return (FOptions & ixDescending) ? -c : c;
    return 0;
}

void TMemIndex::RebuildByTexts()
{
    // Texts often share a long prefix (a word and a number), which leaves
    // the usual sort key (the first four characters) alike for every row and
    // the sort one long tie. So the prefix all texts share is found first,
    // and the entries are sorted on a key taken just past it; only equal
    // keys read their rows. Nothing but the entries is allocated: each
    // row's text is read in place, in natural order (the order rows lie in
    // memory).
    const int column = FColumns.front();
    const bool caseInsensitive = FOptions & ixCaseInsensitive;
    std::vector<TEntry> entries;
    entries.reserve(static_cast<size_t>(FStore.Count()));
    char16_t prefix[MaxSharedUnits];
    uint32_t shared = 0;
    bool anyText = false;
    size_t nulls = 0;
    FStore.ForEachId([&](uint64_t id) {
        const TRowHandle row = FStore.Handle(id);
        if (!Admits(row))
            return;
        entries.push_back({0, row});
        if (FStore.IsNull(row, column)) {
            ++nulls;
        } else if (!anyText) {
            anyText = true;
            shared = FStore.SortTextUnits(row, column, caseInsensitive, 0, MaxSharedUnits, prefix);
        } else if (shared > 0) {
            char16_t units[MaxSharedUnits];
            const uint32_t n = FStore.SortTextUnits(row, column, caseInsensitive, 0, shared, units);
            shared = static_cast<uint32_t>(std::mismatch(prefix, prefix + n, units).first - prefix);
        }
    });

    // Eight characters past the prefix where all of them fit a byte, else four.
    const auto keyPast = [&](bool narrow) {
        const uint32_t width = narrow ? 8 : 4;
        for (TEntry& entry : entries) {
            char16_t units[8];
            const uint32_t n = FStore.SortTextUnits(entry.Row, column, caseInsensitive, shared, width, units);
            if (narrow && std::any_of(units, units + n, [](char16_t unit) { return unit > 0xFF; }))
                return false;
            entry.Key = Chunk(units, n, 0, narrow);
        }
        return true;
    };
    const bool narrow = keyPast(true);
    if (!narrow)
        keyPast(false);
    // Nulls and empty texts both have key 0; the ties put nulls first.
    std::sort(entries.begin(), entries.end(), [&](const TEntry& a, const TEntry& b) { return KeyLess(a.Key, b.Key); });
    SortTies(entries, false);

    // The entries keep the first field's usual sort key: its first four
    // units, which are the shared prefix's and then the key's. Nulls lie
    // first, or last where the index descends.
    const size_t firstText = (FOptions & ixDescending) ? 0 : nulls;
    const size_t endText = firstText + (entries.size() - nulls);
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i < firstText || i >= endText) {
            entries[i].Key = 0;
            continue;
        }
        char16_t units[4];
        for (uint32_t u = 0; u < 4; ++u)
            units[u] = u < shared ? prefix[u] : UnitOfChunk(entries[i].Key, u - shared, narrow);
        entries[i].Key = TMemRowStore::TextSortKey(units, 4);
    }
    FEntries = std::move(entries);
}

void TMemIndex::RebuildByKeys()
{
    // The first field's sort key is taken out of every row once and the
    // entries sorted by it alone, touching no row; then each run of equal
    // keys is put in order, reading only its own few rows.
    std::vector<TEntry> entries;
    entries.reserve(static_cast<size_t>(FStore.Count()));
    FStore.ForEachId([&](uint64_t id) {
        const TRowHandle row = FStore.Handle(id);
        if (Admits(row))
            entries.push_back({SortKeyOf(row), row});
    });
    std::sort(entries.begin(), entries.end(), [&](const TEntry& a, const TEntry& b) { return KeyLess(a.Key, b.Key); });
    SortTies(entries, true);
    FEntries = std::move(entries);
}

std::vector<uint32_t> TMemIndex::RowNumbers(const std::vector<uint32_t>& numberOfId, uint64_t firstId) const
{
    std::vector<uint32_t> numbers(FEntries.size());
    for (size_t i = 0; i < FEntries.size(); ++i) {
        if (i + Ahead < FEntries.size())
            TMemRowStore::Prefetch(FEntries[i + Ahead].Row);
        numbers[i] = numberOfId[static_cast<size_t>(TMemRowStore::IdOf(FEntries[i].Row) - firstId)];
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
    const size_t count = static_cast<size_t>(FStore.Count());
    if (FFilter || order.size() != count || count == 0) {
        Rebuild();
        return;
    }
    // What the check needs of each row is taken in natural order, the order
    // rows lie in memory: its sort key and, where equal sort keys may hide
    // different values, a hash of its index key. Rows whose sort keys tie
    // are then read again only when their hashes differ. Row r is the r-th
    // identifier unless rows were removed or inserted between others.
    const bool dense = !FStore.OrderKept() && FStore.EndId() - FStore.FirstId() == count;
    std::vector<TRowHandle> handles;
    std::vector<uint64_t> keys;
    std::vector<uint64_t> hashes;
    handles.reserve(dense ? 0 : count);
    keys.reserve(count);
    hashes.reserve(FExact ? 0 : count);
    FStore.ForEachId([&](uint64_t id) {
        const TRowHandle row = FStore.Handle(id);
        if (!dense)
            handles.push_back(row);
        keys.push_back(SortKeyOf(row));
        if (!FExact)
            hashes.push_back(KeyHash(row));
    });
    const auto rowAt = [&](uint32_t r) { return dense ? FStore.Handle(FStore.FirstId() + r) : handles[r]; };
    std::vector<bool> seen(count);
    std::vector<TEntry> entries(count);
    for (size_t i = 0; i < count; ++i) {
        if (i + Ahead < count && order[i + Ahead] < count) {
            const uint32_t next = order[i + Ahead];
            TMemRowStore::Prefetch(&keys[next]);
            TMemRowStore::Prefetch(FExact ? nullptr : &hashes[next]);
            FStore.PrefetchSlot(FStore.FirstId() + next);
        }
        const uint32_t r = order[i];
        if (r >= count || seen[r]) {
            Rebuild();
            return;
        }
        seen[r] = true;
        entries[i] = {keys[r], rowAt(r)};
        if (i == 0)
            continue;
        const uint32_t p = order[i - 1];
        if (keys[p] != keys[r]) {
            if (KeyLess(keys[p], keys[r]))
                continue;
            Rebuild();
            return;
        }
        int c = 0;
        if (!ExactTie(keys[r]) && (FExact || hashes[p] != hashes[r]))
            c = Compare(entries[i - 1].Row, entries[i].Row);
        // Equal keys: not in a unique index, and in natural order.
        if (c > 0 || (c == 0 && (Unique() || p > r))) {
            Rebuild();
            return;
        }
    }
    FEntries = std::move(entries);
}

void TMemIndex::Add(TRowHandle row)
{
    if (!Admits(row))
        return;
    // After its equals: rows with the same key stay in the order they came.
    const uint64_t key = SortKeyOf(row);
    const auto at = std::upper_bound(FEntries.begin(), FEntries.end(), key, [&](uint64_t k, const TEntry& e) {
        return k != e.Key ? KeyLess(k, e.Key) : (!ExactTie(k) && Compare(row, e.Row) < 0);
    });
    if (Unique() && at != FEntries.begin() && (at - 1)->Key == key
        && (ExactTie(key) || Compare((at - 1)->Row, row) == 0))
        KeyViolation();
    FEntries.insert(at, {key, row});
}

void TMemIndex::Remove(TRowHandle row)
{
    // Among the entries of its key while the row holds the values it was
    // indexed by; else by address, as its values may already have changed.
    const uint64_t key = SortKeyOf(row);
    auto it = std::lower_bound(FEntries.begin(), FEntries.end(), key, [&](const TEntry& e, uint64_t k) {
        return e.Key != k ? KeyLess(e.Key, k) : (!ExactTie(k) && Compare(e.Row, row) < 0);
    });
    while (it != FEntries.end() && it->Key == key && it->Row != row && (ExactTie(key) || Compare(it->Row, row) == 0))
        ++it;
    if (it == FEntries.end() || it->Row != row)
        it = std::find_if(FEntries.begin(), FEntries.end(), [row](const TEntry& e) { return e.Row == row; });
    if (it != FEntries.end())
        FEntries.erase(it);
}
