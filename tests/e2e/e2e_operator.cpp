// The operator's side of the end-to-end tests (see e2e_operator.h). Linux
// only: the updater is started with posix_spawn and watched with waitpid, the
// window is found and driven with xdotool, screenshots come from xwd.
#include "e2e_operator.h"

#include "app/form1.h"
#include "support/command.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace kv::test::e2e {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

CommandResult shell(const std::string& command) {
    const CommandRun r = run_command(command);
    return {r.status, r.out};
}

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

namespace {

std::string first_line(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

pid_t spawn(const std::vector<std::string>& args, const posix_spawn_file_actions_t* actions) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    int rc = ::posix_spawnp(&pid, argv[0], actions, nullptr, argv.data(), environ);
    if (rc != 0) throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
    return pid;
}

// A private X server for runs without DISPLAY; it writes its display number
// to the pipe once it accepts clients.
class PrivateXvfb {
public:
    PrivateXvfb() {
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        FPid =
            spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"}, &actions);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        std::string number;
        char c;
        while (::read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(fds[0]);
        if (number.empty()) throw std::runtime_error("Xvfb did not start");
        FName = ":" + number;
    }
    ~PrivateXvfb() {
        ::kill(FPid, SIGTERM);
        ::waitpid(FPid, nullptr, 0);
    }
    const std::string& name() const { return FName; }

private:
    pid_t FPid = -1;
    std::string FName;
};

std::string xdotool(const std::string& args) {
    return shell("xdotool " + args + " 2>/dev/null").output;
}

// A private session bus: the accessibility service through which the tests
// read the updater's boxes lives on it.
class PrivateSessionBus {
public:
    PrivateSessionBus() {
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        FPid = spawn({"dbus-daemon", "--session", "--nofork", "--print-address=3"}, &actions);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        char c;
        while (::read(fds[0], &c, 1) == 1 && c != '\n')
            FAddress += c;
        ::close(fds[0]);
        if (FAddress.empty()) throw std::runtime_error("dbus-daemon did not start");
    }
    ~PrivateSessionBus() {
        ::kill(FPid, SIGTERM);
        ::waitpid(FPid, nullptr, 0);
    }
    const std::string& address() const { return FAddress; }

private:
    pid_t FPid = -1;
    std::string FAddress;
};

} // namespace

const std::string& display() {
    static const std::string name = [] {
        std::string display;
        if (const char* d = std::getenv("DISPLAY"); d && *d) {
            display = d;
        } else {
            static PrivateXvfb server;
            ::setenv("DISPLAY", server.name().c_str(), 1);
            display = server.name();
        }
        static PrivateSessionBus bus;
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
        // Qt programs started from here publish their windows to the service.
        ::setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
        bool ready = false;
        for (int i = 0; i < 50 && !ready; ++i) {
            ready = shell(std::string(KV_E2E_READER) + " --ready 2>&1").status == 0;
            if (!ready) std::this_thread::sleep_for(200ms);
        }
        if (!ready) throw std::runtime_error("the accessibility service did not start");
        return display;
    }();
    return name;
}

int start_process(const std::vector<std::string>& args, const fs::path& dir, const fs::path& log,
                  const std::optional<fs::path>& hosts_file) {
    std::vector<std::string> command = args;
    if (hosts_file)
        command.insert(command.begin(),
                       {"unshare", "-m", "sh", "-c",
                        "hosts=$0; mount --bind \"$hosts\" /etc/hosts && exec \"$@\"", hosts_file->string()});
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = spawn(command, &actions);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

bool child_running(int pid, std::optional<int>& exit_status) {
    if (exit_status) return false;
    int status = 0;
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == 0) return true;
    exit_status = r == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return false;
}

void kill_child(int pid) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

void keep_screenshot(const fs::path& artifacts, int* shots, const std::string& stage) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d-", ++*shots);
    fs::path file = artifacts / (number + stage + ".png");
    shell("xwd -root -silent -display " + quoted(display()) + " | convert xwd:- " +
          quoted("png:" + file.string()));
}

