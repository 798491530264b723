// Volume room through GetDiskFreeSpaceExW; the temporary folder of GetTempPathW.
#include "platform/disk.h"

#include "platform/unicode.h"

#include <windows.h>

namespace kv::os {

std::optional<uint64_t> free_space(std::string_view folder) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(to_wide(folder).c_str(), &available, nullptr, nullptr)) return std::nullopt;
    return available.QuadPart;
}

std::string temp_directory() {
    wchar_t buf[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, buf);
    std::string dir =
        n > 0 && n <= MAX_PATH ? from_wide(std::wstring(buf, n)) : std::string("C:\\Windows\\Temp");
    while (dir.size() > 3 && dir.back() == '\\')
        dir.pop_back();
    return dir;
}

} // namespace kv::os
