// How the framework's actions find their targets among the widgets. An
// action is offered to the focused control, then to its form, then to the
// form's visible controls in child order (depth first, as Qt forms nest
// their controls in frames and splitters); the first that accepts it is
// updated or executed. A framework grid answers the update itself
// (UpdateAction) and otherwise offers the action only to its data source; a
// data-aware edit offers it to itself, then to its data source.
#pragma once

class QWidget;
class TAction;
class TDBSGridEx;

// The control that has the focus, where a framework grid stands for its own
// in-place editor; none without an active window.
QWidget* FocusedControl();
// The framework grid that has the focus (or whose editor has it).
TDBSGridEx* FocusedGrid();

// Offers the action along the route; true when a candidate accepted it.
bool RouteAction(TAction& action, bool execute);

// Makes RouteAction the route of every TAction (TAction::SetRoute).
void InstallActionRoute();
