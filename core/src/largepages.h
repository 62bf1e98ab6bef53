// Internal to the core: the memory hint for large pixel blocks.
#pragma once

#include <cstddef>

namespace kavel::detail {

// Asks the system to back a large block with huge pages where it can (Linux
// with transparent huge pages on request). First touching 100 MB of ordinary
// pages costs many times a copy of it; huge pages cut that to about the cost
// of clearing it. A hint only: nothing changes where it is not available.
// Call it before the block is first written.
void AdviseLargePages(void* data, std::size_t bytes) noexcept;

}  // namespace kavel::detail
