// The archive reader over 7-Zip's codec library, as callers see it:
// CreateInArchive loads the library and gives an I7zInArchive for one
// handler class (the updater uses RAR5); OpenFile, ExtractTo and Close then
// work on one archive at a time, as often as needed on the same object.
// Every operation throws kv::Exception (or a stream error) on failure.
#pragma once

#include "platform/com.h"
#include "rtl/ref_ptr.h"
#include "rtl/stream.h"

#include <cstdint>
#include <string>

namespace kv {

struct IInStream;
struct ISequentialOutStream;
struct IInArchive;

// The library's handler property IDs.
enum class NArchive : uint32_t {
    kName = 0,
    kClassID = 1,
    kExtension = 2,
    kAddExtension = 3,
    kUpdate = 4,
    kKeepName = 5,
    kStartSignature = 6,
    kFinishSignature = 7,
    kAssociate = 8,
};

// Callbacks registered by callers; each result goes back to the library.
using T7zPasswordCallback = com::HRESULT (*)(void* sender, std::string& password);
using T7zGetStreamCallBack = com::HRESULT (*)(void* sender, uint32_t index, ISequentialOutStream** outStream);
using T7zProgressCallback = com::HRESULT (*)(void* sender, bool total, int64_t value);

// 7-Zip's RAR5 handler.
inline constexpr TGUID CLSID_CFormatRar5 = {
    0x23170F69, 0x40C1, 0x278A, {0x10, 0x00, 0x00, 0x01, 0x10, 0xCC, 0x00, 0x00}};
inline constexpr TGUID IID_I7zInArchive = {
    0xF4DA55E6, 0x2C0C, 0x4933, {0x81, 0x3F, 0x2B, 0xB4, 0x9E, 0x87, 0xE9, 0xD3}};

class I7zInArchive : public com::IUnknownBase {
public:
    // Opens an archive file for reading (others may read and write it, not
    // delete or move it, until Close). EFOpenError when the file does not
    // open; Exception with the library's result text when it is not an
    // archive of the handler's format.
    virtual void OpenFile(const std::string& fileName) = 0;
    virtual void OpenStream(IInStream* stream) = 0;
    // Ends work on the archive and drops the handler; harmless when none is held.
    virtual void Close() = 0;
    virtual uint32_t GetNumberOfItems() = 0;
    virtual std::string GetItemPath(uint32_t index) = 0;
    virtual std::string GetItemName(uint32_t index) = 0;
    virtual uint64_t GetItemSize(uint32_t index) = 0;
    virtual bool GetItemIsFolder(uint32_t index) = 0;
    // The handler object, created on first use.
    virtual RefPtr<IInArchive> GetInArchive() = 0;
    virtual void ExtractItem(uint32_t item, TStream& stream, bool test) = 0;
    virtual void ExtractItems(const uint32_t* items, uint32_t count, bool test, void* sender,
                              T7zGetStreamCallBack callback) = 0;
    virtual void ExtractAll(bool test, void* sender, T7zGetStreamCallBack callback) = 0;
    // Writes every file item below `path` ("\" appended unless it ends in
    // one). Refuses items whose path would leave the folder, and fails,
    // deleting that item's file, when the library reports an item damaged.
    virtual void ExtractTo(const std::string& path) = 0;
    virtual void SetPasswordCallback(void* sender, T7zPasswordCallback callback) = 0;
    virtual void SetPassword(const std::string& password) = 0;
    virtual void SetProgressCallback(void* sender, T7zProgressCallback callback) = 0;
    virtual void SetClassId(const TGUID& classid) = 0;
    virtual TGUID GetClassId() = 0;
};

// 7-Zip's codec library as this platform names it ("7z.dll", "7z.so").
extern const char* const kSevenZipLibrary;

// The library the reader is to load for a configured name: `configured`, or
// kSevenZipLibrary when it is empty.
std::string seven_zip_library(const std::string& configured);

// The file CreateInArchive would load `lib` from in a program that lives in
// `program_folder`: a name with a folder is that file; a bare name is looked
// for in `program_folder`, then (Linux) in 7-Zip's own folder, then where the
// system looks. Empty when none is found.
std::string seven_zip_library_file(const std::string& lib, const std::string& program_folder);

// Loads `lib` (passed to the platform loader as given) and makes a reader
// for the handler `classid`. Raises "Error loading library <lib>", "<lib>
// is not a 7z library" or "<lib> is not a Format library".
RefPtr<I7zInArchive> CreateInArchive(const TGUID& classid, const std::string& lib);

// Makes the reader's handler object now, as its first use would: raises what
// its creation raises (the library lacks the handler, say).
void CreateHandler(I7zInArchive& archive);

// Raises Exception with the system text for any result but 0.
void Check7zResult(com::HRESULT code);

} // namespace kv
