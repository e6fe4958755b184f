#include "IBDatabase.h"

#include "IBApi.h"
#include "IBGates_p.h"
#include "TerminationSignals.h"

#include <QScopeGuard>
#include <algorithm>

using namespace Firebird;
using IBApi::TQuietStatus;
using IBApi::TRef;
using IBApi::TStatus;
using IBApi::TXpb;
using IBGate::TDatabaseForTransaction;
using IBGate::TSQLForDatabase;
using IBGate::TSQLForTransaction;
using IBGate::TTransactionForDatabase;

namespace {

// "name=value" into its parts, the name lower-cased and without the API prefix.
std::pair<QString, QString> SplitParam(const QString& line, const QString& prefix)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    QString name = (eq < 0 ? line : line.left(eq)).trimmed().toLower();
    if (name.startsWith(prefix))
        name.remove(0, prefix.size());
    return {name, eq < 0 ? QString() : line.mid(eq + 1).trimmed()};
}

template <class T>
void Remove(std::vector<T*>& list, T* item)
{
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

} // namespace

// ---------------------------------------------------------------- TIBDatabase

struct TIBDatabase::TPrivate
{
    TStatus Status;
    TRef<IAttachment> Attachment;
    bool Lost = false; // the last attachment was lost rather than closed
};

TIBDatabase::TIBDatabase(QObject* owner)
    : QObject(owner), d(std::make_unique<TPrivate>()), FCharset(std::make_unique<IBApi::TCharset>())
{
    d->Status.OnConnectionLost = [this] { ConnectionLost(); };
    FInternalTransaction = std::make_unique<TIBTransaction>();
    FInternalTransaction->SetDefaultDatabase(this);
}

TIBDatabase::~TIBDatabase()
{
    // Nothing may escape a destructor: end what is open and drop the attachment.
    FInternalTransaction.reset();
    for (TIBSQL* sql : std::vector<TIBSQL*>(FSQLObjects))
        TSQLForDatabase(*sql).FreeHandleQuietly();
    for (TIBTransaction* transaction : std::vector<TIBTransaction*>(FTransactions))
        TTransactionForDatabase(*transaction).EndQuietly();
    if (d->Attachment) {
        TQuietStatus status;
        d->Attachment->detach(&status);
        if (!status.Failed())
            d->Attachment.abandon();
    }
    for (TIBSQL* sql : FSQLObjects)
        TSQLForDatabase(*sql).ForgetDatabase(this);
    for (TIBTransaction* transaction : FTransactions)
        TTransactionForDatabase(*transaction).ForgetDatabase();
}

void TIBDatabase::SetDatabaseName(const QString& name)
{
    CheckInactive();
    FDatabaseName = name;
}

void TIBDatabase::SetParams(const QStringList& params)
{
    CheckInactive();
    FParams = params;
}

bool TIBDatabase::Connected() const { return static_cast<bool>(d->Attachment); }

void TIBDatabase::SetConnected(bool value)
{
    if (value == Connected())
        return;
    if (value)
        DoConnect();
    else
        DoDisconnect();
}

void TIBDatabase::CreateDatabase()
{
    CheckInactive();
    Attach(true);
}

void TIBDatabase::DropDatabase()
{
    if (!Connected())
        RaiseNotConnected();
    for (TIBSQL* sql : std::vector<TIBSQL*>(FSQLObjects))
        sql->FreeHandle();
    for (TIBTransaction* transaction : FTransactions)
        if (transaction->InTransaction())
            transaction->Rollback();
    d->Attachment->dropDatabase(&d->Status);
    d->Attachment.abandon();
}

void TIBDatabase::SetDefaultTransaction(TIBTransaction* transaction)
{
    FDefaultTransaction = transaction;
    if (transaction && !transaction->DefaultDatabase())
        transaction->SetDefaultDatabase(this);
}

IAttachment* TIBDatabase::Handle() const { return d->Attachment.get(); }

void TIBDatabase::DoConnect() { Attach(false); }

void TIBDatabase::DoDisconnect()
{
    for (TIBSQL* sql : std::vector<TIBSQL*>(FSQLObjects))
        TSQLForDatabase(*sql).FreeHandleQuietly();
    // Transactions cannot outlive the attachment; ending them is never a commit.
    for (TIBTransaction* transaction : FTransactions)
        TTransactionForDatabase(*transaction).EndQuietly();
    // Ending them may have found the connection lost and let it go already.
    if (!d->Attachment)
        return;
    try {
        d->Attachment->detach(&d->Status);
        d->Attachment.abandon();
    } catch (const EIBConnectionLost&) {
        // Closing what is already gone has done its job.
    } catch (...) {
        d->Attachment.reset(); // the handle goes anyway
        throw;
    }
}

