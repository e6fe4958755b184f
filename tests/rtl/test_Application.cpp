// The application object: title rule, error display, dialogs facade.
#include "Application.h"
#include "Dialogs.h"
#include "Exceptions.h"
#include "Library.h"
#include "Resources.h"

#include <QCoreApplication>
#include <QEvent>
#include <gtest/gtest.h>

namespace {

TEST(ApplicationTitle, DefaultRule)
{
    const struct
    {
        const char* path;
        const char* title;
    } cases[] = {
        {"/usr/bin/certsetup", "certsetup"},
        {"/opt/x/CertSetup.EXE", "Certsetup"},
        {"/opt/x/my.app.v2", "my"},
        {"ABC", "Abc"},
        {"/opt/.hidden", ""},
        {"/opt/настройка.bin", "настройка"},
        {"/opt/НАСТРОЙКА", "Настройка"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DefaultApplicationTitle(QString::fromUtf8(c.path)), QString::fromUtf8(c.title)) << c.path;
    EXPECT_EQ(ApplicationTitle(), QStringLiteral("test_rtl"));
}

TEST(ErrorDisplay, FullStopOnlyAfterCharactersSortingAfterIt)
{
    const struct
    {
        const char* message;
        const char* shown;
    } cases[] = {
        {"Нет файла", "Нет файла."},
        {"Done.", "Done."},
        {"Настройка произведена !", "Настройка произведена !"},
        {"(x)", "(x)"},
        {"path/", "path/."},
        {"00035", "00035."},
        {"line\n", "line\n"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorDisplayText(QString::fromUtf8(c.message)), QString::fromUtf8(c.shown)) << c.message;
}

// An object whose event handler throws what it is told to.
class TThrower : public QObject
{
public:
    std::function<void()> Throw;
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User)
            Throw();
        return QObject::event(e);
    }
};

TEST(ErrorDisplay, ExceptionsNeverCrossTheEventLoop)
{
    TScriptedDialogsGuard dialogs;
    TThrower thrower;
    const std::vector<std::function<void()>> throws = {
        [] { throw Exception(QStringLiteral("Сбой")); },
        [] { throw std::runtime_error("plain"); },
        [] { Abort(); },
        [] { throw 42; },
    };
    for (const auto& t : throws) {
        thrower.Throw = t;
        QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
        QCoreApplication::processEvents();
    }
    ASSERT_EQ(dialogs->Messages.size(), 3u) << "EAbort shows nothing";
    EXPECT_EQ(dialogs->Messages[0].Text, QStringLiteral("Сбой."));
    EXPECT_EQ(dialogs->Messages[0].Caption, ApplicationTitle());
    EXPECT_EQ(dialogs->Messages[0].Icon, TMsgIcon::Stop);
    EXPECT_EQ(dialogs->Messages[0].Buttons, TMsgDlgButtons({mbOK}));
    EXPECT_EQ(dialogs->Messages[1].Text, QStringLiteral("plain."));
    EXPECT_EQ(dialogs->Messages[2].Text, QStringLiteral("Unknown exception."));
}

TEST(Dialogs, MessageDlgCaptionsIconsAndScriptedAnswers)
{
    TScriptedDialogsGuard dialogs;
    EXPECT_EQ(MessageDlg(QStringLiteral("Готово"), mtInformation, {mbOK}), mrOk);
    dialogs->Answers = {mrNo};
    EXPECT_EQ(MessageDlg(QStringLiteral("Удалить?"), mtConfirmation, mbYesNo), mrNo);
    EXPECT_EQ(MessageDlg(QStringLiteral("Продолжить?"), mtWarning, mbOKCancel), mrOk);
    ShowMessage(QStringLiteral("Привет"));

    ASSERT_EQ(dialogs->Messages.size(), 4u);
    EXPECT_EQ(dialogs->Messages[0].Caption, QStringLiteral("Информация"));
    EXPECT_EQ(dialogs->Messages[0].Icon, TMsgIcon::Information);
    EXPECT_EQ(dialogs->Messages[1].Caption, QStringLiteral("Подтверждение"));
    EXPECT_EQ(dialogs->Messages[1].Icon, TMsgIcon::Question);
    EXPECT_EQ(dialogs->Messages[2].Caption, QStringLiteral("Предупреждение"));
    EXPECT_EQ(dialogs->Messages[3].Caption, ApplicationTitle());
    EXPECT_EQ(dialogs->Messages[3].Icon, TMsgIcon::None);

    QString value = QStringLiteral("old");
    EXPECT_FALSE(InputQuery(QStringLiteral("Поиск"), QStringLiteral("Текст"), value));
    EXPECT_EQ(value, QStringLiteral("old"));
    dialogs->Inputs = {{true, QStringLiteral("new")}};
    EXPECT_TRUE(InputQuery(QStringLiteral("Поиск"), QStringLiteral("Текст"), value));
    EXPECT_EQ(value, QStringLiteral("new"));
}

TEST(Exceptions, AssertionNamesFileAndLine)
{
    try {
        RTL_ASSERT(1 + 1 == 3, QStringLiteral("Сломано"));
        FAIL();
    } catch (const EAssertionFailed& e) {
        EXPECT_TRUE(e.Message().startsWith(QStringLiteral("Сломано (test_Application.cpp, line ")))
            << e.Message().toStdString();
    }
    try {
        RTL_ASSERT(false, QString());
        FAIL();
    } catch (const EAssertionFailed& e) {
        EXPECT_TRUE(e.Message().startsWith(QStringLiteral("Assertion failed (test_Application.cpp")));
    }
    const Exception e(QStringLiteral("Ошибка"), 17);
    EXPECT_STREQ(e.what(), "Ошибка");
    EXPECT_EQ(e.HelpContext(), 17);
}

TEST(Platform, LibraryAndResourceLookups)
{
    QString error;
    EXPECT_EQ(LoadLibrary(QStringLiteral("NO-SUCH-LIBRARY.DLL"), &error), nullptr);
    EXPECT_TRUE(error.contains(QStringLiteral("NO-SUCH-LIBRARY.DLL"))) << error.toStdString();
    EXPECT_FALSE(error.endsWith(QLatin1Char('.')) || error.endsWith(QLatin1Char('\n')));
    EXPECT_EQ(GetModuleHandle(QStringLiteral("NO-SUCH-LIBRARY.DLL")), nullptr);

    HMODULE libc = GetModuleHandle(QStringLiteral("libc.so.6"));
    ASSERT_NE(libc, nullptr) << "libc is loaded in every process";
    EXPECT_NE(GetProcAddress(libc, "strlen"), nullptr);
    EXPECT_EQ(GetProcAddress(libc, "no_such_function_here"), nullptr);

    EXPECT_TRUE(LoadResourceBytes(QStringLiteral("NO-SUCH-RESOURCE")).isEmpty());
}

} // namespace
