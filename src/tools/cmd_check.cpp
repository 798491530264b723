// kvtool check: would the update go through here, now? Run in the program
// folder, it builds the updater's window as start-up does (the settings read,
// the database components set up) and asks the pre-flight checks that sit
// beside the steps; it changes nothing. This file only prints: a readable
// table by default, one JSON object with --json. The exit status is 0 only
// when every check passes.
#include "platform/files.h"
#include "tools/command.h"
#include "tools/json.h"
#include "tools/site_window.h"
#include "workflow/preflight.h"

#include <algorithm>
#include <cstdio>

namespace kv::tool {
namespace {

// The window as the updater's start-up builds it, asked every pre-flight check.
PreflightReport run_checks() {
    SiteWindow site;
    return run_preflight(*site.form, site.boxes);
}

Json package_json(const PackageFinding& p) {
    Json j{{"file", p.file}, {"url", p.url}, {"fetched", p.fetched}, {"bytes", p.bytes}};
    if (p.package) {
        j["extracted"] = p.extracted;
        j["extracted_bytes"] = p.extracted_bytes;
        j["files"] = p.files;
        j["missing"] = p.missing;
    }
    if (!p.error.empty()) j["error"] = p.error;
    return j;
}

void print_json_report(const PreflightReport& report) {
    Json checks = Json::array();
    for (const CheckResult* r : report.in_order()) {
        Json details = Json::object();
        for (const CheckDetail& d : r->details)
            details[d.key] = d.list ? Json(d.values) : Json(d.values.empty() ? "" : d.values.front());
        Json check{{"check", r->name}, {"passed", r->passed}, {"reason", r->reason}, {"details", details}};
        if (r == &report.packages) {
            check["packages"] = Json::array();
            for (const PackageFinding& p : r->packages)
                check["packages"].push_back(package_json(p));
        }
        checks.push_back(check);
    }
    print_json({{"folder", os::current_directory()}, {"passed", report.passed()}, {"checks", checks}});
}

// One line of the table: a message with line breaks (the database's) has
// its lines joined by " / ".
void print_line(std::string line) {
    for (size_t at = 0; (at = line.find_first_of("\r\n", at)) != std::string::npos;) {
        const size_t end = line.compare(at, 2, "\r\n") == 0 ? at + 2 : at + 1;
        line.replace(at, end - at, " / ");
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

std::string padded(std::string text, size_t width) {
    text.resize(std::max(text.size(), width), ' ');
    return text;
}

std::string package_text(const PackageFinding& p) {
    if (!p.fetched) return p.error;
    std::string text = std::to_string(p.bytes) + " bytes";
    if (!p.package) return text;
    if (!p.error.empty()) return text + "; " + p.error;
    text += ", " + std::to_string(p.extracted_bytes) + " bytes extracted";
    if (!p.files.empty()) text += "; puts in place " + joined(p.files);
    if (!p.missing.empty()) text += "; lacks " + joined(p.missing);
    return text;
}

void print_table(const PreflightReport& report) {
    const std::vector<const CheckResult*> results = report.in_order();
    print_line("KV Update 2027 check in " + os::current_directory());
    print_line("");
    print_line(padded("CHECK", 17) + padded("VERDICT", 9) + "REASON");
    for (const CheckResult* r : results) {
        print_line(padded(r->name, 17) + padded(r->passed ? "pass" : "FAIL", 9) + r->reason);
        for (const CheckDetail& d : r->details) {
            if (!d.list) {
                print_line("    " + d.key + ": " + (d.values.empty() ? "" : d.values.front()));
                continue;
            }
            print_line("    " + d.key + ":" + (d.values.empty() ? " none" : ""));
            for (const std::string& v : d.values)
                print_line("      " + v);
        }
        for (const PackageFinding& p : r->packages)
            print_line("    " + p.file + ": " + package_text(p));
    }
    print_line("");
    const auto failed = std::count_if(results.begin(), results.end(), [](auto* r) { return !r->passed; });
    print_line(report.passed() ? "The update would go through."
                               : "The update would not go through: " + std::to_string(failed) + " of " +
                                     std::to_string(results.size()) + " checks failed.");
    std::fflush(stdout);
}

Runner check(CLI::App& command) {
    auto json = std::make_shared<bool>(false);
    command.add_flag("--json", *json, "One JSON object instead of the table");
    command.footer("Run it in the program folder. It changes nothing: the packages are downloaded and\n"
                   "extracted into a temporary folder that is removed again. Exit status 0 only when\n"
                   "every check passes.");
    return [json] {
        const PreflightReport report = run_checks();
        if (*json)
            print_json_report(report);
        else
            print_table(report);
        return report.passed() ? 0 : 1;
    };
}

} // namespace

KVTOOL_COMMAND("check", "Would the update go through here, now? Checks the site before the update", check);

} // namespace kv::tool
