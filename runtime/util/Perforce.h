#pragma once

#include "../Export.h"

/// \file
/// Source-control commands through the Perforce command-line client, tried at
/// each of the platform's locations in turn: on Windows
/// "C:\Program Files\Perforce\p4.exe" and then
/// "C:\Program Files (x86)\Perforce\p4.exe", elsewhere the p4 on the PATH.
/// The client's output goes into the log (spawnWithLoggedOutput); an exit code
/// of 0 is success. When every location fails, one error line names the
/// command and the file.

/// p4 edit "fileName": true when it succeeded.
SHAREDLIB_API bool PerforceCheckoutFile(char const *fileName);
/// p4 revert "fileName".
SHAREDLIB_API void PerforceRevertFile(char const *fileName);
/// p4 delete "fileName".
SHAREDLIB_API void PerforceDeleteFile(char const *fileName);
/// p4 add "fileName".
SHAREDLIB_API void PerforceAddFile(char const *fileName);
/// p4 add with the text as it comes (options, several names).
SHAREDLIB_API void PerforceAddFileNoQuotes(char const *arguments);
