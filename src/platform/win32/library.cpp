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

bool Library::load(std::string_view name) {
    free();
    FHandle = reinterpret_cast<void*>(LoadLibraryW(to_wide(name).c_str()));
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
