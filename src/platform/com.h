// The basics of COM-style objects that need no system headers: the result
// and count types, the GUID, the calling convention, and a base with the
// three reference-counting slots laid out as the system's IUnknown. Headers
// that callers include (the archive reader's interface) use only this; the
// library's own interfaces and its strings and variants are in com_library.h.
#pragma once

#include <cstdint>
#include <cstring>

#ifdef _WIN32
struct _GUID;
// The COM convention of Win32 (STDMETHODCALLTYPE); ignored on x86_64.
#define KV_COMCALL __stdcall
#else
#define KV_COMCALL
#endif

namespace kv {

// A class or interface ID, laid out as the system's GUID.
struct TGUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
inline bool operator==(const TGUID& a, const TGUID& b) noexcept {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

namespace com {

#ifdef _WIN32
using HRESULT = long;
using ULONG = unsigned long;
using IID = ::_GUID; // so that QueryInterface overrides the system's
#else
using HRESULT = int32_t; // never long: 8 bytes on LP64
using ULONG = uint32_t;
using IID = TGUID;
#endif

inline bool same_id(const IID& iid, const TGUID& id) noexcept {
    return std::memcmp(static_cast<const void*>(&iid), &id, sizeof id) == 0;
}

// Same slots and convention as IUnknown; no destructor slot (none may be
// declared in an interface: the compilers disagree on how many slots it takes).
struct IUnknownBase {
    virtual HRESULT KV_COMCALL QueryInterface(const IID& iid, void** obj) = 0;
    virtual ULONG KV_COMCALL AddRef() = 0;
    virtual ULONG KV_COMCALL Release() = 0;
};

constexpr HRESULT kOk = 0;
constexpr HRESULT kFalse = 1;
constexpr HRESULT kNotImplemented = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT kNoInterface = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT kAbort = static_cast<HRESULT>(0x80004004u);
constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005u);

constexpr TGUID kIID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

} // namespace com
} // namespace kv
