#pragma once
// TfrmPropertyPage: the window in which the user configures one instance (address, interval, the
// sensor types found on the box and the host variable bound to each input). It talks to its
// instance only through IZELALL3000 and to the host's variable selector through instance control.
#include <QDialog>
#include <QPixmap>
#include <string>

#include "device/IO.ALL3000_Types.h"
#include "device/PropertyPage.h"
#include "device/UZELUtils.h"
#include "ui/RegisterPage.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace zel {

class TfrmPropertyPage : public QDialog, public TPropertyPageBase {
public:
    TfrmPropertyPage();
    ~TfrmPropertyPage() override;

    // TPropertyPageBase
    void SetReferences(IZELALL3000* config, IZELInstanceControl* control, IZELVariableManager* variables) override;
    void ShowPage() override;
    void HidePage() override;
    // Frees the page now, or, while one of its handlers runs, as soon as that handler is done.
    void Free() noexcept;

    // The handlers, public so that tests can drive them as the controls do.
    void FormCreate();
    void FormShow();
    void btnApplyClick();
    void btnOKClick();
    void btnSelectVar0Click(int row);
    void btnDeviceSetupClick();
    void btnUpdateNowClick();

protected:
    void showEvent(QShowEvent* event) override;
    // The page lets go of its instance once it is hidden, by the user or by the instance.
    void hideEvent(QHideEvent* event) override;

private:
    // Runs a handler with the instance kept alive, and the page too: a handler may open the selector
    // or a message box, during which the host may release the instance or hide the page.
    template <class F>
    void Handle(F&& body);

    TZELALL3000Settings FConfig;  // the working copy
    TIntf<IZELALL3000> FConfigIntf;  // counted while the page is shown
    IZELInstanceControl* FInstanceControl = nullptr;
    IZELVariableManager* FVariableManager = nullptr;
    int FHandlerDepth = 0;
    bool FFreeRequested = false;
};

}  // namespace zel
