// The application's title: the caption of its messages and of the error
// display. Needs no GUI, so code below the forms may use it.
#pragma once

#include <QString>

// The default title: the executable's file name without its folder, cut
// before its first ".", every letter after the first in lower case.
QString DefaultApplicationTitle(const QString& executablePath);
// The running application's title (its set title, else the default).
QString ApplicationTitle();
// Sets the title; an empty title returns to the default.
void SetApplicationTitle(const QString& title);
