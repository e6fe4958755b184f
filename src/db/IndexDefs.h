// Index definitions: a name, a ';'-separated field list and options.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

enum TIndexOption : uint8_t {
    ixPrimary = 1,
    ixUnique = 2,
    ixDescending = 4,
    ixCaseInsensitive = 8,
};
using TIndexOptions = uint8_t;

class TIndexDef
{
public:
    TIndexDef(const QString& name, const QString& fields, TIndexOptions options);

    const QString& Name() const { return FName; }
    void SetName(const QString& name) { FName = name; }
    const QString& Fields() const { return FFields; }
    void SetFields(const QString& fields);
    TIndexOptions Options() const { return FOptions; }
    void SetOptions(TIndexOptions options) { FOptions = options; }
    // The field names, blanks around each removed, empty parts left out
    // (split once: lookups by field list read it often).
    const QStringList& FieldList() const { return FFieldList; }

private:
    QString FName;
    QString FFields;
    QStringList FFieldList;
    TIndexOptions FOptions;
};

// Splits a ';'-separated field list into trimmed names, empty ones left out.
QStringList SplitFieldList(const QString& fields);

class TIndexDefs
{
public:
    TIndexDef& Add(const QString& name, const QString& fields, TIndexOptions options = 0);
    void Assign(const TIndexDefs& source);
    void Clear() { FItems.clear(); }
    void Delete(int index);
    int Count() const { return static_cast<int>(FItems.size()); }
    TIndexDef& operator[](int index) const;

    // Names compare without regard to case.
    int IndexOf(const QString& name) const;
    TIndexDef* Find(const QString& name) const;
    // Raises EDatabaseError "Index '%s' not found" when there is none.
    TIndexDef& IndexByName(const QString& name) const;
    // The first index whose field list equals fields (case-insensitive), or null.
    TIndexDef* FindByFields(const QString& fields) const;

private:
    std::vector<std::unique_ptr<TIndexDef>> FItems;
};
