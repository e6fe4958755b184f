#include "SDatabaseSession.h"

#include "Dialogs.h"
#include "Exceptions.h"
#include "IBSQL.h"
#include "SDatabase.h"
#include "SessionProtocol.h"

namespace {

const QString LockedByOtherText = QStringLiteral("Запись блокирована другим пользователем");
const QString LockPromptText = QStringLiteral(
    "Запись блокирована другим пользователем\n\rИнтересует дополнительная информация ?");

// Closes the statement when the use ends, also when it raises.
class TClosing
{
public:
    explicit TClosing(TIBSQL& sql) : FSQL(sql) {}
    ~TClosing()
    {
        try {
            FSQL.Close();
        } catch (...) {
            // the error that ends the use is the one to report
        }
    }
    TClosing(const TClosing&) = delete;
    TClosing& operator=(const TClosing&) = delete;

private:
    TIBSQL& FSQL;
};

static_assert(std::tuple_size_v<TRecordID> == SessionProtocol::RecordBytes, "a record is a row address");

QByteArray Bytes(const TRecordID& id)
{
    return QByteArray(reinterpret_cast<const char*>(id.data()), static_cast<qsizetype>(id.size()));
}

std::unique_ptr<TIBSQL> NewStatement(TSDatabase& database, const char* text, bool withTransaction)
{
    auto sql = std::make_unique<TIBSQL>();
    sql->SetDatabase(&database);
    if (withTransaction)
        sql->SetTransaction(database.InternalTransaction());
    if (text)
        sql->SQL().SetText(QString::fromLatin1(text));
    return sql;
}

} // namespace

QString RecordIDHex(const TRecordID& id) { return QString::fromLatin1(Bytes(id).toHex().toUpper()); }

QString QuotedSQL(const QString& text)
{
    QString result = text;
    result.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + result + QLatin1Char('\'');
}

TUserSession::TUserSession(TSDatabase& database)
    : FDatabase(database),
      // The lock statement gets the internal transaction on first use.
      FLockStatement(NewStatement(database, LockText, false)),
      FUnlockStatement(NewStatement(database, UnlockText, true)),
      FLockInfoStatement(NewStatement(database, LockInfoText, true)),
      FAuditStatement(NewStatement(database, AuditText, true)),
      FPostEventStatement(NewStatement(database, PostEventText, true)),
      FUnlockAndPostEventStatement(NewStatement(database, UnlockAndPostEventText, true)),
      FGetEventsStatement(NewStatement(database, GetEventsText, true))
{
    FGetEventsStatement->SetGoToFirstRecordOnExecute(false);
}

TUserSession::~TUserSession()
{
    if (FDatabase.Connected() && FSessionHandle >= 0)
        Unregister(); // never raises
    if (FListening)
        StopListening();
}

void TUserSession::StartInternalTransaction()
{
    if (!FDatabase.InternalTransaction()->InTransaction())
        FDatabase.InternalTransaction()->StartTransaction();
}

void TUserSession::PrepareRecordStatement(TIBSQL& sql, const TRecordID& id)
{
    StartInternalTransaction();
    if (sql.Transaction() != FDatabase.InternalTransaction())
        sql.SetTransaction(FDatabase.InternalTransaction());
    if (!sql.Prepared())
        sql.Prepare();
    sql.Params(0).SetAsInteger(FSessionHandle);
    sql.Params(1).SetAsBytes(Bytes(id));
}

void TUserSession::ExecuteRecordStatement(TIBSQL& sql, const TRecordID& id)
{
    TClosing closing(sql);
    PrepareRecordStatement(sql, id);
    sql.ExecSingleton();
}

void TUserSession::LockRecord(const TRecordID& id, bool prompt)
{
    if (FSessionHandle < 0)
        return;
    int32_t result = 0;
    {
        TClosing closing(*FLockStatement);
        PrepareRecordStatement(*FLockStatement, id);
        FLockStatement->ExecSingleton();
        result = FLockStatement->Fields(0).AsInteger();
    }
    CheckLockResult(result, id, prompt);
}

