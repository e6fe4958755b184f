#include "MemRowStore.h"

#include "Exceptions.h"

#include <QVarLengthArray>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr uint32_t MovedOut = 0x80000000u; // the tail lives in a block of its own
constexpr size_t MaxBlock = 0x7FFFFFFFu;

bool IsTextType(TFieldType type) { return type == ftString || type == ftMemo; }
bool IsTailType(TFieldType type) { return IsTextType(type) || type == ftBlob; }

int FixedSize(const TMemRowStore::TColumn& column)
{
    switch (column.Type) {
    case ftBoolean: return 1;
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc: return 4;
    case ftBytes: return std::max(column.Size, 0);
    default: return 8;
    }
}

template <typename T>
void Store(std::byte* p, T value)
{
    std::memcpy(p, &value, sizeof value);
}

// Tail values start with their length (bytes, shifted left once, the low bit
// telling UTF-16 text) as a base-128 varint.
void PutVarint(std::vector<std::byte>& out, uint32_t value)
{
    while (value >= 0x80) {
        out.push_back(std::byte((value & 0x7F) | 0x80));
        value >>= 7;
    }
    out.push_back(std::byte(value));
}

// Bounded read; false when the varint runs past end or beyond 32 bits.
bool GetVarint(const std::byte*& p, const std::byte* end, uint32_t& value)
{
    value = 0;
    for (int shift = 0; shift < 35 && p < end; shift += 7) {
        const uint32_t b = std::to_integer<uint32_t>(*p++);
        if (shift == 28 && b > 0x0F)
            return false;
        value |= (b & 0x7F) << shift;
        if (!(b & 0x80))
            return true;
    }
    return false;
}

uint32_t GetVarint(const std::byte*& p)
{
    uint32_t value = 0;
    for (int shift = 0;; shift += 7) {
        const uint32_t b = std::to_integer<uint32_t>(*p++);
        value |= (b & 0x7F) << shift;
        if (!(b & 0x80))
            return value;
    }
}

char16_t UnitAt(const std::byte* data, bool wide, uint32_t i)
{
    return wide ? TMemRowStore::LoadAs<char16_t>(data + 2 * i) : char16_t(std::to_integer<uint8_t>(data[i]));
}

template <typename T>
int Sign3(T a, T b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

int CompareBytes(const std::byte* a, size_t na, const std::byte* b, size_t nb)
{
    const int c = std::memcmp(a, b, std::min(na, nb));
    return c != 0 ? (c < 0 ? -1 : 1) : Sign3(na, nb);
}

// Order-preserving maps of signed and floating values onto unsigned ones.
uint64_t Biased(int64_t value) { return static_cast<uint64_t>(value) ^ (uint64_t(1) << 63); }

uint64_t Biased(double value)
{
    if (value == 0)
        value = 0; // -0 sorts with +0
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & (uint64_t(1) << 63)) ? ~bits : bits | (uint64_t(1) << 63);
}

// A quick hash of a short run of bytes, eight at a time.
uint64_t HashBytes(const void* data, size_t size, uint64_t seed)
{
    constexpr uint64_t Multiplier = 0x9E3779B97F4A7C15ull;
    const auto* p = static_cast<const unsigned char*>(data);
    uint64_t hash = (seed ^ size) * Multiplier;
    for (; size >= 8; p += 8, size -= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        hash = (hash ^ word) * Multiplier;
        hash ^= hash >> 29;
    }
    uint64_t last = 0;
    std::memcpy(&last, p, size);
    hash = (hash ^ last) * Multiplier;
    return hash ^ (hash >> 32);
}

// Case folding unit by unit as QString's case-insensitive comparison does
// it: a low surrogate after a high one folds the character they make.
char16_t FoldUnit(char16_t unit, char16_t& last)
{
    char32_t ucs4 = unit;
    if (QChar::isLowSurrogate(unit) && QChar::isHighSurrogate(last))
        ucs4 = QChar::surrogateToUcs4(last, unit);
    last = unit;
    const char32_t folded = QChar::toCaseFolded(ucs4);
    return QChar::requiresSurrogates(folded) ? QChar::lowSurrogate(folded) : char16_t(folded);
}

