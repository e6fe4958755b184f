#include "DBGridModel.h"

#include "DBGridEx.h"
#include "DBGridGates_p.h"
#include "DataSet.h"
#include "DataSource.h"

TDBGridModel::TDBGridModel(TDBGridEx& grid) : QAbstractTableModel(&grid), FGrid(grid) {}

TDataSet* TDBGridModel::DataSet() const { return FGrid.DataLink().Active() ? FGrid.DataLink().DataSet() : nullptr; }

int TDBGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : FRowCount; }

int TDBGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : FGrid.Columns().Count();
}

int TDBGridModel::ActiveRow() const
{
    TDataSet* dataSet = DataSet();
    return dataSet ? dataSet->ActivePosition() : -1;
}

int TDBGridModel::ViewPosition(int row) const
{
    TDataSet* dataSet = DataSet();
    if (!dataSet)
        return -1;
    if (dataSet->State() != dsInsert)
        return row;
    const int inserted = dataSet->ActivePosition();
    if (row == inserted)
        return -1;
    return row > inserted ? row - 1 : row;
}

void TDBGridModel::WithRow(int row, const std::function<void()>& fn) const
{
    TDataSet* dataSet = DataSet();
    if (!dataSet)
        return;
    // The record under the cursor is read from the fields as they are, with
    // the edits not yet posted.
    const int position = row == ActiveRow() ? -1 : ViewPosition(row);
    const TDataSet::TDisplayScope shown(*dataSet, position);
    fn();
}

void TDBGridModel::FillRow(int row) const
{
    if (FCachedRow == row)
        return;
    const TDBGridColumns& columns = FGrid.Columns();
    FCachedCells.assign(static_cast<size_t>(columns.Count()), {});
    FCachedRow = row;
    try {
        WithRow(row, [&] {
            for (int c = 0; c < columns.Count(); ++c) {
                TCachedCell& cell = FCachedCells[static_cast<size_t>(c)];
                TColumnEx* column = columns[c];
                cell.Text = TDBGridModelGate::CellText(FGrid, *column);
                cell.Params.Column = column;
                cell.Params.Row = row;
                cell.Params.Background = column->Color();
                TDBGridModelGate::GetCellParams(FGrid, cell.Params);
            }
        });
    } catch (...) {
        // A failing text handler leaves the rest of the row empty; painting goes on.
    }
}

TCellParams TDBGridModel::CellParams(int row, int column, bool highlighted) const
{
    TCellParams params;
    if (column < 0 || column >= FGrid.Columns().Count())
        return params;
    if (!highlighted) {
        FillRow(row);
        return FCachedCells[static_cast<size_t>(column)].Params;
    }
    params.Column = FGrid.Columns()[column];
    params.Row = row;
    params.Highlighted = true;
    try {
        WithRow(row, [&] { TDBGridModelGate::GetCellParams(FGrid, params); });
    } catch (...) {
    }
    return params;
}

QString TDBGridModel::CellText(int row, int column) const
{
    if (column < 0 || column >= FGrid.Columns().Count() || row < 0 || row >= FRowCount)
        return {};
    FillRow(row);
    return FCachedCells[static_cast<size_t>(column)].Text;
}

QVariant TDBGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !DataSet() || index.row() >= FRowCount)
        return {};
    const int column = index.column();
    TColumnEx* col = FGrid.Columns()[column];
    switch (role) {
    case Qt::DisplayRole: return CellText(index.row(), column);
    case Qt::ToolTipRole:
        if (!col->Tooltips())
            return {};
        FillRow(index.row());
        return FCachedCells[static_cast<size_t>(column)].Text;
    case Qt::EditRole: {
        QString text;
        try {
            WithRow(index.row(), [&] {
                if (col->Field())
                    text = col->Field()->Text();
            });
        } catch (...) {
        }
        return text;
    }
    case Qt::TextAlignmentRole: return QVariant::fromValue(col->Alignment() | Qt::AlignVCenter);
    default: return {};
    }
}

QVariant TDBGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= FGrid.Columns().Count())
            return {};
        const TColumnEx* column = FGrid.Columns()[section];
        if (role == Qt::DisplayRole)
            return column->Title().Caption();
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(column->Title().Alignment() | Qt::AlignVCenter);
        if (role == Qt::ToolTipRole && !column->Title().Hint().isEmpty())
            return column->Title().Hint();
        return {};
    }
    if (role != Qt::DisplayRole || section != ActiveRow())
        return {};
    switch (DataSet()->State()) {
    case dsEdit: return QStringLiteral("I");
    case dsInsert: return QStringLiteral("*");
    default: return QString(QChar(0x25B6));
    }
}

Qt::ItemFlags TDBGridModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (FGrid.CanEditColumn(FGrid.Columns()[index.column()]))
        result |= Qt::ItemIsEditable;
    return result;
}

void TDBGridModel::Reload()
{
    FCachedRow = -1;
    TDataSet* dataSet = DataSet();
    int count = 0;
    if (dataSet) {
        count = dataSet->RecordCount();
        if (dataSet->State() == dsInsert)
            ++count;
    }
    if (count != FRowCount) {
        beginResetModel();
        FRowCount = count;
        endResetModel();
        return;
    }
    if (count > 0)
        emit dataChanged(index(0, 0), index(count - 1, std::max(0, columnCount() - 1)));
}

void TDBGridModel::RowChanged(int row)
{
    FCachedRow = -1;
    if (row < 0 || row >= FRowCount || columnCount() == 0)
        return;
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void TDBGridModel::ColumnsReset()
{
    beginResetModel();
    FCachedRow = -1;
    TDataSet* dataSet = DataSet();
    FRowCount = dataSet ? dataSet->RecordCount() + (dataSet->State() == dsInsert ? 1 : 0) : 0;
    endResetModel();
}
