// Files and folders, as the workflow needs them from the operating system.
//
// Paths are UTF-8 and formed the Windows way, by concatenation with "\"; the
// Linux implementation turns every "\" into "/" here, at the boundary, and
// nothing above this layer knows. Functions report failure by their result
// (false, or an empty optional) and leave the system's error code for
// last_error(), as the Win32 calls do; none of them throws.
//
// "Read-only" is the Windows file attribute. On Linux it is a regular file
// without the owner's write permission, and it is honoured for everyone
// (root included): such a file cannot be opened for writing, replaced or
// deleted (EACCES), as on Windows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::os {

// The process's current directory, without a trailing separator (except a root).
std::string current_directory();

// Existence tests follow links to their targets.
bool file_exists(std::string_view path);      // names something that is not a folder
bool directory_exists(std::string_view path); // names a folder
// The size of the regular file the path names (links followed); nullopt
// when it names nothing, a folder, a device, a pipe or anything else.
std::optional<uint64_t> regular_file_size(std::string_view path);
// When the file the path names was last written, in seconds since 1970 UTC;
// nullopt when it names nothing.
std::optional<int64_t> file_modified_time(std::string_view path);
// Whether the path itself is a symbolic link, junction or other reparse point.
bool is_link(std::string_view path);

bool create_directory(std::string_view path); // one level
bool remove_directory(std::string_view path); // an empty folder, or a link to a folder (the link)
bool delete_file(std::string_view path);      // a file, or a link (the link itself)
// Copies `from` onto `to`, replacing it unless fail_if_exists. On Linux a
// replaced file keeps its permission bits; a new file gets `from`'s.
bool copy_file(std::string_view from, std::string_view to, bool fail_if_exists = false);
bool set_read_only(std::string_view path, bool read_only);
// Renames the file `from` to `to` in the same folder, replacing a file `to`
// (not a read-only one) in one step: `to` is either the old file or the new.
bool replace_file(std::string_view from, std::string_view to);
// Renames `from` to `to`, which must not exist (in the same volume).
bool move_file(std::string_view from, std::string_view to);
// Gives the file `from` the second name `to` (same volume, `to` must not
// exist): CreateHardLinkW / link(2).
bool hard_link(std::string_view from, std::string_view to);
// Copies `from` into the new file `to` (which must not exist) and has its
// bytes on disk before returning (FlushFileBuffers / fsync). On Linux the
// new file takes the permission bits of `like` when that names a file,
// otherwise those of `from`, and is writable by its owner. A partial `to` is
// deleted on failure.
bool copy_file_durably(std::string_view from, std::string_view to, std::string_view like);
// Has the folder's entries (a rename in it) on disk. On Windows the moves
// are written through already, and this does nothing.
bool flush_directory(std::string_view folder);
// Whether the path names a read-only file (in the sense above).
bool is_read_only(std::string_view path);

struct DirEntry {
    std::string name;
    bool is_directory = false; // the entry itself, links not followed
    bool is_link = false;      // symbolic link, junction or mount point
    bool read_only = false;
    bool hidden = false;
};
// Every entry of a folder, hidden ones too, "." and ".." included as the
// Win32 listing gives them. nullopt when the folder cannot be listed.
std::optional<std::vector<DirEntry>> list_directory(std::string_view path);

// The calling thread's last system error code (GetLastError / errno).
uint32_t last_error();
void set_last_error(uint32_t code);
// The system's text for an error code, with trailing line breaks, blanks and
// full stops removed.
std::string system_error_text(uint32_t code);

// Native form of a path: "\" turned into "/" on Linux; unchanged on Windows.
std::string native_path(std::string_view path);

// Whether file names follow the Windows rules (letter case ignored, trailing
// dots and blanks of a name dropped): true on Windows, false on Linux.
bool windows_name_rules();

// An open file, owned. Opening mirrors CreateFileW's choices.
enum class FileAccess { Read, Write, ReadWrite };
enum class FileShare { None, Read, ReadWrite, All }; // All: read, write and delete
enum class FileDisposition { OpenExisting, CreateAlways };
enum class SeekOrigin { Begin, Current, End };

class File {
public:
    File() = default;
    ~File();
    File(File&& o) noexcept;
    File& operator=(File&& o) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // false (with last_error set) when the file cannot be opened.
    bool open(std::string_view path, FileAccess access, FileShare share, FileDisposition disposition);
    bool is_open() const noexcept;
    void close() noexcept;

    // -1 on error; otherwise the count moved (short reads only at the end).
    int64_t read(void* buf, int64_t count);
    int64_t write(const void* buf, int64_t count);
    // The new position from the start; -1 on error.
    int64_t seek(int64_t offset, SeekOrigin origin);
    bool truncate_here(); // sets the end of the file at the current position
    bool flush();         // has what was written on disk (FlushFileBuffers / fsync)

private:
#ifdef _WIN32
    void* FHandle = nullptr;
#else
    int FHandle = -1;
#endif
};

} // namespace kv::os
