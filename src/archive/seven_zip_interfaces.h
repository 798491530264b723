// 7-Zip's published object interfaces, in the slot order and calling
// convention of its library on both targets (no destructor slots; results
// are 32-bit; 64-bit numbers by value). A wrong order here compiles and then
// crashes, so keep it as the library declares it.
#pragma once

#include "platform/com_library.h"

#include <cstdint>

namespace kv {

using com::BSTR;
using com::HRESULT;
using com::PROPVARIANT;

using PROPID = uint32_t;

// 7-Zip's interface IDs: {23170F69-40C1-278A-0000-00GG00SS0000}.
constexpr TGUID seven_zip_iid(uint8_t group, uint8_t sub) {
    return {0x23170F69, 0x40C1, 0x278A, {0x00, 0x00, 0x00, group, 0x00, sub, 0x00, 0x00}};
}
inline constexpr TGUID IID_IProgress = seven_zip_iid(0x00, 0x05);
inline constexpr TGUID IID_ISequentialInStream = seven_zip_iid(0x03, 0x01);
inline constexpr TGUID IID_ISequentialOutStream = seven_zip_iid(0x03, 0x02);
inline constexpr TGUID IID_IInStream = seven_zip_iid(0x03, 0x03);
inline constexpr TGUID IID_IOutStream = seven_zip_iid(0x03, 0x04);
inline constexpr TGUID IID_IStreamGetSize = seven_zip_iid(0x03, 0x06);
inline constexpr TGUID IID_IOutStreamFlush = seven_zip_iid(0x03, 0x07);
inline constexpr TGUID IID_ICryptoGetTextPassword = seven_zip_iid(0x05, 0x10);
inline constexpr TGUID IID_IArchiveOpenCallback = seven_zip_iid(0x06, 0x10);
inline constexpr TGUID IID_IArchiveExtractCallback = seven_zip_iid(0x06, 0x20);
inline constexpr TGUID IID_IArchiveOpenVolumeCallback = seven_zip_iid(0x06, 0x30);
inline constexpr TGUID IID_IArchiveOpenSetSubArchiveName = seven_zip_iid(0x06, 0x50);
inline constexpr TGUID IID_IInArchive = seven_zip_iid(0x06, 0x60);

struct ISequentialInStream : com::IUnknown {
    virtual HRESULT KV_COMCALL Read(void* data, uint32_t size, uint32_t* processedSize) = 0;
};

struct ISequentialOutStream : com::IUnknown {
    virtual HRESULT KV_COMCALL Write(const void* data, uint32_t size, uint32_t* processedSize) = 0;
};

struct IInStream : ISequentialInStream {
    virtual HRESULT KV_COMCALL Seek(int64_t offset, uint32_t seekOrigin, uint64_t* newPosition) = 0;
};

struct IOutStream : ISequentialOutStream {
    virtual HRESULT KV_COMCALL Seek(int64_t offset, uint32_t seekOrigin, uint64_t* newPosition) = 0;
    virtual HRESULT KV_COMCALL SetSize(uint64_t newSize) = 0;
};

struct IStreamGetSize : com::IUnknown {
    virtual HRESULT KV_COMCALL GetSize(uint64_t* size) = 0;
};

struct IOutStreamFlush : com::IUnknown {
    virtual HRESULT KV_COMCALL Flush() = 0;
};

struct IProgress : com::IUnknown {
    virtual HRESULT KV_COMCALL SetTotal(uint64_t total) = 0;
    virtual HRESULT KV_COMCALL SetCompleted(const uint64_t* completeValue) = 0;
};

struct IArchiveOpenCallback : com::IUnknown {
    virtual HRESULT KV_COMCALL SetTotal(const uint64_t* files, const uint64_t* bytes) = 0;
    virtual HRESULT KV_COMCALL SetCompleted(const uint64_t* files, const uint64_t* bytes) = 0;
};

struct IArchiveExtractCallback : IProgress {
    virtual HRESULT KV_COMCALL GetStream(uint32_t index, ISequentialOutStream** outStream,
                                         int32_t askExtractMode) = 0;
    virtual HRESULT KV_COMCALL PrepareOperation(int32_t askExtractMode) = 0;
    virtual HRESULT KV_COMCALL SetOperationResult(int32_t opRes) = 0;
};

struct IArchiveOpenVolumeCallback : com::IUnknown {
    virtual HRESULT KV_COMCALL GetProperty(PROPID propID, PROPVARIANT* value) = 0;
    virtual HRESULT KV_COMCALL GetStream(const wchar_t* name, IInStream** inStream) = 0;
};

struct IArchiveOpenSetSubArchiveName : com::IUnknown {
    virtual HRESULT KV_COMCALL SetSubArchiveName(const wchar_t* name) = 0;
};

struct ICryptoGetTextPassword : com::IUnknown {
    virtual HRESULT KV_COMCALL CryptoGetTextPassword(BSTR* password) = 0;
};

struct IInArchive : com::IUnknown {
    virtual HRESULT KV_COMCALL Open(IInStream* stream, const uint64_t* maxCheckStartPosition,
                                    IArchiveOpenCallback* openCallback) = 0;
    virtual HRESULT KV_COMCALL Close() = 0;
    virtual HRESULT KV_COMCALL GetNumberOfItems(uint32_t* numItems) = 0;
    virtual HRESULT KV_COMCALL GetProperty(uint32_t index, PROPID propID, PROPVARIANT* value) = 0;
    virtual HRESULT KV_COMCALL Extract(const uint32_t* indices, uint32_t numItems, int32_t testMode,
                                       IArchiveExtractCallback* extractCallback) = 0;
    virtual HRESULT KV_COMCALL GetArchiveProperty(PROPID propID, PROPVARIANT* value) = 0;
    virtual HRESULT KV_COMCALL GetNumberOfProperties(uint32_t* numProps) = 0;
    virtual HRESULT KV_COMCALL GetPropertyInfo(uint32_t index, BSTR* name, PROPID* propID,
                                               com::VARTYPE* varType) = 0;
    virtual HRESULT KV_COMCALL GetNumberOfArchiveProperties(uint32_t* numProps) = 0;
    virtual HRESULT KV_COMCALL GetArchivePropertyInfo(uint32_t index, BSTR* name, PROPID* propID,
                                                      com::VARTYPE* varType) = 0;
};

// Item properties and modes the reader uses.
constexpr PROPID kpidPath = 3;
constexpr PROPID kpidName = 4;
constexpr PROPID kpidIsDir = 6;
constexpr PROPID kpidSize = 7;
constexpr PROPID kpidAttrib = 9;
constexpr PROPID kpidPosixAttrib = 53;
constexpr PROPID kpidSymLink = 54;
constexpr PROPID kpidErrorFlags = 71;
constexpr PROPID kpidHardLink = 90;
constexpr PROPID kpidCopyLink = 95;

// Bits of the archive's kpidErrorFlags.
constexpr uint32_t kErrorFlagsUnexpectedEnd = 0x20;

namespace NAskMode {
constexpr int32_t kExtract = 0;
}

namespace NOperationResult {
constexpr int32_t kOK = 0;
}

} // namespace kv
