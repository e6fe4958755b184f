#include "CacheManager.h"

#include "SDS.h"

#include "Exceptions.h"
#include "MemTableFile.h"
#include "SDatabase.h"
#include "Text.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <algorithm>

namespace {

const QChar Separator = QLatin1Char('/');

// One folder per database: server and path in a name the file system takes.
QString FolderName(const QString& databaseName)
{
    QString name = databaseName.toUpper();
    name.replace(QLatin1Char(':'), QLatin1Char('$'));
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    name.replace(QLatin1Char('\\'), QLatin1Char('-'));
    return name;
}

bool HasLineBreak(const QString& line) { return line.contains(QLatin1Char('\n')) || line.contains(QLatin1Char('\r')); }

} // namespace

TCacheManager::TCacheManager(TSDatabase* database) : FDatabase(database) {}

TCacheManager::~TCacheManager()
{
    try {
        Save();
    } catch (...) {
        // An index that cannot be written only makes the next start read the server.
    }
}

void TCacheManager::Open()
{
    QString temp = qEnvironmentVariable("TEMP");
    if (!temp.isEmpty() && !temp.endsWith(Separator))
        temp += Separator;
    FCacheFolder = temp + FolderName(FDatabase ? FDatabase->DatabaseName() : QString()) + Separator;

    if (!QDir().mkpath(FCacheFolder))
        return;
    QFile file(FCacheFolder + IndexFileName());
    if (!file.open(QIODevice::ReadOnly))
        return;
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    QStringList lines = AnsiToString(file.readAll()).split(lineBreak);
    if (lines.last().isEmpty())
        lines.removeLast(); // the break that ends the last line
    FEntries = lines;
}

bool TCacheManager::CheckEntry(TCustomMemTable* table, QString& fileName, QString key, QString version)
{
    // Not opened: a file name relative to whatever the current folder is
    // would scatter cache files.
    if (!table || FCacheFolder.isEmpty()) {
        fileName.clear();
        return false;
    }
    // A data set is keyed by its relation and versioned by its server filter.
    if (const auto* sds = dynamic_cast<const TSDS*>(table)) {
        if (key.isEmpty())
            key = sds->TableName();
        if (version.isEmpty())
            version = sds->ServerFilter();
    }
    fileName = FCacheFolder + key + QStringLiteral(".CDS");

    // No entry means no record of what the file was written for (a lost or
    // new index): not even an empty version may trust it.
    const std::optional<QString> stored = SetEntry(key, version);
    const bool valid = stored == version && Holds(fileName, key, version);
    // The entry now names the new version: a file written for another one
    // goes, so that an owner who does not rewrite it (a data set that saves
    // only changed tables) cannot have it taken for current next time.
    if (!valid)
        QFile::remove(fileName);
    return valid;
}

void TCacheManager::Record(const QString& fileName, const QString& key, const QString& version)
{
    if (!FCacheFolder.isEmpty() && fileName == FCacheFolder + key + QStringLiteral(".CDS"))
        SetEntry(key, version);
}

std::optional<QString> TCacheManager::SetEntry(const QString& key, const QString& version)
{
    const QString prefix = key + QLatin1Char('=');
    auto entry = std::find_if(FEntries.begin(), FEntries.end(),
                              [&](const QString& line) { return line.startsWith(prefix, Qt::CaseSensitive); });
    if (entry == FEntries.end()) {
        FEntries.append(prefix + version);
        return std::nullopt;
    }
    const QString stored = entry->mid(prefix.size());
    *entry = prefix + version;
    return stored;
}

QString TCacheManager::FileTag(const QString& key, const QString& version) { return key + QLatin1Char('=') + version; }

bool TCacheManager::Holds(const QString& fileName, const QString& key, const QString& version)
{
    return ReadMemTableFileTag(fileName) == FileTag(key, version);
}

void TCacheManager::Save()
{
    if (!FDatabase || !FDatabase->LocalCache() || FCacheFolder.isEmpty())
        return;
    // An entry with a line break would come back as two lines, the second
    // a stray that grows the file by one on every run: it is left out, so it
    // simply answers false next time, as it would anyway.
    QByteArray text;
    for (const QString& line : std::as_const(FEntries)) {
        if (HasLineBreak(line))
            continue;
        text += StringToAnsi(line);
        text += '\n';
    }
    // Written aside and renamed over the old index only when complete.
    const QString fileName = FCacheFolder + IndexFileName();
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        throw Exception(QStringLiteral("Cannot create file \"%1\". %2")
                            .arg(QDir::toNativeSeparators(fileName), file.errorString()));
}
