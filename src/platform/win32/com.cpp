// COM-style strings, variants and result texts on Windows: OLE's allocator
// and variant clearing, and FormatMessageW for result codes.
#include "platform/com_library.h"
#include "platform/files.h"
#include "platform/unicode.h"

namespace kv::com {

// 7z.dll is built against the same OLE runtime; its interface needs no check.
std::string ComRuntime::bind(const os::Library&) {
    return {};
}

BSTR ComRuntime::alloc_string(std::string_view utf8) const {
    std::wstring w = to_wide(utf8);
    return ::SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
}

void ComRuntime::free_string(BSTR s) const {
    ::SysFreeString(s);
}

void ComRuntime::clear(PROPVARIANT& v) const {
    ::PropVariantClear(&v);
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
        if (v.bstrVal)
            p.bytes.assign(reinterpret_cast<const char*>(v.bstrVal), ::SysStringByteLen(v.bstrVal));
        p.text = bstr_to_utf8(v.bstrVal);
        break;
    case kVtBool:
        p.flag = v.boolVal != 0;
        break;
    case kVtUI4:
        p.number = v.ulVal;
        break;
    case kVtUI8:
        p.number = v.uhVal.QuadPart;
        break;
    default:
        break;
    }
    clear(v);
    return p;
}

std::string wide_to_utf8(const wchar_t* s) {
    return s ? from_wide(s) : std::string();
}

std::string bstr_to_utf8(BSTR s) {
    return s ? from_wide(std::wstring_view(s, ::SysStringLen(s))) : std::string();
}

std::string result_text(HRESULT code) {
    return os::system_error_text(static_cast<uint32_t>(code));
}

} // namespace kv::com
