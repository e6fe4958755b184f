// Updating through the framework's data set, beside its floor and its peer,
// on one embedded database of 100,000 rows, in one run:
//   Update/Ours            TSDS with default options on a TSDatabase: Edit,
//                          two fields set, Post (the update by row address,
//                          committed retaining as the options ask)
//   Update/OursOneCommit   the same without dsoAutoCommit: one commit at the
//                          end, as the floor does (what the per-post commit
//                          of the default options costs)
//   Update/OursLockAudit   the same with dsoPessimisticLock and dsoAudit on a
//                          registered session: a record lock per edit, the
//                          audit text sent with the unlock
//   Update/Small           OursOneCommit on the same 10,000 rows with only
//                          them loaded (a server filter keeps every tenth
//                          row): the same server work on a table a tenth
//                          the size, so a post that costs more on a larger
//                          table shows
//   Update/Floor           one prepared TIBSQL update by key, run per row
//   Update/QSqlTableModel  Qt's Firebird driver (QIBASE): setData on the
//                          two columns of each row, submitAll with manual
//                          submit
// Each iteration updates 10,000 rows (every tenth) and commits once at the
// end (Ours commits each post retaining, as its options ask); the data sets
// and the model are loaded before the clock starts.
//
// BENCH_ROWS overrides the row count, for profiling.

#include "BenchFirebird.h"
#include "BenchQSql.h"
#include "BenchSupport.h"
#include "IBDatabase.h"
#include "IBSQL.h"
#include "SDS.h"
#include "SDatabase.h"
#include "SDatabaseSession.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlTableModel>
#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>

namespace {

constexpr int DefaultRowCount = 100'000;
constexpr int UpdateCount = 10'000;

int RowCount()
{
    static const int rows = BenchRowCount(DefaultRowCount);
    return rows;
}

int Step() { return std::max(1, RowCount() / UpdateCount); }

const QString TableName = QStringLiteral("EDIT_ROWS");

void BuildDatabase(TIBDatabase& connection)
{
    RunFrameworkScript(connection);
    ExecuteCommitted(connection, QStringLiteral("create table EDIT_ROWS (SYS$ID integer not null primary key, "
                                                "SYS$STATE integer, NAME varchar(40), AMOUNT numeric(15,2), "
                                                "SYS$TIME timestamp)"));
    InsertRows(connection, TableName,
               QStringLiteral(":i + 1, 1073741824, 'Строка ' || :i, :i * 0.5, current_timestamp"), RowCount());
}

const TScratchDatabase& Database()
{
    static const TScratchDatabase database(BuildDatabase);
    return database;
}

// A framework connection with one read-write transaction for the data set.
struct TEditConnection : TBenchConnection<TSDatabase>
{
    TEditConnection() : TBenchConnection(Database().Path(), {}) {}
};

// Edit, two fields set, Post on every step-th row from the first, 10,000
// times; the data set reads the rows serverFilter keeps (all without one).
void UpdateOurs(benchmark::State& state, TSDSOptions extra, TSDSOptions removed, const QString& serverFilter = {})
{
    const int step = serverFilter.isEmpty() ? Step() : 1;
    Guarded(state, [&] {
        TEditConnection connection;
        if (!(extra == TSDSOptions{}))
            connection.Connection.Session()->Register(1);
        TSDS sds;
        sds.setObjectName(QStringLiteral("EditRows"));
        sds.SetDatabase(&connection.Connection);
        sds.SetTransaction(&connection.Transaction);
        sds.SetTableName(TableName);
        sds.SetOptions(DefaultSDSOptions + extra - removed);
        sds.SetServerFilter(serverFilter);
        sds.Open();
        Check(sds.RecordCount() >= UpdateCount, "the data set holds fewer rows than it updates");
        TField* name = sds.FieldByName(QStringLiteral("NAME"));
        TField* amount = sds.FieldByName(QStringLiteral("AMOUNT"));
        int round = 0;
        for (auto _ : state) {
            ++round;
            sds.First();
            for (int i = 0; i < UpdateCount && !sds.Eof(); ++i) {
                sds.Edit();
                name->SetAsString(QStringLiteral("Изменено %1").arg(round));
                amount->SetAsFloat(amount->AsFloat() + 1);
                sds.Post();
                sds.MoveBy(step);
            }
            connection.Transaction.CommitRetaining();
        }
        state.SetItemsProcessed(state.iterations() * UpdateCount);
        sds.Close();
        if (connection.Transaction.InTransaction())
            connection.Transaction.Commit();
    });
}

// Every Step-th row from the first: the rows the others update.
void Update_Small(benchmark::State& state)
{
    UpdateOurs(state, TSDSOptions{}, TSDSOptions{dsoAutoCommit}, QStringLiteral("mod(SYS$ID - 1, %1) = 0").arg(Step()));
}

void Update_Floor(benchmark::State& state)
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
        update.SQL().SetText(
            QStringLiteral("update EDIT_ROWS set NAME = :NAME, AMOUNT = AMOUNT + 1 where SYS$ID = :ID"));
        int round = 0;
        for (auto _ : state) {
            ++round;
            transaction.StartTransaction();
            if (!update.Prepared())
                update.Prepare();
            const QString name = QStringLiteral("Изменено %1").arg(round);
            for (int i = 0; i < UpdateCount; ++i) {
                update.ParamByName(QStringLiteral("NAME")).SetAsString(name);
                update.ParamByName(QStringLiteral("ID")).SetAsInteger(1 + i * Step());
                update.ExecQuery();
            }
            transaction.Commit();
        }
        state.SetItemsProcessed(state.iterations() * UpdateCount);
    });
}

