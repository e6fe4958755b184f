#include "DBSTreeView.h"

#include "DataSource.h"
#include "Fields.h"
#include "SDS.h"

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QSet>
#include <algorithm>
#include <vector>

namespace {

// One node: the record's row and identifiers; its children once read.
struct TTreeNode
{
    int32_t ID = 0;
    int32_t ParentID = 0;
    TRecordId Row = NoRecord; // NoRecord for the top item
    TTreeNode* Parent = nullptr;
    int Index = 0; // among the parent's children
    bool Loaded = false;
    int8_t HasChildren = -1; // unknown until asked
    std::vector<std::unique_ptr<TTreeNode>> Children;
};

} // namespace

// The tree's nodes as a Qt model: one top item, each node's children read
// from the data set when the view opens the node.
class TDBSTreeModel : public QAbstractItemModel
{
public:
    explicit TDBSTreeModel(TDBSTreeView& view) : FView(view) {}

    void Reset(const QString& rootCaption, int32_t rootId)
    {
        beginResetModel();
        FRoot = std::make_unique<TTreeNode>();
        FRoot->ID = FRoot->ParentID = rootId;
        FRootCaption = rootCaption;
        endResetModel();
    }

    void Clear()
    {
        beginResetModel();
        FRoot.reset();
        endResetModel();
    }

    static TTreeNode* NodeOf(const QModelIndex& index)
    {
        return index.isValid() ? static_cast<TTreeNode*>(index.internalPointer()) : nullptr;
    }

    QModelIndex IndexOf(TTreeNode* node) const { return node ? createIndex(node->Index, 0, node) : QModelIndex(); }

    TTreeNode* Root() const { return FRoot.get(); }

    void Load(TTreeNode& node)
    {
        Unload(node);
        TSDS* data = Data();
        if (!data)
            return;
        TField* idField = data->FindField(FView.FIDNode);
        if (!idField || !data->FindField(FView.FIDParentNode))
            return;
        const QSet<int32_t> path = PathOf(node);
        std::vector<std::unique_ptr<TTreeNode>> children;
        for (TRecordId row : data->ChildRows(FView.FIDParentNode, node.ID)) {
            const Variant id = data->RowValue(row, *idField);
            if (id.IsNull() || path.contains(id.AsInteger()))
                continue; // a record that stands for the top item or one of its own ancestors
            auto child = std::make_unique<TTreeNode>();
            child->ID = id.AsInteger();
            child->ParentID = node.ID;
            child->Row = row;
            child->Parent = &node;
            child->Index = static_cast<int>(children.size());
            children.push_back(std::move(child));
        }
        node.Loaded = true;
        node.HasChildren = children.empty() ? 0 : 1;
        if (children.empty())
            return;
        beginInsertRows(IndexOf(&node), 0, static_cast<int>(children.size()) - 1);
        node.Children = std::move(children);
        endInsertRows();
    }

    void Unload(TTreeNode& node)
    {
        if (!node.Children.empty()) {
            beginRemoveRows(IndexOf(&node), 0, static_cast<int>(node.Children.size()) - 1);
            node.Children.clear();
            endRemoveRows();
        }
        node.Loaded = false;
        node.HasChildren = -1;
    }

    QString Caption(const TTreeNode& node) const
    {
        if (&node == FRoot.get())
            return FRootCaption;
        TSDS* data = Data();
        TField* field = data ? data->FindField(FView.DataField()) : nullptr;
        if (!field)
            return QString();
        QString text;
        data->ReadRow(node.Row, [&] { text = field->DisplayText(); });
        return text;
    }

    // QAbstractItemModel
    QModelIndex index(int row, int column, const QModelIndex& parent) const override
    {
        if (column != 0 || row < 0)
            return QModelIndex();
        const TTreeNode* node = NodeOf(parent);
        if (!node)
            return row == 0 && FRoot ? createIndex(0, 0, FRoot.get()) : QModelIndex();
        if (row >= static_cast<int>(node->Children.size()))
            return QModelIndex();
        return createIndex(row, 0, node->Children[static_cast<size_t>(row)].get());
    }

