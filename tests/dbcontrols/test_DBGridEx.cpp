// The data grid over a data set: the model follows the data set, the keys
// edit, post, cancel, append and insert as a data-entry user expects, and the
// grid's columns, fixed rows, frozen columns and colour hooks.
#include "GridFixture.h"

#include "DBGridSearch.h"
#include "Dialogs.h"
#include "Exceptions.h"
#include "QtPrinters.h"

#include <QCalendarWidget>
#include <QComboBox>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>

using namespace gridtest;

namespace {

const int IdColumn = 0;
const int NameColumn = 1;
const int PriceColumn = 2;

// ---------------------------------------------------------------- the model

TEST_F(GridTest, DefaultColumnsShowTheVisibleFieldsWithTheirLabels)
{
    ASSERT_EQ(Grid().Columns().Count(), 4);
    EXPECT_EQ(Grid().Columns()[NameColumn]->Field(), &Field("NAME"));
    EXPECT_EQ(Model().headerData(NameColumn, Qt::Horizontal, Qt::DisplayRole).toString(), "NAME");
    // Numbers stand to the right, texts to the left.
    EXPECT_EQ(Grid().Columns()[PriceColumn]->Alignment(), Qt::AlignRight);
    EXPECT_EQ(Grid().Columns()[NameColumn]->Alignment(), Qt::AlignLeft);

    Field("NAME").SetDisplayLabel(QStringLiteral("Наименование"));
    Field("DT").SetVisible(false); // a layout change rebuilds the default columns
    ASSERT_EQ(Grid().Columns().Count(), 3);
    EXPECT_EQ(Model().headerData(NameColumn, Qt::Horizontal, Qt::DisplayRole).toString(), "Наименование");
}

TEST_F(GridTest, ModelReadsTheRowsOfTheDataSetWithoutMovingIt)
{
    EXPECT_EQ(Model().rowCount(), 3);
    EXPECT_EQ(Column(NameColumn), QStringList({"Хлеб", "Молоко", "Соль"}));
    EXPECT_EQ(Table().RecNo(), 1);
    EXPECT_EQ(Grid().currentIndex().row(), 0);
}

TEST_F(GridTest, ModelFollowsInsertsDeletesAndFilters)
{
    Table().Last();
    Table().Append();
    EXPECT_EQ(Model().rowCount(), 4); // the new row shows before it is posted
    EXPECT_EQ(Model().headerData(3, Qt::Vertical, Qt::DisplayRole).toString(), "*");
    Field("ID").SetAsInteger(4);
    Field("NAME").SetAsString(QStringLiteral("Сахар"));
    EXPECT_EQ(Cell(3, NameColumn), "Сахар");
    Table().Post();
    EXPECT_EQ(Column(NameColumn), QStringList({"Хлеб", "Молоко", "Соль", "Сахар"}));

    // Insert puts the new row before the current one; the rows below move down.
    Table().First();
    Table().Next();
    Table().Insert();
    EXPECT_EQ(Column(NameColumn), QStringList({"Хлеб", "", "Молоко", "Соль", "Сахар"}));
    EXPECT_EQ(Grid().currentIndex().row(), 1);
    Table().Cancel();
    EXPECT_EQ(Model().rowCount(), 4);

    Table().First();
    Table().Delete();
    EXPECT_EQ(Column(NameColumn), QStringList({"Молоко", "Соль", "Сахар"}));

    Table().SetFilter(QStringLiteral("PRICE > 10"));
    Table().SetFiltered(true);
    EXPECT_EQ(Column(NameColumn), QStringList({"Молоко"}));
    Table().SetFiltered(false);
    EXPECT_EQ(Model().rowCount(), 3);

    Table().Close();
    EXPECT_EQ(Model().rowCount(), 0);
    EXPECT_EQ(Grid().Columns().Count(), 0);
}

TEST_F(GridTest, ViewAndDataSetCursorMoveTogether)
{
    Table().Last();
    EXPECT_EQ(Grid().currentIndex().row(), 2);
    EXPECT_EQ(Model().headerData(2, Qt::Vertical, Qt::DisplayRole).toString(), QString(QChar(0x25B6)));
    EXPECT_TRUE(Model().headerData(0, Qt::Vertical, Qt::DisplayRole).toString().isEmpty());

    Grid().setCurrentIndex(Model().index(1, NameColumn));
    EXPECT_EQ(Table().RecNo(), 2);
    Key(Qt::Key_Up);
    EXPECT_EQ(Table().RecNo(), 1);
    EXPECT_EQ(Grid().SelectedField(), &Field("NAME"));
}

// Records what the indicator column is asked to repaint.
class TRepaintedRegion : public QObject
{
public:
    explicit TRepaintedRegion(QWidget* widget) { widget->installEventFilter(this); }
    QRegion Region;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            Region += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
};

TEST_F(GridTest, TheIndicatorIsRepaintedWhereItWasAndWhereItGoes)
{
    QHeaderView* indicator = Grid().verticalHeader();
    const auto rowRect = [indicator](int row) {
        return QRect(0, indicator->sectionViewportPosition(row), indicator->viewport()->width(),
                     indicator->sectionSize(row));
    };
    QCoreApplication::processEvents();

    TRepaintedRegion moved(indicator->viewport());
    Table().Next();
    QCoreApplication::processEvents();
    EXPECT_TRUE(moved.Region.contains(rowRect(0))) << "the row it left";
    EXPECT_TRUE(moved.Region.contains(rowRect(1))) << "the row it came to";

    TRepaintedRegion edited(indicator->viewport());
    Table().Edit();
    QCoreApplication::processEvents();
    EXPECT_TRUE(edited.Region.contains(rowRect(1)));
    EXPECT_EQ(Model().headerData(1, Qt::Vertical, Qt::DisplayRole).toString(), "I");
    Table().Cancel();
}

TEST_F(GridTest, ScrollingALargeDataSetKeepsTheCurrentRowOnScreen)
{
    Table().DisableControls();
    for (int i = 4; i <= 500; ++i) {
        Table().Append();
        Field("ID").SetAsInteger(i);
        Field("NAME").SetAsString(QStringLiteral("Товар %1").arg(i));
        Table().Post();
    }
    Table().EnableControls();
    EXPECT_EQ(Model().rowCount(), 500);
    Table().Last();
    const QRect cell = Grid().visualRect(Grid().currentIndex());
    EXPECT_TRUE(Grid().viewport()->rect().contains(cell.center()));
    EXPECT_EQ(Cell(499, NameColumn), "Товар 500");
    Table().MoveBy(-250);
    EXPECT_EQ(Grid().currentIndex().row(), 249);
}

// ---------------------------------------------------------------- editing

TEST_F(GridTest, TypingInACellEditsAndLeavingTheRowPosts)
{
    Grid().SetSelectedIndex(NameColumn);
    Type(QStringLiteral("Батон"));
    ASSERT_NE(Grid().InplaceEditor(), nullptr);
    EXPECT_EQ(Table().State(), dsEdit);
    EXPECT_EQ(Grid().InplaceEditor()->Text(), "Батон");
    EXPECT_EQ(Model().headerData(0, Qt::Vertical, Qt::DisplayRole).toString(), "I");

    Key(Qt::Key_Down);
    EXPECT_EQ(Table().State(), dsBrowse);
    EXPECT_EQ(Table().RecNo(), 2);
    EXPECT_EQ(Cell(0, NameColumn), "Батон");
    EXPECT_EQ(Grid().InplaceEditor(), nullptr);
}

TEST_F(GridTest, TabAndEnterMoveAcrossColumnsAndEnterInTheLastColumnPosts)
{
    Grid().SetSelectedIndex(NameColumn);
    Type(QStringLiteral("Батон"));
    Key(Qt::Key_Tab);
    EXPECT_EQ(Grid().SelectedIndex(), PriceColumn);
    ASSERT_NE(Grid().InplaceEditor(), nullptr); // the editor follows while the record is edited
    Type(QStringLiteral("15,5"));
    Key(Qt::Key_Return);
    EXPECT_EQ(Grid().SelectedIndex(), 3);
    Type(QStringLiteral("02.01.2026"));
    Key(Qt::Key_Return);
    EXPECT_EQ(Table().State(), dsBrowse);
    EXPECT_EQ(Field("NAME").AsString(), "Батон");
    EXPECT_DOUBLE_EQ(Field("PRICE").AsFloat(), 15.5);
    EXPECT_EQ(Field("DT").AsString(), "02.01.2026");

    // Tab in the last column goes on to the next record.
    Grid().SetSelectedIndex(3);
    Key(Qt::Key_Tab);
    EXPECT_EQ(Table().RecNo(), 2);
    EXPECT_EQ(Grid().SelectedIndex(), IdColumn);
}

TEST_F(GridTest, EscCancelsTheEditAndTheRecord)
{
    Grid().SetSelectedIndex(NameColumn);
    Type(QStringLiteral("Батон"));
    Key(Qt::Key_Escape);
    EXPECT_EQ(Table().State(), dsBrowse);
    EXPECT_EQ(Grid().InplaceEditor(), nullptr);
    EXPECT_EQ(Cell(0, NameColumn), "Хлеб");
    EXPECT_EQ(Field("NAME").AsString(), "Хлеб");
}

TEST_F(GridTest, DownOnTheLastRecordAppendsAndInsertInserts)
{
    Table().Last();
    Key(Qt::Key_Down);
    EXPECT_EQ(Table().State(), dsInsert);
    EXPECT_EQ(Model().rowCount(), 4);
    EXPECT_EQ(Grid().currentIndex().row(), 3);
    // Down again on the untouched new row does not start another.
    Key(Qt::Key_Down);
    EXPECT_EQ(Model().rowCount(), 4);
    Type(QStringLiteral("4"));
    Key(Qt::Key_Up);
    EXPECT_EQ(Table().State(), dsBrowse);
    EXPECT_EQ(dbtest::Ids(Table()), QList<int>({1, 2, 3, 4}));

    // An untouched new row is dropped when the user leaves it, or the grid.
    Table().Last();
    Key(Qt::Key_Down);
    Key(Qt::Key_Up);
    EXPECT_EQ(Table().State(), dsBrowse);
    EXPECT_EQ(Model().rowCount(), 4);
    QLineEdit elsewhere;
    elsewhere.show();
    Table().Last();
    Key(Qt::Key_Down);
    EXPECT_EQ(Table().State(), dsInsert);
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::setActiveWindow(&elsewhere);
    elsewhere.setFocus();
    QApplication::sendEvent(&Grid(), &out);
    EXPECT_EQ(Table().State(), dsBrowse);
    EXPECT_EQ(Model().rowCount(), 4);
    QApplication::setActiveWindow(&Grid());
    Grid().setFocus();

    Table().First();
    Table().Next();
    Key(Qt::Key_Insert);
    EXPECT_EQ(Table().State(), dsInsert);
    EXPECT_EQ(Grid().currentIndex().row(), 1);
    Type(QStringLiteral("9"));
    Key(Qt::Key_Down);
    EXPECT_EQ(dbtest::Ids(Table()), QList<int>({1, 9, 2, 3, 4}));
}

TEST_F(GridTest, AllowedOperationsAndOptionsGateTheKeys)
{
    struct TCase
    {
        const char* Name;
        std::function<void(TDBGridEx&)> Setup;
        bool Appends, Inserts, Edits;
    };
    const std::vector<TCase> cases = {
        {"all allowed", [](TDBGridEx&) {}, true, true, true},
        {"no append",
         [](TDBGridEx& g) { g.SetAllowedOperations(AllAllowedOperations - TAllowedOperations{alopAppendEx}); }, false,
         true, true},
        {"no insert",
         [](TDBGridEx& g) { g.SetAllowedOperations(AllAllowedOperations - TAllowedOperations{alopInsertEx}); }, true,
         false, true},
        {"no update",
         [](TDBGridEx& g) { g.SetAllowedOperations(AllAllowedOperations - TAllowedOperations{alopUpdateEx}); }, true,
         true, false},
        {"read-only grid", [](TDBGridEx& g) { g.SetReadOnly(true); }, false, false, false},
        {"without dgEditing", [](TDBGridEx& g) { g.SetOptions(DefaultDBGridOptions - TDBGridOptions{dgEditing}); },
         false, false, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Open({{1, "Хлеб", 12.5}, {2, "Молоко", 80.1}});
        c.Setup(Grid());
        Table().Last();
        Key(Qt::Key_Down);
        EXPECT_EQ(Table().State() == dsInsert, c.Appends);
        Table().Cancel();
        Key(Qt::Key_Insert);
        EXPECT_EQ(Table().State() == dsInsert, c.Inserts);
        Table().Cancel();
        Grid().SetSelectedIndex(NameColumn);
        Type(QStringLiteral("x"));
        EXPECT_EQ(Table().State() == dsEdit, c.Edits);
        EXPECT_EQ(Grid().InplaceEditor() != nullptr, c.Edits);
    }
}

TEST_F(GridTest, ReadOnlyColumnOrFieldRefusesTheEditor)
{
    Grid().Columns()[NameColumn]->SetReadOnly(true);
    Grid().SetSelectedIndex(NameColumn);
    Type(QStringLiteral("x"));
    EXPECT_EQ(Grid().InplaceEditor(), nullptr);
    EXPECT_EQ(Table().State(), dsBrowse);
    Key(Qt::Key_F2);
    EXPECT_EQ(Grid().InplaceEditor(), nullptr);

    Field("PRICE").SetReadOnly(true);
    Grid().SetSelectedIndex(PriceColumn);
    EXPECT_FALSE(Grid().ShowEditor());
    EXPECT_FALSE(Model().flags(Model().index(0, PriceColumn)) & Qt::ItemIsEditable);
    EXPECT_TRUE(Model().flags(Model().index(0, IdColumn)) & Qt::ItemIsEditable);
}

TEST_F(GridTest, FailedPostKeepsTheRowInTheEditorWithTheErrorShown)
{
    Field("NAME").SetRequired(true);
    Table().Last();
    Key(Qt::Key_Down);
    Type(QStringLiteral("4"));
    Key(Qt::Key_Up);
    ASSERT_EQ(FDialogs->Messages.size(), 1u);
    EXPECT_EQ(FDialogs->Messages[0].Text, "Goods: Field 'NAME' must have a value.");
    EXPECT_EQ(FDialogs->Messages[0].Icon, TMsgIcon::Stop);
    EXPECT_EQ(Table().State(), dsInsert);
    EXPECT_EQ(Grid().currentIndex().row(), 3);
    EXPECT_EQ(Field("ID").AsInteger(), 4);

    // A text the field cannot take is refused the same way, editor kept.
    Grid().SetSelectedIndex(PriceColumn);
    Type(QStringLiteral("1e"));
    Key(Qt::Key_Tab);
    ASSERT_EQ(FDialogs->Messages.size(), 2u);
    EXPECT_NE(Grid().InplaceEditor(), nullptr);
    EXPECT_EQ(Grid().SelectedIndex(), PriceColumn);

    // A click on another row keeps the refused text in its cell as well.
    Grid().setCurrentIndex(Model().index(0, NameColumn));
    ASSERT_EQ(FDialogs->Messages.size(), 3u);
    ASSERT_NE(Grid().InplaceEditor(), nullptr);
    EXPECT_EQ(Grid().InplaceEditor()->Text(), "1e");
    EXPECT_EQ(Grid().currentIndex(), Model().index(3, PriceColumn));
    EXPECT_EQ(Table().State(), dsInsert);
}

// What a user types into a number cell is stored as it reads, or refused
// with the field's message and the editor kept: a decimal comma under a
// locale that groups with commas is never taken as a group separator.
TEST_F(GridTest, NumberCellsStoreWhatWasTypedOrRefuseItUnderEachLocale)
{
    const struct
    {
        const char* Locale;
        int Column;
        const char* Text;
        double Expected;
        const char* Error = nullptr;
    } cases[] = {
        {"C", PriceColumn, "47,25", 0, "'47,25' is not a valid floating point value"},
        {"C", IdColumn, "1,5", 0, "'1,5' is not a valid integer value"},
        {"C", PriceColumn, "47.25", 47.25},
        {"en_US", PriceColumn, "389,99", 0, "'389,99' is not a valid floating point value"},
        {"ru_RU", PriceColumn, "47,25", 47.25},
        {"ru_RU", PriceColumn, "47.25", 47.25},
        {"ru_RU", IdColumn, "1,5", 0, "'1,5' is not a valid integer value"},
        {"de_DE", PriceColumn, "1.5", 1.5},
    };
    for (const auto& c : cases) {
        FormatSettings() = TFormatSettings::FromLocale(QLocale(QString::fromLatin1(c.Locale)));
        const std::string what = std::string(c.Text) + " under " + c.Locale;
        const size_t shown = FDialogs->Messages.size();
        Table().First();
        Grid().SetSelectedIndex(c.Column);
        Type(QString::fromLatin1(c.Text));
        ASSERT_NE(Grid().InplaceEditor(), nullptr) << what;
        EXPECT_EQ(Grid().InplaceEditor()->Text(), QString::fromLatin1(c.Text))
            << what << ": every key reaches the cell";
        Key(Qt::Key_Return);
        TField& field = *Table().Fields()[c.Column];
        if (c.Error) {
            ASSERT_EQ(FDialogs->Messages.size(), shown + 1) << what;
            EXPECT_EQ(FDialogs->Messages.back().Text, QString::fromLatin1(c.Error) + QLatin1Char('.')) << what;
            EXPECT_NE(Grid().InplaceEditor(), nullptr) << what;
            EXPECT_EQ(field.AsFloat(), c.Column == IdColumn ? 1 : 12.5) << what << ": the value is kept";
        } else {
            EXPECT_EQ(FDialogs->Messages.size(), shown) << what;
            EXPECT_DOUBLE_EQ(field.AsFloat(), c.Expected) << what;
        }
        Key(Qt::Key_Escape);
        Key(Qt::Key_Escape);
        EXPECT_EQ(Table().State(), dsBrowse) << what;
    }
}

TEST_F(GridTest, EditorKindsFollowTheFieldTypes)
{
    Grid().SetSelectedIndex(3); // the date
    ASSERT_TRUE(Grid().ShowEditor());
    auto* date = qobject_cast<TInplaceEdit*>(Grid().InplaceEditor());
    ASSERT_NE(date, nullptr);
    EXPECT_TRUE(date->HasButton());
    date->ClickButton();
    ASSERT_NE(date->Calendar(), nullptr);
    emit date->Calendar()->activated(QDate(2026, 3, 8));
    EXPECT_EQ(date->Text(), "08.03.2026");
    EXPECT_TRUE(date->Modified());
    Key(Qt::Key_Up); // leaves nothing above: the editor posts in place
    ASSERT_TRUE(Grid().PostRecord());
    EXPECT_EQ(Field("DT").AsString(), "08.03.2026");

    // A column's mask and edit button.
    Grid().Columns()[NameColumn]->SetEditMask(QStringLiteral(">LL-00;1;_"));
    Grid().Columns()[NameColumn]->SetButtonStyle(cbsEllipsis);
    int clicks = 0;
    Grid().OnEditButtonClick = [&](TDBGridEx*) { ++clicks; };
    Grid().SetSelectedIndex(NameColumn);
    ASSERT_TRUE(Grid().ShowEditor());
    auto* text = qobject_cast<TInplaceEdit*>(Grid().InplaceEditor());
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->LineEdit()->inputMask(), ">AA-99;_");
    text->ClickButton();
    EXPECT_EQ(clicks, 1);
    Type(QStringLiteral("ab12"));
    EXPECT_EQ(text->Text(), "AB-12");
    text->LineEdit()->setSelection(0, 2);
    EXPECT_EQ(text->SelText(), "AB");
}

TEST(InplaceEdit, ToolkitMasksBecomeQtMasks)
{
    const struct
    {
        const char* Toolkit;
        const char* Qt;
    } cases[] = {
        {"", ""},
        {"!99/99/0000;1;_", "00.00.9999;_"},
        {"000-000;0; ", "999-999; "},
        {">L<lll", ">A<aaa; "},
        {"\\9AaCc#", "\\9NnXx#; "},
        {"<>CCC", "!XXX; "},
    };
    const TFormatSettings saved = FormatSettings();
    FormatSettings() = TFormatSettings();
    for (const auto& c : cases)
        EXPECT_EQ(QtInputMask(QString::fromUtf8(c.Toolkit)), QString::fromUtf8(c.Qt)) << c.Toolkit;

    // Separators written escaped (the filter dialog's date masks); one that
    // is a Qt mask character is escaped either way, not read as a digit.
    const QString stamp = QStringLiteral("!99/99/0000 90:00:00;1;_");
    EXPECT_EQ(QtInputMask(stamp, TMaskSeparators::Escaped), QStringLiteral("00\\.00\\.9999 09\\:99\\:99;_"));
    FormatSettings().DateSeparator = QLatin1Char('0');
    EXPECT_EQ(QtInputMask(stamp), QStringLiteral("00\\000\\09999 09:99:99;_"));
    EXPECT_EQ(QtInputMask(stamp, TMaskSeparators::Escaped), QStringLiteral("00\\000\\09999 09\\:99\\:99;_"));
    FormatSettings() = saved;
}

// ---------------------------------------------------------------- columns and painting

TEST_F(GridTest, CustomColumnsChooseFieldsTitlesAndTabStops)
{
    TDBGridColumns& columns = Grid().Columns();
    columns.BeginUpdate();
    columns.Clear();
    TColumnEx* name = columns.Add();
    name->SetFieldName(QStringLiteral("name"));
    name->Title().SetCaption(QStringLiteral("Товар"));
    TColumnEx* id = columns.Add();
    id->SetFieldName(QStringLiteral("ID"));
    id->SetTabStop(false);
    TColumnEx* price = columns.Add();
    price->SetFieldName(QStringLiteral("PRICE"));
    price->SetWidth(77);
    price->SetTooltips(true);
    columns.EndUpdate();

    EXPECT_EQ(columns.State(), csCustomized);
    EXPECT_EQ(columns.ColumnByFieldName(QStringLiteral("Price")), price);
    EXPECT_EQ(Model().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "Товар");
    EXPECT_EQ(Cell(1, 0), "Молоко");
    EXPECT_EQ(Grid().columnWidth(2), 77);
    EXPECT_EQ(Model().index(0, 2).data(Qt::ToolTipRole).toString(), "12,5");
    EXPECT_FALSE(Model().index(0, 0).data(Qt::ToolTipRole).isValid());

    // Tab skips the column without a tab stop.
    Grid().SetSelectedIndex(0);
    Key(Qt::Key_Tab);
    EXPECT_EQ(Grid().SelectedIndex(), 2);

    // Custom columns survive a layout change and rebind when reopened.
    Table().Close();
    Table().Open();
    EXPECT_EQ(columns.Count(), 3);
    EXPECT_EQ(price->Field(), &Field("PRICE"));
    price->SetVisible(false);
    EXPECT_TRUE(Grid().isColumnHidden(2));
}

TEST_F(GridTest, CellColourHookPaintsCellsAndKnowsTheHighlightedOne)
{
    std::vector<std::pair<int, bool>> seen;
    Grid().OnGetCellParams = [&](TDBGridEx*, TCellParams& params) {
        seen.emplace_back(params.Row, params.Highlighted);
        // The fields show the painted row's record.
        if (Field("ID").AsInteger() == 2)
            params.Background = QColor(255, 0, 0);
        if (params.Highlighted)
            params.Background = QColor(0, 0, 255);
    };
    const QImage image = Grid().grab().toImage();
    if (qEnvironmentVariableIsSet("GRID_TEST_IMAGE"))
        image.save(qEnvironmentVariable("GRID_TEST_IMAGE"));
    const QRect red = Grid().visualRect(Model().index(1, NameColumn));
    const QPoint inGrid = Grid().viewport()->mapTo(&Grid(), red.center() + QPoint(red.width() / 2 - 3, 0));
    EXPECT_EQ(image.pixelColor(inGrid), QColor(255, 0, 0));
    const QRect current = Grid().visualRect(Grid().currentIndex());
    const QPoint currentPoint = Grid().viewport()->mapTo(
        &Grid(), QPoint(current.left() + 3, current.center().y())); // the number stands right
    // The style's focus frame tints the highlight a little.
    const QColor highlight = image.pixelColor(currentPoint);
    EXPECT_GT(highlight.blue(), 240);
    EXPECT_LT(highlight.red(), 40);
    EXPECT_NE(std::find(seen.begin(), seen.end(), std::make_pair(0, true)), seen.end());
    EXPECT_EQ(Table().RecNo(), 1); // painting never moved the cursor
}

TEST_F(GridTest, ALongTextShowsWhatFitsOfItsStartOrItsEnd)
{
    // Texts far longer than the cell: the part that shows is painted as a
    // short text with the same start (left aligned) or end (right aligned).
    const QString filler(100000, QChar(0x0436)); // ж
    const QString start = QStringLiteral("Начало ") + filler.left(2000);
    const QString end = filler.left(2000) + QStringLiteral(" конец");
    QString shown;
    Field("NAME").OnGetText = [&](TField*, QString& text, bool) { text = shown; };
    Field("ID").OnGetText = [&](TField*, QString& text, bool) { text = shown; }; // right aligned
    const auto paint = [&](const QString& text) {
        shown = text;
        Table().Refresh();
        return Grid().viewport()->grab().toImage();
    };
    Grid().SetSelectedIndex(PriceColumn); // the cells painted are not the current one
    EXPECT_EQ(paint(QStringLiteral("Начало ") + filler), paint(start));
    EXPECT_EQ(paint(filler + QStringLiteral(" конец")), paint(end));
    EXPECT_NE(paint(end), paint(start));
}

TEST_F(GridTest, FixedRowsSortMarkersAndFrozenColumns)
{
    Grid().OnGetFixedCellText = [](const TDBGridEx*, int row, const TColumnEx* column) {
        return QStringLiteral("%1:%2").arg(row).arg(column->FieldName());
    };
    const int titleOnly = Grid().TitleHeader()->sizeHint().height();
    Grid().SetFixedRowCount(2);
    const int withRows = Grid().TitleHeader()->sizeHint().height();
    EXPECT_EQ(withRows, titleOnly + 2 * Grid().verticalHeader()->defaultSectionSize());
    QApplication::processEvents();
    EXPECT_EQ(Grid().TitleHeader()->height(), withRows);

    // Grid coordinates: titles row 0, fixed rows 1 and 2, then the data.
    const QRect title = Grid().TitleHeader()->geometry();
    EXPECT_EQ(Grid().MouseCoord(QPoint(title.left() + 5, title.top() + 2)).Y, 0);
    EXPECT_EQ(Grid().MouseCoord(QPoint(title.left() + 5, title.top() + titleOnly + 2)).Y, 1);
    EXPECT_EQ(Grid().MouseCoord(QPoint(title.left() + 5, title.bottom() - 2)).Y, 2);
    const QRect data = Grid().visualRect(Model().index(1, NameColumn));
    const TGridCoord cell = Grid().MouseCoord(Grid().viewport()->mapTo(&Grid(), data.center()));
    EXPECT_EQ(cell.X, NameColumn + 1); // after the indicator
    EXPECT_EQ(cell.Y, 1 + 2 + 1);

    Grid().Columns()[PriceColumn]->Title().SetSortMarker(smDown);
    Grid().Columns()[PriceColumn]->Title().SetSortIndex(1);
    EXPECT_EQ(Grid().Columns()[PriceColumn]->Title().SortMarker(), smDown);

    Grid().SetFrozenCols(1);
    ASSERT_NE(Grid().FrozenView(), nullptr);
    EXPECT_FALSE(Grid().FrozenView()->isColumnHidden(IdColumn));
    EXPECT_TRUE(Grid().FrozenView()->isColumnHidden(NameColumn));
    EXPECT_EQ(Grid().FrozenView()->width(), Grid().columnWidth(IdColumn));
    // Scrolling right leaves the frozen column where it was.
    Grid().resize(150, 300);
    Grid().SetSelectedIndex(3);
    EXPECT_GT(Grid().horizontalScrollBar()->value(), 0);
    EXPECT_EQ(Grid().FrozenView()->x(), Grid().verticalHeader()->width() + Grid().frameWidth());
    Grid().SetFrozenCols(0);
    EXPECT_EQ(Grid().FrozenView(), nullptr);
}

TEST_F(GridTest, ColumnWidthsFitTheirContents)
{
    Table().Edit();
    Field("NAME").SetAsString(QStringLiteral("Очень длинное наименование товара"));
    Table().Post();
    Grid().Columns()[NameColumn]->SetWidth(20);
    Grid().OptimizeColumnWidths();
    const int needed = Grid().fontMetrics().horizontalAdvance(Field("NAME").DisplayText());
    EXPECT_GT(needed, 100);
    EXPECT_GE(Grid().columnWidth(NameColumn), needed);
    EXPECT_EQ(Grid().Columns()[NameColumn]->Width(), Grid().columnWidth(NameColumn));
}

} // namespace

