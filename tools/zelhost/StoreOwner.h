#pragma once
// Who may use a settings store: one process at a time, so that no two of them each write back
// their own whole copy of it. `run` and `page` own the store for their whole life, `set` and
// `get` only for their read/modify/write.
//
// Ownership is a kernel record lock (fcntl) on a file beside the file the store's name finally
// stands for: store.xml.lock next to store.xml, or next to a link's target, so that every name of
// one store meets at one lock. The kernel drops the lock with the process however it ends, so a
// lock file that a crash left behind blocks nobody; the file holds the owner's pid for a person
// who looks. These are process-owned locks, not the descriptor-owned kind, because only for them
// does the kernel name the holder; the price is that closing any descriptor of the lock file
// drops them, so nothing but this class opens it, and a process holds one owner per store.
// A symbolic link at the lock file's name is refused, never followed: whoever may write the
// folder could otherwise have the pid written over a file of the user's.
//
// On Windows (StoreOwnerWin32.cpp) the lock is LockFileEx on a byte far past the file's content,
// since a locked range cannot be read by others and the pid must stay readable; the system names
// no holder, so the message takes the pid from the file.
#include <string>

#include "StoreFile.h"

namespace zelhost {

// Another process holds the store; the message names the store and that process.
class EStoreInUse : public EStoreError {
public:
    using EStoreError::EStoreError;
};

class TStoreOwner {
public:
    // Any number of readers may hold a store together; a writer holds it alone.
    enum class TUse { Read, Write };

    // Takes the store without waiting. EStoreInUse when another process holds it in a conflicting
    // way; EStoreError when the store is not a regular file, and when the lock file cannot be made
    // or something other than a regular file (a symbolic link, say) stands at its name. A reader in
    // a folder it cannot write to takes an existing lock file as it is, and without one goes ahead
    // unlocked: a writer keeps the file there for as long as it holds the store.
    TStoreOwner(const std::string& storeName, TUse use);
    // Gives the store back; the last owner removes the lock file.
    ~TStoreOwner();
    TStoreOwner(const TStoreOwner&) = delete;
    TStoreOwner& operator=(const TStoreOwner&) = delete;

private:
    std::string FLockName;
#ifdef _WIN32
    void* FFile = nullptr;  // the lock file's HANDLE; null: a reader that found no lock file and could make none
#else
    int FFd = -1;  // -1: a reader that found no lock file and could make none
#endif
};

}  // namespace zelhost
