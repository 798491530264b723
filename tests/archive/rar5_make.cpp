// rar5_make FILE SIZE_MIB COUNT: writes a stored RAR5 archive of COUNT items
// of SIZE_MIB MiB each ("big0.bin", ...), for the extraction benchmark.
#include "support/rar5_writer.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: rar5_make FILE SIZE_MIB COUNT\n");
        return 2;
    }
    uint64_t size = std::stoull(argv[2]) << 20;
    std::vector<std::pair<std::string, uint64_t>> items;
    for (int i = 0, n = std::stoi(argv[3]); i < n; ++i)
        items.emplace_back("big" + std::to_string(i) + ".bin", size);
    kv::test::write_rar5_generated(argv[1], items);
    return 0;
}
