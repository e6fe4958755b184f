// The stand-in VCERT library through its exported C functions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "pki_fixtures.h"
#include "vcert.h"

namespace fs = std::filesystem;
using pki::Der;

namespace {

// The library's statuses as the program sees them.
constexpr int32_t kOk = 0;
constexpr int32_t kInvalidArgument = 1;
constexpr int32_t kUnknownHandle = 2;
constexpr int32_t kStoreUnavailable = 3;
constexpr int32_t kMalformed = 4;
constexpr int32_t kUnsupportedKind = 5;
constexpr int32_t kCrlNotNewer = 6;
constexpr int32_t kNotSupported = 7;
constexpr int32_t kEmptyStoreName = 9;
constexpr int32_t kBadStoreName = 10;

const pki::Name kRootName = {{"C", "RU"}, {"O", "Test"}, {"CN", "Корневой УЦ"}};
const pki::Name kOtherName = {{"CN", "Другой УЦ"}};

int32_t Import(int32_t handle, int32_t kind, const Der& der)
{
    const VCERT_ImportParams params{kind, 0};
    const VCERT_MemBlock block{static_cast<int32_t>(der.size()), der.data()};
    return VCERT_ImportMem(handle, &params, &block);
}

std::string ErrorText(int32_t code)
{
    char buffer[512];
    VCERT_GetErrorText(code, buffer, sizeof buffer);
    return buffer;
}

class VcertStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("VCERT_STORE_DIR", root_.path().c_str(), 1);
        ASSERT_EQ(VCERT_Initialize("My", 0, &handle_), kOk);
        ASSERT_GT(handle_, 0);
    }
    void TearDown() override
    {
        if (handle_ > 0) {
            EXPECT_EQ(VCERT_Uninitialize(handle_), kOk);
        }
        unsetenv("VCERT_STORE_DIR");
    }

    fs::path folder() const { return root_.path() / "My"; }

    // Everything in the store folder but its lock file, sorted.
    std::vector<std::string> storedFiles() const
    {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder())) {
            if (entry.path().filename() != ".lock")
                names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    int32_t import(int32_t kind, const Der& der) { return Import(handle_, kind, der); }

    pki::TempFolder root_;
    int32_t handle_ = 0;
};

TEST(VcertExports, ExactlyTheTableIsExported)
{
    std::set<std::string> expected;
#define VCERT_NAME(name) expected.insert("VCERT_" #name);
    VCERT_PROC_TABLE(VCERT_NAME)
#undef VCERT_NAME
    ASSERT_EQ(expected.size(), static_cast<size_t>(VCERT_PROC_COUNT));

    FILE* nm = popen("nm -D --defined-only '" VPKI1_DLL_PATH "'", "r");
    ASSERT_NE(nm, nullptr);
    std::set<std::string> exported;
    char line[512];
    while (std::fgets(line, sizeof line, nm) != nullptr) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name)
            exported.insert(name);
    }
    ASSERT_EQ(pclose(nm), 0);
    EXPECT_EQ(exported, expected);
}

