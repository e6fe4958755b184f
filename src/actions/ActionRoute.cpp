#include "ActionRoute.h"

#include "Action.h"
#include "DBEdit.h"
#include "DBSGridEx.h"

#include <QApplication>

namespace {

TDBSGridEx* EnclosingGrid(QWidget* widget)
{
    for (QWidget* w = widget; w; w = w->parentWidget()) {
        if (auto* grid = qobject_cast<TDBSGridEx*>(w))
            return grid;
        if (w->isWindow())
            break;
    }
    return nullptr;
}

bool Offer(TAction& action, QObject* target, bool execute)
{
    if (!target || !action.HandlesTarget(target))
        return false;
    if (execute)
        action.ExecuteTarget(target);
    else
        action.UpdateTarget(target);
    return true;
}

bool OfferTo(TAction& action, QWidget* control, bool execute)
{
    if (auto* grid = qobject_cast<TDBSGridEx*>(control)) {
        if (!execute && grid->UpdateAction(action))
            return true;
        return Offer(action, grid->DataSource(), execute);
    }
    if (auto* edit = qobject_cast<TDBEdit*>(control))
        return Offer(action, edit, execute) || Offer(action, edit->DataSource(), execute);
    return Offer(action, control, execute);
}

bool OfferToVisibleChildren(TAction& action, QWidget* parent, bool execute)
{
    for (QObject* child : parent->children()) {
        auto* control = qobject_cast<QWidget*>(child);
        if (!control || control->isWindow() || !control->isVisible())
            continue;
        if (OfferTo(action, control, execute))
            return true;
        // A grid's inner widgets (viewport, editor, scroll bars) are the grid.
        if (!qobject_cast<TDBSGridEx*>(control) && OfferToVisibleChildren(action, control, execute))
            return true;
    }
    return false;
}

} // namespace

QWidget* FocusedControl()
{
    QWidget* focus = QApplication::focusWidget();
    if (!focus)
        return nullptr;
    if (TDBSGridEx* grid = EnclosingGrid(focus))
        return grid;
    return focus;
}

TDBSGridEx* FocusedGrid() { return qobject_cast<TDBSGridEx*>(FocusedControl()); }

bool RouteAction(TAction& action, bool execute)
{
    QWidget* focus = QApplication::focusWidget();
    QWidget* control = FocusedControl();
    QWidget* form = control ? control->window() : QApplication::activeWindow();
    if (!form)
        return false;
    auto* grid = qobject_cast<TDBSGridEx*>(control);
    if (grid && !execute && grid->UpdateAction(action))
        return true;
    // The text edit of a grid's editor comes before the grid's data source,
    // so the text-edit actions see it.
    if (focus && focus != control && Offer(action, focus, execute))
        return true;
    if (grid ? Offer(action, grid->DataSource(), execute) : control && OfferTo(action, control, execute))
        return true;
    if (Offer(action, form, execute))
        return true;
    return OfferToVisibleChildren(action, form, execute);
}

void InstallActionRoute() { TAction::SetRoute(&RouteAction); }
