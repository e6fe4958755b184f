#include "Fields.h"

#include "DataSet.h"
#include "Exceptions.h"
#include "SysUtils.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace {

bool IsIntegerType(TFieldType type)
{
    return type == ftSmallint || type == ftInteger || type == ftWord || type == ftAutoInc || type == ftLargeint;
}

bool IsFloatType(TFieldType type) { return type == ftFloat || type == ftCurrency || type == ftBCD; }

bool IsDateType(TFieldType type) { return type == ftDate || type == ftTime || type == ftDateTime; }

bool IsBinaryType(TFieldType type) { return type == ftBytes || type == ftBlob; }

// Fields whose empty text is a value, not "no value".
bool IsTextType(TFieldType type) { return type == ftString || type == ftMemo || IsBinaryType(type); }

struct TIntRange
{
    int64_t Min;
    int64_t Max;
};

TIntRange IntegerRange(TFieldType type)
{
    switch (type) {
    case ftSmallint: return {-32768, 32767};
    case ftWord: return {0, 65535};
    case ftLargeint: return {std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()};
    default: return {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()};
    }
}

[[noreturn]] void InvalidInteger(const QString& text)
{
    throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
}

[[noreturn]] void InvalidFloat(const QString& text)
{
    throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
}

[[noreturn]] void InvalidBoolean(const QString& text)
{
    throw EConvertError(QStringLiteral("'%1' is not a valid boolean value").arg(text));
}

[[noreturn]] void ConvertError(const Variant& value, TFieldType type)
{
    throw EConvertError(QStringLiteral("Could not convert variant of type (%1) into type (%2)")
                            .arg(Variant::TypeName(value.VarType()), FieldTypeName(type)));
}

// The number a numeric variant holds, or its text as parse reads it; none
// for blank text. Anything else cannot be stored in a field of type.
template <typename Parse>
std::optional<double> NumberOrText(const Variant& value, TFieldType type, Parse parse)
{
    switch (value.VarType()) {
    case varInteger:
    case varInt64:
    case varDouble:
    case varCurrency:
    case varDate: return value.AsDouble();
    case varString: {
        const QString text = value.AsString();
        if (text.trimmed().isEmpty())
            return std::nullopt;
        return parse(text);
    }
    default: ConvertError(value, type);
    }
}

// Binary values are one character per byte as text, so any bytes survive
// the trip through a string.
QString BytesToText(const QByteArray& bytes) { return QString::fromLatin1(bytes); }
QByteArray TextToBytes(const QString& text) { return text.toLatin1(); }

// Half to even, as the toolkit's Round; none outside int64.
std::optional<int64_t> RoundToInt64(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = std::nearbyint(value);
    if (rounded < -9223372036854775808.0 || rounded >= 9223372036854775808.0)
        return std::nullopt;
    return static_cast<int64_t>(rounded);
}

int64_t CurrencyToInt64(TCurrency value)
{
    int64_t whole = value.Scaled / 10000;
    const int64_t rest = value.Scaled % 10000;
    const int64_t absRest = rest < 0 ? -rest : rest;
    if (absRest > 5000 || (absRest == 5000 && whole % 2 != 0))
        whole += value.Scaled < 0 ? -1 : 1;
    return whole;
}

bool FitsCurrency(double value) { return std::isfinite(value) && std::fabs(value * 10000.0) < 9223372036854775808.0; }

