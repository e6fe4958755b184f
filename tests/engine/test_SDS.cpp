// The data set's model without a server: defaults, options, state bits,
// access and record visibility, names and the lookup clone.
#include "SDS.h"
#include "SDS_p.h"

#include "IBDatabase.h"
#include "IBSQL.h"
#include "SDatabase.h"

#include "QtPrinters.h"
#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(SDSModel, ConstructionDefaults)
{
    TSDS sds;
    EXPECT_EQ(sds.Options().Value(), 0x47u);
    EXPECT_EQ(sds.Options(), (TSDSOptions{dsoChangesResolved, dsoLoadData, dsoLoadAllFields, dsoAutoCommit}));
    EXPECT_EQ(sds.LevelMode(), dslmDefault);
    EXPECT_EQ(sds.DatasetKind(), dkUnknown);
    EXPECT_EQ(sds.Performance(), mtpfSmall);
    EXPECT_EQ(sds.AttachMaxCount(), 1);
    EXPECT_TRUE(sds.Standalone());
    EXPECT_FALSE(sds.RecalcOnFetch());
    EXPECT_FALSE(sds.RecalcOnIndex());
    EXPECT_FALSE(sds.Prepared());
    EXPECT_FALSE(sds.DataLoaded());
    EXPECT_FALSE(sds.InternalLoading());
    EXPECT_EQ(sds.MasterDataset(), nullptr);
    EXPECT_EQ(sds.LookupClone(), nullptr);
    EXPECT_TRUE(sds.KeyFields().isEmpty());
    EXPECT_TRUE(sds.ServerFilter().isEmpty());
    EXPECT_EQ(sds.LevelInfos().Count(), 0);
    EXPECT_EQ(sds.StateField(), nullptr);
}

TEST(SDSModel, StateBits)
{
    struct Case
    {
        int32_t state;
        bool deleted, leaf;
        uint16_t owner;
    };
    const Case cases[] = {
        {0, false, false, 0},
        {0x40000007, false, true, 7},
        {int32_t(0xC000FFFF), true, true, 0xFFFF},
        {int32_t(0x80001234), true, false, 0x1234},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        EXPECT_EQ(IsDeletedState(c.state), c.deleted);
        EXPECT_EQ(IsLeafState(c.state), c.leaf);
        EXPECT_EQ(StateOwner(c.state), c.owner);
    }

    int32_t state = 5;
    SetLeafState(state, false); // already clear: stays clear
    SetDeletedState(state, false);
    EXPECT_EQ(state, 5);
    SetLeafState(state, true);
    SetDeletedState(state, true);
    EXPECT_EQ(uint32_t(state), 0xC0000005u);
    EXPECT_LT(state, 0);
    SetDeletedState(state, false);
    EXPECT_EQ(state, 0x40000005);
    SetLeafState(state, false);
    EXPECT_EQ(state, 5);
}

