#pragma once
// The host's variable selector: a module of the host whose GUID is both its module identifier and its
// interface. Implemented by the host. The module's configuration page, on the main thread, creates
// an instance through IZELInstanceControl::CreateInstance, asks its Module for this interface, asks
// it for a name, then calls DeleteInstance and only then releases the selector and Module.
#include "host/UZELTypes.h"

namespace zel {

constexpr TGUID IID_IZELVariableSelector = GUID("{1C8663C5-1DBD-41DD-945A-C4C835737733}");

// Variable kinds the selector lists.
constexpr uint8_t VariableKindBoolean = 1;
constexpr uint8_t VariableKindFloat = 4;

class IZELVariableSelector : public IZELModule {
public:
    // Lets the user choose a variable of `kind`, perhaps in a dialog that processes messages. *name
    // is an out-string: a new counted string on success.
    virtual HRESULT ZEL_CALL SelectVariable(uint8_t kind, char** name) = 0;  // 10

protected:
    ~IZELVariableSelector() = default;
};

}  // namespace zel
