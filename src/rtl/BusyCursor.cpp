#include "BusyCursor.h"

#include <QCursor>
#include <QGuiApplication>

TBusyCursor::TBusyCursor()
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        FShown = true;
    }
}

TBusyCursor::~TBusyCursor()
{
    if (FShown)
        QGuiApplication::restoreOverrideCursor();
}