TEST(SDSModel, OptionsAndLevelModeReapplication)
{
    TSDS sds;
    // Without levels the mode is only stored.
    sds.SetLevelMode(dslmShowAll);
    EXPECT_EQ(sds.LevelMode(), dslmShowAll);
    EXPECT_EQ(sds.LevelInfos().Count(), 0);

    // Switching levels on applies the current mode: the path starts at the root.
    sds.SetOptions(sds.Options() + TSDSOptions{dsoLevels, dsoAudit});
    EXPECT_EQ(sds.Options().Value(), 0x47u | (1u << 12) | (1u << 18));
    EXPECT_EQ(sds.LevelMode(), dslmShowAll);
    ASSERT_EQ(sds.LevelInfos().Count(), 1);
    EXPECT_EQ(sds.LevelInfos().Items(0).ID, 0);

    // Setting options that keep levels on does not reset the path again.
    sds.LevelInfos().Add().ID = 42;
    sds.SetOptions(sds.Options() + TSDSOptions{dsoPermissions});
    EXPECT_EQ(sds.LevelInfos().Count(), 2);

    // With levels, a new mode resets the path too.
    sds.SetLevelMode(dslmDefault);
    EXPECT_EQ(sds.LevelMode(), dslmDefault);
    EXPECT_EQ(sds.LevelInfos().Count(), 1);

    // Open without SYS$PID: the change is refused silently.
    auto* id = new TIntegerField(&sds);
    id->SetFieldName("SYS$ID");
    id->SetDataSet(&sds);
    sds.Open();
    EXPECT_THROW(sds.SetLevelMode(dslmShowOnlyLeaf), EAbort);
    EXPECT_EQ(sds.LevelMode(), dslmDefault);

    // Carried-only options round-trip like any other.
    const auto all = TSDSOptions::FromValue((1u << 27) - 1);
    sds.SetOptions(all);
    EXPECT_TRUE(sds.Options().Contains(dsoAllowScripting));
    EXPECT_TRUE(sds.Options().Contains(dsoDontFreeSelectHandle));
    EXPECT_EQ(sds.Options().Value(), 0x7FFFFFFu);
}

TEST(SDSModel, CheckAccessCombinesTheAskedSources)
{
    TSDS master, detail;
    detail.SetMasterDataset(&master);
    TAccess masterAnswer = acFull, tmpAnswer = acFull, ownAnswer = acFull;
    TSDS* askedFor = nullptr;
    master.OnGetAccess = [&](TSDS* sds, TAccess& access) {
        askedFor = sds;
        access = masterAnswer;
    };
    master.OnGetAccessTmp = [&](TSDS*, TAccess& access) { access = tmpAnswer; };
    detail.OnGetAccess = [&](TSDS*, TAccess& access) { access = ownAnswer; };

    struct Case
    {
        int mask;
        TAccess master, tmp, own, expected;
    };
    const Case cases[] = {
        {0, acNone, acNone, acNone, acFull},         // nothing asked
        {4, acFull, acFull, acReadOnly, acReadOnly}, // own handler only
        {4, acNone, acNone, acFull, acFull},
        {1, acReadOnly, acNone, acNone, acReadOnly}, // master's OnGetAccess only
        {2, acNone, acReadOnly, acNone, acReadOnly}, // master's OnGetAccessTmp only
        {3, acReadOnly, acFull, acNone, acReadOnly},
        {7, acReadOnly, acFull, acNone, acNone}, // 0 beats 1
        {7, acFull, acFull, acFull, acFull},
        {6, acNone, acReadOnly, acFull, acReadOnly},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mask);
        masterAnswer = c.master;
        tmpAnswer = c.tmp;
        ownAnswer = c.own;
        EXPECT_EQ(detail.CheckAccess(c.mask), c.expected);
    }
    EXPECT_EQ(askedFor, &detail);

    // Unassigned handlers answer full access.
    TSDS plain;
    EXPECT_EQ(plain.CheckAccess(4), acFull);
    // The master's handlers need a master.
    EXPECT_THROW(plain.CheckAccess(1), EAssertionFailed);
    try {
        plain.CheckAccess(2);
        FAIL();
    } catch (const EAssertionFailed& e) {
        EXPECT_TRUE(e.Message().startsWith("MasterDataSet must be defined."));
    }
}

// A local data set with a SYS$STATE column and one row per state below.
class SDSVisibility : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto* state = new TIntegerField(&FSds);
        state->SetFieldName("SYS$STATE");
        state->SetDataSet(&FSds);
        FSds.Open();
        Fill();
    }
    // One row per state (a closed local table keeps no rows).
    void Fill()
    {
        FRows.clear();
        for (int32_t value : {Leaf, Group, DeletedLeaf, DeletedGroup}) {
            FSds.Append();
            FSds.FieldByName("SYS$STATE")->SetAsInteger(value);
            FSds.Post();
            FRows.push_back(FSds.RecordId());
        }
    }
    std::vector<bool> Visible(TSDS& sds)
    {
        std::vector<bool> result;
        for (TRecordId row : FRows)
            result.push_back(sds.RecordVisible(row));
        return result;
    }

    static constexpr int32_t Leaf = 0x40000001;
    static constexpr int32_t Group = 0x00000001;
    static constexpr int32_t DeletedLeaf = int32_t(0xC0000001);
    static constexpr int32_t DeletedGroup = int32_t(0x80000001);
    TSDS FSds;
    std::vector<TRecordId> FRows;
};

