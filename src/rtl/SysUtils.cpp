#include "SysUtils.h"

#include "Exceptions.h"
#include "Text.h"

#include <QDate>
#include <QStringList>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

namespace {

constexpr int64_t MSecsPerDay = 86400000;
constexpr int TwoDigitYearWindow = 50;

bool IsBlank(QChar c) { return c.unicode() < 33; }
bool IsDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }
bool IsAsciiLetter(QChar c)
{
    const char16_t u = c.unicode() | 0x20;
    return u >= u'a' && u <= u'z';
}
char16_t AsciiUpper(QChar c) { return IsAsciiLetter(c) ? (c.unicode() & ~0x20) : c.unicode(); }

// Case-insensitive match of an ASCII word at a position.
bool MatchAt(const QString& text, qsizetype pos, QLatin1String word)
{
    return pos + word.size() <= text.size()
           && QStringView(text).mid(pos, word.size()).compare(word, Qt::CaseInsensitive) == 0;
}

// ---------------------------------------------------------------------------
// Date-time decoding. Done arithmetically rather than through QDateTime so
// that no time zone (and no daylight-saving gap) can shift the wall time.

struct TDecoded
{
    int Year = 0, Month = 0, Day = 0;
    int DayOfWeek = 0; // 1 = Sunday, 0 when there is no valid date
    int Hour = 0, Minute = 0, Second = 0, MSec = 0;
};

TDecoded Decode(TDateTime value)
{
    TDecoded result;
    // Outside 0001-01-01..9999-12-31 the toolkit shows a zero date.
    if (!std::isfinite(value) || value <= -693594.0 || value >= 2958466.0)
        return result;
    const int64_t msecs = std::llround(value * MSecsPerDay);
    // Negative values count days backwards but the time of day forwards.
    const int64_t days = msecs / MSecsPerDay;
    const int64_t time = std::abs(msecs) % MSecsPerDay;
    result.Hour = static_cast<int>(time / 3600000);
    result.Minute = static_cast<int>(time / 60000 % 60);
    result.Second = static_cast<int>(time / 1000 % 60);
    result.MSec = static_cast<int>(time % 1000);
    const QDate date = QDate(1899, 12, 30).addDays(days);
    if (date.isValid() && date.year() >= 1 && date.year() <= 9999) {
        result.Year = date.year();
        result.Month = date.month();
        result.Day = date.day();
        result.DayOfWeek = date.dayOfWeek() % 7 + 1;
    }
    return result;
}

class TDateTimeFormatter
{
public:
    TDateTimeFormatter(TDateTime value, const TFormatSettings& settings) : S(settings), D(Decode(value)) {}

    QString Format(const QString& pattern)
    {
        Append(pattern.isEmpty() ? QStringLiteral("c") : pattern);
        return Out;
    }

private:
    const TFormatSettings& S;
    const TDecoded D;
    QString Out;
    int Level = 0; // nested formats (c, ddddd, t...) expand two levels deep at most

    void Number(int value, int width) { Out += QString::number(value).rightJustified(width, QLatin1Char('0')); }

    template <size_t N>
    void Name(const std::array<QString, N>& names, int index)
    {
        if (index >= 1 && index <= static_cast<int>(N))
            Out += names[index - 1];
    }

