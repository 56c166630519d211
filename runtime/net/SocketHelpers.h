#pragma once

/// \file
/// Small socket helpers shared by connections and listeners.

#include <cstdint>

#include "../Export.h"

/// Switches a socket between blocking and non-blocking mode (FIONBIO); false
/// when the control fails, with the Winsock error left for the caller.
SHAREDLIB_API bool SetSocketBlockingFlag(unsigned int socket, bool blocking);
/// Suspends the calling thread.
SHAREDLIB_API void MsgSleep(uint32_t milliseconds);
