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
// handed out stays valid after the instance is gone. Each string field is a counted reference owned
// by the record: whoever holds a record releases its strings (the destructor does).
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

// An instance's configuration interface. Implemented by the module; called on the main thread by
// the instance's own configuration page, and by a host that asks an instance for IID_IZELALL3000.
// Its QueryInterface answers only IZELModule and IZELALL3000.
class IZELALL3000 : public IZELModule {
public:
    // Copies the configuration into `config`: each string field releases what it held and takes a
    // reference counted for the caller, so `config` must hold references or nil (a new or zeroed record does).
    virtual HRESULT ZEL_CALL GetConfiguration(TZELALL3000Settings& config) = 0;  // 10
    // Takes the configuration, with references of its own to the strings, then tests the connection
    // when the kernel runs: blocks the calling thread without processing messages, for a bounded
    // time. E_FAIL when the box could not be fetched.
    virtual HRESULT ZEL_CALL SetConfiguration(const TZELALL3000Settings& config) = 0;  // 11
    // Sets each input's sensor type from the box's reply, blocking the calling thread for the fetch;
    // on failure shows a message box, which processes messages, and answers E_FAIL.
    virtual HRESULT ZEL_CALL DetectSensors() = 0;  // 12
    // One update now: waits for the fetch processing messages, then writes the readings to the
    // host's variables.
    virtual HRESULT ZEL_CALL UpdateNow() = 0;  // 13

protected:
    ~IZELALL3000() = default;
};

// The module's data receiver as handed to the host by ExchangeCallbacks: a method bound to the
// instance, so the object comes first, then five 32-bit arguments. It answers E_NOTIMPL.
using TZELDataReceiver = HRESULT(ZEL_CALL*)(void* self, int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5);

}  // namespace zel
