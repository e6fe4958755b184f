#include "uZip.h"

#include "Text.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <limits>
#include <new>

namespace {

constexpr quint32 LocalHeaderSig = 0x04034B50;
constexpr quint32 CentralHeaderSig = 0x02014B50;
constexpr quint32 EndSig = 0x06054B50;
constexpr quint32 Zip64LocatorSig = 0x07064B50;
constexpr quint32 Zip64EndSig = 0x06064B50;

constexpr quint64 LocalHeaderSize = 30;
constexpr quint64 CentralHeaderSize = 46;
constexpr quint64 EndSize = 22;
constexpr quint64 Zip64LocatorSize = 20;
constexpr quint64 Zip64EndSize = 56;
constexpr quint64 Zip64EndMinRecordSize = Zip64EndSize - 12; // its size field leaves out the signature and itself
constexpr quint64 EndSearchSpan = 65600;                     // the record, a maximal comment and some slack

constexpr quint16 Zip64ExtraId = 0x0001;
constexpr quint16 Max16 = 0xFFFF;
constexpr quint32 Max32 = 0xFFFFFFFF;

constexpr quint16 FlagEncrypted = 0x0001;
constexpr quint16 FlagUtf8Name = 0x0800;

constexpr quint16 MethodStored = 0;
constexpr quint16 MethodDeflate = 8;
constexpr quint16 MethodDeflate64 = 9;

constexpr quint32 DosDirectoryAttr = 0x10;
constexpr quint8 HostMsDos = 0;
constexpr quint8 HostNtfs = 10;
constexpr quint8 HostVfat = 11;

// Deflate cannot expand more than about 1032:1; nothing beyond that is
// reserved up front, whatever the header claims.
constexpr quint64 MaxDeflateRatio = 1032;
constexpr quint64 MaxInitialReserve = quint64(64) << 20;

QString ErrorText(int number)
{
    switch (number) {
    case EZipError::ZE_CRCError:
        return QStringLiteral("Invalid size or check sum of file or unsupported compression format");
    case EZipError::ZE_InvalidArchive: return QStringLiteral("Invalid archive file.");
    case EZipError::ZE_NoZip64End: return QStringLiteral("Cannot find Zip64 directory end record");
    case EZipError::ZE_Deflate64: return QStringLiteral("Deflate64 compression method is not supported");
    case EZipError::ZE_Damaged: return QStringLiteral("Archive is damaged. Open failed");
    }
    return QStringLiteral("Archive error");
}

[[noreturn]] void Fail(int number) { throw EZipError(number, ErrorText(number)); }

quint64 SaturatingMul(quint64 a, quint64 b)
{
    return a != 0 && b > std::numeric_limits<quint64>::max() / a ? std::numeric_limits<quint64>::max() : a * b;
}

quint64 SaturatingAdd(quint64 a, quint64 b)
{
    return b > std::numeric_limits<quint64>::max() - a ? std::numeric_limits<quint64>::max() : a + b;
}

// Little-endian fields of one span of the archive. Reading past the span
// means the archive is broken, so every read is checked and fails with the
// span's error number.
class TReader
{
public:
    TReader(const QByteArray& data, quint64 begin, quint64 end, int error = EZipError::ZE_InvalidArchive)
        : FData(reinterpret_cast<const uchar*>(data.constData())), FPos(begin), FEnd(end), FError(error)
    {
        if (begin > end || end > quint64(data.size()))
            Fail(FError);
    }

    quint64 Pos() const { return FPos; }
    bool Has(quint64 count) const { return count <= FEnd - FPos; }

    quint16 U16() { return static_cast<quint16>(Read(2)); }
    quint32 U32() { return static_cast<quint32>(Read(4)); }
    quint64 U64() { return Read(8); }

    const uchar* Take(quint64 count)
    {
        if (!Has(count))
            Fail(FError);
        const uchar* p = FData + FPos;
        FPos += count;
        return p;
    }

    void Skip(quint64 count) { Take(count); }

    QByteArray Bytes(quint64 count)
    {
        const uchar* p = Take(count);
        return QByteArray(reinterpret_cast<const char*>(p), static_cast<qsizetype>(count));
    }

    // The next count bytes as a reader of their own; this one moves past them.
    TReader Sub(quint64 count)
    {
        TReader sub(*this);
        Take(count);
        sub.FEnd = FPos;
        return sub;
    }

private:
    quint64 Read(int width)
    {
        const uchar* p = Take(static_cast<quint64>(width));
        quint64 value = 0;
        for (int i = width - 1; i >= 0; --i)
            value = (value << 8) | p[i];
        return value;
    }

