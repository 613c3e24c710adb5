#include "PageWindowWin32.h"

#include <algorithm>
#include <cstring>

#include "platform/Exceptions.h"

namespace zelhost {

namespace {

// A window search: the name looked for, and the window found.
struct TSearch {
    const char* Name;
    HWND Found = nullptr;
};

// Whether `window` carries the name `name`.
bool HasName(HWND window, const char* name) {
    const auto* own = static_cast<const char*>(::GetPropA(window, kNameProperty));
    return own && std::strcmp(own, name) == 0;
}

// The enumeration's callback: stops at the first window of the search's name.
BOOL CALLBACK Match(HWND window, LPARAM search) noexcept {
    auto* s = reinterpret_cast<TSearch*>(search);
    if (!HasName(window, s->Name)) return TRUE;
    s->Found = window;
    return FALSE;
}

// Moves `window` so that all of it lies on the virtual screen, as far as it fits there.
void MoveOnScreen(HWND window) {
    RECT at{};
    if (!::GetWindowRect(window, &at)) return;
    const int left = ::GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int right = left + ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int bottom = top + ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
    // A window larger than the screen keeps its top-left corner on it.
    const int x = std::max(left, std::min<int>(at.left, right - (at.right - at.left)));
    const int y = std::max(top, std::min<int>(at.top, bottom - (at.bottom - at.top)));
    if (x != at.left || y != at.top)
        ::SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Raises `what` with the thread's last Windows error.
[[noreturn]] void Fail(const std::string& what) {
    throw zel::Exception(what + " (Windows error " + std::to_string(::GetLastError()) + ")");
}

}  // namespace

HWND FindPage() {
    TSearch search{kPageName};
    ::EnumThreadWindows(::GetCurrentThreadId(), Match, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

HWND FindControl(HWND page, const std::string& name) {
    TSearch search{name.c_str()};
    ::EnumChildWindows(page, Match, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

HWND FindButton(HWND page, const std::string& name) {
    HWND control = FindControl(page, name);
    char className[8] = {};
    // Class names are compared without case; the system's own class is "Button".
    return control && ::GetClassNameA(control, className, sizeof className) && ::lstrcmpiA(className, "Button") == 0
               ? control
               : nullptr;
}

TBitmap CaptureClientArea(HWND window) {
    if (!::IsWindowVisible(window)) throw zel::Exception("the window is not shown");
    MoveOnScreen(window);
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT client{};
    if (!::GetClientRect(window, &client)) Fail("reading the window's size failed");
    if (client.right <= 0 || client.bottom <= 0) throw zel::Exception("the window has no client area");
    BITMAPINFO info{};
    // Rows top-down, as the screen has them.
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), client.right, -client.bottom, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* pixels = nullptr;
    TBitmap image(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    if (!image) Fail("making the bitmap failed");
    HDC screen = ::GetDC(window);
    if (!screen) Fail("reading the window failed");
    HDC copy = ::CreateCompatibleDC(screen);
    HGDIOBJ before = copy ? ::SelectObject(copy, image.get()) : nullptr;
    // The window's own pixels as shown: WM_PRINT, which PrintWindow relies on, leaves out what
    // owner-drawn controls paint.
    const bool copied = before && ::BitBlt(copy, 0, 0, client.right, client.bottom, screen, 0, 0, SRCCOPY);
    const DWORD error = ::GetLastError();
    if (before) ::SelectObject(copy, before);
    if (copy) ::DeleteDC(copy);
    ::ReleaseDC(window, screen);
    ::SetLastError(error);
    if (!copied) Fail("copying the window's pixels failed");
    return image;
}

}  // namespace zelhost
