#pragma once
// TfrmPropertyPage: the Qt window in which the user configures one instance (address, interval,
// the sensor types found on the box and the host variable bound to each input). Its widgets are
// the rows of kPageControls, named as there; what they do is TPageLogic's.
#include <QDialog>
#include <string>
#include <string_view>
#include <vector>

#include "device/IO.ALL3000_Types.h"
#include "device/PropertyPage.h"
#include "ui/PageLogic.h"
#include "ui/RegisterPage.h"

namespace zel {

class TfrmPropertyPage : public QDialog, public TPropertyPageBase, private TPageView {
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
    // TPageView; texts cross as Windows-1252 here.
    std::string Text(int control) const override;
    void SetText(int control, std::string_view text) override;
    int Position(int upDown) const override;
    void SetPosition(int upDown, int value) override;
    void SetEnabled(int control, bool enabled) override;
    void SetPictureKey(int button, uint32_t rgb) override;
    void HideWindow() noexcept override;
    void Destroy() noexcept override;

    TPageLogic FLogic{*this};
    std::vector<QWidget*> FControls;  // per row of kPageControls; the up-down's buddy is its spin box's line edit
};

}  // namespace zel
