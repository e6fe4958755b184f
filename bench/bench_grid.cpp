// The data grid on a Firebird table, rendered offscreen into an image: the
// first screen after the data set is attached, a jump to the last row, then
// 1,000 screens paged upwards, each painted.
//   GridPaging/Ours             TDBGridEx over a TSDS of 500,000 rows
//   GridPaging/Small            the same over 50,000 rows (a screen must not
//                               cost more because the table is larger)
//   GridPaging/QSqlTableModel   QTableView over QSqlTableModel on the
//                               500,000 rows, all fetched first
//   GridPaging/OursFramework    the framework grid (TDBSGridEx) on the same
//                               500,000 rows through its data source, every
//                               tenth row marked, its level handling and
//                               sort markers on (the rows sorted by ID)
//   MenuOpen/Ours               the framework grid's service menu built for
//                               a cell from the published actions and shown
//   MenuOpen/QMenu              the same items built by hand as plain
//                               QActions into a QMenu and shown
// Loading the rows (the data set's open, the model's fetch) happens before
// the clock: only showing them is timed. kept_bytes_per_row is what the
// loaded rows keep resident: the data set's, the model's.
// goal: GridPaging/Ours <= 0.5x GridPaging/QSqlTableModel
// goal: GridPaging/Ours <= 1.3x GridPaging/Small
// goal: GridPaging/Ours kept_bytes_per_row <= 150
// goal: GridPaging/OursFramework <= 1.15x GridPaging/Ours
// goal: MenuOpen/Ours <= 2x MenuOpen/QMenu
#include "BenchFirebird.h"
#include "BenchQSql.h"
#include "BenchSupport.h"

#include "Action.h"
#include "DBGridEx.h"
#include "DBSGridEx.h"
#include "SDS.h"
#include "SDataSource.h"
#include "ServiceActions.h"
#include "URecordMarker.h"

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QMenu>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlTableModel>
#include <QTableView>

#include <iterator>
#include <map>
#include <memory>

namespace {

const int LargeRows = 500000;
const int SmallRows = 50000;
const int Pages = 1000;
const QSize GridSize(800, 600);
// Both views show the same screen: the shown columns (SYS$ID is not) at
// widths a form would give them, all within the window.
const int ColumnWidths[] = {60, 200, 150, 110, 180};

QString TableName(int rows) { return QStringLiteral("GRID_%1").arg(rows); }

// The table of a nominal size (BENCH_ROWS may shrink both).
void BuildTable(TIBDatabase& database, int nominalRows)
{
    const int rows = BenchRowCount(nominalRows);
    ExecuteCommitted(database, QStringLiteral("create table %1 (\n"
                                              "  SYS$ID integer not null primary key,\n"
                                              "  ID integer, NAME varchar(40), CITY varchar(30),\n"
                                              "  AMOUNT numeric(15, 2), CREATED timestamp)")
                                   .arg(TableName(nominalRows)));
    InsertRows(database, TableName(nominalRows), QStringLiteral("      :i + 1,\n") + ClientColumnValues(), rows);
}

const TScratchDatabase& Database()
{
    static const TScratchDatabase database([](TIBDatabase& db) {
        BuildTable(db, LargeRows);
        BuildTable(db, SmallRows);
    });
    return database;
}

// One open data set per table for the whole run.
struct TLoadedTable : TBenchConnection<TIBDatabase>
{
    TSDS Data;
    double KeptBytesPerRow = 0; // by the open data set

