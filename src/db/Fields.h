// Fields: the typed view of one column of a data set's current record.
// A field reads and writes its value through its data set, which decides
// which record that is (the current row, the edit buffer, or a row a grid
// is painting).
#pragma once

#include "FieldTypes.h"
#include "Variant.h"

#include <QAnyStringView>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class TDataSet;
class TField;

using TFieldNotifyEvent = std::function<void(TField* sender)>;
using TFieldGetTextEvent = std::function<void(TField* sender, QString& text, bool displayText)>;
using TFieldSetTextEvent = std::function<void(TField* sender, const QString& text)>;

class TField : public QObject
{
    Q_OBJECT
public:
    // A field belongs to its owner (usually the data set); DataSet binds it.
    TField(TFieldType type, QObject* owner = nullptr);
    ~TField() override;

    TDataSet* DataSet() const { return FDataSet; }
    // Adds the field to the data set's field list (removes it from the old one).
    void SetDataSet(TDataSet* dataSet);

    const QString& FieldName() const { return FFieldName; }
    void SetFieldName(const QString& name) { FFieldName = name; }
    TFieldType DataType() const { return FDataType; }
    TFieldKind FieldKind() const { return FFieldKind; }
    void SetFieldKind(TFieldKind kind) { FFieldKind = kind; }
    bool Calculated() const { return FFieldKind == fkCalculated; }
    bool Lookup() const { return FFieldKind == fkLookup; }
    // Stored in the record (data and internal-calculated fields).
    bool IsStored() const { return FFieldKind == fkData || FFieldKind == fkInternalCalc; }
    int Size() const { return FSize; }
    virtual void SetSize(int size) { FSize = size; }
    int FieldNo() const { return FFieldNo; } // the definition's number; 0 for calculated fields
    void SetFieldNo(int fieldNo) { FFieldNo = fieldNo; }
    int Index() const { return FDataSet ? FIndex : -1; } // in the data set's field list, -1 without one

