#include "Exceptions.h"

#include "ApplicationTitle.h"
#include "Dialogs.h"

#include <QFileInfo>

Exception::Exception(const QString& message, int helpContext)
    : FMessage(message), FHelpContext(helpContext), FWhat(message.toUtf8())
{
}

void Exception::SetMessage(const QString& message)
{
    FMessage = message;
    FWhat = message.toUtf8();
}

void Abort() { throw EAbort(); }

void AssertionFailed(const QString& message, const char* file, int line)
{
    const QString where =
        QStringLiteral("(%1, line %2)").arg(QFileInfo(QString::fromLocal8Bit(file)).fileName()).arg(line);
    throw EAssertionFailed(message.isEmpty() ? QStringLiteral("Assertion failed ") + where
                                             : message + QLatin1Char(' ') + where);
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

std::function<void(std::exception_ptr)>& Reporter()
{
    static std::function<void(std::exception_ptr)> reporter;
    return reporter;
}

} // namespace

bool ShowExceptionMessage(std::exception_ptr error)
{
    bool silent = false;
    const QString message = MessageOf(error, silent);
    if (!silent)
        MessageBox(ErrorDisplayText(message), ApplicationTitle(), TMsgIcon::Stop, {mbOK});
    return !silent;
}

void SetExceptionReporter(std::function<void(std::exception_ptr)> reporter) { Reporter() = std::move(reporter); }

void ReportException(std::exception_ptr error)
{
    if (Reporter())
        Reporter()(error);
    else
        ShowExceptionMessage(error);
}

void HandleExceptions(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (...) {
        ReportException(std::current_exception());
    }
}
