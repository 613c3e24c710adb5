// The Win32 page read back from its live windows against the control table, and driven as a user
// would (BM_CLICK, typed text) over a real instance whose host is the tests' recording fake.
#include <windows.h>
#include <commctrl.h>
#undef E_FAIL
#undef E_NOINTERFACE
#undef E_NOTIMPL
#undef S_OK

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "FakeHost.h"
#include "Held.h"
#include "PageCases.h"
#include "device/PropertyPage.h"
#include "ui/PageArtPixels.h"
#include "ui/PageLayout.h"
#include "ui/RegisterPage.h"

using namespace zel;
using namespace zel::test;

namespace {

constexpr uint16_t kId = 3;

const char* NameOf(HWND w) { return static_cast<const char*>(::GetPropA(w, "ZELName")); }

BOOL CALLBACK KeepPage(HWND w, LPARAM into) {
    if (NameOf(w) && std::string_view(NameOf(w)) == "frmPropertyPage") *reinterpret_cast<HWND*>(into) = w;
    return TRUE;
}

HWND FindPage() {
    HWND found = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), KeepPage, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND Get(HWND page, const char* name) { return ::GetDlgItem(page, 100 + PageControl(name)); }

std::string Text(HWND w) {
    char text[256] = {};
    return std::string(text, static_cast<size_t>(::GetWindowTextA(w, text, sizeof text)));
}

// The window's place in the page's client area.
RECT Place(HWND page, HWND w) {
    RECT r{};
    ::GetWindowRect(w, &r);
    ::MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

SIZE TextExtent(HWND w) {
    const std::string text = Text(w);
    HDC dc = ::GetDC(w);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageA(w, WM_GETFONT, 0, 0)));
    SIZE size{};
    ::GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(w, dc);
    return size;
}

void Configure(FakeHost& host, int32_t interval, const std::vector<std::string>& bindings) {
    host.settings.strings[FakeSettings::Key(kId, "Settings/IPAddress")] = "127.0.0.1:9";
    host.settings.integers[FakeSettings::Key(kId, "Settings/Interval")] = interval;
    host.BindInputs(kId, bindings);
}

// An instance with its page shown, as a host shows it.
struct TShown {
    FakeHost host;
    std::optional<Held<>> inst;
    IZELALL3000* config = nullptr;  // the test's reference
    HWND page = nullptr;
    TShown(int32_t interval, const std::vector<std::string>& bindings, FakeSelector* selector = nullptr) {
        Configure(host, interval, bindings);
        host.control.selector = selector;
        inst.emplace(host, kId);
        config = ConfigOf(inst->Module());
        RegisterPropertyPage();
        EXPECT_EQ(config->ShowPropertyPage(), S_OK);
        page = FindPage();
    }
    ~TShown() {
        if (!config) return;
        config->HidePropertyPage();
        config->Release();
    }
    HWND operator[](const char* name) const { return Get(page, name); }
    HWND operator()(const char* prefix, int input) const { return ::GetDlgItem(page, 100 + PageControl(prefix, input)); }
    void Click(const char* name) const { ::SendMessageA(Get(page, name), BM_CLICK, 0, 0); }
    TZELALL3000Settings Stored() const {
        TZELALL3000Settings c;
        config->GetConfiguration(c);
        return c;
    }
};

}  // namespace

