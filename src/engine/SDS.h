// The framework's data set: an in-memory table that fills itself from one
// relation of a Firebird database (or from a free select text) and writes its
// changes back with statements it generates. It adds the system columns
// (identity, parent, packed state, change time), option switches, per-record
// access control, levels and a local file cache.
#pragma once

#include "EnumSet.h"
#include "IBError.h"
#include "MemTable.h"

#include <QList>
#include <QPointer>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>

class TIBDatabase;
class TIBTransaction;
class TSDS;
class TSDSPrivate;

// --------------------------------------------------------------- options

enum TSDSOption {
    dsoChangesResolved,          // changes are written to the server
    dsoLoadData,                 // opening loads every row
    dsoLoadAllFields,            // definitions from the catalogue, select TableName.*
    dsoLocalCachData,            // rows kept in a local cache file between runs
    dsoIncOnNewRecord,           // generator value on append rather than on post
    dsoInitAllFields,            // null fields get type defaults before posting
    dsoAutoCommit,               // every server write committed at once
    dsoSendNotification,         // every server write announced to other sessions
    dsoRefreshBeforeEdit,        // re-read the record before editing
    dsoRefreshAfterEdit,         // re-read the record after an update
    dsoPessimisticLock,          // server-side record locks for edit and delete
    dsoPermissions,              // indexes built with the record visibility rule
    dsoLevels,                   // hierarchical browsing over SYS$ID/SYS$PID
    dsoFieldsDefaultVisible,     // fields the data set creates itself are visible
    dsoShowDeleted,              // virtually deleted records stay visible
    dsoVirtualDelete,            // deleting marks SYS$STATE instead of removing
    dsoHandleMDBySQL,            // master-detail by MD_ parameters of the select
    dsoCascadeDeleteDetail,      // deleting first deletes the detail rows
    dsoAudit,                    // server writes produce audit texts
    dsoLookupClone,              // a second data set sharing the rows is created
    dsoInitRequiredFields,       // null required fields get type defaults
    dsoCheckChildRecordOnDelete, // a group with children cannot be deleted
    dsoDontCheckMasterInBrowse,  // no master-in-browse check for detail edits
    dsoAllowScripting,           // carried only
    dsoDontSyncronize,           // carried only
    dsoCalcLookupOnServer,       // lookup fields filled from select columns
    dsoDontFreeSelectHandle,     // the select's handle stays after loading
};

// A set of options, stored as 32 bits: bit i is option i.
using TSDSOptions = TEnumSet<TSDSOption, uint32_t>;

// [dsoChangesResolved, dsoLoadData, dsoLoadAllFields, dsoAutoCommit]
inline constexpr TSDSOptions DefaultSDSOptions = TSDSOptions{dsoChangesResolved, dsoLoadData, dsoLoadAllFields,
                                                             dsoAutoCommit};
static_assert(DefaultSDSOptions.Value() == 0x47);

enum TSDSLevelMode { dslmNone, dslmDefault, dslmShowAll, dslmShowOnlyLeaf, dslmShowOnlyLeveled };
enum TDatasetKind { dkUnknown, dkLookup, dkOperativka };

// Access to a record: combined by taking the weaker of two answers.
enum TAccess : uint8_t { acNone = 0, acReadOnly = 1, acFull = 2 };
inline TAccess CombineAccess(TAccess a, TAccess b) { return a < b ? a : b; }

using TOperationType = uint8_t; // 0 insert, 1 update, 2 delete

// What a write does to a row on the server: the one vocabulary of the write
// path, from the statement to its audit text. Its numbers are those of
// ESDS_IBError::Operation and of the change notices; the log event numbers
// its TOperationType differently (LogOperationOf).
enum TWriteOperation : uint8_t { woUpdate = 0, woInsert = 1, woDelete = 2 };
TOperationType LogOperationOf(TWriteOperation operation);

using TSDSAccess_vent = std::function<void(TSDS* sds, TAccess& access)>;
using TLogEvent = std::function<void(TSDS* sds, TOperationType operationType)>;

// ------------------------------------------------------- system columns

namespace SDSNames {
inline const QString DbKey = QStringLiteral("IBX_INTERNAL_DBKEY");
inline const QString Id = QStringLiteral("SYS$ID");
inline const QString ParentId = QStringLiteral("SYS$PID");
inline const QString State = QStringLiteral("SYS$STATE");
inline const QString Time = QStringLiteral("SYS$TIME");
inline const QString SystemPrefix = QStringLiteral("SYS$");
inline const QString PrimaryKeyIndex = QStringLiteral("PRIMARY_KEY");
inline const QString MasterParamPrefix = QStringLiteral("MD_");
} // namespace SDSNames

