// The classes behind I7zInArchive: T7zPlugin loads the library and creates
// its objects, T7zArchive adds the handler class and its properties,
// T7zInArchive is the reader and the callback object the library calls
// back into, T7zStream adapts a TStream to the library's stream interfaces.
// All are reference-counted; the last Release destroys them.
#pragma once

#include "archive/seven_zip.h"
#include "archive/seven_zip_interfaces.h"
#include "platform/library.h"

#include <atomic>
#include <exception>
#include <memory>
#include <string>
#include <unordered_set>

namespace kv {

// Where an adapter or callback leaves an error it could not throw across the
// library; the reader raises it once the library call has returned.
using TCallbackError = std::shared_ptr<std::exception_ptr>;

// Where a bare library name is looked for after the program's own folder and
// before the system loader's places (nullptr-terminated).
extern const char* const kSevenZipSearchDirs[];

class T7zPlugin {
public:
    explicit T7zPlugin(const std::string& lib);
    virtual ~T7zPlugin() = default;
    T7zPlugin(const T7zPlugin&) = delete;
    T7zPlugin& operator=(const T7zPlugin&) = delete;

    // A new library object with one reference owned by the caller; raises
    // on a negative result.
    void CreateObject(const TGUID& clsid, const TGUID& iid, void** obj);

protected:
    com::ULONG add_ref() noexcept { return ++FRefCount; }
    com::ULONG release() noexcept;

    using CreateObjectFunc = HRESULT(KV_COMCALL*)(const TGUID* clsid, const TGUID* iid, void** out);
    std::string FLibName;
    os::Library FHandle;
    CreateObjectFunc FCreateObject = nullptr;

private:
    std::atomic<com::ULONG> FRefCount{0};
};

class T7zArchive : public T7zPlugin {
public:
    explicit T7zArchive(const std::string& lib);

