// Opening, bulk loading, reloading and the local cache of the data set, on
// embedded Firebird.
#include "SDS.h"
#include "SDS_p.h"

#include "DataSource.h"
#include "IBSQL.h"
#include "IBTestDatabase.h"
#include "MemTableFile.h"
#include "SDSFixture.h"
#include "SDatabase.h"
#include "TempDir.h"

#include "QtPrinters.h"
#include <gtest/gtest.h>

#include <QCursor>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <memory>

namespace {

const char* const Schema = R"(
CREATE TABLE GOODS (
  SYS$ID INTEGER NOT NULL PRIMARY KEY,
  NAME VARCHAR(40),
  PRICE NUMERIC(15,2),
  MADE DATE,
  STAMP TIMESTAMP,
  BIG BIGINT,
  QTY SMALLINT,
  NOTE BLOB SUB_TYPE 1,
  PICTURE BLOB,
  RATIO DOUBLE PRECISION,
  SYS$TIME TIMESTAMP);
INSERT INTO GOODS VALUES (1, 'Хлеб', 12.5, '2026-01-02', '2026-01-02 10:11:12', 9000000000, 3, 'мягкий', NULL, 0.25, '2026-01-01 10:00:00');
INSERT INTO GOODS VALUES (2, 'Молоко', 80.1, NULL, NULL, NULL, NULL, NULL, NULL, NULL, '2026-01-01 10:00:00');
INSERT INTO GOODS VALUES (3, 'Соль', NULL, NULL, NULL, -1, -7, '', NULL, -1.5, '2026-01-01 10:00:00');
INSERT INTO GOODS VALUES (4, NULL, 7, NULL, NULL, NULL, NULL, NULL, NULL, NULL, '2026-01-01 10:00:00');
CREATE TABLE CATEGORY (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20));
INSERT INTO CATEGORY VALUES (1, 'Еда');
INSERT INTO CATEGORY VALUES (2, 'Напитки');
CREATE TABLE ITEM (SYS$ID INTEGER NOT NULL PRIMARY KEY, CAT_ID INTEGER, NAME VARCHAR(20));
INSERT INTO ITEM VALUES (10, 1, 'Хлеб');
INSERT INTO ITEM VALUES (11, 1, 'Соль');
INSERT INTO ITEM VALUES (12, 2, 'Молоко');
INSERT INTO SYS_USER (SYS$ID, SYS$STATE, NAME) VALUES (1, 0, 'Администратор');
INSERT INTO SYS_USER (SYS$ID, SYS$STATE, NAME) VALUES (2, 0, 'Оператор');
)";

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::vector<int> Ids(TDataSet& dataSet)
{
    std::vector<int> ids;
    for (dataSet.First(); !dataSet.Eof(); dataSet.Next())
        ids.push_back(dataSet.Fields()[0]->AsInteger());
    return ids;
}

class SDSLoadingTest : public TSDSFixture
{
protected:
    void SetUp() override { CreateAndConnect(Schema); }
};

TEST_F(SDSLoadingTest, LoadsEveryTypeAndBindsTheSystemColumns)
{
    auto sds = NewSDS("GOODS");
    sds->Open();
    EXPECT_TRUE(sds->Prepared());
    EXPECT_TRUE(sds->DataLoaded());
    EXPECT_FALSE(sds->InternalLoading());
    EXPECT_FALSE(sds->DataModified());
    EXPECT_FALSE(SelectSQL(*sds).Prepared()); // the handle is freed after the load
    EXPECT_EQ(Ids(*sds), (std::vector<int>{1, 2, 3, 4}));

    sds->First();
    auto f = [&](const char* name) { return sds->FieldByName(QString::fromLatin1(name)); };
    EXPECT_EQ(f("NAME")->AsString(), "Хлеб");
    EXPECT_DOUBLE_EQ(f("PRICE")->AsFloat(), 12.5);
    EXPECT_EQ(f("MADE")->AsDateTime(), EncodeDate(2026, 1, 2));
    EXPECT_NEAR(f("STAMP")->AsDateTime(), EncodeDate(2026, 1, 2) + EncodeTime(10, 11, 12, 0), 1e-9);
    EXPECT_EQ(f("BIG")->AsLargeInt(), 9000000000);
    EXPECT_EQ(f("QTY")->AsInteger(), 3);
    EXPECT_EQ(f("NOTE")->AsString(), "мягкий");
    EXPECT_DOUBLE_EQ(f("RATIO")->AsFloat(), 0.25);
    EXPECT_TRUE(f("PICTURE")->IsNull());
    EXPECT_EQ(sds->DbKeyField()->AsBytes().size(), 8);
    EXPECT_NE(sds->DbKeyField()->AsBytes(), QByteArray(8, '\0'));
    EXPECT_EQ(sds->IdField(), f("SYS$ID"));
    EXPECT_EQ(sds->TimeField(), f("SYS$TIME"));
    EXPECT_FALSE(sds->IdField()->Visible());

    sds->Next();
    EXPECT_TRUE(f("PRICE")->IsNull() == false);
    EXPECT_TRUE(f("MADE")->IsNull());
    EXPECT_TRUE(f("BIG")->IsNull());
    sds->Next();
    EXPECT_TRUE(f("PRICE")->IsNull());
    EXPECT_EQ(f("BIG")->AsLargeInt(), -1);
    EXPECT_EQ(f("QTY")->AsInteger(), -7);
}

