// The framework's database connection: a Firebird connection that keeps the
// catalogue of user relations and indexes in memory, so that data sets can
// build their fields and classify their indexes without asking the server.
#pragma once

#include "IBDatabase.h"

#include <QPointer>
#include <QString>
#include <cstdint>
#include <memory>

class TCacheManager;
class TCustomMemTable;
class TListColletion;
class TSDS;
class TUserSession;

// The bits of an index's constraint code; the data set engine classifies the
// indexes it finds itself with the same bits.
namespace SConstraint {
enum : int {
    Constraint = 0x01, // the index backs a constraint
    PrimaryKey = 0x02,
    Unique = 0x04,
    ForeignKey = 0x20,
};
// "PRIMARY KEY" 3, "UNIQUE" 5, "FOREIGN KEY" 33, anything else 0.
int CodeOf(const QString& constraintType);
} // namespace SConstraint

// The connection a framework application opens first.
//
// Lifetimes. The database owns what it makes: the user session, the cache
// manager, the metadata tables, the users data set and the list kinds (freed
// with it, in the order written at their members). It owns none of the data
// sets, transactions and statements bound to it: they follow TIBDatabase's
// rules (either side may go first; destroying the database clears their
// pointers to it). Data sets loaded from it keep their rows after a
// disconnect, but their statements must be prepared again. DefaultTransactionRW
// is the application's: if it is destroyed first, the pointer becomes null.
// Session() and the other getters point into the database: do not keep them
// past its destruction.
class TSDatabase : public TIBDatabase
{
public:
    // Lines of the internal transaction: every catalogue read sees committed
    // data and never waits on a lock.
    static constexpr const char* InternalTransactionParamsText = "read\r\nread_committed\r\nrec_version\r\nnowait";

    explicit TSDatabase(QObject* owner = nullptr);
    ~TSDatabase() override;

    // Fill the metadata tables on connect and keep them while connected.
    bool MetadataCache() const { return FMetadataCache; }
    void SetMetadataCache(bool value) { FMetadataCache = value; }
    // An SQL condition added to both catalogue queries; it must suit both
    // (a condition on RDB$RELATION_NAME does).
    QString MetadataCacheFilter() const { return FMetadataCacheFilter; }
    void SetMetadataCacheFilter(const QString& value) { FMetadataCacheFilter = value; }
    // Keep the metadata tables (and data sets that ask for it) on disk between runs.
    bool LocalCache() const { return FLocalCache; }
    void SetLocalCache(bool value) { FLocalCache = value; }

    // Read-write transaction for the modifying statements of data sets; not owned.
    TIBTransaction* DefaultTransactionRW() const { return FDefaultTransactionRW; }
    void SetDefaultTransactionRW(TIBTransaction* transaction) { FDefaultTransactionRW = transaction; }

    // The user's number once the application has logged in; -1 before.
    int32_t CurrentUserID() const { return FCurrentUserID; }
    void SetCurrentUserID(int32_t value) { FCurrentUserID = value; }
    bool AuditEnabled() const { return FAuditEnabled; }
    void SetAuditEnabled(bool value) { FAuditEnabled = value; }
    // Whether the framework's own tables (the users SYS_USER, the list kinds
    // SYS$LIST_KIND) must exist: a connect fails without SYS_USER. An
    // application that opts out uses them where they exist and connects to
    // any Firebird database; Users() then stays closed where there is none.
    bool FrameworkTablesRequired() const { return FFrameworkTablesRequired; }
    void SetFrameworkTablesRequired(bool value) { FFrameworkTablesRequired = value; }

    // The user session: record locks, change events and audit (SDatabaseSession.h).
    TUserSession* Session() const { return FSession.get(); }
    // Where the local cache keeps its files; used while LocalCache is on.
    TCacheManager* CacheManager() const { return FCacheManager.get(); }
    // The names in SYS$LIST_KIND, read on connect and emptied on disconnect.
    TListColletion* ListKinds() const { return FListKinds.get(); }

