// The data set's private half: the state behind TSDS's interface and the
// helpers that keep it, for the engine's own units and the tests. Nothing
// here is interface: it changes with the implementation.
//
// One TSDSPrivate per data set, made by its constructor and freed with it;
// q is the data set it belongs to. The helpers reach the data set's
// inherited operations through q (TSDSPrivate is its friend).
#pragma once

#include "SDS.h"

#include "IBSQL.h"

#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

class TSDatabase;

class TSDSPrivate
{
public:
    explicit TSDSPrivate(TSDS& owner);
    TSDSPrivate(const TSDSPrivate&) = delete;
    TSDSPrivate& operator=(const TSDSPrivate&) = delete;

    static TSDSPrivate& Of(const TSDS& sds) { return *sds.d; }

    TSDS* const q;

    // The only writer of FLifeState.
    void SetLifeState(TSDS::TLifeState state) { FLifeState = state; }

    // The eight statements the data set generates and runs.
    TIBSQL& SelectSQL() const { return *FSelectSQL; }
    TIBSQL& InsertSQL() const { return *FInsertSQL; }
    TIBSQL& UpdateSQL() const { return *FUpdateSQL; }
    TIBSQL& UpdateByKeySQL() const { return *FUpdateByKeySQL; }
    TIBSQL& DeleteSQL() const { return *FDeleteSQL; }
    TIBSQL& DeleteByKeySQL() const { return *FDeleteByKeySQL; }
    TIBSQL& RefreshSQL() const { return *FRefreshSQL; }
    TIBSQL& RefreshByKeySQL() const { return *FRefreshByKeySQL; }

    // What a loading path switches off while it runs, given back on every
    // path (SDSLoading.cpp).
    class TLoading;
    // One column as the catalogue (or TablesCache) describes it.
    struct TCatalogueColumn;
    void AddCatalogueDef(const TCatalogueColumn& column);
    void AddDbKeyDef();
    // What RDB$RELATIONS says of TableName: its row address length, whether it is a view.
    void ReadRelationInfo();
    // Whether the server takes the view's update statement (prepared, never run).
    bool ServerUpdatesView(const QString& updateText);
    // The local cache needs SYS$TIME to find changed rows and a key to place them.
    void CheckLocalCachePossible() const;
    // An array column asked for by a field's name: refused, naming the
    // relation and the column (arrays are read and written only as slices).
    [[noreturn]] void RaiseArrayColumn(const QString& relation, const QString& column) const;
    void CheckNotArray(const TIBXSQLVAR& column) const;
    void ReadFieldDefsFromSelect();
    void ReadFieldDefsFromServer();
    bool ReadFieldDefsFromCache(TSDatabase& database);
    void ReadFieldDefsFromFields();
    void ReadIndexesFromServer();
    bool ReadIndexesFromCache(TSDatabase& database);
    void AddIndexInfo(const QString& name, const QString& fields, int kind, bool isPrimary, bool& keySeen);
    TSDatabase* MetadataDatabase() const;
    TIBDatabase& RequireDatabase() const;
    // IndexFieldNames without the level prefix.
    QString OrderFieldNames() const;
    void ForgetStructure();
    struct TColumnPlan;
    void OpenFromServer();
    // Definitions, fields and statements for the current table, then the table opened empty.
    void PrepareAndOpenTable();
    void OpenAttached();
    bool LoadFromLocalCache();
    // Empties the table and loads it again from the server, without AfterDataLoaded.
    void ReloadRows();
    // A file that cannot be used: the rows come from the server instead.
    void LoadFromServerInstead();
    // A load that failed part way: part of the rows would pass for all of them.
    void CloseAfterFailedLoad() noexcept;
    void FetchRows();
    // With dsoCalcLookupOnServer, a lookup field named like a column of the
    // select takes the server's value: while the table is open it is stored
    // (internal-calculated), so the value stays with its row.
    void StoreServerLookups();
    void RestoreServerLookups();
    bool IsServerLookup(const TField* field) const;
    void AppendRowsDirectly(TIBSQL& sql, const std::vector<TColumnPlan>& plan);
    void AppendRowsOneByOne(TIBSQL& sql, const std::vector<TColumnPlan>& plan);
    void SetMasterParams();
    // dsoPermissions, leaves only, hidden deletions or a lookup clone: the
    // indexes leave out what RecordVisible rejects.
    bool FilteredIndexes() const;
    TCustomMemTable::TIndexRecordFilter IndexFilter() const;
    // The relation's key, unique unless the rows as loaded repeat a key.
    void AddKeyIndex(const QString& fields);
    // Indexes back on after a bulk load; rows that repeat the key leave
    // PRIMARY_KEY in key order, not unique, rather than the table half open.
    void EnableIndexesAfterLoad();
    QString WithLevelPrefix(const QString& fields) const;
    // An index over a field list, named by a random number; its name.
    // An index that begins with the parent field, for reading children.
    QString ChildIndexName(const QString& parentField);
    QString AddFieldListIndex(const QString& fields);
    // The current level's ID in front of key values.
    std::vector<Variant> LevelKey(const std::vector<Variant>& keyValues) const;
    // In level browsing, the key buffer being assigned gets the level's ID.
    void PutLevelIntoKeyBuffer();
    void RequireParentIdField() const;
    void RequireIdField() const;
    // Searches SYS$ID = id without moving into a level or applying a range
    // (the current index when it leads with SYS$ID, otherwise a locate).
    bool FindID(int32_t id);
    bool BeginsWithLevelPrefix() const;
    // Finds a group by SYS$ID: false when it is missing, otherwise its
    // values stored into the level and its own parent given.
    using TGroupFinder = std::function<bool(int32_t id, TLevelInfo& level, int32_t& parent)>;
    // The path from the root down to parentId's children, walked up group by
    // group; false when an ancestor is missing. A group that is its own
    // ancestor raises.
    static bool BuildLevelPath(int32_t parentId, TLevelInfos& path, const TGroupFinder& findGroup);
    // The row with this SYS$ID, found in an index over SYS$ID (made once)
    // without moving the cursor or leaving the level; NoRecord without one.
    TRecordId RowOfID(int32_t id);
    // Runs action with controls disabled and InternalLoading set, so that
    // neither the user's events nor the level events are raised.
    void RunQuietly(const std::function<void()>& action);
    // Opening without an index choice selects PRIMARY_KEY.
    void SelectOpeningIndex();
    bool MasterParamsCurrent();
    void MergeRowsChangedSince(TDateTime time);
    struct TMasterDetailPair
    {
        QString Master, Detail;
    };
    // The master-detail link's fields, detail names defaulting to the master's.
    std::vector<TMasterDetailPair> MasterDetailPairs() const;
    // The mode takes effect: the level path starts again at the root.
    void ApplyLevelMode(TSDSLevelMode mode);
    // Writes the rows to CacheFileName unless the file holds them already.
    void SaveLocalCache() noexcept;

