// The data set's indexes and key searches: the relation's key and indexes
// by name, indexes made for field lists, the record visibility rule in
// filtered indexes, the level prefix, the fast lookup, and what an attached
// data set checks against its master.
#include "SDS.h"

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

bool TSDS::FilteredIndexes() const
{
    return FOptions.Contains(dsoPermissions) || (FOptions.Contains(dsoLevels) && FLevelMode == dslmShowOnlyLeaf)
           || (FOptions.Contains(dsoVirtualDelete) && !FOptions.Contains(dsoShowDeleted)) || IsLookupClone();
}

TCustomMemTable::TIndexRecordFilter TSDS::IndexFilter() const
{
    if (!FilteredIndexes())
        return {};
    return [](TCustomMemTable& table, TRecordId row) { return static_cast<TSDS&>(table).RecordVisible(row); };
}

// ---------------------------------------------------------- level prefix

QString TSDS::WithLevelPrefix(const QString& fields) const
{
    // Without SYS$PID there is no level to confine an index to.
    if (!LevelNavigation() || !FParentIdField || BeginsWithParentId(fields))
        return fields;
    return SplitFieldList(fields).isEmpty() ? SDSNames::ParentId : SDSNames::ParentId + QLatin1Char(';') + fields;
}

bool TSDS::BeginsWithLevelPrefix() const { return BeginsWithParentId(TCustomMemTable::IndexFieldNames()); }

void TSDS::SelectOpeningIndex()
{
    if (TCustomMemTable::IndexFieldNames().isEmpty() && TCustomMemTable::IndexName().isEmpty())
        SetIndexName(QString());
    else
        ApplyLevelRange();
}

void TSDS::RequireParentIdField() const
{
    RTL_ASSERT(FParentIdField, QStringLiteral("Не вычислен индекс поля SYS$PID"));
}

void TSDS::RequireIdField() const { RTL_ASSERT(FIdField, QStringLiteral("Не вычислен индекс поля SYS$ID")); }

std::vector<Variant> TSDS::LevelKey(const std::vector<Variant>& keyValues) const
{
    RequireParentIdField();
    RTL_ASSERT(FLevelInfos.Count() > 0, QStringLiteral("Ошибка структуры справочника!\n\rLastLevel=0"));
    std::vector<Variant> key{Variant(FLevelInfos.Last()->ID)};
    key.insert(key.end(), keyValues.begin(), keyValues.end());
    return key;
}

void TSDS::PutLevelIntoKeyBuffer()
{
    if (!LevelNavigation() || State() != dsSetKey)
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
                          || FFieldListIndexes.contains(name, Qt::CaseInsensitive);
    if (!name.isEmpty() && !byFields)
        return name;
    const QString fields = IndexFieldNames();
    if (SameText(fields, FKeyFields))
        return {};
    for (int i = 0; i < FIndexNames.size() && i < FIndexFieldLists.size(); ++i)
        if (SameText(FIndexFieldLists[i], fields))
            return FIndexNames[i];
    return {};
}

void TSDS::SetIndexName(const QString& name)
{
    if (!Active()) {
        TCustomMemTable::SetIndexName(name);
        return;
    }
    const QString indexName = name.isEmpty() && !FTableName.isEmpty() ? SDSNames::PrimaryKeyIndex : name;
    if (!indexName.isEmpty() && IndexDefs().Find(indexName)) {
        TCustomMemTable::SetIndexName(indexName);
        ApplyLevelRange();
        return;
    }
    if (SameText(indexName, SDSNames::PrimaryKeyIndex)) {
        if (FKeyFields.isEmpty())
            return; // a relation without a key keeps its order
        AddKeyIndex(WithLevelPrefix(FKeyFields));
    } else {
        const auto named = std::find_if(FIndexNames.begin(), FIndexNames.end(),
                                        [&](const QString& each) { return SameText(each, indexName); });
        const int at = named == FIndexNames.end() ? -1 : static_cast<int>(named - FIndexNames.begin());
        if (at < 0 || at >= FIndexFieldLists.size()) {
            TCustomMemTable::SetIndexName(indexName); // the table's error for an unknown index
            return;
        }
        AddIndex(indexName, WithLevelPrefix(FIndexFieldLists[at]), 0, IndexFilter());
    }
    TCustomMemTable::SetIndexName(SameText(indexName, SDSNames::PrimaryKeyIndex) ? SDSNames::PrimaryKeyIndex
                                                                                 : indexName);
    ApplyLevelRange();
}

