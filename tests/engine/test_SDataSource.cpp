// The framework's data source: the user sort by clicked fields, field
// filters hooked into the record filter, field access for group operations,
// levels and the record attributes, and what it refuses.
#include "FilterFixture.h"

#include "Dialogs.h"
#include "Exceptions.h"
#include "SDS.h"
#include "SDataSource.h"
#include "URecordMarker.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace filtertest;

namespace {

// A data set that is not an in-memory table: one row with one integer.
class TPlainDataSet : public TDataSet
{
    Q_OBJECT
public:
    TPlainDataSet()
    {
        FieldDefs().Add(QStringLiteral("N"), ftInteger);
        Open();
    }

protected:
    void InternalOpen() override {}
    void InternalClose() override {}
    int InternalViewCount() const override { return 1; }
    TRecordId InternalViewRow(int) const override { return 1; }
    int InternalViewPosition(TRecordId row) const override { return row == 1 ? 0 : -1; }
    bool InternalRowExists(TRecordId row) const override { return row == 1; }
    Variant InternalGetValue(TRecordId, const TField&) const override { return Variant(7); }
    TRecordId InternalInsertRow(const std::vector<Variant>&, int) override { return NoRecord; }
    void InternalUpdateRow(TRecordId, const std::vector<Variant>&) override {}
    void InternalDeleteRow(TRecordId) override {}
    void InternalRefreshView() override {}
};

// The IDs 1..6, named "Row <id>", ordered by ID to begin with.
class DataSourceTest : public ::testing::Test
{
protected:
    DataSourceTest() : data(PlainRows(6))
    {
        data.Table->SetIndexFieldNames(QStringLiteral("ID"));
        link.SetDataSource(&data.Source);
    }

    QString Order() const { return data.Table->IndexFieldNames(); }

    void FilterByName(const QString& value)
    {
        auto filter = std::make_unique<TFieldFilter>(data.Field("NAME"), fkSubstring);
        filter->Value = value;
        data.Source.Filters().push_back(std::move(filter));
    }

