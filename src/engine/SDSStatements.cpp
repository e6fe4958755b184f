// How a data set learns its columns, key and indexes (from the catalogue, the
// connection's metadata tables, a select text or its persistent fields) and
// the SQL texts it generates from them.
#include "SDS.h"
#include "SDS_p.h"

#include "IBDatabase.h"
#include "IBSQL.h"
#include "SDatabase.h"
#include "Text.h"

#include <ibase.h> // the server's error codes

#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>

namespace {

const QString RelationNameColumn = QStringLiteral("RDB$RELATION_NAME");
const QString FieldPositionIndex = QStringLiteral("RELATIONS_FIELDPOSITION");
const QString DbKeyCondition = QStringLiteral(".RDB$DB_KEY = :IBX_INTERNAL_DBKEY");
const QString NowLiteral = QStringLiteral("'NOW'");

bool SameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

bool IsSystemColumn(const QString& name) { return name.startsWith(SDSNames::SystemPrefix, Qt::CaseInsensitive); }

// A name inside a quoted SQL literal: a quote of its own must not end it.
QString LiteralText(const QString& text) { return QString(text).replace(QLatin1Char('\''), QStringLiteral("''")); }

// The statement on one line: every line break (CR LF, LF CR, LF or CR alone) becomes a blank.
QString OneLine(const QString& text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\n\r|\n|\r"));
    return QString(text).replace(lineBreak, QStringLiteral(" "));
}

void SetLines(TIBSQL& sql, const QString& first, const QString& second = QString())
{
    sql.SQL().SetText(first);
    if (!second.isEmpty())
        sql.SQL().Add(second);
}

// Field definitions change once for a whole read, also when it fails.
class TDefsUpdate
{
public:
    explicit TDefsUpdate(TFieldDefs& defs) : FDefs(defs)
    {
        FDefs.BeginUpdate();
        FDefs.Clear();
    }
    ~TDefsUpdate() { FDefs.EndUpdate(); }

private:
    TFieldDefs& FDefs;
};

// A catalogue query on the connection's internal transaction, which is
// committed (and the statements freed) whatever happens.
class TCatalogueRead
{
public:
    explicit TCatalogueRead(TIBDatabase& database) : FTransaction(*database.InternalTransaction())
    {
        if (!FTransaction.InTransaction())
            FTransaction.StartTransaction();
    }
    ~TCatalogueRead()
    {
        FStatements.clear();
        try {
            if (FTransaction.InTransaction())
                FTransaction.Commit();
        } catch (...) {
            // Only on the way out of a failed read, whose error is the one to show.
        }
    }
    TIBSQL& Query(const QString& text)
    {
        auto& sql = *FStatements.emplace_back(std::make_unique<TIBSQL>());
        sql.SetTransaction(&FTransaction);
        sql.SQL().SetText(text);
        sql.ExecQuery();
        return sql;
    }
    // Compiled by the server, never run: the server's verdict on the text.
    void Prepare(const QString& text)
    {
        auto& sql = *FStatements.emplace_back(std::make_unique<TIBSQL>());
        sql.SetTransaction(&FTransaction);
        sql.SQL().SetText(text);
        sql.Prepare();
    }
    void Commit() { FTransaction.Commit(); }

private:
    TIBTransaction& FTransaction;
    std::vector<std::unique_ptr<TIBSQL>> FStatements;
};

// Field type, size and precision of a column.
struct TTypeInfo
{
    TFieldType Type = ftUnknown;
    int Size = 0;
    int Precision = 0;
};

// Scaled integers: whole numbers, BCD for up to four decimals, float beyond
// (where the width allows it).
TTypeInfo ScaledType(int scale, TFieldType whole, int precision, bool floatBeyondFour)
{
    if (scale == 0)
        return {whole};
    if (floatBeyondFour && scale < -4)
        return {ftFloat};
    return {ftBCD, -scale, precision};
}

// RDB$FIELD_TYPE codes of the catalogue.
TTypeInfo CatalogueType(int type, int scale, int length, int subType)
{
    switch (type) {
    case 7: return ScaledType(scale, ftSmallint, 4, false);
    case 8: return ScaledType(scale, ftInteger, 9, true);
    case 9: return {ftUnknown, 8};
    case 10:
    case 11:
    case 27: return {ftFloat};
    case 12: return {ftDate};
    case 13: return {ftTime};
    case 14:
    case 37: return {ftString, length};
    case 16: return ScaledType(scale, ftLargeint, 18, true);
    case 35: return {ftDateTime};
    case 261: return {subType == 1 ? ftMemo : ftBlob};
    default: return {};
    }
}

// SQL types of a prepared statement's columns.
TTypeInfo SelectColumnType(const TIBXSQLVAR& column)
{
    const int scale = column.Scale();
    switch (column.SQLType() & ~1) {
    case IBType::Varying: return {ftString, column.Size()};
    case IBType::Text: return {SameName(column.Name(), SDSNames::DbKey) ? ftBytes : ftString, column.Size()};
    case IBType::Double:
    case IBType::Float:
    case IBType::DFloat: return {ftFloat};
    case IBType::Long: return ScaledType(scale, ftInteger, 9, true);
    case IBType::Short: return ScaledType(scale, ftSmallint, 4, false);
    case IBType::Timestamp: return {ftDateTime};
    case IBType::Blob: return {column.SubType() == 1 ? ftMemo : ftBlob};
    case IBType::Time: return {ftTime};
    case IBType::Date: return {ftDate};
    case IBType::Int64: return ScaledType(scale, ftLargeint, 18, true);
    default: return {};
    }
}

TFieldDef& AddDef(TFieldDefs& defs, const QString& name, const TTypeInfo& type, bool required, int fieldNo)
{
    TFieldDef& def = defs.AddFieldDef();
    def.SetName(name);
    def.SetDataType(type.Type);
    def.SetSize(type.Size);
    def.SetPrecision(type.Precision);
    def.SetRequired(required);
    def.SetFieldNo(fieldNo);
    return def;
}

int NumberOr0(const Variant& value) { return value.IsNull() ? 0 : value.AsInteger(); }

} // namespace

