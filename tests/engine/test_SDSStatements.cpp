// Field definitions, keys, index lists and generated SQL, on embedded
// Firebird, read both from the catalogue and from the connection's metadata
// tables.
#include "SDS.h"
#include "SDS_p.h"

#include "IBSQL.h"
#include "IBTestDatabase.h"
#include "SDatabase.h"

#include "QtPrinters.h"
#include <gtest/gtest.h>

#include <QMap>
#include <QRegularExpression>
#include <memory>

namespace {

const char* const Schema = R"(
CREATE DOMAIN D_LOT AS SMALLINT DEFAULT 1;
CREATE TABLE GOODS (
  SYS$ID INTEGER NOT NULL PRIMARY KEY,
  NAME VARCHAR(40),
  PRICE NUMERIC(15,2),
  SYS$TIME TIMESTAMP);
CREATE TABLE CATEGORY (ID INTEGER NOT NULL PRIMARY KEY, CNAME VARCHAR(20) NOT NULL);
CREATE TABLE ITEM (
  SYS$ID INTEGER NOT NULL PRIMARY KEY,
  CAT_ID INTEGER REFERENCES CATEGORY (ID),
  CODE VARCHAR(10) NOT NULL UNIQUE,
  QTY SMALLINT DEFAULT 1 NOT NULL,
  WEIGHT NUMERIC(4,1),
  RATE NUMERIC(9,3),
  FINE NUMERIC(9,6),
  BIG NUMERIC(18,4),
  HUGE BIGINT,
  RATIO DOUBLE PRECISION,
  SCALE FLOAT,
  MADE DATE,
  AT_TIME TIME,
  STAMP TIMESTAMP,
  FIXED CHAR(3),
  NOTE BLOB SUB_TYPE 1,
  PICTURE BLOB,
  TOTAL COMPUTED BY (QTY * 2),
  SYS$STATE INTEGER NOT NULL,
  LOT D_LOT NOT NULL);
CREATE INDEX IX_ITEM_CODE_CAT ON ITEM (CODE, CAT_ID);
CREATE UNIQUE INDEX A_ITEM_WEIGHT ON ITEM (WEIGHT);
CREATE DESCENDING INDEX IX_ITEM_MADE ON ITEM (MADE);
CREATE TABLE NOKEY (
  CODE INTEGER NOT NULL,
  NOTE BLOB SUB_TYPE 1,
  PICTURE BLOB,
  AMOUNT DOUBLE PRECISION,
  SYS$TIME TIMESTAMP,
  TOTAL COMPUTED BY (AMOUNT * 2));
CREATE TABLE KEYED (A INTEGER NOT NULL, B INTEGER NOT NULL, C VARCHAR(10) NOT NULL UNIQUE);
CREATE UNIQUE INDEX AA_KEYED_B ON KEYED (B);
ALTER TABLE KEYED ADD PRIMARY KEY (B, A);
CREATE TABLE NAMED (ID INTEGER NOT NULL, CODE INTEGER NOT NULL,
  CONSTRAINT PK_NAMED PRIMARY KEY (ID), CONSTRAINT A_UQ_NAMED UNIQUE (CODE));
CREATE TABLE "O'BRIEN" (ID INTEGER NOT NULL, CONSTRAINT "PK_O'BRIEN" PRIMARY KEY (ID));
CREATE TABLE "O'BRIEN2" (ID INTEGER, NAME VARCHAR(5) NOT NULL, SIZE2 INTEGER);
CREATE UNIQUE INDEX "IX_O'B2" ON "O'BRIEN2" (NAME, SIZE2);
)";

// A structure as text, to compare what two sources give.
QStringList Describe(const TFieldDefs& defs)
{
    QStringList result;
    for (int i = 0; i < defs.Count(); ++i) {
        const TFieldDef& d = defs[i];
        result << QStringLiteral("%1 %2 size %3 prec %4 no %5%6%7%8")
                      .arg(d.Name(), FieldTypeName(d.DataType()))
                      .arg(d.Size())
                      .arg(d.Precision())
                      .arg(d.FieldNo())
                      .arg(d.Required() ? " required" : "", d.ReadOnly() ? " readonly" : "",
                           d.InternalCalcField() ? " internal" : "");
    }
    return result;
}

class SDSStatementsTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        FTestDb = new TIBTestDatabase;
        FTestDb->CreateFrameworkSchema();
        FTestDb->ExecuteScript(QString::fromUtf8(Schema));
    }
    static void TearDownTestSuite()
    {
        delete FTestDb;
        FTestDb = nullptr;
    }

    void SetUp() override
    {
        FPlain = FTestDb->Connect();
        FCached = std::make_unique<TSDatabase>();
        FCached->SetDatabaseName(FTestDb->Path());
        FCached->SetParams(FTestDb->ConnectParams());
        FCached->Open();
    }

    // A data set on a table, reading the catalogue (plain connection) or the
    // metadata tables (framework connection).
    std::unique_ptr<TSDS> NewSDS(const QString& table, bool fromCache, QObject* owner = nullptr)
    {
        auto sds = std::make_unique<TSDS>(owner);
        sds->setObjectName("Sds1");
        sds->SetDatabase(fromCache ? static_cast<TIBDatabase*>(FCached.get()) : FPlain.get());
        sds->SetTableName(table);
        return sds;
    }

    static QStringList Lines(const TIBSQL& sql) { return sql.SQL().Lines(); }

    static inline TIBTestDatabase* FTestDb = nullptr;
    std::unique_ptr<TIBDatabase> FPlain;
    std::unique_ptr<TSDatabase> FCached;
};

TEST_F(SDSStatementsTest, GoodsTextsFromEitherSource)
{
    for (bool fromCache : {false, true}) {
        SCOPED_TRACE(fromCache ? "metadata tables" : "catalogue");
        auto sds = NewSDS("GOODS", fromCache);
        sds->ReadFieldDefs();
        sds->BuildStatements();
        EXPECT_EQ(sds->KeyFields(), "SYS$ID");
        EXPECT_EQ(Lines(SelectSQL(*sds)),
                  QStringList({"select GOODS.*, RDB$DB_KEY as IBX_INTERNAL_DBKEY from GOODS", " ORDER BY SYS$ID"}));
        EXPECT_EQ(Lines(InsertSQL(*sds)),
                  QStringList({"insert into GOODS (SYS$ID, NAME, PRICE, SYS$TIME) values (:SYS$ID, :NAME, :PRICE, "
                               "'NOW')"}));
        EXPECT_EQ(Lines(UpdateSQL(*sds)),
                  QStringList({"update GOODS set SYS$ID = :SYS$ID, NAME = :NAME, PRICE = :PRICE, SYS$TIME = 'NOW' "
                               "where RDB$DB_KEY = :IBX_INTERNAL_DBKEY"}));
        EXPECT_EQ(Lines(UpdateByKeySQL(*sds)),
                  QStringList({"update GOODS set SYS$ID = :SYS$ID, NAME = :NAME, PRICE = :PRICE, SYS$TIME = 'NOW' "
                               "where SYS$ID = :SYS$ID"}));
        EXPECT_EQ(Lines(DeleteSQL(*sds)), QStringList({"delete from GOODS where RDB$DB_KEY = :IBX_INTERNAL_DBKEY"}));
        EXPECT_EQ(Lines(DeleteByKeySQL(*sds)), QStringList({"DELETE FROM GOODS WHERE SYS$ID = :SYS$ID"}));
        EXPECT_EQ(Lines(RefreshSQL(*sds)),
                  QStringList({"select GOODS.*, RDB$DB_KEY as IBX_INTERNAL_DBKEY from GOODS where RDB$DB_KEY = "
                               ":IBX_INTERNAL_DBKEY"}));
        EXPECT_EQ(Lines(RefreshByKeySQL(*sds)),
                  QStringList({"SELECT GOODS.*, RDB$DB_KEY as IBX_INTERNAL_DBKEY from GOODS WHERE SYS$ID = "
                               ":SYS$ID"}));

        // A server filter goes between the first line and the order.
        sds->SetServerFilter("PRICE > 0");
        sds->BuildStatements();
        EXPECT_EQ(Lines(SelectSQL(*sds)), QStringList({"select GOODS.*, RDB$DB_KEY as IBX_INTERNAL_DBKEY from GOODS",
                                                       " WHERE PRICE > 0", " ORDER BY SYS$ID"}));
    }
}

