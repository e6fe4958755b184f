#include "uVCertMgr.h"

#include "Text.h"
#include "Vcerterr.h"
#include "vcert1.h"

#include <array>
#include <optional>

uint64_t VCertLibVersion = 0;

namespace {

const QString DefaultStoreName = QStringLiteral("My");
constexpr uint64_t VersionedInVpki1 = MakeLibVersion(3, 2, 218, 0);

// The module if the process has it already, else loaded; never released.
HMODULE CompanionLibrary(const QString& name)
{
    if (HMODULE module = GetModuleHandle(name))
        return module;
    return LoadLibrary(name);
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Strict UTF-8 of one to three bytes per character; none on a broken sequence.
std::optional<QString> DecodeUtf8(const QByteArray& bytes)
{
    QString text;
    for (qsizetype i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        int extra = 0;
        char32_t code = lead;
        if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            code = lead & 0x0F;
        } else if (lead >= 0xC0 && lead <= 0xDF) {
            extra = 1;
            code = lead & 0x1F;
        } else if (lead >= 0x80) {
            return std::nullopt;
        }
        if (i + extra >= bytes.size())
            return std::nullopt;
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            code = (code << 6) | (next & 0x3F);
        }
        text += QChar(static_cast<char16_t>(code));
        i += 1 + extra;
    }
    return text;
}

} // namespace

void THashList::Add(const QString& name, const QString& value)
{
    FItems.push_back({name, std::make_unique<TData>(TData{value})});
}

TDateTime CertTimeToDateTime(uint32_t seconds)
{
    const uint64_t fileTime = uint64_t(seconds) * 10000000ULL + FileTimeOfUnixEpoch;
    const std::optional<uint32_t> dos = FileTimeToDosDateTime(fileTime);
    if (!dos)
        return 0;
    TDateTime result = DosDateTimeToDateTime(*dos);
    if (const std::optional<int> bias = TimeZoneBias())
        result -= *bias / 1440.0;
    return result;
}

QString DecodeEscapedText(const QByteArray& text)
{
    const qsizetype start = text.indexOf("\\x");
    if (start < 0)
        return AnsiToString(text);
    if (start > 0)
        return AnsiToString(text.left(start)) + DecodeEscapedText(text.mid(start));

    QByteArray bytes;
    for (qsizetype i = 0; i < text.size();) {
        if (text[i] == '\\' && text.size() - i - 1 >= 2 && text[i + 1] == 'x') {
            const QByteArray digits = text.mid(i + 2, 2);
            int value = 0;
            for (char c : digits)
                value = (value < 0 || HexValue(c) < 0) ? -1 : value * 16 + HexValue(c);
            if (value >= 1 && value <= 255)
                bytes += static_cast<char>(value);
            i += 2 + digits.size();
        } else {
            bytes += text[i++];
        }
    }
    const std::optional<QString> decoded = DecodeUtf8(bytes);
    if (!decoded)
        return {};
    // The text lives in the ANSI code page: what it lacks becomes its default character.
    return AnsiToString(StringToAnsi(*decoded));
}

TVCertMgr::TVCertMgr(const QString& storeName)
{
    try {
        FStoreHandle = 0;
        const QString name = Trim(storeName).isEmpty() ? DefaultStoreName : storeName;
        Check(VCERT_Initialize(StringToAnsi(name).constData(), 1, &FStoreHandle));
        ReadCurrentCertificate();
        BindCompanionLibraries();
        FList1 = std::make_unique<THashList>();
        FList2 = std::make_unique<THashList>();
    } catch (...) {
        Release();
        throw;
    }
}

TVCertMgr::~TVCertMgr() { Release(); }

void TVCertMgr::Release() noexcept
{
    if (FStoreHandle != 0) {
        VCERT_Uninitialize(FStoreHandle);
        FStoreHandle = 0;
    }
    if (FVersionedLibrary && FOwnsVersionedLibrary)
        FreeLibrary(FVersionedLibrary);
    FVersionedLibrary = nullptr;
    FList1.reset();
    FList2.reset();
}

void TVCertMgr::Check(int32_t status)
{
    if (status != 0)
        throw VCERT_Error(VCertErrorText(status), status);
}

