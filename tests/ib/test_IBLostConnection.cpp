// A connection that another attachment kills (through MON$ATTACHMENTS) while
// a transaction is active and a cursor is half read: the first call to meet
// the loss reports it and leaves everything closed, later calls say that the
// connection was lost, cleanup never throws, opening again reconnects, and
// the file stays usable. Through the embedded engine, and through a server
// when FB_SERVER names one (scripts/fbserver start).
#include "IBSQL.h"
#include "IBTestDatabase.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <iostream>

namespace {

constexpr int RowTotal = 3000;
constexpr int isc_att_shutdown = 335544856;

class IBLostConnectionTest : public ::testing::Test
{
protected:
    void SetUp() override { Fill(Db.Database()); }

    // A connection of its own to the database under test.
    std::unique_ptr<TIBDatabase> Connect() const
    {
        if (!FServerName.isEmpty()) {
            auto database = std::make_unique<TIBDatabase>();
            database->SetDatabaseName(FServerName);
            database->SetParams(TIBTestDatabase::ServerParams());
            database->Open();
            return database;
        }
        return Db.Connect();
    }

    static void Fill(TIBDatabase& database)
    {
        {
            TIBTransaction ddl;
            ddl.SetDefaultDatabase(&database);
            ddl.StartTransaction();
            TIBSQL create;
            create.SetTransaction(&ddl);
            create.SQL().SetText(QStringLiteral("create table T (ID integer not null primary key, NAME varchar(40))"));
            create.ExecQuery();
            ddl.Commit();
        }
        // ":i" is a PSQL variable here, not a parameter of ours.
        TIBTransaction transaction;
        transaction.SetDefaultDatabase(&database);
        transaction.StartTransaction();
        TIBSQL fill;
        fill.SetTransaction(&transaction);
        fill.SetParamCheck(false);
        fill.SQL().SetText(QStringLiteral("execute block as declare i integer = 1; begin "
                                          "while (i <= %1) do begin "
                                          "insert into T values (:i, 'row ' || :i); i = i + 1; end end")
                               .arg(RowTotal));
        fill.ExecQuery();
        fill.Close();
        transaction.Commit();
    }

    static int64_t AttachmentId(TIBTransaction& transaction)
    {
        TIBSQL sql;
        sql.SetTransaction(&transaction);
        sql.SQL().SetText(QStringLiteral("select CURRENT_CONNECTION from RDB$DATABASE"));
        sql.ExecQuery();
        return sql.Fields(0).AsInt64();
    }

    // From an attachment of its own, as the same user (SYSDBA).
    void Kill(int64_t attachmentId)
    {
        auto killer = Connect();
        TIBTransaction transaction;
        transaction.SetDefaultDatabase(killer.get());
        transaction.StartTransaction();
        TIBSQL sql;
        sql.SetTransaction(&transaction);
        sql.SQL().SetText(QStringLiteral("delete from MON$ATTACHMENTS where MON$ATTACHMENT_ID = :ID"));
        sql.ParamByName(QStringLiteral("ID")).SetAsInt64(attachmentId);
        sql.ExecQuery();
        ASSERT_EQ(sql.RowsAffected(), 1) << "attachment " << attachmentId << " not found";
        transaction.Commit();
    }

    // A client over the network may have the next rows already: the loss
    // shows once those are read.
    static void FetchToTheEnd(TIBSQL& cursor)
    {
        while (cursor.Next()) {
        }
    }

    // Raises the client's "connection lost" error, not a server error.
    static void ExpectConnectionLostError(const std::function<void()>& call)
    {
        try {
            call();
            ADD_FAILURE() << "no error";
        } catch (const EIBClientError& e) {
            EXPECT_EQ(e.Message(), QString::fromLatin1(IBMessages::ConnectionLost));
        }
    }

    // Open again, and the objects of before work on the new attachment.
    static void ExpectReconnectWorks(TIBDatabase& database, TIBTransaction& transaction, TIBSQL& cursor)
    {
        ASSERT_NO_THROW(database.Open());
        EXPECT_TRUE(database.Connected());
        transaction.StartTransaction();
        cursor.SQL().SetText(QStringLiteral("select NAME from T where ID = 42"));
        cursor.ExecQuery();
        EXPECT_EQ(cursor.Fields(0).AsString(), QStringLiteral("row 42"));
        cursor.Close();
        transaction.Commit();
        database.Close();
        EXPECT_FALSE(database.Connected());
    }

    // A fresh connection to the same file reads what was committed before.
    void ExpectFileUsable()
    {
        auto fresh = Connect();
        TIBTransaction transaction;
        transaction.SetDefaultDatabase(fresh.get());
        transaction.StartTransaction();
        TIBSQL sql;
        sql.SetTransaction(&transaction);
        sql.SQL().SetText(QStringLiteral("select NAME from T where ID = 2345"));
        sql.ExecQuery();
        EXPECT_EQ(sql.Fields(0).AsString(), QStringLiteral("row 2345"));
        sql.Close();
        transaction.Commit();
        fresh->Close();
        EXPECT_FALSE(fresh->Connected());
    }

