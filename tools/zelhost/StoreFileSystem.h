#pragma once
// What the store file's shared code (StoreFile.cpp) and its system files (StoreFilePosix.cpp,
// StoreFileWin32.cpp) give each other. Only those files include this.
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace zelhost::detail {

// Why the last failed system call of this thread failed, read at once: later calls overwrite it.
struct TSystemError {
    enum TKind : uint8_t { kOther, kNoSuchFile, kFileExists };
    TKind Kind;
    std::string Text;  // the system's words
};
TSystemError LastSystemError();

// An open file: a descriptor on POSIX, a handle on Windows (-1 for none on both); closed when this
// goes.
class TStoreHandle {
public:
    explicit TStoreHandle(intptr_t handle = -1) noexcept : FHandle(handle) {}
    ~TStoreHandle() { Close(); }
    TStoreHandle(TStoreHandle&& other) noexcept : FHandle(std::exchange(other.FHandle, -1)) {}
    TStoreHandle& operator=(TStoreHandle&& other) noexcept {
        if (this != &other) {
            Close();
            FHandle = std::exchange(other.FHandle, -1);
        }
        return *this;
    }

    bool IsOpen() const noexcept { return FHandle != -1; }
    intptr_t Get() const noexcept { return FHandle; }
    // Closes it, once; false when the system reports a failure (LastSystemError says why).
    bool Close() noexcept;

private:
    intptr_t FHandle;
};

// Where a store file lies, for the temporary file written beside it.
struct TPlace {
    std::string Folder;  // in words for messages: "." for a bare name
    std::string Join;    // what goes before a name in that folder ("" or ending in a separator)
    std::string Base;    // the file's own name
};
TPlace PlaceOf(const std::string& fileName);

// The file a write replaces, as it was before the write.
struct TOldFile {
    bool ReadOnly = false;  // its user made it so: the write refuses to replace it
#ifndef _WIN32
    std::optional<mode_t> Mode;  // a regular file's mode, which the new file takes over
#endif
};
TOldFile ReadOldFile(const std::string& fileName);

// Opens `name` for reading: never waiting (for a FIFO's writer), and letting a writer replace the
// file meanwhile. Not open on failure.
TStoreHandle OpenToRead(const std::string& name);
// What the open file is (S_IFREG, ...) and, for a regular file, its size; false on failure.
bool KindAndSize(const TStoreHandle& file, mode_t& kind, int64_t& size);
// Up to `count` bytes: how many, 0 at the end, -1 on failure.
int64_t ReadSome(const TStoreHandle& file, char* buffer, size_t count);

// The pid a temporary name carries.
uint32_t OwnPid() noexcept;
// Removes the temporary files of writers that were killed: regular files named `prefix`<pid>-<n>.tmp
// whose pid no longer runs. Best effort: the write that follows reports a folder it cannot use.
void RemoveStaleTemps(const TPlace& place, const std::string& prefix);
// Creates `name` for writing, never opening an existing file (kFileExists then). Not open on
// failure.
TStoreHandle CreateNew(const std::string& name);
// Writes some of `count` bytes: how many (at least one), -1 on failure (also when none were taken).
int64_t WriteSome(const TStoreHandle& file, const char* data, size_t count);
// Gives the written file what it keeps of the old one, puts its bytes on the disk, closes it and
// renames it over `fileName`, so that the rename too is on the disk when this returns. The reason on
// failure, "" on success.
std::string Commit(TStoreHandle& file, const std::string& temp, const std::string& fileName,
                   const TOldFile& old, const TPlace& place);
// Removes `name`; best effort, for a temporary file given up.
void RemoveFile(const std::string& name) noexcept;

}  // namespace zelhost::detail
