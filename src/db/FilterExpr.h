// The data set's Filter property: a text expression parsed once into a small
// tree and evaluated per record against its field values.
//
//   expr       := and { OR and }
//   and        := not { AND not }
//   not        := NOT not | comparison
//   comparison := sum [ (= | <> | != | < | <= | > | >=) sum | IS [NOT] NULL ]
//   sum        := product { (+ | -) product }
//   product    := unary { (* | /) unary }
//   unary      := (- | +) unary | operand
//   operand    := '(' expr ')' | field | 'string' | number | NULL | TRUE | FALSE
//   field      := Name$_.1 | [Name with blanks] | "Name with blanks"
//
// Keywords are case-insensitive. Where a condition is wanted (the whole
// expression, and each side of AND, OR and NOT) a comparison, IS [NOT] NULL,
// TRUE, FALSE or a bare field name (read as a Boolean) is accepted.
//
// Chains of any length (1+1+..., AND, OR, runs of NOT or signs) are held
// flat; parentheses nest at most 255 deep, so no text can exhaust the stack.
#pragma once

#include "Variant.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>

enum TFilterOption : uint8_t {
    foCaseInsensitive = 1,
    foNoPartialCompare = 2,
};
using TFilterOptions = uint8_t;

struct TFilterNode;

class TFilterExpression
{
public:
    using TFieldValue = std::function<Variant(const QString& fieldName)>;

    // Raises EDatabaseError for a syntax error, naming the offending token and
    // its 1-based position. Blank text gives an expression every record passes.
    static std::unique_ptr<TFilterExpression> Parse(const QString& text);

    ~TFilterExpression();
    TFilterExpression(const TFilterExpression&) = delete;
    TFilterExpression& operator=(const TFilterExpression&) = delete;

    // Comparisons follow the variants' rules: one with a null (or empty)
    // operand is false, a string literal compared with a number, date or
    // Boolean is converted to that kind first (a failed conversion raises),
    // and unless foNoPartialCompare is given, = 'abc*' (and <> 'abc*') match
    // by prefix.
    bool Evaluate(const TFieldValue& fieldValue, TFilterOptions options) const;

    // The field names referred to, each once (compared without case), in order
    // of first appearance.
    const QStringList& FieldNames() const { return FFieldNames; }
    const QString& Text() const { return FText; }

private:
    TFilterExpression() = default;

    QString FText;
    std::unique_ptr<TFilterNode> FRoot;
    QStringList FFieldNames;
};
