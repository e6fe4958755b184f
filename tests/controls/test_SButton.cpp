// The flat button and the button bar on the offscreen platform.
#include "SButton.h"

#include "Action.h"
#include "Exceptions.h"
#include "ServiceActions.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TSButton* AddButton(TSPanel& panel, const QString& text, TAnchors anchors = akLeft | akTop)
{
    auto* button = new TSButton(&panel);
    button->SetText(text);
    button->SetAnchors(anchors);
    return button;
}

int Width(const TSButton& button, int extra, int line = 22) { return std::max(button.CaptionWidth() + extra, line); }

class PanelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FPanel.resize(300, 40);
        FPanel.SetBevelOuter(bvNone);
    }
    TSPanel FPanel;
};

TEST_F(PanelTest, LineOrderPlacesButtonsFromTheStartWithTheirCaptionWidths)
{
    FPanel.SetButtonArrange(baLineOrder);
    TSButton* a = AddButton(FPanel, "&Открыть");
    TSButton* b = AddButton(FPanel, "Я"); // narrower than a line: a line wide
    FPanel.ArrangeButtons();
    EXPECT_EQ(a->geometry(), QRect(0, 0, Width(*a, 8), 21));
    EXPECT_EQ(b->geometry(), QRect(a->geometry().right() + 2, 0, 22, 21));
    EXPECT_EQ(FPanel.height(), 23);
    EXPECT_EQ(FPanel.CaptionLeft(), b->geometry().right() + 2);
    // The accelerator mark is not measured.
    EXPECT_EQ(a->CaptionWidth(), a->fontMetrics().horizontalAdvance("Открыть"));
}

TEST_F(PanelTest, TwoSideOrderKeepsEndAnchoredButtonsAtTheFarEdgeInTheirOrder)
{
    FPanel.SetButtonArrange(baTwoSideOrder);
    FPanel.SetBorderWidth(2);
    TSButton* start = AddButton(FPanel, "Начало");
    TSButton* ok = AddButton(FPanel, "Ок", akRight | akTop);
    TSButton* cancel = AddButton(FPanel, "Отмена", akRight);
    FPanel.ArrangeButtons();
    EXPECT_EQ(start->geometry().left(), 2);
    EXPECT_EQ(start->width(), Width(*start, 8));
    EXPECT_EQ(cancel->width(), Width(*cancel, 6));
    EXPECT_EQ(cancel->geometry().right(), 300 - 2 - 1);
    EXPECT_EQ(ok->geometry().right() + 2, cancel->geometry().left());
    EXPECT_EQ(FPanel.CaptionRight(), ok->geometry().left() - 1);
}

TEST_F(PanelTest, HiddenButtonsCloseTheirGapUnlessThePlaceIsReserved)
{
    FPanel.SetButtonArrange(baLineOrder);
    TSButton* a = AddButton(FPanel, "Один");
    TSButton* b = AddButton(FPanel, "Два");
    TSButton* c = AddButton(FPanel, "Три");
    b->hide();
    FPanel.ArrangeButtons();
    EXPECT_EQ(c->geometry().left(), a->geometry().right() + 2);
    FPanel.SetReservPlace(true);
    FPanel.ArrangeButtons();
    EXPECT_EQ(c->geometry().left(), b->geometry().right() + 2);
}

TEST_F(PanelTest, MultiLineGrowsALinePerWrapAndNeverWrapsTheFirstButtonOfALine)
{
    FPanel.resize(120, 40);
    FPanel.SetButtonArrange(baLineOrder);
    FPanel.SetMultiLine(true);
    TSButton* wide = AddButton(FPanel, "Очень длинная надпись кнопки");
    TSButton* second = AddButton(FPanel, "Два");
    TSButton* third = AddButton(FPanel, "Три");
    FPanel.ArrangeButtons();
    EXPECT_EQ(wide->geometry().topLeft(), QPoint(0, 0));
    EXPECT_EQ(second->geometry().topLeft(), QPoint(0, 22));
    EXPECT_EQ(third->geometry().top(), 22);
    EXPECT_EQ(FPanel.height(), 23 + 22);
}

TEST_F(PanelTest, AVerticalBarTakesItsRowPitchFromTheFontWhenNoneIsGiven)
{
    FPanel.SetButtonArrange(baLineOrder);
    FPanel.SetOrientation(spoVertical);
    FPanel.SetInColumnHeight(0);
    TSButton* a = AddButton(FPanel, "Один");
    TSButton* b = AddButton(FPanel, "Два");
    FPanel.ArrangeButtons();
    const int pitch = FPanel.fontMetrics().horizontalAdvance("Йр") + 2;
    EXPECT_EQ(a->geometry(), QRect(0, 0, 300, pitch - 1));
    EXPECT_EQ(b->geometry().top(), pitch);
    EXPECT_EQ(FPanel.minimumHeight(), 2 * pitch);
}

