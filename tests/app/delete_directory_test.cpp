// The update folder reset on real trees: everything below the folder goes,
// a file that stays keeps its folders (one notice each, innermost first),
// and nothing outside the folder is touched.
#include "updater_fixture.h"

#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kv::test {
namespace {

namespace fs = std::filesystem;

class DeleteDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        site.write("kvayarlar.ini", "[BAGLANTI]\nSUNUCU_IP=localhost\n");
        u = std::make_unique<Updater>();
        ASSERT_TRUE(u->backend.boxes.empty());
    }
    // The form of a name the workflow builds: working directory, "\", name.
    std::string name(const std::string& folder) const { return os::current_directory() + "\\" + folder; }
    const std::vector<window::BoxRecord>& boxes() const { return u->backend.boxes; }

    SiteFolder site;
    std::unique_ptr<Updater> u;
};

TEST_F(DeleteDirectoryTest, RemovesNestedTreeWithHiddenFilesWithOrWithoutTrailingSeparator) {
    for (const char* trailing : {"", "\\"}) {
        site.write("scratch/a.txt");
        site.write("scratch/.hidden");
        site.write("scratch/sub/b.rar");
        site.write("scratch/sub/deeper/.c");
        fs::create_directories(site.path() / "scratch" / "empty");
        u->form->DeleteDirectory(name("scratch") + trailing);
        EXPECT_FALSE(fs::exists(site.path() / "scratch")) << "trailing '" << trailing << "'";
        EXPECT_TRUE(boxes().empty());
    }
}

TEST_F(DeleteDirectoryTest, ReadOnlyFileKeepsItsFoldersWithOneNoticeEachInnermostFirst) {
    site.write("scratch/kuvento.rar");
    site.write("scratch/dll/midas.dll");
    const fs::path kept = site.write("scratch/dll/fbclient.dll");
    ASSERT_TRUE(os::set_read_only(kept.string(), true));

    u->form->DeleteDirectory(name("scratch"));

    EXPECT_TRUE(fs::exists(kept));
    EXPECT_FALSE(fs::exists(site.path() / "scratch" / "dll" / "midas.dll"));
    EXPECT_FALSE(fs::exists(site.path() / "scratch" / "kuvento.rar"));
    ASSERT_EQ(boxes().size(), 2u);
    const std::string prefix = "CANT DELETE EMPTY DIRECTORY:";
    const std::string inner = prefix + name("scratch") + "\\dll ";
    const std::string outer = prefix + name("scratch") + " ";
    ASSERT_EQ(boxes()[0].text.rfind(inner, 0), 0u) << boxes()[0].text;
    ASSERT_EQ(boxes()[1].text.rfind(outer, 0), 0u) << boxes()[1].text;
    // Both folders failed for the same reason, given as the system words it.
    const std::string reason = boxes()[0].text.substr(inner.size());
    EXPECT_EQ(boxes()[1].text.substr(outer.size()), reason);
    ASSERT_FALSE(reason.empty());
    EXPECT_NE(reason.back(), '.');
    EXPECT_NE(reason.back(), ' ');
    EXPECT_NE(reason.back(), '\n');
    EXPECT_EQ(boxes()[0].caption, "Kvupdate");
    EXPECT_EQ(boxes()[0].icon, window::BoxIcon::None);
}

TEST_F(DeleteDirectoryTest, LinkToAFolderOutsideIsRemovedAsALink) {
    const fs::path outside_file = site.write("outside/keep.txt");
    site.write("scratch/a.txt");
    std::error_code ec;
    fs::create_directory_symlink(site.path() / "outside", site.path() / "scratch" / "link", ec);
    if (ec) GTEST_SKIP() << "the system refused to create a folder link: " << ec.message();

    u->form->DeleteDirectory(name("scratch"));

    EXPECT_FALSE(fs::exists(fs::symlink_status(site.path() / "scratch")));
    EXPECT_TRUE(fs::exists(outside_file));
    EXPECT_TRUE(boxes().empty());
}

// Given a link as the folder itself, with or without a trailing separator,
// the reset removes the link and lists nothing of what it leads to.
TEST_F(DeleteDirectoryTest, ALinkGivenAsTheFolderIsRemovedAsALink) {
    const fs::path outside_file = site.write("outside/keep.txt");
    for (const char* given : {"link", "link\\"}) {
        std::error_code ec;
        fs::create_directory_symlink(site.path() / "outside", site.path() / "link", ec);
        if (ec) GTEST_SKIP() << "the system refused to create a folder link: " << ec.message();
        u->form->DeleteDirectory(name(given));
        EXPECT_FALSE(fs::exists(fs::symlink_status(site.path() / "link"))) << given;
        EXPECT_TRUE(fs::exists(outside_file)) << given;
    }
    EXPECT_TRUE(boxes().empty());
}

TEST_F(DeleteDirectoryTest, MissingFolderAndEmptyNameTouchNothing) {
    const fs::path bystander = site.write("menu.txt");
    u->form->DeleteDirectory(name("no-such-folder"));
    u->form->DeleteDirectory("");
    EXPECT_TRUE(fs::exists(bystander));
    EXPECT_TRUE(fs::exists(site.path() / "update"));
    EXPECT_TRUE(boxes().empty());
}

} // namespace
} // namespace kv::test
