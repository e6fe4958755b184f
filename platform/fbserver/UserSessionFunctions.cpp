// The server functions of the user-session protocol, as an external-engine
// (UDR) module of Firebird: framework.sql declares them with
// EXTERNAL NAME 'fbsession!...' ENGINE UDR.
//
// Clients call them inside their read-only transaction, where PSQL could not
// write: locks, sessions and events live in this process (SessionRegistry.h).
// Audit messages go to the table SYS$AUDIT in the caller's transaction when
// it may write (the audit of a change commits or rolls back with it), else
// through a read-write transaction of our own, committed at once.
//
// A session answers only calls of the database user that registered it; for
// any other user its handle names no session. It ends with the attachment
// that registered it: the engine disposes of a function's instance per
// attachment as the attachment ends, however it ends (closed, its client
// killed, deleted from MON$ATTACHMENTS), and register_session's instance then
// forgets the sessions of its attachment.
#define FB_UDR_STATUS_TYPE ::Firebird::ThrowStatusWrapper

#include "SessionRegistry.h"

#include <firebird/UdrCppEngine.h>
#include <ibase.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>

using namespace Firebird;
using UserSessions::TRegistry;

namespace {

constexpr unsigned CharsetOctets = 1;
constexpr unsigned CharsetUtf8 = 4;
// What one F_GetEvents call returns at most: whole lines within the width of
// its result, VARCHAR(8000) CHARACTER SET UTF8, which is what the engine
// checks the value against.
constexpr unsigned EventTextChars = 8000;

using TStatus = ThrowStatusWrapper;

template <typename T>
class TReleased
{
public:
    explicit TReleased(T* object = nullptr) : FObject(object) {}
    ~TReleased()
    {
        if (FObject)
            FObject->release();
    }
    TReleased(const TReleased&) = delete;
    TReleased& operator=(const TReleased&) = delete;
    T* operator->() const { return FObject; }
    T* get() const { return FObject; }

private:
    T* FObject;
};

// A transaction of our own on the caller's attachment: rolled back unless
// committed.
class TOwnTransaction
{
public:
    TOwnTransaction(TStatus* status, IMaster* master, IAttachment* attachment, bool write) : FMaster(master)
    {
        const unsigned char readOnly[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_read_committed, isc_tpb_rec_version,
                                          isc_tpb_nowait};
        const unsigned char readWrite[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed, isc_tpb_rec_version,
                                           isc_tpb_nowait};
        FTransaction = write ? attachment->startTransaction(status, sizeof readWrite, readWrite)
                             : attachment->startTransaction(status, sizeof readOnly, readOnly);
    }
    ~TOwnTransaction()
    {
        if (!FTransaction)
            return;
        IStatus* quiet = FMaster->getStatus();
        CheckStatusWrapper wrapper(quiet);
        FTransaction->rollback(&wrapper);
        quiet->dispose();
    }
    TOwnTransaction(const TOwnTransaction&) = delete;
    TOwnTransaction& operator=(const TOwnTransaction&) = delete;

