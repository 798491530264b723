// kvtool extract as scripts see it: one JSON line and the exit status.
#include "support/command.h"
#include "support/rar5_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    std::string out;
    int status;
};

ToolRun kvtool(const std::string& args) {
    const kv::test::CommandRun r =
        kv::test::run_command(std::string(KV_BIN_DIR) + "/kvtool " + args + " 2>/dev/null");
    return {r.out, r.status};
}

} // namespace

TEST(KvtoolExtract, PrintsTheResultOrTheErrorAsJson) {
    fs::path root = fs::temp_directory_path() / ("kv-kvtool-" + std::to_string(std::random_device{}()));
    fs::create_directories(root);
    std::string good = (root / "good.rar").string(), bad = (root / "bad.rar").string();
    kv::test::write_file(good, kv::test::rar5_archive({{"d/a.txt", "a"}}));
    kv::test::write_file(bad, kv::test::rar5_archive({{"a.txt", "a", false, 0, true}}));
    std::string out = (root / "out").string();

    ToolRun ok = kvtool("extract '" + good + "' '" + out + "'");
    EXPECT_EQ(ok.out, "{\"extracted\":true}\n");
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(kv::test::read_file(out + "/d/a.txt"), "a");

    ToolRun damaged = kvtool("extract --lib 7z.so '" + bad + "' '" + out + "'");
    EXPECT_EQ(damaged.out,
              "{\"error\":\"Cannot extract \\\"a.txt\\\": CRC error\",\"class\":\"Exception\"}\n");
    EXPECT_EQ(damaged.status, 1);

    ToolRun nolib = kvtool("extract --lib 7z.dll '" + good + "' '" + out + "'");
    EXPECT_EQ(nolib.out, "{\"error\":\"Error loading library 7z.dll\",\"class\":\"Exception\"}\n");
    EXPECT_EQ(nolib.status, 1);
    fs::remove_all(root);
}
