// What the SHA-256 of both targets share: the hex form of a digest.
#include "platform/digest.h"

namespace kv::os {

std::string hex_of(const unsigned char* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
    }
    return hex;
}

} // namespace kv::os