    TTable data;
    TCountingLink link;
    TScriptedDialogsGuard dialogs;
};

TEST_F(DataSourceTest, SortByClickedFieldsAndBackToTheOrderBefore)
{
    data.Table->Edit(); // names that sort against the IDs
    data.Field("NAME")->SetAsString(QStringLiteral("Row 9"));
    data.Table->Post();
    data.Go(4);
    data.Table->Edit();
    data.Field("QTY")->SetAsInteger(0);
    data.Field("NAME")->SetAsString(QStringLiteral("Row 2"));
    data.Table->Post();

    data.Source.AddSortField(QStringLiteral("NAME"));
    EXPECT_TRUE(data.Source.Sorting());
    EXPECT_EQ(data.Source.SavedIndexFieldNames(), QStringLiteral("ID"));
    data.Source.AddSortField(QStringLiteral("QTY"));
    EXPECT_EQ(Order(), QStringLiteral("NAME;QTY"));
    EXPECT_EQ(data.Ids(), QList<int>({4, 2, 3, 5, 6, 1}));
    EXPECT_EQ(link.LayoutChanges, 2);

    // Already sorted by it: a beep, nothing else.
    data.Source.AddSortField(QStringLiteral("NAME"));
    data.Source.AddSortField(QStringLiteral("NAME;QTY"));
    EXPECT_EQ(dialogs->Beeps, 2);
    EXPECT_EQ(Order(), QStringLiteral("NAME;QTY"));
    EXPECT_EQ(link.LayoutChanges, 2);

    // A name that is not a field: the data set's own error, nothing changed.
    EXPECT_THROW(data.Source.AddSortField(QStringLiteral("NOPE")), EDatabaseError);
    EXPECT_EQ(Order(), QStringLiteral("NAME;QTY"));

    data.Source.RemoveSortField();
    EXPECT_EQ(Order(), QStringLiteral("NAME"));
    EXPECT_TRUE(data.Source.Sorting());
    data.Source.RemoveSortField();
    EXPECT_EQ(Order(), QStringLiteral("ID"));
    EXPECT_FALSE(data.Source.Sorting());
    EXPECT_EQ(data.Ids(), QList<int>({1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(link.LayoutChanges, 4);
}

TEST_F(DataSourceTest, RemoveOutsideSortModeFallsBackToTheSavedOrder)
{
    // Several fields: the last goes.
    data.Table->SetIndexFieldNames(QStringLiteral("NAME;QTY"));
    data.Source.RemoveSortField();
    EXPECT_EQ(Order(), QStringLiteral("NAME"));
    // One field and nothing saved: the natural order.
    data.Source.RemoveSortField();
    EXPECT_EQ(Order(), QString());
    EXPECT_FALSE(data.Source.Sorting());
    // Nothing to remove: nothing happens.
    link.LayoutChanges = 0;
    data.Source.RemoveSortField();
    EXPECT_EQ(link.LayoutChanges, 0);
}

TEST_F(DataSourceTest, WithoutADataSetTheOperationsSayItAndAbortSilently)
{
    TSDataSource source;
    const std::vector<std::pair<const char*, std::function<void()>>> operations = {
        {"AddSortField", [&] { source.AddSortField(QStringLiteral("ID")); }},
        {"RemoveSortField", [&] { source.RemoveSortField(); }},
        {"FilterByField", [&] { source.FilterByField(nullptr); }},
    };
    for (const auto& [name, operation] : operations) {
        SCOPED_TRACE(name);
        dialogs->Messages.clear();
        EXPECT_THROW(operation(), EAbort);
        ASSERT_EQ(dialogs->Messages.size(), 1u);
        EXPECT_EQ(dialogs->Messages[0].Text, QStringLiteral("Не задан набор данных"));
        EXPECT_EQ(dialogs->Messages[0].Icon, TMsgIcon::Stop);
        EXPECT_EQ(dialogs->Messages[0].Buttons, TMsgDlgButtons({mbOK}));
    }
    dialogs->Messages.clear();
    source.ClearFilters(); // no filters: nothing to check
    source.SetFilterActive(true);
    EXPECT_TRUE(dialogs->Messages.empty());
}

TEST_F(DataSourceTest, DataSetsThatAreNotTablesAreRefused)
{
    TPlainDataSet plain;
    TSDataSource source;
    source.SetDataSet(&plain);
    const QString message = QStringLiteral("Неподдерживаемый тип НД:TPlainDataSet");
    const std::vector<std::pair<const char*, std::function<void()>>> operations = {
        {"GetIndexFieldNames", [&] { source.GetIndexFieldNames(); }},
        {"SetIndexFieldNames", [&] { source.SetIndexFieldNames(QStringLiteral("N")); }},
        {"IsReadOnly", [&] { source.IsReadOnly(); }},
        {"GetIndexDefs", [&] { source.GetIndexDefs(); }},
        {"AddSortField", [&] { source.AddSortField(QStringLiteral("N")); }},
    };
    for (const auto& [name, operation] : operations) {
        SCOPED_TRACE(name);
        try {
            operation();
            ADD_FAILURE() << "accepted";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), message);
        }
    }
    EXPECT_EQ(source.GetFieldAccess(plain.FieldByName(QStringLiteral("N"))), faForeign) << "never raises";
    EXPECT_FALSE(source.IsLevelled());
    EXPECT_FALSE(source.LevelUp());
}

TEST(DataSourceAccess, FieldAccessCodes)
{
    TCustomMemTable table;
    for (const char* name : {"ID", "PARENT_ID", "CODE", "NAME", "NOTE"})
        table.FieldDefs().Add(QLatin1String(name), ftString, 10);
    table.Open();
    table.SetIndexFieldNames(QStringLiteral("PARENT_ID"));
    table.IndexDefs().Add(QStringLiteral("PK"), QStringLiteral("CODE"), ixPrimary);
    table.IndexDefs().Add(QStringLiteral("BY_NOTE"), QStringLiteral("NOTE"), ixUnique);
    table.FieldByName(QStringLiteral("NAME"))->SetDisplayLabel(QStringLiteral("Наименование"));
    TCustomMemTable other;
    other.FieldDefs().Add(QStringLiteral("NAME"), ftString, 10);
    other.Open();
    TSDataSource source;
    source.SetDataSet(&table);
    const auto access = [&](const char* name) { return source.GetFieldAccess(table.FieldByName(QLatin1String(name))); };

    EXPECT_EQ(access("NAME"), faModifiable);
    EXPECT_EQ(access("NOTE"), faModifiable) << "only primary indexes count";
    EXPECT_EQ(access("PARENT_ID"), faKey) << "in the current order";
    EXPECT_EQ(access("CODE"), faKey) << "in the primary index";
    EXPECT_EQ(access("ID"), faKey) << "a part of PARENT_ID's name is enough";
    EXPECT_EQ(source.GetFieldAccess(other.FieldByName(QStringLiteral("NAME"))), faForeign);
    EXPECT_EQ(source.GetFieldAccess(nullptr), faForeign);
    table.FieldByName(QStringLiteral("NAME"))->SetReadOnly(true);
    EXPECT_EQ(access("NAME"), faReadOnly);
    table.SetReadOnly(true);
    EXPECT_EQ(access("NOTE"), faReadOnly);
    EXPECT_EQ(access("CODE"), faReadOnly) << "read-only before key";

    EXPECT_EQ(source.GetFieldCaption(table.FieldByName(QStringLiteral("NAME"))), QStringLiteral("Наименование"));
    EXPECT_EQ(source.GetFieldCaption(table.FieldByName(QStringLiteral("NOTE"))), QStringLiteral("NOTE"));
}

TEST_F(DataSourceTest, FiltersComeAfterTheDataSetsOwnHandlerWhichReturnsWithItsState)
{
    int ownCalls = 0;
    data.Table->OnFilterRecord = [&](TDataSet*, bool& accept) {
        ++ownCalls;
        accept = data.Field("ID")->AsInteger() != 2;
    };
    data.Table->SetFiltered(true);
    FilterByName(QStringLiteral("row"));
    data.Source.Filters().push_back(std::make_unique<TFieldFilter>(data.Field("QTY"), fkNumberRange));
    data.Source.Filters().back()->NumberFrom = 1;
    data.Source.Filters().back()->NumberTo = 4;
    link.LayoutChanges = 0;
    data.Source.SetFilterActive(true);
    EXPECT_EQ(data.Ids(), QList<int>({1, 3, 4}));
    EXPECT_EQ(link.LayoutChanges, 1);

    // A filter changed in place takes effect at the next activation.
    data.Source.Filters().back()->NumberTo = 6;
    data.Source.SetFilterActive(true);
    EXPECT_EQ(data.Ids(), QList<int>({1, 3, 4, 5, 6}));

    data.Source.ClearFilters();
    EXPECT_TRUE(data.Source.Filters().empty());
    EXPECT_TRUE(data.Table->Filtered()) << "the own handler filtered before";
    ownCalls = 0;
    EXPECT_EQ(data.Ids(), QList<int>({1, 3, 4, 5, 6}));
    data.Table->Refresh();
    EXPECT_GT(ownCalls, 0) << "the own handler is back";
}

TEST_F(DataSourceTest, AnExpressionFilterWithoutHandlerIsLeftOffAfterClearFilters)
{
    data.Table->SetFilter(QStringLiteral("ID > 2"));
    data.Table->SetFiltered(true);
    FilterByName(QStringLiteral("5"));
    data.Source.SetFilterActive(true);
    EXPECT_EQ(data.Ids(), QList<int>({5}));
    data.Source.ClearFilters();
    EXPECT_FALSE(data.Table->Filtered()) << "the Filtered state of a data set without a handler is not kept";
    EXPECT_EQ(data.Ids(), QList<int>({1, 2, 3, 4, 5, 6}));
}

TEST_F(DataSourceTest, AMarksFilterDecidesAloneThroughTheRecordMarker)
{
    TMemRecordMarker& marker = *data.Source.RecordMarker();
    EXPECT_EQ(marker.DataSource(), &data.Source);
    for (int id : {2, 5}) {
        data.Go(id);
        marker.ToggleCurrent();
    }
    FilterByName(QStringLiteral("row 3"));
    data.Source.Filters().push_back(std::make_unique<TFieldFilter>(nullptr, fkMarks));
    FilterByName(QStringLiteral("row 4"));
    data.Source.SetFilterActive(true);
    EXPECT_EQ(data.Ids(), QList<int>({2, 5}));
    data.Source.Filters()[1]->Unmarked = 1;
    data.Source.SetFilterActive(true);
    EXPECT_EQ(data.Ids(), QList<int>({1, 3, 4, 6}));
}

TEST_F(DataSourceTest, FiltersGoWithTheFieldsTheyTest)
{
    // Another data set for the source: the first gets its filter back.
    TTable other(PlainRows(2));
    FilterByName(QStringLiteral("row 3"));
    data.Source.SetFilterActive(true);
    data.Source.SetDataSet(other.Table.get());
    EXPECT_TRUE(data.Source.Filters().empty());
    EXPECT_FALSE(data.Table->Filtered());
    EXPECT_FALSE(data.Table->OnFilterRecord);
    EXPECT_EQ(data.Ids().size(), 6);
    data.Source.SetDataSet(data.Table.get());

    // The source freed first: the data set never calls into it again.
    auto source = std::make_unique<TSDataSource>();
    source->SetDataSet(data.Table.get());
    source->Filters().push_back(std::make_unique<TFieldFilter>(data.Field("NAME"), fkExact));
    source->SetFilterActive(true);
    EXPECT_TRUE(data.Ids().isEmpty());
    source.reset();
    EXPECT_FALSE(data.Table->OnFilterRecord);
    EXPECT_EQ(data.Ids().size(), 6);

    // Closing the data set (its fields go with it).
    FilterByName(QStringLiteral("row 3"));
    data.Source.SetFilterActive(true);
    data.Table->Close();
    EXPECT_TRUE(data.Source.Filters().empty());
    EXPECT_FALSE(data.Table->Filtered());
    EXPECT_FALSE(data.Table->OnFilterRecord);
    data.Table->Open();

    // Closing it while its controls are held back (no state event comes).
    FilterByName(QStringLiteral("row 3"));
    data.Source.SetFilterActive(true);
    data.Table->DisableControls();
    data.Table->Close();
    EXPECT_TRUE(data.Source.Filters().empty());
    EXPECT_FALSE(data.Table->Filtered());
    data.Table->Open();
    data.Table->EnableControls();

    // The data set freed first.
    FilterByName(QStringLiteral("row 3"));
    data.Source.SetFilterActive(true);
    data.Table.reset();
    EXPECT_TRUE(data.Source.Filters().empty());
    EXPECT_EQ(data.Source.DataSet(), nullptr);
}

TEST_F(DataSourceTest, NotifyLinksTellsTheRecordOrTheLayout)
{
    link.RecordChanges = link.LayoutChanges = 0;
    data.Source.NotifyLinks(lnRecordChanged);
    EXPECT_EQ(link.RecordChanges, 1);
    EXPECT_EQ(link.LayoutChanges, 0);
    data.Source.NotifyLinks(lnLayoutChanged);
    EXPECT_EQ(link.LayoutChanges, 1);
}

// A framework data set filled from a table file, without a database.
class SDSDataSourceTest : public ::testing::Test
{
protected:
    void Load(int rows, TSDSOptions options)
    {
        TCustomMemTable table;
        table.FieldDefs().Add(QStringLiteral("ID"), ftInteger);
        table.FieldDefs().Add(QStringLiteral("NAME"), ftString, 20);
        table.Open();
        for (int id = rows; id >= 1; --id) {
            table.Append();
            table.FieldByName(QStringLiteral("ID"))->SetAsInteger(id);
            table.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("N%1").arg(id));
            table.Post();
        }
        const QString file = FDir.filePath(QStringLiteral("rows.mt"));
        table.SaveToFile(file);
        FSds.SetOptions(options);
        FSds.LoadFromFile(file);
        FSource.SetDataSet(&FSds);
    }

    QTemporaryDir FDir;
    TSDS FSds;
    TSDataSource FSource;
};

TEST_F(SDSDataSourceTest, LevelsAndRecordAttributesOfTheFrameworksDataSet)
{
    int shown = 0;
    TSDataSource::RecordAttributesForm = [&](TSDataSource* source) {
        EXPECT_EQ(source, &FSource);
        ++shown;
    };
    Load(0, TSDSOptions{dsoLevels});
    EXPECT_TRUE(FSource.IsLevelled());
    FSource.ShowRecordAttributes();
    EXPECT_EQ(shown, 0) << "an empty data set has no record";

    FSds.Close();
    Load(3, TSDSOptions{});
    EXPECT_FALSE(FSource.IsLevelled());
    EXPECT_FALSE(FSource.LevelUp());
    EXPECT_FALSE(FSource.LevelDown());
    FSource.ShowRecordAttributes();
    EXPECT_EQ(shown, 1);

    // Its own order, sorted and given back like any table's.
    FSource.AddSortField(QStringLiteral("ID"));
    EXPECT_EQ(FSds.IndexFieldNames(), QStringLiteral("ID"));
    FSds.First();
    EXPECT_EQ(FSds.FieldByName(QStringLiteral("ID"))->AsInteger(), 1);
    FSource.RemoveSortField();
    EXPECT_EQ(FSource.GetIndexFieldNames(), QString());

    TTable plain(PlainRows(1));
    plain.Source.ShowRecordAttributes();
    EXPECT_EQ(shown, 1) << "only for the framework's data set";
    TSDataSource::RecordAttributesForm = nullptr;
}

} // namespace

