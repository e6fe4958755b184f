// The state of the user-session protocol: registered sessions, record locks
// and queued change events, per database, held in the memory of the process
// that runs the engine (the server, or a program with the embedded engine).
//
// Every attachment of a database served by one process meets here, so a lock
// taken by one client is seen by every other one through the server. A
// session belongs to the attachment that registered it; nothing here can see
// an attachment end, so the functions ask the engine whether a lock holder's
// attachment is still alive before refusing a lock, and forget a session whose
// attachment has gone (Forget). No lock, event or session outlives the process.
#pragma once

#include "SessionProtocol.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace UserSessions {

using TRecordId = std::string; // the 8 raw bytes of a row address

struct TSession
{
    int32_t Handle = -1;
    int32_t UserId = 0;
    int64_t AttachmentId = 0;
    std::string UserName;
    // Events reach a session once it has asked for them: one that never
    // listens collects nothing.
    bool Listening = false;
    std::deque<std::string> Events; // lines not yet read, oldest first
};

struct TLock
{
    int32_t Holder = -1;
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

class TRegistry
{
public:
    // The one registry of this process.
    static TRegistry& Instance();

    int32_t Register(const std::string& database, int32_t userId, int64_t attachmentId, const std::string& userName);
    void Unregister(const std::string& database, int32_t handle);
    // Drops every session of a dead attachment, with its locks and events.
    void Forget(const std::string& database, int64_t attachmentId);

    TLockAttempt Lock(const std::string& database, int32_t handle, const TRecordId& record);
    // True when the session held the lock.
    bool Unlock(const std::string& database, int32_t handle, const TRecordId& record);
    TLockHolder Holder(const std::string& database, const TRecordId& record);

    // Queues one line for every other listening session of the database;
    // false for an unknown sender. Adds the attachments whose queues grew
    // long, for a liveness check; past MaxQueue lines the oldest go.
    bool Post(const std::string& database, int32_t handle, const std::string& line, std::vector<int64_t>& longQueues);
    // Takes the oldest lines that fit in maxBytes, each ended by "\n"; from
    // now on the session is sent events.
    std::string TakeEvents(const std::string& database, int32_t handle, size_t maxBytes);

    // The session without its events; false when the handle is unknown.
    bool SessionOf(const std::string& database, int32_t handle, TSession& session);

private:
    struct TDatabase
    {
        int32_t NextHandle = 1;
        std::map<int32_t, TSession> Sessions; // ordered: events reach sessions in handle order
        std::unordered_map<TRecordId, TLock> Locks;
    };
    void DropSession(TDatabase& db, int32_t handle);

    std::mutex FMutex;
    std::unordered_map<std::string, TDatabase> FDatabases;
};

// A queue this long makes the poster ask whether its reader still lives.
inline constexpr size_t LongQueue = 1024;
// What a live reader that stopped reading may hold at most.
inline constexpr size_t MaxQueue = 64 * LongQueue;

} // namespace UserSessions
