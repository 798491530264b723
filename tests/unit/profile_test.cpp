// Reading the site settings file: the profile-file rules on real files, in
// the encodings sites write them in, and TIniFile over them.
#include "platform/profile.h"
#include "rtl/ini_file.h"
#include "support/fake_programs.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

using namespace kv;

namespace {

// Windows reads a file without a byte-order mark in the system's ANSI code
// page; these rows hold only for our own reader, which takes such a file as
// UTF-8 when it is valid UTF-8 and as Windows-1254 otherwise.
#ifdef KV_OWN_PROFILE_READER
constexpr bool own_reader = true;
#else
constexpr bool own_reader = false;
#endif

std::string utf16le_with_bom(const std::u16string& text) {
    std::string out = "\xFF\xFE";
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

const std::string long_value = [] {
    std::string v;
    for (int i = 0; i < 3000; ++i)
        v.push_back(static_cast<char>('a' + i % 26));
    return v;
}();

struct Case {
    const char* name;
    std::string file;
    const char* section;
    const char* key;
    std::string expected; // the default is "yok"
    bool documented_for_windows = true;
};

const Case cases[] = {
    {"exact names", "[BAGLANTI]\r\nSUNUCU_IP=10.1.2.3\r\n", "BAGLANTI", "SUNUCU_IP", "10.1.2.3"},
    {"names in lower case", "[baglanti]\nsunucu_ip=10.1.2.3\n", "BAGLANTI", "SUNUCU_IP", "10.1.2.3"},
    {"asked in lower case", "[BAGLANTI]\nDB_ADRES=C:\\db\\kv.fdb\n", "baglanti", "db_adres",
     "C:\\db\\kv.fdb"},
    {"blanks around value and name", "[BAGLANTI]\n  RAPOR_ADRES  =  \t D:\\Rapor Dosyalari \t \r\n",
     "BAGLANTI", "RAPOR_ADRES", "D:\\Rapor Dosyalari"},
    {"double quotes", "[BAGLANTI]\nSUNUCU_IP=\"localhost\"\n", "BAGLANTI", "SUNUCU_IP", "localhost"},
    {"single quotes inside blanks", "[BAGLANTI]\nSUNUCU_IP=  ' localhost '  \n", "BAGLANTI", "SUNUCU_IP",
     " localhost "},
    {"only one pair of quotes", "[BAGLANTI]\nSUNUCU_IP=\"\"x\"\"\n", "BAGLANTI", "SUNUCU_IP", "\"x\""},
    {"quotes inside the value kept", "[BAGLANTI]\nSUNUCU_IP=a \"b\" c\n", "BAGLANTI", "SUNUCU_IP",
     "a \"b\" c"},
    {"empty value", "[BAGLANTI]\nUPDATE_ADRES=\n", "BAGLANTI", "UPDATE_ADRES", ""},
    {"missing key", "[BAGLANTI]\nSUNUCU_IP=x\n", "BAGLANTI", "DB_ADRES", "yok"},
    {"missing section", "[DIGER]\nSUNUCU_IP=x\n", "BAGLANTI", "SUNUCU_IP", "yok"},
    {"key of another section", "[DIGER]\nDB_ADRES=x\n[BAGLANTI]\nSUNUCU_IP=y\n", "BAGLANTI", "DB_ADRES",
     "yok"},
    {"section after another", "[DIGER]\nDB_ADRES=x\n[BAGLANTI]\nDB_ADRES=y\n", "BAGLANTI", "DB_ADRES", "y"},
    {"value of 3000 characters", "[BAGLANTI]\nUPDATE_ADRES=" + long_value + "\n", "BAGLANTI", "UPDATE_ADRES",
     long_value.substr(0, 2047)},
    {"UTF-16LE with byte-order mark",
     utf16le_with_bom(u"[BAGLANTI]\r\nUYGULAMA_ADRES=C:\\Kuvento Şube İĞÜ\r\n"), "BAGLANTI", "UYGULAMA_ADRES",
     "C:\\Kuvento Şube İĞÜ"},
    {"UTF-8 with byte-order mark", "\xEF\xBB\xBF[BAGLANTI]\nUYGULAMA_ADRES=C:\\Kuvento Şube ığ\n", "BAGLANTI",
     "UYGULAMA_ADRES", "C:\\Kuvento Şube ığ", false},
    {"UTF-8 without byte-order mark", "[BAGLANTI]\nUYGULAMA_ADRES=C:\\Mağaza Şube\n", "BAGLANTI",
     "UYGULAMA_ADRES", "C:\\Mağaza Şube", false},
    {"Windows-1254",
     "[BAGLANTI]\r\nUYGULAMA_ADRES=C:\\Ma\xF0"
     "aza \xDE\xFE"
     "ube \xDDzm\xFDr \xD0\xFC\xE7\xF6\r\n",
     "BAGLANTI", "UYGULAMA_ADRES", "C:\\Mağaza Şşube İzmır Ğüçö", false},
};

class ProfileRead : public ::testing::TestWithParam<Case> {};

TEST_P(ProfileRead, GivesTheValueByTheReadingRules) {
    const Case& c = GetParam();
    if (!c.documented_for_windows && !own_reader) GTEST_SKIP() << "the system's ANSI code page decides";
    test::ScratchDir dir("profile");
    std::filesystem::path file = dir.path() / "kvayarlar.ini";
    std::ofstream(file, std::ios::binary) << c.file;
    EXPECT_EQ(os::read_profile_string(test::utf8(file), c.section, c.key, "yok"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProfileRead, ::testing::ValuesIn(cases), [](const auto& info) {
    std::string n;
    for (const char* p = info.param.name; *p; ++p)
        n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return n;
});

TEST(IniFile, MissingFileGivesDefaultsAndIsNeverCreated) {
    test::ScratchDir dir("ini");
    std::string file = dir.str() + "/kvayarlar.ini";
    TIniFile ini(file);
    EXPECT_EQ(ini.ReadString("BAGLANTI", "SUNUCU_IP", ""), "");
    EXPECT_EQ(ini.ReadString("BAGLANTI", "SUNUCU_IP", "varsayilan"), "varsayilan");
    ini.UpdateFile();
    EXPECT_FALSE(std::filesystem::exists(test::from_utf8(file)));
}

TEST(IniFile, ReadsWithoutChangingTheFile) {
    test::ScratchDir dir("ini");
    std::filesystem::path file = dir.path() / "kvayarlar.ini";
    const std::string text = "[BAGLANTI]\r\nSUNUCU_IP = \"localhost\" \r\nDB_ADRES=C:\\KV\\KV.FDB\r\n";
    std::ofstream(file, std::ios::binary) << text;
    {
        TIniFile ini(test::utf8(file));
        EXPECT_EQ(ini.ReadString("BAGLANTI", "SUNUCU_IP", ""), "localhost");
        EXPECT_EQ(ini.ReadString("BAGLANTI", "DB_ADRES", ""), "C:\\KV\\KV.FDB");
        EXPECT_EQ(ini.ReadString("BAGLANTI", "UPDATE_ADRES", ""), "");
        ini.UpdateFile();
    }
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
}

TEST(IniFile, AFolderInPlaceOfTheFileGivesDefaults) {
    test::ScratchDir dir("ini");
    std::filesystem::create_directory(dir.path() / "kvayarlar.ini");
    EXPECT_EQ(TIniFile(dir.str() + "/kvayarlar.ini").ReadString("BAGLANTI", "SUNUCU_IP", "yok"), "yok");
}

} // namespace
