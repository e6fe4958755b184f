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

void WriteValue(QDataStream& out, TFieldType type, const Variant& value)
{
    out << quint8(value.IsEmptyOrNull() ? 1 : 0);
    if (value.IsEmptyOrNull())
        return;
    switch (type) {
    case ftString:
    case ftMemo: out << value.AsString(); break;
    case ftBlob:
    case ftBytes: out << value.AsBytes(); break;
    case ftBoolean: out << value.AsBoolean(); break;
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc: out << qint32(value.AsInteger()); break;
    case ftLargeint: out << qint64(value.AsInt64()); break;
    case ftCurrency: out << qint64(value.AsCurrency().Scaled); break;
    case ftDate:
    case ftTime:
    case ftDateTime: out << value.AsDateTime(); break;
    default: out << value.AsDouble(); break;
    }
}

Variant ReadValue(QDataStream& in, TFieldType type)
{
    quint8 null = 1;
    in >> null;
    if (null)
        return Variant::Null();
    switch (type) {
    case ftString:
    case ftMemo: {
        QString text;
        in >> text;
        return text;
    }
    case ftBlob:
    case ftBytes: {
        QByteArray bytes;
        in >> bytes;
        return bytes;
    }
    case ftBoolean: {
        bool b = false;
        in >> b;
        return b;
    }
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc: {
        qint32 i = 0;
        in >> i;
        return int(i);
    }
    case ftLargeint: {
        qint64 i = 0;
        in >> i;
        return int64_t(i);
    }
    case ftCurrency: {
        qint64 i = 0;
        in >> i;
        return TCurrency{i};
    }
    case ftDate:
    case ftTime:
    case ftDateTime: {
        double d = 0;
        in >> d;
        return Variant::FromDateTime(d);
    }
    default: {
        double d = 0;
        in >> d;
        return d;
    }
    }
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
    out << quint64(image.Rows.size());
    for (const auto& row : image.Rows) {
        size_t column = 0;
        for (const auto& def : image.FieldDefs)
            if (IsStored(def))
                WriteValue(out, def.Type, row.at(column++));
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
    image.Rows.reserve(rowCount);
    for (quint64 r = 0; r < rowCount && in.status() == QDataStream::Ok; ++r) {
        std::vector<Variant> row;
        for (const auto& def : image.FieldDefs)
            if (IsStored(def))
                row.push_back(ReadValue(in, def.Type));
        image.Rows.push_back(std::move(row));
    }
    quint32 orderCount = 0;
    in >> orderCount;
    if (orderCount > left())
        Damaged(fileName, QStringLiteral("bad index order count"));
    for (quint32 i = 0; i < orderCount && in.status() == QDataStream::Ok; ++i) {
        TMemTableImage::TIndexOrder order;
        quint64 entries = 0;
        in >> order.Name >> entries;
        if (entries > image.Rows.size() || entries * 4 > left())
            Damaged(fileName, QStringLiteral("bad index order"));
        order.Rows.resize(entries);
        for (quint64 k = 0; k < entries; ++k) {
            quint32 row = 0;
            in >> row;
            if (row >= image.Rows.size())
                Damaged(fileName, QStringLiteral("bad index order"));
            order.Rows[k] = row;
        }
        image.IndexOrders.push_back(std::move(order));
    }
    if (in.status() != QDataStream::Ok || !in.atEnd())
        Damaged(fileName, QStringLiteral("the contents are damaged"));
    return image;
}
