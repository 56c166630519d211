#pragma once

// What both backends of the platform layer share: the system's message
// texts, the Windows command-line rules, the arithmetic of an emulated
// display layout and the clocks' pins. Internal to the layer.

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "../System.h"

namespace platform::common {

// The system's text for a code the library can meet (Win32 and Winsock
// codes), without a line end; null for a code without a known text.
char const *KnownSystemMessage(uint32_t code);
// The same for the service, account and logon codes.
char const *KnownServiceMessage(uint32_t code);

// The arguments of a Windows command line as the C runtime hands them to main.
std::vector<std::string> SplitWindowsCommandLine(char const *commandLine);

// A layout of monitors in virtual-screen coordinates; a monitor's handle is
// its index plus one.
int32_t LayoutSystemMetrics(std::vector<DisplayMonitor> const &layout, int index);
MonitorHandle LayoutMonitorFromRect(std::vector<DisplayMonitor> const &layout, DisplayMonitor const &rect,
                                    uint32_t flags);
bool LayoutMonitorRect(std::vector<DisplayMonitor> const &layout, MonitorHandle monitor, DisplayMonitor *info);

// A pinned clock answers its stored value instead of the system's; only a
// test pins one.
struct PinnedClock {
    std::atomic<bool> pinned{false};
    std::atomic<int64_t> value{0};
};
extern PinnedClock g_pinnedTickCount;
extern PinnedClock g_pinnedPerformanceCounter;
extern PinnedClock g_pinnedWallClock;

// Message boxes: whether this is a windowed program that shows the system's
// boxes, and the system's box itself (0 when it could not be shown).
bool WindowedProgram();
int ShowSystemMessageBox(void *owner, const char *text, const char *caption, uint32_t type);

// The pinned affinity masks or host addresses, when a test has pinned them.
bool PinnedAffinity(uint32_t *processMask, uint32_t *systemMask);
bool PinnedHostAddresses(std::vector<uint32_t> &addresses);

// ctime's text for a broken-down local time ("Wed Jan 02 02:03:55 1980"),
// without the line end; false for fields out of range.
bool FormatLocalTime(std::tm const &local, char (&text)[32]);

}  // namespace platform::common
