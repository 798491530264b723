// The update folder reset: removes a folder with everything below it, depth
// first, and tells the operator about each folder it could not remove.
// Links are removed as links and never followed, and a drive's root is
// refused, so nothing outside the folder is touched.
#include "app/form1.h"
#include "platform/files.h"

namespace kv {

void TForm1::DeleteDirectory(const std::string& Name) {
    // An empty name would list the root of the current drive; a root is never
    // the update folder.
    if (names_drive_root(Name)) return;
    auto entries = os::list_directory(Name);
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
