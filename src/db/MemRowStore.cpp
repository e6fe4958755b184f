#include "MemRowStore.h"

#include "Exceptions.h"

#include <QDataStream>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr int Align8(int n) { return (n + 7) & ~7; }
constexpr int SlotSize = static_cast<int>(std::max(sizeof(QString), sizeof(QByteArray)));
static_assert(alignof(QString) <= 8 && alignof(QByteArray) <= 8);

bool IsTextType(TFieldType type) { return type == ftString || type == ftMemo; }
bool IsOutOfLine(TFieldType type) { return IsTextType(type) || type == ftBlob; }

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
T Load(const std::byte* p)
{
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

template <typename T>
void Store(std::byte* p, T value)
{
    std::memcpy(p, &value, sizeof value);
}

} // namespace

void TMemRowStore::RemoveListener(TListener* listener)
{
    FListeners.erase(std::remove(FListeners.begin(), FListeners.end(), listener), FListeners.end());
}

TMemRowStore::~TMemRowStore()
{
    Clear();
}

void TMemRowStore::TRowDeleter::operator()(std::byte* row) const
{
    const int columns = static_cast<int>(Store->FColumns.size());
    for (int c = 0; c < columns; ++c) {
        if (!Store->FOutOfLine[c])
            continue;
        std::byte* slot = row + Store->FFixedSize + Store->FOffsets[c] * SlotSize;
        if (IsTextType(Store->FColumns[c].Type))
            std::launder(reinterpret_cast<QString*>(slot))->~QString();
        else
            std::launder(reinterpret_cast<QByteArray*>(slot))->~QByteArray();
    }
    delete[] row;
}

void TMemRowStore::SetColumns(const std::vector<TColumn>& columns)
{
    Clear();
    FColumns = columns;
    FOffsets.assign(columns.size(), 0);
    FOutOfLine.assign(columns.size(), false);
    FNullBytes = (static_cast<int>(columns.size()) + 7) / 8;
    int offset = FNullOffset + FNullBytes;
    FSlotCount = 0;
    // Eight-byte values first, so they stay aligned.
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t c = 0; c < columns.size(); ++c) {
            if (IsOutOfLine(columns[c].Type)) {
                if (pass == 0) {
                    FOutOfLine[c] = true;
                    FOffsets[c] = FSlotCount++;
                }
                continue;
            }
            const int size = FixedSize(columns[c]);
            if ((size == 8) != (pass == 0))
                continue;
            if (size == 8)
                offset = Align8(offset);
            FOffsets[c] = offset;
            offset += size;
        }
    }
    FFixedSize = Align8(offset);
    FRowSize = FFixedSize + FSlotCount * SlotSize;
}

TMemRowStore::TRowPtr TMemRowStore::NewRow() const
{
    TRowPtr row(new std::byte[static_cast<size_t>(std::max(FRowSize, 1))](), TRowDeleter{this});
    for (size_t c = 0; c < FColumns.size(); ++c) {
        if (!FOutOfLine[c])
            continue;
        std::byte* slot = row.get() + FFixedSize + FOffsets[c] * SlotSize;
        if (IsTextType(FColumns[c].Type))
            new (slot) QString();
        else
            new (slot) QByteArray();
    }
    // A new row is all null.
    std::memset(row.get() + FNullOffset, 0xFF, static_cast<size_t>(FNullBytes));
    return row;
}

void TMemRowStore::WriteValue(std::byte* row, int column, const Variant& value) const
{
    auto* nulls = reinterpret_cast<uint8_t*>(row + FNullOffset);
    const uint8_t bit = static_cast<uint8_t>(1u << (column % 8));
    const TColumn& col = FColumns[static_cast<size_t>(column)];
    std::byte* at = FOutOfLine[column] ? row + FFixedSize + FOffsets[column] * SlotSize : row + FOffsets[column];
    if (value.IsEmptyOrNull()) {
        nulls[column / 8] |= bit;
        if (FOutOfLine[column]) {
            if (IsTextType(col.Type))
                std::launder(reinterpret_cast<QString*>(at))->clear();
            else
                std::launder(reinterpret_cast<QByteArray*>(at))->clear();
        }
        return;
    }
    switch (col.Type) {
    case ftString:
    case ftMemo: *std::launder(reinterpret_cast<QString*>(at)) = value.AsString(); break;
    case ftBlob: *std::launder(reinterpret_cast<QByteArray*>(at)) = value.AsBytes(); break;
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
        std::memset(at, 0, static_cast<size_t>(FixedSize(col)));
        std::memcpy(at, bytes.constData(), static_cast<size_t>(std::min<qsizetype>(bytes.size(), FixedSize(col))));
        break;
    }
    case ftFloat:
    case ftBCD:
    case ftUnknown: Store<double>(at, value.AsDouble()); break;
    }
    nulls[column / 8] &= static_cast<uint8_t>(~bit);
}

