// A statement: SQL text, its parameters, execution and the rows it returns.
#pragma once

#include "IBError.h"
#include "Variant.h"

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class TIBDatabase;
class TIBTransaction;
class TIBSQL;
namespace Firebird {
class IMessageMetadata;
} // namespace Firebird
namespace IBApi {
class TStatus;
} // namespace IBApi
namespace IBGate {
class TSQLForDatabase;
class TSQLForTransaction;
class TSQLForVar;
class TVarForSQL;
class TLinesForSQL;
} // namespace IBGate

// The classic numbers of the column types; bit 0 marks a nullable column.
namespace IBType {
enum : int {
    Varying = 448,
    Text = 452,
    Double = 480,
    Float = 482,
    Long = 496,
    Short = 500,
    Timestamp = 510,
    Blob = 520,
    DFloat = 530,
    Array = 540,
    Quad = 550,
    Time = 560,
    Date = 570,
    Int64 = 580,
    Boolean = 32764,
    Null = 32766,
};
} // namespace IBType

// One column of the current row, or one parameter (which reads back the
// value last set).
//
// It belongs to its statement: a reference from Fields() or Params() is
// valid until the statement is prepared again or unprepared (a change of its
// text, ParamCheck or database, FreeHandle, the database closing; a lost
// connection leaves them readable, as stale values, until then). A column
// reads the statement's current row: after the cursor moves it shows the
// new row, and a blob column is read from the server through the cursor's
// transaction, so it needs that transaction still active.
class TIBXSQLVAR
{
public:
    // Metadata as the server describes it.
    int SQLType() const { return FSQLType | (FNullable ? 1 : 0); }
    int Scale() const { return FScale; }
    int SubType() const { return FSubType; }
    int Size() const; // characters for text, bytes otherwise
    int CharSetId() const { return FCharSet; }
    bool IsNullable() const { return FNullable; }
    QString RelationName() const { return FRelationName; }
    QString SqlName() const { return FSqlName; }
    QString AliasName() const { return FAliasName; }
    QString OwnerName() const { return FOwnerName; }
    const QString& Name() const { return FName; } // the parameter name, or the alias
    int Index() const { return FIndex; }

    bool IsNull() const;
    QString AsString() const;
    int32_t AsInteger() const;
    int64_t AsInt64() const;
    double AsDouble() const;
    TCurrency AsCurrency() const;
    TDateTime AsDateTime() const;
    QByteArray AsBytes() const; // text and blobs as stored, DB_KEY's 8 bytes
    Variant AsVariant() const;

    void SetIsNull(bool value = true);
    void SetAsString(const QString& value);
    void SetAsInteger(int32_t value);
    void SetAsInt64(int64_t value);
    void SetAsDouble(double value);
    void SetAsCurrency(TCurrency value);
    void SetAsDateTime(TDateTime value);
    void SetAsBytes(const QByteArray& value); // raw: OCTETS text or a binary blob
    void SetAsVariant(const Variant& value);

private:
    // The statement reaches these through its gate (IBGates_p.h).
    friend class IBGate::TVarForSQL;

    // The value's own type, buffer and null flag.
    struct TValue
    {
        unsigned Type = 0;
        int Scale = 0;
        unsigned Length = 0;
        unsigned CharSet = 0;
        const unsigned char* Data = nullptr;
        bool Null = true;
    };
    TValue Value() const;
    // What a parameter puts into the statement's input message: the slot in
    // its value's own type (the described one while null), whether a blob
    // value is text, the bytes and where the parameter occurs.
    struct TBinding
    {
        bool Null;
        unsigned Type;
        int SubType;
        int Scale;
        unsigned Length;
        unsigned CharSet;
        bool TextBlob;
        const QByteArray& Bytes;
        const std::vector<unsigned>& Positions;
    };
    TBinding Binding() const;
    // Takes the description of column or parameter `pos` of the metadata.
    void DescribeColumn(TIBSQL* owner, int index, Firebird::IMessageMetadata* meta, unsigned pos,
                        IBApi::TStatus& status);
    void DescribeParam(TIBSQL* owner, int index, const QString& name, Firebird::IMessageMetadata* meta, unsigned pos,
                       IBApi::TStatus& status);
    void AddPosition(unsigned pos) { FPositions.push_back(pos); }
    void SetValue(unsigned type, int scale, unsigned charSet, const void* data, unsigned length);
    QByteArray ReadBlob(const TValue& value) const;
    QString DecodeText(const TValue& value, const char* data, qsizetype length) const;

    TIBSQL* FOwner = nullptr;
    int FIndex = 0;
    unsigned FSQLType = 0;
    int FScale = 0;
    int FSubType = 0;
    unsigned FLength = 0;
    unsigned FCharSet = 0;
    bool FNullable = true;
    QString FRelationName, FSqlName, FAliasName, FOwnerName, FName;

    // Columns point into the statement's row buffer.
    unsigned FOffset = 0;
    unsigned FNullOffset = 0;

    // Parameters own their value (VARYING with its length word, like the row).
    bool FIsParam = false;
    bool FParamNull = true;
    unsigned FValueType = 0;
    int FValueScale = 0;
    unsigned FValueCharSet = 0;
    QByteArray FValue;
    std::vector<unsigned> FPositions; // where the parameter occurs in the statement
};

