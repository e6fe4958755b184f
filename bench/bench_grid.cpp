// The data grid on a Firebird table, rendered offscreen into an image: the
// first screen after the data set is attached, a jump to the last row, then
// 1,000 screens paged upwards, each painted.
//   GridPaging/Ours             TDBGridEx over a TSDS of 500,000 rows
//   GridPaging/Small            the same over 50,000 rows (a screen must not
//                               cost more because the table is larger)
//   GridPaging/QSqlTableModel   QTableView over QSqlTableModel on the
//                               500,000 rows, all fetched first
// Loading the rows (the data set's open, the model's fetch) happens before
// the clock: only showing them is timed. kept_bytes_per_row is what the
// loaded rows keep resident: the data set's, the model's.
// goal: GridPaging/Ours <= 0.5x GridPaging/QSqlTableModel
// goal: GridPaging/Ours <= 1.3x GridPaging/Small
// goal: GridPaging/Ours kept_bytes_per_row <= 150
#include "BenchFirebird.h"
#include "BenchQSql.h"
#include "BenchSupport.h"

#include "DBGridEx.h"
#include "SDS.h"

#include <QApplication>
#include <QHeaderView>
#include <QImage>
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
struct TLoadedTable
{
    TIBDatabase Connection;
    TIBTransaction Transaction;
    TSDS Data;
    double KeptBytesPerRow = 0; // by the open data set

    explicit TLoadedTable(int rows)
    {
        Connection.SetDatabaseName(Database().Path());
        Connection.SetParams(ConnectParams);
        Connection.Open();
        const TMemoryProbe probe; // the rows', not the connection's
        Transaction.SetDefaultDatabase(&Connection);
        Transaction.SetParams(ReadParams);
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

void PageGrid(benchmark::State& state, int rows, const char* name)
{
    Guarded(state, [&] {
        TSDS& data = Loaded(rows).Data;
        for (auto _ : state) {
            state.PauseTiming();
            data.First();
            TDataSource source;
            source.SetDataSet(&data);
            TDBGridEx grid;
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

void GridPaging_Ours(benchmark::State& state) { PageGrid(state, LargeRows, "GridPaging-Ours"); }

void GridPaging_Small(benchmark::State& state) { PageGrid(state, SmallRows, "GridPaging-Small"); }

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
