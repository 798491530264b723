// kvtool settings: reads kvayarlar.ini in the current folder exactly as the
// updater's start-up does (the same window, drawn by the scripted backend)
// and prints the six site settings. A box start-up shows goes to standard
// error; the command fails when start-up would end the updater (the missing
// settings file). A refused UPDATE_ADRES is printed with why it was refused.
#include "app/application.h"
#include "app/form1.h"
#include "platform/window/scripted/scripted_backend.h"
#include "tools/command.h"
#include "tools/json.h"

#include <cstdio>

namespace {

int print_settings() {
    kv::window::ScriptedBackend backend;
    backend.on_box = [](const kv::window::BoxRecord& box) { kv::tool::print_command_error(box.text); };
    kv::TApplication application(backend);
    application.Initialize();
    kv::TForm1* form = nullptr;
    application.CreateForm(form);
    if (application.Terminated()) return 1;
    const kv::SiteSettings& s = form->Settings();
    kv::tool::Json settings{{"UpdateBaseUrl", s.UpdateBaseUrl},     {"ServerAddress", s.ServerAddress},
                            {"ApplicationPath", s.ApplicationPath}, {"DatabasePath", s.DatabasePath},
                            {"ReportPath", s.ReportPath},           {"UpdateFolder", s.UpdateFolder}};
    if (const auto& refused = form->UpdateFolderRefused())
        settings["UpdateFolderRefused"] = {{"UPDATE_ADRES", refused->value},
                                           {"reason", kv::refusal_reason(refused->why)}};
    kv::tool::print_json(settings);
    return 0;
}

kv::tool::Runner cmd_settings(CLI::App&) {
    return print_settings;
}

} // namespace

KVTOOL_COMMAND("settings", "Read kvayarlar.ini in this folder as the updater's start-up does", cmd_settings);