const WindowControl* control(const std::vector<WindowControl>& window, const std::string& text) {
    for (const WindowControl& c : window)
        if (c.text == text || (c.role == "text" && c.text.find(text) != std::string::npos)) return &c;
    return nullptr;
}

void expect_steps_can_be_repeated(const std::vector<WindowControl>& window) {
    for (const auto& [caption, enabled] : std::vector<std::pair<std::string, bool>>{
             {"Güncelleme Başla", false}, {"SQL Çalıştır", true}, {"Dosyaları İndir", true}}) {
        const WindowControl* button = control(window, caption);
        ASSERT_NE(button, nullptr) << caption;
        EXPECT_TRUE(button->shown) << caption;
        EXPECT_EQ(button->enabled, enabled) << caption;
    }
}

UpdaterRun::UpdaterRun(const fs::path& site, const fs::path& artifacts,
                       const std::optional<fs::path>& hosts_file)
    : FSite(site), FArtifacts(artifacts), FLog(artifacts / "kvupdate.log") {
    display();
    fs::create_directories(FArtifacts);
    FPid = start_process({KV_E2E_UPDATER}, site, FLog, hosts_file);
}

UpdaterRun::~UpdaterRun() {
    if (running()) {
        screenshot("left-running");
        kill_child(FPid);
    }
    // What the programs and the settings said, next to the screenshots.
    std::error_code ec;
    for (const char* name : {"programs.log", "kvayarlar.ini"})
        fs::copy_file(FSite / name, FArtifacts / name, fs::copy_options::overwrite_existing, ec);
}

bool UpdaterRun::running() {
    return child_running(FPid, FExitStatus);
}

void UpdaterRun::screenshot(const std::string& stage) {
    keep_screenshot(FArtifacts, &FShots, stage);
}

std::string UpdaterRun::main_window() {
    if (FWindow.empty()) {
        FWindow = first_line(
            shell("timeout 60 xdotool search --sync --onlyvisible --name '^KV Update 2027$' 2>/dev/null")
                .output);
        if (FWindow.empty())
            throw std::runtime_error("the updater's window did not appear; its output is in " +
                                     FLog.string());
    }
    return FWindow;
}

void UpdaterRun::unlock() {
    const std::string w = main_window();
    screenshot("locked");
    xdotool("windowfocus --sync " + w);
    // The first key an X server takes from a new client can be lost: a key
    // taken back at once makes sure the code arrives whole.
    xdotool("type --delay 50 a");
    xdotool("key BackSpace");
    xdotool("type --delay 50 " + quoted(kAccessCode));
    xdotool("key Return");
    // A click lands only once the panel is up, and a busy machine can take
    // long to deliver the keys: wait for the start button to be shown.
    // (The window may reach the accessibility service after the screen.)
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    for (;;) {
        std::vector<WindowControl> window;
        try {
            window = read_window();
        } catch (const std::runtime_error&) {
        }
        for (const WindowControl& c : window)
            if (c.role == "push button" && c.text == "Güncelleme Başla" && c.shown) {
                screenshot("unlocked");
                return;
            }
        if (std::chrono::steady_clock::now() > deadline) break;
        std::this_thread::sleep_for(100ms);
    }
    screenshot("still-locked");
    throw std::runtime_error("the update panel did not appear after the access code");
}

void UpdaterRun::click(StepButton button) {
    // Centres of the buttons in the window's 258-pixel-wide client area at
    // 96 dpi; Qt scales the window as a whole.
    const std::string w = main_window();
    std::istringstream geometry(xdotool("getwindowgeometry --shell " + w));
    int width = 258;
    for (std::string line; std::getline(geometry, line);)
        if (line.rfind("WIDTH=", 0) == 0) width = std::stoi(line.substr(6));
    const double scale = width / 258.0;
    const int y = button == StepButton::Start ? 126 : button == StepButton::Database ? 171 : 216;
    xdotool("mousemove --window " + w + " " + std::to_string(int(128 * scale)) + " " +
            std::to_string(int(y * scale)) + " click 1");
    screenshot(button == StepButton::Start      ? "clicked-start"
               : button == StepButton::Database ? "clicked-database"
                                                : "clicked-packages");
}

