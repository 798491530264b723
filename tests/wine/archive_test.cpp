// The archive reader with 7-Zip's Windows library under Wine, the library
// sites have. Unlike Debian's it carries the RAR decoders, so packages made as
// real releases are, compressed, extract byte for byte, and damage inside
// compressed data is caught rather than written out.
#include "archive/seven_zip.h"
#include "rtl/exception.h"
#include "support/fake_programs.h"
#include "support/rar5_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace fs = std::filesystem;
using namespace kv;
using kv::test::Rar5Item;

namespace {

// The library by its Windows path ("Z:" is the Linux root under Wine).
std::string library() {
    std::string path = "Z:" KV_WINE_7Z_DLL;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string extract_error(const std::string& archive, const fs::path& out) {
    try {
        RefPtr<I7zInArchive> a = CreateInArchive(CLSID_CFormatRar5, library());
        a->OpenFile(archive);
        a->ExtractTo(test::utf8(out));
        a->Close();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "no error";
}

// By the path itself: a narrow file name would pass through the ANSI code page.
std::string read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

Rar5Item compressed(const std::string& path, const std::string& data, bool bad_crc = false) {
    Rar5Item item{path, data};
    item.compressed = true;
    item.bad_crc = bad_crc;
    return item;
}

// Text with long runs, so the encoder's matches are used as well as its literals.
std::string sample(size_t lines) {
    std::string s;
    for (size_t i = 0; i < lines; ++i)
        s += "satır " + std::to_string(i) + " " + std::string(i % 23, 'a') + " ğüşıöç\r\n";
    return s;
}

TEST(WineArchive, CompressedItemsExtractByteForByte) {
    test::ScratchDir dir("wine-archive");
    const std::vector<Rar5Item> items = {
        compressed("kuvento.exe", sample(4000)),          {"Rapor", "", true},
        compressed("Rapor/Fatura İçerik.fr3", sample(3)), compressed("bos.txt", ""),
        {"stored.txt", "stored beside compressed"},       compressed("tek.bin", std::string(5000, '\x7f')),
    };
    const std::string bytes = test::rar5_archive(items);
    ASSERT_LT(bytes.size(), sample(4000).size()) << "the data was not compressed";
    const fs::path archive = dir.path() / "paket.rar";
    test::write_file(archive.string(), bytes);

    // The target is named from its drive (C:\...): nothing is made in the
    // working folder on the way, such as a folder named after the drive.
    const fs::path work = dir.path() / "work", previous = fs::current_path();
    fs::create_directory(work);
    fs::current_path(work);
    EXPECT_EQ(extract_error(test::utf8(archive), dir.path() / "out"), "no error");
    fs::current_path(previous);
    EXPECT_TRUE(fs::is_empty(work)) << "the extraction made something in the working folder";
    for (const Rar5Item& item : items) {
        const fs::path target = dir.path() / "out" / test::from_utf8(item.path);
        if (item.folder)
            EXPECT_TRUE(fs::is_directory(target)) << item.path;
        else
            EXPECT_EQ(read(target), item.data) << item.path;
    }
}

TEST(WineArchive, DamageInCompressedDataFailsTheItem) {
    test::ScratchDir dir("wine-archive-damaged");
    const std::string data = sample(200);
    const std::string packed = test::rar5_compress(data);
    const std::string good = test::rar5_archive({compressed("veri.txt", data)});
    // A flipped bit in the middle of the codes decodes to other bytes.
    std::string flipped = good;
    flipped[good.find(packed) + packed.size() / 2] ^= 0x10;
    const std::map<std::string, std::string> cases = {
        {"wrong CRC", test::rar5_archive({compressed("veri.txt", data, true)})},
        {"flipped bit", flipped},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        const fs::path archive = dir.path() / "paket.rar";
        test::write_file(archive.string(), bytes);
        const fs::path out = dir.path() / name;
        EXPECT_EQ(extract_error(test::utf8(archive), out), "Cannot extract \"veri.txt\": CRC error");
        EXPECT_FALSE(fs::exists(out / "veri.txt")) << "a damaged item was left";
    }
}

} // namespace