TEST_F(SDSVisibility, RulePerOptionAndMode)
{
    struct Case
    {
        TSDSOptions extra;
        TSDSLevelMode mode;
        std::vector<bool> visible; // leaf, group, deleted leaf, deleted group
    };
    const Case cases[] = {
        {{}, dslmDefault, {true, true, false, false}},
        {{dsoShowDeleted}, dslmDefault, {true, true, true, true}},
        {{dsoLevels}, dslmDefault, {true, true, false, false}},
        {{dsoLevels}, dslmShowAll, {true, true, false, false}},
        {{dsoLevels}, dslmShowOnlyLeaf, {true, false, false, false}},
        {{dsoLevels}, dslmShowOnlyLeveled, {false, true, false, false}},
        {{dsoLevels, dsoShowDeleted}, dslmShowOnlyLeaf, {true, false, true, false}},
        {{dsoLevels, dsoShowDeleted}, dslmShowOnlyLeveled, {false, true, false, true}},
        {{}, dslmShowOnlyLeaf, {true, true, false, false}}, // the leaf bit counts only with levels
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.extra.Value() << " mode " << c.mode);
        FSds.SetOptions(DefaultSDSOptions);
        FSds.SetLevelMode(c.mode);
        FSds.SetOptions(DefaultSDSOptions + c.extra);
        EXPECT_EQ(Visible(FSds), c.visible);
    }

    // Without a SYS$STATE column every record is visible.
    TSDS plain;
    auto* id = new TIntegerField(&plain);
    id->SetFieldName("ID");
    id->SetDataSet(&plain);
    plain.Open();
    plain.Append();
    id->SetAsInteger(1);
    plain.Post();
    EXPECT_TRUE(plain.RecordVisible(plain.RecordId()));
}

TEST_F(SDSVisibility, LookupCloneShowsOnlyFullAccessRecords)
{
    FSds.Close();
    FSds.SetOptions(FSds.Options() + TSDSOptions{dsoLookupClone});
    FSds.Loaded();
    TSDS* clone = FSds.LookupClone();
    ASSERT_NE(clone, nullptr);
    EXPECT_TRUE(clone->IsLookupClone());
    EXPECT_FALSE(FSds.IsLookupClone());
    EXPECT_EQ(clone->MasterDataset(), &FSds);
    EXPECT_EQ(FSds.AttachMaxCount(), 8);
    EXPECT_FALSE(clone->Options().Contains(dsoLookupClone));
    EXPECT_FALSE(clone->Options().Contains(dsoLevels)); // no SYS$PID field

    FSds.Open();
    Fill();
    clone->Open();
    std::vector<TSDS*> asked;
    FSds.OnGetAccess = [&](TSDS* sds, TAccess& access) {
        asked.push_back(sds);
        access = sds->FieldByName("SYS$STATE")->AsInteger() == Group ? acReadOnly : acFull;
    };
    FSds.OnGetAccessTmp = [](TSDS* sds, TAccess& access) {
        access = sds->FieldByName("SYS$STATE")->AsInteger() == Leaf ? acNone : acFull;
    };
    // The handlers read the clone's current record: show each row in turn.
    std::vector<bool> visible;
    for (clone->First(); !clone->Eof(); clone->Next())
        visible.push_back(clone->RecordVisible(clone->RecordId()));
    EXPECT_EQ(visible, (std::vector<bool>{false, false, false, false}));
    EXPECT_FALSE(asked.empty());
    EXPECT_EQ(asked.front(), clone);

    // Rows the handlers allow fully pass, apart from the deleted ones.
    FSds.OnGetAccess = {};
    FSds.OnGetAccessTmp = {};
    visible.clear();
    for (clone->First(); !clone->Eof(); clone->Next())
        visible.push_back(clone->RecordVisible(clone->RecordId()));
    EXPECT_EQ(visible, (std::vector<bool>{true, true, false, false}));
}

