// A connection that another attachment kills (through MON$ATTACHMENTS) while
// a transaction is active and a cursor is half read: every later call reports
// the loss as an error, cleanup never throws, and the file stays usable.
#include "IBSQL.h"
#include "IBTestDatabase.h"

#include <gtest/gtest.h>

namespace {

constexpr int RowTotal = 3000;
constexpr int isc_att_shutdown = 335544856;

class IBLostConnectionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Db.Execute(QStringLiteral("create table T (ID integer not null primary key, NAME varchar(40))"));
        // ":i" is a PSQL variable here, not a parameter of ours.
        TIBTransaction transaction;
        transaction.SetDefaultDatabase(&Db.Database());
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
        auto killer = Db.Connect();
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

    // A fresh connection to the same file reads what was committed before.
    void ExpectFileUsable()
    {
        auto fresh = Db.Connect();
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

    TIBTestDatabase Db;
};

} // namespace

TEST_F(IBLostConnectionTest, KilledAttachmentReportsErrorsAndClosesCleanly)
{
    auto database = Db.Connect();
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

    // The rest of the cursor is gone: an error, and the cursor is closed.
    try {
        cursor->Next();
        ADD_FAILURE() << "Next() after the kill did not fail";
    } catch (const EIBInterBaseError& e) {
        EXPECT_EQ(e.IBErrorCode(), isc_att_shutdown) << e.what();
    }
    EXPECT_FALSE(cursor->Open());
    EXPECT_THROW(cursor->Next(), EIBClientError); // no cursor any more

    // Running the prepared statement again, and a statement never prepared.
    EXPECT_THROW(cursor->ExecQuery(), EIBInterBaseError);
    EXPECT_FALSE(cursor->Open());
    {
        TIBSQL other;
        other.SetTransaction(transaction.get());
        other.SQL().SetText(QStringLiteral("select count(*) from T"));
        EXPECT_THROW(other.ExecQuery(), EIBInterBaseError);
    }
    // Nor can work be started on it.
    {
        TIBTransaction another;
        another.SetDefaultDatabase(database.get());
        EXPECT_THROW(another.StartTransaction(), EIBInterBaseError);
        EXPECT_FALSE(another.InTransaction());
    }

    EXPECT_THROW(transaction->Commit(), EIBInterBaseError);

    // Cleanup lets every handle go. The rollback reports the loss too, yet
    // leaves the transaction inactive: it can be started again, and then
    // fails on the dead attachment rather than "Transaction is active".
    EXPECT_NO_THROW(cursor->Close());
    EXPECT_NO_THROW(cursor->FreeHandle());
    EXPECT_FALSE(cursor->Prepared());
    EXPECT_THROW(transaction->Rollback(), EIBInterBaseError);
    EXPECT_FALSE(transaction->InTransaction());
    EXPECT_THROW(transaction->StartTransaction(), EIBInterBaseError);
    EXPECT_FALSE(transaction->InTransaction());
    // Detaching a killed attachment may succeed or report the loss; either
    // way the database is closed afterwards.
    try {
        database->Close();
    } catch (const EIBError&) {
    }
    EXPECT_FALSE(database->Connected());
    EXPECT_THROW(transaction->StartTransaction(), EIBClientError); // database closed

    cursor.reset();
    transaction.reset();
    database.reset();

    ExpectFileUsable();
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
