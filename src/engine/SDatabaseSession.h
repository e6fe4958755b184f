// The user session of a TSDatabase: the client side of the server's session
// protocol (record locks between users, change events, audit).
//
// A session is known to the server by its handle; while the handle is -1
// every operation is a no-op, so a database without the protocol works
// without locks, events or audit. The server functions are called as
// one-row selects from rdb$database in the database's internal read-only
// transaction (framework.sql declares them; platform/fbserver holds them),
// each prepared once and run as a singleton: one call to the server.
//
// Registering and listening are the application's choice:
//     db.Session()->Register(db.CurrentUserID()); // after login
//     db.Session()->StartListening();              // optional: events of other users
//     ... db.Session()->TakeEvents() on a timer of the GUI thread ...
// TSDatabase stops the listener and unregisters the session on disconnect.
//
// The handle is the session's key: the server gives a random one, answers it
// only to attachments of the database user that registered it (the listener
// logs in as the same user), and ends the session with the attachment that
// registered it.
#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class TDataSet;
class TIBSQL;
class TSDatabase;

// The 8 raw bytes of a row address (RDB$DB_KEY); eight zero bytes mean unknown.
using TRecordID = std::array<unsigned char, 8>;

// The record identifier as 16 upper-case hexadecimal digits, first byte first.
QString RecordIDHex(const TRecordID& id);
// The SQL string literal of a text: in single quotes, each quote doubled.
QString QuotedSQL(const QString& text);

// One change event: queued by PostEvent for this client's own listener side,
// or read by the listener from the server (then Source is null). Kind
// SessionProtocol::EventsLostKind says the server dropped events for this
// session because it fell too far behind: whatever it shows may be stale
// and wants a full refresh (no table, no record).
struct TMsgEventRec
{
    int32_t Kind = 0;      // SessionProtocol::RecordChangeKind for record changes
    int32_t Operation = 0; // 0 modified, 1 inserted, 2 deleted
    QString TableName;
    TRecordID RecordID{};
    // The data set that made the change; not owned, and it may be gone by
    // the time the event is taken: compare it, never use it.
    TDataSet* Source = nullptr;
};

using TMsgEventQueue = std::vector<std::unique_ptr<TMsgEventRec>>;

class TEventListener;

// A database's user session (TSDatabase::Session()).
//
// Lifetimes. Made and owned by its TSDatabase, which must outlive it; the
// application never frees it. It owns its statements (prepared in the
// database's internal transaction) and the listener thread; the listener is
// joined before the event queue it fills goes away. TakeEvents hands the
// queued events over: the caller owns them from then on. The session is
// used from the GUI thread; only the queue is shared with the listener
// (behind a lock).
class TUserSession
{
public:
    static constexpr const char* LockText = "select f_LockRecord( :hs,:rn ) from rdb$database";
    static constexpr const char* UnlockText = "select F_UNLOCKRECORD( :hs,:rn ) from rdb$database";
    static constexpr const char* LockInfoText = "select F_GetLockInfo( :hs,:rn ) from rdb$database";
    // The result as the function declares it: a wider cast does not fit a
    // UTF8 connection's message (32,000 characters are 128,000 bytes there).
    static constexpr const char* GetEventsText = "select F_GetEvents( :hs ) from rdb$database";
    static constexpr const char* PostEventText =
        "select F_PostEvent( :hs,:param,:kind,:op,:tbl,:rec ) from rdb$database";
    // The unlock after a committed write and its change event in one call.
    static constexpr const char* UnlockAndPostEventText =
        "select F_UNLOCKRECORD( :hs,:rn ), F_PostEvent( :hs,:param,:kind,:op,:tbl,:rec ) from rdb$database";
    static constexpr const char* AuditText = "select F_WRITEAUDITMSG( :hs,:message ) from rdb$database";
    static constexpr int WriteAuditLimit = 4000;
    static constexpr std::chrono::milliseconds DefaultListenInterval{1000};
    // One poll calls F_GetEvents until it answers empty, at most this often.
    static constexpr int MaxEventCallsPerPoll = 1024;

    // Owned by its database, which must outlive it.
    explicit TUserSession(TSDatabase& database);
    ~TUserSession();
    TUserSession(const TUserSession&) = delete;
    TUserSession& operator=(const TUserSession&) = delete;

    TSDatabase& Database() const { return FDatabase; }
    int32_t SessionHandle() const { return FSessionHandle; }
    void SetSessionHandle(int32_t value) { FSessionHandle = value; }
    bool Listening() const { return FListening; }

    // Locks the record for this session or raises: a record locked by another
    // user aborts silently, after asking (when Prompt) whether to show who
    // holds it.
    void LockRecord(const TRecordID& id, bool prompt);
    // What LockRecord does with the lock function's answer, for a caller
    // that called the function itself (in a statement of its own): returns
    // for a lock taken, raises as LockRecord does otherwise.
    void CheckLockResult(int32_t result, const TRecordID& id, bool prompt);
    void UnlockRecord(const TRecordID& id);
    // Who holds the lock, trimmed; empty while not registered.
    QString GetLockInfo(const TRecordID& id);
    // Queues the event locally while listening and sends it to the other
    // sessions; false when not connected or when the server refused it.
    bool PostEvent(int32_t kind, int32_t eventParam, int32_t operation, const QString& tableName, const TRecordID& id,
                   TDataSet* source);
    // UnlockRecord, then PostEvent, in one call to the server: what follows a
    // committed write. An unlock that fails is passed over (the lock ends
    // with the session at the latest); the result is PostEvent's.
    bool UnlockAndPostEvent(const TRecordID& lockedId, int32_t kind, int32_t eventParam, int32_t operation,
                            const QString& tableName, const TRecordID& id, TDataSet* source);
    // Sends the first 4000 characters of the message (with AuditEnabled).
    void WriteAudit(const QString& message);
    // Unlocks, then sends the whole message (with AuditEnabled).
    void UnlockAndAudit(const TRecordID& id, const QString& message);
    // Ends the session on the server; the handle is -1 afterwards, whatever
    // the server answered.
    void Unregister();

