// Updating the states of all 56 actions of the catalogue after a move of the
// focused grid's cursor, as every move of a form's grid does: the framework
// grid focused over the framework's data source of a 1,000-row in-memory
// table, the module's states brought up to date after each Next.
//   ActionUpdate/Ours    one cursor move and the update of all 56 states
//   ActionUpdate/Floor   the cursor move alone (the grid following it)
#include "CommonInterfaceRes.h"
#include "DBSGridEx.h"
#include "MemTable.h"
#include "SDataSource.h"

#include <QApplication>
#include <QVBoxLayout>
#include <benchmark/benchmark.h>

namespace {

void Run(benchmark::State& state, bool update)
{
    TCommonInterfaceScope module;
    TCustomMemTable table;
    table.FieldDefs().Add(QStringLiteral("ID"), ftInteger, 0, true);
    table.FieldDefs().Add(QStringLiteral("NAME"), ftString, 30);
    table.FieldDefs().Add(QStringLiteral("QTY"), ftFloat);
    table.Open();
    for (int id = 1; id <= 1000; ++id) {
        table.Append();
        table.FieldByName(QStringLiteral("ID"))->SetAsInteger(id);
        table.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("Row %1").arg(id));
        table.FieldByName(QStringLiteral("QTY"))->SetAsFloat(id * 1.5);
        table.Post();
    }
    table.First();
    TSDataSource source;
    source.SetDataSet(&table);
    QWidget form;
    auto* layout = new QVBoxLayout(&form);
    auto* grid = new TDBSGridEx(&form);
    grid->SetDataSource(&source);
    layout->addWidget(grid);
    form.resize(600, 400);
    form.show();
    QApplication::setActiveWindow(&form);
    grid->setFocus();
    QApplication::processEvents();
    if (QApplication::focusWidget() != grid) {
        state.SkipWithError("the grid has no focus");
        return;
    }
    for (auto _ : state) {
        table.Next();
        if (table.Eof())
            table.First();
        if (update)
            I()->UpdateActions();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(I()->Actions().size()));
}

void ActionUpdate_Ours(benchmark::State& state) { Run(state, true); }
void ActionUpdate_Floor(benchmark::State& state) { Run(state, false); }

void Options(benchmark::internal::Benchmark* b)
{
    b->Unit(benchmark::kMicrosecond)->MinTime(0.5)->Repetitions(3)->DisplayAggregatesOnly(true);
}

} // namespace

BENCHMARK(ActionUpdate_Ours)->Name("ActionUpdate/Ours")->Apply(Options);
BENCHMARK(ActionUpdate_Floor)->Name("ActionUpdate/Floor")->Apply(Options);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