void TUserSession::CheckLockResult(int32_t result, const TRecordID& id, bool prompt)
{
    switch (result) {
    case SessionProtocol::Ok: return;
    case SessionProtocol::LockedByOther:
        if (prompt && MessageDlg(LockPromptText, mtInformation, mbYesNo) == mrYes)
            ShowMessage(GetLockInfo(id));
        throw EAbort(LockedByOtherText, 1);
    // Never answered by our functions (see TResult), still read as ever.
    case SessionProtocol::UnknownDatabase: throw Exception(QStringLiteral("Ошибка блокировки (неизвестная база)"));
    case SessionProtocol::UnknownSession: throw Exception(QStringLiteral("Ошибка блокировки (неизвестная сессия)"));
    case SessionProtocol::OutOfMemory: throw Exception(QStringLiteral("Ошибка блокировки (отсутствует память)"));
    default: // NoRecord among them, which cannot come back: a record is always bound
        throw Exception(QStringLiteral("Ошибка блокировки"), 2);
    }
}

void TUserSession::UnlockRecord(const TRecordID& id)
{
    if (FSessionHandle < 0)
        return;
    ExecuteRecordStatement(*FUnlockStatement, id);
}

QString TUserSession::GetLockInfo(const TRecordID& id)
{
    if (FSessionHandle < 0)
        return QString();
    TClosing closing(*FLockInfoStatement);
    PrepareRecordStatement(*FLockInfoStatement, id);
    FLockInfoStatement->ExecSingleton();
    return FLockInfoStatement->Fields(0).AsString().trimmed();
}

void TUserSession::EnqueueOwnEvent(int32_t kind, int32_t operation, const QString& tableName, const TRecordID& id,
                                   TDataSet* source)
{
    if (!FListening)
        return;
    auto event = std::make_unique<TMsgEventRec>();
    event->Kind = kind;
    event->Operation = operation;
    event->TableName = tableName;
    event->RecordID = id;
    event->Source = source;
    Enqueue(std::move(event));
}

void TUserSession::BindEvent(TIBSQL& sql, int32_t kind, int32_t eventParam, int32_t operation, const QString& tableName,
                             const TRecordID& id)
{
    StartInternalTransaction();
    if (sql.Transaction() != FDatabase.InternalTransaction())
        sql.SetTransaction(FDatabase.InternalTransaction());
    sql.ParamByName(QStringLiteral("hs")).SetAsInteger(FSessionHandle);
    sql.ParamByName(QStringLiteral("param")).SetAsInteger(eventParam);
    sql.ParamByName(QStringLiteral("kind")).SetAsInteger(kind);
    sql.ParamByName(QStringLiteral("op")).SetAsInteger(operation);
    sql.ParamByName(QStringLiteral("tbl")).SetAsString(tableName);
    sql.ParamByName(QStringLiteral("rec")).SetAsString(RecordIDHex(id));
}

bool TUserSession::PostEvent(int32_t kind, int32_t eventParam, int32_t operation, const QString& tableName,
                             const TRecordID& id, TDataSet* source)
{
    if (!FDatabase.Connected())
        return false;
    EnqueueOwnEvent(kind, operation, tableName, id, source);
    if (FSessionHandle < 0)
        return true;
    try {
        TClosing closing(*FPostEventStatement);
        BindEvent(*FPostEventStatement, kind, eventParam, operation, tableName, id);
        FPostEventStatement->ExecSingleton();
    } catch (const std::exception&) {
        return false; // a change notice never fails the change itself
    }
    return true;
}

bool TUserSession::UnlockAndPostEvent(const TRecordID& lockedId, int32_t kind, int32_t eventParam, int32_t operation,
                                      const QString& tableName, const TRecordID& id, TDataSet* source)
{
    if (!FDatabase.Connected())
        return false;
    if (FSessionHandle < 0)
        return PostEvent(kind, eventParam, operation, tableName, id, source);
    try {
        TClosing closing(*FUnlockAndPostEventStatement);
        BindEvent(*FUnlockAndPostEventStatement, kind, eventParam, operation, tableName, id);
        FUnlockAndPostEventStatement->ParamByName(QStringLiteral("rn")).SetAsBytes(Bytes(lockedId));
        FUnlockAndPostEventStatement->ExecSingleton();
    } catch (const std::exception&) {
        // Neither is known to have happened: each on its own, the unlock
        // first (a second unlock of a released record changes nothing).
        try {
            UnlockRecord(lockedId);
        } catch (const std::exception&) {
        }
        return PostEvent(kind, eventParam, operation, tableName, id, source);
    }
    EnqueueOwnEvent(kind, operation, tableName, id, source);
    return true;
}

