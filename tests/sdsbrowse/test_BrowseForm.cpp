// The table browser: the relations of a database, and a table opened in the
// grid with its Cyrillic texts, numbers and dates, edited and written back,
// on embedded Firebird.
#include "BrowseForm.h"

#include "Application.h"
#include "DBGridEx.h"
#include "Dialogs.h"
#include "EmployeeDatabase.h"
#include "IBTestDatabase.h"
#include "PendingEdit.h"
#include "QtPrinters.h"
#include "SDS.h"
#include "SDatabase.h"
#include "SysUtils.h"

#include <QHeaderView>
#include <QTest>
#include <gtest/gtest.h>

namespace {

void Connect(TSDatabase& database, const TIBTestDatabase& testDb, bool frameworkTablesRequired = true)
{
    database.SetDatabaseName(testDb.Path());
    database.SetParams(testDb.ConnectParams());
    database.SetFrameworkTablesRequired(frameworkTablesRequired);
    database.Open();
}

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
    Connect(database, testDb);
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

// Firebird's own sample database has none of the framework's tables: the
// browser opens it all the same, and an application that needs them still
// fails to connect.
TEST(BrowseForm, OpensAPlainFirebirdDatabase)
{
    TIBTestDatabase testDb;
    employee::Create(testDb);
    TSDatabase required;
    required.SetDatabaseName(testDb.Path());
    required.SetParams(testDb.ConnectParams());
    try {
        required.Open();
        ADD_FAILURE() << "connected without SYS_USER";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("SYS_USER"))) << e.Message().toStdString();
    }

    TSDatabase database;
    database.SetDatabaseName(testDb.Path());
    database.SetParams(testDb.ConnectParams());
    database.SetFrameworkTablesRequired(false);
    ASSERT_NO_THROW(database.Open());
    EXPECT_FALSE(database.Users()->Active());
    TBrowseForm form(database);
    const QStringList relations = form.Relations();
    ASSERT_TRUE(relations.contains(QStringLiteral("EMPLOYEE")));
    for (const QString& relation : relations) {
        SCOPED_TRACE(relation.toStdString());
        EXPECT_NO_THROW(form.OpenTable(relation));
    }
    form.OpenTable(QStringLiteral("EMPLOYEE"));
    EXPECT_EQ(form.Grid()->GridModel()->rowCount(), 42);

    // Where the framework's tables exist, they are used.
    TIBTestDatabase frameworkDb;
    frameworkDb.CreateFrameworkSchema();
    TSDatabase framework;
    Connect(framework, frameworkDb, false);
    EXPECT_TRUE(framework.Users()->Active());
}

TEST(BrowseForm, NamesFromTheCommandLineFollowSqlCaseRules)
{
    TIBTestDatabase testDb;
    testDb.ExecuteScript(QStringLiteral("CREATE TABLE GOODS (ID INTEGER);\n"
                                        "CREATE TABLE \"MixedCase\" (ID INTEGER);\n"
                                        "CREATE TABLE \"Say \"\"hi\"\"\" (ID INTEGER);\n"));
    TSDatabase database;
    Connect(database, testDb, false);
    TBrowseForm form(database);
    const struct
    {
        const char* Given;
        const char* Relation;
    } cases[] = {
        {"goods", "GOODS"},
        {"\"MixedCase\"", "MixedCase"},
        {"MixedCase", "MixedCase"}, // only the name as written exists
        {"\"Say \"\"hi\"\"\"", "Say \"hi\""},
        {"nosuch", "NOSUCH"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(form.RelationNamed(QString::fromUtf8(c.Given)), QString::fromUtf8(c.Relation)) << c.Given;
}

// Closing the window with an edit not yet posted asks as an editor does.
TEST(BrowseForm, ClosingWithAPendingEditPostsDiscardsOrStays)
{
    TIBTestDatabase testDb;
    testDb.CreateFrameworkSchema();
    testDb.ExecuteScript(QStringLiteral("CREATE TABLE GOODS (SYS$ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(40));\n"
                                        "INSERT INTO GOODS VALUES (1, 'old');\n"));
    TSDatabase database;
    Connect(database, testDb);
    const struct
    {
        const char* Name;
        bool Interactive;
        bool Change;
        std::vector<TModalResult> Answers;
        bool Closed;
        int Questions;
        const char* Stored;
    } cases[] = {
        {"yes posts", true, true, {mrYes}, true, 1, "new"},
        {"no discards", true, true, {mrNo}, true, 1, "old"},
        {"cancel stays", true, true, {mrCancel}, false, 1, "old"},
        {"unchanged closes quietly", true, false, {}, true, 0, "old"},
        {"nobody at the screen: posted", false, true, {}, true, 0, "new"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        testDb.Execute(QStringLiteral("UPDATE GOODS SET NAME = 'old'"));
        TBrowseForm form(database);
        form.OpenTable(QStringLiteral("GOODS"));
        form.show();
        TSDS& goods = *form.DataSet();
        goods.Edit();
        if (c.Change)
            goods.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("new"));
        Application()->SetInteractive(c.Interactive); // before the guard: it installs a backend
        bool closed = false;
        {
            TScriptedDialogsGuard dialogs;
            dialogs->Answers = c.Answers;
            closed = form.close();
            EXPECT_EQ(static_cast<int>(dialogs->Messages.size()), c.Questions);
            if (c.Questions) {
                EXPECT_EQ(dialogs->Messages[0].Text, PendingEditQuestion());
            }
        }
        Application()->SetInteractive(true);
        EXPECT_EQ(closed, c.Closed);
        EXPECT_EQ(goods.State(), c.Closed ? dsBrowse : dsEdit);
        EXPECT_EQ(testDb.Committed(QStringLiteral("select NAME from GOODS")), QStringList({c.Stored}));
        if (!c.Closed)
            goods.Cancel();
    }
}

// The interactive window fits its columns as the screenshot does.
TEST(BrowseForm, TheShownWindowFitsEveryColumn)
{
    TIBTestDatabase testDb;
    testDb.ExecuteScript(QStringLiteral(
        "CREATE TABLE WIDE (A VARCHAR(200), B VARCHAR(200), C VARCHAR(200), D VARCHAR(200), LAST_ONE INTEGER);\n"
        "INSERT INTO WIDE VALUES ('a', 'b', 'c', 'd', 1);\n"));
    TSDatabase database;
    Connect(database, testDb, false);
    TBrowseForm form(database);
    form.OpenTable(QStringLiteral("WIDE"));
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QTest::qWait(100);
    TDBGridEx& grid = *form.Grid();
    int last = -1;
    for (int column = 0; column < grid.model()->columnCount(); ++column)
        if (!grid.isColumnHidden(column))
            last = column;
    ASSERT_GE(last, 0);
    EXPECT_LE(grid.columnViewportPosition(last) + grid.columnWidth(last), grid.viewport()->width());
}

} // namespace