TEST_F(SDSStatementsTest, GeneratedStatementsPrepareOnTheServer)
{
    TIBTransaction transaction;
    transaction.SetDefaultDatabase(FPlain.get());
    transaction.StartTransaction();
    for (const char* table : {"GOODS", "ITEM", "NOKEY", "KEYED"}) {
        SCOPED_TRACE(table);
        auto sds = NewSDS(table, false);
        sds->SetTransaction(&transaction);
        sds->SetServerFilter("1 = 1");
        sds->ReadFieldDefs();
        sds->BuildStatements();
        for (TIBSQL* sql : {&SelectSQL(*sds), &InsertSQL(*sds), &UpdateSQL(*sds), &UpdateByKeySQL(*sds),
                            &DeleteSQL(*sds), &DeleteByKeySQL(*sds), &RefreshSQL(*sds), &RefreshByKeySQL(*sds)}) {
            SCOPED_TRACE(sql->SQL().Text().toStdString());
            EXPECT_NO_THROW(sql->Prepare());
        }
    }
}

TEST_F(SDSStatementsTest, DefinitionsAreTheSameFromBothSources)
{
    for (const char* table : {"ITEM", "NOKEY", "GOODS"}) {
        SCOPED_TRACE(table);
        auto fromServer = NewSDS(table, false);
        auto fromCache = NewSDS(table, true);
        fromServer->ReadFieldDefs();
        fromCache->ReadFieldDefs();
        EXPECT_EQ(Describe(fromServer->FieldDefs()), Describe(fromCache->FieldDefs()));
    }

    auto sds = NewSDS("ITEM", true);
    sds->ReadFieldDefs();
    EXPECT_EQ(Describe(sds->FieldDefs()),
              QStringList({
                  "SYS$ID Integer size 0 prec 0 no 0", // never required: a system column
                  "CAT_ID Integer size 0 prec 0 no 1",
                  "CODE String size 10 prec 0 no 2 required",
                  "QTY SmallInt size 0 prec 0 no 3 required", // the default is the column's, not its domain's
                  "WEIGHT BCD size 1 prec 4 no 4",            // NUMERIC(4,1) is stored as SMALLINT
                  "RATE BCD size 3 prec 9 no 5",
                  "FINE Float size 0 prec 0 no 6", // more than four decimals
                  "BIG BCD size 4 prec 18 no 7",
                  "HUGE LargeInt size 0 prec 0 no 8",
                  "RATIO Float size 0 prec 0 no 9",
                  "SCALE Float size 0 prec 0 no 10",
                  "MADE Date size 0 prec 0 no 11",
                  "AT_TIME Time size 0 prec 0 no 12",
                  "STAMP DateTime size 0 prec 0 no 13",
                  "FIXED String size 3 prec 0 no 14",
                  "NOTE Memo size 0 prec 0 no 15",
                  "PICTURE Blob size 0 prec 0 no 16",
                  "TOTAL LargeInt size 0 prec 0 no 17 readonly internal",
                  "SYS$STATE Integer size 0 prec 0 no 18",
                  "LOT SmallInt size 0 prec 0 no 19", // NOT NULL with its domain's default
                  "IBX_INTERNAL_DBKEY Bytes size 8 prec 0 no 21",
              }));
}

