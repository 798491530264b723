// Program entry: the application object on the window system of the target,
// the main window, and the event loop. No arguments, no environment.
#include "app/application.h"
#include "app/form1.h"
#include "platform/files.h"
#include "workflow/put_in_place.h"

namespace {

// A change to the program folder that a crash interrupted is finished or
// undone before anything else, so that every product file is whole; the
// notice (and with it the run log) says which files this touched.
void recover_interrupted_update(kv::TApplication& application) {
    const std::string folder = kv::os::current_directory();
    if (kv::unfinished_changes(folder).empty()) return;
    try {
        std::string text = "Yarıda kalan güncelleme değişiklikleri düzeltildi:";
        for (const kv::Recovered& r : kv::recover_unfinished(folder))
            text += "\n" + r.name + (r.finished ? " (yeni sürüm yerleştirildi)" : " (eski sürüm geri kondu)");
        application.ShowMessage(text);
    } catch (const kv::Exception& e) {
        application.ShowMessage(e.Message());
    }
}

} // namespace

int main() {
    auto backend = kv::window::create_native_backend();
    kv::TApplication Application(*backend);
    kv::TForm1* Form1 = nullptr;
    Application.Log.Open(kv::os::current_directory() + "\\KVUpdate.log", KV_VERSION);
    Application.Initialize();
    recover_interrupted_update(Application);
    Application.MainFormOnTaskBar = true;
    Application.CreateForm(Form1);
    Application.Run();
    Application.Log.Close();
    return 0;
}
