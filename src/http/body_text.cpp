// Character-set detection and text decoding of bodies (see body_text.h).
#include "http/body_text.h"

#include "platform/unicode.h"
#include "rtl/exception.h"
#include "rtl/text.h"

#include <algorithm>

namespace kv {
namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

// Attributes of one tag, starting after its name; stops at ">".
std::vector<std::pair<std::string, std::string>> tag_attributes(std::string_view s, size_t& i) {
    std::vector<std::pair<std::string, std::string>> out;
    while (i < s.size() && s[i] != '>') {
        while (i < s.size() && (is_space(s[i]) || s[i] == '/'))
            ++i;
        size_t b = i;
        while (i < s.size() && !is_space(s[i]) && s[i] != '=' && s[i] != '>' && s[i] != '/')
            ++i;
        std::string name = ascii_lower(s.substr(b, i - b));
        while (i < s.size() && is_space(s[i]))
            ++i;
        std::string value;
        if (i < s.size() && s[i] == '=') {
            ++i;
            while (i < s.size() && is_space(s[i]))
                ++i;
            if (i < s.size() && (s[i] == '"' || s[i] == '\'')) {
                char q = s[i++];
                size_t e = s.find(q, i);
                if (e == std::string_view::npos) e = s.size();
                value = std::string(s.substr(i, e - i));
                i = e < s.size() ? e + 1 : e;
            } else {
                size_t e = i;
                while (e < s.size() && !is_space(s[e]) && s[e] != '>')
                    ++e;
                value = std::string(s.substr(i, e - i));
                i = e;
            }
        }
        if (name.empty()) {
            if (i < s.size() && s[i] != '>') ++i;
            continue;
        }
        out.emplace_back(std::move(name), std::move(value));
    }
    return out;
}

std::string latin1_to_utf8(std::string_view s) {
    std::string out;
    for (unsigned char c : s) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string utf16_bytes_to_utf8(std::string_view s, bool big_endian) {
    std::u16string u;
    for (size_t i = 0; i + 1 < s.size(); i += 2) {
        unsigned char a = static_cast<unsigned char>(s[i]), b = static_cast<unsigned char>(s[i + 1]);
        u += static_cast<char16_t>(big_endian ? (a << 8) | b : (b << 8) | a);
    }
    return utf16_to_utf8(u);
}

} // namespace

HtmlMeta scan_html_meta(std::string_view body) {
    HtmlMeta meta;
    std::string lower = ascii_lower(body);
    size_t end = lower.find("</head");
    if (end == std::string::npos) end = lower.size();
    for (size_t at = lower.find("<meta"); at < end; at = lower.find("<meta", at)) {
        size_t i = at + 5;
        if (i < lower.size() && !is_space(lower[i]) && lower[i] != '/' && lower[i] != '>') {
            at = i;
            continue;
        }
        std::string equiv, content;
        for (auto& [name, value] : tag_attributes(body, i)) {
            if (name == "http-equiv") equiv = trim(value);
            if (name == "content") content = value;
            if (name == "charset") meta.CharSet = trim(value);
        }
        if (!equiv.empty() && !content.empty()) meta.Headers.SetValue(equiv, content);
        at = i;
    }
    return meta;
}

std::string xml_charset(std::string_view body) {
    if (body.substr(0, 3) == "\xEF\xBB\xBF") return "UTF-8";
    if (body.substr(0, 2) == "\xFF\xFE") return "UTF-16LE";
    if (body.substr(0, 2) == "\xFE\xFF") return "UTF-16BE";
    if (body.substr(0, 5) == "<?xml") {
        std::string_view decl = body.substr(0, body.find("?>"));
        size_t e = decl.find("encoding");
        if (e != std::string_view::npos) {
            size_t q = decl.find_first_of("\"'", e);
            if (q != std::string_view::npos) {
                size_t close = decl.find(decl[q], q + 1);
                if (close != std::string_view::npos) return std::string(decl.substr(q + 1, close - q - 1));
            }
        }
    }
    return "UTF-8";
}

std::string json_charset(std::string_view body) {
    if (body.size() < 4) return "UTF-8";
    bool z0 = body[0] == 0, z1 = body[1] == 0, z2 = body[2] == 0, z3 = body[3] == 0;
    if (z0 && z1 && z2 && !z3) return "UTF-32BE";
    if (!z0 && z1 && z2 && z3) return "UTF-32LE";
    if (z0 && !z1) return "UTF-16BE";
    if (!z0 && z1) return "UTF-16LE";
    return "UTF-8";
}

std::string body_text(std::string_view bytes, std::string_view charset) {
    std::string cs = ascii_lower(trim(charset));
    if (cs == "utf-8" || cs == "utf8" || (cs.empty() && is_valid_utf8(bytes)))
        return utf16_to_utf8(utf8_to_utf16(bytes));
    if (cs == "windows-1254" || cs == "cp1254" || cs == "iso-8859-9") return cp1254_to_utf8(bytes);
    if (cs == "utf-16be") return utf16_bytes_to_utf8(bytes, true);
    if (cs == "utf-16" || cs == "utf-16le") return utf16_bytes_to_utf8(bytes, false);
    return latin1_to_utf8(bytes);
}

int64_t TBodyHeadStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    int64_t n = FTarget ? FTarget->Write(buffer, count) : count;
    if (FHead.size() < FLimit && n > 0)
        FHead.append(static_cast<const char*>(buffer),
                     static_cast<size_t>(std::min<int64_t>(n, static_cast<int64_t>(FLimit - FHead.size()))));
    if (!FTarget) {
        FPos += n;
        FSize = std::max(FSize, FPos);
    }
    return n;
}

int64_t TBodyHeadStream::Seek(int64_t offset, TSeekOrigin origin) {
    if (FTarget) return FTarget->Seek(offset, origin);
    int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? FPos : FSize;
    if (base + offset < 0) throw EStreamError("Stream seek error");
    return FPos = base + offset;
}

void TBodyHeadStream::SetSize(int64_t size) {
    if (FTarget) return FTarget->SetSize(size);
    FSize = size;
    FPos = std::min(FPos, size);
}

int64_t TBodyHeadStream::Size() {
    return FTarget ? FTarget->Size() : FSize;
}

} // namespace kv