TEST_F(SDSStatementsTest, IndexKindsFromBothSources)
{
    for (bool fromCache : {false, true}) {
        SCOPED_TRACE(fromCache ? "metadata tables" : "catalogue");
        auto sds = NewSDS("ITEM", fromCache);
        sds->ReadIndexes();
        ASSERT_EQ(sds->IndexNames().size(), sds->IndexKinds().size());
        QMap<QString, int> kinds;
        for (qsizetype i = 0; i < sds->IndexNames().size(); ++i) {
            // System names carry the server's numbers: keep the kind of name.
            QString name = sds->IndexNames()[i];
            if (name.startsWith("RDB$"))
                name = name.left(name.indexOf(QRegularExpression("\\d")));
            kinds.insert(name + ":" + sds->IndexFieldLists()[i], sds->IndexKinds()[i]);
        }
        EXPECT_EQ(kinds, (QMap<QString, int>{
                             {"RDB$PRIMARY:SYS$ID", 3},
                             {"RDB$FOREIGN:CAT_ID", 0x21},
                             {"RDB$:CODE", 5},
                             {"IX_ITEM_CODE_CAT:CODE;CAT_ID", 0},
                             {"A_ITEM_WEIGHT:WEIGHT", 4},
                             {"IX_ITEM_MADE:MADE", 0},
                         }));
        EXPECT_EQ(sds->KeyFields(), "SYS$ID");
    }
}

TEST_F(SDSStatementsTest, PrimaryKeyBeatsAnEarlierUniqueIndex)
{
    for (bool fromCache : {false, true}) {
        SCOPED_TRACE(fromCache ? "metadata tables" : "catalogue");
        auto sds = NewSDS("KEYED", fromCache);
        sds->ReadFieldDefs();
        sds->BuildStatements();
        EXPECT_EQ(sds->KeyFields(), "B;A"); // segments in key order
        EXPECT_EQ(Lines(DeleteByKeySQL(*sds)), QStringList({"DELETE FROM KEYED WHERE B = :B AND A = :A"}));
        EXPECT_EQ(Lines(SelectSQL(*sds)).last(), " ORDER BY B,A");
        EXPECT_EQ(sds->IndexNames().size(), 3);
    }
}

TEST_F(SDSStatementsTest, NamedConstraintsAreKnownOnlyThroughTheMetadataTables)
{
    // The catalogue read recognises a primary key by its system name only;
    // the metadata tables ask the constraints.
    auto fromServer = NewSDS("NAMED", false);
    auto fromCache = NewSDS("NAMED", true);
    fromServer->ReadIndexes();
    fromCache->ReadIndexes();
    auto kindOf = [](TSDS& sds, const QString& name) { return sds.IndexKinds()[sds.IndexNames().indexOf(name)]; };
    EXPECT_EQ(kindOf(*fromServer, "PK_NAMED"), 4);
    EXPECT_EQ(kindOf(*fromCache, "PK_NAMED"), 3);
    EXPECT_EQ(kindOf(*fromServer, "A_UQ_NAMED"), 4);
    EXPECT_EQ(kindOf(*fromCache, "A_UQ_NAMED"), 5);
    EXPECT_EQ(fromCache->KeyFields(), "ID");
}

TEST_F(SDSStatementsTest, RelationWithoutKeyUsesAllFieldsCondition)
{
    for (bool fromCache : {false, true}) {
        SCOPED_TRACE(fromCache ? "metadata tables" : "catalogue");
        auto sds = NewSDS("NOKEY", fromCache);
        sds->ReadFieldDefs();
        sds->BuildStatements();
        EXPECT_TRUE(sds->KeyFields().isEmpty());
        EXPECT_TRUE(sds->IndexNames().isEmpty());
        EXPECT_EQ(Lines(DeleteByKeySQL(*sds)),
                  QStringList({"DELETE FROM NOKEY WHERE CODE = :CODE AND AMOUNT = :AMOUNT"}));
        EXPECT_EQ(Lines(UpdateByKeySQL(*sds)),
                  QStringList({"update NOKEY set CODE = :CODE, NOTE = :NOTE, PICTURE = :PICTURE, AMOUNT = :AMOUNT, "
                               "SYS$TIME = 'NOW' where CODE = :CODE AND AMOUNT = :AMOUNT"}));
        // No key, no order.
        EXPECT_EQ(Lines(SelectSQL(*sds)), QStringList({"select NOKEY.*, RDB$DB_KEY as IBX_INTERNAL_DBKEY from NOKEY"}));
    }
}