    bool Required() const { return FRequired; }
    void SetRequired(bool value) { FRequired = value; }
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value) { FReadOnly = value; }
    bool Visible() const { return FVisible; }
    void SetVisible(bool value);
    const QString& DisplayLabel() const { return FDisplayLabel; }
    void SetDisplayLabel(const QString& label) { FDisplayLabel = label; }
    // The label, or the field name without one.
    QString DisplayName() const { return FDisplayLabel.isEmpty() ? FFieldName : FDisplayLabel; }
    int DisplayWidth() const { return FDisplayWidth > 0 ? FDisplayWidth : DefaultDisplayWidth(); }
    void SetDisplayWidth(int width) { FDisplayWidth = width; }
    const QString& DisplayFormat() const { return FDisplayFormat; }
    void SetDisplayFormat(const QString& format) { FDisplayFormat = format; }
    const QString& EditFormat() const { return FEditFormat; }
    void SetEditFormat(const QString& format) { FEditFormat = format; }
    const QString& EditMask() const { return FEditMask; }
    void SetEditMask(const QString& mask) { FEditMask = mask; }
    const QString& DefaultExpression() const { return FDefaultExpression; }
    void SetDefaultExpression(const QString& expression) { FDefaultExpression = expression; }
    TProviderFlags ProviderFlags() const { return FProviderFlags; }
    void SetProviderFlags(TProviderFlags flags) { FProviderFlags = flags; }

    // Lookup fields: the result field of the lookup data set's record whose
    // lookup key fields equal this data set's key fields.
    TDataSet* LookupDataSet() const { return FLookupDataSet; }
    void SetLookupDataSet(TDataSet* dataSet) { FLookupDataSet = dataSet; }
    const QString& KeyFields() const { return FKeyFields; }
    void SetKeyFields(const QString& fields) { FKeyFields = fields; }
    const QString& LookupKeyFields() const { return FLookupKeyFields; }
    void SetLookupKeyFields(const QString& fields) { FLookupKeyFields = fields; }
    const QString& LookupResultField() const { return FLookupResultField; }
    void SetLookupResultField(const QString& field) { FLookupResultField = field; }

    // The value of the data set's active record. Reading a field of a closed
    // data set raises EDatabaseError; writing checks the state first.
    Variant Value() const;
    void SetValue(const Variant& value);
    Variant AsVariant() const { return Value(); }
    void SetAsVariant(const Variant& value) { SetValue(value); }
    // The value before the current edit started (null in insert state).
    Variant OldValue() const;
    bool IsNull() const;
    void Clear() { SetValue(Variant::Null()); }

    // Typed access, with the field type's conversions. A null reads as the
    // type's empty value (0, "", false, date 0). Conversions that fail raise
    // EConvertError with "'<text>' is not a valid <kind> value" style
    // messages, or "Field '<name>' cannot be accessed as type <Type>" when
    // the field type has no such view.
    virtual QString AsString() const;
    virtual void SetAsString(const QString& value);
    // AsString's text without a copy where the data set holds it as text (a
    // row read in place, or the record's value): a walk that only looks at
    // the text allocates nothing. Other values are converted into a buffer
    // of the field's own. Valid until the data set moves, the value changes
    // or the field is read this way again.
    QAnyStringView AsStringView() const;
    virtual int32_t AsInteger() const;
    virtual void SetAsInteger(int32_t value);
    virtual int64_t AsLargeInt() const;
    virtual void SetAsLargeInt(int64_t value);
    virtual double AsFloat() const;
    virtual void SetAsFloat(double value);
    virtual TCurrency AsCurrency() const;
    virtual void SetAsCurrency(TCurrency value);
    virtual bool AsBoolean() const;
    virtual void SetAsBoolean(bool value);
    virtual TDateTime AsDateTime() const;
    virtual void SetAsDateTime(TDateTime value);
    virtual QByteArray AsBytes() const;
    virtual void SetAsBytes(const QByteArray& value);

    // Text as a grid shows it (DisplayFormat) and as an editor edits it
    // (EditFormat); OnGetText may replace both.
    QString DisplayText() const { return GetText(true); }
    // How the field would show a value of its own (its display format).
    QString DisplayTextOf(const Variant& value) const { return FormatValue(value, true); }
    QString Text() const { return GetText(false); }
    void SetText(const QString& text);

    // Asks the control showing the field to take the focus (before an error
    // about its value is shown); nothing shows fields that way yet.
    void FocusControl();

    TFieldNotifyEvent OnChange;
    TFieldNotifyEvent OnValidate;
    TFieldGetTextEvent OnGetText;
    TFieldSetTextEvent OnSetText;

    // The value the type stores, converted from any variant: raises
    // EConvertError when it cannot be converted.
    virtual Variant Normalize(const Variant& value) const;

protected:
    virtual QString FormatValue(const Variant& value, bool displayText) const;
    virtual int DefaultDisplayWidth() const;
    QString GetText(bool displayText) const;
    // Whether the display or the edit text groups thousands.
    bool ShowsThousandSeparators() const;
    // The value as Value() gives it, without a copy where the data set holds
    // it (held keeps it otherwise).
    const Variant& ValueRef(Variant& held) const;
    // The value where the data set's storage holds it, for typed reads that
    // need no variant; vkNone when it must be read through ValueRef.
    TValueView ShownView() const;
    // The value as a number: 0 when null; a text field's text read by parse
    // (an empty text is 0).
    template <typename Parse>
    double NumberView(Parse parse) const;
    [[noreturn]] void AccessError(const QString& typeName) const;

private:
    friend class TDataSet;
    friend class TFields;

    TDataSet* FDataSet = nullptr;
    int FIndex = -1; // in the data set's field list, kept by the data set
    QString FFieldName;
    TFieldType FDataType;
    TFieldKind FFieldKind = fkData;
    int FSize = 0;
    int FFieldNo = 0;
    bool FRequired = false;
    bool FReadOnly = false;
    bool FVisible = true;
    QString FDisplayLabel;
    int FDisplayWidth = 0;
    QString FDisplayFormat;
    QString FEditFormat;
    QString FEditMask;
    QString FDefaultExpression;
    TProviderFlags FProviderFlags = DefaultProviderFlags;
    TDataSet* FLookupDataSet = nullptr;
    QString FKeyFields;
    QString FLookupKeyFields;
    QString FLookupResultField;
    mutable QString FViewText; // what AsStringView shows when the storage holds no text
};

