#pragma once
// zelhost.exe's PNG files, written with the imaging component that is part of Windows (reached
// through ole32), so that no DLL has to ship beside zelhost.exe.
#include <windows.h>

#include <string>

namespace zelhost {

// Writes the bitmap `image` (a DIB section of any row order, or a device-dependent bitmap) to the
// file `file` as a 24-bit RGB PNG of the same size and pixels; throws zel::Exception naming the
// file and the step that failed, and then leaves no file behind.
void WritePng(HBITMAP image, const std::string& file);

}  // namespace zelhost