// Exact: the general float format would lose digits past the fifteenth.
QString CurrToStr(TCurrency value)
{
    const bool negative = value.Scaled < 0;
    const uint64_t magnitude = negative ? uint64_t(0) - uint64_t(value.Scaled) : uint64_t(value.Scaled);
    QString text = QString::number(magnitude / 10000);
    QString fraction = QString::number(magnitude % 10000).rightJustified(4, QLatin1Char('0'));
    while (fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    if (!fraction.isEmpty())
        text += FormatSettings().DecimalSeparator + fraction;
    return negative ? QLatin1Char('-') + text : text;
}

// Plain decimals are read digit by digit (rounded half away from zero at the
// fourth decimal); anything else StrToFloat accepts goes through a double.
std::optional<TCurrency> TryStrToCurr(const QString& source)
{
    const QString text = source.trimmed();
    const QChar separator = FormatSettings().DecimalSeparator;
    int i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+')))
        negative = text[i++] == QLatin1Char('-');
    QString whole;
    QString fraction;
    bool plain = true;
    bool inFraction = false;
    for (; i < text.size() && plain; ++i) {
        const QChar c = text[i];
        if (c.isDigit() && c.unicode() < 128)
            (inFraction ? fraction : whole) += c;
        else if (!inFraction && (c == separator || c == QLatin1Char('.')))
            inFraction = true;
        else
            plain = false;
    }
    if (plain && (!whole.isEmpty() || !fraction.isEmpty())) {
        while (whole.size() > 1 && whole.startsWith(QLatin1Char('0')))
            whole.remove(0, 1);
        if (whole.size() > 15)
            return std::nullopt;
        const bool roundUp = fraction.size() > 4 && fraction[4] >= QLatin1Char('5');
        const QString digits = whole + fraction.left(4).leftJustified(4, QLatin1Char('0'));
        bool ok = false;
        uint64_t magnitude = digits.toULongLong(&ok);
        if (!ok)
            return std::nullopt;
        magnitude += roundUp ? 1 : 0;
        const uint64_t limit = uint64_t(std::numeric_limits<int64_t>::max()) + (negative ? 1 : 0);
        if (magnitude > limit)
            return std::nullopt;
        return TCurrency{negative ? int64_t(uint64_t(0) - magnitude) : int64_t(magnitude)};
    }
    const std::optional<double> value = TryStrToFloat(text);
    if (!value || !FitsCurrency(*value))
        return std::nullopt;
    return TCurrency::FromDouble(*value);
}

double PowerOfTen(int exponent)
{
    double result = 1.0;
    for (int i = 0; i < exponent; ++i)
        result *= 10.0;
    return result;
}

// Rounds half away from zero at the given decimal, on the value's fifteen
// significant digits (so 2.675 is 2.68, as it reads, not as it is stored).
double RoundDecimals(double value, int decimals)
{
    if (!std::isfinite(value) || decimals < 0 || decimals > 15)
        return value;
    const QString text = QString::number(std::fabs(value), 'e', 14); // d.dddddddddddddde+XX
    const QString digits = text.left(1) + text.mid(2, 14);
    const int exponent = text.mid(text.indexOf(QLatin1Char('e')) + 1).toInt();
    const int keep = exponent + 1 + decimals;
    if (keep >= 15)
        return value;
    if (keep < 0)
        return 0.0;
    int64_t scaled = keep > 0 ? digits.left(keep).toLongLong() : 0;
    if (digits[keep] >= QLatin1Char('5'))
        ++scaled;
    if (scaled == 0)
        return 0.0;
    const double result = static_cast<double>(scaled) / PowerOfTen(decimals);
    return value < 0 ? -result : result;
}

// General format with the field's significant digits.
QString FloatToStrPrecision(double value, int precision)
{
    if (precision <= 0 || precision >= 15)
        return FloatToStr(value);
    return FloatToStr(QString::number(value, 'g', precision).toDouble());
}

// Dates keep whole days, times the fraction of a day, both to the millisecond.
double CanonicalDateTime(TFieldType type, double value)
{
    const double days = std::trunc(value);
    if (type == ftDate)
        return days + 0.0; // no negative zero
    int64_t ms = std::llround(std::fabs(value - days) * 86400000.0);
    double wholeDays = days;
    if (ms >= 86400000) {
        ms = 0;
        wholeDays += value < 0 ? -1.0 : 1.0;
    }
    const double fraction = static_cast<double>(ms) / 86400000.0;
    if (type == ftTime)
        return fraction;
    return value < 0 ? wholeDays - fraction : wholeDays + fraction;
}

QString DateKindName(TFieldType type)
{
    switch (type) {
    case ftDate: return QStringLiteral("date");
    case ftTime: return QStringLiteral("time");
    default: return QStringLiteral("date and time");
    }
}

} // namespace

// --- TField

TField::TField(TFieldType type, QObject* owner) : QObject(owner), FDataType(type) {}

TField::~TField()
{
    if (FDataSet)
        FDataSet->RemoveField(this);
}

void TField::SetDataSet(TDataSet* dataSet)
{
    if (dataSet == FDataSet)
        return;
    if (FDataSet)
        FDataSet->CheckInactive();
    if (dataSet)
        dataSet->CheckInactive();
    if (FDataSet)
        FDataSet->RemoveField(this);
    FDataSet = nullptr;
    if (dataSet)
        dataSet->AddField(this);
    FDataSet = dataSet;
}