void TIBDatabase::ConnectionLost() noexcept
{
    if (!d->Attachment)
        return;
    // Children before their attachment.
    for (TIBSQL* sql : std::vector<TIBSQL*>(FSQLObjects))
        TSQLForDatabase(*sql).DropLostHandles();
    for (TIBTransaction* transaction : FTransactions)
        TTransactionForDatabase(*transaction).DropLostHandle();
    d->Attachment.reset();
    d->Lost = true;
}

bool TIBDatabase::WasLost() const noexcept { return d->Lost; }

void TIBDatabase::RaiseNotConnected() const
{
    IBClientError(d->Lost ? IBMessages::ConnectionLost : IBMessages::DatabaseClosed);
}

void TIBDatabase::Attach(bool create)
{
    if (FDatabaseName.trimmed().isEmpty())
        IBClientError(IBMessages::DatabaseNameMissing);

    TStatus& status = d->Status;
    TXpb dpb(status, IXpbBuilder::DPB);
    QString charsetName;
    for (const QString& line : FParams) {
        if (line.trimmed().isEmpty())
            continue;
        const auto [name, value] = SplitParam(line, QStringLiteral("isc_dpb_"));
        const QByteArray bytes = value.toUtf8();
        if (name == QLatin1String("user_name") || name == QLatin1String("user"))
            dpb->insertString(&status, isc_dpb_user_name, bytes.constData());
        else if (name == QLatin1String("password"))
            dpb->insertString(&status, isc_dpb_password, bytes.constData());
        else if (name == QLatin1String("lc_ctype")) {
            dpb->insertString(&status, isc_dpb_lc_ctype, bytes.constData());
            charsetName = value;
        } else if (name == QLatin1String("sql_role_name"))
            dpb->insertString(&status, isc_dpb_sql_role_name, bytes.constData());
        else if (name == QLatin1String("sql_dialect"))
            dpb->insertInt(&status, isc_dpb_sql_dialect, value.toInt());
        else if (name == QLatin1String("page_size"))
            dpb->insertInt(&status, isc_dpb_page_size, value.toInt());
        else
            IBClientError("DPB Constant (%1) is unknown", name);
    }
    if (create) {
        dpb->insertInt(&status, isc_dpb_sql_dialect, 3);
        if (!charsetName.isEmpty())
            dpb->insertString(&status, isc_dpb_set_db_charset, charsetName.toUtf8().constData());
    }

    const QByteArray path = FDatabaseName.toUtf8();
    // The client library sets its own SIGINT and SIGTERM handlers here, even
    // when the attachment fails; they would shut every connection down
    // behind the application's back.
    const auto reclaimSignals = qScopeGuard([] { ReclaimTerminationSignals(); });
    TRef<IProvider> provider(IBApi::Master()->getDispatcher());
    IAttachment* attachment =
        create ? provider->createDatabase(&status, path.constData(), dpb.Length(status), dpb.Buffer(status))
               : provider->attachDatabase(&status, path.constData(), dpb.Length(status), dpb.Buffer(status));
    d->Attachment.reset(attachment);
    d->Lost = false;
    *FCharset = IBApi::TCharset::FromName(charsetName);
}

void TIBDatabase::CheckInactive()
{
    if (Connected())
        throw EIBClientError(QStringLiteral("Cannot perform operation -- DB is currently open"));
}

void TIBDatabase::AddTransaction(TIBTransaction* transaction)
{
    if (std::find(FTransactions.begin(), FTransactions.end(), transaction) == FTransactions.end())
        FTransactions.push_back(transaction);
}

void TIBDatabase::RemoveTransaction(TIBTransaction* transaction)
{
    Remove(FTransactions, transaction);
    if (FDefaultTransaction == transaction)
        FDefaultTransaction = nullptr;
}

void TIBDatabase::AddSQL(TIBSQL* sql)
{
    if (std::find(FSQLObjects.begin(), FSQLObjects.end(), sql) == FSQLObjects.end())
        FSQLObjects.push_back(sql);
}

void TIBDatabase::RemoveSQL(TIBSQL* sql) { Remove(FSQLObjects, sql); }

// ------------------------------------------------------------- TIBTransaction

struct TIBTransaction::TPrivate
{
    TStatus Status;
    TRef<ITransaction> Transaction;
};

TIBTransaction::TIBTransaction(QObject* owner) : QObject(owner), d(std::make_unique<TPrivate>())
{
    d->Status.OnConnectionLost = [this] {
        if (FDefaultDatabase)
            TDatabaseForTransaction(*FDefaultDatabase).ConnectionLost();
    };
}

TIBTransaction::~TIBTransaction()
{
    EndQuietly();
    for (TIBSQL* sql : FSQLObjects)
        TSQLForTransaction(*sql).ForgetTransaction(this);
    if (FDefaultDatabase)
        TDatabaseForTransaction(*FDefaultDatabase).RemoveTransaction(this);
}

void TIBTransaction::SetParams(const QStringList& params)
{
    if (InTransaction())
        IBClientError(IBMessages::InTransaction);
    FParams = params;
}

