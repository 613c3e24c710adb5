#pragma once
// The configuration page's behaviour without any window toolkit: what it loads when shown, what
// Apply and OK store, the selection per input, detection and updates, and when it lets go of its
// instance and may be freed. A view (Qt or Win32) builds the controls of kPageControls, forwards
// their clicks and its show, hide and free here, and carries out what the logic asks of it.
#include <cstdint>
#include <string>
#include <string_view>

#include "device/IO.ALL3000_Types.h"
#include "device/UZELUtils.h"
#include "host/UZELTypes.h"

namespace zel {

// What the logic asks of a window, always on the thread that made it. Every `control` is a row
// index of kPageControls.
class TPageView {
public:
    // The control's text as Windows-1252 bytes (an edit's content, a label's caption).
    virtual std::string Text(int control) const = 0;
    // Sets the control's text from Windows-1252 bytes; a label sized to its text takes its new size.
    virtual void SetText(int control, std::string_view text) = 0;
    // The up-down's value, always within its range 0..kIntervalMax.
    virtual int Position(int upDown) const = 0;
    // Sets the up-down's value; the logic passes values within its range only.
    virtual void SetPosition(int upDown, int value) = 0;
    // Enables or disables the control; a disabled button cannot be clicked.
    virtual void SetEnabled(int control, bool enabled) = 0;
    // Makes the colour 0xRRGGBB of the button's picture transparent.
    virtual void SetPictureKey(int button, uint32_t rgb) = 0;
    // Hides the page as its own close does; the view then calls TPageLogic::Hidden().
    virtual void HideWindow() noexcept = 0;
    // Frees the view with its logic, now or once control is back in the event loop; the logic
    // touches nothing of itself after calling it.
    virtual void Destroy() noexcept = 0;

protected:
    ~TPageView() = default;
};

class TPageLogic {
public:
    // The view outlives the logic (it owns it).
    explicit TPageLogic(TPageView& view) noexcept : FView(view) {}
    TPageLogic(const TPageLogic&) = delete;
    TPageLogic& operator=(const TPageLogic&) = delete;

    // Takes the instance's configuration interface (counted until the page is hidden) and the
    // host's services (not counted); letting go of the previous instance may end it.
    void SetReferences(IZELALL3000* config, IZELInstanceControl* control, IZELVariableManager* variables);
    // The page was hidden by its close, OK or the instance, not minimised: lets go of the instance.
    // That may end the instance, which frees the page: outside a handler (Guard), a view whose
    // Destroy is immediate touches nothing of itself after this returns.
    void Hidden() noexcept;
    // Hides the page, drops the references, then has the view destroyed, at once or, while a
    // handler runs, as that handler ends.
    void Free() noexcept;
    // Runs the handler of the control's row, if it has one.
    void Click(int control);

    // Runs `body(config)` as a handler: the instance and the page stay alive until it returns,
    // though the host may release the one and free the other meanwhile (the selector and message
    // boxes run event loops). Nothing escapes it; the instance reports its own failures. Views use
    // it around their own code that may end the instance.
    template <class F>
    void Guard(F&& body) noexcept;

    // Sets the pictures' key colours; the view calls it once its controls exist.
    void FormCreate();
    // Loads the instance's configuration into the controls; the view calls it whenever it is shown.
    void FormShow();
    // Stores the address, the interval and the eight variable fields.
    void btnApplyClick();
    // Apply, then hide.
    void btnOKClick();
    // Asks the host's selector for a variable of the kind of input `row`'s sensor type and puts
    // the answer into the row's field; a cancelled selection keeps the field.
    void btnSelectVar0Click(int row);
    // Reads the sensor types from the box, then reloads the page.
    void btnDeviceSetupClick();
    // Has the instance read the box now.
    void btnUpdateNowClick();

private:
    TPageView& FView;
    TZELALL3000Settings FConfig;  // the working copy, loaded by FormShow
    TIntf<IZELALL3000> FConfigIntf;  // counted while the page is shown
    IZELInstanceControl* FInstanceControl = nullptr;
    IZELVariableManager* FVariableManager = nullptr;
    int FHandlerDepth = 0;
    bool FFreeRequested = false;
};

template <class F>
void TPageLogic::Guard(F&& body) noexcept {
    ++FHandlerDepth;
    IZELALL3000* config = FConfigIntf.Get();
    if (config) config->AddRef();
    try {
        body(config);
    } catch (...) {
        // A handler reports nothing of its own; the instance reports its failures.
    }
    // May end the instance, which then hides and frees this page: deferred below.
    if (config) config->Release();
    if (--FHandlerDepth == 0 && FFreeRequested) FView.Destroy();
}

}  // namespace zel
