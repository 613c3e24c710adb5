// The configuration page on the Win32 API: one top-level window of its own class with the rows of
// kPageControls as its direct children (flat, as a dialog template has them; a row's place in the
// window is its place in its parent plus the parent's origin), Windows-1252 texts through the ...A
// functions, the pictures painted from the pixels the Qt view draws, and what the buttons do left
// to TPageLogic.
#include <windows.h>
#include <commctrl.h>
// The system's names for these are macros; ours are the module interface's constants.
#undef E_FAIL
#undef E_NOINTERFACE
#undef E_NOTIMPL
#undef S_OK

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "device/PropertyPage.h"
#include "platform/Exceptions.h"
#include "ui/PageArtPixels.h"
#include "ui/PageLayout.h"
#include "ui/PageLogic.h"
#include "ui/RegisterPage.h"

namespace zel {

namespace {

constexpr char kWindowClass[] = "ZELPropertyPage";
// Every window of the page carries its table name under this property, as a pointer to the name:
// the host and the tests find controls by it, as they do by object name on Qt.
constexpr char kNameProperty[] = "ZELName";
// A control's id is this plus its row.
constexpr int kFirstId = 100;
constexpr int kPictureGap = 4;  // between a button's picture and its text

int Row(HWND control) noexcept { return ::GetDlgCtrlID(control) - kFirstId; }

[[noreturn]] void RaiseLastError(const char* what) {
    throw Exception(std::string(what) + " failed (Windows error " + std::to_string(::GetLastError()) + ")");
}

// This module's own instance (the DLL, or a test program), under which the class is registered.
HINSTANCE ThisModule() noexcept {
    HMODULE module = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         kWindowClass, &module);
    return module;
}

// A row's offset in the page's client area: its parents' places added up.
POINT Origin(const TPageControl& c) {
    POINT at{0, 0};
    for (const char* parent = c.Parent; parent && kPageControls[PageControl(parent)].Parent;
         parent = kPageControls[PageControl(parent)].Parent) {
        at.x += kPageControls[PageControl(parent)].Left;
        at.y += kPageControls[PageControl(parent)].Top;
    }
    return at;
}

// Whether the row lies on the white header panel, or is it.
bool OnHeader(int row) { return kPageControls[row].Parent && std::string_view(kPageControls[row].Parent) == "pTop"; }

// Paints the picture of `art` at (x, y): the key colour, where one is set, and any transparency
// show `background`; a disabled picture is faded halfway into it.
void PaintArt(HDC dc, TArt art, int x, int y, COLORREF background, const uint32_t* key, bool disabled) {
    const TArtPixels* art_ = ArtPixels(art);
    if (!art_) return;
    const int n = art_->Size;
    std::vector<uint32_t> bgra(static_cast<size_t>(n * n));
    const uint32_t back[3] = {GetRValue(background), GetGValue(background), GetBValue(background)};
    for (size_t i = 0; i < bgra.size(); ++i) {
        const uint32_t p = art_->Argb[i];
        const uint32_t alpha = key && (p & 0xFFFFFF) == *key ? 0 : p >> 24;
        uint32_t out[3];
        for (int k = 0; k < 3; ++k) {
            const uint32_t channel = (p >> (16 - 8 * k)) & 0xFF;
            out[k] = (channel * alpha + back[k] * (255 - alpha)) / 255;
            if (disabled) out[k] = (out[k] + back[k]) / 2;
        }
        bgra[i] = out[0] << 16 | out[1] << 8 | out[2];
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = n;
    info.bmiHeader.biHeight = -n;  // top row first, as the pixels are
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    ::SetDIBitsToDevice(dc, x, y, static_cast<DWORD>(n), static_cast<DWORD>(n), 0, 0, 0, static_cast<UINT>(n),
                        bgra.data(), &info, DIB_RGB_COLORS);
}


LRESULT CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

// Gives the page's keys to the dialog manager, as a dialog's own loop does: no host's message loop
// knows the page, and Tab and the up-down's arrows need IsDialogMessage. Only the keys themselves:
// the characters they make come back through the host's loop, in the host's character set.
bool IsKey(UINT message) noexcept {
    return message == WM_KEYDOWN || message == WM_KEYUP || message == WM_SYSKEYDOWN || message == WM_SYSKEYUP;
}

LRESULT CALLBACK OnGetMessage(int code, WPARAM removed, LPARAM lParam) noexcept {
    auto* message = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && removed == PM_REMOVE && IsKey(message->message)) {
        HWND root = ::GetAncestor(message->hwnd, GA_ROOT);
        char name[sizeof kWindowClass + 1] = {};
        if (root && ::GetClassNameA(root, name, sizeof name) && std::string_view(name) == kWindowClass &&
            ::IsDialogMessageA(root, message))
            message->message = WM_NULL;
    }
    return ::CallNextHookEx(nullptr, code, removed, lParam);
}

// What the pages of this module share: the window class, the keyboard hook and the fonts, made with
// the first page and gone with the last, so that an unloaded module leaves nothing behind that
// points into its code. Main thread only, as the pages are.
class TPageClass {
public:
    TPageClass() {
        if (FPages++ > 0) return;
        try {
            INITCOMMONCONTROLSEX controls{static_cast<DWORD>(sizeof(controls)), ICC_UPDOWN_CLASS | ICC_BAR_CLASSES};
            ::InitCommonControlsEx(&controls);
            WNDCLASSEXA windowClass{};
            windowClass.cbSize = sizeof(windowClass);
            windowClass.lpfnWndProc = PageProc;
            windowClass.hInstance = ThisModule();
            windowClass.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // the arrow
            windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
            windowClass.lpszClassName = kWindowClass;
            if (!::RegisterClassExA(&windowClass)) RaiseLastError("RegisterClassEx");
            FKeyHook = ::SetWindowsHookExA(WH_GETMESSAGE, OnGetMessage, nullptr, ::GetCurrentThreadId());
            if (!FKeyHook) RaiseLastError("SetWindowsHookEx");
            // The page's 11-pixel type, as on the Qt page.
            FFont = MakeFont(FW_NORMAL);
            FBold = MakeFont(FW_BOLD);
        } catch (...) {
            Release();
            throw;
        }
    }
    ~TPageClass() { Release(); }
    TPageClass(const TPageClass&) = delete;
    TPageClass& operator=(const TPageClass&) = delete;

