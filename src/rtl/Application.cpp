#include "Application.h"

#include "Dialogs.h"
#include "Exceptions.h"

#include <QFileInfo>
#include <QWidget>

QString DefaultApplicationTitle(const QString& executablePath)
{
    QString name = QFileInfo(executablePath).fileName();
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    return name.left(1) + name.mid(1).toLower();
}

QString ApplicationTitle()
{
    if (TApplication* app = Application())
        return app->Title();
    return DefaultApplicationTitle(QCoreApplication::applicationFilePath());
}

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

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

QString TApplication::Title() const
{
    return FTitle.isEmpty() ? DefaultApplicationTitle(applicationFilePath()) : FTitle;
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

TApplication* Application()
{
    return qobject_cast<TApplication*>(QCoreApplication::instance());
}
