// What a table derived from the in-memory table can build on: its own rule
// around the current index, key searches and ranges that callers holding the
// base class meet too; the row a filter is testing; the edited record's
// values from before Edit.
#include "DataSetFixture.h"
#include "Exceptions.h"

#include <gtest/gtest.h>

namespace {

using dbtest::Ids;

TField* F(TDataSet& ds, const char* name) { return ds.FieldByName(QLatin1String(name)); }

// Rows belong to levels (LEVEL); every index leads with LEVEL, which the
// table fills in itself, so callers see and search one level's rows by the
// fields they name. Without an index the primary key (ID) orders the view.
class TLevelledTable : public TCustomMemTable
{
public:
    static constexpr const char* DefaultIndex = "PRIMARY_KEY";

    TLevelledTable()
    {
        FieldDefs().Add(QStringLiteral("ID"), ftInteger, 0, true);
        FieldDefs().Add(QStringLiteral("LEVEL"), ftInteger);
        FieldDefs().Add(QStringLiteral("NAME"), ftString, 20);
        AddIndex(QLatin1String(DefaultIndex), QStringLiteral("ID"), ixPrimary | ixUnique);
        Open();
    }

    void Add(int id, int level, const char* name)
    {
        Append();
        F(*this, "ID")->SetAsInteger(id);
        F(*this, "LEVEL")->SetAsInteger(level);
        F(*this, "NAME")->SetAsString(QLatin1String(name));
        Post();
    }

    int Level = 1;

    QString IndexName() const override
    {
        return TCustomMemTable::IndexName() == QLatin1String(DefaultIndex) ? QString() : TCustomMemTable::IndexName();
    }
    void SetIndexName(const QString& name) override
    {
        TCustomMemTable::SetIndexName(name.isEmpty() ? QLatin1String(DefaultIndex) : name);
    }
    QString IndexFieldNames() const override
    {
        const QString fields = TCustomMemTable::IndexFieldNames();
        return fields.startsWith(Prefix) ? fields.mid(Prefix.size()) : fields;
    }
    void SetIndexFieldNames(const QString& fields) override
    {
        if (fields.isEmpty())
            SetIndexName(QString());
        else
            TCustomMemTable::SetIndexFieldNames(Prefix + fields);
    }
    bool FindKey(const std::vector<Variant>& keyValues) override
    {
        return TCustomMemTable::FindKey(WithLevel(keyValues));
    }
    void FindNearest(const std::vector<Variant>& keyValues) override
    {
        TCustomMemTable::FindNearest(WithLevel(keyValues));
    }
    // The key buffer starts with the level; the caller assigns the rest.
    void SetKey() override
    {
        TCustomMemTable::SetKey();
        if (LevelLeads())
            F(*this, "LEVEL")->SetAsInteger(Level);
    }
    void SetRange(const std::vector<Variant>& startValues, const std::vector<Variant>& endValues) override
    {
        TCustomMemTable::SetRange(WithLevel(startValues), WithLevel(endValues));
    }
    // Outside a range the view still shows one level.
    void CancelRange() override { TCustomMemTable::SetRange(WithLevel({}), WithLevel({})); }

private:
    const QString Prefix = QStringLiteral("LEVEL;");

    bool LevelLeads() const { return TCustomMemTable::IndexFieldNames().startsWith(Prefix); }
    std::vector<Variant> WithLevel(std::vector<Variant> values) const
    {
        if (LevelLeads())
            values.insert(values.begin(), Variant(Level));
        return values;
    }
};

TEST(DerivedTables, IndexRulesHoldForCallersOfTheBaseClass)
{
    TLevelledTable levelled;
    for (const auto& [id, level, name] : {std::tuple{1, 1, "b"}, {2, 2, "a"}, {3, 1, "a"}, {4, 2, "b"}, {5, 1, "c"}})
        levelled.Add(id, level, name);
    TCustomMemTable& table = levelled;

    table.SetIndexFieldNames(QStringLiteral("NAME"));
    EXPECT_EQ(table.IndexFieldNames(), QStringLiteral("NAME"));
    EXPECT_EQ(table.IndexFields().size(), 2u) << "the index as built leads with the level";

    // The same name on another level is not found.
    EXPECT_TRUE(table.FindKey({"a"}));
    EXPECT_EQ(F(table, "ID")->AsInteger(), 3);
    levelled.Level = 2;
    EXPECT_TRUE(table.FindKey({"a"}));
    EXPECT_EQ(F(table, "ID")->AsInteger(), 2);
    table.FindNearest({"aa"});
    EXPECT_EQ(F(table, "ID")->AsInteger(), 4);
    EXPECT_FALSE(table.FindKey({"c"}));

    // Key buffer through the base classes: the level comes from the table.
    static_cast<TDataSet&>(table).SetKey();
    F(table, "NAME")->SetAsString(QStringLiteral("b"));
    EXPECT_TRUE(table.GotoKey());
    EXPECT_EQ(F(table, "ID")->AsInteger(), 4);

    levelled.Level = 1;
    table.SetRange({"b"}, {"c"});
    EXPECT_EQ(Ids(table), QList<int>({1, 5}));
    table.CancelRange();
    EXPECT_EQ(Ids(table), QList<int>({3, 1, 5}));

    // No index named: the default one, which the caller does not see.
    table.SetIndexName(QString());
    EXPECT_EQ(table.IndexName(), QString());
    EXPECT_EQ(levelled.TCustomMemTable::IndexName(), QLatin1String(TLevelledTable::DefaultIndex));
    EXPECT_TRUE(table.FindKey({4}));
    EXPECT_EQ(F(table, "NAME")->AsString(), QStringLiteral("b"));
    EXPECT_EQ(Ids(table), QList<int>({1, 2, 3, 4, 5}));
}

// Shows one level's rows while Filtered: the rule reads the row under test.
class TLevelFilteredTable : public TCustomMemTable
{
public:
    TLevelFilteredTable()
    {
        FieldDefs().Add(QStringLiteral("ID"), ftInteger, 0, true);
        FieldDefs().Add(QStringLiteral("LEVEL"), ftInteger);
        Open();
        for (const auto& [id, level] : {std::pair{1, 1}, {2, 2}, {3, 1}, {4, 2}}) {
            Append();
            F(*this, "ID")->SetAsInteger(id);
            F(*this, "LEVEL")->SetAsInteger(level);
            Post();
        }
    }