bool TMemRowStore::NullAt(TRowHandle row, int column) const
{
    return std::to_integer<uint8_t>(row[FNullOffset + column / 8]) & (1u << (column % 8));
}

const std::byte* TMemRowStore::At(TRowHandle row, int column) const
{
    return FOutOfLine[column] ? row + FFixedSize + FOffsets[column] * SlotSize : row + FOffsets[column];
}

Variant TMemRowStore::ReadValue(const std::byte* row, int column) const
{
    if (NullAt(row, column))
        return Variant::Null();
    const TColumn& col = FColumns[static_cast<size_t>(column)];
    const std::byte* at = At(row, column);
    switch (col.Type) {
    case ftString:
    case ftMemo: return *std::launder(reinterpret_cast<const QString*>(at));
    case ftBlob: return *std::launder(reinterpret_cast<const QByteArray*>(at));
    case ftBoolean: return Load<uint8_t>(at) != 0;
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc: return Load<int32_t>(at);
    case ftLargeint: return Load<int64_t>(at);
    case ftCurrency: return TCurrency{Load<int64_t>(at)};
    case ftDate:
    case ftTime:
    case ftDateTime: return Variant::FromDateTime(Load<double>(at));
    case ftBytes: return QByteArray(reinterpret_cast<const char*>(at), FixedSize(col));
    case ftFloat:
    case ftBCD:
    case ftUnknown: break;
    }
    return Load<double>(at);
}

void TMemRowStore::Write(std::byte* row, const std::vector<Variant>& values) const
{
    RTL_ASSERT(values.size() == FColumns.size(), QStringLiteral("Row value count mismatch"));
    for (int c = 0; c < ColumnCount(); ++c)
        WriteValue(row, c, values[static_cast<size_t>(c)]);
}

uint64_t TMemRowStore::Insert(const std::vector<Variant>& values, int position)
{
    TRowPtr row = NewRow();
    Write(row.get(), values); // before anything changes: a conversion error leaves the store as it was
    const uint64_t id = FNextId++;
    Store<uint64_t>(row.get(), id);
    if (position < 0 || position >= Count())
        FOrder.push_back(id);
    else
        FOrder.insert(FOrder.begin() + position, id);
    FRows.push_back(std::move(row)); // the next identifier is the next slot
    FModified = true;
    return id;
}

void TMemRowStore::Update(uint64_t id, const std::vector<Variant>& values)
{
    const TRowPtr* slot = Slot(id);
    RTL_ASSERT(slot, QStringLiteral("Unknown row"));
    // Written into a fresh row first, so a failed conversion changes nothing;
    // then moved into the old row, whose address indexes hold.
    TRowPtr fresh = NewRow();
    Write(fresh.get(), values);
    std::byte* row = slot->get();
    std::memcpy(row + FNullOffset, fresh.get() + FNullOffset, static_cast<size_t>(FFixedSize - FNullOffset));
    for (size_t c = 0; c < FColumns.size(); ++c) {
        if (!FOutOfLine[c])
            continue;
        const size_t offset = static_cast<size_t>(FFixedSize + FOffsets[c] * SlotSize);
        if (IsTextType(FColumns[c].Type))
            std::swap(*std::launder(reinterpret_cast<QString*>(row + offset)),
                      *std::launder(reinterpret_cast<QString*>(fresh.get() + offset)));
        else
            std::swap(*std::launder(reinterpret_cast<QByteArray*>(row + offset)),
                      *std::launder(reinterpret_cast<QByteArray*>(fresh.get() + offset)));
    }
    FModified = true;
}

void TMemRowStore::Remove(uint64_t id)
{
    if (!Slot(id))
        return;
    FRows[id - FBaseId].reset();
    FOrder.erase(std::find(FOrder.begin(), FOrder.end(), id));
    FModified = true;
}

