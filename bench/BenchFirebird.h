// What the benchmarks on a Firebird database share: the engine's lock
// folder, statements run while the database is built, and a main that builds
// it before the clock starts.
#pragma once

#include "IBDatabase.h"
#include "IBSQL.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <exception>
#include <stdexcept>

// Every connection of a run: UTF8 both ways, so all peers decode the same
// bytes; rows read in read-only, read-committed transactions.
inline const QStringList ConnectParams = {QStringLiteral("user_name=SYSDBA"), QStringLiteral("lc_ctype=UTF8")};
inline const QStringList ReadParams = {QStringLiteral("read"), QStringLiteral("read_committed"),
                                       QStringLiteral("rec_version"), QStringLiteral("nowait")};

// A connection of the run to the database at path, opened, with one
// transaction for its statements and data sets (params empty: the client's
// defaults). Database is the client's TIBDatabase or the framework's
// TSDatabase; the transaction is freed first.
template <class Database>
struct TBenchConnection
{
    Database Connection;
    TIBTransaction Transaction;

    explicit TBenchConnection(const QString& path, const QStringList& params = ReadParams)
    {
        Connection.SetDatabaseName(path);
        Connection.SetParams(ConnectParams);
        Transaction.SetDefaultDatabase(&Connection);
        if (!params.isEmpty())
            Transaction.SetParams(params);
        Connection.Open();
    }
};

// The engine's default lock folder (/tmp/firebird) may belong to someone
// else; one of this run's own, inside its scratch folder. The engine's root
// is ours (build/.../fbroot), which finds the session functions that
// framework.sql declares.
inline void UseOwnLockFolder(const QTemporaryDir& scratch)
{
    if (!qEnvironmentVariableIsSet("FIREBIRD"))
        qputenv("FIREBIRD", FIREBIRD_ROOT);
    if (qEnvironmentVariableIsSet("FIREBIRD_LOCK"))
        return;
    const QString lock = scratch.filePath(QStringLiteral("lock"));
    QDir().mkpath(lock);
    qputenv("FIREBIRD_LOCK", QFile::encodeName(lock));
}

// A database of the run's own, in a scratch folder removed with it: build
// fills it on the connection that created it.
class TScratchDatabase
{
public:
    template <typename Build>
    explicit TScratchDatabase(Build build)
    {
        if (!FDir.isValid())
            throw std::runtime_error("cannot create a temporary folder");
        UseOwnLockFolder(FDir);
        FPath = FDir.filePath(QStringLiteral("bench.fdb"));
        TIBDatabase database;
        database.SetDatabaseName(FPath);
        database.SetParams(ConnectParams);
        database.CreateDatabase();
        build(database);
        database.Close();
    }

    QString Path() const { return FPath; }
    // Another file or folder in the scratch folder.
    QString FilePath(const QString& name) const { return FDir.filePath(name); }

private:
    QTemporaryDir FDir;
    QString FPath;
};

// One statement in a transaction of its own, committed.
inline void ExecuteCommitted(TIBDatabase& database, const QString& text)
{
    TIBTransaction transaction;
    transaction.SetDefaultDatabase(&database);
    transaction.StartTransaction();
    TIBSQL sql;
    sql.SetTransaction(&transaction);
    sql.SetParamCheck(false); // a block's own :variables stay
    sql.SQL().SetText(text);
    sql.ExecQuery();
    sql.Close();
    transaction.Commit();
}

// The client-layer benchmark's five columns (ID, NAME, CITY, AMOUNT,
// CREATED) for row :i: Latin and Cyrillic text, a decimal, a timestamp.
inline QString ClientColumnValues()
{
    return QStringLiteral("      :i + 1,\n"
                          "      'Customer ' || mod(:i * 7919, 100003) || ' Ltd',\n"
                          "      'Город ' || mod(:i * 31, 997),\n"
                          "      (mod(:i * 7907, 10000000) - 2500000) / 100.00,\n"
                          "      dateadd(:i * 61 second to timestamp '2020-01-01 08:00:00')");
}

// The objects every framework database has (platform/fbserver/framework.sql):
// statements ended by ";", comment lines dropped.
inline void RunFrameworkScript(TIBDatabase& database)
{
    QFile framework(QStringLiteral(FRAMEWORK_SQL));
    if (!framework.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " FRAMEWORK_SQL);
    QString script;
    for (const QString& line : QString::fromUtf8(framework.readAll()).split(QLatin1Char('\n')))
        if (!line.trimmed().startsWith(QStringLiteral("--")))
            script += line + QLatin1Char('\n');
    for (const QString& statement : script.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        if (!statement.trimmed().isEmpty())
            ExecuteCommitted(database, statement);
}

// Inserts rows 0 .. rows - 1 into table, values being expressions over :i.
inline void InsertRows(TIBDatabase& database, const QString& table, const QString& values, int rows)
{
    ExecuteCommitted(database, QStringLiteral("execute block as\n"
                                              "declare i integer = 0;\n"
                                              "begin\n"
                                              "  while (i < %1) do begin\n"
                                              "    insert into %2 values (\n%3);\n"
                                              "    i = i + 1;\n"
                                              "  end\n"
                                              "end")
                                   .arg(rows)
                                   .arg(table, values));
}

// Reading every row is long enough to time on its own; the repetitions give
// the median the ratio table uses.
inline void EveryRowOnce(benchmark::internal::Benchmark* b)
{
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(5)->DisplayAggregatesOnly(true);
}

// The benchmarks' main: prepare (building the database) runs before the
// clock starts; its failure ends the run. Widgets need a QApplication.
template <typename Application = QCoreApplication, typename Prepare>
int RunDatabaseBenchmarks(int argc, char** argv, const char* name, Prepare prepare)
{
    Application application(argc, argv); // Qt's SQL drivers are plugins
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    try {
        prepare();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: cannot create the database: %s\n", name, error.what());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
