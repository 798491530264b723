// RAR5 writer for test fixtures (stored method). Layout: the 8-byte
// signature, a main archive header, one file header per item followed by its
// data, and the end-of-archive header. Every header is CRC32, a vint header
// size, then type, flags and the type's fields.
#include "rar5_writer.h"

#include <array>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kv::test {
namespace {

constexpr std::string_view kSignature("Rar!\x1A\x07\x01\x00", 8);

constexpr uint64_t kMainHeader = 1;
constexpr uint64_t kFileHeader = 2;
constexpr uint64_t kEndHeader = 5;
constexpr uint64_t kHasData = 0x0002;   // header flag: a data area follows
constexpr uint64_t kDirectory = 0x0001; // file flags
constexpr uint64_t kHasCrc = 0x0004;
constexpr uint64_t kHasExtra = 0x0001; // header flag: an extra area is present
constexpr uint64_t kRedirectionRecord = 5;
constexpr uint64_t kHostWindows = 0;
constexpr uint64_t kHostUnix = 1;
constexpr uint64_t kUnixSymlinkMode = 0120777;
constexpr uint64_t kAttrArchive = 0x20;
constexpr uint64_t kAttrDirectory = 0x10;

const std::array<uint32_t, 256>& crc_table() {
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

void put_vint(std::string& out, uint64_t v) {
    do {
        uint8_t b = v & 0x7F;
        v >>= 7;
        out.push_back(static_cast<char>(v ? b | 0x80 : b));
    } while (v);
}

void put_u32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>(v >> (8 * i)));
}

// CRC32, header size, then the body (type onwards).
std::string header(const std::string& body) {
    std::string sized;
    put_vint(sized, body.size());
    sized += body;
    std::string out;
    put_u32(out, crc32(sized));
    return out + sized;
}

std::string main_header() {
    std::string b;
    put_vint(b, kMainHeader);
    put_vint(b, 0); // header flags
    put_vint(b, 0); // archive flags
    return header(b);
}

std::string end_header() {
    std::string b;
    put_vint(b, kEndHeader);
    put_vint(b, 0);
    put_vint(b, 0); // last volume
    return header(b);
}

// The extra area holding one file system redirection record.
std::string redirection_extra(unsigned link, const std::string& target) {
    std::string record;
    put_vint(record, kRedirectionRecord);
    put_vint(record, link);
    put_vint(record, 0); // flags: the target is no folder
    put_vint(record, target.size());
    record += target;
    std::string extra;
    put_vint(extra, record.size());
    return extra + record;
}

std::string file_header(const std::string& path, uint64_t size, uint32_t crc, bool folder, unsigned method,
                        unsigned link = 0, const std::string& link_target = {}) {
    const std::string extra = link ? redirection_extra(link, link_target) : std::string();
    std::string b;
    put_vint(b, kFileHeader);
    put_vint(b, (folder ? 0 : kHasData) | (extra.empty() ? 0 : kHasExtra));
    if (!extra.empty()) put_vint(b, extra.size());
    if (!folder) put_vint(b, size); // data size: stored, so the packed size is the size
    put_vint(b, folder ? kDirectory : kHasCrc);
    put_vint(b, size);
    put_vint(b, folder ? kAttrDirectory : link == 1 ? kUnixSymlinkMode : kAttrArchive);
    if (!folder) put_u32(b, crc);
    put_vint(b, static_cast<uint64_t>(method) << 7); // version 0, not solid
    put_vint(b, link == 1 ? kHostUnix : kHostWindows);
    put_vint(b, path.size());
    b += path;
    return header(b + extra);
}

constexpr size_t kChunk = 1 << 20;

} // namespace

uint32_t crc32(std::string_view bytes, uint32_t crc) {
    const auto& t = crc_table();
    crc = ~crc;
    for (unsigned char c : bytes)
        crc = t[(crc ^ c) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::string rar5_archive(const std::vector<Rar5Item>& items) {
    std::string out(kSignature);
    out += main_header();
    for (const auto& it : items) {
        uint32_t crc = crc32(it.data) ^ (it.bad_crc ? 0x5A5A5A5Au : 0u);
        out += file_header(it.path, it.data.size(), crc, it.folder, it.method, it.link, it.link_target);
        if (!it.folder) out += it.data;
    }
    return out + end_header();
}

std::string rar5_generated_data(size_t n, uint64_t offset, size_t count) {
    std::string s(count, '\0');
    for (size_t i = 0; i < count; ++i) {
        uint64_t p = offset + i;
        s[i] = static_cast<char>((p * 131 + (p >> 12) + n * 7) & 0xFF);
    }
    return s;
}

void write_rar5_generated(const std::string& file,
                          const std::vector<std::pair<std::string, uint64_t>>& items) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot create " + file);
    out << kSignature << main_header();
    for (size_t n = 0; n < items.size(); ++n) {
        const auto& [path, size] = items[n];
        uint32_t crc = 0;
        for (uint64_t off = 0; off < size; off += kChunk)
            crc = crc32(
                rar5_generated_data(n, off, static_cast<size_t>(std::min<uint64_t>(kChunk, size - off))),
                crc);
        out << file_header(path, size, crc, false, 0);
        for (uint64_t off = 0; off < size; off += kChunk)
            out << rar5_generated_data(n, off, static_cast<size_t>(std::min<uint64_t>(kChunk, size - off)));
    }
    out << end_header();
    if (!out.flush()) throw std::runtime_error("cannot write " + file);
}

void write_file(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace kv::test
