// Fields: conversions of the stored value, typed views and their access
// errors, display and edit text, the field list and the field factory.
#include "DataSetFixture.h"
#include "Exceptions.h"
#include "SysUtils.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <map>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

// Fixed separators and formats, whatever the machine's locale.
class TFixedFormats
{
public:
    TFixedFormats() : FSaved(FormatSettings())
    {
        TFormatSettings& s = FormatSettings();
        s.DecimalSeparator = QLatin1Char(',');
        s.ThousandSeparator = QLatin1Char(' ');
        s.DateSeparator = QLatin1Char('.');
        s.TimeSeparator = QLatin1Char(':');
        s.ShortDateFormat = QStringLiteral("dd.mm.yyyy");
        s.ShortTimeFormat = QStringLiteral("hh:nn");
        s.LongTimeFormat = QStringLiteral("hh:nn:ss");
    }
    ~TFixedFormats() { FormatSettings() = FSaved; }

private:
    TFormatSettings FSaved;
};

Variant Date(double value) { return Variant::FromDateTime(value); }

// --- Normalize: what each field type stores for a given variant

struct TNormalizeCase
{
    TFieldType Type;
    int Size;
    Variant Input;
    Variant Expected;            // when no error is expected
    const char* Error = nullptr; // part of the EConvertError message
};

class FieldNormalize : public ::testing::Test
{
protected:
    TFixedFormats FFormats;
};