void TSDS::AddKeyIndex(const QString& fields)
{
    try {
        AddIndex(SDSNames::PrimaryKeyIndex, fields, ixUnique, IndexFilter());
    } catch (const EDatabaseError&) {
        // Rows as loaded may repeat the key (a select with a join, several
        // nulls): the key order is kept without the uniqueness. A field that
        // cannot be indexed fails again here.
        AddIndex(SDSNames::PrimaryKeyIndex, fields, 0, IndexFilter());
    }
}

void TSDS::EnableIndexesAfterLoad()
{
    try {
        SetEnableIndexes(true);
    } catch (const EDatabaseError&) {
        TIndexDef* key = IndexDefs().Find(SDSNames::PrimaryKeyIndex);
        if (!key || !(key->Options() & ixUnique))
            throw;
        key->SetOptions(key->Options() & ~ixUnique);
        SetEnableIndexes(true);
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
    const QString list = WithLevelPrefix(fields);
    QString made;
    if (!SplitFieldList(list).isEmpty() && !IndexDefs().FindByFields(list))
        made = AddFieldListIndex(list);
    TCustomMemTable::SetIndexFieldNames(list);
    if (!made.isEmpty())
        KeepSortIndex(made);
    // Names of field-list indexes a later order dropped are forgotten.
    FFieldListIndexes.removeIf([this](const QString& name) { return !IndexDefs().Find(name); });
    ApplyLevelRange();
}

QString TSDS::AddFieldListIndex(const QString& fields)
{
    QString name;
    do
        name = QString::number(QRandomGenerator::global()->bounded(2147483647));
    while (IndexDefs().Find(name));
    AddIndex(name, fields, 0, IndexFilter());
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
    return TCustomMemTable::FindKey(LevelNavigation() ? LevelKey(keyValues) : keyValues);
}

void TSDS::FindNearest(const std::vector<Variant>& keyValues)
{
    TCustomMemTable::FindNearest(LevelNavigation() ? LevelKey(keyValues) : keyValues);
}

bool TSDS::GotoKey()
{
    if (LevelNavigation() && State() != dsSetKey)
        EditKey();
    PutLevelIntoKeyBuffer();
    return TCustomMemTable::GotoKey();
}

void TSDS::GotoNearest()
{
    if (LevelNavigation() && State() != dsSetKey)
        EditKey();
    PutLevelIntoKeyBuffer();
    TCustomMemTable::GotoNearest();
}

void TSDS::SetRange(const std::vector<Variant>& startValues, const std::vector<Variant>& endValues)
{
    if (LevelNavigation())
        TCustomMemTable::SetRange(LevelKey(startValues), LevelKey(endValues));
    else
        TCustomMemTable::SetRange(startValues, endValues);
}

void TSDS::SetRangeStart()
{
    TCustomMemTable::SetRangeStart();
    PutLevelIntoKeyBuffer();
}

void TSDS::SetRangeEnd()
{
    TCustomMemTable::SetRangeEnd();
    PutLevelIntoKeyBuffer();
}

void TSDS::EditRangeStart()
{
    TCustomMemTable::EditRangeStart();
    PutLevelIntoKeyBuffer();
}

void TSDS::EditRangeEnd()
{
    TCustomMemTable::EditRangeEnd();
    PutLevelIntoKeyBuffer();
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
    if (!FMasterDataset || FieldCount() == 0 || DefaultFields())
        return;
    TSDS& master = *FMasterDataset;
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
