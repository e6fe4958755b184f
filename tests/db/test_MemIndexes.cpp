// Indexes of the in-memory table: order with each option, the per-record
// index filter, switching, key search, ranges and bulk loading.
#include "DataSetFixture.h"
#include "Exceptions.h"

#include <gtest/gtest.h>

namespace {

using dbtest::Ids;
using dbtest::MakeTable;

TField* F(TDataSet& ds, const char* name) { return ds.FieldByName(QLatin1String(name)); }

void AddRow(TCustomMemTable& table, int id, const char* name, double price)
{
    table.Append();
    F(table, "ID")->SetAsInteger(id);
    F(table, "NAME")->SetAsString(QString::fromUtf8(name));
    F(table, "PRICE")->SetAsFloat(price);
    table.Post();
}

TEST(MemIndexes, OrderWithEachOption)
{
    auto table = MakeTable({{1, "beta", 20}, {2, "Alpha", 10}, {3, "alpha", 30}, {4, "Gamma", 20}});
    table->Append();
    F(*table, "ID")->SetAsInteger(5); // NAME and PRICE stay null
    table->Post();

    const struct
    {
        const char* name;
        const char* fields;
        TIndexOptions options;
        QList<int> order;
    } cases[] = {
        {"BY_NAME", "NAME", 0, {5, 2, 4, 3, 1}},                    // nulls first, then by code point
        {"BY_NAME_CI", "NAME", ixCaseInsensitive, {5, 2, 3, 1, 4}}, // equal keys keep their order
        {"BY_NAME_DESC", "NAME", ixDescending, {1, 3, 4, 2, 5}},
        {"BY_PRICE_ID", "PRICE;ID", 0, {5, 2, 1, 4, 3}},
        {"BY_PRICE_ID_DESC", "PRICE;ID", ixDescending, {3, 4, 1, 2, 5}},
    };
    for (const auto& c : cases) {
        table->AddIndex(QLatin1String(c.name), QLatin1String(c.fields), c.options);
        table->SetIndexName(QLatin1String(c.name));
        EXPECT_EQ(Ids(*table), c.order) << c.name;
        EXPECT_EQ(table->IndexFieldNames(), QLatin1String(c.fields));
    }
    table->SetIndexName(QString());
    EXPECT_EQ(Ids(*table), QList<int>({1, 2, 3, 4, 5})) << "natural order again";
}

TEST(MemIndexes, PostsKeepTheViewInIndexOrder)
{
    auto table = MakeTable({{30, "c", 1}, {10, "a", 2}});
    table->AddIndex(QStringLiteral("PK"), QStringLiteral("ID"), ixPrimary | ixUnique);
    table->SetIndexName(QStringLiteral("PK"));
    AddRow(*table, 20, "b", 3);
    EXPECT_EQ(Ids(*table), QList<int>({10, 20, 30}));
    EXPECT_EQ(F(*table, "ID")->AsInteger(), 20) << "the new record is current, where it sorts";
    EXPECT_EQ(table->RecNo(), 2);

    table->Edit();
    F(*table, "ID")->SetAsInteger(40);
    table->Post();
    EXPECT_EQ(Ids(*table), QList<int>({10, 30, 40}));
    EXPECT_EQ(table->RecNo(), 3) << "a changed key moves the record";

    // A duplicate key is refused and nothing changes.
    table->Append();
    F(*table, "ID")->SetAsInteger(10);
    EXPECT_THROW(table->Post(), EDatabaseError);
    table->Cancel();
    table->First();
    table->Edit();
    F(*table, "ID")->SetAsInteger(30);
    EXPECT_THROW(table->Post(), EDatabaseError);
    table->Cancel();
    EXPECT_EQ(Ids(*table), QList<int>({10, 30, 40}));
    EXPECT_EQ(table->StoredRowCount(), 3);

    table->Delete();
    EXPECT_EQ(Ids(*table), QList<int>({30, 40}));
}

// An edit moves a row only in the indexes whose key it changes; in the
// others the row keeps its place among its equals, as a rebuild would put it.
TEST(MemIndexes, EditsMoveRowsOnlyWhereTheirKeyChanges)
{
    auto table = MakeTable({{1, "a", 5}, {2, "a", 5}, {3, "a", 5}, {4, "b", 5}});
    table->AddIndex(QStringLiteral("BY_NAME"), QStringLiteral("NAME"));
    table->AddIndex(QStringLiteral("BY_PRICE"), QStringLiteral("PRICE"), ixDescending);
    table->SetIndexName(QStringLiteral("BY_NAME"));
    const auto edit = [&](int id, const char* field, const Variant& value) {
        ASSERT_TRUE(table->Locate(QStringLiteral("ID"), Variant(id)));
        table->Edit();
        F(*table, field)->SetValue(value);
        table->Post();
    };

    edit(1, "PRICE", Variant(7.0)); // not a key of the current index
    EXPECT_EQ(Ids(*table), QList<int>({1, 2, 3, 4}));
    edit(2, "NAME", Variant(QStringLiteral("a"))); // the same key again
    EXPECT_EQ(Ids(*table), QList<int>({1, 2, 3, 4}));
    edit(2, "NAME", Variant(QStringLiteral("A"))); // another letter case is another key
    EXPECT_EQ(Ids(*table), QList<int>({2, 1, 3, 4}));
    edit(3, "NAME", Variant(QStringLiteral("c"))); // out of a run of equals
    EXPECT_EQ(Ids(*table), QList<int>({2, 1, 4, 3}));
    EXPECT_EQ(F(*table, "ID")->AsInteger(), 3) << "the edited record stays current";

    table->SetIndexName(QStringLiteral("BY_PRICE"));
    EXPECT_EQ(Ids(*table), QList<int>({1, 2, 3, 4})) << "the other index followed the price";
    edit(4, "PRICE", Variant(9.0));
    EXPECT_EQ(Ids(*table), QList<int>({4, 1, 2, 3}));
    table->SetIndexName(QStringLiteral("BY_NAME"));
    EXPECT_EQ(Ids(*table), QList<int>({2, 1, 4, 3}));
}

TEST(MemIndexes, RecordFilterLeavesRowsOutOfTheIndex)
{
    auto table = MakeTable({{1, "a", 5}, {2, "b", 50}, {3, "c", 15}});
    std::vector<TRecordId> hidden;
    table->First();
    hidden.push_back(table->RecordId()); // ID 1
    table->AddIndex(QStringLiteral("VISIBLE"), QStringLiteral("PRICE"), 0, [&hidden](TCustomMemTable&, TRecordId row) {
        return std::find(hidden.begin(), hidden.end(), row) == hidden.end();
    });
    table->SetIndexName(QStringLiteral("VISIBLE"));
    EXPECT_EQ(Ids(*table), QList<int>({3, 2}));
    AddRow(*table, 4, "d", 1);
    EXPECT_EQ(Ids(*table), QList<int>({4, 3, 2}));
    table->SetIndexName(QString());
    EXPECT_EQ(Ids(*table), QList<int>({1, 2, 3, 4})) << "the natural order shows every row";
}

TEST(MemIndexes, AnOrderByFieldsReplacesTheIndexThePreviousOneMade)
{
    auto table = MakeTable({{3, "c", 1}, {1, "a", 3}, {2, "b", 2}});
    table->AddIndex(QStringLiteral("BY_PRICE"), QStringLiteral("PRICE"));
    const int defined = table->IndexDefs().Count();

    table->SetIndexFieldNames(QStringLiteral("ID"));
    table->SetIndexFieldNames(QStringLiteral("NAME"));
    EXPECT_EQ(table->IndexDefs().Count(), defined + 1) << "only the current order's index is kept";
    EXPECT_EQ(table->IndexDefs().FindByFields(QStringLiteral("ID")), nullptr);
    EXPECT_EQ(Ids(*table), QList<int>({1, 2, 3}));

    // An index defined by the caller serves a field list and is never dropped.
    table->SetIndexFieldNames(QStringLiteral("PRICE"));
    EXPECT_EQ(table->IndexName(), QStringLiteral("BY_PRICE"));
    EXPECT_EQ(table->IndexDefs().FindByFields(QStringLiteral("NAME")), nullptr);
    table->SetIndexFieldNames(QStringLiteral("ID"));
    EXPECT_NE(table->IndexDefs().Find(QStringLiteral("BY_PRICE")), nullptr);
    EXPECT_EQ(Ids(*table), QList<int>({1, 2, 3}));

    // Rows posted afterwards go into the indexes that are left, in order.
    AddRow(*table, 0, "z", 0);
    EXPECT_EQ(Ids(*table), QList<int>({0, 1, 2, 3}));
    table->SetIndexName(QStringLiteral("BY_PRICE"));
    EXPECT_EQ(Ids(*table), QList<int>({0, 3, 2, 1}));
}

TEST(MemIndexes, SwitchingByNameAndFieldsAndUnknownNames)
{
    auto table = MakeTable({{3, "c", 1}, {1, "a", 2}, {2, "b", 3}});
    table->SetIndexFieldNames(QStringLiteral("ID"));
    EXPECT_EQ(Ids(*table), QList<int>({1, 2, 3}));
    ASSERT_EQ(table->IndexFields().size(), 1u);
    EXPECT_EQ(table->IndexFields()[0]->FieldName(), QStringLiteral("ID"));
    const int defs = table->IndexDefs().Count();
    table->SetIndexFieldNames(QStringLiteral("id"));
    EXPECT_EQ(table->IndexDefs().Count(), defs) << "an index over the same fields is reused";

    try {
        table->SetIndexName(QStringLiteral("NO_SUCH_INDEX"));
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("NO_SUCH_INDEX"))) << e.Message().toStdString();
    }
    EXPECT_EQ(Ids(*table), QList<int>({1, 2, 3})) << "the current index is kept";

    table->DeleteIndexes();
    EXPECT_EQ(table->IndexDefs().Count(), 0);
    EXPECT_EQ(Ids(*table), QList<int>({3, 1, 2}));

    // Definitions survive closing; the index is rebuilt with the rows.
    table->AddIndex(QStringLiteral("BY_NAME"), QStringLiteral("NAME"), ixDescending);
    table->SetIndexName(QStringLiteral("BY_NAME"));
    table->Close();
    table->Open();
    AddRow(*table, 1, "a", 1);
    AddRow(*table, 2, "b", 1);
    EXPECT_EQ(Ids(*table), QList<int>({2, 1}));
}

