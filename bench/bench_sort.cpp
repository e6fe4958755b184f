// Sorting loaded rows by clicked fields, beside its peer and its floor, in
// one run:
//   SortByClick/Ours                   the framework's data source over an
//                                      in-memory table: a click on a string
//                                      field and then on an integer field
//                                      (AddSortField twice), then the view
//                                      walked in the new order through the
//                                      data set API reading both fields
//   SortByClick/QSortFilterProxyModel  QSortFilterProxyModel::sort over a
//                                      table model of the same rows: by the
//                                      string column, then by both columns,
//                                      then the proxy's rows read through data()
//   SortByClick/Floor                  std::stable_sort of row numbers by the
//                                      string key, then by both keys, then a
//                                      walk over the sorted numbers
// Rows: a name of 10 to 20 letters out of 50,000 (so the second field
// decides among equal names) and a quantity. Between iterations the table
// forgets the indexes the clicks built (untimed), so each click sorts.
//
// BENCH_ROWS overrides the row count (default 500,000), for profiling.

#include "BenchRowsModel.h"
#include "BenchSupport.h"
#include "MemTable.h"
#include "SDataSource.h"

#include <QSortFilterProxyModel>
#include <QString>
#include <QVariant>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

namespace {

int RowCount()
{
    static const int rows = BenchRowCount(500'000);
    return rows;
}

struct TSource
{
    std::vector<QString> Names;
    std::vector<int> Quantities;
};

const TSource& Source()
{
    static const TSource source = [] {
        std::mt19937_64 random(20261210);
        std::uniform_int_distribution<int> length(10, 20);
        std::uniform_int_distribution<int> letter('a', 'z');
        std::vector<QString> pool(50'000);
        for (QString& name : pool) {
            name = QString(length(random), Qt::Uninitialized);
            for (QChar& c : name)
                c = QChar(letter(random));
        }
        std::uniform_int_distribution<size_t> pick(0, pool.size() - 1);
        std::uniform_int_distribution<int> quantity(0, 1'000'000);
        TSource s;
        for (int i = 0; i < RowCount(); ++i) {
            s.Names.push_back(pool[pick(random)]);
            s.Quantities.push_back(quantity(random));
        }
        return s;
    }();
    return source;
}

// Whether a walk met the rows in name, then quantity order.
class TOrderCheck
{
public:
    void Next(const QString& name, int quantity)
    {
        if (FAny && (name < FName || (name == FName && quantity < FQuantity)))
            FInOrder = false;
        FName = name;
        FQuantity = quantity;
        FAny = true;
    }
    bool InOrder() const { return FInOrder; }

private:
    QString FName;
    int FQuantity = 0;
    bool FAny = false;
    bool FInOrder = true;
};

// ---------------------------------------------------------------- Ours

void SortByClick_Ours(benchmark::State& state)
{
    Guarded(state, [&] {
        TCustomMemTable table;
        table.FieldDefs().Add(QStringLiteral("NAME"), ftString, 20);
        table.FieldDefs().Add(QStringLiteral("QTY"), ftInteger);
        table.Open();
        TField* name = table.FieldByName(QStringLiteral("NAME"));
        TField* quantity = table.FieldByName(QStringLiteral("QTY"));
        const TSource& source = Source();
        table.DisableControls();
        for (size_t i = 0; i < source.Names.size(); ++i) {
            table.Append();
            name->SetAsString(source.Names[i]);
            quantity->SetAsInteger(source.Quantities[i]);
            table.Post();
        }
        table.EnableControls();
        TSDataSource dataSource;
        dataSource.SetDataSet(&table);
        bool inOrder = true;
        for (auto _ : state) {
            dataSource.AddSortField(QStringLiteral("NAME"));
            dataSource.AddSortField(QStringLiteral("QTY"));
            table.DisableControls();
            TOrderCheck check;
            int64_t sum = 0;
            for (table.First(); !table.Eof(); table.Next()) {
                const QString text = name->AsString();
                const int value = quantity->AsInteger();
                sum += text.size() + value;
                check.Next(text, value);
            }
            benchmark::DoNotOptimize(sum);
            state.PauseTiming();
            inOrder = inOrder && check.InOrder();
            table.EnableControls();
            dataSource.RemoveSortField();
            dataSource.RemoveSortField();
            table.DeleteIndexes(); // the next clicks sort again
            state.ResumeTiming();
        }
        Check(inOrder, "the walk follows the clicked order");
        state.SetItemsProcessed(state.iterations() * RowCount());
    });
}

// ---------------------------------------------------------------- QSortFilterProxyModel

// Sorts by the name column; with ByBoth, equal names by quantity.
class TSortProxy : public QSortFilterProxyModel
{
public:
    bool ByBoth = false;

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override
    {
        const QString a = left.data().toString();
        const QString b = right.data().toString();
        if (!ByBoth || a != b)
            return a < b;
        const QAbstractItemModel* model = sourceModel();
        return model->index(left.row(), 1).data().toInt() < model->index(right.row(), 1).data().toInt();
    }
};

void SortByClick_QSortFilterProxyModel(benchmark::State& state)
{
    Guarded(state, [&] {
        const TSource& source = Source();
        TRowsModel<int> model(source.Names, source.Quantities);
        TSortProxy proxy;
        proxy.setSourceModel(&model);
        bool inOrder = true;
        for (auto _ : state) {
            proxy.ByBoth = false;
            proxy.sort(0);
            proxy.ByBoth = true;
            proxy.invalidate();
            proxy.sort(0);
            TOrderCheck check;
            int64_t sum = 0;
            const int rows = proxy.rowCount();
            for (int row = 0; row < rows; ++row) {
                const QString text = proxy.index(row, 0).data().toString();
                const int value = proxy.index(row, 1).data().toInt();
                sum += text.size() + value;
                check.Next(text, value);
            }
            benchmark::DoNotOptimize(sum);
            state.PauseTiming();
            inOrder = inOrder && check.InOrder();
            proxy.sort(-1); // back to the source order
            state.ResumeTiming();
        }
        Check(inOrder, "the walk follows the clicked order");
        state.SetItemsProcessed(state.iterations() * RowCount());
    });
}

// ---------------------------------------------------------------- Floor

void SortByClick_Floor(benchmark::State& state)
{
    Guarded(state, [&] {
        const TSource& source = Source();
        std::vector<uint32_t> order(source.Names.size());
        bool inOrder = true;
        for (auto _ : state) {
            std::iota(order.begin(), order.end(), 0u);
            std::stable_sort(order.begin(), order.end(),
                             [&](uint32_t a, uint32_t b) { return source.Names[a] < source.Names[b]; });
            std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
                const int c = QString::compare(source.Names[a], source.Names[b]);
                return c != 0 ? c < 0 : source.Quantities[a] < source.Quantities[b];
            });
            TOrderCheck check;
            int64_t sum = 0;
            for (uint32_t i : order) {
                sum += source.Names[i].size() + source.Quantities[i];
                check.Next(source.Names[i], source.Quantities[i]);
            }
            benchmark::DoNotOptimize(sum);
            inOrder = inOrder && check.InOrder();
        }
        Check(inOrder, "the walk follows the clicked order");
        state.SetItemsProcessed(state.iterations() * RowCount());
    });
}

void Repeated(benchmark::internal::Benchmark* b)
{
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3)->DisplayAggregatesOnly(true);
}

} // namespace

// The index the clicks build sorts by the texts' sort keys, not by
// comparing strings: it stays ahead of sorting row numbers by the strings.
// goal: SortByClick/Ours <= 1.0x SortByClick/Floor
// goal: SortByClick/Ours <= 0.25x SortByClick/QSortFilterProxyModel
BENCHMARK(SortByClick_Ours)->Name("SortByClick/Ours")->Apply(Repeated);
BENCHMARK(SortByClick_QSortFilterProxyModel)->Name("SortByClick/QSortFilterProxyModel")->Apply(Repeated);
BENCHMARK(SortByClick_Floor)->Name("SortByClick/Floor")->Apply(Repeated);

BENCHMARK_MAIN();