    void Append(const QString& pattern)
    {
        if (Level >= 2)
            return;
        ++Level;
        char16_t lastToken = u' ';
        bool twelveHour = false;
        const qsizetype n = pattern.size();
        qsizetype i = 0;
        while (i < n) {
            const QChar starter = pattern[i++];
            char16_t token = AsciiUpper(starter);
            if (IsAsciiLetter(starter)) {
                if (token == u'M' && lastToken == u'H')
                    token = u'N';
                lastToken = token;
            }
            const auto count = [&] {
                int result = 1;
                for (; i < n && pattern[i] == starter; ++i)
                    ++result;
                return result;
            };
            switch (token) {
            case u'Y': {
                const int c = count();
                if (c <= 2)
                    Number(D.Year % 100, 2);
                else
                    Number(D.Year, 4);
                break;
            }
            case u'M': {
                const int c = count();
                if (c <= 2)
                    Number(D.Month, c);
                else if (c == 3)
                    Name(S.ShortMonthNames, D.Month);
                else
                    Name(S.LongMonthNames, D.Month);
                break;
            }
            case u'D': {
                const int c = count();
                if (c <= 2)
                    Number(D.Day, c);
                else if (c == 3)
                    Name(S.ShortDayNames, D.DayOfWeek);
                else if (c == 4)
                    Name(S.LongDayNames, D.DayOfWeek);
                else if (c == 5)
                    Append(S.ShortDateFormat);
                else
                    Append(S.LongDateFormat);
                break;
            }
            case u'H': {
                const int c = count();
                // A 12-hour clock when an am/pm marker follows before the next hour.
                bool quoted = false;
                for (qsizetype p = i; p < n; ++p) {
                    const char16_t ch = AsciiUpper(pattern[p]);
                    if (ch == u'\'' || ch == u'"') {
                        quoted = !quoted;
                    } else if (!quoted && ch == u'A') {
                        if (MatchAt(pattern, p, QLatin1String("AM/PM")) || MatchAt(pattern, p, QLatin1String("A/P"))
                            || MatchAt(pattern, p, QLatin1String("AMPM")))
                            twelveHour = true;
                        break;
                    } else if (!quoted && ch == u'H') {
                        break;
                    }
                }
                int hour = D.Hour;
                if (twelveHour)
                    hour = hour == 0 ? 12 : hour > 12 ? hour - 12 : hour;
                Number(hour, std::min(c, 2));
                break;
            }
            case u'N': Number(D.Minute, std::min(count(), 2)); break;
            case u'S': Number(D.Second, std::min(count(), 2)); break;
            case u'Z': Number(D.MSec, std::min(count(), 3)); break;
            case u'T': Append(count() == 1 ? S.ShortTimeFormat : S.LongTimeFormat); break;
            case u'A': {
                const qsizetype p = i - 1;
                const bool pm = D.Hour >= 12;
                if (MatchAt(pattern, p, QLatin1String("AM/PM"))) {
                    Out += pattern.mid(pm ? p + 3 : p, 2); // in the pattern's own case
                    i = p + 5;
                    twelveHour = true;
                } else if (MatchAt(pattern, p, QLatin1String("A/P"))) {
                    Out += pattern[pm ? p + 2 : p];
                    i = p + 3;
                    twelveHour = true;
                } else if (MatchAt(pattern, p, QLatin1String("AMPM"))) {
                    Out += pm ? S.TimePMString : S.TimeAMString;
                    i = p + 4;
                    twelveHour = true;
                } else if (MatchAt(pattern, p, QLatin1String("AAAA"))) {
                    Name(S.LongDayNames, D.DayOfWeek);
                    i = p + 4;
                } else if (MatchAt(pattern, p, QLatin1String("AAA"))) {
                    Name(S.ShortDayNames, D.DayOfWeek);
                    i = p + 3;
                } else {
                    Out += starter;
                }
                break;
            }
            case u'C':
                count();
                Append(S.ShortDateFormat);
                if (D.Hour != 0 || D.Minute != 0 || D.Second != 0 || D.MSec != 0) {
                    Out += QLatin1Char(' ');
                    Append(S.LongTimeFormat);
                }
                break;
            case u'/':
                if (!S.DateSeparator.isNull())
                    Out += S.DateSeparator;
                break;
            case u':':
                if (!S.TimeSeparator.isNull())
                    Out += S.TimeSeparator;
                break;
            case u'\'':
            case u'"': {
                const qsizetype close = pattern.indexOf(starter, i);
                const qsizetype end = close < 0 ? n : close;
                Out += QStringView(pattern).mid(i, end - i);
                i = close < 0 ? n : close + 1;
                break;
            }
            default: Out += starter; break;
            }
        }
        --Level;
    }
};

// ---------------------------------------------------------------------------
// Date-time scanning, as lenient as the toolkit: blanks between the parts,
// a trailing date separator, a year left out (the current one), two-digit
// years in a window of 50 years either side of the current year.

class TDateTimeScanner
{
public:
    TDateTimeScanner(const QString& text, const TFormatSettings& settings) : S(text), F(settings) {}

    bool AtEnd() const { return Pos >= S.size(); }

