#include "platform/unicode.h"

namespace kv {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at s[i], advancing i; invalid sequences give U+FFFD
// and consume one byte.
char32_t decode_utf8(std::string_view s, size_t& i) {
    auto b = static_cast<unsigned char>(s[i]);
    int n;
    char32_t cp;
    if (b < 0x80) {
        ++i;
        return b;
    } else if ((b & 0xE0) == 0xC0) {
        n = 1, cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
        n = 2, cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
        n = 3, cp = b & 0x07;
    } else {
        ++i;
        return kReplacement;
    }
    if (i + n >= s.size()) {
        ++i;
        return kReplacement;
    }
    for (int k = 1; k <= n; ++k) {
        auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return kReplacement;
    }
    i += n + 1;
    return cp;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

std::u16string utf8_to_utf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        char32_t cp = decode_utf8(s, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 | (cp >> 10));
            out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string utf16_to_utf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        append_utf8(out, c);
    }
    return out;
}

bool is_valid_utf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        size_t start = i;
        if (decode_utf8(s, i) == kReplacement && !(i - start == 3 && s.substr(start, 3) == "\xEF\xBF\xBD"))
            return false;
    }
    return true;
}

size_t utf16_length(std::string_view utf8) {
    size_t n = 0;
    for (size_t i = 0; i < utf8.size();)
        n += decode_utf8(utf8, i) >= 0x10000 ? 2 : 1;
    return n;
}

#ifdef _WIN32
std::wstring to_wide(std::string_view s) {
    auto u = utf8_to_utf16(s);
    return std::wstring(u.begin(), u.end());
}
std::string from_wide(std::wstring_view s) {
    return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(s.data()), s.size()));
}
#endif

} // namespace kv
