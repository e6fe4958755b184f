// The tree view over the rows of a framework data set, on embedded Firebird.
#include "DBSTreeView.h"

#include "DBGridEx.h"
#include "TreeFixture.h"

#include <QHBoxLayout>
#include <QSplitter>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using tree_fixture::Captions;
using tree_fixture::Leaf;

class TreeViewTest : public TTreeFixture
{
protected:
    QModelIndex Child(TDBSTreeView& tree, const QModelIndex& node, const QString& caption)
    {
        for (int row = 0; row < tree.model()->rowCount(node); ++row) {
            const QModelIndex child = tree.model()->index(row, 0, node);
            if (tree.NodeCaption(child) == caption)
                return child;
        }
        ADD_FAILURE() << "no node " << caption.toStdString();
        return {};
    }
    QModelIndex Root(TDBSTreeView& tree) { return tree.model()->index(0, 0); }
    // The tree of names over the fixture's source, under a top item caption.
    void ShowNames(const QString& top = QStringLiteral("\\"))
    {
        FTree.SetDataField(QStringLiteral("NAME"));
        FTree.SetDataSource(&FSource);
        FTree.BuildTree(top);
    }
    // Opens the path of captions from the top item; answers the last node.
    QModelIndex Open(const QStringList& path)
    {
        QModelIndex node = Root(FTree);
        for (const QString& caption : path) {
            node = Child(FTree, node, caption);
            FTree.expand(node);
        }
        return node;
    }

    TDBSTreeView FTree;
};

TEST_F(TreeViewTest, TheTopItemHoldsTheRecordsOfTheRootAndAnExpandButtonShowsBeforeOpening)
{
    auto data = OpenTree();
    ShowNames(QStringLiteral("Всё"));

    ASSERT_EQ(FTree.model()->rowCount(), 1);
    EXPECT_EQ(FTree.NodeCaption(Root(FTree)), "Всё");
    EXPECT_TRUE(FTree.isExpanded(Root(FTree)));
    // The null parent counts as the root's.
    EXPECT_EQ(Captions(FTree, Root(FTree)), (QStringList{"Без родителя", "Еда", "Напитки", "Пусто", "Чай"}));

    const QModelIndex food = Child(FTree, Root(FTree), "Еда");
    const QModelIndex empty = Child(FTree, Root(FTree), "Пусто");
    const QModelIndex tea = Child(FTree, Root(FTree), "Чай");
    EXPECT_TRUE(FTree.model()->hasChildren(food));
    EXPECT_EQ(FTree.model()->rowCount(food), 0); // not read yet
    EXPECT_FALSE(FTree.model()->hasChildren(empty));
    EXPECT_TRUE(FTree.model()->hasChildren(tea)); // a leaf with a child still shows it

    FTree.expand(food);
    EXPECT_EQ(Captions(FTree, food), (QStringList{"Хлеб", "Соль"}));
    int32_t id = 0, parentId = 0;
    ASSERT_TRUE(FTree.NodeKey(Child(FTree, food, "Соль"), id, parentId));
    EXPECT_EQ(id, 11);
    EXPECT_EQ(parentId, 1);
}

TEST_F(TreeViewTest, SelectingANodeMovesTheDataSetAndTheTopItemMovesNothing)
{
    auto data = OpenTree();
    ShowNames();
    const QModelIndex drinks = Child(FTree, Root(FTree), "Напитки");
    FTree.expand(drinks);
    const QModelIndex juice = Child(FTree, drinks, "Соки");

    FTree.setCurrentIndex(juice);
    EXPECT_EQ(data->CurrentID(), 12);
    FTree.setCurrentIndex(Root(FTree));
    EXPECT_EQ(data->CurrentID(), 12);

    FTree.SetPositionsDataSet(false);
    FTree.setCurrentIndex(Child(FTree, Root(FTree), "Еда"));
    EXPECT_EQ(data->CurrentID(), 12);
}

