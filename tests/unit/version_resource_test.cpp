// The deployable programs as Windows shows them: each carries the version
// resource (product, company, description, file and product version from the
// build's one version) and the committed icon, and KVUpdate.exe keeps its
// manifest. Read back from the win32 tree's programs by walking their PE
// resource directory, as Explorer does.
#include "platform/unicode.h"
#include "support/rar5_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::string;
using kv::test::read_file;

uint32_t le(const Bytes& b, size_t at, int width) {
    if (at + width > b.size()) throw std::runtime_error("truncated PE data");
    uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = v << 8 | static_cast<uint8_t>(b[at + i]);
    return v;
}

enum ResourceType : uint32_t { kIcon = 3, kGroupIcon = 14, kVersion = 16, kManifest = 24 };

// (type, id) -> the data of the first language, for resources named by number.
std::map<std::pair<uint32_t, uint32_t>, Bytes> resources_of(const Bytes& pe) {
    const uint32_t nt = le(pe, 0x3c, 4);
    if (le(pe, nt, 4) != 0x4550) throw std::runtime_error("not a PE file");
    const uint32_t sections = le(pe, nt + 6, 2), optional_size = le(pe, nt + 20, 2);
    const uint32_t optional = nt + 24;
    const bool pe32plus = le(pe, optional, 2) == 0x20b;
    const uint32_t dir_rva = le(pe, optional + (pe32plus ? 128 : 112), 4);
    auto file_offset = [&](uint32_t rva) -> size_t {
        for (uint32_t s = 0; s < sections; ++s) {
            const size_t h = optional + optional_size + s * 40;
            const uint32_t va = le(pe, h + 12, 4), size = le(pe, h + 16, 4), raw = le(pe, h + 20, 4);
            if (rva >= va && rva < va + size) return raw + (rva - va);
        }
        throw std::runtime_error("RVA outside every section");
    };
    const size_t root = file_offset(dir_rva);
    // Entries of the directory at `dir` (an offset from the root): id -> offset field.
    auto entries = [&](size_t dir) {
        std::vector<std::pair<uint32_t, uint32_t>> out;
        const uint32_t named = le(pe, root + dir + 12, 2), ids = le(pe, root + dir + 14, 2);
        for (uint32_t i = named; i < named + ids; ++i)
            out.emplace_back(le(pe, root + dir + 16 + i * 8, 4), le(pe, root + dir + 20 + i * 8, 4));
        return out;
    };
    std::map<std::pair<uint32_t, uint32_t>, Bytes> found;
    for (auto [type, type_dir] : entries(0))
        for (auto [id, id_dir] : entries(type_dir & 0x7fffffff)) {
            auto languages = entries(id_dir & 0x7fffffff);
            if (languages.empty()) continue;
            const size_t data = root + languages.front().second;
            const size_t at = file_offset(le(pe, data, 4)), size = le(pe, data + 4, 4);
            if (at + size > pe.size()) throw std::runtime_error("resource data past the end of the file");
            found[{type, id}] = pe.substr(at, size);
        }
    return found;
}

// One block of a version resource: its key, its value, its children.
struct VersionBlock {
    std::string key;
    Bytes value;
    bool text = false;
    std::vector<VersionBlock> children;

    const VersionBlock* child(const std::string& k) const {
        for (const VersionBlock& c : children)
            if (c.key == k) return &c;
        return nullptr;
    }
    std::string text_value() const {
        std::u16string s;
        for (size_t i = 0; i + 1 < value.size(); i += 2)
            if (char16_t c = static_cast<char16_t>(le(value, i, 2))) s += c;
        return kv::utf16_to_utf8(s);
    }
};

VersionBlock parse_block(const Bytes& b, size_t at) {
    const size_t end = at + le(b, at, 2);
    const uint32_t value_length = le(b, at + 2, 2);
    VersionBlock block;
    block.text = le(b, at + 4, 2) == 1;
    std::u16string key;
    size_t p = at + 6;
    for (; char16_t c = static_cast<char16_t>(le(b, p, 2)); p += 2)
        key += c;
    block.key = kv::utf16_to_utf8(key);
    p = (p + 2 + 3) & ~size_t(3);
    const size_t value_bytes = block.text ? value_length * 2 : value_length;
    block.value = b.substr(p, std::min(value_bytes, end > p ? end - p : 0));
    p = (p + value_bytes + 3) & ~size_t(3);
    while (p + 6 <= end) {
        block.children.push_back(parse_block(b, p));
        p = (p + le(b, p, 2) + 3) & ~size_t(3);
    }
    return block;
}

// "a.b.c.d" from the fixed file info's two 32-bit halves at `at`.
std::string fixed_version(const Bytes& fixed, size_t at) {
    const uint32_t ms = le(fixed, at, 4), ls = le(fixed, at + 4, 4);
    return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xffff) + "." + std::to_string(ls >> 16) +
           "." + std::to_string(ls & 0xffff);
}

