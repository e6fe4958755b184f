#include "InplaceEdit.h"

#include "DBGridEx.h"
#include "DBGridGates_p.h"
#include "DataSet.h"
#include "SysUtils.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QToolButton>

#include <algorithm>

QString QtInputMask(const QString& editMask, TMaskSeparators separators)
{
    // "mask;save literals;blank": only the mask and the blank matter here.
    const QStringList parts = editMask.split(QLatin1Char(';'));
    const QString mask = parts.value(0);
    if (mask.isEmpty())
        return {};
    static const QString QtSpecial = QStringLiteral("AaNnXx9D0dHhBb#><!{}[]\\");
    QString result;
    // A character that stands for itself; Qt's mask characters are escaped.
    const auto literal = [&](QChar c) {
        if (QtSpecial.contains(c))
            result += QLatin1Char('\\');
        result += c;
    };
    const auto separator = [&](QChar c) {
        if (separators == TMaskSeparators::Escaped)
            result += QLatin1Char('\\') + c;
        else
            literal(c);
    };
    for (qsizetype i = 0; i < mask.size(); ++i) {
        const QChar c = mask[i];
        switch (c.unicode()) {
        case '0': result += QLatin1Char('9'); break; // digit required
        case '9': result += QLatin1Char('0'); break; // digit optional
        case '#': result += QLatin1Char('#'); break; // digit or sign, optional
        case 'L': result += QLatin1Char('A'); break; // letter required
        case 'l': result += QLatin1Char('a'); break;
        case 'A': result += QLatin1Char('N'); break; // letter or digit required
        case 'a': result += QLatin1Char('n'); break;
        case 'C': result += QLatin1Char('X'); break; // any character required
        case 'c': result += QLatin1Char('x'); break;
        case '>': result += QLatin1Char('>'); break;
        case '<':
            // "<>" switches case conversion off.
            if (i + 1 < mask.size() && mask[i + 1] == QLatin1Char('>')) {
                result += QLatin1Char('!');
                ++i;
            } else {
                result += QLatin1Char('<');
            }
            break;
        case '!': break; // leading blanks are dropped anyway
        case '/': separator(FormatSettings().DateSeparator); break;
        case ':': separator(FormatSettings().TimeSeparator); break;
        case '\\':
            if (i + 1 < mask.size())
                literal(mask[++i]);
            break;
        default: literal(c);
        }
    }
    const QString blank = parts.value(2);
    result += QLatin1Char(';') + (blank.isEmpty() ? QStringLiteral(" ") : blank.left(1));
    return result;
}

// ---------------------------------------------------------------- TInplaceEditor

void TInplaceEditor::WriteTo(TField& field) const { field.SetText(Text()); }

// ---------------------------------------------------------------- TInplaceEdit

namespace {

// Keeps letters out of a number cell. Both "." and "," pass as the decimal
// mark and the locale's group separator passes in the whole part: the field
// reads the text or refuses it with its message, so a comma is never
// dropped from under the user's fingers.
QRegularExpression NumberPattern()
{
    const TFormatSettings& settings = FormatSettings();
    QString group = QStringLiteral(" \\x{00A0}\\x{202F}");
    if (!settings.ThousandSeparator.isNull())
        group += QRegularExpression::escape(settings.ThousandSeparator);
    const QString decimal = QStringLiteral(".,") + QRegularExpression::escape(settings.DecimalSeparator);
    return QRegularExpression(QStringLiteral("[-+]?[0-9%1]*([%2][0-9]*)?([eE][-+]?[0-9]*)?").arg(group, decimal));
}

} // namespace

TInplaceEdit::TInplaceEdit(QWidget* parent, TInplaceKind kind, const QString& editMask, TButton button)
    : TInplaceEditor(parent), FEdit(new QLineEdit(this)), FButton(button)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(FEdit);
    FEdit->setFrame(false);
    const QString mask = QtInputMask(editMask);
    if (!mask.isEmpty())
        FEdit->setInputMask(mask);
    else if (kind == TInplaceKind::Number)
        FEdit->setValidator(new QRegularExpressionValidator(NumberPattern(), FEdit));
    if (button != NoButton) {
        FButtonWidget = new QToolButton(this);
        FButtonWidget->setText(button == CalendarButton ? QStringLiteral("▾") : QStringLiteral("…"));
        FButtonWidget->setFocusPolicy(Qt::NoFocus);
        FButtonWidget->setToolButtonStyle(Qt::ToolButtonTextOnly);
        layout->addWidget(FButtonWidget);
        connect(FButtonWidget, &QToolButton::clicked, this, &TInplaceEdit::ClickButton);
    }
    setFocusProxy(FEdit);
    connect(FEdit, &QLineEdit::textEdited, this, [this] { MarkModified(); });
}

