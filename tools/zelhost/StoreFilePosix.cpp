// The store file's POSIX calls: descriptors opened close-on-exec, kill(pid, 0) for telling stale
// temporary files apart, and rename with a sync of the folder for the atomic replace.
#include "StoreFile.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "StoreFileSystem.h"
#include "StoreTempName.h"

namespace zelhost {

namespace detail {

TSystemError LastSystemError() {
    const int err = errno;
    return {err == ENOENT ? TSystemError::kNoSuchFile : err == EEXIST ? TSystemError::kFileExists : TSystemError::kOther,
            std::strerror(err)};
}

bool TStoreHandle::Close() noexcept {
    if (FHandle == -1) return true;
    const int fd = static_cast<int>(std::exchange(FHandle, -1));
    return ::close(fd) == 0;
}

TPlace PlaceOf(const std::string& fileName) {
    const size_t slash = fileName.rfind('/');
    TPlace place;
    place.Folder = slash == std::string::npos ? "." : slash == 0 ? "/" : fileName.substr(0, slash);
    place.Join = place.Folder + "/";
    place.Base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    return place;
}

TOldFile ReadOldFile(const std::string& fileName) {
    TOldFile old;
    struct stat st {};
    if (::stat(fileName.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        old.Mode = st.st_mode;
        old.ReadOnly = (st.st_mode & 0222) == 0;
    }
    return old;
}

TStoreHandle OpenToRead(const std::string& name) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer that never comes.
    return TStoreHandle(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
}

bool KindAndSize(const TStoreHandle& file, mode_t& kind, int64_t& size) {
    struct stat st {};
    if (::fstat(static_cast<int>(file.Get()), &st) != 0) return false;
    kind = st.st_mode & S_IFMT;
    size = st.st_size;
    return true;
}

int64_t ReadSome(const TStoreHandle& file, char* buffer, size_t count) {
    for (;;) {
        const ssize_t n = ::read(static_cast<int>(file.Get()), buffer, count);
        if (n >= 0 || errno != EINTR) return n;
    }
}

uint32_t OwnPid() noexcept { return static_cast<uint32_t>(::getpid()); }

void RemoveStaleTemps(const TPlace& place, const std::string& prefix) {
    DIR* folder = ::opendir(place.Folder.c_str());
    if (!folder) return;
    const int dirFd = ::dirfd(folder);
    while (const dirent* entry = ::readdir(folder)) {
        const std::optional<uint32_t> writer = TempWriterPid(entry->d_name, prefix);
        if (!writer || *writer > static_cast<uint32_t>(std::numeric_limits<pid_t>::max())) continue;
        const auto pid = static_cast<pid_t>(*writer);
        if (pid == ::getpid()) continue;
        // EPERM: a process of another user runs under that pid, so the writer may still be alive.
        if (::kill(pid, 0) == 0 || errno != ESRCH) continue;
        struct stat st {};
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(folder);
}

TStoreHandle CreateNew(const std::string& name) {
    return TStoreHandle(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
}

int64_t WriteSome(const TStoreHandle& file, const char* data, size_t count) {
    for (;;) {
        const ssize_t n = ::write(static_cast<int>(file.Get()), data, count);
        if (n > 0) return n;
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;  // a write that takes nothing would never end
        return -1;
    }
}

std::string Commit(TStoreHandle& file, const std::string& temp, const std::string& fileName, const TOldFile& old,
                   const TPlace& place) {
    const int fd = static_cast<int>(file.Get());
    if (old.Mode && ::fchmod(fd, *old.Mode & 07777) != 0) return std::strerror(errno);
    if (::fsync(fd) != 0 || !file.Close()) return std::strerror(errno);
    if (::rename(temp.c_str(), fileName.c_str()) != 0) return std::strerror(errno);
    // The rename on disk too; best effort: the data itself is already there.
    const int folder = ::open(place.Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return "";
}

void RemoveFile(const std::string& name) noexcept { ::unlink(name.c_str()); }

}  // namespace detail

// Writing the store changes the link's target, so the link stays a link.
std::string FollowLinks(std::string name) {
    const std::string given = name;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return name;
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        ssize_t n = ::readlink(name.c_str(), target.data(), target.size());
        if (n < 0) return name;
        target.resize(static_cast<size_t>(n));
        size_t slash = name.rfind('/');
        name = target.starts_with('/') || slash == std::string::npos ? target : name.substr(0, slash + 1) + target;
    }
    throw EStoreError("cannot follow " + given + ": too many levels of symbolic links");
}

}  // namespace zelhost
