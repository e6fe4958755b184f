// Closing a window while one of its records is still being edited: the
// question an editor asks before it closes a changed document.
#pragma once

#include <QString>

class TDataSet;

// "Сохранить изменения?" with Yes (post), No (discard) and Cancel (stay).
QString PendingEditQuestion();

// Settles an edit or insert the data set still has before its window
// closes; returns whether the window may close. An unchanged edit is
// cancelled without a word; a changed one is posted (Yes), cancelled (No), or
// kept with the window open (Cancel). With nobody at the screen
// (TApplication::Interactive() false) the edit is posted without a
// question: what was typed is not lost. A post the data set refuses raises,
// and the edit stays as it was.
bool ResolvePendingEdit(TDataSet& dataSet);
