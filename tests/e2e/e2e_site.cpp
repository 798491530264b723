// The site folder, the database and the package server of the end-to-end
// tests (see e2e_site.h).
#include "e2e_site.h"

#include "e2e_operator.h"
#include "platform/processes.h"
#include "rtl/text.h"

#include <fstream>
#include <gtest/gtest.h>
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

namespace {

class NativeHost : public ProgramHost {
public:
    fs::path stand_in() const override { return fake_program_path(); }
    std::string start_command(const std::string& name) const override {
        return "./" + quoted(name) + " </dev/null >/dev/null 2>&1 &";
    }
    std::string settings_path(const fs::path& path) const override { return utf8(path); }
    bool running(uint32_t pid, const std::string& name) const override { return process_running(pid, name); }
    void terminate(uint32_t pid, const std::string&) const override { os::terminate_process(pid); }
};

} // namespace

const ProgramHost& native_host() {
    static const NativeHost host;
    return host;
}

Release::Release(const ProgramHost& host) {
    const std::string stand_in = read_file(host.stand_in().string());
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
        libraries.push_back({name, host.release_library(name)});
    packages["dll.rar"] = libraries;
    for (auto& [name, items] : packages)
        for (Rar5Item& item : items)
            item.compressed = host.decodes_compressed() && !item.folder;
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
Site::Site(const std::string& tag, const ProgramHost& host, const std::string& charset)
    : FHost(host), FDir("e2e-" + tag + "-" + std::to_string(std::random_device{}())),
      FDb("KUVENTO.FDB", charset) {
    std::vector<std::string> names = kStoppedPrograms;
    names.push_back(kConsoleProgram);
    for (const std::string& name : names)
        fs::copy_file(FHost.stand_in(), dir() / name, fs::copy_options::overwrite_existing);
    for (const std::string& name : kCachedSettings)
        write_file((dir() / name).string(), "ayar\n");
    write_file((dir() / "notlar.txt").string(), "not a cached settings file\n");
    fs::create_directories(dir() / "Rapor");
}

Site::~Site() {
    // Whatever runs from this folder (the stand-ins the test or the updater
    // started) goes with it.
    for (const ProgramEvent& e : program_log())
        if (e.event == "start" && FHost.running(e.pid, e.name)) FHost.terminate(e.pid, e.name);
}

void Site::write_settings(const SiteSettingsText& s) {
    FUpdateFolderName = s.update_adres.empty() ? s.update_folder_name : "update";
    auto path = [this](const fs::path& p) { return FHost.settings_path(p); };
    // The network server opens the database by its path on the server's machine.
    const std::string database = s.local_attach ? path(FDb.Path()) : FDb.Path();
    std::string text =
        "[BAGLANTI]\r\nSUNUCU_IP=" + s.server +
        "\r\nUYGULAMA_ADRES=" + (s.application_path.empty() ? path(dir()) : s.application_path) +
        "\r\nDB_ADRES=" + database + "\r\nRAPOR_ADRES=" + path(dir() / "Rapor") +
        "\r\nUPDATE_ADRES=" + (s.update_adres.empty() ? path(update_dir()) : s.update_adres) + "\r\n";
    write_file((dir() / "kvayarlar.ini").string(), s.cp1254 ? utf8_to_cp1254(text) : text);
}

std::map<std::string, uint32_t> Site::start_programs() {
    std::map<std::string, uint32_t> ids;
    std::vector<std::string> names = kStoppedPrograms;
    names.push_back(kConsoleProgram);
    for (const std::string& name : names)
        ids[name] = start_program(name);
    return ids;
}

uint32_t Site::start_program(const std::string& name) {
    const fs::path log = dir() / "programs.log";
    const size_t before = started_ids(log, name).size();
    shell("cd " + quoted(dir().string()) + " && " + FHost.start_command(name));
    if (!wait_until([&] { return started_ids(log, name).size() > before; }, std::chrono::seconds(30)))
        throw std::runtime_error(name + " did not start");
    return started_ids(log, name).back();
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

void UpdateScenario::expect_program_replaced(const std::string& package, const std::string& name) {
    EXPECT_EQ(site.read(name), release.item(package, name)) << name << " is not the one of " << package;
}

void UpdateScenario::expect_program_kept(const std::string& name) {
    EXPECT_EQ(site.read(name), stand_in) << name << " was replaced";
}

void UpdateScenario::expect_release_installed(bool on_server) {
    expect_program_replaced("kuvento.rar", "kuvento.exe");
    if (on_server) {
        expect_program_replaced("telvano.rar", "telvano.exe");
        expect_program_replaced("telvano.rar", "kvbck.exe");
    } else {
        expect_program_kept("telvano.exe");
        expect_program_kept("kvbck.exe");
    }
    expect_program_replaced("dorvika.rar", "dorvika.exe");
    for (const std::string& library : kLibraries)
        EXPECT_EQ(site.read(library), release.item("dll.rar", library)) << library;
    EXPECT_EQ(site.read("report/satis.fr3"), release.item("report.rar", "satis.fr3"));
    EXPECT_EQ(site.read("report/Fatura/efatura.fr3"), release.item("report.rar", "Fatura/efatura.fr3"));
    EXPECT_EQ(site.read("logo1024.png"), release.logo);
    EXPECT_EQ(site.read(kConsoleProgram), stand_in) << "no package holds the console program";
}

void UpdateScenario::expect_downloads(const std::vector<std::string>& packages) {
    for (const std::string& p : packages)
        EXPECT_EQ(read_file((site.update_dir() / p).string()),
                  read_file((server.root() / "2027" / p).string()))
            << p;
}

} // namespace kv::test::e2e
