// The data set's model: construction, properties, access and visibility,
// destruction. Field definitions and statements are in SDSStatements.cpp.
#include "SDS.h"
#include "SDS_p.h"

#include "CacheManager.h"
#include "IBDatabase.h"
#include "IBSQL.h"
#include "SDatabase.h"

#include <ibase.h> // the server's error codes

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

namespace {

// A new row refused because its key, which the data set takes from MAIN_GEN,
// is already taken: the generator is behind the table's rows. Nobody can
// mend that by editing the row (the key is hidden), so the message says
// what happened in words; empty for any other error. The server reports the
// key as "Problematic key value is ("SYS$ID" = 1)", its argument the part
// in parentheses.
QString GeneratedKeyTakenText(const EIBInterBaseError& error, uint8_t operation, const TSDS* dataSet)
{
    if (operation != woInsert || !dataSet || !error.HasCode(isc_unique_key_violation))
        return {};
    const TField* key = dataSet->AutoIncField();
    if (!key)
        return {};
    const QString prefix = QLatin1Char('"') + key->FieldName() + QStringLiteral("\" = ");
    for (const TIBStatusEntry& entry : error.Status()) {
        if (entry.Code != isc_idx_key_value || entry.Args.isEmpty())
            continue;
        QString keyValue = entry.Args.front();
        if (keyValue.startsWith(QLatin1Char('(')) && keyValue.endsWith(QLatin1Char(')')))
            keyValue = keyValue.mid(1, keyValue.size() - 2);
        if (!keyValue.startsWith(prefix) || keyValue.contains(QStringLiteral(", \"")))
            return {}; // another key, or one of several columns
        return QStringLiteral("Новая запись не сохранена: ей выдан ключ %1 = %2, а в таблице %3 уже есть запись с "
                              "таким ключом. Генератор ключей MAIN_GEN отстаёт от записей таблицы: сообщите "
                              "администратору базы данных, что его нужно установить не ниже наибольшего ключа.")
            .arg(key->FieldName(), keyValue.mid(prefix.size()), dataSet->TableName());
    }
    return {};
}

} // namespace