    ITransaction* get() const { return FTransaction; }
    void Commit(TStatus* status)
    {
        FTransaction->commit(status);
        FTransaction = nullptr; // released by a successful commit
    }

private:
    IMaster* FMaster;
    ITransaction* FTransaction = nullptr;
};

// Whether the transaction may write; one that does not say counts as read-only.
bool Writable(TStatus* status, ITransaction* transaction)
{
    const unsigned char items[] = {isc_info_tra_access, isc_info_end};
    unsigned char buffer[16] = {};
    transaction->getInfo(status, sizeof items, items, sizeof buffer, buffer);
    if (buffer[0] != isc_info_tra_access)
        return false;
    const short length = static_cast<short>(isc_portable_integer(buffer + 1, 2));
    return isc_portable_integer(buffer + 3, length) == isc_info_tra_readwrite;
}

std::string DatabaseOf(IExternalContext* context) { return context->getDatabaseName(); }

std::string UserOf(IExternalContext* context)
{
    const char* name = context->getUserName();
    return name ? name : "";
}

[[noreturn]] void RaiseError(TStatus* status, const std::string& text)
{
    const ISC_STATUS vector[] = {isc_arg_gds, isc_random, isc_arg_string, reinterpret_cast<ISC_STATUS>(text.c_str()),
                                 isc_arg_end};
    throw FbException(status, vector);
}

// Runs a call into the registry; a refusal it explains in words becomes the
// caller's error.
template <typename Call>
auto Reporting(TStatus* status, Call&& call) -> decltype(call())
{
    try {
        return call();
    } catch (const UserSessions::TRegistryError& e) {
        RaiseError(status, e.what());
    }
}

int64_t AttachmentIdOf(TStatus* status, IExternalContext* context)
{
    TReleased<IAttachment> attachment(context->getAttachment(status));
    const unsigned char items[] = {isc_info_attachment_id, isc_info_end};
    unsigned char buffer[32] = {};
    attachment->getInfo(status, sizeof items, items, sizeof buffer, buffer);
    if (buffer[0] != isc_info_attachment_id)
        return 0;
    const int length = static_cast<int>(isc_portable_integer(buffer + 1, 2));
    return isc_portable_integer(buffer + 3, static_cast<short>(length));
}

// Whether the attachment still exists, as the monitoring tables show it to
// the caller, in a transaction of its own (a fresh snapshot). An attachment
// that ends drops its sessions by itself (register_session); this catches
// one deleted from MON$ATTACHMENTS that the engine has not closed yet. The
// tables show other users' attachments only to SYSDBA, the owner and
// RDB$ADMIN: for anyone else another user's holder counts as alive.
bool AttachmentAlive(TStatus* status, IExternalContext* context, int64_t attachmentId, const std::string& holderUser)
{
    FB_MESSAGE(Input, TStatus, (FB_BIGINT, id));
    FB_MESSAGE(Output, TStatus, (FB_INTEGER, visible)(FB_INTEGER, privileged));
    IMaster* master = context->getMaster();
    Input input(status, master);
    Output output(status, master);
    input.clear();
    input->id = attachmentId;

    TReleased<IAttachment> attachment(context->getAttachment(status));
    TOwnTransaction transaction(status, master, attachment.get(), false);
    attachment->execute(
        status, transaction.get(), 0,
        "select (select count(*) from mon$attachments where mon$attachment_id = ?),"
        " iif(current_user = 'SYSDBA' or current_role = 'RDB$ADMIN' or current_user = "
        "(select trim(rdb$owner_name) from rdb$relations where rdb$relation_name = 'RDB$DATABASE'), 1, 0)"
        " from rdb$database",
        SQL_DIALECT_V6, input.getMetadata(), input.getData(), output.getMetadata(), output.getData());
    transaction.Commit(status);
    if (output->visible > 0)
        return true;
    return !(output->privileged || holderUser == UserOf(context));
}

// Holders found alive, believed so for a while: a monitoring snapshot on
// every conflict was most of the server's work when many clients contend
// for few records. A holder deleted from the monitoring tables therefore
// loses its locks within Belief, not at the very next conflict. A holder's
// own calls (TCallerAlive) show it alive as well: an attachment that has
// gone calls nothing, so one that called within Belief needs no snapshot.
class TAliveHolders
{
public:
    static constexpr std::chrono::milliseconds Belief{250};

