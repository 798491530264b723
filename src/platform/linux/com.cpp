// COM-style strings, variants and result texts on Linux, through the
// functions 7-Zip's library exports (its BSTR is a malloc block with a 4-byte
// byte-length prefix and 4-byte units that hold UTF-16 code units).
#include "platform/com_library.h"
#include "platform/files.h"
#include "platform/unicode.h"

#include <cerrno>
#include <vector>

namespace kv::com {
namespace {

using GetModulePropFn = HRESULT (*)(uint32_t, PROPVARIANT*);

// UTF-16 code units carried in 32-bit units; a value above 0xFFFF (which the
// library may pass through) is a whole code point.
std::u16string units_to_utf16(const wchar_t* s, size_t n) {
    std::u16string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        auto u = static_cast<uint32_t>(s[i]);
        if (u > 0xFFFF && u <= 0x10FFFF) {
            u -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (u >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (u & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(u > 0xFFFF ? 0xFFFD : u));
        }
    }
    return out;
}

uint32_t bstr_byte_length(BSTR s) {
    uint32_t n;
    std::memcpy(&n, reinterpret_cast<const char*>(s) - 4, 4);
    return n;
}

} // namespace

std::string ComRuntime::bind(const os::Library& lib) {
    auto module_prop = lib.function<GetModulePropFn>("GetModuleProp");
    if (!module_prop) return "it has no GetModuleProp export, as 7-Zip before version 23";
    FAlloc = lib.function<AllocFn>("SysAllocString");
    FFree = lib.function<FreeFn>("SysFreeString");
    FClear = lib.function<ClearFn>("VariantClear");
    if (!FAlloc || !FFree || !FClear) return "it lacks SysAllocString, SysFreeString or VariantClear";
    PROPVARIANT v;
    init(v);
    HRESULT r = module_prop(0, &v);
    bool ok = r == kOk && v.vt == kVtUI4 && v.ulVal == 0;
    std::string reason = ok               ? std::string()
                         : v.vt == kVtUI4 ? "its interface type is " + std::to_string(v.ulVal) + ", not 0"
                                          : std::string("it does not report its interface type");
    clear(v);
    return reason;
}

BSTR ComRuntime::alloc_string(std::string_view utf8) const {
    std::u16string u = utf8_to_utf16(utf8);
    std::vector<wchar_t> w(u.begin(), u.end());
    w.push_back(0);
    return FAlloc(w.data());
}

void ComRuntime::free_string(BSTR s) const {
    if (s) FFree(s);
}

void ComRuntime::clear(PROPVARIANT& v) const {
    if (v.vt != kVtEmpty) FClear(&v);
    init(v);
}

void ComRuntime::init(PROPVARIANT& v) noexcept {
    std::memset(&v, 0, sizeof v);
}

PropertyValue ComRuntime::take(PROPVARIANT& v) const {
    PropertyValue p;
    p.type = v.vt;
    switch (v.vt) {
    case kVtBstr:
        if (v.bstrVal) p.bytes.assign(reinterpret_cast<const char*>(v.bstrVal), bstr_byte_length(v.bstrVal));
        p.text = bstr_to_utf8(v.bstrVal);
        break;
    case kVtBool:
        p.flag = v.boolVal != 0;
        break;
    case kVtUI4:
        p.number = v.ulVal;
        break;
    case kVtUI8:
        p.number = v.uhVal;
        break;
    default:
        break;
    }
    clear(v);
    return p;
}

std::string wide_to_utf8(const wchar_t* s) {
    if (!s) return {};
    size_t n = 0;
    while (s[n])
        ++n;
    return utf16_to_utf8(units_to_utf16(s, n));
}

std::string bstr_to_utf8(BSTR s) {
    if (!s) return {};
    return utf16_to_utf8(units_to_utf16(s, bstr_byte_length(s) / sizeof(wchar_t)));
}

std::string result_text(HRESULT code) {
    auto c = static_cast<uint32_t>(code);
    // 7-Zip's private facility for errno values on Unix.
    if ((c & 0xFFFF0000u) == 0x88000000u) return os::system_error_text(c & 0xFFFFu);
    // The texts Windows gives for the codes the library returns.
    switch (c) {
    case 0x00000001u:
        return "Incorrect function";
    case 0x80004001u:
        return "Not implemented";
    case 0x80004002u:
        return "No such interface supported";
    case 0x80004004u:
        return "Operation aborted";
    case 0x80004005u:
        return "Unspecified error";
    case 0x80030001u:
        return "Unable to perform requested operation";
    case 0x80040111u:
        return "ClassFactory cannot supply requested class";
    case 0x80070002u:
        return "The system cannot find the file specified";
    case 0x80070005u:
        return "Access is denied";
    case 0x8007000Eu:
        return "Not enough memory resources are available to complete this operation";
    case 0x80070057u:
        return "The parameter is incorrect";
    case 0x80070083u:
        return "An attempt was made to move the file pointer before the beginning of the file";
    default:
        return {};
    }
}

} // namespace kv::com
