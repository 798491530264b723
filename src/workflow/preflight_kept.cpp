// The pre-flight look at the kept release and the journal: what a rollback
// would put back, and what the next start would have to finish or undo.
#include "platform/digest.h"
#include "platform/files.h"
#include "workflow/preflight.h"
#include "workflow/put_in_place.h"

namespace kv {

CheckResult check_kept_release() {
    CheckResult r{kCheckKeptRelease};
    const std::string work = os::current_directory();
    r.add("folder", work + "\\" + kKeptReleaseFolder);
    std::vector<std::string> kept, altered;
    size_t in_folder = 0;
    for (const KeptFile& k : kept_release(work)) {
        const std::string now = os::file_exists(work + "\\" + k.name)
                                    ? os::sha256_of_file(work + "\\" + k.name).value_or("unreadable")
                                    : "absent";
        if (now == (k.existed ? k.sha256 : "absent")) ++in_folder;
        if (!k.existed) {
            kept.push_back(k.name + ": absent before");
            continue;
        }
        kept.push_back(k.name + ": " + std::to_string(k.size) + " bytes, sha256 " + k.sha256);
        const std::string path = kept_file_path(work, k.name);
        if (os::regular_file_size(path) != uint64_t(k.size) || os::sha256_of_file(path) != k.sha256)
            altered.push_back(k.name);
    }
    r.add_list("kept", kept);
    if (!kept.empty())
        r.add("program folder", in_folder == kept.size() ? "holds the kept release"
                                : in_folder == 0
                                    ? "holds none of the kept files: the release that replaced them"
                                    : "a mix: " + std::to_string(in_folder) + " of " +
                                          std::to_string(kept.size()) + " files as kept");
    std::vector<std::string> unfinished;
    for (const UnfinishedChange& c : unfinished_changes(work))
        unfinished.push_back(c.name);
    r.add_list("unfinished changes", unfinished);
    if (!unfinished.empty())
        r.fail("a change to the program folder did not finish: " + joined(unfinished) +
               " (the next start of the updater, or kvtool recover, finishes or undoes it)");
    else if (!altered.empty())
        r.fail("kept files do not match their SHA-256: " + joined(altered) +
               " (kvtool rollback would refuse)");
    return r;
}

} // namespace kv
