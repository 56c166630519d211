#include "Desktop.h"

#include "../platform/System.h"

int32_t rectIsOnDesktop(RECT const *rect)
{
    if (rect == nullptr)
        return 0;
    if (platform::MonitorFunctionsAvailable())
        return platform::MonitorFromRect(rect->left, rect->top, rect->right, rect->bottom,
                                         platform::MONITOR_DEFAULTTONULL) != platform::NO_MONITOR
                   ? 1
                   : 0;
    return rect->right > 0 && rect->bottom > 0 && rect->left < platform::GetSystemMetrics(platform::SM_CXSCREEN) &&
                   rect->top < platform::GetSystemMetrics(platform::SM_CYSCREEN)
               ? 1
               : 0;
}
