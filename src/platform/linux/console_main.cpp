// The console program's entry on Linux (see console_main.h): arguments and
// terminal are UTF-8 already.
#include "platform/console_main.h"

namespace kv::os {

int run_console_program(int argc, char** argv, ConsoleProgram program) {
    return program(argc, argv);
}

} // namespace kv::os
