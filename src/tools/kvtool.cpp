// kvtool: the command-line companion for support technicians, benchmarks and
// black-box tests. See tools/command.h for how subcommands plug in.
//
// The command line is read by CLI11 (Debian's libcli11-dev, header-only, so
// the static Windows kvtool.exe carries it too): it gives every command its
// --help, and refuses a wrong word with a message that names it.
#include "tools/command.h"

#include "platform/console_main.h"
#include "rtl/exception.h"
#include "rtl/stream.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace kv::tool {
namespace {

struct Entry {
    const char* description;
    DefineFn define;
};

std::map<std::string, Entry>& registry() {
    static std::map<std::string, Entry> r;
    return r;
}

std::string g_running = "kvtool";

} // namespace

Registration::Registration(const char* name, const char* description, DefineFn define) {
    registry()[name] = {description, define};
}

void print_command_error(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", g_running.c_str(), message.c_str());
    std::fflush(stderr);
}

int run(int argc, char** argv) {
    CLI::App app{"kvtool: the KV Update 2027 companion for support technicians", "kvtool"};
    // Arguments are often paths ("/srv/x.fdb", "/2027/kuvento.rar"): a leading
    // slash is never an option, on Windows either.
    app.allow_windows_style_options(false);
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Every command's help");
    std::map<CLI::App*, Runner> runners;
    for (auto& [name, entry] : registry()) {
        CLI::App* command = app.add_subcommand(name, entry.description);
        runners[command] = entry.define(*command);
    }
    if (argc > 1 && argv[1][0] != '-' && !registry().count(argv[1])) {
        print_command_error("unknown command \"" + std::string(argv[1]) + "\"");
        std::fprintf(stderr, "Run \"kvtool --help\" for the commands.\n");
        return 2;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        const auto chosen = app.get_subcommands();
        g_running = chosen.empty() ? "kvtool" : "kvtool " + chosen.front()->get_name();
        print_command_error(e.what());
        std::fprintf(stderr, "Run \"%s --help\" for its usage.\n", g_running.c_str());
        return 2;
    }
    CLI::App* command = app.get_subcommands().front();
    g_running = "kvtool " + command->get_name();
    try {
        return runners.at(command)();
    } catch (...) {
        print_command_error(describe_exception(std::current_exception()).message);
        return 1;
    }
}

std::string read_whole_file(const std::string& name) {
    TFileStream f(name, fmOpenRead | fmShareDenyNone);
    std::string text(static_cast<size_t>(f.Size()), '\0');
    f.ReadBuffer(text.data(), static_cast<int64_t>(text.size()));
    return text;
}

} // namespace kv::tool

KV_CONSOLE_MAIN(kv::tool::run)