QString TInplaceEdit::Text() const { return FEdit->text(); }

void TInplaceEdit::SetText(const QString& text) { FEdit->setText(text); }

QString TInplaceEdit::SelText() const { return FEdit->selectedText(); }

void TInplaceEdit::SetSelText(const QString& text)
{
    FEdit->insert(text);
    MarkModified();
}

int TInplaceEdit::SelStart() const
{
    return FEdit->hasSelectedText() ? FEdit->selectionStart() : FEdit->cursorPosition();
}

void TInplaceEdit::SetSelStart(int start) { FEdit->setCursorPosition(start); }

void TInplaceEdit::SelectAll() { FEdit->selectAll(); }

void TInplaceEdit::Deselect() { FEdit->deselect(); }

void TInplaceEdit::ClickButton()
{
    if (FButton == CalendarButton) {
        ShowCalendar();
        return;
    }
    if (OnButtonClick)
        OnButtonClick();
}

void TInplaceEdit::ShowCalendar()
{
    // A popup child of the editor: the editor keeps counting as focused.
    FCalendar = new QCalendarWidget(this);
    FCalendar->setWindowFlags(Qt::Popup);
    FCalendar->setAttribute(Qt::WA_DeleteOnClose);
    FCalendar->setFirstDayOfWeek(Qt::Monday);
    if (const auto date = TryStrToDate(FEdit->text()))
        FCalendar->setSelectedDate(DateTimeToQDateTime(*date).date());
    connect(FCalendar, &QCalendarWidget::activated, this, [this](QDate date) {
        FEdit->setText(DateToStr(QDateTimeToDateTime(date.startOfDay())));
        MarkModified();
        FCalendar->close();
    });
    // The line edit as context: when the editor goes, the edit goes first.
    connect(FCalendar, &QObject::destroyed, FEdit, [this] {
        FCalendar = nullptr;
        FEdit->setFocus();
    });
    FCalendar->move(mapToGlobal(QPoint(0, height())));
    FCalendar->show();
    FCalendar->setFocus();
}

// ---------------------------------------------------------------- TInplaceLookup

TInplaceLookup::TInplaceLookup(QWidget* parent, const TField& lookupField)
    : TInplaceEditor(parent), FCombo(new QComboBox(this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(FCombo);
    setFocusProxy(FCombo);
    FCombo->setFrame(false);
    // The lookup data set is read by display position: its cursor stays.
    TDataSet* lookup = lookupField.LookupDataSet();
    if (lookup && lookup->Active()) {
        const std::vector<TField*> keys = lookup->GetFieldList(lookupField.LookupKeyFields());
        TField* result = lookup->FieldByName(lookupField.LookupResultField());
        const int previous = lookup->SetDisplayPosition(-1);
        for (int position = 0; position < lookup->RecordCount(); ++position) {
            lookup->SetDisplayPosition(position);
            std::vector<Variant> values;
            for (TField* key : keys)
                values.push_back(key->Value());
            FKeys.push_back(values.size() == 1 ? values.front() : Variant(values));
            FCombo->addItem(result->DisplayText());
        }
        lookup->SetDisplayPosition(previous);
    }
    connect(FCombo, &QComboBox::activated, this, [this] { MarkModified(); });
}

QString TInplaceLookup::Text() const { return FCombo->currentText(); }

void TInplaceLookup::SetText(const QString& text) { FCombo->setCurrentIndex(FCombo->findText(text)); }

void TInplaceLookup::ClickButton() { FCombo->showPopup(); }

void TInplaceLookup::WriteTo(TField& field) const
{
    const int index = FCombo->currentIndex();
    TDataSet* dataSet = field.DataSet();
    const std::vector<TField*> keys = dataSet->GetFieldList(field.KeyFields());
    const Variant key = index >= 0 ? FKeys[static_cast<size_t>(index)] : Variant::Null();
    if (keys.size() == 1) {
        keys.front()->SetValue(key);
        return;
    }
    for (size_t i = 0; i < keys.size(); ++i)
        keys[i]->SetValue(key.IsNull() ? Variant::Null() : key[static_cast<int>(i)]);
}

// ---------------------------------------------------------------- TDBGridDelegate

TDBGridDelegate::TDBGridDelegate(TDBGridEx& grid) : QStyledItemDelegate(&grid), FGrid(grid) {}

QWidget* TDBGridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const
{
    return TDBGridDelegateGate::AttachEditor(FGrid, parent, FGrid.Columns()[index.column()]);
}

void TDBGridDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    auto* inplace = qobject_cast<TInplaceEditor*>(editor);
    // The user's typing is never overwritten by a redraw of the row.
    if (!inplace || inplace->Modified())
        return;
    inplace->SetText(index.data(Qt::EditRole).toString());
    inplace->SetModified(false);
    inplace->SelectAll();
}

