#include "encoding.h"

#include <cerrno>
#include <iconv.h>

namespace vpki1 {
namespace {

class Converter
{
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter()
    {
        if (valid())
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts as much as it can; stops at the first byte it cannot take and
    // returns errno for it (0 when all of the input went through).
    int convert(std::string_view& in, std::string& out)
    {
        char* src = const_cast<char*>(in.data());
        size_t srcLeft = in.size();
        while (srcLeft > 0) {
            char buffer[256];
            char* dst = buffer;
            size_t dstLeft = sizeof buffer;
            const size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out.append(buffer, dst);
            if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
                const int error = errno;
                in = std::string_view(src, srcLeft);
                return error;
            }
        }
        in = {};
        return 0;
    }

private:
    iconv_t cd_;
};

// Length of the UTF-8 sequence starting at in[0], bounded by what is there.
size_t Utf8SequenceLength(std::string_view in)
{
    const auto lead = static_cast<unsigned char>(in[0]);
    size_t length = 1;
    if (lead >= 0xF0 && lead <= 0xF7)
        length = 4;
    else if (lead >= 0xE0)
        length = lead <= 0xEF ? 3 : 1;
    else if (lead >= 0xC0)
        length = 2;
    size_t taken = 1;
    while (taken < length && taken < in.size() && (static_cast<unsigned char>(in[taken]) & 0xC0) == 0x80)
        ++taken;
    return taken;
}

} // namespace

std::string Utf8ToCp1251(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    Converter converter("CP1251", "UTF-8");
    while (!utf8.empty()) {
        if (converter.valid() && converter.convert(utf8, out) == 0)
            break;
        // Without a converter only ASCII survives.
        if (!converter.valid() && static_cast<unsigned char>(utf8[0]) < 0x80) {
            out += utf8[0];
            utf8.remove_prefix(1);
            continue;
        }
        out += '?';
        utf8.remove_prefix(Utf8SequenceLength(utf8));
    }
    return out;
}

std::optional<std::string> Cp1251ToUtf8(std::string_view ansi)
{
    Converter converter("UTF-8", "CP1251");
    if (!converter.valid())
        return std::nullopt;
    std::string out;
    if (converter.convert(ansi, out) != 0)
        return std::nullopt;
    return out;
}

std::string EscapeHighBytes(std::string_view bytes)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

} // namespace vpki1
