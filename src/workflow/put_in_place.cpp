// The put-in-place unit, its journal and the kept release: the order of one
// change is written down in put_in_place.h, and every function here keeps it.
#include "workflow/put_in_place.h"

#include "platform/digest.h"
#include "platform/disk.h"
#include "platform/files.h"

#include <algorithm>
#include <map>

namespace kv {
namespace {

constexpr const char* kNewSuffix = ".kvnew";
constexpr const char* kAsideSuffix = ".kvold";
constexpr const char* kAbsent = "absent";

std::string kept_folder(const std::string& program_folder) {
    return program_folder + "\\" + kKeptReleaseFolder;
}
std::string manifest_path(const std::string& program_folder) {
    return kept_folder(program_folder) + "\\manifest.txt";
}
std::string journal_path(const std::string& program_folder) {
    return kept_folder(program_folder) + "\\journal.txt";
}
std::string installed_path(const std::string& program_folder) {
    return kept_folder(program_folder) + "\\installed.txt";
}
constexpr const char* kReleaseLine = "release";
constexpr const char* kCompleteLine = "complete";

[[noreturn]] void fail(const std::string& target, uint32_t error) {
    throw EPutInPlace("Cannot put file \"" + target + "\" in place. " + os::system_error_text(error));
}

std::optional<std::string> sha_of(const std::string& path) {
    if (!os::file_exists(path)) return std::nullopt;
    return os::sha256_of_file(path);
}

// Every folder above the file `path` that is missing, outermost first.
bool make_parent_folders(const std::string& path) {
    for (size_t at = path.find('\\', 1); at != std::string::npos; at = path.find('\\', at + 1)) {
        const std::string folder = path.substr(0, at);
        if (folder.empty() || folder.back() == ':' || os::directory_exists(folder)) continue;
        if (!os::create_directory(folder)) return false;
    }
    return true;
}

std::string folder_of(const std::string& path) {
    const size_t at = path.rfind('\\');
    return at == std::string::npos ? std::string(".") : path.substr(0, at);
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

std::optional<std::string> read_text(const std::string& path) {
    os::File file;
    if (!file.open(path, os::FileAccess::Read, os::FileShare::All, os::FileDisposition::OpenExisting))
        return std::nullopt;
    std::string text;
    char buf[8192];
    for (int64_t n; (n = file.read(buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<size_t>(n));
    return text;
}

std::vector<std::string> lines_of(const std::string& path) {
    std::vector<std::string> lines;
    for (std::string& line : split(read_text(path).value_or(""), '\n'))
        if (!line.empty()) lines.push_back(std::move(line));
    return lines;
}

// Writes `text` as the whole of `path`: beside it first, flushed, then renamed over it.
bool write_whole(const std::string& path, const std::string& text) {
    const std::string temp = path + kNewSuffix;
    os::delete_file(temp);
    {
        os::File file;
        if (!file.open(temp, os::FileAccess::Write, os::FileShare::None, os::FileDisposition::CreateAlways) ||
            file.write(text.data(), int64_t(text.size())) != int64_t(text.size()) || !file.flush()) {
            const uint32_t error = os::last_error();
            file.close();
            os::delete_file(temp);
            os::set_last_error(error);
            return false;
        }
    }
    if (!os::replace_file(temp, path)) {
        const uint32_t error = os::last_error();
        os::delete_file(temp);
        os::set_last_error(error);
        return false;
    }
    return os::flush_directory(folder_of(path));
}

// The journal: one line per record, each flushed before the change it announces.
class Journal {
public:
    explicit Journal(const std::string& program_folder) : FPath(journal_path(program_folder)) {}

    void Begin(const std::string& target, const std::string& name, const std::string& new_sha,
               const std::string& old_sha) const {
        Append(target, "begin\t" + new_sha + "\t" + old_sha + "\t" + name);
    }
    void Done(const std::string& target, const std::string& name) const { Append(target, "done\t" + name); }

private:
    void Append(const std::string& target, const std::string& record) const {
        os::File file;
        const std::string line = record + "\n";
        if (!(file.open(FPath, os::FileAccess::ReadWrite, os::FileShare::Read,
                        os::FileDisposition::OpenExisting) ||
              (make_parent_folders(FPath) && file.open(FPath, os::FileAccess::ReadWrite, os::FileShare::Read,
                                                       os::FileDisposition::CreateAlways))) ||
            file.seek(0, os::SeekOrigin::End) < 0 ||
            file.write(line.data(), int64_t(line.size())) != int64_t(line.size()) || !file.flush())
            fail(target, os::last_error());
    }
    std::string FPath;
};

// The lines of the kept manifest and of the installed set: SHA-256 (or
// "absent"), size and name, separated by tabs.
std::string file_lines(const std::vector<KeptFile>& files) {
    std::string text;
    for (const KeptFile& k : files)
        text += (k.existed ? k.sha256 : std::string(kAbsent)) + "\t" + std::to_string(k.size) + "\t" +
                k.name + "\n";
    return text;
}

// The file line `parts` (split at the tabs) describes, if it is one.
std::optional<KeptFile> file_line(const std::vector<std::string>& parts) {
    if (parts.size() != 3 || parts[2].empty()) return std::nullopt;
    KeptFile k;
    k.name = parts[2];
    k.existed = parts[0] != kAbsent;
    k.sha256 = k.existed ? parts[0] : "";
    k.size = std::strtoll(parts[1].c_str(), nullptr, 10);
    return k;
}

void write_manifest(const std::string& program_folder, const std::string& target,
                    const std::vector<KeptFile>& kept) {
    if (!write_whole(manifest_path(program_folder), file_lines(kept))) fail(target, os::last_error());
}

// Keeps what `target` holds now (or that it is absent) as the kept release's `name`.
void keep(const std::string& program_folder, const std::string& target, const std::string& name,
          const std::optional<std::string>& old_sha) {
    const std::string kept = kept_file_path(program_folder, name);
    if (!make_parent_folders(kept)) fail(target, os::last_error());
    // Kept already (a change cut off after this, finished at the next start):
    // the kept file may be a link to a program running now, which Windows
    // does not let anyone delete.
    const bool kept_already = old_sha && sha_of(kept) == *old_sha;
    // A kept file may carry the read-only attribute of the file it was.
    if (!kept_already && os::file_exists(kept) && !os::delete_file(kept) &&
        !(os::set_read_only(kept, false) && os::delete_file(kept)))
        fail(target, os::last_error());
    KeptFile entry{name, false, 0, ""};
    if (kept_already) {
        entry = {name, true, int64_t(os::regular_file_size(kept).value_or(0)), *old_sha};
    } else if (old_sha) {
        if (!os::hard_link(target, kept) && !os::copy_file_durably(target, kept, target))
            fail(target, os::last_error());
        entry = {name, true, int64_t(os::regular_file_size(kept).value_or(0)), *old_sha};
    }
    std::vector<KeptFile> all = kept_release(program_folder);
    std::erase_if(all, [&](const KeptFile& k) { return k.name == name; });
    all.push_back(entry);
    std::sort(all.begin(), all.end(), [](const KeptFile& a, const KeptFile& b) { return a.name < b.name; });
    write_manifest(program_folder, target, all);
}

// Renames `temp` over `target`; a target the system will not replace while
// it is in use is renamed aside first. Returns false (last_error set) with
// `target` as it was.
bool swap_in(const std::string& temp, const std::string& target) {
    if (os::replace_file(temp, target)) return true;
    const uint32_t refused = os::last_error();
    if (!os::file_exists(target) || os::is_read_only(target)) return os::set_last_error(refused), false;
    const std::string aside = target + kAsideSuffix;
    if (os::file_exists(aside)) os::delete_file(aside);
    if (!os::move_file(target, aside)) return os::set_last_error(refused), false;
    if (os::move_file(temp, target)) return true;
    const uint32_t error = os::last_error();
    os::move_file(aside, target);
    os::set_last_error(error);
    return false;
}

// Removes what earlier runs left: files renamed aside (once their program
// has ended) and new files a crash cut before the journal knew of them.
void remove_leftovers(const std::string& folder, bool below) {
    const auto entries = os::list_directory(folder);
    if (!entries) return;
    auto ends_with = [](const std::string& s, const char* tail) {
        const std::string t(tail);
        return s.size() > t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
    };
    for (const os::DirEntry& e : *entries) {
        if (e.name == "." || e.name == ".." || e.is_link) continue;
        if (e.is_directory) {
            if (below) remove_leftovers(folder + "\\" + e.name, true);
        } else if (ends_with(e.name, kAsideSuffix) || ends_with(e.name, kNewSuffix)) {
            os::delete_file(folder + "\\" + e.name);
        }
    }
}

} // namespace

std::string kept_file_path(const std::string& program_folder, const std::string& name) {
    return kept_folder(program_folder) + "\\" + name;
}

std::vector<KeptFile> kept_release(const std::string& program_folder) {
    std::vector<KeptFile> kept;
    for (const std::string& line : lines_of(manifest_path(program_folder)))
        if (auto k = file_line(split(line, '\t'))) kept.push_back(std::move(*k));
    return kept;
}

InstalledSet installed_set(const std::string& program_folder) {
    InstalledSet set;
    for (const std::string& line : lines_of(installed_path(program_folder))) {
        const auto parts = split(line, '\t');
        if (parts.size() == 2 && parts[0] == kReleaseLine)
            set.release = parts[1];
        else if (line == kCompleteLine)
            set.complete = true;
        else if (auto k = file_line(parts))
            set.files.push_back(std::move(*k));
    }
    return set;
}

void record_installed_set(const std::string& program_folder, const InstalledSet& set) {
    std::string text;
    if (!set.release.empty()) text += std::string(kReleaseLine) + "\t" + set.release + "\n";
    text += file_lines(set.files);
    if (set.complete) text += std::string(kCompleteLine) + "\n";
    const std::string path = installed_path(program_folder);
    if (!make_parent_folders(path) || !write_whole(path, text))
        throw EPutInPlace("Cannot record the installed files in \"" + path + "\". " +
                          os::system_error_text(os::last_error()));
}

std::vector<UnfinishedChange> unfinished_changes(const std::string& program_folder) {
    std::map<std::string, UnfinishedChange> open;
    std::vector<std::string> order;
    for (const std::string& line : lines_of(journal_path(program_folder))) {
        const auto parts = split(line, '\t');
        if (parts.size() == 4 && parts[0] == "begin") {
            if (!open.count(parts[3])) order.push_back(parts[3]);
            open[parts[3]] = {parts[3], parts[1], parts[2]};
        } else if (parts.size() == 2 && parts[0] == "done") {
            open.erase(parts[1]);
        }
    }
    std::vector<UnfinishedChange> out;
    for (const std::string& name : order)
        if (auto it = open.find(name); it != open.end()) out.push_back(it->second);
    return out;
}

std::vector<Recovered> recover_unfinished(const std::string& program_folder) {
    std::vector<Recovered> done;
    for (const UnfinishedChange& c : unfinished_changes(program_folder)) {
        const std::string target = program_folder + "\\" + c.name;
        const std::string temp = target + kNewSuffix, aside = target + kAsideSuffix;
        const bool removal = c.new_sha256 == kAbsent;
        if (removal ? !os::file_exists(target) : sha_of(target) == c.new_sha256) {
            os::delete_file(temp);
            done.push_back({c.name, true});
        } else if (!removal && sha_of(temp) == c.new_sha256) {
            // The old file is kept first, as the change would have kept it
            // (again, when the crash came after that).
            if (c.old_sha256 == kAbsent)
                keep(program_folder, target, c.name, std::nullopt);
            else if (sha_of(target) == c.old_sha256)
                keep(program_folder, target, c.name, c.old_sha256);
            else if (!os::file_exists(target) && sha_of(aside) == c.old_sha256)
                keep(program_folder, aside, c.name, c.old_sha256);
            if (!(os::file_exists(target) ? swap_in(temp, target) : os::move_file(temp, target)))
                fail(target, os::last_error());
            done.push_back({c.name, true});
        } else {
            os::delete_file(temp);
            if (!os::file_exists(target) && c.old_sha256 != kAbsent) {
                const std::string kept = kept_file_path(program_folder, c.name);
                if (sha_of(aside) == c.old_sha256) {
                    if (!os::move_file(aside, target)) fail(target, os::last_error());
                } else if (sha_of(kept) == c.old_sha256) {
                    if (!os::copy_file_durably(kept, temp, kept) || !os::move_file(temp, target))
                        fail(target, os::last_error());
                } else {
                    throw EPutInPlace("Cannot put file \"" + target +
                                      "\" back: neither its new nor its old file is whole");
                }
            }
            done.push_back({c.name, false});
        }
        os::flush_directory(folder_of(target));
    }
    os::delete_file(journal_path(program_folder));
    return done;
}

TFilePlacer::TFilePlacer(std::string program_folder) : FFolder(std::move(program_folder)) {
    recover_unfinished(FFolder);
    remove_leftovers(FFolder, false);
    remove_leftovers(FFolder + "\\report", true);
}

void TFilePlacer::CheckSpace(const std::vector<std::string>& sources,
                             const std::vector<std::string>& names) const {
    uint64_t needed = 0;
    for (const std::string& s : sources)
        needed += os::regular_file_size(s).value_or(0);
    for (const std::string& n : names)
        needed += os::regular_file_size(FFolder + "\\" + n).value_or(0);
    const std::optional<uint64_t> free = os::free_space(FFolder);
    if (free && needed > *free)
        throw EPutInPlace("Not enough room in the program folder " + FFolder +
                          " for the new files and the kept ones: " + std::to_string(needed) +
                          " bytes needed, " + std::to_string(*free) + " bytes free");
}

Placed TFilePlacer::Place(const std::string& source, const std::string& name, bool keep_old, KeptFile* now) {
    const std::string target = FFolder + "\\" + name;
    if (!os::file_exists(source))
        throw EPutInPlace("Cannot put file \"" + target + "\" in place: the package holds no file \"" + name +
                          "\"");
    if (os::directory_exists(target))
        throw EPutInPlace("Cannot put file \"" + target + "\" in place: a folder of that name is in the way");
    const std::optional<std::string> new_sha = os::sha256_of_file(source);
    if (!new_sha) fail(target, os::last_error());
    if (now) *now = {name, true, int64_t(os::regular_file_size(source).value_or(0)), *new_sha};
    const std::optional<std::string> old_sha = sha_of(target);
    if (old_sha == new_sha) return Placed::Unchanged;
    if (os::file_exists(target) && !old_sha) fail(target, os::last_error());

    const std::string temp = target + kNewSuffix;
    if (!make_parent_folders(target)) fail(target, os::last_error());
    os::delete_file(temp);
    if (!os::copy_file_durably(source, temp, target)) fail(target, os::last_error());

    const Journal journal(FFolder);
    try {
        journal.Begin(target, name, *new_sha, old_sha.value_or(kAbsent));
    } catch (...) {
        os::delete_file(temp);
        throw;
    }
    try {
        if (keep_old) keep(FFolder, target, name, old_sha);
        if (!swap_in(temp, target)) fail(target, os::last_error());
        os::flush_directory(folder_of(target));
    } catch (...) {
        // The change is over only when the target holds its old file again.
        // When both the new file's rename and the old one's way back were
        // refused, there is no file under the name: the journal stays open
        // and the new file stays beside it, so the next start (or the next
        // run) finishes the change instead of taking the name as free and
        // clearing away the old file renamed aside.
        if (old_sha && !os::file_exists(target)) throw;
        os::delete_file(temp);
        journal.Done(target, name);
        throw;
    }
    journal.Done(target, name);
    return old_sha ? Placed::Replaced : Placed::Added;
}

void TFilePlacer::Remove(const std::string& name) {
    const std::string target = FFolder + "\\" + name;
    const std::optional<std::string> old_sha = sha_of(target);
    if (!old_sha) return;
    const Journal journal(FFolder);
    journal.Begin(target, name, kAbsent, *old_sha);
    if (!os::delete_file(target)) {
        const uint32_t error = os::last_error();
        journal.Done(target, name);
        fail(target, error);
    }
    journal.Done(target, name);
}

std::vector<std::string> put_kept_release_back(const std::string& program_folder) {
    const std::vector<KeptFile> kept = kept_release(program_folder);
    if (kept.empty())
        throw EPutInPlace("Nothing is kept to put back: " + kept_folder(program_folder) +
                          " holds no earlier release");
    for (const KeptFile& k : kept) {
        if (!k.existed) continue;
        const std::string path = kept_file_path(program_folder, k.name);
        if (os::regular_file_size(path) != uint64_t(k.size) || sha_of(path) != k.sha256)
            throw EPutInPlace("The kept file \"" + path +
                              "\" does not match its size and SHA-256 in the kept " +
                              "release: nothing was put back");
    }
    TFilePlacer placer(program_folder);
    std::vector<std::string> back;
    for (const KeptFile& k : kept) {
        const std::string target = program_folder + "\\" + k.name;
        if (!k.existed) {
            placer.Remove(k.name);
        } else {
            placer.Place(kept_file_path(program_folder, k.name), k.name, false);
            if (sha_of(target) != k.sha256)
                throw EPutInPlace("Cannot put file \"" + target + "\" back: it does not match the kept file");
        }
        back.push_back(k.name);
    }
    return back;
}

} // namespace kv
