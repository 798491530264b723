// What the end-to-end tests build around the updater: a site folder as a shop
// has it (settings file, the product's programs running, the cached settings
// files, a database on the Firebird network server made from the site
// fixture) and the package server with the 2027 release.
#pragma once

#include "db/site_db.h"
#include "support/fake_programs.h"
#include "support/http_nginx.h"
#include "support/rar5_writer.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kv::test::e2e {

// The product's programs as a site runs them, in the order the start-update
// step stops them, and the one it leaves alone.
inline const std::vector<std::string> kStoppedPrograms = {"kuvento.exe", "telvano.exe", "kvbck.exe",
                                                          "dorvika.exe"};
inline const std::string kConsoleProgram = "kuventoCMX.exe";
// The cached settings files the start-update step deletes.
inline const std::vector<std::string> kCachedSettings = {
    "baglanti.txt", "instagram.txt", "inpos.txt", "kagit.txt", "menu.txt", "saat.txt", "yazici.txt"};
// The client libraries the release puts into the program folder.
inline const std::vector<std::string> kLibraries = {
    "fbclient.dll", "gds32.dll",      "libcrypto-1_1.dll", "libeay32.dll", "libmysql.dll",
    "libssh2.dll",  "libssl-1_1.dll", "midas.dll",         "ssleay.dll",   "ssleay32.dll"};

// The 2027 release: the logo and the five packages with their items. The new
// programs are the stand-in program with a release mark appended (an ELF file
// runs with trailing bytes), so they differ from the installed ones and still
// start.
struct Release {
    Release();
    std::string logo;
    std::map<std::string, std::vector<Rar5Item>> packages; // by file name
    // The bytes of an item of a package.
    const std::string& item(const std::string& package, const std::string& path) const;
};

// nginx on the loopback port the tests' updater is built for, serving
// logo1024.png at its root and the packages under /2027/.
class PackageServer {
public:
    explicit PackageServer(const Release& release);
    void remove(const std::string& package);
    void put(const std::string& package, const std::string& bytes);
    const std::filesystem::path& root() const { return FRoot.path(); }

private:
    ScratchDir FRoot{"e2e-packages"};
    const Release& FRelease;
    std::unique_ptr<NginxServer> FNginx;
};

struct SiteSettingsText {
    std::string server = "localhost";
    std::string application_path; // UYGULAMA_ADRES; the site folder when empty
    std::string update_folder_name = "update";
    bool cp1254 = false; // write the file in Windows-1254 instead of UTF-8
};

class Site {
public:
    explicit Site(const std::string& tag);
    ~Site();

    const std::filesystem::path& dir() const { return FDir.path(); }
    std::filesystem::path update_dir() const { return dir() / from_utf8(FUpdateFolderName); }
    SiteDb& db() { return FDb; }

    void write_settings(const SiteSettingsText& settings);
    // Starts every installed program (from the site folder, as the shop does)
    // and waits until each has logged its start; returns their ids by name.
    std::map<std::string, uint32_t> start_programs();
    std::vector<ProgramEvent> program_log() const;
    // The "start" events logged after the first `skip` events.
    std::vector<ProgramEvent> starts_after(size_t skip) const;
    std::string read(const std::string& relative) const;
    bool exists(const std::string& relative) const;
    // The single value a query returns, read with isql ("<null>" for null).
    std::string scalar(const std::string& sql);

private:
    ScratchDir FDir;
    SiteDb FDb;
    std::string FUpdateFolderName = "update";
};

} // namespace kv::test::e2e
