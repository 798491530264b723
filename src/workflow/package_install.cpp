// The package installation step: reset the update folder, fetch the logo and
// the release packages, unpack them, put the programs, the reports and the
// client libraries in place, start the product again and end the updater.
//
// A package is put into place only when its download and its extraction both
// succeeded: otherwise its programs are not stopped and nothing of it is
// put in place, so the product keeps its current version; the archive is
// closed all the same and the step ends with the error. The reader deletes
// any item it reports damaged, so every file put in place came whole out of
// its package.
//
// Every file goes into place through TFilePlacer: written beside its target,
// flushed, renamed over it, the old file kept. A file that cannot be put in
// place (missing from its package, a target that is read-only, in use or a
// folder, no room on the volume) ends the step with its error, as a failed
// download does; nothing is started then.
//
// The packages, their status texts, the programs each stops, where each is
// unpacked and what it puts in place come from the release's plan
// (workflow/packages.h); each kind of package phase is one method below.
//
// Every file put in place, or found in place already, joins the run's
// installed set beside the kept release (workflow/put_in_place.h), which is
// marked complete once every package went through: `kvtool check` compares
// the program folder with it.
//
// A package whose download failed is not opened at all: there is no file
// (the download leaves none), and the archive's error would replace the
// download's, so the operator would never see what went wrong.
#include "app/form1.h"
#include "archive/seven_zip.h"
#include "platform/files.h"
#include "platform/program_start.h"
#include "rtl/in_any_case.h"
#include "workflow/packages.h"
#include "workflow/put_in_place.h"
#include "workflow/task_killer.h"

namespace kv {
namespace {

// The files below `folder`\`sub`, as names from `sub` on ("report\\alt\\kasa.fr3"),
// links not followed.
std::vector<std::string> files_below(const std::string& folder, const std::string& sub) {
    std::vector<std::string> names;
    const auto entries = os::list_directory(folder + "\\" + sub);
    if (!entries) return names;
    for (const os::DirEntry& e : *entries) {
        if (e.name == "." || e.name == ".." || e.is_link) continue;
        const std::string name = sub + "\\" + e.name;
        if (!e.is_directory) {
            names.push_back(name);
        } else {
            for (std::string& below : files_below(folder, name))
                names.push_back(std::move(below));
        }
    }
    return names;
}

// One run of the step over the release's plan: the stages every package
// shares, and one method per kind of package phase.
class PackageRun {
public:
    PackageRun(TForm1& form, std::string work) : FForm(form), FWork(std::move(work)), FPlacer(FWork) {}

    void SetUpdateFolder(std::string update) { FUpdate = std::move(update); }
    const std::string& UpdateFolder() const noexcept { return FUpdate; }

    // 3. The logo, fetched into the update folder and put in place.
    void Logo() {
        FForm.DownloadFile("http://" + FForm.Config.PackageHost + "/logo1024.png",
                           FUpdate + "\\logo1024.png");
        PutInPlace(FUpdate, {"logo1024.png"});
    }

    // 4. and 5.: download, unpack, stop the programs, put their files in place.
    void Programs(const PackagePlan& p) {
        Stages s;
        s.then([&] {
            FForm.SetStatusText(p.download_status);
            Download(p);
            FForm.ProcessMessages();
        });
        s.then_in_any_case([&] { Unpack(s, p); });
        s.then_in_any_case([&] {
            if (s.failed()) return FForm.Arch->Close();
            Stages copy;
            copy.then([&] {
                FForm.SetStatusText(p.copy_status);
                if (p.kind == PackageKind::MobileBackup) FForm.ProcessMessages();
                Stop(p);
                if (p.kind != PackageKind::MobileBackup) FForm.ProcessMessages();
            });
            copy.then_in_any_case([&] { PutInPlace(Unpacked(p), p.puts_in_place); });
            copy.then_in_any_case([&] { CloseAfter(copy); });
            copy.finish();
        });
        s.finish();
    }

