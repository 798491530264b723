// Folder identity on Linux: device and inode numbers; a mount point is a
// folder on another device than its parent, or the same folder as its parent
// (a bind mount of a folder onto itself is seen in /proc/self/mountinfo).
#include "platform/file_identity.h"

#include "platform/files.h"

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace kv::os {
namespace {

std::string without_trailing_slashes(std::string p) {
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return p;
}

// The mount points /proc/self/mountinfo lists, with its octal escapes undone.
bool listed_as_mount_point(const std::string& real) {
    std::ifstream info("/proc/self/mountinfo");
    for (std::string line; std::getline(info, line);) {
        std::istringstream fields(line);
        std::string id, parent, devno, root, point;
        if (!(fields >> id >> parent >> devno >> root >> point)) continue;
        std::string unescaped;
        for (size_t i = 0; i < point.size(); ++i) {
            if (point[i] == '\\' && i + 3 < point.size()) {
                unescaped += char(std::strtol(point.substr(i + 1, 3).c_str(), nullptr, 8));
                i += 3;
            } else {
                unescaped += point[i];
            }
        }
        if (unescaped == real) return true;
    }
    return false;
}

} // namespace

std::optional<FileIdentity> file_identity(std::string_view path) {
    struct stat st;
    if (::stat(native_path(path).c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{uint64_t(st.st_dev), uint64_t(st.st_ino)};
}

std::optional<std::string> final_path(std::string_view path) {
    char buf[PATH_MAX];
    if (!::realpath(native_path(path).c_str(), buf)) return std::nullopt;
    return std::string(buf);
}

bool is_link_or_mount_point(std::string_view path) {
    const std::string p = without_trailing_slashes(native_path(path));
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0) return false;
    if (S_ISLNK(st.st_mode)) return true;
    if (!S_ISDIR(st.st_mode)) return false;
    struct stat parent;
    if (::stat((p + "/..").c_str(), &parent) != 0) return false;
    if (parent.st_dev != st.st_dev || parent.st_ino == st.st_ino) return true;
    // A bind mount from the same file system keeps the device number.
    const std::optional<std::string> real = final_path(p);
    return real && *real != "/" && listed_as_mount_point(*real);
}

bool path_entry_exists(std::string_view path) {
    struct stat st;
    return ::lstat(without_trailing_slashes(native_path(path)).c_str(), &st) == 0;
}

} // namespace kv::os
