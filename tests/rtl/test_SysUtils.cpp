#include "Exceptions.h"
#include "SysUtils.h"

#include <QDate>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

// Russian-style settings, spelled out so that no test depends on the machine's
// locale; a plain space groups thousands to keep the expectations readable.
TFormatSettings Russian()
{
    TFormatSettings s;
    s.DecimalSeparator = QLatin1Char(',');
    s.ThousandSeparator = QLatin1Char(' ');
    s.DateSeparator = QLatin1Char('.');
    s.TimeSeparator = QLatin1Char(':');
    s.ShortDateFormat = QStringLiteral("dd.mm.yyyy");
    s.LongDateFormat = QStringLiteral("d mmmm yyyy");
    s.ShortTimeFormat = QStringLiteral("h:nn");
    s.LongTimeFormat = QStringLiteral("h:nn:ss");
    return s;
}

// The message of the EConvertError the call raises, or "no error".
template <typename F>
QString ConvertErrorOf(F&& call)
{
    try {
        call();
    } catch (const EConvertError& e) {
        return e.Message();
    }
    return QStringLiteral("no error");
}

// Tuesday 5 March 2024, 07:08:09.045 (computed on use: EncodeDate relies
// on another file's static data).
TDateTime Morning() { return EncodeDate(2024, 3, 5) + EncodeTime(7, 8, 9, 45); }
TDateTime Evening() { return EncodeDate(2024, 3, 5) + EncodeTime(19, 8, 0, 0); }

