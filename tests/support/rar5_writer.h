// RAR5 archives for tests, made at run time: the stored method only, with
// the format's public header layout (vint fields, CRC32 of every header)
// and knobs for the faults the archive reader must meet (a wrong data CRC,
// a compression method the stored data does not match, unsafe names).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kv::test {

struct Rar5Item {
    std::string path; // as stored: "/" between folders
    std::string data;
    bool folder = false;
    unsigned method = 0;  // compression method in the header; the data is stored as given
    bool bad_crc = false; // store a data CRC that does not match
    // A file system redirection record: 1 Unix symbolic link, 2 Windows
    // symbolic link, 3 junction, 4 hard link, 5 file copy; 0 none.
    unsigned link = 0;
    std::string link_target = {};
};

uint32_t crc32(std::string_view bytes, uint32_t crc = 0);

// The bytes of a RAR5 archive holding the items in order.
std::string rar5_archive(const std::vector<Rar5Item>& items);

// Writes a large archive straight to `file`: each item (path, size) is filled
// with a fixed byte pattern, so nothing the size of an item is held in memory.
void write_rar5_generated(const std::string& file,
                          const std::vector<std::pair<std::string, uint64_t>>& items);
// The pattern write_rar5_generated stores for item `n` (for checking results).
std::string rar5_generated_data(size_t n, uint64_t offset, size_t count);

void write_file(const std::string& path, std::string_view bytes);
std::string read_file(const std::string& path);

} // namespace kv::test
