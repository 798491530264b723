// Which 7-Zip library file the reader loads, and where the loader finds it.
// The names are the target's, set by the build (src/CMakeLists.txt).
#include "archive/seven_zip_objects.h"
#include "platform/library_file.h"

namespace kv {

const char* const kSevenZipLibrary = KV_SEVEN_ZIP_LIBRARY;
const char* const kSevenZipSearchDirs[] = {KV_SEVEN_ZIP_FOLDER[0] ? KV_SEVEN_ZIP_FOLDER : nullptr, nullptr};

std::string seven_zip_library(const std::string& configured) {
    return configured.empty() ? std::string(kSevenZipLibrary) : configured;
}

std::string seven_zip_library_file(const std::string& lib, const std::string& program_folder) {
    return os::library_file(lib, program_folder, kSevenZipSearchDirs);
}

void CreateHandler(I7zInArchive& archive) {
    archive.GetInArchive();
}

} // namespace kv
