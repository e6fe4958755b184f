#include "store.h"

#include <cerrno>
#include <cstring>

#include "openssl_ptr.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

namespace fs = std::filesystem;

namespace vpki1 {
namespace {

void FreeOpenSslString(char* text) { OPENSSL_free(text); }
using OpenSslStringPtr = std::unique_ptr<char, OpenSslFree<FreeOpenSslString>>;

constexpr std::string_view kLockFileName = ".lock";
constexpr std::string_view kTempPrefix = ".tmp-";
// Far above any real certificate or CRL; a stray huge file is not read whole.
constexpr uintmax_t kMaxObjectSize = 64u << 20;

std::string_view ExtensionOf(ObjectKind kind) { return kind == ObjectKind::Certificate ? ".cer" : ".crl"; }

std::string LowerHex(const unsigned char* bytes, size_t size)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 0x0F];
    }
    return out;
}

std::optional<std::string> Sha1Hex(std::span<const uint8_t> der)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(der.data(), der.size(), digest, &size, EVP_sha1(), nullptr) != 1)
        return std::nullopt;
    return LowerHex(digest, size);
}

// RFC 2253 order and escaping, but with UTF-8 left readable instead of
// escaped byte by byte.
std::optional<std::string> NameToText(const X509_NAME* name)
{
    if (name == nullptr)
        return std::nullopt;
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0)
        return std::nullopt;
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, size > 0 ? static_cast<size_t>(size) : 0);
}

std::optional<int64_t> TimeToSeconds(const ASN1_TIME* time)
{
    struct tm parts
    {};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1)
        return std::nullopt;
    return static_cast<int64_t>(timegm(&parts));
}

std::optional<std::string> SerialHex(const X509* cert)
{
    BignumPtr serial(ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert), nullptr));
    if (!serial)
        return std::nullopt;
    OpenSslStringPtr hex(BN_bn2hex(serial.get()));
    if (!hex)
        return std::nullopt;
    return std::string(hex.get());
}

struct ParsedObject
{
    X509Ptr cert;
    CrlPtr crl;
    ObjectInfo info;
};

// The whole buffer must be one object: trailing bytes count as damage.
std::optional<ParsedObject> ParseDer(ObjectKind kind, std::span<const uint8_t> der)
{
    if (der.empty() || der.size() > kMaxObjectSize)
        return std::nullopt;
    const auto length = static_cast<long>(der.size());
    const unsigned char* cursor = der.data();
    ParsedObject parsed;
    ObjectInfo& info = parsed.info;
    info.kind = kind;

    std::optional<std::string> issuer;
    std::optional<int64_t> from;
    std::optional<int64_t> to;
    if (kind == ObjectKind::Certificate) {
        parsed.cert.reset(d2i_X509(nullptr, &cursor, length));
        if (!parsed.cert || cursor != der.data() + der.size())
            return std::nullopt;
        const X509* cert = parsed.cert.get();
        std::optional<std::string> subject = NameToText(X509_get_subject_name(cert));
        std::optional<std::string> serial = SerialHex(cert);
        if (!subject || !serial)
            return std::nullopt;
        info.subject = std::move(*subject);
        info.serialHex = std::move(*serial);
        issuer = NameToText(X509_get_issuer_name(cert));
        from = TimeToSeconds(X509_get0_notBefore(cert));
        to = TimeToSeconds(X509_get0_notAfter(cert));
    } else {
        parsed.crl.reset(d2i_X509_CRL(nullptr, &cursor, length));
        if (!parsed.crl || cursor != der.data() + der.size())
            return std::nullopt;
        const X509_CRL* crl = parsed.crl.get();
        issuer = NameToText(X509_CRL_get_issuer(crl));
        from = TimeToSeconds(X509_CRL_get0_lastUpdate(crl));
        const ASN1_TIME* next = X509_CRL_get0_nextUpdate(crl);
        info.hasValidTo = next != nullptr;
        to = next != nullptr ? TimeToSeconds(next) : std::optional<int64_t>(0);
    }
    std::optional<std::string> fingerprint = Sha1Hex(der);
    if (!issuer || !from || !to || !fingerprint)
        return std::nullopt;
    info.issuer = std::move(*issuer);
    info.validFrom = *from;
    info.validTo = *to;
    info.fingerprint = std::move(*fingerprint);
    info.fileName = info.fingerprint + std::string(ExtensionOf(kind));
    return parsed;
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const fs::path& path)
{
    std::error_code error;
    const uintmax_t size = fs::file_size(path, error);
    if (error || size > kMaxObjectSize)
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (in.gcount() != static_cast<std::streamsize>(bytes.size()))
        return std::nullopt;
    return bytes;
}

