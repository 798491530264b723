// The "ANSI code page" of Linux is UTF-8: the conversions are the identity.
#include "platform/unicode.h"

namespace kv {

std::string utf8_to_ansi(std::string_view s) {
    return std::string(s);
}
std::string ansi_to_utf8(std::string_view s) {
    return std::string(s);
}

} // namespace kv
