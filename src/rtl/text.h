// Text helpers beyond UTF-8/UTF-16 (platform/unicode.h): the Turkish
// Windows code page, and letter-case folding of exactly A-Z.
#pragma once

#include <string>
#include <string_view>

namespace kv {

std::string cp1254_to_utf8(std::string_view bytes);
// Characters without a Windows-1254 byte become "?".
std::string utf8_to_cp1254(std::string_view text);

// Without leading and trailing blanks and control characters (codes up to 32).
std::string trim(std::string_view s);

// Folds only A-Z / a-z; every other byte is kept as it is.
std::string ascii_upper(std::string_view s);
std::string ascii_lower(std::string_view s);
bool same_text_ascii_fold(std::string_view a, std::string_view b);

} // namespace kv
