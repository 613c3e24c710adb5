#pragma once
// Small pieces of the Win32 API that several of zelhost's Windows files share: the system's words
// for an error, and what kind of file an open handle stands for.
#include <windows.h>
#include <sys/types.h>

#include <string>

namespace zelhost {

// The system's message for `error` (from GetLastError), without the trailing line break; the
// number itself when the system has no text for it.
std::string Win32ErrorText(DWORD error);

// The kind of file `file` is open on, as the mode bits FileKind (StoreFile.h) puts into words: a
// directory, a character device (a console, NUL), a FIFO (a pipe), or a regular file.
mode_t HandleKind(HANDLE file) noexcept;

}  // namespace zelhost