TEST(VcertExports, FunctionsWithoutWorkAnswerNotSupported)
{
    const std::set<std::string> working = {"VCERT_Initialize",     "VCERT_Uninitialize", "VCERT_FindCert",
                                           "VCERT_FreeFindResult", "VCERT_ImportMem",    "VCERT_GetErrorText"};
    void* library = dlopen(VPKI1_DLL_PATH, RTLD_NOW);
    ASSERT_NE(library, nullptr) << dlerror();
    int unsupported = 0;
#define VCERT_CALL(name)                                                                                               \
    if (!working.contains("VCERT_" #name)) {                                                                           \
        auto function = reinterpret_cast<VCERT_Other_t>(dlsym(library, "VCERT_" #name));                               \
        ASSERT_NE(function, nullptr) << #name;                                                                         \
        EXPECT_EQ(function(), kNotSupported) << #name;                                                                 \
        ++unsupported;                                                                                                 \
    }
    VCERT_PROC_TABLE(VCERT_CALL)
#undef VCERT_CALL
    EXPECT_EQ(unsupported, VCERT_PROC_COUNT - 6);
    dlclose(library);
}

TEST(VcertInitialize, RefusesBadArgumentsAndNames)
{
    pki::TempFolder root;
    setenv("VCERT_STORE_DIR", root.path().c_str(), 1);
    struct Case
    {
        const char* name;
        int32_t status;
    };
    const Case cases[] = {
        {nullptr, kInvalidArgument}, {"", kEmptyStoreName}, {"a/b", kBadStoreName},  {"/My", kBadStoreName},
        {".", kBadStoreName},        {"..", kBadStoreName}, {"\x98", kBadStoreName}, // undefined in CP1251
    };
    for (const Case& c : cases) {
        int32_t handle = 77;
        EXPECT_EQ(VCERT_Initialize(c.name, 0, &handle), c.status) << (c.name ? c.name : "(null)");
        EXPECT_EQ(handle, 0);
    }
    EXPECT_EQ(VCERT_Initialize("My", 0, nullptr), kInvalidArgument);
    EXPECT_TRUE(fs::is_empty(root.path()));
    unsetenv("VCERT_STORE_DIR");
}

TEST(VcertInitialize, OpensStoresWithDistinctHandles)
{
    pki::TempFolder root;
    setenv("VCERT_STORE_DIR", root.path().c_str(), 1);
    int32_t first = 0;
    int32_t second = 0;
    // "Мой" in CP1251: the folder is named in UTF-8.
    ASSERT_EQ(VCERT_Initialize("\xCC\xEE\xE9", 0, &first), kOk);
    ASSERT_EQ(VCERT_Initialize("My", 1, &second), kOk);
    EXPECT_GT(first, 0);
    EXPECT_GT(second, 0);
    EXPECT_NE(first, second);
    EXPECT_TRUE(fs::is_directory(root.path() / "Мой"));
    EXPECT_TRUE(fs::is_directory(root.path() / "My"));

    EXPECT_EQ(VCERT_Uninitialize(first), kOk);
    EXPECT_EQ(VCERT_Uninitialize(first), kUnknownHandle);
    EXPECT_EQ(Import(first, VCERT_IMPORT_CERTIFICATE, pki::MakeCertificate({kRootName})), kUnknownHandle);
    VCERT_FindResult result{};
    const int32_t params[VCERT_FIND_PARAM_WORDS] = {};
    EXPECT_EQ(VCERT_FindCert(first, params, &result), kUnknownHandle);
    EXPECT_EQ(VCERT_Uninitialize(0), kUnknownHandle);
    EXPECT_EQ(VCERT_Uninitialize(-5), kUnknownHandle);
    EXPECT_EQ(VCERT_Uninitialize(second), kOk);
    unsetenv("VCERT_STORE_DIR");
}

TEST(VcertInitialize, StoreThatCannotBeCreated)
{
    pki::TempFolder root;
    const fs::path blocker = root.path() / "file";
    std::FILE* file = std::fopen(blocker.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    setenv("VCERT_STORE_DIR", blocker.c_str(), 1);
    int32_t handle = 0;
    EXPECT_EQ(VCERT_Initialize("My", 0, &handle), kStoreUnavailable);
    EXPECT_EQ(handle, 0);
    unsetenv("VCERT_STORE_DIR");
}

TEST(VcertStorePath, FallsBackToXdgDataHomeThenHome)
{
    pki::TempFolder root;
    const char* savedHome = std::getenv("HOME");
    const std::string home = savedHome ? savedHome : "";
    unsetenv("VCERT_STORE_DIR");
    int32_t handle = 0;

    setenv("XDG_DATA_HOME", (root.path() / "data").c_str(), 1);
    ASSERT_EQ(VCERT_Initialize("My", 0, &handle), kOk);
    EXPECT_TRUE(fs::is_directory(root.path() / "data" / "vcert" / "My"));
    EXPECT_EQ(VCERT_Uninitialize(handle), kOk);

    unsetenv("XDG_DATA_HOME");
    setenv("HOME", (root.path() / "home").c_str(), 1);
    ASSERT_EQ(VCERT_Initialize("My", 0, &handle), kOk);
    EXPECT_TRUE(fs::is_directory(root.path() / "home" / ".local" / "share" / "vcert" / "My"));
    EXPECT_EQ(VCERT_Uninitialize(handle), kOk);

    if (savedHome)
        setenv("HOME", home.c_str(), 1);
    else
        unsetenv("HOME");
}

TEST_F(VcertStoreTest, ImportWritesEachObjectOnceUnderItsFingerprint)
{
    const Der cert = pki::MakeCertificate({kRootName});
    const Der crl = pki::MakeCrl({kRootName});
    ASSERT_EQ(import(VCERT_IMPORT_CERTIFICATE, cert), kOk);
    ASSERT_EQ(import(VCERT_IMPORT_CRL, crl), kOk);
    ASSERT_EQ(import(VCERT_IMPORT_CERTIFICATE, cert), kOk);
    ASSERT_EQ(import(VCERT_IMPORT_CRL, crl), kOk);

    std::vector<std::string> expected = {pki::Sha1Hex(cert) + ".cer", pki::Sha1Hex(crl) + ".crl"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(storedFiles(), expected);
    EXPECT_EQ(pki::ReadFile(folder() / (pki::Sha1Hex(cert) + ".cer")), cert);
    EXPECT_EQ(pki::ReadFile(folder() / (pki::Sha1Hex(crl) + ".crl")), crl);
}

// A file is named by its content's fingerprint: one holding other bytes is
// damage (a crash mid-write, a bad disk) and the import writes it anew.
TEST_F(VcertStoreTest, ImportRepairsAnObjectWhoseContentDoesNotMatchItsName)
{
    const Der cert = pki::MakeCertificate({kRootName});
    const Der crl = pki::MakeCrl({kRootName});
    const Der otherCert = pki::MakeCertificate({kOtherName});
    struct Case
    {
        const char* what;
        int32_t kind;
        const Der& object;
        Der stored;
    };
    const Case cases[] = {
        {"truncated certificate", VCERT_IMPORT_CERTIFICATE, cert, Der(cert.begin(), cert.begin() + cert.size() / 2)},
        {"empty certificate file", VCERT_IMPORT_CERTIFICATE, cert, {}},
        {"another certificate under its name", VCERT_IMPORT_CERTIFICATE, cert, otherCert},
        {"certificate with a trailing byte", VCERT_IMPORT_CERTIFICATE, cert,
         [&] {
             Der longer = cert;
             longer.push_back(0);
             return longer;
         }()},
        {"truncated CRL", VCERT_IMPORT_CRL, crl, Der(crl.begin(), crl.end() - 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path file = folder() / (pki::Sha1Hex(c.object) + (c.kind == VCERT_IMPORT_CRL ? ".crl" : ".cer"));
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(c.stored.data()), static_cast<std::streamsize>(c.stored.size()));
        }
        EXPECT_EQ(import(c.kind, c.object), kOk);
        EXPECT_EQ(pki::ReadFile(file), c.object);
        EXPECT_EQ(storedFiles(), std::vector<std::string>{file.filename().string()});
        fs::remove(file);
    }
}

TEST_F(VcertStoreTest, MalformedInputIsRefusedAndNothingIsWritten)
{
    const Der cert = pki::MakeCertificate({kRootName});
    const Der crl = pki::MakeCrl({kRootName});
    Der withTrailingByte = cert;
    withTrailingByte.push_back(0);
    Der crlWithTrailingBytes = crl;
    crlWithTrailingBytes.insert(crlWithTrailingBytes.end(), {0x30, 0x00});
    struct Case
    {
        const char* what;
        int32_t kind;
        Der data;
    };
    const Case cases[] = {
        {"garbage", VCERT_IMPORT_CERTIFICATE, {'h', 'e', 'l', 'l', 'o', 0xFF, 0x00}},
        {"empty", VCERT_IMPORT_CERTIFICATE, {}},
        {"truncated certificate", VCERT_IMPORT_CERTIFICATE, Der(cert.begin(), cert.end() - 1)},
        {"truncated CRL", VCERT_IMPORT_CRL, Der(crl.begin(), crl.begin() + crl.size() / 2)},
        {"certificate with a trailing byte", VCERT_IMPORT_CERTIFICATE, withTrailingByte},
        {"CRL with trailing bytes", VCERT_IMPORT_CRL, crlWithTrailingBytes},
        {"CRL passed as a certificate", VCERT_IMPORT_CERTIFICATE, crl},
        {"certificate passed as a CRL", VCERT_IMPORT_CRL, cert},
    };
    for (const Case& c : cases)
        EXPECT_EQ(import(c.kind, c.data), kMalformed) << c.what;
    EXPECT_TRUE(storedFiles().empty());
}

TEST_F(VcertStoreTest, RefusesUnknownKindsAndBadBlocks)
{
    const Der cert = pki::MakeCertificate({kRootName});
    for (const int32_t kind : {0, 1, 3, 5, -2})
        EXPECT_EQ(import(kind, cert), kUnsupportedKind) << kind;

    const VCERT_ImportParams params{VCERT_IMPORT_CERTIFICATE, 0};
    const VCERT_MemBlock negative{-1, cert.data()};
    const VCERT_MemBlock noData{static_cast<int32_t>(cert.size()), nullptr};
    const VCERT_MemBlock block{static_cast<int32_t>(cert.size()), cert.data()};
    EXPECT_EQ(VCERT_ImportMem(handle_, &params, &negative), kInvalidArgument);
    EXPECT_EQ(VCERT_ImportMem(handle_, &params, &noData), kInvalidArgument);
    EXPECT_EQ(VCERT_ImportMem(handle_, nullptr, &block), kInvalidArgument);
    EXPECT_EQ(VCERT_ImportMem(handle_, &params, nullptr), kInvalidArgument);
    EXPECT_TRUE(storedFiles().empty());
}

TEST_F(VcertStoreTest, KeepsOnlyTheNewestCrlOfEachIssuer)
{
    const Der march = pki::MakeCrl({kRootName, pki::Utc(2024, 3, 1)});
    const Der february = pki::MakeCrl({kRootName, pki::Utc(2024, 2, 1)});
    const Der marchAgain = pki::MakeCrl({kRootName, pki::Utc(2024, 3, 1), pki::Utc(2024, 5, 1)});
    const Der april = pki::MakeCrl({kRootName, pki::Utc(2024, 4, 1), std::nullopt});
    const Der otherIssuerOlder = pki::MakeCrl({kOtherName, pki::Utc(2023, 1, 1)});

    ASSERT_EQ(import(VCERT_IMPORT_CRL, march), kOk);
    EXPECT_EQ(import(VCERT_IMPORT_CRL, february), kCrlNotNewer);
    EXPECT_EQ(import(VCERT_IMPORT_CRL, marchAgain), kCrlNotNewer); // same thisUpdate, other bytes
    EXPECT_EQ(storedFiles(), std::vector<std::string>{pki::Sha1Hex(march) + ".crl"});

    ASSERT_EQ(import(VCERT_IMPORT_CRL, otherIssuerOlder), kOk);
    ASSERT_EQ(import(VCERT_IMPORT_CRL, april), kOk);
    ASSERT_EQ(import(VCERT_IMPORT_CRL, april), kOk);
    EXPECT_EQ(import(VCERT_IMPORT_CRL, march), kCrlNotNewer);

    std::vector<std::string> expected = {pki::Sha1Hex(april) + ".crl", pki::Sha1Hex(otherIssuerOlder) + ".crl"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(storedFiles(), expected);
}

TEST_F(VcertStoreTest, FindCertOnEmptyStore)
{
    // A CRL is not a certificate.
    ASSERT_EQ(import(VCERT_IMPORT_CRL, pki::MakeCrl({kRootName})), kOk);
    int32_t params[VCERT_FIND_PARAM_WORDS] = {};
    params[0] = VCERT_FIND_PARAM_FIRST;
    params[VCERT_FIND_PARAM_WORDS - 1] = VCERT_FIND_PARAM_LAST;
    VCERT_FindResult result{42, reinterpret_cast<const VCERT_CertInfo*>(&params)};
    ASSERT_EQ(VCERT_FindCert(handle_, params, &result), kOk);
    EXPECT_EQ(result.count, 0);
    EXPECT_EQ(result.first, nullptr);
    EXPECT_EQ(VCERT_FreeFindResult(handle_, &result), kOk);
}

TEST_F(VcertStoreTest, FindCertDescribesTheFirstCertificate)
{
    const pki::Name name = {{"O", "Org, Inc"}, {"CN", "Тест Ω"}};
    const Der cert = pki::MakeCertificate({name, pki::Utc(2024, 1, 2), pki::Utc(2039, 12, 31), 0x1A2B});
    ASSERT_EQ(import(VCERT_IMPORT_CERTIFICATE, cert), kOk);
    int32_t params[VCERT_FIND_PARAM_WORDS] = {};
    params[0] = VCERT_FIND_PARAM_FIRST;
    params[VCERT_FIND_PARAM_WORDS - 1] = VCERT_FIND_PARAM_LAST;
    VCERT_FindResult result{};
    ASSERT_EQ(VCERT_FindCert(handle_, params, &result), kOk);
    ASSERT_EQ(result.count, 1);
    ASSERT_NE(result.first, nullptr);
    const VCERT_CertInfo& info = *result.first;

    EXPECT_STREQ(info.text1, "1A2B");
    // CP1251, with '?' for the Greek letter it lacks.
    EXPECT_STREQ(info.text2, "CN=\xD2\xE5\xF1\xF2 ?,O=Org\\, Inc");
    EXPECT_STREQ(info.text3, R"(CN=\xd0\xa2\xd0\xb5\xd1\x81\xd1\x82 \xce\xa9,O=Org\, Inc)");
    EXPECT_EQ(info.text4, pki::Sha1Hex(cert));
    EXPECT_EQ(info.period1From, 1704153600u); // 2024-01-02
    EXPECT_EQ(info.period1To, 2208902400u);   // 2039-12-31
    EXPECT_EQ(info.period2From, info.period1From);
    EXPECT_EQ(info.period2To, info.period1To);
    EXPECT_EQ(info.reserved0, 0);
    EXPECT_EQ(info.reserved16, 0);
    EXPECT_TRUE(std::all_of(std::begin(info.reserved28), std::end(info.reserved28), [](int32_t v) { return v == 0; }));
    EXPECT_TRUE(std::all_of(std::begin(info.reserved48), std::end(info.reserved48), [](int32_t v) { return v == 0; }));

    ASSERT_EQ(VCERT_FreeFindResult(handle_, &result), kOk);
    EXPECT_EQ(result.count, 0);
    EXPECT_EQ(result.first, nullptr);
    EXPECT_EQ(VCERT_FreeFindResult(handle_, &result), kOk);
}

TEST_F(VcertStoreTest, FindCertCountsAllAndTakesTheFirstByFileName)
{
    std::vector<std::string> fingerprints;
    for (long serial = 1; serial <= 4; ++serial) {
        // Validity beyond what 32 bits hold is clamped.
        const Der cert = pki::MakeCertificate(
            {{{"CN", "Сертификат " + std::to_string(serial)}}, pki::Utc(1960, 1, 1), pki::Utc(2200, 1, 1), serial});
        ASSERT_EQ(import(VCERT_IMPORT_CERTIFICATE, cert), kOk);
        fingerprints.push_back(pki::Sha1Hex(cert));
    }
    ASSERT_EQ(import(VCERT_IMPORT_CRL, pki::MakeCrl({kRootName})), kOk);
    const int32_t params[VCERT_FIND_PARAM_WORDS] = {VCERT_FIND_PARAM_FIRST};
    VCERT_FindResult result{};
    ASSERT_EQ(VCERT_FindCert(handle_, params, &result), kOk);
    ASSERT_EQ(result.count, 4);
    ASSERT_NE(result.first, nullptr);
    EXPECT_EQ(result.first->text4, *std::min_element(fingerprints.begin(), fingerprints.end()));
    EXPECT_EQ(result.first->period1From, 0u);
    EXPECT_EQ(result.first->period1To, 0xFFFFFFFFu);

    // A result already given back, or a copy of one, is not freed twice.
    const VCERT_FindResult copy = result;
    ASSERT_EQ(VCERT_FreeFindResult(handle_, &result), kOk);
    VCERT_FindResult stale = copy;
    EXPECT_EQ(VCERT_FreeFindResult(handle_, &stale), kInvalidArgument);
    EXPECT_EQ(VCERT_FreeFindResult(handle_ + 100, &stale), kUnknownHandle);
    EXPECT_EQ(VCERT_FreeFindResult(handle_, nullptr), kInvalidArgument);
    EXPECT_EQ(VCERT_FindCert(handle_, nullptr, &result), kInvalidArgument);
    EXPECT_EQ(VCERT_FindCert(handle_, params, nullptr), kInvalidArgument);

    // Results not given back are released with the handle.
    ASSERT_EQ(VCERT_FindCert(handle_, params, &result), kOk);
    ASSERT_NE(result.first, nullptr);
}

TEST(VcertErrorText, TextsAreRussianInCp1251)
{
    // "Неизвестная ошибка библиотеки (код 12345)" in CP1251.
    EXPECT_EQ(ErrorText(12345), "\xCD\xE5\xE8\xE7\xE2\xE5\xF1\xF2\xED\xE0\xFF \xEE\xF8\xE8\xE1\xEA\xE0 "
                                "\xE1\xE8\xE1\xEB\xE8\xEE\xF2\xE5\xEA\xE8 (\xEA\xEE\xE4 12345)");
    const std::string unknown = ErrorText(12345);
    EXPECT_EQ(ErrorText(-1), unknown.substr(0, unknown.size() - 6) + "-1)");

    // Every status has its own text, in Cyrillic letters of CP1251 (no UTF-8
    // continuation bytes, which CP1251 uses for other characters).
    std::set<std::string> texts;
    for (int32_t code = 0; code <= 11; ++code) {
        const std::string text = ErrorText(code);
        EXPECT_EQ(text.find("(\xEA\xEE\xE4"), std::string::npos) << "no text for " << code;
        EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char c) {
            const auto byte = static_cast<unsigned char>(c);
            return (byte >= 0x20 && byte < 0x7F) || byte >= 0xC0;
        })) << code;
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), 12u);
}

TEST(VcertErrorText, NeverWritesPastTheBuffer)
{
    const std::string full = ErrorText(kMalformed);
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(VCERT_GetErrorText(kMalformed, buffer, 5), kOk);
    EXPECT_EQ(std::string(buffer, 5), full.substr(0, 4) + '\0');
    EXPECT_EQ(buffer[5], '#');

    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(VCERT_GetErrorText(kMalformed, buffer, 1), kOk);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], '#');

    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(VCERT_GetErrorText(kMalformed, buffer, 0), kOk);
    EXPECT_EQ(VCERT_GetErrorText(kMalformed, buffer, -3), kOk);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(VCERT_GetErrorText(kMalformed, nullptr, 16), kOk);
}

