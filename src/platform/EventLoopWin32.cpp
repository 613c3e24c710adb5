// The main-thread event loop on the Win32 API: timers and posted calls are messages to a
// message-only window of the creating thread, waits are MsgWaitForMultipleObjects, the message box
// is MessageBoxA. Nothing here lets an exception reach a Windows frame.
#include "platform/EventLoop.h"

#include <windows.h>

#include <algorithm>
#include <mutex>
#include <string>

#include "platform/Exceptions.h"

namespace zel {

namespace {

constexpr UINT kPostedCallMessage = WM_APP + 1;
constexpr UINT_PTR kTimerId = 1;
// Any keyboard, mouse, posted, timer, paint, sent or hot-key message ends a wait.
constexpr DWORD kWakeMask = 0xFF;
constexpr char kWindowClass[] = "ZELPlatformMessageWindow";

// Whether the last ProcessMessages of this thread put a quit back for the host's loop. A plain
// bool: a thread-local with a destructor would pin the module in memory.
thread_local bool GQuitPutBack = false;

// The host calls the module's entry points on the thread that loaded the module, and loading runs
// our static initialisers on that thread (in a program: the thread that runs main). A plain DWORD,
// so nothing runs when the module is unloaded.
const DWORD GMainThreadId = ::GetCurrentThreadId();

// This module's own instance (the DLL, or the program it is linked into): a class registered
// under it cannot clash with a host's class of the same name.
HINSTANCE ThisModule() noexcept {
    HMODULE module = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         kWindowClass, &module);
    return module;
}

[[noreturn]] void RaiseLastError(const char* what) {
    throw Exception(std::string(what) + " failed (Windows error " + std::to_string(::GetLastError()) + ")");
}

// A message-only window on the thread that creates it; WM_TIMER and our posted-call message go to
// Receive. It must be destroyed on that thread (Windows lets only it destroy the window).
class TMessageWindow {
public:
    TMessageWindow();
    virtual ~TMessageWindow();
    TMessageWindow(const TMessageWindow&) = delete;
    TMessageWindow& operator=(const TMessageWindow&) = delete;

    HWND Handle() const noexcept { return FWindow; }
    virtual void Receive(UINT message, WPARAM wParam) = 0;

private:
    HWND FWindow = nullptr;
};

LRESULT CALLBACK MessageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (message == WM_TIMER || message == kPostedCallMessage) {
        if (auto* target = reinterpret_cast<TMessageWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA))) {
            try {
                target->Receive(message, wParam);
            } catch (...) {
                // Handlers report their own failures; an exception crossing this frame ends the process.
            }
            return 0;
        }
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

// The class is registered while windows of it exist, so that an unloaded module leaves no class
// behind that points into freed code.
std::mutex GClassLock;
int GClassUsers = 0;

TMessageWindow::TMessageWindow() {
    std::lock_guard<std::mutex> lock(GClassLock);
    if (GClassUsers == 0) {
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = MessageWindowProc;
        windowClass.hInstance = ThisModule();
        windowClass.lpszClassName = kWindowClass;
        if (!::RegisterClassExA(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            RaiseLastError("RegisterClassEx");
    }
    FWindow = ::CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(), this);
    if (!FWindow) {
        const DWORD error = ::GetLastError();
        if (GClassUsers == 0) ::UnregisterClassA(kWindowClass, ThisModule());
        ::SetLastError(error);
        RaiseLastError("CreateWindowEx");
    }
    ++GClassUsers;
}

TMessageWindow::~TMessageWindow() {
    // Messages still queued for the window are discarded with it.
    ::SetWindowLongPtrA(FWindow, GWLP_USERDATA, 0);
    ::DestroyWindow(FWindow);
    std::lock_guard<std::mutex> lock(GClassLock);
    if (--GClassUsers == 0) ::UnregisterClassA(kWindowClass, ThisModule());
}

std::function<void(const std::string&)>& MessageBoxHandler() {
    static std::function<void(const std::string&)> handler;
    return handler;
}

// The program's file name without folder and extension, as the title of its message boxes.
std::string ApplicationTitle() {
    char path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string title(path, std::min<DWORD>(length, MAX_PATH));
    title.erase(0, title.find_last_of("\\/") + 1);
    if (const size_t dot = title.rfind('.'); dot != std::string::npos && dot > 0) title.erase(dot);
    return title;
}

}  // namespace

