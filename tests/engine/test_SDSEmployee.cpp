// The data set on a real schema: Firebird's sample employee database, built
// from the script its examples package ships (domains, computed columns,
// array columns, composite keys, checks, triggers, a join view), with the
// framework's tables beside it. Every relation and view is opened and its
// values compared with a plain fetch.
#include "SDS.h"
#include "SDS_p.h"

#include "EmployeeDatabase.h"
#include "IBSQL.h"
#include "IBTestDatabase.h"
#include "SDatabase.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <ibase.h>

#include <map>
#include <memory>

namespace {

// The fixture's own additions: a view the server updates by itself, a join
// view made writable by a trigger, and relations the local cache cannot serve.
const char* const Additions = R"(
CREATE VIEW EMP_NAMES AS SELECT EMP_NO, FIRST_NAME, LAST_NAME FROM EMPLOYEE;
CREATE VIEW EMP_DEPT AS SELECT EMPLOYEE.EMP_NO, EMPLOYEE.PHONE_EXT, DEPARTMENT.DEPARTMENT
  FROM EMPLOYEE, DEPARTMENT WHERE EMPLOYEE.DEPT_NO = DEPARTMENT.DEPT_NO;
SET TERM ^ ;
CREATE TRIGGER EMP_DEPT_BU FOR EMP_DEPT BEFORE UPDATE AS
BEGIN
  UPDATE EMPLOYEE SET PHONE_EXT = NEW.PHONE_EXT WHERE EMP_NO = OLD.EMP_NO;
END^
SET TERM ; ^
CREATE TABLE NOTES (SYS$ID INTEGER, TXT VARCHAR(10), SYS$TIME TIMESTAMP);
)";

void Check(const ISC_STATUS* status)
{
    if (status[0] == 1 && status[1] != 0) {
        char text[512];
        const ISC_STATUS* vector = status;
        fb_interpret(text, sizeof text, &vector);
        throw std::runtime_error(text);
    }
}

// SQL cannot write an array element: the client API builds the array as a
// slice and the update stores its id. The legacy API does the slice layout.
void PutHeadCount(const QString& path, const char* where, const std::array<ISC_LONG, 4>& counts)
{
    ISC_STATUS_ARRAY status;
    isc_db_handle db = 0;
    isc_tr_handle tr = 0;
    isc_stmt_handle stmt = 0;
    const QByteArray file = QFile::encodeName(path);
    const char dpb[] = {isc_dpb_version1, isc_dpb_user_name, 6, 'S', 'Y', 'S', 'D', 'B', 'A'};
    Check((isc_attach_database(status, 0, file.constData(), &db, sizeof dpb, dpb), status));
    Check((isc_start_transaction(status, &tr, 1, &db, 0, nullptr), status));

    ISC_ARRAY_DESC desc;
    Check((isc_array_lookup_bounds(status, &db, &tr, "PROJ_DEPT_BUDGET", "QUART_HEAD_CNT", &desc), status));
    ISC_QUAD arrayId{0, 0};
    std::array<ISC_LONG, 4> slice = counts;
    ISC_LONG sliceLength = sizeof slice;
    Check((isc_array_put_slice(status, &db, &tr, &arrayId, &desc, slice.data(), &sliceLength), status));

    const QByteArray sql = QByteArray("update PROJ_DEPT_BUDGET set QUART_HEAD_CNT = ? where ") + where;
    std::vector<char> area(XSQLDA_LENGTH(1));
    auto* params = reinterpret_cast<XSQLDA*>(area.data());
    params->version = SQLDA_VERSION1;
    params->sqln = 1;
    Check((isc_dsql_allocate_statement(status, &db, &stmt), status));
    Check((isc_dsql_prepare(status, &tr, &stmt, 0, sql.constData(), SQL_DIALECT_V6, nullptr), status));
    Check((isc_dsql_describe_bind(status, &stmt, SQLDA_VERSION1, params), status));
    short notNull = 0;
    params->sqlvar[0].sqldata = reinterpret_cast<ISC_SCHAR*>(&arrayId);
    params->sqlvar[0].sqlind = &notNull;
    Check((isc_dsql_execute(status, &tr, &stmt, SQLDA_VERSION1, params), status));
    Check((isc_dsql_free_statement(status, &stmt, DSQL_drop), status));
    Check((isc_commit_transaction(status, &tr), status));
    Check((isc_detach_database(status, &db), status));
}

