// kvtool extract: unpacks a RAR5 archive into a folder through the same
// archive reader the updater uses, for support technicians and benchmarks.
#include "archive/seven_zip.h"
#include "tools/command.h"
#include "tools/json.h"

namespace kv::tool {
namespace {

int extract(const Args& args) {
    std::string lib = com::kSevenZipLibrary;
    size_t i = 0;
    if (args.size() >= 2 && args[0] == "--lib") {
        lib = args[1];
        i = 2;
    }
    if (args.size() != i + 2) return usage_error();
    try {
        RefPtr<I7zInArchive> archive = CreateInArchive(CLSID_CFormatRar5, lib);
        archive->OpenFile(args[i]);
        archive->ExtractTo(args[i + 1]);
        archive->Close();
    } catch (...) {
        print_error_json(std::current_exception());
        return 1;
    }
    JsonObject().add("extracted", true).print();
    return 0;
}

} // namespace

KVTOOL_COMMAND("extract", "[--lib LIB] ARCHIVE FOLDER", extract);

} // namespace kv::tool
