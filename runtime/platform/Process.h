#pragma once

/// \file
/// The process and its threads: identifiers, stop requests, exit.

#include <cstdint>

#include "../Export.h"

namespace platform {

/// The kernel's identifier of the calling thread (a DWORD on the original target).
SHAREDLIB_API uint32_t GetCurrentThreadId();
/// The identifier of this process.
SHAREDLIB_API uint32_t GetCurrentProcessId();

///@{

/// A request to stop the process, as a server's operator or parent makes it:
/// SIGINT or SIGTERM on POSIX systems; Ctrl+C, Ctrl+Break, the console's
/// closing or RequestProcessStop on Windows. The handler runs on a thread of
/// the system's (or in a signal handler): it should only set a flag that the
/// program's loop reads. A null handler restores the default (the process ends).
using StopHandler = void (*)();
/// Installs the handler for stop requests (null: the default).
SHAREDLIB_API void OnStopRequest(StopHandler handler);
///@}
/// Asks another process to stop, as its OnStopRequest handler sees it (a
/// process without a handler ends). False when the process cannot be asked.
SHAREDLIB_API bool RequestProcessStop(uint32_t processId);

/// SetEnvironmentVariableA for this process and the children it starts, and
/// for getenv: a null value removes the variable. A new TZ takes effect for
/// local times at once. For tools and tests.
SHAREDLIB_API bool SetEnvironmentVariableA(char const *name, char const *value);

}  // namespace platform
