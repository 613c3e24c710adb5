#include "platform/Streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Exceptions.h"

namespace zel {

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
