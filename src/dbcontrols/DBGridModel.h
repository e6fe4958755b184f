// The grid's model: rows are read from the data set when the view asks, by
// its display-position read, never copied. Row r is the data set's view
// position r, except around an unposted insert, which stands as a row of its
// own at the data set's active position. The last row read is kept (a view
// paints row by row), until the data set reports any change.
#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

class TDBGridEx;
class TColumnEx;
class TDataSet;

// What a cell is painted with; the grid's colour hook may change it.
struct TCellParams
{
    TColumnEx* Column = nullptr;
    int Row = -1;             // model row
    bool Highlighted = false; // drawn as the selected or focused cell
    QColor Background;        // invalid: the view's own
    QColor Foreground;
    std::optional<QFont> Font;
};

class TDBGridModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit TDBGridModel(TDBGridEx& grid);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The data set's view position shown by a model row; -1 for the unposted
    // insert (the fields show it).
    int ViewPosition(int row) const;
    // The model row of the record the fields show; -1 without one.
    int ActiveRow() const;
    // Calls fn with the fields showing the row's record.
    void WithRow(int row, const std::function<void()>& fn) const;

    // The cell's parameters after the grid's colour hook.
    TCellParams CellParams(int row, int column, bool highlighted) const;
    // The text a cell shows (the field's display text).
    QString CellText(int row, int column) const;

    // The data set changed: rows counted again and redrawn.
    void Reload();
    // One row (or the active row) changed.
    void RowChanged(int row);
    void ColumnsReset();

private:
    struct TCachedCell
    {
        QString Text;
        TCellParams Params;
    };
    TDataSet* DataSet() const;
    void FillRow(int row) const;

    TDBGridEx& FGrid;
    int FRowCount = 0;
    mutable int FCachedRow = -1;
    mutable std::vector<TCachedCell> FCachedCells;
};