    // Registration as the framework's server functions offer it: a new
    // session of this connection for the given user; sets and returns the
    // handle. Raises when the database lacks the function, and when the
    // server cannot keep sessions for it (another engine process keeps them:
    // a Classic server, or a second program with the embedded engine).
    int32_t Register(int32_t userId);
    // Starts the event listener: a thread with an attachment of its own that
    // polls the server every interval and queues what it reads; a poll reads
    // until nothing more waits. The first poll runs here, on
    // GetEventsStatement: the server sends this session the events posted
    // from then on. Needs a connected database and a registered session.
    void StartListening(std::chrono::milliseconds interval = DefaultListenInterval);
    // Wakes the listener and waits for it to end.
    void StopListening();
    // Takes every queued event, oldest first.
    TMsgEventQueue TakeEvents();
    // What the listener's last poll failed with; empty after a good one.
    QString ListenerError() const;

    TIBSQL& LockStatement() const { return *FLockStatement; }
    TIBSQL& UnlockStatement() const { return *FUnlockStatement; }
    TIBSQL& LockInfoStatement() const { return *FLockInfoStatement; }
    TIBSQL& AuditStatement() const { return *FAuditStatement; }
    TIBSQL& PostEventStatement() const { return *FPostEventStatement; }
    TIBSQL& UnlockAndPostEventStatement() const { return *FUnlockAndPostEventStatement; }
    TIBSQL& GetEventsStatement() const { return *FGetEventsStatement; }

private:
    friend class TEventListener;

    void StartInternalTransaction();
    // Transaction, preparation and both parameters of a record statement.
    void PrepareRecordStatement(TIBSQL& sql, const TRecordID& id);
    void ExecuteRecordStatement(TIBSQL& sql, const TRecordID& id);
    void SendAudit(const QString& message);
    // Queues the event for this client's own listener side, while listening.
    void EnqueueOwnEvent(int32_t kind, int32_t operation, const QString& tableName, const TRecordID& id,
                         TDataSet* source);
    // Binds the event parameters (param, kind, op, tbl, rec) and the handle.
    void BindEvent(TIBSQL& sql, int32_t kind, int32_t eventParam, int32_t operation, const QString& tableName,
                   const TRecordID& id);
    void Enqueue(std::unique_ptr<TMsgEventRec> event);
    // Queues each well-formed line of the server's event text.
    void EnqueueEventText(const QString& text);
    // Runs the events statement (prepared in a started transaction, or
    // preparable) until it returns nothing or stop is set, queueing what it
    // returns: each call hands over only what its result holds.
    void DrainEvents(TIBSQL& statement, int32_t handle, const std::atomic<bool>* stop);
    // The first poll, on GetEventsStatement.
    void PollEvents();

    TSDatabase& FDatabase;
    int32_t FSessionHandle = -1;
    bool FListening = false;
    TMsgEventQueue FEventQueue;
    mutable std::mutex FEventQueueLock;
    std::unique_ptr<TEventListener> FEventListener; // ends before the queue it fills
    std::unique_ptr<TIBSQL> FLockStatement;
    std::unique_ptr<TIBSQL> FUnlockStatement;
    std::unique_ptr<TIBSQL> FLockInfoStatement;
    std::unique_ptr<TIBSQL> FAuditStatement;
    std::unique_ptr<TIBSQL> FPostEventStatement;
    std::unique_ptr<TIBSQL> FUnlockAndPostEventStatement;
    std::unique_ptr<TIBSQL> FGetEventsStatement;
};

// The listener thread: an attachment of its own to the session's database,
// GetEventsStatement's text run there every interval; each line it returns
// (SessionProtocol::TEventLine) becomes a queued event.
//
// Owned by its TUserSession (StartListening makes it, StopListening and the
// session's destructor free it), which must outlive it. It copies the
// database's name and parameters when made: its attachment is its own, opened
// and closed by its thread, and never shares the database's handles.
class TEventListener
{
public:
    TEventListener(TUserSession& session, std::chrono::milliseconds interval);
    ~TEventListener(); // stops and waits

    bool Active() const { return FActive; }
    void SetActive(bool value) { FActive = value; }
    // Ends the wait for the next poll at once.
    void WakeUp();
    void Terminate();
    QString LastError() const;

    // One line of the server's event text as an event; null when malformed.
    static std::unique_ptr<TMsgEventRec> ParseEvent(const QString& line);

private:
    void Run();
    // Waits for the interval or a wake-up; false once terminated.
    bool WaitForNextPoll();

    TUserSession& FSession;
    const QString FDatabaseName;
    const QStringList FParams;
    const QString FStatementText;
    const int32_t FHandle;
    std::chrono::milliseconds FInterval;
    std::atomic<bool> FActive{true};
    std::atomic<bool> FTerminated{false};
    std::mutex FWakeLock;
    std::condition_variable FWake;
    bool FWoken = false;
    mutable std::mutex FErrorLock;
    QString FLastError;
    std::thread FThread;
};
