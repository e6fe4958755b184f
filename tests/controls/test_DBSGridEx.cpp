// The framework grid over a data set on embedded Firebird, driven by keys
// and clicks as a user would: the services reached through the published
// actions' shortcuts, marks and their colours, levels and their path rows,
// the state column, sort markers, the calculator, duplication, the entry
// rules between columns, the service menu, the action states and printing.
#include "DBSGridEx.h"

#include "DBGridPrinter.h"
#include "Dialogs.h"
#include "Extcalc.h"
#include "InplaceEdit.h"
#include "Messages.h"
#include "PdfText.h"
#include "SDSFixture.h"
#include "SDataSource.h"
#include "ServiceActionsFixture.h"
#include "SysUtils.h"
#include "URecordMarker.h"
#include "uIterators.h"

#include <QApplication>
#include <QFile>
#include <QMainWindow>
#include <QMenu>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <functional>

namespace {

// A group with two leaves and two leaves at the root, ordered by SYS$ID.
const char* const Schema = R"(
CREATE TABLE GOODS (
  SYS$ID INTEGER NOT NULL PRIMARY KEY,
  SYS$PID INTEGER,
  SYS$STATE INTEGER,
  NAME VARCHAR(20),
  QTY INTEGER,
  PRICE DOUBLE PRECISION,
  SYS$TIME TIMESTAMP);
INSERT INTO GOODS VALUES (1, 0, 0, 'Еда', NULL, NULL, '2026-01-01 10:00:00');
INSERT INTO GOODS VALUES (10, 1, 1073741824, 'Хлеб', 12, 30.5, '2026-01-02 10:00:00');
INSERT INTO GOODS VALUES (11, 1, 1073741824, 'Соль', 7, 12.25, '2026-01-01 10:00:00');
INSERT INTO GOODS VALUES (20, 0, 1073741824, 'Чай', 3, 80, '2026-01-01 10:00:00');
INSERT INTO GOODS VALUES (21, 0, 1073741824, 'Кофе', 5, 120, '2026-01-01 10:00:00');
)";

class FrameworkGridTest : public TSDSFixture
{
public:
    void SetUp() override
    {
        FSavedSettings = FormatSettings();
        FormatSettings() = TFormatSettings();
        CreateAndConnect(Schema);
        TSDataSource::FilterDialog = [this](TSDataSource*, TField* field, TFieldFilters&) {
            FFilteredField = field ? field->FieldName() : QString();
            return false;
        };
        TSDataSource::RecordAttributesForm = [this](TSDataSource*) { ++FAttributesShown; };
    }
    void TearDown() override
    {
        FGrid.reset();
        TSDataSource::FilterDialog = nullptr;
        TSDataSource::RecordAttributesForm = nullptr;
        FormatSettings() = FSavedSettings;
    }

    // The grid over GOODS, flat or levelled, shown and focused.
    void Open(bool levels = false, const std::function<void(TDBSGridEx&)>& before = {})
    {
        FSDS = NewSDS(QStringLiteral("GOODS"), levels ? TSDSOptions{dsoLevels} : TSDSOptions{});
        FSDS->Open();
        FSource.SetDataSet(FSDS.get());
        FGrid = std::make_unique<TDBSGridEx>();
        FGrid->resize(640, 320);
        if (before)
            before(*FGrid);
        FGrid->SetDataSource(&FSource);
        // The form shows the key and the time beside the data.
        TDBGridColumns& columns = FGrid->Columns();
        columns.BeginUpdate();
        columns.Clear();
        for (const char* name : {"SYS$ID", "NAME", "QTY", "PRICE", "SYS$TIME"})
            columns.Add()->SetFieldName(QString::fromLatin1(name));
        columns.EndUpdate();
        FGrid->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FGrid.get()));
        FGrid->setFocus();
    }

    TDBSGridEx& Grid() { return *FGrid; }
    TSDS& Data() { return *FSDS; }
    TMemRecordMarker& Marker() { return *FSource.RecordMarker(); }
    int Id() { return FSDS->FieldByName("SYS$ID")->AsInteger(); }
    int Column(const char* field) { return Grid().ColumnByFieldName(QString::fromLatin1(field))->Index(); }
    void Go(int id, const char* column = "NAME")
    {
        ASSERT_TRUE(FSDS->Locate("SYS$ID", id));
        Grid().SetSelectedIndex(Column(column));
    }
    QWidget* KeyTarget()
    {
        if (TInplaceEditor* editor = Grid().InplaceEditor())
            return editor->focusProxy() ? editor->focusProxy() : editor;
        return FGrid.get();
    }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(KeyTarget(), key, modifiers);
    }
    // A point in the middle of a data cell, in grid coordinates.
    QPoint CellPoint(int row, int column)
    {
        const QRect rect = Grid().visualRect(Grid().GridModel()->index(row, column));
        return Grid().viewport()->mapTo(&Grid(), rect.center());
    }
    void Click(const QPoint& gridPos, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget* target = Grid().childAt(gridPos);
        QTest::mouseClick(target, Qt::LeftButton, modifiers, target->mapFrom(&Grid(), gridPos));
    }
    void DoubleClick(const QPoint& gridPos, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget* target = Grid().childAt(gridPos);
        QTest::mouseDClick(target, Qt::LeftButton, modifiers, target->mapFrom(&Grid(), gridPos));
    }
    QStringList Names()
    {
        QStringList names;
        const int column = Column("NAME");
        for (int row = 0; row < Grid().GridModel()->rowCount(); ++row)
            names << Grid().GridModel()->index(row, column).data().toString();
        return names;
    }

    TFormatSettings FSavedSettings;
    TScriptedDialogsGuard FDialogs;
    gridtest::TPublishedActions FActions;
    std::unique_ptr<TSDS> FSDS;
    TSDataSource FSource;
    std::unique_ptr<TDBSGridEx> FGrid;
    QString FFilteredField;
    int FAttributesShown = 0;
};

} // namespace

