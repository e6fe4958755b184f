#include "ApplicationTitle.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {
QString& SetTitle()
{
    static QString title;
    return title;
}
} // namespace

QString DefaultApplicationTitle(const QString& executablePath)
{
    QString name = QFileInfo(executablePath).fileName();
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    return name.left(1) + name.mid(1).toLower();
}

QString ApplicationTitle()
{
    const QString& title = SetTitle();
    return title.isEmpty() ? DefaultApplicationTitle(QCoreApplication::applicationFilePath()) : title;
}

void SetApplicationTitle(const QString& title) { SetTitle() = title; }
