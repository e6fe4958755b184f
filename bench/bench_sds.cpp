// Opening the framework's data set on a large relation, beside its floor and
// its peer, and opening it from the local cache beside the full load; all on
// the same embedded database, in one run:
//   OpenSDS/Ours            TSDS with default options on a TSDatabase (the
//                           framework's connection, MetadataCache on: field
//                           and index definitions come from the metadata
//                           tables read once at connect, as in the program)
//   OpenSDS/PlainFetch      TIBSQL running the data set's own select, every
//                           column of every row read with the getter the
//                           data set uses: what any loader must pay
//   OpenSDS/QSqlTableModel  Qt's Firebird driver (QIBASE, embedded like the
//                           others): QSqlTableModel sorted by the key as the
//                           data set's select is, select() then fetchMore
//                           until it has every row
//   CacheOpen/Ours          a dsoLocalCachData data set on a connection with
//                           LocalCache on, opened from its cache file with
//                           no rows changed on the server since
//   CacheOpen/FullLoad      the same data set without the cache: every row
//                           from the server
//   CacheOpenTimeIndex/...  both again once SYS$TIME has an index, which
//                           the merge of server changes can use
// Connections are opened before the clock, as a program has them open, and
// the engine's page cache holds the relation (see main); each open is timed
// alone, the close that empties it is not.
// Rows: the client-layer benchmark's columns (an integer, two VARCHARs, one
// of them Cyrillic, a NUMERIC(15,2), a TIMESTAMP) plus the system columns
// SYS$ID (primary key), SYS$PID, SYS$STATE and SYS$TIME; UTF8 throughout.
//
// BENCH_ROWS overrides the row count, for profiling.

#include "BenchFirebird.h"
#include "BenchQSql.h"
#include "BenchSupport.h"
#include "IBDatabase.h"
#include "IBSQL.h"
#include "SDS.h"
#include "SDatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QTemporaryDir>
#include <QVariant>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace {

constexpr int DefaultRowCount = 500'000;

int RowCount()
{
    static const int rows = BenchRowCount(DefaultRowCount);
    return rows;
}

const QString TableName = QStringLiteral("BENCH_ROWS");

// ------------------------------------------------------------------ database

// The framework's objects (its connection opens the users at connect) and
// the rows.
void BuildDatabase(TIBDatabase& connection)
{
    RunFrameworkScript(connection);

    ExecuteCommitted(connection, QStringLiteral("create table BENCH_ROWS (SYS$ID integer not null primary key, "
                                                "SYS$PID integer, SYS$STATE integer not null, SYS$TIME timestamp, "
                                                "ID integer not null, NAME varchar(40), CITY varchar(30), "
                                                "AMOUNT numeric(15,2), CREATED timestamp)"));
    // Parents in groups of a hundred; every row a leaf of owner 1..7.
    InsertRows(connection, TableName,
               QStringLiteral("      :i + 1, :i / 100, 1073741824 + mod(:i, 7) + 1,\n"
                              "      dateadd(:i second to timestamp '2024-01-01 00:00:00'),\n")
                   + ClientColumnValues(),
               RowCount());
}

const TScratchDatabase& Database()
{
    static const TScratchDatabase database(BuildDatabase);
    return database;
}

// TEMP for the local cache.
QString CacheTemp()
{
    return Database().FilePath(QStringLiteral("temp"));
}

// ---------------------------------------------------------------- checking

// What every peer adds up over the rows it read; equal sums show equal values.
struct TCheck
{
    int64_t Rows = 0;
    int64_t Keys = 0;  // SYS$ID + SYS$PID + SYS$STATE
    int64_t Ids = 0;
    int64_t Chars = 0; // NAME and CITY
    int64_t Cents = 0;
    double Days = 0;   // CREATED and SYS$TIME as TDateTime

    void Add(int64_t keys, int64_t id, qsizetype chars, double amount, double days)
    {
        ++Rows;
        Keys += keys;
        Ids += id;
        Chars += chars;
        Cents += std::llround(amount * 100);
        Days += days;
    }
};

TCheck Reference;
bool ReferenceSet = false;

