#include "pki_fixtures.h"

#include "openssl_ptr.h"

#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <stdlib.h>

#include <openssl/evp.h>
#include <openssl/x509.h>

namespace pki {
namespace {

using vpki1::CrlPtr;
using vpki1::KeyPtr;
using vpki1::NamePtr;
using vpki1::TimePtr;
using vpki1::X509Ptr;

void Check(bool ok, const char* what)
{
    if (!ok)
        throw std::runtime_error(std::string("OpenSSL failed: ") + what);
}

EVP_PKEY* Key()
{
    static const KeyPtr key(EVP_EC_gen("P-256"));
    Check(key != nullptr, "EVP_EC_gen");
    return key.get();
}

NamePtr MakeName(const Name& entries)
{
    NamePtr name(X509_NAME_new());
    Check(name != nullptr, "X509_NAME_new");
    for (const auto& [field, value] : entries) {
        Check(X509_NAME_add_entry_by_txt(name.get(), field.c_str(), MBSTRING_UTF8,
                                         reinterpret_cast<const unsigned char*>(value.data()),
                                         static_cast<int>(value.size()), -1, 0)
                  == 1,
              "X509_NAME_add_entry_by_txt");
    }
    return name;
}

TimePtr MakeTime(int64_t seconds)
{
    TimePtr time(ASN1_TIME_set(nullptr, static_cast<time_t>(seconds)));
    Check(time != nullptr, "ASN1_TIME_set");
    return time;
}

template <typename T, typename Encoder>
Der Encode(T* object, Encoder encode)
{
    unsigned char* buffer = nullptr;
    const int length = encode(object, &buffer);
    Check(length > 0, "i2d");
    Der der(buffer, buffer + length);
    OPENSSL_free(buffer);
    return der;
}

} // namespace

int64_t Utc(int year, int month, int day)
{
    struct tm parts
    {};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    return static_cast<int64_t>(timegm(&parts));
}

Der MakeCertificate(const CertParams& params)
{
    X509Ptr cert(X509_new());
    Check(cert != nullptr, "X509_new");
    const NamePtr name = MakeName(params.subject);
    Check(X509_set_version(cert.get(), X509_VERSION_3) == 1
              && ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), params.serial) == 1
              && X509_set_subject_name(cert.get(), name.get()) == 1 && X509_set_issuer_name(cert.get(), name.get()) == 1
              && X509_set1_notBefore(cert.get(), MakeTime(params.notBefore).get()) == 1
              && X509_set1_notAfter(cert.get(), MakeTime(params.notAfter).get()) == 1
              && X509_set_pubkey(cert.get(), Key()) == 1 && X509_sign(cert.get(), Key(), EVP_sha256()) > 0,
          "certificate");
    return Encode(cert.get(), i2d_X509);
}

Der MakeCrl(const CrlParams& params)
{
    CrlPtr crl(X509_CRL_new());
    Check(crl != nullptr, "X509_CRL_new");
    const NamePtr name = MakeName(params.issuer);
    Check(X509_CRL_set_version(crl.get(), 1) == 1 && X509_CRL_set_issuer_name(crl.get(), name.get()) == 1
              && X509_CRL_set1_lastUpdate(crl.get(), MakeTime(params.thisUpdate).get()) == 1,
          "CRL");
    if (params.nextUpdate)
        Check(X509_CRL_set1_nextUpdate(crl.get(), MakeTime(*params.nextUpdate).get()) == 1, "nextUpdate");
    Check(X509_CRL_sign(crl.get(), Key(), EVP_sha256()) > 0, "X509_CRL_sign");
    return Encode(crl.get(), i2d_X509_CRL);
}

std::string Sha1Hex(const Der& der)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    Check(EVP_Digest(der.data(), der.size(), digest, &size, EVP_sha1(), nullptr) == 1, "EVP_Digest");
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0x0F];
    }
    return hex;
}

Der ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Der(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TempFolder::TempFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "vpki1-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code error;
    std::filesystem::remove_all(path_, error);
}

} // namespace pki
