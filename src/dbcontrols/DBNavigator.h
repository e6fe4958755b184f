// A bar of buttons that move through a data source's data set and edit it;
// each button is enabled only when its operation makes sense.
#pragma once

#include "DataSource.h"
#include "EnumSet.h"

#include <QWidget>
#include <array>

class QToolButton;

enum TNavigateBtn { nbFirst, nbPrior, nbNext, nbLast, nbInsert, nbDelete, nbEdit, nbPost, nbCancel, nbRefresh };
using TNavButtonSet = TEnumSet<TNavigateBtn>;
inline constexpr int NavigateBtnCount = nbRefresh + 1;

class TDBNavigator : public QWidget
{
    Q_OBJECT
public:
    explicit TDBNavigator(QWidget* parent = nullptr);
    ~TDBNavigator() override;

    TDataSource* DataSource() const { return FLink.DataSource(); }
    void SetDataSource(TDataSource* source);
    TNavButtonSet VisibleButtons() const { return FVisible; }
    void SetVisibleButtons(TNavButtonSet buttons);
    // Delete asks "Удалить запись?" first.
    bool ConfirmDelete() const { return FConfirmDelete; }
    void SetConfirmDelete(bool value) { FConfirmDelete = value; }

    QToolButton* Button(TNavigateBtn button) const { return FButtons[button]; }
    // Runs a button's operation; a failure goes to the error display.
    void BtnClick(TNavigateBtn button);

private:
    class TNavDataLink : public TDataLink
    {
    public:
        explicit TNavDataLink(TDBNavigator& navigator) : FNavigator(navigator) {}

    protected:
        void ActiveChanged() override { FNavigator.UpdateButtons(); }
        void EditingChanged() override { FNavigator.UpdateButtons(); }
        void DataSetChanged() override { FNavigator.UpdateButtons(); }
        void DataSetScrolled(int) override { FNavigator.UpdateButtons(); }

    private:
        TDBNavigator& FNavigator;
    };

    void UpdateButtons();

    TNavDataLink FLink{*this};
    std::array<QToolButton*, NavigateBtnCount> FButtons{};
    TNavButtonSet FVisible;
    bool FConfirmDelete = true;
};
