#pragma once

/// \file
/// Log severities and the helpers that name and parse them.

#include <string>

#include "../Export.h"

/// How severe a log line is; a smaller value is more severe. A channel's level
/// is the most verbose severity it lets through, and 0 is never logged.
enum LogItemSeverityLevel : int {
    LogSev_None = 0,
    LogSev_Fatal = 1,
    LogSev_Assert = 2,
    LogSev_Error = 3,
    LogSev_Warning = 4,
    LogSev_Info = 5,
    LogSev_Detail = 6,
};

/// Bits of the logger's location mask: the targets a line may go to.
enum LogLocation : int {
    LogLocation_Debugger = 1,
    LogLocation_Console = 2,
    LogLocation_File = 4,
    LogLocation_DB = 8,
    LogLocation_Pipe = 16,
};

/// Console, DB and pipe callbacks: the text carries no date and no line end;
/// headerLength counts the characters the logger put in front of the caller's
/// text; logFileName is the key of the channel's log file ("" for the default).
using LogFunction = void (*)(LogItemSeverityLevel severity, int channel, char const *text, int headerLength,
                             char const *logFileName);

/// "info", "detail", "fatal", "assert", "warning", "error", "none" in any case;
/// anything else gives -1.
SHAREDLIB_API LogItemSeverityLevel LogSevNameToLevel(std::string const &name);
/// "Fatal" ... "Detail" for 1 to 6; "Error" for 0 and every other value.
SHAREDLIB_API std::string LogSevLevelToName(LogItemSeverityLevel level);