TEST(PageWin32, TheLiveWindowsAreTheTable) {
    ASSERT_EQ(::GetACP(), 1252u) << "the page's texts are Windows-1252: run with LC_ALL=C or an en_US locale";
    RegisterPropertyPage();
    TPropertyPageBase* view = PropertyPageFactory().Create();
    HWND page = FindPage();
    ASSERT_NE(page, nullptr);
    RECT client{};
    ::GetClientRect(page, &client);
    EXPECT_EQ(client.right, 443);
    EXPECT_EQ(client.bottom, 689);
    EXPECT_EQ(Text(page), "ALL3000 - Configuration");
    HWND tips = ::FindWindowExA(nullptr, nullptr, TOOLTIPS_CLASSA, nullptr);
    for (int i = 1; i < kPageControlCount; ++i) {
        const TPageControl& c = kPageControls[i];
        HWND w = ::GetDlgItem(page, 100 + i);
        ASSERT_NE(w, nullptr) << c.Name;
        EXPECT_STREQ(NameOf(w), c.Name);
        const RECT r = Place(page, w);
        const int parent = PageControl(c.Parent);
        const RECT origin = parent ? Place(page, ::GetDlgItem(page, 100 + parent)) : RECT{};
        EXPECT_EQ(r.left - origin.left, c.Left) << c.Name;
        EXPECT_EQ(r.top - origin.top, c.Top) << c.Name;
        const SIZE size = c.Kind == TControlKind::Label ? TextExtent(w) : SIZE{c.Width, c.Height};
        EXPECT_GT(size.cx * size.cy, 0) << c.Name;
        EXPECT_EQ(r.right - r.left, size.cx) << c.Name;
        EXPECT_EQ(r.bottom - r.top, size.cy) << c.Name;
        if (c.Kind != TControlKind::UpDown) {
            EXPECT_EQ(Text(w), c.Text) << c.Name;
        }
        EXPECT_EQ(::IsWindowEnabled(w), !(c.Flags & kDisabled)) << c.Name;
        if (c.Kind == TControlKind::Edit) {  // the interval takes digits only
            EXPECT_EQ((::GetWindowLongA(w, GWL_STYLE) & ES_NUMBER) != 0, (c.Flags & kBuddy) != 0) << c.Name;
        }
        char hint[64] = {};
        TTTOOLINFOA tool{TTTOOLINFOA_V2_SIZE, 0, page, reinterpret_cast<UINT_PTR>(w), {}, nullptr, hint, 0, nullptr};
        ::SendMessageA(tips, TTM_GETTEXTA, sizeof hint, reinterpret_cast<LPARAM>(&tool));
        EXPECT_STREQ(hint, c.Hint ? c.Hint : "") << c.Name;
    }
    int low = -1, high = -1;
    ::SendMessageA(Get(page, "udInterval"), UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low), reinterpret_cast<LPARAM>(&high));
    EXPECT_EQ(std::pair(low, high), std::pair(0, 32000));
    EXPECT_EQ(reinterpret_cast<HWND>(::SendMessageA(Get(page, "udInterval"), UDM_GETBUDDY, 0, 0)), Get(page, "edInterval"));
    // The panel and the groups lie under what they hold, the header panel lowest.
    HWND under = ::GetWindow(Get(page, "pTop"), GW_HWNDLAST);
    for (const char* name : {"pTop", "GroupBox1", "GroupBox2", "GroupBox3"}) {
        EXPECT_STREQ(NameOf(under), name);
        under = ::GetWindow(under, GW_HWNDPREV);
    }
    // The walk Tab makes; the up-down's stop is its edit.
    std::vector<std::string> order;
    HWND at = Get(page, "edIPAdress");
    for (size_t i = 0; i < kTabOrder.size(); ++i, at = ::GetNextDlgTabItem(page, at, FALSE))
        order.push_back(at == Get(page, "edInterval") ? "udInterval" : NameOf(at));
    EXPECT_EQ(order, std::vector<std::string>(kTabOrder.begin(), kTabOrder.end()));
    EXPECT_EQ(at, Get(page, "edIPAdress"));  // and round again

    PropertyPageFactory().Free(view);
    EXPECT_FALSE(::IsWindow(page));
    WNDCLASSEXA unregistered{};
    unregistered.cbSize = sizeof unregistered;
    EXPECT_FALSE(::GetClassInfoExA(::GetModuleHandleA(nullptr), "ZELPropertyPage", &unregistered));  // with the last page
}

