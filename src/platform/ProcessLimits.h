#pragma once
// Limits of the process itself, as the operating system sets them.

namespace zel {

// Raises the soft limit on open descriptors to the hard one, for a process that holds one or two
// per connection and may have hundreds open; best effort: on failure the old limit stays.
void RaiseDescriptorLimit() noexcept;

}  // namespace zel
