#include "StoreOwner.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelhost {

namespace {

struct flock WholeFile(short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;  // start 0, length 0: the whole file, however long it grows
    return lock;
}

// False when the lock file was removed or replaced after `fd` was opened: a lock on it would
// then be nobody's business.
bool StillNamed(int fd, const std::string& name) {
    struct stat mine {}, named {};
    return ::fstat(fd, &mine) == 0 && ::lstat(name.c_str(), &named) == 0 && mine.st_dev == named.st_dev &&
           mine.st_ino == named.st_ino;
}

}  // namespace

TStoreOwner::TStoreOwner(const std::string& storeName, TUse use) {
    const std::string storeFile = FollowLinks(storeName);
    // Before a lock file is made beside it (in /dev, say); reading the store checks again, on its descriptor.
    if (struct stat st {}; ::stat(storeFile.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        throw EStoreError("cannot read " + storeName + ": it is " + FileKind(st.st_mode) + ", not a regular file");
    FLockName = storeFile + ".lock";
    const short type = use == TUse::Write ? F_WRLCK : F_RDLCK;
    bool create = true;
    // Another round only when the lock file went away under us, or its holder let go between
    // our attempt and our asking who it was.
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Never through a link: whoever may write the folder could point it at a file of ours,
        // which the pid would overwrite. O_NONBLOCK: a FIFO there must not hold us up.
        const int flags = (create ? O_RDWR | O_CREAT : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
        int fd = ::open(FLockName.c_str(), flags, 0666);
        if (fd < 0 && errno == ELOOP)
            throw EStoreError("cannot lock " + storeName + ": " + FLockName +
                              " is a symbolic link, which is never followed; remove it");
        if (struct stat st {}; fd >= 0 && ::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode)) {
            ::close(fd);
            throw EStoreError("cannot lock " + storeName + ": " + FLockName + " is " + FileKind(st.st_mode) +
                              ", not a regular file; remove it");
        }
        if (fd < 0 && create && use == TUse::Read) {
            create = false;
            continue;
        }
        if (fd < 0) {
            if (!create && errno == ENOENT) return;
            throw EStoreError("cannot lock " + storeName + ": cannot " + (create ? "create " : "open ") + FLockName +
                              ": " + std::strerror(errno));
        }
        struct flock lock = WholeFile(type);
        if (::fcntl(fd, F_SETLK, &lock) != 0) {
            const int err = errno;
            const bool busy = err == EACCES || err == EAGAIN;
            struct flock holder = WholeFile(type);
            const bool held = busy && ::fcntl(fd, F_GETLK, &holder) == 0 && holder.l_type != F_UNLCK;
            ::close(fd);
            if (held) throw EStoreInUse(storeName + " is in use by zelhost, pid " + std::to_string(holder.l_pid));
            if (!busy) throw EStoreError("cannot lock " + storeName + ": " + FLockName + ": " + std::strerror(err));
            continue;
        }
        if (!StillNamed(fd, FLockName)) {
            ::close(fd);
            continue;
        }
        FFd = fd;
        if (use == TUse::Write) {
            // Best effort: the content is for people; the kernel's lock is what counts.
            const std::string pid = std::to_string(::getpid()) + "\n";
            [[maybe_unused]] bool written = ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.data(), pid.size(), 0) >= 0;
        }
        return;
    }
    throw EStoreError("cannot lock " + storeName + ": " + FLockName + " keeps being replaced");
}

TStoreOwner::~TStoreOwner() {
    if (FFd < 0) return;
    // Only an owner that can hold the store alone removes the file; a reader that cannot leaves
    // it to the readers still there. Closing the descriptor drops the lock.
    struct flock alone = WholeFile(F_WRLCK);
    if (::fcntl(FFd, F_SETLK, &alone) == 0 && StillNamed(FFd, FLockName)) ::unlink(FLockName.c_str());
    ::close(FFd);
}

}  // namespace zelhost