// SYS$STATE: bits 0-15 the owner, bit 30 leaf (clear: group), bit 31 deleted.
bool IsDeletedState(int32_t state);
bool IsLeafState(int32_t state);
uint16_t StateOwner(int32_t state);
void SetDeletedState(int32_t& state, bool flag);
void SetLeafState(int32_t& state, bool flag);

// --------------------------------------------------------------- errors

// A condition the user can correct.
class EHintError : public Exception
{
public:
    using Exception::Exception;
};
[[noreturn]] void RaiseHint(const QString& text);

// A server write that failed: the server's whole error (its status vector,
// SQLSTATE and the text of the statement that failed, SQL()), with the data
// set and the operation (a TWriteOperation: 0 update, 1 insert, 2 delete).
class ESDS_IBError : public EIBInterBaseError
{
public:
    ESDS_IBError(const EIBInterBaseError& error, const QString& sql, uint8_t operation, TSDS* dataSet);
    TSDS* DataSet() const { return FDataSet; }
    uint8_t Operation() const { return FOperation; }

private:
    QPointer<TSDS> FDataSet;
    uint8_t FOperation;
};

// ---------------------------------------------------------------- levels

// One step of a levelled data set's path: the group whose children it shows
// and a copy of that group's values, for displaying the parent.
class TLevelInfo
{
public:
    int32_t ID = 0;
    Variant Values = Variant::Null(); // by field index; null when nothing was stored
    TDataSet* DataSet = nullptr;      // whose record was stored; not owned

    void StoreRecord(TDataSet* dataSet);
    Variant GetFieldValue(const QString& fieldName) const;
};

// The path of a levelled data set from the top level down to the level it
// shows, one TLevelInfo a step (TSDS::LevelInfos()). Owned by the data set;
// the references Items, Last, Add and Insert give stay valid only until the
// path changes (a level move, Clear, a reload).
class TLevelInfos
{
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    TLevelInfo& Items(int index) { return FItems.at(index); }
    TLevelInfo* Last() { return FItems.empty() ? nullptr : &FItems.back(); }
    const TLevelInfo* Last() const { return FItems.empty() ? nullptr : &FItems.back(); }
    void RemoveLast() { FItems.pop_back(); }
    TLevelInfo& Add() { return FItems.emplace_back(); }
    TLevelInfo& Insert(int index) { return *FItems.emplace(FItems.begin() + index); }
    void Clear() { FItems.clear(); }

private:
    std::vector<TLevelInfo> FItems;
};

// ---------------------------------------------------------------- TSDS

// The data set of a relation.
//
// Lifetimes. A QObject owned by its owner (parent); it owns its fields, its
// rows, its indexes, its statements and its lookup clone (a child freed
// first). It does not own its database, transactions or master data set:
// its statements follow TIBSQL's rules (either may be destroyed first; the
// data set's Database() or Transaction() then becomes null and the next
// server call raises), and a master that goes away leaves it unattached.
// The rows stay in memory across a disconnect; writing them back needs the
// connection again. The fields the getters below give (IdField() and so on)
// belong to the data set: do not keep them past its fields' lifetime.
// Events hold std::function objects: whatever they capture must outlive the
// data set or be cleared first.
class TSDS : public TCustomMemTable
{
    Q_OBJECT
public:
    explicit TSDS(QObject* owner = nullptr);
    ~TSDS() override;

    // After the owner has set the properties (what reading a form does).
    virtual void Loaded();
    // Stands for the form designer: field definitions are then read at once.
    bool Designing() const;
    void SetDesigning(bool value);

    // --- Published properties
    const QString& TableName() const;
    void SetTableName(const QString& name);
    TIBDatabase* Database() const;
    void SetDatabase(TIBDatabase* database);
    TIBTransaction* Transaction() const;
    void SetTransaction(TIBTransaction* transaction);
    // The transaction the writing statements (and the refreshes that must
    // see their writes) run in; SetTransaction picks the database's
    // DefaultTransactionRW when it has one.
    void SetWriteTransaction(TIBTransaction* transaction);
    TSDS* MasterDataset() const;
    void SetMasterDataset(TSDS* master);
    const QString& AutoIncFieldName() const;
    void SetAutoIncFieldName(const QString& name);
    const QString& ServerFilter() const;
    // On an open data set a new filter reloads the rows.
    void SetServerFilter(const QString& filter);
    const QString& CommandText() const;
    // The text is kept on one line (line breaks become blanks), as the
    // statement sends it: every reader sees the same text.
    void SetCommandText(const QString& text);
    TSDSOptions Options() const;
    void SetOptions(TSDSOptions options);
    TSDSLevelMode LevelMode() const;
    void SetLevelMode(TSDSLevelMode mode);
    TDatasetKind DatasetKind() const;
    void SetDatasetKind(TDatasetKind kind);
    const QString& PublicName() const;
    void SetPublicName(const QString& name);
    // A form keeps PublicName only when it says more than the component name.
    bool IsPublicNameStored() const;

