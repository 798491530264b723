// The package host for tests: a private nginx serving, from a scratch folder,
// the logo at its root and the release's RAR5 packages under 2027/, laid out
// as the package step fetches them. Every package the step asks for is there
// and whole, so the step succeeds unless a test spoils one.
#pragma once

#include "fake_programs.h"
#include "http_nginx.h"
#include "rar5_writer.h"

#include <filesystem>
#include <string>
#include <vector>

namespace kv::test {

// The client libraries the library package carries, each holding
// served_library(name).
extern const char* const kServedLibraries[10];
std::string served_library(const std::string& name);

// What the served logo and report package hold.
inline const char* const kServedLogo = "logo";
inline const char* const kServedReport = "report 2027";              // report/satis.fr3
inline const char* const kServedNestedReport = "nested report 2027"; // report/alt/kasa.fr3

class PackageServer {
public:
    // `program` is what each program file in the packages holds. Raises
    // std::runtime_error when nginx cannot be started.
    explicit PackageServer(const std::string& program);

    // host:port, as the updater's configuration takes it.
    std::string host() const { return "127.0.0.1:" + std::to_string(FNginx.port()); }
    // The served folder, laid out as the package server has it.
    const std::filesystem::path& root() const { return FRoot.path(); }
    // The served file of package `name` ("kuvento.rar"), for spoiling it.
    std::filesystem::path package(const std::string& name) const { return FRoot.path() / "2027" / name; }
    // Serves package `name` with these items instead.
    void serve(const std::string& name, const std::vector<Rar5Item>& items) const;

private:
    ScratchDir FRoot{"packages"};
    NginxServer FNginx;
};

} // namespace kv::test
