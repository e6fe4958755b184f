// Dynamic libraries through the platform loader. A library is found by its
// file name the way the loader searches (LD_LIBRARY_PATH, then the calling
// executable's RUNPATH, which is $ORIGIN for our programs).
#pragma once

#include <QString>

using HMODULE = void*;

// Loads the library; on failure returns null and sets error to the loader's
// text (trailing blanks, line breaks and full stops removed).
HMODULE LoadLibrary(const QString& fileName, QString* error = nullptr);
// The library if the process has it loaded already, else null; never loads.
HMODULE GetModuleHandle(const QString& fileName);
void* GetProcAddress(HMODULE module, const char* name);
void FreeLibrary(HMODULE module);
