// kvtool's subcommands. Each tools/cmd_*.cpp registers its commands with
// KVTOOL_COMMAND(name, description, define): `define` declares the command's
// options and arguments on its CLI11 subcommand (so every command answers
// --help) and returns what runs once they are parsed. Output is JSON on
// standard output; errors go to standard error as "kvtool COMMAND: message"
// with the message the updater would show, and a non-zero exit status.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

namespace kv::tool {

// Runs the command; its exit status.
using Runner = std::function<int()>;
using DefineFn = Runner (*)(CLI::App& command);

struct Registration {
    Registration(const char* name, const char* description, DefineFn define);
};

// The whole content of a file; raises the runtime's file-open error.
std::string read_whole_file(const std::string& name);

// "kvtool COMMAND: message" on standard error, for what a command reports
// itself and goes on or ends with.
void print_command_error(const std::string& message);

} // namespace kv::tool

#define KVTOOL_COMMAND(name, description, define)                                                            \
    static ::kv::tool::Registration kvtool_reg_##define(name, description, define)