// Ours and the plain fetch agree on every sum; QSqlTableModel on all but the
// timestamps (its QDateTime is local time, not a day count).
void Agree(const TCheck& check, bool withDays)
{
    Check(check.Rows == RowCount(), "rows missing");
    if (!ReferenceSet) {
        Reference = check;
        ReferenceSet = true;
    }
    Check(check.Keys == Reference.Keys && check.Ids == Reference.Ids && check.Chars == Reference.Chars
              && check.Cents == Reference.Cents && (!withDays || std::fabs(check.Days - Reference.Days) < 1e-3),
          "the values read differ from the other peers'");
}

TCheck Walk(TSDS& sds)
{
    TCheck check;
    TField* keys[] = {sds.FieldByName(SDSNames::Id), sds.FieldByName(SDSNames::ParentId),
                      sds.FieldByName(SDSNames::State)};
    TField* id = sds.FieldByName(QStringLiteral("ID"));
    TField* name = sds.FieldByName(QStringLiteral("NAME"));
    TField* city = sds.FieldByName(QStringLiteral("CITY"));
    TField* amount = sds.FieldByName(QStringLiteral("AMOUNT"));
    TField* created = sds.FieldByName(QStringLiteral("CREATED"));
    TField* time = sds.FieldByName(SDSNames::Time);
    for (sds.First(); !sds.Eof(); sds.Next())
        check.Add(int64_t(keys[0]->AsInteger()) + keys[1]->AsInteger() + keys[2]->AsInteger(), id->AsInteger(),
                  name->AsString().size() + city->AsString().size(), amount->AsFloat(),
                  created->AsDateTime() + time->AsDateTime());
    return check;
}

// ---------------------------------------------------------------------- Ours

// The framework's connection with a read-only transaction for the data sets.
struct TFrameworkConnection
{
    TSDatabase Connection;
    TIBTransaction Transaction;

    explicit TFrameworkConnection(bool localCache)
    {
        Connection.SetDatabaseName(Database().Path());
        Connection.SetParams(ConnectParams);
        Connection.SetLocalCache(localCache);
        Transaction.SetDefaultDatabase(&Connection);
        Transaction.SetParams(ReadParams);
        Connection.SetDefaultTransaction(&Transaction);
        Connection.Open();
    }

    std::unique_ptr<TSDS> NewSDS(TSDSOptions options)
    {
        auto sds = std::make_unique<TSDS>();
        sds->setObjectName(QStringLiteral("BenchRows"));
        sds->SetDatabase(&Connection);
        sds->SetTransaction(&Transaction);
        sds->SetTableName(TableName);
        sds->SetOptions(options);
        return sds;
    }

    // Ends the reading transaction the last open left running.
    void EndReading()
    {
        if (Transaction.InTransaction())
            Transaction.Commit();
    }
};

// Opens a data set made by newSDS once per iteration; only the open is timed.
template <typename NewSDS>
void TimeOpens(benchmark::State& state, TFrameworkConnection& connection, NewSDS newSDS)
{
    std::unique_ptr<TSDS> sds;
    TMemoryProbe probe;
    for (auto _ : state) {
        state.PauseTiming();
        sds.reset();
        connection.EndReading();
        sds = newSDS();
        probe.Restart();
        state.ResumeTiming();
        sds->Open();
    }
    probe.Report(state, RowCount());
    Agree(Walk(*sds), true);
    state.SetItemsProcessed(state.iterations() * RowCount());
}

void OpenSDS_Ours(benchmark::State& state)
{
    Guarded(state, [&] {
        TFrameworkConnection connection(false);
        TimeOpens(state, connection, [&] { return connection.NewSDS(DefaultSDSOptions); });
    });
}

// --------------------------------------------------------------- PlainFetch

// A plain client-layer connection with a read-only transaction.
struct TPlainConnection
{
    TIBDatabase Connection;
    TIBTransaction Transaction;

    TPlainConnection()
    {
        Connection.SetDatabaseName(Database().Path());
        Connection.SetParams(ConnectParams);
        Connection.Open();
        Transaction.SetDefaultDatabase(&Connection);
        Transaction.SetParams(ReadParams);
    }
};

// The data set's own select, prepared without loading a row.
const QString& SelectText()
{
    static const QString text = [] {
        TPlainConnection plain;
        TSDS sds;
        sds.SetDatabase(&plain.Connection);
        sds.SetTransaction(&plain.Transaction);
        sds.SetTableName(TableName);
        sds.SetOptions(DefaultSDSOptions - TSDSOptions{dsoLoadData});
        sds.Open();
        return sds.SelectSQL().SQL().Text();
    }();
    return text;
}

