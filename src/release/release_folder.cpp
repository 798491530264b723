// A release folder on the vendor's side (see release_folder.h).
#include "release/release_folder.h"

#include "platform/files.h"

namespace kv::release {
namespace {

std::string manifest_path() {
    return std::string(kReleaseFolder) + kManifestName;
}
std::string signature_path() {
    return std::string(kReleaseFolder) + kSignatureName;
}

// The manifest or its signature; `what` names it in the error.
std::string read_release_file(const std::string& what, const std::string& name) {
    try {
        TFileStream f(name, fmOpenRead | fmShareDenyWrite);
        std::string bytes(static_cast<size_t>(f.Size()), '\0');
        f.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
        return bytes;
    } catch (const EStreamError& e) {
        throw EReleaseError(what + " alınamadı: " + e.Message());
    }
}

void write_file(const std::string& name, std::string_view bytes) {
    TFileStream f(name, fmCreate);
    f.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

// Links are followed as the server follows them; a folder that cannot be
// listed is an error, so that no file goes unlisted unnoticed.
void add_files(Manifest& manifest, const std::string& folder, const std::string& path) {
    const std::string here = file_in_folder(folder, path);
    auto entries = os::list_directory(here);
    if (!entries)
        throw EReleaseError("Klasör okunamadı: " + here + ": " + os::system_error_text(os::last_error()));
    for (const os::DirEntry& e : *entries) {
        if (e.name == "." || e.name == "..") continue;
        std::string server = path + "/" + e.name;
        std::string local = file_in_folder(folder, server);
        if (os::directory_exists(local)) {
            add_files(manifest, folder, server);
        } else if (server != manifest_path() && server != signature_path()) {
            FileDigest d = digest_file(local);
            manifest.add({server, d.size, d.sha256});
        }
    }
}

} // namespace

std::string file_in_folder(const std::string& folder, std::string_view path) {
    std::string name = folder;
    for (char c : path)
        name += c == '/' ? '\\' : c;
    return name;
}

Manifest describe_folder(const std::string& folder) {
    Manifest manifest;
    add_files(manifest, folder, "");
    return manifest;
}

Manifest sign_folder(const std::string& folder, std::string_view private_key_pem, const ReleaseInfo& info) {
    if (!os::can_sign_ecdsa_p256())
        throw EReleaseError("Bu yapı sürüm imzalayamaz: sürümü Linux'taki kvtool ile imzalayın");
    Manifest manifest = describe_folder(folder);
    manifest.set_info(info);
    std::string text = manifest.text();
    auto signature = os::sign_ecdsa_p256(private_key_pem, text);
    if (!signature)
        throw EReleaseError("İmza anahtarı okunamadı: şifresiz ECDSA P-256 özel anahtarı (PEM) değil");
    write_file(file_in_folder(folder, manifest_path()), text);
    write_file(file_in_folder(folder, signature_path()), *signature);
    return Manifest::parse(text);
}

Release read_folder_release(const std::string& folder, std::string_view public_key_pem) {
    std::string manifest = file_in_folder(folder, manifest_path());
    return Release::verified(public_key_pem, read_release_file("Sürüm listesi", manifest),
                             read_release_file("Sürüm imzası", file_in_folder(folder, signature_path())),
                             manifest);
}

} // namespace kv::release