TEST_F(TreeViewTest, ALevelledDataSetShowsEveryLevelWhileItsOwnViewStaysOnOne)
{
    auto data = OpenTree(QStringLiteral("TREE"), {dsoLevels});
    ASSERT_EQ(data->LevelCount(), 1);
    const int shown = data->RecordCount();
    ShowNames();
    const QModelIndex juice = Open({"Напитки", "Соки"});
    EXPECT_EQ(Captions(FTree, juice), QStringList{"Яблочный"});
    EXPECT_EQ(data->RecordCount(), shown); // reading the tree moved no level

    // Choosing a record deep down takes the data set to its level.
    FTree.setCurrentIndex(Child(FTree, juice, "Яблочный"));
    EXPECT_EQ(data->CurrentID(), 13);
    EXPECT_EQ(data->LevelCount(), 3);
}

TEST_F(TreeViewTest, ANodeOpenedAgainReadsItsChildrenAnew)
{
    auto data = OpenTree();
    ShowNames();
    const QModelIndex empty = Child(FTree, Root(FTree), "Пусто");
    FTree.expand(empty);
    EXPECT_TRUE(Captions(FTree, empty).isEmpty());

    data->Append();
    data->FieldByName("SYS$ID")->SetAsInteger(40);
    data->FieldByName("SYS$PID")->SetAsInteger(3);
    data->FieldByName("SYS$STATE")->SetAsInteger(Leaf);
    data->FieldByName("NAME")->SetAsString("Новая");
    data->Post();

    FTree.collapse(empty);
    FTree.expand(empty);
    EXPECT_EQ(Captions(FTree, empty), QStringList{"Новая"});
}

TEST_F(TreeViewTest, OpeningEveryNodeEndsWhateverTheIdentifiersRepeat)
{
    // ODD holds a record standing for the root (ID 0 under 0), a null ID,
    // a record repeating its grandparent's ID and a ring of two groups.
    auto data = OpenTree(QStringLiteral("ODD"));
    ShowNames();
    FTree.FullExpand();

    EXPECT_EQ(Captions(FTree, Root(FTree)), QStringList{"Группа"});
    const QModelIndex group = Child(FTree, Root(FTree), "Группа");
    EXPECT_EQ(Captions(FTree, group), QStringList{"Вложенная"});
    const QModelIndex nested = Child(FTree, group, "Вложенная");
    EXPECT_TRUE(Captions(FTree, nested).isEmpty()); // "Двойник" repeats 5, an ancestor
    EXPECT_FALSE(FTree.model()->hasChildren(nested));
}

TEST_F(TreeViewTest, ClosingTheDataSetOrLosingTheSourceEmptiesTheTree)
{
    auto data = OpenTree();
    FTree.SetDataField(QStringLiteral("NAME"));
    {
        TSDataSource source;
        source.SetDataSet(data.get());
        FTree.SetDataSource(&source);
        FTree.BuildTree(QStringLiteral("\\"));
        EXPECT_EQ(FTree.model()->rowCount(Root(FTree)), 5);
    }
    EXPECT_EQ(FTree.DataSource(), nullptr);
    FTree.SetDataSource(&FSource);
    FTree.BuildTree(QStringLiteral("\\"));
    data->Close();
    EXPECT_EQ(FTree.model()->rowCount(), 0);
}

TEST_F(TreeViewTest, Screenshot)
{
    const QString path = qEnvironmentVariable("TREE_SCREENSHOT");
    if (path.isEmpty())
        GTEST_SKIP() << "TREE_SCREENSHOT is not set";
    auto data = OpenTree(QStringLiteral("TREE"), {dsoLevels});
    QSplitter window;
    window.resize(640, 300);
    auto* tree = new TDBSTreeView(&window);
    tree->SetDataField(QStringLiteral("NAME"));
    tree->SetDataSource(&FSource);
    auto* grid = new TDBGridEx(&window);
    grid->SetDataSource(&FSource);
    window.setSizes({220, 420});
    tree->BuildTree(QStringLiteral("\\"));
    tree->FullExpand();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    tree->setCurrentIndex(Child(*tree, Child(*tree, Root(*tree), "Напитки"), "Соки"));
    QApplication::processEvents();
    ASSERT_TRUE(window.grab().save(path)) << path.toStdString();
}

} // namespace
