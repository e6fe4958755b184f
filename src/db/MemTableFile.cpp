#include "MemTableFile.h"

#include "Exceptions.h"

#include <QDataStream>
#include <QIODevice>
#include <algorithm>
#include <QtEndian>
#include <zlib.h>

namespace {

constexpr char Magic[4] = {'C', 'S', 'M', 'T'};
constexpr int HeaderSize = 20;
constexpr QDataStream::Version StreamVersion = QDataStream::Qt_6_4;

uint32_t Crc(const char* data, qsizetype size)
{
    return static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(data), static_cast<size_t>(size)));
}

[[noreturn]] void Damaged(const QString& fileName, const QString& reason)
{
    throw EDatabaseError(QStringLiteral("Cannot load table file '%1': %2").arg(fileName, reason));
}

bool IsStored(const TMemTableImage::TFieldDefData& def)
{
    return def.Type != ftUnknown;
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
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(StreamVersion);
    out << quint32(image.FieldDefs.size());
    for (const auto& def : image.FieldDefs)
        out << def.Name << quint8(def.Type) << qint32(def.Size) << qint32(def.Precision) << quint8(def.Attributes)
            << def.InternalCalc << qint32(def.FieldNo);
    out << quint32(image.IndexDefs.size());
    for (const auto& def : image.IndexDefs)
        out << def.Name << def.Fields << quint8(def.Options);
    out << quint64(store.Order().size());
    for (uint64_t id : store.Order()) {
        const TMemRowStore::TRowHandle row = store.Handle(id);
        for (size_t i = 0; i < image.FieldDefs.size(); ++i) {
            if (!IsStored(image.FieldDefs[i]))
                continue;
            if (columnOfDef[i] >= 0)
                store.WriteValue(out, row, columnOfDef[i]);
            else
                TMemRowStore::WriteNull(out);
        }
    }
    out << quint32(image.IndexOrders.size());
    for (const auto& order : image.IndexOrders) {
        out << order.Name << quint64(order.Rows.size());
        for (uint32_t row : order.Rows)
            out << quint32(row);
    }

    QByteArray file(HeaderSize, '\0');
    std::copy(std::begin(Magic), std::end(Magic), file.data());
    qToLittleEndian<quint16>(MemTableFileVersion, file.data() + 4);
    qToLittleEndian<quint64>(quint64(payload.size()), file.data() + 8);
    qToLittleEndian<quint32>(Crc(payload.constData(), payload.size()), file.data() + 16);
    return file + payload;
}

TMemTableImage DecodeMemTableImage(const QByteArray& bytes, const QString& fileName)
{
    if (bytes.size() < HeaderSize || !std::equal(std::begin(Magic), std::end(Magic), bytes.constData()))
        Damaged(fileName, QStringLiteral("not a table file"));
    const quint16 version = qFromLittleEndian<quint16>(bytes.constData() + 4);
    if (version != MemTableFileVersion)
        Damaged(fileName, QStringLiteral("unsupported format version %1").arg(version));
    const quint64 length = qFromLittleEndian<quint64>(bytes.constData() + 8);
    if (length != quint64(bytes.size() - HeaderSize))
        Damaged(fileName, QStringLiteral("the file is truncated or has extra bytes"));
    const char* payload = bytes.constData() + HeaderSize;
    if (qFromLittleEndian<quint32>(bytes.constData() + 16) != Crc(payload, bytes.size() - HeaderSize))
        Damaged(fileName, QStringLiteral("checksum mismatch"));

    QDataStream in(QByteArray::fromRawData(payload, bytes.size() - HeaderSize));
    in.setVersion(StreamVersion);
    TMemTableImage image;
    // Counts are checked against what is left, so a bad count cannot make us
    // allocate or loop far beyond the file.
    const auto left = [&] { return quint64(in.device()->bytesAvailable()); };
    quint32 fieldCount = 0;
    in >> fieldCount;
    if (fieldCount > left())
        Damaged(fileName, QStringLiteral("bad field count"));
    for (quint32 i = 0; i < fieldCount && in.status() == QDataStream::Ok; ++i) {
        TMemTableImage::TFieldDefData def;
        quint8 type = 0, attributes = 0;
        qint32 size = 0, precision = 0, fieldNo = 0;
        in >> def.Name >> type >> size >> precision >> attributes >> def.InternalCalc >> fieldNo;
        if (type > ftLargeint)
            Damaged(fileName, QStringLiteral("unknown field type %1").arg(type));
        def.Type = TFieldType(type);
        def.Size = size;
        def.Precision = precision;
        def.Attributes = attributes;
        def.FieldNo = fieldNo;
        image.FieldDefs.push_back(def);
    }
    quint32 indexCount = 0;
    in >> indexCount;
    if (indexCount > left())
        Damaged(fileName, QStringLiteral("bad index count"));
    for (quint32 i = 0; i < indexCount && in.status() == QDataStream::Ok; ++i) {
        TMemTableImage::TIndexDefData def;
        quint8 options = 0;
        in >> def.Name >> def.Fields >> options;
        def.Options = options;
        image.IndexDefs.push_back(def);
    }
    quint64 rowCount = 0;
    in >> rowCount;
    const bool anyStored = std::any_of(image.FieldDefs.begin(), image.FieldDefs.end(), IsStored);
    if (rowCount > left() || (rowCount > 0 && !anyStored))
        Damaged(fileName, QStringLiteral("bad row count"));
    std::vector<TMemRowStore::TColumn> columns;
    for (const auto& def : image.FieldDefs)
        if (IsStored(def))
            columns.push_back({def.Type, def.Size});
    image.Rows->SetColumns(columns);
    for (quint64 r = 0; r < rowCount; ++r)
        if (!image.Rows->ReadRow(in))
            Damaged(fileName, QStringLiteral("the contents are damaged"));
    quint32 orderCount = 0;
    in >> orderCount;
    if (orderCount > left())
        Damaged(fileName, QStringLiteral("bad index order count"));
    for (quint32 i = 0; i < orderCount && in.status() == QDataStream::Ok; ++i) {
        TMemTableImage::TIndexOrder order;
        quint64 entries = 0;
        in >> order.Name >> entries;
        if (entries > rowCount || entries * 4 > left())
            Damaged(fileName, QStringLiteral("bad index order"));
        order.Rows.resize(entries);
        for (quint64 k = 0; k < entries; ++k) {
            quint32 row = 0;
            in >> row;
            if (row >= rowCount)
                Damaged(fileName, QStringLiteral("bad index order"));
            order.Rows[k] = row;
        }
        image.IndexOrders.push_back(std::move(order));
    }
    if (in.status() != QDataStream::Ok || !in.atEnd())
        Damaged(fileName, QStringLiteral("the contents are damaged"));
    return image;
}