    TDataSetNotifyEvent AfterDataLoaded, OnRecordLoaded;
    TSDSAccess_vent OnGetAccess, OnGetAccessTmp;
    TDataSetNotifyEvent OnLevelUp, OnLevelDown, OnSyncRecord;
    TLogEvent OnLogEvent;
    void SetOnLogEvent(TLogEvent handler) { OnLogEvent = std::move(handler); }

    // --- Access and visibility
    // Combined access to the current record: bit 0 asks the master's
    // OnGetAccess, bit 1 the master's OnGetAccessTmp, bit 2 the own OnGetAccess.
    TAccess CheckAccess(int mask);
    bool IsLookupClone() const;
    // Whether a row belongs in this data set's indexes (when they are filtered).
    bool RecordVisible(TRecordId row);

    // --- Indexes (SDSIndexes.cpp). While open, a name selects the
    // relation's key ("PRIMARY_KEY", also for an empty name) or one of its
    // indexes, built on first use; a field list gets an index made for it.
    // In level browsing every index begins with SYS$PID, which the field
    // list read back never shows, and the key searches and ranges below
    // stay inside the current level.
    QString IndexName() const override;
    void SetIndexName(const QString& name) override;
    QString IndexFieldNames() const override;
    void SetIndexFieldNames(const QString& fields) override;
    bool FindKey(const std::vector<Variant>& keyValues) override;
    void FindNearest(const std::vector<Variant>& keyValues) override;
    bool GotoKey() override;
    void GotoNearest() override;
    void SetRange(const std::vector<Variant>& startValues, const std::vector<Variant>& endValues) override;
    void SetRangeStart() override;
    void SetRangeEnd() override;
    void EditRangeStart() override;
    void EditRangeEnd() override;
    // By SYS$ID, or by the current index's single field: a key search that
    // moves to the record found. Anything else: the base lookup.
    Variant Lookup(const QString& keyFields, const Variant& keyValues, const QString& resultFields) override;
    bool HasDetailDataSets() const;
    // An attached data set's own fields must match its master's.
    void CheckFieldsAgainstMaster();

    // --- Levels (SDSLevels.cpp)
    // Confines the view to the current level's children.
    void ApplyLevelRange();
    bool LevelDown();
    bool LevelUp();
    int LevelCount() const;
    bool HasChildren();
    bool IsLeaf() const;
    int32_t CurrentID();
    void GotoID(int32_t id);
    // Positions a lookup clone on a record, the level path built from its
    // master's rows.
    bool OpenLevelOf(int32_t id);
    // Switches a levelled data set between one level and all rows at once;
    // back from all rows it opens the current record's level. False, and
    // nothing changed, without dsoLevels.
    bool ToggleLevels();
    void SetParentID(int32_t id);
    // The current index's fields, without the level prefix.
    void GetIndexFields(QList<TField*>& list) const;
    // Reading the tree a level at a time without moving the cursor, for a
    // tree view. The rows whose parent field holds parentId (a null parent
    // counts as 0), in the current index's order when that index begins with
    // the parent field, else in the order rows were added; rows the indexes
    // hide or the filters reject are left out. The view, the range and the
    // current index stay as they are. A limit above 0 gives at most that
    // many rows (the first ones).
    std::vector<TRecordId> ChildRows(const QString& parentField, int32_t parentId, size_t limit = 0);
    // Whether ChildRows would give any row; with withFilters off, whether
    // any row the indexes keep has that parent, whatever the filters say.
    bool HasChildRows(const QString& parentField, int32_t parentId, bool withFilters = true);
    // The row of the record whose SYS$ID is id among all rows the indexes
    // keep, NoRecord without one; the cursor and the view stay.
    TRecordId RowOfID(int32_t id);
    // A stored value of a row, read without moving the cursor; null for a
    // row that is gone.
    Variant RowValue(TRecordId row, const TField& field) const
    {
        return InternalRowExists(row) ? InternalGetValue(row, field) : Variant::Null();
    }
    // Runs read with the fields showing row (the cursor stays); nothing for
    // a row that is gone.
    void ReadRow(TRecordId row, const std::function<void()>& read)
    {
        if (InternalRowExists(row))
            TestRow(row, [&] {
                read();
                return true;
            });
    }
    // The parent a new record takes: the current level's group in level
    // browsing; null otherwise.
    Variant NewRecordParentID() const;

