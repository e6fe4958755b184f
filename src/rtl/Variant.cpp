#include "Variant.h"

#include "SysUtils.h"
#include "Text.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

constexpr int64_t CurrencyScale = 10000;
// 2^63: the first double beyond int64_t.
constexpr double Int64Bound = 9223372036854775808.0;

[[noreturn]] void CastError(TVarType from, TVarType to)
{
    throw EVariantError(QStringLiteral("Could not convert variant of type (%1) into type (%2)")
                            .arg(Variant::TypeName(from), Variant::TypeName(to)));
}

[[noreturn]] void RangeError(TVarType from, TVarType to)
{
    throw EVariantError(QStringLiteral("Range check error while converting variant of type (%1) into type (%2)")
                            .arg(Variant::TypeName(from), Variant::TypeName(to)));
}

[[noreturn]] void InvalidOperation() { throw EVariantError(QStringLiteral("Invalid variant operation")); }

int Sign(auto value) { return value < 0 ? -1 : value > 0 ? 1 : 0; }

// As the toolkit's variants convert doubles to integers: ties to even.
double RoundHalfEven(double value)
{
    double result = std::round(value);
    if (std::fabs(result - value) == 0.5)
        result = 2.0 * std::round(value / 2.0);
    return result;
}

std::optional<int64_t> DoubleToInt64(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = RoundHalfEven(value);
    if (rounded < -Int64Bound || rounded >= Int64Bound)
        return std::nullopt;
    return static_cast<int64_t>(rounded);
}

int64_t CurrencyToInt64(TCurrency value)
{
    int64_t whole = value.Scaled / CurrencyScale;
    const int64_t rest = value.Scaled % CurrencyScale;
    const int64_t half = CurrencyScale / 2;
    if (std::abs(rest) > half || (std::abs(rest) == half && whole % 2 != 0))
        whole += rest < 0 ? -1 : 1;
    return whole;
}

TCurrency CurrencyFromDouble(double value, TVarType from)
{
    if (!std::isfinite(value))
        RangeError(from, varCurrency);
    double scaled = value * CurrencyScale;
    // Round to the 15 digits a double holds first: 1.00005 * 10000 comes out
    // as 10000.499999999998 and must still round up.
    char buffer[32];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, scaled, std::chars_format::general, 15);
    std::from_chars(buffer, written.ptr, scaled);
    const double rounded = std::round(scaled);
    if (rounded < -Int64Bound || rounded >= Int64Bound)
        RangeError(from, varCurrency);
    return TCurrency{static_cast<int64_t>(rounded)};
}

QString CurrencyToStr(TCurrency value)
{
    const bool negative = value.Scaled < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value.Scaled) : static_cast<uint64_t>(value.Scaled);
    QString text = QString::number(magnitude / CurrencyScale);
    if (const uint64_t fraction = magnitude % CurrencyScale) {
        QString digits = QString::number(fraction).rightJustified(4, QLatin1Char('0'));
        while (digits.endsWith(QLatin1Char('0')))
            digits.chop(1);
        text += FormatSettings().DecimalSeparator + digits;
    }
    return negative ? QLatin1Char('-') + text : text;
}

