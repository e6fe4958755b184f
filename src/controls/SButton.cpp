#include "SButton.h"

#include "Action.h"
#include "Application.h"
#include "Exceptions.h"
#include "ServiceActions.h"

#include <QAction>
#include <QApplication>
#include <QChildEvent>
#include <QDialog>
#include <QIcon>
#include <QPainter>
#include <QScreen>
#include <QStyleOptionButton>
#include <QTimer>
#include <algorithm>

namespace {

// Colours as the framework writes them ($BBGGRR).
const QColor HighlightHighColor(0xBC, 0xCE, 0xF9); // $F9CEBC
const QColor HighlightLowColor(0x00, 0xFF, 0xFF);  // $FFFF00
const QColor OutlineColor(0x80, 0x80, 0x80);
const QColor ExclusiveColor(0xC0, 0xC0, 0xC0);
const QColor DisabledTextColor(0x80, 0x80, 0x80);
const int GlyphSpacing = 4;

TSPanel* PanelOf(const QWidget* widget) { return qobject_cast<TSPanel*>(widget->parentWidget()); }

} // namespace

// ------------------------------------------------------------------ TSButton

TSButton::TSButton(QWidget* parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    QPalette palette = this->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        palette.setColor(group, QPalette::ButtonText, Qt::black);
    setPalette(palette);
    // Errors of a click from the mouse end in the error display, never in
    // the event loop.
    connect(this, &QAbstractButton::clicked, this, [this] { HandleExceptions([this] { Click(); }); });
}

QPointer<QObject>& TSButton::AuditWindow()
{
    static QPointer<QObject> window;
    return window;
}

void TSButton::SetText(const QString& text)
{
    if (text == this->text())
        return;
    setText(text);
    if (FAutoSize)
        updateGeometry();
    AskArrange();
}

void TSButton::setVisible(bool visible)
{
    const bool changed = visible == isHidden();
    QAbstractButton::setVisible(visible);
    if (!changed)
        return;
    AskArrange();
    if (QWidget* parent = parentWidget())
        parent->update();
}

void TSButton::SetFlat(bool value)
{
    FFlat = value;
    update();
}

void TSButton::SetGlyph(const QPixmap& glyph)
{
    FGlyph = glyph;
    updateGeometry();
    AskArrange();
    update();
}

void TSButton::SetGroupIndex(int index)
{
    FGroupIndex = index;
    setCheckable(index > 0);
    setAutoExclusive(index > 0);
}

void TSButton::SetAction(QAction* action)
{
    if (FAction)
        disconnect(FAction, nullptr, this, nullptr);
    FAction = action;
    if (!action)
        return;
    connect(action, &QAction::changed, this, &TSButton::SyncWithAction);
    SyncWithAction();
}

void TSButton::SyncWithAction()
{
    if (!FAction)
        return;
    // The caption alone: an action's text may name its key after a tab.
    SetText(FAction->text().section(QLatin1Char('\t'), 0, 0));
    setToolTip(FAction->toolTip());
    setEnabled(FAction->isEnabled());
    setVisible(FAction->isVisible());
}

void TSButton::Click()
{
    // The form's modal result first, as a handler may look at it or change it.
    auto* form = qobject_cast<QDialog*>(window());
    if (form == static_cast<QWidget*>(this))
        form = nullptr;
    if (form)
        form->setResult(FModalResult);
    if (FAudit && AuditWindow()) {
        TMessageEvent report({WM_SBUTTON_AUDIT, reinterpret_cast<intptr_t>(this), reinterpret_cast<intptr_t>(form)});
        QCoreApplication::sendEvent(AuditWindow(), &report);
    }
    try {
        if (OnClick)
            OnClick(this);
        else if (auto* action = qobject_cast<TAction*>(FAction.data()); action && action->OnExecute)
            action->OnExecute(*action);
        else if (FAction)
            FAction->trigger();
    } catch (...) {
        if (form)
            form->setResult(0); // a failure keeps the form open
        throw;
    }
    if (form && form->isModal() && form->result() != 0)
        form->done(form->result());
}