// ---------------------------------------------------------------- search

namespace {

TEST_F(GridTest, SearchFindsTheNextMatchingRowByTheOptions)
{
    const struct
    {
        const char* Text;
        TSearchMatch Match;
        bool CaseSensitive, Backward;
        int Start, Expected;
    } cases[] = {
        {"ол", TSearchMatch::Anywhere, false, false, 0, 1},    {"ОЛ", TSearchMatch::Anywhere, false, false, 0, 1},
        {"ОЛ", TSearchMatch::Anywhere, true, false, 0, -1},    {"Со", TSearchMatch::FromStart, false, false, 0, 2},
        {"оль", TSearchMatch::FromStart, false, false, 0, -1}, {"Соль", TSearchMatch::Whole, false, false, 0, 2},
        {"Сол", TSearchMatch::Whole, false, false, 0, -1},     {"л", TSearchMatch::Anywhere, false, true, 2, 2},
        {"Хлеб", TSearchMatch::Anywhere, false, true, 2, 0},   {"Хлеб", TSearchMatch::Anywhere, false, false, 1, -1},
    };
    for (const auto& c : cases) {
        TGridSearchOptions options;
        options.Match = c.Match;
        options.CaseSensitive = c.CaseSensitive;
        options.Backward = c.Backward;
        EXPECT_EQ(FindInGrid(Grid(), NameColumn, QString::fromUtf8(c.Text), options, c.Start), c.Expected)
            << c.Text << " from " << c.Start;
    }
    EXPECT_EQ(Table().RecNo(), 1);
}

TEST_F(GridTest, SearchDialogMovesTheGridOrSaysNothingWasFound)
{
    TDBGridSearchDlg dialog(Grid(), QStringLiteral("соль"), QStringLiteral("NAME"));
    EXPECT_EQ(dialog.ColumnBox()->currentText(), "NAME");
    EXPECT_TRUE(dialog.FindNext());
    EXPECT_EQ(Table().RecNo(), 3);
    EXPECT_EQ(Grid().SelectedField(), &Field("NAME"));
    EXPECT_FALSE(dialog.FindNext()); // nothing below the last match
    ASSERT_EQ(FDialogs->Messages.size(), 1u);
    EXPECT_EQ(FDialogs->Messages[0].Text, "Значение \"соль\" не найдено");
    EXPECT_EQ(Table().RecNo(), 3);
}

// The picture CI keeps of the search dialog, as a grid opens it.
TEST_F(GridTest, SearchDialogScreenshotSavedWhereTheEnvironmentSays)
{
    const QString path = qEnvironmentVariable("GRID_SEARCH_SCREENSHOT");
    if (path.isEmpty())
        GTEST_SKIP() << "GRID_SEARCH_SCREENSHOT is not set";
    TDBGridSearchDlg dialog(Grid(), QStringLiteral("молоко"), QStringLiteral("NAME"));
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    ASSERT_TRUE(dialog.grab().save(path)) << path.toStdString();
}

TEST_F(GridTest, SearchShortcutOpensTheDialogForTheGridWithoutPresets)
{
    GridSearchShortcut() = QKeyCombination(Qt::ControlModifier, Qt::Key_F3);
    Grid().SetSelectedIndex(PriceColumn);
    QString seenText, seenColumn;
    bool opened = false;
    QTimer::singleShot(0, [&] {
        if (auto* dialog = qobject_cast<TDBGridSearchDlg*>(QApplication::activeModalWidget())) {
            opened = true;
            seenText = dialog->TextEdit()->text();
            seenColumn = dialog->ColumnBox()->currentText();
            dialog->reject();
        }
    });
    Key(Qt::Key_F3, Qt::ControlModifier);
    EXPECT_TRUE(opened);
    EXPECT_TRUE(seenText.isEmpty());
    EXPECT_EQ(seenColumn, "PRICE"); // the selected column until the user picks another
    GridSearchShortcut() = QKeyCombination(Qt::ControlModifier, Qt::Key_F);
}

} // namespace

