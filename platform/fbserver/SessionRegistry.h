// The state of the user-session protocol: registered sessions, record locks
// and queued change events, per database, held in the memory of the process
// that runs the engine (the server, or a program with the embedded engine).
//
// Every attachment of a database served by one process meets here, so a lock
// taken by one client is seen by every other one through the server. Another
// process serving the same database (a Classic server, a second embedded
// program) would keep sessions of its own that ours never see: the first
// process to register a session of a database claims it (TProcessClaims), and
// any other process is refused with TClaimedElsewhere while the claim holds.
//
// A session belongs to the database user that registered it. Its handle is
// what its owner was given: 31 random bits, never 0, never one in use. A call
// that names it from an attachment of another user is answered as if no such
// session existed; the owner's other attachments (its event listener) use it
// freely. Others know a session by its public number, never by its handle.
//
// A session goes with the attachment that registered it (Forget, which the
// functions call when the engine closes that attachment). No lock, event or
// session outlives the process.
#pragma once

#include "SessionProtocol.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace UserSessions {

using TRecordId = std::string; // the 8 raw bytes of a row address

// A failure the caller is told about in words (raised by the functions as
// a Firebird error).
class TRegistryError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Another process keeps the sessions of the database.
class TClaimedElsewhere : public TRegistryError
{
public:
    TClaimedElsewhere(const std::string& database, const std::string& holder);
};

// This process's right to keep the sessions of one database; given up when
// destroyed.
class TProcessClaim
{
public:
    virtual ~TProcessClaim() = default;
};

// Which process keeps the sessions of a database.
class TProcessClaims
{
public:
    virtual ~TProcessClaims() = default;
    // The database for this process, or TClaimedElsewhere (TRegistryError
    // when the claim cannot be made at all).
    virtual std::unique_ptr<TProcessClaim> Claim(const std::string& database) = 0;
    // Raises TClaimedElsewhere when another process holds the database; asked
    // by a process that holds no claim on it.
    virtual void CheckNotClaimedElsewhere(const std::string& database) = 0;
};

// Claims through a lock file beside the database, DATABASE.sessions: an open
// file description lock on its first byte, which every process that can
// open the database can ask about and which goes when its holder dies. The
// file names the holder's process id and is removed when the claim ends.
class TFileClaims : public TProcessClaims
{
public:
    static std::string LockFileOf(const std::string& database) { return database + ".sessions"; }
    std::unique_ptr<TProcessClaim> Claim(const std::string& database) override;
    void CheckNotClaimedElsewhere(const std::string& database) override;
};

struct TSession
{
    int32_t Handle = 0; // the owner's: never shown to anyone else
    int32_t Number = 0; // public: in lock information and event lines
    int32_t UserId = 0;
    int64_t AttachmentId = 0;
    std::string UserName; // the database user that owns it
    // Events reach a session once it has asked for them: one that never
    // listens collects nothing.
    bool Listening = false;
    std::deque<std::string> Events; // lines not yet read, oldest first
    // Lines dropped since the reader last took an overflow marker; while
    // above 0, the marker is the queue's first line.
    uint64_t Dropped = 0;
};

struct TLock
{
    int32_t Holder = 0;
    std::chrono::system_clock::time_point Since;
};

// The outcome of a lock request made under the registry's mutex.
struct TLockAttempt
{
    SessionProtocol::TResult Result = SessionProtocol::Ok;
    // With LockedByOther: whose attachment to ask about before giving up.
    int64_t HolderAttachment = 0;
    std::string HolderUser;
};

struct TLockHolder
{
    bool Locked = false;
    TSession Session; // without its events
    std::chrono::system_clock::time_point Since;
};

// How much one take may hand over: whole lines of at most Chars UTF-8
// characters and Bytes bytes in all.
struct TEventBudget
{
    size_t Chars = 0;
    size_t Bytes = 0;
};

// Random bits for handles; the default reads the system's random source.
using THandleSource = std::function<uint32_t()>;
uint32_t RandomBits();

class TRegistry
{
public:
    TRegistry(THandleSource handles, std::shared_ptr<TProcessClaims> claims);

    // The one registry of this process: random handles, claims by lock file.
    static TRegistry& Instance();

    // A new session of the caller's attachment; raises TRegistryError when
    // this process may not keep the database's sessions.
    int32_t Register(const std::string& database, int32_t userId, int64_t attachmentId, const std::string& userName);
    // False when the caller has no such session.
    bool Unregister(const std::string& database, const std::string& caller, int32_t handle);
    // Drops every session of an attachment that has gone, with its locks and
    // events.
    void Forget(const std::string& database, int64_t attachmentId);

    TLockAttempt Lock(const std::string& database, const std::string& caller, int32_t handle, const TRecordId& record);
    // True when the session held the lock.
    bool Unlock(const std::string& database, const std::string& caller, int32_t handle, const TRecordId& record);
    TLockHolder Holder(const std::string& database, const TRecordId& record);

    // Queues the event, sent by the session's public number, for every other
    // listening session of the database; false for an unknown sender. Adds
    // the attachments whose queues grew long, for a liveness check. A queue
    // that reaches MaxQueue lines is replaced by one marker line (kind
    // EventsLostKind, the number of lines dropped as its parameter).
    bool Post(const std::string& database, const std::string& caller, int32_t handle, SessionProtocol::TEventLine event,
              std::vector<int64_t>& longQueues);
    // Passes the oldest lines within the budget, each ended by "\n", to
    // handOver, and only when it returns are they taken off the queue: a
    // hand-over that raises leaves them queued. From the first take on the
    // session is sent events. Returns the number of lines taken.
    size_t TakeEvents(const std::string& database, const std::string& caller, int32_t handle, TEventBudget budget,
                      const std::function<void(const std::string&)>& handOver);

    // The caller's session without its events; false when it has none so.
    bool SessionOf(const std::string& database, const std::string& caller, int32_t handle, TSession& session);

private:
    struct TDatabase
    {
        std::unique_ptr<TProcessClaim> Claim;
        int32_t NextNumber = 1;
        std::map<int32_t, TSession> Sessions; // by handle
        std::unordered_map<TRecordId, TLock> Locks;
    };
    // The database's state in this process; null when it has none, after
    // making sure no other process keeps it.
    TDatabase* Find(const std::string& database);
    // The caller's session of the handle; null for an unknown handle or
    // another user's session.
    TSession* Owned(const std::string& database, const std::string& caller, int32_t handle);
    int32_t NewHandle() const;
    void DropSession(const std::string& database, TDatabase& db, int32_t handle);

    THandleSource FHandles;
    std::shared_ptr<TProcessClaims> FClaims;
    std::mutex FMutex;
    std::unordered_map<std::string, TDatabase> FDatabases;
};

// A queue this long makes the poster ask whether its reader still lives.
inline constexpr size_t LongQueue = 1024;
// What a live reader that stopped reading may hold at most.
inline constexpr size_t MaxQueue = 64 * LongQueue;

} // namespace UserSessions