    HFONT Font(bool bold) const noexcept { return bold ? FBold : FFont; }

private:
    static HFONT MakeFont(LONG weight) {
        HFONT font = ::CreateFontA(-11, 0, 0, 0, weight, 0, 0, 0, ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                   DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "MS Sans Serif");
        if (!font) RaiseLastError("CreateFont");
        return font;
    }
    void Release() noexcept {
        if (--FPages > 0) return;
        if (FKeyHook) ::UnhookWindowsHookEx(FKeyHook);
        if (FFont) ::DeleteObject(FFont);
        if (FBold) ::DeleteObject(FBold);
        ::UnregisterClassA(kWindowClass, ThisModule());
        FKeyHook = nullptr;
        FFont = FBold = nullptr;
    }

    static inline int FPages = 0;
    static inline HHOOK FKeyHook = nullptr;
    static inline HFONT FFont = nullptr, FBold = nullptr;
};

class TfrmPropertyPageWin32 final : public TPropertyPageBase, private TPageView {
public:
    TfrmPropertyPageWin32();
    ~TfrmPropertyPageWin32() override = default;
    TfrmPropertyPageWin32(const TfrmPropertyPageWin32&) = delete;
    TfrmPropertyPageWin32& operator=(const TfrmPropertyPageWin32&) = delete;

    // TPropertyPageBase
    void SetReferences(IZELALL3000* config, IZELInstanceControl* control, IZELVariableManager* variables) override {
        FLogic.SetReferences(config, control, variables);
    }
    void ShowPage() override;
    void HidePage() override { HideWindow(); }
    void Free() noexcept { FLogic.Free(); }