// The relations and views of the database, the framework's included.
QStringList UserRelations(TIBDatabase& database)
{
    TIBTransaction transaction;
    transaction.SetDefaultDatabase(&database);
    transaction.StartTransaction();
    TIBSQL sql;
    sql.SetTransaction(&transaction);
    sql.SQL().SetText(QStringLiteral("select trim(RDB$RELATION_NAME) from RDB$RELATIONS "
                                     "where coalesce(RDB$SYSTEM_FLAG, 0) = 0 order by 1"));
    QStringList names;
    for (sql.ExecQuery(); !sql.Eof(); sql.Next())
        names << sql.Fields(0).AsString();
    sql.Close();
    transaction.Commit();
    return names;
}

// The employee database is built once for the suite: the script alone runs
// some hundreds of statements. Tests that write take their changes back.
class SDSEmployeeTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        FTestDb = new TIBTestDatabase();
        employee::Create(*FTestDb);
        FTestDb->CreateFrameworkSchema();
        FTestDb->ExecuteScript(QString::fromLatin1(Additions));
        FTestDb->Database().Close(); // the slice goes through an attachment of its own
        PutHeadCount(FTestDb->Path(), "FISCAL_YEAR = 1994 and PROJ_ID = 'GUIDE' and DEPT_NO = '100'", {1, 1, 1, 0});
        FTestDb->Database().Open();
    }
    static void TearDownTestSuite()
    {
        delete FTestDb;
        FTestDb = nullptr;
    }

    void SetUp() override
    {
        FDb = NewDatabase(false);
        FDb->Open();
        FTransaction.SetDefaultDatabase(FDb.get());
    }
    void TearDown() override
    {
        if (FTransaction.InTransaction())
            FTransaction.Rollback();
    }

    static std::unique_ptr<TSDatabase> NewDatabase(bool metadataCache)
    {
        auto db = std::make_unique<TSDatabase>();
        db->SetDatabaseName(FTestDb->Path());
        db->SetParams(FTestDb->ConnectParams());
        db->SetMetadataCache(metadataCache);
        return db;
    }

    std::unique_ptr<TSDS> NewSDS(const QString& table, TSDatabase* db = nullptr, TIBTransaction* transaction = nullptr)
    {
        auto sds = std::make_unique<TSDS>();
        sds->setObjectName(QStringLiteral("ds") + table);
        sds->SetDatabase(db ? db : FDb.get());
        sds->SetTransaction(transaction ? transaction : &FTransaction);
        sds->SetTableName(table);
        return sds;
    }

    // Every field the data set has agrees with the plain fetch of the same
    // select, row by row matched by row address; returns the rows compared.
    int CompareWithPlainFetch(TSDS& sds, const QString& select)
    {
        TIBSQL plain;
        plain.SetTransaction(&FTransaction);
        if (!FTransaction.InTransaction())
            FTransaction.StartTransaction();
        plain.SQL().SetText(select);
        std::map<QByteArray, std::map<QString, Variant>> rows;
        for (plain.ExecQuery(); !plain.Eof(); plain.Next()) {
            std::map<QString, Variant> row;
            for (int i = 0; i < plain.FieldCount(); ++i) {
                const TIBXSQLVAR& column = plain.Fields(i);
                if ((column.SQLType() & ~1) == IBType::Array)
                    continue; // no field may carry it (checked below)
                const TField* field = sds.FindField(column.Name());
                row[column.Name()] = column.IsNull() || !field ? Variant::Null() : field->Normalize(column.AsVariant());
            }
            rows[plain.FieldByName(SDSNames::DbKey).AsBytes()] = row;
        }
        plain.Close();

        int compared = 0;
        for (sds.First(); !sds.Eof(); sds.Next(), ++compared) {
            const auto found = rows.find(sds.DbKeyField()->AsBytes());
            if (found == rows.end()) {
                ADD_FAILURE() << sds.TableName().toStdString() << ": a row the plain fetch does not have";
                continue;
            }
            for (TField* field : sds.Fields()) {
                if (field == sds.DbKeyField())
                    continue;
                const auto value = found->second.find(field->FieldName());
                if (value == found->second.end()) {
                    ADD_FAILURE() << sds.TableName().toStdString() << "." << field->FieldName().toStdString()
                                  << ": not a column of the select";
                    continue;
                }
                EXPECT_TRUE(field->Value() == value->second)
                    << sds.TableName().toStdString() << "." << field->FieldName().toStdString() << " = "
                    << field->AsString().toStdString();
            }
        }
        EXPECT_EQ(compared, static_cast<int>(rows.size())) << sds.TableName().toStdString();
        return compared;
    }

    static QString WholeRow(const QString& table)
    {
        return QStringLiteral("select %1.*, RDB$DB_KEY as IBX_INTERNAL_DBKEY from %1").arg(table);
    }

    static TIBTestDatabase* FTestDb;
    std::unique_ptr<TSDatabase> FDb;
    TIBTransaction FTransaction;
};

