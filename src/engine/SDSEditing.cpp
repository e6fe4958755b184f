// Editing, posting and deleting: the checks before a change, the values a new
// record receives, the server writes with their re-reads, commits and
// rollbacks, record locks, audit texts and change notifications.
#include "SDS.h"
#include "SDS_p.h"

#include "DataSource.h"
#include "DateTime.h"
#include "IBDatabase.h"
#include "IBSQL.h"
#include "SDSQuietFields.h"
#include "SDatabase.h"
#include "SDatabaseSession.h"
#include "SessionProtocol.h"
#include "SysUtils.h"

#include <QScopeGuard>
#include <ibase.h> // the server's error codes

#include <algorithm>
#include <exception>

namespace {

const QString BlockedText = QStringLiteral("Операция блокирована доп. ограничением");
const QString FinishMasterText = QStringLiteral("Завершите ввод/корректировку головной записи.");
const QString NoMasterText = QStringLiteral("Нет головной записи !");
const QString HasChildrenText = QStringLiteral("Удаление невозможно - есть уровневые записи !");
const QString RecordGoneText = QStringLiteral(
    "Текущая запись возможно удалена в базе.\n\rРекомендуется обновить набор данных !");

// A detail's own error during a cascade, carried past the master's write
// handling (no rollback again, no error handler of the master) as it is.
struct EDetailWriteFailed
{
    std::exception_ptr Error;
};

bool IsZeroAddress(const QByteArray& address)
{
    return std::all_of(address.begin(), address.end(), [](char c) { return c == 0; });
}

// The session protocol knows record identifiers of 8 bytes: a longer address
// (a view over several relations) is locked by its first relation's record.
TRecordID SessionRecordID(const QByteArray& address)
{
    TRecordID id{};
    std::copy_n(address.begin(), std::min<qsizetype>(address.size(), id.size()), id.begin());
    return id;
}

bool IsDbKey(const QString& name) { return name.compare(SDSNames::DbKey, Qt::CaseInsensitive) == 0; }

// The statement's transaction, started when it is not.
void StartTransactionOf(TIBSQL& sql)
{
    if (!sql.Transaction()->InTransaction())
        sql.Transaction()->StartTransaction();
}

// A write shares the select's transaction: retaining keeps the select's
// context; any other transaction ends in full.
void CommitWrite(TIBSQL& sql, const TIBSQL& select)
{
    TIBTransaction* transaction = sql.Transaction();
    if (!transaction->InTransaction())
        return;
    if (transaction == select.Transaction())
        transaction->CommitRetaining();
    else
        transaction->Commit();
}

void RollbackWrite(TIBSQL& sql, const TIBSQL& select) noexcept
{
    try {
        TIBTransaction* transaction = sql.Transaction();
        if (!transaction || !transaction->InTransaction())
            return;
        if (transaction == select.Transaction())
            transaction->RollbackRetaining();
        else
            transaction->Rollback();
    } catch (...) {
        // The write's own error is the one to report.
    }
}

void CloseQuietly(TIBSQL& sql) noexcept
{
    try {
        sql.Close();
    } catch (...) {
    }
}

// One parameter from a field, by the field's type.
void BindFromField(TIBXSQLVAR& param, const TField& field)
{
    if (field.IsNull()) {
        param.SetIsNull();
        return;
    }
    switch (field.DataType()) {
    case ftBlob: param.SetAsBytes(field.AsBytes()); break; // binary: the bytes, not a text
    case ftString:
    case ftMemo: param.SetAsString(field.AsString()); break;
    case ftSmallint:
    case ftInteger: param.SetAsInteger(field.AsInteger()); break;
    case ftFloat:
    case ftBCD: param.SetAsDouble(field.AsFloat()); break;
    case ftDate:
    case ftDateTime: param.SetAsDateTime(field.AsDateTime()); break;
    case ftLargeint: param.SetAsInt64(field.AsLargeInt()); break;
    default: param.SetAsVariant(field.Value()); break;
    }
}

// A column of a re-read row as the field takes it.
Variant ColumnForField(const TIBXSQLVAR& column, const TField& field)
{
    if (column.IsNull())
        return Variant::Null();
    if (IsDbKey(field.FieldName()))
        return Variant(column.AsBytes());
    switch (field.DataType()) {
    case ftBlob: return Variant(column.AsBytes());
    case ftString:
    case ftMemo: return Variant(column.AsString());
    case ftSmallint:
    case ftInteger: return Variant(column.AsInteger());
    case ftFloat:
    case ftBCD: return field.Normalize(Variant(column.AsDouble()));
    case ftDate:
    case ftDateTime: return field.Normalize(Variant::FromDateTime(column.AsDateTime()));
    case ftLargeint: return Variant(column.AsInt64());
    default: return field.Normalize(column.AsVariant());
    }
}

// A value as the field's AsString gives it: the text of an old value.
QString ValueText(const TField& field, const Variant& value)
{
    if (value.IsEmptyOrNull())
        return QString();
    switch (field.DataType()) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint: return IntToStr(value.AsInt64());
    case ftFloat:
    case ftBCD: return FloatToStr(value.AsDouble());
    case ftDate: return DateToStr(value.AsDateTime());
    case ftTime: return TimeToStr(value.AsDateTime());
    case ftDateTime: return DateTimeToStr(value.AsDateTime());
    case ftBoolean: return value.AsBoolean() ? QStringLiteral("True") : QStringLiteral("False");
    default: return value.AsString();
    }
}

// Saves handlers and takes them away; gives them back when it goes.
template <typename... Handlers>
class THeldHandlers
{
public:
    explicit THeldHandlers(Handlers&... handlers) : FHandlers(handlers...), FSaved(handlers...)
    {
        std::apply([](auto&... h) { ((h = {}), ...); }, FHandlers);
    }
    ~THeldHandlers() { FHandlers = FSaved; }
    THeldHandlers(const THeldHandlers&) = delete;
    THeldHandlers& operator=(const THeldHandlers&) = delete;

private:
    std::tuple<Handlers&...> FHandlers;
    std::tuple<Handlers...> FSaved;
};

