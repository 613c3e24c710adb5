#include "ui/PageLogic.h"

#include <algorithm>

#include "ui/PageLayout.h"

namespace zel {

namespace {

constexpr int kAddress = PageControl("edIPAdress");
constexpr int kInterval = PageControl("udInterval");

}  // namespace

void TPageLogic::SetReferences(IZELALL3000* config, IZELInstanceControl* control, IZELVariableManager* variables) {
    FInstanceControl = control;
    FVariableManager = variables;
    // Last: letting go of the instance may end it, and with it the host's services.
    FConfigIntf.Assign(config);
}

void TPageLogic::Hidden() noexcept { FConfigIntf.Reset(); }

void TPageLogic::Free() noexcept {
    FView.HideWindow();
    FInstanceControl = nullptr;
    FVariableManager = nullptr;
    FConfigIntf.Reset();
    if (FHandlerDepth > 0)
        FFreeRequested = true;
    else
        FView.Destroy();
}

void TPageLogic::Click(int control) {
    switch (kPageControls[control].Handler) {
        case THandler::NoHandler: return;
        case THandler::UpdateNowClick: return btnUpdateNowClick();
        case THandler::DeviceSetupClick: return btnDeviceSetupClick();
        case THandler::OKClick: return btnOKClick();
        case THandler::ApplyClick: return btnApplyClick();
        case THandler::SelectVarClick:
            for (int row = 0; row < kALL3000Inputs; ++row)
                if (PageControl("btnSelectVar", row) == control) return btnSelectVar0Click(row);
            return;
    }
}

void TPageLogic::FormCreate() {
    // The OK picture's green and the yellow of Detect Sensors and Update Values are transparent.
    for (const int button : {PageControl("btnOK"), PageControl("btnDeviceSetup"), PageControl("btnUpdateNow")})
        FView.SetPictureKey(button, kPageControls[button].Back & 0xFFFFFF);
}

void TPageLogic::FormShow() {
    Guard([this](IZELALL3000* config) {
        if (config) config->GetConfiguration(FConfig);
        FView.SetText(kAddress, FConfig.IPAddress.View());
        // The up-down's range is 0 to 32000: an interval outside it is shown clamped, not wrapped.
        FView.SetPosition(kInterval, std::clamp(FConfig.Interval, 0, kIntervalMax));
        for (int i = 0; i < kALL3000Inputs; ++i) {
            const uint8_t type = FConfig.Devices[i].DeviceType;
            FView.SetText(PageControl("lblSensor", i), SensorTypeName(type));
            FView.SetText(PageControl("edStatus", i), type != stNone ? FConfig.Devices[i].VarName.View() : std::string_view());
            FView.SetEnabled(PageControl("btnSelectVar", i), type != stNone);
        }
    });
}

void TPageLogic::btnApplyClick() {
    Guard([this](IZELALL3000* config) {
        FConfig.IPAddress = ZELString(FView.Text(kAddress));
        FConfig.Interval = FView.Position(kInterval);
        for (int i = 0; i < kALL3000Inputs; ++i) FConfig.Devices[i].VarName = ZELString(FView.Text(PageControl("edStatus", i)));
        const TZELALL3000Settings copy = FConfig;
        if (config) config->SetConfiguration(copy);
    });
}

void TPageLogic::btnOKClick() {
    Guard([this](IZELALL3000*) {
        btnApplyClick();
        FView.HideWindow();
    });
}

void TPageLogic::btnSelectVar0Click(int row) {
    Guard([this, row](IZELALL3000*) {
        const int field = PageControl("edStatus", row);  // throws for a row the page does not have
        // The kind follows the type shown on the row, which FormShow loaded.
        const uint8_t kind = SensorVariableKind(FConfig.Devices[row].DeviceType);
        ZELString name;
        const HRESULT r = RunVariableSelector(FInstanceControl, kind, name);
        // The page may have been freed meanwhile; the view lives until the handler is done.
        if (Succeeded(r)) FView.SetText(field, name.View());
    });
}

void TPageLogic::btnDeviceSetupClick() {
    Guard([this](IZELALL3000* config) {
        if (config) config->DetectSensors();
        FormShow();
    });
}

void TPageLogic::btnUpdateNowClick() {
    Guard([](IZELALL3000* config) {
        if (config) config->UpdateNow();
    });
}

}  // namespace zel
