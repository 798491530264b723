// The main window "Form1": its controls as state holders with their places,
// captions, initial states and tab order; the site settings read at start-up;
// the view operations through which the update workflow reaches the
// operator; and the step handlers, which are defined in workflow/.
#pragma once

#include "app/application.h"
#include "platform/window/backend.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kv {

class TIniFile;

// The access code that unlocks the update panel.
inline constexpr const char* kAccessCode = "7";

// What a test may choose when it builds the window; the product uses the
// defaults. An empty library name leaves the component's built-in choice.
struct TForm1Config {
    std::string PackageHost = KV_PACKAGE_HOST; // host[:port] of the package server
    std::string DbClientLibrary;
    std::string ArchiveLibrary;
};

// The six texts read at start-up and read-only afterwards.
struct SiteSettings {
    std::string UpdateBaseUrl;
    std::string ServerAddress;
    std::string ApplicationPath;
    std::string DatabasePath;
    std::string ReportPath;
    std::string UpdateFolder;
};

class TForm1 : public window::Form {
public:
    TForm1(TApplication& application, TForm1Config config = {});
    ~TForm1() override;

    TApplication& Application;
    const TForm1Config Config;

    window::Control Button1;
    window::Control Edit1;
    window::Control Panel1;
    window::Control Button3;
    window::Control Button5;
    window::Control Label1;
    window::Control Label2;
    window::Control Label3;
    window::Control ProgressBar;
    window::Control Label27;
    window::Control Label4;
    window::Control Button4;
    window::Control Memo1;
    std::unique_ptr<TIniFile> FIni;

    void Button1Click(TObject* Sender);
    void Button5Click(TObject* Sender);
    void FormCreate(TObject* Sender);
    void FormShow(TObject* Sender);
    void Edit1KeyPress(TObject* Sender, char16_t& Key);
    void DeleteDirectory(const std::string& Name);
    void Button4Click(TObject* Sender);
    void Button3Click(TObject* Sender);

    const SiteSettings& Settings() const noexcept { return FSettings; }

    // View operations: the only way the workflow reaches the operator.
    void SetStatusText(const std::string& text) { Label4.SetCaption(text); }
    void AddLogLine(const std::string& line) { Memo1.AddLine(line); }
    void SetProgressMax(int32_t max) { ProgressBar.SetMax(max); }
    void SetProgressPosition(int32_t position) { ProgressBar.SetPosition(position); }
    int32_t ProgressPosition() const noexcept { return ProgressBar.Position(); }
    void RepaintProgressBar() { ProgressBar.Repaint(); }
    void SetProgressText(const std::string& text) { Label27.SetCaption(text); }
    void ShowNotice(const std::string& text) { Application.ShowMessage(text); }
    void ProcessMessages() { Application.ProcessMessages(); }
    void Terminate() { Application.Terminate(); }
    [[noreturn]] void Abort();

    // True while a step started by the operator runs.
    bool StepRunning() const noexcept { return FStepRunning; }

private:
    void arrange_panel();
    // The operator's click on a step button: ignored while a step runs, so a
    // click taken while the running step pumps events cannot start a second
    // run of a step inside it.
    void StepButtonClick(void (TForm1::*handler)(TObject*), window::Control& button);

    SiteSettings FSettings;
    bool FStepRunning = false;
};

} // namespace kv
