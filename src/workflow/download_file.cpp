// The file download of the package step and the three progress handlers of
// NetHTTP1 that move the progress bar and its text while a body arrives.
// The handlers use the low 32 bits of the 64-bit counts, as a signed number.
//
// The body goes into a file beside the target and takes the target's name
// only once it has arrived whole: a failed or cut download leaves the file it
// was to replace as it was (the logo lives in the program folder), and leaves
// no part of itself behind. With a release key, the body must also match the
// release's manifest before it takes that name, and may not be longer than
// the manifest lists.
//
// A cut body is resumed and a transient failure tried again (TNetDownload);
// while it waits the window keeps pumping its events, the progress text says
// that it tries again, and the run log records each failed try.
#include "app/form1.h"
#include "http/net_download.h"
#include "http/net_exceptions.h"
#include "platform/files.h"
#include "rtl/exception.h"
#include "rtl/in_any_case.h"
#include "rtl/stream.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

namespace kv {
namespace {

int32_t low32(int64_t count) {
    return static_cast<int32_t>(static_cast<uint32_t>(count));
}

} // namespace

void TForm1::DownloadFile(const std::string& url, const std::string& dosya) {
    const std::string partial = dosya + ".part";
    try {
        // A file the release does not list is refused before a byte is asked for.
        const int64_t listed = FRelease ? FRelease->entry(release::server_path(url)).size : -1;
        auto file = std::make_unique<TFileStream>(partial, fmCreate);
        TNetDownload download(NetHTTP1, Config.DownloadRetry);
        download.ExpectedSize = listed;
        download.OnTry = [&](const TNetDownloadTry& t) {
            Log().DownloadTry(url, t.Number, t.Cause, t.Kept, t.WaitMs);
            if (t.WaitMs < 0) return;
            SetProgressText("% " + std::to_string(ProgressPosition()) + " — yeniden deneniyor (" +
                            std::to_string(t.WithoutProgress + 1) + "/" +
                            std::to_string(Config.DownloadRetry.TriesWithoutProgress) + ")");
            PaintHeldChanges();
        };
        download.Wait = [this](int ms) { WaitPumping(ms); };
        bool complete = false;
        in_any_case(
            [&] {
                try {
                    download.Get(url, *file);
                } catch (const ENetBodyLengthRefused& e) {
                    if (!FRelease) throw;
                    throw release::EReleaseError(release::server_path(url) +
                                                 " boyutu sürüm listesindekinden farklı: " + e.Message());
                }
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

void TForm1::WaitPumping(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        ProcessMessages();
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) return;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(until - now, std::chrono::milliseconds(20)));
    }
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