void TUserSession::SendAudit(const QString& message)
{
    StartInternalTransaction();
    TClosing closing(*FAuditStatement);
    if (FAuditStatement->Transaction() != FDatabase.InternalTransaction())
        FAuditStatement->SetTransaction(FDatabase.InternalTransaction());
    FAuditStatement->ParamByName(QStringLiteral("hs")).SetAsInteger(FSessionHandle);
    FAuditStatement->ParamByName(QStringLiteral("message")).SetAsString(message);
    FAuditStatement->ExecSingleton();
}

void TUserSession::WriteAudit(const QString& message)
{
    if (FSessionHandle < 0 || !FDatabase.AuditEnabled())
        return;
    SendAudit(message.left(WriteAuditLimit));
}

void TUserSession::UnlockAndAudit(const TRecordID& id, const QString& message)
{
    if (FSessionHandle < 0)
        return;
    ExecuteRecordStatement(*FUnlockStatement, id);
    if (FDatabase.AuditEnabled())
        SendAudit(message);
}

void TUserSession::Unregister()
{
    if (FSessionHandle < 0)
        return;
    if (!FDatabase.Connected()) {
        FSessionHandle = -1;
        return;
    }
    const int32_t handle = std::exchange(FSessionHandle, -1);
    try {
        StartInternalTransaction();
        TIBSQL sql;
        sql.SetDatabase(&FDatabase);
        sql.SetTransaction(FDatabase.InternalTransaction());
        sql.SQL().SetText(QStringLiteral("select f_UnregisterUserSession(") + QString::number(handle)
                          + QStringLiteral(") from rdb$database"));
        TClosing closing(sql);
        sql.ExecQuery();
    } catch (const std::exception&) {
        // a database without the protocol, or a lost connection: nothing to end
    }
}

int32_t TUserSession::Register(int32_t userId)
{
    StartInternalTransaction();
    TIBSQL sql;
    sql.SetDatabase(&FDatabase);
    sql.SetTransaction(FDatabase.InternalTransaction());
    sql.SQL().SetText(QStringLiteral("select f_RegisterUserSession( :uid ) from rdb$database"));
    TClosing closing(sql);
    sql.ParamByName(QStringLiteral("uid")).SetAsInteger(userId);
    sql.ExecQuery();
    FSessionHandle = sql.Fields(0).AsInteger();
    return FSessionHandle;
}

void TUserSession::StartListening(std::chrono::milliseconds interval)
{
    if (!FDatabase.Connected())
        throw EDatabaseError(QStringLiteral("The session listens only on a connected database"));
    if (FSessionHandle < 0)
        throw EDatabaseError(QStringLiteral("The session listens only once it is registered"));
    StopListening();
    PollEvents();
    FEventListener = std::make_unique<TEventListener>(*this, interval);
    FListening = true;
}

void TUserSession::StopListening()
{
    if (FEventListener) {
        FEventListener->SetActive(false);
        FEventListener->Terminate();
        FEventListener->SetActive(false);
        FEventListener->WakeUp();
        FEventListener.reset(); // waits for the thread
    }
    FListening = false;
}

void TUserSession::Enqueue(std::unique_ptr<TMsgEventRec> event)
{
    std::lock_guard guard(FEventQueueLock);
    FEventQueue.push_back(std::move(event));
}

void TUserSession::EnqueueEventText(const QString& text)
{
    for (const QString& line : text.split(QLatin1Char(SessionProtocol::EventEnd), Qt::SkipEmptyParts))
        if (auto event = TEventListener::ParseEvent(line))
            Enqueue(std::move(event));
}

