#include "Infix.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

constexpr long double kPi = 3.14159265358979323846264338327950288L;
constexpr long double kE = 2.71828182845904523536028747135266250L;
// Partial values that the case does not pin down.
constexpr long double kAny = std::numeric_limits<long double>::quiet_NaN();
const char* const kGarbage = "<garbage>";

struct TCase
{
    const char* Text;
    long double Value;
    const char* Message; // nullptr: no error; else the text between "Error:  " and "."
    qsizetype Position;
};

QString ExpectedMessage(const char* message)
{
    if (message == kGarbage)
        return QStringLiteral("Error:  expression followed by garbage");
    return QStringLiteral("Error:  ") + QString::fromUtf8(message) + u'.';
}

// Tight enough to tell extended precision from double.
::testing::AssertionResult Near(long double actual, long double expected)
{
    if (expected == 0 ? actual == 0 : std::fabs(actual - expected) <= std::fabs(expected) * 1e-17L)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "value " << actual << ", expected " << expected;
}

void Check(const TCase& c)
{
    SCOPED_TRACE(c.Text);
    qsizetype position = -1;
    const long double value = Evaluate(QString::fromUtf8(c.Text), position);
    EXPECT_EQ(position, c.Position);
    if (!std::isnan(c.Value)) {
        EXPECT_TRUE(Near(value, c.Value));
    }
    if (c.Message) {
        EXPECT_EQ(LastErrorMessage(), ExpectedMessage(c.Message));
    }
}