    // Fields of the user relations, current index "RELATIONS_FIELDNAMES";
    // "RELATIONS_FIELDPOSITION" walks a relation in field order.
    TCustomMemTable* TablesCache() const { return FTablesCache.get(); }
    // Segments of every index, current index on relation, index, position.
    TCustomMemTable* IndexesCache() const { return FIndexesCache.get(); }
    // Constraint codes by index name; null until the first GetConstraintType.
    TCustomMemTable* ConstraintsCache() const { return FConstraintsCache.get(); }
    // The users (SYS_USER), open while connected. Without a default
    // transaction of the application's they are read in the internal
    // transaction and written in DefaultTransactionRW or, without it, in a
    // read-write transaction of the connection's own.
    TSDS* Users() const { return FUsers.get(); }
    QString TablesCacheFile() const { return FTablesCacheFile; }
    QString IndexesCacheFile() const { return FIndexesCacheFile; }

    // Fills both metadata tables, from the local cache when it holds a valid
    // copy, otherwise from the server.
    void LoadMetadata();
    // Runs the two catalogue queries; does nothing while TablesCache is open.
    void ReadMetadataFromServer();
    // Reads both tables again and forgets the constraints.
    void RefreshMetadata();
    // Saves the tables to their local-cache files (if any) and closes them.
    // A file that could not be rewritten is removed, since the cache index
    // already records the current version for it.
    void ReleaseMetadata();
    // The constraint code of an index (right-trimmed name); 0 when it backs none.
    int GetConstraintType(const QString& indexName);
    // Binds the users data set to this database and opens it when connected
    // (and, without FrameworkTablesRequired, when SYS_USER exists).
    void OpenUsers();
    // Whether the database has a table or view of that name (exact, as the
    // catalogue holds it).
    bool RelationExists(const QString& name);

    // The query texts, with the filter as MetadataCacheFilter gives it.
    static QString TablesQueryText(const QString& filter);
    static QString IndexesQueryText(const QString& filter);
    static const char* const ConstraintsQueryText;

    // The executable's name without folder and extension, ASCII upper-cased:
    // the metadata files of different programs sharing one cache folder
    // stay apart.
    static QString ApplicationKey();
    // The database description, empty when null: changing it invalidates
    // every client's cached metadata.
    QString MetadataVersion();

protected:
    void DoConnect() override;
    void DoDisconnect() override;

private:
    QString FilterText() const;
    // Asks the cache manager about both tables and loads them from their
    // files when both are current; false when the server must be read.
    bool LoadMetadataFromLocalCache();
    void CloseMetadata();
    // What a disconnect does after the attachment is gone: the metadata
    // tables saved and closed, "cache.ini" written, the users closed.
    void ReleaseConnectionState();

    bool FMetadataCache = true;
    QString FMetadataCacheFilter;
    bool FLocalCache = false;
    QPointer<TIBTransaction> FDefaultTransactionRW;
    int32_t FCurrentUserID = -1;
    bool FAuditEnabled = true;
    bool FFrameworkTablesRequired = true;
    QString FTablesCacheFile;
    QString FIndexesCacheFile;
    QString FMetadataCacheVersion; // what the two files are written for
    // Released in the destructor in this order: the session (it unregisters
    // while still connected), the users (a data set that
    // caches locally writes its file on the way out and asks the cache
    // manager about it), the metadata tables' files, the cache manager
    // (which writes "cache.ini" after the files it records).
    std::unique_ptr<TUserSession> FSession; // first made, first freed
    std::unique_ptr<TCacheManager> FCacheManager;
    std::unique_ptr<TCustomMemTable> FTablesCache;
    std::unique_ptr<TCustomMemTable> FIndexesCache;
    std::unique_ptr<TCustomMemTable> FConstraintsCache;
    // Where the users are written when the application gave the connection
    // no default transaction: the internal one is read-only.
    std::unique_ptr<TIBTransaction> FUsersWriteTransaction;
    std::unique_ptr<TSDS> FUsers;
    std::unique_ptr<TListColletion> FListKinds;
};
