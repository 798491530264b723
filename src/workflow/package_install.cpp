// The package installation step: reset the update folder, fetch the logo and
// the release packages, unpack them, put the programs and client libraries
// in place, start the product again and end the updater.
//
// A package is put into place only when its download and its extraction both
// succeeded: otherwise its programs are not stopped and nothing of it is
// copied (or, for the reports, unpacked in place), so the product keeps its
// current version; the archive is closed all the same and the step ends
// with the error. The reader deletes any item it reports damaged, so every
// file copied came whole out of its package.
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
#include "workflow/task_killer.h"

namespace kv {
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
    // Copy results are not looked at: a missing source or a busy target is
    // passed over, in the window; the run log keeps why.
    auto put_in_place = [&](const std::string& folder, const char* name) {
        RecordInstalledRelease();
        const std::string target = work + "\\" + name;
        const FileFacts before = file_facts(target);
        const bool copied = os::copy_file(folder + "\\" + name, target);
        Log().PutInPlace(target, before, copied ? std::nullopt : std::optional<uint32_t>(os::last_error()));
    };

    // With a release key: the release's manifest, verified before anything is touched.
    FetchRelease();

    // 1. Folder reset, of a folder asked again now.
    update = UpdateFolderToEmpty();
    in_any_case([&] { DeleteDirectory(update); },
                [&] {
                    os::create_directory(update);
                    ProcessMessages();
                });

    // 2. Archive object; 3. logo.
    Arch = CreateInArchive(CLSID_CFormatRar5, seven_zip_library(Config.ArchiveLibrary));
    DownloadFile("http://" + Config.PackageHost + "/logo1024.png", work + "\\logo1024.png");

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
            copy.then_in_any_case([&] { put_in_place(update, "kuvento.exe"); });
            copy.then([&] { Arch->Close(); });
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
            copy.then_in_any_case([&] {
                put_in_place(update, "telvano.exe");
                put_in_place(update, "kvbck.exe");
            });
            copy.then([&] { Arch->Close(); });
            copy.finish();
        });
        s.finish();
    }

    // 6. Reports, unpacked in place: not at all when the download failed.
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
                unpack(s, "report.rar", work + "\\report\\");
            });
            place.then_in_any_case([&] { Arch->Close(); });
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
                put_in_place(update, "dorvika.exe");
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
                for (const char* library : kClientLibraries)
                    put_in_place(update + "\\dll", library);
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
        },
        [&] { Terminate(); });
}

} // namespace kv
