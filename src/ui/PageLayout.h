#pragma once
// The configuration page's controls as one table: every view builds its window from it and the
// tests read the live windows back against it. A row's index is the control's number between the
// page logic and its views. Texts are Windows-1252 bytes; places are pixels in the parent's client
// area.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zel {

enum class TControlKind : uint8_t { Window, Panel, Picture, Label, Line, Group, Edit, UpDown, Button };

// Our own pictures; DrawArt() (PageArt.h) is where they are drawn.
enum class TArt : uint8_t { NoArt, List, Check, Apply, Detect, Update, Box, Clock };

// What a click on the control runs (TPageLogic::Click).
enum class THandler : uint8_t { NoHandler, UpdateNowClick, SelectVarClick, DeviceSetupClick, OKClick, ApplyClick };

// Flag bits of a row.
constexpr uint8_t kDisabled = 1;  // created disabled: the variable fields are set by the selector only
constexpr uint8_t kBold = 2;
constexpr uint8_t kBuddy = 4;  // the edit that the up-down of the next row steps: one tab stop, ranked on the up-down

// Colours as 0xAARRGGBB: a picture's background (which FormCreate may make its key colour), a panel's fill.
constexpr uint32_t kClear = 0x00000000;
constexpr uint32_t kWhite = 0xFFFFFFFF;
constexpr uint32_t kGrey = 0xFFC0C0C0;
constexpr uint32_t kYellow = 0xFFFFFF00;
constexpr uint32_t kGreen = 0xFF00FF00;

// The interval's up-down goes from 0 to this; a stored interval outside is shown clamped.
constexpr int kIntervalMax = 32000;

constexpr const char* kListHint = "List All Variables";

struct TPageControl {
    const char* Name;
    TControlKind Kind;
    const char* Parent;            // the name of an earlier row; null for the window only
    int Left, Top, Width, Height;  // a label has width and height 0: it is sized to its text
    int Tab;                       // rank in the tab order, -1 = no tab stop
    uint8_t Flags;
    TArt Art;
    uint32_t Back;                 // a picture's background, a panel's fill
    THandler Handler;
    const char* Hint;  // tooltip, or null
    const char* Text;  // title, caption or initial content
};

