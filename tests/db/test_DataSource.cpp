// Data sources and data links: which notifications controls get, in which
// order, and how a field link writes a control's value back.
#include "DataSetFixture.h"
#include "DataSource.h"
#include "Exceptions.h"

#include <gtest/gtest.h>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

using dbtest::MakeTable;

QString StateName(TDataSetState state)
{
    static const char* const names[] = {"inactive", "browse", "edit", "insert", "setkey", "calc", "filter"};
    return QLatin1String(names[state]);
}

// A link that writes down every hook call.
class TLogLink : public TDataLink
{
public:
    QStringList Log;

    QStringList Take()
    {
        QStringList taken;
        taken.swap(Log);
        return taken;
    }

protected:
    void ActiveChanged() override { Log << QStringLiteral("Active(%1)").arg(Active()); }
    void EditingChanged() override { Log << QStringLiteral("Editing(%1)").arg(Editing()); }
    void DataSetChanged() override { Log << QStringLiteral("DataSetChanged"); }
    void DataSetScrolled(int) override { Log << QStringLiteral("Scrolled"); }
    void LayoutChanged() override { Log << QStringLiteral("Layout"); }
    void RecordChanged(TField* field) override
    {
        Log << QStringLiteral("Record(%1)").arg(field ? field->FieldName() : QStringLiteral("-"));
    }
    void UpdateData() override { Log << QStringLiteral("UpdateData"); }
    void CheckBrowseMode() override { Log << QStringLiteral("CheckBrowse"); }
};

// A source with its events logged, and one logging link on it.
struct TWatchedSource
{
    TDataSource Source;
    TLogLink Link;
    QStringList Events;

    explicit TWatchedSource(TDataSet* dataSet)
    {
        Source.OnStateChange = [this](QObject*) {
            Events << QStringLiteral("State(%1)").arg(StateName(Source.State()));
        };
        Source.OnDataChange = [this](TDataSource*, TField* field) {
            Events << QStringLiteral("Data(%1)").arg(field ? field->FieldName() : QStringLiteral("-"));
        };
        Source.OnUpdateData = [this](TDataSource*, TField*) { Events << QStringLiteral("UpdateData"); };
        Source.SetDataSet(dataSet);
        Link.SetDataSource(&Source);
    }
    QStringList TakeEvents()
    {
        QStringList taken;
        taken.swap(Events);
        return taken;
    }
};

void AddRow(TDataSet& table, int id, const QString& name)
{
    table.Append();
    table.FieldByName(QStringLiteral("ID"))->SetAsInteger(id);
    table.FieldByName(QStringLiteral("NAME"))->SetAsString(name);
    table.Post();
}