struct WindowTimer::Impl : TMessageWindow {
    int interval = 0;
    bool enabled = false;
    std::function<void()> handler;

    void Receive(UINT message, WPARAM wParam) override {
        // A tick queued before KillTimer may still arrive: a stopped timer ignores it.
        if (message != WM_TIMER || wParam != kTimerId || !enabled) return;
        // Copy first: the handler may replace or clear itself while it runs.
        auto h = handler;
        if (h) h();
    }
};

WindowTimer::WindowTimer(int intervalMs, std::function<void()> handler, bool enabled) : FImpl(std::make_unique<Impl>()) {
    FImpl->interval = intervalMs;
    FImpl->handler = std::move(handler);
    SetEnabled(enabled);
}

WindowTimer::~WindowTimer() {
    if (FImpl->enabled) ::KillTimer(FImpl->Handle(), kTimerId);
}

void WindowTimer::SetEnabled(bool enabled) {
    if (enabled) {
        // Setting it again restarts the interval, as starting a running timer does elsewhere.
        if (!::SetTimer(FImpl->Handle(), kTimerId, static_cast<UINT>(std::max(FImpl->interval, 0)), nullptr))
            RaiseLastError("SetTimer");
    } else if (FImpl->enabled) {
        ::KillTimer(FImpl->Handle(), kTimerId);
    }
    FImpl->enabled = enabled;
}

bool WindowTimer::Enabled() const { return FImpl->enabled; }

int WindowTimer::Interval() const { return FImpl->interval; }

void WindowTimer::SetHandler(std::function<void()> handler) { FImpl->handler = std::move(handler); }

struct PostedCall::Impl : TMessageWindow {
    std::function<void()> handler;

    void Receive(UINT message, WPARAM) override {
        if (message == kPostedCallMessage && handler) handler();
    }
};

PostedCall::PostedCall(std::function<void()> handler) : FImpl(std::make_unique<Impl>()) {
    FImpl->handler = std::move(handler);
}

PostedCall::~PostedCall() = default;

void PostedCall::Post() {
    if (!::PostMessageA(FImpl->Handle(), kPostedCallMessage, 0, 0)) RaiseLastError("PostMessage");
}

void ProcessMessages() {
    GQuitPutBack = false;
    MSG message{};
    // The W forms hand a Unicode window of the host its text unconverted; Windows converts for ANSI
    // windows (ours carry no text).
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // The host's own loop ends on it: put it back for that loop and stop here.
            ::PostQuitMessage(static_cast<int>(message.wParam));
            GQuitPutBack = true;
            return;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

bool WaitForMessages(int timeoutMs) {
    if (timeoutMs <= 0) return false;
    // No object to wait for: only messages end the wait early. Wakes for what arrived since the
    // queue was last looked at, as the host's own loop would. A quit put back for the host's loop
    // would end every wait at once and make the caller spin: until the host takes it, posted
    // messages do not wake us (they are still handled with everything else).
    const DWORD mask = GQuitPutBack ? kWakeMask & ~static_cast<DWORD>(QS_POSTMESSAGE) : kWakeMask;
    const DWORD result = ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeoutMs), mask);
    if (result != WAIT_OBJECT_0) return false;
    ProcessMessages();
    return true;
}

bool IsMainThread() { return ::GetCurrentThreadId() == GMainThreadId; }

void ShowMessageBox(const std::string& text) {
    if (auto& h = MessageBoxHandler()) {
        h(text);
        return;
    }
    // Owned by the host's active window, so that the box stays in front of it and disables it;
    // with no such window, modal to every window of this thread.
    HWND owner = ::GetActiveWindow();
    const UINT style = MB_OK | MB_ICONINFORMATION | (owner ? 0u : static_cast<UINT>(MB_TASKMODAL));
    ::MessageBoxA(owner, text.c_str(), ApplicationTitle().c_str(), style);
}

void SetMessageBoxHandler(std::function<void(const std::string&)> handler) { MessageBoxHandler() = std::move(handler); }

char LocaleDecimalSeparator() {
    char separator[4] = {};
    // The count includes the terminating zero: 2 is one character.
    if (::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, sizeof(separator)) == 2 &&
        static_cast<unsigned char>(separator[0]) < 0x80)
        return separator[0];
    return '.';
}

}  // namespace zel
