// What the library's source files share beyond the exported functions, and what its
// own tests need. Not exported from the shared library.
#pragma once

#include <mutex>

namespace redi {

// Held by every call for its bookkeeping and for every hidapi call that
// touches hidapi's global state (initialisation, enumeration, opening a
// device: hidapi keeps one error text for them all), never while a thread
// waits for an input report.
std::mutex &libraryMutex();

// Closes every open device handle, forgets it and shuts hidapi down, so the
// next call starts as in a fresh process.
void closeAllDevices() noexcept;

} // namespace redi
