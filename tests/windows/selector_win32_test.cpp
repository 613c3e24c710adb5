// The variable selector's Win32 dialog, run through the rows the Qt dialog's test runs: a timer
// that fires inside the dialog's modal loop finds it, types the filter, and picks or cancels, as a
// user would. The host's message-box watch is on throughout, as in zelhost.exe.
#include <gtest/gtest.h>

#include <windows.h>
#undef E_FAIL
#undef E_NOINTERFACE
#undef E_NOTIMPL
#undef MessageBox
#undef S_OK

#include <cstdlib>
#include <string_view>

#include "SelectorCases.h"
#include "Toolkit.h"
#include "VariableSelector.h"

using namespace zelhost;

namespace {

// What the timer does with the dialog once it is open, and what it saw there.
struct TDriver {
    const selector_cases::TCase* Case = nullptr;  // none: cancel at once
    int Opened = 0;
    int Visible = -1;
};
TDriver gDriver;

std::wstring Wide1252(const std::string& bytes) {
    std::wstring wide(bytes.size(), L'\0');
    const int size = ::MultiByteToWideChar(1252, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(),
                                           static_cast<int>(wide.size()));
    wide.resize(static_cast<size_t>(size));
    return wide;
}

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
    char name[16] = {};
    if (!::IsWindowVisible(window) || !::GetClassNameA(window, name, sizeof name) || std::string_view(name) != "#32770")
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

void Command(HWND dialog, int id, int code, HWND control) {
    ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(control));
}

void Drive(HWND dialog) {
    HWND filter = ::FindWindowExA(dialog, nullptr, "Edit", nullptr);
    HWND list = ::FindWindowExA(dialog, nullptr, "ListBox", nullptr);
    if (const selector_cases::TCase* c = gDriver.Case) {
        ::SetWindowTextW(filter, Wide1252(c->Filter).c_str());  // as typed: the edit notifies its change
        gDriver.Visible = static_cast<int>(::SendMessageW(list, LB_GETCOUNT, 0, 0));
        if (c->Row >= 0) ::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(c->Row), 0);
        if (c->How == 'D') Command(dialog, ::GetDlgCtrlID(list), LBN_DBLCLK, list);
        if (c->How == 'A') Command(dialog, IDOK, BN_CLICKED, ::GetDlgItem(dialog, IDOK));
    }
    // 'R', or an answer that did not end the dialog (which hides it at once).
    if (::IsWindowVisible(dialog)) Command(dialog, IDCANCEL, BN_CLICKED, ::GetDlgItem(dialog, IDCANCEL));
}

void CALLBACK OnTimer(HWND, UINT, UINT_PTR timer, DWORD) noexcept {
    HWND dialog = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog) return;  // not shown yet: the next tick
    ::KillTimer(nullptr, timer);
    ++gDriver.Opened;
    try {
        Drive(dialog);
    } catch (...) {
        // Nothing may unwind through the modal loop; the missing answer fails the case.
    }
}

// The selector's answer with the driver armed for `driven`.
zel::HRESULT Choose(const selector_cases::TCase* driven, uint8_t kind, std::string& chosen) {
    gDriver = TDriver{};
    gDriver.Case = driven;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 10, OnTimer);
    chosen.clear();
    const zel::HRESULT result = DefaultVariableChooser(kind, selector_cases::kNames, chosen);
    ::KillTimer(nullptr, timer);
    return result;
}

// A toolkit whose watch answers every message box, as for a run whose input is no console.
std::unique_ptr<TToolkit> UnattendedToolkit(TEventPrinter& events) {
    HANDLE pipeRead = nullptr;
    HANDLE pipeWrite = nullptr;
    if (!::CreatePipe(&pipeRead, &pipeWrite, nullptr, 0)) return nullptr;
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    ::SetStdHandle(STD_INPUT_HANDLE, pipeRead);
    auto toolkit = MakeToolkit(events);
    ::SetStdHandle(STD_INPUT_HANDLE, input);
    ::CloseHandle(pipeRead);
    ::CloseHandle(pipeWrite);
    return toolkit;
}

}  // namespace

TEST(SelectorWin32, FiltersChoosesAndCancels) {
    ASSERT_EQ(::_putenv("ZELHOST_SELECT="), 0);  // removes it
    std::vector<std::string> lines;
    TEventPrinter events(false, [&](std::string_view line) { lines.emplace_back(line); });
    auto toolkit = UnattendedToolkit(events);
    ASSERT_TRUE(toolkit);
    std::string chosen;
    for (const selector_cases::TCase& c : selector_cases::kCases) {
        EXPECT_EQ(Choose(&c, zel::VariableKindFloat, chosen), c.Result) << c.Filter;
        EXPECT_EQ(chosen, c.Chosen) << c.Filter;
        EXPECT_EQ(gDriver.Opened, 1) << c.Filter;
        EXPECT_EQ(gDriver.Visible, c.Visible) << c.Filter;
    }
    EXPECT_EQ(lines, std::vector<std::string>{}) << "the selector was taken for a message box";
}

TEST(SelectorWin32, TheScriptedAnswerComesWithoutADialog) {
    ASSERT_EQ(::_putenv("ZELHOST_SELECT=Tor\xfc"), 0);
    std::string chosen;
    EXPECT_EQ(Choose(nullptr, zel::VariableKindFloat, chosen), zel::S_OK);
    EXPECT_EQ(chosen, "Tor\xfc");
    EXPECT_EQ(gDriver.Opened, 0);
    ASSERT_EQ(::_putenv("ZELHOST_SELECT="), 0);
}
