#include "DBNavigator.h"

#include "Application.h"
#include "Dialogs.h"

#include <QHBoxLayout>
#include <QToolButton>

namespace {

struct TButtonLook
{
    const char* Glyph;
    const char* Hint;
};

const TButtonLook ButtonLooks[NavigateBtnCount] = {
    {"|◀", "Первая запись"},        {"◀", "Предыдущая запись"},   {"▶", "Следующая запись"},
    {"▶|", "Последняя запись"},     {"+", "Добавить запись"},     {"−", "Удалить запись"},
    {"✎", "Корректировать запись"}, {"✔", "Сохранить изменения"}, {"✖", "Отменить изменения"},
    {"⟳", "Обновить данные"},
};

} // namespace

TDBNavigator::TDBNavigator(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    for (int i = 0; i < NavigateBtnCount; ++i) {
        auto* button = new QToolButton(this);
        const auto which = static_cast<TNavigateBtn>(i);
        button->setText(QString::fromUtf8(ButtonLooks[i].Glyph));
        button->setToolTip(QString::fromUtf8(ButtonLooks[i].Hint));
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRaise(true);
        connect(button, &QToolButton::clicked, this, [this, which] { BtnClick(which); });
        layout->addWidget(button);
        FButtons[static_cast<size_t>(i)] = button;
        FVisible = FVisible + TNavButtonSet{which};
    }
    layout->addStretch();
    UpdateButtons();
}

TDBNavigator::~TDBNavigator() { FLink.SetDataSource(nullptr); }

void TDBNavigator::SetDataSource(TDataSource* source)
{
    FLink.SetDataSource(source);
    UpdateButtons();
}

void TDBNavigator::SetVisibleButtons(TNavButtonSet buttons)
{
    FVisible = buttons;
    for (int i = 0; i < NavigateBtnCount; ++i)
        FButtons[static_cast<size_t>(i)]->setVisible(buttons.Contains(static_cast<TNavigateBtn>(i)));
}

void TDBNavigator::UpdateButtons()
{
    TDataSet* dataSet = FLink.DataSet();
    const bool active = FLink.Active() && dataSet;
    const bool editing = active && FLink.Editing();
    const bool browsing = active && !editing;
    const bool canModify = active && dataSet->CanModify();
    const bool atStart = !active || (dataSet->Bof() || dataSet->RecNo() <= 1);
    const bool atEnd = !active || (dataSet->Eof() || dataSet->RecNo() >= dataSet->RecordCount());
    const bool empty = !active || dataSet->IsEmpty();
    const bool enabled[NavigateBtnCount] = {
        browsing && !atStart,
        browsing && !atStart,
        browsing && !atEnd,
        browsing && !atEnd,
        canModify,
        canModify && !empty,
        browsing && canModify && !empty,
        editing,
        editing,
        browsing,
    };
    for (int i = 0; i < NavigateBtnCount; ++i)
        FButtons[static_cast<size_t>(i)]->setEnabled(enabled[i]);
}

void TDBNavigator::BtnClick(TNavigateBtn button)
{
    TDataSet* dataSet = FLink.DataSet();
    if (!FLink.Active() || !dataSet)
        return;
    HandleExceptions([&] {
        switch (button) {
        case nbFirst: dataSet->First(); break;
        case nbPrior: dataSet->Prior(); break;
        case nbNext: dataSet->Next(); break;
        case nbLast: dataSet->Last(); break;
        case nbInsert: dataSet->Insert(); break;
        case nbDelete:
            if (!FConfirmDelete
                || MessageDlg(QStringLiteral("Удалить запись?"), mtConfirmation, mbOKCancel) != mrCancel)
                dataSet->Delete();
            break;
        case nbEdit: dataSet->Edit(); break;
        case nbPost: dataSet->Post(); break;
        case nbCancel: dataSet->Cancel(); break;
        case nbRefresh: dataSet->Refresh(); break;
        }
    });
}
