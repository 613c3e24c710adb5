#pragma once
// Facts of the configuration page written out independently of its control table, so that a
// wrong row is caught by the tests of every view that reads its live window back.
#include <array>

namespace zel::test {

// name | left, top, width, height in its parent
struct TPlace {
    const char* name;
    int left, top, width, height;
};
inline constexpr TPlace kPlaces[] = {
    {"GroupBox1", 8, 72, 425, 73},      {"edIPAdress", 104, 28, 121, 21},    {"btnUpdateNow", 312, 27, 103, 22},
    {"GroupBox2", 8, 154, 425, 423},    {"edStatus0", 72, 48, 313, 21},      {"btnSelectVar7", 392, 384, 23, 22},
    {"edStatus7", 72, 384, 313, 21},    {"GroupBox3", 8, 583, 427, 65},      {"btnDeviceSetup", 162, 654, 103, 22},
    {"btnOK", 274, 654, 73, 22},        {"btnApply", 362, 654, 73, 22},      {"Image1", 16, 8, 32, 32},
    {"pTop", 0, 0, 443, 65},            {"Image2", 376, 16, 32, 32},         {"btnSelectVar3", 392, 192, 23, 22},
};

// Every tab stop, in order, when every input has a sensor (all select buttons enabled).
inline constexpr std::array kTabOrder = {
    "edIPAdress",    "btnUpdateNow",  "btnSelectVar0", "btnSelectVar1", "btnSelectVar2",  "btnSelectVar3", "btnSelectVar4",
    "btnSelectVar5", "btnSelectVar6", "btnSelectVar7", "udInterval",    "btnDeviceSetup", "btnOK",         "btnApply",
};

}  // namespace zel::test
