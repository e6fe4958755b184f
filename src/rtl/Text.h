// Text helpers: the single-byte code pages the system exchanges with the
// outside (CP1251 "ANSI", CP866 "OEM") and the toolkit's trimming rules.
#pragma once

#include <QByteArray>
#include <QString>

QString AnsiToString(const QByteArray& ansi); // CP1251 -> QString
QByteArray StringToAnsi(const QString& text); // QString -> CP1251, '?' for what it lacks
QString OemToString(const QByteArray& oem);   // CP866 -> QString
QByteArray StringToOem(const QString& text);  // QString -> CP866

// Removes leading and trailing characters with codes below 33 (blanks and
// control characters), as the toolkit's Trim does.
QString Trim(const QString& text);
QByteArray Trim(const QByteArray& bytes);
// The same at the end only (catalogue names come blank-padded).
QString TrimRight(const QString& text);

// Removes trailing blanks, line breaks and full stops (system error texts).
QString TrimSystemMessage(const QString& text);
