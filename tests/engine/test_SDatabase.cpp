#include "SDatabase.h"

#include "CacheManager.h"
#include "Exceptions.h"
#include "IBSQL.h"
#include "IBTestDatabase.h"
#include "MemTable.h"
#include "SDS.h"
#include "SDS_p.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <functional>
#include <memory>

namespace {

// A small schema of our own, beside the tables every framework database has:
// each kind of constraint, a computed column, defaults and NOT NULLs.
const char* const Schema = R"(
CREATE DOMAIN D_NAME AS VARCHAR(40) DEFAULT 'none';
CREATE TABLE CUSTOMER (
  ID INTEGER NOT NULL,
  CODE VARCHAR(10) NOT NULL,
  NAME D_NAME,
  AMOUNT NUMERIC(15,2),
  FULLNAME COMPUTED BY (CODE || ' ' || NAME),
  CONSTRAINT PK_CUSTOMER PRIMARY KEY (ID),
  CONSTRAINT UQ_CUSTOMER_CODE UNIQUE (CODE));
CREATE TABLE ORDERS (
  ID INTEGER NOT NULL,
  CUSTOMER_ID INTEGER,
  NOTE VARCHAR(20),
  CONSTRAINT PK_ORDERS PRIMARY KEY (ID),
  CONSTRAINT FK_ORDERS_CUSTOMER FOREIGN KEY (CUSTOMER_ID) REFERENCES CUSTOMER (ID));
CREATE INDEX IX_ORDERS_NOTE ON ORDERS (NOTE, CUSTOMER_ID);
CREATE TABLE "СПРАВОЧНИК" ("КОД" INTEGER, "ИМЯ" VARCHAR(20));
)";

class SDatabaseTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FTestDb.CreateFrameworkSchema();
        FTestDb.ExecuteScript(QString::fromUtf8(Schema));
        FDb = NewDatabase();
    }

    std::unique_ptr<TSDatabase> NewDatabase() const
    {
        auto db = std::make_unique<TSDatabase>();
        db->SetDatabaseName(FTestDb.Path());
        db->SetParams(FTestDb.ConnectParams());
        return db;
    }

    // Every relation name in TablesCache (or IndexesCache).
    static QSet<QString> Relations(TCustomMemTable& table)
    {
        QSet<QString> result;
        for (table.First(); !table.Eof(); table.Next())
            result.insert(table.FieldByName(QStringLiteral("RDB$RELATION_NAME"))->AsString());
        return result;
    }

    // Field names of one relation, in field-position order.
    static QStringList FieldsOf(TCustomMemTable& tables, const QString& relation)
    {
        tables.SetIndexName(QStringLiteral("RELATIONS_FIELDPOSITION"));
        QStringList result;
        for (tables.FindNearest({Variant(relation)});
             !tables.Eof() && tables.FieldByName(QStringLiteral("RDB$RELATION_NAME"))->AsString() == relation;
             tables.Next())
            result << tables.FieldByName(QStringLiteral("RDB$FIELD_NAME"))->AsString();
        tables.SetIndexName(QStringLiteral("RELATIONS_FIELDNAMES"));
        return result;
    }

    // Records the attachment has read so far, as the server counts them.
    static int64_t RecordsRead(TIBDatabase& db)
    {
        TIBTransaction transaction;
        transaction.SetDefaultDatabase(&db);
        transaction.StartTransaction();
        TIBSQL sql;
        sql.SetTransaction(&transaction);
        sql.SQL().SetText(
            QStringLiteral("select R.MON$RECORD_SEQ_READS + R.MON$RECORD_IDX_READS from MON$ATTACHMENTS A "
                           "join MON$RECORD_STATS R on R.MON$STAT_ID = A.MON$STAT_ID "
                           "where A.MON$ATTACHMENT_ID = CURRENT_CONNECTION"));
        sql.ExecQuery();
        const int64_t reads = sql.Fields(0).AsInt64();
        sql.Close();
        transaction.Commit();
        return reads;
    }

    TIBTestDatabase FTestDb;
    std::unique_ptr<TSDatabase> FDb;
};

