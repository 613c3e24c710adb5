#include "device/PropertyPage.h"

namespace zel {

namespace {
TPropertyPageFactory GFactory;  // set once while the module loads, read on the main thread
}  // namespace

void SetPropertyPageFactory(const TPropertyPageFactory& factory) noexcept { GFactory = factory; }

const TPropertyPageFactory& PropertyPageFactory() noexcept { return GFactory; }

void TPropertyPageDeleter::operator()(TPropertyPageBase* page) const noexcept {
    if (!page) return;
    if (GFactory.Free)
        GFactory.Free(page);
    else
        delete page;
}

}  // namespace zel
