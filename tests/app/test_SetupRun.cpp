// The whole setup run against the stand-in VCERT library, with the real root
// bundle and with bundles made on the spot.
#include "Application.h"
#include "Dialogs.h"
#include "SetupRunFixture.h"
#include "TempDir.h"
#include "UPwd.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>
#include <gtest/gtest.h>

namespace {

const QString Done = QStringLiteral("Настройка произведена !");

class SetupRunTest : public ::testing::Test
{
protected:
    QTemporaryDir FStores;
    TEnvGuard FStoreDir{"VCERT_STORE_DIR", QFile::encodeName(FStores.path())};

    int StoredCount(const char* pattern) const
    {
        return int(
            QDir(FStores.path() + QStringLiteral("/My")).entryList({QLatin1String(pattern)}, QDir::Files).size());
    }
};

TEST_F(SetupRunTest, RootBundleEndsUpInTheStore)
{
    TScriptedDialogsGuard dialogs;
    RunCertificateSetup(LoadRootBundle);
    EXPECT_EQ(StoredCount("*.cer"), 10);
    EXPECT_EQ(StoredCount("*.crl"), 9);
    ASSERT_EQ(dialogs->Messages.size(), 1u);
    const TMessageRequest& message = dialogs->Messages[0];
    EXPECT_EQ(message.Text, Done);
    EXPECT_EQ(message.Caption, QStringLiteral("Информация"));
    EXPECT_EQ(message.Icon, TMsgIcon::Information);
    EXPECT_EQ(message.Buttons, TMsgDlgButtons({mbOK}));

    // A second run finds everything in place and still completes.
    RunCertificateSetup(LoadRootBundle);
    EXPECT_EQ(StoredCount("*.cer"), 10);
    EXPECT_EQ(StoredCount("*.crl"), 9);
    EXPECT_EQ(dialogs->Messages.size(), 2u);
}

TEST_F(SetupRunTest, BundlesWithNothingToImportStillComplete)
{
    const QByteArray bundles[] = {
        setuptest::Bundle({}),
        setuptest::Bundle({{QStringLiteral("readme.txt"), "text"}, {QStringLiteral("a.cer.bak"), "\x30"}}),
        // Everything refused by the library: not DER at all.
        setuptest::Bundle({{QStringLiteral("a.cer"), "junk"}, {QStringLiteral("b.CRL"), "junk"}}),
    };
    for (const QByteArray& bundle : bundles) {
        TScriptedDialogsGuard dialogs;
        RunCertificateSetup([&] { return bundle; });
        ASSERT_EQ(dialogs->Messages.size(), 1u);
        EXPECT_EQ(dialogs->Messages[0].Text, Done);
        EXPECT_EQ(StoredCount("*"), 0);
    }
}

TEST_F(SetupRunTest, FailuresReachTheErrorDisplayThroughTheButton)
{
    const struct
    {
        QByteArray bundle;
        QString shown;
    } cases[] = {
        {QByteArray(), QStringLiteral("Не найдена информация о корневых сертификатах.")},
        {QByteArray("this is not an archive"), QStringLiteral("Invalid archive file. - Native error: 00035.")},
    };
    TForm1 form;
    form.OnActivate = nullptr; // clicks only: no automatic run here
    form.show();
    for (const auto& c : cases) {
        TScriptedDialogsGuard dialogs;
        form.BundleSource = [&] { return c.bundle; };
        QTest::mouseClick(form.Button1, Qt::LeftButton);
        ASSERT_EQ(dialogs->Messages.size(), 1u);
        EXPECT_EQ(dialogs->Messages[0].Text, c.shown);
        EXPECT_EQ(dialogs->Messages[0].Caption, ApplicationTitle());
        EXPECT_EQ(dialogs->Messages[0].Icon, TMsgIcon::Stop);
        EXPECT_TRUE(form.isVisible()) << "the dialog stays open";
    }
}

TEST_F(SetupRunTest, DialogRunsOnceByItselfAndOncePerClick)
{
    // Real message boxes, closed as a user would, so that the dialog is
    // re-activated when each one closes.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();
    });
    closer.start(20);

    int runs = 0;
    TForm1 form;
    form.BundleSource = [&] {
        ++runs;
        return setuptest::Bundle({});
    };
    form.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return runs == 1; }, 5000));
    QTest::qWait(300);
    EXPECT_EQ(runs, 1) << "closing the completion message must not start another run";

    QTest::mouseClick(form.Button1, Qt::LeftButton);
    QTest::qWait(300);
    EXPECT_EQ(runs, 2);
}

TEST(DialogDesign, PropertiesOfTheDialog)
{
    TForm1 form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Настроить справочник сертификатов"));
    EXPECT_EQ(form.size(), QSize(363, 60));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "a fixed dialog frame";
    EXPECT_EQ(form.Button1->geometry(), QRect(8, 8, 345, 45));
    EXPECT_EQ(form.Button1->text(), form.windowTitle());
}

} // namespace
