// The release as a site fetches it: which packages, on which condition, and
// which files each puts into the program folder, and the product's programs
// and cached files the steps act on. The package step acts on these answers
// and the pre-flight check asks the same questions.
#pragma once

#include <string>
#include <vector>

namespace kv {

struct SiteSettings;

// The programs the update stops before it replaces their files, in order.
inline constexpr const char* kProductPrograms[] = {"kuvento.exe", "telvano.exe", "kvbck.exe", "dorvika.exe"};

// The programs the package step starts again at its end, in order.
inline constexpr const char* kRestartedPrograms[] = {"kuventoCMX.exe", "kuvento.exe"};

// The product's cached settings files, which the start-update step deletes
// from the current folder so that the new programs write them afresh.
inline constexpr const char* kCachedSettingsFiles[] = {
    "baglanti.txt", "instagram.txt", "inpos.txt", "kagit.txt", "menu.txt", "saat.txt", "yazici.txt"};

// The client libraries the library package puts in place, in copy order.
inline constexpr const char* kClientLibraries[] = {
    "fbclient.dll", "gds32.dll",      "libcrypto-1_1.dll", "libeay32.dll", "libmysql.dll",
    "libssh2.dll",  "libssl-1_1.dll", "midas.dll",         "ssleay.dll",   "ssleay32.dll"};

// The mobile and backup package goes only to the server itself: SUNUCU_IP
// exactly "localhost".
bool fetches_mobile_package(const SiteSettings& settings);
// The printing package goes only where the printing program is installed.
bool fetches_printing_package(const std::string& program_folder);

// How a package's copy stage runs; the order of its stages differs from kind
// to kind (workflow/package_install.cpp tells how).
enum class PackageKind {
    Product,      // stop, then put in place
    MobileBackup, // as the product, with a pump before the programs are stopped
    Reports,      // no program; every item goes into the report folder
    Printing,     // its program stopped only once the package is whole
    Libraries,    // the first status set before the download's protected stages
};
enum class FetchedWhen { Always, OnTheServer, WherePrintingIsInstalled };

struct PackagePlan {
    std::string file; // "kuvento.rar", under UpdateBaseUrl
    PackageKind kind = PackageKind::Product;
    FetchedWhen when = FetchedWhen::Always;
    std::string download_status, copy_status;
    std::vector<std::string> stops;         // programs stopped before its files are replaced, in order
    std::string unpacks_into;               // below the update folder ("" the folder itself)
    std::vector<std::string> puts_in_place; // files from the package's top level
    bool unpacked_in_place = false; // the reports: every item goes into the report folder (none listed)
};
// Every package of the release, in the step's order.
const std::vector<PackagePlan>& release_packages();
// Whether this site fetches the package (its condition, asked now).
bool fetched_here(const PackagePlan& package, const SiteSettings& settings,
                  const std::string& program_folder);
// The packages this site would fetch, in the step's order.
std::vector<PackagePlan> packages_for_site(const SiteSettings& settings, const std::string& program_folder);

} // namespace kv