ESDS_IBError::ESDS_IBError(const EIBInterBaseError& error, const QString& sql, uint8_t operation, TSDS* dataSet)
    : EIBInterBaseError(error), FDataSet(dataSet), FOperation(operation)
{
    SetSQL(sql);
    // The server's own report stays in Status().
    if (const QString text = GeneratedKeyTakenText(error, operation, dataSet); !text.isEmpty())
        SetMessage(text);
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

TSDSPrivate::TSDSPrivate(TSDS& owner)
    : q(&owner), FSelectSQL(std::make_unique<TIBSQL>()), FInsertSQL(std::make_unique<TIBSQL>()),
      FUpdateSQL(std::make_unique<TIBSQL>()), FUpdateByKeySQL(std::make_unique<TIBSQL>()),
      FDeleteSQL(std::make_unique<TIBSQL>()), FDeleteByKeySQL(std::make_unique<TIBSQL>()),
      FRefreshSQL(std::make_unique<TIBSQL>()), FRefreshByKeySQL(std::make_unique<TIBSQL>())
{
}

TSDS::TSDS(QObject* owner) : TCustomMemTable(owner), d(std::make_unique<TSDSPrivate>(*this))
{
    // Rows come from the server in bulk: no recalculation per fetched row.
    SetStandalone(true);
    SetRecalcOnFetch(false);
    SetRecalcOnIndex(false);
    SetPerformance(mtpfSmall);
}

TSDS::~TSDS()
{
    d->FDestroying = true;
    d->ReleaseEditLock();
    d->SaveLocalCache();
    delete d->FLookupClone; // detaches itself from this data set's rows
    d->FLookupClone = nullptr;
    try {
        SetMasterDataset(nullptr);
        SetTableName(QString());
    } catch (...) {
        // Closing while going away: nothing left to report to.
    }
}

void TSDSPrivate::SaveLocalCache() noexcept
{
    // Only rows loaded whole, and only into the file they were cached in:
    // the connection may have moved to another database since.
    if (FMasterDataset || !FOptions.Contains(dsoLocalCachData) || FCacheFileName.isEmpty() || !q->DataLoaded()
        || !q->Active())
        return;
    try {
        // The rows are for the current filter (a new one reloads them); the
        // file says what it holds, so one written for another filter, or
        // missing, is written anew, as are changed rows.
        if (q->DataModified() || !TCacheManager::Holds(FCacheFileName, FTableName, FServerFilter)) {
            q->SaveToFile(FCacheFileName, TCacheManager::FileTag(FTableName, FServerFilter));
            q->ResetModified();
        }
        // Another data set on the same table may have recorded its own
        // filter meanwhile: the last one written is the one recorded.
        const auto* database = dynamic_cast<TSDatabase*>(q->Database());
        if (TCacheManager* manager = database ? database->CacheManager() : nullptr; manager && database->LocalCache())
            manager->Record(FCacheFileName, FTableName, FServerFilter);
    } catch (...) {
        // A cache that could not be written is read from the server next time.
    }
}

void TSDS::Loaded()
{
    if (d->FOptions.Contains(dsoLookupClone) && !d->FMasterDataset) {
        if (AttachMaxCount() == 1)
            SetAttachMaxCount(8);
        d->FLookupClone = new TSDS(this);
        d->FLookupClone->SetMasterDataset(this);
        TSDSOptions cloneOptions = d->FOptions - TSDSOptions{dsoLookupClone};
        if (FindField(SDSNames::ParentId))
            cloneOptions = cloneOptions + TSDSOptions{dsoLevels};
        d->FLookupClone->SetOptions(cloneOptions);
    }
    if (d->FMasterDataset) {
        d->FTableName = d->FMasterDataset->TableName();
        SetDatabase(d->FMasterDataset->Database());
    }
    if (d->FPublicName.isEmpty())
        d->FPublicName = objectName();
}

bool TSDS::IsPublicNameStored() const { return d->FPublicName.compare(objectName(), Qt::CaseInsensitive) != 0; }

QString TSDS::QualifiedName() const
{
    QString name = objectName();
    for (const QObject* owner = parent(); owner && !owner->objectName().isEmpty(); owner = owner->parent())
        name = owner->objectName() + QLatin1Char('.') + name;
    return name;
}

// ------------------------------------------------------------ properties

void TSDSPrivate::ForgetStructure()
{
    q->FieldDefs().Clear();
    q->IndexDefs().Clear();
    FKeyFields.clear();
    FIndexNames.clear();
    FIndexFieldLists.clear();
    FIndexKinds.clear();
    FDbKeyField = FTimeField = FIdField = FParentIdField = FStateField = FAutoIncField = nullptr;
}

void TSDS::SetTableName(const QString& name)
{
    if (!d->FTableName.isEmpty() && d->FTableName != name) {
        if ((DataLoaded() || d->FMasterDataset) && !d->FInternalLoading) {
            if (!d->FDestroying)
                d->FSelectSQL->Close();
            d->SetLifeState(TSDS::TLifeState::Unprepared);
            Close();
        }
        d->ForgetStructure();
    }
    d->FTableName = name;
}

std::vector<TIBSQL*> TSDSPrivate::Statements() const
{
    return {FSelectSQL.get(), FInsertSQL.get(),      FUpdateSQL.get(),  FUpdateByKeySQL.get(),
            FDeleteSQL.get(), FDeleteByKeySQL.get(), FRefreshSQL.get(), FRefreshByKeySQL.get()};
}

std::vector<TIBSQL*> TSDSPrivate::WritingStatements() const
{
    return {FInsertSQL.get(), FUpdateSQL.get(), FUpdateByKeySQL.get(), FDeleteSQL.get(), FDeleteByKeySQL.get()};
}

TIBDatabase* TSDS::Database() const { return d->FSelectSQL->Database(); }

namespace {
TIBTransaction* ReadWriteTransactionOf(TIBDatabase* database)
{
    const auto* sdatabase = dynamic_cast<const TSDatabase*>(database);
    return sdatabase ? sdatabase->DefaultTransactionRW() : nullptr;
}
} // namespace

void TSDS::SetDatabase(TIBDatabase* database)
{
    for (TIBSQL* sql : d->Statements())
        sql->SetDatabase(database);
    if (TIBTransaction* readWrite = ReadWriteTransactionOf(database))
        for (TIBSQL* sql : d->WritingStatements())
            sql->SetTransaction(readWrite);
}

TIBTransaction* TSDS::Transaction() const { return d->FSelectSQL->Transaction(); }

void TSDS::SetTransaction(TIBTransaction* transaction)
{
    for (TIBSQL* sql : d->Statements())
        sql->SetTransaction(transaction);
    if (TIBTransaction* readWrite = ReadWriteTransactionOf(transaction ? transaction->DefaultDatabase() : nullptr))
        SetWriteTransaction(readWrite);
}

void TSDS::SetWriteTransaction(TIBTransaction* transaction)
{
    for (TIBSQL* sql : d->WritingStatements())
        sql->SetTransaction(transaction);
    d->FRefreshSQL->SetTransaction(transaction);
    d->FRefreshByKeySQL->SetTransaction(transaction);
}

void TSDS::SetMasterDataset(TSDS* master)
{
    if (master == d->FMasterDataset || master == this)
        return;
    Close();
    SetAttachedTo(master);
    d->FMasterDataset = master;
}

void TSDS::SetOptions(TSDSOptions options)
{
    const bool levelsSwitchedOn = options.Contains(dsoLevels) && !d->FOptions.Contains(dsoLevels);
    d->FOptions = options;
    if (levelsSwitchedOn)
        d->ApplyLevelMode(d->FLevelMode);
}

void TSDS::SetLevelMode(TSDSLevelMode mode)
{
    if (mode == d->FLevelMode)
        return;
    if (!d->FOptions.Contains(dsoLevels)) {
        d->FLevelMode = mode;
        return;
    }
    if (Active() && !d->FParentIdField)
        Abort();
    d->ApplyLevelMode(mode);
}

void TSDSPrivate::ApplyLevelMode(TSDSLevelMode mode)
{
    const QString fields = q->IndexFieldNames(); // without a level prefix
    const QString name = q->TCustomMemTable::IndexName();
    const bool named = name.compare(SDSNames::PrimaryKeyIndex, Qt::CaseInsensitive) == 0
                       || FIndexNames.contains(name, Qt::CaseInsensitive);
    FLevelMode = mode;
    FLevelInfos.Clear();
    FLevelInfos.Add(); // the root level, ID 0
    if (q->Active() && FParentIdField) {
        // The prefix and the filter follow the mode: the indexes are made again.
        q->DeleteIndexes();
        if (named)
            q->SetIndexName(name);
        else
            q->SetIndexFieldNames(fields);
    }
    if (q->LevelNavigation())
        q->ApplyLevelRange();
    else
        q->DataEvent(deLayoutChange);
}

bool TSDS::LevelNavigation() const
{
    return d->FOptions.Contains(dsoLevels) && (d->FLevelMode == dslmDefault || d->FLevelMode == dslmShowOnlyLeveled);
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
        RTL_ASSERT(d->FMasterDataset, QStringLiteral("MasterDataSet must be defined."));
        result = CombineAccess(result, ask(d->FMasterDataset->OnGetAccess));
    }
    if (mask & 2) {
        RTL_ASSERT(d->FMasterDataset, QStringLiteral("MasterDataSet must be defined."));
        result = CombineAccess(result, ask(d->FMasterDataset->OnGetAccessTmp));
    }
    if (mask & 4)
        result = CombineAccess(result, ask(OnGetAccess));
    return result;
}

