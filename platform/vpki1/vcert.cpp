// The exported C functions of VPKI1.DLL over the store in store.cpp.
#include "vcert.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

#include "encoding.h"
#include "status.h"
#include "store.h"

namespace {

using namespace vpki1;

static_assert(std::is_same_v<decltype(&VCERT_Initialize), VCERT_Initialize_t>);
static_assert(std::is_same_v<decltype(&VCERT_Uninitialize), VCERT_Uninitialize_t>);
static_assert(std::is_same_v<decltype(&VCERT_FindCert), VCERT_FindCert_t>);
static_assert(std::is_same_v<decltype(&VCERT_FreeFindResult), VCERT_FreeFindResult_t>);
static_assert(std::is_same_v<decltype(&VCERT_ImportMem), VCERT_ImportMem_t>);
static_assert(std::is_same_v<decltype(&VCERT_GetErrorText), VCERT_GetErrorText_t>);

// A VCERT_CertInfo handed out by FindCert together with the texts it points to.
struct FoundCert
{
    VCERT_CertInfo info{};
    std::string serial;
    std::string issuer;
    std::string subject;
    std::string fingerprint;
};

struct Session
{
    explicit Session(std::filesystem::path folder) : store(std::move(folder)) {}

    const Store store;
    std::mutex mutex; // guards `found`
    // Results not yet given back through FreeFindResult; dropped with the session.
    std::map<const VCERT_CertInfo*, std::unique_ptr<FoundCert>> found;
};

class SessionTable
{
public:
    // Handles are the smallest free positive numbers.
    int32_t add(std::shared_ptr<Session> session)
    {
        std::lock_guard lock(mutex_);
        int32_t handle = 1;
        for (const auto& entry : sessions_) {
            if (entry.first != handle)
                break;
            ++handle;
        }
        sessions_.emplace(handle, std::move(session));
        return handle;
    }

    std::shared_ptr<Session> find(int32_t handle)
    {
        std::lock_guard lock(mutex_);
        const auto it = sessions_.find(handle);
        return it == sessions_.end() ? nullptr : it->second;
    }

    std::shared_ptr<Session> remove(int32_t handle)
    {
        std::lock_guard lock(mutex_);
        const auto it = sessions_.find(handle);
        if (it == sessions_.end())
            return nullptr;
        std::shared_ptr<Session> session = std::move(it->second);
        sessions_.erase(it);
        return session;
    }

private:
    std::mutex mutex_;
    std::map<int32_t, std::shared_ptr<Session>> sessions_;
};

SessionTable& Sessions()
{
    static SessionTable table;
    return table;
}

// No C++ exception may cross into the caller.
template <typename Body>
int32_t Guarded(Body body) noexcept
{
    try {
        return body();
    } catch (...) {
        return kInternalError;
    }
}

uint32_t ClampSeconds(int64_t seconds)
{
    return static_cast<uint32_t>(std::clamp<int64_t>(seconds, 0, std::numeric_limits<uint32_t>::max()));
}

std::unique_ptr<FoundCert> MakeFoundCert(const ObjectInfo& object)
{
    auto found = std::make_unique<FoundCert>();
    found->serial = object.serialHex;
    found->issuer = Utf8ToCp1251(object.issuer);
    found->subject = EscapeHighBytes(object.subject);
    found->fingerprint = object.fingerprint;
    VCERT_CertInfo& info = found->info;
    info.text1 = found->serial.c_str();
    info.text2 = found->issuer.c_str();
    info.text3 = found->subject.c_str();
    info.text4 = found->fingerprint.c_str();
    info.period1From = info.period2From = ClampSeconds(object.validFrom);
    info.period1To = info.period2To = ClampSeconds(object.validTo);
    return found;
}

} // namespace

