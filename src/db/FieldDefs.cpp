#include "FieldDefs.h"

#include "Exceptions.h"

TFieldDef::TFieldDef(TFieldDefs* owner, const QString& name, TFieldType type, int size, bool required, int fieldNo)
    : FOwner(owner), FName(name), FDataType(type), FSize(size),
      FAttributes(required ? TFieldAttributes(faRequired) : TFieldAttributes(0)), FFieldNo(fieldNo)
{
}

void TFieldDef::Changed()
{
    if (FOwner)
        FOwner->Changed();
}

void TFieldDef::SetName(const QString& name)
{
    FName = name;
    Changed();
}
void TFieldDef::SetDataType(TFieldType type)
{
    FDataType = type;
    Changed();
}
void TFieldDef::SetSize(int size)
{
    FSize = size;
    Changed();
}
void TFieldDef::SetPrecision(int precision)
{
    FPrecision = precision;
    Changed();
}
void TFieldDef::SetAttributes(TFieldAttributes attributes)
{
    FAttributes = attributes;
    Changed();
}
void TFieldDef::SetInternalCalcField(bool value)
{
    FInternalCalcField = value;
    Changed();
}
void TFieldDef::SetFieldNo(int fieldNo)
{
    FFieldNo = fieldNo;
    Changed();
}

void TFieldDef::SetRequired(bool required)
{
    SetAttributes(required ? (FAttributes | faRequired) : (FAttributes & ~faRequired));
}

int TFieldDef::Index() const { return FOwner ? FOwner->IndexOf(FName) : -1; }

TFieldDef& TFieldDefs::Add(const QString& name, TFieldType type, int size, bool required)
{
    FItems.push_back(std::make_unique<TFieldDef>(this, name, type, size, required, Count() + 1));
    Changed();
    return *FItems.back();
}

TFieldDef& TFieldDefs::AddFieldDef() { return Add(QString(), ftUnknown); }

void TFieldDefs::Assign(const TFieldDefs& source)
{
    BeginUpdate();
    Clear();
    for (const auto& def : source.FItems) {
        TFieldDef& copy = Add(def->Name(), def->DataType(), def->Size());
        copy.SetPrecision(def->Precision());
        copy.SetAttributes(def->Attributes());
        copy.SetInternalCalcField(def->InternalCalcField());
        copy.SetFieldNo(def->FieldNo());
    }
    EndUpdate();
}

void TFieldDefs::Clear()
{
    FItems.clear();
    Changed();
}

void TFieldDefs::Delete(int index)
{
    RTL_ASSERT(index >= 0 && index < Count(), QStringLiteral("Field definition index out of range"));
    FItems.erase(FItems.begin() + index);
    Changed();
}

TFieldDef& TFieldDefs::operator[](int index) const
{
    RTL_ASSERT(index >= 0 && index < Count(), QStringLiteral("Field definition index out of range"));
    return *FItems[static_cast<size_t>(index)];
}

int TFieldDefs::IndexOf(const QString& name) const
{
    for (int i = 0; i < Count(); ++i)
        if (FItems[static_cast<size_t>(i)]->Name().compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

TFieldDef* TFieldDefs::Find(const QString& name) const
{
    const int index = IndexOf(name);
    return index < 0 ? nullptr : FItems[static_cast<size_t>(index)].get();
}

TFieldDef& TFieldDefs::FieldDefByName(const QString& name) const
{
    if (TFieldDef* def = Find(name))
        return *def;
    throw EDatabaseError(QStringLiteral("Field '%1' not found").arg(name));
}

QStringList TFieldDefs::Names() const
{
    QStringList names;
    for (const auto& def : FItems)
        names << def->Name();
    return names;
}

void TFieldDefs::EndUpdate()
{
    RTL_ASSERT(FUpdateCount > 0, QStringLiteral("EndUpdate without BeginUpdate"));
    if (--FUpdateCount == 0 && FChangedWhileUpdating) {
        FChangedWhileUpdating = false;
        if (OnChange)
            OnChange();
    }
}

void TFieldDefs::Changed()
{
    if (FUpdateCount > 0)
        FChangedWhileUpdating = true;
    else if (OnChange)
        OnChange();
}