void TDBGridDelegate::setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const { FGrid.PostEditorText(); }

void TDBGridDelegate::destroyEditor(QWidget* editor, const QModelIndex& index) const
{
    TDBGridDelegateGate::EditorDestroyed(FGrid, editor);
    QStyledItemDelegate::destroyEditor(editor, index);
}

namespace {

// The part of a cell's text that can reach the screen: a value far longer
// than the cell is cut before it is laid out (shaping all of a long text
// would cost every paint). No character is narrower than a pixel but zero
// width marks, so four characters a pixel leave the shown part whole.
QString ShownPart(const QString& text, Qt::Alignment alignment, int width)
{
    const qsizetype most = 4 * qsizetype(std::max(width, 0)) + 16;
    if (text.size() <= most || (alignment & Qt::AlignHCenter))
        return text;
    if (alignment & Qt::AlignRight) {
        qsizetype from = text.size() - most;
        if (text[from].isLowSurrogate())
            ++from;
        return text.mid(from);
    }
    qsizetype length = most;
    if (text[length - 1].isHighSurrogate())
        --length;
    return text.left(length);
}

} // namespace

// A cell is painted the way a data grid paints it: its background, then one
// line of text clipped to the cell (never elided). The style's item painting
// would lay every cell's text out as a paragraph, which costs the grid most
// of its paint time.
void TDBGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const bool selected = option.state & QStyle::State_Selected;
    const TDBGridModel& model = *FGrid.GridModel();
    const TCellParams params = model.CellParams(index.row(), index.column(), selected);
    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled)  ? QPalette::Disabled
                                       : !(option.state & QStyle::State_Active) ? QPalette::Inactive
                                                                                : QPalette::Normal;
    QColor background;
    if (selected)
        background = params.Background.isValid() ? params.Background : option.palette.color(group, QPalette::Highlight);
    else
        background = params.Background;
    if (background.isValid())
        painter->fillRect(option.rect, background);

    const QString text = model.CellText(index.row(), index.column());
    if (!text.isEmpty()) {
        const QColor foreground = params.Foreground.isValid()
                                      ? params.Foreground
                                      : option.palette.color(group,
                                                             selected ? QPalette::HighlightedText : QPalette::Text);
        const TColumnEx* column = params.Column;
        PaintText(painter, option, text, (column ? column->Alignment() : Qt::AlignLeft) | Qt::AlignVCenter,
                  params.Font ? *params.Font : option.font, foreground);
    }
    if (option.state & QStyle::State_HasFocus)
        PaintFocus(painter, option, selected ? background : option.palette.color(group, QPalette::Window));
}

void TDBGridDelegate::PaintText(QPainter* painter, const QStyleOptionViewItem& option, const QString& text,
                                Qt::Alignment alignment, const QFont& font, const QColor& color) const
{
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, &option, widget) + 1;
    const QRect rect = option.rect.adjusted(margin, 0, -margin, 0);
    alignment = QStyle::visualAlignment(option.direction, alignment);
    painter->save();
    painter->setFont(font);
    painter->setPen(color);
    painter->drawText(rect, int(alignment) | Qt::TextSingleLine, ShownPart(text, alignment, rect.width()));
    painter->restore();
}

void TDBGridDelegate::PaintFocus(QPainter* painter, const QStyleOptionViewItem& option, const QColor& background) const
{
    QStyleOptionFocusRect focus;
    focus.QStyleOption::operator=(option);
    focus.state |= QStyle::State_KeyboardFocusChange | QStyle::State_Item;
    focus.backgroundColor = background;
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
}

bool TDBGridDelegate::eventFilter(QObject* object, QEvent* event)
{
    if (event->type() == QEvent::KeyPress)
        return TDBGridDelegateGate::EditorKeyPress(FGrid, static_cast<QKeyEvent*>(event));
    if (event->type() == QEvent::ShortcutOverride) {
        // Keys the grid handles must reach it, not a shortcut of the form.
        auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Tab: event->accept(); return true;
        default:
            if (TDBGridDelegateGate::IsGridKey(FGrid, *key)) {
                event->accept();
                return true;
            }
            break;
        }
    }
    // Only the editor itself goes to the base (it commits there when the
    // focus leaves for good); its inner widgets are the grid's business.
    if (qobject_cast<TInplaceEditor*>(object))
        return QStyledItemDelegate::eventFilter(object, event);
    return false;
}