// ------------------------------------------------------ field definitions

struct TSDSPrivate::TCatalogueColumn
{
    QString Name;
    int Position = 0;
    bool Computed = false;
    bool HasDefault = false;
    int NullFlag = 0;
    int Length = 0;
    int Scale = 0;
    int Type = 0;
    int SubType = 0;
    int Dimensions = 0; // an array column's
};

void TSDSPrivate::AddCatalogueDef(const TCatalogueColumn& column)
{
    // An array is read and written only as slices: the data set leaves it out
    // of its fields and statements, so the rest of the row stays usable and
    // an update keeps the array as it is.
    if (column.Dimensions > 0) {
        if (const TField* field = q->FindField(column.Name); field && field->IsStored())
            RaiseArrayColumn(FTableName, column.Name);
        return;
    }
    const TTypeInfo type = CatalogueType(column.Type, column.Scale, column.Length, column.SubType);
    TFieldDef& def = AddDef(q->FieldDefs(), column.Name, type, false, column.Position);
    if (column.Computed) {
        def.SetAttributes(def.Attributes() | faReadonly);
        def.SetInternalCalcField(true);
    } else if (!column.HasDefault && column.NullFlag == 1 && !IsSystemColumn(column.Name)) {
        def.SetRequired(true);
    }
}

void TSDSPrivate::AddDbKeyDef()
{
    if (!q->FieldDefs().Find(SDSNames::DbKey))
        q->FieldDefs().Add(SDSNames::DbKey, ftBytes, FDbKeyLength, false);
}

void TSDSPrivate::RaiseArrayColumn(const QString& relation, const QString& column) const
{
    throw Exception(q->QualifiedName() + QStringLiteral(": столбец ") + relation + QLatin1Char('.') + column
                    + QStringLiteral(" - массив; массивы набор данных не читает и не пишет"));
}

