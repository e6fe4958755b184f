// TDBSGridEx: the framework's data grid. On the data-aware grid it adds the
// service keys of the published actions, its own service menu, marked-row
// colours, moving between levels of a levelled data set, calculator keys,
// the duplication of fields and the entry rules between columns. Its
// services reach the data through a TSDataSource; over a plain data source
// it is an ordinary grid.
//
// Keys: the grid compares each key with the shortcut of every published
// service action (ServiceActions()) and performs the service itself; the
// actions themselves run only from menus and buttons.
#pragma once

#include "Action.h"
#include "DBGridEx.h"
#include "EnumSet.h"
#include "Variant.h"

#include <QPointer>
#include <functional>

class QMenu;
class TAction;
class TDBGridPrinter;
class TSDS;
class TSDataSource;

enum TServiceOption {
    srvMarkRecord,
    srvDoubleField,
    srvDoubleRecord,
    srvPrint,
    srvHandleLevels,
    srvCalc,
    srvSum,
    srvCount,
    srvFilter,
    srvSort,
    srvCallRef,
    srvFrozenOnEdit,
    srvGroupDelete,
    srvGroupReplace,
    srvDontToggleLevels,
    srvDontCustomize,
    srvDontCreatePopupMenu,
    srvDontAutoInsertAfterEnter,
};
using TServiceOptions = TEnumSet<TServiceOption, uint32_t>;
// The first fourteen options.
inline constexpr TServiceOptions DefaultServiceOptions{
    srvMarkRecord, srvDoubleField, srvDoubleRecord, srvPrint,   srvHandleLevels, srvCalc,        srvSum,
    srvCount,      srvFilter,      srvSort,         srvCallRef, srvFrozenOnEdit, srvGroupDelete, srvGroupReplace};

// Marks the menu items the grid adds, so that it finds and removes its own.
inline constexpr int ServiceMenuTag = -12345678;
// Posted to the application when a framework grid receives the focus:
// wParam 1, lParam the grid (see TDBSGridEx::FromMessage).
inline constexpr unsigned WM_GRIDFOCUSED = 0x0400 + 51;

// Print settings the form supplies: ParamNo 0 preview (bool), 1 asked only,
// 10 page header text, 100 title, 120 text before the grid, 130 text after
// it, 7 condensed print without colours (bool).
using TGetPrintParams = std::function<void(QObject* sender, int paramNo, Variant& paramValue)>;

class TDBSGridEx : public TDBGridEx
{
    Q_OBJECT

public:
    explicit TDBSGridEx(QWidget* parent = nullptr);
    ~TDBSGridEx() override;

    // The grid a focus message names, while it still exists.
    static TDBSGridEx* FromMessage(intptr_t lParam);

    // Adds the state column and the grid's own menu; the form calls it once
    // its properties are set (it runs by itself when the grid is first shown).
    virtual void Loaded();

    TServiceOptions ServiceOptions() const { return FServiceOptions; }
    void SetServiceOptions(TServiceOptions options) { FServiceOptions = options; }
    bool ShowState() const { return FShowState; }
    void SetShowState(bool value) { FShowState = value; }
    TGetPrintParams GetPrintParams;

    // The menu a right click opens; with srvDontCreatePopupMenu only the
    // grid's own (possibly none); null makes the grid create its own.
    QMenu* PopupMenu() const { return FPopupMenu; }
    void SetPopupMenu(QMenu* menu);
    // The column under the last right click, or null.
    TColumnEx* PopupColumn() const { return FPopupColumn; }

    // The data source when it is the framework's, else null.
    TSDataSource* SDataSource() const;
    // The data set when it is the framework's, else null.
    TSDS* SDS() const;

    // Whether the user may change, add or delete records here: the data set
    // can be modified, the grid is not read-only, edits, and allows it.
    bool CanEditRecords() const;
    bool CanInsertRecords() const;
    bool CanDeleteRecords() const;

