// The data set's state machine, events, navigation, bookmarks, searching
// and filtering, over the in-memory table.
#include "DataSetFixture.h"
#include "Exceptions.h"

#include <gtest/gtest.h>

namespace {

using dbtest::AddGoodsLookup;
using dbtest::Ids;
using dbtest::MakeTable;
using dbtest::TEventLog;

TField* F(TDataSet& ds, const char* name) { return ds.FieldByName(QLatin1String(name)); }

TEST(DataSetStates, EventOrderOfInsertEditPostCancelDelete)
{
    auto table = MakeTable({{1, "Чай", 10}, {2, "Кофе", 20}});
    TEventLog log;
    log.Attach(*table);

    table->Append();
    EXPECT_EQ(table->State(), dsInsert);
    EXPECT_EQ(log.Take(), QStringList({"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll"}));
    F(*table, "ID")->SetAsInteger(3);
    F(*table, "NAME")->SetAsString(QStringLiteral("Сок"));
    EXPECT_TRUE(table->Modified());
    table->Post();
    EXPECT_EQ(table->State(), dsBrowse);
    EXPECT_EQ(log.Take(), QStringList({"BeforePost", "AfterPost"}));
    EXPECT_EQ(F(*table, "ID")->AsInteger(), 3) << "the posted record stays current";
    EXPECT_EQ(table->RecordCount(), 3);

    table->Edit();
    EXPECT_EQ(table->State(), dsEdit);
    F(*table, "PRICE")->SetAsFloat(99);
    EXPECT_TRUE(F(*table, "PRICE")->OldValue().IsNull());
    table->Cancel();
    EXPECT_TRUE(F(*table, "PRICE")->IsNull()) << "cancel restores the stored values";
    EXPECT_EQ(log.Take(), QStringList({"BeforeEdit", "AfterEdit", "BeforeCancel", "AfterCancel"}));

    table->First();
    log.Take();
    table->Delete();
    EXPECT_EQ(log.Take(), QStringList({"BeforeDelete", "BeforeScroll", "AfterDelete", "AfterScroll"}));
    EXPECT_EQ(Ids(*table), QList<int>({2, 3}));
    EXPECT_EQ(F(*table, "ID")->AsInteger(), 2) << "the next record takes the deleted one's place";
}

TEST(DataSetStates, InsertPutsTheRowBeforeTheCurrentOne)
{
    auto table = MakeTable({{1, "a", 1}, {2, "b", 2}, {3, "c", 3}});
    table->SetRecNo(2);
    table->Insert();
    F(*table, "ID")->SetAsInteger(9);
    table->Post();
    EXPECT_EQ(Ids(*table), QList<int>({1, 9, 2, 3}));
    EXPECT_EQ(table->RecNo(), 2);

    // Cancelling an insert returns to where the cursor was.
    table->Last();
    table->Insert();
    table->Cancel();
    EXPECT_EQ(table->RecNo(), 4);
    EXPECT_EQ(table->RecordCount(), 4);
}

TEST(DataSetStates, FieldWritesNeedAnEditState)
{
    auto table = MakeTable({{1, "a", 1}});
    EXPECT_THROW(F(*table, "NAME")->SetAsString(QStringLiteral("x")), EDatabaseError);
    EXPECT_THROW(table->Post(), EDatabaseError);
    table->Edit();
    F(*table, "ID")->SetReadOnly(true);
    try {
        F(*table, "ID")->SetAsInteger(5);
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Goods: Field 'ID' cannot be modified"));
    }
    table->Cancel();
    table->SetReadOnly(true);
    EXPECT_THROW(table->Edit(), EDatabaseError);
    EXPECT_THROW(table->Append(), EDatabaseError);
}

TEST(DataSetStates, RequiredFieldsAndTheErrorEventsActions)
{
    auto table = MakeTable();
    int calls = 0;
    table->OnPostError = [&](TDataSet* ds, const std::exception& error, TDataAction& action) {
        ++calls;
        EXPECT_NE(QString::fromUtf8(error.what()).indexOf(QStringLiteral("Field 'ID' must have a value")), -1);
        ds->FieldByName(QStringLiteral("ID"))->SetAsInteger(7); // mend it and try again
        action = daRetry;
    };
    table->Append();
    table->Post();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(Ids(*table), QList<int>({7}));

    table->OnPostError = [](TDataSet*, const std::exception&, TDataAction& action) { action = daAbort; };
    table->Append();
    EXPECT_THROW(table->Post(), EAbort);
    EXPECT_EQ(table->State(), dsInsert) << "a failed post keeps the record for correction";

    table->OnPostError = nullptr;
    EXPECT_THROW(table->Post(), EDatabaseError);
    table->Cancel();

    // A handler that refuses the edit before it starts.
    table->BeforeEdit = [](TDataSet*) { Abort(); };
    EXPECT_THROW(table->Edit(), EAbort);
    EXPECT_EQ(table->State(), dsBrowse);
}

TEST(DataSetStates, ValidateCanRefuseAValueAndChangeSeesIt)
{
    auto table = MakeTable({{1, "a", 1}});
    QStringList seen;
    TField* price = F(*table, "PRICE");
    price->OnValidate = [&](TField* f) {
        if (f->AsFloat() < 0)
            throw Exception(QStringLiteral("Цена не может быть отрицательной"));
    };
    price->OnChange = [&](TField* f) { seen << f->AsString(); };
    table->Edit();
    EXPECT_THROW(price->SetAsFloat(-5), Exception);
    EXPECT_EQ(price->AsFloat(), 1.0) << "the refused value is not kept";
    price->SetAsFloat(5);
    EXPECT_EQ(seen, QStringList({"5"}));
    table->Post();
}

TEST(DataSetFields, DefaultFieldsComeAndGoWithOpenPersistentOnesStay)
{
    auto table = MakeTable({{1, "a", 1}});
    EXPECT_TRUE(table->DefaultFields());
    EXPECT_EQ(table->FieldCount(), 4);
    table->Close();
    EXPECT_EQ(table->FieldCount(), 0);
    EXPECT_EQ(table->FieldDefs().Count(), 4);

    TCustomMemTable persistent;
    auto* id = new TIntegerField(&persistent);
    id->SetFieldName(QStringLiteral("ID"));
    id->SetDataSet(&persistent);
    auto* total = new TFloatField(&persistent);
    total->SetFieldName(QStringLiteral("DOUBLED"));
    total->SetFieldKind(fkCalculated);
    total->SetDataSet(&persistent);
    persistent.OnCalcFields = [&](TDataSet*) { total->SetAsFloat(id->AsInteger() * 2.0); };
    persistent.Open();
    EXPECT_FALSE(persistent.DefaultFields());
    EXPECT_EQ(persistent.FieldDefs().Count(), 1) << "the stored field defines the table";
    persistent.Append();
    id->SetAsInteger(21);
    EXPECT_EQ(total->AsFloat(), 42.0) << "calculated while editing";
    persistent.Post();
    EXPECT_EQ(total->AsFloat(), 42.0);
    persistent.Close();
    EXPECT_EQ(persistent.FieldCount(), 2);
    persistent.Open();
    EXPECT_EQ(persistent.RecordCount(), 0) << "closing drops the rows of an in-memory table";

    persistent.SetAutoCalcFields(false);
    persistent.Append();
    id->SetAsInteger(5);
    EXPECT_EQ(total->AsFloat(), 0.0) << "with auto-calculation off, edits do not recalculate";
    persistent.Post();
    EXPECT_EQ(total->AsFloat(), 10.0) << "the record is calculated when shown again";
}

TEST(DataSetFields, LookupFieldsReadTheirDataSet)
{
    auto goods = MakeTable({{1, "Чай", 10}, {2, "Кофе", 20}});
    TCustomMemTable orders;
    const auto [goodId, goodName] = AddGoodsLookup(orders, *goods);
    orders.Open();
    orders.Append();
    goodId->SetAsInteger(2);
    EXPECT_EQ(goodName->AsString(), QStringLiteral("Кофе"));
    goodId->SetAsInteger(3);
    EXPECT_TRUE(goodName->IsNull());
    orders.Post();
    EXPECT_EQ(F(*goods, "ID")->AsInteger(), 1) << "the lookup does not move its data set";
}

TEST(DataSetNavigation, BofEofMoveByAndRandomAccess)
{
    auto table = MakeTable({{1, "a", 1}, {2, "b", 2}, {3, "c", 3}});
    EXPECT_TRUE(table->Bof());
    EXPECT_FALSE(table->Eof());
    table->Prior();
    EXPECT_EQ(table->RecNo(), 1);
    EXPECT_EQ(table->MoveBy(5), 2);
    EXPECT_TRUE(table->Eof());
    EXPECT_EQ(table->RecNo(), 3);
    EXPECT_EQ(table->MoveBy(-1), -1);
    EXPECT_FALSE(table->Eof() || table->Bof());
    EXPECT_EQ(table->MoveBy(-10), -1);
    EXPECT_TRUE(table->Bof());
    table->SetRecNo(3);
    EXPECT_EQ(F(*table, "ID")->AsInteger(), 3);
    table->Last();
    EXPECT_TRUE(table->Eof());
    table->Next();
    EXPECT_EQ(table->RecNo(), 3);

    // Reading another row by position neither moves nor raises events.
    TEventLog log;
    log.Attach(*table);
    const int previous = table->SetDisplayPosition(0);
    EXPECT_EQ(F(*table, "NAME")->AsString(), QStringLiteral("a"));
    table->SetDisplayPosition(previous);
    EXPECT_EQ(F(*table, "NAME")->AsString(), QStringLiteral("c"));
    EXPECT_TRUE(log.Events.isEmpty());

    auto empty = MakeTable();
    EXPECT_TRUE(empty->IsEmpty() && empty->Bof() && empty->Eof());
    EXPECT_EQ(empty->RecNo(), 0);
    EXPECT_THROW(empty->Delete(), EDatabaseError);
    empty->Edit();
    EXPECT_EQ(empty->State(), dsInsert) << "editing an empty data set inserts";
    empty->Cancel();
    empty->Close();
    EXPECT_THROW(empty->First(), EDatabaseError);
    EXPECT_THROW(empty->RecordCount(), EDatabaseError);
}

// Moving leaves the record to be read when a field needs it: typed reads
// take the row in place, a variant read or an edit fills the record, and
// every path reads the same values (nulls, empty and wide text, numbers
// and dates), also for a row another table removed meanwhile.
TEST(DataSetNavigation, EveryReadOfAFieldShowsTheRowTheCursorIsOn)
{
    auto table = MakeTable({{1, "Чай", 10.5}, {2, "", -3}, {3, "abc", 0}});
    table->Append();
    F(*table, "ID")->SetAsInteger(4); // the other fields null
    table->Post();
    table->Last();
    table->Edit();
    F(*table, "DT")->SetAsDateTime(45000);
    table->Post();

    struct TRead
    {
        int Id;
        QString Name;
        bool NameNull;
        double Price;
        double Day;
        bool PriceNull;
        bool operator==(const TRead&) const = default;
    };
    const auto typed = [&] {
        const QString name = F(*table, "NAME")->AsString();
        // The view of the same text, without a copy where the row holds it.
        const QAnyStringView view = F(*table, "NAME")->AsStringView();
        EXPECT_EQ(view.toString(), name);
        EXPECT_EQ(view.isNull(), name.isNull());
        EXPECT_EQ(F(*table, "ID")->AsStringView().toString(), F(*table, "ID")->AsString());
        return TRead{F(*table, "ID")->AsInteger(),
                     name,
                     name.isNull(),
                     F(*table, "PRICE")->AsFloat(),
                     F(*table, "DT")->AsDateTime(),
                     F(*table, "PRICE")->IsNull()};
    };
    const auto throughVariants = [&] {
        const Variant name = F(*table, "NAME")->Value();
        const QString text = name.IsEmptyOrNull() ? QString() : name.AsString();
        const Variant price = F(*table, "PRICE")->Value();
        const Variant day = F(*table, "DT")->Value();
        return TRead{static_cast<int>(F(*table, "ID")->Value().AsInt64()),
                     text,
                     text.isNull(),
                     price.IsEmptyOrNull() ? 0 : price.AsDouble(),
                     day.IsEmptyOrNull() ? 0 : day.AsDouble(),
                     price.IsEmptyOrNull()};
    };
    QList<TRead> walked;
    for (table->First(); !table->Eof(); table->Next()) {
        const TRead first = typed();
        EXPECT_EQ(first, throughVariants()) << first.Id;
        EXPECT_EQ(first, typed()) << first.Id << ": after the record was filled";
        walked << first;
    }
    ASSERT_EQ(walked.size(), 4);
    EXPECT_EQ(walked[0], (TRead{1, QStringLiteral("Чай"), false, 10.5, 0, false}));
    EXPECT_EQ(walked[1].Name, QString());
    EXPECT_EQ(walked[3], (TRead{4, QString(), true, 0, 45000, true}));

    // An edit starts from the row's values; the grid's display reads leave them.
    table->First();
    {
        const TDataSet::TDisplayScope display(*table, 2);
        EXPECT_EQ(F(*table, "ID")->AsInteger(), 3);
    }
    EXPECT_EQ(F(*table, "ID")->AsInteger(), 1);
    table->Edit();
    EXPECT_EQ(F(*table, "NAME")->AsString(), QStringLiteral("Чай"));
    F(*table, "NAME")->SetAsString(QStringLiteral("Кофе"));
    EXPECT_EQ(F(*table, "NAME")->AsStringView().toString(), QStringLiteral("Кофе"));
    table->Cancel();
    EXPECT_EQ(F(*table, "NAME")->AsStringView().toString(), QStringLiteral("Чай"));

    // A row removed through another table while this one holds a key buffer.
    TCustomMemTable clone;
    clone.SetAttachedTo(table.get());
    clone.Open();
    clone.First();
    clone.SetKey();
    table->First();
    table->Delete();
    clone.Cancel();
    EXPECT_EQ(F(clone, "ID")->AsInteger(), 0);
    EXPECT_TRUE(F(clone, "NAME")->IsNull());
    clone.First();
    EXPECT_EQ(F(clone, "ID")->AsInteger(), 2);
}

TEST(DataSetBookmarks, SurviveOtherEditsAndDieWithTheirRecord)
{
    auto table = MakeTable({{1, "a", 1}, {2, "b", 2}, {3, "c", 3}});
    table->SetRecNo(2);
    const TBookmark two = table->GetBookmark();
    table->SetRecNo(3);
    const TBookmark three = table->GetBookmark();
    EXPECT_NE(TDataSet::CompareBookmarks(two, three), 0);
    EXPECT_EQ(TDataSet::CompareBookmarks(two, two), 0);

    table->First();
    table->Insert();
    F(*table, "ID")->SetAsInteger(0);
    table->Post();
    table->Last();
    table->Delete();
    EXPECT_FALSE(table->BookmarkValid(three));
    EXPECT_THROW(table->GotoBookmark(three), EDatabaseError);
    ASSERT_TRUE(table->BookmarkValid(two));
    table->GotoBookmark(two);
    EXPECT_EQ(F(*table, "ID")->AsInteger(), 2);
    EXPECT_EQ(table->RecNo(), 3);
    EXPECT_FALSE(table->BookmarkValid(TBookmark("junk")));
}

TEST(DataSetSearching, LocateAndLookupOptions)
{
    auto table = MakeTable({{1, "Иванов", 10}, {2, "иванова", 20}, {3, "Петров", 10}});
    const struct
    {
        const char* fields;
        Variant keys;
        TLocateOptions options;
        int found; // ID, 0 for none
    } cases[] = {
        {"NAME", "иванова", 0, 2},
        {"NAME", "ИВАНОВА", 0, 0},
        {"NAME", "ИВАНОВА", loCaseInsensitive, 2},
        {"NAME", "Иван", 0, 0},
        {"NAME", "Иван", loPartialKey, 1},
        {"NAME", "пЕт", loPartialKey | loCaseInsensitive, 3},
        {"PRICE;NAME", VarArrayOf({10, "Петров"}), 0, 3},
        {"PRICE", 20, 0, 2},
        {"PRICE", "20", 0, 2},
        {"PRICE", 30, 0, 0},
    };
    // The same answers by a scan and by a search of an index over the field.
    table->AddIndex(QStringLiteral("BY_NAME"), QStringLiteral("NAME"));
    table->AddIndex(QStringLiteral("BY_NAME_CI"), QStringLiteral("NAME"), ixCaseInsensitive);
    table->AddIndex(QStringLiteral("BY_NAME_DESC"), QStringLiteral("NAME;PRICE"), ixDescending);
    for (const char* index : {"", "BY_NAME", "BY_NAME_CI", "BY_NAME_DESC"}) {
        table->SetIndexName(QLatin1String(index));
        for (const auto& c : cases) {
            table->First();
            const int first = F(*table, "ID")->AsInteger();
            const bool found = table->Locate(QLatin1String(c.fields), c.keys, c.options);
            EXPECT_EQ(found, c.found != 0) << index << " " << c.fields << " " << VarToStr(c.keys).toStdString();
            EXPECT_EQ(F(*table, "ID")->AsInteger(), c.found ? c.found : first) << index << ": a miss does not move";
        }
    }
    table->SetIndexName(QString());

    table->Last();
    EXPECT_EQ(table->Lookup(QStringLiteral("ID"), 2, QStringLiteral("NAME")).AsString(), QStringLiteral("иванова"));
    const Variant both = table->Lookup(QStringLiteral("ID"), 1, QStringLiteral("NAME;PRICE"));
    ASSERT_TRUE(both.IsArray());
    EXPECT_EQ(both[1].AsDouble(), 10.0);
    EXPECT_TRUE(table->Lookup(QStringLiteral("ID"), 9, QStringLiteral("NAME")).IsNull());
    EXPECT_EQ(table->RecNo(), 3) << "lookup does not move";
    EXPECT_THROW(table->Locate(QStringLiteral("NOPE"), 1), EDatabaseError);
    EXPECT_THROW(table->Locate(QStringLiteral("ID;NAME"), 1), EDatabaseError);
}

// Locate by an index finds the first match the view shows: equal names in
// the order rows were added, only inside a range, nulls by a null key.
TEST(DataSetSearching, LocateByAnIndexFindsTheFirstMatchInTheView)
{
    auto table = MakeTable({{1, "b", 10}, {2, "a", 20}, {3, "b", 30}, {4, "b", 40}, {5, "c", 50}});
    table->Append();
    F(*table, "ID")->SetAsInteger(6);
    table->Post();
    table->AddIndex(QStringLiteral("BY_NAME"), QStringLiteral("NAME;PRICE"));
    table->SetIndexName(QStringLiteral("BY_NAME"));
    table->Last();
    ASSERT_TRUE(table->Locate(QStringLiteral("NAME"), "b"));
    EXPECT_EQ(F(*table, "ID")->AsInteger(), 1);
    ASSERT_TRUE(table->Locate(QStringLiteral("NAME"), Variant::Null()));
    EXPECT_EQ(F(*table, "ID")->AsInteger(), 6);
    table->SetRange({"b", 30}, {"c"});
    ASSERT_TRUE(table->Locate(QStringLiteral("NAME"), "b"));
    EXPECT_EQ(F(*table, "ID")->AsInteger(), 3);
    EXPECT_FALSE(table->Locate(QStringLiteral("NAME"), "a"));
    EXPECT_EQ(table->Lookup(QStringLiteral("NAME"), "c", QStringLiteral("ID")).AsInteger(), 5);
}

TEST(DataSetFiltering, ExpressionAndEventNarrowTheView)
{
    auto table = MakeTable({{1, "Иванов", 10}, {2, "иванова", 20}, {3, "Петров", 30}});
    table->SetFilter(QStringLiteral("PRICE >= 20"));
    EXPECT_EQ(table->RecordCount(), 3) << "not filtered yet";
    table->SetFiltered(true);
    EXPECT_EQ(Ids(*table), QList<int>({2, 3}));

    table->SetFilter(QStringLiteral("NAME = 'ИВАН*'"));
    EXPECT_TRUE(Ids(*table).isEmpty());
    table->SetFilterOptions(foCaseInsensitive);
    EXPECT_EQ(Ids(*table), QList<int>({1, 2}));

    table->OnFilterRecord = [](TDataSet* ds, bool& accept) {
        accept = ds->FieldByName(QStringLiteral("ID"))->AsInteger() != 1;
    };
    table->Refresh();
    EXPECT_EQ(Ids(*table), QList<int>({2}));

    table->SetFiltered(false);
    EXPECT_EQ(Ids(*table), QList<int>({1, 2, 3}));
    EXPECT_THROW(table->SetFilter(QStringLiteral("PRICE >")), EDatabaseError);
    EXPECT_EQ(table->Filter(), QStringLiteral("NAME = 'ИВАН*'")) << "a bad filter changes nothing";
}

TEST(DataSetStorage, ModifiedFlagAndEmptyTable)
{
    auto table = MakeTable({{1, "a", 1}});
    EXPECT_TRUE(table->DataModified());
    table->ResetModified();
    EXPECT_FALSE(table->DataModified());
    table->Edit();
    F(*table, "NAME")->SetAsString(QStringLiteral("b"));
    table->Post();
    EXPECT_TRUE(table->DataModified());
    table->EmptyTable();
    EXPECT_TRUE(table->IsEmpty());
    EXPECT_EQ(table->StoredRowCount(), 0);
}

} // namespace
