#pragma once

#include <cstdint>
#include <vector>

#include "../Export.h"

/// \file
/// Processor affinity and the display layout. On Windows the display is the
/// system's; elsewhere it is emulated: a layout of monitors in virtual-screen
/// coordinates, by default one 1920x1080 primary screen at 0,0.
namespace platform {

/// GetProcessAffinityMask(GetCurrentProcess(), ...): the processors this
/// process may run on and those the system has, one bit each for the first 32
/// processors. False (with the last error set) when they cannot be read.
SHAREDLIB_API bool GetProcessAffinityMask(uint32_t *processMask, uint32_t *systemMask);

/// One monitor: its rectangle (right and bottom exclusive) and whether it is
/// the primary screen.
struct DisplayMonitor {
    ///@{

    /// The monitor's rectangle (right and bottom just outside it) and whether it is the primary one.
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
    bool primary;
    ///@}
};

///@{

/// A monitor handle (HMONITOR); NO_MONITOR is the null handle.
using MonitorHandle = uintptr_t;
constexpr MonitorHandle NO_MONITOR = 0;
///@}

///@{

/// GetSystemMetrics indices.
constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr int SM_CMONITORS = 80;
///@}

///@{

/// MonitorFromRect flags.
constexpr uint32_t MONITOR_DEFAULTTONULL = 0;
constexpr uint32_t MONITOR_DEFAULTTOPRIMARY = 1;
constexpr uint32_t MONITOR_DEFAULTTONEAREST = 2;
///@}

/// The current layout.
SHAREDLIB_API std::vector<DisplayMonitor> GetDisplayMonitors();
/// Whether the user-interface library offers the monitor functions.
SHAREDLIB_API bool MonitorFunctionsAvailable();

/// GetSystemMetrics: SM_CXSCREEN and SM_CYSCREEN give the primary screen's
/// width and height, SM_CMONITORS the number of monitors; 0 for other indices.
SHAREDLIB_API int32_t GetSystemMetrics(int index);
/// MonitorFromRect: the monitor that shares the largest area with the
/// rectangle; without one, NO_MONITOR, the primary screen or the nearest
/// monitor as the flag says. An empty rectangle shares no area.
SHAREDLIB_API MonitorHandle MonitorFromRect(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                            uint32_t flags);
/// The rectangle of a monitor handle; false for NO_MONITOR or a stale handle.
SHAREDLIB_API bool GetMonitorRect(MonitorHandle monitor, DisplayMonitor *info);

}  // namespace platform
