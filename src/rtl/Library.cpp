#include "Library.h"

#include "Text.h"

#include <QFile>
#include <dlfcn.h>

HMODULE LoadLibrary(const QString& fileName, QString* error)
{
    dlerror();
    HMODULE module = dlopen(QFile::encodeName(fileName).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!module && error) {
        const char* text = dlerror();
        *error = TrimSystemMessage(QString::fromLocal8Bit(text ? text : "unknown error"));
    }
    return module;
}

HMODULE GetModuleHandle(const QString& fileName)
{
    HMODULE module = dlopen(QFile::encodeName(fileName).constData(), RTLD_NOW | RTLD_NOLOAD);
    // dlopen with RTLD_NOLOAD still counts a reference; the caller does not own one.
    if (module)
        dlclose(module);
    return module;
}

void* GetProcAddress(HMODULE module, const char* name) { return module ? dlsym(module, name) : nullptr; }

void FreeLibrary(HMODULE module)
{
    if (module)
        dlclose(module);
}
