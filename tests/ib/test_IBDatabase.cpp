// Connections and transactions against a real embedded database.
#include "IBSQL.h"
#include "IBTestDatabase.h"

#include <gtest/gtest.h>

namespace {

// isc_* codes of the status vector that the tests expect.
constexpr int isc_io_error = 335544344;
constexpr int isc_deadlock = 335544336;
constexpr int isc_read_only_trans = 335544361;
constexpr int isc_dsql_error = 335544569;
constexpr int isc_unique_key_violation = 335544665;
constexpr int isc_arith_except = 335544321;

int CountRows(TIBTransaction& transaction, const QString& table = QStringLiteral("T"))
{
    TIBSQL sql;
    sql.SetTransaction(&transaction);
    sql.SQL().SetText(QStringLiteral("select count(*) from ") + table);
    sql.ExecQuery();
    return sql.Fields(0).AsInteger();
}

void RunSql(TIBTransaction& transaction, const QString& text)
{
    TIBSQL sql;
    sql.SetTransaction(&transaction);
    sql.SQL().SetText(text);
    sql.ExecQuery();
}

class IBTransactionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Db.Execute(QStringLiteral("create table T (ID integer not null primary key, NAME varchar(20))"));
        Db.Execute(QStringLiteral("insert into T values (1, 'one')"));
    }

    std::unique_ptr<TIBTransaction> Start(TIBDatabase& database, const QStringList& params)
    {
        auto transaction = std::make_unique<TIBTransaction>();
        transaction->SetDefaultDatabase(&database);
        transaction->SetParams(params);
        transaction->StartTransaction();
        return transaction;
    }

    TIBTestDatabase Db;
};

} // namespace

TEST(IBDatabaseTest, ConnectAndDisconnectGoThroughTheHooks)
{
    struct TRecording : TIBDatabase
    {
        QStringList Calls;
        void DoConnect() override
        {
            Calls << "connect";
            TIBDatabase::DoConnect();
            Calls << (Connected() ? "attached" : "not attached");
        }
        void DoDisconnect() override
        {
            Calls << "disconnect";
            TIBDatabase::DoDisconnect();
        }
    };
    TIBTestDatabase db;
    TRecording database;
    database.SetDatabaseName(db.Path());
    database.SetParams(db.ConnectParams());
    database.SetConnected(true);
    database.SetConnected(true); // no second attachment
    EXPECT_TRUE(database.Connected());
    database.Close();
    EXPECT_FALSE(database.Connected());
    EXPECT_EQ(database.Calls, QStringList({"connect", "attached", "disconnect"}));
}

TEST(IBDatabaseTest, ClientErrorsComeBeforeTheServer)
{
    TIBDatabase database;
    try {
        database.Open();
        FAIL() << "opened without a name";
    } catch (const EIBClientError& e) {
        EXPECT_EQ(e.Message(), "Database name is missing");
    }
    database.SetDatabaseName(QStringLiteral("/nonexistent/x.fdb"));
    database.SetParams({QStringLiteral("user_name=SYSDBA"), QStringLiteral("bogus=1")});
    EXPECT_THROW(database.Open(), EIBClientError);
    EXPECT_FALSE(database.Connected());
}

