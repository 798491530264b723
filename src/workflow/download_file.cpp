// The file download of the package step and the three progress handlers of
// NetHTTP1 that move the progress bar and its text while a body arrives.
// The handlers use the low 32 bits of the 64-bit counts, as a signed number.
//
// The body goes into a file beside the target and takes the target's name
// only once it has arrived whole: a failed or cut download leaves the file it
// was to replace as it was (the logo lives in the program folder), and leaves
// no part of itself behind. With a release key, the body must also match the
// release's manifest before it takes that name.
#include "app/form1.h"
#include "platform/files.h"
#include "rtl/exception.h"
#include "rtl/in_any_case.h"
#include "rtl/stream.h"

#include <memory>

namespace kv {
namespace {

int32_t low32(int64_t count) {
    return static_cast<int32_t>(static_cast<uint32_t>(count));
}

} // namespace

void TForm1::DownloadFile(const std::string& url, const std::string& dosya) {
    const std::string partial = dosya + ".part";
    try {
        auto file = std::make_unique<TFileStream>(partial, fmCreate);
        NetHTTP1.OnWorkBegin = [this](TNetComponent* s, TWorkMode m, int64_t n) { NetHTTP1WorkBegin(s, m, n); };
        NetHTTP1.OnWork = [this](TNetComponent* s, TWorkMode m, int64_t n) { NetHTTP1Work(s, m, n); };
        bool complete = false;
        in_any_case(
            [&] {
                NetHTTP1.Get(url, file.get());
                file.reset();
                CheckDownload(url, partial);
                if (!os::replace_file(partial, dosya))
                    throw EFCreateError(cannot_create_file_message(dosya, os::last_error()));
                complete = true;
            },
            [&] {
                file.reset();
                if (!complete) os::delete_file(partial);
                PaintHeldChanges();
            });
    } catch (...) {
        Log().Download(url, dosya, std::current_exception());
        throw;
    }
    Log().Download(url, dosya, nullptr);
}

void TForm1::NetHTTP1WorkBegin(TNetComponent*, TWorkMode, int64_t AWorkCountMax) {
    SetProgressMax(low32(AWorkCountMax));
    SetProgressPosition(0);
    SetProgressText("% 0");
}

void TForm1::NetHTTP1Work(TNetComponent*, TWorkMode, int64_t AWorkCount) {
    SetProgressPosition(low32(AWorkCount));
    RepaintProgressBar();
    SetProgressText("% " + std::to_string(ProgressPosition()));
    ProcessMessages();
}

void TForm1::NetHTTP1WorkEnd(TNetComponent*, TWorkMode) {
    SetProgressText("% 100");
}

} // namespace kv