// The SQL text as lines; every change unprepares the statement.
class TIBSQLLines
{
public:
    int Count() const { return static_cast<int>(FLines.size()); }
    QString operator[](int index) const { return FLines.at(index); }
    QString Text() const; // the lines joined with "\n"
    void SetText(const QString& text);
    void Add(const QString& line);
    void SetLine(int index, const QString& line);
    void Insert(int index, const QString& line);
    void Clear();
    const QStringList& Lines() const { return FLines; }

private:
    friend class IBGate::TLinesForSQL;
    void Changed()
    {
        if (FOnChange)
            FOnChange();
    }
    QStringList FLines;
    std::function<void()> FOnChange;
};

// When its database finds the connection lost, the statement is unprepared
// and its cursor closed without a word to the server; after the database is
// opened again, the next ExecQuery prepares it anew.
//
// Lifetimes. The statement points at its database and transaction (given, or
// found through the other); it owns neither, and each may go first:
// - A cursor lives in the transaction that opened it: ending that transaction
//   closes it (Open() false, Eof() true); the statement stays prepared.
// - Disconnecting the database it was prepared on unprepares it; the next
//   ExecQuery after reconnecting prepares it again.
// - Destroying its transaction closes its cursor there, destroying its
//   database unprepares it; either clears the pointer: Transaction() falls
//   back to the database's default, Database() to the transaction's, and
//   with neither the next ExecQuery raises "Database not assigned" or
//   "Transaction not assigned".
// - Destroying the statement closes its cursor and frees it quietly; its
//   transaction and database only forget it.
// Errors the server raises for a statement carry its text (SQL() of
// EIBInterBaseError).
class TIBSQL : public QObject
{
public:
    enum TStatementType {
        SQLUnknown,
        SQLSelect,
        SQLInsert,
        SQLUpdate,
        SQLDelete,
        SQLDDL,
        SQLGetSegment,
        SQLPutSegment,
        SQLExecProcedure,
        SQLStartTransaction,
        SQLCommit,
        SQLRollback,
        SQLSelectForUpdate,
        SQLSetGenerator
    };

    explicit TIBSQL(QObject* owner = nullptr);
    ~TIBSQL() override;

    TIBSQLLines& SQL() { return FSQL; }
    const TIBSQLLines& SQL() const { return FSQL; }

    // The database defaults to the transaction's, the transaction to the database's.
    TIBDatabase* Database() const;
    void SetDatabase(TIBDatabase* database);
    TIBTransaction* Transaction() const;
    void SetTransaction(TIBTransaction* transaction);

    // ":NAME" parameters are rewritten to "?" when on (the default).
    bool ParamCheck() const { return FParamCheck; }
    void SetParamCheck(bool value);
    bool GoToFirstRecordOnExecute() const { return FGoToFirstRecordOnExecute; }
    void SetGoToFirstRecordOnExecute(bool value) { FGoToFirstRecordOnExecute = value; }

    void Prepare();
    bool Prepared() const;
    TStatementType SQLType() const { return FStatementType; }

    // One parameter per distinct name, in order of first appearance; these
    // prepare the statement when it is not yet.
    int ParamCount();
    TIBXSQLVAR& Params(int index);
    TIBXSQLVAR& ParamByName(const QString& name);

    void ExecQuery();
    // Runs a select of one row at most in a single call to the server, the
    // row coming back with the execute instead of through a cursor: Eof()
    // when there was none, a second row raises (the server's "multiple rows
    // in singleton select"). Other statements run as ExecQuery runs them.
    void ExecSingleton();
    bool Open() const; // a cursor is open
    bool Eof() const { return FEof; }
    bool Bof() const { return FBof; }
    bool Next(); // false at the end
    int RecordCount() const { return FRecordCount; }
    int RowsAffected() const;

    int FieldCount() const { return static_cast<int>(FFields.size()); }
    const TIBXSQLVAR& Fields(int index) const;
    const TIBXSQLVAR& FieldByName(const QString& name) const;
    const TIBXSQLVAR* FindField(const QString& name) const;
    int FieldIndex(const QString& name) const; // -1 when absent

    void Close();
    void FreeHandle();

private:
    // The database, transactions and columns reach these through their
    // gates (IBGates_p.h).
    friend class IBGate::TSQLForDatabase;
    friend class IBGate::TSQLForTransaction;
    friend class IBGate::TSQLForVar;
    struct TPrivate;

    void CheckReady();
    void Unprepare();
    void BindParams();
    void CloseQuietly();
    void FreeHandleQuietly();
    // The attachment is gone: forgets the cursor and the statement without
    // calling the server. Columns and parameters stay readable (as stale
    // values) until the next Prepare.
    void DropLostHandles() noexcept;
    // The current row's buffer; null when there is no row.
    const unsigned char* CurrentRow() const noexcept;
    QByteArray ReadBlob(const void* blobId);
    void ForgetDatabase(const TIBDatabase* database) noexcept
    {
        if (FDatabase == database)
            FDatabase = nullptr;
    }
    void ForgetTransaction(const TIBTransaction* transaction) noexcept
    {
        if (FTransaction == transaction)
            FTransaction = nullptr;
    }

    TIBSQLLines FSQL;
    TIBDatabase* FDatabase = nullptr;
    TIBTransaction* FTransaction = nullptr;
    bool FParamCheck = true;
    bool FGoToFirstRecordOnExecute = true;
    bool FEof = true;
    bool FBof = false;
    int FRecordCount = 0;
    TStatementType FStatementType = SQLUnknown;
    std::unique_ptr<TPrivate> d;
    std::vector<TIBXSQLVAR> FFields;
    std::vector<TIBXSQLVAR> FParams;
};

// The statement text with ":NAME" turned into "?"; `names` gets one entry per
// "?" (empty for a bare "?"). Quoted strings, quoted names and comments stay.
QString IBPreprocessSQL(const QString& sql, QStringList& names);