    QModelIndex parent(const QModelIndex& child) const override
    {
        const TTreeNode* node = NodeOf(child);
        return node ? IndexOf(node->Parent) : QModelIndex();
    }

    int rowCount(const QModelIndex& parent) const override
    {
        if (parent.column() > 0)
            return 0;
        const TTreeNode* node = NodeOf(parent);
        if (!node)
            return FRoot ? 1 : 0;
        return static_cast<int>(node->Children.size());
    }

    int columnCount(const QModelIndex&) const override { return 1; }

    bool hasChildren(const QModelIndex& parent) const override
    {
        TTreeNode* node = NodeOf(parent);
        if (!node)
            return FRoot != nullptr;
        if (node->HasChildren < 0)
            node->HasChildren = AnyChild(*node) ? 1 : 0;
        return node->HasChildren > 0;
    }

    bool canFetchMore(const QModelIndex& parent) const override
    {
        const TTreeNode* node = NodeOf(parent);
        return node && !node->Loaded && hasChildren(parent);
    }

    void fetchMore(const QModelIndex& parent) override
    {
        if (TTreeNode* node = NodeOf(parent))
            Load(*node);
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        const TTreeNode* node = NodeOf(index);
        if (!node || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
            return QVariant();
        return Caption(*node);
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

private:
    TSDS* Data() const
    {
        TDataSource* source = FView.FDataSource;
        auto* data = source ? dynamic_cast<TSDS*>(source->DataSet()) : nullptr;
        return data && data->Active() ? data : nullptr;
    }

    QSet<int32_t> PathOf(const TTreeNode& node) const
    {
        QSet<int32_t> path;
        for (const TTreeNode* n = &node; n; n = n->Parent)
            path.insert(n->ID);
        return path;
    }

    // Whether the node would show any child, without reading them all: a
    // child that would be left out (it repeats a node of the path) needs
    // the full read.
    bool AnyChild(const TTreeNode& node) const
    {
        TSDS* data = Data();
        if (!data || !data->FindField(FView.FIDParentNode) || !data->HasChildRows(FView.FIDParentNode, node.ID))
            return false;
        TField* idField = data->FindField(FView.FIDNode);
        if (!idField)
            return false;
        const QSet<int32_t> path = PathOf(node);
        const auto anyShown = [&](const std::vector<TRecordId>& rows) {
            return std::any_of(rows.begin(), rows.end(), [&](TRecordId row) {
                const Variant id = data->RowValue(row, *idField);
                return !id.IsNull() && !path.contains(id.AsInteger());
            });
        };
        // The first few children nearly always decide; a group of left-out
        // records only is read whole.
        const size_t firstFew = 8;
        const std::vector<TRecordId> first = data->ChildRows(FView.FIDParentNode, node.ID, firstFew);
        if (anyShown(first))
            return true;
        return first.size() == firstFew && anyShown(data->ChildRows(FView.FIDParentNode, node.ID));
    }

    TDBSTreeView& FView;
    std::unique_ptr<TTreeNode> FRoot;
    QString FRootCaption;
};

TDBSTreeView::TDBSTreeView(QWidget* parent)
    : QTreeView(parent), FDataLink(std::make_unique<TFieldDataLink>()), FModel(std::make_unique<TDBSTreeModel>(*this))
{
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setModel(FModel.get());
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    FDataLink->OnActiveChange = [this] {
        if (!FDataLink->Active())
            FModel->Clear();
    };
    connect(this, &QTreeView::expanded, this, &TDBSTreeView::NodeExpanded);
    connect(this, &QTreeView::collapsed, this, &TDBSTreeView::NodeCollapsed);
}

TDBSTreeView::~TDBSTreeView()
{
    setModel(nullptr);
    FDataLink->SetDataSource(nullptr);
}

QString TDBSTreeView::DataField() const { return FDataLink->FieldName(); }

void TDBSTreeView::SetDataField(const QString& name)
{
    FDataLink->SetFieldName(name);
    viewport()->update();
}

TDataSource* TDBSTreeView::DataSource() const { return FDataSource; }

void TDBSTreeView::SetDataSource(TDataSource* source)
{
    if (FDataSource == source)
        return;
    if (FDataSource)
        disconnect(FDataSource, &QObject::destroyed, this, nullptr);
    FDataSource = source;
    FDataLink->SetDataSource(source);
    if (source) // a source going away leaves the tree without one
        connect(source, &QObject::destroyed, this, [this] {
            FDataSource = nullptr;
            FDataLink->SetDataSource(nullptr);
        });
}

void TDBSTreeView::BuildTree(const QString& rootCaption)
{
    setUpdatesEnabled(false);
    FModel->Reset(rootCaption, FRootNodeID);
    const QModelIndex root = FModel->IndexOf(FModel->Root());
    FModel->Load(*FModel->Root());
    expand(root);
    setUpdatesEnabled(true);
}

void TDBSTreeView::LoadChildren(const QModelIndex& node)
{
    if (TTreeNode* n = TDBSTreeModel::NodeOf(node))
        FModel->Load(*n);
}

void TDBSTreeView::FullExpand()
{
    TTreeNode* root = FModel->Root();
    if (!root)
        return;
    setUpdatesEnabled(false);
    // Depth first, each level read once; the path rule keeps it finite.
    std::vector<TTreeNode*> pending{root};
    while (!pending.empty()) {
        TTreeNode* node = pending.back();
        pending.pop_back();
        if (!node->Loaded)
            FModel->Load(*node);
        if (node->Children.empty())
            continue;
        expand(FModel->IndexOf(node));
        for (auto& child : node->Children)
            pending.push_back(child.get());
    }
    setUpdatesEnabled(true);
}

bool TDBSTreeView::NodeKey(const QModelIndex& node, int32_t& id, int32_t& parentId) const
{
    const TTreeNode* n = TDBSTreeModel::NodeOf(node);
    if (!n)
        return false;
    id = n->ID;
    parentId = n->ParentID;
    return true;
}

bool TDBSTreeView::SelectedID(int32_t& id) const
{
    int32_t parentId = 0;
    return NodeKey(currentIndex(), id, parentId);
}

QString TDBSTreeView::NodeCaption(const QModelIndex& node) const
{
    const TTreeNode* n = TDBSTreeModel::NodeOf(node);
    return n ? FModel->Caption(*n) : QString();
}

void TDBSTreeView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTreeView::currentChanged(current, previous);
    if (current.isValid() && current.parent().isValid()) // the top item moves nothing
        PositionDataSet(current);
}

void TDBSTreeView::PositionDataSet(const QModelIndex& node)
{
    const TTreeNode* n = TDBSTreeModel::NodeOf(node);
    TDataSet* data = FDataSource ? FDataSource->DataSet() : nullptr;
    if (!n || !data || !data->Active() || !FPositionsDataSet)
        return;
    if (auto* sds = dynamic_cast<TSDS*>(data); sds && n->ID != FRootNodeID)
        sds->GotoID(n->ID);
    else if (n->ID != FRootNodeID)
        data->Locate(FIDNode, Variant(n->ID));
}

void TDBSTreeView::NodeExpanded(const QModelIndex& node)
{
    TTreeNode* n = TDBSTreeModel::NodeOf(node);
    if (n && !n->Loaded)
        FModel->Load(*n);
}

void TDBSTreeView::NodeCollapsed(const QModelIndex& node)
{
    // Opening it again reads its children anew.
    if (TTreeNode* n = TDBSTreeModel::NodeOf(node); n && n != FModel->Root())
        FModel->Unload(*n);
}