void Update_QSqlTableModel(benchmark::State& state)
{
    const QString connectionName = QStringLiteral("bench_edit");
    Guarded(state, [&] {
        QSqlDatabase database = OpenQIBASE(connectionName, Database().Path());
        int round = 0;
        for (auto _ : state) {
            state.PauseTiming();
            ++round;
            Check(database.transaction(), "QIBASE: no transaction");
            auto model = FetchedTableModel(database, TableName, SDSNames::Id);
            const int nameColumn = model->fieldIndex(QStringLiteral("NAME"));
            const int amountColumn = model->fieldIndex(QStringLiteral("AMOUNT"));
            state.ResumeTiming();
            const QString name = QStringLiteral("Изменено %1").arg(round);
            for (int i = 0; i < UpdateCount; ++i) {
                const int row = i * Step();
                model->setData(model->index(row, nameColumn), name);
                model->setData(model->index(row, amountColumn), model->index(row, amountColumn).data().toDouble() + 1);
            }
            if (!model->submitAll())
                throw std::runtime_error(qPrintable(model->lastError().text()));
            Check(database.commit(), "QIBASE: commit failed");
            state.PauseTiming();
            model.reset();
            state.ResumeTiming();
        }
        state.SetItemsProcessed(state.iterations() * UpdateCount);
        database.close();
    });
    QSqlDatabase::removeDatabase(connectionName);
}

void Repeated(benchmark::internal::Benchmark* b)
{
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3)->DisplayAggregatesOnly(true);
}

} // namespace

// The commit per post that the default options ask for is the server's to
// pay; the engine's own part of a post is what the single commit shows, and
// it must not grow with the table.
// goal: Update/Ours <= 1.0x Update/QSqlTableModel
// goal: Update/OursOneCommit <= 1.5x Update/Floor
// goal: Update/OursOneCommit <= 1.2x Update/Small
BENCHMARK_CAPTURE(UpdateOurs, Ours, TSDSOptions{}, TSDSOptions{})->Name("Update/Ours")->Apply(Repeated);
BENCHMARK_CAPTURE(UpdateOurs, OursOneCommit, TSDSOptions{}, TSDSOptions{dsoAutoCommit})
    ->Name("Update/OursOneCommit")
    ->Apply(Repeated);
BENCHMARK(Update_Small)->Name("Update/Small")->Apply(Repeated);
BENCHMARK_CAPTURE(UpdateOurs, OursLockAudit, (TSDSOptions{dsoPessimisticLock, dsoAudit}), TSDSOptions{})
    ->Name("Update/OursLockAudit")
    ->Apply(Repeated);
BENCHMARK(Update_Floor)->Name("Update/Floor")->Apply(Repeated);
BENCHMARK(Update_QSqlTableModel)->Name("Update/QSqlTableModel")->Apply(Repeated);

int main(int argc, char** argv)
{
    return RunDatabaseBenchmarks(argc, argv, "bench_sdsedit", [] { Database(); });
}