    static TAliveHolders& Instance()
    {
        static TAliveHolders holders;
        return holders;
    }
    bool Believed(const std::string& database, int64_t attachmentId)
    {
        const std::lock_guard lock(FMutex);
        const auto found = FSeen.find({database, attachmentId});
        return found != FSeen.end() && Clock::now() - found->second < Belief;
    }
    void Seen(const std::string& database, int64_t attachmentId)
    {
        const std::lock_guard lock(FMutex);
        const Clock::time_point now = Clock::now();
        if (FSeen.size() >= PruneAbove)
            std::erase_if(FSeen, [&](const auto& entry) { return now - entry.second >= Belief; });
        FSeen[{database, attachmentId}] = now;
    }
    void Gone(const std::string& database, int64_t attachmentId)
    {
        const std::lock_guard lock(FMutex);
        FSeen.erase({database, attachmentId});
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr size_t PruneAbove = 1024;
    std::mutex FMutex;
    std::map<std::pair<std::string, int64_t>, Clock::time_point> FSeen;
};

// The calling attachment, alive as it calls: each call of the session
// functions marks it so (see TAliveHolders). Kept by a function's instance,
// which serves one attachment.
class TCallerAlive
{
public:
    void Mark(TStatus* status, IExternalContext* context)
    {
        if (FAttachmentId == 0) {
            FDatabase = DatabaseOf(context);
            FAttachmentId = AttachmentIdOf(status, context);
        }
        TAliveHolders::Instance().Seen(FDatabase, FAttachmentId);
    }

private:
    std::string FDatabase;
    int64_t FAttachmentId = 0;
};

// Drops the sessions of an attachment that has gone; true when it had.
bool ForgetIfGone(TStatus* status, IExternalContext* context, int64_t attachmentId, const std::string& holderUser)
{
    const std::string database = DatabaseOf(context);
    TAliveHolders& holders = TAliveHolders::Instance();
    if (holders.Believed(database, attachmentId))
        return false;
    if (AttachmentAlive(status, context, attachmentId, holderUser)) {
        holders.Seen(database, attachmentId);
        return false;
    }
    holders.Gone(database, attachmentId);
    TRegistry::Instance().Forget(database, attachmentId);
    return true;
}

// The caller's session of the handle, without its events; false when the
// caller has none so.
bool CallerSession(TStatus* status, IExternalContext* context, int32_t handle, UserSessions::TSession& session)
{
    return Reporting(
        status, [&] { return TRegistry::Instance().SessionOf(DatabaseOf(context), UserOf(context), handle, session); });
}

std::string RecordOf(const char* bytes) { return std::string(bytes, SessionProtocol::RecordBytes); }

std::string Text(const char* data, unsigned length) { return std::string(data, length); }

void SetText(std::string text, ISC_USHORT& length, char* data, size_t capacity)
{
    if (text.size() > capacity)
        text.resize(capacity);
    length = static_cast<ISC_USHORT>(text.size());
    std::memcpy(data, text.data(), text.size());
}

std::string FormatTime(std::chrono::system_clock::time_point when)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%d.%m.%Y %H:%M:%S", &local);
    return text;
}

} // namespace

/***
create function f_RegisterUserSession (user_id integer) returns integer
    external name 'fbsession!register_session' engine udr;
The new session's handle: random, above 0. Raises when another process keeps
the database's sessions (a Classic server, a second embedded program).
***/
FB_UDR_BEGIN_FUNCTION(register_session)
    FB_UDR_MESSAGE(InMessage, (FB_INTEGER, userId));
    FB_UDR_MESSAGE(OutMessage, (FB_INTEGER, result));

    // One instance per attachment, disposed of when the attachment ends.
    FB_UDR_DESTRUCTOR
    {
        if (FAttachmentId == 0)
            return;
        try {
            TRegistry::Instance().Forget(FDatabase, FAttachmentId);
        } catch (...) {
            // nothing can be reported from here
        }
    }

    std::string FDatabase;
    int64_t FAttachmentId = 0;

    FB_UDR_EXECUTE_FUNCTION
    {
        if (FAttachmentId == 0) {
            FDatabase = DatabaseOf(context);
            FAttachmentId = AttachmentIdOf(status, context);
        }
        out->resultNull = FB_FALSE;
        out->result = Reporting(status, [&] {
            return TRegistry::Instance().Register(FDatabase, in->userIdNull ? 0 : in->userId, FAttachmentId,
                                                  UserOf(context));
        });
    }
FB_UDR_END_FUNCTION