bool TSDS::IsLookupClone() const { return d->FMasterDataset && d->FMasterDataset->LookupClone() == this; }

bool TSDS::RecordVisible(TRecordId row)
{
    const TField* state = d->FStateField ? d->FStateField.data() : FindField(SDSNames::State);
    if (!state)
        return true;
    const Variant value = InternalGetValue(row, *state);
    const int32_t bits = value.IsNull() ? 0 : value.AsInteger();
    bool visible = d->FOptions.Contains(dsoShowDeleted) || !IsDeletedState(bits);
    if (visible && d->FOptions.Contains(dsoLevels)) {
        if (d->FLevelMode == dslmShowOnlyLeaf)
            visible = IsLeafState(bits);
        else if (d->FLevelMode == dslmShowOnlyLeveled)
            visible = !IsLeafState(bits);
    }
    // The master's handlers read the row being tested through the fields.
    if (visible && IsLookupClone())
        visible = TestRow(row, [this] { return CheckAccess(3) == acFull; });
    return visible;
}

// ------------------------------------------------------ state, read back

bool TSDS::Designing() const { return d->FDesigning; }
void TSDS::SetDesigning(bool value) { d->FDesigning = value; }
const QString& TSDS::TableName() const { return d->FTableName; }
TSDS* TSDS::MasterDataset() const { return d->FMasterDataset; }
const QString& TSDS::AutoIncFieldName() const { return d->FAutoIncFieldName; }
void TSDS::SetAutoIncFieldName(const QString& name) { d->FAutoIncFieldName = name; }
const QString& TSDS::ServerFilter() const { return d->FServerFilter; }
const QString& TSDS::CommandText() const { return d->FCommandText; }
TSDSOptions TSDS::Options() const { return d->FOptions; }
TSDSLevelMode TSDS::LevelMode() const { return d->FLevelMode; }
TDatasetKind TSDS::DatasetKind() const { return d->FDatasetKind; }
void TSDS::SetDatasetKind(TDatasetKind kind) { d->FDatasetKind = kind; }
const QString& TSDS::PublicName() const { return d->FPublicName; }
void TSDS::SetPublicName(const QString& name) { d->FPublicName = name; }
int TSDS::LevelCount() const { return d->FLevelInfos.Count(); }
const QString& TSDS::KeyFields() const { return d->FKeyFields; }
const QStringList& TSDS::IndexNames() const { return d->FIndexNames; }
const QStringList& TSDS::IndexFieldLists() const { return d->FIndexFieldLists; }
const QList<int>& TSDS::IndexKinds() const { return d->FIndexKinds; }
TField* TSDS::DbKeyField() const { return d->FDbKeyField; }
TField* TSDS::TimeField() const { return d->FTimeField; }
TField* TSDS::IdField() const { return d->FIdField; }
TField* TSDS::ParentIdField() const { return d->FParentIdField; }
TField* TSDS::StateField() const { return d->FStateField; }
TField* TSDS::AutoIncField() const { return d->FAutoIncField; }
TLevelInfos& TSDS::LevelInfos() { return d->FLevelInfos; }
TSDS* TSDS::LookupClone() const { return d->FLookupClone; }
const QString& TSDS::CacheFileName() const { return d->FCacheFileName; }
TSDS::TLifeState TSDS::LifeState() const { return d->FLifeState; }
bool TSDS::Prepared() const { return d->FLifeState != TSDS::TLifeState::Unprepared; }
bool TSDS::DataLoaded() const { return d->FLifeState == TSDS::TLifeState::Loaded; }
bool TSDS::InternalLoading() const { return d->FInternalLoading; }
bool TSDS::ReadOnlyView() const { return d->FReadOnlyView; }
