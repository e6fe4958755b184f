// The local cache of a database connection: copies of in-memory tables kept
// on disk between runs. The manager only decides where a table's file lives
// and whether it may be trusted; the tables' owners load and save the files.
//
// The folder is TEMP + the database name (upper-cased, ":" -> "$", "/" and
// "\" -> "-") + "/", shared by every program of the user that connects to the
// same database. Its "cache.ini" holds KEY=VERSION lines in the order the
// keys were first seen; KEY + ".CDS" is the table's file.
//
// The index alone cannot vouch for a file: the two are written at different
// times (a table when its owner lets go of it, the index at disconnect), and
// a run that ends in between would leave the index naming another version
// than the file holds. So every file carries its own KEY=VERSION as its tag
// (see FileTag), and a file is current only when the index and the file
// agree. Files of older builds carry no tag and are read once more from the
// server.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class TCustomMemTable;
class TSDatabase;

// The folder and index of one connection's local cache.
//
// Lifetimes. Made and owned by its TSDatabase (TSDatabase::CacheManager()),
// which outlives it; Database() is that owner. It keeps no tables: the
// tables handed to CheckEntry are only read for the moment of the call.
class TCacheManager
{
public:
    explicit TCacheManager(TSDatabase* database);
    // Saves "cache.ini" when the owner's LocalCache is on; a failure is lost.
    ~TCacheManager();
    TCacheManager(const TCacheManager&) = delete;
    TCacheManager& operator=(const TCacheManager&) = delete;

    // With the trailing "/"; empty until Open.
    const QString& CacheFolder() const { return FCacheFolder; }
    const QStringList& Entries() const { return FEntries; }
    TSDatabase* Database() const { return FDatabase; }

    // Computes the folder for the owner's database, creates it when missing
    // and reads "cache.ini" from it when there is one.
    void Open();
    // Records key with version (whatever the answer), sets fileName to the
    // table's file and answers whether that file was written for this very
    // version (its tag says so) and the index agrees. On a false answer the
    // file is removed: the owner writes it anew for this version. Without a
    // table, or before Open, the answer is false and fileName empty.
    bool CheckEntry(TCustomMemTable* table, QString& fileName, QString key, QString version);
    // Records key with version after its file was written, when fileName is
    // this folder's file for key (not a file of the database the connection
    // had before).
    void Record(const QString& fileName, const QString& key, const QString& version);

    // What a table file written for key and version carries as its tag
    // (TCustomMemTable::SaveToFile).
    static QString FileTag(const QString& key, const QString& version);
    // Whether fileName exists and was written for key and version.
    static bool Holds(const QString& fileName, const QString& key, const QString& version);
    // Replaces "cache.ini" with Entries when the owner's LocalCache is on and
    // the folder is known; raises Exception naming the file when it cannot.
    void Save();

    static QString IndexFileName() { return QStringLiteral("cache.ini"); }

private:
    // Sets key's entry to version; answers the version it had, if it had one.
    std::optional<QString> SetEntry(const QString& key, const QString& version);

    TSDatabase* FDatabase;
    QString FCacheFolder;
    QStringList FEntries;
};