// ---------------------------------------------------------------- browse keys

TEST_F(FrameworkGridTest, BrowseKeysReachTheirServicesByThePublishedShortcuts)
{
    Open();
    struct Case
    {
        const char* Name;
        Qt::Key Key;
        Qt::KeyboardModifiers Mods;
        std::function<void(FrameworkGridTest&)> Check;
    };
    const std::vector<Case> cases{
        {"Shift+F3 marks", Qt::Key_F3, Qt::ShiftModifier,
         [](FrameworkGridTest& t) {
             EXPECT_TRUE(t.Marker().IsMarked());
             EXPECT_EQ(t.Marker().MarkedCount(), 1);
         }},
        {"Ctrl+F7 filters by the column", Qt::Key_F7, Qt::ControlModifier,
         [](FrameworkGridTest& t) { EXPECT_EQ(t.FFilteredField, "NAME"); }},
        {"Ctrl+F6 sorts by the column", Qt::Key_F6, Qt::ControlModifier,
         [](FrameworkGridTest& t) {
             EXPECT_TRUE(t.FSource.Sorting());
             EXPECT_EQ(t.Names(), (QStringList{"Еда", "Кофе", "Соль", "Хлеб", "Чай"}));
         }},
        {"Shift+F6 drops the sort", Qt::Key_F6, Qt::ShiftModifier,
         [](FrameworkGridTest& t) {
             EXPECT_FALSE(t.FSource.Sorting());
             EXPECT_EQ(t.Names(), (QStringList{"Еда", "Хлеб", "Соль", "Чай", "Кофе"}));
         }},
        {"Shift+F7 clears the filters", Qt::Key_F7, Qt::ShiftModifier,
         [](FrameworkGridTest& t) { EXPECT_TRUE(t.FSource.Filters().empty()); }},
        {"F2 edits with the editor open", Qt::Key_F2, Qt::NoModifier,
         [](FrameworkGridTest& t) {
             EXPECT_EQ(t.Data().State(), dsEdit);
             EXPECT_TRUE(t.Grid().EditorMode());
             t.Data().Cancel();
         }},
        {"F4 opens the record's attributes", Qt::Key_F4, Qt::NoModifier,
         [](FrameworkGridTest& t) { EXPECT_EQ(t.FAttributesShown, 1); }},
        {"Ctrl+Ins is copy, never an insert", Qt::Key_Insert, Qt::ControlModifier,
         [](FrameworkGridTest& t) { EXPECT_EQ(t.Data().State(), dsBrowse); }},
        {"Shift+Ins is paste, never an insert", Qt::Key_Insert, Qt::ShiftModifier,
         [](FrameworkGridTest& t) { EXPECT_EQ(t.Data().State(), dsBrowse); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Go(10);
        Key(c.Key, c.Mods);
        c.Check(*this);
    }
}

TEST_F(FrameworkGridTest, GroupKeysReachTheGroupOperationsOnlyWithAColumnAndTheirOption)
{
    Open();
    struct Case
    {
        const char* Name;
        Qt::Key Key;
        Qt::KeyboardModifiers Mods;
        TServiceOptions Without;
    };
    const std::vector<Case> cases{
        {"sum", Qt::Key_F4, Qt::ControlModifier | Qt::ShiftModifier, {srvSum}},
        {"count", Qt::Key_F5, Qt::ControlModifier, {srvCount}},
        {"group delete", Qt::Key_F9, Qt::ShiftModifier, {srvGroupDelete}},
        {"replace", Qt::Key_F10, Qt::ControlModifier, {srvGroupReplace}},
        {"fill", Qt::Key_F9, Qt::ControlModifier, {srvGroupReplace}},
        {"add", Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier, {srvGroupReplace}},
    };
    // The operation's entry clears this flag whenever it is reached.
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Go(10);
        OnlyMarkedGroupOperations = true;
        Key(c.Key, c.Mods);
        EXPECT_FALSE(OnlyMarkedGroupOperations) << "reached";
        Grid().SetServiceOptions(DefaultServiceOptions - c.Without);
        OnlyMarkedGroupOperations = true;
        Key(c.Key, c.Mods);
        EXPECT_TRUE(OnlyMarkedGroupOperations) << "option off";
        Grid().SetServiceOptions(DefaultServiceOptions);
    }
    // Ctrl with the main row's + is no keypad key.
    OnlyMarkedGroupOperations = true;
    Key(Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_TRUE(OnlyMarkedGroupOperations);

    // No column selected: no operation, no sort, no filter.
    Grid().Columns().BeginUpdate();
    for (int c = 0; c < Grid().Columns().Count(); ++c)
        Grid().Columns()[c]->SetVisible(false);
    Grid().Columns().Clear();
    Grid().Columns().EndUpdate();
    ASSERT_EQ(Grid().SelectedField(), nullptr);
    OnlyMarkedGroupOperations = true;
    Key(Qt::Key_F4, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(OnlyMarkedGroupOperations);
    Key(Qt::Key_F6, Qt::ControlModifier);
    EXPECT_FALSE(FSource.Sorting());
    Key(Qt::Key_F7, Qt::ControlModifier);
    EXPECT_TRUE(FFilteredField.isEmpty());
    OnlyMarkedGroupOperations = false;
}

TEST_F(FrameworkGridTest, RangeMarkingAndTheirColoursFollowThePaintedRow)
{
    Open();
    Go(10);
    Key(Qt::Key_F4, Qt::ShiftModifier);
    Go(20);
    Key(Qt::Key_F4, Qt::ShiftModifier);
    EXPECT_EQ(Marker().MarkedCount(), 3);
    Go(1);
    TDBGridModel& model = *Grid().GridModel();
    const int name = Column("NAME");
    EXPECT_NE(model.CellParams(0, name, false).Background, MarkedRowColor()); // Еда, not marked
    for (int row = 1; row <= 3; ++row)
        EXPECT_EQ(model.CellParams(row, name, false).Background, MarkedRowColor()) << row;
    EXPECT_NE(model.CellParams(4, name, false).Background, MarkedRowColor());

    // The focused cell of a marked record keeps the focus colours; a
    // highlighted cell elsewhere in it shows the mark with black text.
    Go(11);
    const TCellParams focused = model.CellParams(2, name, true);
    EXPECT_FALSE(focused.Background.isValid());
    const TCellParams other = model.CellParams(2, Column("QTY"), true);
    EXPECT_EQ(other.Background, MarkedRowColor());
    EXPECT_EQ(other.Foreground, QColor(Qt::black));
}

TEST_F(FrameworkGridTest, InsertKeyPutsTheNewRecordDirectlyAfterTheCurrentOne)
{
    Open();
    Go(11);
    Key(Qt::Key_Insert);
    ASSERT_EQ(Data().State(), dsInsert);
    EXPECT_EQ(Grid().Row(), 3); // below Соль, the third row
    EXPECT_EQ(Grid().SelectedIndex(), 0);
    EXPECT_TRUE(Grid().EditorMode());
    Data().Cancel();
    EXPECT_EQ(Id(), 20); // the insert was before the next record

    Go(21);
    Key(Qt::Key_Insert);
    ASSERT_EQ(Data().State(), dsInsert);
    EXPECT_EQ(Grid().Row(), 5); // appended
    Data().Cancel();

    // Refused: the current record stays current.
    Grid().SetAllowedOperations({alopUpdateEx, alopDeleteEx, alopAppendEx});
    Go(11);
    Key(Qt::Key_Insert);
    EXPECT_EQ(Data().State(), dsBrowse);
    EXPECT_EQ(Id(), 11);
}

TEST_F(FrameworkGridTest, FrozenRecordKeysNeitherAppendNorLeaveTheEditedRecord)
{
    Open();
    Go(21);
    Key(Qt::Key_Down);
    EXPECT_EQ(Data().State(), dsBrowse);
    Grid().SetSelectedIndex(Grid().LastVisibleColumn());
    Key(Qt::Key_Tab);
    EXPECT_EQ(Data().State(), dsBrowse);
    EXPECT_EQ(Grid().GridModel()->rowCount(), 5);

    // Without the option the base grid appends.
    Grid().SetServiceOptions(DefaultServiceOptions - TServiceOptions{srvFrozenOnEdit});
    Key(Qt::Key_Down);
    EXPECT_EQ(Data().State(), dsInsert);
    Data().Cancel();
    Grid().SetServiceOptions(DefaultServiceOptions);

    Go(10);
    Key(Qt::Key_F2);
    ASSERT_EQ(Data().State(), dsEdit);
    for (Qt::Key key : {Qt::Key_Down, Qt::Key_Up, Qt::Key_PageDown, Qt::Key_PageUp}) {
        Key(key);
        EXPECT_EQ(Data().State(), dsEdit);
        EXPECT_EQ(Id(), 10);
    }
    // A click on another row is ignored while editing.
    Click(CellPoint(3, Column("NAME")));
    EXPECT_EQ(Data().State(), dsEdit);
    EXPECT_EQ(Id(), 10);
    Data().Cancel();
}

// ---------------------------------------------------------------- edit keys

TEST_F(FrameworkGridTest, EditKeysPostDuplicateAndAskBeforeCancelling)
{
    Open();
    Go(11, "NAME");
    Key(Qt::Key_F2);
    ASSERT_EQ(Data().State(), dsEdit);
    // F12: the value of the row above, then the next column.
    Key(Qt::Key_F12);
    EXPECT_EQ(Data().FieldByName("NAME")->AsString(), "Хлеб");
    EXPECT_EQ(Grid().SelectedIndex(), Column("QTY"));

    // Esc on a changed record asks; No keeps editing, Yes cancels.
    FDialogs->Answers = {mrNo};
    Key(Qt::Key_Escape);
    ASSERT_EQ(FDialogs->Messages.size(), 1u);
    EXPECT_EQ(FDialogs->Messages.back().Text, "Отменить корректировку записи ?");
    EXPECT_EQ(Data().State(), dsEdit);
    FDialogs->Answers = {mrYes};
    Key(Qt::Key_Escape);
    EXPECT_EQ(Data().State(), dsBrowse);
    EXPECT_EQ(Data().FieldByName("NAME")->AsString(), "Соль");

    // Esc on an untouched record with the editor shown does not ask.
    FDialogs->Messages.clear();
    Key(Qt::Key_F2);
    ASSERT_TRUE(Grid().EditorMode());
    Key(Qt::Key_Escape);
    EXPECT_TRUE(FDialogs->Messages.empty());
    EXPECT_EQ(Data().State(), dsBrowse);

    // Ctrl+F12 copies the columns from the selected one rightwards, never
    // the system columns; F5 posts.
    Go(11, "NAME");
    Key(Qt::Key_F2);
    Key(Qt::Key_F12, Qt::ControlModifier);
    EXPECT_EQ(Data().FieldByName("NAME")->AsString(), "Хлеб");
    EXPECT_EQ(Data().FieldByName("QTY")->AsInteger(), 12);
    EXPECT_DOUBLE_EQ(Data().FieldByName("PRICE")->AsFloat(), 30.5);
    EXPECT_EQ(Data().FieldByName("SYS$ID")->AsInteger(), 11);
    EXPECT_EQ(Data().FieldByName("SYS$STATE")->AsInteger(), 1073741824);
    Key(Qt::Key_F5);
    EXPECT_EQ(Data().State(), dsBrowse);
    Data().Reload();
    ASSERT_TRUE(Data().Locate("SYS$ID", 11));
    EXPECT_EQ(Data().FieldByName("QTY")->AsInteger(), 12);
}

TEST_F(FrameworkGridTest, SystemColumnsShownByTheFormAreNeverDuplicated)
{
    Open();
    Go(11, "SYS$TIME");
    const QString time = Data().FieldByName("SYS$TIME")->AsString();
    Key(Qt::Key_F2);
    ASSERT_EQ(Data().State(), dsEdit);
    Key(Qt::Key_F12);
    EXPECT_EQ(Data().FieldByName("SYS$TIME")->AsString(), time);
    Grid().SetSelectedIndex(Column("SYS$ID"));
    Key(Qt::Key_F12, Qt::ControlModifier);
    EXPECT_EQ(Data().FieldByName("SYS$ID")->AsInteger(), 11);
    EXPECT_EQ(Data().FieldByName("SYS$TIME")->AsString(), time);
    EXPECT_EQ(Data().FieldByName("NAME")->AsString(), "Хлеб"); // the data columns are copied
    Data().Cancel();
}

TEST_F(FrameworkGridTest, EnteringTheLastColumnWithoutATabStopPostsTheRecord)
{
    Open();
    TDBGridColumns& columns = Grid().Columns();
    const int last = Grid().LastVisibleColumn();
    columns[last]->SetTabStop(false);
    Go(10, "PRICE");
    Key(Qt::Key_F2);
    ASSERT_EQ(Data().State(), dsEdit);
    QTest::keyClicks(KeyTarget(), QStringLiteral("31"));
    Grid().SetSelectedIndex(last);
    EXPECT_EQ(Data().State(), dsBrowse);
    Data().Reload();
    ASSERT_TRUE(Data().Locate("SYS$ID", 10));
    EXPECT_DOUBLE_EQ(Data().FieldByName("PRICE")->AsFloat(), 31);

    // Enter in the last visible column posts too.
    Go(20, "NAME");
    Key(Qt::Key_F2);
    Grid().SetSelectedIndex(Column("PRICE"));
    columns[last]->SetTabStop(true);
    Grid().SetSelectedIndex(last);
    ASSERT_EQ(Data().State(), dsEdit);
    Key(Qt::Key_Return);
    EXPECT_EQ(Data().State(), dsBrowse);
    EXPECT_FALSE(Grid().EditorMode());
}

TEST_F(FrameworkGridTest, LeftWhileEditingGoesToThePreviousEditableColumnFromTheCaretsStart)
{
    Open();
    Go(10, "SYS$TIME");
    Grid().Columns()[Column("PRICE")]->SetTabStop(false);
    Key(Qt::Key_F2);
    ASSERT_TRUE(Grid().EditorMode());
    Key(Qt::Key_Left); // a date's caret stands at its start
    EXPECT_EQ(Grid().SelectedIndex(), Column("QTY"));
    Data().Cancel();
}

// ---------------------------------------------------------------- levels and the state column

TEST_F(FrameworkGridTest, LevelKeysClicksPathRowsAndTheStateColumn)
{
    Open(true, [](TDBSGridEx& grid) { grid.SetShowState(true); });
    const int state = 0;
    EXPECT_EQ(Grid().Columns()[state]->FieldName(), "SYS$STATE");
    EXPECT_EQ(Grid().FrozenCols(), 1);
    EXPECT_EQ(Grid().GridModel()->index(0, state).data().toString(), "+"); // Еда is a group
    EXPECT_EQ(Grid().GridModel()->index(1, state).data().toString(), "");
    EXPECT_EQ(Grid().FixedRowCount(), 0);

    Go(1);
    Key(Qt::Key_Return);
    ASSERT_EQ(Data().LevelCount(), 2);
    EXPECT_EQ(Grid().FixedRowCount(), 1);
    EXPECT_EQ(Names(), (QStringList{"Хлеб", "Соль"}));
    EXPECT_EQ(Grid().FixedCellText(0, Grid().ColumnByFieldName("NAME")), "Еда");

    // Esc goes up; a click on the path row too.
    Key(Qt::Key_Escape);
    EXPECT_EQ(Data().LevelCount(), 1);
    EXPECT_EQ(Grid().FixedRowCount(), 0);
    Go(1);
    DoubleClick(CellPoint(0, Column("NAME")));
    ASSERT_EQ(Data().LevelCount(), 2);
    EXPECT_EQ(Marker().MarkedCount(), 0); // entering is no mark
    const QPoint pathRow(CellPoint(0, Column("NAME")).x(),
                         Grid().TitleHeader()->geometry().top() + Grid().TitleHeader()->TitleHeight() + 3);
    Click(pathRow);
    EXPECT_EQ(Data().LevelCount(), 1);

    // A double click on a leaf marks it; with Ctrl a group is marked, not entered.
    Go(20);
    DoubleClick(CellPoint(1, Column("NAME")));
    EXPECT_EQ(Marker().MarkedCount(), 1);
    DoubleClick(CellPoint(0, Column("NAME")), Qt::ControlModifier);
    EXPECT_EQ(Data().LevelCount(), 1);
    EXPECT_EQ(Marker().MarkedCount(), 2);

    // F3: flat with the same record current, then levelled again.
    Go(1);
    Key(Qt::Key_Return);
    Go(11);
    Key(Qt::Key_F3);
    EXPECT_EQ(Data().LevelMode(), dslmShowAll);
    EXPECT_EQ(Id(), 11);
    EXPECT_EQ(Grid().FixedRowCount(), 0);
    Key(Qt::Key_F3);
    EXPECT_EQ(Data().LevelMode(), dslmDefault);
}

TEST_F(FrameworkGridTest, SortMarkersShowTheCurrentIndexFields)
{
    Open();
    auto marker = [this](const char* field) {
        const TColumnTitle& title = Grid().ColumnByFieldName(QString::fromLatin1(field))->Title();
        return std::pair(title.SortMarker(), title.SortIndex());
    };
    EXPECT_EQ(marker("SYS$ID"), std::pair(smDown, 1));
    EXPECT_EQ(marker("NAME"), std::pair(smNone, 0));
    Go(10, "NAME");
    Key(Qt::Key_F6, Qt::ControlModifier);
    const QStringList order = FSource.GetIndexFieldNames().split(u';');
    EXPECT_EQ(marker("NAME"), std::pair(smDown, int(order.indexOf(QStringLiteral("NAME"))) + 1));
    Key(Qt::Key_F6, Qt::ShiftModifier);
    EXPECT_EQ(marker("NAME"), std::pair(smNone, 0));
    EXPECT_EQ(marker("SYS$ID"), std::pair(smDown, 1));
}

// ---------------------------------------------------------------- the calculator

TEST_F(FrameworkGridTest, CalculatorKeysSendCellsAndTakeTheResultBack)
{
    Open();
    CalcConfirmReplace = true;
    Go(10, "QTY");
    Key(Qt::Key_F1, Qt::AltModifier); // shows the calculator, starting it afresh below
    AddToCalculator(QStringLiteral("0"), u'+');
    const long double start = GetCalculatorValue();
    Key(Qt::Key_Plus, Qt::AltModifier | Qt::KeypadModifier);
    Go(11, "QTY");
    Key(Qt::Key_Plus, Qt::AltModifier | Qt::KeypadModifier);
    EXPECT_DOUBLE_EQ(static_cast<double>(GetCalculatorValue() - start), 19.0);

    // Alt+Enter asks, then writes the rounded result.
    Go(20, "QTY");
    FDialogs->Answers = {mrYes};
    Key(Qt::Key_Return, Qt::AltModifier);
    ASSERT_FALSE(FDialogs->Messages.empty());
    EXPECT_TRUE(FDialogs->Messages.back().Text.startsWith("Заменить значение поля \"QTY\" на значение "));
    EXPECT_EQ(Data().State(), dsBrowse);
    EXPECT_EQ(Data().FieldByName("QTY")->AsInteger(), static_cast<int>(std::nearbyint(GetCalculatorValue())));

    // A date or other field beeps.
    const int beeps = FDialogs->Beeps;
    Go(20, "SYS$TIME");
    Key(Qt::Key_Minus, Qt::AltModifier);
    EXPECT_EQ(FDialogs->Beeps, beeps + 1);
}

TEST_F(FrameworkGridTest, CalculatorResultOutOfAnIntegersRangeIsRefusedAndSaid)
{
    Open();
    CalcConfirmReplace = false;
    Go(20, "PRICE");
    AddToCalculator(QStringLiteral("1e12"), u'+');
    Go(20, "QTY");
    FDialogs->Messages.clear();
    Key(Qt::Key_Return, Qt::AltModifier);
    EXPECT_EQ(Data().State(), dsBrowse);
    EXPECT_EQ(Data().FieldByName("QTY")->AsInteger(), 3);
    ASSERT_EQ(FDialogs->Messages.size(), 1u);
    EXPECT_TRUE(FDialogs->Messages[0].Text.contains("QTY")) << FDialogs->Messages[0].Text.toStdString();

    Go(20, "QTY");
    Key(Qt::Key_F2);
    EXPECT_THROW(Grid().AssignCalculatorValue(std::numeric_limits<long double>::infinity()), Exception);
    EXPECT_EQ(Data().FieldByName("QTY")->AsInteger(), 3);
    Data().Cancel();
    CalcConfirmReplace = true;
}

// ---------------------------------------------------------------- shortcuts, focus, indicator

TEST_F(FrameworkGridTest, WindowShortcutsDoNotTakeTheGridsKeys)
{
    QMainWindow window;
    int triggered = 0;
    QAction windowMark(QStringLiteral("mark"), &window);
    windowMark.setShortcut(QKeySequence(Qt::ShiftModifier | Qt::Key_F3));
    QObject::connect(&windowMark, &QAction::triggered, [&] { ++triggered; });
    window.addAction(&windowMark);
    Open();
    Grid().setParent(&window);
    window.setCentralWidget(&Grid());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    Grid().setFocus();
    Go(10);
    Key(Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(triggered, 0);
    EXPECT_EQ(Marker().MarkedCount(), 1);
    Grid().setParent(nullptr);
}

TEST_F(FrameworkGridTest, FocusMessageNamesTheGridOnlyWhileItLives)
{
    Open();
    const intptr_t address = reinterpret_cast<intptr_t>(&Grid());
    EXPECT_EQ(TDBSGridEx::FromMessage(address), &Grid());
    FGrid.reset();
    EXPECT_EQ(TDBSGridEx::FromMessage(address), nullptr);
}

TEST_F(FrameworkGridTest, IndicatorClickEditsAndAnotherPostsWhileEditing)
{
    Open();
    Go(10);
    const QPoint indicator = Grid().verticalHeader()->mapTo(
        &Grid(), QPoint(Grid().verticalHeader()->width() / 2, Grid().verticalHeader()->sectionViewportPosition(1) + 4));
    Click(indicator);
    EXPECT_EQ(Data().State(), dsEdit);
    Data().FieldByName("QTY")->SetAsInteger(99);
    Click(indicator);
    EXPECT_EQ(Data().State(), dsBrowse);
    EXPECT_EQ(Data().FieldByName("QTY")->AsInteger(), 99);
}

// ---------------------------------------------------------------- the service menu

namespace {

QStringList Captions(const QMenu& menu)
{
    QStringList captions;
    for (QAction* action : menu.actions())
        // An item's text may name its key after a tab.
        captions << (action->isSeparator() ? QStringLiteral("-") : action->text().section(QLatin1Char('\t'), 0, 0));
    return captions;
}

} // namespace

TEST_F(FrameworkGridTest, ServiceMenuIsBuiltAtEachOpeningForTheGridsState)
{
    Open(true);
    QMenu& menu = *Grid().PopupMenu();
    Go(20);
    Grid().BuildServiceMenu(menu);
    const QStringList browsing = Captions(menu);
    EXPECT_EQ(browsing, (QStringList{"Копировать в буфер",
                                     "Добавление записи",
                                     "Корректировка записи",
                                     "Удаление записи",
                                     "Атрибуты записи",
                                     "-",
                                     "&Отметить запись",
                                     "Отметить начало/конец группы",
                                     "Отметить/НЕотметить ВСЕ строки",
                                     "-",
                                     "&Поиск",
                                     "&Сумма по графе",
                                     "Кол-во строк",
                                     "Сортировка",
                                     "Отмена сортировки",
                                     "&Фильтр",
                                     "Отменить фильтр",
                                     "-",
                                     "Групповые корректировки",
                                     "-",
                                     "Печать формы",
                                     "Экспорт в MS Excel",
                                     "-",
                                     "Уровневый-плоский",
                                     "Параметры отображения таблицы"}));
    QMenu* group = menu.actions()[18]->menu();
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(Captions(*group), (QStringList{"Групповое удаление", "Групповая замена", "Групповое заполнение",
                                             "Добавить к графе значение", "Умножить графу на значение"}));
    // Again: the same items, not twice.
    Grid().BuildServiceMenu(menu);
    EXPECT_EQ(Captions(menu), browsing);

    // Editing: the edit items only.
    Go(20);
    Key(Qt::Key_F2);
    Grid().BuildServiceMenu(menu);
    EXPECT_EQ(Captions(menu), (QStringList{"Копировать в буфер", "-", "Завершить ввод/корректировку", "Удаление записи",
                                           "Дублирование поля", "Дублирование полей справа", "Атрибуты записи"}));
    Data().Cancel();

    // Without permissions and options the items go.
    Grid().SetReadOnly(true);
    Grid().SetServiceOptions({srvDontToggleLevels, srvDontCustomize});
    Grid().BuildServiceMenu(menu);
    EXPECT_EQ(Captions(menu), (QStringList{"Копировать в буфер", "Атрибуты записи", "-", "&Поиск", "&Сумма по графе",
                                           "Кол-во строк", "-", "-", "-"}));
}

TEST_F(FrameworkGridTest, ServiceMenuItemsShowThePicturesOfTheirImageIndexes)
{
    Open(true);
    QMenu& menu = *Grid().PopupMenu();
    Grid().BuildServiceMenu(menu);
    const QList<QIcon>& images = *ActionImageList();
    QList<QAction*> items = menu.actions();
    for (QAction* item : menu.actions())
        if (item->menu())
            items << item->menu()->actions();
    QStringList pictured;
    for (QAction* item : items) {
        auto* action = qobject_cast<TAction*>(item);
        if (!action)
            continue;
        SCOPED_TRACE(action->Caption().toStdString());
        if (action->ImageIndex() < 0) {
            EXPECT_TRUE(action->icon().isNull());
            continue;
        }
        ASSERT_LT(action->ImageIndex(), images.size());
        EXPECT_FALSE(action->icon().isNull());
        EXPECT_EQ(action->icon().cacheKey(), images[action->ImageIndex()].cacheKey());
        pictured << action->objectName();
    }
    // The record, mark, search, sort, filter and print services have pictures; the group ones have none.
    EXPECT_EQ(pictured,
              (QStringList{"RecordInsertAction1", "RecordEditAction1", "RecordDeleteAction1", "RecordAttributesAction1",
                           "RecordMarkAction1", "RecordMarkGroupAction1", "RecordMarkAllAction1", "FindAction1",
                           "SumAction1", "RecordCountAction1", "SortAction1", "SortCancelAction1", "FilterAction1",
                           "FilterCancelAction1", "StdPrintAction1", "StdExcelAction1", "GridCustomizeAction1"}));
}

TEST_F(FrameworkGridTest, ServiceItemsGoIntoTheFormsOwnMenuOrTheColumnsMenu)
{
    Open();
    QMenu formMenu;
    formMenu.addAction(QStringLiteral("Своё"));
    Grid().SetPopupMenu(&formMenu);
    QMenu columnMenu;
    Grid().ColumnByFieldName(QStringLiteral("QTY"))->SetPopupMenu(&columnMenu);

    Grid().ShowServiceMenu(CellPoint(1, Column("NAME")));
    EXPECT_EQ(Captions(formMenu).mid(0, 3), (QStringList{"Своё", "-", "Копировать в буфер"}));
    EXPECT_TRUE(columnMenu.actions().isEmpty());
    formMenu.hide();
    const int formItems = int(formMenu.actions().size());
    Grid().ShowServiceMenu(CellPoint(1, Column("QTY")));
    EXPECT_EQ(Grid().PopupColumn(), Grid().ColumnByFieldName(QStringLiteral("QTY")));
    EXPECT_EQ(Captions(columnMenu).value(0), "Копировать в буфер");
    EXPECT_EQ(int(formMenu.actions().size()), formItems);
    columnMenu.hide();

    // Null brings the grid's own menu back.
    Grid().SetPopupMenu(nullptr);
    ASSERT_NE(Grid().PopupMenu(), nullptr);
    EXPECT_NE(Grid().PopupMenu(), &formMenu);
}

TEST_F(FrameworkGridTest, GridWithoutItsOwnMenuTakesNoForeignOne)
{
    Open(false, [](TDBSGridEx& grid) {
        grid.SetServiceOptions(DefaultServiceOptions + TServiceOptions{srvDontCreatePopupMenu});
    });
    EXPECT_EQ(Grid().PopupMenu(), nullptr);
    QMenu formMenu;
    Grid().SetPopupMenu(&formMenu);
    EXPECT_EQ(Grid().PopupMenu(), nullptr);
    Grid().ShowServiceMenu(CellPoint(1, Column("NAME")));
    EXPECT_TRUE(formMenu.actions().isEmpty());
}

// ---------------------------------------------------------------- action states

TEST_F(FrameworkGridTest, ActionStatesFollowTheGridsStateOptionsAndPermissions)
{
    Open(true);
    const TServiceActions& a = *FActions;
    struct Case
    {
        TAction* Action;
        bool Browsing;
        bool Editing;
        bool ReadOnlyGrid;
    };
    const std::vector<Case> cases{
        {a.RecordMarkAction1, true, false, true},
        {a.FindAction1, true, false, true},
        {a.GroupReplaceAction1, true, false, false},
        {a.SumAction1, true, false, true},
        {a.GroupDeleteAction1, true, false, false},
        {a.FilterAction1, true, false, true},
        {a.SortCancelAction1, true, false, true},
        {a.StdPrintAction1, true, false, true},
        {a.RecordEditAction1, true, false, false},
        {a.RecordPostAction1, false, true, false},
        {a.RecordInsertAction1, true, false, false},
        {a.RecordDeleteAction1, true, true, false},
        {a.RecordDoubleFieldAction1, false, true, false},
        {a.RecordAttributesAction1, true, true, true},
        {a.TougleLevelsAction1, true, true, true},
        {a.CallRefAction1, false, false, false},
        {a.REditCopy1, true, true, true},
        {a.REditPaste1, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Action->text().toStdString());
        Go(20);
        EXPECT_TRUE(Grid().UpdateAction(*c.Action));
        EXPECT_EQ(c.Action->Enabled(), c.Browsing);
        Data().Edit();
        Grid().UpdateAction(*c.Action);
        EXPECT_EQ(c.Action->Enabled(), c.Editing);
        Data().Cancel();
        Grid().SetReadOnly(true);
        Grid().UpdateAction(*c.Action);
        EXPECT_EQ(c.Action->Enabled(), c.ReadOnlyGrid);
        Grid().SetReadOnly(false);
    }
    TAction foreign;
    EXPECT_FALSE(Grid().UpdateAction(foreign));
    Grid().SetServiceOptions({});
    Grid().UpdateAction(*a.RecordMarkAction1);
    EXPECT_FALSE(a.RecordMarkAction1->Enabled());
}

// ---------------------------------------------------------------- printing

namespace {

class PrintTest : public FrameworkGridTest
{
protected:
    void SetUp() override
    {
        FrameworkGridTest::SetUp();
        ASSERT_TRUE(FDir.isValid());
        TDBSGridEx::PrintOut = [this](TDBGridPrinter& printer, bool preview, QWidget*) {
            FPreviews << preview;
            FOrientations << printer.Orientation();
            const QString file = FDir.filePath(QStringLiteral("grid%1.pdf").arg(FTexts.size()));
            printer.PrintToPdf(file);
            QFile pdf(file);
            EXPECT_TRUE(pdf.open(QIODevice::ReadOnly));
            FTexts << pdftest::PdfText(pdf.readAll());
            FColoured << printer.UseCellParams();
        };
    }
    void TearDown() override
    {
        TDBSGridEx::PrintOut = FSavedPrintOut;
        FrameworkGridTest::TearDown();
    }

    std::function<void(TDBGridPrinter&, bool, QWidget*)> FSavedPrintOut = TDBSGridEx::PrintOut;
    QTemporaryDir FDir;
    QStringList FTexts;
    QList<bool> FPreviews;
    QList<bool> FColoured;
    QList<QPageLayout::Orientation> FOrientations;
};

} // namespace

TEST_F(PrintTest, PrintKeyPrintsWithTheFormsSettingsAndTheirResetsBetweenPrints)
{
    Open();
    QList<int> asked;
    bool condensed = true;
    Grid().GetPrintParams = [&](QObject*, int paramNo, Variant& value) {
        asked << paramNo;
        switch (paramNo) {
        case 0: value = false; break;
        case 10: value = QStringLiteral("Остатки"); break;
        case 100: value = QStringLiteral("Товары на складе"); break;
        case 120: value = QStringLiteral("Перед таблицей"); break;
        case 7: value = condensed; break;
        default: break;
        }
    };
    Go(10);
    Key(Qt::Key_F6);
    ASSERT_EQ(FTexts.size(), 1);
    EXPECT_EQ(asked, (QList<int>{0, 1, 10, 100, 120, 130, 7}));
    EXPECT_FALSE(FPreviews[0]);
    for (const char* text : {"Остатки", "Стр. 1", "Товары на складе", "Перед таблицей", "Хлеб", "Кофе"})
        EXPECT_TRUE(FTexts[0].contains(QString::fromUtf8(text))) << text;
    EXPECT_FALSE(FColoured[0]);

    // The next print without the condensed answer has its colours back.
    condensed = false;
    Key(Qt::Key_F6);
    ASSERT_EQ(FColoured.size(), 2);
    EXPECT_TRUE(FColoured[1]);

    // A second grid without a handler prints with what the first left.
    TDBSGridEx other;
    other.SetDataSource(&FSource);
    other.resize(300, 200);
    other.PrintGrid();
    ASSERT_EQ(FTexts.size(), 3);
    EXPECT_TRUE(FPreviews[2]);
    EXPECT_TRUE(FTexts[2].contains(QStringLiteral("Товары на складе")));
    EXPECT_TRUE(FTexts[2].contains(QStringLiteral("Остатки")));

    // Without srvPrint the key prints nothing.
    Grid().SetServiceOptions(DefaultServiceOptions - TServiceOptions{srvPrint});
    Key(Qt::Key_F6);
    EXPECT_EQ(FTexts.size(), 3);
}

TEST_F(PrintTest, GridWiderThanThePageIsPrintedInLandscape)
{
    Open();
    Grid().PrintGrid();
    Grid().Columns().BeginUpdate();
    for (int c = 0; c < Grid().Columns().Count(); ++c)
        Grid().Columns()[c]->SetWidth(400);
    Grid().Columns().EndUpdate();
    Grid().PrintGrid();
    ASSERT_EQ(FOrientations.size(), 2);
    EXPECT_EQ(FOrientations[0], QPageLayout::Portrait);
    EXPECT_EQ(FOrientations[1], QPageLayout::Landscape);
}

// ---------------------------------------------------------------- pictures

TEST_F(FrameworkGridTest, ScreenshotsSavedWhereTheEnvironmentSays)
{
    const QString gridPath = qEnvironmentVariable("FRAMEWORK_GRID_SCREENSHOT");
    const QString menuPath = qEnvironmentVariable("SERVICE_MENU_SCREENSHOT");
    if (gridPath.isEmpty() && menuPath.isEmpty())
        GTEST_SKIP() << "FRAMEWORK_GRID_SCREENSHOT and SERVICE_MENU_SCREENSHOT are not set";
    // A group inside Еда shows the state column's "+".
    FTestDb.Execute(QStringLiteral("INSERT INTO GOODS VALUES (12, 1, 0, 'Выпечка', NULL, NULL, NULL)"));
    Open(true, [](TDBSGridEx& grid) { grid.SetShowState(true); });
    Go(1);
    Key(Qt::Key_Return); // into Еда: a path row
    Go(10, "NAME");
    Key(Qt::Key_F3, Qt::ShiftModifier); // Хлеб marked
    Go(11, "QTY");
    QApplication::processEvents();
    if (!gridPath.isEmpty()) {
        ASSERT_TRUE(Grid().grab().save(gridPath)) << gridPath.toStdString();
    }
    if (menuPath.isEmpty())
        return;
    // The menu is a window of its own: the picture puts it over the grid.
    const QPoint at = CellPoint(1, Column("NAME"));
    Grid().ShowServiceMenu(at);
    QMenu& menu = *Grid().PopupMenu();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    QAction* group = nullptr;
    for (QAction* action : menu.actions())
        if (action->menu())
            group = action;
    ASSERT_NE(group, nullptr);
    menu.setActiveAction(group);
    QMenu* sub = group->menu();
    sub->popup(menu.mapToGlobal(menu.actionGeometry(group).topRight()));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sub));
    const QPoint menuAt = at + QPoint(2, 2);
    const QPoint subAt = menuAt + menu.actionGeometry(group).topRight();
    QImage picture(std::max(Grid().width(), subAt.x() + sub->width()) + 4,
                   std::max({Grid().height(), menuAt.y() + menu.height(), subAt.y() + sub->height()}) + 4,
                   QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.drawPixmap(0, 0, Grid().grab());
    painter.drawPixmap(menuAt, menu.grab());
    painter.drawPixmap(subAt, sub->grab());
    painter.end();
    sub->hide();
    menu.hide();
    ASSERT_TRUE(picture.save(menuPath)) << menuPath.toStdString();
}
