// What the library's own tests need beyond the four exported functions. Not
// exported from the shared library.
#pragma once

namespace redi {

// Closes every open device handle, forgets it and shuts hidapi down, so the
// next call starts as in a fresh process.
void closeAllDevices() noexcept;

} // namespace redi