    bool Date(TDateTime& result)
    {
        enum { MDY, DMY, YMD } order = MDY;
        for (const QChar c : F.ShortDateFormat) {
            const char16_t u = AsciiUpper(c);
            if (u == u'Y' || u == u'E') {
                order = YMD;
                break;
            }
            if (u == u'M' || u == u'D') {
                order = u == u'M' ? MDY : DMY;
                break;
            }
        }
        int n1 = 0, n2 = 0, n3 = 0, l1 = 0, l3 = 0, unused = 0;
        if (!(Number(n1, l1) && Char(F.DateSeparator) && Number(n2, unused)))
            return false;
        int year = 0, month = 0, day = 0;
        if (Char(F.DateSeparator)) {
            if (!Number(n3, l3))
                return false;
            int yearLength = l3;
            switch (order) {
            case MDY: year = n3, month = n1, day = n2; break;
            case DMY: year = n3, month = n2, day = n1; break;
            case YMD: year = n1, month = n2, day = n3, yearLength = l1; break;
            }
            if (yearLength <= 2) {
                const int base = QDate::currentDate().year() - TwoDigitYearWindow;
                year += base / 100 * 100;
                if (year < base)
                    year += 100;
            }
        } else {
            year = QDate::currentDate().year();
            if (order == DMY)
                day = n1, month = n2;
            else
                month = n1, day = n2;
        }
        Char(F.DateSeparator);
        Blanks();
        const auto date = TryEncodeDate(year, month, day);
        if (date)
            result = *date;
        return date.has_value();
    }

    bool Time(TDateTime& result)
    {
        int baseHour = AmPm();
        int hour = 0, minute = 0, second = 0, msec = 0, unused = 0;
        if (!Number(hour, unused))
            return false;
        if (Char(F.TimeSeparator)) {
            if (!Number(minute, unused))
                return false;
            if (Char(F.TimeSeparator)) {
                if (!Number(second, unused))
                    return false;
                if (Char(F.DecimalSeparator) && !Number(msec, unused))
                    return false;
            }
        }
        if (baseHour < 0)
            baseHour = AmPm();
        if (baseHour >= 0) {
            if (hour == 0 || hour > 12)
                return false;
            hour = hour % 12 + baseHour;
        }
        Blanks();
        const auto time = TryEncodeTime(hour, minute, second, msec);
        if (time)
            result = *time;
        return time.has_value();
    }

private:
    const QString& S;
    const TFormatSettings& F;
    qsizetype Pos = 0;

    void Blanks()
    {
        while (Pos < S.size() && IsBlank(S[Pos]))
            ++Pos;
    }

    // At most four digits (the scan stops once the number reaches 1000).
    bool Number(int& number, int& length)
    {
        Blanks();
        qsizetype i = Pos;
        int value = 0;
        while (i < S.size() && IsDigit(S[i]) && value < 1000)
            value = value * 10 + (S[i++].unicode() - u'0');
        if (i == Pos)
            return false;
        length = static_cast<int>(i - Pos);
        Pos = i;
        number = value;
        return true;
    }

    bool Char(QChar c)
    {
        const qsizetype start = Pos;
        Blanks();
        if (IsBlank(c))
            return Pos > start;
        if (Pos < S.size() && S[Pos] == c) {
            ++Pos;
            return true;
        }
        return false;
    }

    bool Word(const QString& word)
    {
        if (word.isEmpty())
            return false;
        Blanks();
        if (QStringView(S).mid(Pos, word.size()).compare(word, Qt::CaseInsensitive) != 0)
            return false;
        Pos += word.size();
        return true;
    }

    // 0 for am, 12 for pm, -1 when neither is here.
    int AmPm()
    {
        if (Word(F.TimeAMString) || Word(QStringLiteral("AM")))
            return 0;
        if (Word(F.TimePMString) || Word(QStringLiteral("PM")))
            return 12;
        return -1;
    }
};

std::optional<TDateTime> TryStrToTime(const QString& text, const TFormatSettings& settings)
{
    TDateTimeScanner scanner(text, settings);
    TDateTime time = 0;
    if (scanner.Time(time) && scanner.AtEnd())
        return time;
    return std::nullopt;
}

[[noreturn]] void RaiseConvert(const char* pattern, const QString& text)
{
    throw EConvertError(QString::fromLatin1(pattern).arg(text));
}

// ---------------------------------------------------------------------------
// Decimal digits of a double: value = 0.Digits * 10^Exponent, no trailing
// zeros, no digits at all for zero.

struct TDecimal
{
    std::string Digits;
    int Exponent = 0;

    bool IsZero() const { return Digits.empty(); }