// ---------------------------------------------------------------- lookups and derived grids

namespace {

TEST(GridLookup, DropDownListsTheLookupValuesAndWritesTheKey)
{
    TScriptedDialogsGuard dialogs;
    auto goods = dbtest::MakeTable({{1, "Чай", 10}, {2, "Кофе", 20}, {3, "Какао", 30}});
    TCustomMemTable orders;
    const auto [goodId, goodName] = dbtest::AddGoodsLookup(orders, *goods);
    orders.Open();
    orders.Append();
    goodId->SetAsInteger(1);
    orders.Post();
    goods->Last();

    TDataSource source;
    source.SetDataSet(&orders);
    TDBGridEx grid;
    grid.SetDataSource(&source);
    grid.show();
    ASSERT_EQ(grid.Columns().Count(), 2);
    EXPECT_EQ(grid.GridModel()->index(0, 1).data().toString(), "Чай");
    grid.SetSelectedIndex(1);
    ASSERT_TRUE(grid.ShowEditor());
    auto* lookup = qobject_cast<TInplaceLookup*>(grid.InplaceEditor());
    ASSERT_NE(lookup, nullptr);
    EXPECT_TRUE(lookup->HasButton());
    ASSERT_EQ(lookup->ComboBox()->count(), 3);
    EXPECT_EQ(lookup->ComboBox()->itemText(2), "Какао");
    EXPECT_EQ(lookup->Text(), "Чай");
    lookup->SetSelText(QStringLiteral("Кофе"));
    ASSERT_TRUE(grid.PostRecord());
    EXPECT_EQ(goodId->AsInteger(), 2);
    EXPECT_EQ(goodName->AsString(), "Кофе");
    EXPECT_EQ(goods->RecNo(), 3); // the lookup data set's cursor stayed
}

// A derived grid the way the framework's grid takes the library's hooks.
class TRecordingGrid : public TDBGridEx
{
public:
    QList<TGridCoord> Presses;
    QStringList Events;
    int SwallowKey = 0;
    int FailingKey = 0;

protected:
    void KeyDown(int& key, Qt::KeyboardModifiers) override
    {
        Events << QStringLiteral("key %1%2").arg(key, 0, 16).arg(EditorMode() ? " (editor)" : "");
        if (key == SwallowKey)
            key = 0;
        if (key == FailingKey)
            throw Exception(QStringLiteral("Клавиша отказала"));
    }
    bool MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, const QPoint& gridPos, bool) override
    {
        Presses << MouseCoord(gridPos);
        return false;
    }
    void ColExit() override { Events << QStringLiteral("exit %1").arg(SelectedIndex()); }
    void ColEnter() override { Events << QStringLiteral("enter %1").arg(SelectedIndex()); }
};

