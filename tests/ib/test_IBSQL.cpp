// Statements: parameters, columns, metadata, blobs and cleanup, against a real
// embedded database.
#include "IBSQL.h"
#include "IBTestDatabase.h"
#include "SysUtils.h"

#include <gtest/gtest.h>

namespace {

class IBSQLTest : public ::testing::Test
{
protected:
    explicit IBSQLTest(const QString& charset = QStringLiteral("WIN1251")) : Db(charset) {}

    void SetUp() override
    {
        Db.ExecuteScript(QStringLiteral(R"(
            create table T (
                ID integer not null primary key,
                SI smallint, BI bigint, DP double precision, FL float,
                N2 numeric(15,2), N4 numeric(18,4), N6 numeric(18,6), N9 numeric(9,3),
                TS timestamp, DA date, TI time,
                V varchar(20), C char(5), M blob sub_type text, BIN blob sub_type 0,
                O char(8) character set octets);
        )"));
        Transaction.SetDefaultDatabase(&Db.Database());
        Transaction.SetParams({"write", "read_committed", "rec_version", "nowait"});
        Transaction.StartTransaction();
        Sql.SetTransaction(&Transaction);
    }

    void Exec(const QString& text)
    {
        Sql.SQL().SetText(text);
        Sql.ExecQuery();
    }

    TIBTestDatabase Db;
    TIBTransaction Transaction;
    TIBSQL Sql;
};

QString Decimal(const char* text)
{
    return QString::fromLatin1(text).replace(QLatin1Char('.'), FormatSettings().DecimalSeparator);
}

} // namespace

TEST(IBPreprocessTest, NamedParametersBecomeQuestionMarks)
{
    const struct
    {
        const char* Sql;
        const char* Expected;
        QStringList Names;
    } cases[] = {
        {"select * from T where A = :a and B = :B_1", "select * from T where A = ? and B = ?", {"A", "B_1"}},
        {"update T set A = :X where B = ? and C = :x", "update T set A = ? where B = ? and C = ?", {"X", "", "X"}},
        {"select ':NOT', \":NOR\" from T -- :NEITHER\nwhere A = :YES /* :NO */",
         "select ':NOT', \":NOR\" from T -- :NEITHER\nwhere A = ? /* :NO */",
         {"YES"}},
        {"select 'it''s :NOT' from T where A=:\"Quoted\"", "select 'it''s :NOT' from T where A=?", {"Quoted"}},
        {"select a :: b, x: from T", "select a :: b, x: from T", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Sql);
        QStringList names;
        EXPECT_EQ(IBPreprocessSQL(QString::fromUtf8(c.Sql), names), QString::fromUtf8(c.Expected));
        EXPECT_EQ(names, c.Names);
    }
}

TEST_F(IBSQLTest, ParametersOfEveryTypeRoundTripWithNulls)
{
    const TDateTime stamp = EncodeDate(2024, 2, 29) + EncodeTime(13, 45, 7, 123);
    const TDateTime old = -(EncodeDate(1899, 12, 30) - EncodeDate(1850, 6, 1)) - EncodeTime(6, 0, 0, 0);
    Sql.SQL().SetText(
        QStringLiteral("insert into T (ID, SI, BI, DP, FL, N2, N4, N6, N9, TS, DA, TI, V, C, M, BIN, O) values "
                       "(:ID, :SI, :BI, :DP, :FL, :N2, :N4, :N6, :N9, :TS, :DA, :TI, :V, :C, :M, :BIN, :O)"));
    const QByteArray binary("\x00\x01\xff\x7f", 4);
    const QString memo = QString(40000, QLatin1Char('m')) + QStringLiteral("конец");
    Sql.ParamByName("ID").SetAsInteger(1);
    Sql.ParamByName("SI").SetAsInteger(-32768);
    Sql.ParamByName("BI").SetAsInt64(-9223372036854775807LL - 1);
    Sql.ParamByName("DP").SetAsDouble(1.0 / 3);
    Sql.ParamByName("FL").SetAsDouble(0.5);
    Sql.ParamByName("N2").SetAsString(QStringLiteral("1234567890123.45"));
    Sql.ParamByName("N4").SetAsVariant(Variant(TCurrency{-12345678}));
    Sql.ParamByName("N6").SetAsInt64(7);
    Sql.ParamByName("N9").SetAsDouble(-0.0005); // rounds away from zero to -0.001
    Sql.ParamByName("TS").SetAsDateTime(stamp);
    Sql.ParamByName("DA").SetAsDateTime(old);
    Sql.ParamByName("TI").SetAsVariant(Variant::FromDateTime(EncodeTime(23, 59, 59, 999)));
    Sql.ParamByName("V").SetAsVariant(Variant(QStringLiteral("varchar")));
    Sql.ParamByName("C").SetAsString(QStringLiteral("ab"));
    Sql.ParamByName("M").SetAsString(memo);
    Sql.ParamByName("BIN").SetAsBytes(binary);
    Sql.ParamByName("O").SetAsBytes(QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
    EXPECT_EQ(Sql.ParamByName("M").AsString(), memo); // a parameter reads back its value
    Sql.ExecQuery();
    EXPECT_EQ(Sql.RowsAffected(), 1);

    // The same statement again: every parameter null but the key.
    for (int i = 1; i < Sql.ParamCount(); ++i)
        Sql.Params(i).SetIsNull();
    Sql.Params(0).SetAsVariant(Variant(2));
    Sql.ExecQuery();

    Exec(QStringLiteral("select * from T order by ID"));
    ASSERT_FALSE(Sql.Eof());
    EXPECT_EQ(Sql.FieldByName("SI").AsInteger(), -32768);
    EXPECT_EQ(Sql.FieldByName("BI").AsInt64(), -9223372036854775807LL - 1);
    EXPECT_EQ(Sql.FieldByName("BI").AsVariant().VarType(), varInt64);
    EXPECT_DOUBLE_EQ(Sql.FieldByName("DP").AsDouble(), 1.0 / 3);
    EXPECT_EQ(Sql.FieldByName("FL").AsDouble(), 0.5);
    EXPECT_EQ(Sql.FieldByName("N2").AsString(), Decimal("1234567890123.45"));
    EXPECT_EQ(Sql.FieldByName("N2").AsCurrency().Scaled, 12345678901234500LL);
    EXPECT_EQ(Sql.FieldByName("N2").AsVariant().VarType(), varCurrency);
    EXPECT_EQ(Sql.FieldByName("N4").AsCurrency().Scaled, -12345678);
    EXPECT_EQ(Sql.FieldByName("N4").AsString(), Decimal("-1234.5678"));
    EXPECT_EQ(Sql.FieldByName("N4").AsInt64(), -1235);
    EXPECT_EQ(Sql.FieldByName("N6").AsString(), Decimal("7.000000"));
    EXPECT_EQ(Sql.FieldByName("N6").AsVariant().VarType(), varDouble);
    EXPECT_EQ(Sql.FieldByName("N9").AsString(), Decimal("-0.001"));
    EXPECT_EQ(Sql.FieldByName("TS").AsDateTime(), stamp);
    EXPECT_EQ(Sql.FieldByName("TS").AsVariant().VarType(), varDate);
    EXPECT_EQ(Sql.FieldByName("DA").AsDateTime(), -(EncodeDate(1899, 12, 30) - EncodeDate(1850, 6, 1)));
    EXPECT_EQ(Sql.FieldByName("TI").AsDateTime(), EncodeTime(23, 59, 59, 999));
    EXPECT_EQ(Sql.FieldByName("V").AsString(), "varchar");
    EXPECT_EQ(Sql.FieldByName("C").AsString(), "ab   ");
    EXPECT_EQ(Sql.FieldByName("M").AsString(), memo);
    EXPECT_EQ(Sql.FieldByName("M").AsVariant().VarType(), varString);
    EXPECT_EQ(Sql.FieldByName("BIN").AsBytes(), binary);
    EXPECT_EQ(Sql.FieldByName("BIN").AsVariant(), Variant(binary));
    EXPECT_EQ(Sql.FieldByName("O").AsVariant(), Variant(QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08", 8)));
    for (int i = 0; i < Sql.FieldCount(); ++i)
        EXPECT_FALSE(Sql.Fields(i).IsNull()) << Sql.Fields(i).Name().toStdString();

    ASSERT_TRUE(Sql.Next());
    EXPECT_EQ(Sql.FieldByName("ID").AsInteger(), 2);
    for (int i = 1; i < Sql.FieldCount(); ++i) {
        const TIBXSQLVAR& field = Sql.Fields(i);
        SCOPED_TRACE(field.Name().toStdString());
        EXPECT_TRUE(field.IsNull());
        EXPECT_TRUE(field.AsVariant().IsNull());
        EXPECT_EQ(field.AsString(), "");
        EXPECT_EQ(field.AsInteger(), 0);
    }
    EXPECT_FALSE(Sql.Next());
    EXPECT_TRUE(Sql.Eof());
    EXPECT_EQ(Sql.RecordCount(), 2);
}

TEST_F(IBSQLTest, ValuesConvertToTheParameterType)
{
    // Whatever the setter, the server converts to the column's type.
    Sql.SQL().SetText(QStringLiteral("insert into T (ID, N2, TS, V, SI) values (?, ?, ?, ?, ?)"));
    Sql.Params(0).SetAsString(QStringLiteral("42"));
    Sql.Params(1).SetAsInteger(3);
    Sql.Params(2).SetAsString(QStringLiteral("2020-01-02 03:04:05"));
    Sql.Params(3).SetAsDouble(2.5);
    Sql.Params(4).SetAsVariant(Variant(true));
    Sql.ExecQuery();
    Exec(QStringLiteral("select ID, N2, TS, V, SI from T where ID = 42"));
    ASSERT_FALSE(Sql.Eof());
    EXPECT_EQ(Sql.Fields(1).AsCurrency().Scaled, 30000);
    EXPECT_EQ(Sql.Fields(2).AsDateTime(), EncodeDate(2020, 1, 2) + EncodeTime(3, 4, 5, 0));
    EXPECT_EQ(Sql.Fields(3).AsDouble(), 2.5);
    EXPECT_EQ(Sql.Fields(4).AsInteger(), 1);
}

TEST_F(IBSQLTest, RepeatedNamesBindTogether)
{
    Sql.SQL().SetText(QStringLiteral("insert into T (ID, SI, V) values (:ID, :ID * 2, 'a'':ID''')"));
    EXPECT_EQ(Sql.ParamCount(), 1);
    Sql.ParamByName("id").SetAsInteger(21);
    Sql.ExecQuery();
    Sql.SQL().SetText(QStringLiteral("select SI, V from T where ID = :ID and :ID > 0"));
    EXPECT_EQ(Sql.ParamCount(), 1);
    Sql.ParamByName("ID").SetAsInteger(21);
    Sql.ExecQuery();
    ASSERT_FALSE(Sql.Eof());
    EXPECT_EQ(Sql.Fields(0).AsInteger(), 42);
    EXPECT_EQ(Sql.Fields(1).AsString(), "a':ID'");
    EXPECT_THROW(Sql.ParamByName("NOPE"), EIBClientError);
}

TEST_F(IBSQLTest, DbKeyTravelsAsItsEightBytes)
{
    Db.Execute(QStringLiteral("insert into T (ID) values (1)"));
    Db.Execute(QStringLiteral("insert into T (ID) values (2)"));
    Exec(QStringLiteral("select RDB$DB_KEY, ID from T where ID = 2"));
    ASSERT_FALSE(Sql.Eof());
    const TIBXSQLVAR& key = Sql.Fields(0);
    EXPECT_EQ(key.SQLType() & ~1, IBType::Text);
    EXPECT_EQ(key.CharSetId(), 1); // OCTETS
    EXPECT_EQ(key.Size(), 8);
    const QByteArray bytes = key.AsBytes();
    ASSERT_EQ(bytes.size(), 8);
    EXPECT_EQ(key.AsVariant(), Variant(bytes));

    Sql.SQL().SetText(QStringLiteral("select ID from T where RDB$DB_KEY = :KEY"));
    Sql.ParamByName("KEY").SetAsBytes(bytes);
    Sql.ExecQuery();
    ASSERT_FALSE(Sql.Eof());
    EXPECT_EQ(Sql.Fields(0).AsInteger(), 2);
    Sql.ParamByName("KEY").SetAsVariant(Variant(bytes));
    Sql.ExecQuery();
    EXPECT_EQ(Sql.Fields(0).AsInteger(), 2);
    EXPECT_FALSE(Sql.Next());
}

TEST_F(IBSQLTest, ColumnMetadataIncludesAliasesAndComputedColumns)
{
    Exec(QStringLiteral("select ID, V as ALIAS_V, C, N2, DP, TS, DA, TI, M, BI, SI, FL, "
                        "ID + 1, V || 'x' as CONCAT, cast(null as integer) NOTHING from T"));
    const struct
    {
        int Type;
        int Scale;
        int SubType;
        int Size;
        const char* Relation;
        const char* SqlName;
        const char* Alias;
    } expected[] = {
        {IBType::Long, 0, 0, 4, "T", "ID", "ID"},
        {IBType::Varying + 1, 0, 0, 20, "T", "V", "ALIAS_V"},
        {IBType::Text + 1, 0, 0, 5, "T", "C", "C"},
        {IBType::Int64 + 1, -2, 1, 8, "T", "N2", "N2"},
        {IBType::Double + 1, 0, 0, 8, "T", "DP", "DP"},
        {IBType::Timestamp + 1, 0, 0, 8, "T", "TS", "TS"},
        {IBType::Date + 1, 0, 0, 4, "T", "DA", "DA"},
        {IBType::Time + 1, 0, 0, 4, "T", "TI", "TI"},
        {IBType::Blob + 1, 0, 1, 8, "T", "M", "M"},
        {IBType::Int64 + 1, 0, 0, 8, "T", "BI", "BI"},
        {IBType::Short + 1, 0, 0, 2, "T", "SI", "SI"},
        {IBType::Float + 1, 0, 0, 4, "T", "FL", "FL"},
        {IBType::Int64, 0, 0, 8, "", "ADD", "ADD"},
        {IBType::Varying + 1, 0, 0, 21, "", "CONCATENATION", "CONCAT"},
        {IBType::Long + 1, 0, 0, 4, "", "CAST", "NOTHING"},
    };
    ASSERT_EQ(Sql.FieldCount(), static_cast<int>(std::size(expected)));
    for (int i = 0; i < Sql.FieldCount(); ++i) {
        const TIBXSQLVAR& field = Sql.Fields(i);
        const auto& e = expected[i];
        SCOPED_TRACE(e.Alias);
        EXPECT_EQ(field.SQLType(), e.Type);
        EXPECT_EQ(field.Scale(), e.Scale);
        EXPECT_EQ(field.SubType(), e.SubType);
        EXPECT_EQ(field.Size(), e.Size);
        EXPECT_EQ(field.RelationName(), e.Relation);
        EXPECT_EQ(field.SqlName(), e.SqlName);
        EXPECT_EQ(field.AliasName(), e.Alias);
        EXPECT_EQ(&Sql.FieldByName(e.Alias), &field);
    }
    EXPECT_EQ(&Sql.FieldByName("alias_v"), &Sql.Fields(1));
    try {
        Sql.FieldByName("V"); // known by its alias only
        FAIL();
    } catch (const EIBClientError& e) {
        EXPECT_EQ(e.Message(), "Field \"V\" not found");
    }
}

TEST_F(IBSQLTest, ExecuteWithoutCursorGivesItsOutputRow)
{
    Exec(QStringLiteral("insert into T (ID, V) values (7, 'seven') returning ID * 10, V"));
    EXPECT_FALSE(Sql.Open());
    EXPECT_FALSE(Sql.Eof());
    EXPECT_EQ(Sql.Fields(0).AsInteger(), 70);
    EXPECT_EQ(Sql.Fields(1).AsString(), "seven");
    Exec(QStringLiteral("delete from T"));
    EXPECT_TRUE(Sql.Eof());
    EXPECT_EQ(Sql.RowsAffected(), 1);
}

TEST_F(IBSQLTest, SingletonSelectGivesItsRowOrNoneAndRefusesTwo)
{
    Db.ExecuteScript(
        QStringLiteral("insert into T (ID, V) values (1, 'one'); insert into T (ID, V) values (2, 'two');"));
    Sql.SQL().SetText(QStringLiteral("select ID, V from T where ID >= :id"));
    Sql.ParamByName("id").SetAsInteger(2);
    Sql.ExecSingleton();
    EXPECT_FALSE(Sql.Open());
    ASSERT_FALSE(Sql.Eof());
    EXPECT_EQ(Sql.Fields(0).AsInteger(), 2);
    EXPECT_EQ(Sql.Fields(1).AsString(), "two");

    Sql.ParamByName("id").SetAsInteger(3);
    Sql.ExecSingleton();
    EXPECT_TRUE(Sql.Eof());
    EXPECT_TRUE(Sql.Fields(0).IsNull());

    Sql.ParamByName("id").SetAsInteger(1);
    EXPECT_THROW(Sql.ExecSingleton(), EIBInterBaseError);
    // The statement stays usable, by cursor as well.
    Sql.ExecQuery();
    EXPECT_EQ(Sql.Fields(0).AsInteger(), 1);
    EXPECT_TRUE(Sql.Next());
    EXPECT_FALSE(Sql.Next());
}

TEST_F(IBSQLTest, TextLinesAndFetchSwitch)
{
    Db.ExecuteScript(QStringLiteral("insert into T (ID) values (1); insert into T (ID) values (2);"));
    Sql.SQL().Add(QStringLiteral("select ID from T"));
    Sql.SQL().Add(QStringLiteral("where ID = 1"));
    EXPECT_EQ(Sql.SQL().Text(), "select ID from T\nwhere ID = 1");
    Sql.Prepare();
    EXPECT_TRUE(Sql.Prepared());
    EXPECT_EQ(Sql.SQLType(), TIBSQL::SQLSelect);
    Sql.SQL().SetLine(1, QStringLiteral("where ID = 2"));
    EXPECT_FALSE(Sql.Prepared()); // a change unprepares

    Sql.SetGoToFirstRecordOnExecute(false);
    Sql.ExecQuery();
    EXPECT_FALSE(Sql.Eof());
    EXPECT_TRUE(Sql.Fields(0).IsNull()); // no row yet
    ASSERT_TRUE(Sql.Next());
    EXPECT_EQ(Sql.Fields(0).AsInteger(), 2);
    EXPECT_FALSE(Sql.Next());
    EXPECT_TRUE(Sql.Eof());
    Sql.Close();
    EXPECT_THROW(Sql.Next(), EIBClientError);

    Sql.SQL().Clear();
    EXPECT_THROW(Sql.ExecQuery(), EIBClientError);
    TIBSQL unbound;
    unbound.SQL().SetText(QStringLiteral("select 1 from RDB$DATABASE"));
    EXPECT_THROW(unbound.ExecQuery(), EIBClientError);
}

TEST_F(IBSQLTest, CyrillicTextRoundTrips)
{
    const QString text = QStringLiteral("Съешь же ещё этих мягких французских булок");
    Sql.SQL().SetText(QStringLiteral("insert into T (ID, V, C, M) values (1, :V, :C, :M)"));
    Sql.ParamByName("V").SetAsString(text.left(20));
    Sql.ParamByName("C").SetAsString(QStringLiteral("ёЁ"));
    Sql.ParamByName("M").SetAsString(text);
    Sql.ExecQuery();
    Transaction.Commit();

    // Through the database's own character set and through UTF8.
    for (const QString& charset : {QStringLiteral("WIN1251"), QStringLiteral("UTF8")}) {
        SCOPED_TRACE(charset.toStdString());
        auto database = Db.Connect(charset);
        TIBTransaction transaction;
        transaction.SetDefaultDatabase(database.get());
        transaction.StartTransaction();
        TIBSQL sql;
        sql.SetTransaction(&transaction);
        sql.SQL().SetText(QStringLiteral("select V, C, M, 'Я' as LIT from T where V = :V"));
        sql.ParamByName("V").SetAsString(text.left(20));
        sql.ExecQuery();
        ASSERT_FALSE(sql.Eof());
        EXPECT_EQ(sql.Fields(0).AsString(), text.left(20));
        EXPECT_EQ(sql.Fields(0).Size(), 20);
        EXPECT_EQ(sql.Fields(1).AsString(), QStringLiteral("ёЁ   "));
        EXPECT_EQ(sql.Fields(2).AsString(), text);
        EXPECT_EQ(sql.Fields(3).AsString(), QStringLiteral("Я"));
    }
}

TEST_F(IBSQLTest, FailureMidFetchAndDroppedStatementsReleaseEverything)
{
    Db.ExecuteScript(QStringLiteral("insert into T (ID) values (1); insert into T (ID) values (2);"
                                    "insert into T (ID) values (3); insert into T (ID) values (4);"));
    Exec(QStringLiteral("select 6 / (3 - ID) from T order by ID"));
    EXPECT_EQ(Sql.Fields(0).AsInteger(), 3);
    ASSERT_TRUE(Sql.Next());
    EXPECT_THROW(Sql.Next(), EIBInterBaseError); // 6 / 0 on the third row
    EXPECT_FALSE(Sql.Open());
    EXPECT_TRUE(Sql.Eof());
    EXPECT_TRUE(Sql.Prepared());
    Sql.ExecQuery(); // the statement is still good
    EXPECT_EQ(Sql.Fields(0).AsInteger(), 3);

    {
        TIBSQL dropped;
        dropped.SetTransaction(&Transaction);
        dropped.SQL().SetText(QStringLiteral("select ID from T"));
        dropped.ExecQuery();
        ASSERT_TRUE(dropped.Open());
    }
    {
        // A statement outliving its transaction and database.
        TIBSQL orphan;
        {
            auto database = Db.Connect();
            TIBTransaction transaction;
            transaction.SetDefaultDatabase(database.get());
            transaction.StartTransaction();
            orphan.SetTransaction(&transaction);
            orphan.SQL().SetText(QStringLiteral("select ID from T"));
            orphan.ExecQuery();
            database->Close();
            EXPECT_FALSE(orphan.Prepared());
            EXPECT_FALSE(transaction.InTransaction());
            database->Open();
            transaction.StartTransaction();
            orphan.ExecQuery();
        }
        EXPECT_EQ(orphan.Transaction(), nullptr);
        EXPECT_FALSE(orphan.Prepared());
        EXPECT_THROW(orphan.ExecQuery(), EIBClientError);
    }
    Transaction.Commit(); // closes the open cursor first
    EXPECT_FALSE(Sql.Open());
    Db.Database().Close(); // nothing left open on the attachment
    EXPECT_FALSE(Sql.Prepared());
}

TEST_F(IBSQLTest, StatementsKeepTheirWordWhenTheirTransactionOrDatabaseGoesFirst)
{
    Db.ExecuteScript(QStringLiteral("insert into T (ID) values (1); insert into T (ID) values (2);"));
    auto clientError = [](const std::function<void()>& call) {
        try {
            call();
        } catch (const EIBClientError& e) {
            return e.Message();
        }
        return QStringLiteral("no error");
    };
    auto database = Db.Connect();
    TIBTransaction survivor;
    survivor.SetDefaultDatabase(database.get());
    TIBSQL viaTransaction; // knows its database only through its transaction
    TIBSQL viaDatabase;    // runs in its database's default transaction
    viaDatabase.SetDatabase(database.get());
    viaTransaction.SQL().SetText(QStringLiteral("select ID from T order by ID"));
    viaDatabase.SQL().SetText(QStringLiteral("select ID from T order by ID"));
    {
        TIBTransaction transaction;
        transaction.SetDefaultDatabase(database.get());
        database->SetDefaultTransaction(&transaction);
        transaction.StartTransaction();
        viaTransaction.SetTransaction(&transaction);
        viaTransaction.ExecQuery();
        viaDatabase.ExecQuery();
        ASSERT_TRUE(viaTransaction.Open());
        ASSERT_TRUE(viaDatabase.Open());
    }
    // The transaction went: its cursors closed, the statements stay prepared.
    for (TIBSQL* sql : {&viaTransaction, &viaDatabase}) {
        EXPECT_FALSE(sql->Open());
        EXPECT_TRUE(sql->Eof());
        EXPECT_TRUE(sql->Prepared());
        EXPECT_EQ(sql->Transaction(), nullptr);
    }
    EXPECT_EQ(database->DefaultTransaction(), nullptr);
    EXPECT_EQ(viaTransaction.Database(), nullptr);
    EXPECT_EQ(clientError([&] { viaTransaction.ExecQuery(); }), "Database not assigned");
    EXPECT_EQ(clientError([&] { viaDatabase.ExecQuery(); }), "Transaction not assigned");

    survivor.StartTransaction();
    viaTransaction.SetTransaction(&survivor);
    viaTransaction.ExecQuery();
    EXPECT_EQ(viaTransaction.Fields(0).AsInteger(), 1);
    ASSERT_TRUE(viaTransaction.Open());

    // The database went: the statements are unprepared and the transaction
    // rolled back, all of them forget it and refuse to run.
    database.reset();
    EXPECT_FALSE(viaTransaction.Open());
    EXPECT_FALSE(viaTransaction.Prepared());
    EXPECT_FALSE(viaDatabase.Prepared());
    EXPECT_EQ(viaTransaction.Database(), nullptr);
    EXPECT_EQ(viaDatabase.Database(), nullptr);
    EXPECT_FALSE(survivor.InTransaction());
    EXPECT_EQ(survivor.DefaultDatabase(), nullptr);
    EXPECT_EQ(clientError([&] { viaTransaction.ExecQuery(); }), "Database not assigned");
    EXPECT_EQ(clientError([&] { viaDatabase.ExecQuery(); }), "Database not assigned");
    EXPECT_EQ(clientError([&] { survivor.StartTransaction(); }), "Database not assigned");
}
