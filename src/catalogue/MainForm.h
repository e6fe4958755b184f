// The catalogue's main window: the tree of goods groups beside the framework
// grid of the chosen group's items. Everything the grid offers (its service
// menu, filters, marks, group operations, the calculator, record attributes,
// print preview, export) is reached through the grid's keys and menu and
// through the menu bar and toolbar, which carry the framework's actions.
// Changes other users post arrive as change notices and are brought into
// the grid while it browses.
#pragma once

#include "SignInDialog.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>

class QLabel;
class QMenu;
class QTimer;
class TDBSGridEx;
class TDBSTreeView;
class TDocumentForm;
class TIBTransaction;
class TSDS;
class TSDataSource;
class TSDatabase;

class TCatalogueForm : public QMainWindow
{
    Q_OBJECT
public:
    // The database must be connected, its user signed in (CurrentUserID set)
    // and must outlive the form.
    TCatalogueForm(TSDatabase& database, TCatalogueUser user, QWidget* parent = nullptr);
    ~TCatalogueForm() override;

    TSDS* Items() const { return FItems.get(); }
    TSDataSource* ItemsSource() const { return FItemsSource; }
    TDBSGridEx* Grid() const { return FGrid; }
    TDBSTreeView* Tree() const { return FTree; }
    const TCatalogueUser& User() const { return FUser; }
    // The menu bar's "Сервис": the grid's service menu and the calculator.
    QMenu* ServiceMenu() const { return FServiceMenu; }

    // Shows the items of a group in the grid (0: the top level) and selects
    // its node in the tree.
    void ShowGroup(int32_t groupId);
    // Takes the change notices that arrived; a change of the goods is read
    // into the grid as soon as it browses. Runs on a timer.
    void TakeChangeNotices();
    // How many notices of other users' changes of the goods were read in.
    int NoticesApplied() const { return FNoticesApplied; }
    // Opens the documents window (one per main window).
    TDocumentForm* ShowDocuments();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void OpenData();
    void BuildGrid();
    void BuildMenus();
    void ConnectActions();
    void TreeNodeChosen();
    // The tree shows the group the grid shows.
    void FollowGridLevel();
    bool SelectTreeNode(int32_t groupId);
    void ReadOtherUsersChanges();
    void ExportGrid();
    void UpdateStatus();
    double ServerTime();

    TSDatabase& FDatabase;
    TCatalogueUser FUser;
    std::unique_ptr<TIBTransaction> FTransaction;
    std::unique_ptr<TSDS> FItems;
    std::unique_ptr<TSDS> FGroups;
    TSDataSource* FItemsSource;
    TSDataSource* FGroupsSource;
    TDBSTreeView* FTree;
    TDBSGridEx* FGrid;
    QLabel* FUserLabel;
    QLabel* FCountLabel;
    QLabel* FNoticeLabel;
    QTimer* FNoticeTimer;
    QMenu* FServiceMenu = nullptr;
    QPointer<TDocumentForm> FDocuments;
    bool FFollowingGrid = false;
    bool FChangesWaiting = false;
    bool FStructureChanged = false;
    int FNoticesApplied = 0;
    // Rows changed on the server since this time are read again.
    double FReadSince = 0;
};
