// The package host for tests (see package_server.h).
#include "package_server.h"

namespace kv::test {
namespace {

// The root must hold its files before nginx serves it.
const std::filesystem::path& with_packages(const ScratchDir& root, const std::string& program) {
    std::filesystem::create_directories(root.path() / "2027");
    write_file(utf8(root.path() / "logo1024.png"), kServedLogo);
    auto serve = [&](const char* name, const std::vector<Rar5Item>& items) {
        write_file(utf8(root.path() / "2027" / name), rar5_archive(items));
    };
    serve("kuvento.rar", {{"kuvento.exe", program}});
    serve("telvano.rar", {{"telvano.exe", program}, {"kvbck.exe", program}});
    serve("report.rar", {{"satis.fr3", kServedReport}, {"alt/kasa.fr3", kServedNestedReport}});
    serve("dorvika.rar", {{"dorvika.exe", program}});
    std::vector<Rar5Item> libraries;
    for (const char* l : kServedLibraries)
        libraries.push_back({l, served_library(l)});
    serve("dll.rar", libraries);
    return root.path();
}

} // namespace

const char* const kServedLibraries[10] = {"fbclient.dll", "gds32.dll",   "libcrypto-1_1.dll", "libeay32.dll",
                                          "libmysql.dll", "libssh2.dll", "libssl-1_1.dll",    "midas.dll",
                                          "ssleay.dll",   "ssleay32.dll"};

std::string served_library(const std::string& name) {
    return "library 2027 " + name;
}

PackageServer::PackageServer(const std::string& program) : FNginx(with_packages(FRoot, program)) {}

void PackageServer::serve(const std::string& name, const std::vector<Rar5Item>& items) const {
    write_file(utf8(package(name)), rar5_archive(items));
}

} // namespace kv::test
