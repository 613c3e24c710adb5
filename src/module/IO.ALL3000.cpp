// The library's entry: ZELModuleInfo, the only exported symbol, and the three entries of the module
// information record.
#include "device/IO.ALL3000_Interface.h"
#include "device/UZELUtils.h"
#include "module/ModuleInfo.h"
#include "ui/RegisterPage.h"

namespace zel {

namespace {

// The kernel handed over by Register. Main thread only, so no lock. Being a static object, it lets
// go of a kernel still held when the library is unloaded.
TIntf<IZELKernel>& ModuleKernel() noexcept {
    static TIntf<IZELKernel> kernel;
    return kernel;
}

std::string_view ModuleName() noexcept { return hoststr::View(ModuleInfoRecord.Name); }

// Static set-up while the library loads: instances make their pages through the UI library.
const bool kPageFactoryInstalled = [] {
    RegisterPropertyPage();
    return true;
}();

}  // namespace

HRESULT ZEL_CALL ModuleRegister(IZELKernel* kernel) {
    return Guarded([&] {
        ModuleKernel().Assign(kernel);
        KernelLog(ModuleKernel().Get(), LogCodeInfo, ModuleName(), "Register");
        return S_OK;
    });
}

HRESULT ZEL_CALL ModuleUnregister() {
    return Guarded([&] {
        KernelLog(ModuleKernel().Get(), LogCodeInfo, ModuleName(), "Unregister");
        ModuleKernel().Reset();
        return S_OK;
    });
}

HRESULT ZEL_CALL ModuleCreateInstance(uint32_t instanceID, IZELModule** module) {
    return Guarded([&] {
        KernelLog(ModuleKernel().Get(), LogCodeInfo, ModuleName(), "Creating new Instance...");
        if (!module) return E_FAIL;
        *module = nullptr;
        // The identifier is 16 bits wide, passed widened.
        auto* instance = new TZELALL3000(ModuleKernel().Get(), static_cast<uint16_t>(instanceID), &ModuleInfoRecord);
        // A temporary reference while the host's is taken; dropping it leaves the host's as the only
        // one, or frees the instance when the host got none.
        TIntf<IZELModule> temporary;
        temporary.Assign(instance);
        void* out = nullptr;
        HRESULT r = temporary->QueryInterface(IID_IZELModule, &out);
        if (r != S_OK || !out) return E_FAIL;
        *module = static_cast<IZELModule*>(out);
        return S_OK;
    });
}

}  // namespace zel

extern "C" __attribute__((visibility("default"))) zel::HRESULT ZEL_CALL ZELModuleInfo(const zel::TZELModuleInfo** info) {
    if (!info) return zel::E_FAIL;
    *info = &zel::ModuleInfoRecord;
    return zel::S_OK;
}
