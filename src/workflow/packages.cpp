// The release's packages and what each puts in place.
#include "workflow/packages.h"

#include "app/site_settings.h"
#include "platform/files.h"

namespace kv {

bool fetches_mobile_package(const SiteSettings& settings) {
    return settings.ServerAddress == "localhost";
}

bool fetches_printing_package(const std::string& program_folder) {
    return os::file_exists(program_folder + "\\dorvika.exe");
}

const std::vector<PackagePlan>& release_packages() {
    static const std::vector<PackagePlan> packages{
        {"kuvento.rar",
         PackageKind::Product,
         FetchedWhen::Always,
         "Kuvento İndiriliyor..",
         "Kuvento Kopyalanıyor",
         {"kuvento.exe"},
         "",
         {"kuvento.exe"}},
        {"telvano.rar",
         PackageKind::MobileBackup,
         FetchedWhen::OnTheServer,
         "Mobil ve Yedekleme Indiriliyor..",
         "Mobil ve Yedekleme Kopyalanıyor",
         {"telvano.exe", "kvbck.exe"},
         "",
         {"telvano.exe", "kvbck.exe"}},
        {"report.rar",
         PackageKind::Reports,
         FetchedWhen::Always,
         "Raporlar İndiliyor..",
         "Raporlar Kopyalanıyor",
         {},
         "report",
         {},
         true},
        {"dorvika.rar",
         PackageKind::Printing,
         FetchedWhen::WherePrintingIsInstalled,
         "Yazdırma İndiriliyor..",
         "Yazdırma Kopyalanıyor",
         {"dorvika.exe"},
         "",
         {"dorvika.exe"}},
        {"dll.rar",
         PackageKind::Libraries,
         FetchedWhen::Always,
         "DLL dosyaları İndiriliyor..",
         "DLL ler Kopyalanıyor",
         {},
         "dll",
         {std::begin(kClientLibraries), std::end(kClientLibraries)}},
    };
    return packages;
}

bool fetched_here(const PackagePlan& package, const SiteSettings& settings,
                  const std::string& program_folder) {
    switch (package.when) {
    case FetchedWhen::OnTheServer:
        return fetches_mobile_package(settings);
    case FetchedWhen::WherePrintingIsInstalled:
        return fetches_printing_package(program_folder);
    case FetchedWhen::Always:
        break;
    }
    return true;
}

std::vector<PackagePlan> packages_for_site(const SiteSettings& settings, const std::string& program_folder) {
    std::vector<PackagePlan> plan;
    for (const PackagePlan& p : release_packages())
        if (fetched_here(p, settings, program_folder)) plan.push_back(p);
    return plan;
}

} // namespace kv
