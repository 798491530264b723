// Writes the release the end-to-end tests serve into a folder, laid out as the
// package server has it: logo1024.png at the root, the five packages under
// 2027/. The demo serves this folder with nginx. With --mib the packages grow
// to about that many MiB in all, for the link benchmark: each gets a further
// item of random (incompressible) bytes, the product's package the largest.
//   kv_e2e_release [--mib N] FOLDER
#include "e2e_site.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace {

// Each package's share of the added size, in percent.
const std::pair<const char*, int> kShares[] = {
    {"kuvento.rar", 40}, {"telvano.rar", 20}, {"report.rar", 10}, {"dorvika.rar", 15}, {"dll.rar", 15}};

std::string random_bytes(size_t size, unsigned seed) {
    std::mt19937_64 gen(seed);
    std::string out(size, '\0');
    for (size_t i = 0; i + 8 <= size; i += 8) {
        const uint64_t v = gen();
        for (int b = 0; b < 8; ++b)
            out[i + b] = static_cast<char>(v >> (8 * b));
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    long mib = 0;
    if (argc == 4 && std::string(argv[1]) == "--mib") mib = std::strtol(argv[2], nullptr, 10);
    if (argc != 2 && !(argc == 4 && mib > 0)) {
        std::fprintf(stderr, "usage: kv_e2e_release [--mib N] FOLDER\n");
        return 2;
    }
    namespace fs = std::filesystem;
    const fs::path root = argv[argc - 1];
    kv::test::e2e::Release release;
    unsigned seed = 2027;
    for (const auto& [name, percent] : kShares)
        if (mib > 0)
            release.packages.at(name).push_back(
                {"data/" + fs::path(name).stem().string() + ".dat",
                 random_bytes(static_cast<size_t>(mib) * 1048576 * percent / 100, seed++)});
    fs::create_directories(root / "2027");
    kv::test::write_file((root / "logo1024.png").string(), release.logo);
    for (const auto& [name, items] : release.packages) {
        const std::string archive = kv::test::rar5_archive(items);
        kv::test::write_file((root / "2027" / name).string(), archive);
        std::printf("%s: %zu items, %zu bytes\n", name.c_str(), items.size(), archive.size());
    }
    return 0;
}