TEST_F(PanelTest, ChangingACaptionArrangesAgainOnceFromTheEventLoop)
{
    FPanel.SetButtonArrange(baLineOrder);
    TSButton* a = AddButton(FPanel, "Один");
    TSButton* b = AddButton(FPanel, "Два");
    FPanel.ArrangeButtons();
    const int before = FPanel.ArrangeCount();
    a->SetText("Первая кнопка");
    a->SetText("Первая кнопка бара");
    EXPECT_TRUE(FPanel.NeedsArrange());
    QApplication::processEvents();
    EXPECT_EQ(FPanel.ArrangeCount(), before + 1);
    EXPECT_EQ(b->geometry().left(), a->geometry().right() + 2);
    EXPECT_EQ(a->width(), Width(*a, 8));
}

TEST(PanelLayout, ABarInsideALayoutSettlesAndPaintingNeverArranges)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* panel = new TSPanel(&window);
    panel->SetButtonArrange(baLineOrder);
    panel->SetMultiLine(true);
    for (const char* text : {"Добавить", "Изменить", "Удалить", "Обновить", "Печать", "Закрыть"})
        AddButton(*panel, QString::fromUtf8(text));
    layout->addWidget(panel);
    layout->addStretch();
    window.resize(200, 200);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 300)
        QApplication::processEvents();
    const int settled = panel->ArrangeCount();
    EXPECT_LE(settled, 6);
    EXPECT_FALSE(panel->NeedsArrange());
    EXPECT_GT(panel->height(), 23); // it wrapped
    panel->repaint();
    window.resize(400, 200);
    QApplication::processEvents();
    panel->repaint();
    QApplication::processEvents();
    EXPECT_LE(panel->ArrangeCount(), settled + 3);
    EXPECT_FALSE(panel->NeedsArrange());
}

TEST(PanelGradient, RunsFromWhiteToGreyAndABarOnePixelHighIsWhite)
{
    EXPECT_EQ(PanelGradientColor(0, 10), QColor(255, 255, 255));
    EXPECT_EQ(PanelGradientColor(9, 10), QColor(0xE0, 0xE0, 0xE0));
    EXPECT_EQ(PanelGradientColor(2, 11), QColor(0xF9, 0xF9, 0xF9));
    EXPECT_EQ(PanelGradientColor(0, 1), QColor(255, 255, 255));
    EXPECT_EQ(PanelGradientColor(0, 0), QColor(255, 255, 255));
    SetScreenColorDepth(32);
    TSPanel panel;
    panel.resize(100, 1);
    EXPECT_FALSE(panel.grab().isNull());
}

class ButtonClickTest : public ::testing::Test
{
protected:
    QDialog FForm;
    TSButton* FButton = new TSButton(&FForm);
};

TEST_F(ButtonClickTest, TheButtonsResultClosesAModalFormAndNoneKeepsItOpen)
{
    FForm.open();
    FButton->SetModalResult(0);
    FForm.setResult(5);
    FButton->Click();
    EXPECT_EQ(FForm.result(), 0);
    EXPECT_TRUE(FForm.isVisible());
    int clicks = 0;
    FButton->OnClick = [&](TSButton*) { ++clicks; };
    FButton->SetModalResult(1);
    FButton->Click();
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(FForm.isVisible());
    EXPECT_EQ(FForm.result(), 1);
}

TEST_F(ButtonClickTest, AHandlerThatRaisesLeavesTheFormOpenWithoutAResult)
{
    FForm.open();
    FButton->SetModalResult(1);
    FButton->OnClick = [](TSButton*) { throw Exception(QStringLiteral("не удалось")); };
    EXPECT_THROW(FButton->Click(), Exception);
    EXPECT_EQ(FForm.result(), 0);
    EXPECT_TRUE(FForm.isVisible());
}

TEST(ButtonClick, AButtonWithoutAFormRunsItsHandler)
{
    TSButton alone;
    alone.SetModalResult(1);
    int clicks = 0;
    alone.OnClick = [&](TSButton*) { ++clicks; };
    alone.Click();
    QWidget plain;
    auto* inPlain = new TSButton(&plain);
    inPlain->SetModalResult(1);
    inPlain->OnClick = alone.OnClick;
    inPlain->Click();
    EXPECT_EQ(clicks, 2);
}

