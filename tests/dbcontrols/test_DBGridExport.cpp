// Grid services on files: CSV export of the shown rows and import into an
// open data set, round-tripping every field type, nulls and Cyrillic text.
#include "DBGridEx.h"
#include "DBGridExport.h"
#include "Exceptions.h"
#include "MemTable.h"
#include "QtPrinters.h"
#include "SysUtils.h"
#include "TempDir.h"
#include "uZip.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>

namespace {

struct TTypeColumn
{
    const char* Name;
    TFieldType Type;
    int Size;
};

const TTypeColumn TypeColumns[] = {
    {"S", ftString, 40},   {"I", ftInteger, 0}, {"SI", ftSmallint, 0}, {"L", ftLargeint, 0}, {"F", ftFloat, 0},
    {"C", ftCurrency, 0},  {"N", ftBCD, 2},     {"BO", ftBoolean, 0},  {"D", ftDate, 0},     {"T", ftTime, 0},
    {"DT", ftDateTime, 0}, {"M", ftMemo, 0},    {"BY", ftBytes, 8},    {"BL", ftBlob, 0},
};

std::unique_ptr<TCustomMemTable> MakeTypesTable()
{
    auto table = std::make_unique<TCustomMemTable>();
    table->setObjectName(QStringLiteral("Types"));
    for (const TTypeColumn& column : TypeColumns)
        table->FieldDefs().Add(QString::fromLatin1(column.Name), column.Type, column.Size);
    table->Open();
    return table;
}

// Every field of the data set, titled by its name.
std::vector<TExportColumn> GridExportColumnsOf(TDataSet& table)
{
    std::vector<TExportColumn> columns;
    for (TField* field : table.Fields())
        columns.push_back({field, field->FieldName()});
    return columns;
}

void Set(TDataSet& table, const char* name, const Variant& value)
{
    table.FieldByName(QString::fromLatin1(name))->SetValue(value);
}

class CSVTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FSaved = FormatSettings();
        FormatSettings() = TFormatSettings();
        ASSERT_TRUE(FDir.isValid());
        FSource = MakeTypesTable();
        TCustomMemTable& t = *FSource;
        t.Append(); // every type with a value
        Set(t, "S", QStringLiteral("Молоко; \"Домик\"\nв деревне"));
        Set(t, "I", -2147483647);
        Set(t, "SI", 32767);
        Set(t, "L", int64_t(9000000000000000000));
        Set(t, "F", 1234.5678901234);
        Set(t, "C", 12.3456);
        Set(t, "N", 98765.43);
        Set(t, "BO", true);
        Set(t, "D", Variant(TDateTime(46023)));
        t.FieldByName(QStringLiteral("T"))->SetAsDateTime(TDateTime(0.5 + 1.0 / 86400 * 7));
        t.FieldByName(QStringLiteral("DT"))->SetAsDateTime(TDateTime(46023.75));
        Set(t, "M", QStringLiteral("многострочный\r\nтекст"));
        t.FieldByName(QStringLiteral("BY"))->SetAsBytes(QByteArray("\x00\x01\xFE;\"\n\x7F\x80", 8));
        t.FieldByName(QStringLiteral("BL"))->SetAsBytes(QByteArray("\xD0\x9F\x00blob", 7));
        t.Post();
        t.Append(); // every type null
        t.Post();
        t.Append(); // texts that look empty
        Set(t, "S", QString());
        Set(t, "M", QStringLiteral(" пробелы "));
        Set(t, "I", 0);
        Set(t, "BO", false);
        t.Post();
        t.First();
    }
    void TearDown() override { FormatSettings() = FSaved; }

    QString FilePath(const char* name) const { return FDir.filePath(QString::fromLatin1(name)); }

    TFormatSettings FSaved;
    QTemporaryDir FDir;
    std::unique_ptr<TCustomMemTable> FSource;
};

