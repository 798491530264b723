// The package step of the Windows build on the scripted window, for the
// signed-release table that tests/release/wine_release_test.cpp runs from
// Linux: in the site folder it is started in, it unlocks the window, presses
// "Dosyaları İndir" and prints the text of each error box on a line of its
// own, then "terminated" when the updater would have ended.
//   signed_step HOST PUBLIC.pem 7Z.DLL
#include "app/application.h"
#include "app/form1.h"
#include "platform/unicode.h"
#include "platform/window/scripted/scripted_backend.h"
#include "rtl/stream.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: signed_step HOST PUBLIC.pem 7Z.DLL\n");
        return 2;
    }
    _setmode(_fileno(stdout), _O_BINARY);
    kv::TForm1Config config;
    config.PackageHost = kv::from_wide(argv[1]);
    kv::TFileStream key(kv::from_wide(argv[2]), kv::fmOpenRead | kv::fmShareDenyNone);
    config.ReleasePublicKey.resize(static_cast<size_t>(key.Size()));
    key.ReadBuffer(config.ReleasePublicKey.data(), key.Size());
    config.ArchiveLibrary = kv::from_wide(argv[3]);

    kv::window::ScriptedBackend backend;
    kv::TApplication app(backend);
    kv::TForm1* form = nullptr;
    app.Initialize();
    app.CreateForm(form, std::move(config));
    backend.show_window();
    backend.type(kv::kAccessCode);
    backend.press_enter();
    form->Button5.SetEnabled(true);
    backend.click("Button5");
    for (const kv::window::BoxRecord& box : backend.boxes)
        std::printf("%s\n", box.text.c_str());
    if (app.Terminated()) std::printf("terminated\n");
    return 0;
}
