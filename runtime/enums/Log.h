#pragma once

/// \file
/// The logger's channels: a channel is a Log value passed as int (Log_Generic is 0,
/// Log_Network 1, Log_RPC 2, Log_Connections 168).
/// Declares enum Log (Log_<Name> for each row of LogTable.inc, Log_Max last), the
/// arrays gLog_Names and gLog_Description and Log_ValueToName,
/// Log_ValueToDescription and Log_NameToValue; see EnumPattern.h.

#define SHAREDLIB_ENUM Log
#define SHAREDLIB_ENUM_TABLE "LogTable.inc"
#include "EnumPattern.h"