const char* const kFactorExpected = R"x(function, unsigned number, or "(" expected)x";
const char* const kSimpleExpected = "end of expression encountered where simple expression expected";
const char* const kTooBig = "constant is too big";
const char* const kNonnumeric = "nonnumeric exponent encountered";

const TCase kCases[] = {
    // Precedence, unary sign and blanks.
    {"1+2*3", 7, nullptr, 0},
    {"(1+2)*3", 9, nullptr, 0},
    {"-2*3", -6, nullptr, 0},
    {"-2-3", -5, nullptr, 0},
    {"10-4-3", 3, nullptr, 0},
    {"8/4/2", 1, nullptr, 0},
    {"+4/2", 2, nullptr, 0},
    {" ( 1 + 2 ) * 3 ", 9, nullptr, 0},
    {"- 2 * 3", -6, nullptr, 0},
    {"-(2+3)*2", -10, nullptr, 0},
    {"2*(3-(4-5))", 8, nullptr, 0},
    {"2*sqrt(9)+abs(-1)", 7, nullptr, 0},
    {"9223372036854775807-9223372036854775806", 1, nullptr, 0}, // needs a 64-bit mantissa
    {"2*-3", kAny, kFactorExpected, 3},
    {"--2", kAny, kFactorExpected, 2},
    {"2*\t3", kAny, kFactorExpected, 3}, // only the space is a blank

    // Number reading.
    {"0.125", 0.125L, nullptr, 0},
    {"1.5e2", 150, nullptr, 0},
    {"25E-1", 2.5L, nullptr, 0},
    {"1e+2", 100, nullptr, 0},
    {"007", 7, nullptr, 0},
    {"9999999999999999999999999999999999999", 9999999999999999999999999999999999999.0L, nullptr, 0},
    {"10000000000000000000000000000000000000", 1e37L, nullptr, 0},
    {"1.", 1, "end of expression encountered where decimal part expected", 3},
    {"1.x", kAny, "decimal part of real number is missing", 3},
    {"1.e5", kAny, "decimal part of real number is missing", 3},
    {".5", kAny, kFactorExpected, 1},
    {"1e", kAny, "end of expression encountered where exponent expected", 3},
    {"1e+", kAny, "end of expression encountered where exponent magnitude expected", 4},
    {"1e-x", kAny, kNonnumeric, 4},
    {"1ex", kAny, kNonnumeric, 3},
    {"1e 2", kAny, kNonnumeric, 3},
    {"1e38", kAny, "magnitude of exponent is too large", 5},
    {"1e-38", kAny, "magnitude of exponent is too large", 6},
    {"9e37", kAny, kTooBig, 5},
    {"20000000000000000000000000000000000000", kAny, kTooBig, 38},
    {"1e99999999999999999999999999999999999999", kAny, kTooBig, 40},

    // The magnitude window of literals.
    {"1e37", 1e37L, nullptr, 0},
    {"10e36", 1e37L, nullptr, 0},
    {"1e-37", 1e-37L, nullptr, 0},
    {"0.5e-37", 0, nullptr, 0},
    {"0.00001e-33", 0, nullptr, 0},

    // The window of arithmetic; a refused operation leaves its left operand.
    {"9e36+1e36", 1e37L, nullptr, 0},
    {"9e36+2e36", 9e36L, "overflow detected during addition", 10},
    // A result exactly at the limit passes, however its operands were rounded.
    {"5e36+5e36", 1e37L, nullptr, 0},
    {"3e36+7e36", 1e37L, nullptr, 0},
    {"0.4e36+9.6e36", 1e37L, nullptr, 0},
    {"-5e36+(0-5e36)", -1e37L, nullptr, 0},
    {"-5e36-5e36", -1e37L, nullptr, 0},
    {"5e36-(0-5e36)", 1e37L, nullptr, 0},
    {"1e37+0", 1e37L, nullptr, 0},
    {"1e37+1e21", 1e37L, "overflow detected during addition", 10},
    {"-1e37-1e21", -1e37L, "overflow detected during subtraction", 11},
    {"1e37+1e37", 1e37L, "overflow detected during addition", 10},
    {"-1e37+(0-1e37)", -1e37L, "overflow detected during addition", 15},
    {"-1e37-1e37", -1e37L, "overflow detected during subtraction", 11},
    {"1e37-(0-1e37)", 1e37L, "overflow detected during subtraction", 14},
    {"1e20*1e17", 1e37L, nullptr, 0},
    {"1e20*1e18", 1e20L, "overflow detected during multiplication", 10},
    {"1e-20*1e-17", 1e-37L, nullptr, 0},
    {"1e-20*1e-18", 0, nullptr, 0},
    {"1e20/1e-17", 1e37L, nullptr, 0},
    {"1e20/1e-18", 1e20L, "overflow detected during division", 11},
    {"1e-20/1e18", 0, nullptr, 0},
    {"0/5", 0, nullptr, 0},
    {"6/0", 6, "division by zero attempted", 4},
    {"6/(1-1)", 6, "division by zero attempted", 8},

    // Where the text ends too early, and what is left over.
    {"", 0, kSimpleExpected, 1},
    {"   ", 0, kSimpleExpected, 4},
    {"(", kAny, kSimpleExpected, 2},
    {"2*(", kAny, kSimpleExpected, 4},
    {"-", kAny, "end of expression encountered where term was expected", 2},
    {"2*3+", 6, "end of expression encountered where term was expected", 5},
    {"2*", 2, "end of expression encountered where factor expected", 3},
    {"(1", kAny, R"x(end of expression encountered where ")" was expected)x", 3},
    {"(1 2)", kAny, R"x(expression not followed by ")")x", 4},
    {"2 3", 2, kGarbage, 3},
    {"1)", 1, kGarbage, 2},
    {"1+2 x", 3, kGarbage, 5},

    // Functions.
    {"sqrt(16)", 4, nullptr, 0},
    {"SqRt( 2.25 )", 1.5L, nullptr, 0},
    {"SQRT(-1)", kAny, R"x(argument to "SQRT" is negative)x", 9},
    {"abs(-3)", 3, nullptr, 0},
    {"arctan(1)*4", kPi, nullptr, 0},
    {"cos(0)", 1, nullptr, 0},
    {"cos(pi)", -1, nullptr, 0},
    {"sin(pi/2)", 1, nullptr, 0},
    {"sin(1e19)", 0, nullptr, 0},
    {"cos(-1e19)", 0, nullptr, 0},
    {"exp(1)", kE, nullptr, 0},
    {"exp(85)", 8.2230127146229135101e36L, nullptr, 0},
    {"exp(86)", kAny, R"x(overflow detected while calculating "EXP")x", 8},
    {"exp(-85)", 1.2160992992528255644e-37L, nullptr, 0},
    {"exp(-86)", 0, nullptr, 0},
    {"ln(exp(2))", 2, nullptr, 0},
    {"ln(0)", kAny, R"x(argument to "LN" is other than positive)x", 6},
    {"ln(-1)", kAny, R"x(argument to "LN" is other than positive)x", 7},
    {"pi", kPi, nullptr, 0},
    {"Pi * 2", 2 * kPi, nullptr, 0},
    {"pi(1)", kAny, R"x(extraneous argument supplied to function "PI")x", 6},
    {"pi()", kAny, kFactorExpected, 4},
    {"sqr(3)", 9, nullptr, 0},
    {"sqr(0)", 0, nullptr, 0},
    {"sqr(-3e18)", 9e36L, nullptr, 0},
    {"sqr(4e18)", kAny, R"x(overflow detected during calculation of "SQR")x", 10},
    {"sqr(1e20)", kAny, R"x(overflow detected during calculation of "SQR")x", 10},
    {"sqr(1e-20)", 0, nullptr, 0},
    {"sin", kAny, R"x(argument to "SIN" is missing)x", 4},
    {"sin2", kAny, R"x(argument to "SIN" is missing)x", 4}, // digits end a name
    {"abs(1,2)", kAny, R"x(extraneous argument supplied to function "ABS")x", 9},
    {"foo(1)", kAny, R"x(the function "FOO" is unrecognized)x", 7},
    {"Foo", kAny, R"x(the function "FOO" is unrecognized)x", 4},
    {"sqrt(4", kAny, R"x(")" to terminate function arguments is missing)x", 7},
    {"sqrt(4 5)", kAny, "comma missing from function arguments", 8},
    {"sqrt(", kAny, kSimpleExpected, 6},
    {"exp(ln(0))", kAny, R"x(argument to "LN" is other than positive)x", 10},
};

