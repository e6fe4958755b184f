// A table built from arbitrary bytes (its fields, index definitions and rows)
// is saved and loaded back: the file must give back the same definitions,
// the same rows in the same order and the same order under every index.
#include "MemTable.h"
#include "MemTableFile.h"

#include <QTemporaryDir>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The fuzz input read front to back; past its end every read gives zeros.
class TBytes
{
public:
    TBytes(const uint8_t* data, size_t size) : FData(data), FSize(size) {}

    bool Empty() const { return FAt >= FSize; }
    uint8_t Byte() { return FAt < FSize ? FData[FAt++] : 0; }
    template <typename T>
    T Get()
    {
        T value{};
        const size_t n = std::min(sizeof value, FSize - std::min(FAt, FSize));
        std::memcpy(&value, FData + FAt, n);
        FAt += n;
        return value;
    }
    QByteArray Take(size_t count)
    {
        const size_t n = std::min(count, FSize - std::min(FAt, FSize));
        QByteArray bytes(reinterpret_cast<const char*>(FData + FAt), static_cast<qsizetype>(n));
        FAt += n;
        return bytes;
    }

private:
    const uint8_t* FData;
    size_t FSize;
    size_t FAt = 0;
};

constexpr TFieldType kTypes[] = {ftString, ftSmallint, ftInteger,  ftWord,  ftBoolean, ftFloat, ftCurrency, ftBCD,
                                 ftDate,   ftTime,     ftDateTime, ftBytes, ftBlob,    ftMemo,  ftLargeint};
constexpr double kFirstDay = -693593; // 01.01.0001
constexpr double kLastDay = 2958465;  // 31.12.9999

int SizeFor(TFieldType type, uint8_t byte)
{
    switch (type) {
    case ftString: return 1 + byte % 24;
    case ftBytes: return 1 + byte % 8;
    case ftBCD: return byte % 5;
    default: return 0;
    }
}

double Finite(double value) { return std::isfinite(value) ? value : 0; }

Variant ValueFor(const TFieldDef& def, TBytes& in)
{
    if (in.Byte() % 5 == 0)
        return Variant::Null();
    switch (def.DataType()) {
    case ftString: return QString::fromUtf8(in.Take(in.Byte() % (def.Size() + 1))).left(def.Size());
    case ftMemo: return QString::fromUtf8(in.Take(in.Byte()));
    case ftSmallint: return int(in.Get<int16_t>());
    case ftInteger: return in.Get<int32_t>();
    case ftWord: return int(in.Get<uint16_t>());
    case ftBoolean: return (in.Byte() & 1) != 0;
    case ftFloat: return Finite(in.Get<double>());
    case ftCurrency: return TCurrency{in.Get<int32_t>()};
    case ftBCD: return double(in.Get<int32_t>()) / 100;
    case ftDate: return Variant::FromDateTime(kFirstDay + in.Get<uint32_t>() % uint32_t(kLastDay - kFirstDay));
    case ftTime: return Variant::FromDateTime(double(in.Get<uint32_t>() % 86400000) / 86400000);
    case ftDateTime:
        return Variant::FromDateTime(kFirstDay + in.Get<uint32_t>() % uint32_t(kLastDay - kFirstDay)
                                     + double(in.Get<uint32_t>() % 86400000) / 86400000);
    case ftBytes: {
        QByteArray bytes = in.Take(size_t(def.Size()));
        bytes.resize(def.Size(), '\0');
        return bytes;
    }
    case ftBlob: return in.Take(size_t(in.Get<uint16_t>() % 512));
    case ftLargeint: return in.Get<int64_t>();
    default: return Variant::Null();
    }
}

void Build(TCustomMemTable& table, TBytes& in)
{
    const int fieldCount = 1 + in.Byte() % 6;
    for (int i = 0; i < fieldCount; ++i) {
        const TFieldType type = kTypes[in.Byte() % std::size(kTypes)];
        table.FieldDefs().Add(QStringLiteral("F%1").arg(i), type, SizeFor(type, in.Byte()));
    }
    const int indexCount = in.Byte() % 3;
    for (int i = 0; i < indexCount; ++i) {
        QString fields = QStringLiteral("F%1").arg(in.Byte() % fieldCount);
        if (in.Byte() & 1)
            fields += QStringLiteral(";F%1").arg(in.Byte() % fieldCount);
        const TIndexOptions options = in.Byte() & (ixUnique | ixDescending | ixCaseInsensitive);
        try {
            table.AddIndex(QStringLiteral("IX%1").arg(i), fields, options);
        } catch (const Exception&) {
        }
    }
    table.Open();
    for (int row = 0; row < 64 && !in.Empty(); ++row) {
        table.Append();
        try {
            for (int i = 0; i < table.FieldDefs().Count(); ++i)
                table.Fields()[i]->SetValue(ValueFor(table.FieldDefs()[i], in));
            table.Post();
        } catch (const Exception&) {
            table.Cancel();
        }
    }
}

[[noreturn]] void Differ(const char* what)
{
    std::fprintf(stderr, "the table read back differs: %s\n", what);
    std::abort();
}

void CompareRows(TCustomMemTable& a, TCustomMemTable& b)
{
    a.First();
    b.First();
    for (; !a.Eof() && !b.Eof(); a.Next(), b.Next())
        for (int i = 0; i < a.FieldCount(); ++i) {
            const Variant x = a.Fields()[i]->Value();
            const Variant y = b.Fields()[i]->Value();
            if (x.IsNull() != y.IsNull() || (!x.IsNull() && x.Compare(y) != 0))
                Differ("a value");
        }
    if (a.Eof() != b.Eof())
        Differ("the number of rows");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("roundtrip.cds"));
    TBytes in(data, size);
    TCustomMemTable original;
    try {
        Build(original, in);
    } catch (const Exception&) {
        return 0; // a definition the table refuses
    }
    original.SaveToFile(path);

    TCustomMemTable loaded;
    loaded.LoadFromFile(path);
    if (loaded.FieldDefs().Count() != original.FieldDefs().Count())
        Differ("the number of fields");
    for (int i = 0; i < original.FieldDefs().Count(); ++i) {
        const TFieldDef& x = original.FieldDefs()[i];
        const TFieldDef& y = loaded.FieldDefs()[i];
        if (x.Name() != y.Name() || x.DataType() != y.DataType() || x.Size() != y.Size()
            || x.Required() != y.Required())
            Differ("a field definition");
    }
    if (loaded.IndexDefs().Count() != original.IndexDefs().Count())
        Differ("the number of indexes");
    if (loaded.RecordCount() != original.RecordCount())
        Differ("the number of rows");
    CompareRows(original, loaded);
    for (int i = 0; i < original.IndexDefs().Count(); ++i) {
        const TIndexDef& x = original.IndexDefs()[i];
        const TIndexDef& y = loaded.IndexDefs()[i];
        if (x.Name() != y.Name() || x.Fields() != y.Fields() || x.Options() != y.Options())
            Differ("an index definition");
        original.SetIndexName(x.Name());
        loaded.SetIndexName(y.Name());
        CompareRows(original, loaded);
    }
    return 0;
}
