#pragma once

/// \file
/// Message type numbers of the messages that client and servers exchange. The
/// numbers are part of the wire format and never change.
/// Declares enum Msg (Msg_<Name> for each row of MsgTable.inc, Msg_Max last), the
/// arrays gMsg_Names and gMsg_Description and Msg_ValueToName,
/// Msg_ValueToDescription and Msg_NameToValue; see EnumPattern.h.

#define SHAREDLIB_ENUM Msg
#define SHAREDLIB_ENUM_TABLE "MsgTable.inc"
#include "EnumPattern.h"
