#pragma once

/// \file
/// Running a child program with its output in the log.

#include <cstdint>

#include "../Export.h"

/// Runs a program without a window and writes everything it prints (standard
/// output and standard error, through one pipe) into the process log, chunk by
/// chunk, while the progress display keeps moving. Blocks until the child has
/// ended and returns its exit code, or -1 when it cannot be started. The
/// working directory is the same afterwards. One thread at a time.
SHAREDLIB_API int32_t spawnWithLoggedOutput(char const *program, char *commandLine);

/// The same with the command line given in parts, ended by a null pointer:
/// each part is followed by one space. A command line of 32768 bytes or more
/// is refused (-1, nothing started).
SHAREDLIB_API int32_t spawnWithLoggedOutputV(char const *program, ...)
#if defined(__GNUC__)
    __attribute__((sentinel))
#endif
    ;
