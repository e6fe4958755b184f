// The few private operations of the grid and its columns that their helper
// classes may call: one gate per pair, each open to its one peer only, so
// that nothing else (a derived grid included) reaches the grid's privates.
// A derived grid extends the grid through its protected hooks.
//
// Every gate is inline and static: a call through it costs what the direct
// call did.
#pragma once

#include "DBGridColumns.h"
#include "DBGridEx.h"

// ---------------------------------------------------------------- the columns

// A column tells its set that it changed, and binds its field in the grid's data set.
class TColumnsColumnGate
{
    friend class TColumnEx;
    static void Changed(TDBGridColumns& columns) { columns.Changed(); }
    static TDataSet* DataSet(const TDBGridColumns& columns) { return columns.FGrid.ColumnsDataSet(); }
};

// A title tells its column's set that it changed.
class TColumnsTitleGate
{
    friend class TColumnTitle;
    static void Changed(TDBGridColumns& columns) { columns.Changed(); }
};

// The set binds each column to its field whenever the data set opens, closes
// or changes its layout; that is no change of the column's own.
class TColumnFieldGate
{
    friend class TDBGridColumns;
    static void Bind(TColumnEx& column, TField* field) { column.FField = field; }
};

// The grid takes the width the user dragged without laying the columns out again.
class TColumnWidthGate
{
    friend class TDBGridEx;
    static void TakeDraggedWidth(TColumnEx& column, int width) { column.FWidth = width; }
};

// ---------------------------------------------------------------- the grid

// The model asks the grid how a cell is painted.
class TDBGridModelGate
{
    friend class TDBGridModel;
    static void GetCellParams(TDBGridEx& grid, TCellParams& params) { grid.GetCellParams(params); }
    static QString CellText(const TDBGridEx& grid, const TColumnEx& column) { return grid.GetCellText(column); }
};

// The printer asks the grid for a cell's colours, as the model does.
class TDBGridPrinterGate
{
    friend class TDBGridPrinter;
    static void GetCellParams(TDBGridEx& grid, TCellParams& params) { grid.GetCellParams(params); }
    static QString CellText(const TDBGridEx& grid, const TColumnEx& column) { return grid.GetCellText(column); }
};

// The delegate makes and drops the grid's editors and hands it their keys.
class TDBGridDelegateGate
{
    friend class TDBGridDelegate;
    static TInplaceEditor* AttachEditor(TDBGridEx& grid, QWidget* parent, TColumnEx* column)
    {
        return grid.AttachEditor(parent, column);
    }
    static void EditorDestroyed(TDBGridEx& grid, QWidget* editor) { grid.EditorDestroyed(editor); }
    static bool EditorKeyPress(TDBGridEx& grid, QKeyEvent* event) { return grid.EditorKeyPress(event); }
    static bool IsGridKey(const TDBGridEx& grid, const QKeyEvent& event) { return grid.IsGridKey(event); }
};