#include "test_SDataSource.moc"

// A tree from a table file: group 1 holding leaves 2 and 3, leaf 4 beside it.
TEST_F(SDSDataSourceTest, LevelMovesGoThroughTheDataSetAndMarksFollowTheRecords)
{
    constexpr int32_t Leaf = 0x40000000;
    TCustomMemTable table;
    table.FieldDefs().Add(QStringLiteral("SYS$ID"), ftInteger);
    table.FieldDefs().Add(QStringLiteral("SYS$PID"), ftInteger);
    table.FieldDefs().Add(QStringLiteral("SYS$STATE"), ftInteger);
    table.Open();
    for (const auto& [id, parent, state] : {std::tuple{1, 0, 0}, {2, 1, Leaf}, {3, 1, Leaf}, {4, 0, Leaf}}) {
        table.Append();
        table.FieldByName(QStringLiteral("SYS$ID"))->SetAsInteger(id);
        table.FieldByName(QStringLiteral("SYS$PID"))->SetAsInteger(parent);
        table.FieldByName(QStringLiteral("SYS$STATE"))->SetAsInteger(state);
        table.Post();
    }
    const QString file = FDir.filePath(QStringLiteral("tree.mt"));
    table.SaveToFile(file);
    FSds.SetOptions(TSDSOptions{dsoLevels});
    FSds.LoadFromFile(file);
    FSource.SetDataSet(&FSds);
    FSds.SetIndexFieldNames(QStringLiteral("SYS$ID")); // the level's range comes with the next index
    TMemRecordMarker& marker = *FSource.RecordMarker();
    const auto shownIds = [this] {
        QList<int> ids;
        for (FSds.First(); !FSds.Eof(); FSds.Next())
            ids.append(FSds.FieldByName(QStringLiteral("SYS$ID"))->AsInteger());
        return ids;
    };

    ASSERT_EQ(shownIds(), QList<int>({1, 4}));
    ASSERT_TRUE(FSds.Locate(QStringLiteral("SYS$ID"), 1));
    marker.ToggleCurrent();
    ASSERT_TRUE(FSource.LevelDown());
    EXPECT_EQ(FSds.LevelCount(), 2);
    EXPECT_EQ(shownIds(), QList<int>({2, 3}));
    FSds.Last();
    marker.ToggleCurrent();

    ASSERT_TRUE(FSource.LevelUp());
    EXPECT_EQ(FSds.FieldByName(QStringLiteral("SYS$ID"))->AsInteger(), 1) << "back on the group just left";
    EXPECT_TRUE(marker.IsMarked());
    EXPECT_FALSE(FSource.LevelUp()) << "already at the root";
    ASSERT_TRUE(FSource.LevelDown());
    FSds.First();
    EXPECT_FALSE(marker.IsMarked());
    FSds.Last();
    EXPECT_TRUE(marker.IsMarked()) << "the mark went with record 3 through both level changes";
    EXPECT_EQ(marker.MarkedCount(), 2);
}
