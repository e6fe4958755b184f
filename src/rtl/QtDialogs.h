// The dialog facade's backend on Qt Widgets: message boxes with the system's
// Russian button texts and an input dialog. TApplication installs it.
#pragma once

#include "Dialogs.h"

#include <memory>

std::unique_ptr<TDialogBackend> MakeQtDialogs();
