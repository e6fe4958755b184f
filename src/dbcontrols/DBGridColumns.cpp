#include "DBGridColumns.h"

#include "DBGridGates_p.h"
#include "DataSet.h"

#include <algorithm>

// --- TColumnTitle

QString TColumnTitle::Caption() const
{
    if (FCaption)
        return *FCaption;
    if (FColumn.Field())
        return FColumn.Field()->DisplayName();
    return FColumn.FieldName();
}

void TColumnTitle::SetCaption(const QString& caption)
{
    FCaption = caption;
    TColumnsTitleGate::Changed(FColumn.Collection());
}

void TColumnTitle::SetAlignment(Qt::Alignment alignment)
{
    FAlignment = alignment;
    TColumnsTitleGate::Changed(FColumn.Collection());
}

void TColumnTitle::SetSortMarker(TSortMarker marker)
{
    if (FSortMarker == marker)
        return;
    FSortMarker = marker;
    TColumnsTitleGate::Changed(FColumn.Collection());
}

void TColumnTitle::SetSortIndex(int index)
{
    if (FSortIndex == index)
        return;
    FSortIndex = index;
    TColumnsTitleGate::Changed(FColumn.Collection());
}

// --- TColumnEx

QString TColumnEx::FormatValue(const Variant& value) const
{
    if (!FKeyList.isEmpty()) {
        const qsizetype at = FKeyList.indexOf(VarToStr(value));
        return at >= 0 && at < FPickList.size() ? FPickList[at] : QString();
    }
    if (value.IsEmptyOrNull())
        return QString();
    return FField ? FField->DisplayTextOf(value) : VarToStr(value);
}

TColumnEx::TColumnEx(TDBGridColumns& owner) : FOwner(owner), FTitle(*this) {}

int TColumnEx::Index() const { return FOwner.IndexOf(this); }

void TColumnEx::SetIndex(int index) { FOwner.Move(Index(), index); }

void TColumnEx::SetFieldName(const QString& name)
{
    FFieldName = name;
    TDataSet* dataSet = TColumnsColumnGate::DataSet(FOwner);
    FField = dataSet && dataSet->Active() ? dataSet->FindField(name) : nullptr;
    Changed();
}

void TColumnEx::SetWidth(int width)
{
    if (FWidth == width)
        return;
    FWidth = std::max(0, width);
    Changed();
}

Qt::Alignment TColumnEx::Alignment() const
{
    if (FAlignment)
        return *FAlignment;
    return FField && IsNumericType(FField->DataType()) ? Qt::AlignRight : Qt::AlignLeft;
}

void TColumnEx::SetAlignment(Qt::Alignment alignment)
{
    FAlignment = alignment;
    Changed();
}

void TColumnEx::SetVisible(bool value)
{
    if (FVisible == value)
        return;
    FVisible = value;
    Changed();
}

QString TColumnEx::EditMask() const
{
    if (FEditMask)
        return *FEditMask;
    return FField ? FField->EditMask() : QString();
}

void TColumnEx::SetColor(const QColor& color)
{
    FColor = color;
    Changed();
}

bool TColumnEx::CanModify() const
{
    if (FReadOnly || !FField || FField->ReadOnly())
        return false;
    // A lookup field is changed through its key fields.
    if (FField->Lookup())
        return !FField->KeyFields().isEmpty();
    return FField->FieldKind() == fkData;
}

void TColumnEx::Changed() { TColumnsColumnGate::Changed(FOwner); }

// --- TDBGridColumns

TColumnEx* TDBGridColumns::Add()
{
    if (!FBuilding)
        FState = csCustomized;
    FItems.push_back(std::make_unique<TColumnEx>(*this));
    Changed();
    return FItems.back().get();
}

void TDBGridColumns::Remove(int index)
{
    if (index < 0 || index >= Count())
        return;
    FItems.erase(FItems.begin() + index);
    Changed();
}

void TDBGridColumns::Clear()
{
    if (FItems.empty())
        return;
    FItems.clear();
    Changed();
}

void TDBGridColumns::Move(int from, int to)
{
    if (from < 0 || from >= Count())
        return;
    to = std::clamp(to, 0, Count() - 1);
    if (from == to)
        return;
    auto column = std::move(FItems[static_cast<size_t>(from)]);
    FItems.erase(FItems.begin() + from);
    FItems.insert(FItems.begin() + to, std::move(column));
    Changed();
}

int TDBGridColumns::IndexOf(const TColumnEx* column) const
{
    for (int i = 0; i < Count(); ++i)
        if (FItems[static_cast<size_t>(i)].get() == column)
            return i;
    return -1;
}

TColumnEx* TDBGridColumns::ColumnByFieldName(const QString& fieldName) const
{
    for (const auto& column : FItems)
        if (column->FieldName().compare(fieldName, Qt::CaseInsensitive) == 0)
            return column.get();
    return nullptr;
}

void TDBGridColumns::SetState(TDBGridColumnsState state)
{
    if (FState == state)
        return;
    FState = state;
    if (state == csDefault)
        RebuildDefault();
}

void TDBGridColumns::EndUpdate()
{
    if (FUpdateCount > 0 && --FUpdateCount == 0 && FChanged)
        Changed();
}

void TDBGridColumns::RebuildDefault()
{
    if (FState != csDefault)
        return;
    BeginUpdate();
    FBuilding = true;
    FItems.clear();
    TDataSet* dataSet = FGrid.ColumnsDataSet();
    if (dataSet && dataSet->Active())
        for (TField* field : dataSet->Fields())
            if (field->Visible())
                Add()->SetFieldName(field->FieldName());
    FBuilding = false;
    FChanged = true;
    EndUpdate();
}

void TDBGridColumns::BindFields()
{
    TDataSet* dataSet = FGrid.ColumnsDataSet();
    const bool open = dataSet && dataSet->Active();
    for (const auto& column : FItems)
        TColumnFieldGate::Bind(*column, open ? dataSet->FindField(column->FieldName()) : nullptr);
}

void TDBGridColumns::Changed()
{
    if (FUpdateCount > 0) {
        FChanged = true;
        return;
    }
    FChanged = false;
    FGrid.ColumnsChanged();
}
