// Builds ZIP archives in memory for the reader's tests. Every field the
// reader looks at can be set, or set wrong on purpose.
#pragma once

#include <QByteArray>
#include <zlib.h>

#include <algorithm>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <vector>

namespace ziptest {

inline QByteArray Deflate(const QByteArray& data)
{
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    QByteArray out(static_cast<qsizetype>(deflateBound(&z, static_cast<uLong>(data.size()))), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    deflateEnd(&z);
    if (rc != Z_STREAM_END)
        throw std::runtime_error("deflate");
    out.resize(static_cast<qsizetype>(z.total_out));
    return out;
}

inline quint32 Crc(const QByteArray& data)
{
    return static_cast<quint32>(
        crc32(0, reinterpret_cast<const Bytef*>(data.constData()), static_cast<uInt>(data.size())));
}

inline void Put16(QByteArray& out, quint64 v)
{
    for (int i = 0; i < 2; ++i)
        out.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}
inline void Put32(QByteArray& out, quint64 v)
{
    for (int i = 0; i < 4; ++i)
        out.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}
inline void Put64(QByteArray& out, quint64 v)
{
    for (int i = 0; i < 8; ++i)
        out.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}

enum : quint16 { Stored = 0, Deflated = 8 };
enum : quint8 { HostDos = 0, HostUnix = 3, HostNtfs = 10, HostVfat = 11 };

struct ZipEntry
{
    QByteArray name;
    QByteArray data;
    quint16 method = Deflated;
    quint16 flags = 0;
    quint8 host = HostDos;
    quint32 externalAttributes = 0x20;
    QByteArray extra;                      // written to both headers
    std::optional<QByteArray> packed;      // the bytes stored in place of the method's output
    std::optional<quint32> crc;            // claimed in both headers
    std::optional<quint64> compressedSize; // the central directory's claims
    std::optional<quint64> uncompressedSize;
    std::optional<quint64> localOffset;
    bool zip64 = false;       // sizes and offset saturated, the values in a Zip64 extra field
    int zip64ExtraValues = 3; // how many of those values the field really carries
    quint32 localSignature = 0x04034B50;
    quint32 centralSignature = 0x02014B50;
};

class ZipBuilder
{
public:
    std::vector<ZipEntry> entries;
    QByteArray prefix;              // bytes before the archive (a self-extractor stub)
    bool prefixInOffsets = false;   // offsets count from the start of the data, not of the archive
    bool reverseLocalOrder = false; // local records in the opposite order to the directory
    QByteArray comment;
    std::optional<quint16> commentLength;
    bool zip64 = false;       // Zip64 end record and locator; the end record saturated
    bool zip64Records = true; // false: saturate the end record but leave the Zip64 records out
    quint32 zip64EndSignature = 0x06064B50;
    std::optional<quint64> entryCount; // the end records' claims
    std::optional<quint64> directorySize;
    std::optional<quint64> directoryOffset;

    // The reference is good until the next Add.
    ZipEntry& Add(const QByteArray& name, const QByteArray& data, quint16 method = Deflated)
    {
        ZipEntry entry;
        entry.name = name;
        entry.data = data;
        entry.method = method;
        entries.push_back(entry);
        return entries.back();
    }

    QByteArray Build() const
    {
        const quint64 base = prefixInOffsets ? quint64(prefix.size()) : 0;
        std::vector<size_t> order(entries.size());
        std::iota(order.begin(), order.end(), size_t(0));
        if (reverseLocalOrder)
            std::reverse(order.begin(), order.end());

        QByteArray body;
        std::vector<QByteArray> packed(entries.size());
        std::vector<quint64> offsets(entries.size());
        for (size_t i : order) {
            packed[i] = Packed(entries[i]);
            offsets[i] = base + quint64(body.size());
            body += LocalRecord(entries[i], packed[i]);
        }

        QByteArray directory;
        for (size_t i = 0; i < entries.size(); ++i)
            directory += CentralHeader(entries[i], packed[i], offsets[i]);

        const quint64 dirOffset = base + quint64(body.size());
        QByteArray tail;
        if (zip64 && zip64Records)
            tail += Zip64Records(directory, dirOffset, dirOffset + quint64(directory.size()));
        tail += EndRecord(directory, dirOffset);
        return prefix + body + directory + tail;
    }

private:
    static constexpr quint16 DosTime = (12 << 11);
    static constexpr quint16 DosDate = ((2025 - 1980) << 9) | (1 << 5) | 15;

    static QByteArray Packed(const ZipEntry& e)
    {
        if (e.packed)
            return *e.packed;
        return e.method == Deflated ? Deflate(e.data) : e.data;
    }

    static quint16 Version(const ZipEntry& e) { return e.zip64 ? 45 : 20; }

    static QByteArray LocalRecord(const ZipEntry& e, const QByteArray& packed)
    {
        QByteArray extra;
        if (e.zip64) {
            Put16(extra, 0x0001);
            Put16(extra, 16);
            Put64(extra, quint64(e.data.size()));
            Put64(extra, quint64(packed.size()));
        }
        extra += e.extra;

        QByteArray out;
        Put32(out, e.localSignature);
        Put16(out, Version(e));
        Put16(out, e.flags);
        Put16(out, e.method);
        Put16(out, DosTime);
        Put16(out, DosDate);
        Put32(out, e.crc.value_or(Crc(e.data)));
        Put32(out, e.zip64 ? 0xFFFFFFFF : quint64(packed.size()));
        Put32(out, e.zip64 ? 0xFFFFFFFF : quint64(e.data.size()));
        Put16(out, quint64(e.name.size()));
        Put16(out, quint64(extra.size()));
        return out + e.name + extra + packed;
    }

    static QByteArray CentralHeader(const ZipEntry& e, const QByteArray& packed, quint64 offset)
    {
        const quint64 compressed = e.compressedSize.value_or(quint64(packed.size()));
        const quint64 uncompressed = e.uncompressedSize.value_or(quint64(e.data.size()));
        const quint64 local = e.localOffset.value_or(offset);

        QByteArray extra;
        if (e.zip64) {
            const quint64 values[] = {uncompressed, compressed, local};
            Put16(extra, 0x0001);
            Put16(extra, quint64(8 * e.zip64ExtraValues));
            for (int i = 0; i < e.zip64ExtraValues; ++i)
                Put64(extra, values[i]);
        }
        extra += e.extra;

        QByteArray out;
        Put32(out, e.centralSignature);
        Put16(out, (quint16(e.host) << 8) | Version(e));
        Put16(out, Version(e));
        Put16(out, e.flags);
        Put16(out, e.method);
        Put16(out, DosTime);
        Put16(out, DosDate);
        Put32(out, e.crc.value_or(Crc(e.data)));
        Put32(out, e.zip64 ? 0xFFFFFFFF : compressed);
        Put32(out, e.zip64 ? 0xFFFFFFFF : uncompressed);
        Put16(out, quint64(e.name.size()));
        Put16(out, quint64(extra.size()));
        Put16(out, 0); // comment
        Put16(out, 0); // disk
        Put16(out, 0); // internal attributes
        Put32(out, e.externalAttributes);
        Put32(out, e.zip64 ? 0xFFFFFFFF : local);
        return out + e.name + extra;
    }

    QByteArray Zip64Records(const QByteArray& directory, quint64 dirOffset, quint64 recordOffset) const
    {
        QByteArray out;
        Put32(out, zip64EndSignature);
        Put64(out, 44);
        Put16(out, 45);
        Put16(out, 45);
        Put32(out, 0);
        Put32(out, 0);
        Put64(out, entryCount.value_or(entries.size()));
        Put64(out, entryCount.value_or(entries.size()));
        Put64(out, directorySize.value_or(quint64(directory.size())));
        Put64(out, directoryOffset.value_or(dirOffset));

        Put32(out, 0x07064B50);
        Put32(out, 0);
        Put64(out, recordOffset);
        Put32(out, 1);
        return out;
    }

    QByteArray EndRecord(const QByteArray& directory, quint64 dirOffset) const
    {
        QByteArray out;
        Put32(out, 0x06054B50);
        if (zip64) {
            Put16(out, 0);
            Put16(out, 0);
            Put16(out, 0xFFFF);
            Put16(out, 0xFFFF);
            Put32(out, 0xFFFFFFFF);
            Put32(out, 0xFFFFFFFF);
        } else {
            Put16(out, 0);
            Put16(out, 0);
            Put16(out, entryCount.value_or(entries.size()));
            Put16(out, entryCount.value_or(entries.size()));
            Put32(out, directorySize.value_or(quint64(directory.size())));
            Put32(out, directoryOffset.value_or(dirOffset));
        }
        Put16(out, commentLength.value_or(quint16(comment.size())));
        return out + comment;
    }
};

} // namespace ziptest
