// Signed releases in the package step: the manifest is fetched and its
// signature checked before the update folder is reset, and each download is
// checked against its line before it is opened, extracted or left in place.
// A window without a release key checks nothing, as before signed releases.
#include "app/form1.h"

namespace kv {

void TForm1::FetchRelease() {
    FRelease.reset();
    if (Config.ReleasePublicKey.empty()) return;
    FRelease =
        release::Release::fetch(FSettings.UpdateBaseUrl, Config.ReleasePublicKey,
                                [this](const std::string& url, TStream& into) { NetHTTP1.Get(url, &into); });
}

void TForm1::CheckDownload(const std::string& url, const std::string& dosya) {
    if (FRelease) FRelease->check_file(release::server_path(url), dosya);
}

} // namespace kv