TEST_F(SDSStatementsTest, SelectTextWithAliasesAndJoinedColumns)
{
    TIBTransaction transaction;
    transaction.SetDefaultDatabase(FPlain.get());
    auto sds = NewSDS("GOODS", false);
    sds->SetTransaction(&transaction);
    // The relation itself goes unaliased: key conditions name it.
    sds->SetCommandText("select GOODS.SYS$ID, GOODS.NAME, GOODS.PRICE * 2 as DOUBLED, GOODS.NAME as TITLE,\r\n"
                        "C.CNAME, GOODS.RDB$DB_KEY as IBX_INTERNAL_DBKEY\n\rfrom GOODS left join CATEGORY C "
                        "on C.ID = GOODS.SYS$ID where GOODS.PRICE > 0");
    sds->SetServerFilter("GOODS.NAME > ''");
    sds->ReadFieldDefs();
    EXPECT_EQ(Lines(SelectSQL(*sds)),
              QStringList({"select GOODS.SYS$ID, GOODS.NAME, GOODS.PRICE * 2 as DOUBLED, GOODS.NAME as TITLE, "
                           "C.CNAME, GOODS.RDB$DB_KEY as IBX_INTERNAL_DBKEY from GOODS left join CATEGORY C "
                           "on C.ID = GOODS.SYS$ID where GOODS.PRICE > 0"}));
    EXPECT_EQ(Describe(sds->FieldDefs()), QStringList({
                                              "SYS$ID Integer size 0 prec 0 no 0",
                                              "NAME String size 40 prec 0 no 1",
                                              "DOUBLED BCD size 2 prec 18 no 2 internal",
                                              "TITLE String size 40 prec 0 no 3 internal",
                                              "CNAME String size 20 prec 0 no 4 internal", // NOT NULL, but outer-joined
                                              "IBX_INTERNAL_DBKEY Bytes size 8 prec 0 no 5",
                                          }));

    sds->BuildStatements();
    EXPECT_EQ(Lines(InsertSQL(*sds)), QStringList({"insert into GOODS (SYS$ID, NAME) values (:SYS$ID, :NAME)"}));
    EXPECT_EQ(Lines(UpdateByKeySQL(*sds)),
              QStringList({"update GOODS set SYS$ID = :SYS$ID, NAME = :NAME where GOODS.SYS$ID = :SYS$ID"}));
    const QString cmd = Lines(SelectSQL(*sds)).first();
    EXPECT_EQ(Lines(RefreshSQL(*sds)), QStringList({cmd, " AND GOODS.RDB$DB_KEY = :IBX_INTERNAL_DBKEY"}));
    EXPECT_EQ(Lines(RefreshByKeySQL(*sds)), QStringList({cmd, " AND GOODS.SYS$ID = :SYS$ID"}));
    EXPECT_EQ(Lines(SelectSQL(*sds)), QStringList({cmd, " AND GOODS.NAME > ''", " ORDER BY GOODS.SYS$ID"}));
    for (TIBSQL* sql : {&RefreshSQL(*sds), &RefreshByKeySQL(*sds), &SelectSQL(*sds)})
        EXPECT_NO_THROW(sql->Prepare()) << sql->SQL().Text().toStdString();
}

