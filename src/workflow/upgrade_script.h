// The built-in text that the database upgrade step hands to its script
// runner to bring a site database to the 2027 release. It is fixed: nothing
// in it depends on the site, and it takes no parameters.
#pragma once

#include <string>

namespace kv {

// Base addresses of the e-invoice provider's test and production APIs, written
// into the default row of FATURABILGI. Scheme and host only: no path, no
// trailing "/". They stand in for the provider's real addresses until the
// product owner supplies them; this is the only place they are written.
inline constexpr const char* kEInvoiceProviderTestUrl = "https://einvoice-test.provider.example";
inline constexpr const char* kEInvoiceProviderBaseUrl = "https://einvoice.provider.example";

// The upgrade script: lines separated by CR LF, no line break after the final
// "    COMMIT;". Built once; the same text on every call.
const std::string& upgrade_script();

} // namespace kv
