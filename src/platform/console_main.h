// The entry point of a console program (kvtool): its arguments as UTF-8, and
// a console that shows the UTF-8 the program writes. Windows: the program
// enters at wmain (link with -municode), its arguments arrive as UTF-16 and
// are converted; standard output is binary, so "\n" stays one byte; a
// console's output code page is UTF-8 while the program runs and its own
// again afterwards (without a console nothing changes). Linux: the arguments
// and the terminal are UTF-8 already; nothing changes.
#pragma once

namespace kv::os {

// The program proper: arguments as UTF-8, returns the exit status.
using ConsoleProgram = int (*)(int argc, char** argv);

// Runs `program` with the arguments of the platform's entry point.
int run_console_program(int argc, char** argv, ConsoleProgram program);
int run_console_program(int argc, wchar_t** argv, ConsoleProgram program);

} // namespace kv::os

// Defines the platform's entry point, which runs `program`. Write it once, at
// file scope, in the program's own source.
#ifdef _WIN32
#define KV_CONSOLE_MAIN(program)                                                                             \
    int wmain(int argc, wchar_t** argv) {                                                                    \
        return kv::os::run_console_program(argc, argv, program);                                             \
    }
#else
#define KV_CONSOLE_MAIN(program)                                                                             \
    int main(int argc, char** argv) {                                                                        \
        return kv::os::run_console_program(argc, argv, program);                                             \
    }
#endif
