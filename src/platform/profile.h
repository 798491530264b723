// Profile files: the sectioned KEY=value text files the site settings live in,
// read by the Windows profile-file rules on both platforms.
#pragma once

#include <string>
#include <string_view>

namespace kv::os {

// The value of `key` in `section` of the profile file `path` (UTF-8 texts):
// section and key names match regardless of letter case; blanks around the
// value are removed, then one pair of surrounding single or double quotes;
// at most 2047 UTF-16 characters are returned. A missing file, section or key
// gives `default_value` (without its trailing blanks, as Windows gives it).
// `path` is a full path: Windows looks for a relative one in its own folder.
//
// Windows: GetPrivateProfileStringW with a 2048-character buffer. Linux: our
// own reader. It takes UTF-16LE or UTF-16BE with a byte-order mark, UTF-8
// with or without one, and a file that is not valid UTF-8 as Windows-1254,
// the code page Turkish sites write it in.
std::string read_profile_string(std::string_view path, std::string_view section, std::string_view key,
                                std::string_view default_value);

// One profile file for several reads, by the rules above. Linux reads the
// file at the first read and answers every read from that text; Windows asks
// the system's reader each time. Nothing is read before the first read.
class ProfileFile {
public:
    explicit ProfileFile(std::string path) : FPath(std::move(path)) {}
    std::string read_string(std::string_view section, std::string_view key, std::string_view default_value);

private:
    std::string FPath;
#ifndef _WIN32
    bool FLoaded = false;
    std::u16string FText;
#endif
};

// Has the system write back its cached copy of the profile file, if any;
// creates nothing. Linux keeps no cache: nothing to do.
void flush_profile(std::string_view path);

} // namespace kv::os
