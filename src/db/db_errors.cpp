// Which provider errors are fatal, and how EDbError keeps the provider error
// it wraps. See db_errors.h.
#include "db/db_errors.h"

#include "db/fb_api.h"

namespace kv {

bool EFbError::IsFatal() const noexcept {
    switch (ErrorNumber) {
    case fb::isc_shutdown:
    case fb::isc_conn_lost:
    case fb::isc_network_error:
    case fb::isc_net_read_err:
    case fb::isc_net_write_err:
    case fb::isc_lost_db_connection:
    case fb::isc_att_shutdown:
        return true;
    default:
        return false;
    }
}

// The inner error keeps its most derived type, so that a caller can still
// tell a Firebird error by its codes.
std::exception_ptr EDbError::capture(const EDataAccessError& e) {
    if (auto fb = dynamic_cast<const EFbError*>(&e)) return std::make_exception_ptr(*fb);
    return std::make_exception_ptr(e);
}

} // namespace kv