TEST_F(SDatabaseTest, ConstructionState)
{
    EXPECT_TRUE(FDb->MetadataCache());
    EXPECT_TRUE(FDb->MetadataCacheFilter().isEmpty());
    EXPECT_FALSE(FDb->LocalCache());
    EXPECT_FALSE(FDb->Connected());
    EXPECT_EQ(FDb->CurrentUserID(), -1);
    EXPECT_TRUE(FDb->AuditEnabled());
    EXPECT_EQ(FDb->DefaultTransactionRW(), nullptr);
    EXPECT_EQ(FDb->ConstraintsCache(), nullptr);
    EXPECT_FALSE(FDb->TablesCache()->Active());
    EXPECT_FALSE(FDb->IndexesCache()->Active());
    EXPECT_EQ(FDb->InternalTransaction()->Params(), QStringList({"read", "read_committed", "rec_version", "nowait"}));

    // Not owned: a transaction that goes away leaves no dangling reference.
    auto rw = std::make_unique<TIBTransaction>();
    FDb->SetDefaultTransactionRW(rw.get());
    EXPECT_EQ(FDb->DefaultTransactionRW(), rw.get());
    rw.reset();
    EXPECT_EQ(FDb->DefaultTransactionRW(), nullptr);
}

TEST_F(SDatabaseTest, ConnectFillsTablesCacheWithUserRelations)
{
    FDb->Open();
    TCustomMemTable& tables = *FDb->TablesCache();
    ASSERT_TRUE(tables.Active());
    EXPECT_EQ(tables.IndexName(), "RELATIONS_FIELDNAMES");
    EXPECT_EQ(tables.FieldCount(), 14); // the catalogue's 13 and RDB$DIMENSIONS

    // No system relation, names right-trimmed (Cyrillic too).
    EXPECT_EQ(Relations(tables),
              QSet<QString>({"SYS_USER", "SYS$LIST_KIND", "SYS$AUDIT", "CUSTOMER", "ORDERS", "СПРАВОЧНИК"}));
    EXPECT_EQ(FieldsOf(tables, "CUSTOMER"), QStringList({"ID", "CODE", "NAME", "AMOUNT", "FULLNAME"}));
    EXPECT_EQ(FieldsOf(tables, "СПРАВОЧНИК"), QStringList({"КОД", "ИМЯ"}));

    auto field = [&](const char* name) { return tables.FieldByName(QString::fromLatin1(name)); };
    ASSERT_TRUE(tables.FindKey({Variant("CUSTOMER"), Variant("CODE")}));
    EXPECT_EQ(field("RDB$FIELD_POSITION")->AsInteger(), 1);
    EXPECT_EQ(field("RDB$NULL_FLAG")->AsInteger(), 1);
    EXPECT_TRUE(field("RDB$DEFAULT_VALUE")->IsNull());
    EXPECT_TRUE(field("RDB$COMPUTED_BLR")->IsNull());
    EXPECT_EQ(field("RDB$FIELD_TYPE")->AsInteger(), 37); // VARCHAR
    EXPECT_EQ(field("RDB$FIELD_LENGTH")->AsInteger(), 10);

    ASSERT_TRUE(tables.FindKey({Variant("CUSTOMER"), Variant("NAME")}));
    EXPECT_FALSE(field("RDB$DEFAULT_VALUE")->IsNull());
    EXPECT_TRUE(field("RDB$NULL_FLAG")->IsNull());

    ASSERT_TRUE(tables.FindKey({Variant("CUSTOMER"), Variant("AMOUNT")}));
    EXPECT_EQ(field("RDB$FIELD_TYPE")->AsInteger(), 16); // BIGINT storage
    EXPECT_EQ(field("RDB$FIELD_SCALE")->AsInteger(), -2);
    EXPECT_EQ(field("RDB$FIELD_SUB_TYPE")->AsInteger(), 1); // NUMERIC

    ASSERT_TRUE(tables.FindKey({Variant("CUSTOMER"), Variant("FULLNAME")}));
    EXPECT_FALSE(field("RDB$COMPUTED_BLR")->IsNull());
    EXPECT_FALSE(field("RDB$COMPUTED_BLR")->AsBytes().isEmpty());

    EXPECT_FALSE(tables.FindKey({Variant("RDB$RELATIONS"), Variant("RDB$RELATION_NAME")}));
}