// Sort keys keep 0 for null.
uint64_t NotNullKey(uint64_t prefix) { return std::max<uint64_t>(prefix, 1); }

} // namespace

// Rows come from chunks, so a million rows are not a million allocations;
// freed blocks are kept by size for the next rows. Large rows go to malloc.
// Chunks grow from small, so a small table stays small.
class TMemRowStore::TArena
{
public:
    static constexpr size_t MaxSmall = 512;
    static constexpr size_t FirstChunk = size_t(64) << 10;
    static constexpr size_t LastChunk = size_t(1) << 20;

    ~TArena() { Reset(); }

    std::byte* Allocate(size_t size)
    {
        if (size > MaxSmall) {
            void* block = std::malloc(size);
            if (!block)
                throw std::bad_alloc();
            return static_cast<std::byte*>(block);
        }
        std::byte*& head = FFree[size];
        if (head) {
            std::byte* block = head;
            head = TMemRowStore::LoadAs<std::byte*>(block);
            return block;
        }
        if (FLeft < size)
            NewChunk();
        std::byte* block = FNext;
        FNext += size;
        FLeft -= size;
        return block;
    }

    void Free(std::byte* block, size_t size)
    {
        if (size > MaxSmall) {
            std::free(block);
            return;
        }
        Store(block, FFree[size]);
        FFree[size] = block;
    }

    // Drops every small block at once (large ones are the caller's to free).
    void Reset()
    {
        for (void* chunk : FChunks)
            std::free(chunk);
        FChunks.clear();
        FFree.fill(nullptr);
        FNext = nullptr;
        FLeft = 0;
    }

private:
    void NewChunk()
    {
        const size_t size = std::min(FirstChunk << std::min<size_t>(FChunks.size(), 4), LastChunk);
        void* chunk = std::malloc(size);
        if (!chunk)
            throw std::bad_alloc();
        FChunks.push_back(chunk);
        FNext = static_cast<std::byte*>(chunk);
        FLeft = size;
    }

    std::vector<void*> FChunks;
    std::byte* FNext = nullptr;
    size_t FLeft = 0;
    std::array<std::byte*, MaxSmall + 1> FFree{}; // by exact size
};

TMemRowStore::TMemRowStore() : FArena(std::make_unique<TArena>()) { Stamp(); }

TMemRowStore::~TMemRowStore() { Clear(); }

void TMemRowStore::RemoveListener(TListener* listener)
{
    FListeners.erase(std::remove(FListeners.begin(), FListeners.end(), listener), FListeners.end());
}

void TMemRowStore::SetColumns(const std::vector<TColumn>& columns)
{
    Clear();
    FColumns = columns;
    FOffsets.assign(columns.size(), 0);
    FInTail.assign(columns.size(), 0);
    FTailColumns.clear();
    FNullBytes = (static_cast<int>(columns.size()) + 7) / 8;
    int offset = FormOffset + FNullBytes;
    int tail = 0;
    for (size_t c = 0; c < columns.size(); ++c) {
        if (IsTailType(columns[c].Type)) {
            FInTail[c] = 1;
            FOffsets[c] = tail++;
            FTailColumns.push_back(static_cast<int>(c));
        } else {
            FOffsets[c] = offset;
            offset += FixedSize(columns[c]);
        }
    }
    FFixedEnd = offset;
    FHasTail = tail > 0;
    FViewRead.assign(columns.size(), vrNone);
    for (size_t c = 0; c < columns.size(); ++c)
        switch (columns[c].Type) {
        case ftString:
        case ftMemo: FViewRead[c] = vrText; break;
        case ftSmallint:
        case ftWord:
        case ftInteger:
        case ftAutoInc: FViewRead[c] = vrInt32; break;
        case ftLargeint: FViewRead[c] = vrInt64; break;
        case ftFloat:
        case ftBCD: // held as a double
        case ftDate:
        case ftTime:
        case ftDateTime: FViewRead[c] = vrFloat; break;
        default: break;
        }
}

// ---------------------------------------------------------------- blocks

