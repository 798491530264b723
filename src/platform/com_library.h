// What crossing into 7-Zip's library needs beyond platform/com.h: the base
// interface its objects derive from, its strings (BSTR) and property values
// (PROPVARIANT), and the system text for its result codes.
//
// Windows: the SDK's IUnknown, BSTR and PROPVARIANT, with OLE's allocator.
// Linux: the library's own layout (no destructor slot, 4-byte wchar_t units
// holding UTF-16 code units, BSTR with a byte-length prefix), with the
// string and variant functions the library exports, so that both sides use
// one allocator. ComRuntime binds them and refuses a library laid out
// differently (7-Zip before 23 on Unix had a destructor slot in IUnknown).
#pragma once

#include "platform/com.h"
#include "platform/library.h"

#include <string>
#include <string_view>

#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <unknwn.h>
#include <oleauto.h>
#include <propidl.h>
// clang-format on
#endif

namespace kv::com {

#ifdef _WIN32
using IUnknown = ::IUnknown;
using BSTR = ::BSTR;
using PROPVARIANT = ::PROPVARIANT;
using VARTYPE = ::VARTYPE;
#else
using IUnknown = IUnknownBase;
using BSTR = wchar_t*;
using VARTYPE = uint16_t;
struct PROPVARIANT {
    VARTYPE vt;
    uint16_t wReserved1, wReserved2, wReserved3;
    union {
        uint32_t ulVal;
        uint64_t uhVal;
        int16_t boolVal;
        BSTR bstrVal;
    };
};
static_assert(sizeof(PROPVARIANT) == 16);
#endif

constexpr VARTYPE kVtEmpty = 0;
constexpr VARTYPE kVtBstr = 8;
constexpr VARTYPE kVtBool = 11;
constexpr VARTYPE kVtUI4 = 19;
constexpr VARTYPE kVtUI8 = 21;

// A property value read into plain C++ values.
struct PropertyValue {
    VARTYPE type = kVtEmpty;
    std::string bytes; // a BSTR's raw bytes
    std::string text;  // a BSTR's text
    uint64_t number = 0;
    bool flag = false;
};

class ComRuntime {
public:
    // Binds the string and variant functions for `lib` and checks its binary
    // interface. Returns an empty text, or the reason the library is refused.
    std::string bind(const os::Library& lib);

    // A new BSTR holding the text; the receiver frees it.
    BSTR alloc_string(std::string_view utf8) const;
    void free_string(BSTR s) const;
    // Empties a value the library filled in, freeing what it owns.
    void clear(PROPVARIANT& v) const;
    static void init(PROPVARIANT& v) noexcept;
    // Converts and clears.
    PropertyValue take(PROPVARIANT& v) const;

private:
#ifndef _WIN32
    using AllocFn = BSTR (*)(const wchar_t*);
    using FreeFn = void (*)(BSTR);
    using ClearFn = HRESULT (*)(PROPVARIANT*);
    AllocFn FAlloc = nullptr;
    FreeFn FFree = nullptr;
    ClearFn FClear = nullptr;
#endif
};

// A zero-terminated library text (a name the library passes in) as UTF-8.
std::string wide_to_utf8(const wchar_t* s);
// A BSTR's text (its length prefix counts) as UTF-8.
std::string bstr_to_utf8(BSTR s);

// The system's text for a result code, trailing blanks, control characters
// and full stops removed; empty when the system has none.
std::string result_text(HRESULT code);

} // namespace kv::com