TEST(PageWin32, ShowsAppliesAndClampsTheInterval) {
    // stored interval | shown | typed, one text after the other | applied (the last number when none is typed)
    const struct { int stored, shown; std::vector<const char*> typed; int applied; } cases[] = {
        {300, 300, {"45"}, 45}, {40000, 32000, {"40000"}, 32000}, {-5, 0, {"007"}, 7}, {65536 + 10, 32000, {""}, 32000},
        {10, 10, {"1", ""}, 1},
    };
    for (const auto& c : cases) {
        TShown p(c.stored, {"Inside\xb0:1"});
        ASSERT_NE(p.page, nullptr);
        EXPECT_EQ(Text(p["edInterval"]), std::to_string(c.shown));
        ::SetWindowTextA(p["edIPAdress"], "127.0.0.1:8");
        for (const char* typed : c.typed) ::SetWindowTextA(p["edInterval"], typed);
        p.Click("btnApply");
        EXPECT_TRUE(::IsWindowVisible(p.page));  // only OK hides
        EXPECT_EQ(p.Stored().Interval, c.applied) << c.stored;
        EXPECT_EQ(p.Stored().IPAddress.Str(), "127.0.0.1:8");
        EXPECT_EQ(p.Stored().Devices[0].VarName.Str(), "Inside\xb0");
    }
    TShown p(10, {"Inside:1", "Door:4", "Hidden:0", "", "", "", "", "Odd:132"});
    // input | type label | field | button enabled
    const struct { int input; const char* type; const char* field; bool enabled; } rows[] = {
        {0, "Temperature", "Inside", true}, {1, "Switch", "Door", true}, {2, "Unknown", "", false}, {7, "Switch", "Odd", true}};
    for (const auto& r : rows) {
        EXPECT_EQ(Text(p("lblSensor", r.input)), r.type) << r.input;
        const RECT label = Place(p.page, p("lblSensor", r.input));
        EXPECT_EQ(label.right - label.left, TextExtent(p("lblSensor", r.input)).cx) << r.input;  // refitted
        EXPECT_EQ(Text(p("edStatus", r.input)), r.field) << r.input;
        EXPECT_EQ(::IsWindowEnabled(p("btnSelectVar", r.input)), r.enabled) << r.input;
    }
    // As painted: the header white, its picture pixel for pixel.
    ::RedrawWindow(p.page, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    HDC dc = ::GetDC(p.page);
    const RECT image = Place(p.page, p["Image1"]), label = Place(p.page, p["Label1"]);
    EXPECT_EQ(::GetPixel(dc, label.left, label.top), RGB(255, 255, 255));
    const TArtPixels* box = ArtPixels(TArt::Box);
    for (int i = 0; i < box->Size * box->Size; ++i) {
        const uint32_t argb = box->Argb[i];
        ASSERT_EQ(::GetPixel(dc, image.left + i % box->Size, image.top + i / box->Size),
                  RGB(argb >> 16 & 0xFF, argb >> 8 & 0xFF, argb & 0xFF)) << i;
    }
    // button | colour | whether its picture shows any: OK's green keyed out, a disabled picture faded
    const struct { HWND button; COLORREF colour; bool shown; } buttons[] = {{p["btnOK"], RGB(0, 255, 0), false},
        {p("btnSelectVar", 2), RGB(192, 192, 192), false}, {p("btnSelectVar", 0), RGB(192, 192, 192), true}};
    for (const auto& b : buttons) {
        const RECT r = Place(p.page, b.button);
        int n = 0;
        for (int x = r.left; x < r.right; ++x)
            for (int y = r.top; y < r.bottom; ++y) n += ::GetPixel(dc, x, y) == b.colour;
        EXPECT_EQ(n > 0, b.shown) << NameOf(b.button);
    }
    ::ReleaseDC(p.page, dc);
    ::SetWindowTextA(p["edStatus0"], "Gate");  // as the selector sets it
    EXPECT_EQ(p.config->GetRefCount(), 3);  // the host's, the test's and the shown page's
    p.Click("btnOK");
    EXPECT_FALSE(::IsWindowVisible(p.page));
    EXPECT_EQ(p.config->GetRefCount(), 2);  // hidden, the page let go of the instance
    EXPECT_EQ(p.Stored().Devices[0].VarName.Str(), "Gate");
}

// The module's box, closed once it is up, with its text kept.
std::string GBoxText;
LRESULT CALLBACK CloseBox(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_INITDIALOG && ::GetDlgItem(call->hwnd, 0xFFFF)) {
        GBoxText = Text(::GetDlgItem(call->hwnd, 0xFFFF));
        ::PostMessageA(call->hwnd, WM_COMMAND, IDOK, 0);
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(PageWin32, SelectionDetectionAndUpdate) {
    FakeSelector selector;
    TShown p(10, {"Inside:1", "Door:4"}, &selector);
    // Tab moves on through any message loop, as in a dialog.
    ::SetFocus(p["edIPAdress"]);
    ::PostMessageA(p["edIPAdress"], WM_KEYDOWN, VK_TAB, 0);
    for (MSG m{}; ::PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE);) ::DispatchMessageA(&m);
    EXPECT_EQ(::GetFocus(), p["btnUpdateNow"]);
    selector.answer = "Garden\xe4";
    p.Click("btnSelectVar1");
    EXPECT_EQ(Text(p["edStatus1"]), "Garden\xe4");
    selector.answer.reset();  // cancelled
    p.Click("btnSelectVar0");
    EXPECT_EQ(Text(p["edStatus0"]), "Inside");
    EXPECT_EQ(selector.kinds, (std::vector<int>{1, 4}));

    ::SetWindowTextA(p["edIPAdress"], "127.0.0.1:1");  // not applied: detection asks the stored port 9
    HHOOK hook = ::SetWindowsHookExA(WH_CALLWNDPROCRET, CloseBox, nullptr, ::GetCurrentThreadId());
    p.Click("btnDeviceSetup");
    ::UnhookWindowsHookEx(hook);
    EXPECT_EQ(GBoxText, "Error Reading Configuration! Please check IP-Adress");
    EXPECT_EQ(Text(p["edIPAdress"]), "127.0.0.1:9");  // reloaded
    EXPECT_TRUE(::IsWindowEnabled(p.page));  // the box gave its owner back
    p.Click("btnUpdateNow");
    EXPECT_EQ(std::count(p.host.debug.texts.begin(), p.host.debug.texts.end(), "Updating..."), 1);
}

TEST(PageWin32, FreedOnlyOnceTheRunningHandlerEnds) {
    FakeSelector selector;
    TShown p(10, {"Inside:1"}, &selector);
    selector.answer = "X";
    bool aliveWhileOpen = false;
    // While the selector is open the host hides the page and lets go of the instance.
    selector.whileOpen = [&] {
        p.config->HidePropertyPage();
        std::exchange(p.config, nullptr)->Release();
        p.inst->Release();
        aliveWhileOpen = ::IsWindow(p.page);
    };
    p.Click("btnSelectVar0");
    EXPECT_TRUE(aliveWhileOpen);
    EXPECT_FALSE(::IsWindow(p.page));  // freed as the handler ended
    EXPECT_EQ(p.host.kernel.log.back().text, "Interface Destroy");

    // Released while its page is shown, the instance ends when the user closes the page.
    TShown q(10, {"A:1"});
    std::exchange(q.config, nullptr)->Release();
    q.inst->Release();
    EXPECT_EQ(q.host.kernel.log.back().text, "Interface Create");
    ::SendMessageA(q.page, WM_CLOSE, 0, 0);
    EXPECT_FALSE(::IsWindow(q.page));
    EXPECT_EQ(q.host.kernel.log.back().text, "Interface Destroy");
}
