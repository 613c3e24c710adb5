// The store file's Win32 calls: handles that let a writer replace a file being read, process
// handles for telling stale temporary files apart, and MoveFileEx with write-through for the atomic
// replace.
#include "StoreFile.h"

#include <windows.h>

#include <algorithm>
#include <sys/stat.h>

#include "StoreFileSystem.h"
#include "StoreTempName.h"
#include "Win32Text.h"

namespace zelhost {

namespace {

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

HANDLE HandleOf(const detail::TStoreHandle& file) noexcept { return reinterpret_cast<HANDLE>(file.Get()); }

// INVALID_HANDLE_VALUE is -1 as an integer, the held handle's "none".
detail::TStoreHandle Hold(HANDLE file) noexcept { return detail::TStoreHandle(reinterpret_cast<intptr_t>(file)); }

}  // namespace

namespace detail {

TSystemError LastSystemError() {
    const DWORD error = ::GetLastError();
    return {error == ERROR_FILE_NOT_FOUND ? TSystemError::kNoSuchFile
            : error == ERROR_FILE_EXISTS  ? TSystemError::kFileExists
                                          : TSystemError::kOther,
            Win32ErrorText(error)};
}

bool TStoreHandle::Close() noexcept {
    if (FHandle == -1) return true;
    return ::CloseHandle(reinterpret_cast<HANDLE>(std::exchange(FHandle, -1)));
}

TPlace PlaceOf(const std::string& fileName) {
    // "C:" for "C:store.xml".
    const size_t slash = fileName.find_last_of("/\\:");
    TPlace place;
    place.Join = slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
    place.Folder = place.Join.empty() ? "." : place.Join;
    place.Base = fileName.substr(place.Join.size());
    return place;
}

TOldFile ReadOldFile(const std::string& fileName) {
    // MoveFileEx would refuse a read-only file anyway, less clearly.
    const DWORD attributes = ::GetFileAttributesA(fileName.c_str());
    TOldFile old;
    old.ReadOnly = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                   (attributes & FILE_ATTRIBUTE_READONLY);
    return old;
}

TStoreHandle OpenToRead(const std::string& name) {
    // Sharing delete as well: a writer may replace the file while we read the old one. Backup
    // semantics: a folder opens too, to be named as such.
    return Hold(::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool KindAndSize(const TStoreHandle& file, mode_t& kind, int64_t& size) {
    kind = HandleKind(HandleOf(file));
    if (kind != S_IFREG) return true;
    LARGE_INTEGER bytes{};
    if (!::GetFileSizeEx(HandleOf(file), &bytes)) return false;
    size = bytes.QuadPart;
    return true;
}

int64_t ReadSome(const TStoreHandle& file, char* buffer, size_t count) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count, 1u << 20));
    if (!::ReadFile(HandleOf(file), buffer, chunk, &n, nullptr)) return -1;
    return n;
}

uint32_t OwnPid() noexcept { return ::GetCurrentProcessId(); }

void RemoveStaleTemps(const TPlace& place, const std::string& prefix) {
    WIN32_FIND_DATAA entry{};
    HANDLE search = ::FindFirstFileA((place.Join + prefix + "*.tmp").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::optional<uint32_t> pid = TempWriterPid(entry.cFileName, prefix);
        if (!pid || *pid == ::GetCurrentProcessId()) continue;
        if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        if (ProcessGone(*pid)) ::DeleteFileA((place.Join + entry.cFileName).c_str());
    } while (::FindNextFileA(search, &entry));
    ::FindClose(search);
}

TStoreHandle CreateNew(const std::string& name) {
    return Hold(::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}

int64_t WriteSome(const TStoreHandle& file, const char* data, size_t count) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count, 1u << 20));
    DWORD n = 0;
    if (!::WriteFile(HandleOf(file), data, chunk, &n, nullptr)) return -1;
    if (n == 0) {
        ::SetLastError(ERROR_WRITE_FAULT);  // a write that takes nothing would never end
        return -1;
    }
    return n;
}

std::string Commit(TStoreHandle& file, const std::string& temp, const std::string& fileName, const TOldFile&,
                   const TPlace&) {
    if (!::FlushFileBuffers(HandleOf(file))) return Win32ErrorText(::GetLastError());
    file.Close();
    // Write-through: the rename itself is on disk before we return, as the folder's sync does on POSIX.
    if (!::MoveFileExA(temp.c_str(), fileName.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return Win32ErrorText(::GetLastError());
    return "";
}

void RemoveFile(const std::string& name) noexcept { ::DeleteFileA(name.c_str()); }

}  // namespace detail

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

}  // namespace zelhost
