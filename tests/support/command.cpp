// Shell commands for tests (see command.h).
#include "command.h"

#include "fake_programs.h"

#include <cstdio>
#include <stdexcept>

namespace kv::test {

std::string shell_quoted(const std::filesystem::path& p) {
    std::string quoted(1, '\'');
    quoted += utf8(p);
    quoted += '\'';
    return quoted;
}

CommandRun run_command(const std::string& command) {
    CommandRun r;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) throw std::runtime_error("cannot run " + command);
    char buf[4096];
    while (size_t n = std::fread(buf, 1, sizeof buf, p))
        r.out.append(buf, n);
    r.status = exit_status(::pclose(p));
    return r;
}

} // namespace kv::test