TIBTestDatabase* SDSEmployeeTest::FTestDb = nullptr;

// Both sources of field definitions: the server's catalogue and the
// connection's metadata tables.
TEST_F(SDSEmployeeTest, EveryRelationAndViewOpensWithTheValuesOfAPlainFetch)
{
    for (const bool metadataCache : {false, true}) {
        SCOPED_TRACE(metadataCache ? "metadata cache" : "catalogue");
        auto db = NewDatabase(metadataCache);
        db->Open();
        TIBTransaction transaction;
        transaction.SetDefaultDatabase(db.get());
        const QStringList relations = UserRelations(*db);
        ASSERT_TRUE(relations.contains("PHONE_LIST"));
        ASSERT_TRUE(relations.contains("SYS_USER"));
        for (const QString& relation : relations) {
            SCOPED_TRACE(relation.toStdString());
            auto sds = NewSDS(relation, db.get(), &transaction);
            ASSERT_NO_THROW(sds->Open());
            CompareWithPlainFetch(*sds, WholeRow(relation));
        }
    }
}

TEST_F(SDSEmployeeTest, ComputedColumnsAreReadOnEveryLoadPath)
{
    struct Case
    {
        const char* Table;
        const char* Computed;
        bool RowByRow;
    };
    for (const Case& c : {Case{"EMPLOYEE", "FULL_NAME", false}, Case{"EMPLOYEE", "FULL_NAME", true},
                          Case{"SALARY_HISTORY", "NEW_SALARY", false}, Case{"SALARY_HISTORY", "NEW_SALARY", true},
                          Case{"SALES", "AGED", false}, Case{"SALES", "AGED", true}}) {
        SCOPED_TRACE(std::string(c.Table) + (c.RowByRow ? " row by row" : " directly"));
        auto sds = NewSDS(c.Table);
        int handled = 0;
        if (c.RowByRow)
            sds->OnRecordLoaded = [&handled](TDataSet*) { ++handled; };
        sds->Open();
        const int rows = CompareWithPlainFetch(*sds, WholeRow(c.Table));
        EXPECT_GT(rows, 0);
        EXPECT_EQ(handled, c.RowByRow ? rows : 0);

        TField* computed = sds->FieldByName(c.Computed);
        EXPECT_EQ(computed->FieldKind(), fkInternalCalc);
        int filled = 0;
        for (sds->First(); !sds->Eof(); sds->Next())
            filled += computed->IsNull() ? 0 : 1;
        EXPECT_GT(filled, 0); // null only where the expression is (the plain fetch agrees)
        // Read, never written.
        for (TIBSQL* sql : {&InsertSQL(*sds), &UpdateSQL(*sds), &UpdateByKeySQL(*sds)})
            EXPECT_FALSE(sql->SQL().Text().contains(c.Computed)) << sql->SQL().Text().toStdString();
    }
    auto employees = NewSDS("EMPLOYEE");
    employees->Open();
    ASSERT_TRUE(employees->Locate("EMP_NO", Variant(2)));
    EXPECT_EQ(employees->FieldByName("FULL_NAME")->AsString(), "Nelson, Robert");
}