TEST_F(FieldNormalize, ConvertsToTheStoredTypeOrRaises)
{
    const Variant null = Variant::Null();
    const QByteArray utf8 = QStringLiteral("Привет").toUtf8();
    const TNormalizeCase cases[] = {
        {ftString, 5, Variant("abcdefg"), Variant("abcde")},
        {ftString, 5, Variant(12), Variant("12")},
        {ftString, 5, Variant(QByteArray("xyz")), Variant("xyz")},
        {ftString, 5, Variant(), null},
        {ftMemo, 0, Variant(utf8), Variant(QStringLiteral("Привет"))},

        {ftSmallint, 0, Variant(" 42 "), Variant(42)},
        {ftSmallint,
         0,
         Variant(32768),
         {},
         "32768 is not a valid value for field 'V'. The allowed range is -32768 to 32767"},
        {ftSmallint, 0, Variant("4x"), {}, "'4x' is not a valid integer value"},
        {ftWord, 0, Variant(-1), {}, "-1 is not a valid value for field 'V'. The allowed range is 0 to 65535"},
        {ftWord, 0, Variant(65535), Variant(65535)},
        {ftInteger, 0, Variant(2.5), Variant(2)},
        {ftInteger, 0, Variant(3.5), Variant(4)},
        {ftInteger, 0, Variant(TCurrency{25000}), Variant(2)},
        {ftInteger, 0, Variant(true), Variant(1)},
        {ftInteger, 0, Variant(int64_t(5000000000)), {}, "The allowed range is -2147483648 to 2147483647"},
        {ftInteger, 0, null, null},
        {ftInteger, 0, VarArrayOf({1, 2}), {}, "Could not convert variant of type (Array) into type (Integer)"},
        {ftAutoInc, 0, Variant(""), null},
        {ftLargeint, 0, Variant("9223372036854775807"), Variant(std::numeric_limits<int64_t>::max())},
        {ftLargeint, 0, Variant(1e19), {}, "is not a valid integer value"},

        {ftFloat, 0, Variant("1,5"), Variant(1.5)},
        {ftFloat, 0, Variant(" 1.5 "), Variant(1.5)},
        {ftFloat, 0, Variant(TCurrency{12345}), Variant(1.2345)},
        {ftFloat, 0, Variant("abc"), {}, "'abc' is not a valid floating point value"},
        {ftFloat, 0, Variant(true), {}, "Could not convert variant of type (Boolean) into type (Float)"},

        // Currency text is read exactly, rounding half away from zero at the fourth decimal.
        {ftCurrency, 0, Variant("1234567890123,45678"), Variant(TCurrency{12345678901234568})},
        {ftCurrency, 0, Variant("-0,00005"), Variant(TCurrency{-1})},
        {ftCurrency, 0, Variant(2.5), Variant(TCurrency{25000})},
        {ftCurrency, 0, Variant(int64_t(1000000000000000)), {}, "is not a valid value for field 'V'"},
        {ftCurrency, 0, Variant("1e3"), Variant(TCurrency{10000000})},

        // BCD keeps Size decimals of the value as it reads.
        {ftBCD, 2, Variant(2.675), Variant(2.68)},
        {ftBCD, 2, Variant(-2.675), Variant(-2.68)},
        {ftBCD, 2, Variant(0.125), Variant(0.13)},
        {ftBCD, 2, Variant(1.005), Variant(1.01)},
        {ftBCD, 2, Variant(-0.285), Variant(-0.29)},
        {ftBCD, 0, Variant(2.5), Variant(3.0)},
        {ftBCD, 2, Variant("0,004"), Variant(0.0)},
        {ftBCD, 2, Variant(1e17), {}, "is not a valid value for field 'V'"},

        {ftBoolean, 0, Variant("t"), Variant(true)},
        {ftBoolean, 0, Variant("FALSE"), Variant(false)},
        {ftBoolean, 0, Variant("1"), Variant(true)},
        {ftBoolean, 0, Variant(0), Variant(false)},
        {ftBoolean, 0, Variant("maybe"), {}, "'maybe' is not a valid boolean value"},
        {ftBoolean, 0, Variant(2.0), {}, "into type (Boolean)"},

        {ftDate, 0, Date(45000.75), Date(45000)},
        {ftDate, 0, Variant(-1.5), Date(-1)},
        {ftTime, 0, Date(45000.75), Date(0.75)},
        {ftTime, 0, Date(-1.25), Date(0.25)},
        {ftDateTime, 0, Variant(45000.5000000001), Date(45000.5)},
        {ftDateTime, 0, Variant("01.02.2020 10:30"), Date(EncodeDate(2020, 2, 1) + EncodeTime(10, 30, 0, 0))},
        {ftDate, 0, Variant("31.02.2020"), {}, "'31.02.2020' is not a valid date"},
        {ftDate, 0, Variant(3e6), {}, "is not a valid date"},
        {ftTime, 0, Variant(true), {}, "into type (Time)"},

        {ftBytes, 4, Variant("ab"), Variant(QByteArray("ab\0\0", 4))},
        {ftBytes, 4, Variant(QByteArray("abcdef")), Variant(QByteArray("abcd"))},
        {ftBytes, 4, Variant(5), {}, "Could not convert variant of type (Integer) into type (Bytes)"},
        {ftBlob, 0, Variant(QStringLiteral("\u00e9")), Variant(QByteArray("\xE9"))},
    };
    for (const TNormalizeCase& c : cases) {
        std::unique_ptr<TField> field = CreateField(c.Type);
        field->SetFieldName(QStringLiteral("V"));
        field->SetSize(c.Size);
        const QString input = c.Input.VarType() == varBytes ? QString::fromLatin1(c.Input.AsBytes().toHex())
                              : c.Input.IsArray()           ? QStringLiteral("array")
                                                            : VarToStr(c.Input);
        const QString where = FieldTypeName(c.Type) + QStringLiteral(" <- ") + input;
        SCOPED_TRACE(where.toStdString());
        if (c.Error) {
            try {
                field->Normalize(c.Input);
                ADD_FAILURE() << "no error";
            } catch (const EConvertError& e) {
                EXPECT_TRUE(e.Message().contains(QLatin1String(c.Error))) << e.Message().toStdString();
            }
            continue;
        }
        const Variant result = field->Normalize(c.Input);
        EXPECT_EQ(result.VarType(), c.Expected.VarType());
        EXPECT_TRUE(result == c.Expected) << VarToStr(result).toStdString();
    }
}

// --- Typed views on a live record

