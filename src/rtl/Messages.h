// Window messages posted to a form of this process: a posted custom event
// that the form's message handler receives from the event loop.
#pragma once

#include <QEvent>
#include <cstdint>

class QObject;

inline constexpr unsigned WM_USER = 0x0400;

struct TMessage
{
    unsigned Msg = 0;
    intptr_t WParam = 0;
    intptr_t LParam = 0;
    intptr_t Result = 0;
};

class TMessageEvent : public QEvent
{
public:
    explicit TMessageEvent(const TMessage& message);
    static QEvent::Type EventType();
    const TMessage& Message() const { return FMessage; }

private:
    TMessage FMessage;
};

// Queues the message for target; it is delivered from the event loop.
void PostMessage(QObject* target, unsigned msg, intptr_t wParam = 0, intptr_t lParam = 0);
