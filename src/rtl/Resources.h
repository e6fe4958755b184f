// Named resources carried inside the executable (Qt resources ":/<name>").
#pragma once

#include <QByteArray>
#include <QString>

// The bytes of the named resource; empty when there is none.
QByteArray LoadResourceBytes(const QString& name);
