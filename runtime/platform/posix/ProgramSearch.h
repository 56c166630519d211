#pragma once

// Finding programs the way a shell does. Internal to the POSIX backend.

#include <string>

namespace platform::posix {

// A name with a slash names its file; any other name is looked for in the
// directories of the PATH, in order. The executable file found, or "".
std::string FindProgram(std::string const &name);

}  // namespace platform::posix
