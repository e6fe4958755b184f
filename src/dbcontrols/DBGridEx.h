// TDBGridEx: the data grid on QTableView over a data source, through a data
// link. Rows are read on demand (TDBGridModel); the view's current row is
// the data set's cursor, and moving one moves the other. Above the data the
// header can carry fixed rows whose cells the caller fills (FixedCellText);
// the first FrozenCols columns stay in place while the others scroll.
//
// Indexes: a column index counts the grid's columns (TDBGridColumns),
// visible or not, from 0; the indicator is not a column. A grid row is a
// model row (TDBGridModel), 0 at the first data row.
//
// Derived grids change the behaviour through the protected virtual hooks,
// never through friendship: KeyDown sees every key first (in the grid and in
// its editor) and may clear it, MouseDown every press on cells, headers and
// the corner, GetCellParams the colours of each cell, CreateEditor the kind
// of in-place editor, ColEnter/ColExit the column moves, ColumnsChanged
// every update of the columns. The grid's model, delegate and printer reach
// the few private operations they need through the gates of DBGridGates_p.h.
#pragma once

#include "DBGridColumns.h"
#include "DBGridModel.h"
#include "DataSource.h"
#include "EnumSet.h"

#include <QHeaderView>
#include <QTableView>
#include <functional>
#include <memory>

class QHeaderView;
class TDBGridDelegate;
class TDBGridHeader;
class TInplaceEditor;

enum TDBGridOption {
    dgEditing,
    dgTitles,
    dgIndicator,
    dgColumnResize,
    dgColLines,
    dgRowLines,
    dgTabs,
    dgRowSelect,
    dgConfirmDelete, // Ctrl+Del asks first
    dgCancelOnExit,  // an untouched new record is dropped when the focus leaves the grid
};
using TDBGridOptions = TEnumSet<TDBGridOption>;
inline constexpr TDBGridOptions DefaultDBGridOptions{dgEditing,  dgTitles, dgIndicator,     dgColumnResize, dgColLines,
                                                     dgRowLines, dgTabs,   dgConfirmDelete, dgCancelOnExit};

// What the user may do to the records through the grid.
enum TAllowedOperation { alopInsertEx, alopUpdateEx, alopDeleteEx, alopAppendEx };
using TAllowedOperations = TEnumSet<TAllowedOperation>;
inline constexpr TAllowedOperations AllAllowedOperations{alopInsertEx, alopUpdateEx, alopDeleteEx, alopAppendEx};

// A place in the grid as the toolkit numbers it: column 0 is the indicator
// when there is one, row 0 the titles, then the fixed rows, then the data.
struct TGridCoord
{
    int X = -1;
    int Y = -1;
};

class TDBGridEx : public QTableView, private TDBGridColumnsOwner
{
    Q_OBJECT
public:
    explicit TDBGridEx(QWidget* parent = nullptr);
    ~TDBGridEx() override;

    TDataSource* DataSource() const { return FDataLink.DataSource(); }
    void SetDataSource(TDataSource* source);
    TDataLink& DataLink() { return FDataLink; }
    const TDataLink& DataLink() const { return FDataLink; }
    TDataSet* DataSet() const { return FDataLink.DataSet(); }

