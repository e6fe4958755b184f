// The action module for the length of a test, and a form like the
// framework's: a framework grid and a data-aware edit over the framework's
// data source of a small in-memory table, plus a plain line edit, shown on
// the offscreen platform with the focus where the test puts it.
#pragma once

#include "CommonInterface.h"
#include "CommonInterfaceRes.h"
#include "DBEdit.h"
#include "DBSGridEx.h"
#include "Dialogs.h"
#include "FilterFixture.h"
#include "ServiceActions.h"

#include <QApplication>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QtTest/QTest>
#include <gtest/gtest.h>

class TActionFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CreateCommonInterface();
        FData = std::make_unique<filtertest::TTable>(filtertest::PlainRows(5));
        FForm = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(FForm.get());
        FGrid = new TDBSGridEx(FForm.get());
        FGrid->SetDataSource(&FData->Source);
        FEdit = new TDBEdit(FForm.get());
        FEdit->SetDataSource(&FData->Source);
        FEdit->SetDataField(QStringLiteral("NAME"));
        FLine = new QLineEdit(FForm.get());
        layout->addWidget(FGrid);
        layout->addWidget(FEdit);
        layout->addWidget(FLine);
        FForm->resize(600, 400);
        FForm->show();
        QApplication::setActiveWindow(FForm.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(FForm.get()));
        Focus(FGrid);
    }
    void TearDown() override
    {
        FForm.reset();
        FData.reset();
        FreeCommonInterface();
    }

    void Focus(QWidget* widget)
    {
        widget->setFocus();
        QApplication::processEvents();
        ASSERT_EQ(QApplication::focusWidget(), widget);
    }
    static TAction& Action(const char* name)
    {
        TAction* action = I()->Action(QString::fromLatin1(name));
        EXPECT_NE(action, nullptr) << name;
        return *action;
    }
    TCustomMemTable& Table() { return *FData->Table; }
    TSDataSource& Source() { return FData->Source; }
    TMemRecordMarker& Marker() { return *FData->Source.RecordMarker(); }

    std::unique_ptr<filtertest::TTable> FData;
    std::unique_ptr<QWidget> FForm;
    TDBSGridEx* FGrid = nullptr;
    TDBEdit* FEdit = nullptr;
    QLineEdit* FLine = nullptr;
};