// Sets a field's value with its handlers and read-only flag out of the way.
void SetQuietly(TField& field, const Variant& value)
{
    const TFieldNotifyEvent onChange = field.OnChange, onValidate = field.OnValidate;
    const bool readOnly = field.ReadOnly();
    const auto restore = qScopeGuard([&] {
        field.OnChange = onChange;
        field.OnValidate = onValidate;
        field.SetReadOnly(readOnly);
    });
    field.OnChange = {};
    field.OnValidate = {};
    field.SetReadOnly(false);
    field.SetValue(value);
}

} // namespace

TOperationType LogOperationOf(TWriteOperation operation)
{
    switch (operation) {
    case woInsert: return 0;
    case woUpdate: return 1;
    case woDelete: return 2;
    }
    return 0;
}

// A read that needs a transaction: one that is not active runs in the
// select's, and the statement gets its own back afterwards.
class TSDSPrivate::TRefreshScope
{
public:
    TRefreshScope(TIBSQL& sql, TIBSQL& select) : FSQL(sql), FOwn(sql.Transaction())
    {
        if (FOwn && FOwn->InTransaction())
            return;
        TIBTransaction* selects = select.Transaction();
        if (FOwn != selects) {
            FSQL.SetTransaction(selects);
            FSwapped = true;
        }
        if (!selects->InTransaction())
            selects->StartTransaction();
    }
    ~TRefreshScope()
    {
        CloseQuietly(FSQL);
        if (FSwapped)
            FSQL.SetTransaction(FOwn);
    }
    TRefreshScope(const TRefreshScope&) = delete;
    TRefreshScope& operator=(const TRefreshScope&) = delete;

private:
    TIBSQL& FSQL;
    TIBTransaction* FOwn;
    bool FSwapped = false;
};

// ------------------------------------------------------------ row address

QByteArray TSDS::RowAddress() const
{
    CheckActive();
    const int size = d->FDbKeyField && d->FDbKeyField->Size() > 0 ? d->FDbKeyField->Size() : 8;
    if (!d->FDbKeyField || d->FDbKeyField->IsNull())
        return QByteArray(size, '\0');
    return d->FDbKeyField->AsBytes();
}

void TSDSPrivate::SetRowAddress(const QByteArray& address)
{
    if (FDbKeyField)
        SetQuietly(*FDbKeyField, Variant(address));
}

QByteArray TSDSPrivate::CheckedRowAddress()
{
    const QByteArray address = q->RowAddress();
    const TRecordId row = q->CurrentRow();
    if (!FAddressesFromFile || IsZeroAddress(address) || row == NoRecord
        || std::find(FCheckedRows.begin(), FCheckedRows.end(), row) != FCheckedRows.end())
        return address;
    QByteArray checked = address;
    if (!AddressHoldsRecord(address)) {
        checked = AddressByKey();
        if (checked.isEmpty())
            checked = QByteArray(address.size(), '\0');
        CorrectStoredAddress(checked);
    }
    FCheckedRows.push_back(row);
    return checked;
}

// Whether the row at the address is the record shown: every value the
// by-key condition compares (the key, or all fields) is the same.
bool TSDSPrivate::AddressHoldsRecord(const QByteArray& address)
{
    TIBSQL& sql = *FRefreshSQL;
    TRefreshScope scope(sql, *FSelectSQL);
    if (!sql.Prepared())
        sql.Prepare();
    sql.ParamByName(SDSNames::DbKey).SetAsBytes(address);
    sql.ExecQuery();
    if (sql.Eof())
        return false;
    TIBSQL& byKey = *FRefreshByKeySQL;
    if (!byKey.Prepared())
        byKey.Prepare();
    for (int i = 0; i < byKey.ParamCount(); ++i) {
        const QString name = byKey.Params(i).Name();
        const TField* field = q->FindField(name);
        const TIBXSQLVAR* column = sql.FindField(name);
        if (!field || !column || !(ColumnForField(*column, *field) == field->Value()))
            return false;
    }
    return true;
}

// The address of the row the record's key finds now; empty when none.
QByteArray TSDSPrivate::AddressByKey()
{
    TIBSQL& sql = *FRefreshByKeySQL;
    TRefreshScope scope(sql, *FSelectSQL);
    if (!sql.Prepared())
        sql.Prepare();
    BindFieldParams(sql);
    sql.ExecQuery();
    if (sql.Eof())
        return {};
    return sql.FieldByName(SDSNames::DbKey).AsBytes();
}

void TSDSPrivate::CorrectStoredAddress(const QByteArray& address)
{
    if (!FDbKeyField)
        return;
    if (q->State() == dsEdit || q->State() == dsInsert) {
        SetRowAddress(address);
        return;
    }
    std::vector<Variant> values(q->FieldCount());
    q->InternalReadRecord(q->CurrentRow(), values);
    values[FDbKeyField->Index()] = Variant(address);
    q->InternalUpdateRow(q->CurrentRow(), values);
    q->Resync();
}

// ---------------------------------------------------------------- checks

TSDatabase* TSDSPrivate::SessionDatabase() const { return dynamic_cast<TSDatabase*>(q->Database()); }

void TSDSPrivate::RequireFullAccess()
{
    if (q->CheckAccess(4) != acFull)
        throw Exception(BlockedText);
}

void TSDSPrivate::CheckMasterInBrowse()
{
    const TDataSet* master = q->MasterSource() ? q->MasterSource()->DataSet() : nullptr;
    if (!master || q->MasterFields().isEmpty() || FOptions.Contains(dsoDontCheckMasterInBrowse))
        return;
    if (master->State() != dsBrowse)
        RaiseHint(FinishMasterText);
}

void TSDSPrivate::CheckMasterForInsert()
{
    const TDataSet* master = q->MasterSource() ? q->MasterSource()->DataSet() : nullptr;
    if (!master || q->MasterFields().isEmpty())
        return;
    if (master->State() == dsBrowse || FOptions.Contains(dsoDontCheckMasterInBrowse)) {
        if (master->Bof() && master->Eof())
            RaiseHint(NoMasterText);
        return;
    }
    RaiseHint(FinishMasterText);
}

