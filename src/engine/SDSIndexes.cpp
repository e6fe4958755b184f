// The data set's indexes and key searches: the relation's key and indexes
// by name, indexes made for field lists, the record visibility rule in
// filtered indexes, the level prefix, the fast lookup, and what an attached
// data set checks against its master.
#include "SDS.h"
#include "SDS_p.h"

#include <QRandomGenerator>

#include <algorithm>

namespace {
bool SameText(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

bool BeginsWithParentId(const QString& fields)
{
    const QStringList names = SplitFieldList(fields);
    return !names.isEmpty() && SameText(names.first(), SDSNames::ParentId);
}

QString WithoutParentId(const QString& fields)
{
    QStringList names = SplitFieldList(fields);
    names.removeFirst();
    return names.join(QLatin1Char(';'));
}
} // namespace

// ---------------------------------------------------- filtered or plain

bool TSDSPrivate::FilteredIndexes() const
{
    return FOptions.Contains(dsoPermissions) || (FOptions.Contains(dsoLevels) && FLevelMode == dslmShowOnlyLeaf)
           || (FOptions.Contains(dsoVirtualDelete) && !FOptions.Contains(dsoShowDeleted)) || q->IsLookupClone();
}

TCustomMemTable::TIndexRecordFilter TSDSPrivate::IndexFilter() const
{
    if (!FilteredIndexes())
        return {};
    return [](TCustomMemTable& table, TRecordId row) { return static_cast<TSDS&>(table).RecordVisible(row); };
}

// ---------------------------------------------------------- level prefix

QString TSDSPrivate::WithLevelPrefix(const QString& fields) const
{
    // Without SYS$PID there is no level to confine an index to.
    if (!q->LevelNavigation() || !FParentIdField || BeginsWithParentId(fields))
        return fields;
    return SplitFieldList(fields).isEmpty() ? SDSNames::ParentId : SDSNames::ParentId + QLatin1Char(';') + fields;
}

bool TSDSPrivate::BeginsWithLevelPrefix() const { return BeginsWithParentId(q->TCustomMemTable::IndexFieldNames()); }

void TSDSPrivate::SelectOpeningIndex()
{
    if (q->TCustomMemTable::IndexFieldNames().isEmpty() && q->TCustomMemTable::IndexName().isEmpty())
        q->SetIndexName(QString());
    else
        q->ApplyLevelRange();
}

void TSDSPrivate::RequireParentIdField() const
{
    RTL_ASSERT(FParentIdField, QStringLiteral("Не вычислен индекс поля SYS$PID"));
}

void TSDSPrivate::RequireIdField() const { RTL_ASSERT(FIdField, QStringLiteral("Не вычислен индекс поля SYS$ID")); }

std::vector<Variant> TSDSPrivate::LevelKey(const std::vector<Variant>& keyValues) const
{
    RequireParentIdField();
    RTL_ASSERT(FLevelInfos.Count() > 0, QStringLiteral("Ошибка структуры справочника!\n\rLastLevel=0"));
    std::vector<Variant> key{Variant(FLevelInfos.Last()->ID)};
    key.insert(key.end(), keyValues.begin(), keyValues.end());
    return key;
}

void TSDSPrivate::PutLevelIntoKeyBuffer()
{
    if (!q->LevelNavigation() || q->State() != dsSetKey)
        return;
    const std::vector<Variant> key = LevelKey({});
    FParentIdField->SetValue(key.front());
}

// ------------------------------------------------------ names and lists

QString TSDS::IndexName() const
{
    // An index made for a field list is chosen by its fields, not by its name.
    const QString name = TCustomMemTable::IndexName();
    const bool byFields = SameText(name, TCustomMemTable::IndexFieldNames())
                          || d->FFieldListIndexes.contains(name, Qt::CaseInsensitive);
    if (!name.isEmpty() && !byFields)
        return name;
    const QString fields = IndexFieldNames();
    if (SameText(fields, d->FKeyFields))
        return {};
    for (int i = 0; i < d->FIndexNames.size() && i < d->FIndexFieldLists.size(); ++i)
        if (SameText(d->FIndexFieldLists[i], fields))
            return d->FIndexNames[i];
    return {};
}

void TSDS::SetIndexName(const QString& name)
{
    if (!Active()) {
        TCustomMemTable::SetIndexName(name);
        return;
    }
    const QString indexName = name.isEmpty() && !d->FTableName.isEmpty() ? SDSNames::PrimaryKeyIndex : name;
    if (!indexName.isEmpty() && IndexDefs().Find(indexName)) {
        TCustomMemTable::SetIndexName(indexName);
        ApplyLevelRange();
        return;
    }
    if (SameText(indexName, SDSNames::PrimaryKeyIndex)) {
        if (d->FKeyFields.isEmpty())
            return; // a relation without a key keeps its order
        d->AddKeyIndex(d->WithLevelPrefix(d->FKeyFields));
    } else {
        const auto named = std::find_if(d->FIndexNames.begin(), d->FIndexNames.end(),
                                        [&](const QString& each) { return SameText(each, indexName); });
        const int at = named == d->FIndexNames.end() ? -1 : static_cast<int>(named - d->FIndexNames.begin());
        if (at < 0 || at >= d->FIndexFieldLists.size()) {
            TCustomMemTable::SetIndexName(indexName); // the table's error for an unknown index
            return;
        }
        AddIndex(indexName, d->WithLevelPrefix(d->FIndexFieldLists[at]), 0, d->IndexFilter());
    }
    TCustomMemTable::SetIndexName(SameText(indexName, SDSNames::PrimaryKeyIndex) ? SDSNames::PrimaryKeyIndex
                                                                                 : indexName);
    ApplyLevelRange();
}

void TSDSPrivate::AddKeyIndex(const QString& fields)
{
    try {
        q->AddIndex(SDSNames::PrimaryKeyIndex, fields, ixUnique, IndexFilter());
    } catch (const EDatabaseError&) {
        // Rows as loaded may repeat the key (a select with a join, several
        // nulls): the key order is kept without the uniqueness. A field that
        // cannot be indexed fails again here.
        q->AddIndex(SDSNames::PrimaryKeyIndex, fields, 0, IndexFilter());
    }
}

void TSDSPrivate::EnableIndexesAfterLoad()
{
    try {
        q->SetEnableIndexes(true);
    } catch (const EDatabaseError&) {
        TIndexDef* key = q->IndexDefs().Find(SDSNames::PrimaryKeyIndex);
        if (!key || !(key->Options() & ixUnique))
            throw;
        key->SetOptions(key->Options() & ~ixUnique);
        q->SetEnableIndexes(true);
    }
}

QString TSDS::IndexFieldNames() const
{
    const QString fields = TCustomMemTable::IndexFieldNames();
    return LevelNavigation() && BeginsWithParentId(fields) ? WithoutParentId(fields) : fields;
}

void TSDS::SetIndexFieldNames(const QString& fields)
{
    if (!Active()) {
        TCustomMemTable::SetIndexFieldNames(fields);
        return;
    }
    const QString list = d->WithLevelPrefix(fields);
    QString made;
    if (!SplitFieldList(list).isEmpty() && !IndexDefs().FindByFields(list))
        made = d->AddFieldListIndex(list);
    TCustomMemTable::SetIndexFieldNames(list);
    if (!made.isEmpty())
        KeepSortIndex(made);
    // Names of field-list indexes a later order dropped are forgotten.
    d->FFieldListIndexes.removeIf([this](const QString& name) { return !IndexDefs().Find(name); });
    ApplyLevelRange();
}

QString TSDSPrivate::AddFieldListIndex(const QString& fields)
{
    QString name;
    do
        name = QString::number(QRandomGenerator::global()->bounded(2147483647));
    while (q->IndexDefs().Find(name));
    q->AddIndex(name, fields, 0, IndexFilter());
    FFieldListIndexes.append(name);
    return name;
}

void TSDS::GetIndexFields(QList<TField*>& list) const
{
    list.clear();
    const QString fields = IndexFieldNames();
    if (fields.isEmpty())
        return;
    for (TField* field : GetFieldList(fields))
        list.append(field);
}

// ------------------------------------------------- key searches, ranges

bool TSDS::FindKey(const std::vector<Variant>& keyValues)
{
    return TCustomMemTable::FindKey(LevelNavigation() ? d->LevelKey(keyValues) : keyValues);
}

void TSDS::FindNearest(const std::vector<Variant>& keyValues)
{
    TCustomMemTable::FindNearest(LevelNavigation() ? d->LevelKey(keyValues) : keyValues);
}

bool TSDS::GotoKey()
{
    if (LevelNavigation() && State() != dsSetKey)
        EditKey();
    d->PutLevelIntoKeyBuffer();
    return TCustomMemTable::GotoKey();
}

void TSDS::GotoNearest()
{
    if (LevelNavigation() && State() != dsSetKey)
        EditKey();
    d->PutLevelIntoKeyBuffer();
    TCustomMemTable::GotoNearest();
}

void TSDS::SetRange(const std::vector<Variant>& startValues, const std::vector<Variant>& endValues)
{
    if (LevelNavigation())
        TCustomMemTable::SetRange(d->LevelKey(startValues), d->LevelKey(endValues));
    else
        TCustomMemTable::SetRange(startValues, endValues);
}

void TSDS::SetRangeStart()
{
    TCustomMemTable::SetRangeStart();
    d->PutLevelIntoKeyBuffer();
}

void TSDS::SetRangeEnd()
{
    TCustomMemTable::SetRangeEnd();
    d->PutLevelIntoKeyBuffer();
}

void TSDS::EditRangeStart()
{
    TCustomMemTable::EditRangeStart();
    d->PutLevelIntoKeyBuffer();
}

void TSDS::EditRangeEnd()
{
    TCustomMemTable::EditRangeEnd();
    d->PutLevelIntoKeyBuffer();
}

// ---------------------------------------------------------------- lookup

Variant TSDS::Lookup(const QString& keyFields, const Variant& keyValues, const QString& resultFields)
{
    // A key search on the current index, when the index leads with the key
    // field (past the level prefix): by another index it would find nothing
    // or the wrong record. Not while a record is edited, which the move
    // would post.
    const QString indexFields = TCustomMemTable::IndexFieldNames();
    const QStringList ordered = SplitFieldList(IndexFieldNames());
    const bool byId = keyFields == SDSNames::Id && !ordered.isEmpty() && SameText(ordered.first(), SDSNames::Id);
    const bool byIndex = !keyFields.contains(QLatin1Char(';')) && !indexFields.isEmpty()
                         && SameText(keyFields, indexFields);
    if (Active() && State() == dsBrowse && (byId || byIndex)) {
        if (!FindKey({keyValues}))
            return Variant::Null();
        return FieldByName(resultFields)->Value();
    }
    return TCustomMemTable::Lookup(keyFields, keyValues, resultFields);
}

// ------------------------------------------------- attached data sets

bool TSDS::HasDetailDataSets() const { return !GetDetailDataSets().isEmpty(); }

void TSDS::CheckFieldsAgainstMaster()
{
    if (!d->FMasterDataset || FieldCount() == 0 || DefaultFields())
        return;
    TSDS& master = *d->FMasterDataset;
    FieldDefs().Assign(master.FieldDefs());
    CreateMissingFields();
    const auto fail = [&](const TField& field, const char* what) {
        throw Exception(QStringLiteral("В компоненте ") + QualifiedName() + QStringLiteral(" присутствует поле ")
                        + field.FieldName() + QString::fromUtf8(what) + master.objectName());
    };
    for (const TField* field : Fields()) {
        if (field->FieldKind() != fkCalculated && field->FieldKind() != fkLookup && field->ProviderFlags() != 0)
            continue;
        const TField* own = master.FindField(field->FieldName());
        if (!own)
            fail(*field, " которое отсутствует в master компоненте ");
        if (own->DataType() != field->DataType())
            fail(*field, " тип которого не совпадает с типом поля в master компоненте ");
        if (own->Size() != field->Size())
            fail(*field, " размер которого не совпадает с размером поля в master компоненте ");
    }
}
