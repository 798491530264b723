// The pre-flight look at the kept release and the journal: what a rollback
// would put back, whether the program folder holds one whole release (the
// last run's installed set, or the kept set) or a mix, and what the next
// start would have to finish or undo.
#include "platform/digest.h"
#include "platform/files.h"
#include "workflow/preflight.h"
#include "workflow/put_in_place.h"

#include <map>
#include <set>

namespace kv {
namespace {

// What the program folder holds under each name, hashed once.
class FolderNow {
public:
    explicit FolderNow(std::string folder) : FFolder(std::move(folder)) {}

    // Whether the folder holds `file` as recorded (absent for one recorded absent).
    bool Holds(const KeptFile& file) { return Sha(file.name) == (file.existed ? file.sha256 : "absent"); }

private:
    const std::string& Sha(const std::string& name) {
        auto it = FSha.find(name);
        if (it != FSha.end()) return it->second;
        const std::string path = FFolder + "\\" + name;
        return FSha[name] =
                   os::file_exists(path) ? os::sha256_of_file(path).value_or("unreadable") : "absent";
    }
    std::string FFolder;
    std::map<std::string, std::string> FSha;
};

// The names of `files` the folder does not hold as they are recorded there.
std::set<std::string> not_held(FolderNow& now, const std::vector<KeptFile>& files) {
    std::set<std::string> names;
    for (const KeptFile& f : files)
        if (!now.Holds(f)) names.insert(f.name);
    return names;
}

std::vector<std::string> listed(const std::set<std::string>& names) {
    return {names.begin(), names.end()};
}

} // namespace

CheckResult check_kept_release() {
    CheckResult r{kCheckKeptRelease};
    const std::string work = os::current_directory();
    r.add("folder", work + "\\" + kKeptReleaseFolder);
    const std::vector<KeptFile> kept_files = kept_release(work);
    std::vector<std::string> kept, altered;
    for (const KeptFile& k : kept_files) {
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

    const InstalledSet installed = installed_set(work);
    const std::string release =
        installed.release.empty() ? "the installed release" : "release " + installed.release;
    if (!installed.files.empty())
        r.add("installed",
              release + ", " + std::to_string(installed.files.size()) + " files" +
                  (installed.complete ? "" : ", the run that put them in place did not complete"));

    FolderNow now(work);
    const std::set<std::string> not_installed = not_held(now, installed.files);
    const std::set<std::string> not_kept = not_held(now, kept_files);
    std::string mix;
    if (installed.complete && !installed.files.empty() && not_installed.empty()) {
        r.add("program folder", "holds " + release + " whole");
    } else if (!kept_files.empty() && not_kept.empty()) {
        r.add("program folder", "holds the kept release");
    } else if (installed.files.empty() && !kept_files.empty() && not_kept.size() == kept_files.size()) {
        // Put in place by a build that recorded no installed set.
        r.add("program folder", "holds none of the kept files: the release that replaced them");
    } else if (!kept_files.empty() || !installed.files.empty()) {
        // Each file as the last run installed it, as kept, or as neither.
        std::map<std::string, int> held; // 0 neither, 1 as installed, 2 as kept
        for (const KeptFile& f : installed.files)
            held[f.name] = not_installed.count(f.name) ? 0 : 1;
        for (const KeptFile& f : kept_files)
            if (held[f.name] == 0 && !not_kept.count(f.name)) held[f.name] = 2;
        std::set<std::string> by[3];
        for (const auto& [name, as] : held)
            by[as].insert(name);
        std::vector<std::string> parts;
        if (!by[0].empty()) parts.push_back("matching neither: " + joined(listed(by[0])));
        if (!by[1].empty()) parts.push_back("as " + release + ": " + joined(listed(by[1])));
        if (!by[2].empty()) parts.push_back("as kept: " + joined(listed(by[2])));
        mix = "a mix: " + joined(parts, "; ");
        r.add("program folder", mix);
    }

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
    else if (!mix.empty())
        r.fail("the program folder holds " + mix +
               " (kvtool rollback puts the kept release back; a whole run of the update brings the new one)");
    return r;
}

} // namespace kv
