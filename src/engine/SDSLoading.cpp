// Opening and closing, the bulk load of the main select, reloading (also on
// a master or server-filter change) and the local cache of rows.
#include "SDS.h"
#include "SDS_p.h"

#include "BusyCursor.h"
#include "CacheManager.h"
#include "DataSource.h"
#include "IBDatabase.h"
#include "IBSQL.h"
#include "SDSQuietFields.h"
#include "SDatabase.h"
#include "SysUtils.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <cmath>
#include <limits>
#include <optional>

namespace {

// Options a data set must not act on while it fills itself: its changes
// then stay local.
const TSDSOptions ServerWriteOptions{dsoChangesResolved,   dsoAutoCommit,       dsoSendNotification,
                                     dsoRefreshBeforeEdit, dsoRefreshAfterEdit, dsoPessimisticLock};

// How a server column moves into a field, decided once per load.
enum TTransfer : int {
    trNone = -1,
    trText = 1,
    trInteger = 2,
    trFloat = 3,
    trDateTime = 4,
    trInt64 = 5,
    trExactFloat = 6,    // the column's double is already the field's value (see ExactFloatBound)
    trExactDateTime = 7, // so is its date and time (see IsExactDateTime)
    trVariant = 99,
    trDbKey = 100,
};

TTransfer TransferFor(const TField& field)
{
    if (field.FieldName().compare(SDSNames::DbKey, Qt::CaseInsensitive) == 0)
        return trDbKey;
    switch (field.DataType()) {
    case ftString:
    case ftBlob:
    case ftMemo: return trText;
    case ftSmallint:
    case ftInteger: return trInteger;
    case ftFloat:
    case ftCurrency:
    case ftBCD: return trFloat;
    case ftDate:
    case ftDateTime: return trDateTime;
    case ftLargeint: return trInt64;
    default: return trVariant;
    }
}

// Below what magnitude the column's doubles need no normalizing for the
// field; 0 when they always do. A float field takes any finite double. A BCD
// field rounds to its decimals and checks its precision: a scaled integer of
// no more decimals gives the rounded double already (one division, rounded
// once), so only the precision's limit is left.
double ExactFloatBound(const TField& field, const TIBXSQLVAR& column)
{
    constexpr double unlimited = std::numeric_limits<double>::infinity();
    if (field.DataType() == ftFloat)
        return unlimited;
    const int type = column.SQLType() & ~1;
    const bool scaledInteger = type == IBType::Short || type == IBType::Long || type == IBType::Int64;
    if (field.DataType() != ftBCD || !scaledInteger || column.Scale() > 0 || -column.Scale() > field.Size())
        return 0;
    const auto* bcd = qobject_cast<const TBCDField*>(&field);
    const int precision = bcd ? bcd->Precision() : 18;
    if (precision <= field.Size())
        return unlimited;
    double limit = 1;
    for (int i = field.Size(); i < precision; ++i)
        limit *= 10;
    return limit;
}

// Whether the column's date and time is already the field's value: the
// client layer decodes whole days and milliseconds as the field would keep
// them, and a date-and-time field holds any date or time the server does.
bool IsExactDateTime(const TField& field, const TIBXSQLVAR& column)
{
    const int type = column.SQLType() & ~1;
    if (field.DataType() == ftDate)
        return type == IBType::Date;
    return field.DataType() == ftDateTime
           && (type == IBType::Timestamp || type == IBType::Date || type == IBType::Time);
}

// The column's value as the field stores it (the column is not null).
Variant ColumnValue(const TIBXSQLVAR& column, TTransfer code, const TField& field, double exactBound = 0)
{
    switch (code) {
    case trExactFloat: {
        const double value = column.AsDouble();
        return std::fabs(value) < exactBound ? Variant(value) : field.Normalize(Variant(value));
    }
    case trText:
        // Binary blobs keep their bytes: text would not survive the round trip.
        return field.DataType() == ftBlob ? Variant(column.AsBytes()) : Variant(column.AsString());
    case trInteger: return Variant(column.AsInteger());
    case trFloat: return field.Normalize(Variant(column.AsDouble()));
    case trDateTime: return field.Normalize(Variant::FromDateTime(column.AsDateTime()));
    case trExactDateTime: return Variant::FromDateTime(column.AsDateTime());
    case trInt64: return Variant(column.AsInt64());
    case trDbKey: return Variant(column.AsBytes());
    default: return field.Normalize(column.AsVariant());
    }
}

// Stored fields take the select's columns: data fields, and the
// internal-calculated ones (computed columns, columns a select text joins in),
// which are only never written back.
bool IsServerColumnField(const TField& field)
{
    return field.FieldKind() == fkData || field.FieldKind() == fkInternalCalc;
}

} // namespace

