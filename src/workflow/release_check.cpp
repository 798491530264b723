// Signed releases in the package step: the manifest is fetched and its
// signature checked before the update folder is reset, and each download is
// checked against its line before it is opened, extracted or left in place.
// A window without a release key checks nothing, as before signed releases.
#include "app/form1.h"

namespace kv {

void TForm1::FetchRelease() {
    FRelease.reset();
    if (Config.ReleasePublicKey.empty()) {
        Log().Release("not verified: this program was built without a release key");
        return;
    }
    const std::string manifest = FSettings.UpdateBaseUrl + release::kManifestName;
    try {
        FRelease = release::Release::fetch(
            FSettings.UpdateBaseUrl, Config.ReleasePublicKey,
            [this](const std::string& url, TStream& into) { NetHTTP1.Get(url, &into); });
    } catch (const release::EReleaseError& e) {
        Log().Release(manifest + " refused: " + e.Message());
        throw;
    }
    Log().Release(manifest + " verified: its signature holds; " +
                  std::to_string(FRelease->manifest().entries().size()) +
                  " files listed, each download is checked against it");
}

void TForm1::CheckDownload(const std::string& url, const std::string& dosya) {
    if (FRelease) FRelease->check_file(release::server_path(url), dosya);
}

} // namespace kv
