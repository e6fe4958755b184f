// Qt's Firebird driver as the benchmarks' peer connects it.
#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

#include <stdexcept>

// Opens the database through QIBASE under the connection name, as SYSDBA with
// UTF8 (as every connection of a run); raises when it cannot.
inline QSqlDatabase OpenQIBASE(const QString& connection, const QString& path)
{
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QIBASE"), connection);
    database.setDatabaseName(path);
    database.setUserName(QStringLiteral("SYSDBA"));
    database.setConnectOptions(QStringLiteral("ISC_DPB_LC_CTYPE=UTF8"));
    if (!database.open())
        throw std::runtime_error(qPrintable(QStringLiteral("QIBASE: ") + database.lastError().text()));
    return database;
}