namespace page_table {
using enum TControlKind;
using enum TArt;
using enum THandler;

// In creation order, which is also the z-order; the inputs' rows are 48 pixels apart.
inline constexpr TPageControl kRows[] = {
    // name             kind     parent             left top  width hgt tab flags      art     back     handler           hint       text
    {"frmPropertyPage", Window,  nullptr,             0,   0, 443, 689, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "ALL3000 - Configuration"},
    {"pTop",            Panel,   "frmPropertyPage",   0,   0, 443,  65, -1, 0,         NoArt,  kWhite,  NoHandler,        nullptr,   ""},
    {"Image1",          Picture, "pTop",             16,   8,  32,  32, -1, 0,         Box,    kWhite,  NoHandler,        nullptr,   ""},
    {"Label1",          Label,   "pTop",             72,   8,   0,   0, -1, kBold,     NoArt,  kClear,  NoHandler,        nullptr,   "ALL3000 - Configuration"},
    {"Label2",          Label,   "pTop",             88,  24,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Use the ALL3000 to read I\xb2" "C Sensors"},
    {"Label3",          Label,   "pTop",             88,  40,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "You will need to setup the IPAdress of the Device"},
    {"Bevel2",          Line,    "pTop",              0,  63, 443,   2, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   ""},
    {"GroupBox1",       Group,   "frmPropertyPage",   8,  72, 425,  73, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Device Parameters"},
    {"Label4",          Label,   "GroupBox1",        24,  32,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "IP-Adress:"},
    {"edIPAdress",      Edit,    "GroupBox1",       104,  28, 121,  21,  0, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "192.168.20.1"},
    {"btnUpdateNow",    Button,  "GroupBox1",       312,  27, 103,  22,  1, 0,         Update, kYellow, UpdateNowClick,   nullptr,   "Update Values"},
    {"GroupBox2",       Group,   "frmPropertyPage",   8, 154, 425, 423, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Status Variables"},
    {"Label5",          Label,   "GroupBox2",        16,  28,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Sensor 0:"},
    {"lblSensor0",      Label,   "GroupBox2",        72,  28,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Unknown"},
    {"Label6",          Label,   "GroupBox2",        16,  52,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Status:"},
    {"edStatus0",       Edit,    "GroupBox2",        72,  48, 313,  21, -1, kDisabled, NoArt,  kClear,  NoHandler,        nullptr,   ""},
    {"btnSelectVar0",   Button,  "GroupBox2",       392,  48,  23,  22,  2, 0,         List,   kGrey,   SelectVarClick,   kListHint, ""},
    {"Label8",          Label,   "GroupBox2",        16,  76,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Sensor 1:"},
    {"lblSensor1",      Label,   "GroupBox2",        72,  76,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Unknown"},
    {"Label7",          Label,   "GroupBox2",        16, 100,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Status:"},
    {"edStatus1",       Edit,    "GroupBox2",        72,  96, 313,  21, -1, kDisabled, NoArt,  kClear,  NoHandler,        nullptr,   ""},
    {"btnSelectVar1",   Button,  "GroupBox2",       392,  96,  23,  22,  3, 0,         List,   kGrey,   SelectVarClick,   kListHint, ""},
    {"Label11",         Label,   "GroupBox2",        16, 124,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Sensor 2:"},
    {"lblSensor2",      Label,   "GroupBox2",        72, 124,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Unknown"},
    {"Label10",         Label,   "GroupBox2",        16, 148,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Status:"},
    {"edStatus2",       Edit,    "GroupBox2",        72, 144, 313,  21, -1, kDisabled, NoArt,  kClear,  NoHandler,        nullptr,   ""},
    {"btnSelectVar2",   Button,  "GroupBox2",       392, 144,  23,  22,  4, 0,         List,   kGrey,   SelectVarClick,   kListHint, ""},
    {"Label14",         Label,   "GroupBox2",        16, 172,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Sensor 3:"},
    {"lblSensor3",      Label,   "GroupBox2",        72, 172,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Unknown"},
    {"Label13",         Label,   "GroupBox2",        16, 196,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Status:"},
    {"edStatus3",       Edit,    "GroupBox2",        72, 192, 313,  21, -1, kDisabled, NoArt,  kClear,  NoHandler,        nullptr,   ""},
    {"btnSelectVar3",   Button,  "GroupBox2",       392, 192,  23,  22,  5, 0,         List,   kGrey,   SelectVarClick,   kListHint, ""},
    {"Label17",         Label,   "GroupBox2",        16, 220,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Sensor 4:"},
    {"lblSensor4",      Label,   "GroupBox2",        72, 220,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Unknown"},
    {"Label16",         Label,   "GroupBox2",        16, 244,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Status:"},
    {"edStatus4",       Edit,    "GroupBox2",        72, 240, 313,  21, -1, kDisabled, NoArt,  kClear,  NoHandler,        nullptr,   ""},
    {"btnSelectVar4",   Button,  "GroupBox2",       392, 240,  23,  22,  6, 0,         List,   kGrey,   SelectVarClick,   kListHint, ""},
    {"Label20",         Label,   "GroupBox2",        16, 268,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Sensor 5:"},
    {"lblSensor5",      Label,   "GroupBox2",        72, 268,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Unknown"},
    {"Label19",         Label,   "GroupBox2",        16, 292,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Status:"},
    {"edStatus5",       Edit,    "GroupBox2",        72, 288, 313,  21, -1, kDisabled, NoArt,  kClear,  NoHandler,        nullptr,   ""},
    {"btnSelectVar5",   Button,  "GroupBox2",       392, 288,  23,  22,  7, 0,         List,   kGrey,   SelectVarClick,   kListHint, ""},
    {"Label23",         Label,   "GroupBox2",        16, 316,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Sensor 6:"},
    {"lblSensor6",      Label,   "GroupBox2",        72, 316,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Unknown"},
    {"Label22",         Label,   "GroupBox2",        16, 340,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Status:"},
    {"edStatus6",       Edit,    "GroupBox2",        72, 336, 313,  21, -1, kDisabled, NoArt,  kClear,  NoHandler,        nullptr,   ""},
    {"btnSelectVar6",   Button,  "GroupBox2",       392, 336,  23,  22,  8, 0,         List,   kGrey,   SelectVarClick,   kListHint, ""},
    {"Label26",         Label,   "GroupBox2",        16, 364,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Sensor 7:"},
    {"lblSensor7",      Label,   "GroupBox2",        72, 364,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Unknown"},
    {"Label25",         Label,   "GroupBox2",        16, 388,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Status:"},
    {"edStatus7",       Edit,    "GroupBox2",        72, 384, 313,  21, -1, kDisabled, NoArt,  kClear,  NoHandler,        nullptr,   ""},
    {"btnSelectVar7",   Button,  "GroupBox2",       392, 384,  23,  22,  9, 0,         List,   kGrey,   SelectVarClick,   kListHint, ""},
    {"GroupBox3",       Group,   "frmPropertyPage",   8, 583, 427,  65, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "General Settings"},
    {"Label12",         Label,   "GroupBox3",         8,  33,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "Update within an Interval of"},
    {"edInterval",      Edit,    "GroupBox3",       160,  31,  57,  17, -1, kBuddy,    NoArt,  kClear,  NoHandler,        nullptr,   "0"},
    {"udInterval",      UpDown,  "GroupBox3",       217,  31,  16,  17, 10, 0,         NoArt,  kClear,  NoHandler,        nullptr,   ""},
    {"Label9",          Label,   "GroupBox3",       248,  33,   0,   0, -1, 0,         NoArt,  kClear,  NoHandler,        nullptr,   "seconds"},
    {"Image2",          Picture, "GroupBox3",       376,  16,  32,  32, -1, 0,         Clock,  kClear,  NoHandler,        nullptr,   ""},
    {"btnDeviceSetup",  Button,  "frmPropertyPage", 162, 654, 103,  22, 11, 0,         Detect, kYellow, DeviceSetupClick, nullptr,   "Detect Sensors"},
    {"btnOK",           Button,  "frmPropertyPage", 274, 654,  73,  22, 12, 0,         Check,  kGreen,  OKClick,          nullptr,   "OK"},
    {"btnApply",        Button,  "frmPropertyPage", 362, 654,  73,  22, 13, 0,         Apply,  kGrey,   ApplyClick,       nullptr,   "Apply"},
};
}  // namespace page_table

inline constexpr const auto& kPageControls = page_table::kRows;
constexpr int kPageControlCount = static_cast<int>(std::size(kPageControls));

// The row of the control called `name`; a name not in the table throws (fails to compile where constant).
constexpr int PageControl(std::string_view name) {
    for (int i = 0; i < kPageControlCount; ++i)
        if (kPageControls[i].Name == name) return i;
    throw std::out_of_range("the page has no control " + std::string(name));
}

// The row of input `row`'s control called `prefix` followed by the number ("edStatus", 3 is edStatus3).
constexpr int PageControl(std::string_view prefix, int row) {
    for (int i = 0; i < kPageControlCount; ++i) {
        const std::string_view name = kPageControls[i].Name;
        if (row < 0 || !name.starts_with(prefix)) continue;
        std::string_view digits = name.substr(prefix.size());
        int n = row;
        do {
            if (digits.empty() || digits.back() != '0' + n % 10) break;
            digits.remove_suffix(1);
            n /= 10;
        } while (n > 0);
        if (n == 0 && digits.empty()) return i;
    }
    throw std::out_of_range("the page has no control " + std::string(prefix) + " of input " + std::to_string(row));
}

}  // namespace zel
