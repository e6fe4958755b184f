// The catalogue's database: where it is, how the program connects to it and
// how its sample is made when it is missing. A file path opens through the
// embedded engine (one user); "host:path" or "host/port:path" goes to a
// Firebird server, where several users meet.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class TSDatabase;

namespace Catalogue {

// The sample database of the user's own: $XDG_DATA_HOME/catalogue/catalogue.fdb.
QString DefaultDatabaseName();
// A name the server serves ("host:path"), not a local file.
bool IsServerName(const QString& name);
// Points the embedded engine at a lock folder this user can write and (in
// the build tree) at the Firebird root that loads the session functions.
// Must run before the first attachment of the process.
void PrepareEngine();
// The connection's lines: the user $ISC_USER (SYSDBA unless set), its
// password $ISC_PASSWORD, the framework's character set.
QStringList ConnectParams();
// The statements of a script ended by ";" (quotes and comments respected).
QStringList SplitScript(const QString& script);
// Makes the database with the framework's objects and the catalogue's
// tables and sample rows when it does not exist yet; true when it was made.
bool CreateWhenMissing(const QString& name);
// A connection of the framework to it, opened.
std::unique_ptr<TSDatabase> Connect(const QString& name);

} // namespace Catalogue
