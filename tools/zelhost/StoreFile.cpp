// The store file's steps, the same on every system; the calls they make are the system's, in
// StoreFilePosix.cpp and StoreFileWin32.cpp.
#include "StoreFile.h"

#include <sys/stat.h>

#include <atomic>

#include "StoreFileSystem.h"

namespace zelhost {

using namespace detail;

namespace {

// Of the store's name in its temporary name: with the rest that name stays within the 255
// characters a name in a folder may have.
constexpr size_t kMaxTempBase = 200;

}  // namespace

const char* FileKind(mode_t mode) noexcept {
    switch (mode & S_IFMT) {
        case S_IFREG: return "a regular file";
        case S_IFDIR: return "a directory";
        case S_IFIFO: return "a FIFO";
        case S_IFCHR: return "a character device";
        case S_IFBLK: return "a block device";
#ifdef S_IFSOCK  // kinds only POSIX has
        case S_IFSOCK: return "a socket";
        case S_IFLNK: return "a symbolic link";
#endif
        default: return "not a regular file";
    }
}

// What the file is and how long is judged on the open file, so nothing can swap the name between
// the check and the read.
std::optional<std::string> ReadStoreFile(const std::string& name) {
    const TStoreHandle file = OpenToRead(name);
    if (!file.IsOpen()) {
        const TSystemError error = LastSystemError();
        if (error.Kind == TSystemError::kNoSuchFile) return std::nullopt;
        throw EStoreError("cannot read " + name + ": " + error.Text);
    }
    const std::string tooLarge =
        "it is larger than " + std::to_string(kMaxStoreBytes >> 20) + " MiB, the most a settings store may be";
    std::string content, error;
    mode_t kind = 0;
    int64_t size = 0;
    if (!KindAndSize(file, kind, size))
        error = LastSystemError().Text;
    else if (kind != S_IFREG)
        error = std::string("it is ") + FileKind(kind) + ", not a regular file";
    else if (size > kMaxStoreBytes)
        error = tooLarge;
    else
        content.reserve(static_cast<size_t>(size));
    char buf[65536];
    while (error.empty()) {
        const int64_t n = ReadSome(file, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0) error = LastSystemError().Text;
            break;
        }
        content.append(buf, static_cast<size_t>(n));
        // It may have grown since its size was read.
        if (content.size() > static_cast<size_t>(kMaxStoreBytes)) error = tooLarge;
    }
    if (!error.empty()) throw EStoreError("cannot read " + name + ": " + error);
    return content;
}

void AtomicWriteFile(const std::string& linkName, std::string_view data) {
    const std::string fileName = FollowLinks(linkName);
    const TPlace place = PlaceOf(fileName);
    const TOldFile old = ReadOldFile(fileName);
    // A store its user made read-only stays as it is, even where the folder would allow a rename.
    if (old.ReadOnly) throw EStoreError("cannot write " + linkName + ": the file is read-only; nothing was changed");

    // .store.xml.zelhost-PID-N.tmp: this store's, with the pid that tells whether its writer still runs.
    const std::string prefix = "." + place.Base.substr(0, kMaxTempBase) + ".zelhost-";
    RemoveStaleTemps(place, prefix);

    // A fresh name per attempt, created only when new so that nobody else's file is ever reused.
    static std::atomic<unsigned> counter{0};
    std::string temp;
    TStoreHandle file;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = place.Join + prefix + std::to_string(OwnPid()) + "-" + std::to_string(counter++) + ".tmp";
        file = CreateNew(temp);
        if (file.IsOpen()) break;
        const TSystemError error = LastSystemError();
        if (error.Kind != TSystemError::kFileExists)
            throw EStoreError("cannot write " + fileName + ": cannot create a file in " + place.Folder + ": " +
                              error.Text);
    }
    if (!file.IsOpen()) throw EStoreError("cannot write " + fileName + ": no free temporary name in " + place.Folder);

    // Written through the file that was created: nothing can swap the name meanwhile.
    std::string why;
    for (size_t done = 0; done < data.size() && why.empty();) {
        const int64_t n = WriteSome(file, data.data() + done, data.size() - done);
        if (n < 0)
            why = LastSystemError().Text;
        else
            done += static_cast<size_t>(n);
    }
    if (why.empty()) why = Commit(file, temp, fileName, old, place);
    if (!why.empty()) {
        file.Close();
        RemoveFile(temp);
        throw EStoreError("cannot write " + fileName + ": " + why);
    }
}

}  // namespace zelhost