TEST(Infix, EvaluatesOrReportsTheFirstError)
{
    for (const TCase& c : kCases)
        Check(c);
}

TEST(Infix, SuccessKeepsTheLastErrorMessage)
{
    qsizetype position = -1;
    Evaluate(QStringLiteral("1/0"), position);
    EXPECT_EQ(Evaluate(QStringLiteral("1+1"), position), 2);
    EXPECT_EQ(position, 0);
    EXPECT_EQ(LastErrorMessage(), QStringLiteral("Error:  division by zero attempted."));
}

// Nothing is cut at 255 characters: a longer text is evaluated whole and an
// error past the 255th character keeps its true position.
TEST(Infix, LongTextsAreEvaluatedWhole)
{
    const QString ones = QStringLiteral("1+").repeated(149) + u'1';
    ASSERT_EQ(ones.size(), 299);
    Check({ones.toUtf8().constData(), 150, nullptr, 0});

    const QString endsAt255 = QStringLiteral("1+").repeated(126) + QStringLiteral("11+");
    ASSERT_EQ(endsAt255.size(), 255);
    Check({endsAt255.toUtf8().constData(), 137, "end of expression encountered where term was expected", 256});

    const QString garbageAt300 = u'1' + QString(298, u' ') + u'x';
    Check({garbageAt300.toUtf8().constData(), 1, kGarbage, 300});

    // Chains are read in a loop, whatever their length.
    Check({(QStringLiteral("1+").repeated(99999) + u'1').toUtf8().constData(), 100000, nullptr, 0});
    Check({(QStringLiteral("2") + QStringLiteral("*1").repeated(99999)).toUtf8().constData(), 2, nullptr, 0});
}

TEST(Infix, NestingStopsAt255Parentheses)
{
    const auto nested = [](const QString& open, int depth) {
        return open.repeated(depth) + u'1' + QString(depth, u')');
    };
    const char* const tooDeep = "parentheses are nested too deeply";
    Check({nested(QStringLiteral("("), 255).toUtf8().constData(), 1, nullptr, 0});
    Check({nested(QStringLiteral("("), 256).toUtf8().constData(), kAny, tooDeep, 256});
    Check({nested(QStringLiteral("abs("), 255).toUtf8().constData(), 1, nullptr, 0});
    Check({nested(QStringLiteral("abs("), 100000).toUtf8().constData(), kAny, tooDeep, 1024});
}

TEST(Infix, LongMessagesAreCutTo255Characters)
{
    const QString name(300, u'a');
    qsizetype position = -1;
    Evaluate(name + QStringLiteral("(1)"), position);
    EXPECT_EQ(position, 304);
    const QString expected = QStringLiteral("Error:  the function \"") + QString(300, u'A');
    EXPECT_EQ(LastErrorMessage(), expected.left(255));
}

TEST(Infix, OnlyAsciiLettersMakeNames)
{
    qsizetype position = -1;
    Evaluate(QStringLiteral("sinй(1)"), position);
    EXPECT_EQ(position, 4);
    EXPECT_EQ(LastErrorMessage(), QStringLiteral("Error:  argument to \"SIN\" is missing."));
}

TEST(InfixVariables, StoreByExactNameCutTo20Characters)
{
    bool notFound = false;
    EXPECT_EQ(GetVariable(QStringLiteral("never set"), notFound), 0);
    EXPECT_TRUE(notFound);

    SetVariable(QStringLiteral("Rate"), 1.5L);
    SetVariable(QStringLiteral("Rate"), 2.25L);
    SetVariable(QStringLiteral("Other"), 7);
    notFound = true;
    EXPECT_EQ(GetVariable(QStringLiteral("Rate"), notFound), 2.25L);
    EXPECT_FALSE(notFound);
    EXPECT_EQ(GetVariable(QStringLiteral("rate"), notFound), 0);
    EXPECT_TRUE(notFound) << "names are compared with case";

    const long double third = 1.0L / 3;
    SetVariable(QStringLiteral("Результат 12345678901 long"), third);
    EXPECT_EQ(GetVariable(QStringLiteral("Результат 1234567890"), notFound), third);
    EXPECT_FALSE(notFound);
    EXPECT_EQ(GetVariable(QStringLiteral("Результат 12345678901 other"), notFound), third);
    EXPECT_FALSE(notFound) << "only the first 20 characters count";
    EXPECT_EQ(GetVariable(QStringLiteral("Результат 123456789"), notFound), 0);
    EXPECT_TRUE(notFound);
}

} // namespace