TEST_F(SDSStatementsTest, SelectTextWithoutTableIsAReadOnlyQuery)
{
    TIBTransaction transaction;
    transaction.SetDefaultDatabase(FPlain.get());
    TSDS sds;
    sds.SetDatabase(FPlain.get());
    sds.SetTransaction(&transaction);
    sds.SetCommandText("select ID, CNAME from CATEGORY");
    sds.SetServerFilter("ID > 1");
    sds.ReadFieldDefs();
    EXPECT_EQ(Lines(SelectSQL(sds)), QStringList({"select ID, CNAME from CATEGORY", " WHERE ID > 1"}));
    EXPECT_EQ(Describe(sds.FieldDefs()),
              QStringList({"ID Integer size 0 prec 0 no 0 required", "CNAME String size 20 prec 0 no 1 required"}));
    sds.BuildStatements(); // nothing to write to
    EXPECT_TRUE(InsertSQL(sds).SQL().Lines().isEmpty());
}

TEST_F(SDSStatementsTest, PersistentFieldsChooseTheColumns)
{
    auto sds = NewSDS("GOODS", false);
    sds->SetOptions(sds->Options() - TSDSOptions{dsoLoadAllFields});
    auto add = [&](TField* field, const char* name) {
        field->setParent(sds.get());
        field->SetFieldName(name);
        field->SetDataSet(sds.get());
        return field;
    };
    add(new TIntegerField, "SYS$ID");
    add(new TStringField, "NAME")->SetSize(10);
    add(new TBCDField, "PRICE")->SetProviderFlags(0);
    add(new TStringField, "SHOWN")->SetFieldKind(fkCalculated);
    sds->ReadFieldDefs();
    EXPECT_EQ(sds->FieldDefs().Names(), QStringList({"SYS$ID", "NAME", "PRICE", "IBX_INTERNAL_DBKEY"}));
    sds->BuildStatements();
    EXPECT_EQ(Lines(SelectSQL(*sds)),
              QStringList({"select SYS$ID,NAME, RDB$DB_KEY as IBX_INTERNAL_DBKEY from GOODS", " ORDER BY SYS$ID"}));
    EXPECT_EQ(Lines(InsertSQL(*sds)), QStringList({"insert into GOODS (SYS$ID, NAME) values (:SYS$ID, :NAME)"}));

    // The order stops at the first field that is not there or not written.
    sds->SetIndexFieldNames("NAME;NOPE;SYS$ID");
    sds->BuildStatements();
    EXPECT_EQ(Lines(SelectSQL(*sds)).last(), " ORDER BY NAME");
    sds->SetIndexFieldNames("PRICE;NAME");
    sds->BuildStatements();
    EXPECT_EQ(Lines(SelectSQL(*sds)), QStringList({"select SYS$ID,NAME, RDB$DB_KEY as IBX_INTERNAL_DBKEY from GOODS"}));
}

TEST_F(SDSStatementsTest, MasterDetailConditionJoinsTheServerFilter)
{
    auto sds = NewSDS("ITEM", true);
    sds->ReadFieldDefs();
    sds->SetMasterFields("ID");
    sds->SetDetailFields("CAT_ID");
    EXPECT_TRUE(sds->ServerCondition().isEmpty()); // resolved locally without the option
    sds->SetOptions(sds->Options() + TSDSOptions{dsoHandleMDBySQL});
    EXPECT_EQ(sds->ServerCondition(), "CAT_ID=:MD_CAT_ID");
    sds->SetServerFilter("QTY > 0");
    EXPECT_EQ(sds->ServerCondition(), "CAT_ID=:MD_CAT_ID and QTY > 0");
    sds->BuildStatements();
    EXPECT_EQ(Lines(SelectSQL(*sds))[1], " WHERE CAT_ID=:MD_CAT_ID and QTY > 0");

    sds->SetMasterFields("ID;CNAME");
    sds->SetDetailFields("CAT_ID;CODE");
    sds->SetServerFilter("");
    EXPECT_EQ(sds->ServerCondition(), "CAT_ID=:MD_CAT_ID AND CODE=:MD_CODE");
}

