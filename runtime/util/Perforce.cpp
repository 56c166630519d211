#include "Perforce.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../enums/Log.h"
#include "../log/LogStatement.h"
#include "../platform/ChildProcess.h"
#include "Spawn.h"

namespace {

constexpr size_t kQuotedSize = 2048;

// Runs "p4 <command> <argument> " with each of the platform's clients in turn
// until one gives 0.
bool runClient(char const *command, char const *argument)
{
    std::vector<std::string> const clients = platform::SourceControlClientLocations();
    if (clients.empty())
        errno = ENOENT;
    for (std::string const &client : clients)
        if (spawnWithLoggedOutputV(client.c_str(), "p4", command, argument, static_cast<char const *>(nullptr)) == 0)
            return true;
    return false;
}

// The file name in double quotes; a name that does not fit is refused.
bool quote(char const *fileName, char (&quoted)[kQuotedSize])
{
    int const length = std::snprintf(quoted, sizeof quoted, "\"%s\"", fileName);
    if (length < 0 || static_cast<size_t>(length) >= sizeof quoted) {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

bool runQuoted(char const *command, char const *fileName)
{
    if (fileName == nullptr)
        fileName = "";
    char quoted[kQuotedSize];
    bool const succeeded = quote(fileName, quoted) && runClient(command, quoted);
    if (!succeeded)
        SHAREDLIB_DEBUGLOG(LogSev_Error, Log_Generic, "Failed to run 'p4 %s %s': %s", command, fileName,
                           std::strerror(errno));
    return succeeded;
}

}  // namespace

bool PerforceCheckoutFile(char const *fileName)
{
    return runQuoted("edit", fileName);
}

void PerforceRevertFile(char const *fileName)
{
    runQuoted("revert", fileName);
}

void PerforceDeleteFile(char const *fileName)
{
    runQuoted("delete", fileName);
}

void PerforceAddFile(char const *fileName)
{
    runQuoted("add", fileName);
}

void PerforceAddFileNoQuotes(char const *arguments)
{
    if (arguments == nullptr)
        arguments = "";
    if (!runClient("add", arguments))
        SHAREDLIB_DEBUGLOG(LogSev_Error, Log_Generic, "Failed to run 'p4 add %s': %s", arguments,
                           std::strerror(errno));
}
