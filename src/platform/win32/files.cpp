// Files and folders on Windows: the W calls, paths converted at the boundary.
#include "platform/files.h"
#include "platform/unicode.h"

#include <algorithm>
#include <utility>
#include <windows.h>

namespace kv::os {
namespace {

DWORD attributes(std::string_view path) {
    return GetFileAttributesW(to_wide(path).c_str());
}

} // namespace

std::string native_path(std::string_view path) {
    return std::string(path);
}

bool windows_name_rules() {
    return true;
}

std::string current_directory() {
    DWORD n = GetCurrentDirectoryW(0, nullptr);
    std::wstring buf(n, L'\0');
    n = GetCurrentDirectoryW(n, buf.data());
    buf.resize(n);
    return from_wide(buf);
}

bool file_exists(std::string_view path) {
    DWORD a = attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool directory_exists(std::string_view path) {
    DWORD a = attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<uint64_t> regular_file_size(std::string_view path) {
    // Opened for its attributes only, so no sharing is in the way; a link is followed.
    HANDLE h = CreateFileW(to_wide(path).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    std::optional<uint64_t> size;
    FILE_STANDARD_INFO info;
    if (GetFileType(h) == FILE_TYPE_DISK &&
        GetFileInformationByHandleEx(h, FileStandardInfo, &info, sizeof info) && !info.Directory)
        size = static_cast<uint64_t>(info.EndOfFile.QuadPart);
    CloseHandle(h);
    return size;
}

std::optional<int64_t> file_modified_time(std::string_view path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(to_wide(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    const uint64_t ticks = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                           data.ftLastWriteTime.dwLowDateTime;
    // FILETIME counts 100 ns from 1601; 11644473600 s lie between 1601 and 1970.
    return static_cast<int64_t>(ticks / 10000000) - 11644473600LL;
}

bool is_link(std::string_view path) {
    DWORD a = attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool create_directory(std::string_view path) {
    return CreateDirectoryW(to_wide(path).c_str(), nullptr);
}
bool remove_directory(std::string_view path) {
    return RemoveDirectoryW(to_wide(path).c_str());
}
bool delete_file(std::string_view path) {
    return DeleteFileW(to_wide(path).c_str());
}

bool copy_file(std::string_view from, std::string_view to, bool fail_if_exists) {
    return CopyFileW(to_wide(from).c_str(), to_wide(to).c_str(), fail_if_exists);
}

bool replace_file(std::string_view from, std::string_view to) {
    // Windows refuses to replace a read-only file; Wine's rename does not, so
    // the refusal is made here, as on Linux.
    if (is_read_only(to)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return MoveFileExW(to_wide(from).c_str(), to_wide(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

bool move_file(std::string_view from, std::string_view to) {
    return MoveFileExW(to_wide(from).c_str(), to_wide(to).c_str(), MOVEFILE_WRITE_THROUGH);
}

bool hard_link(std::string_view from, std::string_view to) {
    return CreateHardLinkW(to_wide(to).c_str(), to_wide(from).c_str(), nullptr);
}

bool copy_file_durably(std::string_view from, std::string_view to, std::string_view) {
    const std::wstring dst = to_wide(to);
    if (!CopyFileW(to_wide(from).c_str(), dst.c_str(), TRUE)) return false;
    HANDLE h =
        CreateFileW(dst.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = h != INVALID_HANDLE_VALUE && FlushFileBuffers(h);
    DWORD err = GetLastError();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (ok) return true;
    DeleteFileW(dst.c_str());
    SetLastError(err);
    return false;
}

bool flush_directory(std::string_view) {
    return true;
}

bool is_read_only(std::string_view path) {
    DWORD a = attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY) && (a & FILE_ATTRIBUTE_READONLY);
}

bool set_read_only(std::string_view path, bool read_only) {
    DWORD a = attributes(path);
    if (a == INVALID_FILE_ATTRIBUTES) return false;
    a = read_only ? (a | FILE_ATTRIBUTE_READONLY) : (a & ~DWORD(FILE_ATTRIBUTE_READONLY));
    return SetFileAttributesW(to_wide(path).c_str(), a);
}

std::optional<std::vector<DirEntry>> list_directory(std::string_view path) {
    std::string pattern(path);
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(to_wide(pattern).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<DirEntry> out;
    do {
        DirEntry e;
        e.name = from_wide(fd.cFileName);
        e.is_directory = fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        e.is_link = fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
        e.read_only = fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY;
        e.hidden = fd.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN;
        out.push_back(std::move(e));
    } while (FindNextFileW(h, &fd));
    DWORD err = GetLastError();
    FindClose(h);
    SetLastError(err);
    return out;
}

uint32_t last_error() {
    return GetLastError();
}
void set_last_error(uint32_t code) {
    SetLastError(code);
}

std::string system_error_text(uint32_t code) {
    wchar_t* buf = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    std::wstring s = n ? std::wstring(buf, n) : std::wstring();
    if (buf) LocalFree(buf);
    while (!s.empty() && (s.back() == L'\r' || s.back() == L'\n' || s.back() == L' ' || s.back() == L'.'))
        s.pop_back();
    return from_wide(s);
}

File::~File() {
    close();
}
File::File(File&& o) noexcept : FHandle(std::exchange(o.FHandle, nullptr)) {}
File& File::operator=(File&& o) noexcept {
    if (this != &o) {
        close();
        FHandle = std::exchange(o.FHandle, nullptr);
    }
    return *this;
}

bool File::open(std::string_view path, FileAccess access, FileShare share, FileDisposition disposition) {
    close();
    DWORD acc = access == FileAccess::Read    ? GENERIC_READ
                : access == FileAccess::Write ? GENERIC_WRITE
                                              : GENERIC_READ | GENERIC_WRITE;
    DWORD sh = share == FileShare::None        ? 0
               : share == FileShare::Read      ? FILE_SHARE_READ
               : share == FileShare::ReadWrite ? FILE_SHARE_READ | FILE_SHARE_WRITE
                                               : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    DWORD disp = disposition == FileDisposition::OpenExisting ? OPEN_EXISTING : CREATE_ALWAYS;
    HANDLE h = CreateFileW(to_wide(path).c_str(), acc, sh, nullptr, disp, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    FHandle = h;
    return true;
}

bool File::is_open() const noexcept {
    return FHandle != nullptr;
}

void File::close() noexcept {
    if (FHandle) CloseHandle(std::exchange(FHandle, nullptr));
}

int64_t File::read(void* buf, int64_t count) {
    int64_t done = 0;
    while (done < count) {
        DWORD chunk = static_cast<DWORD>(std::min<int64_t>(count - done, 1 << 30)), got = 0;
        if (!ReadFile(FHandle, static_cast<char*>(buf) + done, chunk, &got, nullptr)) return done ? done : -1;
        if (got == 0) break;
        done += got;
    }
    return done;
}

int64_t File::write(const void* buf, int64_t count) {
    int64_t done = 0;
    while (done < count) {
        DWORD chunk = static_cast<DWORD>(std::min<int64_t>(count - done, 1 << 30)), put = 0;
        if (!WriteFile(FHandle, static_cast<const char*>(buf) + done, chunk, &put, nullptr) || put == 0)
            return done ? done : -1;
        done += put;
    }
    return done;
}

int64_t File::seek(int64_t offset, SeekOrigin origin) {
    LARGE_INTEGER d, r;
    d.QuadPart = offset;
    DWORD how = origin == SeekOrigin::Begin     ? FILE_BEGIN
                : origin == SeekOrigin::Current ? FILE_CURRENT
                                                : FILE_END;
    return SetFilePointerEx(FHandle, d, &r, how) ? r.QuadPart : -1;
}

bool File::flush() {
    return FlushFileBuffers(FHandle);
}

bool File::truncate_here() {
    return SetEndOfFile(FHandle);
}

} // namespace kv::os