    // --- Writing (SDSEditing.cpp)
    class TRefreshScope;
    bool WritesToServer() const
    {
        return FOptions.Contains(dsoChangesResolved) && FLifeState == TSDS::TLifeState::Loaded;
    }
    TSDatabase* SessionDatabase() const;
    void RequireFullAccess();
    void CheckMasterInBrowse();
    void CheckMasterForInsert();
    void LockForEdit(const QByteArray& address);
    // Locks the record and reads its row in one call to the server; false
    // when that cannot be done here (then nothing is locked). Raises as
    // LockForEdit does. The row waits in FLockedReadSQL for
    // LoadRowReadUnderLock.
    bool LockAndReadForEdit(const QByteArray& address);
    bool LoadRowReadUnderLock();
    // Whether the last edit's lock and re-read, and the last audited update
    // with its audit, each went as one statement.
    bool LockedReadPrepared() const { return FLockedReadSQL && FLockedReadSQL->Prepared(); }
    bool AuditedUpdatePrepared() const { return FAuditedUpdateSQL && FAuditedUpdateSQL->Prepared(); }
    QString LockedReadText();
    TIBSQL* LockedReadStatement();
    // The fields take a re-read row (by its address, when one is given).
    bool LoadReadRow(const TIBSQL& sql, const QByteArray& readByAddress);
    void ReleaseEditLock() noexcept;
    void FinishEditLock() noexcept;
    // After a committed write: the lock goes (when locking) and the change
    // notice is sent (when notifying), both in one call when both are due.
    void FinishWrite(TWriteOperation operation, const QByteArray& rowAddress, bool locking, bool notifying);
    // Writes the audit text in the write statement's transaction: the row
    // commits with the change, and a change rolled back takes it along.
    void AuditInWrite(TIBSQL& write, const QString& text);
    // Whether a write's audit goes to the server (a session, audit enabled).
    bool AuditsInWrite() const;
    void ExecuteAuditedUpdate(const QString& text);
    void PostToServer();
    void DeleteFromServer();
    // The one way a write reaches the server (see SDSEditing.cpp).
    void WriteToServer(TWriteOperation operation, const std::function<void()>& write);
    void ExecuteWrite(TIBSQL& sql, const QByteArray& rowAddress = QByteArray());
    TIBSQL& WriteStatementOf(TWriteOperation operation) const;
    void CloseWriteStatements() noexcept;
    // Each parameter from its field, all but the last trailing ones.
    void BindFieldParams(TIBSQL& sql, int trailing = 0);
    void SetRowAddress(const QByteArray& address);
    bool LeafGroupHasChildren();
    // Rows from a file carry the addresses of the run that wrote it: the
    // server may have reused them for other records since. Such an address
    // is checked once per row against the record's key before it is used.
    QByteArray CheckedRowAddress();
    bool AddressHoldsRecord(const QByteArray& address);
    QByteArray AddressByKey();
    void CorrectStoredAddress(const QByteArray& address);

