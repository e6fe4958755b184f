// Group operations: one command applied to a column of a data source's data
// set, over its marked rows, or over all rows when none is marked.
#pragma once

#include <cstdint>

class TField;
class TSDataSource;

enum TGroupOperationKind : uint8_t {
    goReplace,
    goFill,
    goSum,
    goCount,
    goAdd,
    goMultiply,
    goLowerCase,
    goUpperCase,
    goDelete,
};

// When set, an operation that would apply to all rows (nothing marked) is
// refused. Every operation that starts clears it again, whatever its outcome.
extern bool OnlyMarkedGroupOperations;

// Asks the user what the operation needs, walks the rows and reports the
// result by message boxes.
void RunGroupOperation(TSDataSource* source, TField* field, TGroupOperationKind kind);