TEST_F(SDSLoadingTest, BinaryBlobsKeepTheirBytes)
{
    const QByteArray bytes("\x00\xff\xfe\x80\x0d\x0a\x00z", 8);
    {
        TIBTransaction write;
        write.SetDefaultDatabase(FDb.get());
        write.StartTransaction();
        TIBSQL sql;
        sql.SetTransaction(&write);
        sql.SQL().SetText("update GOODS set PICTURE = :P where SYS$ID = 4");
        sql.ParamByName("P").SetAsBytes(bytes);
        sql.ExecQuery();
        write.Commit();
    }
    auto sds = NewSDS("GOODS");
    sds->Open();
    ASSERT_TRUE(sds->Locate("SYS$ID", 4));
    EXPECT_EQ(sds->FieldByName("PICTURE")->AsBytes(), bytes);
}

TEST_F(SDSLoadingTest, CloseAndReopenPreparesAgain)
{
    // A plain connection: every open reads the catalogue.
    auto plain = FTestDb.Connect();
    TIBTransaction transaction;
    transaction.SetDefaultDatabase(plain.get());
    TSDS sds;
    sds.SetDatabase(plain.get());
    sds.SetTransaction(&transaction);
    sds.SetTableName("ITEM");
    sds.SetDatabase(plain.get());
    sds.Open();
    EXPECT_EQ(sds.RecordCount(), 3);
    sds.Close();
    EXPECT_FALSE(sds.Prepared());
    EXPECT_FALSE(sds.DataLoaded());
    transaction.Commit();

    FTestDb.Execute("ALTER TABLE ITEM ADD NOTE VARCHAR(10)");
    FTestDb.Execute("INSERT INTO ITEM VALUES (13, 2, 'Сок', 'новый')");
    sds.Open();
    EXPECT_EQ(sds.RecordCount(), 4);
    ASSERT_NE(sds.FindField("NOTE"), nullptr);
    EXPECT_EQ(sds.FieldDefs().IndexOf("NOTE"), 3);
    EXPECT_EQ(SelectSQL(sds).SQL().Lines(),
              QStringList({"select ITEM.*, RDB$DB_KEY as IBX_INTERNAL_DBKEY from ITEM", " ORDER BY SYS$ID"}));
}

TEST_F(SDSLoadingTest, CalculatedFieldsOncePerRowAlsoWithANullLastValue)
{
    auto sds = NewSDS("GOODS");
    sds->SetOptions(sds->Options() - TSDSOptions{dsoLoadAllFields});
    AddField<TIntegerField>(*sds, "SYS$ID");
    AddField<TStringField>(*sds, "NAME")->SetSize(40);
    AddField<TBCDField>(*sds, "PRICE")->SetSize(2); // the last mapped field
    auto* label = AddField<TStringField>(*sds, "LABEL", fkCalculated);
    int calculatedWhileLoading = 0;
    std::vector<QString> labels;
    sds->OnCalcFields = [&](TDataSet* ds) {
        if (sds->InternalLoading()) {
            ++calculatedWhileLoading;
            labels.push_back(ds->FieldByName("NAME")->AsString() + "/" + ds->FieldByName("PRICE")->AsString());
        }
        label->SetAsString(ds->FieldByName("NAME")->AsString());
    };
    sds->Open();
    EXPECT_EQ(calculatedWhileLoading, 4);
    // Every row was complete when calculated, the null price of row 3 too.
    EXPECT_EQ(labels, (std::vector<QString>{"Хлеб/12.5", "Молоко/80.1", "Соль/", "/7"}));
    sds->Last();
    EXPECT_EQ(label->AsString(), "");
}

TEST_F(SDSLoadingTest, OnRecordLoadedAndDatasetKindsVetTheRows)
{
    // The handler may drop a row by cancelling it, or post it itself; the
    // busy cursor shows while the rows come in.
    auto sds = NewSDS("GOODS");
    std::vector<bool> busy;
    sds->OnRecordLoaded = [&](TDataSet* ds) {
        busy.push_back(QGuiApplication::overrideCursor()
                       && QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor);
        const int id = ds->FieldByName("SYS$ID")->AsInteger();
        if (id == 2)
            ds->Cancel();
        else if (id == 3)
            ds->Post();
    };
    sds->Open();
    EXPECT_EQ(Ids(*sds), (std::vector<int>{1, 3, 4}));
    EXPECT_EQ(busy, std::vector<bool>(4, true));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    struct Case
    {
        TDatasetKind kind;
        std::vector<int> kept;
    };
    for (const Case& c : {Case{dkUnknown, {1, 2, 3, 4}}, Case{dkLookup, {1, 2, 3, 4}}, Case{dkOperativka, {1, 3}}}) {
        SCOPED_TRACE(c.kind);
        auto vetted = NewSDS("GOODS");
        vetted->SetDatasetKind(c.kind);
        int asked = 0;
        vetted->OnGetAccess = [&](TSDS* ds, TAccess& access) {
            ++asked;
            const int id = ds->FieldByName("SYS$ID")->AsInteger();
            access = id == 2 || id == 4 ? acNone : (id == 3 ? acReadOnly : acFull);
        };
        vetted->Open();
        EXPECT_EQ(Ids(*vetted), c.kept);
        EXPECT_EQ(asked, c.kind == dkUnknown ? 0 : 4);
    }
}