    // Up to 15 significant digits: what a double holds reliably, so that
    // 2.675 rounds on to 2.68 as the user reads it.
    static TDecimal FromDouble(double value)
    {
        TDecimal result;
        if (value == 0)
            return result;
        char buffer[40];
        std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(value)); // d.dddddddddddddde+XX
        result.Digits.assign(1, buffer[0]);
        result.Digits.append(buffer + 2, 14);
        result.Exponent = std::atoi(buffer + 17) + 1;
        result.TrimZeros();
        return result;
    }

    // Keeps the first `keep` digits, rounding half away from zero.
    void RoundAt(int keep)
    {
        if (keep >= static_cast<int>(Digits.size()))
            return;
        if (keep < 0) {
            Digits.clear();
            return;
        }
        const bool up = Digits[keep] >= '5';
        Digits.resize(keep);
        if (up) {
            int i = keep - 1;
            for (; i >= 0 && Digits[i] == '9'; --i)
                Digits[i] = '0';
            if (i >= 0) {
                ++Digits[i];
            } else {
                Digits.insert(Digits.begin(), '1');
                ++Exponent;
            }
        }
        TrimZeros();
    }

    void RoundToDecimals(int decimals) { RoundAt(Exponent + decimals); }

    // The digit for the place value 10^(Exponent - 1 - index).
    char DigitAt(int index) const
    {
        return index >= 0 && index < static_cast<int>(Digits.size()) ? Digits[index] : '0';
    }

    void TrimZeros()
    {
        while (!Digits.empty() && Digits.back() == '0')
            Digits.pop_back();
        if (Digits.empty())
            Exponent = 0;
    }
};

QString GeneralFloat(double value, const TFormatSettings& settings)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    const TDecimal d = TDecimal::FromDouble(value);
    if (d.IsZero())
        return QStringLiteral("0");
    QString out;
    if (value < 0)
        out += QLatin1Char('-');
    const auto digits = [&](int from, int to) {
        for (int i = from; i < to; ++i)
            out += QLatin1Char(d.DigitAt(i));
    };
    const int length = static_cast<int>(d.Digits.size());
    if (d.Exponent > 15 || d.Exponent < -3) {
        digits(0, 1);
        if (length > 1) {
            out += settings.DecimalSeparator;
            digits(1, length);
        }
        out += QLatin1Char('E');
        out += QString::number(d.Exponent - 1);
    } else if (d.Exponent <= 0) {
        out += QLatin1Char('0');
        out += settings.DecimalSeparator;
        out += QString(-d.Exponent, QLatin1Char('0'));
        digits(0, length);
    } else {
        digits(0, d.Exponent);
        if (length > d.Exponent) {
            out += settings.DecimalSeparator;
            digits(d.Exponent, length);
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// FormatFloat.

QStringList SplitSections(const QString& pattern)
{
    QStringList sections{QString()};
    QChar quote;
    for (const QChar c : pattern) {
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            quote = c;
        } else if (c == QLatin1Char(';')) {
            if (sections.size() == 3)
                break;
            sections.append(QString());
            continue;
        }
        sections.back() += c;
    }
    return sections;
}

struct TNumberPattern
{
    int IntDigits = 0;     // placeholders before the decimal point
    int FirstIntZero = -1; // the first of them that is a '0'
    int MinDecimals = 0;   // up to the last '0' after the point
    int MaxDecimals = 0;   // '0's and '#'s after the point
    bool Thousands = false;
    bool Scientific = false;

    explicit TNumberPattern(const QString& section)
    {
        bool point = false;
        for (qsizetype i = 0; i < section.size(); ++i) {
            const QChar c = section[i];
            if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
                const qsizetype close = section.indexOf(c, i + 1);
                i = close < 0 ? section.size() : close;
            } else if (c == QLatin1Char('0') || c == QLatin1Char('#')) {
                if (!point) {
                    if (c == QLatin1Char('0') && FirstIntZero < 0)
                        FirstIntZero = IntDigits;
                    ++IntDigits;
                } else {
                    ++MaxDecimals;
                    if (c == QLatin1Char('0'))
                        MinDecimals = MaxDecimals;
                }
            } else if (c == QLatin1Char('.')) {
                point = true;
            } else if (c == QLatin1Char(',')) {
                Thousands = true;
            } else if (IsExponent(section, i)) {
                Scientific = true;
                // The exponent's own digits are no placeholders.
                for (i += 2; i < section.size() && section[i] == QLatin1Char('0'); ++i) {
                }
                --i;
            }
        }
    }

    static bool IsExponent(const QString& section, qsizetype i)
    {
        return (section[i] == QLatin1Char('E') || section[i] == QLatin1Char('e')) && i + 1 < section.size()
               && (section[i + 1] == QLatin1Char('+') || section[i + 1] == QLatin1Char('-'));
    }
};

