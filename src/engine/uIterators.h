// Group operations: one command applied to a column of a data source's data
// set, over its marked rows, or over all rows when none is marked.
//
// Each kind is carried out by an iterator that asks the user what it needs
// (message boxes through the dialog facade, values through
// GroupOperationAskValue), walks the data set with its controls switched off
// and the busy cursor shown, and reports the result. Rows are changed
// through the data set's own editing path (edit, post, delete), so locks,
// audit, notices and commits follow the data set's options.
#pragma once

#include "DataSet.h"
#include "Variant.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class TBusyCursor;
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
// result by message boxes. A row that cannot be changed ends the operation
// with its error (rows changed before it stay changed).
void RunGroupOperation(TSDataSource* source, TField* field, TGroupOperationKind kind);

// --- What the forms supply (InstallFrameworkForms)

// Asks for one value of a kind of the typed value dialog (1 integer,
// 2 fractional number, 3 date, 4 string); true with the value when the user
// gave one. None set: every question is declined.
using TGroupAskValue = std::function<bool(const QString& caption, uint8_t kind, Variant& value)>;
extern TGroupAskValue GroupOperationAskValue;

// Progress of a long walk. Advance is told how many of the rows have been
// walked and returns false when the user asks to stop; the walk then stops
// between rows.
class TGroupOperationProgress
{
public:
    virtual ~TGroupOperationProgress() = default;
    virtual bool Advance(int walked) = 0;
};
// Shows the progress of a walk over total rows (caption: what the operation
// does). None set, or none returned: no progress, no stopping.
using TGroupProgressFactory =
    std::function<std::unique_ptr<TGroupOperationProgress>(const QString& caption, int total)>;
extern TGroupProgressFactory GroupOperationProgress;
// Walks over more rows than this show their progress.
extern int GroupOperationProgressThreshold;

// --- The operations

// One group operation over a data source's rows: asks what it needs
// (Prepare), walks the marked rows or all of them (Execute) and applies
// itself to each (ProcessRecord). Created and freed by RunGroupOperation; it
// holds the data source and the field, which must outlive it.
class TIterator
{
public:
    TIterator(TSDataSource* source, TField* field, TGroupOperationKind kind);
    // Ends the walk when it is still going.
    virtual ~TIterator();
    TIterator(const TIterator&) = delete;
    TIterator& operator=(const TIterator&) = delete;

    // Nothing is marked: the operation applies to every row.
    bool AllRows() const { return FAllRows; }
    // The whole operation: asks, walks, reports.
    virtual void Execute();

protected:
    virtual bool NeedDisableControls() { return true; }
    // Asks the user for what the operation needs; clears FProceed when the
    // user declines or the column does not qualify.
    virtual void Prepare() {}
    // Applies the operation to the current row; false when it left the row alone.
    virtual bool ProcessRecord() { return false; }

    // Busy cursor on, controls off (when NeedDisableControls), position saved.
    void BeginWalk();
    // Undoes BeginWalk once, however often it is called, and returns to the
    // saved position when it is still there.
    void EndWalk();
    // Asks (Prepare), shows progress and goes to the first row; false when
    // the user declined.
    bool StartWalk();
    // Whether the current row takes part: every row, or the marked ones.
    bool Walked() const;
    // Moves on to the first row from here that takes part; false at the end.
    bool ToWalkedRow();
    // How many rows the walk will visit.
    int RowsToWalk() const;
    // Shows progress for long walks; Advance counts a row walked and is
    // false once the user asked to stop.
    void StartProgress();
    bool Advance();
    // After a walk the user stopped: says how many rows were changed.
    void ReportStopped(const QString& what) const;
    // Puts the current row into edit state, sets the field, posts; a
    // refused row is cancelled so that nothing of it stays pending.
    void WriteValue(const Variant& value);

    bool FControlsDisabled = false;
    bool FAllRows = true;
    TGroupOperationKind FKind;
    bool FProceed = false;
    TDataSet* FDataSet;
    TField* FField;
    TSDataSource* FDataSource;
    std::unique_ptr<TBusyCursor> FCursor;
    TBookmark FSavedPosition;
    bool FWalking = false;
    std::unique_ptr<TGroupOperationProgress> FProgress;
    int FWalkedCount = 0;
    int FChangedCount = 0;
    bool FStopped = false;
};

// Replaces a value by another (goReplace) or fills every row walked (goFill).
class TReplaceIterator : public TIterator
{
public:
    using TIterator::TIterator;

protected:
    void Prepare() override;
    bool ProcessRecord() override;

private:
    Variant FOldValue;
    Variant FNewValue;
};

// Sums a numeric column (goSum) or counts the rows (goCount), changing nothing.
class TInfoIterator : public TIterator
{
public:
    using TIterator::TIterator;
    void Execute() override;
    // What the walk added up and counted.
    double Sum() const { return FSum; }
    int32_t Count() const { return FCount; }

private:
    // The walk reads the rows where the in-memory table stores them, the
    // cursor left alone; another data set, or a column it cannot read so,
    // is walked by the cursor. Both add up in view order, so their sums agree.
    bool WalkInPlace();
    void WalkByCursor();
    // One walked row's number; false when the user stopped the walk.
    bool Take(double value);
    void ShowSum() const;
    void ShowCount() const;

    double FSum = 0;
    int32_t FCount = 0;
};

// Adds a number to a numeric column (goAdd) or multiplies it (goMultiply).
class TArifmeticIterator : public TIterator
{
public:
    using TIterator::TIterator;

protected:
    void Prepare() override;
    bool ProcessRecord() override;

private:
    double FOperand = 0;
};

// Changes a text column to lower (goLowerCase) or upper case (goUpperCase).
class TRegIterator : public TIterator
{
public:
    using TIterator::TIterator;

protected:
    void Prepare() override;
    bool ProcessRecord() override;
};

// Deletes the rows (goDelete).
class TDelIterator : public TIterator
{
public:
    using TIterator::TIterator;
    void Execute() override;

protected:
    bool NeedDisableControls() override;
    void Prepare() override;

private:
    // Deletes the current row; false when the walk must stop.
    bool DeleteCurrent();
};
