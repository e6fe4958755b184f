// Two users of the catalogue at once, each in a program of their own, meeting
// through the Firebird server (FB_SERVER; skipped when unset): the second
// cannot edit the item the first holds, is told who holds it and stays
// browsing; the first one's change reaches the second's grid through the
// change notice, without a refresh; the change is audited. Items one adds or
// deletes come and go in the other's grid the same way.
#include "CatalogueProcess.h"
#include "IBTestDatabase.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString LockQuestion = QStringLiteral(
    "Запись блокирована другим пользователем\\nИнтересует дополнительная информация ?");

QProcessEnvironment ServerLogin()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ISC_USER"), QStringLiteral("SYSDBA"));
    environment.insert(QStringLiteral("ISC_PASSWORD"), TIBTestDatabase::ServerPassword());
    return environment;
}

// The database the first program makes on the server, dropped at the end.
class TServerDatabase
{
public:
    explicit TServerDatabase(const QString& path) : FName(TIBTestDatabase::ServerName() + QLatin1Char(':') + path) {}
    ~TServerDatabase()
    {
        try {
            TIBTestDatabase::DropOnServer(FName);
        } catch (...) {
        }
    }
    const QString& Name() const { return FName; }
    QStringList Rows(const QString& sql) const
    {
        TIBDatabase database;
        database.SetDatabaseName(FName);
        database.SetParams(TIBTestDatabase::ServerParams());
        database.Open();
        return TIBTestDatabase::Rows(database, sql);
    }

private:
    QString FName;
};

TEST(CatalogueUsers, TheSecondUserMeetsTheLockThenSeesTheFirstUsersChange)
{
    if (TIBTestDatabase::ServerName().isEmpty())
        GTEST_SKIP() << "FB_SERVER is not set (scripts/fbserver start)";
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    // The server runs as this user: it may write into our folder.
    TServerDatabase database(folder.filePath(QStringLiteral("catalogue.fdb")));

    // The first program makes the database on the server, the second finds it.
    TCatalogueProcess first, second;
    ASSERT_TRUE(
        first.Start(database.Name(), QStringLiteral("1"), ServerLogin()).startsWith(QStringLiteral("ready user=1")))
        << first.Errors().toStdString();
    ASSERT_TRUE(second.Start(database.Name(), QStringLiteral("Петров Сергей"), ServerLogin())
                    .startsWith(QStringLiteral("ready user=2")))
        << second.Errors().toStdString();
    for (TCatalogueProcess* user : {&first, &second}) {
        ASSERT_EQ(user->Ask(QStringLiteral("group 4")), QStringLiteral("ok rows=7"));
        ASSERT_EQ(user->Ask(QStringLiteral("goto 102 PRICE")), QStringLiteral("ok"));
    }
    ASSERT_EQ(second.Ask(QStringLiteral("cell 102 PRICE")), QStringLiteral("ok 84.90"));

    // The first user edits the item (F2 in the grid): its record lock is taken.
    ASSERT_EQ(first.Ask(QStringLiteral("key F2")), QStringLiteral("ok rows=7 state=edit marked=0"));
    ASSERT_EQ(first.Ask(QStringLiteral("set PRICE 91.25")), QStringLiteral("ok"));

    // The second asks who holds it: the first user, by number.
    ASSERT_EQ(second.Ask(QStringLiteral("answer yes")), QStringLiteral("ok"));
    EXPECT_EQ(second.Ask(QStringLiteral("key F2")), QStringLiteral("ok rows=7 state=browse marked=0"));
    const QString told = second.Ask(QStringLiteral("questions"));
    EXPECT_TRUE(told.startsWith(QStringLiteral("ok ") + LockQuestion
                                + QStringLiteral(" | Запись заблокирована пользователем ")))
        << told.toStdString();
    EXPECT_TRUE(told.contains(QStringLiteral("(код 1, сессия "))) << told.toStdString();

    // Tried again and answered No: nothing more is said, the second browses on.
    const QString picture = qEnvironmentVariable("DEMO_LOCK_SCREENSHOT");
    if (!picture.isEmpty()) {
        ASSERT_EQ(second.Ask(QStringLiteral("picture-question ") + QDir().absoluteFilePath(picture)),
                  QStringLiteral("ok"));
    }
    ASSERT_EQ(second.Ask(QStringLiteral("answer no")), QStringLiteral("ok"));
    EXPECT_EQ(second.Ask(QStringLiteral("key F2")), QStringLiteral("ok rows=7 state=browse marked=0"));
    const QString askedAgain = second.Ask(QStringLiteral("questions"));
    EXPECT_TRUE(askedAgain.endsWith(QStringLiteral(" | ") + LockQuestion)) << askedAgain.toStdString();
    EXPECT_EQ(second.Ask(QStringLiteral("state")), QStringLiteral("ok browse"));
    EXPECT_EQ(second.Ask(QStringLiteral("cell 102 PRICE")), QStringLiteral("ok 84.90"));

    // The first posts (F5); the second's grid shows the new price by itself.
    ASSERT_EQ(first.Ask(QStringLiteral("key F5")), QStringLiteral("ok rows=7 state=browse marked=0"));
    EXPECT_EQ(second.AskUntil(
                  QStringLiteral("cell 102 PRICE"),
                  [](const QString& answer) { return answer == QLatin1String("ok 91.25"); }, 15000),
              QStringLiteral("ok 91.25"));
    EXPECT_EQ(second.Ask(QStringLiteral("notices")), QStringLiteral("ok 1"));
    EXPECT_EQ(second.Ask(QStringLiteral("current")), QStringLiteral("ok 102"));
    // The lock went with the post: the second may edit now.
    EXPECT_EQ(second.Ask(QStringLiteral("key F2")), QStringLiteral("ok rows=7 state=edit marked=0"));
    EXPECT_EQ(second.Ask(QStringLiteral("cancel")), QStringLiteral("ok state=browse"));

    // The audit row of the change: the first user's, the old and new price.
    const QStringList audit = database.Rows(QStringLiteral("select USER_ID, MESSAGE from SYS$AUDIT order by AUDIT_ID"));
    ASSERT_EQ(audit.size(), 1) << audit.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(audit[0].startsWith(QStringLiteral("1|"))) << audit[0].toStdString();
    EXPECT_TRUE(audit[0].contains(QStringLiteral("84.9")) && audit[0].contains(QStringLiteral("91.25")))
        << audit[0].toStdString();
    EXPECT_EQ(database.Rows(QStringLiteral("select PRICE from GOODS where SYS$ID = 102")), QStringList{"91.25"});

    EXPECT_EQ(second.Quit(), 0) << second.Errors().toStdString();
    EXPECT_EQ(first.Quit(), 0) << first.Errors().toStdString();
}

