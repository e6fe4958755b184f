// The level choice: the group records of a levelled data set as a tree, one
// of which the user picks as the new parent of records. The form reads the
// caller's rows through a data set of its own attached to them, shows only
// groups (leaves are filtered out) and never moves the caller's cursor.
#pragma once

#include "Forms.h"

#include <cstdint>

class QPushButton;
class QWidget;
class TDataSet;
class TDBSTreeView;
class TField;
class TSDataSource;
class TSDS;

class TfrmLevelChoice : public TForm
{
    Q_OBJECT
public:
    explicit TfrmLevelChoice(QWidget* parent = nullptr);
    ~TfrmLevelChoice() override;

    TDBSTreeView* TreeView;
    QWidget* Panel1;
    QPushButton* Ok;
    QPushButton* btnCancel;
    TSDataSource* DataSource;
    TSDS* sdsLeveledStructure;

    // The identifier of the chosen node, set by OkClick (the top item: 0).
    int32_t ChosenID() const { return FChosenID; }
    void OkClick();
    // Groups only: the possible parents.
    void sdsLeveledStructureFilterRecord(TDataSet* dataSet, bool& accept);

    // Prepares the tree over the rows of data: attached to them (or to their
    // master's), the caption field chosen, groups only, every node open.
    // False, after the error box, when data has no field to show.
    bool Prepare(TSDS& data);

private:
    int32_t FChosenID = 0;
};

// The field whose text names a group: NAME, else KNAME, else the first
// string field longer than 10 characters with a display label of its own,
// else the first string field; none without one.
TField* LevelCaptionField(const TDataSet& data);

// Lets the user choose a new parent for records of data; true with the
// chosen identifier on OK, false on Cancel or when nothing can be shown.
bool ChooseLevel(TSDS& data, int32_t& chosenId, QWidget* owner = nullptr);
