// Built with -m32: compiles the host header's 32-bit layout checks, proves the callback pair's
// size, and checks the bytes of the module's own information record at run time. Plain program: no
// test library exists for the 32-bit target.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "host/UZELTypes.h"
#include "module/ModuleInfo.h"

using namespace zel;

static_assert(sizeof(void*) == 4, "build this check with -m32");
// The header's own layout checks of the module information record and TZELModuleInstance stand
// under this condition: it must hold here, so that this build proves them.
static_assert(UINTPTR_MAX == 0xFFFFFFFFu);
static_assert(sizeof(TZELCallbackPair) == 16);

// The entries are only addresses here; the record must point at these.
namespace zel {
HRESULT ZEL_CALL ModuleRegister(IZELKernel*) { return S_OK; }
HRESULT ZEL_CALL ModuleUnregister() { return S_OK; }
HRESULT ZEL_CALL ModuleCreateInstance(uint32_t, IZELModule**) { return S_OK; }
}  // namespace zel

static int failures = 0;

static void Check(bool ok, const char* what) {
    if (!ok) {
        std::printf("FAIL: %s\n", what);
        ++failures;
    }
}

template <class T>
static T At(const unsigned char* p, size_t offset) {
    T v;
    std::memcpy(&v, p + offset, sizeof v);
    return v;
}

static bool CountedConstant(const char* s, const char* text, size_t length) {
    if (!s) return false;
    int32_t ref = 0;
    int32_t len = 0;
    std::memcpy(&ref, s - 8, 4);
    std::memcpy(&len, s - 4, 4);
    return ref == -1 && len == static_cast<int32_t>(length) && std::memcmp(s, text, length) == 0 && s[length] == '\0';
}

int main() {
    const auto* p = reinterpret_cast<const unsigned char*>(&ModuleInfoRecord);
    static const unsigned char guid[16] = {0xCE, 0xF0, 0x02, 0xCE, 0xDA, 0x17, 0x03, 0x4D,
                                           0xB5, 0xD5, 0xEE, 0x09, 0xD5, 0xE0, 0xB1, 0x97};
    Check(std::memcmp(p, guid, 16) == 0, "ModuleID bytes");
    Check(std::memcmp(p + 16, guid, 16) == 0, "SecondaryID bytes");
    Check(At<int32_t>(p, 32) == 3, "ModuleKind 3");
    bool zero = true;
    for (size_t i = 36; i < 116; ++i) zero = zero && p[i] == 0;
    Check(zero, "80 reserved zero bytes");
    Check(CountedConstant(At<const char*>(p, 124), "ALL3000", 7), "Name constant");
    Check(CountedConstant(At<const char*>(p, 128), "Steuerung \xFC" "ber das ALL3000", 26), "Description constant");
    Check(At<uint16_t>(p, 132) == 3, "Value1 3");
    Check(At<uint16_t>(p, 134) == 7, "Value2 7");
    Check(At<uint64_t>(p, 136) == 0x40E2C24A174D1C6EULL, "TimeStamp bit pattern");
    Check(At<int32_t>(p, 144) == 346, "Value3 346");
    Check(At<TZELRegisterProc>(p, 148) == &ModuleRegister, "Register entry");
    Check(At<TZELUnregisterProc>(p, 152) == &ModuleUnregister, "Unregister entry");
    Check(At<TZELCreateInstanceProc>(p, 156) == &ModuleCreateInstance, "CreateInstance entry");
    std::printf("%s: 32-bit module record, %d failure(s)\n", failures ? "FAILED" : "passed", failures);
    return failures ? 1 : 0;
}
