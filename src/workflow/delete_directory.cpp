// The update folder reset: removes a folder with everything below it, depth
// first, and tells the operator about each folder it could not remove.
// Links are removed as links and never followed, and a drive's root is
// refused, so nothing outside the folder is touched.
#include "app/form1.h"
#include "platform/file_identity.h"
#include "platform/files.h"

namespace kv {

void TForm1::DeleteDirectory(const std::string& Name) {
    // An empty name would list the root of the current drive; a root is never
    // the update folder.
    if (names_drive_root(Name)) return;
    // A link or mount point, given as the folder or met below it, is removed
    // as such (a mount point cannot be, and gets the notice); what it leads
    // to is never listed.
    const bool leads_elsewhere = os::is_link_or_mount_point(Name);
    auto entries = leads_elsewhere ? std::optional<std::vector<os::DirEntry>>(std::vector<os::DirEntry>{})
                                   : os::list_directory(Name);
    if (!entries) return;
    for (const os::DirEntry& entry : *entries) {
        const std::string path = Name + "\\" + entry.name;
        if (entry.is_link) {
            if (entry.is_directory)
                os::remove_directory(path);
            else
                os::delete_file(path);
        } else if (entry.is_directory) {
            if (entry.name != "." && entry.name != "..") DeleteDirectory(path);
        } else {
            os::delete_file(path);
        }
    }
    if (!os::remove_directory(Name)) {
        const uint32_t error = os::last_error();
        ShowNotice("CANT DELETE EMPTY DIRECTORY:" + Name + " " + os::system_error_text(error));
    }
}

} // namespace kv
