// libFuzzer target: the archive reader's checks of item names and paths.
// Whatever name an archive gives an item, either it is refused, or it names a
// place inside the target folder (resolved independently here, with both
// separators, as the Windows and Linux file layers take them) and holds no
// control character.
//
// Build and run from the source tree:
//   clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -Isrc \
//     tests/fuzz/archive_path_fuzz.cpp src/archive/*.cpp src/rtl/*.cpp src/platform/*.cpp \
//     src/platform/linux/*.cpp -ldl -o archive_path_fuzz
//   ./archive_path_fuzz -max_len=256 -max_total_time=300
#include "archive/seven_zip_objects.h"

#include <filesystem>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string item(reinterpret_cast<const char*>(data), size);
    if (!kv::item_path_refusal(item).empty()) return 0;
    for (char c : item)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == ':') __builtin_trap();
    std::string generic = item;
    for (char& c : generic)
        if (c == '\\') c = '/';
    const std::filesystem::path base("/target");
    const std::filesystem::path where = (base / std::filesystem::path(generic)).lexically_normal();
    auto b = base.begin();
    for (auto w = where.begin(); b != base.end(); ++b, ++w)
        if (w == where.end() || *w != *b) __builtin_trap(); // outside the target folder
    return 0;
}
