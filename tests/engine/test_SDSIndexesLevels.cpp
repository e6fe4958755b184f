// The data set's indexes, lookups, attached data sets, master-detail and
// level browsing, on a tree of groups and leaves in embedded Firebird.
#include "SDS.h"
#include "SDS_p.h"

#include "DataSource.h"
#include "IBSQL.h"
#include "IBTestDatabase.h"
#include "SDSFixture.h"
#include "SDatabase.h"

#include "QtPrinters.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

// Groups 1, 2, 3 (empty) and 12 (inside 2); leaves elsewhere; 15 is a
// deleted leaf. CYCLE holds two groups that are each other's parent.
const char* const Schema = R"(
CREATE TABLE TREE (
  SYS$ID INTEGER NOT NULL PRIMARY KEY,
  SYS$PID INTEGER,
  SYS$STATE INTEGER,
  NAME VARCHAR(20),
  SYS$TIME TIMESTAMP);
CREATE INDEX TREE_NAME ON TREE (NAME);
INSERT INTO TREE VALUES (1, 0, 0, 'Еда', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (2, 0, 0, 'Напитки', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (3, 0, 0, 'Пусто', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (10, 1, 1073741824, 'Хлеб', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (11, 1, 1073741824, 'Соль', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (12, 2, 0, 'Соки', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (13, 12, 1073741824, 'Яблочный', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (14, 2, 1073741824, 'Вода', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (15, 1, -1073741824, 'Удалён', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (20, 0, 1073741824, 'Чай', '2026-01-01 10:00:00');
CREATE TABLE NOKEY (A INTEGER, B VARCHAR(10));
INSERT INTO NOKEY VALUES (2, 'б');
INSERT INTO NOKEY VALUES (1, 'а');
CREATE TABLE DUPS (ID INTEGER, NAME VARCHAR(10), CONSTRAINT DUPS_UQ UNIQUE (ID));
INSERT INTO DUPS VALUES (NULL, 'x');
INSERT INTO DUPS VALUES (NULL, 'y');
INSERT INTO DUPS VALUES (1, 'z');
CREATE TABLE CYCLE (
  SYS$ID INTEGER NOT NULL PRIMARY KEY,
  SYS$PID INTEGER,
  SYS$STATE INTEGER,
  NAME VARCHAR(20));
INSERT INTO CYCLE VALUES (100, 101, 0, 'a');
INSERT INTO CYCLE VALUES (101, 100, 0, 'b');
INSERT INTO CYCLE VALUES (102, 101, 1073741824, 'c');
)";

std::vector<int> Ids(TDataSet& dataSet)
{
    std::vector<int> ids;
    const TBookmark at = dataSet.IsEmpty() ? TBookmark() : dataSet.GetBookmark();
    for (dataSet.First(); !dataSet.Eof(); dataSet.Next())
        ids.push_back(dataSet.FieldByName("SYS$ID")->AsInteger());
    if (!at.isEmpty())
        dataSet.GotoBookmark(at);
    return ids;
}

std::vector<int> SortedIds(TDataSet& dataSet)
{
    std::vector<int> ids = Ids(dataSet);
    std::sort(ids.begin(), ids.end());
    return ids;
}

int Current(TDataSet& dataSet) { return dataSet.FieldByName("SYS$ID")->AsInteger(); }

class SDSIndexesTest : public TSDSFixture
{
protected:
    void SetUp() override { CreateAndConnect(Schema); }

    std::unique_ptr<TSDS> Levels(const QString& table = QStringLiteral("TREE"))
    {
        auto sds = NewSDS(table, {dsoLevels});
        sds->OnLevelDown = [this](TDataSet*) { ++FDowns; };
        sds->OnLevelUp = [this](TDataSet*) { ++FUps; };
        return sds;
    }

    int FDowns = 0, FUps = 0;
};

} // namespace

// ----------------------------------------------------------------- indexes

TEST_F(SDSIndexesTest, OpeningMakesTheUniqueKeyCurrentWithTheLevelPrefixWhenBrowsingLevels)
{
    auto flat = NewSDS("TREE");
    flat->Open();
    EXPECT_EQ(flat->IndexName(), "PRIMARY_KEY");
    EXPECT_EQ(flat->IndexFieldNames(), "SYS$ID");
    ASSERT_NE(flat->IndexDefs().Find("PRIMARY_KEY"), nullptr);
    EXPECT_TRUE(flat->IndexDefs().Find("PRIMARY_KEY")->Options() & ixUnique);
    EXPECT_EQ(Ids(*flat), (std::vector<int>{1, 2, 3, 10, 11, 12, 13, 14, 15, 20}));

    auto levels = Levels();
    levels->Open();
    TCustomMemTable& table = *levels;
    EXPECT_EQ(table.IndexName(), "PRIMARY_KEY");
    EXPECT_EQ(table.IndexFieldNames(), "SYS$ID"); // the prefix never shows
    EXPECT_EQ(levels->IndexDefs().Find("PRIMARY_KEY")->Fields(), "SYS$PID;SYS$ID");
    EXPECT_TRUE(levels->IndexDefs().Find("PRIMARY_KEY")->Options() & ixUnique);
    EXPECT_EQ(Ids(*levels), (std::vector<int>{1, 2, 3, 20}));
}

TEST_F(SDSIndexesTest, IndexesByNameAndByFieldList)
{
    auto sds = NewSDS("TREE");
    sds->Open();
    // The relation's own index, built when first asked for.
    sds->SetIndexName("tree_name");
    EXPECT_EQ(sds->IndexFieldNames(), "NAME");
    EXPECT_EQ(Ids(*sds).front(), 14); // Вода
    EXPECT_THROW(sds->SetIndexName("NO_SUCH_INDEX"), EDatabaseError);

    // A field list gets one index, whatever the letter case, named by a number.
    const int before = sds->IndexDefs().Count();
    sds->SetIndexFieldNames("SYS$PID;NAME");
    const QString made = sds->TCustomMemTable::IndexName();
    bool number = false;
    made.toInt(&number);
    EXPECT_TRUE(number) << made.toStdString();
    sds->SetIndexFieldNames("sys$pid;name");
    EXPECT_EQ(sds->IndexDefs().Count(), before + 1);
    EXPECT_EQ(sds->TCustomMemTable::IndexName(), made);
    EXPECT_EQ(Ids(*sds), (std::vector<int>{1, 2, 3, 20, 11, 15, 10, 14, 12, 13}));
    EXPECT_TRUE(sds->IndexName().isEmpty());

    // Another order drops the index the previous one made: here the
    // relation's own index serves it. The lookup by SYS$ID still finds rows.
    sds->SetIndexFieldNames("NAME");
    EXPECT_EQ(sds->IndexDefs().Count(), before);
    EXPECT_EQ(sds->IndexDefs().Find(made), nullptr);
    EXPECT_EQ(sds->IndexName(), "tree_name");
    EXPECT_EQ(Ids(*sds).front(), 14);
    sds->GotoID(12);
    EXPECT_EQ(sds->FieldByName("SYS$ID")->AsInteger(), 12);

    // An empty name goes back to the key.
    sds->SetIndexName("");
    EXPECT_EQ(sds->IndexName(), "PRIMARY_KEY");

    // A relation without a key keeps whatever order it has.
    auto nokey = NewSDS("NOKEY");
    nokey->Open();
    EXPECT_TRUE(nokey->IndexName().isEmpty());
    nokey->SetIndexFieldNames("B");
    nokey->SetIndexName("");
    EXPECT_EQ(nokey->IndexFieldNames(), "B");
    nokey->First();
    EXPECT_EQ(nokey->FieldByName("A")->AsInteger(), 1);
}

TEST_F(SDSIndexesTest, HiddenRecordsAreLeftOutOfEveryIndexBuiltAfter)
{
    struct Case
    {
        TSDSOptions Options;
        bool DeletedShown;
    };
    for (const Case& c : {Case{{}, true}, Case{{dsoVirtualDelete}, false},
                          Case{{dsoVirtualDelete, dsoShowDeleted}, true}, Case{{dsoPermissions}, false}}) {
        SCOPED_TRACE(c.Options.Value());
        auto sds = NewSDS("TREE", c.Options);
        sds->Open();
        const auto has = [&](int id) {
            const std::vector<int> ids = Ids(*sds);
            return std::find(ids.begin(), ids.end(), id) != ids.end();
        };
        EXPECT_EQ(has(15), c.DeletedShown);
        sds->SetIndexFieldNames("NAME");
        EXPECT_EQ(has(15), c.DeletedShown);
        // A record deleted here is not in the index built next.
        ASSERT_TRUE(sds->Locate("SYS$ID", 10));
        const int state = sds->FieldByName("SYS$STATE")->AsInteger();
        sds->Edit();
        sds->FieldByName("SYS$STATE")->SetAsInteger(-1073741824);
        sds->Post();
        sds->SetIndexFieldNames("SYS$STATE;NAME");
        EXPECT_EQ(has(10), c.DeletedShown);
        EXPECT_TRUE(has(11));
        // The post reached the server: the next case starts from the record as it was.
        auto restore = NewSDS("TREE");
        restore->Open();
        ASSERT_TRUE(restore->Locate("SYS$ID", 10));
        restore->Edit();
        restore->FieldByName("SYS$STATE")->SetAsInteger(state);
        restore->Post();
    }
}

TEST_F(SDSIndexesTest, RepeatedKeysAsLoadedOpenInKeyOrder)
{
    // A unique key with several nulls: the rows all stay, in key order,
    // and reloading (indexes rebuilt after the bulk load) does the same.
    auto sds = NewSDS("DUPS");
    sds->Open();
    EXPECT_EQ(sds->KeyFields(), "ID");
    EXPECT_EQ(sds->IndexName(), "PRIMARY_KEY");
    EXPECT_FALSE(sds->IndexDefs().Find("PRIMARY_KEY")->Options() & ixUnique);
    EXPECT_EQ(sds->RecordCount(), 3);
    sds->Last();
    EXPECT_EQ(sds->FieldByName("NAME")->AsString(), "z");
    sds->IndexDefs().Find("PRIMARY_KEY")->SetOptions(ixUnique); // as a first open with distinct keys leaves it
    sds->Reload();
    EXPECT_TRUE(sds->Active());
    EXPECT_TRUE(sds->EnableIndexes());
    EXPECT_EQ(sds->IndexName(), "PRIMARY_KEY");
    EXPECT_FALSE(sds->IndexDefs().Find("PRIMARY_KEY")->Options() & ixUnique);
    EXPECT_EQ(sds->RecordCount(), 3);
}

TEST_F(SDSIndexesTest, LookupBySysIdMovesAndByTwoFieldsKeepsTheCursor)
{
    auto sds = NewSDS("TREE");
    sds->Open();
    EXPECT_EQ(sds->Lookup("SYS$ID", 12, "NAME").AsString(), "Соки");
    EXPECT_EQ(Current(*sds), 12);
    EXPECT_TRUE(sds->Lookup("SYS$ID", 99, "NAME").IsNull());
    EXPECT_THROW(sds->Lookup("SYS$ID", 12, "NAME;SYS$PID"), EDatabaseError);

    ASSERT_TRUE(sds->Locate("SYS$ID", 3));
    EXPECT_EQ(sds->Lookup("SYS$PID;NAME", Variant(std::vector<Variant>{Variant(1), Variant(QStringLiteral("Соль"))}),
                          "SYS$ID")
                  .AsInteger(),
              11);
    EXPECT_EQ(Current(*sds), 3);

    // By another index the key search would find the wrong record: the
    // base lookup answers.
    sds->SetIndexFieldNames("NAME");
    EXPECT_EQ(sds->Lookup("SYS$ID", 13, "NAME").AsString(), "Яблочный");
    // By the current index's single field: a key search.
    EXPECT_EQ(sds->Lookup("NAME", QStringLiteral("Вода"), "SYS$ID").AsInteger(), 14);
    EXPECT_EQ(Current(*sds), 14);
}

// ------------------------------------------------------ attached data sets

TEST_F(SDSIndexesTest, AttachedDataSetSharesRowsAndChecksItsFields)
{
    auto master = NewSDS("TREE");
    master->SetAttachMaxCount(2);
    TSDS attached;
    attached.setObjectName("ATT");
    attached.SetMasterDataset(master.get());
    attached.SetIndexFieldNames("NAME");
    attached.Open();
    EXPECT_TRUE(master->Active());
    EXPECT_EQ(attached.IndexFieldNames(), "NAME");
    EXPECT_EQ(UpdateSQL(attached).SQL().Text(), UpdateSQL(*master).SQL().Text());
    EXPECT_EQ(InsertSQL(attached).Transaction(), InsertSQL(*master).Transaction());
    EXPECT_EQ(attached.RecordCount(), master->RecordCount());
    ASSERT_TRUE(attached.Locate("SYS$ID", 13));
    attached.Edit();
    attached.FieldByName("NAME")->SetAsString("Грушевый");
    attached.Post();
    EXPECT_EQ(master->Lookup("SYS$ID", 13, "NAME").AsString(), "Грушевый");

    struct Case
    {
        const char* Field;
        bool Integer;
        int Size;
        const char* Message;
    };
    for (
        const Case& c :
        {Case{"EXTRA", false, 0,
              "В компоненте ATT2 присутствует поле EXTRA которое отсутствует в master компоненте TREE"},
         Case{
             "NAME", true, 0,
             "В компоненте ATT2 присутствует поле NAME тип которого не совпадает с типом поля в master компоненте TREE"},
         Case{
             "NAME", false, 5,
             "В компоненте ATT2 присутствует поле NAME размер которого не совпадает с размером поля в master компоненте TREE"}}) {
        TSDS other;
        other.setObjectName("ATT2");
        other.SetMasterDataset(master.get());
        AddField<TIntegerField>(other, "SYS$ID");
        TField* field = c.Integer ? static_cast<TField*>(AddField<TIntegerField>(other, c.Field, fkCalculated))
                                  : AddField<TStringField>(other, c.Field, fkCalculated);
        if (c.Size) {
            // A data field the server does not write: checked, not resized.
            field->SetFieldKind(fkData);
            field->SetProviderFlags(0);
            field->SetSize(c.Size);
        }
        try {
            other.Open();
            ADD_FAILURE() << "opened: " << c.Message;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), QString::fromUtf8(c.Message));
        }
        EXPECT_FALSE(other.Active());
        EXPECT_FALSE(other.InternalLoading());
    }
}

TEST_F(SDSIndexesTest, LookupCloneShowsOnlyRowsBothAccessEventsAllow)
{
    auto master = NewSDS("TREE", {dsoLookupClone});
    std::vector<TSDS*> asked;
    master->OnGetAccess = [&](TSDS* sds, TAccess& access) {
        asked.push_back(sds);
        if (sds->FieldByName("NAME")->AsString() == "Соль")
            access = acReadOnly;
    };
    master->OnGetAccessTmp = [&](TSDS* sds, TAccess& access) {
        if (sds->FieldByName("SYS$ID")->AsInteger() == 14)
            access = acNone;
    };
    master->Loaded();
    TSDS* clone = master->LookupClone();
    ASSERT_NE(clone, nullptr);
    clone->Open();
    EXPECT_EQ(SortedIds(*clone), (std::vector<int>{1, 2, 3, 10, 12, 13, 20})); // 15 is deleted
    EXPECT_EQ(master->RecordCount(), 10);
    ASSERT_FALSE(asked.empty());
    EXPECT_TRUE(std::all_of(asked.begin(), asked.end(), [&](TSDS* s) { return s == clone; }));
}

// ----------------------------------------------------------- master-detail

TEST_F(SDSIndexesTest, DetailFollowsItsMasterInBothModes)
{
    for (const bool bySQL : {false, true}) {
        SCOPED_TRACE(bySQL);
        auto master = NewSDS("TREE");
        master->Open();
        TDataSource source;
        source.SetDataSet(master.get());
        auto detail = NewSDS("TREE", bySQL ? TSDSOptions{dsoHandleMDBySQL, dsoDontFreeSelectHandle} : TSDSOptions{});
        detail->setObjectName("DETAIL");
        detail->SetMasterSource(&source);
        detail->SetMasterFields("SYS$PID");
        detail->SetDetailFields("SYS$PID");
        int loads = 0;
        detail->AfterDataLoaded = [&](TDataSet*) { ++loads; };
        detail->Open();
        EXPECT_TRUE(master->HasDetailDataSets());
        EXPECT_FALSE(detail->HasDetailDataSets());
        EXPECT_EQ(SortedIds(*detail), (std::vector<int>{1, 2, 3, 20}));
        ASSERT_TRUE(master->Locate("SYS$ID", 10));
        EXPECT_EQ(SortedIds(*detail), (std::vector<int>{10, 11, 15}));
        const int afterMove = loads;
        // 11 has the same parent as 10: nothing is read again.
        ASSERT_TRUE(master->Locate("SYS$ID", 11));
        EXPECT_EQ(loads, afterMove);
        EXPECT_EQ(SortedIds(*detail), (std::vector<int>{10, 11, 15}));
        ASSERT_TRUE(master->Locate("SYS$ID", 13));
        EXPECT_EQ(SortedIds(*detail), (std::vector<int>{13}));
        if (bySQL) {
            EXPECT_GT(loads, afterMove);
        }
    }
}

// ------------------------------------------------------------------ levels

TEST_F(SDSIndexesTest, DownIntoAGroupAndUpAgain)
{
    auto sds = Levels();
    sds->Open();
    EXPECT_EQ(sds->LevelCount(), 1);
    EXPECT_FALSE(sds->LevelUp()); // at the root
    ASSERT_TRUE(sds->Locate("SYS$ID", 20));
    EXPECT_TRUE(sds->IsLeaf());
    EXPECT_FALSE(sds->LevelDown()); // a leaf
    EXPECT_EQ(FDowns, 0);

    ASSERT_TRUE(sds->Locate("SYS$ID", 2));
    EXPECT_TRUE(sds->LevelDown());
    EXPECT_EQ(FDowns, 1);
    EXPECT_EQ(sds->LevelCount(), 2);
    EXPECT_EQ(sds->LevelInfos().Last()->GetFieldValue("NAME").AsString(), "Напитки");
    EXPECT_EQ(Ids(*sds), (std::vector<int>{12, 14}));
    ASSERT_TRUE(sds->Locate("SYS$ID", 12));
    EXPECT_TRUE(sds->LevelDown());
    EXPECT_EQ(Ids(*sds), (std::vector<int>{13}));
    EXPECT_TRUE(sds->LevelUp());
    EXPECT_EQ(Current(*sds), 12);
    EXPECT_TRUE(sds->LevelUp());
    EXPECT_EQ(Current(*sds), 2);
    EXPECT_EQ(FUps, 2);
    EXPECT_EQ(Ids(*sds), (std::vector<int>{1, 2, 3, 20}));

    // An empty group can be entered; nothing goes further down from it.
    ASSERT_TRUE(sds->Locate("SYS$ID", 3));
    EXPECT_TRUE(sds->LevelDown());
    EXPECT_TRUE(sds->IsEmpty());
    const int downs = FDowns;
    EXPECT_FALSE(sds->LevelDown());
    EXPECT_EQ(FDowns, downs);
}

TEST_F(SDSIndexesTest, KeySearchesAndRangesStayInsideTheLevelAlsoThroughTheBaseClass)
{
    auto sds = Levels();
    sds->Open();
    TCustomMemTable& table = *sds;
    table.SetIndexFieldNames("NAME");
    EXPECT_EQ(table.IndexFieldNames(), "NAME");
    QList<TField*> fields;
    sds->GetIndexFields(fields);
    EXPECT_EQ(fields, QList<TField*>{sds->FieldByName("NAME")});
    EXPECT_EQ(Ids(*sds), (std::vector<int>{1, 2, 3, 20}));
    ASSERT_TRUE(sds->Locate("SYS$ID", 1));
    ASSERT_TRUE(sds->LevelDown());
    EXPECT_EQ(Ids(*sds), (std::vector<int>{11, 15, 10}));
    EXPECT_TRUE(table.FindKey({Variant(QStringLiteral("Хлеб"))}));
    EXPECT_EQ(Current(*sds), 10);
    EXPECT_FALSE(table.FindKey({Variant(QStringLiteral("Чай"))})); // another level
    table.SetKey();
    sds->FieldByName("NAME")->SetAsString("Соль");
    EXPECT_TRUE(table.GotoKey());
    EXPECT_EQ(Current(*sds), 11);
    table.SetRange({Variant(QStringLiteral("Т"))}, {Variant(QStringLiteral("Я"))});
    EXPECT_EQ(Ids(*sds), (std::vector<int>{15, 10}));
    table.SetRangeStart();
    sds->FieldByName("NAME")->SetAsString("А");
    table.SetRangeEnd();
    sds->FieldByName("NAME")->SetAsString("С");
    table.ApplyRange();
    EXPECT_TRUE(Ids(*sds).empty());

    // A flat mode adds no prefix.
    sds->SetLevelMode(dslmShowAll);
    EXPECT_EQ(table.IndexFieldNames(), "NAME");
    EXPECT_EQ(sds->LevelCount(), 1);
    EXPECT_EQ(Ids(*sds).size(), 10u);
    EXPECT_EQ(sds->NewRecordParentID().IsNull(), true);
}

TEST_F(SDSIndexesTest, EachLevelModeShowsItsView)
{
    struct Case
    {
        TSDSLevelMode Mode;
        TSDSOptions Options;
        std::vector<int> Ids;
    };
    const std::vector<int> all{1, 2, 3, 10, 11, 12, 13, 14, 15, 20};
    for (const Case& c :
         {Case{dslmNone, {}, all}, Case{dslmShowAll, {}, all}, Case{dslmDefault, {}, {1, 2, 3, 20}},
          Case{dslmShowOnlyLeaf, {}, {10, 11, 13, 14, 20}}, // filtered: 15 is deleted
          Case{dslmShowOnlyLeveled, {}, {1, 2, 3, 20}}, Case{dslmShowOnlyLeveled, {dsoVirtualDelete}, {1, 2, 3}},
          Case{dslmShowAll, {dsoVirtualDelete}, {1, 2, 3, 10, 11, 12, 13, 14, 20}}}) {
        SCOPED_TRACE(static_cast<int>(c.Mode));
        auto sds = Levels();
        sds->SetOptions(sds->Options() + c.Options);
        sds->SetLevelMode(c.Mode);
        sds->Open();
        EXPECT_EQ(SortedIds(*sds), c.Ids);
        // Switching on an open data set gives the same view.
        auto other = Levels();
        other->SetOptions(other->Options() + c.Options);
        other->SetLevelMode(c.Mode == dslmNone ? dslmDefault : dslmNone);
        other->Open();
        other->SetLevelMode(c.Mode);
        EXPECT_EQ(SortedIds(*other), c.Ids);
    }
}

TEST_F(SDSIndexesTest, HasChildrenLeavesTheCursorWithoutEvents)
{
    for (const TSDSLevelMode mode : {dslmDefault, dslmShowAll}) {
        SCOPED_TRACE(static_cast<int>(mode));
        auto sds = Levels();
        sds->SetLevelMode(mode);
        sds->Open();
        for (const auto& [id, children] :
             std::vector<std::pair<int, bool>>{{1, true}, {2, true}, {3, false}, {20, false}}) {
            ASSERT_TRUE(sds->Locate("SYS$ID", id));
            EXPECT_EQ(sds->HasChildren(), children) << id;
            EXPECT_EQ(Current(*sds), id);
        }
        EXPECT_EQ(sds->LevelCount(), 1);
        EXPECT_EQ(FDowns + FUps, 0);
        EXPECT_FALSE(sds->InternalLoading());
        EXPECT_FALSE(sds->ControlsDisabled());
    }
}

TEST_F(SDSIndexesTest, GotoIdAcrossLevelsAndItsError)
{
    auto sds = Levels();
    EXPECT_EQ(sds->CurrentID(), 1); // opens the data set
    sds->GotoID(13);
    EXPECT_EQ(Current(*sds), 13);
    EXPECT_EQ(sds->LevelCount(), 3);
    EXPECT_EQ(sds->LevelInfos().Items(1).ID, 2);
    EXPECT_EQ(sds->LevelInfos().Items(2).ID, 12);
    EXPECT_EQ(Ids(*sds), (std::vector<int>{13}));
    EXPECT_EQ(sds->NewRecordParentID().AsInteger(), 12);
    EXPECT_TRUE(sds->LevelUp());
    EXPECT_EQ(Current(*sds), 12);
    try {
        sds->GotoID(999);
        ADD_FAILURE() << "found 999";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "TREE: ID 999 not founded !");
    }

    // Flat: the whole data set, a range given up.
    auto flat = NewSDS("TREE");
    flat->Open();
    flat->SetRange({Variant(1)}, {Variant(3)});
    flat->GotoID(13);
    EXPECT_EQ(Current(*flat), 13);
    EXPECT_FALSE(flat->RangeActive());
    EXPECT_THROW(flat->GotoID(999), Exception);
}

TEST_F(SDSIndexesTest, OpenLevelOfBuildsThePathFromTheMastersRows)
{
    auto master = NewSDS("TREE");
    TSDS chooser;
    chooser.setObjectName("CHOOSER");
    chooser.SetMasterDataset(master.get());
    chooser.SetOptions(chooser.Options() + TSDSOptions{dsoLevels});
    EXPECT_TRUE(chooser.OpenLevelOf(13));
    EXPECT_EQ(Current(chooser), 13);
    ASSERT_EQ(chooser.LevelCount(), 3);
    EXPECT_EQ(chooser.LevelInfos().Items(0).ID, 0);
    EXPECT_EQ(chooser.LevelInfos().Items(1).GetFieldValue("NAME").AsString(), "Напитки");
    EXPECT_EQ(chooser.LevelInfos().Items(2).ID, 12);
    EXPECT_EQ(Ids(chooser), (std::vector<int>{13}));
    EXPECT_FALSE(chooser.OpenLevelOf(999));
    EXPECT_FALSE(chooser.OpenLevelOf(0));
    EXPECT_EQ(chooser.LevelCount(), 1);
    EXPECT_EQ(Ids(chooser), (std::vector<int>{1, 2, 3, 20}));

    auto levelled = Levels();
    TSDS wrong;
    wrong.SetMasterDataset(levelled.get());
    EXPECT_THROW(wrong.OpenLevelOf(13), Exception);
}

TEST_F(SDSIndexesTest, AGroupThatIsItsOwnAncestorEndsWithAnError)
{
    auto sds = Levels("CYCLE");
    sds->Open();
    try {
        sds->GotoID(102);
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().contains("входит сама в себя")) << e.Message().toStdString();
    }

    auto master = NewSDS("CYCLE");
    TSDS chooser;
    chooser.SetMasterDataset(master.get());
    chooser.SetOptions(chooser.Options() + TSDSOptions{dsoLevels});
    try {
        chooser.OpenLevelOf(102);
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().contains("входит сама в себя")) << e.Message().toStdString();
    }
}

TEST_F(SDSIndexesTest, SetParentIdMovesTheRecordWithoutThePostEvents)
{
    auto sds = Levels();
    int posts = 0;
    sds->BeforePost = [&](TDataSet*) { ++posts; };
    sds->AfterPost = [&](TDataSet*) { ++posts; };
    sds->Open();
    ASSERT_TRUE(sds->Locate("SYS$ID", 20));
    sds->SetParentID(2);
    EXPECT_EQ(posts, 0);
    EXPECT_TRUE(sds->BeforePost != nullptr);
    EXPECT_EQ(Ids(*sds), (std::vector<int>{1, 2, 3}));
    ASSERT_TRUE(sds->Locate("SYS$ID", 2));
    ASSERT_TRUE(sds->LevelDown());
    EXPECT_EQ(Ids(*sds), (std::vector<int>{12, 14, 20}));
}

TEST_F(SDSIndexesTest, MergingServerChangesFindsRowsOfEveryLevel)
{
    auto sds = Levels();
    sds->Open();
    FTestDb.Execute("UPDATE TREE SET NAME = 'Грушевый', SYS$TIME = '2026-02-01 10:00:00' WHERE SYS$ID = 13");
    FTransaction.Commit();
    sds->MergeChangesSince(0);
    EXPECT_EQ(Ids(*sds), (std::vector<int>{1, 2, 3, 20})); // still the root level
    EXPECT_EQ(sds->IndexFieldNames(), "SYS$ID");
    sds->GotoID(13);
    EXPECT_EQ(sds->FieldByName("NAME")->AsString(), "Грушевый");
}
