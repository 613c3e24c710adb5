// The built plug-in as a host sees it: loaded by the system's loader, reached only through
// ZELModuleInfo.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "FakeHost.h"
#include "TestLibrary.h"
#include "device/IO.ALL3000_Types.h"

using namespace zel;
using namespace zel::test;

namespace {

class Library : public zeltest::TTestLibrary {
public:
    Library() : TTestLibrary(ZEL_MODULE_PATH) { EXPECT_TRUE(Loaded()) << Error(); }

    const TZELModuleInfo* Info() const {
        auto entry = reinterpret_cast<TZELModuleInfoProc>(Symbol("ZELModuleInfo"));
        const TZELModuleInfo* info = nullptr;
        if (entry) {
            EXPECT_EQ(entry(&info), S_OK);
        }
        return info;
    }
};

std::vector<LogLine> From(const std::vector<LogLine>& log, size_t first) {
    return {log.begin() + static_cast<std::ptrdiff_t>(first), log.end()};
}

}  // namespace

TEST(Module, InfoIsOneStableRecord) {
    Library lib;
    const TZELModuleInfo* info = lib.Info();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(lib.Info(), info);

    EXPECT_EQ(info->ModuleID, IID_IZELALL3000);
    EXPECT_EQ(info->SecondaryID, IID_IZELALL3000);
    EXPECT_EQ(info->ModuleKind, 3);
    for (uint8_t b : info->Reserved) EXPECT_EQ(b, 0);
    EXPECT_EQ(hoststr::View(info->Name), "ALL3000");
    EXPECT_EQ(hoststr::View(info->Description), "Steuerung \xFC" "ber das ALL3000");
    for (ZELStr s : {info->Name, info->Description}) {
        EXPECT_EQ(hoststr::RefCount(s), -1) << "a constant the host never frees";
        EXPECT_EQ(s[hoststr::Length(s)], '\0');
    }
    EXPECT_EQ(info->Value1, 3);
    EXPECT_EQ(info->Value2, 7);
    EXPECT_EQ(std::bit_cast<uint64_t>(info->TimeStamp), 0x40E2C24A174D1C6EULL);
    EXPECT_EQ(info->Value3, 346);
    EXPECT_NE(info->Register, nullptr);
    EXPECT_NE(info->Unregister, nullptr);
    EXPECT_NE(info->CreateInstance, nullptr);
    auto entry = reinterpret_cast<TZELModuleInfoProc>(lib.Symbol("ZELModuleInfo"));
    EXPECT_EQ(entry(nullptr), E_FAIL);
}

TEST(Module, OnlyTheEntryPointIsExported) {
    Library lib;
    EXPECT_NE(lib.Symbol("ZELModuleInfo"), nullptr);
    for (const char* name : {"ModuleRegister", "ModuleUnregister", "ModuleCreateInstance",
                             "_ZN3zel14ModuleRegisterEPNS_10IZELKernelE", "_ZN3zel16ModuleUnregisterEv",
                             "_ZN3zel20ModuleCreateInstanceEjPPNS_10IZELModuleE", "_ZN3zel16ModuleInfoRecordE",
                             "_ZN3zel7hoststr5AllocESt17basic_string_viewIcSt11char_traitsIcEE",
                             // the stdcall-decorated forms of the entry, on Windows
                             "ZELModuleInfo@4", "_ZELModuleInfo@4"})
        EXPECT_EQ(lib.Symbol(name), nullptr) << name;
}

TEST(Module, RegisterTwiceKeepsTheSecondKernel) {
    Library lib;
    const TZELModuleInfo* info = lib.Info();
    ASSERT_NE(info, nullptr);
    FakeHost first, second;
    second.SeedLoopback(1);

    EXPECT_EQ(info->Register(&first.kernel), S_OK);
    EXPECT_EQ(first.kernel.refs, 1);
    EXPECT_EQ(info->Register(&second.kernel), S_OK);
    EXPECT_EQ(first.kernel.refs, 0);
    EXPECT_EQ(second.kernel.refs, 1);
    EXPECT_EQ(first.kernel.log, (std::vector<LogLine>{{10021, "ALL3000", "Register"}}));
    EXPECT_EQ(second.kernel.log, (std::vector<LogLine>{{10021, "ALL3000", "Register"}}));

    // New instances get the kernel that is current now.
    IZELModule* m = nullptr;
    ASSERT_EQ(info->CreateInstance(1, &m), S_OK);
    EXPECT_EQ(m->Release(), 0);
    EXPECT_EQ(first.kernel.log.size(), 1u);
    EXPECT_EQ(second.kernel.log.size(), 4u);

    EXPECT_EQ(info->Unregister(), S_OK);
    EXPECT_EQ(second.kernel.log.back(), (LogLine{10021, "ALL3000", "Unregister"}));
    EXPECT_TRUE(first.AllReleased());
    EXPECT_TRUE(second.AllReleased());
}

