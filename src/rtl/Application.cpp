#include "Application.h"

#include "Dialogs.h"
#include "Exceptions.h"
#include "QtDialogs.h"

#include <QWidget>

QString ErrorDisplayText(const QString& message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

namespace {

QString MessageOf(std::exception_ptr error, bool& silent)
{
    silent = false;
    try {
        std::rethrow_exception(error);
    } catch (const EAbort&) {
        silent = true;
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unknown exception");
    }
    return {};
}

} // namespace

void ShowException(std::exception_ptr error)
{
    bool silent = false;
    const QString message = MessageOf(error, silent);
    if (silent)
        return;
    MessageBox(ErrorDisplayText(message), ApplicationTitle(), TMsgIcon::Stop, {mbOK});
}

void HandleExceptions(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        if (TApplication* app = Application(); app && app->OnException)
            app->OnException(error);
        else
            ShowException(error);
    }
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // Questions and notices are shown in message boxes from now on.
    SetDialogBackend(MakeQtDialogs());
}

TApplication::~TApplication()
{
    // No message box outlives the application object.
    SetDialogBackend(nullptr);
}

void TApplication::RegisterForm(QWidget* form)
{
    form->setAttribute(Qt::WA_DeleteOnClose);
    if (!FMainForm)
        FMainForm = form;
}

int TApplication::Run()
{
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
