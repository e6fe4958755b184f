// Field filters: what each kind accepts over values with nulls, the list's
// rule, the description lines, copies and the categories of fields.
#include "FilterFixture.h"

#include "SysUtils.h"
#include "uFieldFilter.h"

#include <functional>
#include <gtest/gtest.h>

using namespace filtertest;

namespace {

TDateTime Day(int year, int month, int day) { return EncodeDate(year, month, day); }

class FieldFilterTest : public ::testing::Test
{
protected:
    FieldFilterTest()
        : data({
            {1, QStringLiteral("Молоко свежее"), 10, 9.999995, Variant::FromDateTime(Day(2026, 3, 15)),
             Variant::FromDateTime(Day(2026, 3, 15) + EncodeTime(10, 30, 0, 0)), true},
            {2, QStringLiteral("хлеб"), 20, 20.000005, Variant::FromDateTime(Day(2026, 4, 1)),
             Variant::FromDateTime(Day(2026, 4, 1)), false},
            {3, Variant::Null(), Variant::Null(), 9.9999, Variant::Null(), Variant::Null(), Variant::Null()},
            {4, QStringLiteral("МОЛОКО"), 15, 15.0, Variant::FromDateTime(Day(2026, 3, 1)),
             Variant::FromDateTime(Day(2026, 3, 16)), true},
        })
    {
        FSaved = FormatSettings();
        FormatSettings() = TFormatSettings{};
    }
    ~FieldFilterTest() override { FormatSettings() = FSaved; }

    // The IDs of the rows the filter accepts, read through the cursor.
    QList<int> Accepted(const TFieldFilter& filter) const
    {
        QList<int> ids;
        for (data.Table->First(); !data.Table->Eof(); data.Table->Next())
            if (filter.Accept())
                ids << data.Field("ID")->AsInteger();
        return ids;
    }

