// Loading 7-Zip's library and making its objects: T7zPlugin, T7zArchive,
// CreateInArchive and the shared failure test.
#include "archive/seven_zip_objects.h"
#include "rtl/exception.h"

namespace kv {

void Check7zResult(HRESULT code) {
    if (code != com::kOk) throw Exception(com::result_text(code));
}

T7zPlugin::T7zPlugin(const std::string& lib) : FLibName(lib) {
    if (!FHandle.load_searching(lib, kSevenZipSearchDirs)) throw Exception("Error loading library " + lib);
    FCreateObject = FHandle.function<CreateObjectFunc>("CreateObject");
    if (!FCreateObject) throw Exception(lib + " is not a 7z library"); // FHandle frees the library
}

com::ULONG T7zPlugin::release() noexcept {
    com::ULONG n = --FRefCount;
    if (n == 0) delete this;
    return n;
}

void T7zPlugin::CreateObject(const TGUID& clsid, const TGUID& iid, void** obj) {
    *obj = nullptr;
    HRESULT r = FCreateObject(&clsid, &iid, obj);
    if (r < 0) throw Exception(com::result_text(r));
    if (!*obj) throw Exception(com::result_text(com::kNoInterface));
}

T7zArchive::T7zArchive(const std::string& lib) : T7zPlugin(lib) {
    FGetHandlerProperty = FHandle.function<GetHandlerPropertyFunc>("GetHandlerProperty");
    if (!FGetHandlerProperty) throw Exception(lib + " is not a Format library");
    // Objects laid out otherwise than our interfaces would crash at the first call.
    std::string refused = FRuntime.bind(FHandle);
    if (!refused.empty()) throw Exception(lib + " is a 7z library of an unsupported kind: " + refused);
}

com::PropertyValue T7zArchive::GetHandlerProperty(NArchive propID) {
    PROPVARIANT v;
    com::ComRuntime::init(v);
    HRESULT r = FGetHandlerProperty(static_cast<PROPID>(propID), &v);
    if (r < 0) {
        FRuntime.clear(v);
        throw Exception(com::result_text(r));
    }
    return FRuntime.take(v);
}

std::string T7zArchive::GetLibStringProperty(NArchive index) {
    return GetHandlerProperty(index).text;
}

TGUID T7zArchive::GetLibGUIDProperty(NArchive index) {
    std::string bytes = GetHandlerProperty(index).bytes;
    bytes.resize(sizeof(TGUID));
    TGUID id;
    std::memcpy(&id, bytes.data(), sizeof id);
    return id;
}

RefPtr<I7zInArchive> CreateInArchive(const TGUID& classid, const std::string& lib) {
    RefPtr<I7zInArchive> result(new T7zInArchive(lib));
    result->SetClassId(classid);
    return result;
}

} // namespace kv
