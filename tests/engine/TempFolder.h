// TEMP pointed at a fresh folder for the life of the object (the local
// cache lives under TEMP), then restored.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

class TTempFolder
{
public:
    TTempFolder() : FWasSet(qEnvironmentVariableIsSet("TEMP")), FOld(qgetenv("TEMP")) { Set(FDir.path()); }
    ~TTempFolder()
    {
        if (FWasSet)
            qputenv("TEMP", FOld);
        else
            qunsetenv("TEMP");
    }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    // The folder itself, without a trailing "/".
    QString Path() const { return FDir.path(); }
    static void Set(const QString& value) { qputenv("TEMP", QFile::encodeName(value)); }

private:
    QTemporaryDir FDir;
    bool FWasSet;
    QByteArray FOld;
};