    com::PropertyValue GetHandlerProperty(NArchive propID);
    std::string GetLibStringProperty(NArchive index);
    TGUID GetLibGUIDProperty(NArchive index);
    std::string name() { return GetLibStringProperty(NArchive::kName); }
    std::string Extension() { return GetLibStringProperty(NArchive::kExtension); }
    TGUID ClassID() const { return FClassId; }
    void SetClassID(const TGUID& id) { FClassId = id; }

protected:
    using GetHandlerPropertyFunc = HRESULT(KV_COMCALL*)(PROPID propID, PROPVARIANT* value);
    GetHandlerPropertyFunc FGetHandlerProperty = nullptr;
    TGUID FClassId{};
    com::ComRuntime FRuntime;
};

class T7zInArchive final : public T7zArchive,
                           public I7zInArchive,
                           public IArchiveOpenCallback,
                           public IArchiveExtractCallback,
                           public ICryptoGetTextPassword,
                           public IArchiveOpenVolumeCallback,
                           public IArchiveOpenSetSubArchiveName {
public:
    explicit T7zInArchive(const std::string& lib);
    ~T7zInArchive() override;

    // IUnknown, for every interface of the object.
    HRESULT KV_COMCALL QueryInterface(const com::IID& iid, void** obj) override;
    com::ULONG KV_COMCALL AddRef() override { return add_ref(); }
    com::ULONG KV_COMCALL Release() override { return release(); }

    // I7zInArchive
    void OpenFile(const std::string& fileName) override;
    void OpenStream(IInStream* stream) override;
    void Close() override;
    uint32_t GetNumberOfItems() override;
    std::string GetItemPath(uint32_t index) override;
    std::string GetItemName(uint32_t index) override;
    uint64_t GetItemSize(uint32_t index) override;
    bool GetItemIsFolder(uint32_t index) override;
    RefPtr<IInArchive> GetInArchive() override;
    void ExtractItem(uint32_t item, TStream& stream, bool test) override;
    void ExtractItems(const uint32_t* items, uint32_t count, bool test, void* sender,
                      T7zGetStreamCallBack callback) override;
    void ExtractAll(bool test, void* sender, T7zGetStreamCallBack callback) override;
    void ExtractTo(const std::string& path) override;
    void SetPasswordCallback(void* sender, T7zPasswordCallback callback) override;
    void SetPassword(const std::string& password) override;
    void SetProgressCallback(void* sender, T7zProgressCallback callback) override;
    void SetClassId(const TGUID& classid) override { FClassId = classid; }
    TGUID GetClassId() override { return FClassId; }

    // IArchiveOpenCallback
    HRESULT KV_COMCALL SetTotal(const uint64_t* files, const uint64_t* bytes) override;
    HRESULT KV_COMCALL SetCompleted(const uint64_t* files, const uint64_t* bytes) override;
    // IProgress
    HRESULT KV_COMCALL SetTotal(uint64_t total) override;
    HRESULT KV_COMCALL SetCompleted(const uint64_t* completeValue) override;
    // IArchiveExtractCallback
    HRESULT KV_COMCALL GetStream(uint32_t index, ISequentialOutStream** outStream,
                                 int32_t askExtractMode) override;
    HRESULT KV_COMCALL PrepareOperation(int32_t askExtractMode) override;
    HRESULT KV_COMCALL SetOperationResult(int32_t opRes) override;
    // ICryptoGetTextPassword
    HRESULT KV_COMCALL CryptoGetTextPassword(BSTR* password) override;
    // IArchiveOpenVolumeCallback
    HRESULT KV_COMCALL GetProperty(PROPID propID, PROPVARIANT* value) override;
    HRESULT KV_COMCALL GetStream(const wchar_t* name, IInStream** inStream) override;
    // IArchiveOpenSetSubArchiveName
    HRESULT KV_COMCALL SetSubArchiveName(const wchar_t* name) override;

private:
    com::PropertyValue item_property(uint32_t index, PROPID id);
    void check_indices(const uint32_t* indices, uint32_t count);
    void open_stream(IInStream* stream);
    // Runs the handler's Extract and raises, in this order, an error left by
    // a callback, a failing result, or the first item reported damaged.
    void extract(const uint32_t* indices, uint32_t count, bool test);
    HRESULT make_output_file(uint32_t index, ISequentialOutStream** outStream);
    // Whether the item is a symbolic link, junction, hard link or file copy:
    // the reader writes only data, so such an item would come out empty.
    bool is_link_item(uint32_t index);
    // Raises when the library found the archive to end before its end.
    void check_archive_end();
    IInArchive& open_handler();

    RefPtr<IInArchive> FInArchive;
    T7zPasswordCallback FPasswordCallback = nullptr;
    void* FPasswordSender = nullptr;
    T7zProgressCallback FProgressCallback = nullptr;
    void* FProgressSender = nullptr;
    TStream* FStream = nullptr; // not owned
    bool FPasswordIsDefined = false;
    std::string FPassword;
    bool FSubArchiveMode = false;
    std::string FSubArchiveName;
    T7zGetStreamCallBack FExtractCallBack = nullptr;
    void* FExtractSender = nullptr;
    std::string FExtractPath;
    std::unordered_set<std::string> FPlainFolders; // folders below FExtractPath known to be no link

    // The item the library is working on, the file made for it, and the first
    // item it reported as not OK.
    TCallbackError FCallbackError = std::make_shared<std::exception_ptr>();
    uint32_t FCurrentIndex = 0;
    std::string FCurrentFile;
    bool FItemFailed = false;
    uint32_t FFailedIndex = 0;
    int32_t FFailedResult = 0;
};

enum class TStreamOwnership { soReference = 0, soOwned = 1 };

class T7zStream final : public IInStream, public IStreamGetSize, public IOutStream, public IOutStreamFlush {
public:
    // Owns `stream` when ownership is soOwned. Errors the stream raises are
    // left in `error` (when given) and reported to the library as a failure.
    T7zStream(TStream* Stream, TStreamOwnership Ownership, TCallbackError error = nullptr);
    ~T7zStream();
    T7zStream(const T7zStream&) = delete;
    T7zStream& operator=(const T7zStream&) = delete;

    HRESULT KV_COMCALL QueryInterface(const com::IID& iid, void** obj) override;
    com::ULONG KV_COMCALL AddRef() override { return ++FRefCount; }
    com::ULONG KV_COMCALL Release() override;

    HRESULT KV_COMCALL Read(void* data, uint32_t size, uint32_t* processedSize) override;
    HRESULT KV_COMCALL Write(const void* data, uint32_t size, uint32_t* processedSize) override;
    HRESULT KV_COMCALL Seek(int64_t offset, uint32_t seekOrigin, uint64_t* newPosition) override;
    HRESULT KV_COMCALL SetSize(uint64_t newSize) override;
    HRESULT KV_COMCALL GetSize(uint64_t* size) override;
    HRESULT KV_COMCALL Flush() override { return com::kOk; }

private:
    template <class F> HRESULT guarded(F&& f);
    TStream* FStream;
    TStreamOwnership FOwnership;
    TCallbackError FError;
    std::atomic<com::ULONG> FRefCount{0};
};

// Whether an item path would leave the target folder: absolute, with a
// leading separator, a drive or stream colon, or a ".." component.
bool is_unsafe_item_path(std::string_view path);

// Why an item path is refused before anything is written for it: empty when
// it may be extracted, else the reason as the refusal message words it (a
// control character or NUL in the name; a path that leaves the target).
std::string item_path_refusal(std::string_view path);

} // namespace kv