void TSDSPrivate::ReadRelationInfo()
{
    TCatalogueRead read(RequireDatabase());
    TIBSQL& sql = read.Query(QStringLiteral("select RDB$DBKEY_LENGTH, iif(RDB$VIEW_BLR is null, 0, 1) "
                                            "from RDB$RELATIONS where RDB$RELATION_NAME = '")
                             + LiteralText(FTableName) + QLatin1Char('\''));
    if (!sql.Eof()) {
        // A view's row address joins those of its tables, 8 bytes each.
        if (const int length = NumberOr0(sql.Fields(0).AsVariant()); length > 0)
            FDbKeyLength = length;
        FRelationIsView = NumberOr0(sql.Fields(1).AsVariant()) == 1;
    }
    read.Commit();
}

bool TSDSPrivate::ServerUpdatesView(const QString& updateText)
{
    TCatalogueRead read(RequireDatabase());
    try {
        read.Prepare(updateText);
    } catch (const EIBInterBaseError& error) {
        if (error.IBErrorCode() == isc_read_only_view)
            return false;
        // Anything else (a missing right, say) is for the write itself to report.
    }
    return true;
}

TSDatabase* TSDSPrivate::MetadataDatabase() const
{
    auto* database = dynamic_cast<TSDatabase*>(q->Database());
    return database && database->MetadataCache() ? database : nullptr;
}

TIBDatabase& TSDSPrivate::RequireDatabase() const
{
    TIBDatabase* database = q->Database();
    if (!database)
        IBClientError(IBMessages::DatabaseNameMissing);
    return *database;
}

void TSDS::ReadFieldDefs()
{
    d->FDbKeyLength = 8;
    d->FRelationIsView = d->FReadOnlyView = false;
    if (!d->FTableName.isEmpty())
        d->ReadRelationInfo();
    if (!d->FCommandText.isEmpty()) {
        d->ReadFieldDefsFromSelect();
        return;
    }
    if (d->FTableName.isEmpty())
        IBClientError(IBMessages::NoTableName);
    if (!d->FOptions.Contains(dsoLoadAllFields)) {
        d->ReadFieldDefsFromFields();
        d->AddDbKeyDef();
        return;
    }
    TSDatabase* metadata = d->MetadataDatabase();
    if (!metadata || !d->ReadFieldDefsFromCache(*metadata))
        d->ReadFieldDefsFromServer();
}

void TSDSPrivate::ReadFieldDefsFromFields()
{
    TDefsUpdate update(q->FieldDefs());
    for (TField* field : q->Fields())
        if (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc)
            q->FieldDefs().Add(field->FieldName(), field->DataType(), field->Size(), field->Required());
}

void TSDSPrivate::ReadFieldDefsFromServer()
{
    TCatalogueRead read(RequireDatabase());
    TIBSQL& sql = read.Query(
        QStringLiteral("Select R.RDB$FIELD_NAME, R.RDB$FIELD_POSITION, F.RDB$COMPUTED_BLR, F.RDB$DEFAULT_VALUE, "
                       "R.RDB$NULL_FLAG, F.RDB$FIELD_LENGTH, F.RDB$FIELD_SCALE, F.RDB$FIELD_TYPE, "
                       "F.RDB$FIELD_SUB_TYPE, F.RDB$EXTERNAL_LENGTH, F.RDB$EXTERNAL_SCALE, F.RDB$EXTERNAL_TYPE, "
                       "F.RDB$DIMENSIONS from RDB$RELATION_FIELDS R, RDB$FIELDS F where R.RDB$RELATION_NAME = '")
        + LiteralText(FTableName)
        + QStringLiteral("' and R.RDB$FIELD_SOURCE = F.RDB$FIELD_NAME order by R.RDB$FIELD_POSITION"));
    {
        TDefsUpdate update(q->FieldDefs());
        for (; !sql.Eof(); sql.Next()) {
            const auto number = [&sql](int index) { return NumberOr0(sql.Fields(index).AsVariant()); };
            AddCatalogueDef({TrimRight(sql.Fields(0).AsString()), number(1), !sql.Fields(2).IsNull(),
                             !sql.Fields(3).IsNull(), number(4), number(5), number(6), number(7), number(8),
                             number(12)});
        }
    }
    if (q->FieldDefs().Count() == 0)
        throw Exception(q->QualifiedName() + QStringLiteral(": не найдена информация о структуре таблицы ")
                        + FTableName);
    AddDbKeyDef();
    read.Commit();
}

