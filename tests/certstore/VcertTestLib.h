// Access to the recording test library the binding has loaded.
#pragma once

#include "vcert1.h"

#include <QString>
#include <QStringList>
#include <dlfcn.h>

namespace vcerttest {

// The loaded recording library's entry point, or null when none is loaded.
template <typename Fn>
Fn Entry(const char* name)
{
    void* library = dlopen("VPKI1.DLL", RTLD_NOW | RTLD_NOLOAD);
    if (!library)
        return nullptr;
    void* entry = dlsym(library, name);
    dlclose(library);
    return reinterpret_cast<Fn>(entry);
}

// The calls recorded so far, one per line, and the log then cleared.
inline QStringList TakeLog()
{
    auto log = Entry<const char* (*)()>("RecTest_Log");
    auto clear = Entry<void (*)()>("RecTest_ClearLog");
    if (!log || !clear)
        return {};
    const QStringList lines = QString::fromLatin1(log()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    clear();
    return lines;
}

inline void Set(const char* key, int value)
{
    if (auto set = Entry<void (*)(const char*, int)>("RecTest_Set"))
        set(key, value);
}

inline void Reset()
{
    if (auto reset = Entry<void (*)()>("RecTest_Reset"))
        reset();
}

} // namespace vcerttest
