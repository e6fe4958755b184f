#include "Action.h"

#include "Exceptions.h"

#include <QKeyEvent>
#include <QKeySequence>

namespace {

struct TKeyName
{
    uint8_t Code;
    Qt::Key Key;
    bool Keypad;
};

// Keys whose virtual code is not their Qt key's own value.
constexpr TKeyName KeyTable[] = {
    {VK::Back, Qt::Key_Backspace, false},   {VK::Tab, Qt::Key_Tab, false},       {VK::Return, Qt::Key_Return, false},
    {VK::Escape, Qt::Key_Escape, false},    {VK::Space, Qt::Key_Space, false},   {VK::Prior, Qt::Key_PageUp, false},
    {VK::Next, Qt::Key_PageDown, false},    {VK::End, Qt::Key_End, false},       {VK::Home, Qt::Key_Home, false},
    {VK::Left, Qt::Key_Left, false},        {VK::Up, Qt::Key_Up, false},         {VK::Right, Qt::Key_Right, false},
    {VK::Down, Qt::Key_Down, false},        {VK::Insert, Qt::Key_Insert, false}, {VK::Delete, Qt::Key_Delete, false},
    {VK::Multiply, Qt::Key_Asterisk, true}, {VK::Add, Qt::Key_Plus, true},       {VK::Separator, Qt::Key_Comma, true},
    {VK::Subtract, Qt::Key_Minus, true},    {VK::Decimal, Qt::Key_Period, true}, {VK::Divide, Qt::Key_Slash, true},
};

bool IsLetterOrDigit(uint8_t code) { return (code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z'); }

} // namespace

QKeyCombination ShortCutToKey(TShortCut shortCut)
{
    const uint8_t code = shortCut & 0xFF;
    Qt::KeyboardModifiers modifiers;
    if (shortCut & scShift)
        modifiers |= Qt::ShiftModifier;
    if (shortCut & scCtrl)
        modifiers |= Qt::ControlModifier;
    if (shortCut & scAlt)
        modifiers |= Qt::AltModifier;
    if (IsLetterOrDigit(code))
        return QKeyCombination(modifiers, Qt::Key(code));
    if (code >= VK::F1 && code <= VK::F24)
        return QKeyCombination(modifiers, Qt::Key(Qt::Key_F1 + (code - VK::F1)));
    if (code >= VK::Numpad0 && code <= VK::Numpad0 + 9)
        return QKeyCombination(modifiers | Qt::KeypadModifier, Qt::Key(Qt::Key_0 + (code - VK::Numpad0)));
    for (const TKeyName& name : KeyTable)
        if (name.Code == code)
            return QKeyCombination(name.Keypad ? modifiers | Qt::KeypadModifier : modifiers, name.Key);
    return QKeyCombination();
}

TShortCut KeyToShortCut(QKeyCombination key)
{
    const Qt::KeyboardModifiers modifiers = key.keyboardModifiers();
    const bool keypad = modifiers & Qt::KeypadModifier;
    const int qtKey = key.key();
    int code = 0;
    if (keypad && qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        code = VK::Numpad0 + (qtKey - Qt::Key_0);
    else if ((qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z))
        code = qtKey;
    else if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        code = VK::F1 + (qtKey - Qt::Key_F1);
    else if (qtKey == Qt::Key_Enter)
        code = VK::Return;
    else if (qtKey == Qt::Key_Backtab)
        code = VK::Tab;
    else
        for (const TKeyName& name : KeyTable)
            if (name.Key == qtKey && name.Keypad == keypad) {
                code = name.Code;
                break;
            }
    if (code == 0)
        return 0;
    TShortCut shortCut = TShortCut(code);
    if (modifiers & Qt::ShiftModifier)
        shortCut |= scShift;
    if (modifiers & Qt::ControlModifier)
        shortCut |= scCtrl;
    if (modifiers & Qt::AltModifier)
        shortCut |= scAlt;
    return shortCut;
}

TShortCut ShortCutOfKeyEvent(const QKeyEvent& event) { return KeyToShortCut(event.keyCombination()); }

QString ShortCutToText(TShortCut shortCut)
{
    const QKeyCombination key = ShortCutToKey(shortCut);
    if (key == QKeyCombination())
        return QString();
    // QKeySequence names the keypad "Num+"; keep a blank as the menus of the system always had.
    QString text = QKeySequence(key).toString(QKeySequence::NativeText);
    text.replace(QLatin1String("Num+"), QLatin1String("Num "));
    return text;
}

namespace {

TAction::TRoute& Route()
{
    static TAction::TRoute route;
    return route;
}

} // namespace

TAction::TAction(QObject* owner) : QAction(owner)
{
    // Every way of running an action (menu item, button, key) checks its
    // state afresh; its error ends here, shown, and never unwinds through Qt.
    connect(this, &QAction::triggered, this, [this] { HandleExceptions([this] { Execute(); }); });
}

void TAction::SetRoute(TRoute route) { Route() = std::move(route); }

void TAction::SetCaption(const QString& caption)
{
    FCaption = caption;
    ShowShortCut();
}

void TAction::SetHint(const QString& hint)
{
    FHint = hint;
    setStatusTip(hint);
    setToolTip(hint);
}

void TAction::SetShortCut(TShortCut shortCut)
{
    FShortCut = shortCut;
    ShowShortCut();
}

void TAction::SetLiveShortCut(bool live)
{
    FLiveShortCut = live;
    ShowShortCut();
}

void TAction::ShowShortCut()
{
    const QKeySequence key = FLiveShortCut ? QKeySequence(ShortCutToKey(FShortCut)) : QKeySequence();
    setShortcut(key);
    // A menu names a live key as Qt does ("Ctrl+Num++" for the keypad's plus)
    // unless the text names it after a tab: that is how a key Qt names
    // otherwise than the system, or a key that is not live, reads as ours.
    const QString keyName = ShortCutToText(FShortCut);
    const bool ownName = !keyName.isEmpty() && keyName != key.toString(QKeySequence::NativeText);
    setText(ownName ? FCaption + QLatin1Char('\t') + keyName : FCaption);
    setIconText(ownName ? FCaption : QString());
}

bool TAction::Update()
{
    const bool handled = Route() && Route()(*this, false);
    if (!handled)
        setEnabled(bool(OnExecute));
    return handled;
}

bool TAction::Execute()
{
    Update();
    if (!isEnabled())
        return false;
    if (OnExecute) {
        OnExecute(*this);
        return true;
    }
    return Route() && Route()(*this, true);
}

bool TAction::HandlesTarget(QObject*) { return false; }

void TAction::UpdateTarget(QObject*) {}

void TAction::ExecuteTarget(QObject*) {}