TEST(Module, CreateInstanceAcrossTheIdentifierRange) {
    struct Row { uint32_t id; const char* sender; } rows[] = {{0, "ALL3000 #0"}, {65535, "ALL3000 #65535"}};
    Library lib;
    const TZELModuleInfo* info = lib.Info();
    ASSERT_NE(info, nullptr);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.sender);
        FakeHost host;
        host.SeedLoopback(static_cast<uint16_t>(r.id));
        ASSERT_EQ(info->Register(&host.kernel), S_OK);
        IZELModule* m = reinterpret_cast<IZELModule*>(1);
        ASSERT_EQ(info->CreateInstance(r.id, &m), S_OK);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->GetRefCount(), 1) << "the host's reference is the only one";
        EXPECT_EQ(From(host.kernel.log, 1), (std::vector<LogLine>{{10021, "ALL3000", "Creating new Instance..."},
                                                                  {10021, r.sender, "Interface Create"}}));
        // The store was read under the identifier as given.
        void* p = nullptr;
        ASSERT_EQ(m->QueryInterface(IID_IZELALL3000, &p), S_OK);
        auto* cfg = static_cast<IZELALL3000*>(p);
        TZELALL3000Settings c;
        EXPECT_EQ(cfg->GetConfiguration(c), S_OK);
        EXPECT_EQ(c.IPAddress.View(), "127.0.0.1");
        cfg->Release();

        EXPECT_EQ(m->Release(), 0);
        EXPECT_EQ(host.kernel.log.back(), (LogLine{10021, r.sender, "Interface Destroy"}));
        ASSERT_EQ(host.settings.writes.size(), 18u);
        EXPECT_EQ(host.settings.writes.front(), std::to_string(r.id) + ":Settings/IPAddress='127.0.0.1'");
        EXPECT_EQ(info->Unregister(), S_OK);
        EXPECT_TRUE(host.AllReleased());
    }
}

TEST(Module, CreateInstanceWithoutOutArgumentMakesNothing) {
    Library lib;
    const TZELModuleInfo* info = lib.Info();
    ASSERT_NE(info, nullptr);
    FakeHost host;
    ASSERT_EQ(info->Register(&host.kernel), S_OK);
    EXPECT_EQ(info->CreateInstance(1, nullptr), E_FAIL);
    EXPECT_EQ(host.kernel.log.back().text, "Creating new Instance...");
    EXPECT_EQ(info->Unregister(), S_OK);
    EXPECT_TRUE(host.AllReleased());
}

TEST(Module, HostFailuresStayOutside) {
#ifdef _WIN32
    // The DLL carries its own C++ runtime, whose unwinder knows no frame of the host's: a host's
    // exception cannot even be caught in there, and a Windows host never throws across an interface.
    // The instance tests check the same handling with the device code linked into the test.
    GTEST_SKIP() << "a host's exception cannot cross into a DLL with its own runtime";
#endif
    Library lib;
    const TZELModuleInfo* info = lib.Info();
    ASSERT_NE(info, nullptr);
    FakeHost host;
    host.SeedLoopback(2);
    host.kernel.throwOnLog = true;
    host.settings.throwOnWrite = true;
    EXPECT_NO_THROW({
        EXPECT_EQ(info->Register(&host.kernel), S_OK);
        IZELModule* m = nullptr;
        EXPECT_EQ(info->CreateInstance(2, &m), S_OK);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->Release(), 0);
        EXPECT_EQ(info->Unregister(), S_OK);
    });
    EXPECT_TRUE(host.AllReleased());
}

TEST(Module, UnloadReleasesAKernelStillHeld) {
    FakeHost host;
    Library lib;
    const TZELModuleInfo* info = lib.Info();
    ASSERT_NE(info, nullptr);
    ASSERT_EQ(info->Register(&host.kernel), S_OK);
    EXPECT_EQ(host.kernel.refs, 1);
    ASSERT_TRUE(zeltest::TTestLibrary::InProcess(ZEL_MODULE_PATH)) << "the check below would see nothing";
    lib.Close();
    if (zeltest::TTestLibrary::InProcess(ZEL_MODULE_PATH)) {
        // Still loaded: let go of the kernel properly, it dies with this test.
        info->Unregister();
        GTEST_SKIP() << "the library stays loaded after it is closed here, so unloading cannot be observed";
    }
    EXPECT_EQ(host.kernel.refs, 0);
    EXPECT_EQ(host.kernel.log.size(), 1u) << "unloading is not Unregister: no log line";
}
