#include "StoreOwner.h"

#include <windows.h>

#include <charconv>
#include <sys/stat.h>

#include "Win32Text.h"

namespace zelhost {

namespace {

// The byte that is locked: past any pid ever written, so the pid itself stays readable.
constexpr DWORD kLockOffsetHigh = 0x40000000;

bool LockByte(HANDLE file, bool exclusive) noexcept {
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    return ::LockFileEx(file, flags, 0, 1, 0, &at) != 0;
}

void UnlockByte(HANDLE file) noexcept {
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    ::UnlockFileEx(file, 0, 1, 0, &at);
}

// The pid a writer left at the start of the lock file; empty when there is none to read.
std::string WrittenPid(HANDLE file) {
    char buf[16] = {};
    DWORD n = 0;
    OVERLAPPED at{};
    if (!::ReadFile(file, buf, sizeof buf - 1, &n, &at)) return {};
    unsigned long pid = 0;
    auto [ptr, ec] = std::from_chars(buf, buf + n, pid);
    return ec == std::errc() && pid > 0 ? std::to_string(pid) : std::string();
}

}  // namespace

// The lock file is opened without FILE_SHARE_DELETE: while anybody holds it open, nobody can remove
// or replace it, so the name and the handle never part (what StillNamed checks on POSIX).
TStoreOwner::TStoreOwner(const std::string& storeName, TUse use) {
    const std::string storeFile = FollowLinks(storeName);
    if (const DWORD attributes = ::GetFileAttributesA(storeFile.c_str());
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw EStoreError("cannot read " + storeName + ": it is " + FileKind(S_IFDIR) + ", not a regular file");
    FLockName = storeFile + ".lock";
    const bool write = use == TUse::Write;
    bool create = true;
    // Another round only when the lock file is being removed as we open it.
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Never through a link: the reparse point itself is opened and refused below.
        HANDLE file = ::CreateFileA(FLockName.c_str(), create ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, create ? OPEN_ALWAYS : OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        const DWORD error = ::GetLastError();
        if (file == INVALID_HANDLE_VALUE && create && !write && error == ERROR_ACCESS_DENIED) {
            create = false;
            continue;
        }
        if (file == INVALID_HANDLE_VALUE) {
            if (!create && error == ERROR_FILE_NOT_FOUND) return;
            if (error == ERROR_SHARING_VIOLATION) {
                ::Sleep(1);
                continue;
            }
            throw EStoreError("cannot lock " + storeName + ": cannot " + (create ? "create " : "open ") + FLockName +
                              ": " + Win32ErrorText(error));
        }
        BY_HANDLE_FILE_INFORMATION info{};
        if (::GetFileInformationByHandle(file, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            ::CloseHandle(file);
            throw EStoreError("cannot lock " + storeName + ": " + FLockName +
                              " is a symbolic link, which is never followed; remove it");
        }
        if (const mode_t kind = HandleKind(file); kind != S_IFREG) {
            ::CloseHandle(file);
            throw EStoreError("cannot lock " + storeName + ": " + FLockName + " is " + FileKind(kind) +
                              ", not a regular file; remove it");
        }
        if (!LockByte(file, write)) {
            const DWORD lockError = ::GetLastError();
            const std::string pid = lockError == ERROR_LOCK_VIOLATION ? WrittenPid(file) : std::string();
            ::CloseHandle(file);
            if (lockError == ERROR_LOCK_VIOLATION)
                throw EStoreInUse(storeName + " is in use by zelhost" + (pid.empty() ? "" : ", pid " + pid));
            throw EStoreError("cannot lock " + storeName + ": " + FLockName + ": " + Win32ErrorText(lockError));
        }
        FFile = file;
        if (write) {
            // Best effort: the content is for people; the lock is what counts.
            const std::string pid = std::to_string(::GetCurrentProcessId()) + "\r\n";
            DWORD n = 0;
            OVERLAPPED at{};
            [[maybe_unused]] bool written = ::WriteFile(file, pid.data(), static_cast<DWORD>(pid.size()), &n, &at) &&
                                            ::SetFilePointer(file, static_cast<LONG>(n), nullptr, FILE_BEGIN) == n &&
                                            ::SetEndOfFile(file);
        }
        return;
    }
    throw EStoreError("cannot lock " + storeName + ": " + FLockName + " keeps being replaced");
}

TStoreOwner::~TStoreOwner() {
    if (!FFile) return;
    HANDLE file = static_cast<HANDLE>(FFile);
    // Only an owner that can hold the store alone removes the file; a reader that cannot leaves it
    // to the readers still there. Anybody who opens it between our close and the removal keeps it:
    // their handle makes the removal fail.
    UnlockByte(file);
    const bool alone = LockByte(file, true);
    ::CloseHandle(file);
    if (alone) ::DeleteFileA(FLockName.c_str());
}

}  // namespace zelhost