// Writes the digits into the section's placeholders and copies the rest.
QString EmitNumber(const QString& section, const TNumberPattern& p, const QString& intDigits, const QString& decimals,
                   int exponent, const TFormatSettings& settings)
{
    QString out;
    const int n = static_cast<int>(intDigits.size());
    const auto group = [&](int remaining) {
        if (p.Thousands && remaining > 0 && remaining % 3 == 0 && !settings.ThousandSeparator.isNull())
            out += settings.ThousandSeparator;
    };
    const auto leadingDigits = [&](int count) { // digits that have no placeholder of their own
        for (int j = 0; j < count; ++j) {
            out += intDigits[j];
            group(n - 1 - j);
        }
    };
    bool point = false;
    bool exponentDone = false;
    int intIndex = 0;
    int decIndex = 0;
    for (qsizetype i = 0; i < section.size(); ++i) {
        const QChar c = section[i];
        if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            const qsizetype close = section.indexOf(c, i + 1);
            const qsizetype end = close < 0 ? section.size() : close;
            out += QStringView(section).mid(i + 1, end - i - 1);
            i = end;
        } else if (c == QLatin1Char('0') || c == QLatin1Char('#')) {
            if (!point) {
                if (intIndex == 0 && n > p.IntDigits)
                    leadingDigits(n - p.IntDigits);
                const int k = intIndex - (p.IntDigits - n);
                if (k >= 0) {
                    out += intDigits[k];
                    group(p.IntDigits - 1 - intIndex);
                } else if (p.FirstIntZero >= 0 && intIndex >= p.FirstIntZero) {
                    out += QLatin1Char('0');
                    group(p.IntDigits - 1 - intIndex);
                }
                ++intIndex;
            } else {
                if (decIndex < decimals.size())
                    out += decimals[decIndex];
                ++decIndex;
            }
        } else if (c == QLatin1Char('.')) {
            if (!point) {
                point = true;
                if (p.IntDigits == 0)
                    leadingDigits(n);
                if (!decimals.isEmpty())
                    out += settings.DecimalSeparator;
            }
        } else if (c == QLatin1Char(',')) {
            // marks grouping only
        } else if (p.Scientific && !exponentDone && TNumberPattern::IsExponent(section, i)) {
            exponentDone = true;
            out += c;
            if (exponent < 0)
                out += QLatin1Char('-');
            else if (section[i + 1] == QLatin1Char('+'))
                out += QLatin1Char('+');
            int width = 0;
            for (i += 2; i < section.size() && section[i] == QLatin1Char('0'); ++i)
                ++width;
            --i;
            out += QString::number(std::abs(exponent)).rightJustified(width, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out;
}

// Parses an integer the way the toolkit's Val does: sign, decimal or hex
// ("$" or "0x"; hex wraps to negative at the width, as "$FFFFFFFF" = -1).
std::optional<int64_t> ParseInteger(const QString& text, int bits)
{
    const QString t = Trim(text);
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-')))
        negative = t[i++] == QLatin1Char('-');
    int base = 10;
    if (i < t.size() && t[i] == QLatin1Char('$')) {
        base = 16;
        ++i;
    } else if (i + 1 < t.size() && t[i] == QLatin1Char('0')
               && (t[i + 1] == QLatin1Char('x') || t[i + 1] == QLatin1Char('X'))) {
        base = 16;
        i += 2;
    }
    if (i == t.size())
        return std::nullopt;
    const uint64_t limit = base == 16 ? (bits == 64 ? std::numeric_limits<uint64_t>::max() : (uint64_t{1} << bits) - 1)
                                      : (uint64_t{1} << (bits - 1)) - (negative ? 0 : 1);
    uint64_t value = 0;
    for (; i < t.size(); ++i) {
        const char16_t u = t[i].unicode();
        int digit = -1;
        if (u >= u'0' && u <= u'9')
            digit = u - u'0';
        else if (base == 16 && (u | 0x20) >= u'a' && (u | 0x20) <= u'f')
            digit = (u | 0x20) - u'a' + 10;
        if (digit < 0)
            return std::nullopt;
        if (value > (limit - digit) / base)
            return std::nullopt;
        value = value * base + digit;
    }
    if (negative)
        value = 0 - value;
    if (bits == 32)
        return static_cast<int32_t>(static_cast<uint32_t>(value));
    return static_cast<int64_t>(value);
}

} // namespace

// ---------------------------------------------------------------------------
// Settings

namespace {

void AppendLiteral(QString& out, const QString& text)
{
    const QChar quote = text.contains(QLatin1Char('"')) ? QLatin1Char('\'') : QLatin1Char('"');
    out += quote + text + quote;
}

// Qt's date and time patterns in the toolkit's language.
QString TranslateQtFormat(const QString& qt)
{
    QString out;
    const qsizetype n = qt.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = qt[i];
        if (c == QLatin1Char('\'')) {
            QString text;
            qsizetype j = i + 1;
            if (j < n && qt[j] == QLatin1Char('\'')) { // '' is a quote
                text = QStringLiteral("'");
                ++j;
            } else {
                while (j < n) {
                    if (qt[j] == QLatin1Char('\'')) {
                        if (j + 1 < n && qt[j + 1] == QLatin1Char('\'')) {
                            text += QLatin1Char('\'');
                            j += 2;
                            continue;
                        }
                        ++j;
                        break;
                    }
                    text += qt[j++];
                }
            }
            AppendLiteral(out, text);
            i = j;
            continue;
        }
        qsizetype run = 1;
        while (i + run < n && qt[i + run] == c)
            ++run;
        const QString repeated = QString(run, c);
        switch (c.unicode()) {
        case u'd': out += QString(std::min<qsizetype>(run, 4), QLatin1Char('d')); break;
        case u'M': out += QString(std::min<qsizetype>(run, 4), QLatin1Char('m')); break;
        case u'y': out += run <= 2 ? QStringLiteral("yy") : QStringLiteral("yyyy"); break;
        case u'h':
        case u'H': out += run >= 2 ? QStringLiteral("hh") : QStringLiteral("h"); break;
        case u'm': out += run >= 2 ? QStringLiteral("nn") : QStringLiteral("n"); break;
        case u's': out += run >= 2 ? QStringLiteral("ss") : QStringLiteral("s"); break;
        case u'z': out += run >= 3 ? QStringLiteral("zzz") : QStringLiteral("z"); break;
        case u'A':
        case u'a':
            out += QStringLiteral("ampm");
            if (i + run < n && (qt[i + run] == QLatin1Char('P') || qt[i + run] == QLatin1Char('p')))
                ++run;
            break;
        case u't': // time zone: the toolkit's times have none
            while (!out.isEmpty() && IsBlank(out.back()))
                out.chop(1);
            break;
        default:
            if (IsAsciiLetter(c) || c == QLatin1Char('"'))
                AppendLiteral(out, repeated);
            else
                out += repeated;
            break;
        }
        i += run;
    }
    return Trim(out);
}

// The first character of a pattern that separates its fields.
QChar SeparatorOf(const QString& pattern, QChar fallback)
{
    QChar quote;
    for (const QChar c : pattern) {
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            quote = c;
        } else if (!c.isLetterOrNumber() && !IsBlank(c)) {
            return c;
        }
    }
    return fallback;
}

} // namespace

