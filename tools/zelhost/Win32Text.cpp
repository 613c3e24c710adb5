#include "Win32Text.h"

#include <sys/stat.h>

namespace zelhost {

std::string Win32ErrorText(DWORD error) {
    char* text = nullptr;
    // The A form with the thread's language: the same words a Windows program would show.
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result = length && text ? std::string(text, length) : "Windows error " + std::to_string(error);
    if (text) ::LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ' || result.back() == '.'))
        result.pop_back();
    return result;
}

mode_t HandleKind(HANDLE file) noexcept {
    switch (::GetFileType(file)) {
        case FILE_TYPE_CHAR: return S_IFCHR;
        case FILE_TYPE_PIPE: return S_IFIFO;
        case FILE_TYPE_DISK: {
            BY_HANDLE_FILE_INFORMATION info{};
            if (::GetFileInformationByHandle(file, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                return S_IFDIR;
            return S_IFREG;
        }
        default: return 0;
    }
}

}  // namespace zelhost