class FieldAccess : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TFieldDefs& defs = FTable.FieldDefs();
        defs.Add(QStringLiteral("S"), ftString, 10);
        defs.Add(QStringLiteral("FLAG"), ftString, 1);
        defs.Add(QStringLiteral("SI"), ftSmallint);
        defs.Add(QStringLiteral("I"), ftInteger);
        defs.Add(QStringLiteral("L"), ftLargeint);
        defs.Add(QStringLiteral("F"), ftFloat);
        defs.Add(QStringLiteral("C"), ftCurrency);
        defs.Add(QStringLiteral("BO"), ftBoolean);
        defs.Add(QStringLiteral("D"), ftDate);
        defs.Add(QStringLiteral("T"), ftTime);
        defs.Add(QStringLiteral("DT"), ftDateTime);
        defs.Add(QStringLiteral("BY"), ftBytes, 4);
        defs.Add(QStringLiteral("BL"), ftBlob);
        defs.Add(QStringLiteral("M"), ftMemo);
        FTable.setObjectName(QStringLiteral("All"));
        FTable.Open();
        FTable.Append();
    }

    TField* F(const char* name) { return FTable.FieldByName(QLatin1String(name)); }

    TFixedFormats FFormats;
    TCustomMemTable FTable;
};

TEST_F(FieldAccess, NullReadsAsTheEmptyValueOfEachView)
{
    for (TField* field : FTable.Fields()) {
        SCOPED_TRACE(field->FieldName().toStdString());
        EXPECT_TRUE(field->IsNull());
        EXPECT_EQ(field->AsString(), QString());
        if (field->DataType() != ftBlob) {
            EXPECT_EQ(field->Text(), QString());
        }
    }
    EXPECT_EQ(F("I")->AsInteger(), 0);
    EXPECT_EQ(F("S")->AsInteger(), 0);
    EXPECT_EQ(F("F")->AsFloat(), 0.0);
    EXPECT_EQ(F("C")->AsCurrency(), TCurrency{});
    EXPECT_FALSE(F("BO")->AsBoolean());
    EXPECT_EQ(F("D")->AsDateTime(), 0.0);
    EXPECT_TRUE(F("BY")->AsBytes().isEmpty());
}

TEST_F(FieldAccess, ViewsAFieldTypeHasNoneOfRaiseAccessErrors)
{
    using TUse = std::function<void(TField*)>;
    const std::map<QString, std::pair<TUse, TUse>> views = {
        {"Integer", {[](TField* f) { f->AsInteger(); }, [](TField* f) { f->SetAsInteger(1); }}},
        {"LargeInt", {[](TField* f) { f->AsLargeInt(); }, [](TField* f) { f->SetAsLargeInt(1); }}},
        {"Float", {[](TField* f) { f->AsFloat(); }, [](TField* f) { f->SetAsFloat(1); }}},
        {"Currency", {[](TField* f) { f->AsCurrency(); }, [](TField* f) { f->SetAsCurrency(TCurrency{10000}); }}},
        {"Boolean", {[](TField* f) { f->AsBoolean(); }, [](TField* f) { f->SetAsBoolean(true); }}},
        {"DateTime", {[](TField* f) { f->AsDateTime(); }, [](TField* f) { f->SetAsDateTime(1); }}},
        {"Bytes", {[](TField* f) { f->AsBytes(); }, [](TField* f) { f->SetAsBytes("1"); }}},
    };
    // Numbers convert among themselves, dates with floats, Booleans with
    // integers, bytes only with text; strings with everything.
    const std::pair<const char*, QStringList> denied[] = {
        {"S", {}},
        {"I", {"DateTime", "Bytes"}},
        {"L", {"DateTime", "Bytes"}},
        {"F", {"Boolean", "Bytes"}},
        {"C", {"Boolean", "Bytes"}},
        {"BO", {"Float", "Currency", "DateTime", "Bytes"}},
        {"D", {"Integer", "LargeInt", "Boolean", "Bytes"}},
        {"BY", {"Integer", "LargeInt", "Float", "Currency", "Boolean", "DateTime"}},
        {"BL", {"Integer", "LargeInt", "Float", "Currency", "Boolean", "DateTime"}},
        {"M", {"Integer", "LargeInt", "Float", "Currency", "Boolean", "DateTime"}},
    };
    for (const auto& [name, deniedViews] : denied) {
        TField* field = F(name);
        for (const auto& [view, use] : views) {
            SCOPED_TRACE((QLatin1String(name) + QStringLiteral(" as ") + view).toStdString());
            if (!deniedViews.contains(view)) {
                field->Clear();
                EXPECT_NO_THROW(use.first(field));
                EXPECT_NO_THROW(use.second(field));
                continue;
            }
            const QString message =
                QStringLiteral("Field '%1' cannot be accessed as type %2").arg(QLatin1String(name), view);
            for (const TUse& access : {use.first, use.second}) {
                try {
                    access(field);
                    ADD_FAILURE() << "no access error";
                } catch (const EDatabaseError& e) {
                    EXPECT_EQ(e.Message(), message);
                }
            }
        }
    }
}