std::array<QString, 12> TFormatSettings::MonthNames(const QLocale& locale, QLocale::FormatType format)
{
    std::array<QString, 12> names;
    for (int month = 1; month <= 12; ++month)
        names[month - 1] = locale.standaloneMonthName(month, format);
    return names;
}

std::array<QString, 7> TFormatSettings::DayNames(const QLocale& locale, QLocale::FormatType format)
{
    std::array<QString, 7> names;
    for (int day = 0; day < 7; ++day)
        names[day] = locale.dayName(day == 0 ? 7 : day, format);
    return names;
}

const std::array<QString, 12>& TFormatSettings::RussianMonthNames(QLocale::FormatType format)
{
    static const std::array<QString, 12> shortNames = MonthNames(QLocale(QLocale::Russian), QLocale::ShortFormat);
    static const std::array<QString, 12> longNames = MonthNames(QLocale(QLocale::Russian), QLocale::LongFormat);
    return format == QLocale::ShortFormat ? shortNames : longNames;
}

const std::array<QString, 7>& TFormatSettings::RussianDayNames(QLocale::FormatType format)
{
    static const std::array<QString, 7> shortNames = DayNames(QLocale(QLocale::Russian), QLocale::ShortFormat);
    static const std::array<QString, 7> longNames = DayNames(QLocale(QLocale::Russian), QLocale::LongFormat);
    return format == QLocale::ShortFormat ? shortNames : longNames;
}