TEST_F(SDSStatementsTest, DetailFieldNamesAreTrimmed)
{
    auto sds = NewSDS("ITEM", true);
    sds->SetOptions(sds->Options() + TSDSOptions{dsoHandleMDBySQL});
    sds->SetMasterFields("ID; CNAME");
    struct Case
    {
        const char* details;
        const char* condition;
    };
    const Case cases[] = {
        {"CAT_ID;CODE", "CAT_ID=:MD_CAT_ID AND CODE=:MD_CODE"},
        {"CAT_ID; CODE", "CAT_ID=:MD_CAT_ID AND CODE=:MD_CODE"},
        {" CAT_ID ;\tCODE ", "CAT_ID=:MD_CAT_ID AND CODE=:MD_CODE"},
        {" ; CODE", "ID=:MD_ID AND CODE=:MD_CODE"}, // a blank name defaults to the master's
        {"CAT_ID", "CAT_ID=:MD_CAT_ID AND CNAME=:MD_CNAME"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.details);
        sds->SetDetailFields(c.details);
        EXPECT_EQ(sds->ServerCondition(), c.condition);
    }
}

TEST_F(SDSStatementsTest, FieldsAndSystemColumnsAfterReading)
{
    auto sds = NewSDS("ITEM", true);
    auto* code = new TStringField(sds.get());
    code->SetFieldName("CODE");
    code->SetSize(4);
    code->SetDataSet(sds.get());
    sds->ReadFieldDefs();
    sds->CreateMissingFields();
    EXPECT_EQ(sds->FieldCount(), sds->FieldDefs().Count());
    EXPECT_EQ(code->Size(), 10);                      // fitted to the column
    EXPECT_FALSE(sds->FieldByName("QTY")->Visible()); // created hidden
    EXPECT_EQ(sds->FieldByName("TOTAL")->FieldKind(), fkInternalCalc);
    EXPECT_TRUE(sds->FieldByName("CODE")->Visible());

    sds->BindSystemFields();
    EXPECT_EQ(sds->IdField(), sds->FieldByName("SYS$ID"));
    EXPECT_EQ(sds->StateField(), sds->FieldByName("SYS$STATE"));
    EXPECT_EQ(sds->DbKeyField(), sds->FieldByName("IBX_INTERNAL_DBKEY"));
    EXPECT_EQ(sds->ParentIdField(), nullptr);
    EXPECT_EQ(sds->TimeField(), nullptr);
    EXPECT_EQ(sds->AutoIncField(), sds->IdField()); // SYS$ID by default
    EXPECT_FALSE(sds->IdField()->Visible());

    sds->SetAutoIncFieldName("QTY");
    sds->FieldByName("QTY")->SetRequired(true);
    sds->BindSystemFields();
    EXPECT_EQ(sds->AutoIncField(), sds->FieldByName("QTY"));
    EXPECT_FALSE(sds->AutoIncField()->Required());

    // Fields of their own are made visible on request; flagless strings keep their size.
    auto other = NewSDS("GOODS", false);
    other->SetOptions(other->Options() + TSDSOptions{dsoFieldsDefaultVisible});
    auto* name = new TStringField(other.get());
    name->SetFieldName("NAME");
    name->SetSize(4);
    name->SetProviderFlags(0);
    name->SetDataSet(other.get());
    other->ReadFieldDefs();
    other->CreateMissingFields();
    EXPECT_EQ(name->Size(), 4);
    EXPECT_TRUE(other->FieldByName("PRICE")->Visible());
}