TEST_F(GridTest, DerivedGridsSeeKeysMouseAndColumnMovesFirst)
{
    TRecordingGrid grid;
    grid.resize(600, 300);
    grid.SetDataSource(&FSource);
    grid.SetFixedRowCount(1);
    grid.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));

    // A cleared key does nothing: Insert would have inserted.
    grid.SwallowKey = Qt::Key_Insert;
    QTest::keyClick(&grid, Qt::Key_Insert);
    EXPECT_EQ(Table().State(), dsBrowse);
    EXPECT_EQ(grid.Events.value(0), "key 1000006");

    // A key that fails is shown there and spent: no insert, nothing escapes.
    {
        TScriptedDialogsGuard dialogs;
        grid.SwallowKey = 0;
        grid.FailingKey = Qt::Key_Insert;
        QTest::keyClick(&grid, Qt::Key_Insert);
        EXPECT_EQ(Table().State(), dsBrowse);
        ASSERT_EQ(dialogs->Messages.size(), 1u);
        EXPECT_EQ(dialogs->Messages[0].Text, QStringLiteral("Клавиша отказала."));
        grid.FailingKey = 0;
    }

    grid.Events.clear();
    grid.SetSelectedIndex(NameColumn);
    EXPECT_EQ(grid.Events, QStringList({"exit 0", "enter 1"}));

    // Keys in the editor reach the hook too, marked as such.
    grid.Events.clear();
    ASSERT_TRUE(grid.ShowEditor());
    QTest::keyClick(grid.InplaceEditor()->focusProxy(), Qt::Key_F12);
    EXPECT_TRUE(grid.Events.contains("key 100003b (editor)")) << grid.Events.join(',').toStdString();
    grid.CancelRecord();

    // Presses on a cell, the fixed row, the titles and the indicator, in grid coordinates.
    const QRect cell = grid.visualRect(grid.GridModel()->index(2, PriceColumn));
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
    const QHeaderView* titles = grid.horizontalHeader();
    const int titleHeight = grid.TitleHeader()->TitleHeight();
    QTest::mouseClick(titles->viewport(), Qt::LeftButton, {}, QPoint(titles->sectionPosition(1) + 5, titleHeight + 3));
    QTest::mouseClick(titles->viewport(), Qt::LeftButton, {}, QPoint(titles->sectionPosition(1) + 5, 3));
    QTest::mouseClick(grid.verticalHeader()->viewport(), Qt::LeftButton, {},
                      QPoint(3, grid.verticalHeader()->sectionViewportPosition(1) + 3));
    ASSERT_EQ(grid.Presses.size(), 4);
    EXPECT_EQ(grid.Presses[0].X, PriceColumn + 1);
    EXPECT_EQ(grid.Presses[0].Y, 1 + 1 + 2);
    EXPECT_EQ(grid.Presses[1].X, 2);
    EXPECT_EQ(grid.Presses[1].Y, 1);
    EXPECT_EQ(grid.Presses[2].Y, 0);
    EXPECT_EQ(grid.Presses[3].X, 0);
    EXPECT_EQ(grid.Presses[3].Y, 1 + 1 + 1);
    EXPECT_EQ(Table().RecNo(), 2); // the indicator press made its row current
}