    // The page's own messages and its controls' notifications. May free the page: the window
    // procedure touches nothing of it afterwards.
    LRESULT Receive(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    // TPageView
    std::string Text(int control) const override;
    void SetText(int control, std::string_view text) override;
    int Position(int upDown) const override;
    void SetPosition(int upDown, int value) override;
    void SetEnabled(int control, bool enabled) override { ::EnableWindow(Control(control), enabled); }
    void SetPictureKey(int button, uint32_t rgb) override;
    void HideWindow() noexcept override;
    void Destroy() noexcept override;

    HWND Control(int row) const { return FControls.at(static_cast<size_t>(row)); }
    // The number in the up-down's buddy edit, clamped to the range; none while it holds no digits.
    std::optional<int> Typed(int buddy) const;
    void CreateControls();
    // Sizes a label to its text, as the table asks of rows without a size.
    void FitToText(int row);
    void DrawItem(const DRAWITEMSTRUCT& item) const;

    TPageClass FClass;
    TPageLogic FLogic{*this};
    HWND FWindow = nullptr;
    std::array<HWND, kPageControlCount> FControls{};
    std::array<uint32_t, kPageControlCount> FKeys{};  // a button picture's transparent colour, where FKeyed
    std::array<bool, kPageControlCount> FKeyed{};
    HBRUSH FWhite = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    int FPosition = 0;  // the interval's last number, for when its edit holds none
};

TfrmPropertyPageWin32::TfrmPropertyPageWin32() {
    const TPageControl& page = kPageControls[0];
    // Not WS_CLIPCHILDREN: a group box paints only its frame, the page paints what lies inside it.
    constexpr DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    constexpr DWORD extended = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    RECT frame{0, 0, page.Width, page.Height};
    ::AdjustWindowRectEx(&frame, style, FALSE, extended);
    FWindow = ::CreateWindowExA(extended, kWindowClass, page.Text, style, 0, 0, frame.right - frame.left,
                                frame.bottom - frame.top, nullptr, nullptr, ThisModule(), this);
    if (!FWindow) RaiseLastError("CreateWindowEx");
    try {
        FControls[0] = FWindow;
        ::SetPropA(FWindow, kNameProperty, const_cast<char*>(page.Name));
        CreateControls();
        FLogic.FormCreate();
    } catch (...) {
        ::DestroyWindow(FWindow);
        throw;
    }
}

void TfrmPropertyPageWin32::CreateControls() {
    for (int i = 1; i < kPageControlCount; ++i) {
        const TPageControl& c = kPageControls[i];
        const char* windowClass = WC_STATICA;
        DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
        DWORD extended = 0;
        switch (c.Kind) {
            case TControlKind::Window: throw Exception("the page's window is its first row only");
            case TControlKind::Panel: style |= SS_LEFT; break;  // filled by WM_CTLCOLORSTATIC
            case TControlKind::Picture: style |= SS_OWNERDRAW; break;
            case TControlKind::Label: style |= SS_LEFT | SS_NOPREFIX; break;
            case TControlKind::Line: style |= SS_OWNERDRAW; break;  // an etched static is not kept to its size
            case TControlKind::Group: windowClass = WC_BUTTONA; style |= BS_GROUPBOX; break;
            case TControlKind::Edit:
                windowClass = WC_EDITA;
                extended = WS_EX_CLIENTEDGE;
                style |= ES_AUTOHSCROLL;
                // The up-down's buddy takes its tab stop: the arrows themselves never have the focus.
                if (c.Tab >= 0 || c.Flags & kBuddy) style |= WS_TABSTOP;
                if (c.Flags & kBuddy) style |= ES_NUMBER;
                break;
            case TControlKind::UpDown: windowClass = UPDOWN_CLASSA; style |= UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS; break;
            case TControlKind::Button: windowClass = WC_BUTTONA; style |= BS_OWNERDRAW | WS_TABSTOP; break;
        }
        if (c.Flags & kDisabled) style |= WS_DISABLED;
        const POINT origin = Origin(c);
        HWND control = ::CreateWindowExA(extended, windowClass, c.Text, style, origin.x + c.Left, origin.y + c.Top, c.Width,
                                         c.Height, FWindow, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstId + i)),
                                         ThisModule(), nullptr);
        if (!control) RaiseLastError("CreateWindowEx");
        FControls[static_cast<size_t>(i)] = control;
        ::SetPropA(control, kNameProperty, const_cast<char*>(c.Name));
        ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(FClass.Font((c.Flags & kBold) != 0)), FALSE);
        if (c.Kind == TControlKind::Label) FitToText(i);
        if (c.Kind == TControlKind::UpDown) {
            ::SendMessageA(control, UDM_SETBUDDY, reinterpret_cast<WPARAM>(Control(i - 1)), 0);
            ::SendMessageA(control, UDM_SETRANGE32, 0, kIntervalMax);
        }
    }
    // Children come in creation order, the first on top, which is also the tab order. A panel or a
    // group lies under what it holds, as a parent does: it goes to the bottom, in its own order.
    for (int i = kPageControlCount - 1; i > 0; --i)
        if (kPageControls[i].Kind == TControlKind::Panel || kPageControls[i].Kind == TControlKind::Group)
            ::SetWindowPos(Control(i), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    HWND tips = ::CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, 0, 0, 0,
                                  0, FWindow, nullptr, ThisModule(), nullptr);
    if (!tips) RaiseLastError("CreateWindowEx");
    for (int i = 1; i < kPageControlCount; ++i) {
        if (!kPageControls[i].Hint) continue;
        TTTOOLINFOA tool{};
        tool.cbSize = TTTOOLINFOA_V2_SIZE;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = FWindow;
        tool.uId = reinterpret_cast<UINT_PTR>(Control(i));
        tool.lpszText = const_cast<char*>(kPageControls[i].Hint);
        ::SendMessageA(tips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void TfrmPropertyPageWin32::FitToText(int row) {
    HWND label = Control(row);
    const std::string text = Text(row);
    HDC dc = ::GetDC(label);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageA(label, WM_GETFONT, 0, 0)));
    SIZE size{};
    ::GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(label, dc);
    ::SetWindowPos(label, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TfrmPropertyPageWin32::ShowPage() {
    const bool shown = ::IsWindowVisible(FWindow);
    // Centred on the screen's work area, as the Qt page is on its screen: the host gives no window
    // to centre it on.
    RECT area{}, frame{};
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    ::GetWindowRect(FWindow, &frame);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    ::SetWindowPos(FWindow, HWND_TOP, area.left + std::max(0L, (area.right - area.left - width) / 2),
                   area.top + std::max(0L, (area.bottom - area.top - height) / 2), 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    ::SetForegroundWindow(FWindow);
    // Loaded whenever it comes up, as the Qt page does on its show event.
    if (!shown) FLogic.FormShow();
}

void TfrmPropertyPageWin32::HideWindow() noexcept {
    ::ShowWindow(FWindow, SW_HIDE);
    FLogic.Hidden();
}

void TfrmPropertyPageWin32::Destroy() noexcept {
    // At once, even inside one of the page's own handlers (the logic defers it to the handler's
    // end, and the window procedure touches nothing afterwards): a window left for later could
    // outlive the module's code.
    if (FWindow) ::DestroyWindow(FWindow);
    delete this;
}

std::string TfrmPropertyPageWin32::Text(int control) const {
    HWND w = Control(control);
    std::string text(static_cast<size_t>(::GetWindowTextLengthA(w)) + 1, '\0');
    text.resize(static_cast<size_t>(::GetWindowTextA(w, text.data(), static_cast<int>(text.size()))));
    return text;
}

void TfrmPropertyPageWin32::SetText(int control, std::string_view text) {
    ::SetWindowTextA(Control(control), std::string(text).c_str());
    if (kPageControls[control].Kind == TControlKind::Label) FitToText(control);
}

std::optional<int> TfrmPropertyPageWin32::Typed(int buddy) const {
    const std::string digits = Text(buddy);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    int value = 0;
    for (const char d : digits) value = std::min(value * 10 + (d - '0'), kIntervalMax);
    return value;
}

int TfrmPropertyPageWin32::Position(int upDown) const {
    // The buddy's digits, clamped to the range; while it holds no number, the last one it held.
    return Typed(upDown - 1).value_or(FPosition);
}

void TfrmPropertyPageWin32::SetPosition(int upDown, int value) {
    FPosition = value;
    ::SendMessageA(Control(upDown), UDM_SETPOS32, 0, value);
}

void TfrmPropertyPageWin32::SetPictureKey(int button, uint32_t rgb) {
    FKeys.at(static_cast<size_t>(button)) = rgb;
    FKeyed.at(static_cast<size_t>(button)) = true;
    ::InvalidateRect(Control(button), nullptr, TRUE);
}

void TfrmPropertyPageWin32::DrawItem(const DRAWITEMSTRUCT& item) const {
    const int row = Row(item.hwndItem);
    if (row <= 0 || row >= kPageControlCount) return;
    const TPageControl& c = kPageControls[row];
    HDC dc = item.hDC;
    const RECT& r = item.rcItem;
    const COLORREF face = OnHeader(row) ? RGB(255, 255, 255) : ::GetSysColor(COLOR_BTNFACE);
    ::FillRect(dc, &r, OnHeader(row) ? FWhite : ::GetSysColorBrush(COLOR_BTNFACE));
    const uint32_t* key = FKeyed[static_cast<size_t>(row)] ? &FKeys[static_cast<size_t>(row)] : nullptr;
    if (c.Kind == TControlKind::Picture) {
        PaintArt(dc, c.Art, r.left, r.top, face, key, false);
        return;
    }
    if (c.Kind == TControlKind::Line) {
        RECT line = r;
        ::DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
        return;
    }
    // A flat button: its edge shows only while it is pressed; the picture and the text centred together.
    const bool pressed = item.itemState & ODS_SELECTED, disabled = item.itemState & ODS_DISABLED;
    if (pressed) {
        RECT edge = r;
        ::DrawEdge(dc, &edge, EDGE_SUNKEN, BF_RECT);
    }
    const std::string text = Text(row);
    SIZE size{};
    ::GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    const int art = ArtPixels(c.Art) ? ArtPixels(c.Art)->Size : 0;
    const int width = art + (text.empty() ? 0 : kPictureGap + size.cx);
    const int shift = pressed ? 1 : 0;
    const int x = r.left + (r.right - r.left - width) / 2 + shift;
    PaintArt(dc, c.Art, x, r.top + (r.bottom - r.top - art) / 2 + shift, face, key, disabled);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
    ::TextOutA(dc, x + art + kPictureGap, r.top + (r.bottom - r.top - size.cy) / 2 + shift, text.c_str(),
               static_cast<int>(text.size()));
    if (item.itemState & ODS_FOCUS) {
        RECT focus = r;
        ::InflateRect(&focus, -3, -3);
        ::DrawFocusRect(dc, &focus);
    }
}

LRESULT TfrmPropertyPageWin32::Receive(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wParam) == EN_CHANGE && lParam) {
                const int row = Row(reinterpret_cast<HWND>(lParam));
                if (row > 0 && row < kPageControlCount && kPageControls[row].Flags & kBuddy)
                    FPosition = Typed(row).value_or(FPosition);
                return 0;
            }
            if (HIWORD(wParam) == BN_CLICKED && lParam) {
                const int row = Row(reinterpret_cast<HWND>(lParam));
                if (row > 0 && row < kPageControlCount) FLogic.Click(row);  // may free the page
                return 0;
            }
            break;
        case WM_DRAWITEM:
            DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_CTLCOLORSTATIC: {
            // The header panel and what lies on it are white.
            const int row = Row(reinterpret_cast<HWND>(lParam));
            if (row > 0 && row < kPageControlCount && (OnHeader(row) || kPageControls[row].Kind == TControlKind::Panel)) {
                ::SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
                return reinterpret_cast<LRESULT>(FWhite);
            }
            break;
        }
        case WM_CLOSE:
            // As the Qt page's close: hidden, not destroyed. Letting go of the instance may end it,
            // which frees the page once this handler is done.
            FLogic.Guard([this](IZELALL3000*) { HideWindow(); });
            return 0;
        case WM_DESTROY:
            // The names go before the windows do, as properties must.
            for (HWND control : FControls)
                if (control) ::RemovePropA(control, kNameProperty);
            break;
        case WM_NCDESTROY:
            // Gone, by Destroy or under the page (the system ends a thread's windows with it).
            FWindow = nullptr;
            FControls.fill(nullptr);
            ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
            return 0;
        default:
            break;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == WM_NCCREATE)
        ::SetWindowLongPtrA(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
    auto* page = reinterpret_cast<TfrmPropertyPageWin32*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!page) return ::DefWindowProcA(window, message, wParam, lParam);
    try {
        return page->Receive(window, message, wParam, lParam);
    } catch (...) {
        // Nothing may unwind through the system's frames; the handlers report their own failures.
        return 0;
    }
}

}  // namespace

void RegisterPropertyPage() noexcept {
    SetPropertyPageFactory({[]() -> TPropertyPageBase* { return new TfrmPropertyPageWin32(); },
                            [](TPropertyPageBase* page) noexcept { static_cast<TfrmPropertyPageWin32*>(page)->Free(); }});
}

}  // namespace zel
