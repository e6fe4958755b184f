// Filtering loaded rows by field filters, beside its peer and its floor, and
// marking every record, in one run:
//   FilterWalk/Ours                   a substring filter on a string field and
//                                     a number range on a double field, as a
//                                     data source hooks them into its table's
//                                     record filter; the filter is applied,
//                                     then the filtered view walked through
//                                     the data set API reading both fields
//   FilterWalk/QSortFilterProxyModel  the same comparisons in filterAcceptsRow
//                                     of a QSortFilterProxyModel over a table
//                                     model of the same rows, then the proxy's
//                                     rows read through data()
//   FilterWalk/Floor                  a plain loop over std::vectors of the
//                                     values doing the same comparisons, then
//                                     a walk over the indexes that passed
//   MarkAll/Ours                      the record marker marking every record
//                                     (the question answered Yes by a script)
// Rows: a name of 10 to 20 letters and an amount. The filter keeps about one
// row in twenty.
//
// BENCH_ROWS overrides the row count (default 500,000), for profiling.

#include "BenchRowsModel.h"
#include "BenchSupport.h"
#include "Dialogs.h"
#include "MemTable.h"
#include "SDataSource.h"
#include "URecordMarker.h"
#include "uFieldFilter.h"

#include <QSortFilterProxyModel>
#include <QString>
#include <QVariant>
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

