// Writes the release the end-to-end tests serve into a folder, laid out as the
// package server has it: logo1024.png at the root, the five packages under
// 2027/. The demo serves this folder with nginx.
//   kv_e2e_release FOLDER
#include "e2e_site.h"

#include <cstdio>
#include <filesystem>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kv_e2e_release FOLDER\n");
        return 2;
    }
    namespace fs = std::filesystem;
    const fs::path root = argv[1];
    const kv::test::e2e::Release release;
    fs::create_directories(root / "2027");
    kv::test::write_file((root / "logo1024.png").string(), release.logo);
    for (const auto& [name, items] : release.packages) {
        kv::test::write_file((root / "2027" / name).string(), kv::test::rar5_archive(items));
        std::printf("%s: %zu items\n", name.c_str(), items.size());
    }
    return 0;
}
