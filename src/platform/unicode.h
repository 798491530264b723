// UTF-8 <-> UTF-16 conversion. Text inside the program is UTF-8; it becomes
// UTF-16 only at the Win32 boundary and where a count is in UTF-16 code units.
// Invalid UTF-8 and lone surrogates become U+FFFD; nothing throws.
#pragma once

#include <string>
#include <string_view>

namespace kv {

std::u16string utf8_to_utf16(std::string_view s);
std::string utf16_to_utf8(std::u16string_view s);
bool is_valid_utf8(std::string_view s);
// Number of UTF-16 code units the UTF-8 text takes.
size_t utf16_length(std::string_view utf8);

// The "ANSI code page": the system code page on Windows, UTF-8 on Linux
// (where both are the identity). Characters the code page lacks become "?".
std::string utf8_to_ansi(std::string_view s);
std::string ansi_to_utf8(std::string_view s);

#ifdef _WIN32
// wchar_t is UTF-16 on Windows.
std::wstring to_wide(std::string_view s);
std::string from_wide(std::wstring_view s);
#endif

} // namespace kv
