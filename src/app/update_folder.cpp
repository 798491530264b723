// The guard on the update folder. Names are resolved by their text alone, the
// way the Windows path rules read them: the settings hold Windows paths on
// both platforms, and the Linux file layer takes "\" as its separator too.
#include "app/update_folder.h"

#include "platform/file_identity.h"
#include "platform/files.h"
#include "platform/unicode.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace kv {
namespace {

struct ResolvedName {
    std::string root; // "X:", "\\server\share", or empty for the file system's root
    std::vector<std::u16string> parts;
};

bool is_separator(char c) {
    return c == '\\' || c == '/';
}

// Upper case as the Windows file systems compare names, for the letters a
// site's folder names hold: ASCII, Latin-1 and Latin Extended-A (Turkish
// included, except the dotless i, which NTFS keeps apart from "I").
char16_t fold(char16_t c) {
    if (c >= u'a' && c <= u'z') return c - 0x20;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
    if (c == 0xFF) return 0x178;
    if (c == 0x131) return c;
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c & ~char16_t{1};
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;
    return c;
}

std::u16string name_key(std::string_view name, bool windows_names) {
    std::u16string key = utf8_to_utf16(name);
    if (windows_names) {
        while (!key.empty() && (key.back() == u'.' || key.back() == u' '))
            key.pop_back();
        std::transform(key.begin(), key.end(), key.begin(), fold);
    }
    return key;
}

void append_parts(ResolvedName& into, std::string_view rest, bool windows_names) {
    while (!rest.empty()) {
        const size_t end = std::min(
            rest.size(), size_t(std::find_if(rest.begin(), rest.end(), is_separator) - rest.begin()));
        const std::string_view part = rest.substr(0, end);
        rest.remove_prefix(std::min(rest.size(), end + 1));
        if (part == "..") {
            if (!into.parts.empty()) into.parts.pop_back();
        } else if (part != ".") {
            std::u16string key = name_key(part, windows_names);
            if (!key.empty()) into.parts.push_back(std::move(key));
        }
    }
}

std::string_view without_long_path_prefix(std::string_view name, std::string& unc) {
    auto starts = [&](std::string_view prefix) {
        if (name.size() < prefix.size()) return false;
        for (size_t i = 0; i < prefix.size(); ++i)
            if (prefix[i] == '\\' ? !is_separator(name[i]) : (name[i] | 0x20) != (prefix[i] | 0x20))
                return false;
        return true;
    };
    if (starts("\\\\?\\UNC\\")) {
        unc = "\\\\" + std::string(name.substr(8));
        return unc;
    }
    if (starts("\\\\?\\") || starts("\\\\.\\") || starts("\\??\\")) return name.substr(4);
    return name;
}

// `base` is the resolved program folder; an empty one when resolving that.
ResolvedName resolve(std::string_view name, const ResolvedName& base, bool windows_names) {
    std::string unc;
    name = without_long_path_prefix(name, unc);
    ResolvedName r;
    if (windows_names && name.size() >= 2 && name[1] == ':' &&
        std::isalpha(static_cast<unsigned char>(name[0]))) {
        r.root = {char(std::toupper(static_cast<unsigned char>(name[0]))), ':'};
        name.remove_prefix(2);
        // "X:name" goes on from the current folder when that is on drive X.
        if (!name.empty() && !is_separator(name[0]) && r.root == base.root) r.parts = base.parts;
    } else if (windows_names && name.size() >= 2 && is_separator(name[0]) && is_separator(name[1])) {
        // "\\server\share" is the root of what lies below it.
        ResolvedName all;
        append_parts(all, name.substr(2), windows_names);
        const size_t n = std::min<size_t>(2, all.parts.size());
        r.root = "\\\\";
        for (size_t i = 0; i < n; ++i) {
            if (i) r.root += '\\';
            r.root += utf16_to_utf8(all.parts[i]);
        }
        r.parts.assign(all.parts.begin() + n, all.parts.end());
        return r;
    } else if (!name.empty() && is_separator(name[0])) {
        r.root = base.root;
    } else {
        r = base;
    }
    append_parts(r, name, windows_names);
    return r;
}

bool holds(const ResolvedName& outer, const ResolvedName& inner) {
    return outer.root == inner.root && outer.parts.size() <= inner.parts.size() &&
           std::equal(outer.parts.begin(), outer.parts.end(), inner.parts.begin());
}

std::optional<UpdateFolderRefusal> refusal_by_text(std::string_view program_folder,
                                                   std::string_view candidate, std::string_view database_path,
                                                   std::string_view report_folder, bool windows_names) {
    using R = UpdateFolderRefusal;
    if (names_drive_root(candidate)) return R::Root;
    const ResolvedName program = resolve(program_folder, {}, windows_names);
    const ResolvedName update = resolve(candidate, program, windows_names);
    if (update.parts.empty()) return R::Root;
    if (holds(update, program))
        return update.parts.size() == program.parts.size() ? R::ProgramFolder : R::HoldsProgramFolder;
    if (!database_path.empty() && holds(update, resolve(database_path, program, windows_names)))
        return R::HoldsDatabase;
    if (!report_folder.empty() && holds(update, resolve(report_folder, program, windows_names)))
        return R::HoldsReports;
    return std::nullopt;
}

// The folder holding `path` by its text ("C:\a\" for "C:\a\b"), or
// nullopt when the text names no folder above it.
std::optional<std::string> text_parent(std::string path) {
    while (path.size() > 1 && is_separator(path.back()))
        path.pop_back();
    const size_t at = path.find_last_of("\\/");
    if (at == std::string::npos || at + 1 >= path.size()) return std::nullopt;
    return path.substr(0, at + 1);
}

// Whether `folder` is `kept`, or an existing folder that holds it: `kept`
// (or its nearest existing folder by name) is resolved by the file system
// to its final path, whose folders by name are then the ones that really
// hold it.
bool same_or_above(const os::FileIdentity& folder, std::string kept, bool& same) {
    same = false;
    bool nearest = true;
    while (!os::path_entry_exists(kept)) {
        nearest = false;
        const std::optional<std::string> parent = text_parent(kept);
        if (!parent) return false;
        kept = *parent;
    }
    std::optional<std::string> at = os::final_path(kept);
    for (bool first = true; at; at = text_parent(*at), first = false)
        if (os::file_identity(*at) == folder) {
            same = first && nearest;
            return true;
        }
    return false;
}

} // namespace

