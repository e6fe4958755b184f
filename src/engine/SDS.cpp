// The data set's model: construction, properties, access and visibility,
// destruction. Field definitions and statements are in SDSStatements.cpp.
#include "SDS.h"

#include "CacheManager.h"
#include "IBDatabase.h"
#include "IBSQL.h"
#include "SDatabase.h"

// ------------------------------------------------------------ SYS$STATE

namespace {
constexpr uint32_t LeafBit = uint32_t(1) << 30;
constexpr uint32_t DeletedBit = uint32_t(1) << 31;

void SetStateBit(int32_t& state, uint32_t bit, bool flag)
{
    const uint32_t bits = static_cast<uint32_t>(state);
    state = static_cast<int32_t>(flag ? bits | bit : bits & ~bit);
}
} // namespace

bool IsDeletedState(int32_t state) { return state < 0; }
bool IsLeafState(int32_t state) { return static_cast<uint32_t>(state) & LeafBit; }
uint16_t StateOwner(int32_t state) { return static_cast<uint16_t>(state & 0xFFFF); }
void SetDeletedState(int32_t& state, bool flag) { SetStateBit(state, DeletedBit, flag); }
void SetLeafState(int32_t& state, bool flag) { SetStateBit(state, LeafBit, flag); }

// --------------------------------------------------------------- errors

void RaiseHint(const QString& text) { throw EHintError(text); }

ESDS_IBError::ESDS_IBError(const EIBInterBaseError& error, const QString& sql, uint8_t operation, TSDS* dataSet)
    : EIBInterBaseError(error), FDataSet(dataSet), FOperation(operation)
{
    SetSQL(sql);
}

// ---------------------------------------------------------------- levels

void TLevelInfo::StoreRecord(TDataSet* dataSet)
{
    DataSet = dataSet;
    if (!dataSet->Active())
        return;
    std::vector<Variant> values;
    values.reserve(dataSet->FieldCount());
    for (TField* field : dataSet->Fields())
        values.push_back(field->Value());
    Values = Variant(std::move(values));
}

Variant TLevelInfo::GetFieldValue(const QString& fieldName) const
{
    if (!DataSet || !Values.IsArray())
        return Variant::Null();
    const TField* field = DataSet->FindField(fieldName);
    return field ? Values[field->Index()] : Variant::Null();
}

// ---------------------------------------------------------- construction

TSDS::TSDS(QObject* owner)
    : TCustomMemTable(owner), FSelectSQL(std::make_unique<TIBSQL>()), FInsertSQL(std::make_unique<TIBSQL>()),
      FUpdateSQL(std::make_unique<TIBSQL>()), FUpdateByKeySQL(std::make_unique<TIBSQL>()),
      FDeleteSQL(std::make_unique<TIBSQL>()), FDeleteByKeySQL(std::make_unique<TIBSQL>()),
      FRefreshSQL(std::make_unique<TIBSQL>()), FRefreshByKeySQL(std::make_unique<TIBSQL>())
{
    // Rows come from the server in bulk: no recalculation per fetched row.
    SetStandalone(true);
    SetRecalcOnFetch(false);
    SetRecalcOnIndex(false);
    SetPerformance(mtpfSmall);
}

TSDS::~TSDS()
{
    FDestroying = true;
    ReleaseEditLock();
    SaveLocalCache();
    delete FLookupClone; // detaches itself from this data set's rows
    FLookupClone = nullptr;
    try {
        SetMasterDataset(nullptr);
        SetTableName(QString());
    } catch (...) {
        // Closing while going away: nothing left to report to.
    }
}

