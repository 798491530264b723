// The room on a volume and the system's folder for temporary files, as the
// pre-flight check needs them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv::os {

// Bytes this user may still write on the volume that holds `folder`;
// nullopt (with last_error set) when it cannot be asked.
std::optional<uint64_t> free_space(std::string_view folder);

// The system's folder for temporary files, without a trailing separator.
std::string temp_directory();

} // namespace kv::os
