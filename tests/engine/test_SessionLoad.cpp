// Many clients at once through the server (FB_SERVER; skipped when unset):
// processes of session_load_client edit a small table with pessimistic locks,
// audit and notices while two of them are killed, one holding a lock, one
// between its write and its commit. Afterwards the table, the audit and what
// every client logged must agree.
#include "Exceptions.h"
#include "IBSQL.h"
#include "IBTestDatabase.h"
#include "SDatabase.h"
#include "SDatabaseSession.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr int Rows = 50;

int Setting(const char* name, int otherwise)
{
    const int value = qEnvironmentVariableIntValue(name);
    return value > 0 ? value : otherwise;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr int DefaultClients = 6; // each sanitized process costs several times more
#else
constexpr int DefaultClients = 20;
#endif

QString Schema()
{
    QString script = QStringLiteral("CREATE TABLE ITEM (SYS$ID INTEGER NOT NULL PRIMARY KEY,"
                                    " SYS$STATE INTEGER DEFAULT 0 NOT NULL, VAL INTEGER NOT NULL);\n");
    for (int id = 1; id <= Rows; ++id)
        script += QStringLiteral("INSERT INTO ITEM (SYS$ID, VAL) VALUES (%1, 0);\n").arg(id);
    return script;
}

bool Eventually(const std::function<bool()>& condition, Clock::duration limit)
{
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        QThread::msleep(20);
    }
    return true;
}

struct TClientRun
{
    QString Role;
    QString LogPath;
    std::unique_ptr<QProcess> Process = std::make_unique<QProcess>();
    QStringList Lines; // what it printed, line by line
    bool Killed = false;

    // Takes what the client printed so far, waiting at most the given time.
    void Read(int waitMs)
    {
        if (Process->state() != QProcess::NotRunning && !Process->canReadLine())
            Process->waitForReadyRead(waitMs);
        while (Process->canReadLine())
            Lines << QString::fromUtf8(Process->readLine()).trimmed();
    }
    QString LineStarting(const QString& prefix) const
    {
        for (const QString& line : Lines)
            if (line.startsWith(prefix))
                return line;
        return QString();
    }
    void Send(const char* line)
    {
        Process->write(QByteArray(line) + '\n');
        Process->waitForBytesWritten(10000); // without an event loop, written only here
    }
};

// Waits until every client named has printed a line that starts so.
bool AllSaid(std::vector<TClientRun>& clients, const QString& prefix, Clock::duration limit,
             const std::function<void()>& meanwhile = {})
{
    const auto deadline = Clock::now() + limit;
    for (;;) {
        bool all = true;
        for (TClientRun& client : clients) {
            if (client.Killed)
                continue;
            client.Read(5);
            if (!client.LineStarting(prefix).isEmpty())
                continue;
            if (client.Process->state() == QProcess::NotRunning)
                return false; // it ended before saying so
            all = false;
        }
        if (meanwhile)
            meanwhile();
        if (all)
            return true;
        if (Clock::now() > deadline)
            return false;
    }
}

// What one client's log says.
struct TClientLog
{
    struct TPost
    {
        int Id;
        int Delta;
        QString Record;
    };
    std::vector<TPost> Posts;
    std::map<QString, int> Received; // notices from the server by record
    QStringList Other;
};

TClientLog ReadLog(const QString& path)
{
    TClientLog log;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return log;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList parts = line.split(QLatin1Char(' '));
        if (parts[0] == QLatin1String("C") && parts.size() == 4)
            log.Posts.push_back({parts[1].toInt(), parts[2].toInt(), parts[3]});
        else if (parts[0] == QLatin1String("E") && parts.size() == 3)
            log.Received[parts[1]] = parts[2].toInt();
        else
            log.Other << line;
    }
    return log;
}

// The record identifier of a row of ITEM.
TRecordID RecordOf(TIBDatabase& db, int id)
{
    TIBTransaction transaction;
    transaction.SetDefaultDatabase(&db);
    transaction.StartTransaction();
    TIBSQL query;
    query.SetTransaction(&transaction);
    query.SQL().SetText(QStringLiteral("select rdb$db_key from ITEM where SYS$ID = %1").arg(id));
    query.ExecQuery();
    const QByteArray bytes = query.Eof() ? QByteArray() : query.Fields(0).AsBytes();
    query.Close();
    transaction.Commit();
    TRecordID record{};
    std::copy_n(bytes.begin(), std::min<qsizetype>(bytes.size(), record.size()), record.begin());
    return record;
}

