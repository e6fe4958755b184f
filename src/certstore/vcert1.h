// Lazy binding of the VCERT library "VPKI1.DLL": one load attempt per process
// on first use; afterwards every wrapper either calls into the library or
// returns the binding's status (-1 not loaded, -2 a function missing).
#pragma once

#include "vcertabi.h"

#include <QString>
#include <array>
#include <cstdint>

enum TDLLProcs {
#define VCERT_ENUM_VALUE(name) fn##name,
    VCERT_PROC_TABLE(VCERT_ENUM_VALUE)
#undef VCERT_ENUM_VALUE
};

inline constexpr int VCertProcCount = VCERT_PROC_COUNT;
static_assert(fnAttachSignFile + 1 == VCertProcCount);

inline constexpr int32_t VCERT_LIB_NOT_LOADED = -1;
inline constexpr int32_t VCERT_FUNCTION_MISSING = -2;

extern const QString VCertLibName; // "VPKI1.DLL"

// The exported name of a table entry: "VCERT_" and the value name without "fn".
QString VCertProcName(TDLLProcs proc);

// 0 when bound; otherwise the outcome of the one load attempt (made now if
// it has not been made yet).
int32_t VCertLibStatus();

// What the load attempt kept: the loader's text for a failed load (empty if
// the load did not fail) and the full name of the first missing function.
QString VCertLoadError();
QString VCertMissingFunction();
// The resolved entry point at an index; null until resolved.
void* VCertProc(TDLLProcs proc);

// Wrappers: the library's result, or the binding status when not bound.
int32_t VCERT_Initialize(const char* store, int32_t mode, int32_t* handle);
int32_t VCERT_Uninitialize(int32_t handle);
int32_t VCERT_FindCert(int32_t handle, const int32_t params[VCERT_FIND_PARAM_WORDS], VCERT_FindResult* result);
int32_t VCERT_FreeFindResult(int32_t handle, VCERT_FindResult* result);
int32_t VCERT_ImportMem(int32_t handle, const VCERT_ImportParams* params, const VCERT_MemBlock* block);
