// TIniFile: the settings reader start-up uses on "kvayarlar.ini". A thin
// object over the platform's profile-file reading (platform/profile.h); it
// never writes.
#pragma once

#include "platform/profile.h"

#include <string>
#include <string_view>

namespace kv {

class TIniFile {
public:
    // Remembers the file name; the file is neither opened nor created.
    explicit TIniFile(std::string FileName) : FFileName(FileName), FFile(std::move(FileName)) {}

    const std::string& FileName() const noexcept { return FFileName; }

    // The value of `Ident` in `Section`, or `Default` when the file, the
    // section or the key is missing (the rules are those of profile.h). The
    // file is read at the first call, once, for all of them.
    std::string ReadString(std::string_view Section, std::string_view Ident, std::string_view Default);

    // Flushes the platform's cached copy of the file; writes nothing of ours.
    void UpdateFile();

private:
    std::string FFileName;
    os::ProfileFile FFile;
};

} // namespace kv