// Runs the select and reads every column of every row with the getter the
// data set uses for it.
TCheck FetchAll(TPlainConnection& plain)
{
    TCheck check;
    plain.Transaction.StartTransaction();
    TIBSQL sql;
    sql.SetTransaction(&plain.Transaction);
    sql.SQL().SetText(SelectText());
    sql.ExecQuery();
    const TIBXSQLVAR& id = sql.FieldByName(SDSNames::Id);
    const TIBXSQLVAR& parent = sql.FieldByName(SDSNames::ParentId);
    const TIBXSQLVAR& stateColumn = sql.FieldByName(SDSNames::State);
    const TIBXSQLVAR& time = sql.FieldByName(SDSNames::Time);
    const TIBXSQLVAR& number = sql.FieldByName(QStringLiteral("ID"));
    const TIBXSQLVAR& name = sql.FieldByName(QStringLiteral("NAME"));
    const TIBXSQLVAR& city = sql.FieldByName(QStringLiteral("CITY"));
    const TIBXSQLVAR& amount = sql.FieldByName(QStringLiteral("AMOUNT"));
    const TIBXSQLVAR& created = sql.FieldByName(QStringLiteral("CREATED"));
    const TIBXSQLVAR& dbKey = sql.FieldByName(SDSNames::DbKey);
    Check(sql.FieldCount() == 10, "the select has other columns than expected");
    for (; !sql.Eof(); sql.Next()) {
        const QString nameValue = name.AsString();
        const QString cityValue = city.AsString();
        const QByteArray dbKeyValue = dbKey.AsBytes();
        benchmark::DoNotOptimize(nameValue.constData());
        benchmark::DoNotOptimize(cityValue.constData());
        benchmark::DoNotOptimize(dbKeyValue.constData());
        check.Add(int64_t(id.AsInteger()) + parent.AsInteger() + stateColumn.AsInteger(), number.AsInteger(),
                  nameValue.size() + cityValue.size(), amount.AsDouble(), created.AsDateTime() + time.AsDateTime());
    }
    sql.Close();
    plain.Transaction.Commit();
    return check;
}

void OpenSDS_PlainFetch(benchmark::State& state)
{
    Guarded(state, [&] {
        TPlainConnection plain;
        SelectText();
        TCheck check;
        TMemoryProbe probe;
        for (auto _ : state) {
            state.PauseTiming();
            probe.Restart();
            state.ResumeTiming();
            check = FetchAll(plain);
        }
        probe.Report(state, RowCount());
        Agree(check, true);
        state.SetItemsProcessed(state.iterations() * RowCount());
    });
}

// ----------------------------------------------------------- QSqlTableModel

TCheck Walk(const QSqlTableModel& model)
{
    TCheck check;
    const QSqlRecord record = model.record();
    auto column = [&](const char* name) {
        const int index = record.indexOf(QLatin1String(name));
        Check(index >= 0, "a column is missing from the model");
        return index;
    };
    const int keys[] = {column("SYS$ID"), column("SYS$PID"), column("SYS$STATE")};
    const int id = column("ID"), name = column("NAME"), city = column("CITY"), amount = column("AMOUNT");
    for (int row = 0; row < model.rowCount(); ++row) {
        auto value = [&](int c) { return model.data(model.index(row, c)); };
        check.Add(value(keys[0]).toLongLong() + value(keys[1]).toLongLong() + value(keys[2]).toLongLong(),
                  value(id).toInt(), value(name).toString().size() + value(city).toString().size(),
                  value(amount).toDouble(), 0);
    }
    return check;
}

