// The operator's side of the end-to-end tests: an X display, the real updater
// started in a site folder, and what a person does with its window — type the
// access code, click the step buttons, read and acknowledge each box — done
// with xdotool, plus screenshots of every stage kept as test artifacts.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kv::test::e2e {

// Runs a shell command; returns its exit status and standard output.
struct CommandResult {
    int status = -1;
    std::string output;
};
CommandResult shell(const std::string& command);
// Quotes a text for the shell.
std::string quoted(const std::string& text);

// Starts `args` in folder `dir` with its output appended to `log`; returns its
// process id. With `hosts_file`, the program sees that file as /etc/hosts (a
// mount namespace of its own), so names resolve differently for it alone.
int start_process(const std::vector<std::string>& args, const std::filesystem::path& dir,
                  const std::filesystem::path& log,
                  const std::optional<std::filesystem::path>& hosts_file = std::nullopt);
// Whether the started process still runs; once it has ended, its exit status
// is in *exit_status (-1 when it did not exit by itself).
bool child_running(int pid, std::optional<int>& exit_status);
// Ends a started process that still runs.
void kill_child(int pid);
// Keeps a screenshot of the whole display as <artifacts>/<nn>-<stage>.png,
// counting with *shots.
void keep_screenshot(const std::filesystem::path& artifacts, int* shots, const std::string& stage);

// The X display the tests use: DISPLAY when it is set (scripts/test starts
// one), otherwise a private Xvfb started on first use and stopped at exit.
// Also starts a private session bus with the accessibility service, through
// which the boxes are read, and turns accessibility on for Qt programs.
const std::string& display();

// A message box of the updater as the operator saw it.
struct Box {
    std::string caption; // the window's title
    std::string text;    // the message
};

// A control of the updater's window as the accessibility service shows it.
struct WindowControl {
    std::string role; // "push button", "label", ...
    bool enabled = false;
    bool shown = false;
    std::string text; // caption, label text or content; line breaks as "\n"
};

// The step buttons of the unlocked window.
enum class StepButton { Start, Database, Packages };

// The control of the window showing exactly `text`, or the log (a text
// control) holding it.
const WindowControl* control(const std::vector<WindowControl>& window, const std::string& text);
// After a step stopped on an error the window stays with the two later step
// buttons enabled, so the operator can run them again by hand.
void expect_steps_can_be_repeated(const std::vector<WindowControl>& window);

class UpdaterRun {
public:
    // Starts the updater with `site` as its working directory. With
    // `hosts_file`, the updater sees that file as /etc/hosts (a mount
    // namespace of its own), so names resolve differently for it alone.
    UpdaterRun(const std::filesystem::path& site, const std::filesystem::path& artifacts,
               const std::optional<std::filesystem::path>& hosts_file = std::nullopt);
    ~UpdaterRun();
    UpdaterRun(const UpdaterRun&) = delete;
    UpdaterRun& operator=(const UpdaterRun&) = delete;

    // Waits for the main window, then types the access code and Enter.
    void unlock();
    void click(StepButton button);
    // Waits for the next box, keeps a screenshot of it, reads it and presses
    // OK. Throws when the updater ends first or none comes within `timeout`.
    Box acknowledge_box(std::chrono::seconds timeout = std::chrono::seconds(60));
    // The same for a box start-up shows before the main window appears.
    Box acknowledge_startup_box(std::chrono::seconds timeout = std::chrono::seconds(60));
    // Waits until the updater has ended and returns its exit status. A box
    // that appears meanwhile is acknowledged and makes this throw, naming it.
    int wait_exit(std::chrono::seconds timeout = std::chrono::seconds(60));
    // Waits `quiet` and throws if the updater ended or showed a box by then.
    void expect_open(std::chrono::milliseconds quiet = std::chrono::milliseconds(1500));
    bool running();
    // The controls of the main window, in the order of the window's tree.
    std::vector<WindowControl> read_window();
    // Keeps a screenshot of the whole display as <artifacts>/<n>-<stage>.png.
    void screenshot(const std::string& stage);

private:
    std::string main_window();
    std::optional<std::string> box_window();
    Box read_and_close_box(const std::string& window);

    std::filesystem::path FSite;
    std::filesystem::path FArtifacts;
    std::filesystem::path FLog;
    int FPid = -1;
    std::optional<int> FExitStatus;
    std::string FWindow;
    int FShots = 0;
};

} // namespace kv::test::e2e