TFormatSettings TFormatSettings::FromLocale(const QLocale& locale)
{
    TFormatSettings s;
    const QString decimalPoint = locale.decimalPoint();
    const QString groupSeparator = locale.groupSeparator();
    s.DecimalSeparator = decimalPoint.isEmpty() ? QLatin1Char('.') : decimalPoint.front();
    s.ThousandSeparator = groupSeparator.isEmpty() ? QChar() : groupSeparator.front();
    s.ShortDateFormat = TranslateQtFormat(locale.dateFormat(QLocale::ShortFormat));
    // Dates must come back through StrToDate, which reads numbers only: a
    // short format with month names (the C locale's "d MMM yyyy") gives way to ISO.
    if (s.ShortDateFormat.contains(QLatin1String("mmm"), Qt::CaseInsensitive))
        s.ShortDateFormat = QStringLiteral("yyyy-mm-dd");
    s.LongDateFormat = TranslateQtFormat(locale.dateFormat(QLocale::LongFormat));
    s.ShortTimeFormat = TranslateQtFormat(locale.timeFormat(QLocale::ShortFormat));
    s.LongTimeFormat = TranslateQtFormat(locale.timeFormat(QLocale::LongFormat));
    s.DateSeparator = SeparatorOf(s.ShortDateFormat, QLatin1Char('/'));
    s.TimeSeparator = SeparatorOf(s.LongTimeFormat, QLatin1Char(':'));
    s.TimeAMString = locale.amText();
    s.TimePMString = locale.pmText();
    s.ShortMonthNames = MonthNames(locale, QLocale::ShortFormat);
    s.LongMonthNames = MonthNames(locale, QLocale::LongFormat);
    s.ShortDayNames = DayNames(locale, QLocale::ShortFormat);
    s.LongDayNames = DayNames(locale, QLocale::LongFormat);
    return s;
}

TFormatSettings& FormatSettings()
{
    static TFormatSettings settings = TFormatSettings::FromLocale(QLocale::system());
    return settings;
}

// ---------------------------------------------------------------------------
// Dates and times

QString FormatDateTime(const QString& pattern, TDateTime value, const TFormatSettings& settings)
{
    return TDateTimeFormatter(value, settings).Format(pattern);
}

QString DateToStr(TDateTime value, const TFormatSettings& settings)
{
    return FormatDateTime(QStringLiteral("ddddd"), value, settings);
}

QString TimeToStr(TDateTime value, const TFormatSettings& settings)
{
    return FormatDateTime(QStringLiteral("tt"), value, settings);
}

QString DateTimeToStr(TDateTime value, const TFormatSettings& settings)
{
    return FormatDateTime(QStringLiteral("c"), value, settings);
}

std::optional<TDateTime> TryStrToDate(const QString& text, const TFormatSettings& settings)
{
    TDateTimeScanner scanner(text, settings);
    TDateTime date = 0;
    if (scanner.Date(date) && scanner.AtEnd())
        return date;
    return std::nullopt;
}

std::optional<TDateTime> TryStrToDateTime(const QString& text, const TFormatSettings& settings)
{
    TDateTimeScanner scanner(text, settings);
    TDateTime date = 0;
    if (!scanner.Date(date))
        return TryStrToTime(text, settings);
    TDateTime time = 0;
    if (!scanner.AtEnd() && !(scanner.Time(time) && scanner.AtEnd()))
        return std::nullopt;
    return date >= 0 ? date + time : date - time;
}

TDateTime StrToDate(const QString& text, const TFormatSettings& settings)
{
    if (const auto value = TryStrToDate(text, settings))
        return *value;
    RaiseConvert("'%1' is not a valid date", text);
}

TDateTime StrToTime(const QString& text, const TFormatSettings& settings)
{
    if (const auto value = TryStrToTime(text, settings))
        return *value;
    RaiseConvert("'%1' is not a valid time", text);
}

TDateTime StrToDateTime(const QString& text, const TFormatSettings& settings)
{
    if (const auto value = TryStrToDateTime(text, settings))
        return *value;
    RaiseConvert("'%1' is not a valid date and time", text);
}

// ---------------------------------------------------------------------------
// Numbers

QString FloatToStr(double value, const TFormatSettings& settings) { return GeneralFloat(value, settings); }

