#include "Resources.h"

#include <QFile>

QByteArray LoadResourceBytes(const QString& name)
{
    QFile resource(QStringLiteral(":/") + name);
    if (!resource.open(QIODevice::ReadOnly))
        return {};
    return resource.readAll();
}
