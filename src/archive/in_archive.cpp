// T7zInArchive: opening an archive through the library's handler, extracting
// it, and the callbacks the library makes while it does so.
#include "archive/seven_zip_objects.h"
#include "platform/files.h"
#include "rtl/exception.h"
#include "rtl/in_any_case.h"

#include <memory>
#include <unordered_set>

namespace kv {
namespace {

// How far into a file the start of an archive may lie.
constexpr uint64_t kMaxCheckStartPosition = 1048576;
constexpr uint32_t kAllItems = 0xFFFFFFFF;

bool is_separator(char c) {
    return c == '\\' || c == '/';
}

const char* operation_result_text(int32_t r) {
    switch (r) {
    case 1:
        return "unsupported compression method";
    case 2:
        return "data error";
    case 3:
        return "CRC error";
    case 4:
        return "data unavailable";
    case 5:
        return "unexpected end of data";
    case 6:
        return "data after the end";
    case 7:
        return "not an archive";
    case 8:
        return "headers error";
    case 9:
        return "wrong password";
    default:
        return "unknown error";
    }
}

// Creates every missing folder of the part of `name` up to its last
// separator or ":", parents first; results are not looked at (a folder that
// cannot be made shows when its file cannot be created). A part that ends in
// ":" names a drive, not a folder: the "C" of C:\... is never made in the
// working folder. Items mostly share folders that exist by then: one look at
// the nearest parent spares asking for every folder on the way, and copying
// the path for each.
void create_parent_folders(const std::string& name) {
    size_t end = name.find_last_of("\\/:");
    if (end == std::string::npos) return;
    if (end > 0 && !is_separator(name[end - 1]) && name[end - 1] != ':' &&
        os::directory_exists(name.substr(0, end)))
        return;
    for (size_t i = 0; i <= end; ++i) {
        if (!is_separator(name[i])) continue;
        if (i == 0 || is_separator(name[i - 1]) || name[i - 1] == ':') continue;
        std::string folder = name.substr(0, i);
        if (!os::directory_exists(folder)) os::create_directory(folder);
    }
}

// The item's name for a message: control characters shown as "?".
std::string printable(std::string_view path) {
    std::string out(path);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return out;
}

[[noreturn]] void refuse(std::string_view item, std::string_view reason) {
    throw Exception("Refused to extract \"" + printable(item) + "\": " + std::string(reason));
}

constexpr std::string_view kLeavesTarget = "its path leads outside the target folder";

// Whether a folder or file named by `item` below `base` is already a link
// there: writing through it would land outside the target folder. Folders
// found to be no link are kept in `plain_folders` and not looked at again in
// the same extraction, which makes no links: a deep item costs one look per
// new folder instead of one per folder on its path.
bool runs_through_link(const std::string& base, std::string_view item,
                       std::unordered_set<std::string>& plain_folders) {
    std::string path = base;
    size_t start = 0;
    while (start < item.size()) {
        size_t end = start;
        while (end < item.size() && !is_separator(item[end]))
            ++end;
        if (end > start) {
            path.append(item.substr(start, end - start));
            const bool folder = end < item.size();
            if (!folder || !plain_folders.contains(path)) {
                if (os::is_link(path)) return true;
                if (folder) plain_folders.insert(path);
            }
            path += '\\';
        }
        start = end + 1;
    }
    return false;
}

} // namespace

std::string item_path_refusal(std::string_view path) {
    for (char c : path)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return "its name holds a control character";
    if (is_unsafe_item_path(path)) return std::string(kLeavesTarget);
    return {};
}

bool is_unsafe_item_path(std::string_view path) {
    if (!path.empty() && is_separator(path.front())) return true;
    if (path.find(':') != std::string_view::npos) return true;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = start;
        while (end < path.size() && !is_separator(path[end]))
            ++end;
        if (path.substr(start, end - start) == "..") return true;
        start = end + 1;
    }
    return false;
}

T7zInArchive::T7zInArchive(const std::string& lib) : T7zArchive(lib) {}

T7zInArchive::~T7zInArchive() {
    // The handler's code lives in the library, which the base frees after this.
    FInArchive.reset();
}

