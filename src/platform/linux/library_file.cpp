// Where Linux's loader finds a library: the folders the updater names first,
// then the loader's own search, asked through dlopen and dlinfo.
#include "platform/library_file.h"
#include "platform/files.h"

#include <dlfcn.h>
#include <link.h>

namespace kv::os {
namespace {

// The loader's default folders on Debian, for a library it refused to load
// (of the other word size), which dlinfo cannot name.
constexpr const char* kSystemDirs[] = {"/lib/x86_64-linux-gnu",
                                       "/usr/lib/x86_64-linux-gnu",
                                       "/lib/i386-linux-gnu",
                                       "/usr/lib/i386-linux-gnu",
                                       "/lib",
                                       "/usr/lib"};

// The file a loaded library came from.
std::string loaded_file(const std::string& name) {
    void* handle = ::dlopen(name.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!handle) return {};
    std::string file;
    link_map* map = nullptr;
    if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name) file = map->l_name;
    ::dlclose(handle);
    return file;
}

} // namespace

std::string library_file(std::string_view name, std::string_view program_folder,
                         const char* const* extra_dirs) {
    const std::string bare(name);
    if (bare.find('/') != std::string::npos) return file_exists(bare) ? bare : std::string();
    if (const std::string p = std::string(program_folder) + "/" + bare; file_exists(p)) return p;
    for (auto d = extra_dirs; d && *d; ++d)
        if (const std::string p = std::string(*d) + "/" + bare; file_exists(p)) return p;
    if (std::string file = loaded_file(bare); !file.empty()) return file;
    for (const char* d : kSystemDirs)
        if (const std::string p = std::string(d) + "/" + bare; file_exists(p)) return p;
    return {};
}

} // namespace kv::os