TEST_F(SDSLoadingTest, WhileFillingItselfOnlyTheRowsEventsAreHeld)
{
    auto sds = NewSDS("GOODS");
    QStringList raised;
    const std::pair<TDataSetNotifyEvent TDataSet::*, const char*> events[] = {
        {&TDataSet::BeforeInsert, "BeforeInsert"}, {&TDataSet::AfterInsert, "AfterInsert"},
        {&TDataSet::BeforeEdit, "BeforeEdit"},     {&TDataSet::AfterEdit, "AfterEdit"},
        {&TDataSet::BeforePost, "BeforePost"},     {&TDataSet::AfterPost, "AfterPost"},
        {&TDataSet::AfterCancel, "AfterCancel"},   {&TDataSet::BeforeDelete, "BeforeDelete"},
        {&TDataSet::AfterDelete, "AfterDelete"},   {&TDataSet::BeforeScroll, "BeforeScroll"},
        {&TDataSet::AfterScroll, "AfterScroll"},   {&TDataSet::OnNewRecord, "OnNewRecord"},
        {&TDataSet::AfterOpen, "AfterOpen"},
    };
    for (const auto& [event, name] : events)
        sds.get()->*event = [&raised, name = name](TDataSet*) { raised << QString::fromLatin1(name); };
    // The loading's own edits, moves and deletes reach none of the rows' events.
    sds->AfterDataLoaded = [&](TDataSet* ds) {
        ds->Append();
        ds->FieldByName("SYS$ID")->SetAsInteger(99);
        ds->Post();
        ds->First();
        ds->Edit();
        ds->Cancel();
        ds->Last();
        ds->Delete();
    };
    sds->Open();
    EXPECT_EQ(raised, (QStringList{"AfterOpen", "AfterScroll"})) << "the opening's own, after the rows are in";

    // The user's own work raises them.
    raised.clear();
    sds->First();
    sds->Edit();
    sds->Cancel();
    EXPECT_EQ(raised, (QStringList{"BeforeScroll", "AfterScroll", "BeforeEdit", "AfterEdit", "AfterCancel"}));
}

TEST_F(SDSLoadingTest, AfterDataLoadedChangesStayLocal)
{
    auto sds = NewSDS("GOODS");
    sds->SetOptions(sds->Options() + TSDSOptions{dsoPessimisticLock, dsoSendNotification});
    const TSDSOptions options = sds->Options();
    bool beforeEditRan = false;
    sds->BeforeEdit = [&](TDataSet*) { beforeEditRan = true; };
    int runs = 0;
    sds->AfterDataLoaded = [&](TDataSet* ds) {
        ++runs;
        EXPECT_TRUE(sds->InternalLoading());
        EXPECT_FALSE(sds->Options().Contains(dsoChangesResolved));
        EXPECT_FALSE(sds->Options().Contains(dsoPessimisticLock));
        EXPECT_FALSE(sds->Options().Contains(dsoSendNotification));
        EXPECT_TRUE(sds->Options().Contains(dsoLoadData));
        ds->First();
        ds->Edit();
        ds->FieldByName("NAME")->SetAsString("Изменено");
        ds->Post();
    };
    sds->Open();
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(beforeEditRan);
    EXPECT_EQ(sds->Options(), options);
    EXPECT_FALSE(sds->InternalLoading());
    sds->First();
    EXPECT_EQ(sds->FieldByName("NAME")->AsString(), "Изменено");

    // The server still has the old name.
    auto check = NewSDS("GOODS");
    check->Open();
    EXPECT_EQ(check->FieldByName("NAME")->AsString(), "Хлеб");

    // A load that fails half-way leaves the data set closed, ready to try again.
    auto broken = NewSDS("GOODS");
    broken->SetReadOnly(true);
    bool fail = true;
    broken->OnRecordLoaded = [&](TDataSet* ds) {
        if (fail && ds->FieldByName("SYS$ID")->AsInteger() == 3)
            throw Exception("сбой");
    };
    EXPECT_THROW(broken->Open(), Exception);
    EXPECT_FALSE(broken->Active());
    EXPECT_FALSE(broken->Prepared());
    EXPECT_FALSE(broken->InternalLoading());
    EXPECT_TRUE(broken->ReadOnly());
    fail = false;
    broken->Open();
    EXPECT_EQ(Ids(*broken), (std::vector<int>{1, 2, 3, 4}));

    // A failing handler still gives the options back.
    auto failing = NewSDS("GOODS");
    failing->AfterDataLoaded = [](TDataSet*) { throw Exception("сбой"); };
    EXPECT_THROW(failing->Open(), Exception);
    EXPECT_EQ(failing->Options(), DefaultSDSOptions);
    EXPECT_FALSE(failing->InternalLoading());
}

