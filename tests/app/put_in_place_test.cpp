// Putting one file into the program folder, on real files: the new file
// whole under the name, the old one kept; targets that cannot be replaced
// (read-only, immutable, a folder in the way, a full volume) leave the
// target as it was and say why; what a crash leaves between the journal's
// records is finished or undone; and the kept release goes back whole, or
// not at all when a kept file was altered.
#include "app/updater_fixture.h"
#include "platform/digest.h"
#include "platform/files.h"
#include "support/fake_programs.h"
#include "support/mount_namespace.h"
#include "support/rar5_writer.h"
#include "workflow/put_in_place.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv::test {
namespace {

namespace fs = std::filesystem;

std::string sha(const std::string& text) {
    ScratchDir d{"sha"};
    write_file((d.path() / "f").string(), text);
    return *os::sha256_of_file(utf8(d.path() / "f"));
}

class PutInPlace : public ::testing::Test {
protected:
    std::string folder() const { return utf8(FSite.path()); }
    std::string source(const std::string& text) {
        const fs::path p = FNew.path() / ("src" + std::to_string(++FSources));
        write_file(p.string(), text);
        return utf8(p);
    }
    std::string held(const std::string& name) const { return read_file((FSite.path() / name).string()); }
    // Nothing half-written or renamed aside stays beside the target.
    void expect_no_leftovers(const std::string& name) const {
        EXPECT_FALSE(fs::exists(FSite.path() / (name + ".kvnew")));
        EXPECT_FALSE(fs::exists(FSite.path() / (name + ".kvold")));
        EXPECT_TRUE(unfinished_changes(folder()).empty());
    }

    SiteFolder FSite;
    ScratchDir FNew{"new"};
    int FSources = 0;
};

TEST_F(PutInPlace, ReplacesWholeAndKeepsOnePreviousFilePerName) {
    FSite.write("kuvento.exe", "release 2026");
    ::chmod(utf8(FSite.path() / "kuvento.exe").c_str(), 0755);
    TFilePlacer placer(folder());

    EXPECT_EQ(placer.Place(source("release 2027"), "kuvento.exe"), Placed::Replaced);
    EXPECT_EQ(placer.Place(source("report 2027"), "report\\alt\\kasa.fr3"), Placed::Added);
    EXPECT_EQ(held("kuvento.exe"), "release 2027");
    EXPECT_EQ(fs::status(FSite.path() / "kuvento.exe").permissions() & fs::perms::all, fs::perms(0755))
        << "a replaced program stays executable";
    EXPECT_EQ(held("report/alt/kasa.fr3"), "report 2027");
    EXPECT_EQ(held("onceki-surum/kuvento.exe"), "release 2026");
    expect_no_leftovers("kuvento.exe");

    // The same bytes again change nothing, and keep the earlier release kept.
    EXPECT_EQ(placer.Place(source("release 2027"), "kuvento.exe"), Placed::Unchanged);
    EXPECT_EQ(held("onceki-surum/kuvento.exe"), "release 2026");
    // A later release keeps the file it replaces instead.
    EXPECT_EQ(placer.Place(source("release 2028"), "kuvento.exe"), Placed::Replaced);
    EXPECT_EQ(held("onceki-surum/kuvento.exe"), "release 2027");

    const std::vector<KeptFile> kept = kept_release(folder());
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].name, "kuvento.exe");
    EXPECT_TRUE(kept[0].existed);
    EXPECT_EQ(kept[0].size, 12);
    EXPECT_EQ(kept[0].sha256, sha("release 2027"));
    EXPECT_EQ(kept[1].name, "report\\alt\\kasa.fr3");
    EXPECT_FALSE(kept[1].existed);
}

// Each target below cannot take the new file: the error names it and the
// system's reason, and it holds what it held.
struct Unreplaceable {
    const char* name;
    std::function<void(SiteFolder&)> make; // the target kuvento.exe as it stands
    std::function<void(SiteFolder&)> undo;
    std::string reason;
    bool package_lacks_it = false;
};

class UnreplaceableTarget : public PutInPlace, public ::testing::WithParamInterface<Unreplaceable> {};