HRESULT T7zInArchive::QueryInterface(const com::IID& iid, void** obj) {
    if (com::same_id(iid, com::kIID_IUnknown) || com::same_id(iid, IID_IArchiveExtractCallback))
        *obj = static_cast<IArchiveExtractCallback*>(this);
    else if (com::same_id(iid, IID_IProgress))
        *obj = static_cast<IProgress*>(static_cast<IArchiveExtractCallback*>(this));
    else if (com::same_id(iid, IID_I7zInArchive))
        *obj = static_cast<I7zInArchive*>(this);
    else if (com::same_id(iid, IID_IArchiveOpenCallback))
        *obj = static_cast<IArchiveOpenCallback*>(this);
    else if (com::same_id(iid, IID_ICryptoGetTextPassword))
        *obj = static_cast<ICryptoGetTextPassword*>(this);
    else if (com::same_id(iid, IID_IArchiveOpenVolumeCallback))
        *obj = static_cast<IArchiveOpenVolumeCallback*>(this);
    else if (com::same_id(iid, IID_IArchiveOpenSetSubArchiveName))
        *obj = static_cast<IArchiveOpenSetSubArchiveName*>(this);
    else {
        *obj = nullptr;
        return com::kNoInterface;
    }
    add_ref();
    return com::kOk;
}

// --- opening and closing ---

RefPtr<IInArchive> T7zInArchive::GetInArchive() {
    if (!FInArchive) {
        void* obj = nullptr;
        CreateObject(GetClassId(), IID_IInArchive, &obj);
        FInArchive = RefPtr<IInArchive>::adopt(static_cast<IInArchive*>(obj));
    }
    return FInArchive;
}

IInArchive& T7zInArchive::open_handler() {
    if (!FInArchive) throw Exception("No archive is open");
    return *FInArchive;
}

void T7zInArchive::OpenFile(const std::string& fileName) {
    auto file = std::make_unique<TFileStream>(fileName, fmOpenRead | fmShareDenyNone);
    RefPtr<IInStream> stream(new T7zStream(file.release(), TStreamOwnership::soOwned, FCallbackError));
    open_stream(stream.get());
}

void T7zInArchive::OpenStream(IInStream* stream) {
    open_stream(stream);
}

void T7zInArchive::open_stream(IInStream* stream) {
    RefPtr<IArchiveOpenCallback> callback(static_cast<IArchiveOpenCallback*>(this));
    RefPtr<IInArchive> handler = GetInArchive();
    *FCallbackError = nullptr;
    uint64_t max_start = kMaxCheckStartPosition;
    HRESULT r = handler->Open(stream, &max_start, callback.get());
    if (auto e = std::exchange(*FCallbackError, nullptr)) std::rethrow_exception(e);
    Check7zResult(r);
}

void T7zInArchive::Close() {
    FPasswordIsDefined = false;
    FSubArchiveMode = false;
    if (FInArchive) {
        FInArchive->Close();
        FInArchive.reset();
    }
}

// --- items ---

com::PropertyValue T7zInArchive::item_property(uint32_t index, PROPID id) {
    PROPVARIANT v;
    com::ComRuntime::init(v);
    open_handler().GetProperty(index, id, &v);
    return FRuntime.take(v);
}

uint32_t T7zInArchive::GetNumberOfItems() {
    uint32_t n = 0;
    Check7zResult(open_handler().GetNumberOfItems(&n));
    return n;
}

// The handler checks no item index: one out of range reads outside its tables.
void T7zInArchive::check_indices(const uint32_t* indices, uint32_t count) {
    uint32_t n = GetNumberOfItems();
    for (uint32_t i = 0; i < count; ++i)
        if (indices[i] >= n || (i > 0 && indices[i] <= indices[i - 1]))
            throw Exception("Item index " + std::to_string(indices[i]) + " is out of range or out of order");
}

std::string T7zInArchive::GetItemPath(uint32_t index) {
    check_indices(&index, 1);
    return item_property(index, kpidPath).text;
}
std::string T7zInArchive::GetItemName(uint32_t index) {
    check_indices(&index, 1);
    return item_property(index, kpidName).text;
}
uint64_t T7zInArchive::GetItemSize(uint32_t index) {
    check_indices(&index, 1);
    return item_property(index, kpidSize).number;
}
bool T7zInArchive::GetItemIsFolder(uint32_t index) {
    check_indices(&index, 1);
    return item_property(index, kpidIsDir).flag;
}

