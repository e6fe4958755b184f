#include "MemTableFile.h"

#include "Exceptions.h"

#include <QBuffer>
#include <QFile>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <zlib.h>

// Row forms and index orders are copied as they lie in memory.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "the table file format is little endian");

namespace {

constexpr char Magic[4] = {'C', 'S', 'M', 'T'};
constexpr int HeaderSize = 20;
constexpr uint16_t UntaggedVersion = 2; // the format before the tag

uint32_t Checksum(const char* data, qsizetype size)
{
    return static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(data), static_cast<size_t>(size)));
}

[[noreturn]] void Damaged(const QString& fileName, const QString& reason)
{
    throw EDatabaseError(QStringLiteral("Cannot load table file '%1': %2").arg(fileName, reason));
}

bool IsStored(const TMemTableImage::TFieldDefData& def) { return def.Type != ftUnknown; }

// Writes the payload through a buffer of its own, keeping its length and
// CRC, so a table of any size is written without a copy of it in memory.
class TWriter
{
public:
    explicit TWriter(QIODevice& out) : FOut(out), FBuffer(BufferSize) {}

    template <typename T>
    void Put(T value)
    {
        Append(&value, sizeof value);
    }
    void Put(const QString& text)
    {
        const QByteArray utf8 = text.toUtf8();
        Put(quint32(utf8.size()));
        Append(utf8.constData(), utf8.size());
    }
    void Append(const void* data, qsizetype size)
    {
        if (size == 0) // an empty vector's data may be null
            return;
        if (size > Room())
            Flush();
        if (size > Room()) {
            Emit(static_cast<const char*>(data), size);
            return;
        }
        std::memcpy(FBuffer.data() + FUsed, data, static_cast<size_t>(size));
        FUsed += size;
    }
    // Room for size bytes written in place, or nullptr when it does not fit.
    char* Reserve(qsizetype size)
    {
        if (size > Room())
            Flush();
        return size <= Room() ? FBuffer.data() + FUsed : nullptr;
    }
    void Commit(qsizetype size) { FUsed += size; }
    void Flush()
    {
        Emit(FBuffer.data(), FUsed);
        FUsed = 0;
    }
    bool Ok() const { return FOk; }
    quint64 Length() const { return FLength; }
    uint32_t Crc() const { return FCrc; }

private:
    static constexpr qsizetype BufferSize = qsizetype(1) << 20;
    qsizetype Room() const { return BufferSize - FUsed; }
    void Emit(const char* data, qsizetype size)
    {
        if (size == 0 || !FOk)
            return;
        FCrc = static_cast<uint32_t>(crc32_z(FCrc, reinterpret_cast<const Bytef*>(data), static_cast<size_t>(size)));
        FLength += quint64(size);
        FOk = FOut.write(data, size) == size;
    }

    QIODevice& FOut;
    std::vector<char> FBuffer;
    qsizetype FUsed = 0;
    quint64 FLength = 0;
    uint32_t FCrc = 0;
    bool FOk = true;
};

// Reads with every length checked against what is left; Ok() turns false
// for good once a read runs past the end.
class TReader
{
public:
    TReader(const char* data, qsizetype size) : FAt(data), FEnd(data + size) {}
    qsizetype Left() const { return FEnd - FAt; }
    bool Ok() const { return FOk; }
    const char* At() const { return FAt; }
    void Skip(qsizetype bytes) { FAt += bytes; }
    template <typename T>
    T Get()
    {
        T value{};
        if (!Take(sizeof value))
            return value;
        std::memcpy(&value, FAt - sizeof value, sizeof value);
        return value;
    }
    QString GetString()
    {
        const quint32 size = Get<quint32>();
        if (!Take(size))
            return QString();
        return QString::fromUtf8(FAt - size, size);
    }

private:
    bool Take(quint64 bytes)
    {
        if (!FOk || bytes > quint64(Left())) {
            FOk = false;
            return false;
        }
        FAt += bytes;
        return true;
    }

    const char* FAt;
    const char* FEnd;
    bool FOk = true;
};

std::vector<TMemRowStore::TColumn> StoredColumns(const std::vector<TMemTableImage::TFieldDefData>& defs)
{
    std::vector<TMemRowStore::TColumn> columns;
    for (const auto& def : defs)
        if (IsStored(def))
            columns.push_back({def.Type, def.Size});
    return columns;
}

} // namespace

QByteArray EncodeMemTableImage(const TMemTableImage& image)
{
    std::vector<int> columns;
    int column = 0;
    for (const auto& def : image.FieldDefs)
        columns.push_back(IsStored(def) ? column++ : -1);
    return EncodeMemTableImage(image, *image.Rows, columns);
}