TEST_F(SDSEmployeeTest, AColumnASelectTextJoinsInFillsItsField)
{
    for (const bool rowByRow : {false, true}) {
        SCOPED_TRACE(rowByRow ? "row by row" : "directly");
        auto sds = NewSDS("EMPLOYEE");
        sds->SetCommandText("select EMPLOYEE.*, EMPLOYEE.RDB$DB_KEY as IBX_INTERNAL_DBKEY, DEPARTMENT.DEPARTMENT "
                            "from EMPLOYEE join DEPARTMENT on DEPARTMENT.DEPT_NO = EMPLOYEE.DEPT_NO");
        if (rowByRow)
            sds->OnRecordLoaded = [](TDataSet*) {};
        sds->Open();
        CompareWithPlainFetch(*sds, sds->CommandText());
        ASSERT_TRUE(sds->Locate("EMP_NO", Variant(2)));
        EXPECT_EQ(sds->FieldByName("DEPARTMENT")->AsString(), "Engineering");
        EXPECT_EQ(sds->FieldByName("FULL_NAME")->AsString(), "Nelson, Robert");
        EXPECT_FALSE(UpdateSQL(*sds).SQL().Text().contains("DEPARTMENT ="));
    }
}

TEST_F(SDSEmployeeTest, ArrayColumnsAreLeftOutAndTheRestOfTheRowIsUsable)
{
    // One array filled: the relation still opens, every other column read.
    auto budget = NewSDS("PROJ_DEPT_BUDGET");
    budget->Open();
    EXPECT_EQ(budget->FindField("QUART_HEAD_CNT"), nullptr);
    EXPECT_FALSE(budget->FieldDefs().Find("QUART_HEAD_CNT"));
    ASSERT_TRUE(
        budget->Locate("FISCAL_YEAR;PROJ_ID;DEPT_NO", VarArrayOf({Variant(1994), Variant("GUIDE"), Variant("100")})));
    EXPECT_EQ(budget->FieldByName("PROJECTED_BUDGET")->AsFloat(), 200000);
    CompareWithPlainFetch(*budget, WholeRow("PROJ_DEPT_BUDGET"));
    for (TIBSQL* sql : {&InsertSQL(*budget), &UpdateSQL(*budget), &UpdateByKeySQL(*budget)})
        EXPECT_FALSE(sql->SQL().Text().contains("QUART_HEAD_CNT")) << sql->SQL().Text().toStdString();
    {
        // The generated update of the row with the array keeps the array (the
        // fixture's transaction is rolled back afterwards).
        TIBSQL update;
        update.SetTransaction(&FTransaction);
        update.SQL().SetText(UpdateByKeySQL(*budget).SQL().Text());
        for (int i = 0; i < update.ParamCount(); ++i)
            update.Params(i).SetAsVariant(budget->FieldByName(update.Params(i).Name())->Value());
        update.ExecQuery();
        TIBSQL check;
        check.SetTransaction(&FTransaction);
        check.SQL().SetText("select count(*) from PROJ_DEPT_BUDGET where QUART_HEAD_CNT is not null "
                            "and FISCAL_YEAR = 1994 and PROJ_ID = 'GUIDE' and DEPT_NO = '100'");
        check.ExecQuery();
        EXPECT_EQ(check.Fields(0).AsInteger(), 1);
    }

    // A select text that returns an array column: the same.
    auto text = NewSDS("JOB");
    text->SetCommandText("select JOB.*, JOB.RDB$DB_KEY as IBX_INTERNAL_DBKEY from JOB");
    text->Open();
    EXPECT_EQ(text->FindField("LANGUAGE_REQ"), nullptr);
    EXPECT_GT(text->RecordCount(), 0);

    // Asked for by name, the array is refused with its relation and column.
    for (const bool allFields : {true, false}) {
        SCOPED_TRACE(allFields ? "with the catalogue's fields" : "persistent fields only");
        auto named = NewSDS("PROJ_DEPT_BUDGET");
        if (!allFields)
            named->SetOptions(named->Options() - TSDSOptions{dsoLoadAllFields});
        for (const char* name : {"FISCAL_YEAR", "QUART_HEAD_CNT"}) {
            auto* field = new TStringField(named.get());
            field->SetFieldName(name);
            field->SetDataSet(named.get());
        }
        try {
            named->Open();
            ADD_FAILURE() << "an array column was read";
        } catch (const Exception& error) {
            EXPECT_TRUE(error.Message().contains("PROJ_DEPT_BUDGET.QUART_HEAD_CNT")) << error.Message().toStdString();
        }
        EXPECT_FALSE(named->Active());
    }
}

