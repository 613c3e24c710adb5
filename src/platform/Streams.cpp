#include "platform/Streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Exceptions.h"

namespace zel {

namespace {

int64_t ClampedSeek(int64_t position, int64_t size, int64_t offset, TSeekOrigin origin) {
    int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? position : size;
    return std::max<int64_t>(0, base + offset);
}

// Copies what is left of `data` from `position` on, at most `count` bytes, and advances `position`.
int64_t ReadBytes(std::string_view data, int64_t& position, void* buffer, int64_t count) {
    int64_t avail = static_cast<int64_t>(data.size()) - position;
    int64_t n = std::clamp<int64_t>(count, 0, std::max<int64_t>(avail, 0));
    if (n > 0) std::memcpy(buffer, data.data() + position, static_cast<size_t>(n));
    position += n;
    return n;
}

}  // namespace

int64_t TStream::Size() {
    int64_t pos = Seek(0, TSeekOrigin::soCurrent);
    int64_t size = Seek(0, TSeekOrigin::soEnd);
    Seek(pos, TSeekOrigin::soBeginning);
    return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream size cannot change"); }

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count > 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) { return ReadBytes(FData, FPosition, buffer, count); }

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    size_t end = static_cast<size_t>(FPosition + count);
    if (end > FData.size()) FData.resize(end);
    std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
    FPosition += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    FPosition = ClampedSeek(FPosition, Size(), offset, origin);
    return FPosition;
}

void TMemoryStream::SetSize(int64_t size) {
    FData.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
    FPosition = std::min(FPosition, Size());
}

int64_t TBytesViewStream::Read(void* buffer, int64_t count) { return ReadBytes(FData, FPosition, buffer, count); }

int64_t TBytesViewStream::Seek(int64_t offset, TSeekOrigin origin) {
    FPosition = ClampedSeek(FPosition, Size(), offset, origin);
    return FPosition;
}

TFileStream::TFileStream(const std::string& fileName, TMode mode) {
    if (mode == fmOpenRead) {
        FHandle = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
        if (FHandle < 0)
            throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
        // A folder opens for reading here but is no file: refuse it now, not at the first read.
        struct stat st {};
        if (::fstat(FHandle, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(FHandle);
            FHandle = -1;
            throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(EISDIR));
        }
    } else {
        FHandle = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (FHandle < 0)
            throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(errno));
    }
}

TFileStream::~TFileStream() {
    if (FHandle >= 0) ::close(FHandle);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    int64_t done = 0;
    auto* p = static_cast<char*>(buffer);
    while (done < count) {
        ssize_t n = ::read(FHandle, p + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EReadError(std::string("Stream read error: ") + std::strerror(errno));
        if (n == 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    int64_t done = 0;
    const auto* p = static_cast<const char*>(buffer);
    while (done < count) {
        ssize_t n = ::write(FHandle, p + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
    off_t r = ::lseek(FHandle, static_cast<off_t>(offset), whence);
    if (r < 0) throw EStreamError(std::string("Stream seek error: ") + std::strerror(errno));
    return static_cast<int64_t>(r);
}

void TFileStream::SetSize(int64_t size) {
    int64_t position = Position();
    if (::ftruncate(FHandle, static_cast<off_t>(std::max<int64_t>(size, 0))) != 0)
        throw EStreamError(std::string("Stream size error: ") + std::strerror(errno));
    if (position > size) SetPosition(size);
}

void TFileStream::Flush() {
    if (::fsync(FHandle) != 0) throw EWriteError(std::string("Stream flush error: ") + std::strerror(errno));
}

}  // namespace zel