void TSDS::SaveLocalCache() noexcept
{
    // Only rows loaded whole, and only into the file they were cached in:
    // the connection may have moved to another database since.
    if (FMasterDataset || !FOptions.Contains(dsoLocalCachData) || FCacheFileName.isEmpty() || !DataLoaded()
        || !Active())
        return;
    try {
        // The rows are for the current filter (a new one reloads them); the
        // file says what it holds, so one written for another filter, or
        // missing, is written anew, as are changed rows.
        if (DataModified() || !TCacheManager::Holds(FCacheFileName, FTableName, FServerFilter)) {
            SaveToFile(FCacheFileName, TCacheManager::FileTag(FTableName, FServerFilter));
            ResetModified();
        }
        // Another data set on the same table may have recorded its own
        // filter meanwhile: the last one written is the one recorded.
        const auto* database = dynamic_cast<TSDatabase*>(Database());
        if (TCacheManager* manager = database ? database->CacheManager() : nullptr; manager && database->LocalCache())
            manager->Record(FCacheFileName, FTableName, FServerFilter);
    } catch (...) {
        // A cache that could not be written is read from the server next time.
    }
}

void TSDS::Loaded()
{
    if (FOptions.Contains(dsoLookupClone) && !FMasterDataset) {
        if (AttachMaxCount() == 1)
            SetAttachMaxCount(8);
        FLookupClone = new TSDS(this);
        FLookupClone->SetMasterDataset(this);
        TSDSOptions cloneOptions = FOptions - TSDSOptions{dsoLookupClone};
        if (FindField(SDSNames::ParentId))
            cloneOptions = cloneOptions + TSDSOptions{dsoLevels};
        FLookupClone->SetOptions(cloneOptions);
    }
    if (FMasterDataset) {
        FTableName = FMasterDataset->TableName();
        SetDatabase(FMasterDataset->Database());
    }
    if (FPublicName.isEmpty())
        FPublicName = objectName();
}

bool TSDS::IsPublicNameStored() const { return FPublicName.compare(objectName(), Qt::CaseInsensitive) != 0; }

QString TSDS::QualifiedName() const
{
    QString name = objectName();
    for (const QObject* owner = parent(); owner && !owner->objectName().isEmpty(); owner = owner->parent())
        name = owner->objectName() + QLatin1Char('.') + name;
    return name;
}

// ------------------------------------------------------------ properties

void TSDS::ForgetStructure()
{
    FieldDefs().Clear();
    IndexDefs().Clear();
    FKeyFields.clear();
    FIndexNames.clear();
    FIndexFieldLists.clear();
    FIndexKinds.clear();
    FDbKeyField = FTimeField = FIdField = FParentIdField = FStateField = FAutoIncField = nullptr;
}

void TSDS::SetTableName(const QString& name)
{
    if (!FTableName.isEmpty() && FTableName != name) {
        if ((DataLoaded() || FMasterDataset) && !FInternalLoading) {
            if (!FDestroying)
                FSelectSQL->Close();
            SetLifeState(TLifeState::Unprepared);
            Close();
        }
        ForgetStructure();
    }
    FTableName = name;
}

std::vector<TIBSQL*> TSDS::Statements() const
{
    return {FSelectSQL.get(), FInsertSQL.get(),      FUpdateSQL.get(),  FUpdateByKeySQL.get(),
            FDeleteSQL.get(), FDeleteByKeySQL.get(), FRefreshSQL.get(), FRefreshByKeySQL.get()};
}

std::vector<TIBSQL*> TSDS::WritingStatements() const
{
    return {FInsertSQL.get(), FUpdateSQL.get(), FUpdateByKeySQL.get(), FDeleteSQL.get(), FDeleteByKeySQL.get()};
}

TIBDatabase* TSDS::Database() const { return FSelectSQL->Database(); }

namespace {
TIBTransaction* ReadWriteTransactionOf(TIBDatabase* database)
{
    const auto* sdatabase = dynamic_cast<const TSDatabase*>(database);
    return sdatabase ? sdatabase->DefaultTransactionRW() : nullptr;
}
} // namespace

void TSDS::SetDatabase(TIBDatabase* database)
{
    for (TIBSQL* sql : Statements())
        sql->SetDatabase(database);
    if (TIBTransaction* readWrite = ReadWriteTransactionOf(database))
        for (TIBSQL* sql : WritingStatements())
            sql->SetTransaction(readWrite);
}

TIBTransaction* TSDS::Transaction() const { return FSelectSQL->Transaction(); }

void TSDS::SetTransaction(TIBTransaction* transaction)
{
    for (TIBSQL* sql : Statements())
        sql->SetTransaction(transaction);
    if (TIBTransaction* readWrite = ReadWriteTransactionOf(transaction ? transaction->DefaultDatabase() : nullptr))
        SetWriteTransaction(readWrite);
}

