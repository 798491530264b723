// Where the updater's libraries come from on Windows: its own folder, then the
// system folder.
#include "platform/library_file.h"
#include "platform/files.h"
#include "platform/unicode.h"

#include <windows.h>

namespace kv::os {
namespace {

std::string system_folder() {
    wchar_t buf[MAX_PATH];
    const UINT n = GetSystemDirectoryW(buf, MAX_PATH);
    return n > 0 && n < MAX_PATH ? from_wide(std::wstring(buf, n)) : std::string();
}

} // namespace

std::string library_file(std::string_view name, std::string_view program_folder,
                         const char* const* extra_dirs) {
    const std::string bare(name);
    if (bare.find_first_of("\\/:") != std::string::npos) return file_exists(bare) ? bare : std::string();
    auto in = [&](std::string_view folder) {
        std::string p = std::string(folder) + "\\" + bare;
        return file_exists(p) ? p : std::string();
    };
    if (std::string p = in(program_folder); !p.empty()) return p;
    for (auto d = extra_dirs; d && *d; ++d)
        if (std::string p = in(*d); !p.empty()) return p;
    if (const std::string system = system_folder(); !system.empty()) return in(system);
    return {};
}

} // namespace kv::os
