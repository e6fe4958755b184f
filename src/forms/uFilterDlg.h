// The filter dialog: edits the list of field filters of a data source. The
// user picks a field and a kind of condition, fills the condition's panel
// and adds it to the list, or changes the selected filter in place; two
// boxes add a filter by the marked or unmarked records. "Применить" hands the
// list over, "Отмена" (or Esc) leaves the data source's list as it was.
//
// One dialog serves the whole program: created on first use and freed when
// the application's event loop ends. It keeps no filters between showings.
#pragma once

#include "Forms.h"
#include "uFieldFilter.h"

#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QToolButton;
class TDataSet;
class TSDataSource;
class TField;

class TfFilterDlg : public TForm
{
    Q_OBJECT
public:
    explicit TfFilterDlg(QWidget* parent = nullptr);
    ~TfFilterDlg() override;

    QLabel* Label1;
    QListWidget* lbAllFilters;
    QLabel* Label2;
    QComboBox* cbFieldName;
    QGroupBox* rgFType;
    QFrame* pParam1; // value of a substring or exact filter
    QLabel* Label3;
    QLineEdit* eValue;
    QFrame* pParam2; // the items of a list filter
    QListWidget* lbVariants;
    QLineEdit* eSingleVar;
    QToolButton* SpeedButton1;
    QToolButton* SpeedButton2;
    QFrame* pParam31; // number range
    QLabel* Label4;
    QLineEdit* eFloatBeg;
    QLabel* Label5;
    QLineEdit* eFloatEnd;
    QFrame* pParam32; // date range
    QLabel* Label6;
    QLineEdit* eDatBeg;
    QLabel* Label7;
    QLineEdit* eDatEnd;
    QFrame* pParamsBool;
    QGroupBox* rgBoolValue;
    QPushButton* btnAdd;
    QPushButton* btnReplace;
    QPushButton* btnDel;
    QCheckBox* cbSelFilter;
    QCheckBox* cbUnSelFilter;
    QPushButton* btnClose;
    QPushButton* Button1;

    // Edits a copy of filters over the data source's data set, starting at
    // field; true when the user applied the copy, which then replaced filters.
    bool Execute(TSDataSource* dataSource, TField* field, TFieldFilters& filters);

    // The list being edited.
    const TFieldFilters& Filters() const { return FFilters; }
    // The chosen item of rgFType and of rgBoolValue; -1 for none.
    int FilterTypeIndex() const;
    void SetFilterTypeIndex(int index);
    int BoolValueIndex() const;
    void SetBoolValueIndex(int index);
    // The radio items rgFType offers now.
    QList<QRadioButton*> FilterTypeItems() const;

    void btnAddClick();
    void btnReplaceClick();
    void btnDelClick();
    void lbAllFiltersClick();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void cbFieldNameChange();
    void rgFTypeClick();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildList();
    void BuildEditor();
    void BuildButtons();
    void Connect();

    // The steps of Execute: an empty editor, the copies of the filters (a
    // marks filter ticks its box instead), the fields that can be filtered,
    // the editor at the field opened on, and the list given back on apply.
    void ClearEditor();
    void CopyFilters(const TFieldFilters& filters);
    void OfferFields();
    void StartAt(TField* field);
    void HandOver(TFieldFilters& filters);

    TField* ChosenField() const;
    TFieldCategory ChosenCategory() const;
    uint8_t ChosenKind() const;
    // Offers the kinds of the chosen field's category, the default chosen,
    // and shows the chosen kind's panel.
    void OfferKinds();
    // The kinds alone, as rgFType's items, and the category's date masks.
    void OfferKindsOfField();
    // Shows the panel of the chosen field and kind, the others hidden.
    void ShowPanel();
    void SetDateMasks(bool withTime);
    void Prefill(const TField& field);
    void LoadFilter(const TFieldFilter& filter);
    // The editor's filter; none when its content does not convert (said to
    // the user with showErrors, which also refuses reversed intervals).
    std::unique_ptr<TFieldFilter> BuildFilter(bool showErrors) const;
    void FillFilter(TFieldFilter& filter, bool showErrors) const;
    void AddFilter(bool showErrors);
    void RebuildLines();
    void LiveUpdate();
    QWidget* EditorOfChosenField() const;
    bool FormKeyDown(QKeyEvent* event, QObject* watched);

    TDataSet* FDataSet = nullptr;
    std::vector<TField*> FFields; // offered, in cbFieldName's order
    TFieldFilters FFilters;
    QButtonGroup* FTypeGroup;
    QButtonGroup* FBoolGroup;
    std::vector<uint8_t> FTypeKinds; // the kind of each rgFType item
    bool FReady = false;             // live updates run
    bool FLoading = false;           // the editor is being filled by code
    bool FAddOnShow = false;         // the prefilled filter joins the list once shown
    bool FFieldOffered = false;      // the field the dialog opened on can be filtered
    bool FDateMaskWithTime = false;
};

// Lets the user edit filters for dataSource, starting at field; true when
// they were applied (the data source then switches its filtering).
bool ShowFilterDialog(TSDataSource* dataSource, TField* field, TFieldFilters& filters);
// The dialog, or none before its first use.
TfFilterDlg* fFilterDlg();
