// The record attributes form on a levelled data set in embedded Firebird:
// the bits it shows and writes, and moving one or the marked records under
// another group.
#include "uRecordAttribs.h"

#include "Fields.h"
#include "SButton.h"
#include "TreeFixture.h"
#include "URecordMarker.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using tree_fixture::Leaf;
constexpr int Deleted = int(0x80000000u);

class RecordAttrsTest : public TTreeFixture
{
protected:
    void SetUp() override
    {
        TTreeFixture::SetUp();
        FSavedChoose = TfrmRecordAttrs::ChooseParent();
        TfrmRecordAttrs::ChooseParent() = [this](TSDS&, int32_t& id, QWidget*) {
            ++FChoices;
            id = FChosen;
            return true;
        };
    }
    void TearDown() override
    {
        TfrmRecordAttrs::ChooseParent() = FSavedChoose;
        TTreeFixture::TearDown();
    }

    // The levelled tree, its cursor on id (its level entered).
    std::unique_ptr<TSDS> OpenOn(int id)
    {
        auto data = OpenTree(QStringLiteral("TREE"), {dsoLevels});
        data->GotoID(id);
        return data;
    }

    void Mark(TSDS& data, std::initializer_list<int> ids)
    {
        for (int id : ids) {
            data.GotoID(id);
            FSource.RecordMarker()->ToggleCurrent();
        }
    }

    TfrmRecordAttrs FForm;
    int32_t FChosen = 0;
    int FChoices = 0;
    std::function<bool(TSDS&, int32_t&, QWidget*)> FSavedChoose;
};

TEST_F(RecordAttrsTest, ShowsTheBitsOwnerIdentifierAndLastChangeOfTheRecord)
{
    FTestDb.ExecuteScript(QStringLiteral("UPDATE TREE SET SYS$STATE = %1 WHERE SYS$ID = 11;").arg(Deleted | Leaf | 7));
    auto data = OpenOn(11);
    ASSERT_TRUE(FForm.Load(&FSource));
    EXPECT_EQ(FForm.OwnerNumber, 7);
    EXPECT_EQ(FForm.lblOwner->text(), " - ??? - ");
    EXPECT_TRUE(FForm.rgListRecord->isChecked());
    EXPECT_TRUE(FForm.chDeletedRecord->isEnabled());
    EXPECT_TRUE(FForm.chDeletedRecord->isChecked());
    EXPECT_EQ(FForm.lblID->text(), "11");
    EXPECT_TRUE(FForm.lblSYS_TIME->text().startsWith("последнее изменение: "));

    // Undeleting keeps the kind and the owner.
    FForm.chDeletedRecord->setChecked(false);
    ASSERT_TRUE(FForm.Apply());
    EXPECT_EQ(StateOf(*data, 11), Leaf | 7);
    EXPECT_EQ(data->State(), dsBrowse);

    TfrmRecordAttrs group;
    data->GotoID(1);
    ASSERT_TRUE(group.Load(&FSource));
    EXPECT_TRUE(group.rbLevelRecord->isChecked());
    EXPECT_FALSE(group.chDeletedRecord->isEnabled());
}

TEST_F(RecordAttrsTest, NothingChangedPutsTheDataSetIntoNoEditAndALeafBecomesAGroup)
{
    auto data = OpenOn(10);
    int edits = 0;
    data->BeforeEdit = [&](TDataSet*) { ++edits; };
    ASSERT_TRUE(FForm.Load(&FSource));
    ASSERT_TRUE(FForm.Apply());
    EXPECT_EQ(edits, 0);

    FForm.rbLevelRecord->setChecked(true);
    ASSERT_TRUE(FForm.Apply());
    EXPECT_EQ(edits, 1);
    EXPECT_EQ(StateOf(*data, 10), 0);
}

TEST_F(RecordAttrsTest, AGroupWithChildrenStaysAGroupAndAnEmptyOneBecomesALeaf)
{
    auto data = OpenOn(1);
    ASSERT_TRUE(FForm.Load(&FSource));
    FForm.rgListRecord->setChecked(true);
    EXPECT_FALSE(FForm.Apply());
    EXPECT_EQ(StateOf(*data, 1), 0);
    ASSERT_EQ(FMessages.size(), 1);
    EXPECT_TRUE(FMessages[0].contains("Группа содержит записи"));

    data->GotoID(3);
    TfrmRecordAttrs empty;
    ASSERT_TRUE(empty.Load(&FSource));
    empty.rgListRecord->setChecked(true);
    EXPECT_TRUE(empty.Apply());
    EXPECT_EQ(StateOf(*data, 3), Leaf);
}

TEST_F(RecordAttrsTest, ARecordNeverMovesUnderItselfOrItsDescendants)
{
    auto data = OpenOn(2);
    ASSERT_TRUE(FForm.Load(&FSource));
    for (int parent : {2, 12, 13}) {
        FChosen = parent;
        EXPECT_THROW(FForm.mChangeParentOneClick(FForm.mChangeParentOne), EHintError) << parent;
        EXPECT_EQ(ParentOf(*data, 2), 0);
    }
    // The marked records are all checked before any moves.
    Mark(*data, {1, 2});
    FChosen = 12;
    EXPECT_THROW(FForm.mChangeParentOneClick(FForm.mChangeParentMany), EHintError);
    EXPECT_EQ(ParentOf(*data, 1), 0);
    EXPECT_EQ(ParentOf(*data, 2), 0);
}

