// The data types, kinds and flags of fields, in the toolkit's names.
#pragma once

#include <QString>
#include <cstdint>

enum TFieldType {
    ftUnknown,
    ftString,
    ftSmallint, // 16-bit signed
    ftInteger,  // 32-bit signed
    ftWord,     // 16-bit unsigned
    ftBoolean,
    ftFloat,
    ftCurrency,
    ftBCD,
    ftDate,
    ftTime,
    ftDateTime,
    ftBytes, // fixed binary (the 8-byte row address)
    ftAutoInc,
    ftBlob,
    ftMemo,
    ftLargeint, // 64-bit signed
};

// The type's name as the toolkit prints it ("String", "Integer", ...).
QString FieldTypeName(TFieldType type);
// Blob and memo values live outside the record's fixed part.
bool IsBlobType(TFieldType type);
// Integers, floats, currency and BCD: the types that hold a number.
bool IsNumericType(TFieldType type);

// A stored value read where it lies, for typed field reads that need no
// variant: numbers as they are, text as the storage holds it. Valid until
// the row changes or the data set moves.
struct TValueView
{
    enum TKind {
        vkNone, // no view of this value: read it as a variant
        vkNull,
        vkInt,    // Int
        vkFloat,  // Float (dates as days)
        vkLatin1, // Data: Length bytes
        vkUtf16,  // Data: Length UTF-16 units
    };
    TKind Kind = vkNone;
    int64_t Int = 0;
    double Float = 0;
    const void* Data = nullptr;
    qsizetype Length = 0;
};

enum TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc };

enum TProviderFlag : uint8_t {
    pfInUpdate = 1,
    pfInWhere = 2,
    pfInKey = 4,
    pfHidden = 8,
};
using TProviderFlags = uint8_t;
inline constexpr TProviderFlags DefaultProviderFlags = pfInUpdate | pfInWhere;

enum TFieldAttribute : uint8_t {
    faHiddenCol = 1,
    faReadonly = 2,
    faRequired = 4,
    faLink = 8,
    faUnNamed = 16,
    faFixed = 32,
};
using TFieldAttributes = uint8_t;