    const uchar* FData;
    quint64 FPos;
    quint64 FEnd;
    int FError;
};

struct TEntry
{
    quint16 madeBy = 0;
    quint16 flags = 0;
    quint16 method = 0;
    quint32 crc = 0;
    quint64 compressedSize = 0;
    quint64 uncompressedSize = 0;
    quint64 localOffset = 0;
    quint32 externalAttributes = 0;
    QByteArray name;

    quint8 Host() const { return static_cast<quint8>(madeBy >> 8); }

    bool IsFolder() const
    {
        if (externalAttributes & DosDirectoryAttr)
            return true;
        // Outside the DOS family the low byte need not carry DOS attributes;
        // there a trailing slash is what marks a folder.
        const quint8 host = Host();
        const bool dosHost = host == HostMsDos || host == HostNtfs || host == HostVfat;
        return !dosHost && name.endsWith('/');
    }

    QString Name() const
    {
        QString text = (flags & FlagUtf8Name) ? QString::fromUtf8(name) : OemToString(name);
        return text.replace(QLatin1Char('/'), QLatin1Char('\\'));
    }
};

// Raw (headerless) inflate; the stream is released however the run ends.
class TInflater
{
public:
    TInflater()
    {
        if (inflateInit2(&FStream, -MAX_WBITS) != Z_OK)
            throw std::bad_alloc();
    }
    ~TInflater() { inflateEnd(&FStream); }
    TInflater(const TInflater&) = delete;
    TInflater& operator=(const TInflater&) = delete;

    // Inflates input, stopping once limit bytes are out: a longer stream is
    // wrong anyway, and the caller's size check reports it.
    QByteArray Run(const uchar* input, quint64 inputSize, quint64 limit)
    {
        limit = std::min<quint64>(limit, quint64(std::numeric_limits<qsizetype>::max()));
        QByteArray out;
        out.resize(static_cast<qsizetype>(InitialSize(inputSize, limit)));
        quint64 produced = 0;
        quint64 remaining = inputSize;
        FStream.next_in = const_cast<Bytef*>(input);
        for (;;) {
            if (produced == quint64(out.size())) {
                if (produced >= limit)
                    break;
                out.resize(static_cast<qsizetype>(std::min(limit, std::max(produced * 2, produced + 4096))));
            }
            const uInt inChunk = Chunk(remaining);
            const uInt outChunk = Chunk(quint64(out.size()) - produced);
            FStream.avail_in = inChunk;
            FStream.next_out = reinterpret_cast<Bytef*>(out.data()) + produced;
            FStream.avail_out = outChunk;
            const int rc = inflate(&FStream, Z_NO_FLUSH);
            remaining -= inChunk - FStream.avail_in;
            produced += outChunk - FStream.avail_out;
            if (rc == Z_STREAM_END)
                break;
            if (rc != Z_OK) // a corrupt stream, or one that runs out of input
                Fail(EZipError::ZE_CRCError);
        }
        out.resize(static_cast<qsizetype>(produced));
        return out;
    }

private:
    static uInt Chunk(quint64 count) { return static_cast<uInt>(std::min<quint64>(count, UINT_MAX)); }

    static quint64 InitialSize(quint64 inputSize, quint64 limit)
    {
        const quint64 possible = SaturatingAdd(SaturatingMul(inputSize, MaxDeflateRatio), 1024);
        return std::min({limit, possible, MaxInitialReserve});
    }

    z_stream FStream{};
};

quint32 Crc32(const QByteArray& data)
{
    return static_cast<quint32>(
        crc32_z(0, reinterpret_cast<const Bytef*>(data.constData()), static_cast<z_size_t>(data.size())));
}

} // namespace

EZipError::EZipError(int nativeError, const QString& text)
    : Exception(text + QStringLiteral(" - Native error: ")
                + QStringLiteral("%1").arg(nativeError, 5, 10, QLatin1Char('0'))),
      FNativeError(nativeError)
{
}

// The archive's directory, read from the memory it lies in; entries are
// extracted on request.
class TUnZip::TArchive
{
public:
    explicit TArchive(const QByteArray& data) : FData(data)
    {
        ReadDirectory(FindDirectory(FindEnd()));
        CheckSizes();
    }

    const std::vector<TEntry>& Entries() const { return FEntries; }