TEST(MemIndexes, KeySearchFullPartialAndNearest)
{
    auto table = MakeTable({{1, "Иванов", 10}, {2, "Петров", 20}, {3, "Иванов", 30}, {4, "Сидоров", 40}});
    EXPECT_THROW(table->FindKey({1}), EDatabaseError) << "no current index";
    table->AddIndex(QStringLiteral("NAME_PRICE"), QStringLiteral("NAME;PRICE"));
    table->SetIndexName(QStringLiteral("NAME_PRICE"));

    EXPECT_TRUE(table->FindKey({"Иванов", 30}));
    EXPECT_EQ(F(*table, "ID")->AsInteger(), 3);
    EXPECT_TRUE(table->FindKey({"Иванов"})) << "a partial key finds the first match";
    EXPECT_EQ(F(*table, "ID")->AsInteger(), 1);
    EXPECT_FALSE(table->FindKey({"Иванова"}));
    EXPECT_EQ(F(*table, "ID")->AsInteger(), 1) << "a miss does not move";
    EXPECT_TRUE(table->FindKey({"Петров", "20"})) << "keys convert to the field's kind";

    table->FindNearest({"Кузнецов"});
    EXPECT_EQ(F(*table, "ID")->AsInteger(), 2);
    EXPECT_FALSE(table->Eof());
    table->FindNearest({"Яковлев"});
    EXPECT_TRUE(table->Eof()) << "past every key: at the end";
    EXPECT_EQ(F(*table, "ID")->AsInteger(), 4);

    table->SetKey();
    EXPECT_EQ(table->State(), dsSetKey);
    F(*table, "NAME")->SetAsString(QStringLiteral("Сидоров"));
    EXPECT_TRUE(table->GotoKey());
    EXPECT_EQ(table->State(), dsBrowse);
    EXPECT_EQ(F(*table, "ID")->AsInteger(), 4);
    table->SetKey();
    F(*table, "NAME")->SetAsString(QStringLiteral("Иванов"));
    F(*table, "PRICE")->SetAsFloat(15);
    table->GotoNearest();
    EXPECT_EQ(F(*table, "ID")->AsInteger(), 3);
}

