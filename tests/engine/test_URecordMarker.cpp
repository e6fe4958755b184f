// The record marker over an in-memory table: marks that follow records
// through sorting and filtering, ranges, marking all, and the marked values.
#include "FilterFixture.h"

#include "Dialogs.h"
#include "URecordMarker.h"
#include "uFieldFilter.h"

#include <gtest/gtest.h>

using namespace filtertest;

namespace {

class RecordMarkerTest : public ::testing::Test
{
protected:
    RecordMarkerTest() : data(PlainRows(6))
    {
        marker.SetDataSource(&data.Source);
        marker.OnChange = [this](TMemRecordMarker* sender) {
            EXPECT_EQ(sender, &marker);
            ++changes;
        };
        link.SetDataSource(&data.Source);
    }

    // The IDs of the marked records, in view order.
    QList<int> Marked()
    {
        QList<int> ids;
        TCustomMemTable& t = *data.Table;
        const TBookmark here = t.GetBookmark();
        for (t.First(); !t.Eof(); t.Next())
            if (marker.IsMarked())
                ids << data.Field("ID")->AsInteger();
        t.GotoBookmark(here);
        return ids;
    }

    void Mark(std::initializer_list<int> ids)
    {
        for (int id : ids) {
            data.Go(id);
            marker.ToggleCurrent();
        }
    }

