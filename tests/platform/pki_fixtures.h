// Small certificates and CRLs made on the spot for the VCERT library tests.
// Everything is signed with one P-256 key, so making them is cheap; ECDSA
// signatures are random, so two calls never give the same bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pki {

using Der = std::vector<uint8_t>;
// Name entries in encoding order, e.g. {{"O", "Test"}, {"CN", "Тест"}} (UTF-8).
using Name = std::vector<std::pair<std::string, std::string>>;

// Seconds since 1970 UTC of a calendar date at midnight.
int64_t Utc(int year, int month, int day);

struct CertParams
{
    Name subject;
    int64_t notBefore = Utc(2024, 1, 1);
    int64_t notAfter = Utc(2034, 1, 1);
    long serial = 1;
};
Der MakeCertificate(const CertParams& params); // self-signed

struct CrlParams
{
    Name issuer;
    int64_t thisUpdate = Utc(2024, 3, 1);
    std::optional<int64_t> nextUpdate = Utc(2024, 4, 1);
};
Der MakeCrl(const CrlParams& params);

std::string Sha1Hex(const Der& der);

Der ReadFile(const std::filesystem::path& path);

// A fresh folder under the test temp dir, removed with the object.
class TempFolder
{
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace pki