void OpenSDS_QSqlTableModel(benchmark::State& state)
{
    const QString connection = QStringLiteral("bench");
    Guarded(state, [&] {
        QSqlDatabase database = OpenQIBASE(connection, Database().Path());
        std::unique_ptr<QSqlTableModel> model;
        TMemoryProbe probe;
        // Each open in a transaction of its own, ended with the model.
        const auto endModel = [&] {
            if (model) {
                model.reset();
                database.commit();
            }
        };
        for (auto _ : state) {
            state.PauseTiming();
            endModel();
            Check(database.transaction(), "QIBASE: no transaction");
            probe.Restart();
            state.ResumeTiming();
            model = std::make_unique<QSqlTableModel>(nullptr, database);
            model->setEditStrategy(QSqlTableModel::OnManualSubmit);
            model->setTable(TableName);
            model->setSort(model->fieldIndex(SDSNames::Id), Qt::AscendingOrder);
            if (!model->select())
                throw std::runtime_error(qPrintable(model->lastError().text()));
            while (model->canFetchMore())
                model->fetchMore();
        }
        probe.Report(state, RowCount());
        Agree(Walk(*model), false);
        state.SetItemsProcessed(state.iterations() * RowCount());
        endModel();
        database.close();
    });
    QSqlDatabase::removeDatabase(connection);
}

// ----------------------------------------------------------------- CacheOpen

const TSDSOptions CachedOptions = DefaultSDSOptions + TSDSOptions{dsoLocalCachData};

// The local cache lives under TEMP: the run's own folder, with the data
// set's file written once by a full load.
TFrameworkConnection& CacheConnection()
{
    static std::unique_ptr<TFrameworkConnection> connection = [] {
        QDir().mkpath(CacheTemp());
        qputenv("TEMP", QFile::encodeName(CacheTemp()));
        auto result = std::make_unique<TFrameworkConnection>(true);
        QString file;
        {
            std::unique_ptr<TSDS> sds = result->NewSDS(CachedOptions);
            sds->Open();
            file = sds->CacheFileName();
        } // written as the data set goes
        result->EndReading();
        Check(!file.isEmpty() && QFileInfo::exists(file), "the cache file was not written");
        return result;
    }();
    return *connection;
}

// The merge after a cache load asks the server for the rows changed since
// the newest SYS$TIME: without an index on it, the server reads every row.
TFrameworkConnection& TimeIndexedCacheConnection()
{
    static TFrameworkConnection& connection = []() -> TFrameworkConnection& {
        TFrameworkConnection& cached = CacheConnection();
        ExecuteCommitted(cached.Connection, QStringLiteral("create index BENCH_ROWS_TIME on BENCH_ROWS (SYS$TIME)"));
        return cached;
    }();
    return connection;
}

void CacheOpen(benchmark::State& state, TSDSOptions options, bool timeIndex)
{
    Guarded(state, [&] {
        TFrameworkConnection& connection = timeIndex ? TimeIndexedCacheConnection() : CacheConnection();
        TimeOpens(state, connection, [&] { return connection.NewSDS(options); });
    });
}

} // namespace

BENCHMARK(OpenSDS_Ours)->Name("OpenSDS/Ours")->Apply(EveryRowOnce);
BENCHMARK(OpenSDS_PlainFetch)->Name("OpenSDS/PlainFetch")->Apply(EveryRowOnce);
BENCHMARK(OpenSDS_QSqlTableModel)->Name("OpenSDS/QSqlTableModel")->Apply(EveryRowOnce);
BENCHMARK_CAPTURE(CacheOpen, Ours, CachedOptions, false)->Name("CacheOpen/Ours")->Apply(EveryRowOnce);
BENCHMARK_CAPTURE(CacheOpen, FullLoad, DefaultSDSOptions, false)->Name("CacheOpen/FullLoad")->Apply(EveryRowOnce);
// After the groups above: the index stays.
BENCHMARK_CAPTURE(CacheOpen, Ours, CachedOptions, true)->Name("CacheOpenTimeIndex/Ours")->Apply(EveryRowOnce);
BENCHMARK_CAPTURE(CacheOpen, FullLoad, DefaultSDSOptions, true)
    ->Name("CacheOpenTimeIndex/FullLoad")
    ->Apply(EveryRowOnce);

int main(int argc, char** argv)
{
    // The engine keeps a database's page cache while it has an attachment;
    // one held for the whole run, having read every row, keeps the cache
    // filled and out of every peer's memory and time.
    std::unique_ptr<TPlainConnection> keeper;
    return RunDatabaseBenchmarks(argc, argv, "bench_sds", [&] {
        Database();
        keeper = std::make_unique<TPlainConnection>();
        FetchAll(*keeper);
    });
}
