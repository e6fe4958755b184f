#include "IndexDefs.h"

#include "Exceptions.h"

QStringList SplitFieldList(const QString& fields)
{
    QStringList names;
    for (const QString& part : fields.split(QLatin1Char(';'))) {
        const QString name = part.trimmed();
        if (!name.isEmpty())
            names << name;
    }
    return names;
}

TIndexDef::TIndexDef(const QString& name, const QString& fields, TIndexOptions options)
    : FName(name), FFields(fields), FFieldList(SplitFieldList(fields)), FOptions(options)
{
}

void TIndexDef::SetFields(const QString& fields)
{
    FFields = fields;
    FFieldList = SplitFieldList(fields);
}

TIndexDef& TIndexDefs::Add(const QString& name, const QString& fields, TIndexOptions options)
{
    FItems.push_back(std::make_unique<TIndexDef>(name, fields, options));
    return *FItems.back();
}

void TIndexDefs::Assign(const TIndexDefs& source)
{
    Clear();
    for (const auto& def : source.FItems)
        Add(def->Name(), def->Fields(), def->Options());
}

void TIndexDefs::Delete(int index)
{
    RTL_ASSERT(index >= 0 && index < Count(), QStringLiteral("Index definition index out of range"));
    FItems.erase(FItems.begin() + index);
}

TIndexDef& TIndexDefs::operator[](int index) const
{
    RTL_ASSERT(index >= 0 && index < Count(), QStringLiteral("Index definition index out of range"));
    return *FItems[static_cast<size_t>(index)];
}

int TIndexDefs::IndexOf(const QString& name) const
{
    for (int i = 0; i < Count(); ++i)
        if (FItems[static_cast<size_t>(i)]->Name().compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

TIndexDef* TIndexDefs::Find(const QString& name) const
{
    const int index = IndexOf(name);
    return index < 0 ? nullptr : FItems[static_cast<size_t>(index)].get();
}

TIndexDef& TIndexDefs::IndexByName(const QString& name) const
{
    if (TIndexDef* def = Find(name))
        return *def;
    throw EDatabaseError(QStringLiteral("Index '%1' not found").arg(name));
}

TIndexDef* TIndexDefs::FindByFields(const QString& fields) const
{
    const QStringList wanted = SplitFieldList(fields);
    for (const auto& def : FItems) {
        const QStringList& have = def->FieldList();
        if (have.size() == wanted.size()
            && std::equal(have.begin(), have.end(), wanted.begin(),
                          [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }))
            return def.get();
    }
    return nullptr;
}
