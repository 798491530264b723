// Putting a file into the program folder whole or not at all, keeping the
// file it replaces, and the journal that lets a later start finish or undo a
// change that a crash interrupted.
//
// One change of a target T in the program folder goes:
//   1. the new bytes are copied to T.kvnew beside T and flushed;
//   2. the journal records "begin" with T's name and the new and old SHA-256,
//      flushed;
//   3. the old T gets a second name in the kept release (a hard link, or a
//      flushed copy where the volume has no links) and the kept manifest
//      records its size and SHA-256;
//   4. T.kvnew is renamed over T. Where the system refuses that for a file
//      in use (a running program on Windows), T is first renamed aside to
//      T.kvold, which a later run removes;
//   5. the journal records "done".
// So at every instant T is either the whole old file or the whole new one;
// only between the two renames of step 4 is there no T, and the journal
// covers that instant.
//
// The kept release keeps one previous file per name: a run that replaces the
// file again keeps the file it replaces instead. A file that was not there
// before is recorded as absent, so that putting the kept release back removes
// it. Names are relative to the program folder, with "\" between folders
// ("kuvento.exe", "report\alt\kasa.fr3").
#pragma once

#include "rtl/exception.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv {

// A file that cannot be put in place, a kept release that cannot be put back,
// or no room: the message names the file and the system's reason.
KV_EXCEPTION(EPutInPlace, Exception);

// The kept release's folder, in the program folder; the update folder's
// reset never reaches it, and the guide names it.
inline constexpr const char* kKeptReleaseFolder = "onceki-surum";

// One entry of the kept manifest: what the program folder held under `name`
// before the run that last replaced it. The installed set (below) lists its
// files the same way.
struct KeptFile {
    std::string name;
    bool existed = false;
    int64_t size = 0;
    std::string sha256;
};

// The kept manifest of the program folder, in name order; empty when nothing is kept.
std::vector<KeptFile> kept_release(const std::string& program_folder);
// The kept file's path for `name`.
std::string kept_file_path(const std::string& program_folder, const std::string& name);

// The installed set: every file the last run of the package step put in
// place, or found in place already, as it was afterwards, with the number of
// the release when the build verifies releases. It is written as the run goes
// and marked complete when the step completed, so that a run cut off leaves
// a set that says so. It sits beside the kept manifest.
struct InstalledSet {
    std::string release; // empty: a build without a release key
    bool complete = false;
    std::vector<KeptFile> files; // in the order they were put in place
};

// The installed set of the program folder; no files when none is recorded.
InstalledSet installed_set(const std::string& program_folder);
// Writes the installed set whole (beside its file, flushed, then renamed over
// it). Throws EPutInPlace with the system's reason.
void record_installed_set(const std::string& program_folder, const InstalledSet& set);

// A change the journal began and did not mark done.
struct UnfinishedChange {
    std::string name, new_sha256, old_sha256; // old "absent": there was no file
};
std::vector<UnfinishedChange> unfinished_changes(const std::string& program_folder);

// What recovery did to each unfinished change.
struct Recovered {
    std::string name;
    bool finished = false; // the new file is in place; otherwise the old one is back
};
// Finishes every unfinished change whose new file is whole beside its target,
// and undoes the others (the old file back from beside it or from the kept
// release); then clears the journal. Throws EPutInPlace when a file can be
// neither finished nor undone.
std::vector<Recovered> recover_unfinished(const std::string& program_folder);

// How a file went into place.
enum class Placed { Replaced, Added, Unchanged };

class TFilePlacer {
public:
    // Recovers what a crash left unfinished first (see recover_unfinished),
    // and removes the files earlier runs renamed aside or left half-written.
    explicit TFilePlacer(std::string program_folder);

    // Throws EPutInPlace when the new files (`sources`) and the files they
    // replace (`names`, to be kept) would not fit on the program folder's
    // volume, naming the space needed and the space free.
    void CheckSpace(const std::vector<std::string>& sources, const std::vector<std::string>& names) const;

    // Puts the file `source` into the program folder under `name` as told
    // above; with keep false (putting the kept release back) the file it
    // replaces is not kept. A target that already holds the same bytes is
    // left alone. When `now` is given, it is set to the file under `name`
    // afterwards. Throws EPutInPlace naming the target and the system's
    // reason; the target then holds what it held before.
    Placed Place(const std::string& source, const std::string& name, bool keep = true,
                 KeptFile* now = nullptr);
    // Removes `name` from the program folder (journalled the same way): for
    // putting back a kept release in which the file was absent.
    void Remove(const std::string& name);

    const std::string& ProgramFolder() const noexcept { return FFolder; }

private:
    std::string FFolder;
};

// Puts the kept release back: checks every kept file against its size and
// SHA-256 first, then puts each back through TFilePlacer (removing those that
// were absent) and checks the result. Returns the names put back. Throws
// EPutInPlace, with why, when nothing is kept or a kept file does not match
// (nothing is changed then), or when a file cannot be put back.
std::vector<std::string> put_kept_release_back(const std::string& program_folder);

} // namespace kv