    // 6. Reports: unpacked into the update folder, then each put in place;
    // not at all when the download failed.
    void Reports(const PackagePlan& p) {
        Stages s;
        s.then([&] {
            FForm.SetStatusText(p.download_status);
            Download(p);
            FForm.ProcessMessages();
        });
        s.then_in_any_case([&] {
            Stages place;
            place.then([&] {
                if (s.failed()) return;
                FForm.SetStatusText(p.copy_status);
                FForm.ProcessMessages();
                Unpack(s, p);
                PutInPlace(FUpdate, files_below(FUpdate, p.unpacks_into));
            });
            place.then_in_any_case([&] { CloseAfter(place); });
            place.finish();
        });
        s.finish();
    }

    // 7. Printing: its program is stopped only once its package is whole in
    // the update folder, and the archive is closed before the copy.
    void Printing(const PackagePlan& p) {
        Stages s;
        s.then([&] {
            FForm.SetStatusText(p.download_status);
            FForm.ProcessMessages();
            Download(p);
        });
        s.then_in_any_case([&] {
            Stages place;
            place.then([&] { Unpack(s, p); });
            place.then_in_any_case([&] {
                if (s.failed() || place.failed()) return FForm.Arch->Close();
                Stop(p);
                FForm.SetStatusText(p.copy_status);
                FForm.ProcessMessages();
                FForm.Arch->Close();
                PutInPlace(Unpacked(p), p.puts_in_place);
            });
            place.finish();
        });
        s.finish();
    }

    // 8. Client libraries: the first status is set before the protected stages.
    void Libraries(const PackagePlan& p) {
        FForm.SetStatusText(p.download_status);
        FForm.ProcessMessages();
        Stages s;
        s.then([&] {
            Download(p);
            FForm.ProcessMessages();
        });
        s.then_in_any_case([&] {
            Stages place;
            place.then([&] { Unpack(s, p); });
            place.then_in_any_case([&] {
                if (s.failed() || place.failed()) return FForm.Arch->Close();
                FForm.SetStatusText(p.copy_status);
                FForm.ProcessMessages();
                FForm.Arch->Close();
                PutInPlace(Unpacked(p), p.puts_in_place);
            });
            place.finish();
        });
        s.finish();
    }

    // Every package went through: the installed set is the whole release.
    void Completed() {
        FInstalled.complete = true;
        record_installed_set(FWork, FInstalled);
    }

private:
    std::string Stored(const PackagePlan& p) const { return FUpdate + "\\" + p.file; }
    // Where the package is unpacked (with a trailing separator below the update folder).
    std::string Unpacked(const PackagePlan& p) const {
        return p.unpacks_into.empty() ? FUpdate : FUpdate + "\\" + p.unpacks_into;
    }

    void Download(const PackagePlan& p) {
        FForm.DownloadFile(FForm.Settings().UpdateBaseUrl + p.file, Stored(p));
    }

    // A package whose download failed is left alone (see above).
    void Unpack(const Stages& fetched, const PackagePlan& p) {
        if (fetched.failed()) return;
        const std::string target = p.unpacks_into.empty() ? FUpdate : Unpacked(p) + "\\";
        try {
            FForm.Arch->OpenFile(Stored(p));
            FForm.Arch->ExtractTo(target);
        } catch (...) {
            FForm.Log().Extraction(Stored(p), target, *FForm.Arch, std::current_exception());
            throw;
        }
        FForm.Log().Extraction(Stored(p), target, *FForm.Arch, nullptr);
    }

    void Stop(const PackagePlan& p) {
        for (const std::string& program : p.stops)
            KillProcessByName(program, FForm.OnProgramStopped);
    }

