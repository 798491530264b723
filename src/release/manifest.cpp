// The release manifest's text (see manifest.h).
#include "release/manifest.h"

#include "platform/digest.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace kv::release {
namespace {

constexpr std::string_view kHeader = "kvupdate-release 1";
constexpr std::string_view kHeader2 = "kvupdate-release 2";

// A field line "name value" of the second form; the value, or nullopt when
// the line is not that field.
std::optional<std::string_view> field(std::string_view line, std::string_view name) {
    if (line.size() <= name.size() + 1 || line.substr(0, name.size()) != name || line[name.size()] != ' ')
        return std::nullopt;
    return line.substr(name.size() + 1);
}

int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool leap(int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

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

std::string to_hex(const os::Sha256Digest& digest) {
    return os::hex_of(digest.data(), digest.size());
}

bool valid_release_number(std::string_view number) {
    if (number.empty() || number.size() > 64) return false;
    size_t digits = 0;
    for (size_t i = 0; i <= number.size(); ++i) {
        if (i == number.size() || number[i] == '.') {
            if (digits == 0 || digits > 9) return false;
            digits = 0;
        } else if (number[i] >= '0' && number[i] <= '9') {
            if (digits == 1 && number[i - 1] == '0') return false; // no leading zero
            ++digits;
        } else {
            return false;
        }
    }
    return true;
}

int compare_release_numbers(std::string_view a, std::string_view b) {
    for (;;) {
        size_t da = a.find('.'), db = b.find('.');
        std::string_view pa = a.substr(0, da), pb = b.substr(0, db);
        // Without leading zeros, the longer number is the larger.
        if (pa.size() != pb.size()) return pa.size() < pb.size() ? -1 : 1;
        if (int c = pa.compare(pb)) return c < 0 ? -1 : 1;
        if (da == std::string_view::npos || db == std::string_view::npos)
            return da == db ? 0 : (da == std::string_view::npos ? -1 : 1);
        a.remove_prefix(da + 1);
        b.remove_prefix(db + 1);
    }
}

std::optional<int64_t> parse_utc_time(std::string_view t) {
    // YYYY-MM-DDTHH:MM:SSZ
    if (t.size() != 20 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':' ||
        t[19] != 'Z')
        return std::nullopt;
    auto number = [&](size_t at, size_t n, int64_t& out) {
        auto [end, ec] = std::from_chars(t.data() + at, t.data() + at + n, out);
        return ec == std::errc() && end == t.data() + at + n && t[at] != '-' && t[at] != '+';
    };
    int64_t y, mo, d, h, mi, s;
    if (!number(0, 4, y) || !number(5, 2, mo) || !number(8, 2, d) || !number(11, 2, h) ||
        !number(14, 2, mi) || !number(17, 2, s))
        return std::nullopt;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1] + (mo == 2 && leap(y)) || h > 23 || mi > 59 || s > 59)
        return std::nullopt;
    return days_from_civil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 + h * 3600 +
           mi * 60 + s;
}

std::string format_utc_time(int64_t seconds) {
    int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    int64_t rest = seconds - days * 86400;
    // civil_from_days
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
    char out[64];
    std::snprintf(out, sizeof out, "%04lld-%02u-%02uT%02d:%02d:%02dZ", static_cast<long long>(y), m, d,
                  static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                  static_cast<int>(rest % 60));
    return out;
}

Manifest Manifest::parse(std::string_view text) {
    if (text.empty() || text.back() != '\n') bad_line(1, "metin satır sonuyla bitmiyor");
    Manifest manifest;
    size_t number = 0;
    bool second_form = false;
    ReleaseInfo info;
    bool has_signed = false;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (number == 1) {
            second_form = line == kHeader2;
            if (line != kHeader && !second_form)
                bad_line(number, "\"" + std::string(kHeader2) + "\" ya da \"" + std::string(kHeader) +
                                     "\" beklenirdi");
            continue;
        }
        if (second_form && number == 2) {
            auto value = field(line, "release");
            if (!value || !valid_release_number(*value))
                bad_line(number, "\"release\" ve sürüm numarası beklenirdi");
            info.number = std::string(*value);
            continue;
        }
        if (second_form && number == 3) {
            auto value = field(line, "signed");
            auto time = value ? parse_utc_time(*value) : std::nullopt;
            if (!time) bad_line(number, "\"signed\" ve imza zamanı (YYYY-AA-GGTSS:DD:ssZ) beklenirdi");
            info.signed_at = *time;
            has_signed = true;
            continue;
        }
        if (second_form && number == 4) {
            if (auto value = field(line, "valid-until")) {
                auto time = parse_utc_time(*value);
                if (!time) bad_line(number, "geçersiz \"valid-until\" zamanı");
                info.valid_until = *time;
                continue;
            }
        }
        ManifestEntry entry = parse_entry(line, number);
        if (manifest.find(entry.path)) bad_line(number, entry.path + " iki kez yazılmış");
        manifest.FIndex.emplace(entry.path, manifest.FEntries.size());
        manifest.FEntries.push_back(std::move(entry));
    }
    if (second_form) {
        if (!has_signed) bad_line(number + 1, "sürüm numarası ve imza zamanı eksik");
        manifest.FInfo = std::move(info);
    }
    return manifest;
}

void Manifest::set_info(ReleaseInfo info) {
    if (!valid_release_number(info.number))
        throw EReleaseError("Geçersiz sürüm numarası: \"" + info.number +
                            "\" (noktalarla ayrılmış sayılar olmalı, örneğin 2027.3)");
    FInfo = std::move(info);
}

void Manifest::add(ManifestEntry entry) {
    if (!carriable_path(entry.path))
        throw EReleaseError("Sürüm listesine yazılamaz: \"" + entry.path +
                            "\" (boşluk ya da denetim karakteri)");
    if (find(entry.path)) throw EReleaseError("Sürüm listesinde iki kez: " + entry.path);
    FIndex.emplace(entry.path, FEntries.size());
    FEntries.push_back(std::move(entry));
}

const ManifestEntry* Manifest::find(std::string_view path) const {
    auto it = FIndex.find(std::string(path));
    return it == FIndex.end() ? nullptr : &FEntries[it->second];
}

std::string Manifest::text() const {
    std::vector<const ManifestEntry*> sorted;
    for (const ManifestEntry& e : FEntries)
        sorted.push_back(&e);
    std::sort(sorted.begin(), sorted.end(), [](auto* a, auto* b) { return a->path < b->path; });
    std::string out = std::string(FInfo ? kHeader2 : kHeader) + "\n";
    if (FInfo) {
        out += "release " + FInfo->number + "\n";
        out += "signed " + format_utc_time(FInfo->signed_at) + "\n";
        if (FInfo->valid_until) out += "valid-until " + format_utc_time(*FInfo->valid_until) + "\n";
    }
    for (const ManifestEntry* e : sorted)
        out += e->path + " " + std::to_string(e->size) + " " + to_hex(e->sha256) + "\n";
    return out;
}

} // namespace kv::release