TEST(SysUtils, FormatDateTimeTokens)
{
    const TFormatSettings s = Russian();
    const struct
    {
        const char* Pattern;
        TDateTime Value;
        const char* Expected;
    } cases[] = {
        {"d/dd", Morning(), "5.05"},
        {"ddd dddd", Morning(), "вт вторник"},
        {"ddddd", Morning(), "05.03.2024"},
        {"dddddd", Morning(), "5 март 2024"},
        {"m mm mmm mmmm", Morning(), "3 03 март март"},
        {"mmm mmmm", EncodeDate(2024, 1, 1), "янв. январь"},
        {"y yy yyy yyyy", Morning(), "24 24 2024 2024"},
        {"yyyy", EncodeDate(33, 1, 1), "0033"},
        {"h hh n nn s ss", Morning(), "7 07 8 08 9 09"},
        {"hhh nnn sss", Morning(), "07 08 09"},
        {"z zzz zzzz", Morning(), "45 045 045"},
        {"t|tt", Morning(), "7:08|7:08:09"},
        {"c", Morning(), "05.03.2024 7:08:09"},
        {"c", EncodeDate(2024, 3, 5), "05.03.2024"},
        {"c", EncodeDate(2024, 3, 5) + EncodeTime(0, 0, 0, 1), "05.03.2024 0:00:00"},
        {"", Morning(), "05.03.2024 7:08:09"},
        {"aaa aaaa", Morning(), "вт вторник"},
        // Letters are case-insensitive.
        {"DD.MM.YYYY HH:NN:SS", Morning(), "05.03.2024 07:08:09"},
        // "m" right after an hour, separators between or not, is minutes.
        {"hh:mm", Morning(), "07:08"},
        {"h mm", Morning(), "7 08"},
        {"yyyy-mm-dd hh:mm:ss zzz", Morning(), "2024-03-05 07:08:09 045"},
        {"hh:mm:ss mm", Morning(), "07:08:09 03"},
        {"mm hh", Morning(), "03 07"},
        {"hh d mm", Morning(), "07 5 03"},
        // Quoted text is copied as it is; other characters too.
        {"\"dd\" 'mm' dd", Morning(), "dd mm 05"},
        {"'hh", Morning(), "hh"},
        {"[x] #", Morning(), "[x] #"},
        // The 12-hour clock, switched on by a marker after the hour.
        {"h:nn am/pm", Evening(), "7:08 pm"},
        {"h:nn AM/PM", Morning(), "7:08 AM"},
        {"h:nn a/p", Evening(), "7:08 p"},
        {"hh:nn ampm", Evening(), "07:08 PM"},
        {"h ampm", EncodeDate(2024, 3, 5), "12 AM"},
        {"h am/pm", EncodeDate(2024, 3, 5) + 0.5, "12 pm"},
        {"h \"am/pm\" h", Evening(), "19 am/pm 19"},
        {"ampm", Evening(), "PM"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatDateTime(QString::fromUtf8(c.Pattern), c.Value, s), QString::fromUtf8(c.Expected)) << c.Pattern;
}

TEST(SysUtils, FormatDateTimeTakesSeparatorsAndNestedFormatsFromSettings)
{
    TFormatSettings s = Russian();
    s.DateSeparator = QLatin1Char('-');
    s.TimeSeparator = QLatin1Char('.');
    s.ShortDateFormat = QStringLiteral("yyyy/mm/dd");
    s.LongTimeFormat = QStringLiteral("hh:nn:ss");
    s.TimeAMString = QStringLiteral("утра");
    EXPECT_EQ(FormatDateTime(QStringLiteral("dd/mm/yyyy hh:nn"), Morning(), s), QStringLiteral("05-03-2024 07.08"));
    EXPECT_EQ(DateTimeToStr(Morning(), s), QStringLiteral("2024-03-05 07.08.09"));
    EXPECT_EQ(DateToStr(Morning(), s), QStringLiteral("2024-03-05"));
    EXPECT_EQ(TimeToStr(Morning(), s), QStringLiteral("07.08.09"));
    EXPECT_EQ(FormatDateTime(QStringLiteral("h ampm"), Morning(), s), QStringLiteral("7 утра"));
    // A format that names itself expands no deeper than two levels.
    s.ShortDateFormat = QStringLiteral("dd c");
    EXPECT_EQ(FormatDateTime(QStringLiteral("ddddd"), EncodeDate(2024, 3, 5), s), QStringLiteral("05 "));
}

TEST(SysUtils, FormatDateTimeDecodesNegativeRoundedAndOutOfRangeValues)
{
    const TFormatSettings s = Russian();
    const QString pattern = QStringLiteral("dd.mm.yyyy hh:nn:ss.zzz");
    // Before the base date the days count back but the time runs forward.
    EXPECT_EQ(FormatDateTime(pattern, -1.25, s), QStringLiteral("29.12.1899 06:00:00.000"));
    EXPECT_EQ(FormatDateTime(pattern, 0, s), QStringLiteral("30.12.1899 00:00:00.000"));
    // Rounded to the millisecond, carrying into the next day.
    EXPECT_EQ(FormatDateTime(pattern, EncodeDate(2024, 1, 1) + (86400000 - 0.4) / 86400000.0, s),
              QStringLiteral("02.01.2024 00:00:00.000"));
    // Outside the years 1..9999 there is no date to show.
    EXPECT_EQ(FormatDateTime(QStringLiteral("dd.mm.yyyy dddd"), 1e7, s), QStringLiteral("00.00.0000 "));
    EXPECT_EQ(FormatDateTime(QStringLiteral("dd.mm.yyyy"), std::nan(""), s), QStringLiteral("00.00.0000"));
    EXPECT_EQ(FormatDateTime(QStringLiteral("dd.mm.yyyy"), EncodeDate(9999, 12, 31), s), QStringLiteral("31.12.9999"));
    EXPECT_EQ(FormatDateTime(QStringLiteral("dd.mm.yyyy"), EncodeDate(1, 1, 1), s), QStringLiteral("01.01.0001"));
}

TEST(SysUtils, StrToDateReadsTheShortFormatsOrder)
{
    const TFormatSettings ru = Russian();
    const int thisYear = QDate::currentDate().year();
    const struct
    {
        QString Text;
        std::optional<TDateTime> Expected;
    } cases[] = {
        {QStringLiteral("05.03.2024"), EncodeDate(2024, 3, 5)},
        {QStringLiteral(" 5 . 3 . 2024 "), EncodeDate(2024, 3, 5)},
        {QStringLiteral("05.03.2024."), EncodeDate(2024, 3, 5)},
        {QStringLiteral("05.03"), EncodeDate(thisYear, 3, 5)},
        {QStringLiteral("29.02.2024"), EncodeDate(2024, 2, 29)},
        {QStringLiteral("05.03.0024"), EncodeDate(24, 3, 5)}, // four digits: taken as written
        {QStringLiteral("29.02.2023"), std::nullopt},
        {QStringLiteral("32.01.2024"), std::nullopt},
        {QStringLiteral("05/03/2024"), std::nullopt},
        {QStringLiteral("05.03.20245"), std::nullopt},
        {QStringLiteral("05.03.2024 10:00"), std::nullopt},
        {QStringLiteral("5"), std::nullopt},
        {QStringLiteral(""), std::nullopt},
        {QStringLiteral("abc"), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TryStrToDate(c.Text, ru), c.Expected) << c.Text.toStdString();

    TFormatSettings iso = ru;
    iso.ShortDateFormat = QStringLiteral("yyyy-mm-dd");
    iso.DateSeparator = QLatin1Char('-');
    EXPECT_EQ(TryStrToDate(QStringLiteral("2024-03-05"), iso), EncodeDate(2024, 3, 5));
    TFormatSettings us = ru;
    us.ShortDateFormat = QStringLiteral("m/d/yyyy");
    us.DateSeparator = QLatin1Char('/');
    EXPECT_EQ(TryStrToDate(QStringLiteral("3/5/2024"), us), EncodeDate(2024, 3, 5));
    EXPECT_EQ(TryStrToDate(QStringLiteral("3/5"), us), EncodeDate(thisYear, 3, 5));
}

TEST(SysUtils, TwoDigitYearsFallWithinFiftyYearsOfNow)
{
    const TFormatSettings s = Russian();
    const int thisYear = QDate::currentDate().year();
    const auto yearOf = [&](int twoDigits) {
        const QString text = QStringLiteral("01.01.%1").arg(twoDigits, 2, 10, QLatin1Char('0'));
        return DateTimeToQDateTime(StrToDate(text, s)).date().year();
    };
    EXPECT_EQ(yearOf((thisYear - 50) % 100), thisYear - 50);
    EXPECT_EQ(yearOf((thisYear - 51) % 100), thisYear + 49);
    EXPECT_EQ(yearOf(thisYear % 100), thisYear);
    // One digit counts as two.
    EXPECT_EQ(DateTimeToQDateTime(StrToDate(QStringLiteral("1.1.5"), s)).date().year() % 100, 5);
}

TEST(SysUtils, StrToTimeAndStrToDateTime)
{
    const TFormatSettings s = Russian();
    const struct
    {
        QString Text;
        std::optional<TDateTime> Expected;
    } times[] = {
        {QStringLiteral("7:08"), EncodeTime(7, 8, 0, 0)},
        {QStringLiteral("07:08:09"), EncodeTime(7, 8, 9, 0)},
        {QStringLiteral("07:08:09,045"), EncodeTime(7, 8, 9, 45)},
        {QStringLiteral("7"), EncodeTime(7, 0, 0, 0)},
        {QStringLiteral(" 7 : 08 "), EncodeTime(7, 8, 0, 0)},
        {QStringLiteral("7:08 pm"), EncodeTime(19, 8, 0, 0)},
        {QStringLiteral("PM 7:08"), EncodeTime(19, 8, 0, 0)},
        {QStringLiteral("12:00 AM"), EncodeTime(0, 0, 0, 0)},
        {QStringLiteral("12:00 PM"), EncodeTime(12, 0, 0, 0)},
        {QStringLiteral("13:00 PM"), std::nullopt},
        {QStringLiteral("0:00 AM"), std::nullopt},
        {QStringLiteral("24:00"), std::nullopt},
        {QStringLiteral("7:60"), std::nullopt},
        {QStringLiteral("7:"), std::nullopt},
        {QStringLiteral("7:08 x"), std::nullopt},
    };
    for (const auto& c : times) {
        const auto parsed = TryStrToDateTime(c.Text, s); // a lone time is a date-time on day 0
        ASSERT_EQ(parsed.has_value(), c.Expected.has_value()) << c.Text.toStdString();
        if (parsed) {
            EXPECT_NEAR(*parsed, *c.Expected, 1e-12) << c.Text.toStdString();
        }
    }
    EXPECT_NEAR(StrToTime(QStringLiteral("19:08"), s), EncodeTime(19, 8, 0, 0), 1e-12);

    EXPECT_NEAR(StrToDateTime(QStringLiteral("05.03.2024 7:08:09"), s), EncodeDate(2024, 3, 5) + EncodeTime(7, 8, 9, 0),
                1e-9);
    EXPECT_EQ(StrToDateTime(QStringLiteral("05.03.2024"), s), EncodeDate(2024, 3, 5));
    EXPECT_EQ(StrToDateTime(QStringLiteral("29.12.1899 06:00"), s), -1.25);
    EXPECT_FALSE(TryStrToDateTime(QStringLiteral("05.03.2024 x"), s));
    EXPECT_FALSE(TryStrToDateTime(QStringLiteral("05.03.2024 25:00"), s));

    // What DateTimeToStr writes comes back.
    for (const TDateTime value : {EncodeDate(2024, 3, 5) + EncodeTime(23, 59, 59, 0), EncodeDate(1999, 12, 31),
                                  EncodeDate(1850, 6, 1) - EncodeTime(12, 0, 1, 0)})
        EXPECT_NEAR(StrToDateTime(DateTimeToStr(value, s), s), value, 1e-9) << DateTimeToStr(value, s).toStdString();
}

TEST(SysUtils, DateErrorMessagesQuoteTheText)
{
    const TFormatSettings s = Russian();
    EXPECT_EQ(ConvertErrorOf([&] { StrToDate(QStringLiteral("31.02.2024"), s); }),
              QStringLiteral("'31.02.2024' is not a valid date"));
    EXPECT_EQ(ConvertErrorOf([&] { StrToTime(QStringLiteral("25:00"), s); }),
              QStringLiteral("'25:00' is not a valid time"));
    EXPECT_EQ(ConvertErrorOf([&] { StrToDateTime(QStringLiteral("вчера"), s); }),
              QStringLiteral("'вчера' is not a valid date and time"));
}

TEST(SysUtils, FloatToStrGeneralFormat)
{
    const TFormatSettings s = Russian();
    const struct
    {
        double Value;
        const char* Expected;
    } cases[] = {
        {0.0, "0"},
        {-0.0, "0"},
        {1.5, "1,5"},
        {-1.5, "-1,5"},
        {100.0, "100"},
        {0.1 + 0.2, "0,3"},
        {1.0 / 3.0, "0,333333333333333"},
        {2.0 / 3.0, "0,666666666666667"},
        {123456789012345.0, "123456789012345"},
        {999999999999999.9, "1E15"}, // rounds to 16 integer digits
        {1e15, "1E15"},
        {1.5e20, "1,5E20"},
        {-1.23456789012345678e17, "-1,23456789012346E17"},
        {0.0001, "0,0001"},
        {0.00001, "1E-5"},
        {1.23e-7, "1,23E-7"},
        {std::numeric_limits<double>::max(), "1,79769313486232E308"},
        {std::nan(""), "NAN"},
        {std::numeric_limits<double>::infinity(), "INF"},
        {-std::numeric_limits<double>::infinity(), "-INF"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FloatToStr(c.Value, s), QString::fromUtf8(c.Expected)) << c.Expected;
}

TEST(SysUtils, StrToFloat)
{
    const TFormatSettings s = Russian();
    const struct
    {
        const char* Text;
        std::optional<double> Expected;
    } cases[] = {
        {"1,5", 1.5},
        {"1.5", 1.5}, // the point is always welcome
        {" -2,5e3 ", -2500.0},
        {"+,5", 0.5},
        {"5,", 5.0},
        {"1E-2", 0.01},
        {"007", 7.0},
        {"", std::nullopt},
        {",", std::nullopt},
        {"-", std::nullopt},
        {"1,2,3", std::nullopt},
        {"1 000", std::nullopt},
        {"1e", std::nullopt},
        {"1e400", std::nullopt},
        {"0x10", std::nullopt},
        {"abc", std::nullopt},
        {"1,5.0", std::nullopt},
        {"INF", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TryStrToFloat(QString::fromUtf8(c.Text), s), c.Expected) << c.Text;
    EXPECT_EQ(ConvertErrorOf([&] { StrToFloat(QStringLiteral("1,2,3"), s); }),
              QStringLiteral("'1,2,3' is not a valid floating point value"));

    for (const double value : {123.456, -0.001, 1e-7, 1.5e20, 4.94065645841247e-324, 987654321098765.0})
        EXPECT_EQ(StrToFloat(FloatToStr(value, s), s), value) << value;
}

TEST(SysUtils, StrToIntSignsHexAndRanges)
{
    const struct
    {
        const char* Text;
        std::optional<int64_t> Int64;
        std::optional<int32_t> Int32;
    } cases[] = {
        {"42", 42, 42},
        {" -42 ", -42, -42},
        {"+7", 7, 7},
        {"$FF", 255, 255},
        {"0x1f", 31, 31},
        {"-$10", -16, -16},
        {"$FFFFFFFF", 4294967295, -1}, // hex wraps at the width
        {"$FFFFFFFFFFFFFFFF", -1, std::nullopt},
        {"2147483647", 2147483647, 2147483647},
        {"-2147483648", -2147483648LL, std::numeric_limits<int32_t>::min()},
        {"2147483648", 2147483648LL, std::nullopt},
        {"9223372036854775807", std::numeric_limits<int64_t>::max(), std::nullopt},
        {"-9223372036854775808", std::numeric_limits<int64_t>::min(), std::nullopt},
        {"9223372036854775808", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"1.5", std::nullopt, std::nullopt},
        {"12a", std::nullopt, std::nullopt},
        {"$", std::nullopt, std::nullopt},
        {"$G", std::nullopt, std::nullopt},
        {"--1", std::nullopt, std::nullopt},
        {"1 2", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        const QString text = QString::fromUtf8(c.Text);
        EXPECT_EQ(TryStrToInt64(text), c.Int64) << c.Text;
        if (c.Int32) {
            EXPECT_EQ(StrToInt(text), *c.Int32) << c.Text;
        } else {
            EXPECT_EQ(ConvertErrorOf([&] { StrToInt(text); }),
                      QStringLiteral("'%1' is not a valid integer value").arg(text));
        }
    }
    EXPECT_EQ(StrToInt64(QStringLiteral("-5")), -5);
    EXPECT_THROW(StrToInt64(QStringLiteral("x")), EConvertError);
    EXPECT_EQ(IntToStr(std::numeric_limits<int64_t>::min()), QStringLiteral("-9223372036854775808"));
}

TEST(SysUtils, FormatFloatPatterns)
{
    const TFormatSettings s = Russian();
    const struct
    {
        const char* Pattern;
        double Value;
        const char* Expected;
    } cases[] = {
        {"0.00", 1234.5, "1234,50"},
        {"0.00", 1e-20, "0,00"},
        {"#,##0.00", 1234567.891, "1 234 567,89"},
        {"#,##0.00", -1234.5, "-1 234,50"},
        {"#,##0", 999.5, "1 000"},
        {"#,##0", 5, "5"},
        {"#,#", 1234567, "1 234 567"},
        {"0,000", 5, "0 005"},
        {"0.###", 1.5, "1,5"},
        {"0.###", 2, "2"},
        {"0.0#", 2, "2,0"},
        {"#", 0, ""},
        {"#.##", 0.5, ",5"},
        {".00", 12.5, "12,50"},
        {"000", 7, "007"},
        {"#0#", 5, "05"},
        {"0", 123456, "123456"},
        {"00-00", 1234, "12-34"},
        // Half away from zero, on the digits the user sees.
        {"#", 0.5, "1"},
        {"0", 2.5, "3"},
        {"0", -0.5, "-1"},
        {"0.00", 2.675, "2,68"},
        {"0.00", 1.005, "1,01"},
        {"0.0", -0.04, "0,0"}, // rounds to zero: no minus
        // Scientific.
        {"0.00E+00", 12345, "1,23E+04"},
        {"0.00E-00", 12345, "1,23E04"},
        {"0.00E-00", 0.00012345, "1,23E-04"},
        {"0.00e+0", 0.00012345, "1,23e-4"},
        {"00.0E+0", 12345, "12,3E+3"},
        {"0.##E+00", 100, "1E+02"},
        {"0.00E+00", 0, "0,00E+00"},
        {"0.00E+00", -99.999, "-1,00E+02"},
        {"0E+0", 1e300, "1E+300"},
        // Sections: positive;negative;zero.
        {"0.00;(0.00)", -5, "(5,00)"},
        {"0.00;(0.00)", 5, "5,00"},
        {"0.00;(0.00);\"ноль\"", 0, "ноль"},
        {"0.00;(0.00);zero", -0.001, "zero"},
        {"0;(0)", -0.4, "0"},
        {"0;;nil", -3, "-3"},
        {";(0)", 5, "5"},
        {"", 1.5, "1,5"},
        {"0;1;2;3", 0, "2"},
        // Literal text.
        {"'#'0", 5, "#5"},
        {"\"Итого: \"0.00", 3, "Итого: 3,00"},
        {"0 'шт;'", 3, "3 шт;"},
        {"[0]", 3, "[3]"},
        // Beyond 18 integer digits only the general format is left.
        {"0", 1e18, "1E18"},
        {"0.00", std::numeric_limits<double>::infinity(), "INF"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatFloat(QString::fromUtf8(c.Pattern), c.Value, s), QString::fromUtf8(c.Expected)) << c.Pattern;

    TFormatSettings noGroups = s;
    noGroups.ThousandSeparator = QChar();
    EXPECT_EQ(FormatFloat(QStringLiteral("#,##0.00"), 1234.5, noGroups), QStringLiteral("1234,50"));
}

TEST(SysUtils, ThousandSeparatorsAreRemovedOnlyBetweenGroupsOfThree)
{
    TFormatSettings comma;
    comma.DecimalSeparator = QLatin1Char('.');
    comma.ThousandSeparator = QLatin1Char(',');
    TFormatSettings nbsp; // the Russian settings: any space groups
    TFormatSettings point;
    point.ThousandSeparator = QLatin1Char('.');
    const struct
    {
        const TFormatSettings& Settings;
        const char* Text;
        const char* Expected; // null: refused
    } cases[] = {
        {comma, "1,234,567.5", "1234567.5"},
        {comma, "-12,345", "-12345"},
        {comma, " 1,234 ", "1234"},
        {comma, "47.25", "47.25"},
        {comma, "47,25", nullptr}, // a decimal comma, not a group
        {comma, "1,5", nullptr},
        {comma, "1234,567", nullptr},
        {comma, ",123", nullptr},
        {comma, "1,234.567,8", nullptr},
        {nbsp, "1\u00A0234,5", "1234,5"},
        {nbsp, "1 234 567", "1234567"},
        {nbsp, "12 34", nullptr},
        {point, "1.234,5", "1234,5"},
        {point, "1.5", nullptr},
    };
    for (const auto& c : cases) {
        const std::optional<QString> plain = RemoveThousandSeparators(QString::fromUtf8(c.Text), c.Settings);
        if (c.Expected)
            EXPECT_EQ(plain.value_or(QStringLiteral("(refused)")), QString::fromUtf8(c.Expected)) << c.Text;
        else
            EXPECT_FALSE(plain) << c.Text << " -> " << plain->toStdString();
    }
}

TEST(SysUtils, FromLocaleTranslatesQtPatterns)
{
    const TFormatSettings ru = TFormatSettings::FromLocale(QLocale(QLocale::Russian, QLocale::Russia));
    EXPECT_EQ(ru.DecimalSeparator, QLatin1Char(','));
    EXPECT_EQ(ru.ThousandSeparator, QChar(0x00A0));
    EXPECT_EQ(ru.ShortDateFormat, QStringLiteral("dd.mm.yyyy"));
    EXPECT_EQ(ru.DateSeparator, QLatin1Char('.'));
    EXPECT_EQ(ru.ShortTimeFormat, QStringLiteral("hh:nn"));
    EXPECT_EQ(ru.LongTimeFormat, QStringLiteral("hh:nn:ss")); // the time zone is dropped
    EXPECT_EQ(ru.TimeSeparator, QLatin1Char(':'));
    EXPECT_EQ(FormatDateTime(QStringLiteral("dddddd"), Morning(), ru), QStringLiteral("вторник, 5 март 2024 г."));
    EXPECT_EQ(DateTimeToStr(Morning(), ru), QStringLiteral("05.03.2024 07:08:09"));

    const TFormatSettings us = TFormatSettings::FromLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(us.DecimalSeparator, QLatin1Char('.'));
    EXPECT_EQ(us.ThousandSeparator, QLatin1Char(','));
    EXPECT_EQ(us.ShortDateFormat, QStringLiteral("m/d/yy"));
    EXPECT_EQ(us.DateSeparator, QLatin1Char('/'));
    EXPECT_EQ(us.ShortTimeFormat, QStringLiteral("h:nn ampm"));
    EXPECT_EQ(FormatDateTime(QStringLiteral("t"), Evening(), us), QStringLiteral("7:08 PM"));
    EXPECT_EQ(FormatDateTime(QStringLiteral("dddd mmmm"), Morning(), us), QStringLiteral("Tuesday March"));
    EXPECT_EQ(StrToDateTime(QStringLiteral("3/5/24 7:08 PM"), us), Evening());
    EXPECT_EQ(FormatFloat(QStringLiteral("#,##0.00"), 1234.5, us), QStringLiteral("1,234.50"));

    // The C locale's short date names the month, which no date parser reads:
    // ISO takes its place so that dates still come back from text.
    const TFormatSettings c = TFormatSettings::FromLocale(QLocale::c());
    EXPECT_EQ(c.ShortDateFormat, QStringLiteral("yyyy-mm-dd"));
    EXPECT_EQ(c.DateSeparator, QLatin1Char('-'));
    EXPECT_EQ(StrToDateTime(DateTimeToStr(Morning(), c), c), EncodeDate(2024, 3, 5) + EncodeTime(7, 8, 9, 0));
}

TEST(SysUtils, ProcessWideSettingsAreTheDefault)
{
    const TFormatSettings saved = FormatSettings();
    FormatSettings() = Russian();
    FormatSettings().DecimalSeparator = QLatin1Char('#');
    const QString text = FloatToStr(1.5);
    const auto parsed = TryStrToFloat(QStringLiteral("2#5"));
    const QString date = DateToStr(Morning());
    FormatSettings() = saved;
    EXPECT_EQ(text, QStringLiteral("1#5"));
    EXPECT_EQ(parsed, 2.5);
    EXPECT_EQ(date, QStringLiteral("05.03.2024"));
}

} // namespace