void TSDS::SetWriteTransaction(TIBTransaction* transaction)
{
    for (TIBSQL* sql : WritingStatements())
        sql->SetTransaction(transaction);
    FRefreshSQL->SetTransaction(transaction);
    FRefreshByKeySQL->SetTransaction(transaction);
}

void TSDS::SetMasterDataset(TSDS* master)
{
    if (master == FMasterDataset || master == this)
        return;
    Close();
    SetAttachedTo(master);
    FMasterDataset = master;
}

void TSDS::SetOptions(TSDSOptions options)
{
    const bool levelsSwitchedOn = options.Contains(dsoLevels) && !FOptions.Contains(dsoLevels);
    FOptions = options;
    if (levelsSwitchedOn)
        ApplyLevelMode(FLevelMode);
}

void TSDS::SetLevelMode(TSDSLevelMode mode)
{
    if (mode == FLevelMode)
        return;
    if (!FOptions.Contains(dsoLevels)) {
        FLevelMode = mode;
        return;
    }
    if (Active() && !FParentIdField)
        Abort();
    ApplyLevelMode(mode);
}

void TSDS::ApplyLevelMode(TSDSLevelMode mode)
{
    const QString fields = IndexFieldNames(); // without a level prefix
    const QString name = TCustomMemTable::IndexName();
    const bool named = name.compare(SDSNames::PrimaryKeyIndex, Qt::CaseInsensitive) == 0
                       || FIndexNames.contains(name, Qt::CaseInsensitive);
    FLevelMode = mode;
    FLevelInfos.Clear();
    FLevelInfos.Add(); // the root level, ID 0
    if (Active() && FParentIdField) {
        // The prefix and the filter follow the mode: the indexes are made again.
        DeleteIndexes();
        if (named)
            SetIndexName(name);
        else
            SetIndexFieldNames(fields);
    }
    if (LevelNavigation())
        ApplyLevelRange();
    else
        DataEvent(deLayoutChange);
}

bool TSDS::LevelNavigation() const
{
    return FOptions.Contains(dsoLevels) && (FLevelMode == dslmDefault || FLevelMode == dslmShowOnlyLeveled);
}

// ------------------------------------------------- access and visibility

TAccess TSDS::CheckAccess(int mask)
{
    const auto ask = [this](const TSDSAccess_vent& handler) {
        TAccess access = acFull;
        if (handler)
            handler(this, access);
        return access;
    };
    TAccess result = acFull;
    if (mask & 1) {
        RTL_ASSERT(FMasterDataset, QStringLiteral("MasterDataSet must be defined."));
        result = CombineAccess(result, ask(FMasterDataset->OnGetAccess));
    }
    if (mask & 2) {
        RTL_ASSERT(FMasterDataset, QStringLiteral("MasterDataSet must be defined."));
        result = CombineAccess(result, ask(FMasterDataset->OnGetAccessTmp));
    }
    if (mask & 4)
        result = CombineAccess(result, ask(OnGetAccess));
    return result;
}

bool TSDS::IsLookupClone() const { return FMasterDataset && FMasterDataset->LookupClone() == this; }

bool TSDS::RecordVisible(TRecordId row)
{
    const TField* state = FStateField ? FStateField.data() : FindField(SDSNames::State);
    if (!state)
        return true;
    const Variant value = InternalGetValue(row, *state);
    const int32_t bits = value.IsNull() ? 0 : value.AsInteger();
    bool visible = FOptions.Contains(dsoShowDeleted) || !IsDeletedState(bits);
    if (visible && FOptions.Contains(dsoLevels)) {
        if (FLevelMode == dslmShowOnlyLeaf)
            visible = IsLeafState(bits);
        else if (FLevelMode == dslmShowOnlyLeveled)
            visible = !IsLeafState(bits);
    }
    // The master's handlers read the row being tested through the fields.
    if (visible && IsLookupClone())
        visible = TestRow(row, [this] { return CheckAccess(3) == acFull; });
    return visible;
}
