// Starting a program file the way the desktop opens it, for the restart of
// the product at the end of the update. The started program inherits the
// working directory and is not tied to the updater: it outlives it.
#pragma once

#include <string_view>

namespace kv::os {

// Starts the program file at `path` (UTF-8, "\" separators allowed) with no
// arguments. Windows: ShellExecuteW with the verb "open", no working folder
// and SW_SHOWNORMAL, `owner_window` (an HWND) as the parent of any box the
// shell shows. Linux: the file is run detached in a session of its own, with
// no terminal and standard streams on /dev/null; `owner_window` is unused.
// true when the program was started; the workflow ignores the result.
bool start_program(std::string_view path, void* owner_window = nullptr);

} // namespace kv::os
