#pragma once
// The one entry of the UI library that the module calls, without any window toolkit in sight:
// installs the factory through which instances create and free their configuration pages.

namespace zel {

void RegisterPropertyPage() noexcept;

}  // namespace zel