// Two processes import the same objects at once, in opposite orders, with a
// chain of CRLs per issuer: the store must end with each certificate once, the
// newest CRL of each issuer only, and no temporary files.
TEST(VcertConcurrency, TwoProcessesImportingIntoOneStore)
{
    pki::TempFolder root;
    setenv("VCERT_STORE_DIR", root.path().c_str(), 1);

    struct Object
    {
        int32_t kind;
        Der der;
    };
    std::vector<Object> objects;
    std::set<std::string> expectedFiles;
    for (long serial = 1; serial <= 30; ++serial) {
        Der cert = pki::MakeCertificate(
            {{{"CN", "Сертификат " + std::to_string(serial)}}, pki::Utc(2024, 1, 1), pki::Utc(2030, 1, 1), serial});
        expectedFiles.insert(pki::Sha1Hex(cert) + ".cer");
        objects.push_back({VCERT_IMPORT_CERTIFICATE, std::move(cert)});
    }
    for (int issuer = 1; issuer <= 3; ++issuer) {
        const pki::Name name = {{"CN", "УЦ " + std::to_string(issuer)}};
        for (int month = 1; month <= 6; ++month) {
            Der crl = pki::MakeCrl({name, pki::Utc(2024, month, 1)});
            if (month == 6)
                expectedFiles.insert(pki::Sha1Hex(crl) + ".crl");
            // Spread the CRLs among the certificates.
            objects.insert(objects.begin() + static_cast<long>((issuer * 7 + month * 3) % objects.size()),
                           {VCERT_IMPORT_CRL, std::move(crl)});
        }
    }

    int startPipe[2];
    ASSERT_EQ(pipe(startPipe), 0);
    pid_t children[2];
    for (int child = 0; child < 2; ++child) {
        children[child] = fork();
        ASSERT_GE(children[child], 0);
        if (children[child] == 0) {
            close(startPipe[1]);
            char go;
            if (read(startPipe[0], &go, 1) != 0)
                _exit(10);
            int32_t handle = 0;
            if (VCERT_Initialize("My", 0, &handle) != kOk)
                _exit(11);
            std::vector<const Object*> order;
            for (const Object& object : objects)
                order.push_back(&object);
            if (child == 1)
                std::reverse(order.begin(), order.end());
            for (int round = 0; round < 3; ++round) {
                for (const Object* object : order) {
                    const int32_t status = Import(handle, object->kind, object->der);
                    if (status != kOk && !(status == kCrlNotNewer && object->kind == VCERT_IMPORT_CRL))
                        _exit(12);
                }
            }
            _exit(VCERT_Uninitialize(handle) == kOk ? 0 : 13);
        }
    }
    close(startPipe[0]);
    close(startPipe[1]); // both children start now
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }

    std::set<std::string> stored;
    for (const fs::directory_entry& entry : fs::directory_iterator(root.path() / "My")) {
        const std::string name = entry.path().filename().string();
        if (name == ".lock")
            continue;
        stored.insert(name);
        EXPECT_EQ(pki::Sha1Hex(pki::ReadFile(entry.path())) + entry.path().extension().string(), name);
    }
    EXPECT_EQ(stored, expectedFiles);
    unsetenv("VCERT_STORE_DIR");
}

} // namespace
