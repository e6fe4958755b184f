// Locking one record and unlocking it again, a round trip to the Firebird
// server on 127.0.0.1 (scripts/fbserver start; FB_SERVER names it as
// "host/port", FB_PASSWORD is SYSDBA's password, "masterkey" when unset):
//   Ours   TUserSession::LockRecord then UnlockRecord: two calls of the
//          session functions in the connection's read-only transaction
//   Floor  Firebird's own row lock: "select ... with lock" of the same row in
//          a read-write transaction, then commit, on the plain OO API with
//          the statement prepared once
// Without FB_SERVER both are skipped with a message.

#include "BenchFirebird.h"
#include "BenchSupport.h"
#include "IBApi.h"
#include "SDatabase.h"
#include "SDatabaseSession.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>

namespace {

using namespace Firebird;

const char* const LockQuery = "select ID from LOCK_ROW where ID = 1 with lock";

struct TServerDatabase
{
    QString Name; // empty without a server
    QStringList Params;
    TRecordID Row{};
};

QString Password()
{
    return qEnvironmentVariableIsSet("FB_PASSWORD") ? qEnvironmentVariable("FB_PASSWORD") : QStringLiteral("masterkey");
}

// A database on the server with the framework's objects and one row, made
// once, dropped at exit.
class TBenchServerDatabase
{
public:
    TBenchServerDatabase()
    {
        const QString server = qEnvironmentVariable("FB_SERVER");
        if (server.isEmpty())
            return;
        if (!FDir.isValid())
            throw std::runtime_error("cannot create a temporary folder");
        FData.Name = server + QLatin1Char(':') + FDir.filePath(QStringLiteral("session-bench.fdb"));
        FData.Params = {QStringLiteral("user_name=SYSDBA"), QStringLiteral("password=") + Password(),
                        QStringLiteral("lc_ctype=WIN1251")};
        TIBDatabase database;
        database.SetDatabaseName(FData.Name);
        database.SetParams(FData.Params);
        database.CreateDatabase();
        RunFrameworkScript(database);
        ExecuteCommitted(database,
                         QStringLiteral("create table LOCK_ROW (ID integer not null primary key, NAME varchar(20))"));
        ExecuteCommitted(database, QStringLiteral("insert into LOCK_ROW values (1, 'one')"));

        TIBTransaction read;
        read.SetDefaultDatabase(&database);
        read.StartTransaction();
        TIBSQL key;
        key.SetTransaction(&read);
        key.SQL().SetText(QStringLiteral("select rdb$db_key from LOCK_ROW where ID = 1"));
        key.ExecQuery();
        const QByteArray bytes = key.Fields(0).AsBytes();
        Check(bytes.size() == 8, "a row address of 8 bytes");
        std::copy(bytes.begin(), bytes.end(), FData.Row.begin());
        key.Close();
        read.Commit();
        FDropOnExit = true;
    }

    ~TBenchServerDatabase()
    {
        if (!FDropOnExit)
            return;
        try {
            TIBDatabase database;
            database.SetDatabaseName(FData.Name);
            database.SetParams(FData.Params);
            database.Open();
            database.DropDatabase();
        } catch (...) {
        }
    }

    const TServerDatabase& Data() const { return FData; }

private:
    QTemporaryDir FDir;
    TServerDatabase FData;
    bool FDropOnExit = false;
};

const TServerDatabase& Server()
{
    static TBenchServerDatabase database;
    return database.Data();
}

void LockUnlock_Ours(benchmark::State& state)
{
    if (Server().Name.isEmpty()) {
        state.SkipWithError("FB_SERVER is not set (scripts/fbserver start)");
        return;
    }
    Guarded(state, [&] {
        TSDatabase database;
        database.SetDatabaseName(Server().Name);
        database.SetParams(Server().Params);
        database.Open();
        TUserSession& session = *database.Session();
        session.Register(1);
        for (auto _ : state) {
            session.LockRecord(Server().Row, false);
            session.UnlockRecord(Server().Row);
        }
    });
}

void LockUnlock_Floor(benchmark::State& state)
{
    if (Server().Name.isEmpty()) {
        state.SkipWithError("FB_SERVER is not set (scripts/fbserver start)");
        return;
    }
    Guarded(state, [&] {
        IBApi::TStatus status;
        IMaster* master = IBApi::Master();
        IXpbBuilder* dpb = IBApi::Util()->getXpbBuilder(&status, IXpbBuilder::DPB, nullptr, 0);
        dpb->insertString(&status, isc_dpb_user_name, "SYSDBA");
        dpb->insertString(&status, isc_dpb_password, Password().toUtf8().constData());
        dpb->insertString(&status, isc_dpb_lc_ctype, "WIN1251");
        const QByteArray name = QFile::encodeName(Server().Name);
        IAttachment* attachment = master->getDispatcher()->attachDatabase(
            &status, name.constData(), dpb->getBufferLength(&status), dpb->getBuffer(&status));
        dpb->dispose();

        const unsigned char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed, isc_tpb_rec_version,
                                     isc_tpb_nowait};
        // Prepared once, in a transaction of its own; each lock runs in a new one.
        ITransaction* preparing = attachment->startTransaction(&status, sizeof tpb, tpb);
        IStatement* statement = attachment->prepare(&status, preparing, 0, LockQuery, 3,
                                                    IStatement::PREPARE_PREFETCH_METADATA);
        preparing->commit(&status);
        IMessageMetadata* meta = statement->getOutputMetadata(&status);
        std::vector<unsigned char> row(meta->getMessageLength(&status));
        int64_t locked = 0;
        for (auto _ : state) {
            ITransaction* transaction = attachment->startTransaction(&status, sizeof tpb, tpb);
            IResultSet* cursor = statement->openCursor(&status, transaction, nullptr, nullptr, meta, 0);
            if (cursor->fetchNext(&status, row.data()) == IStatus::RESULT_OK)
                ++locked;
            cursor->close(&status);
            transaction->commit(&status);
        }
        Check(locked == static_cast<int64_t>(state.iterations()), "every iteration locked the row");
        meta->release();
        statement->free(&status);
        attachment->detach(&status);
    });
}

} // namespace

BENCHMARK(LockUnlock_Ours)->Name("LockUnlock/Ours")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(LockUnlock_Floor)->Name("LockUnlock/Floor")->Unit(benchmark::kMicrosecond)->UseRealTime();

int main(int argc, char** argv)
{
    return RunDatabaseBenchmarks(argc, argv, "bench_session", [] { Server(); });
}
