#include "IBTestDatabase.h"

#include "IBSQL.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <stdexcept>
#include <unistd.h>

void TIBTestDatabase::PrepareEngine()
{
    static const bool done = [] {
        // The engine's default lock folder (/tmp/firebird) belongs to whoever
        // made it first; one per user keeps tests runnable by anyone.
        if (!qEnvironmentVariableIsSet("FIREBIRD_LOCK")) {
            const QString lock = QDir::tempPath() + QStringLiteral("/firebird-lock-%1").arg(getuid());
            QDir().mkpath(lock);
            qputenv("FIREBIRD_LOCK", QFile::encodeName(lock));
        }
        // A root folder that also loads our UDR modules (the session functions).
        if (!qEnvironmentVariableIsSet("FIREBIRD"))
            qputenv("FIREBIRD", FIREBIRD_ROOT);
        return true;
    }();
    (void)done;
}

TIBTestDatabase::TIBTestDatabase(const QString& charset) : FCharset(charset)
{
    PrepareEngine();
    if (!FDir.isValid())
        throw std::runtime_error("cannot create a temporary folder");
    FPath = FDir.filePath(QStringLiteral("test.fdb"));
    FDatabase = std::make_unique<TIBDatabase>();
    FDatabase->SetDatabaseName(FPath);
    FDatabase->SetParams(ConnectParams());
    FDatabase->CreateDatabase();
}

TIBTestDatabase::~TIBTestDatabase()
{
    FDatabase.reset(); // detaches; the folder goes with FDir
}

QStringList TIBTestDatabase::ConnectParams() const
{
    return {QStringLiteral("user_name=SYSDBA"), QStringLiteral("lc_ctype=") + FCharset};
}

QString TIBTestDatabase::ServerName() { return qEnvironmentVariable("FB_SERVER"); }

QString TIBTestDatabase::ServerPassword()
{
    return qEnvironmentVariableIsSet("FB_PASSWORD") ? qEnvironmentVariable("FB_PASSWORD") : QStringLiteral("masterkey");
}

QStringList TIBTestDatabase::ServerParams()
{
    return {QStringLiteral("user_name=SYSDBA"), QStringLiteral("password=") + ServerPassword(),
            QStringLiteral("lc_ctype=WIN1251")};
}

QString TIBTestDatabase::CreateOnServer(const QString& path, const QString& script)
{
    const QString name = ServerName() + QLatin1Char(':') + path;
    TIBDatabase creator;
    creator.SetDatabaseName(name);
    creator.SetParams(ServerParams());
    creator.CreateDatabase();
    QFile framework(QStringLiteral(FRAMEWORK_SQL));
    if (!framework.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " FRAMEWORK_SQL);
    for (const QString& statement : SplitScript(QString::fromUtf8(framework.readAll()) + QLatin1Char('\n') + script))
        ExecuteOn(creator, statement);
    return name;
}

void TIBTestDatabase::DropOnServer(const QString& name)
{
    TIBDatabase dropper;
    dropper.SetDatabaseName(name);
    dropper.SetParams(ServerParams());
    dropper.Open();
    dropper.DropDatabase();
}

std::unique_ptr<TIBDatabase> TIBTestDatabase::Connect(const QString& charset) const
{
    auto database = std::make_unique<TIBDatabase>();
    database->SetDatabaseName(FPath);
    database->SetParams(
        {QStringLiteral("user_name=SYSDBA"), QStringLiteral("lc_ctype=") + (charset.isEmpty() ? FCharset : charset)});
    database->Open();
    return database;
}

void TIBTestDatabase::Execute(const QString& sql) { ExecuteOn(*FDatabase, sql); }

void TIBTestDatabase::ExecuteOn(TIBDatabase& database, const QString& sql)
{
    TIBTransaction transaction;
    transaction.SetDefaultDatabase(&database);
    transaction.StartTransaction();
    TIBSQL statement;
    statement.SetTransaction(&transaction);
    // Nothing here binds parameters: ":NAME" is PSQL's own (a procedure's variable).
    statement.SetParamCheck(false);
    statement.SQL().SetText(sql);
    statement.ExecQuery();
    statement.Close();
    transaction.Commit();
}

QStringList TIBTestDatabase::Rows(TIBDatabase& database, const QString& sql)
{
    TIBTransaction transaction;
    transaction.SetDefaultDatabase(&database);
    transaction.StartTransaction();
    TIBSQL query;
    query.SetTransaction(&transaction);
    query.SQL().SetText(sql);
    QStringList rows;
    for (query.ExecQuery(); !query.Eof(); query.Next()) {
        QStringList values;
        for (int i = 0; i < query.FieldCount(); ++i)
            values << query.Fields(i).AsString();
        rows << values.join(QLatin1Char('|'));
    }
    query.Close();
    transaction.Commit();
    return rows;
}

QStringList TIBTestDatabase::Committed(const QString& sql) const
{
    const std::unique_ptr<TIBDatabase> database = Connect();
    return Rows(*database, sql);
}

void TIBTestDatabase::ExecuteScript(const QString& script)
{
    for (const QString& statement : SplitScript(script))
        Execute(statement);
}

void TIBTestDatabase::CreateFrameworkSchema()
{
    QFile file(QStringLiteral(FRAMEWORK_SQL));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " FRAMEWORK_SQL);
    ExecuteScript(QString::fromUtf8(file.readAll()));
}

QStringList TIBTestDatabase::SplitScript(const QString& script)
{
    QStringList result;
    QString terminator = QStringLiteral(";");
    QString current;
    const qsizetype n = script.size();
    auto flush = [&] {
        const QString statement = current.trimmed();
        current.clear();
        if (statement.isEmpty())
            return;
        static const QRegularExpression setTerm(QStringLiteral("^SET\\s+TERM\\s+(\\S+)\\s*$"),
                                                QRegularExpression::CaseInsensitiveOption);
        const auto match = setTerm.match(statement);
        if (match.hasMatch())
            terminator = match.captured(1);
        else
            result.append(statement);
    };
    for (qsizetype i = 0; i < n;) {
        const QChar c = script[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            const qsizetype close = script.indexOf(c, i + 1);
            const qsizetype end = close < 0 ? n : close + 1;
            current += QStringView(script).mid(i, end - i);
            i = end;
        } else if (script.mid(i, 2) == QLatin1String("--")) {
            const qsizetype eol = script.indexOf(QLatin1Char('\n'), i);
            i = eol < 0 ? n : eol + 1;
            current += QLatin1Char('\n');
        } else if (script.mid(i, 2) == QLatin1String("/*")) {
            const qsizetype close = script.indexOf(QLatin1String("*/"), i + 2);
            i = close < 0 ? n : close + 2;
            current += QLatin1Char(' ');
        } else if (QStringView(script).mid(i, terminator.size()) == terminator) {
            i += terminator.size();
            flush();
        } else {
            current += c;
            ++i;
        }
    }
    flush();
    return result;
}