bool TSDSPrivate::ReadFieldDefsFromCache(TSDatabase& database)
{
    TCustomMemTable* tables = database.TablesCache();
    if (!tables || !tables->Active())
        return false;
    // The table is the connection's: its current index is put back.
    const QString previousIndex = tables->IndexName();
    tables->SetIndexName(FieldPositionIndex);
    const auto restoreIndex = qScopeGuard([&] { tables->SetIndexName(previousIndex); });
    tables->FindNearest({Variant(FTableName)});
    const TField* relation = tables->FieldByName(RelationNameColumn);
    if (tables->Eof() || relation->AsString() != FTableName)
        return false;

    const auto field = [tables](const char* name) { return tables->FieldByName(QString::fromLatin1(name)); };
    const TField* name = field("RDB$FIELD_NAME");
    const TField* position = field("RDB$FIELD_POSITION");
    const TField* computed = field("RDB$COMPUTED_BLR");
    const TField* defaultValue = field("RDB$DEFAULT_VALUE");
    const TField* nullFlag = field("RDB$NULL_FLAG");
    const TField* length = field("RDB$FIELD_LENGTH");
    const TField* scale = field("RDB$FIELD_SCALE");
    const TField* type = field("RDB$FIELD_TYPE");
    const TField* subType = field("RDB$FIELD_SUB_TYPE");
    const TField* dimensions = field("RDB$DIMENSIONS");
    {
        TDefsUpdate update(q->FieldDefs());
        for (; !tables->Eof() && relation->AsString() == FTableName; tables->Next())
            AddCatalogueDef({TrimRight(name->AsString()), NumberOr0(position->Value()), !computed->IsNull(),
                             !defaultValue->IsNull(), NumberOr0(nullFlag->Value()), NumberOr0(length->Value()),
                             NumberOr0(scale->Value()), NumberOr0(type->Value()), NumberOr0(subType->Value()),
                             NumberOr0(dimensions->Value())});
    }
    AddDbKeyDef();
    return true;
}

void TSDSPrivate::ReadFieldDefsFromSelect()
{
    TIBSQL& sql = *FSelectSQL;
    if (!sql.Database())
        IBClientError(IBMessages::DatabaseNameMissing);
    sql.Close();
    TIBTransaction* transaction = sql.Transaction();
    if (!transaction)
        IBClientError(IBMessages::TransactionNotAssigned);
    if (!transaction->InTransaction())
        transaction->StartTransaction();
    SetLines(sql, FCommandText,
             !FServerFilter.isEmpty() && FTableName.isEmpty() ? QStringLiteral(" WHERE ") + FServerFilter : QString());
    sql.Prepare();

    // Only the relation's own columns are written back; the rest are read only.
    const bool ownColumnsOnly = FOptions.Contains(dsoChangesResolved) && !FTableName.isEmpty();
    TDefsUpdate update(q->FieldDefs());
    for (int i = 0; i < sql.FieldCount(); ++i) {
        const TIBXSQLVAR& column = sql.Fields(i);
        if ((column.SQLType() & ~1) == IBType::Array) {
            // As from the catalogue: no field, so never written.
            if (const TField* field = q->FindField(column.Name()); field && field->IsStored())
                RaiseArrayColumn(column.RelationName(), column.SqlName());
            continue;
        }
        const QString name = column.Name();
        const bool dbKey = SameName(name, SDSNames::DbKey);
        const bool required = !column.IsNullable() && !dbKey && !IsSystemColumn(name);
        TFieldDef& def = AddDef(q->FieldDefs(), name, SelectColumnType(column), required, i);
        if (ownColumnsOnly && !dbKey && !(column.RelationName() == FTableName && column.SqlName() == name))
            def.SetInternalCalcField(true);
    }
}

