// The forms the group operations use once InstallFrameworkForms has set the
// engine's hooks: the typed value dialog and the progress of a long walk.
#include "FrameworkForms.h"

#include "Dialogs.h"
#include "Exceptions.h"
#include "MemTable.h"
#include "SDataSource.h"
#include "uIterators.h"

#include <QApplication>
#include <QProgressDialog>
#include <gtest/gtest.h>

namespace {

class FrameworkFormsTest : public ::testing::Test
{
protected:
    void SetUp() override { InstallFrameworkForms(); }
    void TearDown() override
    {
        GroupOperationAskValue = nullptr;
        GroupOperationProgress = nullptr;
    }
    TScriptedDialogsGuard dialogs;
};

// No value kind is defined for a currency column: the dialog refuses to
// open with its error and nothing is changed.
TEST_F(FrameworkFormsTest, FillOnCurrencyEndsWithTheDialogsError)
{
    TCustomMemTable table;
    table.FieldDefs().Add(QStringLiteral("ID"), ftInteger, 0, true);
    table.FieldDefs().Add(QStringLiteral("SUM"), ftCurrency);
    table.Open();
    for (int id = 1; id <= 3; ++id) {
        table.Append();
        table.FieldByName(QStringLiteral("ID"))->SetAsInteger(id);
        table.FieldByName(QStringLiteral("SUM"))->SetAsFloat(id * 10);
        table.Post();
    }
    table.First();
    TSDataSource source;
    source.SetDataSet(&table);
    try {
        RunGroupOperation(&source, table.FieldByName(QStringLiteral("SUM")), goFill);
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Ошибочное обращение к запросной форме\n\rНе задан тип значения"));
    }
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(table.ControlsDisabled());
    EXPECT_EQ(table.FieldByName(QStringLiteral("SUM"))->AsFloat(), 10.0);
}

TEST_F(FrameworkFormsTest, ProgressWindowStopsWhenTheUserCancels)
{
    const std::unique_ptr<TGroupOperationProgress> progress = GroupOperationProgress(QStringLiteral("Удаление записей"),
                                                                                     10'000);
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(progress->Advance(1));
    QProgressDialog* window = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<QProgressDialog*>(widget))
            window = found;
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->maximum(), 10'000);
    EXPECT_EQ(window->labelText(), QStringLiteral("Удаление записей"));
    window->cancel();
    EXPECT_FALSE(progress->Advance(2));
}

} // namespace