    TDBGridColumns& Columns() { return FColumns; }
    const TDBGridColumns& Columns() const { return FColumns; }
    TDBGridOptions Options() const { return FOptions; }
    void SetOptions(TDBGridOptions options);
    TAllowedOperations AllowedOperations() const { return FAllowedOperations; }
    void SetAllowedOperations(TAllowedOperations operations) { FAllowedOperations = operations; }
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value);

    // Rows above the data, below the titles, for the caller to fill.
    int FixedRowCount() const { return FFixedRows; }
    void SetFixedRowCount(int count);
    // Columns from the left that do not scroll.
    int FrozenCols() const { return FFrozenCols; }
    void SetFrozenCols(int count);

    // The column of the current cell.
    int SelectedIndex() const;
    void SetSelectedIndex(int index);
    TColumnEx* SelectedColumn() const;
    TField* SelectedField() const;
    // The grid row of the current record; -1 without one.
    int Row() const { return FModel->ActiveRow(); }

    // --- The in-place editor
    bool EditorMode() const { return FEditor != nullptr; }
    // Shows the editor in the current cell; false when the cell cannot be edited.
    bool ShowEditor();
    // Writes a changed text into the field and hides the editor; false
    // (editor kept, error shown) when the field refuses the text.
    bool HideEditor();
    // Drops the editor's text.
    void CancelEditor();
    TInplaceEditor* InplaceEditor() const { return FEditor; }
    // Writes the editor's text into its field when it changed; shows the
    // error and answers false when the field refuses it.
    bool PostEditorText();
    bool CanEditColumn(const TColumnEx* column) const;

    // --- Record operations as the keys run them (the allowed operations checked)
    bool CanModifyData() const;
    bool CanInsert() const; // alopInsertEx
    bool CanAppend() const; // alopAppendEx
    bool CanUpdate() const; // alopUpdateEx
    bool CanDelete() const; // alopDeleteEx
    // Each shows a failure in the error display and answers false.
    bool InsertRecord();
    bool AppendRecord();
    bool DeleteRecord(); // asks first with dgConfirmDelete
    bool CancelRecord();
    bool PostRecord();

    // Fits the visible columns' widths to titles and the rows on screen.
    void OptimizeColumnWidths();
    void OptimizeColumnWidth(TColumnEx* column);
    // Rows that fit into the data area.
    int VisibleRowCount() const;
    TGridCoord MouseCoord(const QPoint& gridPos) const;

    // The text of a fixed row's cell; the default asks OnGetFixedCellText.
    virtual QString FixedCellText(int fixedRow, const TColumnEx* column) const;

    // Hooks for a caller that does not derive.
    std::function<void(TDBGridEx* grid, TCellParams& params)> OnGetCellParams;
    std::function<QString(const TDBGridEx* grid, int fixedRow, const TColumnEx* column)> OnGetFixedCellText;
    std::function<void(TDBGridEx* grid)> OnEditButtonClick;
    std::function<void(TDBGridEx* grid)> OnColEnter;
    std::function<void(TDBGridEx* grid)> OnColExit;
    std::function<void(TDBGridEx* grid, const QModelIndex& cell)> OnDblClick;

    // The header row and column objects (for tests and derived grids).
    TDBGridHeader* TitleHeader() const { return FHeader; }
    QTableView* FrozenView() const { return FFrozenView; }
    TDBGridModel* GridModel() const { return FModel; }