// --- extraction ---

void T7zInArchive::extract(const uint32_t* indices, uint32_t count, bool test) {
    IInArchive& handler = open_handler();
    RefPtr<IArchiveExtractCallback> callback(static_cast<IArchiveExtractCallback*>(this));
    *FCallbackError = nullptr;
    FItemFailed = false;
    FCurrentFile.clear();
    // Nothing of an archive that ends early is written: what is there may be
    // whole, but what is missing would go unnoticed.
    check_archive_end();
    HRESULT r = handler.Extract(indices, count, test ? 1 : 0, callback.get());
    // A file left open by a failed write is no item either.
    if (!FCurrentFile.empty() && (r != com::kOk || *FCallbackError)) os::delete_file(FCurrentFile);
    FCurrentFile.clear();
    if (auto e = std::exchange(*FCallbackError, nullptr)) std::rethrow_exception(e);
    Check7zResult(r);
    if (FItemFailed)
        throw Exception("Cannot extract \"" + item_property(FFailedIndex, kpidPath).text +
                        "\": " + operation_result_text(FFailedResult));
    check_archive_end();
}

void T7zInArchive::check_archive_end() {
    PROPVARIANT v;
    com::ComRuntime::init(v);
    open_handler().GetArchiveProperty(kpidErrorFlags, &v);
    if (FRuntime.take(v).number & kErrorFlagsUnexpectedEnd) throw Exception("Unexpected end of archive");
}

bool T7zInArchive::is_link_item(uint32_t index) {
    for (PROPID id : {kpidSymLink, kpidHardLink, kpidCopyLink})
        if (!item_property(index, id).text.empty()) return true;
    constexpr uint64_t kTypeMask = 0170000, kLinkType = 0120000;
    const com::PropertyValue posix = item_property(index, kpidPosixAttrib);
    if (posix.type != com::kVtEmpty && (posix.number & kTypeMask) == kLinkType) return true;
    // Windows attributes: a reparse point, or POSIX mode bits above the unix-extension flag.
    const uint64_t attrib = item_property(index, kpidAttrib).number;
    return (attrib & 0x400) || ((attrib & 0x8000) && ((attrib >> 16) & kTypeMask) == kLinkType);
}

void T7zInArchive::ExtractItem(uint32_t item, TStream& stream, bool test) {
    check_indices(&item, 1);
    FStream = &stream;
    in_any_case([&] { extract(&item, 1, test); }, [&] { FStream = nullptr; });
}

void T7zInArchive::ExtractItems(const uint32_t* items, uint32_t count, bool test, void* sender,
                                T7zGetStreamCallBack callback) {
    if (items) check_indices(items, count);
    FExtractCallBack = callback;
    FExtractSender = sender;
    in_any_case([&] { extract(items, count, test); },
                [&] {
                    FExtractCallBack = nullptr;
                    FExtractSender = nullptr;
                });
}

void T7zInArchive::ExtractAll(bool test, void* sender, T7zGetStreamCallBack callback) {
    ExtractItems(nullptr, kAllItems, test, sender, callback);
}

void T7zInArchive::ExtractTo(const std::string& path) {
    FExtractPath = !path.empty() && path.back() == '\\' ? path : path + "\\";
    FPlainFolders.clear();
    in_any_case([&] { extract(nullptr, kAllItems, false); },
                [&] {
                    FExtractPath.clear();
                    FPlainFolders.clear();
                });
}

HRESULT T7zInArchive::make_output_file(uint32_t index, ISequentialOutStream** outStream) {
    std::string item = item_property(index, kpidPath).text;
    if (std::string reason = item_path_refusal(item); !reason.empty()) refuse(item, reason);
    // A link would come out as an empty file under the link's name.
    if (is_link_item(index)) refuse(item, "it is a link");
    if (item_property(index, kpidIsDir).flag) return com::kOk; // folders come into being as parents of files
    if (runs_through_link(FExtractPath, item, FPlainFolders)) refuse(item, kLeavesTarget);
    std::string name = FExtractPath + item;
    create_parent_folders(name);
    auto file = std::make_unique<TFileStream>(name, fmCreate);
    FCurrentFile = name;
    RefPtr<ISequentialOutStream> out(
        static_cast<IOutStream*>(new T7zStream(file.release(), TStreamOwnership::soOwned, FCallbackError)));
    *outStream = out.detach();
    return com::kOk;
}

