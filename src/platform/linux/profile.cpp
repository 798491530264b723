// Profile files on Linux: a reader of our own that gives what the Windows
// reader gives for the files sites have. The text is decoded to UTF-16 first,
// so names fold and values are cut by the same units Windows counts in.
#include "platform/profile.h"

#include "platform/files.h"
#include "platform/unicode.h"

#include <fstream>
#include <iterator>

namespace kv::os {
namespace {

constexpr size_t max_value_length = 2047; // a 2048-character buffer and its NUL

// Windows-1254 to UTF-16. The platform layer sits below the runtime's text
// helpers, so it keeps its own table: the code page is Latin-1 except for
// 0x80-0x9F and six Turkish letters.
std::u16string from_cp1254(std::string_view bytes) {
    static constexpr char16_t high[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                          0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0xFFFD, 0xFFFD,
                                          0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                          0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0xFFFD, 0x0178};
    std::u16string out;
    out.reserve(bytes.size());
    for (unsigned char b : bytes) {
        switch (b) {
        case 0xD0:
            out += u'Ğ';
            break;
        case 0xDD:
            out += u'İ';
            break;
        case 0xDE:
            out += u'Ş';
            break;
        case 0xF0:
            out += u'ğ';
            break;
        case 0xFD:
            out += u'ı';
            break;
        case 0xFE:
            out += u'ş';
            break;
        default:
            out += b >= 0x80 && b < 0xA0 ? high[b - 0x80] : char16_t(b);
        }
    }
    return out;
}

std::u16string decode(const std::string& bytes) {
    auto utf16 = [&](size_t from, bool big_endian) {
        std::u16string out;
        out.reserve((bytes.size() - from) / 2);
        for (size_t i = from; i + 1 < bytes.size(); i += 2) {
            auto lo = static_cast<unsigned char>(bytes[i + (big_endian ? 1 : 0)]);
            auto hi = static_cast<unsigned char>(bytes[i + (big_endian ? 0 : 1)]);
            out.push_back(static_cast<char16_t>(lo | hi << 8));
        }
        return out;
    };
    if (bytes.starts_with("\xFF\xFE")) return utf16(2, false);
    if (bytes.starts_with("\xFE\xFF")) return utf16(2, true);
    if (bytes.starts_with("\xEF\xBB\xBF")) return utf8_to_utf16(std::string_view(bytes).substr(3));
    if (is_valid_utf8(bytes)) return utf8_to_utf16(bytes);
    return from_cp1254(bytes);
}

// Upper case of the Latin letters names can hold: ASCII, Latin-1 and
// Latin Extended-A (Turkish "ğ", "ş", "ı" among them).
char16_t upper(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
    if (c == 0xFF) return 0x178;
    if (c == 0x131) return u'I';
    if (c == 0x17F) return u'S';
    if (c >= 0x100 && c < 0x17F && c != 0x130 && c != 0x138) {
        // Pairs start on even code points, except in 0x139-0x148 and
        // 0x179-0x17E where they start on odd ones.
        bool odd_pairs = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        bool is_lower = odd_pairs ? (c % 2 == 0) : (c % 2 == 1);
        if (is_lower) return static_cast<char16_t>(c - 1);
    }
    return c;
}

bool same_name(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

bool is_blank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f';
}

std::u16string_view trim(std::u16string_view s) {
    while (!s.empty() && is_blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string finish(std::u16string_view v) {
    if (v.size() > max_value_length) {
        v = v.substr(0, max_value_length);
        // Never end on half of a surrogate pair.
        if (v.back() >= 0xD800 && v.back() <= 0xDBFF) v.remove_suffix(1);
    }
    return utf16_to_utf8(v);
}

// The file's text; empty when it is missing or cannot be read.
std::u16string load(const std::string& path) {
    if (!file_exists(path)) return {};
    std::ifstream in(native_path(path), std::ios::binary);
    if (!in) return {};
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return {};
    return decode(bytes);
}

} // namespace

std::string read_profile_string(std::string_view path, std::string_view section, std::string_view key,
                                std::string_view default_value) {
    return ProfileFile(std::string(path)).read_string(section, key, default_value);
}

std::string ProfileFile::read_string(std::string_view section, std::string_view key,
                                     std::string_view default_value) {
    auto fallback = [&] {
        std::u16string d = utf8_to_utf16(default_value);
        std::u16string_view v = d;
        while (!v.empty() && is_blank(v.back()))
            v.remove_suffix(1);
        return finish(v);
    };
    if (!FLoaded) {
        FText = load(FPath);
        FLoaded = true;
    }
    const std::u16string wanted_section = utf8_to_utf16(section);
    const std::u16string wanted_key = utf8_to_utf16(key);
    std::u16string_view rest = FText;
    bool in_section = false;
    while (!rest.empty()) {
        size_t eol = rest.find_first_of(u"\r\n");
        std::u16string_view line = trim(rest.substr(0, eol));
        rest = eol == std::u16string_view::npos ? std::u16string_view() : rest.substr(eol + 1);
        if (line.empty()) continue;
        if (line.front() == u'[') {
            size_t close = line.find(u']');
            std::u16string_view name = line.substr(1, close == std::u16string_view::npos ? close : close - 1);
            in_section = same_name(trim(name), wanted_section);
            continue;
        }
        if (!in_section) continue;
        size_t eq = line.find(u'=');
        if (eq == std::u16string_view::npos || !same_name(trim(line.substr(0, eq)), wanted_key)) continue;
        std::u16string_view value = trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return finish(value);
    }
    return fallback();
}

void flush_profile(std::string_view) {}

} // namespace kv::os