TEST_P(UnreplaceableTarget, StaysAsItWasAndTheErrorSaysWhy) {
    const Unreplaceable& c = GetParam();
    c.make(FSite);
    const bool was_file = fs::is_regular_file(FSite.path() / "kuvento.exe");
    const std::string before = was_file ? held("kuvento.exe") : "";
    const std::string src = c.package_lacks_it ? utf8(FNew.path() / "kuvento.exe") : source("release 2027");
    try {
        TFilePlacer(folder()).Place(src, "kuvento.exe");
        ADD_FAILURE() << "put in place";
    } catch (const EPutInPlace& e) {
        EXPECT_EQ(e.Message().find("Cannot put file \"" + folder() + "\\kuvento.exe\" in place"), 0u)
            << e.Message();
        EXPECT_NE(e.Message().find(c.reason), std::string::npos) << e.Message();
    }
    if (was_file) {
        EXPECT_EQ(held("kuvento.exe"), before);
    }
    if (c.undo) c.undo(FSite);
    expect_no_leftovers("kuvento.exe");
}

std::string immutable(SiteFolder& f, bool on) {
    const std::string path = utf8(f.path() / "kuvento.exe");
    if (std::system(("chattr " + std::string(on ? "+i" : "-i") + " '" + path + "'").c_str()) != 0)
        throw std::runtime_error("chattr failed");
    return path;
}

INSTANTIATE_TEST_SUITE_P(
    Targets, UnreplaceableTarget,
    ::testing::Values(Unreplaceable{"ReadOnly",
                                    [](SiteFolder& f) {
                                        os::set_read_only(utf8(f.write("kuvento.exe", "release 2026")), true);
                                    },
                                    nullptr, os::system_error_text(EACCES)},
                      Unreplaceable{"Immutable",
                                    [](SiteFolder& f) {
                                        f.write("kuvento.exe", "release 2026");
                                        immutable(f, true);
                                    },
                                    [](SiteFolder& f) { immutable(f, false); }, os::system_error_text(EPERM)},
                      Unreplaceable{"FolderInTheWay",
                                    [](SiteFolder& f) { f.write("kuvento.exe/inside", "x"); }, nullptr,
                                    "a folder of that name is in the way"},
                      Unreplaceable{"MissingFromThePackage",
                                    [](SiteFolder& f) { f.write("kuvento.exe", "release 2026"); }, nullptr,
                                    "the package holds no file \"kuvento.exe\"", true}),
    [](const auto& info) { return std::string(info.param.name); });

// A volume of 1 MiB of its own (tmpfs, in a mount namespace of this test's
// own child process): the space check refuses before anything is written,
// and a copy that runs out of room all the same leaves the target whole.
TEST(PutInPlaceFullDisk, RefusesBeforeWritingAndNeverCutsTheTarget) {
    ScratchDir outside{"new"};
    write_file((outside.path() / "kuvento.exe").string(), std::string(700 << 10, 'n'));
    const NamespaceRun run = run_in_mount_namespace([&] {
        ScratchDir site{"site"};
        if (::mount("tmpfs", site.path().c_str(), "tmpfs", 0, "size=1m") != 0) return false;
        const std::string old(400 << 10, 'o');
        write_file((site.path() / "kuvento.exe").string(), old);
        const std::string folder = utf8(site.path());
        TFilePlacer placer(folder);
        try {
            placer.CheckSpace({utf8(outside.path() / "kuvento.exe")}, {std::string("kuvento.exe")});
            ADD_FAILURE() << "room found";
        } catch (const EPutInPlace& e) {
            EXPECT_NE(e.Message().find(std::to_string(1100 << 10) + " bytes needed, "), std::string::npos)
                << e.Message();
            EXPECT_NE(e.Message().find(" bytes free"), std::string::npos) << e.Message();
        }
        try {
            placer.Place(utf8(outside.path() / "kuvento.exe"), "kuvento.exe");
            ADD_FAILURE() << "put in place";
        } catch (const EPutInPlace& e) {
            EXPECT_NE(e.Message().find(os::system_error_text(ENOSPC)), std::string::npos) << e.Message();
        }
        EXPECT_EQ(read_file((site.path() / "kuvento.exe").string()), old);
        EXPECT_FALSE(fs::exists(site.path() / "kuvento.exe.kvnew"));
        ::umount(site.path().c_str());
        return true;
    });
    if (run == NamespaceRun::NoNamespace) GTEST_SKIP() << "no mount namespace of our own may be made here";
    EXPECT_EQ(run, NamespaceRun::Passed) << "see the child's failures above";
}

