// kvtool check as the end-to-end tests run it, natively or under Wine: its
// exit status and JSON report, and the parts of the report they read.
#pragma once

#include "e2e_operator.h"
#include "support/fake_programs.h"
#include "support/rar5_writer.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace kv::test::e2e {

struct CheckRun {
    int status = -1;
    nlohmann::json report; // discarded (not an object) when the output is no JSON
    std::string output;
};

// Runs `kvtool` (the shell command that starts it) with `check --json` in
// `folder`. The report goes through a file outside that folder, not a pipe: a
// Wine service the program starts may inherit its output and keep a pipe open.
inline CheckRun run_check(const std::filesystem::path& folder, const std::string& kvtool) {
    const ScratchDir out("check-report");
    const std::string report = (out.path() / "report.json").string();
    CheckRun run;
    run.status = shell("cd " + e2e::quoted(folder.string()) + " && " + kvtool + " check --json </dev/null >" +
                       e2e::quoted(report))
                     .status;
    run.output = read_file(report);
    run.report = nlohmann::json::parse(run.output, nullptr, false);
    return run;
}

inline const nlohmann::json& check_named(const nlohmann::json& report, const std::string& name) {
    for (const nlohmann::json& c : report["checks"])
        if (c["check"] == name) return c;
    static const nlohmann::json none;
    return none;
}

inline std::vector<std::string> failed_checks(const nlohmann::json& report) {
    std::vector<std::string> out;
    for (const nlohmann::json& c : report["checks"])
        if (!c["passed"].get<bool>()) out.push_back(c["check"]);
    return out;
}

// The names in `folder`, sorted: the check changes nothing there.
inline std::vector<std::string> folder_listing(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace kv::test::e2e