TEST_F(CSVTest, ExportAndImportRoundTripEveryTypeWithNulls)
{
    TDataSource source;
    source.SetDataSet(FSource.get());
    TDBGridEx grid;
    grid.SetDataSource(&source);
    FSource->Next(); // the export must not move the cursor
    ExportGridToCSV(grid, FilePath("types.csv"));
    EXPECT_EQ(FSource->RecNo(), 2);

    auto copy = MakeTypesTable();
    EXPECT_EQ(ImportFromCSV(*copy, FilePath("types.csv")), 3);
    ASSERT_EQ(copy->RecordCount(), 3);
    FSource->First();
    copy->First();
    for (int row = 1; !FSource->Eof(); ++row, FSource->Next(), copy->Next()) {
        for (const TTypeColumn& column : TypeColumns) {
            const QString name = QString::fromLatin1(column.Name);
            const TField* original = FSource->FieldByName(name);
            const TField* imported = copy->FieldByName(name);
            EXPECT_EQ(imported->IsNull(), original->IsNull()) << "row " << row << ", " << column.Name;
            EXPECT_TRUE(imported->Value() == original->Value())
                << "row " << row << ", " << column.Name << ": " << imported->AsString().toStdString() << " instead of "
                << original->AsString().toStdString();
        }
    }
}

TEST_F(CSVTest, FileIsUtf8WithTitlesAndQuotesOnlyWhereNeeded)
{
    TDataSource source;
    source.SetDataSet(FSource.get());
    TDBGridEx grid;
    grid.SetDataSource(&source);
    grid.Columns()[0]->Title().SetCaption(QStringLiteral("Наименование"));
    for (int c = 2; c < grid.Columns().Count(); ++c)
        grid.Columns()[c]->SetVisible(false);
    ExportGridToCSV(grid, FilePath("two.csv"));
    QFile file(FilePath("two.csv"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    EXPECT_EQ(QString::fromUtf8(bytes.mid(3)), QStringLiteral("Наименование;I\r\n"
                                                              "\"Молоко; \"\"Домик\"\"\nв деревне\";-2147483647\r\n"
                                                              ";\r\n"
                                                              "\"\";0\r\n"));
}

TEST(CSV, ParserReadsQuotesSeparatorsLineBreaksAndNulls)
{
    const std::vector<TCSVRecord> records = ParseCSV(QStringLiteral("a;\"b;c\";;\"\"\r\n\r\n\"x\"\"\ny\";z\nlast"),
                                                     QLatin1Char(';'));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].Values, QStringList({"a", "b;c", "", ""}));
    EXPECT_EQ(records[0].Nulls, std::vector<bool>({false, false, true, false}));
    EXPECT_EQ(records[1].Values, QStringList({"x\"\ny", "z"}));
    EXPECT_EQ(records[1].Line, 3);
    EXPECT_EQ(records[2].Values, QStringList({"last"}));
    EXPECT_EQ(records[2].Line, 5);
}