QByteArray EncodeMemTableImage(const TMemTableImage& image, const TMemRowStore& store,
                               const std::vector<int>& columnOfDef)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    WriteMemTableImage(buffer, image, store, columnOfDef);
    return bytes;
}

bool WriteMemTableImage(QIODevice& device, const TMemTableImage& image, const TMemRowStore& store,
                        const std::vector<int>& columnOfDef)
{
    // The header comes last, once the payload's length and CRC are known.
    char header[HeaderSize] = {};
    if (device.write(header, HeaderSize) != HeaderSize)
        return false;
    TWriter out(device);
    out.Put(image.Tag);
    out.Put(quint32(image.FieldDefs.size()));
    for (const auto& def : image.FieldDefs) {
        out.Put(def.Name);
        out.Put(quint8(def.Type));
        out.Put(qint32(def.Size));
        out.Put(qint32(def.Precision));
        out.Put(quint8(def.Attributes));
        out.Put(quint8(def.InternalCalc ? 1 : 0));
        out.Put(qint32(def.FieldNo));
    }
    out.Put(quint32(image.IndexDefs.size()));
    for (const auto& def : image.IndexDefs) {
        out.Put(def.Name);
        out.Put(def.Fields);
        out.Put(quint8(def.Options));
    }
    out.Put(quint64(store.Count()));

    // The store's rows are written as they are when its columns are the
    // file's; otherwise each row is laid out anew.
    const std::vector<TMemRowStore::TColumn> columns = StoredColumns(image.FieldDefs);
    std::vector<int> sources;
    for (size_t i = 0; i < image.FieldDefs.size(); ++i)
        if (IsStored(image.FieldDefs[i]))
            sources.push_back(columnOfDef[i]);
    bool same = static_cast<int>(columns.size()) == store.ColumnCount();
    for (size_t c = 0; same && c < columns.size(); ++c)
        same = sources[c] == static_cast<int>(c) && store.Columns()[c].Type == columns[c].Type
               && store.Columns()[c].Size == columns[c].Size;
    TMemRowStore layout;
    layout.SetColumns(columns);
    std::vector<Variant> values(columns.size());
    QByteArray large;
    const auto writeForm = [&](const TMemRowStore& rows, TMemRowStore::TRowHandle row) {
        const qsizetype size = rows.FormSize(row);
        if (char* at = out.Reserve(size)) {
            rows.CopyForm(row, at);
            out.Commit(size);
        } else {
            large.resize(size);
            rows.CopyForm(row, large.data());
            out.Append(large.constData(), size);
        }
    };
    store.ForEachId([&](uint64_t id) {
        const TMemRowStore::TRowHandle row = store.Handle(id);
        if (same) {
            writeForm(store, row);
            return;
        }
        for (size_t c = 0; c < columns.size(); ++c)
            values[c] = sources[c] >= 0 ? store.Get(row, sources[c]) : Variant::Null();
        const uint64_t copy = layout.Insert(values);
        writeForm(layout, layout.Handle(copy));
        layout.Remove(copy);
    });

    out.Put(quint32(image.IndexOrders.size()));
    for (const auto& order : image.IndexOrders) {
        out.Put(order.Name);
        out.Put(quint64(order.Rows.size()));
        out.Append(order.Rows.data(), qsizetype(order.Rows.size() * sizeof(uint32_t)));
    }
    out.Flush();
    if (!out.Ok())
        return false;

    std::copy(std::begin(Magic), std::end(Magic), header);
    qToLittleEndian<quint16>(MemTableFileVersion, header + 4);
    qToLittleEndian<quint64>(out.Length(), header + 8);
    qToLittleEndian<quint32>(out.Crc(), header + 16);
    return device.seek(0) && device.write(header, HeaderSize) == HeaderSize;
}

