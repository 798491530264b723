#include "rtl/exception.h"

namespace kv {

void Abort() {
    throw EAbort("Operation aborted");
}

ErrorInfo describe_exception(std::exception_ptr e) {
    try {
        std::rethrow_exception(e);
    } catch (const EAbort& x) {
        return {x.Message(), x.ClassName(), true};
    } catch (const Exception& x) {
        return {x.Message(), x.ClassName(), false};
    } catch (const std::bad_alloc&) {
        return {"Out of memory", "EOutOfMemory", false};
    } catch (const std::exception& x) {
        return {x.what(), "Exception", false};
    } catch (...) {
        return {"Unknown error", "Exception", false};
    }
}

} // namespace kv
