// The release manifest's text (see manifest.h).
#include "release/manifest.h"

#include "platform/digest.h"

#include <algorithm>
#include <charconv>

namespace kv::release {
namespace {

constexpr std::string_view kHeader = "kvupdate-release 1";

bool carriable_path(std::string_view path) {
    if (path.size() < 2 || path.front() != '/') return false;
    return std::none_of(path.begin(), path.end(), [](char c) {
        auto u = static_cast<unsigned char>(c);
        return u <= ' ' || u == 0x7F;
    });
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool parse_digest(std::string_view text, os::Sha256Digest& out) {
    if (text.size() != 2 * out.size()) return false;
    for (size_t i = 0; i < out.size(); ++i) {
        int high = hex_value(text[2 * i]), low = hex_value(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        out[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

bool parse_size(std::string_view text, int64_t& out) {
    if (text.empty() || (text.size() > 1 && text.front() == '0')) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && out >= 0;
}

[[noreturn]] void bad_line(size_t number, const std::string& why) {
    throw EReleaseError("Sürüm listesi okunamadı: satır " + std::to_string(number) + ": " + why);
}

// One "path size sha256" line.
ManifestEntry parse_entry(std::string_view line, size_t number) {
    auto first = line.find(' ');
    auto second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos)
        bad_line(number, "\"yol boyut sha256\" beklenirdi");
    ManifestEntry entry;
    entry.path = std::string(line.substr(0, first));
    if (!carriable_path(entry.path)) bad_line(number, "geçersiz yol");
    if (!parse_size(line.substr(first + 1, second - first - 1), entry.size))
        bad_line(number, "geçersiz boyut");
    if (!parse_digest(line.substr(second + 1), entry.sha256)) bad_line(number, "geçersiz SHA-256");
    return entry;
}

} // namespace

std::string to_hex(const os::Sha256Digest& digest) { return os::hex_of(digest.data(), digest.size()); }

Manifest Manifest::parse(std::string_view text) {
    if (text.empty() || text.back() != '\n') bad_line(1, "metin satır sonuyla bitmiyor");
    Manifest manifest;
    size_t number = 0;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (++number == 1) {
            if (line != kHeader) bad_line(number, "\"" + std::string(kHeader) + "\" beklenirdi");
            continue;
        }
        ManifestEntry entry = parse_entry(line, number);
        if (manifest.find(entry.path)) bad_line(number, entry.path + " iki kez yazılmış");
        manifest.FEntries.push_back(std::move(entry));
    }
    return manifest;
}

void Manifest::add(ManifestEntry entry) {
    if (!carriable_path(entry.path))
        throw EReleaseError("Sürüm listesine yazılamaz: \"" + entry.path +
                            "\" (boşluk ya da denetim karakteri)");
    if (find(entry.path)) throw EReleaseError("Sürüm listesinde iki kez: " + entry.path);
    FEntries.push_back(std::move(entry));
}

const ManifestEntry* Manifest::find(std::string_view path) const {
    for (const ManifestEntry& e : FEntries)
        if (e.path == path) return &e;
    return nullptr;
}

std::string Manifest::text() const {
    std::vector<const ManifestEntry*> sorted;
    for (const ManifestEntry& e : FEntries)
        sorted.push_back(&e);
    std::sort(sorted.begin(), sorted.end(), [](auto* a, auto* b) { return a->path < b->path; });
    std::string out = std::string(kHeader) + "\n";
    for (const ManifestEntry* e : sorted)
        out += e->path + " " + std::to_string(e->size) + " " + to_hex(e->sha256) + "\n";
    return out;
}

} // namespace kv::release
