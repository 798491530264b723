// The error classes every layer raises. An error is an exception object that
// carries the text the operator sees; EAbort is the silent one (the error box
// drops it). Components declare their own classes with KV_EXCEPTION so that
// ClassName() names them for kvtool's JSON output and for tests.
#pragma once

#include <exception>
#include <string>

namespace kv {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const std::string& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FMessage.c_str(); }
    virtual const char* ClassName() const noexcept { return "Exception"; }

private:
    std::string FMessage;
};

// Declares `Name`, derived from `Base`, whose ClassName() is "Name".
#define KV_EXCEPTION(Name, Base)                                                                             \
    class Name : public Base {                                                                               \
    public:                                                                                                  \
        using Base::Base;                                                                                    \
        const char* ClassName() const noexcept override { return #Name; }                                    \
    }

KV_EXCEPTION(EAbort, Exception);
KV_EXCEPTION(EStreamError, Exception);
KV_EXCEPTION(EFileStreamError, EStreamError);
KV_EXCEPTION(EFCreateError, EFileStreamError);
KV_EXCEPTION(EFOpenError, EFileStreamError);
KV_EXCEPTION(EReadError, EStreamError);
KV_EXCEPTION(EWriteError, EStreamError);
KV_EXCEPTION(EOSError, Exception);
KV_EXCEPTION(EConvertError, Exception);

// Raises the silent EAbort (the view operation `Abort`).
[[noreturn]] void Abort();

// The message and class name of whatever is in flight, for places that must
// report any error (the error box, kvtool): kv::Exception gives its own,
// other std::exception their what() under "Exception".
struct ErrorInfo {
    std::string message;
    std::string class_name;
    bool silent = false; // EAbort
};
ErrorInfo describe_exception(std::exception_ptr e);

} // namespace kv
