#pragma once

/// \file
/// Processor affinity of the process and its threads.

#include <cstdint>

#include "../Export.h"

/// The processors the process may use: one bit per processor, the first 32
/// processors only; 0 when the platform cannot tell.
SHAREDLIB_API uint32_t GetProcessAffinityMask();

/// One processor for a thread, drawn at random from the process's mask: the
/// mask with one bit left. A mask of 0 or 1 comes back unchanged. Reseeds the
/// runtime's rand() from the tick count, which every other user of rand()
/// notices.
SHAREDLIB_API uint32_t ChooseRandomProcessor();
