// The catalogue for one user on the embedded engine, run as a process in its
// scripted mode: it makes its sample database at the first start (and only
// then), refuses a user SYS_USER does not know, and deletes a document with
// its lines once the user confirms. With DEMO_MAIN_SCREENSHOT and
// DEMO_DOCUMENT_SCREENSHOT set it saves the pictures of the main window (a
// group, marks and a filter) and of the documents window.
#include "CatalogueProcess.h"
#include "IBTestDatabase.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class CatalogueProgram : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The engine's lock folder and root, inherited by the programs.
        TIBTestDatabase::PrepareEngine();
        ASSERT_TRUE(FFolder.isValid());
        FDatabase = FFolder.filePath(QStringLiteral("catalogue.fdb"));
    }

    // What the program left in its database (read once it has ended: the
    // embedded engine keeps the file to one process).
    QStringList Rows(const QString& sql) const
    {
        TIBDatabase database;
        database.SetDatabaseName(FDatabase);
        database.SetParams({QStringLiteral("user_name=SYSDBA"), QStringLiteral("lc_ctype=WIN1251")});
        database.Open();
        return TIBTestDatabase::Rows(database, sql);
    }

    QTemporaryDir FFolder;
    QString FDatabase;
};

TEST_F(CatalogueProgram, MakesItsSampleOnceAndDeletesADocumentWithItsLinesWhenConfirmed)
{
    {
        TCatalogueProcess program;
        ASSERT_EQ(program.Start(FDatabase, QStringLiteral("1")), QStringLiteral("ready user=1 Иванова Анна"));
        EXPECT_EQ(program.Ask(QStringLiteral("documents")), QStringLiteral("ok documents=3 lines=3"));
        // Cancelled: the document stays.
        ASSERT_EQ(program.Ask(QStringLiteral("answer cancel")), QStringLiteral("ok"));
        EXPECT_EQ(program.Ask(QStringLiteral("delete-document 602")), QStringLiteral("ok kept documents=3"));
        ASSERT_EQ(program.Ask(QStringLiteral("answer ok")), QStringLiteral("ok"));
        EXPECT_EQ(program.Ask(QStringLiteral("delete-document 601")), QStringLiteral("ok documents=2 lines=2"));
        EXPECT_EQ(program.Ask(QStringLiteral("questions")), QStringLiteral("ok Удалить запись? | Удалить запись?"));
        EXPECT_EQ(program.Quit(), 0);
        EXPECT_TRUE(program.Errors().contains(QStringLiteral("made the sample database")));
    }
    EXPECT_EQ(Rows(QStringLiteral("select SYS$ID from DOCS order by 1")), (QStringList{"602", "603"}));
    EXPECT_EQ(Rows(QStringLiteral("select SYS$ID from DOC_LINES order by 1")), (QStringList{"704", "705", "706"}));

    // The second start finds the database as the first one left it.
    TCatalogueProcess again;
    ASSERT_EQ(again.Start(FDatabase, QStringLiteral("Сидоров Олег")), QStringLiteral("ready user=3 Сидоров Олег"));
    EXPECT_EQ(again.Ask(QStringLiteral("documents")), QStringLiteral("ok documents=2 lines=2"));
    EXPECT_EQ(again.Quit(), 0);
    EXPECT_FALSE(again.Errors().contains(QStringLiteral("made the sample database")));
}

TEST_F(CatalogueProgram, AnUnknownUserEndsTheProgramWithTheKnownNames)
{
    TCatalogueProcess program;
    EXPECT_EQ(program.Start(FDatabase, QStringLiteral("Никто")), QString());
    const QString errors = program.Errors();
    EXPECT_TRUE(
        errors.contains(QStringLiteral("Нет пользователя «Никто». Пользователи: 1 Иванова Анна, 2 Петров Сергей")))
        << errors.toStdString();
    EXPECT_EQ(program.Quit(), 1);
}

