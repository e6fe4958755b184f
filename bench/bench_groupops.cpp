// Group operations over the marked rows of a large data set, beside their
// floor and peer, on one embedded database of 500,000 rows with 100,000 of
// them (every fifth) marked, in one run:
//   GroupReplace/Ours            RunGroupOperation(goFill) on the marked
//                                rows of a TSDS without dsoAutoCommit: the
//                                walk, Edit, the field set, Post (the update
//                                by row address) per row, one commit
//   GroupReplace/Floor           one prepared TIBSQL update by key over the
//                                same rows, one commit
//   GroupReplace/QSqlTableModel  Qt's Firebird driver (QIBASE): setData on the
//                                first 10,000 marked rows with OnFieldChange,
//                                one commit
//   GroupSum/Ours                RunGroupOperation(goSum) on the marked rows
//                                (its message answered by a scripted backend)
//   GroupSum/Floor               a plain loop over the same values held in a
//                                vector, with a mark flag per row
// The data set and the model are loaded, and the rows marked, before the
// clock starts. Every repetition writes new values (a peer may skip a value
// a row already holds: the same value again measured next to nothing).
//
// Qt's peer: with OnManualSubmit every index() and rowCount() walks the
// model's list of pending edits, so editing 100,000 rows is quadratic and
// does not finish; OnRowChange refuses the edit of the next row with an
// empty error. OnFieldChange writes each edit at once (a prepared update)
// and reads the row back: its cost per row does not depend on how many rows
// are edited, so it is measured on 10,000 of them, and the goals compare
// the time per row (each reports its counter "rows", which bench/run divides
// by).
//
// BENCH_ROWS overrides the row count, for profiling.

#include "BenchFirebird.h"
#include "BenchQSql.h"
#include "BenchSupport.h"
#include "Dialogs.h"
#include "IBDatabase.h"
#include "IBSQL.h"
#include "SDS.h"
#include "SDataSource.h"
#include "SDatabase.h"
#include "URecordMarker.h"
#include "uIterators.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlTableModel>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

constexpr int DefaultRowCount = 500'000;
constexpr int MarkStep = 5; // every fifth row: 100,000 of 500,000

int RowCount()
{
    static const int rows = BenchRowCount(DefaultRowCount);
    return rows;
}

int MarkedCount() { return (RowCount() + MarkStep - 1) / MarkStep; }

// Qt's model writes and reads back one row per edit (see the header): the
// first this many marked rows show its cost per row.
constexpr int QSqlEditedRows = 10'000;
int QSqlEditedCount() { return std::min(MarkedCount(), QSqlEditedRows); }

// The row of the view position (0-based) is SYS$ID position + 1; the marked
// ones are those whose position is a multiple of MarkStep.
bool IsMarkedPosition(int position) { return position % MarkStep == 0; }

const QString TableName = QStringLiteral("GROUP_ROWS");

void BuildDatabase(TIBDatabase& connection)
{
    RunFrameworkScript(connection);
    ExecuteCommitted(connection, QStringLiteral("create table GROUP_ROWS (SYS$ID integer not null primary key, "
                                                "SYS$STATE integer, NAME varchar(40), VAL integer, "
                                                "AMOUNT numeric(15,2), SYS$TIME timestamp)"));
    InsertRows(connection, TableName,
               QStringLiteral(":i + 1, 1073741824, 'Строка ' || :i, mod(:i, 97), :i * 0.5, current_timestamp"),
               RowCount());
}

const TScratchDatabase& Database()
{
    static const TScratchDatabase database(BuildDatabase);
    return database;
}

// The framework's side, loaded once for the run: the connection, a
// read-committed transaction (the peers' commits do not conflict with it),
// the data set without dsoAutoCommit and its data source with every fifth
// row marked.
struct TMarkedRows : TBenchConnection<TSDatabase>
{
    TSDS Rows;
    TSDataSource Source;

    TMarkedRows()
        : TBenchConnection(Database().Path(), {QStringLiteral("write"), QStringLiteral("read_committed"),
                                               QStringLiteral("rec_version"), QStringLiteral("nowait")})
    {
        Rows.setObjectName(QStringLiteral("GroupRows"));
        Rows.SetDatabase(&Connection);
        Rows.SetTransaction(&Transaction);
        Rows.SetTableName(TableName);
        Rows.SetOptions(DefaultSDSOptions - TSDSOptions{dsoAutoCommit});
        Rows.SetIndexFieldNames(QStringLiteral("SYS$ID"));
        Rows.Open();
        Check(Rows.RecordCount() == RowCount(), "the data set holds another number of rows");
        Source.SetDataSet(&Rows);
        TMemRecordMarker& marker = *Source.RecordMarker();
        Rows.DisableControls();
        int position = 0;
        for (Rows.First(); !Rows.Eof(); Rows.Next(), ++position)
            if (IsMarkedPosition(position))
                marker.ToggleCurrent();
        Rows.EnableControls();
        Rows.First();
        Check(marker.MarkedCount() == MarkedCount(), "another number of rows is marked");
    }
};

TMarkedRows& Marked()
{
    static TMarkedRows rows;
    return rows;
}

void GroupReplace_Ours(benchmark::State& state)
{
    Guarded(state, [&] {
        TMarkedRows& rows = Marked();
        // Every repetition writes values of its own: a value a row already
        // holds may be skipped by a peer.
        static int round = 0;
        GroupOperationAskValue = [](const QString&, uint8_t, Variant& value) {
            value = Variant(1000 + round);
            return true;
        };
        for (auto _ : state) {
            ++round;
            RunGroupOperation(&rows.Source, rows.Rows.FieldByName(QStringLiteral("VAL")), goFill);
            rows.Transaction.CommitRetaining();
        }
        GroupOperationAskValue = nullptr;
        Check(rows.Rows.FieldByName(QStringLiteral("VAL"))->AsInteger() == 1000 + round,
              "the first row was not filled");
        state.SetItemsProcessed(state.iterations() * MarkedCount());
        state.counters["rows"] = MarkedCount();
    });
}

