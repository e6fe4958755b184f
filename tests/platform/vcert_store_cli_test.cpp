// vcert-store run as a person would: through the shell, on a store made by
// the library.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>

#include "pki_fixtures.h"
#include "vcert.h"

namespace fs = std::filesystem;
using pki::Der;

namespace {

struct RunResult
{
    int exitCode = -1;
    std::string output; // stdout and stderr together
};

RunResult RunCli(const std::string& arguments)
{
    const std::string command = "'" VCERT_STORE_CLI "' " + arguments + " 2>&1";
    RunResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.output.append(buffer, got);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

class VcertStoreCliTest : public ::testing::Test
{
protected:
    void SetUp() override { setenv("VCERT_STORE_DIR", root_.path().c_str(), 1); }
    void TearDown() override { unsetenv("VCERT_STORE_DIR"); }

    void importInto(const char* store, int32_t kind, const Der& der)
    {
        int32_t handle = 0;
        ASSERT_EQ(VCERT_Initialize(store, 0, &handle), 0);
        const VCERT_ImportParams params{kind, 0};
        const VCERT_MemBlock block{static_cast<int32_t>(der.size()), der.data()};
        EXPECT_EQ(VCERT_ImportMem(handle, &params, &block), 0);
        EXPECT_EQ(VCERT_Uninitialize(handle), 0);
    }

    pki::TempFolder root_;
};

TEST_F(VcertStoreCliTest, ListsCertificatesThenCrlsBySubject)
{
    const pki::Name alpha = {{"O", "Test"}, {"CN", "Альфа"}};
    const Der beta = pki::MakeCertificate({{{"CN", "Бета"}}, pki::Utc(2023, 5, 6), pki::Utc(2025, 5, 6)});
    const Der alphaCert = pki::MakeCertificate({alpha});
    const Der alphaCrl = pki::MakeCrl({alpha, pki::Utc(2024, 3, 1), pki::Utc(2024, 4, 1)});
    const Der betaCrl = pki::MakeCrl({{{"CN", "Бета"}}, pki::Utc(2024, 2, 1), std::nullopt});
    importInto("My", VCERT_IMPORT_CRL, betaCrl);
    importInto("My", VCERT_IMPORT_CERTIFICATE, beta);
    importInto("My", VCERT_IMPORT_CRL, alphaCrl);
    importInto("My", VCERT_IMPORT_CERTIFICATE, alphaCert);

    const std::string expected = "certificate  CN=Альфа,O=Test  2024-01-01..2034-01-01  " + pki::Sha1Hex(alphaCert)
                                 + "\n" + "certificate  CN=Бета  2023-05-06..2025-05-06  " + pki::Sha1Hex(beta) + "\n"
                                 + "crl          CN=Альфа,O=Test  2024-03-01..2024-04-01  " + pki::Sha1Hex(alphaCrl)
                                 + "\n" + "crl          CN=Бета  2024-02-01..-  " + pki::Sha1Hex(betaCrl) + "\n"
                                 + "2 certificates, 2 CRLs in " + (root_.path() / "My").string() + "\n";
    const RunResult byDefault = RunCli("list");
    EXPECT_EQ(byDefault.exitCode, 0);
    EXPECT_EQ(byDefault.output, expected);
    const RunResult named = RunCli("list My");
    EXPECT_EQ(named.exitCode, 0);
    EXPECT_EQ(named.output, expected);
}

TEST_F(VcertStoreCliTest, NamedStoreAndSingularSummary)
{
    const Der cert = pki::MakeCertificate({{{"CN", "Один"}}});
    importInto("\xCA\xEE\xF0\xE5\xED\xFC", VCERT_IMPORT_CERTIFICATE, cert); // "Корень" in CP1251
    const RunResult result = RunCli("list 'Корень'");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "certificate  CN=Один  2024-01-01..2034-01-01  " + pki::Sha1Hex(cert)
                                 + "\n1 certificate, 0 CRLs in " + (root_.path() / "Корень").string() + "\n");
}

TEST_F(VcertStoreCliTest, UnreadableFileIsReportedAndFailsTheRun)
{
    const Der cert = pki::MakeCertificate({{{"CN", "Один"}}});
    importInto("My", VCERT_IMPORT_CERTIFICATE, cert);
    std::ofstream(root_.path() / "My" / "broken.crl") << "not a CRL";
    const RunResult result = RunCli("list");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.output.find(pki::Sha1Hex(cert)), std::string::npos) << result.output;
    EXPECT_NE(result.output.find((root_.path() / "My" / "broken.crl").string()), std::string::npos) << result.output;
}

TEST_F(VcertStoreCliTest, UsageAndErrors)
{
    fs::create_directories(root_.path() / "Empty");
    std::ofstream(root_.path() / "File") << "not a store";
    struct Case
    {
        std::string arguments;
        int exitCode;
        std::string mentions;
    };
    const Case cases[] = {
        {"--help", 0, "Usage: vcert-store list [STORE]"},
        {"", 2, "Usage: vcert-store list [STORE]"},
        {"frobnicate", 2, "unknown command 'frobnicate'"},
        {"list My extra", 2, "at most one store name"},
        {"list ''", 2, "store name is empty"},
        {"list ../x", 2, "not a store name"},
        {"list Missing", 1, (root_.path() / "Missing").string() + " does not exist"},
        {"list File", 1, (root_.path() / "File").string() + " is a file, not a folder"},
        {"list Empty", 0, (root_.path() / "Empty").string() + " is empty"},
    };
    for (const Case& c : cases) {
        const RunResult result = RunCli(c.arguments);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.arguments << "\n" << result.output;
        EXPECT_NE(result.output.find(c.mentions), std::string::npos) << c.arguments << "\n" << result.output;
    }
}

} // namespace