TEST_F(FieldAccess, NumbersConvertWithRoundingAndRangeChecks)
{
    TField* i = F("I");
    i->SetAsFloat(2.5);
    EXPECT_EQ(i->AsInteger(), 2) << "half to even";
    i->SetAsFloat(3.5);
    EXPECT_EQ(i->AsInteger(), 4);
    i->SetAsString(QStringLiteral("-7"));
    EXPECT_EQ(i->AsFloat(), -7.0);
    EXPECT_EQ(i->AsCurrency(), TCurrency{-70000});
    i->SetAsBoolean(true);
    EXPECT_EQ(i->AsInteger(), 1);
    EXPECT_TRUE(i->AsBoolean());
    i->SetAsString(QString());
    EXPECT_TRUE(i->IsNull()) << "empty text clears a number";

    TField* si = F("SI");
    si->SetAsInteger(5);
    EXPECT_THROW(si->SetAsInteger(40000), EConvertError);
    EXPECT_EQ(si->AsInteger(), 5) << "a refused value leaves the old one";

    TField* l = F("L");
    l->SetAsLargeInt(5000000000);
    EXPECT_EQ(l->AsString(), QStringLiteral("5000000000"));
    EXPECT_EQ(l->AsFloat(), 5e9);
    try {
        l->AsInteger();
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("'5000000000' is not a valid integer value"));
    }

    TField* f = F("F");
    f->SetAsFloat(2.5);
    EXPECT_EQ(f->AsInteger(), 2);
    EXPECT_EQ(f->AsString(), QStringLiteral("2,5"));
    f->SetAsDateTime(45000.25);
    EXPECT_EQ(f->AsFloat(), 45000.25);
    EXPECT_EQ(f->AsDateTime(), 45000.25);
    f->SetAsCurrency(TCurrency{12345});
    EXPECT_EQ(f->AsFloat(), 1.2345);

    // Currency keeps every digit, where a double would not.
    TField* c = F("C");
    c->SetAsString(QStringLiteral("123456789012,3456"));
    EXPECT_EQ(c->AsCurrency(), TCurrency{1234567890123456});
    EXPECT_EQ(c->AsString(), QStringLiteral("123456789012,3456"));
    EXPECT_EQ(c->AsLargeInt(), 123456789012);
    EXPECT_THROW(c->AsInteger(), EConvertError);
    c->SetAsFloat(0.1 + 0.2);
    EXPECT_EQ(c->AsCurrency(), TCurrency{3000});
}