    void CheckKilledAttachment();
    void CheckFirstCallToMeetTheLoss();

    TIBTestDatabase Db;
    QString FServerName; // "host/port:path" when the database lives on a server
};

// The same, on a database that a Firebird server holds.
class IBLostServerConnectionTest : public IBLostConnectionTest
{
protected:
    void SetUp() override
    {
        const QString server = TIBTestDatabase::ServerName();
        if (server.isEmpty())
            GTEST_SKIP() << "FB_SERVER is not set (scripts/fbserver start)";
        ASSERT_TRUE(FDir.isValid());
        FServerName = server + QLatin1Char(':') + FDir.filePath(QStringLiteral("lost.fdb"));
        TIBDatabase creator;
        creator.SetDatabaseName(FServerName);
        creator.SetParams(TIBTestDatabase::ServerParams());
        creator.CreateDatabase();
        Fill(creator);
    }

    QTemporaryDir FDir;
};

} // namespace

void IBLostConnectionTest::CheckKilledAttachment()
{
    auto database = Connect();
    auto transaction = std::make_unique<TIBTransaction>();
    transaction->SetDefaultDatabase(database.get());
    transaction->StartTransaction();
    const int64_t id = AttachmentId(*transaction);

    auto cursor = std::make_unique<TIBSQL>();
    cursor->SetTransaction(transaction.get());
    cursor->SQL().SetText(QStringLiteral("select ID, NAME from T order by ID"));
    cursor->ExecQuery();
    for (int i = 0; i < 9; ++i)
        ASSERT_TRUE(cursor->Next());
    EXPECT_EQ(cursor->Fields(0).AsInteger(), 10);
    EXPECT_EQ(cursor->Fields(1).AsString(), QStringLiteral("row 10"));

    Kill(id);

    // The rest of the cursor is gone: the loss is reported, and from then on
    // the objects say what is true.
    try {
        FetchToTheEnd(*cursor);
        ADD_FAILURE() << "fetching after the kill did not fail";
    } catch (const EIBConnectionLost& e) {
        if (FServerName.isEmpty()) {
            EXPECT_EQ(e.IBErrorCode(), isc_att_shutdown) << e.what();
        }
        // The statement that met the loss is named, though it has been unprepared since.
        EXPECT_EQ(e.SQL(), cursor->SQL().Text());
        EXPECT_FALSE(e.Status().empty());
    }
    EXPECT_FALSE(database->Connected());
    EXPECT_FALSE(transaction->InTransaction());
    EXPECT_FALSE(cursor->Open());
    EXPECT_FALSE(cursor->Prepared());
    EXPECT_THROW(cursor->Next(), EIBClientError); // no cursor any more

    // Everything else says that the connection was lost.
    ExpectConnectionLostError([&] { cursor->ExecQuery(); });
    {
        TIBSQL other;
        other.SetTransaction(transaction.get());
        other.SQL().SetText(QStringLiteral("select count(*) from T"));
        ExpectConnectionLostError([&] { other.ExecQuery(); });
    }
    {
        TIBTransaction another;
        another.SetDefaultDatabase(database.get());
        ExpectConnectionLostError([&] { another.StartTransaction(); });
        EXPECT_FALSE(another.InTransaction());
    }
    ExpectConnectionLostError([&] { transaction->Commit(); });
    ExpectConnectionLostError([&] { transaction->Rollback(); });
    ExpectConnectionLostError([&] { transaction->StartTransaction(); });

    // Cleanup lets every handle go without a word.
    EXPECT_NO_THROW(cursor->Close());
    EXPECT_NO_THROW(cursor->FreeHandle());
    EXPECT_NO_THROW(database->Close());
    EXPECT_FALSE(database->Connected());

    // Opening again reconnects; the same objects work as before.
    ExpectReconnectWorks(*database, *transaction, *cursor);

    cursor.reset();
    transaction.reset();
    database.reset();

    ExpectFileUsable();
}

