// Test databases for the database layer. See site_db.h.
#include "site_db.h"

#include "rtl/exception.h"
#include "support/command.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <stdexcept>

namespace kv::test {
namespace fs = std::filesystem;

std::string run(const std::string& command) {
    const CommandRun r = run_command(command + " 2>&1");
    if (r.status != 0) throw std::runtime_error(command + " failed: " + r.out);
    return r.out;
}

bool client_library_loaded() {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
        if (line.find("/libfbclient.so") != std::string::npos) return true;
    return false;
}

namespace {

// The private server's folder, when the environment names one.
std::string private_server_folder() {
    const char* dir = std::getenv("FIREBIRD");
    if (!dir || !*dir || !fs::exists(fs::path(dir) / "firebird.conf")) return {};
    return dir;
}

} // namespace

std::string server_missing_reason() {
    if (private_server_folder().empty())
        return "FIREBIRD names no private Firebird server folder: run the tests through ctest "
               "(it sets FIREBIRD and FIREBIRD_LOCK) after scripts/firebird-server start";
    return std::string("the private Firebird server in ") + std::getenv("FIREBIRD") +
           " does not answer; start it with scripts/firebird-server start";
}

bool server_answers() {
    if (private_server_folder().empty()) return false;
    try {
        run(std::string("fbsvcmgr localhost:service_mgr -user SYSDBA -password ") + kSiteDatabasePassword +
            " -info_server_version");
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

SiteDb::SiteDb(const std::string& file_name, const std::string& charset) : FCharset(charset) {
    std::string tmpl = (fs::temp_directory_path() / "kv-db-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    FDir = tmpl;
    fs::permissions(FDir, fs::perms::all); // the server (user firebird) creates the file here
    FPath = FDir + "/" + file_name;
    Isql("");
    run(isql_command() + " -i " KV_SOURCE_DIR "/tests/fixtures/site-schema.sql localhost:" + FPath);
}

SiteDb::~SiteDb() {
    std::error_code ec;
    fs::remove_all(FDir, ec);
}

std::string SiteDb::Isql(const std::string& sql) const {
    std::string script = FDir + "/script.sql";
    {
        std::ofstream f(script, std::ios::binary);
        if (sql.empty())
            f << "create database 'localhost:" << FPath << "' user 'SYSDBA' password '"
              << kSiteDatabasePassword << "' page_size 8192 default character set " << FCharset << ";\n";
        else
            f << sql << "\ncommit;\n";
    }
    std::string target = sql.empty() ? "" : " localhost:" + FPath;
    return run(isql_command() + " -i " + script + target);
}

// isql misreads its own switches under a Turkish locale, so it always runs in
// the C one.
std::string SiteDb::isql_command() {
    return "LC_ALL=C.UTF-8 isql-fb -q -ch UTF8 -user SYSDBA -password " + std::string(kSiteDatabasePassword);
}

const char* attach_name(Attach a) {
    return a == Attach::Embedded ? "embedded" : "server";
}

void configure(TDbConnection& c, TDbTransaction& t, Attach how, const std::string& database) {
    c.SetProviderName("InterBase");
    c.SetUsername(kSiteDatabaseUser);
    c.SetPassword(kSiteDatabasePassword);
    c.LoginPrompt = false;
    c.SetServer(how == Attach::Server ? "localhost" : "");
    c.SetDatabase(database);
    if (how == Attach::Embedded) {
        FbConnectionOptions o = c.Options();
        o.config_overrides = "Providers=Engine12";
        c.SetOptions(o);
    }
    t.SetDefaultConnection(&c);
    c.SetDefaultTransaction(&t);
}

std::string error_of(const std::function<void()>& f, std::string* class_name) {
    try {
        f();
    } catch (const Exception& e) {
        if (class_name) *class_name = e.ClassName();
        return e.Message();
    }
    return "no error";
}

Variant scalar(Attach how, const std::string& database, const std::string& sql) {
    TDbConnection c;
    TDbTransaction t;
    configure(c, t, how, database);
    TDbQuery q;
    q.SetConnection(&c);
    q.SetSQL(sql);
    q.Open();
    Variant v = q.Fields(0).AsVariant();
    c.Close();
    return v;
}

int64_t row_count(Attach how, const std::string& database, const std::string& from_where) {
    return scalar(how, database, "select count(*) from " + from_where).AsInt64();
}

bool has_relation(Attach how, const std::string& database, const std::string& name) {
    return row_count(how, database, "rdb$relations where rdb$relation_name = '" + name + "'") == 1;
}

} // namespace kv::test
