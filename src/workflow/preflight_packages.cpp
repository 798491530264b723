// The package server check: every package this site would fetch, and the
// logo, downloaded into a temporary folder of the check's own and extracted
// there completely, through the same HTTP client and archive reader the
// package step uses; then the folder is removed.
#include "workflow/preflight.h"

#include "app/form1.h"
#include "archive/seven_zip.h"
#include "platform/disk.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "release/verification.h"
#include "workflow/packages.h"

#include <algorithm>
#include <chrono>

namespace kv {
namespace {

int64_t size_of(const std::string& path) {
    os::File file;
    if (!file.open(path, os::FileAccess::Read, os::FileShare::All, os::FileDisposition::OpenExisting))
        return 0;
    return std::max<int64_t>(file.seek(0, os::SeekOrigin::End), 0);
}

// Every file below `folder`, as "/"-separated paths relative to it, with
// their total size. Links are not followed.
void list_files(const std::string& folder, const std::string& prefix, std::vector<std::string>& files,
                int64_t& bytes) {
    for (const os::DirEntry& e : os::list_directory(folder).value_or(std::vector<os::DirEntry>{})) {
        if (e.name == "." || e.name == ".." || e.is_link) continue;
        if (e.is_directory) {
            list_files(folder + "\\" + e.name, prefix + e.name + "/", files, bytes);
        } else {
            files.push_back(prefix + e.name);
            bytes += size_of(folder + "\\" + e.name);
        }
    }
}

std::string current_error() {
    return innermost_message(std::current_exception());
}

class PackageProbe {
public:
    PackageProbe(TForm1& form, std::string folder) : FForm(form), FFolder(std::move(folder)) {
        const std::string name = seven_zip_library(form.Config.ArchiveLibrary);
        const std::string file = seven_zip_library_file(name, os::current_directory());
        try {
            FArchive = CreateInArchive(CLSID_CFormatRar5, file.empty() ? name : file);
        } catch (...) {
            FArchiveError = current_error();
        }
    }

    PackageFinding fetch(const std::string& file, const std::string& url) {
        PackageFinding f;
        f.file = file;
        f.url = url;
        const std::string target = FFolder + "\\" + file;
        try {
            TFileStream stream(target, fmCreate);
            FHttp.Get(url, &stream);
            f.fetched = true;
        } catch (...) {
            f.error = current_error();
        }
        f.bytes = size_of(target);
        return f;
    }

    PackageFinding check(const PackagePlan& plan) {
        PackageFinding f = fetch(plan.file, FForm.Settings().UpdateBaseUrl + plan.file);
        f.package = true;
        if (!f.fetched) return f;
        if (!FArchive) {
            f.error = FArchiveError;
            return f;
        }
        const std::string into = FFolder + "\\" + plan.file + ".items";
        os::create_directory(into);
        try {
            FArchive->OpenFile(FFolder + "\\" + plan.file);
            FArchive->ExtractTo(into);
            FArchive->Close();
            f.extracted = true;
        } catch (...) {
            f.error = current_error();
            FArchive->Close();
        }
        std::vector<std::string> items;
        list_files(into, "", items, f.extracted_bytes);
        std::sort(items.begin(), items.end());
        if (plan.unpacked_in_place) {
            f.files = items;
            return f;
        }
        for (const std::string& expected : plan.puts_in_place)
            (std::find(items.begin(), items.end(), expected) != items.end() ? f.files : f.missing)
                .push_back(expected);
        return f;
    }

private:
    TForm1& FForm;
    std::string FFolder;
    TNetHTTP FHttp;
    RefPtr<I7zInArchive> FArchive;
    std::string FArchiveError;
};

} // namespace

CheckResult check_packages(TForm1& form) {
    CheckResult r{kCheckPackages};
    // The process id alone repeats across process namespaces (and containers).
    const std::string folder = os::temp_directory() + "\\" + kCheckFilePrefix +
                               std::to_string(os::current_process_id()) + "-" +
                               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    if (!os::create_directory(folder)) {
        r.fail("cannot make a temporary folder " + folder + ": " + os::system_error_text(os::last_error()));
        return r;
    }
    r.add("server", "http://" + form.Config.PackageHost);
    // A build without a release key installs whatever the server hands out.
    r.add("releases", form.Config.ReleasePublicKey.empty() ? "not verified: this build carries no release key"
                                                           : "verified against the signed release manifest");
    // Releases only go forward from the highest one installed here.
    const std::string installed = InstalledRelease();
    r.add("installed release", installed.empty() ? "none recorded" : installed);
    // The release the server hands out, verified and held against the site's
    // record as the package step would: a release the step would refuse
    // fails the check.
    std::string release_refused;
    if (!form.Config.ReleasePublicKey.empty()) {
        try {
            TNetHTTP http;
            const release::Release served =
                release::Release::fetch(form.Settings().UpdateBaseUrl, form.Config.ReleasePublicKey,
                                        [&](const std::string& url, TStream& into) { http.Get(url, &into); });
            const auto& info = served.manifest().info();
            if (info) {
                r.add("server release",
                      info->number + ", signed " + release::format_utc_time(info->signed_at) +
                          (info->valid_until ? ", valid until " + release::format_utc_time(*info->valid_until)
                                             : std::string()));
            }
            release::check_goes_forward(served.manifest(), installed,
                                        std::chrono::duration_cast<std::chrono::seconds>(
                                            std::chrono::system_clock::now().time_since_epoch())
                                            .count());
        } catch (...) {
            release_refused = "release: " + current_error();
        }
    }
    {
        PackageProbe probe(form, folder);
        r.packages.push_back(
            probe.fetch("logo1024.png", "http://" + form.Config.PackageHost + "/logo1024.png"));
        for (const PackagePlan& plan : packages_for_site(form.Settings(), os::current_directory()))
            r.packages.push_back(probe.check(plan));
    }
    form.DeleteDirectory(folder);

    // One error for every download (a server that does not answer) is said once.
    std::vector<std::pair<std::string, std::vector<std::string>>> errors;
    std::vector<std::string> problems;
    for (const PackageFinding& p : r.packages) {
        if (!p.error.empty()) {
            auto same =
                std::find_if(errors.begin(), errors.end(), [&](auto& e) { return e.first == p.error; });
            if (same == errors.end()) same = errors.insert(errors.end(), {p.error, {}});
            same->second.push_back(p.file);
        } else if (!p.missing.empty()) {
            problems.push_back(p.file + " lacks " + joined(p.missing));
        }
    }
    for (auto it = errors.rbegin(); it != errors.rend(); ++it)
        problems.insert(problems.begin(), joined(it->second) + ": " + it->first);
    if (!release_refused.empty()) problems.insert(problems.begin(), release_refused);
    if (!problems.empty())
        r.fail(joined(problems, "; "));
    else
        r.reason = std::to_string(r.packages.size()) + " downloads, each whole and complete";
    return r;
}

} // namespace kv