void TField::SetVisible(bool value)
{
    if (FVisible == value)
        return;
    FVisible = value;
    if (FDataSet && FDataSet->Active())
        FDataSet->DataEvent(deLayoutChange);
}

void TField::FocusControl()
{
    // Nothing shows fields in a way that can take the focus yet.
}

void TField::AccessError(const QString& typeName) const
{
    throw EDatabaseError(QStringLiteral("Field '%1' cannot be accessed as type %2").arg(DisplayName(), typeName));
}

Variant TField::Value() const
{
    if (!FDataSet)
        throw EDatabaseError(QStringLiteral("Field '%1' has no dataset").arg(DisplayName()));
    FDataSet->CheckActive();
    return FDataSet->GetFieldValue(*this);
}

void TField::SetValue(const Variant& value)
{
    if (!FDataSet)
        throw EDatabaseError(QStringLiteral("Field '%1' has no dataset").arg(DisplayName()));
    FDataSet->CheckActive();
    FDataSet->SetFieldValue(*this, Normalize(value));
}

const Variant& TField::ValueRef(Variant& held) const
{
    if (FDataSet)
        if (const Variant* value = FDataSet->ShownFieldValue(*this))
            return *value;
    held = Value();
    return held;
}

TValueView TField::ShownView() const { return FDataSet ? FDataSet->ShownFieldView(*this) : TValueView{}; }

Variant TField::OldValue() const
{
    if (!FDataSet)
        throw EDatabaseError(QStringLiteral("Field '%1' has no dataset").arg(DisplayName()));
    FDataSet->CheckActive();
    return FDataSet->GetOldFieldValue(*this);
}

bool TField::IsNull() const
{
    Variant held;
    return ValueRef(held).IsEmptyOrNull();
}

// --- Normalize

