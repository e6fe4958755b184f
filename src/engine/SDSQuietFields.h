// Used by the data set's own .cpp files only: its fields made quiet while
// it fills or re-reads a row.
#pragma once

#include "DataSet.h"
#include "Fields.h"

#include <QPointer>
#include <vector>

// Every field's change and validate handlers and its required flag taken
// away (and, for a load, its read-only flag), given back with the read-only
// flag when the scope ends, on every path.
class TQuietFields
{
public:
    enum TReadOnly { KeepReadOnly, Writable };

    explicit TQuietFields(const TDataSet& dataSet, TReadOnly readOnly = KeepReadOnly)
    {
        for (TField* field : dataSet.Fields()) {
            FSaved.push_back({field, field->OnChange, field->OnValidate, field->Required(), field->ReadOnly()});
            field->OnChange = {};
            field->OnValidate = {};
            field->SetRequired(false);
            if (readOnly == Writable)
                field->SetReadOnly(false);
        }
    }
    ~TQuietFields()
    {
        for (const TSaved& s : FSaved) {
            if (!s.Field)
                continue;
            s.Field->OnChange = s.OnChange;
            s.Field->OnValidate = s.OnValidate;
            s.Field->SetRequired(s.Required);
            s.Field->SetReadOnly(s.ReadOnly);
        }
    }
    TQuietFields(const TQuietFields&) = delete;
    TQuietFields& operator=(const TQuietFields&) = delete;

private:
    struct TSaved
    {
        QPointer<TField> Field;
        TFieldNotifyEvent OnChange, OnValidate;
        bool Required, ReadOnly;
    };
    std::vector<TSaved> FSaved;
};