bool names_drive_root(std::string_view folder) {
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
        folder.remove_suffix(1);
    if (folder.empty()) return true;
    if (folder.size() == 2 && folder[1] == ':') return true;
    if (folder.rfind("\\\\", 0) == 0 || folder.rfind("//", 0) == 0) {
        // "\\server\share" is a share's root; a folder below it has one separator more.
        const std::string_view rest = folder.substr(2);
        return std::count_if(rest.begin(), rest.end(), [](char c) { return c == '\\' || c == '/'; }) < 2;
    }
    return false;
}

bool update_folder_may_be_emptied(std::string_view program_folder, std::string_view candidate,
                                  std::string_view database_path, std::string_view report_folder,
                                  bool windows_names) {
    return !refusal_by_text(program_folder, candidate, database_path, report_folder, windows_names);
}

std::optional<UpdateFolderRefusal> update_folder_refusal(std::string_view program_folder,
                                                         std::string_view candidate,
                                                         std::string_view database_path,
                                                         std::string_view report_folder) {
    using R = UpdateFolderRefusal;
    if (auto why = refusal_by_text(program_folder, candidate, database_path, report_folder,
                                   os::windows_name_rules()))
        return why;
    // Nothing there yet: nothing to delete. The reset asks again.
    if (!os::path_entry_exists(candidate)) return std::nullopt;
    if (os::is_link_or_mount_point(candidate)) return R::IsLink;
    // A file is not listed as a folder, so the reset deletes nothing there.
    if (!os::directory_exists(candidate)) return std::nullopt;
    const std::optional<os::FileIdentity> folder = os::file_identity(candidate);
    if (!folder) return R::Unreadable;
    bool same = false;
    if (same_or_above(*folder, std::string(program_folder), same))
        return same ? R::ProgramFolder : R::HoldsProgramFolder;
    if (!database_path.empty() && same_or_above(*folder, std::string(database_path), same))
        return R::HoldsDatabase;
    if (!report_folder.empty() && same_or_above(*folder, std::string(report_folder), same))
        return R::HoldsReports;
    return std::nullopt;
}

std::string refusal_reason(UpdateFolderRefusal why) {
    switch (why) {
    case UpdateFolderRefusal::Root:
        return "is empty or a drive's root";
    case UpdateFolderRefusal::ProgramFolder:
        return "is the program folder";
    case UpdateFolderRefusal::HoldsProgramFolder:
        return "would hold the program folder";
    case UpdateFolderRefusal::HoldsDatabase:
        return "would hold the database file";
    case UpdateFolderRefusal::HoldsReports:
        return "would hold the report folder";
    case UpdateFolderRefusal::IsLink:
        return "is a link (a symbolic link, junction or mount point)";
    case UpdateFolderRefusal::Unreadable:
        return "cannot be examined";
    }
    return {};
}

std::string refusal_reason_turkish(UpdateFolderRefusal why) {
    switch (why) {
    case UpdateFolderRefusal::Root:
        return "bir sürücünün kökü";
    case UpdateFolderRefusal::ProgramFolder:
        return "program klasörünün kendisi";
    case UpdateFolderRefusal::HoldsProgramFolder:
        return "program klasörünü içeriyor";
    case UpdateFolderRefusal::HoldsDatabase:
        return "veritabanı dosyasını içeriyor";
    case UpdateFolderRefusal::HoldsReports:
        return "rapor klasörünü içeriyor";
    case UpdateFolderRefusal::IsLink:
        return "bir bağlantı ya da bağlama noktası";
    case UpdateFolderRefusal::Unreadable:
        return "incelenemiyor";
    }
    return {};
}

std::string refusal_notice(std::string_view refused, UpdateFolderRefusal why, std::string_view used) {
    return "UPDATE_ADRES kullanılmadı: " + std::string(refused) + " " + refusal_reason_turkish(why) +
           ". Güncelleme klasörü: " + std::string(used);
}

bool update_folder_may_be_emptied(std::string_view program_folder, std::string_view candidate,
                                  std::string_view database_path, std::string_view report_folder) {
    return update_folder_may_be_emptied(program_folder, candidate, database_path, report_folder,
                                        os::windows_name_rules());
}

} // namespace kv
