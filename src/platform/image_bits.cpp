// Reading the word size from a PE or ELF header: the same bytes on every host.
#include "platform/files.h"
#include "platform/library_file.h"

#include <cstdint>
#include <cstring>

namespace kv::os {
namespace {

uint32_t little32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

int image_bits(std::string_view path) {
    File file;
    if (!file.open(path, FileAccess::Read, FileShare::All, FileDisposition::OpenExisting)) return 0;
    unsigned char head[64];
    if (file.read(head, sizeof head) != int64_t(sizeof head)) return 0;
    if (std::memcmp(head,
                    "\x7F"
                    "ELF",
                    4) == 0)
        return head[4] == 1 ? 32 : head[4] == 2 ? 64 : 0;
    if (head[0] != 'M' || head[1] != 'Z') return 0;
    // The DOS header's e_lfanew leads to "PE\0\0", the file header, then the
    // optional header, whose magic tells PE32 from PE32+.
    const uint32_t pe = little32(head + 0x3C);
    unsigned char nt[26];
    if (file.seek(pe, SeekOrigin::Begin) != int64_t(pe) || file.read(nt, sizeof nt) != int64_t(sizeof nt))
        return 0;
    if (std::memcmp(nt, "PE\0\0", 4) != 0) return 0;
    const unsigned magic = nt[24] | nt[25] << 8;
    return magic == 0x10B ? 32 : magic == 0x20B ? 64 : 0;
}

} // namespace kv::os
