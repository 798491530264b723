// The run log's file on its own: it stays bounded, dropping the oldest runs
// whole, and a log that cannot be written is dropped without a sign.
#include "app/run_log.h"
#include "app/updater_fixture.h"
#include "platform/files.h"
#include "support/fake_programs.h"
#include "support/rar5_writer.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>

namespace kv::test {
namespace {

const std::string kMark = "\xEF\xBB\xBF";

size_t count_of(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

} // namespace

TEST(RunLogFile, OldRunsAreDroppedWholeOnceTheFileOutgrowsItsBound) {
    SiteFolder folder;
    // Old runs of 10 KiB each, numbered, beyond the bound.
    std::string old = kMark;
    int runs = 0;
    while (int64_t(old.size()) <= TRunLog::kTrimAtBytes) {
        old += std::string(TRunLog::kRecordMark) + "run " + std::to_string(runs++) + "\r\n";
        old += std::string(10 * 1024, 'x') + "\r\n";
    }
    folder.write("KVUpdate.log", old);

    TRunLog log;
    log.Open(utf8(folder.path() / "KVUpdate.log"), "27.0.0.0");
    log.Status("Kuvento İndiriliyor..");
    log.Close();

    const std::string text = read_file(utf8(folder.path() / "KVUpdate.log"));
    EXPECT_LE(int64_t(text.size()), TRunLog::kKeepBytes + 4096);
    EXPECT_EQ(text.rfind(kMark + std::string(TRunLog::kRecordMark) + "run ", 0), 0u)
        << "begins with a whole run";
    EXPECT_NE(text.find("run " + std::to_string(runs - 1) + "\r\n"), std::string::npos)
        << "the newest old run stays";
    EXPECT_EQ(text.find("run 0\r\n"), std::string::npos);
    EXPECT_NE(text.find("status: Kuvento İndiriliyor..\r\n"), std::string::npos);
    EXPECT_EQ(count_of(text, kMark), 1u);
}

TEST(RunLogFile, OneRunStopsAtItsBoundButRecordsItsEnd) {
    SiteFolder folder;
    TRunLog log;
    log.Open(utf8(folder.path() / "KVUpdate.log"), "27.0.0.0");
    const std::string line(1000, 'y');
    for (int64_t i = 0; i < 2 * TRunLog::kRunBytes / 1000; ++i)
        log.LogLine(line);
    log.StepEnded("Güncelleme Başla", nullptr);
    log.Close();

    const std::string text = read_file(utf8(folder.path() / "KVUpdate.log"));
    EXPECT_LE(int64_t(text.size()), TRunLog::kRunBytes + 4096);
    EXPECT_EQ(count_of(text, "log full: the rest of this run is not recorded"), 1u);
    EXPECT_EQ(count_of(text, "step ended"), 0u) << "lines past the bound are left out";
    EXPECT_NE(text.find("run ended: Güncelleme Başla: complete\r\n"), std::string::npos);
}

// The update does not depend on its log: a log that cannot be opened leaves
// the updater exactly as it is without one.
TEST(RunLogFile, AnUnwritableLogIsDroppedQuietly) {
    struct Case {
        const char* name;
        void (*spoil)(SiteFolder&);
    };
    const Case cases[] = {
        {"a folder in its place",
         [](SiteFolder& f) { std::filesystem::create_directory(f.path() / "KVUpdate.log"); }},
        {"a read-only file",
         [](SiteFolder& f) { os::set_read_only(utf8(f.write("KVUpdate.log", "old")), true); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SiteFolder folder;
        folder.write("kvayarlar.ini", "[BAGLANTI]\nSUNUCU_IP=dbhost\n");
        c.spoil(folder);
        // Wine run as root writes into a read-only file all the same: then
        // the file spoils nothing and the case has nothing to show.
        if (os::File probe; probe.open(utf8(folder.path() / "KVUpdate.log"), os::FileAccess::Write,
                                       os::FileShare::All, os::FileDisposition::OpenExisting)) {
            std::cout << "skipped here: the read-only file can still be written\n";
            continue;
        }
        Updater updater(test_config(), true);
        EXPECT_FALSE(updater.app.Log.IsOpen());
        updater.unlock();
        EXPECT_EQ(updater.form->Label2.Caption(), "dbhost");
        EXPECT_TRUE(updater.form->Panel1.Visible());
        updater.form->SetStatusText("Kuvento İndiriliyor..");
        EXPECT_EQ(updater.form->Label4.Caption(), "Kuvento İndiriliyor..");
        updater.app.Log.Close();
        if (std::filesystem::is_regular_file(folder.path() / "KVUpdate.log")) {
            EXPECT_EQ(read_file(utf8(folder.path() / "KVUpdate.log")), "old");
        }
    }
}

} // namespace kv::test
