#include "WindowsApi.h"

#include "../DriveMap.h"

// The library's Windows paths are this system's own paths: there is nothing
// to map, and a path's host form and Windows view are the path itself.
namespace platform {

void MapDrive(char, std::string const &) {}
void ResetDriveMap() {}

std::string HostPath(char const *windowsPath)
{
    return windowsPath != nullptr ? std::string(windowsPath) : std::string();
}

std::string WindowsPath(std::string const &hostPath) { return hostPath; }

}  // namespace platform
