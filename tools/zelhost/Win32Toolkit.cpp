// The toolkit seam (Toolkit.h) on the Win32 API, without Qt: a GetMessage loop on the main thread,
// the platform layer's timers and posted calls, the module's configuration page found and captured
// through PageWindowWin32.h, the variable selector's dialog of SelectorDialogWin32.cpp, and a
// window hook that reports message boxes and closes them when nobody can see them.
#include <windows.h>
// The system's names for these are macros; ours are the module interface's constants and the
// event printer's member.
#undef E_FAIL
#undef E_NOINTERFACE
#undef E_NOTIMPL
#undef MessageBox
#undef S_OK

#include <cstdio>
#include <deque>
#include <mutex>
#include <string_view>
#include <vector>

#include "PageWindowWin32.h"
#include "PngWin32.h"
#include "Toolkit.h"
#include "platform/EventLoop.h"
#include "platform/Exceptions.h"

namespace zelhost {

namespace {

// How often QuitWhenPageCloses looks, and how long ScreenshotPage lets the page settle first.
constexpr int kPageWatchMs = 200;
// The static control that holds a message box's text.
constexpr int kMessageBoxTextId = 0xFFFF;

// Whether nobody can answer a message box: a window station without a screen (a service), or a run
// whose input is not a console (a script's pipe or file, or the NUL device, which is a character
// device as a console is).
bool Unattended() noexcept {
    USEROBJECTFLAGS flags{};
    if (::GetUserObjectInformationA(::GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, nullptr) &&
        !(flags.dwFlags & WSF_VISIBLE))
        return true;
    DWORD mode = 0;
    return !::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode);
}

std::string WideToUtf8(const wchar_t* text, int length) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) ::WideCharToMultiByte(CP_UTF8, 0, text, length, result.data(), size, nullptr, nullptr);
    return result;
}

class TWin32Toolkit;
// The toolkit whose hook runs on this process's main thread; one at a time, as with Qt.
TWin32Toolkit* gToolkit = nullptr;

class TWin32Toolkit final : public TToolkit {
public:
    explicit TWin32Toolkit(TEventPrinter& events)
        : FEvents(events), FCloseBoxes(Unattended()), FPosted([this] { RunPosted(); }) {
        // Thread-local: only boxes shown on this thread, the one that runs the module's entries.
        FHook = ::SetWindowsHookExA(WH_CALLWNDPROCRET, OnWindowProcReturn, nullptr, ::GetCurrentThreadId());
        if (!FHook) throw zel::Exception("cannot watch for message boxes (Windows error " + std::to_string(::GetLastError()) + ")");
        gToolkit = this;
        // Events are UTF-8: the console shows them as such instead of in its OEM code page, until
        // the run ends (the console outlives us, and its other programs expect their code page).
        FOldOutputCodePage = ::GetConsoleOutputCP();
        if (FOldOutputCodePage) ::SetConsoleOutputCP(CP_UTF8);
    }
    ~TWin32Toolkit() override {
        if (FOldOutputCodePage) ::SetConsoleOutputCP(FOldOutputCodePage);
        gToolkit = nullptr;
        ::UnhookWindowsHookEx(FHook);
    }
    TWin32Toolkit(const TWin32Toolkit&) = delete;
    TWin32Toolkit& operator=(const TWin32Toolkit&) = delete;

    int Run() override {
        MSG message{};
        BOOL got = 0;
        while ((got = ::GetMessageW(&message, nullptr, 0, 0)) > 0) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        if (got < 0) throw zel::Exception("the event loop failed (Windows error " + std::to_string(::GetLastError()) + ")");
        return static_cast<int>(message.wParam);
    }
    // No windows of ours to close: the module's own go with its instances.
    void Quit() override { ::PostQuitMessage(0); }
    void QuitAfter(int milliseconds) override {
        After(milliseconds, [] { ::PostQuitMessage(0); });
    }
    void Post(std::function<void()> work) override {
        {
            std::lock_guard<std::mutex> lock(FLock);
            FWork.push_back(std::move(work));
        }
        FPosted.Post();
    }
    void RunPosted() override {
        // One at a time and unlocked while it runs: work may post more work.
        for (;;) {
            std::function<void()> work;
            {
                std::lock_guard<std::mutex> lock(FLock);
                if (FWork.empty()) return;
                work = std::move(FWork.front());
                FWork.pop_front();
            }
            work();
        }
    }
    // The stop signals post to the loop directly here, and nothing else watches descriptors.
    std::unique_ptr<TWatch> WatchReadable(int, std::function<void()>) override {
        throw zel::Exception("watching descriptors is not available in this build");
    }

