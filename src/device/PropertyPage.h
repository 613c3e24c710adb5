#pragma once
// The configuration page as the instance sees it. The page itself is a window of the UI library;
// the instance only creates, shows, hides and frees it through this face, so the device code stays
// free of any window toolkit. The module wires in the factory when it loads.
#include <memory>

#include "device/IO.ALL3000_Types.h"
#include "host/UZELTypes.h"

namespace zel {

class TPropertyPageBase {
public:
    virtual ~TPropertyPageBase() = default;
    // The instance's configuration interface and the host's services, handed over on every show and
    // cleared (all null) before the page is freed. The page counts its reference to the instance
    // until it is hidden, so an instance whose host lets go of it lives while its page is open;
    // letting go may then end the instance. The host's services are not counted: they outlive it.
    virtual void SetReferences(IZELALL3000* config, IZELInstanceControl* control, IZELVariableManager* variables) = 0;
    // Shows the page without waiting for it to close.
    virtual void ShowPage() = 0;
    virtual void HidePage() = 0;
};

// Deletes a page. A window may be in the middle of one of its own handlers when its instance lets
// go of it, so the UI frees it only once control is back in the event loop.
struct TPropertyPageDeleter {
    void operator()(TPropertyPageBase* page) const noexcept;
};
using TPropertyPagePtr = std::unique_ptr<TPropertyPageBase, TPropertyPageDeleter>;

// How pages are made and freed; without a factory an instance has no page to show.
struct TPropertyPageFactory {
    TPropertyPageBase* (*Create)() = nullptr;
    void (*Free)(TPropertyPageBase* page) noexcept = nullptr;
};
void SetPropertyPageFactory(const TPropertyPageFactory& factory) noexcept;
const TPropertyPageFactory& PropertyPageFactory() noexcept;

}  // namespace zel
