// The package installation step. For now only its first phase: the update
// folder is emptied and created again.
#include "app/form1.h"
#include "platform/files.h"

namespace kv {

void TForm1::Button5Click(TObject*) {
    DeleteDirectory(FSettings.UpdateFolder);
    os::create_directory(FSettings.UpdateFolder);
}

} // namespace kv