void TVCertMgr::ReadCurrentCertificate()
{
    std::array<int32_t, VCERT_FIND_PARAM_WORDS> params{};
    params.front() = VCERT_FIND_PARAM_FIRST;
    params.back() = VCERT_FIND_PARAM_LAST;
    VCERT_FindResult result{};

    // The library owns what the result points to: give it back on every path.
    struct FreeResult
    {
        int32_t handle;
        VCERT_FindResult* result;
        ~FreeResult() { VCERT_FreeFindResult(handle, result); }
    } freeResult{FStoreHandle, &result};

    Check(VCERT_FindCert(FStoreHandle, params.data(), &result));
    if (result.count <= 0 || !result.first)
        return;
    const VCERT_CertInfo& info = *result.first;
    if (info.text2)
        Text2 = AnsiToString(info.text2);
    if (info.text4)
        Text4 = AnsiToString(info.text4);
    if (info.text3)
        Text3 = DecodeEscapedText(info.text3);
    if (info.text1)
        Text1 = AnsiToString(info.text1);
    Period1From = CertTimeToDateTime(info.period1From);
    Period1To = CertTimeToDateTime(info.period1To);
    Period2From = CertTimeToDateTime(info.period2From);
    Period2To = CertTimeToDateTime(info.period2To);
}

void TVCertMgr::BindCompanionLibraries()
{
    if (HMODULE wbotho = CompanionLibrary(QStringLiteral("WBOTHO.DLL"))) {
        FProcs.InitKey = GetProcAddress(wbotho, "InitKey");
        FProcs.verba_key_set = GetProcAddress(wbotho, "verba_key_set");
        FProcs.ResetKeyEx = GetProcAddress(wbotho, "ResetKeyEx");
        FProcs.GetDrvInfo = GetProcAddress(wbotho, "GetDrvInfo");
    }
    if (HMODULE vpki = CompanionLibrary(QStringLiteral("VPKI.DLL"))) {
        FProcs.VCERT_cert_find_private_key = GetProcAddress(vpki, "VCERT_cert_find_private_key");
        FProcs.X509_free = GetProcAddress(vpki, "X509_free");
        FProcs.d2i_X509 = GetProcAddress(vpki, "d2i_X509");
    }

    if (VCertLibVersion >= VersionedInVpki1) {
        FVersionedLibrary = GetModuleHandle(VCertLibName);
        FOwnsVersionedLibrary = false;
    } else {
        FVersionedLibrary = LoadLibrary(QStringLiteral("SIGDECR_EX.DLL"));
        FOwnsVersionedLibrary = true;
    }
    if (!FVersionedLibrary)
        return;
    FProcs.VCERT_SignMem_ex = GetProcAddress(FVersionedLibrary, "VCERT_SignMem_ex");
    FProcs.VCERT_DecryptMem_ex = GetProcAddress(FVersionedLibrary, "VCERT_DecryptMem_ex");
    FProcs.VCERT_VerifyMem_ex = GetProcAddress(FVersionedLibrary, "VCERT_VerifyMem_ex");
    FProcs.VCERT_ImportMem_ex = GetProcAddress(FVersionedLibrary, "VCERT_ImportMem_ex");
    FProcs.VCERT_P7Sign_Merge = GetProcAddress(FVersionedLibrary, "VCERT_P7Sign_Merge");
    FProcs.VCERT_CRL_List_free = GetProcAddress(FVersionedLibrary, "VCERT_CRL_List_free");
    FProcs.VCERT_GetCRL_List = GetProcAddress(FVersionedLibrary, "VCERT_GetCRL_List");
    if (!FOwnsVersionedLibrary && !FProcs.VCERT_ImportMem_ex)
        FProcs.VCERT_ImportMem_ex = GetProcAddress(FVersionedLibrary, "VCERT_ImportMem");
}

void TVCertMgr::ImportCertificate(const QByteArray& data) { Import(data, VCERT_IMPORT_CERTIFICATE); }

void TVCertMgr::ImportCRL(const QByteArray& data) { Import(data, VCERT_IMPORT_CRL); }

void TVCertMgr::Import(const QByteArray& data, int32_t kind)
{
    VCERT_ImportParams params{};
    params.kind = kind;
    const VCERT_MemBlock block{static_cast<int32_t>(data.size()), reinterpret_cast<const uint8_t*>(data.constData())};
    Check(VCERT_ImportMem(FStoreHandle, &params, &block));
}
