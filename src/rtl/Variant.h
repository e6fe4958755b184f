// The toolkit's variant: one value of any of the kinds data sets, fields and
// the framework exchange. Empty (unassigned) and null are distinct; null
// propagates through arithmetic.
#pragma once

#include "DateTime.h"
#include "Exceptions.h"

#include <QByteArray>
#include <QString>
#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <variant>
#include <vector>

// A conversion or operation the variant's kind does not allow.
class EVariantError : public Exception
{
public:
    using Exception::Exception;
};

enum TVarType {
    varEmpty,
    varNull,
    varBoolean,
    varInteger, // 32-bit signed
    varInt64,
    varDouble,
    varCurrency, // fixed point, 4 decimals (the value times 10000 in 64 bits)
    varDate,     // TDateTime
    varString,
    varBytes, // a byte string (blobs, row addresses)
    varArray, // a one-dimensional array of variants
};

// A currency amount: the value times 10000.
struct TCurrency
{
    int64_t Scaled = 0;
    static TCurrency FromDouble(double value); // rounds half away from zero
    double ToDouble() const { return Scaled / 10000.0; }
    auto operator<=>(const TCurrency&) const = default;
};

class Variant
{
public:
    Variant() = default; // empty
    Variant(bool value);
    Variant(int value);
    Variant(int64_t value);
    Variant(double value);
    Variant(TCurrency value);
    Variant(const QString& value);
    Variant(const char* utf8);
    Variant(const QByteArray& bytes);
    Variant(std::vector<Variant> items);
    // The integer spellings that would otherwise be ambiguous (qint64 as
    // long long, unsigned int): as Int64.
    template <std::integral T>
    requires((std::is_signed_v<T> && sizeof(T) == sizeof(int64_t) && !std::is_same_v<T, int64_t>)
             || (std::is_unsigned_v<T> && !std::is_same_v<T, bool> && sizeof(T) == sizeof(int32_t))) Variant(T value)
        : Variant(static_cast<int64_t>(value))
    {
    }

    static Variant Null();
    static Variant FromDateTime(TDateTime value);

    TVarType VarType() const;
    bool IsEmpty() const { return VarType() == varEmpty; }
    bool IsNull() const { return VarType() == varNull; }
    bool IsEmptyOrNull() const { return IsEmpty() || IsNull(); }
    bool IsArray() const { return VarType() == varArray; }
    bool IsNumeric() const; // Boolean excluded
    bool IsString() const { return VarType() == varString; }

    // Conversions with the toolkit's rules: numbers and dates convert among
    // themselves, strings are parsed (StrToFloat, StrToDateTime, "True"/"False"),
    // Booleans are -1/0 as numbers and "True"/"False" as strings. Empty converts
    // to 0, "" and False; null raises EVariantError, as does any impossible
    // conversion (message "Could not convert variant of type (X) into type (Y)").
    bool AsBoolean() const;
    int32_t AsInteger() const; // doubles round half to even; out of range raises
    int64_t AsInt64() const;
    double AsDouble() const;
    TCurrency AsCurrency() const;
    TDateTime AsDateTime() const;
    QString AsString() const;                    // null raises: use VarToStr for "" instead
    QByteArray AsBytes() const;                  // bytes as they are; a string as its UTF-8
    const std::vector<Variant>& AsArray() const; // raises unless an array

    // Array access; raises unless an array and the index is in range.
    int ArrayHighBound() const;
    const Variant& operator[](int index) const;
    Variant& operator[](int index);

    // Comparison as the toolkit's variant comparison: numbers (and dates,
    // currency, Booleans) by value, strings by text (case-sensitive unless
    // told otherwise), a number against a string by converting the string;
    // arrays element by element. Empty and null sort before everything else
    // (empty before null) and are equal only to themselves. Raises
    // EVariantError where the kinds cannot be compared (bytes against a number).
    int Compare(const Variant& other, bool caseInsensitive = false) const;
    bool operator==(const Variant& other) const;
    bool operator!=(const Variant& other) const { return !(*this == other); }
    bool operator<(const Variant& other) const { return Compare(other) < 0; }

    // Arithmetic: null (or empty) with anything gives null; strings are converted
    // to numbers, except that + of two strings concatenates. Integer + and * keep
    // integers while they fit (int32 -> int64 -> double); / always gives a double.
    friend Variant operator+(const Variant& a, const Variant& b);
    friend Variant operator-(const Variant& a, const Variant& b);
    friend Variant operator*(const Variant& a, const Variant& b);
    friend Variant operator/(const Variant& a, const Variant& b);
    Variant operator-() const;

    // The kind's name as the toolkit's messages show it ("String", "Null", ...).
    static QString TypeName(TVarType type);

private:
    friend struct TVariantAccess; // the implementation's helpers

    struct TNull
    {
        bool operator==(const TNull&) const = default;
    };
    struct TDate
    {
        TDateTime Value;
        bool operator==(const TDate&) const = default;
    };
    using TArray = std::shared_ptr<std::vector<Variant>>; // copied on write
    std::variant<std::monostate, TNull, bool, int32_t, int64_t, double, TCurrency, TDate, QString, QByteArray, TArray>
        FValue;
};

Variant VarArrayOf(std::initializer_list<Variant> items);
// "" for empty and null, otherwise AsString.
QString VarToStr(const Variant& value);
inline bool VarIsNull(const Variant& value) { return value.IsNull(); }
inline bool VarIsEmpty(const Variant& value) { return value.IsEmpty(); }
inline bool VarIsArray(const Variant& value) { return value.IsArray(); }
