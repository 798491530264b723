// The end-to-end runs of the Windows build under Wine: the site's programs
// are the Windows stand-in, the updater is a KVUpdate.exe placed in the site
// folder beside 7-Zip's Windows library and the Firebird client (the bridge
// as fbbridge.dll behind its PE front as fbclient.dll, so the file is held
// while loaded, as on Windows), and the operator works the real window
// through probe.exe, a Windows program in the same Wine server that lists
// windows, clicks, types and lists or ends processes. Wine runs in the
// Turkish locale (code page 1254) on the X server of DISPLAY. Two builds are
// run (see WineTarget): the win64 one under 64-bit Wine in the prefix that
// WINEPREFIX names, and the 32-bit deployable under the emulated 32-bit Wine
// of its root (scripts/wine32) in the prefix that KV_WINE32_PREFIX names;
// scripts/test starts both.
#pragma once

#include "e2e_operator.h"
#include "e2e_site.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kv::test::e2e {

// The build a run takes and the Wine it runs under, chosen by KV_WINE_TARGET:
// "win32" for the 32-bit deployable, otherwise the win64 build. probe.exe
// and the stand-in are the win64 ones for both: the 32-bit Wine's root has
// 64-bit Wine too, in the same Wine server, and the 32-bit updater finds and
// ends 64-bit programs by name as it does 32-bit ones.
struct WineTarget {
    std::string name;                    // "win64" or "win32"
    unsigned machine = 0;                // its programs' processor, as their PE header says it
    std::string prefix_variable, prefix; // the Wine prefix, and the variable that names it
    std::vector<std::string> loader;     // runs a Windows program: loader + {exe, args...}
    std::filesystem::path updater, stand_in, seven_zip, bridge, bridge_front;
};
const WineTarget& wine_target();

// Throws, saying what is missing, unless DISPLAY and the target's prepared
// Wine prefix are set and its programs and Wine peers are there.
void require_wine_peers();

// The shell command that starts a Windows program under the target's Wine in
// the Turkish locale (followed by the program and its arguments).
std::string wine_command();

class WineHost : public ProgramHost {
public:
    std::filesystem::path stand_in() const override;
    std::string start_command(const std::string& name) const override;
    // "Z:\..." : Wine's drive for the root of the Linux file system.
    std::string settings_path(const std::filesystem::path& path) const override;
    bool running(uint32_t pid, const std::string& name) const override;
    void terminate(uint32_t pid, const std::string& name) const override;
    // The updater loads the program folder's fbclient.dll (or gds32.dll), so
    // the release's must work too: the bridge's PE front with a release mark
    // appended, which Wine still loads.
    std::string release_library(const std::string& name) const override;
    // 7-Zip's Windows library has them: the release is compressed.
    bool decodes_compressed() const override { return true; }
    // Puts the updater, 7z.dll and the bridge into the site folder, and the
    // bridge's front as its fbclient.dll unless the site has one.
    void install_updater(const std::filesystem::path& site) const;
};
const WineHost& wine_host();

// The user locale the Windows programs see, as probe.exe reads it: its name
// ("tr-TR"), the ANSI code page and "i" upper-cased by the locale's own
// linguistic rules ("İ" in Turkish).
struct WineLocale {
    std::string name;
    unsigned code_page = 0;
    std::string upper_i;
};
WineLocale wine_locale();

// A process of the Wine server, as probe.exe lists it.
struct WineProcess {
    uint32_t pid = 0;
    std::string name;
    unsigned long long created = 0; // ordering only
};
std::vector<WineProcess> wine_processes();

// A Windows program of the site that the update does not stop holds `file`
// open (reading shared, no writing or deleting), as a program holds a library
// it has loaded, until this ends. Throws when it cannot.
class HeldFile {
public:
    HeldFile(const std::filesystem::path& folder, const std::string& file);
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

private:
    ScratchDir FLog{"held-file"};
    int FPid = -1;
};

// The site's program `name`, started from the site folder as a program with
// higher rights than the updater's runs: KillProcessByName cannot end it
// (see the stand-in's KV_FAKE_PROGRAM_UNSTOPPABLE), so its file stays in use
// through the update. Ended from outside (SIGKILL) by end() or at the latest
// when this ends. Throws when it does not start so guarded.
class UnstoppableProgram {
public:
    UnstoppableProgram(const std::filesystem::path& site, const std::string& name);
    ~UnstoppableProgram();
    UnstoppableProgram(const UnstoppableProgram&) = delete;
    UnstoppableProgram& operator=(const UnstoppableProgram&) = delete;

    bool running() const;
    // Returns once the Wine server no longer lists it, so its file is free.
    void end();

private:
    ScratchDir FLog{"unstoppable"};
    std::string FName;
    int FPid = -1;
    uint32_t FId = 0;
};

// The updater under Wine, driven as UpdaterRun drives the Linux one.
class WineUpdaterRun {
public:
    WineUpdaterRun(const std::filesystem::path& site, const std::filesystem::path& artifacts,
                   const std::optional<std::filesystem::path>& hosts_file = std::nullopt);
    ~WineUpdaterRun();
    WineUpdaterRun(const WineUpdaterRun&) = delete;
    WineUpdaterRun& operator=(const WineUpdaterRun&) = delete;

    // Waits for the main window, then types the access code and Enter.
    void unlock();
    void click(StepButton button);
    Box acknowledge_box(std::chrono::seconds timeout = std::chrono::seconds(60));
    int wait_exit(std::chrono::seconds timeout = std::chrono::seconds(60));
    void expect_open(std::chrono::milliseconds quiet = std::chrono::milliseconds(1500));
    bool running();
    // Ends the updater at once (SIGKILL), as a power cut or a killed process ends it.
    void kill();
    // The Linux process of the updater, for a kill sent from another thread
    // (see OpenGate); kill() reaps it afterwards.
    int process() const { return FPid; }
    // The controls of the main window: role "push button", "label" or "text".
    std::vector<WindowControl> read_window();
    void screenshot(const std::string& stage);

private:
    struct Snapshot;
    Snapshot snapshot();
    std::string main_window();
    std::optional<Box> open_box(std::string* hwnd);
    Box read_and_close_box();

    std::filesystem::path FSite;
    std::filesystem::path FArtifacts;
    std::filesystem::path FLog;
    int FPid = -1;
    std::optional<int> FExitStatus;
    int FShots = 0;
};

} // namespace kv::test::e2e