using TLoading = TSDSPrivate::TLoading;

// A field and the column it is filled from.
struct TSDSPrivate::TColumnPlan
{
    TField* Field;
    int Column;
    TTransfer Code;
    double ExactBound = 0; // trExactFloat's
};

// The one guard of a data set's loading state. Every path that fills the
// data set (opening, loading, reloading, merging, reading a file, the
// AfterDataLoaded handler) holds one for its duration, naming the parts it
// switches off; scopes nest, each giving back what it found. InternalLoading
// is set for the scope's life (cleared, with Open), and only here.
//
// Done() ends a path that succeeded: everything is given back, and what
// cannot be (a unique index over duplicate rows) fails the path. A scope
// left without Done() (an error is on its way) cancels a row the path left
// pending, gives everything back quietly and, when it replaces the rows,
// closes the data set: part of the rows would pass for all of them.
class TSDSPrivate::TLoading
{
public:
    enum TPart : unsigned {
        None = 0,
        Writable = 1 << 0,   // ReadOnly off
        Local = 1 << 1,      // server writes off: changes stay local
        Quiet = 1 << 2,      // controls disabled
        IndexesOff = 1 << 3, // indexes off, rebuilt once at the end
        Bulk = 1 << 4,       // field handlers, required and read-only flags, auto-calculation and
                             // auto-reposition off, calculation held per row; at the end the
                             // select's cursor closes, the modified flag clears and the local
                             // master link applies again
        KeyOrder = 1 << 5,   // IndexFieldNames put back
        File = 1 << 6,       // a table file brings definitions and rows, nothing is fetched
        Rows = 1 << 7,       // the rows are replaced: a failure closes the data set
        Open = 1 << 8,       // the table opens as any table does: InternalLoading is off
    };

    TLoading(TSDSPrivate& data, unsigned parts);
    ~TLoading();
    TLoading(const TLoading&) = delete;
    TLoading& operator=(const TLoading&) = delete;

    void Done();
    // A close inside a load: a reopen that follows opens as any open does,
    // until the scopes around it give back what they found.
    static void Interrupt(TSDSPrivate& data) { data.FInternalLoading = false; }

private:
    bool Has(TPart part) const { return FParts & part; }
    // Gives everything back; the first failure is returned, the rest run anyway.
    std::exception_ptr Restore() noexcept;

    TSDSPrivate& FData;
    const unsigned FParts;
    bool FDone = false;
    const bool FWasLoading;
    const bool FHadPendingRow;
    bool FReadOnly = false, FIndexesOn = false, FAutoReposition = false, FAutoCalc = false, FLoadingFile = false;
    TSDSOptions FOptions;
    QString FIndexFieldNames;
    std::optional<TQuietFields> FQuietFields;
};

TSDSPrivate::TLoading::TLoading(TSDSPrivate& data, unsigned parts)
    : FData(data), FParts(parts), FWasLoading(data.FInternalLoading),
      FHadPendingRow(data.q->State() != dsBrowse && data.q->State() != dsInactive)
{
    TSDS& ds = *FData.q;
    FData.FInternalLoading = !Has(Open);
    if (Has(Writable)) {
        FReadOnly = ds.ReadOnly();
        ds.SetReadOnly(false);
    }
    if (Has(Local) || Has(File)) {
        FOptions = FData.FOptions;
        FData.FOptions = FData.FOptions - (Has(Local) ? ServerWriteOptions : TSDSOptions{})
                         - (Has(File) ? TSDSOptions{dsoLoadData} : TSDSOptions{});
    }
    if (Has(File)) {
        FLoadingFile = FData.FLoadingFile;
        FData.FLoadingFile = true;
    }
    if (Has(Quiet))
        ds.DisableControls();
    if (Has(IndexesOff)) {
        FIndexesOn = ds.EnableIndexes();
        ds.SetEnableIndexes(false);
    }
    if (Has(Bulk)) {
        FAutoReposition = ds.AutoReposition();
        FAutoCalc = ds.AutoCalcFields();
        ds.SetAutoReposition(false);
        FQuietFields.emplace(ds, TQuietFields::Writable);
    }
    if (Has(KeyOrder))
        FIndexFieldNames = ds.IndexFieldNames();
}

