// Two connections through a Firebird server (scripts/fbserver start; FB_SERVER
// names it as "host/port", FB_PASSWORD is SYSDBA's password, "masterkey" when
// unset). Skipped when no server is named.
#include "IBDatabase.h"
#include "IBSQL.h"
#include "IBTestDatabase.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void ExecuteIn(TIBTransaction& transaction, const QString& text)
{
    TIBSQL sql;
    sql.SetTransaction(&transaction);
    sql.SQL().SetText(text);
    sql.ExecQuery();
}

} // namespace

TEST(IBServerTest, ConnectionsSeeEachOthersCommittedRows)
{
    const QString server = TIBTestDatabase::ServerName();
    if (server.isEmpty())
        GTEST_SKIP() << "FB_SERVER is not set (scripts/fbserver start)";

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString name = server + QLatin1Char(':') + dir.filePath(QStringLiteral("server.fdb"));

    TIBDatabase writer;
    writer.SetDatabaseName(name);
    writer.SetParams(TIBTestDatabase::ServerParams());
    writer.CreateDatabase();
    {
        TIBTransaction ddl;
        ddl.SetDefaultDatabase(&writer);
        ddl.StartTransaction();
        ExecuteIn(ddl, QStringLiteral("create table T (ID integer not null primary key, NAME varchar(20))"));
        ddl.Commit();
    }

    TIBDatabase reader;
    reader.SetDatabaseName(name);
    reader.SetParams(TIBTestDatabase::ServerParams());
    reader.Open();
    ASSERT_TRUE(reader.Connected());

    TIBTransaction write;
    write.SetDefaultDatabase(&writer);
    write.SetParams({QStringLiteral("write"), QStringLiteral("nowait"), QStringLiteral("read_committed"),
                     QStringLiteral("rec_version")});
    write.StartTransaction();
    TIBSQL insert;
    insert.SetTransaction(&write);
    insert.SQL().SetText(QStringLiteral("insert into T (ID, NAME) values (:ID, :NAME)"));
    insert.ParamByName(QStringLiteral("ID")).SetAsInteger(7);
    insert.ParamByName(QStringLiteral("NAME")).SetAsString(QStringLiteral("Привет"));
    insert.ExecQuery();

    TIBTransaction read;
    read.SetDefaultDatabase(&reader);
    read.SetParams({QStringLiteral("read"), QStringLiteral("read_committed"), QStringLiteral("rec_version"),
                    QStringLiteral("nowait")});
    read.StartTransaction();
    TIBSQL select;
    select.SetTransaction(&read);
    select.SQL().SetText(QStringLiteral("select ID, NAME from T where ID = 7"));

    // Not yet committed: the other connection does not see it.
    select.ExecQuery();
    EXPECT_TRUE(select.Eof());
    select.Close();

    write.Commit();

    select.ExecQuery();
    ASSERT_FALSE(select.Eof());
    EXPECT_EQ(select.FieldByName(QStringLiteral("ID")).AsInteger(), 7);
    EXPECT_EQ(select.FieldByName(QStringLiteral("NAME")).AsString(), QStringLiteral("Привет"));
    EXPECT_FALSE(select.Next());
    select.Close();
    read.Commit();

    reader.Close();
    writer.DropDatabase();
}
