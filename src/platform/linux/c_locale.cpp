#include "platform/c_locale.h"

#include <locale.h>

namespace kv::os {
namespace {
locale_t c_locale() noexcept {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}
} // namespace

CLocaleScope::CLocaleScope() noexcept {
    if (locale_t c = c_locale()) FSaved = uselocale(c);
}

CLocaleScope::~CLocaleScope() {
    if (FSaved) uselocale(static_cast<locale_t>(FSaved));
}

} // namespace kv::os
