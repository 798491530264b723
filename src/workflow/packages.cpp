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

std::vector<PackagePlan> packages_for_site(const SiteSettings& settings, const std::string& program_folder) {
    std::vector<PackagePlan> plan{{"kuvento.rar", {"kuvento.exe"}}};
    if (fetches_mobile_package(settings)) plan.push_back({"telvano.rar", {"telvano.exe", "kvbck.exe"}});
    plan.push_back({"report.rar", {}, true});
    if (fetches_printing_package(program_folder)) plan.push_back({"dorvika.rar", {"dorvika.exe"}});
    plan.push_back({"dll.rar", {std::begin(kClientLibraries), std::end(kClientLibraries)}});
    return plan;
}

} // namespace kv