TEST_F(FieldAccess, TextBooleanDateAndBinaryConversions)
{
    TField* s = F("S");
    s->SetAsString(QStringLiteral("abcdefghijkl"));
    EXPECT_EQ(s->AsString(), QStringLiteral("abcdefghij")) << "cut to the size";
    s->SetAsString(QStringLiteral(" 12 "));
    EXPECT_EQ(s->AsInteger(), 12);
    s->SetAsString(QStringLiteral("1x"));
    try {
        s->AsInteger();
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("'1x' is not a valid integer value"));
    }
    EXPECT_THROW(s->AsFloat(), EConvertError);
    s->SetAsString(QStringLiteral("1,5"));
    EXPECT_EQ(s->AsFloat(), 1.5);
    s->SetAsString(QStringLiteral("01.02.2020"));
    EXPECT_EQ(s->AsDateTime(), EncodeDate(2020, 2, 1));
    s->SetAsString(QStringLiteral("yes"));
    EXPECT_TRUE(s->AsBoolean());
    s->SetAsString(QStringLiteral("no"));
    EXPECT_FALSE(s->AsBoolean());
    s->SetAsString(QString());
    EXPECT_FALSE(s->IsNull()) << "empty text is a string's value";

    // A one-character flag column keeps the initial of True/False.
    TField* flag = F("FLAG");
    flag->SetAsBoolean(true);
    EXPECT_EQ(flag->AsString(), QStringLiteral("T"));
    EXPECT_TRUE(flag->AsBoolean());

    TField* bo = F("BO");
    bo->SetAsString(QStringLiteral("f"));
    EXPECT_FALSE(bo->AsBoolean());
    EXPECT_EQ(bo->AsString(), QStringLiteral("False"));
    bo->SetAsInteger(5);
    EXPECT_EQ(bo->AsInteger(), 1);
    EXPECT_EQ(bo->AsString(), QStringLiteral("True"));
    try {
        bo->SetAsString(QStringLiteral("x"));
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("'x' is not a valid boolean value"));
    }

    const TDateTime day = EncodeDate(2020, 2, 1);
    TField* d = F("D");
    d->SetAsDateTime(day + 0.5);
    EXPECT_EQ(d->AsDateTime(), day) << "a date field drops the time";
    EXPECT_EQ(d->AsString(), QStringLiteral("01.02.2020"));
    EXPECT_EQ(d->AsFloat(), day);
    EXPECT_THROW(d->SetAsString(QStringLiteral("29.02.2021")), EConvertError);
    EXPECT_EQ(d->AsDateTime(), day);

    TField* t = F("T");
    t->SetAsString(QStringLiteral("10:30:15"));
    EXPECT_EQ(t->AsDateTime(), EncodeTime(10, 30, 15, 0));
    EXPECT_EQ(t->AsString(), QStringLiteral("10:30:15"));

    TField* dt = F("DT");
    dt->SetAsString(QStringLiteral("01.02.2020 10:30"));
    EXPECT_EQ(dt->AsString(), QStringLiteral("01.02.2020 10:30:00"));
    dt->SetAsDateTime(day);
    EXPECT_EQ(dt->AsString(), QStringLiteral("01.02.2020")) << "no time at midnight";

    // Binary values are one character per byte as text: any bytes survive.
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    TField* bl = F("BL");
    bl->SetAsBytes(all);
    EXPECT_EQ(bl->AsString().size(), 256);
    bl->SetAsString(bl->AsString());
    EXPECT_EQ(bl->AsBytes(), all);

    TField* by = F("BY");
    by->SetAsBytes(QByteArray("\x01\xff", 2));
    EXPECT_EQ(by->AsBytes(), QByteArray("\x01\xff\0\0", 4)) << "fixed size, zero padded";

    TField* m = F("M");
    m->SetAsString(QStringLiteral("Привет"));
    EXPECT_EQ(m->AsBytes(), QStringLiteral("Привет").toUtf8());
    m->SetAsBytes(QStringLiteral("Пока").toUtf8());
    EXPECT_EQ(m->AsString(), QStringLiteral("Пока"));
}

