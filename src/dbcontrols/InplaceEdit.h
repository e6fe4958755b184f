// The grid's in-place editors: one per kind of field (text with an edit
// mask, number, date with a calendar button, lookup drop-down), each giving
// the grid the same access to its text, selection and button.
#pragma once

#include <QStyledItemDelegate>
#include <QWidget>
#include <functional>
#include <vector>

#include "Variant.h"

class QCalendarWidget;
class QComboBox;
class QLineEdit;
class QToolButton;
class TColumnEx;
class TDBGridEx;
class TField;

// How the date and time separators of a mask ('/' and ':') are written:
// escaped only where Qt would read the separator as a mask character, or
// always. Qt reads both alike; the filter dialog's masks carry them escaped.
enum class TMaskSeparators { AsNeeded, Escaped };

// The toolkit's edit mask ("!99/99/0000;1;_") in Qt's input mask language;
// empty for no mask.
QString QtInputMask(const QString& editMask, TMaskSeparators separators = TMaskSeparators::AsNeeded);

class TInplaceEditor : public QWidget
{
    Q_OBJECT
public:
    explicit TInplaceEditor(QWidget* parent) : QWidget(parent) {}

    virtual QString Text() const = 0;
    virtual void SetText(const QString& text) = 0;
    // Whether the user changed the text since it was last set.
    bool Modified() const { return FModified; }
    void SetModified(bool value) { FModified = value; }

    virtual QString SelText() const = 0;
    virtual void SetSelText(const QString& text) = 0;
    virtual int SelStart() const = 0;
    virtual void SetSelStart(int start) = 0;
    virtual void SelectAll() = 0;
    virtual void Deselect() = 0;

    // The edit button (ellipsis or calendar) or the drop-down.
    virtual bool HasButton() const { return false; }
    virtual void ClickButton() {}
    std::function<void()> OnButtonClick;

    // Writes the text into the field (a lookup editor writes the key fields).
    virtual void WriteTo(TField& field) const;

protected:
    void MarkModified() { FModified = true; }

private:
    bool FModified = false;
};

enum class TInplaceKind { Text, Number, Date };

// A line edit with an optional button at its right.
class TInplaceEdit : public TInplaceEditor
{
    Q_OBJECT
public:
    enum TButton { NoButton, EllipsisButton, CalendarButton };
    TInplaceEdit(QWidget* parent, TInplaceKind kind, const QString& editMask, TButton button);

    QString Text() const override;
    void SetText(const QString& text) override;
    QString SelText() const override;
    void SetSelText(const QString& text) override;
    int SelStart() const override;
    void SetSelStart(int start) override;
    void SelectAll() override;
    void Deselect() override;
    bool HasButton() const override { return FButton != NoButton; }
    void ClickButton() override;

    QLineEdit* LineEdit() const { return FEdit; }
    // The calendar while it is open.
    QCalendarWidget* Calendar() const { return FCalendar; }

private:
    void ShowCalendar();

    QLineEdit* FEdit;
    QToolButton* FButtonWidget = nullptr;
    TButton FButton;
    QCalendarWidget* FCalendar = nullptr;
};

// A drop-down of the lookup data set's result values; writes the key.
class TInplaceLookup : public TInplaceEditor
{
    Q_OBJECT
public:
    TInplaceLookup(QWidget* parent, const TField& lookupField);

    QString Text() const override;
    void SetText(const QString& text) override;
    QString SelText() const override { return Text(); }
    void SetSelText(const QString& text) override
    {
        SetText(text);
        MarkModified();
    }
    int SelStart() const override { return 0; }
    void SetSelStart(int) override {}
    void SelectAll() override {}
    void Deselect() override {}
    bool HasButton() const override { return true; }
    void ClickButton() override;
    void WriteTo(TField& field) const override;

    QComboBox* ComboBox() const { return FCombo; }

private:
    QComboBox* FCombo;
    std::vector<Variant> FKeys;
};

// Creates the editors for the grid and sends their keys to it first.
class TDBGridDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit TDBGridDelegate(TDBGridEx& grid);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
    void destroyEditor(QWidget* editor, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    bool eventFilter(QObject* object, QEvent* event) override;

private:
    void PaintText(QPainter* painter, const QStyleOptionViewItem& option, const QString& text, Qt::Alignment alignment,
                   const QFont& font, const QColor& color) const;
    void PaintFocus(QPainter* painter, const QStyleOptionViewItem& option, const QColor& background) const;

    TDBGridEx& FGrid;
};
