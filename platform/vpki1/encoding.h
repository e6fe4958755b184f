// Conversions between the library's CP1251 ("ANSI") interface and the UTF-8
// the store and OpenSSL work in.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vpki1 {

// UTF-8 -> CP1251; characters CP1251 lacks (and broken UTF-8) become '?'.
std::string Utf8ToCp1251(std::string_view utf8);

// CP1251 -> UTF-8; nullopt for the one byte CP1251 leaves undefined (0x98).
std::optional<std::string> Cp1251ToUtf8(std::string_view ansi);

// Every byte >= 0x80 written as "\xhh"; ASCII kept as is.
std::string EscapeHighBytes(std::string_view bytes);

} // namespace vpki1