TEST_F(RecordAttrsTest, MarkedRecordsMoveUpToTheLastOneAndTheCursorComesBack)
{
    auto data = OpenOn(2);
    Mark(*data, {1, 20});
    data->GotoID(2);
    ASSERT_TRUE(FForm.Load(&FSource));
    FChosen = 3;
    FForm.mChangeParentOneClick(FForm.mChangeParentMany);
    EXPECT_EQ(ParentOf(*data, 1), 3);
    EXPECT_EQ(ParentOf(*data, 20), 3);
    EXPECT_EQ(ParentOf(*data, 2), 0);
    EXPECT_EQ(data->CurrentID(), 2);
    EXPECT_FALSE(data->ControlsDisabled());
}

TEST_F(RecordAttrsTest, AFailedMoveOfMarkedRecordsGivesBackTheControlsAndThePosition)
{
    FTestDb.ExecuteScript(
        QStringLiteral("CREATE EXCEPTION E_NO_MOVE 'перенос запрещён';\n"
                       "SET TERM ^ ;\n"
                       "CREATE TRIGGER TREE_NO_MOVE FOR TREE BEFORE UPDATE AS BEGIN\n"
                       "  IF (NEW.SYS$ID = 11 AND NEW.SYS$PID <> OLD.SYS$PID) THEN EXCEPTION E_NO_MOVE;\n"
                       "END^\n"
                       "SET TERM ; ^\n"));
    auto data = OpenOn(10);
    Mark(*data, {10, 11});
    data->GotoID(11);
    ASSERT_TRUE(FForm.Load(&FSource));
    FChosen = 3;
    EXPECT_ANY_THROW(FForm.mChangeParentOneClick(FForm.mChangeParentMany));
    EXPECT_FALSE(data->ControlsDisabled());
    EXPECT_EQ(data->State(), dsBrowse);
    EXPECT_EQ(data->CurrentID(), 11);
    EXPECT_EQ(ParentOf(*data, 10), 3);
    EXPECT_EQ(ParentOf(*data, 11), 1);
}

TEST_F(RecordAttrsTest, AfterAMoveOkWritesIntoTheRecordTheFormWasOpenedFor)
{
    auto data = OpenOn(14); // the level of group 2: 12 and 14
    ASSERT_TRUE(FForm.Load(&FSource));
    FChosen = 1;
    FForm.mChangeParentOneClick(FForm.mChangeParentOne);
    EXPECT_EQ(ParentOf(*data, 14), 1);
    FForm.rbLevelRecord->setChecked(true);
    ASSERT_TRUE(FForm.Apply());
    EXPECT_EQ(StateOf(*data, 14), 0);
    EXPECT_EQ(StateOf(*data, 12), 0); // the record the cursor fell on is untouched
    EXPECT_EQ(data->CurrentID(), 14);
}

TEST_F(RecordAttrsTest, OkWritesNothingWhenTheRecordIsGone)
{
    auto data = OpenOn(14);
    ASSERT_TRUE(FForm.Load(&FSource));
    data->Delete();
    ASSERT_FALSE(data->IsEmpty());
    const int other = data->CurrentID();
    const int otherState = StateOf(*data, other);
    FForm.rbLevelRecord->setChecked(true);
    EXPECT_FALSE(FForm.Apply());
    EXPECT_EQ(StateOf(*data, other), otherState);
    ASSERT_EQ(FMessages.size(), 1);
    EXPECT_TRUE(FMessages[0].contains("не найдена"));
}

TEST_F(RecordAttrsTest, AnEditInProgressIsPostedWithItsChecksBeforeTheRecordMoves)
{
    auto data = OpenOn(10);
    int posts = 0;
    data->BeforePost = [&](TDataSet* dataSet) {
        if (dataSet->FieldByName("NAME")->AsString().isEmpty())
            throw EHintError(QStringLiteral("Название не задано"));
        ++posts;
    };
    data->Edit();
    data->FieldByName("NAME")->SetAsString("");
    ASSERT_TRUE(FForm.Load(&FSource));
    FChosen = 3;
    EXPECT_THROW(FForm.mChangeParentOneClick(FForm.mChangeParentOne), EHintError);
    EXPECT_EQ(FChoices, 0);
    EXPECT_EQ(data->State(), dsEdit); // the user's edit stays open
    EXPECT_EQ(data->FieldByName("NAME")->AsString(), "");
    EXPECT_EQ(ParentOf(*data, 10), 1);

    data->FieldByName("NAME")->SetAsString("Хлебушек");
    FForm.mChangeParentOneClick(FForm.mChangeParentOne);
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(ParentOf(*data, 10), 3);
    data->GotoID(10);
    EXPECT_EQ(data->FieldByName("NAME")->AsString(), "Хлебушек");
}

TEST_F(RecordAttrsTest, TheDataSourceOpensTheFormOnlyForAFrameworkRecord)
{
    TfrmRecordAttrs form;
    EXPECT_FALSE(form.Load(&FSource)); // no data set
    auto data = OpenOn(10);
    EXPECT_TRUE(form.Load(&FSource));
    data->Close();
    EXPECT_FALSE(form.Load(&FSource));
}

TEST_F(RecordAttrsTest, Screenshot)
{
    const QString path = qEnvironmentVariable("RECORD_ATTRIBUTES_SCREENSHOT");
    if (path.isEmpty())
        GTEST_SKIP() << "RECORD_ATTRIBUTES_SCREENSHOT is not set";
    FTestDb.ExecuteScript(QStringLiteral("UPDATE TREE SET SYS$STATE = %1 WHERE SYS$ID = 13;").arg(Deleted | Leaf));
    auto data = OpenOn(13);
    ASSERT_TRUE(FForm.Load(&FSource));
    FForm.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&FForm));
    QApplication::processEvents();
    ASSERT_TRUE(FForm.grab().save(path)) << path.toStdString();
}

} // namespace
