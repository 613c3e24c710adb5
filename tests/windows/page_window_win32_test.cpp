// zelhost.exe's side of the page, against a stand-in made here: a top-level window and controls
// named as the module names its own, the page and its owner-drawn button each in a colour of its own.
#include <gtest/gtest.h>

#include <windows.h>
#undef E_FAIL
#undef E_NOINTERFACE
#undef E_NOTIMPL
#undef MessageBox
#undef S_OK

#include <filesystem>
#include <thread>
#include <tuple>

#include "DecodePng.h"
#include "PageWindowWin32.h"
#include "Toolkit.h"

using namespace zelhost;

namespace {

constexpr COLORREF kPageColour = RGB(0x20, 0x80, 0xC0);
constexpr COLORREF kButtonColour = RGB(0xF0, 0x40, 0x10);
int gClicks = 0;

// Counts the button's clicks and paints it; the class's brush paints the page.
LRESULT CALLBACK StandInProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) ++gClicks;
    if (message != WM_DRAWITEM) return ::DefWindowProcA(window, message, wParam, lParam);
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    ::SetDCBrushColor(item->hDC, kButtonColour);
    return ::FillRect(item->hDC, &item->rcItem, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
}

// A borderless 200 × 120 page at x, y (RECTs here are left, top, width, height) with a button and an
// unshown label, and another named window of the thread.
struct TStandIn {
    TStandIn(int x, int y) {
        static const WNDCLASSA kClass{0, StandInProc, 0, 0, nullptr, nullptr, nullptr, ::CreateSolidBrush(kPageColour),
                                      nullptr, "ZelTestPage"};
        static const ATOM kAtom = ::RegisterClassA(&kClass);
        const auto make = [](const char* name, LPCSTR cls, DWORD style, RECT r, HWND parent) {
            HWND window =
                ::CreateWindowExA(0, cls, "", style, r.left, r.top, r.right, r.bottom, parent, nullptr, nullptr, nullptr);
            ::SetPropA(window, kNameProperty, const_cast<char*>(name));
            return window;
        };
        Other = make("frmOther", MAKEINTATOM(kAtom), WS_POPUP, {0, 0, 10, 10}, nullptr);
        Page = make(kPageName, MAKEINTATOM(kAtom), WS_POPUP | WS_VISIBLE, {x, y, 200, 120}, nullptr);
        Button = make("btnGo", "BUTTON", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, {10, 10, 60, 30}, Page);
        Label = make("lblName", "STATIC", WS_CHILD, {10, 50, 60, 20}, Page);
    }
    ~TStandIn() {
        ::DestroyWindow(Page);
        ::DestroyWindow(Other);
    }
    HWND Other, Page, Button, Label;
};

}  // namespace

TEST(PageWindowWin32, FindsThisThreadsPageAndItsControlsByName) {
    TStandIn s(100, 100);
    EXPECT_EQ(FindPage(), s.Page);
    HWND elsewhere = s.Page;
    std::thread([&] { elsewhere = FindPage(); }).join();
    EXPECT_EQ(elsewhere, nullptr);
    // name | the control found (FindButton is checked through the screenshot's clicks)
    const std::pair<const char*, HWND> cases[] = {
        {"btnGo", s.Button}, {"lblName", s.Label}, {"btnNope", nullptr}, {"btn", nullptr}, {kPageName, nullptr}};
    for (const auto& [name, control] : cases) EXPECT_EQ(FindControl(s.Page, name), control) << name;
}

TEST(PageWindowWin32, ScreenshotClicksTheButtonAndWritesThePagesOwnPixels) {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));  // for the decoder
    TEventPrinter events(false, [](std::string_view) {});
    auto toolkit = MakeToolkit(events);
    const std::string file = (std::filesystem::temp_directory_path() / "zelhost-page-test.png").string();
    // where the page lies (-50, 700: partly off the 1024 × 768 screen) | button | exit code | clicks
    const struct { int x, y; const char* click; int code, clicks; } cases[] = {
        {100, 100, "", 0, 0}, {-50, 700, "btnGo", 0, 1}, {100, 100, "lblName", 1, 0}, {100, 100, "btnNope", 1, 0}};
    for (const auto& c : cases) {
        TStandIn s(c.x, c.y);
        gClicks = 0;
        std::filesystem::remove(file);
        toolkit->ScreenshotPage(file, c.click);
        EXPECT_EQ(toolkit->Run(), c.code) << c.click;
        EXPECT_EQ(gClicks, c.clicks) << c.click;
        UINT width = 0, height = 0;
        const std::string pixels = DecodedPixels(file, width, height);
        ASSERT_EQ(pixels.empty(), c.code != 0) << c.click;
        if (pixels.empty()) continue;
        EXPECT_EQ(width, 200u);
        EXPECT_EQ(height, 120u);
        // pixel x, y | its colour: the page's corners and middle, the button
        for (const auto& [x, y, colour] : {std::tuple<UINT, UINT, COLORREF>{0, 0, kPageColour}, {100, 60, kPageColour},
                                           {199, 119, kPageColour}, {40, 25, kButtonColour}}) {
            const auto* p = reinterpret_cast<const BYTE*>(pixels.data()) + (y * width + x) * 3;
            EXPECT_EQ(RGB(p[2], p[1], p[0]), colour) << c.click << " at " << x << "," << y;
        }
    }
    std::filesystem::remove(file);
    ::CoUninitialize();
}