std::byte* TMemRowStore::NewRow(const std::byte* form, size_t length)
{
    const size_t tail = length - static_cast<size_t>(FFixedEnd - FormOffset);
    // Room for a pointer in the tail, should an update move it out.
    // Blocks are not aligned: every value is read and written by memcpy.
    const size_t size = static_cast<size_t>(FFixedEnd) + std::max(tail, FHasTail ? sizeof(void*) : 0);
    RTL_ASSERT(size <= MaxBlock, QStringLiteral("Row too large"));
    std::byte* row = FArena->Allocate(size);
    Store<uint32_t>(row + SizeOffset, static_cast<uint32_t>(size));
    std::memcpy(row + FormOffset, form, length);
    return row;
}

void TMemRowStore::FreeRow(std::byte* row)
{
    const uint32_t word = TMemRowStore::LoadAs<uint32_t>(row + SizeOffset);
    if (word & MovedOut)
        std::free(TMemRowStore::LoadAs<std::byte*>(row + FFixedEnd));
    FArena->Free(row, word & ~MovedOut);
}

const std::byte* TMemRowStore::Tail(TRowHandle row) const
{
    if (TMemRowStore::LoadAs<uint32_t>(row + SizeOffset) & MovedOut)
        return TMemRowStore::LoadAs<const std::byte*>(row + FFixedEnd) + 8;
    return row + FFixedEnd;
}

void TMemRowStore::Rewrite(std::byte* row, const std::byte* form, size_t length)
{
    const size_t fixed = static_cast<size_t>(FFixedEnd - FormOffset);
    const size_t tail = length - fixed;
    const uint32_t word = TMemRowStore::LoadAs<uint32_t>(row + SizeOffset);
    const uint32_t size = word & ~MovedOut;
    std::byte* moved = (word & MovedOut) ? TMemRowStore::LoadAs<std::byte*>(row + FFixedEnd) : nullptr;
    if (tail <= size - static_cast<size_t>(FFixedEnd)) {
        std::free(moved);
        Store<uint32_t>(row + SizeOffset, size);
        std::memcpy(row + FormOffset, form, length);
        return;
    }
    // The tail outgrew the block: it moves to one of its own, the row stays.
    if (!moved || TMemRowStore::LoadAs<uint32_t>(moved) < tail) {
        auto* bigger = static_cast<std::byte*>(std::malloc(8 + tail));
        if (!bigger)
            throw std::bad_alloc();
        std::free(moved);
        moved = bigger;
        Store<uint32_t>(moved, static_cast<uint32_t>(tail));
    }
    std::memcpy(row + FormOffset, form, fixed);
    std::memcpy(moved + 8, form + fixed, tail);
    Store<std::byte*>(row + FFixedEnd, moved);
    Store<uint32_t>(row + SizeOffset, size | MovedOut);
}

// ---------------------------------------------------------------- writing

