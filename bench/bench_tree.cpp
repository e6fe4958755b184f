// Opening a large group in the tree over a levelled data set, rendered
// offscreen: the tree built over the open data set, the group of 10,000
// leaves opened and the first screen painted.
//   TreeExpand/Ours                  TDBSTreeView over a TSDS of 500,000 rows
//   TreeExpand/Small                 the same group in a TSDS of 50,000 rows
//                                    (opening a group must not cost more
//                                    because the table is larger)
//   TreeExpand/QStandardItemModel    QTreeView over a QStandardItemModel
//                                    filled with the same 500,000-row tree
//                                    (what a tree that copies the table pays
//                                    to show it: the fill is timed)
//   TreeExpand/QStandardItemModelPrefilled  the same with the model filled
//                                    before the clock: opening and painting alone
// Loading the rows (the data set's open; for the peer, reading the rows into
// plain vectors) happens before the clock.
// goal: TreeExpand/Ours <= 1.2x TreeExpand/Small
// goal: TreeExpand/Ours <= 1.0x TreeExpand/QStandardItemModel
#include "BenchFirebird.h"
#include "BenchSupport.h"

#include "DBSTreeView.h"
#include "Fields.h"
#include "SDS.h"
#include "SDataSource.h"

#include <QApplication>
#include <QHash>
#include <QImage>
#include <QStandardItemModel>
#include <QTreeView>

#include <map>
#include <memory>
#include <vector>

namespace {

const int LargeRows = 500000;
const int SmallRows = 50000;
const int GroupLeaves = 10000;
const int OtherGroups = 100;
const QSize TreeSize(400, 600);

QString TableName(int rows) { return QStringLiteral("TREE_%1").arg(rows); }

// Group 1 holds leaves 2 to 10,001; the root also holds 100 other groups,
// among which every further row is a leaf.
void BuildTable(TIBDatabase& database, int nominalRows)
{
    const int rows = std::max(BenchRowCount(nominalRows), GroupLeaves + OtherGroups + 2);
    ExecuteCommitted(database, QStringLiteral("create table %1 (\n"
                                              "  SYS$ID integer not null primary key,\n"
                                              "  SYS$PID integer, SYS$STATE integer, NAME varchar(40))")
                                   .arg(TableName(nominalRows)));
    const QString values = QStringLiteral(
                               "      :i + 1,\n"
                               "      case when :i = 0 then 0 when :i <= %1 then 1 when :i <= %2 then 0\n"
                               "           else %3 + mod(:i, %4) end,\n"
                               "      case when :i = 0 or (:i > %1 and :i <= %2) then 0 else 1073741824 end,\n"
                               "      'Запись номер ' || :i\n")
                               .arg(GroupLeaves)
                               .arg(GroupLeaves + OtherGroups)
                               .arg(GroupLeaves + 2)
                               .arg(OtherGroups);
    InsertRows(database, TableName(nominalRows), values, rows);
}

const TScratchDatabase& Database()
{
    static const TScratchDatabase database([](TIBDatabase& db) {
        BuildTable(db, LargeRows);
        BuildTable(db, SmallRows);
    });
    return database;
}

// One open levelled data set per table for the whole run.
struct TLoadedTree : TBenchConnection<TIBDatabase>
{
    TSDS Data;

