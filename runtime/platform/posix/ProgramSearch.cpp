#include "ProgramSearch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "../ChildProcess.h"

namespace platform {
namespace posix {
namespace {

bool isExecutableFile(std::string const &path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string FindProgram(std::string const &name)
{
    if (name.empty())
        return std::string();
    if (name.find('/') != std::string::npos)
        return isExecutableFile(name) ? name : std::string();
    char const *path = std::getenv("PATH");
    std::string const directories = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        size_t const end = directories.find(':', start);
        // An empty entry is the working directory.
        bool const emptyEntry = end == start || start == directories.size();
        std::string candidate = emptyEntry ? std::string(".") : directories.substr(start, end - start);
        candidate += '/';
        candidate += name;
        if (isExecutableFile(candidate))
            return candidate;
        if (end == std::string::npos)
            return std::string();
        start = end + 1;
    }
}

}  // namespace posix

std::vector<std::string> SourceControlClientLocations()
{
    std::string const client = posix::FindProgram("p4");
    if (client.empty())
        return {};
    return {client};
}

}  // namespace platform