/***
create function f_UnregisterUserSession (hs integer) returns integer
    external name 'fbsession!unregister_session' engine udr;
0 when the caller's session ended, -400 when the caller has no such session.
***/
FB_UDR_BEGIN_FUNCTION(unregister_session)
    FB_UDR_MESSAGE(InMessage, (FB_INTEGER, hs));
    FB_UDR_MESSAGE(OutMessage, (FB_INTEGER, result));

    FB_UDR_EXECUTE_FUNCTION
    {
        const bool ended = !in->hsNull && Reporting(status, [&] {
            return TRegistry::Instance().Unregister(DatabaseOf(context), UserOf(context), in->hs);
        });
        out->resultNull = FB_FALSE;
        out->result = ended ? SessionProtocol::Ok : SessionProtocol::UnknownSession;
    }
FB_UDR_END_FUNCTION

/***
create function f_LockRecord (hs integer, rn char(8) character set octets) returns integer
    external name 'fbsession!lock_record' engine udr;
0 locked for the session (also when it held the lock already), -1100 held by
another live session, -400 unknown session, -200 no record, -100 out of
memory (SessionProtocol::TResult).
***/
FB_UDR_BEGIN_FUNCTION(lock_record)
    FB_UDR_MESSAGE(InMessage, (FB_INTEGER, hs)(FB_INTL_CHAR(8, CharsetOctets), rn));
    FB_UDR_MESSAGE(OutMessage, (FB_INTEGER, result));

    TCallerAlive FCaller;

    FB_UDR_EXECUTE_FUNCTION
    {
        FCaller.Mark(status, context);
        out->resultNull = FB_FALSE;
        if (in->hsNull || in->rnNull) {
            out->result = in->hsNull ? SessionProtocol::UnknownSession : SessionProtocol::NoRecord;
            return;
        }
        const std::string database = DatabaseOf(context);
        const std::string caller = UserOf(context);
        const std::string record = RecordOf(in->rn.str);
        const auto lock = [&] {
            return Reporting(status, [&] { return TRegistry::Instance().Lock(database, caller, in->hs, record); });
        };
        try {
            auto attempt = lock();
            // A holder whose attachment has gone holds nothing: ask once.
            if (attempt.Result == SessionProtocol::LockedByOther
                && ForgetIfGone(status, context, attempt.HolderAttachment, attempt.HolderUser))
                attempt = lock();
            out->result = attempt.Result;
        } catch (const std::bad_alloc&) {
            out->result = SessionProtocol::OutOfMemory;
        }
    }
FB_UDR_END_FUNCTION

/***
create function F_UNLOCKRECORD (hs integer, rn char(8) character set octets) returns integer
    external name 'fbsession!unlock_record' engine udr;
1 when the session held the lock, 0 otherwise.
***/
FB_UDR_BEGIN_FUNCTION(unlock_record)
    FB_UDR_MESSAGE(InMessage, (FB_INTEGER, hs)(FB_INTL_CHAR(8, CharsetOctets), rn));
    FB_UDR_MESSAGE(OutMessage, (FB_INTEGER, result));

    TCallerAlive FCaller;

    FB_UDR_EXECUTE_FUNCTION
    {
        FCaller.Mark(status, context);
        out->resultNull = FB_FALSE;
        out->result = !in->hsNull && !in->rnNull && Reporting(status, [&] {
            return TRegistry::Instance().Unlock(DatabaseOf(context), UserOf(context), in->hs, RecordOf(in->rn.str));
        });
    }
FB_UDR_END_FUNCTION

/***
create function F_GetLockInfo (hs integer, rn char(8) character set octets)
    returns varchar(255) character set utf8
    external name 'fbsession!lock_info' engine udr;
Who holds the lock and since when; the holder's session by its public number.
***/
FB_UDR_BEGIN_FUNCTION(lock_info)
    FB_UDR_MESSAGE(InMessage, (FB_INTEGER, hs)(FB_INTL_CHAR(8, CharsetOctets), rn));
    FB_UDR_MESSAGE(OutMessage, (FB_INTL_VARCHAR(255 * 4, CharsetUtf8), result));

    FB_UDR_EXECUTE_FUNCTION
    {
        out->resultNull = FB_FALSE;
        if (in->rnNull) {
            SetText("", out->result.length, out->result.str, sizeof out->result.str);
            return;
        }
        const std::string database = DatabaseOf(context);
        const std::string record = RecordOf(in->rn.str);
        const auto holderOf = [&] {
            return Reporting(status, [&] { return TRegistry::Instance().Holder(database, record); });
        };
        auto holder = holderOf();
        if (holder.Locked && (in->hsNull || holder.Session.Handle != in->hs)
            && ForgetIfGone(status, context, holder.Session.AttachmentId, holder.Session.UserName))
            holder = holderOf();
        std::string text = "Запись не заблокирована";
        if (holder.Locked)
            text = "Запись заблокирована пользователем " + holder.Session.UserName + " (код "
                   + std::to_string(holder.Session.UserId) + ", сессия " + std::to_string(holder.Session.Number)
                   + ") с " + FormatTime(holder.Since);
        SetText(text, out->result.length, out->result.str, sizeof out->result.str);
    }
