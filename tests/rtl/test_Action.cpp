#include "Action.h"
#include "Dialogs.h"
#include "Exceptions.h"

#include <QKeyEvent>
#include <QMenu>
#include <QStyleOptionMenuItem>

#include <gtest/gtest.h>

namespace {

// The key name a menu shows right of an action's caption.
QString MenuKeyText(QAction& action)
{
    struct TMenu : QMenu
    {
        using QMenu::initStyleOption;
    } menu;
    menu.addAction(&action);
    QStyleOptionMenuItem option;
    menu.initStyleOption(&option, &action);
    return option.text.section(QLatin1Char('\t'), 1);
}

} // namespace

TEST(ActionShortCut, CodesConvertToKeysAndBack)
{
    const struct
    {
        TShortCut code;
        QKeyCombination key;
        const char* text;
    } cases[] = {
        {8306, Qt::SHIFT | Qt::Key_F3, "Shift+F3"},
        {16498, Qt::CTRL | Qt::Key_F3, "Ctrl+F3"},
        {24691, Qt::CTRL | Qt::SHIFT | Qt::Key_F4, "Ctrl+Shift+F4"},
        {16430, Qt::CTRL | Qt::Key_Delete, "Ctrl+Del"},
        {45, QKeyCombination(Qt::Key_Insert), "Ins"},
        {8237, Qt::SHIFT | Qt::Key_Insert, "Shift+Ins"},
        {16491, QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_Plus), "Ctrl+Num +"},
        {16393, Qt::CTRL | Qt::Key_Tab, "Ctrl+Tab"},
        {32880, Qt::ALT | Qt::Key_F1, "Alt+F1"},
        {32776, Qt::ALT | Qt::Key_Backspace, "Alt+Backspace"},
        {16472, Qt::CTRL | Qt::Key_X, "Ctrl+X"},
        {24699, Qt::CTRL | Qt::SHIFT | Qt::Key_F12, "Ctrl+Shift+F12"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ShortCutToKey(c.code), c.key) << c.code;
        EXPECT_EQ(KeyToShortCut(c.key), c.code) << c.text;
        EXPECT_EQ(ShortCutToText(c.code), QLatin1String(c.text)) << c.code;
        // A menu shows the same name, whether the key is live or only named.
        TAction action;
        action.SetCaption(QStringLiteral("Действие"));
        action.SetShortCut(c.code);
        EXPECT_EQ(MenuKeyText(action), QLatin1String(c.text)) << c.code;
        EXPECT_EQ(action.shortcut(), QKeySequence(c.key)) << c.code;
        action.SetLiveShortCut(false);
        EXPECT_EQ(MenuKeyText(action), QLatin1String(c.text)) << c.code;
        EXPECT_TRUE(action.shortcut().isEmpty()) << c.code;
    }
    EXPECT_EQ(ShortCutToKey(0), QKeyCombination());
    EXPECT_EQ(ShortCutToText(0), QString());
}

TEST(ActionShortCut, TheKeypadIsToldFromTheMainRow)
{
    const QKeyEvent keypadPlus(QEvent::KeyPress, Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier, "+");
    const QKeyEvent mainPlus(QEvent::KeyPress, Qt::Key_Plus, Qt::ControlModifier, "+");
    EXPECT_EQ(ShortCutOfKeyEvent(keypadPlus), 16491);
    EXPECT_NE(ShortCutOfKeyEvent(mainPlus), 16491);
    // The keypad's Enter is the same key as Return.
    EXPECT_EQ(KeyToShortCut(QKeyCombination(Qt::KeypadModifier, Qt::Key_Enter)), VK::Return);
}

// A menu item, a button or a key runs an action through Qt's signal; what the
// action throws is shown there and never unwinds through Qt's frames.
TEST(ActionExecute, AnErrorIsShownWhereQtRunsTheAction)
{
    TScriptedDialogsGuard dialogs;
    TAction action(nullptr);
    int runs = 0;
    action.OnExecute = [&](TAction&) {
        ++runs;
        if (runs == 1)
            throw Exception(QStringLiteral("Нельзя"));
        Abort();
    };
    action.trigger();
    action.trigger();
    EXPECT_EQ(runs, 2);
    ASSERT_EQ(dialogs->Messages.size(), 1u) << "EAbort shows nothing";
    EXPECT_EQ(dialogs->Messages[0].Text, QStringLiteral("Нельзя."));
    EXPECT_EQ(dialogs->Messages[0].Icon, TMsgIcon::Stop);
}
