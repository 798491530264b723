// Program start on Windows: the shell's "open".
#include "platform/program_start.h"

#include "platform/unicode.h"

#include <windows.h>

#include <shellapi.h>

namespace kv::os {

bool start_program(std::string_view path, void* owner_window) {
    std::wstring file = to_wide(path);
    HINSTANCE r = ::ShellExecuteW(static_cast<HWND>(owner_window), L"open", file.c_str(), nullptr, nullptr,
                                  SW_SHOWNORMAL);
    // ShellExecuteW reports success with a value above 32.
    return reinterpret_cast<INT_PTR>(r) > 32;
}

} // namespace kv::os
