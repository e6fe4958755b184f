#include "uFieldFilter.h"

#include "Fields.h"
#include "SysUtils.h"
#include "URecordMarker.h"

#include <algorithm>
#include <cmath>

namespace {

const QChar Quote = QLatin1Char('"');

bool NumbersMatch(double a, double b) { return std::fabs(a - b) <= FilterNumberTolerance; }

// "'a', 'b', 'c'"
QString QuotedItems(const QStringList& items)
{
    QString text;
    for (const QString& item : items) {
        if (!text.isEmpty())
            text += QStringLiteral(", ");
        text += QLatin1Char('\'') + item + QLatin1Char('\'');
    }
    return text;
}

template <typename T, typename Format>
QStringList Texts(const std::vector<T>& values, Format format)
{
    QStringList texts;
    for (const T& value : values)
        texts << format(value);
    return texts;
}

QString DateText(TDateTime value) { return DateToStr(value); }

QString NumberText(double value) { return FloatToStr(value); }

} // namespace

TFieldFilter::TFieldFilter(const TFieldFilter& other)
    : Field(other.Field), Kind(other.Kind), Value(other.Value), Strings(other.Strings), Numbers(other.Numbers),
      Dates(other.Dates), NumberFrom(other.NumberFrom), NumberTo(other.NumberTo), DateFrom(other.DateFrom),
      DateTo(other.DateTo), BoolValue(other.BoolValue)
{
}

const QString& TFieldFilter::UpperValue() const
{
    if (FUpperValueOf != Value) {
        FUpperValueOf = Value;
        FUpperValue = Value.toUpper();
    }
    return FUpperValue;
}

const QStringList& TFieldFilter::UpperStrings() const
{
    if (FUpperStringsOf != Strings) {
        FUpperStringsOf = Strings;
        FUpperStrings.clear();
        for (const QString& text : Strings)
            FUpperStrings << text.toUpper();
    }
    return FUpperStrings;
}

bool TFieldFilter::Accept(const TMemRecordMarker* marker) const
{
    if (Kind == fkMarks)
        return marker && marker->IsMarked() == (Unmarked == 0);
    if (!Field)
        return false;
    switch (Kind) {
    case fkSubstring: return Field->AsString().toUpper().contains(UpperValue());
    case fkExact: return Field->AsString().toUpper() == UpperValue();
    case fkValueList: return UpperStrings().contains(Field->AsString().toUpper());
    case fkSubstrings: {
        const QString text = Field->AsString().toUpper();
        const QStringList& parts = UpperStrings();
        return std::any_of(parts.begin(), parts.end(), [&](const QString& part) { return text.contains(part); });
    }
    case fkNumberRange: {
        const double value = Field->AsFloat();
        return NumberFrom - FilterNumberTolerance <= value && value <= NumberTo + FilterNumberTolerance;
    }
    case fkNumberList: {
        const double value = Field->AsFloat();
        return std::any_of(Numbers.begin(), Numbers.end(), [&](double n) { return NumbersMatch(value, n); });
    }
    case fkDateRange: {
        const TDateTime value = Field->AsDateTime();
        return DateFrom <= value && value <= DateTo;
    }
    case fkDateList: {
        const TDateTime value = Field->AsDateTime();
        return std::find(Dates.begin(), Dates.end(), value) != Dates.end();
    }
    case fkBoolean:
        if (Field->IsNull())
            return BoolValue == -1;
        return (Field->AsBoolean() ? 1 : 0) == BoolValue;
    default: return false;
    }
}

QString TFieldFilter::Description() const
{
    const QString name = Quote + (Field ? Field->DisplayName() : QString()) + Quote;
    switch (Kind) {
    case fkSubstring: return name + QStringLiteral("   СОДЕРЖИТ   '") + Value + QLatin1Char('\'');
    case fkExact: return name + QStringLiteral("   =   '") + Value + QLatin1Char('\'');
    case fkValueList: return name + QStringLiteral("   ОДИН ИЗ   ") + QuotedItems(Strings);
    case fkNumberList: return name + QStringLiteral("   ОДИН ИЗ   ") + QuotedItems(Texts(Numbers, NumberText));
    case fkDateList: return name + QStringLiteral("   ОДИН ИЗ   ") + QuotedItems(Texts(Dates, DateText));
    case fkNumberRange:
        return NumberText(NumberFrom) + QStringLiteral(" <= ") + name + QStringLiteral(" <= ") + NumberText(NumberTo);
    case fkDateRange:
        return name + QStringLiteral("   С   '") + DateText(DateFrom) + QStringLiteral("'   ПО   '") + DateText(DateTo)
               + QLatin1Char('\'');
    case fkBoolean:
        return name
               + (BoolValue == 1   ? QStringLiteral("= Да")
                  : BoolValue == 0 ? QStringLiteral("= Нет")
                                   : QStringLiteral("= ?"));
    case fkSubstrings: return name + QStringLiteral("СОДЕРЖИТ ОДНУ ИЗ СТРОК ") + QuotedItems(Strings);
    default: return QString();
    }
}

bool FiltersAccept(const TFieldFilters& filters, const TMemRecordMarker* marker)
{
    const auto marks = std::find_if(filters.begin(), filters.end(),
                                    [](const auto& filter) { return filter->Kind == fkMarks; });
    if (marks != filters.end())
        return (*marks)->Accept(marker);
    return std::all_of(filters.begin(), filters.end(), [&](const auto& filter) { return filter->Accept(marker); });
}

void ClearFilters(TFieldFilters& filters) { filters.clear(); }

TFieldCategory FieldCategory(const TField& field)
{
    switch (field.DataType()) {
    case ftString:
    case ftMemo: return fcString;
    case ftSmallint:
    case ftInteger:
    case ftAutoInc: return fcInteger;
    case ftFloat:
    case ftCurrency:
    case ftBCD: return fcFloat;
    case ftDate: return fcDate;
    case ftTime:
    case ftDateTime: return fcDateTime;
    case ftBoolean: return fcBoolean;
    default: return fcOther;
    }
}

QString FieldCategoryText(TFieldCategory category)
{
    switch (category) {
    case fcString: return QStringLiteral("строка");
    case fcInteger: return QStringLiteral("целое");
    case fcFloat: return QStringLiteral("дробное");
    case fcDate:
    case fcDateTime: return QStringLiteral("дата");
    case fcBoolean: return QStringLiteral("логическое");
    default: return QString();
    }
}