TEST_F(SDSEmployeeTest, AJoinViewsRowAddressIsSizedByTheServerAndReReadsTheRow)
{
    auto view = NewSDS("PHONE_LIST");
    view->Open();
    ASSERT_NE(view->DbKeyField(), nullptr);
    EXPECT_EQ(view->DbKeyField()->Size(), 16); // 8 bytes for each of its two tables
    auto table = NewSDS("EMPLOYEE");
    table->Open();
    EXPECT_EQ(table->DbKeyField()->Size(), 8);

    // The generated re-read, with the row address the load stored.
    ASSERT_TRUE(view->Locate("EMP_NO", Variant(4)));
    const QByteArray dbKey = view->DbKeyField()->AsBytes();
    ASSERT_EQ(dbKey.size(), 16);
    TIBSQL refresh;
    refresh.SetTransaction(&FTransaction);
    refresh.SQL().SetText(RefreshSQL(*view).SQL().Text());
    refresh.ParamByName(SDSNames::DbKey).SetAsBytes(dbKey);
    refresh.ExecQuery();
    ASSERT_FALSE(refresh.Eof());
    EXPECT_EQ(refresh.FieldByName("EMP_NO").AsInteger(), 4);
    EXPECT_EQ(refresh.FieldByName("LAST_NAME").AsString(), view->FieldByName("LAST_NAME")->AsString());
    EXPECT_EQ(refresh.FieldByName(SDSNames::DbKey).AsBytes(), dbKey);
    refresh.Next();
    EXPECT_TRUE(refresh.Eof());

    // A form's own row-address field is fitted to the server's length too.
    auto persistent = NewSDS("PHONE_LIST");
    for (const char* name : {"EMP_NO", "IBX_INTERNAL_DBKEY"}) {
        TField* field = std::string(name) == "EMP_NO" ? static_cast<TField*>(new TIntegerField(persistent.get()))
                                                      : new TBytesField(persistent.get());
        field->SetFieldName(name);
        if (field->DataType() == ftBytes)
            field->SetSize(8);
        field->SetDataSet(persistent.get());
    }
    persistent->Open();
    ASSERT_TRUE(persistent->Locate("EMP_NO", Variant(4)));
    EXPECT_EQ(persistent->DbKeyField()->Size(), 16);
    EXPECT_EQ(persistent->DbKeyField()->AsBytes(), dbKey);
}