TEST(DataLinks, SeeTheDataSetsLifeInOrder)
{
    TCustomMemTable table;
    table.FieldDefs().Add(QStringLiteral("ID"), ftInteger);
    table.FieldDefs().Add(QStringLiteral("NAME"), ftString, 20);
    TWatchedSource watched(&table);
    TLogLink& link = watched.Link;
    EXPECT_FALSE(link.Active());
    EXPECT_TRUE(link.Log.isEmpty());

    table.Open();
    EXPECT_EQ(link.Take(), QStringList({"Active(1)"}));
    EXPECT_EQ(watched.TakeEvents(), QStringList({"State(browse)", "Data(-)"}));
    EXPECT_TRUE(link.Active());
    EXPECT_EQ(link.DataSet(), &table);

    for (int id = 1; id <= 3; ++id)
        AddRow(table, id, QStringLiteral("n%1").arg(id));
    link.Take();
    watched.TakeEvents();

    table.First();
    EXPECT_EQ(link.Take(), QStringList({"CheckBrowse", "Scrolled"}));
    EXPECT_EQ(watched.TakeEvents(), QStringList({"Data(-)"}));

    table.Edit();
    EXPECT_EQ(link.Take(), QStringList({"CheckBrowse", "Editing(1)", "Record(-)"}));
    EXPECT_EQ(watched.TakeEvents(), QStringList({"State(edit)", "Data(-)"}));
    EXPECT_TRUE(link.Editing());

    table.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("x"));
    EXPECT_EQ(link.Take(), QStringList({"Record(NAME)"}));
    EXPECT_EQ(watched.TakeEvents(), QStringList({"Data(NAME)"}));

    table.Post();
    EXPECT_EQ(link.Take(), QStringList({"UpdateData", "CheckBrowse", "Editing(0)", "DataSetChanged"}));
    EXPECT_EQ(watched.TakeEvents(), QStringList({"UpdateData", "State(browse)", "Data(-)"}));

    table.Edit();
    link.Take();
    watched.TakeEvents();
    table.Cancel();
    EXPECT_EQ(link.Take(), QStringList({"CheckBrowse", "Editing(0)", "DataSetChanged"}));
    EXPECT_EQ(watched.TakeEvents(), QStringList({"State(browse)", "Data(-)"}));

    table.Close();
    EXPECT_EQ(link.Take(), QStringList({"Active(0)"}));
    EXPECT_EQ(watched.TakeEvents(), QStringList({"State(inactive)"}));
    EXPECT_EQ(watched.Source.State(), dsInactive);
}

TEST(DataLinks, DisabledControlsGetOneRefreshAtTheEnd)
{
    auto table = MakeTable({{1, "a", 1}, {2, "b", 2}, {3, "c", 3}});
    TWatchedSource watched(table.get());
    watched.Link.Take();
    watched.TakeEvents();

    table->DisableControls();
    table->DisableControls();
    table->Next();
    table->Last();
    table->Edit();
    table->FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("z"));
    table->Post();
    table->EnableControls();
    EXPECT_TRUE(watched.Link.Log.isEmpty()) << "still disabled once";
    table->EnableControls();
    EXPECT_EQ(watched.Link.Take(), QStringList({"DataSetChanged"}));
    EXPECT_EQ(watched.TakeEvents(), QStringList({"Data(-)"}));

    // A state left changed is reported before the refresh.
    table->DisableControls();
    table->Edit();
    EXPECT_EQ(watched.Source.State(), dsBrowse) << "the source has not heard yet";
    table->EnableControls();
    EXPECT_EQ(watched.Link.Take(), QStringList({"Editing(1)", "DataSetChanged"}));
    EXPECT_EQ(watched.TakeEvents(), QStringList({"State(edit)", "Data(-)"}));
    table->Cancel();
}

TEST(DataLinks, ADisabledSourceDeliversNothing)
{
    auto table = MakeTable({{1, "a", 1}, {2, "b", 2}});
    TWatchedSource watched(table.get());
    watched.Link.Take();
    watched.TakeEvents();

    watched.Source.SetEnabled(false);
    EXPECT_EQ(watched.Link.Take(), QStringList({"Active(0)"}));
    EXPECT_EQ(watched.TakeEvents(), QStringList({"State(inactive)"}));
    EXPECT_EQ(watched.Source.State(), dsInactive);
    EXPECT_FALSE(watched.Source.Edit());
    EXPECT_EQ(table->State(), dsBrowse) << "a disabled source starts no edit";

    table->Next();
    table->Edit();
    table->FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("z"));
    table->Post();
    table->FieldByName(QStringLiteral("NAME"))->SetVisible(false);
    EXPECT_TRUE(watched.Link.Log.isEmpty());
    EXPECT_TRUE(watched.Events.isEmpty());

    watched.Source.SetEnabled(true);
    EXPECT_EQ(watched.Link.Take(), QStringList({"Active(1)"}));
    EXPECT_EQ(watched.TakeEvents(), QStringList({"State(browse)", "Data(-)"}));
}