TEST_F(SDSLoadingTest, AFailedReloadLeavesNoPendingRow)
{
    // A reload whose fetch fails part way (here the row handler, as a value
    // that no longer fits would) closes the data set: nothing half-loaded
    // stays to be posted by the next move, and the error reaches the caller.
    auto master = NewSDS("CATEGORY");
    TDataSource source;
    source.SetDataSet(master.get());
    master->Open();
    struct Case
    {
        const char* trigger;
        const char* table;
        int failingId;
        std::function<void(TSDS&)> run;
        std::vector<int> idsAfterReopen;
    };
    const Case cases[] = {
        {"Reload", "GOODS", 3, [](TSDS& sds) { sds.Reload(); }, {1, 2, 3, 4}},
        {"ServerFilter", "GOODS", 3, [](TSDS& sds) { sds.SetServerFilter("SYS$ID > 1"); }, {2, 3, 4}},
        {"master moves", "ITEM", 12, [&](TSDS&) { master->Next(); }, {12}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.trigger);
        master->First();
        auto sds = NewSDS(c.table);
        if (QString(c.table) == "ITEM") {
            sds->SetOptions(sds->Options() + TSDSOptions{dsoHandleMDBySQL});
            sds->SetMasterSource(&source);
            sds->SetMasterFields("ID");
            sds->SetDetailFields("CAT_ID");
        }
        sds->SetReadOnly(true);
        bool fail = false;
        sds->OnRecordLoaded = [&](TDataSet* ds) {
            if (fail && ds->FieldByName("SYS$ID")->AsInteger() == c.failingId)
                throw Exception("сбой");
        };
        sds->Open();
        fail = true;
        EXPECT_THROW(c.run(*sds), Exception);
        EXPECT_FALSE(sds->Active());
        EXPECT_EQ(sds->State(), dsInactive);
        EXPECT_FALSE(sds->DataLoaded());
        EXPECT_FALSE(sds->InternalLoading());
        EXPECT_FALSE(sds->ControlsDisabled());
        EXPECT_TRUE(sds->ReadOnly());
        EXPECT_FALSE(SelectSQL(*sds).Open());
        fail = false;
        sds->Open();
        EXPECT_TRUE(sds->DataLoaded());
        EXPECT_EQ(Ids(*sds), c.idsAfterReopen);
    }

    // The same with a value that no longer fits its persistent field after
    // a change on the server.
    auto goods = NewSDS("GOODS");
    AddField<TIntegerField>(*goods, "SYS$ID");
    AddField<TSmallintField>(*goods, "QTY");
    goods->OnRecordLoaded = [](TDataSet*) {};
    goods->Open();
    FTransaction.Commit();
    FTestDb.Execute("ALTER TABLE GOODS ALTER QTY TYPE INTEGER");
    FTestDb.Execute("UPDATE GOODS SET QTY = 100000 WHERE SYS$ID = 3");
    EXPECT_THROW(goods->Reload(), EConvertError);
    EXPECT_FALSE(goods->Active());
    EXPECT_FALSE(goods->DataLoaded());
}