class TStringField : public TField
{
    Q_OBJECT
public:
    explicit TStringField(QObject* owner = nullptr) : TField(ftString, owner) { SetSize(20); }
};

class TNumericField : public TField
{
    Q_OBJECT
public:
    using TField::TField;
};

class TSmallintField : public TNumericField
{
    Q_OBJECT
public:
    explicit TSmallintField(QObject* owner = nullptr) : TNumericField(ftSmallint, owner) {}
};

class TIntegerField : public TNumericField
{
    Q_OBJECT
public:
    explicit TIntegerField(QObject* owner = nullptr) : TNumericField(ftInteger, owner) {}

protected:
    using TNumericField::TNumericField;
};

class TWordField : public TNumericField
{
    Q_OBJECT
public:
    explicit TWordField(QObject* owner = nullptr) : TNumericField(ftWord, owner) {}
};

class TAutoIncField : public TIntegerField
{
    Q_OBJECT
public:
    explicit TAutoIncField(QObject* owner = nullptr) : TIntegerField(ftAutoInc, owner) {}
};

class TLargeintField : public TNumericField
{
    Q_OBJECT
public:
    explicit TLargeintField(QObject* owner = nullptr) : TNumericField(ftLargeint, owner) {}
};

class TFloatField : public TNumericField
{
    Q_OBJECT
public:
    explicit TFloatField(QObject* owner = nullptr) : TNumericField(ftFloat, owner) {}
    int Precision() const { return FPrecision; } // significant digits of the general format
    void SetPrecision(int precision) { FPrecision = precision; }

protected:
    using TNumericField::TNumericField;

private:
    int FPrecision = 15;
};

class TCurrencyField : public TFloatField
{
    Q_OBJECT
public:
    explicit TCurrencyField(QObject* owner = nullptr) : TFloatField(ftCurrency, owner) {}
};

class TBCDField : public TNumericField
{
    Q_OBJECT
public:
    explicit TBCDField(QObject* owner = nullptr) : TNumericField(ftBCD, owner) { SetSize(4); }
    int Precision() const { return FPrecision; }
    void SetPrecision(int precision) { FPrecision = precision; }

private:
    int FPrecision = 18;
};

class TBooleanField : public TField
{
    Q_OBJECT
public:
    explicit TBooleanField(QObject* owner = nullptr) : TField(ftBoolean, owner) {}
};

class TDateTimeField : public TField
{
    Q_OBJECT
public:
    explicit TDateTimeField(QObject* owner = nullptr) : TField(ftDateTime, owner) {}

protected:
    using TField::TField;
};

class TDateField : public TDateTimeField
{
    Q_OBJECT
public:
    explicit TDateField(QObject* owner = nullptr) : TDateTimeField(ftDate, owner) {}
};

class TTimeField : public TDateTimeField
{
    Q_OBJECT
public:
    explicit TTimeField(QObject* owner = nullptr) : TDateTimeField(ftTime, owner) {}
};

class TBytesField : public TField
{
    Q_OBJECT
public:
    explicit TBytesField(QObject* owner = nullptr) : TField(ftBytes, owner) { SetSize(16); }
};

class TBlobField : public TField
{
    Q_OBJECT
public:
    explicit TBlobField(QObject* owner = nullptr) : TField(ftBlob, owner) {}

protected:
    using TField::TField;
};

class TMemoField : public TBlobField
{
    Q_OBJECT
public:
    explicit TMemoField(QObject* owner = nullptr) : TBlobField(ftMemo, owner) {}
};

// Creates the field class for a type (the data set's default fields).
std::unique_ptr<TField> CreateField(TFieldType type, QObject* owner = nullptr);

// A data set's fields in order; does not own them.
class TFields
{
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    TField* operator[](int index) const { return FItems.at(static_cast<size_t>(index)); }
    TField* FindField(const QString& name) const; // case-insensitive; none: null
    // Raises EDatabaseError "<data set>: Field '<name>' not found".
    TField* FieldByName(const QString& name) const;
    int IndexOf(const TField* field) const;
    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    friend class TDataSet;
    friend class TField;
    std::vector<TField*> FItems;
    TDataSet* FDataSet = nullptr;
};