TEST(DataLinks, ARangeSetOrCancelledChangesTheRowsTheLinksShow)
{
    auto table = MakeTable({{1, "a", 10}, {2, "b", 20}, {3, "c", 30}});
    table->AddIndex(QStringLiteral("NAME"), QStringLiteral("NAME"));
    table->SetIndexName(QStringLiteral("NAME"));
    TWatchedSource watched(table.get());
    watched.Link.Take();
    table->SetRange({"b"}, {"c"});
    EXPECT_TRUE(watched.Link.Take().endsWith(QStringLiteral("DataSetChanged")));
    table->CancelRange();
    EXPECT_TRUE(watched.Link.Take().endsWith(QStringLiteral("DataSetChanged")));
}

TEST(DataLinks, HidingAFieldIsALayoutChange)
{
    auto table = MakeTable({{1, "a", 1}});
    TWatchedSource watched(table.get());
    watched.Link.Take();
    watched.TakeEvents();
    TField* name = table->FieldByName(QStringLiteral("NAME"));
    name->SetVisible(false);
    name->SetVisible(false);
    EXPECT_EQ(watched.Link.Take(), QStringList({"Layout"}));
    EXPECT_EQ(watched.TakeEvents(), QStringList({"Data(-)"}));
    EXPECT_FALSE(name->Visible());
}

TEST(DataLinks, SourceSwitchingAndLifetimes)
{
    auto goods = MakeTable({{1, "a", 1}});
    auto other = MakeTable({{2, "b", 2}});
    auto source = std::make_unique<TDataSource>();
    source->SetDataSet(goods.get());

    TLogLink link;
    link.SetDataSource(source.get());
    EXPECT_EQ(link.Take(), QStringList({"Active(1)"}));
    {
        TLogLink shortLived;
        shortLived.SetDataSource(source.get());
        EXPECT_EQ(source->DataLinks().size(), 2);
    }
    EXPECT_EQ(source->DataLinks(), QList<TDataLink*>({&link})) << "a destroyed link detaches";

    // Moving to another open data set goes through inactive, so links rebind.
    source->SetDataSet(other.get());
    EXPECT_EQ(link.Take(), QStringList({"Active(0)", "Active(1)"}));
    EXPECT_EQ(link.DataSet(), other.get());
    goods->Next();
    EXPECT_TRUE(link.Log.isEmpty()) << "the old data set no longer reaches the link";

    source.reset();
    EXPECT_EQ(link.Take(), QStringList({"Active(0)"}));
    EXPECT_EQ(link.DataSource(), nullptr);
    other->Next();
    other->Edit();
    other->Cancel(); // the destroyed source is no longer notified

    // A data set destroyed under its source leaves the links inactive.
    TDataSource survivor;
    survivor.SetDataSet(other.get());
    TFieldDataLink fieldLink;
    fieldLink.SetFieldName(QStringLiteral("NAME"));
    fieldLink.SetDataSource(&survivor);
    ASSERT_NE(fieldLink.Field(), nullptr);
    other.reset();
    EXPECT_EQ(survivor.DataSet(), nullptr);
    EXPECT_EQ(survivor.State(), dsInactive);
    EXPECT_FALSE(fieldLink.Active());
    EXPECT_EQ(fieldLink.Field(), nullptr);
}

// --- The field link of an edit control

class FieldLink : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FSource.SetDataSet(FTable.get());
        FLink.OnDataChange = [this] {
            ++FLoads;
            if (FTable && FTable->State() == dsEdit)
                ++FLoadsWhileEditing;
            FControl = FLink.Field() ? FLink.Field()->AsString() : QString();
        };
        FLink.OnUpdateData = [this] {
            ++FWrites;
            FLink.Field()->SetAsString(FControl);
        };
        FLink.SetFieldName(QStringLiteral("NAME"));
        FLink.SetDataSource(&FSource);
    }

    TField* Name() const { return FTable->FieldByName(QStringLiteral("NAME")); }

    std::unique_ptr<TCustomMemTable> FTable = MakeTable({{1, "a", 1}, {2, "b", 2}});
    TDataSource FSource;
    TFieldDataLink FLink;
    QString FControl;
    int FLoads = 0;
    int FLoadsWhileEditing = 0;
    int FWrites = 0;
};

