// The actions on the framework's data set over embedded Firebird: the level
// toggle keeps the record that was current, and a data-aware edit over a
// read-only data set is refused inserting and deleting.
#include "Action.h"
#include "CommonInterfaceRes.h"
#include "DBEdit.h"
#include "DBSGridEx.h"
#include "SDSFixture.h"
#include "SDataSource.h"

#include <QApplication>
#include <QVBoxLayout>
#include <QtTest/QTest>

namespace {

// Groups 1 and 2, group 12 inside 2, leaves below them.
const char* const Schema = R"(
CREATE TABLE TREE (
  SYS$ID INTEGER NOT NULL PRIMARY KEY,
  SYS$PID INTEGER,
  SYS$STATE INTEGER,
  NAME VARCHAR(20),
  SYS$TIME TIMESTAMP);
INSERT INTO TREE VALUES (1, 0, 0, 'Еда', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (2, 0, 0, 'Напитки', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (10, 1, 1073741824, 'Хлеб', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (12, 2, 0, 'Соки', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (13, 12, 1073741824, 'Яблочный', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (14, 2, 1073741824, 'Вода', '2026-01-01 10:00:00');
)";

class ActionsFirebirdTest : public TSDSFixture
{
protected:
    void SetUp() override
    {
        CreateAndConnect(Schema);
        CreateCommonInterface();
        // A chooser over its master's rows, which finds a record's level path.
        FMaster = NewSDS(QStringLiteral("TREE"));
        FSDS = NewSDS(QStringLiteral("TREE"), {dsoLevels});
        FSDS->SetMasterDataset(FMaster.get());
        FSDS->Open();
        FSource.SetDataSet(FSDS.get());
        FForm = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(FForm.get());
        FGrid = new TDBSGridEx(FForm.get());
        FGrid->SetDataSource(&FSource);
        FEdit = new TDBEdit(FForm.get());
        FEdit->SetDataSource(&FSource);
        FEdit->SetDataField(QStringLiteral("NAME"));
        layout->addWidget(FGrid);
        layout->addWidget(FEdit);
        FForm->show();
        QApplication::setActiveWindow(FForm.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(FForm.get()));
    }
    void TearDown() override
    {
        FForm.reset();
        FSource.SetDataSet(nullptr);
        FSDS.reset();
        FMaster.reset();
        FreeCommonInterface();
    }
    void Focus(QWidget* widget)
    {
        widget->setFocus();
        QApplication::processEvents();
        ASSERT_EQ(QApplication::focusWidget(), widget);
    }
    int Current() const { return FSDS->FieldByName(QStringLiteral("SYS$ID"))->AsInteger(); }
    static QString HintOf(const char* action)
    {
        try {
            I()->Action(QString::fromLatin1(action))->Execute();
        } catch (const EHintError& e) {
            return e.Message();
        }
        return QString();
    }

    std::unique_ptr<TSDS> FMaster;
    std::unique_ptr<TSDS> FSDS;
    TSDataSource FSource;
    std::unique_ptr<QWidget> FForm;
    TDBSGridEx* FGrid = nullptr;
    TDBEdit* FEdit = nullptr;
};

} // namespace

TEST_F(ActionsFirebirdTest, TheLevelToggleKeepsTheCurrentRecordInsideItsLevel)
{
    Focus(FGrid);
    TAction& toggle = *I()->Action(QStringLiteral("TougleLevelsAction1"));
    FSDS->SetLevelMode(dslmShowAll);
    ASSERT_TRUE(FSDS->Locate(QStringLiteral("SYS$ID"), Variant(13)));

    EXPECT_TRUE(toggle.Execute());
    EXPECT_EQ(FSDS->LevelMode(), dslmDefault);
    EXPECT_EQ(Current(), 13);

    EXPECT_TRUE(toggle.Execute());
    EXPECT_EQ(FSDS->LevelMode(), dslmShowAll);
    EXPECT_EQ(Current(), 13);

    // A data set without levels is left alone.
    FSDS->SetLevelMode(dslmDefault);
    FSDS->SetOptions(FSDS->Options() - TSDSOptions{dsoLevels});
    toggle.Execute();
    EXPECT_NE(FSDS->LevelMode(), dslmShowAll);
}

TEST_F(ActionsFirebirdTest, AnEditOverAReadOnlyDataSetIsRefusedInsertingAndDeleting)
{
    Focus(FEdit);
    FSDS->SetReadOnly(true);
    EXPECT_EQ(HintOf("RecordInsertAction1"), QStringLiteral("Добавление запрещено !"));
    EXPECT_EQ(HintOf("RecordDeleteAction1"), QStringLiteral("Удаление запрешено !"));
    EXPECT_EQ(FSDS->State(), dsBrowse);

    FSDS->SetReadOnly(false);
    EXPECT_EQ(HintOf("RecordInsertAction1"), QString());
    EXPECT_EQ(FSDS->State(), dsInsert);
    FSDS->Cancel();
}