void TMemRowStore::Clear()
{
    if (!FOrder.empty())
        FModified = true;
    FRows.clear();
    FBaseId = FNextId;
    FOrder.clear();
}

const std::byte* TMemRowStore::Row(uint64_t id) const
{
    const TRowPtr* slot = Slot(id);
    RTL_ASSERT(slot, QStringLiteral("Unknown row"));
    return slot->get();
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

uint64_t TMemRowStore::IdOf(TRowHandle row)
{
    return Load<uint64_t>(row);
}

namespace {

template <typename T>
int Sign3(T a, T b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

int CompareText(const QString& a, const QString& b, bool caseInsensitive)
{
    const int c = a.compare(b, caseInsensitive ? Qt::CaseInsensitive : Qt::CaseSensitive);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

} // namespace

int TMemRowStore::Compare(TRowHandle a, TRowHandle b, int column, bool caseInsensitive) const
{
    const bool nullA = NullAt(a, column);
    const bool nullB = NullAt(b, column);
    if (nullA || nullB)
        return nullA == nullB ? 0 : (nullA ? -1 : 1);
    const std::byte* x = At(a, column);
    const std::byte* y = At(b, column);
    switch (FColumns[static_cast<size_t>(column)].Type) {
    case ftString:
    case ftMemo:
        return CompareText(*std::launder(reinterpret_cast<const QString*>(x)),
                           *std::launder(reinterpret_cast<const QString*>(y)), caseInsensitive);
    case ftBlob: {
        const int c = std::launder(reinterpret_cast<const QByteArray*>(x))
                          ->compare(*std::launder(reinterpret_cast<const QByteArray*>(y)));
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    case ftBoolean: return Sign3(Load<uint8_t>(x), Load<uint8_t>(y));
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc: return Sign3(Load<int32_t>(x), Load<int32_t>(y));
    case ftLargeint:
    case ftCurrency: return Sign3(Load<int64_t>(x), Load<int64_t>(y));
    case ftBytes: {
        const int c = std::memcmp(x, y, static_cast<size_t>(FixedSize(FColumns[static_cast<size_t>(column)])));
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    default: return Sign3(Load<double>(x), Load<double>(y));
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
    case ftBytes:
        key.Bytes = value.AsBytes().leftJustified(FixedSize(col), '\0', true);
        break;
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
    const std::byte* x = At(row, column);
    switch (FColumns[static_cast<size_t>(column)].Type) {
    case ftString:
    case ftMemo: return CompareText(*std::launder(reinterpret_cast<const QString*>(x)), key.Text, caseInsensitive);
    case ftBlob: {
        const int c = std::launder(reinterpret_cast<const QByteArray*>(x))->compare(key.Bytes);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    case ftBoolean: return Sign3<int64_t>(Load<uint8_t>(x), key.Int);
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc: return Sign3<int64_t>(Load<int32_t>(x), key.Int);
    case ftLargeint:
    case ftCurrency: return Sign3(Load<int64_t>(x), key.Int);
    case ftBytes: {
        const int c = std::memcmp(x, key.Bytes.constData(),
                                  static_cast<size_t>(FixedSize(FColumns[static_cast<size_t>(column)])));
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    default: return Sign3(Load<double>(x), key.Float);
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

namespace {

// Order-preserving maps of signed and floating values onto unsigned ones.
uint64_t Biased(int64_t value)
{
    return static_cast<uint64_t>(value) ^ (uint64_t(1) << 63);
}

uint64_t Biased(double value)
{
    if (value == 0)
        value = 0; // -0 sorts with +0
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & (uint64_t(1) << 63)) ? ~bits : bits | (uint64_t(1) << 63);
}

} // namespace

namespace {

uint64_t TextPrefix(const QString& text, bool caseInsensitive)
{
    uint64_t prefix = 0;
    for (qsizetype i = 0; i < 4; ++i) {
        char16_t unit = 0;
        if (i < text.size())
            unit = caseInsensitive ? text.at(i).toCaseFolded().unicode() : text.at(i).unicode();
        prefix = (prefix << 16) | unit;
    }
    return prefix;
}

} // namespace

uint64_t TMemRowStore::KeyPrefix(int column, const TKey& key, bool caseInsensitive) const
{
    if (key.Null)
        return 0;
    switch (FColumns[static_cast<size_t>(column)].Type) {
    case ftString:
    case ftMemo: return TextPrefix(key.Text, caseInsensitive);
    case ftBlob:
    case ftBytes: return 0;
    case ftBoolean:
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc:
    case ftLargeint:
    case ftCurrency: return FColumns[static_cast<size_t>(column)].Type == ftBoolean ? uint64_t(key.Int) : Biased(key.Int);
    default: return Biased(key.Float);
    }
}

uint64_t TMemRowStore::SortPrefix(TRowHandle row, int column, bool caseInsensitive, bool& isNull) const
{
    isNull = NullAt(row, column);
    if (isNull)
        return 0;
    const std::byte* at = At(row, column);
    switch (FColumns[static_cast<size_t>(column)].Type) {
    case ftString:
    case ftMemo: return TextPrefix(*std::launder(reinterpret_cast<const QString*>(at)), caseInsensitive);
    case ftBlob:
    case ftBytes: return 0;
    case ftBoolean: return Load<uint8_t>(at);
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc: return Biased(int64_t(Load<int32_t>(at)));
    case ftLargeint:
    case ftCurrency: return Biased(Load<int64_t>(at));
    default: return Biased(Load<double>(at));
    }
}

void TMemRowStore::WriteNull(QDataStream& out)
{
    out << quint8(1);
}

void TMemRowStore::WriteValue(QDataStream& out, TRowHandle row, int column) const
{
    if (NullAt(row, column)) {
        WriteNull(out);
        return;
    }
    out << quint8(0);
    const std::byte* at = At(row, column);
    const TColumn& col = FColumns[static_cast<size_t>(column)];
    switch (col.Type) {
    case ftString:
    case ftMemo: out << *std::launder(reinterpret_cast<const QString*>(at)); break;
    case ftBlob: out << *std::launder(reinterpret_cast<const QByteArray*>(at)); break;
    case ftBytes: out << QByteArray(reinterpret_cast<const char*>(at), FixedSize(col)); break;
    case ftBoolean: out << (Load<uint8_t>(at) != 0); break;
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc: out << qint32(Load<int32_t>(at)); break;
    case ftLargeint:
    case ftCurrency: out << qint64(Load<int64_t>(at)); break;
    default: out << Load<double>(at); break;
    }
}

bool TMemRowStore::ReadRow(QDataStream& in)
{
    TRowPtr row = NewRow();
    std::byte* data = row.get();
    auto* nulls = reinterpret_cast<uint8_t*>(data + FNullOffset);
    for (int c = 0; c < ColumnCount(); ++c) {
        quint8 null = 1;
        in >> null;
        if (in.status() != QDataStream::Ok || null > 1)
            return false;
        if (null)
            continue;
        const TColumn& col = FColumns[static_cast<size_t>(c)];
        std::byte* at = FOutOfLine[c] ? data + FFixedSize + FOffsets[c] * SlotSize : data + FOffsets[c];
        switch (col.Type) {
        case ftString:
        case ftMemo: in >> *std::launder(reinterpret_cast<QString*>(at)); break;
        case ftBlob: in >> *std::launder(reinterpret_cast<QByteArray*>(at)); break;
        case ftBytes: {
            QByteArray bytes;
            in >> bytes;
            if (bytes.size() != FixedSize(col))
                return false;
            std::memcpy(at, bytes.constData(), static_cast<size_t>(bytes.size()));
            break;
        }
        case ftBoolean: {
            bool b = false;
            in >> b;
            Store<uint8_t>(at, b ? 1 : 0);
            break;
        }
        case ftSmallint:
        case ftWord:
        case ftInteger:
        case ftAutoInc: {
            qint32 i = 0;
            in >> i;
            Store<int32_t>(at, i);
            break;
        }
        case ftLargeint:
        case ftCurrency: {
            qint64 i = 0;
            in >> i;
            Store<int64_t>(at, i);
            break;
        }
        default: {
            double d = 0;
            in >> d;
            Store<double>(at, d);
            break;
        }
        }
        nulls[c / 8] &= static_cast<uint8_t>(~(1u << (c % 8)));
    }
    if (in.status() != QDataStream::Ok)
        return false;
    const uint64_t id = FNextId++;
    Store<uint64_t>(data, id);
    FOrder.push_back(id);
    FRows.push_back(std::move(row));
    FModified = true;
    return true;
}