std::optional<bool> BooleanName(const QString& text)
{
    const QString name = Trim(text);
    if (name.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (name.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    return std::nullopt;
}

// A string read as a number: a float (or integer), a hex integer, or a
// Boolean name (-1/0).
std::optional<double> StringToDouble(const QString& text)
{
    if (const auto value = TryStrToFloat(text))
        return value;
    if (const auto value = TryStrToInt64(text))
        return static_cast<double>(*value);
    if (const auto value = BooleanName(text))
        return *value ? -1.0 : 0.0;
    return std::nullopt;
}

} // namespace

struct TVariantAccess
{
    static const auto& Value(const Variant& v) { return v.FValue; }
    static TDateTime Date(const Variant& v) { return std::get<Variant::TDate>(v.FValue).Value; }

    // The number a numeric kind (Boolean, date included) stands for.
    static double Number(const Variant& v)
    {
        const auto& value = v.FValue;
        switch (v.VarType()) {
        case varBoolean: return std::get<bool>(value) ? -1.0 : 0.0;
        case varInteger: return std::get<int32_t>(value);
        case varInt64: return static_cast<double>(std::get<int64_t>(value));
        case varDouble: return std::get<double>(value);
        case varCurrency: return std::get<TCurrency>(value).ToDouble();
        case varDate: return Date(v);
        default: InvalidOperation();
        }
    }

    // A number for every numeric kind (0 when empty), or the text as parse
    // reads it; anything else cannot become target.
    template <typename Parse>
    static double ToDouble(const Variant& v, TVarType target, Parse parse)
    {
        switch (v.VarType()) {
        case varEmpty: return 0.0;
        case varBoolean:
        case varInteger:
        case varInt64:
        case varDouble:
        case varCurrency:
        case varDate: return Number(v);
        case varString:
            if (const auto number = parse(std::get<QString>(v.FValue)))
                return *number;
            break;
        default: break;
        }
        CastError(v.VarType(), target);
    }

    static int64_t ToInt64(const Variant& v, TVarType target)
    {
        const auto& value = v.FValue;
        const TVarType type = v.VarType();
        switch (type) {
        case varEmpty: return 0;
        case varBoolean: return std::get<bool>(value) ? -1 : 0;
        case varInteger: return std::get<int32_t>(value);
        case varInt64: return std::get<int64_t>(value);
        case varCurrency: return CurrencyToInt64(std::get<TCurrency>(value));
        case varDouble:
        case varDate:
            if (const auto result = DoubleToInt64(Number(v)))
                return *result;
            RangeError(type, target);
        case varString: {
            const QString& text = std::get<QString>(value);
            if (const auto result = TryStrToInt64(text))
                return *result;
            if (const auto number = StringToDouble(text)) {
                if (const auto result = DoubleToInt64(*number))
                    return *result;
                RangeError(type, target);
            }
            CastError(type, target);
        }
        default: CastError(type, target);
        }
    }

    // Numeric kinds by value; two Booleans as False < True.
    static int CompareNumbers(const Variant& a, const Variant& b)
    {
        const TVarType ta = a.VarType();
        const TVarType tb = b.VarType();
        if (ta == varBoolean && tb == varBoolean)
            return Sign(int(std::get<bool>(a.FValue)) - int(std::get<bool>(b.FValue)));
        const auto integral = [](TVarType t) { return t == varBoolean || t == varInteger || t == varInt64; };
        if (integral(ta) && integral(tb))
            return Sign(a.AsInt64() <=> b.AsInt64());
        if ((ta == varCurrency || integral(ta)) && (tb == varCurrency || integral(tb))) {
            const auto scaled = [](const Variant& v) -> __int128 {
                return v.VarType() == varCurrency ? std::get<TCurrency>(v.FValue).Scaled
                                                  : static_cast<__int128>(v.AsInt64()) * CurrencyScale;
            };
            const __int128 x = scaled(a);
            const __int128 y = scaled(b);
            return x < y ? -1 : x > y ? 1 : 0;
        }
        const double x = Number(a);
        const double y = Number(b);
        if (std::isnan(x) || std::isnan(y)) // NaN first, equal to itself
            return Sign(int(!std::isnan(x)) - int(!std::isnan(y)));
        return x < y ? -1 : x > y ? 1 : 0;
    }

    // A string made the kind of the number it is compared with.
    static Variant ConvertLike(const Variant& text, TVarType kind)
    {
        switch (kind) {
        case varBoolean: return Variant(text.AsBoolean());
        case varDate: return Variant::FromDateTime(text.AsDateTime());
        case varCurrency: return Variant(text.AsCurrency());
        default: return Variant(text.AsDouble());
        }
    }

    enum class TKind { Int32, Int64, Currency, Double, Date };
    struct TOperand
    {
        TKind Kind;
        int64_t Int = 0;    // Int32, Int64, and Currency's scaled value
        double Float = 0.0; // Double and Date
        double AsDouble() const
        {
            switch (Kind) {
            case TKind::Int32:
            case TKind::Int64: return static_cast<double>(Int);
            case TKind::Currency: return static_cast<double>(Int) / CurrencyScale;
            default: return Float;
            }
        }
    };

    static TOperand Operand(const Variant& v)
    {
        const auto& value = v.FValue;
        switch (v.VarType()) {
        case varBoolean: return {TKind::Int32, std::get<bool>(value) ? -1 : 0};
        case varInteger: return {TKind::Int32, std::get<int32_t>(value)};
        case varInt64: return {TKind::Int64, std::get<int64_t>(value)};
        case varCurrency: return {TKind::Currency, std::get<TCurrency>(value).Scaled};
        case varDouble: return {TKind::Double, 0, std::get<double>(value)};
        case varDate: return {TKind::Date, 0, Date(v)};
        case varString: return {TKind::Double, 0, v.AsDouble()};
        default: InvalidOperation();
        }
    }

    // Currency with currency or an integer; none on overflow.
    static std::optional<int64_t> CurrencyArithmetic(const TOperand& x, const TOperand& y, char op)
    {
        const auto scaled = [](const TOperand& o) -> std::optional<int64_t> {
            int64_t result = o.Int;
            if (o.Kind != TKind::Currency && __builtin_mul_overflow(o.Int, CurrencyScale, &result))
                return std::nullopt;
            return result;
        };
        int64_t result = 0;
        if (op == '*') {
            if (x.Kind != TKind::Currency || y.Kind != TKind::Currency) {
                if (__builtin_mul_overflow(x.Int, y.Int, &result))
                    return std::nullopt;
                return result;
            }
            const __int128 product = static_cast<__int128>(x.Int) * y.Int;
            __int128 quotient = product / CurrencyScale;
            const __int128 rest = product % CurrencyScale;
            if (rest >= CurrencyScale / 2 || rest <= -CurrencyScale / 2)
                quotient += rest < 0 ? -1 : 1;
            if (quotient < std::numeric_limits<int64_t>::min() || quotient > std::numeric_limits<int64_t>::max())
                return std::nullopt;
            return static_cast<int64_t>(quotient);
        }
        const auto a = scaled(x);
        const auto b = scaled(y);
        if (!a || !b)
            return std::nullopt;
        if (op == '+' ? __builtin_add_overflow(*a, *b, &result) : __builtin_sub_overflow(*a, *b, &result))
            return std::nullopt;
        return result;
    }

    static Variant Arithmetic(const Variant& a, const Variant& b, char op)
    {
        if (a.IsEmptyOrNull() || b.IsEmptyOrNull())
            return Variant::Null();
        if (op == '+' && a.IsString() && b.IsString())
            return Variant(std::get<QString>(a.FValue) + std::get<QString>(b.FValue));
        const TOperand x = Operand(a);
        const TOperand y = Operand(b);
        const auto floating = [&] {
            const double dx = x.AsDouble();
            const double dy = y.AsDouble();
            switch (op) {
            case '+': return dx + dy;
            case '-': return dx - dy;
            case '*': return dx * dy;
            default:
                if (dy == 0)
                    throw EVariantError(QStringLiteral("Floating point division by zero"));
                return dx / dy;
            }
        };
        if (op == '/')
            return Variant(floating());
        if (x.Kind == TKind::Date || y.Kind == TKind::Date) {
            // A date moved by a number stays a date; a difference of dates is days.
            const bool date = op == '+' || (op == '-' && x.Kind == TKind::Date && y.Kind != TKind::Date);
            return date ? Variant::FromDateTime(floating()) : Variant(floating());
        }
        if (x.Kind == TKind::Double || y.Kind == TKind::Double)
            return Variant(floating());
        if (x.Kind == TKind::Currency || y.Kind == TKind::Currency) {
            if (const auto scaled = CurrencyArithmetic(x, y, op))
                return Variant(TCurrency{*scaled});
            return Variant(floating());
        }
        int64_t result = 0;
        const bool overflow = op == '+'   ? __builtin_add_overflow(x.Int, y.Int, &result)
                              : op == '-' ? __builtin_sub_overflow(x.Int, y.Int, &result)
                                          : __builtin_mul_overflow(x.Int, y.Int, &result);
        if (overflow)
            return Variant(floating());
        if (x.Kind == TKind::Int32 && y.Kind == TKind::Int32 && result >= std::numeric_limits<int32_t>::min()
            && result <= std::numeric_limits<int32_t>::max())
            return Variant(static_cast<int32_t>(result));
        return Variant(result);
    }
};

TCurrency TCurrency::FromDouble(double value) { return CurrencyFromDouble(value, varDouble); }

Variant::Variant(bool value) : FValue(std::in_place_type<bool>, value) {}
Variant::Variant(int value) : FValue(std::in_place_type<int32_t>, value) {}
Variant::Variant(int64_t value) : FValue(std::in_place_type<int64_t>, value) {}
Variant::Variant(double value) : FValue(std::in_place_type<double>, value) {}
Variant::Variant(TCurrency value) : FValue(std::in_place_type<TCurrency>, value) {}
Variant::Variant(const QString& value) : FValue(std::in_place_type<QString>, value) {}
Variant::Variant(const char* utf8) : FValue(std::in_place_type<QString>, QString::fromUtf8(utf8)) {}
Variant::Variant(const QByteArray& bytes) : FValue(std::in_place_type<QByteArray>, bytes) {}
Variant::Variant(std::vector<Variant> items)
    : FValue(std::in_place_type<TArray>, std::make_shared<std::vector<Variant>>(std::move(items)))
{
}

Variant Variant::Null()
{
    Variant result;
    result.FValue.emplace<TNull>();
    return result;
}

Variant Variant::FromDateTime(TDateTime value)
{
    Variant result;
    result.FValue.emplace<TDate>(TDate{value});
    return result;
}

TVarType Variant::VarType() const { return static_cast<TVarType>(FValue.index()); }

bool Variant::IsNumeric() const
{
    const TVarType type = VarType();
    return type == varInteger || type == varInt64 || type == varDouble || type == varCurrency;
}

bool Variant::AsBoolean() const
{
    switch (VarType()) {
    case varEmpty: return false;
    case varBoolean: return std::get<bool>(FValue);
    case varInteger:
    case varInt64:
    case varDouble:
    case varCurrency:
    case varDate: return TVariantAccess::Number(*this) != 0;
    case varString: {
        const QString& text = std::get<QString>(FValue);
        if (const auto value = BooleanName(text))
            return *value;
        if (const auto number = StringToDouble(text))
            return *number != 0;
        break;
    }
    default: break;
    }
    CastError(VarType(), varBoolean);
}

int32_t Variant::AsInteger() const
{
    const int64_t value = TVariantAccess::ToInt64(*this, varInteger);
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        RangeError(VarType(), varInteger);
    return static_cast<int32_t>(value);
}

int64_t Variant::AsInt64() const { return TVariantAccess::ToInt64(*this, varInt64); }

double Variant::AsDouble() const
{
    return TVariantAccess::ToDouble(*this, varDouble, [](const QString& text) { return StringToDouble(text); });
}

TCurrency Variant::AsCurrency() const
{
    const TVarType type = VarType();
    switch (type) {
    case varEmpty: return TCurrency{};
    case varCurrency: return std::get<TCurrency>(FValue);
    case varBoolean:
    case varInteger:
    case varInt64: {
        int64_t scaled = 0;
        if (__builtin_mul_overflow(AsInt64(), CurrencyScale, &scaled))
            RangeError(type, varCurrency);
        return TCurrency{scaled};
    }
    case varDouble:
    case varDate: return CurrencyFromDouble(TVariantAccess::Number(*this), type);
    case varString:
        if (const auto number = StringToDouble(std::get<QString>(FValue)))
            return CurrencyFromDouble(*number, type);
        break;
    default: break;
    }
    CastError(type, varCurrency);
}

TDateTime Variant::AsDateTime() const
{
    return TVariantAccess::ToDouble(*this, varDate, [](const QString& text) { return TryStrToDateTime(text); });
}

QString Variant::AsString() const
{
    switch (VarType()) {
    case varEmpty: return QString();
    case varBoolean: return std::get<bool>(FValue) ? QStringLiteral("True") : QStringLiteral("False");
    case varInteger: return IntToStr(std::get<int32_t>(FValue));
    case varInt64: return IntToStr(std::get<int64_t>(FValue));
    case varDouble: return FloatToStr(std::get<double>(FValue));
    case varCurrency: return CurrencyToStr(std::get<TCurrency>(FValue));
    case varDate: return DateTimeToStr(std::get<TDate>(FValue).Value);
    case varString: return std::get<QString>(FValue);
    default: break;
    }
    CastError(VarType(), varString);
}

QByteArray Variant::AsBytes() const
{
    switch (VarType()) {
    case varEmpty: return QByteArray();
    case varBytes: return std::get<QByteArray>(FValue);
    case varString: return std::get<QString>(FValue).toUtf8();
    default: break;
    }
    CastError(VarType(), varBytes);
}

const std::vector<Variant>& Variant::AsArray() const
{
    if (VarType() != varArray)
        CastError(VarType(), varArray);
    return *std::get<TArray>(FValue);
}

int Variant::ArrayHighBound() const { return static_cast<int>(AsArray().size()) - 1; }

const Variant& Variant::operator[](int index) const
{
    const auto& items = AsArray();
    if (index < 0 || index >= static_cast<int>(items.size()))
        throw EVariantError(QStringLiteral("Variant array index out of bounds"));
    return items[index];
}

Variant& Variant::operator[](int index)
{
    std::as_const(*this)[index]; // checks the kind and the index
    auto& items = std::get<TArray>(FValue);
    if (items.use_count() > 1)
        items = std::make_shared<std::vector<Variant>>(*items);
    return (*items)[index];
}

int Variant::Compare(const Variant& other, bool caseInsensitive) const
{
    const TVarType a = VarType();
    const TVarType b = other.VarType();
    const auto rank = [](TVarType t) { return t == varEmpty ? 0 : t == varNull ? 1 : 2; };
    if (rank(a) < 2 || rank(b) < 2)
        return Sign(rank(a) - rank(b));
    if (a == varArray || b == varArray) {
        if (a != b)
            InvalidOperation();
        const auto& x = AsArray();
        const auto& y = other.AsArray();
        for (size_t i = 0; i < x.size() && i < y.size(); ++i)
            if (const int order = x[i].Compare(y[i], caseInsensitive))
                return order;
        return Sign(x.size() <=> y.size());
    }
    if (a == varString && b == varString)
        return Sign(std::get<QString>(FValue).compare(std::get<QString>(other.FValue),
                                                      caseInsensitive ? Qt::CaseInsensitive : Qt::CaseSensitive));
    if (a == varBytes || b == varBytes) {
        const auto bytesLike = [](TVarType t) { return t == varBytes || t == varString; };
        if (!bytesLike(a) || !bytesLike(b))
            InvalidOperation();
        return Sign(AsBytes().compare(other.AsBytes()));
    }
    if (b == varString)
        return TVariantAccess::CompareNumbers(*this, TVariantAccess::ConvertLike(other, a));
    if (a == varString)
        return TVariantAccess::CompareNumbers(TVariantAccess::ConvertLike(*this, b), other);
    return TVariantAccess::CompareNumbers(*this, other);
}

bool Variant::operator==(const Variant& other) const
{
    // Kinds that cannot be compared are simply unequal here.
    try {
        return Compare(other) == 0;
    } catch (const EVariantError&) {
        return false;
    }
}

Variant operator+(const Variant& a, const Variant& b) { return TVariantAccess::Arithmetic(a, b, '+'); }
Variant operator-(const Variant& a, const Variant& b) { return TVariantAccess::Arithmetic(a, b, '-'); }
Variant operator*(const Variant& a, const Variant& b) { return TVariantAccess::Arithmetic(a, b, '*'); }
Variant operator/(const Variant& a, const Variant& b) { return TVariantAccess::Arithmetic(a, b, '/'); }

Variant Variant::operator-() const
{
    switch (VarType()) {
    case varEmpty:
    case varNull: return Null();
    case varBoolean: return Variant(std::get<bool>(FValue) ? 1 : 0);
    case varInteger: {
        const int32_t value = std::get<int32_t>(FValue);
        return value == std::numeric_limits<int32_t>::min() ? Variant(-static_cast<int64_t>(value)) : Variant(-value);
    }
    case varInt64: {
        const int64_t value = std::get<int64_t>(FValue);
        return value == std::numeric_limits<int64_t>::min() ? Variant(-static_cast<double>(value)) : Variant(-value);
    }
    case varDouble: return Variant(-std::get<double>(FValue));
    case varCurrency: {
        const int64_t scaled = std::get<TCurrency>(FValue).Scaled;
        return scaled == std::numeric_limits<int64_t>::min() ? Variant(-static_cast<double>(scaled) / CurrencyScale)
                                                             : Variant(TCurrency{-scaled});
    }
    case varDate: return FromDateTime(-std::get<TDate>(FValue).Value);
    case varString: return Variant(-AsDouble());
    default: InvalidOperation();
    }
}

QString Variant::TypeName(TVarType type)
{
    switch (type) {
    case varEmpty: return QStringLiteral("Empty");
    case varNull: return QStringLiteral("Null");
    case varBoolean: return QStringLiteral("Boolean");
    case varInteger: return QStringLiteral("Integer");
    case varInt64: return QStringLiteral("Int64");
    case varDouble: return QStringLiteral("Double");
    case varCurrency: return QStringLiteral("Currency");
    case varDate: return QStringLiteral("Date");
    case varString: return QStringLiteral("String");
    case varBytes: return QStringLiteral("Bytes");
    case varArray: return QStringLiteral("Array");
    }
    return QStringLiteral("Unknown");
}

Variant VarArrayOf(std::initializer_list<Variant> items) { return Variant(std::vector<Variant>(items)); }

QString VarToStr(const Variant& value) { return value.IsEmptyOrNull() ? QString() : value.AsString(); }
