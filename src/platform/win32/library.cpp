// Library loading on Windows, with the search narrowed to the program's
// folder and the system folder.
#include "platform/library.h"
#include "platform/files.h"
#include "platform/unicode.h"

#include <utility>
#include <windows.h>

namespace kv::os {

Library::~Library() {
    free();
}
Library::Library(Library&& o) noexcept
    : FHandle(std::exchange(o.FHandle, nullptr)), FError(std::move(o.FError)), FErrorCode(o.FErrorCode) {}
Library& Library::operator=(Library&& o) noexcept {
    if (this != &o) {
        free();
        FHandle = std::exchange(o.FHandle, nullptr);
        FError = std::move(o.FError);
        FErrorCode = o.FErrorCode;
    }
    return *this;
}

namespace {

bool is_bare_name(std::string_view name) {
    return name.find_first_of("\\/:") == std::string_view::npos;
}

bool is_absolute(std::string_view name) {
    return (name.size() >= 3 && name[1] == ':' && (name[2] == '\\' || name[2] == '/')) ||
           (name.size() >= 2 && (name[0] == '\\' || name[0] == '/') && (name[1] == '\\' || name[1] == '/'));
}

std::string system_directory() {
    wchar_t buf[MAX_PATH];
    UINT n = GetSystemDirectoryW(buf, MAX_PATH);
    return n && n < MAX_PATH ? from_wide(std::wstring_view(buf, n)) : std::string();
}

// Loads a library from the program's folder or the system folder only, and
// its dependencies likewise: never from the current folder or PATH, where
// anyone could have put a DLL of the same name. A name with a folder is
// loaded from exactly there, its dependencies from beside it or the system.
HMODULE load_narrowly(std::string_view name) {
    if (is_bare_name(name)) {
        HMODULE h = LoadLibraryExW(to_wide(name).c_str(), nullptr,
                                   LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (h || GetLastError() != ERROR_INVALID_PARAMETER) return h;
        // A system without the search flags (Windows 7 before KB2533623): full paths instead.
        h = LoadLibraryExW(to_wide(program_directory() + "\\" + std::string(name)).c_str(), nullptr,
                           LOAD_WITH_ALTERED_SEARCH_PATH);
        if (h) return h;
        const std::string system = system_directory();
        return system.empty() ? nullptr
                              : LoadLibraryExW(to_wide(system + "\\" + std::string(name)).c_str(), nullptr,
                                               LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    const std::string full =
        is_absolute(name) ? std::string(name) : current_directory() + "\\" + std::string(name);
    HMODULE h = LoadLibraryExW(to_wide(full).c_str(), nullptr,
                               LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (h || GetLastError() != ERROR_INVALID_PARAMETER) return h;
    return LoadLibraryExW(to_wide(full).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

} // namespace

bool Library::load(std::string_view name) {
    free();
    FHandle = reinterpret_cast<void*>(load_narrowly(name));
    if (!FHandle) {
        FErrorCode = GetLastError();
        FError = system_error_text(FErrorCode);
        SetLastError(FErrorCode);
        return false;
    }
    FError.clear();
    FErrorCode = 0;
    return true;
}

bool Library::load_searching(std::string_view name, const char* const*) {
    return load(name);
}

void* Library::symbol(const char* name) const {
    return FHandle ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(FHandle), name)) : nullptr;
}

void Library::free() noexcept {
    if (FHandle) FreeLibrary(static_cast<HMODULE>(std::exchange(FHandle, nullptr)));
}

std::string program_path() {
    std::wstring buf(32768, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    buf.resize(n);
    return from_wide(buf);
}

std::string program_directory() {
    std::string p = program_path();
    auto slash = p.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : p.substr(0, slash);
}

} // namespace kv::os
