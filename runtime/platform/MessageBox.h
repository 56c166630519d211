#pragma once

/// \file
/// Message boxes: MessageBoxA and its flags.

#include <cstdint>
#include <string>
#include <vector>

#include "../Export.h"

namespace platform {

///@{

/// MessageBoxA type flags and answers, with their Windows values.
constexpr uint32_t MB_OK = 0x0;
constexpr uint32_t MB_OKCANCEL = 0x1;
constexpr uint32_t MB_YESNOCANCEL = 0x3;
constexpr uint32_t MB_YESNO = 0x4;
constexpr uint32_t MB_ICONERROR = 0x10;
constexpr uint32_t MB_ICONQUESTION = 0x20;
constexpr uint32_t MB_ICONWARNING = 0x30;
constexpr uint32_t MB_ICONINFORMATION = 0x40;
constexpr uint32_t MB_SERVICE_NOTIFICATION = 0x200000;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
///@}

/// A message box is answered by the hook when there is one. Otherwise a windowed Windows program shows the
/// system's box; everywhere else (no desktop here, or a console program such
/// as a server, a tool or a test) it is echoed as one line on standard error
/// (unless echo is off) and answered at once with the box's first button (OK
/// or Yes), so it never blocks a server or a test.
SHAREDLIB_API int MessageBoxA(void *owner, const char *text, const char *caption, uint32_t type);
/// Whether boxes answered without a desktop are echoed on standard error.
SHAREDLIB_API void SetMessageBoxEcho(bool echoToStandardError);

/// A function that answers message boxes in place of the display; returns the button pressed.
using MessageBoxHook = int (*)(const char *text, const char *caption, uint32_t type, void *context);
/// A hook sees every box before it is recorded and gives the answer itself.
SHAREDLIB_API void SetMessageBoxHook(MessageBoxHook hook, void *context);

}  // namespace platform