void TMemRowStore::Encode(const std::vector<Variant>& values)
{
    RTL_ASSERT(values.size() == FColumns.size(), QStringLiteral("Row value count mismatch"));
    FScratch.assign(static_cast<size_t>(FFixedEnd - FormOffset), std::byte{0});
    std::memset(FScratch.data(), 0xFF, static_cast<size_t>(FNullBytes)); // all null until written
    for (size_t c = 0; c < FColumns.size(); ++c) {
        const Variant& value = values[c];
        if (value.IsEmptyOrNull())
            continue;
        const TColumn& col = FColumns[c];
        std::byte* at = FInTail[c] ? nullptr : FScratch.data() + FOffsets[c] - FormOffset;
        switch (col.Type) {
        case ftString:
        case ftMemo: {
            const QString text = value.AsString();
            const char16_t* units = reinterpret_cast<const char16_t*>(text.utf16());
            const size_t count = static_cast<size_t>(text.size());
            const bool wide = std::any_of(units, units + count, [](char16_t u) { return u > 0xFF; });
            const size_t bytes = wide ? 2 * count : count;
            RTL_ASSERT(bytes <= MaxBlock / 2, QStringLiteral("Text too long"));
            PutVarint(FScratch, static_cast<uint32_t>(bytes << 1) | (wide ? 1u : 0u));
            const size_t start = FScratch.size();
            FScratch.resize(start + bytes);
            if (wide)
                std::memcpy(FScratch.data() + start, units, bytes);
            else
                std::transform(units, units + count, FScratch.data() + start,
                               [](char16_t u) { return std::byte(static_cast<uint8_t>(u)); });
            break;
        }
        case ftBlob: {
            const QByteArray bytes = value.AsBytes();
            RTL_ASSERT(size_t(bytes.size()) <= MaxBlock / 2, QStringLiteral("Blob too long"));
            PutVarint(FScratch, static_cast<uint32_t>(bytes.size()) << 1);
            const auto* data = reinterpret_cast<const std::byte*>(bytes.constData());
            FScratch.insert(FScratch.end(), data, data + bytes.size());
            break;
        }
        case ftBoolean: Store<uint8_t>(at, value.AsBoolean() ? 1 : 0); break;
        case ftSmallint:
        case ftWord:
        case ftInteger:
        case ftAutoInc: Store<int32_t>(at, value.AsInteger()); break;
        case ftLargeint: Store<int64_t>(at, value.AsInt64()); break;
        case ftCurrency: Store<int64_t>(at, value.AsCurrency().Scaled); break;
        case ftDate:
        case ftTime:
        case ftDateTime: Store<double>(at, value.AsDateTime()); break;
        case ftBytes: {
            const QByteArray bytes = value.AsBytes();
            std::memcpy(at, bytes.constData(), static_cast<size_t>(std::min<qsizetype>(bytes.size(), FixedSize(col))));
            break;
        }
        case ftFloat:
        case ftBCD:
        case ftUnknown: Store<double>(at, value.AsDouble()); break;
        }
        FScratch[c / 8] &= std::byte(~(1u << (c % 8)));
    }
}

uint64_t TMemRowStore::Append(std::byte* row, int position)
{
    const uint64_t id = FNextId++;
    Store<uint64_t>(row, id);
    if (position >= 0 && position < Count()) {
        if (!FOrderKept)
            FOrder = Order();
        FOrderKept = true;
        FOrder.insert(FOrder.begin() + position, id);
    } else if (FOrderKept) {
        FOrder.push_back(id);
    }
    FRows.push_back(row); // the next identifier is the next slot
    ++FCount;
    FModified = true;
    return id;
}

uint64_t TMemRowStore::Insert(const std::vector<Variant>& values, int position)
{
    Encode(values); // before anything changes: a conversion error leaves the store as it was
    return Append(NewRow(FScratch.data(), FScratch.size()), position);
}

void TMemRowStore::Update(uint64_t id, const std::vector<Variant>& values)
{
    RTL_ASSERT(Slot(id), QStringLiteral("Unknown row"));
    Encode(values);
    Rewrite(FRows[id - FBaseId], FScratch.data(), FScratch.size());
    FModified = true;
}

void TMemRowStore::Remove(uint64_t id)
{
    if (!Slot(id))
        return;
    std::byte*& row = FRows[id - FBaseId];
    Stamp();
    FreeRow(row);
    row = nullptr;
    if (FOrderKept)
        FOrder.erase(std::find(FOrder.begin(), FOrder.end(), id));
    --FCount;
    FModified = true;
}

void TMemRowStore::Clear()
{
    Stamp();
    if (FCount > 0)
        FModified = true;
    // Small blocks go with their chunks; large ones and moved tails one by one.
    for (std::byte* row : FRows) {
        if (!row)
            continue;
        const uint32_t word = TMemRowStore::LoadAs<uint32_t>(row + SizeOffset);
        if ((word & MovedOut) || (word & ~MovedOut) > TArena::MaxSmall)
            FreeRow(row);
    }
    FArena->Reset();
    FRows.clear();
    FBaseId = FNextId;
    FOrder.clear();
    FOrderKept = false;
    FCount = 0;
}

std::vector<uint64_t> TMemRowStore::Order() const
{
    if (FOrderKept)
        return FOrder;
    std::vector<uint64_t> order;
    order.reserve(static_cast<size_t>(FCount));
    ForEachId([&](uint64_t id) { order.push_back(id); });
    return order;
}

uint64_t TMemRowStore::LastId() const
{
    if (FOrderKept)
        return FOrder.empty() ? 0 : FOrder.back();
    for (size_t i = FRows.size(); i-- > 0;)
        if (FRows[i])
            return FBaseId + i;
    return 0;
}

