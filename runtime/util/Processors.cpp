#include "Processors.h"

#include <cstdlib>

#include "../platform/Clock.h"
#include "../platform/System.h"

uint32_t GetProcessAffinityMask()
{
    uint32_t processMask = 0;
    uint32_t systemMask = 0;
    if (!platform::GetProcessAffinityMask(&processMask, &systemMask))
        return 0;
    return processMask;
}

uint32_t ChooseRandomProcessor()
{
    uint32_t mask = GetProcessAffinityMask();
    if (mask == 0 || mask == 1)
        return mask;
    std::srand(platform::GetTickCount());
    // Draws are not weighted: each allowed processor is as likely as another.
    for (;;) {
        uint32_t bit = 1u << (std::rand() % 32);
        if ((mask & bit) != 0)
            return bit;
    }
}
