// Shell commands for tests, and what the tests must know of the system they
// run on: a command's standard output and exit status, a path quoted for the
// shell, and whether the Windows build runs under Wine.
#pragma once

#include <filesystem>
#include <string>

namespace kv::test {

// What a command printed on standard output, and its exit status (-1 when it
// did not exit by itself: a signal ended it).
struct CommandRun {
    std::string out;
    int status = -1;
};
// Runs a shell command; standard error goes where the test's goes unless the
// command sends it elsewhere. Raises std::runtime_error when no shell starts.
CommandRun run_command(const std::string& command);
// A path in single quotes, for a shell command.
std::string shell_quoted(const std::filesystem::path& p);

// The exit status in what std::system or pclose returned, or -1 when the
// command did not exit by itself.
int exit_status(int system_result);

// Whether this is the Windows build running under Wine (never on Linux).
bool under_wine();

} // namespace kv::test