Variant TField::Normalize(const Variant& value) const
{
    if (value.IsEmptyOrNull())
        return Variant::Null();
    if (value.IsArray() && FDataType != ftUnknown)
        ConvertError(value, FDataType);
    const TVarType kind = value.VarType();
    const auto rangeError = [this](const QString& text, const QString& min, const QString& max) {
        throw EConvertError(QStringLiteral("%1 is not a valid value for field '%2'. The allowed range is %3 to %4")
                                .arg(text, DisplayName(), min, max));
    };

    try {
        switch (FDataType) {
        case ftUnknown: return value;

        case ftString: {
            QString text = kind == varBytes ? QString::fromUtf8(value.AsBytes()) : value.AsString();
            if (FSize > 0 && text.size() > FSize)
                text.truncate(FSize);
            return text;
        }

        case ftMemo: return kind == varBytes ? QString::fromUtf8(value.AsBytes()) : value.AsString();

        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftAutoInc:
        case ftLargeint: {
            int64_t result = 0;
            QString text;
            switch (kind) {
            case varBoolean: result = value.AsBoolean() ? 1 : 0; break;
            case varInteger:
            case varInt64: result = value.AsInt64(); break;
            case varCurrency: result = CurrencyToInt64(value.AsCurrency()); break;
            case varDouble:
            case varDate: {
                const double d = value.AsDouble();
                const std::optional<int64_t> rounded = RoundToInt64(d);
                if (!rounded)
                    InvalidInteger(FloatToStr(d));
                result = *rounded;
                break;
            }
            case varString: {
                text = value.AsString().trimmed();
                if (text.isEmpty())
                    return Variant::Null();
                const std::optional<int64_t> parsed = TryStrToInt64(text);
                if (!parsed)
                    InvalidInteger(text);
                result = *parsed;
                break;
            }
            default: ConvertError(value, FDataType);
            }
            const TIntRange range = IntegerRange(FDataType);
            if (result < range.Min || result > range.Max)
                rangeError(IntToStr(result), IntToStr(range.Min), IntToStr(range.Max));
            if (FDataType == ftLargeint)
                return Variant(result);
            return Variant(static_cast<int32_t>(result));
        }

        case ftFloat:
        case ftBCD: {
            const std::optional<double> number = NumberOrText(value, FDataType,
                                                              [](const QString& text) { return StrToFloat(text); });
            if (!number)
                return Variant::Null();
            double result = *number;
            if (!std::isfinite(result))
                InvalidFloat(QString::number(result));
            if (FDataType == ftBCD) {
                const TBCDField* bcd = qobject_cast<const TBCDField*>(this);
                const int precision = bcd ? bcd->Precision() : 18;
                result = RoundDecimals(result, FSize);
                if (precision > FSize) {
                    const double limit = PowerOfTen(precision - FSize);
                    if (std::fabs(result) >= limit) {
                        const QString max = FloatToStr(limit - 1.0 / PowerOfTen(FSize));
                        rangeError(FloatToStr(result), QLatin1Char('-') + max, max);
                    }
                }
            }
            return Variant(result);
        }

        case ftCurrency: {
            TCurrency result;
            switch (kind) {
            case varInteger:
            case varInt64: {
                const int64_t i = value.AsInt64();
                constexpr int64_t limit = std::numeric_limits<int64_t>::max() / 10000;
                if (i > limit || i < -limit)
                    rangeError(IntToStr(i), QStringLiteral("-922337203685477.5808"),
                               QStringLiteral("922337203685477.5807"));
                result.Scaled = i * 10000;
                break;
            }
            case varCurrency: result = value.AsCurrency(); break;
            case varDouble:
            case varDate: {
                const double d = value.AsDouble();
                if (!FitsCurrency(d))
                    rangeError(FloatToStr(d), QStringLiteral("-922337203685477.5808"),
                               QStringLiteral("922337203685477.5807"));
                result = TCurrency::FromDouble(d);
                break;
            }
            case varString: {
                const QString text = value.AsString();
                if (text.trimmed().isEmpty())
                    return Variant::Null();
                const std::optional<TCurrency> parsed = TryStrToCurr(text);
                if (!parsed)
                    InvalidFloat(text);
                result = *parsed;
                break;
            }
            default: ConvertError(value, FDataType);
            }
            return Variant(result);
        }

        case ftBoolean:
            switch (kind) {
            case varBoolean: return Variant(value.AsBoolean());
            case varInteger:
            case varInt64: return Variant(value.AsInt64() != 0);
            case varString: {
                const QString text = value.AsString().trimmed();
                if (text.isEmpty())
                    return Variant::Null();
                if (QStringLiteral("True").startsWith(text, Qt::CaseInsensitive))
                    return Variant(true);
                if (QStringLiteral("False").startsWith(text, Qt::CaseInsensitive))
                    return Variant(false);
                if (const std::optional<int64_t> number = TryStrToInt64(text))
                    return Variant(*number != 0);
                InvalidBoolean(text);
            }
            default: break;
            }
            ConvertError(value, FDataType);

        case ftDate:
        case ftTime:
        case ftDateTime: {
            const std::optional<double> number = NumberOrText(value, FDataType, [this](const QString& text) {
                return FDataType == ftDate   ? StrToDate(text)
                       : FDataType == ftTime ? StrToTime(text)
                                             : StrToDateTime(text);
            });
            if (!number)
                return Variant::Null();
            const double result = *number;
            // 1 January 0001 to 31 December 9999
            if (!std::isfinite(result) || result < -693594.0 || result >= 2958466.0)
                throw EConvertError(
                    QStringLiteral("'%1' is not a valid %2").arg(QString::number(result), DateKindName(FDataType)));
            return Variant::FromDateTime(CanonicalDateTime(FDataType, result));
        }

        case ftBytes:
        case ftBlob: {
            QByteArray bytes;
            if (kind == varBytes)
                bytes = value.AsBytes();
            else if (kind == varString)
                bytes = TextToBytes(value.AsString());
            else
                ConvertError(value, FDataType);
            if (FDataType == ftBytes && FSize > 0) {
                if (bytes.size() > FSize)
                    bytes.truncate(FSize);
                else if (bytes.size() < FSize)
                    bytes.append(QByteArray(FSize - bytes.size(), '\0'));
            }
            return Variant(bytes);
        }
        }
    } catch (const EVariantError& e) {
        throw EConvertError(e.Message());
    }
    return value;
}

// --- Typed access