TEST(IBDatabaseTest, ServerErrorsCarryCodesAndMessage)
{
    TIBTestDatabase::PrepareEngine();
    TIBDatabase missing;
    missing.SetDatabaseName(QStringLiteral("/nonexistent/folder/x.fdb"));
    missing.SetParams({QStringLiteral("user_name=SYSDBA")});
    try {
        missing.Open();
        FAIL() << "attached to a missing file";
    } catch (const EIBInterBaseError& e) {
        EXPECT_EQ(e.IBErrorCode(), isc_io_error);
        EXPECT_EQ(e.SQLCode(), -902);
        EXPECT_TRUE(e.Message().contains("/nonexistent/folder/x.fdb")) << e.Message().toStdString();
    }
    EXPECT_FALSE(missing.Connected());

    TIBTestDatabase db;
    db.Execute(QStringLiteral("create table T (ID integer not null primary key, N integer)"));
    db.Execute(QStringLiteral("insert into T values (1, 0)"));
    const struct
    {
        const char* Sql;
        int SqlCode;
        int Code;
        const char* Text;
    } cases[] = {
        {"selec * from T", -104, isc_dsql_error, "Token unknown"},
        {"select * from NO_SUCH_TABLE", -204, isc_dsql_error, "NO_SUCH_TABLE"},
        {"insert into T values (1, 1)", -803, isc_unique_key_violation, "PRIMARY or UNIQUE KEY"},
        {"select 1 / N from T", -802, isc_arith_except, "divide by zero"},
    };
    TIBTransaction transaction;
    transaction.SetDefaultDatabase(&db.Database());
    transaction.StartTransaction();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Sql);
        try {
            RunSql(transaction, QString::fromUtf8(c.Sql));
            FAIL() << "no error";
        } catch (const EIBInterBaseError& e) {
            EXPECT_EQ(e.SQLCode(), c.SqlCode);
            EXPECT_EQ(e.IBErrorCode(), c.Code);
            EXPECT_TRUE(e.Message().contains(QString::fromUtf8(c.Text))) << e.Message().toStdString();
        }
    }
    // The failures left the transaction usable.
    EXPECT_EQ(CountRows(transaction), 1);
    transaction.Commit();
}

TEST_F(IBTransactionTest, ParameterSetsGiveTheirIsolation)
{
    // Whether the transaction sees a row committed by another after it started.
    const struct
    {
        QStringList Params;
        bool SeesLaterCommit;
    } cases[] = {
        {{"read", "read_committed", "rec_version", "nowait"}, true},
        {{"write", "read_committed", "no_rec_version", "wait"}, true},
        {{"isc_tpb_write", "isc_tpb_concurrency", "isc_tpb_nowait"}, false},
        {{}, false}, // the server's default: concurrency, write, wait
    };
    int next = 10;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Params.join(' ').toStdString());
        auto reader = Start(Db.Database(), c.Params);
        const int before = CountRows(*reader);
        auto writer = Start(Db.Database(), {"write", "read_committed", "nowait"});
        RunSql(*writer, QStringLiteral("insert into T values (%1, 'x')").arg(next++));
        writer->Commit();
        EXPECT_EQ(CountRows(*reader), c.SeesLaterCommit ? before + 1 : before);
        reader->Commit();
    }
    // A consistency transaction reserves the tables it reads.
    auto reserving = Start(Db.Database(), {"read", "consistency"});
    EXPECT_EQ(CountRows(*reserving), next - 10 + 1);
    auto writer = Start(Db.Database(), {"write", "read_committed", "nowait"});
    try {
        RunSql(*writer, QStringLiteral("insert into T values (99, 'x')"));
        FAIL() << "wrote into a reserved table";
    } catch (const EIBInterBaseError& e) {
        EXPECT_EQ(e.SQLCode(), -901);
        EXPECT_TRUE(e.Message().contains("lock conflict")) << e.Message().toStdString();
    }

    TIBTransaction bad;
    bad.SetDefaultDatabase(&Db.Database());
    bad.SetParams({"read", "bogus"});
    try {
        bad.StartTransaction();
        FAIL();
    } catch (const EIBClientError& e) {
        EXPECT_EQ(e.Message(), "TPB Constant (bogus) is unknown");
    }
}

TEST_F(IBTransactionTest, ReadOnlyTransactionRefusesWrites)
{
    auto reader = Start(Db.Database(), {"read", "read_committed", "rec_version", "nowait"});
    EXPECT_EQ(CountRows(*reader), 1);
    try {
        RunSql(*reader, QStringLiteral("update T set NAME = 'changed'"));
        FAIL() << "a read-only transaction wrote";
    } catch (const EIBInterBaseError& e) {
        EXPECT_EQ(e.IBErrorCode(), isc_read_only_trans);
    }
    EXPECT_TRUE(reader->InTransaction());
}