    // Inserts a record after the current one (appends at the last).
    void InsertAfterCurrent();
    // Takes the selected column's value from the previous record.
    void DuplicateField();
    // Takes the values of the selected column and those to its right from
    // the previous record.
    void DuplicateFieldsRight();
    void ShowEditorAtCell();
    void MoveToNextEditableColumn();
    void MoveToPreviousEditableColumn();
    int LastVisibleColumn() const;
    // A new record's cell still shows its field's default expression.
    bool CellHoldsDefault(const TColumnEx* column) const;
    bool IsAtLastRecord() const;
    // Writes a calculator result into the selected field; a value the field
    // cannot hold (not finite, out of an integer's range) raises.
    void AssignCalculatorValue(long double value);
    TColumnEx* ColumnByFieldName(const QString& fieldName) const;

    // Fills the menu with the service items for the grid's current state
    // (items of a previous build are removed first).
    void BuildServiceMenu(QMenu& menu);
    // Opens the service menu as a right click at a point of the grid would.
    void ShowServiceMenu(const QPoint& gridPos);

    // Sets the action's state by the grid's rules; false when the action is
    // not one of the grid's services.
    virtual bool UpdateAction(TAction& action);

    // Prints (or previews) the grid with the form's print settings.
    void PrintGrid();
    // The print object all grids share, created on first use.
    static TDBGridPrinter& SharedPrinter();
    // Shows the preview or prints; tests put a PDF writer here.
    static std::function<void(TDBGridPrinter& printer, bool preview, QWidget* grid)> PrintOut;

    // A level path row shows the values of the group entered at that level.
    QString FixedCellText(int fixedRow, const TColumnEx* column) const override;

protected:
    QString GetCellText(const TColumnEx& column) const override;
    void GetCellParams(TCellParams& params) override;
    void KeyDown(int& key, Qt::KeyboardModifiers shift) override;
    bool MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, const QPoint& gridPos,
                   bool doubleClick) override;
    void MouseDownDone(Qt::MouseButton button, Qt::KeyboardModifiers shift, const QPoint& gridPos,
                       bool doubleClick) override;
    bool IsGridKey(const QKeyEvent& event) const override;
    void ColEnter() override;
    void ColExit() override;
    void ColumnsChanged() override;
    void LinkActiveChanged() override;
    void LinkDataChanged() override;
    void focusInEvent(QFocusEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    bool Editing() const;
    bool Browsing() const;
    bool IsLevelled() const;
    // The key's shortcut code equals the action's.
    static bool Is(const TAction* action, TShortCut shortCut);
    bool BrowseKey(int key, TShortCut shortCut, Qt::KeyboardModifiers mods);
    bool EditKey(int key, TShortCut shortCut, Qt::KeyboardModifiers mods);
    bool CalculatorKey(int key, Qt::KeyboardModifiers shift);
    void SendToCalculator(QChar op, bool fromEditor);
    void TakeCalculatorResult();
    void PutCalculatorResultInEditor();
    bool GroupOperation(int kind);
    void ToggleLevels();
    void HomeOverFrozenColumns();
    // Level path rows and sort markers follow the data set.
    void UpdateLevelRows();
    void UpdateSortMarkers();
    void AddStateColumn();
    QMenu* OwnPopupMenu();
    void RemoveServiceItems(QMenu& menu);
    void UpdateActions();
    // The value of a field in the record above the current one, in the grid's order.
    bool ValuesAbove(const std::vector<TField*>& fields, std::vector<Variant>& values) const;

    TServiceOptions FServiceOptions = DefaultServiceOptions;
    bool FShowState = false;
    bool FLoaded = false;
    int FPreviousColumn = -1;
    TColumnEx* FStateColumn = nullptr;
    QPointer<QMenu> FOwnPopupMenu;
    QPointer<QMenu> FPopupMenu;
    TColumnEx* FPopupColumn = nullptr;
    int FUpdatingMarkers = 0;
};