std::optional<ObjectKind> KindOfStoredFile(const fs::directory_entry& entry)
{
    const std::string name = entry.path().filename().string();
    std::error_code error;
    if (name.empty() || name.front() == '.' || !entry.is_regular_file(error))
        return std::nullopt;
    const std::string extension = entry.path().extension().string();
    if (extension == ExtensionOf(ObjectKind::Certificate))
        return ObjectKind::Certificate;
    if (extension == ExtensionOf(ObjectKind::Crl))
        return ObjectKind::Crl;
    return std::nullopt;
}

// Calls visit(entry) for each entry of the folder; a failure to read the folder
// ends the walk and is left in `error` (the range-for form would throw).
template <typename Visit>
void ForEachEntry(const fs::path& folder, std::error_code& error, Visit visit)
{
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error))
        visit(*it);
}

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    // close() reports late write errors, so writers close explicitly.
    bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_;
};

enum class LockMode { Shared, Exclusive };

// flock on the store's lock file, released when the object goes away (and by
// the kernel if the process dies holding it).
class StoreLock
{
public:
    static std::optional<StoreLock> acquire(const fs::path& folder, LockMode mode)
    {
        const fs::path lockPath = folder / kLockFileName;
        FileDescriptor fd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        if (!fd && mode == LockMode::Shared)
            fd = FileDescriptor(::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd) {
            // A read-only store without a lock file has no writers to wait for.
            if (mode == LockMode::Shared && (errno == EACCES || errno == EROFS || errno == ENOENT)
                && fs::is_directory(folder))
                return StoreLock(FileDescriptor());
            return std::nullopt;
        }
        const int operation = mode == LockMode::Exclusive ? LOCK_EX : LOCK_SH;
        while (::flock(fd.get(), operation) != 0) {
            if (errno != EINTR)
                return std::nullopt;
        }
        return StoreLock(std::move(fd));
    }

private:
    explicit StoreLock(FileDescriptor fd) : fd_(std::move(fd)) {}
    FileDescriptor fd_;
};

bool SyncFolder(const fs::path& folder)
{
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd && ::fsync(fd.get()) == 0;
}

// Temporary file, fsync, rename: readers see either no file or the whole one.
bool WriteAtomically(const fs::path& folder, const std::string& fileName, std::span<const uint8_t> bytes)
{
    std::string pattern = (folder / (std::string(kTempPrefix) + "XXXXXX")).string();
    FileDescriptor fd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!fd)
        return false;
    bool ok = ::fchmod(fd.get(), 0644) == 0;
    for (size_t written = 0; ok && written < bytes.size();) {
        const ssize_t rc = ::write(fd.get(), bytes.data() + written, bytes.size() - written);
        if (rc > 0)
            written += static_cast<size_t>(rc);
        else if (rc < 0 && errno != EINTR)
            ok = false;
    }
    ok = ok && ::fsync(fd.get()) == 0;
    ok = fd.close() && ok;
    ok = ok && ::rename(pattern.c_str(), (folder / fileName).c_str()) == 0;
    if (!ok)
        ::unlink(pattern.c_str());
    return ok;
}

// Only called under the exclusive lock: every writer holds it while its
// temporary file exists, so any left now belongs to a writer that died.
void RemoveStaleTemporaries(const fs::path& folder)
{
    std::error_code error;
    std::vector<fs::path> stale;
    ForEachEntry(folder, error, [&](const fs::directory_entry& entry) {
        if (entry.path().filename().string().starts_with(kTempPrefix))
            stale.push_back(entry.path());
    });
    for (const fs::path& path : stale)
        fs::remove(path, error);
}

std::optional<fs::path> HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return fs::path(home);
    std::vector<char> buffer(16384);
    struct passwd entry
    {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr
        && found->pw_dir != nullptr && *found->pw_dir != '\0')
        return fs::path(found->pw_dir);
    return std::nullopt;
}

} // namespace

Status CheckStoreName(std::string_view name)
{
    if (name.empty())
        return kEmptyStoreName;
    if (name == "." || name == ".." || name.find('/') != std::string_view::npos)
        return kBadStoreName;
    return kOk;
}

fs::path StorePath(std::string_view name)
{
    if (const char* dir = std::getenv("VCERT_STORE_DIR"); dir != nullptr && *dir != '\0')
        return fs::path(dir) / name;
    // XDG wants relative values ignored.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/')
        return fs::path(data) / "vcert" / name;
    if (std::optional<fs::path> home = HomeFolder())
        return *home / ".local" / "share" / "vcert" / name;
    return {};
}

