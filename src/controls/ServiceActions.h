// What the action module publishes for the framework's controls: the service
// actions whose shortcuts are the framework grid's keys and from which it
// builds its menu, the text editors' popup menu, the colour of marked rows
// and whether the screen has more than 256 colours. The action module fills
// them once the application exists and clears them before it goes; until
// then every action pointer is null and the controls leave those services
// out. The actions belong to the module, never to a reader.
#pragma once

#include <QColor>
#include <QIcon>
#include <QList>

class QMenu;
class TAction;

struct TServiceActions
{
    TAction* RecordMarkAction1 = nullptr;
    TAction* RecordMarkAllAction1 = nullptr;
    TAction* RecordMarkGroupAction1 = nullptr;
    TAction* FindAction1 = nullptr;
    TAction* SumAction1 = nullptr;
    TAction* RecordCountAction1 = nullptr;
    TAction* GroupDeleteAction1 = nullptr;
    TAction* GroupReplaceAction1 = nullptr;
    TAction* GroupFillAction1 = nullptr;
    TAction* GroupAddAction1 = nullptr;
    TAction* GroupMulAction1 = nullptr;
    TAction* FilterAction1 = nullptr;
    TAction* FilterCancelAction1 = nullptr;
    TAction* SortAction1 = nullptr;
    TAction* SortCancelAction1 = nullptr;
    TAction* RecordEditAction1 = nullptr;
    TAction* RecordPostAction1 = nullptr;
    TAction* RecordInsertAction1 = nullptr;
    TAction* RecordDeleteAction1 = nullptr;
    TAction* RecordDoubleFieldAction1 = nullptr;
    TAction* RecordDoubleRecordAction1 = nullptr;
    TAction* RecordAttributesAction1 = nullptr;
    TAction* StdPrintAction1 = nullptr;
    TAction* StdExcelAction1 = nullptr;
    TAction* GridCustomizeAction1 = nullptr;
    TAction* CallRefAction1 = nullptr;
    TAction* TougleLevelsAction1 = nullptr;
    TAction* REditCopy1 = nullptr;
    TAction* REditPaste1 = nullptr;
    QMenu* SysEditPopupMenu = nullptr;
};

const TServiceActions& ServiceActions();
// The action module's start-up and end (an empty set clears them).
void PublishServiceActions(const TServiceActions& actions);

// The background of marked rows: pale green on a high-colour screen, pure
// green on a 256-colour one.
QColor MarkedRowColor();
bool HighColorScreen();
// Set from the screen's depth by the action module's start-up.
void SetScreenColorDepth(int bitsPerPixel);

// The action module's pictures, by image index (what a menu of the actions
// shows); null while the module does not exist.
const QList<QIcon>* ActionImageList();
void PublishActionImages(const QList<QIcon>* images);