TEST_F(SDSLoadingTest, EveryLoadingPathGivesBackWhatItSwitchedOff)
{
    // Called directly on an open data set whose file is missing, the cache
    // gives the server's rows instead of the ones there, not beside them.
    auto sds = NewSDS("GOODS");
    int beforePost = 0;
    sds->BeforePost = [&](TDataSet*) { ++beforePost; };
    sds->Open();
    sds->LoadFromCache(QDir::temp().filePath("no-such-cache.CDS"), 0);
    EXPECT_EQ(Ids(*sds), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_FALSE(sds->InternalLoading());
    EXPECT_TRUE(sds->DataLoaded());

    // A merge called directly ends as it began: the user's events run again.
    FTestDb.Execute("UPDATE GOODS SET NAME = 'Хлеб белый', SYS$TIME = '2026-01-05 12:00:00' WHERE SYS$ID = 1");
    FTransaction.Commit();
    sds->MergeChangesSince(0);
    EXPECT_FALSE(sds->InternalLoading());
    EXPECT_FALSE(sds->ControlsDisabled());
    ASSERT_TRUE(sds->Locate("SYS$ID", 1));
    EXPECT_EQ(sds->FieldByName("NAME")->AsString(), "Хлеб белый");
    sds->Edit();
    sds->FieldByName("PRICE")->SetAsFloat(13);
    sds->Post();
    EXPECT_EQ(beforePost, 1);

    // And so does a cache file loaded directly.
    QTemporaryDir folder;
    const QString file = folder.filePath("GOODS.CDS");
    sds->SaveToFile(file);
    sds->LoadFromCache(file, 0);
    EXPECT_FALSE(sds->InternalLoading());
    EXPECT_EQ(Ids(*sds), (std::vector<int>{1, 2, 3, 4}));
    sds->Edit();
    sds->Post();
    EXPECT_EQ(beforePost, 2);

    // A fetch that fails leaves no cursor open, also with the handle kept,
    // and controls and indexes on.
    for (const bool keepHandle : {false, true}) {
        SCOPED_TRACE(keepHandle);
        auto failing = NewSDS("GOODS");
        if (keepHandle)
            failing->SetOptions(failing->Options() + TSDSOptions{dsoDontFreeSelectHandle});
        failing->OnRecordLoaded = [](TDataSet* ds) {
            if (ds->FieldByName("SYS$ID")->AsInteger() == 2)
                throw Exception("сбой");
        };
        EXPECT_THROW(failing->Open(), Exception);
        EXPECT_FALSE(SelectSQL(*failing).Open());
        EXPECT_EQ(SelectSQL(*failing).Prepared(), keepHandle);
        EXPECT_FALSE(failing->ControlsDisabled());
        EXPECT_TRUE(failing->EnableIndexes());
    }
}

TEST_F(SDSLoadingTest, LookupFieldsFromTheServer)
{
    // With dsoCalcLookupOnServer a lookup field takes the select's column of
    // its name, whether rows go straight into the table or one by one.
    for (const bool oneByOne : {false, true}) {
        SCOPED_TRACE(oneByOne);
        auto sds = NewSDS("ITEM");
        sds->SetOptions(sds->Options() + TSDSOptions{dsoCalcLookupOnServer});
        sds->SetCommandText("select ITEM.SYS$ID, ITEM.CAT_ID, ITEM.NAME, C.NAME as CAT_NAME, "
                            "ITEM.RDB$DB_KEY as IBX_INTERNAL_DBKEY from ITEM join CATEGORY C on C.ID = ITEM.CAT_ID");
        AddField<TIntegerField>(*sds, "SYS$ID");
        AddField<TIntegerField>(*sds, "CAT_ID");
        AddField<TStringField>(*sds, "NAME")->SetSize(20);
        auto* category = AddField<TStringField>(*sds, "CAT_NAME", fkLookup);
        category->SetSize(20);
        int loaded = 0;
        if (oneByOne)
            sds->OnRecordLoaded = [&](TDataSet*) { ++loaded; };
        sds->Open();
        EXPECT_EQ(loaded, oneByOne ? 3 : 0);
        std::vector<QString> names;
        for (sds->First(); !sds->Eof(); sds->Next())
            names.push_back(category->AsString());
        EXPECT_EQ(names, (std::vector<QString>{"Еда", "Еда", "Напитки"}));
        sds->Close();
        EXPECT_EQ(category->FieldKind(), fkLookup);
    }
}

TEST_F(SDSLoadingTest, ServerFilterOnAnOpenDataSet)
{
    auto sds = NewSDS("GOODS");
    sds->SetServerFilter("SYS$ID > 1"); // closed: stored only
    sds->Open();
    EXPECT_EQ(Ids(*sds), (std::vector<int>{2, 3, 4}));
    const QString first = "select GOODS.*, RDB$DB_KEY as IBX_INTERNAL_DBKEY from GOODS";

    struct Step
    {
        const char* filter;
        QStringList lines;
        std::vector<int> ids;
    };
    const Step steps[] = {
        {"SYS$ID > 2", {first, " WHERE SYS$ID > 2", " ORDER BY SYS$ID"}, {3, 4}},
        {"", {first, " ", " ORDER BY SYS$ID"}, {1, 2, 3, 4}},
        {"SYS$ID < 3", {first, " WHERE SYS$ID < 3", " ORDER BY SYS$ID"}, {1, 2}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.filter);
        sds->SetServerFilter(step.filter);
        EXPECT_EQ(SelectSQL(*sds).SQL().Lines(), step.lines);
        EXPECT_EQ(Ids(*sds), step.ids);
    }

    // Opened without a condition: the order line stays after the new one.
    auto plain = NewSDS("GOODS");
    plain->Open();
    plain->SetServerFilter("PRICE > 10");
    EXPECT_EQ(SelectSQL(*plain).SQL().Lines(), QStringList({first, " WHERE PRICE > 10", " ORDER BY SYS$ID"}));
    EXPECT_EQ(Ids(*plain), (std::vector<int>{1, 2}));

    // A select text with a WHERE of its own is extended with AND.
    auto text = NewSDS("GOODS");
    const QString cmd = "select GOODS.SYS$ID, GOODS.NAME, GOODS.RDB$DB_KEY as IBX_INTERNAL_DBKEY from GOODS "
                        "where GOODS.SYS$ID > 1";
    text->SetCommandText(cmd);
    text->Open();
    EXPECT_EQ(Ids(*text), (std::vector<int>{2, 3, 4}));
    text->SetServerFilter("GOODS.SYS$ID < 4");
    EXPECT_EQ(SelectSQL(*text).SQL().Lines(), QStringList({cmd, " AND GOODS.SYS$ID < 4", " ORDER BY GOODS.SYS$ID"}));
    EXPECT_EQ(Ids(*text), (std::vector<int>{2, 3}));

    // An attached data set shares its master's rows and select.
    TSDS attached;
    attached.SetMasterDataset(plain.get());
    try {
        attached.SetServerFilter("SYS$ID = 1");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Нельзя устанавливать ServerFilter у клона !");
    }
}

TEST_F(SDSLoadingTest, SelectTextsWithAnyLineBreak)
{
    // The server filter extends the text's own WHERE and keeps its FROM,
    // whatever line breaks the text was written with.
    for (const char* lineBreak : {"\n", "\r", "\r\n", "\n\r"}) {
        SCOPED_TRACE(QString::fromLatin1(lineBreak).toUtf8().toHex().toStdString());
        auto text = NewSDS("GOODS");
        const QString br = QString::fromLatin1(lineBreak);
        text->SetCommandText("select GOODS.SYS$ID, GOODS.NAME, GOODS.RDB$DB_KEY as IBX_INTERNAL_DBKEY" + br
                             + "from GOODS" + br + "where GOODS.SYS$ID > 1");
        const QString cmd =
            "select GOODS.SYS$ID, GOODS.NAME, GOODS.RDB$DB_KEY as IBX_INTERNAL_DBKEY from GOODS where GOODS.SYS$ID > 1";
        EXPECT_EQ(text->CommandText(), cmd);
        text->SetServerFilter("GOODS.SYS$ID < 4");
        text->Open();
        EXPECT_EQ(SelectSQL(*text).SQL().Lines(),
                  QStringList({cmd, " AND GOODS.SYS$ID < 4", " ORDER BY GOODS.SYS$ID"}));
        EXPECT_EQ(Ids(*text), (std::vector<int>{2, 3}));
        text->SetServerFilter("GOODS.SYS$ID <> 3");
        EXPECT_EQ(SelectSQL(*text).SQL().Lines(),
                  QStringList({cmd, " AND GOODS.SYS$ID <> 3", " ORDER BY GOODS.SYS$ID"}));
        EXPECT_EQ(Ids(*text), (std::vector<int>{2, 4}));
    }
}

TEST_F(SDSLoadingTest, ServerSideMasterDetailReloadsOnlyForANewKey)
{
    auto master = NewSDS("CATEGORY");
    TDataSource source;
    source.SetDataSet(master.get());
    auto detail = NewSDS("ITEM");
    // The parameters are compared on the kept statement.
    detail->SetOptions(detail->Options() + TSDSOptions{dsoHandleMDBySQL, dsoDontFreeSelectHandle});
    detail->SetMasterSource(&source);
    detail->SetMasterFields("ID");
    detail->SetDetailFields("CAT_ID");
    int loads = 0;
    detail->AfterDataLoaded = [&](TDataSet*) { ++loads; };
    // Before its master: the detail says the master is closed.
    try {
        detail->Open();
        ADD_FAILURE() << "opened without its master";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "CATEGORY: Cannot perform this operation on a closed dataset");
    }
    EXPECT_FALSE(detail->Active());
    EXPECT_FALSE(detail->InternalLoading());
    master->Open();
    detail->Open();
    EXPECT_EQ(SelectSQL(*detail).SQL().Lines()[1], " WHERE CAT_ID=:MD_CAT_ID");
    EXPECT_EQ(Ids(*detail), (std::vector<int>{10, 11}));
    EXPECT_EQ(loads, 1);

    master->Next();
    EXPECT_EQ(Ids(*detail), (std::vector<int>{12}));
    EXPECT_EQ(loads, 3); // inside the reload and once more after it

    // The same master key again: nothing is read.
    master->Edit();
    master->FieldByName("NAME")->SetAsString("Соки");
    master->Post();
    master->Refresh();
    EXPECT_EQ(loads, 3);
    EXPECT_EQ(Ids(*detail), (std::vector<int>{12}));

    master->First();
    EXPECT_EQ(Ids(*detail), (std::vector<int>{10, 11}));
    EXPECT_EQ(loads, 5);
}

