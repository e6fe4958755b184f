// The table browser: the relations of a database, and a table opened in the
// grid with its Cyrillic texts, numbers and dates, edited and written back,
// on embedded Firebird.
#include "BrowseForm.h"

#include "DBGridEx.h"
#include "IBTestDatabase.h"
#include "QtPrinters.h"
#include "SDS.h"
#include "SDatabase.h"
#include "SysUtils.h"

#include <gtest/gtest.h>

namespace {

TEST(BrowseForm, ListsTheTablesAndShowsTheChosenOneInTheGrid)
{
    const TFormatSettings saved = FormatSettings();
    FormatSettings() = TFormatSettings();
    TIBTestDatabase testDb;
    testDb.CreateFrameworkSchema();
    testDb.ExecuteScript(QString::fromUtf8(R"(
CREATE TABLE GOODS (SYS$ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(40), PRICE NUMERIC(15,2), ARRIVED DATE);
INSERT INTO GOODS VALUES (1, 'Хлеб ржаной', 45.5, '2026-11-02');
INSERT INTO GOODS VALUES (2, 'Мёд липовый', NULL, NULL);
)"));
    TSDatabase database;
    database.SetDatabaseName(testDb.Path());
    database.SetParams(testDb.ConnectParams());
    database.Open();
    TBrowseForm form(database);
    EXPECT_TRUE(form.Relations().contains(QStringLiteral("GOODS")));
    EXPECT_TRUE(form.Relations().contains(QStringLiteral("SYS_USER")));

    form.OpenTable(QStringLiteral("GOODS"));
    TDBGridModel& model = *form.Grid()->GridModel();
    ASSERT_EQ(model.rowCount(), 2);
    QStringList cells;
    for (int row = 0; row < model.rowCount(); ++row)
        for (int column = 0; column < model.columnCount(); ++column)
            if (!form.Grid()->isColumnHidden(column))
                cells << model.index(row, column).data().toString();
    EXPECT_EQ(cells, QStringList({"Хлеб ржаной", "45,5", "02.11.2026", "Мёд липовый", "", ""}));
    EXPECT_FALSE(form.Grid()->ReadOnly());

    // An edit and a new row reach the server.
    TSDS& goods = *form.DataSet();
    goods.First();
    goods.Edit();
    goods.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("Хлеб бородинский"));
    goods.Post();
    goods.Append();
    goods.FieldByName(QStringLiteral("SYS$ID"))->SetAsInteger(3);
    goods.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("Квас"));
    goods.Post();
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(testDb.Committed(QStringLiteral("select NAME from GOODS order by SYS$ID")),
              QStringList({"Хлеб бородинский", "Мёд липовый", "Квас"}));

    EXPECT_ANY_THROW(form.OpenTable(QStringLiteral("NO_SUCH_TABLE")));
    EXPECT_EQ(model.rowCount(), 0);
    FormatSettings() = saved;
}

} // namespace