// A group's children are the stored rows whose parent is its identifier,
// shown or not.
bool TSDSPrivate::LeafGroupHasChildren()
{
    if (!FIdField || !FParentIdField || FIdField->IsNull())
        return false;
    const Variant id = FIdField->Value();
    const int column = q->StoreColumn(*FParentIdField);
    if (column < 0)
        return false;
    bool found = false;
    q->Store().ForEachId([&](uint64_t row) {
        if (!found && !q->Store().IsNull(row, column) && q->Store().Get(row, column) == id)
            found = true;
    });
    return found;
}

// ----------------------------------------------------------------- locks

namespace {

// An unlock that fails changes nothing for the caller: the lock ends with
// the session at the latest.
void UnlockQuietly(TSDatabase& database, const QByteArray& address) noexcept
{
    try {
        database.Session()->UnlockRecord(SessionRecordID(address));
    } catch (...) {
    }
}

} // namespace

void TSDSPrivate::LockForEdit(const QByteArray& address)
{
    TSDatabase* database = SessionDatabase();
    database->Session()->LockRecord(SessionRecordID(address), true);
    FLockDatabase = database;
    FLockedAddress = address;
}

namespace {

const QString LockResultColumn = QStringLiteral("SYS$LOCK_RESULT");

QString QuotedName(QString name)
{
    name.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + name + QLatin1Char('"');
}

} // namespace

// The lock function first, then the row by its address, in one block: the
// row is read only once the lock is this session's, and a holder before us
// unlocks only after its commit, so in a read-committed transaction the row
// read is the latest committed version. A lock refused answers one row with
// the lock function's result alone; a row gone answers none. Each column is
// declared as its column is, from the prepared re-read; empty when the
// re-read is not one of the table's own columns by address.
QString TSDSPrivate::LockedReadText()
{
    TIBSQL& refresh = *FRefreshSQL;
    if (!FCommandText.isEmpty() || FRelationIsView || FTableName.isEmpty())
        return {};
    if (!refresh.Prepared())
        refresh.Prepare();
    QStringList returns{LockResultColumn + QStringLiteral(" integer")}, columns, targets;
    for (int i = 0; i < refresh.FieldCount(); ++i) {
        const TIBXSQLVAR& column = refresh.Fields(i);
        if (IsDbKey(column.Name())) {
            returns << QuotedName(column.Name()) + QStringLiteral(" char(%1) character set octets").arg(FDbKeyLength);
            columns << QStringLiteral("SYS$ROW.RDB$DB_KEY");
        } else {
            if (column.RelationName().isEmpty() || column.SqlName().isEmpty())
                return {};
            returns << QuotedName(column.Name()) + QStringLiteral(" type of column ")
                           + QuotedName(column.RelationName()) + QLatin1Char('.') + QuotedName(column.SqlName());
            columns << QStringLiteral("SYS$ROW.") + QuotedName(column.SqlName());
        }
        targets << QLatin1Char(':') + QuotedName(column.Name());
    }
    return QStringLiteral(
               "execute block (SYS$LOCK_SESSION integer = ?, SYS$LOCK_RECORD char(8) character set octets = ?,"
               " SYS$LOCK_ADDRESS char(%1) character set octets = ?)\n")
               .arg(FDbKeyLength)
           + QStringLiteral("returns (") + returns.join(QStringLiteral(", ")) + QStringLiteral(")\nas\nbegin\n  ")
           + LockResultColumn + QStringLiteral(" = f_LockRecord(:SYS$LOCK_SESSION, :SYS$LOCK_RECORD);\n  if (")
           + LockResultColumn + QStringLiteral(" <> 0) then\n  begin\n    suspend;\n    exit;\n  end\n")
           + QStringLiteral("  for select ") + columns.join(QStringLiteral(", ")) + QStringLiteral(" from ")
           + FTableName + QStringLiteral(" SYS$ROW where SYS$ROW.RDB$DB_KEY = :SYS$LOCK_ADDRESS\n    into ")
           + targets.join(QStringLiteral(", ")) + QStringLiteral(" do\n    suspend;\nend");
}

// The statement of LockAndReadForEdit, prepared in the transaction the
// re-read runs in; null when the re-read has another form or the block
// cannot be prepared (the lock and the re-read then go as two calls).
TIBSQL* TSDSPrivate::LockedReadStatement()
{
    const QString refreshText = FRefreshSQL->SQL().Text();
    if (!FLockedReadSQL || refreshText != FLockedReadFor) {
        FLockedReadSQL = std::make_unique<TIBSQL>();
        FLockedReadSQL->SetParamCheck(false); // the block's variables are not parameters
        FLockedReadFor = refreshText;
        FLockedReadUnusable = false;
    }
    if (FLockedReadUnusable)
        return nullptr;
    TIBTransaction* transaction = FRefreshSQL->Transaction();
    if (!transaction || !transaction->InTransaction())
        transaction = FSelectSQL->Transaction();
    if (!transaction->InTransaction())
        transaction->StartTransaction();
    TIBSQL& sql = *FLockedReadSQL;
    if (sql.Database() != FRefreshSQL->Database())
        sql.SetDatabase(FRefreshSQL->Database());
    sql.SetTransaction(transaction);
    if (sql.Prepared())
        return &sql;
    try {
        if (sql.SQL().Text().isEmpty()) {
            TIBTransaction* refreshOwn = FRefreshSQL->Transaction();
            FRefreshSQL->SetTransaction(transaction);
            const auto restore = qScopeGuard([&] { FRefreshSQL->SetTransaction(refreshOwn); });
            sql.SQL().SetText(LockedReadText());
        }
        if (!sql.SQL().Text().isEmpty())
            sql.Prepare();
    } catch (const EIBInterBaseError& error) {
        if (dynamic_cast<const EIBConnectionLost*>(&error))
            throw;
    }
    FLockedReadUnusable = !sql.Prepared();
    return FLockedReadUnusable ? nullptr : &sql;
}