int TSButton::CaptionWidth() const
{
    QString caption = text();
    if (const int amp = caption.indexOf(QLatin1Char('&')); amp >= 0)
        caption.remove(amp, 1);
    return fontMetrics().horizontalAdvance(caption);
}

QSize TSButton::sizeHint() const
{
    const TSPanel* panel = PanelOf(this);
    const int line = panel ? panel->LineWidth() : 22;
    return {std::max(CaptionWidth() + FGlyph.width() + 8, line), line - 1};
}

void TSButton::paintEvent(QPaintEvent*)
{
    if (!isVisible())
        return;
    QPainter painter(this);
    const bool exclusive = isCheckable() && isChecked();
    const bool down = isDown() || exclusive;
    QRect area = rect();
    if (FFlat) {
        area.adjust(1, 1, -1, -1);
    } else {
        QStyleOptionButton option;
        option.initFrom(this);
        option.state |= down ? QStyle::State_Sunken : QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &option, &painter, this);
        area.adjust(2, 2, -2, -2);
    }
    if (exclusive && (!FFlat || !FMouseInControl))
        painter.fillRect(area, ExclusiveColor);
    if (FFlat) {
        if (FMouseInControl && isEnabled()) {
            painter.setPen(Qt::black);
            painter.setBrush(HighColorScreen() ? HighlightHighColor : HighlightLowColor);
        } else {
            painter.setPen(OutlineColor);
            const TSPanel* panel = PanelOf(this);
            painter.setBrush(panel && !exclusive ? QBrush(panel->Color()) : QBrush(Qt::NoBrush));
        }
        painter.drawRect(area.adjusted(0, 0, -1, -1));
    }

    QRect content = area;
    if (down)
        content.translate(1, 1);
    const int glyphWidth = FGlyph.isNull() ? 0 : FGlyph.width();
    const int captionWidth = CaptionWidth();
    const int spacing = glyphWidth && captionWidth ? GlyphSpacing : 0;
    int x = content.left() + (content.width() - glyphWidth - spacing - captionWidth) / 2;
    if (glyphWidth) {
        const QPixmap glyph = isEnabled() ? FGlyph
                                          : QIcon(FGlyph).pixmap(FGlyph.size(), devicePixelRatio(), QIcon::Disabled);
        painter.drawPixmap(x, content.top() + (content.height() - FGlyph.height()) / 2, glyph);
        x += glyphWidth + spacing;
    }
    if (captionWidth) {
        painter.setPen(isEnabled() ? palette().color(QPalette::ButtonText) : DisabledTextColor);
        painter.drawText(QRect(x, content.top(), captionWidth + 1, content.height()),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic | Qt::TextSingleLine, text());
    }
}

void TSButton::enterEvent(QEnterEvent* event)
{
    FMouseInControl = true;
    update();
    QAbstractButton::enterEvent(event);
}

void TSButton::leaveEvent(QEvent* event)
{
    FMouseInControl = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void TSButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        AskArrange();
    QAbstractButton::changeEvent(event);
}

void TSButton::AskArrange()
{
    if (TSPanel* panel = PanelOf(this))
        panel->NeedArrange();
}

// ------------------------------------------------------------------- TSPanel

QColor PanelGradientColor(int row, int height)
{
    if (height <= 1)
        return QColor(0xFF, 0xFF, 0xFF);
    const auto channel = [&](int top, int bottom) {
        return top + static_cast<int>(std::lround(double(bottom - top) * row / (height - 1)));
    };
    const int value = channel(0xFF, 0xE0);
    return QColor(value, value, value);
}

TSPanel::TSPanel(QWidget* parent) : QWidget(parent), FColor(palette().color(QPalette::Button)) {}

void TSPanel::Changed()
{
    NeedArrange();
    update();
}

void TSPanel::SetCaption(const QString& caption)
{
    FCaption = caption;
    update();
}

void TSPanel::SetAlignment(Qt::Alignment alignment)
{
    FAlignment = alignment;
    update();
}

