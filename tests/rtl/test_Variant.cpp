#include "SysUtils.h"
#include "Variant.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>
#include <utility>

inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

constexpr int32_t IntMax = std::numeric_limits<int32_t>::max();
constexpr int32_t IntMin = std::numeric_limits<int32_t>::min();
constexpr int64_t Int64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t Int64Min = std::numeric_limits<int64_t>::min();

// Variants convert through the process-wide settings: pin them to a
// Russian style for the duration of each test.
class VariantTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Saved = FormatSettings();
        TFormatSettings& s = FormatSettings();
        s = TFormatSettings();
        s.DecimalSeparator = QLatin1Char(',');
        s.DateSeparator = QLatin1Char('.');
        s.TimeSeparator = QLatin1Char(':');
        s.ShortDateFormat = QStringLiteral("dd.mm.yyyy");
        s.LongTimeFormat = QStringLiteral("h:nn:ss");
    }
    void TearDown() override { FormatSettings() = Saved; }

private:
    TFormatSettings Saved;
};

QString Cannot(const char* from, const char* to)
{
    return QStringLiteral("! Could not convert variant of type (%1) into type (%2)")
        .arg(QLatin1String(from), QLatin1String(to));
}

QString OutOfRange(const char* from, const char* to)
{
    return QStringLiteral("! Range check error while converting variant of type (%1) into type (%2)")
        .arg(QLatin1String(from), QLatin1String(to));
}

const QString InvalidOperation = QStringLiteral("! Invalid variant operation");

// The result of a call as text, or "! message" for the EVariantError it raises.
template <typename F>
QString Outcome(F&& call)
{
    try {
        return call();
    } catch (const EVariantError& e) {
        return QStringLiteral("! ") + e.Message();
    }
}

QString Number(double value) { return QString::number(value, 'g', 15); }

QString Convert(const Variant& v, TVarType target)
{
    return Outcome([&] {
        switch (target) {
        case varBoolean: return v.AsBoolean() ? QStringLiteral("true") : QStringLiteral("false");
        case varInteger: return QString::number(v.AsInteger());
        case varInt64: return QString::number(v.AsInt64());
        case varDouble: return Number(v.AsDouble());
        case varCurrency: return QString::number(v.AsCurrency().Scaled);
        case varDate: return Number(v.AsDateTime());
        case varString: return v.AsString();
        case varBytes: return QString::fromLatin1(v.AsBytes().toHex());
        case varArray: return QString::number(v.AsArray().size());
        default: return QStringLiteral("?");
        }
    });
}

// The kind and the text of a value, as the failure messages show it.
QString Describe(const Variant& v)
{
    if (v.IsNull())
        return QStringLiteral("Null");
    if (v.IsArray() || v.VarType() == varBytes)
        return Variant::TypeName(v.VarType());
    return Variant::TypeName(v.VarType()) + QLatin1Char(' ') + VarToStr(v);
}

TEST_F(VariantTest, KindsOfConstructedValues)
{
    const struct
    {
        Variant Value;
        TVarType Type;
        bool Numeric;
    } cases[] = {
        {Variant(), varEmpty, false},
        {Variant::Null(), varNull, false},
        {Variant(true), varBoolean, false},
        {Variant(5), varInteger, true},
        {Variant(int64_t{5}), varInt64, true},
        {Variant(qint64{5}), varInt64, true},
        {Variant(5u), varInt64, true},
        {Variant(1.5), varDouble, true},
        {Variant(TCurrency{15000}), varCurrency, true},
        {Variant::FromDateTime(1.5), varDate, false},
        {Variant("текст"), varString, false},
        {Variant(QStringLiteral("x")), varString, false},
        {Variant(QByteArray("\x01", 1)), varBytes, false},
        {VarArrayOf({1, "a"}), varArray, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.Value.VarType(), c.Type) << Variant::TypeName(c.Type).toStdString();
        EXPECT_EQ(c.Value.IsNumeric(), c.Numeric) << Variant::TypeName(c.Type).toStdString();
    }
    EXPECT_EQ(Variant("текст").AsString(), QStringLiteral("текст"));
}

