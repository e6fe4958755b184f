// A connection to a Firebird database and the transactions that run on it.
#pragma once

#include "IBError.h"

#include <QObject>
#include <QStringList>
#include <memory>
#include <vector>

namespace Firebird {
class IAttachment;
class ITransaction;
} // namespace Firebird
namespace IBApi {
class TCharset;
} // namespace IBApi

class TIBTransaction;
class TIBSQL;
namespace IBGate {
class TDatabaseForTransaction;
class TDatabaseForSQL;
class TTransactionForDatabase;
class TTransactionForSQL;
} // namespace IBGate

// A local path opens through the embedded engine; "host:path" goes to a server.
//
// Lifetimes. Transactions and statements point at their database; the
// database keeps a list of them and is told when they go. Neither owns the
// other, and either may be destroyed first:
// - Disconnecting frees every statement prepared on the attachment and rolls
//   back every active transaction on it (never a commit); the objects stay
//   and work again after the next Open.
// - Destroying the database does the same, then detaches and clears every
//   pointer to itself: a transaction's DefaultDatabase() and a statement's
//   Database() become null, and using them raises "Database not assigned".
// - Handle() is valid while Connected(); nothing else may release it.
//
// A lost connection (the network failed, the server or the database was shut
// down, the attachment was killed) is noticed by the first call that fails
// on it. That call raises EIBConnectionLost after the database has let go of
// every handle on the attachment: statements are unprepared, transactions
// inactive and Connected() false, so the state tells the truth and nothing
// dead is used again. Later calls raise EIBClientError saying that the
// connection was lost; opening the database again reconnects.
class TIBDatabase : public QObject
{
public:
    explicit TIBDatabase(QObject* owner = nullptr);
    ~TIBDatabase() override;

    QString DatabaseName() const { return FDatabaseName; }
    void SetDatabaseName(const QString& name);

    // "name=value" lines: user_name, password, lc_ctype, sql_role_name, sql_dialect.
    const QStringList& Params() const { return FParams; }
    void SetParams(const QStringList& params);

    bool Connected() const;
    void SetConnected(bool value);
    void Open() { SetConnected(true); }
    void Close() { SetConnected(false); }
    // Creates the file (its default character set is lc_ctype) and stays connected.
    void CreateDatabase();
    // Drops the connected database.
    void DropDatabase();

    TIBTransaction* DefaultTransaction() const { return FDefaultTransaction; }
    void SetDefaultTransaction(TIBTransaction* transaction);
    // A transaction of the database's own, for its housekeeping queries.
    TIBTransaction* InternalTransaction() const { return FInternalTransaction.get(); }

    int SQLDialect() const { return 3; }
    const IBApi::TCharset& Charset() const { return *FCharset; }
    Firebird::IAttachment* Handle() const;

protected:
    // Hooks around the attachment: DoConnect attaches, DoDisconnect ends the
    // transactions and detaches.
    virtual void DoConnect();
    virtual void DoDisconnect();

private:
    // Transactions and statements reach these through their gates (IBGates_p.h).
    friend class IBGate::TDatabaseForTransaction;
    friend class IBGate::TDatabaseForSQL;
    struct TPrivate;

    void Attach(bool create);
    // Lets go of the attachment and of everything on it, without a call to
    // the server: it is gone. Does nothing while not connected.
    void ConnectionLost() noexcept;
    // Whether the last attachment was lost rather than closed.
    bool WasLost() const noexcept;
    // Raises "not connected", or "connection lost" after a loss.
    [[noreturn]] void RaiseNotConnected() const;
    void CheckInactive();
    void AddTransaction(TIBTransaction* transaction);
    void RemoveTransaction(TIBTransaction* transaction);
    void AddSQL(TIBSQL* sql);
    void RemoveSQL(TIBSQL* sql);

    QString FDatabaseName;
    QStringList FParams;
    std::unique_ptr<TPrivate> d;
    std::unique_ptr<IBApi::TCharset> FCharset;
    TIBTransaction* FDefaultTransaction = nullptr;
    std::unique_ptr<TIBTransaction> FInternalTransaction;
    std::vector<TIBTransaction*> FTransactions;
    std::vector<TIBSQL*> FSQLObjects;
};

// Lifetimes. A transaction points at its DefaultDatabase(), which must stay
// connected while the transaction is active: disconnecting it rolls the
// transaction back, destroying it also sets DefaultDatabase() to null.
// Statements point at the transaction they run in; ending the transaction
// (commit, rollback, or its destruction, which rolls back) closes their
// cursors but keeps them prepared, and destroying it sets their Transaction()
// to the database's default (null when there is none). Handle() is valid
// while InTransaction().
class TIBTransaction : public QObject
{
public:
    explicit TIBTransaction(QObject* owner = nullptr);
    ~TIBTransaction() override; // rolls back what is still active

    // Lines: read, write, read_committed, rec_version, no_rec_version, nowait,
    // wait, concurrency, consistency (an "isc_tpb_" prefix is allowed).
    const QStringList& Params() const { return FParams; }
    void SetParams(const QStringList& params);

    TIBDatabase* DefaultDatabase() const { return FDefaultDatabase; }
    void SetDefaultDatabase(TIBDatabase* database);

    bool InTransaction() const;
    void StartTransaction();
    void Commit();
    void CommitRetaining();
    void Rollback();
    void RollbackRetaining();

    Firebird::ITransaction* Handle() const;

private:
    // The database and statements reach these through their gates (IBGates_p.h).
    friend class IBGate::TTransactionForDatabase;
    friend class IBGate::TTransactionForSQL;
    struct TPrivate;

    void CheckInTransaction() const;
    // Closes the statements' cursors; raises only when the connection was lost.
    void CloseCursors();
    void EndQuietly();                                             // rollback that never throws
    void DropLostHandle() noexcept;                                // the attachment is gone: no rollback to send
    void ForgetDatabase() noexcept { FDefaultDatabase = nullptr; } // it is being destroyed
    void AddSQL(TIBSQL* sql);
    void RemoveSQL(TIBSQL* sql);

    QStringList FParams;
    TIBDatabase* FDefaultDatabase = nullptr;
    std::unique_ptr<TPrivate> d;
    std::vector<TIBSQL*> FSQLObjects;
};
