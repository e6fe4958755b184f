// The in-memory table following a master, and the search filter.
#include "DataSetFixture.h"
#include "DataSource.h"
#include "Exceptions.h"

#include <array>
#include <gtest/gtest.h>

namespace {

using dbtest::Ids;
using dbtest::MakeTable;

TField* F(TDataSet& ds, const char* name) { return ds.FieldByName(QLatin1String(name)); }

// Order lines: ID, GOOD_ID (the master's ID), QTY.
std::unique_ptr<TCustomMemTable> Lines(std::initializer_list<std::array<int, 3>> rows)
{
    auto lines = std::make_unique<TCustomMemTable>();
    lines->FieldDefs().Add(QStringLiteral("ID"), ftInteger);
    lines->FieldDefs().Add(QStringLiteral("GOOD_ID"), ftInteger);
    lines->FieldDefs().Add(QStringLiteral("QTY"), ftInteger);
    lines->Open();
    for (const auto& row : rows) {
        lines->Append();
        for (int i = 0; i < 3; ++i)
            lines->Fields()[i]->SetAsInteger(row[size_t(i)]);
        lines->Post();
    }
    return lines;
}

TEST(MemTableMasterDetail, DetailFollowsTheMaster)
{
    auto goods = MakeTable({{1, "Чай", 10}, {2, "Кофе", 20}, {3, "Сок", 30}});
    auto lines = Lines({{100, 1, 5}, {101, 2, 1}, {102, 1, 7}, {103, 3, 2}});
    TDataSource source;
    source.SetDataSet(goods.get());
    lines->SetMasterFields(QStringLiteral("ID"));
    lines->SetDetailFields(QStringLiteral("GOOD_ID"));
    lines->SetMasterSource(&source);
    EXPECT_EQ(Ids(*lines), QList<int>({100, 102}));
    EXPECT_EQ(goods->GetDetailDataSets(), QList<TDataSet*>({lines.get()}));

    goods->Next();
    EXPECT_EQ(Ids(*lines), QList<int>({101}));
    goods->Locate(QStringLiteral("ID"), 3);
    EXPECT_EQ(Ids(*lines), QList<int>({103}));

    // A new detail row takes the master's key and stays in view.
    lines->Append();
    EXPECT_EQ(F(*lines, "GOOD_ID")->AsInteger(), 3);
    F(*lines, "ID")->SetAsInteger(104);
    lines->Post();
    EXPECT_EQ(Ids(*lines), QList<int>({103, 104}));

    // Changing the master's key moves the detail with it.
    goods->Edit();
    F(*goods, "ID")->SetAsInteger(1);
    EXPECT_EQ(Ids(*lines), QList<int>({100, 102}));
    goods->Cancel();

    goods->Close();
    EXPECT_EQ(Ids(*lines), QList<int>({100, 101, 102, 103, 104})) << "a closed master does not filter";
    goods->Open();
    EXPECT_TRUE(lines->IsEmpty()) << "an empty master shows no detail";

    lines->SetMasterSource(nullptr);
    EXPECT_EQ(lines->RecordCount(), 5);
    EXPECT_TRUE(goods->GetDetailDataSets().isEmpty());
}

TEST(MemTableMasterDetail, WorksWithADetailIndexAndAnOverriddenHook)
{
    auto goods = MakeTable({{1, "Чай", 10}, {2, "Кофе", 20}});
    auto lines = Lines({{100, 1, 5}, {101, 2, 1}, {102, 1, 3}});
    lines->SetIndexFieldNames(QStringLiteral("GOOD_ID;QTY"));
    TDataSource source;
    source.SetDataSet(goods.get());
    lines->SetMasterFields(QStringLiteral("ID"));
    lines->SetDetailFields(QStringLiteral("GOOD_ID"));
    lines->SetMasterSource(&source);
    EXPECT_EQ(Ids(*lines), QList<int>({102, 100})) << "in the detail's index order";

    // A derived table may take over what a master change does.
    struct TCounting : TCustomMemTable
    {
        int Changes = 0;
        void MasterChanged() override { ++Changes; }
    } counting;
    counting.FieldDefs().Add(QStringLiteral("GOOD_ID"), ftInteger);
    counting.Open();
    counting.SetMasterFields(QStringLiteral("ID"));
    counting.SetMasterSource(&source);
    const int before = counting.Changes;
    goods->Next();
    EXPECT_GT(counting.Changes, before);
}

TEST(MemTableSearchFilter, NarrowsBesideTheOrdinaryFilter)
{
    auto table = MakeTable({{1, "Иванов", 10}, {2, "Иваненко", 20}, {3, "Петров", 30}});
    table->SetSearchFilter(QStringLiteral("NAME = 'Иван*'"));
    EXPECT_EQ(Ids(*table), QList<int>({1, 2})) << "active without Filtered";
    table->SetFilter(QStringLiteral("PRICE > 15"));
    table->SetFiltered(true);
    EXPECT_EQ(Ids(*table), QList<int>({2})) << "both must pass";
    table->SetSearchFilter(QString());
    EXPECT_EQ(Ids(*table), QList<int>({2, 3}));
    EXPECT_THROW(table->SetSearchFilter(QStringLiteral("NAME = ")), EDatabaseError);
}

} // namespace