void GroupReplace_Floor(benchmark::State& state)
{
    Guarded(state, [&] {
        TIBDatabase connection;
        connection.SetDatabaseName(Database().Path());
        connection.SetParams(ConnectParams);
        connection.Open();
        TIBTransaction transaction;
        transaction.SetDefaultDatabase(&connection);
        TIBSQL update;
        update.SetTransaction(&transaction);
        update.SQL().SetText(QStringLiteral("update GROUP_ROWS set VAL = :VAL where SYS$ID = :ID"));
        static int round = 0;
        for (auto _ : state) {
            ++round;
            transaction.StartTransaction();
            if (!update.Prepared())
                update.Prepare();
            for (int position = 0; position < RowCount(); position += MarkStep) {
                update.ParamByName(QStringLiteral("VAL")).SetAsInteger(2000 + round);
                update.ParamByName(QStringLiteral("ID")).SetAsInteger(position + 1);
                update.ExecQuery();
            }
            transaction.Commit();
        }
        state.SetItemsProcessed(state.iterations() * MarkedCount());
        state.counters["rows"] = MarkedCount();
    });
}

void GroupReplace_QSqlTableModel(benchmark::State& state)
{
    const QString connectionName = QStringLiteral("bench_groupops");
    const int edited = QSqlEditedCount();
    Guarded(state, [&] {
        QSqlDatabase database = OpenQIBASE(connectionName, Database().Path());
        static int round = 0;
        for (auto _ : state) {
            state.PauseTiming();
            ++round;
            Check(database.transaction(), "QIBASE: no transaction");
            auto model = FetchedTableModel(database, TableName, SDSNames::Id);
            model->setEditStrategy(QSqlTableModel::OnFieldChange);
            const int column = model->fieldIndex(QStringLiteral("VAL"));
            Check(model->rowCount() == RowCount(), "QIBASE: the model holds another number of rows");
            state.ResumeTiming();
            for (int row = 0; row < edited * MarkStep; row += MarkStep)
                if (!model->setData(model->index(row, column), 3000 + round))
                    throw std::runtime_error(
                        qPrintable(QStringLiteral("QIBASE: setData refused: ") + model->lastError().text()));
            Check(database.commit(), "QIBASE: commit failed");
            state.PauseTiming();
            model.reset();
            QSqlQuery written(QStringLiteral("select count(*) from GROUP_ROWS where VAL = %1").arg(3000 + round),
                              database);
            Check(written.next() && written.value(0).toInt() == edited, "QIBASE: the rows were not written");
            state.ResumeTiming();
        }
        state.SetItemsProcessed(state.iterations() * edited);
        state.counters["rows"] = edited;
        database.close();
    });
    QSqlDatabase::removeDatabase(connectionName);
}

void GroupSum_Ours(benchmark::State& state)
{
    Guarded(state, [&] {
        TMarkedRows& rows = Marked();
        TField* amount = rows.Rows.FieldByName(QStringLiteral("AMOUNT"));
        const TScriptedDialogsGuard dialogs;
        for (auto _ : state) {
            RunGroupOperation(&rows.Source, amount, goSum);
            state.PauseTiming();
            Check(dialogs->Messages.size() == 1, "the sum was not shown");
            dialogs->Messages.clear();
            state.ResumeTiming();
        }
        state.SetItemsProcessed(state.iterations() * MarkedCount());
    });
}

void GroupSum_Floor(benchmark::State& state)
{
    Guarded(state, [&] {
        // The same values as the data set holds them, a mark flag per row.
        std::vector<double> amounts(static_cast<size_t>(RowCount()));
        std::vector<uint8_t> marks(amounts.size());
        for (size_t i = 0; i < amounts.size(); ++i) {
            amounts[i] = static_cast<double>(i) * 0.5;
            marks[i] = IsMarkedPosition(static_cast<int>(i));
        }
        for (auto _ : state) {
            double sum = 0;
            for (size_t i = 0; i < amounts.size(); ++i)
                if (marks[i])
                    sum += amounts[i];
            benchmark::DoNotOptimize(sum);
        }
        state.SetItemsProcessed(state.iterations() * MarkedCount());
    });
}

void Repeated(benchmark::internal::Benchmark* b)
{
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3)->DisplayAggregatesOnly(true);
}

void RepeatedFast(benchmark::internal::Benchmark* b)
{
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20)->Repetitions(3)->DisplayAggregatesOnly(true);
}

} // namespace

// goal: GroupReplace/Ours <= 2.0x GroupReplace/Floor
// goal: GroupReplace/Ours <= 1.0x GroupReplace/QSqlTableModel
// goal: GroupSum/Ours <= 1.5x GroupSum/Floor
BENCHMARK(GroupReplace_Ours)->Name("GroupReplace/Ours")->Apply(Repeated);
BENCHMARK(GroupReplace_Floor)->Name("GroupReplace/Floor")->Apply(Repeated);
BENCHMARK(GroupReplace_QSqlTableModel)->Name("GroupReplace/QSqlTableModel")->Apply(Repeated);
BENCHMARK(GroupSum_Ours)->Name("GroupSum/Ours")->Apply(RepeatedFast);
BENCHMARK(GroupSum_Floor)->Name("GroupSum/Floor")->Apply(RepeatedFast);

int main(int argc, char** argv)
{
    return RunDatabaseBenchmarks(argc, argv, "bench_groupops", [] { Database(); });
}