TEST_F(SDSEmployeeTest, AViewTheServerCannotUpdateIsReadOnlyFromTheStart)
{
    struct Case
    {
        const char* View;
        bool ReadOnly;
    };
    // A join view without triggers; a single-table view; a join view with an update trigger.
    for (const Case& c : {Case{"PHONE_LIST", true}, Case{"EMP_NAMES", false}, Case{"EMP_DEPT", false}}) {
        SCOPED_TRACE(c.View);
        auto sds = NewSDS(c.View);
        sds->Open();
        EXPECT_EQ(sds->ReadOnlyView(), c.ReadOnly);
        EXPECT_EQ(sds->ReadOnly(), c.ReadOnly);
        EXPECT_EQ(sds->CanModify(), !c.ReadOnly);
        if (c.ReadOnly) {
            // Even with the switch turned back, a program's write is refused in plain words.
            sds->SetReadOnly(false);
            const std::vector<std::function<void()>> writes{[&] { sds->Edit(); }, [&] { sds->Insert(); },
                                                            [&] { sds->Delete(); }};
            for (const auto& write : writes) {
                try {
                    write();
                    ADD_FAILURE() << "a write was accepted";
                } catch (const Exception& error) {
                    EXPECT_TRUE(error.Message().contains("PHONE_LIST")) << error.Message().toStdString();
                    EXPECT_TRUE(error.Message().contains("только для чтения")) << error.Message().toStdString();
                }
                EXPECT_EQ(sds->State(), dsBrowse);
            }
        } else {
            sds->Edit(); // the post is the editing code's; entering edit is enough here
            sds->Cancel();
        }
    }

    // The same data set on a relation the server writes is writable again.
    auto reused = NewSDS("PHONE_LIST");
    reused->Open();
    EXPECT_TRUE(reused->ReadOnly());
    reused->Close();
    reused->SetTableName("EMP_NAMES");
    reused->Open();
    EXPECT_FALSE(reused->ReadOnlyView());
    EXPECT_FALSE(reused->ReadOnly());

    // Without server writes the rows are a local table: edits stay in memory.
    auto local = NewSDS("PHONE_LIST");
    local->SetOptions(local->Options() - TSDSOptions{dsoChangesResolved});
    local->Open();
    EXPECT_FALSE(local->ReadOnly());
    local->Edit();
    local->FieldByName("PHONE_EXT")->SetAsString("999");
    local->Post();
}

class SDSEmployeeCacheTest : public SDSEmployeeTest
{
protected:
    void SetUp() override
    {
        SDSEmployeeTest::SetUp();
        FDb->Close();
        FDb->SetLocalCache(true);
        FDb->Open();
    }

    QTemporaryDir FTemp;
    TEnvGuard FTempVar{"TEMP", FTemp.path().toLocal8Bit()};
};

TEST_F(SDSEmployeeCacheTest, TheCacheIsRefusedWhereItCouldNeverBeUsed)
{
    struct Case
    {
        const char* Table;
        const char* Missing;
    };
    for (const Case& c : {Case{"COUNTRY", "SYS$TIME"}, Case{"NOTES", "ключа"}}) {
        SCOPED_TRACE(c.Table);
        {
            auto sds = NewSDS(c.Table);
            sds->SetOptions(sds->Options() + TSDSOptions{dsoLocalCachData});
            try {
                sds->Open();
                ADD_FAILURE() << "the cache option was taken";
            } catch (const EHintError& error) {
                EXPECT_TRUE(error.Message().contains(c.Table)) << error.Message().toStdString();
                EXPECT_TRUE(error.Message().contains(c.Missing)) << error.Message().toStdString();
            }
            EXPECT_FALSE(sds->Active());
            EXPECT_TRUE(sds->CacheFileName().isEmpty());

            // Without the option the relation opens as usual.
            sds->SetOptions(sds->Options() - TSDSOptions{dsoLocalCachData});
            sds->Open();
            EXPECT_TRUE(sds->Active());
        }
        // No file was written for it, now or when the data set went.
        QStringList files;
        for (QDirIterator it(FTemp.path(), {"*.CDS"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            files << it.next();
        EXPECT_TRUE(std::none_of(files.begin(), files.end(), [&](const QString& f) { return f.contains(c.Table); }))
            << files.join(", ").toStdString();
    }
}

} // namespace