TEST_F(VariantTest, ConversionsBetweenKinds)
{
    const Variant date = Variant::FromDateTime(EncodeDate(2024, 3, 5));
    const struct
    {
        Variant Source;
        TVarType Target;
        QString Expected;
    } cases[] = {
        // Empty is zero, "" and False.
        {Variant(), varBoolean, "false"},
        {Variant(), varInteger, "0"},
        {Variant(), varDouble, "0"},
        {Variant(), varCurrency, "0"},
        {Variant(), varDate, "0"},
        {Variant(), varString, ""},
        {Variant(), varBytes, ""},
        {Variant(), varArray, Cannot("Empty", "Array")},
        // Booleans are -1/0 as numbers.
        {Variant(true), varInteger, "-1"},
        {Variant(true), varInt64, "-1"},
        {Variant(true), varDouble, "-1"},
        {Variant(true), varCurrency, "-10000"},
        {Variant(true), varString, "True"},
        {Variant(false), varString, "False"},
        {Variant(false), varInteger, "0"},
        {Variant(true), varBytes, Cannot("Boolean", "Bytes")},
        {Variant(42), varBoolean, "true"},
        {Variant(0), varBoolean, "false"},
        {Variant(42), varDouble, "42"},
        {Variant(42), varCurrency, "420000"},
        {Variant(42), varDate, "42"},
        {Variant(42), varString, "42"},
        {Variant(42), varBytes, Cannot("Integer", "Bytes")},
        {Variant(int64_t{5000000000}), varInteger, OutOfRange("Int64", "Integer")},
        {Variant(int64_t{5000000000}), varDouble, "5000000000"},
        {Variant(int64_t{5000000000}), varString, "5000000000"},
        {Variant(Int64Max), varCurrency, OutOfRange("Int64", "Currency")},
        // Doubles round half to even into integers.
        {Variant(2.5), varInteger, "2"},
        {Variant(3.5), varInteger, "4"},
        {Variant(-2.5), varInt64, "-2"},
        {Variant(2.4999), varInteger, "2"},
        {Variant(1e10), varInteger, OutOfRange("Double", "Integer")},
        {Variant(1e10), varInt64, "10000000000"},
        {Variant(1e19), varInt64, OutOfRange("Double", "Int64")},
        {Variant(std::nan("")), varInteger, OutOfRange("Double", "Integer")},
        {Variant(1.5), varString, "1,5"},
        {Variant(0.1), varBoolean, "true"},
        {Variant(1.5), varDate, "1.5"},
        // ... and half away from zero into currency, on the digits shown.
        {Variant(1.00005), varCurrency, "10001"},
        {Variant(-1.00005), varCurrency, "-10001"},
        {Variant(1e16), varCurrency, OutOfRange("Double", "Currency")},
        {Variant(TCurrency{12345}), varDouble, "1.2345"},
        {Variant(TCurrency{12345}), varString, "1,2345"},
        {Variant(TCurrency{-5000}), varString, "-0,5"},
        {Variant(TCurrency{10000}), varString, "1"},
        {Variant(TCurrency{Int64Max}), varString, "922337203685477,5807"},
        {Variant(TCurrency{25000}), varInteger, "2"},
        {Variant(TCurrency{35000}), varInteger, "4"},
        {Variant(TCurrency{-15001}), varInteger, "-2"},
        {Variant(TCurrency{1}), varBoolean, "true"},
        {Variant::FromDateTime(1.75), varDouble, "1.75"},
        {Variant::FromDateTime(1.75), varInteger, "2"},
        {Variant::FromDateTime(1.75), varString, "31.12.1899 18:00:00"},
        {date, varString, "05.03.2024"},
        // Strings are parsed.
        {Variant("12"), varInteger, "12"},
        {Variant("12"), varCurrency, "120000"},
        {Variant("12"), varBoolean, "true"},
        {Variant(" 1,5 "), varDouble, "1.5"},
        {Variant("1.5"), varDouble, "1.5"},
        {Variant("1,5"), varInteger, "2"},
        {Variant("2,5"), varInteger, "2"},
        {Variant("$FF"), varInteger, "255"},
        {Variant("9007199254740993"), varInt64, "9007199254740993"}, // not through a double
        {Variant("99999999999"), varInteger, OutOfRange("String", "Integer")},
        {Variant("true"), varBoolean, "true"},
        {Variant("FALSE"), varBoolean, "false"},
        {Variant("0"), varBoolean, "false"},
        {Variant("-1"), varBoolean, "true"},
        {Variant("True"), varInteger, "-1"},
        {Variant("05.03.2024 7:08"), varDate, Number(EncodeDate(2024, 3, 5) + EncodeTime(7, 8, 0, 0))},
        {Variant("abc"), varBoolean, Cannot("String", "Boolean")},
        {Variant("abc"), varInteger, Cannot("String", "Integer")},
        {Variant("abc"), varInt64, Cannot("String", "Int64")},
        {Variant("abc"), varDouble, Cannot("String", "Double")},
        {Variant("abc"), varCurrency, Cannot("String", "Currency")},
        {Variant("abc"), varDate, Cannot("String", "Date")},
        {Variant(""), varInteger, Cannot("String", "Integer")},
        {Variant("héllo"), varBytes, "68c3a96c6c6f"},
        {Variant("x"), varArray, Cannot("String", "Array")},
        // Bytes and arrays are only themselves.
        {Variant(QByteArray("\x01\xff", 2)), varBytes, "01ff"},
        {Variant(QByteArray("1", 1)), varString, Cannot("Bytes", "String")},
        {Variant(QByteArray("1", 1)), varInteger, Cannot("Bytes", "Integer")},
        {VarArrayOf({1, 2}), varArray, "2"},
        {VarArrayOf({1, 2}), varString, Cannot("Array", "String")},
        {VarArrayOf({1, 2}), varDouble, Cannot("Array", "Double")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Convert(c.Source, c.Target), c.Expected) << Variant::TypeName(c.Source.VarType()).toStdString()
                                                           << " -> " << Variant::TypeName(c.Target).toStdString();

    for (const TVarType target :
         {varBoolean, varInteger, varInt64, varDouble, varCurrency, varDate, varString, varBytes, varArray})
        EXPECT_EQ(Convert(Variant::Null(), target), Cannot("Null", qPrintable(Variant::TypeName(target))));

    EXPECT_EQ(VarToStr(Variant::Null()), QString());
    EXPECT_EQ(VarToStr(Variant()), QString());
    EXPECT_EQ(VarToStr(Variant(1.5)), QStringLiteral("1,5"));
}

TEST_F(VariantTest, CurrencyFromDouble)
{
    EXPECT_EQ(TCurrency::FromDouble(0.12345).Scaled, 1235);
    EXPECT_EQ(TCurrency::FromDouble(-0.12345).Scaled, -1235);
    EXPECT_EQ(TCurrency::FromDouble(123456789.1234).Scaled, 1234567891234);
    EXPECT_DOUBLE_EQ(TCurrency{-12345}.ToDouble(), -1.2345);
    EXPECT_THROW(TCurrency::FromDouble(1e15), EVariantError);
    EXPECT_THROW(TCurrency::FromDouble(std::numeric_limits<double>::infinity()), EVariantError);
}

TEST_F(VariantTest, Comparison)
{
    const Variant march5 = Variant::FromDateTime(EncodeDate(2024, 3, 5));
    const Variant nan = Variant(std::nan(""));
    const struct
    {
        Variant A, B;
        bool CaseInsensitive;
        int Expected;
        QString Error;
    } cases[] = {
        // Empty, then null, before everything; each equal only to itself.
        {Variant(), Variant(), false, 0, {}},
        {Variant(), Variant::Null(), false, -1, {}},
        {Variant::Null(), Variant::Null(), false, 0, {}},
        {Variant::Null(), Variant(0), false, -1, {}},
        {Variant(), Variant(""), false, -1, {}},
        {Variant::Null(), VarArrayOf({}), false, -1, {}},
        // Numbers by value, whatever their kinds.
        {Variant(1), Variant(1.0), false, 0, {}},
        {Variant(1), Variant(int64_t{2}), false, -1, {}},
        {Variant(int64_t{9007199254740993}), Variant(int64_t{9007199254740992}), false, 1, {}},
        {Variant(TCurrency{15000}), Variant(1.5), false, 0, {}},
        {Variant(TCurrency{10001}), Variant(1), false, 1, {}},
        {Variant(TCurrency{Int64Max}), Variant(int64_t{1000000000000000}), false, -1, {}},
        {march5, Variant(EncodeDate(2024, 3, 5)), false, 0, {}},
        {march5, Variant(45000), false, 1, {}},
        {nan, Variant(0), false, -1, {}},
        {nan, nan, false, 0, {}},
        // Two Booleans as False < True; against numbers True is -1.
        {Variant(true), Variant(false), false, 1, {}},
        {Variant(true), Variant(0), false, -1, {}},
        {Variant(true), Variant(-1), false, 0, {}},
        // Strings by text.
        {Variant("abc"), Variant("ABC"), false, 1, {}},
        {Variant("abc"), Variant("ABC"), true, 0, {}},
        {Variant("Ёж"), Variant("ёж"), true, 0, {}},
        {Variant("a"), Variant("b"), true, -1, {}},
        {Variant("abc"), Variant("abcd"), false, -1, {}},
        // A string against a number is read as the number's kind.
        {Variant(10), Variant("9"), false, 1, {}},
        {Variant("1,5"), Variant(1.5), false, 0, {}},
        {march5, Variant("05.03.2024"), false, 0, {}},
        {Variant(true), Variant("True"), false, 0, {}},
        {Variant(TCurrency{15000}), Variant("1,5"), false, 0, {}},
        {Variant("abc"), Variant(5), false, 0, Cannot("String", "Double")},
        // Bytes byte by byte, unsigned; against strings as their UTF-8.
        {Variant(QByteArray("\x01")), Variant(QByteArray("\x02")), false, -1, {}},
        {Variant(QByteArray("\xff")), Variant(QByteArray("\x01")), false, 1, {}},
        {Variant(QByteArray("abc")), Variant("abc"), false, 0, {}},
        {Variant(QByteArray("abc")), Variant(5), false, 0, InvalidOperation},
        {Variant(QByteArray("abc")), march5, false, 0, InvalidOperation},
        // Arrays element by element, the shorter first.
        {VarArrayOf({1, "a"}), VarArrayOf({1, "b"}), false, -1, {}},
        {VarArrayOf({1, "a"}), VarArrayOf({1.0, "A"}), true, 0, {}},
        {VarArrayOf({1}), VarArrayOf({1, 2}), false, -1, {}},
        {VarArrayOf({Variant::Null(), 1}), VarArrayOf({0, 1}), false, -1, {}},
        {VarArrayOf({VarArrayOf({1, 2})}), VarArrayOf({VarArrayOf({1, 3})}), false, -1, {}},
        {VarArrayOf({1}), Variant(1), false, 0, InvalidOperation},
    };
    for (const auto& c : cases) {
        const std::string label = Describe(c.A).toStdString() + " <> " + Describe(c.B).toStdString();
        if (!c.Error.isEmpty()) {
            EXPECT_EQ(Outcome([&] { return QString::number(c.A.Compare(c.B, c.CaseInsensitive)); }), c.Error) << label;
            EXPECT_EQ(Outcome([&] { return QString::number(c.B.Compare(c.A, c.CaseInsensitive)); }), c.Error) << label;
            continue;
        }
        EXPECT_EQ(c.A.Compare(c.B, c.CaseInsensitive), c.Expected) << label;
        EXPECT_EQ(c.B.Compare(c.A, c.CaseInsensitive), -c.Expected) << label << " (reversed)";
    }
}

TEST_F(VariantTest, EqualityNeverRaisesAndOrderingSorts)
{
    EXPECT_TRUE(Variant(5) == Variant(5.0));
    EXPECT_TRUE(Variant::Null() == Variant::Null());
    EXPECT_FALSE(Variant() == Variant::Null());
    EXPECT_FALSE(Variant() == Variant(0));
    EXPECT_FALSE(Variant("abc") == Variant(5));
    EXPECT_TRUE(Variant(QByteArray("a")) != Variant(5));
    EXPECT_TRUE(VarArrayOf({1, "a"}) == VarArrayOf({1.0, "a"}));

    std::vector<Variant> values{3, Variant::Null(), "2,5", Variant(), 1.5, Variant::Null()};
    std::sort(values.begin(), values.end());
    std::vector<QString> sorted;
    for (const Variant& v : values)
        sorted.push_back(Describe(v));
    EXPECT_EQ(sorted, (std::vector<QString>{"Empty ", "Null", "Null", "Double 1,5", "String 2,5", "Integer 3"}));
}

TEST_F(VariantTest, Arithmetic)
{
    const Variant march5 = Variant::FromDateTime(EncodeDate(2024, 3, 5));
    const auto apply = [](const Variant& a, char op, const Variant& b) {
        return Outcome([&] {
            switch (op) {
            case '+': return Describe(a + b);
            case '-': return Describe(a - b);
            case '*': return Describe(a * b);
            default: return Describe(a / b);
            }
        });
    };
    const struct
    {
        Variant A;
        char Op;
        Variant B;
        QString Expected;
    } cases[] = {
        // Null, or empty, with anything is null.
        {Variant::Null(), '+', 1, "Null"},
        {1, '-', Variant(), "Null"},
        {Variant::Null(), '*', "x", "Null"},
        {"x", '/', Variant::Null(), "Null"},
        // Integers stay integers while they fit.
        {1, '+', 2, "Integer 3"},
        {7, '-', 10, "Integer -3"},
        {6, '*', 7, "Integer 42"},
        {true, '+', 1, "Integer 0"},
        {IntMax, '+', 1, "Int64 2147483648"},
        {IntMin, '-', 1, "Int64 -2147483649"},
        {65536, '*', 65536, "Int64 4294967296"},
        {int64_t{1}, '+', 1, "Int64 2"},
        {Int64Max, '+', 1, "Double 9,22337203685478E18"},
        {Int64Min, '-', int64_t{1}, "Double -9,22337203685478E18"},
        {int64_t{4000000000000000000}, '*', 3, "Double 1,2E19"},
        // Strings: + of two concatenates, otherwise they are numbers.
        {"ab", '+', "cd", "String abcd"},
        {"2", '+', 3, "Double 5"},
        {"2", '*', "3", "Double 6"},
        {"2", '-', "3", "Double -1"},
        {"1,5", '+', 1, "Double 2,5"},
        {"x", '+', 1, Cannot("String", "Double")},
        // Currency stays currency with currency and integers.
        {TCurrency{15000}, '+', TCurrency{22500}, "Currency 3,75"},
        {TCurrency{15000}, '+', 2, "Currency 3,5"},
        {TCurrency{30000}, '-', 1, "Currency 2"},
        {TCurrency{15000}, '*', 3, "Currency 4,5"},
        {TCurrency{15000}, '*', TCurrency{25000}, "Currency 3,75"},
        {TCurrency{1}, '*', TCurrency{5000}, "Currency 0,0001"},
        {TCurrency{15000}, '+', 0.25, "Double 1,75"},
        {TCurrency{Int64Max}, '+', TCurrency{1}, "Double 922337203685478"},
        // A date moved by a number stays a date; dates apart are days.
        {march5, '+', 1, "Date 06.03.2024"},
        {1, '+', march5, "Date 06.03.2024"},
        {march5, '-', 0.5, "Date 04.03.2024 12:00:00"},
        {march5, '-', Variant::FromDateTime(EncodeDate(2024, 3, 1)), "Double 4"},
        {march5, '*', 0, "Double 0"},
        // Division is always a double.
        {7, '/', 2, "Double 3,5"},
        {6, '/', 3, "Double 2"},
        {TCurrency{15000}, '/', 2, "Double 0,75"},
        {1, '/', 0, "! Floating point division by zero"},
        {1.0, '/', TCurrency{0}, "! Floating point division by zero"},
        // Bytes and arrays take part in no arithmetic.
        {QByteArray("a"), '+', 1, InvalidOperation},
        {QByteArray("a"), '+', QByteArray("b"), InvalidOperation},
        {VarArrayOf({1}), '*', 2, InvalidOperation},
    };
    for (const auto& c : cases)
        EXPECT_EQ(apply(c.A, c.Op, c.B), c.Expected)
            << Describe(c.A).toStdString() << ' ' << c.Op << ' ' << Describe(c.B).toStdString();

    const struct
    {
        Variant Operand;
        QString Expected;
    } negations[] = {
        {Variant::Null(), "Null"},
        {Variant(), "Null"},
        {5, "Integer -5"},
        {IntMin, "Int64 2147483648"},
        {Int64Min, "Double 9,22337203685478E18"},
        {true, "Integer 1"},
        {1.5, "Double -1,5"},
        {TCurrency{15000}, "Currency -1,5"},
        {"2", "Double -2"},
        {Variant::FromDateTime(1.5), "Date 29.12.1899 12:00:00"},
        {QByteArray("a"), InvalidOperation},
    };
    for (const auto& c : negations)
        EXPECT_EQ(Outcome([&] { return Describe(-c.Operand); }), c.Expected) << Describe(c.Operand).toStdString();
}

TEST_F(VariantTest, ArrayAccess)
{
    Variant items = VarArrayOf({1, "a", Variant::Null()});
    EXPECT_EQ(items.ArrayHighBound(), 2);
    EXPECT_EQ(items[1].AsString(), QStringLiteral("a"));
    EXPECT_TRUE(items[2].IsNull());
    const QString outOfBounds = QStringLiteral("! Variant array index out of bounds");
    EXPECT_EQ(Outcome([&] { return Describe(items[3]); }), outOfBounds);
    EXPECT_EQ(Outcome([&] { return Describe(std::as_const(items)[-1]); }), outOfBounds);
    EXPECT_EQ(Outcome([&] { return Describe(Variant(5)[0]); }), Cannot("Integer", "Array"));
    EXPECT_EQ(Outcome([&] { return QString::number(Variant("x").ArrayHighBound()); }), Cannot("String", "Array"));
    EXPECT_EQ(Variant(std::vector<Variant>{}).ArrayHighBound(), -1);

    // Copies share their elements until one of them is written.
    Variant copy = items;
    copy[0] = 5;
    EXPECT_EQ(items[0].AsInteger(), 1);
    EXPECT_EQ(copy[0].AsInteger(), 5);
    Variant nested = VarArrayOf({VarArrayOf({1, 2})});
    Variant nestedCopy = nested;
    nestedCopy[0][1] = "changed";
    EXPECT_EQ(nested[0][1].AsInteger(), 2);
    EXPECT_EQ(nestedCopy[0][1].AsString(), QStringLiteral("changed"));
}

} // namespace