struct IconImage {
    uint32_t width, height; // 256 is stored as 0 in both formats
    Bytes data;
};

std::vector<IconImage> images_of_ico(const Bytes& ico) {
    std::vector<IconImage> out;
    for (uint32_t i = 0; i < le(ico, 4, 2); ++i) {
        const size_t e = 6 + i * 16;
        const size_t size = le(ico, e + 8, 4), offset = le(ico, e + 12, 4);
        out.push_back({le(ico, e, 1), le(ico, e + 1, 1), ico.substr(offset, size)});
    }
    return out;
}

std::vector<IconImage> images_of_group(const std::map<std::pair<uint32_t, uint32_t>, Bytes>& res,
                                       const Bytes& group) {
    std::vector<IconImage> out;
    for (uint32_t i = 0; i < le(group, 4, 2); ++i) {
        const size_t e = 6 + i * 14;
        auto image = res.find({kIcon, le(group, e + 12, 2)});
        out.push_back({le(group, e, 1), le(group, e + 1, 1), image == res.end() ? Bytes{} : image->second});
    }
    return out;
}

class DeployableResources : public ::testing::TestWithParam<const char*> {};

TEST_P(DeployableResources, CarryTheVersionAndTheIcon) {
    const std::string name = GetParam();
    const auto res = resources_of(read_file(KV_WIN32_BIN_DIR "/" + name));

    auto version = res.find({kVersion, 1});
    ASSERT_NE(version, res.end()) << name << " has no version resource";
    const VersionBlock root = parse_block(version->second, 0);
    EXPECT_EQ(root.key, "VS_VERSION_INFO");
    ASSERT_GE(root.value.size(), 52u);
    EXPECT_EQ(le(root.value, 0, 4), 0xfeef04bdu) << "fixed file info signature";
    EXPECT_EQ(fixed_version(root.value, 8), KV_VERSION) << "file version";
    EXPECT_EQ(fixed_version(root.value, 16), KV_VERSION) << "product version";

    const VersionBlock* strings = root.child("StringFileInfo");
    ASSERT_TRUE(strings && !strings->children.empty()) << name << " has no version texts";
    const VersionBlock& table = strings->children.front();
    auto text = [&](const std::string& key) {
        const VersionBlock* v = table.child(key);
        return v ? v->text_value() : "(missing)";
    };
    EXPECT_EQ(text("ProductName"), "KV Update 2027");
    EXPECT_EQ(text("CompanyName"), KV_COMPANY_NAME);
    EXPECT_EQ(text("FileVersion"), KV_VERSION);
    EXPECT_EQ(text("ProductVersion"), KV_VERSION);
    EXPECT_EQ(text("OriginalFilename"), name);
    EXPECT_NE(text("FileDescription"), "(missing)");
    EXPECT_FALSE(text("FileDescription").empty());
    const VersionBlock* var = root.child("VarFileInfo");
    const VersionBlock* translation = var ? var->child("Translation") : nullptr;
    ASSERT_TRUE(translation && translation->value.size() >= 4);
    EXPECT_EQ(table.key, [&] {
        char lang[9];
        std::snprintf(lang, sizeof lang, "%04X%04X", le(translation->value, 0, 2),
                      le(translation->value, 2, 2));
        return std::string(lang);
    }()) << "the texts' language is the one the translation names";

    // The window class loads icon 1: it must be the committed icon, every size.
    auto group = res.find({kGroupIcon, 1});
    ASSERT_NE(group, res.end()) << name << " has no icon 1";
    const auto in_exe = images_of_group(res, group->second);
    const auto committed = images_of_ico(read_file(KV_SOURCE_DIR "/src/app/kvupdate.ico"));
    ASSERT_EQ(in_exe.size(), committed.size());
    for (size_t i = 0; i < committed.size(); ++i) {
        EXPECT_EQ(in_exe[i].width, committed[i].width) << "image " << i;
        EXPECT_EQ(in_exe[i].height, committed[i].height) << "image " << i;
        EXPECT_TRUE(in_exe[i].data == committed[i].data)
            << "image " << i << " differs from the committed icon";
    }
}

INSTANTIATE_TEST_SUITE_P(Win32, DeployableResources, ::testing::Values("KVUpdate.exe", "kvtool.exe"),
                         [](const auto& info) {
                             return std::string(info.param).substr(0, std::string(info.param).find('.'));
                         });

TEST(DeployableResources, UpdaterKeepsItsManifest) {
    const auto res = resources_of(read_file(KV_WIN32_BIN_DIR "/KVUpdate.exe"));
    auto manifest = res.find({kManifest, 1});
    ASSERT_NE(manifest, res.end());
    EXPECT_TRUE(manifest->second == read_file(KV_SOURCE_DIR "/src/app/kvupdate.manifest"));
}

} // namespace