int TMemRowStore::PositionOf(uint64_t id) const
{
    if (FOrderKept) {
        const auto at = std::find(FOrder.begin(), FOrder.end(), id);
        return at == FOrder.end() ? -1 : static_cast<int>(at - FOrder.begin());
    }
    if (!Exists(id))
        return -1;
    return static_cast<int>(std::count_if(FRows.begin(), FRows.begin() + static_cast<std::ptrdiff_t>(id - FBaseId),
                                          [](const std::byte* row) { return row != nullptr; }));
}

// ---------------------------------------------------------------- file form

qsizetype TMemRowStore::FormSize(TRowHandle row) const
{
    return FFixedEnd - FormOffset + static_cast<qsizetype>(TailLength(Tail(row), row + FormOffset));
}

char* TMemRowStore::CopyForm(TRowHandle row, char* out) const
{
    const size_t fixed = static_cast<size_t>(FFixedEnd - FormOffset);
    std::memcpy(out, row + FormOffset, fixed);
    const std::byte* tail = Tail(row);
    const size_t length = TailLength(tail, row + FormOffset);
    std::memcpy(out + fixed, tail, length);
    return out + fixed + length;
}

qsizetype TMemRowStore::FormLength(const char* data, qsizetype size) const
{
    const qsizetype fixed = FFixedEnd - FormOffset;
    if (size < fixed)
        return -1;
    const auto* start = reinterpret_cast<const std::byte*>(data);
    const std::byte* end = start + size;
    const std::byte* p = start + fixed;
    for (size_t c = 0; c < FColumns.size(); ++c) {
        if (!FInTail[c] || (std::to_integer<uint8_t>(start[c / 8]) & (1u << (c % 8))))
            continue;
        uint32_t header = 0;
        if (!GetVarint(p, end, header))
            return -1;
        const uint32_t bytes = header >> 1;
        const bool wide = header & 1;
        if ((wide && (!IsTextType(FColumns[c].Type) || bytes % 2 != 0)) || bytes > end - p)
            return -1;
        p += bytes;
    }
    if (static_cast<size_t>(p - start) + FormOffset + sizeof(void*) > MaxBlock)
        return -1;
    return p - start;
}

void TMemRowStore::Reserve(size_t rows) { FRows.reserve(FRows.size() + rows); }

void TMemRowStore::AppendForm(const char* data, qsizetype length)
{
    Append(NewRow(reinterpret_cast<const std::byte*>(data), static_cast<size_t>(length)), -1);
}

// ---------------------------------------------------------------- reading

size_t TMemRowStore::TailLength(const std::byte* tail, const std::byte* nulls) const
{
    const std::byte* p = tail;
    for (size_t c = 0; c < FColumns.size(); ++c) {
        if (!FInTail[c] || (std::to_integer<uint8_t>(nulls[c / 8]) & (1u << (c % 8))))
            continue;
        const uint32_t header = GetVarint(p);
        p += header >> 1;
    }
    return static_cast<size_t>(p - tail);
}

TMemRowStore::TText TMemRowStore::TextAt(TRowHandle row, int column) const
{
    // Skips the tail values before this one; null ones take no room.
    const std::byte* p = Tail(row);
    const int rank = FOffsets[static_cast<size_t>(column)];
    for (int i = 0; i < rank; ++i)
        if (const int c = FTailColumns[static_cast<size_t>(i)]; !NullAt(row, c))
            p += GetVarint(p) >> 1;
    const uint32_t header = GetVarint(p);
    return {p, header >> 1, (header & 1) != 0};
}

TMemRowStore::TText TMemRowStore::TextOf(const QString& text)
{
    return {reinterpret_cast<const std::byte*>(text.utf16()), static_cast<uint32_t>(text.size() * 2), true};
}

