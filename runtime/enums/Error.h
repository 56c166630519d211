#pragma once

/// \file
/// Result codes of game and system operations, shared by client and servers.
/// Every program that reports an Error can print its name and description.
/// Declares enum Error (Error_<Name> for each row of ErrorTable.inc, Error_Max last), the
/// arrays gError_Names and gError_Description and Error_ValueToName,
/// Error_ValueToDescription and Error_NameToValue; see EnumPattern.h.

#define SHAREDLIB_ENUM Error
#define SHAREDLIB_ENUM_TABLE "ErrorTable.inc"
#include "EnumPattern.h"
