// kvtool release: the vendor's side of signed releases, and a check of a
// release as the updater would make it.
//
//   release sign --key PRIVATE.pem --release NUMBER [--valid-until TIME] FOLDER
//     writes FOLDER/2027/release.txt, listing every file of the folder with
//     the release number (2027.3), the signing time (now) and, when given,
//     the time after which no site installs it ("YYYY-MM-DD", the end of
//     that day UTC, or "YYYY-MM-DDTHH:MM:SSZ"); and its signature
//     FOLDER/2027/release.sig. One JSON line for the release, one per file.
//   release verify [--key PUBLIC.pem] FOLDER|URL
//     checks the signature, then every listed file (read from the folder, or
//     fetched from the package server at URL, "http://host[:port]") against
//     its size and SHA-256; a folder must hold no file the manifest leaves
//     out, and a server's must list every file the updater fetches. One JSON
//     line per file; exit status 0 only when all of it holds.
//     Without --key, the key this kvtool was built with.
//   release plan
//     what the updater's package step fetches, in its order: one JSON line
//     for the logo, then one per package with the condition it is fetched
//     on, the programs stopped for it, the folder it is unpacked into and the
//     files it puts in place. Scripts take the release's files from here.
#include "http/net_http.h"
#include "release/release_folder.h"
#include "tools/command.h"
#include "tools/json.h"
#include "workflow/packages.h"

#include <chrono>
#include <cstdio>