void TSDS::CreateMissingFields()
{
    if (Fields().Count() == 0)
        return; // the table makes default fields for every definition itself
    const bool visible = d->FOptions.Contains(dsoFieldsDefaultVisible);
    for (int i = 0; i < FieldDefs().Count(); ++i) {
        const TFieldDef& def = FieldDefs()[i];
        if (TField* field = FindField(def.Name())) {
            if (field->DataType() == ftString && def.Size() != 0 && field->Size() != def.Size()
                && field->ProviderFlags() != 0)
                field->SetSize(def.Size());
            // The row address is as long as the server makes it (a view's is longer).
            if (field->DataType() == ftBytes && SameName(def.Name(), SDSNames::DbKey))
                field->SetSize(def.Size());
            continue;
        }
        std::unique_ptr<TField> field = NewFieldFromDef(def, this);
        field->SetVisible(visible);
        field.release()->SetDataSet(this); // owned by the data set as its child
    }
}

void TSDS::BindSystemFields()
{
    const auto bind = [this](QPointer<TField>& reference, const QString& name) {
        reference = FindField(name);
        if (reference)
            reference->SetVisible(false);
    };
    bind(d->FDbKeyField, SDSNames::DbKey);
    bind(d->FTimeField, SDSNames::Time);
    bind(d->FIdField, SDSNames::Id);
    bind(d->FParentIdField, SDSNames::ParentId);
    bind(d->FStateField, SDSNames::State);

    d->FAutoIncField = nullptr;
    if (!d->FAutoIncFieldName.isEmpty()) {
        if (TField* field = FindField(d->FAutoIncFieldName)) {
            d->FAutoIncField = field;
            field->SetRequired(false);
        }
    } else if (d->FIdField) {
        d->FAutoIncField = d->FIdField;
    }
}

void TSDS::InitFieldDefs()
{
    if (!d->FDesigning) {
        InternalInitFieldDefs();
        return;
    }
    if (d->FMasterDataset) {
        SetDatabase(d->FMasterDataset->Database());
        d->FTableName = d->FMasterDataset->TableName();
    }
    TIBDatabase* database = Database();
    if (!database)
        throw Exception(QualifiedName() + QStringLiteral(" Укажите базу !"));
    if (!database->Connected()) {
        database->Open();
    } else if (TSDatabase* metadata = d->MetadataDatabase()) {
        try {
            metadata->RefreshMetadata();
        } catch (...) {
            // The definitions are then read from the server instead.
        }
    }
    ReadFieldDefs();
    if (const int dbKey = FieldDefs().IndexOf(SDSNames::DbKey); dbKey >= 0)
        FieldDefs().Delete(dbKey);
}

// --------------------------------------------------------------- indexes

void TSDSPrivate::AddIndexInfo(const QString& name, const QString& fields, int kind, bool isPrimary, bool& keySeen)
{
    if (keySeen && (FKeyFields.isEmpty() || isPrimary))
        FKeyFields = fields.toUpper();
    FIndexNames << name;
    FIndexFieldLists << fields.toUpper();
    FIndexKinds << kind;
}

void TSDS::ReadIndexes()
{
    d->FIndexNames.clear();
    d->FIndexFieldLists.clear();
    d->FIndexKinds.clear();
    TSDatabase* metadata = d->MetadataDatabase();
    if (!metadata || !d->ReadIndexesFromCache(*metadata))
        d->ReadIndexesFromServer();
}

