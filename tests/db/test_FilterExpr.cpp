// The Filter property's expressions: parsing, evaluation and syntax errors.
#include "DateTime.h"
#include "Exceptions.h"
#include "FilterExpr.h"
#include "SysUtils.h"
#include "Variant.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using TRecord = std::vector<std::pair<QString, Variant>>;

// Field values looked up without case, as the data set does; an unknown name
// is a fault of the expression under test.
TFilterExpression::TFieldValue Lookup(const TRecord& record)
{
    return [&record](const QString& name) {
        for (const auto& [field, value] : record)
            if (field.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        ADD_FAILURE() << "unknown field " << name.toStdString();
        return Variant();
    };
}

// Dates and numbers in literals are read with the user's settings: pin them.
class FilterExpr : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FSaved = FormatSettings();
        FormatSettings().DecimalSeparator = QLatin1Char(',');
        FormatSettings().DateSeparator = QLatin1Char('.');
        FormatSettings().ShortDateFormat = QStringLiteral("dd.mm.yyyy");
    }
    void TearDown() override { FormatSettings() = FSaved; }

    bool Matches(const QString& text, TFilterOptions options = 0) const
    {
        return TFilterExpression::Parse(text)->Evaluate(Lookup(FRecord), options);
    }

    const TRecord FRecord{
        {QStringLiteral("NAME"), Variant(QStringLiteral("Иванов"))},
        {QStringLiteral("QTY"), Variant(5)},
        {QStringLiteral("PRICE"), Variant(12.5)},
        {QStringLiteral("DT"), Variant::FromDateTime(EncodeDate(2024, 2, 15))},
        {QStringLiteral("FLAG"), Variant(true)},
        {QStringLiteral("NOTE"), Variant::Null()},
        {QStringLiteral("Last Name"), Variant(QStringLiteral("O'Brien"))},
    };

private:
    TFormatSettings FSaved;
};

constexpr TFilterOptions CI = foCaseInsensitive;
constexpr TFilterOptions NoPartial = foNoPartialCompare;

TEST_F(FilterExpr, EvaluatesOverOneRecord)
{
    static const struct
    {
        const char* Text;
        TFilterOptions Options;
        bool Expected;
    } cases[] = {
        // Each comparison operator, either side.
        {"QTY = 5", 0, true},
        {"QTY <> 5", 0, false},
        {"QTY != 4", 0, true},
        {"QTY < 6", 0, true},
        {"QTY <= 5", 0, true},
        {"QTY > 5", 0, false},
        {"QTY >= 6", 0, false},
        {"5 = QTY", 0, true},
        {"PRICE > 12.4", 0, true},
        {"PRICE = 12.5", 0, true},
        {"QTY > -1", 0, true},
        // A string literal takes the other side's kind: as text these would
        // come out the other way ("12.5" < "9", "5" > "10", "15.02" < "16.01").
        {"PRICE > '9'", 0, true},
        {"'9' < PRICE", 0, true},
        {"QTY < '10'", 0, true},
        {"PRICE = '12,5'", 0, true},
        {"DT >= '01.02.2024'", 0, true},
        {"DT < '16.01.2024'", 0, false},
        {"DT = '15.02.2024'", 0, true},
        {"FLAG = 'True'", 0, true},
        // Booleans, bare or compared.
        {"FLAG", 0, true},
        {"NOT FLAG", 0, false},
        {"FLAG = TRUE", 0, true},
        {"FLAG = FALSE", 0, false},
        {"qty = 5 and not flag = false", 0, true},
        // Anything compared with null is false, both ways round; only IS tells.
        {"NOTE = NULL", 0, false},
        {"NOTE <> 'x'", 0, false},
        {"'x' <> NOTE", 0, false},
        {"NOT (NOTE = 'x')", 0, true},
        {"QTY = NULL", 0, false},
        {"QTY <> NULL", 0, false},
        {"NULL = NULL", 0, false},
        {"NOTE + 1 > 0", 0, false},
        {"NOTE", 0, false},
        {"NOTE IS NULL", 0, true},
        {"NOTE is not null", 0, false},
        {"QTY IS NULL", 0, false},
        {"QTY IS NOT NULL", 0, true},
        // NOT binds tighter than AND, AND tighter than OR (left-to-right
        // reading would give the opposite answer in each).
        {"QTY = 5 OR QTY = 1 AND PRICE < 0", 0, true},
        {"NOT QTY = 1 AND PRICE < 0", 0, false},
        {"NOT QTY = 5 OR FLAG", 0, true},
        {"(QTY = 5 OR QTY = 1) AND PRICE < 0", 0, false},
        {"NOT (QTY = 1 OR QTY = 2)", 0, true},
        {"((QTY = 5))", 0, true},
        // Arithmetic.
        {"QTY + 1 * 2 = 7", 0, true},
        {"(QTY + 1) * 2 = 12", 0, true},
        {"PRICE / 2 = 6.25", 0, true},
        {"QTY - -1 = 6", 0, true},
        {"-QTY = -5", 0, true},
        {"- -QTY = 5", 0, true},
        {"- - -QTY = -5", 0, true},
        {"+-+QTY = -5", 0, true},
        {"- -FLAG = -1", 0, true}, // a negated Boolean is a number: -(-TRUE) is -1
        {"- - -FLAG = 1", 0, true},
        {"NOT NOT FLAG", 0, true},
        {"NOT NOT NOT FLAG", 0, false},
        {"NOT NOT NOTE", 0, false},
        {"QTY - 1 - 1 * 2 / 4 - 1 = 2.5", 0, true},
        {"FLAG AND QTY = 5 AND NOTE IS NULL", 0, true},
        {"FLAG AND QTY = 4 AND NOTE IS NULL", 0, false},
        {"QTY = 1 OR QTY = 2 OR QTY = 5", 0, true},
        {"QTY = 1 OR QTY = 2 OR QTY = 3", 0, false},
        {"NAME + '!' = 'Иванов!'", 0, true},
        // Partial compare by a trailing '*', unless turned off.
        {"NAME = 'Ива*'", 0, true},
        {"NAME = 'Ива*'", NoPartial, false},
        {"'Ива*' = NAME", 0, true},
        {"NAME <> 'Ива*'", 0, false},
        {"NAME <> 'Ива*'", NoPartial, true},
        {"NAME = 'Иванов*'", 0, true},
        {"NAME = 'Иванова*'", 0, false},
        {"NAME = '*'", 0, true},
        {"NOTE = '*'", 0, false},
        {"NAME = 'ива*'", 0, false},
        {"NAME = 'ива*'", CI, true},
        {"PRICE = '12*'", 0, true}, // by the value's text
        {"NAME > 'Ив*'", 0, true},  // only = and <> match by prefix
        // Case.
        {"NAME = 'ИВАНОВ'", 0, false},
        {"NAME = 'ИВАНОВ'", CI, true},
        {"NAME < 'иванов'", 0, true},
        {"NAME < 'иванов'", CI, false},
        // Quoted field names and quotes in literals.
        {"[Last Name] = 'O''Brien'", 0, true},
        {"\"Last Name\" = 'O''Brien'", 0, true},
        {"[Last Name] = 'O''Brien*'", NoPartial, false},
        {"[Last Name] = 'O''Br*'", 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Text << " options " << int(c.Options));
        EXPECT_EQ(Matches(QString::fromUtf8(c.Text), c.Options), c.Expected);
    }
}

