// What tests must know of Linux (see command.h).
#include "../command.h"

#include <sys/wait.h>

namespace kv::test {

int exit_status(int system_result) {
    return system_result != -1 && WIFEXITED(system_result) ? WEXITSTATUS(system_result) : -1;
}

bool under_wine() {
    return false;
}

} // namespace kv::test