    // --- Names
    // The owners' names and this one's, outermost first, joined by ".".
    QString QualifiedName() const;

    // --- Structure and statements
    void ReadFieldDefs();
    void CreateMissingFields();
    void BindSystemFields();
    void ReadIndexes();
    void BuildStatements();
    QString ServerCondition() const;
    static bool HasTopLevelWhere(const QString& text);
    // At design time: definitions straight from the database, without the row address.
    void InitFieldDefs();

    // --- Opening and loading
    void SetActive(bool value) override;
    // Empties the table and loads it again (an attached data set reloads its
    // master). A load that fails part way closes the data set and raises:
    // part of the rows never pass for all of them. So does opening.
    void Reload();
    void FireAfterDataLoaded();
    // Rows and definitions from one of the table's files, never fetching from the server.
    void LoadFromFile(const QString& fileName) override;
    // The cached rows, brought up to date with those changed on the server
    // since startTime (0: since the newest SYS$TIME among them). A missing or
    // unusable file gives the server's rows instead (in place of any rows
    // the data set had).
    void LoadFromCache(const QString& fileName, TDateTime startTime);
    void MergeChangesSince(TDateTime time);

    const QString& KeyFields() const;
    const QStringList& IndexNames() const;
    const QStringList& IndexFieldLists() const;
    const QList<int>& IndexKinds() const;

    TField* DbKeyField() const;
    TField* TimeField() const;
    TField* IdField() const;
    TField* ParentIdField() const;
    TField* StateField() const;
    TField* AutoIncField() const;

    TLevelInfos& LevelInfos();
    TSDS* LookupClone() const;
    // The cache file the rows were taken from or are written to (when the
    // data set closes or is freed); empty without one.
    const QString& CacheFileName() const;

    // Where the data set is in its life: closed or never opened
    // (Unprepared), its structure read and statements built (Prepared), its
    // rows loaded from the server or a cache file (Loaded). A reload of the
    // rows goes back to Prepared until they are in.
    enum class TLifeState : uint8_t { Unprepared, Prepared, Loaded };
    TLifeState LifeState() const;
    bool Prepared() const;
    bool DataLoaded() const;
    // While the data set fills itself: its users' events and its server
    // writes are held back.
    bool InternalLoading() const;
    // The relation is a view the server cannot change (no triggers to
    // resolve its writes): with dsoChangesResolved the data set opens read-only.
    bool ReadOnlyView() const;

    // --- Writing to the server (SDSEditing.cpp)
    // The current record's row address: the row-address field's bytes, zeros
    // (unknown) when the field is not bound or empty.
    QByteArray RowAddress() const;
    // Type defaults for empty fields before a post (dsoInitRequiredFields,
    // dsoInitAllFields), or empty texts made null.
    void FillDefaults();
    // The next value of MAIN_GEN, shared by every relation.
    int NextGeneratorValue(int increment);
    // The current record written, re-read and (dsoAutoCommit) committed,
    // through the one write routine with its error handling and retries;
    // then audited, logged and announced.
    void InsertToServer();
    void UpdateToServer();
    // Reads the current record back from the server (by row address, or by
    // key while the address is unknown); false when the row is gone.
    bool RefreshRecord();
    void VirtualDelete();
    void CascadeDelete();
    QString BuildAuditText(TWriteOperation operation);
    void NotifyChange(TWriteOperation operation, const QByteArray& rowAddress);
    // Posts without the user's BeforePost and AfterPost and without the
    // required-field check.
    void PostWithoutEvents();

protected:
    void LoadData();
    // With server-side master-detail the master's move reloads the rows.
    void MasterChanged() override;

    // While the data set fills itself, the user's events of its rows'
    // changes and moves are held (here, in one place) and its own reactions
    // below do not run.
    bool HoldsEvent(const TDataSetNotifyEvent& event) const override;
    void DoBeforeInsert() override;
    void DoBeforeEdit() override;
    void DoAfterEdit() override;
    void DoBeforePost() override;
    void DoBeforeDelete() override;
    void DoAfterCancel() override;
    void DoOnNewRecord() override;
    void DoOnCalcFields() override;
    // A read-only view refuses edits, inserts and deletes in its own words.
    void CheckCanModify() const override;
    void DoBeforeClose() override;

    // Level browsing is in force: dsoLevels with dslmDefault or dslmShowOnlyLeveled.
    bool LevelNavigation() const;

private:
    friend class TSDSPrivate;
    // The state behind the interface and the helpers that keep it (SDS_p.h).
    const std::unique_ptr<TSDSPrivate> d;
};
