// The archive reader against Debian's 7z.so with RAR5 fixtures written here:
// loading and refusing libraries, where extracted items land, the errors of
// opening and extracting, reuse of one reader, and the refusals of unsafe
// item paths and damaged items.
#include "archive/seven_zip_objects.h"
#include "rtl/exception.h"
#include "support/rar5_writer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstring>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>

namespace fs = std::filesystem;
using namespace kv;
using kv::test::Rar5Item;

namespace {

class ArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device rd;
        FRoot = fs::temp_directory_path() / ("kv-archive-" + std::to_string(rd()));
        fs::create_directories(FRoot);
    }
    void TearDown() override {
        std::error_code ec;
        for (auto& e : fs::recursive_directory_iterator(FRoot, ec))
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(FRoot, ec);
    }

    std::string path(const std::string& rel) const { return (FRoot / rel).string(); }
    std::string archive(const std::string& name, const std::vector<Rar5Item>& items) const {
        return write(name, test::rar5_archive(items));
    }
    std::string write(const std::string& name, std::string_view bytes) const {
        test::write_file(path(name), bytes);
        return path(name);
    }
    // Everything below `dir`: files as "a/b", folders as "a/".
    static std::set<std::string> tree(const std::string& dir) {
        std::set<std::string> out;
        if (!fs::exists(dir)) return out;
        for (auto& e : fs::recursive_directory_iterator(dir)) {
            std::string rel = fs::relative(e.path(), dir).generic_string();
            out.insert(e.is_directory() ? rel + "/" : rel);
        }
        return out;
    }
    static RefPtr<I7zInArchive> rar5() { return CreateInArchive(CLSID_CFormatRar5, kSevenZipLibrary); }

    fs::path FRoot;
};

// Runs f and returns the error it raised as "Class: message".
template <class F> std::string error_of(F&& f) {
    try {
        f();
    } catch (const Exception& e) {
        return std::string(e.ClassName()) + ": " + e.Message();
    }
    return "no error";
}

bool library_mapped(const std::string& file) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find(file) != std::string::npos) return true;
    return false;
}

const std::vector<Rar5Item> kNested = {
    {"top/sub/file.txt", "nested data"},
    {"b.exe", "program"},
    {"Güncelleme/İçerik ğüş.txt", "türkçe"},
};
const std::set<std::string> kNestedTree = {"top/",  "top/sub/",    "top/sub/file.txt",
                                           "b.exe", "Güncelleme/", "Güncelleme/İçerik ğüş.txt"};

} // namespace

