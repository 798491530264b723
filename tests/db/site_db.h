// Test databases for the database layer: a fresh Firebird database in a
// folder of its own, created through the network server (so the server may
// open it) and loaded with the site schema fixture by isql. The server is the
// tests' private one (scripts/firebird-server), reached as "localhost" through
// the FIREBIRD folder that ctest hands to every test and so to every program
// a test starts. It must be running: a test that needs it fails when it is not.
#pragma once

#include "db/db_connection.h"
#include "db/db_query.h"
#include "db/db_transaction.h"
#include "rtl/variant.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace kv::test {

// Whether the tests' private server accepts the built-in login. False when
// FIREBIRD names no private server folder: "localhost" would then be the
// machine's own server, which the tests never use.
bool server_answers();

// Why server_answers() said no, for the failure message.
std::string server_missing_reason();

// Fixture of the tests that need the server: each fails at once when it does not answer.
class ServerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_answers()) << server_missing_reason(); }
};

// The message of the kv::Exception that f raises ("no error" when none), and
// its class name into *class_name when asked.
std::string error_of(const std::function<void()>& f, std::string* class_name = nullptr);

class SiteDb {
public:
    // Creates the database (UTF8, dialect 3) and loads tests/fixtures/site-schema.sql.
    explicit SiteDb(const std::string& file_name = "site.fdb");
    ~SiteDb();
    SiteDb(const SiteDb&) = delete;
    SiteDb& operator=(const SiteDb&) = delete;

    const std::string& Path() const noexcept { return FPath; }
    const std::string& Folder() const noexcept { return FDir; }
    // Runs SQL through isql and the server; returns isql's output.
    std::string Isql(const std::string& sql) const;

private:
    std::string FDir, FPath;
};

enum class Attach { Embedded, Server };
const char* attach_name(Attach a);

// A connection set up like the updater's: provider "InterBase", the built-in
// user and password, default transaction `t`. Embedded forces the in-process
// engine (no fallback to the server).
void configure(TDbConnection& c, TDbTransaction& t, Attach how, const std::string& database);

// One value read through a connection of its own (committed data only), and
// the two questions the step tests ask of a database.
Variant scalar(Attach how, const std::string& database, const std::string& sql);
int64_t row_count(Attach how, const std::string& database, const std::string& from_where);
bool has_relation(Attach how, const std::string& database, const std::string& name);

// Whether this process has the Firebird client library mapped, as the kernel
// sees it (/proc/self/maps), whatever folder it was loaded from.
bool client_library_loaded();

// Runs a shell command; returns its standard output, fails the test on a non-zero exit.
std::string run(const std::string& command);

} // namespace kv::test