TEST_F(SDSStatementsTest, ChangingTheTableForgetsTheStructure)
{
    auto sds = NewSDS("GOODS", true);
    sds->ReadFieldDefs();
    sds->BuildStatements();
    ASSERT_FALSE(sds->KeyFields().isEmpty());
    sds->SetTableName("GOODS"); // the same name: nothing happens
    EXPECT_EQ(sds->KeyFields(), "SYS$ID");
    sds->SetTableName("NOKEY");
    EXPECT_EQ(sds->TableName(), "NOKEY");
    EXPECT_EQ(sds->FieldDefs().Count(), 0);
    EXPECT_TRUE(sds->KeyFields().isEmpty());
    EXPECT_TRUE(sds->IndexNames().isEmpty());
    EXPECT_TRUE(sds->IndexFieldLists().isEmpty());
    EXPECT_TRUE(sds->IndexKinds().isEmpty());
}

TEST_F(SDSStatementsTest, Errors)
{
    QObject form;
    form.setObjectName("Form1");

    auto unknown = NewSDS("NO_SUCH_TABLE", false, &form);
    try {
        unknown->ReadFieldDefs();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Form1.Sds1: не найдена информация о структуре таблицы NO_SUCH_TABLE");
    }
    // The internal transaction was committed on the way out.
    EXPECT_FALSE(FPlain->InternalTransaction()->InTransaction());

    // An unknown table in the metadata tables falls back to the catalogue.
    auto unknownCached = NewSDS("NO_SUCH_TABLE", true, &form);
    EXPECT_THROW(unknownCached->ReadFieldDefs(), Exception);

    TSDS noTable;
    noTable.SetDatabase(FPlain.get());
    try {
        noTable.ReadFieldDefs();
        FAIL();
    } catch (const EIBClientError& e) {
        EXPECT_EQ(e.Message(), "No Table Name assigned");
    }
    TSDS noDatabase;
    noDatabase.SetTableName("GOODS");
    try {
        noDatabase.ReadFieldDefs();
        FAIL();
    } catch (const EIBClientError& e) {
        EXPECT_EQ(e.Message(), "Database name is missing");
    }
    noDatabase.SetCommandText("select * from GOODS");
    EXPECT_THROW(noDatabase.ReadFieldDefs(), EIBClientError);

    // Design time without a database names the data set.
    TSDS design(&form);
    design.setObjectName("Sds2");
    design.SetDesigning(true);
    design.SetTableName("GOODS");
    try {
        design.InitFieldDefs();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Form1.Sds2 Укажите базу !");
    }
}

TEST_F(SDSStatementsTest, DesignTimeDefinitionsLackTheRowAddress)
{
    auto sds = NewSDS("GOODS", true);
    sds->SetDesigning(true);
    sds->InitFieldDefs();
    EXPECT_EQ(sds->FieldDefs().Names(), QStringList({"SYS$ID", "NAME", "PRICE", "SYS$TIME"}));

    // Attached at design time: the master's database and table.
    auto master = NewSDS("NOKEY", false);
    TSDS attached;
    attached.SetDesigning(true);
    attached.SetMasterDataset(master.get());
    attached.InitFieldDefs();
    EXPECT_EQ(attached.TableName(), "NOKEY");
    EXPECT_EQ(attached.FieldDefs().IndexOf("IBX_INTERNAL_DBKEY"), -1);
    EXPECT_EQ(attached.FieldDefs().Count(), 6);
}

TEST_F(SDSStatementsTest, QuotesInNamesStayInsideTheLiteral)
{
    for (bool fromCache : {false, true}) {
        SCOPED_TRACE(fromCache ? "metadata tables" : "catalogue");
        auto sds = NewSDS("O'BRIEN", fromCache);
        sds->ReadFieldDefs();
        sds->ReadIndexes();
        EXPECT_EQ(sds->FieldDefs().Names(), QStringList({"ID", "IBX_INTERNAL_DBKEY"}));
        EXPECT_EQ(sds->KeyFields(), "ID");

        auto second = NewSDS("O'BRIEN2", fromCache);
        second->ReadIndexes(); // a two-segment index whose name has a quote
        EXPECT_EQ(second->IndexNames(), QStringList({"IX_O'B2"}));
        EXPECT_EQ(second->KeyFields(), "NAME;SIZE2");
    }
}

} // namespace