bool TSDSPrivate::LockAndReadForEdit(const QByteArray& address)
{
    TIBSQL* statement = LockedReadStatement();
    if (!statement)
        return false;
    TIBSQL& sql = *statement;
    TSDatabase* database = SessionDatabase();
    TUserSession& session = *database->Session();
    const TRecordID id = SessionRecordID(address);
    sql.Params(0).SetAsInteger(session.SessionHandle());
    sql.Params(1).SetAsBytes(QByteArray(reinterpret_cast<const char*>(id.data()), static_cast<qsizetype>(id.size())));
    sql.Params(2).SetAsBytes(address);
    try {
        sql.ExecSingleton();
    } catch (...) {
        // Whether the lock was taken is not known: none is kept.
        CloseQuietly(sql);
        UnlockQuietly(*database, address);
        throw;
    }
    if (!sql.Eof()) {
        const int32_t result = sql.Fields(0).AsInteger();
        if (result != SessionProtocol::Ok) {
            CloseQuietly(sql);
            session.CheckLockResult(result, id, true);
        }
    }
    FLockDatabase = database;
    FLockedAddress = address;
    FReadUnderLock = address;
    return true;
}

// The row LockAndReadForEdit read goes into the fields; false when the
// row was gone.
bool TSDSPrivate::LoadRowReadUnderLock()
{
    TIBSQL& sql = *FLockedReadSQL;
    const auto close = qScopeGuard([&] { CloseQuietly(sql); });
    const QByteArray address = std::exchange(FReadUnderLock, QByteArray());
    if (sql.Eof())
        return false;
    return LoadReadRow(sql, address);
}

void TSDSPrivate::ReleaseEditLock() noexcept
{
    const QByteArray address = std::exchange(FLockedAddress, QByteArray());
    TSDatabase* database = std::exchange(FLockDatabase, nullptr);
    if (!address.isEmpty() && database && database->Connected())
        UnlockQuietly(*database, address);
}

// After a committed write the lock goes. The change is on the server: an
// unlock that fails does not make it a failed one.
void TSDSPrivate::FinishEditLock() noexcept
{
    TSDatabase* database = SessionDatabase();
    if (!database || !FOptions.Contains(dsoPessimisticLock))
        return;
    const QByteArray address = FLockedAddress.isEmpty() ? q->RowAddress() : FLockedAddress;
    FLockedAddress.clear();
    FLockDatabase = nullptr;
    UnlockQuietly(*database, address);
}

void TSDSPrivate::FinishWrite(TWriteOperation operation, const QByteArray& rowAddress, bool locking, bool notifying)
{
    if (!locking || !notifying) {
        if (locking)
            FinishEditLock();
        if (notifying)
            q->NotifyChange(operation, rowAddress);
        return;
    }
    TSDatabase* database = SessionDatabase();
    const QByteArray locked = FLockedAddress.isEmpty() ? q->RowAddress() : FLockedAddress;
    FLockedAddress.clear();
    FLockDatabase = nullptr;
    TSDS* source = FMasterDataset ? FMasterDataset.data() : q;
    database->Session()->UnlockAndPostEvent(SessionRecordID(locked), SessionProtocol::RecordChangeKind, 0, operation,
                                            source->TableName(), SessionRecordID(rowAddress), source);
}

bool TSDSPrivate::AuditsInWrite() const
{
    const TSDatabase* database = SessionDatabase();
    return database && database->Session()->SessionHandle() >= 0 && database->AuditEnabled();
}

void TSDSPrivate::AuditInWrite(TIBSQL& write, const QString& text)
{
    if (!AuditsInWrite())
        return;
    TSDatabase* database = SessionDatabase();
    if (!FAuditSQL) {
        FAuditSQL = std::make_unique<TIBSQL>();
        FAuditSQL->SQL().SetText(QStringLiteral("select F_WRITEAUDITMSG(:hs, :message) from rdb$database"));
    }
    TIBSQL& sql = *FAuditSQL;
    const auto close = qScopeGuard([&] { CloseQuietly(sql); });
    sql.SetDatabase(write.Database()); // a statement of another database is prepared again
    sql.SetTransaction(write.Transaction());
    StartTransactionOf(sql);
    if (!sql.Prepared())
        sql.Prepare();
    sql.Params(0).SetAsInteger(database->Session()->SessionHandle());
    sql.Params(1).SetAsString(text);
    sql.ExecSingleton();
}

// The update by the row address with its audit row in one statement: the
// audit function is what the update returns, so it runs only for a row
// written, in the write's transaction, and a null result says that none was.
void TSDSPrivate::ExecuteAuditedUpdate(const QString& text)
{
    TIBSQL& update = *FUpdateSQL;
    const QString updateText = update.SQL().Text();
    if (!FAuditedUpdateSQL || FAuditedUpdateFor != updateText) {
        FAuditedUpdateSQL = std::make_unique<TIBSQL>();
        FAuditedUpdateSQL->SQL().SetText(updateText + QStringLiteral(" returning F_WRITEAUDITMSG(?, ?)"));
        FAuditedUpdateFor = updateText;
    }
    TIBSQL& sql = *FAuditedUpdateSQL;
    if (sql.Database() != update.Database())
        sql.SetDatabase(update.Database());
    sql.SetTransaction(update.Transaction());
    StartTransactionOf(sql);
    if (!sql.Prepared())
        sql.Prepare();
    BindFieldParams(sql, 2); // the last two are the audit's
    const int count = sql.ParamCount();
    sql.Params(count - 2).SetAsInteger(SessionDatabase()->Session()->SessionHandle());
    sql.Params(count - 1).SetAsString(text);
    sql.ExecQuery();
    const bool written = !sql.Eof() && !sql.Fields(0).IsNull();
    sql.Close();
    // No row written is no success: the record is gone.
    if (!written)
        throw Exception(RecordGoneText);
}

void TSDS::DoBeforeClose()
{
    d->ReleaseEditLock();
    TCustomMemTable::DoBeforeClose();
}

// ----------------------------------------------------------------- hooks