TEST(CatalogueUsers, ItemsOneUserAddsAndDeletesComeAndGoInTheOthersGrid)
{
    if (TIBTestDatabase::ServerName().isEmpty())
        GTEST_SKIP() << "FB_SERVER is not set (scripts/fbserver start)";
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    TServerDatabase database(folder.filePath(QStringLiteral("catalogue.fdb")));
    TCatalogueProcess first, second;
    ASSERT_TRUE(first.Start(database.Name(), QStringLiteral("1"), ServerLogin()).startsWith(QStringLiteral("ready")))
        << first.Errors().toStdString();
    ASSERT_TRUE(second.Start(database.Name(), QStringLiteral("2"), ServerLogin()).startsWith(QStringLiteral("ready")))
        << second.Errors().toStdString();
    ASSERT_EQ(first.Ask(QStringLiteral("group 5")), QStringLiteral("ok rows=3"));
    ASSERT_EQ(second.Ask(QStringLiteral("group 5")), QStringLiteral("ok rows=3"));
    ASSERT_EQ(second.Ask(QStringLiteral("goto 503")), QStringLiteral("ok"));

    ASSERT_EQ(first.Ask(QStringLiteral("append")), QStringLiteral("ok state=insert"));
    ASSERT_EQ(first.Ask(QStringLiteral("set NAME Какао 200 г")), QStringLiteral("ok"));
    ASSERT_EQ(first.Ask(QStringLiteral("set PRICE 310")), QStringLiteral("ok"));
    ASSERT_EQ(first.Ask(QStringLiteral("post")), QStringLiteral("ok state=browse"));
    const auto rowsAre = [](const char* rows) {
        return [rows](const QString& answer) { return answer == QLatin1String(rows); };
    };
    EXPECT_EQ(second.AskUntil(QStringLiteral("rows"), rowsAre("ok 4"), 15000), QStringLiteral("ok 4"));
    // Read anew, the grid stays on the second user's item, in its group.
    EXPECT_EQ(second.Ask(QStringLiteral("current")), QStringLiteral("ok 503"));
    EXPECT_EQ(second.Ask(QStringLiteral("cell 503 NAME")), QStringLiteral("ok Кофе молотый 250 г"));
    EXPECT_EQ(second.Ask(QStringLiteral("tree")), QStringLiteral("ok 5"));

    ASSERT_EQ(first.Ask(QStringLiteral("goto 501")), QStringLiteral("ok"));
    ASSERT_EQ(first.Ask(QStringLiteral("delete")), QStringLiteral("ok rows=3"));
    EXPECT_EQ(second.AskUntil(QStringLiteral("rows"), rowsAre("ok 3"), 15000), QStringLiteral("ok 3"));
    EXPECT_TRUE(second.Ask(QStringLiteral("cell 501 NAME")).startsWith(QStringLiteral("error")));
    EXPECT_EQ(second.Ask(QStringLiteral("current")), QStringLiteral("ok 503"));
    EXPECT_EQ(database.Rows(QStringLiteral("select count(*) from GOODS where SYS$PID = 5")), QStringList{"3"});

    EXPECT_EQ(second.Quit(), 0) << second.Errors().toStdString();
    EXPECT_EQ(first.Quit(), 0) << first.Errors().toStdString();
}

} // namespace
