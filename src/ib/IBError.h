// Errors of the Firebird client layer: what the server reports and what the
// client itself refuses.
#pragma once

#include "Exceptions.h"

class EIBError : public EDatabaseError
{
public:
    EIBError(const QString& message, int sqlCode = 0) : EDatabaseError(message), FSQLCode(sqlCode) {}
    int SQLCode() const noexcept { return FSQLCode; }

private:
    int FSQLCode;
};

// A failure the server (or the client library) reported in a status vector.
class EIBInterBaseError : public EIBError
{
public:
    EIBInterBaseError(int sqlCode, int ibErrorCode, const QString& message)
        : EIBError(message, sqlCode), FIBErrorCode(ibErrorCode)
    {
    }
    // The first error code of the status vector (isc_... / gds code).
    int IBErrorCode() const noexcept { return FIBErrorCode; }

private:
    int FIBErrorCode;
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