void TSDS::DoBeforeEdit()
{
    if (d->FInternalLoading)
        return;
    TCustomMemTable::DoBeforeEdit();
    d->RequireFullAccess();
    if (!d->WritesToServer())
        return;
    d->CheckMasterInBrowse();
    d->FReadUnderLock.clear();
    if (d->FOptions.Contains(dsoPessimisticLock) && d->SessionDatabase()) {
        const QByteArray address = d->CheckedRowAddress();
        if (IsZeroAddress(address))
            return;
        // The re-read before the edit goes with the lock when it can.
        const bool readWithLock = d->FOptions.Contains(dsoRefreshBeforeEdit)
                                  && d->SessionDatabase()->Session()->SessionHandle() >= 0
                                  && d->LockAndReadForEdit(address);
        if (!readWithLock)
            d->LockForEdit(address);
    }
}

void TSDS::DoAfterEdit()
{
    if (d->FInternalLoading)
        return;
    if (d->FOptions.Contains(dsoRefreshBeforeEdit)) {
        if (d->WritesToServer())
            d->CheckedRowAddress();
        // The row the lock came with, unless the edit is of another one.
        const bool readUnderLock = !d->FReadUnderLock.isEmpty() && d->FReadUnderLock == RowAddress();
        if (!(readUnderLock ? d->LoadRowReadUnderLock() : RefreshRecord())) {
            Cancel();
            throw Exception(RecordGoneText);
        }
        // Read under the lock: what the audit reports as replaced.
        KeepRecordAsOld();
    }
    TCustomMemTable::DoAfterEdit();
}

void TSDS::DoBeforeInsert()
{
    if (d->FInternalLoading)
        return;
    TCustomMemTable::DoBeforeInsert();
    d->CheckMasterForInsert();
}

void TSDS::DoOnNewRecord()
{
    if (d->FInternalLoading)
        return;
    TCustomMemTable::DoOnNewRecord(); // the user's values first: the engine's win
    if (d->FOptions.Contains(dsoIncOnNewRecord) && d->FAutoIncField && d->FAutoIncField->IsNull())
        d->FAutoIncField->SetAsInteger(NextGeneratorValue(1));
    if (d->FOptions.Contains(dsoLevels)) {
        RTL_ASSERT(d->FParentIdField, QStringLiteral("Не вычислен индекс поля SYS$PID"));
        const Variant parent = NewRecordParentID(); // null outside a level
        d->FParentIdField->SetAsInteger(parent.IsNull() ? 0 : parent.AsInteger());
    } else if (d->FParentIdField) {
        d->FParentIdField->SetAsInteger(0);
    }
    if (d->FStateField) {
        int32_t state = 0;
        if (const TSDatabase* database = d->SessionDatabase()) {
            const uint32_t kept = d->FStateField->IsNull() ? 0 : static_cast<uint32_t>(d->FStateField->AsInteger());
            state = static_cast<int32_t>((kept & 0xFFFF0000u)
                                         | (static_cast<uint32_t>(database->CurrentUserID()) & 0xFFFFu));
        }
        d->FStateField->SetAsInteger(state);
    }
    if (d->FOptions.Contains(dsoLevels)) {
        RTL_ASSERT(d->FStateField, QStringLiteral("Не вычислен индекс поля SYS$STATE"));
        int32_t state = d->FStateField->AsInteger();
        SetLeafState(state, true);
        d->FStateField->SetAsInteger(state);
    }
}

void TSDS::DoBeforePost()
{
    if (d->FInternalLoading)
        return;
    TCustomMemTable::DoBeforePost();
    FillDefaults();
    d->RequireFullAccess();
    if (DataLoaded() && d->FAutoIncField && d->FAutoIncField->AsInteger() == 0) {
        const bool incOnNew = d->FOptions.Contains(dsoIncOnNewRecord);
        if ((State() == dsInsert && !incOnNew) || (State() == dsEdit && incOnNew))
            d->FAutoIncField->SetAsInteger(NextGeneratorValue(1));
    }
    if (d->WritesToServer())
        d->PostToServer();
}

void TSDSPrivate::PostToServer()
{
    if (q->State() == dsInsert)
        q->InsertToServer();
    else if (q->State() == dsEdit)
        q->UpdateToServer();
    else
        Abort();
}

void TSDS::DoAfterCancel()
{
    if (d->WritesToServer())
        TCustomMemTable::DoAfterCancel();
    // Also when a reload cancels the edit: its lock must not outlive it.
    d->ReleaseEditLock();
}

void TSDS::DoBeforeDelete()
{
    if (d->FInternalLoading)
        return;
    d->FDetailsCascaded = false;
    const auto forgetCascade = qScopeGuard([this] { d->FDetailsCascaded = false; });
    TCustomMemTable::DoBeforeDelete();
    d->RequireFullAccess();
    if (d->FOptions.Contains(dsoCheckChildRecordOnDelete) && d->FOptions.Contains(dsoLevels)) {
        RTL_ASSERT(d->FStateField, QStringLiteral("Не вычислен индекс поля STATE"));
        if (!IsLeafState(d->FStateField->AsInteger()) && d->LeafGroupHasChildren())
            RaiseHint(HasChildrenText);
    }
    d->CheckMasterInBrowse();
    if (d->FOptions.Contains(dsoVirtualDelete)) {
        VirtualDelete();
        Abort();
    }
    if (d->FOptions.Contains(dsoChangesResolved))
        d->DeleteFromServer();
    else if (d->FOptions.Contains(dsoCascadeDeleteDetail))
        CascadeDelete();
}

