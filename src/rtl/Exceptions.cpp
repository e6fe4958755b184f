#include "Exceptions.h"

#include <QFileInfo>

Exception::Exception(const QString& message, int helpContext)
    : FMessage(message), FHelpContext(helpContext), FWhat(message.toUtf8())
{
}

void Exception::SetMessage(const QString& message)
{
    FMessage = message;
    FWhat = message.toUtf8();
}

void Abort() { throw EAbort(); }

void AssertionFailed(const QString& message, const char* file, int line)
{
    const QString where =
        QStringLiteral("(%1, line %2)").arg(QFileInfo(QString::fromLocal8Bit(file)).fileName()).arg(line);
    throw EAssertionFailed(message.isEmpty() ? QStringLiteral("Assertion failed ") + where
                                             : message + QLatin1Char(' ') + where);
}