QString TField::AsString() const
{
    if (FDataType == ftString || FDataType == ftMemo) {
        const TValueView view = ShownView();
        if (view.Kind == TValueView::vkNull)
            return QString();
        if (view.Kind == TValueView::vkLatin1)
            return QString::fromLatin1(static_cast<const char*>(view.Data), view.Length);
        if (view.Kind == TValueView::vkUtf16) {
            QString text(view.Length, Qt::Uninitialized);
            if (view.Length > 0)
                std::memcpy(text.data(), view.Data, static_cast<size_t>(view.Length) * sizeof(char16_t));
            return text;
        }
    }
    Variant held;
    const Variant& value = ValueRef(held);
    if (value.IsEmptyOrNull())
        return QString();
    switch (FDataType) {
    case ftString:
    case ftMemo: return value.AsString();
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint: return IntToStr(value.AsInt64());
    case ftFloat:
    case ftBCD: return FloatToStr(value.AsDouble());
    case ftCurrency: return CurrToStr(value.AsCurrency());
    case ftBoolean: return value.AsBoolean() ? QStringLiteral("True") : QStringLiteral("False");
    case ftDate: return DateToStr(value.AsDateTime());
    case ftTime: return TimeToStr(value.AsDateTime());
    case ftDateTime: return DateTimeToStr(value.AsDateTime());
    case ftBytes:
    case ftBlob: return BytesToText(value.AsBytes());
    case ftUnknown: break;
    }
    return VarToStr(value);
}

QAnyStringView TField::AsStringView() const
{
    if (FDataType == ftString || FDataType == ftMemo) {
        const TValueView view = ShownView();
        if (view.Kind == TValueView::vkNull)
            return {};
        if (view.Kind == TValueView::vkLatin1)
            return QLatin1StringView(static_cast<const char*>(view.Data), view.Length);
        if (view.Kind == TValueView::vkUtf16) {
            // Rows pack their values unaligned: such a text is copied (into a
            // buffer that keeps its room from one read to the next).
            if (reinterpret_cast<uintptr_t>(view.Data) % alignof(char16_t) == 0)
                return QStringView(static_cast<const char16_t*>(view.Data), view.Length);
            FViewText.resize(view.Length);
            std::memcpy(FViewText.data(), view.Data, static_cast<size_t>(view.Length) * sizeof(char16_t));
            return FViewText;
        }
    }
    // A text in a variant is shared, not copied.
    FViewText = AsString();
    return FViewText;
}

void TField::SetAsString(const QString& value)
{
    if (FDataType == ftUnknown)
        AccessError(QStringLiteral("String"));
    if (value.isEmpty() && !IsTextType(FDataType))
        Clear();
    else
        SetValue(Variant(value));
}

int32_t TField::AsInteger() const
{
    if (!(FDataType == ftString || IsIntegerType(FDataType) || IsFloatType(FDataType) || FDataType == ftBoolean))
        AccessError(FieldTypeName(ftInteger));
    const int64_t value = AsLargeInt();
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        InvalidInteger(IntToStr(value));
    return static_cast<int32_t>(value);
}

void TField::SetAsInteger(int32_t value)
{
    if (!(FDataType == ftString || IsIntegerType(FDataType) || IsFloatType(FDataType) || FDataType == ftBoolean))
        AccessError(FieldTypeName(ftInteger));
    SetAsLargeInt(value);
}

int64_t TField::AsLargeInt() const
{
    if (!(FDataType == ftString || IsIntegerType(FDataType) || IsFloatType(FDataType) || FDataType == ftBoolean))
        AccessError(FieldTypeName(ftLargeint));
    if (IsIntegerType(FDataType)) {
        const TValueView view = ShownView();
        if (view.Kind == TValueView::vkNull)
            return 0;
        if (view.Kind == TValueView::vkInt)
            return view.Int;
    }
    Variant held;
    const Variant& value = ValueRef(held);
    if (value.IsEmptyOrNull())
        return 0;
    switch (FDataType) {
    case ftString: {
        const QString text = value.AsString();
        if (text.isEmpty())
            return 0;
        const std::optional<int64_t> parsed = TryStrToInt64(text.trimmed());
        if (!parsed)
            InvalidInteger(text);
        return *parsed;
    }
    case ftBoolean: return value.AsBoolean() ? 1 : 0;
    case ftCurrency: return CurrencyToInt64(value.AsCurrency());
    case ftFloat:
    case ftBCD: {
        const double d = value.AsDouble();
        const std::optional<int64_t> rounded = RoundToInt64(d);
        if (!rounded)
            InvalidInteger(FloatToStr(d));
        return *rounded;
    }
    default: return value.AsInt64();
    }
}

