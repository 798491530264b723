// The "ANSI code page" of Windows is the system code page (CP_ACP).
#include "platform/unicode.h"

#include <windows.h>

namespace kv {

std::string utf8_to_ansi(std::string_view s) {
    std::wstring w = to_wide(s);
    if (w.empty()) return {};
    int n =
        ::WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string ansi_to_utf8(std::string_view s) {
    if (s.empty()) return {};
    int n = ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return from_wide(w);
}

} // namespace kv
