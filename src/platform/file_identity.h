// What the file system says a folder is, apart from the names it is reached
// by: a folder can be named through links, junctions, mount points, second
// drive letters and short names, and only its identity tells two names of
// one folder apart from two folders.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv::os {

// The volume and the file's number on it (st_dev and st_ino; the volume
// serial number and file index). Two paths with equal identities name the
// same file or folder.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of what `path` names, links followed; nullopt (with
// last_error set) when it names nothing or cannot be opened.
std::optional<FileIdentity> file_identity(std::string_view path);

// The path of what `path` names with every link, junction and ".." resolved
// by the file system (realpath; GetFinalPathNameByHandleW); nullopt when it
// names nothing. Its textual parents are the folders that really hold it.
std::optional<std::string> final_path(std::string_view path);

// Whether `path` itself (not followed) is a symbolic link, a junction or
// another reparse point, or a mount point: a folder whose name leads
// somewhere else than where its parent lies.
bool is_link_or_mount_point(std::string_view path);

// Whether `path` itself (not followed) names anything, a dangling link too.
bool path_entry_exists(std::string_view path);

} // namespace kv::os
