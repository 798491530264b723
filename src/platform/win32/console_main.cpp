// The console program's entry on Windows (see console_main.h).
#include "platform/console_main.h"

#include "platform/unicode.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace kv::os {
namespace {

// A console shows the program's UTF-8 (Turkish system texts in kvtool
// check's table, say) as it is only while its output code page is UTF-8; the
// console gets its own page back when the program ends.
class UTF8Console {
public:
    UTF8Console() : previous_(GetConsoleOutputCP()) {
        if (previous_ != 0 && previous_ != CP_UTF8) SetConsoleOutputCP(CP_UTF8);
    }
    ~UTF8Console() {
        if (previous_ != 0 && previous_ != CP_UTF8) SetConsoleOutputCP(previous_);
    }
    UTF8Console(const UTF8Console&) = delete;
    UTF8Console& operator=(const UTF8Console&) = delete;

private:
    UINT previous_;
};

} // namespace

int run_console_program(int argc, wchar_t** wargv, ConsoleProgram program) {
    _setmode(_fileno(stdout), _O_BINARY);
    UTF8Console console;
    std::vector<std::string> store;
    for (int i = 0; i < argc; ++i)
        store.push_back(from_wide(wargv[i]));
    std::vector<char*> argv;
    for (auto& s : store)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    return program(argc, argv.data());
}

} // namespace kv::os
