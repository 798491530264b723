// The C library's locale of the calling thread set to "C" for a scope. The
// Firebird client library reads its configuration files with the C library's
// character functions; under a Turkish locale they fold "i" to the dotted
// capital, and the library no longer knows its own names ("illegal line" in
// plugins.conf), so no database opens. The Qt window takes the system's
// locale; the Windows program never sets one, so there this does nothing.
#pragma once

namespace kv::os {

class CLocaleScope {
public:
    CLocaleScope() noexcept;
    ~CLocaleScope();
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    void* FSaved = nullptr;
};

} // namespace kv::os
