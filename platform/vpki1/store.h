// The certificate store behind the stand-in VCERT library: a folder holding
// one DER file per certificate (<sha1>.cer) and per CRL (<sha1>.crl).
// Writers hold an exclusive flock on the folder's lock file, readers a shared
// one, so several processes can use one store at once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "status.h"

namespace vpki1 {

enum class ObjectKind { Certificate, Crl };

// What the library and the CLI show of a stored object. Names are one-line
// RFC 2253 texts in UTF-8; times are seconds since 1970 UTC.
struct ObjectInfo
{
    ObjectKind kind = ObjectKind::Certificate;
    std::string fileName;
    std::string fingerprint; // SHA-1 of the DER bytes, lower-case hex
    std::string serialHex;   // certificates only
    std::string issuer;
    std::string subject;    // certificates only
    int64_t validFrom = 0;  // notBefore, or thisUpdate of a CRL
    int64_t validTo = 0;    // notAfter, or nextUpdate of a CRL
    bool hasValidTo = true; // a CRL may lack nextUpdate
};

// A store name is a single folder name: not empty, no '/', not "." or "..".
Status CheckStoreName(std::string_view name);

// Where the store of that name lives: $VCERT_STORE_DIR/<name>, else
// $XDG_DATA_HOME/vcert/<name>, else ~/.local/share/vcert/<name>.
std::filesystem::path StorePath(std::string_view name);

// Parses one DER object and describes it; nullopt when the bytes are not
// exactly one well-formed object of that kind.
std::optional<ObjectInfo> DescribeDer(ObjectKind kind, std::span<const uint8_t> der);

class Store
{
public:
    explicit Store(std::filesystem::path folder) : folder_(std::move(folder)) {}

    const std::filesystem::path& folder() const { return folder_; }

    // Creates the folder when it is missing and checks that it can be locked.
    Status create() const;

    Status import(ObjectKind kind, std::span<const uint8_t> der) const;

    // Objects of the store (of one kind when asked), ordered by file name.
    // Files that no longer parse are left out and named in `unreadable`.
    Status list(std::vector<ObjectInfo>& objects, std::optional<ObjectKind> only = std::nullopt,
                std::vector<std::filesystem::path>* unreadable = nullptr) const;

private:
    std::filesystem::path folder_;
};

} // namespace vpki1
