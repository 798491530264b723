// The main window: controls, start-up (settings loading), the access lock,
// and the guard that keeps step buttons from starting a step inside a step.
#include "app/form1.h"

#include "app/update_folder.h"
#include "platform/files.h"
#include "rtl/exception.h"
#include "rtl/in_any_case.h"
#include "rtl/ini_file.h"

#include <algorithm>

namespace kv {

using window::ControlKind;

TForm1::TForm1(TApplication& application, TForm1Config config)
    : window::Form(application.Backend()), Application(application), Config(std::move(config)),
      Button1(*this, "Button1", ControlKind::Button), Edit1(*this, "Edit1", ControlKind::Edit),
      Panel1(*this, "Panel1", ControlKind::Panel), Button3(*this, "Button3", ControlKind::Button, &Panel1),
      Button5(*this, "Button5", ControlKind::Button, &Panel1), Label1(*this, "Label1", ControlKind::Label),
      Label2(*this, "Label2", ControlKind::Label), Label3(*this, "Label3", ControlKind::Label),
      ProgressBar(*this, "ProgressBar", ControlKind::ProgressBar, &Panel1),
      Label27(*this, "Label27", ControlKind::Label, &Panel1),
      Label4(*this, "Label4", ControlKind::Label, &Panel1),
      Button4(*this, "Button4", ControlKind::Button, &Panel1),
      Memo1(*this, "Memo1", ControlKind::Memo, &Panel1),
      OnProgramStopped([this](std::string_view name, uint32_t pid) { Log().ProgramStopped(name, pid); }) {
    caption = "KV Update 2027";
    client_width = 258;
    client_height = 529;
    font_name = "Segoe UI";
    font_points = 9;

    Edit1.bounds = {8, 8, 121, 23};
    Edit1.password_char = '*';
    Edit1.cue_text = "Şifre Giriniz";
    Edit1.tab_order = 1;
    Edit1.OnKeyPress = [this](char16_t& key) { Edit1KeyPress(&Edit1, key); };

    Button1.bounds = {135, 8, 121, 23};
    Button1.SetCaption("Giriş");
    Button1.tab_order = 0;
    Button1.OnClick = [this] { Button1Click(&Button1); };

    int top = 40;
    for (window::Control* label : {&Label1, &Label2, &Label3}) {
        label->bounds = {8, top, 0, 15};
        label->auto_size = true;
        label->SetCaption(label->Name());
        top += 21;
    }

    Panel1.bounds = {0, 103, 256, 418};
    Panel1.raised_border = true;
    Panel1.tab_order = 2;

    Button4.SetCaption("Güncelleme Başla");
    Button4.tab_order = 3;
    Button4.OnClick = [this] { StepButtonClick(&TForm1::Button4Click, Button4); };
    Button3.SetCaption("SQL Çalıştır");
    Button3.SetEnabled(false);
    Button3.tab_order = 0;
    Button3.OnClick = [this] { StepButtonClick(&TForm1::Button3Click, Button3); };
    Button5.SetCaption("Dosyaları İndir");
    Button5.SetEnabled(false);
    Button5.tab_order = 1;
    Button5.OnClick = [this] { StepButtonClick(&TForm1::Button5Click, Button5); };
    Label4.SetCaption("indirliyor..");
    Label27.SetCaption("0/0");
    Label4.centred = true;
    Label27.centred = true;
    ProgressBar.tab_order = 2;
    Memo1.SetEnabled(false);
    Memo1.tab_order = 4;
    arrange_panel();
    setup_database_components();

    NetHTTP1.OnWorkBegin = [this](TNetComponent* s, TWorkMode m, int64_t n) { NetHTTP1WorkBegin(s, m, n); };
    NetHTTP1.OnWork = [this](TNetComponent* s, TWorkMode m, int64_t n) { NetHTTP1Work(s, m, n); };
    NetHTTP1.OnWorkEnd = [this](TNetComponent* s, TWorkMode m) { NetHTTP1WorkEnd(s, m); };

    OnShow = [this] { FormShow(this); };
}

TForm1::~TForm1() = default;

// Stacks the panel's children from its top edge inside its one-pixel border,
// each as wide as the inner area less its side margins; Memo1 takes the rest.
void TForm1::arrange_panel() {
    struct Slot {
        window::Control* control;
        int height;
        bool margins; // 20 left and right, 10 above and below
    };
    const int inset = 1;
    const int width = Panel1.bounds.width - 2 * inset;
    int top = inset;
    for (const Slot& s :
         {Slot{&Button4, 25, true}, Slot{&Button3, 25, true}, Slot{&Button5, 25, true},
          Slot{&Label4, 15, false}, Slot{&Label27, 15, false}, Slot{&ProgressBar, 26, true}}) {
        const int side = s.margins ? 20 : 0, gap = s.margins ? 10 : 0;
        s.control->bounds = {inset + side, top + gap, width - 2 * side, s.height};
        top += gap + s.height + gap;
    }
    Memo1.bounds = {inset, top, width, Panel1.bounds.height - inset - top};
}

void TForm1::FormCreate(TObject*) {
    Panel1.SetVisible(false);
    FSettings.UpdateFolder = default_update_folder();
    FSettings.UpdateBaseUrl = "http://" + Config.PackageHost + "/2027/";
    const std::string ini_name = os::current_directory() + "\\kvayarlar.ini";
    FIni = std::make_unique<TIniFile>(ini_name);
    if (!os::directory_exists(FSettings.UpdateFolder)) os::create_directory(FSettings.UpdateFolder);
    // A settings file is a few hundred bytes. One that is no regular file (a
    // link to a device, a pipe) or is far larger is not read at all: reading
    // it could block start-up or exhaust the memory.
    const std::optional<uint64_t> ini_size = os::regular_file_size(ini_name);
    if (!ini_size || *ini_size > kMaxSettingsFileBytes) {
        FIni.reset();
        ShowNotice("Ayar dosyası okunamadı.");
        Button4.SetEnabled(false);
        Terminate();
        return;
    }
    in_any_case(
        [&] {
            FSettings.ServerAddress = FIni->ReadString("BAGLANTI", "SUNUCU_IP", "");
            FSettings.ApplicationPath = FIni->ReadString("BAGLANTI", "UYGULAMA_ADRES", "");
            FSettings.DatabasePath = FIni->ReadString("BAGLANTI", "DB_ADRES", "");
            FSettings.ReportPath = FIni->ReadString("BAGLANTI", "RAPOR_ADRES", "");
            // The package step empties this folder: an empty value, a root, a
            // link, the program folder or one holding it, the database or the
            // reports (by any name) keeps the start-up default instead.
            std::string update_folder = FIni->ReadString("BAGLANTI", "UPDATE_ADRES", "");
            const auto why = update_folder_refusal(os::current_directory(), update_folder,
                                                   FSettings.DatabasePath, FSettings.ReportPath);
            if (!why) {
                FSettings.UpdateFolder = std::move(update_folder);
            } else if (!update_folder.empty()) {
                ShowNotice(refusal_notice(update_folder, *why, FSettings.UpdateFolder));
                FUpdateFolderRefused = RefusedUpdateFolder{std::move(update_folder), *why};
            }
        },
        [&] {
            FIni->UpdateFile();
            FIni.reset();
            log_settings();
            ibdb1.SetDatabase(FSettings.DatabasePath);
            ibdb1.SetServer(FSettings.ServerAddress);
            Label1.SetCaption(FSettings.UpdateBaseUrl);
            Label2.SetCaption(FSettings.ServerAddress);
            Label3.SetCaption(FSettings.ApplicationPath);
        });
}

std::string TForm1::default_update_folder() {
    return os::current_directory() + "\\update\\";
}

std::string TForm1::UpdateFolderToEmpty() {
    const std::string& chosen = FSettings.UpdateFolder;
    const auto why =
        update_folder_refusal(os::current_directory(), chosen, FSettings.DatabasePath, FSettings.ReportPath);
    if (!why) return chosen;
    const std::string fallback = default_update_folder();
    if (chosen != fallback) {
        ShowNotice(refusal_notice(chosen, *why, fallback));
        if (!update_folder_refusal(os::current_directory(), fallback, FSettings.DatabasePath,
                                   FSettings.ReportPath))
            return fallback;
    }
    // Neither may be emptied: the step ends before it touches anything.
    const auto fallback_why = update_folder_refusal(os::current_directory(), fallback, FSettings.DatabasePath,
                                                    FSettings.ReportPath);
    throw Exception("Güncelleme klasörü boşaltılamaz: " + fallback + " " +
                    refusal_reason_turkish(fallback_why.value_or(*why)));
}

void TForm1::log_settings() {
    Log().Setting("UpdateBaseUrl", FSettings.UpdateBaseUrl);
    Log().Setting("ServerAddress", FSettings.ServerAddress);
    Log().Setting("ApplicationPath", FSettings.ApplicationPath);
    Log().Setting("DatabasePath", FSettings.DatabasePath);
    Log().Setting("ReportPath", FSettings.ReportPath);
    Log().Setting("UpdateFolder", FSettings.UpdateFolder);
}

void TForm1::FormShow(TObject*) {
    Edit1.SetFocus();
}

void TForm1::Edit1KeyPress(TObject*, char16_t& Key) {
    if (Key == u'\r') Button1Click(&Button1);
}

void TForm1::Button1Click(TObject*) {
    if (Edit1.Text() == kAccessCode) {
        Edit1.SetText("");
        Panel1.SetVisible(true);
    } else {
        Panel1.SetVisible(false);
    }
}

void TForm1::Abort() {
    kv::Abort();
}

void TForm1::StepButtonClick(void (TForm1::*handler)(TObject*), window::Control& button) {
    if (FStepRunning) return;
    FStepRunning = true;
    Log().ButtonPressed(button.Caption());
    in_any_case(
        [&] {
            try {
                (this->*handler)(&button);
            } catch (...) {
                Log().StepEnded(button.Caption(), std::current_exception());
                throw;
            }
            Log().StepEnded(button.Caption(), nullptr);
        },
        [&] { FStepRunning = false; });
}

} // namespace kv