void TIBTransaction::SetDefaultDatabase(TIBDatabase* database)
{
    if (database == FDefaultDatabase)
        return;
    if (InTransaction())
        IBClientError(IBMessages::InTransaction);
    if (FDefaultDatabase)
        TDatabaseForTransaction(*FDefaultDatabase).RemoveTransaction(this);
    FDefaultDatabase = database;
    if (database)
        TDatabaseForTransaction(*database).AddTransaction(this);
}

bool TIBTransaction::InTransaction() const { return static_cast<bool>(d->Transaction); }

ITransaction* TIBTransaction::Handle() const { return d->Transaction.get(); }

void TIBTransaction::StartTransaction()
{
    if (InTransaction())
        IBClientError(IBMessages::InTransaction);
    if (!FDefaultDatabase)
        IBClientError(IBMessages::DatabaseNotAssigned);
    if (!FDefaultDatabase->Connected())
        TDatabaseForTransaction(*FDefaultDatabase).RaiseNotConnected();

    static const struct
    {
        const char* Name;
        unsigned char Tag;
    } tags[] = {
        {"read", isc_tpb_read},
        {"write", isc_tpb_write},
        {"read_committed", isc_tpb_read_committed},
        {"rec_version", isc_tpb_rec_version},
        {"no_rec_version", isc_tpb_no_rec_version},
        {"nowait", isc_tpb_nowait},
        {"wait", isc_tpb_wait},
        {"concurrency", isc_tpb_concurrency},
        {"consistency", isc_tpb_consistency},
        {"autocommit", isc_tpb_autocommit},
        {"no_auto_undo", isc_tpb_no_auto_undo},
    };

    TStatus& status = d->Status;
    TXpb tpb(status, IXpbBuilder::TPB);
    for (const QString& line : FParams) {
        if (line.trimmed().isEmpty())
            continue;
        const auto [name, value] = SplitParam(line, QStringLiteral("isc_tpb_"));
        if (name == QLatin1String("lock_timeout")) {
            tpb->insertInt(&status, isc_tpb_lock_timeout, value.toInt());
            continue;
        }
        const auto* tag = std::find_if(std::begin(tags), std::end(tags),
                                       [&](const auto& t) { return name == QLatin1String(t.Name); });
        if (tag == std::end(tags))
            IBClientError("TPB Constant (%1) is unknown", name);
        tpb->insertTag(&status, tag->Tag);
    }
    d->Transaction.reset(FDefaultDatabase->Handle()->startTransaction(&status, tpb.Length(status), tpb.Buffer(status)));
}

void TIBTransaction::Commit()
{
    CheckInTransaction();
    CloseCursors();
    d->Transaction->commit(&d->Status);
    d->Transaction.abandon();
}

void TIBTransaction::CommitRetaining()
{
    CheckInTransaction();
    d->Transaction->commitRetaining(&d->Status);
}

void TIBTransaction::Rollback()
{
    CheckInTransaction();
    CloseCursors();
    try {
        d->Transaction->rollback(&d->Status);
        d->Transaction.abandon();
    } catch (...) {
        // A rollback that fails (the connection was lost) leaves nothing to
        // retry; keeping the handle would leave the object "active" for good,
        // refusing StartTransaction until the database closes.
        d->Transaction.reset();
        throw;
    }
}

void TIBTransaction::RollbackRetaining()
{
    CheckInTransaction();
    d->Transaction->rollbackRetaining(&d->Status);
}

void TIBTransaction::CheckInTransaction() const
{
    if (InTransaction())
        return;
    // A commit after the connection was lost must not read as "nothing to commit".
    if (FDefaultDatabase && TDatabaseForTransaction(*FDefaultDatabase).WasLost() && !FDefaultDatabase->Connected())
        IBClientError(IBMessages::ConnectionLost);
    IBClientError(IBMessages::NotInTransaction);
}

void TIBTransaction::CloseCursors()
{
    for (TIBSQL* sql : std::vector<TIBSQL*>(FSQLObjects)) {
        try {
            sql->Close();
        } catch (const EIBConnectionLost&) {
            throw; // the transaction went with the connection
        } catch (const EIBError&) {
            // the cursor is gone all the same
        }
    }
}

void TIBTransaction::EndQuietly()
{
    if (!d->Transaction)
        return;
    try {
        CloseCursors();
    } catch (const EIBError&) {
    }
    if (!d->Transaction) // the connection was found lost
        return;
    TQuietStatus status;
    d->Transaction->rollback(&status);
    if (status.Failed())
        d->Transaction.reset();
    else
        d->Transaction.abandon();
}

void TIBTransaction::DropLostHandle() noexcept { d->Transaction.reset(); }

void TIBTransaction::AddSQL(TIBSQL* sql)
{
    if (std::find(FSQLObjects.begin(), FSQLObjects.end(), sql) == FSQLObjects.end())
        FSQLObjects.push_back(sql);
}

void TIBTransaction::RemoveSQL(TIBSQL* sql) { Remove(FSQLObjects, sql); }
