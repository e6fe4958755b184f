// Opening and closing, the bulk load of the main select, reloading (also on
// a master or server-filter change) and the local cache of rows.
#include "SDS.h"

#include "CacheManager.h"
#include "DataSource.h"
#include "Forms.h"
#include "IBDatabase.h"
#include "IBSQL.h"
#include "SDatabase.h"
#include "SysUtils.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <cmath>
#include <limits>

namespace {

// Runs body, then restore, also when body fails (the body's error wins).
template <typename Body, typename Restore>
void WithRestore(Body&& body, Restore&& restore)
{
    try {
        body();
    } catch (...) {
        try {
            restore();
        } catch (...) {
        }
        throw;
    }
    restore();
}

// Options a data set must not act on while it fills itself: its changes
// then stay local.
const TSDSOptions ServerWriteOptions{dsoChangesResolved, dsoAutoCommit, dsoSendNotification,
                                     dsoRefreshBeforeEdit, dsoRefreshAfterEdit, dsoPessimisticLock};

// How a server column moves into a field, decided once per load.
enum TTransfer : int {
    trNone = -1,
    trText = 1,
    trInteger = 2,
    trFloat = 3,
    trDateTime = 4,
    trInt64 = 5,
    trExactFloat = 6, // the column's double is already the field's value (see ExactFloatBound)
    trExactDateTime = 7, // so is its date and time (see IsExactDateTime)
    trVariant = 99,
    trDbKey = 100,
};

TTransfer TransferFor(const TField& field)
{
    if (field.FieldName().compare(SDSNames::DbKey, Qt::CaseInsensitive) == 0)
        return trDbKey;
    switch (field.DataType()) {
    case ftString: case ftBlob: case ftMemo: return trText;
    case ftSmallint: case ftInteger: return trInteger;
    case ftFloat: case ftCurrency: case ftBCD: return trFloat;
    case ftDate: case ftDateTime: return trDateTime;
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

} // namespace

// A field and the column it is filled from.
struct TSDS::TColumnPlan
{
    TField* Field;
    int Column;
    TTransfer Code;
    double ExactBound = 0; // trExactFloat's
};

// What a load takes away from a field and gives back afterwards.
struct TSDS::TFieldSettings
{
    TField* Field;
    TFieldNotifyEvent OnChange, OnValidate;
    bool Required, ReadOnly;
    TFieldKind Kind;
};

// --------------------------------------------------------------- opening

void TSDS::SetActive(bool value)
{
    if (FLoadingFile) {
        // A file brings its own definitions and rows.
        TCustomMemTable::SetActive(value);
        return;
    }
    if (FMasterDataset) {
        if (!value || FInternalLoading || FDataLoaded) {
            TCustomMemTable::SetActive(value);
        } else {
            OpenAttached();
            if (!MasterFields().isEmpty())
                TCustomMemTable::MasterChanged();
        }
    } else if (!value) {
        FPrepared = FDataLoaded = FInternalLoading = false;
        TCustomMemTable::SetActive(false);
        return;
    } else {
        bool fromServer = false;
        if (!FPrepared) {
            if (!FTableName.isEmpty() || !FCommandText.isEmpty()) {
                OpenFromServer();
                fromServer = true;
            } else {
                // A purely local table: nothing to read or write on a server.
                FOptions = FOptions - (ServerWriteOptions + TSDSOptions{dsoLoadData, dsoLoadAllFields})
                           + TSDSOptions{dsoFieldsDefaultVisible};
                CreateMissingFields();
            }
        }
        TCustomMemTable::SetActive(true);
        if (fromServer)
            FireAfterDataLoaded();
    }
    if (value && Active())
        BindSystemFields();
}

void TSDS::OpenFromServer()
{
    const bool readOnly = ReadOnly();
    const QString filter = Filter();
    const bool filtered = Filtered();
    SetReadOnly(false);
    FPrepared = false;
    try {
        PrepareAndOpenTable();
        FInternalLoading = true;
        if (!LoadFromLocalCache())
            LoadData();
        FDataLoaded = true;
    } catch (...) {
        // Part of the rows would pass for all of them: the data set stays closed.
        FPrepared = FInternalLoading = false;
        SetReadOnly(readOnly);
        try {
            TCustomMemTable::SetActive(false);
        } catch (...) {
        }
        throw;
    }
    SetReadOnly(readOnly);
    FInternalLoading = false;
    SetFilter(filter);
    SetFiltered(filtered);
}

void TSDS::PrepareAndOpenTable()
{
    ReadFieldDefs();
    FPrepared = true;
    CreateMissingFields();
    BuildStatements();
    TCustomMemTable::SetActive(true);
    BindSystemFields();
}

bool TSDS::LoadFromLocalCache()
{
    auto* database = dynamic_cast<TSDatabase*>(Database());
    if (!FOptions.Contains(dsoLocalCachData) || !database || !database->LocalCache())
        return false;
    // The table name keys the file, the server filter stamps its version.
    if (!database->CacheManager()->CheckEntry(this, FCacheFileName, FTableName, FServerFilter))
        return false;
    LoadFromCache(FCacheFileName, 0);
    return true;
}

void TSDS::OpenAttached()
{
    const QString indexFieldNames = IndexFieldNames();
    const QString indexName = IndexName();
    const QString filter = Filter();
    const bool filtered = Filtered();
    const bool readOnly = ReadOnly();
    TSDS& master = *FMasterDataset;
    master.Open();
    WithRestore(
        [&] {
            FInternalLoading = true;
            FPrepared = master.FPrepared;
            FDataLoaded = master.FDataLoaded;
            FTableName = master.FTableName;
            FKeyFields = master.FKeyFields;
            FIndexNames = master.FIndexNames;
            FIndexFieldLists = master.FIndexFieldLists;
            DeleteIndexes();
            TCustomMemTable::SetActive(true);
            BindSystemFields();
        },
        [&] { FInternalLoading = false; });
    if (!indexFieldNames.isEmpty())
        SetIndexFieldNames(indexFieldNames);
    if (!indexName.isEmpty())
        SetIndexName(indexName);
    SetFilter(filter);
    SetFiltered(filtered);
    // Writes go through the master's statements and transactions.
    const std::vector<TIBSQL*> own = Statements(), masters = master.Statements();
    for (size_t i = 0; i < own.size(); ++i) {
        own[i]->Close();
        own[i]->SetTransaction(masters[i]->Transaction());
        own[i]->SetDatabase(masters[i]->Database());
        own[i]->SetGoToFirstRecordOnExecute(masters[i]->GoToFirstRecordOnExecute());
        own[i]->SQL().SetText(masters[i]->SQL().Text());
    }
    BindSystemFields();
    if (!ReadOnly())
        SetReadOnly(readOnly);
    FDatasetKind = master.FDatasetKind;
}

// ----------------------------------------------------------- bulk loading

void TSDS::LoadData()
{
    if (!FOptions.Contains(dsoLoadData))
        return;
    const TBusyCursor busy;
    const bool autoReposition = AutoReposition();
    const bool autoCalc = AutoCalcFields();
    SetAutoReposition(false);
    SetEnableIndexes(false);
    DisableControls();
    std::vector<TFieldSettings> saved;
    WithRestore([&] { FetchRows(saved); },
                [&] {
                    for (const TFieldSettings& s : saved) {
                        s.Field->OnChange = s.OnChange;
                        s.Field->OnValidate = s.OnValidate;
                        s.Field->SetRequired(s.Required);
                        s.Field->SetReadOnly(s.ReadOnly);
                        s.Field->SetFieldKind(s.Kind);
                    }
                    SetAutoCalcFields(autoCalc);
                    SetEnableIndexes(true); // rebuilt once, for all rows
                    SetAutoReposition(autoReposition);
                    ResetModified();
                    if (!MasterFields().isEmpty())
                        TCustomMemTable::MasterChanged();
                    EnableControls();
                });
}

void TSDS::SetMasterParams()
{
    const TDataSet* master = MasterSource() ? MasterSource()->DataSet() : nullptr;
    if (!master)
        return;
    master->CheckActive(); // a closed master has no fields to read the values from
    for (const auto& [masterField, detail] : MasterDetailPairs())
        FSelectSQL->ParamByName(SDSNames::MasterParamPrefix + detail)
            .SetAsVariant(master->FieldByName(masterField)->Value());
}

void TSDS::FetchRows(std::vector<TFieldSettings>& saved)
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
    if (FOptions.Contains(dsoHandleMDBySQL) && !MasterFields().isEmpty())
        SetMasterParams();
    startTransaction();
    sql.ExecQuery();

    // Which column fills which field, decided once.
    const bool lookupsFromServer = FOptions.Contains(dsoCalcLookupOnServer);
    std::vector<TColumnPlan> plan;
    bool onlyStoredFields = true;
    for (TField* field : Fields()) {
        saved.push_back({field, field->OnChange, field->OnValidate, field->Required(), field->ReadOnly(),
                         field->FieldKind()});
        field->OnChange = {};
        field->OnValidate = {};
        field->SetRequired(false);
        field->SetReadOnly(false);
        const int column = sql.FieldIndex(field->FieldName());
        TTransfer code = trNone;
        if (field->FieldKind() == fkLookup && lookupsFromServer && column >= 0) {
            field->SetFieldKind(fkData); // until the load ends
            code = TransferFor(*field);
        } else if (field->FieldKind() == fkData && (field->ProviderFlags() != 0 || lookupsFromServer)) {
            code = column >= 0 ? TransferFor(*field) : trNone;
        }
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
    if (onlyStoredFields && !OnRecordLoaded && !OnCalcFields && FDatasetKind == dkUnknown)
        AppendRowsDirectly(sql, plan);
    else
        AppendRowsOneByOne(sql, plan);

    sql.Close();
    if (!FOptions.Contains(dsoDontFreeSelectHandle))
        sql.FreeHandle();
}

void TSDS::AppendRowsDirectly(TIBSQL& sql, const std::vector<TColumnPlan>& plan)
{
    // Rows go straight into the store where the table allows it, and the
    // view is made once.
    const bool direct = CanLoadIntoStore();
    std::vector<int> places; // each planned value's place in a row
    for (const TColumnPlan& p : plan)
        places.push_back(direct ? StoreColumn(*p.Field) : p.Field->Index());

    std::vector<Variant> values(direct ? Store().ColumnCount() : Fields().Count());
    for (; !sql.Eof(); sql.Next()) {
        for (size_t i = 0; i < plan.size(); ++i) {
            const TColumnPlan& p = plan[i];
            const TIBXSQLVAR& column = sql.Fields(p.Column);
            values[places[i]] = column.IsNull() ? Variant() : ColumnValue(column, p.Code, *p.Field, p.ExactBound);
        }
        if (direct)
            Store().Insert(values);
        else
            InternalInsertRow(values, -1);
    }
    if (direct)
        InternalRefreshView();
    Resync();
}

void TSDS::AppendRowsOneByOne(TIBSQL& sql, const std::vector<TColumnPlan>& plan)
{
    const bool autoCalc = AutoCalcFields();
    // Calculated fields are computed once per row, when its last value is in.
    FLoadCalc = TLoadCalc::Held;
    const auto release = qScopeGuard([this] { FLoadCalc = TLoadCalc::Free; });
    for (; !sql.Eof(); sql.Next()) {
        Append();
        SetAutoCalcFields(false);
        for (size_t i = 0; i < plan.size(); ++i) {
            const TColumnPlan& p = plan[i];
            const bool last = i + 1 == plan.size();
            if (last) {
                SetAutoCalcFields(autoCalc);
                FLoadCalc = TLoadCalc::Due;
            }
            const TIBXSQLVAR& column = sql.Fields(p.Column);
            if (!column.IsNull())
                p.Field->SetValue(ColumnValue(column, p.Code, *p.Field, p.ExactBound));
            else if (last)
                p.Field->Clear();
            FLoadCalc = TLoadCalc::Held;
        }
        if (OnRecordLoaded) {
            OnRecordLoaded(this);
            if (State() == dsBrowse)
                continue; // the handler posted or dropped the row itself
        }
        if (FDatasetKind == dkOperativka && CheckAccess(4) == acNone)
            Cancel();
        else if (FDatasetKind == dkLookup) {
            CheckAccess(4); // asked for every row, kept whatever the answer
            Post();
        } else
            Post();
    }
}

void TSDS::FireAfterDataLoaded()
{
    if (!AfterDataLoaded)
        return;
    const TSDSOptions options = FOptions;
    FInternalLoading = true;
    FOptions = FOptions - ServerWriteOptions;
    WithRestore([&] { AfterDataLoaded(this); },
                [&] {
                    FOptions = options;
                    FInternalLoading = false;
                });
}

void TSDS::Reload()
{
    if (!Active() || !FPrepared)
        return;
    if (FMasterDataset) {
        SetEnableIndexes(false);
        WithRestore([&] { FMasterDataset->Reload(); }, [&] { SetEnableIndexes(true); });
        return;
    }
    const bool readOnly = ReadOnly();
    FDataLoaded = false;
    DisableControls();
    FInternalLoading = true;
    SetReadOnly(false);
    WithRestore(
        [&] {
            EmptyTable();
            LoadData();
            FDataLoaded = true;
            FireAfterDataLoaded();
        },
        [&] {
            SetReadOnly(readOnly);
            FInternalLoading = false;
            EnableControls();
        });
}

void TSDS::MasterChanged()
{
    if (!FOptions.Contains(dsoHandleMDBySQL) || MasterFields().isEmpty()) {
        TCustomMemTable::MasterChanged();
        return;
    }
    // A closed data set reads its master's values when it opens.
    if (!Active() || (FSelectSQL->Prepared() && MasterParamsCurrent()))
        return;
    Reload();
    FireAfterDataLoaded();
}

bool TSDS::MasterParamsCurrent()
{
    const TDataSet* master = MasterSource() ? MasterSource()->DataSet() : nullptr;
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
    if (FMasterDataset)
        throw Exception(QStringLiteral("Нельзя устанавливать ServerFilter у клона !"));
    if (!Active() || !FPrepared) {
        FServerFilter = filter;
        return;
    }
    if (filter == FServerFilter)
        return;
    FServerFilter = filter;
    FSelectSQL->Close();
    // The condition is the select's second line; an order line stays after it.
    TIBSQLLines& lines = FSelectSQL->SQL();
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
    const TSDSOptions options = FOptions;
    FOptions = FOptions - TSDSOptions{dsoLoadData};
    FLoadingFile = true;
    WithRestore([&] { TCustomMemTable::LoadFromFile(fileName); },
                [&] {
                    FLoadingFile = false;
                    FOptions = options;
                });
    BindSystemFields();
}

void TSDS::LoadFromCache(const QString& fileName, TDateTime startTime)
{
    if (!QFileInfo::exists(fileName)) {
        // Nothing cached: the rows come from the server.
        if (Active())
            LoadData();
        else
            Open();
        return;
    }
    try {
        LoadFromFile(fileName);
        MergeChangesSince(startTime);
    } catch (const EAbort&) {
        throw;
    } catch (...) {
        // A cache that cannot be used is only a slower start; it goes, so
        // that the data set writes a good one when it is freed.
        QFile::remove(fileName);
        if (Active()) {
            Reload();
        } else if (FPrepared) {
            // Opening from the server: a file that failed while being taken
            // leaves the table closed, with the file's definitions.
            PrepareAndOpenTable();
            LoadData();
        } else {
            Open();
        }
    }
}

void TSDS::MergeChangesSince(TDateTime time)
{
    const TBusyCursor busy;
    DisableControls();
    FInternalLoading = true;
    const QString indexFieldNames = IndexFieldNames();
    WithRestore([&] { MergeRowsChangedSince(time); },
                [&] {
                    SetIndexFieldNames(indexFieldNames);
                    EnableControls();
                });
}

void TSDS::MergeRowsChangedSince(TDateTime time)
{
    if (time == 0) {
        const TField* stamp = FTimeField ? FTimeField.data() : FieldByName(SDSNames::Time);
        // Straight from the rows: no cursor moves, no record buffers.
        TDateTime newest = 0;
        for (int i = 0, count = InternalViewCount(); i < count; ++i) {
            const Variant value = InternalGetValue(InternalViewRow(i), *stamp);
            if (!value.IsNull())
                newest = std::max(newest, value.AsDateTime());
        }
        time = newest + 0.00001;
    }
    RTL_ASSERT(!FKeyFields.isEmpty(), QStringLiteral("Должен быть первичный индекс"));
    const std::vector<TField*> keyFields = GetFieldList(FKeyFields);
    SetIndexFieldNames(FKeyFields);

    TIBSQL sql;
    sql.SetDatabase(Database());
    sql.SetTransaction(Transaction());
    if (!sql.Transaction())
        IBClientError(IBMessages::TransactionNotAssigned);
    if (!sql.Transaction()->InTransaction())
        sql.Transaction()->StartTransaction();
    sql.SQL().SetText(QStringLiteral("SELECT ") + FTableName + QStringLiteral(".*,RDB$DB_KEY as IBX_INTERNAL_DBKEY FROM ")
                      + FTableName + QStringLiteral(" WHERE SYS$TIME > '")
                      + FormatDateTime(QStringLiteral("yyyy-mm-dd hh:mm:ss zzz"), time) + QLatin1Char('\''));
    sql.ExecQuery();
    if (sql.Eof())
        return;

    std::vector<TColumnPlan> plan;
    for (TField* field : Fields()) {
        if (field->FieldKind() != fkData || field->ProviderFlags() == 0)
            continue;
        const int column = sql.FieldIndex(field->FieldName().toUpper());
        if (column < 0)
            IBClientError(IBMessages::FieldNotFound, field->FieldName());
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
        SetKey();
        for (size_t i = 0; i < keyFields.size(); ++i) {
            const TIBXSQLVAR& column = sql.Fields(keyColumns[i]);
            keyFields[i]->SetValue(column.IsNull() ? Variant::Null()
                                                   : ColumnValue(column, TransferFor(*keyFields[i]), *keyFields[i]));
        }
        if (!GotoKey())
            continue;
        Edit();
        for (const TColumnPlan& p : plan) {
            const TIBXSQLVAR& column = sql.Fields(p.Column);
            if (p.Code == trText)
                p.Field->SetValue(column.IsNull() ? Variant(QString()) : ColumnValue(column, p.Code, *p.Field));
            else if (!column.IsNull())
                p.Field->SetValue(ColumnValue(column, p.Code, *p.Field));
        }
        Post();
    }
}

// --------------------------------------------- events while filling itself

void TSDS::DoBeforeInsert()
{
    if (!FInternalLoading)
        TCustomMemTable::DoBeforeInsert();
}

void TSDS::DoAfterInsert()
{
    if (!FInternalLoading)
        TCustomMemTable::DoAfterInsert();
}

void TSDS::DoBeforeEdit()
{
    if (!FInternalLoading)
        TCustomMemTable::DoBeforeEdit();
}

void TSDS::DoAfterEdit()
{
    if (!FInternalLoading)
        TCustomMemTable::DoAfterEdit();
}

void TSDS::DoBeforePost()
{
    if (!FInternalLoading)
        TCustomMemTable::DoBeforePost();
}

void TSDS::DoAfterPost()
{
    if (!FInternalLoading)
        TCustomMemTable::DoAfterPost();
}

void TSDS::DoBeforeDelete()
{
    if (!FInternalLoading)
        TCustomMemTable::DoBeforeDelete();
}

void TSDS::DoAfterDelete()
{
    if (!FInternalLoading)
        TCustomMemTable::DoAfterDelete();
}

void TSDS::DoAfterCancel()
{
    if (!FInternalLoading)
        TCustomMemTable::DoAfterCancel();
}

void TSDS::DoBeforeScroll()
{
    if (!FInternalLoading)
        TCustomMemTable::DoBeforeScroll();
}

void TSDS::DoAfterScroll()
{
    if (!FInternalLoading)
        TCustomMemTable::DoAfterScroll();
}

void TSDS::DoOnCalcFields()
{
    if (FLoadCalc != TLoadCalc::Held)
        TCustomMemTable::DoOnCalcFields();
}

void TSDS::DoOnNewRecord()
{
    if (!FInternalLoading)
        TCustomMemTable::DoOnNewRecord();
}