TMemTableImage DecodeMemTableImage(const QByteArray& bytes, const QString& fileName)
{
    if (bytes.size() < HeaderSize || !std::equal(std::begin(Magic), std::end(Magic), bytes.constData()))
        Damaged(fileName, QStringLiteral("not a table file"));
    const quint16 version = qFromLittleEndian<quint16>(bytes.constData() + 4);
    if (version != MemTableFileVersion && version != UntaggedVersion)
        Damaged(fileName, QStringLiteral("unsupported format version %1").arg(version));
    const quint64 length = qFromLittleEndian<quint64>(bytes.constData() + 8);
    if (length != quint64(bytes.size() - HeaderSize))
        Damaged(fileName, QStringLiteral("the file is truncated or has extra bytes"));
    const char* payload = bytes.constData() + HeaderSize;
    if (qFromLittleEndian<quint32>(bytes.constData() + 16) != Checksum(payload, bytes.size() - HeaderSize))
        Damaged(fileName, QStringLiteral("checksum mismatch"));

    TReader in(payload, bytes.size() - HeaderSize);
    TMemTableImage image;
    if (version != UntaggedVersion)
        image.Tag = in.GetString();
    // Counts are checked against what is left, so a bad count cannot make us
    // allocate or loop far beyond the file.
    const quint32 fieldCount = in.Get<quint32>();
    if (fieldCount > quint64(in.Left()))
        Damaged(fileName, QStringLiteral("bad field count"));
    for (quint32 i = 0; i < fieldCount && in.Ok(); ++i) {
        TMemTableImage::TFieldDefData def;
        def.Name = in.GetString();
        const quint8 type = in.Get<quint8>();
        def.Size = in.Get<qint32>();
        def.Precision = in.Get<qint32>();
        def.Attributes = in.Get<quint8>();
        def.InternalCalc = in.Get<quint8>() != 0;
        def.FieldNo = in.Get<qint32>();
        if (type > ftLargeint)
            Damaged(fileName, QStringLiteral("unknown field type %1").arg(type));
        def.Type = TFieldType(type);
        image.FieldDefs.push_back(def);
    }
    const quint32 indexCount = in.Get<quint32>();
    if (indexCount > quint64(in.Left()))
        Damaged(fileName, QStringLiteral("bad index count"));
    for (quint32 i = 0; i < indexCount && in.Ok(); ++i) {
        TMemTableImage::TIndexDefData def;
        def.Name = in.GetString();
        def.Fields = in.GetString();
        def.Options = in.Get<quint8>();
        image.IndexDefs.push_back(def);
    }
    const quint64 rowCount = in.Get<quint64>();
    const std::vector<TMemRowStore::TColumn> columns = StoredColumns(image.FieldDefs);
    // Every row takes at least its null flags.
    if (!in.Ok() || rowCount > quint64(in.Left()) || (rowCount > 0 && columns.empty()))
        Damaged(fileName, QStringLiteral("bad row count"));
    TMemRowStore& rows = *image.Rows;
    rows.SetColumns(columns);
    rows.Reserve(static_cast<size_t>(rowCount));
    for (quint64 r = 0; r < rowCount; ++r) {
        const qsizetype form = rows.FormLength(in.At(), in.Left());
        if (form < 0)
            Damaged(fileName, QStringLiteral("the contents are damaged"));
        rows.AppendForm(in.At(), form);
        in.Skip(form);
    }
    const quint32 orderCount = in.Get<quint32>();
    if (orderCount > quint64(in.Left()))
        Damaged(fileName, QStringLiteral("bad index order count"));
    for (quint32 i = 0; i < orderCount && in.Ok(); ++i) {
        TMemTableImage::TIndexOrder order;
        order.Name = in.GetString();
        const quint64 entries = in.Get<quint64>();
        if (!in.Ok() || entries > rowCount || entries * 4 > quint64(in.Left()))
            Damaged(fileName, QStringLiteral("bad index order"));
        order.Rows.resize(entries);
        if (entries > 0) // an empty vector's data may be null
            std::memcpy(order.Rows.data(), in.At(), entries * 4);
        in.Skip(qsizetype(entries * 4));
        if (std::any_of(order.Rows.begin(), order.Rows.end(), [&](uint32_t row) { return row >= rowCount; }))
            Damaged(fileName, QStringLiteral("bad index order"));
        image.IndexOrders.push_back(std::move(order));
    }
    if (!in.Ok() || in.Left() != 0)
        Damaged(fileName, QStringLiteral("the contents are damaged"));
    return image;
}

QString ReadMemTableFileTag(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray header = file.read(HeaderSize + 4);
    if (header.size() < HeaderSize + 4 || !std::equal(std::begin(Magic), std::end(Magic), header.constData())
        || qFromLittleEndian<quint16>(header.constData() + 4) != MemTableFileVersion)
        return QString();
    const quint64 length = qFromLittleEndian<quint64>(header.constData() + 8);
    const quint32 size = qFromLittleEndian<quint32>(header.constData() + HeaderSize);
    if (quint64(size) + 4 > length)
        return QString();
    const QByteArray tag = file.read(size);
    return tag.size() == qsizetype(size) ? QString::fromUtf8(tag) : QString();
}
