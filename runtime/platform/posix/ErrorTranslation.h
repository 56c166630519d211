#pragma once

// Host error numbers turned into the Windows codes the library speaks; used
// only inside the POSIX backend, at the boundary where a call fails.

#include <cstdint>

namespace platform::posix {

// For file, pipe and process calls (Win32 codes).
uint32_t SystemErrorFromErrno(int error);
// For socket calls (Winsock codes).
uint32_t SocketErrorFromErrno(int error);
// Sets the thread's last error from errno after a failed file call and
// returns it.
uint32_t SetLastSystemError(int error);
uint32_t SetLastSocketError(int error);

}  // namespace platform::posix