TEST_F(IBTransactionTest, NowaitFailsAtOnceOnALockedRow)
{
    // Two transactions on one attachment, and one on a second attachment.
    auto second = Db.Connect();
    TIBDatabase* attachments[] = {&Db.Database(), second.get()};
    for (TIBDatabase* other : attachments) {
        SCOPED_TRACE(other == &Db.Database() ? "same attachment" : "second attachment");
        auto holder = Start(Db.Database(), {"write", "read_committed", "rec_version", "nowait"});
        RunSql(*holder, QStringLiteral("update T set NAME = 'held' where ID = 1"));
        auto waiter = Start(*other, {"write", "read_committed", "rec_version", "nowait"});
        try {
            RunSql(*waiter, QStringLiteral("update T set NAME = 'mine' where ID = 1"));
            FAIL() << "updated a locked row";
        } catch (const EIBInterBaseError& e) {
            EXPECT_EQ(e.IBErrorCode(), isc_deadlock);
            EXPECT_EQ(e.SQLCode(), -913);
            EXPECT_TRUE(e.Message().contains("update conflicts with concurrent update")) << e.Message().toStdString();
        }
        waiter->Rollback();
        holder->Rollback();
    }
}

TEST_F(IBTransactionTest, RetainingKeepsTheTransactionActive)
{
    auto writer = Start(Db.Database(), {"write", "read_committed", "nowait"});
    TIBSQL insert;
    insert.SetTransaction(writer.get());
    insert.SQL().SetText(QStringLiteral("insert into T (ID) values (:ID)"));
    insert.ParamByName("ID").SetAsInteger(2);
    insert.ExecQuery();
    writer->CommitRetaining();
    EXPECT_TRUE(writer->InTransaction());
    EXPECT_TRUE(insert.Prepared());

    auto other = Db.Connect();
    auto observer = Start(*other, {"read", "read_committed", "rec_version"});
    EXPECT_EQ(CountRows(*observer), 2); // committed

    insert.ParamByName("ID").SetAsInteger(3);
    insert.ExecQuery();
    writer->RollbackRetaining();
    EXPECT_TRUE(writer->InTransaction());
    EXPECT_EQ(CountRows(*writer), 2); // the third row is undone
    insert.ParamByName("ID").SetAsInteger(4);
    insert.ExecQuery();
    writer->Commit();
    EXPECT_FALSE(writer->InTransaction());
    EXPECT_EQ(CountRows(*observer), 3);
    EXPECT_THROW(writer->Commit(), EIBClientError);
    EXPECT_THROW(writer->CommitRetaining(), EIBClientError);
}

TEST_F(IBTransactionTest, EndingWithoutCommitRollsBack)
{
    {
        TIBTransaction forgotten;
        forgotten.SetDefaultDatabase(&Db.Database());
        forgotten.StartTransaction();
        RunSql(forgotten, QStringLiteral("insert into T values (5, 'lost')"));
    }
    auto writer = Start(Db.Database(), {});
    RunSql(*writer, QStringLiteral("insert into T values (6, 'lost too')"));
    Db.Database().Close(); // ends the transaction with the attachment
    EXPECT_FALSE(writer->InTransaction());
    Db.Database().Open();
    auto reader = Start(Db.Database(), {"read"});
    EXPECT_EQ(CountRows(*reader), 1);
}

TEST_F(IBTransactionTest, DefaultAndInternalTransactions)
{
    TIBDatabase& database = Db.Database();
    ASSERT_NE(database.InternalTransaction(), nullptr);
    EXPECT_EQ(database.InternalTransaction()->DefaultDatabase(), &database);
    database.InternalTransaction()->SetParams({"read", "read_committed", "rec_version", "nowait"});
    database.InternalTransaction()->StartTransaction();

    TIBTransaction main;
    database.SetDefaultTransaction(&main);
    EXPECT_EQ(main.DefaultDatabase(), &database);
    main.StartTransaction();
    TIBSQL sql;
    sql.SetDatabase(&database); // the transaction comes from the database
    sql.SQL().SetText(QStringLiteral("select NAME from T"));
    sql.ExecQuery();
    EXPECT_EQ(sql.Transaction(), &main);
    EXPECT_EQ(sql.FieldByName("NAME").AsString(), "one");
    main.Commit(); // closes the cursor it ran on
    EXPECT_FALSE(sql.Open());
    EXPECT_EQ(CountRows(*database.InternalTransaction()), 1);
}