TEST_F(SDatabaseTest, ConnectFillsIndexesCacheWithEverySegment)
{
    FDb->Open();
    TCustomMemTable& indexes = *FDb->IndexesCache();
    ASSERT_TRUE(indexes.Active());
    EXPECT_EQ(indexes.FieldCount(), 8);
    EXPECT_EQ(indexes.IndexFieldNames(), "RDB$RELATION_NAME;RDB$INDEX_NAME;RDB$FIELD_POSITION");

    auto field = [&](const char* name) { return indexes.FieldByName(QString::fromLatin1(name)); };
    // Segments in order, as the data set engine walks them.
    QStringList segments;
    for (indexes.FindNearest({Variant("ORDERS"), Variant("IX_ORDERS_NOTE")});
         !indexes.Eof() && field("RDB$INDEX_NAME")->AsString() == "IX_ORDERS_NOTE"; indexes.Next()) {
        EXPECT_EQ(field("RDB$RELATION_NAME")->AsString(), "ORDERS");
        EXPECT_EQ(field("RDB$SEGMENT_COUNT")->AsInteger(), 2);
        EXPECT_EQ(field("RDB$FIELD_POSITION")->AsInteger(), segments.size());
        segments << field("RDB$FIELD_NAME")->AsString();
    }
    EXPECT_EQ(segments, QStringList({"NOTE", "CUSTOMER_ID"}));

    ASSERT_TRUE(indexes.FindKey({Variant("ORDERS"), Variant("FK_ORDERS_CUSTOMER"), Variant(0)}));
    EXPECT_EQ(field("RDB$FOREIGN_KEY")->AsString(), "PK_CUSTOMER");
    EXPECT_EQ(field("RDB$FIELD_NAME")->AsString(), "CUSTOMER_ID");
    ASSERT_TRUE(indexes.FindKey({Variant("CUSTOMER"), Variant("UQ_CUSTOMER_CODE"), Variant(0)}));
    EXPECT_EQ(field("RDB$UNIQUE_FLAG")->AsInteger(), 1);
    EXPECT_TRUE(field("RDB$FOREIGN_KEY")->IsNull());

    // System indexes are kept.
    EXPECT_TRUE(Relations(indexes).contains("RDB$RELATIONS"));
}

TEST_F(SDatabaseTest, FilterNarrowsBothTables)
{
    FDb->SetMetadataCacheFilter(QStringLiteral("RDB$RELATION_NAME = 'ORDERS'"));
    FDb->Open();
    EXPECT_EQ(Relations(*FDb->TablesCache()), QSet<QString>({"ORDERS"}));
    EXPECT_EQ(Relations(*FDb->IndexesCache()), QSet<QString>({"ORDERS"}));
    EXPECT_EQ(FieldsOf(*FDb->TablesCache(), "ORDERS"), QStringList({"ID", "CUSTOMER_ID", "NOTE"}));
}

TEST_F(SDatabaseTest, RejectedFilterFailsTheWholeConnect)
{
    FDb->SetMetadataCacheFilter(QStringLiteral("NO_SUCH_COLUMN = 1"));
    EXPECT_THROW(FDb->Open(), EIBInterBaseError);
    // Not left attached with empty metadata, where a second Open would do nothing.
    EXPECT_FALSE(FDb->Connected());
    EXPECT_FALSE(FDb->TablesCache()->Active());
    EXPECT_FALSE(FDb->IndexesCache()->Active());

    FDb->SetMetadataCacheFilter(QString());
    FDb->Open();
    EXPECT_TRUE(Relations(*FDb->TablesCache()).contains("CUSTOMER"));
}

