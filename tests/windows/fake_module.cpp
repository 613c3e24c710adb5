// A stand-in module for checking scripts/check-dll.sh itself: the real module's one entry, and
// optionally a call into another DLL of ours, which a module must not import.
#include <string>

#ifdef ZEL_FAKE_FOREIGN_IMPORT
int ForeignValue();
#else
static int ForeignValue() { return 0; }
#endif

extern "C" int __stdcall ZELModuleInfo(const void** info) {
    // Uses the C++ runtime, so a DLL linked without it statically would import it.
    std::string name(20, 'x');
    *info = nullptr;
    return static_cast<int>(name.size()) + ForeignValue();
}

#ifdef ZEL_FAKE_PROGRAM
int main() {
    const void* info = nullptr;
    return ZELModuleInfo(&info) == 20 ? 0 : 1;
}
#endif