extern "C" {

// `mode` is accepted and ignored: every store opens for reading and writing.
int32_t VCERT_Initialize(const char* store, int32_t /*mode*/, int32_t* handle)
{
    ClearStatusDetail();
    return Guarded([&]() -> int32_t {
        if (handle != nullptr)
            *handle = 0;
        if (store == nullptr || handle == nullptr)
            return kInvalidArgument;
        const std::optional<std::string> name = Cp1251ToUtf8(store);
        if (!name)
            return kBadStoreName;
        if (const Status status = CheckStoreName(*name); status != kOk)
            return status;
        auto session = std::make_shared<Session>(StorePath(*name));
        if (const Status status = session->store.create(); status != kOk)
            return status;
        *handle = Sessions().add(std::move(session));
        return kOk;
    });
}

int32_t VCERT_Uninitialize(int32_t handle)
{
    return Guarded([&]() -> int32_t { return Sessions().remove(handle) ? kOk : kUnknownHandle; });
}

int32_t VCERT_ImportMem(int32_t handle, const VCERT_ImportParams* params, const VCERT_MemBlock* block)
{
    ClearStatusDetail();
    return Guarded([&]() -> int32_t {
        const std::shared_ptr<Session> session = Sessions().find(handle);
        if (!session)
            return kUnknownHandle;
        if (params == nullptr || block == nullptr)
            return kInvalidArgument;
        ObjectKind kind;
        if (params->kind == VCERT_IMPORT_CERTIFICATE)
            kind = ObjectKind::Certificate;
        else if (params->kind == VCERT_IMPORT_CRL)
            kind = ObjectKind::Crl;
        else
            return kUnsupportedKind;
        if (block->length < 0 || (block->length > 0 && block->data == nullptr))
            return kInvalidArgument;
        return session->store.import(kind, {block->data, static_cast<size_t>(block->length)});
    });
}

// Describes the first certificate of the store (by file name) and counts them
// all; the search parameters select nothing more in this library.
int32_t VCERT_FindCert(int32_t handle, const int32_t params[VCERT_FIND_PARAM_WORDS], VCERT_FindResult* result)
{
    return Guarded([&]() -> int32_t {
        if (result != nullptr)
            *result = {};
        const std::shared_ptr<Session> session = Sessions().find(handle);
        if (!session)
            return kUnknownHandle;
        if (params == nullptr || result == nullptr)
            return kInvalidArgument;
        std::vector<ObjectInfo> certificates;
        if (const Status status = session->store.list(certificates, ObjectKind::Certificate); status != kOk)
            return status;
        if (certificates.empty())
            return kOk;
        std::unique_ptr<FoundCert> found = MakeFoundCert(certificates.front());
        const VCERT_CertInfo* first = &found->info;
        {
            std::lock_guard lock(session->mutex);
            session->found.emplace(first, std::move(found));
        }
        result->count = static_cast<int32_t>(
            std::min<size_t>(certificates.size(), std::numeric_limits<int32_t>::max()));
        result->first = first;
        return kOk;
    });
}

int32_t VCERT_FreeFindResult(int32_t handle, VCERT_FindResult* result)
{
    return Guarded([&]() -> int32_t {
        const std::shared_ptr<Session> session = Sessions().find(handle);
        if (!session)
            return kUnknownHandle;
        if (result == nullptr)
            return kInvalidArgument;
        if (result->first != nullptr) {
            std::lock_guard lock(session->mutex);
            // Only what this handle handed out, and only once.
            if (session->found.erase(result->first) == 0)
                return kInvalidArgument;
        }
        *result = {};
        return kOk;
    });
}

int32_t VCERT_GetErrorText(int32_t code, char* buffer, int32_t size)
{
    return Guarded([&]() -> int32_t {
        if (buffer == nullptr || size <= 0)
            return kOk;
        std::string utf8 = StatusText(code);
        if (const std::string detail = StatusDetail(code); !detail.empty())
            utf8 += ": " + detail;
        const std::string text = Utf8ToCp1251(utf8);
        const size_t length = std::min(text.size(), static_cast<size_t>(size) - 1);
        std::memcpy(buffer, text.data(), length);
        buffer[length] = '\0';
        return kOk;
    });
}

#define VCERT_UNSUPPORTED(name)                                                                                        \
    VCERT_EXPORT int32_t VCERT_##name(void) { return kNotSupported; }

VCERT_UNSUPPORTED(AddCRL)
VCERT_UNSUPPORTED(AddCertificate)
VCERT_UNSUPPORTED(AllocMem)
VCERT_UNSUPPORTED(DecryptAndVerifyFile)
VCERT_UNSUPPORTED(DecryptAndVerifyMem)
VCERT_UNSUPPORTED(DecryptFile)
VCERT_UNSUPPORTED(DecryptMem)
VCERT_UNSUPPORTED(EncryptFile)
VCERT_UNSUPPORTED(EncryptMem)
VCERT_UNSUPPORTED(EncryptedInfoFile)
VCERT_UNSUPPORTED(EncryptedInfoMem)
VCERT_UNSUPPORTED(FreeCert)
VCERT_UNSUPPORTED(FreeCertId)
VCERT_UNSUPPORTED(FreeDecryptResult)
VCERT_UNSUPPORTED(FreeEncryptedInfoResult)
VCERT_UNSUPPORTED(FreeMem)
VCERT_UNSUPPORTED(FreeSignedInfoResult)
VCERT_UNSUPPORTED(FreeVerifyResult)
VCERT_UNSUPPORTED(GenRandom)
VCERT_UNSUPPORTED(HashFile)
VCERT_UNSUPPORTED(HashMem)
VCERT_UNSUPPORTED(InitializeEx)
VCERT_UNSUPPORTED(Match)
VCERT_UNSUPPORTED(ParseCert)
VCERT_UNSUPPORTED(SetAuthData)
VCERT_UNSUPPORTED(ShowCertificate)
VCERT_UNSUPPORTED(SignAndEncryptFile)
VCERT_UNSUPPORTED(SignAndEncryptMem)
VCERT_UNSUPPORTED(SignFile)
VCERT_UNSUPPORTED(SignMem)
VCERT_UNSUPPORTED(SignedInfoFile)
VCERT_UNSUPPORTED(SignedInfoMem)
VCERT_UNSUPPORTED(VerifyAndSignFile)
VCERT_UNSUPPORTED(VerifyAndSignMem)
VCERT_UNSUPPORTED(VerifyFile)
VCERT_UNSUPPORTED(VerifyMem)
VCERT_UNSUPPORTED(UpdateCRLs)
VCERT_UNSUPPORTED(VerifyCert)
VCERT_UNSUPPORTED(ImportFile)
VCERT_UNSUPPORTED(ExportMem)
VCERT_UNSUPPORTED(ExportFile)
VCERT_UNSUPPORTED(DetachSignMem)
VCERT_UNSUPPORTED(DetachSignFile)
VCERT_UNSUPPORTED(AttachSignMem)
VCERT_UNSUPPORTED(AttachSignFile)

} // extern "C"

// Fails to compile when a name of the table has no function here.
#define VCERT_DEFINED(name) static_assert(sizeof(&VCERT_##name) != 0);
VCERT_PROC_TABLE(VCERT_DEFINED)
