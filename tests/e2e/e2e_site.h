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

// What the upgrade creates, counted in the system tables, and the log line it ends with.
inline const char* const kUpgradeTables =
    "select count(*) from rdb$relations where rdb$relation_name in "
    "('EF_SERI', 'EF_GIDEN', 'EF_GELEN', 'FATURABILGI', 'KAMPANYA_BILGI');";
inline const char* const kUpgradeLogLine = "2027 Database güncellemesi Başarı ile tamamlandı..";

// Where the site's programs run and how the tests reach them: natively, or as
// Windows programs under Wine (see wine_operator.h).
class ProgramHost {
public:
    virtual ~ProgramHost() = default;
    // The stand-in program copied under the product's file names.
    virtual std::filesystem::path stand_in() const = 0;
    // The shell command, run in the site folder, that starts the program `name` there.
    virtual std::string start_command(const std::string& name) const = 0;
    // A path as the updater's settings name it.
    virtual std::string settings_path(const std::filesystem::path& path) const = 0;
    // Whether a program with the logged id and file name runs; ending it.
    virtual bool running(uint32_t pid, const std::string& name) const = 0;
    virtual void terminate(uint32_t pid, const std::string& name) const = 0;
    // The release's client library `name`: marked text, unless the site
    // needs a working one to load (see wine_operator.h).
    virtual std::string release_library(const std::string& name) const {
        return "kv-e2e 2027 library " + name + "\n";
    }
    // Whether the host's 7-Zip library has the RAR decoders, so the packages
    // can be compressed as real releases are (Debian's has none).
    virtual bool decodes_compressed() const { return false; }
};
const ProgramHost& native_host();

// The 2027 release: the logo and the five packages with their items. The new
// programs are the stand-in program with a release mark appended (an ELF or
// PE file runs with trailing bytes), so they differ from the installed ones
// and still start.
struct Release {
    explicit Release(const ProgramHost& host = native_host());
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
    // UPDATE_ADRES as written, when it is not the folder named above (a name
    // the updater is expected to refuse, say); update_dir() stays the default.
    std::string update_adres;
    bool cp1254 = false;       // write the file in Windows-1254 instead of UTF-8
    bool local_attach = false; // DB_ADRES as a path on the site's machine, no server
};

class Site {
public:
    explicit Site(const std::string& tag, const ProgramHost& host = native_host(),
                  const std::string& charset = "utf8");
    ~Site();

    const std::filesystem::path& dir() const { return FDir.path(); }
    std::filesystem::path update_dir() const { return dir() / from_utf8(FUpdateFolderName); }
    SiteDb& db() { return FDb; }

    void write_settings(const SiteSettingsText& settings);
    // Starts every installed program (from the site folder, as the shop does)
    // and waits until each has logged its start; returns their ids by name.
    std::map<std::string, uint32_t> start_programs();
    // Starts one program of the site and returns its logged id.
    uint32_t start_program(const std::string& name);
    bool running(uint32_t pid, const std::string& name) const { return FHost.running(pid, name); }
    std::vector<ProgramEvent> program_log() const;
    // The "start" events logged after the first `skip` events.
    std::vector<ProgramEvent> starts_after(size_t skip) const;
    std::string read(const std::string& relative) const;
    bool exists(const std::string& relative) const;
    // The single value a query returns, read with isql ("<null>" for null).
    std::string scalar(const std::string& sql);
    // The database's year marker.
    std::string upgrade_year() { return scalar("select yil from firmabilgi;"); }

private:
    const ProgramHost& FHost;
    ScratchDir FDir;
    SiteDb FDb;
    std::string FUpdateFolderName = "update";
};

// What the tests build around one run: the release on the package server and
// a site whose database holds the fixture's year, with the checks of what the
// release put in place.
struct UpdateScenario {
    const ProgramHost& host;
    Release release;
    PackageServer server{release};
    Site site;
    std::string stand_in = read_file(host.stand_in().string());

    explicit UpdateScenario(const std::string& tag, const ProgramHost& program_host = native_host(),
                            const std::string& charset = "utf8")
        : host(program_host), release(program_host), site(tag, program_host, charset) {}

    void expect_program_replaced(const std::string& package, const std::string& name);
    void expect_program_kept(const std::string& name);
    // Everything the release puts into the program folder, byte for byte;
    // the mobile and backup programs only on the database server's machine.
    void expect_release_installed(bool on_server = true);
    // The update folder holds this run's downloads as the server has them.
    void expect_downloads(const std::vector<std::string>& packages);
};

} // namespace kv::test::e2e
