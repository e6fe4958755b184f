// The table model the Qt peers sort and filter: rows of a name and a number,
// read from the benchmark's own vectors (which must outlive the model).
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QVariant>
#include <vector>

template <typename Number>
class TRowsModel : public QAbstractTableModel
{
public:
    TRowsModel(const std::vector<QString>& names, const std::vector<Number>& numbers) : FNames(names), FNumbers(numbers)
    {
    }
    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(FNames.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 2; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid())
            return {};
        const size_t row = static_cast<size_t>(index.row());
        return index.column() == 0 ? QVariant(FNames[row]) : QVariant(FNumbers[row]);
    }

private:
    const std::vector<QString>& FNames;
    const std::vector<Number>& FNumbers;
};
