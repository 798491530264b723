// Files and folders on Linux: POSIX calls under the Windows rules of files.h.
#include "platform/files.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kv::os {
namespace {

// A regular file without the owner's write bit: read-only in the Windows sense.
bool is_read_only_file(const std::string& p) {
    struct stat st;
    return ::lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR);
}

bool fail(int e) {
    errno = e;
    return false;
}

} // namespace

std::string native_path(std::string_view path) {
    std::string p(path);
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

bool windows_name_rules() {
    return false;
}

std::string current_directory() {
    std::string buf(4096, '\0');
    while (!::getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE) return {};
        buf.resize(buf.size() * 2);
    }
    buf.resize(std::strlen(buf.c_str()));
    return buf;
}

bool file_exists(std::string_view path) {
    struct stat st;
    return ::stat(native_path(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool directory_exists(std::string_view path) {
    struct stat st;
    return ::stat(native_path(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<uint64_t> regular_file_size(std::string_view path) {
    struct stat st;
    if (::stat(native_path(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

std::optional<int64_t> file_modified_time(std::string_view path) {
    struct stat st;
    if (::stat(native_path(path).c_str(), &st) != 0) return std::nullopt;
    return static_cast<int64_t>(st.st_mtime);
}

bool is_link(std::string_view path) {
    struct stat st;
    return ::lstat(native_path(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool create_directory(std::string_view path) {
    return ::mkdir(native_path(path).c_str(), 0777) == 0;
}

bool remove_directory(std::string_view path) {
    auto p = native_path(path);
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    struct stat st;
    if (::lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        struct stat target;
        if (::stat(p.c_str(), &target) != 0 || !S_ISDIR(target.st_mode)) return fail(ENOTDIR);
        return ::unlink(p.c_str()) == 0;
    }
    return ::rmdir(p.c_str()) == 0;
}

bool delete_file(std::string_view path) {
    auto p = native_path(path);
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) return fail(EACCES); // DeleteFileW on a folder: access denied
    if (is_read_only_file(p)) return fail(EACCES);
    return ::unlink(p.c_str()) == 0;
}

bool copy_file(std::string_view from, std::string_view to, bool fail_if_exists) {
    auto src = native_path(from), dst = native_path(to);
    int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat sst;
    if (::fstat(in, &sst) != 0 || S_ISDIR(sst.st_mode)) {
        int e = S_ISDIR(sst.st_mode) ? EACCES : errno;
        ::close(in);
        return fail(e);
    }
    struct stat dst_st;
    bool exists = ::stat(dst.c_str(), &dst_st) == 0;
    if (exists && (fail_if_exists || S_ISDIR(dst_st.st_mode) || is_read_only_file(dst))) {
        ::close(in);
        return fail(fail_if_exists ? EEXIST : EACCES);
    }
    int out = ::open(dst.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, sst.st_mode & 07777);
    if (out < 0) {
        int e = errno;
        ::close(in);
        return fail(e);
    }
    char buf[65536];
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(in, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        for (ssize_t off = 0; off < n;) {
            ssize_t w = ::write(out, buf + off, n - off);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            off += w;
        }
        if (!ok) break;
    }
    int e = errno;
    ::close(in);
    if (::close(out) != 0) ok = false;
    return ok ? true : fail(e);
}

bool replace_file(std::string_view from, std::string_view to) {
    auto dst = native_path(to);
    if (is_read_only_file(dst)) return fail(EACCES);
    return ::rename(native_path(from).c_str(), dst.c_str()) == 0;
}

bool move_file(std::string_view from, std::string_view to) {
    auto dst = native_path(to);
    struct stat st;
    if (::lstat(dst.c_str(), &st) == 0) return fail(EEXIST);
    return ::rename(native_path(from).c_str(), dst.c_str()) == 0;
}

bool hard_link(std::string_view from, std::string_view to) {
    return ::link(native_path(from).c_str(), native_path(to).c_str()) == 0;
}

bool copy_file_durably(std::string_view from, std::string_view to, std::string_view like) {
    auto src = native_path(from), dst = native_path(to);
    int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat sst;
    if (::fstat(in, &sst) != 0 || !S_ISREG(sst.st_mode)) {
        int e = S_ISDIR(sst.st_mode) ? EACCES : errno;
        ::close(in);
        return fail(e);
    }
    mode_t mode = sst.st_mode & 07777;
    struct stat lst;
    if (::stat(native_path(like).c_str(), &lst) == 0 && S_ISREG(lst.st_mode)) mode = lst.st_mode & 07777;
    mode |= S_IWUSR; // the new file is not read-only: that is the target's own attribute
    int out = ::open(dst.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        int e = errno;
        ::close(in);
        return fail(e);
    }
    char buf[1 << 16];
    int e = 0;
    for (;;) {
        ssize_t n = ::read(in, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            e = errno;
            break;
        }
        for (ssize_t off = 0; off < n && !e;) {
            ssize_t w = ::write(out, buf + off, n - off);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0)
                e = w < 0 ? errno : ENOSPC;
            else
                off += w;
        }
        if (e) break;
    }
    if (!e && ::fchmod(out, mode) != 0) e = errno;
    if (!e && ::fsync(out) != 0) e = errno;
    ::close(in);
    if (::close(out) != 0 && !e) e = errno;
    if (!e) return true;
    ::unlink(dst.c_str());
    return fail(e);
}

bool flush_directory(std::string_view folder) {
    int fd = ::open(native_path(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    int e = errno;
    ::close(fd);
    return ok ? true : fail(e);
}

bool is_read_only(std::string_view path) {
    return is_read_only_file(native_path(path));
}

bool set_read_only(std::string_view path, bool read_only) {
    auto p = native_path(path);
    struct stat st;
    if (::stat(p.c_str(), &st) != 0) return false;
    mode_t m = st.st_mode & 07777;
    m = read_only ? (m & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : (m | S_IWUSR);
    return ::chmod(p.c_str(), m) == 0;
}

std::optional<std::vector<DirEntry>> list_directory(std::string_view path) {
    auto p = native_path(path);
    DIR* d = ::opendir(p.c_str());
    if (!d) return std::nullopt;
    std::vector<DirEntry> out;
    if (!p.empty() && p.back() != '/') p += '/';
    while (dirent* e = ::readdir(d)) {
        DirEntry de;
        de.name = e->d_name;
        struct stat st;
        if (::lstat((p + de.name).c_str(), &st) == 0) {
            de.is_link = S_ISLNK(st.st_mode);
            de.is_directory = S_ISDIR(st.st_mode);
            de.read_only = S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR);
        }
        de.hidden = de.name.size() > 1 && de.name[0] == '.' && de.name != "..";
        out.push_back(std::move(de));
    }
    ::closedir(d);
    return out;
}

uint32_t last_error() {
    return static_cast<uint32_t>(errno);
}
void set_last_error(uint32_t code) {
    errno = static_cast<int>(code);
}

std::string system_error_text(uint32_t code) {
    std::string s = std::strerror(static_cast<int>(code));
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ' || s.back() == '.'))
        s.pop_back();
    return s;
}

File::~File() {
    close();
}
File::File(File&& o) noexcept : FHandle(std::exchange(o.FHandle, -1)) {}
File& File::operator=(File&& o) noexcept {
    if (this != &o) {
        close();
        FHandle = std::exchange(o.FHandle, -1);
    }
    return *this;
}

bool File::open(std::string_view path, FileAccess access, FileShare, FileDisposition disposition) {
    close();
    auto p = native_path(path);
    int flags = O_CLOEXEC;
    flags |= access == FileAccess::Read ? O_RDONLY : access == FileAccess::Write ? O_WRONLY : O_RDWR;
    if (disposition == FileDisposition::CreateAlways) flags |= O_CREAT | O_TRUNC;
    if (access != FileAccess::Read && is_read_only_file(p)) return fail(EACCES);
    int fd = ::open(p.c_str(), flags, 0666);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) { // CreateFileW refuses folders
        ::close(fd);
        return fail(EACCES);
    }
    FHandle = fd;
    return true;
}

bool File::is_open() const noexcept {
    return FHandle >= 0;
}

void File::close() noexcept {
    if (FHandle >= 0) ::close(std::exchange(FHandle, -1));
}

int64_t File::read(void* buf, int64_t count) {
    int64_t done = 0;
    while (done < count) {
        ssize_t n = ::read(FHandle, static_cast<char*>(buf) + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return done ? done : -1;
        if (n == 0) break;
        done += n;
    }
    return done;
}

int64_t File::write(const void* buf, int64_t count) {
    int64_t done = 0;
    while (done < count) {
        ssize_t n = ::write(FHandle, static_cast<const char*>(buf) + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return done ? done : -1;
        done += n;
    }
    return done;
}

int64_t File::seek(int64_t offset, SeekOrigin origin) {
    int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
    off_t r = ::lseek(FHandle, offset, whence);
    return r < 0 ? -1 : r;
}

bool File::flush() {
    return ::fsync(FHandle) == 0;
}

bool File::truncate_here() {
    off_t pos = ::lseek(FHandle, 0, SEEK_CUR);
    return pos >= 0 && ::ftruncate(FHandle, pos) == 0;
}

} // namespace kv::os