TEST_F(FieldLink, BindsItsFieldAndShowsEachRecord)
{
    EXPECT_EQ(FLink.Field(), Name());
    EXPECT_EQ(FControl, QStringLiteral("a"));
    FTable->Next();
    EXPECT_EQ(FControl, QStringLiteral("b"));

    // Changes of other fields leave the control alone.
    FTable->Edit();
    const int loads = FLoads;
    FTable->FieldByName(QStringLiteral("ID"))->SetAsInteger(9);
    EXPECT_EQ(FLoads, loads);
    Name()->SetAsString(QStringLiteral("c"));
    EXPECT_EQ(FControl, QStringLiteral("c"));
    FTable->Cancel();
    EXPECT_EQ(FControl, QStringLiteral("b"));

    try {
        FLink.SetFieldName(QStringLiteral("NOPE"));
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Goods: Field 'NOPE' not found"));
    }
    FLink.SetFieldName(QStringLiteral("ID"));
    EXPECT_EQ(FControl, QStringLiteral("2"));

    FTable->Close();
    EXPECT_EQ(FLink.Field(), nullptr);
    EXPECT_EQ(FControl, QString()) << "an inactive control shows nothing";
    FTable->Open();
    EXPECT_EQ(FLink.Field(), FTable->FieldByName(QStringLiteral("ID"))) << "rebound to the new field";
}

TEST_F(FieldLink, WritesTheControlBackOnPostOnlyWhenModified)
{
    ASSERT_TRUE(FLink.CanModify());
    EXPECT_EQ(FTable->State(), dsEdit) << "typing starts an edit";
    FControl = QStringLiteral("typed");
    FLink.Modified();
    FLoadsWhileEditing = 0;
    FTable->Post();
    EXPECT_EQ(FWrites, 1);
    EXPECT_EQ(FLoadsWhileEditing, 0) << "the control's own write does not reload it";
    EXPECT_EQ(Name()->AsString(), QStringLiteral("typed"));
    EXPECT_EQ(FControl, QStringLiteral("typed"));

    // Unmodified: Post leaves the field alone.
    ASSERT_TRUE(FLink.CanModify());
    FTable->Post();
    EXPECT_EQ(FWrites, 1);

    // Reset drops the typing and shows the field again.
    ASSERT_TRUE(FLink.CanModify());
    FControl = QStringLiteral("lost");
    FLink.Modified();
    FLink.Reset();
    EXPECT_EQ(FControl, QStringLiteral("typed"));
    FTable->Post();
    EXPECT_EQ(FWrites, 1);

    // So does leaving the record by scrolling: the change is posted first.
    ASSERT_TRUE(FLink.CanModify());
    FControl = QStringLiteral("scrolled");
    FLink.Modified();
    FTable->Next();
    EXPECT_EQ(FWrites, 2);
    FTable->First();
    EXPECT_EQ(Name()->AsString(), QStringLiteral("scrolled"));
}

TEST_F(FieldLink, CanModifyOnlyWhereAnEditIsAllowed)
{
    FSource.SetAutoEdit(false);
    EXPECT_FALSE(FLink.CanModify());
    EXPECT_EQ(FTable->State(), dsBrowse);
    FTable->Edit();
    EXPECT_TRUE(FLink.CanModify()) << "an edit already started needs no AutoEdit";
    FTable->Cancel();

    FSource.SetAutoEdit(true);
    Name()->SetReadOnly(true);
    EXPECT_FALSE(FLink.CanModify());
    Name()->SetReadOnly(false);
    FTable->SetReadOnly(true);
    EXPECT_FALSE(FLink.CanModify());
    EXPECT_EQ(FTable->State(), dsBrowse);
}

} // namespace