    // Each file goes in whole or not at all, the file it replaces kept
    // (workflow/put_in_place.h). One that cannot ends the step with the
    // error, as a failed download does; those before it stay in place.
    void PutInPlace(const std::string& folder, const std::vector<std::string>& names) {
        if (names.empty()) return;
        FForm.RecordInstalledRelease();
        std::vector<std::string> sources;
        for (const std::string& name : names)
            sources.push_back(folder + "\\" + name);
        try {
            FPlacer.CheckSpace(sources, names);
        } catch (...) {
            FForm.Log().PutInPlace(FWork + "\\" + names.front(), "", std::current_exception());
            throw;
        }
        for (size_t i = 0; i < names.size(); ++i) {
            const std::string target = FWork + "\\" + names[i];
            KeptFile now;
            try {
                const Placed placed = FPlacer.Place(sources[i], names[i], true, &now);
                FForm.Log().PutInPlace(target,
                                       placed == Placed::Replaced ? "replaced, the old file kept"
                                       : placed == Placed::Added  ? "added"
                                                                  : "already in place",
                                       nullptr);
            } catch (...) {
                FForm.Log().PutInPlace(target, "", std::current_exception());
                throw;
            }
            Installed(std::move(now));
        }
    }

    // The run's first file starts a new installed set; each file is
    // recorded as soon as it is in place.
    void Installed(KeptFile file) {
        if (!FInstalledBegun) {
            FInstalled = {FForm.VerifiedReleaseNumber(), false, {}};
            FInstalledBegun = true;
        }
        std::erase_if(FInstalled.files, [&](const KeptFile& k) { return k.name == file.name; });
        FInstalled.files.push_back(std::move(file));
        record_installed_set(FWork, FInstalled);
    }

    // The archive is closed after a failed copy too, so that the next run's
    // reset can remove the package it read.
    void CloseAfter(const Stages& copy) {
        if (!copy.failed()) return FForm.Arch->Close();
        try {
            FForm.Arch->Close();
        } catch (...) {
            // The copy's error is the one shown.
        }
    }

    TForm1& FForm;
    const std::string FWork;
    std::string FUpdate;
    TFilePlacer FPlacer;
    InstalledSet FInstalled;
    bool FInstalledBegun = false;
};

} // namespace

void TForm1::Button5Click(TObject*) {
    const std::string work = os::current_directory();

    // With a release key: the release's manifest, verified before anything is touched.
    FetchRelease();
    // A change a crash left unfinished is finished or undone before anything else.
    PackageRun run(*this, work);

    // 1. Folder reset, of a folder asked again now.
    run.SetUpdateFolder(UpdateFolderToEmpty());
    in_any_case([&] { DeleteDirectory(run.UpdateFolder()); },
                [&] {
                    os::create_directory(run.UpdateFolder());
                    ProcessMessages();
                });

    // 2. Archive object; 3. logo.
    Arch = CreateInArchive(CLSID_CFormatRar5, seven_zip_library(Config.ArchiveLibrary));
    run.Logo();

    // 4. to 8.: the release's packages, each on its condition, asked when its phase comes.
    for (const PackagePlan& p : release_packages()) {
        if (!fetched_here(p, FSettings, work)) continue;
        switch (p.kind) {
        case PackageKind::Product:
        case PackageKind::MobileBackup:
            run.Programs(p);
            break;
        case PackageKind::Reports:
            run.Reports(p);
            break;
        case PackageKind::Printing:
            run.Printing(p);
            break;
        case PackageKind::Libraries:
            run.Libraries(p);
            break;
        }
    }

    run.Completed();

    // 9. Finish.
    in_any_case(
        [&] {
            SetStatusText("İndirmeler Tamamlandı");
            ProcessMessages();
            Button4.SetEnabled(true);
            for (const char* program : kRestartedPrograms) {
                const std::string file = work + "\\" + program;
                Log().ProgramStarted(file, os::start_program(file));
            }
            Log().PackageStepCompleted();
        },
        [&] { Terminate(); });
}

} // namespace kv
