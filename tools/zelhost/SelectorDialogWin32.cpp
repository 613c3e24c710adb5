// The variable selector's dialog on the Win32 API, as the Qt one behaves: a filter box over the
// host's variables of the kind asked for, a list, OK and Cancel. Names are Windows-1252 bytes and
// are shown through that code page whatever the system's own is.
#include <windows.h>
// The system's names for these are macros; ours are the module interface's constants.
#undef E_FAIL
#undef E_NOINTERFACE
#undef E_NOTIMPL
#undef S_OK

#include <cstring>
#include <exception>

#include "Toolkit.h"
#include "VariableSelector.h"
#include "platform/Exceptions.h"
#include "platform/TextUtils.h"

namespace zelhost {

namespace {

constexpr UINT kCodePage = 1252;

// The controls' ids. None may be 0xFFFF: that is how the host's message-box watch (Win32Toolkit)
// tells a box's text, and it would answer this dialog as a box.
constexpr int kLabelId = 100;
constexpr int kFilterId = 101;
constexpr int kListId = 102;

// One control of the dialog, its rectangle (left, top, right, bottom) in dialog units, so that it
// scales with the dialog's font; created in this order, which is the tab order.
struct TControl {
    const wchar_t* ClassName;
    int Id;
    const wchar_t* Text;
    DWORD Style;
    DWORD ExStyle;
    RECT Place;
};
constexpr TControl kControls[] = {
    {L"STATIC", kLabelId, L"", SS_NOPREFIX, 0, {7, 7, 193, 17}},
    {L"EDIT", kFilterId, L"", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, {7, 19, 193, 32}},
    {L"LISTBOX", kListId, L"", WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, WS_EX_CLIENTEDGE,
     {7, 36, 193, 170}},
    {L"BUTTON", IDOK, L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, 0, {89, 176, 139, 190}},
    {L"BUTTON", IDCANCEL, L"Cancel", WS_TABSTOP | BS_PUSHBUTTON, 0, {143, 176, 193, 190}},
};
constexpr short kWidth = 200;
constexpr short kHeight = 197;

// One run of the dialog: what it offers, and what it answers.
struct TSelection {
    const std::vector<std::string>& Names;
    std::string KindName;
    std::string Chosen;
    std::exception_ptr Failure;  // raised again once the dialog has ended
};

// Windows-1252 bytes as the wide text the W functions show.
std::wstring ToWide(std::string_view bytes) {
    const int size = ::MultiByteToWideChar(kCodePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) ::MultiByteToWideChar(kCodePage, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), size);
    return wide;
}

// A window's text as Windows-1252 bytes; characters the code page cannot hold become '?'.
std::string WindowBytes(HWND window) {
    std::wstring wide(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    const int length = ::GetWindowTextW(window, wide.data(), static_cast<int>(wide.size()));
    const int size = ::WideCharToMultiByte(kCodePage, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) ::WideCharToMultiByte(kCodePage, 0, wide.data(), length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

// The dialog without controls (WM_INITDIALOG makes them), in the layout DialogBoxIndirect reads:
// the header, no menu, the standard class, the title, and the font that sizes the dialog units.
std::vector<WORD> DialogTemplate() {
    DLGTEMPLATE head{};
    head.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT;
    head.cx = kWidth;
    head.cy = kHeight;
    std::vector<WORD> words(sizeof head / sizeof(WORD));
    std::memcpy(words.data(), &head, sizeof head);
    const auto append = [&words](std::wstring_view text) {
        words.insert(words.end(), text.begin(), text.end());
        words.push_back(0);
    };
    words.push_back(0);  // no menu
    words.push_back(0);  // the dialog class
    append(L"Select variable");
    words.push_back(8);  // points
    append(L"MS Shell Dlg");
    return words;
}

// Lists the names that match the filter, each carrying its index: the answer is the name's own
// bytes, not the list's text read back through the code page. The selection goes with the old list.
void FillList(HWND dialog, const TSelection& selection) {
    HWND list = ::GetDlgItem(dialog, kListId);
    const std::string typed = WindowBytes(::GetDlgItem(dialog, kFilterId));
    ::SendMessageW(list, LB_RESETCONTENT, 0, 0);
    for (size_t i = 0; i < selection.Names.size(); ++i) {
        if (!NameMatchesFilter(selection.Names[i], typed)) continue;
        const std::wstring text = ToWide(selection.Names[i]);
        const LRESULT at = ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
        if (at < 0) throw zel::Exception("the variable selector cannot list " + selection.Names[i]);
        ::SendMessageW(list, LB_SETITEMDATA, static_cast<WPARAM>(at), static_cast<LPARAM>(i));
    }
}

// Makes the controls in the dialog's font, names the kind and lists every name; throws when a
// control cannot be made.
void Build(HWND dialog, const TSelection& selection) {
    const auto font = static_cast<WPARAM>(::SendMessageW(dialog, WM_GETFONT, 0, 0));
    for (const TControl& c : kControls) {
        RECT place = c.Place;
        ::MapDialogRect(dialog, &place);
        HWND control = ::CreateWindowExW(c.ExStyle, c.ClassName, c.Text, WS_CHILD | WS_VISIBLE | c.Style, place.left,
                                         place.top, place.right - place.left, place.bottom - place.top, dialog,
                                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.Id)), nullptr, nullptr);
        if (!control)
            throw zel::Exception("cannot make the variable selector's controls (Windows error " +
                                 std::to_string(::GetLastError()) + ")");
        ::SendMessageW(control, WM_SETFONT, font, FALSE);
    }
    ::SetDlgItemTextW(dialog, kLabelId, ToWide("Host variables (" + selection.KindName + "):").c_str());
    FillList(dialog, selection);
}

// The chosen name, else the typed one: a variable not written yet can still be named.
std::string Answer(HWND dialog, const TSelection& selection) {
    HWND list = ::GetDlgItem(dialog, kListId);
    const LRESULT at = ::SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (at != LB_ERR)
        return selection.Names.at(static_cast<size_t>(::SendMessageW(list, LB_GETITEMDATA, static_cast<WPARAM>(at), 0)));
    return zel::Trim(WindowBytes(::GetDlgItem(dialog, kFilterId)));
}

// The dialog's procedure: the filter refills the list, OK or a double-click answers, Cancel refuses.
INT_PTR CALLBACK SelectorProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    auto* selection = reinterpret_cast<TSelection*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    try {
        if (message == WM_INITDIALOG) {
            ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            selection = reinterpret_cast<TSelection*>(lParam);
            Build(dialog, *selection);
            ::SetFocus(::GetDlgItem(dialog, kFilterId));
            return FALSE;  // the focus is set
        }
        if (message != WM_COMMAND || !selection) return FALSE;
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        if (id == kFilterId && code == EN_CHANGE) {
            FillList(dialog, *selection);
        } else if (id == IDOK || (id == kListId && code == LBN_DBLCLK)) {
            selection->Chosen = Answer(dialog, *selection);
            ::EndDialog(dialog, IDOK);
        } else if (id == IDCANCEL) {
            ::EndDialog(dialog, IDCANCEL);
        } else {
            return FALSE;
        }
        return TRUE;
    } catch (...) {
        // Nothing may unwind through the dialog manager: the failure ends the dialog and is raised
        // again by the caller.
        if (selection) selection->Failure = std::current_exception();
        ::EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
}

}  // namespace

zel::HRESULT DefaultVariableChooser(uint8_t kind, const std::vector<std::string>& names, std::string& chosen) {
    if (std::optional<zel::HRESULT> scripted = ScriptedChoice(chosen)) return *scripted;
    TSelection selection{names, SelectorKindName(kind), {}, {}};
    // The buffer of a vector is aligned for any type, as the template's header must be to a DWORD.
    const std::vector<WORD> form = DialogTemplate();
    // Owned by the active window (the page that asked), which stays disabled while it is open.
    const INT_PTR result =
        ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(form.data()),
                                  ::GetActiveWindow(), SelectorProc, reinterpret_cast<LPARAM>(&selection));
    if (selection.Failure) std::rethrow_exception(selection.Failure);
    if (result == -1)
        throw zel::Exception("cannot open the variable selector (Windows error " + std::to_string(::GetLastError()) + ")");
    if (result != IDOK || selection.Chosen.empty()) return zel::E_FAIL;
    chosen = selection.Chosen;
    return zel::S_OK;
}

}  // namespace zelhost
