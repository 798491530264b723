// Benchmark helper (run by scripts/bench/http-download-window, not a test):
// the updater's window on the native backend, showing its progress panel,
// downloads one URL into one file through DownloadFile, so every progress
// event repaints the bar and pumps the window's events. Prints the seconds
// taken. Run it in a folder holding a kvayarlar.ini.
#include "app/application.h"
#include "app/form1.h"
#include "rtl/exception.h"

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: download_window_bench URL FILE\n");
        return 2;
    }
    auto backend = kv::window::create_native_backend();
    kv::TApplication app(*backend);
    kv::TForm1* form = nullptr;
    app.Initialize();
    app.CreateForm(form);
    backend->show_window();
    form->Panel1.SetVisible(true);
    auto start = std::chrono::steady_clock::now();
    try {
        form->DownloadFile(argv[1], argv[2]);
    } catch (const kv::Exception& e) {
        std::fprintf(stderr, "%s\n", e.Message().c_str());
        return 1;
    }
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f s, progress text %s, bar at %d\n", secs, form->Label27.Caption().c_str(),
                form->ProgressPosition());
    return 0;
}
