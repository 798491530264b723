// SHA-256 of a file, from the system's cryptography (platform/crypto.h: CNG
// on Windows, libcrypto on Linux), for the run log's record of what was
// downloaded and put in place. Nothing here throws.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kv::os {

// The lower-case hex SHA-256 of the file's bytes, or nullopt (with
// last_error set) when the file cannot be read. The file is read with every
// kind of sharing allowed, so it may be open elsewhere.
std::optional<std::string> sha256_of_file(std::string_view path);

// Lower-case hex of a digest's bytes.
std::string hex_of(const unsigned char* bytes, size_t count);

} // namespace kv::os
