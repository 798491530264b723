// A gate on the opening of files in one folder, from outside every program:
// the kernel holds each open of a file directly in the folder, by whichever
// process, until the gate has let it go on or refused it (fanotify's
// permission events; needs root). Under Wine it is the Wine server that
// opens files for its programs, the open before each rename among them, so a
// test finds there the instant between two steps of a program that has no
// hook for it, and can kill the program at that instant or make the step fail.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace kv::test::e2e {

class OpenGate {
public:
    // Returns whether the open of the file `name` (in the folder) goes on;
    // refused, the opener gets "access denied". Called on the gate's own
    // thread while the opener waits: it must neither open files in the
    // folder nor wait for a Wine program.
    using Decide = std::function<bool(const std::string& name)>;

    // Throws std::runtime_error when the system offers no such gate.
    OpenGate(const std::filesystem::path& folder, Decide decide);
    // Lets every open go on again.
    ~OpenGate();
    OpenGate(const OpenGate&) = delete;
    OpenGate& operator=(const OpenGate&) = delete;

private:
    void Serve();

    std::filesystem::path FFolder;
    Decide FDecide;
    int FNotify = -1;
    int FStop[2] = {-1, -1};
    std::thread FThread;
};

} // namespace kv::test::e2e
