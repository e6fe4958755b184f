// The columns of a data grid: which field each one shows and how. A grid
// without columns of the caller's own builds one per visible field whenever
// its data set's layout changes (the default columns).
#pragma once

#include <QColor>
#include <QMenu>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

class Variant;
class TColumnEx;
class TDBGridColumns;
class TField;

enum TColumnButtonStyle { cbsAuto, cbsEllipsis, cbsNone };
enum TSortMarker { smNone, smDown, smUp };
enum TDBGridColumnsState { csDefault, csCustomized };

// The title of one column; lives inside its column.
class TColumnTitle
{
public:
    explicit TColumnTitle(const TColumnEx& column) : FColumn(column) {}

    // The field's display name until the caller sets a caption (empty included).
    QString Caption() const;
    void SetCaption(const QString& caption);
    Qt::Alignment Alignment() const { return FAlignment; }
    void SetAlignment(Qt::Alignment alignment);
    // The sort marker drawn in the title, with its place in a sort over
    // several columns (0: no number).
    TSortMarker SortMarker() const { return FSortMarker; }
    void SetSortMarker(TSortMarker marker);
    int SortIndex() const { return FSortIndex; }
    void SetSortIndex(int index);
    // Shown as the title's tooltip; empty for none.
    const QString& Hint() const { return FHint; }
    void SetHint(const QString& hint) { FHint = hint; }

private:
    const TColumnEx& FColumn;
    std::optional<QString> FCaption;
    QString FHint;
    Qt::Alignment FAlignment = Qt::AlignLeft;
    TSortMarker FSortMarker = smNone;
    int FSortIndex = 0;
};

class TColumnEx
{
public:
    explicit TColumnEx(TDBGridColumns& owner);
    TColumnEx(const TColumnEx&) = delete;
    TColumnEx& operator=(const TColumnEx&) = delete;

    TDBGridColumns& Collection() const { return FOwner; }
    int Index() const;
    void SetIndex(int index);

    const QString& FieldName() const { return FFieldName; }
    void SetFieldName(const QString& name);
    // The field of the grid's data set with that name; none while the data
    // set is closed or has no such field.
    TField* Field() const { return FField; }

    TColumnTitle& Title() { return FTitle; }
    const TColumnTitle& Title() const { return FTitle; }
    // Pixels; 0 until set, when the grid takes the field's display width.
    int Width() const { return FWidth; }
    void SetWidth(int width);
    // Right for numbers, left otherwise, unless set.
    Qt::Alignment Alignment() const;
    void SetAlignment(Qt::Alignment alignment);
    bool Visible() const { return FVisible; }
    void SetVisible(bool value);
    // A read-only column (or field) never gets the editor.
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value) { FReadOnly = value; }
    // Tab, Enter and the edit moves skip columns without a tab stop.
    bool TabStop() const { return FTabStop; }
    void SetTabStop(bool value) { FTabStop = value; }
    // The column's own mask, else the field's (the toolkit's mask language).
    QString EditMask() const;
    void SetEditMask(const QString& mask) { FEditMask = mask; }
    // Shows a cell's text as its tooltip.
    bool Tooltips() const { return FTooltips; }
    void SetTooltips(bool value) { FTooltips = value; }
    // cbsEllipsis puts an edit button into the editor; cbsAuto gives lookup
    // fields a drop-down and date fields a calendar button.
    TColumnButtonStyle ButtonStyle() const { return FButtonStyle; }
    void SetButtonStyle(TColumnButtonStyle style) { FButtonStyle = style; }
    // Cell background; invalid for the grid's own.
    QColor Color() const { return FColor; }
    void SetColor(const QColor& color);
    // A menu of the column's own, opened by a right click on its cells in
    // place of the grid's; none by default. Not owned.
    QMenu* PopupMenu() const { return FPopupMenu; }
    void SetPopupMenu(QMenu* menu) { FPopupMenu = menu; }
    // A stored value and the text shown for it, pair by pair: a value found
    // in KeyList shows the PickList entry at the same place.
    const QStringList& KeyList() const { return FKeyList; }
    void SetKeyList(const QStringList& keys) { FKeyList = keys; }
    const QStringList& PickList() const { return FPickList; }
    void SetPickList(const QStringList& picks) { FPickList = picks; }
    // The text a value shows in this column: through the key and pick lists
    // when the column has a key list, else the field's display format.
    QString FormatValue(const Variant& value) const;
    // Whether the field's value may be written through this column.
    bool CanModify() const;

private:
    friend class TColumnFieldGate; // the columns bind it to its field
    friend class TColumnWidthGate; // the grid takes the widths the user drags
    void Changed();

    TDBGridColumns& FOwner;
    QString FFieldName;
    TField* FField = nullptr;
    TColumnTitle FTitle;
    int FWidth = 0;
    std::optional<Qt::Alignment> FAlignment;
    bool FVisible = true;
    bool FReadOnly = false;
    bool FTabStop = true;
    std::optional<QString> FEditMask;
    bool FTooltips = false;
    TColumnButtonStyle FButtonStyle = cbsAuto;
    QColor FColor;
    QPointer<QMenu> FPopupMenu;
    QStringList FKeyList;
    QStringList FPickList;
};

// Tells the grid that columns changed; one call per update batch.
class TDBGridColumnsOwner
{
public:
    virtual ~TDBGridColumnsOwner() = default;
    virtual void ColumnsChanged() = 0;
    virtual class TDataSet* ColumnsDataSet() const = 0;
};

class TDBGridColumns
{
public:
    explicit TDBGridColumns(TDBGridColumnsOwner& grid) : FGrid(grid) {}
    TDBGridColumns(const TDBGridColumns&) = delete;
    TDBGridColumns& operator=(const TDBGridColumns&) = delete;

    int Count() const { return static_cast<int>(FItems.size()); }
    TColumnEx* operator[](int index) const { return FItems[static_cast<size_t>(index)].get(); }
    // A column added by the caller makes the set customized: the grid stops
    // building columns from the fields.
    TColumnEx* Add();
    void Remove(int index);
    void Clear();
    void Move(int from, int to);
    int IndexOf(const TColumnEx* column) const;
    // Case-insensitive; none when no column shows that field.
    TColumnEx* ColumnByFieldName(const QString& fieldName) const;

    TDBGridColumnsState State() const { return FState; }
    void SetState(TDBGridColumnsState state);
    // Changes between BeginUpdate and EndUpdate reach the grid once.
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();

    // Default columns again from the data set's visible fields (only in csDefault).
    void RebuildDefault();
    // Binds every column to its field of the grid's data set (none when closed).
    void BindFields();

private:
    friend class TColumnsColumnGate; // a column's changes and its data set
    friend class TColumnsTitleGate;  // a title's changes
    void Changed();

    TDBGridColumnsOwner& FGrid;
    std::vector<std::unique_ptr<TColumnEx>> FItems;
    TDBGridColumnsState FState = csDefault;
    int FUpdateCount = 0;
    bool FChanged = false;
    bool FBuilding = false;
};