TEST(MemIndexes, RangesWithAndWithoutAnIndexPrefix)
{
    auto table = MakeTable({{1, "a", 10}, {2, "b", 20}, {3, "b", 30}, {4, "c", 40}, {5, "b", 50}});
    EXPECT_THROW(table->SetRange({1}, {2}), EDatabaseError);
    table->AddIndex(QStringLiteral("NAME_PRICE"), QStringLiteral("NAME;PRICE"));
    table->SetIndexName(QStringLiteral("NAME_PRICE"));

    table->SetRange({"b"}, {"b"});
    EXPECT_TRUE(table->RangeActive());
    EXPECT_EQ(Ids(*table), QList<int>({2, 3, 5}));
    EXPECT_EQ(table->RecordCount(), 3);

    table->SetRange({"b", 25}, {"c", 40});
    EXPECT_EQ(Ids(*table), QList<int>({3, 5, 4}));

    // A new record outside the range is stored but not shown.
    AddRow(*table, 6, "z", 1);
    EXPECT_EQ(Ids(*table), QList<int>({3, 5, 4}));
    AddRow(*table, 7, "b", 35);
    EXPECT_EQ(Ids(*table), QList<int>({3, 7, 5, 4}));

    table->CancelRange();
    EXPECT_FALSE(table->RangeActive());
    EXPECT_EQ(Ids(*table), QList<int>({1, 2, 3, 7, 5, 4, 6}));
}

