// The last error of the calling thread as a log line.
#include "Conversions.h"

#include <cstdint>

#include "../enums/Log.h"
#include "../log/LogStatement.h"
#include "../platform/LastError.h"

void describeLastError(char const *what)
{
    uint32_t const code = platform::GetLastError();
    SHAREDLIB_LOG(LogSev_Error, Log_Generic, "%s: %s", what != nullptr ? what : "",
                  platform::FormatSystemMessage(code).c_str());
    // Writing the line may touch files; the caller still sees its own error.
    platform::SetLastError(code);
}
