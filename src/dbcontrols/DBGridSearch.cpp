#include "DBGridSearch.h"

#include "Application.h"
#include "DBGridEx.h"
#include "Dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

bool Matches(const QString& value, const QString& text, const TGridSearchOptions& options)
{
    const Qt::CaseSensitivity cs = options.CaseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
    switch (options.Match) {
    case TSearchMatch::FromStart: return value.startsWith(text, cs);
    case TSearchMatch::Whole: return value.compare(text, cs) == 0;
    case TSearchMatch::Anywhere: break;
    }
    return value.contains(text, cs);
}

} // namespace

int FindInGrid(const TDBGridEx& grid, int column, const QString& text, const TGridSearchOptions& options, int start)
{
    if (column < 0 || column >= grid.Columns().Count() || !grid.Columns()[column]->Field())
        return -1;
    TField* field = grid.Columns()[column]->Field();
    TDBGridModel& model = *grid.GridModel();
    const int step = options.Backward ? -1 : 1;
    int found = -1;
    for (int row = start; row >= 0 && row < model.rowCount() && found < 0; row += step)
        model.WithRow(row, [&] {
            if (Matches(field->DisplayText(), text, options))
                found = row;
        });
    return found;
}

QKeyCombination& GridSearchShortcut()
{
    static QKeyCombination shortcut(Qt::ControlModifier, Qt::Key_F);
    return shortcut;
}

TDBGridSearchDlg::TDBGridSearchDlg(TDBGridEx& grid, const QString& text, const QString& fieldName)
    : QDialog(&grid), FGrid(grid)
{
    setWindowTitle(QStringLiteral("Поиск"));
    auto* form = new QFormLayout;
    FText = new QLineEdit(text, this);
    form->addRow(QStringLiteral("&Искать:"), FText);
    FColumns = new QComboBox(this);
    for (int c = 0; c < grid.Columns().Count(); ++c) {
        const TColumnEx* column = grid.Columns()[c];
        if (column->Visible() && column->Field())
            FColumns->addItem(column->Title().Caption(), c);
    }
    const TColumnEx* preset = fieldName.isEmpty() ? grid.SelectedColumn() : grid.Columns().ColumnByFieldName(fieldName);
    if (preset)
        FColumns->setCurrentIndex(std::max(0, FColumns->findData(preset->Index())));
    form->addRow(QStringLiteral("&Графа:"), FColumns);
    FMatch = new QComboBox(this);
    FMatch->addItem(QStringLiteral("с любой части"), int(TSearchMatch::Anywhere));
    FMatch->addItem(QStringLiteral("с начала"), int(TSearchMatch::FromStart));
    FMatch->addItem(QStringLiteral("полное совпадение"), int(TSearchMatch::Whole));
    form->addRow(QStringLiteral("&Совпадение:"), FMatch);
    FCase = new QCheckBox(QStringLiteral("С учётом &регистра"), this);
    form->addRow(QString(), FCase);
    auto* direction = new QHBoxLayout;
    auto* forward = new QRadioButton(QStringLiteral("&Вниз"), this);
    forward->setChecked(true);
    FBackward = new QRadioButton(QStringLiteral("В&верх"), this);
    direction->addWidget(forward);
    direction->addWidget(FBackward);
    form->addRow(QStringLiteral("Направление:"), direction);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* find = buttons->addButton(QStringLiteral("&Найти"), QDialogButtonBox::ActionRole);
    find->setDefault(true);
    buttons->addButton(QStringLiteral("Закрыть"), QDialogButtonBox::RejectRole);
    connect(find, &QPushButton::clicked, this, [this] { HandleExceptions([this] { FindNext(); }); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

bool TDBGridSearchDlg::FindNext()
{
    const QString text = FText->text();
    if (text.isEmpty())
        return false;
    TGridSearchOptions options;
    options.Match = static_cast<TSearchMatch>(FMatch->currentData().toInt());
    options.CaseSensitive = FCase->isChecked();
    options.Backward = FBackward->isChecked();
    const int column = FColumns->currentData().toInt();
    const int row = FindInGrid(FGrid, column, text, options, FGrid.Row() + (options.Backward ? -1 : 1));
    if (row < 0) {
        MessageDlg(QStringLiteral("Значение \"%1\" не найдено").arg(text), mtInformation, {mbOK});
        return false;
    }
    FGrid.setCurrentIndex(FGrid.GridModel()->index(row, column));
    return FGrid.Row() == row;
}

void ShowGridSearchDialog(TDBGridEx& grid, const QString& text, const QString& fieldName)
{
    TDBGridSearchDlg dialog(grid, text, fieldName);
    dialog.exec();
}
