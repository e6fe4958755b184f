// Field filters: the conditions on fields by which a data source shows only
// some of its records (a value, a substring, a list, a numeric or date
// interval, a Boolean state, or the marked or unmarked records). A data
// source owns its list of filters and hooks the list into its data set's
// record filter; a record passes when the list accepts it.
#pragma once

#include "DateTime.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

class TField;
class TMemRecordMarker;

// The kinds of condition, by their stored numbers.
enum TFieldFilterKind : uint8_t {
    fkMarks = 0,       // the record is marked (or, with Unmarked, is not)
    fkSubstring = 1,   // Value occurs in the field's text
    fkExact = 2,       // the field's text is Value
    fkValueList = 3,   // the field's text is one of Strings
    fkNumberRange = 4, // NumberFrom <= the number <= NumberTo, with a tolerance
    fkNumberList = 5,  // the number is one of Numbers, with a tolerance
    fkDateRange = 6,   // DateFrom <= the date-time <= DateTo
    fkDateList = 7,    // the date-time is one of Dates exactly
    fkBoolean = 8,     // BoolValue: 1 true, 0 false, -1 the field is empty
    fkSubstrings = 9,  // one of Strings occurs in the field's text
};

// Texts are compared upper-cased; numbers within this of each other are equal.
inline constexpr double FilterNumberTolerance = 0.00001;

// One condition on one field.
//
// Lifetimes. Field is not owned and must outlive the filter: a
// TSDataSource drops its whole list when a filtered field is destroyed or
// its data set closes, is replaced or goes away. The marker handed to Accept
// is only read during the call. The list (TFieldFilters) owns its filters.
class TFieldFilter
{
public:
    explicit TFieldFilter(TField* field = nullptr, uint8_t kind = fkSubstring) : Field(field), Kind(kind) {}
    // Copies the condition: kind, texts, lists, bounds, Boolean value and
    // field. Not Unmarked: marks filters are never copied, a list of them
    // being rebuilt from the dialog's mark boxes.
    TFieldFilter(const TFieldFilter& other);
    TFieldFilter& operator=(const TFieldFilter&) = delete;

    // Whether the record the field shows passes; marker answers for marks
    // filters (without one they pass nothing). An unknown kind passes nothing.
    bool Accept(const TMemRecordMarker* marker = nullptr) const;
    // The line that describes the filter in the filter dialog.
    QString Description() const;

    TField* Field = nullptr;
    uint8_t Kind = fkSubstring;
    QString Value;
    QStringList Strings;
    std::vector<double> Numbers;
    std::vector<TDateTime> Dates;
    double NumberFrom = 0;
    double NumberTo = 0;
    TDateTime DateFrom = 0;
    TDateTime DateTo = 0;
    int32_t BoolValue = -1;
    int32_t Unmarked = 0;

private:
    // The upper-cased Value and Strings, made again when they change.
    const QString& UpperValue() const;
    const QStringList& UpperStrings() const;
    mutable QString FUpperValueOf, FUpperValue;
    mutable QStringList FUpperStringsOf, FUpperStrings;
};

using TFieldFilters = std::vector<std::unique_ptr<TFieldFilter>>;

// Whether a record passes a list: its first marks filter alone decides when
// it has one, else every filter must accept (an empty list accepts all).
bool FiltersAccept(const TFieldFilters& filters, const TMemRecordMarker* marker);
// Destroys every filter of the list.
void ClearFilters(TFieldFilters& filters);

// What kind of values a field holds, for the filter dialog; fcOther fields
// cannot be filtered.
enum TFieldCategory { fcOther, fcString, fcInteger, fcFloat, fcDate, fcDateTime, fcBoolean };
TFieldCategory FieldCategory(const TField& field);
// The category's name shown beside a field's label ("строка", ...).
QString FieldCategoryText(TFieldCategory category);