void TSPanel::SetColor(const QColor& color)
{
    FColor = color;
    update();
}

void TSPanel::SetBevelOuter(TPanelBevel bevel)
{
    FBevelOuter = bevel;
    Changed();
}

void TSPanel::SetBevelInner(TPanelBevel bevel)
{
    FBevelInner = bevel;
    Changed();
}

void TSPanel::SetBevelWidth(int width)
{
    FBevelWidth = width;
    Changed();
}

void TSPanel::SetBorderWidth(int width)
{
    FBorderWidth = width;
    Changed();
}

void TSPanel::SetButtonArrange(TButtonArrange arrange)
{
    FButtonArrange = arrange;
    Changed();
}

void TSPanel::SetReservPlace(bool value)
{
    FReservPlace = value;
    Changed();
}

void TSPanel::SetMultiLine(bool value)
{
    FMultiLine = value;
    Changed();
}

void TSPanel::SetUseLeftOrdering(bool value)
{
    FUseLeftOrdering = value;
    Changed();
}

void TSPanel::SetLineWidth(int width)
{
    FLineWidth = width;
    Changed();
}

void TSPanel::SetInColumnHeight(int height)
{
    FInColumnHeight = height;
    Changed();
}

void TSPanel::SetOrientation(TSPanelOrientation orientation)
{
    FOrientation = orientation;
    Changed();
}

int TSPanel::BorderSize() const
{
    return FBorderWidth + (FBevelInner != bvNone ? FBevelWidth : 0) + (FBevelOuter != bvNone ? FBevelWidth : 0);
}

void TSPanel::NeedArrange()
{
    FNeedsArrange = true;
    if (FArrangeQueued)
        return;
    FArrangeQueued = true;
    QTimer::singleShot(0, this, [this] {
        FArrangeQueued = false;
        if (FNeedsArrange)
            ArrangeButtons();
    });
}

void TSPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    NeedArrange();
}

void TSPanel::childEvent(QChildEvent* event)
{
    QWidget::childEvent(event);
    // A removed child is no longer a TSButton here (it is being destroyed):
    // any removal asks.
    if (event->removed() || (event->added() && qobject_cast<TSButton*>(event->child())))
        NeedArrange();
    if (event->added())
        if (auto* button = qobject_cast<TSButton*>(event->child()))
            button->SetLoadedLeft(button->x());
}

QList<TSButton*> TSPanel::CollectButtons(bool endGroup) const
{
    RTL_ASSERT(FButtonArrange != baStandart, QStringLiteral("Стандартное упорядочение исключает сортировку!"));
    const int endEdge = FOrientation == spoHorizontal ? akRight : akBottom;
    const int startEdge = FOrientation == spoHorizontal ? akLeft : akTop;
    QList<TSButton*> buttons;
    for (QObject* child : children()) {
        auto* button = qobject_cast<TSButton*>(child);
        if (!button || (button->isHidden() && !FReservPlace))
            continue;
        const bool atEnd = FButtonArrange == baTwoSideOrder && (button->Anchors() & endEdge)
                           && !(button->Anchors() & startEdge);
        if (atEnd == endGroup)
            buttons.append(button);
    }
    if (FUseLeftOrdering)
        std::stable_sort(buttons.begin(), buttons.end(),
                         [](const TSButton* a, const TSButton* b) { return a->LoadedLeft() < b->LoadedLeft(); });
    return buttons;
}

void TSPanel::ArrangeButtons()
{
    FNeedsArrange = false;
    ++FArrangeCount;
    if (FButtonArrange == baStandart) {
        FCaptionLeft = 0;
        FCaptionRight = width();
        return;
    }
    const int border = BorderSize();
    const QList<TSButton*> start = CollectButtons(false);
    if (FOrientation == spoVertical)
        ArrangeVertical(start, border);
    else
        ArrangeHorizontal(start, CollectButtons(true), border);
    // Moving the buttons asked again; what it asked for is done.
    FNeedsArrange = false;
    update();
}

