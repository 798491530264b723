// Streams: the runtime's byte streams. TFileStream opens with the runtime's
// mode numbers (fmCreate, fmOpenRead | fmShareDenyNone, ...) and raises
// EFCreateError / EFOpenError with the system's reason when it cannot.
#pragma once

#include "platform/files.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

enum class TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
public:
    virtual ~TStream() = default;
    // Moves up to count bytes; returns how many moved (0 at the end).
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Returns the new position; raises EStreamError when the stream cannot seek.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual void SetSize(int64_t size);

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
    virtual int64_t Size();

    // Exactly count bytes or EReadError "Stream read error" / EWriteError "Stream write error".
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies count bytes from source (all from its start when count is 0).
    int64_t CopyFrom(TStream& source, int64_t count);
};

// The runtime's open-mode numbers.
constexpr uint16_t fmCreate = 0xFF00;
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyRead = 0x0030;
constexpr uint16_t fmShareDenyNone = 0x0040;

class TFileStream : public TStream {
public:
    // fmCreate: created, or emptied when it exists; read/write, no sharing.
    // Otherwise opens an existing file with the access and sharing of mode.
    // Failure: EFCreateError (create) or EFOpenError (open), both worded
    // "Cannot create file "<path>". <system text>", or "Cannot create file
    // <path>" when the system gives no error code.
    TFileStream(std::string_view file_name, uint16_t mode);
    // Writes all count bytes, or raises EWriteError "Cannot write file
    // "<path>". <system text>" (without the text when there is no code).
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t size) override;
    const std::string& FileName() const noexcept { return FFileName; }

private:
    std::string FFileName;
    os::File FFile;
};

class TMemoryStream : public TStream {
public:
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t size) override;
    int64_t Size() override { return static_cast<int64_t>(FData.size()); }
    void Clear();
    const std::vector<char>& Data() const noexcept { return FData; }
    std::string_view View() const noexcept { return {FData.data(), FData.size()}; }

private:
    std::vector<char> FData;
    int64_t FPos = 0;
};

// "Cannot create file "<path>". <text>" for the error code, or "Cannot create
// file <path>" when code is 0. Shared by every place that creates or opens a file.
std::string cannot_create_file_message(std::string_view path, uint32_t code);

} // namespace kv