TEST_F(FilterExpr, ParsesOnceForManyRecords)
{
    const auto expression = TFilterExpression::Parse(QStringLiteral("QTY > 2 AND NAME = 'A*' OR NOTE IS NOT NULL"));
    const TRecord records[] = {
        {{"QTY", Variant(3)}, {"NAME", Variant("Abc")}, {"NOTE", Variant::Null()}},
        {{"QTY", Variant(1)}, {"NAME", Variant("Abc")}, {"NOTE", Variant::Null()}},
        {{"QTY", Variant(3)}, {"NAME", Variant("Bcd")}, {"NOTE", Variant::Null()}},
        {{"QTY", Variant::Null()}, {"NAME", Variant("Bcd")}, {"NOTE", Variant("n")}},
        {{"QTY", Variant()}, {"NAME", Variant::Null()}, {"NOTE", Variant()}},
    };
    const bool expected[] = {true, false, false, true, false};
    for (size_t i = 0; i < std::size(records); ++i)
        EXPECT_EQ(expression->Evaluate(Lookup(records[i]), 0), expected[i]) << "record " << i;
}

TEST_F(FilterExpr, BlankTextPassesEveryRecord)
{
    const auto expression = TFilterExpression::Parse(QStringLiteral("  \t"));
    EXPECT_TRUE(expression->Evaluate(Lookup(FRecord), 0));
    EXPECT_TRUE(expression->FieldNames().isEmpty());
}

TEST_F(FilterExpr, FailedConversionsReachTheCaller)
{
    // Well-formed, so they parse; the record's kinds only show on evaluation.
    for (const char* text : {"QTY = 'abc'", "DT >= '2024-99-99'", "PRICE > 'x' OR FLAG"}) {
        SCOPED_TRACE(text);
        const auto expression = TFilterExpression::Parse(QString::fromUtf8(text));
        EXPECT_THROW(expression->Evaluate(Lookup(FRecord), 0), Exception);
    }
}

