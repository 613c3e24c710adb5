#pragma once
// The module information record and the three entries it points to.
#include "host/UZELTypes.h"

namespace zel {

extern const TZELModuleInfo ModuleInfoRecord;

HRESULT ZEL_CALL ModuleRegister(IZELKernel* kernel);
HRESULT ZEL_CALL ModuleUnregister();
HRESULT ZEL_CALL ModuleCreateInstance(uint32_t instanceID, IZELModule** module);

}  // namespace zel
