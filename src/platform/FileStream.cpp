// TFileStream on the system's descriptor calls: POSIX's, or on Windows the C runtime's low-level
// I/O, whose descriptors fit the header's int handle and whose errno texts keep the messages those
// of the POSIX build.
#include "platform/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/Exceptions.h"

namespace zel {

namespace {

// The Windows runtime's read and write take an unsigned int count; one limit for both systems.
constexpr int64_t kMaxChunk = INT_MAX;

// The calls whose names, flags or types differ; the stream below is written once on them.
#ifdef _WIN32
// Binary mode always: text mode would rewrite line ends. Not inherited, as close-on-exec on POSIX.
constexpr int kOpenRead = _O_RDONLY | _O_BINARY | _O_NOINHERIT;
constexpr int kOpenCreate = _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT;
constexpr int kCreatePermissions = _S_IREAD | _S_IWRITE;
int SysOpen(const char* name, int flags) { return ::_open(name, flags, kCreatePermissions); }
int SysClose(int fd) { return ::_close(fd); }
int64_t SysRead(int fd, char* p, int64_t n) { return ::_read(fd, p, static_cast<unsigned>(n)); }
int64_t SysWrite(int fd, const char* p, int64_t n) { return ::_write(fd, p, static_cast<unsigned>(n)); }
int64_t SysSeek(int fd, int64_t offset, int whence) { return ::_lseeki64(fd, offset, whence); }
bool SysTruncate(int fd, int64_t size) { return ::_chsize_s(fd, size) == 0; }
// FlushFileBuffers underneath: the bytes are on the disk before an atomic replace.
bool SysSync(int fd) { return ::_commit(fd) == 0; }
bool IsFolder(int fd) {
    struct _stat64 st {};
    return ::_fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFDIR;
}
#else
constexpr int kOpenRead = O_RDONLY | O_CLOEXEC;
constexpr int kOpenCreate = O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC;
constexpr mode_t kCreatePermissions = 0644;
int SysOpen(const char* name, int flags) { return ::open(name, flags, kCreatePermissions); }
int SysClose(int fd) { return ::close(fd); }
int64_t SysRead(int fd, char* p, int64_t n) { return ::read(fd, p, static_cast<size_t>(n)); }
int64_t SysWrite(int fd, const char* p, int64_t n) { return ::write(fd, p, static_cast<size_t>(n)); }
int64_t SysSeek(int fd, int64_t offset, int whence) { return ::lseek(fd, static_cast<off_t>(offset), whence); }
bool SysTruncate(int fd, int64_t size) { return ::ftruncate(fd, static_cast<off_t>(size)) == 0; }
bool SysSync(int fd) { return ::fsync(fd) == 0; }
bool IsFolder(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
}
#endif

}  // namespace

TFileStream::TFileStream(const std::string& fileName, TMode mode) {
    if (mode == fmOpenRead) {
        FHandle = SysOpen(fileName.c_str(), kOpenRead);
        if (FHandle < 0)
            throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
        // A folder opens for reading on POSIX but is no file: refuse it now, not at the first read.
        if (IsFolder(FHandle)) {
            SysClose(FHandle);
            FHandle = -1;
            throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(EISDIR));
        }
    } else {
        FHandle = SysOpen(fileName.c_str(), kOpenCreate);
        if (FHandle < 0)
            throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(errno));
    }
}

TFileStream::~TFileStream() {
    if (FHandle >= 0) SysClose(FHandle);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    int64_t done = 0;
    auto* p = static_cast<char*>(buffer);
    while (done < count) {
        const int64_t n = SysRead(FHandle, p + done, std::min(count - done, kMaxChunk));
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
        const int64_t n = SysWrite(FHandle, p + done, std::min(count - done, kMaxChunk));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
    const int64_t r = SysSeek(FHandle, offset, whence);
    if (r < 0) throw EStreamError(std::string("Stream seek error: ") + std::strerror(errno));
    return r;
}

void TFileStream::SetSize(int64_t size) {
    int64_t position = Position();
    if (!SysTruncate(FHandle, std::max<int64_t>(size, 0)))
        throw EStreamError(std::string("Stream size error: ") + std::strerror(errno));
    if (position > size) SetPosition(size);
}

void TFileStream::Flush() {
    if (!SysSync(FHandle)) throw EWriteError(std::string("Stream flush error: ") + std::strerror(errno));
}

}  // namespace zel
