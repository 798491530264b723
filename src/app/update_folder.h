// The guard on the update folder, which every package step empties: a value
// such as "." or the program folder itself must never be that folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kv {

// Whether a folder name is empty or names a root: of the current drive
// (a lone separator), of a drive (C: or C: and a separator), of a network
// share (two separators, server, share) or the file system's root. The
// update folder is emptied, so it must never be one of these.
bool names_drive_root(std::string_view folder);

// True when `candidate` may be used, and so emptied, as the update folder: it
// is not empty or a root, not `program_folder` or a folder above it, and holds
// neither `database_path` nor `report_folder` (empty ones are not looked at).
// Relative names are taken from `program_folder`; names are compared after
// resolving ".", "..", doubled and mixed separators and the long-path prefix,
// by the platform's rules for letter case and trailing dots. Nothing on disk
// is looked at, so links are not resolved.
bool update_folder_may_be_emptied(std::string_view program_folder, std::string_view candidate,
                                  std::string_view database_path, std::string_view report_folder);

// Why a folder may not be the update folder.
enum class UpdateFolderRefusal {
    Root,               // empty, or a drive's or a share's root
    ProgramFolder,      // the program folder itself
    HoldsProgramFolder, // a folder above the program folder
    HoldsDatabase,      // a folder the database file lies in, or above it
    HoldsReports,       // the report folder, or a folder above it
    IsLink,             // a symbolic link, junction or mount point
    Unreadable,         // a folder whose identity the file system does not give
};

// Why `candidate` must not be emptied as the update folder, or nullopt when
// it may be. The names are first compared by their text (as
// update_folder_may_be_emptied does), then by what the file system says the
// folders are now: `candidate` is refused when it is itself a link, junction
// or mount point, or when it is the same folder as the program folder, or as
// any existing folder that holds the program folder, the database file or
// the report folder, by whatever name each is reached. A candidate that
// does not exist holds nothing and passes the second test. Relative names
// are taken from the working directory, which is the program folder.
std::optional<UpdateFolderRefusal> update_folder_refusal(std::string_view program_folder,
                                                         std::string_view candidate,
                                                         std::string_view database_path,
                                                         std::string_view report_folder);

// An UPDATE_ADRES that start-up did not use, and why.
struct RefusedUpdateFolder {
    std::string value;
    UpdateFolderRefusal why;
};

// What a refused folder would have been, for kvtool: "is the program
// folder", "would hold the database file", "is a link", ...
std::string refusal_reason(UpdateFolderRefusal why);

// The same in the operator's language.
std::string refusal_reason_turkish(UpdateFolderRefusal why);

// The operator's notice when `refused` is not used and `used` is used instead.
std::string refusal_notice(std::string_view refused, UpdateFolderRefusal why, std::string_view used);

// The same under the Windows name rules or the Linux ones, as the caller says.
bool update_folder_may_be_emptied(std::string_view program_folder, std::string_view candidate,
                                  std::string_view database_path, std::string_view report_folder,
                                  bool windows_names);

} // namespace kv
