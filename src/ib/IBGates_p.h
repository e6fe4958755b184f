// Internal: what the classes of the client layer may do to each other.
//
// Each gate opens a few private operations of one class to one peer: its
// members are private and only that peer is its friend, so the peer sees
// nothing else of the class and nobody else sees the gate's operations.
// A gate is a reference on the stack; every call is inline.
#pragma once

#include "IBDatabase.h"
#include "IBSQL.h"

namespace IBGate {

// A transaction's access to its database.
class TDatabaseForTransaction
{
    friend class ::TIBTransaction;

    explicit TDatabaseForTransaction(TIBDatabase& database) noexcept : FDatabase(database) {}
    void AddTransaction(TIBTransaction* transaction) { FDatabase.AddTransaction(transaction); }
    void RemoveTransaction(TIBTransaction* transaction) { FDatabase.RemoveTransaction(transaction); }
    void ConnectionLost() noexcept { FDatabase.ConnectionLost(); }
    bool WasLost() const noexcept { return FDatabase.WasLost(); }
    [[noreturn]] void RaiseNotConnected() const { FDatabase.RaiseNotConnected(); }

    TIBDatabase& FDatabase;
};

// A statement's access to its database.
class TDatabaseForSQL
{
    friend class ::TIBSQL;

    explicit TDatabaseForSQL(TIBDatabase& database) noexcept : FDatabase(database) {}
    void AddSQL(TIBSQL* sql) { FDatabase.AddSQL(sql); }
    void RemoveSQL(TIBSQL* sql) { FDatabase.RemoveSQL(sql); }
    void ConnectionLost() noexcept { FDatabase.ConnectionLost(); }
    [[noreturn]] void RaiseNotConnected() const { FDatabase.RaiseNotConnected(); }

    TIBDatabase& FDatabase;
};

// A database's access to the transactions on it.
class TTransactionForDatabase
{
    friend class ::TIBDatabase;

    explicit TTransactionForDatabase(TIBTransaction& transaction) noexcept : FTransaction(transaction) {}
    void EndQuietly() { FTransaction.EndQuietly(); }
    void DropLostHandle() noexcept { FTransaction.DropLostHandle(); }
    void ForgetDatabase() noexcept { FTransaction.ForgetDatabase(); }

    TIBTransaction& FTransaction;
};

// A statement's access to its transaction.
class TTransactionForSQL
{
    friend class ::TIBSQL;

    explicit TTransactionForSQL(TIBTransaction& transaction) noexcept : FTransaction(transaction) {}
    void AddSQL(TIBSQL* sql) { FTransaction.AddSQL(sql); }
    void RemoveSQL(TIBSQL* sql) { FTransaction.RemoveSQL(sql); }

    TIBTransaction& FTransaction;
};

// A database's access to the statements on it.
class TSQLForDatabase
{
    friend class ::TIBDatabase;

    explicit TSQLForDatabase(TIBSQL& sql) noexcept : FSQL(sql) {}
    void FreeHandleQuietly() { FSQL.FreeHandleQuietly(); }
    void DropLostHandles() noexcept { FSQL.DropLostHandles(); }
    void ForgetDatabase(const TIBDatabase* database) noexcept { FSQL.ForgetDatabase(database); }

    TIBSQL& FSQL;
};

// A transaction's access to the statements that run in it.
class TSQLForTransaction
{
    friend class ::TIBTransaction;

    explicit TSQLForTransaction(TIBSQL& sql) noexcept : FSQL(sql) {}
    void ForgetTransaction(const TIBTransaction* transaction) noexcept { FSQL.ForgetTransaction(transaction); }

    TIBSQL& FSQL;
};

// A column's access to its statement: the row it reads and its blobs.
class TSQLForVar
{
    friend class ::TIBXSQLVAR;

    explicit TSQLForVar(TIBSQL& sql) noexcept : FSQL(sql) {}
    const unsigned char* CurrentRow() const noexcept { return FSQL.CurrentRow(); }
    QByteArray ReadBlob(const void* blobId) { return FSQL.ReadBlob(blobId); }

    TIBSQL& FSQL;
};

// A statement's access to its columns and parameters: describing them when
// it is prepared and reading what a parameter binds.
class TVarForSQL
{
    friend class ::TIBSQL;

    explicit TVarForSQL(TIBXSQLVAR& var) noexcept : FVar(var) {}
    void DescribeColumn(TIBSQL* owner, int index, Firebird::IMessageMetadata* meta, unsigned pos,
                        IBApi::TStatus& status)
    {
        FVar.DescribeColumn(owner, index, meta, pos, status);
    }
    void DescribeParam(TIBSQL* owner, int index, const QString& name, Firebird::IMessageMetadata* meta, unsigned pos,
                       IBApi::TStatus& status)
    {
        FVar.DescribeParam(owner, index, name, meta, pos, status);
    }
    void AddPosition(unsigned pos) { FVar.AddPosition(pos); }
    TIBXSQLVAR::TBinding Binding() const { return FVar.Binding(); }

    TIBXSQLVAR& FVar;
};

// A statement's hold on its text: it is told of every change.
class TLinesForSQL
{
    friend class ::TIBSQL;

    explicit TLinesForSQL(TIBSQLLines& lines) noexcept : FLines(lines) {}
    void SetOnChange(std::function<void()> onChange) { FLines.FOnChange = std::move(onChange); }

    TIBSQLLines& FLines;
};

} // namespace IBGate
