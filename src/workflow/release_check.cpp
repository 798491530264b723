// Signed releases in the package step: the manifest is fetched and its
// signature checked before the update folder is reset, and each download is
// checked against its line before it is opened, extracted or left in place.
// A window without a release key checks nothing, as before signed releases.
//
// Releases only go forward: the highest release number installed at the site
// is kept beside the kept release (release::kInstalledReleaseFile in
// kKeptReleaseFolder), written as the first file of a release is put in
// place, and a release with a lower number, or past its "valid until" by the
// site's clock, is refused. Builds before the kept release wrote the record
// in the program folder itself: it is still read there, and the higher of the
// two counts.
#include "app/form1.h"
#include "platform/files.h"
#include "rtl/stream.h"
#include "rtl/text.h"
#include "workflow/put_in_place.h"

#include <algorithm>
#include <chrono>

namespace kv {
namespace {

std::string kept_folder() {
    return os::current_directory() + "\\" + kKeptReleaseFolder;
}
std::string installed_release_path() {
    return kept_folder() + "\\" + release::kInstalledReleaseFile;
}
// Where builds before the kept release kept the record.
std::string earlier_installed_release_path() {
    return os::current_directory() + "\\" + release::kInstalledReleaseFile;
}

// The release number the file at `path` records, or empty.
std::string recorded_release(const std::string& path) {
    if (!os::file_exists(path)) return {};
    std::string text;
    try {
        TFileStream file(path, fmOpenRead | fmShareDenyWrite);
        text.resize(static_cast<size_t>(std::min<int64_t>(file.Size(), 256)));
        file.ReadBuffer(text.data(), static_cast<int64_t>(text.size()));
    } catch (const Exception&) {
        return {};
    }
    text = trim(text.substr(0, text.find('\n')));
    return release::valid_release_number(text) ? text : std::string();
}

int64_t now_utc() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

std::string InstalledRelease() {
    const std::string kept = recorded_release(installed_release_path());
    const std::string earlier = recorded_release(earlier_installed_release_path());
    if (kept.empty()) return earlier;
    if (earlier.empty()) return kept;
    return release::compare_release_numbers(earlier, kept) > 0 ? earlier : kept;
}

std::string TForm1::VerifiedReleaseNumber() const {
    return FRelease ? FRelease->manifest().info()->number : std::string();
}

void TForm1::RecordInstalledRelease() {
    if (!FRelease || FReleaseRecorded) return;
    FReleaseRecorded = true;
    const std::string number = VerifiedReleaseNumber();
    const std::string before = InstalledRelease();
    if (!before.empty() && release::compare_release_numbers(number, before) <= 0) return;
    const std::string path = installed_release_path(), partial = path + ".part";
    bool written = false;
    try {
        if (!os::directory_exists(kept_folder())) os::create_directory(kept_folder());
        TFileStream file(partial, fmCreate);
        const std::string line = number + "\n";
        file.WriteBuffer(line.data(), static_cast<int64_t>(line.size()));
        written = true;
    } catch (const Exception&) {
        // reported below with the system's reason
    }
    if (written && os::replace_file(partial, path)) {
        Log().Release("release " + number + " recorded as installed at this site (it was " +
                      (before.empty() ? std::string("none") : before) + ")");
    } else {
        os::delete_file(partial);
        Log().Release("release " + number + " could not be recorded in " + path + ": " +
                      os::system_error_text(os::last_error()));
    }
}

void TForm1::FetchRelease() {
    FRelease.reset();
    if (Config.ReleasePublicKey.empty()) {
        Log().Release("not verified: this program was built without a release key");
        return;
    }
    const std::string manifest = FSettings.UpdateBaseUrl + release::kManifestName;
    FReleaseRecorded = false;
    const std::string installed = InstalledRelease();
    try {
        release::Release fetched = release::Release::fetch(
            FSettings.UpdateBaseUrl, Config.ReleasePublicKey, [this](const std::string& url, TStream& into) {
                // Tried again on a busy server or a cut line, as the packages are.
                TNetDownload download(NetHTTP1, Config.DownloadRetry);
                download.OnTry = [&](const TNetDownloadTry& t) {
                    Log().DownloadTry(url, t.Number, t.Cause, t.Kept, t.WaitMs);
                };
                download.Wait = [this](int ms) { WaitPumping(ms); };
                download.Get(url, into);
            });
        release::check_goes_forward(fetched.manifest(), installed, now_utc());
        FRelease = std::move(fetched);
    } catch (const release::EReleaseError& e) {
        Log().Release(manifest + " refused: " + e.Message() + " (installed at this site: " +
                      (installed.empty() ? std::string("none recorded") : installed) + ")");
        throw;
    }
    const auto& info = *FRelease->manifest().info();
    Log().Release(
        manifest + " verified: release " + info.number + ", signed " +
        release::format_utc_time(info.signed_at) +
        (info.valid_until ? ", valid until " + release::format_utc_time(*info.valid_until) : "") +
        " (installed at this site: " + (installed.empty() ? std::string("none recorded") : installed) +
        "); its signature holds; " + std::to_string(FRelease->manifest().entries().size()) +
        " files listed, each download is checked against it");
}

void TForm1::CheckDownload(const std::string& url, const std::string& dosya) {
    if (FRelease) FRelease->check_file(release::server_path(url), dosya);
}

} // namespace kv