    TTable data;
    TMemRecordMarker& marker = *data.Source.RecordMarker();
    TCountingLink link;
    TScriptedDialogsGuard dialogs;
    int changes = 0;
};

TEST_F(RecordMarkerTest, ToggleCurrentMarksAndUnmarksOnlyWhileBrowsing)
{
    EXPECT_TRUE(marker.IsEmpty());
    EXPECT_EQ(marker.DataSet(), nullptr) << "bound on the first toggle only";
    data.Go(3);
    link.RecordChanges = 0;
    marker.ToggleCurrent();
    EXPECT_EQ(link.RecordChanges, 1) << "the current record is drawn again";
    EXPECT_EQ(marker.DataSet(), data.Table.get());
    EXPECT_TRUE(marker.IsMarked());
    EXPECT_EQ(Marked(), QList<int>({3}));
    EXPECT_EQ(changes, 1);
    marker.ToggleCurrent();
    EXPECT_TRUE(marker.IsEmpty());
    EXPECT_EQ(changes, 2);

    data.Table->Edit();
    marker.ToggleCurrent();
    data.Table->Cancel();
    EXPECT_TRUE(marker.IsEmpty());
    EXPECT_EQ(changes, 2) << "nothing happens in edit state";

    TTable empty({});
    TMemRecordMarker other;
    other.SetDataSource(&empty.Source);
    other.ToggleCurrent();
    other.ToggleRange();
    other.ToggleAll();
    EXPECT_TRUE(other.IsEmpty());
    EXPECT_FALSE(other.RangeStarted());
    EXPECT_TRUE(dialogs->Messages.empty());
}

TEST_F(RecordMarkerTest, MarksFollowRecordsThroughSortFilterAndRange)
{
    Mark({2, 5});
    data.Table->SetIndexFieldNames(QStringLiteral("PRICE"));
    data.Table->AddIndex(QStringLiteral("BY_ID_DESC"), QStringLiteral("ID"), ixDescending);
    data.Table->SetIndexName(QStringLiteral("BY_ID_DESC"));
    EXPECT_EQ(data.Ids(), QList<int>({6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(Marked(), QList<int>({5, 2}));

    data.Table->SetFilter(QStringLiteral("ID <> 5"));
    data.Table->SetFiltered(true);
    EXPECT_EQ(Marked(), QList<int>({2}));
    data.Table->SetFiltered(false);
    EXPECT_EQ(Marked(), QList<int>({5, 2}));

    data.Table->SetRange({Variant(5)}, {Variant(3)});
    EXPECT_EQ(Marked(), QList<int>({5}));
    data.Table->CancelRange();
    EXPECT_EQ(Marked(), QList<int>({5, 2})) << "the view came back with its marks";
}

TEST_F(RecordMarkerTest, ToggleRangeTogglesTheInclusiveStretchEitherWay)
{
    const struct
    {
        int start, end;
        std::initializer_list<int> premarked;
        QList<int> marked;
    } cases[] = {
        {2, 4, {}, {2, 3, 4}}, {5, 3, {}, {3, 4, 5}}, {4, 4, {}, {4}}, {1, 6, {2, 6}, {1, 3, 4, 5}}, {3, 3, {3}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.start << ".." << c.end);
        marker.Clear();
        Mark(c.premarked);
        changes = 0;
        link.LayoutChanges = 0;
        data.Go(c.start);
        marker.ToggleRange();
        EXPECT_TRUE(marker.RangeStarted());
        EXPECT_EQ(changes, 0) << "the start marks nothing";
        data.Go(c.end);
        marker.ToggleRange();
        EXPECT_EQ(Marked(), c.marked);
        EXPECT_FALSE(marker.RangeStarted());
        EXPECT_EQ(changes, 1) << "one change for the whole range";
        EXPECT_EQ(link.LayoutChanges, 1);
        EXPECT_FALSE(data.Table->ControlsDisabled());
        EXPECT_EQ(data.Field("ID")->AsInteger(), c.end) << "back on the end record";
    }
}

TEST_F(RecordMarkerTest, ToggleRangeWhoseStartWasFilteredOutTogglesTheEndAlone)
{
    data.Go(2);
    marker.ToggleRange();
    data.Table->SetFilter(QStringLiteral("ID <> 2"));
    data.Table->SetFiltered(true);
    data.Go(4);
    marker.ToggleRange();
    data.Table->SetFiltered(false);
    EXPECT_EQ(Marked(), QList<int>({4})) << "not 4 to the end of the table";
    EXPECT_FALSE(marker.RangeStarted());
    EXPECT_TRUE(static_cast<bool>(marker.OnChange));
}

TEST_F(RecordMarkerTest, AFailedRangeStillGivesBackEventsControlsAndStart)
{
    data.Go(2);
    marker.ToggleRange();
    data.Go(5);
    int scrolls = 0;
    data.Table->AfterScroll = [&](TDataSet*) {
        if (++scrolls == 3)
            throw Exception(QStringLiteral("scroll failed"));
    };
    EXPECT_THROW(marker.ToggleRange(), Exception);
    data.Table->AfterScroll = nullptr;
    EXPECT_FALSE(marker.RangeStarted());
    EXPECT_FALSE(data.Table->ControlsDisabled());
    ASSERT_TRUE(static_cast<bool>(marker.OnChange));
    marker.ToggleCurrent();
    EXPECT_EQ(changes, 1) << "OnChange is back";
}

TEST_F(RecordMarkerTest, ToggleAllAsksFirst)
{
    data.Go(3);
    dialogs->Answers = {mrNo};
    marker.ToggleAll();
    EXPECT_TRUE(marker.IsEmpty());
    EXPECT_EQ(changes, 0);
    ASSERT_EQ(dialogs->Messages.size(), 1u);
    EXPECT_EQ(dialogs->Messages[0].Text, QStringLiteral("Отметить все записи ?"));
    EXPECT_EQ(dialogs->Messages[0].Icon, TMsgIcon::Question);
    EXPECT_EQ(dialogs->Messages[0].Buttons, mbYesNo);

    dialogs->Answers = {mrYes};
    marker.ToggleAll();
    EXPECT_EQ(Marked(), QList<int>({1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(data.Field("ID")->AsInteger(), 3) << "back where it was";
    EXPECT_FALSE(data.Table->ControlsDisabled());
    EXPECT_EQ(changes, 1);

    dialogs->Answers = {mrNo};
    marker.ToggleAll();
    EXPECT_EQ(marker.MarkedCount(), 6) << "No changes nothing";
    EXPECT_EQ(dialogs->Messages.back().Text, QStringLiteral("Сделать все записи неотмеченными ?"));
    dialogs->Answers = {mrYes};
    marker.ToggleAll();
    EXPECT_TRUE(marker.IsEmpty());
    EXPECT_EQ(changes, 3); // Clear's own and the toggle's
}

TEST_F(RecordMarkerTest, MarkedValuesInViewOrderAndTheirMessages)
{
    EXPECT_EQ(marker.GetMarkedValues(QStringLiteral("NAME")), QString()) << "unbound";
    Mark({5, 1, 3});
    data.Table->AddIndex(QStringLiteral("BY_ID_DESC"), QStringLiteral("ID"), ixDescending);
    data.Table->SetIndexName(QStringLiteral("BY_ID_DESC"));
    data.Go(4);
    EXPECT_EQ(marker.GetMarkedValues(QStringLiteral("NAME")), QStringLiteral("Row 5,Row 3,Row 1"));
    EXPECT_EQ(data.Field("ID")->AsInteger(), 4);
    marker.SetSelectFieldName(QStringLiteral("QTY"));
    EXPECT_EQ(marker.GetMarkedValues(), QStringLiteral("5,3,1"));

    marker.SetSelectFieldName(QString());
    const struct
    {
        QString name;
        QString message;
    } failures[] = {
        {QString(), QStringLiteral("Не задано поле для выбора!")},
        {QStringLiteral("NOPE"), QStringLiteral("Поле для выбора \"NOPE\" не найдено !")},
    };
    for (const auto& f : failures) {
        try {
            marker.GetMarkedValues(f.name);
            ADD_FAILURE() << "no error for " << f.name.toStdString();
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), f.message);
        }
    }
    EXPECT_FALSE(data.Table->ControlsDisabled());

    marker.Clear();
    EXPECT_EQ(marker.GetMarkedValues(QStringLiteral("NAME")), QString());
}

TEST_F(RecordMarkerTest, GetMarkedValuesPostsAPendingEdit)
{
    Mark({2});
    data.Go(2);
    data.Table->Edit();
    data.Field("NAME")->SetAsString(QStringLiteral("Changed"));
    EXPECT_EQ(marker.GetMarkedValues(QStringLiteral("NAME")), QStringLiteral("Changed"));
    EXPECT_EQ(data.Table->State(), dsBrowse);
}

TEST_F(RecordMarkerTest, DataSourceMustBeADataSource)
{
    TDataSource stranger; // not the framework's
    try {
        marker.SetDataSource(&stranger);
        ADD_FAILURE() << "accepted";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("DataSource must be TDataSource !"));
    }
    EXPECT_EQ(marker.DataSource(), &data.Source);
    marker.SetDataSource(nullptr);
    EXPECT_EQ(marker.DataSource(), nullptr);
    marker.ToggleCurrent();
    EXPECT_TRUE(marker.IsEmpty());
}

TEST_F(RecordMarkerTest, MarksFilterThroughTheRecordFilterDecidesAlone)
{
    Mark({2, 5});
    TFieldFilters& filters = data.Source.Filters();
    auto byName = std::make_unique<TFieldFilter>(data.Field("NAME"), fkExact);
    byName->Value = QStringLiteral("row 3");
    filters.push_back(std::move(byName));
    const auto filterBy = [&](int unmarked) {
        auto marks = std::make_unique<TFieldFilter>(nullptr, fkMarks);
        marks->Unmarked = unmarked;
        filters.push_back(std::move(marks));
        data.Source.SetFilterActive(true);
        return data.Ids();
    };
    EXPECT_EQ(filterBy(0), QList<int>({2, 5}));
    filters.pop_back();
    EXPECT_EQ(filterBy(1), QList<int>({1, 3, 4, 6}));
    filters.pop_back();
    data.Source.SetFilterActive(true);
    EXPECT_EQ(data.Ids(), QList<int>({3})) << "without marks the field filter decides";
}

} // namespace