HRESULT T7zInArchive::GetStream(uint32_t index, ISequentialOutStream** outStream, int32_t askExtractMode) {
    *outStream = nullptr;
    FCurrentIndex = index;
    FCurrentFile.clear();
    if (askExtractMode != NAskMode::kExtract) return com::kOk;
    try {
        if (FStream) {
            RefPtr<ISequentialOutStream> out(static_cast<IOutStream*>(
                new T7zStream(FStream, TStreamOwnership::soReference, FCallbackError)));
            *outStream = out.detach();
            return com::kOk;
        }
        if (FExtractCallBack) return FExtractCallBack(FExtractSender, index, outStream);
        if (!FExtractPath.empty()) return make_output_file(index, outStream);
        return com::kOk;
    } catch (...) {
        *FCallbackError = std::current_exception();
        return com::kAbort;
    }
}

HRESULT T7zInArchive::PrepareOperation(int32_t) {
    return com::kOk;
}

HRESULT T7zInArchive::SetOperationResult(int32_t opRes) {
    if (opRes != NOperationResult::kOK) {
        // A damaged file must not be taken for the item.
        if (!FCurrentFile.empty()) os::delete_file(FCurrentFile);
        if (!FItemFailed) {
            FItemFailed = true;
            FFailedIndex = FCurrentIndex;
            FFailedResult = opRes;
        }
    }
    FCurrentFile.clear();
    return com::kOk;
}

// --- progress, passwords, volumes ---

HRESULT T7zInArchive::SetTotal(const uint64_t*, const uint64_t*) {
    return com::kOk;
}
HRESULT T7zInArchive::SetCompleted(const uint64_t*, const uint64_t*) {
    return com::kOk;
}

HRESULT T7zInArchive::SetTotal(uint64_t total) {
    if (!FProgressCallback) return com::kOk;
    return FProgressCallback(FProgressSender, true, static_cast<int64_t>(total));
}

HRESULT T7zInArchive::SetCompleted(const uint64_t* completeValue) {
    if (!FProgressCallback || !completeValue) return com::kOk;
    return FProgressCallback(FProgressSender, false, static_cast<int64_t>(*completeValue));
}

void T7zInArchive::SetPasswordCallback(void* sender, T7zPasswordCallback callback) {
    FPasswordSender = sender;
    FPasswordCallback = callback;
}

void T7zInArchive::SetPassword(const std::string& password) {
    FPassword = password;
    FPasswordIsDefined = !password.empty();
}

void T7zInArchive::SetProgressCallback(void* sender, T7zProgressCallback callback) {
    FProgressSender = sender;
    FProgressCallback = callback;
}

HRESULT T7zInArchive::CryptoGetTextPassword(BSTR* password) {
    *password = nullptr;
    if (FPasswordIsDefined) {
        *password = FRuntime.alloc_string(FPassword);
        return com::kOk;
    }
    if (!FPasswordCallback) return com::kFalse;
    std::string text;
    HRESULT r = FPasswordCallback(FPasswordSender, text);
    if (r == com::kOk) {
        *password = FRuntime.alloc_string(text);
        FPasswordIsDefined = true;
        FPassword = text;
    }
    return r;
}

HRESULT T7zInArchive::GetProperty(PROPID, PROPVARIANT*) {
    return com::kOk;
}

HRESULT T7zInArchive::GetStream(const wchar_t*, IInStream** inStream) {
    if (inStream) *inStream = nullptr;
    return com::kOk;
}

HRESULT T7zInArchive::SetSubArchiveName(const wchar_t* name) {
    FSubArchiveMode = true;
    FSubArchiveName = com::wide_to_utf8(name);
    return com::kOk;
}

} // namespace kv
