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

} // namespace

void TForm1::Button5Click(TObject*) {
    std::string update = FSettings.UpdateFolder;
    const std::string work = os::current_directory();
    auto package = [&](const char* name) { return update + "\\" + name; };
    auto download = [&](const char* name) { DownloadFile(FSettings.UpdateBaseUrl + name, package(name)); };
    // A package whose download failed is left alone (see above).
    auto unpack = [&](const Stages& fetched, const char* name, const std::string& target) {
        if (fetched.failed()) return;
        try {
            Arch->OpenFile(package(name));
            Arch->ExtractTo(target);
        } catch (...) {
            Log().Extraction(package(name), target, *Arch, std::current_exception());
            throw;
        }
        Log().Extraction(package(name), target, *Arch, nullptr);
    };
    // Each file goes in whole or not at all, the file it replaces kept
    // (workflow/put_in_place.h). One that cannot ends the step with the
    // error, as a failed download does; those before it stay in place.
    std::optional<TFilePlacer> placer;
    auto put_in_place = [&](const std::string& folder, const std::vector<std::string>& names) {
        if (names.empty()) return;
        std::vector<std::string> sources;
        for (const std::string& name : names)
            sources.push_back(folder + "\\" + name);
        try {
            placer->CheckSpace(sources, names);
        } catch (...) {
            Log().PutInPlace(work + "\\" + names.front(), "", std::current_exception());
            throw;
        }
        for (size_t i = 0; i < names.size(); ++i) {
            const std::string target = work + "\\" + names[i];
            try {
                const Placed placed = placer->Place(sources[i], names[i]);
                Log().PutInPlace(target,
                                 placed == Placed::Replaced ? "replaced, the old file kept"
                                 : placed == Placed::Added  ? "added"
                                                            : "already in place",
                                 nullptr);
            } catch (...) {
                Log().PutInPlace(target, "", std::current_exception());
                throw;
            }
        }
    };
    // The archive is closed after a failed copy too, so that the next run's
    // reset can remove the package it read.
    auto close_after = [&](const Stages& copy) {
        if (!copy.failed()) return Arch->Close();
        try {
            Arch->Close();
        } catch (...) {
            // The copy's error is the one shown.
        }
    };

    // With a release key: the release's manifest, verified before anything is touched.
    FetchRelease();
    // A change a crash left unfinished is finished or undone before anything else.
    placer.emplace(work);

    // 1. Folder reset, of a folder asked again now.
    update = UpdateFolderToEmpty();
    in_any_case([&] { DeleteDirectory(update); },
                [&] {
                    os::create_directory(update);
                    ProcessMessages();
                });

    // 2. Archive object; 3. logo.
    Arch =
        CreateInArchive(CLSID_CFormatRar5, Config.ArchiveLibrary.empty() ? std::string(com::kSevenZipLibrary)
                                                                         : Config.ArchiveLibrary);
    DownloadFile("http://" + Config.PackageHost + "/logo1024.png", update + "\\logo1024.png");
    put_in_place(update, {"logo1024.png"});

    // 4. Product.
    {
        Stages s;
        s.then([&] {
            SetStatusText("Kuvento İndiriliyor..");
            download("kuvento.rar");
            ProcessMessages();
        });
        s.then_in_any_case([&] { unpack(s, "kuvento.rar", update); });
        s.then_in_any_case([&] {
            if (s.failed()) return Arch->Close();
            Stages copy;
            copy.then([&] {
                SetStatusText("Kuvento Kopyalanıyor");
                KillProcessByName("kuvento.exe", OnProgramStopped);
                ProcessMessages();
            });
            copy.then_in_any_case([&] { put_in_place(update, {"kuvento.exe"}); });
            copy.then_in_any_case([&] { close_after(copy); });
            copy.finish();
        });
        s.finish();
    }

    // 5. Mobile and backup, on the server itself only.
    if (fetches_mobile_package(FSettings)) {
        Stages s;
        s.then([&] {
            SetStatusText("Mobil ve Yedekleme Indiriliyor..");
            download("telvano.rar");
            ProcessMessages();
        });
        s.then_in_any_case([&] { unpack(s, "telvano.rar", update); });
        s.then_in_any_case([&] {
            if (s.failed()) return Arch->Close();
            Stages copy;
            copy.then([&] {
                SetStatusText("Mobil ve Yedekleme Kopyalanıyor");
                ProcessMessages();
                KillProcessByName("telvano.exe", OnProgramStopped);
                KillProcessByName("kvbck.exe", OnProgramStopped);
            });
            copy.then_in_any_case([&] { put_in_place(update, {"telvano.exe", "kvbck.exe"}); });
            copy.then_in_any_case([&] { close_after(copy); });
            copy.finish();
        });
        s.finish();
    }

    // 6. Reports, unpacked into the update folder and then put in place each:
    // not at all when the download failed.
    {
        Stages s;
        s.then([&] {
            SetStatusText("Raporlar İndiliyor..");
            download("report.rar");
            ProcessMessages();
        });
        s.then_in_any_case([&] {
            Stages place;
            place.then([&] {
                if (s.failed()) return;
                SetStatusText("Raporlar Kopyalanıyor");
                ProcessMessages();
                unpack(s, "report.rar", update + "\\report\\");
                put_in_place(update, files_below(update, "report"));
            });
            place.then_in_any_case([&] { close_after(place); });
            place.finish();
        });
        s.finish();
    }

    // 7. Printing, where the site has it. Its program is stopped only once
    // its package is whole in the update folder.
    if (fetches_printing_package(work)) {
        Stages s;
        s.then([&] {
            SetStatusText("Yazdırma İndiriliyor..");
            ProcessMessages();
            download("dorvika.rar");
        });
        s.then_in_any_case([&] {
            Stages place;
            place.then([&] { unpack(s, "dorvika.rar", update); });
            place.then_in_any_case([&] {
                if (s.failed() || place.failed()) return Arch->Close();
                KillProcessByName("dorvika.exe", OnProgramStopped);
                SetStatusText("Yazdırma Kopyalanıyor");
                ProcessMessages();
                Arch->Close();
                put_in_place(update, {"dorvika.exe"});
            });
            place.finish();
        });
        s.finish();
    }

    // 8. Client libraries.
    SetStatusText("DLL dosyaları İndiriliyor..");
    ProcessMessages();
    {
        Stages s;
        s.then([&] {
            download("dll.rar");
            ProcessMessages();
        });
        s.then_in_any_case([&] {
            Stages place;
            place.then([&] { unpack(s, "dll.rar", update + "\\dll\\"); });
            place.then_in_any_case([&] {
                if (s.failed() || place.failed()) return Arch->Close();
                SetStatusText("DLL ler Kopyalanıyor");
                ProcessMessages();
                Arch->Close();
                put_in_place(update + "\\dll", {std::begin(kClientLibraries), std::end(kClientLibraries)});
            });
            place.finish();
        });
        s.finish();
    }

    // 9. Finish.
    in_any_case(
        [&] {
            SetStatusText("İndirmeler Tamamlandı");
            ProcessMessages();
            Button4.SetEnabled(true);
            for (const char* program : {"\\kuventoCMX.exe", "\\kuvento.exe"})
                Log().ProgramStarted(work + program, os::start_program(work + program));
            Log().PackageStepCompleted();
        },
        [&] { Terminate(); });
}

} // namespace kv
