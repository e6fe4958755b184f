// The toolkit's exception family. Every failure of the system is one of these;
// the application's error display shows the message, EAbort shows nothing.
#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

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
