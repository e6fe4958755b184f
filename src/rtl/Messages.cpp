#include "Messages.h"

#include <QCoreApplication>

TMessageEvent::TMessageEvent(const TMessage& message) : QEvent(EventType()), FMessage(message) {}

QEvent::Type TMessageEvent::EventType()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void PostMessage(QObject* target, unsigned msg, intptr_t wParam, intptr_t lParam)
{
    QCoreApplication::postEvent(target, new TMessageEvent({msg, wParam, lParam, 0}));
}
