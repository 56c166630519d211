#pragma once

#include <string>

#include "../Export.h"

namespace platform {

/// \file
/// The library speaks Windows paths. On Windows they are the system's own and
/// this map does nothing (a path is its own host path and Windows view).
/// Elsewhere each drive letter stands for a host directory (by default only
/// z:, which is "/"), backslashes become slashes, and a path component that
/// does not exist as written is looked up without regard to case, so
/// "c:\games\saltreach\data" still finds ".../Saltreach/Data".

/// Points a drive at a host directory; an empty directory unmaps the letter.
SHAREDLIB_API void MapDrive(char letter, std::string const &hostDirectory);
/// Back to the default map: z: is "/".
SHAREDLIB_API void ResetDriveMap();

/// The host path for a Windows path. Relative paths stay relative (to the
/// working directory); a path on an unmapped drive or a network path gives "".
SHAREDLIB_API std::string HostPath(char const *windowsPath);
/// The Windows view of an absolute host path: the drive whose directory holds
/// it most closely ("/srv/game" is "z:\srv\game").
SHAREDLIB_API std::string WindowsPath(std::string const &hostPath);

}  // namespace platform
