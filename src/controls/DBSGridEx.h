// TDBSGridEx: the framework's data grid. On the data-aware grid it adds the
// service keys of the published actions, its own service menu, marked-row
// colours, moving between levels of a levelled data set, calculator keys,
// the duplication of fields and the entry rules between columns. Its
// services reach the data through a TSDataSource; over a plain data source
// it is an ordinary grid.
#pragma once

#include "DBGridEx.h"
#include "EnumSet.h"

class TAction;
class TSDataSource;

enum TServiceOption {
    srvMarkRecord,
    srvDoubleField,
    srvDoubleRecord,
    srvPrint,
    srvHandleLevels,
    srvCalc,
    srvSum,
    srvCount,
    srvFilter,
    srvSort,
    srvCallRef,
    srvFrozenOnEdit,
    srvGroupDelete,
    srvGroupReplace,
    srvDontToggleLevels,
    srvDontCustomize,
    srvDontCreatePopupMenu,
    srvDontAutoInsertAfterEnter,
};
using TServiceOptions = TEnumSet<TServiceOption, uint32_t>;
// The first fourteen options.
inline constexpr TServiceOptions DefaultServiceOptions{
    srvMarkRecord, srvDoubleField, srvDoubleRecord, srvPrint,   srvHandleLevels, srvCalc,        srvSum,
    srvCount,      srvFilter,      srvSort,         srvCallRef, srvFrozenOnEdit, srvGroupDelete, srvGroupReplace};

class TDBSGridEx : public TDBGridEx
{
    Q_OBJECT

public:
    explicit TDBSGridEx(QWidget* parent = nullptr);

    TServiceOptions ServiceOptions() const { return FServiceOptions; }
    void SetServiceOptions(TServiceOptions options) { FServiceOptions = options; }
    // The data source when it is the framework's, else null.
    TSDataSource* SDataSource() const;

    // Whether the user may change, add or delete records here: the data set
    // can be modified, the grid is not read-only, edits, and allows it.
    bool CanEditRecords() const;
    bool CanInsertRecords() const;
    bool CanDeleteRecords() const;

    // Inserts a record after the current one (appends at the last).
    void InsertAfterCurrent();
    // Takes the selected column's value from the previous record.
    void DuplicateField();
    // Takes the values of the selected column and those to its right from
    // the previous record.
    void DuplicateFieldsRight();

    // Sets the action's state by the grid's rules; false when the action is
    // not one of the grid's services.
    virtual bool UpdateAction(TAction& action);

private:
    TServiceOptions FServiceOptions = DefaultServiceOptions;
};