// Each end of a range, and the search key, has a buffer of its own: setting
// one leaves the others as they were.
TEST(MemIndexes, RangesAndSearchesThroughTheirKeyBuffers)
{
    auto table = MakeTable({{1, "a", 10}, {2, "b", 20}, {3, "b", 30}, {4, "c", 40}, {5, "b", 50}});
    table->AddIndex(QStringLiteral("NAME_PRICE"), QStringLiteral("NAME;PRICE"));
    table->SetIndexName(QStringLiteral("NAME_PRICE"));

    table->SetRangeStart();
    EXPECT_EQ(table->State(), dsSetKey);
    F(*table, "NAME")->SetAsString(QStringLiteral("b"));
    table->SetRangeEnd();
    F(*table, "NAME")->SetAsString(QStringLiteral("b"));
    table->ApplyRange();
    EXPECT_EQ(table->State(), dsBrowse);
    EXPECT_TRUE(table->RangeActive());
    EXPECT_EQ(Ids(*table), QList<int>({2, 3, 5}));

    // A search in between keeps the range's buffers.
    table->SetKey();
    EXPECT_TRUE(F(*table, "NAME")->IsNull()) << "SetKey starts empty";
    F(*table, "NAME")->SetAsString(QStringLiteral("b"));
    F(*table, "PRICE")->SetAsFloat(50);
    EXPECT_TRUE(table->GotoKey());
    EXPECT_EQ(F(*table, "ID")->AsInteger(), 5);

    table->EditRangeEnd();
    EXPECT_EQ(F(*table, "NAME")->AsString(), QStringLiteral("b")) << "Edit keeps the buffer";
    F(*table, "NAME")->SetAsString(QStringLiteral("c"));
    table->EditRangeStart();
    F(*table, "PRICE")->SetAsFloat(25);
    table->ApplyRange();
    EXPECT_EQ(Ids(*table), QList<int>({3, 5, 4}));

    table->EditKey();
    EXPECT_EQ(F(*table, "PRICE")->AsFloat(), 50) << "the search key is still there";
    F(*table, "PRICE")->SetAsFloat(30);
    EXPECT_TRUE(table->GotoKey());
    EXPECT_EQ(F(*table, "ID")->AsInteger(), 3);

    // An end left empty bounds nothing.
    table->SetRangeStart();
    table->SetRangeEnd();
    F(*table, "NAME")->SetAsString(QStringLiteral("b"));
    table->ApplyRange();
    EXPECT_EQ(Ids(*table), QList<int>({1, 2, 3, 5}));
    table->CancelRange();
    EXPECT_EQ(Ids(*table), QList<int>({1, 2, 3, 5, 4}));
}