TEST(SDSModel, LookupCloneTakesLevelsWhenThereIsAParent)
{
    TSDS sds;
    auto* pid = new TIntegerField(&sds);
    pid->SetFieldName("SYS$PID");
    pid->SetDataSet(&sds);
    sds.SetOptions(sds.Options() + TSDSOptions{dsoLookupClone, dsoAudit});
    sds.SetAttachMaxCount(3);
    sds.Loaded();
    ASSERT_NE(sds.LookupClone(), nullptr);
    EXPECT_EQ(sds.AttachMaxCount(), 3); // raised only from the default 1
    EXPECT_EQ(sds.LookupClone()->Options(), DefaultSDSOptions + (TSDSOptions{dsoAudit, dsoLevels}));
    EXPECT_EQ(sds.LookupClone()->parent(), &sds);
}

TEST(SDSModel, NamesAndPublicName)
{
    QObject form;
    form.setObjectName("FormMain");
    QObject module(&form);
    module.setObjectName("DataModule1");
    TSDS sds(&module);
    sds.setObjectName("Goods");
    EXPECT_EQ(sds.QualifiedName(), "FormMain.DataModule1.Goods");

    QObject unnamed;
    QObject named(&unnamed);
    named.setObjectName("Inner");
    TSDS other(&named);
    other.setObjectName("Prices");
    EXPECT_EQ(other.QualifiedName(), "Inner.Prices"); // stops at an owner without a name

    // An empty public name becomes the component name; the same name in any
    // case is not worth storing.
    sds.Loaded();
    EXPECT_EQ(sds.PublicName(), "Goods");
    EXPECT_FALSE(sds.IsPublicNameStored());
    sds.SetPublicName("GOODS");
    EXPECT_FALSE(sds.IsPublicNameStored());
    sds.SetPublicName("Товары");
    EXPECT_TRUE(sds.IsPublicNameStored());
    sds.Loaded();
    EXPECT_EQ(sds.PublicName(), "Товары");
}

TEST(SDSModel, MasterDatasetAttachesAndIgnoresItself)
{
    TSDS master, attached;
    attached.SetMasterDataset(&attached);
    EXPECT_EQ(attached.MasterDataset(), nullptr);

    master.SetTableName("GOODS");
    attached.SetMasterDataset(&master);
    EXPECT_EQ(attached.MasterDataset(), &master);
    EXPECT_EQ(attached.AttachedTo(), &master);
    attached.Loaded();
    EXPECT_EQ(attached.TableName(), "GOODS");

    // The attach limit of the master holds.
    TSDS third;
    EXPECT_THROW(third.SetMasterDataset(&master), EDatabaseError);
    EXPECT_EQ(third.MasterDataset(), nullptr);

    attached.SetMasterDataset(nullptr);
    EXPECT_EQ(master.AttachedCount(), 0);
}

TEST(SDSModel, ErrorClasses)
{
    try {
        RaiseHint("Нет головной записи !");
        FAIL();
    } catch (const EHintError& e) {
        EXPECT_EQ(e.Message(), "Нет головной записи !");
    }

    TSDS sds;
    const EIBInterBaseError server(-803, 335544665, "violation of PRIMARY or UNIQUE KEY constraint");
    const ESDS_IBError error(server, "insert into GOODS (ID) values (:ID)", 1, &sds);
    EXPECT_EQ(error.SQLCode(), -803);
    EXPECT_EQ(error.IBErrorCode(), 335544665);
    EXPECT_EQ(error.Message(), server.Message());
    EXPECT_EQ(error.Operation(), 1);
    EXPECT_EQ(error.SQL(), "insert into GOODS (ID) values (:ID)");
    EXPECT_EQ(error.DataSet(), &sds);
}

