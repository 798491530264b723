// Which file a library name would be loaded from, and what kind of machine
// code a program or library file holds, asked without loading it: a library
// of the wrong word size does not load at all, and the pre-flight check must
// still say which file it is and why it would fail.
#pragma once

#include <string>
#include <string_view>

namespace kv::os {

// The file the loader would take for `name` in a program that lives in
// `program_folder`. A name with a folder is that file. A bare name is looked
// for in `program_folder`, then in `extra_dirs` (nullptr-terminated, may be
// null), then where the system looks: Windows, the system folder (the
// program's folder and the system folder are the only places the updater
// loads from); Linux, the system loader's places. Empty when none is found.
std::string library_file(std::string_view name, std::string_view program_folder,
                         const char* const* extra_dirs);

// The word size, 32 or 64, of the machine code in a PE (Windows) or ELF
// (Linux) file, from its header; 0 when it is neither or cannot be read.
int image_bits(std::string_view path);

// The word size of the running program.
constexpr int program_bits() {
    return static_cast<int>(sizeof(void*) * 8);
}

} // namespace kv::os
