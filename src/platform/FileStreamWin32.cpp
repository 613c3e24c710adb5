// TFileStream on the C runtime's low-level I/O: its descriptors fit the header's int handle and
// its errno texts keep the messages those of the POSIX build. Binary mode always: text mode
// would rewrite line ends.
#include "platform/Streams.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/Exceptions.h"

namespace zel {

namespace {
// The runtime's read and write take an unsigned int count.
constexpr int64_t kMaxChunk = INT_MAX;
}  // namespace

TFileStream::TFileStream(const std::string& fileName, TMode mode) {
    if (mode == fmOpenRead) {
        FHandle = ::_open(fileName.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
        if (FHandle < 0)
            throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
        // Kept from the POSIX build, where a folder opens for reading: refuse it now, not at the first read.
        struct _stat64 st {};
        if (::_fstat64(FHandle, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFDIR) {
            ::_close(FHandle);
            FHandle = -1;
            throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(EISDIR));
        }
    } else {
        FHandle = ::_open(fileName.c_str(), _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                          _S_IREAD | _S_IWRITE);
        if (FHandle < 0)
            throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(errno));
    }
}

TFileStream::~TFileStream() {
    if (FHandle >= 0) ::_close(FHandle);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    int64_t done = 0;
    auto* p = static_cast<char*>(buffer);
    while (done < count) {
        const int n = ::_read(FHandle, p + done, static_cast<unsigned>(std::min(count - done, kMaxChunk)));
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
        const int n = ::_write(FHandle, p + done, static_cast<unsigned>(std::min(count - done, kMaxChunk)));
        if (n <= 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
    const int64_t r = ::_lseeki64(FHandle, offset, whence);
    if (r < 0) throw EStreamError(std::string("Stream seek error: ") + std::strerror(errno));
    return r;
}

void TFileStream::SetSize(int64_t size) {
    int64_t position = Position();
    if (::_chsize_s(FHandle, std::max<int64_t>(size, 0)) != 0)
        throw EStreamError(std::string("Stream size error: ") + std::strerror(errno));
    if (position > size) SetPosition(size);
}

void TFileStream::Flush() {
    // FlushFileBuffers underneath: the bytes are on the disk before an atomic replace.
    if (::_commit(FHandle) != 0) throw EWriteError(std::string("Stream flush error: ") + std::strerror(errno));
}

}  // namespace zel
