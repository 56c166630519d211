#pragma once

/// \file
/// Simple game events sent to scripts and clients.
/// Declares enum Event (Event_<Name> for each row of EventTable.inc, Event_Max last), the
/// arrays gEvent_Names and gEvent_Description and Event_ValueToName,
/// Event_ValueToDescription and Event_NameToValue; see EnumPattern.h.

#define SHAREDLIB_ENUM Event
#define SHAREDLIB_ENUM_TABLE "EventTable.inc"
#include "EnumPattern.h"