    QByteArray Extract(const TEntry& entry) const
    {
        if (entry.flags & FlagEncrypted)
            Fail(EZipError::ZE_CRCError);
        if (entry.method == MethodDeflate64)
            Fail(EZipError::ZE_Deflate64);
        if (entry.method != MethodStored && entry.method != MethodDeflate)
            Fail(EZipError::ZE_CRCError);

        const uchar* packed = PackedData(entry);
        QByteArray content;
        if (entry.method == MethodStored)
            content = QByteArray(reinterpret_cast<const char*>(packed), static_cast<qsizetype>(entry.compressedSize));
        else
            content = TInflater().Run(packed, entry.compressedSize, SaturatingAdd(entry.uncompressedSize, 1));

        if (quint64(content.size()) != entry.uncompressedSize || Crc32(content) != entry.crc)
            Fail(EZipError::ZE_CRCError);
        return content;
    }

private:
    struct TDirectory
    {
        quint64 start = 0; // where it lies in the data
        quint64 end = 0;
        quint64 declaredOffset = 0; // where the archive says it lies
        quint64 count = 0;
    };

    quint64 Size() const { return quint64(FData.size()); }

    // The end record is the last one whose comment runs exactly to the end of
    // the data; a comment may itself contain the signature.
    quint64 FindEnd() const
    {
        if (Size() < EndSize)
            Fail(EZipError::ZE_InvalidArchive);
        const quint64 lowest = Size() > EndSearchSpan ? Size() - EndSearchSpan : 0;
        for (quint64 pos = Size() - EndSize;; --pos) {
            TReader r(FData, pos, Size());
            const quint32 sig = r.U32();
            r.Skip(16);
            if (sig == EndSig && pos + EndSize + r.U16() == Size())
                return pos;
            if (pos == lowest)
                break;
        }
        Fail(EZipError::ZE_InvalidArchive);
    }

    TDirectory FindDirectory(quint64 endPos) const
    {
        TReader r(FData, endPos + 4, Size());
        const quint16 disk = r.U16();
        const quint16 dirDisk = r.U16();
        const quint16 diskEntries = r.U16();
        const quint16 entries = r.U16();
        const quint32 dirSize = r.U32();
        const quint32 dirOffset = r.U32();
        if (disk == Max16 || dirDisk == Max16 || diskEntries == Max16 || entries == Max16 || dirSize == Max32
            || dirOffset == Max32)
            return FindZip64Directory(endPos);
        return Directory(endPos, dirSize, dirOffset, entries);
    }

    // The directory ends where the end record (or the Zip64 one) begins; data
    // placed before the archive only shifts it.
    TDirectory Directory(quint64 end, quint64 size, quint64 declaredOffset, quint64 count) const
    {
        if (size > end)
            Fail(EZipError::ZE_InvalidArchive);
        return {end - size, end, declaredOffset, count};
    }

    TDirectory FindZip64Directory(quint64 endPos) const
    {
        if (endPos < Zip64LocatorSize)
            Fail(EZipError::ZE_NoZip64End);
        const quint64 locatorPos = endPos - Zip64LocatorSize;
        TReader locator(FData, locatorPos, endPos, EZipError::ZE_NoZip64End);
        if (locator.U32() != Zip64LocatorSig)
            Fail(EZipError::ZE_NoZip64End);
        locator.Skip(4);
        const quint64 declaredPos = locator.U64();

        // Right before the locator unless the record carries extensible data;
        // then only its declared position (unshifted) can tell.
        if (locatorPos >= Zip64EndSize && IsZip64End(locatorPos - Zip64EndSize, locatorPos))
            return ReadZip64End(locatorPos - Zip64EndSize, locatorPos);
        if (IsZip64End(declaredPos, locatorPos))
            return ReadZip64End(declaredPos, locatorPos);
        Fail(EZipError::ZE_NoZip64End);
    }

    bool IsZip64End(quint64 pos, quint64 locatorPos) const
    {
        if (pos > locatorPos || locatorPos - pos < Zip64EndSize)
            return false;
        TReader r(FData, pos, locatorPos);
        return r.U32() == Zip64EndSig && r.U64() >= Zip64EndMinRecordSize;
    }

    TDirectory ReadZip64End(quint64 pos, quint64 locatorPos) const
    {
        TReader r(FData, pos + 12, locatorPos, EZipError::ZE_NoZip64End);
        r.Skip(2 + 2 + 4 + 4 + 8); // versions, disk numbers, entries on this disk
        const quint64 entries = r.U64();
        const quint64 dirSize = r.U64();
        const quint64 dirOffset = r.U64();
        return Directory(pos, dirSize, dirOffset, entries);
    }

    void ReadDirectory(const TDirectory& dir)
    {
        FDirStart = dir.start;
        FDirOffset = dir.declaredOffset;
        FEntries.reserve(static_cast<size_t>(std::min(dir.count, (dir.end - dir.start) / CentralHeaderSize)));
        TReader r(FData, dir.start, dir.end);
        for (quint64 i = 0; i < dir.count; ++i)
            FEntries.push_back(ReadCentralHeader(r));
    }