void TField::SetAsLargeInt(int64_t value)
{
    if (FDataType == ftString)
        SetValue(Variant(IntToStr(value)));
    else if (FDataType == ftBoolean)
        SetValue(Variant(value != 0));
    else if (IsIntegerType(FDataType) || IsFloatType(FDataType))
        SetValue(Variant(value));
    else
        AccessError(FieldTypeName(ftLargeint));
}

template <typename Parse>
double TField::NumberView(Parse parse) const
{
    if (FDataType != ftString) {
        const TValueView view = ShownView();
        if (view.Kind == TValueView::vkNull)
            return 0;
        if (view.Kind == TValueView::vkInt)
            return static_cast<double>(view.Int);
        if (view.Kind == TValueView::vkFloat)
            return view.Float;
    }
    Variant held;
    const Variant& value = ValueRef(held);
    if (value.IsEmptyOrNull())
        return 0;
    if (FDataType == ftString) {
        const QString text = value.AsString();
        return text.isEmpty() ? 0.0 : parse(text);
    }
    return value.AsDouble();
}

double TField::AsFloat() const
{
    if (!(FDataType == ftString || IsIntegerType(FDataType) || IsFloatType(FDataType) || IsDateType(FDataType)))
        AccessError(FieldTypeName(ftFloat));
    return NumberView([](const QString& text) { return StrToFloat(text); });
}

void TField::SetAsFloat(double value)
{
    if (FDataType == ftString)
        SetValue(Variant(FloatToStr(value)));
    else if (IsIntegerType(FDataType) || IsFloatType(FDataType))
        SetValue(Variant(value));
    else if (IsDateType(FDataType))
        SetValue(Variant::FromDateTime(value));
    else
        AccessError(FieldTypeName(ftFloat));
}

TCurrency TField::AsCurrency() const
{
    if (FDataType == ftString) {
        const QString text = AsString();
        if (text.isEmpty())
            return TCurrency();
        const std::optional<TCurrency> parsed = TryStrToCurr(text);
        if (!parsed)
            InvalidFloat(text);
        return *parsed;
    }
    if (FDataType == ftCurrency) {
        Variant held;
        const Variant& value = ValueRef(held);
        return value.IsEmptyOrNull() ? TCurrency() : value.AsCurrency();
    }
    if (IsIntegerType(FDataType)) {
        const int64_t value = AsLargeInt();
        if (value > std::numeric_limits<int64_t>::max() / 10000
            || value < -(std::numeric_limits<int64_t>::max() / 10000))
            InvalidFloat(IntToStr(value));
        return TCurrency{value * 10000};
    }
    if (!(IsFloatType(FDataType) || IsDateType(FDataType)))
        AccessError(FieldTypeName(ftCurrency));
    const double value = AsFloat();
    if (!FitsCurrency(value))
        InvalidFloat(FloatToStr(value));
    return TCurrency::FromDouble(value);
}

void TField::SetAsCurrency(TCurrency value)
{
    if (FDataType == ftString)
        SetValue(Variant(CurrToStr(value)));
    else if (IsIntegerType(FDataType) || IsFloatType(FDataType))
        SetValue(Variant(value));
    else if (IsDateType(FDataType))
        SetValue(Variant::FromDateTime(value.ToDouble()));
    else
        AccessError(FieldTypeName(ftCurrency));
}

bool TField::AsBoolean() const
{
    if (!(FDataType == ftString || FDataType == ftBoolean || IsIntegerType(FDataType)))
        AccessError(FieldTypeName(ftBoolean));
    Variant held;
    const Variant& value = ValueRef(held);
    if (value.IsEmptyOrNull())
        return false;
    if (FDataType == ftString) {
        // T(rue) and Y(es) read as true, anything else as false
        const QString text = value.AsString();
        return !text.isEmpty() && QStringLiteral("TtYy").contains(text[0]);
    }
    if (FDataType == ftBoolean)
        return value.AsBoolean();
    return value.AsInt64() != 0;
}

