#pragma once

/// \file
/// Debugger output and the debugger-presence test.

#include "../Export.h"

namespace platform {

/// Text for an attached debugger (on Windows, the system's debugger output when
/// a debugger is attached), and for the sink when one has been installed;
/// otherwise it is discarded.
SHAREDLIB_API void OutputDebugStringA(const char *text);

/// A function that receives the text given to OutputDebugStringA.
using DebugOutputSink = void (*)(const char *text, void *context);
/// Installs a sink for debugger output (null restores discarding).
SHAREDLIB_API void SetDebugOutputSink(DebugOutputSink sink, void *context);
/// A ready-made sink that copies debugger output to standard error.
SHAREDLIB_API void DebugOutputToStandardError(const char *text, void *context);

}  // namespace platform
