#pragma once
// The host's variable selector: a module of the host whose GUID is both its module identifier and its
// interface. The module creates an instance of it through IZELInstanceControl and asks it for a name.
#include "host/UZELTypes.h"

namespace zel {

constexpr TGUID IID_IZELVariableSelector = GUID("{1C8663C5-1DBD-41DD-945A-C4C835737733}");

// Variable kinds the selector lists.
constexpr uint8_t VariableKindBoolean = 1;
constexpr uint8_t VariableKindFloat = 4;

class IZELVariableSelector : public IZELModule {
public:
    // Lets the user choose a variable of `kind`; on success `name` holds a new counted string.
    virtual HRESULT ZEL_CALL SelectVariable(uint8_t kind, char** name) = 0;  // 10

protected:
    ~IZELVariableSelector() = default;
};

}  // namespace zel
