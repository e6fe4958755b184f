// The record attributes form: the owner, kind (group or leaf) and deleted
// mark of the current record of a framework data set, its identifier and last
// change; from it the record, or every marked record, moves under another
// group.
//
// The form remembers which record it was opened for and writes only into
// that one: after a move has taken the record out of the level on show, OK
// goes back to it, and says so and writes nothing when it is gone. A move
// never goes under the record itself or one of its descendants, a group
// with children never becomes a leaf, and a record the user is editing is
// posted with all its checks before it moves.
#pragma once

#include "Forms.h"

#include <QVariant>
#include <cstdint>
#include <functional>
#include <vector>

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QRadioButton;
class TSButton;
class TSDataSource;
class TSDS;

class TfrmRecordAttrs : public TForm
{
    Q_OBJECT
public:
    explicit TfrmRecordAttrs(QWidget* parent = nullptr);

    QLabel* Label1;
    QLabel* lblOwner;
    TSButton* btnChangeUser;
    QLabel* lblSYS_TIME;
    QLabel* Label2;
    QRadioButton* rbLevelRecord;
    QRadioButton* rgListRecord;
    TSButton* btnCallMenu;
    QCheckBox* chDeletedRecord;
    TSButton* SButton2;
    QLabel* lblID;
    QPushButton* btnSubjects;
    QPushButton* btnOk;
    QPushButton* btnCancel;
    QMenu* pmChangeLevel;
    QAction* mChangeParentOne;
    QAction* mChangeParentMany;
    QFrame* Bevel1;
    QFrame* Bevel2;
    QFrame* Bevel3;

    uint16_t OwnerNumber = 0;
    TSDataSource* SourceDataSource = nullptr;

    // Shows the current record of source (false, and nothing shown, when it
    // is not a TSDS with SYS$STATE in browse, edit or insert state).
    bool Load(TSDataSource* source);
    // What OK does: writes the changed bits into the record the form was
    // opened for. False when nothing was written because the change was
    // refused or the record is gone (the user was told).
    bool Apply();

    void btnChangeUserClick();
    void SButton2Click();
    void btnCallMenuClick();
    void lblIDDblClick();
    void btnSubjectsClick();
    // Moves the current record (Sender = mChangeParentOne) or the marked
    // records (mChangeParentMany) under the group the user chooses.
    void mChangeParentOneClick(QAction* sender);

    // How the new parent is chosen (the level choice form unless replaced).
    static std::function<bool(TSDS& data, int32_t& chosenId, QWidget* owner)>& ChooseParent();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TSDS* Data() const;
    // Moves the records with these identifiers; refused as a whole when the
    // parent is one of them or lies below one of them.
    void CheckNoCycle(const std::vector<int32_t>& ids, int32_t parentId);
    std::vector<int32_t> MarkedIDs();
    void MoveMarked(int32_t parentId);
    // Back on the record the form was opened for; false when it is gone.
    bool ReturnToRecord();

    int32_t FState = 0;
    QVariant FRecordID; // SYS$ID of the record shown; null without one
};

// The data source's record attributes hook.
void ShowRecordAttributesForm(TSDataSource* source);
