#include "SessionRegistry.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

namespace UserSessions {

namespace {

TSession WithoutEvents(const TSession& session)
{
    TSession copy;
    copy.Handle = session.Handle;
    copy.Number = session.Number;
    copy.UserId = session.UserId;
    copy.AttachmentId = session.AttachmentId;
    copy.UserName = session.UserName;
    return copy;
}

std::string MarkerLine(uint64_t dropped)
{
    SessionProtocol::TEventLine marker;
    marker.Kind = SessionProtocol::EventsLostKind;
    marker.Param = static_cast<int32_t>(std::min<uint64_t>(dropped, INT32_MAX));
    marker.RecordHex = std::string(SessionProtocol::RecordHexDigits, '0');
    return SessionProtocol::FormatEventLine(marker);
}

void Queue(TSession& reader, const std::string& line)
{
    if (reader.Events.size() >= MaxQueue) {
        // The reader has missed changes either way: one line tells it so,
        // and what it would still get is what follows.
        reader.Dropped += reader.Events.size() - (reader.Dropped > 0 ? 1 : 0);
        reader.Events.clear();
        reader.Events.push_back(MarkerLine(reader.Dropped));
    }
    reader.Events.push_back(line);
}

size_t Utf8Chars(const std::string& text)
{
    return static_cast<size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// --- the claim by lock file

class TFileDescriptor
{
public:
    explicit TFileDescriptor(int fd = -1) : FFd(fd) {}
    ~TFileDescriptor()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    int get() const { return FFd; }
    int release() { return std::exchange(FFd, -1); }

private:
    int FFd;
};

std::string ErrorText(const std::string& what, const std::string& path, int error)
{
    return what + " " + path + ": " + std::strerror(error);
}

// The process id the lock file names; empty when it names none.
std::string HolderOf(int fd)
{
    char text[32] = {};
    const ssize_t length = ::pread(fd, text, sizeof text - 1, 0);
    std::string holder(text, length > 0 ? static_cast<size_t>(length) : 0);
    holder.erase(std::remove_if(holder.begin(), holder.end(), [](char c) { return c < '0' || c > '9'; }), holder.end());
    return holder;
}

// The first byte's lock, as open file description locks see it: whoever
// holds it keeps the database; they conflict across processes and across
// open files of one process alike, and go with the holder's last descriptor.
struct flock FirstByte(short type)
{
    struct flock lock
    {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1;
    return lock;
}

bool HeldByOther(int fd)
{
    struct flock probe = FirstByte(F_WRLCK);
    return ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

class TFileClaim : public TProcessClaim
{
public:
    TFileClaim(std::string path, int fd) : FPath(std::move(path)), FFd(fd) {}
    ~TFileClaim() override
    {
        // Removed while still locked: a process that opened it meanwhile
        // finds it gone and opens a new one.
        ::unlink(FPath.c_str());
    }

private:
    std::string FPath;
    TFileDescriptor FFd;
};

bool SameFile(int fd, const std::string& path)
{
    struct stat byDescriptor
    {};
    struct stat byPath
    {};
    return ::fstat(fd, &byDescriptor) == 0 && ::stat(path.c_str(), &byPath) == 0 && byDescriptor.st_dev == byPath.st_dev
           && byDescriptor.st_ino == byPath.st_ino;
}

} // namespace

TClaimedElsewhere::TClaimedElsewhere(const std::string& database, const std::string& holder)
    : TRegistryError("The user sessions of " + database + " are kept by another process"
                     + (holder.empty() ? std::string() : " (pid " + holder + ")")
                     + ": sessions, record locks and events need every attachment of a database served by one "
                       "engine process, a Firebird server in SuperServer or SuperClassic mode, not a Classic "
                       "server nor several programs with the embedded engine")
{
}

std::unique_ptr<TProcessClaim> TFileClaims::Claim(const std::string& database)
{
    const std::string path = LockFileOf(database);
    // A few rounds: a file its holder removes as we open it is opened again.
    for (int round = 0; round < 8; ++round) {
        TFileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        if (fd.get() < 0 && errno == EACCES) {
            // Another user's file: if nobody holds it, its holder died.
            TFileDescriptor reader(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
            if (reader.get() >= 0 && HeldByOther(reader.get()))
                throw TClaimedElsewhere(database, HolderOf(reader.get()));
            if (::unlink(path.c_str()) != 0)
                throw TRegistryError(ErrorText("Cannot take over the lock file", path, errno));
            continue;
        }
        if (fd.get() < 0)
            throw TRegistryError(ErrorText("Cannot create the lock file", path, errno));
        struct flock lock = FirstByte(F_WRLCK);
        if (::fcntl(fd.get(), F_OFD_SETLK, &lock) != 0) {
            if (errno == EAGAIN || errno == EACCES)
                throw TClaimedElsewhere(database, HolderOf(fd.get()));
            throw TRegistryError(ErrorText("Cannot lock", path, errno));
        }
        if (!SameFile(fd.get(), path))
            continue; // removed by the previous holder meanwhile
        const std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(fd.get(), 0) == 0 && ::pwrite(fd.get(), pid.data(), pid.size(), 0) < 0) {
            // the process id only helps the message of the refused
        }
        return std::make_unique<TFileClaim>(path, fd.release());
    }
    throw TRegistryError("Cannot claim " + path + ": it keeps being replaced");
}

void TFileClaims::CheckNotClaimedElsewhere(const std::string& database)
{
    TFileDescriptor fd(::open(LockFileOf(database).c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() >= 0 && HeldByOther(fd.get()))
        throw TClaimedElsewhere(database, HolderOf(fd.get()));
}

uint32_t RandomBits()
{
    uint32_t bits = 0;
    while (::getrandom(&bits, sizeof bits, 0) != static_cast<ssize_t>(sizeof bits))
        if (errno != EINTR)
            throw TRegistryError(std::string("No random numbers for session handles: ") + std::strerror(errno));
    return bits;
}

// --- the registry

TRegistry::TRegistry(THandleSource handles, std::shared_ptr<TProcessClaims> claims)
    : FHandles(std::move(handles)), FClaims(std::move(claims))
{
}

TRegistry& TRegistry::Instance()
{
    // Never destroyed: the engine may dispose of function instances, which
    // forget their sessions here, after this module's static objects are gone.
    static TRegistry* const registry = new TRegistry(RandomBits, std::make_shared<TFileClaims>());
    return *registry;
}

TRegistry::TDatabase* TRegistry::Find(const std::string& database)
{
    const auto db = FDatabases.find(database);
    if (db != FDatabases.end())
        return &db->second;
    FClaims->CheckNotClaimedElsewhere(database);
    return nullptr;
}

TSession* TRegistry::Owned(const std::string& database, const std::string& caller, int32_t handle)
{
    TDatabase* db = Find(database);
    if (!db)
        return nullptr;
    const auto session = db->Sessions.find(handle);
    if (session == db->Sessions.end() || session->second.UserName != caller)
        return nullptr;
    return &session->second;
}

int32_t TRegistry::NewHandle() const
{
    const auto inUse = [this](int32_t handle) {
        return std::any_of(FDatabases.begin(), FDatabases.end(),
                           [handle](const auto& db) { return db.second.Sessions.contains(handle); });
    };
    for (;;) {
        const auto handle = static_cast<int32_t>(FHandles() & 0x7FFFFFFFu);
        if (handle != 0 && !inUse(handle))
            return handle;
    }
}

int32_t TRegistry::Register(const std::string& database, int32_t userId, int64_t attachmentId,
                            const std::string& userName)
{
    std::lock_guard guard(FMutex);
    const int32_t handle = NewHandle();
    auto db = FDatabases.find(database);
    if (db == FDatabases.end()) {
        auto claim = FClaims->Claim(database);
        db = FDatabases.try_emplace(database).first;
        db->second.Claim = std::move(claim);
    }
    TSession& session = db->second.Sessions[handle];
    session.Handle = handle;
    session.Number = db->second.NextNumber++;
    session.UserId = userId;
    session.AttachmentId = attachmentId;
    session.UserName = userName;
    return handle;
}

void TRegistry::DropSession(const std::string& database, TDatabase& db, int32_t handle)
{
    db.Sessions.erase(handle);
    std::erase_if(db.Locks, [handle](const auto& item) { return item.second.Holder == handle; });
    if (db.Sessions.empty())
        FDatabases.erase(database); // and with it the claim: another process may keep them now
}

bool TRegistry::Unregister(const std::string& database, const std::string& caller, int32_t handle)
{
    std::lock_guard guard(FMutex);
    if (!Owned(database, caller, handle))
        return false;
    DropSession(database, FDatabases.at(database), handle);
    return true;
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
    for (int32_t handle : dead) {
        const auto still = FDatabases.find(database); // gone with its last session
        if (still == FDatabases.end())
            break;
        DropSession(database, still->second, handle);
    }
}

TLockAttempt TRegistry::Lock(const std::string& database, const std::string& caller, int32_t handle,
                             const TRecordId& record)
{
    std::lock_guard guard(FMutex);
    TLockAttempt attempt;
    if (!Owned(database, caller, handle)) {
        attempt.Result = SessionProtocol::UnknownSession;
        return attempt;
    }
    TDatabase& db = FDatabases.at(database);
    auto [lock, added] = db.Locks.try_emplace(record);
    if (added) {
        lock->second.Holder = handle;
        lock->second.Since = std::chrono::system_clock::now();
        return attempt;
    }
    if (lock->second.Holder == handle)
        return attempt; // asked twice: still ours
    const TSession& holder = db.Sessions.at(lock->second.Holder);
    attempt.Result = SessionProtocol::LockedByOther;
    attempt.HolderAttachment = holder.AttachmentId;
    attempt.HolderUser = holder.UserName;
    return attempt;
}

bool TRegistry::Unlock(const std::string& database, const std::string& caller, int32_t handle, const TRecordId& record)
{
    std::lock_guard guard(FMutex);
    if (!Owned(database, caller, handle))
        return false;
    auto& locks = FDatabases.at(database).Locks;
    const auto lock = locks.find(record);
    if (lock == locks.end() || lock->second.Holder != handle)
        return false; // another session's lock stays
    locks.erase(lock);
    return true;
}

TLockHolder TRegistry::Holder(const std::string& database, const TRecordId& record)
{
    std::lock_guard guard(FMutex);
    TLockHolder result;
    TDatabase* db = Find(database);
    if (!db)
        return result;
    const auto lock = db->Locks.find(record);
    if (lock == db->Locks.end())
        return result;
    result.Locked = true;
    result.Session = WithoutEvents(db->Sessions.at(lock->second.Holder));
    result.Since = lock->second.Since;
    return result;
}

bool TRegistry::Post(const std::string& database, const std::string& caller, int32_t handle,
                     SessionProtocol::TEventLine event, std::vector<int64_t>& longQueues)
{
    std::lock_guard guard(FMutex);
    const TSession* sender = Owned(database, caller, handle);
    if (!sender)
        return false;
    event.Sender = sender->Number;
    const std::string line = SessionProtocol::FormatEventLine(event);
    for (auto& [other, session] : FDatabases.at(database).Sessions) {
        if (other == handle || !session.Listening)
            continue;
        Queue(session, line);
        if (session.Events.size() % LongQueue == 0)
            longQueues.push_back(session.AttachmentId);
    }
    return true;
}

size_t TRegistry::TakeEvents(const std::string& database, const std::string& caller, int32_t handle,
                             TEventBudget budget, const std::function<void(const std::string&)>& handOver)
{
    std::lock_guard guard(FMutex);
    TSession* session = Owned(database, caller, handle);
    if (!session)
        return 0;
    session->Listening = true;
    std::string text;
    size_t chars = 0;
    size_t lines = 0;
    for (const std::string& line : session->Events) {
        const size_t lineChars = Utf8Chars(line) + 1;
        if (chars + lineChars > budget.Chars || text.size() + line.size() + 1 > budget.Bytes)
            break;
        text += line;
        text += SessionProtocol::EventEnd;
        chars += lineChars;
        ++lines;
    }
    handOver(text);
    if (lines > 0 && session->Dropped > 0)
        session->Dropped = 0; // the marker went with them
    session->Events.erase(session->Events.begin(), session->Events.begin() + static_cast<ptrdiff_t>(lines));
    return lines;
}

bool TRegistry::SessionOf(const std::string& database, const std::string& caller, int32_t handle, TSession& session)
{
    std::lock_guard guard(FMutex);
    const TSession* found = Owned(database, caller, handle);
    if (!found)
        return false;
    session = WithoutEvents(*found);
    return true;
}

} // namespace UserSessions
