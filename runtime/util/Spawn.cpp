#include "Spawn.h"

#include <cstdarg>
#include <cstring>
#include <string>

#include "../enums/Log.h"
#include "../log/LogStatement.h"
#include "../platform/ChildProcess.h"
#include "../platform/FileSystem.h"
#include "../platform/LastError.h"
#include "../progress/Progress.h"
#include "Conversions.h"

namespace {

constexpr uint32_t kChunk = 1000;
constexpr int32_t kPollMs = 100;
constexpr size_t kCommandLineSize = 32768;
constexpr size_t kWorkingDirectorySize = 260;  // _getcwd into MAX_PATH

// Logs whatever the pipe holds, at most kChunk bytes to a line.
void drainPipe(platform::ChildProcess &child)
{
    uint32_t waiting = 0;
    if (!child.BytesAvailable(waiting) || waiting == 0)
        return;
    char buffer[kChunk + 4];
    while (waiting > 0) {
        int32_t const got = child.Read(buffer, waiting < kChunk ? waiting : kChunk);
        if (got <= 0)
            return;
        buffer[got] = '\0';
        buffer[got + 1] = '\0';
        SHAREDLIB_DEBUGLOG(LogSev_Info, Log_Generic, "%s", buffer);
        waiting -= static_cast<uint32_t>(got) < waiting ? static_cast<uint32_t>(got) : waiting;
    }
}

// _getcwd up to 259 characters; a longer directory cannot be restored.
struct WorkingDirectory {
    WorkingDirectory()
    {
        std::string current;
        if (platform::GetWorkingDirectory(current) && current.size() < kWorkingDirectorySize)
            path = current;
    }
    void restore() const
    {
        if (!path.empty())
            platform::SetWorkingDirectory(path.c_str());
    }
    std::string path;
};

}  // namespace

int32_t spawnWithLoggedOutput(char const *program, char *commandLine)
{
    WorkingDirectory const directory;
    char const *line = commandLine != nullptr ? commandLine : "";
    SHAREDLIB_DEBUGLOG(LogSev_Info, Log_Generic, "%s", line);

    platform::ChildProcess child;
    if (!child.CreateOutputPipe()) {
        describeLastError("spawnWithLoggedOutput");
        return -1;
    }
    if (!child.Start(program, line)) {
        SHAREDLIB_DEBUGLOG(LogSev_Error, Log_Generic,
                           "spawnWithLoggedOutput: Failed to execute \"%s\" with command line \"%s\".",
                           program != nullptr ? program : "", line);
        directory.restore();
        return -1;
    }

    int32_t exitCode = platform::ChildProcess::kStillActive;
    {
        CProgress progress;
        for (;;) {
            platform::ChildProcess::WaitResult const result = child.Wait(kPollMs);
            if (result == platform::ChildProcess::WaitResult::Exited)
                break;
            if (result == platform::ChildProcess::WaitResult::Failed) {
                // No handle is named by a failed wait: WAIT_FAILED stands in.
                SHAREDLIB_DEBUGLOG(LogSev_Error, Log_Generic, "spawnWithLoggedOutput: Mutex 0x%x was abandoned.",
                                   0xFFFFFFFFu);
                break;
            }
            // Each pass moves the display a tenth; from the eleventh on the
            // window only pulses.
            progress.begin(0.1f);
            drainPipe(child);
            progress.end();
        }
        // What the child wrote before it ended; the pipe has no writer of
        // ours to flush.
        drainPipe(child);
        drainPipe(child);
        child.GetExitCode(exitCode);
        directory.restore();
    }
    return exitCode;
}

int32_t spawnWithLoggedOutputV(char const *program, ...)
{
    char buffer[kCommandLineSize];
    size_t length = 0;
    bool fits = true;
    va_list parts;
    va_start(parts, program);
    for (char const *part = va_arg(parts, char const *); part != nullptr; part = va_arg(parts, char const *)) {
        size_t const partLength = std::strlen(part);
        // The part, its space and the final zero must fit.
        if (partLength + 2 > sizeof buffer - length) {
            fits = false;
            break;
        }
        std::memcpy(buffer + length, part, partLength);
        length += partLength;
        buffer[length++] = ' ';
    }
    va_end(parts);
    buffer[length] = '\0';
    buffer[sizeof buffer - 1] = '\0';
    if (!fits) {
        platform::SetLastError(platform::ERROR_FILENAME_EXCED_RANGE);
        SHAREDLIB_DEBUGLOG(LogSev_Error, Log_Generic,
                           "spawnWithLoggedOutputV: The command line for \"%s\" is too long.",
                           program != nullptr ? program : "");
        return -1;
    }
    return spawnWithLoggedOutput(program, buffer);
}