TEST(FilterExprSyntax, ErrorsNameTheTokenAndPosition)
{
    static const struct
    {
        const char* Text;
        const char* Message;
    } cases[] = {
        {"NAME = 'abc", "Missing right quote at position 8"},
        {"\"Last Name = 1", "Missing right quote at position 1"},
        {"[Last Name = 1", "Missing right bracket at position 1"},
        {"[ ] = 1", "Field name expected at position 1"},
        {"QTY # 5", "Invalid character '#' at position 5"},
        {"QTY = ", "Filter expression incorrectly terminated: operand expected at position 7"},
        {"QTY = 5 AND", "Filter expression incorrectly terminated: operand expected at position 12"},
        {"(QTY = 5", "Filter expression incorrectly terminated: ')' expected at position 9"},
        {"QTY = (1 + 2 FLAG", "')' expected near 'FLAG' at position 14"},
        {"QTY = 5)", "Unmatched ')' at position 8"},
        {"QTY 5", "Operator expected near '5' at position 5"},
        {"NAME = 'a' 'b'", "Operator expected near ''b'' at position 12"},
        {"QTY = AND", "Operand expected near 'AND' at position 7"},
        {"QTY = 1 OR OR FLAG", "Operand expected near 'OR' at position 12"},
        {"QTY = * 2", "Operand expected near '*' at position 7"},
        {"QTY = 5 = 6", "Unexpected '=' at position 9"},
        {"QTY = 5 FLAG", "Operator expected near 'FLAG' at position 9"},
        {"QTY IS 5", "NULL expected near '5' at position 8"},
        {"QTY IS NOT", "Filter expression incorrectly terminated: NULL expected at position 11"},
        // A value where a condition belongs: the comparison is missing.
        {"QTY + 1", "Filter expression incorrectly terminated: comparison operator expected at position 8"},
        {"5 AND FLAG", "Comparison operator expected near 'AND' at position 3"},
        {"FLAG OR 'x'", "Filter expression incorrectly terminated: comparison operator expected at position 12"},
        {"NOT NULL", "Filter expression incorrectly terminated: comparison operator expected at position 9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        try {
            TFilterExpression::Parse(QString::fromUtf8(c.Text));
            ADD_FAILURE() << "parsed";
        } catch (const EDatabaseError& e) {
            EXPECT_EQ(e.Message().toStdString(), c.Message);
        }
    }
}

// Texts that once exhausted the stack in the parser, the evaluation or the
// tree's destruction: long flat chains work, deep parentheses are refused.
TEST_F(FilterExpr, LongChainsEvaluate)
{
    constexpr int kTerms = 100000;
    const auto repeated = [](const char* unit, int count) { return QString::fromLatin1(unit).repeated(count); };
    static const struct
    {
        QString Text;
        bool Expected;
    } cases[] = {
        {QStringLiteral("QTY + ") + repeated("1 + ", kTerms) + QStringLiteral("0 = 100005"), true},
        {QStringLiteral("QTY = 5") + repeated(" * 1", kTerms), true},
        {QStringLiteral("QTY = ") + repeated("-", kTerms) + QStringLiteral("5"), true},
        {QStringLiteral("QTY = ") + repeated("- ", kTerms + 1) + QStringLiteral("5"), false},
        {repeated("-", kTerms + 1) + QStringLiteral("QTY = -5"), true},
        {repeated("NOT ", kTerms) + QStringLiteral("FLAG"), true},
        {repeated("NOT ", kTerms + 1) + QStringLiteral("FLAG"), false},
        {repeated("FLAG AND ", kTerms) + QStringLiteral("QTY = 5"), true},
        {repeated("QTY = 1 OR ", kTerms) + QStringLiteral("FLAG"), true},
        {repeated("(", 255) + QStringLiteral("QTY = 5") + repeated(")", 255), true},
        {repeated("NOT (", 255) + QStringLiteral("FLAG") + repeated(")", 255), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text.left(40).toStdString());
        EXPECT_EQ(Matches(c.Text), c.Expected);
    }
}

TEST(FilterExprSyntax, DeepParenthesesAreRefusedWhereTheyGoTooDeep)
{
    const auto nested = [](const char* open, int depth) {
        return QString::fromLatin1(open).repeated(depth) + QStringLiteral("X = 1") + QString(depth, u')');
    };
    static const struct
    {
        QString Text;
        const char* Message;
    } cases[] = {
        {nested("(", 256), "Parentheses nested too deeply at position 256"},
        {nested("(", 10000), "Parentheses nested too deeply at position 256"},
        {nested("-(", 10000), "Parentheses nested too deeply at position 512"},
        {nested("NOT (", 10000), "Parentheses nested too deeply at position 1280"},
        {QStringLiteral("X = 1 AND ") + nested("(", 300), "Parentheses nested too deeply at position 266"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Message);
        try {
            TFilterExpression::Parse(c.Text);
            ADD_FAILURE() << "parsed";
        } catch (const EDatabaseError& e) {
            EXPECT_EQ(e.Message().toStdString(), c.Message);
        }
    }
}

TEST(FilterExprFieldNames, EachOnceInOrderOfAppearance)
{
    const auto expression = TFilterExpression::Parse(
        QStringLiteral("A.B = 1 AND (RDB$X > 2 OR [Last Name] IS NULL) AND a.b < \"Last Name\" AND _x + 1 = 2"));
    EXPECT_EQ(expression->FieldNames(), QStringList({"A.B", "RDB$X", "Last Name", "_x"}));
    EXPECT_TRUE(
        TFilterExpression::Parse(QStringLiteral("'x' = 'x' AND TRUE AND NULL IS NULL"))->FieldNames().isEmpty());
}

} // namespace
