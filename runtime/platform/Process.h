#pragma once

#include <cstdint>

#include "../Export.h"

namespace platform {

// The kernel's identifier of the calling thread (a DWORD on the original target).
SHAREDLIB_API uint32_t GetCurrentThreadId();
// The identifier of this process.
SHAREDLIB_API uint32_t GetCurrentProcessId();

}  // namespace platform
