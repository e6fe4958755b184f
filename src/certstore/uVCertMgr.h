// The certificate manager: one open store of the VCERT library. Creating it
// opens the store and reads the description of its current certificate;
// destroying it closes the store. Every non-zero library status is raised
// as VCERT_Error.
#pragma once

#include "DateTime.h"
#include "Exceptions.h"
#include "Library.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class VCERT_Error : public Exception
{
public:
    VCERT_Error(const QString& message, int32_t code) : Exception(message), Code(code) {}
    int32_t Code;
};

// An unsorted list of names, each with a text value the list owns.
class THashList
{
public:
    struct TData
    {
        QString Value;
    };

    void Add(const QString& name, const QString& value);
    int Count() const { return static_cast<int>(FItems.size()); }
    const QString& Name(int index) const { return FItems.at(index).Name; }
    const QString& Value(int index) const { return FItems.at(index).Data->Value; }
    void Clear() { FItems.clear(); }

private:
    struct TItem
    {
        QString Name;
        std::unique_ptr<TData> Data;
    };
    std::vector<TItem> FItems;
};

// The library version as four 16-bit parts, major highest; nothing sets it.
extern uint64_t VCertLibVersion;
constexpr uint64_t MakeLibVersion(uint16_t major, uint16_t minor, uint16_t release, uint16_t build)
{
    return (uint64_t(major) << 48) | (uint64_t(minor) << 32) | (uint64_t(release) << 16) | build;
}

// Seconds since 1970 UTC -> local date-time, through the FAT packed format
// (2-second resolution); 0 outside the years 1980..2107.
TDateTime CertTimeToDateTime(uint32_t seconds);
// "\xHH" escapes of UTF-8 bytes (as the library writes non-ASCII text) back
// to text; the part before the first escape is taken as it is.
QString DecodeEscapedText(const QByteArray& text);

class TVCertMgr
{
public:
    // Entry points of the companion libraries; each may stay empty.
    struct TCompanionProcs
    {
        void* InitKey = nullptr;
        void* verba_key_set = nullptr;
        void* ResetKeyEx = nullptr;
        void* GetDrvInfo = nullptr;
        void* VCERT_cert_find_private_key = nullptr;
        void* X509_free = nullptr;
        void* d2i_X509 = nullptr;
        void* VCERT_SignMem_ex = nullptr;
        void* VCERT_DecryptMem_ex = nullptr;
        void* VCERT_VerifyMem_ex = nullptr;
        void* VCERT_ImportMem_ex = nullptr;
        void* VCERT_P7Sign_Merge = nullptr;
        void* VCERT_CRL_List_free = nullptr;
        void* VCERT_GetCRL_List = nullptr;
    };

    // An empty or blank store name opens "My".
    explicit TVCertMgr(const QString& storeName);
    ~TVCertMgr();
    TVCertMgr(const TVCertMgr&) = delete;
    TVCertMgr& operator=(const TVCertMgr&) = delete;

    void ImportCertificate(const QByteArray& data);
    void ImportCRL(const QByteArray& data);

    // Raises VCERT_Error for a non-zero status.
    static void Check(int32_t status);

    int32_t StoreHandle() const { return FStoreHandle; }
    const TCompanionProcs& CompanionProcs() const { return FProcs; }
    THashList* List1() const { return FList1.get(); }
    THashList* List2() const { return FList2.get(); }

    // The store's current certificate; empty texts and zero dates when none.
    QString Text1, Text2, Text3, Text4;
    TDateTime Period1From = 0, Period1To = 0, Period2From = 0, Period2To = 0;

private:
    void ReadCurrentCertificate();
    void BindCompanionLibraries();
    void Import(const QByteArray& data, int32_t kind);
    void Release() noexcept;

    int32_t FStoreHandle = 0;
    HMODULE FVersionedLibrary = nullptr;
    bool FOwnsVersionedLibrary = false;
    TCompanionProcs FProcs;
    std::unique_ptr<THashList> FList1;
    std::unique_ptr<THashList> FList2;
};