    static TEntry ReadCentralHeader(TReader& r)
    {
        if (r.U32() != CentralHeaderSig)
            Fail(EZipError::ZE_InvalidArchive);
        TEntry entry;
        entry.madeBy = r.U16();
        r.Skip(2); // version needed
        entry.flags = r.U16();
        entry.method = r.U16();
        r.Skip(4); // DOS time and date
        entry.crc = r.U32();
        entry.compressedSize = r.U32();
        entry.uncompressedSize = r.U32();
        const quint16 nameLength = r.U16();
        const quint16 extraLength = r.U16();
        const quint16 commentLength = r.U16();
        r.Skip(2 + 2); // disk number, internal attributes
        entry.externalAttributes = r.U32();
        entry.localOffset = r.U32();
        entry.name = r.Bytes(nameLength);
        TReader extra = r.Sub(extraLength);
        ApplyZip64Extra(entry, extra);
        r.Skip(commentLength);
        return entry;
    }

    // Fields saturated in the header come from the Zip64 extra field, in
    // their fixed order, each only if saturated (the disk number, last, is
    // of no use here).
    static void ApplyZip64Extra(TEntry& entry, TReader& extra)
    {
        const bool uncompressed = entry.uncompressedSize == Max32;
        const bool compressed = entry.compressedSize == Max32;
        const bool offset = entry.localOffset == Max32;
        if (!uncompressed && !compressed && !offset)
            return;
        while (extra.Has(4)) {
            const quint16 id = extra.U16();
            const quint16 length = extra.U16();
            if (!extra.Has(length))
                return; // trailing junk some writers leave; not ours to judge
            TReader field = extra.Sub(length);
            if (id != Zip64ExtraId)
                continue;
            if (uncompressed)
                entry.uncompressedSize = field.U64();
            if (compressed)
                entry.compressedSize = field.U64();
            if (offset)
                entry.localOffset = field.U64();
            return;
        }
    }

    // Any sizes that together outgrow the archive are lies; checked before
    // anything is inflated.
    void CheckSizes() const
    {
        quint64 total = 0;
        for (const TEntry& entry : FEntries) {
            total = SaturatingAdd(total, entry.compressedSize);
            if (total > Size())
                Fail(EZipError::ZE_Damaged);
        }
    }

    // The directory's position versus its declared offset tells how far the
    // whole archive was moved (a self-extractor stub in front of it).
    quint64 LocalHeaderPos(quint64 declared) const
    {
        if (declared >= FDirOffset) {
            const quint64 delta = declared - FDirOffset;
            if (delta > Size() - FDirStart)
                Fail(EZipError::ZE_InvalidArchive);
            return FDirStart + delta;
        }
        const quint64 delta = FDirOffset - declared;
        if (delta > FDirStart)
            Fail(EZipError::ZE_InvalidArchive);
        return FDirStart - delta;
    }

    const uchar* PackedData(const TEntry& entry) const
    {
        TReader r(FData, LocalHeaderPos(entry.localOffset), Size());
        if (r.U32() != LocalHeaderSig)
            Fail(EZipError::ZE_InvalidArchive);
        r.Skip(LocalHeaderSize - 8); // up to the name and extra lengths
        const quint16 nameLength = r.U16();
        const quint16 extraLength = r.U16();
        r.Skip(quint64(nameLength) + extraLength);
        return r.Take(entry.compressedSize);
    }

    const QByteArray& FData;
    quint64 FDirStart = 0;
    quint64 FDirOffset = 0;
    std::vector<TEntry> FEntries;
};

TUnZip::TUnZip() = default;
TUnZip::~TUnZip() = default;

void TUnZip::Open(const QByteArray& data)
{
    Close();
    try {
        FMemory = std::make_unique<QByteArray>(data.constData(), data.size());
        FArchive = std::make_unique<TArchive>(*FMemory);
        std::vector<QString> names;
        std::vector<QByteArray> contents;
        for (const TEntry& entry : FArchive->Entries()) {
            if (entry.IsFolder())
                continue;
            names.push_back(entry.Name());
            contents.push_back(FArchive->Extract(entry));
        }
        FNames = std::move(names);
        FContents = std::move(contents);
    } catch (...) {
        Close();
        throw;
    }
}

void TUnZip::Close()
{
    FArchive.reset();
    FMemory.reset();
    FNames.clear();
    FContents.clear();
}

int TUnZip::Count() const
{
    RTL_ASSERT(FArchive != nullptr, QStringLiteral("The archive is not open"));
    return static_cast<int>(FNames.size());
}

void TUnZip::GetFile(int index, QString& name, QByteArray& content) const
{
    RTL_ASSERT(index >= 0 && index < Count(), QStringLiteral("Archive entry index out of range"));
    name = FNames[static_cast<size_t>(index)];
    content = FContents[static_cast<size_t>(index)];
}
