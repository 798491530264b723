// rar5_make FILE SIZE_MIB COUNT [DEPTH]: writes a stored RAR5 archive of
// COUNT items of SIZE_MIB MiB each ("big0.bin", ...), for the extraction
// benchmarks; with DEPTH each item lies DEPTH folders deep ("d/d/.../big0.bin").
#include "support/rar5_writer.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: rar5_make FILE SIZE_MIB COUNT [DEPTH]\n");
        return 2;
    }
    uint64_t size = std::stoull(argv[2]) << 20;
    std::string folders;
    for (int i = 0, depth = argc == 5 ? std::stoi(argv[4]) : 0; i < depth; ++i)
        folders += "d/";
    std::vector<std::pair<std::string, uint64_t>> items;
    for (int i = 0, n = std::stoi(argv[3]); i < n; ++i)
        items.emplace_back(folders + "big" + std::to_string(i) + ".bin", size);
    kv::test::write_rar5_generated(argv[1], items);
    return 0;
}