void TField::SetAsBoolean(bool value)
{
    if (FDataType == ftString)
        SetValue(Variant(value ? QStringLiteral("True") : QStringLiteral("False")));
    else if (FDataType == ftBoolean)
        SetValue(Variant(value));
    else if (IsIntegerType(FDataType))
        SetValue(Variant(value ? 1 : 0));
    else
        AccessError(FieldTypeName(ftBoolean));
}

TDateTime TField::AsDateTime() const
{
    if (!(FDataType == ftString || IsDateType(FDataType) || IsFloatType(FDataType)))
        AccessError(FieldTypeName(ftDateTime));
    return NumberView([](const QString& text) { return StrToDateTime(text); });
}

void TField::SetAsDateTime(TDateTime value)
{
    if (FDataType == ftString)
        SetValue(Variant(DateTimeToStr(value)));
    else if (IsDateType(FDataType))
        SetValue(Variant::FromDateTime(value));
    else if (IsFloatType(FDataType))
        SetValue(Variant(value));
    else
        AccessError(FieldTypeName(ftDateTime));
}

QByteArray TField::AsBytes() const
{
    if (!(FDataType == ftString || FDataType == ftMemo || IsBinaryType(FDataType)))
        AccessError(FieldTypeName(ftBytes));
    Variant held;
    const Variant& value = ValueRef(held);
    if (value.IsEmptyOrNull())
        return QByteArray();
    if (IsBinaryType(FDataType))
        return value.AsBytes();
    return value.AsString().toUtf8();
}

void TField::SetAsBytes(const QByteArray& value)
{
    if (FDataType == ftString || FDataType == ftMemo)
        SetValue(Variant(QString::fromUtf8(value)));
    else if (IsBinaryType(FDataType))
        SetValue(Variant(value));
    else
        AccessError(FieldTypeName(ftBytes));
}

// --- Text

QString TField::GetText(bool displayText) const
{
    if (OnGetText) {
        QString text;
        OnGetText(const_cast<TField*>(this), text, displayText);
        return text;
    }
    return FormatValue(Value(), displayText);
}

QString TField::FormatValue(const Variant& value, bool displayText) const
{
    if (IsBlobType(FDataType) && (FDataType == ftBlob || displayText)) {
        // Grids show the kind, in lower case when there is nothing in it.
        const QString name = FieldTypeName(FDataType);
        const bool empty = value.IsEmptyOrNull()
                           || (FDataType == ftMemo ? value.AsString().isEmpty() : value.AsBytes().isEmpty());
        return QLatin1Char('(') + (empty ? name.toLower() : name.toUpper()) + QLatin1Char(')');
    }
    if (value.IsEmptyOrNull())
        return QString();

    // Numbers edit in EditFormat, or else in DisplayFormat.
    const QString numberFormat = displayText || FEditFormat.isEmpty() ? FDisplayFormat : FEditFormat;
    switch (FDataType) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
        if (numberFormat.isEmpty())
            return IntToStr(value.AsInt64());
        return FormatFloat(numberFormat, static_cast<double>(value.AsInt64()));
    case ftFloat:
    case ftBCD: {
        if (!numberFormat.isEmpty())
            return FormatFloat(numberFormat, value.AsDouble());
        int precision = 15;
        if (const TFloatField* f = qobject_cast<const TFloatField*>(this))
            precision = f->Precision();
        return FloatToStrPrecision(value.AsDouble(), precision);
    }
    case ftCurrency:
        if (!numberFormat.isEmpty())
            return FormatFloat(numberFormat, value.AsCurrency().ToDouble());
        // Amounts show with two decimals; editing keeps every stored digit.
        if (displayText)
            return FormatFloat(QStringLiteral(",0.00"), value.AsCurrency().ToDouble());
        return CurrToStr(value.AsCurrency());
    case ftDate:
    case ftTime:
    case ftDateTime: {
        const QString& format = displayText ? FDisplayFormat : FEditFormat;
        if (!format.isEmpty())
            return FormatDateTime(format, value.AsDateTime());
        if (FDataType == ftDate)
            return DateToStr(value.AsDateTime());
        if (FDataType == ftTime)
            return TimeToStr(value.AsDateTime());
        return DateTimeToStr(value.AsDateTime());
    }
    case ftBoolean: return value.AsBoolean() ? QStringLiteral("True") : QStringLiteral("False");
    case ftString:
    case ftMemo: return value.AsString();
    case ftBytes:
    case ftBlob: return BytesToText(value.AsBytes());
    case ftUnknown: break;
    }
    return VarToStr(value);
}

