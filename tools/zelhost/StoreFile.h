#pragma once
// The settings store's file on disk: read whole, written atomically (a temporary file beside it,
// flushed, synced and renamed over it), and reached through any symbolic links to it. What the
// file holds is SettingsStore's business; this is only where and how it is kept.
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Exceptions.h"

namespace zelhost {

// The store file cannot be read or written.
class EStoreError : public zel::Exception {
public:
    using Exception::Exception;
};

// The largest store file read: past it, a file is refused before it is read (a store is kilobytes).
constexpr int64_t kMaxStoreBytes = int64_t{64} << 20;

// The whole store file, or nothing when there is none. EStoreError for a FIFO, a device or anything
// else that is not a regular file, and for a file over kMaxStoreBytes.
std::optional<std::string> ReadStoreFile(const std::string& name);

// What a file of this mode is, in words for a message ("a FIFO"); regular files are "a regular file".
const char* FileKind(mode_t mode) noexcept;

// The file a name finally stands for: a symbolic link is followed to its target (which need not
// exist yet); other names come back as they are. EStoreError on a loop of links.
std::string FollowLinks(std::string name);

// Writes `data` to `fileName` so that the file is either the old or the new document: a temporary
// file in the same folder, written, flushed to disk and renamed over the target. Nothing is left
// behind on failure (EStoreError). Its name carries the target's name and the writer's pid, so a
// later write removes what a killed writer of that file left, and nothing else.
void AtomicWriteFile(const std::string& fileName, std::string_view data);

}  // namespace zelhost