TSDSPrivate::TLoading::~TLoading()
{
    if (FDone)
        return;
    TSDS& ds = *FData.q;
    try {
        if (!FHadPendingRow && ds.Active())
            ds.Cancel(); // a half-filled row must not be posted by the next move
    } catch (...) {
    }
    Restore();
    if (Has(Rows))
        FData.CloseAfterFailedLoad();
}

void TSDSPrivate::TLoading::Done()
{
    FDone = true;
    if (const std::exception_ptr failure = Restore()) {
        if (Has(Rows))
            FData.CloseAfterFailedLoad();
        std::rethrow_exception(failure);
    }
}

std::exception_ptr TSDSPrivate::TLoading::Restore() noexcept
{
    TSDS& ds = *FData.q;
    std::exception_ptr failure;
    const auto step = [&failure](auto&& action) {
        try {
            action();
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    };
    if (Has(Bulk)) {
        step([&] {
            FData.FSelectSQL->Close();
            if (!FData.FOptions.Contains(dsoDontFreeSelectHandle))
                FData.FSelectSQL->FreeHandle();
        });
        FQuietFields.reset();
        ds.SetAutoCalcFields(FAutoCalc);
        FData.FLoadCalc = TLoadCalc::Free;
    }
    if (Has(IndexesOff) && FIndexesOn)
        step([&] { FData.EnableIndexesAfterLoad(); }); // rebuilt once, for all rows
    if (Has(Bulk)) {
        ds.SetAutoReposition(FAutoReposition);
        ds.ResetModified();
        if (ds.Active() && !ds.MasterFields().isEmpty())
            step([&] { ds.TCustomMemTable::MasterChanged(); });
    }
    if (Has(KeyOrder) && ds.Active())
        step([&] { ds.SetIndexFieldNames(FIndexFieldNames); });
    if (Has(Quiet))
        step([&] { ds.EnableControls(); });
    if (Has(File))
        FData.FLoadingFile = FLoadingFile;
    if (Has(Local) || Has(File))
        FData.FOptions = FOptions;
    if (Has(Writable))
        ds.SetReadOnly(FReadOnly);
    FData.FInternalLoading = FWasLoading;
    return failure;
}

void TSDSPrivate::RunQuietly(const std::function<void()>& action)
{
    TLoading loading(*this, TLoading::Quiet);
    action();
    loading.Done();
}

void TSDSPrivate::CloseAfterFailedLoad() noexcept
{
    SetLifeState(TSDS::TLifeState::Unprepared);
    try {
        q->TCustomMemTable::SetActive(false);
    } catch (...) {
    }
    RestoreServerLookups();
    // Closed, the table only keeps the switch: the next open builds its indexes.
    q->SetEnableIndexes(true);
}

// --------------------------------------------------------------- opening

void TSDS::SetActive(bool value)
{
    if (d->FLoadingFile) {
        // A file brings its own definitions and rows.
        TCustomMemTable::SetActive(value);
        return;
    }
    if (d->FMasterDataset) {
        if (!value || d->FInternalLoading || DataLoaded()) {
            TCustomMemTable::SetActive(value);
            if (!value)
                d->RestoreServerLookups();
        } else {
            d->OpenAttached();
            if (!MasterFields().isEmpty())
                TCustomMemTable::MasterChanged();
        }
    } else if (!value) {
        d->SaveLocalCache(); // the rows go with the table
        d->SetLifeState(TSDS::TLifeState::Unprepared);
        // A reopen inside a load (a cache file given up for the server)
        // opens as any open does, its events not held back.
        TSDSPrivate::TLoading::Interrupt(*d);
        TCustomMemTable::SetActive(false);
        d->RestoreServerLookups();
        return;
    } else {
        bool fromServer = false;
        if (!Prepared()) {
            if (!d->FTableName.isEmpty() || !d->FCommandText.isEmpty()) {
                d->OpenFromServer();
                fromServer = true;
            } else {
                // A purely local table: nothing to read or write on a server.
                d->FOptions = d->FOptions - (ServerWriteOptions + TSDSOptions{dsoLoadData, dsoLoadAllFields})
                              + TSDSOptions{dsoFieldsDefaultVisible};
                CreateMissingFields();
            }
        }
        TCustomMemTable::SetActive(true);
        if (fromServer) {
            FireAfterDataLoaded();
            // The rows are the server's to keep: nothing can be written back.
            if (d->FReadOnlyView && d->FOptions.Contains(dsoChangesResolved))
                SetReadOnly(true);
        }
    }
    if (value && Active()) {
        BindSystemFields();
        d->SelectOpeningIndex();
    }
}

void TSDSPrivate::OpenFromServer()
{
    const QString filter = q->Filter();
    const bool filtered = q->Filtered();
    SetLifeState(TSDS::TLifeState::Unprepared);
    FCacheFileName.clear(); // named again when the rows come through the cache
    if (FReadOnlyView) {
        // Imposed by the relation last opened: this one speaks for itself.
        FReadOnlyView = false;
        q->SetReadOnly(false);
    }
    FAddressesFromFile = false;
    TLoading loading(*this, TLoading::Writable | TLoading::Rows);
    PrepareAndOpenTable();
    if (!LoadFromLocalCache())
        q->LoadData();
    SetLifeState(TSDS::TLifeState::Loaded);
    loading.Done();
    q->SetFilter(filter);
    q->SetFiltered(filtered);
}

void TSDSPrivate::PrepareAndOpenTable()
{
    q->ReadFieldDefs();
    SetLifeState(TSDS::TLifeState::Prepared);
    q->CreateMissingFields();
    q->BuildStatements();
    StoreServerLookups();
    {
        // The empty table opens as any table does, its events not held back.
        TLoading opening(*this, TLoading::Open);
        q->TCustomMemTable::SetActive(true);
        opening.Done();
    }
    q->BindSystemFields();
}

void TSDSPrivate::StoreServerLookups()
{
    if (!FOptions.Contains(dsoCalcLookupOnServer))
        return;
    for (TField* field : q->Fields())
        if (field->FieldKind() == fkLookup && q->FieldDefs().Find(field->FieldName())) {
            field->SetFieldKind(fkInternalCalc);
            FServerLookups.push_back(field);
        }
}

void TSDSPrivate::RestoreServerLookups()
{
    for (TField* field : FServerLookups)
        if (field)
            field->SetFieldKind(fkLookup);
    FServerLookups.clear();
}

bool TSDSPrivate::IsServerLookup(const TField* field) const
{
    return std::find(FServerLookups.begin(), FServerLookups.end(), field) != FServerLookups.end();
}

bool TSDSPrivate::LoadFromLocalCache()
{
    auto* database = dynamic_cast<TSDatabase*>(q->Database());
    if (!FOptions.Contains(dsoLocalCachData) || !database || !database->LocalCache())
        return false;
    CheckLocalCachePossible();
    // The table name keys the file, the server filter stamps its version.
    if (!database->CacheManager()->CheckEntry(q, FCacheFileName, FTableName, FServerFilter))
        return false;
    q->LoadFromCache(FCacheFileName, 0);
    return true;
}

void TSDSPrivate::CheckLocalCachePossible() const
{
    QStringList missing;
    if (!FTimeField)
        missing << QStringLiteral("нет поля SYS$TIME");
    if (FKeyFields.isEmpty())
        missing << QStringLiteral("нет первичного ключа или уникального индекса");
    // Without them a cached copy could never be brought up to date: refused
    // before any file is named, read or written.
    if (!missing.isEmpty())
        RaiseHint(q->QualifiedName() + QStringLiteral(": локальный кэш (dsoLocalCachData) для таблицы ") + FTableName
                  + QStringLiteral(" невозможен - ") + missing.join(QStringLiteral(", ")) + QLatin1Char('.'));
}

void TSDSPrivate::CheckNotArray(const TIBXSQLVAR& column) const
{
    if ((column.SQLType() & ~1) == IBType::Array)
        RaiseArrayColumn(column.RelationName(), column.SqlName());
}

void TSDSPrivate::OpenAttached()
{
    const QString indexFieldNames = q->IndexFieldNames();
    const QString indexName = q->IndexName();
    const QString filter = q->Filter();
    const bool filtered = q->Filtered();
    const bool readOnly = q->ReadOnly();
    TSDS& master = *FMasterDataset;
    master.Open();
    {
        TLoading loading(*this, TLoading::None);
        q->CheckFieldsAgainstMaster();
        SetLifeState(master.d->FLifeState);
        FTableName = master.d->FTableName;
        FKeyFields = master.d->FKeyFields;
        FIndexNames = master.d->FIndexNames;
        FIndexFieldLists = master.d->FIndexFieldLists;
        FReadOnlyView = master.d->FReadOnlyView;
        q->DeleteIndexes();
        q->TCustomMemTable::SetActive(true);
        q->BindSystemFields();
        loading.Done();
    }
    if (!indexFieldNames.isEmpty())
        q->SetIndexFieldNames(indexFieldNames);
    if (!indexName.isEmpty())
        q->SetIndexName(indexName);
    q->SetFilter(filter);
    q->SetFiltered(filtered);
    // Writes go through the master's statements and transactions.
    const std::vector<TIBSQL*> own = Statements(), masters = master.d->Statements();
    for (size_t i = 0; i < own.size(); ++i) {
        own[i]->Close();
        own[i]->SetTransaction(masters[i]->Transaction());
        own[i]->SetDatabase(masters[i]->Database());
        own[i]->SetGoToFirstRecordOnExecute(masters[i]->GoToFirstRecordOnExecute());
        own[i]->SQL().SetText(masters[i]->SQL().Text());
    }
    q->BindSystemFields();
    if (!q->ReadOnly())
        q->SetReadOnly(readOnly || (FReadOnlyView && FOptions.Contains(dsoChangesResolved)));
    FDatasetKind = master.d->FDatasetKind;
}

// ----------------------------------------------------------- bulk loading

void TSDS::LoadData()
{
    if (!d->FOptions.Contains(dsoLoadData))
        return;
    const TBusyCursor busy;
    TLoading loading(*d, TLoading::Quiet | TLoading::IndexesOff | TLoading::Bulk);
    d->FetchRows();
    loading.Done();
}

void TSDSPrivate::SetMasterParams()
{
    const TDataSet* master = q->MasterSource() ? q->MasterSource()->DataSet() : nullptr;
    if (!master)
        return;
    master->CheckActive(); // a closed master has no fields to read the values from
    for (const auto& [masterField, detail] : MasterDetailPairs())
        FSelectSQL->ParamByName(SDSNames::MasterParamPrefix + detail)
            .SetAsVariant(master->FieldByName(masterField)->Value());
}

void TSDSPrivate::FetchRows()
{
    TIBSQL& sql = *FSelectSQL;
    const auto startTransaction = [&sql] {
        if (!sql.Transaction())
            IBClientError(IBMessages::TransactionNotAssigned);
        if (!sql.Transaction()->InTransaction())
            sql.Transaction()->StartTransaction();
    };
    if (FCommandText.isEmpty()) {
        sql.Close();
        sql.SetGoToFirstRecordOnExecute(true);
        startTransaction();
        sql.Prepare();
    }
    if (FOptions.Contains(dsoHandleMDBySQL) && !q->MasterFields().isEmpty())
        SetMasterParams();
    startTransaction();
    sql.ExecQuery();

    // Which column fills which field, decided once.
    const bool lookupsFromServer = FOptions.Contains(dsoCalcLookupOnServer);
    std::vector<TColumnPlan> plan;
    bool onlyStoredFields = true;
    for (TField* field : q->Fields()) {
        const int column = sql.FieldIndex(field->FieldName());
        // Lookup fields read from the server are stored while the table is open.
        const bool read = IsServerLookup(field)
                          || (IsServerColumnField(*field) && (field->ProviderFlags() != 0 || lookupsFromServer));
        if (read && column >= 0)
            CheckNotArray(sql.Fields(column));
        TTransfer code = read && column >= 0 ? TransferFor(*field) : trNone;
        if (!field->IsStored())
            onlyStoredFields = false;
        const double exactBound = code == trFloat ? ExactFloatBound(*field, sql.Fields(column)) : 0;
        if (exactBound > 0)
            code = trExactFloat;
        else if (code == trDateTime && IsExactDateTime(*field, sql.Fields(column)))
            code = trExactDateTime;
        if (code != trNone)
            plan.push_back({field, column, code, exactBound});
    }

    // Rows that nobody looks at one by one go straight into the table.
    if (onlyStoredFields && !q->OnRecordLoaded && !q->OnCalcFields && FDatasetKind == dkUnknown)
        AppendRowsDirectly(sql, plan);
    else
        AppendRowsOneByOne(sql, plan);
}

void TSDSPrivate::AppendRowsDirectly(TIBSQL& sql, const std::vector<TColumnPlan>& plan)
{
    // Rows go straight into the store where the table allows it, and the
    // view is made once.
    const bool direct = q->CanLoadIntoStore();
    std::vector<int> places; // each planned value's place in a row
    for (const TColumnPlan& p : plan)
        places.push_back(direct ? q->StoreColumn(*p.Field) : p.Field->Index());

    std::vector<Variant> values(direct ? q->Store().ColumnCount() : q->Fields().Count());
    for (; !sql.Eof(); sql.Next()) {
        for (size_t i = 0; i < plan.size(); ++i) {
            const TColumnPlan& p = plan[i];
            const TIBXSQLVAR& column = sql.Fields(p.Column);
            values[places[i]] = column.IsNull() ? Variant() : ColumnValue(column, p.Code, *p.Field, p.ExactBound);
        }
        if (direct)
            q->Store().Insert(values);
        else
            q->InternalInsertRow(values, -1);
    }
    if (direct)
        q->InternalRefreshView();
    q->Resync();
}

void TSDSPrivate::AppendRowsOneByOne(TIBSQL& sql, const std::vector<TColumnPlan>& plan)
{
    const bool autoCalc = q->AutoCalcFields();
    // Calculated fields are computed once per row, when its last value is in.
    FLoadCalc = TLoadCalc::Held; // freed by the load's guard
    for (; !sql.Eof(); sql.Next()) {
        q->Append();
        q->SetAutoCalcFields(false);
        for (size_t i = 0; i < plan.size(); ++i) {
            const TColumnPlan& p = plan[i];
            const bool last = i + 1 == plan.size();
            if (last) {
                q->SetAutoCalcFields(autoCalc);
                FLoadCalc = TLoadCalc::Due;
            }
            const TIBXSQLVAR& column = sql.Fields(p.Column);
            if (!column.IsNull())
                p.Field->SetValue(ColumnValue(column, p.Code, *p.Field, p.ExactBound));
            else if (last)
                p.Field->Clear();
            FLoadCalc = TLoadCalc::Held;
        }
        if (q->OnRecordLoaded) {
            q->OnRecordLoaded(q);
            if (q->State() == dsBrowse)
                continue; // the handler posted or dropped the row itself
        }
        if (FDatasetKind == dkOperativka && q->CheckAccess(4) == acNone)
            q->Cancel();
        else if (FDatasetKind == dkLookup) {
            q->CheckAccess(4); // asked for every row, kept whatever the answer
            q->Post();
        } else
            q->Post();
    }
}

void TSDS::FireAfterDataLoaded()
{
    if (!AfterDataLoaded)
        return;
    TLoading loading(*d, TLoading::Local);
    AfterDataLoaded(this);
    loading.Done();
}

void TSDS::Reload()
{
    if (!Active() || !Prepared())
        return;
    if (d->FMasterDataset) {
        TLoading loading(*d, TLoading::IndexesOff);
        d->FMasterDataset->Reload();
        loading.Done();
        return;
    }
    TLoading loading(*d, TLoading::Writable | TLoading::Quiet);
    d->ReloadRows();
    FireAfterDataLoaded();
    loading.Done();
}

void TSDSPrivate::ReloadRows()
{
    TLoading loading(*this, TLoading::Writable | TLoading::Quiet | TLoading::Rows);
    SetLifeState(TSDS::TLifeState::Prepared);
    q->EmptyTable();
    FAddressesFromFile = false;
    q->LoadData();
    SetLifeState(TSDS::TLifeState::Loaded);
    loading.Done();
}

void TSDS::MasterChanged()
{
    if (!d->FOptions.Contains(dsoHandleMDBySQL) || MasterFields().isEmpty()) {
        TCustomMemTable::MasterChanged();
        return;
    }
    // A closed data set reads its master's values when it opens.
    if (!Active() || (d->FSelectSQL->Prepared() && d->MasterParamsCurrent()))
        return;
    Reload();
    FireAfterDataLoaded();
}

bool TSDSPrivate::MasterParamsCurrent()
{
    const TDataSet* master = q->MasterSource() ? q->MasterSource()->DataSet() : nullptr;
    if (!master || !master->Active())
        return false;
    for (const auto& [masterField, detail] : MasterDetailPairs()) {
        const TIBXSQLVAR& param = FSelectSQL->ParamByName(SDSNames::MasterParamPrefix + detail);
        const TField* field = master->FindField(masterField);
        const QString masterText = field ? field->AsString() : QString();
        if ((param.IsNull() ? QString() : param.AsString()) != masterText)
            return false;
    }
    return true;
}

void TSDS::SetServerFilter(const QString& filter)
{
    if (d->FMasterDataset)
        throw Exception(QStringLiteral("Нельзя устанавливать ServerFilter у клона !"));
    if (!Active() || !Prepared()) {
        d->FServerFilter = filter;
        return;
    }
    if (filter == d->FServerFilter)
        return;
    d->FServerFilter = filter;
    d->FSelectSQL->Close();
    // The condition is the select's second line; an order line stays after it.
    TIBSQLLines& lines = d->FSelectSQL->SQL();
    const bool hasCondition = lines.Count() > 1 && !lines[1].startsWith(QStringLiteral(" ORDER BY "));
    const QString condition = ServerCondition();
    if (!condition.isEmpty()) {
        // A select text with a WHERE of its own is extended, as when it was built.
        const QString line = (HasTopLevelWhere(lines[0]) ? QStringLiteral(" AND ") : QStringLiteral(" WHERE "))
                             + condition;
        if (hasCondition)
            lines.SetLine(1, line);
        else if (lines.Count() > 1)
            lines.Insert(1, line);
        else
            lines.Add(line);
    } else if (hasCondition) {
        lines.SetLine(1, QStringLiteral(" "));
    }
    Reload();
}

// ------------------------------------------------------------ local cache

void TSDS::LoadFromFile(const QString& fileName)
{
    TLoading loading(*d, TLoading::File);
    TCustomMemTable::LoadFromFile(fileName);
    d->FAddressesFromFile = true;
    d->FCheckedRows.clear();
    loading.Done();
    BindSystemFields();
}

void TSDS::LoadFromCache(const QString& fileName, TDateTime startTime)
{
    TLoading loading(*d, TLoading::None);
    if (!QFileInfo::exists(fileName)) {
        d->LoadFromServerInstead();
    } else {
        try {
            LoadFromFile(fileName);
            MergeChangesSince(startTime);
        } catch (const EAbort&) {
            throw;
        } catch (...) {
            // A cache that cannot be used is only a slower start; it goes, so
            // that the data set writes a good one when it is freed.
            QFile::remove(fileName);
            d->LoadFromServerInstead();
        }
    }
    loading.Done();
}

void TSDSPrivate::LoadFromServerInstead()
{
    if (!q->Prepared()) {
        // Nothing prepared to fetch with (a closed data set, or one the file
        // opened): opening prepares and loads.
        q->Close();
        q->Open();
        return;
    }
    // A file that failed while being taken may have left the table closed,
    // with the file's definitions.
    if (!q->Active())
        PrepareAndOpenTable();
    ReloadRows();
}

void TSDS::MergeChangesSince(TDateTime time)
{
    const TBusyCursor busy;
    TLoading loading(*d, TLoading::Quiet | TLoading::KeyOrder);
    d->MergeRowsChangedSince(time);
    loading.Done();
}

void TSDSPrivate::MergeRowsChangedSince(TDateTime time)
{
    if (time == 0) {
        const TField* stamp = FTimeField ? FTimeField.data() : q->FieldByName(SDSNames::Time);
        // Straight from the rows, read in place: no cursor moves, no record
        // buffers, no variants.
        TDateTime newest = 0;
        for (int i = 0, count = q->InternalViewCount(); i < count; ++i) {
            const TRecordId row = q->InternalViewRow(i);
            const TValueView view = q->InternalViewValue(row, *stamp);
            if (view.Kind == TValueView::vkFloat) {
                newest = std::max(newest, view.Float);
            } else if (view.Kind == TValueView::vkNone) {
                const Variant value = q->InternalGetValue(row, *stamp);
                if (!value.IsNull())
                    newest = std::max(newest, value.AsDateTime());
            }
        }
        time = newest + 0.00001;
    }
    RTL_ASSERT(!FKeyFields.isEmpty(), QStringLiteral("Должен быть первичный индекс"));
    const std::vector<TField*> keyFields = q->GetFieldList(FKeyFields);
    // Rows of every level are searched: the key order without the level prefix or range.
    q->TCustomMemTable::SetIndexFieldNames(FKeyFields);

    TIBSQL sql;
    sql.SetDatabase(q->Database());
    sql.SetTransaction(q->Transaction());
    if (!sql.Transaction())
        IBClientError(IBMessages::TransactionNotAssigned);
    if (!sql.Transaction()->InTransaction())
        sql.Transaction()->StartTransaction();
    // The time as a parameter of the column's type: compared as it is with
    // every row the server reads (a text would be converted for each).
    sql.SQL().SetText(QStringLiteral("SELECT ") + FTableName
                      + QStringLiteral(".*,RDB$DB_KEY as IBX_INTERNAL_DBKEY FROM ") + FTableName
                      + QStringLiteral(" WHERE SYS$TIME > :SINCE"));
    sql.ParamByName(QStringLiteral("SINCE")).SetAsDateTime(time);
    sql.ExecQuery();
    if (sql.Eof())
        return;

    std::vector<TColumnPlan> plan;
    for (TField* field : q->Fields()) {
        if (!IsServerColumnField(*field) || field->ProviderFlags() == 0)
            continue;
        const int column = sql.FieldIndex(field->FieldName().toUpper());
        if (column < 0 && field->FieldKind() == fkInternalCalc)
            continue; // a column the data set's own select joins in
        if (column < 0)
            IBClientError(IBMessages::FieldNotFound, field->FieldName());
        CheckNotArray(sql.Fields(column));
        plan.push_back({field, column, TransferFor(*field)});
    }
    std::vector<int> keyColumns;
    for (const TField* field : keyFields) {
        keyColumns.push_back(sql.FieldIndex(field->FieldName().toUpper()));
        if (keyColumns.back() < 0)
            IBClientError(IBMessages::FieldNotFound, field->FieldName());
    }

    // Rows changed on the server replace their cached copies; rows added
    // or deleted there since are left as the cache has them.
    for (; !sql.Eof(); sql.Next()) {
        q->SetKey();
        for (size_t i = 0; i < keyFields.size(); ++i) {
            const TIBXSQLVAR& column = sql.Fields(keyColumns[i]);
            keyFields[i]->SetValue(column.IsNull() ? Variant::Null()
                                                   : ColumnValue(column, TransferFor(*keyFields[i]), *keyFields[i]));
        }
        if (!q->TCustomMemTable::GotoKey())
            continue;
        q->Edit();
        for (const TColumnPlan& p : plan) {
            const TIBXSQLVAR& column = sql.Fields(p.Column);
            if (p.Code == trText)
                p.Field->SetValue(column.IsNull() ? Variant(QString()) : ColumnValue(column, p.Code, *p.Field));
            else if (!column.IsNull())
                p.Field->SetValue(ColumnValue(column, p.Code, *p.Field));
        }
        q->Post();
    }
}

// --------------------------------------------- events while filling itself

void TSDS::CheckCanModify() const
{
    // Rows the data set changes while filling itself stay local.
    if (d->FReadOnlyView && d->FOptions.Contains(dsoChangesResolved) && !d->FInternalLoading)
        throw Exception(QualifiedName() + QStringLiteral(": представление ") + d->FTableName
                        + QStringLiteral(" только для чтения - сервер не может изменять его строки"));
    TCustomMemTable::CheckCanModify();
}

bool TSDS::HoldsEvent(const TDataSetNotifyEvent& event) const
{
    if (!d->FInternalLoading)
        return false;
    // Opening, closing, the cancel's start and calculated fields are not
    // the rows' own: those still reach the user.
    for (const TDataSetNotifyEvent* held :
         {&BeforeInsert, &AfterInsert, &BeforeEdit, &AfterEdit, &BeforePost, &AfterPost, &AfterCancel, &BeforeDelete,
          &AfterDelete, &BeforeScroll, &AfterScroll, &OnNewRecord})
        if (&event == held)
            return true;
    return false;
}

// (the engine's own reactions are in SDSEditing.cpp)

void TSDS::DoOnCalcFields()
{
    if (d->FLoadCalc != TSDSPrivate::TLoadCalc::Held)
        TCustomMemTable::DoOnCalcFields();
}
