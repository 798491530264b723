// What tests must know of Windows (see command.h).
#include "../command.h"

#include <windows.h>

namespace kv::test {

// The C library gives the exit code itself.
int exit_status(int system_result) {
    return system_result;
}

// Wine's ntdll exports its version; Windows' does not.
bool under_wine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

} // namespace kv::test