TEST(SDSModel, DatabaseAndTransactionSetters)
{
    TSDatabase database;
    TIBTransaction readOnly, readWrite;
    readOnly.SetDefaultDatabase(&database);
    readWrite.SetDefaultDatabase(&database);

    // Without a read-write transaction every statement follows the database.
    TSDS sds;
    sds.SetDatabase(&database);
    EXPECT_EQ(sds.Database(), &database);
    EXPECT_EQ(InsertSQL(sds).Database(), &database);
    EXPECT_EQ(RefreshByKeySQL(sds).Database(), &database);

    database.SetDefaultTransactionRW(&readWrite);
    TSDS bound;
    bound.SetDatabase(&database);
    for (TIBSQL* sql :
         {&InsertSQL(bound), &UpdateSQL(bound), &UpdateByKeySQL(bound), &DeleteSQL(bound), &DeleteByKeySQL(bound)})
        EXPECT_EQ(sql->Transaction(), &readWrite);
    EXPECT_NE(SelectSQL(bound).Transaction(), &readWrite);
    EXPECT_NE(RefreshSQL(bound).Transaction(), &readWrite);

    // A select transaction: reads there, writes and re-reads in read-write.
    bound.SetTransaction(&readOnly);
    EXPECT_EQ(bound.Transaction(), &readOnly);
    EXPECT_EQ(SelectSQL(bound).Transaction(), &readOnly);
    for (TIBSQL* sql : {&InsertSQL(bound), &UpdateSQL(bound), &UpdateByKeySQL(bound), &DeleteSQL(bound),
                        &DeleteByKeySQL(bound), &RefreshSQL(bound), &RefreshByKeySQL(bound)})
        EXPECT_EQ(sql->Transaction(), &readWrite);
}

TEST(SDSModel, HasTopLevelWhere)
{
    struct Case
    {
        const char* text;
        bool expected;
    };
    const Case cases[] = {
        {"select A from T1", false},
        {"select A from T1 where A > 0", true},
        {"Select * From T Where X=1", true},
        {"select A, (select max(X) from T2 where T2.Y = T1.Y) from T1 where A > 0", true},
        {"select A, (select max(X) from T2 where T2.Y = T1.Y) from T1", false},
        {"select A from T1 where A in (select B from T2)", true},
        {"select A from T1 order by A", false},
        {"select \"WHERE\" from T1", false},
        {"select A from T1 where \"unterminated", true},
        {"select A from \"T1 where A > 0", false},
        {"select A from T1  where A > 0", true},  // two blanks: an empty token between
        {"select A\nfrom T1\nwhere A > 0", true}, // any white space separates words
        {"select A from T1\twhere A > 0", true},
        {"select A from T1\r\nwhere A > 0", true},
        {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(TSDS::HasTopLevelWhere(QString::fromUtf8(c.text)), c.expected);
    }
}

TEST(SDSModel, LevelInfoKeepsAGroupsValues)
{
    TSDS sds;
    auto* name = new TStringField(&sds);
    name->SetFieldName("NAME");
    name->SetDataSet(&sds);
    TLevelInfo info;
    EXPECT_TRUE(info.GetFieldValue("NAME").IsNull());
    info.StoreRecord(&sds); // closed: only the data set is remembered
    EXPECT_EQ(info.DataSet, &sds);
    EXPECT_TRUE(info.Values.IsNull());

    sds.Open();
    sds.Append();
    name->SetAsString("Группа");
    sds.Post();
    info.StoreRecord(&sds);
    EXPECT_EQ(info.GetFieldValue("NAME").AsString(), "Группа");
    EXPECT_TRUE(info.GetFieldValue("NOPE").IsNull());
}

} // namespace