void TField::SetText(const QString& text)
{
    if (OnSetText) {
        OnSetText(this, text);
        return;
    }
    // Text shown in a format with thousand separators reads back; anywhere
    // else a separator is the field's conversion error, never dropped (a
    // decimal comma under a locale that groups with commas would multiply
    // the value).
    if (IsIntegerType(FDataType) || IsFloatType(FDataType))
        if (const std::optional<QString> plain = RemoveThousandSeparators(text);
            plain && *plain != text && ShowsThousandSeparators()) {
            SetAsString(*plain);
            return;
        }
    SetAsString(text);
}

bool TField::ShowsThousandSeparators() const
{
    const QChar group = FormatSettings().ThousandSeparator;
    if (group.isNull())
        return false;
    const Variant sample(1234567.0);
    return FormatValue(sample, true).contains(group) || FormatValue(sample, false).contains(group);
}

int TField::DefaultDisplayWidth() const
{
    switch (FDataType) {
    case ftString: return FSize > 0 ? FSize : 10;
    case ftSmallint: return 6;
    case ftWord: return 5;
    case ftInteger:
    case ftAutoInc: return 11;
    case ftLargeint: return 15;
    case ftBoolean: return 5;
    case ftBCD: {
        const TBCDField* bcd = qobject_cast<const TBCDField*>(this);
        return bcd && bcd->Precision() > 0 ? bcd->Precision() + 2 : 10;
    }
    case ftDate:
    case ftTime:
    case ftDateTime: {
        // As wide as the longest text the user's formats give.
        const TFormatSettings& settings = FormatSettings();
        const TDateTime sample = EncodeDate(2000, 12, 28) + EncodeTime(23, 59, 59, 0);
        const int date = FormatDateTime(settings.ShortDateFormat, sample).size();
        const int time = FormatDateTime(settings.LongTimeFormat, sample).size();
        if (FDataType == ftDate)
            return date;
        if (FDataType == ftTime)
            return time;
        return date + 1 + time;
    }
    default: return 10;
    }
}

// --- Factory and list

std::unique_ptr<TField> CreateField(TFieldType type, QObject* owner)
{
    switch (type) {
    case ftString: return std::make_unique<TStringField>(owner);
    case ftSmallint: return std::make_unique<TSmallintField>(owner);
    case ftInteger: return std::make_unique<TIntegerField>(owner);
    case ftWord: return std::make_unique<TWordField>(owner);
    case ftBoolean: return std::make_unique<TBooleanField>(owner);
    case ftFloat: return std::make_unique<TFloatField>(owner);
    case ftCurrency: return std::make_unique<TCurrencyField>(owner);
    case ftBCD: return std::make_unique<TBCDField>(owner);
    case ftDate: return std::make_unique<TDateField>(owner);
    case ftTime: return std::make_unique<TTimeField>(owner);
    case ftDateTime: return std::make_unique<TDateTimeField>(owner);
    case ftBytes: return std::make_unique<TBytesField>(owner);
    case ftAutoInc: return std::make_unique<TAutoIncField>(owner);
    case ftBlob: return std::make_unique<TBlobField>(owner);
    case ftMemo: return std::make_unique<TMemoField>(owner);
    case ftLargeint: return std::make_unique<TLargeintField>(owner);
    case ftUnknown: break;
    }
    throw EDatabaseError(QStringLiteral("Field type %1 is not supported").arg(FieldTypeName(type)));
}

TField* TFields::FindField(const QString& name) const
{
    for (TField* field : FItems)
        if (QString::compare(field->FieldName(), name, Qt::CaseInsensitive) == 0)
            return field;
    return nullptr;
}

TField* TFields::FieldByName(const QString& name) const
{
    if (TField* field = FindField(name))
        return field;
    const QString message = QStringLiteral("Field '%1' not found").arg(name);
    if (FDataSet && !FDataSet->objectName().isEmpty())
        throw EDatabaseError(FDataSet->objectName() + QStringLiteral(": ") + message);
    throw EDatabaseError(message);
}

int TFields::IndexOf(const TField* field) const { return field && field->FDataSet == FDataSet ? field->FIndex : -1; }