TEST_F(SDatabaseTest, GetConstraintTypeCodes)
{
    FDb->Open();
    const struct
    {
        const char* index;
        int code;
    } cases[] = {
        {"PK_CUSTOMER", 3},         {"UQ_CUSTOMER_CODE", 5},
        {"FK_ORDERS_CUSTOMER", 33}, {"IX_ORDERS_NOTE", 0}, // a plain index
        {"NO_SUCH_INDEX", 0},       {"", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FDb->GetConstraintType(QString::fromLatin1(c.index)), c.code) << c.index;
    ASSERT_NE(FDb->ConstraintsCache(), nullptr);
    EXPECT_EQ(FDb->ConstraintsCache()->IndexFieldNames(), "RDB$INDEX_NAME");

    // The unnamed primary key of SYS_USER gets a generated index name.
    TIBSQL sql;
    sql.SetTransaction(FDb->InternalTransaction());
    sql.SQL().SetText(QStringLiteral("select RDB$INDEX_NAME from RDB$RELATION_CONSTRAINTS "
                                     "where RDB$RELATION_NAME = 'SYS_USER' and RDB$CONSTRAINT_TYPE = 'PRIMARY KEY'"));
    sql.ExecQuery();
    const QString generated = sql.Fields(0).AsString().trimmed();
    sql.Close();
    EXPECT_EQ(FDb->GetConstraintType(generated), 3) << generated.toStdString();
}

TEST_F(SDatabaseTest, ConstraintCodesOfTheCatalogueTexts)
{
    EXPECT_EQ(SConstraint::CodeOf("PRIMARY KEY"), 3);
    EXPECT_EQ(SConstraint::CodeOf("UNIQUE"), 5);
    EXPECT_EQ(SConstraint::CodeOf("FOREIGN KEY"), 33);
    EXPECT_EQ(SConstraint::CodeOf("NOT NULL"), 0);
    EXPECT_EQ(SConstraint::CodeOf("CHECK"), 0);
}

TEST_F(SDatabaseTest, WithoutMetadataCacheConnectReadsNoCatalogue)
{
    // What the server counts for the attachment: the catalogue queries read
    // every field and index of the database, hundreds of records.
    FDb->SetMetadataCache(false);
    FDb->Open();
    const int64_t without = RecordsRead(*FDb);
    EXPECT_FALSE(FDb->TablesCache()->Active());
    EXPECT_FALSE(FDb->IndexesCache()->Active());
    FDb->Close();

    auto with = NewDatabase();
    with->Open();
    const int64_t withCache = RecordsRead(*with);
    with->Close();
    EXPECT_GT(withCache - without, 300) << "with " << withCache << ", without " << without;

    // Constraints are still read on first use.
    FDb->Open();
    EXPECT_EQ(FDb->GetConstraintType("PK_CUSTOMER"), 3);
    EXPECT_FALSE(FDb->TablesCache()->Active());
}

TEST_F(SDatabaseTest, ReconnectReadsTheCatalogueAgain)
{
    FDb->Open();
    EXPECT_EQ(FDb->GetConstraintType("PK_EXTRA"), 0);
    FDb->SetMetadataCache(false); // switched off while connected: the tables still close
    FDb->Close();
    EXPECT_FALSE(FDb->TablesCache()->Active());
    EXPECT_FALSE(FDb->IndexesCache()->Active());

    FTestDb.Execute(QStringLiteral("CREATE TABLE EXTRA (ID INTEGER NOT NULL, CONSTRAINT PK_EXTRA PRIMARY KEY (ID))"));
    FDb->SetMetadataCache(true);
    FDb->Open();
    EXPECT_EQ(FieldsOf(*FDb->TablesCache(), "EXTRA"), QStringList({"ID"}));
    EXPECT_TRUE(FDb->IndexesCache()->FindKey({Variant("EXTRA"), Variant("PK_EXTRA")}));
    // The constraint table of the earlier connection is not trusted.
    EXPECT_EQ(FDb->GetConstraintType("PK_EXTRA"), 3);
}

TEST_F(SDatabaseTest, ReconnectToAnotherDatabaseDescribesThatOne)
{
    FDb->Open();
    EXPECT_EQ(FDb->GetConstraintType("PK_CUSTOMER"), 3);
    FDb->Close();

    TIBTestDatabase other;
    other.CreateFrameworkSchema();
    other.Execute(QStringLiteral("CREATE TABLE OTHER_T (ID INTEGER NOT NULL, CONSTRAINT PK_OTHER PRIMARY KEY (ID))"));
    FDb->SetDatabaseName(other.Path());
    FDb->Open();
    EXPECT_EQ(Relations(*FDb->TablesCache()), QSet<QString>({"SYS_USER", "SYS$LIST_KIND", "SYS$AUDIT", "OTHER_T"}));
    EXPECT_EQ(FDb->GetConstraintType("PK_CUSTOMER"), 0);
    EXPECT_EQ(FDb->GetConstraintType("PK_OTHER"), 3);
}

TEST_F(SDatabaseTest, RefreshMetadataSeesSchemaChangesWhileConnected)
{
    FDb->Open();
    EXPECT_EQ(FDb->GetConstraintType("PK_LATER"), 0);
    ASSERT_NE(FDb->ConstraintsCache(), nullptr);

    // Another attachment changes the schema; the cache does not notice...
    FTestDb.Execute(QStringLiteral("CREATE TABLE LATER (ID INTEGER NOT NULL, CONSTRAINT PK_LATER PRIMARY KEY (ID))"));
    FDb->ReadMetadataFromServer(); // a no-op while the tables are open
    EXPECT_TRUE(FieldsOf(*FDb->TablesCache(), "LATER").isEmpty());
    EXPECT_EQ(FDb->GetConstraintType("PK_LATER"), 0);

    // ...until it is refreshed.
    FDb->RefreshMetadata();
    EXPECT_EQ(FDb->ConstraintsCache(), nullptr);
    EXPECT_EQ(FieldsOf(*FDb->TablesCache(), "LATER"), QStringList({"ID"}));
    EXPECT_TRUE(FDb->IndexesCache()->FindKey({Variant("LATER"), Variant("PK_LATER")}));
    EXPECT_EQ(FDb->GetConstraintType("PK_LATER"), 3);
}

TEST_F(SDatabaseTest, MetadataReadsNeedAConnection)
{
    FDb->LoadMetadata();
    FDb->ReadMetadataFromServer();
    EXPECT_FALSE(FDb->TablesCache()->Active());
    EXPECT_THROW(FDb->GetConstraintType("PK_CUSTOMER"), EIBError);
    EXPECT_EQ(FDb->ConstraintsCache(), nullptr); // nothing half-built is kept
}

TEST_F(SDatabaseTest, DestroyingAConnectedDatabaseDetaches)
{
    auto attachments = [&] {
        TIBTransaction transaction;
        transaction.SetDefaultDatabase(&FTestDb.Database());
        transaction.StartTransaction();
        TIBSQL sql;
        sql.SetTransaction(&transaction);
        sql.SQL().SetText(QStringLiteral("select count(*) from MON$ATTACHMENTS where MON$SYSTEM_FLAG = 0"));
        sql.ExecQuery();
        return sql.Fields(0).AsInteger();
    };
    const int before = attachments();
    FDb->Open();
    EXPECT_EQ(FDb->GetConstraintType("PK_CUSTOMER"), 3);
    EXPECT_EQ(attachments(), before + 1);
    FDb.reset();
    EXPECT_EQ(attachments(), before);
}

// A connection killed on the server side says so once a call meets the loss,
// and opening it again reads what the server has now.
TEST_F(SDatabaseTest, LostConnectionReconnectsAfresh)
{
    FDb->Open();
    TIBSQL sql;
    sql.SetDatabase(FDb.get());
    sql.SetTransaction(FDb->InternalTransaction());
    sql.SQL().SetText(QStringLiteral("select CURRENT_CONNECTION from RDB$DATABASE"));
    sql.ExecQuery();
    const int64_t id = sql.Fields(0).AsInt64();
    sql.Close();
    FTestDb.Execute(QStringLiteral("delete from MON$ATTACHMENTS where MON$ATTACHMENT_ID = %1").arg(id));
    FTestDb.Execute(QStringLiteral("CREATE TABLE LATER (ID INTEGER)"));

    EXPECT_THROW(FDb->MetadataVersion(), EIBConnectionLost);
    EXPECT_FALSE(FDb->Connected());
    EXPECT_FALSE(FDb->InternalTransaction()->InTransaction());

    FDb->Open();
    EXPECT_TRUE(Relations(*FDb->TablesCache()).contains("LATER"));
    EXPECT_TRUE(FDb->Users()->Active());
    FDb->Close();
    EXPECT_FALSE(FDb->TablesCache()->Active());
    EXPECT_FALSE(FDb->Users()->Active());
}

// The users can be changed whatever transactions the application gave the
// connection: their writing statements run in a read-write transaction (the
// application's DefaultTransactionRW, or one of the connection's own when it
// gave no default transaction), never in the internal read-only one.
TEST_F(SDatabaseTest, UsersAreWrittenInAReadWriteTransaction)
{
    enum TGiven { Nothing, ReadWriteOnly, DefaultOnly, Both };
    const struct
    {
        const char* Name;
        TGiven Given;
    } cases[] = {{"no transactions", Nothing},
                 {"DefaultTransactionRW only", ReadWriteOnly},
                 {"default transaction only", DefaultOnly},
                 {"both", Both}};
    int id = 100;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        auto db = NewDatabase();
        TIBTransaction readWrite, byDefault;
        readWrite.SetDefaultDatabase(db.get());
        byDefault.SetDefaultDatabase(db.get());
        if (c.Given == ReadWriteOnly || c.Given == Both)
            db->SetDefaultTransactionRW(&readWrite);
        if (c.Given == DefaultOnly || c.Given == Both)
            db->SetDefaultTransaction(&byDefault);
        db->Open();
        ASSERT_TRUE(db->Users()->Active());

        // What posting a new user does: the insert in its own transaction, committed.
        TIBSQL& insert = InsertSQL(*db->Users());
        TIBTransaction* transaction = insert.Transaction();
        ASSERT_NE(transaction, nullptr);
        EXPECT_NE(transaction, db->InternalTransaction());
        if (c.Given == ReadWriteOnly || c.Given == Both) {
            EXPECT_EQ(transaction, &readWrite);
        } else if (c.Given == DefaultOnly) {
            EXPECT_EQ(transaction, &byDefault);
        }
        for (TIBSQL* sql : {&UpdateSQL(*db->Users()), &UpdateByKeySQL(*db->Users()), &DeleteSQL(*db->Users()),
                            &DeleteByKeySQL(*db->Users())})
            EXPECT_EQ(sql->Transaction(), transaction) << sql->SQL().Text().toStdString();
        if (!transaction->InTransaction())
            transaction->StartTransaction();
        insert.ParamByName(QStringLiteral("SYS$ID")).SetAsInteger(++id);
        insert.ParamByName(QStringLiteral("SYS$STATE")).SetAsInteger(0);
        insert.ParamByName(QStringLiteral("NAME")).SetAsString(QStringLiteral("Пользователь"));
        ASSERT_NO_THROW(insert.ExecQuery()) << insert.SQL().Text().toStdString();
        transaction->Commit();
        db->Close();

        TIBTransaction check;
        check.SetDefaultDatabase(&FTestDb.Database());
        check.StartTransaction();
        TIBSQL sql;
        sql.SetTransaction(&check);
        sql.SQL().SetText(QStringLiteral("select NAME from SYS_USER where SYS$ID = %1").arg(id));
        sql.ExecQuery();
        ASSERT_FALSE(sql.Eof());
        EXPECT_EQ(sql.Fields(0).AsString(), QStringLiteral("Пользователь"));
    }
}

