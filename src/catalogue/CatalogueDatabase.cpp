#include "CatalogueDatabase.h"

#include "Exceptions.h"
#include "IBDatabase.h"
#include "IBError.h"
#include "IBSQL.h"
#include "SDatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <unistd.h>

namespace Catalogue {

namespace {

// isc_io_error: the server found no file of that name.
constexpr int IOError = 335544344;

QString ResourceText(const QString& name)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Нет ресурса %1").arg(name));
    return QString::fromUtf8(file.readAll());
}

void ExecuteScript(TIBDatabase& database, const QString& script)
{
    TIBTransaction transaction;
    transaction.SetDefaultDatabase(&database);
    for (const QString& statement : SplitScript(script)) {
        transaction.StartTransaction();
        TIBSQL sql;
        sql.SetTransaction(&transaction);
        sql.SetParamCheck(false);
        sql.SQL().SetText(statement);
        sql.ExecQuery();
        sql.Close();
        // Tables must be committed before rows go into them.
        transaction.Commit();
    }
}

bool ServerDatabaseExists(const QString& name)
{
    TIBDatabase probe;
    probe.SetDatabaseName(name);
    probe.SetParams(ConnectParams());
    try {
        probe.Open();
    } catch (const EIBInterBaseError& error) {
        if (error.IBErrorCode() == IOError)
            return false;
        throw;
    }
    probe.Close();
    return true;
}

} // namespace

QString DefaultDatabaseName()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                           + QStringLiteral("/catalogue");
    return folder + QStringLiteral("/catalogue.fdb");
}

bool IsServerName(const QString& name)
{
    const qsizetype colon = name.indexOf(QLatin1Char(':'));
    return colon > 0 && !name.startsWith(QLatin1Char('/')) && !name.startsWith(QLatin1Char('.'));
}

void PrepareEngine()
{
    if (!qEnvironmentVariableIsSet("FIREBIRD_LOCK")) {
        // The engine's default lock folder belongs to whoever made it first.
        const QString lock = QDir::tempPath() + QStringLiteral("/firebird-lock-%1").arg(getuid());
        QDir().mkpath(lock);
        qputenv("FIREBIRD_LOCK", QFile::encodeName(lock));
    }
    // A program of the build tree takes the build's root; an installed one
    // the system's, whose UDR folder holds the installed module.
    const QString buildTree = QStringLiteral(CATALOGUE_BUILD_DIR "/");
    const QString root = buildTree + QStringLiteral("fbroot");
    if (!qEnvironmentVariableIsSet("FIREBIRD") && QCoreApplication::applicationDirPath().startsWith(buildTree)
        && QFileInfo::exists(root + QStringLiteral("/plugins.conf")))
        qputenv("FIREBIRD", QFile::encodeName(root));
}

QStringList ConnectParams()
{
    QStringList params{QStringLiteral("user_name=") + qEnvironmentVariable("ISC_USER", QStringLiteral("SYSDBA")),
                       QStringLiteral("lc_ctype=WIN1251")};
    if (qEnvironmentVariableIsSet("ISC_PASSWORD"))
        params << QStringLiteral("password=") + qEnvironmentVariable("ISC_PASSWORD");
    return params;
}

QStringList SplitScript(const QString& script)
{
    QStringList statements;
    QString current;
    const qsizetype n = script.size();
    const auto flush = [&] {
        const QString statement = current.trimmed();
        if (!statement.isEmpty())
            statements << statement;
        current.clear();
    };
    for (qsizetype i = 0; i < n;) {
        const QChar c = script[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            const qsizetype close = script.indexOf(c, i + 1);
            const qsizetype end = close < 0 ? n : close + 1;
            current += QStringView(script).mid(i, end - i);
            i = end;
        } else if (QStringView(script).mid(i, 2) == QLatin1String("--")) {
            const qsizetype eol = script.indexOf(QLatin1Char('\n'), i);
            i = eol < 0 ? n : eol + 1;
            current += QLatin1Char('\n');
        } else if (c == QLatin1Char(';')) {
            ++i;
            flush();
        } else {
            current += c;
            ++i;
        }
    }
    flush();
    return statements;
}

bool CreateWhenMissing(const QString& name)
{
    if (IsServerName(name) ? ServerDatabaseExists(name) : QFileInfo::exists(name))
        return false;
    if (!IsServerName(name))
        QDir().mkpath(QFileInfo(name).absolutePath());
    TIBDatabase creator;
    creator.SetDatabaseName(name);
    creator.SetParams(ConnectParams());
    creator.CreateDatabase();
    try {
        ExecuteScript(creator, ResourceText(QStringLiteral(":/catalogue/framework.sql")));
        ExecuteScript(creator, ResourceText(QStringLiteral(":/catalogue/catalogue.sql")));
    } catch (...) {
        // Half a database would pass for a whole one at the next start.
        try {
            creator.DropDatabase();
        } catch (...) {
        }
        throw;
    }
    creator.Close();
    return true;
}

std::unique_ptr<TSDatabase> Connect(const QString& name)
{
    auto database = std::make_unique<TSDatabase>();
    database->SetDatabaseName(name);
    database->SetParams(ConnectParams());
    database->Open();
    return database;
}

} // namespace Catalogue
