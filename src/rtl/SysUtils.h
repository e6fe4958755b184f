// The toolkit's text conversions of numbers and dates, driven by the user's
// format settings.
#pragma once

#include "DateTime.h"

#include <QChar>
#include <QLocale>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

struct TFormatSettings
{
    QChar DecimalSeparator = QLatin1Char(',');
    QChar ThousandSeparator = QChar(0x00A0);
    QChar DateSeparator = QLatin1Char('.');
    QChar TimeSeparator = QLatin1Char(':');
    QString ShortDateFormat = QStringLiteral("dd.mm.yyyy"); // in FormatDateTime's pattern language
    QString LongDateFormat = QStringLiteral("d mmmm yyyy");
    QString ShortTimeFormat = QStringLiteral("h:nn");
    QString LongTimeFormat = QStringLiteral("h:nn:ss");
    QString TimeAMString = QStringLiteral("AM");
    QString TimePMString = QStringLiteral("PM");
    // The names mmm, mmmm, ddd and dddd write (days from Sunday); Russian
    // unless taken from a locale.
    std::array<QString, 12> ShortMonthNames = RussianMonthNames(QLocale::ShortFormat);
    std::array<QString, 12> LongMonthNames = RussianMonthNames(QLocale::LongFormat);
    std::array<QString, 7> ShortDayNames = RussianDayNames(QLocale::ShortFormat);
    std::array<QString, 7> LongDayNames = RussianDayNames(QLocale::LongFormat);

    // The settings of the user's locale (QLocale::system()), translated
    // into the toolkit's pattern language.
    static TFormatSettings FromLocale(const QLocale& locale);
    // Month names in the nominative (stand-alone) form.
    static std::array<QString, 12> MonthNames(const QLocale& locale, QLocale::FormatType format);
    static std::array<QString, 7> DayNames(const QLocale& locale, QLocale::FormatType format);
    // The same for Russian, computed once.
    static const std::array<QString, 12>& RussianMonthNames(QLocale::FormatType format);
    static const std::array<QString, 7>& RussianDayNames(QLocale::FormatType format);
};

// The process-wide settings; initialised from the system locale on first use.
TFormatSettings& FormatSettings();

// Patterns as the toolkit reads them: d dd ddd dddd ddddd(short date)
// dddddd(long date), m mm mmm mmmm (minutes when right after h/hh),
// yy yyyy, h hh, n nn, s ss, z zzz, t (short time), tt (long time),
// c (short date, and long time unless midnight), am/pm a/p ampm,
// / and : (the separators), "..." and '...' literal text.
QString FormatDateTime(const QString& pattern, TDateTime value, const TFormatSettings& settings = FormatSettings());
QString DateToStr(TDateTime value, const TFormatSettings& settings = FormatSettings());
QString TimeToStr(TDateTime value, const TFormatSettings& settings = FormatSettings());
QString DateTimeToStr(TDateTime value, const TFormatSettings& settings = FormatSettings());

// Parsing by the short date format's order of day, month and year; a time
// part is optional in StrToDateTime. A missing year is the current one; a
// year of one or two digits lands within 50 years of the current year (in
// 2026: 76 -> 1976, 75 -> 2075). Raise EConvertError
// ("'%s' is not a valid date" / "... valid date and time" / "... valid time").
TDateTime StrToDate(const QString& text, const TFormatSettings& settings = FormatSettings());
TDateTime StrToTime(const QString& text, const TFormatSettings& settings = FormatSettings());
TDateTime StrToDateTime(const QString& text, const TFormatSettings& settings = FormatSettings());
std::optional<TDateTime> TryStrToDate(const QString& text, const TFormatSettings& settings = FormatSettings());
std::optional<TDateTime> TryStrToDateTime(const QString& text, const TFormatSettings& settings = FormatSettings());

// Numbers. FloatToStr: up to 15 significant digits, general format, the
// decimal separator of the settings: fixed from 0.0001 up to 15 integer
// digits, otherwise exponent form without '+' ("1,5E20", "1E-5"). StrToFloat accepts the settings'
// separator and "."; blanks around are ignored; raises EConvertError
// ("'%s' is not a valid floating point value").
QString FloatToStr(double value, const TFormatSettings& settings = FormatSettings());
double StrToFloat(const QString& text, const TFormatSettings& settings = FormatSettings());
std::optional<double> TryStrToFloat(const QString& text, const TFormatSettings& settings = FormatSettings());
// A number written with thousand separators, without them: "1 234 567,5"
// gives "1234567,5". The separators must stand between groups of three
// digits of the whole part; text grouped any other way ("47,25" where ","
// groups) gives none, so that a misplaced separator is never dropped
// silently. Where the separator is a space, any space groups. Text without
// a separator comes back as it is.
std::optional<QString> RemoveThousandSeparators(const QString& text,
                                                const TFormatSettings& settings = FormatSettings());
QString IntToStr(int64_t value);
// Raises EConvertError ("'%s' is not a valid integer value").
int32_t StrToInt(const QString& text);
int64_t StrToInt64(const QString& text);
std::optional<int64_t> TryStrToInt64(const QString& text);

// FormatFloat with the toolkit's number patterns: 0 # . , E+ E- e+ e-,
// quoted literal text, up to three ';'-separated sections (positive,
// negative, zero); rounding half away from zero on the value's 15
// significant digits (2.675 -> "2,68"); a value that rounds to zero takes
// the zero section and no minus sign.
QString FormatFloat(const QString& pattern, double value, const TFormatSettings& settings = FormatSettings());