TEST_F(SDSLoadingTest, AttachedDataSetsShareTheMastersRows)
{
    auto master = NewSDS("GOODS");
    master->SetOptions(master->Options() + TSDSOptions{dsoLookupClone});
    master->Loaded();
    TSDS* clone = master->LookupClone();
    ASSERT_NE(clone, nullptr);
    clone->Open(); // opens the master first
    EXPECT_TRUE(master->Active());
    EXPECT_TRUE(clone->Prepared());
    EXPECT_TRUE(clone->DataLoaded());
    EXPECT_EQ(clone->TableName(), "GOODS");
    EXPECT_EQ(clone->KeyFields(), "SYS$ID");
    EXPECT_EQ(clone->IndexNames(), master->IndexNames());
    EXPECT_EQ(SelectSQL(*clone).SQL().Lines(), SelectSQL(*master).SQL().Lines());
    EXPECT_EQ(UpdateSQL(*clone).SQL().Text(), UpdateSQL(*master).SQL().Text());
    EXPECT_EQ(clone->IdField(), clone->FieldByName("SYS$ID"));
    EXPECT_EQ(Ids(*clone), (std::vector<int>{1, 2, 3, 4}));

    // Its own cursor; the master's edits show through.
    clone->Last();
    master->First();
    master->Edit();
    master->FieldByName("NAME")->SetAsString("Хлеб ржаной");
    master->Post();
    ASSERT_TRUE(clone->Locate("SYS$ID", 1));
    EXPECT_EQ(clone->FieldByName("NAME")->AsString(), "Хлеб ржаной");

    // Reloading the clone reloads its master from the server.
    FTestDb.Execute("INSERT INTO GOODS (SYS$ID, NAME) VALUES (5, 'Новый')");
    FTransaction.Commit();
    clone->Reload();
    EXPECT_EQ(Ids(*master), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(Ids(*clone), (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST_F(SDSLoadingTest, LocalTableDropsTheServerOptions)
{
    TSDS local;
    AddField<TIntegerField>(local, "ID");
    AddField<TStringField>(local, "NAME");
    local.Open();
    EXPECT_FALSE(local.Prepared());
    const TSDSOptions gone{dsoChangesResolved,  dsoLoadData,          dsoLoadAllFields,    dsoAutoCommit,
                           dsoSendNotification, dsoRefreshBeforeEdit, dsoRefreshAfterEdit, dsoPessimisticLock};
    EXPECT_EQ(local.Options(), TSDSOptions{dsoFieldsDefaultVisible});
    EXPECT_EQ(DefaultSDSOptions - gone, TSDSOptions{});
    local.Append();
    local.FieldByName("ID")->SetAsInteger(1);
    local.Post();
    EXPECT_EQ(local.RecordCount(), 1);
}

TEST_F(SDSLoadingTest, ConnectionOpensItsUsers)
{
    TSDS* users = FDb->Users();
    ASSERT_TRUE(users->Active());
    EXPECT_EQ(users->TableName(), "SYS_USER");
    EXPECT_TRUE(users->Options().Contains(dsoVirtualDelete));
    EXPECT_EQ(users->AttachMaxCount(), 4);
    ASSERT_TRUE(users->Locate("SYS$ID", 2));
    EXPECT_EQ(users->FieldByName("NAME")->AsString(), "Оператор");
    FDb->Close();
    EXPECT_FALSE(users->Active());
}

// A data set cached on disk between two "runs" of the program.
class SDSCacheTest : public SDSLoadingTest
{
protected:
    void SetUp() override
    {
        SDSLoadingTest::SetUp();
        FDb->Close();
        FDb->SetLocalCache(true);
        FDb->Open();
    }

    std::unique_ptr<TSDS> CachedGoods(const QString& filter = QString())
    {
        auto sds = NewSDS("GOODS");
        sds->SetOptions(sds->Options() + TSDSOptions{dsoLocalCachData});
        sds->SetServerFilter(filter);
        return sds;
    }
    // The program ends and starts again.
    void Restart()
    {
        if (FTransaction.InTransaction())
            FTransaction.Commit();
        FDb->Close();
        FDb->Open();
    }

    QTemporaryDir FTemp;
    TEnvGuard FTempVar{"TEMP", FTemp.path().toLocal8Bit()};
};

TEST_F(SDSCacheTest, CachedRowsAreMergedWithServerChanges)
{
    QString cacheFile;
    {
        auto first = CachedGoods();
        first->Open();
        EXPECT_EQ(Ids(*first), (std::vector<int>{1, 2, 3, 4}));
        cacheFile = first->CacheFileName();
        EXPECT_TRUE(cacheFile.endsWith("/GOODS.CDS"));
    } // destroyed: the rows go to the cache file
    ASSERT_TRUE(QFile::exists(cacheFile));

    // Meanwhile on the server: one row changed, one added, one deleted.
    FTestDb.Execute("UPDATE GOODS SET NAME = 'Хлеб белый', SYS$TIME = '2026-01-05 12:00:00' WHERE SYS$ID = 1");
    FTestDb.Execute("UPDATE GOODS SET NAME = 'Без отметки' WHERE SYS$ID = 3"); // time unchanged
    FTestDb.Execute("INSERT INTO GOODS (SYS$ID, NAME, SYS$TIME) VALUES (5, 'Новый', '2026-01-05 12:00:00')");
    FTestDb.Execute("DELETE FROM GOODS WHERE SYS$ID = 2");
    Restart();

    auto second = CachedGoods();
    second->Open();
    EXPECT_EQ(second->CacheFileName(), cacheFile);
    // Rows added or deleted on the server since are left as cached.
    EXPECT_EQ(Ids(*second), (std::vector<int>{1, 2, 3, 4}));
    ASSERT_TRUE(second->Locate("SYS$ID", 1));
    EXPECT_EQ(second->FieldByName("NAME")->AsString(), "Хлеб белый");
    ASSERT_TRUE(second->Locate("SYS$ID", 3));
    EXPECT_EQ(second->FieldByName("NAME")->AsString(), "Соль");
    EXPECT_TRUE(second->DataLoaded());
    EXPECT_FALSE(second->InternalLoading());
    EXPECT_NE(second->DbKeyField(), nullptr);
}

TEST_F(SDSCacheTest, TheCacheFileIsTheOneTheRowsCameFrom)
{
    // Another database with other rows in the same table.
    TIBTestDatabase other;
    other.CreateFrameworkSchema();
    other.ExecuteScript(QString::fromUtf8(Schema));
    other.Execute("DELETE FROM GOODS WHERE SYS$ID > 2");
    other.Execute("UPDATE GOODS SET NAME = 'Другая база'");

    auto first = CachedGoods();
    first->Open();
    const QString firstFile = first->CacheFileName();
    // The connection moves to the other database while the data set lives on.
    FTransaction.Commit();
    FDb->Close();
    FDb->SetDatabaseName(other.Path());
    FDb->SetParams(other.ConnectParams());
    FDb->Open();
    first.reset();

    auto second = CachedGoods();
    second->Open();
    EXPECT_NE(second->CacheFileName(), firstFile);
    EXPECT_EQ(Ids(*second), (std::vector<int>{1, 2}));
    EXPECT_EQ(second->FieldByName("NAME")->AsString(), "Другая база"); // the last row's
    second.reset();
    // The first database's file still holds its own rows.
    TSDS check;
    check.LoadFromFile(firstFile);
    EXPECT_EQ(Ids(check), (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(SDSCacheTest, ADataSetClosedBeforeItIsFreedWritesItsFile)
{
    QString cacheFile;
    {
        auto sds = CachedGoods("SYS$ID < 3");
        sds->Open();
        cacheFile = sds->CacheFileName();
        sds->Close();
        EXPECT_TRUE(QFile::exists(cacheFile)); // the index names its version: the file is there
    }
    // A change on the server that leaves SYS$TIME alone is not merged: the
    // name shows whether the rows came from the file.
    FTestDb.Execute("UPDATE GOODS SET NAME = 'Без отметки' WHERE SYS$ID = 1");
    Restart();
    auto again = CachedGoods("SYS$ID < 3");
    again->Open();
    EXPECT_EQ(Ids(*again), (std::vector<int>{1, 2}));
    ASSERT_TRUE(again->Locate("SYS$ID", 1));
    EXPECT_EQ(again->FieldByName("NAME")->AsString(), "Хлеб");
}

TEST_F(SDSCacheTest, ARunKilledBeforeTheIndexIsWrittenNeverServesAnotherFiltersRows)
{
    CachedGoods()->Open(); // cached under the empty filter
    Restart();
    CachedGoods("SYS$ID < 3")->Open(); // the file now holds this filter's rows
    // Killed: "cache.ini" still names the empty filter.
    FTransaction.Commit();
    FDb->SetLocalCache(false);
    FDb->Close();
    FDb->SetLocalCache(true);
    FDb->Open();
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        auto all = CachedGoods();
        all->Open();
        EXPECT_EQ(Ids(*all), (std::vector<int>{1, 2, 3, 4}));
        all.reset();
        Restart();
    }
}

TEST_F(SDSCacheTest, AnUnusableCacheFallsBackToTheServer)
{
    QString cacheFile;
    {
        auto first = CachedGoods();
        first->Open();
        cacheFile = first->CacheFileName();
    }
    FTestDb.Execute("INSERT INTO GOODS (SYS$ID, NAME, SYS$TIME) VALUES (5, 'Новый', '2026-01-05 12:00:00')");
    {
        QFile file(cacheFile);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.seek(file.size() / 2);
        file.write("damage");
    }
    Restart();
    {
        auto second = CachedGoods();
        second->Open();
        EXPECT_EQ(Ids(*second), (std::vector<int>{1, 2, 3, 4, 5}));
    }
    // The damaged file was replaced by a good one.
    TSDS check;
    check.LoadFromFile(cacheFile);
    EXPECT_EQ(Ids(check), (std::vector<int>{1, 2, 3, 4, 5}));

    // A file that passes its checks but cannot be taken whole (an index over
    // a field it does not have) is read from the server too.
    {
        TMemTableImage image = DecodeMemTableImage(ReadAll(cacheFile), cacheFile);
        image.IndexDefs.push_back({"BAD", "NOPE", 0});
        QFile out(cacheFile);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(EncodeMemTableImage(image));
    }
    Restart();
    {
        auto third = CachedGoods();
        third->Open();
        EXPECT_EQ(Ids(*third), (std::vector<int>{1, 2, 3, 4, 5}));
        EXPECT_NE(third->FindField("PRICE"), nullptr);
        EXPECT_TRUE(third->Prepared());
    }

    // Another server filter is another version of the file.
    Restart();
    {
        // Two filters in one run: the file and the index end with the last one saved.
        auto all = CachedGoods();
        all->Open();
        EXPECT_EQ(Ids(*all), (std::vector<int>{1, 2, 3, 4, 5}));
        auto filtered = CachedGoods("SYS$ID < 3");
        filtered->Open();
        EXPECT_EQ(Ids(*filtered), (std::vector<int>{1, 2}));
        all.reset();
    }
    Restart();
    auto again = CachedGoods("SYS$ID < 3");
    again->Open();
    EXPECT_EQ(Ids(*again), (std::vector<int>{1, 2}));
}

} // namespace
