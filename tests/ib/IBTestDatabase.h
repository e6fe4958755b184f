// A fresh Firebird database per test, opened through the embedded engine in a
// temporary folder and removed with it.
#pragma once

#include "IBDatabase.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class TIBTestDatabase
{
public:
    // The database's default character set, also the connection's lc_ctype.
    explicit TIBTestDatabase(const QString& charset = QStringLiteral("WIN1251"));
    ~TIBTestDatabase();
    TIBTestDatabase(const TIBTestDatabase&) = delete;
    TIBTestDatabase& operator=(const TIBTestDatabase&) = delete;

    QString Path() const { return FPath; }
    // The parameter lines that connect to it (user, character set).
    QStringList ConnectParams() const;
    // A connected database object of the helper's own.
    TIBDatabase& Database() { return *FDatabase; }
    // Another connection (an attachment of its own) to the same file.
    std::unique_ptr<TIBDatabase> Connect(const QString& charset = QString()) const;

    // One statement in a transaction of its own, committed.
    void Execute(const QString& sql);
    // The same on any connection.
    static void ExecuteOn(TIBDatabase& database, const QString& sql);
    // The rows of a query as "a|b|..." lines, in a transaction of its own on
    // that connection.
    static QStringList Rows(TIBDatabase& database, const QString& sql);
    // The same on an attachment of its own: what has been committed.
    QStringList Committed(const QString& sql) const;
    // Statements ended by ";" (or what "SET TERM" chooses), each committed.
    void ExecuteScript(const QString& script);
    static QStringList SplitScript(const QString& script);
    // The generator and tables every framework database has
    // (platform/fbserver/framework.sql).
    void CreateFrameworkSchema();

    // The server that FB_SERVER names ("host/port"; empty when unset) and the
    // parameter lines that log in to it as SYSDBA (password FB_PASSWORD,
    // "masterkey" when unset).
    static QString ServerName();
    static QString ServerPassword();
    static QStringList ServerParams();
    // A database of the framework (its objects, then the script) created at
    // that file path on the server; its name ("host/port:path") is returned.
    // DropOnServer removes it again.
    static QString CreateOnServer(const QString& path, const QString& script = QString());
    static void DropOnServer(const QString& name);

    // Points the engine's lock files at a folder this user can write and the
    // engine at our root folder (build/fbroot, which loads the session
    // functions); must run before the first attachment of the process.
    static void PrepareEngine();

private:
    QTemporaryDir FDir;
    QString FCharset;
    QString FPath;
    std::unique_ptr<TIBDatabase> FDatabase;
};
