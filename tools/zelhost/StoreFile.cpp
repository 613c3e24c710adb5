#include "StoreFile.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "StoreTempName.h"

namespace zelhost {

namespace {

// Of the store's name in its temporary name: with the rest that name stays within NAME_MAX.
constexpr size_t kMaxTempBase = 200;

// Removes the temporary files of writers that were killed: regular files of this store's pattern
// whose pid no longer runs. Best effort: the write that follows reports a folder it cannot use.
void RemoveStaleTemps(const std::string& dir, const std::string& prefix) {
    DIR* folder = ::opendir(dir.c_str());
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

void SyncDirectory(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);  // best effort: the data itself is already on disk
    ::close(fd);
}

}  // namespace

const char* FileKind(mode_t mode) noexcept {
    switch (mode & S_IFMT) {
        case S_IFREG: return "a regular file";
        case S_IFDIR: return "a directory";
        case S_IFIFO: return "a FIFO";
        case S_IFCHR: return "a character device";
        case S_IFBLK: return "a block device";
        case S_IFSOCK: return "a socket";
        case S_IFLNK: return "a symbolic link";
        default: return "not a regular file";
    }
}

// What the file is and how long is judged on the open descriptor, so nothing can swap the name
// between the check and the read.
std::optional<std::string> ReadStoreFile(const std::string& name) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer that never comes.
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        throw EStoreError("cannot read " + name + ": " + std::strerror(errno));
    }
    const std::string tooLarge =
        "it is larger than " + std::to_string(kMaxStoreBytes >> 20) + " MiB, the most a settings store may be";
    std::string content, error;
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        error = std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        error = std::string("it is ") + FileKind(st.st_mode) + ", not a regular file";
    else if (st.st_size > kMaxStoreBytes)
        error = tooLarge;
    else
        content.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    while (error.empty()) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n < 0) error = std::strerror(errno);
            break;
        }
        content.append(buf, static_cast<size_t>(n));
        // It may have grown since fstat.
        if (content.size() > static_cast<size_t>(kMaxStoreBytes)) error = tooLarge;
    }
    ::close(fd);
    if (!error.empty()) throw EStoreError("cannot read " + name + ": " + error);
    return content;
}

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

void AtomicWriteFile(const std::string& linkName, std::string_view data) {
    const std::string fileName = FollowLinks(linkName);
    size_t slash = fileName.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : fileName.substr(0, slash);
    struct stat old {};
    bool keepMode = ::stat(fileName.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    // A store its user made read-only stays as it is, even where the folder would allow a rename.
    if (keepMode && (old.st_mode & 0222) == 0)
        throw EStoreError("cannot write " + linkName + ": the file is read-only; nothing was changed");

    // .store.xml.zelhost-PID-N.tmp: this store's, with the pid that tells whether its writer still runs.
    const std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    const std::string prefix = "." + base.substr(0, kMaxTempBase) + ".zelhost-";
    RemoveStaleTemps(dir, prefix);

    // A fresh name per attempt; O_EXCL so that nobody else's file is ever reused.
    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = dir + "/" + prefix + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            throw EStoreError("cannot write " + fileName + ": cannot create a file in " + dir + ": " +
                              std::strerror(errno));
    }
    if (fd < 0) throw EStoreError("cannot write " + fileName + ": no free temporary name in " + dir);

    auto fail = [&](const std::string& why) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw EStoreError("cannot write " + fileName + ": " + why);
    };
    // Written through the descriptor that created the file: nothing can swap the name meanwhile.
    for (size_t done = 0; done < data.size();) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail(std::strerror(n < 0 ? errno : EIO));
        done += static_cast<size_t>(n);
    }
    if (keepMode && ::fchmod(fd, old.st_mode & 07777) != 0) fail(std::strerror(errno));
    if (::fsync(fd) != 0) fail(std::strerror(errno));
    if (::close(fd) != 0) {
        ::unlink(temp.c_str());
        throw EStoreError("cannot write " + fileName + ": " + std::strerror(errno));
    }
    if (::rename(temp.c_str(), fileName.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        throw EStoreError("cannot write " + fileName + ": " + std::strerror(err));
    }
    SyncDirectory(dir);
}

}  // namespace zelhost
