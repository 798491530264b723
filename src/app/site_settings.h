// The six texts the window reads from the settings file at start-up, read-only
// afterwards; the steps and their pre-flight checks act on them.
#pragma once

#include <string>

namespace kv {

// The six texts read at start-up and read-only afterwards.
struct SiteSettings {
    std::string UpdateBaseUrl;
    std::string ServerAddress;
    std::string ApplicationPath;
    std::string DatabasePath;
    std::string ReportPath;
    std::string UpdateFolder;
};

} // namespace kv
