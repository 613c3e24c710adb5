// zelhost.exe's side of the page, against a stand-in made here: a top-level window and its controls
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

#include "DecodePng.h"
#include "PageWindowWin32.h"
#include "Toolkit.h"

using namespace zelhost;

namespace {

constexpr COLORREF kPageColour = RGB(0x20, 0x80, 0xC0);
constexpr COLORREF kButtonColour = RGB(0xF0, 0x40, 0x10);
constexpr int kWidth = 200;
constexpr int kHeight = 120;
int gClicks = 0;

// Counts the button's clicks and paints it in its colour; the page's class paints the page.
LRESULT CALLBACK StandInProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) ++gClicks;
    if (message != WM_DRAWITEM) return ::DefWindowProcA(window, message, wParam, lParam);
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    HBRUSH brush = ::CreateSolidBrush(kButtonColour);
    ::FillRect(item->hDC, &item->rcItem, brush);
    ::DeleteObject(brush);
    return TRUE;
}

// Names `window` as the module names its windows.
HWND Named(HWND window, const char* name) {
    ::SetPropA(window, kNameProperty, const_cast<char*>(name));
    return window;
}

// A borderless page of kWidth × kHeight at x, y, with a button and an unshown label, beside another
// named window of the thread.
struct TStandIn {
    TStandIn(int x, int y) {
        static const ATOM kClass = [] {
            WNDCLASSA c{};
            c.lpfnWndProc = StandInProc;
            c.hbrBackground = ::CreateSolidBrush(kPageColour);
            c.lpszClassName = "ZelTestPage";
            return ::RegisterClassA(&c);
        }();
        const auto make = [](const char* cls, DWORD style, int l, int t, int w, int h, HWND parent) {
            return ::CreateWindowExA(0, cls, "", style, l, t, w, h, parent, nullptr, nullptr, nullptr);
        };
        Other = Named(make(MAKEINTATOM(kClass), WS_POPUP, 0, 0, 10, 10, nullptr), "frmOther");
        Page = Named(make(MAKEINTATOM(kClass), WS_POPUP | WS_VISIBLE, x, y, kWidth, kHeight, nullptr), kPageName);
        Button = Named(make("BUTTON", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 10, 10, 60, 30, Page), "btnGo");
        Label = Named(make("STATIC", WS_CHILD, 10, 50, 60, 20, Page), "lblName");
    }
    ~TStandIn() {
        ::DestroyWindow(Page);
        ::DestroyWindow(Other);
    }
    HWND Other, Page, Button, Label;
};

// The pixel at x, y of DecodedPixels' rows.
COLORREF PixelAt(const std::string& pixels, UINT width, UINT x, UINT y) {
    const auto* p = reinterpret_cast<const BYTE*>(pixels.data()) + (y * width + x) * 3;
    return RGB(p[2], p[1], p[0]);
}

}  // namespace

TEST(PageWindowWin32, FindsThisThreadsPageAndItsControlsByName) {
    TStandIn s(100, 100);
    EXPECT_EQ(FindPage(), s.Page);
    HWND elsewhere = s.Page;
    std::thread([&] { elsewhere = FindPage(); }).join();
    EXPECT_EQ(elsewhere, nullptr);
    // name | FindControl | FindButton
    const struct { const char* name; HWND control; HWND button; } cases[] = {
        {"btnGo", s.Button, s.Button},
        {"lblName", s.Label, nullptr},  // found though not shown, but no button
        {"btnNope", nullptr, nullptr},
        {"btn", nullptr, nullptr},
        {kPageName, nullptr, nullptr},  // the page is not below itself
        {"frmOther", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindControl(s.Page, c.name), c.control) << c.name;
        EXPECT_EQ(FindButton(s.Page, c.name), c.button) << c.name;
    }
}

TEST(PageWindowWin32, ScreenshotClicksTheButtonAndWritesThePagesOwnPixels) {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));  // for the decoder
    TEventPrinter events(false, [](std::string_view) {});
    auto toolkit = MakeToolkit(events);
    const std::string file = (std::filesystem::temp_directory_path() / "zelhost-page-test.png").string();
    // where the page lies | the button clicked | exit code | clicks seen
    const struct { int x; int y; const char* click; int code; int clicks; } cases[] = {
        {100, 100, "", 0, 0},
        {-50, 700, "btnGo", 0, 1},  // partly off the 1024 × 768 screen
        {100, 100, "lblName", 1, 0},
        {100, 100, "btnNope", 1, 0},
    };
    for (const auto& c : cases) {
        TStandIn s(c.x, c.y);
        gClicks = 0;
        std::filesystem::remove(file);
        toolkit->ScreenshotPage(file, c.click);
        EXPECT_EQ(toolkit->Run(), c.code) << c.click;
        EXPECT_EQ(gClicks, c.clicks) << c.click;
        UINT width = 0;
        UINT height = 0;
        const std::string pixels = DecodedPixels(file, width, height);
        ASSERT_EQ(pixels.empty(), c.code != 0) << c.click;
        if (pixels.empty()) continue;
        EXPECT_EQ(width, static_cast<UINT>(kWidth));
        EXPECT_EQ(height, static_cast<UINT>(kHeight));
        EXPECT_EQ(PixelAt(pixels, width, 40, 25), kButtonColour) << c.click;
        for (const auto& [x, y] : {std::pair<UINT, UINT>{0, 0}, {100, 60}, {kWidth - 1, kHeight - 1}})
            EXPECT_EQ(PixelAt(pixels, width, x, y), kPageColour) << c.click << " at " << x << "," << y;
    }
    std::filesystem::remove(file);
    ::CoUninitialize();
}

TEST(PageWindowWin32, QuitWhenPageClosesWaitsForThePageToBeHidden) {
    TEventPrinter events(false, [](std::string_view) {});
    auto toolkit = MakeToolkit(events);
    TStandIn s(100, 100);
    bool hidden = false;
    toolkit->QuitWhenPageCloses();
    std::thread hider([&] {
        ::Sleep(300);  // past a look or two of the watch
        toolkit->Post([&] { hidden = ::ShowWindow(s.Page, SW_HIDE); });
    });
    EXPECT_EQ(toolkit->Run(), 0);
    hider.join();
    EXPECT_TRUE(hidden);
    EXPECT_TRUE(toolkit->HasPage());
}
