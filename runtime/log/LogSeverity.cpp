#include "LogSeverity.h"

#include <cstddef>

namespace {

bool equalsIgnoringCase(std::string const &a, char const *b)
{
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (x != y)
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

}  // namespace

LogItemSeverityLevel LogSevNameToLevel(std::string const &name)
{
    static const struct {
        char const *name;
        LogItemSeverityLevel level;
    } kNames[] = {
        {"info", LogSev_Info},     {"detail", LogSev_Detail}, {"fatal", LogSev_Fatal}, {"assert", LogSev_Assert},
        {"warning", LogSev_Warning}, {"error", LogSev_Error}, {"none", LogSev_None},
    };
    for (auto const &entry : kNames)
        if (equalsIgnoringCase(name, entry.name))
            return entry.level;
    return static_cast<LogItemSeverityLevel>(-1);
}

std::string LogSevLevelToName(LogItemSeverityLevel level)
{
    switch (level) {
    case LogSev_Fatal: return "Fatal";
    case LogSev_Assert: return "Assert";
    case LogSev_Warning: return "Warning";
    case LogSev_Info: return "Info";
    case LogSev_Detail: return "Detail";
    default: return "Error";
    }
}