TEST_F(FieldAccess, DisplayTextAndEditText)
{
    TField* i = F("I");
    i->SetAsInteger(1234567);
    EXPECT_EQ(i->DisplayText(), QStringLiteral("1234567"));
    i->SetDisplayFormat(QStringLiteral("#,##0"));
    EXPECT_EQ(i->DisplayText(), QStringLiteral("1 234 567"));
    EXPECT_EQ(i->Text(), QStringLiteral("1 234 567")) << "edit text falls back to the display format";
    i->SetEditFormat(QStringLiteral("0"));
    EXPECT_EQ(i->Text(), QStringLiteral("1234567"));
    i->SetText(QStringLiteral("1 234"));
    EXPECT_EQ(i->AsInteger(), 1234) << "text in the display format reads back";
    i->SetText(QString());
    EXPECT_TRUE(i->IsNull());

    auto* f = qobject_cast<TFloatField*>(F("F"));
    ASSERT_NE(f, nullptr);
    f->SetAsFloat(3.14159265);
    f->SetPrecision(5);
    EXPECT_EQ(f->DisplayText(), QStringLiteral("3,1416"));
    f->SetDisplayFormat(QStringLiteral("0.00"));
    EXPECT_EQ(f->DisplayText(), QStringLiteral("3,14"));
    EXPECT_EQ(f->AsString(), QStringLiteral("3,14159265")) << "formats leave AsString alone";

    TField* c = F("C");
    c->SetAsFloat(1234.5);
    EXPECT_EQ(c->DisplayText(), QStringLiteral("1 234,50"));
    EXPECT_EQ(c->Text(), QStringLiteral("1234,5"));

    TField* d = F("D");
    d->SetAsDateTime(EncodeDate(2020, 2, 1));
    d->SetDisplayFormat(QStringLiteral("yyyy-mm-dd"));
    EXPECT_EQ(d->DisplayText(), QStringLiteral("2020-02-01"));
    EXPECT_EQ(d->Text(), QStringLiteral("01.02.2020")) << "dates edit in the short format";
    d->SetEditFormat(QStringLiteral("dd/mm/yy"));
    EXPECT_EQ(d->Text(), QStringLiteral("01.02.20"));

    F("BO")->SetAsBoolean(false);
    EXPECT_EQ(F("BO")->DisplayText(), QStringLiteral("False"));

    // Grids show what kind of long value there is, not the value.
    TField* m = F("M");
    EXPECT_EQ(m->DisplayText(), QStringLiteral("(memo)"));
    m->SetAsString(QStringLiteral("long text"));
    EXPECT_EQ(m->DisplayText(), QStringLiteral("(MEMO)"));
    EXPECT_EQ(m->Text(), QStringLiteral("long text"));
    TField* bl = F("BL");
    EXPECT_EQ(bl->DisplayText(), QStringLiteral("(blob)"));
    bl->SetAsBytes("\x01");
    EXPECT_EQ(bl->DisplayText(), QStringLiteral("(BLOB)"));
    EXPECT_EQ(bl->Text(), QStringLiteral("(BLOB)"));
}