// The local cache, with TEMP in a folder of the test's own.
class SDatabaseLocalCacheTest : public SDatabaseTest
{
protected:
    std::unique_ptr<TSDatabase> NewCachedDatabase() const
    {
        auto db = NewDatabase();
        db->SetLocalCache(true);
        return db;
    }

    QString Folder() const
    {
        return FTemp.Path() + QLatin1Char('/') + FTestDb.Path().toUpper().replace(QLatin1Char('/'), QLatin1Char('-'))
               + QLatin1Char('/');
    }
    QString TablesFile() const { return Folder() + Key + QStringLiteral("_TABLES.CDS"); }
    QString IndexesFile() const { return Folder() + Key + QStringLiteral("_INDEXES.CDS"); }

    // One connect and disconnect; the relations TablesCache had.
    QSet<QString> Run(int64_t* recordsRead = nullptr)
    {
        auto db = NewCachedDatabase();
        db->Open();
        const QSet<QString> relations = Relations(*db->TablesCache());
        if (recordsRead)
            *recordsRead = RecordsRead(*db);
        db->Close();
        return relations;
    }

    void Describe(const QString& description)
    {
        FTestDb.Execute(QStringLiteral("COMMENT ON DATABASE IS '%1'").arg(description));
    }

    const QString Key = QStringLiteral("TEST_SDATABASE"); // the test program's name
    TTempFolder FTemp;
};

