// T7zStream: one adapter object serving the library's input and output
// stream interfaces over a TStream. Exceptions never cross into the library:
// they are kept for the reader and the library gets a failure code.
#include "archive/seven_zip_objects.h"

namespace kv {

T7zStream::T7zStream(TStream* Stream, TStreamOwnership Ownership, TCallbackError error)
    : FStream(Stream), FOwnership(Ownership), FError(std::move(error)) {}

T7zStream::~T7zStream() {
    if (FOwnership == TStreamOwnership::soOwned) delete FStream;
}

com::ULONG T7zStream::Release() {
    com::ULONG n = --FRefCount;
    if (n == 0) delete this;
    return n;
}

HRESULT T7zStream::QueryInterface(const com::IID& iid, void** obj) {
    if (com::same_id(iid, com::kIID_IUnknown) || com::same_id(iid, IID_ISequentialInStream) ||
        com::same_id(iid, IID_IInStream))
        *obj = static_cast<IInStream*>(this);
    else if (com::same_id(iid, IID_ISequentialOutStream) || com::same_id(iid, IID_IOutStream))
        *obj = static_cast<IOutStream*>(this);
    else if (com::same_id(iid, IID_IStreamGetSize))
        *obj = static_cast<IStreamGetSize*>(this);
    else if (com::same_id(iid, IID_IOutStreamFlush))
        *obj = static_cast<IOutStreamFlush*>(this);
    else {
        *obj = nullptr;
        return com::kNoInterface;
    }
    AddRef();
    return com::kOk;
}

template <class F> HRESULT T7zStream::guarded(F&& f) {
    try {
        f();
        return com::kOk;
    } catch (...) {
        if (FError && !*FError) *FError = std::current_exception();
        return com::kFail;
    }
}

HRESULT T7zStream::Read(void* data, uint32_t size, uint32_t* processedSize) {
    if (processedSize) *processedSize = 0;
    return guarded([&] {
        int64_t n = FStream->Read(data, size);
        if (processedSize) *processedSize = static_cast<uint32_t>(n);
    });
}

HRESULT T7zStream::Write(const void* data, uint32_t size, uint32_t* processedSize) {
    if (processedSize) *processedSize = 0;
    return guarded([&] {
        int64_t n = FStream->Write(data, size);
        if (processedSize) *processedSize = static_cast<uint32_t>(n);
    });
}

HRESULT T7zStream::Seek(int64_t offset, uint32_t seekOrigin, uint64_t* newPosition) {
    if (seekOrigin > 2) return static_cast<HRESULT>(0x80030001u); // STG_E_INVALIDFUNCTION
    return guarded([&] {
        int64_t pos = FStream->Seek(offset, static_cast<TSeekOrigin>(seekOrigin));
        if (newPosition) *newPosition = static_cast<uint64_t>(pos);
    });
}

HRESULT T7zStream::SetSize(uint64_t newSize) {
    return guarded([&] { FStream->SetSize(static_cast<int64_t>(newSize)); });
}

HRESULT T7zStream::GetSize(uint64_t* size) {
    return guarded([&] {
        int64_t s = FStream->Size();
        if (size) *size = static_cast<uint64_t>(s);
    });
}

} // namespace kv