    int Level = 1;
    TRecordId FilterRowOutside() const { return FilterRow(); }

protected:
    void DoFilterRecord(bool& accept) override
    {
        // The field shows the tested row; so does the row itself.
        const Variant level = F(*this, "LEVEL")->Value();
        EXPECT_EQ(level.AsInteger(), InternalGetValue(FilterRow(), *F(*this, "LEVEL")).AsInteger());
        accept = level.AsInteger() == Level;
        TCustomMemTable::DoFilterRecord(accept); // OnFilterRecord still has its say
    }
};

TEST(DerivedTables, FilterHookTestsTheRowUnderTestNotTheCurrentRecord)
{
    TLevelFilteredTable table;
    table.Last(); // ID 4, level 2: a rule reading the cursor would keep level 2
    EXPECT_EQ(table.FilterRowOutside(), NoRecord);
    table.SetFiltered(true);
    EXPECT_EQ(Ids(table), QList<int>({1, 3}));

    table.Level = 2;
    table.OnFilterRecord = [](TDataSet* ds, bool& accept) { accept = accept && F(*ds, "ID")->AsInteger() != 4; };
    table.SetFilter(QString()); // any change of the filter rebuilds the view
    table.SetFiltered(false);
    table.SetFiltered(true);
    EXPECT_EQ(Ids(table), QList<int>({2}));
    EXPECT_EQ(table.FilterRowOutside(), NoRecord);
}

// Tells which keys a post changes: what a table keyed on the server does
// to find the stored row by its old key.
class TKeyWatchingTable : public TCustomMemTable
{
public:
    TKeyWatchingTable()
    {
        FieldDefs().Add(QStringLiteral("ID"), ftInteger, 0, true);
        FieldDefs().Add(QStringLiteral("NAME"), ftString, 20);
        Open();
        for (const auto& [id, name] : {std::pair{1, "a"}, {2, "b"}}) {
            Append();
            F(*this, "ID")->SetAsInteger(id);
            F(*this, "NAME")->SetAsString(QLatin1String(name));
            Post();
        }
        First();
        Changes.clear();
    }

    QStringList Changes;
    std::vector<Variant> Old() const { return OldRecord(); }

protected:
    void DoBeforePost() override
    {
        const std::vector<Variant>& old = OldRecord();
        const int id = F(*this, "ID")->Index();
        Changes << (old.empty() ? QStringLiteral("new %1").arg(F(*this, "ID")->AsInteger())
                                : QStringLiteral("%1 -> %2")
                                      .arg(old[static_cast<size_t>(id)].AsInteger())
                                      .arg(F(*this, "ID")->AsInteger()));
        TCustomMemTable::DoBeforePost();
    }
};

TEST(DerivedTables, OldValuesOfTheEditedRecord)
{
    TKeyWatchingTable table;
    EXPECT_TRUE(table.Old().empty()) << "browsing";

    table.Edit();
    F(table, "ID")->SetAsInteger(10);
    F(table, "NAME")->SetAsString(QStringLiteral("z"));
    ASSERT_EQ(table.Old().size(), 2u);
    EXPECT_EQ(table.Old()[0].AsInteger(), 1);
    EXPECT_EQ(table.Old()[1].AsString(), QStringLiteral("a"));
    table.Cancel();
    EXPECT_TRUE(table.Old().empty()) << "after Cancel";
    EXPECT_EQ(F(table, "ID")->AsInteger(), 1);

    table.Edit();
    F(table, "ID")->SetAsInteger(10);
    table.Post();
    EXPECT_TRUE(table.Old().empty()) << "after Post";
    table.Append();
    EXPECT_TRUE(table.Old().empty()) << "a new record has no old values";
    F(table, "ID")->SetAsInteger(3);
    table.Post();
    EXPECT_EQ(table.Changes, QStringList({"1 -> 10", "new 3"}));
}

} // namespace