TEST_F(SDatabaseLocalCacheTest, FirstConnectRecordsBothKeysAndDisconnectWritesTheFiles)
{
    FDb->Open(); // LocalCache off: the cache is not touched
    FDb->Close();
    EXPECT_TRUE(QDir(FTemp.Path()).isEmpty());

    EXPECT_EQ(TSDatabase::ApplicationKey(), Key);
    auto db = NewCachedDatabase();
    db->Open();
    EXPECT_EQ(db->CacheManager()->CacheFolder(), Folder());
    EXPECT_TRUE(QDir(Folder()).exists());
    // A null description is the empty version.
    EXPECT_EQ(db->CacheManager()->Entries(), QStringList({Key + "_TABLES=", Key + "_INDEXES="}));
    EXPECT_EQ(db->TablesCacheFile(), TablesFile());
    EXPECT_EQ(db->IndexesCacheFile(), IndexesFile());
    EXPECT_TRUE(Relations(*db->TablesCache()).contains("CUSTOMER"));
    EXPECT_FALSE(QFile::exists(TablesFile()));

    db->Close();
    QFile index(Folder() + "cache.ini");
    ASSERT_TRUE(index.open(QIODevice::ReadOnly));
    EXPECT_EQ(index.readAll(), (Key + "_TABLES=\n" + Key + "_INDEXES=\n").toLatin1());
    EXPECT_TRUE(QFile::exists(TablesFile()));
    EXPECT_TRUE(QFile::exists(IndexesFile()));
    EXPECT_TRUE(db->TablesCacheFile().isEmpty());
    EXPECT_TRUE(db->IndexesCacheFile().isEmpty());
}

