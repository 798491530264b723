// kvtool's subcommands. Each tools/cmd_*.cpp registers its commands with
// KVTOOL_COMMAND; main() dispatches on the first argument. Output is one JSON
// object per line on standard output; errors go to standard error with the
// message the updater would show, and a non-zero exit status.
#pragma once

#include <string>
#include <vector>

namespace kv::tool {

using Args = std::vector<std::string>;
using CommandFn = int (*)(const Args& args);

struct Registration {
    Registration(const char* name, const char* usage, CommandFn fn);
};

// Prints the usage line of the running command to stderr; returns 2.
int usage_error();

// The whole content of a file; raises the runtime's file-open error.
std::string read_whole_file(const std::string& name);

} // namespace kv::tool

#define KVTOOL_COMMAND(name, usage, fn) static ::kv::tool::Registration kvtool_reg_##fn(name, usage, fn)
