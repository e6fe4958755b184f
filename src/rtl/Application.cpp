#include "Application.h"

#include "Dialogs.h"
#include "Exceptions.h"
#include "QtDialogs.h"
#include "TerminationSignals.h"

#include <QGuiApplication>
#include <QWidget>

void ShowException(std::exception_ptr error)
{
    if (!ShowExceptionMessage(error))
        return;
    if (TApplication* app = Application(); app && !app->Interactive())
        app->ReportedWithoutScreen();
}

namespace {

// Platforms that draw for nobody.
bool ScreenlessPlatform()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

} // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // Before the database client's first attachment, so that its own
    // handlers leave the connections to us.
    FSignals = new TTerminationSignals(
        [this](int signal) {
            if (OnTerminationSignal)
                OnTerminationSignal(signal);
            else
                CloseWindowsAsUser();
        },
        this);
    // Questions and notices are shown in message boxes from now on, where
    // somebody can see them.
    SetInteractive(!ScreenlessPlatform());
    SetExceptionReporter([this](std::exception_ptr error) {
        if (OnException)
            OnException(error);
        else
            ShowException(error);
    });
}

TApplication::~TApplication()
{
    // No message box outlives the application object.
    SetExceptionReporter(nullptr);
    SetDialogBackend(nullptr);
}

void TApplication::RegisterForm(QWidget* form)
{
    form->setAttribute(Qt::WA_DeleteOnClose);
    if (!FMainForm)
        FMainForm = form;
}

void TApplication::SetInteractive(bool value)
{
    FInteractive = value;
    SetDialogBackend(value ? MakeQtDialogs() : MakeHeadlessDialogs());
}

void TApplication::ReportedWithoutScreen()
{
    FFailed = true;
    QCoreApplication::exit(1); // before the loop, Run returns 1 at once
}

void TApplication::CloseWindowsAsUser()
{
    closeAllWindows();
    // A window that closed ends the loop by itself; when none was shown
    // (before the first, or a program without one) the loop ends here.
    for (QWidget* window : topLevelWidgets())
        if (window->isVisible())
            return; // it stays, as a user's answer kept it
    quit();
}

int TApplication::Run()
{
    if (FFailed)
        return 1;
    if (FMainForm)
        FMainForm->show();
    return exec();
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    bool handled = false;
    HandleExceptions([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

TApplication* Application() { return qobject_cast<TApplication*>(QCoreApplication::instance()); }