protected:
    // Called by the model for every cell it paints and by the printer for
    // every cell it prints (the fields show the cell's record), with the
    // column colour already in; the default asks OnGetCellParams.
    virtual void GetCellParams(TCellParams& params);
    // The text of a cell, asked as GetCellParams is (the fields show the
    // cell's record); the default is the field's display text.
    virtual QString GetCellText(const TColumnEx& column) const;
    // The editor for a cell of column, a child of parent; the default picks
    // it by the field (a lookup drop-down, a number, a date with its
    // calendar button, or text) and the column's mask and button style.
    // The grid wires up the editor's button and keys itself.
    virtual TInplaceEditor* CreateEditor(QWidget* parent, TColumnEx* column);
    // Every key in the grid and in its editor comes here first; clearing key
    // (0) stops it, and so does an error, which the grid shows. Editor keys
    // arrive with EditorMode() true.
    virtual void KeyDown(int& key, Qt::KeyboardModifiers shift);
    // The grid's own handling of a key, for derived grids that let the
    // library handle a key of their choice. Answers whether it acted.
    bool DefaultKeyDown(int key, Qt::KeyboardModifiers shift);
    // Every press in the grid (cells, titles, fixed rows, indicator, corner),
    // in grid coordinates; return true to keep it from the grid.
    virtual bool MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, const QPoint& gridPos,
                           bool doubleClick);
    // After the grid handled a press that MouseDown let through (on the
    // cells, the indicator and the fixed rows).
    virtual void MouseDownDone(Qt::MouseButton button, Qt::KeyboardModifiers shift, const QPoint& gridPos,
                               bool doubleClick);
    // Whether a key is the grid's own while the focus is in the grid or its
    // editor, so that no shortcut of the window takes it (the event carries
    // the keypad modifier as pressed).
    virtual bool IsGridKey(const QKeyEvent& event) const;
    // A record is being edited while the in-place editor is not shown.
    bool EditingWithEditorHidden() const;
    virtual void ColEnter();
    virtual void ColExit();
    // After every update of the columns (the default columns rebuilt, a
    // column added, moved or changed).
    void ColumnsChanged() override;
    // The data link's news, after the grid followed them.
    virtual void LinkActiveChanged() {}
    virtual void LinkDataChanged() {}
    virtual void LinkEditingChanged() {}
    // The corner above the indicator: fits the column widths.
    virtual void CornerClicked();

    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    bool eventFilter(QObject* object, QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;

private:
    friend class TDBGridDelegateGate;
    friend class TDBGridModelGate;
    friend class TDBGridPrinterGate;
    class TGridDataLink;

    TDataSet* ColumnsDataSet() const override { return FDataLink.Active() ? DataSet() : nullptr; }

    // The data link's events.
    void ActiveChanged();
    void DataSetChanged();
    void DataSetScrolled();
    void RecordChanged(TField* field);
    void EditingChanged();
    void UpdateData();
    void LayoutChanged();

    // The view follows the data set's cursor, in the selected column or the
    // one given.
    void SyncCurrent(int column = -1);
    // Repaints the indicator of a row, or of every row (-1). Straight to the
    // indicator: a header data change would lay the whole view out again.
    void RepaintIndicator(int row);
    // The indicator moves from the row it was drawn on to the active row.
    void MoveIndicator();
    // The data set follows the view's current row; false (view put back)
    // when posting the record left failed.
    bool MoveToRow(int row, int column = -1);
    void ApplyColumns();
    void ApplyOptions();
    int DefaultColumnWidth(const TColumnEx* column) const;
    bool EditorKeyPress(QKeyEvent* event);
    // Tab/Enter: the next (or previous) column with a tab stop; past the last
    // one, the next record (appended at the end when allowed).
    void MoveToNextColumn(bool forward, bool wrapToNextRecord);
    int NextTabColumn(int from, bool forward) const;
    // The editor CreateEditor makes, its button and keys routed to the grid.
    TInplaceEditor* AttachEditor(QWidget* parent, TColumnEx* column);
    void EditorDestroyed(QWidget* editor);
    void UpdateFrozenView();
    void UpdateFrozenGeometry();
    bool DispatchMouse(QWidget* source, QMouseEvent* event);
    void AfterMouse(QWidget* source, QMouseEvent* event);
    // Runs fn; an exception goes to the error display and the answer is false.
    bool Guard(const std::function<void()>& fn);
    // KeyDown with its error shown; a key that failed comes back as 0.
    void GuardedKeyDown(int& key, Qt::KeyboardModifiers shift);

    class TGridDataLink : public TDataLink
    {
    public:
        explicit TGridDataLink(TDBGridEx& grid) : FGrid(grid) {}

    protected:
        void ActiveChanged() override { FGrid.ActiveChanged(); }
        void DataSetChanged() override { FGrid.DataSetChanged(); }
        void DataSetScrolled(int) override { FGrid.DataSetScrolled(); }
        void LayoutChanged() override { FGrid.LayoutChanged(); }
        void RecordChanged(TField* field) override { FGrid.RecordChanged(field); }
        void EditingChanged() override { FGrid.EditingChanged(); }
        void UpdateData() override { FGrid.UpdateData(); }

    private:
        TDBGridEx& FGrid;
    };

    TGridDataLink FDataLink{*this};
    TDBGridColumns FColumns{*this};
    TDBGridModel* FModel;
    TDBGridDelegate* FDelegate;
    TDBGridHeader* FHeader;
    QTableView* FFrozenView = nullptr;
    TInplaceEditor* FEditor = nullptr;
    TDBGridOptions FOptions = DefaultDBGridOptions;
    TAllowedOperations FAllowedOperations = AllAllowedOperations;
    bool FReadOnly = false;
    int FFixedRows = 0;
    int FFrozenCols = 0;
    int FSyncing = 0;       // the view is being moved to the data set
    int FSelectedIndex = 0; // kept while the model resets
    int FIndicatorRow = -1;
    bool FApplyingColumns = false;
};

// The titles, with sort markers, and the fixed rows under them.
class TDBGridHeader : public QHeaderView
{
    Q_OBJECT
public:
    explicit TDBGridHeader(TDBGridEx& grid);

    int TitleHeight() const;
    int FixedRowHeight() const;
    // The fixed row under a header point; -1 on the titles.
    int FixedRowAt(int y) const;
    QSize sizeHint() const override;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    void PaintSortMarker(QPainter* painter, const QRect& titleRect, const TColumnEx& column) const;

    TDBGridEx& FGrid;
};
