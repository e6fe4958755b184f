// The data-aware edit and the navigator bar over the small table.
#include "DBEdit.h"
#include "DBNavigator.h"
#include "DataSetFixture.h"
#include "Dialogs.h"
#include "QtPrinters.h"
#include "SysUtils.h"

#include <QApplication>
#include <QKeyEvent>
#include <QToolButton>
#include <QtTest/QTest>
#include <gtest/gtest.h>

namespace {

// Keys for any characters (QTest's typing knows only ASCII).
void Type(QWidget& widget, const QString& text)
{
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, c.toUpper().unicode(), Qt::NoModifier, QString(c));
        QApplication::sendEvent(&widget, &press);
    }
}

class DBEditTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FSaved = FormatSettings();
        FormatSettings() = TFormatSettings();
        FTable = dbtest::MakeTable({{1, "Хлеб", 12.5}, {2, "Молоко", 80.1}});
        FSource.SetDataSet(FTable.get());
        FEdit.SetDataSource(&FSource);
        FEdit.SetDataField(QStringLiteral("PRICE"));
        FEdit.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&FEdit));
    }
    void TearDown() override { FormatSettings() = FSaved; }
    TField& Price() { return *FTable->FieldByName(QStringLiteral("PRICE")); }

    TFormatSettings FSaved;
    TScriptedDialogsGuard FDialogs;
    std::unique_ptr<TCustomMemTable> FTable;
    TDataSource FSource;
    TDBEdit FEdit;
};

TEST_F(DBEditTest, ShowsTheCurrentRecordsFieldAndFollowsScrolling)
{
    EXPECT_EQ(FEdit.text(), "12,5");
    FTable->Next();
    EXPECT_EQ(FEdit.text(), "80,1");
    FTable->Close();
    EXPECT_EQ(FEdit.text(), "");
    EXPECT_TRUE(FEdit.isReadOnly());
}

TEST_F(DBEditTest, TypingEditsTheRecordAndPostWritesTheText)
{
    FEdit.selectAll();
    QTest::keyClicks(&FEdit, "15,75");
    EXPECT_EQ(FTable->State(), dsEdit);
    EXPECT_TRUE(FEdit.Modified());
    FTable->Post();
    EXPECT_DOUBLE_EQ(Price().AsFloat(), 15.75);
    EXPECT_FALSE(FEdit.Modified());

    // Esc shows the field's value again; the record stays in edit.
    QTest::keyClicks(&FEdit, "9");
    QTest::keyClick(&FEdit, Qt::Key_Escape);
    EXPECT_EQ(FEdit.text(), "15,75");
    FTable->Post();
    EXPECT_DOUBLE_EQ(Price().AsFloat(), 15.75);
}

TEST_F(DBEditTest, ARefusedTextFailsThePostWithTheErrorAndTheTextKept)
{
    FEdit.selectAll();
    Type(FEdit, QStringLiteral("дорого"));
    QTest::keyClick(&FEdit, Qt::Key_Return);
    ASSERT_EQ(FDialogs->Messages.size(), 1u);
    EXPECT_TRUE(FDialogs->Messages[0].Text.contains(QStringLiteral("'дорого'")))
        << FDialogs->Messages[0].Text.toStdString();
    EXPECT_EQ(FEdit.text(), "дорого");
    EXPECT_EQ(FTable->State(), dsEdit);
    EXPECT_ANY_THROW(FTable->Post());
}

TEST_F(DBEditTest, ReadOnlyFieldsAndEditsTakeNoTyping)
{
    Price().SetReadOnly(true);
    FEdit.SetDataField(QStringLiteral("NAME"));
    FEdit.SetDataField(QStringLiteral("PRICE"));
    QTest::keyClicks(&FEdit, "1");
    EXPECT_EQ(FTable->State(), dsBrowse);
    EXPECT_EQ(FEdit.text(), "12,5");
    EXPECT_EQ(FDialogs->Beeps, 1);

    Price().SetReadOnly(false);
    FEdit.SetReadOnly(true);
    QTest::keyClicks(&FEdit, "1");
    EXPECT_EQ(FTable->State(), dsBrowse);
}

TEST(DBNavigator, ButtonsFollowTheDataSetAndRunItsOperations)
{
    TScriptedDialogsGuard dialogs;
    auto table = dbtest::MakeTable({{1, "Хлеб", 12.5}, {2, "Молоко", 80.1}});
    TDataSource source;
    source.SetDataSet(table.get());
    TDBNavigator navigator;
    navigator.SetDataSource(&source);
    const auto enabled = [&](TNavigateBtn button) { return navigator.Button(button)->isEnabled(); };
    EXPECT_FALSE(enabled(nbFirst));
    EXPECT_TRUE(enabled(nbNext));
    EXPECT_FALSE(enabled(nbPost));
    navigator.BtnClick(nbLast);
    EXPECT_EQ(table->RecNo(), 2);
    EXPECT_FALSE(enabled(nbNext));
    EXPECT_TRUE(enabled(nbPrior));
    navigator.BtnClick(nbEdit);
    EXPECT_TRUE(enabled(nbPost));
    EXPECT_TRUE(enabled(nbCancel));
    EXPECT_FALSE(enabled(nbFirst));
    navigator.BtnClick(nbCancel);
    dialogs->Answers = {mrCancel};
    navigator.BtnClick(nbDelete);
    EXPECT_EQ(table->RecordCount(), 2);
    EXPECT_EQ(dialogs->Messages.at(0).Text, "Удалить запись?");
    navigator.BtnClick(nbDelete); // the first button, OK
    EXPECT_EQ(table->RecordCount(), 1);
    table->SetReadOnly(true);
    navigator.BtnClick(nbInsert); // refused: the error is shown, nothing inserted
    EXPECT_EQ(table->State(), dsBrowse);
    EXPECT_EQ(dialogs->Messages.size(), 3u);
}

} // namespace
