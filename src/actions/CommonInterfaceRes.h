// The action module: the one catalogue of the framework's 56 actions in four
// categories ("TarvoService", "TarvoAppService", "TarvoSysService", "Edit"),
// their images and the text editors' popup menu. One exists per process,
// between CreateCommonInterface and FreeCommonInterface (or the life of a
// TCommonInterfaceScope), after the application object exists; while it
// does, its service actions are published to the framework's controls
// (ServiceActions.h).
//
// Action states follow the focus: they are updated when the focus moves,
// and (once events have been processed) when the focused control's data
// set changes state, scrolls, changes or its marks change. Every action
// checks its state again right before it runs.
#pragma once

#include <QIcon>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <memory>

class QMenu;
class TAction;
class TActionStateWatch;

// One row of the catalogue: the module's stored values of an action.
struct TActionEntry
{
    const char* Name;      // component name, "RecordMarkAction1"
    const char* ClassName; // "TRecordMarkAction"
    const char* Category;
    const char* Caption;
    const char* Hint; // null: the caption; "": none
    uint16_t ShortCut;
    int ImageIndex; // -1: none
};

// The catalogue in the module's order.
const QList<TActionEntry>& ActionCatalogue();
// Sets an action's caption, hint and shortcut to the first catalogue row of
// its class: what a constructor gives before the module applies its values.
void ApplyClassDefaults(TAction& action, const QString& className);
// The pictures the catalogue's image indexes point at, from the Adwaita icon
// theme (a style's standard icon where the theme lacks one); an index without
// a picture is a null icon. Needs the application object.
QList<QIcon> CreateActionImageList();

class TI : public QObject
{
    Q_OBJECT
public:
    TI();
    ~TI() override;

    // The images the actions' indexes point at; an index without a picture is a null icon.
    const QList<QIcon>& ImageList() const { return FImageList; }
    // All 56 actions in the catalogue's order.
    const QList<TAction*>& Actions() const { return FActions; }
    // The action of a component name ("FindAction1"), or null.
    TAction* Action(const QString& name) const;
    QMenu* SysEditPopupMenu() const { return FSysEditPopupMenu.get(); }

    // The widget the popup menu was last opened on.
    QWidget* PopupComponent() const { return FPopupComponent; }
    void SetPopupComponent(QWidget* component) { FPopupComponent = component; }
    // Opens the popup menu for a text edit. While the module exists, a
    // right-click in a data-aware edit or a grid's in-place text editor opens
    // it (unless the edit's form chose another context menu policy).
    void PopupFor(QWidget* edit, const QPoint& globalPos);
    // The popup's copy and paste: the popup component's selected text to the
    // clipboard (nothing when none is selected), and the clipboard's text
    // into it (only when it may be written). A component that is no text
    // edit raises.
    void mCopyPopupMenuClick();
    void mPastePopupMenuClick();

    // Updates the states of all actions from the focused control.
    void UpdateActions();
    // Gives a window the actions' live keys: those of the application and
    // record services. The text-edit actions and the clipboard's paste are
    // left to the text edits, which have the same keys of their own, and a
    // key that two actions share is never live (Qt would fire neither). The
    // framework grid's keys stay the grid's when it has the focus.
    void AttachShortcuts(QWidget* window);

private:
    void CreateActions();
    void CreatePopupMenu();

    QList<QIcon> FImageList;
    QList<TAction*> FActions; // children of this module
    std::unique_ptr<QMenu> FSysEditPopupMenu;
    QPointer<QWidget> FPopupComponent;
    std::unique_ptr<TActionStateWatch> FStateWatch;
    std::unique_ptr<QObject> FGridKeys;
    std::unique_ptr<QObject> FEditPopups; // the text edits' popup menu on right-click
};

// The module; null outside its life.
TI* I();
// Creates the module (once; a second call does nothing): picks the marked
// row colour by the screen's depth, sets the grid search key, creates the
// actions and publishes them. Needs the application object.
void CreateCommonInterface();
// Clears the published values and frees the module.
void FreeCommonInterface();

// The module for the life of a scope (a program's main).
class TCommonInterfaceScope
{
public:
    TCommonInterfaceScope() { CreateCommonInterface(); }
    ~TCommonInterfaceScope() { FreeCommonInterface(); }
    TCommonInterfaceScope(const TCommonInterfaceScope&) = delete;
    TCommonInterfaceScope& operator=(const TCommonInterfaceScope&) = delete;
};
