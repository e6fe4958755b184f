// What a server error tells: every error of the status vector with its code
// and arguments, the SQL code, the SQLSTATE and the statement's text, for
// real failures of an embedded database.
#include "IBSQL.h"
#include "IBTestDatabase.h"

#include <gtest/gtest.h>
#include <ibase.h>

#include <optional>
#include <vector>

namespace {

std::vector<int> Codes(const EIBInterBaseError& e)
{
    std::vector<int> codes;
    for (const TIBStatusEntry& entry : e.Status())
        codes.push_back(entry.Code);
    return codes;
}

// The entries' lines put together the way the client library formats a status.
QString JoinedLines(const EIBInterBaseError& e)
{
    QStringList lines;
    for (const TIBStatusEntry& entry : e.Status())
        lines << entry.Text;
    return lines.join(QStringLiteral("\n-"));
}

class IBErrorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Db.ExecuteScript(QStringLiteral(R"(
            create table P (ID integer not null constraint PK_P primary key);
            create table C (ID integer not null constraint PK_C primary key,
                            P_ID integer constraint FK_C_P references P (ID),
                            N integer constraint CK_C_N check (N > 0));
            insert into P values (1);
            insert into C values (1, 1, 1);
            insert into C values (2, null, 1);
        )"));
        Transaction.SetDefaultDatabase(&Db.Database());
        Transaction.SetParams({"write", "read_committed", "rec_version", "nowait"});
        Transaction.StartTransaction();
    }

    // Runs the statement to its last row; the error it raises, if any.
    std::optional<EIBInterBaseError> Failure(const QString& text, const std::function<void(TIBSQL&)>& bind = {})
    {
        TIBSQL sql;
        sql.SetTransaction(&Transaction);
        sql.SQL().SetText(text);
        try {
            if (bind)
                bind(sql);
            sql.ExecQuery();
            while (sql.Next()) {
            }
        } catch (const EIBInterBaseError& e) {
            return e;
        }
        return std::nullopt;
    }

    TIBTestDatabase Db;
    TIBTransaction Transaction;
};

} // namespace

TEST_F(IBErrorTest, ServerFailuresCarryTheWholeStatusSQLStateAndStatement)
{
    // Another attachment holds row 2 for the lock conflict.
    auto other = Db.Connect();
    TIBTransaction holder;
    holder.SetDefaultDatabase(other.get());
    holder.SetParams({"write", "read_committed", "rec_version", "nowait"});
    holder.StartTransaction();
    TIBSQL hold;
    hold.SetTransaction(&holder);
    hold.SQL().SetText(QStringLiteral("update C set N = 2 where ID = 2"));
    hold.ExecQuery();

    const struct
    {
        const char* Sql;
        int SqlCode;
        const char* SQLState;
        std::vector<int> Codes; // the whole status vector, in order
        QStringList FirstArgs;
    } cases[] = {
        {"selec * from C", -104, "42000", {isc_dsql_error, isc_sqlerr, isc_dsql_token_unk_err, isc_random}, {}},
        {"select * from NO_SUCH",
         -204,
         "42S02",
         {isc_dsql_error, isc_sqlerr, isc_dsql_relation_err, isc_random, isc_dsql_line_col_error},
         {}},
        {"insert into C values (1, 1, 1)", -803, "23000", {isc_unique_key_violation, isc_idx_key_value}, {"PK_C", "C"}},
        {"insert into C values (3, 99, 1)",
         -530,
         "23000",
         {isc_foreign_key, isc_foreign_key_target_doesnt_exist, isc_idx_key_value},
         {"FK_C_P", "C"}},
        {"delete from P",
         -530,
         "23000",
         {isc_foreign_key, isc_foreign_key_references_present, isc_idx_key_value},
         {"FK_C_P", "C"}},
        {"insert into C values (3, 1, -1)", -297, "23000", {isc_check_constraint, isc_stack_trace}, {"CK_C_N", "C"}},
        {"update C set N = 5 where ID = 2",
         -913,
         "40001",
         {isc_deadlock, isc_update_conflict, isc_concurrent_transaction},
         {}},
        // Fails on the second row, in Next() rather than ExecQuery().
        {"select 1 / (ID - 2) from C order by ID",
         -802,
         "22012",
         {isc_arith_except, isc_exception_integer_divide_by_zero},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Sql);
        const auto error = Failure(QString::fromUtf8(c.Sql));
        ASSERT_TRUE(error) << "no error";
        EXPECT_EQ(error->SQLCode(), c.SqlCode);
        EXPECT_EQ(error->IBErrorCode(), c.Codes.front());
        EXPECT_EQ(error->SQLState(), QLatin1String(c.SQLState));
        EXPECT_EQ(Codes(*error), c.Codes);
        EXPECT_TRUE(error->HasCode(c.Codes.back()));
        EXPECT_FALSE(error->HasCode(isc_io_error));
        if (!c.FirstArgs.isEmpty()) {
            EXPECT_EQ(error->Status().front().Args, c.FirstArgs);
        }
        EXPECT_EQ(JoinedLines(*error), error->Message());
        EXPECT_EQ(error->SQL(), QString::fromUtf8(c.Sql));
    }
    holder.Rollback();
    // The failures left the transaction usable.
    EXPECT_FALSE(Failure(QStringLiteral("select count(*) from C")));
}

TEST_F(IBErrorTest, ArgumentsAndStatementTextAreKeptAsGiven)
{
    // The text keeps its ":NAME" (the server saw "?"), the argument its letters.
    const QString text = QStringLiteral("insert into C (ID, N) values (:ID, 'пять')");
    const auto error = Failure(text, [](TIBSQL& sql) { sql.ParamByName("ID").SetAsInteger(5); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->IBErrorCode(), isc_convert_error);
    EXPECT_EQ(error->SQLState(), QLatin1String("22018"));
    EXPECT_EQ(error->SQL(), text);
    ASSERT_EQ(error->Status().size(), 1u);
    EXPECT_EQ(error->Status().front().Args, QStringList{QStringLiteral("пять")});
    EXPECT_EQ(error->Status().front().Text, QStringLiteral("conversion error from string \"пять\""));
}

TEST(IBErrorOutsideStatementTest, AttachFailureHasNoStatementAndKeepsTheSystemError)
{
    TIBTestDatabase::PrepareEngine();
    TIBDatabase missing;
    missing.SetDatabaseName(QStringLiteral("/nonexistent/folder/x.fdb"));
    missing.SetParams({QStringLiteral("user_name=SYSDBA")});
    try {
        missing.Open();
        FAIL() << "attached to a missing file";
    } catch (const EIBInterBaseError& e) {
        EXPECT_EQ(e.SQLState(), QLatin1String("08001"));
        EXPECT_TRUE(e.SQL().isEmpty());
        ASSERT_EQ(e.Status().size(), 3u) << e.Message().toStdString();
        EXPECT_EQ(e.Status()[0].Code, isc_io_error);
        EXPECT_EQ(e.Status()[0].Args, (QStringList{"open", "/nonexistent/folder/x.fdb"}));
        EXPECT_EQ(e.Status()[1].Code, isc_io_open_err);
        // The operating system's error has no code of ours; its number is the argument.
        EXPECT_EQ(e.Status()[2].Code, 0);
        EXPECT_EQ(e.Status()[2].Args, QStringList{QString::number(ENOENT)});
        EXPECT_EQ(JoinedLines(e), e.Message());
    }
}
