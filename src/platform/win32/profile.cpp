// Profile files on Windows: the system's own reader.
#include "platform/profile.h"

#include "platform/unicode.h"

#include <windows.h>

namespace kv::os {

std::string read_profile_string(std::string_view path, std::string_view section, std::string_view key,
                                std::string_view default_value) {
    wchar_t buf[2048];
    DWORD n = ::GetPrivateProfileStringW(to_wide(section).c_str(), to_wide(key).c_str(),
                                         to_wide(default_value).c_str(), buf, 2048, to_wide(path).c_str());
    return from_wide(std::wstring_view(buf, n));
}

std::string ProfileFile::read_string(std::string_view section, std::string_view key,
                                     std::string_view default_value) {
    return read_profile_string(FPath, section, key, default_value);
}

void flush_profile(std::string_view path) {
    ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, to_wide(path).c_str());
}

} // namespace kv::os
