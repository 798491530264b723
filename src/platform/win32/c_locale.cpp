#include "platform/c_locale.h"

namespace kv::os {

// The program never changes the runtime's locale from "C".
CLocaleScope::CLocaleScope() noexcept = default;
CLocaleScope::~CLocaleScope() = default;

} // namespace kv::os