// A derived grid that colours one record and makes the name column's editor
// itself, the way the framework's grid takes the colour and editor hooks.
class TColouringGrid : public TDBGridEx
{
public:
    QPointer<TInplaceEdit> OwnEditor;

protected:
    void GetCellParams(TCellParams& params) override
    {
        TDBGridEx::GetCellParams(params);
        if (DataSet()->FieldByName(QStringLiteral("ID"))->AsInteger() == 2)
            params.Background = QColor(0, 128, 0);
    }
    TInplaceEditor* CreateEditor(QWidget* parent, TColumnEx* column) override
    {
        if (column->FieldName() != QStringLiteral("NAME"))
            return TDBGridEx::CreateEditor(parent, column);
        OwnEditor = new TInplaceEdit(parent, TInplaceKind::Text, QString(), TInplaceEdit::EllipsisButton);
        return OwnEditor;
    }
};

TEST_F(GridTest, DerivedGridsColourCellsAndMakeTheirOwnEditors)
{
    TColouringGrid grid;
    grid.resize(600, 300);
    grid.SetDataSource(&FSource);
    grid.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    grid.setFocus();

    // The model paints with the derived colours; the caller's hook still runs.
    int asked = 0;
    grid.OnGetCellParams = [&](TDBGridEx*, TCellParams&) { ++asked; };
    EXPECT_EQ(grid.GridModel()->CellParams(1, NameColumn, false).Background, QColor(0, 128, 0));
    EXPECT_FALSE(grid.GridModel()->CellParams(0, NameColumn, false).Background.isValid());
    EXPECT_EQ(grid.GridModel()->CellParams(1, NameColumn, true).Background, QColor(0, 128, 0));
    EXPECT_GT(asked, 0);
    EXPECT_EQ(Table().RecNo(), 1);

    // The derived editor is wired up as the grid's own: its button and its
    // keys reach the grid.
    int clicks = 0;
    grid.OnEditButtonClick = [&](TDBGridEx*) { ++clicks; };
    grid.SetSelectedIndex(NameColumn);
    ASSERT_TRUE(grid.ShowEditor());
    ASSERT_TRUE(grid.OwnEditor);
    EXPECT_EQ(grid.InplaceEditor(), grid.OwnEditor.data());
    grid.OwnEditor->ClickButton();
    EXPECT_EQ(clicks, 1);
    QTest::keyClick(grid.OwnEditor->LineEdit(), Qt::Key_Escape);
    EXPECT_FALSE(grid.EditorMode());
    EXPECT_EQ(Table().State(), dsBrowse);

    // The other columns keep the grid's editors.
    grid.SetSelectedIndex(PriceColumn);
    ASSERT_TRUE(grid.ShowEditor());
    EXPECT_NE(grid.InplaceEditor(), grid.OwnEditor.data());
    EXPECT_TRUE(qobject_cast<TInplaceEdit*>(grid.InplaceEditor()));
    grid.CancelRecord();
}

} // namespace