void TSDSPrivate::DeleteFromServer()
{
    const QByteArray address = CheckedRowAddress();
    const bool known = !IsZeroAddress(address);
    TSDatabase* database = SessionDatabase();
    const bool locking = FOptions.Contains(dsoPessimisticLock) && database;
    QString auditText;
    if (locking) {
        if (known)
            LockForEdit(address);
        if (FOptions.Contains(dsoAudit))
            auditText = q->BuildAuditText(woDelete);
    }
    // A delete that does not happen gives its lock back.
    auto unlockOnFailure = qScopeGuard([this] { ReleaseEditLock(); });

    TIBSQL& sql = known ? *FDeleteSQL : *FDeleteByKeySQL;
    WriteToServer(woDelete, [&] {
        // The details go first, in the same transaction; each attempt deletes
        // them again, since a failed one rolls them back. A detail's own
        // error is reported as it is.
        StartTransactionOf(*FDeleteSQL);
        if (FOptions.Contains(dsoCascadeDeleteDetail)) {
            try {
                q->CascadeDelete();
            } catch (...) {
                if (FOptions.Contains(dsoAutoCommit))
                    RollbackFailedWrite(*FDeleteSQL);
                throw EDetailWriteFailed{std::current_exception()};
            }
        }
        ExecuteWrite(sql, known ? address : QByteArray());
        sql.Close();
        if (!auditText.isEmpty())
            AuditInWrite(sql, auditText);
    });
    unlockOnFailure.dismiss();
    if (q->OnLogEvent)
        q->OnLogEvent(q, LogOperationOf(woDelete));
    if (database)
        FinishWrite(woDelete, address, locking, FOptions.Contains(dsoSendNotification));
}

// -------------------------------------------------------- server writes

// A write runs until it succeeds or its error handler gives up; with
// dsoAutoCommit its transaction is committed here, so a commit that fails is
// handled as the write's own failure. When it fails, the write statements
// are closed and, with dsoAutoCommit, its transaction is rolled back
// (details a cascade deleted are read again).
// A server error then goes to the data set's handler (OnDeleteError for a
// delete, else OnPostError), which fails (ESDS_IBError with the data set,
// the operation and the statement that failed), aborts, or retries: the
// write runs again, from the start. Other errors, a lost connection and a
// detail's own error go up as they are.
void TSDSPrivate::WriteToServer(TWriteOperation operation, const std::function<void()>& write)
{
    for (;;) {
        try {
            write();
            if (FOptions.Contains(dsoAutoCommit))
                CommitWrite(WriteStatementOf(operation), *FSelectSQL);
            return;
        } catch (const EAbort&) {
            throw;
        } catch (const EDetailWriteFailed& failed) {
            std::rethrow_exception(failed.Error);
        } catch (const std::exception& error) {
            TIBSQL& statement = WriteStatementOf(operation);
            CloseWriteStatements();
            if (FOptions.Contains(dsoAutoCommit))
                RollbackFailedWrite(statement);
            const auto* serverError = dynamic_cast<const EIBInterBaseError*>(&error);
            if (!serverError || dynamic_cast<const EIBConnectionLost*>(&error))
                throw;
            TDataAction action = daFail;
            if (const TDataSetErrorEvent& handler = operation == woDelete ? q->OnDeleteError : q->OnPostError)
                handler(q, *serverError, action);
            if (action == daAbort)
                Abort();
            if (action == daFail) {
                // A failed commit names no statement: the write's own stands for it.
                const QString sql = serverError->SQL().isEmpty() ? statement.SQL().Text() : serverError->SQL();
                throw ESDS_IBError(*serverError, sql, operation, q);
            }
        }
    }
}

// Prepares the statement, binds it (by the row address when one is given,
// else each parameter from its field) and runs it in its transaction.
void TSDSPrivate::ExecuteWrite(TIBSQL& sql, const QByteArray& rowAddress)
{
    StartTransactionOf(sql);
    if (!sql.Prepared())
        sql.Prepare();
    if (rowAddress.isEmpty())
        BindFieldParams(sql);
    else
        sql.ParamByName(SDSNames::DbKey).SetAsBytes(rowAddress);
    sql.ExecQuery();
}

// The statement whose transaction an operation's write runs in.
TIBSQL& TSDSPrivate::WriteStatementOf(TWriteOperation operation) const
{
    switch (operation) {
    case woInsert: return *FInsertSQL;
    case woUpdate: return *FUpdateSQL;
    case woDelete: return *FDeleteSQL;
    }
    return *FUpdateSQL;
}

void TSDSPrivate::CloseWriteStatements() noexcept
{
    for (TIBSQL* sql : WritingStatements())
        CloseQuietly(*sql);
    if (FAuditedUpdateSQL)
        CloseQuietly(*FAuditedUpdateSQL);
    CloseQuietly(*FRefreshSQL);
    CloseQuietly(*FRefreshByKeySQL);
}

void TSDSPrivate::BindFieldParams(TIBSQL& sql, int trailing)
{
    for (int i = 0; i < sql.ParamCount() - trailing; ++i) {
        TIBXSQLVAR& param = sql.Params(i);
        const QString name = param.Name();
        if (IsDbKey(name)) {
            param.SetAsBytes(q->RowAddress());
            continue;
        }
        const TField* field = q->FindField(name);
        if (!field)
            q->DatabaseError(QString::fromLatin1(IBMessages::FieldNotFound).arg(name));
        BindFromField(param, *field);
    }
}

int TSDS::NextGeneratorValue(int increment)
{
    TIBSQL sql;
    sql.SetDatabase(Database());
    sql.SetTransaction(Transaction());
    if (!Transaction()->InTransaction())
        Transaction()->StartTransaction();
    sql.SQL().SetText(
        QStringLiteral("select gen_id(main_gen,%1) from rdb$database").arg(static_cast<unsigned>(increment)));
    sql.ExecQuery();
    try {
        return sql.Eof() ? 0 : static_cast<int>(sql.Fields(0).AsInt64());
    } catch (const EConvertError&) {
        return 0;
    }
}

