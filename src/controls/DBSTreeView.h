// A tree view over a data set whose records form a tree through an identifier
// field and a parent identifier field (SYS$ID and SYS$PID in the framework's
// levelled data sets). The nodes are read a level at a time when a node
// opens, straight from the data set's rows through an index over the parent
// field: the tree holds for each node only the record's row and identifiers,
// never a copy of the table, and reads captions when they are painted.
//
// Selecting a node positions the data set on its record. The top item stands
// for RootNodeID (0 after construction): records whose parent identifier is
// RootNodeID, or null when it is 0, are its children. A record whose
// identifier is null, or already on the path from the top item down to it,
// is left out: opening every node always ends.
//
// The tree reads the rows of a TSDS; other data sets show the top item alone.
// Rows deleted after their node was read show an empty caption until the
// node is opened again (each opening reads its children anew).
#pragma once

#include <QPointer>
#include <QTreeView>
#include <cstdint>
#include <memory>

class TDataSource;
class TDBSTreeModel;
class TFieldDataLink;

class TDBSTreeView : public QTreeView
{
    Q_OBJECT
public:
    explicit TDBSTreeView(QWidget* parent = nullptr);
    ~TDBSTreeView() override;

    // The field whose text is each node's caption.
    QString DataField() const;
    void SetDataField(const QString& name);
    TDataSource* DataSource() const;
    void SetDataSource(TDataSource* source);
    // Names of the integer identifier and parent identifier fields.
    QString IDNode() const { return FIDNode; }
    void SetIDNode(const QString& name) { FIDNode = name; }
    QString IDParentNode() const { return FIDParentNode; }
    void SetIDParentNode(const QString& name) { FIDParentNode = name; }
    // Stored with the form only.
    QString ViewField() const { return FViewField; }
    void SetViewField(const QString& name) { FViewField = name; }
    int32_t RootNodeID() const { return FRootNodeID; }
    void SetRootNodeID(int32_t id) { FRootNodeID = id; }
    // Whether selecting a node moves the data set (on after construction).
    bool PositionsDataSet() const { return FPositionsDataSet; }
    void SetPositionsDataSet(bool value) { FPositionsDataSet = value; }
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value) { FReadOnly = value; }

    // Rebuilds the tree: the top item with this caption, its children read
    // and shown.
    void BuildTree(const QString& rootCaption);
    // Reads the children of a node again.
    void LoadChildren(const QModelIndex& node);
    // Opens every node, reading each level once.
    void FullExpand();

    // The identifiers of a node: the record's and its parent's (RootNodeID
    // twice for the top item); false for no node.
    bool NodeKey(const QModelIndex& node, int32_t& id, int32_t& parentId) const;
    // The identifier of the selected node; false when none is selected.
    bool SelectedID(int32_t& id) const;
    QString NodeCaption(const QModelIndex& node) const;

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    friend class TDBSTreeModel;
    // Moves the data set to the record of a node (nothing for the top item).
    void PositionDataSet(const QModelIndex& node);
    void NodeExpanded(const QModelIndex& node);
    void NodeCollapsed(const QModelIndex& node);

    std::unique_ptr<TFieldDataLink> FDataLink;
    std::unique_ptr<TDBSTreeModel> FModel;
    QPointer<TDataSource> FDataSource;
    QString FIDNode = QStringLiteral("SYS$ID");
    QString FIDParentNode = QStringLiteral("SYS$PID");
    QString FViewField;
    int32_t FRootNodeID = 0;
    bool FReadOnly = false;
    bool FPositionsDataSet = true;
};
