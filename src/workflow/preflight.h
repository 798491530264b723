// The pre-flight checks: would the update go through here, now? Each check
// asks the question that the step it foresees acts on, on the window that
// start-up built (its settings, its database components, its library
// choices), and changes nothing: the package check downloads and extracts
// into a temporary folder of its own and removes it. Each gives a plain
// verdict with the reason and the facts it saw; the caller prints them.
// No check throws: an error is its verdict.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv {

class TForm1;

struct CheckDetail {
    std::string key;
    std::vector<std::string> values;
    bool list = false; // a list of things, even when it holds one or none
};

// What one package on the server gave.
struct PackageFinding {
    std::string file, url;
    bool package = false; // a package, to be extracted; false for the logo, only fetched
    bool fetched = false, extracted = false;
    int64_t bytes = 0;                // downloaded
    int64_t extracted_bytes = 0;      // all items together
    std::vector<std::string> files;   // what it would put in place (the reports: every item)
    std::vector<std::string> missing; // expected files it lacks
    std::string error;
};

struct CheckResult {
    explicit CheckResult(std::string check) : name(std::move(check)) {}

    std::string name;
    bool passed = true;
    std::string reason;
    std::vector<CheckDetail> details;
    std::vector<PackageFinding> packages; // the package check only

    void fail(std::string why) {
        passed = false;
        reason = std::move(why);
    }
    void add(std::string key, std::string value) { details.push_back({std::move(key), {std::move(value)}}); }
    void add_list(std::string key, std::vector<std::string> values) {
        details.push_back({std::move(key), std::move(values), true});
    }
};

// What the checks name the files and folders they make (and remove) with,
// followed by the process id.
inline constexpr const char* kCheckFilePrefix = "kvcheck-";

// The names the checks report under.
inline constexpr const char* kCheckSettings = "settings";
inline constexpr const char* kCheckDatabase = "database";
inline constexpr const char* kCheckClientLibrary = "client library";
inline constexpr const char* kCheckArchiveLibrary = "archive library";
inline constexpr const char* kCheckPackages = "package server";
inline constexpr const char* kCheckProgramFolder = "program folder";
inline constexpr const char* kCheckFreeSpace = "free space";
inline constexpr const char* kCheckPrograms = "programs";
inline constexpr const char* kCheckKeptRelease = "kept release";

// Every check's result, each under its own name. A new check gets a member
// here, and its place in the order and its line in run_preflight (preflight.cpp).
struct PreflightReport {
    CheckResult settings{kCheckSettings};
    CheckResult database{kCheckDatabase};
    CheckResult client_library{kCheckClientLibrary};
    CheckResult archive_library{kCheckArchiveLibrary};
    CheckResult packages{kCheckPackages};
    CheckResult program_folder{kCheckProgramFolder};
    CheckResult free_space{kCheckFreeSpace};
    CheckResult programs{kCheckPrograms};
    CheckResult kept_release{kCheckKeptRelease};

    // The results in the order the update meets what they check.
    std::vector<const CheckResult*> in_order() const;
    std::vector<CheckResult*> in_order();
    // Whether every check passed: the update would go through.
    bool passed() const;
};

// Asks every check of `form`, a window that start-up built on a window
// system that records its boxes: `startup_boxes` are the texts of the boxes
// start-up showed. When start-up ended the updater (no settings file), the
// settings check fails with those texts and every other check fails as not
// checked; a box that does not end the updater (a refused UPDATE_ADRES) is
// the settings check's to explain.
PreflightReport run_preflight(TForm1& form, const std::vector<std::string>& startup_boxes);

// Items joined by `separator`, for the reasons the checks give.
std::string joined(const std::vector<std::string>& items, const char* separator = ", ");

// The settings as start-up read them into `form`, and the UPDATE_ADRES it
// refused, with why. `startup_notices` are the boxes of a start-up that
// ends the updater (the missing settings file).
CheckResult check_settings(const TForm1& form, const std::vector<std::string>& startup_notices);
// Opens the database as the database step does, reads the year marker, runs
// the 2027 schema check (workflow/schema_check.h), and counts the other
// attachments, which would make the upgrade's definitions fail. Fails when
// the marker says 2027 but the schema is not complete. The connection is
// closed again.
CheckResult check_database(TForm1& form);
// The client library the connection would load: which file, its word size
// against the updater's, its version.
CheckResult check_client_library(TForm1& form);
// 7-Zip's library: found, the updater's word size, with the RAR5 handler.
CheckResult check_archive_library(TForm1& form);
// Every package this site would fetch (and the logo), downloaded into a
// temporary folder and extracted there completely.
CheckResult check_packages(TForm1& form);
// The program folder is writable, and no file the update would replace is
// read-only or held by a program the update does not stop.
CheckResult check_program_folder(TForm1& form);
// Room for the packages and their extracted contents, as the package check
// measured them, on the update folder's volume.
CheckResult check_free_space(const TForm1& form, const CheckResult& packages);
// The kept release (the files the last update replaced) and whether each
// kept file is whole; whether the program folder holds one whole release
// (the last run's installed set, that run completed, or the kept set) or a
// mix, which fails; and a change a crash left unfinished, which the next
// start finishes or undoes.
CheckResult check_kept_release();
// The product's programs running now (the update stops them).
CheckResult check_programs_running();

} // namespace kv
