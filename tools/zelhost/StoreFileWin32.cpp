// The store file on the Win32 API: the same contract as StoreFile.cpp, with MoveFileEx for the
// atomic replace and process handles for telling stale temporary files apart.
#include "StoreFile.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <sys/stat.h>

#include "StoreTempName.h"
#include "Win32Text.h"

namespace zelhost {

namespace {

// Of the store's name in its temporary name: with the rest that name stays within MAX_PATH's
// 255 characters per component.
constexpr size_t kMaxTempBase = 200;

// Whether process `pid` has certainly ended. A process we may not look at may still be alive.
bool ProcessGone(DWORD pid) noexcept {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return ::GetLastError() == ERROR_INVALID_PARAMETER;  // no process has that id
    DWORD code = 0;
    // Someone still holds a handle to an ended process: the id is not reused while they do.
    const bool gone = ::GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
    ::CloseHandle(process);
    return gone;
}

// Removes the temporary files of writers that were killed: regular files of this store's pattern
// whose pid no longer runs. Best effort: the write that follows reports a folder it cannot use.
void RemoveStaleTemps(const std::string& folder, const std::string& prefix) {
    WIN32_FIND_DATAA entry{};
    HANDLE search = ::FindFirstFileA((folder + prefix + "*.tmp").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::optional<uint32_t> pid = TempWriterPid(entry.cFileName, prefix);
        if (!pid || *pid == ::GetCurrentProcessId()) continue;
        if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        if (ProcessGone(*pid)) ::DeleteFileA((folder + entry.cFileName).c_str());
    } while (::FindNextFileA(search, &entry));
    ::FindClose(search);
}

// The folder part of `name`, ending in a separator ("C:" for "C:store.xml"), and empty for a bare name.
std::string FolderOf(const std::string& name) {
    const size_t slash = name.find_last_of("/\\:");
    return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

}  // namespace

const char* FileKind(mode_t mode) noexcept {
    switch (mode & S_IFMT) {
        case S_IFREG: return "a regular file";
        case S_IFDIR: return "a directory";
        case S_IFIFO: return "a FIFO";
        case S_IFCHR: return "a character device";
        case S_IFBLK: return "a block device";
        default: return "not a regular file";
    }
}

// What the file is and how long is judged on the open handle, so nothing can swap the name
// between the check and the read.
std::optional<std::string> ReadStoreFile(const std::string& name) {
    // Sharing delete as well: a writer may replace the file while we read the old one. Backup
    // semantics: a folder opens too, to be named as such.
    HANDLE file = ::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return std::nullopt;
        throw EStoreError("cannot read " + name + ": " + Win32ErrorText(error));
    }
    const std::string tooLarge =
        "it is larger than " + std::to_string(kMaxStoreBytes >> 20) + " MiB, the most a settings store may be";
    std::string content, error;
    LARGE_INTEGER size{};
    if (const mode_t kind = HandleKind(file); kind != S_IFREG)
        error = std::string("it is ") + FileKind(kind) + ", not a regular file";
    else if (!::GetFileSizeEx(file, &size))
        error = Win32ErrorText(::GetLastError());
    else if (size.QuadPart > kMaxStoreBytes)
        error = tooLarge;
    else
        content.reserve(static_cast<size_t>(size.QuadPart));
    char buf[65536];
    while (error.empty()) {
        DWORD n = 0;
        if (!::ReadFile(file, buf, sizeof buf, &n, nullptr)) {
            error = Win32ErrorText(::GetLastError());
            break;
        }
        if (n == 0) break;
        content.append(buf, n);
        // It may have grown since GetFileSizeEx.
        if (content.size() > static_cast<size_t>(kMaxStoreBytes)) error = tooLarge;
    }
    ::CloseHandle(file);
    if (!error.empty()) throw EStoreError("cannot read " + name + ": " + error);
    return content;
}

// Writing the store changes the link's target, so the link stays a link. The system resolves the
// whole chain; a target that does not exist yet leaves the name as it is.
std::string FollowLinks(std::string name) {
    const DWORD attributes = ::GetFileAttributesA(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return name;
    HANDLE file = ::CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (::GetLastError() == ERROR_CANT_RESOLVE_FILENAME)
            throw EStoreError("cannot follow " + name + ": too many levels of symbolic links");
        return name;
    }
    char target[MAX_PATH + 8] = {};
    const DWORD length = ::GetFinalPathNameByHandleA(file, target, sizeof target, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    ::CloseHandle(file);
    if (length == 0 || length >= sizeof target) return name;
    std::string resolved(target, length);
    // The system's answer is in the \\?\ form, which bypasses the usual name rules; ours are plain.
    if (resolved.starts_with("\\\\?\\UNC\\"))
        resolved = "\\\\" + resolved.substr(8);
    else if (resolved.starts_with("\\\\?\\"))
        resolved.erase(0, 4);
    return resolved;
}

void AtomicWriteFile(const std::string& linkName, std::string_view data) {
    const std::string fileName = FollowLinks(linkName);
    const std::string folder = FolderOf(fileName);
    // For messages: where the temporary file goes.
    const std::string dir = folder.empty() ? "." : folder;
    const DWORD old = ::GetFileAttributesA(fileName.c_str());
    // A store its user made read-only stays as it is: MoveFileEx would refuse it anyway, less clearly.
    if (old != INVALID_FILE_ATTRIBUTES && !(old & FILE_ATTRIBUTE_DIRECTORY) && (old & FILE_ATTRIBUTE_READONLY))
        throw EStoreError("cannot write " + linkName + ": the file is read-only; nothing was changed");

    // .store.xml.zelhost-PID-N.tmp: this store's, with the pid that tells whether its writer still runs.
    const std::string base = fileName.substr(folder.size());
    const std::string prefix = "." + base.substr(0, kMaxTempBase) + ".zelhost-";
    RemoveStaleTemps(folder, prefix);

    // A fresh name per attempt; CREATE_NEW so that nobody else's file is ever reused.
    static std::atomic<unsigned> counter{0};
    std::string temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temp = folder + prefix + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++) + ".tmp";
        file = ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS)
            throw EStoreError("cannot write " + fileName + ": cannot create a file in " + dir + ": " +
                              Win32ErrorText(::GetLastError()));
    }
    if (file == INVALID_HANDLE_VALUE) throw EStoreError("cannot write " + fileName + ": no free temporary name in " + dir);

    auto fail = [&](DWORD error) {
        ::CloseHandle(file);
        ::DeleteFileA(temp.c_str());
        throw EStoreError("cannot write " + fileName + ": " + Win32ErrorText(error));
    };
    // Written through the handle that created the file: nothing can swap the name meanwhile.
    for (size_t done = 0; done < data.size();) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20));
        DWORD n = 0;
        if (!::WriteFile(file, data.data() + done, chunk, &n, nullptr)) fail(::GetLastError());
        if (n == 0) fail(ERROR_WRITE_FAULT);
        done += n;
    }
    if (!::FlushFileBuffers(file)) fail(::GetLastError());
    ::CloseHandle(file);
    // Write-through: the rename itself is on disk before we return, as the folder's sync does on POSIX.
    if (!::MoveFileExA(temp.c_str(), fileName.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = ::GetLastError();
        ::DeleteFileA(temp.c_str());
        throw EStoreError("cannot write " + fileName + ": " + Win32ErrorText(error));
    }
}

}  // namespace zelhost