namespace {

TEST(MemTableAttachment, TwoTablesShareRowsWithTheirOwnCursorsAndIndexes)
{
    auto master = MakeTable({{3, "c", 30}, {1, "a", 10}, {2, "b", 20}});
    master->setObjectName(QStringLiteral("Master"));
    TCustomMemTable clone;
    clone.SetAttachedTo(master.get());
    clone.Open();
    EXPECT_EQ(Ids(clone), QList<int>({3, 1, 2}));
    clone.SetIndexFieldNames(QStringLiteral("ID"));
    EXPECT_EQ(Ids(clone), QList<int>({1, 2, 3}));
    EXPECT_EQ(Ids(*master), QList<int>({3, 1, 2})) << "the master keeps its own order";

    // Separate cursors.
    master->Last();
    clone.First();
    EXPECT_EQ(F(*master, "ID")->AsInteger(), 2);
    EXPECT_EQ(F(clone, "ID")->AsInteger(), 1);

    // Changes through either are seen by both.
    master->Append();
    F(*master, "ID")->SetAsInteger(0);
    F(*master, "NAME")->SetAsString(QStringLiteral("z"));
    master->Post();
    EXPECT_EQ(Ids(clone), QList<int>({0, 1, 2, 3})) << "in the clone's index order";

    clone.Locate(QStringLiteral("ID"), 2);
    clone.Edit();
    F(clone, "NAME")->SetAsString(QStringLiteral("изменено"));
    clone.Post();
    master->Locate(QStringLiteral("ID"), 2);
    EXPECT_EQ(F(*master, "NAME")->AsString(), QStringLiteral("изменено"));

    clone.Locate(QStringLiteral("ID"), 3);
    clone.Delete();
    EXPECT_EQ(Ids(*master), QList<int>({1, 2, 0}));
    EXPECT_EQ(master->StoredRowCount(), 3);

    // Filters and ranges stay each table's own.
    clone.SetRange({1}, {2});
    EXPECT_EQ(Ids(clone), QList<int>({1, 2}));
    EXPECT_EQ(master->RecordCount(), 3);

    // Closing the master closes what is attached to it.
    master->Close();
    EXPECT_FALSE(clone.Active());
    EXPECT_THROW(clone.Open(), EDatabaseError) << "the master must be open";
    master->Open();
    clone.Open();
    EXPECT_EQ(clone.RecordCount(), 0);

    clone.Detach();
    EXPECT_EQ(master->AttachedCount(), 0);
}

TEST(MemTableAttachment, AttachMaxCountLimitsTheTablesThatShare)
{
    auto master = MakeTable({{1, "a", 1}});
    master->setObjectName(QStringLiteral("Master"));
    EXPECT_EQ(master->AttachMaxCount(), 1);
    TCustomMemTable first, second;
    first.SetAttachedTo(master.get());
    try {
        second.SetAttachedTo(master.get());
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("at most 1"))) << e.Message().toStdString();
    }
    master->SetAttachMaxCount(2);
    second.SetAttachedTo(master.get());
    EXPECT_EQ(master->AttachedCount(), 2);
    EXPECT_THROW(TCustomMemTable().SetAttachedTo(&first), EDatabaseError) << "no chains";
    first.Detach();
    EXPECT_EQ(master->AttachedCount(), 1);
}

} // namespace

namespace {

TEST(MemTableAttachment, FieldsInAnotherOrderWriteTheirOwnColumns)
{
    auto master = MakeTable({{1, "a", 10}});
    TCustomMemTable clone;
    // Only two of the master's fields, in the other order.
    auto* price = new TFloatField(&clone);
    price->SetFieldName(QStringLiteral("PRICE"));
    price->SetDataSet(&clone);
    auto* id = new TIntegerField(&clone);
    id->SetFieldName(QStringLiteral("ID"));
    id->SetDataSet(&clone);
    clone.SetAttachedTo(master.get());
    clone.Open();

    clone.Edit();
    price->SetAsFloat(99);
    clone.Post();
    clone.Append();
    id->SetAsInteger(2);
    price->SetAsFloat(20);
    clone.Post();

    master->First();
    EXPECT_EQ(F(*master, "ID")->AsInteger(), 1);
    EXPECT_EQ(F(*master, "PRICE")->AsFloat(), 99.0);
    EXPECT_EQ(F(*master, "NAME")->AsString(), QStringLiteral("a")) << "a column the clone lacks is kept";
    master->Next();
    EXPECT_EQ(F(*master, "ID")->AsInteger(), 2);
    EXPECT_EQ(F(*master, "PRICE")->AsFloat(), 20.0);
    EXPECT_TRUE(F(*master, "NAME")->IsNull());
}

} // namespace