std::optional<std::string> UpdaterRun::box_window() {
    std::istringstream list(xdotool("search --onlyvisible --pid " + std::to_string(FPid)));
    for (std::string id; std::getline(list, id);)
        if (!id.empty() && id != FWindow && xdotool("getwindowname " + id) != "KV Update 2027\n") return id;
    return std::nullopt;
}

Box UpdaterRun::read_and_close_box(const std::string& w) {
    screenshot("box");
    Box box;
    box.caption = first_line(xdotool("getwindowname " + w));
    // The box is on the screen before its text reaches the service.
    for (int attempt = 0; attempt < 25 && box.text.empty(); ++attempt) {
        CommandResult read =
            shell("timeout 10 " + std::string(KV_E2E_READER) + " boxes " + std::to_string(FPid));
        std::istringstream lines(read.output);
        std::string line;
        std::getline(lines, line); // the caption
        while (std::getline(lines, line) && line != "--")
            box.text += (box.text.empty() ? "" : "\n") + line;
        if (box.text.empty()) std::this_thread::sleep_for(200ms);
    }
    if (box.text.empty()) throw std::runtime_error("could not read the box \"" + box.caption + "\"");
    std::printf("box \"%s\": %s\n", box.caption.c_str(), box.text.c_str());
    std::fflush(stdout);
    xdotool("windowfocus --sync " + w);
    xdotool("key Return");
    for (int i = 0; i < 100; ++i) {
        if (xdotool("search --onlyvisible --pid " + std::to_string(FPid)).find(w) == std::string::npos)
            return box;
        std::this_thread::sleep_for(100ms);
    }
    throw std::runtime_error("the box \"" + box.text + "\" did not close");
}

Box UpdaterRun::acknowledge_box(std::chrono::seconds timeout) {
    main_window();
    return acknowledge_startup_box(timeout);
}

Box UpdaterRun::acknowledge_startup_box(std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!running())
            throw std::runtime_error("the updater ended (status " + std::to_string(*FExitStatus) +
                                     ") where a box was expected");
        if (auto w = box_window()) return read_and_close_box(*w);
        std::this_thread::sleep_for(200ms);
    }
    screenshot("no-box");
    throw std::runtime_error("no box appeared");
}

int UpdaterRun::wait_exit(std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!running()) {
            screenshot("ended");
            return *FExitStatus;
        }
        if (auto w = box_window()) {
            Box box = read_and_close_box(*w);
            throw std::runtime_error("unexpected box \"" + box.caption + "\": " + box.text);
        }
        std::this_thread::sleep_for(200ms);
    }
    screenshot("still-running");
    throw std::runtime_error("the updater did not end");
}

std::vector<WindowControl> UpdaterRun::read_window() {
    CommandResult read =
        shell("timeout 10 " + std::string(KV_E2E_READER) + " window " + std::to_string(FPid));
    if (read.status != 0) throw std::runtime_error("could not read the updater's window");
    std::vector<WindowControl> controls;
    std::istringstream lines(read.output);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream in(line);
        for (std::string f; fields.size() < 3 && std::getline(in, f, '\t');)
            fields.push_back(f);
        std::string rest;
        std::getline(in, rest);
        if (fields.size() == 3)
            controls.push_back({fields[0], fields[1] == "enabled", fields[2] == "shown", rest});
    }
    return controls;
}

void UpdaterRun::expect_open(std::chrono::milliseconds quiet) {
    const auto deadline = std::chrono::steady_clock::now() + quiet;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!running())
            throw std::runtime_error("the updater ended (status " + std::to_string(*FExitStatus) + ")");
        if (auto w = box_window()) {
            Box box = read_and_close_box(*w);
            throw std::runtime_error("unexpected box \"" + box.caption + "\": " + box.text);
        }
        std::this_thread::sleep_for(200ms);
    }
    screenshot("open");
}

} // namespace kv::test::e2e