// A number text is read exactly, its decimal mark the locale's or ".", or
// refused: a group separator is taken only where the field's own text shows
// one, between groups of three digits.
TEST(FieldText, NumbersAreReadExactlyOrRefusedUnderEachLocale)
{
    const TFormatSettings saved = FormatSettings();
    const struct
    {
        const char* Locale;
        const char* Field; // I integer, F float, C currency, G float shown "#,##0.00"
        const char* Text;
        double Expected;
        const char* Error = nullptr;
    } cases[] = {
        {"C", "F", "47,25", 0, "'47,25' is not a valid floating point value"},
        {"C", "C", "47,25", 0, "'47,25' is not a valid floating point value"},
        {"C", "I", "1,5", 0, "'1,5' is not a valid integer value"},
        {"C", "I", "1,500", 0, "'1,500' is not a valid integer value"},
        {"C", "F", "47.25", 47.25},
        {"C", "C", "1,234.5", 1234.5}, // as amounts are shown
        {"C", "G", "1,234.5", 1234.5},
        {"C", "G", "12,34.5", 0, "'12,34.5' is not a valid floating point value"},
        {"en_US", "F", "389,99", 0, "'389,99' is not a valid floating point value"},
        {"en_US", "I", "15", 15},
        {"ru_RU", "F", "47,25", 47.25},
        {"ru_RU", "F", "47.25", 47.25},
        {"ru_RU", "I", "1,5", 0, "'1,5' is not a valid integer value"},
        {"ru_RU", "F", "1 234", 0, "'1 234' is not a valid floating point value"},
        {"ru_RU", "C", "1 234,5", 1234.5},
        {"ru_RU", "G", "1\u00A0234,5", 1234.5},
        {"de_DE", "F", "47,25", 47.25},
        {"de_DE", "F", "1.5", 1.5},
        {"de_DE", "I", "1.500", 0, "'1.500' is not a valid integer value"},
        {"de_DE", "C", "1.234,5", 1234.5},
        {"de_DE", "C", "1.5", 1.5},
    };
    for (const auto& c : cases) {
        FormatSettings() = TFormatSettings::FromLocale(QLocale(QString::fromLatin1(c.Locale)));
        TCustomMemTable table;
        table.FieldDefs().Add(QStringLiteral("I"), ftInteger);
        table.FieldDefs().Add(QStringLiteral("F"), ftFloat);
        table.FieldDefs().Add(QStringLiteral("C"), ftCurrency);
        table.FieldDefs().Add(QStringLiteral("G"), ftFloat);
        table.Open();
        table.FieldByName(QStringLiteral("G"))->SetDisplayFormat(QStringLiteral("#,##0.00"));
        table.Append();
        TField* field = table.FieldByName(QString::fromLatin1(c.Field));
        field->SetAsFloat(7);
        const std::string what = std::string(c.Text) + " in " + c.Field + " under " + c.Locale;
        try {
            field->SetText(QString::fromUtf8(c.Text));
            EXPECT_EQ(c.Error, nullptr) << what << " was taken as " << field->AsFloat();
            EXPECT_DOUBLE_EQ(field->AsFloat(), c.Expected) << what;
        } catch (const EConvertError& error) {
            ASSERT_NE(c.Error, nullptr) << what << ": " << error.what();
            EXPECT_EQ(error.Message(), QString::fromUtf8(c.Error)) << what;
            EXPECT_EQ(field->AsFloat(), 7) << what << ": the value is kept";
        }
    }
    FormatSettings() = saved;
}

TEST_F(FieldAccess, TextHandlersReplaceTheDefaultConversions)
{
    TField* i = F("I");
    i->SetAsInteger(7);
    QList<bool> asked;
    i->OnGetText = [&](TField* sender, QString& text, bool displayText) {
        asked << displayText;
        text = QStringLiteral("#") + QString::number(sender->AsInteger());
    };
    EXPECT_EQ(i->DisplayText(), QStringLiteral("#7"));
    EXPECT_EQ(i->Text(), QStringLiteral("#7"));
    EXPECT_EQ(asked, QList<bool>({true, false}));

    QStringList given;
    i->OnSetText = [&](TField* sender, const QString& text) {
        given << text;
        sender->SetAsInteger(text.mid(1).toInt());
    };
    i->SetText(QStringLiteral("#42"));
    EXPECT_EQ(i->AsInteger(), 42);
    i->SetText(QString());
    EXPECT_EQ(given, QStringList({"#42", ""}));
    EXPECT_FALSE(i->IsNull()) << "the handler decides what empty text means";
}

// --- The field list, the factory and binding to a data set

TEST(FieldList, FindsByNameWithoutCaseAndNamesTheDataSetWhenMissing)
{
    auto table = dbtest::MakeTable({{1, "a", 1}});
    const TFields& fields = table->Fields();
    TField* name = fields.FindField(QStringLiteral("name"));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->FieldName(), QStringLiteral("NAME"));
    EXPECT_EQ(fields.IndexOf(name), 1);
    EXPECT_EQ(name->Index(), 1);
    EXPECT_EQ(fields.FindField(QStringLiteral("NOPE")), nullptr);
    try {
        fields.FieldByName(QStringLiteral("NOPE"));
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Goods: Field 'NOPE' not found"));
    }
    TStringField loose;
    EXPECT_EQ(loose.Index(), -1);
    EXPECT_EQ(fields.IndexOf(&loose), -1);
}

