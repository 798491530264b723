// The site folder, the database and the package server of the end-to-end
// tests (see e2e_site.h).
#include "e2e_site.h"

#include "e2e_operator.h"
#include "platform/processes.h"
#include "rtl/text.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace kv::test::e2e {
namespace fs = std::filesystem;

namespace {

std::string release_program(const std::string& stand_in, const std::string& name) {
    return stand_in + "\nkv-e2e release 2027 " + name + "\n";
}

} // namespace

Release::Release() {
    const std::string stand_in = read_file(fake_program_path().string());
    logo = std::string("\x89PNG\r\n\x1a\n", 8) + "kv-e2e logo 1024";
    packages["kuvento.rar"] = {{"kuvento.exe", release_program(stand_in, "kuvento.exe")}};
    packages["telvano.rar"] = {{"telvano.exe", release_program(stand_in, "telvano.exe")},
                               {"kvbck.exe", release_program(stand_in, "kvbck.exe")}};
    packages["report.rar"] = {{"satis.fr3", "<report name=\"satis\"/>"},
                              {"Fatura", "", true},
                              {"Fatura/efatura.fr3", "<report name=\"efatura\"/>"}};
    packages["dorvika.rar"] = {{"dorvika.exe", release_program(stand_in, "dorvika.exe")}};
    std::vector<Rar5Item> libraries;
    for (const std::string& name : kLibraries)
        libraries.push_back({name, "kv-e2e 2027 library " + name + "\n"});
    packages["dll.rar"] = libraries;
}

const std::string& Release::item(const std::string& package, const std::string& path) const {
    for (const Rar5Item& i : packages.at(package))
        if (i.path == path) return i.data;
    throw std::out_of_range(package + " has no item " + path);
}

PackageServer::PackageServer(const Release& release) : FRelease(release) {
    write_file((root() / "logo1024.png").string(), release.logo);
    fs::create_directories(root() / "2027");
    for (const auto& [name, items] : release.packages)
        put(name, rar5_archive(items));
    FNginx = std::make_unique<NginxServer>(root(), KV_E2E_PACKAGE_PORT);
}

void PackageServer::remove(const std::string& package) {
    fs::remove(root() / "2027" / package);
}

void PackageServer::put(const std::string& package, const std::string& bytes) {
    write_file((root() / "2027" / package).string(), bytes);
}

// The folder's name carries a random part: in a process namespace of its own
// every run has the same process id.
Site::Site(const std::string& tag)
    : FDir("e2e-" + tag + "-" + std::to_string(std::random_device{}())), FDb("KUVENTO.FDB") {
    for (const std::string& name : kStoppedPrograms)
        install_fake_program(dir(), name);
    install_fake_program(dir(), kConsoleProgram);
    for (const std::string& name : kCachedSettings)
        write_file((dir() / name).string(), "ayar\n");
    write_file((dir() / "notlar.txt").string(), "not a cached settings file\n");
    fs::create_directories(dir() / "Rapor");
}

Site::~Site() {
    // Whatever runs from this folder (the stand-ins the test or the updater
    // started) goes with it.
    for (const ProgramEvent& e : program_log())
        if (e.event == "start" && process_running(e.pid, e.name)) os::terminate_process(e.pid);
}

void Site::write_settings(const SiteSettingsText& s) {
    FUpdateFolderName = s.update_folder_name;
    const std::string site = utf8(dir());
    std::string text = "[BAGLANTI]\r\nSUNUCU_IP=" + s.server +
                       "\r\nUYGULAMA_ADRES=" + (s.application_path.empty() ? site : s.application_path) +
                       "\r\nDB_ADRES=" + FDb.Path() + "\r\nRAPOR_ADRES=" + site +
                       "/Rapor\r\nUPDATE_ADRES=" + site + "/" + s.update_folder_name + "\r\n";
    write_file((dir() / "kvayarlar.ini").string(), s.cp1254 ? utf8_to_cp1254(text) : text);
}

std::map<std::string, uint32_t> Site::start_programs() {
    std::map<std::string, uint32_t> ids;
    std::vector<std::string> names = kStoppedPrograms;
    names.push_back(kConsoleProgram);
    const fs::path log = dir() / "programs.log";
    for (const std::string& name : names) {
        const size_t before = started_ids(log, name).size();
        shell("cd " + quoted(dir().string()) + " && ./" + name + " </dev/null >/dev/null 2>&1 &");
        if (!wait_until([&] { return started_ids(log, name).size() > before; }))
            throw std::runtime_error(name + " did not start");
        ids[name] = started_ids(log, name).back();
    }
    return ids;
}

std::vector<ProgramEvent> Site::program_log() const {
    return read_program_log(dir() / "programs.log");
}

std::vector<ProgramEvent> Site::starts_after(size_t skip) const {
    std::vector<ProgramEvent> out;
    std::vector<ProgramEvent> all = program_log();
    for (size_t i = skip; i < all.size(); ++i)
        if (all[i].event == "start") out.push_back(all[i]);
    return out;
}

std::string Site::read(const std::string& relative) const {
    return read_file((dir() / from_utf8(relative)).string());
}

bool Site::exists(const std::string& relative) const {
    return fs::exists(dir() / from_utf8(relative));
}

std::string Site::scalar(const std::string& sql) {
    std::istringstream out(FDb.Isql(sql));
    std::string token, last;
    while (out >> token)
        last = token;
    return last;
}

} // namespace kv::test::e2e