void TUserSession::DrainEvents(TIBSQL& statement, int32_t handle, const std::atomic<bool>* stop)
{
    for (int call = 0; call < MaxEventCallsPerPoll && !(stop && *stop); ++call) {
        TClosing closing(statement);
        if (!statement.Prepared())
            statement.Prepare();
        statement.Params(0).SetAsInteger(handle);
        // One row, read with the call: no cursor for the server to keep.
        statement.ExecSingleton();
        if (statement.Eof() || statement.Fields(0).IsNull())
            return;
        const QString text = statement.Fields(0).AsString();
        if (text.isEmpty())
            return;
        EnqueueEventText(text);
    }
}

void TUserSession::PollEvents()
{
    StartInternalTransaction();
    DrainEvents(*FGetEventsStatement, FSessionHandle, nullptr);
}

TMsgEventQueue TUserSession::TakeEvents()
{
    std::lock_guard guard(FEventQueueLock);
    return std::exchange(FEventQueue, {});
}

QString TUserSession::ListenerError() const { return FEventListener ? FEventListener->LastError() : QString(); }

// --- the listener thread

TEventListener::TEventListener(TUserSession& session, std::chrono::milliseconds interval)
    : FSession(session), FDatabaseName(session.Database().DatabaseName()), FParams(session.Database().Params()),
      FStatementText(session.GetEventsStatement().SQL().Text()), FHandle(session.SessionHandle()), FInterval(interval)
{
    FThread = std::thread([this] { Run(); });
}

TEventListener::~TEventListener()
{
    Terminate();
    WakeUp();
    if (FThread.joinable())
        FThread.join();
}

void TEventListener::WakeUp()
{
    {
        std::lock_guard guard(FWakeLock);
        FWoken = true;
    }
    FWake.notify_all();
}

void TEventListener::Terminate() { FTerminated = true; }

QString TEventListener::LastError() const
{
    std::lock_guard guard(FErrorLock);
    return FLastError;
}

bool TEventListener::WaitForNextPoll()
{
    std::unique_lock lock(FWakeLock);
    FWake.wait_for(lock, FInterval, [this] { return FWoken || FTerminated.load(); });
    FWoken = false;
    return !FTerminated;
}

void TEventListener::Run()
{
    // Objects of this thread only: the GUI thread's connection is never touched.
    TIBDatabase connection;
    connection.SetDatabaseName(FDatabaseName);
    connection.SetParams(FParams);
    TIBTransaction transaction;
    transaction.SetDefaultDatabase(&connection);
    transaction.SetParams(QString::fromLatin1(TSDatabase::InternalTransactionParamsText).split(QStringLiteral("\r\n")));
    TIBSQL statement;
    statement.SetDatabase(&connection);
    statement.SetTransaction(&transaction);
    statement.SetGoToFirstRecordOnExecute(false);
    statement.SQL().SetText(FStatementText);
    // The session polled once as it started listening: this thread waits first.
    while (WaitForNextPoll()) {
        if (!FActive)
            continue;
        try {
            if (!connection.Connected())
                connection.Open();
            if (!transaction.InTransaction())
                transaction.StartTransaction();
            FSession.DrainEvents(statement, FHandle, &FTerminated);
            std::lock_guard guard(FErrorLock);
            FLastError.clear();
        } catch (const std::exception& e) {
            {
                std::lock_guard guard(FErrorLock);
                FLastError = QString::fromUtf8(e.what());
            }
            try {
                connection.Close(); // the next poll connects again
            } catch (...) {
            }
        }
    }
}

std::unique_ptr<TMsgEventRec> TEventListener::ParseEvent(const QString& line)
{
    const std::optional<SessionProtocol::TEventLine> parsed = SessionProtocol::ParseEventLine(line.toStdString());
    if (!parsed)
        return nullptr;
    auto event = std::make_unique<TMsgEventRec>();
    event->Kind = parsed->Kind;
    event->Operation = parsed->Operation;
    const QByteArray bytes = QByteArray::fromHex(QByteArray::fromStdString(parsed->RecordHex));
    std::copy(bytes.begin(), bytes.end(), event->RecordID.begin());
    event->TableName = QString::fromStdString(parsed->TableName);
    return event;
}
