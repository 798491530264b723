// The pre-flight checks of the settings, the database, the two libraries, the
// program folder, the room on the disk and the running programs. The package
// check has a file of its own (preflight_packages.cpp).
#include "workflow/preflight.h"

#include "app/form1.h"
#include "archive/seven_zip.h"
#include "db/fb_client.h"
#include "platform/disk.h"
#include "platform/files.h"
#include "platform/library_file.h"
#include "platform/processes.h"
#include "workflow/packages.h"
#include "workflow/schema_check.h"
#include "workflow/site_database.h"
#include "workflow/task_killer.h"

#include <algorithm>

namespace kv {
namespace {

std::string bits_text(int bits) {
    return bits ? std::to_string(bits) + "-bit" : std::string("not a program library");
}

std::string current_error() {
    return innermost_message(std::current_exception());
}

// The word size of the library file against the updater's; false (with the
// verdict) when it could not be loaded into the updater at all.
bool fits_the_updater(CheckResult& r, const std::string& file) {
    const int bits = os::image_bits(file);
    r.add("file", file);
    r.add("build", bits_text(bits));
    r.add("updater", bits_text(os::program_bits()));
    if (bits == os::program_bits()) return true;
    r.fail(file + " is " + (bits ? "a " + bits_text(bits) + " build" : "not a program library") +
           "; the updater is " + bits_text(os::program_bits()) + " and cannot load it");
    return false;
}

bool program_is_running(const std::vector<os::ProcessEntry>& processes, std::string_view name) {
    return std::any_of(processes.begin(), processes.end(),
                       [&](const os::ProcessEntry& p) { return ProcessNameMatches(p.exe_file, name); });
}

bool stopped_by_the_update(std::string_view name) {
    return std::any_of(std::begin(kProductPrograms), std::end(kProductPrograms),
                       [&](const char* p) { return ProcessNameMatches(name, p); });
}

} // namespace

std::string joined(const std::vector<std::string>& items, const char* separator) {
    std::string out;
    for (const std::string& item : items)
        out += (out.empty() ? "" : separator) + item;
    return out;
}

CheckResult check_settings(const TForm1& form, const std::vector<std::string>& startup_notices) {
    CheckResult r{kCheckSettings};
    if (!startup_notices.empty()) {
        r.fail(joined(startup_notices, " "));
        return r;
    }
    const SiteSettings& s = form.Settings();
    r.add("UpdateBaseUrl", s.UpdateBaseUrl);
    r.add("ServerAddress", s.ServerAddress);
    r.add("ApplicationPath", s.ApplicationPath);
    r.add("DatabasePath", s.DatabasePath);
    r.add("ReportPath", s.ReportPath);
    r.add("UpdateFolder", s.UpdateFolder);
    // Start-up keeps its default folder for a value the guard refuses.
    if (const auto& refused = form.UpdateFolderRefused()) {
        r.add("refused UPDATE_ADRES", refused->value);
        r.fail("UPDATE_ADRES \"" + refused->value + "\" is refused: it " + refusal_reason(refused->why) +
               ", so emptying it would delete what the site keeps there; the update would use " +
               s.UpdateFolder + " instead");
        return r;
    }
    r.reason = "kvayarlar.ini read; the update folder is " + s.UpdateFolder;
    return r;
}

CheckResult check_database(TForm1& form) {
    CheckResult r{kCheckDatabase};
    const std::string& server = form.ibdb1.Server();
    r.add("connection", server.empty() ? form.ibdb1.Database() : server + ":" + form.ibdb1.Database());
    try {
        form.ibdb1.Open();
        const Variant marker = read_year_marker(form.uq1);
        const bool upgrades = !marker_is_upgraded(marker);
        r.add("year marker", display_text(marker));
        r.add("upgrade", upgrades ? "would run" : "would not run: the marker already says 2027");
        form.uq1.Close();
        const std::vector<std::string> missing = missing_2027_objects(form.ibdb1);
        if (missing.empty())
            r.add("schema", "2027 complete");
        else
            r.add_list("schema: 2027 lacks", missing);
        const std::vector<std::string> others = other_attachments(form.uq1);
        r.add_list("other attachments", others);
        if (!upgrades && !missing.empty())
            r.fail("the marker says 2027 but the 2027 schema lacks " + std::to_string(missing.size()) +
                   " object(s); the update would not make them");
        else if (!others.empty() && upgrades)
            r.fail(std::to_string(others.size()) + " other attachment(s) hold the database; the upgrade's "
                                                   "definitions would fail while they stay");
        else
            r.reason =
                upgrades ? "reachable; the upgrade would run" : "reachable; the upgrade is already done";
    } catch (...) {
        r.fail(current_error());
    }
    try {
        form.uq1.Close();
        form.ibdb1.Close();
    } catch (...) {
    }
    return r;
}

CheckResult check_client_library(TForm1& form) {
    CheckResult r{kCheckClientLibrary};
    const ClientLibraryChoice choice = choose_client_library(form.Settings().DatabasePath);
    const std::vector<std::string> names = form.Config.DbClientLibrary.empty()
                                               ? std::vector<std::string>{choice.preferred, choice.fallback}
                                               : std::vector<std::string>{form.Config.DbClientLibrary};
    std::string file;
    for (const std::string& name : names)
        if (file.empty()) file = os::library_file(name, os::current_directory(), nullptr);
    if (file.empty()) {
        r.fail(joined(names, " or ") + " not found in the program folder or where the system looks");
        return r;
    }
    if (!fits_the_updater(r, file)) return r;
    try {
        const auto client = TFbClientList::Get(file, choice);
        r.add("version", client->VersionText());
        r.reason = client->VersionText() + ", " + bits_text(os::image_bits(file));
    } catch (...) {
        r.fail(current_error());
    }
    return r;
}

CheckResult check_archive_library(TForm1& form) {
    CheckResult r{kCheckArchiveLibrary};
    const std::string name = seven_zip_library(form.Config.ArchiveLibrary);
    const std::string file = seven_zip_library_file(name, os::current_directory());
    if (file.empty()) {
        r.fail(name + " not found in the program folder or where the system looks");
        return r;
    }
    if (!fits_the_updater(r, file)) return r;
    try {
        CreateHandler(*CreateInArchive(CLSID_CFormatRar5, file));
        r.add("handler", "RAR5");
        r.reason = "loads, with the RAR5 handler";
    } catch (...) {
        r.fail(current_error());
    }
    return r;
}

CheckResult check_program_folder(TForm1& form) {
    CheckResult r{kCheckProgramFolder};
    const std::string work = os::current_directory();
    r.add("folder", work);
    const std::string probe =
        work + "\\" + kCheckFilePrefix + std::to_string(os::current_process_id()) + ".tmp";
    os::File file;
    if (!file.open(probe, os::FileAccess::Write, os::FileShare::None, os::FileDisposition::CreateAlways)) {
        r.fail("cannot write in " + work + ": " + os::system_error_text(os::last_error()));
        return r;
    }
    file.close();
    os::delete_file(probe);

    std::vector<std::string> targets{"logo1024.png"};
    for (const PackagePlan& p : packages_for_site(form.Settings(), work))
        targets.insert(targets.end(), p.puts_in_place.begin(), p.puts_in_place.end());
    const auto entries = os::list_directory(work).value_or(std::vector<os::DirEntry>{});
    const auto processes = os::list_processes().value_or(std::vector<os::ProcessEntry>{});
    std::vector<std::string> replaced, blocked;
    for (const std::string& name : targets) {
        const std::string path = work + "\\" + name;
        if (!os::file_exists(path)) continue;
        replaced.push_back(name);
        const auto entry =
            std::find_if(entries.begin(), entries.end(), [&](auto& e) { return e.name == name; });
        if (entry != entries.end() && entry->read_only) {
            blocked.push_back(name + ": read-only");
            continue;
        }
        if (file.open(path, os::FileAccess::Write, os::FileShare::None, os::FileDisposition::OpenExisting)) {
            file.close();
            continue;
        }
        const std::string why = os::system_error_text(os::last_error());
        if (!(stopped_by_the_update(name) && program_is_running(processes, name)))
            blocked.push_back(name + ": " + why);
    }
    r.add_list("would be replaced", replaced);
    r.add_list("cannot be replaced", blocked);
    if (!blocked.empty())
        r.fail(joined(blocked, "; "));
    else
        r.reason = "writable; " + std::to_string(replaced.size()) + " file(s) would be replaced";
    return r;
}

CheckResult check_free_space(const TForm1& form, const CheckResult& packages) {
    CheckResult r{kCheckFreeSpace};
    int64_t needed = 0;
    for (const PackageFinding& p : packages.packages)
        needed += p.bytes + p.extracted_bytes;
    const std::string& update = form.Settings().UpdateFolder;
    const std::string folder = os::directory_exists(update) ? update : os::current_directory();
    const auto free = os::free_space(folder);
    r.add("folder", folder);
    r.add("needed", std::to_string(needed));
    if (!free) {
        r.fail("the free space of " + folder + " cannot be read: " + os::system_error_text(os::last_error()));
        return r;
    }
    r.add("free", std::to_string(*free));
    if (uint64_t(needed) > *free)
        r.fail(std::to_string(needed) + " bytes needed, " + std::to_string(*free) + " free");
    else
        r.reason = std::to_string(*free) + " bytes free, " + std::to_string(needed) + " needed" +
                   (packages.passed ? "" : " (packages that failed not counted)");
    return r;
}

CheckResult check_programs_running() {
    CheckResult r{kCheckPrograms};
    std::vector<std::string> running;
    for (const os::ProcessEntry& p : os::list_processes().value_or(std::vector<os::ProcessEntry>{}))
        for (const char* name : kProductPrograms)
            if (ProcessNameMatches(p.exe_file, name))
                running.push_back(p.exe_file + ", process " + std::to_string(p.id));
    r.add_list("running", running);
    r.reason = running.empty() ? "none of the product's programs runs"
                               : std::to_string(running.size()) + " running; the update stops them first";
    return r;
}

namespace {
template <class Report> auto ordered(Report& r) {
    return std::vector{&r.settings,       &r.database,   &r.client_library, &r.archive_library, &r.packages,
                       &r.program_folder, &r.free_space, &r.programs,       &r.kept_release};
}
} // namespace

std::vector<const CheckResult*> PreflightReport::in_order() const {
    return ordered(*this);
}
std::vector<CheckResult*> PreflightReport::in_order() {
    return ordered(*this);
}

bool PreflightReport::passed() const {
    const auto all = in_order();
    return std::all_of(all.begin(), all.end(), [](const CheckResult* r) { return r->passed; });
}

PreflightReport run_preflight(TForm1& form, const std::vector<std::string>& startup_boxes) {
    PreflightReport report;
    const std::vector<std::string> ending =
        form.Application.Terminated() ? startup_boxes : std::vector<std::string>{};
    report.settings = check_settings(form, ending);
    if (!ending.empty()) {
        // Without settings the updater ends at start-up: nothing further to foresee.
        for (CheckResult* r : report.in_order())
            if (r != &report.settings) r->fail("not checked: the updater would end at start-up");
        return report;
    }
    report.database = check_database(form);
    report.client_library = check_client_library(form);
    report.archive_library = check_archive_library(form);
    report.packages = check_packages(form);
    report.program_folder = check_program_folder(form);
    report.free_space = check_free_space(form, report.packages);
    report.programs = check_programs_running();
    report.kept_release = check_kept_release();
    return report;
}

} // namespace kv
