#include "../ChildProcess.h"

namespace platform {

// The client's standard install folders, the 64-bit one first.
std::vector<std::string> SourceControlClientLocations()
{
    return {"C:\\Program Files\\Perforce\\p4.exe", "C:\\Program Files (x86)\\Perforce\\p4.exe"};
}

}  // namespace platform
