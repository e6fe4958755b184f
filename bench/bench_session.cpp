// Locking one record and unlocking it again, a round trip to the Firebird
// server on 127.0.0.1 (scripts/fbserver start; FB_SERVER names it as
// "host/port", FB_PASSWORD is SYSDBA's password, "masterkey" when unset):
//   Ours   TUserSession::LockRecord then UnlockRecord: two calls of the
//          session functions in the connection's read-only transaction
//   Floor  Firebird's own row lock: "select ... with lock" of the same row in
//          a read-write transaction, then commit, on the plain OO API with
//          the statement prepared once
// Twenty clients, each a process of its own, committing increments of random
// rows of a 50-row table; the time from the start signal until every client
// has committed its share (posts_per_s: committed posts a second):
//   ConcurrentPosts/Ours          a TSDS with pessimistic locks, audit,
//          notices and a re-read before each edit, the session listening;
//          a row locked by another client is passed over for another one
//   ConcurrentPosts/FirebirdLock  the same increments with "select ... with
//          lock" and an update in a waiting read-write transaction, on the
//          plain OO API with the statements prepared once; a conflict is
//          rolled back and tried again
//   ConcurrentPosts/FirebirdLockAudit  FirebirdLock with an audit row
//          inserted into SYS$AUDIT in each change's transaction, as ours
//          writes one: what the audit itself costs a commit, without the
//          framework
// The clients are this program started again with --post-client.
// Without FB_SERVER all are skipped with a message.

#include "BenchFirebird.h"
#include "BenchSupport.h"
#include "IBApi.h"
#include "SDatabase.h"
#include "SDatabaseSession.h"

#include "Dialogs.h"
#include "Exceptions.h"
#include "SDS.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace Firebird;

const char* const LockQuery = "select ID from LOCK_ROW where ID = 1 with lock";
constexpr int PostRows = 50;
constexpr int PostsPerClient = 20;

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
        ExecuteCommitted(database, QStringLiteral("create table ITEM (SYS$ID integer not null primary key,"
                                                  " SYS$STATE integer default 0 not null, VAL integer not null)"));
        InsertRows(database, QStringLiteral("ITEM (SYS$ID, VAL)"), QStringLiteral(":i + 1, 0"), PostRows);

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