namespace kv::tool {
namespace {

// What the updater's package step fetches, from the release's plan: a server
// whose manifest leaves one out stops every site's update there, though HTTP
// cannot list what it serves.
constexpr const char* kLogoPath = "/logo1024.png";

std::vector<std::string> fetched_by_the_updater() {
    std::vector<std::string> paths{kLogoPath};
    for (const PackagePlan& p : release_packages())
        paths.push_back("/2027/" + p.file);
    return paths;
}

struct ReleaseArgs {
    std::string key_file;
    std::string target;
    std::string number;
    std::string valid_until;
};

int64_t now_utc() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void print_entry(const release::ManifestEntry& e) {
    print_json({{"path", e.path}, {"size", e.size}, {"sha256", release::to_hex(e.sha256)}});
}

int sign(const ReleaseArgs& a) {
    release::ReleaseInfo info{a.number, now_utc(), std::nullopt};
    if (!a.valid_until.empty()) {
        info.valid_until = release::parse_utc_time(a.valid_until.size() == 10 ? a.valid_until + "T23:59:59Z"
                                                                              : a.valid_until);
        if (!info.valid_until) {
            std::fprintf(stderr,
                         "kvtool release sign: --valid-until %s: give YYYY-MM-DD or YYYY-MM-DDTHH:MM:SSZ\n",
                         a.valid_until.c_str());
            return 2;
        }
    }
    release::Manifest manifest = release::sign_folder(a.target, read_whole_file(a.key_file), info);
    print_json({{"release", manifest.info()->number},
                {"signed", release::format_utc_time(manifest.info()->signed_at)},
                {"valid_until", manifest.info()->valid_until
                                    ? release::format_utc_time(*manifest.info()->valid_until)
                                    : std::string()}});
    for (const release::ManifestEntry& e : manifest.entries())
        print_entry(e);
    return 0;
}

// Runs one file's check: its line on success, the error's text on failure.
bool checked(const release::ManifestEntry& e, const std::function<void()>& check) {
    try {
        check();
    } catch (const release::EReleaseError& error) {
        print_json({{"path", e.path}, {"error", error.Message()}});
        print_command_error(error.Message());
        return false;
    }
    print_entry(e);
    return true;
}

// Which release it is, and whether a site would take it now (by this clock,
// whatever it has installed).
bool goes_forward(const release::Release& release) {
    const auto& info = release.manifest().info();
    try {
        release::check_goes_forward(release.manifest(), "", now_utc());
    } catch (const release::EReleaseError& error) {
        print_json({{"release", info ? info->number : std::string()}, {"error", error.Message()}});
        print_command_error(error.Message());
        return false;
    }
    print_json(
        {{"release", info->number},
         {"signed", release::format_utc_time(info->signed_at)},
         {"valid_until", info->valid_until ? release::format_utc_time(*info->valid_until) : std::string()}});
    return true;
}

bool verify_folder(const std::string& folder, std::string_view key) {
    release::Release release = release::read_folder_release(folder, key);
    bool holds = goes_forward(release);
    for (const release::ManifestEntry& e : release.manifest().entries())
        holds &= checked(e, [&] {
            release::FileDigest d = release::digest_file(release::file_in_folder(folder, e.path));
            release.check(e.path, d.size, d.sha256);
        });
    // What the server would serve beside the release, the updater would refuse.
    const release::Manifest served = release::describe_folder(folder);
    for (const release::ManifestEntry& e : served.entries())
        if (!release.manifest().find(e.path)) holds &= checked(e, [&] { release.entry(e.path); });
    return holds;
}

bool verify_server(std::string root, std::string_view key) {
    while (!root.empty() && root.back() == '/')
        root.pop_back();
    TNetHTTP http;
    auto fetch = [&](const std::string& url, TStream& into) { http.Get(url, &into); };
    release::Release release = release::Release::fetch(root + release::kReleaseFolder, key, fetch);
    bool holds = goes_forward(release);
    for (const release::ManifestEntry& e : release.manifest().entries())
        holds &= checked(e, [&] {
            release::DigestStream body;
            try {
                http.Get(root + e.path, &body);
            } catch (const release::EReleaseError&) {
                throw;
            } catch (const Exception& error) {
                throw release::EReleaseError(root + e.path + " alınamadı: " + error.Message());
            }
            release.check(e.path, body.Size(), body.Digest());
        });
    for (const std::string& path : fetched_by_the_updater())
        if (!release.manifest().find(path)) holds &= checked({path}, [&] { release.entry(path); });
    return holds;
}

const char* condition_text(FetchedWhen when) {
    switch (when) {
    case FetchedWhen::OnTheServer:
        return "on the server";
    case FetchedWhen::WherePrintingIsInstalled:
        return "where printing is installed";
    case FetchedWhen::Always:
        break;
    }
    return "always";
}

int plan() {
    print_json({{"path", kLogoPath}, {"when", "always"}});
    for (const PackagePlan& p : release_packages())
        print_json({{"path", "/2027/" + p.file},
                    {"when", condition_text(p.when)},
                    {"stops", p.stops},
                    {"unpacks_into", p.unpacks_into},
                    {"puts_in_place", p.puts_in_place},
                    {"whole_folder_into_reports", p.unpacked_in_place}});
    return 0;
}

int verify(const ReleaseArgs& a) {
    std::string key =
        a.key_file.empty() ? std::string(release::built_in_public_key()) : read_whole_file(a.key_file);
    if (key.empty()) {
        std::fprintf(stderr, "kvtool release verify: this kvtool has no release key built in; give --key\n");
        return 2;
    }
    bool server = a.target.rfind("http://", 0) == 0;
    return (server ? verify_server(a.target, key) : verify_folder(a.target, key)) ? 0 : 1;
}

Runner cmd_release(CLI::App& command) {
    auto a = std::make_shared<ReleaseArgs>();
    command.require_subcommand(1);
    CLI::App* sign_command =
        command.add_subcommand("sign", "Write FOLDER/2027/release.txt listing every file, and its signature");
    sign_command->add_option("--key", a->key_file, "The vendor's private key (PEM)")->required();
    sign_command
        ->add_option("--release", a->number, "The release number, e.g. 2027.3; sites refuse a lower one")
        ->required();
    sign_command->add_option(
        "--valid-until", a->valid_until,
        "No site installs the release after this (YYYY-MM-DD or YYYY-MM-DDTHH:MM:SSZ, UTC)");
    sign_command->add_option("FOLDER", a->target, "The release folder")->required();
    CLI::App* verify_command = command.add_subcommand(
        "verify", "Check a release's signature and every file it lists, as the updater would");
    verify_command->add_option("--key", a->key_file, "The public key (PEM); without it, the built-in one");
    verify_command
        ->add_option("TARGET", a->target, "A release folder, or the package server as http://host[:port]")
        ->required();
    CLI::App* plan_command =
        command.add_subcommand("plan", "Print what the updater fetches and what each package puts in place");
    return [a, sign_command, plan_command] {
        return sign_command->parsed() ? sign(*a) : plan_command->parsed() ? plan() : verify(*a);
    };
}

} // namespace

KVTOOL_COMMAND("release", "Sign a release, or verify one as the updater would", cmd_release);

} // namespace kv::tool
