/* The functions of the stand-in VCERT library that do real work; every other
   name of VCERT_PROC_TABLE is exported too and answers "not supported". */
#ifndef VPKI1_VCERT_H
#define VPKI1_VCERT_H

#include "vcertabi.h"

#define VCERT_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

VCERT_EXPORT int32_t VCERT_Initialize(const char* store, int32_t mode, int32_t* handle);
VCERT_EXPORT int32_t VCERT_Uninitialize(int32_t handle);
VCERT_EXPORT int32_t VCERT_FindCert(int32_t handle, const int32_t params[VCERT_FIND_PARAM_WORDS],
                                    VCERT_FindResult* result);
VCERT_EXPORT int32_t VCERT_FreeFindResult(int32_t handle, VCERT_FindResult* result);
VCERT_EXPORT int32_t VCERT_ImportMem(int32_t handle, const VCERT_ImportParams* params, const VCERT_MemBlock* block);
VCERT_EXPORT int32_t VCERT_GetErrorText(int32_t code, char* buffer, int32_t size);

#ifdef __cplusplus
}
#endif

#endif
