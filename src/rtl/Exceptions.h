// The toolkit's exception family. Every failure of the system is one of these;
// the application's error display shows the message, EAbort shows nothing.
#pragma once

#include <QByteArray>
#include <QString>
#include <exception>
#include <functional>

class Exception : public std::exception
{
public:
    explicit Exception(const QString& message, int helpContext = 0);

    const QString& Message() const noexcept { return FMessage; }
    void SetMessage(const QString& message);
    int HelpContext() const noexcept { return FHelpContext; }

    const char* what() const noexcept override { return FWhat.constData(); }

private:
    QString FMessage;
    int FHelpContext;
    QByteArray FWhat; // UTF-8 copy for std::exception users
};

// The silent abort: a cancelled user request. Nothing displays it.
class EAbort : public Exception
{
public:
    EAbort() : Exception(QStringLiteral("Operation aborted")) {}
    using Exception::Exception;
};

class EAssertionFailed : public Exception
{
public:
    using Exception::Exception;
};

class EConvertError : public Exception
{
public:
    using Exception::Exception;
};

class EDatabaseError : public Exception
{
public:
    using Exception::Exception;
};

[[noreturn]] void Abort();

// Raises EAssertionFailed with "<message> (<file>, line <n>)" (or "Assertion
// failed (...)" without a message); file is reduced to its name.
[[noreturn]] void AssertionFailed(const QString& message, const char* file, int line);

// A programming-error check that stays in release builds.
#define RTL_ASSERT(cond, message)                                                                                      \
    do {                                                                                                               \
        if (!(cond))                                                                                                   \
            ::AssertionFailed((message), __FILE__, __LINE__);                                                          \
    } while (false)

// The text the error display shows for a message: a full stop is appended
// when the last character sorts after ".".
QString ErrorDisplayText(const QString& message);

// Runs fn and reports whatever it throws. Every entry of ours that Qt calls
// (a slot, an event handler) goes through this or a catch of its own: Qt is
// built without exceptions, and one unwinding through its frames would skip
// their clean-up.
void HandleExceptions(const std::function<void()>& fn);
// Reports an exception that reached such an entry: through the reporter the
// application object installs, or else in a message box of the dialog facade
// (message, application title, stop icon, OK). EAbort shows nothing.
void ReportException(std::exception_ptr error);
// Installs the reporter; an empty one restores the message box.
void SetExceptionReporter(std::function<void(std::exception_ptr)> reporter);
// The message box of the default report, for reporters that add to it;
// answers whether it showed one (not for EAbort).
bool ShowExceptionMessage(std::exception_ptr error);
