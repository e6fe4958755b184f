// Per-test scratch folders and environment.
#pragma once

#include <QByteArray>
#include <QTemporaryDir>
#include <optional>

// Sets an environment variable for the lifetime of the guard.
class TEnvGuard
{
public:
    TEnvGuard(const char* name, const QByteArray& value) : FName(name)
    {
        if (qEnvironmentVariableIsSet(name))
            FOld = qgetenv(name);
        qputenv(name, value);
    }
    ~TEnvGuard()
    {
        if (FOld)
            qputenv(FName, *FOld);
        else
            qunsetenv(FName);
    }
    TEnvGuard(const TEnvGuard&) = delete;
    TEnvGuard& operator=(const TEnvGuard&) = delete;

private:
    const char* FName;
    std::optional<QByteArray> FOld;
};
