/* The VCERT library's binary interface as this program calls it: the table of
   its 51 exported functions (in binding order) and the records passed to the
   functions the program uses. Plain C, shared by the binding, the stand-in
   library and the test libraries. */
#ifndef VCERTABI_H
#define VCERTABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* X(name): the exported name is VCERT_<name>; the order is the binding's index
   order and must not change (the last ten stand out of alphabetical order). */
/* clang-format off */
#define VCERT_PROC_TABLE(X)                                                        \
    X(AddCRL) X(AddCertificate) X(AllocMem) X(DecryptAndVerifyFile)                \
    X(DecryptAndVerifyMem) X(DecryptFile) X(DecryptMem) X(EncryptFile)             \
    X(EncryptMem) X(EncryptedInfoFile) X(EncryptedInfoMem) X(FindCert)             \
    X(FreeCert) X(FreeCertId) X(FreeDecryptResult) X(FreeEncryptedInfoResult)      \
    X(FreeFindResult) X(FreeMem) X(FreeSignedInfoResult) X(FreeVerifyResult)       \
    X(GenRandom) X(GetErrorText) X(HashFile) X(HashMem) X(Initialize)              \
    X(InitializeEx) X(Match) X(ParseCert) X(SetAuthData) X(ShowCertificate)        \
    X(SignAndEncryptFile) X(SignAndEncryptMem) X(SignFile) X(SignMem)              \
    X(SignedInfoFile) X(SignedInfoMem) X(Uninitialize) X(VerifyAndSignFile)        \
    X(VerifyAndSignMem) X(VerifyFile) X(VerifyMem) X(UpdateCRLs) X(VerifyCert)     \
    X(ImportMem) X(ImportFile) X(ExportMem) X(ExportFile) X(DetachSignMem)         \
    X(DetachSignFile) X(AttachSignMem) X(AttachSignFile)
/* clang-format on */

#define VCERT_PROC_COUNT 51

/* Import kinds. */
#define VCERT_IMPORT_CERTIFICATE 2
#define VCERT_IMPORT_CRL 4

/* Search parameters: 56 32-bit words, all zero but the first and the last. */
#define VCERT_FIND_PARAM_WORDS 56
#define VCERT_FIND_PARAM_FIRST 1
#define VCERT_FIND_PARAM_LAST 0x7FFFF

typedef struct VCERT_MemBlock
{
    int32_t length;
    const uint8_t* data;
} VCERT_MemBlock;

typedef struct VCERT_ImportParams
{
    int32_t kind;
    int32_t reserved;
} VCERT_ImportParams;

/* Description of a found certificate: texts are NUL-terminated ANSI (CP1251),
   times are seconds since 1970-01-01 UTC. */
typedef struct VCERT_CertInfo
{
    int32_t reserved0;
    const char* text1;
    const char* text2;
    const char* text3;
    int32_t reserved16;
    uint32_t period1From;
    uint32_t period1To;
    int32_t reserved28[3];
    uint32_t period2From;
    uint32_t period2To;
    int32_t reserved48[30];
    const char* text4;
} VCERT_CertInfo;

typedef struct VCERT_FindResult
{
    int32_t count;
    const VCERT_CertInfo* first;
} VCERT_FindResult;

typedef int32_t (*VCERT_Initialize_t)(const char* store, int32_t mode, int32_t* handle);
typedef int32_t (*VCERT_Uninitialize_t)(int32_t handle);
typedef int32_t (*VCERT_FindCert_t)(int32_t handle, const int32_t params[VCERT_FIND_PARAM_WORDS],
                                    VCERT_FindResult* result);
typedef int32_t (*VCERT_FreeFindResult_t)(int32_t handle, VCERT_FindResult* result);
typedef int32_t (*VCERT_ImportMem_t)(int32_t handle, const VCERT_ImportParams* params, const VCERT_MemBlock* block);
typedef int32_t (*VCERT_GetErrorText_t)(int32_t code, char* buffer, int32_t size);
/* Every other function of the table: no arguments this program passes. */
typedef int32_t (*VCERT_Other_t)(void);

#ifdef __cplusplus
}
#endif

#endif