    bool HasPage() override { return FindPage() != nullptr; }
    void ScreenshotPage(const std::string& screenshot, const std::string& click) override {
        After(kPageWatchMs, [screenshot, click] { ::PostQuitMessage(Screenshot(screenshot, click)); });
    }
    void QuitWhenPageCloses() override {
        auto timer = std::make_unique<zel::WindowTimer>(kPageWatchMs, [] {
            HWND page = FindPage();
            if (!page || !::IsWindowVisible(page)) ::PostQuitMessage(0);
        }, true);
        FTimers.push_back(std::move(timer));
    }

    zel::HRESULT ChooseVariable(uint8_t kind, const std::vector<std::string>& names, std::string& chosen) override {
        return DefaultVariableChooser(kind, names, chosen);
    }

private:
    // Runs `work` once, `milliseconds` from now: a later tick would end the next Run as well.
    void After(int milliseconds, std::function<void()> work) {
        auto timer = std::make_unique<zel::WindowTimer>(milliseconds, nullptr, false);
        timer->SetHandler([&once = *timer, work = std::move(work)] {
            once.SetEnabled(false);
            work();
        });
        timer->SetEnabled(true);
        FTimers.push_back(std::move(timer));
    }

    // Clicks the page's button `click` (none when empty) and writes the page to the PNG file
    // `screenshot`; the run's exit code, with the reason on stderr when it is 1.
    static int Screenshot(const std::string& screenshot, const std::string& click) noexcept {
        try {
            if (!click.empty()) {
                HWND page = FindPage();
                HWND button = page ? FindButton(page, click) : nullptr;
                if (!button) {
                    std::fprintf(stderr, "zelhost: the page has no button %s\n", click.c_str());
                    return 1;
                }
                // Runs the button's handler before it returns; what the handler leaves posted
                // (a repaint, a freed window) runs before the picture is taken.
                ::SendMessageA(button, BM_CLICK, 0, 0);
                zel::ProcessMessages();
            }
            HWND page = FindPage();
            if (!page) throw zel::Exception("there is no page");
            WritePng(CaptureClientArea(page).get(), screenshot);
            return 0;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "zelhost: cannot write the screenshot %s: %s\n", screenshot.c_str(), e.what());
        } catch (...) {
            std::fprintf(stderr, "zelhost: cannot write the screenshot %s\n", screenshot.c_str());
        }
        return 1;
    }

    // Sees each dialog once its initialisation has returned: the box's text is set by then, which it
    // is not yet when the box activates under wine (its template is visible from the start).
    static LRESULT CALLBACK OnWindowProcReturn(int code, WPARAM wParam, LPARAM lParam) noexcept {
        const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        if (gToolkit && code == HC_ACTION && call->message == WM_INITDIALOG) {
            try {
                gToolkit->DialogInitialised(call->hwnd);
            } catch (...) {
                // Nothing may unwind through the system's frames; a box not reported still works.
            }
        }
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    }

    // A message box is a dialog with the text control: reported, and answered with its default
    // button where nobody can see it.
    void DialogInitialised(HWND window) {
        wchar_t className[16] = {};
        if (!::GetClassNameW(window, className, 16) || std::wstring_view(className) != L"#32770") return;
        HWND text = ::GetDlgItem(window, kMessageBoxTextId);
        if (!text) return;
        std::wstring content(static_cast<size_t>(::GetWindowTextLengthW(text)) + 1, L'\0');
        const UINT length = ::GetDlgItemTextW(window, kMessageBoxTextId, content.data(), static_cast<int>(content.size()));
        FEvents.MessageBox(WideToUtf8(content.data(), static_cast<int>(length)));
        if (!FCloseBoxes) return;
        // The exact button: WM_CLOSE would answer an OK-only box with IDCANCEL. The default is the
        // button that says it is; DM_GETDEFID names IDOK for every box under wine, even a Yes/No one.
        int button = IDOK;
        for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
            if (::SendMessageW(child, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON) button = ::GetDlgCtrlID(child);
        ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    }

    TEventPrinter& FEvents;
    const bool FCloseBoxes;
    HHOOK FHook = nullptr;
    UINT FOldOutputCodePage = 0;  // 0: no console
    std::mutex FLock;
    std::deque<std::function<void()>> FWork;
    zel::PostedCall FPosted;
    std::vector<std::unique_ptr<zel::WindowTimer>> FTimers;
};

}  // namespace

std::unique_ptr<TToolkit> MakeToolkit(TEventPrinter& events) {
    return std::make_unique<TWin32Toolkit>(events);
}

}  // namespace zelhost
