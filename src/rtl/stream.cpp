#include "rtl/stream.h"
#include "rtl/exception.h"

#include <algorithm>
#include <cstring>

namespace kv {

void TStream::SetSize(int64_t) {
    throw EStreamError("Stream size cannot be changed");
}

int64_t TStream::Size() {
    int64_t pos = Seek(0, TSeekOrigin::soCurrent);
    int64_t end = Seek(0, TSeekOrigin::soEnd);
    Seek(pos, TSeekOrigin::soBeginning);
    return end;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count > 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    std::vector<char> buf(static_cast<size_t>(std::min<int64_t>(count, 1 << 20)));
    int64_t left = count;
    while (left > 0) {
        int64_t n = std::min<int64_t>(left, static_cast<int64_t>(buf.size()));
        source.ReadBuffer(buf.data(), n);
        WriteBuffer(buf.data(), n);
        left -= n;
    }
    return count;
}

std::string cannot_create_file_message(std::string_view path, uint32_t code) {
    if (code == 0) return "Cannot create file " + std::string(path);
    return "Cannot create file \"" + std::string(path) + "\". " + os::system_error_text(code);
}

TFileStream::TFileStream(std::string_view file_name, uint16_t mode) : FFileName(file_name) {
    using namespace os;
    bool ok;
    if (mode == fmCreate) {
        ok = FFile.open(file_name, FileAccess::ReadWrite, FileShare::None, FileDisposition::CreateAlways);
    } else {
        FileAccess access = (mode & 3) == fmOpenWrite       ? FileAccess::Write
                            : (mode & 3) == fmOpenReadWrite ? FileAccess::ReadWrite
                                                            : FileAccess::Read;
        FileShare share;
        switch (mode & 0xF0) {
        case fmShareExclusive:
            share = FileShare::None;
            break;
        case fmShareDenyWrite:
            share = FileShare::Read;
            break;
        case fmShareDenyRead:
            share = FileShare::None;
            break;
        default:
            share = FileShare::ReadWrite;
            break;
        }
        ok = FFile.open(file_name, access, share, FileDisposition::OpenExisting);
    }
    if (!ok) {
        std::string msg = cannot_create_file_message(file_name, os::last_error());
        if (mode == fmCreate) throw EFCreateError(msg);
        throw EFOpenError(msg);
    }
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    int64_t n = FFile.read(buffer, count);
    return n < 0 ? 0 : n;
}

// A write the system refuses (a full disk, a file size limit) raises with the
// system's reason: a short count alone would lose it, and the archive library
// would report it only as "Unspecified error".
int64_t TFileStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    int64_t n = FFile.write(buffer, count);
    if (n < count) {
        const uint32_t code = os::last_error();
        if (code == 0) throw EWriteError("Cannot write file " + FFileName);
        throw EWriteError("Cannot write file \"" + FFileName + "\". " + os::system_error_text(code));
    }
    return n;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    const os::SeekOrigin from = origin == TSeekOrigin::soBeginning ? os::SeekOrigin::Begin
                                : origin == TSeekOrigin::soCurrent ? os::SeekOrigin::Current
                                                                   : os::SeekOrigin::End;
    int64_t r = FFile.seek(offset, from);
    if (r < 0) throw EStreamError("Stream seek error");
    return r;
}

void TFileStream::SetSize(int64_t size) {
    Seek(size, TSeekOrigin::soBeginning);
    if (!FFile.truncate_here()) throw EStreamError("Stream size cannot be changed");
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    int64_t avail = std::max<int64_t>(0, Size() - FPos);
    int64_t n = std::clamp<int64_t>(count, 0, avail);
    if (n) std::memcpy(buffer, FData.data() + FPos, static_cast<size_t>(n));
    FPos += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    if (FPos + count > Size()) FData.resize(static_cast<size_t>(FPos + count));
    std::memcpy(FData.data() + FPos, buffer, static_cast<size_t>(count));
    FPos += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? FPos : Size();
    if (base + offset < 0) throw EStreamError("Stream seek error");
    FPos = base + offset;
    return FPos;
}

void TMemoryStream::SetSize(int64_t size) {
    FData.resize(static_cast<size_t>(size));
    FPos = std::min(FPos, size);
}

void TMemoryStream::Clear() {
    FData.clear();
    FPos = 0;
}

} // namespace kv
