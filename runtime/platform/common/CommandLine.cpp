#include "Common.h"

namespace platform::common {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The program's file name is its own argument: quotes group, backslashes
// are literal.
char const *splitProgramName(char const *p, std::string &name)
{
    bool quoted = false;
    while (*p != '\0' && (quoted || !isBlank(*p))) {
        if (*p == '"')
            quoted = !quoted;
        else
            name += *p;
        ++p;
    }
    return p;
}

char const *splitArgument(char const *p, std::string &argument)
{
    bool quoted = false;
    for (;;) {
        size_t backslashes = 0;
        while (*p == '\\') {
            ++backslashes;
            ++p;
        }
        if (*p == '"') {
            argument.append(backslashes / 2, '\\');
            if (backslashes % 2 == 1) {
                argument += '"';
            } else if (quoted && p[1] == '"') {
                argument += '"';
                ++p;
            } else {
                quoted = !quoted;
            }
            ++p;
            continue;
        }
        argument.append(backslashes, '\\');
        if (*p == '\0' || (!quoted && isBlank(*p)))
            return p;
        argument += *p++;
    }
}

}  // namespace

std::vector<std::string> SplitWindowsCommandLine(char const *commandLine)
{
    std::vector<std::string> arguments;
    if (commandLine == nullptr)
        return arguments;
    char const *p = commandLine;
    while (isBlank(*p))
        ++p;
    if (*p == '\0')
        return arguments;
    arguments.emplace_back();
    p = splitProgramName(p, arguments.back());
    for (;;) {
        while (isBlank(*p))
            ++p;
        if (*p == '\0')
            return arguments;
        arguments.emplace_back();
        p = splitArgument(p, arguments.back());
    }
}

}  // namespace platform::common
