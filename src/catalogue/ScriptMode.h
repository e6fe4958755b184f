// The catalogue driven from standard input, for tests and demonstrations:
// one command a line, one answer a line on standard output ("ok ..." or
// "error ..."). The commands do what a user does in the main window, on its
// grid and data set; every question the program asks is recorded and
// answered as the script said beforehand (answer), else with its Escape
// answer. The commands:
//   group ID             show a group's items (0: the top level)
//   goto ID [FIELD]      move to the item in the grid, to its name's cell or the field's
//   edit | post | cancel start editing the item (under its record lock), post, cancel
//   append               start a new item in the group shown
//   delete               delete the item (under its record lock)
//   rows                 how many items the grid shows
//   current              the code of the item the grid stands on
//   set FIELD TEXT       type a value into a field of the record being edited
//   state                the data set's state: browse, edit, insert
//   cell ID FIELD        the text the grid shows for an item's field
//   mark ID              mark an item (the grid's mark key)
//   key KEYS             a key pressed in the grid, as Qt names it ("Return", "Shift+F3")
//   tree                 the group the tree has selected
//   filter FIELD LO HI   show only items whose field lies between LO and HI
//   answer yes|no|ok|cancel   the answer to the next question
//   questions            the questions asked so far, " | " between them
//   service-menu         the items the menu bar's "Сервис" shows, " | " between them
//   notices              how many change notices of other users were read in
//   picture-question FILE the next question is shown as a message box over
//                        the window and saved as a picture before it is answered
//   shot FILE            the main window as a picture
//   documents [FILE]     the documents window (saved as a picture)
//   delete-document ID   delete a document and its lines, asked first
//   quit
// Line breaks inside answers are written as "\n".
#pragma once

#include "Dialogs.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <deque>

class QSocketNotifier;
class TCatalogueForm;

// The questions of a scripted run: recorded, answered as the script says.
class TScriptDialogs : public TDialogBackend
{
public:
    TModalResult ShowMessageBox(const TMessageRequest& request) override;
    bool InputQuery(const QString& caption, const QString& prompt, QString& value) override;
    void Beep() override {}

    QStringList Questions;
    std::deque<TModalResult> Answers;
    // Where the next question is saved as a picture over this window.
    QString PictureFile;
    QPointer<QWidget> Window;
};

class TScriptMode : public QObject
{
    Q_OBJECT
public:
    // The form must outlive the script; dialogs is the installed backend.
    TScriptMode(TCatalogueForm& form, TScriptDialogs& dialogs, QObject* parent = nullptr);

    // Runs one command line and returns its answer line.
    QString Run(const QString& line);

private:
    void ReadInput();
    QString Command(const QString& verb, const QStringList& words, const QString& rest);

    TCatalogueForm& FForm;
    TScriptDialogs& FDialogs;
    QSocketNotifier* FInput;
    QByteArray FPending;
};

// A line break written as "\n", so that one answer stays on one line.
QString OneLine(QString text);
