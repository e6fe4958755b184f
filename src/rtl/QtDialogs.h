// The dialog facade's backend on Qt Widgets: message boxes with the system's
// Russian button texts and an input dialog. TApplication installs it.
#pragma once

#include "Dialogs.h"

#include <memory>
#include <utility>
#include <vector>

class QAbstractButton;
class QMessageBox;
class QWidget;

std::unique_ptr<TDialogBackend> MakeQtDialogs();

// The message box these dialogs show for a request, a child of parent (null:
// a window of its own): the buttons in the system's order with their Russian
// texts, each paired with the button it answers; the first is the default,
// the request's Escape answer the escape button. Owned by the caller.
struct TQtMessageBox
{
    std::unique_ptr<QMessageBox> Box;
    std::vector<std::pair<QAbstractButton*, TMsgDlgBtn>> Buttons;
};
TQtMessageBox MakeQtMessageBox(const TMessageRequest& request, QWidget* parent);
