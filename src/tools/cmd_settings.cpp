// kvtool settings: reads kvayarlar.ini in the current folder exactly as the
// updater's start-up does (the same window, drawn by the scripted backend)
// and prints the six site settings. A box start-up shows (the missing
// settings file) goes to standard error, and the command fails.
#include "app/application.h"
#include "app/form1.h"
#include "platform/window/scripted/scripted_backend.h"
#include "tools/command.h"
#include "tools/json.h"

#include <cstdio>

namespace {

int cmd_settings(const kv::tool::Args& args) {
    if (!args.empty()) return kv::tool::usage_error();
    kv::window::ScriptedBackend backend;
    backend.on_box = [](const kv::window::BoxRecord& box) { std::fprintf(stderr, "%s\n", box.text.c_str()); };
    kv::TApplication application(backend);
    application.Initialize();
    kv::TForm1* form = nullptr;
    application.CreateForm(form);
    if (application.Terminated() || !backend.boxes.empty()) return 1;
    const kv::SiteSettings& s = form->Settings();
    kv::tool::JsonObject()
        .add("UpdateBaseUrl", s.UpdateBaseUrl)
        .add("ServerAddress", s.ServerAddress)
        .add("ApplicationPath", s.ApplicationPath)
        .add("DatabasePath", s.DatabasePath)
        .add("ReportPath", s.ReportPath)
        .add("UpdateFolder", s.UpdateFolder)
        .print();
    return 0;
}

} // namespace

KVTOOL_COMMAND("settings", "", cmd_settings);