// What a crash can leave between "begin" and "done" of one change, and what
// the next start makes of it: the new file when it is whole beside the
// target, otherwise the old one back.
struct CrashState {
    const char* name;
    const char* target; // nullptr: no file under the name (renamed aside)
    const char* beside; // T.kvnew; nullptr: none
    const char* aside;  // T.kvold; nullptr: none
    const char* after;
    bool finished;
};

class Recovery : public PutInPlace, public ::testing::WithParamInterface<CrashState> {};

TEST_P(Recovery, LeavesTheWholeOldOrTheWholeNewFile) {
    const CrashState& c = GetParam();
    FSite.write("onceki-surum/journal.txt", "begin\t" + sha("new") + "\t" + sha("old") + "\tkuvento.exe\n");
    FSite.write("onceki-surum/kuvento.exe", "old");
    if (c.target) FSite.write("kuvento.exe", c.target);
    if (c.beside) FSite.write("kuvento.exe.kvnew", c.beside);
    if (c.aside) FSite.write("kuvento.exe.kvold", c.aside);
    ASSERT_EQ(unfinished_changes(folder()).size(), 1u);

    const std::vector<Recovered> r = recover_unfinished(folder());

    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].name, "kuvento.exe");
    EXPECT_EQ(r[0].finished, c.finished);
    EXPECT_EQ(held("kuvento.exe"), c.after);
    EXPECT_FALSE(fs::exists(FSite.path() / "kuvento.exe.kvnew"));
    EXPECT_TRUE(unfinished_changes(folder()).empty());
    TFilePlacer{folder()}; // a later run removes what was renamed aside
    expect_no_leftovers("kuvento.exe");
}

INSTANTIATE_TEST_SUITE_P(
    Kills, Recovery,
    ::testing::Values(CrashState{"BeforeTheRename", "old", "new", nullptr, "new", true},
                      CrashState{"AfterTheRename", "new", nullptr, nullptr, "new", true},
                      CrashState{"BesideCutByAPowerCut", "old", "ne", nullptr, "old", false},
                      CrashState{"BetweenTheTwoRenames", nullptr, "new", "old", "new", true},
                      CrashState{"BetweenTheRenamesBesideCut", nullptr, "n", "old", "old", false},
                      CrashState{"NoFileLeftButTheKeptOne", nullptr, nullptr, nullptr, "old", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PutInPlace, KeptReleaseGoesBackWholeOrNotAtAll) {
    FSite.write("kuvento.exe", "release 2026");
    FSite.write("fbclient.dll", "client 2026");
    try {
        put_kept_release_back(folder());
        ADD_FAILURE() << "nothing kept, yet put back";
    } catch (const EPutInPlace& e) {
        EXPECT_EQ(e.Message().find("Nothing is kept to put back"), 0u) << e.Message();
    }
    {
        TFilePlacer placer(folder());
        placer.Place(source("release 2027"), "kuvento.exe");
        placer.Place(source("client 2027"), "fbclient.dll");
        placer.Place(source("new in 2027"), "midas.dll");
    }

    // An altered kept file: refused, and nothing is changed.
    const fs::path kept = FSite.path() / "onceki-surum" / "fbclient.dll";
    write_file(kept.string(), "client 2O26");
    try {
        put_kept_release_back(folder());
        ADD_FAILURE() << "an altered kept file was put back";
    } catch (const EPutInPlace& e) {
        EXPECT_NE(e.Message().find("does not match"), std::string::npos) << e.Message();
    }
    EXPECT_EQ(held("kuvento.exe"), "release 2027");
    EXPECT_EQ(held("midas.dll"), "new in 2027");

    write_file(kept.string(), "client 2026");
    EXPECT_EQ(put_kept_release_back(folder()),
              (std::vector<std::string>{"fbclient.dll", "kuvento.exe", "midas.dll"}));
    EXPECT_EQ(held("kuvento.exe"), "release 2026");
    EXPECT_EQ(held("fbclient.dll"), "client 2026");
    EXPECT_FALSE(fs::exists(FSite.path() / "midas.dll"));
    expect_no_leftovers("kuvento.exe");
}

} // namespace
} // namespace kv::test
