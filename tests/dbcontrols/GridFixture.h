// A grid over the small in-memory table of the data set tests, shown on the
// offscreen platform, with the keys sent where a user's keys would go.
#pragma once

#include "DBGridEx.h"
#include "DataSetFixture.h"
#include "Dialogs.h"
#include "InplaceEdit.h"
#include "SysUtils.h"

#include <QApplication>
#include <QKeyEvent>
#include <QtTest/QTest>
#include <gtest/gtest.h>

namespace gridtest {

class GridTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The texts below are written in the Russian formats.
        FSavedSettings = FormatSettings();
        FormatSettings() = TFormatSettings();
        Open({{1, "Хлеб", 12.5}, {2, "Молоко", 80.1}, {3, "Соль", 7}});
    }
    void TearDown() override { FormatSettings() = FSavedSettings; }

    void Open(std::initializer_list<dbtest::TRowData> rows)
    {
        FGrid.reset();
        FTable = dbtest::MakeTable(rows);
        FSource.SetDataSet(FTable.get());
        FGrid = std::make_unique<TDBGridEx>();
        FGrid->resize(600, 300);
        FGrid->SetDataSource(&FSource);
        FGrid->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FGrid.get()));
        FGrid->setFocus();
    }

    TDBGridEx& Grid() { return *FGrid; }
    TCustomMemTable& Table() { return *FTable; }
    TDBGridModel& Model() { return *FGrid->GridModel(); }
    TField& Field(const char* name) { return *FTable->FieldByName(QString::fromLatin1(name)); }

    // Where the user's keys land: the editor while it is open, else the grid.
    QWidget* KeyTarget()
    {
        if (TInplaceEditor* editor = FGrid->InplaceEditor())
            return editor->focusProxy() ? editor->focusProxy() : editor;
        return FGrid.get();
    }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(KeyTarget(), key, modifiers);
    }
    // One key per character, as a keyboard layout would send it (QTest's
    // own typing knows only ASCII).
    void Type(const QString& text)
    {
        for (const QChar c : text) {
            const int key = c.toUpper().unicode(); // Qt's key codes are ASCII's
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
            QApplication::sendEvent(KeyTarget(), &press);
            QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
            QApplication::sendEvent(KeyTarget(), &release);
        }
    }

    QString Cell(int row, int column) { return Model().index(row, column).data().toString(); }
    QStringList Column(int column)
    {
        QStringList texts;
        for (int row = 0; row < Model().rowCount(); ++row)
            texts << Cell(row, column);
        return texts;
    }

    TFormatSettings FSavedSettings;
    TScriptedDialogsGuard FDialogs;
    std::unique_ptr<TCustomMemTable> FTable;
    TDataSource FSource;
    std::unique_ptr<TDBGridEx> FGrid;
};

} // namespace gridtest
