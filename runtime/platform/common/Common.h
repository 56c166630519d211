#pragma once

// What both backends of the platform layer share: the system's message
// texts, the Windows command-line rules and the arithmetic of an emulated
// display layout. Internal to the layer.

#include <cstdint>
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

}  // namespace platform::common
