// kvtool: the command-line companion for support technicians, benchmarks and
// black-box tests. See tools/command.h for how subcommands plug in.
#include "tools/command.h"

#include "rtl/exception.h"
#include "rtl/stream.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#ifdef _WIN32
#include "platform/unicode.h"
#include <fcntl.h>
#include <io.h>
#endif

namespace kv::tool {
namespace {

struct Entry {
    const char* usage;
    CommandFn fn;
};

std::map<std::string, Entry>& registry() {
    static std::map<std::string, Entry> r;
    return r;
}

const char* g_running = nullptr;

int list_commands() {
    std::fprintf(stderr, "usage: kvtool COMMAND [ARGS]\n");
    for (auto& [name, e] : registry())
        std::fprintf(stderr, "  kvtool %s %s\n", name.c_str(), e.usage);
    return 2;
}

} // namespace

int run(int argc, char** argv) {
    if (argc < 2) return list_commands();
    auto it = registry().find(argv[1]);
    if (it == registry().end()) return list_commands();
    g_running = it->first.c_str();
    Args args(argv + 2, argv + argc);
    try {
        return it->second.fn(args);
    } catch (...) {
        ErrorInfo info = describe_exception(std::current_exception());
        std::fprintf(stderr, "%s\n", info.message.c_str());
        return 1;
    }
}

Registration::Registration(const char* name, const char* usage, CommandFn fn) {
    registry()[name] = {usage, fn};
}

std::string read_whole_file(const std::string& name) {
    TFileStream f(name, fmOpenRead | fmShareDenyNone);
    std::string text(static_cast<size_t>(f.Size()), '\0');
    f.ReadBuffer(text.data(), static_cast<int64_t>(text.size()));
    return text;
}

int usage_error() {
    auto it = registry().find(g_running ? g_running : "");
    if (it != registry().end())
        std::fprintf(stderr, "usage: kvtool %s %s\n", it->first.c_str(), it->second.usage);
    return 2;
}

} // namespace kv::tool

#ifdef _WIN32
// Arguments arrive as UTF-16; everything inside is UTF-8.
int wmain(int argc, wchar_t** wargv) {
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<std::string> store;
    for (int i = 0; i < argc; ++i)
        store.push_back(kv::from_wide(wargv[i]));
    std::vector<char*> argv;
    for (auto& s : store)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    return kv::tool::run(argc, argv.data());
}
#else
int main(int argc, char** argv) {
    return kv::tool::run(argc, argv);
}
#endif