void TSDSPrivate::ReadIndexesFromServer()
{
    FKeyFields.clear();
    TCatalogueRead read(RequireDatabase());
    TIBSQL& sql = read.Query(
        QStringLiteral("Select I.RDB$INDEX_NAME, I.RDB$UNIQUE_FLAG, I.RDB$INDEX_TYPE, I.RDB$SEGMENT_COUNT, "
                       "S.RDB$FIELD_NAME from RDB$INDICES I, RDB$INDEX_SEGMENTS S where I.RDB$INDEX_NAME = "
                       "S.RDB$INDEX_NAME and I.RDB$RELATION_NAME = '")
        + LiteralText(FTableName) + QLatin1Char('\''));
    bool keySeen = false;
    // One row per segment; an index is taken whole at its first row, so
    // the other rows of it are passed over wherever the server puts them.
    QSet<QString> done;
    for (; !sql.Eof(); sql.Next()) {
        const QString name = TrimRight(sql.Fields(0).AsString());
        if (done.contains(name))
            continue;
        done.insert(name);
        int kind = 0;
        const bool primary = name.startsWith(QLatin1String("RDB$PRIMARY"));
        if (primary) {
            kind = SConstraint::Constraint | SConstraint::PrimaryKey;
            keySeen = true;
        } else if (NumberOr0(sql.Fields(1).AsVariant()) == 1) {
            kind = SConstraint::Unique | (name.startsWith(QLatin1String("RDB$")) ? SConstraint::Constraint : 0);
            keySeen = true;
        }
        if (name.startsWith(QLatin1String("RDB$FOREIGN")))
            kind += SConstraint::Constraint | SConstraint::ForeignKey;

        QString fields;
        if (NumberOr0(sql.Fields(3).AsVariant()) == 1) {
            fields = TrimRight(sql.Fields(4).AsString());
        } else {
            TIBSQL& segments = read.Query(
                QStringLiteral("Select RDB$FIELD_NAME from RDB$INDEX_SEGMENTS where RDB$INDEX_NAME = '")
                + LiteralText(name) + QStringLiteral("'ORDER BY RDB$FIELD_POSITION"));
            QStringList names;
            for (; !segments.Eof(); segments.Next())
                names << TrimRight(segments.Fields(0).AsString());
            fields = names.join(QLatin1Char(';'));
        }
        AddIndexInfo(name, fields, kind, primary, keySeen);
    }
    read.Commit();
}

bool TSDSPrivate::ReadIndexesFromCache(TSDatabase& database)
{
    TCustomMemTable* indexes = database.IndexesCache();
    if (!indexes || !indexes->Active())
        return false;
    indexes->FindNearest({Variant(FTableName)});
    const TField* relation = indexes->FieldByName(RelationNameColumn);
    if (indexes->Eof() || relation->AsString() != FTableName)
        return false;

    const TField* indexName = indexes->FieldByName(QStringLiteral("RDB$INDEX_NAME"));
    const TField* unique = indexes->FieldByName(QStringLiteral("RDB$UNIQUE_FLAG"));
    const TField* segmentCount = indexes->FieldByName(QStringLiteral("RDB$SEGMENT_COUNT"));
    const TField* fieldName = indexes->FieldByName(QStringLiteral("RDB$FIELD_NAME"));
    FKeyFields.clear();
    bool keySeen = false;
    while (!indexes->Eof() && relation->AsString() == FTableName) {
        const QString name = TrimRight(indexName->AsString());
        const bool isUnique = NumberOr0(unique->Value()) == 1;
        int kind = 0;
        if (name.startsWith(QLatin1String("RDB$"))) {
            if (name.startsWith(QLatin1String("RDB$PRIMARY")))
                kind = SConstraint::Constraint | SConstraint::PrimaryKey;
            else if (isUnique)
                kind = SConstraint::Constraint | SConstraint::Unique;
            if (name.startsWith(QLatin1String("RDB$FOREIGN")))
                kind += SConstraint::Constraint | SConstraint::ForeignKey;
        } else {
            // A user-named index may still back a constraint.
            kind = database.GetConstraintType(name);
            if (kind == 0 && isUnique)
                kind = SConstraint::Unique;
        }
        if (kind & (SConstraint::PrimaryKey | SConstraint::Unique))
            keySeen = true;

        QString fields = TrimRight(fieldName->AsString());
        if (NumberOr0(segmentCount->Value()) > 1) {
            const QString rawName = indexName->AsString();
            for (indexes->Next();
                 !indexes->Eof() && indexName->AsString() == rawName && relation->AsString() == FTableName;
                 indexes->Next())
                fields += QLatin1Char(';') + TrimRight(fieldName->AsString());
            if (!indexes->Eof())
                indexes->Prior();
        }
        AddIndexInfo(name, fields, kind, kind & SConstraint::PrimaryKey, keySeen);
        indexes->Next();
    }
    return true;
}

// ------------------------------------------------------------ statements

void TSDS::SetCommandText(const QString& text) { d->FCommandText = OneLine(text); }

