#include "SessionRegistry.h"

namespace UserSessions {

namespace {

TSession WithoutEvents(const TSession& session)
{
    TSession copy;
    copy.Handle = session.Handle;
    copy.UserId = session.UserId;
    copy.AttachmentId = session.AttachmentId;
    copy.UserName = session.UserName;
    return copy;
}

} // namespace

TRegistry& TRegistry::Instance()
{
    static TRegistry registry;
    return registry;
}

int32_t TRegistry::Register(const std::string& database, int32_t userId, int64_t attachmentId,
                            const std::string& userName)
{
    std::lock_guard guard(FMutex);
    TDatabase& db = FDatabases[database];
    const int32_t handle = db.NextHandle++;
    TSession& session = db.Sessions[handle];
    session.Handle = handle;
    session.UserId = userId;
    session.AttachmentId = attachmentId;
    session.UserName = userName;
    return handle;
}

void TRegistry::DropSession(TDatabase& db, int32_t handle)
{
    db.Sessions.erase(handle);
    std::erase_if(db.Locks, [handle](const auto& item) { return item.second.Holder == handle; });
}

void TRegistry::Unregister(const std::string& database, int32_t handle)
{
    std::lock_guard guard(FMutex);
    const auto db = FDatabases.find(database);
    if (db != FDatabases.end())
        DropSession(db->second, handle);
}

void TRegistry::Forget(const std::string& database, int64_t attachmentId)
{
    std::lock_guard guard(FMutex);
    const auto db = FDatabases.find(database);
    if (db == FDatabases.end())
        return;
    std::vector<int32_t> dead;
    for (const auto& [handle, session] : db->second.Sessions)
        if (session.AttachmentId == attachmentId)
            dead.push_back(handle);
    for (int32_t handle : dead)
        DropSession(db->second, handle);
}

TLockAttempt TRegistry::Lock(const std::string& database, int32_t handle, const TRecordId& record)
{
    std::lock_guard guard(FMutex);
    TLockAttempt attempt;
    const auto db = FDatabases.find(database);
    if (db == FDatabases.end() || !db->second.Sessions.contains(handle)) {
        attempt.Result = SessionProtocol::UnknownSession;
        return attempt;
    }
    auto [lock, added] = db->second.Locks.try_emplace(record);
    if (added) {
        lock->second.Holder = handle;
        lock->second.Since = std::chrono::system_clock::now();
        return attempt;
    }
    if (lock->second.Holder == handle)
        return attempt; // asked twice: still ours
    const TSession& holder = db->second.Sessions.at(lock->second.Holder);
    attempt.Result = SessionProtocol::LockedByOther;
    attempt.HolderAttachment = holder.AttachmentId;
    attempt.HolderUser = holder.UserName;
    return attempt;
}

bool TRegistry::Unlock(const std::string& database, int32_t handle, const TRecordId& record)
{
    std::lock_guard guard(FMutex);
    const auto db = FDatabases.find(database);
    if (db == FDatabases.end())
        return false;
    const auto lock = db->second.Locks.find(record);
    if (lock == db->second.Locks.end() || lock->second.Holder != handle)
        return false; // another session's lock stays
    db->second.Locks.erase(lock);
    return true;
}

TLockHolder TRegistry::Holder(const std::string& database, const TRecordId& record)
{
    std::lock_guard guard(FMutex);
    TLockHolder result;
    const auto db = FDatabases.find(database);
    if (db == FDatabases.end())
        return result;
    const auto lock = db->second.Locks.find(record);
    if (lock == db->second.Locks.end())
        return result;
    result.Locked = true;
    result.Session = WithoutEvents(db->second.Sessions.at(lock->second.Holder));
    result.Since = lock->second.Since;
    return result;
}

bool TRegistry::Post(const std::string& database, int32_t handle, const std::string& line,
                     std::vector<int64_t>& longQueues)
{
    std::lock_guard guard(FMutex);
    const auto db = FDatabases.find(database);
    if (db == FDatabases.end() || !db->second.Sessions.contains(handle))
        return false;
    for (auto& [other, session] : db->second.Sessions) {
        if (other == handle || !session.Listening)
            continue;
        if (session.Events.size() == MaxQueue)
            session.Events.pop_front();
        session.Events.push_back(line);
        if (session.Events.size() % LongQueue == 0)
            longQueues.push_back(session.AttachmentId);
    }
    return true;
}

std::string TRegistry::TakeEvents(const std::string& database, int32_t handle, size_t maxBytes)
{
    std::lock_guard guard(FMutex);
    std::string text;
    const auto db = FDatabases.find(database);
    if (db == FDatabases.end())
        return text;
    const auto session = db->second.Sessions.find(handle);
    if (session == db->second.Sessions.end())
        return text;
    session->second.Listening = true;
    auto& events = session->second.Events;
    while (!events.empty() && text.size() + events.front().size() + 1 <= maxBytes) {
        text += events.front();
        text += SessionProtocol::EventEnd;
        events.pop_front();
    }
    return text;
}

bool TRegistry::SessionOf(const std::string& database, int32_t handle, TSession& session)
{
    std::lock_guard guard(FMutex);
    const auto db = FDatabases.find(database);
    if (db == FDatabases.end())
        return false;
    const auto found = db->second.Sessions.find(handle);
    if (found == db->second.Sessions.end())
        return false;
    session = WithoutEvents(found->second);
    return true;
}

} // namespace UserSessions