std::optional<double> TryStrToFloat(const QString& text, const TFormatSettings& settings)
{
    const QString t = Trim(text);
    std::string ascii;
    qsizetype i = 0;
    const auto digits = [&] {
        const qsizetype start = i;
        for (; i < t.size() && IsDigit(t[i]); ++i)
            ascii += static_cast<char>(t[i].unicode());
        return i - start;
    };
    if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-')))
        ascii += static_cast<char>(t[i++].unicode());
    qsizetype mantissa = digits();
    if (i < t.size() && (t[i] == settings.DecimalSeparator || t[i] == QLatin1Char('.'))) {
        ascii += '.';
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return std::nullopt;
    if (i < t.size() && (t[i] == QLatin1Char('e') || t[i] == QLatin1Char('E'))) {
        ascii += 'e';
        ++i;
        if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-')))
            ascii += static_cast<char>(t[i++].unicode());
        if (digits() == 0)
            return std::nullopt;
    }
    if (i != t.size())
        return std::nullopt;
    const char* first = ascii.data() + (ascii.front() == '+' ? 1 : 0); // from_chars takes no '+'
    double value = 0;
    const auto [end, error] = std::from_chars(first, ascii.data() + ascii.size(), value);
    if (error != std::errc() || end != ascii.data() + ascii.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

double StrToFloat(const QString& text, const TFormatSettings& settings)
{
    if (const auto value = TryStrToFloat(text, settings))
        return *value;
    RaiseConvert("'%1' is not a valid floating point value", text);
}

std::optional<QString> RemoveThousandSeparators(const QString& text, const TFormatSettings& settings)
{
    const QChar group = settings.ThousandSeparator;
    if (group.isNull() || group == settings.DecimalSeparator)
        return text;
    const auto isGroup = [&](QChar c) { return c == group || (group.isSpace() && c.isSpace()); };
    const QString t = Trim(text);
    if (std::none_of(t.begin(), t.end(), isGroup))
        return text;
    QString plain;
    qsizetype i = 0;
    if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-')))
        plain += t[i++];
    const auto digits = [&] {
        const qsizetype start = i;
        for (; i < t.size() && IsDigit(t[i]); ++i)
            plain += t[i];
        return i - start;
    };
    const qsizetype leading = digits();
    if (leading < 1 || leading > 3)
        return std::nullopt;
    while (i < t.size() && isGroup(t[i])) {
        ++i;
        if (digits() != 3)
            return std::nullopt;
    }
    const QString rest = t.mid(i);
    if (std::any_of(rest.begin(), rest.end(), isGroup))
        return std::nullopt;
    return plain + rest;
}

QString IntToStr(int64_t value) { return QString::number(value); }

std::optional<int64_t> TryStrToInt64(const QString& text) { return ParseInteger(text, 64); }

int64_t StrToInt64(const QString& text)
{
    if (const auto value = ParseInteger(text, 64))
        return *value;
    RaiseConvert("'%1' is not a valid integer value", text);
}

int32_t StrToInt(const QString& text)
{
    if (const auto value = ParseInteger(text, 32))
        return static_cast<int32_t>(*value);
    RaiseConvert("'%1' is not a valid integer value", text);
}

QString FormatFloat(const QString& pattern, double value, const TFormatSettings& settings)
{
    if (!std::isfinite(value))
        return GeneralFloat(value, settings);
    const QStringList sections = SplitSections(pattern);
    const auto has = [&](int index) { return index < sections.size() && !sections[index].isEmpty(); };
    int index = value > 0 ? 0 : value < 0 ? (has(1) ? 1 : 0) : (has(2) ? 2 : 0);
    bool negative = value < 0;

    for (;;) {
        const QString& section = sections[index];
        if (section.isEmpty())
            return GeneralFloat(value, settings);
        const TNumberPattern p(section);
        if (!p.Scientific && std::fabs(value) >= 1e18)
            return GeneralFloat(value, settings);

        TDecimal d = TDecimal::FromDouble(value);
        QString intDigits;
        QString decimals;
        int exponent = 0;
        if (p.Scientific) {
            d.RoundAt(std::max(1, p.IntDigits + p.MaxDecimals));
            if (!d.IsZero())
                exponent = d.Exponent - p.IntDigits;
            for (int i = 0; i < p.IntDigits; ++i)
                intDigits += QLatin1Char(d.DigitAt(i));
            while (intDigits.startsWith(QLatin1Char('0')))
                intDigits.remove(0, 1);
            for (int j = 0; j < p.MaxDecimals; ++j)
                decimals += QLatin1Char(d.DigitAt(p.IntDigits + j));
        } else {
            d.RoundToDecimals(p.MaxDecimals);
            for (int i = 0; i < d.Exponent; ++i)
                intDigits += QLatin1Char(d.DigitAt(i));
            for (int j = 1; j <= p.MaxDecimals; ++j)
                decimals += QLatin1Char(d.DigitAt(d.Exponent - 1 + j));
        }
        // A value that rounds to zero is written as zero: no minus sign, and
        // in the zero section when there is one.
        if (d.IsZero() && value != 0) {
            value = 0;
            negative = false;
            index = has(2) ? 2 : 0;
            continue;
        }
        while (decimals.size() > p.MinDecimals && decimals.endsWith(QLatin1Char('0')))
            decimals.chop(1);
        QString out = EmitNumber(section, p, intDigits, decimals, exponent, settings);
        if (negative && index == 0)
            out.prepend(QLatin1Char('-'));
        return out;
    }
}