bool TSDS::HasTopLevelWhere(const QString& text)
{
    const QString upper = text.toUpper()
                              .replace(QLatin1Char('('), QStringLiteral(" ( "))
                              .replace(QLatin1Char(')'), QStringLiteral(" ) "));
    const QChar quote(QLatin1Char('"'));
    int depth = 0;
    bool found = false;
    qsizetype pos = 0;
    while (pos < upper.size()) {
        // The next token: up to white space, quoted parts copied whole.
        QString token;
        while (pos < upper.size() && !upper.at(pos).isSpace()) {
            if (upper.at(pos) == quote) {
                const qsizetype close = upper.indexOf(quote, pos + 1);
                if (close < 0)
                    return found; // an unterminated quote ends the scan
                token += upper.mid(pos, close - pos + 1);
                pos = close + 1;
            } else {
                token += upper.at(pos++);
            }
        }
        ++pos; // the white space
        if (token == QLatin1String("SELECT")) {
            ++depth;
        } else if (token == QLatin1String("FROM")) {
            if (depth > 1) {
                // The rest of a sub-select says nothing about the outer WHERE.
                const qsizetype close = upper.indexOf(QLatin1Char(')'), pos);
                pos = close < 0 ? upper.size() : close + 1;
            }
            --depth;
        } else if (token == QLatin1String("WHERE") && depth == 0) {
            found = true;
        }
    }
    return found;
}

std::vector<TSDSPrivate::TMasterDetailPair> TSDSPrivate::MasterDetailPairs() const
{
    std::vector<TMasterDetailPair> pairs;
    const QStringList masters = SplitFieldList(q->MasterFields());
    const QStringList details = q->DetailFields().split(QLatin1Char(';'));
    for (qsizetype i = 0; i < masters.size(); ++i) {
        // Missing detail names default to the master's, as the local link does.
        const QString detail = i < details.size() ? details.at(i).trimmed() : QString();
        pairs.push_back({masters.at(i), detail.isEmpty() ? masters.at(i) : detail});
    }
    return pairs;
}

QString TSDS::ServerCondition() const
{
    QStringList parts;
    if (d->FOptions.Contains(dsoHandleMDBySQL))
        for (const auto& [master, detail] : d->MasterDetailPairs())
            parts << detail + QStringLiteral("=:") + SDSNames::MasterParamPrefix + detail;
    const QString condition = parts.join(QStringLiteral(" AND "));
    if (d->FServerFilter.isEmpty())
        return condition;
    if (condition.isEmpty())
        return d->FServerFilter;
    return condition + QStringLiteral(" and ") + d->FServerFilter;
}

QString TSDSPrivate::OrderFieldNames() const
{
    const QString fields = q->IndexFieldNames();
    if (q->LevelNavigation() && fields.startsWith(SDSNames::ParentId))
        return fields.mid(SDSNames::ParentId.size() + 1);
    return fields;
}