namespace {

int RowCount()
{
    static const int rows = BenchRowCount(500'000);
    return rows;
}

const QString Needle = QStringLiteral("ab");
constexpr double AmountFrom = 1'000;
constexpr double AmountTo = 50'000;

struct TSource
{
    std::vector<QString> Names;
    std::vector<double> Amounts;
};

const TSource& Source()
{
    static const TSource source = [] {
        TSource s;
        std::mt19937_64 random(20261210);
        std::uniform_int_distribution<int> length(10, 20);
        std::uniform_int_distribution<int> letter('a', 'z');
        std::uniform_int_distribution<int> cents(0, 10'000'000);
        for (int i = 0; i < RowCount(); ++i) {
            QString name(length(random), Qt::Uninitialized);
            for (QChar& c : name)
                c = QChar(letter(random));
            name[0] = name[0].toUpper();
            s.Names.push_back(name);
            s.Amounts.push_back(cents(random) / 100.0);
        }
        return s;
    }();
    return source;
}

// The comparisons every peer makes, as the filters make them.
bool Passes(const QString& name, double amount, const QString& upperNeedle)
{
    return name.toUpper().contains(upperNeedle) && AmountFrom - FilterNumberTolerance <= amount
           && amount <= AmountTo + FilterNumberTolerance;
}

// ---------------------------------------------------------------- Ours

struct TOurs
{
    TCustomMemTable Table;
    TSDataSource Source;
    TMemRecordMarker& Marker = *Source.RecordMarker();
    TFieldFilters& Filters = Source.Filters();
    TField* Name = nullptr;
    TField* Amount = nullptr;

    TOurs()
    {
        Table.FieldDefs().Add(QStringLiteral("NAME"), ftString, 20);
        Table.FieldDefs().Add(QStringLiteral("AMOUNT"), ftFloat);
        Table.Open();
        Name = Table.FieldByName(QStringLiteral("NAME"));
        Amount = Table.FieldByName(QStringLiteral("AMOUNT"));
        const TSource& source = ::Source();
        Table.DisableControls();
        for (size_t i = 0; i < source.Names.size(); ++i) {
            Table.Append();
            Name->SetAsString(source.Names[i]);
            Amount->SetAsFloat(source.Amounts[i]);
            Table.Post();
        }
        Table.EnableControls();
        Source.SetDataSet(&Table);

        Filters.push_back(std::make_unique<TFieldFilter>(Name, fkSubstring));
        Filters.back()->Value = Needle;
        Filters.push_back(std::make_unique<TFieldFilter>(Amount, fkNumberRange));
        Filters.back()->NumberFrom = AmountFrom;
        Filters.back()->NumberTo = AmountTo;
        Source.SetFilterActive(true);
        Table.SetFiltered(false); // each iteration filters anew
    }
};

TOurs& Ours()
{
    static TOurs ours;
    return ours;
}

void FilterWalk_Ours(benchmark::State& state)
{
    Guarded(state, [&] {
        TOurs& ours = Ours();
        TCustomMemTable& table = ours.Table;
        int64_t rows = 0;
        for (auto _ : state) {
            table.DisableControls();
            table.SetFiltered(true);
            int64_t sum = 0;
            double total = 0;
            for (table.First(); !table.Eof(); table.Next()) {
                sum += ours.Name->AsString().size();
                total += ours.Amount->AsFloat();
            }
            rows = table.RecordCount();
            state.PauseTiming();
            table.SetFiltered(false);
            table.EnableControls();
            state.ResumeTiming();
            benchmark::DoNotOptimize(sum);
            benchmark::DoNotOptimize(total);
        }
        Check(rows > 0 && rows < RowCount(), "the filter keeps some rows");
        state.counters["rows_kept"] = static_cast<double>(rows);
        state.SetItemsProcessed(state.iterations() * RowCount());
    });
}

// ---------------------------------------------------------------- QSortFilterProxyModel

class TFilterProxy : public QSortFilterProxyModel
{
public:
    void Refilter() { invalidateFilter(); }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        const QAbstractItemModel* model = sourceModel();
        return Passes(model->index(row, 0, parent).data().toString(), model->index(row, 1, parent).data().toDouble(),
                      FUpperNeedle);
    }

private:
    const QString FUpperNeedle = Needle.toUpper();
};

void FilterWalk_QSortFilterProxyModel(benchmark::State& state)
{
    Guarded(state, [&] {
        const TSource& source = Source();
        TRowsModel<double> model(source.Names, source.Amounts);
        TFilterProxy proxy;
        proxy.setSourceModel(&model);
        int64_t rows = 0;
        for (auto _ : state) {
            proxy.Refilter();
            int64_t sum = 0;
            double total = 0;
            rows = proxy.rowCount();
            for (int row = 0; row < rows; ++row) {
                sum += proxy.index(row, 0).data().toString().size();
                total += proxy.index(row, 1).data().toDouble();
            }
            benchmark::DoNotOptimize(sum);
            benchmark::DoNotOptimize(total);
        }
        Check(rows > 0 && rows < RowCount(), "the filter keeps some rows");
        state.counters["rows_kept"] = static_cast<double>(rows);
        state.SetItemsProcessed(state.iterations() * RowCount());
    });
}

// ---------------------------------------------------------------- Floor

void FilterWalk_Floor(benchmark::State& state)
{
    Guarded(state, [&] {
        const TSource& source = Source();
        const QString upperNeedle = Needle.toUpper();
        std::vector<uint32_t> kept;
        for (auto _ : state) {
            kept.clear();
            for (size_t i = 0; i < source.Names.size(); ++i)
                if (Passes(source.Names[i], source.Amounts[i], upperNeedle))
                    kept.push_back(static_cast<uint32_t>(i));
            int64_t sum = 0;
            double total = 0;
            for (uint32_t i : kept) {
                sum += source.Names[i].size();
                total += source.Amounts[i];
            }
            benchmark::DoNotOptimize(sum);
            benchmark::DoNotOptimize(total);
        }
        state.counters["rows_kept"] = static_cast<double>(kept.size());
        state.SetItemsProcessed(state.iterations() * RowCount());
    });
}

// ---------------------------------------------------------------- MarkAll

void MarkAll_Ours(benchmark::State& state)
{
    Guarded(state, [&] {
        TOurs& ours = Ours();
        TScriptedDialogsGuard dialogs; // every question answered with its first button: Yes
        for (auto _ : state) {
            state.PauseTiming();
            ours.Marker.Clear();
            ours.Table.First();
            state.ResumeTiming();
            ours.Marker.ToggleAll();
        }
        Check(ours.Marker.MarkedCount() == RowCount(), "every record marked");
        state.SetItemsProcessed(state.iterations() * RowCount());
    });
}

void Repeated(benchmark::internal::Benchmark* b)
{
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3)->DisplayAggregatesOnly(true);
}

} // namespace

// goal: FilterWalk/Ours <= 1.5x FilterWalk/Floor
BENCHMARK(FilterWalk_Ours)->Name("FilterWalk/Ours")->Apply(Repeated);
BENCHMARK(FilterWalk_QSortFilterProxyModel)->Name("FilterWalk/QSortFilterProxyModel")->Apply(Repeated);
BENCHMARK(FilterWalk_Floor)->Name("FilterWalk/Floor")->Apply(Repeated);
BENCHMARK(MarkAll_Ours)->Name("MarkAll/Ours")->Apply(Repeated);

BENCHMARK_MAIN();