// An attachment through the client library alone, as SYSDBA, for the floors.
IAttachment* AttachWithoutFramework(IBApi::TStatus& status, const QString& name)
{
    IXpbBuilder* dpb = IBApi::Util()->getXpbBuilder(&status, IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(&status, isc_dpb_user_name, "SYSDBA");
    dpb->insertString(&status, isc_dpb_password, Password().toUtf8().constData());
    dpb->insertString(&status, isc_dpb_lc_ctype, "WIN1251");
    const QByteArray file = QFile::encodeName(name);
    IAttachment* attachment = IBApi::Master()->getDispatcher()->attachDatabase(
        &status, file.constData(), dpb->getBufferLength(&status), dpb->getBuffer(&status));
    dpb->dispose();
    return attachment;
}

void LockUnlock_Floor(benchmark::State& state)
{
    if (Server().Name.isEmpty()) {
        state.SkipWithError("FB_SERVER is not set (scripts/fbserver start)");
        return;
    }
    Guarded(state, [&] {
        IBApi::TStatus status;
        IAttachment* attachment = AttachWithoutFramework(status, Server().Name);

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

// --- concurrent posts

// A locked row is passed over without a question.
class TAnswerNo : public TDialogBackend
{
public:
    TModalResult ShowMessageBox(const TMessageRequest&) override { return mrNo; }
    bool InputQuery(const QString&, const QString&, QString&) override { return false; }
    void Beep() override {}
};

void WaitForGo()
{
    std::string line;
    if (!std::getline(std::cin, line) || line != "go")
        std::exit(3);
}

// One client of ConcurrentPosts/Ours: commits its posts through the framework.
void PostThroughFramework(const QString& name, const QStringList& params, unsigned seed)
{
    SetDialogBackend(std::make_unique<TAnswerNo>());
    TSDatabase database;
    database.SetDatabaseName(name);
    database.SetParams(params);
    database.Open();
    TIBTransaction transaction;
    transaction.SetDefaultDatabase(&database);
    transaction.SetParams({QStringLiteral("write"), QStringLiteral("read_committed"), QStringLiteral("rec_version"),
                           QStringLiteral("nowait")});
    database.Session()->Register(static_cast<int32_t>(seed));
    database.Session()->StartListening();
    TSDS items;
    items.SetDatabase(&database);
    items.SetTransaction(&transaction);
    items.SetTableName(QStringLiteral("ITEM"));
    items.SetOptions(items.Options()
                     + TSDSOptions{dsoPessimisticLock, dsoAudit, dsoSendNotification, dsoRefreshBeforeEdit});
    items.Open();
    std::mt19937 random(seed);
    std::cout << "ready" << std::endl;
    WaitForGo();
    for (int posted = 0; posted < PostsPerClient;) {
        items.Locate(QStringLiteral("SYS$ID"), std::uniform_int_distribution<int>(1, PostRows)(random));
        try {
            items.Edit();
        } catch (const EAbort&) {
            continue; // locked by another client
        }
        TField* value = items.FieldByName(QStringLiteral("VAL"));
        value->SetAsInteger(value->AsInteger() + 1);
        try {
            items.Post();
            ++posted;
        } catch (const std::exception&) {
            items.Cancel();
        }
        database.Session()->TakeEvents();
    }
    std::cout << "done" << std::endl;
    database.Session()->StopListening();
}

// A message buffer of a statement's integer columns or parameters, never null.
class TMessage
{
public:
    TMessage(IBApi::TStatus& status, IMessageMetadata* metadata)
        : FStatus(status), FMetadata(metadata), FData(metadata->getMessageLength(&status))
    {
    }
    ~TMessage() { FMetadata->release(); }
    TMessage(const TMessage&) = delete;
    TMessage& operator=(const TMessage&) = delete;
    IMessageMetadata* Metadata() const { return FMetadata; }
    unsigned char* Data() { return FData.data(); }
    void SetInteger(unsigned index, int32_t value)
    {
        std::memcpy(FData.data() + FMetadata->getOffset(&FStatus, index), &value, sizeof value);
        const int16_t notNull = 0;
        std::memcpy(FData.data() + FMetadata->getNullOffset(&FStatus, index), &notNull, sizeof notNull);
    }
    int32_t Integer(unsigned index)
    {
        int32_t value = 0;
        std::memcpy(&value, FData.data() + FMetadata->getOffset(&FStatus, index), sizeof value);
        return value;
    }

private:
    IBApi::TStatus& FStatus;
    IMessageMetadata* FMetadata;
    std::vector<unsigned char> FData;
};

// One client of ConcurrentPosts/FirebirdLock: the row locked by the server;
// with audit, an audit row in each change's transaction.
void PostWithFirebirdLock(const QString& name, unsigned seed, bool audit)
{
    IBApi::TStatus status;
    IAttachment* attachment = AttachWithoutFramework(status, name);
    const unsigned char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed, isc_tpb_rec_version,
                                 isc_tpb_wait};
    ITransaction* preparing = attachment->startTransaction(&status, sizeof tpb, tpb);
    IStatement* select = attachment->prepare(&status, preparing, 0, "select VAL from ITEM where SYS$ID = ? with lock",
                                             3, IStatement::PREPARE_PREFETCH_METADATA);
    IStatement* update = attachment->prepare(&status, preparing, 0, "update ITEM set VAL = ? where SYS$ID = ?", 3,
                                             IStatement::PREPARE_PREFETCH_METADATA);
    IStatement* auditInsert = audit ? attachment->prepare(
                                  &status, preparing, 0,
                                  "insert into SYS$AUDIT (AUDIT_ID, AUDIT_TIME, SESSION_ID, MESSAGE) values"
                                  " (next value for SYS$AUDIT_GEN, current_timestamp, ?,"
                                  " 'ITEM: edited record, VAL old and new values, user and time')",
                                  3, IStatement::PREPARE_PREFETCH_METADATA)
                                    : nullptr;
    preparing->commit(&status);
    // The messages as the statements describe them: integers, no nulls.
    TMessage key(status, select->getInputMetadata(&status));
    TMessage value(status, select->getOutputMetadata(&status));
    TMessage change(status, update->getInputMetadata(&status));
    std::optional<TMessage> session;
    if (auditInsert) {
        session.emplace(status, auditInsert->getInputMetadata(&status));
        session->SetInteger(0, static_cast<int32_t>(seed));
    }
    std::mt19937 random(seed);
    std::cout << "ready" << std::endl;
    WaitForGo();
    for (int posted = 0; posted < PostsPerClient;) {
        const int id = std::uniform_int_distribution<int>(1, PostRows)(random);
        key.SetInteger(0, id);
        ITransaction* transaction = attachment->startTransaction(&status, sizeof tpb, tpb);
        try {
            IResultSet* cursor = select->openCursor(&status, transaction, key.Metadata(), key.Data(), value.Metadata(),
                                                    0);
            const bool found = cursor->fetchNext(&status, value.Data()) == IStatus::RESULT_OK;
            cursor->close(&status);
            Check(found, "the row is there");
            change.SetInteger(0, value.Integer(0) + 1);
            change.SetInteger(1, id);
            update->execute(&status, transaction, change.Metadata(), change.Data(), nullptr, nullptr);
            if (auditInsert)
                auditInsert->execute(&status, transaction, session->Metadata(), session->Data(), nullptr, nullptr);
            transaction->commit(&status);
            ++posted;
        } catch (const std::exception&) {
            transaction->rollback(&status); // an update conflict: again
        }
    }
    std::cout << "done" << std::endl;
    select->free(&status);
    update->free(&status);
    if (auditInsert)
        auditInsert->free(&status);
    attachment->detach(&status);
}

// Runs the clients: started and connected first, then timed from the start
// signal until the last one has committed its share.
// Twenty clients; BENCH_POST_CLIENTS changes that (one, for profiling a post).
int PostClients()
{
    const int count = qEnvironmentVariableIntValue("BENCH_POST_CLIENTS");
    return count > 0 ? count : 20;
}

void ConcurrentPosts(benchmark::State& state, const char* kind)
{
    if (Server().Name.isEmpty()) {
        state.SkipWithError("FB_SERVER is not set (scripts/fbserver start)");
        return;
    }
    Guarded(state, [&] {
        for (auto _ : state) {
            std::vector<std::unique_ptr<QProcess>> clients;
            for (int i = 0; i < PostClients(); ++i) {
                auto& client = clients.emplace_back(std::make_unique<QProcess>());
                client->setProcessChannelMode(QProcess::ForwardedErrorChannel);
                client->start(QCoreApplication::applicationFilePath(),
                              {QStringLiteral("--post-client"), QString::fromLatin1(kind), Server().Name,
                               QString::number(i + 1)});
            }
            const auto expect = [&](const char* word) {
                for (auto& client : clients) {
                    while (!client->canReadLine())
                        Check(client->waitForReadyRead(120000), "a client answers");
                    Check(client->readLine().trimmed() == word, "a client's answer");
                }
            };
            expect("ready");
            QElapsedTimer timer;
            timer.start();
            for (auto& client : clients)
                client->write("go\n");
            for (auto& client : clients) // without an event loop, written only here
                Check(client->waitForBytesWritten(10000), "a client is told to start");
            expect("done");
            const double elapsed = static_cast<double>(timer.nsecsElapsed()) / 1e9;
            state.SetIterationTime(elapsed);
            state.counters["posts_per_s"] = PostClients() * PostsPerClient / elapsed;
            for (auto& client : clients) {
                client->closeWriteChannel();
                Check(client->waitForFinished(60000) && client->exitCode() == 0, "a client ends well");
            }
        }
    });
}

void ConcurrentPosts_Ours(benchmark::State& state) { ConcurrentPosts(state, "ours"); }
void ConcurrentPosts_FirebirdLock(benchmark::State& state) { ConcurrentPosts(state, "firebird"); }
void ConcurrentPosts_FirebirdLockAudit(benchmark::State& state) { ConcurrentPosts(state, "firebird-audit"); }

// The client side of ConcurrentPosts: --post-client KIND DATABASE SEED.
int RunPostClient(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 5)
        return 2;
    const QString name = QString::fromLocal8Bit(argv[3]);
    const auto seed = static_cast<unsigned>(std::stoul(argv[4]));
    try {
        if (std::string(argv[2]) == "ours")
            PostThroughFramework(name,
                                 {QStringLiteral("user_name=SYSDBA"), QStringLiteral("password=") + Password(),
                                  QStringLiteral("lc_ctype=WIN1251")},
                                 seed);
        else
            PostWithFirebirdLock(name, seed, std::string(argv[2]) == "firebird-audit");
    } catch (const std::exception& error) {
        std::cerr << "post client: " << error.what() << std::endl;
        return 1;
    }
    return 0;
}

} // namespace

// Times: the clients' time to commit their shares, so a lower ratio is more
// posts a second.
// goal: LockUnlock/Ours <= 2.0x LockUnlock/Floor
// goal: ConcurrentPosts/Ours <= 1.0x ConcurrentPosts/FirebirdLock
// goal: ConcurrentPosts/Ours <= 1.0x ConcurrentPosts/FirebirdLockAudit
BENCHMARK(LockUnlock_Ours)->Name("LockUnlock/Ours")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(LockUnlock_Floor)->Name("LockUnlock/Floor")->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK(ConcurrentPosts_Ours)
    ->Name("ConcurrentPosts/Ours")
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3);
BENCHMARK(ConcurrentPosts_FirebirdLock)
    ->Name("ConcurrentPosts/FirebirdLock")
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3);
BENCHMARK(ConcurrentPosts_FirebirdLockAudit)
    ->Name("ConcurrentPosts/FirebirdLockAudit")
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3);

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--post-client")
        return RunPostClient(argc, argv);
    return RunDatabaseBenchmarks(argc, argv, "bench_session", [] { Server(); });
}