TEST(MemIndexes, IndexesOffForBulkLoadingThenRebuiltOnce)
{
    auto table = MakeTable();
    table->AddIndex(QStringLiteral("PK"), QStringLiteral("ID"), ixUnique);
    table->SetIndexName(QStringLiteral("PK"));
    table->SetEnableIndexes(false);
    for (int id : {5, 3, 9, 1})
        AddRow(*table, id, "x", id);
    EXPECT_EQ(Ids(*table), QList<int>({5, 3, 9, 1})) << "appended as they come";
    table->SetEnableIndexes(true);
    EXPECT_EQ(Ids(*table), QList<int>({1, 3, 5, 9}));
    EXPECT_TRUE(table->FindKey({9}));

    // A duplicate loaded with indexes off is found when they are rebuilt.
    table->SetEnableIndexes(false);
    AddRow(*table, 3, "dup", 0);
    EXPECT_THROW(table->SetEnableIndexes(true), EDatabaseError);
    EXPECT_FALSE(table->EnableIndexes()) << "still off, so the duplicate can be mended";
    table->Last();
    table->Delete();
    table->SetEnableIndexes(true);
    EXPECT_EQ(Ids(*table), QList<int>({1, 3, 5, 9}));
}

// Texts sharing a prefix (some past what a build looks at), Latin, Cyrillic
// and mixed case, repeated values and nulls: a rebuilt index orders them as
// comparing the strings does, equal keys in the order rows were added, and
// finds every one of them.
void CheckTextOrder(const QStringList& tails, const QString& shared = QStringLiteral("Customer number "))
{
    auto table = std::make_unique<TCustomMemTable>();
    table->FieldDefs().Add(QStringLiteral("ID"), ftInteger, 0, true);
    table->FieldDefs().Add(QStringLiteral("NAME"), ftString, 200);
    table->Open();
    const QString longer = shared + QString(60, QLatin1Char('x'));
    std::vector<std::pair<int, QString>> rows; // a null NAME as a null QString
    int id = 0;
    for (int round = 0; round < 3; ++round)
        for (const QString& tail : tails) {
            for (const QString& head : {shared, longer}) {
                const QString name = tail.isNull() ? (round == 0 && head == shared ? QString() : head) : head + tail;
                rows.emplace_back(++id, name);
                table->Append();
                F(*table, "ID")->SetAsInteger(id);
                if (!name.isNull())
                    F(*table, "NAME")->SetAsString(name);
                table->Post();
            }
        }

    const auto expected = [&](Qt::CaseSensitivity cs, bool descending) {
        std::vector<std::pair<int, QString>> sorted = rows;
        std::stable_sort(sorted.begin(), sorted.end(), [&](const auto& a, const auto& b) {
            if (a.second.isNull() || b.second.isNull())
                return a.second.isNull() != b.second.isNull() && (a.second.isNull() != descending);
            const int c = a.second.compare(b.second, cs);
            return descending ? c > 0 : c < 0;
        });
        QList<int> ids;
        for (const auto& row : sorted)
            ids << row.first;
        return ids;
    };
    const struct
    {
        const char* name;
        TIndexOptions options;
        Qt::CaseSensitivity cs;
    } cases[] = {
        {"BY_NAME", 0, Qt::CaseSensitive},
        {"BY_NAME_CI", ixCaseInsensitive, Qt::CaseInsensitive},
        {"BY_NAME_DESC", ixDescending, Qt::CaseSensitive},
    };
    for (const auto& c : cases) {
        table->AddIndex(QLatin1String(c.name), QStringLiteral("NAME"), c.options);
        table->SetIndexName(QLatin1String(c.name));
        EXPECT_EQ(Ids(*table), expected(c.cs, c.options & ixDescending)) << c.name << qPrintable(shared);
        for (const auto& [rowId, name] : rows) {
            ASSERT_TRUE(table->FindKey({name.isNull() ? Variant::Null() : Variant(name)}))
                << c.name << qPrintable(name);
            EXPECT_EQ(F(*table, "NAME")->AsString().compare(name, c.cs), 0) << c.name;
        }
    }

    // Equal texts in a unique index, however long their shared prefix.
    EXPECT_THROW(table->AddIndex(QStringLiteral("UNIQUE_CI"), QStringLiteral("NAME"), ixUnique | ixCaseInsensitive),
                 EDatabaseError);
}