    TTable data;

private:
    TFormatSettings FSaved;
};

TEST_F(FieldFilterTest, EveryKindAgainstValuesWithNulls)
{
    using Setup = std::function<void(TFieldFilter&)>;
    const struct
    {
        const char* what;
        const char* field;
        uint8_t kind;
        Setup setup;
        QList<int> accepted;
    } cases[] = {
        {"substring, Cyrillic upper-cased",
         "NAME",
         fkSubstring,
         [](auto& f) { f.Value = QStringLiteral("молоко"); },
         {1, 4}},
        {"substring of another case", "NAME", fkSubstring, [](auto& f) { f.Value = QStringLiteral("ХЛЕБ"); }, {2}},
        {"exact", "NAME", fkExact, [](auto& f) { f.Value = QStringLiteral("молоко"); }, {4}},
        {"exact empty matches the null", "NAME", fkExact, [](auto& f) { f.Value = QString(); }, {3}},
        {"value list",
         "NAME",
         fkValueList,
         [](auto& f) {
             f.Strings = {QStringLiteral("Хлеб"), QStringLiteral("молоко")};
         },
         {2, 4}},
        {"substrings",
         "NAME",
         fkSubstrings,
         [](auto& f) {
             f.Strings = {QStringLiteral("свеж"), QStringLiteral("ЛЕБ")};
         },
         {1, 2}},
        {"number range with tolerance",
         "PRICE",
         fkNumberRange,
         [](auto& f) {
             f.NumberFrom = 10;
             f.NumberTo = 20;
         },
         {1, 2, 4}},
        {"number range: an empty field counts as 0",
         "QTY",
         fkNumberRange,
         [](auto& f) {
             f.NumberFrom = 0;
             f.NumberTo = 12;
         },
         {1, 3}},
        {"number list with tolerance",
         "PRICE",
         fkNumberList,
         [](auto& f) {
             f.Numbers = {15.000009, 20};
         },
         {2, 4}},
        {"number list outside tolerance", "PRICE", fkNumberList, [](auto& f) { f.Numbers = {15.00002}; }, {}},
        {"date range inclusive",
         "DT",
         fkDateRange,
         [](auto& f) {
             f.DateFrom = Day(2026, 3, 1);
             f.DateTo = Day(2026, 3, 15);
         },
         {1, 4}},
        {"date list exact",
         "DT",
         fkDateList,
         [](auto& f) {
             f.Dates = {Day(2026, 4, 1), Day(2026, 1, 1)};
         },
         {2}},
        {"date-time range of one day",
         "STAMP",
         fkDateRange,
         [](auto& f) {
             f.DateFrom = Day(2026, 3, 15);
             f.DateTo = Day(2026, 3, 15) + EncodeTime(23, 59, 59, 0);
         },
         {1}},
        {"date-time list needs the time too",
         "STAMP",
         fkDateList,
         [](auto& f) {
             f.Dates = {Day(2026, 3, 15), Day(2026, 4, 1)};
         },
         {2}},
        {"Boolean yes", "FLAG", fkBoolean, [](auto& f) { f.BoolValue = 1; }, {1, 4}},
        {"Boolean no", "FLAG", fkBoolean, [](auto& f) { f.BoolValue = 0; }, {2}},
        {"Boolean not set", "FLAG", fkBoolean, [](auto& f) { f.BoolValue = -1; }, {3}},
        {"marks without a marker", "NAME", fkMarks, [](auto&) {}, {}},
        {"unknown kind", "NAME", 42, [](auto&) {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TFieldFilter filter(data.Field(c.field), c.kind);
        c.setup(filter);
        EXPECT_EQ(Accepted(filter), c.accepted);
    }
}

TEST_F(FieldFilterTest, TheListNeedsEveryFilterAndThroughTheRecordFilter)
{
    TFieldFilters& filters = data.Source.Filters();
    EXPECT_TRUE(FiltersAccept(filters, nullptr)) << "an empty list accepts all";
    filters.push_back(std::make_unique<TFieldFilter>(data.Field("NAME"), fkSubstring));
    filters.back()->Value = QStringLiteral("молоко");
    filters.push_back(std::make_unique<TFieldFilter>(data.Field("PRICE"), fkNumberRange));
    filters.back()->NumberFrom = 12;
    filters.back()->NumberTo = 100;
    data.Source.SetFilterActive(true);
    EXPECT_EQ(data.Ids(), QList<int>({4}));

    // A value changed in place is seen at the next filtering.
    filters.front()->Value = QStringLiteral("хлеб");
    data.Source.SetFilterActive(true);
    EXPECT_EQ(data.Ids(), QList<int>({2}));

    data.Source.ClearFilters();
    EXPECT_TRUE(filters.empty());
    EXPECT_FALSE(data.Table->Filtered());
    EXPECT_EQ(data.Ids().size(), 4);
}

TEST_F(FieldFilterTest, DescriptionLines)
{
    data.Field("NAME")->SetDisplayLabel(QStringLiteral("Наименование"));
    using Setup = std::function<void(TFieldFilter&)>;
    const struct
    {
        const char* field;
        uint8_t kind;
        Setup setup;
        QString line;
    } cases[] = {
        {"NAME", fkSubstring, [](auto& f) { f.Value = QStringLiteral("мол"); },
         QStringLiteral("\"Наименование\"   СОДЕРЖИТ   'мол'")},
        {"NAME", fkExact, [](auto& f) { f.Value = QStringLiteral("Хлеб"); },
         QStringLiteral("\"Наименование\"   =   'Хлеб'")},
        {"NAME", fkValueList,
         [](auto& f) {
             f.Strings = {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
         },
         QStringLiteral("\"Наименование\"   ОДИН ИЗ   'a', 'b', 'c'")},
        {"PRICE", fkNumberList,
         [](auto& f) {
             f.Numbers = {1.5, 20};
         },
         QStringLiteral("\"PRICE\"   ОДИН ИЗ   '1,5', '20'")},
        {"DT", fkDateList, [](auto& f) { f.Dates = {Day(2026, 3, 15)}; },
         QStringLiteral("\"DT\"   ОДИН ИЗ   '15.03.2026'")},
        {"PRICE", fkNumberRange,
         [](auto& f) {
             f.NumberFrom = -1.5;
             f.NumberTo = 1e20;
         },
         QStringLiteral("-1,5 <= \"PRICE\" <= 1E20")},
        {"PRICE", fkNumberRange,
         [](auto& f) {
             f.NumberFrom = 0.1 + 0.2;
             f.NumberTo = 1.0 / 3;
         },
         QStringLiteral("0,3 <= \"PRICE\" <= 0,333333333333333")},
        {"DT", fkDateRange,
         [](auto& f) {
             f.DateFrom = Day(2026, 3, 1);
             f.DateTo = Day(2026, 3, 15);
         },
         QStringLiteral("\"DT\"   С   '01.03.2026'   ПО   '15.03.2026'")},
        {"STAMP", fkDateRange,
         [](auto& f) {
             f.DateFrom = Day(2026, 3, 1) + 0.5;
             f.DateTo = Day(2026, 3, 2) + 0.75;
         },
         QStringLiteral("\"STAMP\"   С   '01.03.2026'   ПО   '02.03.2026'")},
        {"FLAG", fkBoolean, [](auto& f) { f.BoolValue = 1; }, QStringLiteral("\"FLAG\"= Да")},
        {"FLAG", fkBoolean, [](auto& f) { f.BoolValue = 0; }, QStringLiteral("\"FLAG\"= Нет")},
        {"FLAG", fkBoolean, [](auto& f) { f.BoolValue = -1; }, QStringLiteral("\"FLAG\"= ?")},
        {"NAME", fkSubstrings,
         [](auto& f) {
             f.Strings = {QStringLiteral("x"), QStringLiteral("y")};
         },
         QStringLiteral("\"Наименование\"СОДЕРЖИТ ОДНУ ИЗ СТРОК 'x', 'y'")},
    };
    for (const auto& c : cases) {
        TFieldFilter filter(data.Field(c.field), c.kind);
        c.setup(filter);
        EXPECT_EQ(filter.Description(), c.line);
    }
}

TEST_F(FieldFilterTest, CopyTakesTheConditionButNotTheMarksFlag)
{
    TFieldFilter original(data.Field("NAME"), fkValueList);
    original.Value = QStringLiteral("v");
    original.Strings = {QStringLiteral("a")};
    original.Numbers = {1};
    original.Dates = {2};
    original.NumberFrom = 3;
    original.NumberTo = 4;
    original.DateFrom = 5;
    original.DateTo = 6;
    original.BoolValue = 1;
    original.Unmarked = 1;
    TFieldFilter copy(original);
    original.Strings << QStringLiteral("b");
    original.Numbers.push_back(9);
    EXPECT_EQ(copy.Field, original.Field);
    EXPECT_EQ(copy.Kind, fkValueList);
    EXPECT_EQ(copy.Value, QStringLiteral("v"));
    EXPECT_EQ(copy.Strings, QStringList({QStringLiteral("a")}));
    EXPECT_EQ(copy.Numbers, std::vector<double>({1}));
    EXPECT_EQ(copy.Dates, std::vector<TDateTime>({2}));
    EXPECT_EQ(copy.NumberFrom, 3);
    EXPECT_EQ(copy.NumberTo, 4);
    EXPECT_EQ(copy.DateFrom, 5);
    EXPECT_EQ(copy.DateTo, 6);
    EXPECT_EQ(copy.BoolValue, 1);
    EXPECT_EQ(copy.Unmarked, 0);
}

TEST(FieldCategories, ByFieldType)
{
    const struct
    {
        TFieldType type;
        TFieldCategory category;
        const char* text;
    } cases[] = {
        {ftString, fcString, "строка"},
        {ftMemo, fcString, "строка"},
        {ftSmallint, fcInteger, "целое"},
        {ftInteger, fcInteger, "целое"},
        {ftAutoInc, fcInteger, "целое"},
        {ftFloat, fcFloat, "дробное"},
        {ftCurrency, fcFloat, "дробное"},
        {ftBCD, fcFloat, "дробное"},
        {ftDate, fcDate, "дата"},
        {ftTime, fcDateTime, "дата"},
        {ftDateTime, fcDateTime, "дата"},
        {ftBoolean, fcBoolean, "логическое"},
        {ftWord, fcOther, ""},
        {ftLargeint, fcOther, ""},
        {ftBlob, fcOther, ""},
    };
    for (const auto& c : cases) {
        const std::unique_ptr<TField> field = CreateField(c.type);
        EXPECT_EQ(FieldCategory(*field), c.category) << FieldTypeName(c.type).toStdString();
        EXPECT_EQ(FieldCategoryText(c.category), QString::fromUtf8(c.text));
    }
}

} // namespace
