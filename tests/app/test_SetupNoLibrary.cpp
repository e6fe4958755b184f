// The setup run when the VCERT library cannot be found.
#include "Dialogs.h"
#include "UPwd.h"
#include "Vcerterr.h"

#include <QPushButton>
#include <QtTest/QTest>
#include <gtest/gtest.h>

namespace {

TEST(SetupNoLibrary, EveryClickShowsTheLibraryMessage)
{
    TScriptedDialogsGuard dialogs;
    int bundleReads = 0;
    TForm1 form;
    form.OnActivate = nullptr;
    form.BundleSource = [&] {
        ++bundleReads;
        return QByteArray();
    };
    form.show();
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    QTest::mouseClick(form.Button1, Qt::LeftButton);

    ASSERT_EQ(dialogs->Messages.size(), 2u);
    const QString prefix = QStringLiteral("Не найдена библиотека VPKI1.DLL или один из ее компонентов: ");
    EXPECT_TRUE(dialogs->Messages[0].Text.startsWith(prefix)) << dialogs->Messages[0].Text.toStdString();
    EXPECT_TRUE(dialogs->Messages[0].Text.endsWith(QLatin1Char('.')));
    EXPECT_EQ(dialogs->Messages[1].Text, dialogs->Messages[0].Text);
    EXPECT_EQ(dialogs->Messages[0].Icon, TMsgIcon::Stop);
    EXPECT_EQ(bundleReads, 0) << "the store is opened before the bundle is read";
}

} // namespace