FB_UDR_END_FUNCTION

/***
create function F_PostEvent (hs integer, event_param integer, event_kind integer, operation integer,
    table_name varchar(63) character set utf8, record_hex varchar(16) character set utf8)
    returns integer
    external name 'fbsession!post_event' engine udr;
Queues the event for every other session of the database: one line
"sender;param;kind;operation;record hex;table name" (SessionProtocol::
TEventLine), the sender by its session's public number. 0, or -400 for an
unknown sender.
***/
FB_UDR_BEGIN_FUNCTION(post_event)
    FB_UDR_MESSAGE(InMessage,
                   (FB_INTEGER, hs)(FB_INTEGER, param)(FB_INTEGER, kind)(FB_INTEGER, operation)(
                       FB_INTL_VARCHAR(63 * 4, CharsetUtf8), tableName)(FB_INTL_VARCHAR(16 * 4, CharsetUtf8), record));
    FB_UDR_MESSAGE(OutMessage, (FB_INTEGER, result));

    TCallerAlive FCaller;

    FB_UDR_EXECUTE_FUNCTION
    {
        FCaller.Mark(status, context);
        out->resultNull = FB_FALSE;
        if (in->hsNull) {
            out->result = SessionProtocol::UnknownSession;
            return;
        }
        SessionProtocol::TEventLine event;
        event.Param = in->paramNull ? 0 : in->param;
        event.Kind = in->kindNull ? 0 : in->kind;
        event.Operation = in->operationNull ? 0 : in->operation;
        event.RecordHex = in->recordNull ? std::string() : Text(in->record.str, in->record.length);
        event.TableName = Text(in->tableName.str, in->tableName.length);
        const std::string database = DatabaseOf(context);
        std::vector<int64_t> longQueues;
        if (!Reporting(status, [&] {
                return TRegistry::Instance().Post(database, UserOf(context), in->hs, event, longQueues);
            })) {
            out->result = SessionProtocol::UnknownSession;
            return;
        }
        // A reader that stopped reading may have gone: its queue goes with it.
        for (int64_t attachment : longQueues)
            ForgetIfGone(status, context, attachment, std::string());
        out->result = SessionProtocol::Ok;
    }
FB_UDR_END_FUNCTION

/***
create function F_GetEvents (hs integer) returns varchar(8000) character set utf8
    external name 'fbsession!get_events' engine udr;
The oldest events queued for the session, one line each: as many whole
lines as the result holds, taken off the queue once they are in it. Empty
when none wait; callers call again until it is.
***/
FB_UDR_BEGIN_FUNCTION(get_events)
    FB_UDR_MESSAGE(InMessage, (FB_INTEGER, hs));
    FB_UDR_MESSAGE(OutMessage, (FB_INTL_VARCHAR(EventTextChars * 4, CharsetUtf8), result));

    FB_UDR_EXECUTE_FUNCTION
    {
        out->resultNull = FB_FALSE;
        out->result.length = 0;
        if (in->hsNull)
            return;
        const UserSessions::TEventBudget budget{EventTextChars, sizeof out->result.str};
        Reporting(status, [&] {
            return TRegistry::Instance().TakeEvents(
                DatabaseOf(context), UserOf(context), in->hs, budget,
                [&](const std::string& text) { SetText(text, out->result.length, out->result.str, budget.Bytes); });
        });
    }
