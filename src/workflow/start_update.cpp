// The start-update step: stop the product's programs, delete the cached
// settings files, and in any case hand over to the database step.
#include "app/form1.h"
#include "platform/files.h"
#include "rtl/in_any_case.h"
#include "workflow/packages.h"
#include "workflow/task_killer.h"

namespace kv {

void TForm1::Button4Click(TObject*) {
    in_any_case(
        [this] {
            for (const char* program : kProductPrograms)
                KillProcessByName(program, OnProgramStopped);
            // A file that is missing, read-only or still held stays; nobody is told.
            for (const char* file : kCachedSettingsFiles)
                os::delete_file(os::current_directory() + "\\" + file);
        },
        [this] {
            Button4.SetEnabled(false);
            Button3.SetEnabled(true);
            Button3Click(this);
        });
}

} // namespace kv