// Whichever call is first to meet the dead attachment reports the loss and
// leaves the database, its transactions and statements closed.
void IBLostConnectionTest::CheckFirstCallToMeetTheLoss()
{
    using TFirstCall = std::function<void(TIBDatabase&, TIBTransaction&, TIBSQL & cursor)>;
    const struct
    {
        const char* Name;
        TFirstCall Call;
        bool EmbeddedOnly = false;
    } cases[] = {
        {"fetch", [](TIBDatabase&, TIBTransaction&, TIBSQL& cursor) { FetchToTheEnd(cursor); }},
        // A client over the network closes a cursor without asking the server.
        {"close cursor", [](TIBDatabase&, TIBTransaction&, TIBSQL& cursor) { cursor.Close(); }, true},
        {"new statement",
         [](TIBDatabase&, TIBTransaction& transaction, TIBSQL&) {
             TIBSQL sql;
             sql.SetTransaction(&transaction);
             sql.SQL().SetText(QStringLiteral("select count(*) from T"));
             sql.ExecQuery();
         }},
        {"commit", [](TIBDatabase&, TIBTransaction& transaction, TIBSQL&) { transaction.Commit(); }},
        {"rollback", [](TIBDatabase&, TIBTransaction& transaction, TIBSQL&) { transaction.Rollback(); }},
        {"another transaction",
         [](TIBDatabase& database, TIBTransaction&, TIBSQL&) {
             TIBTransaction another;
             another.SetDefaultDatabase(&database);
             another.StartTransaction();
         }},
    };
    for (const auto& c : cases) {
        if (c.EmbeddedOnly && !FServerName.isEmpty())
            continue;
        SCOPED_TRACE(c.Name);
        auto database = Connect();
        TIBTransaction transaction;
        transaction.SetDefaultDatabase(database.get());
        transaction.StartTransaction();
        const int64_t id = AttachmentId(transaction);
        TIBSQL cursor;
        cursor.SetTransaction(&transaction);
        cursor.SQL().SetText(QStringLiteral("select ID from T order by ID"));
        cursor.ExecQuery();
        Kill(id);

        EXPECT_THROW(c.Call(*database, transaction, cursor), EIBConnectionLost);
        EXPECT_FALSE(database->Connected());
        EXPECT_FALSE(transaction.InTransaction());
        EXPECT_FALSE(cursor.Open());
        EXPECT_FALSE(cursor.Prepared());
        EXPECT_FALSE(database->InternalTransaction()->InTransaction());
        ExpectConnectionLostError([&] { transaction.StartTransaction(); });

        ExpectReconnectWorks(*database, transaction, cursor);
    }
}

TEST_F(IBLostConnectionTest, KilledAttachmentReportsErrorsAndClosesCleanly) { CheckKilledAttachment(); }

TEST_F(IBLostConnectionTest, FirstCallToMeetTheLossClosesEverything) { CheckFirstCallToMeetTheLoss(); }

TEST_F(IBLostServerConnectionTest, KilledAttachmentReportsErrorsAndClosesCleanly) { CheckKilledAttachment(); }

TEST_F(IBLostServerConnectionTest, FirstCallToMeetTheLossClosesEverything) { CheckFirstCallToMeetTheLoss(); }

// The server stops under an open connection. Runs only when
// FB_SERVER_CONTROL names the script that runs the server (scripts/fbserver),
// which the test uses to stop it and to start it again.
TEST_F(IBLostServerConnectionTest, StoppedServer)
{
    const QString control = qEnvironmentVariable("FB_SERVER_CONTROL");
    if (control.isEmpty())
        GTEST_SKIP() << "FB_SERVER_CONTROL is not set (scripts/fbserver)";
    const auto run = [&](const QString& command) {
        QProcess process;
        process.start(control, {command});
        ASSERT_TRUE(process.waitForFinished(60000)) << command.toStdString();
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    };
    auto database = Connect();
    TIBTransaction transaction;
    transaction.SetDefaultDatabase(database.get());
    transaction.StartTransaction();
    TIBSQL sql;
    sql.SetTransaction(&transaction);
    sql.SQL().SetText(QStringLiteral("select count(*) from T"));
    sql.ExecQuery();
    EXPECT_EQ(sql.Fields(0).AsInteger(), RowTotal);

    run(QStringLiteral("stop"));
    try {
        sql.ExecQuery();
        ADD_FAILURE() << "no error from a stopped server";
    } catch (const EIBConnectionLost& e) {
        std::cout << "reported: " << e.what() << std::endl;
    }
    run(QStringLiteral("start"));
    EXPECT_FALSE(database->Connected());
    EXPECT_FALSE(transaction.InTransaction());
    EXPECT_FALSE(sql.Prepared());
    ExpectConnectionLostError([&] { sql.ExecQuery(); });
    ExpectReconnectWorks(*database, transaction, sql);
}

// Nothing closed by hand: the objects go with a cursor still open and the
// transaction still active, the database first.
TEST_F(IBLostConnectionTest, KilledAttachmentDestroyedWithOpenCursor)
{
    auto database = Db.Connect();
    auto transaction = std::make_unique<TIBTransaction>();
    transaction->SetDefaultDatabase(database.get());
    database->SetDefaultTransaction(transaction.get());
    transaction->StartTransaction();
    const int64_t id = AttachmentId(*transaction);

    auto cursor = std::make_unique<TIBSQL>();
    cursor->SetDatabase(database.get());
    cursor->SQL().SetText(QStringLiteral("select ID, NAME from T order by ID"));
    cursor->ExecQuery();
    for (int i = 0; i < 99; ++i)
        ASSERT_TRUE(cursor->Next());
    EXPECT_EQ(cursor->Fields(1).AsString(), QStringLiteral("row 100"));

    Kill(id);

    EXPECT_TRUE(cursor->Open()); // nothing has noticed yet
    database.reset();
    EXPECT_FALSE(cursor->Open());
    EXPECT_FALSE(cursor->Prepared());
    EXPECT_FALSE(transaction->InTransaction());
    transaction.reset();
    cursor.reset();

    ExpectFileUsable();
}