// Searches of a number index whose keys are spread unevenly (clusters,
// repeats, a gap, nulls): each lands where a scan of the sorted keys would,
// ascending and descending.

TEST(MemIndexes, TextOrderPastALongSharedPrefix)
{
    const QStringList latin = {QStringLiteral("12 Ltd"),
                               QStringLiteral("1"),
                               QStringLiteral("12 LTD"),
                               QString(),
                               QStringLiteral("z"),
                               QStringLiteral("Z"),
                               QString(1, QChar(0)),
                               QString(8, QChar(0)),
                               QString(7, QChar(0)) + QChar(1)};
    CheckTextOrder(latin); // every character in a byte
    CheckTextOrder(latin
                   + QStringList{QStringLiteral("Ёлка"), QStringLiteral("ёлка"), QStringLiteral("Ель"),
                                 QStringLiteral("ель"), QStringLiteral("я"), QStringLiteral("Я")});
    // A prefix shorter than the usual sort key, or none: the keys the
    // searches use come from the prefix and the characters past it. The
    // micro sign is a byte wide and folds to a Greek letter that is not.
    for (const QString& shared : {QStringLiteral("Cu"), QString()})
        CheckTextOrder(latin + QStringList{QStringLiteral("\u00B5m"), QStringLiteral("\u039Cm"), QStringLiteral("mm")},
                       shared);
}

TEST(MemIndexes, SearchesOverUnevenlySpreadNumbers)
{
    auto table = MakeTable();
    std::vector<int> values;
    for (int i = 0; i < 600; ++i)
        values.push_back(i < 400 ? i % 50 : 100000 + i * i);
    table->DisableControls();
    for (int i = 0; i < static_cast<int>(values.size()); ++i)
        AddRow(*table, i + 1, "x", values[static_cast<size_t>(i)]);
    table->Append();
    F(*table, "ID")->SetAsInteger(0); // PRICE null
    table->Post();
    table->EnableControls();
    std::sort(values.begin(), values.end());

    table->AddIndex(QStringLiteral("BY_PRICE"), QStringLiteral("PRICE"));
    table->AddIndex(QStringLiteral("BY_PRICE_DESC"), QStringLiteral("PRICE"), ixDescending);
    std::vector<int> searched = {-5, 99999999};
    for (int value : values)
        searched.insert(searched.end(), {value - 1, value, value + 1});
    for (int wanted : searched) {
        const bool present = std::binary_search(values.begin(), values.end(), wanted);
        table->SetIndexName(QStringLiteral("BY_PRICE"));
        EXPECT_EQ(table->FindKey({wanted}), present) << wanted;
        table->FindNearest({wanted});
        const auto at = std::lower_bound(values.begin(), values.end(), wanted);
        if (at == values.end()) {
            EXPECT_TRUE(table->Eof()) << wanted;
        } else {
            EXPECT_EQ(F(*table, "PRICE")->AsFloat(), *at) << wanted;
            EXPECT_EQ(table->RecNo(), 2 + (at - values.begin()))
                << wanted << ": the first of equal keys, after the null";
        }
        table->SetIndexName(QStringLiteral("BY_PRICE_DESC"));
        EXPECT_EQ(table->FindKey({wanted}), present) << wanted;
        if (present) {
            EXPECT_EQ(table->RecNo(), 1 + (values.end() - std::upper_bound(values.begin(), values.end(), wanted)))
                << wanted;
        }
    }
}

} // namespace
