// Readable failure messages for Qt values in GoogleTest expectations.
#pragma once

#include <QString>
#include <QStringList>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

inline void PrintTo(const QStringList& list, std::ostream* out)
{
    *out << "{\n";
    for (const QString& item : list)
        *out << "  \"" << item.toStdString() << "\"\n";
    *out << '}';
}