TEST_F(SDatabaseLocalCacheTest, UnchangedDescriptionLoadsTheFilesInsteadOfTheCatalogue)
{
    const QSet<QString> first = Run();
    // What a connect reads with no metadata at all.
    FDb->SetMetadataCache(false);
    FDb->Open();
    const int64_t bare = RecordsRead(*FDb);
    FDb->Close();

    // A schema change the description does not announce stays unseen:
    // the metadata came from the files.
    FTestDb.Execute(QStringLiteral("CREATE TABLE LATER (ID INTEGER)"));
    auto db = NewCachedDatabase();
    db->Open();
    const int64_t cached = RecordsRead(*db);
    EXPECT_LT(cached - bare, 50) << "cached " << cached << ", bare " << bare;
    EXPECT_EQ(Relations(*db->TablesCache()), first);
    EXPECT_EQ(db->TablesCache()->IndexName(), "RELATIONS_FIELDNAMES");
    EXPECT_EQ(FieldsOf(*db->TablesCache(), "CUSTOMER"), QStringList({"ID", "CODE", "NAME", "AMOUNT", "FULLNAME"}));
    EXPECT_TRUE(db->IndexesCache()->FindKey({Variant("ORDERS"), Variant("FK_ORDERS_CUSTOMER"), Variant(0)}));
    EXPECT_EQ(db->GetConstraintType("PK_CUSTOMER"), 3);
    db->Close();

    // The description changes: every program reads the catalogue again, then
    // trusts the files it writes under the new version.
    Describe(QStringLiteral("схема 2"));
    int64_t reread = 0;
    EXPECT_TRUE(Run(&reread).contains("LATER"));
    EXPECT_GT(reread - bare, 300);
    EXPECT_TRUE(Run(&reread).contains("LATER"));
    EXPECT_LT(reread - bare, 50);
    auto last = NewCachedDatabase();
    last->Open();
    EXPECT_EQ(last->CacheManager()->Entries().first(), Key + "_TABLES=схема 2");
}

TEST_F(SDatabaseLocalCacheTest, DamagedOrMissingFileFallsBackToTheServer)
{
    Run();
    // Damage done to the tables file and the indexes file.
    using TDamage = std::function<void(const QString& tables, const QString& indexes)>;
    const struct
    {
        const char* damage;
        TDamage apply;
    } cases[] = {
        {"tables file cut short",
         [](const QString& tables, const QString&) { QFile::resize(tables, QFileInfo(tables).size() / 2); }},
        {"tables file overwritten",
         [](const QString& tables, const QString&) {
             QFile file(tables);
             ASSERT_TRUE(file.open(QIODevice::ReadWrite));
             file.seek(40);
             file.write("garbage");
         }},
        {"tables file of another layout",
         [](const QString& tables, const QString&) {
             // Sound, with both orders, but fewer columns (an older build's file).
             TCustomMemTable other;
             for (const char* name : {"RDB$RELATION_NAME", "RDB$FIELD_NAME"})
                 other.FieldDefs().Add(QString::fromLatin1(name), ftString, 31);
             other.FieldDefs().Add(QStringLiteral("RDB$FIELD_POSITION"), ftSmallint);
             other.Open();
             other.AddIndex("RELATIONS_FIELDNAMES", "RDB$RELATION_NAME;RDB$FIELD_NAME");
             other.AddIndex("RELATIONS_FIELDPOSITION", "RDB$RELATION_NAME;RDB$FIELD_POSITION");
             other.SaveToFile(tables);
         }},
        {"tables file holding the indexes",
         [](const QString& tables, const QString& indexes) {
             QFile::remove(tables);
             QFile::copy(indexes, tables);
         }},
        // The tables load; the indexes do not, so both come from the server.
        {"indexes file cut short", [](const QString&, const QString& indexes) { QFile::resize(indexes, 10); }},
        {"indexes file missing", [](const QString&, const QString& indexes) { QFile::remove(indexes); }},
    };
    int n = 0;
    for (const auto& c : cases) {
        const QString relation = QStringLiteral("NEW_%1").arg(++n);
        FTestDb.Execute(QStringLiteral("CREATE TABLE %1 (ID INTEGER)").arg(relation));
        c.apply(TablesFile(), IndexesFile());
        EXPECT_TRUE(Run().contains(relation)) << c.damage; // silently from the server
        // The disconnect wrote sound files again.
        FTestDb.Execute(QStringLiteral("CREATE TABLE %1_UNSEEN (ID INTEGER)").arg(relation));
        const QSet<QString> loaded = Run();
        EXPECT_TRUE(loaded.contains(relation)) << c.damage;
        EXPECT_FALSE(loaded.contains(relation + "_UNSEEN")) << c.damage;
    }
}