TEST_F(ArchiveTest, LibrariesThatCannotServeAreRefusedAndFreed) {
    const std::string refused = " is a 7z library of an unsupported kind: ";
    struct Case {
        std::string lib, error;
    } cases[] = {
        {"7z.dll", "Exception: Error loading library 7z.dll"},
        {path("none/7z.so"), "Exception: Error loading library " + path("none/7z.so")},
        {KV_FAKE7Z_NO_CREATE_OBJECT, "Exception: " KV_FAKE7Z_NO_CREATE_OBJECT " is not a 7z library"},
        {KV_FAKE7Z_NO_HANDLER_PROPERTY,
         "Exception: " KV_FAKE7Z_NO_HANDLER_PROPERTY " is not a Format library"},
        {KV_FAKE7Z_NO_MODULE_PROP, "Exception: " KV_FAKE7Z_NO_MODULE_PROP + refused +
                                       "it has no GetModuleProp export, as 7-Zip before version 23"},
        {KV_FAKE7Z_OLD_INTERFACE,
         "Exception: " KV_FAKE7Z_OLD_INTERFACE + refused + "its interface type is 1, not 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lib);
        EXPECT_EQ(error_of([&] { CreateInArchive(CLSID_CFormatRar5, c.lib); }), c.error);
        EXPECT_FALSE(library_mapped(c.lib));
    }
}

TEST_F(ArchiveTest, ClassIdTakesEffectAtTheNextHandler) {
    auto a = rar5();
    EXPECT_EQ(a->GetClassId(), CLSID_CFormatRar5);
    std::string file = archive("a.rar", kNested);

    const TGUID unknown = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
    a->SetClassId(unknown);
    EXPECT_EQ(error_of([&] { a->OpenFile(file); }), "Exception: ClassFactory cannot supply requested class");

    a->SetClassId(CLSID_CFormatRar5);
    a->OpenFile(file);
    EXPECT_EQ(a->GetNumberOfItems(), 3u);
    a->Close();
}

TEST_F(ArchiveTest, TargetFormsWriteTheSameFiles) {
    std::string file = archive("a.rar", kNested);
    auto a = rar5();
    for (std::string suffix : {"", "\\", "/"}) {
        SCOPED_TRACE("suffix " + suffix);
        std::string out = path("out");
        a->OpenFile(file);
        a->ExtractTo(out + suffix);
        a->Close();
        EXPECT_EQ(tree(out), kNestedTree);
        EXPECT_EQ(test::read_file(out + "/top/sub/file.txt"), "nested data");
        EXPECT_EQ(test::read_file(out + "/Güncelleme/İçerik ğüş.txt"), "türkçe");
        fs::remove_all(out);
    }
}

TEST_F(ArchiveTest, OnlyFileItemsMakeFilesAndFolders) {
    struct Case {
        const char* name;
        std::vector<Rar5Item> items;
        std::set<std::string> tree;
    } cases[] = {
        {"folder item alone", {{"empty", "", true}}, {}},
        {"no items", {}, {}},
        {"folder item and file", {{"d", "", true}, {"d/f.txt", "x"}, {"e", "", true}}, {"d/", "d/f.txt"}},
        {"empty file", {{"zero.bin", ""}}, {"zero.bin"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto a = rar5();
        a->OpenFile(archive("a.rar", c.items));
        a->ExtractTo(path("out"));
        a->Close();
        EXPECT_EQ(tree(path("out")), c.tree);
        EXPECT_EQ(fs::exists(path("out")), !c.tree.empty()); // a target that gets no file is not made
        fs::remove_all(path("out"));
    }
}

TEST_F(ArchiveTest, ExistingFilesAreReplacedAndAReadOnlyOneStopsExtraction) {
    fs::create_directories(path("out"));
    test::write_file(path("out/a.txt"), "old a, longer than the new one");
    test::write_file(path("out/b.txt"), "old b");
    fs::permissions(path("out/b.txt"),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);

    auto a = rar5();
    a->OpenFile(archive("a.rar", {{"a.txt", "new a"}, {"b.txt", "new b"}, {"c.txt", "new c"}}));
    EXPECT_EQ(error_of([&] { a->ExtractTo(path("out")); }),
              "EFCreateError: Cannot create file \"" + path("out") + "\\b.txt\". Permission denied");
    EXPECT_EQ(test::read_file(path("out/a.txt")), "new a");
    EXPECT_EQ(test::read_file(path("out/b.txt")), "old b");
    EXPECT_FALSE(fs::exists(path("out/c.txt")));

    // The archive stays open: once the file is writable the same call succeeds.
    fs::permissions(path("out/b.txt"), fs::perms::owner_write, fs::perm_options::add);
    a->ExtractTo(path("out"));
    EXPECT_EQ(test::read_file(path("out/b.txt")), "new b");
    EXPECT_EQ(test::read_file(path("out/c.txt")), "new c");
    a->Close();
}

TEST_F(ArchiveTest, OpenFileErrorsLeaveTheReaderUsable) {
    struct Case {
        const char* name;
        bool exists;
        std::string content, error;
    } cases[] = {
        {"missing.rar", false, "",
         "EFOpenError: Cannot create file \"" + path("missing.rar") + "\". No such file or directory"},
        {"empty.rar", true, "", "Exception: Incorrect function"},
        {"text.rar", true, std::string(4000, 't'), "Exception: Incorrect function"},
    };
    auto a = rar5();
    std::string good = archive("good.rar", kNested);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.exists) write(c.name, c.content);
        EXPECT_EQ(error_of([&] { a->OpenFile(path(c.name)); }), c.error);
        a->Close(); // with or without a handler held
        a->OpenFile(good);
        a->ExtractTo(path("out"));
        a->Close();
        EXPECT_EQ(tree(path("out")), kNestedTree);
        fs::remove_all(path("out"));
    }
    EXPECT_EQ(error_of([&] { a->ExtractTo(path("out")); }), "Exception: No archive is open");
}

TEST_F(ArchiveTest, ReadersShareTheLibraryAndServeOneArchiveAfterAnother) {
    std::string first = archive("first.rar", {{"one.txt", "1"}});
    std::string second = archive("second.rar", {{"two.txt", "2"}});
    auto a = rar5();
    auto b = rar5();
    a->OpenFile(first);
    a->ExtractTo(path("out"));
    a->Close();
    a->OpenFile(second);
    a->ExtractTo(path("out"));
    a = nullptr; // released while open: the handler goes before the library

    b->OpenFile(first);
    b->ExtractTo(path("out2"));
    b->Close();
    EXPECT_EQ(tree(path("out")), (std::set<std::string>{"one.txt", "two.txt"}));
    EXPECT_EQ(tree(path("out2")), (std::set<std::string>{"one.txt"}));
}

TEST_F(ArchiveTest, ItemPathsLeavingTheTargetAreRefused) {
    for (std::string bad :
         {"../evil.txt", "/abs/evil.txt", "sub/../../evil.txt", "C:/evil.txt", "..\\evil.txt"}) {
        SCOPED_TRACE(bad);
        auto a = rar5();
        a->OpenFile(archive("a.rar", {{"ok.txt", "fine"}, {bad, "evil"}, {"after.txt", "x"}}));
        EXPECT_EQ(error_of([&] { a->ExtractTo(path("deep/out")); }),
                  "Exception: Refused to extract \"" + bad + "\": its path leads outside the target folder");
        a->Close();
        EXPECT_EQ(tree(FRoot.string()),
                  (std::set<std::string>{"a.rar", "deep/", "deep/out/", "deep/out/ok.txt"}));
        fs::remove_all(path("deep"));
    }
}

TEST_F(ArchiveTest, DamagedItemsFailTheExtractionAndLeaveNoFile) {
    const std::string data(200, 'd');
    struct Case {
        const char* name;
        std::string bytes, error;
        std::set<std::string> tree;
    } cases[] = {
        {"wrong CRC",
         test::rar5_archive({{"first.txt", "1"}, {"bad.bin", data, false, 0, true}, {"last.txt", "3"}}),
         "CRC error",
         {"first.txt", "last.txt"}},
        {"method the library cannot decode",
         test::rar5_archive({{"first.txt", "1"}, {"bad.bin", data, false, 3}, {"last.txt", "3"}}),
         "unsupported compression method",
         {"first.txt", "last.txt"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto a = rar5();
        a->OpenFile(write("a.rar", c.bytes));
        EXPECT_EQ(error_of([&] { a->ExtractTo(path("out")); }),
                  "Exception: Cannot extract \"bad.bin\": " + c.error);
        a->Close();
        EXPECT_EQ(tree(path("out")), c.tree);
        fs::remove_all(path("out"));
    }
}

// An archive cut anywhere after its signature is refused whole: nothing of
// it is written, so a package that ends early is never put in place.
TEST_F(ArchiveTest, ArchiveCutAnywhereWritesNothing) {
    const std::string good = test::rar5_archive({{"first.txt", std::string(300, '1')}, {"second.txt", "2"}});
    for (size_t cut = 8; cut < good.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(good.size()));
        auto a = rar5();
        std::string error = error_of([&] {
            a->OpenFile(write("a.rar", good.substr(0, cut)));
            a->ExtractTo(path("out"));
        });
        EXPECT_NE(error, "no error");
        a->Close();
        EXPECT_EQ(tree(path("out")), std::set<std::string>{});
        fs::remove_all(path("out"));
    }
}

// Link items would come out as empty files under the link's name; names with
// control characters are refused like paths that leave the target.
TEST_F(ArchiveTest, LinkItemsAndControlCharactersAreRefused) {
    struct Case {
        const char* what;
        Rar5Item item;
        std::string error;
    };
    const std::string link = "Exception: Refused to extract \"kuvento.exe\": it is a link";
    const Case cases[] = {
        {"Unix symbolic link", {"kuvento.exe", "", false, 0, false, 1, "/bin/sh"}, link},
        {"Windows symbolic link", {"kuvento.exe", "", false, 0, false, 2, "C:\\Windows\\notepad.exe"}, link},
        {"junction", {"kuvento.exe", "", false, 0, false, 3, "C:\\Windows"}, link},
        {"hard link", {"kuvento.exe", "", false, 0, false, 4, "ok.txt"}, link},
        {"file copy", {"kuvento.exe", "", false, 0, false, 5, "ok.txt"}, link},
        {"control character",
         {"kuv\x01nto.exe", "x"},
         "Exception: Refused to extract \"kuv?nto.exe\": its name holds a control character"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto a = rar5();
        a->OpenFile(archive("a.rar", {{"ok.txt", "fine"}, c.item, {"after.txt", "x"}}));
        EXPECT_EQ(error_of([&] { a->ExtractTo(path("out")); }), c.error);
        a->Close();
        EXPECT_EQ(tree(path("out")), std::set<std::string>{"ok.txt"});
        fs::remove_all(path("out"));
    }
}

// A link already in the target folder is not followed out of it, whether an
// item's folder or the item itself.
TEST_F(ArchiveTest, LinksInTheTargetAreNotFollowed) {
    fs::create_directories(path("outside"));
    test::write_file(path("outside/kuvento.exe"), "outside");
    for (const char* item : {"dll/fbclient.dll", "kuvento.exe", "sub/../dll/x.dll"}) {
        SCOPED_TRACE(item);
        fs::create_directories(path("out"));
        fs::create_directory_symlink(path("outside"), path("out/dll"));
        fs::create_symlink(path("outside/kuvento.exe"), path("out/kuvento.exe"));
        auto a = rar5();
        a->OpenFile(archive("a.rar", {{item, "new"}}));
        std::string error = error_of([&] { a->ExtractTo(path("out")); });
        EXPECT_EQ(
            error.rfind("Exception: Refused to extract \"" + std::string(item) + "\": its path leads", 0), 0u)
            << error;
        a->Close();
        EXPECT_EQ(tree(path("outside")), std::set<std::string>{"kuvento.exe"});
        EXPECT_EQ(test::read_file(path("outside/kuvento.exe")), "outside");
        fs::remove_all(path("out"));
    }
}

// A write the system refuses carries the system's reason (here the process's
// file size limit stands in for a full disk), and leaves no part of the file.
TEST_F(ArchiveTest, RefusedWriteCarriesTheSystemReason) {
    auto a = rar5();
    a->OpenFile(archive("a.rar", {{"small.txt", "x"}, {"big.bin", std::string(256 * 1024, 'b')}}));
    struct rlimit previous;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    struct rlimit small = previous;
    small.rlim_cur = 64 * 1024;
    auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error = error_of([&] { a->ExtractTo(path("out")); });
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previous_handler);
    EXPECT_EQ(error,
              "EWriteError: Cannot write file \"" + path("out") + "\\big.bin\". " + std::strerror(EFBIG));
    a->Close();
    EXPECT_EQ(tree(path("out")), std::set<std::string>{"small.txt"});
}

struct ProgressLog {
    std::vector<std::pair<bool, int64_t>> calls;
    static com::HRESULT record(void* sender, bool total, int64_t value) {
        static_cast<ProgressLog*>(sender)->calls.emplace_back(total, value);
        return 0;
    }
};

TEST_F(ArchiveTest, ItemQueriesSingleItemsAndProgress) {
    RefPtr<T7zInArchive> a(new T7zInArchive(kSevenZipLibrary));
    a->SetClassId(CLSID_CFormatRar5);
    EXPECT_EQ(a->name(), "7z"); // the library's default format, read through a BSTR
    a->OpenFile(
        archive("a.rar", {{"dir", "", true}, {"dir/x.bin", "payload"}, {"bad.txt", "b", false, 0, true}}));
    ASSERT_EQ(a->GetNumberOfItems(), 3u);
    EXPECT_EQ(a->GetItemPath(1), "dir/x.bin");
    EXPECT_TRUE(a->GetItemIsFolder(0));
    EXPECT_FALSE(a->GetItemIsFolder(1));
    EXPECT_EQ(a->GetItemSize(1), 7u);

    TMemoryStream out;
    a->ExtractItem(1, out, false);
    EXPECT_EQ(out.View(), "payload");
    TMemoryStream unused;
    EXPECT_EQ(error_of([&] { a->ExtractItem(2, unused, true); }),
              "Exception: Cannot extract \"bad.txt\": CRC error");
    EXPECT_EQ(error_of([&] { a->GetItemPath(3); }),
              "Exception: Item index 3 is out of range or out of order");
    const uint32_t descending[] = {1, 0};
    EXPECT_EQ(error_of([&] { a->ExtractItems(descending, 2, true, nullptr, nullptr); }),
              "Exception: Item index 0 is out of range or out of order");

    // The library's 64-bit totals arrive by value and by pointer.
    ProgressLog progress;
    a->SetProgressCallback(&progress, ProgressLog::record);
    a->ExtractItem(1, out, true);
    ASSERT_FALSE(progress.calls.empty());
    EXPECT_EQ(progress.calls.front(), std::make_pair(true, int64_t{7}));
    EXPECT_EQ(progress.calls.back(), std::make_pair(false, int64_t{7}));
    a->Close();
}
