// Firebird's sample employee database, built from the script its examples
// package ships (firebird3.0-examples): a real schema with domains, computed
// and array columns, composite keys, checks, triggers and views.
#pragma once

#include "IBTestDatabase.h"

#include <QProcess>
#include <QRegularExpression>
#include <stdexcept>

namespace employee {

inline const char* const Script = "/usr/share/doc/firebird3.0-examples/examples/employee.sql.gz";

// isql's own commands and the script's commits: each statement is committed anyway.
inline bool IsIsqlCommand(const QString& statement)
{
    static const QRegularExpression isql(QStringLiteral("^(set\\s+sql\\s+dialect|create\\s+database|commit)\\b"),
                                         QRegularExpression::CaseInsensitiveOption);
    return isql.match(statement).hasMatch();
}

inline QString Sql()
{
    QProcess gunzip;
    gunzip.start(QStringLiteral("gzip"), {QStringLiteral("-dc"), QString::fromLatin1(Script)});
    if (!gunzip.waitForFinished() || gunzip.exitCode() != 0)
        throw std::runtime_error("cannot read the employee script (package firebird3.0-examples)");
    return QString::fromUtf8(gunzip.readAllStandardOutput());
}

// Runs the script's statements on a fresh test database.
inline void Create(TIBTestDatabase& database)
{
    for (const QString& statement : TIBTestDatabase::SplitScript(Sql()))
        if (!IsIsqlCommand(statement))
            database.Execute(statement);
}

} // namespace employee
