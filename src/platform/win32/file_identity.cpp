// Folder identity on Windows: the volume serial number and file index of a
// handle opened with backup semantics (which opens folders too), the final
// path of that handle, and the reparse-point attribute that junctions,
// symbolic links and mounted volumes carry.
#include "platform/file_identity.h"

#include "platform/unicode.h"

#include <windows.h>

namespace kv::os {
namespace {

// Opened for its attributes only, so no sharing is in the way; links followed.
struct Handle {
    HANDLE h;
    explicit Handle(std::string_view path)
        : h(CreateFileW(to_wide(path).c_str(), FILE_READ_ATTRIBUTES,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {}
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

DWORD own_attributes(std::string_view path) {
    std::string p(path);
    while (p.size() > 3 && (p.back() == '\\' || p.back() == '/'))
        p.pop_back();
    return GetFileAttributesW(to_wide(p).c_str());
}

} // namespace

std::optional<FileIdentity> file_identity(std::string_view path) {
    Handle file(path);
    BY_HANDLE_FILE_INFORMATION info;
    if (file.h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file.h, &info)) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

std::optional<std::string> final_path(std::string_view path) {
    Handle file(path);
    if (file.h == INVALID_HANDLE_VALUE) return std::nullopt;
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            GetFinalPathNameByHandleW(file.h, buf.data(), DWORD(buf.size()), FILE_NAME_NORMALIZED);
        if (n == 0) return std::nullopt;
        if (n < buf.size()) {
            buf.resize(n);
            return from_wide(buf);
        }
        buf.resize(n + 1);
    }
}

bool is_link_or_mount_point(std::string_view path) {
    const DWORD a = own_attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool path_entry_exists(std::string_view path) {
    return own_attributes(path) != INVALID_FILE_ATTRIBUTES;
}

} // namespace kv::os