Variant TMemRowStore::ReadValue(const std::byte* row, int column) const
{
    if (NullAt(row, column))
        return Variant::Null();
    const TColumn& col = FColumns[static_cast<size_t>(column)];
    switch (col.Type) {
    case ftString:
    case ftMemo: {
        const TText text = TextAt(row, column);
        if (!text.Wide)
            return QString::fromLatin1(reinterpret_cast<const char*>(text.Data), text.Bytes);
        QString value(text.Units(), Qt::Uninitialized);
        std::memcpy(value.data(), text.Data, text.Bytes);
        return value;
    }
    case ftBlob: {
        const TText bytes = TextAt(row, column);
        return QByteArray(reinterpret_cast<const char*>(bytes.Data), bytes.Bytes);
    }
    default: break;
    }
    const std::byte* at = Fixed(row, column);
    switch (col.Type) {
    case ftBoolean: return TMemRowStore::LoadAs<uint8_t>(at) != 0;
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc: return TMemRowStore::LoadAs<int32_t>(at);
    case ftLargeint: return TMemRowStore::LoadAs<int64_t>(at);
    case ftCurrency: return TCurrency{TMemRowStore::LoadAs<int64_t>(at)};
    case ftDate:
    case ftTime:
    case ftDateTime: return Variant::FromDateTime(TMemRowStore::LoadAs<double>(at));
    case ftBytes: return QByteArray(reinterpret_cast<const char*>(at), FixedSize(col));
    default: return TMemRowStore::LoadAs<double>(at);
    }
}

TMemRowStore::TNumberReader TMemRowStore::NumberReader(int column) const
{
    TNumberReader reader;
    const TFieldType type = FColumns[static_cast<size_t>(column)].Type;
    switch (FViewRead[static_cast<size_t>(column)]) {
    case vrInt32: reader.FKind = TNumberReader::Int32; break;
    case vrInt64: reader.FKind = TNumberReader::Int64; break;
    case vrFloat: // dates too: those are no numbers to add
        if (type == ftFloat || type == ftBCD)
            reader.FKind = TNumberReader::Float;
        break;
    default: break;
    }
    reader.FOffset = FOffsets[static_cast<size_t>(column)];
    reader.FNullByte = FormOffset + column / 8;
    reader.FNullBit = static_cast<uint8_t>(1u << (column % 8));
    return reader;
}

const std::byte* TMemRowStore::Row(uint64_t id) const
{
    const std::byte* const* slot = Slot(id);
    RTL_ASSERT(slot, QStringLiteral("Unknown row"));
    return *slot;
}

Variant TMemRowStore::Get(uint64_t id, int column) const
{
    RTL_ASSERT(column >= 0 && column < ColumnCount(), QStringLiteral("Column out of range"));
    return ReadValue(Row(id), column);
}

bool TMemRowStore::IsNull(uint64_t id, int column) const
{
    RTL_ASSERT(column >= 0 && column < ColumnCount(), QStringLiteral("Column out of range"));
    return NullAt(Row(id), column);
}

// ---------------------------------------------------------------- comparing

