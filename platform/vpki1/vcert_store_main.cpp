// vcert-store: shows what the stand-in VCERT library keeps in a store.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "store.h"

namespace fs = std::filesystem;

namespace {

constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

void PrintUsage(std::FILE* out)
{
    std::fputs("Usage: vcert-store list [STORE]\n"
               "       vcert-store --help\n"
               "\n"
               "Lists the certificates and CRLs of a VCERT certificate store (STORE defaults\n"
               "to \"My\"). The store is the folder $VCERT_STORE_DIR/STORE when VCERT_STORE_DIR\n"
               "is set, else $XDG_DATA_HOME/vcert/STORE or ~/.local/share/vcert/STORE.\n",
               out);
}

std::string FormatDate(int64_t seconds)
{
    const auto time = static_cast<std::time_t>(seconds);
    struct tm parts
    {};
    char text[32];
    if (gmtime_r(&time, &parts) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%d", &parts) == 0)
        return "?";
    return text;
}

// Why path cannot be read as a store folder; empty when it is a folder.
std::string FolderProblem(const fs::path& path)
{
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    switch (status.type()) {
    case fs::file_type::directory: return {};
    case fs::file_type::not_found: return "does not exist";
    case fs::file_type::regular: return "is a file, not a folder";
    case fs::file_type::none:
    case fs::file_type::unknown: return "cannot be examined: " + error.message();
    default: return "is not a folder (a device, pipe or socket)";
    }
}

std::string Counted(size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

int List(std::string_view storeName)
{
    switch (vpki1::CheckStoreName(storeName)) {
    case vpki1::kOk: break;
    case vpki1::kEmptyStoreName: std::fputs("vcert-store: the store name is empty\n", stderr); return kExitUsage;
    default:
        std::fprintf(stderr, "vcert-store: '%.*s' is not a store name (a single folder name is expected)\n",
                     static_cast<int>(storeName.size()), storeName.data());
        return kExitUsage;
    }
    const fs::path folder = vpki1::StorePath(storeName);
    if (folder.empty()) {
        std::fputs("vcert-store: cannot tell where stores live: neither VCERT_STORE_DIR nor HOME is set\n", stderr);
        return kExitError;
    }
    if (const std::string problem = FolderProblem(folder); !problem.empty()) {
        std::fprintf(stderr, "vcert-store: store folder %s %s\n", folder.c_str(), problem.c_str());
        return kExitError;
    }

    std::vector<vpki1::ObjectInfo> objects;
    std::vector<fs::path> unreadable;
    if (vpki1::Store(folder).list(objects, std::nullopt, &unreadable) != vpki1::kOk) {
        std::fprintf(stderr, "vcert-store: cannot read store folder %s\n", folder.c_str());
        return kExitError;
    }

    // Certificates first, then CRLs, each by the name they are about.
    auto shownName = [](const vpki1::ObjectInfo& object) -> const std::string& {
        return object.kind == vpki1::ObjectKind::Certificate ? object.subject : object.issuer;
    };
    std::sort(objects.begin(), objects.end(), [&](const auto& a, const auto& b) {
        if (a.kind != b.kind)
            return a.kind == vpki1::ObjectKind::Certificate;
        if (shownName(a) != shownName(b))
            return shownName(a) < shownName(b);
        return a.fingerprint < b.fingerprint;
    });

    size_t certificates = 0;
    for (const vpki1::ObjectInfo& object : objects) {
        const bool isCertificate = object.kind == vpki1::ObjectKind::Certificate;
        certificates += isCertificate ? 1 : 0;
        const std::string validity = FormatDate(object.validFrom) + ".."
                                     + (object.hasValidTo ? FormatDate(object.validTo) : "-");
        std::printf("%-11s  %s  %s  %s\n", isCertificate ? "certificate" : "crl", shownName(object).c_str(),
                    validity.c_str(), object.fingerprint.c_str());
    }
    for (const fs::path& path : unreadable)
        std::fprintf(stderr, "vcert-store: %s is not a readable certificate or CRL\n", path.c_str());

    if (objects.empty() && unreadable.empty()) {
        std::printf("The store %s is empty: no certificates, no CRLs\n", folder.c_str());
    } else {
        std::printf("%s, %s in %s\n", Counted(certificates, "certificate", "certificates").c_str(),
                    Counted(objects.size() - certificates, "CRL", "CRLs").c_str(), folder.c_str());
    }
    return unreadable.empty() ? 0 : kExitError;
}

int Run(int argc, char** argv)
{
    if (argc < 2) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    const std::string_view command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        PrintUsage(stdout);
        return 0;
    }
    if (command == "list") {
        if (argc > 3) {
            std::fputs("vcert-store: list takes at most one store name\n", stderr);
            return kExitUsage;
        }
        return List(argc == 3 ? argv[2] : "My");
    }
    std::fprintf(stderr, "vcert-store: unknown command '%s' (try vcert-store --help)\n", argv[1]);
    return kExitUsage;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vcert-store: %s\n", error.what());
        return kExitError;
    }
}