TEST_F(CSVTest, ImportMatchesTitlesToFieldsAndStopsAtABadValueWithItsLine)
{
    QFile file(FilePath("goods.csv"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\xEF\xBB\xBFi;\xD0\xA2\xD0\xB5\xD0\xBA\xD1\x81\xD1\x82\r\n" // "Текст"
               "1;первая\r\n"
               "2;\"вторая\r\nстрока\"\r\n"
               "три;третья\r\n"
               "4;четвёртая\r\n");
    file.close();
    auto table = MakeTypesTable();
    table->FieldByName(QStringLiteral("S"))->SetDisplayLabel(QStringLiteral("Текст"));
    try {
        ImportFromCSV(*table, FilePath("goods.csv"));
        FAIL() << "the bad integer was taken";
    } catch (const Exception& error) {
        EXPECT_TRUE(error.Message().startsWith(QStringLiteral("Строка 5 файла"))) << error.what();
        EXPECT_TRUE(error.Message().contains(QStringLiteral("'три'"))) << error.what();
    }
    // The rows before the bad one stay; nothing half-filled is left behind.
    EXPECT_EQ(table->State(), dsBrowse);
    ASSERT_EQ(table->RecordCount(), 2);
    table->Last();
    EXPECT_EQ(table->FieldByName(QStringLiteral("S"))->AsString(), "вторая\r\nстрока");
    EXPECT_EQ(table->FieldByName(QStringLiteral("I"))->AsInteger(), 2);

    EXPECT_THROW(ImportFromCSV(*table, FilePath("missing.csv")), Exception);
    EXPECT_THROW(ExportToCSV(*table, {}, FDir.filePath(QStringLiteral("no/such/folder/x.csv"))), Exception);
}

// ---------------------------------------------------------------- locales and faults

const char* const Locales[] = {"C", "en_US", "ru_RU", "de_DE"};

void UseLocale(const char* name) { FormatSettings() = TFormatSettings::FromLocale(QLocale(QString::fromLatin1(name))); }

QString WriteFile(const QTemporaryDir& dir, const QByteArray& bytes)
{
    static int count = 0;
    const QString path = dir.filePath(QStringLiteral("in%1.csv").arg(++count));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

TEST_F(CSVTest, AFileKeepsItsValuesBetweenMachinesOfAnyLocale)
{
    for (const char* writer : Locales) {
        UseLocale(writer);
        const QString path = FDir.filePath(QStringLiteral("%1.csv").arg(QLatin1String(writer)));
        ExportToCSV(*FSource, GridExportColumnsOf(*FSource), path);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        EXPECT_TRUE(text.contains(QStringLiteral(";1234.5678901234;12.3456;98765.43;True;2026-01-01;12:00:07;"
                                                 "2026-01-01 18:00:00;")))
            << writer << ": " << text.toStdString();
        for (const char* reader : Locales) {
            UseLocale(reader);
            auto copy = MakeTypesTable();
            ASSERT_EQ(ImportFromCSV(*copy, path), 3) << writer << " -> " << reader;
            FSource->First();
            copy->First();
            for (; !FSource->Eof(); FSource->Next(), copy->Next())
                for (const TTypeColumn& column : TypeColumns) {
                    const QString name = QString::fromLatin1(column.Name);
                    EXPECT_TRUE(copy->FieldByName(name)->Value() == FSource->FieldByName(name)->Value())
                        << writer << " -> " << reader << ", row " << FSource->RecNo() << ", " << column.Name;
                }
        }
    }
}

struct TValueCase
{
    const char* Locale;
    const char* Column;
    const char* Text;
    Variant Expected;            // when no error is expected
    const char* Error = nullptr; // part of the message
};

TEST_F(CSVTest, NumbersAndDatesReadInTheExchangeFormatOrExactlyInTheLocalesOwn)
{
    const TValueCase cases[] = {
        {"C", "F", "45.5", 45.5},
        {"ru_RU", "F", "45.5", 45.5},
        {"de_DE", "C", "-389.99", TCurrency{-3899900}},
        {"C", "C", "1E3", TCurrency{10000000}},
        {"ru_RU", "D", "2020-02-01", Variant::FromDateTime(EncodeDate(2020, 2, 1))},
        {"C", "DT", "2020-02-01T10:30:00.25",
         Variant::FromDateTime(EncodeDate(2020, 2, 1) + EncodeTime(10, 30, 0, 250))},
        {"en_US", "T", "23:59", Variant::FromDateTime(EncodeTime(23, 59, 0, 0))},
        // Files written in the locale's own text before the exchange format.
        {"ru_RU", "F", "45,5", 45.5},
        {"ru_RU", "D", "01.02.2020", Variant::FromDateTime(EncodeDate(2020, 2, 1))},
        {"C", "F", "45,5", {}, "'45,5' is not a valid floating point value"},
        {"C", "N", "389,99", {}, "'389,99' is not a valid floating point value"},
        {"en_US", "I", "1,5", {}, "'1,5' is not a valid integer value"},
        {"C", "I", "1.5", {}, "'1.5' is not a valid integer value"},
        {"ru_RU", "D", "2020-02-30", {}, "not a valid date"},
    };
    for (const TValueCase& c : cases) {
        UseLocale(c.Locale);
        const QString path = WriteFile(FDir, QByteArray(c.Column) + "\r\n" + c.Text + "\r\n");
        auto table = MakeTypesTable();
        const QString what = QStringLiteral("%1 under %2").arg(QLatin1String(c.Text), QLatin1String(c.Locale));
        try {
            ImportFromCSV(*table, path);
            EXPECT_EQ(c.Error, nullptr) << what.toStdString() << " was taken";
            EXPECT_TRUE(table->FieldByName(QLatin1String(c.Column))->Value() == c.Expected)
                << what.toStdString() << ": " << table->FieldByName(QLatin1String(c.Column))->AsString().toStdString();
        } catch (const Exception& error) {
            ASSERT_NE(c.Error, nullptr) << what.toStdString() << ": " << error.what();
            EXPECT_TRUE(error.Message().startsWith(QStringLiteral("Строка 2 файла"))) << error.what();
            EXPECT_TRUE(error.Message().contains(QLatin1String(c.Error))) << error.what();
            EXPECT_EQ(table->RecordCount(), 0);
        }
    }
}

struct TFaultCase
{
    const char* Name;
    QByteArray Content;
    int Line;
    QString Reason; // part of the message
    int RowsKept = 0;
};

TEST_F(CSVTest, AFaultyFileStopsWithTheLineAndTheReasonInsteadOfLosingData)
{
    const QByteArray longText(41, 'x');
    const QByteArray hugeText(10 * 1024 * 1024, 'x');
    const TFaultCase cases[] = {
        {"unterminated quote", "S;I\r\na;1\r\n\"b;2\r\nc;3\r\n", 3,
         QStringLiteral("кавычка, открытая в этой строке, не закрыта")},
        {"text after a closing quote", "S;I\r\na;1\r\n\"b\"c;2\r\n", 3,
         QStringLiteral("после закрывающей кавычки стоит \"c\"")},
        {"header naming no field", "S;unknown\r\na;1\r\n", 1, QStringLiteral("в таблице нет поля \"unknown\"")},
        {"comma-separated header naming no field", "S,X\r\na,1\r\n", 1, QStringLiteral("нет поля \"S,X\"")},
        {"title missing", "S;;I\r\na;b;1\r\n", 1, QStringLiteral("у столбца 2 нет названия")},
        {"field named twice", "S;I;s\r\na;1;b\r\n", 1, QStringLiteral("поле \"s\" названо в заголовке дважды")},
        {"short row", "S;I;F\r\na;1;2\r\nb;2\r\n", 3, QStringLiteral("значений 2, а в заголовке столбцов 3")},
        {"long row", "S;I\r\na;1\r\nb;2;3\r\n", 3, QStringLiteral("значений 3, а в заголовке столбцов 2")},
        {"text one longer than its field", "I;S\r\n1;a\r\n2;" + longText + "\r\n", 3,
         QStringLiteral("поле \"S\": значение из 41 символов длиннее поля (не больше 40)"), 1},
        {"ten megabytes of text", "S\r\n" + hugeText + "\r\n", 2,
         QStringLiteral("значение из 10485760 символов длиннее поля")},
        {"bad hex", "BY\r\n0g\r\n", 2, QStringLiteral("не записано шестнадцатеричными цифрами")},
        {"bytes beyond the field", "BY\r\n000102030405060708\r\n", 2,
         QStringLiteral("9 байт не помещаются в поле из 8")},
    };
    for (const TFaultCase& c : cases) {
        const QString path = WriteFile(FDir, c.Content);
        auto table = MakeTypesTable();
        try {
            const int added = ImportFromCSV(*table, path);
            ADD_FAILURE() << c.Name << ": imported " << added;
        } catch (const Exception& error) {
            const QString message = error.Message();
            EXPECT_TRUE(message.startsWith(QStringLiteral("Строка %1 файла \"%2\": ").arg(c.Line).arg(path)))
                << c.Name << ": " << error.what();
            EXPECT_TRUE(message.contains(c.Reason)) << c.Name << ": " << error.what();
        }
        EXPECT_EQ(table->RecordCount(), c.RowsKept) << c.Name;
        EXPECT_EQ(table->State(), dsBrowse) << c.Name;
    }
}

TEST_F(CSVTest, LineEndsSeparatorsAndCodePagesOfOtherProgramsAreReadCorrectly)
{
    const struct
    {
        const char* Name;
        QByteArray Content;
    } cases[] = {
        {"CR LF", "S;I\r\nab;1\r\n\"c\rd\";2\r\n"}, {"LF", "S;I\nab;1\n\"c\rd\";2"},
        {"CR alone", "S;I\rab;1\r\"c\rd\";2\r"},    {"commas", "S,I\r\nab,1\r\n\"c\rd\",2\r\n"},
        {"tabs", "S\tI\nab\t1\n\"c\rd\"\t2\n"},     {"windows-1251", "S;I\r\n\xE0\xE1;1\r\n\"c\rd\";2\r\n"}, // "аб"
    };
    for (const auto& c : cases) {
        auto table = MakeTypesTable();
        ASSERT_EQ(ImportFromCSV(*table, WriteFile(FDir, c.Content)), 2) << c.Name;
        table->First();
        const QString first = table->FieldByName(QStringLiteral("S"))->AsString();
        EXPECT_TRUE(first == "ab" || first == "аб") << c.Name << ": " << first.toStdString();
        EXPECT_EQ(table->FieldByName(QStringLiteral("I"))->AsInteger(), 1) << c.Name;
        table->Next();
        EXPECT_EQ(table->FieldByName(QStringLiteral("S"))->AsString(), "c\rd") << c.Name;
        EXPECT_EQ(table->FieldByName(QStringLiteral("I"))->AsInteger(), 2) << c.Name;
    }
    // Line numbers count every kind of line end, within quotes too.
    const std::vector<TCSVRecord> records = ParseCSV(QStringLiteral("a\r\"b\rc\nd\r\ne\"\rlast\r\n"), QLatin1Char(';'));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].Values, QStringList({"b\rc\nd\r\ne"}));
    EXPECT_EQ(records[1].Line, 2);
    EXPECT_EQ(records[2].Line, 6);
}

} // namespace

