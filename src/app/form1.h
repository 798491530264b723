// The main window "Form1": its controls as state holders with their places,
// captions, initial states and tab order; the site settings read at start-up;
// the view operations through which the update workflow reaches the
// operator; and the step handlers, which are defined in workflow/.
#pragma once

#include "app/application.h"
#include "app/site_settings.h"
#include "app/terminated_event.h"
#include "app/update_folder.h"
#include "archive/seven_zip.h"
#include "db/db_connection.h"
#include "db/db_query.h"
#include "db/db_transaction.h"
#include "db/script.h"
#include "http/net_download.h"
#include "http/net_http.h"
#include "platform/window/backend.h"
#include "release/verification.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kv {

class TIniFile;

// The access code that unlocks the update panel.
inline constexpr const char* kAccessCode = "7";

// The largest settings file start-up reads; a larger one counts as unreadable.
inline constexpr uint64_t kMaxSettingsFileBytes = 1048576;

// What a test may choose when it builds the window; the product uses the
// defaults. An empty library name leaves the component's built-in choice.
struct TForm1Config {
    std::string PackageHost = KV_PACKAGE_HOST; // host[:port] of the package server
    std::string DbClientLibrary;
    std::string ArchiveLibrary;
    // PEM text of the release public key; empty: releases are not verified.
    std::string ReleasePublicKey = std::string(release::built_in_public_key());
    // How a download tries again after a cut or a transient failure.
    TNetRetryPolicy DownloadRetry;
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
    TDbConnection ibdb1{"ibdb1"};
    TDbScript ScriptRunner{"ScriptRunner"};
    TDbTransaction ibt1{"ibt1"};
    TDbQuery uq1{"uq1"};
    std::unique_ptr<TIniFile> FIni;
    TNetHTTP NetHTTP1;
    // The archive reader of the package step, kept until the program ends.
    RefPtr<I7zInArchive> Arch;

    void Button1Click(TObject* Sender);
    void Button5Click(TObject* Sender);
    void FormCreate(TObject* Sender);
    void FormShow(TObject* Sender);
    void Edit1KeyPress(TObject* Sender, char16_t& Key);
    void DeleteDirectory(const std::string& Name);
    void Button4Click(TObject* Sender);
    void Button3Click(TObject* Sender);

    // Fetches url into the file dosya through NetHTTP1, moving the progress
    // display. The body is written to dosya + ".part" and replaces dosya only
    // once whole; when the download fails, dosya is left as it was and the
    // partial file is deleted. A cut body is resumed and a transient failure
    // tried again within Config.DownloadRetry. Throws the last try's error,
    // or EFCreateError when the partial file cannot be created or put in place.
    void DownloadFile(const std::string& url, const std::string& dosya);
    // Waits ms while the window handles its events.
    void WaitPumping(int ms);
    void NetHTTP1WorkBegin(TNetComponent* ASender, TWorkMode AWorkMode, int64_t AWorkCountMax);
    void NetHTTP1Work(TNetComponent* ASender, TWorkMode AWorkMode, int64_t AWorkCount);
    void NetHTTP1WorkEnd(TNetComponent* ASender, TWorkMode AWorkMode);

    // Signed releases, when the window has a release key (otherwise both do
    // nothing). FetchRelease fetches and verifies the release's manifest
    // before the package step touches anything; CheckDownload checks the
    // file of a finished download against it before the file takes its name.
    // Both raise release::EReleaseError.
    void FetchRelease();
    void CheckDownload(const std::string& url, const std::string& dosya);
    // The number of the release the running package step verified; empty
    // for a window without a release key.
    std::string VerifiedReleaseNumber() const;
    // Keeps the running release's number as the highest installed at this
    // site, once per run of the step, before its first file is put in place.
    void RecordInstalledRelease();

    const SiteSettings& Settings() const noexcept { return FSettings; }
    // The UPDATE_ADRES start-up refused (an empty one is not counted).
    const std::optional<RefusedUpdateFolder>& UpdateFolderRefused() const noexcept {
        return FUpdateFolderRefused;
    }
    // The folder the package step may empty, asked again just before the
    // reset on what is on disk now (a folder can have become a link since
    // start-up): `UpdateFolder`, or the default one with the notice when it
    // is refused now. Throws Exception when the default is refused too.
    std::string UpdateFolderToEmpty();
    // The update folder start-up falls back on, and creates: the working
    // directory followed by "\\update\\".
    static std::string default_update_folder();

    // View operations: the only way the workflow reaches the operator.
    void SetStatusText(const std::string& text) {
        Log().Status(text);
        Label4.SetCaption(text);
    }
    void AddLogLine(const std::string& line) {
        Log().LogLine(line);
        Memo1.AddLine(line);
    }
    void SetProgressMax(int32_t max) { ProgressBar.SetMax(max); }
    void SetProgressPosition(int32_t position) { ProgressBar.SetPosition(position); }
    int32_t ProgressPosition() const noexcept { return ProgressBar.Position(); }
    void RepaintProgressBar() { ProgressBar.Repaint(); }
    void SetProgressText(const std::string& text) { Label27.SetCaption(text); }
    // The window draws the fast-changing bar and text at most once per
    // display frame; this paints what it still holds, so that the end of a
    // transfer shows even when the next phase runs without pumping events.
    void PaintHeldChanges() { paint_held(); }
    void ShowNotice(const std::string& text) { Application.ShowMessage(text); }
    void ProcessMessages() { Application.ProcessMessages(); }
    void Terminate() { Application.Terminate(); }
    [[noreturn]] void Abort();

    // Where the steps report what the window does not show.
    TRunLog& Log() noexcept { return Application.Log; }
    // Given to KillProcessByName: records each program the steps stop.
    const TerminatedEvent OnProgramStopped;

    // True while a step started by the operator runs.
    bool StepRunning() const noexcept { return FStepRunning; }

private:
    void arrange_panel();
    // The six settings into the run log (there is no password among them).
    void log_settings();
    void log_year_marker_after();
    // The database step's parts (workflow/database_upgrade.cpp).
    void back_up_before_upgrade(const Variant& marker);
    std::exception_ptr run_upgrade_script();
    void settle_year_marker(const Variant& before, std::exception_ptr stopped);
    // Links ibdb1, ibt1, uq1 and ScriptRunner as the updater uses them.
    void setup_database_components();
    // The operator's click on a step button: ignored while a step runs, so a
    // click taken while the running step pumps events cannot start a second
    // run of a step inside it.
    void StepButtonClick(void (TForm1::*handler)(TObject*), window::Control& button);

    SiteSettings FSettings;
    std::optional<RefusedUpdateFolder> FUpdateFolderRefused;
    bool FStepRunning = false;
    // The release whose manifest the running package step verified.
    std::optional<release::Release> FRelease;
    bool FReleaseRecorded = false;
};

// The highest release number recorded as installed in the program folder;
// empty when none is recorded (or the record is unreadable).
std::string InstalledRelease();

} // namespace kv
