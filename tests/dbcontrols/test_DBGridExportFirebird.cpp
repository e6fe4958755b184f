// CSV exchange with a data set on embedded Firebird: a file written under one
// locale and read under another leaves the server with the values it had, and
// a file the import refuses leaves the table as it was.
#include "DBGridExport.h"
#include "Exceptions.h"
#include "SDSFixture.h"
#include "SysUtils.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>

namespace {

const char* const Schema = R"(
CREATE TABLE GOODS (
  SYS$ID INTEGER NOT NULL PRIMARY KEY,
  SYS$STATE INTEGER,
  NAME VARCHAR(40),
  PRICE NUMERIC(15,2),
  QTY INTEGER,
  MADE DATE);
INSERT INTO GOODS VALUES (1, 0, 'Хлеб', 45.5, 3, '2026-01-01');
INSERT INTO GOODS VALUES (2, 0, 'Молоко', 389.99, 1500, NULL);
ALTER SEQUENCE MAIN_GEN RESTART WITH 100;
)";

void UseLocale(const char* name) { FormatSettings() = TFormatSettings::FromLocale(QLocale(QString::fromLatin1(name))); }

class CSVFirebird : public TSDSFixture
{
protected:
    void SetUp() override
    {
        FSaved = FormatSettings();
        ASSERT_TRUE(FDir.isValid());
        CreateAndConnect(Schema);
    }
    void TearDown() override { FormatSettings() = FSaved; }

    // The table as the server has it now.
    std::unique_ptr<TSDS> Reopen()
    {
        auto goods = NewSDS(QStringLiteral("GOODS"));
        goods->Open();
        return goods;
    }

    QString WriteFile(const char* name, const QByteArray& bytes) const
    {
        const QString path = FDir.filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    TFormatSettings FSaved;
    QTemporaryDir FDir;
};

std::vector<TExportColumn> Columns(TDataSet& goods)
{
    std::vector<TExportColumn> columns;
    for (const char* name : {"NAME", "PRICE", "QTY", "MADE"})
        columns.push_back({goods.FieldByName(QLatin1String(name)), QLatin1String(name)});
    return columns;
}

TEST_F(CSVFirebird, RowsExportedUnderRussianLocaleReachTheServerUnchangedUnderC)
{
    UseLocale("ru_RU");
    const QString path = FDir.filePath(QStringLiteral("goods.csv"));
    {
        auto goods = Reopen();
        ExportToCSV(*goods, Columns(*goods), path);
    }
    UseLocale("C");
    {
        auto goods = Reopen();
        EXPECT_EQ(ImportFromCSV(*goods, path), 2);
    }
    // The rows as the server has them, in the order of their keys: the two
    // imported ones after the two they came from.
    auto goods = Reopen();
    std::map<int, QStringList> rows;
    for (goods->First(); !goods->Eof(); goods->Next()) {
        QStringList values;
        for (const char* name : {"NAME", "PRICE", "QTY", "MADE"})
            values << goods->FieldByName(QLatin1String(name))->AsString();
        rows[goods->FieldByName(QStringLiteral("SYS$ID"))->AsInteger()] = values;
    }
    ASSERT_EQ(rows.size(), 4u);
    auto row = rows.begin();
    const QStringList first = (row++)->second;
    const QStringList second = (row++)->second;
    EXPECT_EQ(first.mid(0, 3), QStringList({"Хлеб", "45.5", "3"}));
    EXPECT_FALSE(first[3].isEmpty());
    EXPECT_EQ((row++)->second, first);
    EXPECT_EQ(row->second, second);
    EXPECT_EQ(second.mid(0, 3), QStringList({"Молоко", "389.99", "1500"}));
}

TEST_F(CSVFirebird, ARefusedFileLeavesTheTableAsItWas)
{
    UseLocale("C");
    const struct
    {
        const char* Name;
        QByteArray Content;
        const char* Reason;
    } cases[] = {
        {"decimal comma under C", "NAME;PRICE\r\nСыр;45,50\r\n", "'45,50' is not a valid floating point value"},
        {"text longer than the column", "NAME;QTY\r\n" + QByteArray(41, 'x') + ";1\r\n",
         "значение из 41 символов длиннее поля (не больше 40)"},
        {"quote left open", "NAME;QTY\r\n\"Сыр;1\r\nМасло;2\r\n", "кавычка, открытая в этой строке, не закрыта"},
    };
    for (const auto& c : cases) {
        auto goods = Reopen();
        try {
            ImportFromCSV(*goods, WriteFile("bad.csv", c.Content));
            ADD_FAILURE() << c.Name << " was taken";
        } catch (const Exception& error) {
            EXPECT_TRUE(error.Message().startsWith(QStringLiteral("Строка 2 файла"))) << c.Name << ": " << error.what();
            EXPECT_TRUE(error.Message().contains(QString::fromUtf8(c.Reason))) << c.Name << ": " << error.what();
        }
        EXPECT_EQ(Reopen()->RecordCount(), 2) << c.Name;
    }
}

} // namespace