std::optional<ObjectInfo> DescribeDer(ObjectKind kind, std::span<const uint8_t> der)
{
    std::optional<ParsedObject> parsed = ParseDer(kind, der);
    if (!parsed)
        return std::nullopt;
    return std::move(parsed->info);
}

Status Store::create() const
{
    if (folder_.empty()) {
        SetStatusDetail(kStoreUnavailable, "не задан ни VCERT_STORE_DIR, ни домашний каталог");
        return kStoreUnavailable;
    }
    const auto unavailable = [&](const std::string& reason) {
        SetStatusDetail(kStoreUnavailable, folder_.string() + " (" + reason + ")");
        return kStoreUnavailable;
    };
    std::error_code error;
    fs::create_directories(folder_, error);
    if (error)
        return unavailable(error.message());
    if (!fs::is_directory(folder_, error))
        return unavailable("не каталог");
    // Taking the write lock once proves the folder is usable before anyone imports.
    if (!StoreLock::acquire(folder_, LockMode::Exclusive))
        return unavailable(std::strerror(errno));
    return kOk;
}

Status Store::import(ObjectKind kind, std::span<const uint8_t> der) const
{
    std::optional<ParsedObject> incoming = ParseDer(kind, der);
    if (!incoming)
        return kMalformedObject;

    std::optional<StoreLock> lock = StoreLock::acquire(folder_, LockMode::Exclusive);
    std::error_code error;
    if (!lock || !fs::is_directory(folder_, error))
        return kStoreUnavailable;
    RemoveStaleTemporaries(folder_);

    // The name is the content's fingerprint, so a file of that name holding
    // other bytes (cut short by a crash, damaged on disk) is replaced.
    const std::string& fileName = incoming->info.fileName;
    const std::optional<std::vector<uint8_t>> stored = ReadWholeFile(folder_ / fileName);
    if (stored && std::equal(stored->begin(), stored->end(), der.begin(), der.end()))
        return kOk;

    // One CRL per issuer: the newest one.
    std::vector<fs::path> replaced;
    if (kind == ObjectKind::Crl) {
        const X509_CRL* crl = incoming->crl.get();
        std::vector<fs::path> storedCrls;
        ForEachEntry(folder_, error, [&](const fs::directory_entry& entry) {
            if (KindOfStoredFile(entry) == ObjectKind::Crl)
                storedCrls.push_back(entry.path());
        });
        if (error)
            return kStoreUnavailable;
        for (const fs::path& path : storedCrls) {
            std::optional<std::vector<uint8_t>> bytes = ReadWholeFile(path);
            std::optional<ParsedObject> stored = bytes ? ParseDer(ObjectKind::Crl, *bytes) : std::nullopt;
            if (!stored || X509_NAME_cmp(X509_CRL_get_issuer(stored->crl.get()), X509_CRL_get_issuer(crl)) != 0)
                continue;
            const int order = ASN1_TIME_compare(X509_CRL_get0_lastUpdate(crl),
                                                X509_CRL_get0_lastUpdate(stored->crl.get()));
            if (order == -2)
                continue;
            if (order <= 0)
                return kCrlNotNewer;
            replaced.push_back(path);
        }
    }

    if (!WriteAtomically(folder_, fileName, der))
        return kWriteFailed;
    for (const fs::path& old : replaced)
        fs::remove(old, error);
    SyncFolder(folder_);
    return kOk;
}

Status Store::list(std::vector<ObjectInfo>& objects, std::optional<ObjectKind> only,
                   std::vector<fs::path>* unreadable) const
{
    objects.clear();
    std::optional<StoreLock> lock = StoreLock::acquire(folder_, LockMode::Shared);
    std::error_code error;
    if (!lock || !fs::is_directory(folder_, error))
        return kStoreUnavailable;

    std::vector<std::pair<fs::path, ObjectKind>> files;
    ForEachEntry(folder_, error, [&](const fs::directory_entry& entry) {
        const std::optional<ObjectKind> kind = KindOfStoredFile(entry);
        if (kind && (!only || *only == *kind))
            files.emplace_back(entry.path(), *kind);
    });
    if (error)
        return kStoreUnavailable;
    std::sort(files.begin(), files.end(),
              [](const auto& a, const auto& b) { return a.first.filename() < b.first.filename(); });

    for (const auto& [path, kind] : files) {
        std::optional<std::vector<uint8_t>> bytes = ReadWholeFile(path);
        std::optional<ParsedObject> parsed = bytes ? ParseDer(kind, *bytes) : std::nullopt;
        if (parsed) {
            parsed->info.fileName = path.filename().string();
            objects.push_back(std::move(parsed->info));
        } else if (unreadable != nullptr) {
            unreadable->push_back(path);
        }
    }
    return kOk;
}

} // namespace vpki1