// The audit row is written in the write's own transaction, so it is on the
// server exactly when the change is. What follows the commit (log event,
// unlock, notice) happens once, for a write that is on the server: it is
// never retried or rolled back, and never makes the post a failed one.
void TSDS::InsertToServer()
{
    d->WriteToServer(woInsert, [this] {
        TIBSQL& sql = *d->FInsertSQL;
        d->ExecuteWrite(sql);
        sql.Close();
        // The server's values (defaults, triggers, SYS$TIME, the row address) by key.
        d->SetRowAddress(QByteArray(RowAddress().size(), '\0'));
        RefreshRecord();
        if (d->FOptions.Contains(dsoAudit)) {
            RTL_ASSERT(d->SessionDatabase(), QStringLiteral("Database must be TSDatabase."));
            d->AuditInWrite(sql, BuildAuditText(woInsert).left(TUserSession::WriteAuditLimit));
        }
    });
    if (OnLogEvent)
        OnLogEvent(this, LogOperationOf(woInsert));
    if (d->FOptions.Contains(dsoSendNotification) && d->SessionDatabase() && d->FDbKeyField)
        NotifyChange(woInsert, RowAddress());
}

void TSDS::UpdateToServer()
{
    TSDatabase* database = d->SessionDatabase();
    QString auditText;
    if (d->FOptions.Contains(dsoPessimisticLock) && d->FOptions.Contains(dsoAudit) && database)
        auditText = BuildAuditText(woUpdate); // while the old values are at hand
    d->WriteToServer(woUpdate, [this, &auditText] {
        const bool known = !IsZeroAddress(d->CheckedRowAddress());
        if (known && !auditText.isEmpty() && !d->FRelationIsView && d->AuditsInWrite()) {
            d->ExecuteAuditedUpdate(auditText);
            if (d->FOptions.Contains(dsoRefreshAfterEdit))
                RefreshRecord();
            return;
        }
        TIBSQL& sql = known ? *d->FUpdateSQL : *d->FUpdateByKeySQL;
        d->ExecuteWrite(sql);
        // No row written is no success: the record is gone, or its condition
        // (all fields, without a key) no longer finds it.
        if (sql.RowsAffected() == 0)
            throw Exception(RecordGoneText);
        sql.Close();
        if (d->FOptions.Contains(dsoRefreshAfterEdit) || !known)
            RefreshRecord(); // an unknown address is taken from the re-read
        if (!auditText.isEmpty())
            d->AuditInWrite(sql, auditText);
    });
    if (OnLogEvent)
        OnLogEvent(this, LogOperationOf(woUpdate));
    if (database)
        d->FinishWrite(woUpdate, RowAddress(), d->FOptions.Contains(dsoPessimisticLock),
                       d->FOptions.Contains(dsoSendNotification));
}

namespace {

// The row by its address is one row, read in one call to the server; a
// statement that finds more (a join of lookups) is read by cursor, its first
// row as ever. By key it is always the cursor.
void ReadRefreshRow(TIBSQL& sql, bool byAddress)
{
    if (byAddress) {
        try {
            sql.ExecSingleton();
            return;
        } catch (const EIBInterBaseError& error) {
            if (!error.HasCode(isc_sing_select_err))
                throw;
        }
    }
    sql.ExecQuery();
}

} // namespace

bool TSDS::RefreshRecord()
{
    const QByteArray address = RowAddress();
    const bool known = !IsZeroAddress(address);
    TIBSQL& sql = known ? *d->FRefreshSQL : *d->FRefreshByKeySQL;
    TSDSPrivate::TRefreshScope scope(sql, *d->FSelectSQL);
    if (!sql.Prepared())
        sql.Prepare();
    if (known)
        sql.ParamByName(SDSNames::DbKey).SetAsBytes(address);
    else
        d->BindFieldParams(sql);

    ReadRefreshRow(sql, known);
    if (sql.Eof())
        return false;
    return d->LoadReadRow(sql, known ? address : QByteArray());
}

// The fields take the row's values; a row of a view (its address is not the
// one read by) is left as it is.
bool TSDSPrivate::LoadReadRow(const TIBSQL& sql, const QByteArray& readByAddress)
{
    const TQuietFields quiet(*q);
    const bool autoCalc = q->AutoCalcFields();
    const auto restoreCalc = qScopeGuard([&] { q->SetAutoCalcFields(autoCalc); });
    q->SetAutoCalcFields(false);
    const TIBXSQLVAR* rowAddress = sql.FindField(SDSNames::DbKey);
    if (!readByAddress.isEmpty() && rowAddress && rowAddress->AsBytes() != readByAddress)
        return true; // a view's row: its address is its own

    std::vector<TField*> targets;
    for (TField* field : q->Fields()) {
        const bool serverLookup = IsServerLookup(field);
        if (field->FieldKind() != fkData && !serverLookup)
            continue;
        if (!IsDbKey(field->FieldName()) && field->ProviderFlags() == 0
            && !(FOptions.Contains(dsoCalcLookupOnServer) && sql.FindField(field->FieldName())))
            continue;
        targets.push_back(field);
    }
    for (size_t i = 0; i < targets.size(); ++i) {
        TField& field = *targets[i];
        const TIBXSQLVAR* column = sql.FindField(field.FieldName());
        if (!column)
            IBClientError(IBMessages::FieldNotFound, field.FieldName());
        if (i + 1 == targets.size())
            q->SetAutoCalcFields(autoCalc); // calculated fields once, with the last value
        field.SetReadOnly(false);
        field.SetValue(ColumnForField(*column, field));
    }
    if (!q->OnRecordLoaded)
        return true;
    q->OnRecordLoaded(q);
    return q->State() == dsEdit || q->State() == dsInsert;
}

// ----------------------------------------------------------- defaults

void TSDS::FillDefaults()
{
    const bool required = d->FOptions.Contains(dsoInitRequiredFields);
    const bool all = d->FOptions.Contains(dsoInitAllFields);
    if (!required && !all) {
        for (TField* field : Fields())
            if (field->DataType() == ftString && !field->IsNull() && !field->Required() && field->AsString().isEmpty())
                SetQuietly(*field, Variant::Null());
        return;
    }
    for (int i = 0; i < FieldDefs().Count(); ++i) {
        const TFieldDef& def = FieldDefs()[i];
        if ((required && !def.Required()) || IsDbKey(def.Name()))
            continue;
        TField* field = FindField(def.Name());
        if (!field || !field->IsNull())
            continue;
        switch (field->DataType()) {
        case ftSmallint:
        case ftInteger: SetQuietly(*field, Variant(0)); break;
        case ftFloat:
        case ftCurrency:
        case ftBCD: SetQuietly(*field, Variant(0.0)); break;
        case ftString: SetQuietly(*field, Variant(QString())); break;
        case ftDate:
        case ftDateTime:
            if (!required && def.Required())
                SetQuietly(*field, Variant::FromDateTime(EncodeDate(1, 1, 1))); // 01.01.0001
            break;
        default: break;
        }
    }
}

