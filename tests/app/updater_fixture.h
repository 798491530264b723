// A scratch site folder that is the working directory while a test runs, and
// the updater's window on the scripted backend, built the way the program
// entry builds it.
#pragma once

#include "app/application.h"
#include "app/form1.h"
#include "platform/files.h"
#include "platform/window/scripted/scripted_backend.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace kv::test {

class SiteFolder {
public:
    SiteFolder() : FPrevious(std::filesystem::current_path()) {
        static std::atomic<int> counter{0};
        FDir = std::filesystem::temp_directory_path() /
               ("kv-site-" + std::to_string(std::random_device{}()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(FDir);
        std::filesystem::current_path(FDir);
    }
    ~SiteFolder() {
        std::filesystem::current_path(FPrevious);
        std::error_code ec;
        // Read-only files left by a test must not keep the folder.
        for (auto& e : std::filesystem::recursive_directory_iterator(FDir, ec))
            if (!e.is_symlink())
                std::filesystem::permissions(e.path(), std::filesystem::perms::owner_write,
                                             std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(FDir, ec);
    }
    SiteFolder(const SiteFolder&) = delete;
    SiteFolder& operator=(const SiteFolder&) = delete;

    const std::filesystem::path& path() const { return FDir; }
    std::filesystem::path write(const std::string& name, const std::string& content = "x") const {
        std::filesystem::path p = FDir / std::filesystem::u8path(name);
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }

private:
    std::filesystem::path FPrevious;
    std::filesystem::path FDir;
};

// The package server's host for tests: a loopback port nothing listens on.
inline TForm1Config test_config() {
    TForm1Config config;
    config.PackageHost = "127.0.0.1:9";
    // The same tries, with waits short enough for a test.
    config.DownloadRetry.FirstWaitMs = 5;
    config.DownloadRetry.MaxWaitMs = 20;
    config.DownloadRetry.JitterMs = 0;
    return config;
}

// Initialize, CreateForm (which runs FormCreate), then the first thing Run
// does: show the window. With `run_log` the run log is opened first, in the
// working directory, as the program entry opens it.
struct Updater {
    explicit Updater(TForm1Config config = test_config(), bool run_log = false) {
        if (run_log) app.Log.Open(os::current_directory() + "\\KVUpdate.log", KV_VERSION);
        app.Initialize();
        app.MainFormOnTaskBar = true;
        app.CreateForm(form, std::move(config));
        backend.show_window();
    }
    void unlock() {
        backend.type(kAccessCode);
        backend.press_enter();
    }

    window::ScriptedBackend backend;
    TApplication app{backend};
    TForm1* form = nullptr;
};

} // namespace kv::test