    // A write of this data set failed: its transaction is rolled back and
    // details a cascade deleted in it are read again, since the rollback
    // brought their rows back on the server.
    void RollbackFailedWrite(TIBSQL& sql);
    void ReloadCascadedDetails() noexcept;

    std::vector<TIBSQL*> Statements() const;
    std::vector<TIBSQL*> WritingStatements() const;

    // The server lock the current edit holds (empty address: none),
    // released whenever the edit ends.
    QPointer<TSDatabase> FLockDatabase;
    QByteArray FLockedAddress;
    bool FAddressesFromFile = false;
    std::vector<TRecordId> FCheckedRows; // rows whose file address was checked

    QString FCacheFileName;
    // Where the data set is in its life; SetLifeState is its only writer.
    TSDS::TLifeState FLifeState = TSDS::TLifeState::Unprepared;
    // Set only by TLoading: the data set fills itself.
    bool FInternalLoading = false;
    // The current delete's cascade removed detail rows in the write's
    // transaction.
    bool FDetailsCascaded = false;
    QString FTableName;
    QString FAutoIncFieldName;
    QString FServerFilter;
    QString FCommandText;
    QString FPublicName;
    TSDSOptions FOptions = DefaultSDSOptions;
    TSDSLevelMode FLevelMode = dslmDefault;
    TDatasetKind FDatasetKind = dkUnknown;
    bool FDesigning = false;
    bool FDestroying = false;
    bool FLoadingFile = false;
    // From the catalogue: RDB$DB_KEY's length (8 per table of a view) and the relation's kind.
    int FDbKeyLength = 8;
    bool FRelationIsView = false;
    bool FReadOnlyView = false;
    // While rows are appended one by one, calculation waits for each row's last value.
    enum class TLoadCalc { Free, Held, Due } FLoadCalc = TLoadCalc::Free;

    std::vector<QPointer<TField>> FServerLookups;

    QPointer<TSDS> FMasterDataset;
    TSDS* FLookupClone = nullptr; // a child of this data set, freed first

    std::unique_ptr<TIBSQL> FSelectSQL;
    std::unique_ptr<TIBSQL> FInsertSQL;
    std::unique_ptr<TIBSQL> FUpdateSQL;
    std::unique_ptr<TIBSQL> FUpdateByKeySQL;
    std::unique_ptr<TIBSQL> FDeleteSQL;
    std::unique_ptr<TIBSQL> FDeleteByKeySQL;
    std::unique_ptr<TIBSQL> FRefreshSQL;
    std::unique_ptr<TIBSQL> FRefreshByKeySQL;
    std::unique_ptr<TIBSQL> FAuditSQL; // made on the first audited write
    // The lock and the re-read of an edit in one statement, made from the
    // re-read FLockedReadFor (see LockedReadText); unusable when it cannot be.
    // FUpdateSQL's text FAuditedUpdateFor with the audit as its result.
    std::unique_ptr<TIBSQL> FAuditedUpdateSQL;
    QString FAuditedUpdateFor;
    std::unique_ptr<TIBSQL> FLockedReadSQL;
    QString FLockedReadFor;
    bool FLockedReadUnusable = false;
    // The address whose row FLockedReadSQL read under the edit's lock,
    // until the edit takes it.
    QByteArray FReadUnderLock;

    QString FKeyFields;
    QStringList FIndexNames;
    QStringList FIndexFieldLists;
    QList<int> FIndexKinds;

    // Default fields die with the open table: references must not dangle.
    QPointer<TField> FDbKeyField;
    QPointer<TField> FTimeField;
    QPointer<TField> FIdField;
    QPointer<TField> FParentIdField;
    QPointer<TField> FStateField;
    QPointer<TField> FAutoIncField;

    TLevelInfos FLevelInfos;
    // Indexes made for a field list: IndexName does not name them.
    QStringList FFieldListIndexes;
};

// A data set's generated statements, for the engine's units and the tests.
inline TIBSQL& SelectSQL(const TSDS& sds) { return TSDSPrivate::Of(sds).SelectSQL(); }
inline TIBSQL& InsertSQL(const TSDS& sds) { return TSDSPrivate::Of(sds).InsertSQL(); }
inline TIBSQL& UpdateSQL(const TSDS& sds) { return TSDSPrivate::Of(sds).UpdateSQL(); }
inline TIBSQL& UpdateByKeySQL(const TSDS& sds) { return TSDSPrivate::Of(sds).UpdateByKeySQL(); }
inline TIBSQL& DeleteSQL(const TSDS& sds) { return TSDSPrivate::Of(sds).DeleteSQL(); }
inline TIBSQL& DeleteByKeySQL(const TSDS& sds) { return TSDSPrivate::Of(sds).DeleteByKeySQL(); }
inline TIBSQL& RefreshSQL(const TSDS& sds) { return TSDSPrivate::Of(sds).RefreshSQL(); }
inline TIBSQL& RefreshByKeySQL(const TSDS& sds) { return TSDSPrivate::Of(sds).RefreshByKeySQL(); }