class TAuditWindow : public QObject
{
public:
    bool event(QEvent* event) override
    {
        if (event->type() != TMessageEvent::EventType())
            return QObject::event(event);
        Reports.append(static_cast<TMessageEvent*>(event)->Message());
        return true;
    }
    QList<TMessage> Reports;
};

TEST(ButtonClick, EveryClickIsReportedToTheAuditWindowWhileAuditIsOn)
{
    TAuditWindow audit;
    TSButton::AuditWindow() = &audit;
    QDialog form;
    auto* button = new TSButton(&form);
    button->Click();
    button->SetAudit(false);
    button->Click();
    TSButton::AuditWindow() = nullptr;
    ASSERT_EQ(audit.Reports.size(), 1);
    EXPECT_EQ(audit.Reports[0].Msg, WM_USER + 50);
    EXPECT_EQ(audit.Reports[0].WParam, reinterpret_cast<intptr_t>(button));
    EXPECT_EQ(audit.Reports[0].LParam, reinterpret_cast<intptr_t>(&form));
}

TEST(ButtonAction, TheButtonFollowsItsActionAndAClickExecutesIt)
{
    TSPanel panel;
    panel.SetButtonArrange(baLineOrder);
    TAction action;
    action.SetCaption("Сумма");
    int runs = 0;
    action.OnExecute = [&](TAction&) { ++runs; };
    auto* button = new TSButton(&panel);
    button->SetAction(&action);
    EXPECT_EQ(button->Text(), "Сумма");
    action.SetEnabled(false);
    EXPECT_FALSE(button->isEnabled());
    action.setVisible(false);
    EXPECT_TRUE(button->isHidden());
    EXPECT_TRUE(panel.NeedsArrange());
    action.SetEnabled(true);
    action.setVisible(true);
    button->Click();
    EXPECT_EQ(runs, 1);
    // A mouse click ends in the same place, with errors in the error display.
    panel.show();
    panel.ArrangeButtons();
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(runs, 2);
}

TEST(ButtonBarScreenshot, SavedWhereTheEnvironmentSays)
{
    const QString path = qEnvironmentVariable("BUTTON_BAR_SCREENSHOT");
    if (path.isEmpty())
        GTEST_SKIP() << "BUTTON_BAR_SCREENSHOT is not set";
    SetScreenColorDepth(32);
    QWidget window;
    window.resize(560, 150);
    auto* layout = new QGridLayout(&window);
    auto* bar = new TSPanel(&window);
    bar->SetButtonArrange(baTwoSideOrder);
    bar->SetCaption("Справочник товаров");
    bar->SetBorderWidth(1);
    TSButton* normal = AddButton(*bar, "&Добавить");
    TSButton* hover = AddButton(*bar, "Изменить");
    TSButton* down = AddButton(*bar, "Группа");
    down->SetGroupIndex(1);
    down->setChecked(true);
    TSButton* disabled = AddButton(*bar, "Удалить");
    disabled->setEnabled(false);
    AddButton(*bar, "Закрыть", akRight | akTop);
    layout->addWidget(bar, 0, 0, 1, 2);
    // A column of buttons beside a multi-line bar.
    auto* column = new TSPanel(&window);
    column->SetButtonArrange(baLineOrder);
    column->SetOrientation(spoVertical);
    column->SetInColumnHeight(24);
    column->SetBevelOuter(bvLowered);
    column->setFixedWidth(110);
    for (const char* text : {"Сумма", "Количество", "Фильтр"})
        AddButton(*column, QString::fromUtf8(text));
    layout->addWidget(column, 1, 0, Qt::AlignTop);
    auto* lines = new TSPanel(&window);
    lines->SetButtonArrange(baLineOrder);
    lines->SetMultiLine(true);
    for (const char* text : {"Первая", "Вторая", "Третья", "Четвёртая", "Пятая", "Шестая", "Седьмая"})
        AddButton(*lines, QString::fromUtf8(text));
    layout->addWidget(lines, 1, 1, Qt::AlignTop);
    layout->setColumnStretch(1, 1);
    layout->setRowStretch(2, 1);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::processEvents();
    // The mouse over one button.
    QTest::mouseMove(hover, hover->rect().center());
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(hover, &enter);
    QApplication::processEvents();
    (void)normal;
    ASSERT_TRUE(window.grab().save(path)) << path.toStdString();
}

} // namespace
