// Field definitions: what a data set's records hold, before any field
// object exists. A data set fills them (from a catalogue, a select text or
// its persistent fields) and creates its fields from them when it opens.
#pragma once

#include "FieldTypes.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class TFieldDefs;

class TFieldDef
{
public:
    TFieldDef(TFieldDefs* owner, const QString& name, TFieldType type, int size, bool required, int fieldNo);

    const QString& Name() const { return FName; }
    void SetName(const QString& name);
    TFieldType DataType() const { return FDataType; }
    void SetDataType(TFieldType type);
    // Characters of a string, decimals of a BCD, bytes of a fixed binary.
    int Size() const { return FSize; }
    void SetSize(int size);
    // Total digits of a BCD.
    int Precision() const { return FPrecision; }
    void SetPrecision(int precision);
    bool Required() const { return FAttributes & faRequired; }
    void SetRequired(bool required);
    TFieldAttributes Attributes() const { return FAttributes; }
    void SetAttributes(TFieldAttributes attributes);
    bool ReadOnly() const { return FAttributes & faReadonly; }
    // Computed by the server: read, never written.
    bool InternalCalcField() const { return FInternalCalcField; }
    void SetInternalCalcField(bool value);
    // The column's number in its source, from 1 unless the source says otherwise.
    int FieldNo() const { return FFieldNo; }
    void SetFieldNo(int fieldNo);
    int Index() const;

private:
    void Changed();

    TFieldDefs* FOwner;
    QString FName;
    TFieldType FDataType;
    int FSize;
    int FPrecision = 0;
    TFieldAttributes FAttributes = 0;
    bool FInternalCalcField = false;
    int FFieldNo;
};

class TFieldDefs
{
public:
    TFieldDefs() = default;
    TFieldDefs(const TFieldDefs&) = delete;
    TFieldDefs& operator=(const TFieldDefs&) = delete;

    // Field number defaults to the new count (1 for the first definition).
    TFieldDef& Add(const QString& name, TFieldType type, int size = 0, bool required = false);
    TFieldDef& AddFieldDef();
    void Assign(const TFieldDefs& source);
    void Clear();
    void Delete(int index);
    int Count() const { return static_cast<int>(FItems.size()); }
    TFieldDef& operator[](int index) const;
    TFieldDef& Items(int index) const { return (*this)[index]; }

    // Names compare without regard to case, as the database does.
    int IndexOf(const QString& name) const;
    TFieldDef* Find(const QString& name) const; // none: null
    // Raises EDatabaseError "Field '%s' not found" when there is none.
    TFieldDef& FieldDefByName(const QString& name) const;
    QStringList Names() const;

    // Changes between BeginUpdate and the last EndUpdate are reported once.
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();
    bool Updating() const { return FUpdateCount > 0; }
    std::function<void()> OnChange;

private:
    friend class TFieldDef;
    void Changed();

    std::vector<std::unique_ptr<TFieldDef>> FItems;
    int FUpdateCount = 0;
    bool FChangedWhileUpdating = false;
};
