#include "IBSQL.h"

#include "IBApi.h"
#include "IBGates_p.h"
#include "SysUtils.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <tuple>

using namespace Firebird;
using IBApi::TQuietStatus;
using IBApi::TRef;
using IBApi::TStatus;
using IBGate::TDatabaseForSQL;
using IBGate::TTransactionForSQL;
using IBGate::TVarForSQL;

namespace {

constexpr int64_t Pow10[] = {1LL,
                             10LL,
                             100LL,
                             1000LL,
                             10000LL,
                             100000LL,
                             1000000LL,
                             10000000LL,
                             100000000LL,
                             1000000000LL,
                             10000000000LL,
                             100000000000LL,
                             1000000000000LL,
                             10000000000000LL,
                             100000000000000LL,
                             1000000000000000LL,
                             10000000000000000LL,
                             100000000000000000LL,
                             1000000000000000000LL};

// Dates travel as days since 17 November 1858 and ten-thousandths of a second.
constexpr int DateOffset = 15018; // 30 December 1899 in those days
constexpr int64_t TicksPerDay = 864000000;

TDateTime DecodeTimestamp(int32_t date, uint32_t time)
{
    const double days = date - DateOffset;
    const double fraction = (time / 10) / 86400000.0; // milliseconds, as the toolkit keeps them
    return days >= 0 ? days + fraction : days - fraction;
}

std::pair<int32_t, uint32_t> EncodeTimestamp(TDateTime value)
{
    double days = std::trunc(value);
    int64_t msec = std::llround(std::fabs(value - days) * 86400000.0);
    if (msec >= 86400000) {
        msec -= 86400000;
        days += value < 0 ? -1 : 1;
    }
    return {static_cast<int32_t>(days) + DateOffset, static_cast<uint32_t>(msec * 10)};
}

// A scaled integer brought to `scale` decimals without a detour through text
// or floating point; rounds half away from zero when decimals are dropped.
int64_t Rescale(int64_t value, int from, int to)
{
    if (from == to)
        return value;
    if (from > to)
        return value * Pow10[std::min(from - to, 18)];
    const int64_t divisor = Pow10[std::min(to - from, 18)];
    const int64_t quotient = value / divisor;
    const int64_t rest = value % divisor;
    if (2 * (rest < 0 ? -rest : rest) >= divisor)
        return quotient + (value < 0 ? -1 : 1);
    return quotient;
}

QString ScaledToStr(int64_t value, int scale)
{
    if (scale >= 0)
        return QString::number(value * Pow10[std::min(scale, 18)]);
    const int decimals = std::min(-scale, 18);
    // Through the unsigned magnitude: INT64_MIN has no positive twin.
    const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    QString digits = QString::number(magnitude);
    if (digits.size() <= decimals)
        digits.prepend(QString(decimals - digits.size() + 1, QLatin1Char('0')));
    digits.insert(digits.size() - decimals, FormatSettings().DecimalSeparator);
    if (value < 0)
        digits.prepend(QLatin1Char('-'));
    return digits;
}

unsigned FixedSize(unsigned type)
{
    switch (type) {
    case SQL_SHORT: return 2;
    case SQL_LONG:
    case SQL_FLOAT:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME: return 4;
    case SQL_BOOLEAN: return 1;
    default: return 8;
    }
}

bool IsText(unsigned type) { return type == SQL_TEXT || type == SQL_VARYING; }

bool IsIdentChar(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$'); }

constexpr unsigned MaxVarchar = 32765;

} // namespace

// ----------------------------------------------------------- IBPreprocessSQL

QString IBPreprocessSQL(const QString& sql, QStringList& names)
{
    QString out;
    out.reserve(sql.size());
    names.clear();
    const qsizetype n = sql.size();
    qsizetype i = 0;
    auto copyUntil = [&](qsizetype end) {
        out += QStringView(sql).mid(i, end - i);
        i = end;
    };
    while (i < n) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            const qsizetype close = sql.indexOf(c, i + 1);
            copyUntil(close < 0 ? n : close + 1);
        } else if (c == QLatin1Char('-') && i + 1 < n && sql[i + 1] == QLatin1Char('-')) {
            const qsizetype eol = sql.indexOf(QLatin1Char('\n'), i);
            copyUntil(eol < 0 ? n : eol + 1);
        } else if (c == QLatin1Char('/') && i + 1 < n && sql[i + 1] == QLatin1Char('*')) {
            const qsizetype close = sql.indexOf(QLatin1String("*/"), i + 2);
            copyUntil(close < 0 ? n : close + 2);
        } else if (c == QLatin1Char('?')) {
            names.append(QString());
            out += c;
            ++i;
        } else if (c == QLatin1Char(':') && i + 1 < n && sql[i + 1] == QLatin1Char('"')) {
            const qsizetype close = sql.indexOf(QLatin1Char('"'), i + 2);
            const qsizetype end = close < 0 ? n : close;
            names.append(sql.mid(i + 2, end - i - 2));
            out += QLatin1Char('?');
            i = close < 0 ? n : close + 1;
        } else if (c == QLatin1Char(':') && i + 1 < n && IsIdentChar(sql[i + 1])) {
            qsizetype end = i + 1;
            while (end < n && IsIdentChar(sql[end]))
                ++end;
            names.append(sql.mid(i + 1, end - i - 1).toUpper());
            out += QLatin1Char('?');
            i = end;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

// --------------------------------------------------------------- TIBSQLLines

QString TIBSQLLines::Text() const { return FLines.join(QLatin1Char('\n')); }

void TIBSQLLines::SetText(const QString& text)
{
    FLines = text.split(QLatin1Char('\n'));
    for (QString& line : FLines)
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    if (text.isEmpty())
        FLines.clear();
    Changed();
}

void TIBSQLLines::Add(const QString& line)
{
    FLines.append(line);
    Changed();
}

void TIBSQLLines::Insert(int index, const QString& line)
{
    FLines.insert(index, line);
    Changed();
}

void TIBSQLLines::SetLine(int index, const QString& line)
{
    FLines[index] = line;
    Changed();
}

void TIBSQLLines::Clear()
{
    FLines.clear();
    Changed();
}

// -------------------------------------------------------------------- TIBSQL

struct TIBSQL::TPrivate
{
    TStatus Status;
    TRef<IStatement> Statement;
    TRef<IResultSet> Cursor;
    TRef<IMessageMetadata> OutMeta;
    TRef<IMessageMetadata> InDescribed;
    TRef<IMessageMetadata> InMeta;
    unsigned Flags = 0;
    std::vector<unsigned char> Row;
    bool HasRow = false;
    // The input message as last laid out.
    using TSlot = std::tuple<unsigned, int, int, unsigned, unsigned>; // type, subtype, scale, length, charset
    std::vector<TSlot> InLayout;
    std::vector<unsigned> InOffsets, InNullOffsets;
    std::vector<unsigned char> InBuffer;
    // Where handles live, to be told when those go away.
    TIBDatabase* StatementDatabase = nullptr;
    TIBTransaction* CursorTransaction = nullptr;
};

TIBSQL::TIBSQL(QObject* owner) : QObject(owner), d(std::make_unique<TPrivate>())
{
    d->Status.OnConnectionLost = [this] {
        if (TIBDatabase* database = d->StatementDatabase ? d->StatementDatabase : Database())
            TDatabaseForSQL(*database).ConnectionLost();
    };
    d->Status.StatementText = [this] { return FSQL.Text(); };
    IBGate::TLinesForSQL(FSQL).SetOnChange([this] { FreeHandle(); });
}

TIBSQL::~TIBSQL()
{
    FreeHandleQuietly();
    if (FTransaction)
        TTransactionForSQL(*FTransaction).RemoveSQL(this);
    if (FDatabase)
        TDatabaseForSQL(*FDatabase).RemoveSQL(this);
}

TIBDatabase* TIBSQL::Database() const
{
    if (FDatabase)
        return FDatabase;
    return FTransaction ? FTransaction->DefaultDatabase() : nullptr;
}

TIBTransaction* TIBSQL::Transaction() const
{
    if (FTransaction)
        return FTransaction;
    return FDatabase ? FDatabase->DefaultTransaction() : nullptr;
}

void TIBSQL::SetDatabase(TIBDatabase* database)
{
    if (database == FDatabase)
        return;
    FreeHandle();
    if (FDatabase && FDatabase != d->StatementDatabase)
        TDatabaseForSQL(*FDatabase).RemoveSQL(this);
    FDatabase = database;
    if (database)
        TDatabaseForSQL(*database).AddSQL(this);
}

void TIBSQL::SetTransaction(TIBTransaction* transaction)
{
    if (transaction == FTransaction)
        return;
    Close();
    if (FTransaction)
        TTransactionForSQL(*FTransaction).RemoveSQL(this);
    FTransaction = transaction;
    if (transaction)
        TTransactionForSQL(*transaction).AddSQL(this);
}

void TIBSQL::SetParamCheck(bool value)
{
    if (value != FParamCheck) {
        FreeHandle();
        FParamCheck = value;
    }
}

bool TIBSQL::Prepared() const { return static_cast<bool>(d->Statement); }

bool TIBSQL::Open() const { return static_cast<bool>(d->Cursor); }

void TIBSQL::CheckReady()
{
    TIBDatabase* database = Database();
    if (!database)
        IBClientError(IBMessages::DatabaseNotAssigned);
    if (!database->Connected())
        TDatabaseForSQL(*database).RaiseNotConnected();
    TIBTransaction* transaction = Transaction();
    if (!transaction)
        IBClientError(IBMessages::TransactionNotAssigned);
    if (!transaction->InTransaction())
        IBClientError(IBMessages::NotInTransaction);
}

void TIBSQL::Prepare()
{
    CheckReady();
    if (Prepared())
        return;
    const QString text = FSQL.Text();
    if (text.trimmed().isEmpty())
        IBClientError(IBMessages::EmptyQuery);

    TIBDatabase* database = Database();
    QStringList names;
    const QString processed = FParamCheck ? IBPreprocessSQL(text, names) : text;
    const QByteArray bytes = database->Charset().Encode(processed);
    TStatus& status = d->Status;
    try {
        d->Statement.reset(database->Handle()->prepare(&status, Transaction()->Handle(), bytes.size(),
                                                       bytes.constData(), database->SQLDialect(),
                                                       IStatement::PREPARE_PREFETCH_METADATA));
        d->StatementDatabase = database;
        TDatabaseForSQL(*database).AddSQL(this);
        FStatementType = static_cast<TStatementType>(d->Statement->getType(&status));
        d->Flags = d->Statement->getFlags(&status);

        d->OutMeta.reset(d->Statement->getOutputMetadata(&status));
        IMessageMetadata* out = d->OutMeta.get();
        const unsigned columns = out->getCount(&status);
        d->Row.assign(out->getMessageLength(&status), 0);
        FFields.resize(columns);
        for (unsigned i = 0; i < columns; ++i)
            TVarForSQL(FFields[i]).DescribeColumn(this, static_cast<int>(i), out, i, status);

        d->InDescribed.reset(d->Statement->getInputMetadata(&status));
        IMessageMetadata* in = d->InDescribed.get();
        const unsigned count = in->getCount(&status);
        if (static_cast<unsigned>(names.size()) != count)
            names = QStringList(static_cast<qsizetype>(count), QString());
        FParams.clear();
        for (unsigned pos = 0; pos < count; ++pos) {
            const QString& name = names[pos];
            auto same = std::find_if(FParams.begin(), FParams.end(),
                                     [&](const TIBXSQLVAR& p) { return !name.isEmpty() && p.Name() == name; });
            if (same != FParams.end()) {
                TVarForSQL(*same).AddPosition(pos);
                continue;
            }
            TIBXSQLVAR& param = FParams.emplace_back();
            TVarForSQL(param).DescribeParam(this, static_cast<int>(FParams.size() - 1), name, in, pos, status);
        }
    } catch (...) {
        Unprepare();
        throw;
    }
}

int TIBSQL::ParamCount()
{
    if (!Prepared())
        Prepare();
    return static_cast<int>(FParams.size());
}

TIBXSQLVAR& TIBSQL::Params(int index)
{
    if (!Prepared())
        Prepare();
    if (index < 0 || index >= ParamCount())
        throw EIBClientError(QStringLiteral("Parameter index %1 out of range").arg(index));
    return FParams[index];
}

TIBXSQLVAR& TIBSQL::ParamByName(const QString& name)
{
    if (!Prepared())
        Prepare();
    for (TIBXSQLVAR& param : FParams)
        if (param.Name() == name)
            return param;
    for (TIBXSQLVAR& param : FParams)
        if (param.Name().compare(name, Qt::CaseInsensitive) == 0)
            return param;
    IBClientError(IBMessages::ParamNotFound, name);
}

const TIBXSQLVAR& TIBSQL::Fields(int index) const
{
    if (index < 0 || index >= FieldCount())
        throw EIBClientError(QStringLiteral("Field index %1 out of range").arg(index));
    return FFields[index];
}

int TIBSQL::FieldIndex(const QString& name) const
{
    for (const TIBXSQLVAR& field : FFields)
        if (field.Name() == name)
            return field.Index();
    for (const TIBXSQLVAR& field : FFields)
        if (field.Name().compare(name, Qt::CaseInsensitive) == 0)
            return field.Index();
    return -1;
}

const TIBXSQLVAR* TIBSQL::FindField(const QString& name) const
{
    const int index = FieldIndex(name);
    return index < 0 ? nullptr : &FFields[index];
}

const TIBXSQLVAR& TIBSQL::FieldByName(const QString& name) const
{
    const TIBXSQLVAR* field = FindField(name);
    if (!field)
        IBClientError(IBMessages::FieldNotFound, name);
    return *field;
}

void TIBSQL::BindParams()
{
    TStatus& status = d->Status;
    IMessageMetadata* described = d->InDescribed.get();
    const unsigned count = described->getCount(&status);
    if (count == 0)
        return;

    // The message carries each value in its own type; the server converts.
    std::vector<TPrivate::TSlot> layout(count);
    for (TIBXSQLVAR& param : FParams) {
        const auto binding = TVarForSQL(param).Binding();
        const TPrivate::TSlot slot{binding.Type, binding.SubType, binding.Scale, binding.Length, binding.CharSet};
        for (unsigned pos : binding.Positions)
            layout[pos] = slot;
    }

    if (layout != d->InLayout || !d->InMeta) {
        TRef<IMetadataBuilder> builder(described->getBuilder(&status));
        for (unsigned pos = 0; pos < count; ++pos) {
            const auto& [type, subType, scale, length, charSet] = layout[pos];
            builder->setType(&status, pos, type);
            builder->setSubType(&status, pos, subType);
            builder->setLength(&status, pos, length);
            builder->setScale(&status, pos, scale);
            builder->setCharSet(&status, pos, charSet);
        }
        d->InMeta.reset(builder->getMetadata(&status));
        d->InLayout = layout;
        d->InOffsets.resize(count);
        d->InNullOffsets.resize(count);
        for (unsigned pos = 0; pos < count; ++pos) {
            d->InOffsets[pos] = d->InMeta->getOffset(&status, pos);
            d->InNullOffsets[pos] = d->InMeta->getNullOffset(&status, pos);
        }
        d->InBuffer.assign(d->InMeta->getMessageLength(&status), 0);
    }

    unsigned char* buffer = d->InBuffer.data();
    for (TIBXSQLVAR& param : FParams) {
        const auto binding = TVarForSQL(param).Binding();
        const bool null = binding.Null;
        QByteArray blobId;
        if (!null && binding.Type == SQL_BLOB) {
            // Blob values go first into a blob of their own.
            ISC_QUAD id{};
            const bool text = binding.TextBlob;
            const unsigned char bpb[] = {isc_bpb_version1,
                                         isc_bpb_target_type,
                                         1,
                                         1,
                                         isc_bpb_target_interp,
                                         1,
                                         static_cast<unsigned char>(binding.CharSet)};
            TRef<IBlob> blob(Database()->Handle()->createBlob(&status, Transaction()->Handle(), &id,
                                                              text ? sizeof bpb : 0, text ? bpb : nullptr));
            const char* data = binding.Bytes.constData();
            for (qsizetype done = 0, size = binding.Bytes.size(); done < size;) {
                const unsigned chunk = static_cast<unsigned>(std::min<qsizetype>(size - done, 32768));
                blob->putSegment(&status, chunk, data + done);
                done += chunk;
            }
            blob->close(&status);
            blob.abandon();
            blobId = QByteArray(reinterpret_cast<const char*>(&id), sizeof id);
        }
        for (unsigned pos : binding.Positions) {
            const int16_t flag = null ? -1 : 0;
            std::memcpy(buffer + d->InNullOffsets[pos], &flag, sizeof flag);
            if (null)
                continue;
            const QByteArray& value = blobId.isNull() ? binding.Bytes : blobId;
            std::memcpy(buffer + d->InOffsets[pos], value.constData(), value.size());
        }
    }
}

void TIBSQL::ExecQuery()
{
    CheckReady();
    if (!Prepared())
        Prepare();
    Close();
    BindParams();

    TStatus& status = d->Status;
    TIBTransaction* transaction = Transaction();
    IMessageMetadata* in = d->InMeta.get();
    unsigned char* inBuffer = in ? d->InBuffer.data() : nullptr;
    FRecordCount = 0;
    FBof = true;
    FEof = false;
    d->HasRow = false;
    if (d->Flags & IStatement::FLAG_HAS_CURSOR) {
        d->Cursor.reset(d->Statement->openCursor(&status, transaction->Handle(), in, inBuffer, d->OutMeta.get(), 0));
        d->CursorTransaction = transaction;
        TTransactionForSQL(*transaction).AddSQL(this);
        if (FGoToFirstRecordOnExecute)
            Next();
    } else {
        const bool output = !FFields.empty();
        d->Statement->execute(&status, transaction->Handle(), in, inBuffer, output ? d->OutMeta.get() : nullptr,
                              output ? d->Row.data() : nullptr);
        d->HasRow = output;
        FEof = !output;
    }
}

void TIBSQL::ExecSingleton()
{
    CheckReady();
    if (!Prepared())
        Prepare();
    if (!(d->Flags & IStatement::FLAG_HAS_CURSOR) || FFields.empty()) {
        ExecQuery();
        return;
    }
    Close();
    BindParams();

    TStatus& status = d->Status;
    IMessageMetadata* in = d->InMeta.get();
    FRecordCount = 0;
    FBof = true;
    FEof = true;
    d->HasRow = false;
    try {
        d->Statement->execute(&status, Transaction()->Handle(), in, in ? d->InBuffer.data() : nullptr, d->OutMeta.get(),
                              d->Row.data());
    } catch (const EIBInterBaseError& error) {
        if (!error.HasCode(isc_stream_eof))
            throw;
        return; // no row
    }
    FEof = false;
    FRecordCount = 1;
    d->HasRow = true;
}

bool TIBSQL::Next()
{
    if (!d->Cursor)
        IBClientError(IBMessages::CursorNotOpen);
    if (FEof)
        return false;
    int result;
    try {
        result = d->Cursor->fetchNext(&d->Status, d->Row.data());
    } catch (...) {
        CloseQuietly(); // the cursor is of no further use
        throw;
    }
    if (result == IStatus::RESULT_OK) {
        FBof = FRecordCount == 0;
        ++FRecordCount;
        d->HasRow = true;
        return true;
    }
    FEof = true;
    return false;
}

int TIBSQL::RowsAffected() const
{
    if (!d->Statement)
        return -1;
    return static_cast<int>(d->Statement->getAffectedRecords(&d->Status));
}

void TIBSQL::Close()
{
    FEof = true;
    d->HasRow = false;
    if (d->Cursor) {
        TIBTransaction* transaction = std::exchange(d->CursorTransaction, nullptr);
        if (transaction && transaction != FTransaction)
            TTransactionForSQL(*transaction).RemoveSQL(this);
        try {
            d->Cursor->close(&d->Status);
            d->Cursor.abandon();
        } catch (...) {
            d->Cursor.reset();
            throw;
        }
    }
}

void TIBSQL::CloseQuietly()
{
    try {
        Close();
    } catch (const EIBError&) {
        // the handle is gone all the same
    }
}

void TIBSQL::Unprepare()
{
    d->InMeta.reset();
    d->InDescribed.reset();
    d->OutMeta.reset();
    d->InLayout.clear();
    if (d->Statement) {
        TQuietStatus status;
        d->Statement->free(&status);
        if (status.Failed())
            d->Statement.reset();
        else
            d->Statement.abandon();
    }
    TIBDatabase* database = std::exchange(d->StatementDatabase, nullptr);
    if (database && database != FDatabase)
        TDatabaseForSQL(*database).RemoveSQL(this);
    FFields.clear();
    FParams.clear();
    FStatementType = SQLUnknown;
}

void TIBSQL::FreeHandle()
{
    Close();
    Unprepare();
}

void TIBSQL::FreeHandleQuietly()
{
    CloseQuietly();
    Unprepare();
}

void TIBSQL::DropLostHandles() noexcept
{
    FEof = true;
    d->HasRow = false;
    d->Cursor.reset();
    if (TIBTransaction* transaction = std::exchange(d->CursorTransaction, nullptr);
        transaction && transaction != FTransaction)
        TTransactionForSQL(*transaction).RemoveSQL(this);
    d->Statement.reset();
    d->InMeta.reset();
    d->InDescribed.reset();
    d->OutMeta.reset();
    d->InLayout.clear();
    if (TIBDatabase* database = std::exchange(d->StatementDatabase, nullptr); database && database != FDatabase)
        TDatabaseForSQL(*database).RemoveSQL(this);
}

const unsigned char* TIBSQL::CurrentRow() const noexcept { return d->HasRow ? d->Row.data() : nullptr; }

QByteArray TIBSQL::ReadBlob(const void* blobId)
{
    TIBTransaction* transaction = d->CursorTransaction ? d->CursorTransaction : Transaction();
    if (!transaction || !transaction->InTransaction())
        IBClientError(IBMessages::NotInTransaction);
    TStatus& status = d->Status;
    ISC_QUAD id;
    std::memcpy(&id, blobId, sizeof id);
    TRef<IBlob> blob(Database()->Handle()->openBlob(&status, transaction->Handle(), &id, 0, nullptr));
    QByteArray result;
    char chunk[32768];
    for (;;) {
        unsigned length = 0;
        const int rc = blob->getSegment(&status, sizeof chunk, chunk, &length);
        if (rc != IStatus::RESULT_OK && rc != IStatus::RESULT_SEGMENT)
            break;
        result.append(chunk, length);
    }
    blob->close(&status);
    blob.abandon();
    return result;
}

// ---------------------------------------------------------------- TIBXSQLVAR

void TIBXSQLVAR::DescribeColumn(TIBSQL* owner, int index, IMessageMetadata* meta, unsigned pos, TStatus& status)
{
    FOwner = owner;
    FIndex = index;
    FSQLType = meta->getType(&status, pos);
    FSubType = meta->getSubType(&status, pos);
    FScale = meta->getScale(&status, pos);
    FLength = meta->getLength(&status, pos);
    FCharSet = meta->getCharSet(&status, pos) & 0xFF;
    FNullable = meta->isNullable(&status, pos);
    FOffset = meta->getOffset(&status, pos);
    FNullOffset = meta->getNullOffset(&status, pos);
    FRelationName = QString::fromUtf8(meta->getRelation(&status, pos));
    FSqlName = QString::fromUtf8(meta->getField(&status, pos));
    FAliasName = QString::fromUtf8(meta->getAlias(&status, pos));
    FOwnerName = QString::fromUtf8(meta->getOwner(&status, pos));
    FName = FAliasName.isEmpty() ? FSqlName : FAliasName;
}

void TIBXSQLVAR::DescribeParam(TIBSQL* owner, int index, const QString& name, IMessageMetadata* meta, unsigned pos,
                               TStatus& status)
{
    FOwner = owner;
    FIsParam = true;
    FIndex = index;
    FName = name;
    FSQLType = meta->getType(&status, pos);
    FSubType = meta->getSubType(&status, pos);
    FScale = meta->getScale(&status, pos);
    FLength = meta->getLength(&status, pos);
    FCharSet = meta->getCharSet(&status, pos) & 0xFF;
    FNullable = true;
    FPositions.push_back(pos);
}

TIBXSQLVAR::TBinding TIBXSQLVAR::Binding() const
{
    if (FParamNull || FValueType == 0)
        return {true, FSQLType, FSubType, FScale, FLength, FCharSet, false, FValue, FPositions};
    switch (FValueType) {
    case SQL_BLOB: {
        const bool text = FValueCharSet != IBApi::csOctets && (FSQLType != SQL_BLOB || FSubType == isc_blob_text);
        return {false, SQL_BLOB, FSQLType == SQL_BLOB ? FSubType : 0, 0, 8, FValueCharSet, text, FValue, FPositions};
    }
    case SQL_VARYING:
        return {false,         SQL_VARYING, 0,      0,         std::max<unsigned>(1, FValue.size() - 2),
                FValueCharSet, false,       FValue, FPositions};
    case SQL_TEXT:
        return {false, SQL_TEXT, 0, 0, std::max<unsigned>(1, FValue.size()), FValueCharSet, false, FValue, FPositions};
    default: return {false, FValueType, 0, FValueScale, FixedSize(FValueType), 0, false, FValue, FPositions};
    }
}

int TIBXSQLVAR::Size() const
{
    if (IsText(FSQLType))
        return static_cast<int>(FLength) / IBApi::TCharset::BytesPerChar(FCharSet);
    return static_cast<int>(FLength);
}

TIBXSQLVAR::TValue TIBXSQLVAR::Value() const
{
    TValue value;
    if (FIsParam) {
        value.Type = FValueType;
        value.Scale = FValueScale;
        value.CharSet = FValueCharSet;
        value.Length = static_cast<unsigned>(FValue.size());
        value.Data = reinterpret_cast<const unsigned char*>(FValue.constData());
        value.Null = FParamNull || FValueType == 0;
        return value;
    }
    value.Type = FSQLType;
    value.Scale = FScale;
    value.CharSet = FCharSet;
    value.Length = FLength;
    const unsigned char* row = IBGate::TSQLForVar(*FOwner).CurrentRow();
    if (!row)
        return value;
    value.Data = row + FOffset;
    int16_t flag;
    std::memcpy(&flag, row + FNullOffset, sizeof flag);
    value.Null = flag != 0;
    return value;
}

bool TIBXSQLVAR::IsNull() const { return Value().Null; }

QByteArray TIBXSQLVAR::ReadBlob(const TValue& value) const
{
    if (FIsParam) // a parameter keeps the blob's content itself
        return FValue;
    return IBGate::TSQLForVar(*FOwner).ReadBlob(value.Data);
}

QString TIBXSQLVAR::DecodeText(const TValue& value, const char* data, qsizetype length) const
{
    const IBApi::TCharset& charset = FOwner->Database()->Charset();
    QString text = charset.Decode(value.CharSet, data, length);
    // CHAR in a multi-byte set comes padded to its byte length.
    if (value.Type == SQL_TEXT && !FIsParam) {
        const int chars = Size();
        if (text.size() > chars)
            text.truncate(chars);
    }
    return text;
}

namespace {

template <class T>
T Load(const unsigned char* data)
{
    T result;
    std::memcpy(&result, data, sizeof result);
    return result;
}

bool LoadInteger(unsigned type, const unsigned char* data, int64_t& result)
{
    switch (type) {
    case SQL_SHORT: result = Load<int16_t>(data); return true;
    case SQL_LONG: result = Load<int32_t>(data); return true;
    case SQL_INT64: result = Load<int64_t>(data); return true;
    default: return false;
    }
}

} // namespace

QString TIBXSQLVAR::AsString() const
{
    const TValue v = Value();
    if (v.Null)
        return QString();
    int64_t integer;
    if (LoadInteger(v.Type, v.Data, integer))
        return ScaledToStr(integer, v.Scale);
    switch (v.Type) {
    case SQL_TEXT: return DecodeText(v, reinterpret_cast<const char*>(v.Data), v.Length);
    case SQL_VARYING: return DecodeText(v, reinterpret_cast<const char*>(v.Data) + 2, Load<uint16_t>(v.Data));
    case SQL_FLOAT: return FloatToStr(Load<float>(v.Data));
    case SQL_DOUBLE:
    case SQL_D_FLOAT: return FloatToStr(Load<double>(v.Data));
    case SQL_TIMESTAMP: return DateTimeToStr(AsDateTime());
    case SQL_TYPE_DATE: return DateToStr(AsDateTime());
    case SQL_TYPE_TIME: return TimeToStr(AsDateTime());
    case SQL_BOOLEAN: return *v.Data ? QStringLiteral("True") : QStringLiteral("False");
    case SQL_BLOB: {
        const QByteArray bytes = ReadBlob(v);
        const unsigned subType = FIsParam ? (FSQLType == SQL_BLOB ? FSubType : 1) : FSubType;
        if (subType != isc_blob_text)
            return QString::fromLatin1(bytes);
        return FOwner->Database()->Charset().Decode(v.CharSet, bytes.constData(), bytes.size());
    }
    default: throw EIBClientError(QStringLiteral("Unsupported data type %1").arg(v.Type));
    }
}

int64_t TIBXSQLVAR::AsInt64() const
{
    const TValue v = Value();
    if (v.Null)
        return 0;
    int64_t integer;
    if (LoadInteger(v.Type, v.Data, integer))
        return Rescale(integer, v.Scale, 0);
    switch (v.Type) {
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME: {
        const double value = AsDouble();
        if (!(std::fabs(value) < 9.2e18))
            throw EConvertError(QStringLiteral("Integer overflow"));
        return std::llround(value);
    }
    case SQL_BOOLEAN: return *v.Data ? 1 : 0;
    default: return StrToInt64(AsString().trimmed());
    }
}

int32_t TIBXSQLVAR::AsInteger() const
{
    const int64_t value = AsInt64();
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        throw EConvertError(QStringLiteral("Integer overflow"));
    return static_cast<int32_t>(value);
}

double TIBXSQLVAR::AsDouble() const
{
    const TValue v = Value();
    if (v.Null)
        return 0;
    int64_t integer;
    if (LoadInteger(v.Type, v.Data, integer)) {
        if (v.Scale < 0)
            return static_cast<double>(integer) / static_cast<double>(Pow10[std::min(-v.Scale, 18)]);
        return static_cast<double>(integer) * static_cast<double>(Pow10[std::min(v.Scale, 18)]);
    }
    switch (v.Type) {
    case SQL_FLOAT: return Load<float>(v.Data);
    case SQL_DOUBLE:
    case SQL_D_FLOAT: return Load<double>(v.Data);
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME: return AsDateTime();
    case SQL_BOOLEAN: return *v.Data ? 1 : 0;
    default: return StrToFloat(AsString().trimmed());
    }
}

TCurrency TIBXSQLVAR::AsCurrency() const
{
    const TValue v = Value();
    if (v.Null)
        return {};
    int64_t integer;
    if (LoadInteger(v.Type, v.Data, integer))
        return TCurrency{Rescale(integer, v.Scale, -4)};
    return TCurrency::FromDouble(AsDouble());
}

TDateTime TIBXSQLVAR::AsDateTime() const
{
    const TValue v = Value();
    if (v.Null)
        return 0;
    switch (v.Type) {
    case SQL_TIMESTAMP: return DecodeTimestamp(Load<int32_t>(v.Data), Load<uint32_t>(v.Data + 4));
    case SQL_TYPE_DATE: return DecodeTimestamp(Load<int32_t>(v.Data), 0);
    case SQL_TYPE_TIME: return DecodeTimestamp(DateOffset, Load<uint32_t>(v.Data));
    case SQL_TEXT:
    case SQL_VARYING:
    case SQL_BLOB: return StrToDateTime(AsString().trimmed());
    default: return AsDouble();
    }
}

QByteArray TIBXSQLVAR::AsBytes() const
{
    const TValue v = Value();
    if (v.Null)
        return QByteArray();
    switch (v.Type) {
    case SQL_TEXT: return QByteArray(reinterpret_cast<const char*>(v.Data), v.Length);
    case SQL_VARYING: return QByteArray(reinterpret_cast<const char*>(v.Data) + 2, Load<uint16_t>(v.Data));
    case SQL_BLOB: return ReadBlob(v);
    default: return FOwner->Database()->Charset().Encode(AsString());
    }
}

Variant TIBXSQLVAR::AsVariant() const
{
    const TValue v = Value();
    if (v.Null)
        return Variant::Null();
    int64_t integer;
    if (LoadInteger(v.Type, v.Data, integer)) {
        if (v.Scale == 0)
            return v.Type == SQL_INT64 ? Variant(integer) : Variant(static_cast<int>(integer));
        if (v.Scale >= -4)
            return Variant(TCurrency{Rescale(integer, v.Scale, -4)});
        return Variant(AsDouble());
    }
    switch (v.Type) {
    case SQL_TEXT:
    case SQL_VARYING:
        if (v.CharSet == IBApi::csOctets)
            return Variant(AsBytes());
        return Variant(AsString());
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT: return Variant(AsDouble());
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME: return Variant::FromDateTime(AsDateTime());
    case SQL_BOOLEAN: return Variant(*v.Data != 0);
    case SQL_BLOB: {
        const unsigned subType = FIsParam ? (FSQLType == SQL_BLOB ? FSubType : 1) : FSubType;
        if (subType == isc_blob_text && v.CharSet != IBApi::csOctets)
            return Variant(AsString());
        return Variant(AsBytes());
    }
    default: throw EIBClientError(QStringLiteral("Unsupported data type %1").arg(v.Type));
    }
}

void TIBXSQLVAR::SetValue(unsigned type, int scale, unsigned charSet, const void* data, unsigned length)
{
    if (!FIsParam)
        throw EIBClientError(QStringLiteral("Cannot assign to a column"));
    FValueType = type;
    FValueScale = scale;
    FValueCharSet = charSet;
    FValue = QByteArray(static_cast<const char*>(data), length);
    FParamNull = false;
}

void TIBXSQLVAR::SetIsNull(bool value)
{
    if (!FIsParam)
        throw EIBClientError(QStringLiteral("Cannot assign to a column"));
    if (!value && FValueType == 0)
        SetAsString(QString());
    FParamNull = value;
}

void TIBXSQLVAR::SetAsString(const QString& value)
{
    const IBApi::TCharset& charset = FOwner->Database()->Charset();
    const QByteArray bytes = charset.Encode(value);
    if (FSQLType == SQL_BLOB) {
        SetValue(SQL_BLOB, 0, charset.Id(), bytes.constData(), bytes.size());
        return;
    }
    if (static_cast<unsigned>(bytes.size()) > MaxVarchar)
        throw EIBClientError(QStringLiteral("String is too long for parameter \"%1\"").arg(FName));
    QByteArray varying(2 + bytes.size(), Qt::Uninitialized);
    const uint16_t length = static_cast<uint16_t>(bytes.size());
    std::memcpy(varying.data(), &length, 2);
    std::memcpy(varying.data() + 2, bytes.constData(), bytes.size());
    SetValue(SQL_VARYING, 0, charset.Id(), varying.constData(), varying.size());
}

void TIBXSQLVAR::SetAsInteger(int32_t value) { SetValue(SQL_LONG, 0, 0, &value, sizeof value); }

void TIBXSQLVAR::SetAsInt64(int64_t value) { SetValue(SQL_INT64, 0, 0, &value, sizeof value); }

void TIBXSQLVAR::SetAsDouble(double value) { SetValue(SQL_DOUBLE, 0, 0, &value, sizeof value); }

void TIBXSQLVAR::SetAsCurrency(TCurrency value) { SetValue(SQL_INT64, -4, 0, &value.Scaled, sizeof value.Scaled); }

void TIBXSQLVAR::SetAsDateTime(TDateTime value)
{
    const auto [date, time] = EncodeTimestamp(value);
    unsigned char data[8];
    std::memcpy(data, &date, 4);
    std::memcpy(data + 4, &time, 4);
    SetValue(SQL_TIMESTAMP, 0, 0, data, sizeof data);
}

void TIBXSQLVAR::SetAsBytes(const QByteArray& value)
{
    if (FSQLType == SQL_BLOB) {
        SetValue(SQL_BLOB, 0, IBApi::csOctets, value.constData(), value.size());
        return;
    }
    if (static_cast<unsigned>(value.size()) > MaxVarchar)
        throw EIBClientError(QStringLiteral("String is too long for parameter \"%1\"").arg(FName));
    SetValue(SQL_TEXT, 0, IBApi::csOctets, value.constData(), value.size());
}

void TIBXSQLVAR::SetAsVariant(const Variant& value)
{
    switch (value.VarType()) {
    case varEmpty:
    case varNull: SetIsNull(true); break;
    case varBoolean: SetAsInteger(value.AsBoolean() ? 1 : 0); break;
    case varInteger: SetAsInteger(value.AsInteger()); break;
    case varInt64: SetAsInt64(value.AsInt64()); break;
    case varDouble: SetAsDouble(value.AsDouble()); break;
    case varCurrency: SetAsCurrency(value.AsCurrency()); break;
    case varDate: SetAsDateTime(value.AsDateTime()); break;
    case varString: SetAsString(value.AsString()); break;
    case varBytes: SetAsBytes(value.AsBytes()); break;
    case varArray: throw EIBClientError(QStringLiteral("An array cannot be a parameter value"));
    }
}
