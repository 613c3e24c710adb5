#include "ui/RegisterPage.h"

namespace zel {

// The Windows build has no configuration page yet: it installs no page factory, so an instance's
// ShowPropertyPage answers E_NOTIMPL, as in any build without windows.
void RegisterPropertyPage() noexcept {}

}  // namespace zel
