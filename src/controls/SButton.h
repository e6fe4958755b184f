// The framework's flat button and its button bar.
//
// TSButton paints itself flat (grey outline, the highlight colour under the
// mouse), gives its form its modal result, reports each click to the audit
// window and then runs its click handler or its action. TSPanel arranges the
// TSButton controls placed on it in lines or in a column, keeps end-anchored
// ones at the far edge, and paints a gradient with its caption in the space
// the buttons leave free.
//
// The bar arranges its buttons after it is resized and after a button comes,
// goes, shows, hides or changes its text: once, from the event loop, never
// from painting (a bar inside a layout would otherwise resize and repaint
// itself for ever). ArrangeButtons runs it at once.
#pragma once

#include "Messages.h"

#include <QAbstractButton>
#include <QPixmap>
#include <QPointer>
#include <QWidget>
#include <functional>

class QAction;

// The audit report of a click: sent to the audit window with WParam = the
// button and LParam = its form.
inline constexpr unsigned WM_SBUTTON_AUDIT = WM_USER + 50;

enum TAnchorKind { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
using TAnchors = int;

class TSButton : public QAbstractButton
{
    Q_OBJECT
public:
    explicit TSButton(QWidget* parent = nullptr);

    // Where the audit reports go; none until the application shell sets it.
    static QPointer<QObject>& AuditWindow();

    QString Text() const { return text(); }
    void SetText(const QString& text);
    bool Visible() const { return !isHidden(); }
    void setVisible(bool visible) override;
    int ModalResult() const { return FModalResult; }
    void SetModalResult(int result) { FModalResult = result; }
    bool Audit() const { return FAudit; }
    void SetAudit(bool value) { FAudit = value; }
    bool Flat() const { return FFlat; }
    void SetFlat(bool value);
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool value) { FAutoSize = value; }
    QPixmap Glyph() const { return FGlyph; }
    void SetGlyph(const QPixmap& glyph);
    TAnchors Anchors() const { return FAnchors; }
    void SetAnchors(TAnchors anchors) { FAnchors = anchors; }
    // Stored only: the button never takes the focus.
    int TabOrder() const { return FTabOrder; }
    void SetTabOrder(int order) { FTabOrder = order; }
    // Buttons of one group index above 0 stay down one at a time.
    int GroupIndex() const { return FGroupIndex; }
    void SetGroupIndex(int index);
    // The Left the button had when its form was built; the bar's
    // UseLeftOrdering orders by it.
    int LoadedLeft() const { return FLoadedLeft; }
    void SetLoadedLeft(int left) { FLoadedLeft = left; }

    // The action the button carries: its caption, hint, enabled and visible
    // state follow the action, and a click without a handler executes it.
    QAction* Action() const { return FAction; }
    void SetAction(QAction* action);

    // The click: the form's modal result, the audit report, then the
    // handler or the action. When they raise, the form's result goes back
    // to none before the error goes on, so a modal form stays open.
    void Click();
    std::function<void(TSButton* sender)> OnClick;

    // Caption width as painted (the first "&" left out).
    int CaptionWidth() const;
    // Mouse is over the button (painting shows the highlight).
    bool MouseInControl() const { return FMouseInControl; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void AskArrange();
    void SyncWithAction();

    int FModalResult = 0;
    bool FAudit = true;
    bool FFlat = true;
    bool FAutoSize = true;
    bool FMouseInControl = false;
    QPixmap FGlyph;
    TAnchors FAnchors = akLeft | akTop;
    int FTabOrder = 0;
    int FGroupIndex = 0;
    int FLoadedLeft = 0;
    QPointer<QAction> FAction;
};

enum TButtonArrange { baStandart, baLineOrder, baTwoSideOrder };
enum TSPanelOrientation { spoHorizontal, spoVertical };
enum TPanelBevel { bvNone, bvLowered, bvRaised };

// The colour of one pixel row of the bar's gradient, from white at the top
// to $E0E0E0 at the bottom; a bar one pixel (or less) high is white.
QColor PanelGradientColor(int row, int height);

class TSPanel : public QWidget
{
    Q_OBJECT
public:
    explicit TSPanel(QWidget* parent = nullptr);

    QString Caption() const { return FCaption; }
    void SetCaption(const QString& caption);
    Qt::Alignment Alignment() const { return FAlignment; }
    void SetAlignment(Qt::Alignment alignment);
    QColor Color() const { return FColor; }
    void SetColor(const QColor& color);
    TPanelBevel BevelOuter() const { return FBevelOuter; }
    void SetBevelOuter(TPanelBevel bevel);
    TPanelBevel BevelInner() const { return FBevelInner; }
    void SetBevelInner(TPanelBevel bevel);
    int BevelWidth() const { return FBevelWidth; }
    void SetBevelWidth(int width);
    int BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(int width);

    TButtonArrange ButtonArrange() const { return FButtonArrange; }
    void SetButtonArrange(TButtonArrange arrange);
    bool ReservPlace() const { return FReservPlace; }
    void SetReservPlace(bool value);
    bool MultiLine() const { return FMultiLine; }
    void SetMultiLine(bool value);
    bool UseLeftOrdering() const { return FUseLeftOrdering; }
    void SetUseLeftOrdering(bool value);
    int LineWidth() const { return FLineWidth; }
    void SetLineWidth(int width);
    int InColumnHeight() const { return FInColumnHeight; }
    void SetInColumnHeight(int height);
    TSPanelOrientation Orientation() const { return FOrientation; }
    void SetOrientation(TSPanelOrientation orientation);

    // Places the buttons now (see the header comment for when it runs by itself).
    void ArrangeButtons();
    // Asks for an arrangement from the event loop (one, however often asked).
    void NeedArrange();
    bool NeedsArrange() const { return FNeedsArrange; }
    int ArrangeCount() const { return FArrangeCount; }
    // The caption's space between the buttons.
    int CaptionLeft() const { return FCaptionLeft; }
    int CaptionRight() const { return FCaptionRight; }
    // Border plus each bevel present.
    int BorderSize() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void childEvent(QChildEvent* event) override;

private:
    QList<TSButton*> CollectButtons(bool endGroup) const;
    void ArrangeVertical(const QList<TSButton*>& buttons, int border);
    void ArrangeHorizontal(const QList<TSButton*>& start, const QList<TSButton*>& end, int border);
    void Changed();

    QString FCaption;
    Qt::Alignment FAlignment = Qt::AlignCenter;
    QColor FColor;
    TPanelBevel FBevelOuter = bvRaised;
    TPanelBevel FBevelInner = bvNone;
    int FBevelWidth = 1;
    int FBorderWidth = 0;
    TButtonArrange FButtonArrange = baStandart;
    bool FReservPlace = false;
    bool FMultiLine = false;
    bool FUseLeftOrdering = false;
    int FLineWidth = 22;
    int FInColumnHeight = 30;
    TSPanelOrientation FOrientation = spoHorizontal;
    bool FNeedsArrange = false;
    bool FArrangeQueued = false;
    int FArrangeCount = 0;
    int FCaptionLeft = 0;
    int FCaptionRight = 0;
};
