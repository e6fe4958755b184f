// Errors of the Firebird client layer: what the server reports and what the
// client itself refuses.
#pragma once

#include "Exceptions.h"

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

class EIBError : public EDatabaseError
{
public:
    EIBError(const QString& message, int sqlCode = 0) : EDatabaseError(message), FSQLCode(sqlCode) {}
    int SQLCode() const noexcept { return FSQLCode; }

private:
    int FSQLCode;
};

// One error of a status vector, in the order the server reported them.
struct TIBStatusEntry
{
    // The isc_... (gds) code; 0 for a line that carries no code of its own
    // (text the server passed as it is, an operating system error).
    int Code = 0;
    // The arguments that came with it, in order; numbers in decimal.
    QStringList Args;
    // Its line of the message, the arguments filled in.
    QString Text;

    bool operator==(const TIBStatusEntry&) const = default;
};

// A failure the server (or the client library) reported in a status vector.
//
// Message() is the whole status formatted as the client library does it, one
// line per error. Status() keeps each error apart with its code and
// arguments, SQLState() the five-character SQLSTATE, and SQL() the text of
// the statement that raised it (empty when it came from a connection or a
// transaction rather than a statement).
class EIBInterBaseError : public EIBError
{
public:
    // An error known only by its codes and text: Status() and SQLState() are empty.
    EIBInterBaseError(int sqlCode, int ibErrorCode, const QString& message)
        : EIBError(message, sqlCode), FIBErrorCode(ibErrorCode)
    {
    }
    EIBInterBaseError(int sqlCode, const QString& message, std::vector<TIBStatusEntry> status, const QString& sqlState,
                      const QString& sql = QString())
        : EIBError(message, sqlCode), FIBErrorCode(status.empty() ? 0 : status.front().Code),
          FStatus(std::move(status)), FSQLState(sqlState), FSQL(sql)
    {
    }

    // The first error code of the status vector (isc_... / gds code).
    int IBErrorCode() const noexcept { return FIBErrorCode; }
    // Every error of the status vector; the first one's code is IBErrorCode().
    const std::vector<TIBStatusEntry>& Status() const noexcept { return FStatus; }
    // Whether any error of the status vector has this code: the telling one
    // may follow a general one (a lock conflict comes after "deadlock").
    bool HasCode(int code) const noexcept
    {
        if (code == FIBErrorCode)
            return true;
        for (const TIBStatusEntry& entry : FStatus)
            if (entry.Code == code)
                return true;
        return false;
    }
    // "42000", "23000", ...; empty when not known.
    const QString& SQLState() const noexcept { return FSQLState; }
    // The statement's text as it was given (before ":NAME" became "?").
    const QString& SQL() const noexcept { return FSQL; }
    void SetSQL(const QString& sql) { FSQL = sql; }

private:
    int FIBErrorCode;
    std::vector<TIBStatusEntry> FStatus;
    QString FSQLState;
    QString FSQL;
};

// The attachment is gone: the network failed, the server or the database
// was shut down, or the attachment was killed. By the time this is raised the
// database has let go of its handles: Connected() and every transaction's
// InTransaction() are false, and opening the database again reconnects.
class EIBConnectionLost : public EIBInterBaseError
{
public:
    using EIBInterBaseError::EIBInterBaseError;
};

// A misuse caught before anything reached the server.
class EIBClientError : public EIBError
{
public:
    explicit EIBClientError(const QString& message) : EIBError(message) {}
};

namespace IBMessages {
inline const char* const NoTableName = "No Table Name assigned";
inline const char* const DatabaseNameMissing = "Database name is missing";
inline const char* const FieldNotFound = "Field \"%1\" not found";
inline const char* const DatabaseClosed = "Database not connected";
inline const char* const ConnectionLost = "Connection to the database was lost; open it again";
inline const char* const TransactionNotAssigned = "Transaction not assigned";
inline const char* const DatabaseNotAssigned = "Database not assigned";
inline const char* const NotInTransaction = "Transaction is not active";
inline const char* const InTransaction = "Transaction is active";
inline const char* const CursorNotOpen = "Cursor is not open";
inline const char* const ParamNotFound = "Parameter \"%1\" not found";
inline const char* const EmptyQuery = "Empty query";
} // namespace IBMessages

[[noreturn]] void IBClientError(const char* message);
[[noreturn]] void IBClientError(const char* pattern, const QString& arg);
