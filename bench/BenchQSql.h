// Qt's Firebird driver as the benchmarks' peer connects it.
#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlTableModel>
#include <QString>

#include <memory>
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

// The table in a QSqlTableModel sorted by a column, every row fetched (the
// model fetches in batches otherwise); edits wait for submitAll. Raises when
// the select fails.
inline std::unique_ptr<QSqlTableModel> FetchedTableModel(const QSqlDatabase& database, const QString& table,
                                                         const QString& sortColumn)
{
    auto model = std::make_unique<QSqlTableModel>(nullptr, database);
    model->setEditStrategy(QSqlTableModel::OnManualSubmit);
    model->setTable(table);
    model->setSort(model->fieldIndex(sortColumn), Qt::AscendingOrder);
    if (!model->select())
        throw std::runtime_error(qPrintable(model->lastError().text()));
    while (model->canFetchMore())
        model->fetchMore();
    return model;
}