void TSPanel::ArrangeVertical(const QList<TSButton*>& buttons, int border)
{
    const int pitch = FInColumnHeight > 0 ? FInColumnHeight : fontMetrics().horizontalAdvance(QStringLiteral("Йр")) + 2;
    int top = border;
    for (TSButton* button : buttons) {
        button->setGeometry(border, top, width() - 2 * border, pitch - 1);
        top += pitch;
    }
    setMaximumHeight(QWIDGETSIZE_MAX);
    setMinimumHeight(2 * border + static_cast<int>(buttons.size()) * pitch);
    FCaptionLeft = 0;
    FCaptionRight = width();
}

void TSPanel::ArrangeHorizontal(const QList<TSButton*>& start, const QList<TSButton*>& end, int border)
{
    int height = 2 * border + FLineWidth + 1;
    int x = border;
    int line = 1;
    int onLine = 0; // the first button of a line never wraps
    for (TSButton* button : start) {
        const int w = std::max(button->CaptionWidth() + button->Glyph().width() + 8, FLineWidth);
        int left = x;
        x += w + 1;
        if (FMultiLine && FButtonArrange == baLineOrder && x > width() - border && onLine > 0) {
            ++line;
            left = border;
            x = border + w + 1;
            height += FLineWidth;
            onLine = 0;
        }
        button->setGeometry(left, border + (line - 1) * FLineWidth, w, FLineWidth - 1);
        ++onLine;
    }
    FCaptionLeft = x;
    int rx = width() - border;
    // Placed from the far edge, the end group still reads in its order.
    for (auto it = end.rbegin(); it != end.rend(); ++it) {
        TSButton* button = *it;
        const int w = std::max(button->CaptionWidth() + button->Glyph().width() + 6, FLineWidth);
        button->setGeometry(rx - w, border, w, FLineWidth - 1);
        rx -= w + 1;
    }
    FCaptionRight = rx;
    setFixedHeight(height);
}

void TSPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (HighColorScreen()) {
        const QScreen* screen = this->screen();
        const int lineWidth = std::min(width(), screen ? screen->geometry().width() : width());
        for (int row = 0; row < height(); ++row) {
            painter.setPen(PanelGradientColor(row, height()));
            painter.drawLine(0, row, lineWidth - 1, row);
        }
    } else {
        painter.fillRect(rect(), FColor);
    }
    QRect area = rect();
    const auto bevel = [&](TPanelBevel kind) {
        if (kind == bvNone)
            return;
        const QColor shadow = palette().color(QPalette::Dark);
        const QColor light = palette().color(QPalette::Light);
        const QColor topLeft = kind == bvLowered ? shadow : light;
        const QColor bottomRight = kind == bvLowered ? light : shadow;
        for (int i = 0; i < FBevelWidth; ++i) {
            painter.setPen(topLeft);
            painter.drawLine(area.topLeft(), area.topRight());
            painter.drawLine(area.topLeft(), area.bottomLeft());
            painter.setPen(bottomRight);
            painter.drawLine(area.bottomLeft(), area.bottomRight());
            painter.drawLine(area.topRight(), area.bottomRight());
            area.adjust(1, 1, -1, -1);
        }
    };
    bevel(FBevelOuter);
    painter.setPen(FColor);
    for (int i = 0; i < FBorderWidth; ++i) {
        painter.drawRect(area.adjusted(0, 0, -1, -1));
        area.adjust(1, 1, -1, -1);
    }
    bevel(FBevelInner);
    if (FCaption.isEmpty())
        return;
    const int left = FButtonArrange == baStandart ? 0 : FCaptionLeft;
    const int right = FButtonArrange == baStandart ? width() : FCaptionRight;
    const int textHeight = fontMetrics().boundingRect(QStringLiteral("W")).height();
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setFont(font());
    painter.drawText(QRect(left, (height() - textHeight) / 2, std::max(0, right - left), textHeight),
                     static_cast<int>(FAlignment & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter | Qt::TextSingleLine,
                     FCaption);
}
