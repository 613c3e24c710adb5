#pragma once
// zelhost.exe's view of a module's configuration page, which it knows only as windows: the module
// gives the page and each control of it a name, as the window property kNameProperty whose value
// is a `const char*` to a NUL-terminated name inside the module (the page and zelhost share the
// process), valid while the window exists.
#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

namespace zelhost {

inline constexpr char kNameProperty[] = "ZELName";
// The name of the page's own top-level window.
inline constexpr char kPageName[] = "frmPropertyPage";

struct TBitmapDelete {
    void operator()(HBITMAP bitmap) const noexcept { ::DeleteObject(bitmap); }
};
using TBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, TBitmapDelete>;

// The calling thread's top-level window named kPageName, visible or not; nullptr when there is none.
HWND FindPage();
// The window below `page`, at any depth, named `name`; nullptr when there is none.
HWND FindControl(HWND page, const std::string& name);
// The control of FindControl when it is a button (class BUTTON), else nullptr.
HWND FindButton(HWND page, const std::string& name);

// The pixels of the visible `window`'s client area as it shows them, children included, as a
// 24-bit DIB section. The window is moved onto the screen first where part of it lies off it (a
// part off the screen has no pixels to copy), then repainted. Throws zel::Exception saying why
// there is no picture.
TBitmap CaptureClientArea(HWND window);

}  // namespace zelhost
