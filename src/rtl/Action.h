#pragma once
// The toolkit's action: a command with a caption, hint, shortcut, category
// and image that menus, buttons and keys share, on QAction. A target-aware
// action answers HandlesTarget/UpdateTarget/ExecuteTarget for the control or
// data source it is offered to; the widget layer's dispatch (the action
// route) decides the order of the candidates.
//
// Qt has no idle pass that refreshes actions, so Update() runs where the
// owner of the actions sees focus or data change, and Execute() runs it
// again first: a state computed for another control never lets an action
// run.

#include <QAction>
#include <QKeyCombination>

#include <cstdint>
#include <functional>

class QKeyEvent;

// A shortcut as a 16-bit code: the low byte is the virtual key code, plus
// 8192 for Shift, 16384 for Ctrl and 32768 for Alt; 0 is none.
using TShortCut = uint16_t;

constexpr TShortCut scShift = 0x2000;
constexpr TShortCut scCtrl = 0x4000;
constexpr TShortCut scAlt = 0x8000;

// Virtual key codes used in shortcuts (the keypad keys are their own codes).
namespace VK {
constexpr uint8_t Back = 0x08, Tab = 0x09, Return = 0x0D, Escape = 0x1B, Space = 0x20, Prior = 0x21, Next = 0x22,
                  End = 0x23, Home = 0x24, Left = 0x25, Up = 0x26, Right = 0x27, Down = 0x28, Insert = 0x2D,
                  Delete = 0x2E, Numpad0 = 0x60, Multiply = 0x6A, Add = 0x6B, Separator = 0x6C, Subtract = 0x6D,
                  Decimal = 0x6E, Divide = 0x6F, F1 = 0x70, F24 = 0x87;
} // namespace VK

// The key combination of a shortcut code, with Qt::KeypadModifier for the
// keypad keys; an empty combination for 0 or a key Qt cannot name.
QKeyCombination ShortCutToKey(TShortCut shortCut);
// The shortcut code of a key combination (0 when it has none).
TShortCut KeyToShortCut(QKeyCombination key);
// The shortcut code of a pressed key. The keypad is told by the event's own
// keypad modifier, so Ctrl with the keypad's + is not Ctrl with the main row's +.
TShortCut ShortCutOfKeyEvent(const QKeyEvent& event);
// "Ctrl+F3", "Shift+Ins", "Ctrl+Num +": the name a menu shows.
QString ShortCutToText(TShortCut shortCut);

class TAction : public QAction
{
    Q_OBJECT

public:
    explicit TAction(QObject* owner = nullptr);

    // The class's name as the catalogue gives it ("TRecordMarkAction").
    virtual QString ClassName() const { return QStringLiteral("TAction"); }

    QString Caption() const { return FCaption; }
    void SetCaption(const QString& caption);
    QString Hint() const { return FHint; }
    void SetHint(const QString& hint);
    TShortCut ShortCut() const { return FShortCut; }
    void SetShortCut(TShortCut shortCut);
    // Whether the shortcut is a live key of the QAction. An action whose code
    // another action already has keeps it (controls compare keys with it and
    // menus show it) but never registers it: Qt fires neither of two.
    bool LiveShortCut() const { return FLiveShortCut; }
    void SetLiveShortCut(bool live);
    QString Category() const { return FCategory; }
    void SetCategory(const QString& category) { FCategory = category; }
    int ImageIndex() const { return FImageIndex; }
    void SetImageIndex(int index) { FImageIndex = index; }
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool enabled) { setEnabled(enabled); }
    int HelpContext() const { return FHelpContext; }
    void SetHelpContext(int context) { FHelpContext = context; }

    // Whether this action works on the given target (a control or a data
    // source), whether it updates its state from it, and what it does to it.
    virtual bool HandlesTarget(QObject* target);
    virtual void UpdateTarget(QObject* target);
    virtual void ExecuteTarget(QObject* target);

    // Sets Enabled from the first candidate target that accepts the action;
    // when none does, the action is enabled only with an execute handler.
    // True when a candidate accepted it.
    bool Update();
    // Updates, then (when enabled) runs the execute handler or the first
    // accepting candidate's ExecuteTarget. False when nothing ran. Menus,
    // buttons and keys (triggered) come here.
    bool Execute();

    // The host's handler; an action with one runs it instead of looking for a target.
    std::function<void(TAction& action)> OnExecute;

    // How actions find their targets: offers the action to the candidates in
    // order, updating (execute false) or executing it on the first that
    // accepts. Installed by the widget layer; without one no target accepts.
    using TRoute = std::function<bool(TAction& action, bool execute)>;
    static void SetRoute(TRoute route);

private:
    void ShowShortCut();

    QString FCaption;
    QString FHint;
    TShortCut FShortCut = 0;
    QString FCategory;
    int FImageIndex = -1;
    int FHelpContext = 0;
    bool FLiveShortCut = true;
};
