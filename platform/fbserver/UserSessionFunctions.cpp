// The server functions of the user-session protocol, as an external-engine
// (UDR) module of Firebird: framework.sql declares them with
// EXTERNAL NAME 'fbsession!...' ENGINE UDR.
//
// Clients call them inside their read-only transaction, where PSQL could not
// write: locks, sessions and events live in this process (SessionRegistry.h).
// Audit messages go to the table SYS$AUDIT in the caller's transaction when
// it may write (the audit of a change commits or rolls back with it), else
// through a read-write transaction of our own, committed at once.
#define FB_UDR_STATUS_TYPE ::Firebird::ThrowStatusWrapper

#include "SessionRegistry.h"

#include <firebird/UdrCppEngine.h>
#include <ibase.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>

using namespace Firebird;
using UserSessions::TRegistry;

namespace {

constexpr unsigned CharsetOctets = 1;
constexpr unsigned CharsetUtf8 = 4;
// What one F_GetEvents call returns at most: whole lines within the width of
// its result (VARCHAR(8000) CHARACTER SET UTF8).
constexpr size_t EventTextBytes = 8000;

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
// the caller, in a transaction of its own (a fresh snapshot). The tables show
// other users' attachments only to SYSDBA, the owner and RDB$ADMIN: for
// anyone else another user's holder counts as alive.
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

// Drops the sessions of an attachment that has gone; true when it had.
bool ForgetIfGone(TStatus* status, IExternalContext* context, int64_t attachmentId, const std::string& holderUser)
{
    if (AttachmentAlive(status, context, attachmentId, holderUser))
        return false;
    TRegistry::Instance().Forget(DatabaseOf(context), attachmentId);
    return true;
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
***/
FB_UDR_BEGIN_FUNCTION(register_session)
    FB_UDR_MESSAGE(InMessage, (FB_INTEGER, userId));
    FB_UDR_MESSAGE(OutMessage, (FB_INTEGER, result));

    FB_UDR_EXECUTE_FUNCTION
    {
        out->resultNull = FB_FALSE;
        out->result = TRegistry::Instance().Register(DatabaseOf(context), in->userIdNull ? 0 : in->userId,
                                                     AttachmentIdOf(status, context), UserOf(context));
    }
FB_UDR_END_FUNCTION

/***
create function f_UnregisterUserSession (hs integer) returns integer
    external name 'fbsession!unregister_session' engine udr;
***/
FB_UDR_BEGIN_FUNCTION(unregister_session)
    FB_UDR_MESSAGE(InMessage, (FB_INTEGER, hs));
    FB_UDR_MESSAGE(OutMessage, (FB_INTEGER, result));

    FB_UDR_EXECUTE_FUNCTION
    {
        if (!in->hsNull)
            TRegistry::Instance().Unregister(DatabaseOf(context), in->hs);
        out->resultNull = FB_FALSE;
        out->result = 0;
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

    FB_UDR_EXECUTE_FUNCTION
    {
        out->resultNull = FB_FALSE;
        if (in->hsNull || in->rnNull) {
            out->result = in->hsNull ? SessionProtocol::UnknownSession : SessionProtocol::NoRecord;
            return;
        }
        const std::string database = DatabaseOf(context);
        const std::string record = RecordOf(in->rn.str);
        try {
            auto attempt = TRegistry::Instance().Lock(database, in->hs, record);
            // A holder whose attachment has gone holds nothing: ask once.
            if (attempt.Result == SessionProtocol::LockedByOther
                && ForgetIfGone(status, context, attempt.HolderAttachment, attempt.HolderUser))
                attempt = TRegistry::Instance().Lock(database, in->hs, record);
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

    FB_UDR_EXECUTE_FUNCTION
    {
        out->resultNull = FB_FALSE;
        out->result = !in->hsNull && !in->rnNull
                              && TRegistry::Instance().Unlock(DatabaseOf(context), in->hs, RecordOf(in->rn.str))
                          ? 1
                          : 0;
    }
FB_UDR_END_FUNCTION

/***
create function F_GetLockInfo (hs integer, rn char(8) character set octets)
    returns varchar(255) character set utf8
    external name 'fbsession!lock_info' engine udr;
Who holds the lock and since when.
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
        auto holder = TRegistry::Instance().Holder(database, record);
        if (holder.Locked && (in->hsNull || holder.Session.Handle != in->hs)
            && ForgetIfGone(status, context, holder.Session.AttachmentId, holder.Session.UserName))
            holder = TRegistry::Instance().Holder(database, record);
        std::string text = "Запись не заблокирована";
        if (holder.Locked)
            text = "Запись заблокирована пользователем " + holder.Session.UserName + " (код "
                   + std::to_string(holder.Session.UserId) + ", сессия " + std::to_string(holder.Session.Handle)
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
TEventLine). 0, or -400 for an unknown sender.
***/
FB_UDR_BEGIN_FUNCTION(post_event)
    FB_UDR_MESSAGE(InMessage,
                   (FB_INTEGER, hs)(FB_INTEGER, param)(FB_INTEGER, kind)(FB_INTEGER, operation)(
                       FB_INTL_VARCHAR(63 * 4, CharsetUtf8), tableName)(FB_INTL_VARCHAR(16 * 4, CharsetUtf8), record));
    FB_UDR_MESSAGE(OutMessage, (FB_INTEGER, result));

    FB_UDR_EXECUTE_FUNCTION
    {
        out->resultNull = FB_FALSE;
        if (in->hsNull) {
            out->result = SessionProtocol::UnknownSession;
            return;
        }
        SessionProtocol::TEventLine event;
        event.Sender = in->hs;
        event.Param = in->paramNull ? 0 : in->param;
        event.Kind = in->kindNull ? 0 : in->kind;
        event.Operation = in->operationNull ? 0 : in->operation;
        event.RecordHex = in->recordNull ? std::string() : Text(in->record.str, in->record.length);
        event.TableName = Text(in->tableName.str, in->tableName.length);
        const std::string line = SessionProtocol::FormatEventLine(event);
        const std::string database = DatabaseOf(context);
        std::vector<int64_t> longQueues;
        if (!TRegistry::Instance().Post(database, in->hs, line, longQueues)) {
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
The oldest events queued for the session, one line each, consumed.
***/
FB_UDR_BEGIN_FUNCTION(get_events)
    FB_UDR_MESSAGE(InMessage, (FB_INTEGER, hs));
    FB_UDR_MESSAGE(OutMessage, (FB_INTL_VARCHAR(EventTextBytes, CharsetUtf8), result));

    FB_UDR_EXECUTE_FUNCTION
    {
        out->resultNull = FB_FALSE;
        const std::string text = in->hsNull
                                     ? std::string()
                                     : TRegistry::Instance().TakeEvents(DatabaseOf(context), in->hs, EventTextBytes);
        SetText(text, out->result.length, out->result.str, sizeof out->result.str);
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

    FB_UDR_EXECUTE_FUNCTION
    {
        FB_MESSAGE(Row, TStatus,
                   (FB_INTEGER, session)(FB_INTEGER, userId)(FB_INTL_VARCHAR(63 * 4, CharsetUtf8), userName)(
                       FB_INTL_VARCHAR(8191 * 4, CharsetUtf8), message));
        auto row = std::make_unique<Row>(status, master);
        row->clear();
        row->data.session = in->hsNull ? -1 : in->hs;
        row->data.sessionNull = FB_FALSE;
        UserSessions::TSession session;
        // An unknown session's message is stored all the same: audit is not dropped.
        if (!in->hsNull && TRegistry::Instance().SessionOf(DatabaseOf(context), in->hs, session)) {
            row->data.userId = session.UserId;
            SetText(session.UserName, row->data.userName.length, row->data.userName.str, sizeof row->data.userName.str);
        } else {
            row->data.userIdNull = FB_TRUE;
            SetText(UserOf(context), row->data.userName.length, row->data.userName.str, sizeof row->data.userName.str);
        }
        row->data.messageNull = in->messageNull;
        if (!in->messageNull) {
            row->data.message.length = in->message.length;
            std::memcpy(row->data.message.str, in->message.str, in->message.length);
        }

        static constexpr const char* Insert =
            "insert into SYS$AUDIT (AUDIT_ID, AUDIT_TIME, SESSION_ID, USER_ID, USER_NAME, MESSAGE)"
            " values (next value for SYS$AUDIT_GEN, current_timestamp, ?, ?, ?, ?)";
        TReleased<IAttachment> attachment(context->getAttachment(status));
        TReleased<ITransaction> caller(context->getTransaction(status));
        if (Writable(status, caller.get())) {
            attachment->execute(status, caller.get(), 0, Insert, SQL_DIALECT_V6, row->getMetadata(), row->getData(),
                                nullptr, nullptr);
        } else {
            TOwnTransaction transaction(status, master, attachment.get(), true);
            attachment->execute(status, transaction.get(), 0, Insert, SQL_DIALECT_V6, row->getMetadata(),
                                row->getData(), nullptr, nullptr);
            transaction.Commit(status);
        }
        out->resultNull = FB_FALSE;
        out->result = 0;
    }
FB_UDR_END_FUNCTION

FB_UDR_IMPLEMENT_ENTRY_POINT