TEST_F(CatalogueProgram, EditsAnItemAndShowsItInTheGroupsGrid)
{
    TCatalogueProcess program;
    ASSERT_TRUE(program.Start(FDatabase, QStringLiteral("2")).startsWith(QStringLiteral("ready")));
    // The top level holds the groups; a group its items.
    EXPECT_EQ(program.Ask(QStringLiteral("group 0")), QStringLiteral("ok rows=3"));
    EXPECT_EQ(program.Ask(QStringLiteral("group 5")), QStringLiteral("ok rows=3"));
    ASSERT_EQ(program.Ask(QStringLiteral("goto 502")), QStringLiteral("ok"));
    ASSERT_EQ(program.Ask(QStringLiteral("edit")), QStringLiteral("ok state=edit"));
    ASSERT_EQ(program.Ask(QStringLiteral("set QTY 7")), QStringLiteral("ok"));
    ASSERT_EQ(program.Ask(QStringLiteral("post")), QStringLiteral("ok state=browse"));
    EXPECT_EQ(program.Ask(QStringLiteral("cell 502 QTY")), QStringLiteral("ok 7"));
    // Marks and a filter: what the grid shows.
    EXPECT_EQ(program.Ask(QStringLiteral("mark 501")), QStringLiteral("ok marked=1"));
    EXPECT_EQ(program.Ask(QStringLiteral("filter PRICE 240 500")), QStringLiteral("ok rows=2"));
    EXPECT_TRUE(program.Ask(QStringLiteral("cell 502 NAME")).startsWith(QStringLiteral("error")));
    EXPECT_EQ(program.Quit(), 0);
    EXPECT_EQ(Rows(QStringLiteral("select QTY, bin_and(SYS$STATE, 65535) from GOODS where SYS$ID = 502")),
              QStringList{"7|1"});
    EXPECT_EQ(Rows(QStringLiteral("select count(*) from SYS$AUDIT where USER_ID = 2")), QStringList{"1"});
}

TEST_F(CatalogueProgram, TheGridsKeysAndTheMenuBarReachTheFrameworksServices)
{
    TCatalogueProcess program;
    ASSERT_TRUE(program.Start(FDatabase, QStringLiteral("1")).startsWith(QStringLiteral("ready")));
    ASSERT_EQ(program.Ask(QStringLiteral("group 1")), QStringLiteral("ok rows=4"));
    ASSERT_EQ(program.Ask(QStringLiteral("goto 4")), QStringLiteral("ok"));
    // Enter opens the group in the grid, and the tree follows; Escape leaves it.
    EXPECT_EQ(program.Ask(QStringLiteral("key Return")), QStringLiteral("ok rows=7 state=browse marked=0"));
    EXPECT_EQ(program.Ask(QStringLiteral("tree")), QStringLiteral("ok 4"));
    EXPECT_EQ(program.Ask(QStringLiteral("key Shift+F3")), QStringLiteral("ok rows=7 state=browse marked=1"));
    EXPECT_EQ(program.Ask(QStringLiteral("key Down")), QStringLiteral("ok rows=7 state=browse marked=1"));
    EXPECT_EQ(program.Ask(QStringLiteral("key Shift+F3")), QStringLiteral("ok rows=7 state=browse marked=2"));
    EXPECT_EQ(program.Ask(QStringLiteral("key Escape")), QStringLiteral("ok rows=4 state=browse marked=2"));
    EXPECT_EQ(program.Ask(QStringLiteral("tree")), QStringLiteral("ok 1"));

    // The menu bar's "Сервис" is the grid's service menu, with the calculator.
    const QString menu = program.Ask(QStringLiteral("service-menu"));
    for (const char* item : {"Корректировка записи", "Атрибуты записи", "Отметить запись", "Сумма по графе", "Фильтр",
                             "Групповые корректировки", "Печать формы", "Экспорт в MS Excel", "Калькулятор"})
        EXPECT_TRUE(menu.contains(QString::fromUtf8(item))) << item << " in " << menu.toStdString();
    // Built anew each time it opens, never twice over.
    EXPECT_EQ(program.Ask(QStringLiteral("service-menu")), menu);
    EXPECT_EQ(program.Quit(), 0);
}

TEST_F(CatalogueProgram, Screenshots)
{
    const QString main = qEnvironmentVariable("DEMO_MAIN_SCREENSHOT");
    const QString documents = qEnvironmentVariable("DEMO_DOCUMENT_SCREENSHOT");
    if (main.isEmpty() && documents.isEmpty())
        GTEST_SKIP() << "DEMO_MAIN_SCREENSHOT and DEMO_DOCUMENT_SCREENSHOT are not set";
    TCatalogueProcess program;
    ASSERT_TRUE(program.Start(FDatabase, QStringLiteral("1")).startsWith(QStringLiteral("ready")));
    if (!main.isEmpty()) {
        for (const char* command : {"group 4", "mark 101", "mark 103", "mark 104", "filter PRICE 50 130", "goto 102"})
            ASSERT_TRUE(program.Ask(QString::fromUtf8(command)).startsWith(QStringLiteral("ok"))) << command;
        EXPECT_EQ(program.Ask(QStringLiteral("shot ") + QDir().absoluteFilePath(main)), QStringLiteral("ok"));
    }
    if (!documents.isEmpty()) {
        EXPECT_TRUE(program.Ask(QStringLiteral("documents ") + QDir().absoluteFilePath(documents))
                        .startsWith(QStringLiteral("ok documents=3")));
    }
    EXPECT_EQ(program.Quit(), 0);
}

} // namespace
