// The errors of the database layer. The provider raises EDataAccessError and
// its Firebird form EFbError (with the client library's codes and texts); the
// component layer passes every provider error on as EDbError, which is what
// callers and the operator meet. EDatabaseError is the component layer's own
// misuse error ("Connection is not defined", "Field '%s' not found").
#pragma once

#include "rtl/exception.h"

#include <cstdint>
#include <exception>
#include <string>

namespace kv {

class EDataAccessError : public Exception {
public:
    EDataAccessError(std::string message, int error_code = 0)
        : Exception(std::move(message)), ErrorCode(error_code) {}
    const char* ClassName() const noexcept override { return "EDataAccessError"; }
    int ErrorCode; // the SQL code for client library errors
};

class EFbError : public EDataAccessError {
public:
    using EDataAccessError::EDataAccessError;
    const char* ClassName() const noexcept override { return "EFbError"; }
    std::string SQLErrorMsg; // isc_sql_interprete of the SQL code
    int64_t ErrorNumber = 0; // the primary error code (second status cell)
    std::string SQLState;    // fb_sqlstate, empty when the library lacks it

    // The connection is taken as lost after these.
    bool IsFatal() const noexcept;
};

class EDbError : public Exception {
public:
    // Copies message and code of a provider error and keeps it as InnerError.
    explicit EDbError(const EDataAccessError& inner)
        : Exception(inner.Message()), ErrorCode(inner.ErrorCode), InnerError(capture(inner)) {}
    const char* ClassName() const noexcept override { return "EDbError"; }
    int ErrorCode;
    std::exception_ptr InnerError;

private:
    static std::exception_ptr capture(const EDataAccessError& e);
};

KV_EXCEPTION(EDatabaseError, Exception);

} // namespace kv