int TMemRowStore::CompareText(const TText& a, const TText& b, bool caseInsensitive)
{
    if (!caseInsensitive) {
        if (!a.Wide && !b.Wide)
            return CompareBytes(a.Data, a.Bytes, b.Data, b.Bytes);
        const uint32_t n = std::min(a.Units(), b.Units());
        for (uint32_t i = 0; i < n; ++i)
            if (const int c = Sign3(UnitAt(a.Data, a.Wide, i), UnitAt(b.Data, b.Wide, i)))
                return c;
        return Sign3(a.Units(), b.Units());
    }
    // Folding as QString does, on aligned copies.
    const auto widen = [](const TText& text, QVarLengthArray<char16_t, 128>& units) {
        units.resize(text.Units());
        for (uint32_t i = 0; i < text.Units(); ++i)
            units[i] = UnitAt(text.Data, text.Wide, i);
        return QStringView(units.constData(), units.size());
    };
    QVarLengthArray<char16_t, 128> x, y;
    const int c = widen(a, x).compare(widen(b, y), Qt::CaseInsensitive);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

uint64_t TMemRowStore::TextPrefix(const TText& text, bool caseInsensitive)
{
    char16_t units[4];
    const uint32_t count = std::min<uint32_t>(text.Units(), 4);
    char16_t last = 0;
    for (uint32_t i = 0; i < count; ++i) {
        units[i] = UnitAt(text.Data, text.Wide, i);
        if (caseInsensitive)
            units[i] = FoldUnit(units[i], last);
    }
    return TextSortKey(units, count);
}

uint64_t TMemRowStore::TextSortKey(const char16_t* units, size_t count)
{
    uint64_t prefix = 0;
    for (size_t i = 0; i < 4; ++i)
        prefix = (prefix << 16) | (i < count ? units[i] : 0);
    return NotNullKey(prefix);
}

uint32_t TMemRowStore::SortTextUnits(TRowHandle row, int column, bool caseInsensitive, uint32_t start, uint32_t count,
                                     char16_t* out) const
{
    if (NullAt(row, column))
        return 0;
    const TText text = TextAt(row, column);
    if (start >= text.Units())
        return 0; // an empty text may have no storage at all
    const uint32_t n = std::min(count, text.Units() - start);
    // A low surrogate folds with the high one before it.
    char16_t last = start > 0 ? UnitAt(text.Data, text.Wide, start - 1) : 0;
    for (uint32_t i = 0; i < n; ++i) {
        const char16_t unit = UnitAt(text.Data, text.Wide, start + i);
        out[i] = caseInsensitive ? FoldUnit(unit, last) : unit;
    }
    return n;
}

bool TMemRowStore::IsText(int column) const { return IsTextType(FColumns[static_cast<size_t>(column)].Type); }

int TMemRowStore::Compare(TRowHandle a, TRowHandle b, int column, bool caseInsensitive) const
{
    const bool nullA = NullAt(a, column);
    const bool nullB = NullAt(b, column);
    if (nullA || nullB)
        return nullA == nullB ? 0 : (nullA ? -1 : 1);
    const TColumn& col = FColumns[static_cast<size_t>(column)];
    switch (col.Type) {
    case ftString:
    case ftMemo: return CompareText(TextAt(a, column), TextAt(b, column), caseInsensitive);
    case ftBlob: {
        const TText x = TextAt(a, column);
        const TText y = TextAt(b, column);
        return CompareBytes(x.Data, x.Bytes, y.Data, y.Bytes);
    }
    default: break;
    }
    const std::byte* x = Fixed(a, column);
    const std::byte* y = Fixed(b, column);
    switch (col.Type) {
    case ftBoolean: return Sign3(TMemRowStore::LoadAs<uint8_t>(x), TMemRowStore::LoadAs<uint8_t>(y));
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc: return Sign3(TMemRowStore::LoadAs<int32_t>(x), TMemRowStore::LoadAs<int32_t>(y));
    case ftLargeint:
    case ftCurrency: return Sign3(TMemRowStore::LoadAs<int64_t>(x), TMemRowStore::LoadAs<int64_t>(y));
    case ftBytes: return CompareBytes(x, static_cast<size_t>(FixedSize(col)), y, static_cast<size_t>(FixedSize(col)));
    default: return Sign3(TMemRowStore::LoadAs<double>(x), TMemRowStore::LoadAs<double>(y));
    }
}

TMemRowStore::TKey TMemRowStore::MakeKey(int column, const Variant& value) const
{
    TKey key;
    if (value.IsEmptyOrNull())
        return key;
    key.Null = false;
    const TColumn& col = FColumns[static_cast<size_t>(column)];
    switch (col.Type) {
    case ftString:
    case ftMemo: key.Text = value.AsString(); break;
    case ftBlob: key.Bytes = value.AsBytes(); break;
    case ftBoolean: key.Int = value.AsBoolean() ? 1 : 0; break;
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc:
    case ftLargeint: key.Int = value.AsInt64(); break;
    case ftCurrency: key.Int = value.AsCurrency().Scaled; break;
    case ftBytes: key.Bytes = value.AsBytes().leftJustified(FixedSize(col), '\0', true); break;
    case ftDate:
    case ftTime:
    case ftDateTime: key.Float = value.AsDateTime(); break;
    default: key.Float = value.AsDouble(); break;
    }
    return key;
}

int TMemRowStore::CompareKey(TRowHandle row, int column, const TKey& key, bool caseInsensitive) const
{
    const bool null = NullAt(row, column);
    if (null || key.Null)
        return null == key.Null ? 0 : (null ? -1 : 1);
    const TColumn& col = FColumns[static_cast<size_t>(column)];
    const auto* keyBytes = reinterpret_cast<const std::byte*>(key.Bytes.constData());
    switch (col.Type) {
    case ftString:
    case ftMemo: return CompareText(TextAt(row, column), TextOf(key.Text), caseInsensitive);
    case ftBlob: {
        const TText x = TextAt(row, column);
        return CompareBytes(x.Data, x.Bytes, keyBytes, static_cast<size_t>(key.Bytes.size()));
    }
    default: break;
    }
    const std::byte* x = Fixed(row, column);
    switch (col.Type) {
    case ftBoolean: return Sign3<int64_t>(TMemRowStore::LoadAs<uint8_t>(x), key.Int);
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc: return Sign3<int64_t>(TMemRowStore::LoadAs<int32_t>(x), key.Int);
    case ftLargeint:
    case ftCurrency: return Sign3(TMemRowStore::LoadAs<int64_t>(x), key.Int);
    case ftBytes: {
        const size_t size = static_cast<size_t>(FixedSize(col));
        return CompareBytes(x, size, keyBytes, size);
    }
    default: return Sign3(TMemRowStore::LoadAs<double>(x), key.Float);
    }
}

bool TMemRowStore::PrefixIsExact(int column) const
{
    switch (FColumns[static_cast<size_t>(column)].Type) {
    case ftString:
    case ftMemo:
    case ftBlob:
    case ftBytes: return false;
    default: return true;
    }
}

uint64_t TMemRowStore::SortKey(int column, const TKey& key, bool caseInsensitive) const
{
    if (key.Null)
        return 0;
    switch (FColumns[static_cast<size_t>(column)].Type) {
    case ftString:
    case ftMemo: return TextPrefix(TextOf(key.Text), caseInsensitive);
    case ftBlob:
    case ftBytes: return 1;
    case ftBoolean: return uint64_t(key.Int) + 1;
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc:
    case ftLargeint:
    case ftCurrency: return NotNullKey(Biased(key.Int));
    default: return NotNullKey(Biased(key.Float));
    }
}

uint64_t TMemRowStore::SortKey(TRowHandle row, int column, bool caseInsensitive) const
{
    if (NullAt(row, column))
        return 0;
    switch (FColumns[static_cast<size_t>(column)].Type) {
    case ftString:
    case ftMemo: return TextPrefix(TextAt(row, column), caseInsensitive);
    case ftBlob:
    case ftBytes: return 1;
    default: break;
    }
    const std::byte* at = Fixed(row, column);
    switch (FColumns[static_cast<size_t>(column)].Type) {
    case ftBoolean: return uint64_t(TMemRowStore::LoadAs<uint8_t>(at)) + 1;
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc: return NotNullKey(Biased(int64_t(TMemRowStore::LoadAs<int32_t>(at))));
    case ftLargeint:
    case ftCurrency: return NotNullKey(Biased(TMemRowStore::LoadAs<int64_t>(at)));
    default: return NotNullKey(Biased(TMemRowStore::LoadAs<double>(at)));
    }
}

uint64_t TMemRowStore::KeyHash(TRowHandle row, int column, bool caseInsensitive, uint64_t seed) const
{
    if (NullAt(row, column))
        return HashBytes("null", 4, seed);
    const TColumn& col = FColumns[static_cast<size_t>(column)];
    if (FInTail[static_cast<size_t>(column)]) {
        const TText text = TextAt(row, column);
        if (!caseInsensitive || !IsTextType(col.Type)) // one text has one encoding
            return HashBytes(text.Data, text.Bytes, seed);
        QVarLengthArray<char16_t, 128> folded(text.Units());
        char16_t last = 0;
        for (uint32_t i = 0; i < text.Units(); ++i)
            folded[i] = FoldUnit(UnitAt(text.Data, text.Wide, i), last);
        return HashBytes(folded.constData(), static_cast<size_t>(folded.size()) * sizeof(char16_t), seed);
    }
    if (col.Type == ftBytes)
        return HashBytes(Fixed(row, column), static_cast<size_t>(FixedSize(col)), seed);
    // Other values by their sort key, which is exact for them.
    const uint64_t key = SortKey(row, column, false);
    return HashBytes(&key, sizeof key, seed);
}