    explicit TLoadedTable(int rows) : TBenchConnection(Database().Path())
    {
        const TMemoryProbe probe; // the rows', not the connection's
        Data.setObjectName(TableName(rows));
        Data.SetDatabase(&Connection);
        Data.SetTransaction(&Transaction);
        Data.SetTableName(TableName(rows));
        Data.Open();
        if (Transaction.InTransaction())
            Transaction.Commit();
        Check(Data.RecordCount() == BenchRowCount(rows), "the data set did not load every row");
        KeptBytesPerRow = probe.KeptBytesPerRow(BenchRowCount(rows));
    }
};

// Emptied before main returns: data sets must not outlive the process's
// own static state.
std::map<int, std::unique_ptr<TLoadedTable>>& LoadedTables()
{
    static std::map<int, std::unique_ptr<TLoadedTable>> tables;
    return tables;
}

TLoadedTable& Loaded(int rows)
{
    auto& table = LoadedTables()[rows];
    if (!table)
        table = std::make_unique<TLoadedTable>(rows);
    return *table;
}

// The view shown offscreen at a fixed size, painted into one image.
class TPainter
{
public:
    explicit TPainter(QWidget& view) : FView(view), FImage(GridSize, QImage::Format_ARGB32_Premultiplied)
    {
        view.resize(GridSize);
        view.show();
    }
    void Paint() { FView.render(&FImage); }
    const QImage& Image() const { return FImage; }

private:
    QWidget& FView;
    QImage FImage;
};

void SaveImage(const QImage& image, const char* name)
{
    // BENCH_IMAGES=folder keeps the last screen of each peer, to look at.
    if (qEnvironmentVariableIsSet("BENCH_IMAGES"))
        image.save(qEnvironmentVariable("BENCH_IMAGES") + QLatin1Char('/') + QLatin1String(name) + ".png");
}

// Every tenth row of the data set marked through the source's marker.
void MarkEveryTenth(TSDataSource& source)
{
    TDataSet& data = *source.DataSet();
    data.DisableControls();
    int row = 0;
    for (data.First(); !data.Eof(); data.Next())
        if (row++ % 10 == 0)
            source.RecordMarker()->ToggleCurrent();
    data.EnableControls();
}

template <typename Grid, typename Source>
void PageGrid(benchmark::State& state, int rows, const char* name)
{
    Guarded(state, [&] {
        TSDS& data = Loaded(rows).Data;
        for (auto _ : state) {
            state.PauseTiming();
            Source source;
            source.SetDataSet(&data);
            if constexpr (std::is_same_v<Source, TSDataSource>)
                MarkEveryTenth(source);
            data.First();
            Grid grid;
            TPainter painter(grid);
            state.ResumeTiming();

            grid.SetDataSource(&source);
            TDBGridColumns& columns = grid.Columns();
            Check(columns.Count() == int(std::size(ColumnWidths)), "the grid shows other columns");
            columns.BeginUpdate();
            for (int i = 0; i < columns.Count(); ++i)
                columns[i]->SetWidth(ColumnWidths[i]);
            columns.EndUpdate();
            painter.Paint();
            data.Last();
            painter.Paint();
            const int screen = grid.VisibleRowCount();
            for (int page = 0; page < Pages; ++page) {
                data.MoveBy(-screen);
                painter.Paint();
            }

            state.PauseTiming();
            Check(grid.currentIndex().row() == data.RecNo() - 1, "the grid lost the cursor");
            SaveImage(painter.Image(), name);
            state.ResumeTiming();
        }
        state.SetItemsProcessed(state.iterations() * (Pages + 2));
        state.counters["kept_bytes_per_row"] = Loaded(rows).KeptBytesPerRow;
    });
}

void GridPaging_Ours(benchmark::State& state) { PageGrid<TDBGridEx, TDataSource>(state, LargeRows, "GridPaging-Ours"); }

void GridPaging_Small(benchmark::State& state)
{
    PageGrid<TDBGridEx, TDataSource>(state, SmallRows, "GridPaging-Small");
}

void GridPaging_OursFramework(benchmark::State& state)
{
    TSDS& data = Loaded(LargeRows).Data;
    const QString order = data.IndexFieldNames();
    data.SetIndexFieldNames(QStringLiteral("ID")); // a shown column carries the sort marker
    PageGrid<TDBSGridEx, TSDataSource>(state, LargeRows, "GridPaging-OursFramework");
    data.SetIndexFieldNames(order);
}

// The published actions as the action module makes them (captions and keys).
class TBenchActions
{
public:
    TBenchActions()
    {
        TServiceActions& a = FActions;
        const std::pair<TAction**, std::pair<const char*, TShortCut>> items[] = {
            {&a.REditCopy1, {"Копировать в буфер", 16429}},
            {&a.RecordInsertAction1, {"Добавление записи", 45}},
            {&a.RecordEditAction1, {"Корректировка записи", 113}},
            {&a.RecordDeleteAction1, {"Удаление записи", 16430}},
            {&a.RecordAttributesAction1, {"Атрибуты записи", 115}},
            {&a.RecordMarkAction1, {"&Отметить запись", 8306}},
            {&a.RecordMarkGroupAction1, {"Отметить начало/конец группы", 8307}},
            {&a.RecordMarkAllAction1, {"Отметить/НЕотметить ВСЕ строки", 0}},
            {&a.FindAction1, {"&Поиск", 16498}},
            {&a.SumAction1, {"&Сумма по графе", 24691}},
            {&a.RecordCountAction1, {"Кол-во строк", 16500}},
            {&a.SortAction1, {"Сортировка", 16501}},
            {&a.SortCancelAction1, {"Отмена сортировки", 8309}},
            {&a.FilterAction1, {"&Фильтр", 16502}},
            {&a.FilterCancelAction1, {"Отменить фильтр", 8310}},
            {&a.GroupDeleteAction1, {"Групповое удаление", 8312}},
            {&a.GroupReplaceAction1, {"Групповая замена", 16505}},
            {&a.GroupFillAction1, {"Групповое заполнение", 16504}},
            {&a.GroupAddAction1, {"Добавить к графе значение", 16491}},
            {&a.GroupMulAction1, {"Умножить графу на значение", 16491}},
            {&a.StdPrintAction1, {"Печать формы", 117}},
            {&a.StdExcelAction1, {"Экспорт в MS Excel", 0}},
            {&a.TougleLevelsAction1, {"Уровневый-плоский", 114}},
            {&a.GridCustomizeAction1, {"Параметры отображения таблицы", 0}},
            {&a.RecordPostAction1, {"Завершить ввод/корректировку", 116}},
            {&a.RecordDoubleFieldAction1, {"Дублирование поля", 123}},
            {&a.RecordDoubleRecordAction1, {"Дублирование полей справа", 16507}},
            {&a.REditPaste1, {"Вставить из буфера", 8237}},
            {&a.CallRefAction1, {"Вызов справочника", 119}},
        };
        for (const auto& [slot, item] : items) {
            auto& action = FOwned.emplace_back(std::make_unique<TAction>());
            action->SetCaption(QString::fromUtf8(item.first));
            action->SetShortCut(item.second);
            *slot = action.get();
        }
        PublishServiceActions(FActions);
    }
    ~TBenchActions() { PublishServiceActions(TServiceActions()); }
    const TServiceActions& Actions() const { return FActions; }

private:
    std::vector<std::unique_ptr<TAction>> FOwned;
    TServiceActions FActions;
};

int CountItems(const QMenu& menu)
{
    int count = 0;
    for (QAction* action : menu.actions())
        count += 1 + (action->menu() ? CountItems(*action->menu()) : 0);
    return count;
}

void MenuOpen_Ours(benchmark::State& state)
{
    Guarded(state, [&] {
        TBenchActions actions;
        TSDataSource source;
        source.SetDataSet(&Loaded(SmallRows).Data);
        TDBSGridEx grid;
        grid.resize(GridSize);
        grid.SetDataSource(&source);
        grid.show();
        const QPoint cell = grid.viewport()->mapTo(&grid, grid.visualRect(grid.GridModel()->index(1, 1)).center());
        for (auto _ : state) {
            grid.ShowServiceMenu(cell);
            grid.PopupMenu()->hide();
        }
        state.counters["items"] = CountItems(*grid.PopupMenu());
    });
}

// The same items (the captions, keys and the group submenu) built as plain
// QActions each time, as a form would without the grid's service.
void MenuOpen_QMenu(benchmark::State& state)
{
    Guarded(state, [&] {
        TBenchActions actions;
        const TServiceActions& a = actions.Actions();
        QWidget owner;
        owner.resize(GridSize);
        owner.show();
        QMenu menu(&owner);
        int items = 0;
        for (auto _ : state) {
            menu.clear();
            auto add = [](QMenu& target, const TAction* action) {
                auto* item = new QAction(action->text(), &target);
                item->setShortcut(action->shortcut());
                target.addAction(item);
            };
            add(menu, a.REditCopy1);
            // The table has no SYS$STATE: no attributes item, as in the grid's menu.
            for (const TAction* action : {a.RecordInsertAction1, a.RecordEditAction1, a.RecordDeleteAction1})
                add(menu, action);
            menu.addSeparator();
            for (const TAction* action : {a.RecordMarkAction1, a.RecordMarkGroupAction1, a.RecordMarkAllAction1})
                add(menu, action);
            menu.addSeparator();
            for (const TAction* action : {a.FindAction1, a.SumAction1, a.RecordCountAction1, a.SortAction1,
                                          a.SortCancelAction1, a.FilterAction1, a.FilterCancelAction1})
                add(menu, action);
            menu.addSeparator();
            QMenu* group = menu.addMenu(QStringLiteral("Групповые корректировки"));
            for (const TAction* action : {a.GroupDeleteAction1, a.GroupReplaceAction1, a.GroupFillAction1,
                                          a.GroupAddAction1, a.GroupMulAction1})
                add(*group, action);
            menu.addSeparator();
            add(menu, a.StdPrintAction1);
            add(menu, a.StdExcelAction1);
            menu.addSeparator();
            add(menu, a.GridCustomizeAction1);
            menu.popup(owner.mapToGlobal(QPoint(100, 100)));
            menu.hide();
            items = CountItems(menu);
        }
        state.counters["items"] = items;
    });
}

void GridPaging_QSqlTableModel(benchmark::State& state)
{
    const QString connection = QStringLiteral("bench");
    Guarded(state, [&] {
        QSqlDatabase database = OpenQIBASE(connection, Database().Path());
        Check(database.transaction(), "QIBASE: no transaction");
        const TMemoryProbe probe;
        const auto fetched = FetchedTableModel(database, TableName(LargeRows), SDSNames::Id);
        QSqlTableModel& model = *fetched;
        Check(model.rowCount() == BenchRowCount(LargeRows), "the model did not fetch every row");
        state.counters["kept_bytes_per_row"] = probe.KeptBytesPerRow(BenchRowCount(LargeRows));
        for (auto _ : state) {
            state.PauseTiming();
            // The same rows and columns on screen as the grid shows.
            QTableView view;
            view.setWordWrap(false);
            view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
            view.verticalHeader()->setDefaultSectionSize(view.fontMetrics().height() + 6);
            TPainter painter(view);
            state.ResumeTiming();

            view.setModel(&model);
            view.setColumnHidden(0, true); // SYS$ID, which the grid does not show
            for (int i = 0; i < int(std::size(ColumnWidths)); ++i)
                view.setColumnWidth(i + 1, ColumnWidths[i]);
            view.setCurrentIndex(model.index(0, 1));
            painter.Paint();
            int row = model.rowCount() - 1;
            view.setCurrentIndex(model.index(row, 1));
            painter.Paint();
            const int screen = std::max(1, view.viewport()->height() / view.verticalHeader()->defaultSectionSize());
            for (int page = 0; page < Pages; ++page) {
                row = std::max(0, row - screen);
                view.setCurrentIndex(model.index(row, 1));
                painter.Paint();
            }

            state.PauseTiming();
            SaveImage(painter.Image(), "GridPaging-QSqlTableModel");
            view.setModel(nullptr);
            state.ResumeTiming();
        }
        state.SetItemsProcessed(state.iterations() * (Pages + 2));
        database.commit();
        database.close();
    });
    QSqlDatabase::removeDatabase(connection);
}

void Paging(benchmark::internal::Benchmark* b)
{
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3)->DisplayAggregatesOnly(true);
}

} // namespace

BENCHMARK(GridPaging_Ours)->Name("GridPaging/Ours")->Apply(Paging);
BENCHMARK(GridPaging_Small)->Name("GridPaging/Small")->Apply(Paging);
BENCHMARK(GridPaging_QSqlTableModel)->Name("GridPaging/QSqlTableModel")->Apply(Paging);
BENCHMARK(GridPaging_OursFramework)->Name("GridPaging/OursFramework")->Apply(Paging);
BENCHMARK(MenuOpen_Ours)->Name("MenuOpen/Ours")->Unit(benchmark::kMicrosecond);
BENCHMARK(MenuOpen_QMenu)->Name("MenuOpen/QMenu")->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int result = RunDatabaseBenchmarks<QApplication>(argc, argv, "bench_grid", [] {
        Database();
        Loaded(LargeRows);
        Loaded(SmallRows);
    });
    LoadedTables().clear();
    return result;
}