FB_UDR_END_FUNCTION

/***
create function F_WRITEAUDITMSG (hs integer, message varchar(8191) character set utf8) returns integer
    external name 'fbsession!write_audit' engine udr;
Stores the message whole in SYS$AUDIT with the time, the session and its
user: in the caller's transaction when it is read-write (called from the
transaction that writes the change, the audit row commits with it and never
without it), else committed at once.
***/
FB_UDR_BEGIN_FUNCTION(write_audit)
    FB_UDR_MESSAGE(InMessage, (FB_INTEGER, hs)(FB_INTL_VARCHAR(8191 * 4, CharsetUtf8), message));
    FB_UDR_MESSAGE(OutMessage, (FB_INTEGER, result));
    FB_MESSAGE(Row, TStatus,
               (FB_INTEGER, session)(FB_INTEGER, userId)(FB_INTL_VARCHAR(63 * 4, CharsetUtf8),
                                                         userName)(FB_INTL_VARCHAR(8191 * 4, CharsetUtf8), message));

    // The insert is prepared once per attachment (this instance's) and kept:
    // an audit row comes with every change, and compiling the statement for
    // each would cost the server more than the change itself.
    FB_UDR_DESTRUCTOR
    {
        if (FInsert)
            FInsert->release(); // the engine may have freed it with the attachment already
    }

    IStatement* FInsert = nullptr;
    IAttachment* FInsertAttachment = nullptr; // not owned: only compared
    std::unique_ptr<Row> FRow;

    IStatement* Insert(TStatus * status, IAttachment * attachment, ITransaction * transaction)
    {
        if (FInsert && FInsertAttachment == attachment)
            return FInsert;
        if (FInsert) {
            FInsert->release();
            FInsert = nullptr;
        }
        FInsert = attachment->prepare(
            status, transaction, 0,
            "insert into SYS$AUDIT (AUDIT_ID, AUDIT_TIME, SESSION_ID, USER_ID, USER_NAME, MESSAGE)"
            " values (next value for SYS$AUDIT_GEN, current_timestamp, ?, ?, ?, ?)",
            SQL_DIALECT_V6, 0);
        FInsertAttachment = attachment;
        return FInsert;
    }

    TCallerAlive FCaller;

    FB_UDR_EXECUTE_FUNCTION
    {
        FCaller.Mark(status, context);
        if (!FRow)
            FRow = std::make_unique<Row>(status, master);
        Row& row = *FRow;
        row.clear();
        row->session = in->hsNull ? -1 : in->hs;
        row->sessionNull = FB_FALSE;
        UserSessions::TSession session;
        // An unknown session's message is stored all the same: audit is not dropped.
        if (!in->hsNull && CallerSession(status, context, in->hs, session)) {
            row->userId = session.UserId;
            SetText(session.UserName, row->userName.length, row->userName.str, sizeof row->userName.str);
        } else {
            row->userIdNull = FB_TRUE;
            SetText(UserOf(context), row->userName.length, row->userName.str, sizeof row->userName.str);
        }
        row->messageNull = in->messageNull;
        if (!in->messageNull) {
            row->message.length = in->message.length;
            std::memcpy(row->message.str, in->message.str, in->message.length);
        }

        TReleased<IAttachment> attachment(context->getAttachment(status));
        TReleased<ITransaction> caller(context->getTransaction(status));
        if (Writable(status, caller.get())) {
            Insert(status, attachment.get(), caller.get())
                ->execute(status, caller.get(), row.getMetadata(), row.getData(), nullptr, nullptr);
        } else {
            TOwnTransaction transaction(status, master, attachment.get(), true);
            Insert(status, attachment.get(), transaction.get())
                ->execute(status, transaction.get(), row.getMetadata(), row.getData(), nullptr, nullptr);
            transaction.Commit(status);
        }
        out->resultNull = FB_FALSE;
        out->result = 0;
    }
FB_UDR_END_FUNCTION

FB_UDR_IMPLEMENT_ENTRY_POINT
