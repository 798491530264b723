// The updater's window as its start-up builds it in the program folder (the
// current directory): the settings read and the database components set up,
// on a window system that records the boxes instead of showing them. kvtool
// commands that act on the site as the updater would (check, rollback) start
// from it. Start-up creates the default update folder; a command leaves the
// site as it found it, so that folder is removed again when start-up made it.
#pragma once

#include "app/application.h"
#include "app/form1.h"
#include "platform/files.h"
#include "platform/window/scripted/scripted_backend.h"

#include <string>
#include <vector>

namespace kv::tool {

class SiteWindow {
    struct DefaultUpdateFolder {
        const std::string path = TForm1::default_update_folder();
        const bool existed = os::directory_exists(path);
        ~DefaultUpdateFolder() {
            if (!existed) os::remove_directory(path);
        }
    };
    const DefaultUpdateFolder FUpdateFolder;
    window::ScriptedBackend FBackend;

public:
    SiteWindow() {
        FBackend.on_box = [this](const window::BoxRecord& box) { boxes.push_back(box.text); };
        application.Initialize();
        application.CreateForm(form);
    }
    SiteWindow(const SiteWindow&) = delete;
    SiteWindow& operator=(const SiteWindow&) = delete;

    std::vector<std::string> boxes; // the texts of the boxes shown so far
    TApplication application{FBackend};
    TForm1* form = nullptr;
};

} // namespace kv::tool