    explicit TLoadedTree(int rows) : TBenchConnection(Database().Path())
    {
        Data.setObjectName(TableName(rows));
        Data.SetDatabase(&Connection);
        Data.SetTransaction(&Transaction);
        Data.SetTableName(TableName(rows));
        Data.SetOptions(Data.Options() + TSDSOptions{dsoLevels});
        Data.Open();
        if (Transaction.InTransaction())
            Transaction.Commit();
        Check(Data.LevelCount() == 1, "the data set does not browse levels");
    }
};

std::map<int, std::unique_ptr<TLoadedTree>>& LoadedTrees()
{
    static std::map<int, std::unique_ptr<TLoadedTree>> trees;
    return trees;
}

TLoadedTree& Loaded(int rows)
{
    auto& tree = LoadedTrees()[rows];
    if (!tree)
        tree = std::make_unique<TLoadedTree>(rows);
    return *tree;
}

void SaveImage(const QImage& image, const char* name)
{
    if (qEnvironmentVariableIsSet("BENCH_IMAGES"))
        image.save(qEnvironmentVariable("BENCH_IMAGES") + QLatin1Char('/') + QLatin1String(name) + ".png");
}

// The view shown offscreen at a fixed size, painted into one image.
struct TShownView
{
    explicit TShownView(QTreeView& view) : View(view), Image(TreeSize, QImage::Format_ARGB32_Premultiplied)
    {
        view.setUniformRowHeights(true);
        view.setHeaderHidden(true);
        view.resize(TreeSize);
        view.show();
    }
    void Paint() { View.render(&Image); }
    QTreeView& View;
    QImage Image;
};

void ExpandGroup(benchmark::State& state, int rows, const char* name)
{
    Guarded(state, [&] {
        TSDS& data = Loaded(rows).Data;
        for (auto _ : state) {
            state.PauseTiming();
            TSDataSource source;
            source.SetDataSet(&data);
            TDBSTreeView tree;
            TShownView shown(tree);
            state.ResumeTiming();

            tree.SetDataField(QStringLiteral("NAME"));
            tree.SetDataSource(&source);
            tree.BuildTree(QStringLiteral("\\"));
            const QModelIndex group = tree.model()->index(0, 0, tree.model()->index(0, 0));
            tree.expand(group);
            shown.Paint();

            state.PauseTiming();
            Check(tree.model()->rowCount(group) == GroupLeaves, "the group did not open whole");
            SaveImage(shown.Image, name);
            tree.SetDataSource(nullptr);
            state.ResumeTiming();
        }
    });
}

void TreeExpand_Ours(benchmark::State& state) { ExpandGroup(state, LargeRows, "TreeExpand-Ours"); }

void TreeExpand_Small(benchmark::State& state) { ExpandGroup(state, SmallRows, "TreeExpand-Small"); }

// The rows as plain values, read once before the clock.
struct TPlainRows
{
    std::vector<int> Ids, ParentIds;
    QStringList Names;
};

const TPlainRows& PlainRows()
{
    static const TPlainRows rows = [] {
        TPlainRows plain;
        TSDS& data = Loaded(LargeRows).Data;
        data.SetLevelMode(dslmShowAll);
        TField* id = data.FieldByName(QStringLiteral("SYS$ID"));
        TField* parent = data.FieldByName(QStringLiteral("SYS$PID"));
        TField* name = data.FieldByName(QStringLiteral("NAME"));
        for (data.First(); !data.Eof(); data.Next()) {
            plain.Ids.push_back(id->AsInteger());
            plain.ParentIds.push_back(parent->AsInteger());
            plain.Names.append(name->AsString());
        }
        data.SetLevelMode(dslmDefault);
        return plain;
    }();
    return rows;
}

// Every row an item under its parent's item, the root's under one top item.
std::unique_ptr<QStandardItemModel> FilledModel(const TPlainRows& rows)
{
    auto model = std::make_unique<QStandardItemModel>();
    auto* top = new QStandardItem(QStringLiteral("\\"));
    QHash<int, QStandardItem*> items;
    items.reserve(static_cast<qsizetype>(rows.Ids.size()));
    std::vector<QStandardItem*> made(rows.Ids.size());
    for (size_t i = 0; i < rows.Ids.size(); ++i) {
        made[i] = new QStandardItem(rows.Names[static_cast<qsizetype>(i)]);
        items.insert(rows.Ids[i], made[i]);
    }
    // Children in row order, appended a parent at a time.
    QHash<QStandardItem*, QList<QStandardItem*>> children;
    for (size_t i = 0; i < rows.Ids.size(); ++i) {
        QStandardItem* parent = rows.ParentIds[i] == 0 ? top : items.value(rows.ParentIds[i]);
        children[parent ? parent : top].append(made[i]);
    }
    for (auto it = children.begin(); it != children.end(); ++it)
        for (QStandardItem* child : it.value())
            it.key()->appendRow(child);
    model->appendRow(top);
    return model;
}

void ExpandStandardModel(benchmark::State& state, bool fillTimed)
{
    Guarded(state, [&] {
        const TPlainRows& rows = PlainRows();
        for (auto _ : state) {
            state.PauseTiming();
            std::unique_ptr<QStandardItemModel> model;
            if (!fillTimed)
                model = FilledModel(rows);
            QTreeView view;
            TShownView shown(view);
            state.ResumeTiming();

            if (fillTimed)
                model = FilledModel(rows);
            view.setModel(model.get());
            const QModelIndex top = model->index(0, 0);
            view.expand(top);
            const QModelIndex group = model->index(0, 0, top);
            view.expand(group);
            shown.Paint();

            state.PauseTiming();
            Check(model->rowCount(group) == GroupLeaves, "the group did not open whole");
            SaveImage(shown.Image, "TreeExpand-QStandardItemModel");
            view.setModel(nullptr);
            model.reset();
            state.ResumeTiming();
        }
    });
}

void TreeExpand_QStandardItemModel(benchmark::State& state) { ExpandStandardModel(state, true); }

void TreeExpand_QStandardItemModelPrefilled(benchmark::State& state) { ExpandStandardModel(state, false); }

void Expanding(benchmark::internal::Benchmark* b)
{
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5)->Repetitions(3)->DisplayAggregatesOnly(true);
}

} // namespace

BENCHMARK(TreeExpand_Ours)->Name("TreeExpand/Ours")->Apply(Expanding);
BENCHMARK(TreeExpand_Small)->Name("TreeExpand/Small")->Apply(Expanding);
BENCHMARK(TreeExpand_QStandardItemModel)->Name("TreeExpand/QStandardItemModel")->Apply(Expanding);
BENCHMARK(TreeExpand_QStandardItemModelPrefilled)->Name("TreeExpand/QStandardItemModelPrefilled")->Apply(Expanding);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int result = RunDatabaseBenchmarks<QApplication>(argc, argv, "bench_tree", [] {
        Database();
        Loaded(LargeRows);
        Loaded(SmallRows);
        PlainRows();
    });
    LoadedTrees().clear();
    return result;
}
