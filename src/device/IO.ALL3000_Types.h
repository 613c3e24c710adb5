#pragma once
// What an ALL3000 instance offers besides IZELModule: its configuration record, the sensor types and
// the configuration interface that the property page uses.
#include <cstdint>

#include "host/UZELTypes.h"
#include "host/ZELString.h"

namespace zel {

constexpr int kALL3000Inputs = 8;

// One sensor input of the box: what is connected and which host variable receives its reading
// (empty: not bound).
struct TZELALL3000Device {
    uint8_t DeviceType = 0;
    ZELString VarName;
};

// An instance's configuration. Copies share the strings with their references counted, so a copy
// handed out stays valid after the instance is gone.
struct TZELALL3000Settings {
    ZELString IPAddress;
    int32_t Interval = 0;
    TZELALL3000Device Devices[kALL3000Inputs];
};

using TSensorType = uint8_t;
constexpr TSensorType stNone = 0;
constexpr TSensorType stTemperature = 1;
constexpr TSensorType stPressure = 2;
constexpr TSensorType stMoisture = 3;
constexpr TSensorType stSwitch = 4;
constexpr TSensorType stAnalog = 5;
constexpr TSensorType stCounter = 6;

// The same GUID is the module identifier in the module information record.
constexpr TGUID IID_IZELALL3000 = GUID("{CE02F0CE-17DA-4D03-B5D5-EE09D5E0B197}");

class IZELALL3000 : public IZELModule {
public:
    virtual HRESULT ZEL_CALL GetConfiguration(TZELALL3000Settings& config) = 0;        // 10
    virtual HRESULT ZEL_CALL SetConfiguration(const TZELALL3000Settings& config) = 0;  // 11
    virtual HRESULT ZEL_CALL DetectSensors() = 0;                                      // 12
    virtual HRESULT ZEL_CALL UpdateNow() = 0;                                          // 13

protected:
    ~IZELALL3000() = default;
};

// The module's data receiver as handed to the host by ExchangeCallbacks: a method bound to the
// instance, so the object comes first, then five 32-bit arguments.
using TZELDataReceiver = HRESULT(ZEL_CALL*)(void* self, int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5);

}  // namespace zel
