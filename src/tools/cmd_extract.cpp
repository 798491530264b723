// kvtool extract: unpacks a RAR5 archive into a folder through the same
// archive reader the updater uses, for support technicians and benchmarks.
#include "archive/seven_zip.h"
#include "tools/command.h"
#include "tools/json.h"

namespace kv::tool {
namespace {

struct ExtractArgs {
    std::string lib = kSevenZipLibrary, archive, folder;
};

int run_extract(const ExtractArgs& a) {
    try {
        RefPtr<I7zInArchive> archive = CreateInArchive(CLSID_CFormatRar5, a.lib);
        archive->OpenFile(a.archive);
        archive->ExtractTo(a.folder);
        archive->Close();
    } catch (...) {
        print_error_json(std::current_exception());
        return 1;
    }
    print_json({{"extracted", true}});
    return 0;
}

Runner extract(CLI::App& command) {
    auto a = std::make_shared<ExtractArgs>();
    command.add_option("--lib", a->lib, "7-Zip's library, as the loader is given it")->capture_default_str();
    command.add_option("ARCHIVE", a->archive, "The RAR5 archive")->required();
    command.add_option("FOLDER", a->folder, "Where its items go")->required();
    return [a] { return run_extract(*a); };
}

} // namespace

KVTOOL_COMMAND("extract", "Unpack a RAR5 archive through the updater's archive reader", extract);

} // namespace kv::tool
