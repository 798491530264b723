// The guard on the update folder, which every package step empties: a value
// such as "." or the program folder itself must never be that folder.
#pragma once

#include <string_view>

namespace kv {

// True when `candidate` may be used, and so emptied, as the update folder: it
// is not empty or a root, not `program_folder` or a folder above it, and holds
// neither `database_path` nor `report_folder` (empty ones are not looked at).
// Relative names are taken from `program_folder`; names are compared after
// resolving ".", "..", doubled and mixed separators and the long-path prefix,
// by the platform's rules for letter case and trailing dots. Nothing on disk
// is looked at, so links are not resolved.
bool update_folder_may_be_emptied(std::string_view program_folder, std::string_view candidate,
                                  std::string_view database_path, std::string_view report_folder);

// The same under the Windows name rules or the Linux ones, as the caller says.
bool update_folder_may_be_emptied(std::string_view program_folder, std::string_view candidate,
                                  std::string_view database_path, std::string_view report_folder,
                                  bool windows_names);

} // namespace kv
