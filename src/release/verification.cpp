// Checking a signed release (see verification.h).
#include "release/verification.h"

#include <vector>

namespace kv::release {
namespace {

// kBuiltInKey: the PEM text of the build setting KV_RELEASE_PUBLIC_KEY, or empty.
#include "release_key.inc"

// A manifest lists a few dozen files and a signature is some 70 bytes: a
// server that sends more is not serving a release, and must not fill memory.
constexpr int64_t kManifestLimit = 1 << 20;
constexpr int64_t kSignatureLimit = 1 << 10;

class BoundedMemoryStream : public TMemoryStream {
public:
    BoundedMemoryStream(int64_t limit, std::string url) : FLimit(limit), FUrl(std::move(url)) {}
    int64_t Write(const void* buffer, int64_t count) override {
        if (Position() + count > FLimit)
            throw EReleaseError(FUrl + " " + std::to_string(FLimit) +
                                " bayttan büyük: bir sürüm dosyası değil");
        return TMemoryStream::Write(buffer, count);
    }

private:
    int64_t FLimit;
    std::string FUrl;
};

// The bytes at url; a failed fetch is reported with what was being fetched.
std::string fetch_small(const Fetch& fetch, const std::string& what, const std::string& url, int64_t limit) {
    BoundedMemoryStream into(limit, url);
    try {
        fetch(url, into);
    } catch (const EAbort&) {
        throw;
    } catch (const EReleaseError&) {
        throw;
    } catch (const Exception& e) {
        throw EReleaseError(what + " alınamadı: " + url + ": " + e.Message());
    }
    return std::string(into.View());
}

os::Sha256Digest hash_to_end(TStream& stream) {
    std::vector<char> buffer(1 << 16);
    os::Sha256 hash;
    while (int64_t n = stream.Read(buffer.data(), static_cast<int64_t>(buffer.size())))
        hash.update(buffer.data(), static_cast<size_t>(n));
    return hash.finish();
}

} // namespace

std::string_view built_in_public_key() {
    return kBuiltInKey;
}

Release Release::verified(std::string_view public_key_pem, std::string_view manifest_text,
                          std::string_view signature, const std::string& source) {
    auto key = os::EcdsaP256PublicKey::from_pem(public_key_pem);
    if (!key) throw EReleaseError("Sürüm anahtarı okunamadı: ECDSA P-256 açık anahtarı (PEM) değil");
    if (!key->verify(manifest_text, signature))
        throw EReleaseError("Sürüm listesinin imzası geçersiz: " + source +
                            " bu sürümün anahtarıyla imzalanmamış ya da imzadan sonra değişmiş");
    Release release;
    try {
        release.FManifest = Manifest::parse(manifest_text);
    } catch (const EReleaseError& e) {
        throw EReleaseError(source + ": " + e.Message());
    }
    return release;
}

Release Release::fetch(const std::string& base_url, std::string_view public_key_pem, const Fetch& fetch) {
    const std::string manifest_url = base_url + kManifestName;
    std::string manifest = fetch_small(fetch, "Sürüm listesi", manifest_url, kManifestLimit);
    std::string signature = fetch_small(fetch, "Sürüm imzası", base_url + kSignatureName, kSignatureLimit);
    return verified(public_key_pem, manifest, signature, manifest_url);
}

const ManifestEntry& Release::entry(std::string_view path) const {
    const ManifestEntry* e = FManifest.find(path);
    if (!e) throw EReleaseError(std::string(path) + " sürüm listesinde yok: bu sürümün dosyası değil");
    return *e;
}

void Release::check_file(std::string_view path, const std::string& file_name) const {
    const ManifestEntry& e = entry(path);
    TFileStream file(file_name, fmOpenRead | fmShareDenyWrite);
    check_size(path, e, file.Size());
    check_digest(path, e, hash_to_end(file));
}

void Release::check(std::string_view path, int64_t size, const os::Sha256Digest& digest) const {
    const ManifestEntry& e = entry(path);
    check_size(path, e, size);
    check_digest(path, e, digest);
}

void Release::check_size(std::string_view path, const ManifestEntry& e, int64_t size) {
    if (size != e.size)
        throw EReleaseError(std::string(path) + " boyutu sürüm listesindekinden farklı: " +
                            std::to_string(size) + " bayt, beklenen " + std::to_string(e.size) + " bayt");
}

void Release::check_digest(std::string_view path, const ManifestEntry& e, const os::Sha256Digest& digest) {
    if (digest != e.sha256)
        throw EReleaseError(std::string(path) + " SHA-256 özeti sürüm listesindekinden farklı: " +
                            to_hex(digest) + ", beklenen " + to_hex(e.sha256));
}

void check_goes_forward(const Manifest& manifest, std::string_view installed, int64_t now) {
    const auto& info = manifest.info();
    if (!info)
        throw EReleaseError("Sürüm listesinde sürüm numarası ve imza zamanı yok: bu program yalnızca "
                            "numaralı sürümleri kurar");
    if (!installed.empty() && valid_release_number(installed) &&
        compare_release_numbers(info->number, installed) < 0)
        throw EReleaseError("Sunucudaki sürüm " + info->number + ", bu sitede kurulu olan " +
                            std::string(installed) + " sürümünden eski: eski bir sürüm kurulmaz");
    if (info->valid_until && now > *info->valid_until)
        throw EReleaseError("Sunucudaki sürüm " + info->number + " en geç " +
                            format_utc_time(*info->valid_until) +
                            " tarihine kadar kurulabilirdi; bu bilgisayarın saatine göre şimdi " +
                            format_utc_time(now) + ": süresi geçmiş bir sürüm kurulmaz");
}

std::string server_path(std::string_view url) {
    auto scheme = url.find("://");
    std::string_view rest = scheme == std::string_view::npos ? url : url.substr(scheme + 3);
    auto slash = rest.find('/');
    return slash == std::string_view::npos ? "/" : std::string(rest.substr(slash));
}

int64_t DigestStream::Write(const void* buffer, int64_t count) {
    FHash.update(buffer, static_cast<size_t>(count));
    FSize += count;
    return count;
}

// The HTTP client asks where it is and sizes a file ahead; both are fine as
// long as nothing moves back over bytes already hashed.
void DigestStream::SetSize(int64_t) {}

int64_t DigestStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t target = origin == TSeekOrigin::soBeginning ? offset : FSize + offset;
    if (target != FSize) throw EStreamError("A digest stream cannot seek");
    return FSize;
}

FileDigest digest_file(const std::string& file_name) {
    TFileStream file(file_name, fmOpenRead | fmShareDenyWrite);
    FileDigest out;
    out.size = file.Size();
    out.sha256 = hash_to_end(file);
    return out;
}

} // namespace kv::release