bool Lockable(TUserSession& session, const TRecordID& record)
{
    try {
        session.LockRecord(record, false);
    } catch (const EAbort&) {
        return false;
    }
    session.UnlockRecord(record);
    return true;
}

TEST(SessionLoadServer, ManyClientsKilledOrNotLoseNothing)
{
    if (TIBTestDatabase::ServerName().isEmpty())
        GTEST_SKIP() << "FB_SERVER is not set (scripts/fbserver start)";
    TIBTestDatabase::PrepareEngine();
    const int clientCount = Setting("SESSION_LOAD_CLIENTS", DefaultClients);
    const int editSeconds = std::min(Setting("SESSION_LOAD_SECONDS", 10), 30);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString name = TIBTestDatabase::CreateOnServer(dir.filePath(QStringLiteral("load.fdb")), Schema());
    const auto dropDatabase = qScopeGuard([&] {
        try {
            TIBTestDatabase::DropOnServer(name);
        } catch (...) {
        }
    });

    std::vector<TClientRun> clients(static_cast<size_t>(clientCount));
    for (int i = 0; i < clientCount; ++i) {
        TClientRun& client = clients[static_cast<size_t>(i)];
        client.Role = i == 0   ? QStringLiteral("hold")
                      : i == 1 ? QStringLiteral("uncommitted")
                               : QStringLiteral("normal");
        client.LogPath = dir.filePath(QStringLiteral("client%1.log").arg(i));
        client.Process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        client.Process->start(QStringLiteral(SESSION_LOAD_CLIENT),
                              {name, TIBTestDatabase::ServerPassword(), client.LogPath, QString::number(i + 1),
                               QString::number(editSeconds), client.Role});
    }
    ASSERT_TRUE(AllSaid(clients, QStringLiteral("ready"), seconds(90))) << "the clients did not start";

    // The test's own session: it takes the killed holder's lock over.
    TSDatabase db;
    db.SetDatabaseName(name);
    db.SetParams(TIBTestDatabase::ServerParams());
    db.Open();
    db.Session()->Register(1000);

    for (TClientRun& client : clients)
        client.Send("go");
    TRecordID heldRecord{};
    std::optional<Clock::time_point> holderKilled;
    std::optional<milliseconds> takeover;
    const auto killWhenReady = [&] {
        for (TClientRun& client : clients) {
            if (client.Killed)
                continue;
            const QString holding = client.LineStarting(QStringLiteral("holding "));
            const QString uncommitted = client.LineStarting(QStringLiteral("uncommitted "));
            if (holding.isEmpty() && uncommitted.isEmpty())
                continue;
            if (!holding.isEmpty()) {
                heldRecord = RecordOf(db, holding.section(QLatin1Char(' '), 1).toInt());
                EXPECT_FALSE(Lockable(*db.Session(), heldRecord)) << "the holder's lock is held";
            }
            ::kill(static_cast<pid_t>(client.Process->processId()), SIGKILL);
            client.Process->waitForFinished();
            client.Killed = true;
            if (!holding.isEmpty())
                holderKilled = Clock::now();
        }
        if (holderKilled && !takeover && Lockable(*db.Session(), heldRecord))
            takeover = std::chrono::duration_cast<milliseconds>(Clock::now() - *holderKilled);
    };
    ASSERT_TRUE(AllSaid(clients, QStringLiteral("done"), seconds(editSeconds + 90), killWhenReady))
        << "the clients did not finish editing";
    EXPECT_TRUE(clients[0].Killed && clients[1].Killed);
    ASSERT_TRUE(holderKilled);
    if (!takeover && Eventually([&] { return Lockable(*db.Session(), heldRecord); }, seconds(30)))
        takeover = std::chrono::duration_cast<milliseconds>(Clock::now() - *holderKilled);
    ASSERT_TRUE(takeover) << "the killed holder's lock was never taken over";
    std::cout << "lock of the killed holder taken over after " << takeover->count() << " ms\n";

    for (TClientRun& client : clients)
        if (!client.Killed)
            client.Send("finish");
    ASSERT_TRUE(AllSaid(clients, QStringLiteral("bye"), seconds(60))) << "the clients did not end";
    for (TClientRun& client : clients) {
        if (client.Killed)
            continue;
        ASSERT_TRUE(client.Process->state() == QProcess::NotRunning || client.Process->waitForFinished(30000));
        EXPECT_EQ(client.Process->exitStatus(), QProcess::NormalExit) << client.LogPath.toStdString();
        EXPECT_EQ(client.Process->exitCode(), 0) << client.LogPath.toStdString();
    }

    // The server is alive, and no lock outlives its session.
    TIBTestDatabase::Rows(db, QStringLiteral("select 1 from rdb$database"));
    for (int id = 1; id <= Rows; ++id) {
        const TRecordID record = RecordOf(db, id);
        EXPECT_TRUE(Eventually([&] { return Lockable(*db.Session(), record); }, seconds(30))) << "row " << id;
    }

    // No lost update: each row holds what the logs say was added to it.
    std::vector<TClientLog> logs;
    std::map<int, std::vector<int>> deltas; // by row, in no order
    size_t posts = 0;
    for (const TClientRun& client : clients) {
        logs.push_back(ReadLog(client.LogPath));
        for (const TClientLog::TPost& post : logs.back().Posts)
            deltas[post.Id].push_back(post.Delta);
        posts += logs.back().Posts.size();
        if (!client.Killed) {
            EXPECT_TRUE(std::none_of(logs.back().Other.begin(), logs.back().Other.end(),
                                     [](const QString& line) { return line.startsWith(QLatin1Char('L')); }))
                << "listener error: " << logs.back().Other.join(QLatin1Char('|')).toStdString();
        }
    }
    std::cout << posts << " posts committed by " << clientCount << " clients in " << editSeconds << " s\n";
    EXPECT_GT(posts, static_cast<size_t>(clientCount));
    const QStringList values = TIBTestDatabase::Rows(
        db, QStringLiteral("select SYS$ID || ' ' || VAL from ITEM order by SYS$ID"));
    ASSERT_EQ(values.size(), Rows);
    std::map<int, int> finalValue;
    for (const QString& row : values) {
        const int id = row.section(QLatin1Char(' '), 0, 0).toInt();
        finalValue[id] = row.section(QLatin1Char(' '), 1, 1).toInt();
        int sum = 0;
        for (int delta : deltas[id])
            sum += delta;
        EXPECT_EQ(finalValue[id], sum) << "row " << id;
    }

    // One audit row per committed change, its old value the one it replaced.
    const QRegularExpression auditPattern(QStringLiteral(
        "^<TABLE>ITEM</TABLE><UPDATE><SYS\\$ID>(\\d+)</SYS\\$ID><VAL><OLD>=(-?\\d+)<NEW>=(-?\\d+)</VAL></UPDATE>$"));
    const QStringList audit = TIBTestDatabase::Rows(db,
                                                    QStringLiteral("select MESSAGE from SYS$AUDIT order by AUDIT_ID"));
    EXPECT_EQ(static_cast<size_t>(audit.size()), posts);
    std::map<int, int> chain; // the value each row's audit has reached
    std::map<int, std::vector<int>> auditedDeltas;
    for (const QString& message : audit) {
        const QRegularExpressionMatch match = auditPattern.match(message);
        ASSERT_TRUE(match.hasMatch()) << message.toStdString();
        const int id = match.captured(1).toInt(), oldValue = match.captured(2).toInt(),
                  newValue = match.captured(3).toInt();
        EXPECT_EQ(oldValue, chain[id]) << "row " << id << ": the old value is the one replaced";
        chain[id] = newValue;
        auditedDeltas[id].push_back(newValue - oldValue);
    }
    for (auto& [id, list] : deltas) {
        std::vector<int> audited = auditedDeltas[id];
        std::sort(list.begin(), list.end());
        std::sort(audited.begin(), audited.end());
        EXPECT_EQ(audited, list) << "row " << id;
        EXPECT_EQ(chain[id], finalValue[id]) << "row " << id;
    }

    // Every surviving listener got every other session's notices once and
    // none of its own.
    for (size_t i = 0; i < clients.size(); ++i) {
        if (clients[i].Killed)
            continue;
        std::map<QString, int> expected;
        for (size_t j = 0; j < clients.size(); ++j)
            if (j != i)
                for (const TClientLog::TPost& post : logs[j].Posts)
                    ++expected[post.Record];
        int wanted = 0, received = 0, differing = 0;
        for (const auto& [record, count] : expected)
            wanted += count;
        for (const auto& [record, count] : logs[i].Received)
            received += count;
        for (const auto& [record, count] : expected)
            differing += logs[i].Received.count(record) == 0 || logs[i].Received.at(record) != count;
        for (const auto& [record, count] : logs[i].Received)
            differing += expected.count(record) == 0;
        EXPECT_EQ(differing, 0) << "client " << i << " received " << received << " notices of " << wanted << ", "
                                << differing << " rows with another count";
    }
}

} // namespace
