// The level choice over the rows of a framework data set in embedded Firebird.
#include "ULevelChangeForm.h"

#include "DBSTreeView.h"
#include "Fields.h"
#include "TreeFixture.h"

#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using tree_fixture::Captions;

class LevelChoiceTest : public TTreeFixture
{};

TEST_F(LevelChoiceTest, ShowsOnlyGroupsEveryNodeOpenAndLeavesTheCallersCursorAlone)
{
    auto data = OpenTree(QStringLiteral("TREE"), {dsoLevels});
    data->GotoID(14);
    TfrmLevelChoice form;
    ASSERT_TRUE(form.Prepare(*data));
    EXPECT_EQ(data->CurrentID(), 14);
    TDBSTreeView& tree = *form.TreeView;
    const QModelIndex root = tree.model()->index(0, 0);
    EXPECT_EQ(tree.NodeCaption(root), "\\");
    // "Чай" is a leaf with a child: never shown.
    EXPECT_EQ(Captions(tree, root), (QStringList{"Еда", "Напитки", "Пусто"}));
    const QModelIndex drinks = tree.model()->index(1, 0, root);
    EXPECT_TRUE(tree.isExpanded(drinks));
    EXPECT_EQ(Captions(tree, drinks), QStringList{"Соки"});

    tree.setCurrentIndex(tree.model()->index(0, 0, drinks));
    form.OkClick();
    EXPECT_EQ(form.ChosenID(), 12);
    EXPECT_EQ(data->CurrentID(), 14);
    tree.setCurrentIndex(root);
    form.OkClick();
    EXPECT_EQ(form.ChosenID(), 0);
}

TEST_F(LevelChoiceTest, TheModalChoiceGivesTheSelectedGroup)
{
    auto data = OpenTree();
    QTimer::singleShot(0, [] {
        auto* form = qobject_cast<TfrmLevelChoice*>(QApplication::activeModalWidget());
        ASSERT_NE(form, nullptr);
        TDBSTreeView& tree = *form->TreeView;
        tree.setCurrentIndex(tree.model()->index(0, 0, tree.model()->index(0, 0))); // "Еда"
        form->Ok->click();
    });
    int32_t chosen = -1;
    ASSERT_TRUE(ChooseLevel(*data, chosen));
    EXPECT_EQ(chosen, 1);
}

TEST(LevelCaptionField, NameThenKnameThenALabelledLongStringThenAnyString)
{
    struct Case
    {
        std::vector<const char*> Strings; // NAME=size:label
        const char* Expected;
    };
    const Case cases[] = {
        {{"KOD=5:", "KNAME=40:", "NAME=40:"}, "NAME"},
        {{"KOD=5:", "KNAME=40:"}, "KNAME"},
        {{"KOD=5:Код", "NOTE=40:", "TITLE=40:Название", "DESCR=60:Описание"}, "TITLE"},
        {{"KOD=5:Код", "NOTE=40:"}, "KOD"},
        {{}, nullptr},
    };
    for (const Case& c : cases) {
        TSDS data;
        AddField<TIntegerField>(data, "SYS$ID");
        for (const char* declaration : c.Strings) {
            const QStringList parts = QString::fromUtf8(declaration).split(QRegularExpression("[=:]"));
            auto* field = new TStringField(&data);
            field->SetFieldName(parts[0]);
            field->SetSize(parts[1].toInt());
            field->SetDisplayLabel(parts[2]);
            field->SetDataSet(&data);
        }
        const TField* field = LevelCaptionField(data);
        if (!c.Expected)
            EXPECT_EQ(field, nullptr);
        else
            EXPECT_EQ(field ? field->FieldName() : QString(), c.Expected);
    }
}

TEST_F(LevelChoiceTest, ADataSetWithNothingToShowSaysSoAndChoosesNothing)
{
    TSDS data;
    AddField<TIntegerField>(data, "SYS$ID");
    int32_t chosen = -1;
    EXPECT_FALSE(ChooseLevel(data, chosen));
    EXPECT_EQ(chosen, -1);
    EXPECT_EQ(FMessages, QStringList{"Нет поля для визуализации"});
}

TEST_F(LevelChoiceTest, Screenshot)
{
    const QString path = qEnvironmentVariable("LEVEL_CHOICE_SCREENSHOT");
    if (path.isEmpty())
        GTEST_SKIP() << "LEVEL_CHOICE_SCREENSHOT is not set";
    auto data = OpenTree(QStringLiteral("TREE"), {dsoLevels});
    TfrmLevelChoice form;
    ASSERT_TRUE(form.Prepare(*data));
    form.resize(360, 300);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    TDBSTreeView& tree = *form.TreeView;
    const QModelIndex root = tree.model()->index(0, 0);
    tree.setCurrentIndex(tree.model()->index(0, 0, tree.model()->index(1, 0, root)));
    QApplication::processEvents();
    ASSERT_TRUE(form.grab().save(path)) << path.toStdString();
}

} // namespace
