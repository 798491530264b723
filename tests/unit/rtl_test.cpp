// The runtime: the "in any case" rule, streams and their errors, text conversion.
#include "platform/files.h"
#include "platform/unicode.h"
#include "rtl/exception.h"
#include "rtl/in_any_case.h"
#include "rtl/stream.h"
#include "rtl/text.h"
#include "support/command.h"

#include <cerrno>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace kv;

namespace {

std::string message_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return std::string(e.ClassName()) + ": " + e.Message();
    }
    return "no error";
}

std::filesystem::path scratch() {
    auto d = std::filesystem::temp_directory_path() /
             ("kv-rtl-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(d);
    std::filesystem::create_directories(d);
    return d;
}

} // namespace

TEST(InAnyCase, CleanupRunsAndTheRightErrorLeaves) {
    struct Case {
        bool body_fails, cleanup_fails;
        std::string expected;
    } cases[] = {
        {false, false, "no error"},
        {true, false, "Exception: body"},
        {false, true, "Exception: cleanup"},
        {true, true, "Exception: cleanup"}, // the clean-up's error replaces the one in flight
    };
    for (const auto& c : cases) {
        int cleanups = 0;
        auto msg = message_of([&] {
            in_any_case(
                [&] {
                    if (c.body_fails) throw Exception("body");
                },
                [&] {
                    ++cleanups;
                    if (c.cleanup_fails) throw Exception("cleanup");
                });
        });
        EXPECT_EQ(msg, c.expected);
        EXPECT_EQ(cleanups, 1);
    }
}

TEST(InAnyCase, StagesSkipPlainStagesAfterAFailureAndKeepTheLatestError) {
    std::vector<std::string> ran;
    auto msg = message_of([&] {
        Stages()
            .then([&] { ran.push_back("1"), throw EFOpenError("first"); })
            .then([&] { ran.push_back("2 (skipped)"); })
            .then_in_any_case([&] { ran.push_back("3"); })
            .then_in_any_case([&] { ran.push_back("4"), throw EAbort("second"); })
            .then([&] { ran.push_back("5 (skipped)"); })
            .finish();
    });
    EXPECT_EQ(msg, "EAbort: second");
    EXPECT_EQ(ran, (std::vector<std::string>{"1", "3", "4"}));
}

TEST(Streams, MemoryStreamReadsWritesAndSeeks) {
    TMemoryStream m;
    m.WriteBuffer("hello world", 11);
    EXPECT_EQ(m.Size(), 11);
    m.SetPosition(6);
    char buf[16] = {};
    EXPECT_EQ(m.Read(buf, 16), 5);
    EXPECT_STREQ(buf, "world");
    EXPECT_EQ(message_of([&] { m.ReadBuffer(buf, 1); }), "EReadError: Stream read error");
    EXPECT_EQ(message_of([&] { m.Seek(-1, TSeekOrigin::soBeginning); }), "EStreamError: Stream seek error");
}

TEST(Streams, FileStreamCreatesOpensAndReportsTheSystemReason) {
    auto dir = scratch();
    auto file = (dir / "a.bin").string();
    {
        TFileStream f(file, fmCreate);
        f.WriteBuffer("abc", 3);
    }
    {
        TFileStream f(file, fmOpenRead | fmShareDenyNone);
        EXPECT_EQ(f.Size(), 3);
    }
    auto missing = (dir / "missing.bin").string();
    EXPECT_EQ(message_of([&] { TFileStream f(missing, fmOpenRead | fmShareDenyNone); }),
              "EFOpenError: Cannot create file \"" + missing + "\". " + os::system_error_text(ENOENT));
    if (!test::under_wine()) { // Wine run as root ignores the read-only attribute; Windows and Linux honour
                               // it
        ASSERT_TRUE(os::set_read_only(file, true));
        auto msg = message_of([&] { TFileStream f(file, fmCreate); });
        EXPECT_EQ(msg.rfind("EFCreateError: Cannot create file \"" + file + "\". ", 0), 0u) << msg;
        EXPECT_NE(msg.back(), '.');
        os::set_read_only(file, false);
    }
    std::filesystem::remove_all(dir);
}

TEST(Text, Utf16AndTurkishCodePage) {
    std::string tr = "ğüşıöçİĞŞÜÇ";
    EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(tr)), tr);
    EXPECT_EQ(utf16_length("a😀ı"), 4u);
    EXPECT_EQ(utf8_to_utf16("\xC3"), u"\uFFFD"); // cut sequence
    EXPECT_FALSE(is_valid_utf8("\xF0\xFE"));
    EXPECT_TRUE(is_valid_utf8(tr));
    std::string cp = "\xF0\xFC\xFE\xFD\xF6\xE7\xDD\xD0\xDE\xDC\xC7";
    EXPECT_EQ(cp1254_to_utf8(cp), tr);
    EXPECT_EQ(utf8_to_cp1254(tr), cp);
    EXPECT_EQ(utf8_to_cp1254("€☃"), "\x80?");
    EXPECT_TRUE(same_text_ascii_fold("Kuvento.EXE", "KUVENTO.exe"));
    EXPECT_FALSE(same_text_ascii_fold("ı.exe", "I.exe")); // only A-Z fold
}
