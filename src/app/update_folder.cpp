// The guard on the update folder. Names are resolved by their text alone, the
// way the Windows path rules read them: the settings hold Windows paths on
// both platforms, and the Linux file layer takes "\" as its separator too.
#include "app/update_folder.h"

#include "app/form1.h"
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

} // namespace

bool update_folder_may_be_emptied(std::string_view program_folder, std::string_view candidate,
                                  std::string_view database_path, std::string_view report_folder,
                                  bool windows_names) {
    if (names_drive_root(candidate)) return false;
    const ResolvedName program = resolve(program_folder, {}, windows_names);
    const ResolvedName update = resolve(candidate, program, windows_names);
    if (update.parts.empty() || holds(update, program)) return false;
    for (std::string_view kept : {database_path, report_folder})
        if (!kept.empty() && holds(update, resolve(kept, program, windows_names))) return false;
    return true;
}

bool update_folder_may_be_emptied(std::string_view program_folder, std::string_view candidate,
                                  std::string_view database_path, std::string_view report_folder) {
    return update_folder_may_be_emptied(program_folder, candidate, database_path, report_folder,
                                        os::windows_name_rules());
}

} // namespace kv
