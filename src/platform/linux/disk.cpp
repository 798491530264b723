// Volume room through statvfs; the temporary folder as the C library names it.
#include "platform/disk.h"

#include "platform/files.h"

#include <cstdio>
#include <sys/statvfs.h>

namespace kv::os {

std::optional<uint64_t> free_space(std::string_view folder) {
    struct statvfs st;
    if (::statvfs(native_path(folder).c_str(), &st) != 0) return std::nullopt;
    return uint64_t(st.f_bavail) * st.f_frsize;
}

std::string temp_directory() {
    return P_tmpdir;
}

} // namespace kv::os