// ---------------------------------------------------------------- xlsx

namespace {

// The parts of the workbook by name.
std::map<QString, QByteArray> WorkbookParts(const QString& fileName)
{
    QFile file(fileName);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    TUnZip zip;
    zip.Open(file.readAll());
    std::map<QString, QByteArray> parts;
    for (int i = 0; i < zip.Count(); ++i) {
        QString name;
        QByteArray content;
        zip.GetFile(i, name, content);
        parts[name.replace(QLatin1Char('\\'), QLatin1Char('/'))] = content;
    }
    return parts;
}

TEST_F(CSVTest, XlsxWorkbookHoldsTypedCellsTitlesAndBlankNulls)
{
    TDataSource source;
    source.SetDataSet(FSource.get());
    TDBGridEx grid;
    grid.SetDataSource(&source);
    for (int c = 0; c < grid.Columns().Count(); ++c) {
        const QString name = grid.Columns()[c]->FieldName();
        grid.Columns()[c]->SetVisible(name == "S" || name == "I" || name == "N" || name == "D" || name == "BO");
    }
    grid.Columns()[0]->Title().SetCaption(QStringLiteral("Наименование"));
    const QString file = FilePath("goods.xlsx");
    ExportGridToXLSX(grid, file);
    EXPECT_FALSE(QFile::exists(file + QStringLiteral(".part")));

    const auto parts = WorkbookParts(file);
    ASSERT_TRUE(parts.count(QStringLiteral("xl/worksheets/sheet1.xml")));
    const QString sheet = QString::fromUtf8(parts.at(QStringLiteral("xl/worksheets/sheet1.xml")));
    EXPECT_TRUE(sheet.contains(QStringLiteral("Наименование")));
    EXPECT_TRUE(sheet.contains(QStringLiteral("Молоко; \"Домик\"\nв деревне")
                                   .toHtmlEscaped()
                                   .replace(QStringLiteral("&quot;"), QStringLiteral("\""))))
        << sheet.toStdString();
    EXPECT_TRUE(sheet.contains(QStringLiteral("<v>-2147483647</v>")));
    EXPECT_TRUE(sheet.contains(QStringLiteral("<v>98765.4")));   // a double, as the workbook keeps numbers
    EXPECT_TRUE(sheet.contains(QStringLiteral("<v>46023</v>"))); // the date as the workbook counts days
    EXPECT_TRUE(sheet.contains(QStringLiteral("t=\"b\"")));
    // The all-null row has no cells at all; the next row follows it.
    EXPECT_FALSE(sheet.contains(QStringLiteral("<row r=\"3\"")));
    EXPECT_TRUE(sheet.contains(QStringLiteral("<c r=\"B4\"><v>0</v>"))) << sheet.toStdString();
    EXPECT_TRUE(
        QString::fromUtf8(parts.at(QStringLiteral("xl/workbook.xml"))).contains(QStringLiteral("name=\"Types\"")));

    EXPECT_THROW(ExportGridToXLSX(grid, FDir.filePath(QStringLiteral("no/such/folder/x.xlsx"))), Exception);
}

} // namespace
