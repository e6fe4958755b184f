// The few private operations of the grid and its columns that their helper
// classes may call: one gate per pair, each open to its one peer only, so
// that nothing else (a derived grid included) reaches the grid's privates.
// A derived grid extends the grid through its protected hooks.
#pragma once

#include "DBGridColumns.h"
#include "DBGridEx.h"

// The model asks the grid how a cell is painted.
class TDBGridModelGate
{
    friend class TDBGridModel;
    static void GetCellParams(TDBGridEx& grid, TCellParams& params) { grid.GetCellParams(params); }
};

// The delegate makes and drops the grid's editors and hands it their keys.
class TDBGridDelegateGate
{
    friend class TDBGridDelegate;
    static TInplaceEditor* CreateEditor(TDBGridEx& grid, QWidget* parent, TColumnEx* column)
    {
        return grid.CreateEditor(parent, column);
    }
    static void EditorDestroyed(TDBGridEx& grid, QWidget* editor) { grid.EditorDestroyed(editor); }
    static bool EditorKeyPress(TDBGridEx& grid, QKeyEvent* event) { return grid.EditorKeyPress(event); }
};

// The grid takes the width the user dragged without laying the columns out again.
class TColumnWidthGate
{
    friend class TDBGridEx;
    static void TakeDraggedWidth(TColumnEx& column, int width) { column.FWidth = width; }
};
