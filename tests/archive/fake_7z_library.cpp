// Shared objects that look like 7-Zip's library to the loader but lack what
// the reader needs: built once per variant with the exports switched on by
// the build (HAS_CREATE_OBJECT, HAS_HANDLER_PROPERTY, MODULE_INTERFACE_TYPE).
// None of them is ever asked to make an object.
#include <cstdint>
#include <cstring>

extern "C" {

#ifdef HAS_CREATE_OBJECT
__attribute__((visibility("default"))) int32_t CreateObject(const void*, const void*, void** out) {
    *out = nullptr;
    return static_cast<int32_t>(0x80004005u);
}
#endif

#ifdef HAS_HANDLER_PROPERTY
__attribute__((visibility("default"))) int32_t GetHandlerProperty(uint32_t, void*) {
    return static_cast<int32_t>(0x80004005u);
}
__attribute__((visibility("default"))) void* SysAllocString(const wchar_t*) {
    return nullptr;
}
__attribute__((visibility("default"))) void SysFreeString(void*) {}
__attribute__((visibility("default"))) int32_t VariantClear(void* v) {
    std::memset(v, 0, 16);
    return 0;
}
#endif

#ifdef MODULE_INTERFACE_TYPE
// A PROPVARIANT holding VT_UI4: the interface type of the library's objects.
__attribute__((visibility("default"))) int32_t GetModuleProp(uint32_t, void* value) {
    auto* p = static_cast<unsigned char*>(value);
    std::memset(p, 0, 16);
    uint16_t vt = 19;
    uint32_t type = MODULE_INTERFACE_TYPE;
    std::memcpy(p, &vt, 2);
    std::memcpy(p + 8, &type, 4);
    return 0;
}
#endif

__attribute__((visibility("default"))) int fake_7z_library_marker() {
    return 1;
}
}
