// TIniFile over the platform's profile-file reader.
#include "rtl/ini_file.h"

#include "platform/profile.h"

namespace kv {

std::string TIniFile::ReadString(std::string_view Section, std::string_view Ident, std::string_view Default) {
    return FFile.read_string(Section, Ident, Default);
}

void TIniFile::UpdateFile() {
    os::flush_profile(FFileName);
}

} // namespace kv
