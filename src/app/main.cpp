// Program entry: the application object on the window system of the target,
// the main window, and the event loop. No arguments, no environment.
#include "app/application.h"
#include "app/form1.h"
#include "platform/files.h"

int main() {
    auto backend = kv::window::create_native_backend();
    kv::TApplication Application(*backend);
    kv::TForm1* Form1 = nullptr;
    Application.Log.Open(kv::os::current_directory() + "\\KVUpdate.log", KV_VERSION);
    Application.Initialize();
    Application.MainFormOnTaskBar = true;
    Application.CreateForm(Form1);
    Application.Run();
    Application.Log.Close();
    return 0;
}