TEST_F(SDatabaseLocalCacheTest, IndexNeverVouchesForAFileThatWasNotRewritten)
{
    // Each check records the new version at once; the files it speaks of
    // must then hold the new metadata or be gone.
    Run();
    FTestDb.Execute(QStringLiteral("CREATE TABLE LATER (ID INTEGER)"));
    Describe(QStringLiteral("v2"));
    {
        // The connect fails after the checks: no table to write.
        auto db = NewCachedDatabase();
        db->SetMetadataCacheFilter(QStringLiteral("NO_SUCH_COLUMN = 1"));
        EXPECT_THROW(db->Open(), EIBInterBaseError);
    }
    EXPECT_TRUE(Run().contains("LATER"));

    FTestDb.Execute(QStringLiteral("CREATE TABLE LATER2 (ID INTEGER)"));
    Describe(QStringLiteral("v3"));
    {
        // Destroyed while connected, with MetadataCache switched off.
        auto db = NewCachedDatabase();
        db->Open();
        db->SetMetadataCache(false);
    }
    EXPECT_TRUE(Run().contains("LATER2"));
}

TEST_F(SDatabaseLocalCacheTest, CacheFolderThatCannotBeMade)
{
    QFile plain(FTemp.Path() + "/file");
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    TTempFolder::Set(plain.fileName());

    auto db = NewCachedDatabase();
    db->Open(); // nothing to read: the server is
    EXPECT_TRUE(Relations(*db->TablesCache()).contains("CUSTOMER"));
    try {
        db->Close();
        ADD_FAILURE() << "the files could not be written, yet Close said nothing";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().contains(plain.fileName())) << e.what();
    }
    EXPECT_FALSE(db->Connected());
    EXPECT_FALSE(db->TablesCache()->Active());

    db->Open();
    db.reset(); // destruction raises nothing
}

// A users set that caches locally writes its file when the connection is
// freed, still connected: the cache manager must still be there to ask, and
// "cache.ini" is written after it, recording it.
TEST_F(SDatabaseLocalCacheTest, FreeingTheConnectionReleasesTheUsersBeforeTheCacheManager)
{
    // The cache serves only a relation whose changed rows it can find.
    FTestDb.Execute(QStringLiteral("alter table SYS_USER add SYS$TIME timestamp"));
    FTestDb.Execute(QStringLiteral("insert into SYS_USER (SYS$ID, NAME) values (1, 'Иванов')"));
    auto db = NewCachedDatabase();
    db->Users()->SetOptions(db->Users()->Options() + TSDSOptions{dsoLocalCachData});
    db->Open();
    ASSERT_TRUE(db->Users()->Active());
    EXPECT_EQ(db->Users()->RecordCount(), 1);
    db.reset();

    const QString usersFile = Folder() + QStringLiteral("SYS_USER.CDS");
    EXPECT_TRUE(QFile::exists(usersFile));
    QFile index(Folder() + "cache.ini");
    ASSERT_TRUE(index.open(QIODevice::ReadOnly));
    EXPECT_TRUE(index.readAll().contains("\nSYS_USER="));

    TCustomMemTable saved;
    saved.LoadFromFile(usersFile);
    EXPECT_EQ(saved.RecordCount(), 1);
}

} // namespace