void TSDS::BuildStatements()
{
    if (d->FTableName.isEmpty())
        return;
    const QString& cmd = d->FCommandText;
    ReadIndexes();

    // The field lists, in definition order.
    const bool resolved = d->FOptions.Contains(dsoChangesResolved);
    const QString prefix = !d->FCommandText.isEmpty() && resolved ? d->FTableName + QLatin1Char('.') : QString();
    QStringList selectList, insertColumns, insertValues, updateSet, allFields;
    for (int i = 0; i < FieldDefs().Count(); ++i) {
        const TFieldDef& def = FieldDefs()[i];
        const QString& name = def.Name();
        if (def.InternalCalcField() || def.DataType() == ftUnknown || SameName(name, SDSNames::DbKey))
            continue;
        const TField* field = FindField(name);
        if (!field || field->ProviderFlags() != 0)
            selectList << name;
        if (def.ReadOnly() || (field && !(field->ProviderFlags() & pfInUpdate)))
            continue;
        const bool time = SameName(name, SDSNames::Time);
        insertColumns << name;
        insertValues << (time ? NowLiteral : QLatin1Char(':') + name);
        updateSet << name + (time ? QStringLiteral(" = ") + NowLiteral : QStringLiteral(" = :") + name);
        if (!time && !IsBlobType(def.DataType()))
            allFields << prefix + name + QStringLiteral(" = :") + name;
    }
    QStringList keyCondition;
    for (const QString& name : SplitFieldList(d->FKeyFields))
        keyCondition << prefix + name + QStringLiteral(" = :") + name;
    const QString keyWhere = (d->FKeyFields.isEmpty() ? allFields : keyCondition).join(QStringLiteral(" AND "));

    const QString cmdJoin = HasTopLevelWhere(cmd) ? QStringLiteral(" AND ") : QStringLiteral(" WHERE ");
    // Every column of the relation with the row address.
    const QString wholeRow = d->FTableName + QStringLiteral(".*, RDB$DB_KEY as IBX_INTERNAL_DBKEY from ")
                             + d->FTableName;
    const QString selectText = QStringLiteral("select ")
                               + (d->FOptions.Contains(dsoLoadAllFields) ? d->FTableName + QStringLiteral(".*")
                                                                         : selectList.join(QLatin1Char(',')))
                               + QStringLiteral(", RDB$DB_KEY as IBX_INTERNAL_DBKEY from ") + d->FTableName;
    const QString insertText = QStringLiteral("insert into ") + d->FTableName + QStringLiteral(" (")
                               + insertColumns.join(QStringLiteral(", ")) + QStringLiteral(") values (")
                               + insertValues.join(QStringLiteral(", ")) + QLatin1Char(')');
    const QString updateText = QStringLiteral("update ") + d->FTableName + QStringLiteral(" set ")
                               + updateSet.join(QStringLiteral(", "));
    const QString refreshByDbKey = QStringLiteral("select ") + wholeRow
                                   + QStringLiteral(" where RDB$DB_KEY = :IBX_INTERNAL_DBKEY");

    if (cmd.isEmpty())
        SetLines(*d->FSelectSQL, selectText);
    SetLines(*d->FInsertSQL, insertText);
    if (cmd.isEmpty())
        SetLines(*d->FRefreshSQL, refreshByDbKey);
    else if (resolved || cmd.contains(SDSNames::DbKey))
        SetLines(*d->FRefreshSQL, cmd, cmdJoin + d->FTableName + DbKeyCondition);
    if (resolved) {
        SetLines(*d->FDeleteSQL, QStringLiteral("delete from ") + d->FTableName
                                     + QStringLiteral(" where RDB$DB_KEY = :IBX_INTERNAL_DBKEY"));
        SetLines(*d->FUpdateSQL, updateText + QStringLiteral(" where RDB$DB_KEY = :IBX_INTERNAL_DBKEY"));
        SetLines(*d->FDeleteByKeySQL,
                 QStringLiteral("DELETE FROM ") + d->FTableName + QStringLiteral(" WHERE ") + keyWhere);
        if (cmd.isEmpty())
            SetLines(*d->FRefreshByKeySQL, QStringLiteral("SELECT ") + wholeRow + QStringLiteral(" WHERE ") + keyWhere);
        else
            SetLines(*d->FRefreshByKeySQL, cmd, cmdJoin + keyWhere);
        SetLines(*d->FUpdateByKeySQL, updateText + QStringLiteral(" where ") + keyWhere);
    }

    if (const QString condition = ServerCondition(); !condition.isEmpty())
        d->FSelectSQL->SQL().Add(cmdJoin + condition); // an empty text has no WHERE

    // A view without triggers to resolve its writes takes none.
    d->FReadOnlyView = resolved && d->FRelationIsView && !updateSet.isEmpty()
                       && !d->ServerUpdatesView(updateText + QStringLiteral(" where RDB$DB_KEY = :IBX_INTERNAL_DBKEY"));

    QStringList order;
    for (const QString& name : SplitFieldList(d->OrderFieldNames().isEmpty() ? d->FKeyFields : d->OrderFieldNames())) {
        const TField* field = FindField(name);
        if (!FieldDefs().Find(name) || (field && !(field->ProviderFlags() & pfInUpdate)))
            break;
        order << prefix + name;
    }
    if (!order.isEmpty())
        d->FSelectSQL->SQL().Add(QStringLiteral(" ORDER BY ") + order.join(QLatin1Char(',')));
}