TEST(FieldList, CreateFieldMakesTheClassOfEachType)
{
    TFixedFormats formats;
    const struct
    {
        TFieldType Type;
        const char* ClassName;
        int Size;
        int DisplayWidth;
    } cases[] = {
        {ftString, "TStringField", 20, 20},    {ftSmallint, "TSmallintField", 0, 6},
        {ftInteger, "TIntegerField", 0, 11},   {ftWord, "TWordField", 0, 5},
        {ftAutoInc, "TAutoIncField", 0, 11},   {ftLargeint, "TLargeintField", 0, 15},
        {ftFloat, "TFloatField", 0, 10},       {ftCurrency, "TCurrencyField", 0, 10},
        {ftBCD, "TBCDField", 4, 20},           {ftBoolean, "TBooleanField", 0, 5},
        {ftDate, "TDateField", 0, 10},         {ftTime, "TTimeField", 0, 8},
        {ftDateTime, "TDateTimeField", 0, 19}, {ftBytes, "TBytesField", 16, 10},
        {ftBlob, "TBlobField", 0, 10},         {ftMemo, "TMemoField", 0, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ClassName);
        std::unique_ptr<TField> field = CreateField(c.Type);
        EXPECT_STREQ(field->metaObject()->className(), c.ClassName);
        EXPECT_EQ(field->DataType(), c.Type);
        EXPECT_EQ(field->Size(), c.Size);
        EXPECT_EQ(field->DisplayWidth(), c.DisplayWidth);
    }
    std::unique_ptr<TField> name = CreateField(ftString);
    name->SetSize(3);
    EXPECT_EQ(name->DisplayWidth(), 3);
    name->SetDisplayWidth(30);
    EXPECT_EQ(name->DisplayWidth(), 30);
    EXPECT_TRUE(qobject_cast<TIntegerField*>(CreateField(ftAutoInc).get()));
    EXPECT_TRUE(qobject_cast<TFloatField*>(CreateField(ftCurrency).get()));
    EXPECT_THROW(CreateField(ftUnknown), EDatabaseError);
}

TEST(FieldList, PersistentFieldsBindOnlyToAClosedDataSet)
{
    TCustomMemTable table;
    table.setObjectName(QStringLiteral("T"));
    table.FieldDefs().Add(QStringLiteral("ID"), ftInteger);
    table.FieldDefs().Add(QStringLiteral("NAME"), ftString, 10);

    auto* id = new TIntegerField(&table);
    id->SetFieldName(QStringLiteral("ID"));
    try {
        id->Value();
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Field 'ID' has no dataset"));
    }
    id->SetDataSet(&table);
    EXPECT_EQ(id->DataSet(), &table);
    EXPECT_EQ(id->Index(), 0);
    try {
        id->Value();
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("T: Cannot perform this operation on a closed dataset"));
    }

    table.Open();
    EXPECT_EQ(table.FieldCount(), 1) << "persistent fields replace the default ones";
    table.Append();
    id->SetAsInteger(3);
    table.Post();
    EXPECT_EQ(id->AsInteger(), 3);

    TStringField other;
    other.SetFieldName(QStringLiteral("NAME"));
    EXPECT_THROW(other.SetDataSet(&table), EDatabaseError);
    EXPECT_THROW(id->SetDataSet(nullptr), EDatabaseError);
    EXPECT_EQ(id->DataSet(), &table);

    table.Close();
    {
        TStringField name;
        name.SetFieldName(QStringLiteral("NAME"));
        name.SetDataSet(&table);
        EXPECT_EQ(table.FieldCount(), 2);
        EXPECT_EQ(name.Index(), 1);
    }
    EXPECT_EQ(table.FieldCount(), 1) << "a destroyed field leaves the list";
    id->SetDataSet(nullptr);
    EXPECT_EQ(table.FieldCount(), 0);
    EXPECT_EQ(id->DataSet(), nullptr);
}

} // namespace