// -------------------------------------------------- deleting by marking

void TSDS::VirtualDelete()
{
    RTL_ASSERT(d->FStateField, QStringLiteral("Не вычислен индекс поля STATE"));
    if (d->FOptions.Contains(dsoCascadeDeleteDetail))
        CascadeDelete();
    {
        const THeldHandlers held(BeforePost, AfterPost, BeforeEdit, AfterEdit);
        Edit();
        try {
            int32_t state = d->FStateField->IsNull() ? 0 : d->FStateField->AsInteger();
            SetDeletedState(state, true);
            d->FStateField->SetAsInteger(state);
            Post();
        } catch (...) {
            if (State() == dsEdit)
                Cancel(); // the mark was not written: the record stays as it was
            throw;
        }
    }
    TCustomMemTable::DoAfterDelete();
}

void TSDS::CascadeDelete()
{
    for (TDataSet* dataSet : GetDetailDataSets()) {
        auto* detail = qobject_cast<TSDS*>(dataSet);
        if (!detail || !detail->Active())
            continue;
        const bool autoCommit = detail->d->FOptions.Contains(dsoAutoCommit);
        detail->d->FOptions = detail->d->FOptions - TSDSOptions{dsoAutoCommit};
        const auto restore = qScopeGuard([&] {
            if (autoCommit)
                detail->d->FOptions = detail->d->FOptions + TSDSOptions{dsoAutoCommit};
        });
        detail->First();
        while (!detail->IsEmpty() && !detail->Eof()) {
            const int before = detail->RecordCount();
            try {
                detail->Delete();
                d->FDetailsCascaded = true;
            } catch (const EAbort&) {
                // A virtual delete keeps the row: go past it when it stays in view.
                d->FDetailsCascaded = true;
                if (detail->RecordCount() == before)
                    detail->Next();
            }
        }
    }
}

void TSDSPrivate::RollbackFailedWrite(TIBSQL& sql)
{
    RollbackWrite(sql, *FSelectSQL);
    if (FDetailsCascaded) {
        FDetailsCascaded = false;
        ReloadCascadedDetails();
    }
}

void TSDSPrivate::ReloadCascadedDetails() noexcept
{
    for (TDataSet* dataSet : q->GetDetailDataSets()) {
        auto* detail = qobject_cast<TSDS*>(dataSet);
        if (!detail || !detail->Active())
            continue;
        try {
            detail->Reload();
            if (detail->d->FOptions.Contains(dsoCascadeDeleteDetail))
                detail->d->ReloadCascadedDetails();
        } catch (...) {
            // A detail that cannot be read again is closed by its reload;
            // the write's own error is the one to report.
        }
    }
}

// ------------------------------------------------------ audit and notices

QString TSDS::BuildAuditText(TWriteOperation operation)
{
    const auto audited = [](const TField* field) {
        return field->FieldKind() == fkData && field->ProviderFlags() != 0 && field->DataType() != ftBlob
               && field->DataType() != ftMemo && !IsDbKey(field->FieldName())
               && !field->FieldName().contains(SDSNames::Time, Qt::CaseInsensitive);
    };
    const auto item = [](const QString& name, const QString& text) {
        return QLatin1Char('<') + name + QLatin1Char('>') + text + QStringLiteral("</") + name + QLatin1Char('>');
    };
    QString body;
    if (operation == woUpdate) {
        for (const QString& name : SplitFieldList(d->FKeyFields))
            if (const TField* field = FindField(name))
                body += item(name.toUpper(), field->AsString());
        const std::vector<Variant>& old = OldRecord();
        for (const TField* field : Fields()) {
            if (!audited(field) || field->Index() < 0 || static_cast<size_t>(field->Index()) >= old.size())
                continue;
            const Variant& oldValue = old[field->Index()];
            QString oldText = ValueText(*field, oldValue);
            QString newText = field->AsString();
            if (oldText == newText)
                continue;
            const TFieldType type = field->DataType();
            if (type == ftString || type == ftDate || type == ftDateTime) {
                oldText = QuotedSQL(oldText);
                newText = QuotedSQL(newText);
            }
            body += item(field->FieldName().toUpper(),
                         QStringLiteral("<OLD>=") + oldText + QStringLiteral("<NEW>=") + newText);
        }
    } else {
        for (const TField* field : Fields())
            if (audited(field))
                body += item(field->FieldName().toUpper(), field->AsString());
    }
    const QString tag = operation == woUpdate   ? QStringLiteral("UPDATE")
                        : operation == woInsert ? QStringLiteral("INSERT")
                                                : QStringLiteral("DELETE");
    return item(QStringLiteral("TABLE"), d->FTableName) + item(tag, body);
}

void TSDS::NotifyChange(TWriteOperation operation, const QByteArray& rowAddress)
{
    TSDatabase* database = d->SessionDatabase();
    if (!database)
        return;
    TSDS* source = d->FMasterDataset ? d->FMasterDataset.data() : this;
    database->Session()->PostEvent(SessionProtocol::RecordChangeKind, 0, operation, source->TableName(),
                                   SessionRecordID(rowAddress), source);
}

void TSDS::PostWithoutEvents()
{
    const THeldHandlers held(BeforePost, AfterPost);
    std::vector<std::pair<QPointer<TField>, bool>> required;
    for (TField* field : Fields()) {
        required.emplace_back(field, field->Required());
        field->SetRequired(false);
    }
    const auto restore = qScopeGuard([&] {
        for (const auto& [field, flag] : required)
            if (field)
                field->SetRequired(flag);
    });
    Post();
}
